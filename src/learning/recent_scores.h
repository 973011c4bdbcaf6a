// The relevances Zibu gave the articles and pages it scored lately, so that a relevance can be
// told in terms a person reads at a glance: a bare "4%" means little when nearly every text
// scores a few per cent, "higher than 96 % of the 2,300 articles of the last 7 days" says where
// it stands.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>

namespace zibu {

inline constexpr const char* kRecentScoresFile = "recentscores.dat";
// Bounded both ways: a busy feed list scores thousands of articles a day, and a week of them is
// enough to compare with.
inline constexpr int kRecentScoresKept = 20000;
inline constexpr int kRecentScoreDays = 7;
inline constexpr int64_t kRecentScoreSpanMs = int64_t{kRecentScoreDays} * 24 * 60 * 60 * 1000;
// With fewer scores to compare with, a share of them says nothing worth reading.
inline constexpr int kMinScoresForStanding = 20;

struct RecentScore {
  int64_t time = 0;   // NowMs when it was scored
  int relevance = 0;  // -100..100
  bool operator==(const RecentScore&) const = default;
};

// Where one relevance stands among the recent scores.
struct ScoreStanding {
  int below = 0;  // recent scores strictly below it
  int count = 0;  // recent scores in all
  bool operator==(const ScoreStanding&) const = default;
};

class TRecentScores {
 public:
  TRecentScores();
  // Appends one score (relevance limited to -100..100). Scores older than kRecentScoreSpanMs
  // before `nowMs` leave from the front, and the oldest beyond kRecentScoresKept.
  void Add(int64_t nowMs, int relevance);
  void Clear();
  int Count() const { return static_cast<int>(entries_.size()); }
  // In the order they were scored.
  const std::deque<RecentScore>& Entries() const { return entries_; }
  // Changes with every change (see common/data_version.h).
  uint64_t Version() const { return version_; }

  // Among the scores of the kRecentScoreSpanMs before `nowMs` (and any stamped later, should the
  // clock have gone back).
  ScoreStanding StandingOf(int relevance, int64_t nowMs) const;

  // One line per score, oldest first: the time, a blank, the relevance, CR LF. Written to a
  // temporary name and renamed; IoError on failure.
  void SaveToFile(const std::string& fileName) const;
  // Replaces the entries with the file's; a missing file gives none. A line that is not a time
  // and a relevance is dropped, `damaged` being told its number (from 1) and why; only the last
  // kRecentScoresKept good lines are kept. Returns the number of lines dropped or not kept.
  // IoError when the file is there but cannot be read (the entries are then empty).
  int LoadFromFile(const std::string& fileName,
                   const std::function<void(int line, const std::string& problem)>& damaged = {});

 private:
  std::deque<RecentScore> entries_;
  uint64_t version_;
};

// "higher than 96 % of the 2,300 articles of the last 7 days": the share of the recent scores
// strictly below, rounded down (so that it never claims more than is true). Empty with fewer than
// `minimum` scores.
std::string StandingText(const ScoreStanding& standing, int minimum = kMinScoresForStanding);
// The line a window shows beside a relevance: "Relevance 4 %: higher than 96 % of the ...";
// empty when the standing is.
std::string RelevanceStandingLine(int relevance, const std::string& standing);

}  // namespace zibu
