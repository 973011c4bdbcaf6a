// FeedsSession: the feed half of the program's state, free of any toolkit. It holds the feed
// list, the shown-article memory, the learning engine and the scanner, and keeps the save rules
// (what is written where, and the hold after a start-up that stopped early). The program entry
// builds one and hands it to the frame and the windows; a window (or zibu-cli, or a test) attaches
// itself as the session's view and only shows what the session decides.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/compmap.h"
#include "common/global_settings.h"
#include "common/ports.h"
#include "feeds/feed.h"
#include "feeds/feed_scan.h"
#include "feeds/reading_list.h"
#include "feeds/scan_job.h"
#include "feeds/scheduler.h"
#include "learning/explanation.h"
#include "learning/rated_articles.h"

namespace zibu {

class EngineLearner;
class LearningEngine;
class SettingsFile;

// What the session needs of whoever shows it: the person in front of the screen (messages,
// the rating windows), the controls a scan locks and the feeds timer. The view never waits:
// scans are jobs it advances from its events.
class FeedsView : public PageFoundPort {
 public:
  virtual UserPort& Port() = 0;
  virtual const GlobalSettings& Settings() const = 0;
  virtual void StopTimer() = 0;
  virtual void StartTimer() = 0;
  virtual bool TimerActive() const = 0;
  // Locks (false) or unlocks (true) the controls a scan must not be disturbed by.
  virtual void EnableControls(bool enabled) = 0;
  virtual void HideCommonIntervals() = 0;
  // Index of the selected feed, -1 when none.
  virtual int SelectedFeed() const = 0;
  // The relevance slider (0..100) and the results format (0 one by one, 1 as a table).
  virtual int Threshold() const = 0;
  virtual int ResultsFormat() const = 0;
  // The list was replaced by a load: show it; with `selectFirst` select and show the first feed.
  virtual void ShowFeedList(bool selectFirst) = 0;
  // The display settings a load read.
  virtual void ShowDisplaySettings(int showRelevance, int resultsFormat) = 0;
  // Alerts the user and shows all items in the table window until it is closed.
  virtual void ShowItemsInTable(Items& items) = 0;
  // Moves the relevance slider (0..100).
  virtual void SetThreshold(int threshold) = 0;
  // The threshold the ratings suggest, in the user's terms (SuggestionText), and whether the
  // button that moves the slider there has anything to do.
  virtual void ShowThresholdSuggestion(const std::string& text, bool usable) = 0;
};

class FeedsSession : public ScanControl {
 public:
  // `home` is the program home with a trailing "/"; its temp/ and data/backup/ folders are
  // made here when missing.
  // With `readOnly` nothing in the home is written: no folder is made, no interrupted save is
  // finished, every save is held, and downloads go to a temporary folder set with SetTempDir.
  explicit FeedsSession(std::string home, bool readOnly = false);
  ~FeedsSession() override;
  FeedsSession(const FeedsSession&) = delete;
  FeedsSession& operator=(const FeedsSession&) = delete;

  // The view that shows the session; null detaches it. Without a view, lines go to stderr,
  // questions are answered no, and the display settings are those last read or written.
  void AttachView(FeedsView* view);
  FeedsView* View() const { return view_; }
  // The clock of the scans and the shown-article memory; null: the system clock.
  void SetClock(const Clock* clock);
  const Clock& GetClock() const;

  const std::string& Home() const { return home_; }
  std::string TempDir() const { return tempDir_; }  // with a trailing "/"; home's temp/ by default
  void SetTempDir(std::string dir);
  bool ReadOnly() const { return readOnly_; }
  // The settings of a session without a view (a tool reads them from the home's zibu.conf).
  void SetSettings(const GlobalSettings& settings) { defaultSettings_ = settings; }
  std::string DataDir() const { return home_ + "data/"; }  // with a trailing "/"
  std::string ConfigPath() const { return home_ + "zibu.conf"; }

  std::vector<TFeed>& Feeds() { return feeds_; }
  TCompMap& ShownUrls() { return shownUrls_; }
  LearningEngine& Engine() { return *engine_; }
  TFeedScanner& Scanner() { return *scanner_; }
  // The view's port, or the session's own when none is attached.
  UserPort& Port();
  const GlobalSettings& Settings() const;
  int LearnedWordCount() const;
  // Why a text scores what it does, with what has been learned by now.
  RelevanceExplanation Explain(const std::string& text);
  void Log(const std::string& message, bool verbose = false) { Port().Log(message, verbose); }

  // ---- loading and saving ----
  // Start-up's load of the feed keys, the shown-article memory and the learned data. When a
  // step fails, every save of this run is held and a LoadError naming the file that step was
  // reading is raised.
  void LoadConfig(SettingsFile& file);
  // Called with the file each load step is about to read (tests make a step fail).
  void SetLoadStepHook(std::function<void(const std::string& file)> hook) { loadStepHook_ = std::move(hook); }
  // After a start-up that stopped early: no save of this run writes zibu.conf or a data file,
  // so that nothing is written over with what was not loaded; each save logs the reason instead.
  void HoldSaves(const std::string& reason) { savesHeld_ = reason; }
  bool SavesHeld() const { return !savesHeld_.empty(); }
  const std::string& SavesHeldReason() const { return savesHeld_; }
  // The feed keys and the display settings into `file` (not saved).
  void WriteConfig(SettingsFile& file);
  // Opens zibu.conf of the home, writes the feed keys and saves it.
  void SaveFeedConfig();
  // Start-up's first look at zibu.conf. When it holds fewer feeds than its feedCount says (cut
  // short, say), a copy is kept beside it as zibu.conf.damaged and the user is told; when the
  // backup copy in data/backup/ is whole, the user is asked whether to use it, and with yes it
  // takes the damaged file's place. Nothing writes zibu.conf before the answer, and a damaged
  // file never becomes the backup copy. Returns the file start-up is to read.
  std::unique_ptr<SettingsFile> OpenConfig();
  std::string ConfigBackupPath() const { return DataDir() + "backup/zibu.conf"; }
  // What SaveAll wrote and what it did not.
  struct SaveAllResult {
    bool configSaved = false;
    bool dataSaved = false;
    std::string problem;  // what failed, for the message box; empty when nothing did
  };
  // The frame's save of everything: the feed keys into `file` (which holds the frame's own keys),
  // zibu.conf saved, then the learned data. Each stands on its own: a learned-data save that
  // fails (and is not tried again) leaves zibu.conf written, and a zibu.conf that cannot be
  // written does not stop the learned data; the status log says what was and was not written.
  SaveAllResult SaveAll(SettingsFile& file);
  // The shown-article memory and the learned data, with their backups. A write that fails
  // (a full disk) is named and offered again until the user declines; then IoError.
  void SaveData();
  // ---- saves off the driver's thread ----
  // With a wake set (a window), the saves of scans, learning runs and the feeds timer are taken
  // from a snapshot and written by a worker, while the engine goes on learning and scoring; a
  // rating given meanwhile is in the next save. `wake` is called on the worker when it is done:
  // the driver then calls FinishSave on its own thread. An empty wake: every save blocks.
  void SetBackgroundSaves(std::function<void()> wake) { saveWake_ = std::move(wake); }
  // Starts a save on a worker; while one runs, another follows it. Held saves are logged as by
  // SaveData.
  void StartSave();
  bool SaveRunning() const { return saver_ != nullptr; }
  // After the wake, on the driver's thread: what the worker logged goes to the view, and a failed
  // write is offered again (on a worker) until the user declines, then logged. Nothing when the
  // worker is not done.
  void FinishSave();
  // Waits for the worker (and any save queued behind it) to end, finishing each (exit does so
  // before its own last save).
  void WaitForSave();
  // The question after a failed save of the learned data, and the line when the user declines.
  // `committed`: the save reached its commit point (SaveNotFinished), so its files are written
  // and are put in place at the next load or save, rather than the last save's being as they were.
  static std::string SaveFailedQuestion(const std::string& cause, bool committed = false);
  static std::string SaveFailedText(const std::string& cause, bool committed = false);

  // ---- the suggested threshold ----
  // What the record of rated articles suggests (see SuggestThreshold).
  ThresholdSuggestion Suggestion() const;
  // The current slider position (the view's, or the one last read or written without a view).
  int Threshold() const;
  // Tells the view the suggestion as it stands against the slider now.
  void ShowSuggestion();
  // Moves the slider to the suggestion; false when there is none or it is there already.
  bool UseSuggestedThreshold();
  // With followSuggestedThreshold: moves the slider to the suggestion and logs that it did.
  // Called after every presentation of results.
  void FollowSuggestedThreshold();

  // ---- scanning ----
  // Every item of a scan goes to `hook` instead of the scanner's triage (which the hook may call
  // through RunningScan()->TriageItem).
  void SetTriageHook(TriageHook hook) { triageHook_ = std::move(hook); }
  // What a scan of one feed works with: the temporary folder, the request settings, the clock
  // and the triage hook.
  FeedScanSettings ScanSettings();

  // ---- the scan as a job ----
  // Starts a scan job (none while one runs; a scheduled one not while the user touched the
  // window less than 30 s ago) and returns it, or null. `wake` is called on a worker thread
  // whenever a download ends: the driver should then call AdvanceScan on its own thread.
  TScanJob* StartScan(ScanKind kind, std::function<void()> wake = {}, std::vector<size_t> chosen = {});
  TScanJob* RunningScan() const { return job_.get(); }
  // One step of the running job; the job is dropped once it is done.
  ScanStep AdvanceScan();
  // Cancels the running job and drops it at once (its window is going).
  void AbandonScan();
  // Runs a job to its end on this thread (the command line, tests); false when none started.
  bool RunScan(ScanKind kind, std::vector<size_t> chosen = {});
  // Downloads at once: maxParallelDownloads of the settings unless set here (0: the settings).
  void SetParallelDownloads(int count) { parallelDownloads_ = count; }
  int ParallelDownloads() const;
  // How a job's downloads are made (tests); null: HttpGetResponse.
  void SetDownloadFetch(TDownloadPool::Fetch fetch) { fetch_ = std::move(fetch); }
  HttpOptions FeedHttpOptions() const;
  void SetHttpTimeouts(int connectMs, int readMs);
  // Cancels the running scan: its downloads in flight are abandoned at once.
  void RequestCancel();
  // The running scan was cancelled (false when none runs).
  bool CancelRequested() const { return job_ && job_->State().cancelRequested; }
  // A learning run is under way.
  bool Learning() const { return job_ && job_->State().isLearning; }
  // ScanControl: the feeds timer of the view, and a cancel of the running scan. Holds nest; the
  // timer starts again (also at the end of a scan) only when the last one is released.
  void HoldScans() override;
  void ReleaseScans() override;
  bool ScanTimerActive() const { return view_ && view_->TimerActive(); }

  // ---- the reading list ----
  // The article store of data/articles.db, opened by LoadConfig (not in a read-only session);
  // null when it could not be had (the status log says why).
  TArticleStore* Store() { return store_.get(); }
  // A rating given in the reading list: learned as a rating window's is, kept in the store.
  void RateArticle(int64_t id, int rating);
  // Learning changed (ratings, a learning run, a correction of the learned words): the unread
  // articles are scored again, a slice at a time by RescoreStep.
  void LearningChanged();
  // Scores unread articles for about `budgetMs`; true while some are left. When the last is
  // scored, the relevances-changed callback runs.
  bool RescoreStep(int64_t budgetMs);
  bool Rescoring() const { return rescoring_.Running(); }
  // `rescoreWanted`: the driver should call RescoreStep until it returns false;
  // `relevancesChanged`: the stored relevances moved (the reading window follows).
  void SetReadingListCallbacks(std::function<void()> rescoreWanted, std::function<void()> relevancesChanged) {
    rescoreWanted_ = std::move(rescoreWanted);
    relevancesChanged_ = std::move(relevancesChanged);
  }

 private:
  void OpenArticleStore();
  class Host;
  class SessionPort;
  class SessionClock;
  // True (after logging it) when saves are held.
  bool SaveHeld(const std::string& what);
  // Saves zibu.conf from `file`, keeping the file it replaces as the backup copy when allowed.
  void SaveConfig(SettingsFile& file);
  struct Saver;

  std::string home_;
  std::string tempDir_;
  bool readOnly_ = false;
  FeedsView* view_ = nullptr;
  const Clock* clock_ = nullptr;
  std::unique_ptr<Clock> systemClock_;
  std::unique_ptr<SessionClock> sessionClock_;
  std::unique_ptr<SessionPort> ownPort_;
  std::unique_ptr<Host> host_;
  GlobalSettings defaultSettings_;
  int showRelevance_ = 30;
  int resultsFormat_ = 0;
  std::unique_ptr<LearningEngine> engine_;
  TCompMap shownUrls_;
  std::vector<TFeed> feeds_;
  std::unique_ptr<EngineLearner> learner_;
  std::unique_ptr<TFeedScanner> scanner_;
  TriageHook triageHook_;
  int connectTimeoutMs_ = 60000;
  int readTimeoutMs_ = 60000;
  std::string savesHeld_;
  bool configWhole_ = true;  // zibu.conf as read at start-up may become its backup copy
  std::function<void(const std::string&)> loadStepHook_;
  int parallelDownloads_ = 0;
  TDownloadPool::Fetch fetch_;
  // Before the job: the job's articles go into it until the job's very end.
  std::unique_ptr<TArticleStore> store_;
  std::unique_ptr<TScanJob> job_;
  bool advancing_ = false;
  int scanHolds_ = 0;  // HoldScans not yet released
  std::function<void()> saveWake_;
  std::unique_ptr<Saver> saver_;  // the save on a worker, while one runs or waits to be finished
  bool saveAgain_ = false;        // a save asked for while one ran
  TRescoring rescoring_;
  std::function<void()> rescoreWanted_;
  std::function<void()> relevancesChanged_;
};

}  // namespace zibu
