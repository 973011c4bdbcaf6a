// The feeds window's handlers, driven offscreen with a scripted user.
#include "feeds/feeds_window.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <functional>
#include <QElapsedTimer>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QStyle>
#include <QTest>
#include <QTextCursor>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/settings.h"
#include "feeds/feed_scan.h"
#include "feeds/opml.h"
#include "rules/keyword_rules.h"
#include "feeds_fixture.h"
#include "learning/engine.h"
#include "rules/keyword_rules.h"
#include "support/loopback_server.h"
#include "ui/dialogs.h"
#include "ui/program_services.h"
#include "ui/qtext.h"

namespace zibu {
namespace {

namespace fs = std::filesystem;
using test::FeedsPair;
using test::Ui;

class FeedsWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = fs::temp_directory_path() / ("zibu_feeds_window_" + std::to_string(::getpid()) + "_" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(home_);
    fs::create_directories(home_);
    program_.SetHomeFolder(home_.string());
    DialogScript script;
    script.onMessage = [this](const std::string& m) { messages_.push_back(m); };
    script.onQuestion = [this](const std::string& q) {
      questions_.push_back(q);
      return answer_;
    };
    script.onOpenUrl = [this](const std::string& u) { opened_.push_back(u); };
    SetDialogScript(script);
    session_ = std::make_unique<FeedsSession>(program_.HomeFolder());
    session_->SetClock(&program_.ProgramClock());
    window_ = std::make_unique<TfrmFeeds>(*session_, program_);
  }
  void TearDown() override {
    window_.reset();
    session_.reset();
    ClearDialogScript();
    fs::remove_all(home_);
  }

  std::string ConfPath() const { return home_.string() + "/zibu.conf"; }
  void WriteConf(const std::string& text) { std::ofstream(ConfPath(), std::ios::binary) << text; }
  std::string ReadConf() const {
    std::ifstream in(ConfPath(), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  // A fresh session and window that load zibu.conf, as at start-up.
  std::unique_ptr<FeedsPair> Reload() {
    auto w = std::make_unique<FeedsPair>(program_);
    SettingsFile file(ConfPath());
    w->session->LoadConfig(file);
    return w;
  }
  std::string StatusText() const { return FromQ(Ui(window_).txtResults->toPlainText()); }
  bool StatusHas(const std::string& text) const { return StatusText().find(text) != std::string::npos; }

  void AddFeed(const std::string& url, const std::string& refresh = "300", const std::string& keywords = "") {
    Ui(window_).txtAddFeedURL->setText(ToQ(url));
    Ui(window_).txtKeywords->setPlainText(ToQ(keywords));
    Ui(window_).txtRefreshInterval->setText(ToQ(refresh));
    Ui(window_).btnAddFeed->click();
  }

  fs::path home_;
  ProgramServices program_{"/"};
  std::unique_ptr<FeedsSession> session_;
  std::unique_ptr<TfrmFeeds> window_;
  std::vector<std::string> messages_, questions_, opened_;
  bool answer_ = true;
};

TEST_F(FeedsWindowTest, StartsWithItsCaptionsAndTheTimerStopped) {
  EXPECT_EQ(Ui(window_).lblRefreshInterval->text(), "Refresh Interval (seconds, min 60)");
  EXPECT_EQ(Ui(window_).txtRefreshInterval->text(), "60");
  EXPECT_FALSE(Ui(window_).btnUpdate->isEnabled());
  EXPECT_FALSE(Ui(window_).btnCancel->isEnabled());
  EXPECT_FALSE(Ui(window_).btnUnitTests->isVisibleTo(window_.get()));
  EXPECT_FALSE(Ui(window_).btnCheckRel->isVisibleTo(window_.get()));
  EXPECT_FALSE(Ui(window_).cbCommonIntervals->isVisibleTo(window_.get()));
  EXPECT_EQ(Ui(window_).cbCommonIntervals->count(), 11);
  EXPECT_EQ(Ui(window_).tbShowRelevance->toolTip(), Ui(window_).lblShowRelevance->toolTip());
  EXPECT_EQ(Ui(window_).tbShowRelevance->toolTip(), Ui(window_).lblShowRelevanceHigh->toolTip());
  EXPECT_TRUE(Ui(window_).tbShowRelevance->toolTip().startsWith("As you provide feedback"));
  EXPECT_EQ(Ui(window_).Timer1->interval(), 60000);
  EXPECT_FALSE(Ui(window_).Timer1->isActive());
  EXPECT_TRUE(fs::is_directory(home_ / "temp"));
  EXPECT_TRUE(fs::is_directory(home_ / "data" / "backup"));

  WriteConf("[main]\n");
  auto loaded = Reload();
  EXPECT_TRUE(Ui(loaded).Timer1->isActive());  // only at the end of the load
}

TEST_F(FeedsWindowTest, LoadConfigHandsTheLearningParametersOn) {
  WriteConf("[main]\nminWordLength=3\nmaxWordLength=9\nmaxWordWeight=500\nsaveConfigInterval=2\n");
  auto w = Reload();
  EXPECT_EQ(w->session->Engine().minWordLength(), 3);
  EXPECT_EQ(w->session->Engine().maxWordLength(), 9);
  EXPECT_EQ(w->session->Engine().maxWordWeight(), 127);  // weights are signed bytes
  EXPECT_EQ(w->session->Scanner().saveConfigIntervalMs, 120000);
  EXPECT_GT(w->session->Scanner().lastSaveTime, 0);
  WriteConf("[main]\n");
  w = Reload();
  EXPECT_EQ(w->session->Engine().maxWordWeight(), 50);
  EXPECT_EQ(w->session->Scanner().saveConfigIntervalMs, 600000);
  EXPECT_EQ(w->window->Threshold(), 30);
  EXPECT_EQ(w->window->ResultsFormat(), 0);
}

// A shown-article memory that cannot be read at all is named in a message box with the problem;
// the load goes on, and the file is left out of the saves of the run.
TEST_F(FeedsWindowTest, AShownMemoryThatCannotBeReadIsReportedAndKept) {
  WriteConf("[main]\n");
  const fs::path shown = home_ / "data" / "shownfeedurls.dat";
  fs::create_directories(shown / "inside");  // a folder where the file should be
  auto w = Reload();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].rfind("I could not read " + shown.string() + ": ", 0), 0u) << messages_[0];
  EXPECT_NE(messages_[0].find("I will not save that file in this run"), std::string::npos);
  EXPECT_TRUE(Ui(w).Timer1->isActive());  // the load went on to its end
  EXPECT_FALSE(w->session->SavesHeld());
  w->session->ShownUrls().Add("http://new.example/", 1796806800000LL);
  w->session->SaveData();
  EXPECT_TRUE(fs::is_directory(shown / "inside"));
  fs::remove_all(shown);
  messages_.clear();
  w = Reload();  // readable again (missing): nothing to say
  EXPECT_TRUE(messages_.empty());
}

TEST_F(FeedsWindowTest, AddAcceptsHttpOnlyAndSaves) {
  AddFeed("ftp://files.example/rss");
  EXPECT_EQ(messages_, std::vector<std::string>{"Feed URL must start with http:// or https://"});
  EXPECT_TRUE(session_->Feeds().empty());
  EXPECT_EQ(Ui(window_).lbFeeds->count(), 0);

  messages_.clear();
  AddFeed("HTTP://127.0.0.1/rss", "10", "1:a\n0:b\n");
  EXPECT_TRUE(messages_.empty());
  ASSERT_EQ(session_->Feeds().size(), 1u);
  const TFeed& f = session_->Feeds()[0];
  EXPECT_EQ(f.url, "HTTP://127.0.0.1/rss");
  EXPECT_EQ(f.refreshInterval, 10);  // no minimum when adding
  EXPECT_EQ(f.keywords, (std::vector<std::string>{"1:a", "0:b"}));
  EXPECT_EQ(window_->SelectedFeed(), 0);
  EXPECT_TRUE(StatusHas("Added new feed"));
  EXPECT_NE(ReadConf().find("feed.0.keywords=1:aCRLF0:bCRLF"), std::string::npos) << ReadConf();
  EXPECT_NE(ReadConf().find("feedCount=1"), std::string::npos);

  AddFeed("http://127.0.0.1/other", "ten");
  ASSERT_EQ(session_->Feeds().size(), 2u);
  EXPECT_EQ(session_->Feeds()[1].refreshInterval, 300);
}

TEST_F(FeedsWindowTest, ImportAndExportOfOpmlFiles) {
  AddFeed("https://lwn.net/headlines/rss", "600", "1:kernel");
  const std::string other = std::string(ZIBU_TEST_DATA_DIR) + "/feeds/other_reader.opml";
  const std::string bad = (home_ / "bad.opml").string();
  std::ofstream(bad) << "<opml><body><outline xmlUrl=\"http://x.example/\">";
  const std::string out = (home_ / "out.opml").string();
  std::string chosen;
  DialogScript script;
  script.onMessage = [this](const std::string& m) { messages_.push_back(m); };
  script.onChooseFile = [&](const std::string&) { return chosen; };
  SetDialogScript(script);

  struct Step {
    QPushButton* button;
    std::string file;     // what the user picks; empty: cancels
    std::string message;  // part of the box shown; empty: none
    size_t feeds;
    int rows;  // the feeds and the headings of their folders
  };
  const Step steps[] = {
      {Ui(window_).btnImportOpml, "", "", 1, 1},
      {Ui(window_).btnImportOpml, bad, "is never closed.\r\n\r\nNo feed was added.", 1, 1},
      {Ui(window_).btnImportOpml, other,
       "I added 4 feeds from the OPML file; 2 were already in the list; 1 entry is not an http or https "
       "address.",
       5, 8},
      {Ui(window_).btnImportOpml, other, "I added 0 feeds", 5, 8},
      {Ui(window_).btnExportOpml, "", "", 5, 8},
      {Ui(window_).btnExportOpml, out, "I wrote 5 feeds to " + out + ".", 5, 8},
      {Ui(window_).btnExportOpml, (home_ / "no" / "such" / "folder.opml").string(), "I could not export", 5, 8},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(FromQ(step.button->text()) + " " + step.file);
    messages_.clear();
    const std::string confBefore = ReadConf();
    chosen = step.file;
    step.button->click();
    if (step.message.empty()) {
      EXPECT_TRUE(messages_.empty());
    } else {
      ASSERT_EQ(messages_.size(), 1u);
      EXPECT_NE(messages_[0].find(step.message), std::string::npos) << messages_[0];
    }
    EXPECT_EQ(session_->Feeds().size(), step.feeds);
    EXPECT_EQ(Ui(window_).lbFeeds->count(), step.rows);
    if (step.message.rfind("I added 4", 0) != 0) {
      EXPECT_EQ(ReadConf(), confBefore);
    }
  }
  // The import is in zibu.conf at once and in the log; the export gives the list back.
  EXPECT_NE(ReadConf().find("feed.4.url=https://planet.debian.org/atom.xml"), std::string::npos);
  EXPECT_TRUE(StatusHas(
      "OPML: added https://www.lemonde.fr/international/rss_full.xml (Le Monde \x96 International)"));
  std::ifstream in(out, std::ios::binary);
  const std::string exported((std::istreambuf_iterator<char>(in)), {});
  const std::vector<OpmlFeed> back = ReadOpml(exported);
  ASSERT_EQ(back.size(), 5u);
  EXPECT_EQ(back[0].feed.keywords, std::vector<std::string>{"1:kernel"});
  EXPECT_EQ(back[0].feed.refreshInterval, 600);
  EXPECT_EQ(back[4].feed.url, "https://planet.debian.org/atom.xml");
  EXPECT_EQ(back[4].feed.title, "Planet <Debian>");
  EXPECT_EQ(back[4].feed.folder, "Tech");
  // Not while a scan runs.
  window_->EnableControls(false);
  EXPECT_FALSE(Ui(window_).btnImportOpml->isEnabled());
  EXPECT_FALSE(Ui(window_).btnExportOpml->isEnabled());
  window_->EnableControls(true);
}

TEST_F(FeedsWindowTest, UpdateRaisesATooSmallIntervalTo60) {
  AddFeed("http://127.0.0.1/rss", "10");
  Ui(window_).lbFeeds->setCurrentRow(-1);
  Ui(window_).lbFeeds->setCurrentRow(0);  // the user selects it
  EXPECT_EQ(Ui(window_).txtRefreshInterval->text(), "10");
  EXPECT_FALSE(Ui(window_).btnUpdate->isEnabled());
  Ui(window_).txtKeywords->setPlainText("1:x\n");
  EXPECT_TRUE(Ui(window_).btnUpdate->isEnabled());
  Ui(window_).btnUpdate->click();
  EXPECT_EQ(session_->Feeds()[0].refreshInterval, 60);
  EXPECT_EQ(Ui(window_).txtRefreshInterval->text(), "10");  // the box keeps what was typed
  EXPECT_TRUE(StatusHas("Invalid refresh interval, setting to default value 60"));
  EXPECT_TRUE(StatusHas("Feed details updated"));
  EXPECT_FALSE(Ui(window_).btnUpdate->isEnabled());
  EXPECT_NE(ReadConf().find("feed.0.refreshInterval=60"), std::string::npos);
  EXPECT_NE(ReadConf().find("feed.0.keywords=1:xCRLF"), std::string::npos);
}

TEST_F(FeedsWindowTest, TypingAnAddressPreparesANewFeed) {
  AddFeed("http://127.0.0.1/a", "900", "1:a");
  Ui(window_).cbActive->setChecked(false);
  EXPECT_FALSE(session_->Feeds()[0].active);  // the box's reaction applied it
  Ui(window_).txtAddFeedURL->setText("http://127.0.0.1/b");
  EXPECT_EQ(window_->SelectedFeed(), -1);
  EXPECT_TRUE(Ui(window_).cbActive->isChecked());
  EXPECT_TRUE(Ui(window_).txtKeywords->toPlainText().isEmpty());
  EXPECT_EQ(Ui(window_).txtRefreshInterval->text(), "300");
  EXPECT_FALSE(Ui(window_).btnUpdate->isEnabled());
  // The feed that was selected is untouched.
  EXPECT_FALSE(session_->Feeds()[0].active);
  EXPECT_EQ(session_->Feeds()[0].keywords, std::vector<std::string>{"1:a"});
}

TEST_F(FeedsWindowTest, KeywordsSurviveARestartThroughZibuConf) {
  std::string longRule = "1:";
  while (longRule.size() < 2600) longRule += "term" + std::to_string(longRule.size()) + ",";
  AddFeed("http://127.0.0.1/a", "300", "1:a\n\n0:b\n" + longRule + "\n");
  auto w = Reload();
  ASSERT_EQ(w->session->Feeds().size(), 1u);
  EXPECT_EQ(w->session->Feeds()[0].keywords, (std::vector<std::string>{"1:a", "", "0:b", longRule}));
  EXPECT_EQ(w->window->SelectedFeed(), 0);
  EXPECT_EQ(FromQ(Ui(w).txtKeywords->toPlainText()), "1:a\n\n0:b\n" + longRule + "\n");

  // A value far too long for rules (a damaged file) is bounded as it is loaded, so the box that
  // shows it and the scans that match it stay quick.
  WriteConf("[main]\nfeedCount=1\n[rss]\nfeed.0.url=http://127.0.0.1/a\nfeed.0.keywords=1:aCRLF1:" +
            std::string(10u << 20, 'k') + "CRLF1:b\n");
  w = Reload();
  EXPECT_EQ(w->session->Feeds()[0].keywords, (std::vector<std::string>{"1:a", "1:b"}));
  EXPECT_EQ(FromQ(Ui(w).txtKeywords->toPlainText()), "1:a\n1:b\n");
  EXPECT_NE(FromQ(Ui(w).txtResults->toPlainText()).find(KeywordsTooLongLine("http://127.0.0.1/a", 1)), std::string::npos);

  WriteConf("[main]\nfeedCount=1\n[rss]\nfeed.0.url=http://127.0.0.1/a\nfeed.0.keywords=1:acrlfb\n");
  w = Reload();
  EXPECT_EQ(w->session->Feeds()[0].keywords, (std::vector<std::string>{"1:a", "b"}));
  // Missing active and refresh-interval keys.
  EXPECT_TRUE(Ui(w).cbActive->isChecked());
  EXPECT_TRUE(w->session->Feeds()[0].active);
  EXPECT_EQ(Ui(w).txtRefreshInterval->text(), "300");
}

TEST_F(FeedsWindowTest, DeletingFeedOneOfThree) {
  AddFeed("http://127.0.0.1/0");
  AddFeed("http://127.0.0.1/1");
  AddFeed("http://127.0.0.1/2", "300", "1:two");
  AddFeed("http://127.0.0.1/0");  // the same address twice: its kept copy stays until both go
  // Copies kept from earlier downloads: the deleted feed's goes with it, the others stay.
  std::vector<std::string> kept;
  for (const char* url : {"http://127.0.0.1/0", "http://127.0.0.1/1", "http://127.0.0.1/2"}) {
    kept.push_back(session_->TempDir() + CachedFeedFileName(url));
    std::ofstream(kept.back()) << "<rss/>";
  }
  Ui(window_).lbFeeds->setCurrentRow(3);
  Ui(window_).btnDelete->click();
  ASSERT_EQ(session_->Feeds().size(), 3u);
  EXPECT_TRUE(fs::exists(kept[0]));
  questions_.clear();
  Ui(window_).txtAddFeedURL->setText("http://127.0.0.1/new");  // nothing selected now
  Ui(window_).btnDelete->click();
  EXPECT_EQ(messages_, std::vector<std::string>{"Please select a feed to delete"});
  EXPECT_EQ(session_->Feeds().size(), 3u);

  Ui(window_).lbFeeds->setCurrentRow(1);
  answer_ = false;
  Ui(window_).btnDelete->click();
  EXPECT_EQ(questions_, std::vector<std::string>{"Delete feed?"});
  EXPECT_EQ(session_->Feeds().size(), 3u);

  answer_ = true;
  Ui(window_).btnDelete->click();
  ASSERT_EQ(session_->Feeds().size(), 2u);
  EXPECT_EQ(Ui(window_).lbFeeds->count(), 2);
  EXPECT_EQ(Ui(window_).lbFeeds->item(1)->text(), "http://127.0.0.1/2");
  EXPECT_TRUE(StatusHas("Deleted feed 1"));
  EXPECT_EQ(std::vector<bool>({fs::exists(kept[0]), fs::exists(kept[1]), fs::exists(kept[2])}),
            std::vector<bool>({true, false, true}));
  EXPECT_TRUE(Ui(window_).Timer1->isActive());  // started again after the deletion
  // Nothing is selected, so nothing of the deleted feed stays in the boxes.
  for (const QString& box : {Ui(window_).txtAddFeedURL->text(), Ui(window_).txtKeywords->toPlainText(),
                             Ui(window_).txtRefreshInterval->text()})
    EXPECT_TRUE(box.isEmpty()) << FromQ(box);
  EXPECT_FALSE(Ui(window_).btnUpdate->isEnabled());
  const std::string conf = ReadConf();
  EXPECT_NE(conf.find("feedCount=2"), std::string::npos);
  EXPECT_NE(conf.find("feed.1.url=http://127.0.0.1/2"), std::string::npos);
  EXPECT_NE(conf.find("feed.2.url=http://127.0.0.1/2"), std::string::npos);  // stale, unread
  auto w = Reload();
  ASSERT_EQ(w->session->Feeds().size(), 2u);
  EXPECT_EQ(w->session->Feeds()[1].keywords, std::vector<std::string>{"1:two"});
}

TEST_F(FeedsWindowTest, AllActiveAndAllInactive) {
  AddFeed("http://127.0.0.1/0");
  AddFeed("http://127.0.0.1/1");
  Ui(window_).btnAllInactive->click();
  EXPECT_FALSE(session_->Feeds()[0].active || session_->Feeds()[1].active);
  EXPECT_FALSE(Ui(window_).cbActive->isChecked());
  EXPECT_NE(ReadConf().find("feed.1.active=0"), std::string::npos);
  Ui(window_).btnAllActive->click();
  EXPECT_TRUE(session_->Feeds()[0].active && session_->Feeds()[1].active);
  EXPECT_NE(ReadConf().find("feed.0.active=1"), std::string::npos);
}

// The list tells the inactive feeds in words (which a screen reader reads too) and in italics,
// as soon as a feed's state changes, by Update or by the All buttons.
TEST_F(FeedsWindowTest, TheListMarksTheInactiveFeeds) {
  AddFeed("http://127.0.0.1/0");
  AddFeed("http://127.0.0.1/1");
  AddFeed("http://127.0.0.1/2");
  auto* list = Ui(window_).lbFeeds;
  const auto marks = [&] {
    std::string out;
    for (int r = 0; r < list->count(); ++r) {
      const bool said = list->item(r)->text().endsWith(" (inactive)");
      EXPECT_EQ(said, list->item(r)->font().italic()) << r;
      out += said ? 'i' : 'a';
    }
    return out;
  };
  const struct {
    const char* step;
    std::function<void()> act;
    std::string marks;
  } steps[] = {
      {"all active at first", [] {}, "aaa"},
      {"the second made inactive",
       [&] {
         list->setCurrentRow(1);
         Ui(window_).cbActive->setChecked(false);
         Ui(window_).btnUpdate->click();
       },
       "aia"},
      {"all inactive", [&] { Ui(window_).btnAllInactive->click(); }, "iii"},
      {"the first made active",
       [&] {
         list->setCurrentRow(0);
         Ui(window_).cbActive->setChecked(true);
         Ui(window_).btnUpdate->click();
       },
       "aii"},
      {"all active", [&] { Ui(window_).btnAllActive->click(); }, "aaa"},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.step);
    step.act();
    EXPECT_EQ(marks(), step.marks);
    for (int r = 0; r < list->count(); ++r)
      EXPECT_EQ(FromQ(list->item(r)->text()).rfind("http://127.0.0.1/" + std::to_string(r), 0), 0u);
  }
}

// Several feeds picked with Ctrl or Shift go with one question naming how many, each with its
// status line; No keeps them all.
TEST_F(FeedsWindowTest, SeveralFeedsAreDeletedWithOneQuestion) {
  const struct {
    const char* name;
    std::vector<int> rows;  // picked, the first with a plain click
    bool answer;
    std::string question;
    std::vector<std::string> left;
  } cases[] = {
      {"three, yes", {0, 2, 3}, true, "Delete 3 feeds?", {"http://127.0.0.1/1"}},
      {"two, no", {1, 3}, false, "Delete 2 feeds?", {"/0", "/1", "/2", "/3"}},
      {"one", {2}, true, "Delete feed?", {"/0", "/1", "/3"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    while (!session_->Feeds().empty()) {
      Ui(window_).lbFeeds->setCurrentRow(0);
      answer_ = true;
      Ui(window_).btnDelete->click();
    }
    for (int i = 0; i < 4; ++i) AddFeed("http://127.0.0.1/" + std::to_string(i));
    auto* list = Ui(window_).lbFeeds;
    list->setCurrentRow(c.rows.front());
    for (size_t k = 1; k < c.rows.size(); ++k)
      list->setCurrentRow(c.rows[k], QItemSelectionModel::Select);
    questions_.clear();
    answer_ = c.answer;
    Ui(window_).btnDelete->click();
    EXPECT_EQ(questions_, std::vector<std::string>{c.question});
    std::vector<std::string> left;
    for (const TFeed& feed : session_->Feeds()) left.push_back(feed.url);
    std::vector<std::string> expected;
    for (const std::string& l : c.left) expected.push_back(l[0] == '/' ? "http://127.0.0.1" + l : l);
    EXPECT_EQ(left, expected);
    EXPECT_EQ(list->count(), static_cast<int>(expected.size()));
    if (c.answer) {
      for (int row : c.rows)
        EXPECT_TRUE(StatusHas("Deleted feed " + std::to_string(row) + ": http://127.0.0.1/" + std::to_string(row)));
    }
  }
  EXPECT_NE(ReadConf().find("feedCount=3"), std::string::npos);
}

TEST_F(FeedsWindowTest, CommonIntervalsFollowTheIntervalBox) {
  AddFeed("http://127.0.0.1/0", "300");
  window_->show();
  window_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  Ui(window_).txtRefreshInterval->setFocus(Qt::TabFocusReason);
  QApplication::processEvents();
  EXPECT_TRUE(Ui(window_).cbCommonIntervals->isVisible());
  EXPECT_EQ(Ui(window_).cbCommonIntervals->currentIndex(), 1);  // "5 minutes (300)"

  Ui(window_).cbCommonIntervals->setFocus(Qt::TabFocusReason);
  QApplication::processEvents();
  EXPECT_TRUE(Ui(window_).cbCommonIntervals->isVisible());  // it keeps showing while in use
  // Opening its list the first time moves the focus away by other ways than the user leaving (a
  // window manager takes it for the new pop-up); none of them hides the drop-down.
  for (Qt::FocusReason reason : {Qt::PopupFocusReason, Qt::ActiveWindowFocusReason, Qt::OtherFocusReason}) {
    QFocusEvent away(QEvent::FocusOut, reason);
    QApplication::sendEvent(Ui(window_).cbCommonIntervals, &away);
    EXPECT_TRUE(Ui(window_).cbCommonIntervals->isVisible()) << reason;
  }
  Ui(window_).cbCommonIntervals->setCurrentIndex(7);  // the user picks "4 hours (14440)"
  window_->cbCommonIntervalsChange(7);
  EXPECT_EQ(Ui(window_).txtRefreshInterval->text(), "14440");
  EXPECT_EQ(session_->Feeds()[0].refreshInterval, 14440);

  Ui(window_).txtKeywords->setFocus(Qt::TabFocusReason);
  QApplication::processEvents();
  EXPECT_FALSE(Ui(window_).cbCommonIntervals->isVisible());

  // An interval no item names leaves the drop-down's choice alone.
  Ui(window_).txtRefreshInterval->setText("1234");
  Ui(window_).txtRefreshInterval->setFocus(Qt::TabFocusReason);
  QApplication::processEvents();
  EXPECT_EQ(Ui(window_).cbCommonIntervals->currentIndex(), 7);
  Ui(window_).txtKeywords->setFocus(Qt::TabFocusReason);  // leaving applies the interval
  QApplication::processEvents();
  EXPECT_EQ(session_->Feeds()[0].refreshInterval, 1234);
  EXPECT_FALSE(Ui(window_).cbCommonIntervals->isVisible());
}

TEST_F(FeedsWindowTest, LeavingTheKeywordBoxFixesItsLinesAndRefusesCrlf) {
  const std::string fixedMessage =
      "Each keyword line must begin with 1: or 0: to indicate whether active or not.  I have fixed this for "
      "you.";
  struct Case {
    std::string typed;
    std::string shown;
    std::vector<std::string> messages, keywords;
  };
  const std::string tooLong = "1:" + std::string(kMaxKeywordLineBytes, 'w');
  AddFeed("http://127.0.0.1/0");
  window_->show();
  window_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  for (const Case& c : std::vector<Case>{
           {"nuclear\nx\nfilm,!cartoon\n",
            "1:nuclear\nx\n1:film,!cartoon\n",
            {fixedMessage},
            {"1:nuclear", "x", "1:film,!cartoon"}},
           // Stored as one line with CRLF between lines, it would come back as 1:beta and an active
           // " gamma" after a restart.
           {"1:alpha\n1:beta crlf gamma", "1:alpha", {CrlfLinesMessage({"1:beta crlf gamma"})}, {"1:alpha"}},
           {"Crlf\ndelta", "1:delta", {CrlfLinesMessage({"Crlf"}), fixedMessage}, {"1:delta"}},
           // Tabs can only have been pasted: they leave the line, which stays.
           {"1:storm,\train\n0:calm",
            "1:storm,rain\n0:calm",
            {TabLinesMessage({"1:storm,rain"})},
            {"1:storm,rain", "0:calm"}},
           {"1:\t\t\t\n\tfog", "1:\n1:fog", {TabLinesMessage({"1:", "fog"}), fixedMessage}, {"1:", "1:fog"}},
           // A paste too long to be rules, which would stall the box and every scan.
           {"1:a\n" + tooLong + "\n1:b", "1:a\n1:b", {KeywordsTooLongMessage(1)}, {"1:a", "1:b"}},
       }) {
    messages_.clear();
    Ui(window_).txtKeywords->setFocus(Qt::TabFocusReason);
    Ui(window_).txtKeywords->setPlainText(ToQ(c.typed));
    Ui(window_).txtAddFeedURL->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
    EXPECT_EQ(FromQ(Ui(window_).txtKeywords->toPlainText()), c.shown) << c.typed;
    EXPECT_EQ(messages_, c.messages) << c.typed;
    EXPECT_EQ(session_->Feeds()[0].keywords, c.keywords) << c.typed;
  }
}

// Keys only: Tab and Shift+Tab leave the Keywords box, and no Tab writes into it.
TEST_F(FeedsWindowTest, TabLeavesTheKeywordBoxAndWritesNothingIntoIt) {
  AddFeed("http://127.0.0.1/0", "300", "1:storm");
  window_->show();
  window_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  QPlainTextEdit* keywords = Ui(window_).txtKeywords;
  for (auto [modifiers, leaves] : {std::pair{Qt::KeyboardModifiers(Qt::NoModifier), true},
                                   std::pair{Qt::KeyboardModifiers(Qt::ShiftModifier), true},
                                   std::pair{Qt::KeyboardModifiers(Qt::ControlModifier), false}}) {
    keywords->setFocus(Qt::TabFocusReason);
    keywords->moveCursor(QTextCursor::End);
    QTest::keyClick(keywords, Qt::Key_Tab, modifiers);
    if (leaves) {
      EXPECT_NE(QApplication::focusWidget(), keywords) << "modifiers " << modifiers;
    }
    EXPECT_EQ(keywords->toPlainText(), "1:storm") << "modifiers " << modifiers;
  }
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(session_->Feeds()[0].keywords, std::vector<std::string>{"1:storm"});
}

// Escape hides the window, as its close box does, from whichever control has the focus.
TEST_F(FeedsWindowTest, EscapeHidesTheWindow) {
  AddFeed("http://127.0.0.1/0");
  for (QWidget* control : std::vector<QWidget*>{Ui(window_).txtAddFeedURL, Ui(window_).lbFeeds,
                                                Ui(window_).txtKeywords, Ui(window_).tbShowRelevance,
                                                Ui(window_).txtResults}) {
    window_->show();
    window_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    control->setFocus(Qt::TabFocusReason);
    QTest::keyClick(control, Qt::Key_Escape);
    EXPECT_FALSE(window_->isVisible()) << FromQ(control->objectName());
  }
  EXPECT_EQ(session_->Feeds().size(), 1u);
}

// Alt and a letter reach each listed control; each label of an input leads to it.
TEST_F(FeedsWindowTest, MnemonicsAndLabelsLeadToTheirControls) {
  AddFeed("http://127.0.0.1/0");
  AddFeed("http://127.0.0.1/1");
  window_->show();
  window_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  struct Case {
    Qt::Key key;
    QWidget* focused;
  };
  for (const Case& c : std::vector<Case>{
           {Qt::Key_F, Ui(window_).txtAddFeedURL},
           {Qt::Key_E, Ui(window_).lbFeeds},
           {Qt::Key_K, Ui(window_).txtKeywords},
           {Qt::Key_B, Ui(window_).rgResultsFormatButtons->button(0)},
           {Qt::Key_T, Ui(window_).rgResultsFormatButtons->button(1)},
       }) {
    Ui(window_).txtResults->setFocus(Qt::TabFocusReason);
    QTest::keyClick(Ui(window_).txtResults, c.key, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), c.focused) << QKeySequence(c.key).toString().toStdString();
  }
  // A mnemonic presses its button as a short animation: the click comes a moment later.
  auto pressed = [](const std::function<bool()>& done) { return QTest::qWaitFor(done, 2000); };
  EXPECT_TRUE(pressed([&] { return Ui(window_).rgResultsFormatButtons->checkedId() == 1; }));
  auto allActive = [&](bool active) {
    for (const TFeed& feed : session_->Feeds())
      if (feed.active != active) return false;
    return true;
  };
  for (auto [key, active] : {std::pair{Qt::Key_N, false}, std::pair{Qt::Key_V, true}}) {
    // Each save showed its progress window, which took the activation with it.
    window_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    QTest::keyClick(Ui(window_).txtResults, key, Qt::AltModifier);
    EXPECT_TRUE(pressed([&] { return allActive(active); })) << QKeySequence(key).toString().toStdString();
  }
  EXPECT_EQ(Ui(window_).lblRefreshInterval->buddy(), Ui(window_).txtRefreshInterval);
  EXPECT_EQ(Ui(window_).lblShowRelevance->buddy(), Ui(window_).tbShowRelevance);
  EXPECT_EQ(Ui(window_).lblStatus->buddy(), Ui(window_).txtResults);
}

TEST_F(FeedsWindowTest, ShiftAltRevealsTheDiagnosticButtons) {
  window_->show();
  QTest::keyClick(Ui(window_).txtKeywords, Qt::Key_A, Qt::ShiftModifier | Qt::AltModifier);
  EXPECT_TRUE(Ui(window_).btnUnitTests->isVisible());
  EXPECT_TRUE(Ui(window_).btnCheckRel->isVisible());
  QTest::keyClick(Ui(window_).txtKeywords, Qt::Key_A, Qt::ShiftModifier);
  EXPECT_FALSE(Ui(window_).btnUnitTests->isVisible());
  EXPECT_FALSE(Ui(window_).btnCheckRel->isVisible());
}

TEST_F(FeedsWindowTest, OpenFeedNeedsASelection) {
  Ui(window_).btnOpenFeedInBrowser->click();
  EXPECT_EQ(messages_, std::vector<std::string>{"Please select a feed to open"});
  EXPECT_TRUE(opened_.empty());
  AddFeed("http://127.0.0.1/0");
  Ui(window_).btnOpenFeedInBrowser->click();
  EXPECT_EQ(opened_, std::vector<std::string>{"http://127.0.0.1/0"});
}

TEST_F(FeedsWindowTest, DisplaySettingsAreWrittenAndReadBack) {
  AddFeed("http://127.0.0.1/0");
  Ui(window_).tbShowRelevance->setValue(65);
  Ui(window_).rgResultsFormatButtons->button(1)->click();
  window_->btnUpdateClick();
  auto w = Reload();
  EXPECT_EQ(w->window->Threshold(), 65);
  EXPECT_EQ(w->window->ResultsFormat(), 1);
}

// Beside the slider: what the recorded ratings suggest, in the user's terms, against where the
// slider stands; the button moves it there and has nothing to do once it is there or while a
// scan holds the controls.
TEST_F(FeedsWindowTest, TheSuggestionBesideTheSliderAndItsButton) {
  std::string separable;  // relevant articles scored 5, irrelevant ones 0
  for (int k = 0; k < 6; ++k) separable += "7 5\r\n-7 0\r\n";
  const std::string at3 =
      "Suggested: 3 % - of your last 10 rated articles, it would have shown 5 of the 5 you rated relevant and "
      "0 of the 5 you rated irrelevant";
  struct Case {
    const char* name;
    const char* record;  // nullptr: no file
    std::string text;
    bool usable;
  } cases[] = {
      {"no ratings yet", nullptr,
       "No suggested threshold yet: I need 5 more articles rated relevant and 5 more rated irrelevant to "
       "suggest one",
       false},
      {"only irrelevant ones", "-3 0\r\n-3 0\r\n-3 0\r\n-3 0\r\n-3 0\r\n-3 0\r\n",
       "No suggested threshold yet: I need 5 more articles rated relevant to suggest one", false},
      {"enough", separable.c_str(), at3 + "; at 30 % it would have shown 0 of 5", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(home_ / "data" / "ratedarticles.dat");
    if (c.record) std::ofstream(home_ / "data" / "ratedarticles.dat", std::ios::binary) << c.record;
    WriteConf("[main]\nshowRelevance=30\n");
    auto w = Reload();
    EXPECT_EQ(FromQ(Ui(w).lblSuggestedThreshold->text()), c.text);
    EXPECT_EQ(Ui(w).btnUseSuggestedThreshold->isEnabled(), c.usable);
    EXPECT_EQ(Ui(w).btnUseSuggestedThreshold->text(), "Use su&ggestion");
  }

  auto w = Reload();  // the last case's record
  w->window->EnableControls(false);
  EXPECT_FALSE(Ui(w).btnUseSuggestedThreshold->isEnabled());
  w->window->EnableControls(true);
  ASSERT_TRUE(Ui(w).btnUseSuggestedThreshold->isEnabled());
  Ui(w).btnUseSuggestedThreshold->click();
  EXPECT_EQ(Ui(w).tbShowRelevance->value(), 3);
  EXPECT_EQ(FromQ(Ui(w).lblSuggestedThreshold->text()), at3);
  EXPECT_FALSE(Ui(w).btnUseSuggestedThreshold->isEnabled());
  // Moved by hand, the text says what the new position would have shown.
  Ui(w).tbShowRelevance->setValue(1);
  EXPECT_EQ(FromQ(Ui(w).lblSuggestedThreshold->text()), at3 + "; at 1 % it would have shown 5 of 5");
  EXPECT_TRUE(Ui(w).btnUseSuggestedThreshold->isEnabled());

  // With the option the next presentation moves it back, and the status log says so.
  GlobalSettings follow;
  follow.followSuggestedThreshold = true;
  w->window->SetSettings(follow);
  Items none;
  ScanState scan;
  w->session->Scanner().PresentResults(scan, none);
  EXPECT_EQ(Ui(w).tbShowRelevance->value(), 3);
  EXPECT_NE(FromQ(Ui(w).txtResults->toPlainText())
                .find("I have moved the relevance threshold from 1% to 3%, where the articles you rated suggest "
                      "it belongs"),
            std::string::npos);
}

TEST_F(FeedsWindowTest, FirstActivationShowsTheIntroductionOnce) {
  GlobalSettings s;
  s.firstTime = true;
  window_->SetSettings(s);
  QEvent activate(QEvent::WindowActivate);
  QApplication::sendEvent(window_.get(), &activate);
  QApplication::sendEvent(window_.get(), &activate);
  QApplication::processEvents();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].rfind("To start you off I have added some example RSS feeds.", 0), 0u);
  EXPECT_TRUE(Ui(window_).Timer1->isActive());
}

TEST_F(FeedsWindowTest, ScanFeedDownloadsIntoTheTempFolderAndHandsItemsToTheHook) {
  test::LoopbackServer server;
  std::ifstream in(std::string(ZIBU_TEST_DATA_DIR) + "/feeds/rss2_three.xml", std::ios::binary);
  std::stringstream body;
  body << in.rdbuf();
  server.ServeBody("/feed.xml", body.str(), "application/rss+xml");
  server.ServeDelayed("/slow.xml", 3000, body.str());
  std::vector<std::string> links;
  session_->SetTriageHook([&](TFeed&, TItem& item, Items&) { links.push_back(item.Link); });
  // "Search Sel." on a list of one feed: the scan runs as a job the window's events advance.
  auto scanSelected = [&](const std::string& url, bool cancelAtOnce) {
    session_->Feeds() = {TFeed()};
    session_->Feeds()[0].url = url;
    window_->ShowFeedList(true);
    Ui(window_).btnSearchSelectedFeed->click();
    if (cancelAtOnce) Ui(window_).btnCancel->click();
    QElapsedTimer waited;
    waited.start();
    while (window_->ScanRunning() && waited.elapsed() < 10000)
      QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    EXPECT_FALSE(window_->ScanRunning());
    return session_->Feeds()[0];
  };
  TFeed feed = scanSelected(server.Url("/feed.xml"), false);
  EXPECT_EQ(links, (std::vector<std::string>{"http://127.0.0.1/news/1", "http://127.0.0.1/news/2",
                                             "http://127.0.0.1/news/3?a=1&b=2"}));
  EXPECT_GT(feed.lastRefresh, 0);
  EXPECT_TRUE(fs::exists(home_ / "temp" / "temp.xml"));
  EXPECT_TRUE(StatusHas("Scanning feed " + feed.url));
  EXPECT_TRUE(StatusHas("Finished scanning feed " + feed.url));
  EXPECT_FALSE(StatusHas("Downloading "));  // verbose lines stay out unless asked for

  // A cancel abandons the download: no item is read.
  links.clear();
  feed = scanSelected(server.Url("/slow.xml"), true);
  EXPECT_TRUE(links.empty());
  EXPECT_TRUE(StatusHas("cancelled"));

  session_->SetHttpTimeouts(2000, 300);
  feed = scanSelected(server.Url("/slow.xml"), false);
  EXPECT_TRUE(links.empty());
  EXPECT_TRUE(StatusHas("Error downloading " + feed.url + ": "));
  EXPECT_FALSE(fs::exists(home_ / "temp" / "temp.xml"));
}

TEST_F(FeedsWindowTest, NoCaptionIsCutAtTheDefaultOrSmallestSizeAndTheAddressBoxGrows) {
  window_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  auto checkAt = [&](QSize size) {
    window_->resize(size);
    QApplication::processEvents();
    for (QPushButton* b : window_->findChildren<QPushButton*>()) {
      if (!b->isVisible()) continue;
      EXPECT_GE(b->width(), b->sizeHint().width()) << FromQ(b->text()) << " at " << size.width();
    }
    EXPECT_GE(Ui(window_).lblShowRelevance->width(), Ui(window_).lblShowRelevance->sizeHint().width());
    EXPECT_GE(Ui(window_).txtAddFeedURL->width(), 160);
    return Ui(window_).txtAddFeedURL->width();
  };
  const int atDefault = checkAt(QSize(1000, 680));
  checkAt(window_->minimumSizeHint());
  EXPECT_GT(checkAt(QSize(1400, 800)), atDefault + 300);
  EXPECT_LE(window_->minimumSizeHint().width(), 1000);
}

// On every screen the window fits: on a normal one the controls stand side by side as always; where
// the width is short (1366x768 at 2x leaves 683x384) the threshold goes under the commands and the
// refresh interval under its label; where the height is short too the controls scroll up and down.
// Nothing is cut, nothing sticks out sideways, every control can be scrolled into view.
TEST_F(FeedsWindowTest, TheWindowFitsEveryScreenWithNothingCutOrOutOfReach) {
  window_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  const auto ui = Ui(window_);
  auto* area = window_->findChild<QScrollArea*>();
  ASSERT_NE(area, nullptr);
  // What the controls need side by side, measured on a screen with room to spare.
  window_->FitInto(QSize(3000, 2000));
  ASSERT_FALSE(window_->Narrow());
  ASSERT_FALSE(window_->Scrolls());
  const QSize sideBySide = window_->minimumSizeHint();
  const int bar = area->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, area->verticalScrollBar());

  struct Case {
    const char* screen;
    QSize room;  // the screen's size in the toolkit's pixels, less a frame and title bar
  };
  for (const Case& c : std::vector<Case>{
           {"1920x1080", {1904, 1040}},
           {"1366x768", {1350, 728}},
           {"1920x1080 at 2x", {944, 500}},
           {"800x600", {784, 560}},
           {"1366x768 at 2x", {667, 344}},
           {"side by side just fits", {sideBySide.width(), sideBySide.height()}},
           {"one pixel short of side by side", {sideBySide.width() - 1, sideBySide.height() + 100}},
           {"side by side is too low", {sideBySide.width(), 344}},
           {"side by side fits with the scroll bar", {sideBySide.width() + bar, 344}},
       }) {
    SCOPED_TRACE(c.screen);
    window_->resize(1000, 680);
    window_->FitInto(c.room);
    QApplication::processEvents();
    // Scrolling side by side takes the scroll bar's width.
    const bool narrow = c.room.width() < sideBySide.width() + (c.room.height() < sideBySide.height() ? bar : 0);
    EXPECT_EQ(window_->Narrow(), narrow);
    // Controls too high for the room scroll; when they do not, none is out of view.
    if (c.room.height() < area->widget()->minimumSizeHint().height()) {
      EXPECT_TRUE(window_->Scrolls());
    }
    if (!window_->Scrolls()) {
      EXPECT_EQ(area->verticalScrollBar()->maximum(), 0);
    }
    // It fits, and it may be made as small as the room.
    EXPECT_LE(window_->width(), c.room.width());
    EXPECT_LE(window_->height(), c.room.height());
    EXPECT_LE(window_->minimumSizeHint().width(), c.room.width());
    EXPECT_LE(window_->minimumSizeHint().height(), c.room.height());

    // The threshold beside the address, or under the commands.
    const auto top = [&](QWidget* w) { return w->mapTo(area->widget(), QPoint(0, 0)).y(); };
    if (narrow) {
      EXPECT_GT(top(ui.lblShowRelevance), top(ui.btnSearchAllFeeds));
      EXPECT_GT(top(ui.txtRefreshInterval), top(ui.lblRefreshInterval));
    } else {
      EXPECT_LT(top(ui.lblShowRelevance), top(ui.btnSearchAllFeeds));
      EXPECT_LT(top(ui.txtRefreshInterval), top(ui.lblRefreshInterval) + ui.lblRefreshInterval->height());
    }

    // At the room's size and at the smallest: no caption cut, nothing beyond the right edge, and
    // each control scrolled into view lies wholly inside it.
    for (QSize size : {c.room, window_->minimumSizeHint()}) {
      window_->resize(size);
      QApplication::processEvents();
      const QRect view = area->viewport()->rect();
      std::vector<QWidget*> controls;
      for (QWidget* w : area->widget()->findChildren<QWidget*>()) {
        if (!w->isVisible() || !w->isVisibleTo(window_.get()) || w->parentWidget() == nullptr) continue;
        if (!qobject_cast<QPushButton*>(w) && !qobject_cast<QLabel*>(w) && !qobject_cast<QLineEdit*>(w) &&
            !qobject_cast<QSlider*>(w) && !qobject_cast<QCheckBox*>(w) && !qobject_cast<QGroupBox*>(w) &&
            !qobject_cast<QListWidget*>(w) && !qobject_cast<QPlainTextEdit*>(w))
          continue;
        controls.push_back(w);
      }
      // No control lies over another.
      const auto inControls = [&](QWidget* w) { return QRect(w->mapTo(area->widget(), QPoint(0, 0)), w->size()); };
      for (size_t i = 0; i < controls.size(); ++i)
        for (size_t j = i + 1; j < controls.size(); ++j)
          if (!controls[i]->isAncestorOf(controls[j]) && !controls[j]->isAncestorOf(controls[i])) {
            EXPECT_FALSE(inControls(controls[i]).intersects(inControls(controls[j])))
                << FromQ(controls[i]->objectName()) << " over " << FromQ(controls[j]->objectName()) << " at "
                << size.width() << "x" << size.height();
          }
      for (QWidget* w : controls) {
        const std::string name = FromQ(w->objectName()) + " " + FromQ(w->accessibleName());
        auto* label = qobject_cast<QLabel*>(w);
        if (label && label->wordWrap()) {
          // A sentence gets the lines it needs at its width.
          EXPECT_GE(label->height(), label->heightForWidth(label->width())) << name << " at " << size.width();
        } else if (qobject_cast<QPushButton*>(w) || label || qobject_cast<QCheckBox*>(w)) {
          EXPECT_GE(w->width(), w->sizeHint().width()) << name << " at " << size.width();
        }
        // Scrolled so that its bottom edge is at the view's, or as far as the bar goes.
        area->verticalScrollBar()->setValue(inControls(w).bottom() + 1 - view.height());
        const QRect shown(w->mapTo(area->viewport(), QPoint(0, 0)), w->size());
        EXPECT_GE(shown.left(), view.left()) << name << " at " << size.width();
        EXPECT_LE(shown.right(), view.right()) << name << " at " << size.width();
        EXPECT_GE(shown.top(), std::min(view.top(), view.bottom() + 1 - shown.height())) << name << " at " << size.height();
        EXPECT_LE(shown.bottom(), view.bottom()) << name << " at " << size.height();
      }
    }
  }
}

// The threshold's number stands beside the slider and follows it; the arrow keys move it by one,
// Page Up and Page Down by ten, and it stops at 0 and 100.
TEST_F(FeedsWindowTest, TheThresholdShowsItsValueInPerCentAndArrowKeysMoveItByOne) {
  window_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  QSlider* slider = Ui(window_).tbShowRelevance;
  QLabel* value = Ui(window_).lblShowRelevanceValue;
  EXPECT_EQ(value->text(), "30%");
  EXPECT_EQ(value->toolTip(), slider->toolTip());
  const struct {
    int from;
    std::vector<Qt::Key> keys;
    int to;
  } cases[] = {
      {30, {Qt::Key_Right}, 31},
      {30, {Qt::Key_Left}, 29},
      {30, {Qt::Key_Up, Qt::Key_Up, Qt::Key_Up}, 33},
      {30, {Qt::Key_Down}, 29},
      {30, {Qt::Key_PageUp}, 40},
      {30, {Qt::Key_PageDown, Qt::Key_Right}, 21},
      {0, {Qt::Key_Left}, 0},
      {1, {Qt::Key_Left}, 0},
      {99, {Qt::Key_Right, Qt::Key_Right}, 100},
      {55, {Qt::Key_Home}, 0},
      {55, {Qt::Key_End}, 100},
  };
  for (const auto& c : cases) {
    slider->setValue(c.from);
    EXPECT_EQ(FromQ(value->text()), std::to_string(c.from) + "%");
    for (Qt::Key key : c.keys) QTest::keyClick(slider, key);
    EXPECT_EQ(slider->value(), c.to) << c.from;
    EXPECT_EQ(FromQ(value->text()), std::to_string(c.to) + "%") << c.from;
    EXPECT_TRUE(value->isVisible());
    EXPECT_GE(value->width(), value->fontMetrics().horizontalAdvance("100%"));
  }
  // A threshold read from the settings shows at once.
  WriteConf("[main]\nshowRelevance=72\n");
  auto loaded = Reload();
  EXPECT_EQ(Ui(loaded).lblShowRelevanceValue->text(), "72%");
}

// The list names each feed by its title, with the address as tool tip, and shows the feeds of a
// folder under its heading; a heading is never selected, the arrow keys step over it, and a
// deletion names the feed it deleted.
TEST_F(FeedsWindowTest, TheListShowsTitlesInFolders) {
  WriteConf(
      "[main]\nfeedCount=4\n[rss]\n"
      "feed.0.url=http://a.example/\nfeed.0.title=Alpha\nfeed.0.folder=News\n"
      "feed.1.url=http://b.example/\n"
      "feed.2.url=http://c.example/\nfeed.2.title=Gamma\nfeed.2.folder=News\n"
      "feed.3.url=http://d.example/\nfeed.3.title=Delta\nfeed.3.folder=Tech\n");
  auto loaded = Reload();
  QListWidget* list = Ui(loaded).lbFeeds;
  auto rows = [&] {
    std::vector<std::string> out;
    for (int r = 0; r < list->count(); ++r) {
      const QListWidgetItem* item = list->item(r);
      const bool heading = !(item->flags() & Qt::ItemIsSelectable);
      out.push_back((heading ? "# " : "") + FromQ(item->text()) + " | " + FromQ(item->toolTip()));
    }
    return out;
  };
  EXPECT_EQ(rows(), (std::vector<std::string>{"http://b.example/ | http://b.example/", "# News | News",
                                              "    Alpha | http://a.example/", "    Gamma | http://c.example/",
                                              "# Tech | Tech", "    Delta | http://d.example/"}));
  // Feed 0 is selected after the load, wherever its row is.
  EXPECT_EQ((*loaded)->SelectedFeed(), 0);
  EXPECT_EQ(list->currentRow(), 2);
  EXPECT_EQ(FromQ(Ui(loaded).txtAddFeedURL->text()), "http://a.example/");
  EXPECT_NE(list->item(1)->font().bold(), list->item(2)->font().bold());

  (*loaded)->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(loaded->window.get()));
  const struct {
    int fromRow;
    Qt::Key key;
    int toRow;
    const char* url;  // of the feed then shown in the controls
  } moves[] = {
      {2, Qt::Key_Down, 3, "http://c.example/"},  {3, Qt::Key_Down, 5, "http://d.example/"},
      {5, Qt::Key_Up, 3, "http://c.example/"},    {2, Qt::Key_Up, 0, "http://b.example/"},
      {0, Qt::Key_Down, 2, "http://a.example/"},  {5, Qt::Key_Down, 5, "http://d.example/"},
      {0, Qt::Key_Home, 0, "http://b.example/"},
  };
  for (const auto& m : moves) {
    list->setCurrentRow(m.fromRow);
    QTest::keyClick(list, m.key);
    EXPECT_EQ(list->currentRow(), m.toRow) << m.fromRow << " key " << m.key;
    EXPECT_EQ(FromQ(Ui(loaded).txtAddFeedURL->text()), m.url) << m.fromRow << " key " << m.key;
  }
  // A click on a heading changes nothing.
  list->setCurrentRow(3);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(4)).center());
  EXPECT_EQ((*loaded)->SelectedFeed(), 2);

  Ui(loaded).btnDelete->click();
  EXPECT_NE(FromQ(Ui(loaded).txtResults->toPlainText()).find("Deleted feed 2: Gamma (http://c.example/)"),
            std::string::npos);
  EXPECT_EQ(rows(), (std::vector<std::string>{"http://b.example/ | http://b.example/", "# News | News",
                                              "    Alpha | http://a.example/", "# Tech | Tech",
                                              "    Delta | http://d.example/"}));
  EXPECT_EQ((*loaded)->SelectedFeed(), -1);
  // The title and folder are kept with the feed's keys, under its new number.
  list->setCurrentRow(4);
  EXPECT_EQ((*loaded)->SelectedFeed(), 2);
  EXPECT_EQ(FromQ(Ui(loaded).txtAddFeedURL->text()), "http://d.example/");
  EXPECT_NE(ReadConf().find("feed.2.title=Delta"), std::string::npos) << ReadConf();
  EXPECT_NE(ReadConf().find("feed.2.folder=Tech"), std::string::npos) << ReadConf();
}

// A feed's own title in Cyrillic with an emoji shows as written in the list and in the line of
// its deletion; the single-byte title stays what the title key holds.
TEST_F(FeedsWindowTest, TheListShowsATitlesOwnCharacters) {
  WriteConf(
      "[main]\nfeedCount=2\n[rss]\n"
      "feed.0.url=http://a.example/\nfeed.0.title=\xBF\xBF\xBF \xBF\n"
      "feed.0.titleUtf8=\u041A\u043E\u0442 \U0001F605\n"
      "feed.1.url=http://b.example/\nfeed.1.title=Caf\xE9\nfeed.1.folder=News\n");
  auto loaded = Reload();
  QListWidget* list = Ui(loaded).lbFeeds;
  ASSERT_EQ(list->count(), 3);
  EXPECT_EQ(list->item(0)->text().toStdString(), "\u041A\u043E\u0442 \U0001F605");
  EXPECT_EQ(list->item(2)->text().toStdString(), "    Caf\u00E9");
  list->setCurrentRow(0);
  Ui(loaded).btnDelete->click();
  EXPECT_NE(Ui(loaded).txtResults->toPlainText().toStdString().find(
                "Deleted feed 0: \u041A\u043E\u0442 \U0001F605 (http://a.example/)"),
            std::string::npos)
      << Ui(loaded).txtResults->toPlainText().toStdString();
  EXPECT_EQ(ReadConf().find("titleUtf8"), std::string::npos) << ReadConf();
}

TEST_F(FeedsWindowTest, ClickingTheEmptyPartOfTheListKeepsTheSelection) {
  AddFeed("http://127.0.0.1/0");
  window_->resize(1000, 680);
  window_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  QWidget* viewport = Ui(window_).lbFeeds->viewport();
  QTest::mouseClick(viewport, Qt::LeftButton, {}, QPoint(20, viewport->height() - 10));
  EXPECT_EQ(window_->SelectedFeed(), 0);
  EXPECT_TRUE(Ui(window_).lbFeeds->item(0)->isSelected());
}

}  // namespace
}  // namespace zibu
