// HtmlToText in linear time. The conversion is defined as a series of steps, each of which
// rebuilds the text and searches it again from the start; done literally that is quadratic on
// a page with many tags. Every step below is one left-to-right pass that gives exactly the text
// the repeated search would give. The subtle part is that a deletion or a decoded byte can join
// what was before it with what follows into a new match ("<scr" + "<script>..</script>" + "ipt>",
// "&#38;" + "#65;"): each pass checks that junction explicitly.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>

#include "common/codepage.h"
#include "common/numbers.h"
#include "common/text.h"

namespace zibu {
namespace {

inline char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

// Whether text[pos..] starts with `lower` (given in lower case), ASCII letters compared without case.
inline bool StartsNoCase(std::string_view text, size_t pos, std::string_view lower) {
  if (pos > text.size() || text.size() - pos < lower.size()) return false;
  for (size_t k = 0; k < lower.size(); ++k)
    if (LowerAscii(text[pos + k]) != lower[k]) return false;
  return true;
}

// First occurrence of `lower` at or after `from`, or npos. The pattern starts with a byte that
// has no case ("/" or "<"), so memchr finds the candidates.
size_t FindNoCase(std::string_view text, std::string_view lower, size_t from) {
  const char first = lower[0];
  const char* base = text.data();
  while (from < text.size()) {
    const void* hit = std::memchr(base + from, first, text.size() - from);
    if (!hit) return std::string_view::npos;
    const size_t p = static_cast<const char*>(hit) - base;
    if (StartsNoCase(text, p, lower)) return p;
    from = p + 1;
  }
  return std::string_view::npos;
}

size_t Find(std::string_view text, char c, size_t from) {
  if (from >= text.size()) return std::string_view::npos;
  const void* hit = std::memchr(text.data() + from, c, text.size() - from);
  return hit ? static_cast<const char*>(hit) - text.data() : std::string_view::npos;
}

// A tag cut off at either end gets the missing bracket.
std::string BalanceEnds(std::string_view text) {
  const size_t a = text.find('<');
  const size_t b = text.find('>');
  const bool has_a = a != std::string_view::npos, has_b = b != std::string_view::npos;
  std::string out;
  out.reserve(text.size() + 2);
  if ((has_a && (!has_b || a > b)) || (has_b && !has_a)) out.push_back('<');
  out.append(text);
  if (has_a && !has_b) out.push_back('>');
  return out;
}

// "<br>" and "<p>" (any case, exactly so) become a blank, as do CR, LF and tab. The two
// replacements cannot overlap or create each other, so one pass does both.
std::string ReplaceBreaks(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    size_t j = i;
    while (j < n && text[j] != '<' && text[j] != '\r' && text[j] != '\n' && text[j] != '\t') ++j;
    out.append(text.data() + i, j - i);
    if (j == n) break;
    if (text[j] != '<') {
      out.push_back(' ');
      i = j + 1;
    } else if (StartsNoCase(text, j, "<br>")) {
      out.push_back(' ');
      i = j + 4;
    } else if (StartsNoCase(text, j, "<p>")) {
      out.push_back(' ');
      i = j + 3;
    } else {
      out.push_back('<');
      i = j + 1;
    }
  }
  return out;
}

// Deletes every block from `open` through the first `close` after it, as the repeated
// "first open, first close at or after it" search does, junctions included. `open` starts
// with "<", `close` with "/", so a close never overlaps its open.
std::string RemoveBlocks(std::string_view text, std::string_view open, std::string_view close) {
  std::string out;
  out.reserve(text.size());
  const size_t n = text.size();
  size_t i = 0;
  bool junction = false;  // a deletion just joined out's tail with text[i..]
  while (i < n) {
    size_t start = std::string::npos;  // where in out the next open begins
    if (junction) {
      junction = false;
      // An open that begins in out's last bytes and ends in the text; the leftmost wins.
      const size_t from = out.size() >= open.size() - 1 ? out.size() - (open.size() - 1) : 0;
      for (size_t q = from; q < out.size() && start == std::string::npos; ++q) {
        if (out[q] != '<') continue;
        const size_t have = out.size() - q;
        if (StartsNoCase(out, q, open.substr(0, have)) && StartsNoCase(text, i, open.substr(have))) {
          start = q;
          // The open's remaining bytes are appended so that a stop below keeps them.
          out.append(text.data() + i, open.size() - have);
          i += open.size() - have;
        }
      }
    }
    if (start == std::string::npos) {
      const size_t p = FindNoCase(text, open, i);
      if (p == std::string_view::npos) {
        out.append(text.data() + i, n - i);
        break;
      }
      out.append(text.data() + i, p + open.size() - i);
      start = out.size() - open.size();
      i = p + open.size();
    }
    const size_t e = FindNoCase(text, close, i);
    if (e == std::string_view::npos) {  // no close anywhere after: nothing more is deleted
      out.append(text.data() + i, n - i);
      break;
    }
    out.resize(start);
    i = e + close.size();
    junction = true;
  }
  return out;
}

// Elements that break the line or stand as a block of their own, sorted. Whatever else is
// marked up (links, emphasis, spans, images) sits inside a line of text.
constexpr std::string_view kBlockElements[] = {
    "address", "article",  "aside",  "blockquote", "body",   "br",       "caption",  "center",
    "dd",      "details",  "dialog", "dir",        "div",    "dl",       "dt",       "fieldset",
    "figcaption", "figure", "footer", "form",     "frame",  "frameset", "h1",       "h2",
    "h3",      "h4",       "h5",     "h6",         "head",   "header",   "hgroup",   "hr",
    "html",    "iframe",   "legend", "li",         "main",   "menu",     "nav",      "noscript",
    "ol",      "optgroup", "option", "p",          "pre",    "section",  "summary",  "table",
    "tbody",   "td",       "tfoot",  "th",         "thead",  "title",    "tr",       "ul"};

// Deletes every tag; a "<" with no ">" after it cuts the text there. A block element's tag
// leaves a blank where the text had none, so that "<li>Home</li><li>News</li>" does not read
// as the one word "HomeNews"; inline tags (<b>, <a>, <span>) go without a trace, as "un<b>til</b>"
// is one word. Neither a deletion nor the blank can form a new "<", so no junction check is needed.
std::string RemoveTags(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  for (;;) {
    const size_t s = Find(text, '<', i);
    if (s == std::string_view::npos) {
      out.append(text.data() + i, text.size() - i);
      break;
    }
    out.append(text.data() + i, s - i);
    const size_t e = Find(text, '>', s);
    if (e == std::string_view::npos) break;
    if (!out.empty() && out.back() != ' ' && IsBlockTag(text.substr(s + 1, e - s - 1))) out.push_back(' ');
    i = e + 1;
  }
  return out;
}

// Decodes "&#...;" references, each to the byte the character gives when written literally
// in a UTF-8 document (CharRefByte), or with `utf8` to that character in UTF-8. A decoded "&" or
// "#" can start a new reference with the bytes around it, which is then decoded in turn.
std::string DecodeNumeric(std::string_view text, bool utf8) {
  std::string out;
  out.reserve(text.size());
  const size_t n = text.size();
  size_t i = 0;
  auto finish = [&](std::string_view head) {
    out.append(head);
    out.append(text.data() + i, n - i);
  };
  for (;;) {
    const size_t p = Find(text, '&', i);
    if (p == std::string_view::npos) {
      finish({});
      return out;
    }
    out.append(text.data() + i, p - i);
    i = p + 1;
    if (i >= n || text[i] != '#') {
      out.push_back('&');
      continue;
    }
    // A reference "&#" at text[p]; `pending` holds the bytes of the reference before text[i].
    std::string_view pending = "&";
    for (;;) {
      const size_t e = Find(text, ';', i);
      if (e == std::string_view::npos) {
        finish(pending);
        return out;
      }
      // text[i] is the "#" (or, after a decoded "#", the first digit).
      const size_t digits = pending.size() == 1 ? i + 1 : i;
      const int32_t value = StrToInt(text.substr(digits, e - digits));
      const char b = CharRefByte(value);
      i = e + 1;
      if (b == '#' && !out.empty() && out.back() == '&') {
        out.pop_back();
        pending = "&#";
        continue;
      }
      if (b == '&' && i < n && text[i] == '#') {
        pending = "&";
        continue;
      }
      if (utf8)
        AppendUtf8(CharRefCodePoint(value), out);
      else
        out.push_back(b);
      break;
    }
  }
}

struct NamedRef {
  std::string_view name;  // between "&" and ";", lower case
  std::string_view replacement;
};

// In the order they are replaced. The first four are replaced before "&amp;" and the rest after,
// so the "&" that "&amp;" leaves can start only one of the rest.
constexpr NamedRef kBeforeAmp[] = {{"lt", "<"}, {"gt", ">"}, {"nbsp", " "}, {"quot", "\""}};
constexpr NamedRef kAfterAmp[] = {{"copy", "(c)"}, {"mdash", "---"}, {"ndash", "--"},
                                  {"raquo", ">>"}, {"euro", "EURO"}, {"pound", "\xA3"}};

// Length of the reference "name;" at text[pos..] if it is one of `refs`, with its replacement.
template <size_t N>
const NamedRef* MatchRef(std::string_view text, size_t pos, const NamedRef (&refs)[N]) {
  for (const NamedRef& r : refs)
    if (StartsNoCase(text, pos, r.name) && pos + r.name.size() < text.size() &&
        text[pos + r.name.size()] == ';')
      return &r;
  return nullptr;
}

// The one replacement beyond ASCII, the pound sign, in the text's own form.
std::string_view Replacement(const NamedRef& ref, bool utf8) {
  return utf8 && ref.replacement == "\xA3" ? std::string_view("\xC2\xA3") : ref.replacement;
}

// Every reference starts with "&", holds no other "&" and ends with ";", and no replacement
// but the "&" of "&amp;" contains any of these, so each "&" of the text is decided on its own.
std::string DecodeNamed(std::string_view text, bool utf8) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  for (;;) {
    const size_t p = Find(text, '&', i);
    if (p == std::string_view::npos) {
      out.append(text.data() + i, text.size() - i);
      return out;
    }
    out.append(text.data() + i, p - i);
    i = p + 1;
    if (const NamedRef* r = MatchRef(text, i, kBeforeAmp)) {
      out.append(r->replacement);
      i += r->name.size() + 1;
    } else if (StartsNoCase(text, i, "amp;")) {
      i += 4;
      if (const NamedRef* r2 = MatchRef(text, i, kAfterAmp)) {
        out.append(Replacement(*r2, utf8));
        i += r2->name.size() + 1;
      } else {
        out.push_back('&');
      }
    } else if (const NamedRef* r3 = MatchRef(text, i, kAfterAmp)) {
      out.append(Replacement(*r3, utf8));
      i += r3->name.size() + 1;
    } else {
      out.push_back('&');
    }
  }
}

}  // namespace

bool IsBlockTag(std::string_view tag) {
  if (!tag.empty() && tag.front() == '/') tag.remove_prefix(1);
  size_t n = 0;
  char name[16];
  while (n < tag.size() && std::isalnum(static_cast<unsigned char>(tag[n]))) {
    if (n == sizeof name) return false;
    name[n] = LowerAscii(tag[n]);
    ++n;
  }
  // The name ends the tag or is followed by attributes or the "/" of a self-closing tag.
  if (n == 0 || (n < tag.size() && tag[n] != '/' && static_cast<unsigned char>(tag[n]) > ' ')) return false;
  return std::binary_search(std::begin(kBlockElements), std::end(kBlockElements), std::string_view(name, n));
}

namespace {

std::string ConvertHtml(std::string_view html, bool utf8) {
  std::string t = BalanceEnds(html);
  t = ReplaceBreaks(t);
  t = RemoveBlocks(t, "<script", "/script>");
  t = RemoveBlocks(t, "<style", "/style>");
  t = RemoveTags(t);
  t = DecodeNumeric(t, utf8);
  return DecodeNamed(t, utf8);
}

}  // namespace

std::string HtmlToText(std::string_view html) {
  return ConvertHtml(html, false);
}

std::string HtmlToTextUtf8(std::string_view html) {
  return ConvertHtml(html, true);
}

}  // namespace zibu
