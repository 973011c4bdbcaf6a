// The hidden commands: the built-in checks and the relevance check.
#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>

#include "common/shortintmap.h"
#include "feeds/learning_run.h"
#include "feeds/self_test.h"
#include "learning/engine.h"
#include "support/loopback_server.h"
#include "triage_fakes.h"

namespace zibu::test {
namespace {

std::string TempFolder() {
  return (std::filesystem::temp_directory_path() / ("zibu_selftest_" + std::to_string(::getpid()))).string() +
         "/";
}

TEST(SelfTestTest, AllChecksPassOnAFetchedNewsPage) {
  LoopbackServer server;
  std::string page = "<html><body><h1>World news</h1>";
  for (int i = 0; i < 30; ++i)
    page += "<p>Parliament debates budget reform while markets rally in london and paris number" +
            std::string(1, static_cast<char>('a' + i % 26)) + "word</p>";
  page += "</body></html>";
  server.ServeBody("/news", page);
  ScriptedPort port;
  LearningEngine engine(port);
  engine.LearnFromRating("something learned before", 5);
  SelfTestOutcome outcome = RunSelfTests(engine, port, ProxySettings{}, TempFolder(), server.Url("/news"));
  EXPECT_TRUE(outcome.newsPageChecked);
  EXPECT_EQ(SelfTestMessage(outcome), "All tests passed");
  EXPECT_EQ(server.RequestCount("/news"), 1u);
  EXPECT_FALSE(std::filesystem::exists(TempFolder() + "reltable.dat"));
  EXPECT_FALSE(std::filesystem::exists(TempFolder() + "rel.dat"));
  std::filesystem::remove_all(TempFolder());
}

TEST(SelfTestTest, UnreachableNewsPageIsReportedAndTheOtherChecksStillRun) {
  ScriptedPort port;
  LearningEngine engine(port);
  // Nothing listens on the discard port of the loopback address.
  SelfTestOutcome outcome =
      RunSelfTests(engine, port, ProxySettings{}, TempFolder(), "http://127.0.0.1:9/news");
  EXPECT_FALSE(outcome.newsPageChecked);
  EXPECT_EQ(outcome.newsPageProblem.rfind("I could not fetch the news page http://127.0.0.1:9/news: ", 0),
            0u);
  EXPECT_TRUE(port.Logged(outcome.newsPageProblem));
  EXPECT_EQ(SelfTestMessage(outcome).rfind("All tests passed\r\n(I could not fetch", 0), 0u);
  // The learning checks ran: their example words are now the engine's.
  EXPECT_GE(engine.WordWeights().IndexOf("ABDULLAH"), 0);
  std::filesystem::remove_all(TempFolder());
}

TEST(CheckRelTest, ShowsTheThreeScoresOfTheTypedWords) {
  ScriptedPort port;
  LearningEngine engine(port);
  const std::pair<int, const char*> ratings[] = {{9, "jordan abdullah"}, {8, "jordan sand"},
                                                 {-8, "jordan's katie"}, {-5, "katie sands"},
                                                 {-3, "katie abdullah"}, {7, "sand abdullah's"}};
  for (int round = 0; round < 2; ++round)
    for (const auto& [rating, text] : ratings) engine.LearnFromRating(text, rating);
  EXPECT_EQ(CheckRelMessage(engine, "jordan abdullah"),
            "Simple relevance=44%, Relationship relevance=36%, Overall relevance=40%");
  EXPECT_EQ(CheckRelMessage(engine, "jordan katie"),
            "Simple relevance=-14%, Relationship relevance=-32%, Overall relevance=-14%");
  EXPECT_EQ(CheckRelMessage(engine, ""),
            "Simple relevance=0%, Relationship relevance=0%, Overall relevance=0%");
  EXPECT_EQ(CheckRelMessage(engine, "a an the"),
            "Simple relevance=0%, Relationship relevance=0%, Overall relevance=0%");
}

}  // namespace
}  // namespace zibu::test
