#include "stage/png.h"

#include <png.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace kv {

namespace {
struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
}  // namespace

bool WritePng(const PixelBuffer& picture, const std::string& path, std::string* error) {
  auto fail = [error](const char* why) {
    if (error) *error = why;
    return false;
  };
  if (picture.IsNull()) return fail("empty picture");
  std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
  if (!file) return fail("cannot create the PNG file");
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return fail("libpng could not start");
  png_infop info = png_create_info_struct(png);
  std::vector<uint8_t> row(size_t(picture.Width()) * 3);
  // libpng reports errors by longjmp; nothing with a destructor is created
  // between here and the end of the writing.
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return fail("libpng failed while writing");
  }
  png_init_io(png, file.get());
  png_set_IHDR(png, info, png_uint_32(picture.Width()), png_uint_32(picture.Height()), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < picture.Height(); ++y) {
    for (int x = 0; x < picture.Width(); ++x) {
      const ColorRef c = picture.GetPixel(x, y);
      row[3 * x] = c.Red();
      row[3 * x + 1] = c.Green();
      row[3 * x + 2] = c.Blue();
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  if (std::fflush(file.get()) != 0) return fail("cannot write the PNG file");
  return true;
}

}  // namespace kv
