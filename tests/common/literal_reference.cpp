#include "literal_reference.h"

#include "common/codepage.h"
#include "common/numbers.h"
#include "common/text.h"

namespace zibu::literal {
namespace {

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool MatchAt(std::string_view text, size_t pos, std::string_view pattern, bool ignoreCase) {
  if (text.size() - pos < pattern.size()) return false;
  for (size_t k = 0; k < pattern.size(); ++k) {
    const char a = text[pos + k], b = pattern[k];
    if (ignoreCase ? Lower(a) != Lower(b) : a != b) return false;
  }
  return true;
}

// 1-based position of the first occurrence at or after `from` (1-based), 0 when none.
size_t PosEx(std::string_view pattern, std::string_view text, size_t from, bool ignoreCase) {
  if (!ignoreCase) {
    const size_t p = text.find(pattern, from - 1);
    return p == std::string_view::npos ? 0 : p + 1;
  }
  for (size_t i = from - 1; i < text.size(); ++i)
    if (MatchAt(text, i, pattern, ignoreCase)) return i + 1;
  return 0;
}

void RemoveBlocks(std::string& s, std::string_view open, std::string_view close) {
  for (;;) {
    const size_t st = PosEx(open, s, 1, true);
    if (st == 0) return;
    const size_t e = PosEx(close, s, st, true);
    if (e == 0) return;
    // Delete from st through e + len(close) - 1 (1-based).
    s.erase(st - 1, e + close.size() - st);
  }
}

}  // namespace

std::string StringReplaceAll(std::string_view text, std::string_view pattern, std::string_view replacement,
                             bool ignoreCase) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    if (MatchAt(text, i, pattern, ignoreCase)) {
      out += replacement;
      i += pattern.size();
    } else {
      out += text[i++];
    }
  }
  return out;
}

std::string HtmlToText(std::string_view html, bool blockBlanks) {
  std::string s(html);
  // 1. Balance a cut-off tag at the ends.
  const size_t a = PosEx("<", s, 1, false), b = PosEx(">", s, 1, false);
  if (a > b || (b > 0 && a == 0)) s = "<" + s;
  if (a > 0 && b == 0) s += ">";
  // 2. Breaks and paragraphs, then line breaks and tabs.
  s = StringReplaceAll(s, "<br>", " ", true);
  s = StringReplaceAll(s, "<p>", " ", true);
  s = StringReplaceAll(s, "\r", " ", false);
  s = StringReplaceAll(s, "\n", " ", false);
  s = StringReplaceAll(s, "\t", " ", false);
  // 3, 4. Scripts and style sheets.
  RemoveBlocks(s, "<script", "/script>");
  RemoveBlocks(s, "<style", "/style>");
  // 5. Tags.
  for (;;) {
    const size_t st = PosEx("<", s, 1, false);
    if (st == 0) break;
    const size_t e = PosEx(">", s, st, false);
    if (e == 0) {
      s.erase(st - 1);
      break;
    }
    const bool blank = blockBlanks && st > 1 && s[st - 2] != ' ' && IsBlockTag(s.substr(st, e - st - 1));
    s.replace(st - 1, e - st + 1, blank ? " " : "");
  }
  // 6. Numeric references.
  for (;;) {
    const size_t st = PosEx("&#", s, 1, false);
    if (st == 0) break;
    const size_t e = PosEx(";", s, st, false);
    if (e == 0) break;
    const int v = StrToInt(std::string_view(s).substr(st + 1, e - st - 2));
    // Above 255: what the character gives when written literally in a UTF-8 document.
    char b = static_cast<char>(v & 0xFF);
    if (v > 0xFF) {
      std::string literal;
      AppendUtf8(static_cast<uint32_t>(v), literal);
      b = Utf8ToWin1252(literal)[0];
    }
    s.replace(st - 1, e - st + 1, 1, b);
  }
  // 7. Named references, in this order.
  static const std::pair<const char*, const char*> kNamed[] = {
      {"&lt;", "<"},     {"&gt;", ">"},      {"&nbsp;", " "},    {"&quot;", "\""},
      {"&amp;", "&"},    {"&copy;", "(c)"},  {"&mdash;", "---"}, {"&ndash;", "--"},
      {"&raquo;", ">>"}, {"&euro;", "EURO"}, {"&pound;", "\xA3"}};
  for (const auto& [from, to] : kNamed) s = StringReplaceAll(s, from, to, true);
  return s;
}

std::string CollapseSpaces(std::string_view text) {
  std::string s = Trim(text);
  size_t n = 0;
  while (s.find(std::string(n + 1, ' ')) != std::string::npos) ++n;
  for (size_t k = n; k >= 2; --k) {
    const std::string run(k, ' ');
    if (s.find(run) != std::string::npos) s = StringReplaceAll(s, run, " ", false);
  }
  return s;
}

std::vector<std::string> GetWordList(std::string_view text, int minWordLength, int maxWordLength,
                                     const std::vector<std::string>& commonWords) {
  std::string s = Trim(UpperCase(literal::HtmlToText(text)));
  s = StringReplaceAll(s, "'S", "", false);
  s = StringReplaceAll(s, "'", "", false);
  s = LettersOnly(s);
  std::vector<std::string> list = SplitString(s, " ");
  for (int i = static_cast<int>(list.size()) - 1; i >= 0; --i) {
    std::string& w = list[static_cast<size_t>(i)];
    w = Trim(w);
    const int len = static_cast<int>(w.size());
    if (len == 0 || len < minWordLength || len > maxWordLength) {
      list.erase(list.begin() + i);
      continue;
    }
    if (len > minWordLength && len >= 2 && w[len - 1] == 'S' && w[len - 2] != 'S') w.pop_back();
    if (InSortedList(w, commonWords)) list.erase(list.begin() + i);
  }
  return list;
}

}  // namespace zibu::literal
