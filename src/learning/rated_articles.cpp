#include "learning/rated_articles.h"

#include <algorithm>
#include <charconv>
#include <string_view>
#include <vector>

#include "common/data_version.h"
#include "common/errors.h"
#include "common/file_io.h"
#include "learning/record_lines.h"

namespace zibu {


TRatedArticles::TRatedArticles() : version_(NextDataVersion()) {}

void TRatedArticles::Add(int rating, int relevance) {
  if (rating == 0) return;
  entries_.push_back({std::clamp(rating, -10, 10), std::clamp(relevance, -100, 100)});
  while (Count() > kRatedArticlesKept) entries_.pop_front();
  version_ = NextDataVersion();
}

void TRatedArticles::Clear() {
  entries_.clear();
  version_ = NextDataVersion();
}

void TRatedArticles::SaveToFile(const std::string& fileName) const {
  std::string bytes;
  bytes.reserve(entries_.size() * 8);
  for (const RatedArticle& a : entries_) {
    bytes += std::to_string(a.rating);
    bytes += ' ';
    bytes += std::to_string(a.relevance);
    bytes += "\r\n";
  }
  WriteFileAtomic(fileName, bytes);
}

int TRatedArticles::LoadFromFile(const std::string& fileName,
                                 const std::function<void(int line, const std::string& problem)>& damaged) {
  Clear();
  int dropped = ReadRecordLines(
      fileName,
      [this](std::string_view line) -> std::string {
        const size_t blank = line.find(' ');
        std::optional<int> rating, relevance;
        if (blank != std::string_view::npos) {
          rating = Decimal<int>(line.substr(0, blank));
          relevance = Decimal<int>(line.substr(blank + 1));
        }
        if (!rating || !relevance) return "'" + Excerpt(line) + "' is not a rating and a relevance";
        if (*rating == 0 || *rating < -10 || *rating > 10) return std::to_string(*rating) + " is not a rating";
        if (*relevance < -100 || *relevance > 100) return std::to_string(*relevance) + " is not a relevance";
        entries_.push_back({*rating, *relevance});
        return "";
      },
      damaged);
  // A longer file (written by hand, say) keeps its most recent part, as the record would have.
  while (Count() > kRatedArticlesKept) {
    entries_.pop_front();
    ++dropped;
  }
  version_ = NextDataVersion();
  return dropped;
}

// ---- the suggestion --------------------------------------------------------------------------

ThresholdSuggestion SuggestThreshold(const std::deque<RatedArticle>& record) {
  ThresholdSuggestion s;
  s.recorded = static_cast<int>(record.size());
  int allRelevant = 0, allIrrelevant = 0;
  for (const RatedArticle& a : record) (a.rating > 0 ? allRelevant : allIrrelevant) += 1;

  // The recent half: the engine that scored them knew nearly what it knows now. Reaching back
  // further only as far as the evidence needs.
  const int n = s.recorded;
  int first = n - (n + 1) / 2;
  auto count = [&](int from) {
    int rel = 0, irr = 0;
    for (int i = from; i < n; ++i) (record[static_cast<size_t>(i)].rating > 0 ? rel : irr) += 1;
    return std::pair{rel, irr};
  };
  // Plain variables, not a structured binding: the lambdas below capture them.
  auto [rel0, irr0] = count(first);
  int rel = rel0, irr = irr0;
  while (first > 0 && (rel < kMinRatingsOfEachKind || irr < kMinRatingsOfEachKind)) {
    --first;
    (record[static_cast<size_t>(first)].rating > 0 ? rel : irr) += 1;
  }
  s.rated = n - first;
  s.relevant = rel;
  s.irrelevant = irr;

  // Shown at t: relevance >= t. Relevances below 0 are never shown; above 100 there are none.
  std::array<int, 102> relAt{}, irrAt{};
  for (int i = first; i < n; ++i) {
    const RatedArticle& a = record[static_cast<size_t>(i)];
    if (a.relevance < 0) continue;
    (a.rating > 0 ? relAt : irrAt)[static_cast<size_t>(a.relevance)] += 1;
  }
  int relAbove = 0, irrAbove = 0;
  for (int t = 100; t >= 0; --t) {
    relAbove += relAt[static_cast<size_t>(t)];
    irrAbove += irrAt[static_cast<size_t>(t)];
    s.shown[static_cast<size_t>(t)] = {relAbove, irrAbove};
  }

  if (allRelevant < kMinRatingsOfEachKind || allIrrelevant < kMinRatingsOfEachKind) {
    s.neededRelevant = std::max(0, kMinRatingsOfEachKind - allRelevant);
    s.neededIrrelevant = std::max(0, kMinRatingsOfEachKind - allIrrelevant);
    return s;
  }

  // F1 = 2 TP / (2 TP + FP + FN) = 2 TP / (TP + FP + R), compared exactly as fractions.
  int best = -1;
  auto better = [&](int t, int than) {
    const auto& a = s.shown[static_cast<size_t>(t)];
    const auto& b = s.shown[static_cast<size_t>(than)];
    const int64_t lhs = int64_t{a.relevant} * (b.relevant + b.irrelevant + rel);
    const int64_t rhs = int64_t{b.relevant} * (a.relevant + a.irrelevant + rel);
    return lhs > rhs;
  };
  // From the top, so that an equal F1 further down does not win.
  for (int t = 100; t >= 0; --t)
    if (best < 0 || better(t, best)) best = t;
  if (s.shown[static_cast<size_t>(best)].relevant == 0) {
    // No threshold shows a single relevant article: the lowest shows the most.
    s.suggested = 0;
    return s;
  }
  int low = best, high = best;
  while (low > 0 && s.shown[static_cast<size_t>(low - 1)] == s.shown[static_cast<size_t>(best)]) --low;
  while (high < 100 && s.shown[static_cast<size_t>(high + 1)] == s.shown[static_cast<size_t>(best)]) ++high;
  s.suggested = (low + high) / 2;
  return s;
}

namespace {

std::string More(int n, const char* kind, bool first) {
  return std::to_string(n) + " more" + (first ? (n == 1 ? " article" : " articles") : "") + " rated " + kind;
}

}  // namespace

std::string SuggestionText(const ThresholdSuggestion& s, int current) {
  if (!s.suggested) {
    std::string need;
    if (s.neededRelevant > 0) need = More(s.neededRelevant, "relevant", true);
    if (s.neededIrrelevant > 0)
      need += need.empty() ? More(s.neededIrrelevant, "irrelevant", true)
                           : " and " + More(s.neededIrrelevant, "irrelevant", false);
    return "No suggested threshold yet: I need " + need + " to suggest one";
  }
  const int t = *s.suggested;
  const ThresholdOutcome& at = s.shown[static_cast<size_t>(t)];
  std::string text = "Suggested: " + std::to_string(t) + " % - of your last " + std::to_string(s.rated) +
                     " rated articles, it would have shown " + std::to_string(at.relevant) + " of the " +
                     std::to_string(s.relevant) + " you rated relevant and " + std::to_string(at.irrelevant) +
                     " of the " + std::to_string(s.irrelevant) + " you rated irrelevant";
  const int c = std::clamp(current, 0, 100);
  if (c != t)
    text += "; at " + std::to_string(c) + " % it would have shown " +
            std::to_string(s.shown[static_cast<size_t>(c)].relevant) + " of " + std::to_string(s.relevant);
  return text;
}

}  // namespace zibu
