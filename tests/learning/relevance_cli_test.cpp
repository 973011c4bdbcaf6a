#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "learning/engine.h"
#include "learning_fixture.h"

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
  EXPECT_EQ(entries, 6);  // zibu.conf, lines.txt, data, data/backup and the two data files
}
