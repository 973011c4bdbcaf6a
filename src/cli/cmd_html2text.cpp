// zibu-cli html2text: the plain text the program sees in a page or a feed item.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "common/file_io.h"
#include "common/text.h"

namespace zibu::cli {
namespace {

const char* kHelp =
    "usage: zibu-cli html2text [FILE]\n"
    "\n"
    "Turns the HTML in FILE (standard input without FILE) into the one line of plain text the\n"
    "program works with: line breaks become blanks, scripts, style sheets and tags go, numeric\n"
    "and the common named character references are decoded. The result goes to standard output\n"
    "as bytes, with nothing added (no trailing newline). A numeric reference that is not a number\n"
    "(\"&#abc;\") is an error: its message goes to standard error and the exit status is 1.\n";

int Run(const std::vector<std::string>& args) {
  if (args.size() > 1) {
    std::fprintf(stderr, "zibu-cli html2text: at most one FILE\n\n%s", kHelp);
    return 2;
  }
  const std::string text =
      HtmlToText(args.empty() ? ReadStreamBytes(stdin, "standard input") : ReadFileBytes(args[0]));
  std::fwrite(text.data(), 1, text.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

const Registrar kRegistrar({"html2text", "plain text of an HTML file or standard input", kHelp, Run});

}  // namespace
}  // namespace zibu::cli
