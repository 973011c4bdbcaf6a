// zibu-cli: the core's functions from the command line, for scripts, benchmarks and checks.
// Each subcommand lives in its own cmd_*.cpp and registers itself here.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "cli/cli.h"
#include "common/errors.h"

namespace zibu::cli {

std::vector<Command>& Registry() {
  static std::vector<Command> commands;
  return commands;
}

Registrar::Registrar(Command c) { Registry().push_back(std::move(c)); }

bool WantsHelp(const std::vector<std::string>& args) {
  for (const auto& a : args)
    if (a == "--help" || a == "-h") return true;
  return false;
}

}  // namespace zibu::cli

namespace {

void PrintUsage(FILE* out) {
  std::fprintf(out, "usage: zibu-cli COMMAND [ARGS]\n\nCommands:\n");
  for (const auto& c : zibu::cli::Registry()) std::fprintf(out, "  %-12s %s\n", c.name.c_str(), c.summary.c_str());
  std::fprintf(out, "\n'zibu-cli COMMAND --help' describes one command.\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    PrintUsage(argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  std::string name = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  for (const auto& c : zibu::cli::Registry()) {
    if (c.name != name) continue;
    if (zibu::cli::WantsHelp(args)) {
      std::fputs(c.help.c_str(), stdout);
      return 0;
    }
    try {
      return c.run(args);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", zibu::ErrorText(e).c_str());
      return 1;
    }
  }
  std::fprintf(stderr, "zibu-cli: unknown command '%s'\n", name.c_str());
  PrintUsage(stderr);
  return 2;
}
