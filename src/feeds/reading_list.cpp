#include "feeds/reading_list.h"

#include <algorithm>

#include "common/ports.h"
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

void TArticleKeeper::Add(std::string contentHtml, TItem triaged, TriageOutcome outcome, bool learning) {
  if (outcome == TriageOutcome::ShownRecently) ToPlainTexts(triaged);
  StoredArticle a;
  a.guid = std::move(triaged.Guid);
  a.link = std::move(triaged.Link);
  a.text = triaged.Title + " " + triaged.Description;
  a.title = std::move(triaged.Title);
  a.titleUtf8 = std::move(triaged.TitleUtf8);
  a.content = std::move(contentHtml);
  a.base = triaged.Base.empty() ? a.link : std::move(triaged.Base);
  a.published = triaged.Published;
  a.relevance = triaged.Relevance;
  pending_.push_back(std::move(a));
  // A keyword match counts as relevance 100, as everywhere in the program.
  scored_.push_back(outcome == TriageOutcome::Scored || (outcome == TriageOutcome::KeywordMatch && !learning));
}

bool TArticleKeeper::Keep(const std::string& feedUrl, int64_t nowMs, const std::function<int(std::string_view)>& score,
                          UserPort& port, std::chrono::steady_clock::time_point until) {
  try {
    // Only what is new to the store is scored here; a kept article's relevance is kept current
    // by the rescoring after learning.
    auto relevanceOfNew = [&](const StoredArticle& a) -> int32_t {
      if (scored_[next_]) return a.relevance;
      return score ? score(a.text) : a.relevance;
    };
    bool first = true;
    while (next_ < pending_.size()) {
      if (!first && std::chrono::steady_clock::now() >= until) return false;
      first = false;
      if (!store_.KeepingFeed()) {
        store_.BeginFeed(feedUrl);
        inTransaction_ = 0;
      }
      store_.AddToFeed(pending_[next_], nowMs, relevanceOfNew);
      pending_[next_] = StoredArticle();
      ++next_;
      // A feed is one transaction, but a very long one is cut into several: the commit writes the
      // search index of all it holds at once, and that must not hold up the windows.
      if (++inTransaction_ == kArticlesPerTransaction && next_ < pending_.size()) {
        store_.CommitFeed();
        return false;
      }
    }
    store_.CommitFeed();
  } catch (const std::exception& e) {
    store_.RollbackFeed();
    Failed(e, port);
  }
  pending_.clear();
  scored_.clear();
  next_ = 0;
  return true;
}

void TArticleKeeper::Failed(const std::exception& e, UserPort& port) {
  if (failureLogged_) return;
  failureLogged_ = true;
  port.Log(std::string("I could not keep the articles of this scan in the reading list: ") + e.what());
}

TArticleKeeper::~TArticleKeeper() {
  try {
    store_.CommitFeed();
  } catch (...) {
  }
}

void TRescoring::Start(const TArticleStore& store) {
  pending_ = store.UnreadIds();
  next_ = 0;
}

std::vector<std::pair<int64_t, int32_t>> TRescoring::Step(LearningEngine& engine, TArticleStore& store,
                                                           const Clock& clock, int64_t budgetMs) {
  constexpr size_t kPart = 32;  // texts fetched at once
  std::vector<std::pair<int64_t, int32_t>> scored;
  const int64_t start = clock.NowMs();
  bool timeUp = false;
  while (next_ < pending_.size() && !timeUp) {
    const size_t end = std::min(pending_.size(), next_ + kPart);
    const auto texts = store.TextsOf(std::vector<int64_t>(pending_.begin() + static_cast<std::ptrdiff_t>(next_),
                                                          pending_.begin() + static_cast<std::ptrdiff_t>(end)));
    size_t done = 0;
    for (const auto& [id, text] : texts) {
      scored.emplace_back(id, engine.GetRelevance(text));
      ++done;
      if (clock.NowMs() - start >= budgetMs) {
        timeUp = true;
        break;
      }
    }
    // Ids whose texts are gone (forgotten meanwhile) count as done.
    if (timeUp && done < texts.size()) {
      const int64_t lastId = texts[done - 1].first;
      while (next_ < end && pending_[next_] != lastId) ++next_;
      ++next_;
    } else {
      next_ = end;
    }
  }
  if (!scored.empty()) store.SetRelevances(scored);
  if (next_ >= pending_.size()) {
    pending_.clear();
    next_ = 0;
  }
  return scored;
}

}  // namespace zibu
