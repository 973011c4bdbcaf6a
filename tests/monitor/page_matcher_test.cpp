// The page monitor's decisions without a window: matching page lines, the repeat memory, the
// refresh-interval rule, the daily scan window and the window's settings section.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <string>
#include <vector>

#include "common/ports.h"
#include "common/settings.h"
#include "monitor/monitor_section.h"
#include "monitor/page_matcher.h"

namespace zibu {
namespace {

// 2026-12-08 00:00 local, in milliseconds.
constexpr int64_t kMidnight = 1796774400000LL;
constexpr int64_t kMinute = 60000;
constexpr int64_t kHour = 60 * kMinute;

class ManualClock : public Clock {
 public:
  int64_t now = kMidnight + 9 * kHour;
  int64_t NowMs() const override { return now; }
  uint32_t IdleMs() const override { return 0; }
};

struct LogLine {
  std::string text;
  bool verbose;
};

class PageMatcherTest : public ::testing::Test {
 protected:
  std::vector<std::string> Find(const std::vector<std::string>& rules, const std::string& page) {
    return matcher.findMatches(rules, page, [this](const std::string& m, bool v) { log.push_back({m, v}); });
  }
  std::vector<std::string> LogTexts(bool verbose) const {
    std::vector<std::string> out;
    for (const auto& l : log)
      if (l.verbose == verbose) out.push_back(l.text);
    return out;
  }

  ManualClock clock;
  TPageMatcher matcher{clock};
  std::vector<LogLine> log;
};

using Lines = std::vector<std::string>;

TEST_F(PageMatcherTest, BothWordsOnOneLineInAnyOrderAndCaseNeverAcrossLines) {
  const std::string page =
      "Storm Warning issued\r\nWARNING: a storm is near\r\nstorm only\r\nwarning only\r\nstorm\r\nwarning";
  EXPECT_EQ(Find({"1:storm,warning"}, page), (Lines{"Storm Warning issued", "WARNING: a storm is near"}));
  EXPECT_EQ(LogTexts(false), (Lines{"Match found for STORM,WARNING on line Storm Warning issued",
                                    "Match found for STORM,WARNING on line WARNING: a storm is near"}));
}

TEST_F(PageMatcherTest, NegatedAndEmptyTerms) {
  EXPECT_EQ(Find({"1:storm,!test"}, "storm test\r\nstorm drill\r\nTEST STORM"), Lines{"storm drill"});
  EXPECT_TRUE(Find({"1:storm,,warning", "1:,storm"}, "storm warning\r\nstorm, warning").empty());
  // A comma at the very end adds no term.
  EXPECT_EQ(Find({"1:gale,"}, "gale force"), Lines{"gale force"});
}

TEST_F(PageMatcherTest, InactiveBlankAndEmptyRulesAreSkippedWithVerboseLines) {
  EXPECT_TRUE(Find({"0:storm", "", "x", "storm", "1:"}, "storm\r\nx\r\n").empty());
  EXPECT_EQ(LogTexts(true), (Lines{"Ignoring inactive keywords: 0:storm",
                                   "Ignoring inactive keywords: ", "Ignoring inactive keywords: x",
                                   "Ignoring inactive keywords: storm", "No keywords"}));
  EXPECT_TRUE(LogTexts(false).empty());
  EXPECT_EQ(matcher.shownLines().Count(), 0);
}

TEST_F(PageMatcherTest, PageLinesAreSplitAtCrLfOnly) {
  // An empty piece between two separators is a line; a trailing one is not; a lone LF is no break.
  EXPECT_EQ(Find({"1:!zzz"}, "a\r\n\r\nb\nc\r\n"), (Lines{"a", "", "b\nc"}));
  EXPECT_EQ(Find({"1:"}, ""), Lines{});
}

TEST_F(PageMatcherTest, ResultsRuleByRuleThenLineByLineAndEachLineOnce) {
  const std::string page = "rain and storm\r\nsnow\r\nstorm and snow\r\nrain and storm";
  EXPECT_EQ(Find({"1:snow", "1:storm", "1:rain"}, page), (Lines{"snow", "storm and snow", "rain and storm"}));
  EXPECT_EQ(LogTexts(false),
            (Lines{"Match found for SNOW on line snow", "Match found for SNOW on line storm and snow",
                   "Match found for STORM on line rain and storm",
                   "Match found but shown recently for STORM on line storm and snow",
                   "Match found but shown recently for STORM on line rain and storm",
                   "Match found but shown recently for RAIN on line rain and storm",
                   "Match found but shown recently for RAIN on line rain and storm"}));
  ASSERT_EQ(matcher.shownLines().Count(), 3);
  EXPECT_EQ(matcher.shownLines().KeyAt(2), "rain and storm");
  EXPECT_EQ(matcher.shownLines().ValueAt(2), std::to_string(clock.now));
}

TEST_F(PageMatcherTest, ShownAgainOnlyAfterTheRepeatInterval) {
  matcher.SetRepeatIntervalMs(60 * kMinute);
  EXPECT_EQ(Find({"1:storm"}, "Storm ahead"), Lines{"Storm ahead"});
  clock.now += 60 * kMinute;  // exactly the interval: still recent
  EXPECT_TRUE(Find({"1:storm"}, "Storm ahead").empty());
  EXPECT_EQ(log.back().text, "Match found but shown recently for STORM on line Storm ahead");
  clock.now += 1;
  EXPECT_EQ(Find({"1:storm"}, "Storm ahead"), Lines{"Storm ahead"});
  // The comparison of lines is exact, letter case included.
  EXPECT_EQ(Find({"1:storm"}, "STORM AHEAD"), Lines{"STORM AHEAD"});
}

TEST_F(PageMatcherTest, MemoryDropsStaleEntriesOnlyAsFarAsItWalks) {
  matcher.SetRepeatIntervalMs(60 * kMinute);
  matcher.rememberShown("old");
  clock.now += 50 * kMinute;
  matcher.rememberShown("new");
  clock.now += 15 * kMinute;  // "old" is 65 minutes old, "new" 15
  EXPECT_TRUE(matcher.shownRecently("new"));
  EXPECT_EQ(matcher.shownLines().Count(), 2) << "the walk stops at the match, before the stale entry";
  EXPECT_FALSE(matcher.shownRecently("old"));
  ASSERT_EQ(matcher.shownLines().Count(), 1);
  EXPECT_EQ(matcher.shownLines().KeyAt(0), "new");
}

TEST_F(PageMatcherTest, ZeroRepeatIntervalForgetsAfterOneMillisecond) {
  matcher.SetRepeatIntervalMs(0);
  matcher.rememberShown("line");
  EXPECT_TRUE(matcher.shownRecently("line"));
  clock.now += 1;
  EXPECT_FALSE(matcher.shownRecently("line"));
  EXPECT_EQ(matcher.shownLines().Count(), 0);
}

// The memory answers from an index; the walk from the newest entry down is the reference. Each
// script is a sequence of steps over a few lines: "+x" remembers x, "?x" asks about x, a number
// moves the clock by that many minutes (negative: set back). With a clock that only moves on,
// the answers and the memory left behind are those of the walk; set back, the answers are.
TEST(PageMatcherMemoryTest, AnswersAndEntriesAsTheWalkFromTheNewestEntryDown) {
  struct Script {
    const char* name;
    int64_t intervalMinutes;
    std::vector<std::string> steps;
    bool clockMovesOn;
  };
  const Script scripts[] = {
      {"stale entries go from the front when the answer is no",
       60,
       {"+a", "10", "+b", "55", "+c", "?b", "?a", "?c", "10", "?x", "?b", "?c"},
       true},
      {"a repeated line keeps its latest time",
       30,
       {"+a", "20", "+a", "20", "?a", "15", "?a", "?a", "+a", "?a"},
       true},
      {"zero interval", 0, {"+a", "?a", "+b", "1", "?a", "?b", "+a", "?a"}, true},
      {"many lines, every one asked after each step",
       45,
       {"+a", "+b", "10", "+c", "?a", "30", "+a", "?b", "10", "?c", "?a", "6", "?b", "?a", "?c", "100", "?a"},
       true},
      {"clock set back", 60, {"+a", "90", "+b", "-80", "?a", "?b", "+c", "100", "?a", "?b", "?c"}, false},
  };
  for (const Script& script : scripts) {
    SCOPED_TRACE(script.name);
    ManualClock clock;
    TPageMatcher matcher(clock);
    matcher.SetRepeatIntervalMs(script.intervalMinutes * kMinute);
    std::vector<std::pair<std::string, int64_t>> walk;  // the reference memory
    auto walkRecently = [&](const std::string& line) {
      for (int i = static_cast<int>(walk.size()) - 1; i >= 0; --i) {
        if (clock.now - walk[static_cast<size_t>(i)].second <= script.intervalMinutes * kMinute) {
          if (walk[static_cast<size_t>(i)].first == line) return true;
        } else {
          walk.erase(walk.begin() + i);
        }
      }
      return false;
    };
    for (const std::string& step : script.steps) {
      if (step[0] == '+') {
        matcher.rememberShown(step.substr(1));
        walk.emplace_back(step.substr(1), clock.now);
      } else if (step[0] == '?') {
        EXPECT_EQ(matcher.shownRecently(step.substr(1)), walkRecently(step.substr(1))) << step;
      } else {
        clock.now += std::stoll(step) * kMinute;
      }
      if (!script.clockMovesOn) continue;
      ASSERT_EQ(matcher.shownLines().Count(), static_cast<int>(walk.size())) << step;
      for (size_t i = 0; i < walk.size(); ++i) {
        EXPECT_EQ(matcher.shownLines().KeyAt(static_cast<int>(i)), walk[i].first);
        EXPECT_EQ(matcher.shownLines().ValueAt(static_cast<int>(i)), std::to_string(walk[i].second));
      }
    }
  }
}

TEST(RefreshIntervalRuleTest, SixtySecondsIsTheLeastThatEnablesReloads) {
  EXPECT_FALSE(AutoCheckEnabled(RefreshIntervalSeconds("59")));
  EXPECT_TRUE(AutoCheckEnabled(RefreshIntervalSeconds("60")));
  EXPECT_EQ(RefreshTimerMs(RefreshIntervalSeconds("60")), 60000);
  EXPECT_EQ(RefreshIntervalSeconds(" 120"), 120);
  EXPECT_EQ(RefreshIntervalSeconds("$3C"), 60);
  for (const char* notANumber : {"", "abc", "60s", "1.5", "99999999999"})
    EXPECT_EQ(RefreshIntervalSeconds(notANumber), 0) << notANumber;
  EXPECT_FALSE(AutoCheckEnabled(RefreshIntervalSeconds("-100")));
  EXPECT_EQ(RefreshTimerMs(INT_MAX), INT_MAX);
}

TEST(ScanWindowTest, TimesMustBeTwoDigitsASeparatorAndTwoDigits) {
  EXPECT_EQ(ScanTimeOfDayMs("00:00"), 0);
  EXPECT_EQ(ScanTimeOfDayMs("23:59"), 23 * kHour + 59 * kMinute);
  EXPECT_EQ(ScanTimeOfDayMs("06.30"), 6 * kHour + 30 * kMinute);
  for (const char* bad : {"", "9:00", "09:0", "24:00", "12:60", "ab:cd", "12:345", " 9:00", "-1:00", "1x:00"})
    EXPECT_FALSE(ScanTimeOfDayMs(bad).has_value()) << bad;
  EXPECT_FALSE(InScanWindow(kMidnight + 12 * kHour, "9:00", "23:59"));
  EXPECT_FALSE(InScanWindow(kMidnight + 12 * kHour, "00:00", "25:00"));
}

TEST(ScanWindowTest, BothEndsIncludedAndTheEndAtWholeMinute) {
  EXPECT_TRUE(InScanWindow(kMidnight, "00:00", "23:59"));
  EXPECT_TRUE(InScanWindow(kMidnight + 23 * kHour + 59 * kMinute, "00:00", "23:59"));
  EXPECT_FALSE(InScanWindow(kMidnight + 23 * kHour + 59 * kMinute + 1, "00:00", "23:59"));
  EXPECT_FALSE(InScanWindow(kMidnight + 9 * kHour - 1, "09:00", "17:00"));
  EXPECT_TRUE(InScanWindow(kMidnight + 9 * kHour, "09:00", "17:00"));
  EXPECT_TRUE(InScanWindow(kMidnight + 17 * kHour, "09:00", "17:00"));
  EXPECT_FALSE(InScanWindow(kMidnight + 17 * kHour + 1, "09:00", "17:00"));
  // The next day starts at its own midnight.
  EXPECT_TRUE(InScanWindow(kMidnight + 24 * kHour + 10 * kHour, "09:00", "17:00"));
}

TEST(ScanWindowTest, AnEndBeforeTheStartNeverOpens) {
  for (int64_t t = kMidnight; t < kMidnight + 24 * kHour; t += kMinute / 2)
    ASSERT_FALSE(InScanWindow(t, "22:00", "06:00")) << (t - kMidnight) / kMinute << " minutes after midnight";
}

TEST(TickStepTest, WaitsForIdleOnlyWhenTheUserIsBusierThanTheSetting) {
  EXPECT_EQ(TickStepFor(0, 0), TickStep::Load);
  EXPECT_EQ(TickStepFor(5000, 4999), TickStep::WaitForIdleThenLoad);
  EXPECT_EQ(TickStepFor(5000, 5000), TickStep::Load);
  EXPECT_EQ(TickStepFor(-1000, 0), TickStep::Load);
}

class MonitorSectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() /
          ("zibu-monitor-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    path = (dir / "zibu.conf").string();
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::filesystem::path dir;
  std::string path;
};

TEST_F(MonitorSectionTest, MissingKeysGiveTheDefaults) {
  SettingsFile file(path);
  const TPageMonitorSection values = ReadPageMonitorSection(file, "window_0");
  EXPECT_EQ(values.url, "");
  EXPECT_EQ(values.refreshInterval, "");
  EXPECT_TRUE(values.alerts.empty());
  EXPECT_EQ(values.startTimeToScan, "00:00");
  EXPECT_EQ(values.endTimeToScan, "23:59");
}

TEST_F(MonitorSectionTest, RulesRoundTripAndAKeywordHoldingCrlfComesBackAsTwoLines) {
  {
    SettingsFile file(path);
    TPageMonitorSection values;
    values.url = "http://127.0.0.1:8080/news";
    values.refreshInterval = "90";
    values.alerts = {"1:storm,warning", "", "1:aircrlfare", "0:Xcrlf"};
    values.startTimeToScan = "07:30";
    values.endTimeToScan = "18:00";
    WritePageMonitorSection(file, "window_1", values);
    file.Save();
  }
  SettingsFile file(path);
  EXPECT_EQ(file.ReadString("window_1", "alerts", ""), "1:storm,warningCRLFCRLF1:aircrlfareCRLF0:XcrlfCRLF");
  const TPageMonitorSection back = ReadPageMonitorSection(file, "WINDOW_1");
  EXPECT_EQ(back.url, "http://127.0.0.1:8080/news");
  EXPECT_EQ(back.refreshInterval, "90");
  // "0:Xcrlf" ends in a break of its own, so an empty line follows it.
  EXPECT_EQ(back.alerts, (Lines{"1:storm,warning", "", "1:air", "are", "0:X", ""}));
  EXPECT_EQ(back.startTimeToScan, "07:30");
  EXPECT_EQ(back.endTimeToScan, "18:00");
}

}  // namespace
}  // namespace zibu
