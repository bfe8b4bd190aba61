// Format with the numeric and string formats scripts use.
#include <gtest/gtest.h>

#include "orlan/runtime.h"

namespace kv::orlan {
namespace {

struct F {
  double value;
  const char* format;
  const char* out;
};

TEST(Format, Numbers) {
  const F cases[] = {
      {1234.567, "0.00", "1234.57"},
      {1234.567, "#,##0.00", "1,234.57"},
      {0.5, "0", "1"},  // Format rounds half away from zero
      {2.5, "0", "3"},
      {-2.5, "0", "-3"},
      {5, "000", "005"},
      {0.25, "0%", "25%"},
      {0.125, "0.0%", "12.5%"},
      {0.5, "#.##", ".5"},
      {5, "#.##", "5."},
      {1234567, "#,##0", "1,234,567"},
      {-1234.5, "#,##0.00;(#,##0.00)", "(1,234.50)"},
      {0, "0.0;(0.0);\"zero\"", "zero"},
      {12345, "0.00E+00", "1.23E+04"},
      {0.00012, "0.0E-00", "1.2E-04"},
      {42, "\"n=\"0", "n=42"},
      {1234.5, "Fixed", "1234.50"},
      {1234.5, "Standard", "1,234.50"},
      {0.256, "Percent", "25.60%"},
      {-3.5, "Currency", "($3.50)"},
      {1, "Yes/No", "Yes"},
      {0, "True/False", "False"},
      {1.5, "General Number", "1.5"},
      {-0.004, "0.00", "0.00"},
  };
  for (const F& c : cases) EXPECT_EQ(FormatValue(Value::Dbl(c.value), c.format), c.out) << c.value << " " << c.format;
}

TEST(Format, StringsAndDefaults) {
  EXPECT_EQ(FormatValue(Value::Str("abc"), ">"), "ABC");
  EXPECT_EQ(FormatValue(Value::Str("ABC"), "<"), "abc");
  EXPECT_EQ(FormatValue(Value::Str("ab"), "@@@@"), "  ab");
  EXPECT_EQ(FormatValue(Value::Str("abcd"), "@@-@@"), "ab-cd");
  EXPECT_EQ(FormatValue(Value::Lng(42), ""), "42");
  EXPECT_EQ(FormatValue(Value::Str("3.14159"), "0.00"), "3.14");
  EXPECT_EQ(FormatValue(Value::Bool(true), ""), "True");
}

}  // namespace
}  // namespace kv::orlan
