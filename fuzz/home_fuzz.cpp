// libFuzzer target: loading a home folder. The input is cut into the files of a home at every
// line "--8<-- NAME" (NAME one of the files below; text before the first such line is ignored):
// zibu.conf, the learned-data files of data/ and data/backup/, commonwords.dat, and the leftovers
// of an interrupted save (save.commit, *.new). The home is loaded as the program loads it, saved,
// and loaded again by a fresh engine, which must then hold exactly what the first one held.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "common/compmap.h"
#include "common/ports.h"
#include "common/settings.h"
#include "common/shortintmap.h"
#include "learning/engine.h"

namespace {

namespace fs = std::filesystem;

const char* const kNames[] = {"zibu.conf",
                              "data/shownfeedurls.dat",
                              "data/wordweightings.dat",
                              "data/reltable.dat",
                              "data/commonwords.dat",
                              "data/backup/shownfeedurls.dat",
                              "data/backup/wordweightings.dat",
                              "data/backup/reltable.dat",
                              "data/save.commit",
                              "data/shownfeedurls.dat.new",
                              "data/wordweightings.dat.new",
                              "data/reltable.dat.new"};

const std::string& Home() {
  static const std::string home = [] {
    std::string h =
        (fs::temp_directory_path() / ("zibu-home-fuzz-" + std::to_string(getpid()))).string() + "/";
    return h;
  }();
  return home;
}

void Fail(const std::string& what) {
  std::fprintf(stderr, "home_fuzz: %s\n", what.c_str());
  std::abort();
}

// What an engine holds, in a form to compare.
struct Snapshot {
  std::vector<std::string> keys;
  std::vector<int> weights;
  std::vector<std::vector<int8_t>> rows;
  std::vector<std::string> shownKeys;
  std::vector<int64_t> shownValues;
  bool operator==(const Snapshot&) const = default;
};

Snapshot Take(const zibu::LearningEngine& e, const zibu::TCompMap& shown) {
  Snapshot s;
  for (int i = 0; i < e.WordCount(); ++i) {
    s.keys.push_back(e.WordWeights().KeyAt(i));
    s.weights.push_back(e.WordWeights().ValueAt(i));
  }
  const auto& t = e.RelTable();
  if (!t.IsSquare(e.WordCount())) Fail("the table does not match the words after a load");
  for (int a = 0; a < t.RowCount(); ++a) {
    std::vector<int8_t> row(static_cast<size_t>(t.RowLength(a)));
    t.CopyCells(a, 0, t.RowLength(a), row.data());
    s.rows.push_back(std::move(row));
  }
  for (int i = 0; i < shown.Count(); ++i) {
    s.shownKeys.push_back(shown.KeyAt(i));
    s.shownValues.push_back(shown.ValueAt(i));
  }
  return s;
}

void Load(zibu::LearningEngine& e, zibu::TCompMap& shown) {
  zibu::SettingsFile conf(Home() + "zibu.conf");
  e.ReadLearningParameters(conf);
  e.SetDataFolder(Home() + "data");
  e.SetDurableSave(false);
  e.LoadData(&shown);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::error_code ec;
  fs::remove_all(Home(), ec);
  fs::create_directories(Home() + "data/backup");
  // Cut the input into files.
  const std::string mark = "--8<-- ";
  size_t at = input.rfind(mark, 0) == 0 ? 0 : input.find("\n" + mark);
  while (at != std::string::npos) {
    const size_t nameStart = input.find(mark, at) + mark.size();
    const size_t nameEnd = input.find('\n', nameStart);
    if (nameEnd == std::string::npos) break;
    const std::string name = input.substr(nameStart, nameEnd - nameStart);
    size_t next = input.find("\n" + mark, nameEnd);
    const std::string content =
        input.substr(nameEnd + 1, (next == std::string::npos ? input.size() : next) - nameEnd - 1);
    for (const char* known : kNames)
      if (name == known) std::ofstream(Home() + name, std::ios::binary) << content;
    at = next;
  }

  zibu::SilentUserPort port;
  Snapshot first;
  {
    zibu::LearningEngine e(port);
    zibu::TCompMap shown;
    Load(e, shown);
    for (auto f :
         {zibu::LearnedFile::kShownUrls, zibu::LearnedFile::kWordWeightings, zibu::LearnedFile::kRelTable})
      if (!e.DataLoaded(f)) Fail("a file written by this target did not load");
    first = Take(e, shown);
    e.SaveData(&shown);
  }
  zibu::LearningEngine again(port);
  zibu::TCompMap shown;
  Load(again, shown);
  if (!(Take(again, shown) == first)) Fail("a save and a load did not give back the loaded data");
  return 0;
}
