// Dates as VBA keeps them: a Double counting days from 30 December 1899,
// the time of day as the fraction. Shared by the lexer (date literals), the
// coercions, the runtime library and Format.
#pragma once

#include <string>
#include <string_view>

namespace kv::orlan {

// The range VBA accepts: 1 January 100 to 31 December 9999.
inline constexpr double kMinDateSerial = -657434.0;
inline constexpr double kMaxDateSerial = 2958465.99999999;

struct CivilTime {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0;
  int weekday = 7;  // 1 = Sunday
};

// Days of a civil date, with month and day overflow carried as DateSerial does.
double SerialFromDate(int year, int month, int day);
double SerialFromTime(double hour, double minute, double second);
// Rounded to the second; the fraction of a negative serial is still the time.
CivilTime CivilFromSerial(double serial);
bool InDateRange(double serial);
// US short date, then the time when it is not midnight ("1/2/2003 10:30:00 AM"),
// or only the time when the day is 30 December 1899.
std::string DateText(double serial);
// m/d/y, y-m-d and month-name dates with an optional time, or a time alone.
bool ParseDate(std::string_view text, double& serial);
const char* MonthName(int month, bool abbreviate);
const char* WeekdayName(int weekday, bool abbreviate);

}  // namespace kv::orlan
