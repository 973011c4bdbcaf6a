// zibu-cli relevance: the three scores "Check Rel" shows, from the learned data of a program home.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "common/errors.h"
#include "common/ports.h"
#include "common/settings.h"
#include "common/text.h"
#include "learning/engine.h"

namespace zibu::cli {
namespace {

const char* kHelp =
    "usage: zibu-cli relevance [--home DIR] TEXT...\n"
    "       zibu-cli relevance [--home DIR] --lines FILE\n"
    "\n"
    "Loads the learned data of DIR/data (word weightings, relationship table, common words, with\n"
    "the recovery from DIR/data/backup) and the learning parameters of DIR/zibu.conf, without\n"
    "writing anything, and prints the scores of the text as the feeds window's \"Check Rel\"\n"
    "computes them:\n"
    "  {\"simple\": S, \"relationship\": R, \"overall\": O}\n"
    "TEXT may be several arguments; they are joined with blanks. With --lines every line of FILE\n"
    "(\"-\" for standard input) is scored the same way, one object per line; the data is loaded once.\n"
    "\n"
    "  --home DIR     program home (default: the folder of zibu-cli)\n"
    "  --lines FILE   score each line of FILE\n"
    "\n"
    "Messages of the load (recovery from the backup) go to standard error.\n";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "zibu-cli relevance: %s\n\n%s", problem.c_str(), kHelp);
  return 2;
}

// What the engine would tell the user goes to standard error; progress is not shown.
class StderrPort : public UserPort {
 public:
  void Log(const std::string& message, bool verbose) override {
    if (!verbose) std::fprintf(stderr, "%s\n", message.c_str());
  }
  void ShowProgress(const std::string&, int) override {}
  void HideProgress() override {}
  void ShowMessage(const std::string& text) override {
    // Message texts break lines with CR LF; a terminal wants LF alone.
    std::string t;
    t.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
      if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) t += text[i];
    std::fprintf(stderr, "%s\n", t.c_str());
  }
  bool AskYesNo(const std::string&) override { return false; }
  void ProcessMessagesPaced() override {}
};

std::string ExecutableFolder() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return "./";
  return exe.parent_path().string() + "/";
}

std::string ReadAll(const std::string& fileName) {
  if (fileName == "-") {
    std::ostringstream all;
    all << std::cin.rdbuf();
    return all.str();
  }
  std::ifstream in(fileName, std::ios::binary);
  if (!in) throw IoError("Cannot open " + fileName);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Scores(LearningEngine& engine, const std::string& text) {
  std::vector<std::string> words = engine.GetWordList(text);
  const int simple = engine.GetSimpleRelevance(words);
  const int relationship = engine.GetRelationshipRelevance(words);
  const int overall = engine.GetRelevance(text);
  return "{\"simple\": " + std::to_string(simple) + ", \"relationship\": " + std::to_string(relationship) +
         ", \"overall\": " + std::to_string(overall) + "}\n";
}

int Run(const std::vector<std::string>& args) {
  std::string home, linesFile, text;
  bool haveLines = false, haveText = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--home" || a == "--lines") {
      if (i + 1 >= args.size()) return Usage(a + " needs a value");
      (a == "--home" ? home : linesFile) = args[++i];
      if (a == "--lines") haveLines = true;
    } else if (a == "--") {
      for (++i; i < args.size(); ++i) {
        text += (haveText ? " " : "") + args[i];
        haveText = true;
      }
    } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
      return Usage("unknown option " + a);
    } else {
      text += (haveText ? " " : "") + a;
      haveText = true;
    }
  }
  if (haveLines == haveText)
    return Usage(haveLines ? "give TEXT or --lines FILE, not both" : "TEXT or --lines FILE needed");
  if (home.empty()) home = ExecutableFolder();
  if (home.back() != '/') home += '/';
  if (!std::filesystem::is_directory(home)) return Usage("no folder " + home);

  StderrPort port;
  LearningEngine engine(port);
  {
    SettingsFile conf(home + "zibu.conf");
    engine.ReadLearningParameters(conf);
  }
  engine.SetDataFolder(home + "data", false);
  engine.LoadData(nullptr, true);

  std::string out;
  if (haveText) {
    out = Scores(engine, text);
  } else {
    const std::string input = ReadAll(linesFile);
    size_t start = 0;
    while (start < input.size()) {
      size_t end = input.find('\n', start);
      if (end == std::string::npos) end = input.size();
      std::string line = input.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      out += Scores(engine, line);
      start = end + 1;
    }
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

const Registrar kRegistrar({"relevance", "simple, relationship and overall relevance of a text", kHelp, Run});

}  // namespace
}  // namespace zibu::cli
