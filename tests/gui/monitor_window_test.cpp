// The page monitor window offscreen, with its real embedded browser loading pages from a loopback
// server, a stand-in for the found-article window and a clock the test sets.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextCursor>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <filesystem>
#include <string>
#include <vector>

#include "common/ports.h"
#include "common/settings.h"
#include "monitor/monitor_window.h"
#include "rules/keyword_rules.h"
#include "support/loopback_server.h"
#include "ui/dialogs.h"
#include "ui/qtext.h"

namespace zibu {
namespace {

// 2026-12-08 00:00 local, in milliseconds.
constexpr int64_t kMidnight = 1796774400000LL;
constexpr int64_t kHour = 3600000;
constexpr int kLoadTimeoutMs = 20000;

class ManualClock : public Clock {
 public:
  int64_t now = kMidnight + 9 * kHour;
  uint32_t idle = 0;
  int64_t NowMs() const override { return now; }
  uint32_t IdleMs() const override { return idle; }
};

// Plays the user in front of the found-article window.
class FakePageFound : public PageFoundPort {
 public:
  struct Call {
    std::string reason, title, description, link;
    bool ratingPanelVisible;
    bool timerRunning;
  };
  PageFoundResult ShowPageFound(const std::string& reason, const std::string& title,
                                const std::string& description, const std::string& link,
                                bool ratingPanelVisible) override {
    calls.push_back(
        {reason, title, description, link, ratingPanelVisible, window && window->Timer1->isActive()});
    PageFoundResult result;
    result.enough = enoughAfter > 0 && static_cast<int>(calls.size()) >= enoughAfter;
    return result;
  }
  std::vector<Call> calls;
  int enoughAfter = 0;  // tick "Enough for now" on this alert (1-based); 0 never
  TfrmPageMonitor* window = nullptr;
};

std::string Page(const std::string& body) {
  return "<html><head><title>t</title></head><body>" + body + "</body></html>";
}

class MonitorWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings.verboseOutput = true;
    window = std::make_unique<TfrmPageMonitor>(nullptr);
    window->SetPageFoundPort(&alerts);
    window->SetClock(&clock);
    window->SetSettings(settings);
    window->setWindowTitle("Window 0");
    alerts.window = window.get();
    DialogScript script;
    script.onMessage = [this](const std::string& t) { messages.push_back(t); };
    SetDialogScript(script);
    window->show();
  }
  void TearDown() override {
    ClearDialogScript();
    window.reset();
  }

  std::string LogText() const { return FromQ(window->txtResults->toPlainText()); }
  int LogCount(const std::string& message) const {
    int n = 0;
    for (const QString& line : window->txtResults->toPlainText().split('\n'))
      if (FromQ(line).ends_with(": " + message)) ++n;
    return n;
  }
  void SetRules(const std::string& rules) { window->txtAlerts->setPlainText(ToQ(rules)); }

  // Loads the address with Go and waits for the search after the load.
  void GoAndSearch(const std::string& address) {
    window->txtAddress->setText(ToQ(address));
    QSignalSpy searched(window.get(), &TfrmPageMonitor::searchFinished);
    window->btnGo->click();
    ASSERT_TRUE(searched.wait(kLoadTimeoutMs)) << "no search after loading " << address << "\n" << LogText();
  }
  std::string PageText() {
    std::string text;
    bool done = false;
    window->getPageText([&](const std::string& t) {
      text = t;
      done = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return done; }, kLoadTimeoutMs));
    return text;
  }

  test::LoopbackServer server;
  ManualClock clock;
  GlobalSettings settings;
  FakePageFound alerts;
  std::vector<std::string> messages;
  std::unique_ptr<TfrmPageMonitor> window;
};

TEST_F(MonitorWindowTest, StartsWithItsCaptionsDefaultsAndTheTimerAtSixtySeconds) {
  TfrmPageMonitor fresh(nullptr);
  EXPECT_EQ(fresh.windowTitle(), "Browser window");
  EXPECT_EQ(fresh.lblRefreshInterval->text(), "Refresh (seconds, min 60)");
  EXPECT_EQ(fresh.txtRefreshInterval->text(), "60");
  EXPECT_EQ(fresh.txtStartTime->text(), "00:00");
  EXPECT_EQ(fresh.txtEndTime->text(), "23:59");
  EXPECT_EQ(fresh.btnGo->text(), "&Go");
  EXPECT_EQ(fresh.btnShowRawText->text(), "Show &Raw Text");
  EXPECT_FALSE(fresh.btnShowRawText->isEnabled());
  EXPECT_TRUE(fresh.Timer1->isActive());
  EXPECT_EQ(fresh.Timer1->interval(), 60000);
  EXPECT_TRUE(fresh.txtResults->toPlainText().endsWith(": Enabled auto-check"));
  EXPECT_EQ(fresh.txtAlerts->lineWrapMode(), QPlainTextEdit::NoWrap);
  EXPECT_TRUE(fresh.txtResults->isReadOnly());
}

TEST_F(MonitorWindowTest, AMatchingLineIsShownOnceThroughShowPageFound) {
  server.ServeBody("/news", Page("<p>Calm weather today</p><p>Storm warning for the coast</p>"));
  SetRules("0:calm\n1:storm,warning");
  GoAndSearch(server.Url("/news"));

  ASSERT_EQ(alerts.calls.size(), 1u) << LogText();
  const auto& call = alerts.calls[0];
  EXPECT_EQ(call.reason, "Website match");  // not the window's caption
  EXPECT_EQ(call.title, "Found match!");
  EXPECT_EQ(call.description, "Storm warning for the coast");
  EXPECT_EQ(call.link, server.Url("/news"));
  EXPECT_FALSE(call.ratingPanelVisible);
  EXPECT_FALSE(call.timerRunning) << "the timer is held while the alerts are up";
  EXPECT_TRUE(window->Timer1->isActive()) << "and runs again afterwards";
  EXPECT_TRUE(window->windowState() & Qt::WindowMaximized);
  EXPECT_TRUE(window->btnShowRawText->isEnabled());
  for (const char* line : {"Downloading ", "Page completely downloaded", "Starting searching",
                           "Ignoring inactive keywords: 0:calm",
                           "Match found for STORM,WARNING on line Storm warning for the coast",
                           "Matches found: 1", "Finished searching"})
    EXPECT_NE(LogText().find(line), std::string::npos) << line;

  // The next load within the repeat interval finds the line again but does not show it.
  clock.now += 30 * 60000;
  GoAndSearch(server.Url("/news"));
  EXPECT_EQ(alerts.calls.size(), 1u);
  EXPECT_EQ(LogCount("Match found but shown recently for STORM,WARNING on line Storm warning for the coast"),
            1);
  EXPECT_EQ(LogCount("Matches found: 0"), 1);
  // After the interval it is shown again.
  clock.now += 31 * 60000;
  GoAndSearch(server.Url("/news"));
  EXPECT_EQ(alerts.calls.size(), 2u);
}

TEST_F(MonitorWindowTest, EnoughForNowOnTheFirstOfThreeAlertsLeavesTheOthersUnshownButRemembered) {
  server.ServeBody("/three", Page("<div>storm in the north</div><div>storm in the south</div>"
                                  "<div>quiet east</div><div>storm in the west</div>"));
  SetRules("1:storm");
  alerts.enoughAfter = 1;
  GoAndSearch(server.Url("/three"));

  ASSERT_EQ(alerts.calls.size(), 1u);
  EXPECT_EQ(alerts.calls[0].description, "storm in the north");
  ASSERT_EQ(window->shownLines().Count(), 3);
  EXPECT_EQ(window->shownLines().KeyAt(1), "storm in the south");
  EXPECT_EQ(window->shownLines().KeyAt(2), "storm in the west");
  EXPECT_EQ(LogCount("Matches found: 3"), 1);
  EXPECT_TRUE(window->Timer1->isActive());

  alerts.enoughAfter = 0;
  GoAndSearch(server.Url("/three"));
  EXPECT_EQ(alerts.calls.size(), 1u) << "all three count as shown";
}

TEST_F(MonitorWindowTest, AFollowedLinkIsSearchedWithItsOwnAddressAndGoReturnsToTheWatchedPage) {
  server.ServeBody("/index", Page("<p>Headlines</p><a id='more' href='/story'>More news</a>"));
  server.ServeBody("/story", Page("<p>Flood warning upstream</p>"));
  SetRules("1:flood");
  GoAndSearch(server.Url("/index"));
  EXPECT_TRUE(alerts.calls.empty());

  QSignalSpy searched(window.get(), &TfrmPageMonitor::searchFinished);
  window->WebBrowser1->page()->runJavaScript("document.getElementById('more').click();");
  ASSERT_TRUE(searched.wait(kLoadTimeoutMs)) << LogText();
  ASSERT_EQ(alerts.calls.size(), 1u);
  EXPECT_EQ(alerts.calls[0].description, "Flood warning upstream");
  EXPECT_EQ(alerts.calls[0].link, server.Url("/story"));

  GoAndSearch(window->txtAddress->text().toStdString());
  EXPECT_EQ(window->WebBrowser1->url().toString().toStdString(), server.Url("/index"));
  EXPECT_EQ(server.RequestCount("/index"), 2u);
}

TEST_F(MonitorWindowTest, PageTextIsTheRenderedBodyWithCrLfLines) {
  server.ServeBody("/lines",
                   Page("<p>Storm warning</p>line two<br>line three<div>div</div><script>var x=1;</script>"));
  GoAndSearch(server.Url("/lines"));
  EXPECT_EQ(PageText(), "Storm warning\r\n\r\nline two\r\nline three\r\ndiv");
}

TEST_F(MonitorWindowTest, APageWithoutBodyTextIsNotSearchedAndShowsNothingToDisplay) {
  server.ServeBody("/empty", "<html><head><title>Nothing here</title></head></html>");
  SetRules("1:!zzz");  // would match any line there is
  GoAndSearch(server.Url("/empty"));
  EXPECT_TRUE(alerts.calls.empty());
  EXPECT_EQ(LogCount("Finished searching"), 1);
  EXPECT_EQ(LogText().find("Matches found"), std::string::npos);
  ASSERT_TRUE(window->btnShowRawText->isEnabled());
  window->btnShowRawText->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !messages.empty(); }, kLoadTimeoutMs));
  EXPECT_EQ(messages, std::vector<std::string>{"Nothing to display"});

  // A document that is not HTML has no body of its own either.
  server.ServeBody("/plain.txt", "storm warning\n", "text/plain");
  SetRules("1:storm");
  GoAndSearch(server.Url("/plain.txt"));
  EXPECT_TRUE(alerts.calls.empty());
  EXPECT_EQ(PageText(), "");
}

TEST_F(MonitorWindowTest, ANavigationToAClosedPortLogsNavigateError) {
  SetRules("1:!zzz");
  window->txtAddress->setText(ToQ("http://127.0.0.1:" + std::to_string(test::UnusedLoopbackPort()) + "/"));
  window->btnGo->click();
  EXPECT_TRUE(window->btnGo->isEnabled());
  ASSERT_TRUE(QTest::qWaitFor([&] { return LogCount("Navigate error") == 1; }, kLoadTimeoutMs)) << LogText();
  QTest::qWait(300);  // the browser's error page must not be searched as if it were the page
  EXPECT_EQ(LogText().find("Page completely downloaded"), std::string::npos) << LogText();
  EXPECT_TRUE(alerts.calls.empty());

  // An error status is a navigate error too, whatever text the server sends with it.
  server.ServeStatus("/gone", 404, "storm warning");
  window->txtAddress->setText(ToQ(server.Url("/gone")));
  window->btnGo->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return LogCount("Navigate error") == 2; }, kLoadTimeoutMs)) << LogText();
  QTest::qWait(300);
  EXPECT_EQ(LogText().find("Page completely downloaded"), std::string::npos) << LogText();
  EXPECT_TRUE(alerts.calls.empty());
}

TEST_F(MonitorWindowTest, TheRefreshIntervalRuleAndTheSettingsSection) {
  const auto dir = std::filesystem::temp_directory_path() / "zibu-monitor-window-settings";
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "zibu.conf").string();
  {
    SettingsFile file(path);
    file.WriteString("window_3", "url", "http://127.0.0.1:9/watched");
    file.WriteString("window_3", "refreshInterval", "59");
    file.WriteString("window_3", "alerts", "1:stormCRLF0:calmcrlf1:aircrlfareCRLF");
    file.WriteString("window_3", "endTimeToScan", "18:30");
    file.Save();
  }
  SettingsFile file(path);
  window->loadSettings(file, "window_3");
  EXPECT_EQ(window->txtAddress->text(), "http://127.0.0.1:9/watched");
  EXPECT_FALSE(window->Timer1->isActive());
  EXPECT_EQ(LogCount("Disabled auto-check, refresh interval too low"), 1);
  EXPECT_EQ(window->txtAlerts->toPlainText(), "1:storm\n0:calm\n1:air\nare");
  EXPECT_EQ(window->txtStartTime->text(), "00:00");
  EXPECT_EQ(window->txtEndTime->text(), "18:30");
  EXPECT_EQ(window->loadCount(), 0) << "loading settings does not load the page";

  window->txtRefreshInterval->setText("60");
  EXPECT_TRUE(window->Timer1->isActive());
  EXPECT_EQ(window->Timer1->interval(), 60000);
  window->txtRefreshInterval->setText("abc");
  EXPECT_FALSE(window->Timer1->isActive());
  window->txtRefreshInterval->setText("300");
  EXPECT_EQ(window->Timer1->interval(), 300000);

  window->saveSettings(file, "window_0");
  EXPECT_EQ(file.ReadString("window_0", "url", "?"), "http://127.0.0.1:9/watched");
  EXPECT_EQ(file.ReadString("window_0", "refreshInterval", "?"), "300");
  EXPECT_EQ(file.ReadString("window_0", "alerts", "?"), "1:stormCRLF0:calmCRLF1:airCRLFareCRLF");
  EXPECT_EQ(file.ReadString("window_0", "startTimeToScan", "?"), "00:00");
  EXPECT_EQ(file.ReadString("window_0", "endTimeToScan", "?"), "18:30");
  std::filesystem::remove_all(dir);
}

TEST_F(MonitorWindowTest, TimerTicksReloadOnlyInsideTheScanWindowAfterTheIdleWait) {
  server.ServeBody("/tick", Page("<p>tick</p>"));
  window->txtAddress->setText(ToQ(server.Url("/tick")));

  window->txtStartTime->setText("22:00");
  window->txtEndTime->setText("06:00");
  for (int hour = 0; hour < 24; ++hour) {
    clock.now = kMidnight + hour * kHour + 30 * 60000;
    window->Timer1Timer();
  }
  EXPECT_EQ(window->loadCount(), 0);
  EXPECT_EQ(LogCount("Not time to scan"), 24);

  window->txtStartTime->setText("08:00");
  window->txtEndTime->setText("18:00");
  clock.now = kMidnight + 9 * kHour;
  settings.runAfterIdleForMs = 5000;
  window->SetSettings(settings);
  clock.idle = 1000;
  QSignalSpy searched(window.get(), &TfrmPageMonitor::searchFinished);
  window->Timer1Timer();
  EXPECT_EQ(LogCount("User is busy, waiting for idle..."), 1);
  // The tick returned; the page waits, on a timer, for the user to go idle.
  EXPECT_TRUE(window->WaitingForIdle());
  EXPECT_EQ(window->loadCount(), 0);
  window->Timer1Timer();  // a tick during the wait neither waits again nor loads
  EXPECT_EQ(LogCount("User is busy, waiting for idle..."), 1);
  QTest::qWait(700);
  EXPECT_EQ(window->loadCount(), 0);  // still busy
  clock.idle = 5000;
  EXPECT_TRUE(QTest::qWaitFor([&] { return window->loadCount() == 1; }, 3000));
  EXPECT_FALSE(window->WaitingForIdle());
  EXPECT_TRUE(searched.wait(kLoadTimeoutMs));

  window->Timer1Timer();  // idle long enough: no wait
  EXPECT_FALSE(window->WaitingForIdle());
  EXPECT_EQ(LogCount("User is busy, waiting for idle..."), 1);
  EXPECT_EQ(window->loadCount(), 2);
}

TEST_F(MonitorWindowTest, ABadScanTimeIsReportedOnceAndKeepsTheWindowClosed) {
  const std::string message =
      "The end time \"25:00\" is not a time of the form HH:MM (00:00 to 23:59), so I will not reload the "
      "page "
      "automatically until it is corrected";
  window->txtAddress->setText("http://127.0.0.1:9/");
  window->txtEndTime->setText("25:00");
  emit window->txtEndTime->editingFinished();
  emit window->txtEndTime->editingFinished();
  window->Timer1Timer();
  window->Timer1Timer();
  EXPECT_EQ(LogCount(message), 1);
  EXPECT_EQ(window->loadCount(), 0);
  EXPECT_EQ(LogCount("Not time to scan"), 2);

  window->txtEndTime->setText("23:00");
  emit window->txtEndTime->editingFinished();
  window->txtEndTime->setText("25:00");
  emit window->txtEndTime->editingFinished();
  EXPECT_EQ(LogCount(message), 2) << "reported again once it had been corrected in between";
  window->txtStartTime->setText("9:00");
  emit window->txtStartTime->editingFinished();
  EXPECT_NE(LogText().find("The start time \"9:00\" is not a time"), std::string::npos);
}

TEST_F(MonitorWindowTest, LeavingTheKeywordsFixesLinesWithOneMessage) {
  SetRules("storm\n0:calm\nx\n\nrain,!snow\n1:ok");
  window->txtAlertsExit();
  EXPECT_EQ(window->txtAlerts->toPlainText(), "1:storm\n0:calm\nx\n\n1:rain,!snow\n1:ok");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(
      messages[0],
      "Each keyword line must begin with 1: or 0: to indicate whether active or not.  I have fixed this for "
      "you.");
  window->txtAlertsExit();
  EXPECT_EQ(messages.size(), 1u) << "nothing left to fix";
}

// Tab and Shift+Tab leave the Keywords box and write nothing into it, Ctrl+Tab writes nothing
// either; a tab pasted into a rule is taken out when the box is left, with one message.
TEST_F(MonitorWindowTest, TabLeavesTheKeywordsAndAPastedTabIsTakenOut) {
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  SetRules("1:storm");
  for (auto [modifiers, leaves] : {std::pair{Qt::KeyboardModifiers(Qt::NoModifier), true},
                                   std::pair{Qt::KeyboardModifiers(Qt::ShiftModifier), true},
                                   std::pair{Qt::KeyboardModifiers(Qt::ControlModifier), false}}) {
    window->txtAlerts->setFocus();
    window->txtAlerts->moveCursor(QTextCursor::End);
    QTest::keyClick(window->txtAlerts, Qt::Key_Tab, modifiers);
    if (leaves) {
      EXPECT_NE(QApplication::focusWidget(), window->txtAlerts) << "modifiers " << modifiers;
    }
    EXPECT_EQ(window->txtAlerts->toPlainText(), "1:storm") << "modifiers " << modifiers;
  }
  EXPECT_TRUE(messages.empty());

  struct Case {
    std::string pasted, left;
    std::vector<std::string> messages;
  };
  const std::string fixedMessage = kKeywordLinesFixedMessage;
  for (const Case& c :
       {Case{"1:storm,\train\n0:calm", "1:storm,rain\n0:calm", {TabLinesMessage({"1:storm,rain"})}},
        Case{"1:\t\t\t\n\tfog", "1:\n1:fog", {TabLinesMessage({"1:", "fog"}), fixedMessage}},
        Case{"1:a\tcrlf\n1:ok", "1:ok", {TabLinesMessage({"1:acrlf"}), CrlfLinesMessage({"1:acrlf"})}},
        Case{"1:ok", "1:ok", {}}}) {
    messages.clear();
    SetRules(c.pasted);
    window->txtAlertsExit();
    EXPECT_EQ(FromQ(window->txtAlerts->toPlainText()), c.left) << c.pasted;
    EXPECT_EQ(messages, c.messages) << c.pasted;
  }
}

}  // namespace
}  // namespace zibu
