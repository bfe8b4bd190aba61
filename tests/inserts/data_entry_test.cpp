// The entry field's bounds: numbers where both texts are whole decimal
// numbers and the mask type allows it, byte-wise otherwise.
#include <gtest/gtest.h>

#include "inserts/data_entry.h"

namespace kv {
namespace {

struct BoundCase {
  uint8_t maskType;
  const char* value;
  const char* bound;
  int order;
};

class EntryBounds : public ::testing::TestWithParam<BoundCase> {};

TEST_P(EntryBounds, Compare) {
  const BoundCase& c = GetParam();
  EXPECT_EQ(CDataEntry::CompareWithBound(c.maskType, c.value, c.bound), c.order)
      << int(c.maskType) << " \"" << c.value << "\" ~ \"" << c.bound << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    Table, EntryBounds,
    ::testing::Values(
        // As numbers: "123456" (from "$1234.56") above 1000, though it sorts below as text.
        BoundCase{2, "123456", "1000", 1}, BoundCase{0, "123", "1000", -1}, BoundCase{1, "900", "1000", -1},
        BoundCase{0, "1e3", "999", 1}, BoundCase{1, "-5", "-10", 1}, BoundCase{0, "0010", "10", 0},
        BoundCase{0, "2.50", "2.5", 0},
        // Not whole numbers: byte-wise.
        BoundCase{0, "12a", "1000", 1}, BoundCase{0, "", "5", -1}, BoundCase{0, " 5", "10", -1},
        BoundCase{0, "abc", "abd", -1},
        // Mask types 3 and 4 always compare as text.
        BoundCase{3, "930", "1000", 1}, BoundCase{4, "0101", "0101", 0}, BoundCase{3, "0930", "1000", -1}));

}  // namespace
}  // namespace kv
