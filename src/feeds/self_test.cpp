#include "feeds/self_test.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <string_view>
#include <vector>

#include "common/errors.h"
#include "common/ports.h"
#include "common/shortintmap.h"
#include "common/text.h"
#include "http/fetch.h"
#include "learning/engine.h"
#include "learning/reltable_file.h"
#include "rules/keyword_rules.h"

namespace zibu {

namespace {

using Words = std::vector<std::string>;

// Numbers stay fixed, so a failure report names the same check whatever the layout of this file.
#define SELF_CHECK(cond, line) ZIBU_CHECK(cond, "feeds", line)

void CheckShortIntMap() {
  TShortIntMap map;
  const char* words[] = {"JORDAN", "ABDULLAH", "SAND", "KATIE", "EQUALS=SIGN"};
  const int8_t values[] = {18, 26, -128, 127, -32};
  for (int i = 0; i < 5; ++i) map.Add(words[i], values[i]);
  SELF_CHECK(map.Count() == 5, 101);
  for (int i = 0; i < 5; ++i) {
    SELF_CHECK(map.IndexOf(words[i]) == i, 102);
    SELF_CHECK(map.Get(words[i]) == values[i], 103);
  }
}

void CheckTextFunctions(UserPort& port) {
  SELF_CHECK(CollapseSpaces("  a   b  c ") == "a b c", 201);
  SELF_CHECK(CollapseSpaces("one  two\tthree") == "one two\tthree", 202);
  Words sorted = {"blah", "test", "aaa"};
  SortUnique(sorted);
  SELF_CHECK(InSortedList("test", sorted), 203);
  SELF_CHECK(InSortedList("AAA", sorted), 204);
  SELF_CHECK(InSortedList("blah", sorted), 205);
  SELF_CHECK(!InSortedList("xblah", sorted), 206);

  SELF_CHECK(
      HtmlToText("test<br><p><script language=javascript>function x():</script>end&quot;") == "test  end\"",
      211);
  SELF_CHECK(HtmlToText("a&nbsp;&amp;&nbsp;b") == "a & b", 212);
  SELF_CHECK(HtmlToText("&#x41;") == "A", 213);
  SELF_CHECK(HtmlToText("<SCRIPT>x</Script>y") == "y", 214);
  SELF_CHECK(HtmlToText("a < b").empty(), 215);

  SELF_CHECK(RuleLineMatches("NUCLEAR,INSPECTION", "Nuclear inspection resumes"), 221);
  SELF_CHECK(RuleLineMatches("FILM,!CARTOON", "A new film"), 222);
  SELF_CHECK(!RuleLineMatches("FILM,!CARTOON", "A new cartoon film"), 223);
  SELF_CHECK(RuleLineMatches("TOUR", "Detour ahead"), 224);
  SELF_CHECK(!RuleLineMatches("IRAN, NUCLEAR", "Iran,nuclear deal"), 225);
  SELF_CHECK(RuleLineMatches("IRAN, NUCLEAR", "Iran nuclear deal"), 226);
  SELF_CHECK(!RuleLineMatches("A,,B", "a b"), 227);
  const Words rules = {"0:nuclear", "1:nuclear,inspection", "1:film,!cartoon"};
  SELF_CHECK(MatchKeywords(rules, "Nuclear inspection resumes", port) == "NUCLEAR,INSPECTION", 228);
  SELF_CHECK(MatchKeywords(rules, "Nuclear talks", port).empty(), 229);
}

void CheckWordLists(LearningEngine& engine) {
  SELF_CHECK(engine.GetWordList("jordan AND THE jordan") == (Words{"JORDAN", "JORDAN"}), 301);
  SELF_CHECK(engine.GetWordList("abdullah's sands") == (Words{"ABDULLAH", "SAND"}), 302);
  SELF_CHECK(GetWordList("CLASS BUSES NEWS abcdefghijklm", 4, 12, {}) == (Words{"CLASS", "BUSE", "NEWS"}),
             303);
}

void RateExamples(LearningEngine& engine) {
  const std::pair<int, const char*> ratings[] = {{9, "jordan abdullah"}, {8, "jordan sand"},
                                                 {-8, "jordan's katie"}, {-5, "katie sands"},
                                                 {-3, "katie abdullah"}, {7, "sand abdullah's"}};
  for (int round = 0; round < 2; ++round)
    for (const auto& [rating, text] : ratings) engine.LearnFromRating(text, rating);
}

int Pair(LearningEngine& engine, const char* a, const char* b) {
  const int x = engine.WordWeights().IndexOf(a);
  const int y = engine.WordWeights().IndexOf(b);
  return engine.RelTable().Get(x, y);
}

struct Scores {
  int simple, relationship, overall;
};

Scores ScoresOf(LearningEngine& engine, std::string_view text) {
  Words words = engine.GetWordList(text);
  const int simple = engine.GetSimpleRelevance(words);
  const int relationship = engine.GetRelationshipRelevance(words);
  return {simple, relationship, engine.GetRelevance(text)};
}

const char* const kScoredTexts[8] = {"jordan abdullah",
                                     "abdullahs jordan",
                                     "jordan sands",
                                     "sand jordan",
                                     "jordan katie",
                                     "katies jordan",
                                     "jordan katie sand abdullah",
                                     "abdullah katie's sand jordan"};

std::vector<int> OverallScores(LearningEngine& engine) {
  std::vector<int> out;
  for (const char* text : kScoredTexts) out.push_back(engine.GetRelevance(text));
  return out;
}

void CheckLearningAndScoring(LearningEngine& engine) {
  engine.ClearLearnedData();
  RateExamples(engine);
  const TShortIntMap& weights = engine.WordWeights();
  SELF_CHECK(weights.Count() == 4, 401);
  SELF_CHECK(weights.KeyAt(0) == "JORDAN" && weights.ValueAt(0) == 18, 402);
  SELF_CHECK(weights.KeyAt(1) == "ABDULLAH" && weights.ValueAt(1) == 26, 403);
  SELF_CHECK(weights.KeyAt(2) == "SAND" && weights.ValueAt(2) == 20, 404);
  SELF_CHECK(weights.KeyAt(3) == "KATIE" && weights.ValueAt(3) == -32, 405);
  SELF_CHECK(Pair(engine, "JORDAN", "ABDULLAH") == 18 && Pair(engine, "ABDULLAH", "JORDAN") == 18, 406);
  SELF_CHECK(Pair(engine, "JORDAN", "SAND") == 16, 407);
  SELF_CHECK(Pair(engine, "JORDAN", "KATIE") == -16, 408);
  SELF_CHECK(Pair(engine, "SAND", "KATIE") == -10, 409);
  SELF_CHECK(Pair(engine, "ABDULLAH", "KATIE") == -6, 410);
  SELF_CHECK(Pair(engine, "ABDULLAH", "SAND") == 14, 411);
  for (int k = 0; k < 4; ++k) SELF_CHECK(engine.RelTable().Get(k, k) == 0, 412);

  const Scores expected[8] = {{44, 36, 40},    {44, 36, 40},    {38, 32, 35}, {38, 32, 35},
                              {-14, -32, -14}, {-14, -32, -14}, {16, 5, 10},  {16, 5, 10}};
  for (int i = 0; i < 8; ++i) {
    const Scores s = ScoresOf(engine, kScoredTexts[i]);
    SELF_CHECK(s.simple == expected[i].simple, 420);
    SELF_CHECK(s.overall == expected[i].overall, 421);
    SELF_CHECK(s.relationship == expected[i].relationship, 422);
  }
  SELF_CHECK(engine.GetRelevance("") == 0, 423);
  SELF_CHECK(engine.GetRelevance("unknown words only") == 0, 424);

  // Saturation at maxWordWeight.
  engine.ClearLearnedData();
  for (int i = 0; i < 100; ++i) engine.LearnFromRating("jordan abdullah katie sand", 10);
  for (int k = 0; k < 4; ++k) SELF_CHECK(engine.WordWeights().ValueAt(k) == 50, 430);
  Words all = engine.GetWordList("jordan katie jordan abdullah katie sand");
  SELF_CHECK(engine.GetRelationshipRelevance(all) == 100, 431);
  for (int i = 0; i < 100; ++i) engine.LearnFromRating("jordan katie", -10);
  SELF_CHECK(Pair(engine, "JORDAN", "KATIE") == -50, 432);
  SELF_CHECK(Pair(engine, "JORDAN", "SAND") == 50, 433);
  Words negative = engine.GetWordList("jordan katie katie");
  SELF_CHECK(engine.GetRelationshipRelevance(negative) == -100, 434);
  Words single = engine.GetWordList("jordan AND THE jordan");
  SELF_CHECK(engine.GetRelationshipRelevance(single) == 0, 435);

  // Leave the example data of the scoring table in place for the file check.
  engine.ClearLearnedData();
  RateExamples(engine);
}

void CheckDataFiles(LearningEngine& engine, const std::string& tempFolder) {
  const std::vector<int> before = OverallScores(engine);
  std::filesystem::create_directories(tempFolder);
  const std::string relPath = tempFolder + "reltable.dat";
  const std::string weightsPath = tempFolder + "rel.dat";
  WriteRelTableFile(engine.RelTable(), relPath);
  engine.WordWeights().SaveToFile(weightsPath);
  engine.ClearLearnedData();
  SELF_CHECK(OverallScores(engine) != before, 501);
  engine.WordWeights().LoadFromFile(weightsPath);
  ReadRelTableFile(engine.RelTable(), relPath);
  std::remove(relPath.c_str());
  std::remove(weightsPath.c_str());
  SELF_CHECK(engine.RelTable().IsSquare(engine.WordCount()), 502);
  SELF_CHECK(OverallScores(engine) == before, 503);
}

void CheckScansAgree(LearningEngine& engine, Words words, int line) {
  SortUnique(words);
  const int64_t single = engine.ScanRelTableSingleThread(words);
  const int64_t multi = words.size() >= 2 ? engine.ScanRelTableMultiThread(words) : single;
  SELF_CHECK(single == multi, line);
}

}  // namespace

SelfTestOutcome RunSelfTests(LearningEngine& engine, UserPort& port, const ProxySettings& proxy,
                             const std::string& tempFolder, const std::string& newsPage) {
  // The examples are worked out for the default word lengths and a bound of 50.
  engine.SetMinWordLength(4);
  engine.SetMaxWordLength(12);
  engine.SetMaxWordWeight(50);

  CheckShortIntMap();
  CheckTextFunctions(port);
  CheckWordLists(engine);
  CheckLearningAndScoring(engine);
  CheckDataFiles(engine, tempFolder);

  // Teach the sentence's words something, so that the sums are not trivially zero.
  const char* sentence =
      "middle east king abdullah rules jordan mightily employing victorious military tactics ";
  engine.LearnFromRating(sentence, 6);
  engine.LearnFromRating("king abdullah military", -9);
  CheckScansAgree(engine, engine.GetWordList(sentence), 601);

  SelfTestOutcome outcome;
  std::string page;
  try {
    page = FetchPage(newsPage, proxy);
  } catch (const std::exception& e) {
    outcome.newsPageProblem = "I could not fetch the news page " + newsPage + ": " + ErrorText(e);
    port.Log(outcome.newsPageProblem);
    return outcome;
  }
  Words pageWords = engine.GetWordList(page);
  engine.LearnFromRating(page, 3);
  CheckScansAgree(engine, pageWords, 602);
  outcome.newsPageChecked = true;
  return outcome;
}

std::string SelfTestMessage(const SelfTestOutcome& outcome) {
  if (outcome.newsPageChecked) return "All tests passed";
  return "All tests passed\r\n(" + outcome.newsPageProblem + ", so that check was left out)";
}

}  // namespace zibu
