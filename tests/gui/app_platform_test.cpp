// Paced message processing, waiting for idleness, grid rows, the command line and the home folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QTableWidget>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "app/command_line.h"
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

TEST(IdleTest, WaitForIdleReturnsAtOnceWhenAlreadyIdleEnough) {
  ProgramServices program("/tmp");
  QElapsedTimer t;
  t.start();
  program.WaitForIdle(-5);
  program.WaitForIdle(0);
  EXPECT_LT(t.elapsed(), 200);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(IdleTest, WaitForIdleKeepsEventsFlowingAndEndsOnShutdown) {
  // Waiting for an idleness that never comes; a timer inside the wait stands for the main
  // frame closing.
  int ticks = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
  ticker.start(100);
  ProgramServices program("/tmp");
  QTimer::singleShot(700, [&] { program.SetShutdownRequested(true); });
  QElapsedTimer t;
  t.start();
  program.WaitForIdle(int64_t{1} << 40);
  const qint64 took = t.elapsed();
  EXPECT_GE(took, 500);
  EXPECT_LT(took, 1600);
  EXPECT_GE(ticks, 1);                                 // events ran inside the wait
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);  // busy cursor restored
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
