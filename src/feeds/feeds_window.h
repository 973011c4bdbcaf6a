// TfrmFeeds: the feeds window. It lives for the whole run (its close box only hides it), shows
// the feeds session it is given (the feed list, the scans, the status log) and turns its
// controls' events into calls of the session and the feed core (feed_list, feed_config,
// keyword_rules, feed_scan).
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
#include "feeds/feed_list.h"
#include "feeds/feeds_session.h"
#include "feeds/self_test.h"
#include "learning/explanation.h"
#include "ui/window_ports.h"

class QBoxLayout;
class QButtonGroup;
class QCheckBox;
class QGridLayout;
class QHBoxLayout;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QTimer;

namespace zibu {

class ControlsArea;
class StatusLog;
class TfrmLearnedWords;
class WindowUserPort;

// The window is the session's view: it lends the scans its controls and its rating windows.
class TfrmFeeds : public QWidget, public FeedsView {
  Q_OBJECT

 public:
  // The session and the program must outlive the window; the window attaches itself as the
  // session's view.
  TfrmFeeds(FeedsSession& session, ProgramPort& program, QWidget* parent = nullptr);
  ~TfrmFeeds() override;

  // The frame's services; without one (tests, tools) the window stands alone.
  void SetFrame(FramePort* frame) { frame_ = frame; }
  // Opens (or brings forward) the window of the learned words, which this window owns.
  void ShowLearnedWords();
  TfrmLearnedWords* LearnedWordsWindow() const { return learnedWords_.get(); }
  void Log(const std::string& message, bool verbose = false);
  // The main frame's settings, or those given with SetSettings when there is no frame.
  const GlobalSettings& Settings() const override;
  void SetSettings(const GlobalSettings& settings) { ownSettings_ = settings; }
  // The news page of the built-in checks (tests point it at a loopback address).
  void SetSelfTestNewsPage(const std::string& address) { selfTestNewsPage_ = address; }
  // How "Unit Tests" ends the program (tests stand in for it).
  void SetEndProgram(std::function<void()> endProgram) { endProgram_ = std::move(endProgram); }

  // ---- FeedsView ----
  UserPort& Port() override;
  void StopTimer() override;
  void StartTimer() override;
  bool TimerActive() const override;
  // Locks (false) or unlocks (true) the controls a scan must not be disturbed by; Cancel gets
  // the opposite state.
  void EnableControls(bool enabled) override;
  void HideCommonIntervals() override;
  int SelectedFeed() const override;
  int Threshold() const override;
  int ResultsFormat() const override;
  void ShowFeedList(bool selectFirst) override;
  void ShowDisplaySettings(int showRelevance, int resultsFormat) override;
  // Alerts the user and shows the table window, owned by this window, until it is closed.
  void ShowItemsInTable(Items& items) override;
  void SetThreshold(int threshold) override;
  void ShowThresholdSuggestion(const std::string& text, bool usable) override;
  // Through the main frame (which alerts the user first); without one, the window directly.
  PageFoundResult ShowPageFound(const std::string& reason, const std::string& title,
                                const std::string& description, const std::string& link,
                                bool ratingPanelVisible) override;
  // The same for an article of a scan, whose "Why?" is explained with the session's learning.
  PageFoundResult ShowArticle(const FoundArticle& article) override;

  // LastUserActivity := now.
  void Touch();

  // ---- handlers (named after their control and event) ----
  void lbFeedsClick();
  void txtAddFeedURLChange();
  void btnAddFeedClick();
  // Deletes every selected feed after one question.
  void btnDeleteClick();
  // The feeds selected in the list, in list order; the current feed when none is.
  std::vector<size_t> SelectedFeeds() const;
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
  // Moves the slider to the threshold the ratings suggest.
  void btnUseSuggestedThresholdClick();
  // Shows the two hidden diagnostic buttons exactly while Shift and Alt are held.
  void FormKeyDown(Qt::KeyboardModifiers modifiers);
  void Timer1Timer();
  // A scan job runs (started by a search button or the timer, driven from this window's events).
  bool ScanRunning() const;
  // Arranges the controls for a screen with `room` for the window (done at creation and when the
  // window is shown on a screen of another size): side by side where the width allows, else the
  // threshold under the commands and the refresh interval under its label; where the controls
  // are still too large for the room, they scroll up and down, never sideways.
  void FitInto(QSize room);
  bool Narrow() const { return narrow_; }
  bool Scrolls() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  bool event(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  // The threshold slider's value beside it, in per cent.
  void ShowThresholdValue();

  // ---- controls (tests find them by their object names) ----
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
  QLabel* lblShowRelevanceValue;  // the threshold in per cent, "30%"
  QLabel* lblSuggestedThreshold;  // the suggestion in the user's terms
  QPushButton* btnUseSuggestedThreshold;
  QGroupBox* rgResultsFormat;
  QButtonGroup* rgResultsFormatButtons;
  QLabel* lblStatus;
  QPlainTextEdit* txtResults;
  QTimer* Timer1;

  // Starts a scan job unless one runs; its steps then follow from events.
  void StartScan(ScanKind kind);
  void AdvanceScan();
  void BuildControls();
  void ArrangeControls(bool narrow);
  void ConnectHandlers();
  // The rule lines in the keyword editor.
  std::vector<std::string> KeywordEditorLines() const;
  void SetKeywordEditorLines(const std::vector<std::string>& lines);
  void SelectRowQuietly(int row);
  // Selects the row of feed `feed` (-1: none) without running the selection handler.
  void SelectFeedQuietly(int feed);
  // Fills the list from the feeds: their names, folder headings, addresses as tool tips.
  void FillFeedList();
  // Gives every row its text and marks again, where only the feeds' states changed.
  void RefreshFeedRows();
  void ShowFeedRow(QListWidgetItem* item, const FeedListRow& row);
  // Shown, not minimized, in front and active.
  void BringToFront();
  // The feed of a list row, or -1 for a folder heading or no row; and the row of a feed, or -1.
  int FeedOfRow(int row) const;
  int RowOfFeed(int feed) const;
  void ShowIntroOnce();
  // Runs a command; an error ends up in the status log.
  void Guarded(const std::function<void()>& command);

  FeedsSession& session_;
  ProgramPort& program_;
  FramePort* frame_ = nullptr;
  GlobalSettings ownSettings_;
  std::unique_ptr<StatusLog> statusLog_;
  std::unique_ptr<WindowUserPort> port_;
  std::string selfTestNewsPage_ = kSelfTestNewsPage;
  bool forceVerbose_ = false;  // the built-in checks switch verbose output on
  std::function<void()> endProgram_;
  // Set while the controls are filled from the selected feed: their change reactions hold back.
  bool selectingFeed_ = false;
  bool introShown_ = false;
  // Row i of the feed list shows feed rowFeed_[i]; -1 is a folder heading.
  std::vector<int> rowFeed_;
  int lastSelectedFeed_ = -1;
  // The suggestion button is enabled only while the controls are and it has something to do.
  bool controlsEnabled_ = true;
  bool suggestionUsable_ = false;
  std::unique_ptr<TfrmLearnedWords> learnedWords_;
  // The arrangement FitInto chose, and the pieces it moves.
  ControlsArea* area_ = nullptr;
  QGridLayout* top_ = nullptr;
  QHBoxLayout* urlRow_ = nullptr;
  QHBoxLayout* searchRow_ = nullptr;
  QHBoxLayout* sliderRow_ = nullptr;
  QHBoxLayout* suggestionRow_ = nullptr;
  QBoxLayout* intervalRow_ = nullptr;
  bool narrow_ = false;
  QSize fittedRoom_;
};

}  // namespace zibu
