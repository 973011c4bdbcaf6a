// Seeing and correcting what was learned: the word list for a window, a word's strongest
// relationships, setting a weight, forgetting a word, extending the common words.
#include <algorithm>

#include "common/errors.h"
#include "common/file_io.h"
#include "common/shortintmap.h"
#include "common/text.h"
#include "learning/engine.h"

namespace zibu {

void SortLearnedWords(std::vector<LearnedWord>& words, LearnedWordOrder order) {
  auto byWord = [](const LearnedWord& x, const LearnedWord& y) {
    return CompareTextNoCase(x.word, y.word) < 0;
  };
  switch (order) {
    case LearnedWordOrder::kByWord:
      std::stable_sort(words.begin(), words.end(), byWord);
      break;
    case LearnedWordOrder::kByWeightDescending:
      std::stable_sort(words.begin(), words.end(), [&](const LearnedWord& x, const LearnedWord& y) {
        if (x.weight != y.weight) return x.weight > y.weight;
        return x.relationships != y.relationships ? x.relationships > y.relationships : byWord(x, y);
      });
      break;
    case LearnedWordOrder::kByWeightAscending:
      // Either way the best-founded of equal weights come first.
      std::stable_sort(words.begin(), words.end(), [&](const LearnedWord& x, const LearnedWord& y) {
        if (x.weight != y.weight) return x.weight < y.weight;
        return x.relationships != y.relationships ? x.relationships > y.relationships : byWord(x, y);
      });
      break;
  }
}

std::vector<LearnedWord> FilterLearnedWords(const std::vector<LearnedWord>& words, std::string_view search) {
  if (search.empty()) return words;
  const std::string needle = AnsiUpperCase(search);
  std::vector<LearnedWord> found;
  for (const auto& w : words)
    if (AnsiUpperCase(w.word).find(needle) != std::string::npos) found.push_back(w);
  return found;
}

std::vector<LearnedWord> LearningEngine::LearnedWords() const {
  std::vector<LearnedWord> words;
  words.reserve(static_cast<size_t>(WordCount()));
  for (int i = 0; i < WordCount(); ++i) {
    int related = 0;
    if (i < relTable_.RowCount()) {
      related = relTable_.RowNonZero(i);
      if (i < relTable_.RowLength(i) && relTable_.Get(i, i) != 0) --related;  // a word with itself is no evidence
    }
    words.push_back({wordWeights_->KeyAt(i), wordWeights_->ValueAt(i), related});
  }
  return words;
}

std::vector<std::pair<std::string, int>> LearningEngine::StrongestRelationships(std::string_view word,
                                                                                int limit) const {
  std::vector<std::pair<std::string, int>> result;
  const int a = wordWeights_->IndexOf(word);
  if (a < 0 || a >= relTable_.RowCount() || limit <= 0) return result;
  std::vector<std::pair<int, int>> cells;  // position, value
  const T2DRelTypeArray::RowView row = relTable_.View(a);
  const int n = std::min(WordCount(), relTable_.RowLength(a));
  if (row.dense) {
    for (int b = 0; b < std::min(row.held, n); ++b)
      if (row.dense[b] != 0 && b != a) cells.push_back({b, row.dense[b]});
  } else {
    for (int k = 0; k < row.held; ++k) {
      const int b = T2DRelTypeArray::EntryColumn(row.entries[k]);
      if (b < n && b != a) cells.push_back({b, T2DRelTypeArray::EntryValue(row.entries[k])});
    }
  }
  auto stronger = [](const std::pair<int, int>& x, const std::pair<int, int>& y) {
    const int ax = std::abs(x.second), ay = std::abs(y.second);
    return ax != ay ? ax > ay : x.first < y.first;
  };
  const size_t keep = std::min(cells.size(), static_cast<size_t>(limit));
  std::partial_sort(cells.begin(), cells.begin() + static_cast<std::ptrdiff_t>(keep), cells.end(), stronger);
  for (size_t i = 0; i < keep; ++i) result.push_back({wordWeights_->KeyAt(cells[i].first), cells[i].second});
  return result;
}

bool LearningEngine::SetWordWeight(std::string_view word, int weight) {
  if (scanDepth_ > 0)
    throw Error("I cannot change a weight while a relevance scan is running", "EInvalidOperation");
  const int at = wordWeights_->IndexOf(word);
  if (at < 0) return false;
  wordWeights_->SetValueAt(at, static_cast<int8_t>(Clamp(weight)));
  return true;
}

bool LearningEngine::ForgetWord(std::string_view word) {
  if (scanDepth_ > 0)
    throw Error("I cannot forget a word while a relevance scan is running", "EInvalidOperation");
  bool forgot = false;
  // Every copy of the word (a damaged file may hold one twice).
  for (int at = wordWeights_->IndexOf(word); at >= 0; at = wordWeights_->IndexOf(word)) {
    if (!relTable_.IsSquare(WordCount())) relTable_.Resize(WordCount());
    wordWeights_->Delete(at);
    relTable_.RemoveWord(at);
    forgot = true;
  }
  if (forgot) relTable_.Resize(WordCount());
  return forgot;
}

bool LearningEngine::AddCommonWord(std::string_view word) {
  // Refused before the file is written: the word could not be forgotten afterwards.
  if (scanDepth_ > 0)
    throw Error("I cannot add a common word while a relevance scan is running", "EInvalidOperation");
  const std::string w = Trim(word);
  if (w.empty()) return false;
  if (!commonWordsLoaded_)
    throw Error("I cannot add a common word: " + std::string(kCommonWordsFile) + " was not loaded",
                "EInvalidOperation");
  std::vector<std::string> words = commonWords_;
  words.push_back(w);
  SortUnique(words);
  if (words.size() == commonWords_.size()) {
    ForgetWord(w);
    return false;
  }
  std::string bytes;
  for (const auto& c : words) bytes += c + "\r\n";
  WriteFileAtomic(dataDir_ + kCommonWordsFile, bytes);
  commonWords_ = std::move(words);
  ForgetWord(w);
  return true;
}

}  // namespace zibu
