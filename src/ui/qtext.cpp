#include "ui/qtext.h"

#include <array>
#include <unordered_map>

namespace zibu {
namespace {

// Unicode of bytes 0x80-0x9F; the five bytes Windows-1252 leaves undefined map to
// the C1 control of the same value, so every byte survives a round trip.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t ByteToUnicode(unsigned char b) { return (b >= 0x80 && b <= 0x9F) ? kHigh[b - 0x80] : char16_t(b); }

const std::unordered_map<char16_t, char>& ReverseHigh() {
  static const auto* map = [] {
    auto* m = new std::unordered_map<char16_t, char>();
    for (int i = 0; i < 32; ++i) (*m)[kHigh[i]] = static_cast<char>(0x80 + i);
    return m;
  }();
  return *map;
}

}  // namespace

QString ToQ(std::string_view cp1252) {
  QString out;
  out.resize(static_cast<qsizetype>(cp1252.size()));
  QChar* d = out.data();
  for (size_t i = 0; i < cp1252.size(); ++i) d[i] = QChar(ByteToUnicode(static_cast<unsigned char>(cp1252[i])));
  return out;
}

QString ToQ(std::string_view cp1252, std::string_view utf8) {
  return utf8.empty() ? ToQ(cp1252) : QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string FromQ(const QString& text) {
  std::string out;
  out.reserve(static_cast<size_t>(text.size()));
  const auto& rev = ReverseHigh();
  for (QChar c : text) {
    char16_t u = c.unicode();
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
      out += static_cast<char>(u);
    } else if (auto it = rev.find(u); it != rev.end()) {
      out += it->second;
    } else {
      out += '?';
    }
  }
  return out;
}

}  // namespace zibu
