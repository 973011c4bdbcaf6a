// zibu-cli links: the links the spider would queue from one saved page.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/json.h"
#include "cli/read_input.h"
#include "common/errors.h"
#include "common/ports.h"
#include "common/settings.h"
#include "learning/engine.h"
#include "spider/crawl.h"

namespace zibu::cli {
namespace {

const char* kHelp =
    "usage: zibu-cli links --base URL [--no-offsite] [--no-higher] [--home DIR] FILE\n"
    "\n"
    "Reads the page in FILE (\"-\" for standard input) as if the spider had just downloaded it from\n"
    "URL, and prints the rows it would add to its link queue, in queue order, one JSON object a line:\n"
    "  {\"url\": ..., \"description\": ..., \"relevance\": N}\n"
    "Strings are byte strings: each byte is the character of the same code (0x80-0xFF as \\u0080-\\u00ff).\n"
    "URL counts as already visited, as in a crawl. The relevance of each description comes from the\n"
    "learned data of DIR/data and the learning parameters of DIR/zibu.conf (read, never written); without\n"
    "--home every relevance is 0.\n"
    "\n"
    "  --base URL     the page's address: the base of relative links and of the filters\n"
    "  --no-offsite   as with \"Search Offsite Links\" unchecked\n"
    "  --no-higher    as with \"Search higher level links\" unchecked\n"
    "  --home DIR     program home with the learned data\n"
    "\n"
    "A page that makes the scan fail (a malformed character reference) prints the rows queued before\n"
    "the failure, then the error on standard error, and exits with status 1.\n";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "zibu-cli links: %s\n\n%s", problem.c_str(), kHelp);
  return 2;
}

// Messages of the learned-data load go to standard error.
class StderrPort : public SilentUserPort {
 public:
  void Log(const std::string& message, bool verbose) override {
    if (!verbose) std::fprintf(stderr, "%s\n", message.c_str());
  }
};

class Filters : public SpiderView {
 public:
  Filters(bool offsite, bool higher) : offsite_(offsite), higher_(higher) {}
  int ShowRelevance() const override { return 0; }
  bool SearchOffsiteLinks() const override { return offsite_; }
  bool SearchHigherLinks() const override { return higher_; }
  void PausedWait() override {}

 private:
  bool offsite_;
  bool higher_;
};

class NoFetch : public PageFetcher {
 public:
  std::string Fetch(const std::string&) override { throw Error("no downloads here", "EHttpError"); }
};

int Run(const std::vector<std::string>& args) {
  std::string base, home, file;
  bool haveBase = false, haveFile = false, offsite = true, higher = true;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--base" || a == "--home") {
      if (i + 1 >= args.size()) return Usage(a + " needs a value");
      (a == "--base" ? base : home) = args[++i];
      if (a == "--base") haveBase = true;
    } else if (a == "--no-offsite") {
      offsite = false;
    } else if (a == "--no-higher") {
      higher = false;
    } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
      return Usage("unknown option " + a);
    } else if (haveFile) {
      return Usage("only one FILE");
    } else {
      file = a;
      haveFile = true;
    }
  }
  if (!haveBase) return Usage("--base URL needed");
  if (!haveFile) return Usage("FILE needed");

  const std::string page = ReadInput(file == "-" ? std::string() : file);

  StderrPort port;
  LearningEngine engine(port);
  const bool learned = !home.empty();
  if (learned) {
    if (home.back() != '/') home += '/';
    if (!std::filesystem::is_directory(home)) return Usage("no folder " + home);
    SettingsFile conf(home + "zibu.conf");
    engine.ReadLearningParameters(conf);
    engine.SetDataFolder(home + "data", false);
    engine.LoadData(nullptr, true);
  }

  SilentUserPort silent;
  Filters view(offsite, higher);
  NoFetch fetcher;
  TSpiderCrawl spider(silent, view, fetcher,
                      [&](std::string_view text) { return learned ? engine.GetRelevance(text) : 0; });
  spider.setCurrentPage(base);
  spider.knownUrls().Add(base);

  int status = 0;
  std::string failure;
  try {
    spider.searchPageForLinks(page);
  } catch (const std::exception& e) {
    failure = ErrorText(e);
    status = 1;
  }
  std::string out;
  for (const LinkRow& row : spider.links().Rows()) {
    out += "{\"url\": " + JsonBytes(row.url) + ", \"description\": " + JsonBytes(row.description) +
           ", \"relevance\": " + std::to_string(row.relevance) + "}\n";
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  if (std::fflush(stdout) != 0) status = 1;
  if (!failure.empty()) std::fprintf(stderr, "zibu-cli links: %s\n", failure.c_str());
  return status;
}

const Registrar kRegistrar({"links", "the links the spider would queue from a saved page", kHelp, Run});

}  // namespace
}  // namespace zibu::cli
