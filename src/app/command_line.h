// zibu [--home DIR] [--help] [--version], read before the toolkit starts, so a mistake is
// reported even where no display can be had.
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

// `args` without the program name. "--home DIR" and "--home=DIR" are both accepted, and so are
// the options the toolkit reads for itself (-platform NAME, -style=NAME, ...); anything after
// --webEngineArgs belongs to the embedded browser.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

std::string UsageText();

// Why a folder cannot serve as the program home (it is created, with its parents, when
// missing); empty when it can.
std::string HomeProblem(const std::string& home);

// Puts the delivered files into a home that lacks them: zibu.conf (the first-run settings with
// the example feeds) and data/commonwords.dat. An existing file is never replaced. Returns the
// names of the files copied.
std::vector<std::string> SeedHome(const std::string& home, const std::string& deliveredFolder);

}  // namespace zibu
