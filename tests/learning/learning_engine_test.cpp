#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <deque>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <tuple>

#include "common/settings.h"
#include "common/shortintmap.h"
#include "common/text.h"
#include "learning/engine.h"
#include "learning/reltable_file.h"
#include "learning_fixture.h"

using namespace zibu;
using zibu::testing::LearnExample;
using zibu::testing::RecordingPort;
using zibu::testing::ScratchDir;

namespace {

int Weight(LearningEngine& e, const std::string& w) {
  return e.WordWeights().Get(w);
}

int Pair(LearningEngine& e, const std::string& a, const std::string& b) {
  const int ia = e.WordWeights().IndexOf(a), ib = e.WordWeights().IndexOf(b);
  EXPECT_EQ(e.RelTable().Get(ia, ib), e.RelTable().Get(ib, ia)) << a << "-" << b;
  return e.RelTable().Get(ia, ib);
}

std::vector<std::string> Words(LearningEngine& e, const char* text) {
  return e.GetWordList(text);
}

}  // namespace

TEST(Learning, SixRatingsTwiceGiveTheExampleWeightsAndPairs) {
  RecordingPort port;
  LearningEngine e(port);
  LearnExample(e);

  ASSERT_EQ(e.WordCount(), 4);
  EXPECT_EQ(e.WordWeights().KeyAt(0), "JORDAN");
  EXPECT_EQ(e.WordWeights().KeyAt(1), "ABDULLAH");
  EXPECT_EQ(e.WordWeights().KeyAt(2), "SAND");
  EXPECT_EQ(e.WordWeights().KeyAt(3), "KATIE");
  EXPECT_EQ(Weight(e, "JORDAN"), 18);
  EXPECT_EQ(Weight(e, "ABDULLAH"), 26);
  EXPECT_EQ(Weight(e, "SAND"), 20);
  EXPECT_EQ(Weight(e, "KATIE"), -32);

  EXPECT_TRUE(e.RelTable().IsSquare(4));
  EXPECT_EQ(Pair(e, "JORDAN", "ABDULLAH"), 18);
  EXPECT_EQ(Pair(e, "JORDAN", "SAND"), 16);
  EXPECT_EQ(Pair(e, "JORDAN", "KATIE"), -16);
  EXPECT_EQ(Pair(e, "SAND", "KATIE"), -10);
  EXPECT_EQ(Pair(e, "ABDULLAH", "KATIE"), -6);
  EXPECT_EQ(Pair(e, "ABDULLAH", "SAND"), 14);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(e.RelTable().Get(k, k), 0);

  EXPECT_TRUE(port.Logged("Updating relevance"));
  EXPECT_TRUE(port.Logged("Updating rel table"));
  for (const auto& l : port.logs) EXPECT_TRUE(l.verbose) << l.text;
}

TEST(Learning, RatingsAreBoundedByMaxWordWeight) {
  RecordingPort port;
  LearningEngine e(port);
  e.SetMaxWordWeight(50);
  for (int i = 0; i < 100; ++i) e.LearnFromRating(10, "jordan abdullah katie sand");
  for (const char* w : {"JORDAN", "ABDULLAH", "KATIE", "SAND"}) EXPECT_EQ(Weight(e, w), 50) << w;
  const char* all[] = {"JORDAN", "ABDULLAH", "KATIE", "SAND"};
  for (int a = 0; a < 4; ++a)
    for (int b = a + 1; b < 4; ++b) EXPECT_EQ(Pair(e, all[a], all[b]), 50);

  auto w = Words(e, "jordan katie jordan abdullah katie sand");
  EXPECT_EQ(e.GetRelationshipRelevance(w), 100);

  for (int i = 0; i < 100; ++i) e.LearnFromRating(-10, "jordan katie");
  EXPECT_EQ(Pair(e, "JORDAN", "KATIE"), -50);
  EXPECT_EQ(Pair(e, "JORDAN", "ABDULLAH"), 50);
  EXPECT_EQ(Pair(e, "JORDAN", "SAND"), 50);
  EXPECT_EQ(Pair(e, "KATIE", "SAND"), 50);
  EXPECT_EQ(Pair(e, "KATIE", "ABDULLAH"), 50);
  EXPECT_EQ(Pair(e, "ABDULLAH", "SAND"), 50);
  w = Words(e, "jordan katie katie");
  EXPECT_EQ(e.GetRelationshipRelevance(w), -100);
}

TEST(Learning, RepeatsMoveWeightsPerOccurrenceButPairsOnce) {
  RecordingPort port;
  LearningEngine e(port);
  EXPECT_EQ(Words(e, "jordan AND THE jordan"), (std::vector<std::string>{"JORDAN", "JORDAN"}));
  e.LearnFromRating(3, "jordan AND THE jordan");
  EXPECT_EQ(Weight(e, "JORDAN"), 6);
  // One distinct word: no pair changes, but the table grows to take the new word.
  EXPECT_TRUE(e.RelTable().IsSquare(1));
  EXPECT_EQ(e.RelTable().Get(0, 0), 0);

  e.LearnFromRating(4, "jordan sand jordan");
  EXPECT_EQ(Weight(e, "JORDAN"), 14);
  EXPECT_EQ(Weight(e, "SAND"), 4);
  EXPECT_EQ(Pair(e, "JORDAN", "SAND"), 4);

  // Three new words: three more rows and columns, zero except the three new pairs.
  e.LearnFromRating(-2, "alpha bravo charlie");
  ASSERT_TRUE(e.RelTable().IsSquare(5));
  for (int a = 0; a < 5; ++a)
    for (int b = 0; b < 5; ++b) {
      const bool newPair = a >= 2 && b >= 2 && a != b;
      const bool oldPair = (a == 0 && b == 1) || (a == 1 && b == 0);
      EXPECT_EQ(e.RelTable().Get(a, b), newPair ? -2 : oldPair ? 4 : 0) << a << "," << b;
    }
}

TEST(Learning, RatingZeroAndWordlessTextsTeachNothing) {
  RecordingPort port;
  LearningEngine e(port);
  e.LearnFromRating(0, "entirely unknown words");
  EXPECT_EQ(e.WordCount(), 0);
  EXPECT_TRUE(port.logs.empty());
  e.LearnFromRating(5, "a to be or");
  EXPECT_EQ(e.WordCount(), 0);
  EXPECT_EQ(e.RelTable().RowCount(), 0);
}

TEST(Scoring, TheEightExampleTextsScoreAsTabled) {
  RecordingPort port;
  LearningEngine e(port);
  LearnExample(e);
  struct Row {
    const char* text;
    int simple, rel, overall;
  };
  // rel for the two "katie" texts is what "Check Rel" shows; overall does not compute it.
  const Row rows[] = {{"jordan abdullah", 44, 36, 40},
                      {"abdullahs jordan", 44, 36, 40},
                      {"jordan sands", 38, 32, 35},
                      {"sand jordan", 38, 32, 35},
                      {"jordan katie", -14, -32, -14},
                      {"katies jordan", -14, -32, -14},
                      {"jordan katie sand abdullah", 16, 5, 10},
                      {"abdullah katie's sand jordan", 16, 5, 10}};
  for (const auto& r : rows) {
    auto words = e.GetWordList(r.text);
    EXPECT_EQ(e.GetSimpleRelevance(words), r.simple) << r.text;
    EXPECT_EQ(e.GetRelationshipRelevance(words), r.rel) << r.text;
    EXPECT_EQ(e.GetRelevance(r.text), r.overall) << r.text;
  }
  port.Reset();
  EXPECT_EQ(e.GetRelevance("jordan abdullah"), 40);
  EXPECT_TRUE(port.Logged("Checking relevance"));
  EXPECT_TRUE(port.Logged("Relevance=44%"));
  EXPECT_TRUE(port.Logged("Checking 2 words against rel table with single thread"));
  EXPECT_TRUE(port.Logged("Relationship relevance=40%"));

  // A negative simple relevance skips the relationship scan.
  port.Reset();
  EXPECT_EQ(e.GetRelevance("jordan katie"), -14);
  for (const auto& l : port.logs) EXPECT_EQ(l.text.find("rel table"), std::string::npos) << l.text;
}

TEST(Scoring, UnknownAndShortTexts) {
  RecordingPort port;
  LearningEngine e(port);
  LearnExample(e);
  auto one = e.GetWordList("jordan");
  EXPECT_EQ(e.GetRelationshipRelevance(one), 0);
  auto twice = e.GetWordList("jordan AND THE jordan");
  EXPECT_EQ(e.GetRelationshipRelevance(twice), 0);
  EXPECT_EQ(e.GetRelevance("never rated words here"), 0);
  EXPECT_EQ(e.GetRelevance(""), 0);
  // One liked word and one unknown one: half the liked word's scaled weight.
  auto mixed = e.GetWordList("abdullah zebra");
  EXPECT_EQ(e.GetSimpleRelevance(mixed), 52 / 2);
  // Truncation toward zero, per word: -32 * 100 / 50 = -64; with two unknowns -64 / 3 = -21.
  auto neg = e.GetWordList("katie zebra yellow");
  EXPECT_EQ(e.GetSimpleRelevance(neg), -21);
}

TEST(Scoring, MaxWordWeightScalesEveryTermBeforeSumming) {
  RecordingPort port;
  LearningEngine e(port);
  e.SetMaxWordWeight(7);
  e.LearnFromRating(3, "alpha bravo");
  e.LearnFromRating(-1, "alpha");
  // ALPHA 2 -> 2*100/7 = 28; BRAVO 3 -> 42; (28 + 42) / 2 = 35.
  auto w = e.GetWordList("alpha bravo");
  EXPECT_EQ(e.GetSimpleRelevance(w), 35);
  // Pair 3 -> (300/7 = 42) * 2 = 84, / (2*1) = 42.
  EXPECT_EQ(e.GetRelationshipRelevance(w), 42);
}

TEST(Parameters, MaxWordWeightDefaultAndClamping) {
  ScratchDir dir;
  auto read = [&](const std::string& content, RecordingPort& port) {
    std::ofstream(dir.path() + "zibu.conf", std::ios::trunc) << content;
    SettingsFile f(dir.path() + "zibu.conf");
    LearningEngine e(port);
    e.ReadLearningParameters(f);
    return std::make_tuple(e.minWordLength(), e.maxWordLength(), e.maxWordWeight());
  };
  RecordingPort p1;
  EXPECT_EQ(read("[main]\n", p1), std::make_tuple(4, 12, 50));
  EXPECT_TRUE(p1.logs.empty());
  RecordingPort p2;
  EXPECT_EQ(read("[main]\nminWordLength=3\nmaxWordLength=9\nmaxWordWeight=300\n", p2),
            std::make_tuple(3, 9, 127));
  ASSERT_EQ(p2.logs.size(), 1u);
  EXPECT_FALSE(p2.logs[0].verbose);
  EXPECT_EQ(p2.logs[0].text, "maxWordWeight 300 is outside 1 to 127, so I am using 127");
  RecordingPort p3;
  EXPECT_EQ(std::get<2>(read("[main]\nmaxWordWeight=0\n", p3)), 1);
  EXPECT_EQ(p3.logs.size(), 1u);
  RecordingPort p4;
  EXPECT_EQ(std::get<2>(read("[main]\nmaxWordWeight=127\n", p4)), 127);
  EXPECT_TRUE(p4.logs.empty());
}

// ---- the relationship scans ----------------------------------------------------------------

TEST(ScanRanges, SplitAsTheExamplesSay) {
  using R = std::vector<std::pair<int, int>>;
  EXPECT_EQ(ScanThreadRanges(51, 2),
            (R{{0, 6}, {7, 13}, {14, 20}, {21, 27}, {28, 34}, {35, 41}, {42, 48}, {49, 50}}));
  EXPECT_EQ(ScanThreadRanges(51, 1), (R{{0, 12}, {13, 25}, {26, 38}, {39, 50}}));
  const R eleven = ScanThreadRanges(11, 4);
  EXPECT_EQ(eleven, (R{{0, 2}, {3, 5}, {6, 8}, {9, 10}, {11, 10}}));
  EXPECT_TRUE(ScanThreadRanges(1, 2).empty());
  // Every row in exactly one range, whatever the sizes.
  for (int n : {2, 3, 50, 51, 97, 1000, 4999})
    for (int p : {1, 2, 3, 8}) {
      std::vector<int> seen(n, 0);
      for (auto [a, b] : ScanThreadRanges(n, p))
        for (int i = a; i <= b; ++i) ++seen[i];
      EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [](int c) { return c == 1; })) << n << " on " << p;
    }
}

namespace {

// A vocabulary of `count` random words with random weights and a fully populated table.
std::vector<std::string> FillRandom(LearningEngine& e, int count, std::mt19937& rng) {
  std::uniform_int_distribution<int> letter('A', 'Z'), len(4, 12),
      cell(-e.maxWordWeight(), e.maxWordWeight());
  std::vector<std::string> vocab;
  while (static_cast<int>(vocab.size()) < count) {
    std::string w;
    const int l = len(rng);
    for (int i = 0; i < l; ++i) w += static_cast<char>(letter(rng));
    if (e.WordWeights().IndexOf(w) >= 0) continue;
    e.WordWeights().Add(w, static_cast<int8_t>(cell(rng)));
    vocab.push_back(w);
  }
  const int n = e.WordCount();
  e.RelTable().Resize(n);
  // A cheap generator for the many cells; the values cover the whole range.
  uint32_t x = static_cast<uint32_t>(rng()) | 1u;
  const int span = 2 * e.maxWordWeight() + 1;
  for (int a = 0; a < n; ++a)
    for (int b = 0; b < n; ++b) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      if (a != b) e.RelTable().Set(a, b, static_cast<int8_t>(static_cast<int>(x % span) - e.maxWordWeight()));
    }
  return vocab;
}

int64_t ReferenceSum(LearningEngine& e, const std::vector<std::string>& list) {
  std::vector<int> at;
  for (const auto& w : list) at.push_back(e.WordWeights().IndexOf(w));
  int64_t s = 0;
  for (size_t i = 0; i < list.size(); ++i)
    for (size_t j = i + 1; j < list.size(); ++j)
      if (at[i] >= 0 && at[j] >= 0) s += (e.RelTable().Get(at[i], at[j]) * 100 / e.maxWordWeight()) * 2;
  return s;
}

}  // namespace

TEST(Scan, SingleAndMultiThreadSumsAgreeOnRandomLists) {
  SilentUserPort port;
  LearningEngine e(port);
  e.SetMaxWordWeight(37);  // so that the per-pair truncation matters
  std::mt19937 rng(20261208);
  auto vocab = FillRandom(e, 5000, rng);
  std::uniform_int_distribution<int> size(51, 5000);
  for (int trial = 0; trial < 8; ++trial) {
    const int n = trial == 0 ? 51 : trial == 1 ? 5000 : size(rng);
    // n distinct words, about one in seven unknown.
    std::shuffle(vocab.begin(), vocab.end(), rng);
    std::vector<std::string> list;
    for (int i = 0; i < n; ++i) {
      if (i % 7 == 3)
        list.push_back("UNKNOWN" + std::string(1, static_cast<char>('A' + i % 26)) + std::to_string(i));
      else
        list.push_back(vocab[i]);
    }
    SortUnique(list);
    ASSERT_EQ(static_cast<int>(list.size()), n);
    const int64_t single = e.ScanRelTableSingleThread(list);
    EXPECT_EQ(e.ScanRelTableMultiThread(list), single) << list.size() << " words";
    EXPECT_EQ(ReferenceSum(e, list), single) << list.size() << " words";
    for (int p : {1, 3}) {
      e.SetProcessorCount(p);
      EXPECT_EQ(e.ScanRelTableMultiThread(list), single);
    }
    e.SetProcessorCount(0);
  }
  // No known word at all: 0 on both paths.
  std::vector<std::string> unknown;
  for (int i = 0; i < 60; ++i)
    unknown.push_back("NOWORD" + std::string(1, static_cast<char>('A' + i % 26)) + std::to_string(i));
  SortUnique(unknown);
  EXPECT_EQ(e.ScanRelTableSingleThread(unknown), 0);
  EXPECT_EQ(e.ScanRelTableMultiThread(unknown), 0);
}

TEST(Scan, LongTextsUseTheThreadsAndLogTheirTimes) {
  RecordingPort port;
  LearningEngine e(port);
  e.SetProcessorCount(2);
  LearnExample(e);
  std::string text = "middle east king abdullah rules jordan mightily employing victorious military tactics ";
  auto words = e.GetWordList(text);
  SortUnique(words);
  EXPECT_EQ(e.ScanRelTableSingleThread(words), e.ScanRelTableMultiThread(words));

  std::mt19937 rng(7);
  const auto vocab = FillRandom(e, 200, rng);
  std::string many;
  for (int i = 0; i < 80; ++i) many += vocab[i] + " ";
  port.Reset();
  const auto start = std::chrono::steady_clock::now();
  auto list = e.GetWordList(many);
  e.GetRelationshipRelevance(list);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_TRUE(port.Logged("Checking 80 words against rel table with 8 threads"));
  bool timed = false;
  for (const auto& l : port.logs) timed |= l.text.rfind("Multiple thread scan of 80 words took ", 0) == 0;
  EXPECT_TRUE(timed);
  // The wait is woken by the workers, not a one-second poll.
  EXPECT_LT(ms, 900);
  EXPECT_GT(port.paced, 0);
}

TEST(Scan, RatingsGivenDuringTheWaitAreAppliedAfterTheScan) {
  RecordingPort port;
  LearningEngine e(port);
  ScratchDir dir;
  e.SetDataFolder(dir.path());
  e.LoadCommonWords();
  std::mt19937 rng(11);
  const auto vocab = FillRandom(e, 120, rng);
  std::vector<std::string> list(vocab.begin(), vocab.begin() + 100);
  SortUnique(list);
  const int64_t before = ReferenceSum(e, list);
  const int countBefore = e.WordCount();
  const int weightBefore = e.WordWeights().ValueAt(0);
  bool rated = false;
  port.onPaced = [&] {
    if (rated) return;
    rated = true;
    // Nested from the message processing: a new word would grow the table under the workers.
    e.LearnFromRating(1, vocab[0] + " brandnewword");
    EXPECT_EQ(e.WordCount(), countBefore);
    // Corrections cannot wait like a rating: they are refused, and nothing of them happens.
    EXPECT_THROW(e.SetWordWeight(vocab[1], 7), Error);
    EXPECT_THROW(e.ForgetWord(vocab[1]), Error);
    EXPECT_THROW(e.AddCommonWord(vocab[1]), Error);
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "commonwords.dat"));
    EXPECT_TRUE(e.CommonWords().empty());
  };
  e.SetScanWait(ScanWait::kSleepPoll, 20);
  EXPECT_EQ(e.ScanRelTableMultiThread(list), before);
  EXPECT_TRUE(rated);
  EXPECT_FALSE(e.ScanRunning());
  EXPECT_EQ(e.WordCount(), countBefore + 1);
  EXPECT_EQ(e.WordWeights().ValueAt(0), std::clamp(weightBefore + 1, -50, 50));
  EXPECT_TRUE(e.RelTable().IsSquare(countBefore + 1));
}

TEST(RelTableMemory, GrowingStaysWithinFivePerCentOfTheCells) {
  T2DRelTypeArray t;
  for (int n = 1; n <= 3000; n += 1 + n / 50) {
    t.Resize(n);
    ASSERT_LE(static_cast<double>(t.MemoryBytes()), 1.05 * n * n + 4096.0 + 64.0 * n) << n;
  }
  t.Resize(2000);
  t.Set(1999, 5, 9);
  t.Resize(2100);
  EXPECT_EQ(t.Get(1999, 5), 9);
  EXPECT_EQ(t.Get(1999, 2099), 0);
  EXPECT_EQ(t.Get(2099, 1999), 0);
  t.Reset(10);
  EXPECT_TRUE(t.IsSquare(10));
  EXPECT_EQ(t.Get(9, 5), 0);
}

TEST(Scan, WordsAddedWithoutLearningAreCoveredAndNestedScansLeaveTheTableAlone) {
  RecordingPort port;
  LearningEngine e(port);
  std::mt19937 rng(3);
  auto vocab = FillRandom(e, 150, rng);
  std::vector<std::string> list(vocab.begin(), vocab.begin() + 120);
  SortUnique(list);
  const int64_t expected = ReferenceSum(e, list);

  // A word put straight into the map has no cells yet.
  e.WordWeights().Add("STRAIGHTIN", 5);
  std::vector<std::string> withNew = list;
  withNew.push_back("STRAIGHTIN");
  SortUnique(withNew);

  int nested = 0;
  int64_t nestedSum = -1;
  port.onPaced = [&] {
    if (nested++ > 0) return;
    // From the wait of the outer scan: the outer workers are reading the table right now.
    const int rows = e.RelTable().RowCount();
    nestedSum = e.ScanRelTableMultiThread(withNew);
    EXPECT_EQ(e.RelTable().RowCount(), rows);
  };
  e.SetScanWait(ScanWait::kSleepPoll, 10);
  EXPECT_EQ(e.ScanRelTableMultiThread(list), expected);
  EXPECT_EQ(nestedSum, expected);  // the uncovered word counted as unknown
  port.onPaced = nullptr;
  e.SetScanWait(ScanWait::kNotified);
  EXPECT_EQ(e.ScanRelTableMultiThread(withNew), expected);  // grown for it now: its cells are 0
  EXPECT_TRUE(e.RelTable().IsSquare(e.WordCount()));
}

// ---- the table against a plain square of cells ---------------------------------------------

namespace {

// The learning and scoring rules on a plain n-by-n array, as literally as they are stated.
struct DenseModel {
  int maxWordWeight;
  std::vector<std::string> words;
  std::vector<int> weights;
  std::vector<std::vector<int8_t>> cells;
  std::map<std::string, int> index;

  int Clamp(int v) const { return std::clamp(v, -maxWordWeight, maxWordWeight); }
  int IndexOf(const std::string& w) const {
    auto it = index.find(w);
    return it == index.end() ? -1 : it->second;
  }
  void Learn(std::vector<std::string> list, int rating) {
    for (const auto& w : list) {
      const int at = IndexOf(w);
      if (at < 0) {
        index[w] = static_cast<int>(words.size());
        words.push_back(w);
        weights.push_back(Clamp(rating));
      } else {
        weights[at] = Clamp(weights[at] + rating);
      }
    }
    const size_t n = words.size();
    cells.resize(n);
    for (auto& row : cells) row.resize(n, 0);
    SortUnique(list);
    for (size_t i = 0; i < list.size(); ++i)
      for (size_t j = i + 1; j < list.size(); ++j) {
        const int a = IndexOf(list[i]), b = IndexOf(list[j]);
        const int8_t v = static_cast<int8_t>(Clamp(cells[a][b] + rating));
        cells[a][b] = v;
        cells[b][a] = v;
      }
  }
  int Simple(const std::vector<std::string>& list) const {
    if (list.empty()) return 0;
    int64_t sum = 0;
    for (const auto& w : list)
      if (const int at = IndexOf(w); at >= 0) sum += weights[at] * 100 / maxWordWeight;
    return static_cast<int>(sum / static_cast<int64_t>(list.size()));
  }
  int Relationship(std::vector<std::string> list) const {
    SortUnique(list);
    const int64_t c = static_cast<int64_t>(list.size());
    if (c < 2) return 0;
    int64_t s = 0;
    for (size_t i = 0; i < list.size(); ++i)
      for (size_t j = i + 1; j < list.size(); ++j) {
        const int a = IndexOf(list[i]), b = IndexOf(list[j]);
        if (a >= 0 && b >= 0) s += (cells[a][b] * 100 / maxWordWeight) * 2;
      }
    return static_cast<int>(s / (c * (c - 1)));
  }
  // reltable.dat as the format states it.
  std::string FileBytes() const {
    std::string out;
    AppendTaggedInt(out, static_cast<int32_t>(cells.size()));
    for (const auto& row : cells) {
      AppendTaggedInt(out, static_cast<int32_t>(row.size()));
      out.append(reinterpret_cast<const char*>(row.data()), row.size());
    }
    return out;
  }
};

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(RelTableAgainstDenseModel, EveryCellAndScoreAgreeAfterEveryRating) {
  struct Family {
    int vocabulary, textWords, maxWordWeight, ratings, processors;
  };
  // Small vocabularies drive pairs into the bounds; large ones keep rows sparse while the
  // words that occur everywhere turn their rows dense.
  const Family families[] = {{30, 8, 7, 400, 1}, {400, 60, 50, 150, 2}, {3000, 300, 127, 40, 2}};
  for (const Family& f : families) {
    SCOPED_TRACE(f.vocabulary);
    std::mt19937 rng(static_cast<uint32_t>(f.vocabulary));
    std::vector<std::string> vocab;
    std::uniform_int_distribution<int> letter('A', 'Y');
    while (static_cast<int>(vocab.size()) < f.vocabulary) {
      std::string w;
      for (int i = 0; i < 6; ++i) w += static_cast<char>(letter(rng));
      if (std::find(vocab.begin(), vocab.end(), w) == vocab.end()) vocab.push_back(w);
    }
    // Words drawn with a skew, as in real text: a few occur in nearly every rating.
    auto draw = [&] {
      const double u = std::uniform_real_distribution<double>(0, 1)(rng);
      return vocab[static_cast<size_t>(std::pow(u, 3) * f.vocabulary)];
    };
    auto text = [&](int n) {
      std::string t;
      for (int i = 0; i < n; ++i) t += draw() + " ";
      return t;
    };
    SilentUserPort port;
    LearningEngine e(port);
    e.SetMaxWordWeight(f.maxWordWeight);
    e.SetProcessorCount(f.processors);
    DenseModel model{f.maxWordWeight, {}, {}, {}, {}};
    std::uniform_int_distribution<int> rating(-10, 10);
    for (int r = 0; r < f.ratings; ++r) {
      const std::string t = text(1 + static_cast<int>(rng() % static_cast<uint32_t>(f.textWords)));
      const int v = rating(rng);
      e.LearnFromRating(v, t);
      if (v != 0) model.Learn(e.GetWordList(t), v);
      if (r % 10 != 9 && r != f.ratings - 1) continue;
      ASSERT_EQ(e.WordCount(), static_cast<int>(model.words.size()));
      ASSERT_TRUE(e.RelTable().IsSquare(e.WordCount()));
      for (int a = 0; a < e.WordCount(); ++a) {
        ASSERT_EQ(e.WordWeights().KeyAt(a), model.words[a]);
        ASSERT_EQ(e.WordWeights().ValueAt(a), model.weights[a]);
        std::vector<int8_t> row(model.cells[a].size());
        e.RelTable().CopyCells(a, 0, static_cast<int>(row.size()), row.data());
        ASSERT_EQ(row, model.cells[a]) << "row " << a << " after rating " << r;
      }
      // Scores of texts short and long (the long ones take the threaded scan).
      for (int n : {1, 5, 40, 120}) {
        const std::string probe = text(n) + " unknownword";
        const auto list = e.GetWordList(probe);
        ASSERT_EQ(e.GetSimpleRelevance(list), model.Simple(list)) << probe;
        ASSERT_EQ(e.GetRelationshipRelevance(list), model.Relationship(list)) << probe;
      }
    }
    // The file is the plain square's, byte for byte, and reads back to the same table.
    ScratchDir dir;
    WriteRelTableFile(e.RelTable(), dir.path() + "reltable.dat");
    const std::string bytes = FileText(dir.path() + "reltable.dat");
    ASSERT_EQ(bytes, model.FileBytes());
    T2DRelTypeArray back;
    ReadRelTableFile(back, dir.path() + "reltable.dat");
    WriteRelTableFile(back, dir.path() + "again.dat");
    EXPECT_EQ(FileText(dir.path() + "again.dat"), bytes);
    EXPECT_EQ(back.NonZeroCells(), e.RelTable().NonZeroCells());
  }
}

// ---- explanations --------------------------------------------------------------------------

TEST(Explanation, TheEightExampleTextsAndTwoWrittenOutByHand) {
  SilentUserPort port;
  LearningEngine e(port);
  LearnExample(e);
  for (const char* t : zibu::testing::kEightTexts) {
    const auto x = e.ExplainRelevance(t);
    auto list = e.GetWordList(t);
    EXPECT_EQ(x.simple, e.GetSimpleRelevance(list)) << t;
    EXPECT_EQ(x.relationship, e.GetRelationshipRelevance(list)) << t;
    EXPECT_EQ(x.overall, e.GetRelevance(t)) << t;
  }
  using W = std::vector<std::tuple<std::string, int, int, int64_t>>;
  using P = std::vector<std::tuple<std::string, std::string, int, int64_t>>;
  auto words = [](const RelevanceExplanation& x) {
    W w;
    for (const auto& c : x.words) w.emplace_back(c.word, c.count, c.weight, c.contribution);
    return w;
  };
  auto pairs = [](const std::vector<PairContribution>& v) {
    P p;
    for (const auto& c : v) p.emplace_back(c.first, c.second, c.value, c.contribution);
    return p;
  };
  // "jordan abdullah": 18 * 100 / 50 = 36 and 26 * 100 / 50 = 52, (36 + 52) / 2 = 44; the one
  // pair 18 -> 36 * 2 = 72, 72 / (2 * 1) = 36; (44 + 36) / 2 = 40.
  auto x = e.ExplainRelevance("jordan abdullah");
  EXPECT_EQ(words(x), (W{{"JORDAN", 1, 18, 36}, {"ABDULLAH", 1, 26, 52}}));
  EXPECT_EQ(std::make_tuple(x.wordCount, x.simpleSum, x.simple), std::make_tuple(2, int64_t{88}, 44));
  EXPECT_EQ(std::make_tuple(x.distinctWords, x.pairSum, x.relationship, x.overall),
            std::make_tuple(2, int64_t{72}, 36, 40));
  EXPECT_EQ(pairs(x.positivePairs), (P{{"ABDULLAH", "JORDAN", 18, 72}}));
  EXPECT_TRUE(x.negativePairs.empty());
  // "jordan katie sand abdullah": 36 - 64 + 40 + 52 = 64, 64 / 4 = 16; pairs of the sorted list
  // ABDULLAH JORDAN KATIE SAND: 18 -> 72, -6 -> -24, 14 -> 56, -16 -> -64, 16 -> 64,
  // -10 -> -40, S = 64, 64 / (4 * 3) = 5; (16 + 5) / 2 = 10.
  x = e.ExplainRelevance("jordan katie sand abdullah");
  EXPECT_EQ(words(x),
            (W{{"JORDAN", 1, 18, 36}, {"KATIE", 1, -32, -64}, {"SAND", 1, 20, 40}, {"ABDULLAH", 1, 26, 52}}));
  EXPECT_EQ(std::make_tuple(x.wordCount, x.simpleSum, x.simple), std::make_tuple(4, int64_t{64}, 16));
  EXPECT_EQ(std::make_tuple(x.distinctWords, x.pairSum, x.relationship, x.overall),
            std::make_tuple(4, int64_t{64}, 5, 10));
  EXPECT_EQ(pairs(x.positivePairs),
            (P{{"ABDULLAH", "JORDAN", 18, 72}, {"JORDAN", "SAND", 16, 64}, {"ABDULLAH", "SAND", 14, 56}}));
  EXPECT_EQ(pairs(x.negativePairs),
            (P{{"JORDAN", "KATIE", -16, -64}, {"KATIE", "SAND", -10, -40}, {"ABDULLAH", "KATIE", -6, -24}}));
  // Repeats count per occurrence in the words, once in the pairs; no words, no parts.
  x = e.ExplainRelevance("katie zebra katie");
  EXPECT_EQ(words(x), (W{{"KATIE", 2, -32, -128}}));
  EXPECT_EQ(std::make_tuple(x.wordCount, x.simple, x.distinctWords, x.pairSum),
            std::make_tuple(3, -42, 2, int64_t{0}));
  x = e.ExplainRelevance("a an the");
  EXPECT_EQ(std::make_tuple(x.wordCount, x.simple, x.relationship, x.overall), std::make_tuple(0, 0, 0, 0));
}

TEST(Explanation, PartsAddUpToTheScorersSumsOnRandomTextsAndVocabularies) {
  struct Family {
    int vocabulary, maxWordWeight, textWords, texts, pairLimit;
  };
  // Short texts on the calling thread, long ones on the workers; values crossing 0 after scaling.
  const Family families[] = {{60, 7, 12, 120, 3}, {800, 50, 40, 60, 10}, {3000, 127, 400, 12, 10}};
  for (const Family& f : families) {
    SCOPED_TRACE(f.vocabulary);
    SilentUserPort port;
    LearningEngine e(port);
    e.SetMaxWordWeight(f.maxWordWeight);
    std::mt19937 rng(static_cast<uint32_t>(f.vocabulary) * 7);
    auto vocab = FillRandom(e, f.vocabulary, rng);
    // Sparse rows too: some rows cleared to a few cells.
    for (int a = 0; a < e.WordCount(); a += 3) {
      std::vector<int8_t> row(static_cast<size_t>(e.WordCount()), 0);
      row[static_cast<size_t>((a + 1) % e.WordCount())] = static_cast<int8_t>(a % 9 - 4);
      e.RelTable().SetRow(a, row.data(), e.WordCount());
    }
    std::uniform_int_distribution<int> pick(0, f.vocabulary - 1);
    for (int t = 0; t < f.texts; ++t) {
      std::string text;
      const int n = 1 + static_cast<int>(rng() % static_cast<uint32_t>(f.textWords));
      for (int i = 0; i < n; ++i) text += (i % 9 == 4 ? "unknownword" : vocab[pick(rng)]) + " ";
      const auto x = e.ExplainRelevance(text, f.pairLimit);
      auto list = e.GetWordList(text);
      ASSERT_EQ(x.wordCount, static_cast<int>(list.size()));
      int64_t sum = 0;
      int counted = 0;
      for (const auto& w : x.words) {
        sum += w.contribution;
        counted += w.count;
        ASSERT_EQ(w.contribution, (w.weight * 100 / f.maxWordWeight) * w.count) << w.word;
      }
      ASSERT_EQ(sum, x.simpleSum);
      ASSERT_LE(counted, x.wordCount);
      ASSERT_EQ(x.simple, x.wordCount ? static_cast<int>(x.simpleSum / x.wordCount) : 0);
      ASSERT_EQ(x.simple, e.GetSimpleRelevance(list));
      auto sorted = list;
      SortUnique(sorted);
      ASSERT_EQ(x.distinctWords, static_cast<int>(sorted.size()));
      ASSERT_EQ(x.pairSum, ReferenceSum(e, sorted));
      ASSERT_EQ(x.relationship, e.GetRelationshipRelevance(list));
      ASSERT_EQ(x.overall, e.GetRelevance(text));
      // The strongest pairs are those of every pair in the same order.
      std::vector<std::tuple<int64_t, size_t, size_t>> all;
      for (size_t i = 0; i < sorted.size(); ++i)
        for (size_t j = i + 1; j < sorted.size(); ++j) {
          const int a = e.WordWeights().IndexOf(sorted[i]), b = e.WordWeights().IndexOf(sorted[j]);
          if (a < 0 || b < 0) continue;
          const int64_t c = (e.RelTable().Get(a, b) * 100 / f.maxWordWeight) * 2;
          if (c != 0) all.emplace_back(c, i, j);
        }
      auto expect = [&](bool positive, const std::vector<PairContribution>& got) {
        std::vector<std::tuple<int64_t, size_t, size_t>> want;
        for (const auto& p : all)
          if ((std::get<0>(p) > 0) == positive) want.push_back(p);
        // Kept: the strongest, of equally strong ones at the cut the later; shown in list order.
        std::sort(want.begin(), want.end(), [](const auto& x, const auto& y) {
          const int64_t ax = std::abs(std::get<0>(x)), ay = std::abs(std::get<0>(y));
          return ax != ay ? ax > ay
                          : std::make_pair(std::get<1>(x), std::get<2>(x)) >
                                std::make_pair(std::get<1>(y), std::get<2>(y));
        });
        if (want.size() > static_cast<size_t>(f.pairLimit)) want.resize(static_cast<size_t>(f.pairLimit));
        std::sort(want.begin(), want.end(), [](const auto& x, const auto& y) {
          const int64_t ax = std::abs(std::get<0>(x)), ay = std::abs(std::get<0>(y));
          return ax != ay ? ax > ay
                          : std::make_pair(std::get<1>(x), std::get<2>(x)) <
                                std::make_pair(std::get<1>(y), std::get<2>(y));
        });
        ASSERT_EQ(got.size(), want.size());
        for (size_t k = 0; k < got.size(); ++k) {
          EXPECT_EQ(got[k].contribution, std::get<0>(want[k]));
          EXPECT_EQ(got[k].first, sorted[std::get<1>(want[k])]);
          EXPECT_EQ(got[k].second, sorted[std::get<2>(want[k])]);
        }
      };
      expect(true, x.positivePairs);
      expect(false, x.negativePairs);
    }
  }
}

// Equal weights: the word with the most relationships first, whichever way the weight is
// sorted; then by word.
TEST(LearnedWordsList, EqualWeightsAreRankedByTheirRelationships) {
  SilentUserPort port;
  LearningEngine e(port);
  e.LearnFromRating("zulu yankee xray", 10);  // two relationships each
  e.LearnFromRating("mike lima", 10);         // one each
  e.LearnFromRating("alpha", 10);             // none
  e.LearnFromRating("bravo", -10);
  e.LearnFromRating("charlie delta", -10);
  auto names = [](const std::vector<LearnedWord>& v) {
    std::vector<std::string> n;
    for (const auto& w : v) n.push_back(w.word + ":" + std::to_string(w.relationships));
    return n;
  };
  const struct {
    LearnedWordOrder order;
    std::vector<std::string> expected;
  } cases[] = {
      {LearnedWordOrder::kByWeightDescending,
       {"XRAY:2", "YANKEE:2", "ZULU:2", "LIMA:1", "MIKE:1", "ALPHA:0", "CHARLIE:1", "DELTA:1", "BRAVO:0"}},
      {LearnedWordOrder::kByWeightAscending,
       {"CHARLIE:1", "DELTA:1", "BRAVO:0", "XRAY:2", "YANKEE:2", "ZULU:2", "LIMA:1", "MIKE:1", "ALPHA:0"}},
      {LearnedWordOrder::kByWord,
       {"ALPHA:0", "BRAVO:0", "CHARLIE:1", "DELTA:1", "LIMA:1", "MIKE:1", "XRAY:2", "YANKEE:2", "ZULU:2"}},
  };
  for (const auto& c : cases) {
    std::vector<LearnedWord> words = e.LearnedWords();
    SortLearnedWords(words, c.order);
    EXPECT_EQ(names(words), c.expected) << static_cast<int>(c.order);
  }
  // Forgetting a word takes its relationships from the others' evidence.
  ASSERT_TRUE(e.ForgetWord("zulu"));
  std::vector<LearnedWord> words = e.LearnedWords();
  SortLearnedWords(words, LearnedWordOrder::kByWeightDescending);
  EXPECT_EQ(names(words)[0], "LIMA:1");
  EXPECT_EQ(names(words)[2], "XRAY:1");
}

TEST(LearnedWordsList, SnapshotSortsSearchesAndShowsAWordsStrongestPairs) {
  SilentUserPort port;
  LearningEngine e(port);
  LearnExample(e);
  auto words = e.LearnedWords();
  ASSERT_EQ(words.size(), 4u);
  EXPECT_EQ(words[3].word, "KATIE");
  EXPECT_EQ(words[3].weight, -32);
  auto names = [](const std::vector<LearnedWord>& v) {
    std::vector<std::string> n;
    for (const auto& w : v) n.push_back(w.word);
    return n;
  };
  SortLearnedWords(words, LearnedWordOrder::kByWord);
  EXPECT_EQ(names(words), (std::vector<std::string>{"ABDULLAH", "JORDAN", "KATIE", "SAND"}));
  SortLearnedWords(words, LearnedWordOrder::kByWeightDescending);
  EXPECT_EQ(names(words), (std::vector<std::string>{"ABDULLAH", "SAND", "JORDAN", "KATIE"}));
  SortLearnedWords(words, LearnedWordOrder::kByWeightAscending);
  EXPECT_EQ(names(words), (std::vector<std::string>{"KATIE", "JORDAN", "SAND", "ABDULLAH"}));
  EXPECT_EQ(names(FilterLearnedWords(words, "an")), (std::vector<std::string>{"JORDAN", "SAND"}));
  EXPECT_EQ(FilterLearnedWords(words, "").size(), 4u);
  EXPECT_EQ(e.StrongestRelationships("jordan", 2),
            (std::vector<std::pair<std::string, int>>{{"ABDULLAH", 18}, {"SAND", 16}}));
  EXPECT_EQ(e.StrongestRelationships("katie", 10),
            (std::vector<std::pair<std::string, int>>{{"JORDAN", -16}, {"SAND", -10}, {"ABDULLAH", -6}}));
  EXPECT_TRUE(e.StrongestRelationships("zebra", 3).empty());
  // Setting a weight is limited to the bound and changes the next score.
  EXPECT_TRUE(e.SetWordWeight("katie", -500));
  EXPECT_EQ(e.WordWeights().Get("KATIE"), -50);
  EXPECT_FALSE(e.SetWordWeight("zebra", 3));
  EXPECT_EQ(e.GetRelevance("jordan katie"), (36 - 100) / 2);
}

// ---- the record of rated articles and the suggested threshold --------------------------------

TEST(RatedArticles, EachRatingKeepsTheRelevanceTheTextHadBeforeIt) {
  RecordingPort port;
  LearningEngine e(port);
  LearnExample(e);
  ASSERT_EQ(e.RatedArticles().Count(), 12);
  // The first rating met an empty engine: 0, whatever the text.
  EXPECT_EQ(e.RatedArticles().Entries().front(), (RatedArticle{9, 0}));
  struct Case {
    int rating;
    const char* text;
    int relevance;  // as scored just before: the eight-text table's figures
  };
  const Case cases[] = {{5, "jordan abdullah", 40}, {-3, "katies jordan", -14}, {2, "", 0}, {0, "jordan", 18}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    LearnExample(e);
    const int expected = e.GetRelevance(c.text);
    ASSERT_EQ(expected, c.relevance);
    port.Reset();
    e.LearnFromRating(c.rating, c.text);
    if (c.rating == 0) {
      EXPECT_EQ(e.RatedArticles().Count(), 12);
      continue;
    }
    ASSERT_EQ(e.RatedArticles().Count(), 13);
    EXPECT_EQ(e.RatedArticles().Entries().back(), (RatedArticle{c.rating, c.relevance}));
    // The scoring for the record writes none of the scorer's verbose lines.
    for (const auto& l : port.logs) EXPECT_NE(l.text.rfind("Relevance=", 0), 0u) << l.text;
    EXPECT_FALSE(port.Logged("Checking relevance"));
  }
  // Only the most recent ones are kept; forgotten with the learned data.
  for (int k = 0; k < kRatedArticlesKept + 5; ++k) e.LearnFromRating(k % 2 ? 1 : -1, "jordan");
  EXPECT_EQ(e.RatedArticles().Count(), kRatedArticlesKept);
  e.ClearLearnedData();
  EXPECT_EQ(e.RatedArticles().Count(), 0);
}

TEST(RatedArticles, RatingsGivenDuringTheirOwnScoringAreRecordedAfterItInOrder) {
  RecordingPort port;
  LearningEngine e(port);
  std::mt19937 rng(5);
  const auto vocab = FillRandom(e, 120, rng);
  std::string longText;
  for (int k = 0; k < 80; ++k) longText += vocab[static_cast<size_t>(k)] + " ";
  const int longBefore = e.GetRelevance(longText);
  int nested = 0;
  port.onPaced = [&] {
    if (nested++ > 0) return;
    e.LearnFromRating(-7, vocab[100] + " " + vocab[101]);
  };
  e.SetScanWait(ScanWait::kSleepPoll, 5);
  e.LearnFromRating(4, longText);
  port.onPaced = nullptr;
  ASSERT_GT(nested, 0);
  ASSERT_EQ(e.RatedArticles().Count(), 2);
  EXPECT_EQ(e.RatedArticles().Entries()[0], (RatedArticle{4, longBefore}));
  EXPECT_EQ(e.RatedArticles().Entries()[1].rating, -7);
  EXPECT_FALSE(e.ScanRunning());
  EXPECT_TRUE(e.RelTable().IsSquare(e.WordCount()));
}

namespace {

// A record from (rating, relevance) pairs, oldest first; `times` copies of each.
std::deque<RatedArticle> Record(std::initializer_list<std::pair<int, int>> entries, int times = 1) {
  std::deque<RatedArticle> r;
  for (int k = 0; k < times; ++k)
    for (const auto& [rating, relevance] : entries) r.push_back({rating, relevance});
  return r;
}

std::deque<RatedArticle> Join(std::deque<RatedArticle> a, const std::deque<RatedArticle>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace

TEST(SuggestedThreshold, ConstructedRecords) {
  struct Case {
    const char* what;
    std::deque<RatedArticle> record;
    std::optional<int> suggested;
    int rated, neededRelevant, neededIrrelevant;
  };
  const Case cases[] = {
      {"nothing rated", {}, std::nullopt, 0, 5, 5},
      {"all relevant", Record({{7, 12}, {9, 3}}, 6), std::nullopt, 12, 0, 5},
      {"all irrelevant", Record({{-4, 0}}, 7), std::nullopt, 7, 5, 0},
      {"one relevant short", Join(Record({{8, 9}}, 4), Record({{-6, 1}}, 5)), std::nullopt, 9, 1, 0},
      // Relevant 5..9, irrelevant at most 2: 3 to 5 all show exactly the relevant ones.
      {"clean separation", Record({{8, 5}, {7, 6}, {9, 7}, {10, 8}, {8, 9}, {-5, -3}, {-4, 0}, {-6, 1}, {-9, 1},
                                   {-4, 2}}),
       4, 10, 0, 0},
      // 11..20 show 4 of 6 relevant and nothing else (F1 0.8); 1..10 all 6 and 3 irrelevant
      // (F1 0.8 too): the higher run wins, and its middle.
      {"equal F1 at two runs",
       Record({{-8, -5}, {-8, -5}, {6, 20}, {7, 20}, {8, 20}, {9, 20}, {5, 10}, {5, 10}, {-5, 10}, {-5, 10},
               {-5, 10}}),
       15, 11, 0, 0},
      // Everything relevant scored below zero: no threshold shows any, the lowest shows most.
      {"relevant never reach zero", Join(Record({{7, -2}}, 5), Record({{-7, 3}}, 5)), 0, 10, 0, 0},
      // The old half scored on another scale; only the recent half counts.
      {"recent half", Join(Record({{8, 50}, {-8, 40}}, 10), Record({{8, 5}, {-8, 0}}, 10)), 3, 20, 0, 0},
      // The recent half holds no irrelevant rating: it reaches back for five.
      {"reaching back", Join(Record({{-3, 1}, {6, 4}}, 10), Record({{6, 4}}, 15)), 3, 25, 0, 0},
      {"identical scores", Join(Record({{7, 2}}, 5), Record({{-7, 2}}, 5)), 1, 10, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ThresholdSuggestion s = SuggestThreshold(c.record);
    EXPECT_EQ(s.suggested, c.suggested);
    EXPECT_EQ(s.recorded, static_cast<int>(c.record.size()));
    EXPECT_EQ(s.rated, c.rated);
    EXPECT_EQ(s.neededRelevant, c.neededRelevant);
    EXPECT_EQ(s.neededIrrelevant, c.neededIrrelevant);
    // The table over the same ratings: threshold 0 shows everything not below zero, and less as
    // it rises.
    int relevant = 0, irrelevant = 0, relevantAtZero = 0, irrelevantAtZero = 0;
    for (size_t i = c.record.size() - static_cast<size_t>(s.rated); i < c.record.size(); ++i) {
      const RatedArticle& a = c.record[i];
      (a.rating > 0 ? relevant : irrelevant) += 1;
      if (a.relevance >= 0) (a.rating > 0 ? relevantAtZero : irrelevantAtZero) += 1;
    }
    EXPECT_EQ(s.relevant, relevant);
    EXPECT_EQ(s.irrelevant, irrelevant);
    EXPECT_EQ(s.shown[0], (ThresholdOutcome{relevantAtZero, irrelevantAtZero}));
    for (int t = 1; t <= 100; ++t) {
      EXPECT_LE(s.shown[static_cast<size_t>(t)].relevant, s.shown[static_cast<size_t>(t - 1)].relevant);
      EXPECT_LE(s.shown[static_cast<size_t>(t)].irrelevant, s.shown[static_cast<size_t>(t - 1)].irrelevant);
    }
  }
}

TEST(SuggestedThreshold, InTheUsersOwnTerms) {
  const auto separated =
      Record({{8, 5}, {7, 6}, {9, 7}, {10, 8}, {8, 9}, {-5, -3}, {-4, 0}, {-6, 1}, {-9, 1}, {-4, 2}});
  struct Case {
    std::deque<RatedArticle> record;
    int current;
    const char* text;
  };
  const Case cases[] = {
      {{},
       30,
       "No suggested threshold yet: I need 5 more articles rated relevant and 5 more rated irrelevant to "
       "suggest one"},
      {Record({{-4, 0}}, 7), 30, "No suggested threshold yet: I need 5 more articles rated relevant to suggest one"},
      {Join(Record({{8, 9}}, 9), Record({{-6, 1}}, 4)), 30,
       "No suggested threshold yet: I need 1 more article rated irrelevant to suggest one"},
      {separated, 30,
       "Suggested: 4 % - of your last 10 rated articles, it would have shown 5 of the 5 you rated relevant "
       "and 0 of the 5 you rated irrelevant; at 30 % it would have shown 0 of 5"},
      {separated, 1,
       "Suggested: 4 % - of your last 10 rated articles, it would have shown 5 of the 5 you rated relevant "
       "and 0 of the 5 you rated irrelevant; at 1 % it would have shown 5 of 5"},
      {separated, 4,
       "Suggested: 4 % - of your last 10 rated articles, it would have shown 5 of the 5 you rated relevant "
       "and 0 of the 5 you rated irrelevant"},
  };
  for (const Case& c : cases) EXPECT_EQ(SuggestionText(SuggestThreshold(c.record), c.current), c.text);
}

// ---- the recent scores -----------------------------------------------------------------------

namespace {

constexpr int64_t kDay = int64_t{24} * 60 * 60 * 1000;
constexpr int64_t kMonday = int64_t{1765152000000};  // 2025-12-08 00:00

TRecentScores Scores(std::initializer_list<std::pair<int64_t, int>> scores) {
  TRecentScores r;
  for (const auto& s : scores) r.Add(s.first, s.second);
  return r;
}

}  // namespace

TEST(RecentScores, StandingCountsOnlyTheLastSevenDaysAndOnlyScoresStrictlyBelow) {
  // Ten scores one hour apart from Monday on, and one a week and a minute before the last.
  TRecentScores r;
  r.Add(kMonday - 7 * kDay + 9 * 3600000 - 60000, 50);
  for (int i = 0; i < 10; ++i) r.Add(kMonday + i * 3600000, i * 10 - 20);  // -20, -10, 0, ..., 70
  const int64_t last = kMonday + 9 * 3600000;
  struct Case {
    int relevance;
    int64_t now;
    ScoreStanding standing;
  };
  const Case cases[] = {
      {-20, last, {0, 10}},          // the lowest: nothing strictly below it
      {-21, last, {0, 10}},
      {0, last, {2, 10}},            // ties do not count as below
      {1, last, {3, 10}},
      {71, last, {10, 10}},
      {100, last, {10, 10}},
      {-100, last, {0, 10}},
      {71, last + 7 * kDay, {1, 1}},  // a week after the last: only the last is recent
      {71, last + 7 * kDay + 1, {0, 0}},
      {35, kMonday - kDay, {6, 10}},  // a clock set back counts the later stamps as recent
  };
  // The entry older than a week when the first of Monday's scores came has left the record.
  EXPECT_EQ(r.Count(), 10);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.relevance) + " at " + std::to_string(c.now));
    EXPECT_EQ(r.StandingOf(c.relevance, c.now), c.standing);
  }
}

TEST(RecentScores, BoundedByCountAndAgeAndLimitedToTheRelevanceRange) {
  struct Case {
    const char* what;
    int adds;
    int64_t step;  // between two adds
    int kept;
    RecentScore first;
  };
  const int64_t minute = 60000;
  const Case cases[] = {
      {"a few", 3, minute, 3, {kMonday, -100}},
      {"more than are kept", kRecentScoresKept + 5, 1, kRecentScoresKept, {kMonday + 5, -95}},
      // One an hour for eight days: the first day's leave as the eighth begins.
      {"older than a week", 8 * 24, 3600000, 7 * 24 + 1, {kMonday + 23 * 3600000, -77}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TRecentScores r;
    const uint64_t before = r.Version();
    for (int i = 0; i < c.adds; ++i) r.Add(kMonday + i * c.step, i % 201 - 100);
    EXPECT_NE(r.Version(), before);
    EXPECT_EQ(r.Count(), c.kept);
    EXPECT_EQ(r.Entries().front(), c.first);
  }
  const TRecentScores limited = Scores({{kMonday, 250}, {kMonday, -101}, {kMonday, 7}});
  EXPECT_EQ(limited.Entries(), (std::deque<RecentScore>{{kMonday, 100}, {kMonday, -100}, {kMonday, 7}}));
}

TEST(RecentScores, TheStandingInWords) {
  struct Case {
    ScoreStanding standing;
    int minimum;
    const char* text;
  };
  const Case cases[] = {
      {{2208, 2300}, kMinScoresForStanding, "higher than 96 % of the 2,300 articles of the last 7 days"},
      {{2299, 2300}, kMinScoresForStanding, "higher than 99 % of the 2,300 articles of the last 7 days"},
      {{20, 20}, kMinScoresForStanding, "higher than 100 % of the 20 articles of the last 7 days"},
      {{0, 20}, kMinScoresForStanding, "higher than 0 % of the 20 articles of the last 7 days"},
      {{5, 19}, kMinScoresForStanding, ""},  // too few to compare with
      {{0, 0}, kMinScoresForStanding, ""},
      {{0, 0}, 0, ""},
      {{1, 1}, 1, "higher than 100 % of the 1 article of the last 7 days"},
      {{1234, 20000}, kMinScoresForStanding, "higher than 6 % of the 20,000 articles of the last 7 days"},
      {{999, 1000}, kMinScoresForStanding, "higher than 99 % of the 1,000 articles of the last 7 days"},
      {{0, 999}, kMinScoresForStanding, "higher than 0 % of the 999 articles of the last 7 days"},
      {{1, 3}, 1, "higher than 33 % of the 3 articles of the last 7 days"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.standing.below) + "/" + std::to_string(c.standing.count));
    EXPECT_EQ(StandingText(c.standing, c.minimum), c.text);
  }
  EXPECT_EQ(RelevanceStandingLine(4, "higher than 96 % of the 2,300 articles of the last 7 days"),
            "Relevance 4 %: higher than 96 % of the 2,300 articles of the last 7 days");
  EXPECT_EQ(RelevanceStandingLine(4, ""), "");
}

TEST(RecentScores, ScoringAloneAndRatingsLeaveThemAloneAndResetForgetsThem) {
  RecordingPort port;
  LearningEngine e(port);
  LearnExample(e);
  e.RecentScores().Add(kMonday, 12);
  e.GetRelevance("Katie Jordan ran the mill");
  e.ExplainRelevance("Katie Jordan ran the mill");
  e.LearnFromRating(5, "zebra quokka");
  EXPECT_EQ(e.RecentScores().Entries(), (std::deque<RecentScore>{{kMonday, 12}}));
  e.ClearLearnedData();
  EXPECT_EQ(e.RecentScores().Count(), 0);
}
