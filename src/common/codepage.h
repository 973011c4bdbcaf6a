// Windows-1252, the code page all of the program's text is held in, and its meeting points
// with Unicode: the UTF-8 of documents, and the code points of character references.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zibu {

// The code point a Windows-1252 byte stands for; the five bytes the code page leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for the code points of the same number.
uint32_t Win1252CodePoint(unsigned char byte);

// The byte standing for a code point, or 0xBF ("?" turned over) when no byte does.
char CodePointToWin1252(uint32_t codePoint);

// The byte a character reference ("&#...;") of this value gives: the value's lowest 8 bits up
// to 255 (so "&#150;" is the dash Windows-1252 puts there, as documents that mean it expect),
// above that exactly what the character written literally in a UTF-8 document gives.
char CharRefByte(int64_t value);

// The code point a character reference of this value stands for, in the same sense: up to 255
// the character of the byte CharRefByte gives, above that the value itself, and U+00BF for a
// value that is no character (a surrogate, or beyond U+10FFFF).
uint32_t CharRefCodePoint(int64_t value);

// Appends the UTF-8 form of a code point (U+00BF for one that has none).
void AppendUtf8(uint32_t codePoint, std::string& out);

// UTF-8 to Windows-1252 as the XML scanner converts text: two- and three-byte sequences give
// the byte of their code point, anything else (four-byte sequences included) one 0xBF.
std::string Utf8ToWin1252(std::string_view text);
void AppendUtf8AsWin1252(std::string_view text, std::string& out);
// The same for text that may or may not be UTF-8: a well-formed UTF-8 sequence gives the byte
// of its code point (0xBF for one beyond the three-byte forms), any other byte stays as it is.
void AppendUtf8OrWin1252AsWin1252(std::string_view text, std::string& out);
// The length of the well-formed UTF-8 sequence at s[0..n) (lead byte at least 0x80), or 0.
size_t Utf8SequenceLength(const unsigned char* s, size_t n);
// Windows-1252 to UTF-8, for documents this program writes.
std::string Win1252ToUtf8(std::string_view text);
void AppendWin1252AsUtf8(std::string_view text, std::string& out);

// Whether the text is UTF-8 throughout: every byte from 0x80 on in a well-formed sequence.
bool IsWellFormedUtf8(std::string_view text);

// Whether every byte is below 0x80, so the text reads the same in Windows-1252 and in UTF-8.
bool IsAscii(std::string_view text);

// Text of a UTF-8 document in UTF-8, for showing: well-formed sequences (four-byte ones too) as
// they are, every other byte as U+FFFD.
void AppendUtf8Checked(std::string_view text, std::string& out);
// The same for text that may or may not be UTF-8: a byte outside a well-formed sequence is the
// Windows-1252 character it stands for, as the single-byte text has it.
void AppendUtf8OrWin1252AsUtf8(std::string_view text, std::string& out);

// What to show of a text held twice: its UTF-8 form where it has one, else the single-byte text
// in UTF-8 (an empty UTF-8 form means the two are the same).
std::string DisplayUtf8(std::string_view win1252, std::string_view utf8);

}  // namespace zibu
