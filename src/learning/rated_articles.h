// How the articles the user rated had scored just before each rating was learned, and the
// threshold those ratings suggest. The learned relevance of an article is a fine ranking but a
// poor absolute figure (it averages over every word of the text, known or not), so where the
// threshold slider belongs is read from the user's own ratings rather than guessed.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>

namespace zibu {

inline constexpr const char* kRatedArticlesFile = "ratedarticles.dat";
// The most recent ratings kept; older ones say little about what the engine knows now.
inline constexpr int kRatedArticlesKept = 1000;
// No suggestion from fewer ratings than this of either kind.
inline constexpr int kMinRatingsOfEachKind = 5;

struct RatedArticle {
  int rating = 0;     // -10..10, never 0 (a rating of 0 teaches nothing and is not kept)
  int relevance = 0;  // -100..100, the learned relevance just before the rating was learned
  bool operator==(const RatedArticle&) const = default;
};

class TRatedArticles {
 public:
  TRatedArticles();
  // Appends one rating, the oldest leaving beyond kRatedArticlesKept. Values out of their ranges
  // are limited to them; a rating of 0 is ignored.
  void Add(int rating, int relevance);
  void Clear();
  int Count() const { return static_cast<int>(entries_.size()); }
  // Oldest first.
  const std::deque<RatedArticle>& Entries() const { return entries_; }
  // Changes with every change (see common/data_version.h).
  uint64_t Version() const { return version_; }

  // One line per rating, oldest first: the rating, a blank, the relevance, CR LF. Written to a
  // temporary name and renamed; IoError on failure.
  void SaveToFile(const std::string& fileName) const;
  // Replaces the entries with the file's; a missing file gives none. A line that is not two
  // numbers in their ranges is dropped, `damaged` being told its number (from 1) and why; only
  // the last kRatedArticlesKept good lines are kept. Returns the number of lines dropped or not
  // kept. IoError when the file is there but cannot be read (the entries are then empty).
  int LoadFromFile(const std::string& fileName,
                   const std::function<void(int line, const std::string& problem)>& damaged = {});

 private:
  std::deque<RatedArticle> entries_;
  uint64_t version_;
};

// What showing every article of relevance >= t would have done to the rated articles.
struct ThresholdOutcome {
  int relevant = 0;    // rated relevant (rating > 0) and shown
  int irrelevant = 0;  // rated irrelevant (rating < 0) and shown
  bool operator==(const ThresholdOutcome&) const = default;
};

struct ThresholdSuggestion {
  int recorded = 0;  // ratings in the record
  // The ratings the suggestion is read from: the most recent half of the record, reaching back
  // further when that half holds fewer than kMinRatingsOfEachKind of either kind.
  int rated = 0, relevant = 0, irrelevant = 0;
  std::optional<int> suggested;  // 0..100; none with too little evidence
  // With no suggestion, how many more ratings of each kind it needs.
  int neededRelevant = 0, neededIrrelevant = 0;
  // By threshold 0..100, over the same ratings.
  std::array<ThresholdOutcome, 101> shown{};
};

// The threshold with the best F1 (the harmonic mean of the share of relevant articles shown and
// the share of shown articles that are relevant). Equal F1: the higher threshold, which shows
// less that the user does not want. Every threshold between the same two recorded relevances
// does the same, so the middle of that run is taken: it sits between the relevant articles it
// shows and the ones it leaves out, not on the edge of either.
ThresholdSuggestion SuggestThreshold(const std::deque<RatedArticle>& record);

// The suggestion in the user's own terms, for a slider now at `current`:
// "Suggested: 2 % - of your last 200 rated articles, it would have shown 38 of the 45 you rated
// relevant and 6 of the 155 you rated irrelevant; at 30 % it would have shown 1 of 45", or what
// is still needed before there is one.
std::string SuggestionText(const ThresholdSuggestion& s, int current);

}  // namespace zibu
