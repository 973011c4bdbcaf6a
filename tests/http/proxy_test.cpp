// Downloads through a real tinyproxy with basic authentication, started on a free loopback port.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "http/fetch.h"
#include "http/http_client.h"
#include "support/loopback_server.h"

namespace zibu {
namespace {

namespace fs = std::filesystem;
using test::LoopbackServer;

std::string FindTinyproxy() {
  std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  path += ":/usr/bin:/usr/sbin:/usr/local/bin:/usr/local/sbin";
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    fs::path candidate = fs::path(path.substr(start, end - start)) / "tinyproxy";
    if (!candidate.parent_path().empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return "";
}

bool PortAccepts(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
  ::close(fd);
  return ok;
}

// A tinyproxy child in the foreground (-d) with its own configuration in a temporary folder.
class Tinyproxy {
 public:
  Tinyproxy(const std::string& binary, const std::string& user, const std::string& password) {
    char dirTemplate[] = "/tmp/zibu-tinyproxy-XXXXXX";
    if (::mkdtemp(dirTemplate) == nullptr) return;
    dir_ = dirTemplate;
    for (int attempt = 0; attempt < 3 && pid_ <= 0; ++attempt) Start(binary, user, password);
  }

  ~Tinyproxy() {
    Stop();
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }

  bool Running() const { return pid_ > 0; }
  int Port() const { return port_; }
  std::string Log() const {
    std::ifstream in(dir_ / "tinyproxy.log");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  void Start(const std::string& binary, const std::string& user, const std::string& password) {
    port_ = test::UnusedLoopbackPort();
    fs::path conf = dir_ / "tinyproxy.conf";
    {
      std::ofstream out(conf);
      out << "Port " << port_ << "\n"
          << "Listen 127.0.0.1\n"
          << "Timeout 30\n"
          << "Allow 127.0.0.1\n"
          << "BasicAuth " << user << " " << password << "\n"
          << "MaxClients 10\n"
          << "LogLevel Info\n";
    }
    std::string log = (dir_ / "tinyproxy.log").string();
    pid_t pid = ::fork();
    if (pid == 0) {
      int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (fd >= 0) {
        ::dup2(fd, 1);
        ::dup2(fd, 2);
      }
      ::execl(binary.c_str(), binary.c_str(), "-d", "-c", conf.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    if (pid < 0) return;
    pid_ = pid;
    for (int i = 0; i < 500; ++i) {  // up to 5 s
      if (PortAccepts(port_)) return;
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) break;  // died, e.g. port taken meanwhile
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Stop();
  }

  void Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 200; ++i) {
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
  }

  fs::path dir_;
  pid_t pid_ = -1;
  int port_ = 0;
};

class ThroughProxy : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string binary = FindTinyproxy();
    if (binary.empty()) GTEST_SKIP() << "tinyproxy is not installed (scripts/setup.sh installs it)";
    proxy_ = std::make_unique<Tinyproxy>(binary, "zibu", "s3cret");
    ASSERT_TRUE(proxy_->Running()) << "tinyproxy did not start:\n" << proxy_->Log();
  }

  HttpOptions Options(const std::string& user, const std::string& password) const {
    HttpOptions o;
    o.connectTimeoutMs = 5000;
    o.readTimeoutMs = 5000;
    o.proxy.server = "127.0.0.1";
    o.proxy.port = proxy_->Port();
    o.proxy.username = user;
    o.proxy.password = password;
    return o;
  }

  std::unique_ptr<Tinyproxy> proxy_;
  LoopbackServer server_;
};

TEST_F(ThroughProxy, RightCredentialsFetchThePage) {
  std::string body = "<rss>\x01\x80\xFF</rss>";
  body.push_back('\0');
  server_.ServeBody("/feed.xml", body, "text/xml");
  EXPECT_EQ(HttpGet(server_.Url("/feed.xml"), Options("zibu", "s3cret")), body) << proxy_->Log();
  auto request = server_.LastRequest("/feed.xml");
  ASSERT_TRUE(request);
  // The proxy forwarded it (and said so), with our headers intact.
  EXPECT_NE(request->Header("Via").find("tinyproxy"), std::string::npos);
  EXPECT_EQ(request->Header("User-Agent"), "Mozilla/4.0");
  EXPECT_EQ(request->Header("Cache-Control"), "no-cache");

  // The settings record the windows pass, with a redirect to another server behind the proxy.
  LoopbackServer other;
  other.ServeBody("/version/zibu.xml", "<Program_Version>1.14</Program_Version>", "text/xml");
  server_.ServeRedirect("/zibu.xml", other.Url("/version/zibu.xml"));
  EXPECT_TRUE(NewerVersionAvailable(server_.Url("/zibu.xml"), Options("zibu", "s3cret").proxy, 1.13));
  EXPECT_EQ(other.LastRequest("/version/zibu.xml")->Header("Via").find("tinyproxy") != std::string::npos,
            true);
}

TEST_F(ThroughProxy, WrongCredentialsAreRefusedClearly) {
  server_.ServeBody("/feed.xml", "secret feed");
  try {
    HttpGet(server_.Url("/feed.xml"), Options("zibu", "wrong"));
    FAIL() << "the proxy let a wrong password through";
  } catch (const HttpError& e) {
    EXPECT_EQ(e.Kind(), kHttpErrorKind);
    // tinyproxy answers a wrong password with 401 and a missing one with 407.
    EXPECT_TRUE(e.Status() == 401 || e.Status() == 407) << e.what();
    EXPECT_NE(std::string(e.what()).find("user name and password"), std::string::npos) << e.what();
  }
  try {
    HttpGet(server_.Url("/feed.xml"), Options("", ""));
    FAIL() << "the proxy let a request without credentials through";
  } catch (const HttpError& e) {
    EXPECT_EQ(e.Status(), 407) << e.what();
    EXPECT_NE(std::string(e.what()).find("407"), std::string::npos) << e.what();
  }
  // An https address goes through a tunnel (CONNECT); its refusal is just as clear.
  try {
    HttpGet("https://127.0.0.1:" + std::to_string(server_.Port()) + "/feed.xml", Options("zibu", "wrong"));
    FAIL() << "the proxy opened a tunnel with a wrong password";
  } catch (const HttpError& e) {
    EXPECT_TRUE(e.Status() == 401 || e.Status() == 407) << e.what();
    EXPECT_NE(std::string(e.what()).find("did not accept the user name and password"), std::string::npos)
        << e.what();
  }
  EXPECT_EQ(server_.RequestCount("/feed.xml"), 0u);
}

TEST_F(ThroughProxy, ErrorStatusBehindTheProxyIsReported) {
  server_.ServeStatus("/gone.xml", 404);
  try {
    HttpGet(server_.Url("/gone.xml"), Options("zibu", "s3cret"));
    FAIL() << "no error";
  } catch (const HttpError& e) {
    EXPECT_EQ(e.Status(), 404) << e.what();
  }
}

TEST(ProxyDown, ConnectionFailureNamesTheProxy) {
  HttpOptions o;
  o.connectTimeoutMs = 2000;
  o.proxy.server = "127.0.0.1";
  o.proxy.port = test::UnusedLoopbackPort();
  o.proxy.username = "zibu";
  o.proxy.password = "s3cret";
  try {
    HttpGet("http://127.0.0.1:1/feed.xml", o);
    FAIL() << "no error";
  } catch (const HttpError& e) {
    EXPECT_EQ(e.Kind(), kSocketErrorKind);
    EXPECT_NE(std::string(e.what()).find("proxy 127.0.0.1:" + std::to_string(o.proxy.port)),
              std::string::npos)
        << e.what();
  }
}

}  // namespace
}  // namespace zibu
