// zibu-cli fetch: one page download with the program's own request settings.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "common/numbers.h"
#include "http/fetch.h"

namespace zibu::cli {
namespace {

const char* kHelp =
    "usage: zibu-cli fetch URL [--proxy HOST:PORT] [--proxy-user U] [--proxy-password P]\n"
    "                          [--connect-timeout MS] [--read-timeout MS]\n"
    "\n"
    "Downloads URL the way the program does (URL-encoded first, redirects followed, no cookies,\n"
    "User-Agent \"Mozilla/4.0\") and writes the body to stdout as bytes, nothing added.\n"
    "On failure the reason goes to stderr and the exit status is 1.\n"
    "\n"
    "  --proxy HOST:PORT       go through this HTTP proxy (default: direct)\n"
    "  --proxy-user U          proxy user name\n"
    "  --proxy-password P      proxy password\n"
    "  --connect-timeout MS    connect time-out in milliseconds (default 60000)\n"
    "  --read-timeout MS       longest wait for data in milliseconds (default 60000)\n";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "zibu-cli fetch: %s\n\n%s", problem.c_str(), kHelp);
  return 2;
}

int Run(const std::vector<std::string>& args) {
  HttpOptions options;
  std::string url;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    std::string value;
    bool inlineValue = false;
    if (arg.rfind("--", 0) == 0 && arg.find('=') != std::string::npos) {
      value = arg.substr(arg.find('=') + 1);
      arg = arg.substr(0, arg.find('='));
      inlineValue = true;
    }
    auto next = [&](std::string& out) {
      if (inlineValue) {
        out = value;
        return true;
      }
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    std::string v;
    if (arg == "--proxy") {
      if (!next(v)) return Usage("--proxy needs HOST:PORT");
      size_t colon = v.rfind(':');
      if (colon == std::string::npos || colon == 0) return Usage("--proxy needs HOST:PORT, not '" + v + "'");
      options.proxy.server = v.substr(0, colon);
      options.proxy.port = StrToInt(v.substr(colon + 1));
    } else if (arg == "--proxy-user") {
      if (!next(options.proxy.username)) return Usage("--proxy-user needs a value");
    } else if (arg == "--proxy-password") {
      if (!next(options.proxy.password)) return Usage("--proxy-password needs a value");
    } else if (arg == "--connect-timeout") {
      if (!next(v)) return Usage("--connect-timeout needs milliseconds");
      options.connectTimeoutMs = StrToInt(v);
    } else if (arg == "--read-timeout") {
      if (!next(v)) return Usage("--read-timeout needs milliseconds");
      options.readTimeoutMs = StrToInt(v);
    } else if (arg.rfind("--", 0) == 0) {
      return Usage("unknown option '" + arg + "'");
    } else if (url.empty()) {
      url = arg;
    } else {
      return Usage("only one URL, please");
    }
  }
  if (url.empty()) return Usage("no URL given");
  // Failures propagate to main, which prints the message and exits with 1.
  std::string body = FetchPage(url, options);
  if (!body.empty() && std::fwrite(body.data(), 1, body.size(), stdout) != body.size()) return 1;
  return std::fflush(stdout) == 0 ? 0 : 1;
}

Registrar registrar({"fetch", "download a page with the program's request settings", kHelp, Run});

}  // namespace
}  // namespace zibu::cli
