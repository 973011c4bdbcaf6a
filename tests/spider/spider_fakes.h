// A scripted window, user and web for driving the spider's crawl in tests.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/errors.h"
#include "common/ports.h"
#include "spider/crawl.h"

namespace zibu::test {

// Records every status line (verbose ones too) and runs a hook at every yield.
class RecordingPort : public UserPort {
 public:
  void Log(const std::string& message, bool verbose) override { lines.push_back({message, verbose}); }
  void ShowProgress(const std::string&, int) override {}
  void HideProgress() override {}
  void ShowMessage(const std::string&) override {}
  bool AskYesNo(const std::string&) override { return false; }
  void ProcessMessagesPaced() override {
    ++yields;
    if (onYield) onYield();
  }

  struct Line {
    std::string text;
    bool verbose;
  };
  std::vector<Line> lines;
  int yields = 0;
  std::function<void()> onYield;

  std::vector<std::string> Texts() const {
    std::vector<std::string> out;
    for (const auto& l : lines) out.push_back(l.text);
    return out;
  }
  int CountOf(const std::string& text) const {
    int n = 0;
    for (const auto& l : lines) n += l.text == text;
    return n;
  }
  int CountStartingWith(const std::string& prefix) const {
    int n = 0;
    for (const auto& l : lines) n += l.text.rfind(prefix, 0) == 0;
    return n;
  }
  const std::string& Last() const { return lines.back().text; }
};

// The window's controls and what the crawl told it.
class FakeView : public SpiderView {
 public:
  int ShowRelevance() const override { return slider; }
  bool SearchOffsiteLinks() const override { return offsite; }
  bool SearchHigherLinks() const override { return higher; }
  void PausedWait() override {
    ++pausedWaits;
    if (onPausedWait) onPausedWait();
  }
  void SetBusyCursor(bool busy) override { this->busy = busy; }
  void SetGui(bool idle) override { guiIdle.push_back(idle); }
  void SetPauseCaption(const std::string& caption) override { pauseCaption = caption; }
  void HoldFeeds() override { ++holds; }
  void ReleaseFeeds() override { ++releases; }
  void PagesCheckedChanged(int count) override { pagesCheckedLabel = count; }

  int slider = 20;
  bool offsite = true;
  bool higher = true;
  int pausedWaits = 0;
  std::function<void()> onPausedWait;
  bool busy = false;
  std::vector<bool> guiIdle;
  std::string pauseCaption = "Pause";
  int holds = 0;
  int releases = 0;
  int pagesCheckedLabel = -1;
};

// A web of fixed pages; unknown or failing addresses throw like a failed download.
class FakeWeb : public PageFetcher {
 public:
  std::string Fetch(const std::string& address) override {
    fetched.push_back(address);
    if (onFetch) onFetch(address);
    lastCharset.clear();
    if (failing.count(address)) throw Error("Connection refused", "ESocketError");
    auto it = pages.find(address);
    if (it == pages.end()) throw Error("HTTP/1.1 404 Not Found", "EHttpError");
    if (auto c = charsets.find(address); c != charsets.end()) lastCharset = c->second;
    return it->second;
  }
  std::string ResponseCharset() const override { return lastCharset; }
  int FetchCount(const std::string& address) const {
    int n = 0;
    for (const auto& a : fetched) n += a == address;
    return n;
  }

  std::map<std::string, std::string> pages;
  std::map<std::string, std::string> charsets;  // what a response's Content-Type names
  std::string lastCharset;
  std::set<std::string> failing;
  std::vector<std::string> fetched;
  std::function<void(const std::string&)> onFetch;
};

// Downloads for a crawl driven by events: each stays out until the test hands its outcome back
// (from the web above), as the event of a finished download would.
class QueuedDownloads : public PageDownloads {
 public:
  explicit QueuedDownloads(FakeWeb& web) : web_(web) {}
  void BeginDownload(const std::string& address) override { pending.push_back(address); }
  // Hands back the oldest download's outcome; false when none is out.
  bool DeliverOne(TSpiderCrawl& crawl) {
    if (pending.empty()) return false;
    const std::string address = pending.front();
    pending.erase(pending.begin());
    std::string page;
    try {
      page = web_.Fetch(address);
    } catch (const std::exception& e) {
      crawl.downloadFailed(e);
      return true;
    }
    crawl.downloadFinished(std::move(page));
    return true;
  }

  std::vector<std::string> pending;

 private:
  FakeWeb& web_;
};

// A stand-in for the learned relevance: 10 points for each "good", -10 for each "bad",
// limited to -100..100.
inline int WordCountRelevance(std::string_view text) {
  auto count = [&](std::string_view w) {
    int n = 0;
    for (size_t p = text.find(w); p != std::string_view::npos; p = text.find(w, p + 1)) ++n;
    return n;
  };
  int r = 10 * count("good") - 10 * count("bad");
  return r > 100 ? 100 : (r < -100 ? -100 : r);
}

// A random source that plays back given numbers (and then 0), recording each range asked for.
struct ScriptedRandom {
  std::vector<int> values;
  std::vector<int> ranges;
  size_t next = 0;
  RandomSource Source() {
    return [this](int n) {
      ranges.push_back(n);
      return next < values.size() ? values[next++] : 0;
    };
  }
};

}  // namespace zibu::test
