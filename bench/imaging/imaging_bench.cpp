// Decoding speed of the picture library against Qt's own readers on the same
// bytes (BMP, TGA; Qt has no PCX reader, so PCX stands beside our BMP of the
// same picture) and JPEG against libjpeg-turbo's djpeg on the same file.
// Compare CPU times: the machine is shared.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QBuffer>
#include <QGuiApplication>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "imaging/metafile.h"
#include "imaging/picture_codec.h"
#include "tests/imaging/metafile_bytes.h"

extern char** environ;

namespace kv::imaging {
namespace {

constexpr int kWidth = 1920, kHeight = 1080;

// A photo-like picture: smooth gradients with some texture, so run-length
// and JPEG data are of a realistic size.
DecodedPicture Photo(int bits) {
  DecodedPicture pic;
  pic.width = kWidth;
  pic.height = kHeight;
  pic.bitsPerPixel = bits;
  pic.stride = ptrdiff_t((kWidth * bits + 31) / 32 * 4);
  pic.bits.resize(size_t(pic.stride) * kHeight);
  for (int i = 0; i < 256 && bits == 8; ++i) pic.colorTable.push_back(ColorRef::FromRgb(uint8_t(i), uint8_t(i / 2), uint8_t(255 - i)));
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      uint8_t* p = &pic.bits[size_t(y) * size_t(pic.stride) + size_t(x * bits / 8)];
      const int texture = ((x * 13) ^ (y * 7)) & 15;
      if (bits == 8) {
        p[0] = uint8_t((x / 8 + y / 16) & 0xFF);
      } else {
        p[0] = uint8_t(x * 255 / kWidth + texture);
        p[1] = uint8_t(y * 255 / kHeight);
        p[2] = uint8_t((x + y) / 12 + texture);
      }
    }
  return pic;
}

const std::vector<uint8_t>& Encoded(FileType type, int bits) {
  static std::vector<uint8_t> cache[8][33];
  std::vector<uint8_t>& bytes = cache[int(type)][bits];
  if (bytes.empty()) {
    EncodeOptions options;
    options.jpegQuality = 90;
    if (!Encode(Photo(bits).View(), type, bytes, options)) std::abort();
  }
  return bytes;
}

void Ours(benchmark::State& state, FileType type, int bits) {
  const std::vector<uint8_t>& bytes = Encoded(type, bits);
  for (auto _ : state) {
    Picture pic;
    if (!Decode(bytes, type, pic)) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(pic.pixels.bits.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kWidth * kHeight);
}

void Qt(benchmark::State& state, FileType type, int bits, const char* format) {
  const std::vector<uint8_t>& bytes = Encoded(type, bits);
  const QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
  for (auto _ : state) {
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    const QImage image = reader.read();
    if (image.isNull()) state.SkipWithError("Qt could not read the picture");
    benchmark::DoNotOptimize(image.constBits());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kWidth * kHeight);
}

BENCHMARK_CAPTURE(Ours, bmp24, FileType::kBmp, 24)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Qt, bmp24, FileType::kBmp, 24, "bmp")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Ours, bmp8, FileType::kBmp, 8)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Qt, bmp8, FileType::kBmp, 8, "bmp")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Ours, tga24, FileType::kTga, 24)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Qt, tga24, FileType::kTga, 24, "tga")->Unit(benchmark::kMillisecond);
// Qt reads no colour-mapped TGA, so 8 bits have no baseline.
BENCHMARK_CAPTURE(Ours, tga8, FileType::kTga, 8)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Ours, pcx24, FileType::kPcx, 24)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Ours, pcx8, FileType::kPcx, 8)->Unit(benchmark::kMillisecond);

// JPEG: the whole file from disk to pixels, ours in process, djpeg as the
// program it is (its start-up is a small part of a picture this size). Both
// are timed in CPU seconds (djpeg's from its rusage), so that other work on
// a shared machine does not count.
std::string JpegFile() {
  static std::string path;
  if (path.empty()) {
    path = "/tmp/kv_imaging_bench_" + std::to_string(::getpid()) + ".jpg";
    const std::vector<uint8_t>& bytes = Encoded(FileType::kJpeg, 24);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }
  return path;
}

double ProcessSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double ChildSeconds() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

void OursJpegFile(benchmark::State& state) {
  const std::string path = JpegFile();
  for (auto _ : state) {
    const double start = ProcessSeconds();
    Picture pic;
    if (!DecodeFile(path, pic)) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(pic.pixels.bits.data());
    state.SetIterationTime(ProcessSeconds() - start);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kWidth * kHeight);
}
BENCHMARK(OursJpegFile)->Unit(benchmark::kMillisecond)->UseManualTime();

void Djpeg(benchmark::State& state) {
  const std::string path = JpegFile();
  std::string program = "djpeg", outfile = "-outfile", devnull = "/dev/null";
  char* argv[] = {program.data(), outfile.data(), devnull.data(), const_cast<char*>(path.c_str()), nullptr};
  for (auto _ : state) {
    const double start = ChildSeconds();
    pid_t pid = 0;
    int status = 0;
    if (posix_spawnp(&pid, "djpeg", nullptr, nullptr, argv, environ) != 0 || waitpid(pid, &status, 0) != pid ||
        status != 0) {
      state.SkipWithError("djpeg did not run");
      break;
    }
    state.SetIterationTime(ChildSeconds() - start);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kWidth * kHeight);
}
BENCHMARK(Djpeg)->Unit(benchmark::kMillisecond)->UseManualTime();

// Metafiles: Qt reads none, so the figure is records a second, with Qt
// reading the same picture as a BMP beside it as the raster it stands for
// (both players draw at 1920 x 1080).
// A drawing of 1920 x 1080: 4000 records of rectangles, ellipses, polygons,
// lines and short texts in changing pens and brushes.
constexpr int kShapes = 500;

test::Bytes DrawingWmf() {
  using test::WmfRecord;
  test::Bytes records;
  // A font (slot 0) and, per shape, a brush and a pen made, selected and deleted again.
  test::Append(records, WmfRecord(0x02FB, {-18, 0, 0, 0, 400, 0, 0, 0, 0}, test::Bytes{'A', 'r', 'i', 'a', 'l', 0}));
  test::Append(records, WmfRecord(0x012D, {0}));
  for (int i = 0; i < kShapes; ++i) {
    const int x = (i * 37) % 1800, y = (i * 53) % 1000;
    test::Append(records, WmfRecord(0x02FC, {0, (i * 40) & 0xFFFF, i & 0xFF, 0}));
    test::Append(records, WmfRecord(0x02FA, {0, 1 + i % 3, 0, (i * 90) & 0xFFFF, 0}));
    test::Append(records, WmfRecord(0x012D, {1}));
    test::Append(records, WmfRecord(0x012D, {2}));
    test::Append(records, WmfRecord(0x041B, {y + 60, x + 100, y, x}));
    test::Append(records, WmfRecord(0x0418, {y + 80, x + 120, y + 10, x + 30}));
    test::Append(records, WmfRecord(0x0324, {4, x, y, x + 90, y + 20, x + 60, y + 75, x + 5, y + 50}));
    test::Append(records, WmfRecord(0x0521, {4, 'S' | 'h' << 8, 'a' | 'p' << 8, y + 30, x + 10}));
    test::Append(records, WmfRecord(0x01F0, {1}));
    test::Append(records, WmfRecord(0x01F0, {2}));
  }
  test::Bytes file = test::Wmf({records}, 0, 0, 1920, 1080);
  return file;
}

void EnsureApplication() {
  static int argc = 1;
  static char name[] = "imaging_bench";
  static char* argv[] = {name, nullptr};
  static QGuiApplication* app = QGuiApplication::instance() ? nullptr : new QGuiApplication(argc, argv);
  (void)app;
}

void OursWmf(benchmark::State& state) {
  EnsureApplication();
  const test::Bytes file = DrawingWmf();
  for (auto _ : state) {
    Picture pic;
    if (!RenderMetafile(file, MetafileType::kWmf, pic)) state.SkipWithError("play failed");
    benchmark::DoNotOptimize(pic.pixels.bits.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kShapes * 10);
}
BENCHMARK(OursWmf)->Unit(benchmark::kMillisecond);

// The same shapes as an EMF (no text: the figure is the shapes' records):
// per shape a brush and a pen made, selected and deleted, a rectangle, an
// ellipse and a four-point POLYGON16. The frame of 192 x 108 mm is 1920 x
// 1080 pixels of the reference device (10 a millimetre), drawn at 1920 x 1080.
test::Bytes DrawingEmf() {
  using test::EmfRecord;
  test::Bytes records;
  for (int i = 0; i < kShapes; ++i) {
    const int x = (i * 37) % 1800, y = (i * 53) % 1000;
    test::Append(records, EmfRecord(39, {1, 0, (i * 40) & 0xFFFFFF, 0}));       // CREATEBRUSHINDIRECT slot 1
    test::Append(records, EmfRecord(38, {2, 0, 1 + i % 3, 0, (i * 90) & 0xFFFFFF}));  // CREATEPEN slot 2
    test::Append(records, EmfRecord(37, {1}));                                    // SELECTOBJECT
    test::Append(records, EmfRecord(37, {2}));
    test::Append(records, EmfRecord(43, {x, y, x + 100, y + 60}));                // RECTANGLE
    test::Append(records, EmfRecord(42, {x + 30, y + 10, x + 120, y + 80}));      // ELLIPSE
    test::Bytes points;                                                           // POLYGON16: bounds, count, points
    for (int v : {x, y, x + 90, y + 20, x + 60, y + 75, x + 5, y + 50}) test::Put16(points, v);
    test::Append(records, EmfRecord(86, {x, y, x + 90, y + 75, 4}, points));
    test::Append(records, EmfRecord(40, {1}));                                    // DELETEOBJECT
    test::Append(records, EmfRecord(40, {2}));
  }
  return test::Emf({records}, 19200, 10800);
}

void OursEmf(benchmark::State& state) {
  EnsureApplication();
  const test::Bytes file = DrawingEmf();
  MetafileOptions options;
  options.width = kWidth;
  options.height = kHeight;
  for (auto _ : state) {
    Picture pic;
    if (!RenderMetafile(file, MetafileType::kEmf, pic, options)) state.SkipWithError("play failed");
    if (pic.pixels.width != kWidth || pic.pixels.height != kHeight) state.SkipWithError("not drawn at 1920 x 1080");
    benchmark::DoNotOptimize(pic.pixels.bits.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kShapes * 9);
}
BENCHMARK(OursEmf)->Unit(benchmark::kMillisecond);

void QtReadsTheDrawingAsBmp(benchmark::State& state) {
  EnsureApplication();
  Picture pic;
  std::vector<uint8_t> bmp;
  if (!RenderMetafile(DrawingWmf(), MetafileType::kWmf, pic) || !Encode(pic.pixels.View(), FileType::kBmp, bmp)) {
    state.SkipWithError("no drawing");
    return;
  }
  const QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(bmp.data()), qsizetype(bmp.size()));
  for (auto _ : state) {
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "bmp");
    const QImage image = reader.read();
    if (image.isNull()) state.SkipWithError("Qt could not read the picture");
    benchmark::DoNotOptimize(image.constBits());
  }
}
BENCHMARK(QtReadsTheDrawingAsBmp)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kv::imaging

BENCHMARK_MAIN();
