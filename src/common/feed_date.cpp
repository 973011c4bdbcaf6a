#include "common/feed_date.h"

#include <array>
#include <cctype>
#include <ctime>
#include <string>

namespace zibu {

namespace {

// Days since 1970-01-01 of a civil date (proleptic Gregorian), as in Howard Hinnant's algorithm.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool LeapYear(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int64_t y, int m) {
  static constexpr std::array<int, 12> days = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && LeapYear(y) ? 29 : days[static_cast<size_t>(m - 1)];
}

class Reader {
 public:
  explicit Reader(std::string_view s) : s_(s) {}
  bool AtEnd() const { return i_ >= s_.size(); }
  char Peek() const { return AtEnd() ? '\0' : s_[i_]; }
  void SkipBlanks() {
    while (!AtEnd() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\r' || s_[i_] == '\n')) ++i_;
  }
  bool Take(char c) {
    if (Peek() != c) return false;
    ++i_;
    return true;
  }
  // 1..maxDigits decimal digits.
  bool Number(int& out, int minDigits, int maxDigits) {
    int n = 0, v = 0;
    while (n < maxDigits && std::isdigit(static_cast<unsigned char>(Peek()))) {
      v = v * 10 + (s_[i_++] - '0');
      ++n;
    }
    out = v;
    return n >= minDigits;
  }
  std::string Word() {
    std::string w;
    while (std::isalpha(static_cast<unsigned char>(Peek()))) w += static_cast<char>(std::tolower(s_[i_++]));
    return w;
  }
  std::string_view Rest() const { return s_.substr(i_); }

 private:
  std::string_view s_;
  size_t i_ = 0;
};

int MonthOf(const std::string& word) {
  static const char* const names[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                      "jul", "aug", "sep", "oct", "nov", "dec"};
  if (word.size() < 3) return 0;
  for (int m = 0; m < 12; ++m)
    if (word.compare(0, 3, names[m]) == 0) return m + 1;
  return 0;
}

// "+0200", "-05:00", "Z", "GMT", "EST", ...: minutes east of UTC; false when not a zone.
bool Zone(Reader& r, int& minutes) {
  minutes = 0;
  r.SkipBlanks();
  if (r.AtEnd()) return true;
  const char c = r.Peek();
  if (c == '+' || c == '-') {
    r.Take(c);
    int hh = 0, mm = 0;
    if (!r.Number(hh, 2, 2)) return false;
    r.Take(':');
    r.Number(mm, 0, 2);
    if (hh > 23 || mm > 59) return false;
    minutes = (c == '-' ? -1 : 1) * (hh * 60 + mm);
    return true;
  }
  const std::string name = r.Word();
  static const struct {
    const char* name;
    int minutes;
  } zones[] = {{"z", 0},         {"gmt", 0},        {"ut", 0},         {"utc", 0},       {"est", -5 * 60},
               {"edt", -4 * 60}, {"cst", -6 * 60},  {"cdt", -5 * 60},  {"mst", -7 * 60}, {"mdt", -6 * 60},
               {"pst", -8 * 60}, {"pdt", -7 * 60},  {"cet", 60},       {"cest", 120},    {"bst", 60},
               {"ist", 330},     {"jst", 9 * 60},   {"aest", 10 * 60}, {"wet", 0},       {"eet", 120}};
  for (const auto& z : zones)
    if (name == z.name) {
      minutes = z.minutes;
      return true;
    }
  // An unknown zone name still leaves a usable date, read as UTC.
  return !name.empty();
}

std::optional<int64_t> Compose(int year, int month, int day, int hour, int minute, int second, int millis,
                               int zoneMinutes) {
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return std::nullopt;
  if (hour > 24 || minute > 59 || second > 60 || (hour == 24 && (minute || second))) return std::nullopt;
  if (second == 60) second = 59;  // a leap second is kept in its minute
  const int64_t days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
  const int64_t seconds = days * 86400 + hour * 3600 + minute * 60 + second - zoneMinutes * 60;
  return seconds * 1000 + millis;
}

// 2003-12-13T18:30:02.25+01:00, with a blank for the T and the time optional.
std::optional<int64_t> Rfc3339(std::string_view text) {
  Reader r(text);
  r.SkipBlanks();
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millis = 0;
  if (!r.Number(year, 4, 4) || !r.Take('-') || !r.Number(month, 2, 2) || !r.Take('-') || !r.Number(day, 2, 2))
    return std::nullopt;
  int zone = 0;
  if (r.Take('T') || r.Take('t') || r.Take(' ')) {
    if (!r.Number(hour, 2, 2) || !r.Take(':') || !r.Number(minute, 2, 2)) return std::nullopt;
    if (r.Take(':') && !r.Number(second, 2, 2)) return std::nullopt;
    if (r.Take('.') || r.Take(',')) {
      int digits = 0;
      while (std::isdigit(static_cast<unsigned char>(r.Peek()))) {
        int d = 0;
        r.Number(d, 1, 1);
        if (digits < 3) millis = millis * 10 + d;
        ++digits;
      }
      for (; digits < 3; ++digits) millis *= 10;
    }
    if (!Zone(r, zone)) return std::nullopt;
  }
  r.SkipBlanks();
  if (!r.AtEnd()) return std::nullopt;
  return Compose(year, month, day, hour, minute, second, millis, zone);
}

// [Tue,] 10 Jun 2003 04:00[:00] [GMT|+0200]
std::optional<int64_t> Rfc822(std::string_view text) {
  Reader r(text);
  r.SkipBlanks();
  if (std::isalpha(static_cast<unsigned char>(r.Peek()))) {
    r.Word();
    r.Take('.');
    r.Take(',');
    r.SkipBlanks();
  }
  int day = 0, year = 0, hour = 0, minute = 0, second = 0;
  if (!r.Number(day, 1, 2)) return std::nullopt;
  r.SkipBlanks();
  r.Take('-');
  const int month = MonthOf(r.Word());
  if (!month) return std::nullopt;
  r.Take('.');
  r.SkipBlanks();
  r.Take('-');
  int digits = 0;
  {
    const size_t before = r.Rest().size();
    if (!r.Number(year, 2, 4)) return std::nullopt;
    digits = static_cast<int>(before - r.Rest().size());
  }
  if (digits == 2) year += year < 50 ? 2000 : 1900;
  if (digits == 3) return std::nullopt;
  r.SkipBlanks();
  int zone = 0;
  if (!r.AtEnd()) {
    if (!r.Number(hour, 1, 2) || !r.Take(':') || !r.Number(minute, 2, 2)) return std::nullopt;
    if (r.Take(':') && !r.Number(second, 2, 2)) return std::nullopt;
    if (!Zone(r, zone)) return std::nullopt;
    r.SkipBlanks();
    if (!r.AtEnd()) return std::nullopt;
  }
  return Compose(year, month, day, hour, minute, second, 0, zone);
}

}  // namespace

std::optional<int64_t> ParseFeedDateUtc(std::string_view text) {
  if (text.size() > 100) return std::nullopt;
  if (auto v = Rfc3339(text)) return v;
  return Rfc822(text);
}

std::optional<int64_t> ParseFeedDate(std::string_view text) {
  const auto utc = ParseFeedDateUtc(text);
  if (!utc) return std::nullopt;
  const int64_t floorSeconds = *utc >= 0 ? *utc / 1000 : (*utc - 999) / 1000;
  std::time_t t = static_cast<std::time_t>(floorSeconds);
  std::tm local{};
  if (!localtime_r(&t, &local)) return utc;
  return *utc + static_cast<int64_t>(local.tm_gmtoff) * 1000;
}

}  // namespace zibu
