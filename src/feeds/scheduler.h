// What the scans of the feeds share: when the window was last touched and the data last saved,
// the triage of one article and the presentation of what a scan found, and Reset. The scans
// themselves are jobs (TScanJob), each with its own ScanState. The session owns one TFeedScanner
// and stands behind its ScanHost; tests put a scripted user there.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/compmap.h"
#include "common/ports.h"
#include "feeds/feed.h"
#include "feeds/triage.h"
#include "store/article_store.h"

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

// What one scan works with from its start to its end; the scan's job owns it.
struct ScanState {
  bool cancelRequested = false;
  // A learning run: keyword matches get the reason "Learning", and ratings are recorded below.
  bool isLearning = false;
  // The result list of the scan.
  Items results;
  // The articles presented during a learning run, rated or not, with the time each was shown:
  // they stay remembered as shown when the run gives the memory back (a 0 there is the user's
  // "not for me", not a request to see the article again).
  TCompMap presentedWhileLearning;
  // The duplicate check's index of `results`.
  TResultKeys resultKeys;
};

class TFeedScanner {
 public:
  TFeedScanner(std::vector<TFeed>& feeds, TCompMap& shownUrls, RelevanceLearner& learner, UserPort& port,
               const Clock& clock, ScanHost& host, PageFoundPort& pageFound);

  // ---- the schedule, which outlives every scan ----
  int64_t lastUserActivity = 0;
  int64_t lastSaveTime = 0;
  int64_t saveConfigIntervalMs = 10 * 60000LL;

  // The user touched the window: the scheduled scan waits 30 s from now.
  void Touch();
  // The user has left the window alone long enough for a scheduled scan.
  bool UserLeftAlone() const;

  // ---- triage ----
  TriageOutcome TriageItem(ScanState& scan, const TFeed& feed, TItem& item, Items& into);
  // Where presented articles are marked read and keep their rating; null: nowhere.
  void SetStore(TArticleStore* store) { store_ = store; }
  // The relevance of a text with what has been learned by now.
  int Score(std::string_view text) { return learner_.GetRelevance(text); }

  // "&Reset": asks, then forgets every shown article and every feed's last refresh.
  void ResetClick();

  // ---- presentation ----
  void PresentResults(ScanState& scan, Items& items);

 private:
  void PresentOneByOne(ScanState& scan, Items& items);
  void PresentAsTable(ScanState& scan, Items& items);
  // The presented article goes into the memory; while learning, also into the scan's
  // presentedWhileLearning.
  void MarkPresented(ScanState& scan, const std::string& link, int rating);

  std::vector<TFeed>& feeds_;
  TCompMap& shownUrls_;
  RelevanceLearner& learner_;
  TArticleStore* store_ = nullptr;
  UserPort& port_;
  const Clock& clock_;
  ScanHost& host_;
  PageFoundPort& pageFound_;
};

}  // namespace zibu
