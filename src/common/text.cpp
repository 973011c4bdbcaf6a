#include "common/text.h"

#include "common/codepage.h"

#include <algorithm>
#include <array>
#include <thread>

#include "common/errors.h"
#include "common/numbers.h"

namespace zibu {
namespace {

constexpr std::array<unsigned char, 256> MakeUpperTable() {
  std::array<unsigned char, 256> t{};
  for (int i = 0; i < 256; ++i) t[i] = static_cast<unsigned char>(i);
  for (int c = 'a'; c <= 'z'; ++c) t[c] = static_cast<unsigned char>(c - 32);
  // Windows-1252: the accented small letters and their capitals.
  for (int c = 0xE0; c <= 0xFE; ++c)
    if (c != 0xF7) t[c] = static_cast<unsigned char>(c - 32);
  t[0x9A] = 0x8A;  // s caron
  t[0x9C] = 0x8C;  // oe
  t[0x9E] = 0x8E;  // z caron
  t[0xFF] = 0x9F;  // y diaeresis
  return t;
}

constexpr std::array<unsigned char, 256> kAnsiUpper = MakeUpperTable();

inline unsigned char Fold(char c) {
  return kAnsiUpper[static_cast<unsigned char>(c)];
}

inline bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

std::string UpperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return out;
}

std::string AnsiUpperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(Fold(c));
  return out;
}

int CompareTextNoCase(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const unsigned char x = Fold(a[i]), y = Fold(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool SameTextNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareTextNoCase(a, b) == 0;
}

bool LessNoCase(std::string_view a, std::string_view b) {
  return CompareTextNoCase(a, b) < 0;
}

std::string Trim(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
  return std::string(text.substr(b, e - b));
}

std::vector<std::string> SplitString(std::string_view text, std::string_view sep) {
  std::vector<std::string> out;
  if (sep.empty()) {
    if (!text.empty()) out.emplace_back(text);
    return out;
  }
  size_t start = 0;
  for (;;) {
    const size_t p = text.find(sep, start);
    if (p == std::string_view::npos) break;
    out.emplace_back(text.substr(start, p - start));
    start = p + sep.size();
  }
  if (start < text.size()) out.emplace_back(text.substr(start));
  return out;
}

std::string LettersOnly(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (!(c == ' ' || (c >= 'A' && c <= 'Z'))) c = ' ';
  return out;
}

void SortUnique(std::vector<std::string>& list) {
  // A stable sort keeps the first spelling of equal entries first; then keep one of each run.
  std::stable_sort(list.begin(), list.end(),
                   [](const std::string& a, const std::string& b) { return LessNoCase(a, b); });
  auto last = std::unique(list.begin(), list.end(),
                          [](const std::string& a, const std::string& b) { return SameTextNoCase(a, b); });
  list.erase(last, list.end());
}

bool InSortedList(std::string_view word, const std::vector<std::string>& sortedCaseInsensitive) {
  auto it =
      std::lower_bound(sortedCaseInsensitive.begin(), sortedCaseInsensitive.end(), word,
                       [](const std::string& entry, std::string_view w) { return LessNoCase(entry, w); });
  return it != sortedCaseInsensitive.end() && SameTextNoCase(*it, word);
}

std::vector<std::string> GetWordList(std::string_view text, int minWordLength, int maxWordLength,
                                     const std::vector<std::string>& commonWords) {
  const std::string plain = Trim(UpperCase(HtmlToText(text)));
  // "'S" goes first, then every other apostrophe; one pass gives the same as the two in a row,
  // because no apostrophe is left over that could pair with a following "S".
  std::string letters;
  letters.reserve(plain.size());
  for (size_t i = 0; i < plain.size(); ++i) {
    const char c = plain[i];
    if (c == '\'') {
      if (i + 1 < plain.size() && plain[i + 1] == 'S') ++i;
      continue;
    }
    letters.push_back((c >= 'A' && c <= 'Z') ? c : ' ');
  }
  std::vector<std::string> words;
  const size_t n = letters.size();
  size_t i = 0;
  while (i < n) {
    while (i < n && letters[i] == ' ') ++i;
    const size_t start = i;
    while (i < n && letters[i] != ' ') ++i;
    const int len = static_cast<int>(i - start);
    if (len == 0 || len < minWordLength || len > maxWordLength) continue;
    std::string w = letters.substr(start, i - start);
    if (len > minWordLength && len >= 2 && w[len - 1] == 'S' && w[len - 2] != 'S') w.pop_back();
    if (InSortedList(w, commonWords)) continue;
    words.push_back(std::move(w));
  }
  return words;
}

std::string CollapseSpaces(std::string_view text) {
  // Replacing runs of k blanks for k from the longest run down to 2 turns each run into one
  // blank as soon as k reaches the run's own length, so a single pass gives the same text.
  const std::string trimmed = Trim(text);
  std::string out;
  out.reserve(trimmed.size());
  for (size_t i = 0; i < trimmed.size(); ++i) {
    if (trimmed[i] == ' ' && !out.empty() && out.back() == ' ') continue;
    out.push_back(trimmed[i]);
  }
  return out;
}

std::string JoinStrings(const std::vector<std::string>& list, std::string_view sep) {
  std::string out;
  for (const auto& s : list) {
    out += s;
    out += sep;
  }
  return out;
}

std::string UrlEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const bool plain = c == '&' || c == '-' || c == '.' || c == '/' || (c >= '0' && c <= '9') || c == ':' ||
                       c == ';' || c == '=' || c == '?' || (c >= 'A' && c <= 'Z') || c == '_' ||
                       (c >= 'a' && c <= 'z');
    const bool escape = c == '%' && i + 2 < text.size() && IsHexDigit(text[i + 1]) && IsHexDigit(text[i + 2]);
    if (plain || escape) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return out;
}

std::string SiteRoot(std::string_view address) {
  if (address.size() < 8) return {};
  // The host begins after "://": byte 8 for a four-letter scheme, byte 9 for https.
  const size_t host = UpperCase(address.substr(0, 8)) == "HTTPS://" ? 8 : 7;
  const size_t p = address.find('/', host);
  if (p == std::string_view::npos) return {};
  return std::string(address.substr(0, p));
}

std::string UrlParent(std::string_view address) {
  const size_t p = address.rfind('/');
  if (p == std::string_view::npos) return std::string(address);
  return std::string(address.substr(0, p));
}

double ParseHourMinute(std::string_view text) {
  const int hours = StrToInt(text.substr(0, std::min<size_t>(2, text.size())));
  const int minutes = StrToInt(text.size() > 3 ? text.substr(3, 2) : std::string_view());
  if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59)
    throw ConversionError("Invalid argument to time encode");
  return (hours * 60 + minutes) / 1440.0;
}

int ProcessorCount() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int>(n);
}

}  // namespace zibu
