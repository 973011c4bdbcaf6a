// Learning engine at full size: a 20,000-word vocabulary with every cell of its 400 MB
// relationship table set.
//  - GetRelevance of a page of 2,000 distinct known words, waiting for the scan workers with short
//    timed waits, beside the same call waiting the classic way (sleep 1000 ms, then look).
//  - SaveData (flushed, the default, and not flushed) and LoadData of that table beside `cp` (and
//    `cp` + `sync`) of the saved table file on the same disk, interleaved round by round; and a
//    start-up's load in a new process beside `cp`.
//  - The table's memory against n * n (table_bytes_per_cell, rss_bytes_per_cell).
//  - process_cpu_ms: the CPU time of all threads per call, which a busy machine does not inflate.
// Run: build/bin/bench/learning_bench [--benchmark_filter=...]. Needs about 1.3 GB of memory
// and 1.3 GB of free disk space in the temporary folder; the files are deleted at the end.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/ports.h"
#include "common/shortintmap.h"
#include "common/text.h"
#include "learning/engine.h"

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
    for (int a = 0; a < kVocabulary; ++a) {
      int8_t* row = engine.RelTable().Row(a);
      for (int b = 0; b < kVocabulary; ++b) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        row[b] = a == b ? 0 : static_cast<int8_t>(static_cast<int>(x % 101) - 50);
      }
    }
    const double cells = static_cast<double>(kVocabulary) * kVocabulary;
    rssBytesPerCell = (RssKb() - before) * 1024.0 / cells;
    tableBytesPerCell = static_cast<double>(engine.RelTable().MemoryBytes()) / cells;

    std::shuffle(vocab.begin(), vocab.end(), rng);
    for (int i = 0; i < kPageWords; ++i) page += vocab[i] + (i % 12 == 11 ? ".\n" : " ");

    folder = (fs::temp_directory_path() / ("zibu-learning-bench-" + std::to_string(getpid()))).string() + "/";
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

}  // namespace

// `--time-load DATA_FOLDER`: loads the learned data of that folder in this new process and
// prints how long it took, in milliseconds.
int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--time-load") {
    SilentUserPort port;
    LearningEngine loader(port);
    loader.SetMaxWordWeight(50);
    loader.SetDataFolder(argv[2], false);
    const auto start = std::chrono::steady_clock::now();
    loader.LoadData(nullptr, true);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (!loader.RelTable().IsSquare(kVocabulary)) return 1;
    std::printf("%.3f\n", ms);
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
