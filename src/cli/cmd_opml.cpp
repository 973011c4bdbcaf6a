// zibu-cli opml-import / opml-export: the feed list of a program home to and from OPML, as the
// feeds window's Import and Export buttons do it. Both hold the home's lock while they work, so
// they never run beside a program on the same home.
#include <cstdio>
#include <filesystem>
#include <string>

#include "cli/cli.h"
#include "common/file_io.h"
#include "common/home_lock.h"
#include "common/ports.h"
#include "common/settings.h"
#include "feeds/feed_config.h"
#include "feeds/opml.h"

namespace zibu::cli {
namespace {

class StderrPort : public UserPort {
 public:
  void Log(const std::string& message, bool) override { std::fprintf(stderr, "%s\n", message.c_str()); }
  void ShowProgress(const std::string&, int) override {}
  void HideProgress() override {}
  void ShowMessage(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
  bool AskYesNo(const std::string&) override { return false; }
  void ProcessMessagesPaced() override {}
};

struct OpmlArgs {
  std::string home;
  std::string file;  // import: the OPML file; export: --output, empty for standard output
  bool ok = true;
};

OpmlArgs ParseOpmlArgs(const std::vector<std::string>& args, bool fileIsOption) {
  OpmlArgs a;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& s = args[i];
    if (s == "--home" && i + 1 < args.size()) {
      a.home = args[++i];
    } else if (s.rfind("--home=", 0) == 0) {
      a.home = s.substr(7);
    } else if (fileIsOption && s == "--output" && i + 1 < args.size()) {
      a.file = args[++i];
    } else if (!fileIsOption && a.file.empty() && !s.empty() && s[0] != '-') {
      a.file = s;
    } else {
      a.ok = false;
    }
  }
  if (a.home.empty() || (!fileIsOption && a.file.empty())) a.ok = false;
  return a;
}

// Takes the home's lock, or says why not. Returns an exit status, 0 when the lock is held.
int LockHome(HomeLock& lock, const std::string& home, const char* command) {
  std::error_code ec;
  if (!std::filesystem::is_directory(home, ec)) {
    std::fprintf(stderr, "%s: %s is not a folder\n", command, home.c_str());
    return 1;
  }
  if (lock.Acquire(home, std::string("zibu-cli ") + command) != HomeLock::Result::Acquired) {
    std::fprintf(stderr, "%s: %s\n", command, lock.Message().c_str());
    return 1;
  }
  return 0;
}

std::string ConfigPath(const std::string& home) {
  return (std::filesystem::path(home) / "zibu.conf").string();
}

constexpr const char* kImportUsage = "usage: zibu-cli opml-import FILE --home DIR\n";
constexpr const char* kExportUsage = "usage: zibu-cli opml-export --home DIR [--output FILE]\n";

int RunOpmlImport(const std::vector<std::string>& args) {
  const OpmlArgs a = ParseOpmlArgs(args, false);
  if (!a.ok) {
    std::fputs(kImportUsage, stderr);
    return 2;
  }
  HomeLock lock;
  if (int rc = LockHome(lock, a.home, "opml-import")) return rc;
  // The whole file is read before the settings are touched: a bad file changes nothing.
  const std::vector<OpmlFeed> found = ReadOpml(ReadFileBytes(a.file));

  StderrPort port;
  SettingsFile file(ConfigPath(a.home));
  std::vector<TFeed> feeds;
  int showRelevance = 30;
  int resultsFormat = 0;
  FeedConfigLoadSteps steps;
  steps.displayRead = [&](int relevance, int format) {
    showRelevance = relevance;
    resultsFormat = format;
  };
  // A file cut short would be written back with only the feeds it still holds.
  if (const MissingFeeds missing = FindMissingFeeds(file); missing.Any()) {
    std::fprintf(stderr,
                 "opml-import: %s says feedCount=%d but holds %d feeds; I have not changed it (start zibu to "
                 "restore its backup copy)\n",
                 file.Path().c_str(), missing.stated, missing.present);
    return 1;
  }
  LoadFeedConfig(file, feeds, port, steps);
  const OpmlImportSummary summary = MergeOpmlFeeds(feeds, found, port);
  if (summary.added > 0) {
    WriteFeedConfig(file, feeds, showRelevance, resultsFormat, port);
    SaveConfigFile(file, port);
  }
  std::printf("%s\n", OpmlSummaryText(summary).c_str());
  return 0;
}

int RunOpmlExport(const std::vector<std::string>& args) {
  const OpmlArgs a = ParseOpmlArgs(args, true);
  if (!a.ok) {
    std::fputs(kExportUsage, stderr);
    return 2;
  }
  HomeLock lock;
  if (int rc = LockHome(lock, a.home, "opml-export")) return rc;
  SilentUserPort quiet;
  SettingsFile file(ConfigPath(a.home));
  std::vector<TFeed> feeds;
  LoadFeedConfig(file, feeds, quiet, {});
  const std::string doc = WriteOpml(feeds);
  if (a.file.empty()) {
    std::fwrite(doc.data(), 1, doc.size(), stdout);
  } else {
    WriteFileAtomic(a.file, doc);
  }
  std::fprintf(stderr, "opml-export: %zu feeds written\n", feeds.size());
  return 0;
}

Registrar importReg(
    {"opml-import", "add the feeds of an OPML file to a program home's feed list",
     std::string(kImportUsage) +
         "\n"
         "Reads FILE (OPML 1.0 or 2.0, from any feed reader) and adds every outline with an\n"
         "xmlUrl at the end of the feed list in DIR/zibu.conf; nested outlines are flattened.\n"
         "New feeds are active with the default refresh interval, unless the file was written\n"
         "by Zibu, whose keyword rules, interval and active flag come back. An address already\n"
         "in the list, or not http or https, is skipped. One line per entry goes to standard\n"
         "error and the summary to standard output. A malformed file changes nothing (exit 1),\n"
         "and so does a home that a Zibu program is using.\n",
     RunOpmlImport});

Registrar exportReg(
    {"opml-export", "write a program home's feed list as OPML 2.0",
     std::string(kExportUsage) +
         "\n"
         "Writes every feed of DIR/zibu.conf, in list order, as an OPML 2.0 document in UTF-8\n"
         "to standard output or FILE, with Zibu's keyword rules, interval and active flag in\n"
         "attributes of the namespace " +
         kOpmlZibuNamespace +
         ".\n"
         "Refused while a Zibu program uses the home.\n",
     RunOpmlExport});

}  // namespace
}  // namespace zibu::cli
