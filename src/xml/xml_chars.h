// Byte classes and small helpers shared by the scanner's source files.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace zibu::xml_detail {

enum : uint8_t {
  kWhite = 1,         // tab, line feed, carriage return, space
  kNameStart = 2,     // ":" "A"-"Z" "_" "a"-"z" and most bytes from 0xC0 up
  kTextStop = 4,      // NUL "<" "&"
  kTagNameEnd = 8,    // NUL ">" white "/"
  kAttrNameEnd = 16,  // NUL ">" white "/" "="
  kPiTargetEnd = 32,  // NUL ">" white "?"
  kDeclNameEnd = 64,  // NUL ">" white quotes "#" (attribute-list names)
  kEntNameEnd = 128,  // NUL ">" white quotes (entity names, "#" keywords, type keywords)
};

struct CharTable {
  uint8_t bits[256];
  constexpr CharTable() : bits() {
    for (int c : {9, 10, 13, 32}) bits[c] |= kWhite;
    for (int c = 'A'; c <= 'Z'; ++c) bits[c] |= kNameStart;
    for (int c = 'a'; c <= 'z'; ++c) bits[c] |= kNameStart;
    bits[static_cast<unsigned char>(':')] |= kNameStart;
    bits[static_cast<unsigned char>('_')] |= kNameStart;
    for (int c = 0xC0; c <= 0xFF; ++c)
      if (c != 0xD7 && c != 0xF7) bits[c] |= kNameStart;
    for (int c : {0, int('<'), int('&')}) bits[c] |= kTextStop;
    const uint8_t ends = kTagNameEnd | kAttrNameEnd | kPiTargetEnd | kDeclNameEnd | kEntNameEnd;
    bits[0] |= ends;
    bits[static_cast<unsigned char>('>')] |= ends;
    for (int c : {9, 10, 13, 32}) bits[c] |= ends;
    bits[static_cast<unsigned char>('/')] |= kTagNameEnd | kAttrNameEnd;
    bits[static_cast<unsigned char>('=')] |= kAttrNameEnd;
    bits[static_cast<unsigned char>('?')] |= kPiTargetEnd;
    bits[static_cast<unsigned char>('"')] |= kDeclNameEnd | kEntNameEnd;
    bits[static_cast<unsigned char>('\'')] |= kDeclNameEnd | kEntNameEnd;
    bits[static_cast<unsigned char>('#')] |= kDeclNameEnd;
  }
};

inline constexpr CharTable kChars{};

inline bool Is(char c, uint8_t cls) {
  return (kChars.bits[static_cast<uint8_t>(c)] & cls) != 0;
}
inline bool IsWhite(char c) {
  return Is(c, kWhite);
}
inline bool IsNameStart(char c) {
  return Is(c, kNameStart);
}

// End of a name starting at p: the first byte keeps its place even when it belongs to the
// end set (but never a NUL); then up to the first byte of the end set.
inline const char* NameEnd(const char* p, uint8_t endSet) {
  if (*p == '\0') return p;
  ++p;
  while (!Is(*p, endSet)) ++p;
  return p;
}

inline bool StartsWith(const char* p, const char* prefix) {
  return std::strncmp(p, prefix, std::strlen(prefix)) == 0;
}

inline const char* TextEnd(const char* p) {
  return p + std::strlen(p);
}

inline std::string RemoveWhite(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s)
    if (!IsWhite(c)) out += c;
  return out;
}

// Reads a quoted literal at p (p at the opening quote); returns the closing quote, or the
// NUL ending the text when there is none.
inline const char* ReadLiteral(const char* p, std::string& out) {
  char quote = *p;
  const char* s = p + 1;
  const char* e = s;
  while (*e && *e != quote) ++e;
  out.assign(s, e);
  return e;
}

// Replaces character references "&#...;" by their character: the byte CharRefByte gives, or with
// `utf8` its UTF-8 form, for text that is still to be converted from UTF-8 (so that a reference
// ends up as what the literal character gives). An invalid hexadecimal number counts as
// `badHex`, an invalid decimal one as 32.
std::string ReplaceCharRefs(std::string_view text, int badHex, bool utf8);

// Number of a character reference: `digits` follows "&#" or "&#x".
int CharRefValue(std::string_view digits, bool hex, int bad);

}  // namespace zibu::xml_detail
