#include "app/command_line.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "common/global_settings.h"

namespace zibu {

namespace fs = std::filesystem;

namespace {

// Options the toolkit takes out of the command line itself, with one dash or two, and whether
// each is followed by a value ("-platform offscreen" or "-platform=offscreen").
struct ToolkitOption {
  const char* name;
  bool takesValue;
};
constexpr ToolkitOption kToolkitOptions[] = {
    {"platform", true},      {"platformpluginpath", true},
    {"platformtheme", true}, {"plugin", true},
    {"qmljsdebugger", true}, {"qwindowgeometry", true},
    {"qwindowicon", true},   {"qwindowtitle", true},
    {"reverse", false},      {"session", true},
    {"display", true},       {"geometry", true},
    {"name", true},          {"title", true},
    {"visual", true},        {"style", true},
    {"stylesheet", true},    {"widgetcount", false},
    {"nograb", false},       {"dograb", false},
    {"sync", false},
};

// The toolkit option `arg` names, or null.
const ToolkitOption* FindToolkitOption(const std::string& arg, bool* valueAttached) {
  if (arg.size() < 2 || arg[0] != '-') return nullptr;
  std::string name = arg.substr(arg[1] == '-' ? 2 : 1);
  const size_t eq = name.find('=');
  *valueAttached = eq != std::string::npos;
  if (*valueAttached) name.resize(eq);
  for (const ToolkitOption& o : kToolkitOptions) {
    if (name == o.name && (o.takesValue || !*valueAttached)) return &o;
  }
  return nullptr;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine cl;
  auto fail = [&cl](const std::string& error) {
    if (cl.error.empty()) cl.error = error;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    bool valueAttached = false;
    if (a == "--help" || a == "-h") {
      cl.help = true;
    } else if (a == "--version") {
      cl.version = true;
    } else if (a == "--home") {
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        fail("--home needs a folder");
      } else {
        cl.home = args[++i];
      }
    } else if (a.rfind("--home=", 0) == 0) {
      cl.home = a.substr(7);
      if (cl.home.empty()) fail("--home needs a folder");
    } else if (a == "--webEngineArgs") {
      break;
    } else if (const ToolkitOption* o = FindToolkitOption(a, &valueAttached)) {
      if (o->takesValue && !valueAttached) {
        if (i + 1 >= args.size()) {
          fail(a + " needs a value");
        } else {
          ++i;
        }
      }
    } else {
      fail("unknown argument: " + a);
    }
  }
  return cl;
}

std::string HomeProblem(const std::string& home) {
  std::error_code ec;
  fs::create_directories(home, ec);
  const std::string start = "I cannot use " + home + " as the program home: ";
  if (!fs::is_directory(home)) {
    return start +
           (fs::exists(home) ? "it is not a folder." : "it cannot be created (" + ec.message() + ").");
  }
  if (::access(home.c_str(), W_OK | X_OK) != 0) {
    return start + "I may not write there (" + std::strerror(errno) + ").";
  }
  return {};
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
