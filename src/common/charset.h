// Documents written in an encoding other than the program's own Windows-1252 or UTF-8: the
// charset names documents and servers give, and their text turned into UTF-8 (by the C
// library's iconv, so every encoding the system knows is read).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zibu {

enum class CharsetFamily {
  None,         // no name at all
  Utf8,         // UTF-8 under any of its names
  Windows1252,  // Windows-1252, Latin-1 or ASCII: read byte for byte, as all text is held
  Other,        // anything else: to be turned into UTF-8 first
};

// What a charset name (any letter case, blanks and quotes around it allowed) stands for.
CharsetFamily ClassifyCharset(std::string_view name);

// The name iconv reads a charset name by. Names that browsers read as a larger Microsoft code
// page get that code page (Shift_JIS as Windows-31J, which keeps "\" and "~" the ASCII
// characters they are on the web, EUC-KR as code page 949, GB2312 and GBK as GB18030, ...);
// every other name is passed on as it is.
std::string IconvCharsetName(std::string_view name);

struct TranscodeResult {
  enum Status {
    Ok,             // `text` holds the document in UTF-8
    UnknownCharset,  // iconv knows no such encoding
    InvalidBytes,    // the bytes at `badOffset` are not text in that encoding
  };
  Status status = Ok;
  std::string text;
  size_t badOffset = 0;
};

// `bytes` in the charset `name`, as UTF-8. A character cut off by the end of the bytes (a
// download cut short) is dropped; any other byte the encoding rejects fails the whole text, so
// a caller can go on reading it as before.
TranscodeResult TranscodeToUtf8(std::string_view bytes, std::string_view name);

// The charset a web page is in, as a browser decides it: a byte-order mark ("UTF-8",
// "UTF-16LE", "UTF-16BE"); else the charset the response's Content-Type named, when it is one
// iconv knows; else the page's own <meta charset="..."> or <meta http-equiv="Content-Type"
// content="...; charset=..."> (UTF-16 named there means UTF-8, as the page could not have been
// read that far otherwise); else "windows-1252", HTML's default.
std::string HtmlPageCharset(std::string_view page, std::string_view responseCharset = {});
// The charset the page's own meta element names, "" when none does (within its first 16 KiB).
std::string HtmlMetaCharset(std::string_view page);

// Bytes of a text in `charset`, for showing, in UTF-8: a UTF-8 text keeps its well-formed
// sequences and gives other bytes the Windows-1252 characters they stand for; a Windows-1252
// text, or one whose bytes the charset rejects, is read as Windows-1252.
std::string TextToUtf8(std::string_view bytes, std::string_view charset);

}  // namespace zibu
