// Learning engine at full size.
// A 20,000-word vocabulary with every cell of its 400 MB relationship table set (all rows dense):
//  - GetRelevance of a page of 2,000 distinct known words, waiting for the scan workers with short
//    timed waits, beside the same call waiting the classic way (sleep 1000 ms, then look).
//  - SaveData (flushed, the default, and not flushed) and LoadData of that table beside `cp` (and
//    `cp` + `sync`) of the saved table file on the same disk, interleaved round by round; and a
//    start-up's load in a new process beside `cp`.
//  - The table's memory against n * n (table_bytes_per_cell, rss_bytes_per_cell).
//  - process_cpu_ms: the CPU time of all threads per call, which a busy machine does not inflate.
//  - the scan of that page on this table beside the same scan on one plain square block of cells
//    (the layout the table had before rows could be sparse), on the same threads.
// Tables that follow what was rated (mostly sparse rows):
//  - 100,000 words and ten million pairs built by ratings: memory, and GetRelevance of a page of
//    2,000 distinct known words.
//  - a 20,000-word reltable.dat with 1 % of its cells set, loaded by a new process: its peak
//    memory and time.
//  - a 40,000-word table (a 1.6 GB file): SaveData and LoadData beside cp of the file.
//  - a simulated year: 7,300 ratings of text from the saved pages, a periodic save every 30
//    ratings; memory, file size, bytes written, and the last save's time, beside what a table
//    of plain square rows and a save that rewrites every file would take.
// Run: build/bin/bench/learning_bench [--benchmark_filter=...]. Needs about 2 GB of memory and
// 5 GB of free disk space in the temporary folder; the files are deleted at the end.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/compmap.h"
#include "common/ports.h"
#include "common/shortintmap.h"
#include "common/text.h"
#include "learning/engine.h"
#include "learning/rel_scan_thread.h"
#include "learning/reltable_file.h"

namespace {

using namespace zibu;
namespace fs = std::filesystem;

constexpr int kVocabulary = 20000;
constexpr int kPageWords = 2000;

long RssKb() {
  std::ifstream in("/proc/self/statm");
  long pages = 0, resident = 0;
  in >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

struct World {
  SilentUserPort port;
  LearningEngine engine{port};
  std::string page;
  std::string folder;
  double tableBytesPerCell = 0;
  double rssBytesPerCell = 0;

  World() {
    engine.SetMaxWordWeight(50);
    // The engine writes only a folder it has loaded: an empty one, before the table is made.
    folder = (fs::temp_directory_path() / ("zibu-learning-bench-" + std::to_string(getpid()))).string() + "/";
    engine.SetDataFolder(folder + "data");
    engine.SetDurableSave(false);
    engine.LoadData();
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> letter('A', 'Z'), len(4, 12);
    std::vector<std::string> vocab;
    while (static_cast<int>(vocab.size()) < kVocabulary) {
      std::string w;
      const int l = len(rng);
      for (int i = 0; i < l; ++i) w += static_cast<char>(letter(rng));
      // A final single S would be folded away by the word list.
      if (w.back() == 'S' || engine.WordWeights().IndexOf(w) >= 0) continue;
      // Mostly liked words, so that the page's simple relevance is positive and the
      // relationship scan runs.
      engine.WordWeights().Add(w, static_cast<int8_t>(static_cast<int>(rng() % 61) - 10));
      vocab.push_back(w);
    }
    const long before = RssKb();
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
    const double cells = static_cast<double>(kVocabulary) * kVocabulary;
    rssBytesPerCell = (RssKb() - before) * 1024.0 / cells;
    tableBytesPerCell = static_cast<double>(engine.RelTable().MemoryBytes()) / cells;

    std::shuffle(vocab.begin(), vocab.end(), rng);
    for (int i = 0; i < kPageWords; ++i) page += vocab[i] + (i % 12 == 11 ? ".\n" : " ");
  }
  ~World() {
    std::error_code ec;
    fs::remove_all(folder, ec);
  }
};

// CPU time of the whole process (all threads), in milliseconds.
double ProcessCpuMs() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1e3 + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e3;
}

World& TheWorld() {
  static World world;
  return world;
}

void CheckPage(benchmark::State& state, LearningEngine& e, const std::string& page) {
  auto words = e.GetWordList(page);
  SortUnique(words);
  if (static_cast<int>(words.size()) != kPageWords || e.GetSimpleRelevance(words) <= 0)
    state.SkipWithError("the page is not 2,000 known words with a positive simple relevance");
}

void BM_GetRelevance_2000of20000(benchmark::State& state) {
  World& w = TheWorld();
  w.engine.SetScanWait(ScanWait::kNotified);
  CheckPage(state, w.engine, w.page);
  int r = 0;
  const double cpu0 = ProcessCpuMs();
  for (auto _ : state) benchmark::DoNotOptimize(r = w.engine.GetRelevance(w.page));
  state.counters["process_cpu_ms"] = (ProcessCpuMs() - cpu0) / static_cast<double>(state.iterations());
  state.counters["relevance"] = r;
  state.counters["threads"] = static_cast<double>(ScanThreadRanges(kPageWords, ProcessorCount()).size());
  state.counters["table_bytes_per_cell"] = w.tableBytesPerCell;
  state.counters["rss_bytes_per_cell"] = w.rssBytesPerCell;
}
BENCHMARK(BM_GetRelevance_2000of20000)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void BM_GetRelevance_2000of20000_Sleep1000(benchmark::State& state) {
  World& w = TheWorld();
  w.engine.SetScanWait(ScanWait::kSleepPoll, 1000);
  int r = 0;
  for (auto _ : state) benchmark::DoNotOptimize(r = w.engine.GetRelevance(w.page));
  w.engine.SetScanWait(ScanWait::kNotified);
  state.counters["relevance"] = r;
}
BENCHMARK(BM_GetRelevance_2000of20000_Sleep1000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_ScanSingleThread_2000of20000(benchmark::State& state) {
  World& w = TheWorld();
  auto words = w.engine.GetWordList(w.page);
  SortUnique(words);
  const double cpu0 = ProcessCpuMs();
  for (auto _ : state) benchmark::DoNotOptimize(w.engine.ScanRelTableSingleThread(words));
  state.counters["process_cpu_ms"] = (ProcessCpuMs() - cpu0) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_ScanSingleThread_2000of20000)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- files -----------------------------------------------------------------------------------

bool EnoughDisk(benchmark::State& state, const std::string& folder) {
  struct statvfs st {};
  fs::create_directories(folder);
  if (statvfs(folder.c_str(), &st) != 0) return true;
  const double freeBytes = static_cast<double>(st.f_bavail) * st.f_frsize;
  state.counters["disk_free_GB"] = freeBytes / 1e9;
  if (freeBytes < 3.0 * kVocabulary * kVocabulary) {
    state.SkipWithError("not enough free disk space for three 400 MB files");
    return false;
  }
  return true;
}

// Save, load and cp side by side, interleaved round by round so that the load of a shared machine falls
// on all of them alike; the counters are the medians of the rounds, in milliseconds. The first
// load of the run (into memory the process never touched) is reported on its own.
double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Each measurement starts with no dirty pages waiting, so that none pays for the writeback of
// the one before.
double TimeMs(const std::function<void()>& f) {
  ::sync();
  const auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

void BM_SaveLoadVsCp_20000Words(benchmark::State& state) {
  World& w = TheWorld();
  if (!EnoughDisk(state, w.folder)) return;
  w.engine.SetDataFolder(w.folder + "data");
  w.engine.SetBackupDataFiles(true);
  w.engine.SetDurableSave(false);
  SilentUserPort port;
  LearningEngine loader(port);
  loader.SetMaxWordWeight(50);
  loader.SetDataFolder(w.folder + "data");
  std::vector<double> save, load, cp, saveDurable, cpSync;
  double firstLoad = -1, freshRead = -1;
  const std::string table = w.folder + "data/reltable.dat";
  const std::string copy = w.folder + "copy.dat";
  const std::string cpCommand = "cp '" + table + "' '" + copy + "'";
  const std::string cpSyncCommand = cpCommand + " && sync '" + copy + "'";
  for (auto _ : state) {
    for (int round = 0; round < 5; ++round) {
      // One cell changes each time, so that every save has the table to write.
      w.engine.RelTable().Set(0, 1, static_cast<int8_t>(round % 2 ? 3 : -3));
      save.push_back(TimeMs([&] { w.engine.SaveData(); }));
      const double l = TimeMs([&] { loader.LoadData(); });
      if (firstLoad < 0) {
        firstLoad = l;
        // The floor for any first load: the bare read of the file into memory the process has
        // not touched yet (on a virtual machine first touches of pages are costly).
        freshRead = TimeMs([&] {
          std::unique_ptr<char[]> memory(new char[fs::file_size(table)]);
          std::ifstream in(table, std::ios::binary);
          in.read(memory.get(), static_cast<std::streamsize>(fs::file_size(table)));
          benchmark::DoNotOptimize(memory[0]);
        });
      } else {
        load.push_back(l);
      }
      cp.push_back(TimeMs([&] {
        fs::remove(copy);
        if (std::system(cpCommand.c_str()) != 0) state.SkipWithError("cp failed");
      }));
      w.engine.SetDurableSave(true);
      w.engine.RelTable().Set(0, 1, static_cast<int8_t>(round % 2 ? 4 : -4));
      saveDurable.push_back(TimeMs([&] { w.engine.SaveData(); }));
      w.engine.SetDurableSave(false);
      cpSync.push_back(TimeMs([&] {
        fs::remove(copy);
        if (std::system(cpSyncCommand.c_str()) != 0) state.SkipWithError("cp failed");
      }));
    }
  }
  // Start-up as the user meets it: a new process (this program started again with
  // --time-load) loads the saved data into memory it never touched and reports how long that
  // took, beside cp of the table file. Before each, the copy of the round before is deleted
  // and the machine pauses: on a virtual machine that hands free memory back to its host, which
  // of the two finds memory still backed would otherwise decide the ratio. The order alternates.
  std::vector<double> freshProcess, cpBeside;
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  const std::string loadCommand = "'" + self + "' --time-load '" + w.folder + "data'";
  auto pause = [&] {
    fs::remove(copy);
    std::this_thread::sleep_for(std::chrono::seconds(2));
  };
  auto timeLoad = [&] {
    pause();
    std::unique_ptr<FILE, int (*)(FILE*)> child(popen(loadCommand.c_str(), "r"), pclose);
    double ms = -1;
    if (!child || std::fscanf(child.get(), "%lf", &ms) != 1 || ms < 0)
      state.SkipWithError("--time-load failed");
    freshProcess.push_back(ms);
  };
  auto timeCp = [&] {
    pause();
    cpBeside.push_back(TimeMs([&] {
      if (std::system(cpCommand.c_str()) != 0) state.SkipWithError("cp failed");
    }));
  };
  for (int round = 0; round < 7; ++round) {
    if (round % 2 == 0) {
      timeLoad();
      timeCp();
    } else {
      timeCp();
      timeLoad();
    }
  }
  state.counters["fresh_process_load_ms"] = Median(freshProcess);
  state.counters["fresh_process_load_min_ms"] = *std::min_element(freshProcess.begin(), freshProcess.end());
  state.counters["fresh_process_load_max_ms"] = *std::max_element(freshProcess.begin(), freshProcess.end());
  state.counters["cp_beside_fresh_ms"] = Median(cpBeside);
  state.counters["cp_beside_fresh_min_ms"] = *std::min_element(cpBeside.begin(), cpBeside.end());
  state.counters["cp_beside_fresh_max_ms"] = *std::max_element(cpBeside.begin(), cpBeside.end());
  state.counters["fresh_process_load_per_cp"] = Median(freshProcess) / Median(cpBeside);
  if (!loader.RelTable().IsSquare(kVocabulary) ||
      loader.RelTable().Get(1, 0) != w.engine.RelTable().Get(1, 0))
    state.SkipWithError("the table did not load");
  fs::remove(copy);
  state.counters["save_ms"] = Median(save);
  state.counters["load_ms"] = Median(load);
  state.counters["first_load_ms"] = firstLoad;
  state.counters["first_read_into_fresh_memory_ms"] = freshRead;
  state.counters["cp_ms"] = Median(cp);
  state.counters["save_durable_ms"] = Median(saveDurable);
  state.counters["cp_sync_ms"] = Median(cpSync);
  state.counters["save_per_cp"] = Median(save) / Median(cp);
  state.counters["load_per_cp"] = Median(load) / Median(cp);
  state.counters["durable_save_per_cp_sync"] = Median(saveDurable) / Median(cpSync);
  state.counters["file_MB"] = static_cast<double>(fs::file_size(table)) / 1e6;
}
BENCHMARK(BM_SaveLoadVsCp_20000Words)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// ---- explanations and the learned-words list ----------------------------------------------

// The explanation of the 2,000-word page beside its score, interleaved call by call.
void BM_Explain_2000of20000_BesideScore(benchmark::State& state) {
  World& w = TheWorld();
  w.engine.SetScanWait(ScanWait::kNotified);
  CheckPage(state, w.engine, w.page);
  std::vector<double> score, explain;
  int overall = 0;
  RelevanceExplanation x;
  for (auto _ : state)
    for (int round = 0; round < 40; ++round) {
      const auto t0 = std::chrono::steady_clock::now();
      overall = w.engine.GetRelevance(w.page);
      const auto t1 = std::chrono::steady_clock::now();
      x = w.engine.ExplainRelevance(w.page);
      const auto t2 = std::chrono::steady_clock::now();
      score.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
      explain.push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
    }
  if (x.overall != overall) state.SkipWithError("the explanation's score differs");
  state.counters["score_ms"] = Median(score);
  state.counters["explain_ms"] = Median(explain);
  state.counters["explain_per_score"] = Median(explain) / Median(score);
  state.counters["pairs_shown"] = static_cast<double>(x.positivePairs.size() + x.negativePairs.size());
}
BENCHMARK(BM_Explain_2000of20000_BesideScore)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// What the learned-words window does when it opens: the list of 20,000 words, sorted by weight,
// and a search.
void BM_LearnedWordsList_20000(benchmark::State& state) {
  World& w = TheWorld();
  std::vector<double> open, search;
  size_t found = 0;
  for (auto _ : state)
    for (int round = 0; round < 20; ++round) {
      open.push_back(TimeMs([&] {
        auto words = w.engine.LearnedWords();
        SortLearnedWords(words, LearnedWordOrder::kByWeightDescending);
        benchmark::DoNotOptimize(words.data());
      }));
      const auto words = w.engine.LearnedWords();
      const auto t0 = std::chrono::steady_clock::now();
      found = FilterLearnedWords(words, "ab").size();
      search.push_back(
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
  state.counters["snapshot_and_sort_ms"] = Median(open);
  state.counters["search_ms"] = Median(search);
  state.counters["found"] = static_cast<double>(found);
}
BENCHMARK(BM_LearnedWordsList_20000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// ---- the table's layout against one plain square block -----------------------------------

// The scan of a range of rows on one n-by-n block of cells, as it was done before rows could be
// sparse: rows from the last to the first, each read in column order at the columns (bits) of
// the later words.
int64_t SquareRangeSum(const std::vector<int8_t>& cells, int n, const std::vector<int>& positions,
                       const std::array<int32_t, 256>& scaled, int first, int last) {
  std::vector<uint64_t> later(static_cast<size_t>(n + 63) / 64, 0);
  for (size_t j = static_cast<size_t>(last) + 1; j < positions.size(); ++j)
    if (positions[j] >= 0) later[positions[j] >> 6] |= uint64_t{1} << (positions[j] & 63);
  int64_t sum = 0;
  for (int i = last; i >= first; --i) {
    const int a = positions[i];
    if (a < 0) continue;
    const int8_t* row = cells.data() + static_cast<size_t>(a) * static_cast<size_t>(n);
    for (size_t w = 0; w < later.size(); ++w)
      for (uint64_t bits = later[w]; bits != 0; bits &= bits - 1)
        sum += scaled[static_cast<uint8_t>(row[w * 64 + static_cast<size_t>(std::countr_zero(bits))])];
    later[a >> 6] |= uint64_t{1} << (a & 63);
  }
  return sum;
}

// Both layouts summed on the same threads (one per range of the engine's split), best of rounds.
void BM_ScanLayout_2000of20000_TableBesideSquareBlock(benchmark::State& state) {
  World& w = TheWorld();
  auto words = w.engine.GetWordList(w.page);
  SortUnique(words);
  std::vector<int> positions;
  for (const auto& word : words) positions.push_back(w.engine.WordWeights().IndexOf(word));
  std::vector<int8_t> square(static_cast<size_t>(kVocabulary) * kVocabulary);
  for (int a = 0; a < kVocabulary; ++a)
    w.engine.RelTable().CopyCells(a, 0, kVocabulary, square.data() + static_cast<size_t>(a) * kVocabulary);
  std::array<int32_t, 256> scaled{};
  for (int v = -128; v <= 127; ++v) scaled[static_cast<uint8_t>(static_cast<int8_t>(v))] = (v * 100 / 50) * 2;
  const RelScanContext context(w.engine.RelTable(), positions, 50);
  const auto ranges = ScanThreadRanges(static_cast<int>(words.size()), ProcessorCount());
  auto run = [&](const std::function<int64_t(int, int)>& part) {
    std::vector<std::future<int64_t>> parts;
    for (auto [first, last] : ranges) parts.push_back(std::async(std::launch::async, part, first, last));
    int64_t sum = 0;
    for (auto& f : parts) sum += f.get();
    return sum;
  };
  std::vector<double> table, block;
  int64_t tableSum = 0, blockSum = 0;
  for (auto _ : state) {
    for (int round = 0; round < 15; ++round) {
      const auto t0 = std::chrono::steady_clock::now();
      tableSum = run([&](int first, int last) { return context.RangeSum(first, last); });
      const auto t1 = std::chrono::steady_clock::now();
      blockSum = run([&](int first, int last) {
        return SquareRangeSum(square, kVocabulary, positions, scaled, first, last);
      });
      const auto t2 = std::chrono::steady_clock::now();
      table.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
      block.push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
    }
  }
  if (tableSum != blockSum) state.SkipWithError("the two layouts gave different sums");
  state.counters["table_ms"] = *std::min_element(table.begin(), table.end());
  state.counters["square_block_ms"] = *std::min_element(block.begin(), block.end());
  state.counters["table_per_square_block"] =
      *std::min_element(table.begin(), table.end()) / *std::min_element(block.begin(), block.end());
  state.counters["table_MB"] = static_cast<double>(w.engine.RelTable().MemoryBytes()) / 1e6;
}
BENCHMARK(BM_ScanLayout_2000of20000_TableBesideSquareBlock)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

// ---- tables that follow what was rated -----------------------------------------------------

// Random words of 4 to 12 letters that the word list keeps as they are.
std::vector<std::string> RandomWords(int count, std::mt19937& rng) {
  std::uniform_int_distribution<int> letter('A', 'Z'), len(4, 12);
  std::vector<std::string> words;
  TShortIntMap seen;
  while (static_cast<int>(words.size()) < count) {
    std::string w;
    const int l = len(rng);
    for (int i = 0; i < l; ++i) w += static_cast<char>(letter(rng));
    if (w.back() == 'S' || seen.IndexOf(w) >= 0) continue;
    seen.Add(w, 0);
    words.push_back(w);
  }
  return words;
}

long PeakRssKb() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

// 100,000 words learned from ratings until ten million pairs (twenty million cells) are set.
// Texts of 150 words drawn with a skew (a word's chance falls with its rank), so that some
// words occur in most texts, as in real ones.
void BM_Table_100000Words_10MillionPairs(benchmark::State& state) {
  constexpr int kWords = 100000;
  std::mt19937 rng(100);
  const auto vocab = RandomWords(kWords, rng);
  SilentUserPort port;
  LearningEngine e(port);
  e.SetMaxWordWeight(50);
  // Every word known first, so that the page below is all known words.
  const long rss0 = RssKb();
  for (const auto& w : vocab) e.WordWeights().Add(w, 10);
  e.RelTable().Resize(e.WordCount());
  std::uniform_real_distribution<double> u(0, 1);
  auto draw = [&] { return vocab[static_cast<size_t>(std::pow(u(rng), 2.5) * kWords)]; };
  int ratings = 0;
  double learnMs = 0;
  for (auto _ : state) {
    while (e.RelTable().NonZeroCells() < 20000000) {
      std::string text;
      for (int i = 0; i < 150; ++i) text += draw() + " ";
      const auto t0 = std::chrono::steady_clock::now();
      e.LearnFromRating(ratings % 4 == 0 ? -3 : 4, text);
      learnMs += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
      ++ratings;
    }
  }
  state.counters["ratings"] = ratings;
  state.counters["learn_ms_per_rating"] = learnMs / ratings;
  state.counters["pairs_M"] = static_cast<double>(e.RelTable().NonZeroCells()) / 2e6;
  state.counters["table_MB"] = static_cast<double>(e.RelTable().MemoryBytes()) / 1e6;
  state.counters["engine_rss_MB"] = static_cast<double>(RssKb() - rss0) / 1024.0;
  state.counters["process_peak_MB"] = static_cast<double>(PeakRssKb()) / 1024.0;
  // A page of 2,000 distinct known words, mostly liked so that the relationship scan runs.
  std::vector<std::string> shuffled = vocab;
  std::shuffle(shuffled.begin(), shuffled.end(), rng);
  std::string page;
  for (int i = 0; i < kPageWords; ++i) {
    page += shuffled[i] + (i % 12 == 11 ? ".\n" : " ");
    e.WordWeights().SetValueAt(e.WordWeights().IndexOf(shuffled[i]), static_cast<int8_t>(5 + i % 20));
  }
  std::vector<double> times;
  int r = 0;
  for (int k = 0; k < 30; ++k) {
    const auto t0 = std::chrono::steady_clock::now();
    r = e.GetRelevance(page);
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  }
  std::sort(times.begin(), times.end());
  state.counters["get_relevance_2000_median_ms"] = times[times.size() / 2];
  state.counters["get_relevance_2000_max_ms"] = times.back();
  state.counters["relevance"] = r;
}
BENCHMARK(BM_Table_100000Words_10MillionPairs)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// Writes a data folder of `words` words whose table has `percent` per cent of its cells set
// (symmetric pairs, values spread over the whole range), through the engine's own save.
void WriteSparseHome(const std::string& dataDir, int words, double percent, uint32_t seed) {
  SilentUserPort port;
  LearningEngine e(port);
  e.SetMaxWordWeight(50);
  e.SetDataFolder(dataDir);
  e.SetDurableSave(false);
  e.LoadData();
  std::mt19937 rng(seed);
  for (const auto& w : RandomWords(words, rng)) e.WordWeights().Add(w, static_cast<int8_t>(rng() % 101 - 50));
  e.RelTable().Resize(words);
  const int64_t pairs = static_cast<int64_t>(static_cast<double>(words) * words * percent / 200.0);
  std::vector<std::vector<std::pair<int, int8_t>>> rows(static_cast<size_t>(words));
  std::uniform_int_distribution<int> pick(0, words - 1);
  for (int64_t p = 0; p < pairs; ++p) {
    const int a = pick(rng), b = pick(rng);
    if (a == b) continue;
    const auto v = static_cast<int8_t>(static_cast<int>(rng() % 100) - 50 + (rng() % 100 < 50 ? 0 : 1));
    rows[a].push_back({b, v});
    rows[b].push_back({a, v});
  }
  std::vector<int8_t> cells(static_cast<size_t>(words));
  for (int a = 0; a < words; ++a) {
    std::fill(cells.begin(), cells.end(), 0);
    for (auto [b, v] : rows[a]) cells[b] = v;
    e.RelTable().SetRow(a, cells.data(), words);
    std::vector<std::pair<int, int8_t>>().swap(rows[a]);
  }
  e.SaveData();
}

// Runs this program as `--time-load FOLDER WORDS`: the load's milliseconds and the new process's
// peak memory in kB.
std::pair<double, double> LoadInNewProcess(benchmark::State& state, const std::string& dataDir, int words) {
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  const std::string command = "'" + self + "' --time-load '" + dataDir + "' " + std::to_string(words);
  std::unique_ptr<FILE, int (*)(FILE*)> child(popen(command.c_str(), "r"), pclose);
  double ms = -1, peakKb = -1;
  if (!child || std::fscanf(child.get(), "%lf %lf", &ms, &peakKb) != 2 || ms < 0)
    state.SkipWithError("--time-load failed");
  return {ms, peakKb};
}

void BM_Load_20000Words_OnePercent_NewProcess(benchmark::State& state) {
  const std::string folder =
      (fs::temp_directory_path() / ("zibu-learning-bench-1pc-" + std::to_string(getpid()))).string() + "/";
  if (!EnoughDisk(state, folder)) return;
  WriteSparseHome(folder + "data", 20000, 1.0, 7);
  std::vector<double> ms, peak;
  for (auto _ : state)
    for (int round = 0; round < 5; ++round) {
      auto [m, p] = LoadInNewProcess(state, folder + "data", 20000);
      ms.push_back(m);
      peak.push_back(p);
    }
  state.counters["file_MB"] = static_cast<double>(fs::file_size(folder + "data/reltable.dat")) / 1e6;
  state.counters["load_ms"] = Median(ms);
  state.counters["process_peak_MB"] = Median(peak) / 1024.0;
  fs::remove_all(folder);
}
BENCHMARK(BM_Load_20000Words_OnePercent_NewProcess)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

// A 40,000-word table (1.6 GB file, 1 % of the cells set): the engine's save (the table changed,
// so it is written whole) and load beside cp of the file, interleaved round by round.
void BM_SaveLoadVsCp_40000Words(benchmark::State& state) {
  constexpr int kWords = 40000;
  const std::string folder =
      (fs::temp_directory_path() / ("zibu-learning-bench-40k-" + std::to_string(getpid()))).string() + "/";
  struct statvfs st {};
  fs::create_directories(folder);
  if (statvfs(folder.c_str(), &st) == 0 &&
      static_cast<double>(st.f_bavail) * st.f_frsize < 3.5 * kWords * kWords) {
    state.SkipWithError("not enough free disk space for three 1.6 GB files");
    return;
  }
  WriteSparseHome(folder + "data", kWords, 1.0, 40);
  SilentUserPort port;
  LearningEngine e(port);
  e.SetMaxWordWeight(50);
  e.SetDataFolder(folder + "data");
  e.SetDurableSave(false);
  e.LoadData();
  const std::string table = folder + "data/reltable.dat";
  const std::string copy = folder + "copy.dat";
  const std::string cpCommand = "cp '" + table + "' '" + copy + "'";
  std::vector<double> save, load, cp;
  int flip = 1;
  for (auto _ : state)
    for (int round = 0; round < 5; ++round) {
      // One cell changes, so that the save has the table to write.
      flip = -flip;
      e.RelTable().Set(0, 1, static_cast<int8_t>(flip));
      save.push_back(TimeMs([&] { e.SaveData(); }));
      load.push_back(TimeMs([&] { e.LoadData(); }));
      cp.push_back(TimeMs([&] {
        fs::remove(copy);
        if (std::system(cpCommand.c_str()) != 0) state.SkipWithError("cp failed");
      }));
    }
  if (e.RelTable().Get(0, 1) != flip || !e.RelTable().IsSquare(kWords))
    state.SkipWithError("the table did not load");
  state.counters["file_MB"] = static_cast<double>(fs::file_size(table)) / 1e6;
  state.counters["save_ms"] = Median(save);
  state.counters["load_ms"] = Median(load);
  state.counters["cp_ms"] = Median(cp);
  state.counters["save_per_cp"] = Median(save) / Median(cp);
  state.counters["load_per_cp"] = Median(load) / Median(cp);
  state.counters["table_MB"] = static_cast<double>(e.RelTable().MemoryBytes()) / 1e6;
  fs::remove_all(folder);
}
BENCHMARK(BM_SaveLoadVsCp_40000Words)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// ---- a simulated year ------------------------------------------------------------------------

// The plain text of every saved page under tests/data.
std::string SavedPageText() {
  std::string text;
  for (const char* folder : {"/pages", "/spider"})
    for (const auto& f : fs::directory_iterator(std::string(ZIBU_TEST_DATA_DIR) + folder)) {
      if (f.path().extension() != ".html") continue;
      std::ifstream in(f.path(), std::ios::binary);
      text += HtmlToText(std::string(std::istreambuf_iterator<char>(in), {})) + "\n";
    }
  return text;
}

int64_t BytesWrittenSoFar() {
  std::ifstream in("/proc/self/io");
  std::string key;
  int64_t value = 0;
  while (in >> key >> value)
    if (key == "wchar:") return value;
  return -1;
}

// Twenty ratings a day for a year: each a feed article's worth of text (title and description,
// 40 to 120 words) from a random place in the saved pages, rated on the whole scale, with the
// shown-article memory growing by one link per rating and a periodic save every 30 ratings.
void BM_SimulatedYear(benchmark::State& state) {
  const std::string folder =
      (fs::temp_directory_path() / ("zibu-learning-bench-year-" + std::to_string(getpid()))).string() + "/";
  fs::create_directories(folder);
  const std::string text = SavedPageText();
  SilentUserPort port;
  LearningEngine e(port);
  e.SetMaxWordWeight(50);
  e.SetDataFolder(folder + "data");
  e.SetDurableSave(false);
  TCompMap shown;
  e.LoadData(&shown);
  std::mt19937 rng(2026);
  std::uniform_int_distribution<int> rating(-10, 10), length(40 * 7, 120 * 7);
  std::uniform_int_distribution<size_t> place(0, text.size() - 1000);
  int64_t written = 0, writtenAsBefore = 0, saves = 0;
  double lastSaveMs = 0;
  for (auto _ : state)
    for (int r = 1; r <= 7300; ++r) {
      int v = rating(rng);
      if (v == 0) v = 1;
      e.LearnFromRating(v, text.substr(place(rng), static_cast<size_t>(length(rng))));
      shown.Add("http://news.example/" + std::to_string(r), 1765000000000LL + r * 4320000LL);
      if (r % 30 != 0 && r != 7300) continue;
      const int64_t before = BytesWrittenSoFar();
      lastSaveMs = TimeMs([&] { e.SaveData(&shown); });
      written += BytesWrittenSoFar() - before;
      ++saves;
      // A save that rewrites every file writes all three whole each time.
      for (const char* f : {kShownUrlsFile, kWordWeightsFile, kRelTableFile})
        writtenAsBefore += static_cast<int64_t>(fs::file_size(folder + "data/" + f));
    }
  const int n = e.WordCount();
  // A save with nothing changed since the last one: what every ten-minute save without a rating
  // writes.
  const int64_t idle0 = BytesWrittenSoFar();
  e.SaveData(&shown);
  const int64_t idleBytes = BytesWrittenSoFar() - idle0;
  // The same cells as one plain square block, as the table held them before, and that block
  // written out as the file (what every save wrote before).
  const long rss1 = RssKb();
  std::vector<int8_t> square(static_cast<size_t>(n) * static_cast<size_t>(n));
  for (int a = 0; a < n; ++a)
    e.RelTable().CopyCells(a, 0, n, square.data() + static_cast<size_t>(a) * static_cast<size_t>(n));
  const double squareMB = static_cast<double>(RssKb() - rss1) / 1024.0;
  const double squareWriteMs = TimeMs([&] {
    std::string headers;
    std::ofstream out(folder + "square.dat", std::ios::binary | std::ios::trunc);
    AppendTaggedInt(headers, n);
    out << headers;
    for (int a = 0; a < n; ++a) {
      headers.clear();
      AppendTaggedInt(headers, n);
      out << headers;
      out.write(
          reinterpret_cast<const char*>(square.data()) + static_cast<size_t>(a) * static_cast<size_t>(n), n);
    }
  });
  // The last save had the table to write only if the last ratings changed it: time one that does.
  e.RelTable().Set(0, 1, static_cast<int8_t>(e.RelTable().Get(0, 1) == 1 ? 2 : 1));
  const double tableSaveMs = TimeMs([&] { e.SaveData(&shown); });
  state.counters["words"] = n;
  state.counters["pairs"] = static_cast<double>(e.RelTable().NonZeroCells()) / 2;
  state.counters["table_MB"] = static_cast<double>(e.RelTable().MemoryBytes()) / 1e6;
  state.counters["square_block_rss_MB"] = squareMB;
  state.counters["reltable_file_MB"] = static_cast<double>(fs::file_size(folder + "data/reltable.dat")) / 1e6;
  state.counters["saves"] = static_cast<double>(saves);
  state.counters["written_GB"] = static_cast<double>(written) / 1e9;
  state.counters["written_rewriting_every_file_GB"] = static_cast<double>(writtenAsBefore) / 1e9;
  state.counters["save_without_change_bytes"] = static_cast<double>(idleBytes);
  state.counters["last_periodic_save_ms"] = lastSaveMs;
  state.counters["save_with_table_ms"] = tableSaveMs;
  state.counters["square_block_write_ms"] = squareWriteMs;
  fs::remove_all(folder);
}
BENCHMARK(BM_SimulatedYear)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

// `--time-load DATA_FOLDER [WORDS]`: loads the learned data of that folder in this new process
// and prints how long it took, in milliseconds, and the process's peak memory in kB.
int main(int argc, char** argv) {
  if (argc >= 3 && std::string(argv[1]) == "--time-load") {
    const int words = argc >= 4 ? std::atoi(argv[3]) : kVocabulary;
    SilentUserPort port;
    LearningEngine loader(port);
    loader.SetMaxWordWeight(50);
    loader.SetDataFolder(argv[2], false);
    const auto start = std::chrono::steady_clock::now();
    loader.LoadData(nullptr, true);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (!loader.RelTable().IsSquare(words)) return 1;
    std::printf("%.3f %ld\n", ms, PeakRssKb());
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
