#include "app/main_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDBusConnection>
#include <QGuiApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>
#include <cstdio>

#include "app/desktop_notifier.h"
#include "app/version_check.h"
#include "common/codepage.h"
#include "common/errors.h"
#include "common/settings.h"
#include "feeds/feeds_session.h"
#include "feeds/feeds_window.h"
#include "learning/recent_scores.h"
#include "monitor/monitor_window.h"
#include "rating/pagefound_window.h"
#include "spider/spider_gate.h"
#include "spider/spider_window.h"
#include "ui/qtext.h"
#include "ui/dialogs.h"
#include "ui/icons.h"
#include "ui/placement.h"
#include "ui/program_services.h"
#include "ui/splash_window.h"
#include "ui/widget_helpers.h"

namespace zibu {

namespace {

constexpr const char* kMain = "main";
constexpr const char* kNothingSaved =
    "So that nothing in your files is lost, I will not save zibu.conf or the learned data in this run. "
    "Please repair or move away that file, then start me again.";
constexpr int kHintDurationMs = 30000;

// A hint "short|long" gives the tool tip and the status bar text.
void SetHint(QAction* action, const QString& hint) {
  const int bar = hint.indexOf('|');
  action->setToolTip(bar < 0 ? hint : hint.left(bar));
  action->setStatusTip(bar < 0 ? hint : hint.mid(bar + 1));
}

}  // namespace

std::string WelcomeMessage() {
  return std::string(
             "This program is still under development.  If you experience any problems or think you have "
             "found a "
             "bug, please email ") +
         kSupportAddress +
         "\r\n\r\nTo set up RSS/Atom feed monitoring click the orange icon.\r\nTo monitor a standard web "
         "site, "
         "click the web icon (multiple windows can be opened)";
}

TMainForm::TMainForm(ProgramServices& program, QWidget* parent) : QMainWindow(parent), program_(program) {
  setObjectName("MainForm");
  setWindowTitle("Zibu");
  setWindowIcon(MainIcon());
  resize(960, 680);
  // On a small or strongly scaled screen (2x on 1366x768 leaves 683x384) the usual size would
  // put the frame's lower part and every child's bottom edge off the screen.
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QSize room = screen->availableGeometry().size() - QSize(16, 40);
    if (room.isValid()) resize(size().boundedTo(room));
  }
  mdiArea_ = new QMdiArea(this);
  mdiArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  mdiArea_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setCentralWidget(mdiArea_);
  CreateActions();
  SetNotificationBus(QDBusConnection::sessionBus());
  statusBar()->setSizeGripEnabled(true);
  // The first paced call after start-up always lets messages through.
  program_.SetProcessMessagesInterval(settings_.processMessagesIntervalMs);
}

TMainForm::~TMainForm() {
  if (feeds_) feeds_->removeEventFilter(this);
}

void TMainForm::CreateActions() {
  // Each action is found by its name in tests, and those on the tool bar carry a hint.
  auto makeAction = [this](const QString& text, const char* name, const QString& hint = {},
                           const QIcon& icon = {}) {
    auto* action = new QAction(icon, text, this);
    action->setObjectName(name);
    if (!hint.isEmpty()) SetHint(action, hint);
    return action;
  };
  sbRSS = makeAction("&RSS/Atom feeds", "sbRSS", "Manage RSS / Atom feeds", FeedsIcon());
  connect(sbRSS, &QAction::triggered, this, &TMainForm::ShowFeeds);

  btnNewWebPage =
      makeAction("New web &page monitor window", "btnNewWebPage", "Monitor a new web site", WebIcon());
  connect(btnNewWebPage, &QAction::triggered, this, &TMainForm::NewWebPage);

  btnSpider =
      makeAction("New web &search window", "btnSpider", "Search the web for relevant content", SpiderIcon());
  connect(btnSpider, &QAction::triggered, this, &TMainForm::NewSpiderWindow);

  sbSaveConfig = makeAction("Save all config", "sbSaveConfig", "Save all config", SaveIcon());
  connect(sbSaveConfig, &QAction::triggered, this, &TMainForm::SaveConfigCommand);

  SpeedButton1 = makeAction("Visit zibu home page", "SpeedButton1", "Visit zibu home page", HomeIcon());
  connect(SpeedButton1, &QAction::triggered, this, &TMainForm::VisitHomePage);

  FileLearnedWords1 =
      makeAction("&Learned words...", "FileLearnedWords1",
                 "Learned words|See the words Zibu has learned with their weights, and correct them");
  connect(FileLearnedWords1, &QAction::triggered, this, [this] {
    if (feeds_) feeds_->ShowLearnedWords();
  });

  ViewReadingList1 = makeAction("&Reading list", "ViewReadingList1",
                                "Reading list|Every article the feeds brought, ranked by what you like");
  ViewReadingList1->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R));
  connect(ViewReadingList1, &QAction::triggered, this, [this] { ShowReadingList(); });

  FileExit1 = makeAction("E&xit", "FileExit1", "Exit|Exit application");
  FileExit1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  // From the feeds window too, which is a window of its own; a modal question still holds it.
  FileExit1->setShortcutContext(Qt::ApplicationShortcut);
  connect(FileExit1, &QAction::triggered, this, &QWidget::close);

  WindowCascade1 = makeAction("&Cascade", "WindowCascade1");
  connect(WindowCascade1, &QAction::triggered, this, &TMainForm::Cascade);
  WindowTileHorizontal1 = makeAction("Tile &Horizontally", "WindowTileHorizontal1");
  connect(WindowTileHorizontal1, &QAction::triggered, this, &TMainForm::TileHorizontally);
  WindowTileVertical1 = makeAction("Tile &Vertically", "WindowTileVertical1");
  connect(WindowTileVertical1, &QAction::triggered, this, &TMainForm::TileVertically);
  WindowMinimizeAll1 = makeAction("&Minimize All", "WindowMinimizeAll1");
  connect(WindowMinimizeAll1, &QAction::triggered, this, [this] {
    for (QMdiSubWindow* sub : mdiArea_->subWindowList()) sub->showMinimized();
  });
  WindowArrangeAll1 = makeAction("&Arrange All", "WindowArrangeAll1");
  connect(WindowArrangeAll1, &QAction::triggered, this, &TMainForm::ArrangeAll);
  // The active spider or page monitor window; its own close handling (a running crawl) applies.
  WindowClose1 = makeAction("Cl&ose", "WindowClose1");
  WindowClose1->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_W), QKeySequence(Qt::CTRL | Qt::Key_F4)});
  WindowClose1->setShortcutContext(Qt::WindowShortcut);
  connect(WindowClose1, &QAction::triggered, this, [this] {
    if (QMdiSubWindow* sub = mdiArea_->activeSubWindow()) sub->close();
  });

  QMenu* file = menuBar()->addMenu("&File");
  file->setObjectName("File1");
  file->addAction(sbRSS);
  file->addAction(btnNewWebPage);
  file->addAction(btnSpider);
  file->addAction(FileLearnedWords1);
  file->addSeparator();
  file->addAction(FileExit1);

  QMenu* view = menuBar()->addMenu("&View");
  view->setObjectName("View1");
  view->addAction(ViewReadingList1);

  QMenu* window = menuBar()->addMenu("&Window");
  window->setObjectName("Window1");
  window->addAction(WindowCascade1);
  window->addAction(WindowTileHorizontal1);
  window->addAction(WindowTileVertical1);
  window->addAction(WindowMinimizeAll1);
  window->addAction(WindowArrangeAll1);
  window->addSeparator();
  window->addAction(WindowClose1);

  QToolBar* bar = addToolBar("ToolBar1");
  bar->setObjectName("ToolBar1");
  bar->setMovable(false);
  bar->setIconSize(QSize(32, 32));
  for (QAction* a : {sbRSS, btnNewWebPage, btnSpider, sbSaveConfig, SpeedButton1}) {
    bar->addAction(a);
    if (QWidget* button = bar->widgetForAction(a)) {
      button->setObjectName(a->objectName());
      button->setToolTipDuration(kHintDurationMs);
    }
  }
}

void TMainForm::SetNotificationBus(const QDBusConnection& bus) {
  const bool enabled = settings_.desktopNotifications;
  delete notifier_;
  notifier_ = new DesktopNotifier(bus, this);
  notifier_->SetEnabled(enabled);
  connect(notifier_, &DesktopNotifier::activated, this, [this] {
    RestoreFromTray();
    raise();
    program_.BringToFront(this);
  });
}

void TMainForm::AttachFeeds(FeedsSession* session, TfrmFeeds* feeds) {
  if (feeds_) feeds_->removeEventFilter(this);
  session_ = session;
  feeds_ = feeds;
  if (session_) {
    if (!tmrRescore_) {
      tmrRescore_ = new QTimer(this);
      tmrRescore_->setSingleShot(true);
      // A slice of scoring, then the events: the windows never wait for the whole list.
      connect(tmrRescore_, &QTimer::timeout, this, [this] {
        if (session_ && session_->RescoreStep(30)) tmrRescore_->start(session_->Engine().ScanRunning() ? 50 : 0);
      });
    }
    session_->SetReadingListCallbacks([this] { tmrRescore_->start(0); },
                                      [this] {
                                        if (readingList_) readingList_->RelevancesChanged();
                                      });
  }
  if (!feeds_) return;
  feeds_->SetFrame(this);
  feeds_->installEventFilter(this);
}

TfrmFeeds* TMainForm::Feeds() const {
  return feeds_.data();
}

std::string TMainForm::ProgramFolder() const {
  return program_.HomeFolder();
}

ProgramPort& TMainForm::Program() {
  return program_;
}

int TMainForm::LearnedWordCount() const {
  if (wordCountSource_) return wordCountSource_();
  return session_ ? session_->LearnedWordCount() : 0;
}

void TMainForm::StartUp() {
  setWindowTitle(QString("Zibu ") + kAppVersion);

  // Any icon left from before is withdrawn; the program shows one only while minimised.
  if (trayIcon_) trayIcon_->hide();
  if (!trayIcon_) {
    trayIcon_ = new QSystemTrayIcon(MainIcon(), this);
    trayIcon_->setToolTip("zibu");
    connect(trayIcon_, &QSystemTrayIcon::activated, this, &TMainForm::TrayIconMessage);
    auto* trayMenu = new QMenu(this);
    trayMenu->addAction(ViewReadingList1);
    trayMenu->addAction(FileExit1);
    trayIcon_->setContextMenu(trayMenu);
  }

  {
    // A damaged zibu.conf is reported (and its backup copy offered) before anything reads it.
    const std::unique_ptr<SettingsFile> opened =
        session_ ? session_->OpenConfig() : std::make_unique<SettingsFile>(ConfigPath());
    SettingsFile& file = *opened;
    // A step that fails stops the load there; what was not loaded must then not be written
    // over by any save of this run.
    std::string stopped;
    try {
      if (!file.Loaded()) throw LoadError(ConfigPath(), file.LoadProblem());
      if (file.NulBytesDropped() > 0)
        Log(ConfigPath() + " holds " + std::to_string(file.NulBytesDropped()) +
            " NUL bytes; I have dropped them and read on, so nothing after them is lost");
      settings_ = ReadGlobalSettings(file);
      if (!settings_.caFile.empty() && settings_.caFile.front() != '/')
        settings_.caFile = ProgramFolder() + settings_.caFile;
      notifier_->SetEnabled(settings_.desktopNotifications);
      program_.SetProcessMessagesInterval(settings_.processMessagesIntervalMs);
      if (const std::string note = StoredMonitorWindowCount(file).note; !note.empty()) Log(note);
      const bool loadPagesOnStartup = settings_.loadPagesOnStartup;
      for (int i = 0; i < settings_.browserWindowCount; ++i) {
        auto* monitor = static_cast<TfrmPageMonitor*>(NewPageMonitorWindow());
        monitor->loadSettings(file, "window_" + std::to_string(i));
        if (loadPagesOnStartup) monitor->loadPage();
      }
      if (session_) session_->LoadConfig(file);
    } catch (const LoadError& e) {
      stopped = e.what();
    } catch (const std::exception& e) {
      stopped = LoadError(ConfigPath(), ProblemText(e)).what();
    }
    if (!stopped.empty()) {
      savesHeld_ = stopped;
      if (session_) session_->HoldSaves(stopped);
      HideProgress();
      std::fprintf(stderr, "zibu: %s\n", stopped.c_str());
      ShowMessage(stopped + "\r\n\r\n" + kNothingSaved);
    }
    // After a stop the settings may be the defaults rather than the user's: no version check.
    if (stopped.empty() && settings_.checkForNewVersion) {
      ShowProgress("Checking for new version", 0);
      // Everything after the check waits for its answer, which comes through the event loop.
      RunVersionCheck();
      return;
    }
  }
  FinishStartUp();
}

void TMainForm::FinishStartUp() {
  if (settings_.readingListOpen && !readingList_) ShowReadingList();
  // The frame is usually still hidden here and its client area not laid out: tile once it shows.
  if (isVisible())
    TileHorizontally();
  else
    tileOnShow_ = true;
  startupDone_ = true;
  HideProgress();
  emit startUpFinished();
}

void TMainForm::Log(const std::string& message) {
  if (session_) session_->Log(message);
}

void TMainForm::RunVersionCheck() {
  HttpOptions options;
  options.proxy = settings_.proxy;
  options.extraCaFile = settings_.caFile;
  // Events are handled while the request is out; the feeds timer, started by the load, must
  // not begin a scan in the middle of start-up.
  if (!versionCheck_) versionCheck_ = std::make_unique<VersionCheck>();
  // A start-up begun again while the first one's check is out ends with that check.
  if (versionCheck_->Running()) return;
  const bool timerWasOn = session_ && session_->ScanTimerActive();
  if (timerWasOn) session_->HoldScans();
  versionCheck_->Start(versionDocumentAddress_, options, kHomePageAddress,
                       [this] { return program_.ShutdownRequested(); },
                       [this, timerWasOn] {
                         if (timerWasOn && session_ && !program_.ShutdownRequested()) session_->ReleaseScans();
                         FinishStartUp();
                       });
}

std::vector<QMdiSubWindow*> TMainForm::ChildWindows() const {
  std::vector<QMdiSubWindow*> children;
  const auto stacked = mdiArea_->subWindowList(QMdiArea::StackingOrder);
  // Front-most first; a closed child may linger until its deferred deletion.
  for (auto it = stacked.rbegin(); it != stacked.rend(); ++it) {
    if (!(*it)->isHidden()) children.push_back(*it);
  }
  return children;
}

QMdiSubWindow* TMainForm::AddChild(QWidget* child) {
  QMdiSubWindow* sub = mdiArea_->addSubWindow(child);
  sub->setAttribute(Qt::WA_DeleteOnClose);
  // Every child's own menu claims the close keys for the whole frame, so that with two children
  // open neither closed: the frame's Window > Close owns them and closes the active child.
  if (QMenu* menu = sub->systemMenu())
    for (QAction* action : menu->actions())
      for (const QKeySequence& keys : WindowClose1->shortcuts())
        if (action->shortcuts().contains(keys)) action->setShortcuts({});
  sub->show();
  // A new window opens wholly inside the frame's area, smaller if it must be.
  const QRect area = mdiArea_->viewport()->rect();
  QRect placed(sub->pos(), sub->size().boundedTo(area.size()).expandedTo(sub->minimumSize()));
  if (placed.right() > area.right()) placed.moveRight(area.right());
  if (placed.bottom() > area.bottom()) placed.moveBottom(area.bottom());
  placed.moveTopLeft(QPoint(std::max(0, placed.left()), std::max(0, placed.top())));
  if (placed != sub->geometry()) sub->setGeometry(placed);
  const QString caption = QString("Window %1").arg(static_cast<int>(ChildWindows().size()) - 1);
  child->setWindowTitle(caption);
  sub->setWindowTitle(caption);
  return sub;
}

QWidget* TMainForm::NewPageMonitorWindow() {
  auto* monitor = new TfrmPageMonitor(this);
  AddChild(monitor);
  return monitor;
}

ReadingListServices TMainForm::ReadingServices() {
  ReadingListServices services;
  services.store = session_ ? session_->Store() : nullptr;
  services.markReadDelayMs = settings_.markReadDelayMs;
  QPointer<TMainForm> self(this);
  services.feedFilters = [self] {
    std::vector<FeedFilter> filters;
    if (!self || !self->session_) return filters;
    std::vector<std::string> folders;
    for (const TFeed& f : self->session_->Feeds()) {
      filters.push_back({DisplayUtf8(f.title.empty() ? f.url : f.title, f.titleUtf8), {f.url}});
      if (!f.folder.empty() && std::find(folders.begin(), folders.end(), f.folder) == folders.end())
        folders.push_back(f.folder);
    }
    for (const std::string& folder : folders) {
      FeedFilter all{"Folder: " + Win1252ToUtf8(folder), {}};
      for (const TFeed& f : self->session_->Feeds())
        if (f.folder == folder) all.urls.push_back(f.url);
      filters.push_back(std::move(all));
    }
    return filters;
  };
  services.feedName = [self](const std::string& url) {
    if (self && self->session_)
      for (const TFeed& f : self->session_->Feeds())
        if (f.url == url && !f.title.empty()) return DisplayUtf8(f.title, f.titleUtf8);
    return url;
  };
  services.rate = [self](int64_t id, int rating) {
    if (self && self->session_) self->session_->RateArticle(id, rating);
  };
  services.explain = [self](const std::string& text) {
    return self && self->session_ ? self->session_->Explain(text) : RelevanceExplanation();
  };
  services.standing = [self](int relevance) {
    if (!self || !self->session_) return std::string();
    return StandingText(self->session_->Engine().RecentScores().StandingOf(relevance, NowMs()));
  };
  services.open = [](const std::string& url) { OpenUrl(url); };
  services.log = [self](const std::string& line) {
    if (self) self->Log(line);
  };
  return services;
}

void TMainForm::ShowReadingList(int64_t article) {
  if (!readingList_) {
    if (!session_ || !session_->Store()) {
      ShowMessage("The reading list has no article store in this run; the status log of the feeds window says why.");
      return;
    }
    readingList_ = new TfrmReadingList(ReadingServices(), this);
    QMdiSubWindow* sub = AddChild(readingList_);
    readingList_->setWindowTitle("Reading list");
    sub->setWindowTitle("Reading list");
    sub->setWindowIcon(windowIcon());
    sub->showMaximized();
  } else {
    readingList_->Reload();
  }
  RestoreFromTray();
  if (auto* sub = qobject_cast<QMdiSubWindow*>(readingList_->parentWidget())) {
    mdiArea_->setActiveSubWindow(sub);
    if (sub->isMinimized()) sub->showNormal();
  }
  if (article) readingList_->SelectArticle(article);
  readingList_->sgArticles->setFocus(Qt::OtherFocusReason);
}

void TMainForm::NewSpiderWindow() {
  switch (SpiderGateFor(LearnedWordCount())) {
    case SpiderGate::Refuse:
      ShowMessage(kTooFewWordsMessage);
      return;
    case SpiderGate::Ask:
      if (!AskYesNo(kFewWordsQuestion)) return;
      break;
    case SpiderGate::Open:
      break;
  }
  feedsInFront_ = false;
  auto* spider = new TfrmSpider(this);
  spider->SetScanControl(session_);
  spider->SetEngine(session_ ? &session_->Engine() : nullptr);
  AddChild(spider);
  if (settings_.firstTime) ShowMessage(kSpiderIntroduction);
}

bool TMainForm::SaveAllConfig() {
  BusyCursor busy;
  if (!savesHeld_.empty()) {
    Log("I have not saved zibu.conf or the learned data, because " + savesHeld_);
    return false;
  }
  SettingsFile file(ConfigPath());
  file.WriteString(kMain, "appVersion", kAppVersion);
  file.WriteFlag(kMain, "firstTime", false);
  int written = 0;
  for (QMdiSubWindow* sub : ChildWindows()) {
    if (auto* monitor = dynamic_cast<TfrmPageMonitor*>(sub->widget())) {
      monitor->saveSettings(file, "window_" + std::to_string(written));
      ++written;
    }
  }
  file.WriteInteger(kMain, "browserWindowCount", written);
  file.WriteFlag(kMain, "readingListOpen", readingList_ != nullptr);
  if (!session_) {
    file.Save();
    ++saveCount_;
    return true;
  }
  // zibu.conf and the learned data each stand on their own; the log says which were written.
  const FeedsSession::SaveAllResult result = session_->SaveAll(file);
  if (result.configSaved) ++saveCount_;
  if (!result.problem.empty()) throw IoError(result.problem);
  return true;
}

void TMainForm::SaveConfigCommand() {
  try {
    if (SaveAllConfig())
      ShowMessage("Config saved");
    else
      ShowMessage("I have not saved anything, because " + savesHeld_ + "\r\n\r\n" + kNothingSaved);
  } catch (const std::exception& e) {
    ShowMessage(ErrorText(e));
  }
}

void TMainForm::ShowFeeds() {
  if (!feeds_) return;
  feeds_->setWindowState(feeds_->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
  PlaceInsideScreen(feeds_);
  feeds_->show();
  feeds_->raise();
  feeds_->activateWindow();
  feedsInFront_ = true;
}

void TMainForm::NewWebPage() {
  NewPageMonitorWindow();
  feedsInFront_ = false;
}

void TMainForm::VisitHomePage() {
  OpenUrl(kHomePageAddress);
}

void TMainForm::TileHorizontally() {
  Tile(false);
}

void TMainForm::TileVertically() {
  Tile(true);
}

// Side by side (tile vertically) or one above the other (tile horizontally) while each window
// keeps at least its smallest size; windows that do not fit in one line wrap into a grid, and
// past that the frame's area scrolls rather than a window being squeezed and cut.
void TMainForm::Tile(bool sideBySide) {
  std::vector<QMdiSubWindow*> tiles;
  for (QMdiSubWindow* sub : mdiArea_->subWindowList(QMdiArea::CreationOrder)) {
    if (!sub->isHidden() && !sub->isMinimized()) tiles.push_back(sub);
  }
  if (tiles.empty()) return;
  const QRect area = mdiArea_->viewport()->rect();
  const int n = static_cast<int>(tiles.size());
  QSize least(1, 1);
  for (QMdiSubWindow* sub : tiles) least = least.expandedTo(sub->minimumSizeHint());
  // Lines of windows: across for side by side, down for one above the other.
  const int along = sideBySide ? area.width() : area.height();
  const int perLine = std::clamp(along / std::max(1, sideBySide ? least.width() : least.height()), 1, n);
  const int lines = (n + perLine - 1) / perLine;
  const int across = sideBySide ? area.height() : area.width();
  const int lineSize = std::max(across / lines, sideBySide ? least.height() : least.width());
  for (int i = 0; i < n; ++i) {
    const int line = i / perLine;
    const int inLine = line == lines - 1 ? n - perLine * (lines - 1) : perLine;
    const int k = i % perLine;
    const int cell = std::max(along / inLine, sideBySide ? least.width() : least.height());
    // The last window of a line and of the last line takes what division left over.
    const int length = (k == inLine - 1 && cell * inLine <= along) ? along - cell * (inLine - 1) : cell;
    const int breadth =
        (line == lines - 1 && lineSize * lines <= across) ? across - lineSize * (lines - 1) : lineSize;
    QMdiSubWindow* sub = tiles[static_cast<size_t>(i)];
    if (sub->isMaximized()) sub->showNormal();
    if (sideBySide)
      sub->setGeometry(k * cell, line * lineSize, std::max(1, length), std::max(1, breadth));
    else
      sub->setGeometry(line * lineSize, k * cell, std::max(1, breadth), std::max(1, length));
  }
}

// Each window one title bar lower and to the right of the one before, all of one size that
// keeps the last inside the frame's area (the toolkit's own cascade kept every window's size and
// pushed the later ones past the bottom edge).
void TMainForm::Cascade() {
  std::vector<QMdiSubWindow*> windows;
  for (QMdiSubWindow* sub : mdiArea_->subWindowList(QMdiArea::CreationOrder)) {
    if (!sub->isHidden() && !sub->isMinimized()) windows.push_back(sub);
  }
  if (windows.empty()) return;
  const QRect area = mdiArea_->viewport()->rect();
  const int step = std::max(
      20, windows.front()->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, windows.front()) + 4);
  // Past this many steps a window would be too small to use: start again at the top left.
  const int perRound = std::max(
      1, std::min(static_cast<int>(windows.size()), std::min(area.width(), area.height()) / 2 / step + 1));
  const int offset = (perRound - 1) * step;
  const QSize size(std::max(1, area.width() - offset), std::max(1, area.height() - offset));
  for (size_t i = 0; i < windows.size(); ++i) {
    QMdiSubWindow* sub = windows[i];
    if (sub->isMaximized()) sub->showNormal();
    const int k = static_cast<int>(i) % perRound;
    sub->setGeometry(QRect(QPoint(k * step, k * step), size));
    sub->raise();
  }
  windows.back()->setFocus();
}

// Lines the minimised children up along the bottom edge.
void TMainForm::ArrangeAll() {
  const QRect area = mdiArea_->viewport()->rect();
  int x = 0;
  int y = area.height();
  for (QMdiSubWindow* sub : mdiArea_->subWindowList(QMdiArea::CreationOrder)) {
    if (sub->isHidden() || !sub->isMinimized()) continue;
    const QSize s = sub->size();
    if (x > 0 && x + s.width() > area.width()) {
      x = 0;
      y -= s.height();
    }
    sub->move(x, y - s.height());
    x += s.width();
  }
}

void TMainForm::AlertUser(const std::string& reason, const std::string& title, const std::string& titleUtf8) {
  const bool wasInFront = feedsInFront_;
  feedsInFront_ = false;
  QApplication::beep();
  if (isMinimized() || !isVisible()) {
    RestoreFromTray();
  } else {
    show();
    activateWindow();
  }
  raise();
  if (settings_.forceToForeground) program_.BringToFront(this);
  feedsInFront_ = wasInFront;
  notifier_->Notify(reason, ToQ(title, titleUtf8));
}

PageFoundResult TMainForm::ShowPageFound(const std::string& reason, const std::string& title,
                                         const std::string& description, const std::string& link,
                                         bool ratingPanelVisible) {
  AlertUser(reason, title);
  return ShowPageFoundWindow(this, reason, title, description, link, ratingPanelVisible);
}

PageFoundResult TMainForm::ShowArticle(const FoundArticle& article) {
  AlertUser(article.reason, article.title, article.titleUtf8);
  Explainer explain;
  if (session_) {
    explain = [session = session_](const std::string& text) { return session->Explain(text); };
  }
  return ShowPageFoundWindow(this, article, explain);
}

bool TMainForm::TrayAvailable() const {
  if (trayAvailable_) return trayAvailable_();
  return QSystemTrayIcon::isSystemTrayAvailable();
}

void TMainForm::AppMinimize() {
  if (!startupDone_ || !trayIcon_) return;
  // Without a notification area the frame stays minimised, so it can still be found.
  if (!TrayAvailable()) return;
  trayIcon_->show();
  // Hiding from within the state change confuses some window managers; do it right after.
  QTimer::singleShot(0, this, [this] {
    if (trayIcon_ && trayIcon_->isVisible()) hide();
  });
}

void TMainForm::TrayIconMessage(QSystemTrayIcon::ActivationReason reason) {
  if (reason != QSystemTrayIcon::Trigger && reason != QSystemTrayIcon::DoubleClick) return;
  RestoreFromTray();
}

void TMainForm::RestoreFromTray() {
  if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  activateWindow();
  if (trayIcon_) trayIcon_->hide();
}

bool TMainForm::TrayIconVisible() const {
  return trayIcon_ && trayIcon_->isVisible();
}

void TMainForm::ShowWelcomeOnce() {
  if (welcomeShown_ || !settings_.firstTime) return;
  welcomeShown_ = true;
  ShowMessage(WelcomeMessage());
}

void TMainForm::closeEvent(QCloseEvent* event) {
  if (!closing_) {
    closing_ = true;
    // Waits and paced loops running under this call end promptly from here on.
    program_.SetShutdownRequested(true);
    if (versionCheck_) versionCheck_->Abandon();
    if (session_) session_->HoldScans();
    try {
      SaveAllConfig();
    } catch (const std::exception& e) {
      ShowMessage(ErrorText(e));
    }
    if (trayIcon_) trayIcon_->hide();
    if (feeds_) feeds_->hide();
    emit shutdownComplete();
  }
  event->accept();
}

void TMainForm::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange) return;
  if (isMinimized())
    AppMinimize();
  else if (static_cast<QWindowStateChangeEvent*>(event)->oldState() & Qt::WindowMinimized)
    BringFeedsForwardIfInFront();  // restored: shown again
}

void TMainForm::BringFeedsForwardIfInFront() {
  if (!feedsInFront_ || !feeds_ || !feeds_->isVisible()) return;
  // After the frame itself has been mapped and raised, or it would cover the feeds again.
  QTimer::singleShot(0, this, [this] {
    if (!feeds_) return;
    feeds_->raise();
    feeds_->activateWindow();
  });
}

void TMainForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  BringFeedsForwardIfInFront();
  if (tileOnShow_) {
    tileOnShow_ = false;
    QTimer::singleShot(0, this, &TMainForm::TileHorizontally);
  }
}

bool TMainForm::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate) {
    // Only showing the frame brings the feeds window forward, not every activation: otherwise
    // the feeds window could never be put behind the frame, and a window opened from the frame
    // would open behind it.
    if (settings_.firstTime && !welcomeShown_) {
      // Shown after the activation has been handled, not inside it.
      QTimer::singleShot(0, this, &TMainForm::ShowWelcomeOnce);
    }
  }
  return QMainWindow::event(event);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == feeds_ && (event->type() == QEvent::Hide || event->type() == QEvent::Close)) {
    feedsInFront_ = false;
  }
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace zibu
