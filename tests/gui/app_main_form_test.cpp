// The main frame: start-up, restoring and saving page monitors, the commands, the spider gate,
// the tray, alerting, shutdown, and the version check.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <signal.h>

#include <QAction>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTest>
#include <cerrno>
#include <QTimer>
#include <QToolBar>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <new>
#include <set>
#include <thread>

#include "app/desktop_notifier.h"
#include "app/main_form.h"
#include "app/version_check.h"
#include "common/compmap.h"
#include "common/settings.h"
#include "common/shortintmap.h"
#include "feeds/feeds_session.h"
#include "rating/reading_window.h"
#include "store/article_store.h"
#include "feeds/feeds_window.h"
#include "event_gap_probe.h"
#include "feeds_fixture.h"
#include "learning/engine.h"
#include "monitor/monitor_window.h"
#include "private_bus.h"
#include "rating/learned_words_window.h"
#include "spider/spider_gate.h"
#include "spider/spider_window.h"
#include "support/loopback_server.h"
#include "ui/dialogs.h"
#include "ui/idle_wait.h"
#include "ui/program_services.h"
#include "ui/qtext.h"
#include "ui/single_instance.h"
#include "ui/splash_window.h"

namespace fs = std::filesystem;
using namespace zibu;
using zibu::test::Ui;

namespace {

class MainFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("zibu_frame_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    program.SetHomeFolder(dir_.string());
    program.SetShutdownRequested(false);
    SetDialogScript({.onMessage = [this](const std::string& t) { messages.push_back(t); },
                     .onQuestion =
                         [this](const std::string& t) {
                           questions.push_back(t);
                           return answer;
                         },
                     .onOpenUrl = [this](const std::string& u) { opened.push_back(u); },
                     .onChooseFile = nullptr});
  }
  void TearDown() override {
    ClearDialogScript();
    program.SetShutdownRequested(false);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    fs::remove_all(dir_);
  }
  void WriteConf(const std::string& text) { std::ofstream(dir_ / "zibu.conf", std::ios::binary) << text; }
  std::string ConfPath() const { return (dir_ / "zibu.conf").string(); }

  static std::vector<std::string> Captions(const TMainForm& f) {
    std::vector<std::string> out;
    for (QMdiSubWindow* sub : f.MdiArea()->subWindowList(QMdiArea::CreationOrder)) {
      if (!sub->isHidden()) out.push_back(FromQ(sub->widget()->windowTitle()));
    }
    return out;
  }
  static void FlushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

  fs::path dir_;
  ProgramServices program{"/"};
  std::vector<std::string> messages, questions, opened;
  bool answer = false;
};

constexpr const char* kQuiet = "[main]\ncheckForNewVersion=false\n";

TEST_F(MainFormTest, StartUpSetsCaptionSettingsAndCommands) {
  WriteConf(
      "[main]\ncheckForNewVersion=false\nverboseOutput=true\nproxyHost=proxy.lan\nproxyPort=3128\n"
      "processMessagesInterval=5\n");
  TMainForm frame(program);
  EXPECT_FALSE(frame.StartupDone());
  frame.StartUp();
  EXPECT_TRUE(frame.StartupDone());
  EXPECT_EQ(frame.windowTitle(), "Zibu 1.13");
  // The icon is the one installed for the desktop, at each installed size.
  for (int size : {48, 256}) {
    // Through a pixmap as the icon's own, which rounds translucent pixels the same way.
    const QImage installed =
        QPixmap(QString(ZIBU_TEST_DATA_DIR "/../../data/icons/example.zibu_news.Zibu-%1.png").arg(size))
            .toImage()
            .convertToFormat(QImage::Format_ARGB32);
    ASSERT_FALSE(installed.isNull()) << size;
    EXPECT_EQ(frame.windowIcon().pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32), installed)
        << size;
  }
  EXPECT_TRUE(frame.Settings().verboseOutput);
  EXPECT_EQ(frame.Proxy().server, "proxy.lan");
  EXPECT_EQ(frame.Proxy().port, 3128);
  EXPECT_EQ(frame.Settings().processMessagesIntervalMs, 5000);
  EXPECT_EQ(frame.ProgramFolder(), dir_.string() + "/");
  EXPECT_TRUE(messages.empty());

  EXPECT_EQ(frame.sbRSS->toolTip(), "Manage RSS / Atom feeds");
  EXPECT_EQ(frame.btnNewWebPage->toolTip(), "Monitor a new web site");
  EXPECT_EQ(frame.btnSpider->toolTip(), "Search the web for relevant content");
  EXPECT_EQ(frame.sbSaveConfig->toolTip(), "Save all config");
  EXPECT_EQ(frame.SpeedButton1->toolTip(), "Visit zibu home page");
  EXPECT_EQ(frame.FileExit1->toolTip(), "Exit");
  EXPECT_EQ(frame.FileExit1->statusTip(), "Exit application");
  EXPECT_EQ(frame.sbRSS->statusTip(), "Manage RSS / Atom feeds");

  std::vector<std::string> menus;
  for (QAction* m : frame.menuBar()->actions()) {
    menus.push_back(FromQ(m->text()));
    for (QAction* item : m->menu()->actions())
      if (!item->isSeparator()) menus.push_back("  " + FromQ(item->text()));
  }
  EXPECT_EQ(menus,
            (std::vector<std::string>{"&File", "  &RSS/Atom feeds", "  New web &page monitor window",
                                      "  New web &search window", "  &Learned words...", "  E&xit", "&View", "  &Reading list", "&Window",
                                      "  &Cascade", "  Tile &Horizontally", "  Tile &Vertically",
                                      "  &Minimize All", "  &Arrange All", "  Cl&ose"}));
  auto* bar = frame.findChild<QToolBar*>("ToolBar1");
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->actions().size(), 5);
  EXPECT_EQ(bar->widgetForAction(frame.sbRSS)->toolTipDuration(), 30000);

  // The status bar shows the hint of what is under the mouse.
  QStatusTipEvent tip(frame.btnSpider->statusTip());
  QApplication::sendEvent(&frame, &tip);
  EXPECT_EQ(frame.statusBar()->currentMessage(), "Search the web for relevant content");
}

TEST_F(MainFormTest, RestoresAndSavesPageMonitorWindows) {
  WriteConf(
      "[main]\ncheckForNewVersion=false\nbrowserWindowCount=2\nloadPagesOnStartup=false\nfirstTime=true\n"
      "[window_0]\nurl=http://a.example/\nalerts=1:aCRLF0:bCRLF\nrefreshInterval=120\n"
      "[window_1]\nurl=http://b.example/\n"
      "[window_2]\nurl=http://left.over/\n"
      "[unrelated]\nkeep=yes\n");
  {
    TMainForm frame(program);
    frame.StartUp();
    EXPECT_EQ(Captions(frame), (std::vector<std::string>{"Window 0", "Window 1"}));
    // Tiled one above the other over the whole client area once the frame shows.
    frame.show();
    QTest::qWait(30);
    const QSize area = frame.MdiArea()->viewport()->size();
    ASSERT_GT(area.height(), 200);
    const auto subs = frame.MdiArea()->subWindowList(QMdiArea::CreationOrder);
    EXPECT_EQ(subs[0]->geometry(), QRect(0, 0, area.width(), area.height() / 2));
    EXPECT_EQ(subs[1]->geometry().top(), area.height() / 2);
    EXPECT_EQ(subs[1]->geometry().bottom(), area.height() - 1);
    EXPECT_EQ(subs[1]->width(), area.width());
    frame.SaveAllConfig();
    SettingsFile saved(ConfPath());
    EXPECT_EQ(saved.ReadString("main", "appVersion", ""), "1.13");
    EXPECT_EQ(saved.ReadString("main", "firstTime", ""), "false");
    EXPECT_EQ(saved.ReadInteger("main", "browserWindowCount", -1), 2);
    std::set<std::string> urls = {saved.ReadString("window_0", "url", ""),
                                  saved.ReadString("window_1", "url", "")};
    EXPECT_EQ(urls, (std::set<std::string>{"http://a.example/", "http://b.example/"}));
    // The window that came from window_0 keeps its rules and interval wherever it is written.
    const std::string aSection =
        saved.ReadString("window_0", "url", "") == "http://a.example/" ? "window_0" : "window_1";
    EXPECT_EQ(saved.ReadString(aSection, "alerts", ""), "1:aCRLF0:bCRLF");
    EXPECT_EQ(saved.ReadString(aSection, "refreshInterval", ""), "120");
    EXPECT_EQ(saved.ReadString("window_2", "url", ""), "http://left.over/");
    EXPECT_EQ(saved.ReadString("unrelated", "keep", ""), "yes");

    // Close Window 0: the other one becomes window_0 and the count drops to 1.
    for (QMdiSubWindow* sub : frame.MdiArea()->subWindowList()) {
      if (sub->widget()->windowTitle() == "Window 0") sub->close();
    }
    FlushDeletes();
    EXPECT_EQ(frame.ChildWindows().size(), 1u);
    frame.SaveAllConfig();
    SettingsFile again(ConfPath());
    EXPECT_EQ(again.ReadInteger("main", "browserWindowCount", -1), 1);
    EXPECT_EQ(again.ReadString("window_0", "url", ""), "http://b.example/");
    EXPECT_EQ(frame.SaveCount(), 2);
  }
  TMainForm next(program);
  next.StartUp();
  EXPECT_EQ(Captions(next), std::vector<std::string>{"Window 0"});
  EXPECT_FALSE(next.Settings().firstTime);
}

TEST_F(MainFormTest, NewWindowsAreNumberedByTheChildCount) {
  WriteConf(kQuiet);
  TMainForm frame(program);
  frame.StartUp();
  frame.SetFeedsInFront(true);
  frame.btnNewWebPage->trigger();
  EXPECT_FALSE(frame.FeedsInFront());
  frame.btnNewWebPage->trigger();
  frame.btnNewWebPage->trigger();
  EXPECT_EQ(Captions(frame), (std::vector<std::string>{"Window 0", "Window 1", "Window 2"}));
  frame.MdiArea()->subWindowList(QMdiArea::CreationOrder).first()->close();
  FlushDeletes();
  frame.NewPageMonitorWindow();
  EXPECT_EQ(Captions(frame), (std::vector<std::string>{"Window 1", "Window 2", "Window 2"}));
  frame.SaveAllConfig();
  EXPECT_EQ(SettingsFile(ConfPath()).ReadInteger("main", "browserWindowCount", -1), 3);
}

// Keys only: Ctrl+W and Ctrl+F4 (and Window > Close) close the active child window, whatever
// control inside it has the focus; Ctrl+Q is Exit.
// The frame and a new page monitor stay on a screen smaller than the frame's usual size (as
// 1366x768 is at 2x), so no bottom edge leaves it; the feeds window stays on it too.
TEST_F(MainFormTest, TheFrameAndItsWindowsFitOnASmallScreen) {
  WriteConf(kQuiet);
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  ASSERT_TRUE(screen.width() < 960 || screen.height() < 680)
      << "the test needs a screen smaller than the usual sizes";
  TMainForm frame(program);
  frame.StartUp();
  frame.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
  FeedsSession session(program.HomeFolder());
  TfrmFeeds feeds(session, program);
  feeds.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&feeds));
  frame.btnNewWebPage->trigger();
  QApplication::processEvents();
  EXPECT_LE(frame.width(), screen.width());
  EXPECT_LE(frame.height(), screen.height());
  EXPECT_LE(feeds.height(), screen.height());
  EXPECT_LE(feeds.width(), screen.width());
  EXPECT_LE(feeds.minimumSizeHint().width(), screen.width());
  ASSERT_FALSE(frame.MdiArea()->subWindowList().isEmpty());
  for (QMdiSubWindow* sub : frame.MdiArea()->subWindowList())
    EXPECT_LE(sub->geometry().bottom(), frame.MdiArea()->viewport()->rect().bottom());
}

TEST_F(MainFormTest, TheKeyboardClosesTheActiveChildAndQuits) {
  WriteConf(kQuiet);
  FeedsSession session(program.HomeFolder());
  TfrmFeeds feeds(session, program);
  TMainForm frame(program);
  frame.AttachFeeds(&session, &feeds);
  frame.StartUp();
  frame.show();
  frame.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
  for (int i = 0; i < 3; ++i) frame.btnNewWebPage->trigger();
  ASSERT_EQ(Captions(frame).size(), 3u);
  for (const QKeySequence& keys : {QKeySequence(Qt::CTRL | Qt::Key_W), QKeySequence(Qt::CTRL | Qt::Key_F4)}) {
    QMdiSubWindow* active = frame.MdiArea()->activeSubWindow();
    ASSERT_NE(active, nullptr);
    const std::string caption = FromQ(active->widget()->windowTitle());
    auto* monitor = qobject_cast<TfrmPageMonitor*>(active->widget());
    ASSERT_NE(monitor, nullptr);
    monitor->txtAlerts->setFocus();
    QTest::keySequence(QApplication::focusWidget(), keys);
    FlushDeletes();
    const auto left = Captions(frame);
    EXPECT_EQ(std::count(left.begin(), left.end(), caption), 0) << keys.toString().toStdString();
  }
  ASSERT_EQ(Captions(frame).size(), 1u);
  frame.WindowClose1->trigger();
  FlushDeletes();
  EXPECT_TRUE(Captions(frame).empty());
  frame.WindowClose1->trigger();  // nothing left to close

  EXPECT_EQ(frame.FileExit1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
  QSignalSpy exits(frame.FileExit1, &QAction::triggered);
  QObject::disconnect(frame.FileExit1, &QAction::triggered, &frame, nullptr);
  // Ctrl+Q quits from whichever of the program's windows is active: the feeds window is a window
  // of its own, where the user spends most of the time.
  struct Quit {
    const char* from;
    QWidget* window;
  };
  for (const Quit& q : {Quit{"the frame", &frame}, Quit{"the feeds window", &feeds}}) {
    SCOPED_TRACE(q.from);
    const int before = exits.count();
    q.window->show();
    q.window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(q.window));
    QTest::keySequence(QApplication::activeWindow(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_EQ(exits.count(), before + 1);
  }
}

// Every arrangement keeps each child wholly inside the frame's area, and a page monitor tiled
// narrow keeps its time boxes whole (the scan times move under the refresh interval).
TEST_F(MainFormTest, ArrangementsKeepEveryWindowInsideAndTheTimeBoxesWhole) {
  WriteConf(kQuiet);
  TMainForm frame(program);
  frame.StartUp();
  frame.resize(1366, 740);
  frame.show();
  for (int i = 0; i < 3; ++i) frame.btnNewWebPage->trigger();
  QApplication::processEvents();
  const QRect area = frame.MdiArea()->viewport()->rect();
  for (QAction* arrange : {frame.WindowCascade1, frame.WindowTileVertical1, frame.WindowTileHorizontal1}) {
    arrange->trigger();
    QApplication::processEvents();
    int previousTop = -1;
    for (QMdiSubWindow* sub : frame.MdiArea()->subWindowList(QMdiArea::CreationOrder)) {
      EXPECT_TRUE(area.contains(sub->geometry()))
          << FromQ(arrange->text()) << " " << FromQ(sub->windowTitle());
      if (arrange == frame.WindowCascade1) {
        EXPECT_GT(sub->y(), previousTop) << "each cascaded window one step lower";
        previousTop = sub->y();
      }
      auto* monitor = qobject_cast<TfrmPageMonitor*>(sub->widget());
      ASSERT_NE(monitor, nullptr);
      for (QLineEdit* box : {monitor->txtRefreshInterval, monitor->txtStartTime, monitor->txtEndTime}) {
        EXPECT_GE(box->width(), box->fontMetrics().horizontalAdvance(box->text()) + 4)
            << FromQ(arrange->text()) << " " << FromQ(box->objectName());
        EXPECT_LE(box->mapTo(monitor, QPoint(box->width(), 0)).x(), monitor->width())
            << FromQ(arrange->text()) << " " << FromQ(box->objectName());
      }
      if (arrange == frame.WindowTileVertical1) {
        EXPECT_TRUE(monitor->timesStacked()) << "a third of the frame is too narrow for one row";
      }
    }
  }
}

TEST_F(MainFormTest, SaveConfigCommandReportsSavedOrTheError) {
  WriteConf(kQuiet);
  TMainForm frame(program);
  frame.StartUp();
  frame.sbSaveConfig->trigger();
  EXPECT_EQ(messages, std::vector<std::string>{"Config saved"});
  EXPECT_EQ(fs::status(ConfPath()).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  messages.clear();
  program.SetHomeFolder((dir_ / "gone" / "away").string());
  frame.sbSaveConfig->trigger();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].rfind("Unable to write to ", 0), 0u);
  program.SetHomeFolder(dir_.string());
}

// Save all config with a learned-data save that fails and is not tried again: zibu.conf is
// written all the same (the page monitor opened in this run is kept), and the box says what was
// not saved instead of "Config saved".
TEST_F(MainFormTest, SaveAllConfigWritesZibuConfWhenTheLearnedDataCannotBeSaved) {
  WriteConf(kQuiet);
  FeedsSession session(program.HomeFolder());
  TfrmFeeds feeds(session, program);
  TMainForm frame(program);
  frame.AttachFeeds(&session, &feeds);
  frame.StartUp();
  frame.btnNewWebPage->trigger();
  session.Engine().LearnFromRating("alphaword betaword", 5);
  session.Engine().SetSaveFaultHook([](const std::string& s) { return s.rfind("write ", 0) == 0 ? EROFS : 0; });
  answer = false;
  messages.clear();
  questions.clear();
  frame.sbSaveConfig->trigger();
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_EQ(questions[0].rfind("I could not save the learned data: ", 0), 0u) << questions[0];
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].rfind("I have not saved the learned data of this run: ", 0), 0u) << messages[0];
  EXPECT_NE(messages[0].find("Read-only file system"), std::string::npos) << messages[0];
  EXPECT_EQ(SettingsFile(ConfPath()).ReadInteger("main", "browserWindowCount", -1), 1);
  EXPECT_EQ(frame.SaveCount(), 1);
  EXPECT_FALSE(fs::exists(dir_ / "data" / "wordweightings.dat"));
  session.Engine().SetSaveFaultHook({});
  frame.AttachFeeds(nullptr, nullptr);
}

TEST_F(MainFormTest, SpiderGateAtTheWordCountBoundaries) {
  const std::string tooFew =
      "I have not yet gathered sufficient information about your interests.  Please run the learning process "
      "a "
      "few times on the Feeds page";
  WriteConf("[main]\ncheckForNewVersion=false\nfirstTime=true\n");
  TMainForm frame(program);
  frame.StartUp();
  int words = 0;
  frame.SetWordCountSource([&] { return words; });
  auto spiders = [&] { return frame.findChildren<TfrmSpider*>().size(); };

  words = 99;
  frame.btnSpider->trigger();
  EXPECT_EQ(messages, std::vector<std::string>{tooFew});
  EXPECT_TRUE(questions.empty());
  EXPECT_EQ(spiders(), 0);

  for (int n : {100, 999}) {
    messages.clear();
    questions.clear();
    words = n;
    answer = false;
    frame.btnSpider->trigger();
    ASSERT_EQ(questions.size(), 1u) << n;
    EXPECT_EQ(questions[0].rfind("I don't really have sufficient information", 0), 0u);
    EXPECT_NE(questions[0].find("\r\n\r\nDo you wish to use this feature anyway?"), std::string::npos);
    EXPECT_EQ(spiders(), 0) << n;
    EXPECT_TRUE(messages.empty());
  }
  answer = true;
  frame.SetFeedsInFront(true);
  frame.btnSpider->trigger();
  EXPECT_EQ(spiders(), 1);
  EXPECT_FALSE(frame.FeedsInFront());
  // First run: the spider introduction follows.
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].rfind("On this page you can search the web for relevant content", 0), 0u);

  questions.clear();
  words = 1000;
  frame.btnSpider->trigger();
  EXPECT_TRUE(questions.empty());
  EXPECT_EQ(spiders(), 2);
  EXPECT_EQ(Captions(frame), (std::vector<std::string>{"Window 0", "Window 1"}));
  // Spider windows are not saved.
  frame.SaveAllConfig();
  EXPECT_EQ(SettingsFile(ConfPath()).ReadInteger("main", "browserWindowCount", -1), 0);
  EXPECT_EQ(SpiderGateFor(0), SpiderGate::Refuse);
  EXPECT_EQ(SpiderGateFor(100), SpiderGate::Ask);
  EXPECT_EQ(SpiderGateFor(1000), SpiderGate::Open);
}

TEST_F(MainFormTest, MinimisingGoesToTheTrayOnlyAfterStartUp) {
  WriteConf(kQuiet);
  TMainForm frame(program);
  frame.SetTrayAvailable([] { return true; });
  frame.show();
  frame.showMinimized();
  QApplication::processEvents();
  EXPECT_FALSE(frame.TrayIconVisible());
  frame.showNormal();
  frame.StartUp();

  frame.showMinimized();
  QApplication::processEvents();
  EXPECT_TRUE(frame.TrayIconVisible());
  EXPECT_FALSE(frame.isVisible());
  // Only a left click or double-click brings it back.
  frame.TrayIconMessage(QSystemTrayIcon::Context);
  frame.TrayIconMessage(QSystemTrayIcon::MiddleClick);
  EXPECT_FALSE(frame.isVisible());
  frame.TrayIconMessage(QSystemTrayIcon::DoubleClick);
  EXPECT_TRUE(frame.isVisible());
  EXPECT_FALSE(frame.isMinimized());
  EXPECT_FALSE(frame.TrayIconVisible());

  // A desktop without a notification area: the frame just stays minimised.
  frame.SetTrayAvailable([] { return false; });
  frame.showMinimized();
  QApplication::processEvents();
  EXPECT_FALSE(frame.TrayIconVisible());
  EXPECT_TRUE(frame.isVisible());
  EXPECT_TRUE(frame.isMinimized());
}

TEST_F(MainFormTest, AlertUserBringsTheFrameBackAndKeepsFeedsInFront) {
  WriteConf("[main]\ncheckForNewVersion=false\nforceToForeground=false\n");
  TMainForm frame(program);
  frame.SetTrayAvailable([] { return true; });
  frame.StartUp();
  frame.show();
  frame.showMinimized();
  QApplication::processEvents();
  ASSERT_FALSE(frame.isVisible());
  frame.SetFeedsInFront(true);
  frame.AlertUser("Keyword match", "A title");
  EXPECT_TRUE(frame.isVisible());
  EXPECT_FALSE(frame.isMinimized());
  EXPECT_FALSE(frame.TrayIconVisible());
  EXPECT_TRUE(frame.FeedsInFront());
}

// Stands in for the desktop's notification service: records each Notify and answers with an id.
class NotificationStandIn : public QDBusVirtualObject {
 public:
  struct Call {
    QString app;
    uint replaces;
    QString icon, summary, body;
    QStringList actions;
    QVariantMap hints;
  };
  bool handleMessage(const QDBusMessage& m, const QDBusConnection& bus) override {
    if (m.member() != "Notify" || m.arguments().size() != 8) return false;
    const QList<QVariant> a = m.arguments();
    calls.push_back({a[0].toString(), a[1].toUInt(), a[2].toString(), a[3].toString(), a[4].toString(),
                     a[5].toStringList(), qdbus_cast<QVariantMap>(a[6])});
    bus.send(m.createReply(QVariant::fromValue(calls.back().replaces ? calls.back().replaces : ++lastId)));
    return true;
  }
  QString introspect(const QString&) const override { return {}; }
  std::vector<Call> calls;
  uint lastId = 41;
};

TEST_F(MainFormTest, AlertsPostDesktopNotificationsWhoseClickBringsTheFrameBack) {
  if (QStandardPaths::findExecutable("dbus-run-session").isEmpty())
    GTEST_SKIP() << "dbus-run-session missing";
  PrivateBus bus;
  ASSERT_FALSE(bus.address.isEmpty());
  {
    QDBusConnection service = QDBusConnection::connectToBus(bus.address, "zibu-test-service");
    QDBusConnection program = QDBusConnection::connectToBus(bus.address, "zibu-test-program");
    ASSERT_TRUE(service.isConnected() && program.isConnected());
    NotificationStandIn standIn;
    ASSERT_TRUE(service.registerVirtualObject("/org/freedesktop/Notifications", &standIn));
    ASSERT_TRUE(service.registerService("org.freedesktop.Notifications"));
    auto click = [&](uint id, const QString& action) {
      QDBusMessage signal = QDBusMessage::createSignal("/org/freedesktop/Notifications",
                                                       "org.freedesktop.Notifications", "ActionInvoked");
      signal << id << action;
      service.send(signal);
    };
    auto settle = [] { QTest::qWait(300); };

    WriteConf("[main]\ncheckForNewVersion=false\nforceToForeground=false\n");
    TMainForm frame(this->program);
    frame.SetTrayAvailable([] { return true; });
    frame.StartUp();
    frame.SetNotificationBus(program);
    frame.show();

    // Reason over title; the title is markup-safe and leaves the code page as Unicode.
    frame.AlertUser("Keyword match", "Caf\xE9 & <b>bold</b> \x80");
    ASSERT_TRUE(QTest::qWaitFor([&] { return standIn.calls.size() == 1; }, 5000));
    const NotificationStandIn::Call& first = standIn.calls[0];
    EXPECT_EQ(first.app, "Zibu");
    EXPECT_EQ(first.replaces, 0u);
    EXPECT_EQ(first.icon, kDesktopAppId);
    EXPECT_EQ(first.summary, "Keyword match");
    EXPECT_EQ(first.body, QString::fromUtf8("Café &amp; &lt;b&gt;bold&lt;/b&gt; €"));
    EXPECT_TRUE(first.actions.contains("default"));
    EXPECT_EQ(first.hints.value("desktop-entry").toString(), kDesktopAppId);

    // The next alert, once the service has answered, takes the place of the one still shown.
    settle();
    frame.AlertUser("Relevance 80%", "Second");
    ASSERT_TRUE(QTest::qWaitFor([&] { return standIn.calls.size() == 2; }, 5000));
    EXPECT_EQ(standIn.calls[1].replaces, 42u);

    // Clicking it brings the frame back from the tray; another program's notification, or another
    // action, does not.
    frame.showMinimized();
    QApplication::processEvents();
    ASSERT_FALSE(frame.isVisible());
    click(7, "default");
    click(42, "snooze");
    settle();
    EXPECT_FALSE(frame.isVisible());
    click(42, "default");
    EXPECT_TRUE(QTest::qWaitFor([&] { return frame.isVisible() && !frame.isMinimized(); }, 5000));

    // Switched off in zibu.conf: nothing is posted.
    WriteConf("[main]\ncheckForNewVersion=false\nforceToForeground=false\ndesktopNotifications=false\n");
    {
      TMainForm quiet(this->program);
      quiet.StartUp();
      quiet.SetNotificationBus(program);
      quiet.AlertUser("Keyword match", "Not posted");
      settle();
    }
    EXPECT_EQ(standIn.calls.size(), 2u);

    // Without a service, or without any bus, an alert does what it always did.
    service.unregisterService("org.freedesktop.Notifications");
    frame.showMinimized();
    QApplication::processEvents();
    frame.AlertUser("Keyword match", "No service");
    settle();
    EXPECT_TRUE(frame.isVisible());
    EXPECT_EQ(standIn.calls.size(), 2u);
    frame.SetNotificationBus(QDBusConnection("zibu-test-no-bus"));
    EXPECT_FALSE(frame.Notifier()->Notify("Keyword match", "No bus"));
    frame.AlertUser("Keyword match", "No bus");
    EXPECT_TRUE(frame.isVisible());
  }
  QDBusConnection::disconnectFromBus("zibu-test-service");
  QDBusConnection::disconnectFromBus("zibu-test-program");
}

// FeedsInFront brings the feeds window forward only when the frame is shown (first show, back
// from the tray or from minimised), not on every activation: otherwise the feeds window could not
// be put behind the frame.
TEST_F(MainFormTest, OnlyShowingTheFrameBringsTheFeedsWindowForward) {
  WriteConf(kQuiet);
  FeedsSession session(program.HomeFolder());
  TfrmFeeds feeds(session, program);
  TMainForm frame(program);
  frame.AttachFeeds(&session, &feeds);
  frame.StartUp();
  frame.show();
  frame.sbRSS->trigger();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&feeds));
  ASSERT_TRUE(frame.FeedsInFront());
  struct Step {
    const char* what;
    std::function<void()> act;
    QWidget* activeAfter;
  };
  for (const Step& step :
       std::vector<Step>{{"activating the frame", [&] { frame.activateWindow(); }, &frame},
                         {"showing it again after hiding", [&] { frame.hide(), frame.show(); }, &feeds},
                         {"activating it once more", [&] { frame.activateWindow(); }, &frame},
                         {"restoring it from minimised",
                          [&] {
                            frame.showMinimized();
                            QApplication::processEvents();
                            frame.showNormal();
                          },
                          &feeds}}) {
    step.act();
    QTest::qWait(50);
    EXPECT_EQ(QApplication::activeWindow(), step.activeAfter) << step.what;
    if (step.activeAfter == &frame) {
      ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
    }
    EXPECT_TRUE(frame.FeedsInFront()) << step.what;
  }
  frame.AttachFeeds(nullptr, nullptr);
}

// One window of the learned words, from the File menu and from the feeds window alike.
TEST_F(MainFormTest, TheLearnedWordsWindowOpensFromTheFileMenuAndTheFeedsWindow) {
  WriteConf(kQuiet);
  FeedsSession session(program.HomeFolder());
  TfrmFeeds feeds(session, program);
  TMainForm frame(program);
  frame.AttachFeeds(&session, &feeds);
  frame.StartUp();
  frame.show();
  EXPECT_EQ(feeds.LearnedWordsWindow(), nullptr);
  frame.FileLearnedWords1->trigger();
  TfrmLearnedWords* window = feeds.LearnedWordsWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(window->isWindow());
  EXPECT_EQ(FromQ(window->windowTitle()), "Learned words");
  window->btnClose->click();
  EXPECT_FALSE(window->isVisible());
  Ui(feeds).btnLearnedWords->click();
  EXPECT_EQ(feeds.LearnedWordsWindow(), window);
  EXPECT_TRUE(window->isVisible());
  frame.AttachFeeds(nullptr, nullptr);
}

// The reading list is a child of the frame, opened from the View menu; its articles are those the
// store keeps, and it opens again at the next start when it was open at exit.
TEST_F(MainFormTest, TheReadingListOpensFromTheViewMenuAndAgainAtTheNextStart) {
  WriteConf(kQuiet);
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    FeedsSession session(program.HomeFolder());
    TfrmFeeds feeds(session, program);
    TMainForm frame(program);
    frame.AttachFeeds(&session, &feeds);
    frame.StartUp();
    frame.show();
    ASSERT_NE(session.Store(), nullptr);
    if (run == 0) {
      std::vector<StoredArticle> kept(2);
      kept[0].title = "Apple pruning";
      kept[0].link = "http://a/1";
      kept[0].relevance = 40;
      kept[1].title = "Pear trees";
      kept[1].link = "http://a/2";
      kept[1].relevance = 60;
      session.Store()->StoreFeedArticles("http://feed/a", kept, NowMs());  // older ones are forgotten
      EXPECT_EQ(frame.ReadingList(), nullptr);
      frame.ViewReadingList1->trigger();
    }
    TfrmReadingList* list = frame.ReadingList();
    ASSERT_NE(list, nullptr) << (run ? "open again at start" : "opened by the menu");
    EXPECT_EQ(Captions(frame), std::vector<std::string>{"Reading list"});
    ASSERT_EQ(list->Listed().size(), 2u);
    EXPECT_EQ(list->Listed()[0].title, "Pear trees");
    ASSERT_TRUE(frame.SaveAllConfig());
    if (run == 1) {
      // Closed, it stays closed at the next start.
      qobject_cast<QMdiSubWindow*>(list->parentWidget())->close();
      FlushDeletes();
      EXPECT_EQ(frame.ReadingList(), nullptr);
      ASSERT_TRUE(frame.SaveAllConfig());
      EXPECT_FALSE(ReadGlobalSettings(SettingsFile(ConfPath())).readingListOpen);
    }
    frame.AttachFeeds(nullptr, nullptr);
  }
}

// Every regular file under `root` with its bytes, by relative path.
std::map<std::string, std::string> FilesUnder(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (!e.is_regular_file()) continue;
    std::ifstream in(e.path(), std::ios::binary);
    files[fs::relative(e.path(), root).string()] = std::string(std::istreambuf_iterator<char>(in), {});
  }
  return files;
}

// A start-up that stops early, wherever it stops, says so naming the file and the problem, and
// from then on no save of the run writes anything: not "Save all config", not a feed added in the
// feeds window, not the exit save. Every file of the home, backups included, keeps its bytes.
TEST_F(MainFormTest, AStartUpThatStopsEarlyLeavesEveryFileAsItWas) {
  const std::string data = (dir_ / "data").string() + "/";
  struct Case {
    const char* name;
    std::string failAt;  // the step that fails, by the file it reads; "" for none
    bool confIsFolder;   // zibu.conf cannot be read
    std::string stoppedAt;
  };
  const Case cases[] = {
      {"zibu.conf cannot be read", "", true, ConfPath()},
      {"allocation fails reading zibu.conf", ConfPath(), false, ConfPath()},
      {"allocation fails reading the shown-article memory", data + "shownfeedurls.dat", false,
       data + "shownfeedurls.dat"},
      {"allocation fails reading the common words", data + "commonwords.dat", false,
       data + "commonwords.dat"},
      {"allocation fails reading the learned pair", data + "wordweightings.dat and reltable.dat", false,
       data + "wordweightings.dat and reltable.dat"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    messages.clear();
    {
      // A home with learned data saved twice, so that backup/ holds the previous save.
      SilentUserPort port;
      LearningEngine engine(port);
      engine.SetDataFolder(data);
      engine.SetDurableSave(false);
      TCompMap shown;
      engine.LoadData(&shown);  // an empty home: a save may write what this run then has
      for (const char* w : {"STORM", "WARNING", "COAST"}) engine.WordWeights().Add(w, 7);
      engine.RelTable().Reset(3);
      shown.Add("http://news.example/1", 1796806800000LL);
      engine.SaveData(&shown);
      engine.LearnFromRating("storm warning for the coast", 5);
      shown.Add("http://news.example/2", 1796806860000LL);
      engine.SaveData(&shown);
      std::ofstream(data + "commonwords.dat") << "THAT\r\nWILL\r\n";
    }
    if (c.confIsFolder) {
      fs::create_directories(dir_ / "zibu.conf" / "inside");
    } else {
      WriteConf(
          "[main]\ncheckForNewVersion=false\nfeedCount=2\nbrowserWindowCount=1\nloadPagesOnStartup=false\n"
          "[rss]\nfeed.0.url=http://a.example/rss\nfeed.1.url=http://b.example/rss\n"
          "[window_0]\nurl=http://c.example/\n");
    }
    const auto before = FilesUnder(dir_);
    ASSERT_GE(before.size(), 7u);
    {
      FeedsSession session(program.HomeFolder());
      TfrmFeeds feeds(session, program);
      session.SetLoadStepHook([&](const std::string& file) {
        if (file == c.failAt) throw std::bad_alloc();
      });
      TMainForm frame(program);
      frame.AttachFeeds(&session, &feeds);
      frame.StartUp();
      ASSERT_EQ(messages.size(), 1u) << ::testing::PrintToString(messages);
      const std::string stopped = "Start-up stopped while reading " + c.stoppedAt + ": ";
      EXPECT_EQ(messages[0].rfind(stopped, 0), 0u) << messages[0];
      if (!c.confIsFolder) {
        EXPECT_NE(messages[0].find(": there is not enough memory"), std::string::npos);
      }
      EXPECT_NE(messages[0].find("I will not save zibu.conf or the learned data"), std::string::npos);
      EXPECT_EQ(frame.SavesHeld().rfind(stopped, 0), 0u);
      EXPECT_TRUE(session.SavesHeld());
      EXPECT_TRUE(frame.StartupDone());

      messages.clear();
      frame.sbSaveConfig->trigger();
      ASSERT_EQ(messages.size(), 1u);
      EXPECT_EQ(messages[0].rfind("I have not saved anything, because " + stopped, 0), 0u) << messages[0];
      Ui(feeds).txtAddFeedURL->setText("http://d.example/rss");
      Ui(feeds).btnAddFeed->click();
      EXPECT_NE(
          FromQ(Ui(feeds).txtResults->toPlainText()).find("I have not saved zibu.conf, because " + stopped),
          std::string::npos);
      session.SaveData();
      frame.close();
      EXPECT_EQ(frame.SaveCount(), 0);
      frame.AttachFeeds(nullptr, nullptr);
    }
    EXPECT_TRUE(FilesUnder(dir_) == before);
  }
}

TEST_F(MainFormTest, WelcomeShownOnceOnFirstActivationOfAFirstRun) {
  WriteConf("[main]\ncheckForNewVersion=false\nfirstTime=true\n");
  TMainForm frame(program);
  frame.StartUp();
  frame.show();
  frame.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
  QTest::qWait(20);
  QWidget other;
  other.show();
  other.activateWindow();
  EXPECT_TRUE(QTest::qWaitForWindowActive(&other));
  frame.activateWindow();
  EXPECT_TRUE(QTest::qWaitForWindowActive(&frame));
  QTest::qWait(20);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], WelcomeMessage());
  EXPECT_NE(messages[0].find("please email "), std::string::npos);
  EXPECT_NE(messages[0].find("\r\n\r\nTo set up RSS/Atom feed monitoring click the orange icon.\r\n"),
            std::string::npos);
}

TEST_F(MainFormTest, NoWelcomeOnLaterRuns) {
  WriteConf(kQuiet);
  TMainForm frame(program);
  frame.StartUp();
  frame.show();
  frame.activateWindow();
  EXPECT_TRUE(QTest::qWaitForWindowActive(&frame));
  QTest::qWait(20);
  EXPECT_TRUE(messages.empty());
}

TEST_F(MainFormTest, ClosingDuringAWaitEndsItAndSavesOnce) {
  WriteConf(kQuiet);
  TMainForm frame(program);
  frame.StartUp();
  frame.show();
  QSignalSpy done(&frame, &TMainForm::shutdownComplete);
  QTimer::singleShot(300, &frame, [&] { frame.close(); });
  // A page reload waiting for an idle user that never comes.
  bool loaded = false;
  IdleWait wait(
      program.ProgramClock(), [&] { return program.ShutdownRequested(); }, nullptr, 50);
  wait.Start(int64_t{1} << 40, [&] { loaded = true; });
  EXPECT_TRUE(QTest::qWaitFor([&] { return !wait.Waiting(); }, 1500));
  EXPECT_FALSE(loaded);
  EXPECT_TRUE(program.ShutdownRequested());
  EXPECT_EQ(frame.SaveCount(), 1);
  EXPECT_EQ(done.count(), 1);
  EXPECT_EQ(SettingsFile(ConfPath()).ReadString("main", "appVersion", ""), "1.13");
  // Another close request (the exit command after the close box) saves nothing more.
  frame.FileExit1->trigger();
  frame.close();
  EXPECT_EQ(frame.SaveCount(), 1);
  EXPECT_EQ(done.count(), 1);
}

// A server that takes every connection and never says a word: the kernel accepts for it.
class SilentServer {
 public:
  SilentServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd_ >= 0) ::fcntl(fd_, F_SETFL, O_NONBLOCK);
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(fd_, 64) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      return;
    port_ = ntohs(a.sin_port);
  }
  ~SilentServer() {
    for (int c : held_) ::close(c);
    if (fd_ >= 0) ::close(fd_);
  }
  SilentServer(const SilentServer&) = delete;
  SilentServer& operator=(const SilentServer&) = delete;
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  int Port() const { return port_; }
  // Takes the connections that have come (and holds them open, unanswered); true once one has.
  bool WaitForConnection(int ms) {
    QElapsedTimer t;
    t.start();
    do {
      const int c = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK);
      if (c >= 0) {
        held_.push_back(c);
        return true;
      }
      QTest::qWait(20);
    } while (t.elapsed() < ms);
    return false;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::vector<int> held_;
};

// Worker threads of this process that carry its own name (std::thread's; Qt names its own).
int UnnamedThreads() {
  auto name = [](const fs::path& comm) {
    std::string n;
    std::getline(std::ifstream(comm), n);
    return n;
  };
  const std::string own = name("/proc/self/comm");
  int n = 0;
  for (const auto& task : fs::directory_iterator("/proc/self/task"))
    if (name(task.path() / "comm") == own) ++n;
  return n;
}

// Quitting (as the close box or a termination signal does) with a download out to a server that
// never answers: the event loop is left at once, and taking the program down as the program entry
// does (the feeds window, the frame, then the session) ends every worker within seconds, long
// before the download's own time-outs; no thread is left behind to be killed.
TEST_F(MainFormTest, QuittingWithADownloadOutEndsEveryLoopWithinSeconds) {
  SilentServer silent;
  ASSERT_NE(silent.Port(), 0);
  WriteConf(std::string(kQuiet) + "feedCount=1\n[rss]\nfeed.0.url=" + silent.Url("/feed.xml") + "\n");
  struct Case {
    const char* name;
    std::function<void(TMainForm&, TfrmFeeds&)> start;
    std::function<bool(TMainForm&, TfrmFeeds&)> inFlight;
  };
  auto spiderOf = [](TMainForm& frame) { return frame.findChild<TfrmSpider*>(); };
  const std::vector<Case> cases{
      {"Search Act.", [](TMainForm&, TfrmFeeds& feeds) { Ui(feeds).btnSearchAllFeeds->click(); },
       [](TMainForm&, TfrmFeeds& feeds) { return feeds.ScanRunning(); }},
      {"a learning run",
       [](TMainForm&, TfrmFeeds& feeds) {
         Ui(feeds).lbFeeds->setCurrentRow(0);
         Ui(feeds).btnLearn->click();
       },
       [](TMainForm&, TfrmFeeds& feeds) { return feeds.ScanRunning(); }},
      {"a spider crawl",
       [&](TMainForm& frame, TfrmFeeds&) {
         frame.SetWordCountSource([] { return 1000; });  // enough learned words to open it
         frame.btnSpider->trigger();
         TfrmSpider* spider = spiderOf(frame);
         ASSERT_NE(spider, nullptr);
         spider->txtStartingAddress->setText(ToQ(silent.Url("/")));
         spider->btnStart->click();
       },
       [&](TMainForm& frame, TfrmFeeds&) { return spiderOf(frame) && spiderOf(frame)->Crawl().running(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    program.SetShutdownRequested(false);
    const int threadsBefore = UnnamedThreads();
    auto session = std::make_unique<FeedsSession>(program.HomeFolder());
    session->SetClock(&program.ProgramClock());
    auto frame = std::make_unique<TMainForm>(program);
    auto feeds = std::make_unique<TfrmFeeds>(*session, program);
    frame->AttachFeeds(session.get(), feeds.get());
    frame->StartUp();
    frame->show();
    c.start(*frame, *feeds);
    // Long enough for the request to be out and waiting on the server.
    QTest::qWait(300);
    ASSERT_TRUE(c.inFlight(*frame, *feeds));

    QElapsedTimer t;
    t.start();
    QEventLoop loop;
    QObject::connect(frame.get(), &TMainForm::shutdownComplete, &loop, &QEventLoop::quit);
    QTimer::singleShot(0, frame.get(), [&] { frame->close(); });
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    const int64_t loopLeft = t.elapsed();
    frame->AttachFeeds(nullptr, nullptr);
    feeds.reset();
    frame.reset();
    session.reset();
    FlushDeletes();
    const int64_t down = t.elapsed();
    EXPECT_LT(loopLeft, 1000) << "the close took that long to be handled";
    EXPECT_LT(down, 3000) << "taking the program down took that long";
    EXPECT_LE(UnnamedThreads(), threadsBefore) << "a worker outlived the program's objects";
  }
}

// The program itself, started with a home and asked to end by a termination signal while a
// request waits on a server that never answers: it exits at once, all by itself, having saved.
TEST_F(MainFormTest, TheProgramAskedToEndExitsAtOnceWhateverIsOut) {
  const QString zibu = QString(ZIBU_BIN_DIR) + "/zibu";
  if (!fs::exists(FromQ(zibu))) GTEST_SKIP() << "zibu is not built in " << ZIBU_BIN_DIR;
  struct Case {
    const char* name;
    std::string conf;    // {silent} stands for the silent server's port
    bool waitsOnServer;  // the signal comes once the server has the request
  };
  const std::vector<Case> cases{
      {"nothing out", "[main]\ncheckForNewVersion=false\n", false},
      // The start-up's version check goes through the proxy; the signal comes before the event
      // loop has started.
      {"the version check, during start-up",
       "[main]\ncheckForNewVersion=true\nproxyHost=127.0.0.1\nproxyPort={silent}\n", true},
      {"a page monitor loading its page",
       "[main]\ncheckForNewVersion=false\nbrowserWindowCount=1\n[window_0]\nurl=http://127.0.0.1:{silent}/"
       "page\n",
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SilentServer silent;
    ASSERT_NE(silent.Port(), 0);
    std::string conf = c.conf;
    for (size_t at; (at = conf.find("{silent}")) != std::string::npos;)
      conf.replace(at, 8, std::to_string(silent.Port()));
    WriteConf(conf);
    QProcess proc;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    proc.setProcessEnvironment(env);
    proc.setProcessChannelMode(QProcess::MergedChannels);
    proc.start(zibu, {"--home", ToQ(dir_.string())});
    ASSERT_TRUE(proc.waitForStarted(5000));
    if (c.waitsOnServer) {
      EXPECT_TRUE(silent.WaitForConnection(20000)) << "the request never came";
    } else {
      QTest::qWait(1500);
    }
    ASSERT_EQ(proc.state(), QProcess::Running) << proc.readAll().toStdString();
    QElapsedTimer t;
    t.start();
    proc.terminate();
    const bool exited = proc.waitForFinished(4000);
    const int64_t took = t.elapsed();
    if (!exited) {
      proc.kill();
      proc.waitForFinished(5000);
    }
    EXPECT_TRUE(exited) << "still running " << took << " ms after the signal";
    EXPECT_EQ(proc.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(proc.exitCode(), 0);
    // Closed like the close box: the configuration was saved on the way out.
    EXPECT_EQ(SettingsFile(ConfPath()).ReadString("main", "appVersion", ""), "1.13");
  }
}

TEST_F(MainFormTest, VisitHomePageOpensTheHomePage) {
  TMainForm frame(program);
  frame.SpeedButton1->trigger();
  EXPECT_EQ(opened, std::vector<std::string>{kHomePageAddress});
  EXPECT_EQ(std::string(kVersionDocumentAddress).rfind("http://", 0), 0u);
  EXPECT_EQ(std::string(kVersionDocumentAddress).substr(std::string(kVersionDocumentAddress).size() - 8),
            "zibu.xml");
}

class VersionCheckTest : public MainFormTest {
 protected:
  // One check, from its start to its end; the answer comes through the event loop.
  void Check(const std::string& url) {
    HttpOptions o;
    o.connectTimeoutMs = 2000;
    o.readTimeoutMs = 2000;
    VersionCheck check;
    bool finished = false;
    ASSERT_TRUE(check.Start(url, o, "http://home.example/", [this] { return program.ShutdownRequested(); },
                            [&] { finished = true; }));
    EXPECT_FALSE(finished) << "the answer did not wait for the event loop";
    EXPECT_TRUE(check.Running());
    EXPECT_TRUE(QTest::qWaitFor([&] { return finished; }, 10000)) << url;
    EXPECT_FALSE(check.Running());
  }
  static std::string Doc(const std::string& version) {
    return "<?xml version=\"1.0\"?><Zibu><Program_Version>" + version + "</Program_Version></Zibu>";
  }
  test::LoopbackServer server;
};

TEST_F(VersionCheckTest, HigherPublishedVersionAsksAndOpensOnYes) {
  server.ServeBody("/zibu.xml", Doc("1.14"), "text/xml");
  answer = false;
  Check(server.Url("/zibu.xml"));
  EXPECT_EQ(questions, std::vector<std::string>{kNewerVersionQuestion});
  EXPECT_TRUE(opened.empty());
  answer = true;
  server.ServeBody("/zibu.xml", Doc("2"), "text/xml");
  Check(server.Url("/zibu.xml"));
  EXPECT_EQ(questions.size(), 2u);
  EXPECT_EQ(opened, std::vector<std::string>{"http://home.example/"});
  EXPECT_TRUE(messages.empty());
}

TEST_F(VersionCheckTest, SameOrLowerVersionOrNoTagShowsNothing) {
  for (const std::string& body :
       {Doc("1.13"), Doc("1.1"), Doc("1.130"), std::string("<Zibu>no version here</Zibu>")}) {
    server.ServeBody("/zibu.xml", body, "text/xml");
    Check(server.Url("/zibu.xml"));
    EXPECT_TRUE(questions.empty()) << body;
    EXPECT_TRUE(messages.empty()) << body;
  }
  EXPECT_EQ(server.RequestCount("/zibu.xml"), 4u);
}

TEST_F(VersionCheckTest, FailuresShowTheUnableToCheckMessage) {
  server.ServeBody("/open.xml", "<Program_Version>1.14 and no closing tag", "text/xml");
  server.ServeBody("/bad.xml", Doc("one point two"), "text/xml");
  server.ServeStatus("/missing.xml", 404);
  Check(server.Url("/open.xml"));
  Check(server.Url("/bad.xml"));
  Check(server.Url("/missing.xml"));
  Check("http://127.0.0.1:" + std::to_string(test::UnusedLoopbackPort()) + "/zibu.xml");
  ASSERT_EQ(messages.size(), 4u);
  for (const auto& m : messages) EXPECT_EQ(m, kUnableToCheckMessage);
  EXPECT_TRUE(questions.empty());
}

TEST_F(VersionCheckTest, StartUpChecksOnlyWhenAsked) {
  server.ServeBody("/zibu.xml", Doc("1.14"), "text/xml");
  WriteConf("[main]\ncheckForNewVersion=False\n");
  {
    TMainForm frame(program);
    QSignalSpy finished(&frame, &TMainForm::startUpFinished);
    frame.SetVersionDocumentAddress(server.Url("/zibu.xml"));
    frame.StartUp();
    EXPECT_TRUE(frame.StartupDone());
    EXPECT_EQ(finished.count(), 1);
  }
  EXPECT_EQ(server.RequestCount("/zibu.xml"), 0u);
  EXPECT_TRUE(questions.empty());
  WriteConf("[main]\n");  // the default is to check
  TMainForm frame(program);
  QSignalSpy finished(&frame, &TMainForm::startUpFinished);
  frame.SetVersionDocumentAddress(server.Url("/zibu.xml"));
  frame.StartUp();
  // Start-up returns with the check out; it ends from the check's answer.
  EXPECT_FALSE(frame.StartupDone());
  EXPECT_TRUE(SplashScreen()->isVisible());
  ASSERT_TRUE(finished.wait(10000));
  EXPECT_EQ(server.RequestCount("/zibu.xml"), 1u);
  EXPECT_EQ(questions, std::vector<std::string>{kNewerVersionQuestion});
  EXPECT_TRUE(frame.StartupDone());
  EXPECT_FALSE(SplashScreen()->isVisible());
  QTest::qWait(50);
  EXPECT_EQ(finished.count(), 1);
}

// A second start asks the program running on its home to come forward: the socket is the home's
// (any spelling of the folder), a running program answers and comes forward once a request, and
// nothing answers for another home or for a request that is not ours.
TEST(SingleInstanceTest, TheProgramOnTheHomeAnswersASecondStart) {
  const fs::path base = fs::temp_directory_path() / ("zibu-single-" + std::to_string(getpid()));
  fs::create_directories(base / "home");
  fs::create_directories(base / "other");
  const std::string home = (base / "home").string();
  EXPECT_EQ(InstanceSocketName(home), InstanceSocketName(home + "/./"));
  EXPECT_NE(InstanceSocketName(home), InstanceSocketName((base / "other").string()));

  int raised = 0;
  std::unique_ptr<QLocalServer> server = ListenForRaise(home, [&raised] { ++raised; });
  ASSERT_NE(server, nullptr);
  // The asking side blocks, as a second start does; the running side answers from its events.
  const auto ask = [](std::function<bool()> asking) {
    std::future<bool> answer = std::async(std::launch::async, std::move(asking));
    while (answer.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return answer.get();
  };
  const struct {
    const char* name;
    std::string askHome;
    const char* request;  // null: AskRunningToRaise
    bool answered;
    int raisedAfter;
  } cases[] = {
      {"the same home", home, nullptr, true, 1},
      {"the same home spelled otherwise", home + "/../home/", nullptr, true, 2},
      {"another home", (base / "other").string(), nullptr, false, 2},
      {"a request that is not ours", home, "hello\n", false, 2},
      {"and again the same home", home, nullptr, true, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const bool answered = ask([&c] {
      if (!c.request) return AskRunningToRaise(c.askHome, 1000);
      QLocalSocket socket;
      socket.connectToServer(InstanceSocketName(c.askHome));
      if (!socket.waitForConnected(1000)) return false;
      socket.write(c.request);
      socket.waitForBytesWritten(1000);
      socket.waitForReadyRead(300);
      return !socket.readAll().isEmpty();
    });
    EXPECT_EQ(answered, c.answered);
    EXPECT_EQ(raised, c.raisedAfter);
  }
  // A program that ended leaves no answer, and the next one on the home listens again.
  server.reset();
  EXPECT_FALSE(AskRunningToRaise(home, 300));
  server = ListenForRaise(home, [&raised] { ++raised; });
  ASSERT_NE(server, nullptr);
  EXPECT_TRUE(ask([&home] { return AskRunningToRaise(home, 1000); }));
  EXPECT_EQ(raised, 4);
  server.reset();
  fs::remove_all(base);
}

}  // namespace

// The version document is fetched off the user-interface thread: start-up returns with the check
// out and ends from its answer, with the splash naming the step and no gap in the event loop over
// 100 ms. What comes before the check (the page-monitor windows, the feed list, the feeds timer,
// held for the check) is done when it starts; the question comes while the splash still shows;
// only then are the children tiled, the splash hidden and the timer let go. A program closing
// meanwhile, by its close box or otherwise, abandons the request at once and says nothing.
TEST_F(VersionCheckTest, ASlowSiteFreezesNothingAndStartUpKeepsItsOrder) {
  enum class Close { No, Requested, CloseBox };
  struct Case {
    const char* name;
    int delayMs;
    Close close;
    std::vector<std::string> questions;
    std::vector<std::string> steps;
  };
  const std::string checking = "checking: 1 monitor, 1 feed, timer held";
  const Case cases[] = {
      {"answer after 1.2 s",
       1200,
       Close::No,
       {kNewerVersionQuestion},
       {checking, "asked during start-up", "done: splash hidden, timer on"}},
      {"shutdown requested while waiting", 30000, Close::Requested, {}, {checking, "done: splash hidden, timer held"}},
      {"closed by the close box while waiting", 30000, Close::CloseBox, {}, {checking, "done: splash hidden, timer held"}},
  };
  constexpr int kCloseAtMs = 400;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    questions.clear();
    messages.clear();
    program.SetShutdownRequested(false);
    server.ServeDelayed("/zibu.xml", c.delayMs, Doc("1.14"), "text/xml");
    WriteConf("[main]\nfeedCount=1\nbrowserWindowCount=1\nloadPagesOnStartup=false\n[window_0]\nurl=http://a.example/\n"
              "[rss]\nfeed.0.url=http://b.example/rss\n");
    FeedsSession session(program.HomeFolder());
    TfrmFeeds feeds(session, program);
    TMainForm frame(program);
    frame.AttachFeeds(&session, &feeds);
    frame.SetVersionDocumentAddress(server.Url("/zibu.xml"));
    std::vector<std::string> steps;
    const auto state = [&] {
      const std::string timer = Ui(feeds).Timer1->isActive() ? "timer on" : "timer held";
      if (frame.StartupDone())
        return "done: " + std::string(SplashScreen()->isVisible() ? "splash shown" : "splash hidden") + ", " + timer;
      if (SplashScreen()->isVisible() && SplashScreen()->Label1->text() == "Checking for new version")
        return "checking: " + std::to_string(frame.ChildWindows().size()) + " monitor, " +
               std::to_string(session.Feeds().size()) + " feed, " + timer;
      return std::string("elsewhere");
    };
    const auto note = [&](const std::string& step) {
      if (steps.empty() || steps.back() != step) steps.push_back(step);
    };
    SetDialogScript({.onMessage = [this](const std::string& t) { messages.push_back(t); },
                     .onQuestion =
                         [&](const std::string& t) {
                           // Asking hides the splash so that nothing covers the question.
                           note(frame.StartupDone() ? "asked after start-up" : "asked during start-up");
                           questions.push_back(t);
                           return false;
                         },
                     .onOpenUrl = [this](const std::string& u) { opened.push_back(u); },
                     .onChooseFile = nullptr});
    bool returned = false;
    test::EventGapProbe probe([&](int64_t now) {
      if (!returned) return;
      // Closing saves, and the save shows its own progress on the splash: no step of start-up.
      if (!frame.StartupDone() && !program.ShutdownRequested()) note(state());
      if (now >= kCloseAtMs && !program.ShutdownRequested()) {
        if (c.close == Close::Requested) program.SetShutdownRequested(true);
        if (c.close == Close::CloseBox) frame.close();
      }
    });
    int64_t took = -1;
    QObject::connect(&frame, &TMainForm::startUpFinished, [&] {
      took = probe.Elapsed();
      note(state());
    });
    // What an earlier start-up left on the splash must not pass for this one's step.
    SplashScreen()->Label1->clear();
    HideProgress();
    probe.Start(false);
    frame.StartUp();
    // From here on the event loop runs: the steps before the check are done, and start-up's own
    // (one-off) cost of building the windows is not the check's.
    returned = true;
    probe.Measure();
    note(state());
    EXPECT_TRUE(QTest::qWaitFor([&] { return took >= 0; }, 35000)) << "start-up never ended";
    probe.CountGapUntilNow();
    probe.Stop();
    EXPECT_EQ(steps, c.steps);
    EXPECT_LE(probe.UnexplainedGap(), 100) << probe.Describe();
    EXPECT_EQ(questions, c.questions);
    EXPECT_TRUE(messages.empty()) << messages.front();
    if (c.close == Close::No) {
      EXPECT_GE(took, c.delayMs);
    } else {
      EXPECT_LT(took, kCloseAtMs + 1000) << "the request was not abandoned";
    }
    if (c.close == Close::CloseBox) {
      EXPECT_EQ(SettingsFile(ConfPath()).ReadString("main", "appVersion", ""), "1.13");
    }
    frame.AttachFeeds(nullptr, nullptr);
  }
  program.SetShutdownRequested(false);
}
