// zibu-cli fetch: one page download with the program's own request settings.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/http_options.h"
#include "common/numbers.h"
#include "http/fetch.h"

namespace zibu::cli {
namespace {

const std::string kHelp = std::string(
    "usage: zibu-cli fetch URL [--proxy HOST:PORT] [--proxy-user U] [--proxy-password P]\n"
    "                          [--connect-timeout MS] [--read-timeout MS]\n"
    "\n"
    "Downloads URL the way the program does (URL-encoded first, redirects followed, no cookies,\n"
    "User-Agent \"Mozilla/4.0\") and writes the body to stdout as bytes, nothing added.\n"
    "On failure the reason goes to stderr and the exit status is 1.\n"
    "\n") + kHttpOptionsHelp;

int Usage(const std::string& problem) {
  std::fprintf(stderr, "zibu-cli fetch: %s\n\n%s", problem.c_str(), kHelp.c_str());
  return 2;
}

int Run(const std::vector<std::string>& args) {
  HttpOptions options;
  std::string url;
  if (std::string problem = ParseDownloadCommandLine(args, options, url, "URL"); !problem.empty())
    return Usage(problem);
  // Failures propagate to main, which prints the message and exits with 1.
  std::string body = FetchPage(url, options);
  if (!body.empty() && std::fwrite(body.data(), 1, body.size(), stdout) != body.size()) return 1;
  return std::fflush(stdout) == 0 ? 0 : 1;
}

Registrar registrar({"fetch", "download a page with the program's request settings", kHelp, Run});

}  // namespace
}  // namespace zibu::cli
