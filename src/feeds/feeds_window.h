// TfrmFeeds: the feeds window. It lives for the whole run (its close box only hides it), owns
// the feed list, the learning engine, the shown-article memory and the status log, and turns its
// controls' events into calls of the feed core (feed_list, feed_config, keyword_rules, feed_scan).
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/compmap.h"
#include "common/global_settings.h"
#include "feeds/feed.h"
#include "feeds/feed_scan.h"
#include "feeds/scheduler.h"
#include "feeds/self_test.h"
#include "learning/explanation.h"
#include "ui/window_ports.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QTimer;

namespace zibu {

class Clock;
class LearningEngine;
class SettingsFile;
class StatusLog;
class TfrmLearnedWords;
class UserPort;
class WindowUserPort;
class EngineLearner;

// The window stands behind its scanner (ScanHost), hands found articles to the frame's rating
// window (PageFoundPort), and lets other windows hold its scans (ScanControl).
class TfrmFeeds : public QWidget, public ScanHost, public PageFoundPort, public ScanControl {
  Q_OBJECT

 public:
  explicit TfrmFeeds(QWidget* parent = nullptr);
  ~TfrmFeeds() override;

  // ---- what the main frame calls ----
  // The frame's services; without one (tests, tools) the window stands alone.
  void SetFrame(FramePort* frame) { frame_ = frame; }
  // Start-up's load. When a step fails, every save of this run is held (see HoldSaves) and a
  // LoadError naming the file that step was reading is raised.
  void LoadConfig(SettingsFile& file);
  // After a start-up that stopped early: no save of this run writes zibu.conf or a data file,
  // so that nothing is written over with what was not loaded; each save logs the reason
  // ("because " + reason) instead.
  void HoldSaves(const std::string& reason);
  bool SavesHeld() const { return !savesHeld_.empty(); }
  // Called with the file each load step is about to read (tests make a step fail).
  void SetLoadStepHook(std::function<void(const std::string& file)> hook) { loadStepHook_ = std::move(hook); }
  void WriteConfig(SettingsFile& file);
  // The shown-article memory and the learned data, with their backups.
  void SaveData();
  void RequestCancel();
  void StopTimer();
  void StartTimer();
  // ScanControl
  void HoldScans() override;
  void ReleaseScans() override;
  int LearnedWordCount() const;
  LearningEngine& Engine();
  // Opens (or brings forward) the window of the learned words, which this window owns.
  void ShowLearnedWords();
  TfrmLearnedWords* LearnedWordsWindow() const { return learnedWords_.get(); }
  void Log(const std::string& message, bool verbose = false);

  // ---- what the scan, triage and presentation use ----
  std::vector<TFeed>& Feeds() { return feeds_; }
  // Index of the selected feed in the list, -1 when none.
  int SelectedFeed() const;
  TCompMap& ShownUrls() { return shownUrls_; }
  UserPort& Port();
  // The main frame's settings, or those given with SetSettings when there is no frame.
  const GlobalSettings& Settings() const;
  void SetSettings(const GlobalSettings& settings) { ownSettings_ = settings; }
  const Clock& GetClock() const { return *clock_; }
  void SetClock(const Clock* clock);                // null: the real clock
  std::string TempDir() const { return tempDir_; }  // with a trailing "/"
  std::string DataDir() const { return dataDir_; }  // with a trailing "/"
  // Relevance slider (0..100) and results format (0 one by one, 1 as a table).
  int Threshold() const;
  int ResultsFormat() const;
  // The scan state lives in the scanner.
  int64_t LastUserActivity() const { return scanner_->lastUserActivity; }
  int64_t LastSaveTime() const { return scanner_->lastSaveTime; }
  void SetLastSaveTime(int64_t ms) { scanner_->lastSaveTime = ms; }
  int64_t SaveConfigIntervalMs() const { return scanner_->saveConfigIntervalMs; }
  bool CancelRequested() const { return scanner_->cancelRequested; }
  void ClearCancel() { scanner_->cancelRequested = false; }
  TFeedScanner& Scanner() { return *scanner_; }
  // The news page of the built-in checks (tests point it at a loopback address).
  void SetSelfTestNewsPage(const std::string& address) { selfTestNewsPage_ = address; }
  // How "Unit Tests" ends the program (tests stand in for it).
  void SetEndProgram(std::function<void()> endProgram) { endProgram_ = std::move(endProgram); }

  // ---- what the scanner asks of the window (ScanHost) ----
  void ProcessMessages() override;
  void WaitForIdle(int64_t requiredIdleMs) override;
  // Alerts the user and shows the table window, owned by this window, until it is closed.
  void ShowItemsInTable(Items& items) override;
  // Through the main frame (which alerts the user first); without one, the window directly.
  PageFoundResult ShowPageFound(const std::string& reason, const std::string& title,
                                const std::string& description, const std::string& link,
                                bool ratingPanelVisible) override;
  // The same for an article of a scan, whose "Why?" is explained with this window's learning.
  PageFoundResult ShowArticle(const FoundArticle& article) override;
  // Why a text scores what it does, with what has been learned by now.
  RelevanceExplanation Explain(const std::string& text);

  // LastUserActivity := now.
  void Touch();
  void HideCommonIntervals();
  // Locks (false) or unlocks (true) the controls a scan must not be disturbed by; Cancel gets
  // the opposite state.
  void EnableControls(bool enabled);
  // Opens zibu.conf of the program folder, writes the feed keys and saves it.
  void SaveFeedConfig();
  // Scans one feed under the busy cursor: download with the frame's proxy, every item to the
  // triage hook, stopping before the next item once a cancel is requested.
  void ScanFeed(TFeed& feed, Items& results);
  void SetTriageHook(TriageHook hook) { triageHook_ = std::move(hook); }
  // The request settings of feed downloads; tests shorten the time-outs.
  HttpOptions FeedHttpOptions() const;
  void SetHttpTimeouts(int connectMs, int readMs);

  // ---- handlers (named after their control and event) ----
  void lbFeedsClick();
  void txtAddFeedURLChange();
  void btnAddFeedClick();
  void btnDeleteClick();
  void SetAllActive(bool active);
  void UpdateFeedDetails();
  void btnUpdateClick();
  void btnOpenFeedInBrowserClick();
  void cbActiveClick();
  void txtKeywordsChange();
  void txtKeywordsExit();
  void txtRefreshIntervalChange();
  void txtRefreshIntervalEnter();
  void txtRefreshIntervalExit();
  void cbCommonIntervalsChange(int index);
  void btnCancelClick();
  void btnSearchAllFeedsClick();
  void btnSearchSelectedFeedClick();
  void btnResetClick();
  void btnLearnClick();
  void btnCheckRelClick();
  // Runs the built-in checks, shows the outcome and ends the program without saving.
  void btnUnitTestsClick();
  // The feed list from and to OPML files of other feed readers.
  void btnImportOpmlClick();
  void btnExportOpmlClick();
  // Shows the two hidden diagnostic buttons exactly while Shift and Alt are held.
  void FormKeyDown(Qt::KeyboardModifiers modifiers);
  void Timer1Timer();

  // ---- controls ----
  QLabel* lblAddFeedURL;
  QLineEdit* txtAddFeedURL;
  QPushButton* btnAddFeed;
  QPushButton* btnDelete;
  QPushButton* btnOpenFeedInBrowser;
  QListWidget* lbFeeds;
  QPushButton* btnAllActive;
  QPushButton* btnAllInactive;
  QPushButton* btnImportOpml;
  QPushButton* btnExportOpml;
  QCheckBox* cbActive;
  QLabel* lblRefreshInterval;
  QLineEdit* txtRefreshInterval;
  QComboBox* cbCommonIntervals;
  QLabel* lblKeywords;
  QPlainTextEdit* txtKeywords;
  QPushButton* btnUpdate;
  QPushButton* btnSearchAllFeeds;
  QPushButton* btnSearchSelectedFeed;
  QPushButton* btnCancel;
  QPushButton* btnLearn;
  QPushButton* btnReset;
  QPushButton* btnLearnedWords;
  QPushButton* btnUnitTests;
  QPushButton* btnCheckRel;
  QLabel* lblShowRelevance;  // "Show articles with relevance:  LOW"
  QSlider* tbShowRelevance;
  QLabel* lblShowRelevanceHigh;  // "HIGH"
  QGroupBox* rgResultsFormat;
  QButtonGroup* rgResultsFormatButtons;
  QLabel* lblStatus;
  QPlainTextEdit* txtResults;
  QTimer* Timer1;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  void ConnectHandlers();
  // The rule lines in the keyword editor.
  std::vector<std::string> KeywordEditorLines() const;
  void SetKeywordEditorLines(const std::vector<std::string>& lines);
  void SelectRowQuietly(int row);
  void ShowIntroOnce();
  // True (after logging it) when saves are held.
  bool SaveHeld(const std::string& what);
  // Runs a command; an error ends up in the status log.
  void Guarded(const std::function<void()>& command);

  FramePort* frame_ = nullptr;
  GlobalSettings ownSettings_;
  std::unique_ptr<Clock> ownClock_;
  const Clock* clock_ = nullptr;
  std::unique_ptr<StatusLog> statusLog_;
  std::unique_ptr<WindowUserPort> port_;
  std::unique_ptr<LearningEngine> engine_;
  TCompMap shownUrls_;
  std::vector<TFeed> feeds_;
  TriageHook triageHook_;
  std::string tempDir_;
  std::string dataDir_;
  int connectTimeoutMs_ = 60000;
  int readTimeoutMs_ = 60000;

  std::unique_ptr<Clock> scanClock_;  // follows SetClock
  std::unique_ptr<EngineLearner> learner_;
  std::unique_ptr<TFeedScanner> scanner_;
  std::string selfTestNewsPage_ = kSelfTestNewsPage;
  bool forceVerbose_ = false;  // the built-in checks switch verbose output on
  std::function<void()> endProgram_;
  // Set while the controls are filled from the selected feed: their change reactions hold back.
  bool selectingFeed_ = false;
  bool introShown_ = false;
  std::string savesHeld_;  // why saves are held; empty when they are not
  std::function<void(const std::string&)> loadStepHook_;
  std::unique_ptr<TfrmLearnedWords> learnedWords_;
};

}  // namespace zibu
