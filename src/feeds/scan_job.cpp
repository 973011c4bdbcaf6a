#include "feeds/scan_job.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <thread>

#include "common/errors.h"
#include "common/codepage.h"
#include "common/global_settings.h"
#include "common/text.h"
#include "feeds/learning_run.h"
#include "feeds/shown_memory.h"

namespace zibu {

namespace {
// The longest the idle gate lets the user be before looking again.
constexpr int64_t kIdleRecheckMaxMs = 2500;
constexpr int64_t kIdleRecheckMinMs = 100;
}  // namespace

TScanJob::TScanJob(std::vector<TFeed>& feeds, TFeedScanner& scanner, ScanHost& host, UserPort& port,
                   const Clock& clock, ScanJobSettings settings)
    : feeds_(feeds), scanner_(scanner), host_(host), port_(port), clock_(clock), settings_(std::move(settings)) {
  TDownloadPool::Fetch fetch = settings_.fetch;
  if (!fetch) fetch = [](const std::string& url, const HttpOptions& options) { return HttpGetResponse(url, options); };
  // The address is encoded on the worker, as the one-at-a-time download does it, so an address
  // that cannot be encoded fails like any other download.
  pool_ = std::make_unique<TDownloadPool>(
      settings_.maxParallel, settings_.perHost,
      [fetch](const std::string& url, const HttpOptions& options) { return fetch(UrlEncode(url), options); },
      settings_.wake);
  settings_.scan.cancelRequested = &state_.cancelRequested;
  if (settings_.store) keeper_ = std::make_unique<TArticleKeeper>(*settings_.store);
  if (!settings_.scan.triage)
    settings_.scan.triage = [this](TFeed& feed, TItem& item, Items& into) { TriageItem(feed, item, into); };
}

TScanJob::~TScanJob() = default;

void TScanJob::TriageItem(const TFeed& feed, TItem& item, Items& into) {
  if (!keeper_) {
    scanner_.TriageItem(state_, feed, item, into);
    return;
  }
  // The reading list shows the article's text as the feed wrote it; triage leaves it plain.
  std::string html = item.DescriptionUtf8.empty() ? Win1252ToUtf8(item.Description) : item.DescriptionUtf8;
  const TriageOutcome outcome = scanner_.TriageItem(state_, feed, item, into);
  keeper_->Add(std::move(html), item, outcome, state_.isLearning);
}

void TScanJob::Cancel() {
  state_.cancelRequested = true;
  pool_->AbandonAll();
}

bool TScanJob::Due(const TFeed& feed) const {
  return static_cast<int64_t>(feed.refreshInterval) * 1000 <= clock_.NowMs() - feed.lastRefresh;
}

bool TScanJob::UserBusy() const {
  const int64_t required = host_.Settings().runAfterIdleForMs;
  return required >= 0 && static_cast<int64_t>(clock_.IdleMs()) < required;
}

int64_t TScanJob::IdleRecheckMs() const {
  const int64_t left = host_.Settings().runAfterIdleForMs - static_cast<int64_t>(clock_.IdleMs());
  return std::clamp(left, kIdleRecheckMinMs, kIdleRecheckMaxMs);
}

TFeed& TScanJob::FeedAt(size_t index) {
  return settings_.kind == ScanKind::Learning ? learningCopy_ : feeds_[index];
}

void TScanJob::RestoreMemory() {
  if (!setAside_ || !shownUrls_) return;
  RestoreAfterLearning(*shownUrls_, *setAside_, state_.presentedWhileLearning);
  state_.presentedWhileLearning.Clear();
  setAside_.reset();
}

void TScanJob::BeginLearning() {
  state_.cancelRequested = false;
  host_.StopTimer();
  stage_ = Stage::Walking;
  const int selected = host_.SelectedFeed();
  if (selected < 0 || selected >= static_cast<int>(feeds_.size())) {
    port_.ShowMessage("Please select a feed to use for learning");
    stage_ = Stage::Finishing;
    return;
  }
  if (host_.Settings().firstTime) port_.ShowMessage(kLearningIntro);
  state_.isLearning = true;
  if (shownUrls_) {
    setAside_ = std::make_unique<TCompMap>();
    setAside_->AddAll(*shownUrls_);
    shownUrls_->Clear();
    state_.presentedWhileLearning.Clear();
  }
  // A copy: the feed in the list keeps its own rules and its time of last refresh.
  learningCopy_ = feeds_[selected];
  learningCopy_.keywords = LearningRules();
  state_.results.clear();
  order_.push_back(static_cast<size_t>(selected));
}

void TScanJob::FinishLearning() {
  if (!order_.empty()) {
    scanner_.PresentResults(state_, state_.results);
    state_.results.clear();
    RestoreMemory();
    host_.SaveFeedConfig();
    host_.SaveData();
    port_.ShowMessage(kLearningFinished);
  }
  Release();
}

void TScanJob::Begin() {
  if (settings_.kind == ScanKind::Learning) {
    BeginLearning();
    return;
  }
  if (settings_.kind == ScanKind::Scheduled) host_.HideCommonIntervals();
  host_.StopTimer();
  state_.cancelRequested = false;
  host_.EnableControls(false);
  state_.results.clear();
  stage_ = Stage::Walking;
  next_ = 0;
  if (settings_.kind != ScanKind::SelectedFeed) {
    port_.Log("Searching all active feeds");
    for (size_t i = 0; i < feeds_.size(); ++i) order_.push_back(i);
    return;
  }
  if (!settings_.chosen.empty()) {
    for (size_t i : settings_.chosen)
      if (i < feeds_.size()) order_.push_back(i);
    std::sort(order_.begin(), order_.end());
    order_.erase(std::unique(order_.begin(), order_.end()), order_.end());
    return;
  }
  const int selected = host_.SelectedFeed();
  if (selected < 0 || selected >= static_cast<int>(feeds_.size())) {
    port_.ShowMessage("Please select a feed to search");
    stage_ = Stage::Finishing;
    return;
  }
  order_.push_back(static_cast<size_t>(selected));
}

void TScanJob::Submit(size_t index) {
  const int ticket = nextTicket_++;
  tickets_[index] = ticket;
  // The worker reads the items too: they depend on nothing but the bytes it fetched.
  const std::string keptCopy = settings_.scan.tempDir + CachedFeedFileName(FeedAt(index).url);
  pool_->Submit(ticket, FeedAt(index).url, FeedDownloadOptions(FeedAt(index), settings_.scan),
                [keptCopy](PooledDownload& download, const std::atomic<bool>& abandoned) {
                  ReadDownloadedFeed(download, keptCopy, &abandoned);
                });
}

void TScanJob::StartDueDownloads(size_t from) {
  for (size_t k = from; k < order_.size(); ++k) {
    const TFeed& feed = FeedAt(order_[k]);
    if (settings_.kind >= ScanKind::SelectedFeed || (feed.active && Due(feed))) Submit(order_[k]);
  }
}

ScanStep TScanJob::Walk() {
  const bool everyFeed = settings_.kind == ScanKind::Scheduled || settings_.kind == ScanKind::ActiveFeeds;
  while (next_ < order_.size()) {
    const size_t index = order_[next_];
    TFeed& feed = FeedAt(index);
    if (!turnStarted_) {
      // As between two feeds of a one-at-a-time scan: a Cancel scans no further feed.
      if (state_.cancelRequested) break;
      if (everyFeed) {
        if (!feed.active) {
          port_.Log("Ignoring inactive feed " + feed.url);
          ++next_;
          continue;
        }
        if (!Due(feed)) {
          port_.Log("Ignoring feed " + feed.url + " as recently scanned", true);
          ++next_;
          continue;
        }
        if (settings_.kind == ScanKind::Scheduled && UserBusy()) {
          if (!busyLogged_) port_.Log("User is busy, waiting for idle...");
          busyLogged_ = true;
          return ScanStep::Idle;
        }
      }
      busyLogged_ = false;
      if (!downloadsStarted_) {
        StartDueDownloads(next_);
        downloadsStarted_ = true;
      }
      // Due only now (the scan went on for a while): fetched on its own.
      if (tickets_.count(index) == 0) Submit(index);
      turnStarted_ = true;
    }
    if (!turn_ && !pool_->Finished(tickets_[index])) return ScanStep::Download;
    // A long feed's triage goes on at the next step, after the events that came meanwhile.
    if (!ScanTurn(index)) return ScanStep::Ready;
    turnStarted_ = false;
    ++next_;
    // One feed per step, so a Cancel click (or anything else) is seen between two feeds.
    if (next_ < order_.size()) return ScanStep::Ready;
  }
  stage_ = Stage::Finishing;
  return ScanStep::Ready;
}

bool TScanJob::ScanTurn(size_t index) {
  if (!turn_) {
    PooledDownload download = pool_->Take(tickets_[index]);
    tickets_.erase(index);
    turn_ = std::make_unique<TFeedTurn>(FeedAt(index), std::move(download), settings_.scan, port_);
    // Writing a large download file takes a while of its own: the triage begins at the next step.
    if (settings_.triageSliceMs > 0) return false;
  }
  if (!keeping_) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(settings_.triageSliceMs);
    if (!turn_->Triage(FeedAt(index), state_.results, until)) return false;
    turn_->Finish(FeedAt(index));
    keeping_ = keeper_ != nullptr;
    // The store's part gets steps of its own, as a long feed's triage does.
    if (keeping_ && settings_.triageSliceMs > 0) return false;
  }
  if (keeping_) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(settings_.triageSliceMs);
    if (!keeper_->Keep(FeedAt(index).url, clock_.NowMs(), [this](std::string_view text) { return scanner_.Score(text); },
                       port_, until))
      return false;
    keeping_ = false;
  }
  turn_.reset();
  // The learning run scans a copy: a title it found, or the characters it found for the title,
  // are the list's feed's too.
  if (settings_.kind == ScanKind::Learning) {
    TFeed& listed = feeds_[index];
    if (listed.title.empty() || (listed.titleUtf8.empty() && listed.title == learningCopy_.title)) {
      listed.title = learningCopy_.title;
      listed.titleUtf8 = learningCopy_.titleUtf8;
    }
  }
  return true;
}

void TScanJob::Release() {
  if (released_) return;
  released_ = true;
  state_.results.clear();
  if (settings_.kind == ScanKind::Learning) {
    // Whatever ended the run, the memory is as it was before it plus the articles presented so
    // far: articles the run read but never put before the user can still be shown by later scans.
    RestoreMemory();
    state_.isLearning = false;
  } else {
    host_.EnableControls(true);
  }
  host_.StartTimer();
}

void TScanJob::Finish() {
  if (settings_.kind == ScanKind::Learning) {
    FinishLearning();
    return;
  }
  if (settings_.kind == ScanKind::SelectedFeed) {
    // What was found before a cancel is presented all the same.
    if (!order_.empty()) scanner_.PresentResults(state_, state_.results);
    Release();
    return;
  }
  if (!state_.cancelRequested) scanner_.PresentResults(state_, state_.results);
  port_.Log("Finished searching active feeds");
  Release();
  if (settings_.kind == ScanKind::Scheduled && clock_.NowMs() - scanner_.lastSaveTime > scanner_.saveConfigIntervalMs) {
    host_.SaveFeedConfig();
    host_.SaveData();
    scanner_.lastSaveTime = clock_.NowMs();
  }
}

ScanStep TScanJob::Advance() {
  if (stage_ == Stage::Done) return ScanStep::Done;
  try {
    if (stage_ == Stage::NotStarted) Begin();
    if (stage_ == Stage::Walking) {
      const ScanStep wait = Walk();
      if (stage_ == Stage::Walking) return wait;
    }
    if (stage_ == Stage::Finishing) {
      Finish();
      stage_ = Stage::Done;
    }
  } catch (const std::exception& e) {
    stage_ = Stage::Done;
    try {
      Release();
    } catch (...) {
    }
    port_.Log(ErrorText(e));
  }
  if (stage_ == Stage::Done) pool_->AbandonAll();
  return stage_ == Stage::Done ? ScanStep::Done : ScanStep::Ready;
}

void TScanJob::RunToEnd() {
  for (;;) {
    switch (Advance()) {
      case ScanStep::Done:
        return;
      case ScanStep::Ready:
        break;
      case ScanStep::Idle:
        std::this_thread::sleep_for(std::chrono::milliseconds(IdleRecheckMs()));
        break;
      case ScanStep::Download:
        pool_->WaitForAny(200);
        break;
    }
  }
}

}  // namespace zibu
