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

// With `homeLine`, the text ends with it (which home this start would use, and why).
std::string UsageText(const std::string& homeLine = "");

// Where zibu.conf, data/ and temp/ live, and why there.
struct HomeChoice {
  std::string folder;    // absolute and normal, no trailing slash
  std::string reason;    // for --help
  bool perUser = false;  // the per-user data folder, created private to the user
};
// --home when given; else the executable's folder when a zibu.conf stands there (portable, as in
// the build folder); else $XDG_DATA_HOME/zibu, where an unset, empty or relative XDG_DATA_HOME
// means ~/.local/share. `xdgDataHome` and `userHome` may be null.
HomeChoice ChooseHome(const std::string& given, const std::string& exeFolder, const char* xdgDataHome,
                      const char* userHome);
// The folder of the running executable, as the file system names it.
std::string ExecutableFolder();
// Where the delivered zibu.conf and commonwords.dat are: delivered/ beside the program in the
// build folder, PREFIX/share/zibu for an installed one.
std::string DeliveredFolder(const std::string& exeFolder);

// Why a folder cannot serve as the program home (it is created, with its parents, when
// missing; a `privateFolder` readable by its owner only); empty when it can.
std::string HomeProblem(const std::string& home, bool privateFolder = false);

// Puts the delivered files into a home that lacks them: zibu.conf (the first-run settings with
// the example feeds) and data/commonwords.dat. An existing file is never replaced. Returns the
// names of the files copied.
std::vector<std::string> SeedHome(const std::string& home, const std::string& deliveredFolder);

}  // namespace zibu
