#include "monitor/monitor_window.h"

#include <QApplication>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QResizeEvent>
#include <QSplitter>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>

#include "common/errors.h"
#include "common/settings.h"
#include "common/text.h"
#include "monitor/monitor_section.h"
#include "rating/pagefound_window.h"
#include "rules/keyword_rules.h"
#include "ui/big_text_window.h"
#include "ui/dialogs.h"
#include "ui/idle_wait.h"
#include "ui/qtext.h"
#include "ui/status_log.h"

namespace zibu {

namespace {

// The body's text as the browser renders it; nothing for a document that is not HTML (a plain
// text file or an image gets a synthetic body from the browser, which is not the page's).
constexpr const char* kBodyTextScript = R"((function () {
  var d = document;
  if (!d.body || !/html/i.test(d.contentType || '')) return '';
  return d.body.outerText || '';
})())";

// The renderer separates lines with LF; the matcher splits at CR LF.
std::string ToCrLfLines(const QString& text) {
  QString t = text;
  t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  t.replace(QChar('\r'), QChar('\n'));
  t.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
  return FromQ(t);
}

QString JoinLines(const std::vector<std::string>& lines) {
  QStringList list;
  for (const auto& line : lines) list << ToQ(line);
  return list.join(QChar('\n'));
}

}  // namespace

TfrmPageMonitor::TfrmPageMonitor(FramePort* frame, QWidget* parent)
    : QWidget(parent), frame_(frame), matcher_(clock_) {
  setObjectName("frmPageMonitor");
  setWindowTitle("Browser window");
  idleWait_ = new IdleWait(
      clock_,
      [this] {
        ProgramPort* p = program();
        return p && p->ShutdownRequested();
      },
      this);

  lblAddress = new QLabel("&Address", this);
  txtAddress = new QLineEdit(this);
  txtAddress->setObjectName("txtAddress");
  txtAddress->setToolTip("Enter the address of a website to monitor");
  txtAddress->setAccessibleName("Address");
  lblAddress->setBuddy(txtAddress);
  btnGo = new QPushButton("&Go", this);
  btnGo->setObjectName("btnGo");
  btnGo->setToolTip(
      "Load the web page now.  You don't need to click this normally as the page will load automatically");
  btnShowRawText = new QPushButton("Show &Raw Text", this);
  btnShowRawText->setObjectName("btnShowRawText");
  btnShowRawText->setToolTip("Shows the raw text (i.e. with HTML removed) of the web page");
  btnShowRawText->setEnabled(false);

  lblRefreshInterval = new QLabel("Refresh (seconds, min ", this);
  txtRefreshInterval = new QLineEdit(this);
  txtRefreshInterval->setObjectName("txtRefreshInterval");
  txtRefreshInterval->setToolTip("How often to refresh the web page, in seconds");
  txtRefreshInterval->setMaximumWidth(70);
  txtRefreshInterval->setAccessibleName("Refresh interval in seconds");
  lblRefreshInterval->setBuddy(txtRefreshInterval);
  lblStartTime = new QLabel("Only &scan between", this);
  txtStartTime = new QLineEdit("00:00", this);
  txtStartTime->setObjectName("txtStartTime");
  txtStartTime->setMaximumWidth(60);
  txtStartTime->setAccessibleName("Only scan from");
  lblStartTime->setBuddy(txtStartTime);
  lblEndTime = new QLabel("and", this);
  txtEndTime = new QLineEdit("23:59", this);
  txtEndTime->setObjectName("txtEndTime");
  txtEndTime->setMaximumWidth(60);
  txtEndTime->setAccessibleName("Only scan until");
  lblEndTime->setBuddy(txtEndTime);

  lblAlerts = new QLabel("&Keywords", this);
  txtAlerts = new QPlainTextEdit(this);
  txtAlerts->setObjectName("txtAlerts");
  txtAlerts->setLineWrapMode(QPlainTextEdit::NoWrap);
  txtAlerts->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  txtAlerts->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  txtAlerts->installEventFilter(this);
  // Tab and Shift+Tab move on to the next control; a rule has no use for a tab character.
  txtAlerts->setTabChangesFocus(true);
  txtAlerts->setAccessibleName("Keywords");
  lblAlerts->setBuddy(txtAlerts);
  lblResults = new QLabel("Status", this);
  txtResults = new QPlainTextEdit(this);
  txtResults->setObjectName("txtResults");
  txtResults->setAccessibleName("Status");
  lblResults->setBuddy(txtResults);
  status_ = std::make_unique<StatusLog>(txtResults, [this] { return settings().verboseOutput; });

  WebBrowser1 = new QWebEngineView(this);
  WebBrowser1->setObjectName("WebBrowser1");
  WebBrowser1->setAccessibleName("Web page");
  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");

  auto* addressRow = new QHBoxLayout;
  addressRow->addWidget(lblAddress);
  addressRow->addWidget(txtAddress, 1);
  addressRow->addWidget(btnGo);
  addressRow->addWidget(btnShowRawText);
  // The boxes never get narrower than their text: a narrow window (tiled beside others) moves the
  // scan times under the refresh interval instead of clipping their first digits.
  const QFontMetrics metrics = txtStartTime->fontMetrics();
  txtRefreshInterval->setMinimumWidth(metrics.horizontalAdvance("86400") + 16);
  for (QLineEdit* box : {txtStartTime, txtEndTime})
    box->setMinimumWidth(metrics.horizontalAdvance("00:00") + 16);
  refreshGroup_ = new QWidget(this);
  auto* refreshRow = new QHBoxLayout(refreshGroup_);
  refreshRow->setContentsMargins(0, 0, 0, 0);
  refreshRow->addWidget(lblRefreshInterval);
  refreshRow->addWidget(txtRefreshInterval);
  scanTimesGroup_ = new QWidget(this);
  auto* scanRow = new QHBoxLayout(scanTimesGroup_);
  scanRow->setContentsMargins(0, 0, 0, 0);
  scanRow->addWidget(lblStartTime);
  scanRow->addWidget(txtStartTime);
  scanRow->addWidget(lblEndTime);
  scanRow->addWidget(txtEndTime);
  // The times' own width does not hold the window wide: below one row's width they stack.
  auto* timeBox = new QWidget(this);
  timeBox->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  timeBox->setMinimumWidth(std::max(refreshGroup_->sizeHint().width(), scanTimesGroup_->sizeHint().width()));
  timeRows_ = new QGridLayout(timeBox);
  timeRows_->setContentsMargins(0, 0, 0, 0);
  timeRows_->setHorizontalSpacing(16);
  timeRows_->setVerticalSpacing(2);
  placeTimeGroups(false);

  auto column = [this](QLabel* caption, QWidget* body) {
    auto* box = new QWidget(this);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(caption);
    layout->addWidget(body, 1);
    return box;
  };
  auto* memos = new QSplitter(Qt::Horizontal, this);
  memos->addWidget(column(lblAlerts, txtAlerts));
  memos->addWidget(column(lblResults, txtResults));
  memos->setStretchFactor(0, 1);
  memos->setStretchFactor(1, 2);
  auto* page = new QSplitter(Qt::Vertical, this);
  page->addWidget(memos);
  page->addWidget(WebBrowser1);
  page->setStretchFactor(0, 0);
  page->setStretchFactor(1, 1);
  page->setSizes({130, 400});

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addLayout(addressRow);
  layout->addWidget(timeBox);
  layout->addWidget(page, 1);

  connect(btnGo, &QPushButton::clicked, this, &TfrmPageMonitor::btnGoClick);
  connect(txtAddress, &QLineEdit::returnPressed, this, &TfrmPageMonitor::btnGoClick);
  connect(btnShowRawText, &QPushButton::clicked, this, &TfrmPageMonitor::btnShowRawTextClick);
  connect(txtRefreshInterval, &QLineEdit::textChanged, this, &TfrmPageMonitor::txtRefreshIntervalChange);
  connect(txtStartTime, &QLineEdit::editingFinished, this, &TfrmPageMonitor::checkScanTimes);
  connect(txtEndTime, &QLineEdit::editingFinished, this, &TfrmPageMonitor::checkScanTimes);
  connect(Timer1, &QTimer::timeout, this, &TfrmPageMonitor::Timer1Timer);
  connect(WebBrowser1->page(), &QWebEnginePage::loadingChanged, this,
          &TfrmPageMonitor::WebBrowser1LoadingChanged);

  FormCreate();
}

TfrmPageMonitor::~TfrmPageMonitor() = default;

void TfrmPageMonitor::placeTimeGroups(bool stacked) {
  timeRows_->removeWidget(refreshGroup_);
  timeRows_->removeWidget(scanTimesGroup_);
  timeRows_->addWidget(refreshGroup_, 0, 0, Qt::AlignLeft);
  timeRows_->addWidget(scanTimesGroup_, stacked ? 1 : 0, stacked ? 0 : 1, Qt::AlignLeft);
  timeRows_->setColumnStretch(0, stacked ? 1 : 0);
  timeRows_->setColumnStretch(1, stacked ? 0 : 1);
  timeStacked_ = stacked;
}

bool TfrmPageMonitor::timesStacked() const {
  return timeStacked_;
}

void TfrmPageMonitor::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const QMargins m = layout()->contentsMargins();
  const int oneRow = refreshGroup_->sizeHint().width() + timeRows_->horizontalSpacing() +
                     scanTimesGroup_->sizeHint().width() + m.left() + m.right();
  const bool stacked = width() < oneRow;
  if (stacked != timeStacked_) placeTimeGroups(stacked);
}

void TfrmPageMonitor::FormCreate() {
  txtRefreshInterval->setText(QString::number(kMinRefreshSeconds));
  lblRefreshInterval->setText(lblRefreshInterval->text() + QString::number(kMinRefreshSeconds) + ")");
}

void TfrmPageMonitor::SetClock(const Clock* clock) {
  clock_.target = clock;
}

GlobalSettings TfrmPageMonitor::settings() const {
  if (settings_) return *settings_;
  if (frame_) return frame_->Settings();
  return GlobalSettings{};
}

void TfrmPageMonitor::Log(const std::string& message, bool verbose) {
  status_->Log(message, verbose);
}

std::vector<std::string> TfrmPageMonitor::alertLines() const {
  std::string text = FromQ(txtAlerts->toPlainText());
  std::erase(text, '\r');
  return SplitString(text, "\n");
}

void TfrmPageMonitor::loadSettings(SettingsFile& file, const std::string& section) {
  const TPageMonitorSection values = ReadPageMonitorSection(file, section);
  txtAddress->setText(ToQ(values.url));
  // An unchanged text does not signal a change; the rule applies to what was loaded all the same.
  const QString interval = ToQ(values.refreshInterval);
  if (txtRefreshInterval->text() == interval)
    txtRefreshIntervalChange();
  else
    txtRefreshInterval->setText(interval);
  txtAlerts->setPlainText(JoinLines(values.alerts));
  txtStartTime->setText(ToQ(values.startTimeToScan));
  txtEndTime->setText(ToQ(values.endTimeToScan));
  checkScanTimes();
}

void TfrmPageMonitor::saveSettings(SettingsFile& file, const std::string& section) {
  TPageMonitorSection values;
  values.url = FromQ(txtAddress->text());
  values.refreshInterval = FromQ(txtRefreshInterval->text());
  values.alerts = alertLines();
  values.startTimeToScan = FromQ(txtStartTime->text());
  values.endTimeToScan = FromQ(txtEndTime->text());
  WritePageMonitorSection(file, section, values);
}

void TfrmPageMonitor::txtRefreshIntervalChange() {
  const int seconds = RefreshIntervalSeconds(FromQ(txtRefreshInterval->text()));
  if (!AutoCheckEnabled(seconds)) {
    Timer1->stop();
    Log("Disabled auto-check, refresh interval too low");
    return;
  }
  Timer1->start(RefreshTimerMs(seconds));
  Log("Enabled auto-check");
}

void TfrmPageMonitor::checkScanTimes() {
  auto check = [this](QLineEdit* field, const char* which, std::optional<std::string>& reported) {
    const std::string text = FromQ(field->text());
    if (ScanTimeOfDayMs(text)) {
      reported.reset();
    } else if (reported != text) {
      reported = text;
      Log(BadScanTimeMessage(which, text));
    }
  };
  check(txtStartTime, "start", reportedStartTime_);
  check(txtEndTime, "end", reportedEndTime_);
}

const Clock& TfrmPageMonitor::ClockProxy::Resolve() const {
  if (target) return *target;
  if (ProgramPort* p = w_.program()) return p->ProgramClock();
  return system_;
}

bool TfrmPageMonitor::WaitingForIdle() const {
  return idleWait_->Waiting();
}

bool TfrmPageMonitor::inScanWindow() const {
  return InScanWindow(clock_.NowMs(), FromQ(txtStartTime->text()), FromQ(txtEndTime->text()));
}

void TfrmPageMonitor::Timer1Timer() {
  if (!inScanWindow()) {
    Log("Not time to scan", true);
    return;
  }
  // A tick while the idle wait runs changes nothing: the wait loads the page when it ends.
  if (idleWait_->Waiting()) return;
  const int64_t runAfterIdleFor = settings().runAfterIdleForMs;
  if (TickStepFor(runAfterIdleFor, clock_.IdleMs()) == TickStep::WaitForIdleThenLoad) {
    Log("User is busy, waiting for idle...");
    idleWait_->Start(runAfterIdleFor, [this] { loadPage(); });
    return;
  }
  loadPage();
}

void TfrmPageMonitor::btnGoClick() {
  const bool wasEnabled = Timer1->isActive();
  Timer1->stop();
  loadPage();
  if (wasEnabled) Timer1->start();
}

void TfrmPageMonitor::loadPage() {
  ++loadCount_;
  const std::string address = FromQ(txtAddress->text());
  if (address.empty()) return;
  Log("Downloading " + address);
  btnGo->setEnabled(false);
  try {
    const QUrl url = QUrl::fromUserInput(ToQ(address));
    if (!url.isValid())
      throw Error("I cannot make sense of the address " + Excerpt(address), "EBrowserError");
    WebBrowser1->load(url);
  } catch (const std::exception& e) {
    Log(ErrorText(e));
  }
  btnGo->setEnabled(true);
}

void TfrmPageMonitor::WebBrowser1LoadingChanged(const QWebEngineLoadingInfo& info) {
  switch (info.status()) {
    case QWebEngineLoadingInfo::LoadSucceededStatus:
      WebBrowser1DocumentComplete();
      break;
    case QWebEngineLoadingInfo::LoadFailedStatus:
      WebBrowser1NavigateError(info);
      break;
    case QWebEngineLoadingInfo::LoadStoppedStatus:
      // Replaced by a newer navigation (a tick or Go during a slow load): not an error.
      Log("Page load stopped: " + FromQ(info.url().toString()), true);
      break;
    case QWebEngineLoadingInfo::LoadStartedStatus:
      break;
  }
}

// The browser reports completion of the top-level document only; frames inside the page finish
// as part of it.
void TfrmPageMonitor::WebBrowser1DocumentComplete() {
  Log("Page completely downloaded");
  QPointer<TfrmPageMonitor> self(this);
  searchPage([self] {
    if (self) self->btnShowRawText->setEnabled(true);
  });
}

// Also an HTTP error status: the server's own error text is shown but not searched.
void TfrmPageMonitor::WebBrowser1NavigateError(const QWebEngineLoadingInfo& info) {
  Log("Navigate error");
  Log(FromQ(info.url().toString() + ": " + info.errorString()), true);
}

void TfrmPageMonitor::getPageText(std::function<void(const std::string&)> done) {
  QPointer<TfrmPageMonitor> self(this);
  WebBrowser1->page()->runJavaScript(QString::fromLatin1(kBodyTextScript), QWebEngineScript::ApplicationWorld,
                                     [self, done = std::move(done)](const QVariant& result) {
                                       if (self) done(ToCrLfLines(result.toString()));
                                     });
}

void TfrmPageMonitor::searchPage(std::function<void()> then) {
  Log("Starting searching", true);
  QPointer<TfrmPageMonitor> self(this);
  getPageText([self, then = std::move(then)](const std::string& text) {
    if (!self) return;
    if (!text.empty()) {
      const std::vector<std::string> matches = self->findMatches(self->alertLines(), text);
      self->Log("Matches found: " + std::to_string(matches.size()));
      if (!matches.empty()) self->showMatches(matches);
      if (!self) return;
    }
    self->Log("Finished searching");
    if (then) then();
    if (self) emit self->searchFinished();
  });
}

std::vector<std::string> TfrmPageMonitor::findMatches(const std::vector<std::string>& rules,
                                                      const std::string& pageText) {
  matcher_.SetRepeatIntervalMs(settings().repeatIntervalMs);
  return matcher_.findMatches(rules, pageText,
                              [this](const std::string& message, bool verbose) { Log(message, verbose); });
}

void TfrmPageMonitor::showMatches(const std::vector<std::string>& matches) {
  maximiseWindow();
  const bool wasEnabled = Timer1->isActive();
  Timer1->stop();
  QPointer<TfrmPageMonitor> self(this);
  for (const std::string& line : matches) {
    const PageFoundResult result = showPageFound(line);
    if (!self) return;
    if (result.enough) break;
  }
  if (wasEnabled) Timer1->start();
}

PageFoundResult TfrmPageMonitor::showPageFound(const std::string& line) {
  // The caption of the alert is its reason, the same for every page monitor.
  const std::string reason = kWebsiteMatchReason;
  const std::string link = FromQ(WebBrowser1->url().toString());
  if (pageFound_) return pageFound_->ShowPageFound(reason, "Found match!", line, link, false);
  if (frame_) return frame_->ShowPageFound(reason, "Found match!", line, link, false);
  return ShowPageFoundWindow(this, reason, "Found match!", line, link, false);
}

void TfrmPageMonitor::maximiseWindow() {
  if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget()))
    sub->showMaximized();
  else
    showMaximized();
}

void TfrmPageMonitor::btnShowRawTextClick() {
  getPageText([](const std::string& text) {
    if (text.empty())
      ShowMessage("Nothing to display");
    else
      ShowBigText(text);
  });
}

void TfrmPageMonitor::txtAlertsExit() {
  std::vector<std::string> lines = alertLines();
  const std::vector<std::string> untabbed = RemoveTabs(lines);
  const std::vector<std::string> removed = RemoveCrlfLines(lines);
  const bool fixed = FixKeywordLines(lines);
  if (!fixed && removed.empty() && untabbed.empty()) return;
  txtAlerts->setPlainText(JoinLines(lines));
  if (!untabbed.empty()) ShowMessage(TabLinesMessage(untabbed));
  if (!removed.empty()) ShowMessage(CrlfLinesMessage(removed));
  if (fixed) ShowMessage(kKeywordLinesFixedMessage);
}

bool TfrmPageMonitor::eventFilter(QObject* watched, QEvent* event) {
  if (watched == txtAlerts && event->type() == QEvent::FocusOut) txtAlertsExit();
  return QWidget::eventFilter(watched, event);
}

}  // namespace zibu
