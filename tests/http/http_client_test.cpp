// HttpGet against loopback servers: what it sends, what it follows, and how each failure reaches
// the caller.
#include "http/http_client.h"
#include "http/url_resolve.h"

#include <brotli/encode.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <optional>
#include <thread>

#include "common/codepage.h"
#include "support/loopback_server.h"

namespace zibu {
namespace {

using std::chrono::milliseconds;
using test::LoopbackServer;

HttpOptions ShortTimeouts() {
  HttpOptions o;
  o.connectTimeoutMs = 2000;
  o.readTimeoutMs = 2000;
  return o;
}

// Runs `call`, expects an HttpError of `kind`, and returns it for further checks.
HttpError ExpectHttpError(const std::function<void()>& call, const std::string& kind) {
  try {
    call();
  } catch (const HttpError& e) {
    EXPECT_EQ(e.Kind(), kind) << e.what();
    EXPECT_STRNE(e.what(), "");
    return e;
  }
  ADD_FAILURE() << "no HttpError of kind " << kind;
  return HttpError("", "");
}

int64_t ElapsedMs(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - since).count();
}

// A TCP server on 127.0.0.1 that reads each request's head and then hands the socket to a
// script: for the answers an HTTP library would never send (trickles, endless interim
// responses, giant status lines). Connections are served one after another.
class RawServer {
 public:
  using Script = std::function<void(int fd)>;

  explicit RawServer(Script script) : script_(std::move(script)) {
    listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    if (listen_ < 0 || ::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len) != 0 || ::listen(listen_, 4) != 0)
      throw std::runtime_error("raw server: cannot listen");
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~RawServer() {
    stopping_ = true;
    thread_.join();
    ::close(listen_);
  }

  std::string Url(const std::string& path = "/") const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  int Port() const { return port_; }

  // Sends `piece` every `gapMs` until the client goes away or the server stops.
  void Repeat(int fd, const std::string& piece, int gapMs) const {
    while (!stopping_ && Send(fd, piece)) std::this_thread::sleep_for(milliseconds(gapMs));
  }
  static bool Send(int fd, const std::string& bytes) {
    return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }

 private:
  void Run() {
    while (!stopping_) {
      pollfd p{listen_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const int fd = ::accept(listen_, nullptr, nullptr);
      if (fd < 0) continue;
      std::string head;
      char buf[4096];
      while (!stopping_ && head.find("\r\n\r\n") == std::string::npos) {
        pollfd c{fd, POLLIN, 0};
        if (::poll(&c, 1, 50) <= 0) continue;
        const ssize_t n = ::recv(fd, buf, sizeof(buf), 0);
        if (n <= 0) break;
        head.append(buf, static_cast<size_t>(n));
      }
      if (head.find("\r\n\r\n") != std::string::npos) script_(fd);
      ::close(fd);
    }
  }

  Script script_;
  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

std::string Compressed(const std::string& encoding, const std::string& data) {
  if (encoding == "br") {
    std::string out(BrotliEncoderMaxCompressedSize(data.size()), '\0');
    size_t size = out.size();
    BrotliEncoderCompress(BROTLI_DEFAULT_QUALITY, BROTLI_DEFAULT_WINDOW, BROTLI_MODE_GENERIC, data.size(),
                          reinterpret_cast<const uint8_t*>(data.data()), &size,
                          reinterpret_cast<uint8_t*>(out.data()));
    out.resize(size);
    return out;
  }
  // gzip wraps the deflate stream in a gzip header, "deflate" in HTTP means the zlib format.
  z_stream z{};
  deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, encoding == "gzip" ? 15 + 16 : 15, 9, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, data.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

TEST(HttpGet, ReturnsBinaryBodyByteForByte) {
  LoopbackServer server;
  std::string body;
  for (int round = 0; round < 300; ++round)
    for (int b = 0; b < 256; ++b) body.push_back(static_cast<char>((b + round) & 0xFF));
  server.ServeBody("/blob", body, "application/octet-stream");
  server.ServeBody("/empty", "", "text/plain");
  // A declared charset must not lead to any conversion.
  server.ServeBody("/latin", "caf\xE9 \x80\x9F\xFF", "text/html; charset=utf-8");

  EXPECT_EQ(HttpGet(server.Url("/blob"), ShortTimeouts()), body);
  EXPECT_EQ(HttpGet(server.Url("/empty"), ShortTimeouts()), "");
  EXPECT_EQ(HttpGet(server.Url("/latin"), ShortTimeouts()), "caf\xE9 \x80\x9F\xFF");
}

TEST(HttpGet, SendsTheFourHeadersAndUsesGet) {
  LoopbackServer server;
  server.ServeBody("/page", "ok");
  ASSERT_EQ(HttpGet(server.Url("/page"), ShortTimeouts()), "ok");
  auto request = server.LastRequest("/page");
  ASSERT_TRUE(request);
  EXPECT_EQ(request->method, "GET");
  EXPECT_EQ(request->Header("User-Agent"), "Mozilla/4.0");
  EXPECT_EQ(request->Header("Connection"), "Keep-Alive");
  EXPECT_EQ(request->Header("Proxy-Connection"), "Keep-Alive");
  EXPECT_EQ(request->Header("Cache-Control"), "no-cache");
}

TEST(HttpGet, NeitherKeepsNorSendsCookies) {
  LoopbackServer server;
  server.Serve("/login", [&](const httplib::Request&, httplib::Response& res) {
    res.set_header("Set-Cookie", "session=abc123; Path=/");
    res.set_redirect(server.Url("/inside"), 302);
  });
  server.Serve("/inside", [](const httplib::Request&, httplib::Response& res) {
    res.set_header("Set-Cookie", "second=xyz; Path=/");
    res.set_content("inside", "text/plain");
  });
  EXPECT_EQ(HttpGet(server.Url("/login"), ShortTimeouts()), "inside");
  EXPECT_EQ(HttpGet(server.Url("/inside"), ShortTimeouts()), "inside");
  for (const auto& request : server.Requests()) EXPECT_FALSE(request.HasHeader("Cookie")) << request.path;
  EXPECT_EQ(server.RequestCount("/inside"), 2u);
}

TEST(HttpGet, FollowsRedirectChainsAndRelativeLocations) {
  LoopbackServer server;
  server.ServeRedirect("/a", server.Url("/b"), 301);
  server.ServeRedirect("/b", "/c", 302);  // relative
  server.ServeRedirect("/c", "d", 307);   // relative to the folder
  server.ServeBody("/d", "final body");
  EXPECT_EQ(HttpGet(server.Url("/a"), ShortTimeouts()), "final body");
  EXPECT_EQ(server.RequestCount("/d"), 1u);
  // The headers go with every hop, not only the first.
  EXPECT_EQ(server.LastRequest("/d")->Header("User-Agent"), "Mozilla/4.0");
}

TEST(HttpGet, RedirectBodyIsNotPartOfTheResult) {
  LoopbackServer server;
  server.Serve("/moved", [&](const httplib::Request&, httplib::Response& res) {
    res.status = 302;
    res.set_header("Location", server.Url("/here"));
    res.set_content("<html>moved</html>", "text/html");
  });
  server.ServeBody("/here", "here");
  EXPECT_EQ(HttpGet(server.Url("/moved"), ShortTimeouts()), "here");
}

TEST(HttpGet, FollowsRedirectToAnotherServer) {
  LoopbackServer first;
  LoopbackServer second;
  first.ServeRedirect("/feed", second.Url("/real-feed.xml"), 302);
  second.ServeBody("/real-feed.xml", "<rss/>", "text/xml");
  EXPECT_EQ(HttpGet(first.Url("/feed"), ShortTimeouts()), "<rss/>");
  EXPECT_EQ(second.RequestCount("/real-feed.xml"), 1u);
  EXPECT_EQ(second.LastRequest("/real-feed.xml")->Header("Cache-Control"), "no-cache");
}

TEST(HttpGet, ErrorStatusIsAnErrorWithTheStatusLine) {
  LoopbackServer server;
  server.ServeStatus("/gone", 404, "no such page");
  server.ServeRedirect("/moved", "/broken", 301);
  server.ServeStatus("/broken", 500, "boom");
  server.ServeStatus("/empty-error", 503, "");

  HttpError notFound =
      ExpectHttpError([&] { HttpGet(server.Url("/gone"), ShortTimeouts()); }, kHttpErrorKind);
  EXPECT_EQ(notFound.Status(), 404);
  EXPECT_NE(std::string(notFound.what()).find("404 Not Found"), std::string::npos) << notFound.what();

  HttpError afterRedirect =
      ExpectHttpError([&] { HttpGet(server.Url("/moved"), ShortTimeouts()); }, kHttpErrorKind);
  EXPECT_EQ(afterRedirect.Status(), 500);
  EXPECT_NE(std::string(afterRedirect.what()).find("500"), std::string::npos) << afterRedirect.what();

  HttpError noBody =
      ExpectHttpError([&] { HttpGet(server.Url("/empty-error"), ShortTimeouts()); }, kHttpErrorKind);
  EXPECT_EQ(noBody.Status(), 503);
}

TEST(HttpGet, EndlessRedirectsStop) {
  LoopbackServer server;
  server.ServeRedirect("/loop", "/loop", 302);
  HttpOptions options = ShortTimeouts();
  options.maxRedirects = 5;
  ExpectHttpError([&] { HttpGet(server.Url("/loop"), options); }, kHttpErrorKind);
  EXPECT_EQ(server.RequestCount("/loop"), 6u);
}

TEST(HttpGet, RedirectToAnotherProtocolIsRefused) {
  LoopbackServer server;
  server.ServeRedirect("/sneaky", "file:///etc/passwd", 302);
  ExpectHttpError([&] { HttpGet(server.Url("/sneaky"), ShortTimeouts()); }, kHttpErrorKind);
  ExpectHttpError([&] { HttpGet("file:///etc/passwd", ShortTimeouts()); }, kHttpErrorKind);
}

TEST(HttpGet, ReadTimeOutWhenTheServerDoesNotAnswer) {
  LoopbackServer server;
  server.ServeDelayed("/slow", 5000, "too late");
  HttpOptions options = ShortTimeouts();
  options.readTimeoutMs = 300;
  auto start = std::chrono::steady_clock::now();
  HttpError e = ExpectHttpError([&] { HttpGet(server.Url("/slow"), options); }, kTimeoutKind);
  int64_t elapsed = ElapsedMs(start);
  EXPECT_GE(elapsed, 250);
  EXPECT_LT(elapsed, 1500);
  EXPECT_NE(std::string(e.what()).find("300 ms"), std::string::npos) << e.what();
}

TEST(HttpGet, ReadTimeOutIsPerGapNotForTheWholeDownload) {
  LoopbackServer server;
  // Six pieces 150 ms apart: the whole answer takes longer than the read time-out, no gap does.
  // Sent as octet-stream, which the server does not compress: a compressor would hold the pieces.
  server.Serve("/trickle", [&](const httplib::Request&, httplib::Response& res) {
    res.set_chunked_content_provider("application/octet-stream", [&](size_t offset, httplib::DataSink& sink) {
      if (offset >= 6) {
        sink.done();
        return true;
      }
      if (!server.SleepUnlessStopping(150)) return false;
      return sink.write("x", 1);
    });
  });
  HttpOptions options = ShortTimeouts();
  options.readTimeoutMs = 600;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(HttpGet(server.Url("/trickle"), options), "xxxxxx");
  EXPECT_GT(ElapsedMs(start), 600);

  // A stall in the middle of the body still times out.
  server.Serve("/stall", [&](const httplib::Request&, httplib::Response& res) {
    res.set_chunked_content_provider("application/octet-stream", [&](size_t offset, httplib::DataSink& sink) {
      if (offset == 0) return sink.write("start", 5);
      server.SleepUnlessStopping(5000);
      return false;
    });
  });
  options.readTimeoutMs = 300;
  ExpectHttpError([&] { HttpGet(server.Url("/stall"), options); }, kTimeoutKind);
}

// The cancel flag, set by another thread, abandons the request in flight promptly, whether the
// server has not answered yet or is in the middle of the body; a flag left false changes nothing.
TEST(HttpGet, ACancelFlagSetElsewhereAbandonsTheRequestInFlight) {
  LoopbackServer server;
  server.ServeDelayed("/silent", 30000, "never");
  server.Serve("/trickle", [&](const httplib::Request&, httplib::Response& res) {
    res.set_chunked_content_provider("text/plain", [&](size_t, httplib::DataSink& sink) {
      if (!server.SleepUnlessStopping(100)) return false;
      return sink.write("x", 1);
    });
  });
  server.ServeBody("/quick", "fine");
  struct Case {
    const char* path;
    int cancelAfterMs;  // -1: never
  };
  for (const Case& c : {Case{"/silent", 200}, Case{"/trickle", 300}, Case{"/quick", -1}}) {
    std::atomic<bool> cancel{false};
    HttpOptions options = ShortTimeouts();
    options.readTimeoutMs = 60000;
    options.cancel = &cancel;
    std::thread canceller([&] {
      if (c.cancelAfterMs < 0) return;
      std::this_thread::sleep_for(milliseconds(c.cancelAfterMs));
      cancel = true;
    });
    auto start = std::chrono::steady_clock::now();
    if (c.cancelAfterMs < 0) {
      EXPECT_EQ(HttpGet(server.Url(c.path), options), "fine");
    } else {
      HttpError e = ExpectHttpError([&] { HttpGet(server.Url(c.path), options); }, kCancelledKind);
      EXPECT_NE(std::string(e.what()).find("cancelled"), std::string::npos) << e.what();
      EXPECT_LT(ElapsedMs(start), c.cancelAfterMs + 700) << c.path;
    }
    canceller.join();
  }
}

TEST(HttpGet, ConnectTimeOutWhenNobodyAccepts) {
  // A listener with a full backlog that never accepts: the kernel drops further connection
  // attempts, so the connect hangs like one to an unreachable host.
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(addr);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
  ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  ASSERT_EQ(::listen(fd, 0), 0);
  std::vector<int> fillers;
  for (int i = 0; i < 4; ++i) {
    int c = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    ::connect(c, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    fillers.push_back(c);
  }
  std::string url = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/";
  HttpOptions options;
  options.connectTimeoutMs = 300;
  options.readTimeoutMs = 60000;
  auto start = std::chrono::steady_clock::now();
  HttpError e = ExpectHttpError([&] { HttpGet(url, options); }, kTimeoutKind);
  EXPECT_LT(ElapsedMs(start), 3000);
  EXPECT_NE(std::string(e.what()).find("300 ms"), std::string::npos) << e.what();
  for (int c : fillers) ::close(c);
  ::close(fd);
}

TEST(HttpGet, ConnectionRefused) {
  std::string url = "http://127.0.0.1:" + std::to_string(test::UnusedLoopbackPort()) + "/feed.xml";
  HttpError e = ExpectHttpError([&] { HttpGet(url, ShortTimeouts()); }, kSocketErrorKind);
  EXPECT_NE(std::string(e.what()).find("refused"), std::string::npos) << e.what();
  EXPECT_NE(std::string(e.what()).find("127.0.0.1"), std::string::npos) << e.what();
}

TEST(HttpGet, UnresolvableHostFailsFast) {
  auto start = std::chrono::steady_clock::now();
  HttpError e = ExpectHttpError([] { HttpGet("http://no-such-host.zibu.invalid/feed.xml", ShortTimeouts()); },
                                kHostNotFoundKind);
  EXPECT_NE(std::string(e.what()).find("no-such-host.zibu.invalid"), std::string::npos) << e.what();

  HttpOptions viaProxy = ShortTimeouts();
  viaProxy.proxy.server = "proxy.zibu.invalid";
  viaProxy.proxy.port = 8080;
  ExpectHttpError([&] { HttpGet("http://127.0.0.1:1/", viaProxy); }, kHostNotFoundKind);
  EXPECT_LT(ElapsedMs(start), 1000);
}

TEST(HttpGet, BodyAboveTheLimitIsRefused) {
  EXPECT_EQ(kMaxHttpBodyBytes, 64u * 1024 * 1024);
  EXPECT_EQ(HttpOptions().maxBodyBytes, kMaxHttpBodyBytes);

  LoopbackServer server;
  server.ServeBody("/exact", std::string(1000, 'a'));
  server.ServeBody("/over", std::string(1001, 'a'));  // with Content-Length
  // Without Content-Length: the limit has to hold while reading, and the server stops being read.
  // Not as text: the server would compress it, and a run of one letter compresses so well that
  // on a busy machine the first compressed bytes came only after the read time-out.
  size_t sent = 0;
  server.Serve("/endless", [&](const httplib::Request&, httplib::Response& res) {
    res.set_chunked_content_provider("application/octet-stream", [&](size_t, httplib::DataSink& sink) {
      std::string piece(256, 'b');
      sent += piece.size();
      return sent < 50'000'000 && sink.write(piece.data(), piece.size());
    });
  });
  HttpOptions options = ShortTimeouts();
  options.maxBodyBytes = 1000;
  EXPECT_EQ(HttpGet(server.Url("/exact"), options).size(), 1000u);
  HttpError e = ExpectHttpError([&] { HttpGet(server.Url("/over"), options); }, kBodyTooLargeKind);
  EXPECT_NE(std::string(e.what()).find("1000 bytes"), std::string::npos) << e.what();
  ExpectHttpError([&] { HttpGet(server.Url("/endless"), options); }, kBodyTooLargeKind);

  // The default limit names itself in MiB.
  server.Serve("/huge", [](const httplib::Request&, httplib::Response& res) {
    res.set_content_provider(kMaxHttpBodyBytes + 1, "application/octet-stream",
                             [](size_t, size_t, httplib::DataSink&) { return false; });
  });
  HttpError huge = ExpectHttpError([&] { HttpGet(server.Url("/huge"), ShortTimeouts()); }, kBodyTooLargeKind);
  EXPECT_NE(std::string(huge.what()).find("64 MiB"), std::string::npos) << huge.what();
}

TEST(HttpGet, ProxyVariablesOfTheEnvironmentAreIgnored) {
  LoopbackServer server;
  server.ServeBody("/direct", "direct");
  std::string dead = "http://127.0.0.1:" + std::to_string(test::UnusedLoopbackPort());
  ::setenv("http_proxy", dead.c_str(), 1);
  ::setenv("HTTP_PROXY", dead.c_str(), 1);
  ::setenv("no_proxy", "", 1);
  std::string body;
  EXPECT_NO_THROW(body = HttpGet(server.Url("/direct"), ShortTimeouts()));
  ::unsetenv("http_proxy");
  ::unsetenv("HTTP_PROXY");
  ::unsetenv("no_proxy");
  EXPECT_EQ(body, "direct");
}

TEST(HttpGet, ErrorsAreZibuErrors) {
  // Callers catch zibu::Error and log ErrorText; the kind must survive that.
  try {
    HttpGet("http://127.0.0.1:" + std::to_string(test::UnusedLoopbackPort()) + "/", ShortTimeouts());
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.Kind(), kSocketErrorKind);
    EXPECT_EQ(ErrorText(e), e.what());
  }
}

TEST(HttpGet, DeadlineEndsEveryKindOfTrickle) {
  // Each answer keeps the connection busy well inside the read time-out, and never ends.
  struct Case {
    const char* name;
    std::string head;
    std::string piece;
  };
  const std::vector<Case> cases = {
      {"one body byte at a time", "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n", "x"},
      {"one-byte chunks", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", "1\r\nx\r\n"},
      {"one header line at a time", "HTTP/1.1 200 OK\r\n", "X-Slow: y\r\n"},
      {"endless 100 Continue", "", "HTTP/1.1 100 Continue\r\n\r\n"},
  };
  for (const Case& c : cases) {
    RawServer* self = nullptr;
    RawServer server([&](int fd) {
      if (RawServer::Send(fd, c.head)) self->Repeat(fd, c.piece, 100);
    });
    self = &server;
    HttpOptions options;
    options.connectTimeoutMs = 300;
    options.readTimeoutMs = 400;
    EXPECT_EQ(TotalTimeoutMs(options), 700);
    EXPECT_EQ(TotalTimeoutMs(HttpOptions()), 120000);  // the 60 s connect and read time-outs of a download
    const auto start = std::chrono::steady_clock::now();
    HttpError e = ExpectHttpError([&] { HttpGet(server.Url("/feed"), options); }, kTimeoutKind);
    const int64_t elapsed = ElapsedMs(start);
    EXPECT_GE(elapsed, 650) << c.name;
    EXPECT_LT(elapsed, 5000) << c.name;
    EXPECT_EQ(std::string(e.what()), "Download from 127.0.0.1:" + std::to_string(server.Port()) +
                                         " did not finish within 700 ms; I stopped it")
        << c.name;
  }

  // After a redirect the message names the target that timed out, not the first server.
  RawServer* self = nullptr;
  RawServer slow([&](int fd) {
    if (RawServer::Send(fd, "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n")) self->Repeat(fd, "x", 100);
  });
  self = &slow;
  LoopbackServer first;
  first.ServeRedirect("/feed", slow.Url("/moved"), 302);
  HttpOptions options;
  options.totalTimeoutMs = 500;
  HttpError e = ExpectHttpError([&] { HttpGet(first.Url("/feed"), options); }, kTimeoutKind);
  EXPECT_NE(std::string(e.what()).find("127.0.0.1:" + std::to_string(slow.Port()) + " "), std::string::npos)
      << e.what();
  EXPECT_EQ(std::string(e.what()).find(std::to_string(first.Port())), std::string::npos) << e.what();
}

TEST(HttpGet, CompressedBodiesArriveDecodedWithinTheLimit) {
  struct Case {
    std::string encoding;
    size_t decodedSize;
    bool tooLarge;
  };
  // The limit is 1 MiB: the 4 MiB bodies compress to a few kilobytes, so only the decoded size
  // can tell (a compression bomb).
  const std::vector<Case> cases = {{"gzip", 300000, false},     {"deflate", 300000, false},
                                   {"br", 300000, false},       {"gzip", 4u << 20, true},
                                   {"deflate", 4u << 20, true}, {"br", 4u << 20, true}};
  LoopbackServer server;
  for (const Case& c : cases) {
    std::string plain(c.decodedSize, '\0');
    for (size_t i = 0; i < plain.size(); i += 97) plain[i] = static_cast<char>('a' + i % 26);
    const std::string wire = Compressed(c.encoding, plain);
    ASSERT_LT(wire.size(), 100000u) << c.encoding;
    server.Serve("/doc", [&](const httplib::Request&, httplib::Response& res) {
      res.set_header("Content-Encoding", c.encoding);
      res.set_content(wire, "application/octet-stream");  // a type the server itself leaves alone
    });
    HttpOptions options = ShortTimeouts();
    options.maxBodyBytes = 1u << 20;
    if (c.tooLarge) {
      HttpError e = ExpectHttpError([&] { HttpGet(server.Url("/doc"), options); }, kBodyTooLargeKind);
      EXPECT_NE(std::string(e.what()).find("1 MiB"), std::string::npos) << e.what();
    } else {
      EXPECT_EQ(HttpGet(server.Url("/doc"), options), plain) << c.encoding;
    }
    const std::string accepted = server.LastRequest("/doc")->Header("Accept-Encoding");
    for (const char* e : {"gzip", "deflate", "br"})
      EXPECT_NE(accepted.find(e), std::string::npos) << accepted;
  }
}

TEST(HttpGet, HttpsThroughATrustedTestAuthority) {
  LoopbackServer secure(test::TestTls());
  secure.ServeBody("/feed.xml", "<rss>secure</rss>", "application/rss+xml");
  LoopbackServer plain;
  plain.ServeRedirect("/feed.xml", secure.Url("/feed.xml"), 301);

  HttpOptions trusting = ShortTimeouts();
  trusting.extraCaFile = test::TestCaFile();
  EXPECT_EQ(secure.Url("/feed.xml").rfind("https://", 0), 0u);
  EXPECT_EQ(HttpGet(secure.Url("/feed.xml"), trusting), "<rss>secure</rss>");
  const HttpResponse viaRedirect = HttpGetResponse(plain.Url("/feed.xml"), trusting);
  EXPECT_EQ(viaRedirect.body, "<rss>secure</rss>");
  EXPECT_EQ(viaRedirect.finalUrl, secure.Url("/feed.xml"));
  EXPECT_EQ(secure.LastRequest("/feed.xml")->Header("User-Agent"), "Mozilla/4.0");

  // Without the test authority the certificate is nobody's the system knows.
  HttpError e = ExpectHttpError([&] { HttpGet(secure.Url("/feed.xml"), ShortTimeouts()); }, kSocketErrorKind);
  EXPECT_EQ(std::string(e.what()).rfind("Secure connection to 127.0.0.1:" + std::to_string(secure.Port()), 0),
            0u)
      << e.what();
}

// Sets (or, for nullptr, removes) an environment variable for one scope.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~ScopedEnvironment() {
    if (old_)
      setenv(name_.c_str(), old_->c_str(), 1);
    else
      unsetenv(name_.c_str());
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Which authorities a download trusts: SSL_CERT_FILE and SSL_CERT_DIR replace the system's bundle
// and directory as in OpenSSL programs, caFile adds to whatever the store is, and a refusal says
// what the certificate was checked against.
TEST(HttpGet, TrustedAuthoritiesComeFromTheEnvironmentAndCaFile) {
  const std::string ca = test::TestCaFile();
  const std::string tls = ca.substr(0, ca.rfind('/') + 1);
  const std::string other = tls + "other_ca.pem", hashed = tls + "hashed";
  const std::string dirList = "/nonexistent:" + hashed;
  struct Case {
    const char* name;
    const char* certFile;  // SSL_CERT_FILE; nullptr: not set
    const char* certDir;   // SSL_CERT_DIR; nullptr: not set
    std::string caFile;
    std::vector<std::string> refusal;  // empty: the download succeeds; else parts of the message
  };
  const std::vector<Case> cases = {
      {"the system's store alone", nullptr, nullptr, "",
       {"SSL certificate problem", "(the system's bundle)", "(the system's directory)", "caFile in zibu.conf"}},
      {"an empty SSL_CERT_FILE counts as unset", "", "", "", {"(the system's bundle)"}},
      {"SSL_CERT_FILE names the authority", ca.c_str(), nullptr, "", {}},
      {"SSL_CERT_FILE names another authority", other.c_str(), nullptr, "",
       {"SSL certificate problem", other + " (SSL_CERT_FILE)", "(the system's directory)"}},
      {"SSL_CERT_FILE names no file", "/nonexistent/ca.pem", nullptr, "",
       {"I cannot use the certificate file /nonexistent/ca.pem (SSL_CERT_FILE): No such file"}},
      {"SSL_CERT_DIR holds the authority", other.c_str(), hashed.c_str(), "", {}},
      {"SSL_CERT_DIR as a list of directories", other.c_str(), dirList.c_str(), "", {}},
      {"SSL_CERT_DIR without the authority", other.c_str(), tls.c_str(), "",
       {other + " (SSL_CERT_FILE) and " + tls + " (SSL_CERT_DIR)"}},
      {"caFile beside the system's store", nullptr, nullptr, ca, {}},
      {"caFile adds to SSL_CERT_FILE", other.c_str(), nullptr, ca, {}},
      {"caFile does not take SSL_CERT_FILE's place", ca.c_str(), nullptr, other, {}},
      {"caFile with no file of SSL_CERT_FILE behind it", nullptr, nullptr, other,
       {"SSL certificate problem", "(the system's bundle), ", " and " + other + " (caFile)"}},
      {"caFile names no file", nullptr, nullptr, "/nonexistent/extra.pem",
       {"I cannot use the certificate file /nonexistent/extra.pem (caFile): No such file"}},
      {"caFile holds no certificate", nullptr, nullptr, tls + "server.key",
       {"(caFile): it holds no certificate in PEM form"}},
  };
  LoopbackServer secure(test::TestTls());
  secure.ServeBody("/feed.xml", "<rss>secure</rss>", "application/rss+xml");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedEnvironment file("SSL_CERT_FILE", c.certFile);
    ScopedEnvironment dir("SSL_CERT_DIR", c.certDir);
    HttpOptions options = ShortTimeouts();
    options.extraCaFile = c.caFile;
    if (c.refusal.empty()) {
      try {
        EXPECT_EQ(HttpGet(secure.Url("/feed.xml"), options), "<rss>secure</rss>");
      } catch (const std::exception& e) {
        ADD_FAILURE() << e.what();
      }
      continue;
    }
    const std::string message =
        ExpectHttpError([&] { HttpGet(secure.Url("/feed.xml"), options); }, kSocketErrorKind).what();
    for (const std::string& part : c.refusal) EXPECT_NE(message.find(part), std::string::npos) << message;
  }

  // A caFile that cannot be read does not stop plain http downloads.
  LoopbackServer plain;
  plain.ServeBody("/feed.xml", "<rss>plain</rss>");
  HttpOptions missing = ShortTimeouts();
  missing.extraCaFile = "/nonexistent/extra.pem";
  EXPECT_EQ(HttpGet(plain.Url("/feed.xml"), missing), "<rss>plain</rss>");
}

TEST(HttpGet, ConditionalRequestsAndTheirValidators) {
  LoopbackServer server;
  const std::string etag = "\"v2\"";
  const std::string modified = "Wed, 21 Oct 2026 07:28:00 GMT";
  server.Serve("/feed", [&](const httplib::Request& req, httplib::Response& res) {
    if (req.get_header_value("If-None-Match") == etag ||
        (!req.has_header("If-None-Match") && req.get_header_value("If-Modified-Since") == modified)) {
      res.status = 304;
      return;
    }
    res.set_header("ETag", etag);
    res.set_header("Last-Modified", modified);
    res.set_content("<rss>v2</rss>", "application/octet-stream");
  });
  server.Serve("/always-304", [](const httplib::Request&, httplib::Response& res) { res.status = 304; });
  server.ServeRedirect("/moved", "/feed", 301);

  struct Case {
    std::string path, ifNoneMatch, ifModifiedSince;
    int status;
    std::string body;
  };
  const std::vector<Case> cases = {
      {"/feed", "", "", 200, "<rss>v2</rss>"},
      {"/feed", etag, "", 304, ""},
      {"/feed", "\"v1\"", "", 200, "<rss>v2</rss>"},
      {"/feed", "", modified, 304, ""},
      {"/feed", "\"v1\"", modified, 200, "<rss>v2</rss>"},  // a changed ETag wins over the date
      {"/moved", etag, "", 304, ""},
      {"/always-304", etag, "", 304, ""},
  };
  for (const Case& c : cases) {
    HttpOptions options = ShortTimeouts();
    options.ifNoneMatch = c.ifNoneMatch;
    options.ifModifiedSince = c.ifModifiedSince;
    const HttpResponse r = HttpGetResponse(server.Url(c.path), options);
    EXPECT_EQ(r.status, c.status) << c.path << " " << c.ifNoneMatch << " " << c.ifModifiedSince;
    EXPECT_EQ(r.body, c.body) << c.path;
    if (c.status == 200) {
      EXPECT_EQ(r.etag, etag);
      EXPECT_EQ(r.lastModified, modified);
    }
    EXPECT_EQ(r.finalUrl, server.Url(c.path == "/moved" ? "/feed" : c.path));
    const auto request = server.Requests().back();
    EXPECT_EQ(request.Header("If-None-Match"), c.ifNoneMatch);
    EXPECT_EQ(request.Header("If-Modified-Since"), c.ifModifiedSince);
  }
  // A 304 that was not asked for is no answer.
  HttpError e = ExpectHttpError([&] { HttpGet(server.Url("/always-304"), ShortTimeouts()); }, kHttpErrorKind);
  EXPECT_EQ(e.Status(), 304);
}

TEST(HttpGet, ErrorTextsQuoteOnlyAnExcerptOfWhatTheyWereGiven) {
  RawServer server([](int fd) {
    RawServer::Send(fd, "HTTP/1.1 500 " + std::string(50000, 'x') + "\r\nContent-Length: 0\r\n\r\n");
  });
  const std::string hugeHost = "http://" + std::string(100000, 'h') + ".invalid/";
  const std::vector<std::function<void()>> calls = {
      [&] { HttpGet(server.Url("/"), ShortTimeouts()); },
      [&] { HttpGet(hugeHost, ShortTimeouts()); },
      [&] { HttpGet("gopher://" + std::string(100000, 'g'), ShortTimeouts()); },
  };
  for (size_t i = 0; i < calls.size(); ++i) {
    try {
      calls[i]();
      ADD_FAILURE() << "call " << i << " did not fail";
    } catch (const HttpError& e) {
      EXPECT_LT(std::string(e.what()).size(), 400u) << i;
      EXPECT_NE(std::string(e.what()).find("bytes)"), std::string::npos) << i << ": " << e.what();
    }
  }
}

// Characters beyond ASCII in an address go as the percent-encoded bytes of their UTF-8, those of
// a host as its IDNA A-labels, which name resolution knows; shown again, the address has its
// characters back (a host in the form it is registered in).
TEST(IriToUri, CharactersBeyondAsciiAsTheirUtf8Bytes) {
  struct Case {
    const char* what;
    std::string iri;
    std::string uri;
    std::string shown = {};  // UriToIri of the URI; empty: the IRI itself
  };
  const Case cases[] = {
      {"Cyrillic path and query", "https://example.org/\u0441\u0442\u0430\u0442\u044C\u044F?q=\u0442\u0435\u0441\u0442",
       "https://example.org/%D1%81%D1%82%D0%B0%D1%82%D1%8C%D1%8F?q=%D1%82%D0%B5%D1%81%D1%82"},
      {"Greek fragment", "http://h/a#\u03A3", "http://h/a#%CE%A3"},
      {"Chinese and an emoji", "http://h/\u4E2D/\U0001F605", "http://h/%E4%B8%AD/%F0%9F%98%85"},
      {"an ASCII address is unchanged, its escapes and blanks too", "http://h/a%20b c?x=1&y=%41",
       "http://h/a%20b c?x=1&y=%41"},
      {"nothing", "", ""},
      {"a Cyrillic host", "http://\u043F\u0440\u0438\u043C\u0435\u0440.\u0440\u0444/\u043F?q=\u0442",
       "http://xn--e1afmkfd.xn--p1ai/%D0%BF?q=%D1%82"},
      {"user information and a port stay where they are", "https://ed:pw@b\u00FCcher.example:8080/a",
       "https://ed:pw@xn--bcher-kva.example:8080/a"},
      {"a Chinese host, an ASCII path", "https://\u4F8B\u5B50.\u6D4B\u8BD5/x?y", "https://xn--fsqu00a.xn--0zwm56d/x?y"},
      {"a network-path reference", "//\u03B4\u03BF\u03BA\u03B9\u03BC\u03AE.gr/", "//xn--jxalpdlp.gr/"},
      {"a host ending the address", "http://b\u00FCcher.example", "http://xn--bcher-kva.example"},
      {"capitals are the name in small letters", "http://\u041F\u0420\u0418\u041C\u0415\u0420.\u0440\u0444/",
       "http://xn--e1afmkfd.xn--p1ai/", "http://\u043F\u0440\u0438\u043C\u0435\u0440.\u0440\u0444/"},
      {"a host libidn2 rejects goes as its bytes", "http://\u0301x.example/\u0444",
       "http://%CC%81x.example/%D1%84"},
      {"an IPv6 address and a Cyrillic path", "http://[::1]:8080/\u0444", "http://[::1]:8080/%D1%84"},
      {"no host: a relative reference", "\u043F/b\u00FCcher.example", "%D0%BF/b%C3%BCcher.example"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IriToUri(c.iri), c.uri) << c.what;
    EXPECT_TRUE(IsAscii(IriToUri(c.iri))) << c.what;
    EXPECT_EQ(UriToIri(c.uri), c.shown.empty() ? c.iri : c.shown) << c.what;
  }
}

// Showing an address: only escapes that spell characters beyond ASCII are decoded.
TEST(UriToIri, EscapesOfCharactersBeyondAsciiOnly) {
  struct Case {
    std::string uri;
    std::string iri;
  };
  const Case cases[] = {
      {"http://h/%d1%84%D1%85", "http://h/\u0444\u0445"},
      {"http://h/%F0%9F%98%85!", "http://h/\U0001F605!"},
      {"http://h/a%20b%2F%41", "http://h/a%20b%2F%41"},                // ASCII escapes stay
      {"http://h/%E9t%C3%A9", "http://h/%E9t\u00E9"},                 // not UTF-8: stays escaped
      {"http://h/%D1", "http://h/%D1"},                               // cut short
      {"http://h/%D1%2F%84", "http://h/%D1%2F%84"},                   // not one sequence
      {"%E2%82%AC%", "\u20AC%"},
      {"%zz%C3%A9x%4", "%zz\u00E9x%4"},
      {"http://xn--e1afmkfd.xn--p1ai/", "http://\u043F\u0440\u0438\u043C\u0435\u0440.\u0440\u0444/"},
      {"http://XN--E1AFMKFD.xn--p1ai:81/a", "http://\u043F\u0440\u0438\u043C\u0435\u0440.\u0440\u0444:81/a"},
      {"http://xn--.example/", "http://xn--.example/"},                 // no name behind the prefix
      {"http://xn--zz-ufa.xn--p1ai/", "http://xn--zz-ufa.xn--p1ai/"},   // not what it decodes to
      {"http://axn--e1afmkfd.example/", "http://axn--e1afmkfd.example/"},  // no A-label
  };
  for (const Case& c : cases) EXPECT_EQ(UriToIri(c.uri), c.iri) << c.uri;
}

TEST(ResolveReference, TheStandardWayAndTheReferencesLeftAlone) {
  const std::string base = "http://a/b/c/d;p?q";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"g", "http://a/b/c/g"},        {"./g", "http://a/b/c/g"},
      {"g/", "http://a/b/c/g/"},      {"/g", "http://a/g"},
      {"?y", "http://a/b/c/d;p?y"},   {"g?y", "http://a/b/c/g?y"},
      {"#s", "http://a/b/c/d;p?q#s"}, {"g#s", "http://a/b/c/g#s"},
      {"", "http://a/b/c/d;p?q"},     {"..", "http://a/b/"},
      {"../../../g", "http://a/g"},   {"g;x=1/../y", "http://a/b/c/y"},
      {"//g/x", "http://g/x"},        {"https://other/x", "https://other/x"},
      {"mailto:ed@a", "mailto:ed@a"}, {"a b.html", "http://a/b/c/a%20b.html"},
  };
  for (const auto& [reference, expected] : cases)
    EXPECT_EQ(ResolveReference(base, reference), expected) << reference;
  EXPECT_EQ(ResolveReference("https://h.example/f/feed.xml#top", "#x"), "https://h.example/f/feed.xml#x");
  // Without a usable base the reference stays as written.
  for (const char* noBase : {"", "relative/only", "://broken"})
    EXPECT_EQ(ResolveReference(noBase, "p/q"), "p/q");
  EXPECT_EQ(SchemeOf("HTTPS://x"), "HTTPS");
  EXPECT_EQ(SchemeOf("a/b:c"), "");
  EXPECT_EQ(SchemeOf("1http://x"), "");
}

}  // namespace
}  // namespace zibu
