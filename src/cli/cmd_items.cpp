// zibu-cli items: the articles a feed scan would hand to triage, one JSON object per line.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/http_options.h"
#include "cli/json.h"
#include "common/numbers.h"
#include "common/text.h"
#include "feeds/feed_scan.h"
#include "http/http_client.h"
#include "xml/xml_parser.h"

namespace zibu::cli {
namespace {

const std::string kHelp = std::string(
    "usage: zibu-cli items FILE_OR_URL [--proxy HOST:PORT] [--proxy-user U] [--proxy-password P]\n"
    "                                  [--connect-timeout MS] [--read-timeout MS]\n"
    "\n"
    "Reads an RSS or Atom document the way a feed scan does and prints every item it would hand\n"
    "to triage, one JSON object per line: {\"title\": ..., \"description\": ..., \"link\": ...}.\n"
    "Texts are the scanner's Windows-1252 bytes, each byte written as the character of the same\n"
    "code point. Like the scan, an item that does not set a field repeats the previous item's value.\n"
    "An address beginning with http:// or https:// is downloaded with the feed download's settings\n"
    "(URL-encoded first, redirects followed, 60 s time-outs, direct unless --proxy is given).\n"
    "\n") + kHttpOptionsHelp;

int Usage(const std::string& problem) {
  std::fprintf(stderr, "zibu-cli items: %s\n\n%s", problem.c_str(), kHelp.c_str());
  return 2;
}

bool IsAddress(const std::string& s) {
  const std::string u = UpperCase(s.substr(0, 8));
  return u.rfind("HTTP://", 0) == 0 || u.rfind("HTTPS://", 0) == 0;
}

int Run(const std::vector<std::string>& args) {
  HttpOptions options = FeedRequestOptions(ProxySettings{});
  std::string source;
  if (std::string problem = ParseDownloadCommandLine(args, options, source, "file or address"); !problem.empty())
    return Usage(problem);

  TXmlParser parser;
  if (IsAddress(source)) {
    // Failures propagate to main, which prints the message and exits with 1.
    parser.LoadFromBuffer(HttpGet(UrlEncode(source), options));
  } else if (!std::filesystem::is_regular_file(source) || !parser.LoadFile(source)) {
    std::fprintf(stderr, "zibu-cli items: cannot read '%s'\n", source.c_str());
    return 1;
  }
  parser.Rewind();
  ReadFeedItems(parser, [](TItem& item) {
    std::string line = "{\"title\": " + JsonBytes(item.Title) +
                       ", \"description\": " + JsonBytes(item.Description) +
                       ", \"link\": " + JsonBytes(item.Link) + "}\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
  });
  return std::fflush(stdout) == 0 ? 0 : 1;
}

Registrar registrar({"items", "the items a feed scan would hand to triage, as JSON lines", kHelp, Run});

}  // namespace
}  // namespace zibu::cli
