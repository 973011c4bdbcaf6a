// The status log rule, the splash, the big-text viewer and the link label.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "ui/big_text_window.h"
#include "ui/column_fit.h"
#include "ui/dialogs.h"
#include "ui/link_label.h"
#include "ui/placement.h"
#include "ui/qtext.h"
#include "ui/splash_window.h"
#include "ui/status_log.h"
#include "ui/window_user_port.h"

using namespace zibu;

namespace {

std::vector<std::string> Lines(const QPlainTextEdit& memo) {
  std::vector<std::string> out;
  const QStringList parts = memo.toPlainText().split('\n');
  for (const QString& p : parts) out.push_back(FromQ(p));
  if (memo.document()->isEmpty()) out.clear();
  return out;
}

TEST(StatusLogTest, LineIsTimeStampColonMessage) {
  QPlainTextEdit memo;
  StatusLog log(&memo, [] { return false; });
  EXPECT_TRUE(memo.isReadOnly());
  EXPECT_EQ(log.LineCount(), 0);
  const std::string before = StatusTimeStamp();
  log.Log("Feed scanned");
  const auto lines = Lines(memo);
  ASSERT_EQ(lines.size(), 1u);
  const size_t colon = lines[0].rfind(": Feed scanned");
  ASSERT_NE(colon, std::string::npos);
  EXPECT_EQ(colon + 14, lines[0].size());
  const std::string stamp = lines[0].substr(0, colon);
  // Date, a blank, time; the stamp is the one of the moment (or the second after).
  EXPECT_NE(stamp.find(' '), std::string::npos);
  EXPECT_TRUE(stamp == before || stamp == StatusTimeStamp()) << stamp << " vs " << before;
  EXPECT_NE(stamp.find(FromQ(QTime::currentTime().toString("mm"))), std::string::npos);
}

TEST(StatusLogTest, VerboseLinesOnlyWithVerboseOutput) {
  QPlainTextEdit memo;
  bool verbose = false;
  StatusLog log(&memo, [&] { return verbose; });
  log.Log("detail", true);
  EXPECT_EQ(log.LineCount(), 0);
  log.Log("plain");
  verbose = true;
  log.Log("detail", true);
  const auto lines = Lines(memo);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find(": plain"), std::string::npos);
  EXPECT_NE(lines[1].find(": detail"), std::string::npos);

  QPlainTextEdit other;
  StatusLog noFlag(&other, nullptr);
  noFlag.Log("detail", true);
  EXPECT_EQ(noFlag.LineCount(), 0);
}

// A line quoting a feed's text shows its characters where it has a UTF-8 form, through a
// window's port; without one, or through a port that cannot show them, it is the usual line.
TEST(StatusLogTest, LinesQuotingAFeedShowItsOwnCharacters) {
  struct Case {
    const char* what;
    std::string message, messageUtf8;
    bool verbose;
    QString shown;  // what follows the time stamp; empty: no line
  };
  const Case cases[] = {
      {"Cyrillic and an emoji", "Showing \xBF\xBF\xBF \xBF, link=http://h/%D1%84",
       "Showing \u041A\u043E\u0442 \U0001F605, link=http://h/\u0444", false,
       QString::fromUtf8("Showing \u041A\u043E\u0442 \U0001F605, link=http://h/\u0444")},
      {"no UTF-8 of its own", "Showing Caf\xE9", "", false, QString::fromUtf8("Showing Caf\u00E9")},
      {"a verbose line stays out without verbose output", "Showing \xBF", "Showing \u0424", true, QString()},
  };
  for (const Case& c : cases) {
    QPlainTextEdit memo;
    StatusLog log(&memo, [] { return false; });
    WindowUserPort port(&log, nullptr);
    UserPort& user = port;
    user.LogQuoting(c.message, c.messageUtf8, c.verbose);
    const QStringList lines = memo.toPlainText().split('\n', Qt::SkipEmptyParts);
    if (c.shown.isEmpty()) {
      EXPECT_TRUE(lines.isEmpty()) << c.what;
      continue;
    }
    ASSERT_EQ(lines.size(), 1) << c.what;
    EXPECT_TRUE(lines[0].endsWith(": " + c.shown)) << c.what << ": " << lines[0].toStdString();
  }
}

TEST(StatusLogTest, EmptiedOnceItHoldsMoreThanTenThousandLines) {
  QPlainTextEdit memo;
  StatusLog log(&memo, [] { return false; });
  QString bulk;
  for (int i = 0; i < StatusLog::kMaxLines; ++i) bulk += QString("line %1\n").arg(i);
  bulk.chop(1);
  memo.setPlainText(bulk);
  ASSERT_EQ(log.LineCount(), 10000);
  log.Log("10001st");  // 10000 lines is not more than 10000: appended
  EXPECT_EQ(log.LineCount(), 10001);
  log.Log("verbose", true);  // dropped, nothing emptied
  EXPECT_EQ(log.LineCount(), 10001);
  log.Log("fresh start");
  const auto lines = Lines(memo);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(": fresh start"), std::string::npos);
}

TEST(StatusLogTest, MessageLineBreaksAndScrolling) {
  QPlainTextEdit memo;
  memo.resize(300, 80);
  memo.show();
  StatusLog log(&memo, [] { return false; });
  log.Log("first\r\nsecond");
  EXPECT_EQ(log.LineCount(), 2);
  EXPECT_EQ(Lines(memo)[1], "second");
  for (int i = 0; i < 50; ++i) log.Log("line " + std::to_string(i));
  QApplication::processEvents();
  EXPECT_GT(memo.verticalScrollBar()->maximum(), 0);
  EXPECT_EQ(memo.verticalScrollBar()->value(), memo.verticalScrollBar()->maximum());
  EXPECT_EQ(memo.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
}

TEST(SplashTest, LayoutAndInitialText) {
  TfrmSplashScreen fresh;
  EXPECT_EQ(fresh.windowTitle(), "Zibu - loading");
  EXPECT_EQ(fresh.size(), QSize(371, 99));
  EXPECT_EQ(fresh.Label1->text(), "Zibu is loading...please wait");
  EXPECT_EQ(fresh.Label2->text(), "Zibu");
  EXPECT_TRUE(fresh.Label2->font().bold());
  EXPECT_EQ(fresh.ProgressBar1->minimum(), 0);
  EXPECT_EQ(fresh.ProgressBar1->maximum(), 100);
}

TEST(SplashTest, ShowProgressShowsAgainAfterHiding) {
  TfrmSplashScreen* s = SplashScreen();
  EXPECT_EQ(s, SplashScreen());
  ShowProgress("Loading feeds...", 40);
  EXPECT_TRUE(s->isVisible());
  EXPECT_EQ(s->ProgressBar1->value(), 40);
  HideProgress();
  EXPECT_FALSE(s->isVisible());
  ShowProgress("Saving data...", 100);
  EXPECT_TRUE(s->isVisible());
  EXPECT_EQ(s->Label1->text(), "Saving data...");
  EXPECT_EQ(s->ProgressBar1->value(), 100);
  ShowProgress("odd", 250);
  EXPECT_EQ(s->ProgressBar1->value(), 100);
  HideProgress();
}

// The splash stays on top of every window: a message or question shown while it is up (the
// version check's failure at start-up) would be half hidden under it.
TEST(SplashTest, AMessageOrQuestionHidesTheSplashFirst) {
  struct Case {
    const char* name;
    std::function<void()> ask;
  };
  for (const Case& c : std::vector<Case>{{"message", [] { ShowMessage("Unable to check"); }},
                                         {"question", [] { AskYesNo("Visit the site?"); }}}) {
    bool splashUpDuringBox = true;
    DialogScript script;
    script.onMessage = [&](const std::string&) { splashUpDuringBox = SplashScreen()->isVisible(); };
    script.onQuestion = [&](const std::string&) {
      splashUpDuringBox = SplashScreen()->isVisible();
      return false;
    };
    SetDialogScript(script);
    ShowProgress("Checking for new version", 0);
    ASSERT_TRUE(SplashScreen()->isVisible());
    c.ask();
    EXPECT_FALSE(splashUpDuringBox) << c.name;
    ShowProgress("Saving data...", 50);
    EXPECT_TRUE(SplashScreen()->isVisible()) << c.name << ": the next progress step shows it again";
    HideProgress();
    ClearDialogScript();
  }
}

// Every link (alert link label, spider "Open page", home page, feed) goes through OpenUrl; when no
// browser takes the address the user is told, not left with a click that did nothing.
TEST(OpenUrlTest, AnAddressNoBrowserTookIsReportedInABox) {
  for (bool browserTakesIt : {true, false}) {
    std::vector<std::string> launched, messages;
    SetBrowserLaunch([&](const std::string& url) {
      launched.push_back(url);
      return browserTakesIt;
    });
    DialogScript script;
    script.onMessage = [&](const std::string& m) { messages.push_back(m); };
    SetDialogScript(script);
    OpenUrl("http://example.test/page");
    ClearDialogScript();
    SetBrowserLaunch(nullptr);
    EXPECT_EQ(launched, std::vector<std::string>{"http://example.test/page"});
    if (browserTakesIt) {
      EXPECT_TRUE(messages.empty());
    } else {
      ASSERT_EQ(messages.size(), 1u);
      EXPECT_EQ(messages[0], NoBrowserMessage("http://example.test/page"));
      EXPECT_NE(messages[0].find("http://example.test/page"), std::string::npos);
    }
  }
}

TEST(ColumnFitTest, WidthsKeepTheProportionsFillTheViewAndHonourMinimums) {
  struct Case {
    int visible;
    std::vector<int> weights, minimums, expected;
  };
  for (const Case& c : std::vector<Case>{
           {1000, {30, 60, 10}, {}, {300, 600, 100}},
           {592, {30, 60, 10}, {0, 0, 0}, {177, 356, 59}},   // remainder to the heaviest
           {592, {30, 60, 10}, {0, 0, 90}, {167, 335, 90}},  // the header needs 90
           {800, {2, 1, 1}, {60, 70, 80}, {400, 200, 200}},
           {300, {2, 1, 1}, {60, 70, 120}, {110, 70, 120}},  // one held, then another
           {100, {30, 60, 10}, {0, 0, 150}, {30, 60, 10}},   // minimums cannot fit: weights
           {0, {1, 1}, {}, {0, 0}},
       }) {
    const std::vector<int> widths = FitColumnWidths(c.visible, c.weights, c.minimums);
    EXPECT_EQ(widths, c.expected) << c.visible;
    int sum = 0;
    for (int w : widths) sum += w;
    EXPECT_EQ(sum, std::max(0, c.visible)) << c.visible;
  }
}

// With the desktop's opener: xdg-open says it found no browser only by its exit status (3), after
// it has started; that too ends in the box, while a browser that took the address shows nothing.
TEST(OpenUrlTest, TheDesktopOpenersExitStatusDecidesTheBox) {
  namespace fs = std::filesystem;
  const fs::path bin = fs::temp_directory_path() / ("zibu_opener_" + std::to_string(::getpid()));
  fs::create_directories(bin);
  const QByteArray oldPath = qgetenv("PATH");
  qputenv("PATH", QByteArray(bin.string().c_str()) + ":" + oldPath);
  for (int exitCode : {3, 0}) {
    std::ofstream(bin / "xdg-open") << "#!/bin/sh\necho \"$1\" > \"$(dirname \"$0\")/opened\"\nexit "
                                    << exitCode << "\n";
    fs::permissions(bin / "xdg-open", fs::perms::owner_all);
    fs::remove(bin / "opened");
    std::vector<std::string> messages;
    DialogScript script;
    script.onMessage = [&](const std::string& m) { messages.push_back(m); };
    SetDialogScript(script);
    OpenUrl("http://example.test/x");
    QTRY_VERIFY_WITH_TIMEOUT(fs::exists(bin / "opened"), 5000);
    if (exitCode == 0) {
      QTest::qWait(300);  // the exit status arrives after the file was written
      EXPECT_TRUE(messages.empty());
    } else {
      QTRY_COMPARE_WITH_TIMEOUT(messages.size(), size_t{1}, 5000);
      EXPECT_EQ(messages[0], NoBrowserMessage("http://example.test/x"));
    }
    ClearDialogScript();
  }
  qputenv("PATH", oldPath);
  fs::remove_all(bin);
}

// A window larger than the screen, or placed off it, opens wholly inside the available area.
TEST(PlacementTest, AWindowOpensInsideTheAvailableScreenArea) {
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  struct Case {
    QSize size;
    QPoint at;
    bool moved;
  };
  for (const Case& c : std::vector<Case>{{{1000, 680}, {0, 0}, false},
                                         {area.size() * 2, {0, 0}, false},
                                         {{300, 200}, {area.right() - 50, area.bottom() - 20}, true},
                                         {{300, 200}, {area.left() + 40, area.top() + 60}, true}}) {
    QWidget window;
    window.resize(c.size);
    if (c.moved) window.move(c.at);
    PlaceInsideScreen(&window);
    const QRect inner(window.pos() + QPoint(kFrameAllowanceSides, kFrameAllowanceTop), window.size());
    EXPECT_TRUE(area.marginsRemoved({kFrameAllowanceSides, kFrameAllowanceTop, kFrameAllowanceSides,
                                     kFrameAllowanceSides})
                    .contains(inner))
        << inner.x() << "," << inner.y() << " " << inner.width() << "x" << inner.height();
    if (c.moved && c.at == QPoint(area.left() + 40, area.top() + 60)) {
      EXPECT_EQ(window.pos(), c.at) << "a window already inside stays where it is";
    }
  }
}

TEST(BigTextTest, ReadOnlyWithoutWrapping) {
  TfrmShowBigText viewer;
  EXPECT_EQ(viewer.windowTitle(), "frmShowBigText");
  EXPECT_EQ(viewer.size(), QSize(786, 641));
  EXPECT_TRUE(viewer.Memo1->isReadOnly());
  EXPECT_EQ(viewer.Memo1->lineWrapMode(), QPlainTextEdit::NoWrap);
  EXPECT_EQ(viewer.Memo1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(viewer.Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
}

TEST(BigTextTest, ShowBigTextIsModalAndHoldsTheText) {
  std::string seen;
  bool modal = false;
  // Close the viewer as soon as it is up, reading what it shows.
  QTimer::singleShot(0, [&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* v = qobject_cast<TfrmShowBigText*>(w); v && v->isVisible()) {
        seen = FromQ(v->Memo1->toPlainText());
        modal = v->isModal();
        v->accept();
      }
    }
  });
  ShowBigText("line one\r\n" + std::string(5000, 'w'));
  EXPECT_TRUE(modal);
  EXPECT_EQ(seen, "line one\n" + std::string(5000, 'w'));
}

class LinkLabelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DialogScript script;
    script.onOpenUrl = [this](const std::string& url) { opened.push_back(url); };
    SetDialogScript(script);
  }
  void TearDown() override { ClearDialogScript(); }
  static QColor TextColor(const TLinkLabel& l) { return l.palette().color(QPalette::WindowText); }
  std::vector<std::string> opened;
};

TEST_F(LinkLabelTest, ClickMarksVisitedAndOpensUrl) {
  TLinkLabel label;
  label.setText("http://example.test/a");
  EXPECT_TRUE(label.Url.empty());
  EXPECT_FALSE(label.Visited());
  EXPECT_EQ(label.LinkColor(), QColor(0, 0, 255));
  EXPECT_EQ(label.VisitedColor(), QColor(255, 0, 0));
  EXPECT_EQ(TextColor(label), QColor(0, 0, 255));
  EXPECT_TRUE(label.font().underline());
  EXPECT_EQ(label.cursor().shape(), Qt::PointingHandCursor);

  label.Url = "http://example.test/a";
  QTest::mouseClick(&label, Qt::LeftButton);
  EXPECT_TRUE(label.Visited());
  EXPECT_EQ(TextColor(label), QColor(255, 0, 0));
  EXPECT_EQ(opened, std::vector<std::string>{"http://example.test/a"});

  // Setting a colour makes the label look unvisited again.
  label.SetVisitedColor(QColor(0, 0, 255));
  EXPECT_FALSE(label.Visited());
  EXPECT_EQ(TextColor(label), QColor(0, 0, 255));
  label.SetLinkColor(QColor(0, 128, 0));
  EXPECT_EQ(TextColor(label), QColor(0, 128, 0));
}

TEST_F(LinkLabelTest, EmptyUrlStillMarksVisited) {
  TLinkLabel label;
  QTest::mouseClick(&label, Qt::LeftButton);
  EXPECT_TRUE(label.Visited());
  EXPECT_EQ(opened, std::vector<std::string>{""});
  QTest::mouseClick(&label, Qt::RightButton);
  EXPECT_EQ(opened.size(), 1u);
}

}  // namespace
