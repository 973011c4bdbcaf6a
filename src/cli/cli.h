// Subcommand registry of zibu-cli.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace zibu::cli {

struct Command {
  std::string name;
  std::string summary;  // one line for the command list
  std::string help;     // full text for "COMMAND --help", ending in a newline
  std::function<int(const std::vector<std::string>& args)> run;  // exit status
};

std::vector<Command>& Registry();

// A static Registrar in a cmd_*.cpp file adds its command.
struct Registrar {
  explicit Registrar(Command c);
};

bool WantsHelp(const std::vector<std::string>& args);

}  // namespace zibu::cli
