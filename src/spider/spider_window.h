// The spider window: crawls the web from a starting address and lists relevant pages. The crawl
// itself lives in TSpiderCrawl; this window shows its tables, passes the user's clicks to it, and
// gives it downloads, scores, yields and the feeds timer hold.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "common/ports.h"
#include "spider/crawl.h"
#include "ui/window_ports.h"

class QAbstractTableModel;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSlider;
class QSplitter;
class QTableView;

namespace zibu {

class BackgroundTask;
class LearningEngine;
class StatusLog;
class TSpiderTableModel;

// Where a new spider window starts: the front page of a news portal.
inline constexpr const char* kDefaultStartingAddress = "http://news.bbc.co.uk/";

// The hint the threshold slider shares with its two labels.
std::string SpiderRelevanceHint();

class TfrmSpider : public QWidget, private SpiderView, private PageDownloads {
  Q_OBJECT

 public:
  explicit TfrmSpider(FramePort* frame, QWidget* parent = nullptr);
  ~TfrmSpider() override;

  // What the frame hands the window: its services, and the feed scans to hold during a crawl.
  void SetFrame(FramePort* frame) { frame_ = frame; }
  void SetScanControl(ScanControl* scans) { scans_ = scans; }
  // The program whose shutdown ends a crawl and whose pace its yields follow (default: the
  // frame's; without either the crawl handles no events while it runs).
  void SetProgram(ProgramPort* program) { program_ = program; }

  // ---- operations of the window ----
  void setGui(bool idle);
  void setColWidths();
  void btnStartClick();
  void btnStopClick();
  void btnPauseClick();
  void cbShowLinksClick();
  void btnOpenPageClick();
  void btnOpenLinkClick();
  // Why the selected found page has its relevance, with what has been learned by now.
  void btnWhyClick();
  void Log(const std::string& message, bool verbose = false);

  TSpiderCrawl& Crawl() { return *crawl_; }
  // A close that came during a crawl and waits for its end.
  bool CloseRequested() const { return closeRequested_; }

  // The learning engine that scores (none: every text scores 0), and for tests and tools the
  // downloader (default: FetchPage with the frame's proxy settings) and whether verbose lines
  // are written (default: the frame's verboseOutput).
  // Pages scored go into the engine's recent scores, timed by `clock` (default: the system's).
  void SetEngine(LearningEngine* engine, const Clock* clock = nullptr);
  void SetFetcher(std::function<std::string(const std::string&)> fetch) { fetch_ = std::move(fetch); }
  void SetVerbose(std::function<bool()> verbose) { verbose_ = std::move(verbose); }

  // ---- controls, named as the user interface names them ----
  QLineEdit* txtStartingAddress = nullptr;
  QPushButton* btnStart = nullptr;
  QPushButton* btnStop = nullptr;
  QPushButton* btnPause = nullptr;
  QLabel* lblCurrentPage = nullptr;
  QLabel* lblCurrentPageDescription = nullptr;
  QSlider* tbShowRelevance = nullptr;
  QLabel* lblShowRelevance = nullptr;
  QLabel* Label6 = nullptr;
  QCheckBox* cbSearchOffsiteLinks = nullptr;
  QCheckBox* cbSearchHigherLinks = nullptr;
  QCheckBox* cbShowLinks = nullptr;
  QLabel* lblPagesChecked = nullptr;
  QLabel* lblPagesFound = nullptr;
  QLabel* lblLinksFound = nullptr;
  QPushButton* btnOpenPage = nullptr;
  QPushButton* btnOpenLink = nullptr;
  QPushButton* btnWhy = nullptr;
  // Where the selected found page's relevance stands among the recent scores.
  QLabel* lblPageStanding = nullptr;
  QPlainTextEdit* txtResults = nullptr;
  QTableView* sgLinksFound = nullptr;
  QTableView* sgPagesFound = nullptr;
  QWidget* pnlFoundLinks = nullptr;
  QWidget* pnlFoundPages = nullptr;
  QWidget* pnlHolder = nullptr;
  QSplitter* Splitter2 = nullptr;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  // Room for the address, the buttons and a readable table when the frame opens a new window.
  QSize sizeHint() const override { return QSize(760, 560); }
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  class Port;

  void FormCreate();
  void placeCurrentPageLabels();
  void setBusy(bool busy);
  void closeNow();
  void showPageStanding();

  // SpiderView
  int ShowRelevance() const override;
  bool SearchOffsiteLinks() const override;
  bool SearchHigherLinks() const override;
  void SetBusyCursor(bool busy) override { setBusy(busy); }
  void SetGui(bool idle) override { setGui(idle); }
  void SetPauseCaption(const std::string& caption) override;
  void HoldFeeds() override;
  void ReleaseFeeds() override;
  void CurrentPageChanged() override;
  void PagesCheckedChanged(int count) override;
  void LinkQueueChanged() override;
  void FoundPagesChanged() override;
  void CountsChanged(int links, int pages) override;
  void CrawlEnded() override;
  // PageDownloads: each download on a worker, its outcome back as an event.
  void BeginDownload(const std::string& address) override;

  ProgramPort* program() const { return program_ ? program_ : frame_ ? &frame_->Program() : nullptr; }
  bool shutdownRequested() const { return program() && program()->ShutdownRequested(); }

  FramePort* frame_ = nullptr;
  ProgramPort* program_ = nullptr;
  ScanControl* scans_ = nullptr;
  LearningEngine* engine_ = nullptr;
  SystemClock systemClock_;
  std::function<std::string(const std::string&)> fetch_;
  std::function<bool()> verbose_;
  std::unique_ptr<StatusLog> status_;
  std::unique_ptr<Port> port_;
  std::unique_ptr<TSpiderCrawl> crawl_;
  // After the crawl, so that it goes first: its worker is waited for and its outcome dropped.
  std::unique_ptr<BackgroundTask> download_;
  TSpiderTableModel* linksModel_ = nullptr;
  TSpiderTableModel* pagesModel_ = nullptr;
  QWidget* pnlCurrentPage_ = nullptr;
  bool busy_ = false;
  bool closeRequested_ = false;
};

}  // namespace zibu
