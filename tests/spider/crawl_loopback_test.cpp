// A crawl over real HTTP on 127.0.0.1, scored with learned data, and the links command.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/ports.h"
#include "common/text.h"
#include "http/fetch.h"
#include "learning/engine.h"
#include "spider/crawl.h"
#include "spider_fakes.h"
#include "support/loopback_server.h"
#include "support/run_process.h"

namespace zibu {
namespace {

class HttpFetcher : public PageFetcher {
 public:
  std::string Fetch(const std::string& address) override {
    HttpOptions options;
    options.connectTimeoutMs = 5000;
    options.readTimeoutMs = 5000;
    options.extraCaFile = test::TestCaFile();
    return FetchPage(address, options);
  }
};

// Likes Jordan, Abdullah and sand; dislikes Katie.
void Learn(LearningEngine& engine) {
  for (int i = 0; i < 5; ++i) {
    engine.LearnFromRating("jordan abdullah sand", 10);
    engine.LearnFromRating("katie", -10);
  }
}

std::string Link(const std::string& path, const std::string& text) {
  return "<a href=\"" + path + "\">" + text + "</a>" + std::string(60, '.');
}

class LoopbackCrawl : public ::testing::Test {
 protected:
  LoopbackCrawl()
      : engine(silent),
        spider(port, view, fetcher, [this](std::string_view t) { return engine.GetRelevance(t); }) {
    Learn(engine);
    spider.SetRandomSource(random.Source());
    server.ServeBody("/", "<html><body>" + Link("/jordan.html", "Jordan and Abdullah") +
                              Link("/katie.html", "Katie") + Link("/plain.html", "Weather") +
                              Link("/sand.html", "Sand") + Link("/missing.html", "Missing") +
                              Link("/empty.html", "Nothing") + Link(secure.Url("/dunes.html"), "Secure") +
                              "</body></html>");
    secure.ServeBody("/dunes.html", "<p>Sand dunes of Jordan</p>");
    server.ServeBody("/jordan.html", jordanPage);
    server.ServeBody("/jordan2.html", "<p>Jordan, abdullah and weather</p>");
    server.ServeBody("/katie.html", "<p>Katie and Jordan</p>");
    server.ServeBody("/plain.html", "<p>Cloudy weather tomorrow</p>");
    server.ServeBody("/sand.html", "<p>Sand</p>");
    server.ServeStatus("/missing.html", 404, "gone");
    server.ServeBody("/empty.html", "");
  }

  std::string Url(const std::string& path) const { return server.Url(path); }

  const std::string jordanPage = "<html><body><h1>King Abdullah of Jordan</h1><p>Jordan news.</p>" +
                                 std::string(60, '.') + Link("/jordan2.html", "More Jordan") +
                                 "</body></html>";

  SilentUserPort silent;
  LearningEngine engine;
  test::RecordingPort port;
  test::FakeView view;
  HttpFetcher fetcher;
  test::ScriptedRandom random;
  test::LoopbackServer server;
  test::LoopbackServer secure{test::TestTls()};
  TSpiderCrawl spider;
};

TEST_F(LoopbackCrawl, ListsThePagesTheLearnedDataLikesBestFirst) {
  spider.crawl(Url("/"));

  // Every page reached through a link was fetched once; the start only at the start.
  for (const char* path : {"/jordan.html", "/jordan2.html", "/katie.html", "/plain.html", "/sand.html",
                           "/missing.html", "/empty.html"})
    EXPECT_EQ(server.RequestCount(path), 1u) << path;
  EXPECT_EQ(server.RequestCount("/"), 1u);

  // Listed: pages above 20, highest first, each with the score of its plain text.
  std::vector<std::string> urls;
  for (const auto& p : spider.foundPages()) {
    urls.push_back(p.url);
    EXPECT_GT(p.relevance, 20);
  }
  ASSERT_GE(urls.size(), 2u);
  for (size_t k = 1; k < spider.foundPages().size(); ++k)
    EXPECT_GE(spider.foundPages()[k - 1].relevance, spider.foundPages()[k].relevance);
  EXPECT_NE(std::find(urls.begin(), urls.end(), Url("/jordan.html")), urls.end());
  EXPECT_NE(std::find(urls.begin(), urls.end(), Url("/sand.html")), urls.end());
  EXPECT_NE(std::find(urls.begin(), urls.end(), secure.Url("/dunes.html")), urls.end());
  EXPECT_EQ(secure.RequestCount("/dunes.html"), 1u);
  EXPECT_EQ(std::find(urls.begin(), urls.end(), Url("/katie.html")), urls.end());
  EXPECT_EQ(std::find(urls.begin(), urls.end(), Url("/plain.html")), urls.end());
  EXPECT_EQ(std::find(urls.begin(), urls.end(), Url("/")), urls.end());
  for (const auto& p : spider.foundPages())
    if (p.url == Url("/jordan.html")) {
      EXPECT_EQ(p.text, "Jordan and Abdullah- King Abdullah of Jordan Jordan news. " + std::string(60, '.') +
                            "More Jordan" + std::string(60, '.'));
      EXPECT_EQ(p.relevance, engine.GetRelevance(HtmlToText(jordanPage)));
    }

  // The best-described link is followed first.
  const auto requests = server.Requests();
  ASSERT_GE(requests.size(), 2u);
  EXPECT_EQ(requests[1].path, "/jordan.html");

  EXPECT_EQ(port.CountStartingWith("Error downloading " + Url("/missing.html") + ": EHttpError: "), 1);
  EXPECT_EQ(port.CountStartingWith("Error downloading "), 1);
  // Scored: jordan, jordan2, katie, plain, sand, dunes; not the start, the 404 or the empty body.
  EXPECT_EQ(spider.pagesChecked(), 6);
  EXPECT_EQ(port.Texts().back(), "Stopped searching");
}

TEST(LinksCommand, PrintsTheRowsTheSpiderWouldQueue) {
  const std::string cli = test::ZibuCliPath(ZIBU_BIN_DIR);
  if (cli.empty() || !std::filesystem::exists(cli)) GTEST_SKIP() << "zibu-cli is not built";
  const auto home = std::filesystem::temp_directory_path() / ("zibu-links-" + std::to_string(::getpid()));
  std::filesystem::remove_all(home);
  std::filesystem::create_directories(home);
  std::string description;
  {
    SilentUserPort silent;
    LearningEngine engine(silent);
    engine.SetDataFolder((home / "data").string());
    engine.LoadData();  // a save writes only what was loaded
    Learn(engine);
    engine.SaveData();
  }
  const std::string page = "<p>Intro</p>" + std::string(60, '.') + Link("/a.html", "Jordan and abdullah") +
                           Link("b.html", "Caf\xE9 \"Katie\"") + Link("http://other.example/c", "Other") +
                           Link("#top", "Top") + Link("/a.HTML", "Again");
  std::ofstream(home / "page.html", std::ios::binary) << page;
  std::ofstream(home / "zibu.conf") << "[main]\nmaxWordWeight=50\n";

  const std::string file = (home / "page.html").string();
  auto learned = test::RunProcess(
      cli, {"links", "--base", "http://site.example/news/index.html", "--home", home.string(), file});
  ASSERT_EQ(learned.exitStatus, 0) << learned.err;
  SilentUserPort silent;
  LearningEngine engine(silent);
  Learn(engine);
  const int jordan = engine.GetRelevance("Jordan and abdullah");
  const int katie = engine.GetRelevance("Caf\xE9 \"Katie\"");
  EXPECT_GT(jordan, 0);
  EXPECT_LT(katie, 0);
  EXPECT_EQ(
      learned.out,
      "{\"url\": \"http://site.example/a.html\", \"description\": \"Jordan and abdullah\", \"relevance\": " +
          std::to_string(jordan) +
          "}\n"
          "{\"url\": \"http://site.example/news/b.html\", \"description\": \"Caf\\u00e9 \\\"Katie\\\"\", "
          "\"relevance\": " +
          std::to_string(katie) +
          "}\n"
          "{\"url\": \"http://other.example/c\", \"description\": \"Other\", \"relevance\": 0}\n");

  auto plain =
      test::RunProcess(cli, {"links", "--base", "http://site.example/news/index.html", "--no-offsite", file});
  ASSERT_EQ(plain.exitStatus, 0) << plain.err;
  EXPECT_EQ(plain.out,
            "{\"url\": \"http://site.example/a.html\", \"description\": \"Jordan and abdullah\", "
            "\"relevance\": 0}\n"
            "{\"url\": \"http://site.example/news/b.html\", \"description\": \"Caf\\u00e9 \\\"Katie\\\"\", "
            "\"relevance\": 0}\n");

  // A page the scan fails on: the rows before the failure, then the error and status 1.
  std::ofstream(home / "bad.html", std::ios::binary)
      << Link("/ok.html", "Fine") + Link("/bad.html", "&#abc;");
  auto bad = test::RunProcess(cli, {"links", "--base", "http://site.example/", (home / "bad.html").string()});
  EXPECT_EQ(bad.exitStatus, 1);
  EXPECT_EQ(bad.out,
            "{\"url\": \"http://site.example/ok.html\", \"description\": \"Fine\", \"relevance\": 0}\n");
  EXPECT_FALSE(bad.err.empty());

  EXPECT_EQ(test::RunProcess(cli, {"links", file}).exitStatus, 2);
  std::filesystem::remove_all(home);
}

}  // namespace
}  // namespace zibu
