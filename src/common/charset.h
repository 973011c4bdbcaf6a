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

}  // namespace zibu
