#include "rules/keyword_rules.h"

#include <gtest/gtest.h>

#include "feeds/recording_port.h"

namespace zibu {
namespace {

using test::RecordingPort;

std::string Match(const std::vector<std::string>& rules, const std::string& text) {
  RecordingPort port;
  return MatchKeywords(rules, text, port);
}

TEST(KeywordRules, ExamplesOfTwoRuleLines) {
  const std::vector<std::string> rules = {"1:nuclear,inspection", "1:film,!cartoon"};
  EXPECT_EQ(Match(rules, "Nuclear inspection resumes"), "NUCLEAR,INSPECTION");
  EXPECT_EQ(Match(rules, "A new film"), "FILM,!CARTOON");
  EXPECT_EQ(Match(rules, "A new cartoon film"), "");
  EXPECT_EQ(Match(rules, "Nuclear talks"), "");
}

TEST(KeywordRules, NegationSubstringsAndUntrimmedTerms) {
  EXPECT_TRUE(RuleLineMatches("!CARTOON", "A documentary"));
  EXPECT_FALSE(RuleLineMatches("!CARTOON", "Best CarToons of the year"));
  EXPECT_TRUE(RuleLineMatches("TOUR", "Detour ahead"));
  // The blank after the comma belongs to the second term.
  EXPECT_FALSE(RuleLineMatches("IRAN, NUCLEAR", "Iran,nuclear deal"));
  EXPECT_TRUE(RuleLineMatches("IRAN, NUCLEAR", "Iran nuclear deal"));
  EXPECT_EQ(Match({"1:cricket tour,england"}, "England cricket tour begins"), "CRICKET TOUR,ENGLAND");
}

TEST(KeywordRules, EmptyTermsAndTrailingComma) {
  EXPECT_FALSE(RuleLineMatches("A,,B", "a b"));
  EXPECT_FALSE(RuleLineMatches(",A", "a"));
  EXPECT_TRUE(RuleLineMatches("A,", "a"));   // a comma at the end adds no term
  EXPECT_TRUE(RuleLineMatches("A,!", "a"));  // "!" alone is always satisfied
  // Only ASCII letters are folded: an accented letter must match as written.
  EXPECT_FALSE(RuleLineMatches("\xc9T\xc9", "\xe9t\xe9"));
  EXPECT_TRUE(RuleLineMatches("\xe9T\xe9", "\xe9t\xe9"));
}

TEST(KeywordRules, MatchKeywordsLogsEachLineTriedAndStopsAtTheFirstMatch) {
  RecordingPort port;
  const std::vector<std::string> rules = {"0:nuclear", "x", "1:", "1:talks,!peace", "1:nuclear", "1:talks"};
  EXPECT_EQ(MatchKeywords(rules, "Nuclear talks", port), "TALKS,!PEACE");
  // Nothing is written for the lines after the first match.
  EXPECT_EQ(port.Texts(), (std::vector<std::string>{"Ignoring inactive keywords: 0:nuclear",
                                                    "Ignoring inactive keywords: x", "No keywords",
                                                    "Searching for TALKS,!PEACE"}));
  for (const auto& l : port.lines) EXPECT_TRUE(l.verbose) << l.text;

  // The line that matched, as written, with the same trace.
  port.lines.clear();
  const KeywordMatch match = MatchKeywordLine(rules, "Nuclear talks", port);
  EXPECT_EQ(match.terms, "TALKS,!PEACE");
  EXPECT_EQ(match.line, "1:talks,!peace");
  EXPECT_EQ(port.lines.size(), 4u);
  const KeywordMatch none = MatchKeywordLine(rules, "Weather", port);
  EXPECT_EQ(none.terms + none.line, "");

  port.lines.clear();
  EXPECT_EQ(MatchKeywords(rules, "Nuclear peace talks", port), "NUCLEAR");
  EXPECT_EQ(port.Texts(),
            (std::vector<std::string>{
                "Ignoring inactive keywords: 0:nuclear", "Ignoring inactive keywords: x", "No keywords",
                "Searching for TALKS,!PEACE", "No match found for TALKS,!PEACE", "Searching for NUCLEAR"}));
}

TEST(KeywordRules, FixKeywordLinesPrefixesLinesOfTwoOrMoreCharacters) {
  RecordingPort port;
  std::vector<std::string> lines = {"nuclear", "x", "", "0:off", "1:on", "film,!cartoon", "1x"};
  EXPECT_TRUE(FixKeywordLines(lines, port));
  EXPECT_EQ(lines,
            (std::vector<std::string>{"1:nuclear", "x", "", "0:off", "1:on", "1:film,!cartoon", "1:1x"}));
  ASSERT_EQ(port.messages.size(), 1u);  // one message for all fixed lines
  EXPECT_EQ(port.messages[0], kKeywordLinesFixedMessage);

  port.messages.clear();
  EXPECT_FALSE(FixKeywordLines(lines, port));
  EXPECT_TRUE(port.messages.empty());
  // "x" stays inactive.
  EXPECT_EQ(Match({"x"}, "x marks the spot"), "");
}

// A rule holding the letters CRLF would be split by the settings file on the next start; it is
// taken out when entered, with one message naming every line taken out.
TEST(KeywordRules, LinesHoldingCrlfInAnyCaseAreTakenOutWithOneMessage) {
  struct Case {
    std::vector<std::string> lines, kept, removed;
  };
  for (const Case& c : std::vector<Case>{
           {{"1:alpha", "1:beta crlf gamma", "0:CrLf", "1:cr lf"},
            {"1:alpha", "1:cr lf"},
            {"1:beta crlf gamma", "0:CrLf"}},
           {{"1:CRL", "1:RLF"}, {"1:CRL", "1:RLF"}, {}},
           {{"1:xCRLFy"}, {}, {"1:xCRLFy"}},
       }) {
    RecordingPort port;
    std::vector<std::string> lines = c.lines;
    EXPECT_EQ(RemoveCrlfLines(lines, port), !c.removed.empty());
    EXPECT_EQ(lines, c.kept);
    if (c.removed.empty()) {
      EXPECT_TRUE(port.messages.empty());
    } else {
      ASSERT_EQ(port.messages.size(), 1u);
      EXPECT_EQ(port.messages[0], CrlfLinesMessage(c.removed));
      for (const auto& line : c.removed) EXPECT_NE(port.messages[0].find("\r\n" + line), std::string::npos);
    }
  }
}

// A tab can only have been pasted into a rule (Tab moves on in the editors); it is taken out of
// the line, which stays, with one message naming every line changed as it now reads.
TEST(KeywordRules, TabsArePastedOutOfTheLinesWithOneMessage) {
  struct Case {
    std::vector<std::string> lines, left, changed;
  };
  for (const Case& c : std::vector<Case>{
           {{"1:storm,\train", "0:calm"}, {"1:storm,rain", "0:calm"}, {"1:storm,rain"}},
           {{"1:\t\t\t", "\t", "1:a\tb\tc"}, {"1:", "", "1:abc"}, {"1:", "", "1:abc"}},
           {{"1:no tab", ""}, {"1:no tab", ""}, {}},
       }) {
    RecordingPort port;
    std::vector<std::string> lines = c.lines;
    EXPECT_EQ(RemoveTabs(lines, port), !c.changed.empty());
    EXPECT_EQ(lines, c.left);
    if (c.changed.empty()) {
      EXPECT_TRUE(port.messages.empty());
    } else {
      ASSERT_EQ(port.messages.size(), 1u);
      EXPECT_EQ(port.messages[0], TabLinesMessage(c.changed));
      EXPECT_EQ(port.messages[0].find('\t'), std::string::npos);
    }
  }
}

// Rule text is kept to kMaxKeywordTextBytes, line breaks counted, and a line to
// kMaxKeywordLineBytes: each line that would go past either is left out, and the lines after it
// that still fit stay.
TEST(KeywordRules, RuleTextIsBoundedByLeavingOutTheLinesThatGoPast) {
  const size_t line = kMaxKeywordLineBytes;
  const std::string full(line, 'f');
  std::vector<std::string> fourFull(kMaxKeywordTextBytes / line - 1, full);  // with their breaks:
  fourFull.push_back(std::string(line - fourFull.size(), 'l'));                  // exactly the bound
  std::vector<std::string> oneMore = fourFull;
  oneMore.back() += 'm';
  struct Case {
    const char* what;
    std::vector<std::string> lines, kept;
  };
  for (const Case& c : std::vector<Case>{
           {"ordinary rules", {"1:a", "", "0:b"}, {"1:a", "", "0:b"}},
           {"a line of exactly its bound", {full}, {full}},
           {"a line one byte longer", {full + "x", "1:b"}, {"1:b"}},
           {"a 10 MB line between ordinary ones", {"1:a", "1:" + std::string(10u << 20, 'x'), "1:b"}, {"1:a", "1:b"}},
           {"a text of exactly its bound, line breaks counted", fourFull, fourFull},
           {"one byte more", oneMore, std::vector<std::string>(oneMore.begin(), oneMore.end() - 1)},
       }) {
    std::vector<std::string> lines = c.lines;
    EXPECT_EQ(BoundKeywordLines(lines), c.lines.size() - c.kept.size()) << c.what;
    EXPECT_EQ(lines, c.kept) << c.what;
  }
  std::vector<std::string> later = oneMore;
  later.push_back("");  // a later line that still fits stays
  EXPECT_EQ(BoundKeywordLines(later), 1u);
  EXPECT_EQ(later.back(), "");
  EXPECT_EQ(later.size(), oneMore.size());
  EXPECT_EQ(KeywordsTooLongMessage(1),
            "Keyword rules can be at most 64 KB long, and a line at most 16 KB.  I have left out 1 line that went "
            "past that.");
  EXPECT_EQ(KeywordsTooLongLine("http://f/", 2),
            "The keyword rules of the feed http://f/ are longer than 64 KB or have a line longer than 16 KB; I left "
            "out 2 lines that went past that");
}

}  // namespace
}  // namespace zibu
