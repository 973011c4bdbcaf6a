#include "common/charset.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

#include "common/codepage.h"

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

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (Lower(s[i]) != prefix[i]) return false;
  return true;
}

// The charset a Content-Type value names: after "charset", blanks, "=" and blanks, a quoted
// value or one up to ";" or a blank.
std::string CharsetInContent(std::string_view content) {
  for (size_t i = 0; i + 7 <= content.size(); ++i) {
    if (!StartsWithNoCase(content.substr(i), "charset")) continue;
    size_t k = i + 7;
    while (k < content.size() && IsBlank(content[k])) ++k;
    if (k >= content.size() || content[k] != '=') continue;
    ++k;
    while (k < content.size() && IsBlank(content[k])) ++k;
    if (k < content.size() && (content[k] == '"' || content[k] == '\'')) {
      const size_t close = content.find(content[k], k + 1);
      if (close == std::string_view::npos) return {};
      return std::string(content.substr(k + 1, close - k - 1));
    }
    size_t e = k;
    while (e < content.size() && content[e] != ';' && !IsBlank(content[e])) ++e;
    return std::string(content.substr(k, e - k));
  }
  return {};
}

bool Known(std::string_view charset) {
  const CharsetFamily f = ClassifyCharset(charset);
  if (f == CharsetFamily::None) return false;
  if (f != CharsetFamily::Other) return true;
  const std::string name = IconvCharsetName(charset);
  iconv_t cd = iconv_open("UTF-8", name.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  iconv_close(cd);
  return true;
}

bool IsUtf16Name(std::string_view charset) {
  const std::string n = Normalized(charset);
  return n.rfind("utf-16", 0) == 0 || n == "ucs-2" || n == "unicode" || n == "unicodefffe" ||
         n == "csunicode" || n == "iso-10646-ucs-2";
}

}  // namespace

std::string HtmlMetaCharset(std::string_view page) {
  constexpr size_t kReach = 16 * 1024;
  if (page.size() > kReach) page = page.substr(0, kReach);
  size_t at = 0;
  while (at < page.size()) {
    const size_t lt = page.find('<', at);
    if (lt == std::string_view::npos) break;
    const std::string_view rest = page.substr(lt);
    if (rest.substr(0, 4) == "<!--") {
      const size_t end = page.find("-->", lt + 4);
      if (end == std::string_view::npos) break;
      at = end + 3;
      continue;
    }
    at = lt + 1;
    if (!StartsWithNoCase(rest, "<meta") || rest.size() < 6 || !(IsBlank(rest[5]) || rest[5] == '/')) continue;
    // The attributes of this meta element, up to its ">".
    std::string charset, httpEquiv, content;
    size_t k = lt + 5;
    for (;;) {
      while (k < page.size() && (IsBlank(page[k]) || page[k] == '/')) ++k;
      if (k >= page.size() || page[k] == '>') break;
      size_t nameEnd = k;
      while (nameEnd < page.size() && !IsBlank(page[nameEnd]) && page[nameEnd] != '=' && page[nameEnd] != '>' &&
             page[nameEnd] != '/')
        ++nameEnd;
      std::string name(page.substr(k, nameEnd - k));
      for (char& c : name) c = Lower(c);
      k = nameEnd;
      while (k < page.size() && IsBlank(page[k])) ++k;
      std::string value;
      if (k < page.size() && page[k] == '=') {
        ++k;
        while (k < page.size() && IsBlank(page[k])) ++k;
        if (k < page.size() && (page[k] == '"' || page[k] == '\'')) {
          const size_t close = page.find(page[k], k + 1);
          const size_t end = close == std::string_view::npos ? page.size() : close;
          value = std::string(page.substr(k + 1, end - k - 1));
          k = close == std::string_view::npos ? page.size() : close + 1;
        } else {
          const size_t start = k;
          while (k < page.size() && !IsBlank(page[k]) && page[k] != '>') ++k;
          value = std::string(page.substr(start, k - start));
        }
      }
      if (name == "charset" && charset.empty()) charset = value;
      if (name == "http-equiv") httpEquiv = Normalized(value);
      if (name == "content" && content.empty()) content = value;
      if (name.empty()) ++k;  // a stray byte: step over it
    }
    at = k;
    std::string found = !charset.empty() ? charset : httpEquiv == "content-type" ? CharsetInContent(content) : "";
    found = Normalized(found);
    if (!found.empty()) return IsUtf16Name(found) ? std::string("utf-8") : found;
  }
  return {};
}

std::string HtmlPageCharset(std::string_view page, std::string_view responseCharset) {
  if (page.substr(0, 3) == "\xEF\xBB\xBF") return "UTF-8";
  if (page.substr(0, 2) == "\xFF\xFE") return "UTF-16LE";
  if (page.substr(0, 2) == "\xFE\xFF") return "UTF-16BE";
  if (Known(responseCharset)) return Normalized(responseCharset);
  std::string meta = HtmlMetaCharset(page);
  if (Known(meta)) return meta;
  return "windows-1252";
}

std::string TextToUtf8(std::string_view bytes, std::string_view charset) {
  std::string out;
  switch (ClassifyCharset(charset)) {
    case CharsetFamily::Utf8:
      AppendUtf8OrWin1252AsUtf8(bytes, out);
      return out;
    case CharsetFamily::Other: {
      TranscodeResult r = TranscodeToUtf8(bytes, charset);
      if (r.status == TranscodeResult::Ok) return std::move(r.text);
      break;
    }
    default:
      break;
  }
  AppendWin1252AsUtf8(bytes, out);
  return out;
}

}  // namespace zibu
