#include "net/progress_model.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

struct BarCase {
  uint32_t total;
  uint32_t done;
  bool scaled;
  uint32_t range;
  uint32_t position;
};

class ProgressBar : public ::testing::TestWithParam<BarCase> {};

// Up to 10000 bytes the bar counts bytes; past it, whole KiB (rounded down).
TEST_P(ProgressBar, CountsBytesOrKibibytes) {
  const BarCase& c = GetParam();
  ProgressModel m;
  m.SetPlaying(true);
  ASSERT_TRUE(m.Start());
  m.SetTotal(c.total);
  m.SetText("Received%s", c.done);
  EXPECT_EQ(m.scaled(), c.scaled);
  EXPECT_EQ(m.range(), c.range);
  EXPECT_EQ(m.position(), c.position);
}

INSTANTIATE_TEST_SUITE_P(Totals, ProgressBar,
                         ::testing::Values(BarCase{10000, 9999, false, 10000, 9999},
                                           BarCase{10001, 9999, true, 9, 9},
                                           BarCase{10001, 10001, true, 9, 9},
                                           BarCase{1 << 20, 3000, true, 1024, 2},
                                           BarCase{0, 500, false, 0, 500}));

TEST(ProgressModel, HiddenByTheUserStaysHiddenForLaterDownloads) {
  ProgressModel m;
  m.SetPlaying(true);
  EXPECT_TRUE(m.Start());
  EXPECT_TRUE(m.up());
  m.HideForGood();
  EXPECT_FALSE(m.up());
  m.End();
  EXPECT_FALSE(m.Start());
  m.SetTotal(100);
  m.SetText("x%s", 50);
  EXPECT_FALSE(m.up());
  // The model still follows the download, for a panel that is never shown.
  EXPECT_EQ(m.position(), 50u);
}

TEST(ProgressModel, NothingComesUpOrChangesOutsideAPlay) {
  ProgressModel m;
  EXPECT_FALSE(m.Start());
  EXPECT_FALSE(m.up());
  m.SetTotal(20000);
  m.SetText("Received 5 bytes%s of /a", 5);
  EXPECT_EQ(m.total(), 20000u);  // the total is kept; the bar is not touched
  EXPECT_FALSE(m.scaled());
  EXPECT_EQ(m.position(), 0u);
  EXPECT_EQ(m.text(), "");
}

TEST(ProgressModel, APanelLeftAfterPlayEndedKeepsWhatItShowed) {
  ProgressModel m;
  m.SetPlaying(true);
  m.Start();
  m.SetTotal(100);
  m.SetText("Received 40 bytes%s of /a", 40);
  m.SetPlaying(false);
  m.SetText("Received 80 bytes%s of /a", 80);
  EXPECT_EQ(m.position(), 40u);
  EXPECT_EQ(m.text(), "Received 40 bytes of /a");
  EXPECT_TRUE(m.up());
}

struct TextCase {
  const char* in;
  const char* out;
};

class ProgressText : public ::testing::TestWithParam<TextCase> {};

// Only the one place is filled; the text is never used as a format.
TEST_P(ProgressText, FillsTheOnePlaceWithNothing) {
  EXPECT_EQ(FillProgressText(GetParam().in), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(Texts, ProgressText,
                         ::testing::Values(TextCase{"Received 12 bytes%s of /x", "Received 12 bytes of /x"},
                                           TextCase{"Received 1 bytes%s of /a%s%n%d", "Received 1 bytes of /a%s%n%d"},
                                           TextCase{"Connecting to host, port 80...", "Connecting to host, port 80..."},
                                           TextCase{"100%", "100%"}, TextCase{"", ""}));

}  // namespace
}  // namespace kv
