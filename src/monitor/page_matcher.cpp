#include "monitor/page_matcher.h"

#include <algorithm>
#include <climits>

#include "common/numbers.h"
#include "common/ports.h"
#include "common/text.h"
#include "rules/keyword_rules.h"

namespace zibu {

namespace {

constexpr int64_t kDayMs = 24LL * 60 * 60 * 1000;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

std::vector<std::string> TPageMatcher::findMatches(const std::vector<std::string>& rules,
                                                   std::string_view pageText, const MonitorLogFn& log) {
  std::vector<std::string> result;
  const std::vector<std::string> pageLines = SplitString(pageText, "\r\n");
  for (const std::string& rule : rules) {
    const std::string upper = UpperCase(rule);
    if (upper.compare(0, 2, "1:") != 0) {
      log("Ignoring inactive keywords: " + rule, true);
      continue;
    }
    const std::string terms = upper.substr(2);
    if (terms.empty()) {
      log("No keywords", true);
      continue;
    }
    for (const std::string& line : pageLines) {
      if (!RuleLineMatches(terms, line)) continue;
      if (shownRecently(line)) {
        log("Match found but shown recently for " + terms + " on line " + line, false);
      } else {
        log("Match found for " + terms + " on line " + line, false);
        rememberShown(line);
        result.push_back(line);
      }
    }
  }
  return result;
}

void TPageMatcher::rememberShown(const std::string& line) {
  const int64_t now = clock_.NowMs();
  shownLines_.Add(line, std::to_string(now));
  Shown& shown = index_[line];
  shown.latest = shown.entries == 0 ? now : std::max(shown.latest, now);
  ++shown.entries;
}

bool TPageMatcher::shownRecently(const std::string& line) {
  const int64_t now = clock_.NowMs();
  // Recent means now - shownAt <= interval; the latest time of the line decides, since an
  // earlier one is recent only if the latest is.
  const auto it = index_.find(line);
  if (it != index_.end() && now - it->second.latest <= repeatIntervalMs_) return true;
  DropStaleEntries(now);
  return false;
}

void TPageMatcher::DropStaleEntries(int64_t now) {
  // Times are appended as the clock gives them, so the stale entries are the oldest ones. (A
  // clock set back leaves a stale entry behind a newer one until it reaches the front; it is
  // never taken as recent, since the index keeps each line's latest time.)
  while (shownLines_.Count() > 0) {
    // The values are written by rememberShown only; an unreadable one counts as long past.
    const auto shownAt = TryStrToInt64(shownLines_.ValueAt(0));
    if (shownAt && now - *shownAt <= repeatIntervalMs_) break;
    const auto it = index_.find(shownLines_.KeyAt(0));
    if (it != index_.end() && --it->second.entries == 0) index_.erase(it);
    shownLines_.Delete(0);
  }
}

int RefreshIntervalSeconds(std::string_view text) {
  return TryStrToInt(text).value_or(0);
}

bool AutoCheckEnabled(int seconds) {
  return seconds >= kMinRefreshSeconds;
}

int RefreshTimerMs(int seconds) {
  const int64_t ms = static_cast<int64_t>(seconds) * 1000;
  return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

std::optional<int64_t> ScanTimeOfDayMs(std::string_view text) {
  if (text.size() != 5 || !IsDigit(text[0]) || !IsDigit(text[1]) || !IsDigit(text[3]) || !IsDigit(text[4]))
    return std::nullopt;
  // Read by the common rule for "HH:MM" (hours from the first two characters, minutes from the
  // fourth and fifth), which also refuses hours above 23 and minutes above 59.
  try {
    const double dayFraction = ParseHourMinute(text);
    return static_cast<int64_t>(dayFraction * 1440.0 + 0.5) * 60000;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::string BadScanTimeMessage(std::string_view which, std::string_view text) {
  return "The " + std::string(which) + " time \"" + std::string(text) +
         "\" is not a time of the form HH:MM (00:00 to 23:59), so I will not reload the page automatically "
         "until it is corrected";
}

bool InScanWindow(int64_t nowMs, std::string_view startTime, std::string_view endTime) {
  const auto start = ScanTimeOfDayMs(startTime);
  const auto end = ScanTimeOfDayMs(endTime);
  if (!start || !end) return false;
  int64_t today = nowMs - nowMs % kDayMs;
  if (nowMs % kDayMs < 0) today -= kDayMs;
  return today + *start <= nowMs && nowMs <= today + *end;
}

TickStep TickStepFor(int64_t runAfterIdleForMs, uint32_t idleMs) {
  if (runAfterIdleForMs >= 0 && static_cast<int64_t>(idleMs) < runAfterIdleForMs)
    return TickStep::WaitForIdleThenLoad;
  return TickStep::Load;
}

}  // namespace zibu
