#include "common/codepage.h"

#include <algorithm>
#include <cstring>

namespace zibu {

namespace {

// Code point of every Windows-1252 byte; the five bytes the code page leaves undefined stand
// for the code points of the same number.
constexpr uint16_t kCp1252[256] = {
    0x00,   0x01,   0x02,   0x03,   0x04,   0x05,   0x06,   0x07,   0x08,   0x09,   0x0A,   0x0B,   0x0C,
    0x0D,   0x0E,   0x0F,   0x10,   0x11,   0x12,   0x13,   0x14,   0x15,   0x16,   0x17,   0x18,   0x19,
    0x1A,   0x1B,   0x1C,   0x1D,   0x1E,   0x1F,   0x20,   0x21,   0x22,   0x23,   0x24,   0x25,   0x26,
    0x27,   0x28,   0x29,   0x2A,   0x2B,   0x2C,   0x2D,   0x2E,   0x2F,   0x30,   0x31,   0x32,   0x33,
    0x34,   0x35,   0x36,   0x37,   0x38,   0x39,   0x3A,   0x3B,   0x3C,   0x3D,   0x3E,   0x3F,   0x40,
    0x41,   0x42,   0x43,   0x44,   0x45,   0x46,   0x47,   0x48,   0x49,   0x4A,   0x4B,   0x4C,   0x4D,
    0x4E,   0x4F,   0x50,   0x51,   0x52,   0x53,   0x54,   0x55,   0x56,   0x57,   0x58,   0x59,   0x5A,
    0x5B,   0x5C,   0x5D,   0x5E,   0x5F,   0x60,   0x61,   0x62,   0x63,   0x64,   0x65,   0x66,   0x67,
    0x68,   0x69,   0x6A,   0x6B,   0x6C,   0x6D,   0x6E,   0x6F,   0x70,   0x71,   0x72,   0x73,   0x74,
    0x75,   0x76,   0x77,   0x78,   0x79,   0x7A,   0x7B,   0x7C,   0x7D,   0x7E,   0x7F,   0x20AC, 0x0081,
    0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D,
    0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A,
    0x0153, 0x009D, 0x017E, 0x0178, 0xA0,   0xA1,   0xA2,   0xA3,   0xA4,   0xA5,   0xA6,   0xA7,   0xA8,
    0xA9,   0xAA,   0xAB,   0xAC,   0xAD,   0xAE,   0xAF,   0xB0,   0xB1,   0xB2,   0xB3,   0xB4,   0xB5,
    0xB6,   0xB7,   0xB8,   0xB9,   0xBA,   0xBB,   0xBC,   0xBD,   0xBE,   0xBF,   0xC0,   0xC1,   0xC2,
    0xC3,   0xC4,   0xC5,   0xC6,   0xC7,   0xC8,   0xC9,   0xCA,   0xCB,   0xCC,   0xCD,   0xCE,   0xCF,
    0xD0,   0xD1,   0xD2,   0xD3,   0xD4,   0xD5,   0xD6,   0xD7,   0xD8,   0xD9,   0xDA,   0xDB,   0xDC,
    0xDD,   0xDE,   0xDF,   0xE0,   0xE1,   0xE2,   0xE3,   0xE4,   0xE5,   0xE6,   0xE7,   0xE8,   0xE9,
    0xEA,   0xEB,   0xEC,   0xED,   0xEE,   0xEF,   0xF0,   0xF1,   0xF2,   0xF3,   0xF4,   0xF5,   0xF6,
    0xF7,   0xF8,   0xF9,   0xFA,   0xFB,   0xFC,   0xFD,   0xFE,   0xFF};

// The reverse for code points below 0x100, derived from the table above; 0xBF where no byte
// stands for the code point.
struct LowReverse {
  uint8_t byte[256];
  constexpr LowReverse() : byte() {
    for (int cp = 0; cp < 256; ++cp) byte[cp] = 0xBF;
    for (int b = 255; b >= 0; --b)
      if (kCp1252[b] < 256) byte[kCp1252[b]] = static_cast<uint8_t>(b);
  }
};
constexpr LowReverse kLowReverse{};

inline char ByteOf(uint32_t cp) {
  if (cp < 256) return static_cast<char>(kLowReverse.byte[cp]);
  for (int b = 0x80; b < 0xA0; ++b)
    if (kCp1252[b] == cp) return static_cast<char>(b);
  return static_cast<char>(0xBF);
}

}  // namespace

uint32_t Win1252CodePoint(unsigned char byte) {
  return kCp1252[byte];
}

char CodePointToWin1252(uint32_t codePoint) {
  return ByteOf(codePoint);
}

char CharRefByte(int64_t value) {
  if (value <= 0xFF) return static_cast<char>(value & 0xFF);
  // A literal character beyond the three-byte forms is one 0xBF, as the scanner reads it.
  return value <= 0xFFFF ? ByteOf(static_cast<uint32_t>(value)) : static_cast<char>(0xBF);
}

uint32_t CharRefCodePoint(int64_t value) {
  if (value <= 0xFF) return kCp1252[value & 0xFF];
  if ((value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) return 0xBF;
  return static_cast<uint32_t>(value);
}

void AppendUtf8(uint32_t cp, std::string& out) {
  if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xBF;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void AppendUtf8AsWin1252(std::string_view text, std::string& out) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    // Runs of plain ASCII go in one piece.
    size_t j = i;
    while (j + 8 <= n) {
      uint64_t w;
      std::memcpy(&w, s + j, 8);
      if (w & 0x8080808080808080ull) break;
      j += 8;
    }
    while (j < n && s[j] < 0x80) ++j;
    if (j > i) out.append(text.data() + i, j - i);
    i = j;
    if (i >= n) break;
    unsigned char b = s[i];
    uint32_t cp;
    size_t used;
    if ((b & 0xE0) == 0xC0 && i + 1 < n) {
      cp = ((b & 0x1Fu) << 6) | (s[i + 1] & 0x3Fu);
      used = 2;
    } else if ((b & 0xF0) == 0xE0 && i + 2 < n) {
      cp = (((b & 0x0Fu) << 12) | ((s[i + 1] & 0x3Fu) << 6) | (s[i + 2] & 0x3Fu)) & 0xFFFFu;
      used = 3;
    } else {
      cp = 0xBF;
      used = 0;
      for (unsigned char m = 0x80; m && (b & m); m >>= 1) ++used;
      if (used == 0 || used == 8) used = 1;  // 0xFF counts as one byte
      used = std::min(used, n - i);
    }
    out += ByteOf(cp);
    i += used;
  }
}


size_t Utf8SequenceLength(const unsigned char* s, size_t n) {
  const unsigned char b = s[0];
  size_t len;
  uint32_t min;
  if (b >= 0xC2 && b <= 0xDF) {
    len = 2;
    min = 0x80;
  } else if (b >= 0xE0 && b <= 0xEF) {
    len = 3;
    min = 0x800;
  } else if (b >= 0xF0 && b <= 0xF4) {
    len = 4;
    min = 0x10000;
  } else {
    return 0;
  }
  if (n < len) return 0;
  uint32_t cp = b & (0x7Fu >> len);
  for (size_t k = 1; k < len; ++k) {
    if ((s[k] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (s[k] & 0x3Fu);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

void AppendUtf8OrWin1252AsWin1252(std::string_view text, std::string& out) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    size_t j = i;
    while (j + 8 <= n) {
      uint64_t w;
      std::memcpy(&w, s + j, 8);
      if (w & 0x8080808080808080ull) break;
      j += 8;
    }
    while (j < n && s[j] < 0x80) ++j;
    if (j > i) out.append(text.data() + i, j - i);
    i = j;
    if (i >= n) break;
    const size_t len = Utf8SequenceLength(s + i, n - i);
    if (len == 0) {
      out += static_cast<char>(s[i]);  // not UTF-8: the byte itself
      ++i;
      continue;
    }
    uint32_t cp = s[i] & (0x7Fu >> len);
    for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (s[i + k] & 0x3Fu);
    out += len == 4 ? static_cast<char>(0xBF) : ByteOf(cp);
    i += len;
  }
}

std::string Utf8ToWin1252(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendUtf8AsWin1252(text, out);
  return out;
}

std::string Win1252ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  AppendWin1252AsUtf8(text, out);
  return out;
}

void AppendWin1252AsUtf8(std::string_view text, std::string& out) {
  for (unsigned char b : text) {
    const uint32_t cp = kCp1252[b];
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
}

namespace {

size_t AsciiRun(const unsigned char* s, size_t i, size_t n) {
  while (i + 8 <= n) {
    uint64_t w;
    std::memcpy(&w, s + i, 8);
    if (w & 0x8080808080808080ull) break;
    i += 8;
  }
  while (i < n && s[i] < 0x80) ++i;
  return i;
}

// Well-formed sequences are copied; every other byte is given to `other`.
template <class Other>
void AppendWellFormed(std::string_view text, std::string& out, Other other) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    size_t j = AsciiRun(s, i, n);
    while (j < n) {
      const size_t len = Utf8SequenceLength(s + j, n - j);
      if (len == 0) break;
      j = AsciiRun(s, j + len, n);
    }
    if (j > i) out.append(text.data() + i, j - i);
    i = j;
    if (i >= n) break;
    other(s[i], out);
    ++i;
  }
}

}  // namespace

bool IsAscii(std::string_view text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  return AsciiRun(s, 0, text.size()) == text.size();
}

void AppendUtf8Checked(std::string_view text, std::string& out) {
  AppendWellFormed(text, out, [](unsigned char, std::string& o) { o += "\xEF\xBF\xBD"; });
}

void AppendUtf8OrWin1252AsUtf8(std::string_view text, std::string& out) {
  AppendWellFormed(text, out, [](unsigned char b, std::string& o) {
    const char c = static_cast<char>(b);
    AppendWin1252AsUtf8(std::string_view(&c, 1), o);
  });
}

std::string DisplayUtf8(std::string_view win1252, std::string_view utf8) {
  return utf8.empty() ? Win1252ToUtf8(win1252) : std::string(utf8);
}

bool IsWellFormedUtf8(std::string_view text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  for (size_t i = 0; i < text.size();) {
    if (bytes[i] < 0x80) {
      ++i;
      continue;
    }
    const size_t length = Utf8SequenceLength(bytes + i, text.size() - i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

}  // namespace zibu
