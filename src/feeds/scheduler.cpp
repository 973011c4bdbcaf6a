#include "feeds/scheduler.h"

#include "common/compmap.h"
#include "common/global_settings.h"
#include "feeds/shown_memory.h"

namespace zibu {

namespace {
// The scheduled scan leaves the user alone while the window was touched this recently.
constexpr int64_t kActivityHoldMs = 30000;
}  // namespace

TFeedScanner::TFeedScanner(std::vector<TFeed>& feeds, TCompMap& shownUrls, RelevanceLearner& learner,
                           UserPort& port, const Clock& clock, ScanHost& host, PageFoundPort& pageFound)
    : feeds_(feeds),
      shownUrls_(shownUrls),
      learner_(learner),
      port_(port),
      clock_(clock),
      host_(host),
      pageFound_(pageFound) {}

void TFeedScanner::Touch() {
  lastUserActivity = clock_.NowMs();
}

TriageOutcome TFeedScanner::TriageItem(ScanState& scan, const TFeed& feed, TItem& item, Items& into) {
  const TriageContext context{
      shownUrls_,        learner_,        port_,           clock_, host_.Settings().repeatIntervalMs,
      host_.Threshold(), scan.isLearning, &scan.resultKeys};
  return zibu::TriageItem(context, feed, item, into);
}

void TFeedScanner::MarkPresented(ScanState& scan, const std::string& link, int rating) {
  const int64_t now = clock_.NowMs();
  zibu::MarkShown(shownUrls_, link, now);
  if (scan.isLearning) scan.presentedWhileLearning.Add(link, now);
  if (store_) {
    // The reading list shows what the user saw and rated here; it must not stop the scan.
    try {
      store_->MarkPresented(link, rating, now);
    } catch (const std::exception& e) {
      port_.Log(std::string("I could not mark the article read in the reading list: ") + e.what(), true);
    }
  }
}

bool TFeedScanner::UserLeftAlone() const {
  return clock_.NowMs() - lastUserActivity >= kActivityHoldMs;
}

void TFeedScanner::ResetClick() {
  host_.StopTimer();
  try {
    if (port_.AskYesNo("Reset - are you sure?")) {
      shownUrls_.Clear();
      for (TFeed& feed : feeds_) feed.lastRefresh = 0;
    }
  } catch (...) {
    host_.StartTimer();
    throw;
  }
  host_.StartTimer();
}

}  // namespace zibu
