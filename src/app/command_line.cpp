#include "app/command_line.h"

#include <filesystem>
#include <system_error>

#include "common/global_settings.h"

namespace zibu {

namespace fs = std::filesystem;

CommandLine ParseCommandLine(const std::vector<std::string>& args, bool ignoreUnknown) {
  CommandLine cl;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      cl.help = true;
    } else if (a == "--version") {
      cl.version = true;
    } else if (a == "--home") {
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        cl.error = "--home needs a folder";
      } else {
        cl.home = args[++i];
      }
    } else if (a.rfind("--home=", 0) == 0) {
      cl.home = a.substr(7);
      if (cl.home.empty()) cl.error = "--home needs a folder";
    } else if (!ignoreUnknown && cl.error.empty()) {
      cl.error = "unknown argument: " + a;
    }
  }
  return cl;
}

std::string UsageText() {
  return std::string("Usage: zibu [--home DIR] [--help] [--version]\n\n") + "Zibu " + kAppVersion +
         " watches news feeds and web pages for you and learns what you find interesting.\n\n"
         "  --home DIR   keep zibu.conf, data/ and temp/ in DIR (default: the program's folder)\n"
         "  --help       show this text\n"
         "  --version    show the version\n";
}

std::vector<std::string> SeedHome(const std::string& home, const std::string& deliveredFolder) {
  std::vector<std::string> copied;
  const fs::path from(deliveredFolder);
  const fs::path to(home);
  std::error_code ec;
  const std::pair<const char*, const char*> files[] = {{"zibu.conf", "zibu.conf"},
                                                       {"commonwords.dat", "data/commonwords.dat"}};
  for (const auto& [source, target] : files) {
    const fs::path src = from / source;
    const fs::path dst = to / target;
    if (!fs::exists(src, ec) || fs::exists(dst, ec)) continue;
    fs::create_directories(dst.parent_path(), ec);
    if (fs::copy_file(src, dst, fs::copy_options::skip_existing, ec) && !ec) {
      // The settings file will hold the proxy password: owner only.
      if (std::string(source) == "zibu.conf") {
        fs::permissions(dst, fs::perms::owner_read | fs::perms::owner_write, ec);
      }
      copied.push_back(target);
    }
  }
  return copied;
}

}  // namespace zibu
