// Scanning the feeds: the scheduled scan on the feeds timer, the two search buttons, cancel,
// the periodic save, the presentation of what was found, Reset and the learning run. The feeds
// window owns one TFeedScanner and stands behind its ScanHost; tests put a scripted user there.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/compmap.h"
#include "common/ports.h"
#include "feeds/feed.h"
#include "feeds/triage.h"

namespace zibu {

struct GlobalSettings;
class TCompMap;

// What the scanner needs of the window that drives it.
class ScanHost {
 public:
  virtual ~ScanHost() = default;
  virtual void StopTimer() = 0;
  virtual void StartTimer() = 0;
  // Locks (false) or unlocks (true) the controls; Cancel gets the opposite state.
  virtual void EnableControls(bool enabled) = 0;
  virtual void HideCommonIntervals() = 0;
  // Index of the selected feed, -1 when none.
  virtual int SelectedFeed() const = 0;
  // The relevance slider (0..100) and the results format (0 one by one, 1 as a table).
  virtual int Threshold() const = 0;
  virtual int ResultsFormat() const = 0;
  virtual const GlobalSettings& Settings() const = 0;
  // Scans one feed: sets its lastRefresh, downloads it, and hands every item to
  // TFeedScanner::TriageItem until the scanner's cancelRequested is set.
  virtual void ScanFeed(TFeed& feed, Items& results) = 0;
  // Processes all pending window messages.
  virtual void ProcessMessages() = 0;
  virtual void WaitForIdle(int64_t requiredIdleMs) = 0;
  virtual void SaveFeedConfig() = 0;
  virtual void SaveData() = 0;
  // Alerts the user and shows all items in the table window until it is closed; the user's
  // ratings are written into the items.
  virtual void ShowItemsInTable(Items& items) = 0;
  // The threshold the user's ratings suggest (0..100), none with too little evidence.
  virtual std::optional<int> SuggestedThreshold() const { return std::nullopt; }
  // After every presentation of results, empty or not, once the ratings are learned.
  virtual void ResultsPresented() {}
};

class TFeedScanner {
 public:
  TFeedScanner(std::vector<TFeed>& feeds, TCompMap& shownUrls, RelevanceLearner& learner, UserPort& port,
               const Clock& clock, ScanHost& host, PageFoundPort& pageFound);

  // ---- state shared with the window ----
  bool cancelRequested = false;
  bool isLearning = false;
  int64_t lastUserActivity = 0;
  int64_t lastSaveTime = 0;
  int64_t saveConfigIntervalMs = 10 * 60000LL;
  // The result list of the running scan; empty between scans.
  Items results;

  // The user touched the window: the scheduled scan waits 30 s from now.
  void Touch();
  // The user has left the window alone long enough for a scheduled scan.
  bool UserLeftAlone() const;

  // ---- triage and the shown-article memory ----
  void TriageItem(const TFeed& feed, TItem& item, Items& into);
  bool WasShownRecently(const std::string& link);
  void MarkShown(const std::string& link);
  // The articles rated during the learning run in progress, with the time each was shown: they
  // stay remembered as shown when the run gives the memory back.
  TCompMap ratedWhileLearning;

  // ---- scheduling ----
  // One tick of the feeds timer.
  void Timer1Timer();
  // All active feeds that are due; the scheduled scan (manual false) waits for an idle user.
  void SearchActiveFeeds(bool manual);
  void SearchSelectedFeed();
  void Cancel() { cancelRequested = true; }
  // "&Reset": asks, then forgets every shown article and every feed's last refresh.
  void ResetClick();

  // ---- presentation ----
  void PresentResults(Items& items);

  // ---- learning run ("&Learn") ----
  void LearnClick();

 private:
  void PresentOneByOne(Items& items);
  void PresentAsTable(Items& items);
  // The presented article goes into the memory; rated while learning, also into ratedWhileLearning.
  void MarkPresented(const std::string& link, int rating);

  std::vector<TFeed>& feeds_;
  TCompMap& shownUrls_;
  RelevanceLearner& learner_;
  UserPort& port_;
  const Clock& clock_;
  ScanHost& host_;
  PageFoundPort& pageFound_;
  TResultKeys resultKeys_;
};

}  // namespace zibu
