// What a page monitor decides without its window: which page lines match its keyword rules, which
// of them were shown too recently to show again, and whether the daily scan window is open.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/stringmap.h"

namespace zibu {

class Clock;

// One status-log line: the message and whether it is written only in verbose mode.
using MonitorLogFn = std::function<void(const std::string& message, bool verbose)>;

// The matcher and the repeat memory of one page-monitor window. The memory lives as long as the
// window and is never saved.
class TPageMatcher {
 public:
  explicit TPageMatcher(const Clock& clock) : clock_(clock) {}

  // How long a shown line stays remembered (the repeatInterval setting, in milliseconds).
  void SetRepeatIntervalMs(int64_t ms) { repeatIntervalMs_ = ms; }
  int64_t RepeatIntervalMs() const { return repeatIntervalMs_; }

  // Every page line (page text split at CR LF) that an active rule matches and that was not
  // shown within the repeat interval, rule by rule and within a rule line by line. Each line
  // reported is remembered as shown at once, so a line matching two rules, or occurring twice,
  // is reported only once.
  std::vector<std::string> findMatches(const std::vector<std::string>& rules, std::string_view pageText,
                                       const MonitorLogFn& log);

  void rememberShown(const std::string& line);
  // Whether an entry equal to `line` was shown within the repeat interval. Answered from an
  // index in constant time, whatever the size of the memory: a page of many distinct matching
  // lines must not cost the square of its length. When the answer is no, the entries older than
  // the interval are dropped from the old end of the memory (as a walk from the newest entry
  // down would drop them); a recent answer changes nothing.
  bool shownRecently(const std::string& line);

  const TStringMap& shownLines() const { return shownLines_; }

 private:
  const Clock& clock_;
  int64_t repeatIntervalMs_ = 60 * 60000LL;
  struct Shown {
    int entries = 0;     // entries of shownLines_ with this line
    int64_t latest = 0;  // the latest of their times
  };
  void DropStaleEntries(int64_t now);

  TStringMap shownLines_;  // line -> NowMs when shown, as decimal text
  std::unordered_map<std::string, Shown> index_;
};

// The refresh-interval rule: the field's text read as an integer (anything else counts as 0).
// Automatic reloads run only from 60 seconds up.
inline constexpr int kMinRefreshSeconds = 60;
// The reason, and so the caption, of every page-monitor alert.
inline constexpr const char* kWebsiteMatchReason = "Website match";
int RefreshIntervalSeconds(std::string_view text);
bool AutoCheckEnabled(int seconds);
// The timer period for an enabled interval, capped at what a timer can hold (about 24 days).
int RefreshTimerMs(int seconds);

// A scan time "HH:MM": two digits, one separator character, two digits, at most 23:59.
// Milliseconds after midnight, or nothing when the text is not such a time.
std::optional<int64_t> ScanTimeOfDayMs(std::string_view text);
// What the status log says about a scan time that is not a time; `which` is "start" or "end".
std::string BadScanTimeMessage(std::string_view which, std::string_view text);

// Whether `nowMs` (local milliseconds since 1970-01-01) lies in that day's window from the start
// time to the end time, both ends included; seconds of the times are 0, so "23:59" ends at
// 23:59:00. An end before the start gives an empty window. A time that is not HH:MM closes the
// window.
bool InScanWindow(int64_t nowMs, std::string_view startTime, std::string_view endTime);

// What a refresh-timer tick does once the scan window is open.
enum class TickStep { Load, WaitForIdleThenLoad };
TickStep TickStepFor(int64_t runAfterIdleForMs, uint32_t idleMs);

}  // namespace zibu
