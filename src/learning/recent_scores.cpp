#include "learning/recent_scores.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <string_view>
#include <vector>

#include "common/data_version.h"
#include "common/errors.h"
#include "common/file_io.h"
#include "common/map_file.h"

namespace zibu {

namespace {

// Times the file writes and reads back exactly (as the shown-article memory keeps them).
constexpr int64_t kLatestTime = 999999999999999;

// A whole decimal number (optional minus sign), nothing else around it.
template <typename T>
std::optional<T> Decimal(std::string_view text) {
  T v = 0;
  const char* end = text.data() + text.size();
  const auto [at, ec] = std::from_chars(text.data(), end, v);
  if (ec != std::errc() || at != end || text.empty() || text.front() == '+') return std::nullopt;
  return v;
}

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
  std::vector<std::string> lines;
  if (!mapfile::ReadLines(fileName, lines)) return 0;
  int dropped = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.empty()) continue;
    const size_t blank = line.find(' ');
    std::optional<int64_t> time;
    std::optional<int> relevance;
    if (blank != std::string::npos) {
      time = Decimal<int64_t>(std::string_view(line).substr(0, blank));
      relevance = Decimal<int>(std::string_view(line).substr(blank + 1));
    }
    std::string problem;
    if (!time || !relevance)
      problem = "'" + Excerpt(line) + "' is not a time and a relevance";
    else if (*time < 0 || *time > kLatestTime)
      problem = std::to_string(*time) + " is not a time";
    else if (*relevance < -100 || *relevance > 100)
      problem = std::to_string(*relevance) + " is not a relevance";
    if (!problem.empty()) {
      ++dropped;
      if (damaged) damaged(static_cast<int>(i) + 1, problem);
      continue;
    }
    entries_.push_back({*time, *relevance});
  }
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
