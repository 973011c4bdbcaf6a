// The feeds window's scan commands wired to the scanner and the rating windows, driven offscreen
// against feeds served from 127.0.0.1, with a scripted user in front of the rating windows.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QButtonGroup>
#include <QElapsedTimer>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

#include "common/compmap.h"
#include "common/settings.h"
#include "common/shortintmap.h"
#include "feeds/feeds_window.h"
#include "feeds/scheduler.h"
#include "event_gap_probe.h"
#include "feeds_fixture.h"
#include "learning/engine.h"
#include "rating/learned_words_window.h"
#include "rating/multiplepagesfound_window.h"
#include "rating/pagefound_window.h"
#include "rating/why_window.h"
#include "spider/spider_window.h"
#include "support/loopback_server.h"
#include "ui/dialogs.h"
#include "ui/program_services.h"
#include "ui/qtext.h"

namespace zibu {
namespace {

using test::Ui;

namespace fs = std::filesystem;

class ManualClock : public Clock {
 public:
  int64_t now = 1796806800000LL;
  int64_t NowMs() const override { return now; }
  uint32_t IdleMs() const override { return 0; }
};

std::string Rss(const std::vector<std::array<std::string, 3>>& items, const std::string& channel = "t") {
  std::string out = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>" + channel + "</title>";
  for (const auto& [title, description, link] : items)
    out += "<item><title>" + title + "</title><description>" + description + "</description><link>" + link +
           "</link></item>";
  return out + "</channel></rss>";
}

QRadioButton* ButtonFor(const RatingScale& scale, int rating) {
  for (QRadioButton* b : scale.buttons)
    if (b->property("tag").toInt() == rating) return b;
  return nullptr;
}

class FeedsScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = fs::temp_directory_path() / ("zibu_feeds_scan_" + std::to_string(::getpid()) + "_" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(home_);
    fs::create_directories(home_);
    program_.SetHomeFolder(home_.string());
    DialogScript script;
    script.onMessage = [this](const std::string& m) { messages_.push_back(m); };
    script.onQuestion = [this](const std::string& q) {
      questions_.push_back(q);
      return true;
    };
    SetDialogScript(script);
    server_.ServeBody(
        "/sport.xml",
        Rss({{"Football cup final tonight", "Both football teams are ready", server_.Url("/s/1")},
             {"Stock market report", "Shares fell on the stock market", server_.Url("/s/2")}},
            "Sport &amp; <b>Co</b>"),
        "text/xml");
    server_.ServeBody(
        "/news.xml",
        Rss({{"Volcano erupts near village", "Villagers watched the volcano", server_.Url("/n/1")},
             {"Council meeting postponed", "The council meets next month", server_.Url("/n/2")}},
            "<![CDATA[ News  today ]]>"),
        "text/xml");
    std::ofstream(home_ / "zibu.conf", std::ios::binary)
        << "[main]\nfeedCount=2\nshowRelevance=10\nresultsFormat=0\n[rss]\nfeed.0.url="
        << server_.Url("/sport.xml") << "\nfeed.0.refreshInterval=60\nfeed.1.url=" << server_.Url("/news.xml")
        << "\nfeed.1.keywords=1:volcanoCRLF\nfeed.1.refreshInterval=60\n";
    session_ = std::make_unique<FeedsSession>(program_.HomeFolder());
    window_ = std::make_unique<TfrmFeeds>(*session_, program_);
    GlobalSettings settings;
    settings.showNagScreens = false;
    settings.verboseOutput = true;
    window_->SetSettings(settings);
    session_->SetClock(&clock_);
    SettingsFile file((home_ / "zibu.conf").string());
    session_->LoadConfig(file);
    session_->SetHttpTimeouts(2000, 2000);
    // The user in front of the rating windows: rates from the script, then closes.
    userTimer_ = new QTimer(window_.get());
    userTimer_->setInterval(20);
    QObject::connect(userTimer_, &QTimer::timeout, [this] { PlayUser(); });
    userTimer_->start();
  }
  void TearDown() override {
    window_.reset();
    session_.reset();
    ClearDialogScript();
    fs::remove_all(home_);
  }

  // A scan runs as a job driven by the window's events, and its save on a worker: the test lets
  // them run until both have ended.
  void WaitForScan() {
    QElapsedTimer waited;
    waited.start();
    while ((window_->ScanRunning() || session_->SaveRunning()) && waited.elapsed() < 30000)
      QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    EXPECT_FALSE(window_->ScanRunning()) << "the scan did not end";
    EXPECT_FALSE(session_->SaveRunning()) << "the save did not end";
  }
  void Click(QPushButton* button) {
    button->click();
    WaitForScan();
  }
  void Tick() {
    window_->Timer1Timer();
    WaitForScan();
  }

  void PlayUser() {
    // Working out an explanation lets events run: the user acts once at a time.
    if (playing_) return;
    playing_ = true;
    PlayUserOnce();
    playing_ = false;
  }
  // What the "Why?" window said, with its first raising and lowering word rows.
  struct WhySeen {
    std::string caption, shown, changed, raised, lowered;
    bool overTheRatingWindow = false;
  };
  static std::string FirstRow(QTableWidget* table) {
    if (table->rowCount() == 0) return "";
    std::string row;
    for (int c = 0; c < table->columnCount(); ++c) row += (c ? "|" : "") + FromQ(table->item(0, c)->text());
    return row;
  }
  void AskWhy(QWidget* ratingWindow, QPushButton* btnWhy) {
    if (!askWhy_ || !btnWhy->isVisible()) return;
    btnWhy->click();
    auto* why = ratingWindow->findChild<TfrmWhy*>();
    ASSERT_NE(why, nullptr);
    whySeen_.push_back({FromQ(why->windowTitle()), FromQ(why->lblShown->text()),
                        FromQ(why->lblChanged->text()), FirstRow(why->sgRaised), FirstRow(why->sgLowered),
                        why->isVisible() && QApplication::activeModalWidget() == ratingWindow});
    why->btnClose->click();
  }
  void PlayUserOnce() {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* page = qobject_cast<TfrmPageFound*>(modal)) {
      shownReasons_.push_back(FromQ(page->windowTitle()));
      shownTitles_.push_back(FromQ(page->Label1->text()));
      AskWhy(page, page->btnWhy);
      const int rating = ratings_.empty() ? 0 : ratings_.front();
      if (!ratings_.empty()) ratings_.erase(ratings_.begin());
      if (rating != 0) ButtonFor(page->Scale(), rating)->click();
      page->Button1->click();
    } else if (auto* table = qobject_cast<TfrmMultiplePagesFound*>(modal)) {
      tableRows_ = table->sgArticles->rowCount();
      AskWhy(table, table->btnWhy);
      if (tableRows_ > 1) {
        table->sgArticles->setCurrentCell(1, 0);
        ButtonFor(table->Scale(), 7)->click();
      }
      table->btnClose->click();
    } else if (auto* input = qobject_cast<QInputDialog*>(modal)) {
      input->setTextValue(ToQ(typed_));
      input->accept();
    }
  }
  std::string Status() const { return FromQ(Ui(window_).txtResults->toPlainText()); }
  bool StatusHas(const std::string& text) const { return Status().find(text) != std::string::npos; }
  std::vector<std::string> Shown() const {
    std::vector<std::string> out;
    for (int i = 0; i < session_->ShownUrls().Count(); ++i) out.push_back(session_->ShownUrls().KeyAt(i));
    return out;
  }

  fs::path home_;
  ProgramServices program_{"/"};
  test::LoopbackServer server_;
  ManualClock clock_;
  std::unique_ptr<FeedsSession> session_;
  std::unique_ptr<TfrmFeeds> window_;
  QTimer* userTimer_ = nullptr;
  std::vector<int> ratings_;
  std::string typed_;
  int tableRows_ = 0;
  bool playing_ = false;
  bool askWhy_ = false;
  std::vector<WhySeen> whySeen_;
  std::vector<std::string> shownReasons_, shownTitles_, messages_, questions_;
};

TEST_F(FeedsScanTest, SearchActiveFindsTheKeywordMatchLocksTheControlsAndRemembersIt) {
  bool lockedDuringScan = false;
  QTimer probe;
  QObject::connect(&probe, &QTimer::timeout, [&] {
    if (!Ui(window_).btnSearchAllFeeds->isEnabled() && Ui(window_).btnCancel->isEnabled())
      lockedDuringScan = true;
  });
  probe.start(5);
  Click(Ui(window_).btnSearchAllFeeds);
  EXPECT_TRUE(lockedDuringScan);
  EXPECT_EQ(shownReasons_, std::vector<std::string>{"Keyword match on VOLCANO"});
  EXPECT_EQ(Shown(), std::vector<std::string>{server_.Url("/n/1")});
  EXPECT_TRUE(StatusHas("Searching all active feeds"));
  EXPECT_TRUE(StatusHas("Finished searching active feeds"));
  EXPECT_TRUE(Ui(window_).btnSearchAllFeeds->isEnabled());
  EXPECT_FALSE(Ui(window_).btnCancel->isEnabled());
  EXPECT_TRUE(Ui(window_).Timer1->isActive());
  EXPECT_EQ(session_->Feeds()[0].lastRefresh, clock_.now);
  // Each feed is named in the list by its own title now, its address the tool tip, and kept so.
  const std::string urls[] = {server_.Url("/sport.xml"), server_.Url("/news.xml")};
  const char* const names[] = {"Sport & Co", "News today"};
  ASSERT_EQ(Ui(window_).lbFeeds->count(), 2);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(FromQ(Ui(window_).lbFeeds->item(i)->text()), names[i]);
    EXPECT_EQ(FromQ(Ui(window_).lbFeeds->item(i)->toolTip()), urls[i]);
    EXPECT_EQ(session_->Feeds()[static_cast<size_t>(i)].title, names[i]);
  }
}

// A feed whose server does not answer must not freeze the windows: the request runs on a worker
// while the window goes on handling events, and Cancel abandons it at once instead of after the
// 60 s time-out.
TEST_F(FeedsScanTest, ASilentServerFreezesNothingAndCancelEndsTheScanAtOnce) {
  server_.ServeDelayed("/silent.xml", 30000, "<rss/>", "text/xml");
  session_->SetHttpTimeouts(60000, 60000);
  Ui(window_).txtAddFeedURL->setText(ToQ(server_.Url("/silent.xml")));
  Ui(window_).btnAddFeed->click();
  Ui(window_).lbFeeds->setCurrentRow(2);
  ASSERT_EQ(window_->SelectedFeed(), 2);

  int64_t cancelledAt = -1;
  test::EventGapProbe probe([&](int64_t now) {
    if (cancelledAt < 0 && now >= 600) {
      cancelledAt = now;
      Ui(window_).btnCancel->click();
    }
  });
  probe.Start();
  Click(Ui(window_).btnSearchSelectedFeed);
  const int64_t ended = probe.Elapsed();
  probe.Stop();

  ASSERT_GE(cancelledAt, 0) << "the scan ended before Cancel, after " << ended << " ms";
  EXPECT_LT(probe.UnexplainedGap(), 200) << probe.Describe();
  EXPECT_LT(ended - cancelledAt, 1000) << "Cancel took that long to end the scan";
  EXPECT_TRUE(StatusHas("cancelled")) << Status();
  EXPECT_TRUE(Ui(window_).btnSearchSelectedFeed->isEnabled());
  EXPECT_FALSE(Ui(window_).btnCancel->isEnabled());
}

// The window never waits on a download: with slow servers (several at once in a scan, one in a
// learning run) a 20 ms probe timer sees no gap over 100 ms, and the job ends on its own.
TEST_F(FeedsScanTest, SlowServersLeaveNoGapInTheWindowsEvents) {
  test::LoopbackServer more[3];
  for (int i = 0; i < 12; ++i) {
    test::LoopbackServer& s = i % 4 == 0 ? server_ : more[i % 4 - 1];
    const std::string path = "/slow" + std::to_string(i) + ".xml";
    s.ServeDelayed(path, 150 + 40 * (i % 5),
                   Rss({{"Slow story " + std::to_string(i), "Nothing", s.Url("/slow/" + std::to_string(i))}}),
                   "text/xml");
    Ui(window_).txtAddFeedURL->setText(ToQ(s.Url(path)));
    Ui(window_).btnAddFeed->click();
  }
  server_.ServeDelayed("/learnslow.xml", 600, "<rss/>", "text/xml");
  Ui(window_).txtAddFeedURL->setText(ToQ(server_.Url("/learnslow.xml")));
  Ui(window_).btnAddFeed->click();
  const int learnRow = Ui(window_).lbFeeds->count() - 1;
  // A feed of many long items: read on the download's worker, triaged in slices between events.
  std::vector<std::array<std::string, 3>> many;
  for (int i = 0; i < 20000; ++i)
    many.push_back({"Long story number " + std::to_string(i) + " about the harbour and the weather",
                    "<p>" + std::string(40, 'x') + " The harbour master said the " + std::to_string(i) +
                        "th ship arrived late, with more words about tides, cargo and the crew. " +
                        std::string(200, 'y') + "</p>",
                    server_.Url("/many/" + std::to_string(i))});
  // Not a text/ type: the test server would spend seconds compressing it. Inactive: only its own
  // run scans it.
  server_.ServeBody("/many.xml", Rss(many), "application/rss+xml");
  Ui(window_).txtAddFeedURL->setText(ToQ(server_.Url("/many.xml")));
  Ui(window_).btnAddFeed->click();
  session_->Feeds().back().active = false;
  const int manyRow = Ui(window_).lbFeeds->count() - 1;
  // A site for the spider: a slow start page whose four links lead to slow pages, fetched one at
  // a time by its worker.
  std::string start = "<html><body>";
  int spiderMs = 200;
  for (int i = 0; i < 4; ++i) {
    const std::string path = "/site/page" + std::to_string(i) + ".html";
    server_.ServeDelayed(path, 150 + 50 * i, "<p>Football page " + std::to_string(i) + "</p>");
    spiderMs += 150 + 50 * i;
    start +=
        "<a href=\"" + path + "\">Football story number " + std::to_string(i) + "</a>" + std::string(60, '.');
  }
  server_.ServeDelayed("/site/", 200, start + "</body></html>");
  QPointer<TfrmSpider> spider = new TfrmSpider(nullptr);
  spider->SetProgram(&program_);
  spider->SetEngine(&session_->Engine());
  spider->txtStartingAddress->setText(ToQ(server_.Url("/site/")));

  const struct {
    const char* name;
    std::function<void()> start;
    std::function<bool()> running;
    int atLeastMs;
  } runs[] = {
      {"Search Act.", [&] { Ui(window_).btnSearchAllFeeds->click(); }, [&] { return window_->ScanRunning(); },
       150 * 3},
      {"Learn",
       [&] {
         Ui(window_).lbFeeds->setCurrentRow(learnRow);
         Ui(window_).btnLearn->click();
       },
       [&] { return window_->ScanRunning(); }, 600},
      {"Spider crawl", [&] { spider->btnStart->click(); }, [&] { return spider->Crawl().running(); },
       spiderMs},
      // Without verbose output: what is measured is the triage, not two status lines an item.
      {"Search Sel. of 20,000 items",
       [&] {
         GlobalSettings quiet;
         quiet.showNagScreens = false;
         window_->SetSettings(quiet);
         Ui(window_).lbFeeds->setCurrentRow(manyRow);
         Ui(window_).btnSearchSelectedFeed->click();
       },
       [&] { return window_->ScanRunning(); }, 0},
  };
  for (const auto& run : runs) {
    SCOPED_TRACE(run.name);
    test::EventGapProbe probe;
    probe.Start();
    run.start();
    EXPECT_TRUE(run.running()) << "the click returned before the downloads ended";
    EXPECT_TRUE(QTest::qWaitFor([&] { return !run.running(); }, 30000));
    WaitForScan();
    const int64_t took = probe.Elapsed();
    probe.Stop();
    EXPECT_GE(took, run.atLeastMs);
    EXPECT_LT(probe.UnexplainedGap(), 100) << probe.Describe();
  }
  EXPECT_TRUE(StatusHas("Finished scanning feed " + more[2].Url("/slow11.xml")));
  EXPECT_TRUE(StatusHas("Finished scanning feed " + server_.Url("/many.xml")));
  EXPECT_EQ(messages_.back().rfind("Learning finished for this feed.", 0), 0u);
  const std::string spiderLog = FromQ(spider->txtResults->toPlainText());
  EXPECT_NE(spiderLog.find("Ran out of links!"), std::string::npos) << spiderLog;
  EXPECT_EQ(FromQ(spider->lblPagesChecked->text()), "Pages checked:4");
  delete spider.data();
}

// The learned data is written by a worker: during a slow save (every step of the writer made
// slow) the 20 ms probe sees no gap over 100 ms, a rating given meanwhile is learned at once, and
// the save's end reaches the window's log.
TEST_F(FeedsScanTest, ASlowSaveLeavesNoGapInTheWindowsEvents) {
  std::atomic<int> steps{0};
  session_->Engine().SetSaveStepHook([&steps](const std::string&) {
    ++steps;
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
  });
  const struct {
    const char* name;
    int feed;
    const char* rated;   // before the run
    const char* during;  // during its save
  } runs[] = {
      {"the first save of the run", 0, "football final tonight", "meanwhile ratedfirst"},
      {"a later save, after a save on a worker", 1, "volcano village erupts", "meanwhile ratedsecond"},
  };
  for (const auto& run : runs) {
    SCOPED_TRACE(run.name);
    session_->Engine().LearnFromRating(run.rated, 5);
    steps = 0;
    bool sawSave = false, ratedDuring = false;
    test::EventGapProbe probe([&](int64_t) {
      if (session_->SaveRunning() && !ratedDuring) {
        sawSave = true;
        const int words = session_->LearnedWordCount();
        session_->Engine().LearnFromRating(run.during, 5);
        ratedDuring = session_->LearnedWordCount() > words;
      }
    });
    probe.Start();
    Ui(window_).lbFeeds->setCurrentRow(run.feed);
    Ui(window_).btnLearn->click();
    while ((window_->ScanRunning() || session_->SaveRunning()) && probe.Elapsed() < 30000)
      QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    const int64_t took = probe.Elapsed();
    probe.Stop();
    EXPECT_FALSE(session_->SaveRunning()) << "the save did not end";
    EXPECT_TRUE(sawSave);
    EXPECT_TRUE(ratedDuring) << "a rating during the save was not learned at once";
    EXPECT_GE(steps, 5);
    EXPECT_GE(took, 40 * 5);
    EXPECT_LT(probe.UnexplainedGap(), 100) << probe.Describe();
    EXPECT_TRUE(StatusHas("Finished saving data...")) << Status();
  }
  std::ifstream in(home_ / "data" / "wordweightings.dat", std::ios::binary);
  std::string words((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::transform(words.begin(), words.end(), words.begin(), [](unsigned char c) { return std::toupper(c); });
  EXPECT_NE(words.find("FOOTBALL="), std::string::npos);
  EXPECT_NE(words.find("VOLCANO="), std::string::npos);
}

// Every rating window offers "Why?" beside the reason; it opens over the window without
// blocking it and says why the article was shown: the learning run, the rule line that matched,
// or its relevance, with the words the user rated up first.
TEST_F(FeedsScanTest, LearningRunThenAScheduledTickFindsTheRelevantArticle) {
  askWhy_ = true;
  Ui(window_).lbFeeds->setCurrentRow(0);
  ratings_ = {10, -8};
  // The frame, which owns the rating windows, is in front when the run ends; the feeds window
  // comes forward, since that is where the user goes on.
  QWidget frame;
  frame.show();
  frame.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
  Click(Ui(window_).btnLearn);
  EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == window_.get(); }, 5000));
  EXPECT_TRUE(window_->isVisible());
  EXPECT_EQ(shownReasons_, (std::vector<std::string>{"Learning", "Learning"}));
  EXPECT_EQ(shownTitles_, (std::vector<std::string>{"Football cup final tonight", "Stock market report"}));
  // The learning run scanned a copy of the feed; the title it found is the feed's.
  EXPECT_EQ(FromQ(Ui(window_).lbFeeds->item(0)->text()), "Sport & Co");
  EXPECT_EQ(FromQ(Ui(window_).lbFeeds->item(1)->text()), server_.Url("/news.xml"));
  // Rated, so remembered as shown.
  EXPECT_EQ(Shown(), (std::vector<std::string>{server_.Url("/s/1"), server_.Url("/s/2")}));
  EXPECT_GT(session_->Engine().WordWeights().Get("FOOTBALL"), 0);
  EXPECT_EQ(messages_.back().rfind("Learning finished for this feed.", 0), 0u);
  EXPECT_TRUE(fs::exists(home_ / "data" / "wordweightings.dat"));
  EXPECT_TRUE(Ui(window_).Timer1->isActive());

  // Five minutes later the articles just rated are not alerted again; the volcano is.
  shownReasons_.clear();
  shownTitles_.clear();
  clock_.now += 5 * 60000;
  Tick();
  EXPECT_EQ(shownTitles_, std::vector<std::string>{"Volcano erupts near village"});
  EXPECT_TRUE(StatusHas("URL " + server_.Url("/s/1") + " has been shown recently, ignoring it"));
  // Once the repeat interval has passed since the learning run, the football article qualifies
  // by what was learned; the volcano, shown five minutes later, is still remembered.
  clock_.now += GlobalSettings().repeatIntervalMs - 5 * 60000 + 60000;
  Tick();
  ASSERT_EQ(shownTitles_.size(), 2u);
  EXPECT_EQ(shownReasons_[0], "Keyword match on VOLCANO");
  EXPECT_EQ(shownTitles_[1], "Football cup final tonight");
  EXPECT_EQ(shownReasons_[1].rfind("Article found, relevance=", 0), 0u);

  // FOOTBALL twice at +10 in the learning run: weight 20, 20 x 100 / 50 = 40 a time; simple
  // (80 + 5 x 20) / 7 = 25, each of the 15 pairs 10 x 100 / 50 x 2 = 40, 600 / 30 = 20: (25 + 20) / 2.
  ASSERT_EQ(whySeen_.size(), 4u);
  for (const WhySeen& w : whySeen_) EXPECT_TRUE(w.overTheRatingWindow) << w.caption;
  EXPECT_EQ(whySeen_[0].caption, "Why? Learning");
  EXPECT_EQ(whySeen_[0].shown, "I showed it for you to rate in the learning run, whatever its relevance.");
  EXPECT_EQ(whySeen_[0].raised, "");  // nothing learned yet
  EXPECT_EQ(whySeen_[1].lowered, "");
  EXPECT_EQ(whySeen_[2].caption, "Why? Keyword match on VOLCANO");
  EXPECT_EQ(whySeen_[2].shown, "I showed it because this keyword rule line matched: 1:volcano");
  EXPECT_EQ(whySeen_[3].caption, "Why? " + shownReasons_[1]);
  EXPECT_EQ(whySeen_[3].shown, "It was found with a relevance of 22%.");
  EXPECT_EQ(whySeen_[3].changed, "");
  EXPECT_EQ(whySeen_[3].raised, "FOOTBALL|2|+20|+80");
  EXPECT_EQ(whySeen_[3].lowered, "");
}

// The user rated FOOTBALL up in a learning run and forgets it in the learned-words window: its
// article scores (5 x 20) / 7 = 14 and 10 pairs x 40 / 30 = 13, (14 + 13) / 2 = 13, no longer 22.
TEST_F(FeedsScanTest, ForgettingAWordRatedUpLowersTheNextScoreOfItsArticle) {
  Ui(window_).lbFeeds->setCurrentRow(0);
  ratings_ = {10, -8};
  Click(Ui(window_).btnLearn);
  ASSERT_EQ(session_->Engine().GetRelevance("Football cup final tonight Both football teams are ready"), 22);
  Ui(window_).btnLearnedWords->click();
  TfrmLearnedWords* words = window_->LearnedWordsWindow();
  ASSERT_NE(words, nullptr);
  ASSERT_TRUE(words->SelectWord("FOOTBALL"));
  EXPECT_EQ(words->txtWeight->value(), 20);
  words->btnForget->click();
  EXPECT_EQ(questions_.back().rfind("Forget FOOTBALL?", 0), 0u);
  EXPECT_FALSE(words->SelectWord("FOOTBALL"));
  EXPECT_TRUE(StatusHas("Forgot the word FOOTBALL"));
  // Saved with the learned data, as a rating is.
  session_->SaveData();
  SilentUserPort silent;
  LearningEngine saved(silent);
  saved.SetDataFolder((home_ / "data").string() + "/", false);
  saved.LoadData(nullptr, true);
  EXPECT_LT(saved.WordWeights().IndexOf("FOOTBALL"), 0);
  EXPECT_EQ(saved.WordWeights().Get("FINAL"), 10);
  EXPECT_EQ(saved.WordCount(), session_->Engine().WordCount());

  // Once the rated article's place in the shown memory has expired.
  shownReasons_.clear();
  clock_.now += GlobalSettings().repeatIntervalMs + 60000;
  Tick();
  EXPECT_EQ(shownReasons_,
            (std::vector<std::string>{"Keyword match on VOLCANO", "Article found, relevance=13%"}));
}

TEST_F(FeedsScanTest, TableFormatRatesTheSecondRowAndMarksEveryRow) {
  Ui(window_).tbShowRelevance->setValue(0);
  Ui(window_).rgResultsFormatButtons->button(1)->click();
  Ui(window_).lbFeeds->setCurrentRow(1);
  askWhy_ = true;
  Click(Ui(window_).btnSearchSelectedFeed);
  EXPECT_EQ(tableRows_, 2);
  ASSERT_EQ(whySeen_.size(), 1u);  // for the first row, selected when the window opens
  EXPECT_TRUE(whySeen_[0].overTheRatingWindow);
  EXPECT_EQ(whySeen_[0].shown, "I showed it because this keyword rule line matched: 1:volcano");
  EXPECT_EQ(Shown(), (std::vector<std::string>{server_.Url("/n/1"), server_.Url("/n/2")}));
  EXPECT_EQ(session_->Engine().WordWeights().Get("POSTPONED"), 7);
  EXPECT_TRUE(StatusHas("Finished updating relevance tables"));
}

TEST_F(FeedsScanTest, ResetForgetsTheShownArticles) {
  Click(Ui(window_).btnSearchAllFeeds);
  ASSERT_EQ(Shown().size(), 1u);
  Ui(window_).btnReset->click();
  EXPECT_EQ(questions_.back(), "Reset - are you sure?");
  EXPECT_TRUE(Shown().empty());
  EXPECT_EQ(session_->Feeds()[0].lastRefresh, 0);
  EXPECT_TRUE(Ui(window_).Timer1->isActive());
}

TEST_F(FeedsScanTest, CheckRelShowsTheThreeScores) {
  typed_ = "";
  Ui(window_).btnCheckRel->click();
  EXPECT_EQ(messages_.back(), "Simple relevance=0%, Relationship relevance=0%, Overall relevance=0%");
  EXPECT_TRUE(Ui(window_).Timer1->isActive());
}

TEST_F(FeedsScanTest, UnitTestsReportTheUnreachableNewsPageAndPass) {
  window_->SetSelfTestNewsPage("http://127.0.0.1:9/news");
  bool ended = false;
  window_->SetEndProgram([&] { ended = true; });
  Ui(window_).btnUnitTests->click();
  EXPECT_TRUE(ended);
  EXPECT_FALSE(Ui(window_).Timer1->isActive());
  ASSERT_FALSE(messages_.empty());
  EXPECT_EQ(messages_.back().rfind("All tests passed", 0), 0u);
  EXPECT_TRUE(StatusHas("I could not fetch the news page http://127.0.0.1:9/news"));
}

}  // namespace
}  // namespace zibu
