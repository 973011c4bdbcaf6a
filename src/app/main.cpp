// Program entry: the splash first, then the main frame and the feeds window, start-up, and the
// event loop until the main frame is closed.
#include <execinfo.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QApplication>
#include <QLocalServer>
#include <QDBusConnection>
#include <QDir>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/command_line.h"
#include "app/desktop_notifier.h"
#include "app/idle_sources.h"
#include "app/main_form.h"
#include "common/global_settings.h"
#include "common/home_lock.h"
#include "rating/pagefound_window.h"
#include "feeds/feeds_session.h"
#include "feeds/feeds_window.h"
#include "ui/dialogs.h"
#include "ui/icons.h"
#include "ui/program_services.h"
#include "ui/single_instance.h"
#include "ui/splash_window.h"

namespace {

int gSignalPipe[2] = {-1, -1};

void OnTerminateSignal(int) {
  const char c = 1;
  [[maybe_unused]] ssize_t n = ::write(gSignalPipe[1], &c, 1);
}

// A termination request (SIGTERM, SIGINT, SIGHUP) closes the main frame like its close box, so
// the configuration is saved.
void CloseOnTerminateSignal(zibu::TMainForm* frame) {
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, gSignalPipe) != 0) return;
  auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, frame);
  QObject::connect(notifier, &QSocketNotifier::activated, frame, [frame, notifier] {
    char c;
    [[maybe_unused]] ssize_t n = ::read(gSignalPipe[0], &c, 1);
    notifier->setEnabled(false);
    frame->close();
  });
  struct sigaction sa {};
  sa.sa_handler = OnTerminateSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
}

// A crash writes where it happened to stderr before the program dies of it, so a report (or a
// test log) holds more than "Aborted". The embedded browser's own handlers, where it installs
// them, come later and win.
void OnCrashSignal(int sig) {
  static const char head[] = "zibu: crashed; the stack was:\n";
  [[maybe_unused]] ssize_t n = ::write(STDERR_FILENO, head, sizeof head - 1);
  void* frames[64];
  backtrace_symbols_fd(frames, backtrace(frames, 64), STDERR_FILENO);
  ::raise(sig);
}

void TraceCrashes() {
  // backtrace loads its unwinder on first use, which a signal handler must not have to do.
  void* warmUp[1];
  backtrace(warmUp, 1);
  for (int sig : {SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL}) {
    struct sigaction sa {};
    sa.sa_handler = OnCrashSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESETHAND;
    sigaction(sig, &sa, nullptr);
  }
}

}  // namespace

int main(int argc, char** argv) {
  using namespace zibu;

  // Read before the toolkit starts: a mistake, --help and --version need no display.
  TraceCrashes();
  const CommandLine cl = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (!cl.error.empty()) {
    std::fprintf(stderr, "zibu: %s\n\n%s", cl.error.c_str(), UsageText().c_str());
    return 2;
  }
  const std::string exeDir = ExecutableFolder();
  const HomeChoice home = ChooseHome(cl.home, exeDir, std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
  if (cl.help) {
    std::fputs(UsageText("This start's home: " + home.folder + " (" + home.reason + ")").c_str(), stdout);
    return 0;
  }
  if (cl.version) {
    std::printf("%s\n", kAppVersion);
    return 0;
  }

  // The embedded browser of the page monitor refuses to start as root with its sandbox on.
  const bool runningAsRoot = ::geteuid() == 0;
  if (runningAsRoot) ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);

  QApplication app(argc, argv);
  QApplication::setApplicationName("Zibu");
  QApplication::setApplicationVersion(kAppVersion);
  // Ties the windows to the installed desktop entry (its icon and name in task bars and docks).
  QGuiApplication::setDesktopFileName(kDesktopAppId);
  // Every window, the splash and the message boxes too, shows the installed icon.
  QApplication::setWindowIcon(MainIcon());
  // The frame hides itself while it lives in the tray; only closing it ends the program.
  QApplication::setQuitOnLastWindowClosed(false);

  // Nothing in the home is touched before it is known to be usable and ours alone.
  const auto refuse = [](const std::string& problem) {
    std::fprintf(stderr, "zibu: %s\n", problem.c_str());
    ShowMessage(problem);
    return 1;
  };
  if (const std::string problem = HomeProblem(home.folder, home.perUser); !problem.empty()) {
    return refuse(problem);
  }
  HomeLock homeLock;
  if (const auto locked = homeLock.Acquire(home.folder, "zibu"); locked != HomeLock::Result::Acquired) {
    // Zibu itself is running on this home: it comes to the front, and this start is not needed.
    if (locked == HomeLock::Result::InUse && AskRunningToRaise(home.folder)) {
      std::fprintf(stderr, "zibu: Zibu is running on %s; I have brought it to the front\n", home.folder.c_str());
      return 0;
    }
    return refuse(homeLock.Message());
  }

  // 1. The splash, painted before anything else is built.
  TfrmSplashScreen* splash = SplashScreen();
  splash->show();
  splash->repaint();
  QCoreApplication::processEvents();

  // What every window needs of the program: its home, the idle source, shutdown, pacing.
  // The idle source is chosen once, for the toolkit's platform, and named in the status log.
  ChosenIdleSource idle =
      OpenIdleSource(QGuiApplication::platformName().toStdString(), QDBusConnection::sessionBus());
  ProgramServices program(home.folder, std::move(idle.source));
  const auto seeded = SeedHome(program.HomeFolder(), DeliveredFolder(exeDir));

  // The feeds session holds the program's feed state; the windows only show it.
  FeedsSession session(program.HomeFolder());
  session.SetClock(&program.ProgramClock());
  // 3.-5. The main frame, the feeds window, and the feeds window's reference to the frame.
  auto frame = std::make_unique<TMainForm>(program);
  auto feeds = std::make_unique<TfrmFeeds>(session, program);
  frame->AttachFeeds(&session, feeds.get());

  session.Log(idle.logLine);
  for (const auto& file : seeded)
    session.Log("Copied the delivered " + file + " into " + program.HomeFolder());
  if (runningAsRoot) {
    const std::string note =
        "Running as root: the embedded browser's sandbox is switched off (QTWEBENGINE_DISABLE_SANDBOX=1)";
    session.Log(note);
    std::fprintf(stderr, "zibu: %s\n", note.c_str());
  }

  CloseOnTerminateSignal(frame.get());
  // A second start on this home brings the frame forward (out of the tray too) once it is shown.
  const auto raiseServer = ListenForRaise(home.folder, [&frame] {
    if (!frame || (!frame->isVisible() && !frame->TrayIconVisible())) return;
    if (frame->TrayIconVisible()) frame->TrayIconMessage(QSystemTrayIcon::Trigger);
    frame->setWindowState(frame->windowState() & ~Qt::WindowMinimized);
    frame->show();
    frame->raise();
    frame->activateWindow();
  });
  // Everything is saved: every loop ends when asked, so leaving the event loop ends the program.
  QObject::connect(frame.get(), &TMainForm::shutdownComplete, &app, [] {
    zibu::EndRatingWindows();
    QCoreApplication::quit();
  });

  // 6. Start-up, then 7. the event loop until the frame is closed. The frame shows once start-up
  // is over; the version check may still be out when the event loop begins.
  QObject::connect(frame.get(), &TMainForm::startUpFinished, frame.get(), [&frame, &program] {
    // Closed while the version check was out: the frame never shows.
    if (program.ShutdownRequested()) return;
    frame->show();
    // Without a window manager nobody else hands the new frame the focus.
    frame->raise();
    frame->activateWindow();
  });
  frame->StartUp();
  int rc = 0;
  // Closed during start-up's own steps (a termination signal handled while the splash was being
  // painted): the quit came before there was an event loop to leave, so none is entered.
  if (!program.ShutdownRequested()) rc = app.exec();
  frame->AttachFeeds(nullptr, nullptr);
  feeds.reset();
  frame.reset();
  return rc;
}
