// Dates through scripts: literals, the Date type, the date functions, date
// arithmetic and Format, each run optimised and plain under a fixed clock.
// Serials are derived by hand: 1 January 2000 is day 36526 (the well-known
// base); 9 December 2026 is 36526 + 9497 (26 years with 7 leap days) + 342
// (334 days of January to November, then 8) = 46365.
#include <gtest/gtest.h>

#include <ctime>

#include "orlan/dates.h"
#include "orlan/lexer.h"
#include "tests/orlan/script_runner.h"

namespace kv::orlan::testing {
namespace {

// 9 December 2026, 14:05:30 (50730 seconds into the day).
constexpr double kFixedNow = 46365.0 + 50730.0 / 86400.0;

struct DateCase {
  const char* source;   // a whole Main body; a bare expression is printed
  const char* printed;  // expected output, without the last line end
  int error = 0;
  uint32_t line = 0;
};

std::string Body(const char* source) {
  std::string s = source;
  if (s.find('\n') == std::string::npos && s.rfind("Dim", 0) != 0 && s.rfind("Print", 0) != 0) s = "Print " + s;
  return "Sub Main()\n" + s + "\nEnd Sub\n";
}

class Dates : public ::testing::TestWithParam<DateCase> {};

TEST_P(Dates, Evaluate) {
  const DateCase& c = GetParam();
  std::string expected = c.printed;
  if (!expected.empty()) expected += "\n";
  for (bool optimize : {true, false}) {
    SCOPED_TRACE(optimize ? "optimised" : "plain");
    RunOutcome r = RunProgram(Body(c.source), "Main", CompileOptions{optimize}, [] { return kFixedNow; });
    for (const auto& e : r.compileErrors) ADD_FAILURE() << "compile error line " << e.line << ": " << e.message;
    EXPECT_EQ(r.output, expected);
    EXPECT_EQ(r.error, c.error) << r.errorText;
    if (c.error > 0) {
      EXPECT_EQ(r.line, c.line);
    }
  }
}

const DateCase kLiterals[] = {
    {"#1/2/2003#", "1/2/2003"},
    {"#1/2/2003 10:30#", "1/2/2003 10:30:00 AM"},
    {"#2003-01-02 22:05:09#", "1/2/2003 10:05:09 PM"},
    {"#10:30 PM#", "10:30:00 PM"},
    {"#12:00 AM#", "12:00:00 AM"},
    {"#January 2, 2003#", "1/2/2003"},
    {"#1/2/99#", "1/2/1999"},
    {"CDbl(#1/1/2000#)", "36526"},
    {"CDbl(#12/30/1899#) & \" \" & CDbl(#12/31/1899 12:00#)", "0 1.5"},
    // Before day 0 the fraction still counts forward: 29 December 1899 06:00 is -1.25.
    {"CDbl(#12/29/1899 6:00#) & \" \" & CDate(-1.25)", "-1.25 12/29/1899 6:00:00 AM"},
    {"VarType(#1/1/2000#) & TypeName(#1/1/2000#)", "7Date"},
    {"\"D:\" & #1/2/2003# & \"|\" & CStr(#2/3/2004 0:00:01#)", "D:1/2/2003|2/3/2004 12:00:01 AM"},
};

const DateCase kTypeAndArithmetic[] = {
    {"Dim d As Date\nPrint d & \"|\" & TypeName(d) & VarType(d)", "12:00:00 AM|Date7"},
    {"Dim d As Date\nd = 36526.5\nPrint d", "1/1/2000 12:00:00 PM"},
    {"Dim d As Date\nd = \"3/15/2024 8:00 PM\"\nd = d + 1\nPrint d", "3/16/2024 8:00:00 PM"},
    {"Dim d As Date\nd = \"soon\"", "", 13, 3},
    {"Dim d As Date\nd = 1E+300", "", 6, 3},
    {"#1/31/2000# + 1", "2/1/2000"},
    {"1 + #1/31/2000#", "2/1/2000"},
    {"#3/1/2000# - 1", "2/29/2000"},
    {"#3/1/2000# - #2/1/2000# & TypeName(#3/1/2000# - #2/1/2000#)", "29Double"},
    {"#1/1/2000 18:00# - #1/1/2000 6:00#", "0.5"},
    {"#12/31/9999# + 1", "", 6, 2},
    {"(#1/1/2000# < #1/2/2000#) & (#1/2/2000# = #1/2/2000 0:00#) & (#1/1/2000# > 36526)", "TrueTrueFalse"},
    {"Dim d As Date, i As Integer\nd = #1/30/2000#\nFor i = 0 To 2\nPrint d + i\nNext", "1/30/2000\n1/31/2000\n2/1/2000"},
    {"Dim d As Date\nd = #6/15/2001#\nPrint (d = \"6/15/2001\") & (d < \"2001-06-16\") & (d > \"12:00\")", "TrueTrueTrue"},
    {"Dim d As Date\nd = #6/15/2001#\nPrint d = \"never\"", "", 13, 4},
    {"Str(#1/2/2003#) & \"|\" & Str(3)", "1/2/2003| 3"},
    {"Dim d\nd = #6/15/2001#\nSelect Case d\nCase #1/1/2001# To #12/31/2001#\nPrint \"2001\"\nCase Else\nPrint \"no\"\nEnd Select",
     "2001"},
};

const DateCase kFunctions[] = {
    {"Now", "12/9/2026 2:05:30 PM"},
    {"Date & \"|\" & Time & \"|\" & Timer", "12/9/2026|2:05:30 PM|50730"},
    {"TypeName(Now) & TypeName(Date) & TypeName(Time)", "DateDateDate"},
    {"DateSerial(2000, 14, 1) & \" \" & DateSerial(2000, 3, 0) & \" \" & DateSerial(99, 1, 1)", "2/1/2001 2/29/2000 1/1/1999"},
    {"DateSerial(2000, 1, -365)", "12/31/1998"},
    {"DateSerial(10000, 1, 1)", "", 5, 2},
    {"TimeSerial(13, 5, 9) & \"|\" & TimeSerial(25, 0, 0) & \"|\" & TimeSerial(0, 90, 0)",
     "1:05:09 PM|12/31/1899 1:00:00 AM|1:30:00 AM"},
    {"Year(#2/29/2000 13:45:07#) & \" \" & Month(#2/29/2000#) & \" \" & Day(#2/29/2000#) & \" \" & "
     "Hour(#13:45:07#) & \" \" & Minute(#13:45:07#) & \" \" & Second(#13:45:07#)",
     "2000 2 29 13 45 7"},
    {"Year(\"7/4/1776\") & \" \" & Day(36526) & \" \" & IsNull(Year(Null))", "1776 1 True"},
    // 1 January 2000 was a Saturday: 7 counting from Sunday, 6 from Monday.
    {"Weekday(#1/1/2000#) & Weekday(#1/1/2000#, 2) & Weekday(#1/2/2000#)", "761"},
    {"CDate(\"3/15/2024\") & \"|\" & CDate(\"March 15, 2024 8:00 PM\") & \"|\" & CDate(36526)",
     "3/15/2024|3/15/2024 8:00:00 PM|1/1/2000"},
    {"CDate(\"hello\")", "", 13, 2},
    {"CDate(Null)", "", 94, 2},
    {"IsDate(\"2/29/2024\") & IsDate(\"2/30/2024\") & IsDate(5) & IsDate(#1/1/2000#) & IsDate(\"12:61\")",
     "TrueFalseFalseTrueFalse"},
    {"DateValue(\"1/2/2003 10:00\") & \"|\" & TimeValue(#1/2/2003 10:00#)", "1/2/2003|10:00:00 AM"},
    {"MonthName(2) & MonthName(12, True) & WeekdayName(1) & WeekdayName(1, True, 2)", "FebruaryDecSundayMon"},
    {"DateAdd(\"m\", 1, #1/31/2000#) & \"|\" & DateAdd(\"yyyy\", 1, #2/29/2000#) & \"|\" & DateAdd(\"q\", -1, #5/31/2000#)",
     "2/29/2000|2/28/2001|2/29/2000"},
    {"DateAdd(\"d\", -1, #3/1/2000#) & \"|\" & DateAdd(\"ww\", 2, #1/1/2000#) & \"|\" & DateAdd(\"h\", 36, #1/1/2000#)",
     "2/29/2000|1/15/2000|1/2/2000 12:00:00 PM"},
    {"DateAdd(\"n\", -90, #1/1/2000#) & \"|\" & DateAdd(\"s\", 61, #1/1/2000#)", "12/31/1999 10:30:00 PM|1/1/2000 12:01:01 AM"},
    {"DateAdd(\"x\", 1, #1/1/2000#)", "", 5, 2},
    {"DateAdd(\"yyyy\", 9000, #1/1/2000#)", "", 5, 2},
    {"DateDiff(\"d\", #1/1/2000#, #3/1/2000#) & \" \" & DateDiff(\"d\", #3/1/2000#, #1/1/2000#)", "60 -60"},
    {"DateDiff(\"yyyy\", #12/31/1999#, #1/1/2000#) & DateDiff(\"m\", #1/31/2000#, #2/1/2000#) & "
     "DateDiff(\"q\", #3/31/2000#, #4/1/2000#)",
     "111"},
    {"DateDiff(\"h\", #1/1/2000 23:59#, #1/2/2000 0:01#) & \" \" & DateDiff(\"n\", #1/1/2000 23:59#, #1/2/2000 0:01#) & \" \" & "
     "DateDiff(\"s\", #1/1/2000#, #1/1/2000 0:01#)",
     "1 2 60"},
    // Saturday to Sunday crosses a week boundary ("ww") but not a whole week ("w").
    {"DateDiff(\"ww\", #1/1/2000#, #1/2/2000#) & DateDiff(\"w\", #1/1/2000#, #1/2/2000#) & DateDiff(\"w\", #1/1/2000#, #1/15/2000#) & "
     "DateDiff(\"ww\", #1/1/2000#, #1/2/2000#, 2)",
     "1020"},
};

const DateCase kFormats[] = {
    {"Format(#1/2/2003 14:05:09#, \"yyyy-mm-dd hh:nn:ss\")", "2003-01-02 14:05:09"},
    {"Format(#1/2/2003 14:05:09#, \"yyyy-mm-dd hh:mm:ss\")", "2003-01-02 14:05:09"},
    {"Format(#1/2/2003#, \"dddd, mmmm d, yyyy\")", "Thursday, January 2, 2003"},
    {"Format(#1/2/2003 14:05:09#, \"h:mm AM/PM\") & \"|\" & Format(#1/2/2003 9:05#, \"hh:mm am/pm\") & \"|\" & "
     "Format(#1/2/2003 14:05#, \"h a/p\")",
     "2:05 PM|09:05 am|2 p"},
    {"Format(#1/2/2003#, \"ddd mmm yy \\q q \"\"day\"\" y\")", "Thu Jan 03 q 1 day 2"},
    {"Format(#1/2/2003 14:05#, \"Long Date\") & \"|\" & Format(#1/2/2003 14:05#, \"Short Date\") & \"|\" & "
     "Format(#1/2/2003 14:05#, \"Short Time\") & \"|\" & Format(#1/2/2003 14:05#, \"Medium Date\")",
     "Thursday, January 2, 2003|1/2/2003|14:05|02-Jan-03"},
    {"Format(#1/2/2003 14:05#, \"General Date\") & \"|\" & Format(#1/2/2003 14:05#)", "1/2/2003 2:05:00 PM|1/2/2003 2:05:00 PM"},
    {"Format(36526, \"yyyy-mm-dd\") & \"|\" & Format(\"2003-01-02\", \"mm/dd/yy\")", "2000-01-01|01/02/03"},
    // Named numeric formats hold their letters as text, not date tokens.
    {"Format(1234.5, \"Standard\") & \"|\" & Format(0, \"Yes/No\") & \"|\" & Format(#1/1/2000#, \"0.0\")", "1,234.50|No|36526.0"},
    {"Format(Now, \"yyyymmdd_hhnnss\")", "20261209_140530"},
};

// Date$/Time$ under the fixed clock, DatePart and FormatDateTime. 9 December
// 2026 is day 343 of its year (334 + 9) and a Wednesday (1 January 2026 was
// a Thursday and 342 days is 48 weeks and 6 days). Weeks of the year:
// Sunday-first weeks from 1 January's week start on 28 December 2025, so day
// 343 is 346 days on, in week 50; Monday-first with four days (1 January a
// Thursday: three days of 2025 in its week) start 29 December 2025, 345 days
// before, also week 50. 1 January 2027 is a Friday: its Monday-first week has
// four days of 2026, so under four days it is 2026's week 53 (368 days after
// 29 December 2025), under whole weeks 2026's week 1 starts 5 January 2026
// and it is week 52 (361 days); by 1 January's week it is week 1. 30 December
// 2024 is a Monday whose week holds 1 January 2025 (a Wednesday): week 1 of
// 2025 under four days; Sunday-first by 1 January (2024 began on a Monday,
// its week 1 from 31 December 2023) it is 365 days on, week 53.
const DateCase kTextAndParts[] = {
    {"Date$ & \"|\" & Time$ & \"|\" & TypeName(Date$) & \"|\" & Date$()", "12-09-2026|14:05:30|String|12-09-2026"},
    {"TypeName(Date) & \" \" & Left$(\"abc\", 2)", "Date ab"},
    {"DatePart(\"yyyy\", #12/9/2026#) & \" \" & DatePart(\"q\", #12/9/2026#) & \" \" & DatePart(\"m\", #12/9/2026#) & \" \" & "
     "DatePart(\"y\", #12/9/2026#) & \" \" & DatePart(\"d\", #12/9/2026#)",
     "2026 4 12 343 9"},
    {"DatePart(\"w\", #12/9/2026#) & DatePart(\"w\", #12/9/2026#, vbMonday) & DatePart(\"w\", #12/9/2026#, vbUseSystemDayOfWeek) & "
     "DatePart(\"w\", #12/9/2026#, vbThursday)",
     "4347"},
    {"DatePart(\"h\", #10:30:45 PM#) & \" \" & DatePart(\"n\", #10:30:45 PM#) & \" \" & DatePart(\"s\", #10:30:45 PM#)", "22 30 45"},
    {"DatePart(\"ww\", #12/9/2026#) & \" \" & DatePart(\"ww\", #12/9/2026#, vbMonday, vbFirstFourDays)", "50 50"},
    {"DatePart(\"ww\", #1/1/2027#, vbMonday, vbFirstFourDays) & \" \" & DatePart(\"ww\", #1/1/2027#, vbMonday, vbFirstFullWeek) & \" \" & "
     "DatePart(\"ww\", #1/1/2027#) & \" \" & DatePart(\"ww\", #1/1/2027#, vbSunday, vbUseSystem)",
     "53 52 1 1"},
    {"DatePart(\"ww\", #12/30/2024#, vbMonday, vbFirstFourDays) & \" \" & DatePart(\"ww\", #12/30/2024#)", "1 53"},
    {"DatePart(\"d\", \"3/15/2024\") & \" \" & IsNull(DatePart(\"d\", Null))", "15 True"},
    {"DatePart(\"x\", #1/1/2000#)", "", 5, 2},
    {"DatePart(\"ww\", #1/1/2000#, 8)", "", 5, 2},
    {"DatePart(\"ww\", #1/1/2000#, 1, 4)", "", 5, 2},
    {"FormatDateTime(#12/9/2026 22:30:45#) & \"|\" & FormatDateTime(#12/9/2026 22:30:45#, vbLongDate) & \"|\" & "
     "FormatDateTime(#12/9/2026 22:30:45#, vbShortDate)",
     "12/9/2026 10:30:45 PM|Wednesday, December 9, 2026|12/9/2026"},
    {"FormatDateTime(#12/9/2026 22:30:45#, vbLongTime) & \"|\" & FormatDateTime(#12/9/2026 22:30:45#, vbShortTime) & \"|\" & "
     "FormatDateTime(#12/9/2026#) & \"|\" & FormatDateTime(\"1/2/2003\", vbGeneralDate)",
     "10:30:45 PM|22:30|12/9/2026|1/2/2003"},
    {"FormatDateTime(#1/1/2000#, 5)", "", 5, 2},
    {"FormatDateTime(Null)", "", 94, 2},
};

INSTANTIATE_TEST_SUITE_P(Literals, Dates, ::testing::ValuesIn(kLiterals));
INSTANTIATE_TEST_SUITE_P(TextAndParts, Dates, ::testing::ValuesIn(kTextAndParts));
INSTANTIATE_TEST_SUITE_P(TypeAndArithmetic, Dates, ::testing::ValuesIn(kTypeAndArithmetic));
INSTANTIATE_TEST_SUITE_P(Functions, Dates, ::testing::ValuesIn(kFunctions));
INSTANTIATE_TEST_SUITE_P(Formats, Dates, ::testing::ValuesIn(kFormats));

TEST(Dates, ConstantsHoldDates) {
  RunOutcome r = RunProgram("Const Start = #1/2/2003#\nSub Main()\nPrint Start + 1\nEnd Sub\n", "Main", {},
                            [] { return kFixedNow; });
  ASSERT_TRUE(r.compileErrors.empty()) << r.compileErrors[0].message;
  EXPECT_EQ(r.output, "1/3/2003\n");
}

TEST(Dates, WallClockIsTheDefault) {
  RunOutcome r = RunProgram("Sub Main()\nPrint Year(Now) >= 2024\nEnd Sub\n");
  EXPECT_EQ(r.output, "True\n");
}

struct BadLiteral {
  const char* source;
};
class DateLiterals : public ::testing::TestWithParam<BadLiteral> {};

// A '#' text that looks like a date must be one; the error names its line.
TEST_P(DateLiterals, AreRefusedWhenNotADate) {
  RunOutcome r = RunProgram(std::string("Sub Main()\nDim x\nx = ") + GetParam().source + "\nEnd Sub\n");
  ASSERT_FALSE(r.compileErrors.empty());
  EXPECT_EQ(r.compileErrors[0].line, 3u);
}
const BadLiteral kBadLiterals[] = {{"#2/30/2003#"}, {"#13/1/2003#"}, {"#1/2/2003 25:00#"}, {"#1/2#"}, {"#Smarch 3, 2003#"}};
INSTANTIATE_TEST_SUITE_P(Bad, DateLiterals, ::testing::ValuesIn(kBadLiterals));

// The calendar against glibc's gmtime: every 13th day from 1 January 100 to
// 31 December 9999, with a time of day, and back through SerialFromDate.
TEST(Dates, CalendarAgreesWithGmtime) {
  for (double day = kMinDateSerial; day <= kMaxDateSerial; day += 13) {
    double serial = day < 0 ? day - 0.75 : day + 0.75;  // 18:00; before day 0 the fraction counts forward too
    std::time_t secs = static_cast<std::time_t>((day - 25569) * 86400 + 18 * 3600);
    std::tm tm{};
    ASSERT_NE(gmtime_r(&secs, &tm), nullptr);
    CivilTime c = CivilFromSerial(serial);
    ASSERT_EQ(c.year, tm.tm_year + 1900) << day;
    ASSERT_EQ(c.month, tm.tm_mon + 1) << day;
    ASSERT_EQ(c.day, tm.tm_mday) << day;
    ASSERT_EQ(c.hour, 18) << day;
    ASSERT_EQ(c.weekday, tm.tm_wday + 1) << day;
    ASSERT_EQ(SerialFromDate(c.year, c.month, c.day), day);
  }
}

}  // namespace
}  // namespace kv::orlan::testing
