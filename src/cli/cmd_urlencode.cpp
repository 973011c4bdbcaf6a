// zibu-cli urlencode: the address as the program requests it.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "common/text.h"

namespace zibu::cli {
namespace {

const char* kHelp =
    "usage: zibu-cli urlencode TEXT\n"
    "\n"
    "Prints TEXT percent-encoded the way the program encodes an address before requesting it,\n"
    "followed by a newline. Bytes other than & - . / 0-9 : ; = ? A-Z _ a-z become \"%XX\"; a \"%\"\n"
    "that already begins an escape (\"%20\") is kept as it is.\n";

int Run(const std::vector<std::string>& args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "zibu-cli urlencode: exactly one TEXT\n\n%s", kHelp);
    return 2;
  }
  const std::string out = UrlEncode(args[0]) + "\n";
  std::fwrite(out.data(), 1, out.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

const Registrar kRegistrar({"urlencode", "percent-encode an address as the program does", kHelp, Run});

}  // namespace
}  // namespace zibu::cli
