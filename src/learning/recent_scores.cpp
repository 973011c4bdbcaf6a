#include "learning/recent_scores.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <string_view>
#include <vector>

#include "common/data_version.h"
#include "common/errors.h"
#include "common/file_io.h"
#include "learning/record_lines.h"

namespace zibu {

namespace {

// Times the file writes and reads back exactly (as the shown-article memory keeps them).
constexpr int64_t kLatestTime = 999999999999999;

// 2300 -> "2,300".
std::string Grouped(int n) {
  std::string digits = std::to_string(n);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

}  // namespace

TRecentScores::TRecentScores() : version_(NextDataVersion()) {}

void TRecentScores::Add(int64_t nowMs, int relevance) {
  while (!entries_.empty() && entries_.front().time < nowMs - kRecentScoreSpanMs) entries_.pop_front();
  entries_.push_back({nowMs, std::clamp(relevance, -100, 100)});
  while (Count() > kRecentScoresKept) entries_.pop_front();
  version_ = NextDataVersion();
}

void TRecentScores::Clear() {
  // An empty record stays as it was: nothing for the next save to write.
  if (entries_.empty()) return;
  entries_.clear();
  version_ = NextDataVersion();
}

ScoreStanding TRecentScores::StandingOf(int relevance, int64_t nowMs) const {
  ScoreStanding s;
  const int64_t since = nowMs - kRecentScoreSpanMs;
  for (const RecentScore& e : entries_) {
    if (e.time < since) continue;
    ++s.count;
    if (e.relevance < relevance) ++s.below;
  }
  return s;
}

void TRecentScores::SaveToFile(const std::string& fileName) const {
  std::string bytes;
  bytes.reserve(entries_.size() * 20);
  for (const RecentScore& e : entries_) {
    bytes += std::to_string(e.time);
    bytes += ' ';
    bytes += std::to_string(e.relevance);
    bytes += "\r\n";
  }
  WriteFileAtomic(fileName, bytes);
}

int TRecentScores::LoadFromFile(const std::string& fileName,
                                const std::function<void(int line, const std::string& problem)>& damaged) {
  Clear();
  int dropped = ReadRecordLines(
      fileName,
      [this](std::string_view line) -> std::string {
        const size_t blank = line.find(' ');
        std::optional<int64_t> time;
        std::optional<int> relevance;
        if (blank != std::string_view::npos) {
          time = Decimal<int64_t>(line.substr(0, blank));
          relevance = Decimal<int>(line.substr(blank + 1));
        }
        if (!time || !relevance) return "'" + Excerpt(line) + "' is not a time and a relevance";
        if (*time < 0 || *time > kLatestTime) return std::to_string(*time) + " is not a time";
        if (*relevance < -100 || *relevance > 100) return std::to_string(*relevance) + " is not a relevance";
        entries_.push_back({*time, *relevance});
        return "";
      },
      damaged);
  while (Count() > kRecentScoresKept) {
    entries_.pop_front();
    ++dropped;
  }
  version_ = NextDataVersion();
  return dropped;
}

std::string StandingText(const ScoreStanding& standing, int minimum) {
  if (standing.count <= 0 || standing.count < minimum) return "";
  const int below = std::clamp(standing.below, 0, standing.count);
  const int64_t percent = int64_t{below} * 100 / standing.count;
  return "higher than " + std::to_string(percent) + " % of the " + Grouped(standing.count) +
         (standing.count == 1 ? " article" : " articles") + " of the last " + std::to_string(kRecentScoreDays) +
         " days";
}

std::string RelevanceStandingLine(int relevance, const std::string& standing) {
  if (standing.empty()) return "";
  return "Relevance " + std::to_string(relevance) + " %: " + standing;
}

}  // namespace zibu
