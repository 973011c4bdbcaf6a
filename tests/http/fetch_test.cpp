// FetchPage (encoding the address before the request) and the published-version check.
#include "http/fetch.h"

#include <gtest/gtest.h>

#include "common/errors.h"
#include "support/loopback_server.h"

namespace zibu {
namespace {

using test::LoopbackServer;

HttpOptions Quick() {
  HttpOptions o;
  o.connectTimeoutMs = 2000;
  o.readTimeoutMs = 2000;
  return o;
}

TEST(FetchPage, EncodesTheAddressBeforeTheRequest) {
  LoopbackServer server;
  server.ServeBody("/news/a b~c.html", "spaced");  // the server decodes the path it receives
  EXPECT_EQ(FetchPage(server.Url("/news/a b~c.html"), Quick()), "spaced");
  ASSERT_TRUE(server.LastRequest("/news/a b~c.html"));
  EXPECT_EQ(server.LastRequest("/news/a b~c.html")->target, "/news/a%20b%7Ec.html");

  // Query strings pass unchanged; an escape the user already wrote is fetched as given.
  server.ServeBody("/q.php", "query");
  EXPECT_EQ(FetchPage(server.Url("/q.php?x=1&y=2"), Quick()), "query");
  EXPECT_EQ(server.LastRequest("/q.php")->target, "/q.php?x=1&y=2");
  server.ServeBody("/x y", "escaped");
  EXPECT_EQ(FetchPage(server.Url("/x%20y"), Quick()), "escaped");
  EXPECT_EQ(server.LastRequest("/x y")->target, "/x%20y");
}

TEST(FetchPage, FailuresReachTheCaller) {
  LoopbackServer server;
  server.ServeStatus("/missing", 404);
  EXPECT_THROW(FetchPage(server.Url("/missing"), Quick()), HttpError);
  EXPECT_THROW(FetchPage("http://127.0.0.1:" + std::to_string(test::UnusedLoopbackPort()) + "/", Quick()),
               HttpError);
}

TEST(FetchPage, ProxySettingsOverloadGoesDirectWhenServerIsEmpty) {
  LoopbackServer server;
  server.ServeBody("/page", "direct");
  ProxySettings noProxy;
  noProxy.port = 8080;  // ignored without a server
  EXPECT_EQ(FetchPage(server.Url("/page"), noProxy), "direct");
  EXPECT_EQ(server.LastRequest("/page")->Header("User-Agent"), "Mozilla/4.0");
}

std::string VersionDocument(const std::string& version) {
  return "<?xml version=\"1.0\"?>\r\n<Zibu>\r\n  <Program_Version>" + version +
         "</Program_Version>\r\n  <Download>zibu.zip</Download>\r\n</Zibu>\r\n";
}

TEST(PublishedVersion, ComparesAsDecimalNumbers) {
  EXPECT_TRUE(PublishedVersionIsNewer(VersionDocument("1.14"), 1.13));
  EXPECT_TRUE(PublishedVersionIsNewer(VersionDocument("2"), 1.13));
  EXPECT_TRUE(PublishedVersionIsNewer(VersionDocument("1.2"), 1.13));
  EXPECT_TRUE(PublishedVersionIsNewer(VersionDocument("1.9"), 1.13));  // not text order
  EXPECT_FALSE(PublishedVersionIsNewer(VersionDocument("1.13"), 1.13));
  EXPECT_FALSE(PublishedVersionIsNewer(VersionDocument("1.130"), 1.13));
  EXPECT_FALSE(PublishedVersionIsNewer(VersionDocument("1.1"), 1.13));
  EXPECT_FALSE(PublishedVersionIsNewer(VersionDocument("1.12"), 1.13));
}

TEST(PublishedVersion, OnlyTheFirstExactTagCounts) {
  EXPECT_FALSE(PublishedVersionIsNewer("<Zibu><Version>9</Version></Zibu>", 1.13));
  EXPECT_FALSE(PublishedVersionIsNewer("", 1.13));
  EXPECT_FALSE(PublishedVersionIsNewer("<program_version>9</program_version>", 1.13));  // case matters
  EXPECT_FALSE(PublishedVersionIsNewer(
      "<Program_Version>1.0</Program_Version><Program_Version>9</Program_Version>", 1.13));
  // The text runs to the next "<", whatever follows it.
  EXPECT_TRUE(PublishedVersionIsNewer("<Program_Version>1.5<!-- beta -->", 1.13));
}

TEST(PublishedVersion, TextThatIsNotANumberIsAConversionError) {
  EXPECT_THROW(PublishedVersionIsNewer("<Program_Version>1.14", 1.13), ConversionError);  // no "<" after
  EXPECT_THROW(PublishedVersionIsNewer(VersionDocument("soon"), 1.13), ConversionError);
  EXPECT_THROW(PublishedVersionIsNewer(VersionDocument(""), 1.13), ConversionError);
  EXPECT_THROW(PublishedVersionIsNewer(VersionDocument("1.14b"), 1.13), ConversionError);
  EXPECT_THROW(PublishedVersionIsNewer(VersionDocument("1,14"), 1.13), ConversionError);
}

TEST(NewerVersionAvailable, FetchesAndCompares) {
  LoopbackServer server;
  server.ServeBody("/zibu.xml", VersionDocument("1.14"), "text/xml");
  server.ServeBody("/same/zibu.xml", VersionDocument("1.13"), "text/xml");
  server.ServeRedirect("/moved/zibu.xml", server.Url("/zibu.xml"));
  server.ServeBody("/plain.html", "<html>No version here</html>");
  server.ServeBody("/broken/zibu.xml", "<Program_Version>1.14", "text/xml");

  EXPECT_TRUE(NewerVersionAvailable(server.Url("/zibu.xml"), Quick(), 1.13));
  EXPECT_FALSE(NewerVersionAvailable(server.Url("/zibu.xml"), Quick(), 1.14));
  EXPECT_FALSE(NewerVersionAvailable(server.Url("/same/zibu.xml"), Quick(), 1.13));
  EXPECT_TRUE(NewerVersionAvailable(server.Url("/moved/zibu.xml"), ProxySettings{}, 1.13));
  EXPECT_FALSE(NewerVersionAvailable(server.Url("/plain.html"), Quick(), 1.13));
  EXPECT_THROW(NewerVersionAvailable(server.Url("/broken/zibu.xml"), Quick(), 1.13), ConversionError);
  EXPECT_THROW(NewerVersionAvailable(server.Url("/missing.xml"), Quick(), 1.13), HttpError);
}

}  // namespace
}  // namespace zibu
