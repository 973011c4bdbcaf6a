// What the zibu-cli commands on learned data share: the program home, a port that reports to
// standard error, and the load of a home's learned data as the program does it.
#pragma once

#include <memory>
#include <string>

#include "common/compmap.h"
#include "common/home_lock.h"
#include "common/ports.h"
#include "learning/engine.h"

namespace zibu::cli {

// What the engine would tell the user goes to standard error; progress is not shown.
class StderrPort : public UserPort {
 public:
  void Log(const std::string& message, bool verbose) override;
  void ShowProgress(const std::string&, int) override {}
  void HideProgress() override {}
  void ShowMessage(const std::string& text) override;
  bool AskYesNo(const std::string&) override { return false; }
  void ProcessMessagesPaced() override {}
  // Message boxes shown so far: a load that showed one had to recover from damage.
  int messages = 0;
};

// `home` with a trailing "/", or the folder of zibu-cli when it is empty.
std::string ProgramHome(std::string home);

// A home's learned data, loaded with the learning parameters of its zibu.conf.
struct HomeData {
  StderrPort port;
  LearningEngine engine{port};
  TCompMap shownUrls;
  HomeLock lock;
};

// Read-only: nothing in the home is written (an interrupted save is read as committed).
void LoadForReading(HomeData& data, const std::string& home);
// For a change saved afterwards with data.engine.SaveData(&data.shownUrls): takes the home's
// lock first. False, with the reason on standard error, when the home is in use or the lock
// cannot be taken; nothing is then read or written.
bool LoadForChange(HomeData& data, const std::string& home, const std::string& holder);

}  // namespace zibu::cli
