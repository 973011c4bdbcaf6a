#include "feeds/reading_list.h"

#include "feeds/shown_memory.h"

namespace zibu {

bool RateStoredArticle(LearningEngine& engine, TArticleStore& store, TCompMap& shownUrls, int64_t nowMs,
                       int64_t id, int rating) {
  const auto article = store.Get(id);
  if (!article) return false;
  // The record of rated articles holds an article once, with its first rating.
  const int change = rating - article->rating;
  if (change != 0) engine.LearnFromRating(article->text, change, article->rating == 0);
  MarkShown(shownUrls, article->link, nowMs);
  store.SetRating(id, rating);
  store.SetRead({id}, true);
  return true;
}

void TRescoring::Start(const TArticleStore& store) {
  pending_ = store.UnreadTexts();
  next_ = 0;
}

std::vector<std::pair<int64_t, int32_t>> TRescoring::Step(LearningEngine& engine, TArticleStore& store,
                                                           const Clock& clock, int64_t budgetMs) {
  std::vector<std::pair<int64_t, int32_t>> scored;
  const int64_t start = clock.NowMs();
  while (next_ < pending_.size()) {
    auto& [id, text] = pending_[next_++];
    scored.emplace_back(id, engine.GetRelevance(text));
    std::string().swap(text);
    if (clock.NowMs() - start >= budgetMs) break;
  }
  if (!scored.empty()) store.SetRelevances(scored);
  if (next_ == pending_.size()) {
    pending_.clear();
    next_ = 0;
  }
  return scored;
}

}  // namespace zibu
