#include "feeds/presentation.h"

#include <utility>

#include "common/codepage.h"
#include "common/global_settings.h"
#include "feeds/feeds_texts.h"
#include "feeds/scheduler.h"
#include "learning/recent_scores.h"

namespace zibu {

void SortByRelevance(Items& items) {
  const size_t n = items.size();
  for (size_t r = 0; r < n; ++r)
    for (size_t i = 0; i < n; ++i)
      if (items[i].Relevance < items[r].Relevance) std::swap(items[i], items[r]);
}

bool RatingReminderDue(int itemCount, int rated) {
  return itemCount > 1 && itemCount / 3 >= rated;
}

std::string ThresholdAdvice(int threshold, std::optional<int> suggested) {
  std::string fromRatings;
  if (suggested && *suggested != threshold)
    fromRatings = " From the articles you have rated, I suggest " + std::to_string(*suggested) +
                  "%: the \"" + kUseSuggestionCaption + "\" button under the slider moves it there.";
  return "You may want to consider lowering the alert threshold by using the slider on the top right, it is "
         "currently set to only show articles with a relevance of at least " +
         std::to_string(threshold) + "%." + fromRatings +
         "\r\nYou could also run the learning process on more feeds - the more times you do this, the more "
         "I "
         "will learn about the type of content that interests you";
}

std::string RatingReminder(int rated, int itemCount) {
  return "You only rated " + std::to_string(rated) + "/" + std::to_string(itemCount) +
         " articles.\r\nPlease try to rate articles by relevance as this is the only way I can learn about "
         "what "
         "interests you and show you relevant content";
}

void TFeedScanner::PresentResults(ScanState& scan, Items& items) {
  if (items.empty()) {
    port_.Log("No new matching items found");
    // A slider that follows the suggestion has moved before the advice names where it stands.
    host_.ResultsPresented();
    if (host_.Settings().firstTime) port_.Log(ThresholdAdvice(host_.Threshold(), host_.SuggestedThreshold()));
    return;
  }
  SortByRelevance(items);
  // Told against every score of this scan too, not only those before the article's own.
  if (const TRecentScores* recent = learner_.RecentScores()) {
    const int64_t now = clock_.NowMs();
    for (TItem& item : items)
      if (item.Scored) item.Standing = StandingText(recent->StandingOf(item.Relevance, now));
  }
  if (host_.ResultsFormat() != 0)
    PresentAsTable(scan, items);
  else
    PresentOneByOne(scan, items);
  host_.ResultsPresented();
}

void TFeedScanner::PresentOneByOne(ScanState& scan, Items& items) {
  int rated = 0;
  bool enough = false;
  for (const TItem& item : items) {
    const bool ownCharacters = !item.TitleUtf8.empty() || !item.LinkUtf8.empty();
    port_.LogQuoting("Showing " + item.Title + ", link=" + item.Link,
                     ownCharacters ? "Showing " + DisplayUtf8(item.Title, item.TitleUtf8) +
                                         ", link=" + DisplayUtf8(item.Link, item.LinkUtf8)
                                   : std::string(),
                     true);
    const PageFoundResult answer = pageFound_.ShowArticle(
        {item.Reason, item.Title, item.Description, item.Link, item.Relevance, item.MatchedRule,
         scan.isLearning, item.Standing, item.TitleUtf8, item.DescriptionUtf8, item.LinkUtf8});
    // The program is closing: what the user has not answered stays unmarked, to be found again
    // by the next scan, and no more windows are put up.
    if (answer.ending) return;
    learner_.LearnFromRating(answer.rating, item.Title + " " + item.Description);
    if (answer.rating != 0) ++rated;
    MarkPresented(scan, item.Link, answer.rating);
    if (answer.enough) {
      // No feed is due again before its full interval; the rest stays unseen and unmarked.
      enough = true;
      const int64_t now = clock_.NowMs();
      for (TFeed& feed : feeds_) feed.lastRefresh = now;
      break;
    }
  }
  const int count = static_cast<int>(items.size());
  if (host_.Settings().showNagScreens && !enough && RatingReminderDue(count, rated))
    port_.ShowMessage(RatingReminder(rated, count));
}

void TFeedScanner::PresentAsTable(ScanState& scan, Items& items) {
  host_.ShowItemsInTable(items);
  port_.Log("Updating relevance tables");
  for (const TItem& item : items) {
    learner_.LearnFromRating(item.Rating, item.Title + " " + item.Description);
    MarkPresented(scan, item.Link, item.Rating);
    port_.ProcessMessagesPaced();
  }
  port_.Log("Finished updating relevance tables");
}

}  // namespace zibu
