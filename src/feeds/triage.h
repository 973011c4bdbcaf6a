// Item triage: whether an article read from a feed goes into the scan's result list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>

#include "feeds/feed.h"

namespace zibu {

class Clock;
class TCompMap;
class TRecentScores;
class UserPort;

// What triage and presentation need of the learning engine.
class RelevanceLearner {
 public:
  virtual ~RelevanceLearner() = default;
  // Overall relevance of a text, -100..100.
  virtual int GetRelevance(std::string_view text) = 0;
  // A rating of 0 teaches nothing.
  virtual void LearnFromRating(int rating, std::string_view text) = 0;
  // Where the relevances the triage gives are recorded; none for a learner that keeps no record.
  virtual TRecentScores* RecentScores() { return nullptr; }
};

// The Title and Link pairs of a result list in a hashed set, so the duplicate check of an
// article does not walk everything the scan took before it. The set follows the list it is asked
// about: articles appended since the last question are added to it; another list, a shorter one
// or one whose last indexed article changed is indexed afresh.
class TResultKeys {
 public:
  // True when results holds an item with exactly the same Title and Link.
  bool Contains(const TItem& item, const Items& results);

 private:
  static std::string Key(const TItem& item);
  const Items* list_ = nullptr;
  size_t indexed_ = 0;
  std::string lastKey_;
  std::unordered_set<std::string> keys_;
};

struct TriageContext {
  TCompMap& shownUrls;
  RelevanceLearner& learner;
  UserPort& port;
  const Clock& clock;
  int64_t repeatIntervalMs;
  int threshold;                      // position of the relevance slider, 0..100
  bool isLearning;                    // a learning run: keyword matches get the reason "Learning"
  TResultKeys* resultKeys = nullptr;  // the duplicate check's set; none: the list is walked
};

// True when results already holds an item with exactly the same Title and Link.
bool IsDuplicate(const TItem& item, const Items& results);

// Turns an article's title and description into plain text, their forms to show with them.
void ToPlainTexts(TItem& item);

// What the triage made of an article.
enum class TriageOutcome {
  ShownRecently,  // skipped before anything was done to it
  Duplicate,      // its texts are plain; not scored
  KeywordMatch,   // taken with relevance 100; not scored
  Scored          // item.Relevance holds its score, taken or not
};

// Skips an article shown within the repeat interval, turns title and description into plain
// text, skips a duplicate of this scan, takes a keyword match with relevance 100, and otherwise
// takes the article when its relevance reaches the threshold. item is the scan's working record
// and keeps the converted texts; a copy is appended to results.
TriageOutcome TriageItem(const TriageContext& context, const TFeed& feed, TItem& item, Items& results);

}  // namespace zibu
