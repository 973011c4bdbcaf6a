// Scanning real documents served from a loopback server: what reaches the triage hook and what
// the status log says.
#include "feeds/feed_scan.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/ports.h"
#include "common/text.h"
#include "recording_port.h"
#include "support/loopback_server.h"

namespace zibu {
namespace {

using test::LoopbackServer;
using test::RecordingPort;
namespace fs = std::filesystem;

std::string DataFile(const std::string& name) {
  std::ifstream in(std::string(ZIBU_TEST_DATA_DIR) + "/feeds/" + name, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class FixedClock : public Clock {
 public:
  int64_t NowMs() const override { return now; }
  uint32_t IdleMs() const override { return 0; }
  int64_t now = 1733650000000;
};

struct Seen {
  std::string title, description, link;
  bool operator==(const Seen&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Seen& s) {
  return os << "{" << s.title << " | " << s.description << " | " << s.link << "}";
}

class FeedScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("zibu_feed_scan_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    settings_.tempDir = dir_.string() + "/";
    settings_.http = FeedRequestOptions(ProxySettings{});
    settings_.http.connectTimeoutMs = 2000;
    settings_.http.readTimeoutMs = 2000;
    settings_.clock = &clock_;
    settings_.cancelRequested = &cancel_;
    settings_.triage = [this](TFeed&, TItem& item, Items& results) {
      seen_.push_back({item.Title, item.Description, item.Link});
      results.push_back(item);
    };
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Serve(const std::string& name, const std::string& type = "application/rss+xml") {
    server_.ServeBody("/" + name, DataFile(name), type);
    return server_.Url("/" + name);
  }

  // Scans a feed at `url` and returns the items the hook saw.
  std::vector<Seen> Scan(const std::string& url) {
    feed_.url = url;
    seen_.clear();
    Items results;
    ScanFeed(feed_, results, settings_, port_);
    EXPECT_EQ(results.size(), seen_.size());
    return seen_;
  }

  std::string DownloadFile() const { return settings_.tempDir + kDownloadFileName; }

  LoopbackServer server_;
  fs::path dir_;
  FeedScanSettings settings_;
  FixedClock clock_;
  bool cancel_ = false;
  RecordingPort port_;
  TFeed feed_;
  std::vector<Seen> seen_;
};

TEST_F(FeedScanTest, Rss2ItemsWithCdataAndEntities) {
  const std::string url = Serve("rss2_three.xml");
  const auto items = Scan(url);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0], (Seen{"Nuclear inspection resumes", "Inspectors return to the site.",
                            "http://127.0.0.1/news/1"}));
  EXPECT_EQ(items[1], (Seen{"Cricket tour announced", "<p>England <b>will</b> tour & play five tests</p>",
                            "http://127.0.0.1/news/2"}));
  EXPECT_EQ(items[2], (Seen{"Markets & money: <up> \xA9 2024", "Shares rose \"sharply\".",
                            "http://127.0.0.1/news/3?a=1&b=2"}));
  EXPECT_EQ(feed_.lastRefresh, clock_.now);
  // The download file holds the body byte for byte.
  std::ifstream in(DownloadFile(), std::ios::binary);
  std::stringstream body;
  body << in.rdbuf();
  EXPECT_EQ(body.str(), DataFile("rss2_three.xml"));

  EXPECT_EQ(port_.Texts(),
            (std::vector<std::string>{"Scanning feed " + url, "Downloading " + url,
                                      "Downloaded " + url + " ok", "Finished scanning feed " + url}));
  EXPECT_TRUE(port_.Logged("Downloading " + url, true));
  EXPECT_TRUE(port_.Logged("Downloaded " + url + " ok", true));
  EXPECT_TRUE(port_.Logged("Scanning feed " + url, false));
  EXPECT_TRUE(port_.Logged("Finished scanning feed " + url, false));
  ASSERT_TRUE(server_.LastRequest("/rss2_three.xml"));
  EXPECT_EQ(server_.LastRequest("/rss2_three.xml")->Header("User-Agent"), "Mozilla/4.0");
  EXPECT_EQ(server_.LastRequest("/rss2_three.xml")->Header("Cache-Control"), "no-cache");
}

TEST_F(FeedScanTest, RdfItemsAndAMissingDescriptionKeepsThePreviousOne) {
  const auto items = Scan(Serve("rdf.xml"));
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0], (Seen{"First RDF item", "One", "http://127.0.0.1/r/1"}));
  EXPECT_EQ(items[1], (Seen{"Second RDF item", "One", "http://127.0.0.1/r/2"}));
}

TEST_F(FeedScanTest, AtomTakesTheLastLinkAndIgnoresSummaries) {
  const auto items = Scan(Serve("atom.xml", "application/atom+xml"));
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0], (Seen{"Entry with two links", "<p>Full content</p>", "http://127.0.0.1/b/1"}));
  EXPECT_EQ(items[1], (Seen{"Entry with a summary only", "<p>Full content</p>", "http://127.0.0.1/a/2"}));
}

TEST_F(FeedScanTest, NamesMatchWholeInAnyLetterCase) {
  const auto items = Scan(Serve("names.xml"));
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0], (Seen{"Upper", "Mixed case", "http://127.0.0.1/u"}));
  // content:encoded is not a description, atom:entry is not an entry.
  EXPECT_EQ(items[1], (Seen{"Encoded only", "Mixed case", "http://127.0.0.1/e"}));
  EXPECT_EQ(items[2], (Seen{"Shouting entry", "Mixed case", "http://127.0.0.1/s"}));
}

TEST_F(FeedScanTest, CommentAfterTheItemTagPutsTheRestOutOfStep) {
  const auto items = Scan(Serve("comment_after_item.xml"));
  // The commented item ends at once; then every closing item tag starts an "item" that ends at
  // the next opening one, and the children fall to the outer walk.
  const Seen first{"T0", "D0", "L0"};
  EXPECT_EQ(items, std::vector<Seen>(5, first));
}

TEST_F(FeedScanTest, Utf8AndLatin1DocumentsArriveAsWindows1252) {
  auto items = Scan(Serve("utf8.xml"));
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0], (Seen{"Caf\xE9 \x80"
                            "5",
                            "na\xEFve", "http://127.0.0.1/u8"}));
  items = Scan(Serve("latin1.xml"));
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0], (Seen{"Caf\xE9 \xA3"
                            "5",
                            "na\xEFve", "http://127.0.0.1/l1"}));
}

TEST_F(FeedScanTest, RedirectIsFollowed) {
  Serve("rss2_three.xml");
  server_.ServeRedirect("/moved", server_.Url("/rss2_three.xml"), 301);
  EXPECT_EQ(Scan(server_.Url("/moved")).size(), 3u);
  EXPECT_EQ(server_.RequestCount("/rss2_three.xml"), 1u);
}

TEST_F(FeedScanTest, ErrorStatusLeavesNoDownloadFileAndNoItems) {
  // A good download first, so a stale file would be there to read.
  ASSERT_EQ(Scan(Serve("rss2_three.xml")).size(), 3u);
  ASSERT_TRUE(fs::exists(DownloadFile()));
  server_.ServeStatus("/gone.xml", 404, "not here");
  port_.lines.clear();
  const std::string url = server_.Url("/gone.xml");
  EXPECT_TRUE(Scan(url).empty());
  EXPECT_FALSE(fs::exists(DownloadFile()));
  EXPECT_EQ(feed_.lastRefresh, clock_.now);  // set whatever the outcome
  ASSERT_EQ(port_.lines.size(), 4u);
  EXPECT_EQ(port_.lines[1].text, "Downloading " + url);
  EXPECT_EQ(port_.lines[2].text.rfind("Error downloading " + url + ": ", 0), 0u) << port_.lines[2].text;
  EXPECT_GT(port_.lines[2].text.size(), ("Error downloading " + url + ": ").size());
  EXPECT_FALSE(port_.lines[2].verbose);
  EXPECT_EQ(port_.lines[3].text, "Finished scanning feed " + url);
}

TEST_F(FeedScanTest, TimeOutIsReportedAndScanningGoesOn) {
  server_.ServeDelayed("/slow.xml", 3000, DataFile("rss2_three.xml"));
  settings_.http.readTimeoutMs = 300;
  const auto start = std::chrono::steady_clock::now();
  const std::string url = server_.Url("/slow.xml");
  EXPECT_TRUE(Scan(url).empty());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
  EXPECT_FALSE(fs::exists(DownloadFile()));
  const auto texts = port_.Texts();
  ASSERT_EQ(texts.size(), 4u);
  EXPECT_EQ(texts[2].rfind("Error downloading " + url + ": ", 0), 0u) << texts[2];
}

TEST_F(FeedScanTest, DocumentsThatAreNotFeedsGiveNoItems) {
  server_.ServeBody("/page.html", "<html><body><p>Just a page</p></body></html>", "text/html");
  server_.ServeBody("/plain.txt", "This is not XML at all & never was <", "text/plain");
  server_.ServeBody("/empty.xml", "", "text/xml");
  for (const char* path : {"/page.html", "/plain.txt", "/empty.xml"}) {
    port_.lines.clear();
    const std::string url = server_.Url(path);
    EXPECT_TRUE(Scan(url).empty()) << path;
    EXPECT_EQ(port_.lines.front().text, "Scanning feed " + url);
    EXPECT_EQ(port_.lines.back().text, "Finished scanning feed " + url);
    EXPECT_EQ(port_.lines.size(), 4u) << path;
  }
}

TEST_F(FeedScanTest, AddressIsPercentEncodedForTheRequestAndTheLaterLogLines) {
  Serve("rss2_three.xml");
  server_.ServeBody("/a b.xml", DataFile("rdf.xml"), "text/xml");
  const std::string url = server_.Url("/a b.xml");
  const std::string encoded = server_.Url("/a%20b.xml");
  EXPECT_EQ(Scan(url).size(), 2u);
  EXPECT_EQ(port_.Texts(),
            (std::vector<std::string>{"Scanning feed " + url, "Downloading " + url,
                                      "Downloaded " + encoded + " ok", "Finished scanning feed " + url}));
}

TEST_F(FeedScanTest, OneBadItemIsSkippedAndTheRestOfTheFeedIsRead) {
  settings_.triage = [this](TFeed&, TItem& item, Items& results) {
    item.Title = HtmlToText(item.Title);  // rejects "&#xZZ;"
    seen_.push_back({item.Title, item.Description, item.Link});
    results.push_back(item);
  };
  const std::string url = Serve("bad_item.xml");
  const auto items = Scan(url);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].link, "http://127.0.0.1/g/1");
  EXPECT_EQ(items[1].link, "http://127.0.0.1/g/3");
  bool skipped = false;
  for (const auto& l : port_.lines)
    if (l.text.rfind("Skipping item http://127.0.0.1/g/2: ", 0) == 0 && !l.verbose) skipped = true;
  EXPECT_TRUE(skipped) << ::testing::PrintToString(port_.Texts());
  EXPECT_EQ(port_.lines.back().text, "Finished scanning feed " + url);
}

TEST_F(FeedScanTest, CancelStopsBeforeTheNextItem) {
  settings_.triage = [this](TFeed&, TItem& item, Items& results) {
    seen_.push_back({item.Title, item.Description, item.Link});
    results.push_back(item);
    cancel_ = true;
  };
  EXPECT_EQ(Scan(Serve("rss2_three.xml")).size(), 1u);
}

TEST(FeedFile, MissingFileGivesNoItems) {
  int calls = 0;
  ReadFeedFile("/nonexistent/zibu/temp.xml", [&](TItem&) { ++calls; });
  EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace zibu
