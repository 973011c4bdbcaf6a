// zibu [--home DIR] [--help] [--version]
#pragma once

#include <string>
#include <vector>

namespace zibu {

struct CommandLine {
  std::string home;  // empty: the executable's folder
  bool help = false;
  bool version = false;
  std::string error;  // set when the arguments make no sense
};

// `args` without the program name. "--home DIR" and "--home=DIR" are both accepted.
// With `ignoreUnknown`, arguments the program does not know are skipped (the toolkit may take
// its own options out later).
CommandLine ParseCommandLine(const std::vector<std::string>& args, bool ignoreUnknown = false);

std::string UsageText();

// Puts the delivered files into a home that lacks them: zibu.conf (the first-run settings with
// the example feeds) and data/commonwords.dat. An existing file is never replaced. Returns the
// names of the files copied.
std::vector<std::string> SeedHome(const std::string& home, const std::string& deliveredFolder);

}  // namespace zibu
