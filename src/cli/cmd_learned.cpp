// zibu-cli commands on what a home has learned: rate texts, list the learned words, set a word's
// weight, forget words, add common words. Those that change the home take its lock (a running
// program holds it) and save with the program's own save: backups, temporary names, commit.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/home_data.h"
#include "cli/json.h"
#include "cli/read_input.h"
#include "common/errors.h"
#include "common/numbers.h"
#include "common/ports.h"
#include "common/shortintmap.h"
#include "feeds/reading_list.h"
#include "learning/reltable_file.h"
#include "store/article_store.h"

namespace zibu::cli {
namespace {

int Usage(const char* command, const std::string& problem, const char* help) {
  std::fprintf(stderr, "zibu-cli %s: %s\n\n%s", command, problem.c_str(), help);
  return 2;
}

// The options every command here takes; the rest are its arguments.
struct Parsed {
  std::string home;
  std::vector<std::pair<std::string, std::string>> options;
  std::vector<std::string> rest;
};

bool Parse(const std::vector<std::string>& args, const std::vector<std::string>& valued, Parsed& p,
           std::string& problem) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--") {
      p.rest.insert(p.rest.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      break;
    }
    if (a.rfind("--", 0) == 0) {
      if (a != "--home" && std::find(valued.begin(), valued.end(), a) == valued.end()) {
        problem = "unknown option " + a;
        return false;
      }
      if (i + 1 >= args.size()) {
        problem = a + " needs a value";
        return false;
      }
      if (a == "--home")
        p.home = args[++i];
      else
        p.options.emplace_back(a, args[++i]);
    } else {
      p.rest.push_back(a);
    }
  }
  return true;
}

std::string Option(const Parsed& p, const std::string& name) {
  for (const auto& [k, v] : p.options)
    if (k == name) return v;
  return "";
}

bool HasOption(const Parsed& p, const std::string& name) {
  for (const auto& [k, v] : p.options)
    if (k == name) return true;
  return false;
}

// Saves what changed, reporting a failure on standard error.
int Save(HomeData& data) {
  try {
    data.engine.SaveData(&data.shownUrls);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", ErrorText(e).c_str());
    return 1;
  }
  return 0;
}

// ---- rate ------------------------------------------------------------------------------------

const char* kRateHelp =
    "usage: zibu-cli rate --home DIR --rating R TEXT...\n"
    "       zibu-cli rate --home DIR --lines FILE\n"
    "       zibu-cli rate --home DIR --article ID --rating R\n"
    "\n"
    "Learns from ratings as the rating windows do: each word's weight moves by R per occurrence\n"
    "and each pair of distinct words by R once, limited to maxWordWeight of DIR/zibu.conf; a rating\n"
    "of 0 teaches nothing. R runs from -10 to 10. With --lines every line of FILE (\"-\" for\n"
    "standard input) is \"R<TAB>text\"; empty lines are skipped. Each rating also goes into the\n"
    "record of rated articles with the text's relevance just before it (see zibu-cli threshold).\n"
    "The learned data is then saved with\n"
    "the program's save (the previous files move to DIR/data/backup). A home that a running Zibu\n"
    "holds is refused and left untouched. Prints {\"ratings\": N, \"words\": W}.\n"
    "With --article, rates the article ID of DIR/data/articles.db (see zibu-cli articles) as the\n"
    "reading list does: its text is learned (a changed rating teaches only the change), its link is\n"
    "remembered as shown, and the store keeps the rating and marks it read.\n";

// Rates a kept article of the home, as the reading window does.
int RateArticle(const std::string& home, const std::string& idText, int rating) {
  const auto id = TryStrToInt(idText);
  if (!id || *id < 1) return Usage("rate", "--article wants an article's id", kRateHelp);
  const std::string path = home + "data/articles.db";
  if (!std::filesystem::exists(path)) {
    std::fprintf(stderr, "zibu-cli rate: %s keeps no articles\n", home.c_str());
    return 1;
  }
  HomeData data;
  if (!LoadForChange(data, home, "zibu-cli rate")) return 1;
  const int64_t now = SystemClock().NowMs();
  std::string notice;
  auto store = TArticleStore::Open(path, now, &notice);
  if (!notice.empty()) std::fprintf(stderr, "%s\n", notice.c_str());
  if (!RateStoredArticle(data.engine, *store, data.shownUrls, now, *id, rating)) {
    std::fprintf(stderr, "zibu-cli rate: no article %d in %s\n", *id, path.c_str());
    return 1;
  }
  if (const int rc = Save(data)) return rc;
  std::printf("{\"article\": %d, \"rating\": %d, \"words\": %d}\n", *id, rating, data.engine.WordCount());
  return 0;
}

int RunRate(const std::vector<std::string>& args) {
  Parsed p;
  std::string problem;
  if (!Parse(args, {"--rating", "--lines", "--article"}, p, problem)) return Usage("rate", problem, kRateHelp);
  if (p.home.empty()) return Usage("rate", "--home DIR needed", kRateHelp);
  if (HasOption(p, "--article")) {
    const auto r = TryStrToInt(Option(p, "--rating"));
    if (HasOption(p, "--lines") || !p.rest.empty() || !HasOption(p, "--rating"))
      return Usage("rate", "give --article ID with --rating R, and no text", kRateHelp);
    if (!r || *r < -10 || *r > 10) return Usage("rate", "R runs from -10 to 10", kRateHelp);
    const std::string home = ProgramHome(p.home);
    if (!std::filesystem::is_directory(home)) return Usage("rate", "no folder " + home, kRateHelp);
    return RateArticle(home, Option(p, "--article"), *r);
  }
  const bool lines = HasOption(p, "--lines");
  if (lines == HasOption(p, "--rating") || lines != p.rest.empty())
    return Usage("rate", "give --rating R with TEXT, or --lines FILE", kRateHelp);
  std::vector<std::pair<int, std::string>> ratings;
  auto rating = [&](std::string_view text, int& r) {
    const auto v = TryStrToInt(text);
    if (!v || *v < -10 || *v > 10) return false;
    r = *v;
    return true;
  };
  if (lines) {
    std::string input;
    try {
      const std::string file = Option(p, "--lines");
      input = ReadInput(file == "-" ? "" : file);
    } catch (const std::exception& e) {
      return Usage("rate", ErrorText(e), kRateHelp);
    }
    size_t start = 0;
    int number = 0;
    while (start < input.size()) {
      size_t end = input.find('\n', start);
      if (end == std::string::npos) end = input.size();
      std::string line = input.substr(start, end - start);
      start = end + 1;
      ++number;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty()) continue;
      const size_t tab = line.find('\t');
      int r = 0;
      if (tab == std::string::npos || !rating(std::string_view(line).substr(0, tab), r))
        return Usage("rate",
                     "line " + std::to_string(number) + " is not \"R<TAB>text\" with R from -10 to 10",
                     kRateHelp);
      ratings.emplace_back(r, line.substr(tab + 1));
    }
  } else {
    int r = 0;
    if (!rating(Option(p, "--rating"), r)) return Usage("rate", "R runs from -10 to 10", kRateHelp);
    std::string text;
    for (const auto& a : p.rest) text += (text.empty() ? "" : " ") + a;
    ratings.emplace_back(r, text);
  }
  const std::string home = ProgramHome(p.home);
  if (!std::filesystem::is_directory(home)) return Usage("rate", "no folder " + home, kRateHelp);
  HomeData data;
  if (!LoadForChange(data, home, "zibu-cli rate")) return 1;
  for (const auto& [r, text] : ratings) data.engine.LearnFromRating(r, text);
  if (const int rc = Save(data)) return rc;
  std::printf("{\"ratings\": %zu, \"words\": %d}\n", ratings.size(), data.engine.WordCount());
  return 0;
}

// ---- learned ---------------------------------------------------------------------------------

const char* kLearnedHelp =
    "usage: zibu-cli learned [--home DIR] [--sort word|weight|-weight] [--search TEXT]\n"
    "       zibu-cli learned [--home DIR] --export-dense FILE\n"
    "\n"
    "Lists the learned words of DIR/data with their weights, one {\"word\": W, \"weight\": N} per\n"
    "line: in the order they were learned, or sorted by word, by weight (strongest first) or by\n"
    "-weight (weakest first); with --search only the words that contain TEXT (letter case ignored).\n"
    "Nothing is written.\n"
    "\n"
    "With --export-dense the word relationship table is written to FILE in the dense form of\n"
    "reltable.dat (one byte for every pair of words, as older versions saved it); it pairs with\n"
    "DIR/data/wordweightings.dat. Nothing in DIR is written. Refused when the learned data could\n"
    "only be loaded by recovering from damage. Prints {\"words\": W, \"bytes\": B}.\n";

// Writes the table in the dense form, to a temporary name renamed into place.
int ExportDense(const std::string& home, const std::string& file) {
  HomeData data;
  LoadForReading(data, home);
  if (data.port.messages > 0) {
    std::fprintf(stderr,
                 "zibu-cli learned: I have not exported the relationship table, as it could not be loaded as "
                 "it is (see above)\n");
    return 1;
  }
  const std::string temp = file + ".tmp";
  try {
    WriteRelTableFile(data.engine.RelTable(), temp, nullptr, {}, true);
    std::error_code ec;
    std::filesystem::rename(temp, file, ec);
    if (ec) throw IoError("Cannot rename \"" + temp + "\" to \"" + file + "\". " + ec.message());
  } catch (const std::exception& e) {
    std::error_code ec;
    std::filesystem::remove(temp, ec);
    std::fprintf(stderr, "%s\n", ErrorText(e).c_str());
    return 1;
  }
  std::error_code ec;
  const auto bytes = std::filesystem::file_size(file, ec);
  std::printf("{\"words\": %d, \"bytes\": %llu}\n", data.engine.WordCount(),
              static_cast<unsigned long long>(ec ? 0 : bytes));
  return 0;
}

int RunLearned(const std::vector<std::string>& args) {
  Parsed p;
  std::string problem;
  if (!Parse(args, {"--sort", "--search", "--export-dense"}, p, problem))
    return Usage("learned", problem, kLearnedHelp);
  if (!p.rest.empty()) return Usage("learned", "unexpected " + p.rest.front(), kLearnedHelp);
  const std::string home = ProgramHome(p.home);
  if (!std::filesystem::is_directory(home)) return Usage("learned", "no folder " + home, kLearnedHelp);
  if (HasOption(p, "--export-dense")) {
    if (HasOption(p, "--sort") || HasOption(p, "--search"))
      return Usage("learned", "--export-dense takes no --sort or --search", kLearnedHelp);
    if (Option(p, "--export-dense").empty())
      return Usage("learned", "--export-dense needs a file name", kLearnedHelp);
    return ExportDense(home, Option(p, "--export-dense"));
  }
  const std::string sort = Option(p, "--sort");
  if (!sort.empty() && sort != "word" && sort != "weight" && sort != "-weight")
    return Usage("learned", "--sort takes word, weight or -weight", kLearnedHelp);
  HomeData data;
  LoadForReading(data, home);
  std::vector<LearnedWord> words = FilterLearnedWords(data.engine.LearnedWords(), Option(p, "--search"));
  if (sort == "word") SortLearnedWords(words, LearnedWordOrder::kByWord);
  if (sort == "weight") SortLearnedWords(words, LearnedWordOrder::kByWeightDescending);
  if (sort == "-weight") SortLearnedWords(words, LearnedWordOrder::kByWeightAscending);
  std::string out;
  for (const auto& w : words)
    out += "{\"word\": " + JsonBytes(w.word) + ", \"weight\": " + std::to_string(w.weight) + "}\n";
  std::fwrite(out.data(), 1, out.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

// ---- weight, forget, common ------------------------------------------------------------------

const char* kWeightHelp =
    "usage: zibu-cli weight --home DIR WORD WEIGHT\n"
    "\n"
    "Sets a learned word's weight (limited to maxWordWeight either way) and saves the learned data\n"
    "with the program's save. A word not learned is an error. A home that a running Zibu holds is\n"
    "refused.\n";

int RunWeight(const std::vector<std::string>& args) {
  Parsed p;
  std::string problem;
  if (!Parse(args, {}, p, problem)) return Usage("weight", problem, kWeightHelp);
  if (p.home.empty()) return Usage("weight", "--home DIR needed", kWeightHelp);
  if (p.rest.size() != 2) return Usage("weight", "WORD and WEIGHT needed", kWeightHelp);
  const auto weight = TryStrToInt(p.rest[1]);
  if (!weight) return Usage("weight", "WEIGHT must be a whole number", kWeightHelp);
  const std::string home = ProgramHome(p.home);
  if (!std::filesystem::is_directory(home)) return Usage("weight", "no folder " + home, kWeightHelp);
  HomeData data;
  if (!LoadForChange(data, home, "zibu-cli weight")) return 1;
  if (!data.engine.SetWordWeight(p.rest[0], *weight)) {
    std::fprintf(stderr, "zibu-cli weight: %s is not a learned word\n", p.rest[0].c_str());
    return 1;
  }
  return Save(data);
}

const char* kForgetHelp =
    "usage: zibu-cli forget --home DIR WORD...\n"
    "\n"
    "Forgets learned words: each leaves the word weightings, and its row and column leave the\n"
    "relationship table; every other weight and pair is kept. Saves with the program's save.\n"
    "Words not learned are reported and skipped. A home that a running Zibu holds is refused.\n";

const char* kCommonHelp =
    "usage: zibu-cli common --home DIR WORD...\n"
    "\n"
    "Adds words to the common words (DIR/data/commonwords.dat, written at once): they are never\n"
    "learned or scored again, and each is forgotten from the learned words, the learned data then\n"
    "being saved with the program's save. A home that a running Zibu holds is refused.\n";

int RunForgetOrCommon(const std::vector<std::string>& args, bool common) {
  const char* name = common ? "common" : "forget";
  const char* help = common ? kCommonHelp : kForgetHelp;
  Parsed p;
  std::string problem;
  if (!Parse(args, {}, p, problem)) return Usage(name, problem, help);
  if (p.home.empty()) return Usage(name, "--home DIR needed", help);
  if (p.rest.empty()) return Usage(name, "WORD needed", help);
  const std::string home = ProgramHome(p.home);
  if (!std::filesystem::is_directory(home)) return Usage(name, "no folder " + home, help);
  HomeData data;
  if (!LoadForChange(data, home, std::string("zibu-cli ") + name)) return 1;
  for (const auto& w : p.rest) {
    try {
      const bool done = common ? data.engine.AddCommonWord(w) : data.engine.ForgetWord(w);
      if (!done)
        std::fprintf(stderr, "zibu-cli %s: %s %s\n", name, w.c_str(),
                     common ? "is a common word already" : "is not a learned word");
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", ErrorText(e).c_str());
      return 1;
    }
  }
  return Save(data);
}

const Registrar kRate({"rate", "learn from ratings of texts and save, as the rating windows do", kRateHelp,
                       RunRate});
const Registrar kLearned({"learned", "the learned words and their weights", kLearnedHelp, RunLearned});
const Registrar kWeight({"weight", "set a learned word's weight", kWeightHelp, RunWeight});
const Registrar kForget({"forget", "forget learned words (their weights and pairs)", kForgetHelp,
                         [](const std::vector<std::string>& a) { return RunForgetOrCommon(a, false); }});
const Registrar kCommon({"common", "add common words, which are then never learned", kCommonHelp,
                         [](const std::vector<std::string>& a) { return RunForgetOrCommon(a, true); }});

}  // namespace
}  // namespace zibu::cli
