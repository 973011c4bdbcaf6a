#include "rules/keyword_rules.h"

#include "common/ports.h"
#include "common/text.h"

namespace zibu {

namespace {

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

// An empty term never occurs.
bool Occurs(std::string_view term, std::string_view upperText) {
  return !term.empty() && upperText.find(term) != std::string_view::npos;
}

}  // namespace

bool FixKeywordLines(std::vector<std::string>& lines) {
  bool fixed = false;
  for (auto& line : lines) {
    if (line.size() >= 2 && !StartsWith(line, "0:") && !StartsWith(line, "1:")) {
      line.insert(0, "1:");
      fixed = true;
    }
  }
  return fixed;
}

bool FixKeywordLines(std::vector<std::string>& lines, UserPort& port) {
  const bool fixed = FixKeywordLines(lines);
  if (fixed) port.ShowMessage(kKeywordLinesFixedMessage);
  return fixed;
}

std::string CrlfLinesMessage(const std::vector<std::string>& removed) {
  std::string text =
      "A keyword line cannot contain the letters CRLF, which the settings file uses to separate lines.  I "
      "have taken out this keyword line so that it does not come back as two lines; please write it "
      "differently:";
  for (const auto& line : removed) text += "\r\n" + line;
  return text;
}

std::vector<std::string> RemoveCrlfLines(std::vector<std::string>& lines) {
  std::vector<std::string> removed;
  std::erase_if(lines, [&](const std::string& line) {
    if (UpperCase(line).find("CRLF") == std::string::npos) return false;
    removed.push_back(line);
    return true;
  });
  return removed;
}

bool RemoveCrlfLines(std::vector<std::string>& lines, UserPort& port) {
  const std::vector<std::string> removed = RemoveCrlfLines(lines);
  if (removed.empty()) return false;
  port.ShowMessage(CrlfLinesMessage(removed));
  return true;
}

size_t BoundKeywordLines(std::vector<std::string>& lines) {
  size_t used = 0, leftOut = 0;
  std::erase_if(lines, [&](const std::string& line) {
    const size_t size = line.size() + (used > 0 ? 1 : 0);  // its line break before it
    if (line.size() > kMaxKeywordLineBytes || size > kMaxKeywordTextBytes - used) {
      ++leftOut;
      return true;
    }
    used += size;
    return false;
  });
  return leftOut;
}

namespace {

std::string LinesLeftOut(size_t leftOut) {
  return std::to_string(leftOut) + (leftOut == 1 ? " line" : " lines") + " that went past that";
}

}  // namespace

std::string KeywordsTooLongMessage(size_t leftOut) {
  return "Keyword rules can be at most " + std::to_string(kMaxKeywordTextBytes >> 10) + " KB long, and a line at most " +
         std::to_string(kMaxKeywordLineBytes >> 10) + " KB.  I have left out " + LinesLeftOut(leftOut) + ".";
}

std::string KeywordsTooLongLine(const std::string& feedUrl, size_t leftOut) {
  return "The keyword rules of the feed " + feedUrl + " are longer than " +
         std::to_string(kMaxKeywordTextBytes >> 10) + " KB or have a line longer than " +
         std::to_string(kMaxKeywordLineBytes >> 10) + " KB; I left out " + LinesLeftOut(leftOut);
}

std::string TabLinesMessage(const std::vector<std::string>& changed) {
  std::string text =
      "A keyword line cannot contain a tab character, which no article or page line would match.  I have "
      "taken the tabs out of this keyword line; please check that it still says what you mean:";
  for (const auto& line : changed) text += "\r\n" + line;
  return text;
}

std::vector<std::string> RemoveTabs(std::vector<std::string>& lines) {
  std::vector<std::string> changed;
  for (std::string& line : lines) {
    if (line.find('\t') == std::string::npos) continue;
    std::erase(line, '\t');
    changed.push_back(line);
  }
  return changed;
}

bool RemoveTabs(std::vector<std::string>& lines, UserPort& port) {
  const std::vector<std::string> changed = RemoveTabs(lines);
  if (changed.empty()) return false;
  port.ShowMessage(TabLinesMessage(changed));
  return true;
}

bool RuleLineMatches(std::string_view upperTerms, std::string_view text) {
  const std::string upperText = UpperCase(text);
  // Pieces before every comma count, empty ones too; the rest only when not empty.
  std::vector<std::string_view> terms;
  size_t start = 0;
  for (size_t comma; (comma = upperTerms.find(',', start)) != std::string_view::npos; start = comma + 1)
    terms.push_back(upperTerms.substr(start, comma - start));
  if (start < upperTerms.size()) terms.push_back(upperTerms.substr(start));

  int count = 0;
  for (std::string_view term : terms) {
    if (!term.empty() && term[0] == '!') {
      if (Occurs(term.substr(1), upperText)) {
        count = -1;
        break;
      }
      ++count;
    } else if (Occurs(term, upperText)) {
      ++count;
    }
  }
  return count == static_cast<int>(terms.size());
}

KeywordMatch MatchKeywordLine(const std::vector<std::string>& rules, std::string_view text, UserPort& port) {
  for (const auto& line : rules) {
    if (!StartsWith(line, "1:")) {
      port.Log("Ignoring inactive keywords: " + line, true);
      continue;
    }
    const std::string terms = UpperCase(std::string_view(line).substr(2));
    if (terms.empty()) {
      port.Log("No keywords", true);
      continue;
    }
    port.Log("Searching for " + terms, true);
    if (RuleLineMatches(terms, text)) return {terms, line};
    port.Log("No match found for " + terms, true);
  }
  return {};
}

std::string MatchKeywords(const std::vector<std::string>& rules, std::string_view text, UserPort& port) {
  return MatchKeywordLine(rules, text, port).terms;
}

}  // namespace zibu
