#include "common/charset.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

namespace zibu {
namespace {

// Lower case, without the blanks and quotes that servers and documents put around names.
std::string Normalized(std::string_view name) {
  auto skip = [](char c) { return c == ' ' || c == '\t' || c == '"' || c == '\'' || c == '\r' || c == '\n'; };
  while (!name.empty() && skip(name.front())) name.remove_prefix(1);
  while (!name.empty() && skip(name.back())) name.remove_suffix(1);
  std::string out(name);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool OneOf(const std::string& name, std::initializer_list<const char*> names) {
  for (const char* n : names)
    if (name == n) return true;
  return false;
}

}  // namespace

CharsetFamily ClassifyCharset(std::string_view name) {
  const std::string n = Normalized(name);
  if (n.empty()) return CharsetFamily::None;
  if (OneOf(n, {"utf-8", "utf8", "unicode-1-1-utf-8", "x-unicode20utf8", "unicode20utf8"}))
    return CharsetFamily::Utf8;
  if (OneOf(n, {"windows-1252", "cp1252", "x-cp1252", "ms-ansi", "iso-8859-1", "iso8859-1", "iso88591",
                "iso_8859-1", "iso_8859-1:1987", "iso-ir-100", "latin1", "latin-1", "l1", "ibm819", "cp819",
                "csisolatin1", "us-ascii", "ascii", "ansi_x3.4-1968", "ansi_x3.4-1986", "iso-ir-6", "iso646-us",
                "us", "ibm367", "cp367", "csascii"}))
    return CharsetFamily::Windows1252;
  return CharsetFamily::Other;
}

std::string IconvCharsetName(std::string_view name) {
  const std::string n = Normalized(name);
  if (OneOf(n, {"shift_jis", "shift-jis", "sjis", "ms_kanji", "csshiftjis", "x-sjis", "windows-31j", "ms932",
                "cp932"}))
    return "CP932";
  if (OneOf(n, {"euc-kr", "euckr", "ks_c_5601-1987", "ks_c_5601-1989", "ksc5601", "ksc_5601", "korean",
                "csksc56011987", "iso-ir-149", "windows-949", "cp949"}))
    return "CP949";
  if (OneOf(n, {"gb2312", "gbk", "chinese", "csgb2312", "csiso58gb231280", "gb_2312", "gb_2312-80", "iso-ir-58",
                "x-gbk", "cp936", "windows-936", "gb18030"}))
    return "GB18030";
  if (OneOf(n, {"big5", "big5-hkscs", "cn-big5", "csbig5", "x-x-big5"})) return "BIG5-HKSCS";
  if (OneOf(n, {"iso-8859-9", "iso8859-9", "iso88599", "iso_8859-9", "latin5", "l5", "csisolatin5"}))
    return "WINDOWS-1254";
  if (OneOf(n, {"tis-620", "iso-8859-11", "iso8859-11", "iso885911", "dos-874"})) return "WINDOWS-874";
  return n;
}

TranscodeResult TranscodeToUtf8(std::string_view bytes, std::string_view name) {
  TranscodeResult result;
  const std::string from = IconvCharsetName(name);
  iconv_t cd = from.empty() ? reinterpret_cast<iconv_t>(-1) : iconv_open("UTF-8", from.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    result.status = TranscodeResult::UnknownCharset;
    return result;
  }
  std::string& out = result.text;
  out.resize(bytes.size() + bytes.size() / 2 + 16);
  // iconv takes a non-const input pointer but does not write through it.
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  size_t used = 0;
  bool flushing = false;
  for (;;) {
    char* o = out.data() + used;
    size_t oLeft = out.size() - used;
    const size_t r = flushing ? iconv(cd, nullptr, nullptr, &o, &oLeft) : iconv(cd, &in, &inLeft, &o, &oLeft);
    used = static_cast<size_t>(o - out.data());
    if (r != static_cast<size_t>(-1)) {
      if (flushing) break;
      flushing = true;  // a stateful encoding may still owe a shift back
      continue;
    }
    if (errno == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    if (errno == EINVAL) {  // the last character is cut off
      inLeft = 0;
      flushing = true;
      continue;
    }
    result.status = TranscodeResult::InvalidBytes;
    result.badOffset = bytes.size() - inLeft;
    out.clear();
    break;
  }
  iconv_close(cd);
  if (result.status == TranscodeResult::Ok) out.resize(used);
  return result;
}

}  // namespace zibu
