// JSON output for zibu-cli. Strings are byte strings: each byte becomes the JSON character
// of the same code point (0x80-0xFF as \u0080-\u00ff), so the bytes can be recovered exactly.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "common/codepage.h"

namespace zibu::cli {

inline std::string JsonBytes(std::string_view s) {
  static const char* hex = "0123456789abcdef";
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          out += "\\u00";
          out += hex[c >> 4];
          out += hex[c & 15];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
  return out;
}

// A JSON string of UTF-8 text, its characters written as they are; a byte that is not part of a
// well-formed sequence is taken for the Windows-1252 character it stands for.
inline std::string JsonUtf8(std::string_view s) {
  std::string text;
  AppendUtf8OrWin1252AsUtf8(s, text);
  static const char* hex = "0123456789abcdef";
  std::string out = "\"";
  for (char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          out += "\\u00";
          out += hex[c >> 4];
          out += hex[c & 15];
        } else {
          out += ch;
        }
    }
  }
  out += '"';
  return out;
}

}  // namespace zibu::cli
