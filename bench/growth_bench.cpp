// Work that must grow no faster than its input: each family doubles its input from one size to
// the next, and the closing lines give time(2n) / time(n) for every step (about 2 is linear,
// about 4 quadratic).
//  - Page-monitor matching: a page of n distinct lines that all match the window's rule, as a
//    long list page gives; every line is new to the repeat memory.
//  - Feed triage: n distinct articles of one scan that all match a keyword rule, so each one
//    meets the duplicate check against everything taken before it.
// Run: build/bin/bench/growth_bench [--benchmark_filter=...].
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "common/compmap.h"
#include "common/ports.h"
#include "feeds/triage.h"
#include "monitor/page_matcher.h"

namespace {

using namespace zibu;

// n, 2n, 4n ... up to last.
void Doublings(benchmark::internal::Benchmark* b, int first, int last) {
  for (int n = first; n <= last; n *= 2) b->Arg(n);
}

class FixedClock : public Clock {
 public:
  int64_t NowMs() const override { return 1796806800000LL; }
  uint32_t IdleMs() const override { return 0; }
};

std::string PageOfMatchingLines(int n) {
  std::string page;
  for (int i = 0; i < n; ++i)
    page += "Storm warning " + std::to_string(i) + " for the coast, issued at " + std::to_string(i % 24) +
            ":00\r\n";
  return page;
}

void BM_PageMatcher_DistinctMatchingLines(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::string page = PageOfMatchingLines(n);
  const std::vector<std::string> rules = {"1:storm,warning"};
  const MonitorLogFn log = [](const std::string&, bool) {};
  FixedClock clock;
  size_t found = 0;
  for (auto _ : state) {
    TPageMatcher matcher(clock);  // a fresh repeat memory: every line is new
    found = matcher.findMatches(rules, page, log).size();
  }
  if (found != static_cast<size_t>(n)) state.SkipWithError("not every line matched");
  state.counters["lines"] = n;
  state.SetComplexityN(n);
}
BENCHMARK(BM_PageMatcher_DistinctMatchingLines)
    ->Apply([](benchmark::internal::Benchmark* b) { Doublings(b, 10000, 160000); })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

class NoLearner : public RelevanceLearner {
 public:
  int GetRelevance(std::string_view) override { return 0; }
  void LearnFromRating(int, std::string_view) override {}
};

std::vector<TItem> Articles(int n) {
  std::vector<TItem> items(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    items[static_cast<size_t>(i)].Title = "Storm news number " + std::to_string(i);
    items[static_cast<size_t>(i)].Description = "<p>The <b>storm</b> of day " + std::to_string(i) + ".</p>";
    items[static_cast<size_t>(i)].Link = "http://news.example/story/" + std::to_string(i) + ".html";
  }
  return items;
}

void BM_FeedTriage_DistinctMatchingItems(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<TItem> articles = Articles(n);
  TFeed feed;
  feed.url = "http://news.example/feed.xml";
  feed.keywords = {"1:storm"};
  SilentUserPort port;
  NoLearner learner;
  FixedClock clock;
  size_t taken = 0;
  for (auto _ : state) {
    TCompMap shown;
    Items results;
    TResultKeys keys;
    const TriageContext context{shown, learner, port, clock, 60 * 60000LL, 50, false, &keys};
    TItem working;
    for (const TItem& a : articles) {
      working.Title = a.Title;
      working.Description = a.Description;
      working.Link = a.Link;
      TriageItem(context, feed, working, results);
    }
    taken = results.size();
  }
  if (taken != static_cast<size_t>(n)) state.SkipWithError("not every article was taken");
  state.counters["items"] = n;
  state.SetComplexityN(n);
}
BENCHMARK(BM_FeedTriage_DistinctMatchingItems)
    ->Apply([](benchmark::internal::Benchmark* b) { Doublings(b, 10000, 160000); })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// After the usual report: for each family, the ratio of the time at 2n to the time at n.
class DoublingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.error_occurred || r.run_type != Run::RT_Iteration) continue;
      const std::string& name = r.run_name.function_name;
      const std::string& arg = r.run_name.args;
      realMs_[name][std::stol(arg.empty() ? "0" : arg)] = r.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    for (const auto& [name, bySize] : realMs_) {
      std::printf("%s: time(2n)/time(n)", name.c_str());
      for (auto it = bySize.begin(); it != bySize.end(); ++it) {
        auto next = std::next(it);
        if (next == bySize.end() || next->first != 2 * it->first || it->second <= 0) continue;
        std::printf("  %ld->%ld: %.2f", it->first, next->first, next->second / it->second);
      }
      std::printf("\n");
    }
  }

 private:
  std::map<std::string, std::map<long, double>> realMs_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  DoublingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
