// Paced message processing, the idle sources and waiting for idleness, grid rows, the command line
// and the home folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QTableWidget>
#include <QTest>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <optional>

#include "app/command_line.h"
#include "app/idle_sources.h"
#include "private_bus.h"
#include "ui/idle_wait.h"
#include "ui/program_services.h"
#include "ui/qtext.h"
#include "ui/widget_helpers.h"

namespace fs = std::filesystem;
using namespace zibu;

namespace {

class FakeClock : public Clock {
 public:
  int64_t NowMs() const override { return now; }
  uint32_t IdleMs() const override { return 0; }
  int64_t now = 1'733'659'200'000;  // a present-day local time stamp
};

TEST(MessagePacerTest, FirstCallProcessesThenAtMostOncePerInterval) {
  FakeClock clock;
  int processed = 0;
  MessagePacer pacer(clock, [&] { ++processed; });
  EXPECT_EQ(pacer.Interval(), 60000);
  EXPECT_TRUE(pacer.Run());
  clock.now += 10000;  // 10 s later, default interval of 60 s: held back
  EXPECT_FALSE(pacer.Run());
  clock.now += 50000;  // exactly 60 s after the last processing: still held back
  EXPECT_FALSE(pacer.Run());
  clock.now += 1;
  EXPECT_TRUE(pacer.Run());
  EXPECT_EQ(processed, 2);
}

TEST(MessagePacerTest, IntervalFromSettingsAndClockGoingBack) {
  FakeClock clock;
  int processed = 0;
  MessagePacer pacer(clock, [&] { ++processed; });
  pacer.SetInterval(1000);
  for (int i = 0; i < 10; ++i) {
    pacer.Run();
    clock.now += 400;
  }
  // 0, 1200, 2400, 3600 ms
  EXPECT_EQ(processed, 4);
  // Zero interval: every call on a later millisecond processes.
  pacer.SetInterval(0);
  processed = 0;
  for (int i = 0; i < 5; ++i) {
    clock.now += 1;
    pacer.Run();
  }
  EXPECT_EQ(processed, 5);
  // A clock set back an hour holds processing back until it has caught up again.
  pacer.SetInterval(1000);
  clock.now -= 3'600'000;
  EXPECT_FALSE(pacer.Run());
  pacer.Reset();
  EXPECT_TRUE(pacer.Run());
}

// An idle source that answers what the test sets.
class FixedIdle : public IdleSource {
 public:
  explicit FixedIdle(uint32_t& ms) : ms_(ms) {}
  uint32_t IdleMs() const override { return ms_; }
  std::string Name() const override { return "a fixed idle time"; }

 private:
  uint32_t& ms_;
};

TEST(MessagePacerTest, ProgramPacerLetsPostedWorkRun) {
  // The program's pacer processes on its first call after a long enough pause.
  ProgramServices program("/tmp");
  program.SetProcessMessagesInterval(0);
  bool ran = false;
  QTimer::singleShot(0, [&] { ran = true; });
  QElapsedTimer t;
  t.start();
  while (!ran && t.elapsed() < 2000) program.ProcessMessagesPaced();
  EXPECT_TRUE(ran);
}

TEST(ProgramServicesTest, HomeFoldersAndTheChosenIdleSource) {
  uint32_t idle = 1234;
  ProgramServices program("/home/u/zibu", std::make_unique<FixedIdle>(idle));
  EXPECT_EQ(program.HomeFolder(), "/home/u/zibu/");
  EXPECT_EQ(program.DataFolder(), "/home/u/zibu/data/");
  EXPECT_EQ(program.TempFolder(), "/home/u/zibu/temp/");
  EXPECT_EQ(program.ConfigPath(), "/home/u/zibu/zibu.conf");
  program.SetHomeFolder("/elsewhere/");
  EXPECT_EQ(program.ConfigPath(), "/elsewhere/zibu.conf");
  EXPECT_EQ(program.ProgramClock().IdleMs(), 1234u);
  idle = 7;
  EXPECT_EQ(program.ProgramClock().IdleMs(), 7u);
  EXPECT_EQ(program.Idle().Name(), "a fixed idle time");
  EXPECT_NEAR(static_cast<double>(program.ProgramClock().NowMs()), static_cast<double>(NowMs()), 1000.0);
  // Without a source of its own the program counts input to its own windows.
  program.SetIdleSource(nullptr);
  EXPECT_EQ(program.Idle().Name(), "input to Zibu's own windows");
  // Two programs (two tests' worth) keep their shutdown apart.
  ProgramServices other("/tmp");
  program.SetShutdownRequested(true);
  EXPECT_TRUE(program.ShutdownRequested());
  EXPECT_FALSE(other.ShutdownRequested());
}

// The X extension is taken only where the toolkit draws on X11: elsewhere DISPLAY names an
// Xwayland that sees only X11 windows' input. The compositor's idle notifications only on Wayland;
// the desktop services come next, in order, and the program's own windows last.
TEST(IdleSourceTest, TheChoiceFollowsThePlatformAndWhatTheDesktopOffers) {
  using K = IdleSourceKind;
  struct Case {
    const char* platform;
    bool x11, wayland, mutter, screenSaver;
    K expected;
    bool waylandSession = false;  // the program drawn on X11 all the same, through an Xwayland
  };
  for (const Case& c : std::vector<Case>{
           {"xcb", true, true, true, true, K::X11ScreenSaver},
           {"xcb", true, false, false, false, K::X11ScreenSaver},
           {"xcb", false, true, true, true, K::MutterIdleMonitor},  // an X server without the extension
           {"xcb", false, false, false, true, K::FreedesktopScreenSaver},
           {"xcb", false, true, false, false, K::OwnWindows},
           {"wayland", true, true, true, true, K::WaylandIdleNotify},  // KDE Plasma, wlroots
           {"wayland-egl", false, true, false, false, K::WaylandIdleNotify},
           {"wayland", true, false, true, true, K::MutterIdleMonitor},  // GNOME; DISPLAY names Xwayland
           {"wayland", true, false, false, true, K::FreedesktopScreenSaver},
           {"wayland", true, false, false, false, K::OwnWindows},
           {"wayland", false, false, false, false, K::OwnWindows},
           {"offscreen", true, true, false, false, K::OwnWindows},
           {"offscreen", false, false, true, false, K::MutterIdleMonitor},
           {"", true, true, false, false, K::OwnWindows},
           {"xcb", true, false, true, true, K::MutterIdleMonitor, true},
           {"xcb", true, true, false, true, K::FreedesktopScreenSaver, true},
           {"xcb", true, true, false, false, K::X11ScreenSaver, true},  // still more than own windows
           {"xcb", false, true, false, false, K::OwnWindows, true},
           {"wayland", true, true, true, true, K::WaylandIdleNotify, true},
       }) {
    SCOPED_TRACE(std::string(c.platform) + (c.waylandSession ? " in a Wayland session" : "") + (c.x11 ? " x11" : "") + (c.wayland ? " idle-notify" : "") +
                 (c.mutter ? " mutter" : "") + (c.screenSaver ? " screensaver" : ""));
    IdleSourceOffer offer;
    offer.platform = c.platform;
    offer.x11ScreenSaver = c.x11;
    offer.waylandIdleNotify = c.wayland;
    offer.mutterIdleMonitor = c.mutter;
    offer.freedesktopScreenSaver = c.screenSaver;
    offer.waylandSession = c.waylandSession;
    EXPECT_EQ(ChooseIdleSource(offer), c.expected);
  }
}

// The compositor tells only when the seat has had no input for the notification's timeout and
// when input came again; the idle time is 0 below the timeout, then the timeout plus the time
// since "idled".
TEST(IdleSourceTest, IdleNotificationsBecomeAnIdleTime) {
  struct Step {
    char event;  // 'i' idled, 'r' resumed, '-' none
    int64_t at;
    uint32_t idleMs;  // asked at `at`, after the event
  };
  struct Case {
    const char* name;
    uint32_t timeout;
    std::vector<Step> steps;
  };
  for (const Case& c : std::vector<Case>{
           {"not idle at first", 1000, {{'-', 0, 0}, {'-', 999, 0}, {'-', 50000, 0}}},
           {"idled, then time passes", 1000, {{'i', 5000, 1000}, {'-', 5001, 1001}, {'-', 65000, 61000}}},
           {"resumed: back to nothing known",
            1000,
            {{'i', 5000, 1000}, {'-', 7000, 3000}, {'r', 7100, 0}, {'-', 9000, 0}, {'i', 10000, 1000}}},
           {"a second idled keeps the first's time", 1000, {{'i', 5000, 1000}, {'i', 6000, 2000}}},
           {"a clock read before idled", 1000, {{'i', 5000, 1000}, {'-', 4000, 1000}}},
           {"a zero timeout", 0, {{'i', 100, 0}, {'-', 350, 250}}},
           {"a long timeout", 300000, {{'-', 0, 0}, {'i', 300000, 300000}, {'-', 300500, 300500}}},
           {"days idle end at the largest idle time", 1000, {{'i', 0, 1000}, {'-', int64_t{1} << 33, 0xFFFFFFFFu}}},
       }) {
    SCOPED_TRACE(c.name);
    IdleNotificationClock clock(c.timeout);
    EXPECT_EQ(clock.TimeoutMs(), c.timeout);
    for (const Step& step : c.steps) {
      SCOPED_TRACE(step.at);
      if (step.event == 'i') clock.Idled(step.at);
      if (step.event == 'r') clock.Resumed();
      EXPECT_EQ(clock.IdleMs(step.at), step.idleMs);
    }
  }
}

#ifdef ZIBU_WAYLAND_STANDIN
// A compositor of the test's own, driven line by line.
class StandInCompositor {
 public:
  StandInCompositor(const QString& runtimeDir, const QString& socket, const QStringList& options) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", runtimeDir);
    proc_.setProcessEnvironment(env);
    proc_.start(ZIBU_WAYLAND_STANDIN, QStringList{socket} + options);
    ready = Expect("ready");
  }
  ~StandInCompositor() {
    proc_.closeWriteChannel();
    if (!proc_.waitForFinished(5000)) proc_.kill();
    proc_.waitForFinished(2000);
  }
  // The next line the compositor prints, or "" when none comes within 5 s.
  std::string NextLine() {
    while (!proc_.canReadLine())
      if (!proc_.waitForReadyRead(5000)) return {};
    return proc_.readLine().trimmed().toStdString();
  }
  bool Expect(const std::string& line) { return NextLine() == line; }
  // Sends a command and waits until the compositor has sent its events.
  bool Tell(const std::string& command) {
    proc_.write((command + "\n").c_str());
    proc_.waitForBytesWritten(2000);
    return Expect("done " + command);
  }
  bool ready = false;

 private:
  QProcess proc_;
};

// The Wayland source on a compositor that offers what it needs, and on ones that do not.
TEST(IdleSourceTest, TheWaylandSourceFollowsTheCompositorsIdleNotifications) {
  QTemporaryDir runtime;
  ASSERT_TRUE(runtime.isValid());
  ::chmod(runtime.path().toLocal8Bit().constData(), 0700);
  struct Case {
    const char* name;
    QStringList options;
    bool opens;
  };
  int n = 0;
  for (const Case& c : std::vector<Case>{
           {"a seat and an idle notifier", {}, true},
           {"no idle notifier (GNOME)", {"--no-notifier"}, false},
           {"no seat", {"--no-seat"}, false},
       }) {
    SCOPED_TRACE(c.name);
    const QString socket = QString("wayland-zibu-%1").arg(++n);
    StandInCompositor compositor(runtime.path(), socket, c.options);
    ASSERT_TRUE(compositor.ready);
    const std::string path = (runtime.path() + "/" + socket).toStdString();
    std::unique_ptr<WaylandIdleNotifySource> source = WaylandIdleNotifySource::Open(path.c_str());
    ASSERT_EQ(source != nullptr, c.opens);
    if (!source) continue;
    EXPECT_EQ(compositor.NextLine(), "notification " + std::to_string(WaylandIdleNotifySource::kTimeoutMs));
    EXPECT_EQ(source->Name(), "the compositor's idle notifications (ext-idle-notify-v1)");
    EXPECT_EQ(source->IdleMs(), 0u);

    // "idled" read by the event loop: the idle time grows from the timeout on.
    ASSERT_TRUE(compositor.Tell("idle"));
    QElapsedTimer sinceIdled;
    sinceIdled.start();
    QTest::qWait(50);  // the event loop reads it
    QThread::msleep(300);
    const uint32_t idle = source->IdleMs();
    EXPECT_GE(idle, WaylandIdleNotifySource::kTimeoutMs + 300);
    EXPECT_LE(idle, WaylandIdleNotifySource::kTimeoutMs + sinceIdled.elapsed() + 1);  // +1: whole ms each

    // "resumed" read when the idle time is asked, with no event loop running.
    ASSERT_TRUE(compositor.Tell("resume"));
    EXPECT_EQ(source->IdleMs(), 0u);
    ASSERT_TRUE(compositor.Tell("idle"));
    EXPECT_GE(source->IdleMs(), WaylandIdleNotifySource::kTimeoutMs);

    // A compositor gone counts as input just now, and stays so.
    ASSERT_TRUE(compositor.Tell("quit"));
    QTest::qWait(200);
    EXPECT_EQ(source->IdleMs(), 0u);
    QThread::msleep(100);
    EXPECT_EQ(source->IdleMs(), 0u);
  }
  // No compositor at all.
  const std::string nowhere = (runtime.path() + "/wayland-nobody").toStdString();
  EXPECT_EQ(WaylandIdleNotifySource::Open(nowhere.c_str()), nullptr);
}
#endif

// Stands in for one desktop idle service on the test's bus: answers its one method with the idle
// time the test sets (nothing set: an answer of the wrong type), and counts the calls. It lives on
// a thread, because the program asks with a blocking call from the test's thread.
class IdleServiceStandIn : public QDBusVirtualObject {
 public:
  IdleServiceStandIn(QString method, bool wide) : method_(std::move(method)), wide_(wide) {}
  bool handleMessage(const QDBusMessage& m, const QDBusConnection& bus) override {
    if (m.member() != method_) return false;
    ++calls;
    const int64_t ms = answer.load();
    if (ms == kStall) {
      stalling = true;
      QThread::msleep(600);  // longer than the program waits
      stalling = false;
      return true;
    }
    if (ms < 0)
      bus.send(m.createReply(QVariant(QStringLiteral("idle"))));
    else if (wide_)
      bus.send(m.createReply(QVariant::fromValue(static_cast<qulonglong>(ms))));
    else
      bus.send(m.createReply(QVariant::fromValue(static_cast<uint>(ms))));
    return true;
  }
  QString introspect(const QString&) const override { return {}; }
  static constexpr int64_t kStall = -2;
  std::atomic<int64_t> answer{0};
  std::atomic<int> calls{0};
  std::atomic<bool> stalling{false};

 private:
  QString method_;
  bool wide_;
};

// An X display of the test's making: the idle time it is set to, and whether it was opened.
class StandInSource : public IdleSource {
 public:
  StandInSource(const uint32_t& ms, std::string name) : ms_(ms), name_(std::move(name)) {}
  uint32_t IdleMs() const override { return ms_; }
  std::string Name() const override { return name_; }

 private:
  const uint32_t& ms_;
  std::string name_;
};

// Start-up opens the source the choice names, and only what the choice needs; the log line names
// the source or warns; the source then follows what its service answers, and a service that stops
// answering counts as input just now.
TEST(IdleSourceTest, StartUpOpensTheChosenSourceWhichFollowsItsService) {
  if (QStandardPaths::findExecutable("dbus-run-session").isEmpty())
    GTEST_SKIP() << "dbus-run-session missing";
  PrivateBus bus;
  ASSERT_FALSE(bus.address.isEmpty());
  // A thread for each stand-in, so a stalled one holds up only itself.
  QThread mutterThread, screenSaverThread;
  mutterThread.start();
  screenSaverThread.start();
  {
    QDBusConnection service = QDBusConnection::connectToBus(bus.address, "zibu-idle-service");
    QDBusConnection program = QDBusConnection::connectToBus(bus.address, "zibu-idle-program");
    ASSERT_TRUE(service.isConnected() && program.isConnected());
    IdleServiceStandIn mutter("GetIdletime", true), screenSaver("GetSessionIdleTime", false);
    mutter.moveToThread(&mutterThread);
    screenSaver.moveToThread(&screenSaverThread);
    ASSERT_TRUE(service.registerVirtualObject("/org/gnome/Mutter/IdleMonitor/Core", &mutter));
    ASSERT_TRUE(service.registerVirtualObject("/org/freedesktop/ScreenSaver", &screenSaver));

    const std::string ownWindowsWarning =
        "Warning: idle time is only known for Zibu's own windows, so scheduled scans and page reloads "
        "may run while you work in other programs";
    using K = IdleSourceKind;
    constexpr int64_t kWrongType = -1, kNotServed = -3;
    struct Case {
      const char* name;
      const char* platform;
      std::optional<uint32_t> x11;      // the X display's idle time; nothing: no display
      std::optional<uint32_t> wayland;  // the compositor's; nothing: no idle notifications
      int64_t mutterMs, screenSaverMs;  // an idle time, or kNotServed, kWrongType, kStall
      K kind;
      std::string logLine;
      uint32_t idleMs;
      bool mutterAsked, screenSaverAsked;  // whether the stand-in heard a call
      bool waylandSession = false;         // drawn on X11 through an Xwayland
    };
    const int64_t kStall = IdleServiceStandIn::kStall;
    const std::vector<Case> cases{
        {"X11 with the extension", "xcb", 4321, 77, 10, 20, K::X11ScreenSaver,
         "Idle time comes from a stand-in X display", 4321, false, false},
        {"X11 without it, on GNOME", "xcb", std::nullopt, 77, 7000, 20, K::MutterIdleMonitor,
         "Idle time comes from GNOME's idle monitor (org.gnome.Mutter.IdleMonitor)", 7000, true, false},
        {"KDE Plasma or wlroots on Wayland", "wayland", 5, 8765, 10, 20, K::WaylandIdleNotify,
         "Idle time comes from a stand-in compositor", 8765, false, false},
        {"GNOME on Wayland", "wayland", 5, std::nullopt, 90061, 20, K::MutterIdleMonitor,
         "Idle time comes from GNOME's idle monitor (org.gnome.Mutter.IdleMonitor)", 90061, true, false},
        {"a screen saver service on Wayland", "wayland-egl", 5, std::nullopt, kNotServed, 25000,
         K::FreedesktopScreenSaver,
         "Idle time comes from the desktop's screen saver service (org.freedesktop.ScreenSaver)", 25000, false,
         true},
        {"a service answering nonsense is passed over", "wayland", std::nullopt, std::nullopt, kWrongType, 600,
         K::FreedesktopScreenSaver,
         "Idle time comes from the desktop's screen saver service (org.freedesktop.ScreenSaver)", 600, true,
         true},
        {"a stalled service is passed over", "wayland", std::nullopt, std::nullopt, kStall, 601,
         K::FreedesktopScreenSaver,
         "Idle time comes from the desktop's screen saver service (org.freedesktop.ScreenSaver)", 601, true,
         true},
        {"Xwayland on GNOME: the idle monitor before the X extension", "xcb", 4321, 77, 7000, 20,
         K::MutterIdleMonitor, "Idle time comes from GNOME's idle monitor (org.gnome.Mutter.IdleMonitor)", 7000,
         true, false, true},
        {"Xwayland without desktop services: its X extension, with a warning", "xcb", 4321, 77, kNotServed,
         kNotServed, K::X11ScreenSaver,
         "Warning: idle time comes from the X screen-saver extension of Xwayland, which sees only input to "
         "X11 programs, so scheduled scans and page reloads may run while you work in other programs",
         4321, false, false, true},
        {"nothing on Wayland", "wayland", 5, std::nullopt, kNotServed, kNotServed, K::OwnWindows,
         ownWindowsWarning, 0, false, false},
        {"nothing but nonsense", "offscreen", std::nullopt, 77, kWrongType, kWrongType, K::OwnWindows,
         ownWindowsWarning, 0, true, true},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      ASSERT_TRUE(QTest::qWaitFor([&] { return !mutter.stalling && !screenSaver.stalling; }, 5000));
      service.unregisterService("org.gnome.Mutter.IdleMonitor");
      service.unregisterService("org.freedesktop.ScreenSaver");
      if (c.mutterMs != kNotServed) {
        ASSERT_TRUE(service.registerService("org.gnome.Mutter.IdleMonitor"));
      }
      if (c.screenSaverMs != kNotServed) {
        ASSERT_TRUE(service.registerService("org.freedesktop.ScreenSaver"));
      }
      mutter.answer = c.mutterMs;
      screenSaver.answer = c.screenSaverMs;
      mutter.calls = 0;
      screenSaver.calls = 0;
      uint32_t x11Ms = c.x11.value_or(0), waylandMs = c.wayland.value_or(0);
      int x11Opened = 0, waylandOpened = 0;
      IdleSourceOpeners openers;
      openers.x11ScreenSaver = [&]() -> std::unique_ptr<IdleSource> {
        ++x11Opened;
        if (!c.x11) return nullptr;
        return std::make_unique<StandInSource>(x11Ms, "a stand-in X display");
      };
      openers.waylandSession = [&] { return c.waylandSession; };
      openers.waylandIdleNotify = [&]() -> std::unique_ptr<IdleSource> {
        ++waylandOpened;
        if (!c.wayland) return nullptr;
        return std::make_unique<StandInSource>(waylandMs, "a stand-in compositor");
      };

      ChosenIdleSource chosen = OpenIdleSource(c.platform, program, openers);
      EXPECT_EQ(chosen.kind, c.kind);
      EXPECT_EQ(chosen.logLine, c.logLine);
      ASSERT_NE(chosen.source, nullptr);
      EXPECT_EQ(x11Opened, std::string(c.platform) == "xcb" ? 1 : 0);
      EXPECT_EQ(waylandOpened, std::string(c.platform).rfind("wayland", 0) == 0 ? 1 : 0);
      EXPECT_EQ(mutter.calls > 0, c.mutterAsked);
      EXPECT_EQ(screenSaver.calls > 0, c.screenSaverAsked);
      if (c.kind == K::OwnWindows) {
        EXPECT_EQ(chosen.source->Name(), "input to Zibu's own windows");
        EXPECT_LT(chosen.source->IdleMs(), 1000u);  // just made: no time to be idle yet
        continue;
      }
      EXPECT_EQ(chosen.source->IdleMs(), c.idleMs);

      // Later answers are followed; a service that stops answering, or answers nonsense, reads
      // as input just now, so a waiting scan goes on waiting.
      std::atomic<int64_t>* answer = c.kind == K::MutterIdleMonitor ? &mutter.answer
                                     : c.kind == K::FreedesktopScreenSaver ? &screenSaver.answer
                                                                           : nullptr;
      if (!answer) {
        x11Ms = waylandMs = 99;
        EXPECT_EQ(chosen.source->IdleMs(), 99u);
        continue;
      }
      *answer = 123456;
      EXPECT_EQ(chosen.source->IdleMs(), 123456u);
      *answer = 0xFFFFFFFFll;  // the largest an unsigned 32-bit answer can say
      EXPECT_EQ(chosen.source->IdleMs(), 0xFFFFFFFFu);
      *answer = kWrongType;
      EXPECT_EQ(chosen.source->IdleMs(), 0u);
      *answer = 3000;
      EXPECT_EQ(chosen.source->IdleMs(), 3000u);
      service.unregisterService(c.kind == K::MutterIdleMonitor ? "org.gnome.Mutter.IdleMonitor"
                                                               : "org.freedesktop.ScreenSaver");
      EXPECT_EQ(chosen.source->IdleMs(), 0u);
    }

    // Without any bus the choice falls to the program's own windows, with the warning.
    ChosenIdleSource none = OpenIdleSource("wayland", QDBusConnection("zibu-idle-no-bus"), {});
    EXPECT_EQ(none.kind, K::OwnWindows);
    EXPECT_EQ(none.logLine, ownWindowsWarning);
    service.unregisterObject("/org/gnome/Mutter/IdleMonitor/Core");
    service.unregisterObject("/org/freedesktop/ScreenSaver");
  }
  for (QThread* t : {&mutterThread, &screenSaverThread}) {
    t->quit();
    t->wait();
  }
  QDBusConnection::disconnectFromBus("zibu-idle-service");
  QDBusConnection::disconnectFromBus("zibu-idle-program");
}

// The wait for an idle user is a timer: the thread goes on handling events, the work runs once the
// user has been idle long enough (at once when that is so already), and shutdown abandons it.
TEST(IdleTest, TheIdleWaitRunsItsWorkOnceTheUserIsIdleAndNeverBlocks) {
  struct Case {
    const char* name;
    int64_t required;
    uint32_t idleAtStart, idleLater;  // idleLater is set 300 ms in
    bool shutdownLater;               // the frame closes 300 ms in
    bool runsAtOnce, runs;
  };
  for (const Case& c : std::vector<Case>{
           {"a negative requirement never waits", -5, 0, 0, false, true, true},
           {"no requirement", 0, 0, 0, false, true, true},
           {"idle long enough already", 5000, 5000, 5000, false, true, true},
           {"the user goes idle", 5000, 1000, 6000, false, false, true},
           {"the user never goes idle", int64_t{1} << 40, 0, 0, false, false, false},
           {"the frame closes during the wait", int64_t{1} << 40, 0, 0, true, false, false},
       }) {
    SCOPED_TRACE(c.name);
    uint32_t idle = c.idleAtStart;
    ProgramServices program("/tmp", std::make_unique<FixedIdle>(idle));
    IdleWait wait(
        program.ProgramClock(), [&] { return program.ShutdownRequested(); }, nullptr, 50);
    int ran = 0, ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(20);
    QElapsedTimer t;
    t.start();
    wait.Start(c.required, [&] { ++ran; });
    EXPECT_LT(t.elapsed(), 100);  // Start returns at once
    EXPECT_EQ(ran, c.runsAtOnce ? 1 : 0);
    EXPECT_EQ(wait.Waiting(), !c.runsAtOnce);
    QTimer::singleShot(300, [&] {
      idle = c.idleLater;
      if (c.shutdownLater) program.SetShutdownRequested(true);
    });
    QTest::qWait(700);
    EXPECT_EQ(ran, c.runs ? 1 : 0);  // once, never again
    EXPECT_EQ(wait.Waiting(), !c.runs && !c.shutdownLater);
    EXPECT_GE(ticks, 15);  // events ran all along
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  }
}

TEST(IdleTest, InputResetsTheInProgramIdleTime) {
  AppInputIdleSource source;
  QWidget w;
  w.show();
  QThread::msleep(120);
  EXPECT_GE(source.IdleMs(), 100u);
  QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a");
  QApplication::sendEvent(&w, &press);
  EXPECT_LT(source.IdleMs(), 100u);
}

TEST(ForegroundTest, RestoresAMinimisedWindowAndActivatesIt) {
  EXPECT_FALSE(ForceForeground(nullptr));
  QWidget w;
  w.showMinimized();
  QApplication::processEvents();
  ASSERT_TRUE(w.isMinimized());
  ForceForeground(&w);
  QTest::qWait(20);
  EXPECT_FALSE(w.isMinimized());
  EXPECT_TRUE(w.isVisible());
  EXPECT_TRUE(w.isActiveWindow());
  EXPECT_TRUE(ForceForeground(&w));  // already in front
}

TEST(GridTest, DeleteGridRowMovesRowsUp) {
  QTableWidget grid(4, 2);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 2; ++c) grid.setItem(r, c, new QTableWidgetItem(QString("%1,%2").arg(r).arg(c)));
  DeleteGridRow(&grid, 1);
  ASSERT_EQ(grid.rowCount(), 3);
  EXPECT_EQ(grid.item(0, 0)->text(), "0,0");
  EXPECT_EQ(grid.item(1, 0)->text(), "2,0");
  EXPECT_EQ(grid.item(1, 1)->text(), "2,1");
  EXPECT_EQ(grid.item(2, 1)->text(), "3,1");
  DeleteGridRow(&grid, 2);  // the last row
  ASSERT_EQ(grid.rowCount(), 2);
  EXPECT_EQ(grid.item(1, 0)->text(), "2,0");
  DeleteGridRow(&grid, 5);  // no such row
  DeleteGridRow(&grid, -1);
  EXPECT_EQ(grid.rowCount(), 2);
  DeleteGridRow(&grid, 0);
  DeleteGridRow(&grid, 0);
  EXPECT_EQ(grid.rowCount(), 0);
}

TEST(CommandLineTest, HomeHelpVersionToolkitOptionsAndMistakes) {
  struct Case {
    std::vector<std::string> args;
    std::string home;
    bool help, version, error;
  };
  const Case cases[] = {
      {{}, "", false, false, false},
      {{"--home", "/tmp/z"}, "/tmp/z", false, false, false},
      {{"--home=/tmp/y"}, "/tmp/y", false, false, false},
      {{"--help"}, "", true, false, false},
      {{"-h"}, "", true, false, false},
      {{"--version"}, "", false, true, false},
      {{"--home"}, "", false, false, true},
      {{"--home="}, "", false, false, true},
      {{"--home", ""}, "", false, false, true},
      {{"--frobnicate"}, "", false, false, true},
      {{"--bogus", "--version"}, "", false, true, true},
      {{"stray"}, "", false, false, true},
      // The toolkit's own options pass, with their values, in either spelling.
      {{"-platform", "offscreen", "--home", "/h"}, "/h", false, false, false},
      {{"--platform", "offscreen"}, "", false, false, false},
      {{"-style=fusion", "-reverse", "-qwindowtitle", "--version"}, "", false, false, false},
      {{"-platform"}, "", false, false, true},
      {{"-reverse=1"}, "", false, false, true},
      {{"--webEngineArgs", "--disable-gpu", "--bogus"}, "", false, false, false},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const auto& a : c.args) shown += a + " ";
    SCOPED_TRACE(shown);
    const CommandLine cl = ParseCommandLine(c.args);
    EXPECT_EQ(cl.home, c.home);
    EXPECT_EQ(cl.help, c.help);
    EXPECT_EQ(cl.version, c.version);
    EXPECT_EQ(!cl.error.empty(), c.error) << cl.error;
  }
  EXPECT_EQ(ParseCommandLine({"--bogus", "--nonsense"}).error, "unknown argument: --bogus");
  EXPECT_NE(UsageText().find("zibu [--home DIR] [--help] [--version]"), std::string::npos);
}

TEST(CommandLineTest, HomeProblems) {
  const fs::path root = fs::temp_directory_path() / ("zibu_homes_" + std::to_string(::getpid()));
  fs::remove_all(root);
  fs::create_directories(root / "readonly");
  std::ofstream(root / "file") << "x";
  fs::permissions(root / "readonly", fs::perms::owner_read | fs::perms::owner_exec);
  fs::create_directories(root / "dangling");
  fs::create_symlink(root / "nowhere", root / "dangling" / "data");
  fs::create_directories(root / "tempfile");
  std::ofstream(root / "tempfile" / "temp") << "x";
  fs::create_directories(root / "linked" / "elsewhere");
  fs::create_directory_symlink(root / "linked" / "elsewhere", root / "linked" / "data");
  const bool root_user = ::geteuid() == 0;  // may write anywhere
  struct Case {
    fs::path home;
    std::string problem;  // part of the message; empty: usable
  };
  const Case cases[] = {
      {root / "new" / "nested", ""},
      {root / "new" / "nested", ""},  // now existing
      {root / "file", "it is not a folder"},
      {root / "file" / "below", "it cannot be created"},
      {root / "readonly", root_user ? "" : "I may not write there"},
      {root / "dangling", "data folder: it is a symbolic link to " + (root / "nowhere").string() + ", which does not exist"},
      {root / "tempfile", "download folder: it is not a folder"},
      {root / "linked", ""},  // a link to a folder is a folder
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.home.string());
    const std::string problem = HomeProblem(c.home.string());
    if (c.problem.empty()) {
      EXPECT_EQ(problem, "");
      EXPECT_TRUE(fs::is_directory(c.home));
    } else {
      EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
      EXPECT_NE(problem.find(c.home.string()), std::string::npos) << problem;
    }
  }
  fs::permissions(root / "readonly", fs::perms::owner_all);
  fs::remove_all(root);
}

TEST(CommandLineTest, WhichHomeAndWhy) {
  const fs::path root = fs::temp_directory_path() / ("zibu_choose_" + std::to_string(::getpid()));
  fs::remove_all(root);
  fs::create_directories(root / "portable");
  fs::create_directories(root / "installed" / "bin");
  fs::create_directories(root / "installed" / "share" / "zibu");
  std::ofstream(root / "portable" / "zibu.conf") << "[main]\n";
  fs::create_directories(root / "portable" / "delivered");
  const std::string portable = (root / "portable").string();
  const std::string installed = (root / "installed" / "bin").string();
  struct Case {
    std::string given, exe;
    const char* xdg;
    const char* user;
    std::string folder, reason;
    bool perUser;
  };
  const Case cases[] = {
      {"/given//h/", portable, "/x", "/u", "/given/h", "given with --home", false},
      {"", portable, "/x", "/u", portable, "portable", false},
      {"", installed, "/x/data", "/u", "/x/data/zibu", "$XDG_DATA_HOME/zibu", true},
      {"", installed, "", "/u", "/u/.local/share/zibu", "$XDG_DATA_HOME is not set", true},
      {"", installed, nullptr, "/u/", "/u/.local/share/zibu", "$XDG_DATA_HOME is not set", true},
      {"", installed, "relative/data", "/u", "/u/.local/share/zibu", "~/.local/share/zibu", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.exe + " " + (c.xdg ? c.xdg : "(unset)"));
    const HomeChoice h = ChooseHome(c.given, c.exe, c.xdg, c.user);
    EXPECT_EQ(h.folder, c.folder);
    EXPECT_NE(h.reason.find(c.reason), std::string::npos) << h.reason;
    EXPECT_EQ(h.perUser, c.perUser);
  }
  EXPECT_EQ(DeliveredFolder(portable), portable + "/delivered");
  EXPECT_EQ(DeliveredFolder(installed), (root / "installed" / "share" / "zibu").string());
  EXPECT_EQ(ExecutableFolder(), fs::read_symlink("/proc/self/exe").parent_path().string());

  // The per-user home is made private to the user, an existing folder keeps its mode.
  const fs::path perUser = root / "xdg" / "zibu";
  EXPECT_EQ(HomeProblem(perUser.string(), true), "");
  EXPECT_EQ(fs::status(perUser).permissions() & fs::perms::all, fs::perms::owner_all);
  fs::permissions(perUser, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
  EXPECT_EQ(HomeProblem(perUser.string(), true), "");
  EXPECT_EQ(fs::status(perUser).permissions() & fs::perms::all,
            fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
  const std::string usage = UsageText("This start's home: /h (why)");
  EXPECT_TRUE(usage.ends_with("(~/.local/share/zibu).\n\nThis start's home: /h (why)\n")) << usage;
  fs::remove_all(root);
}

TEST(CommandLineTest, SeedHomeNeverReplacesAFile) {
  const fs::path root = fs::temp_directory_path() / ("zibu_seed_" + std::to_string(::getpid()));
  fs::remove_all(root);
  fs::create_directories(root / "delivered");
  std::ofstream(root / "delivered" / "zibu.conf") << "[main]\nfirstTime=true\n";
  std::ofstream(root / "delivered" / "commonwords.dat") << "HERE\nSAID\n";
  const fs::path home = root / "home";
  auto copied = SeedHome(home.string(), (root / "delivered").string());
  EXPECT_EQ(copied, (std::vector<std::string>{"zibu.conf", "data/commonwords.dat"}));
  EXPECT_TRUE(fs::exists(home / "data" / "commonwords.dat"));
  EXPECT_EQ(fs::status(home / "zibu.conf").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  std::ofstream(home / "zibu.conf") << "[main]\nfirstTime=false\n";
  EXPECT_TRUE(SeedHome(home.string(), (root / "delivered").string()).empty());
  std::ifstream in(home / "zibu.conf");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "[main]\nfirstTime=false\n");
  fs::remove_all(root);
}

}  // namespace
