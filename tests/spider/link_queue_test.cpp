// Ordering of the spider's tables and the choice of the next link.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "spider/crawl.h"
#include "spider/link_queue.h"
#include "spider_fakes.h"

namespace zibu {
namespace {

// The exchange procedure exactly as the tables are sorted by it, n * n comparisons.
std::vector<size_t> LiteralExchange(const std::vector<int>& keys) {
  std::vector<size_t> rows(keys.size());
  for (size_t k = 0; k < rows.size(); ++k) rows[k] = k;
  for (size_t i = 0; i < rows.size(); ++i)
    for (size_t j = 0; j < rows.size(); ++j)
      if (keys[rows[i]] > keys[rows[j]]) std::swap(rows[i], rows[j]);
  return rows;
}

TEST(ExchangeSortOrder, MatchesTheExchangeProcedureIncludingTies) {
  std::mt19937 gen(12345);
  for (int round = 0; round < 3000; ++round) {
    const int n = static_cast<int>(gen() % 40);
    const int spread = 1 + static_cast<int>(gen() % 6);  // few distinct keys: many ties
    std::vector<int> keys;
    for (int k = 0; k < n; ++k) keys.push_back(static_cast<int>(gen() % spread) - spread / 2);
    ASSERT_EQ(ExchangeSortOrder(keys), LiteralExchange(keys)) << "round " << round;
  }
  std::vector<int> big;
  for (int k = 0; k < 1500; ++k) big.push_back(static_cast<int>(gen() % 201) - 100);
  EXPECT_EQ(ExchangeSortOrder(big), LiteralExchange(big));
}

TEST(ExchangeSortOrder, EqualKeysAreNotKeptInOrder) {
  // Rows 0, 4 and 6 share the lowest key; the procedure leaves them as 4, 0, 6.
  EXPECT_EQ(ExchangeSortOrder({0, 3, 2, 1, 0, 2, 0}), (std::vector<size_t>{1, 2, 5, 3, 4, 0, 6}));
  EXPECT_EQ(ExchangeSortOrder({}), std::vector<size_t>{});
}

TEST(KnownUrls, IgnoresLetterCaseAndDuplicates) {
  TKnownUrls urls;
  urls.Add("http://a.example/X");
  urls.Add("HTTP://A.EXAMPLE/x");
  EXPECT_EQ(urls.Count(), 1);
  EXPECT_TRUE(urls.Contains("http://a.example/x"));
  EXPECT_FALSE(urls.Contains("http://a.example/x#y"));
  urls.Clear();
  EXPECT_FALSE(urls.Contains("http://a.example/X"));
}

class ChooseNextLink : public ::testing::Test {
 protected:
  ChooseNextLink() : spider(port, view, web, test::WordCountRelevance) {
    spider.SetRandomSource(random.Source());
  }
  // Queues links whose descriptions have the given relevances (10 per "good").
  void Queue(const std::vector<int>& goods) {
    std::string page;
    int k = 0;
    for (int g : goods) {
      std::string text = "n" + std::to_string(k);
      for (int i = 0; i < g; ++i) text += " good";
      page += "<a href=\"/p" + std::to_string(k++) + "\">" + text + "</a>" + std::string(60, '.');
    }
    spider.setCurrentPage("http://site.example/", "x");
    spider.searchPageForLinks(page);
  }

  test::RecordingPort port;
  test::FakeView view;
  test::FakeWeb web;
  test::ScriptedRandom random;
  TSpiderCrawl spider;
};

TEST_F(ChooseNextLink, AnEmptyQueueGivesFalse) {
  EXPECT_FALSE(spider.chooseNextLink());
  EXPECT_EQ(port.Last(), "Sorting links");
}

TEST_F(ChooseNextLink, FewerThanFiveLinksAlwaysTakeTheBest) {
  random.values = {5, 2, 5, 2, 5, 2, 5, 2};
  Queue({1, 3, 2, 0});
  ASSERT_TRUE(spider.chooseNextLink());
  EXPECT_EQ(spider.currentAddress(), "http://site.example/p1");
  EXPECT_EQ(spider.currentDescription(), "n1 good good good");
  EXPECT_EQ(port.Last(), "Next link is http://site.example/p1");
  EXPECT_TRUE(random.ranges.empty());
  EXPECT_EQ(spider.links().Count(), 3);
  // The queue is left sorted, highest first.
  EXPECT_EQ(spider.links().Row(0).url, "http://site.example/p2");
  EXPECT_EQ(spider.links().Row(2).url, "http://site.example/p3");
}

TEST_F(ChooseNextLink, OneDrawInTenPicksAnyRowAndLeavesRowOneQueued) {
  Queue({0, 4, 1, 3, 2});
  random.values = {5, 3};  // the one-in-ten draw, then row 4 of 5
  ASSERT_TRUE(spider.chooseNextLink());
  EXPECT_EQ(random.ranges, (std::vector<int>{10, 5}));
  // Sorted: p1 (40), p3 (30), p4 (20), p2 (10), p0 (0); the fourth is p2.
  EXPECT_EQ(spider.currentAddress(), "http://site.example/p2");
  EXPECT_EQ(spider.currentDescription(), "n2 good");
  ASSERT_EQ(spider.links().Count(), 4);
  EXPECT_EQ(spider.links().Row(0).url, "http://site.example/p1");
  EXPECT_EQ(spider.links().Row(3).url, "http://site.example/p0");
}

TEST_F(ChooseNextLink, AnyOtherDrawTakesTheBest) {
  Queue({0, 4, 1, 3, 2});
  random.values = {4, 3};
  ASSERT_TRUE(spider.chooseNextLink());
  EXPECT_EQ(random.ranges, std::vector<int>{10});
  EXPECT_EQ(spider.currentAddress(), "http://site.example/p1");
}

}  // namespace
}  // namespace zibu
