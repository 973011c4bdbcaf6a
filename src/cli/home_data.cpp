#include "cli/home_data.h"

#include <cstdio>
#include <filesystem>

#include "common/global_settings.h"
#include "common/settings.h"

namespace zibu::cli {

void StderrPort::Log(const std::string& message, bool verbose) {
  if (!verbose) std::fprintf(stderr, "%s\n", message.c_str());
}

void StderrPort::ShowMessage(const std::string& text) {
  ++messages;
  // Message texts break lines with CR LF; a terminal wants LF alone.
  std::string t;
  t.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) t += text[i];
  std::fprintf(stderr, "%s\n", t.c_str());
}

std::string ProgramHome(std::string home) {
  if (home.empty()) {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    home = ec ? "." : exe.parent_path().string();
  }
  if (home.back() != '/') home += '/';
  return home;
}

namespace {

void ReadParameters(HomeData& data, const std::string& home) {
  SettingsFile conf(home + "zibu.conf");
  data.engine.ReadLearningParameters(conf);
  data.engine.SetBackupDataFiles(ReadGlobalSettings(conf).backupDataFiles);
}

}  // namespace

void LoadForReading(HomeData& data, const std::string& home) {
  ReadParameters(data, home);
  data.engine.SetDataFolder(home + "data", false);
  data.engine.LoadData(nullptr, true);
}

bool LoadForChange(HomeData& data, const std::string& home, const std::string& holder) {
  if (data.lock.Acquire(home, holder) != HomeLock::Result::Acquired) {
    std::fprintf(stderr, "%s\n", data.lock.Message().c_str());
    return false;
  }
  ReadParameters(data, home);
  data.engine.SetDataFolder(home + "data");
  data.engine.LoadData(&data.shownUrls);
  return true;
}

}  // namespace zibu::cli
