#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "common/global_settings.h"
#include "common/settings.h"

namespace fs = std::filesystem;
using namespace zibu;

namespace {

class GlobalSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("zibu_global_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = (dir_ / "zibu.conf").string();
  }
  void TearDown() override { fs::remove_all(dir_); }
  void Write(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
  std::string Read() {
    std::ifstream in(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  fs::path dir_;
  std::string path_;
};

TEST_F(GlobalSettingsTest, MissingFileGivesEveryDefault) {
  const GlobalSettings g = ReadGlobalSettings(SettingsFile(path_));
  EXPECT_EQ(g.proxy.server, "");
  EXPECT_EQ(g.proxy.port, 0);
  EXPECT_EQ(g.proxy.username, "");
  EXPECT_EQ(g.proxy.password, "");
  EXPECT_TRUE(g.proxy.basicAuthentication);
  EXPECT_EQ(g.repeatIntervalMs, 60 * 60000);
  EXPECT_TRUE(g.loadPagesOnStartup);
  EXPECT_FALSE(g.verboseOutput);
  EXPECT_TRUE(g.forceToForeground);
  EXPECT_TRUE(g.showNagScreens);
  EXPECT_EQ(g.runAfterIdleForMs, 0);
  EXPECT_EQ(g.processMessagesIntervalMs, 60000);
  EXPECT_FALSE(g.firstTime);
  EXPECT_TRUE(g.backupDataFiles);
  EXPECT_EQ(g.browserWindowCount, 0);
  EXPECT_TRUE(g.checkForNewVersion);
  EXPECT_TRUE(g.desktopNotifications);
  EXPECT_EQ(g.caFile, "");
  EXPECT_EQ(g.maxParallelDownloads, 8);
  EXPECT_FALSE(g.followSuggestedThreshold);  // a home older than the option keeps its slider
  EXPECT_EQ(g.keepArticlesDays, 90);
  EXPECT_EQ(g.markReadDelayMs, 1500);
  EXPECT_FALSE(g.readingListOpen);
}

TEST_F(GlobalSettingsTest, ConvertsUnitsAndReadsFlagsExactly) {
  Write(
      "[MAIN]\n"
      "proxyhost=proxy.lan\nPROXYPORT=$1F90\nproxyUsername=me\nproxyPassword=p=w;d\n"
      "proxyBasicAuthentication=false\n"
      "repeatInterval=0\nrunAfterIdleFor=90\nprocessMessagesInterval=2\n"
      "verboseOutput=True\nforceToForeground=TRUE\nshowNagScreens=1\nbackupDataFiles=yes\n"
      "loadPagesOnStartup=false\nfirstTime=true\ncheckForNewVersion=false\nbrowserWindowCount=2\n"
      "desktopNotifications=False\ncafile=/etc/zibu/company ca.pem\nfollowSuggestedThreshold=true\n"
      "[window_0]\n[Window_1]\naddress=http://b/\n");
  const GlobalSettings g = ReadGlobalSettings(SettingsFile(path_));
  EXPECT_EQ(g.proxy.server, "proxy.lan");
  EXPECT_EQ(g.proxy.port, 8080);
  EXPECT_EQ(g.proxy.username, "me");
  EXPECT_EQ(g.proxy.password, "p=w;d");
  EXPECT_FALSE(g.proxy.basicAuthentication);
  EXPECT_EQ(g.repeatIntervalMs, 0);
  EXPECT_EQ(g.runAfterIdleForMs, 90000);
  EXPECT_EQ(g.processMessagesIntervalMs, 2000);
  // Anything but the exact text "true" is false...
  EXPECT_FALSE(g.verboseOutput);
  EXPECT_FALSE(g.forceToForeground);
  EXPECT_FALSE(g.showNagScreens);
  EXPECT_FALSE(g.backupDataFiles);
  EXPECT_FALSE(g.loadPagesOnStartup);
  EXPECT_FALSE(g.checkForNewVersion);
  EXPECT_FALSE(g.desktopNotifications);
  // ...and "true" is true.
  EXPECT_TRUE(g.firstTime);
  EXPECT_TRUE(g.followSuggestedThreshold);
  EXPECT_EQ(g.browserWindowCount, 2);
  EXPECT_EQ(g.caFile, "/etc/zibu/company ca.pem");
}

TEST_F(GlobalSettingsTest, BoundedIntegersStayInTheirRanges) {
  const struct {
    const char* key;
    const char* text;
    int expected;
  } cases[] = {{"maxParallelDownloads", "1", 1},    {"maxParallelDownloads", "3", 3},
               {"maxParallelDownloads", "64", 64},  {"maxParallelDownloads", "65", 64},
               {"maxParallelDownloads", "0", 1},    {"maxParallelDownloads", "-4", 1},
               {"maxParallelDownloads", "many", 8}, {"maxParallelDownloads", "", 8},
               {"keepArticlesDays", "0", 0},        {"keepArticlesDays", "-5", 0},
               {"keepArticlesDays", "30", 30},      {"keepArticlesDays", "ninety", 90},
               {"markReadDelayMs", "-1", -1},       {"markReadDelayMs", "-9", -1},
               {"markReadDelayMs", "0", 0},         {"markReadDelayMs", "soon", 1500}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.key) + "=" + c.text);
    Write(std::string("[main]\n") + c.key + "=" + c.text + "\n");
    const GlobalSettings g = ReadGlobalSettings(SettingsFile(path_));
    const int got = std::string(c.key) == "keepArticlesDays"  ? g.keepArticlesDays
                    : std::string(c.key) == "markReadDelayMs" ? g.markReadDelayMs
                                                              : g.maxParallelDownloads;
    EXPECT_EQ(got, c.expected);
  }
}

// A new home starts from the delivered file: there the slider follows the ratings.
TEST_F(GlobalSettingsTest, TheDeliveredFileLetsTheSliderFollowTheSuggestion) {
  const GlobalSettings g =
      ReadGlobalSettings(SettingsFile(std::string(ZIBU_TEST_DATA_DIR) + "/../../data/zibu.conf"));
  EXPECT_TRUE(g.followSuggestedThreshold);
  EXPECT_TRUE(g.firstTime);
}

TEST_F(GlobalSettingsTest, NonNumericIntegersGiveTheirDefaults) {
  Write(
      "[main]\nproxyPort=eighty\nrepeatInterval=1.5\nrunAfterIdleFor=\nprocessMessagesInterval=9x\n"
      "browserWindowCount=two\n");
  const GlobalSettings g = ReadGlobalSettings(SettingsFile(path_));
  EXPECT_EQ(g.proxy.port, 0);
  EXPECT_EQ(g.repeatIntervalMs, 60 * 60000);
  EXPECT_EQ(g.runAfterIdleForMs, 0);
  EXPECT_EQ(g.processMessagesIntervalMs, 60000);
  EXPECT_EQ(g.browserWindowCount, 0);
}

TEST_F(GlobalSettingsTest, LargeMinuteValuesDoNotOverflow) {
  Write("[main]\nrepeatInterval=2000000\n");
  EXPECT_EQ(ReadGlobalSettings(SettingsFile(path_)).repeatIntervalMs, 2000000LL * 60000);
}

// Values come back exactly as written, whatever characters they hold.
// browserWindowCount is bounded by the window sections the file holds and by 64.
TEST_F(GlobalSettingsTest, WindowCountIsBoundedByTheSectionsInTheFile) {
  auto sections = [](int n) {
    std::string text;
    for (int i = 0; i < n; ++i)
      text += "[window_" + std::to_string(i) + "]\naddress=http://w" + std::to_string(i) + "/\n";
    return text;
  };
  struct Case {
    std::string conf;
    int windows;
    std::string note;
  };
  const Case cases[] = {
      {"[main]\nbrowserWindowCount=2147483647\n" + sections(1), 1,
       "browserWindowCount in zibu.conf is 2147483647, but the file holds 1 page-monitor window sections: I "
       "have "
       "read 1"},
      {"[main]\nbrowserWindowCount=2\n" + sections(3), 2, ""},
      {"[main]\nbrowserWindowCount=3\n[window_0]\n[WINDOW_2]\n[window_02]\n[window_x]\n", 3, ""},
      {"[main]\nbrowserWindowCount=5\n[window_1]\n[window_3x]\n[windows_4]\n", 2,
       "browserWindowCount in zibu.conf is 5, but the file holds 2 page-monitor window sections: I have read "
       "2"},
      {"[main]\nbrowserWindowCount=-1\n" + sections(1), 0, ""},
      {"[main]\nbrowserWindowCount=100\n" + sections(70), 64,
       "browserWindowCount in zibu.conf is 100, more than the 64 page-monitor window sections I keep: I have "
       "read "
       "the first 64"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.conf.substr(0, 50));
    Write(c.conf);
    SettingsFile file(path_);
    EXPECT_EQ(ReadGlobalSettings(file).browserWindowCount, c.windows);
    const BoundedCount stored = StoredMonitorWindowCount(file);
    EXPECT_EQ(stored.count, c.windows);
    EXPECT_EQ(stored.note, c.note);
  }
}

TEST_F(GlobalSettingsTest, AwkwardValuesRoundTrip) {
  const std::vector<std::string> values = {
      "a=b=c",           "; not a comment", "# nor this",
      "[not a section]", "\"quoted\"",      "trailing\\",
      "tab\there",       "caf\xE9",         std::string(3000, 'x') + "CRLF" + std::string(3000, 'y')};
  {
    SettingsFile s(path_);
    for (size_t i = 0; i < values.size(); ++i) s.WriteString("main", "v" + std::to_string(i), values[i]);
    s.Save();
  }
  SettingsFile r(path_);
  for (size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(r.ReadString("main", "v" + std::to_string(i), "?"), values[i]) << i;
  }
}

TEST_F(GlobalSettingsTest, SavingKeepsUnknownSectionsAndReplacesInPlace) {
  Write("[window_5]\nurl=http://old.example/\n[main]\nappVersion=1.0\nmyOwnKey=kept\n");
  {
    SettingsFile s(path_);
    s.WriteString("Main", "APPVERSION", "1.13");
    s.Save();
  }
  const std::string text = Read();
  EXPECT_NE(text.find("url=http://old.example/"), std::string::npos);
  EXPECT_NE(text.find("myOwnKey=kept"), std::string::npos);
  EXPECT_EQ(text.find("1.0\n"), std::string::npos);
  SettingsFile r(path_);
  EXPECT_EQ(r.ReadString("main", "appVersion", ""), "1.13");
  EXPECT_EQ(r.ReadString("WINDOW_5", "URL", ""), "http://old.example/");
}

}  // namespace
