// Stand-ins for everything around the feed scanner: a clock the test sets, a user who answers
// from a script, a learner with fixed relevances, a window, and feeds whose documents are made
// from lists of items and fetched by the scan job as a server's would be.
#pragma once

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/compmap.h"
#include "common/global_settings.h"
#include "common/ports.h"
#include "feeds/feed.h"
#include "feeds/scan_job.h"
#include "feeds/scheduler.h"
#include "feeds/triage.h"
#include "learning/recent_scores.h"

namespace zibu::test {

// 2026-12-08 09:00 local, in milliseconds.
inline constexpr int64_t kT0 = 1796806800000LL;
inline constexpr int64_t kMinute = 60000;

class ManualClock : public Clock {
 public:
  int64_t now = kT0;
  uint32_t idle = 0;
  int64_t NowMs() const override { return now; }
  uint32_t IdleMs() const override { return idle; }
};

class ScriptedPort : public UserPort {
 public:
  struct Line {
    std::string text;
    bool verbose;
  };
  std::vector<Line> lines;
  std::vector<std::string> messages;
  std::vector<std::string> questions;
  bool answer = true;
  int pacedCalls = 0;

  void Log(const std::string& message, bool verbose = false) override { lines.push_back({message, verbose}); }
  // A line like any other, its UTF-8 form recorded besides.
  void LogQuoting(const std::string& message, const std::string& messageUtf8, bool verbose = false) override {
    Log(message, verbose);
    quoting.push_back(messageUtf8);
  }
  std::vector<std::string> quoting;
  void ShowProgress(const std::string&, int) override {}
  void HideProgress() override {}
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  bool AskYesNo(const std::string& text) override {
    questions.push_back(text);
    return answer;
  }
  void ProcessMessagesPaced() override { ++pacedCalls; }

  bool Logged(const std::string& text) const {
    for (const Line& l : lines)
      if (l.text == text) return true;
    return false;
  }
  bool LoggedVerbose(const std::string& text) const {
    for (const Line& l : lines)
      if (l.text == text) return l.verbose;
    return false;
  }
  int Count(const std::string& text) const {
    int n = 0;
    for (const Line& l : lines)
      if (l.text == text) ++n;
    return n;
  }
};

// Relevance by the first listed word found in the text; everything else scores `otherwise`.
class FixedLearner : public RelevanceLearner {
 public:
  std::vector<std::pair<std::string, int>> relevanceOf;
  int otherwise = 0;
  std::vector<std::pair<int, std::string>> learned;  // every call, rating 0 included
  TRecentScores* recent = nullptr;                    // where scores go; none: nowhere

  int GetRelevance(std::string_view text) override {
    for (const auto& [word, r] : relevanceOf)
      if (text.find(word) != std::string_view::npos) return r;
    return otherwise;
  }
  void LearnFromRating(int rating, std::string_view text) override { learned.emplace_back(rating, text); }
  TRecentScores* RecentScores() override { return recent; }
};

// The user in front of the single-article window: answers from a script, then closes untouched.
class ScriptedUser : public PageFoundPort {
 public:
  struct Shown {
    std::string reason, title, description, link;
  };
  std::deque<PageFoundResult> answers;
  std::vector<Shown> shown;
  std::vector<FoundArticle> articles;  // what came through ShowArticle, as it came
  std::function<void()> onShow;        // e.g. a nested event while the window is up

  PageFoundResult ShowArticle(const FoundArticle& article) override {
    articles.push_back(article);
    return PageFoundPort::ShowArticle(article);
  }

  PageFoundResult ShowPageFound(const std::string& reason, const std::string& title,
                                const std::string& description, const std::string& link, bool) override {
    shown.push_back({reason, title, description, link});
    if (onShow) onShow();
    if (answers.empty()) return {};
    PageFoundResult r = answers.front();
    answers.pop_front();
    return r;
  }
  std::vector<std::string> Titles() const {
    std::vector<std::string> out;
    for (const Shown& s : shown) out.push_back(s.title);
    return out;
  }
};

inline TItem Article(std::string title, std::string link, std::string description = "") {
  TItem item;
  item.Title = std::move(title);
  item.Link = std::move(link);
  item.Description = std::move(description);
  return item;
}

inline TFeed Feed(std::string url, std::vector<std::string> keywords = {}, bool active = true,
                  int refreshInterval = 300) {
  TFeed feed;
  feed.url = std::move(url);
  feed.keywords = std::move(keywords);
  feed.active = active;
  feed.refreshInterval = refreshInterval;
  return feed;
}

// The feeds window as the scanner sees it. Each feed address maps to the items its document
// holds; a scan job fetches that document and reads them, as from a server.
class FakeHost : public ScanHost {
 public:
  explicit FakeHost(ManualClock&) {}

  GlobalSettings settings;
  int threshold = 30;
  int resultsFormat = 0;
  int selected = -1;
  std::map<std::string, std::vector<TItem>> documents;
  // Called after each item is triaged (feed url, item index); may cancel the scan.
  std::function<void(const std::string&, int)> afterItem;
  // On the download's worker, before the document is sent; may throw (the download fails).
  std::function<void(const std::string& url)> onScan;
  // Ratings the user gives in the table window, by row.
  std::vector<int> tableRatings;

  bool timerRunning = true;
  int timerStops = 0, timerStarts = 0;
  bool controlsEnabled = true;
  std::vector<bool> enableCalls;
  std::vector<std::string> scannedKeywordsFirst;  // the first rule of each feed whose items were triaged
  int feedConfigSaves = 0, dataSaves = 0;
  bool failDataSave = false;
  int tablesShown = 0;
  std::vector<std::string> tableTitles;
  std::vector<std::string> tableStandings;
  std::optional<int> suggested;
  int presentations = 0;

  void StopTimer() override {
    timerRunning = false;
    ++timerStops;
  }
  void StartTimer() override {
    timerRunning = true;
    ++timerStarts;
  }
  void EnableControls(bool enabled) override {
    controlsEnabled = enabled;
    enableCalls.push_back(enabled);
  }
  void HideCommonIntervals() override {}
  int SelectedFeed() const override { return selected; }
  int Threshold() const override { return threshold; }
  int ResultsFormat() const override { return resultsFormat; }
  const GlobalSettings& Settings() const override { return settings; }
  void SaveFeedConfig() override { ++feedConfigSaves; }
  void SaveData() override {
    if (failDataSave) throw std::runtime_error("Cannot create file data/reltable.dat");
    ++dataSaves;
  }
  std::optional<int> SuggestedThreshold() const override { return suggested; }
  void ResultsPresented() override { ++presentations; }
  void ShowItemsInTable(Items& items) override {
    ++tablesShown;
    for (size_t i = 0; i < items.size(); ++i) {
      tableTitles.push_back(items[i].Title);
      tableStandings.push_back(items[i].Standing);
      items[i].Rating = i < tableRatings.size() ? tableRatings[i] : 0;
    }
  }
};

// Markup in a text, written so that the reader gives the text back.
inline std::string XmlEscaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '&')
      out += "&amp;";
    else if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else
      out += c;
  }
  return out;
}

// An RSS document of the items (single-byte texts, as the tests write them).
inline std::string RssOf(const std::vector<TItem>& items) {
  std::string out = "<?xml version=\"1.0\" encoding=\"windows-1252\"?><rss version=\"2.0\"><channel>";
  for (const TItem& item : items) {
    out += "<item><title>" + XmlEscaped(item.Title) + "</title>";
    if (!item.Description.empty()) out += "<description>" + XmlEscaped(item.Description) + "</description>";
    out += "<link>" + XmlEscaped(item.Link) + "</link></item>";
  }
  return out + "</channel></rss>";
}

// Everything wired together, as the feeds window wires it; scans run as jobs.
struct ScanBench {
  ManualClock clock;
  ScriptedPort port;
  FixedLearner learner;
  ScriptedUser user;
  FakeHost host{clock};
  TCompMap shownUrls;
  std::vector<TFeed> feeds;
  TFeedScanner scanner{feeds, shownUrls, learner, port, clock, host, user};
  // State for calling the scanner's triage and presentation outside a job.
  ScanState state;
  // The job that runs now, while Run runs.
  TScanJob* job = nullptr;
  // The idle time each wait for an idle user asked for; the user then leaves the machine alone
  // for as long.
  std::vector<int64_t> waits;
  std::string tempDir;
  // What the last job's state held when it was done.
  size_t resultsAtEnd = 0;
  bool learningAtEnd = false;
  int presentedAtEnd = 0;

  ScanBench() {
    static std::atomic<int> benches{0};
    tempDir = (std::filesystem::temp_directory_path() /
               ("zibu_bench_" + std::to_string(::getpid()) + "_" + std::to_string(benches++)))
                  .string() +
              "/";
    std::filesystem::create_directories(tempDir);
    // The window was last touched long ago and saved just now.
    scanner.lastUserActivity = clock.now - 10 * kMinute;
    scanner.lastSaveTime = clock.now;
  }
  ~ScanBench() {
    std::error_code ignored;
    std::filesystem::remove_all(tempDir, ignored);
  }
  ScanBench(const ScanBench&) = delete;
  ScanBench& operator=(const ScanBench&) = delete;

  ScanJobSettings JobSettings(ScanKind kind) {
    ScanJobSettings settings;
    settings.kind = kind;
    settings.scan.tempDir = tempDir;
    settings.scan.clock = &clock;
    settings.maxParallel = 2;
    settings.fetch = [this](const std::string& url, const HttpOptions&) {
      if (host.onScan) host.onScan(url);
      HttpResponse response;
      response.status = 200;
      response.finalUrl = url;
      const auto it = host.documents.find(url);
      if (it != host.documents.end()) response.body = RssOf(it->second);
      return response;
    };
    auto itemIndex = std::make_shared<std::map<std::string, int>>();
    settings.scan.triage = [this, itemIndex](TFeed& feed, TItem& item, Items& into) {
      const int index = (*itemIndex)[feed.url]++;
      if (index == 0) host.scannedKeywordsFirst.push_back(feed.keywords.empty() ? "" : feed.keywords.front());
      job->TriageItem(feed, item, into);
      if (host.afterItem) host.afterItem(feed.url, index);
    };
    return settings;
  }

  // Runs a scan of `kind` to its end, the way the feeds window drives it.
  void Run(ScanJobSettings settings) {
    TScanJob running(feeds, scanner, host, port, clock, std::move(settings));
    running.SetShownUrls(&shownUrls);
    job = &running;
    for (bool done = false; !done;) {
      switch (running.Advance()) {
        case ScanStep::Done:
          done = true;
          resultsAtEnd = running.State().results.size();
          learningAtEnd = running.State().isLearning;
          presentedAtEnd = running.State().presentedWhileLearning.Count();
          break;
        case ScanStep::Ready:
          break;
        case ScanStep::Idle:
          waits.push_back(host.settings.runAfterIdleForMs);
          clock.idle = static_cast<uint32_t>(host.settings.runAfterIdleForMs);
          break;
        case ScanStep::Download:
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
          break;
      }
    }
    job = nullptr;
  }
  void Run(ScanKind kind) { Run(JobSettings(kind)); }

  // The feeds scanned, in the order of their "Scanning feed" lines.
  std::vector<std::string> Scanned() const {
    std::vector<std::string> out;
    for (const auto& line : port.lines)
      if (line.text.rfind("Scanning feed ", 0) == 0) out.push_back(line.text.substr(14));
    return out;
  }
  std::vector<std::string> ShownKeys() const {
    std::vector<std::string> out;
    for (int i = 0; i < shownUrls.Count(); ++i) out.push_back(shownUrls.KeyAt(i));
    return out;
  }
};

}  // namespace zibu::test
