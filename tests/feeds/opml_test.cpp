// Feed subscriptions in OPML: Zibu's own files round-trip, another reader's file imports, a bad
// file adds nothing, and zibu-cli does the same on a program home.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "common/file_io.h"
#include "common/home_lock.h"
#include "feeds/opml.h"
#include "rules/keyword_rules.h"
#include "recording_port.h"
#include "support/run_process.h"

namespace fs = std::filesystem;

namespace zibu {
namespace {

std::string Data(const std::string& name) {
  return std::string(ZIBU_TEST_DATA_DIR) + "/feeds/" + name;
}

TFeed Feed(std::string url, bool active, std::vector<std::string> keywords, int interval) {
  TFeed f;
  f.url = std::move(url);
  f.active = active;
  f.keywords = std::move(keywords);
  f.refreshInterval = interval;
  return f;
}

// Odd characters where a writer could slip: markup characters, Windows-1252 letters and signs
// outside ASCII, quotes of both kinds, tabs, the bytes the code page leaves undefined.
std::vector<TFeed> OddFeeds() {
  std::vector<TFeed> feeds = {
      Feed("http://a.example/rss?x=1&y=<2>&z=\"3\"", true, {"1:iran,nuclear", "0:caf\xE9,!na\xEFve"}, 900),
      Feed("https://b.example/\x80/\xFC\x96.xml", false, {}, 60),
      Feed("http://c.example/'single'", true, {"1:a & b,<c>", "", "1:\"q\"\tt"}, 14440),
      Feed("HTTP://D.EXAMPLE/UPPER", true, {"1:\x81\x8D\x8F\x90\x9D"}, 1),
  };
  // A feed's own title with characters the code page lacks, and markup characters among them.
  feeds[1].title = "\xBF\xBF\xBF & \x80 <\xBF>";
  feeds[1].titleUtf8 = "\u041A\u043E\u0442 & \u20AC <\U0001F605>";
  return feeds;
}

void ExpectSameFeeds(const std::vector<TFeed>& got, const std::vector<TFeed>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE(want[i].url);
    EXPECT_EQ(got[i].url, want[i].url);
    EXPECT_EQ(got[i].active, want[i].active);
    EXPECT_EQ(got[i].keywords, want[i].keywords);
    EXPECT_EQ(got[i].refreshInterval, want[i].refreshInterval);
    EXPECT_EQ(got[i].title, want[i].title);
    EXPECT_EQ(got[i].titleUtf8, want[i].titleUtf8);
    EXPECT_EQ(got[i].folder, want[i].folder);
    EXPECT_EQ(got[i].lastRefresh, 0);
  }
}

TEST(Opml, ZibusOwnFileRoundTripsNestedOrNot) {
  const std::vector<TFeed> feeds = OddFeeds();
  const std::string written = WriteOpml(feeds);
  // UTF-8 throughout: no byte of the code page is written raw.
  EXPECT_NE(written.find("caf\xC3\xA9"), std::string::npos);
  EXPECT_NE(written.find("\xE2\x82\xAC"), std::string::npos);  // 0x80, the euro sign
  // Characters the code page lacks as references, which every reader reads as the characters.
  EXPECT_NE(written.find("text=\"&#1050;&#1086;&#1090; &amp; \xE2\x82\xAC &lt;&#128517;&gt;\""), std::string::npos)
      << written;

  // The same outlines inside folders, with the namespace under another prefix, still count.
  std::string nested = written;
  nested.replace(nested.find("<body>"), 6, "<body><outline text=\"Folder\"><outline text=\"Inner\">");
  nested.replace(nested.find("</body>"), 7, "</outline></outline></body>");
  for (std::string from = "zibu:"; nested.find(from) != std::string::npos;) {
    nested.replace(nested.find(from), from.size(), "z2:");
  }
  nested.replace(nested.find("xmlns:zibu="), 11, "xmlns:z2=");

  // XML reads white space in an attribute value as a blank, a tab written as a reference too.
  std::vector<TFeed> want = feeds;
  want[2].keywords[2] = "1:\"q\" t";
  // Inside the two folders, the feeds are kept in the folder "Folder/Inner".
  for (const bool inFolders : {false, true}) {
    const std::string& doc = inFolders ? nested : written;
    test::RecordingPort port;
    std::vector<TFeed> list;
    const OpmlImportSummary s = MergeOpmlFeeds(list, ReadOpml(doc), port);
    EXPECT_EQ(s.added, 4);
    EXPECT_EQ(s.present + s.unusable, 0);
    std::vector<TFeed> expected = want;
    for (TFeed& f : expected) f.folder = inFolders ? "Folder/Inner" : "";
    ExpectSameFeeds(list, expected);
    // Written again, the list gives the same bytes.
    EXPECT_EQ(WriteOpml(list), WriteOpml(expected));
  }

  // A prefix bound to another namespace is not Zibu's: defaults apply.
  std::string foreign = written;
  foreign.replace(foreign.find(kOpmlZibuNamespace), std::string(kOpmlZibuNamespace).size(), "urn:other");
  test::RecordingPort port;
  std::vector<TFeed> list;
  MergeOpmlFeeds(list, ReadOpml(foreign), port);
  ASSERT_EQ(list.size(), 4u);
  EXPECT_TRUE(list[1].active);
  EXPECT_TRUE(list[0].keywords.empty());
  EXPECT_EQ(list[0].refreshInterval, 300);

  // Rules too long to be a person's are bounded as they come in, and the log says so.
  const std::string tooLong = "1:" + std::string(kMaxKeywordLineBytes, 'k');
  list.clear();
  MergeOpmlFeeds(list, ReadOpml(WriteOpml({Feed("http://e.example/", true, {"1:a", tooLong, "1:b"}, 300)})), port);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].keywords, (std::vector<std::string>{"1:a", "1:b"}));
  EXPECT_TRUE(port.Logged(KeywordsTooLongLine("http://e.example/", 1), false));
}

TEST(Opml, AnotherReadersFileAddsNewHttpFeedsOnly) {
  const std::vector<OpmlFeed> found = ReadOpml(ReadFileBytes(Data("other_reader.opml")));
  std::vector<TFeed> list = {Feed("https://lwn.net/headlines/rss", false, {"1:kernel"}, 600)};
  test::RecordingPort port;
  const OpmlImportSummary s = MergeOpmlFeeds(list, found, port);
  EXPECT_EQ(s.added, 4);
  EXPECT_EQ(s.present, 2);   // LWN was in the list; BBC comes twice
  EXPECT_EQ(s.unusable, 1);  // feed://
  EXPECT_EQ(OpmlSummaryText(s),
            "I added 4 feeds from the OPML file; 2 were already in the list; 1 entry is not an http or https "
            "address.");
  std::vector<TFeed> want = {
      Feed("https://lwn.net/headlines/rss", false, {"1:kernel"}, 600),  // untouched
      Feed("https://www.lemonde.fr/international/rss_full.xml", true, {}, 300),
      Feed("http://feeds.bbci.co.uk/news/world/rss.xml", true, {}, 300),
      Feed("https://rss.example.de/feed?kat=s\xFC"
           "d&fmt=rss2",
           true, {}, 300),
      Feed("https://planet.debian.org/atom.xml", true, {}, 300),
  };
  // Each with its title and the folders around it; the feed already in the list keeps its own.
  const char* const titles[][2] = {{"", ""},
                                   {"Le Monde \x96 International", "News"},
                                   {"BBC News - World", "News"},
                                   {"S\xFC" "ddeutsche & Co", "News/Regional"},
                                   {"Planet <Debian>", "Tech"}};
  for (size_t i = 0; i < want.size(); ++i) {
    want[i].title = titles[i][0];
    want[i].folder = titles[i][1];
  }
  ExpectSameFeeds(list, want);
  // The titles go to the log, in the code page.
  EXPECT_TRUE(port.Logged(
      "OPML: added https://www.lemonde.fr/international/rss_full.xml (Le Monde \x96 International)", false));
  EXPECT_TRUE(
      port.Logged("OPML: added https://rss.example.de/feed?kat=s\xFC"
                  "d&fmt=rss2 (S\xFC"
                  "ddeutsche & Co)",
                  false));
  EXPECT_TRUE(port.Logged("OPML: already in the list: https://lwn.net/headlines/rss (LWN.net)", false));
  EXPECT_TRUE(port.Logged(
      "OPML: skipped feed://podcasts.example.com/show.xml (A podcast (feed scheme)), not an http or "
      "https address",
      false));
}

TEST(Opml, MalformedFilesAreRefusedWithTheReason) {
  const std::string good = WriteOpml(OddFeeds());
  struct Case {
    std::string doc;
    std::string reason;
  };
  const Case cases[] = {
      {"", "no <opml> element"},
      {"just some words", "does not begin with <opml>"},
      {"<html><body><outline xmlUrl=\"http://x/\"/></body></html>", "root element is <html>, not <opml>"},
      {good.substr(0, good.size() / 2), "is never closed"},
      {good.substr(0, good.find("</body>")), "<body> is never closed"},
      {"<opml><body><outline xmlUrl=\"http://x/\"></body></opml>",
       "</body> (line 1) does not close <outline>"},
      {"<opml>\n<body/>\n</opml>\n</body>", "</body> (line 4) closes nothing"},
      {"<opml><head/></opml>", "has no <body>"},
      {"<opml><body/></opml><opml/>", "second root element <opml>"},
      {"<opml><body/></opml> trailing", "text after its end"},
      {std::string("<opml><body>\0</body></opml>", 27), "NUL bytes"},
      {std::string("\x89PNG\r\n\x1A\n\x00\x00\x00\rIHDR", 16), "NUL bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.doc.substr(0, 60));
    try {
      ReadOpml(c.doc);
      ADD_FAILURE() << "taken";
    } catch (const OpmlError& e) {
      EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
    }
  }
  // An empty body is no fault: nothing to add.
  EXPECT_TRUE(ReadOpml("<opml version=\"2.0\"><head/><body/></opml>").empty());
}

class OpmlCli : public ::testing::Test {
 protected:
  void SetUp() override {
    cli_ = test::ZibuCliPath(ZIBU_BIN_DIR);
    if (::access(cli_.c_str(), X_OK) != 0) GTEST_SKIP() << cli_ << " is not built";
    root_ = fs::temp_directory_path() / ("zibu_opml_" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "home");
    fs::copy_file(std::string(ZIBU_TEST_DATA_DIR) + "/../../data/zibu.conf", root_ / "home" / "zibu.conf");
  }
  void TearDown() override { fs::remove_all(root_); }
  std::string Home() const { return (root_ / "home").string(); }
  std::string Conf() const { return ReadFileBytes((root_ / "home" / "zibu.conf").string()); }
  test::ProcessResult Cli(const std::vector<std::string>& args) { return test::RunProcess(cli_, args); }
  std::string cli_;
  fs::path root_;
};

TEST_F(OpmlCli, ImportExportAndEveryRefusal) {
  // Export of the delivered list, then into a fresh home: the same feeds come back.
  auto r = Cli({"opml-export", "--home", Home()});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  const std::string exported = r.out;
  EXPECT_NE(exported.find("zibu:keywords=\"1:iran,nuclear,inspectionCRLF"), std::string::npos);
  WriteFileAtomic((root_ / "mine.opml").string(), exported);
  fs::create_directories(root_ / "fresh");
  r = Cli({"opml-import", (root_ / "mine.opml").string(), "--home", (root_ / "fresh").string()});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, "I added 5 feeds from the OPML file.\n");
  r = Cli(
      {"opml-export", "--home=" + (root_ / "fresh").string(), "--output", (root_ / "again.opml").string()});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(ReadFileBytes((root_ / "again.opml").string()), exported);

  // Another reader's file into the delivered list: added at the end, the rest of the file kept.
  const std::string before = Conf();
  r = Cli({"opml-import", Data("other_reader.opml"), "--home", Home()});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out,
            "I added 4 feeds from the OPML file; 2 were already in the list; 1 entry is not an http or https "
            "address.\n");
  const std::string after = Conf();
  EXPECT_NE(after.find("feedCount=9"), std::string::npos);
  EXPECT_NE(after.find("feed.8.url=https://planet.debian.org/atom.xml"), std::string::npos);
  EXPECT_NE(after.find("firstTime=true"), std::string::npos);

  // What must change nothing, byte for byte: the same file again, a damaged file, a busy home,
  // a missing file, a home that is not there, a mistake on the command line.
  HomeLock held;
  struct Refusal {
    std::vector<std::string> args;
    int status;
    std::string says;
    bool lock;
  };
  WriteFileAtomic((root_ / "cut.opml").string(), exported.substr(0, exported.size() - 20));
  // A zibu.conf cut short: written back it would keep only the feeds left in it.
  const std::string cutHome = (root_ / "cuthome").string();
  fs::create_directories(cutHome);
  const std::string cutConf = "[main]\nfeedCount=5\n[rss]\nfeed.0.url=http://a.example/\nfeed.1.url=http://b";
  WriteFileAtomic(cutHome + "/zibu.conf", cutConf);
  const Refusal refusals[] = {
      {{"opml-import", Data("other_reader.opml"), "--home", cutHome}, 1, "says feedCount=5 but holds 2 feeds", false},
      {{"opml-import", Data("other_reader.opml"), "--home", Home()}, 0, "I added 0 feeds", false},
      {{"opml-import", (root_ / "cut.opml").string(), "--home", Home()}, 1, "never closed", false},
      {{"opml-import", Data("other_reader.opml"), "--home", Home()}, 1, "is in use by zibu", true},
      {{"opml-export", "--home", Home()}, 1, "is in use by zibu", true},
      {{"opml-import", (root_ / "absent.opml").string(), "--home", Home()}, 1, "absent.opml", false},
      {{"opml-import", Data("other_reader.opml"), "--home", (root_ / "nowhere").string()},
       1,
       "not a folder",
       false},
      {{"opml-import", Data("other_reader.opml")}, 2, "usage:", false},
      {{"opml-export", "--home", Home(), "--bogus"}, 2, "usage:", false},
  };
  for (const Refusal& c : refusals) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1] + " " + c.says);
    if (c.lock) {
      ASSERT_EQ(held.Acquire(Home(), "zibu"), HomeLock::Result::Acquired);
    }
    r = Cli(c.args);
    held.Release();
    EXPECT_EQ(r.exitStatus, c.status);
    EXPECT_NE((r.out + r.err).find(c.says), std::string::npos) << r.out << r.err;
    EXPECT_EQ(Conf(), after);
    EXPECT_FALSE(fs::exists(root_ / "nowhere"));
    EXPECT_FALSE(fs::exists(root_ / "home" / "zibu.lock"));
  }
  EXPECT_EQ(ReadFileBytes(cutHome + "/zibu.conf"), cutConf);
}

}  // namespace
}  // namespace zibu
