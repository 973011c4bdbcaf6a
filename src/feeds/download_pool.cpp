#include "feeds/download_pool.h"

#include <algorithm>
#include <chrono>

#include "common/errors.h"
#include "common/text.h"

namespace zibu {

std::string DownloadHostOf(const std::string& url) {
  const size_t scheme = url.find("://");
  if (scheme == std::string::npos) return UpperCase(url);
  const size_t end = url.find_first_of("/?#", scheme + 3);
  return UpperCase(url.substr(0, end));
}

TDownloadPool::TDownloadPool(int maxParallel, int perHost, Fetch fetch, std::function<void()> wake)
    : maxParallel_(std::max(1, maxParallel)),
      perHost_(std::max(1, perHost)),
      fetch_(std::move(fetch)),
      wake_(std::move(wake)) {
  if (!fetch_) fetch_ = [](const std::string& url, const HttpOptions& options) { return HttpGetResponse(url, options); };
}

TDownloadPool::~TDownloadPool() {
  abandon_ = true;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
  }
  work_.notify_all();
  for (std::thread& t : workers_) t.join();
}

void TDownloadPool::Submit(int ticket, const std::string& url, const HttpOptions& options, Digest digest) {
  if (abandon_) {
    PooledDownload cancelled;
    cancelled.error = std::make_exception_ptr(HttpError("Download of " + Excerpt(url) + " cancelled", kCancelledKind));
    Store(ticket, std::move(cancelled));
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back({ticket, url, options, DownloadHostOf(url), std::move(digest)});
    // A worker per download wanted, up to the limit; they stay for the pool's life.
    if (static_cast<int>(workers_.size()) < maxParallel_ &&
        static_cast<int>(workers_.size()) < running_ + static_cast<int>(queue_.size()))
      workers_.emplace_back([this] { Work(); });
  }
  work_.notify_all();
}

bool TDownloadPool::NextRunnable(Pending& out) {
  for (auto it = queue_.begin(); it != queue_.end(); ++it) {
    if (runningPerHost_[it->host] >= perHost_) continue;
    out = std::move(*it);
    queue_.erase(it);
    return true;
  }
  return false;
}

void TDownloadPool::Work() {
  for (;;) {
    Pending job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      work_.wait(lock, [&] { return closing_ || NextRunnable(job); });
      if (closing_) return;
      ++running_;
      mostRunning_ = std::max(mostRunning_, running_);
      ++runningPerHost_[job.host];
    }
    PooledDownload result;
    try {
      job.options.cancel = &abandon_;
      result.response = fetch_(job.url, job.options);
    } catch (...) {
      result.error = std::current_exception();
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      --running_;
      --runningPerHost_[job.host];
    }
    // The host has room again: another worker may take a download that waited for it.
    work_.notify_all();
    if (job.digest) job.digest(result, abandon_);
    Store(job.ticket, std::move(result));
  }
}

void TDownloadPool::Store(int ticket, PooledDownload result) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_[ticket] = std::move(result);
    ++endings_;
  }
  done_.notify_all();
  if (wake_) wake_();
}

bool TDownloadPool::Finished(int ticket) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return finished_.count(ticket) != 0;
}

PooledDownload TDownloadPool::Take(int ticket) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = finished_.find(ticket);
  if (it == finished_.end()) return {};
  PooledDownload out = std::move(it->second);
  finished_.erase(it);
  return out;
}

void TDownloadPool::AbandonAll() {
  abandon_ = true;
  std::deque<Pending> dropped;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    dropped.swap(queue_);
  }
  for (const Pending& p : dropped) {
    PooledDownload cancelled;
    cancelled.error =
        std::make_exception_ptr(HttpError("Download of " + Excerpt(p.url) + " cancelled", kCancelledKind));
    Store(p.ticket, std::move(cancelled));
  }
}

void TDownloadPool::WaitForAny(int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return endings_ != endingsSeen_; });
  endingsSeen_ = endings_;
}

int TDownloadPool::Running() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return running_;
}

int TDownloadPool::MostRunning() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return mostRunning_;
}

}  // namespace zibu
