// zibu-cli words: the word list the learning engine would see for a text.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "common/file_io.h"
#include "common/numbers.h"
#include "common/text.h"

namespace zibu::cli {
namespace {

const char* kHelp =
    "usage: zibu-cli words [--min N] [--max N] [--common FILE] [FILE]\n"
    "\n"
    "Prints the words of the text in FILE (standard input without FILE), one per line, in text\n"
    "order with repetitions: HTML stripped, upper-cased, \"'S\" and apostrophes dropped, only the\n"
    "letters A to Z kept, too short or too long words dropped, a plural \"S\" folded, common words\n"
    "removed.\n"
    "\n"
    "  --min N        shortest word kept, in letters (default 4)\n"
    "  --max N        longest word kept, in letters (default 12)\n"
    "  --common FILE  common words, one per line (like data/commonwords.dat); none by default\n";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "zibu-cli words: %s\n\n%s", problem.c_str(), kHelp);
  return 2;
}

int Run(const std::vector<std::string>& args) {
  int minLength = 4, maxLength = 12;
  std::string commonFile, inputFile;
  bool haveInput = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--min" || a == "--max" || a == "--common") {
      if (i + 1 >= args.size()) return Usage(a + " needs a value");
      const std::string& v = args[++i];
      if (a == "--common") {
        commonFile = v;
      } else {
        const auto n = TryStrToInt(v);
        if (!n || *n < 0) return Usage(a + " needs a number of letters, not '" + v + "'");
        (a == "--min" ? minLength : maxLength) = *n;
      }
    } else if (a.size() > 1 && a[0] == '-') {
      return Usage("unknown option " + a);
    } else if (haveInput) {
      return Usage("at most one FILE");
    } else {
      inputFile = a;
      haveInput = true;
    }
  }
  std::vector<std::string> common;
  if (!commonFile.empty()) {
    for (const std::string& line : SplitString(ReadFileBytes(commonFile), "\n")) {
      std::string w = Trim(line);
      if (!w.empty()) common.push_back(std::move(w));
    }
    SortUnique(common);
  }
  const std::string text = haveInput ? ReadFileBytes(inputFile) : ReadStreamBytes(stdin, "standard input");
  std::string out;
  for (const std::string& w : GetWordList(text, minLength, maxLength, common)) {
    out += w;
    out += '\n';
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

const Registrar kRegistrar({"words", "word list of a text, as the learning engine sees it", kHelp, Run});

}  // namespace
}  // namespace zibu::cli
