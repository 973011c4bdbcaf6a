// The feeds session without any window: its load, its save rules, and a scan through a view that
// only records what it was asked to show.
#include "feeds/feeds_session.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <future>
#include <map>
#include <sstream>
#include <thread>

#include "common/errors.h"
#include "common/settings.h"
#include "common/shortintmap.h"
#include "common/text.h"
#include "learning/engine.h"
#include "store/article_store.h"
#include <sqlite3.h>
#include "support/loopback_server.h"
#include "triage_fakes.h"

namespace zibu::test {
namespace {

namespace fs = std::filesystem;

// A view that plays the window: records every call and answers from its fields.
class RecordingView : public FeedsView {
 public:
  UserPort& Port() override { return port; }
  const GlobalSettings& Settings() const override { return settings; }
  void StopTimer() override { timer = false; }
  void StartTimer() override { timer = true; }
  bool TimerActive() const override { return timer; }
  void EnableControls(bool enabled) override { enabled_.push_back(enabled); }
  void HideCommonIntervals() override {}
  int SelectedFeed() const override { return selected; }
  int Threshold() const override { return threshold; }
  int ResultsFormat() const override { return resultsFormat; }
  void ShowFeedList(bool selectFirst) override {
    lists.push_back(std::to_string(session->Feeds().size()) + (selectFirst ? " first" : ""));
  }
  void ShowDisplaySettings(int showRelevance, int format) override {
    threshold = showRelevance;
    resultsFormat = format;
  }
  void ShowItemsInTable(Items& items) override { tables.push_back(items.size()); }
  void SetThreshold(int t) override { threshold = t; }
  void ShowThresholdSuggestion(const std::string& text, bool usable) override {
    suggestions.push_back(text + (usable ? " [usable]" : ""));
  }
  PageFoundResult ShowPageFound(const std::string& reason, const std::string& title, const std::string&,
                                const std::string&, bool) override {
    shown.push_back(reason + ": " + title);
    return {rating, false};
  }

  FeedsSession* session = nullptr;
  ScriptedPort port;
  GlobalSettings settings;
  bool timer = false;
  int selected = -1;
  int threshold = 30;
  int resultsFormat = 0;
  int rating = 0;  // what the user gives every article shown
  std::vector<bool> enabled_;
  std::vector<std::string> lists;
  std::vector<size_t> tables;
  std::vector<std::string> shown;
  std::vector<std::string> suggestions;
};

class FeedsSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = (fs::temp_directory_path() / ("zibu_session_" + std::to_string(::getpid()))).string() + "/";
    fs::remove_all(home_);
    fs::create_directories(home_);
    session_ = std::make_unique<FeedsSession>(home_);
    view_.lists.clear();
    view_.timer = false;
    view_.session = session_.get();
    session_->AttachView(&view_);
    session_->SetClock(&clock_);
  }
  void TearDown() override {
    session_.reset();
    fs::remove_all(home_);
  }
  void Write(const std::string& name, const std::string& text) {
    std::ofstream(home_ + name, std::ios::binary) << text;
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(home_ + name, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  void Load() {
    SettingsFile file(session_->ConfigPath());
    session_->LoadConfig(file);
  }
  // Every file of the home with its bytes.
  std::map<std::string, std::string> Files() const {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(home_))
      if (e.is_regular_file()) out[e.path().string()] = Read(fs::relative(e.path(), home_).string());
    return out;
  }

  std::string home_;
  ManualClock clock_;
  RecordingView view_;
  std::unique_ptr<FeedsSession> session_;
};

TEST_F(FeedsSessionTest, TheLoadFillsTheSessionAndShowsItAndTheSaveWritesItBack) {
  EXPECT_TRUE(fs::is_directory(home_ + "temp"));
  EXPECT_TRUE(fs::is_directory(home_ + "data/backup"));
  Write("zibu.conf",
        "[main]\nfeedCount=2\nshowRelevance=65\nresultsFormat=1\nminWordLength=3\nsaveConfigInterval=2\n"
        "[rss]\nfeed.0.url=http://a.example/rss\nfeed.1.url=http://b.example/rss\nfeed.1.active=0\n");
  Load();
  ASSERT_EQ(session_->Feeds().size(), 2u);
  EXPECT_FALSE(session_->Feeds()[1].active);
  EXPECT_EQ(view_.lists, std::vector<std::string>{"2 first"});
  EXPECT_EQ(view_.threshold, 65);
  EXPECT_EQ(view_.resultsFormat, 1);
  EXPECT_TRUE(view_.timer);
  EXPECT_EQ(session_->Engine().minWordLength(), 3);
  EXPECT_EQ(session_->Scanner().saveConfigIntervalMs, 120000);
  EXPECT_EQ(session_->Scanner().lastSaveTime, clock_.now);
  EXPECT_FALSE(session_->SavesHeld());

  // The view's slider is what is saved; without a view, what was last read or written.
  view_.threshold = 40;
  session_->SaveFeedConfig();
  EXPECT_NE(Read("zibu.conf").find("showRelevance=40"), std::string::npos);
  session_->AttachView(nullptr);
  session_->Feeds().pop_back();
  session_->SaveFeedConfig();
  const std::string conf = Read("zibu.conf");
  EXPECT_NE(conf.find("showRelevance=40"), std::string::npos);
  EXPECT_NE(conf.find("resultsFormat=1"), std::string::npos);
  EXPECT_NE(conf.find("feedCount=1"), std::string::npos);
}

// A save that finds the disk full names the cause, says that this run's learning is not saved,
// and offers to try again; the files of the last save stay as they were until a save succeeds.
// A line quoting a feed's text reaches the view with its UTF-8 form, so the window can show it.
TEST_F(FeedsSessionTest, LinesQuotingAFeedReachTheViewWithTheirUtf8) {
  Write("zibu.conf", "[main]\nfeedCount=0\n");
  Load();
  const struct {
    std::string message, utf8;
  } cases[] = {{"Showing \xBF", "Showing \u0424"}, {"Showing plain", ""}};
  for (const auto& c : cases) session_->Port().LogQuoting(c.message, c.utf8, false);
  EXPECT_EQ(view_.port.quoting, (std::vector<std::string>{"Showing \u0424", ""}));
  EXPECT_TRUE(view_.port.Logged("Showing \xBF"));
}

TEST_F(FeedsSessionTest, ASaveOnAFullDiskNamesTheCauseAndOffersToTryAgain) {
  Write("zibu.conf", "[main]\nfeedCount=0\n");
  Load();
  session_->ShownUrls().Add("http://a.example/1", clock_.now);
  session_->SaveData();
  const std::string lastSave = Read("data/shownfeedurls.dat");
  ASSERT_NE(lastSave.find("http://a.example/1="), std::string::npos);
  session_->ShownUrls().Add("http://a.example/2", clock_.now);

  const struct {
    bool tryAgain;
    bool saved;
  } cases[] = {{false, false}, {true, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tryAgain);
    // Writing the memory's temporary file hits a full device once; then there is room again.
    fs::create_symlink("/dev/full", home_ + "data/shownfeedurls.dat.new.tmp");
    view_.port.questions.clear();
    view_.port.answer = c.tryAgain;
    std::string error;
    try {
      session_->SaveData();
    } catch (const IoError& e) {
      error = e.what();
    }
    ASSERT_EQ(view_.port.questions.size(), 1u);
    const std::string& question = view_.port.questions[0];
    EXPECT_EQ(question.rfind("I could not save the learned data: ", 0), 0u) << question;
    EXPECT_NE(question.find("No space left on device"), std::string::npos) << question;
    EXPECT_NE(question.find("What I have learned in this run is not saved"), std::string::npos);
    EXPECT_NE(question.find("try again"), std::string::npos);
    if (c.saved) {
      EXPECT_EQ(error, "");
      EXPECT_NE(Read("data/shownfeedurls.dat").find("http://a.example/2="), std::string::npos);
    } else {
      EXPECT_EQ(error.rfind("I have not saved the learned data of this run: ", 0), 0u) << error;
      EXPECT_NE(error.find("No space left on device"), std::string::npos) << error;
      EXPECT_EQ(Read("data/shownfeedurls.dat"), lastSave);
    }
    EXPECT_FALSE(fs::is_symlink(home_ + "data/shownfeedurls.dat.new.tmp"));
  }
}

// The question after a failed save says what is true of the files: before the commit point the
// last save and its backups are as they were; after it the new files are written and are put in
// place later, which a try again does at once.
TEST_F(FeedsSessionTest, TheQuestionAfterAFailedSaveSaysWhereTheFilesStand) {
  Write("zibu.conf", "[main]\nfeedCount=0\n");
  Load();
  session_->Engine().LearnFromRating("alphaword betaword", 5);
  session_->SaveData();
  session_->Engine().LearnFromRating("alphaword betaword", 5);
  session_->SaveData();
  const struct {
    const char* step;
    bool tryAgain;
    const char* asked;  // the start of the question
    const char* told;   // the start of the error after a no ("" after a yes)
    bool newWeights;    // the data folder holds the new weights in the end
  } cases[] = {
      {"write wordweightings.dat", false, "I could not save the learned data: ",
       "I have not saved the learned data of this run: ", false},
      {"rename reltable.dat", false, "I could not finish saving the learned data: ",
       "I have not finished saving the learned data: ", false},
      {"rename reltable.dat", true, "I could not finish saving the learned data: ", "", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.step) + (c.tryAgain ? ", try again" : ""));
    const std::string weights = Read("data/wordweightings.dat");
    const std::string backupWeights = Read("data/backup/wordweightings.dat");
    session_->Engine().LearnFromRating("gammaword alphaword", 3);
    int faults = 0;
    session_->Engine().SetSaveFaultHook([&](const std::string& s) { return s == c.step && faults++ == 0 ? ENOSPC : 0; });
    view_.port.questions.clear();
    view_.port.answer = c.tryAgain;
    std::string error;
    try {
      session_->SaveData();
    } catch (const IoError& e) {
      error = e.what();
    }
    session_->Engine().SetSaveFaultHook({});
    ASSERT_EQ(view_.port.questions.size(), 1u);
    const std::string& q = view_.port.questions[0];
    EXPECT_EQ(q.rfind(c.asked, 0), 0u) << q;
    EXPECT_NE(q.find("No space left on device"), std::string::npos) << q;
    // "as they were" only where it is true.
    EXPECT_EQ(q.find("as they were") != std::string::npos, std::string(c.step).rfind("write", 0) == 0) << q;
    EXPECT_EQ(error.rfind(c.told, 0), 0u) << error;
    EXPECT_EQ(error.empty(), c.tryAgain);
    if (c.newWeights) {
      EXPECT_NE(Read("data/wordweightings.dat").find("GAMMAWORD"), std::string::npos);
      EXPECT_EQ(Read("data/backup/wordweightings.dat"), weights);
    } else if (std::string(c.step).rfind("write", 0) == 0) {
      EXPECT_EQ(Read("data/wordweightings.dat"), weights);
      EXPECT_EQ(Read("data/backup/wordweightings.dat"), backupWeights);
    }
    // Whatever happened, the next save (or start) leaves a whole pair with a whole backup pair.
    session_->SaveData();
    EXPECT_FALSE(fs::exists(home_ + "data/save.commit"));
    EXPECT_NE(Read("data/wordweightings.dat").find("GAMMAWORD"), std::string::npos);
  }
}

// Save all: zibu.conf and the learned data each stand on their own. A learned-data save that
// fails (the user answers No) leaves zibu.conf written, and one of zibu.conf that fails leaves
// the learned data written; the log says which was written and which was not.
TEST_F(FeedsSessionTest, SaveAllWritesEachFileOnItsOwn) {
  const struct {
    const char* name;
    bool configFails, dataFails;
  } cases[] = {{"both written", false, false},
               {"the learned data fails", false, true},
               {"zibu.conf fails", true, false},
               {"both fail", true, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    Write("zibu.conf", "[main]\nfeedCount=0\n");
    Load();
    session_->Feeds().push_back(TFeed{});
    session_->Feeds().back().url = "http://monitor.example/x";
    session_->Engine().LearnFromRating("alphaword betaword", 5);
    if (c.configFails) fs::create_directories(home_ + "zibu.conf.tmp/blocked");
    if (c.dataFails)
      session_->Engine().SetSaveFaultHook([](const std::string& s) { return s.rfind("write ", 0) == 0 ? EROFS : 0; });
    view_.port.answer = false;
    view_.port.lines.clear();
    SettingsFile file(session_->ConfigPath());
    file.WriteString("main", "browserWindowCount", "0");
    const FeedsSession::SaveAllResult r = session_->SaveAll(file);
    EXPECT_EQ(r.configSaved, !c.configFails);
    EXPECT_EQ(r.dataSaved, !c.dataFails);
    EXPECT_EQ(Read("zibu.conf").find("http://monitor.example/x") != std::string::npos, !c.configFails);
    EXPECT_EQ(fs::exists(home_ + "data/wordweightings.dat"), !c.dataFails);
    EXPECT_EQ(view_.port.Logged("Finished saving config..."), !c.configFails);
    EXPECT_EQ(view_.port.Logged("Finished saving data..."), !c.dataFails);
    bool toldConfig = false, toldData = false;
    for (const auto& l : view_.port.lines) {
      toldConfig |= l.text.rfind("I have not saved zibu.conf: Unable to write to ", 0) == 0;
      toldData |= l.text.rfind("I have not saved the learned data of this run: ", 0) == 0 &&
                  l.text.find("Read-only file system") != std::string::npos;
    }
    EXPECT_EQ(toldConfig, c.configFails);
    EXPECT_EQ(toldData, c.dataFails);
    EXPECT_EQ(r.problem.empty(), !c.configFails && !c.dataFails) << r.problem;
    EXPECT_EQ(r.problem.find("zibu.conf") != std::string::npos, c.configFails) << r.problem;
    EXPECT_EQ(r.problem.find("learned data") != std::string::npos, c.dataFails) << r.problem;
    fs::remove_all(home_ + "zibu.conf.tmp");
  }
}

// The periodic save of a scheduled scan: a zibu.conf that cannot be written is logged, and the
// learned data is saved all the same.
TEST_F(FeedsSessionTest, APeriodicSaveGoesOnToTheLearnedDataWhenZibuConfFails) {
  Write("zibu.conf", "[main]\nfeedCount=0\nsaveConfigInterval=1\n");
  Load();
  session_->Engine().LearnFromRating("alphaword betaword", 5);
  fs::create_directories(home_ + "zibu.conf.tmp/blocked");
  session_->Scanner().lastSaveTime = 0;
  session_->Scanner().lastUserActivity = 0;
  ASSERT_TRUE(session_->RunScan(ScanKind::Scheduled));
  bool told = false;
  for (const auto& l : view_.port.lines) told |= l.text.rfind("I have not saved zibu.conf: ", 0) == 0;
  EXPECT_TRUE(told);
  EXPECT_FALSE(view_.port.Logged("Finished saving config..."));
  EXPECT_TRUE(view_.port.Logged("Finished saving data..."));
  EXPECT_NE(Read("data/wordweightings.dat").find("ALPHAWORD"), std::string::npos);
}

// zibu.conf keeps its previous save in the backup folder, as the learned files do; a start-up
// that finds fewer feeds than feedCount says keeps the damaged file, tells the user, offers a
// whole backup copy, and never makes the damaged file the backup copy.
TEST_F(FeedsSessionTest, ADamagedConfigIsReportedAndItsBackupCopyOffered) {
  auto conf = [](int feeds, int from) {
    std::string text = "[main]\nfeedCount=" + std::to_string(feeds) + "\n[rss]\n";
    for (int n = 0; n < feeds; ++n)
      text += "feed." + std::to_string(n) + ".url=http://f" + std::to_string(from + n) + ".example/rss\nfeed." +
              std::to_string(n) + ".active=1\nfeed." + std::to_string(n) + ".keywords=1:aCRLF\nfeed." +
              std::to_string(n) + ".refreshInterval=300\nfeed." + std::to_string(n) + ".lastRefresh=0\n";
    return text;
  };
  enum class Backup { kWhole, kNone, kDamaged };
  const struct {
    const char* name;
    Backup backup;
    bool answer;
    size_t feeds;         // read at start-up
    bool asked;           // a question rather than a message
    bool backupKeptAfterSave;  // the backup copy is unchanged by the saves of the run
  } cases[] = {
      {"a whole backup, taken", Backup::kWhole, true, 50, true, false},
      {"a whole backup, declined", Backup::kWhole, false, 30, true, true},
      {"no backup", Backup::kNone, true, 30, false, true},
      {"a damaged backup", Backup::kDamaged, true, 30, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    // Two saves: the first one's file becomes the backup copy at the second.
    Write("zibu.conf", conf(50, 0));
    Load();
    session_->SaveFeedConfig();
    EXPECT_EQ(Read("data/backup/zibu.conf"), conf(50, 0));
    session_->Feeds()[0].url = "http://changed.example/rss";
    const std::string first = Read("zibu.conf");
    session_->SaveFeedConfig();
    EXPECT_EQ(Read("data/backup/zibu.conf"), first);
    if (c.backup == Backup::kNone) fs::remove(home_ + "data/backup/zibu.conf");
    if (c.backup == Backup::kDamaged) {
      const std::string b = Read("data/backup/zibu.conf");
      Write("data/backup/zibu.conf", b.substr(0, b.size() / 2));
    }
    const std::string backup = Read("data/backup/zibu.conf");
    // Cut to 60 %, in the middle of the keys.
    const std::string whole = Read("zibu.conf");
    const std::string damaged = whole.substr(0, whole.size() * 6 / 10);
    Write("zibu.conf", damaged);

    // The next start, on the same home.
    session_ = std::make_unique<FeedsSession>(home_);
    view_.session = session_.get();
    session_->AttachView(&view_);
    session_->SetClock(&clock_);
    view_.port.questions.clear();
    view_.port.messages.clear();
    view_.port.answer = c.answer;
    auto file = session_->OpenConfig();
    session_->LoadConfig(*file);
    EXPECT_EQ(session_->Feeds().size(), c.feeds);
    ASSERT_EQ(view_.port.questions.size(), c.asked ? 1u : 0u);
    ASSERT_EQ(view_.port.messages.size(), c.asked ? 0u : 1u) << (view_.port.messages.empty() ? "" : view_.port.messages[0]);
    const std::string& box = c.asked ? view_.port.questions[0] : view_.port.messages[0];
    EXPECT_EQ(box.rfind(home_ + "zibu.conf says it holds 50 feeds (feedCount), but only 30 are in it", 0), 0u)
        << box;
    EXPECT_NE(box.find("I have kept a copy of it as " + home_ + "zibu.conf.damaged"), std::string::npos) << box;
    EXPECT_EQ(Read("zibu.conf.damaged"), damaged);
    EXPECT_EQ(Read("zibu.conf"), c.feeds == 50 ? backup : damaged);
    if (c.feeds == 50) {
      EXPECT_EQ(session_->Feeds()[0].url, "http://f0.example/rss");
    }

    // The saves of the run: the damaged file never becomes the backup copy.
    session_->Feeds()[1].url = "http://run.example/rss";
    session_->SaveFeedConfig();
    session_->SaveFeedConfig();
    EXPECT_EQ(fs::exists(home_ + "data/backup/zibu.conf"), c.backup != Backup::kNone);
    if (c.backupKeptAfterSave) {
      EXPECT_EQ(Read("data/backup/zibu.conf"), backup);
    } else {
      EXPECT_NE(Read("data/backup/zibu.conf").find("http://run.example/rss"), std::string::npos);
    }
  }
}

// A step that fails stops the load with the file it was reading, and from then on no save of
// the run writes anything; each says why in the log.
TEST_F(FeedsSessionTest, AFailingLoadStepHoldsEverySaveOfTheRun) {
  struct Case {
    std::string failAt;  // relative to the home
    std::string listsShown;
  };
  const Case cases[] = {{"zibu.conf", "0"},
                        {"data/shownfeedurls.dat", "1 first"},
                        {"data/commonwords.dat", "1 first"},
                        {"data/wordweightings.dat and reltable.dat", "1 first"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failAt);
    TearDown();
    SetUp();
    Write("zibu.conf", "[main]\nfeedCount=1\n[rss]\nfeed.0.url=http://a.example/rss\n");
    Write("data/commonwords.dat", "THAT\r\n");
    session_->SetLoadStepHook([&](const std::string& file) {
      if (file == home_ + c.failAt) throw IoError("Unable to read " + file);
    });
    const auto before = Files();
    try {
      Load();
      ADD_FAILURE() << "the load went on";
    } catch (const LoadError& e) {
      EXPECT_EQ(std::string(e.what()).rfind("Start-up stopped while reading " + home_ + c.failAt + ": ", 0),
                0u)
          << e.what();
    }
    EXPECT_TRUE(session_->SavesHeld());
    EXPECT_EQ(view_.lists, std::vector<std::string>{c.listsShown});
    EXPECT_FALSE(view_.timer);
    session_->Feeds().push_back(Feed("http://new.example/rss"));
    session_->ShownUrls().Add("http://new.example/1", clock_.now);
    session_->SaveFeedConfig();
    session_->SaveData();
    EXPECT_TRUE(Files() == before);
    EXPECT_TRUE(view_.port.Logged("I have not saved zibu.conf, because " + session_->SavesHeldReason()));
    EXPECT_TRUE(
        view_.port.Logged("I have not saved the learned data, because " + session_->SavesHeldReason()));
  }
}

// The session's scan with the real download and triage, shown through the view; a spider's hold
// stops the timer and cancels the scan, its release starts the timer again.
TEST_F(FeedsSessionTest, AScanThroughTheViewAndTheHoldOfScans) {
  LoopbackServer server;
  server.ServeBody("/news.xml",
                   "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>t</title>"
                   "<item><title>Volcano erupts</title><link>" +
                       server.Url("/n/1") + "</link></item><item><title>Council meets</title><link>" +
                       server.Url("/n/2") + "</link></item></channel></rss>",
                   "text/xml");
  session_->Feeds() = {Feed(server.Url("/news.xml"), {"1:volcano"})};
  session_->SetHttpTimeouts(2000, 2000);
  view_.threshold = 100;
  ASSERT_TRUE(session_->RunScan(ScanKind::ActiveFeeds));
  EXPECT_EQ(view_.shown, std::vector<std::string>{"Keyword match on VOLCANO: Volcano erupts"});
  ASSERT_EQ(session_->ShownUrls().Count(), 1);
  EXPECT_EQ(session_->ShownUrls().KeyAt(0), server.Url("/n/1"));
  EXPECT_EQ(session_->Feeds()[0].lastRefresh, clock_.now);
  EXPECT_EQ(view_.enabled_, (std::vector<bool>{false, true}));
  EXPECT_TRUE(view_.port.Logged("Finished scanning feed " + server.Url("/news.xml")));

  // A hold cancels the scan that runs.
  view_.timer = true;
  ScanControl& control = *session_;
  ASSERT_NE(session_->StartScan(ScanKind::ActiveFeeds), nullptr);
  EXPECT_FALSE(session_->CancelRequested());
  control.HoldScans();
  EXPECT_FALSE(view_.timer);
  EXPECT_TRUE(session_->CancelRequested());
  session_->AbandonScan();
  EXPECT_FALSE(session_->CancelRequested());
  EXPECT_FALSE(session_->ScanTimerActive());
  control.ReleaseScans();
  EXPECT_TRUE(session_->ScanTimerActive());

  // A scan that ends while a crawl holds the scans leaves the timer stopped until the release,
  // the last of two holds included; a scan of the buttons and a scheduled one alike.
  const struct {
    const char* name;
    std::function<void()> scan;
  } scans[] = {
      {"search", [&] { ASSERT_TRUE(session_->RunScan(ScanKind::ActiveFeeds)); }},
      {"scheduled", [&] { ASSERT_TRUE(session_->RunScan(ScanKind::Scheduled)); }},
  };
  for (const auto& s : scans) {
    SCOPED_TRACE(s.name);
    control.HoldScans();
    control.HoldScans();
    clock_.now += 3600 * 1000;
    session_->Scanner().lastUserActivity = 0;
    s.scan();
    EXPECT_TRUE(view_.port.Logged("Finished searching active feeds"));
    EXPECT_FALSE(view_.timer);
    control.ReleaseScans();
    EXPECT_FALSE(view_.timer);
    control.ReleaseScans();
    EXPECT_TRUE(view_.timer);
  }
}

// Every article a scan reads is kept once, whether triage takes it or not, with its score; what
// the user did in a rating window and in the reading list shows there, and the relevances follow
// what was learned.
TEST_F(FeedsSessionTest, TheReadingListKeepsEveryArticleAScanReads) {
  Write("zibu.conf", "[main]\nfeedCount=0\n");
  int rescoreWanted = 0, relevancesChanged = 0;
  session_->SetReadingListCallbacks([&] { ++rescoreWanted; }, [&] { ++relevancesChanged; });
  Load();
  TArticleStore* store = session_->Store();
  ASSERT_NE(store, nullptr);
  LoopbackServer server;
  const std::string feed = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>t</title>"
                           "<item><title>Volcano erupts</title><guid>v1</guid><link>" + server.Url("/n/1") +
                           "</link><pubDate>Tue, 10 Jun 2003 04:00:00 GMT</pubDate></item>"
                           "<item><title>Council meets</title><description>&lt;p&gt;The &lt;b&gt;council&lt;/b&gt;"
                           "&lt;/p&gt;</description><link>" + server.Url("/n/2") + "</link></item>"
                           "<item><title>Garden apple pruning</title><link>" + server.Url("/n/3") +
                           "</link></item></channel></rss>";
  server.ServeBody("/news.xml", feed, "text/xml");
  session_->Feeds() = {Feed(server.Url("/news.xml"), {"1:volcano"})};
  session_->SetHttpTimeouts(2000, 2000);
  session_->Engine().LearnFromRating(8, "garden apple pruning");
  view_.threshold = 100;
  view_.rating = 7;
  ASSERT_TRUE(session_->RunScan(ScanKind::ActiveFeeds));

  auto byTitle = [&](const std::string& title) {
    for (const auto& a : store->Query({.withBodies = true}))
      if (a.title == title) return a;
    ADD_FAILURE() << title << " is not kept";
    return StoredArticle();
  };
  EXPECT_EQ(store->Count(), 3u);
  const StoredArticle volcano = byTitle("Volcano erupts");
  EXPECT_EQ(volcano.guid, "v1");
  EXPECT_EQ(volcano.relevance, 100) << "a keyword match";
  EXPECT_EQ(volcano.rating, 7) << "rated in the rating window";
  EXPECT_TRUE(volcano.read);
  EXPECT_NE(volcano.published, clock_.now) << "the item's own date";
  const StoredArticle council = byTitle("Council meets");
  EXPECT_EQ(council.text, "Council meets " + HtmlToText("<p>The <b>council</b></p>")) << "plain, as triage scores it";
  EXPECT_EQ(council.content, "<p>The <b>council</b></p>") << "as the feed wrote it, for reading";
  EXPECT_EQ(council.published, clock_.now) << "no date: first seen";
  EXPECT_FALSE(council.read);
  const StoredArticle garden = byTitle("Garden apple pruning");
  EXPECT_GT(garden.relevance, 0) << "scored though below the threshold";

  // The rating taught the engine: the unread articles are scored again, in slices.
  EXPECT_EQ(rescoreWanted, 1);
  while (session_->RescoreStep(5)) {
  }
  EXPECT_EQ(relevancesChanged, 1);
  for (const auto& a : store->Query({.unreadOnly = true, .withBodies = true}))
    EXPECT_EQ(a.relevance, session_->Engine().GetRelevance(a.text)) << a.title;

  // The next scan keeps no second row; a rating in the list is learned and kept.
  clock_.now += 10 * 60000;
  ASSERT_TRUE(session_->RunScan(ScanKind::ActiveFeeds));
  EXPECT_EQ(store->Count(), 3u);
  const size_t recorded = session_->Engine().RatedArticles().Entries().size();
  session_->RateArticle(council.id, -5);
  EXPECT_EQ(store->Get(council.id)->rating, -5);
  EXPECT_TRUE(store->Get(council.id)->read);
  EXPECT_EQ(session_->Engine().RatedArticles().Entries().size(), recorded + 1);
  EXPECT_EQ(rescoreWanted, 3) << "after the second scan's presentation and after the rating";

  // A store that cannot be written costs the list that feed's articles, said once; the scan goes on.
  sqlite3* other = nullptr;
  sqlite3_open((home_ + "data/articles.db").c_str(), &other);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  server.ServeBody("/news.xml", feed + std::string("<!-- -->"), "text/xml");
  session_->Feeds().push_back(Feed(server.Url("/news.xml?again"), {}));
  view_.port.lines.clear();
  clock_.now += 10 * 60000;
  ASSERT_TRUE(session_->RunScan(ScanKind::ActiveFeeds));
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  int said = 0;
  for (const auto& line : view_.port.lines)
    said += line.text.rfind("I could not keep the articles of this scan in the reading list", 0) == 0;
  EXPECT_EQ(said, 1);
  EXPECT_TRUE(view_.port.Logged("Finished searching active feeds"));
}

// The feeds timer's scan waits until the user has left the feeds window alone for 30 s; a tick
// held back neither scans nor saves, and the first one after that does both.
TEST_F(FeedsSessionTest, AScheduledScanWaitsThirtySecondsAfterTheUserTouchedTheWindow) {
  session_->Feeds() = {Feed("http://a.example/rss")};
  session_->SetDownloadFetch([](const std::string& url, const HttpOptions&) {
    HttpResponse response;
    response.status = 200;
    response.finalUrl = url;
    response.body =
        "<rss><channel><item><title>One</title><link>http://a.example/1</link></item></channel></rss>";
    return response;
  });
  session_->Scanner().saveConfigIntervalMs = 10 * kMinute;
  session_->Scanner().lastSaveTime = clock_.now - 11 * kMinute;
  const int64_t touched = clock_.now;
  session_->Scanner().Touch();
  const struct {
    int64_t after;
    bool scans;
  } ticks[] = {{0, false}, {20000, false}, {29999, false}, {80000, true}};
  for (const auto& tick : ticks) {
    SCOPED_TRACE(tick.after);
    clock_.now = touched + tick.after;
    EXPECT_EQ(session_->RunScan(ScanKind::Scheduled), tick.scans);
    EXPECT_EQ(view_.port.Logged("Searching all active feeds"), tick.scans);
    EXPECT_EQ(session_->Feeds()[0].lastRefresh, tick.scans ? clock_.now : 0);
    EXPECT_EQ(fs::exists(home_ + "zibu.conf"), tick.scans);
    EXPECT_EQ(session_->Scanner().lastSaveTime, tick.scans ? clock_.now : touched - 11 * kMinute);
  }
  EXPECT_TRUE(view_.port.Logged("Finished scanning feed http://a.example/rss"));
}

// Saves on a worker. The worker is held at its first write until the test lets it go; what the
// user does meanwhile goes to the live engine and memory, is not in the files of that save, and
// is in those of the next one, whoever starts it.
TEST_F(FeedsSessionTest, ASaveOnAWorkerTakesASnapshotAndWhatComesMeanwhileGoesInTheNextSave) {
  auto upper = [](std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
  };
  auto words = [&] { return upper(Read("data/wordweightings.dat")); };
  auto shown = [&] { return Read("data/shownfeedurls.dat"); };
  enum class Next { kAskedDuringTheSave, kStartedAfterIt, kExitSave };
  const struct Case {
    const char* name;
    Next next;
  } cases[] = {
      {"a save asked for while one runs follows it", Next::kAskedDuringTheSave},
      {"a save started after it", Next::kStartedAfterIt},
      {"exit's own save waits for the worker first", Next::kExitSave},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    Write("zibu.conf", "[main]\nfeedCount=0\n");
    Load();
    std::atomic<int> wakes{0};
    session_->SetBackgroundSaves([&wakes] { ++wakes; });
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> held{false};
    std::atomic<int> firstWrites{0};
    session_->Engine().SetSaveStepHook([&, released](const std::string& step) {
      if (step.rfind("write ", 0) == 0 && firstWrites++ == 0) {
        held = true;
        released.wait();
      }
    });
    session_->Engine().LearnFromRating("alphaword betaword gammaword", 5);
    session_->ShownUrls().Add("http://a.example/before", clock_.now);
    session_->StartSave();
    ASSERT_TRUE(session_->SaveRunning());
    for (int i = 0; i < 500 && !held; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_TRUE(held);

    // The engine is free while the worker writes: scoring and rating answer at once.
    const auto started = std::chrono::steady_clock::now();
    EXPECT_GT(session_->Engine().GetRelevance("alphaword betaword"), 0);
    session_->Engine().LearnFromRating("deltaword epsilonword", 5);
    session_->ShownUrls().Add("http://a.example/during", clock_.now);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(100));
    EXPECT_NE(session_->Engine().WordWeights().IndexOf("deltaword"), -1);
    // Nothing is finished before the worker is done.
    session_->FinishSave();
    EXPECT_TRUE(session_->SaveRunning());

    if (c.next == Next::kExitSave) {
      std::thread releaser([&release] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        release.set_value();
      });
      session_->SetBackgroundSaves({});
      session_->SaveData();
      releaser.join();
      EXPECT_FALSE(session_->SaveRunning());
      EXPECT_NE(words().find("ALPHAWORD"), std::string::npos);
      EXPECT_NE(words().find("DELTAWORD"), std::string::npos);
      EXPECT_NE(shown().find("http://a.example/during="), std::string::npos);
      continue;
    }
    if (c.next == Next::kAskedDuringTheSave) session_->StartSave();
    release.set_value();
    for (int i = 0; i < 1000 && wakes == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_EQ(wakes, 1);
    session_->FinishSave();
    // The first save holds the state of its start alone.
    EXPECT_NE(words().find("ALPHAWORD"), std::string::npos);
    EXPECT_NE(shown().find("http://a.example/before="), std::string::npos);
    if (c.next == Next::kStartedAfterIt) {
      EXPECT_FALSE(session_->SaveRunning());
      EXPECT_EQ(words().find("DELTAWORD"), std::string::npos);
      EXPECT_EQ(shown().find("http://a.example/during="), std::string::npos);
      session_->StartSave();
    }
    EXPECT_TRUE(session_->SaveRunning());
    session_->WaitForSave();
    EXPECT_FALSE(session_->SaveRunning());
    EXPECT_NE(words().find("ALPHAWORD"), std::string::npos);
    EXPECT_NE(words().find("DELTAWORD"), std::string::npos);
    EXPECT_NE(shown().find("http://a.example/before="), std::string::npos);
    EXPECT_NE(shown().find("http://a.example/during="), std::string::npos);
    EXPECT_TRUE(view_.port.Logged("Finished saving data..."));
  }
}

// A full disk met by a worker is asked about on the driver's thread when the save is finished
// (the worker's own questions go nowhere):
// a yes writes again on a worker, a no logs that this run's learning is not saved.
TEST_F(FeedsSessionTest, AWorkerSaveOnAFullDiskAsksOnTheDriversThread) {
  Write("zibu.conf", "[main]\nfeedCount=0\n");
  Load();
  session_->ShownUrls().Add("http://a.example/1", clock_.now);
  session_->SaveData();
  const std::string lastSave = Read("data/shownfeedurls.dat");
  session_->SetBackgroundSaves([] {});
  const struct {
    bool tryAgain;
  } cases[] = {{false}, {true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tryAgain);
    session_->ShownUrls().Add("http://a.example/" + std::to_string(c.tryAgain) + "x", clock_.now);
    fs::create_symlink("/dev/full", home_ + "data/shownfeedurls.dat.new.tmp");
    view_.port.questions.clear();
    view_.port.lines.clear();
    view_.port.answer = c.tryAgain;
    session_->StartSave();
    session_->WaitForSave();
    ASSERT_EQ(view_.port.questions.size(), 1u);
    EXPECT_NE(view_.port.questions[0].find("No space left on device"), std::string::npos);
    EXPECT_EQ(view_.port.Logged("Trying again to save the learned data"), c.tryAgain);
    bool toldNotSaved = false;
    for (const auto& l : view_.port.lines)
      toldNotSaved |= l.text.rfind("I have not saved the learned data of this run: ", 0) == 0;
    EXPECT_EQ(toldNotSaved, !c.tryAgain);
    if (c.tryAgain)
      EXPECT_NE(Read("data/shownfeedurls.dat").find("http://a.example/1x="), std::string::npos);
    else
      EXPECT_EQ(Read("data/shownfeedurls.dat"), lastSave);
    EXPECT_FALSE(fs::is_symlink(home_ + "data/shownfeedurls.dat.new.tmp"));
  }
}

// The slider and the suggestion the ratings make: shown to the view, followed after a
// presentation only with followSuggestedThreshold, and each move the option makes logged.
TEST_F(FeedsSessionTest, TheSliderFollowsTheSuggestionOnlyWhenAskedTo) {
  // Relevant articles scored 5, irrelevant ones 0: every threshold from 1 to 5 separates them.
  std::string separable;
  for (int k = 0; k < 6; ++k) separable += "7 5\r\n-7 0\r\n";
  const std::string moved = "I have moved the relevance threshold from 30% to 3%, where the articles you rated "
                            "suggest it belongs";
  const std::string at3 =
      "Suggested: 3 % - of your last 10 rated articles, it would have shown 5 of the 5 you rated relevant and "
      "0 of the 5 you rated irrelevant";
  struct Case {
    const char* name;
    std::string record;
    bool follow;
    int threshold;
    int after;
    bool logged;
    std::string shown;  // the view's last suggestion
  } cases[] = {
      {"followed", separable, true, 30, 3, true, at3},
      {"not asked to", separable, false, 30, 30, false, at3 + "; at 30 % it would have shown 0 of 5 [usable]"},
      {"already there", separable, true, 3, 3, false, at3},
      {"too little evidence", "7 5\r\n-7 0\r\n-7 0\r\n", true, 30, 30, false,
       "No suggested threshold yet: I need 4 more articles rated relevant and 3 more rated irrelevant to "
       "suggest one"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    view_.port.lines.clear();
    view_.suggestions.clear();
    Write("data/ratedarticles.dat", c.record);
    session_->Engine().LoadRatedArticles();
    view_.settings.followSuggestedThreshold = c.follow;
    view_.settings.firstTime = true;
    view_.threshold = c.threshold;
    Items none;
    ScanState scan;
    session_->Scanner().PresentResults(scan, none);
    EXPECT_EQ(view_.threshold, c.after);
    EXPECT_EQ(view_.port.Logged(moved), c.logged);
    ASSERT_FALSE(view_.suggestions.empty());
    EXPECT_EQ(view_.suggestions.back(), c.shown);
    // The advice after the empty scan comes after the move and names a suggestion still apart.
    const bool named = view_.port.Logged("You may want to consider lowering the alert threshold by using the "
                                         "slider on the top right, it is currently set to only show articles "
                                         "with a relevance of at least 30%. From the articles you have rated, "
                                         "I suggest 3%: the \"Use suggestion\" button under the slider moves it "
                                         "there.\r\nYou could also run the learning process on more feeds - the "
                                         "more times you do this, the more I will learn about the type of "
                                         "content that interests you");
    EXPECT_EQ(named, c.after == 30 && c.record == separable);
  }

  // The button's way: once to the suggestion, then nothing left to do.
  view_.threshold = 50;
  EXPECT_FALSE(session_->UseSuggestedThreshold());  // the last case has no suggestion
  EXPECT_EQ(view_.threshold, 50);
  TearDown();
  SetUp();
  view_.port.lines.clear();
  Write("data/ratedarticles.dat", separable);
  session_->Engine().LoadRatedArticles();
  view_.threshold = 50;
  EXPECT_TRUE(session_->UseSuggestedThreshold());
  EXPECT_EQ(view_.threshold, 3);
  EXPECT_FALSE(session_->UseSuggestedThreshold());
  EXPECT_EQ(view_.suggestions.back(), at3);
  EXPECT_FALSE(view_.port.Logged("I have moved the relevance threshold from 50% to 3%, where the articles you "
                                 "rated suggest it belongs"));
}

}  // namespace
}  // namespace zibu::test
