#include "feeds/scheduler.h"

#include <exception>

#include "common/compmap.h"
#include "common/errors.h"
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

void TFeedScanner::TriageItem(const TFeed& feed, TItem& item, Items& into) {
  const TriageContext context{
      shownUrls_,        learner_,   port_,       clock_, host_.Settings().repeatIntervalMs,
      host_.Threshold(), isLearning, &resultKeys_};
  zibu::TriageItem(context, feed, item, into);
}

bool TFeedScanner::WasShownRecently(const std::string& link) {
  return zibu::WasShownRecently(shownUrls_, link, clock_.NowMs(), host_.Settings().repeatIntervalMs);
}

void TFeedScanner::MarkShown(const std::string& link) {
  zibu::MarkShown(shownUrls_, link, clock_.NowMs());
}

void TFeedScanner::MarkPresented(const std::string& link, int rating) {
  const int64_t now = clock_.NowMs();
  zibu::MarkShown(shownUrls_, link, now);
  if (isLearning && rating != 0) ratedWhileLearning.Add(link, now);
}

bool TFeedScanner::UserLeftAlone() const {
  return clock_.NowMs() - lastUserActivity >= kActivityHoldMs;
}

void TFeedScanner::Timer1Timer() {
  if (!UserLeftAlone()) return;
  try {
    host_.HideCommonIntervals();
    SearchActiveFeeds(false);
    if (clock_.NowMs() - lastSaveTime > saveConfigIntervalMs) {
      host_.SaveFeedConfig();
      host_.SaveData();
      lastSaveTime = clock_.NowMs();
    }
  } catch (const std::exception& e) {
    port_.Log(ErrorText(e));
  }
}

void TFeedScanner::SearchActiveFeeds(bool manual) {
  host_.StopTimer();
  cancelRequested = false;
  host_.EnableControls(false);
  results.clear();
  auto finish = [this] {
    results.clear();
    host_.EnableControls(true);
    host_.StartTimer();
  };
  try {
    port_.Log("Searching all active feeds");
    const GlobalSettings& settings = host_.Settings();
    // By index: the list is locked during the scan, but messages are processed between feeds.
    for (size_t i = 0; i < feeds_.size(); ++i) {
      TFeed& feed = feeds_[i];
      if (!feed.active) {
        port_.Log("Ignoring inactive feed " + feed.url);
        continue;
      }
      if (static_cast<int64_t>(feed.refreshInterval) * 1000 > clock_.NowMs() - feed.lastRefresh) {
        port_.Log("Ignoring feed " + feed.url + " as recently scanned", true);
        continue;
      }
      if (!manual && settings.runAfterIdleForMs >= 0 &&
          static_cast<int64_t>(clock_.IdleMs()) < settings.runAfterIdleForMs) {
        port_.Log("User is busy, waiting for idle...");
        host_.WaitForIdle(settings.runAfterIdleForMs);
      }
      host_.ScanFeed(feed, results);
      host_.ProcessMessages();
      if (cancelRequested) break;
    }
    if (!cancelRequested) PresentResults(results);
    port_.Log("Finished searching active feeds");
  } catch (...) {
    finish();
    throw;
  }
  finish();
}

void TFeedScanner::SearchSelectedFeed() {
  cancelRequested = false;
  results.clear();
  host_.StopTimer();
  host_.EnableControls(false);
  auto finish = [this] {
    results.clear();
    host_.StartTimer();
    host_.EnableControls(true);
  };
  try {
    const int selected = host_.SelectedFeed();
    if (selected < 0 || selected >= static_cast<int>(feeds_.size())) {
      port_.ShowMessage("Please select a feed to search");
    } else {
      host_.ScanFeed(feeds_[selected], results);
      // What was found before a cancel is presented all the same.
      PresentResults(results);
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
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
