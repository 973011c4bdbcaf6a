#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>

#include "common/home_lock.h"
#include "learning/engine.h"
#include "learning/reltable_file.h"
#include "learning_fixture.h"
#include "support/run_process.h"

using namespace zibu;
using zibu::testing::ScratchDir;

namespace {

std::string Capture(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

}  // namespace

TEST(RelevanceCommand, PrintsTheCheckRelScoresOfTheLearnedData) {
  const std::string cli = std::string(ZIBU_BIN_DIR) + "/zibu-cli";
  if (!std::filesystem::exists(cli)) GTEST_SKIP() << "zibu-cli is not built";
  ScratchDir home;
  {
    SilentUserPort port;
    LearningEngine e(port);
    e.SetDataFolder(home.path() + "data");
    e.LoadData();
    zibu::testing::LearnExample(e);
    e.SaveData();
  }
  std::ofstream(home.path() + "zibu.conf") << "[main]\nmaxWordWeight=50\n";
  const std::string base = cli + " relevance --home " + home.path();
  EXPECT_EQ(Capture(base + " jordan abdullah"), "{\"simple\": 44, \"relationship\": 36, \"overall\": 40}\n");
  EXPECT_EQ(Capture(base + " 'jordan katie'"),
            "{\"simple\": -14, \"relationship\": -32, \"overall\": -14}\n");

  std::ofstream(home.path() + "lines.txt", std::ios::binary)
      << "jordan sands\r\n\nabdullah katie's sand jordan\n";
  EXPECT_EQ(Capture(base + " --lines " + home.path() + "lines.txt"),
            "{\"simple\": 38, \"relationship\": 32, \"overall\": 35}\n"
            "{\"simple\": 0, \"relationship\": 0, \"overall\": 0}\n"
            "{\"simple\": 16, \"relationship\": 5, \"overall\": 10}\n");
  // Read-only: nothing new in the home.
  int entries = 0;
  for (auto it = std::filesystem::recursive_directory_iterator(home.path()); it != decltype(it)(); ++it)
    ++entries;
  // zibu.conf, lines.txt, data, data/backup and the three data files (the record of rated articles)
  EXPECT_EQ(entries, 7);
}

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(LearnedDataCommands, RateExplainCorrectAndRefuseABusyHome) {
  const std::string cli = test::ZibuCliPath(ZIBU_BIN_DIR);
  if (cli.empty() || !std::filesystem::exists(cli)) GTEST_SKIP() << "zibu-cli is not built";
  ScratchDir home;
  std::ofstream(home.path() + "zibu.conf") << "[main]\nmaxWordWeight=50\n";
  std::string lines;
  for (int round = 0; round < 2; ++round)
    for (const auto& [r, t] : zibu::testing::ExampleRatings()) lines += std::to_string(r) + "\t" + t + "\r\n";
  auto run = [&](std::vector<std::string> args, const std::string& input = "") {
    return test::RunProcess(cli, args, input);
  };
  auto weights = [&] {
    SilentUserPort port;
    LearningEngine e(port);
    e.SetMaxWordWeight(50);
    e.SetDataFolder(home.path() + "data", false);
    e.LoadData(nullptr, true);
    std::string w;
    for (const auto& lw : e.LearnedWords()) w += lw.word + "=" + std::to_string(lw.weight) + " ";
    return w;
  };
  struct Step {
    std::vector<std::string> args;
    std::string input;
    int exit;
    std::string out;      // expected standard output ("" for none)
    std::string weights;  // the learned words afterwards
  };
  const std::string h = home.path();
  const Step steps[] = {
      // The six ratings of the example, twice, as the rating windows apply them.
      {{"rate", "--home", h, "--lines", "-"},
       lines,
       0,
       "{\"ratings\": 12, \"words\": 4}\n",
       "JORDAN=18 ABDULLAH=26 SAND=20 KATIE=-32 "},
      {{"relevance", "--home", h, "--explain", "jordan", "abdullah"},
       "",
       0,
       "{\"simple\": 44, \"relationship\": 36, \"overall\": 40, \"wordCount\": 2, \"simpleSum\": 88, "
       "\"words\": "
       "[{\"word\": \"JORDAN\", \"count\": 1, \"weight\": 18, \"contribution\": 36}, {\"word\": "
       "\"ABDULLAH\", "
       "\"count\": 1, \"weight\": 26, \"contribution\": 52}], \"distinctWords\": 2, \"pairSum\": 72, "
       "\"pairs\": "
       "[{\"a\": \"ABDULLAH\", \"b\": \"JORDAN\", \"value\": 18, \"contribution\": 72}]}\n",
       "JORDAN=18 ABDULLAH=26 SAND=20 KATIE=-32 "},
      {{"rate", "--home", h, "--rating", "0", "brand", "new"},
       "",
       0,
       "{\"ratings\": 1, \"words\": 4}\n",
       "JORDAN=18 ABDULLAH=26 SAND=20 KATIE=-32 "},
      {{"rate", "--home", h, "--rating", "11", "jordan"},
       "",
       2,
       "",
       "JORDAN=18 ABDULLAH=26 SAND=20 KATIE=-32 "},
      {{"rate", "--home", h, "--lines", "-"},
       "5 jordan\n",
       2,
       "",
       "JORDAN=18 ABDULLAH=26 SAND=20 KATIE=-32 "},
      {{"learned", "--home", h, "--sort", "weight", "--search", "a"},
       "",
       0,
       "{\"word\": \"ABDULLAH\", \"weight\": 26}\n{\"word\": \"SAND\", \"weight\": 20}\n{\"word\": "
       "\"JORDAN\", "
       "\"weight\": 18}\n{\"word\": \"KATIE\", \"weight\": -32}\n",
       "JORDAN=18 ABDULLAH=26 SAND=20 KATIE=-32 "},
      {{"weight", "--home", h, "sand", "99"}, "", 0, "", "JORDAN=18 ABDULLAH=26 SAND=50 KATIE=-32 "},
      {{"weight", "--home", h, "zebra", "3"}, "", 1, "", "JORDAN=18 ABDULLAH=26 SAND=50 KATIE=-32 "},
      {{"forget", "--home", h, "jordan"}, "", 0, "", "ABDULLAH=26 SAND=50 KATIE=-32 "},
      {{"common", "--home", h, "katie"}, "", 0, "", "ABDULLAH=26 SAND=50 "},
      {{"rate", "--home", h, "--rating", "3", "katie", "sand"},
       "",
       0,
       "{\"ratings\": 1, \"words\": 2}\n",
       "ABDULLAH=26 SAND=50 "},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.args[0] + " " + s.args.back());
    const auto r = run(s.args, s.input);
    EXPECT_EQ(r.exitStatus, s.exit) << r.err;
    if (s.exit == 0) {
      EXPECT_EQ(r.out, s.out);
    }
    EXPECT_EQ(weights(), s.weights);
  }
  EXPECT_EQ(ReadFile(h + "data/commonwords.dat"), "katie\r\n");
  // The pair left after the forgets kept its value: ABDULLAH-SAND 14.
  EXPECT_NE(run({"relevance", "--home", h, "--explain", "abdullah sand"}).out.find("\"value\": 14"),
            std::string::npos);

  // A home that a running program holds is refused and left as it is.
  const std::string before = ReadFile(h + "data/wordweightings.dat");
  HomeLock lock;
  ASSERT_EQ(lock.Acquire(h, "zibu"), HomeLock::Result::Acquired);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"rate", "--home", h, "--rating", "5", "entirely", "other"},
        std::vector<std::string>{"forget", "--home", h, "sand"}}) {
    const auto r = run(args);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_FALSE(r.err.empty());
  }
  EXPECT_EQ(ReadFile(h + "data/wordweightings.dat"), before);
}

TEST(ThresholdCommand, SuggestsFromTheRecordThatRateKeeps) {
  const std::string cli = test::ZibuCliPath(ZIBU_BIN_DIR);
  if (cli.empty() || !std::filesystem::exists(cli)) GTEST_SKIP() << "zibu-cli is not built";
  ScratchDir home;
  const std::string h = home.path();
  std::ofstream(h + "zibu.conf") << "[main]\nmaxWordWeight=50\n";
  auto run = [&](std::vector<std::string> args, const std::string& input = "") {
    return test::RunProcess(cli, args, input);
  };
  auto table = [](std::initializer_list<std::pair<int, int>> firstRows) {
    std::string t = "\"table\": [";
    int k = 0;
    for (const auto& [rel, irr] : firstRows) {
      if (k > 0) t += ", ";
      t += "{\"threshold\": " + std::to_string(k) + ", \"relevant\": " + std::to_string(rel) +
           ", \"irrelevant\": " + std::to_string(irr) + "}";
      ++k;
    }
    return t;
  };
  struct Case {
    const char* what;
    const char* record;  // ratedarticles.dat, or nullptr for no data folder at all
    std::string start;   // the line's start
    std::string rows;    // the table's first rows
  };
  const Case cases[] = {
      {"a new home", nullptr,
       "{\"suggested\": null, \"needed\": {\"relevant\": 5, \"irrelevant\": 5}, \"rated\": 0, \"relevant\": 0, "
       "\"irrelevant\": 0, \"recorded\": 0, ",
       table({{0, 0}, {0, 0}})},
      {"three relevant", "4 10\r\n5 3\r\n6 0\r\n-2 1\r\n",
       "{\"suggested\": null, \"needed\": {\"relevant\": 2, \"irrelevant\": 4}, \"rated\": 4, \"relevant\": 3, "
       "\"irrelevant\": 1, \"recorded\": 4, ",
       table({{3, 1}, {2, 1}, {2, 0}})},
      {"separated", "8 5\r\n7 6\r\n9 7\r\n10 8\r\n8 9\r\n-5 -3\r\n-4 0\r\n-6 1\r\n-9 1\r\n-4 2\r\n",
       "{\"suggested\": 4, \"rated\": 10, \"relevant\": 5, \"irrelevant\": 5, \"recorded\": 10, ",
       table({{5, 4}, {5, 3}, {5, 1}, {5, 0}, {5, 0}, {5, 0}, {4, 0}})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(h + "data");
    if (c.record) {
      std::filesystem::create_directories(h + "data");
      std::ofstream(h + "data/ratedarticles.dat", std::ios::binary) << c.record;
    }
    const auto r = run({"threshold", "--home", h});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out.rfind(c.start, 0), 0u) << r.out;
    EXPECT_NE(r.out.find(c.rows), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("{\"threshold\": 100, "), std::string::npos);
    EXPECT_EQ(r.out.find("threshold\": 101"), std::string::npos);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1);
  }

  // zibu-cli rate records what the windows record: the relevance before each rating.
  std::filesystem::remove_all(h + "data");
  std::string lines;
  for (int round = 0; round < 2; ++round)
    for (const auto& [r, t] : zibu::testing::ExampleRatings()) lines += std::to_string(r) + "\t" + t + "\n";
  ASSERT_EQ(run({"rate", "--home", h, "--lines", "-"}, lines).exitStatus, 0);
  ASSERT_EQ(run({"rate", "--home", h, "--rating", "5", "jordan", "abdullah"}).exitStatus, 0);
  const std::string record = ReadFile(h + "data/ratedarticles.dat");
  EXPECT_EQ(std::count(record.begin(), record.end(), '\n'), 13);
  EXPECT_EQ(record.rfind("9 0\r\n8 4\r\n", 0), 0u) << record;
  EXPECT_NE(record.find("\r\n5 40\r\n"), std::string::npos) << record;  // "jordan abdullah" scored 40

  // A home that a running program holds is refused.
  HomeLock lock;
  ASSERT_EQ(lock.Acquire(h, "zibu"), HomeLock::Result::Acquired);
  const auto busy = run({"threshold", "--home", h});
  EXPECT_EQ(busy.exitStatus, 1);
  EXPECT_FALSE(busy.err.empty());
  EXPECT_EQ(run({"threshold", "--home", h, "--lines", "x"}).exitStatus, 2);
}

TEST(LearnedDataCommands, ExportDenseWritesTheOldFormReadBackIdentically) {
  const std::string cli = test::ZibuCliPath(ZIBU_BIN_DIR);
  if (cli.empty() || !std::filesystem::exists(cli)) GTEST_SKIP() << "zibu-cli is not built";
  namespace fs = std::filesystem;
  ScratchDir scratch;
  const std::string h = scratch.path() + "home/";
  const std::string file = scratch.path() + "dense.dat";
  struct Case {
    const char* what;
    std::function<void()> make;  // fills h
    int exit;
  };
  const Case cases[] = {
      {"an old home, dense",
       [&] { fs::copy(std::string(ZIBU_TEST_DATA_DIR) + "/homes/pages", h, fs::copy_options::recursive); },
       0},
      {"a home saved compact",
       [&] {
         fs::copy(std::string(ZIBU_TEST_DATA_DIR) + "/homes/pages", h, fs::copy_options::recursive);
         ASSERT_EQ(
             test::RunProcess(cli, {"rate", "--home", h, "--rating", "4", "several", "quite", "new", "words"})
                 .exitStatus,
             0);
       },
       0},
      {"a damaged table",
       [&] {
         fs::copy(std::string(ZIBU_TEST_DATA_DIR) + "/homes/pages", h, fs::copy_options::recursive);
         std::ofstream(h + "data/reltable.dat", std::ios::binary | std::ios::trunc) << "ZIBURELT\1";
       },
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(h);
    fs::remove(file);
    c.make();
    std::map<std::string, std::string> before;
    for (const auto& f : fs::recursive_directory_iterator(h))
      if (f.is_regular_file()) before[f.path().string()] = ReadFile(f.path().string());
    const auto r = test::RunProcess(cli, {"learned", "--home", h, "--export-dense", file});
    EXPECT_EQ(r.exitStatus, c.exit) << r.err;
    // Nothing in the home is written.
    for (const auto& [path, bytes] : before) EXPECT_TRUE(ReadFile(path) == bytes) << path;
    if (c.exit != 0) {
      EXPECT_FALSE(fs::exists(file));
      EXPECT_FALSE(fs::exists(file + ".tmp"));
      continue;
    }
    SilentUserPort port;
    LearningEngine e(port);
    e.SetDataFolder(h + "data", false);
    e.LoadData(nullptr, true);
    EXPECT_EQ(r.out, "{\"words\": " + std::to_string(e.WordCount()) +
                         ", \"bytes\": " + std::to_string(fs::file_size(file)) + "}\n");
    T2DRelTypeArray dense;
    ASSERT_EQ(ReadRelTableFile(dense, file), RelTableForm::kDense);
    ASSERT_TRUE(dense.IsSquare(e.WordCount()));
    for (int a = 0; a < e.WordCount(); ++a)
      for (int b = 0; b < e.WordCount(); ++b)
        ASSERT_EQ(dense.Get(a, b), e.RelTable().Get(a, b)) << a << "," << b;
    T2DRelTypeArray stored;
    if (ReadRelTableFile(stored, h + "data/reltable.dat") == RelTableForm::kDense) {
      EXPECT_TRUE(ReadFile(file) == ReadFile(h + "data/reltable.dat"));  // the old file, byte for byte
    }
  }
}
