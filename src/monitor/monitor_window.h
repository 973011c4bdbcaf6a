// TfrmPageMonitor: one watched web page, a child window of the main frame. It shows the page in an
// embedded browser, reloads it on its timer inside the daily scan window once the user is idle,
// and after every complete load brings each page line that matches its keyword rules, and was not
// shown within the repeat interval, to the user. The decisions live in TPageMatcher; this window
// wires the browser and the controls to them.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/global_settings.h"
#include "common/ports.h"
#include "monitor/page_matcher.h"
#include "ui/window_ports.h"

class QGridLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class QWebEngineLoadingInfo;
class QWebEngineView;

namespace zibu {

class IdleWait;

class SettingsFile;
class StatusLog;

class TfrmPageMonitor : public QWidget {
  Q_OBJECT

 public:
  explicit TfrmPageMonitor(FramePort* frame, QWidget* parent = nullptr);
  ~TfrmPageMonitor() override;

  void SetFrame(FramePort* frame) { frame_ = frame; }

  // ---- operations of the window ----
  void loadSettings(SettingsFile& file, const std::string& section);
  void saveSettings(SettingsFile& file, const std::string& section);
  // Starts loading txtAddress in the browser; the load goes on in the background.
  void loadPage();
  void btnGoClick();
  void btnShowRawTextClick();
  void txtRefreshIntervalChange();
  void txtAlertsExit();
  void Timer1Timer();
  bool inScanWindow() const;
  // The text of the loaded page as the browser renders its body, lines joined by CR LF; empty
  // when the document is not HTML. The browser answers asynchronously, so the text is handed to
  // `done` (not called when the window is gone by then).
  void getPageText(std::function<void(const std::string&)> done);
  // The search after a complete load; `then` runs when it is finished.
  void searchPage(std::function<void()> then = {});
  std::vector<std::string> findMatches(const std::vector<std::string>& rules, const std::string& pageText);
  void rememberShown(const std::string& line) { matcher_.rememberShown(line); }
  bool shownRecently(const std::string& line) { return matcher_.shownRecently(line); }
  void Log(const std::string& message, bool verbose = false);

  // The keyword rules, one per line of txtAlerts.
  std::vector<std::string> alertLines() const;
  const TStringMap& shownLines() const { return matcher_.shownLines(); }
  // How many times loadPage ran.
  int loadCount() const { return loadCount_; }
  // Whether the window is too narrow for one row of times, so the scan times stand under the
  // refresh interval.
  bool timesStacked() const;

  // ---- seams for tests and tools; each defaults to the main frame or the real thing ----
  // Where alerts go (default: the main frame's ShowPageFound, or the bare window without one).
  void SetPageFoundPort(PageFoundPort* port) { pageFound_ = port; }
  // Time and idleness (default: the program's clock, from the frame; without a frame real time
  // with the user always idle).
  void SetClock(const Clock* clock);
  // The global settings used (default: the main frame's).
  void SetSettings(const GlobalSettings& settings) { settings_ = settings; }
  // The idle wait and the paced message step of a tick (default: the program's; nothing
  // without a frame).
  // Whether a tick waits for the user to go idle before it loads the page.
  bool WaitingForIdle() const;

  // ---- controls, named as the user interface names them ----
  QLabel* lblAddress = nullptr;
  QLineEdit* txtAddress = nullptr;
  QPushButton* btnGo = nullptr;
  QPushButton* btnShowRawText = nullptr;
  QLabel* lblRefreshInterval = nullptr;
  QLineEdit* txtRefreshInterval = nullptr;
  QLabel* lblStartTime = nullptr;
  QLineEdit* txtStartTime = nullptr;
  QLabel* lblEndTime = nullptr;
  QLineEdit* txtEndTime = nullptr;
  QLabel* lblAlerts = nullptr;
  QPlainTextEdit* txtAlerts = nullptr;
  QLabel* lblResults = nullptr;
  QPlainTextEdit* txtResults = nullptr;
  QWebEngineView* WebBrowser1 = nullptr;
  QTimer* Timer1 = nullptr;

 signals:
  // A search after a complete load has ended ("Finished searching" is logged).
  void searchFinished();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  // Room for the page under the controls when the frame opens a new window.
  QSize sizeHint() const override { return QSize(760, 560); }

 private:
  void FormCreate();
  void WebBrowser1LoadingChanged(const QWebEngineLoadingInfo& info);
  void WebBrowser1DocumentComplete();
  void WebBrowser1NavigateError(const QWebEngineLoadingInfo& info);
  void showMatches(const std::vector<std::string>& matches);
  // Reports a start or end time that is not HH:MM once per distinct text.
  void checkScanTimes();
  void maximiseWindow();
  void placeTimeGroups(bool stacked);
  GlobalSettings settings() const;
  PageFoundResult showPageFound(const std::string& line);

  // Forwards to whichever clock is set, else the program's, so the matcher keeps one reference
  // for the window's life.
  class ClockProxy : public Clock {
   public:
    explicit ClockProxy(const TfrmPageMonitor& w) : w_(w) {}
    const Clock* target = nullptr;
    int64_t NowMs() const override { return Resolve().NowMs(); }
    uint32_t IdleMs() const override { return Resolve().IdleMs(); }

   private:
    const Clock& Resolve() const;
    const TfrmPageMonitor& w_;
    SystemClock system_;
  };
  ProgramPort* program() const { return frame_ ? &frame_->Program() : nullptr; }

  FramePort* frame_ = nullptr;
  PageFoundPort* pageFound_ = nullptr;
  ClockProxy clock_{*this};
  std::optional<GlobalSettings> settings_;
  IdleWait* idleWait_ = nullptr;
  std::unique_ptr<StatusLog> status_;
  TPageMatcher matcher_;
  // The bad start and end time texts already reported.
  std::optional<std::string> reportedStartTime_;
  std::optional<std::string> reportedEndTime_;
  int loadCount_ = 0;
  QWidget* refreshGroup_ = nullptr;
  QWidget* scanTimesGroup_ = nullptr;
  QGridLayout* timeRows_ = nullptr;
  bool timeStacked_ = false;
};

}  // namespace zibu
