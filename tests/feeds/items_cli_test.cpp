// zibu-cli items as a script sees it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "common/home_lock.h"
#include "support/loopback_server.h"
#include "support/run_process.h"

namespace zibu {
namespace {

using test::LoopbackServer;
using test::RunProcess;

std::string Data(const std::string& name) {
  return std::string(ZIBU_TEST_DATA_DIR) + "/feeds/" + name;
}

class ItemsCli : public ::testing::Test {
 protected:
  void SetUp() override {
    cli_ = test::ZibuCliPath(ZIBU_BIN_DIR);
    // test_feeds does not depend on the tool; the full build has it.
    if (::access(cli_.c_str(), X_OK) != 0) GTEST_SKIP() << cli_ << " is not built";
  }
  std::string cli_;
};

TEST_F(ItemsCli, FileGivesOneJsonLinePerItemWithBytesAsCodePoints) {
  auto r = RunProcess(cli_, {"items", Data("utf8.xml")});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out,
            "{\"title\": \"Caf\\u00e9 \\u00805\", \"description\": \"na\\u00efve\", \"link\": "
            "\"http://127.0.0.1/u8\"}\n");
  r = RunProcess(cli_, {"items", Data("atom.xml")});
  EXPECT_EQ(r.out,
            "{\"title\": \"Entry with two links\", \"description\": \"<p>Full content</p>\", \"link\": "
            "\"http://127.0.0.1/a/1\"}\n"
            "{\"title\": \"Entry with a summary only\", \"description\": \"Just a summary\", \"link\": "
            "\"http://127.0.0.1/a/2\"}\n");
}

// --utf8 prints what a window shows: real UTF-8 with every character the document gives, the
// link as written; without it the output is the single-byte one, the link in its URI form.
TEST_F(ItemsCli, Utf8PrintsTheTextsAWindowShows) {
  struct Case {
    const char* what;
    std::string document;
    std::string shown;  // with --utf8
    std::string bytes;  // without
    std::string charset = {};  // --charset, the charset a response named
    std::string err = {};      // what standard error says
  };
  const Case cases[] = {
      {"Latin letters and the euro sign",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?><rss><channel><item><title>Caf\u00E9 \u20AC5</title>"
       "<description>na\u00EFve</description><link>http://127.0.0.1/u8</link></item></channel></rss>",
       "{\"title\": \"Caf\u00E9 \u20AC5\", \"description\": \"na\u00EFve\", \"link\": \"http://127.0.0.1/u8\"}\n",
       "{\"title\": \"Caf\\u00e9 \\u00805\", \"description\": \"na\\u00efve\", \"link\": \"http://127.0.0.1/u8\"}\n"},
      {"Cyrillic, references and an emoji, a Cyrillic link",
       "<rss><channel><item><title>&#8220;\u041A\u043E\u0442&#8221; \U0001F605</title>"
       "<link>http://h/\u043A?q=\u0442</link></item></channel></rss>",
       "{\"title\": \"\u201C\u041A\u043E\u0442\u201D \U0001F605\", \"description\": \"\", \"link\": \"http://h/\u043A?q=\u0442\"}\n",
       "{\"title\": \"\\u0093\\u00bf\\u00bf\\u00bf\\u0094 \\u00bf\", \"description\": \"\", \"link\": "
       "\"http://h/%D0%BA?q=%D1%82\"}\n"},
      {"JSON's own escapes",
       "<rss><channel><item><title>&quot;\u03A9\\&#1;</title></item></channel></rss>",
       "{\"title\": \"\\\"\u03A9\\\\\\u0001\", \"description\": \"\", \"link\": \"\"}\n",
       "{\"title\": \"\\\"\\u00bf\\\\\\u0001\", \"description\": \"\", \"link\": \"\"}\n"},
      {"a windows-1251 document the response names",
       "<rss><channel><item><title>\xCA\xEE\xF2</title></item></channel></rss>",
       "{\"title\": \"\u041A\u043E\u0442\", \"description\": \"\", \"link\": \"\"}\n",
       "{\"title\": \"\\u00bf\\u00bf\\u00bf\", \"description\": \"\", \"link\": \"\"}\n", "windows-1251"},
      {"an encoding nobody knows",
       "<?xml version=\"1.0\" encoding=\"x-mine\"?><rss><channel><item><title>\xCA</title></item></channel></rss>",
       "{\"title\": \"\u00CA\", \"description\": \"\", \"link\": \"\"}\n",
       "{\"title\": \"\\u00ca\", \"description\": \"\", \"link\": \"\"}\n", "",
       "is in an encoding I do not know (\"x-mine\"); I read it as Windows-1252\n"},
  };
  const std::string file = (std::filesystem::temp_directory_path() /
                            ("zibu_items_utf8_" + std::to_string(::getpid()) + ".xml")).string();
  for (const Case& c : cases) {
    std::ofstream(file, std::ios::binary) << c.document;
    std::vector<std::string> args = {"items", file};
    if (!c.charset.empty()) args.insert(args.end(), {"--charset", c.charset});
    auto r = RunProcess(cli_, args);
    EXPECT_EQ(r.out, c.bytes) << c.what;
    EXPECT_EQ(r.err, c.err.empty() ? "" : "zibu-cli items: The feed " + file + " " + c.err) << c.what;
    args.push_back("--utf8");
    r = RunProcess(cli_, args);
    EXPECT_EQ(r.exitStatus, 0) << c.what << ": " << r.err;
    EXPECT_EQ(r.out, c.shown) << c.what;
  }
  std::filesystem::remove(file);
}

// Feeds shaped like the ones people subscribe to (a WordPress blog, an Atom blog with
// summaries only, prefixed RSS 1.0, a podcast, a JSON Feed, xml:base, a video channel): each
// gives the items written beside it in <name>.items.
TEST_F(ItemsCli, RealWorldShapedFeedsGiveTheirExpectedItems) {
  const std::filesystem::path folder = Data("real");
  int documents = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() == ".items") continue;
    ++documents;
    std::ifstream in(entry.path().string() + ".items", std::ios::binary);
    ASSERT_TRUE(in) << "no expected items for " << name;
    std::stringstream expected;
    expected << in.rdbuf();
    const auto r =
        RunProcess(cli_, {"items", entry.path().string(), "--base", "https://feeds.example/real/" + name});
    EXPECT_EQ(r.exitStatus, 0) << name << ": " << r.err;
    EXPECT_EQ(r.out, expected.str()) << name;
  }
  EXPECT_GE(documents, 7);
}

TEST_F(ItemsCli, AddressIsDownloadedAndFailuresExitWithOne) {
  LoopbackServer server;
  std::ifstream in(Data("rss2_three.xml"), std::ios::binary);
  std::stringstream body;
  body << in.rdbuf();
  server.ServeBody("/feed.xml", body.str(), "application/rss+xml");
  auto r = RunProcess(cli_, {"items", server.Url("/feed.xml")});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 3) << r.out;
  EXPECT_EQ(server.LastRequest("/feed.xml")->Header("User-Agent"), "Mozilla/4.0");

  server.ServeStatus("/gone.xml", 500);
  r = RunProcess(cli_, {"items", server.Url("/gone.xml")});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("500"), std::string::npos) << r.err;

  r = RunProcess(cli_, {"items", Data("no-such-file.xml")});
  EXPECT_EQ(r.exitStatus, 1);
  r = RunProcess(cli_, {"items"});
  EXPECT_EQ(r.exitStatus, 2);
}

// zibu-cli scan: a home with three feeds, scanned headless as "Search Act." would.
class ScanCli : public ItemsCli {
 protected:
  void SetUp() override {
    ItemsCli::SetUp();
    if (IsSkipped()) return;
    home_ = std::filesystem::temp_directory_path() / ("zibu_scan_cli_" + std::to_string(::getpid()));
    std::filesystem::remove_all(home_);
    std::filesystem::create_directories(home_);
    auto rss = [](const std::string& title, const std::string& link) {
      return "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>t</title><item><title>" + title +
             "</title><description>d</description><link>" + link + "</link></item></channel></rss>";
    };
    server_.ServeBody("/volcano.xml", rss("Volcano erupts", server_.Url("/v/1")), "text/xml");
    server_.ServeBody("/quiet.xml", rss("Nothing much", server_.Url("/q/1")), "text/xml");
    server_.ServeBody("/ash.xml", rss("Ash cloud from the volcano", server_.Url("/a/1")), "text/xml");
    std::ofstream(home_ / "zibu.conf") << "[main]\nfeedCount=3\nshowRelevance=30\n[rss]\n"
                                       << "feed.0.url=" << server_.Url("/volcano.xml") << "\nfeed.0.keywords=1:volcano\n"
                                       << "feed.1.url=" << server_.Url("/quiet.xml") << "\nfeed.1.keywords=1:volcano\n"
                                       << "feed.2.url=" << server_.Url("/ash.xml")
                                       << "\nfeed.2.keywords=1:volcano\nfeed.2.active=0\n";
  }
  void TearDown() override {
    if (!home_.empty()) std::filesystem::remove_all(home_);
  }
  std::string Home() const { return home_.string(); }
  // Every file of the home with its bytes.
  std::map<std::string, std::string> Snapshot() const {
    std::map<std::string, std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(home_)) {
      std::ifstream in(e.path(), std::ios::binary);
      std::stringstream bytes;
      bytes << in.rdbuf();
      files[e.path().string()] = bytes.str();
    }
    return files;
  }
  std::string Line(const std::string& feed, const std::string& title, const std::string& link) {
    return "{\"feed\": \"" + server_.Url(feed) + "\", \"title\": \"" + title + "\", \"link\": \"" + server_.Url(link) +
           "\", \"relevance\": 100, \"reason\": \"Keyword match on VOLCANO\"}\n";
  }

  std::filesystem::path home_;
  LoopbackServer server_;
};

TEST_F(ScanCli, DryRunChangesNothingAndARealRunMarksAndSaves) {
  const auto before = Snapshot();
  auto r = RunProcess(cli_, {"scan", "--home", Home(), "--dry-run"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, Line("/volcano.xml", "Volcano erupts", "/v/1"));
  EXPECT_NE(r.err.find("2 feeds scanned, 1 articles taken, 0 downloads failed"), std::string::npos) << r.err;
  EXPECT_EQ(Snapshot(), before) << "a dry run wrote into the home";

  // The same scan for real, then each way of asking again.
  const struct {
    std::vector<std::string> extra;
    std::string out;
    std::string summary;
  } runs[] = {
      {{}, Line("/volcano.xml", "Volcano erupts", "/v/1"), "2 feeds scanned, 1 articles taken"},
      {{}, "", "0 feeds scanned, 0 articles taken"},                    // nothing due
      {{"--all", "--parallel", "1"}, "", "2 feeds scanned, 0 articles taken"},  // shown recently
      {{"--feed", "3"}, Line("/ash.xml", "Ash cloud from the volcano", "/a/1"), "1 feeds scanned, 1 articles taken"},
      {{"--feed", "1", "3"}, "", "2 feeds scanned, 0 articles taken"},
  };
  for (const auto& run : runs) {
    std::vector<std::string> args = {"scan", "--home", Home()};
    args.insert(args.end(), run.extra.begin(), run.extra.end());
    SCOPED_TRACE(args.size() > 3 ? args[3] : "due feeds");
    r = RunProcess(cli_, args);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, run.out);
    EXPECT_NE(r.err.find(run.summary), std::string::npos) << r.err;
  }
  std::ifstream shown(home_ / "data" / "shownfeedurls.dat");
  std::stringstream lines;
  lines << shown.rdbuf();
  EXPECT_NE(lines.str().find(server_.Url("/v/1") + "="), std::string::npos) << lines.str();
  EXPECT_NE(lines.str().find(server_.Url("/a/1") + "="), std::string::npos) << lines.str();
  EXPECT_EQ(server_.RequestCount("/quiet.xml"), 3u);
}

TEST_F(ScanCli, BadUsageAndAHeldHomeAreRefused) {
  const struct {
    std::vector<std::string> args;
    int status;
  } cases[] = {
      {{"scan"}, 2},
      {{"scan", "--home", Home(), "--parallel", "0"}, 2},
      {{"scan", "--home", Home(), "--parallel", "65"}, 2},
      {{"scan", "--home", Home(), "--feed", "4"}, 2},
      {{"scan", "--home", Home(), "--feed", "0"}, 2},
      {{"scan", "--home", Home(), "--all", "--feed", "1"}, 2},
      {{"scan", "--home", Home() + "/missing"}, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    const auto r = RunProcess(cli_, c.args);
    EXPECT_EQ(r.exitStatus, c.status) << r.err;
    EXPECT_EQ(r.out, "");
  }
  // A zibu.conf cut short (feedCount says more feeds than it holds) is neither scanned nor saved.
  {
    const std::string conf = Snapshot()[(home_ / "zibu.conf").string()];
    const size_t at = conf.find("feedCount=3");
    ASSERT_NE(at, std::string::npos);
    std::ofstream(home_ / "zibu.conf", std::ios::binary | std::ios::trunc)
        << conf.substr(0, at) << "feedCount=5" << conf.substr(at + 11);
    const auto cut = Snapshot();
    const auto r = RunProcess(cli_, {"scan", "--home", Home()});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("says feedCount=5 but holds 3 feeds"), std::string::npos) << r.err;
    EXPECT_EQ(Snapshot(), cut);
    EXPECT_EQ(server_.RequestCount("/volcano.xml"), 0u);
    std::ofstream(home_ / "zibu.conf", std::ios::binary | std::ios::trunc) << conf;
  }
  // A running Zibu holds the home: the scan touches nothing.
  HomeLock held;
  ASSERT_EQ(held.Acquire(Home() + "/", "zibu"), HomeLock::Result::Acquired);
  const auto r = RunProcess(cli_, {"scan", "--home", Home()});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_FALSE(r.err.empty());
  EXPECT_EQ(server_.RequestCount("/volcano.xml"), 0u);
}

}  // namespace
}  // namespace zibu
