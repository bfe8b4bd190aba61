#include "platform/clipboard.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

ClipboardBitmap OnePixel(uint32_t rgb) { return {1, 1, {rgb}}; }

// What a clipboard holds after a sequence of puts: each put replaces all.
struct PutCase {
  const char* label;
  bool pictureFirst;  // picture then text, or text then picture
  bool withMetafile;
  bool textLast;
};

class MemoryClipboardTest : public ::testing::TestWithParam<PutCase> {};

TEST_P(MemoryClipboardTest, EachPutReplacesEverythingBefore) {
  const PutCase& c = GetParam();
  MemoryClipboard clipboard;
  auto putPicture = [&] { clipboard.PutPicture(OnePixel(0x123456), c.withMetafile ? "EMF bytes" : ""); };
  if (c.pictureFirst) {
    putPicture();
    clipboard.PutText("caf\xE9");
  } else {
    clipboard.PutText("caf\xE9");
    putPicture();
  }
  if (c.textLast) {
    EXPECT_EQ(clipboard.GetText(), std::optional<std::string>("caf\xE9"));
    EXPECT_FALSE(clipboard.GetBitmap());
    EXPECT_FALSE(clipboard.GetMetafile());
    return;
  }
  EXPECT_FALSE(clipboard.GetText());
  auto bitmap = clipboard.GetBitmap();
  ASSERT_TRUE(bitmap);
  EXPECT_EQ(bitmap->pixels, std::vector<uint32_t>{0x123456});
  EXPECT_EQ(clipboard.GetMetafile().has_value(), c.withMetafile);
}

INSTANTIATE_TEST_SUITE_P(Orders, MemoryClipboardTest,
                         ::testing::Values(PutCase{"picture, text", true, false, true},
                                           PutCase{"metafile picture, text", true, true, true},
                                           PutCase{"text, picture", false, false, false},
                                           PutCase{"text, metafile picture", false, true, false}));

TEST(MemoryClipboardTest, StartsEmptyAndInstancesShareNothing) {
  MemoryClipboard first, second;
  EXPECT_FALSE(first.GetBitmap());
  EXPECT_FALSE(first.GetMetafile());
  EXPECT_FALSE(first.GetText());
  first.PutPicture(OnePixel(0xFF0000), "EMF");
  EXPECT_FALSE(second.GetBitmap());
  EXPECT_FALSE(second.GetMetafile());
}

TEST(MemoryClipboardTest, ABitmapWhosePixelsDoNotFillItIsNotKept) {
  MemoryClipboard clipboard;
  clipboard.PutPicture(ClipboardBitmap{2, 2, {1, 2, 3}}, "EMF");
  EXPECT_FALSE(clipboard.GetBitmap());
  EXPECT_EQ(clipboard.GetMetafile(), std::optional<std::string>("EMF"));
}

}  // namespace
}  // namespace kv
