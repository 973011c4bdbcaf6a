#include "common/numbers.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "common/errors.h"

namespace zibu {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Parses into a magnitude with overflow detection against `limit` (the largest magnitude allowed).
std::optional<int64_t> ParseInteger(std::string_view s, uint64_t max_positive, uint64_t max_negative) {
  size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    negative = s[i] == '-';
    ++i;
  }
  int base = 10;
  if (i < s.size() && (s[i] == '$' || s[i] == 'x' || s[i] == 'X')) {
    base = 16;
    ++i;
  } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= s.size()) return std::nullopt;
  const uint64_t limit = negative ? max_negative : max_positive;
  uint64_t value = 0;
  for (; i < s.size(); ++i) {
    int d = base == 16 ? HexValue(s[i]) : (s[i] >= '0' && s[i] <= '9' ? s[i] - '0' : -1);
    if (d < 0) return std::nullopt;
    if (value > (limit - static_cast<uint64_t>(d)) / static_cast<uint64_t>(base)) return std::nullopt;
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
  }
  if (negative) {
    if (value == max_negative) return value == (uint64_t{1} << 63) ? std::numeric_limits<int64_t>::min()
                                                                    : -static_cast<int64_t>(value);
    return -static_cast<int64_t>(value);
  }
  return static_cast<int64_t>(value);
}

[[noreturn]] void NotInteger(std::string_view text) {
  throw ConversionError("'" + Excerpt(text) + "' is not a valid integer value");
}

}  // namespace

std::optional<int32_t> TryStrToInt(std::string_view text) {
  auto v = ParseInteger(text, 2147483647u, 2147483648u);
  if (!v) return std::nullopt;
  return static_cast<int32_t>(*v);
}

std::optional<int64_t> TryStrToInt64(std::string_view text) {
  return ParseInteger(text, 9223372036854775807ull, 9223372036854775808ull);
}

int32_t StrToInt(std::string_view text) {
  auto v = TryStrToInt(text);
  if (!v) NotInteger(text);
  return *v;
}

int64_t StrToInt64(std::string_view text) {
  auto v = TryStrToInt64(text);
  if (!v) NotInteger(text);
  return *v;
}

int32_t StrToIntDef(std::string_view text, int32_t fallback) { return TryStrToInt(text).value_or(fallback); }

std::optional<double> TryStrToFloat(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
  std::string_view s = text.substr(b, e - b);
  size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  size_t digits = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return std::nullopt;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t exp_digits = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++exp_digits;
    if (exp_digits == 0) return std::nullopt;
  }
  if (i != s.size()) return std::nullopt;
  // from_chars ignores the process locale, which the Qt layer sets from the environment.
  double v = 0;
  std::string_view unsigned_part = s;
  bool negative = false;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    negative = s[0] == '-';
    unsigned_part = s.substr(1);
  }
  auto res = std::from_chars(unsigned_part.data(), unsigned_part.data() + unsigned_part.size(), v);
  if (res.ec != std::errc() || res.ptr != unsigned_part.data() + unsigned_part.size()) return std::nullopt;
  if (!std::isfinite(v)) return std::nullopt;
  return negative ? -v : v;
}

double StrToFloat(std::string_view text) {
  auto v = TryStrToFloat(text);
  if (!v) throw ConversionError("'" + Excerpt(text) + "' is not a valid floating point value");
  return *v;
}

std::string FloatToStr(double value) {
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
  std::string out(buf, res.ptr);
  // The general format writes exponents as "E15" / "E-5".
  auto e = out.find('e');
  if (e != std::string::npos) {
    std::string exp = out.substr(e + 1);
    if (!exp.empty() && exp[0] == '+') exp.erase(0, 1);
    size_t z = (exp[0] == '-') ? 1 : 0;
    while (exp.size() > z + 1 && exp[z] == '0') exp.erase(z, 1);
    out = out.substr(0, e) + "E" + exp;
  }
  return out;
}

}  // namespace zibu
