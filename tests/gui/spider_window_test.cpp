// The spider window offscreen: its controls, a crawl over a loopback site scored with learned
// data, Stop during a download, Pause and Resume, closing mid-crawl, the open buttons, Show links
// and the drawing of the found pages.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QSplitter>
#include <QTableView>
#include <QTableWidget>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/main_form.h"
#include "common/ports.h"
#include "feeds/feeds_window.h"
#include "event_gap_probe.h"
#include "feeds_fixture.h"
#include "http/fetch.h"
#include "learning/engine.h"
#include "rating/why_window.h"
#include "spider/spider_window.h"
#include "support/loopback_server.h"
#include "themes.h"
#include "ui/dialogs.h"
#include "ui/program_services.h"
#include "ui/qtext.h"

namespace fs = std::filesystem;

namespace zibu {
namespace {

using test::Ui;

std::string Link(const std::string& path, const std::string& text) {
  return "<a href=\"" + path + "\">" + text + "</a>" + std::string(60, '.');
}

std::string S(const QString& q) {
  return FromQ(q);
}

class SpiderWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program.SetProcessMessagesInterval(0);  // every yield handles the clicks waiting for it
    SetDialogScript({.onMessage = [this](const std::string& t) { messages.push_back(t); },
                     .onQuestion = [](const std::string&) { return false; },
                     .onOpenUrl = [this](const std::string& u) { opened.push_back(u); },
                     .onChooseFile = nullptr});
    for (int i = 0; i < 5; ++i) {
      engine.LearnFromRating("jordan abdullah sand", 10);
      engine.LearnFromRating("katie", -10);
    }
    server.ServeBody("/", "<html><body>" + Link("/jordan.html", "Jordan and Abdullah") +
                              Link("/sand.html", "Sand") + Link("/katie.html", "Katie") +
                              Link("/plain.html", "Weather") + Link("/missing.html", "Missing") +
                              "</body></html>");
    server.ServeBody("/jordan.html", "<h1>King Abdullah of Jordan</h1>\r\n<p>Jordan    news</p>");
    server.ServeBody("/sand.html", "<p>Sand and Jordan</p>");
    server.ServeBody("/katie.html", "<p>Katie</p>");
    server.ServeBody("/plain.html", "<p>Cloudy weather</p>");
    server.ServeStatus("/missing.html", 404);

    window = new TfrmSpider(nullptr);
    window->SetProgram(&program);
    window->SetEngine(&engine);
    window->Crawl().SetRandomSource([](int) { return 0; });  // always the best link
    window->SetVerbose([] { return false; });
    window->SetFetcher([this](const std::string& address) {
      fetched.push_back(address);
      if (onFetch) onFetch(address);
      HttpOptions options;
      options.connectTimeoutMs = 5000;
      options.readTimeoutMs = 5000;
      return FetchPage(address, options);
    });
    window->txtStartingAddress->setText(ToQ(server.Url("/")));
    window->resize(800, 600);
    window->show();
  }

  void TearDown() override {
    delete window.data();
    ClearDialogScript();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  // Queues a user action that the crawl handles at its next yield. The download it comes with
  // takes a little while, so that yield is not within the same millisecond as the one before
  // it, which the pacing would skip.
  void DuringDownload(std::function<void()> action) {
    QTimer::singleShot(0, window, std::move(action));
    QThread::msleep(20);
  }

  // Handles events until the crawl has ended and a close it held back has happened (or the
  // window is gone).
  void WaitForTheCrawl() {
    EXPECT_TRUE(QTest::qWaitFor(
        [this] { return window.isNull() || (!window->Crawl().running() && !window->CloseRequested()); },
        20000))
        << "the crawl did not end";
  }
  void StartAndWait() {
    window->btnStart->click();
    WaitForTheCrawl();
  }

  std::string Log() const { return S(window->txtResults->toPlainText()); }
  int LogCount(const std::string& text) const {
    int n = 0;
    for (const auto& line : window->txtResults->toPlainText().split('\n'))
      if (S(line).size() >= text.size() &&
          S(line).compare(S(line).size() - text.size(), text.size(), text) == 0)
        ++n;
    return n;
  }
  std::string Cell(QTableView* grid, int row, int column) const {
    return S(grid->model()->index(row, column).data().toString());
  }
  bool Fetched(const std::string& path) const {
    for (const auto& a : fetched)
      if (a == server.Url(path)) return true;
    return false;
  }

  SilentUserPort silent;
  LearningEngine engine{silent};
  test::LoopbackServer server;
  ProgramServices program{"/"};
  QPointer<TfrmSpider> window;
  std::vector<std::string> fetched;
  std::function<void(const std::string&)> onFetch;
  std::vector<std::string> messages;
  std::vector<std::string> opened;
};

TEST_F(SpiderWindowTest, StartsIdleWithItsControlsAsDesigned) {
  EXPECT_EQ(S(window->windowTitle()), "Spider");
  EXPECT_EQ(S(window->btnStart->text()), "&Start");
  EXPECT_EQ(S(window->btnStop->text()), "S&top");
  EXPECT_EQ(S(window->btnPause->text()), "Pa&use");
  EXPECT_TRUE(window->btnStart->isEnabled());
  EXPECT_FALSE(window->btnStop->isEnabled());
  EXPECT_FALSE(window->btnPause->isEnabled());
  EXPECT_EQ(S(window->lblCurrentPage->text()), "None");
  EXPECT_EQ(S(window->lblCurrentPageDescription->text()), "");
  EXPECT_EQ(S(window->lblPagesChecked->text()), "Pages checked:0");
  EXPECT_EQ(window->tbShowRelevance->minimum(), 0);
  EXPECT_EQ(window->tbShowRelevance->maximum(), 100);
  EXPECT_EQ(window->tbShowRelevance->value(), 20);
  EXPECT_EQ(window->tbShowRelevance->pageStep(), 1);
  EXPECT_TRUE(window->cbSearchOffsiteLinks->isChecked());
  EXPECT_TRUE(window->cbSearchHigherLinks->isChecked());
  EXPECT_FALSE(window->cbShowLinks->isChecked());
  EXPECT_FALSE(window->pnlFoundLinks->isVisible());
  EXPECT_EQ(S(window->btnStart->toolTip()), "Start scanning at the specified web page");
  EXPECT_EQ(S(window->cbSearchOffsiteLinks->toolTip()), "Search links that are on other websites");
  EXPECT_EQ(S(window->cbSearchHigherLinks->toolTip())
                .rfind("Search pages on this site that are higher than the current page", 0),
            0u);
  const std::string hint = S(window->tbShowRelevance->toolTip());
  EXPECT_EQ(hint, SpiderRelevanceHint());
  EXPECT_EQ(S(window->lblShowRelevance->toolTip()), hint);
  EXPECT_EQ(S(window->Label6->toolTip()), hint);
  EXPECT_NE(hint.find("to estimate how relevant a particular page is.\r\n\r\nIf you move"),
            std::string::npos);
  EXPECT_EQ(S(window->sgLinksFound->model()->headerData(2, Qt::Horizontal).toString()), "Relevance (%)");
  EXPECT_EQ(S(window->sgPagesFound->model()->headerData(1, Qt::Horizontal).toString()), "Text");
  TfrmSpider fresh(nullptr);
  EXPECT_EQ(S(fresh.txtStartingAddress->text()), kDefaultStartingAddress);
}

TEST_F(SpiderWindowTest, CrawlsTheLoopbackSiteAndListsRelevantPagesSortedByRelevance) {
  StartAndWait();

  QTableView* pages = window->sgPagesFound;
  ASSERT_EQ(pages->model()->rowCount(), 2);
  const int jordanRow = Cell(pages, 0, 0) == server.Url("/jordan.html") ? 0 : 1;
  EXPECT_EQ(Cell(pages, jordanRow, 0), server.Url("/jordan.html"));
  EXPECT_EQ(Cell(pages, 1 - jordanRow, 0), server.Url("/sand.html"));
  EXPECT_GE(std::stoi(Cell(pages, 0, 2)), std::stoi(Cell(pages, 1, 2)));
  EXPECT_GT(std::stoi(Cell(pages, 1, 2)), 20);
  EXPECT_EQ(std::stoi(Cell(pages, jordanRow, 2)),
            engine.GetRelevance("King Abdullah of Jordan  Jordan    news"));
  EXPECT_EQ(Cell(pages, jordanRow, 1), "Jordan and Abdullah- King Abdullah of Jordan Jordan news");
  EXPECT_EQ(pages->rowHeight(0), 100);
  EXPECT_EQ(pages->rowHeight(1), 100);

  EXPECT_EQ(S(window->lblPagesFound->text()), "Pages found (2)");
  EXPECT_EQ(S(window->lblLinksFound->text()), "Links found (0)");
  EXPECT_EQ(S(window->lblPagesChecked->text()), "Pages checked:4");
  // The disliked page's link was the last in the queue.
  EXPECT_EQ(S(window->lblCurrentPage->text()), server.Url("/katie.html"));
  EXPECT_EQ(S(window->lblCurrentPageDescription->text()), "Katie");
  EXPECT_EQ(LogCount("Ran out of links!"), 1);
  EXPECT_EQ(LogCount("Stopped searching"), 1);
  EXPECT_NE(Log().find("Error downloading " + server.Url("/missing.html") + ": EHttpError: "),
            std::string::npos);
  EXPECT_EQ(Log().find("Downloading "), std::string::npos);  // verbose lines are off
  EXPECT_TRUE(window->btnStart->isEnabled());
  EXPECT_FALSE(window->btnStop->isEnabled());
  EXPECT_FALSE(window->btnPause->isEnabled());
  EXPECT_EQ(server.RequestCount("/"), 1u);

  // The next Start empties the tables first: a start page that fails leaves them empty.
  window->txtStartingAddress->setText(ToQ(server.Url("/missing.html")));
  StartAndWait();
  EXPECT_EQ(pages->model()->rowCount(), 0);
  EXPECT_EQ(LogCount("Stopped searching"), 2);
}

// A page whose title holds Cyrillic and an emoji shows it as written in the found pages, in the
// charset the page declares or the server names, and so does the description of the link to it.
TEST_F(SpiderWindowTest, FoundPagesShowThePagesOwnCharacters) {
  struct Case {
    const char* what;
    std::string page;
    std::string contentType;
    bool ownDownload;  // the window's own download, which hears the server's charset
    std::string shown;
  };
  const std::string news = "\u041D\u043E\u0432\u043E\u0441\u0442\u0438";  // in windows-1251 below
  const std::string news1251 = "\xCD\xEE\xE2\xEE\xF1\xF2\xE8";
  const std::string kot = "\u041A\u043E\u0442";
  const Case cases[] = {
      {"a UTF-8 page's meta element",
       "<html><head><meta charset=\"utf-8\"><title>" + news + " \U0001F605</title></head>Jordan Abdullah sand",
       "text/html", false, "Jordan " + kot + "- " + news + " \U0001F605 Jordan Abdullah sand"},
      {"the server's charset",
       "<html><head><title>" + news1251 + " &#128517;</title></head>Jordan Abdullah sand",
       "text/html; charset=windows-1251", true, "Jordan " + kot + "- " + news + " \U0001F605 Jordan Abdullah sand"},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string dir = "/c" + std::to_string(++n) + "/";
    server.ServeBody(dir, "<html><head><meta charset=\"utf-8\"></head><body>" +
                              Link(dir + "p.html", "Jordan " + kot) + "</body></html>");
    server.ServeBody(dir + "p.html", c.page, c.contentType);
    if (c.ownDownload) window->SetFetcher(nullptr);
    window->txtStartingAddress->setText(ToQ(server.Url(dir)));
    StartAndWait();
    QTableView* pages = window->sgPagesFound;
    ASSERT_EQ(pages->model()->rowCount(), 1) << c.what;
    EXPECT_EQ(pages->model()->index(0, 1).data().toString().toStdString(), c.shown) << c.what;
    EXPECT_EQ(window->lblCurrentPageDescription->text().toStdString(), "Jordan " + kot) << c.what;
  }
}

// The selected found page shows where its relevance stood among the recent scores.
TEST_F(SpiderWindowTest, TheSelectedFoundPageShowsWhereItsRelevanceStands) {
  struct Case {
    int earlier;  // scores of -100 recorded before the crawl
    bool told;
  };
  for (const Case& c : {Case{20, true}, Case{0, false}}) {
    SCOPED_TRACE(c.earlier);
    engine.RecentScores().Clear();
    for (int k = 0; k < c.earlier; ++k) engine.RecentScores().Add(NowMs(), -100);
    StartAndWait();
    // Scored: jordan, sand, the weather page and katie, in the order of their links.
    EXPECT_EQ(engine.RecentScores().Count(), c.earlier + 4);
    QTableView* pages = window->sgPagesFound;
    ASSERT_EQ(pages->model()->rowCount(), 2);
    const int jordanRow = Cell(pages, 0, 0) == server.Url("/jordan.html") ? 0 : 1;
    pages->setCurrentIndex(pages->model()->index(jordanRow, 0));
    // Jordan was the first page scored: above everything before it.
    EXPECT_EQ(S(window->lblPageStanding->text()),
              c.told ? "Relevance " + Cell(pages, jordanRow, 2) + " %: higher than 95 % of the 21 articles of the last "
                                                                  "7 days"
                     : "");
    pages->setCurrentIndex(pages->model()->index(1 - jordanRow, 0));
    EXPECT_EQ(S(window->lblPageStanding->text()).rfind("Relevance " + Cell(pages, 1 - jordanRow, 2) + " %: higher than ", 0),
              c.told ? 0u : std::string::npos);
    pages->setCurrentIndex(QModelIndex());
    EXPECT_EQ(S(window->lblPageStanding->text()), "");
  }
}

TEST_F(SpiderWindowTest, StopClickedDuringADownloadActsWhenItReturns) {
  window->cbShowLinks->click();
  onFetch = [this](const std::string& address) {
    if (address == server.Url("/jordan.html")) {
      EXPECT_TRUE(window->btnStop->isEnabled());
      DuringDownload([this] { window->btnStop->click(); });
    }
  };
  StartAndWait();
  EXPECT_EQ(window->sgPagesFound->model()->rowCount(), 0);  // the page was not scored
  EXPECT_EQ(S(window->lblPagesChecked->text()), "Pages checked:0");
  EXPECT_EQ(LogCount("Ran out of links!"), 0);
  EXPECT_EQ(LogCount("Stopped searching"), 1);
  EXPECT_FALSE(Fetched("/sand.html"));
  // The link queue keeps its rows after the crawl.
  EXPECT_EQ(window->sgLinksFound->model()->rowCount(), 4);
  EXPECT_TRUE(window->btnStart->isEnabled());
  EXPECT_EQ(S(window->btnPause->text()), "Pa&use");
}

TEST_F(SpiderWindowTest, PauseHoldsTheCrawlUntilResume) {
  struct Seen {
    bool start, stop, pause;
    std::string caption;
    size_t fetched;
  };
  std::vector<Seen> seen;
  onFetch = [this, &seen](const std::string& address) {
    if (address != server.Url("/jordan.html")) return;
    DuringDownload([this] { window->btnPause->click(); });
    QTimer::singleShot(600, window, [this, &seen] {
      seen.push_back({window->btnStart->isEnabled(), window->btnStop->isEnabled(),
                      window->btnPause->isEnabled(), S(window->btnPause->text()), fetched.size()});
      window->btnPause->click();
    });
  };
  StartAndWait();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_FALSE(seen[0].start);
  EXPECT_FALSE(seen[0].stop);
  EXPECT_TRUE(seen[0].pause);
  EXPECT_EQ(seen[0].caption, "Res&ume");
  EXPECT_EQ(seen[0].fetched, 2u);  // nothing was downloaded while paused
  EXPECT_EQ(LogCount("Paused"), 1);
  EXPECT_EQ(LogCount("Resumed"), 1);
  EXPECT_EQ(window->sgPagesFound->model()->rowCount(), 2);  // it went on where it left off
  EXPECT_EQ(S(window->btnPause->text()), "Pa&use");
  EXPECT_TRUE(window->btnStart->isEnabled());
}

TEST_F(SpiderWindowTest, ClosingDuringACrawlStopsItAndThenCloses) {
  onFetch = [this](const std::string& address) {
    if (address == server.Url("/jordan.html")) DuringDownload([this] { window->close(); });
  };
  // The log as it last was: the window may be gone by the time the wait ends.
  std::string lastLog;
  QPlainTextEdit* memo = window->txtResults;
  QObject::connect(memo, &QPlainTextEdit::textChanged, memo,
                   [&lastLog, memo] { lastLog = S(memo->toPlainText()); });
  bool closedWhileRunning = false;
  QObject::connect(window, &QObject::destroyed, [&] {
    closedWhileRunning = !lastLog.empty() && lastLog.find("Stopped searching") == std::string::npos;
  });
  StartAndWait();
  // The close waited for the crawl: it ended with its usual last line, without another download.
  EXPECT_EQ(fetched.size(), 2u);
  EXPECT_FALSE(closedWhileRunning);
  EXPECT_NE(lastLog.find("Stopped searching"), std::string::npos);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(window.isNull());
}

TEST_F(SpiderWindowTest, ClosingItsChildWindowDuringACrawlClosesBothAfterTheCrawl) {
  QMdiArea area;
  area.resize(900, 700);
  area.show();
  window->hide();
  QPointer<QMdiSubWindow> sub = area.addSubWindow(window);
  sub->setAttribute(Qt::WA_DeleteOnClose);
  sub->show();
  onFetch = [&sub, this](const std::string& address) {
    if (address == server.Url("/jordan.html")) DuringDownload([&sub] { sub->close(); });
  };
  StartAndWait();
  EXPECT_EQ(fetched.size(), 2u);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(window.isNull());
  EXPECT_TRUE(sub.isNull());
}

// Open page, Open Link and Why? act on the selected row; Why? explains the page's text as it was
// scored, over the window, with the words rated up first.
TEST_F(SpiderWindowTest, OpenButtonsNeedASelectedRow) {
  window->cbShowLinks->click();
  onFetch = [this](const std::string& address) {
    if (address == server.Url("/sand.html")) DuringDownload([this] { window->btnStop->click(); });
  };
  StartAndWait();
  window->sgPagesFound->setCurrentIndex(QModelIndex());
  window->sgLinksFound->setCurrentIndex(QModelIndex());
  window->btnOpenPage->click();
  window->btnOpenLink->click();
  window->btnWhy->click();
  EXPECT_EQ(messages, (std::vector<std::string>{"Please select a page!", "Please select a link!",
                                                "Please select a page!"}));
  EXPECT_TRUE(opened.empty());
  EXPECT_EQ(window->findChild<TfrmWhy*>(), nullptr);

  ASSERT_GE(window->sgPagesFound->model()->rowCount(), 1);
  ASSERT_GE(window->sgLinksFound->model()->rowCount(), 1);
  window->sgPagesFound->setCurrentIndex(window->sgPagesFound->model()->index(0, 1));
  window->btnOpenPage->click();
  window->sgLinksFound->setCurrentIndex(window->sgLinksFound->model()->index(0, 0));
  window->btnOpenLink->click();
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened[0], Cell(window->sgPagesFound, 0, 0));
  EXPECT_EQ(opened[1], Cell(window->sgLinksFound, 0, 0));
  EXPECT_EQ(LogCount("Opening " + opened[0]), 1);
  EXPECT_EQ(LogCount("Opening " + opened[1]), 1);

  // "King Abdullah of Jordan / Jordan news": JORDAN and ABDULLAH rated up five times to 50.
  ASSERT_EQ(opened[0], server.Url("/jordan.html"));
  window->btnWhy->click();
  auto* why = window->findChild<TfrmWhy*>();
  ASSERT_NE(why, nullptr);
  EXPECT_TRUE(why->isVisible());
  EXPECT_EQ(S(why->windowTitle()), "Why? Page relevance=" + Cell(window->sgPagesFound, 0, 2) + "%");
  EXPECT_EQ(S(why->lblShown->text()),
            "It was found with a relevance of " + Cell(window->sgPagesFound, 0, 2) + "%.");
  ASSERT_EQ(why->sgRaised->rowCount(), 2);
  EXPECT_EQ(S(why->sgRaised->item(0, 0)->text()) + " " + S(why->sgRaised->item(0, 3)->text()), "JORDAN +200");
  EXPECT_EQ(S(why->sgRaised->item(1, 0)->text()) + " " + S(why->sgRaised->item(1, 3)->text()),
            "ABDULLAH +100");
  EXPECT_EQ(why->sgLowered->rowCount(), 0);
  EXPECT_TRUE(why->lblChanged->isHidden());
}

// Keys only: Tab walks the controls as they stand on the screen (the tables are passed with one
// Tab each), and Alt+W, Alt+P and Alt+L press "Why?", "Open page" and "Open Link".
TEST_F(SpiderWindowTest, TabFollowsTheScreenAndTheButtonsHaveTheirOwnMnemonics) {
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.data()));
  auto walk = [this] {
    std::vector<std::string> order;
    window->txtStartingAddress->setFocus();
    for (int i = 0; i < 20; ++i) {
      order.push_back(S(QApplication::focusWidget()->objectName()));
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      if (QApplication::focusWidget() == window->txtStartingAddress) break;
    }
    return order;
  };
  using Names = std::vector<std::string>;
  // Stop and Pause are off while no crawl runs.
  EXPECT_EQ(walk(), (Names{"txtStartingAddress", "btnStart", "tbShowRelevance", "cbSearchOffsiteLinks",
                           "cbSearchHigherLinks", "cbShowLinks", "btnWhy", "btnOpenPage", "sgPagesFound",
                           "txtResults"}));
  window->cbShowLinks->click();
  EXPECT_EQ(walk(), (Names{"txtStartingAddress", "btnStart", "tbShowRelevance", "cbSearchOffsiteLinks",
                           "cbSearchHigherLinks", "cbShowLinks", "btnOpenLink", "sgLinksFound", "btnWhy",
                           "btnOpenPage", "sgPagesFound", "txtResults"}));

  window->txtResults->setFocus();
  // A mnemonic presses its button with a short animation: each click comes a moment later.
  for (Qt::Key key : {Qt::Key_H, Qt::Key_P, Qt::Key_L}) {
    const size_t before = messages.size();
    QTest::keyClick(window->txtResults, key, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return messages.size() > before; }, 2000)) << "Alt+" << char(key);
  }
  EXPECT_EQ(messages, (std::vector<std::string>{"Please select a page!", "Please select a page!",
                                                "Please select a link!"}));
  // The slider and the status log are named by their labels.
  EXPECT_EQ(window->lblShowRelevance->buddy(), window->tbShowRelevance);
}

TEST_F(SpiderWindowTest, ShowLinksSplitsTheHolderAndColumnsFollowThePanels) {
  window->cbShowLinks->click();
  QApplication::processEvents();
  EXPECT_TRUE(window->pnlFoundLinks->isVisible());
  const int h = window->pnlHolder->height();
  EXPECT_EQ(window->pnlFoundPages->height(), h - (h / 2 + 1));
  // 30:60:10 of what each table shows, the relevance header never cut, no horizontal scroll bar.
  for (QTableView* grid : {window->sgPagesFound, window->sgLinksFound}) {
    const int w = grid->viewport()->width();
    const int c0 = grid->columnWidth(0), c1 = grid->columnWidth(1), c2 = grid->columnWidth(2);
    EXPECT_EQ(c0 + c1 + c2, w) << grid->objectName().toStdString();
    EXPECT_GE(c2, grid->horizontalHeader()->sectionSizeHint(2));
    EXPECT_NEAR(c1, 2 * c0, 2);
    EXPECT_EQ(grid->horizontalScrollBar()->maximum(), 0);
  }
  window->cbShowLinks->click();
  QApplication::processEvents();
  EXPECT_FALSE(window->pnlFoundLinks->isVisible());
  EXPECT_EQ(window->pnlFoundPages->height(), window->pnlHolder->height());
}

TEST_F(SpiderWindowTest, TheSelectedFoundPageIsHighlightedAndEveryTextStaysInItsRow) {
  StartAndWait();
  QTableView* pages = window->sgPagesFound;
  ASSERT_EQ(pages->model()->rowCount(), 2);
  pages->setCurrentIndex(pages->model()->index(1, 0));
  QApplication::processEvents();
  const QColor highlight = pages->palette().color(QPalette::Highlight);
  const QColor base = pages->palette().color(QPalette::Base);
  {
    const QImage image = pages->viewport()->grab().toImage();
    const QRect selected = pages->visualRect(pages->model()->index(1, 2));
    const QRect other = pages->visualRect(pages->model()->index(0, 2));
    // The relevance text is short: the middle-right of its cell is background.
    const QPoint inSelected(selected.right() - 3, selected.center().y() + 20);
    const QPoint inOther(other.right() - 3, other.center().y() + 20);
    EXPECT_EQ(image.pixelColor(inSelected), highlight);
    EXPECT_EQ(image.pixelColor(inOther), base);
  }
  // Its text is readable on the highlight, in the light theme and in a dark one.
  for (const QPalette& palette : {pages->palette(), DarkPalette()}) {
    pages->setPalette(palette);
    QApplication::processEvents();
    const QRect selected = pages->visualRect(pages->model()->index(1, 2));
    EXPECT_GE(DrawnContrast(pages->viewport(), selected), kReadableContrast);
  }
  // A font so large that every text wraps to more lines than a row is high: nothing is drawn
  // below the last row.
  QFont huge = pages->font();
  huge.setPixelSize(70);
  pages->setFont(huge);
  pages->resize(pages->width(), 2 * 100 + 200 + pages->horizontalHeader()->height());
  QApplication::processEvents();
  const QImage image = pages->viewport()->grab().toImage();
  const QColor background = pages->palette().color(QPalette::Base);
  const int below = pages->rowViewportPosition(1) + pages->rowHeight(1);
  ASSERT_LT(below + 20, image.height());
  int painted = 0;
  for (int y = below + 1; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (image.pixelColor(x, y) != background) ++painted;
  EXPECT_EQ(painted, 0) << "pixels painted below the last row";
  // An address wider than its cell starts on the cell's first line, not below it.
  const QRect address = pages->visualRect(pages->model()->index(1, 0));
  int firstLine = 0;
  for (int y = address.top() + 2; y < address.top() + 60; ++y)
    for (int x = address.left() + 2; x < address.right() - 2; ++x)
      if (image.pixelColor(x, y) != image.pixelColor(address.left() + 2, address.top() + 2)) ++firstLine;
  EXPECT_GT(firstLine, 0) << "the address is not on the first line of its cell";
}

// A page whose server does not answer must not freeze the windows: the real download runs on a
// worker while the window goes on handling events, and Stop abandons it at once.
TEST_F(SpiderWindowTest, ASilentServerFreezesNothingAndStopEndsTheCrawlAtOnce) {
  server.ServeDelayed("/silent", 30000, "<html></html>");
  window->SetFetcher(nullptr);  // the window's own download, default time-outs
  window->txtStartingAddress->setText(ToQ(server.Url("/silent")));
  int64_t stoppedAt = -1;
  test::EventGapProbe probe([&](int64_t now) {
    if (stoppedAt < 0 && now >= 600) {
      stoppedAt = now;
      window->btnStop->click();
    }
  });
  probe.Start();
  window->btnStart->click();  // returns at once
  const int64_t clickTook = probe.Elapsed();
  const bool crawlingAfterClick = window->Crawl().running();
  WaitForTheCrawl();
  const int64_t ended = probe.Elapsed();
  probe.Stop();

  // Start hands the download to a worker and returns: nothing waits on this thread.
  EXPECT_LT(clickTook, 100);
  EXPECT_TRUE(crawlingAfterClick);

  ASSERT_GE(stoppedAt, 0) << "the crawl ended before Stop, after " << ended << " ms";
  EXPECT_LT(probe.UnexplainedGap(), 200) << probe.Describe();
  EXPECT_LT(ended - stoppedAt, 1000) << "Stop took that long to end the crawl";
  EXPECT_NE(Log().find("cancelled"), std::string::npos) << Log();
  EXPECT_TRUE(window->btnStart->isEnabled());
}

TEST_F(SpiderWindowTest, TheFeedsTimerIsHeldForTheWholeCrawl) {
  const fs::path home = fs::temp_directory_path() / ("zibu_spider_" + std::to_string(::getpid()));
  fs::remove_all(home);
  fs::create_directories(home);
  program.SetHomeFolder(home.string());
  {
    FeedsSession session(program.HomeFolder());
    TfrmFeeds feeds(session, program);
    TMainForm frame(program);
    frame.AttachFeeds(&session, &feeds);
    feeds.StartTimer();
    // A scan under way when the crawl starts is cancelled by it.
    ASSERT_NE(session.StartScan(ScanKind::ActiveFeeds), nullptr);
    EXPECT_FALSE(session.CancelRequested());
    window->SetFrame(&frame);
    window->SetScanControl(&session);
    bool heldDuringCrawl = true;
    onFetch = [&](const std::string&) { heldDuringCrawl = heldDuringCrawl && !Ui(feeds).Timer1->isActive(); };
    StartAndWait();
    EXPECT_TRUE(heldDuringCrawl);
    EXPECT_TRUE(session.CancelRequested());
    EXPECT_TRUE(Ui(feeds).Timer1->isActive());
    feeds.StopTimer();
    window->SetFrame(nullptr);
    window->SetScanControl(nullptr);
  }
  fs::remove_all(home);
}

}  // namespace
}  // namespace zibu
