// The spider's crawl, without any window: it follows the most promising queued link, scores
// every page reached through a link and lists the relevant ones. The spider window drives it and
// shows its state; tests drive it with a loopback site or a fake fetcher.
#pragma once

#include <exception>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/ports.h"
#include "spider/link_queue.h"

namespace zibu {

class TRecentScores;

// What the crawl reads from and tells its window (or a test playing one).
class SpiderView {
 public:
  virtual ~SpiderView() = default;

  // Control states, read at the moment they are needed (the user may change them mid-crawl).
  virtual int ShowRelevance() const = 0;  // the threshold slider, 0 to 100
  virtual bool SearchOffsiteLinks() const = 0;
  virtual bool SearchHigherLinks() const = 0;

  // One round of the wait while paused, for a crawl run whole inside crawl(): let the user's
  // clicks through, then wait a little. A crawl driven by events never calls it.
  virtual void PausedWait() {}

  // Changes to show; the defaults ignore them.
  virtual void SetBusyCursor(bool /*busy*/) {}
  virtual void SetGui(bool /*idle*/) {}
  virtual void SetPauseCaption(const std::string& /*caption*/) {}
  // The feeds timer is held for the whole crawl, and a running feed scan is asked to end.
  virtual void HoldFeeds() {}
  virtual void ReleaseFeeds() {}
  virtual void CurrentPageChanged() {}  // current address or description
  virtual void PagesCheckedChanged(int /*count*/) {}
  virtual void LinkQueueChanged() {}
  virtual void FoundPagesChanged() {}
  // The "Links found (n)" and "Pages found (n)" counts are due.
  virtual void CountsChanged(int /*links*/, int /*pages*/) {}
  // The crawl is over ("Stopped searching" has been written).
  virtual void CrawlEnded() {}
};

// Downloads one page; throws on any failure.
class PageFetcher {
 public:
  virtual ~PageFetcher() = default;
  virtual std::string Fetch(const std::string& address) = 0;
  // The charset the response of the last Fetch named in its Content-Type ("" for none).
  virtual std::string ResponseCharset() const { return {}; }
};

// Downloads for a crawl driven by events: BeginDownload starts one and returns; its outcome goes
// to the crawl's downloadFinished or downloadFailed, later from the event loop or at once.
class PageDownloads {
 public:
  virtual ~PageDownloads() = default;
  virtual void BeginDownload(const std::string& address) = 0;
};

// The learned relevance of a text, -100 to 100.
using RelevanceFunction = std::function<int(std::string_view text)>;
// A uniform integer from 0 to n - 1.
using RandomSource = std::function<int(int n)>;

// A RandomSource seeded from the clock.
RandomSource ClockSeededRandom();

// "Error: <kind>: <message>" and friends: the kind of a zibu::Error, or "Exception".
std::string ErrorClassName(const std::exception& e);

// Every line of a text with CR, LF and TAB as blanks, runs of blanks collapsed, cut to `limit`
// characters: the excerpt of a found page.
std::string PageExcerpt(std::string_view plainText, size_t limit = 1000);
// The same for a text in UTF-8, cut to `limit` characters rather than bytes.
std::string PageExcerptUtf8(std::string_view plainText, size_t limit = 1000);

class TSpiderCrawl {
 public:
  // `port` takes the status lines and the paced yields.
  TSpiderCrawl(UserPort& port, SpiderView& view, PageFetcher& fetcher, RelevanceFunction relevance);
  // For a crawl only ever driven by events (start()); crawl() then has nothing to fetch with.
  TSpiderCrawl(UserPort& port, SpiderView& view, RelevanceFunction relevance);
  TSpiderCrawl(const TSpiderCrawl&) = delete;
  TSpiderCrawl& operator=(const TSpiderCrawl&) = delete;

  void SetRandomSource(RandomSource random) { random_ = std::move(random); }
  // Where the relevance of every page scored goes, with the time of `clock` (none: nowhere, and
  // the found pages carry no standing). Link descriptions are estimates and are not recorded.
  void SetRecentScores(TRecentScores* scores, const Clock* clock) {
    recentScores_ = scores;
    clock_ = clock;
  }

  // One whole crawl from `startingAddress`, each page from the fetcher; returns when it has
  // ended (Stop, or no links left). Does nothing when a crawl of this object is already running.
  void crawl(const std::string& startingAddress);
  // The same crawl driven by events: asks `downloads` for each page and returns; every outcome
  // handed back moves it on to the next download, to a pause, or to its end (CrawlEnded).
  // `downloads` must outlive the crawl.
  void start(const std::string& startingAddress, PageDownloads& downloads);
  // `charset`: what the response's Content-Type named ("" for none), for showing the page's text.
  void downloadFinished(std::string page, std::string charset = {});
  void downloadFailed(const std::exception& e);
  bool downloadPending() const { return stage_ == Stage::Downloading; }
  // Stop and Pause act at the crawl's next checkpoint; a crawl held by a pause goes on (or ends,
  // after Stop) at once.
  void stop();
  void togglePause();

  // Queues the new links of one downloaded page (the page as downloaded, not its text). The
  // descriptions are shown in the page's charset: the response's (of the current cycle's
  // download), else the one the page declares.
  void searchPageForLinks(std::string_view page);
  // Sorts the queue, takes the next link out of it and makes it current; false when it is empty.
  bool chooseNextLink();
  void sortLinks() { links_.Sort(); }
  void sortFoundPages();
  bool descriptionKnown(std::string_view description) const { return links_.DescriptionKnown(description); }

  bool running() const { return running_; }
  bool searching() const { return searching_; }
  bool paused() const { return paused_; }
  int pagesChecked() const { return pagesChecked_; }
  const std::string& currentAddress() const { return currentAddress_; }
  const std::string& currentDescription() const { return currentDescription_; }
  // The current description in UTF-8, for showing; empty where it is the description itself.
  const std::string& currentDescriptionUtf8() const { return currentDescriptionUtf8_; }
  // The base for relative links and the reference of the filters, for a single page scan.
  void setCurrentPage(std::string address, std::string description = {});
  const TLinkQueue& links() const { return links_; }
  const std::vector<FoundPage>& foundPages() const { return found_; }
  const TKnownUrls& knownUrls() const { return knownUrls_; }
  TKnownUrls& knownUrls() { return knownUrls_; }

 private:
  // Where a cycle stands: download, then the page's work with a checkpoint between each step,
  // then the choice of the next link.
  enum class Stage { Idle, Download, Downloading, Downloaded, Score, Sort, SearchLinks, AfterPage, Choose };
  enum class Checkpoint { Go, Leave, Hold };

  // Yield; Leave when the crawl is to be left, Hold (held until resumed) when paused; the
  // crawl goes on with `next`.
  Checkpoint checkpoint(Stage next);
  void resumeFromCheckpoint();
  // Runs stages until a download is out, a pause holds the crawl, or it ends.
  void advance();
  Checkpoint pageStage();
  // Scores the current page; true when it was listed.
  bool scorePage(const std::string& page);
  void endCrawl();
  bool inlineCrawl() const { return inline_; }
  void Log(const std::string& message, bool verbose = false) { port_.Log(message, verbose); }

  UserPort& port_;
  SpiderView& view_;
  PageFetcher* fetcher_;
  RelevanceFunction relevance_;
  RandomSource random_;
  TRecentScores* recentScores_ = nullptr;
  const Clock* clock_ = nullptr;

  bool running_ = false;
  bool searching_ = false;
  bool paused_ = false;
  bool suspended_ = false;  // held at a checkpoint by a pause
  bool advancing_ = false;
  bool inline_ = false;  // run whole inside crawl()
  Stage stage_ = Stage::Idle;
  std::string page_;  // the page of the current cycle, as downloaded
  PageDownloads* downloads_ = nullptr;
  int pagesChecked_ = 0;
  std::string responseCharset_;  // of the current cycle's download
  std::string currentAddress_;
  std::string currentDescription_;
  std::string currentDescriptionUtf8_;
  TLinkQueue links_;
  TKnownUrls knownUrls_;
  std::vector<FoundPage> found_;
};

}  // namespace zibu
