// A small HTTP server on 127.0.0.1 for tests: binds a free port, answers from a background
// thread, and records every request it receives so a test can check what a client sent.
//
//   zibu::test::LoopbackServer server;
//   server.ServeBody("/feed.xml", "<rss/>", "text/xml");
//   server.ServeRedirect("/old", server.Url("/feed.xml"));
//   HttpGet(server.Url("/old"), options);
//   EXPECT_EQ(server.LastRequest("/feed.xml")->Header("User-Agent"), "Mozilla/4.0");
//
// Routes may be added or replaced while the server runs. A path without a route answers 404.
// LoopbackServer(TestTls()) speaks https with the test certificate of tests/data/tls, which a
// client trusts through HttpOptions::extraCaFile = TestCaFile().
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace zibu::test {

// One request as the server saw it.
struct ReceivedRequest {
  std::string method;
  std::string path;                                 // without the query
  std::string target;                               // path and query as sent
  std::multimap<std::string, std::string> headers;  // names as sent

  // The first header of that name (case-insensitive), or "" when absent.
  std::string Header(const std::string& name) const;
  bool HasHeader(const std::string& name) const;
};

// A certificate and its private key, PEM files.
struct TlsFiles {
  std::string certificateFile;
  std::string keyFile;
};
// The server certificate of tests/data/tls (for 127.0.0.1, ::1 and localhost), and the file of
// the test authority that signed it.
TlsFiles TestTls();
std::string TestCaFile();

class LoopbackServer {
 public:
  using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

  LoopbackServer();                              // listening when the constructor returns
  explicit LoopbackServer(const TlsFiles& tls);  // the same over TLS
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  int Port() const { return port_; }
  // "http://127.0.0.1:PORT" + path ("https://" over TLS); path should begin with "/".
  std::string Url(const std::string& path = "/") const;

  // GET (and HEAD) of `path` answers 200 with the body bytes and content type.
  void ServeBody(const std::string& path, std::string body, std::string contentType = "text/html");
  // Answers `status` (301, 302, 303, 307, 308) with a Location header.
  void ServeRedirect(const std::string& path, std::string location, int status = 302);
  // Answers `status` with a small text body.
  void ServeStatus(const std::string& path, int status, std::string body = "");
  // Waits `delayMs` before answering 200 with the body; the wait ends early when the server stops,
  // so a test's time-out case does not hold up its tear-down.
  void ServeDelayed(const std::string& path, int delayMs, std::string body,
                    std::string contentType = "text/html");
  // Any answer at all (also used for POST).
  void Serve(const std::string& path, Handler handler);
  void Remove(const std::string& path);

  // Requests received so far, in arrival order.
  std::vector<ReceivedRequest> Requests() const;
  std::optional<ReceivedRequest> LastRequest(const std::string& path) const;
  size_t RequestCount(const std::string& path) const;
  void ClearRequests();

  // Sleeps up to `ms` and returns early (false) when the server is stopping. For custom handlers.
  bool SleepUnlessStopping(int ms);

  // Stops listening and joins the thread; the destructor calls it.
  void Stop();

 private:
  void Dispatch(const httplib::Request& req, httplib::Response& res);
  void Start();

  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = 0;
  bool tls_ = false;
  std::atomic<bool> stopping_{false};

  mutable std::mutex mutex_;
  std::condition_variable stopCv_;
  std::map<std::string, Handler> routes_;
  std::vector<ReceivedRequest> requests_;
};

// A loopback port on which nothing listens (bound, then released), for "connection refused".
int UnusedLoopbackPort();

}  // namespace zibu::test
