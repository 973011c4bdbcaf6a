// zibu-cli fetch as a script sees it: body bytes on stdout, the reason on stderr, exit status.
#include <gtest/gtest.h>
#include <unistd.h>

#include "support/loopback_server.h"
#include "support/run_process.h"

namespace zibu {
namespace {

using test::LoopbackServer;
using test::RunProcess;

class FetchCli : public ::testing::Test {
 protected:
  void SetUp() override {
    cli_ = test::ZibuCliPath(ZIBU_BIN_DIR);
    // test_http does not depend on the tool (it links every module); the full build has it.
    if (::access(cli_.c_str(), X_OK) != 0) GTEST_SKIP() << cli_ << " is not built";
  }
  std::string cli_;
};

TEST_F(FetchCli, WritesTheBodyBytesAndNothingElse) {
  LoopbackServer server;
  std::string body("line 1\r\n\0\x80\xFF no newline at the end", 31);
  server.ServeBody("/page.html", body);
  auto r = RunProcess(cli_, {"fetch", server.Url("/page.html")});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, body);
  EXPECT_EQ(r.err, "");
}

TEST_F(FetchCli, FailureGoesToStderrWithStatusOne) {
  LoopbackServer server;
  server.ServeStatus("/missing", 404, "error page");
  auto r = RunProcess(cli_, {"fetch", server.Url("/missing")});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("404"), std::string::npos) << r.err;

  r = RunProcess(cli_, {"fetch", "http://127.0.0.1:" + std::to_string(test::UnusedLoopbackPort()) + "/",
                        "--connect-timeout", "2000"});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_NE(r.err.find("refused"), std::string::npos) << r.err;

  server.ServeDelayed("/slow", 5000, "late");
  r = RunProcess(cli_, {"fetch", server.Url("/slow"), "--total-timeout=300"});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_NE(r.err.find("did not finish within 300 ms"), std::string::npos) << r.err;
}

TEST_F(FetchCli, ProxyOptionsReachTheRequest) {
  // A loopback server playing a proxy: it receives the absolute address and the credentials.
  LoopbackServer proxy;
  const std::string target = "http://127.0.0.2:9/feed.xml";  // nothing listens there
  proxy.ServeBody(target, "via proxy");  // a proxy request carries the whole address as its path
  auto r = RunProcess(cli_, {"fetch", target, "--proxy=127.0.0.1:" + std::to_string(proxy.Port()),
                             "--proxy-user=ann", "--proxy-password=pw"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, "via proxy");
  auto request = proxy.LastRequest(target);
  ASSERT_TRUE(request);
  EXPECT_EQ(request->target, target);
  EXPECT_EQ(request->Header("Proxy-Authorization"), "Basic YW5uOnB3");  // ann:pw
}

TEST_F(FetchCli, CaFileOptionAddsAnAuthority) {
  LoopbackServer secure(test::TestTls());
  secure.ServeBody("/feed.xml", "secure");
  auto r = RunProcess(cli_, {"fetch", secure.Url("/feed.xml"), "--ca-file", test::TestCaFile()});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, "secure");
  r = RunProcess(cli_, {"fetch", secure.Url("/feed.xml")});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_NE(r.err.find("I checked it against the authorities in "), std::string::npos) << r.err;
}

TEST_F(FetchCli, HelpAndUsageErrors) {
  auto r = RunProcess(cli_, {"fetch", "--help"});
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_NE(r.out.find("--proxy HOST:PORT"), std::string::npos);
  EXPECT_NE(r.out.find("--proxy-password"), std::string::npos);

  r = RunProcess(cli_, {"fetch"});
  EXPECT_EQ(r.exitStatus, 2);
  EXPECT_NE(r.err.find("no URL"), std::string::npos) << r.err;
  r = RunProcess(cli_, {"fetch", "http://a/", "--proxy", "nohostport"});
  EXPECT_EQ(r.exitStatus, 2);
  r = RunProcess(cli_, {"fetch", "http://a/", "--bogus"});
  EXPECT_EQ(r.exitStatus, 2);
}

}  // namespace
}  // namespace zibu
