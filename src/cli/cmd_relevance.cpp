// zibu-cli relevance: the three scores "Check Rel" shows, from the learned data of a program home,
// and with --explain their parts.
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
#include "cli/home_data.h"
#include "cli/json.h"
#include "common/errors.h"
#include "common/ports.h"
#include "common/settings.h"
#include "common/text.h"
#include "learning/engine.h"

namespace zibu::cli {
namespace {

const char* kHelp =
    "usage: zibu-cli relevance [--home DIR] [--explain] TEXT...\n"
    "       zibu-cli relevance [--home DIR] [--explain] --lines FILE\n"
    "\n"
    "Loads the learned data of DIR/data (word weightings, relationship table, common words, with\n"
    "the recovery from DIR/data/backup) and the learning parameters of DIR/zibu.conf, without\n"
    "writing anything, and prints the scores of the text as the feeds window's \"Check Rel\"\n"
    "computes them:\n"
    "  {\"simple\": S, \"relationship\": R, \"overall\": O}\n"
    "TEXT may be several arguments; they are joined with blanks. With --lines every line of FILE\n"
    "(\"-\" for standard input) is scored the same way, one object per line; the data is loaded once.\n"
    "\n"
    "With --explain each object also holds the parts of the scores, computed as the scores are:\n"
    "  \"wordCount\": entries of the word list, known or not;\n"
    "  \"words\": each known word once, [{\"word\", \"count\", \"weight\", \"contribution\"}], where\n"
    "    contribution = (weight * 100 / maxWordWeight, truncated) * count; they add up to\n"
    "    \"simpleSum\", and simple = simpleSum / wordCount (truncated toward zero);\n"
    "  \"distinctWords\" (c) and \"pairSum\" (S), with relationship = S / (c * (c - 1));\n"
    "  \"pairs\": the pairs with the largest positive, then the largest negative contributions, at\n"
    "    most 10 each, [{\"a\", \"b\", \"value\", \"contribution\"}], contribution =\n"
    "    (value * 100 / maxWordWeight, truncated) * 2.\n"
    "\n"
    "  --home DIR     program home (default: the folder of zibu-cli)\n"
    "  --lines FILE   score each line of FILE\n"
    "  --explain      the parts of each score as well\n"
    "\n"
    "Messages of the load (recovery from the backup) go to standard error.\n";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "zibu-cli relevance: %s\n\n%s", problem.c_str(), kHelp);
  return 2;
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

std::string Explained(LearningEngine& engine, const std::string& text) {
  const RelevanceExplanation x = engine.ExplainRelevance(text);
  std::string out =
      "{\"simple\": " + std::to_string(x.simple) + ", \"relationship\": " + std::to_string(x.relationship) +
      ", \"overall\": " + std::to_string(x.overall) + ", \"wordCount\": " + std::to_string(x.wordCount) +
      ", \"simpleSum\": " + std::to_string(x.simpleSum) + ", \"words\": [";
  for (size_t i = 0; i < x.words.size(); ++i) {
    const auto& w = x.words[i];
    out += (i ? ", " : "") + std::string("{\"word\": ") + JsonBytes(w.word) +
           ", \"count\": " + std::to_string(w.count) + ", \"weight\": " + std::to_string(w.weight) +
           ", \"contribution\": " + std::to_string(w.contribution) + "}";
  }
  out += "], \"distinctWords\": " + std::to_string(x.distinctWords) +
         ", \"pairSum\": " + std::to_string(x.pairSum) + ", \"pairs\": [";
  bool first = true;
  for (const auto* list : {&x.positivePairs, &x.negativePairs})
    for (const auto& p : *list) {
      out += (first ? "" : ", ") + std::string("{\"a\": ") + JsonBytes(p.first) +
             ", \"b\": " + JsonBytes(p.second) + ", \"value\": " + std::to_string(p.value) +
             ", \"contribution\": " + std::to_string(p.contribution) + "}";
      first = false;
    }
  return out + "]}\n";
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
  bool haveLines = false, haveText = false, explain = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--home" || a == "--lines") {
      if (i + 1 >= args.size()) return Usage(a + " needs a value");
      (a == "--home" ? home : linesFile) = args[++i];
      if (a == "--lines") haveLines = true;
    } else if (a == "--explain") {
      explain = true;
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
  home = ProgramHome(home);
  if (!std::filesystem::is_directory(home)) return Usage("no folder " + home);

  HomeData data;
  LoadForReading(data, home);
  LearningEngine& engine = data.engine;
  auto score = [&](const std::string& t) { return explain ? Explained(engine, t) : Scores(engine, t); };

  std::string out;
  if (haveText) {
    out = score(text);
  } else {
    const std::string input = ReadAll(linesFile);
    size_t start = 0;
    while (start < input.size()) {
      size_t end = input.find('\n', start);
      if (end == std::string::npos) end = input.size();
      std::string line = input.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      out += score(line);
      start = end + 1;
    }
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

const Registrar kRegistrar({"relevance", "simple, relationship and overall relevance of a text", kHelp, Run});

}  // namespace
}  // namespace zibu::cli
