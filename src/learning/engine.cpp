#include "learning/engine.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <unordered_map>

#include "common/errors.h"
#include "common/settings.h"
#include "common/shortintmap.h"
#include "common/text.h"
#include "learning/rel_scan_thread.h"

namespace zibu {

std::vector<std::pair<int, int>> ScanThreadRanges(int n, int processors) {
  std::vector<std::pair<int, int>> ranges;
  int threads = 4 * std::max(processors, 1);
  if (n / 2 < threads) threads = n / 2;
  if (threads <= 0) return ranges;
  const int chunk = n / threads;
  int start = 0;
  for (int t = 0; t < threads; ++t) {
    const int end = std::min(start + chunk, n - 1);
    ranges.emplace_back(start, end);
    start = end + 1;
  }
  return ranges;
}

LearningEngine::LearningEngine(UserPort& port)
    : port_(&port), wordWeights_(std::make_unique<TShortIntMap>()) {}

LearningEngine::~LearningEngine() = default;

void LearningEngine::SetProcessorCount(int n) {
  if (n != processorCount_) pool_.reset();
  processorCount_ = n;
}

void LearningEngine::SetMaxWordWeight(int n) {
  const int limited = std::clamp(n, 1, 127);
  if (limited != n)
    port_->Log("maxWordWeight " + std::to_string(n) + " is outside 1 to 127, so I am using " +
                   std::to_string(limited),
               false);
  maxWordWeight_ = limited;
}

void LearningEngine::ReadLearningParameters(const SettingsFile& file) {
  minWordLength_ = file.ReadInteger("main", "minWordLength", kDefaultMinWordLength);
  maxWordLength_ = file.ReadInteger("main", "maxWordLength", kDefaultMaxWordLength);
  SetMaxWordWeight(file.ReadInteger("main", "maxWordWeight", kDefaultMaxWordWeight));
}

int LearningEngine::WordCount() const {
  return wordWeights_->Count();
}

void LearningEngine::ClearLearnedData() {
  if (scanDepth_ > 0)
    throw Error("I cannot clear the learned data while a relevance scan is running", "EInvalidOperation");
  wordWeights_->Clear();
  relTable_.Clear();
  ratedArticles_.Clear();
  recentScores_.Clear();
}

void LearningEngine::Verbose(const std::string& line) {
  if (!quiet_) port_->Log(line, true);
}

int LearningEngine::Clamp(int v) const {
  return std::clamp(v, -maxWordWeight_, maxWordWeight_);
}

std::vector<std::string> LearningEngine::GetWordList(std::string_view text) const {
  return zibu::GetWordList(text, minWordLength_, maxWordLength_, commonWords_);
}

// ---- learning ------------------------------------------------------------------------------

void LearningEngine::LearnFromRating(std::string_view text, int rating, bool recorded) {
  if (rating == 0) return;
  if (scanDepth_ > 0) {
    // Workers are reading the table: growing it now would pull rows from under them.
    pending_.push_back({std::string(text), rating, recorded});
    return;
  }
  ApplyRating(text, rating, recorded);
}

void LearningEngine::ApplyRating(std::string_view text, int rating, bool recorded) {
  // What the engine made of the article before this rating taught it anything: the figure a
  // threshold would have been compared with. A rating given from the message processing of this
  // scan waits (as in any scan) and is applied after this one, in the order they came.
  if (!relTable_.IsSquare(WordCount())) relTable_.Resize(WordCount());
  ++scanDepth_;
  quiet_ = true;
  int before = 0;
  try {
    before = GetRelevance(text);
  } catch (...) {
    quiet_ = false;
    EndScan();
    throw;
  }
  quiet_ = false;
  --scanDepth_;  // the pending ratings wait for the table update below
  if (recorded) ratedArticles_.Add(rating, before);
  port_->Log("Updating relevance", true);
  std::vector<std::string> words = GetWordList(text);
  for (const auto& w : words) {
    const int at = wordWeights_->IndexOf(w);
    if (at < 0) {
      if (WordCount() >= kMaxWordCount) {
        if (!toldWordLimit_)
          port_->Log("I know " + std::to_string(kMaxWordCount) +
                         " words, as many as I can keep, so I learn no new ones",
                     false);
        toldWordLimit_ = true;
        continue;
      }
      wordWeights_->Add(w, static_cast<int8_t>(Clamp(rating)));
    } else {
      wordWeights_->SetValueAt(at, static_cast<int8_t>(Clamp(wordWeights_->ValueAt(at) + rating)));
    }
  }
  UpdateRelTable(words, rating);
}

void LearningEngine::UpdateRelTable(std::vector<std::string>& words, int rating) {
  port_->Log("Updating rel table", true);
  relTable_.Resize(WordCount());
  // Both cells of each pair take the same value, so a symmetric table stays so (and its file
  // then needs no check).
  const bool symmetric = relTable_.KnownSymmetric();
  SortUnique(words);
  const std::vector<int> at = WordPositions(words);
  const int k = static_cast<int>(words.size());
  // The known words in column order: every row of the text changes at their columns.
  std::vector<int> order;
  for (int i = 0; i < k; ++i)
    if (at[i] >= 0) order.push_back(i);
  std::sort(order.begin(), order.end(), [&](int x, int y) { return at[x] < at[y]; });
  const int m = static_cast<int>(order.size());
  std::vector<int> columns(m), rowColumns(m);
  for (int s = 0; s < m; ++s) columns[s] = at[order[s]];
  std::vector<int8_t> old(m), fresh(m);
  // Ratings from the message processing below wait until the table is consistent again.
  ++scanDepth_;
  try {
    // Row by row in list order. For list positions i < j the pair takes
    // v = cell[a_i][b_j] + rating, limited, into both of its cells: row a_i reads it from its own
    // cells (no earlier row has changed those), and row b_j finds it in row a_i, done before.
    for (int i = 0; i < k; ++i) {
      port_->ProcessMessagesPaced();
      const int a = at[i];
      if (a < 0) continue;
      relTable_.Gather(a, columns.data(), m, old.data());
      int n = 0;
      for (int s = 0; s < m; ++s) {
        const int j = order[s];
        if (j == i) continue;
        rowColumns[n] = columns[s];
        fresh[n] = j > i ? static_cast<int8_t>(Clamp(old[s] + rating)) : relTable_.Get(columns[s], a);
        ++n;
      }
      relTable_.Scatter(a, rowColumns.data(), n, fresh.data());
    }
  } catch (...) {
    EndScan();
    throw;
  }
  if (symmetric) relTable_.MarkSymmetric();
  EndScan();
}

std::vector<int> LearningEngine::ScanPositions(const std::vector<std::string>& words) {
  // Words added to the map without learning (by a caller filling it directly) have no cells
  // yet: the outermost scan grows the table for them; a scan nested in another one's wait must
  // not move rows the workers are reading, and counts such words as unknown.
  if (!relTable_.IsSquare(WordCount()) && scanDepth_ == 1) relTable_.Resize(WordCount());
  const int covered = relTable_.CoveredWords();
  std::vector<int> at = WordPositions(words);
  for (int& a : at)
    if (a >= covered) a = -1;
  return at;
}

std::vector<int> LearningEngine::WordPositions(const std::vector<std::string>& words) const {
  std::vector<int> at(words.size());
  for (size_t i = 0; i < words.size(); ++i) at[i] = wordWeights_->IndexOf(words[i]);
  return at;
}

// ---- scoring -------------------------------------------------------------------------------

int LearningEngine::GetSimpleRelevance(const std::vector<std::string>& words) {
  int result = 0;
  if (!words.empty()) {
    int64_t sum = 0;
    for (const auto& w : words) {
      const int at = wordWeights_->IndexOf(w);
      if (at >= 0) sum += wordWeights_->ValueAt(at) * 100 / maxWordWeight_;
    }
    result = static_cast<int>(sum / static_cast<int64_t>(words.size()));
  }
  Verbose("Relevance=" + std::to_string(result) + "%");
  return result;
}

int LearningEngine::GetRelationshipRelevance(const std::vector<std::string>& words) {
  std::vector<std::string> copy = words;
  return GetRelationshipRelevance(copy);
}

int LearningEngine::GetRelationshipRelevance(std::vector<std::string>& words) {
  SortUnique(words);
  const int64_t c = static_cast<int64_t>(words.size());
  if (c < 2) return 0;
  const int64_t sum =
      c <= kSingleThreadScanLimit ? ScanRelTableSingleThread(words) : ScanRelTableMultiThread(words);
  return static_cast<int>(sum / (c * (c - 1)));
}

int LearningEngine::GetRelevance(std::string_view text) {
  Verbose("Checking relevance");
  std::vector<std::string> words = GetWordList(text);
  if (words.empty()) return 0;
  const int s = GetSimpleRelevance(words);
  if (s <= 0) return s;
  const int r = GetRelationshipRelevance(words);
  const int result = (s + r) / 2;
  Verbose("Relationship relevance=" + std::to_string(result) + "%");
  return result;
}

namespace {

int64_t ElapsedMs(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since)
      .count();
}

}  // namespace

void LearningEngine::EndScan() {
  if (--scanDepth_ > 0) return;
  // Ratings given while the scan was being waited for: applied in the order they came.
  while (!pending_.empty() && scanDepth_ == 0) {
    PendingRating p = std::move(pending_.front());
    pending_.pop_front();
    ApplyRating(p.text, p.rating, p.recorded);
  }
}

int64_t LearningEngine::ScanRelTableSingleThread(const std::vector<std::string>& words) {
  const int n = static_cast<int>(words.size());
  Verbose("Checking " + std::to_string(n) + " words against rel table with single thread");
  const auto start = std::chrono::steady_clock::now();
  ++scanDepth_;
  int64_t sum = 0;
  try {
    const RelScanContext context(relTable_, ScanPositions(words), maxWordWeight_);
    for (int i = 0; i < n; ++i) {
      port_->ProcessMessagesPaced();
      sum += context.RowSum(i);
    }
  } catch (...) {
    EndScan();
    throw;
  }
  Verbose("Single thread scan of " + std::to_string(n) + " words took " + std::to_string(ElapsedMs(start)));
  EndScan();
  return sum;
}

int64_t LearningEngine::ScanRelTableMultiThread(const std::vector<std::string>& words) {
  return MultiThreadSum(words, nullptr, 0);
}

int64_t LearningEngine::MultiThreadSum(const std::vector<std::string>& words,
                                       std::vector<PairCollector>* pairs, int pairLimit) {
  const auto start = std::chrono::steady_clock::now();
  const int n = static_cast<int>(words.size());
  const auto ranges = ScanThreadRanges(n, processorCount_ > 0 ? processorCount_ : ProcessorCount());
  if (!pairs)
    Verbose("Checking " + std::to_string(n) + " words against rel table with " + std::to_string(ranges.size()) +
            " threads");
  ++scanDepth_;
  int64_t sum = 0;
  try {
    const RelScanContext context(relTable_, ScanPositions(words), maxWordWeight_);
    const int processors = processorCount_ > 0 ? processorCount_ : ProcessorCount();
    RelScanPool* pool = nullptr;
    if (scanWait_ == ScanWait::kNotified) {
      // As many workers as a scan has ranges at most, so that each range runs at once.
      if (!pool_) pool_ = std::make_unique<RelScanPool>(4 * std::max(processors, 1));
      pool = pool_.get();
    }
    if (pairs) pairs->assign(ranges.size(), PairCollector(pairLimit));
    ScanDoorbell doorbell;
    std::vector<std::unique_ptr<TRelScanThread>> threads;
    threads.reserve(ranges.size());
    for (const auto& [first, last] : ranges) {
      auto t = std::make_unique<TRelScanThread>(context, &doorbell);
      t->StartRow = first;
      t->Words = &words;
      t->EndRow = last;
      if (pairs) t->Pairs = &(*pairs)[threads.size()];
      threads.push_back(std::move(t));
      threads.back()->Start(pool);
    }
    auto allDone = [&] {
      for (const auto& t : threads)
        if (!t->Done.load(std::memory_order_acquire)) return false;
      return true;
    };
    for (;;) {
      port_->ProcessMessagesPaced();
      if (scanWait_ == ScanWait::kSleepPoll) {
        std::this_thread::sleep_for(std::chrono::milliseconds(pollMs_));
      } else {
        // A few milliseconds at most, so the window keeps being served while the workers run,
        // and no longer than the work itself when they finish early.
        std::unique_lock<std::mutex> lock(doorbell.mutex);
        const int expected = static_cast<int>(threads.size());
        doorbell.cv.wait_for(lock, std::chrono::milliseconds(5),
                             [&] { return doorbell.finished == expected; });
      }
      if (allDone()) break;
    }
    for (auto& t : threads) {
      t->Join();
      sum += t->Total;
    }
  } catch (...) {
    EndScan();
    throw;
  }
  if (!pairs)
    Verbose("Multiple thread scan of " + std::to_string(n) + " words took " + std::to_string(ElapsedMs(start)));
  EndScan();
  return sum;
}

// ---- explanation ---------------------------------------------------------------------------

RelevanceExplanation LearningEngine::ExplainRelevance(std::string_view text, int pairLimit) {
  RelevanceExplanation x;
  const std::vector<std::string> list = GetWordList(text);
  x.wordCount = static_cast<int>(list.size());
  // The simple score's terms, grouped by word in the order of first occurrence.
  std::unordered_map<std::string, size_t> seen;
  for (const auto& w : list) {
    const int at = wordWeights_->IndexOf(w);
    if (at < 0) continue;
    const int term = wordWeights_->ValueAt(at) * 100 / maxWordWeight_;
    auto [it, added] = seen.emplace(w, x.words.size());
    if (added) x.words.push_back({w, 0, wordWeights_->ValueAt(at), 0});
    WordContribution& c = x.words[it->second];
    ++c.count;
    c.contribution += term;
    x.simpleSum += term;
  }
  if (x.wordCount > 0) x.simple = static_cast<int>(x.simpleSum / x.wordCount);

  std::vector<std::string> sorted = list;
  SortUnique(sorted);
  x.distinctWords = static_cast<int>(sorted.size());
  const int64_t c = x.distinctWords;
  if (c >= 2) {
    PairCollector strongest(pairLimit);
    if (c <= kSingleThreadScanLimit) {
      ++scanDepth_;
      try {
        const RelScanContext context(relTable_, ScanPositions(sorted), maxWordWeight_);
        x.pairSum = context.RangeSum(0, static_cast<int>(c) - 1, strongest);
      } catch (...) {
        EndScan();
        throw;
      }
      EndScan();
    } else {
      std::vector<PairCollector> parts;
      x.pairSum = MultiThreadSum(sorted, &parts, pairLimit);
      for (const auto& p : parts) strongest.Merge(p);
    }
    x.relationship = static_cast<int>(x.pairSum / (c * (c - 1)));
    auto named = [&](const std::vector<PairCollector::Pair>& pairs, std::vector<PairContribution>& out) {
      for (const auto& p : pairs) {
        const std::string& a = sorted[static_cast<size_t>(p.first)];
        const std::string& b = sorted[static_cast<size_t>(p.second)];
        out.push_back(
            {a, b, relTable_.Get(wordWeights_->IndexOf(a), wordWeights_->IndexOf(b)), p.contribution});
      }
    };
    named(strongest.Positive(), x.positivePairs);
    named(strongest.Negative(), x.negativePairs);
  }
  if (x.wordCount == 0 || x.simple <= 0)
    x.overall = x.simple;
  else
    x.overall = (x.simple + x.relationship) / 2;
  return x;
}

}  // namespace zibu
