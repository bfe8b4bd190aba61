#include "orlan/dates.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

namespace kv::orlan {
namespace {

namespace chr = std::chrono;
// Day 0 of a serial is 30 December 1899; the Unix epoch is day 25569.
constexpr int kUnixEpochSerial = 25569;

const char* const kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                               "July",    "August",   "September", "October", "November", "December"};
const char* const kWeekdays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(std::string_view word, std::string_view full) {
  if (word.size() < 3 || word.size() > full.size()) return false;
  for (size_t i = 0; i < word.size(); ++i)
    if (Lower(word[i]) != Lower(full[i])) return false;
  return true;
}

int DaysInMonth(int year, int month) {
  return static_cast<int>(static_cast<unsigned>(
      chr::year_month_day_last{chr::year{year}, chr::month_day_last{chr::month{static_cast<unsigned>(month)}}}.day()));
}

struct Piece {
  enum Kind { Num, Word, Sep } kind;
  int value = 0;
  int digits = 0;
  std::string_view text;
};

}  // namespace

double SerialFromDate(int year, int month, int day) {
  long y = year + static_cast<long>(std::floor((month - 1) / 12.0));
  // Far outside the date range (and the calendar's years): a serial that fails InDateRange.
  if (y < -30000 || y > 30000) return y < 0 ? -1e9 : 1e9;
  int m = ((month - 1) % 12 + 12) % 12 + 1;
  chr::sys_days first{chr::year{static_cast<int>(y)} / chr::month{static_cast<unsigned>(m)} / chr::day{1}};
  return static_cast<double>(first.time_since_epoch().count() + kUnixEpochSerial) + (day - 1);
}

double SerialFromTime(double hour, double minute, double second) {
  return (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
}

bool InDateRange(double serial) { return serial >= kMinDateSerial && serial < kMaxDateSerial + 1e-8; }

CivilTime CivilFromSerial(double serial) {
  double whole = std::trunc(serial);
  long day = static_cast<long>(whole);
  long secs = std::lround(std::fabs(serial - whole) * 86400.0);
  if (secs >= 86400) {
    secs -= 86400;
    day += serial < 0 ? -1 : 1;
  }
  chr::year_month_day ymd{chr::sys_days{chr::days{day - kUnixEpochSerial}}};
  CivilTime c;
  c.year = static_cast<int>(ymd.year());
  c.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
  c.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
  c.hour = static_cast<int>(secs / 3600);
  c.minute = static_cast<int>(secs / 60 % 60);
  c.second = static_cast<int>(secs % 60);
  c.weekday = static_cast<int>(((day % 7) + 7 + 6) % 7) + 1;  // day 0 was a Saturday
  return c;
}

std::string DateText(double serial) {
  CivilTime c = CivilFromSerial(serial);
  bool hasDay = !(c.year == 1899 && c.month == 12 && c.day == 30);
  bool hasTime = c.hour || c.minute || c.second;
  char buf[64];
  std::string out;
  if (hasDay) {
    std::snprintf(buf, sizeof buf, "%d/%d/%d", c.month, c.day, c.year);
    out = buf;
  }
  if (hasTime || !hasDay) {
    int h12 = c.hour % 12 == 0 ? 12 : c.hour % 12;
    std::snprintf(buf, sizeof buf, "%s%d:%02d:%02d %s", hasDay ? " " : "", h12, c.minute, c.second,
                  c.hour < 12 ? "AM" : "PM");
    out += buf;
  }
  return out;
}

bool ParseDate(std::string_view s, double& serial) {
  std::vector<Piece> pieces;
  for (size_t i = 0; i < s.size();) {
    char c = s[i];
    if (c == ' ' || c == '\t' || c == ',') {
      ++i;
    } else if (c >= '0' && c <= '9') {
      Piece p{Piece::Num, 0, 0, {}};
      size_t start = i;
      while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
        if (p.digits++ >= 5) return false;
        p.value = p.value * 10 + (s[i++] - '0');
      }
      p.text = s.substr(start, i - start);
      pieces.push_back(p);
    } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
      size_t start = i;
      while (i < s.size() && ((s[i] >= 'a' && s[i] <= 'z') || (s[i] >= 'A' && s[i] <= 'Z'))) ++i;
      pieces.push_back(Piece{Piece::Word, 0, 0, s.substr(start, i - start)});
    } else if (c == '/' || c == '-' || c == ':' || c == '.') {
      pieces.push_back(Piece{Piece::Sep, 0, 0, s.substr(i, 1)});
      ++i;
    } else {
      return false;
    }
  }
  // The time: the first number followed by ':' or by AM/PM, to the end.
  size_t timeAt = pieces.size();
  for (size_t i = 0; i < pieces.size(); ++i) {
    if (pieces[i].kind != Piece::Num || i + 1 >= pieces.size()) continue;
    const Piece& next = pieces[i + 1];
    bool colon = next.kind == Piece::Sep && next.text == ":";
    bool marker = next.kind == Piece::Word && next.text.size() == 2 && Lower(next.text[1]) == 'm' &&
                  (Lower(next.text[0]) == 'a' || Lower(next.text[0]) == 'p');
    if (colon || marker) {
      timeAt = i;
      break;
    }
  }
  double time = 0;
  if (timeAt < pieces.size()) {
    int parts[3] = {0, 0, 0};
    int count = 0;
    size_t i = timeAt;
    for (;;) {
      if (pieces[i].kind != Piece::Num || count == 3) return false;
      parts[count++] = pieces[i++].value;
      if (i < pieces.size() && pieces[i].kind == Piece::Sep && pieces[i].text == ":") {
        ++i;
        continue;
      }
      break;
    }
    int hour = parts[0];
    if (i < pieces.size()) {
      const Piece& w = pieces[i];
      if (w.kind != Piece::Word || w.text.size() != 2 || Lower(w.text[1]) != 'm') return false;
      char a = Lower(w.text[0]);
      if ((a != 'a' && a != 'p') || hour < 1 || hour > 12) return false;
      hour = hour % 12 + (a == 'p' ? 12 : 0);
      ++i;
    }
    if (i != pieces.size() || hour > 23 || parts[1] > 59 || parts[2] > 59) return false;
    time = SerialFromTime(hour, parts[1], parts[2]);
  }
  // The date: three numbers, or a month name and two numbers.
  std::vector<Piece> nums;
  int monthWord = 0;
  char sep = 0;
  for (size_t i = 0; i < timeAt; ++i) {
    const Piece& p = pieces[i];
    if (p.kind == Piece::Num) {
      nums.push_back(p);
    } else if (p.kind == Piece::Word) {
      if (monthWord) return false;
      for (int m = 1; m <= 12 && !monthWord; ++m)
        if (StartsWithNoCase(p.text, kMonths[m - 1])) monthWord = m;
      if (!monthWord) return false;
    } else {
      if (p.text == ":") return false;
      if (sep && sep != p.text[0]) return false;
      sep = p.text[0];
    }
  }
  if (timeAt == 0 || (nums.empty() && !monthWord)) {
    if (timeAt == pieces.size()) return false;  // nothing at all
    serial = time;
    return true;
  }
  int year, month, day;
  int yearDigits;
  if (monthWord) {
    if (nums.size() != 2) return false;
    month = monthWord;
    // "January 2, 2003" and "2 January 2003" both put the day first among the numbers.
    day = nums[0].value;
    year = nums[1].value;
    yearDigits = nums[1].digits;
  } else {
    if (nums.size() != 3) return false;
    if (nums[0].digits >= 3) {
      year = nums[0].value, month = nums[1].value, day = nums[2].value;
      yearDigits = nums[0].digits;
    } else {
      month = nums[0].value, day = nums[1].value, year = nums[2].value;
      yearDigits = nums[2].digits;
    }
  }
  if (yearDigits <= 2) year += year < 30 ? 2000 : 1900;
  if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return false;
  double days = SerialFromDate(year, month, day);
  // A time on a day before day 0 still counts forward from midnight.
  serial = days < 0 ? days - time : days + time;
  return true;
}

const char* MonthName(int month, bool abbreviate) {
  static const char* const kShort[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  return abbreviate ? kShort[(month - 1) % 12] : kMonths[(month - 1) % 12];
}

const char* WeekdayName(int weekday, bool abbreviate) {
  static const char* const kShort[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  return abbreviate ? kShort[(weekday - 1) % 7] : kWeekdays[(weekday - 1) % 7];
}

}  // namespace kv::orlan
