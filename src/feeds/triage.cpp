#include "feeds/triage.h"

#include <string>

#include "common/codepage.h"
#include "common/ports.h"
#include "common/text.h"
#include "feeds/feed_list.h"
#include "feeds/shown_memory.h"
#include "learning/recent_scores.h"
#include "rules/keyword_rules.h"

namespace zibu {

namespace {

// The UTF-8 form of a text follows it through the conversion to plain text. A text without a form
// of its own reads the same in both, and needs one only where a reference gives a character.
void ConvertDisplay(const std::string& html, const std::string& text, std::string& utf8) {
  if (utf8.empty() && html.find('&') == std::string::npos) return;
  utf8 = HtmlToTextUtf8(utf8.empty() ? Win1252ToUtf8(html) : utf8);
  if (utf8 == text) utf8.clear();
}

}  // namespace

bool IsDuplicate(const TItem& item, const Items& results) {
  for (const TItem& other : results)
    if (other.Title == item.Title && other.Link == item.Link) return true;
  return false;
}

std::string TResultKeys::Key(const TItem& item) {
  // The length keeps every split of the two texts apart.
  return std::to_string(item.Title.size()) + ':' + item.Title + item.Link;
}

bool TResultKeys::Contains(const TItem& item, const Items& results) {
  if (list_ != &results || results.size() < indexed_ ||
      (indexed_ > 0 && Key(results[indexed_ - 1]) != lastKey_)) {
    list_ = &results;
    indexed_ = 0;
    keys_.clear();
  }
  for (; indexed_ < results.size(); ++indexed_) {
    lastKey_ = Key(results[indexed_]);
    keys_.insert(lastKey_);
  }
  return keys_.count(Key(item)) > 0;
}

void ToPlainTexts(TItem& item) {
  std::string title = HtmlToText(item.Title);
  std::string description = HtmlToText(item.Description);
  ConvertDisplay(item.Title, title, item.TitleUtf8);
  ConvertDisplay(item.Description, description, item.DescriptionUtf8);
  item.Title = std::move(title);
  item.Description = std::move(description);
}

TriageOutcome TriageItem(const TriageContext& context, const TFeed& feed, TItem& item, Items& results) {
  if (WasShownRecently(context.shownUrls, item.Link, context.clock.NowMs(), context.repeatIntervalMs)) {
    context.port.LogQuoting("URL " + item.Link + " has been shown recently, ignoring it",
                            item.LinkUtf8.empty() ? std::string()
                                                  : "URL " + item.LinkUtf8 + " has been shown recently, ignoring it",
                            true);
    return TriageOutcome::ShownRecently;
  }
  ToPlainTexts(item);
  const bool duplicate =
      context.resultKeys ? context.resultKeys->Contains(item, results) : IsDuplicate(item, results);
  if (duplicate) {
    context.port.LogQuoting("Duplicate URL " + item.Link + " found, ignoring it",
                            item.LinkUtf8.empty() ? std::string() : "Duplicate URL " + item.LinkUtf8 + " found, ignoring it",
                            true);
    return TriageOutcome::Duplicate;
  }
  item.FeedName = FeedNameUtf8(feed);
  const std::string text = item.Title + " " + item.Description;
  const KeywordMatch match = MatchKeywordLine(feed.keywords, text, context.port);
  // The working record may carry the line of an earlier article.
  item.MatchedRule.clear();
  item.Scored = false;
  item.Standing.clear();
  if (!match.terms.empty()) {
    if (context.isLearning) {
      item.Reason = "Learning";
    } else {
      item.Reason = "Keyword match on " + match.terms;
      item.MatchedRule = match.line;
      context.port.Log(item.Reason);
    }
    item.Relevance = 100;
    results.push_back(item);
    return TriageOutcome::KeywordMatch;
  }
  const int relevance = context.learner.GetRelevance(text);
  item.Relevance = relevance;
  if (TRecentScores* recent = context.learner.RecentScores()) recent->Add(context.clock.NowMs(), relevance);
  if (relevance >= context.threshold) {
    item.Scored = true;
    item.Reason = "Article found, relevance=" + std::to_string(relevance) + "%";
    context.port.Log(item.Reason);
    results.push_back(item);
  }
  return TriageOutcome::Scored;
}

}  // namespace zibu
