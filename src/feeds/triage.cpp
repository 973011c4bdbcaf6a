#include "feeds/triage.h"

#include <string>

#include "common/ports.h"
#include "common/text.h"
#include "feeds/keyword_rules.h"
#include "feeds/shown_memory.h"

namespace zibu {

bool IsDuplicate(const TItem& item, const Items& results) {
  for (const TItem& other : results)
    if (other.Title == item.Title && other.Link == item.Link) return true;
  return false;
}

void TriageItem(const TriageContext& context, const TFeed& feed, TItem& item, Items& results) {
  if (WasShownRecently(context.shownUrls, item.Link, context.clock.NowMs(), context.repeatIntervalMs)) {
    context.port.Log("URL " + item.Link + " has been shown recently, ignoring it", true);
    return;
  }
  item.Title = HtmlToText(item.Title);
  item.Description = HtmlToText(item.Description);
  if (IsDuplicate(item, results)) {
    context.port.Log("Duplicate URL " + item.Link + " found, ignoring it", true);
    return;
  }
  const std::string text = item.Title + " " + item.Description;
  const std::string matched = MatchKeywords(feed, text, context.port);
  if (!matched.empty()) {
    if (context.isLearning) {
      item.Reason = "Learning";
    } else {
      item.Reason = "Keyword match on " + matched;
      context.port.Log(item.Reason);
    }
    item.Relevance = 100;
    results.push_back(item);
    return;
  }
  const int relevance = context.learner.GetRelevance(text);
  if (relevance >= context.threshold) {
    item.Reason = "Article found, relevance=" + std::to_string(relevance) + "%";
    context.port.Log(item.Reason);
    item.Relevance = relevance;
    results.push_back(item);
  }
}

}  // namespace zibu
