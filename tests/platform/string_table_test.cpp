#include "platform/string_table.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

TEST(StringTable, KnownAndUnknownIds) {
  EXPECT_STREQ(LoadString(sid::kAppName), "Korvel");
  EXPECT_STREQ(LoadString(8002), "Unable to locate Korvel script");
  EXPECT_STREQ(LoadString(61879), "%1 contains an incorrect schema.");
  EXPECT_STREQ(LoadString(1), "");
  EXPECT_STREQ(LoadString(4000000000u), "");
}

TEST(StringTable, FormatFillsOnePlaceholder) {
  EXPECT_EQ(FormatString(6177, "a.kvp").substr(0, 55), "The file 'a.kvp' could not be processed because it is a");
  EXPECT_EQ(FormatString(7014, "x"), "Unable to locate project script");
}

}  // namespace
}  // namespace kv
