// zibu-cli items as a script sees it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

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

}  // namespace
}  // namespace zibu
