#include "feeds/feeds_session.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <mutex>
#include <thread>

#include "common/errors.h"
#include "common/settings.h"
#include "feeds/feed_config.h"
#include "feeds/learning_run.h"
#include "learning/engine.h"

namespace zibu {

// Lines and questions go to the attached view; with none (a tool, or before a window exists)
// lines go to stderr and questions are answered no, so nothing is lost silently.
class FeedsSession::SessionPort : public UserPort {
 public:
  explicit SessionPort(FeedsSession& s) : s_(s) {}
  void Log(const std::string& message, bool verbose) override {
    if (s_.view_)
      s_.view_->Port().Log(message, verbose);
    else if (!verbose || s_.Settings().verboseOutput)
      std::fprintf(stderr, "%s\n", message.c_str());
  }
  void LogQuoting(const std::string& message, const std::string& messageUtf8, bool verbose) override {
    if (s_.view_)
      s_.view_->Port().LogQuoting(message, messageUtf8, verbose);
    else
      Log(message, verbose);
  }
  void ShowProgress(const std::string& message, int percent) override {
    if (s_.view_) s_.view_->Port().ShowProgress(message, percent);
  }
  void HideProgress() override {
    if (s_.view_) s_.view_->Port().HideProgress();
  }
  void ShowMessage(const std::string& text) override {
    if (s_.view_)
      s_.view_->Port().ShowMessage(text);
    else
      std::fprintf(stderr, "%s\n", text.c_str());
  }
  bool AskYesNo(const std::string& text) override {
    return s_.view_ ? s_.view_->Port().AskYesNo(text) : false;
  }
  void ProcessMessagesPaced() override {
    if (s_.view_) s_.view_->Port().ProcessMessagesPaced();
  }

 private:
  FeedsSession& s_;
};

// The scanner keeps a reference to its clock; this one follows SetClock.
class FeedsSession::SessionClock : public Clock {
 public:
  explicit SessionClock(const FeedsSession& s) : s_(s) {}
  int64_t NowMs() const override { return s_.GetClock().NowMs(); }
  uint32_t IdleMs() const override { return s_.GetClock().IdleMs(); }

 private:
  const FeedsSession& s_;
};

// What the scanner asks of its host: the view's controls and timer, and the session's saves.
class FeedsSession::Host : public ScanHost, public PageFoundPort {
 public:
  explicit Host(FeedsSession& s) : s_(s) {}
  void StopTimer() override {
    if (s_.view_) s_.view_->StopTimer();
  }
  // Not while someone holds the scans (a spider's crawl): a scan ending meanwhile leaves the
  // timer to the holder's release.
  void StartTimer() override {
    if (s_.view_ && s_.scanHolds_ == 0) s_.view_->StartTimer();
  }
  void EnableControls(bool enabled) override {
    if (s_.view_) s_.view_->EnableControls(enabled);
  }
  void HideCommonIntervals() override {
    if (s_.view_) s_.view_->HideCommonIntervals();
  }
  int SelectedFeed() const override { return s_.view_ ? s_.view_->SelectedFeed() : -1; }
  int Threshold() const override { return s_.view_ ? s_.view_->Threshold() : s_.showRelevance_; }
  int ResultsFormat() const override { return s_.view_ ? s_.view_->ResultsFormat() : s_.resultsFormat_; }
  const GlobalSettings& Settings() const override { return s_.Settings(); }
  // Each file's save stands on its own: a zibu.conf that cannot be written (the line saying so
  // is logged) must not keep the learned data that follows from being saved.
  void SaveFeedConfig() override {
    try {
      s_.SaveFeedConfig();
    } catch (const IoError&) {
    }
  }
  void SaveData() override {
    if (s_.saveWake_)
      s_.StartSave();
    else
      s_.SaveData();
  }
  void ShowItemsInTable(Items& items) override {
    if (s_.view_) s_.view_->ShowItemsInTable(items);
  }
  std::optional<int> SuggestedThreshold() const override { return s_.Suggestion().suggested; }
  void ResultsPresented() override {
    s_.FollowSuggestedThreshold();
    s_.ShowSuggestion();
    s_.LearningChanged();
  }
  // Without a view nobody rates: every article counts as shown and unrated.
  PageFoundResult ShowPageFound(const std::string& reason, const std::string& title,
                                const std::string& description, const std::string& link,
                                bool ratingPanelVisible) override {
    if (s_.view_) return s_.view_->ShowPageFound(reason, title, description, link, ratingPanelVisible);
    return {};
  }
  PageFoundResult ShowArticle(const FoundArticle& article) override {
    if (s_.view_) return s_.view_->ShowArticle(article);
    return {};
  }

 private:
  FeedsSession& s_;
};

// A save on a worker: it writes a snapshot of the learned data and a copy of the shown-article
// memory, and touches nothing else of the session. Its lines wait here for the driver's thread.
struct FeedsSession::Saver : UserPort {
  std::mutex mutex;
  std::vector<std::pair<std::string, bool>> lines;
  bool done = false;
  std::string failure;  // the cause of a failed write
  bool committed = false;  // the failed save reached its commit point
  std::string error;    // any other error
  std::unique_ptr<LearningEngine> snapshot;
  TCompMap shownUrls;
  std::thread thread;

  void Log(const std::string& message, bool verbose) override {
    std::lock_guard<std::mutex> lock(mutex);
    lines.emplace_back(message, verbose);
  }
  void ShowProgress(const std::string&, int) override {}
  void HideProgress() override {}
  void ShowMessage(const std::string& text) override { Log(text, false); }
  bool AskYesNo(const std::string&) override { return false; }
  void ProcessMessagesPaced() override {}
  bool Done() {
    std::lock_guard<std::mutex> lock(mutex);
    return done;
  }
};

FeedsSession::FeedsSession(std::string home, bool readOnly) : home_(std::move(home)), readOnly_(readOnly) {
  if (!home_.empty() && home_.back() != '/') home_ += '/';
  tempDir_ = home_ + "temp/";
  systemClock_ = std::make_unique<SystemClock>();
  clock_ = systemClock_.get();
  sessionClock_ = std::make_unique<SessionClock>(*this);
  ownPort_ = std::make_unique<SessionPort>(*this);
  host_ = std::make_unique<Host>(*this);
  std::error_code ec;
  if (!readOnly_) {
    std::filesystem::create_directories(TempDir(), ec);
    std::filesystem::create_directories(DataDir() + "backup", ec);
  }
  engine_ = std::make_unique<LearningEngine>(*ownPort_);
  engine_->SetDataFolder(DataDir(), !readOnly_);
  if (readOnly_) HoldSaves("nothing in the home may change in this run");
  learner_ = std::make_unique<EngineLearner>(*engine_);
  scanner_ = std::make_unique<TFeedScanner>(feeds_, shownUrls_, *learner_, *ownPort_, *sessionClock_, *host_,
                                            *host_);
  scanner_->Touch();
}

FeedsSession::~FeedsSession() {
  // A save under way is let finish: stopping it would leave only the last one's files.
  if (saver_ && saver_->thread.joinable()) saver_->thread.join();
}

void FeedsSession::AttachView(FeedsView* view) {
  view_ = view;
}

void FeedsSession::SetClock(const Clock* clock) {
  clock_ = clock ? clock : systemClock_.get();
}

const Clock& FeedsSession::GetClock() const {
  return *clock_;
}

UserPort& FeedsSession::Port() {
  return *ownPort_;
}

const GlobalSettings& FeedsSession::Settings() const {
  return view_ ? view_->Settings() : defaultSettings_;
}

int FeedsSession::LearnedWordCount() const {
  return engine_->WordCount();
}

RelevanceExplanation FeedsSession::Explain(const std::string& text) {
  return engine_->ExplainRelevance(text);
}

void FeedsSession::LoadConfig(SettingsFile& file) {
  // The file each step reads, for the message when one fails.
  std::string reading = file.Path();
  auto step = [&](std::string path) {
    reading = std::move(path);
    if (loadStepHook_) loadStepHook_(reading);
  };
  UserPort& port = Port();
  const std::string dataDir = DataDir();
  bool listShown = false;
  FeedConfigLoadSteps steps;
  steps.feedsLoaded = [this, &listShown] {
    listShown = true;
    if (view_) view_->ShowFeedList(true);
  };
  steps.markSaveTime = [this] { scanner_->lastSaveTime = clock_->NowMs(); };
  steps.learningRead = [this](const FeedLearningParameters& p) {
    engine_->SetMinWordLength(p.minWordLength);
    engine_->SetMaxWordLength(p.maxWordLength);
    engine_->SetMaxWordWeight(p.maxWordWeight);
    scanner_->saveConfigIntervalMs = p.saveConfigIntervalMs;
  };
  steps.loadShownUrls = [this, &step, &port, &dataDir] {
    step(dataDir + kShownUrlsFile);
    // A save cut short after its commit point is finished first, so the memory read here
    // belongs to the same save as the learned data read below.
    if (!readOnly_) engine_->CompleteInterruptedSave();
    engine_->LoadShownUrls(shownUrls_);
    // The engine keeps a file it could not read out of every save; the user hears of it here.
    if (const std::string& problem = engine_->ShownUrlsLoadProblem(); !problem.empty())
      port.ShowMessage("I could not read " + dataDir + kShownUrlsFile + ": " + problem +
                       "\r\n\r\nArticles shown before may be shown again. I will not save that file in this "
                       "run, so that nothing in it is lost.");
  };
  steps.loadCommonWords = [this, &step, &dataDir] {
    step(dataDir + kCommonWordsFile);
    engine_->LoadCommonWords();
  };
  steps.displayRead = [this, &step, &file](int showRelevance, int resultsFormat) {
    step(file.Path());
    showRelevance_ = showRelevance;
    resultsFormat_ = resultsFormat;
    if (view_) view_->ShowDisplaySettings(showRelevance, resultsFormat);
  };
  steps.loadLearnedData = [this, &step, &dataDir] {
    step(dataDir + kWordWeightsFile + " and " + kRelTableFile);
    engine_->SetBackupDataFiles(Settings().backupDataFiles);
    // The shown-article memory and the common words were loaded by their own steps.
    engine_->LoadWordData(readOnly_);
  };
  steps.startTimer = [this] {
    if (view_) view_->StartTimer();
  };
  // Whatever the load got to, the list shows what the session now holds.
  auto showList = [&] {
    if (!listShown && view_) view_->ShowFeedList(false);
  };
  try {
    if (loadStepHook_) loadStepHook_(reading);
    LoadFeedConfig(file, feeds_, port, steps);
  } catch (const std::exception& e) {
    port.HideProgress();
    showList();
    const LoadError stopped(reading, ProblemText(e));
    HoldSaves(stopped.what());
    throw stopped;
  }
  showList();
  ShowSuggestion();
  OpenArticleStore();
}

void FeedsSession::OpenArticleStore() {
  if (readOnly_ || store_) return;
  const int64_t now = GetClock().NowMs();
  try {
    std::string notice;
    store_ = TArticleStore::Open(DataDir() + "articles.db", now, &notice);
    if (!notice.empty()) Log(notice);
    if (const int days = Settings().keepArticlesDays; days > 0) {
      const int gone = store_->Prune(now - int64_t{days} * 24 * 3600 * 1000);
      if (gone > 0) Log("The reading list forgot " + std::to_string(gone) + " articles older than " +
                        std::to_string(days) + " days", true);
    }
  } catch (const std::exception& e) {
    store_.reset();
    Log(std::string("I could not open the reading list's article store, so this run keeps no articles: ") +
        e.what());
  }
  scanner_->SetStore(store_.get());
  // What was learned since the store last saw the engine (zibu-cli, another run) counts too.
  LearningChanged();
}

void FeedsSession::RateArticle(int64_t id, int rating) {
  if (!store_) return;
  RateStoredArticle(*engine_, *store_, shownUrls_, GetClock().NowMs(), id, rating);
  ShowSuggestion();
  LearningChanged();
}

void FeedsSession::LearningChanged() {
  // Without a driver (a tool, a test) nobody would take the slices.
  if (!store_ || !rescoreWanted_) return;
  try {
    rescoring_.Start(*store_);
  } catch (const std::exception& e) {
    Log(std::string("I could not score the reading list again: ") + e.what());
    return;
  }
  if (rescoring_.Running() && rescoreWanted_) rescoreWanted_();
}

bool FeedsSession::RescoreStep(int64_t budgetMs) {
  if (!store_ || !rescoring_.Running()) return false;
  // A relevance scan waits for its workers; no scoring may start inside a nested event loop.
  if (engine_->ScanRunning()) return true;
  try {
    rescoring_.Step(*engine_, *store_, GetClock(), budgetMs);
  } catch (const std::exception& e) {
    Log(std::string("I could not score the reading list again: ") + e.what());
    rescoring_ = TRescoring();
  }
  if (rescoring_.Running()) return true;
  if (relevancesChanged_) relevancesChanged_();
  return false;
}

bool FeedsSession::SaveHeld(const std::string& what) {
  if (savesHeld_.empty()) return false;
  Log("I have not saved " + what + ", because " + savesHeld_);
  return true;
}

void FeedsSession::WriteConfig(SettingsFile& file) {
  const int threshold = host_->Threshold();
  const int format = host_->ResultsFormat();
  WriteFeedConfig(file, feeds_, threshold, format, Port());
  showRelevance_ = threshold;
  resultsFormat_ = format;
}

void FeedsSession::SaveFeedConfig() {
  host_->HideCommonIntervals();
  if (SaveHeld("zibu.conf")) return;
  SettingsFile file(ConfigPath());
  WriteConfig(file);
  SaveConfig(file);
}

void FeedsSession::SaveConfig(SettingsFile& file) {
  // A file found damaged at start-up is not made the backup copy: that copy may be all that is
  // left of the feeds it lost.
  if (Settings().backupDataFiles && configWhole_) file.SetBackupPath(ConfigBackupPath());
  SaveConfigFile(file, Port());
  if (!file.BackupProblem().empty())
    Log("I could not keep the previous zibu.conf in the backup folder (" + file.BackupProblem() +
        "); it keeps the older copy");
}

FeedsSession::SaveAllResult FeedsSession::SaveAll(SettingsFile& file) {
  SaveAllResult result;
  std::vector<std::string> problems;
  if (!SaveHeld("zibu.conf")) {
    WriteConfig(file);
    try {
      SaveConfig(file);
      result.configSaved = true;
    } catch (const std::exception& e) {
      problems.push_back("I have not saved zibu.conf: " + ErrorText(e));
    }
  }
  try {
    if (!SavesHeld()) {
      SaveData();
      result.dataSaved = true;
    } else {
      SaveHeld("the learned data");
    }
  } catch (const std::exception& e) {
    // SaveData's own text says what was not saved.
    problems.push_back(ErrorText(e));
    Log(problems.back());
  }
  for (const auto& p : problems) result.problem += (result.problem.empty() ? "" : "\r\n\r\n") + p;
  return result;
}

std::unique_ptr<SettingsFile> FeedsSession::OpenConfig() {
  auto file = std::make_unique<SettingsFile>(ConfigPath());
  if (!file->Loaded()) return file;
  const MissingFeeds missing = FindMissingFeeds(*file);
  if (!missing.Any()) return file;
  configWhole_ = false;
  std::string text = ConfigPath() + " says it holds " + std::to_string(missing.stated) +
                     " feeds (feedCount), but only " + std::to_string(missing.present) +
                     " are in it: the file is damaged, cut short perhaps.";
  // Whatever the answer, the damaged file itself is kept.
  const std::string damaged = ConfigPath() + ".damaged";
  std::error_code ec;
  if (!readOnly_) {
    std::filesystem::copy_file(ConfigPath(), damaged, std::filesystem::copy_options::overwrite_existing, ec);
    text += ec ? "\r\n\r\nI could not keep a copy of it (" + ec.message() + ")."
               : "\r\n\r\nI have kept a copy of it as " + damaged + ".";
  }
  SettingsFile backup(ConfigBackupPath());
  const bool backupWhole = std::filesystem::exists(ConfigBackupPath(), ec) && backup.Loaded() &&
                           !FindMissingFeeds(backup).Any();
  if (!backupWhole || readOnly_) {
    Port().ShowMessage(text + "\r\n\r\nThere is no whole backup copy in " + ConfigBackupPath() +
                       ", so I have read the " + std::to_string(missing.present) + " feeds that are there.");
    Log("zibu.conf is damaged: I have read the " + std::to_string(missing.present) + " of " +
        std::to_string(missing.stated) + " feeds that are there");
    return file;
  }
  const int backupFeeds = FindMissingFeeds(backup).stated;
  if (!Port().AskYesNo(text + "\r\n\r\nThe backup copy " + ConfigBackupPath() + " (the save before the last) holds " +
                       std::to_string(backupFeeds) + " feeds. Do you want me to use it?\r\n\r\nWith No I read the " +
                       std::to_string(missing.present) + " feeds that are there, and the backup copy stays as it is.")) {
    Log("zibu.conf is damaged: I have read the " + std::to_string(missing.present) + " of " +
        std::to_string(missing.stated) + " feeds that are there; the backup copy stays as it is");
    return file;
  }
  // A second name of the backup copy, renamed over the damaged file: zibu.conf is whole at every
  // moment, and the backup copy stays.
  const std::string staged = ConfigPath() + ".restore";
  std::filesystem::remove(staged, ec);
  ec.clear();
  std::filesystem::copy_file(ConfigBackupPath(), staged, std::filesystem::copy_options::overwrite_existing, ec);
  if (!ec) std::filesystem::rename(staged, ConfigPath(), ec);
  if (ec) {
    std::error_code ignored;
    std::filesystem::remove(staged, ignored);
    Port().ShowMessage("I could not put the backup copy in place of " + ConfigPath() + ": " + ec.message() +
                       "\r\n\r\nI have read the " + std::to_string(missing.present) + " feeds that are there.");
    return file;
  }
  configWhole_ = true;
  Log("I have put the backup copy " + ConfigBackupPath() + " in place of the damaged zibu.conf");
  return std::make_unique<SettingsFile>(ConfigPath());
}

void FeedsSession::SaveData() {
  // One save at a time, in the order asked for.
  WaitForSave();
  if (SaveHeld("the learned data")) return;
  engine_->SetBackupDataFiles(Settings().backupDataFiles);
  for (;;) {
    try {
      engine_->SaveData(&shownUrls_);
      return;
    } catch (const IoError& e) {
      // A full disk is the usual cause, and one the user can mend while the program waits.
      const std::string cause = ErrorText(e);
      const bool committed = dynamic_cast<const SaveNotFinished*>(&e) != nullptr;
      if (!Port().AskYesNo(SaveFailedQuestion(cause, committed))) throw IoError(SaveFailedText(cause, committed));
      Log("Trying again to save the learned data");
    }
  }
}

void FeedsSession::StartSave() {
  if (saver_) {
    saveAgain_ = true;
    return;
  }
  if (SaveHeld("the learned data")) return;
  engine_->SetBackupDataFiles(Settings().backupDataFiles);
  auto saver = std::make_unique<Saver>();
  saver->snapshot = engine_->SaveSnapshot(*saver);
  saver->shownUrls = shownUrls_;
  Saver* job = saver.get();
  std::function<void()> wake = saveWake_;
  saver_ = std::move(saver);
  job->thread = std::thread([job, wake] {
    std::string failure, error;
    bool committed = false;
    try {
      job->snapshot->SaveData(&job->shownUrls);
    } catch (const IoError& e) {
      failure = ErrorText(e);
      committed = dynamic_cast<const SaveNotFinished*>(&e) != nullptr;
    } catch (const std::exception& e) {
      error = ErrorText(e);
    }
    {
      std::lock_guard<std::mutex> lock(job->mutex);
      job->failure = failure;
      job->committed = committed;
      job->error = error;
      job->done = true;
    }
    if (wake) wake();
  });
}

void FeedsSession::FinishSave() {
  if (!saver_ || !saver_->Done()) return;
  std::unique_ptr<Saver> saver = std::move(saver_);
  if (saver->thread.joinable()) saver->thread.join();
  for (const auto& [line, verbose] : saver->lines) Log(line, verbose);
  // What the worker wrote, or found unchanged, is what the next save compares with; after a
  // failure the files are as the last save left them, which the snapshot also says.
  engine_->AdoptSaveState(*saver->snapshot);
  if (!saver->error.empty()) Log(saver->error);
  if (!saver->failure.empty()) {
    if (Port().AskYesNo(SaveFailedQuestion(saver->failure, saver->committed))) {
      Log("Trying again to save the learned data");
      saveAgain_ = false;
      StartSave();
      return;
    }
    Log(SaveFailedText(saver->failure, saver->committed));
  }
  if (saveAgain_) {
    saveAgain_ = false;
    StartSave();
  }
}

void FeedsSession::WaitForSave() {
  while (saver_) {
    if (saver_->thread.joinable()) saver_->thread.join();
    FinishSave();
  }
}

std::string FeedsSession::SaveFailedQuestion(const std::string& cause, bool committed) {
  if (committed)
    return "I could not finish saving the learned data: " + cause +
           "\r\n\r\nThe new files are written in full; I put them in place at the next start (or the next "
           "save), and the backup folder then holds the save before them.\r\n\r\nDo you want me to try "
           "again now?";
  return "I could not save the learned data: " + cause +
         "\r\n\r\nWhat I have learned in this run is not saved; the files of the last save are as they "
         "were, and so are their backups.\r\n\r\nDo you want me to try again (after you have made room, say)?";
}

std::string FeedsSession::SaveFailedText(const std::string& cause, bool committed) {
  if (committed)
    return "I have not finished saving the learned data: " + cause +
           "; the files written are put in place at the next start";
  return "I have not saved the learned data of this run: " + cause;
}

ThresholdSuggestion FeedsSession::Suggestion() const {
  return engine_->SuggestedThreshold();
}

int FeedsSession::Threshold() const {
  return host_->Threshold();
}

void FeedsSession::ShowSuggestion() {
  if (!view_) return;
  const ThresholdSuggestion s = Suggestion();
  const int now = Threshold();
  view_->ShowThresholdSuggestion(SuggestionText(s, now), s.suggested && *s.suggested != now);
}

bool FeedsSession::UseSuggestedThreshold() {
  const std::optional<int> to = Suggestion().suggested;
  if (!to || *to == Threshold()) return false;
  // Without a view the position is the one the next save writes.
  if (view_)
    view_->SetThreshold(*to);
  else
    showRelevance_ = *to;
  ShowSuggestion();
  return true;
}

void FeedsSession::FollowSuggestedThreshold() {
  if (!Settings().followSuggestedThreshold) return;
  const int from = Threshold();
  if (UseSuggestedThreshold())
    Log("I have moved the relevance threshold from " + std::to_string(from) + "% to " +
        std::to_string(Threshold()) + "%, where the articles you rated suggest it belongs");
}

HttpOptions FeedsSession::FeedHttpOptions() const {
  HttpOptions options = FeedRequestOptions(Settings().proxy);
  options.extraCaFile = Settings().caFile;
  options.connectTimeoutMs = connectTimeoutMs_;
  options.readTimeoutMs = readTimeoutMs_;
  return options;
}

void FeedsSession::SetHttpTimeouts(int connectMs, int readMs) {
  connectTimeoutMs_ = connectMs;
  readTimeoutMs_ = readMs;
}

FeedScanSettings FeedsSession::ScanSettings() {
  FeedScanSettings settings;
  settings.tempDir = TempDir();
  settings.http = FeedHttpOptions();
  settings.clock = clock_;
  // Without a hook of its own (the command line and tests set one), every item goes through the
  // scanner's triage with the scan's state.
  settings.triage = triageHook_;
  return settings;
}

void FeedsSession::SetTempDir(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir += '/';
  tempDir_ = std::move(dir);
}

int FeedsSession::ParallelDownloads() const {
  return parallelDownloads_ > 0 ? parallelDownloads_ : Settings().maxParallelDownloads;
}

TScanJob* FeedsSession::StartScan(ScanKind kind, std::function<void()> wake, std::vector<size_t> chosen) {
  if (job_) return nullptr;
  if (kind == ScanKind::Scheduled && !scanner_->UserLeftAlone()) return nullptr;
  ScanJobSettings settings;
  settings.kind = kind;
  settings.scan = ScanSettings();
  // The learning run fetches its one feed; the others go as wide as allowed.
  settings.maxParallel = kind == ScanKind::Learning ? 1 : ParallelDownloads();
  settings.fetch = fetch_;
  settings.wake = std::move(wake);
  settings.chosen = std::move(chosen);
  settings.store = store_.get();
  job_ = std::make_unique<TScanJob>(feeds_, *scanner_, *host_, Port(), *sessionClock_, std::move(settings));
  job_->SetShownUrls(&shownUrls_);
  return job_.get();
}

ScanStep FeedsSession::AdvanceScan() {
  if (!job_) return ScanStep::Done;
  // The presentation's rating windows run event loops of their own: a wake that arrives there
  // finds the step still going, and the step's own end decides what comes next.
  if (advancing_) return ScanStep::Download;
  advancing_ = true;
  const ScanStep wait = job_->Advance();
  advancing_ = false;
  if (wait == ScanStep::Done) job_.reset();
  return wait;
}

bool FeedsSession::RunScan(ScanKind kind, std::vector<size_t> chosen) {
  if (!StartScan(kind, {}, std::move(chosen))) return false;
  job_->RunToEnd();
  job_.reset();
  return true;
}

void FeedsSession::AbandonScan() {
  if (!job_) return;
  job_->Cancel();
  job_.reset();
}

void FeedsSession::RequestCancel() {
  if (job_) job_->Cancel();
}

void FeedsSession::HoldScans() {
  ++scanHolds_;
  host_->StopTimer();
  RequestCancel();
}

void FeedsSession::ReleaseScans() {
  if (scanHolds_ > 0) --scanHolds_;
  host_->StartTimer();
}

}  // namespace zibu
