// Feed downloads on worker threads: several at once, at most a few to one host, each with the
// deadline of its own request, all abandoned at once on demand. The pool fetches, and lets the
// worker turn the result into what needs no one else's state (a feed's items read from the
// bytes); what a result means is decided by whoever takes it, on its own thread and in its own
// order.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "http/http_client.h"

namespace zibu {

// The most downloads a scan runs at once when zibu.conf does not say (maxParallelDownloads).
inline constexpr int kDefaultParallelDownloads = 8;
// A feed reader that opens more connections to one server than this looks like an attack.
inline constexpr int kDownloadsPerHost = 2;

struct FeedDocument;

// What one download brought: the response, or the error it failed with, and what the worker
// made of it after the GET (the items of a feed document, say).
struct PooledDownload {
  HttpResponse response;
  std::exception_ptr error;  // null on success
  std::shared_ptr<FeedDocument> document;
};

// "http://Example.org:8080" of "http://Example.org:8080/feed?x": what the per-host limit counts,
// in upper case (host names are not case-sensitive). An address without "://" is its own host.
std::string DownloadHostOf(const std::string& url);

class TDownloadPool {
 public:
  // One GET; the pool sets options.cancel to its own abandon flag.
  using Fetch = std::function<HttpResponse(const std::string& url, const HttpOptions& options)>;
  // Runs on the worker after the GET, whatever its outcome; `abandoned` turns true when the pool
  // abandons its work. Must not throw.
  using Digest = std::function<void(PooledDownload& download, const std::atomic<bool>& abandoned)>;

  // `wake` is called after each download ends (on a worker, or in AbandonAll for queued ones), so an
  // event loop can be told; it must not call back into the pool. `fetch` null: HttpGetResponse.
  TDownloadPool(int maxParallel, int perHost, Fetch fetch = {}, std::function<void()> wake = {});
  // Abandons what is still running and waits for the workers, which end within moments.
  ~TDownloadPool();
  TDownloadPool(const TDownloadPool&) = delete;
  TDownloadPool& operator=(const TDownloadPool&) = delete;

  // Queues a download under a ticket of the caller's choosing (unique per pool). Downloads start
  // in the order they were queued, a later one first only while the earlier one's host is busy.
  // `digest` (may be null) works on the result before it is stored.
  void Submit(int ticket, const std::string& url, const HttpOptions& options, Digest digest = {});
  bool Finished(int ticket) const;
  // The result of a finished download; it leaves the pool.
  PooledDownload Take(int ticket);
  // Every download in flight is abandoned at once and every queued one fails without starting;
  // their results say "cancelled". Later submissions fail the same way.
  void AbandonAll();
  // Waits until some download has ended since the last call, or `timeoutMs` has passed. For
  // callers without an event loop (the command line, tests).
  void WaitForAny(int timeoutMs);
  // Downloads running now, and the most that ever ran at once.
  int Running() const;
  int MostRunning() const;

 private:
  struct Pending {
    int ticket;
    std::string url;
    HttpOptions options;
    std::string host;
    Digest digest;
  };
  void Work();
  // The first queued download whose host has room; false when none. Called under the lock.
  bool NextRunnable(Pending& out);
  void Store(int ticket, PooledDownload result);

  const int maxParallel_;
  const int perHost_;
  Fetch fetch_;
  std::function<void()> wake_;
  std::atomic<bool> abandon_{false};

  mutable std::mutex mutex_;
  std::condition_variable work_;  // a download was queued, or the pool is closing
  std::condition_variable done_;  // a download ended
  std::deque<Pending> queue_;
  std::map<std::string, int> runningPerHost_;
  std::map<int, PooledDownload> finished_;
  int running_ = 0;
  int mostRunning_ = 0;
  uint64_t endings_ = 0, endingsSeen_ = 0;
  bool closing_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace zibu
