// A feed scan as a job: the scheduled scan, the two search buttons and the learning run, advanced
// step by step from events instead of waiting in a loop. The downloads of every due feed run on
// the pool's workers, several at once, as soon as the scan starts, and each worker reads its
// feed's items from the bytes it fetched; the results are taken strictly in list order, each
// feed's items triaged only when its turn comes, so the log, the results and every lastRefresh
// are those of a scan that downloads one feed at a time. The triage stays on the driver's thread,
// since the learned data and the shown-article memory it reads may change between two events (a
// rating given in another window); a long feed is triaged in slices, each ending after
// `triageSliceMs`, with the driver's events handled in between.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/compmap.h"
#include "common/ports.h"
#include "feeds/download_pool.h"
#include "feeds/feed.h"
#include "feeds/feed_scan.h"
#include "feeds/reading_list.h"
#include "feeds/scheduler.h"

namespace zibu {

// Well under the 100 ms a window may stand still.
inline constexpr int kTriageSliceMs = 10;

enum class ScanKind {
  Scheduled,    // the feeds timer: all due active feeds, waiting for an idle user, then the periodic save
  ActiveFeeds,  // "&Search Act.": all due active feeds now
  SelectedFeed,  // "Search Sel.": the selected feed (or those chosen), due or not, active or not
  Learning       // "&Learn": the selected feed with the learning rules, the shown memory set aside
};

// What the job waits for after a step.
enum class ScanStep {
  Ready,     // nothing: let pending events run, then advance again
  Idle,      // the user is busy: advance again after IdleRecheckMs
  Download,  // the next feed's download: advance again when the pool wakes
  Done
};

struct ScanJobSettings {
  ScanKind kind = ScanKind::ActiveFeeds;
  FeedScanSettings scan;  // its cancelRequested is the job's own
  int maxParallel = kDefaultParallelDownloads;
  int perHost = kDownloadsPerHost;
  TDownloadPool::Fetch fetch;  // null: HttpGetResponse
  std::function<void()> wake;  // called on a worker thread whenever a download ends
  // For SelectedFeed: the feeds to scan (indices into the list), instead of the view's selection.
  std::vector<size_t> chosen;
  // The longest one step triages before it lets the driver's events run; 0: one item a step.
  int triageSliceMs = kTriageSliceMs;
  // Where every article the scan reads is kept (the reading list); null: nowhere.
  TArticleStore* store = nullptr;
};

class TScanJob {
 public:
  TScanJob(std::vector<TFeed>& feeds, TFeedScanner& scanner, ScanHost& host, UserPort& port, const Clock& clock,
           ScanJobSettings settings);
  // The learning run also needs the shown-article memory, set aside while it runs.
  void SetShownUrls(TCompMap* shownUrls) { shownUrls_ = shownUrls; }
  ~TScanJob();
  // The scan's own state: its cancel flag, its results, whether it is a learning run.
  ScanState& State() { return state_; }
  const ScanState& State() const { return state_; }
  // The scanner's triage with this scan's state (what a triage hook calls).
  void TriageItem(const TFeed& feed, TItem& item, Items& into);
  TScanJob(const TScanJob&) = delete;
  TScanJob& operator=(const TScanJob&) = delete;

  // Does everything that can be done now without waiting: at most one slice of one feed's
  // triage, or the presentation and the end. Errors end the job and go to the status log. Never
  // throws.
  ScanStep Advance();
  // Sets the scan's cancel flag and abandons every download in flight at once.
  void Cancel();
  bool Done() const { return stage_ == Stage::Done; }
  ScanKind Kind() const { return settings_.kind; }
  // How long to let the user be before looking again while the idle gate holds.
  int64_t IdleRecheckMs() const;
  // Runs the job to its end on this thread, sleeping while it waits (the command line, tests).
  void RunToEnd();
  const TDownloadPool& Pool() const { return *pool_; }

 private:
  enum class Stage { NotStarted, Walking, Finishing, Done };
  void Begin();
  // The walk of one-at-a-time order; returns what it now waits for.
  ScanStep Walk();
  void StartDueDownloads(size_t from);
  void Submit(size_t index);
  // The feed's turn: begun when its download is taken, then triaged slice by slice; true when
  // its items are done.
  bool ScanTurn(size_t index);
  bool Due(const TFeed& feed) const;
  // The feed at `index`: the learning run's copy stands in for the list's feed.
  TFeed& FeedAt(size_t index);
  void BeginLearning();
  void FinishLearning();
  void RestoreMemory();
  bool UserBusy() const;
  void Finish();
  // Unlocks the controls and starts the timer again (also after an error).
  void Release();

  std::vector<TFeed>& feeds_;
  TFeedScanner& scanner_;
  ScanHost& host_;
  UserPort& port_;
  const Clock& clock_;
  ScanJobSettings settings_;
  std::unique_ptr<TDownloadPool> pool_;
  Stage stage_ = Stage::NotStarted;
  ScanState state_;
  std::vector<size_t> order_;  // the feeds the walk looks at, in list order
  std::unique_ptr<TFeedTurn> turn_;  // the feed being triaged
  std::unique_ptr<TArticleKeeper> keeper_;  // with a store: the articles of the feed being triaged
  bool keeping_ = false;                    // the feed's turn is triaged; its articles go to the store
  size_t next_ = 0;            // into order_
  bool turnStarted_ = false;  // the next feed passed its checks and waits for its download
  bool busyLogged_ = false;
  bool downloadsStarted_ = false;
  bool released_ = false;
  std::map<size_t, int> tickets_;  // feed index -> pool ticket
  // The learning run: a copy of the feed with the learning rules, and the memory set aside.
  TFeed learningCopy_;
  std::unique_ptr<TCompMap> setAside_;
  TCompMap* shownUrls_ = nullptr;
  int nextTicket_ = 1;
};

}  // namespace zibu
