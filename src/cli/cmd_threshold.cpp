// zibu-cli threshold: where the relevance slider belongs, read from how the home's rated
// articles scored before they were rated.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/home_data.h"
#include "common/errors.h"

namespace zibu::cli {
namespace {

const char* kThresholdHelp =
    "usage: zibu-cli threshold --home DIR\n"
    "\n"
    "Suggests the relevance threshold from the ratings recorded in DIR/data/ratedarticles.dat (how\n"
    "each rated article scored just before its rating was learned): the threshold from 0 to 100\n"
    "with the best F1 over the recent ratings. Prints one line:\n"
    "  {\"suggested\": T, \"rated\": N, \"relevant\": R, \"irrelevant\": I, \"recorded\": M,\n"
    "   \"table\": [{\"threshold\": 0, \"relevant\": r, \"irrelevant\": i}, ... 100]}\n"
    "where rated, relevant and irrelevant count the ratings the suggestion is read from, recorded\n"
    "all ratings kept, and the table what each threshold would have shown of each kind. With fewer\n"
    "than 5 ratings of either kind, suggested is null and \"needed\": {\"relevant\": a,\n"
    "\"irrelevant\": b} says how many more are needed. A home that a running Zibu holds is refused;\n"
    "nothing is changed.\n";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "zibu-cli threshold: %s\n\n%s", problem.c_str(), kThresholdHelp);
  return 2;
}

std::string Json(const ThresholdSuggestion& s) {
  std::string out = "{\"suggested\": ";
  out += s.suggested ? std::to_string(*s.suggested) : "null";
  if (!s.suggested)
    out += ", \"needed\": {\"relevant\": " + std::to_string(s.neededRelevant) +
           ", \"irrelevant\": " + std::to_string(s.neededIrrelevant) + "}";
  out += ", \"rated\": " + std::to_string(s.rated) + ", \"relevant\": " + std::to_string(s.relevant) +
         ", \"irrelevant\": " + std::to_string(s.irrelevant) + ", \"recorded\": " + std::to_string(s.recorded) +
         ", \"table\": [";
  for (size_t t = 0; t < s.shown.size(); ++t) {
    if (t > 0) out += ", ";
    out += "{\"threshold\": " + std::to_string(t) + ", \"relevant\": " + std::to_string(s.shown[t].relevant) +
           ", \"irrelevant\": " + std::to_string(s.shown[t].irrelevant) + "}";
  }
  out += "]}\n";
  return out;
}

int RunThreshold(const std::vector<std::string>& args) {
  std::string home;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--home" && i + 1 < args.size())
      home = args[++i];
    else
      return Usage(args[i] == "--home" ? "--home needs a value" : "unexpected " + args[i]);
  }
  if (home.empty()) return Usage("--home DIR needed");
  home = ProgramHome(home);
  if (!std::filesystem::is_directory(home)) return Usage("no folder " + home);
  HomeData data;
  // The lock keeps a running program's save from changing the record under the read; holding
  // it, an interrupted save may be finished first, as the program would at its start.
  if (data.lock.Acquire(home, "zibu-cli threshold") != HomeLock::Result::Acquired) {
    std::fprintf(stderr, "%s\n", data.lock.Message().c_str());
    return 1;
  }
  data.engine.SetDataFolder(home + "data", false);
  data.engine.CompleteInterruptedSave();
  data.engine.LoadRatedArticles();
  const std::string out = Json(data.engine.SuggestedThreshold());
  std::fwrite(out.data(), 1, out.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

const Registrar kThreshold({"threshold", "the relevance threshold the recorded ratings suggest", kThresholdHelp,
                            RunThreshold});

}  // namespace
}  // namespace zibu::cli
