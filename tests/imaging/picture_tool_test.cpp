// kvtool picture end to end: generated pictures in, PNG out, read back by the
// library and compared with decoding the input directly; and the exit codes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "imaging/picture_codec.h"
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
      {(dir / "drawing.wmf").string() + " -o " + out, 3},
      {std::string(KV_PICTURES_DIR) + "/bmp_24.bmp -o " + (dir / "no/dir/out.png").string(), 3},
      {std::string(KV_PICTURES_DIR) + "/bmp_24.bmp", 64},
  };
  for (const Case& c : cases) EXPECT_EQ(RunTool(c.args), c.code) << c.args;
  EXPECT_FALSE(fs::exists(out));
}

}  // namespace
}  // namespace kv::imaging
