// zibu-cli scan: the program's feed scan without a window, for cron and scripts. The same
// session and scan job as the feeds window, with the home's lock and its save rules.
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/home_data.h"
#include "cli/json.h"
#include "common/errors.h"
#include "common/global_settings.h"
#include "common/home_lock.h"
#include "common/settings.h"
#include "feeds/feed_config.h"
#include "feeds/feeds_session.h"
#include "feeds/scheduler.h"

namespace zibu::cli {
namespace {

const char* kScanHelp =
    "usage: zibu-cli scan --home DIR [--all | --feed N...] [--parallel N] [--dry-run] [--verbose]\n"
    "\n"
    "Scans the feeds of the Zibu home DIR as \"Search Act.\" does: every active feed whose refresh\n"
    "interval has passed, in list order, each article through the same triage (shown recently,\n"
    "duplicate, keyword rules, relevance against the threshold of DIR/zibu.conf). With --all every\n"
    "active feed is scanned, due or not; with --feed N (repeatable, or several numbers) only the\n"
    "feeds at those places of the list (1 is the first), active or not.\n"
    "\n"
    "Each article taken is printed on standard output as one JSON line:\n"
    "  {\"feed\": URL, \"title\": T, \"link\": L, \"relevance\": R, \"reason\": WHY}\n"
    "and a summary goes to standard error. The articles are then marked as shown and zibu.conf and\n"
    "the data files are saved, as after a scheduled scan. --dry-run changes nothing in DIR\n"
    "(downloads go to a temporary folder). --parallel N runs N downloads at once (1 to 64; default\n"
    "maxParallelDownloads of zibu.conf, else 8), never more than two to one server. --verbose\n"
    "prints every status line to standard error; without it only errors.\n"
    "A home that a running Zibu holds is refused. Exit status 0, 1 on failure, 2 on bad usage.\n";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "zibu-cli scan: %s\n\n%s", problem.c_str(), kScanHelp);
  return 2;
}

bool ParseCount(const std::string& text, int& out) {
  if (text.empty() || text.size() > 6) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  out = std::stoi(text);
  return true;
}

// The status lines of the scan: counted, and shown as asked.
class ScanPort : public UserPort {
 public:
  bool verbose = false;
  int feedsScanned = 0;
  int downloadsFailed = 0;

  void Log(const std::string& message, bool isVerbose) override {
    if (message.rfind("Scanning feed ", 0) == 0) ++feedsScanned;
    if (message.rfind("Error downloading ", 0) == 0) ++downloadsFailed;
    if (verbose || (!isVerbose && message.rfind("Error", 0) == 0)) std::fprintf(stderr, "%s\n", message.c_str());
  }
  void ShowProgress(const std::string&, int) override {}
  void HideProgress() override {}
  void ShowMessage(const std::string& text) override { messages_.ShowMessage(text); }
  bool AskYesNo(const std::string&) override { return false; }
  void ProcessMessagesPaced() override {}

 private:
  StderrPort messages_;
};

// The session's view without a window: nobody rates, no control is locked, no timer runs.
class CliView : public FeedsView {
 public:
  CliView(FeedsSession& session, GlobalSettings settings) : session_(session), settings_(std::move(settings)) {}
  ScanPort port;

  UserPort& Port() override { return port; }
  const GlobalSettings& Settings() const override { return settings_; }
  void StopTimer() override {}
  void StartTimer() override {}
  bool TimerActive() const override { return false; }
  void EnableControls(bool) override {}
  void HideCommonIntervals() override {}
  int SelectedFeed() const override { return -1; }
  int Threshold() const override { return threshold_; }
  int ResultsFormat() const override { return format_; }
  void ShowFeedList(bool) override {}
  void ShowDisplaySettings(int showRelevance, int resultsFormat) override {
    threshold_ = showRelevance;
    format_ = resultsFormat;
  }
  void ShowItemsInTable(Items&) override {}
  // With followSuggestedThreshold the scan's threshold follows the ratings, as the window's does.
  void SetThreshold(int threshold) override { threshold_ = threshold; }
  void ShowThresholdSuggestion(const std::string&, bool) override {}
  PageFoundResult ShowPageFound(const std::string&, const std::string&, const std::string&, const std::string&,
                                bool) override {
    return {};
  }

 private:
  FeedsSession& session_;
  GlobalSettings settings_;
  int threshold_ = 30;
  int format_ = 0;
};

std::string ArticleLine(const std::string& feed, const TItem& item) {
  return "{\"feed\": " + JsonBytes(feed) + ", \"title\": " + JsonBytes(item.Title) + ", \"link\": " +
         JsonBytes(item.Link) + ", \"relevance\": " + std::to_string(item.Relevance) +
         ", \"reason\": " + JsonBytes(item.Reason) + "}\n";
}

int RunScan(const std::vector<std::string>& args) {
  std::string home;
  bool all = false, dryRun = false, verbose = false;
  int parallel = 0;
  std::vector<int> chosen;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--home" && i + 1 < args.size()) {
      home = args[++i];
    } else if (a == "--all") {
      all = true;
    } else if (a == "--dry-run") {
      dryRun = true;
    } else if (a == "--verbose") {
      verbose = true;
    } else if (a == "--parallel" && i + 1 < args.size()) {
      if (!ParseCount(args[++i], parallel) || parallel < 1 || parallel > 64)
        return Usage("--parallel wants a number from 1 to 64, not " + args[i]);
    } else if (a == "--feed" && i + 1 < args.size()) {
      int n = 0;
      if (!ParseCount(args[i + 1], n) || n < 1) return Usage("--feed wants a place in the list (1, 2, ...)");
      while (i + 1 < args.size() && ParseCount(args[i + 1], n)) {
        if (n < 1) return Usage("--feed wants a place in the list (1, 2, ...)");
        chosen.push_back(n);
        ++i;
      }
    } else {
      return Usage(a == "--home" || a == "--parallel" || a == "--feed" ? a + " needs a value" : "unexpected " + a);
    }
  }
  if (home.empty()) return Usage("--home DIR needed");
  if (all && !chosen.empty()) return Usage("--all and --feed exclude each other");
  home = ProgramHome(home);
  if (!std::filesystem::is_directory(home)) return Usage("no folder " + home);

  HomeLock lock;
  if (lock.Acquire(home, "zibu-cli scan") != HomeLock::Result::Acquired) {
    std::fprintf(stderr, "%s\n", lock.Message().c_str());
    return 1;
  }
  SettingsFile conf(home + "zibu.conf");
  // A file cut short would be saved back after the scan with only the feeds left in it.
  if (const MissingFeeds missing = FindMissingFeeds(conf); missing.Any() && !dryRun) {
    std::fprintf(stderr,
                 "zibu-cli scan: %s says feedCount=%d but holds %d feeds; I have not scanned, so that it is not "
                 "saved without them (start zibu to restore its backup copy, or use --dry-run)\n",
                 conf.Path().c_str(), missing.stated, missing.present);
    return 1;
  }
  GlobalSettings settings = ReadGlobalSettings(conf);
  if (!settings.caFile.empty() && settings.caFile.front() != '/') settings.caFile = home + settings.caFile;
  // Nobody is there to read a reminder or an advice.
  settings.showNagScreens = false;
  settings.firstTime = false;
  settings.verboseOutput = verbose;

  std::string privateTemp;
  if (dryRun) {
    std::string pattern = (std::filesystem::temp_directory_path() / "zibu-scan-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
      std::fprintf(stderr, "zibu-cli scan: I cannot make a temporary folder for the downloads\n");
      return 1;
    }
    privateTemp = pattern;
  }
  struct TempRemover {
    std::string dir;
    ~TempRemover() {
      std::error_code ignored;
      if (!dir.empty()) std::filesystem::remove_all(dir, ignored);
    }
  } remover{privateTemp};

  FeedsSession session(home, dryRun);
  if (dryRun) session.SetTempDir(privateTemp);
  CliView view(session, settings);
  view.port.verbose = verbose;
  session.AttachView(&view);
  session.SetParallelDownloads(parallel);
  try {
    session.LoadConfig(conf);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", ErrorText(e).c_str());
    session.AttachView(nullptr);
    return 1;
  }

  std::vector<size_t> indices;
  for (int n : chosen) {
    if (n > static_cast<int>(session.Feeds().size())) {
      session.AttachView(nullptr);
      return Usage("there is no feed " + std::to_string(n) + ": the list holds " +
                   std::to_string(session.Feeds().size()));
    }
    indices.push_back(static_cast<size_t>(n - 1));
  }
  if (all)
    for (TFeed& feed : session.Feeds())
      if (feed.active) feed.lastRefresh = 0;

  int taken = 0;
  bool outputFailed = false;
  session.SetTriageHook([&](TFeed& feed, TItem& item, Items& into) {
    const size_t before = into.size();
    session.RunningScan()->TriageItem(feed, item, into);
    if (into.size() == before) return;
    ++taken;
    const std::string line = ArticleLine(feed.url, into.back());
    if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size()) outputFailed = true;
  });

  const auto started = std::chrono::steady_clock::now();
  session.RunScan(chosen.empty() ? ScanKind::ActiveFeeds : ScanKind::SelectedFeed, indices);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  if (std::fflush(stdout) != 0) outputFailed = true;

  int status = outputFailed ? 1 : 0;
  if (!dryRun) {
    try {
      session.SaveFeedConfig();
      session.SaveData();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", ErrorText(e).c_str());
      status = 1;
    }
  }
  char summary[256];
  std::snprintf(summary, sizeof summary,
                "zibu-cli scan: %d feeds scanned, %d articles taken, %d downloads failed, %.1f s, up to %d "
                "downloads at once%s\n",
                view.port.feedsScanned, taken, view.port.downloadsFailed, seconds, session.ParallelDownloads(),
                dryRun ? " (dry run: nothing saved)" : "");
  std::fputs(summary, stderr);
  session.AttachView(nullptr);
  return status;
}

const Registrar kScan({"scan", "scan the feeds of a home as Zibu does, the articles taken as JSON lines", kScanHelp,
                       RunScan});

}  // namespace
}  // namespace zibu::cli
