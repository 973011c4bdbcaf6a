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

const std::string kHelp =
    std::string(
        "usage: zibu-cli items FILE_OR_URL [--base URL] [--proxy HOST:PORT] [--proxy-user U]\n"
        "                                  [--proxy-password P] [--connect-timeout MS] [--read-timeout MS]\n"
        "                                  [--total-timeout MS] [--charset NAME] [--utf8]\n"
        "\n"
        "Reads an RSS, Atom or JSON Feed document the way a feed scan does and prints every item it\n"
        "would hand to triage, one JSON object per line: {\"title\": ..., \"description\": ..., \"link\": "
        "...}.\n"
        "Texts are the scanner's Windows-1252 bytes, each byte written as the character of the same\n"
        "code point. Every item starts empty; a field the item does not have is \"\".\n"
        "An address beginning with http:// or https:// is downloaded with the feed download's settings\n"
        "(URL-encoded first, redirects followed, compressed transfer, 60 s time-outs and a 120 s\n"
        "deadline, direct unless --proxy is given). Relative links are resolved against xml:base, else\n"
        "against the response's Content-Location, else the address the document finally came from, or\n"
        "for a file against --base. A document that declares no encoding is read in the charset the\n"
        "response names, else as UTF-8 (bytes that are not UTF-8 taken as Windows-1252). A document in\n"
        "another encoding is turned into UTF-8 first; where that cannot be done, a line on standard\n"
        "error says why and the document is read as Windows-1252.\n"
        "\n"
        "  --base URL              the address a FILE was downloaded from\n"
        "  --charset NAME          the charset a response named for a FILE\n"
        "  --utf8                  print the texts a window shows instead: UTF-8 with every character\n"
        "                          the document gives, the link as the document wrote it\n") +
    kHttpOptionsHelp;

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
  FeedReadOptions read;
  bool utf8 = false;
  std::vector<std::string> rest;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--utf8") {
      utf8 = true;
    } else if (args[i] == "--base" || args[i].rfind("--base=", 0) == 0) {
      if (args[i] == "--base" && i + 1 >= args.size()) return Usage("--base needs a value");
      read.documentUrl = args[i] == "--base" ? args[++i] : args[i].substr(7);
    } else if (args[i] == "--charset" || args[i].rfind("--charset=", 0) == 0) {
      if (args[i] == "--charset" && i + 1 >= args.size()) return Usage("--charset needs a value");
      read.charset = args[i] == "--charset" ? args[++i] : args[i].substr(10);
    } else {
      rest.push_back(args[i]);
    }
  }
  if (std::string problem = ParseDownloadCommandLine(rest, options, source, "file or address");
      !problem.empty())
    return Usage(problem);

  TXmlParser parser;
  if (IsAddress(source)) {
    // Failures propagate to main, which prints the message and exits with 1.
    const HttpResponse response = HttpGetResponse(UrlEncode(source), options);
    parser.LoadFromBuffer(response.body);
    if (read.documentUrl.empty()) read.documentUrl = DocumentBase(response);
    read.charset = CharsetOf(response.contentType);
  } else if (!std::filesystem::is_regular_file(source) || !parser.LoadFile(source)) {
    std::fprintf(stderr, "zibu-cli items: cannot read '%s'\n", source.c_str());
    return 1;
  }
  const auto print = [utf8](TItem& item) {
    const std::string line =
        utf8 ? "{\"title\": " + JsonUtf8(DisplayUtf8(item.Title, item.TitleUtf8)) +
                   ", \"description\": " + JsonUtf8(DisplayUtf8(item.Description, item.DescriptionUtf8)) +
                   ", \"link\": " + JsonUtf8(DisplayUtf8(item.Link, item.LinkUtf8)) + "}\n"
             : "{\"title\": " + JsonBytes(item.Title) + ", \"description\": " + JsonBytes(item.Description) +
                   ", \"link\": " + JsonBytes(item.Link) + "}\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
  };
  TXmlParser::CharsetTrouble trouble;
  read.charsetTrouble = &trouble;
  FeedReadCuts cuts;
  read.cuts = &cuts;
  ReadFeedDocument(parser, print, read);
  if (const std::string m = CharsetTroubleMessage(source, trouble); !m.empty())
    std::fprintf(stderr, "zibu-cli items: %s\n", m.c_str());
  for (const std::string& m : FeedReadCutMessages(source, cuts)) std::fprintf(stderr, "zibu-cli items: %s\n", m.c_str());
  return std::fflush(stdout) == 0 ? 0 : 1;
}

Registrar registrar({"items", "the items a feed scan would hand to triage, as JSON lines", kHelp, Run});

}  // namespace
}  // namespace zibu::cli
