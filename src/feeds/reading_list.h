// What the reading list does with the learning: a rating given to a kept article teaches the
// engine as the rating windows do, and the kept articles' relevances follow what was learned.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string_view>
#include <string>
#include <utility>
#include <vector>

#include "common/compmap.h"
#include "feeds/feed.h"
#include "feeds/triage.h"
#include "learning/engine.h"
#include "store/article_store.h"

namespace zibu {

// Rates a kept article: the engine learns from its text as from a rating window (the record of
// rated articles included), its link is remembered as shown, and the store keeps the rating
// and marks it read. A changed rating teaches only the change, so an article never counts twice
// in what was learned; 0 takes a rating back. False when the store no longer has the article.
bool RateStoredArticle(LearningEngine& engine, TArticleStore& store, TCompMap& shownUrls, int64_t nowMs,
                       int64_t id, int rating);

// Keeps every article a scan reads in the store, whether triage takes it or not: collected as
// each is triaged, kept in one transaction at the end of its feed (a feed of more than
// kArticlesPerTransaction articles in several). A store that cannot be
// written costs the reading list that feed's articles and one status-log line a scan; the scan
// goes on.
class TArticleKeeper {
 public:
  explicit TArticleKeeper(TArticleStore& store) : store_(store) {}
  // `contentHtml`: the item's text as read (the display form), for reading; `triaged`: the item
  // as the triage left it, with what it made of it; `learning`: a learning run's, whose keyword
  // rules take every article and so say nothing of its relevance.
  void Add(std::string contentHtml, TItem triaged, TriageOutcome outcome, bool learning = false);
  // At the end of a feed's turn, a part at a time: keeps articles until `until` has passed (at
  // least one) and returns true once all are kept, in one transaction. `score` gives the
  // relevance of a new article the triage did not score (a learning run's, one shown recently).
  bool Keep(const std::string& feedUrl, int64_t nowMs, const std::function<int(std::string_view)>& score,
            UserPort& port, std::chrono::steady_clock::time_point until);
  size_t Pending() const { return pending_.size() - next_; }
  // What a cancelled scan had read is kept all the same.
  ~TArticleKeeper();

 private:
  void Failed(const std::exception& e, UserPort& port);
  TArticleStore& store_;
  std::vector<StoredArticle> pending_;
  std::vector<bool> scored_;
  size_t next_ = 0;
  size_t inTransaction_ = 0;
  bool failureLogged_ = false;
};

// The most articles one transaction of the store holds (see TArticleKeeper::Keep).
inline constexpr size_t kArticlesPerTransaction = 1000;

// Scores the unread articles again after learning changed, newest first, a slice at a time so
// the thread that drives it stays free between slices. A new change of learning starts it over.
class TRescoring {
 public:
  // Takes the unread articles to score from the store (their ids; the texts come a part at a
  // time as they are scored).
  void Start(const TArticleStore& store);
  bool Running() const { return next_ < pending_.size(); }
  // Scores until `budgetMs` has passed on `clock` (at least one article), writes what it
  // scored to the store, and returns those ids with their new relevances.
  std::vector<std::pair<int64_t, int32_t>> Step(LearningEngine& engine, TArticleStore& store, const Clock& clock,
                                                int64_t budgetMs);
  size_t Remaining() const { return pending_.size() - next_; }

 private:
  std::vector<int64_t> pending_;
  size_t next_ = 0;
};

}  // namespace zibu
