#include "app/command_line.h"

#include <pwd.h>
#include <sys/stat.h>
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

HomeChoice ChooseHome(const std::string& given, const std::string& exeFolder, const char* xdgDataHome,
                      const char* userHome) {
  auto normal = [](const fs::path& p) {
    std::error_code ec;
    fs::path abs = fs::absolute(p, ec);
    std::string s = (ec ? p : abs).lexically_normal().string();
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
  };
  if (!given.empty()) return {normal(given), "given with --home", false};
  std::error_code ec;
  if (fs::is_regular_file(fs::path(exeFolder) / "zibu.conf", ec)) {
    return {normal(exeFolder), "portable: a zibu.conf stands beside the program", false};
  }
  // The base directory rules of freedesktop.org: a relative path is to be ignored.
  if (xdgDataHome && xdgDataHome[0] == '/') {
    return {normal(fs::path(xdgDataHome) / "zibu"), "the per-user data folder, $XDG_DATA_HOME/zibu", true};
  }
  std::string user = userHome && userHome[0] ? userHome : "";
  if (user.empty()) {
    if (const passwd* pw = ::getpwuid(::getuid())) user = pw->pw_dir;
  }
  return {normal(fs::path(user) / ".local/share/zibu"),
          "the per-user data folder, ~/.local/share/zibu ($XDG_DATA_HOME is not set)", true};
}

std::string ExecutableFolder() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::current_path(ec).string() : exe.parent_path().string();
}

std::string DeliveredFolder(const std::string& exeFolder) {
  std::error_code ec;
  const fs::path beside = fs::path(exeFolder) / "delivered";
  if (fs::is_directory(beside, ec)) return beside.string();
  return (fs::path(exeFolder) / ".." / "share" / "zibu").lexically_normal().string();
}

std::string HomeProblem(const std::string& home, bool privateFolder) {
  std::error_code ec;
  if (privateFolder && !fs::exists(home, ec)) {
    // Its settings will hold the proxy password: created for the user alone, as a whole.
    fs::create_directories(fs::path(home).parent_path(), ec);
    if (::mkdir(home.c_str(), 0700) == 0) ::chmod(home.c_str(), 0700);
  }
  fs::create_directories(home, ec);
  const std::string start = "I cannot use " + home + " as the program home: ";
  if (!fs::is_directory(home)) {
    return start +
           (fs::exists(home) ? "it is not a folder." : "it cannot be created (" + ec.message() + ").");
  }
  if (::access(home.c_str(), W_OK | X_OK) != 0) {
    return start + "I may not write there (" + std::strerror(errno) + ").";
  }
  // The folders the program makes inside when missing: one that stands there as something else
  // (a symbolic link to nowhere, a file) would start the program with nothing loaded and lose
  // every save.
  const std::pair<const char*, const char*> inside[] = {{"data", "data folder"}, {"temp", "download folder"}};
  for (const auto& [name, role] : inside) {
    const fs::path p = fs::path(home) / name;
    const std::string use = "I cannot use " + p.string() + " as the " + role + ": ";
    if (fs::is_symlink(p, ec) && !fs::exists(p, ec))
      return use + "it is a symbolic link to " + fs::read_symlink(p, ec).string() + ", which does not exist.";
    if (fs::exists(p, ec) && !fs::is_directory(p, ec)) return use + "it is not a folder.";
  }
  return {};
}

std::string UsageText(const std::string& homeLine) {
  std::string text = std::string("Usage: zibu [--home DIR] [--help] [--version]\n\n") + "Zibu " +
                     kAppVersion +
                     " watches news feeds and web pages for you and learns what you find interesting.\n\n"
                     "  --home DIR   keep zibu.conf, data/ and temp/ in DIR\n"
                     "  --help       show this text\n"
                     "  --version    show the version\n\n"
                     "Without --home, the home is the program's folder when a zibu.conf stands there\n"
                     "(portable), else $XDG_DATA_HOME/zibu (~/.local/share/zibu).\n";
  if (!homeLine.empty()) text += "\n" + homeLine + "\n";
  return text;
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
