// The spider's link extraction on large real pages, scored against a 20,000-word vocabulary.
//  - searchPageForLinks on the first 1.5 MB of the Cargo book's print page and on the Rust release
//    notes (5,600 links), every description scored with GetRelevance; the same unscored.
//  - GetRelevance of the release notes' 5,300 descriptions alone: the scoring share.
//  - The peer: the same scan with the lookups done the plain way (each description compared with
//    every queued row, addresses kept in a sorted list with inserts), as a grid-backed queue does.
//  - Synthetic pages of 1,000 to 16,000 links, to show the time grows linearly with the links.
//  - Ordering a queue: the exchange order computed by groups, beside the n * n procedure itself.
// The pages are as saved, except that "https://" is read as "http://", as when the spider still
// skipped secure links: the figures stay comparable with the earlier ones.
// Run: build/bin/bench/spider_bench [--benchmark_filter=...]. Needs about 450 MB of memory (the
// relationship table of the vocabulary).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "common/ports.h"
#include "common/shortintmap.h"
#include "common/text.h"
#include "learning/engine.h"
#include "spider/crawl.h"
#include "spider/link_queue.h"
#include "spider/links.h"

namespace {

using namespace zibu;

constexpr int kVocabulary = 20000;

std::string ReadPage(const std::string& name) {
  std::ifstream in(std::string(ZIBU_TEST_DATA_DIR) + "/spider/" + name, std::ios::binary);
  std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (size_t at = 0; (at = page.find("https://", at)) != std::string::npos;) page.erase(at + 4, 1);
  return page;
}

struct World {
  SilentUserPort port;
  LearningEngine engine{port};
  std::string cargo = ReadPage("cargo_book_print.html");
  std::string releases = ReadPage("rust_releases.html");

  World() {
    engine.SetMaxWordWeight(50);
    std::mt19937 rng(7);
    // The pages' own words first, so that descriptions meet known words; then made-up ones.
    std::vector<std::string> words = engine.GetWordList(cargo + " " + releases);
    SortUnique(words);
    std::shuffle(words.begin(), words.end(), rng);
    std::uniform_int_distribution<int> letter('A', 'Z'), len(4, 12);
    auto add = [&](const std::string& w) {
      if (engine.WordWeights().Count() >= kVocabulary || engine.WordWeights().IndexOf(w) >= 0) return;
      engine.WordWeights().Add(w, static_cast<int8_t>(static_cast<int>(rng() % 61) - 10));
    };
    for (const auto& w : words) add(w);
    while (engine.WordWeights().Count() < kVocabulary) {
      std::string w;
      const int l = len(rng);
      for (int i = 0; i < l; ++i) w += static_cast<char>(letter(rng));
      if (w.back() != 'S') add(w);
    }
    engine.RelTable().Resize(kVocabulary);
    uint32_t x = 2463534242u;
    std::vector<int8_t> row(kVocabulary);
    for (int a = 0; a < kVocabulary; ++a) {
      for (int b = 0; b < kVocabulary; ++b) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        row[b] = a == b ? 0 : static_cast<int8_t>(static_cast<int>(x % 101) - 50);
      }
      engine.RelTable().SetRow(a, row.data(), kVocabulary);
    }
  }
};

World& TheWorld() {
  static World world;
  return world;
}

class Filters : public SpiderView {
 public:
  int ShowRelevance() const override { return 20; }
  bool SearchOffsiteLinks() const override { return true; }
  bool SearchHigherLinks() const override { return true; }
  void PausedWait() override {}
};

class NoFetch : public PageFetcher {
 public:
  std::string Fetch(const std::string&) override { return {}; }
};

size_t CountAnchors(const std::string& page) {
  const std::string upper = UpperCase(page);
  size_t n = 0;
  for (size_t at = 0; (at = upper.find(kAnchorStart, at)) != std::string::npos; ++at) ++n;
  return n;
}

// One page scan into a fresh queue, as the crawl does for a downloaded page.
void Scan(benchmark::State& state, const std::string& page, bool scored) {
  World& w = TheWorld();
  SilentUserPort port;
  Filters view;
  NoFetch fetcher;
  int queued = 0;
  long positive = 0;
  for (auto _ : state) {
    TSpiderCrawl spider(port, view, fetcher,
                        [&](std::string_view text) { return scored ? w.engine.GetRelevance(text) : 0; });
    spider.setCurrentPage("http://doc.rust-lang.org/cargo/print.html");
    spider.knownUrls().Add("http://doc.rust-lang.org/cargo/print.html");
    spider.searchPageForLinks(page);
    queued = spider.links().Count();
    positive = std::count_if(spider.links().Rows().begin(), spider.links().Rows().end(),
                             [](const LinkRow& r) { return r.relevance > 0; });
  }
  state.counters["page_MB"] = static_cast<double>(page.size()) / 1e6;
  state.counters["anchors"] = static_cast<double>(CountAnchors(page));
  state.counters["queued"] = queued;
  state.counters["scored_above_0"] = static_cast<double>(positive);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(page.size()));
}

void BM_SearchPageForLinks_Cargo1_5MB_Scored(benchmark::State& state) {
  Scan(state, TheWorld().cargo, true);
}
BENCHMARK(BM_SearchPageForLinks_Cargo1_5MB_Scored)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SearchPageForLinks_Cargo1_5MB_Unscored(benchmark::State& state) {
  Scan(state, TheWorld().cargo, false);
}
BENCHMARK(BM_SearchPageForLinks_Cargo1_5MB_Unscored)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SearchPageForLinks_Releases_Scored(benchmark::State& state) {
  Scan(state, TheWorld().releases, true);
}
BENCHMARK(BM_SearchPageForLinks_Releases_Scored)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SearchPageForLinks_Releases_Unscored(benchmark::State& state) {
  Scan(state, TheWorld().releases, false);
}
BENCHMARK(BM_SearchPageForLinks_Releases_Unscored)->Unit(benchmark::kMillisecond)->UseRealTime();

// The scoring share of the scored scan: GetRelevance of the queued descriptions alone.
void BM_GetRelevance_ReleasesDescriptions(benchmark::State& state) {
  World& w = TheWorld();
  SilentUserPort port;
  Filters view;
  NoFetch fetcher;
  TSpiderCrawl spider(port, view, fetcher, [](std::string_view) { return 0; });
  spider.setCurrentPage("http://doc.rust-lang.org/cargo/print.html");
  spider.searchPageForLinks(w.releases);
  long sum = 0;
  for (auto _ : state)
    for (const auto& row : spider.links().Rows()) sum += w.engine.GetRelevance(row.description);
  benchmark::DoNotOptimize(sum);
  state.counters["descriptions"] = spider.links().Count();
}
BENCHMARK(BM_GetRelevance_ReleasesDescriptions)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- the peer: the same scan with plain lookups --------------------------------------------

struct PlainQueue {
  std::vector<LinkRow> rows;
  std::vector<std::string> known;  // sorted without regard to case, as a sorted string list

  bool DescriptionKnown(const std::string& d) const {
    for (const auto& r : rows)
      if (r.description == d) return true;
    return false;
  }
  bool Known(const std::string& url) const { return InSortedList(url, known); }
  void AddKnown(const std::string& url) {
    auto at = std::lower_bound(known.begin(), known.end(), url,
                               [](const std::string& a, const std::string& b) { return LessNoCase(a, b); });
    if (at == known.end() || !SameTextNoCase(*at, url)) known.insert(at, url);
  }
};

int PlainScan(const std::string& downloaded, const std::string& current) {
  PlainQueue queue;
  queue.AddKnown(current);
  const std::string page = CollapseSpaces(downloaded);
  const std::string upper = UpperCase(page);
  size_t from = 0;
  for (;;) {
    const size_t s = upper.find(kAnchorStart, from);
    if (s == std::string::npos) break;
    from = s + 1;
    const size_t q = upper.find('"', s + kAnchorStart.size() + 1);
    if (q == std::string::npos) break;
    const size_t g = upper.find('>', q);
    if (g == std::string::npos) break;
    const size_t e = upper.find("</A>", g);
    if (e == std::string::npos) break;
    std::string address;
    for (size_t k = s + kAnchorStart.size(); k < q; ++k)
      if (page[k] != '"') address.push_back(page[k]);
    if (LinkAddressSkipped(address)) continue;
    address = AbsoluteLinkAddress(address, current);
    const std::string anchor = HtmlToText(std::string_view(page).substr(g + 1, e - g - 1));
    std::string description = DescribeLink(anchor, page, s, e + 4);
    if (queue.Known(address) || queue.DescriptionKnown(description)) continue;
    queue.AddKnown(address);
    queue.rows.push_back({address, description, 0});
  }
  return static_cast<int>(queue.rows.size());
}

void BM_PlainLookups_Releases_Unscored(benchmark::State& state) {
  const std::string& page = TheWorld().releases;
  int queued = 0;
  for (auto _ : state) queued = PlainScan(page, "http://doc.rust-lang.org/cargo/print.html");
  state.counters["queued"] = queued;
}
BENCHMARK(BM_PlainLookups_Releases_Unscored)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- growth with the number of links --------------------------------------------------------

std::string SyntheticPage(int links) {
  std::mt19937 rng(links);
  const auto& w = TheWorld().engine.WordWeights();
  std::ostringstream out;
  out << "<html><body>";
  for (int i = 0; i < links; ++i) {
    auto word = [&] { return w.KeyAt(static_cast<int>(rng() % w.Count())); };
    out << "<p>" << word() << " " << word() << " " << word() << " <a href=\"/story/" << i << ".html\">"
        << word() << " " << word() << " " << word() << "</a> " << word() << " " << word() << ".</p>\n";
  }
  out << "</body></html>";
  return out.str();
}

void BM_SearchPageForLinks_Synthetic_Scored(benchmark::State& state) {
  const std::string page = SyntheticPage(static_cast<int>(state.range(0)));
  Scan(state, page, true);
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_SearchPageForLinks_Synthetic_Scored)
    ->RangeMultiplier(2)
    ->Range(1000, 16000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Complexity(benchmark::oN);

// Hostile pages: N anchors that are never closed, then one "</a>" at the very end, so every
// anchor's text would run to that distant close. Each anchor has its own words, so no
// description repeats. Unscored (relevance 0), so only the extraction is timed.
std::string SharedClosePage(int links) {
  std::ostringstream out;
  out << "<html><body>";
  for (int i = 0; i < links; ++i)
    out << "<p>Item " << i << " of the list <a href=\"/item/" << i << ".html\">story number " << i
        << " with a few more words</p>\n";
  out << "</a></body></html>";
  return out.str();
}

// The same number of ordinary anchors, each closed, for comparison.
std::string OrdinaryPage(int links) {
  std::ostringstream out;
  out << "<html><body>";
  for (int i = 0; i < links; ++i)
    out << "<p>Item " << i << " of the list <a href=\"/item/" << i << ".html\">story number " << i
        << "</a> with a few more words</p>\n";
  out << "</body></html>";
  return out.str();
}

void ScanUnscored(benchmark::State& state, const std::string& page) {
  SilentUserPort port;
  Filters view;
  NoFetch fetcher;
  size_t descriptionBytes = 0;
  int queued = 0;
  for (auto _ : state) {
    TSpiderCrawl spider(port, view, fetcher, [](std::string_view) { return 0; });
    spider.setCurrentPage("http://site.example/list.html");
    spider.searchPageForLinks(page);
    queued = spider.links().Count();
    descriptionBytes = 0;
    for (const auto& row : spider.links().Rows()) descriptionBytes += row.description.size();
  }
  state.counters["queued"] = queued;
  state.counters["description_MB"] = static_cast<double>(descriptionBytes) / 1e6;
  state.SetComplexityN(state.range(0));
}

// The two pages side by side: the same doubling sizes, so their growth can be read off together.
void DoublingAnchorCounts(benchmark::internal::Benchmark* b) {
  for (int n : {1000, 2000, 4000, 8000}) b->Arg(n);
  b->Unit(benchmark::kMillisecond)->UseRealTime()->Complexity(benchmark::oN);
}

void BM_SearchPageForLinks_SharedDistantClose(benchmark::State& state) {
  ScanUnscored(state, SharedClosePage(static_cast<int>(state.range(0))));
}
BENCHMARK(BM_SearchPageForLinks_SharedDistantClose)->Apply(DoublingAnchorCounts);

void BM_SearchPageForLinks_OrdinaryUnscored(benchmark::State& state) {
  ScanUnscored(state, OrdinaryPage(static_cast<int>(state.range(0))));
}
BENCHMARK(BM_SearchPageForLinks_OrdinaryUnscored)->Apply(DoublingAnchorCounts);

// ---- ordering the queue ---------------------------------------------------------------------

std::vector<int> Relevances(int n) {
  std::mt19937 rng(n);
  std::vector<int> keys(static_cast<size_t>(n));
  for (int& k : keys) k = static_cast<int>(rng() % 201) - 100;
  return keys;
}

void BM_ExchangeSortOrder(benchmark::State& state) {
  const auto keys = Relevances(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(ExchangeSortOrder(keys));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ExchangeSortOrder)->Arg(2000)->Arg(8000)->Arg(32000)->Unit(benchmark::kMillisecond);

// The peer: the exchange procedure itself, n * n comparisons.
void BM_ExchangeProcedure(benchmark::State& state) {
  const auto keys = Relevances(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    std::vector<size_t> rows(keys.size());
    for (size_t k = 0; k < rows.size(); ++k) rows[k] = k;
    for (size_t i = 0; i < rows.size(); ++i)
      for (size_t j = 0; j < rows.size(); ++j)
        if (keys[rows[i]] > keys[rows[j]]) std::swap(rows[i], rows[j]);
    benchmark::DoNotOptimize(rows.data());
  }
}
BENCHMARK(BM_ExchangeProcedure)->Arg(2000)->Arg(8000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
