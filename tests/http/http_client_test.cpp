// HttpGet against loopback servers: what it sends, what it follows, and how each failure reaches
// the caller.
#include "http/http_client.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

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
  server.Serve("/trickle", [&](const httplib::Request&, httplib::Response& res) {
    res.set_chunked_content_provider("text/plain", [&](size_t offset, httplib::DataSink& sink) {
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
    res.set_chunked_content_provider("text/plain", [&](size_t offset, httplib::DataSink& sink) {
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
  size_t sent = 0;
  server.Serve("/endless", [&](const httplib::Request&, httplib::Response& res) {
    res.set_chunked_content_provider("text/plain", [&](size_t, httplib::DataSink& sink) {
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

}  // namespace
}  // namespace zibu
