// kvtool picture end to end: generated pictures in, PNG out, read back by the
// library and compared with decoding the input directly; and the exit codes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "imaging/metafile.h"
#include "imaging/picture_codec.h"
#include "tests/imaging/metafile_bytes.h"
#include "tests/imaging/pixels.h"

namespace kv::imaging {
namespace {

namespace fs = std::filesystem;

int RunTool(const std::string& args) {
  const int status = std::system((std::string(KVTOOL_PATH) + " picture " + args + " 2>/dev/null").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class PictureTool : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("kv_picture_tool_" + std::to_string(::getpid()));
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  fs::path dir;
};

TEST_F(PictureTool, WritesThePixelsTheLibraryReads) {
  for (const char* name : {"bmp_rle8.bmp", "gif_interlaced.gif", "tga_mirror_top.tga", "png_rgba.png"}) {
    const std::string in = std::string(KV_PICTURES_DIR) + "/" + name;
    const std::string out = (dir / (std::string(name) + ".png")).string();
    ASSERT_EQ(RunTool(in + " -o " + out), 0) << name;
    Picture direct, png;
    ASSERT_TRUE(DecodeFile(in, direct)) << name;
    ASSERT_TRUE(DecodeFile(out, png)) << name;
    EXPECT_EQ(test::Rgb(png), test::Rgb(direct)) << name;
  }
}

#ifdef KV_HAVE_METAFILES
TEST_F(PictureTool, DrawsAMetafileAtItsOwnSize) {
  // A placeable WMF with the box (0,0)-(48,24) at 96 units an inch: 48 x 24 pixels; one rectangle
  // (bottom 20, right 40, top 4, left 8) in the default pen and brush.
  const test::Bytes wmf = test::Wmf({test::WmfRecord(0x041B, {20, 40, 4, 8})}, 0, 0, 48, 24);
  const fs::path in = dir / "drawing.wmf";
  std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char*>(wmf.data()), std::streamsize(wmf.size()));
  const std::string out = (dir / "drawing.png").string();
  ASSERT_EQ(RunTool(in.string() + " -o " + out), 0);
  Picture png, direct;
  ASSERT_TRUE(DecodeFile(out, png));
  ASSERT_TRUE(RenderMetafile(wmf, MetafileType::kWmf, direct));
  EXPECT_EQ(png.pixels.width, 48);
  EXPECT_EQ(png.pixels.height, 24);
  EXPECT_EQ(test::Rgb(png), test::Rgb(direct));
}
#endif

TEST_F(PictureTool, ExitCodesNameTheFailure) {
  const std::string out = (dir / "out.png").string();
  std::ofstream(dir / "junk.pcx") << "not a picture at all";
  std::ofstream(dir / "drawing.wmf") << "metafile";
  struct Case {
    std::string args;
    int code;
  };
  const Case cases[] = {
      {(dir / "missing.bmp").string() + " -o " + out, 1},
      {(dir / "junk.pcx").string() + " -o " + out, 2},
      {(dir / "drawing.wmf").string() + " -o " + out, 2},
      {std::string(KV_PICTURES_DIR) + "/bmp_24.bmp -o " + (dir / "no/dir/out.png").string(), 3},
      {std::string(KV_PICTURES_DIR) + "/bmp_24.bmp", 64},
  };
  for (const Case& c : cases) EXPECT_EQ(RunTool(c.args), c.code) << c.args;
  EXPECT_FALSE(fs::exists(out));
}

}  // namespace
}  // namespace kv::imaging
