// The article store: one row per item across scans, what the user set survives, retention keeps
// rated and starred articles, search takes what people type, and a file that cannot serve is set
// aside without touching anything else.
#include "store/article_store.h"

#include "common/ports.h"
#include "feeds/reading_list.h"
#include "feeds/shown_memory.h"
#include "support/run_process.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <chrono>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace zibu {
namespace {

namespace fs = std::filesystem;

class ArticleStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("zibu-store-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = (dir_ / "articles.db").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  static StoredArticle Article(const std::string& title, const std::string& link, const std::string& guid = "",
                               int relevance = 0, int64_t published = 0) {
    StoredArticle a;
    a.title = title;
    a.link = link;
    a.guid = guid;
    a.text = title + " body text about " + title;
    a.content = "<p>" + title + "</p>";
    a.relevance = relevance;
    a.published = published;
    return a;
  }
  static std::vector<std::string> Titles(const std::vector<StoredArticle>& list) {
    std::vector<std::string> out;
    for (const auto& a : list) out.push_back(a.title);
    return out;
  }

  fs::path dir_;
  std::string path_;
};

TEST_F(ArticleStoreTest, KeepsOneRowPerItemAcrossScansAndWhatTheUserSet) {
  auto store = TArticleStore::Open(path_, 1000);
  std::vector<StoredArticle> first = {Article("Apple harvest", "http://a/1", "g1", 40),
                                      Article("Pear harvest", "http://a/2", "", 10)};
  EXPECT_EQ(store->StoreFeedArticles("http://feed/a", first, 1000), 2);
  store->SetRead({first[0].id}, true);
  store->SetRating(first[0].id, 7);
  store->SetStarred(first[1].id, true);

  // The next scan brings the same items, one with a changed link but the same guid, and a new one;
  // another feed may carry an item with the same guid as an article of its own.
  std::vector<StoredArticle> second = {Article("Apple harvest", "http://a/1?moved", "g1", 90),
                                       Article("Pear harvest", "http://a/2", "", 90),
                                       Article("Plum harvest", "http://a/3", "", 5)};
  EXPECT_EQ(store->StoreFeedArticles("http://feed/a", second, 2000), 1);
  std::vector<StoredArticle> other = {Article("Apple elsewhere", "http://b/1", "g1", 1)};
  EXPECT_EQ(store->StoreFeedArticles("http://feed/b", other, 2000), 1);
  EXPECT_EQ(second[0].id, first[0].id);
  EXPECT_EQ(second[1].id, first[1].id);
  EXPECT_EQ(store->Count(), 4u);

  auto apple = store->Get(first[0].id);
  ASSERT_TRUE(apple);
  EXPECT_TRUE(apple->read);
  EXPECT_EQ(apple->rating, 7);
  EXPECT_EQ(apple->relevance, 40) << "a scan does not overwrite the kept article";
  EXPECT_EQ(apple->firstSeen, 1000);
  EXPECT_EQ(apple->published, 1000) << "no date: first seen";
  EXPECT_TRUE(store->Get(first[1].id)->starred);
  EXPECT_EQ(store->Get(second[2].id)->firstSeen, 2000);

  // Reopened, everything is as it was.
  store.reset();
  store = TArticleStore::Open(path_, 3000);
  EXPECT_EQ(store->Count(), 4u);
  EXPECT_EQ(store->Get(first[0].id)->rating, 7);
}

TEST_F(ArticleStoreTest, RoundTripsTextsOfAnyBytes) {
  auto store = TArticleStore::Open(path_, 1);
  std::string allBytes;
  for (int b = 1; b < 256; ++b) allBytes += static_cast<char>(b);
  struct Case {
    std::string title, titleUtf8, text, content;
  } cases[] = {
      {"caf\xE9 \x93quoted\x94", "", "na\xEFve \x80 text", "<p>caf\xC3\xA9</p>"},
      {"\xBF\xBF\xBF", "\xD0\xAF\xD0\xB1\xD0\xBB\xD0\xBE\xD0\xBD\xD1\x8F", "", ""},
      {allBytes, "", allBytes, "plain"},
      {std::string("nul\0inside", 10), "", std::string("a\0b", 3), ""},
  };
  int n = 0;
  for (const auto& c : cases) {
    std::vector<StoredArticle> list = {Article("x", "http://x/" + std::to_string(n++))};
    list[0].title = c.title;
    list[0].titleUtf8 = c.titleUtf8;
    list[0].text = c.text;
    list[0].content = c.content;
    store->StoreFeedArticles("f", list, 1);
    auto back = store->Get(list[0].id);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->title, c.title);
    EXPECT_EQ(back->titleUtf8, c.titleUtf8);
    EXPECT_EQ(back->text, c.text);
    EXPECT_EQ(back->content, c.content);
  }
  // What a hostile feed brings is cut to the bounds, not stored whole.
  std::vector<StoredArticle> huge = {Article("big", "http://x/big")};
  huge[0].title.assign(10 * 1024 * 1024, 'T');
  huge[0].text.assign(10 * 1024 * 1024, 'x');
  huge[0].content.assign(10 * 1024 * 1024, 'c');
  store->StoreFeedArticles("f", huge, 1);
  auto big = store->Get(huge[0].id);
  EXPECT_EQ(big->title.size(), kMaxStoredTitle);
  EXPECT_EQ(big->text.size(), kMaxStoredText);
  EXPECT_EQ(big->content.size(), kMaxStoredContent);
}

TEST_F(ArticleStoreTest, FiltersSortsAndSearches) {
  auto store = TArticleStore::Open(path_, 1);
  std::vector<StoredArticle> a = {Article("Garden apple pruning", "http://a/1", "", 80, 100),
                                  Article("Football results", "http://a/2", "", -20, 300),
                                  Article("Apple orchard prices", "http://a/3", "", 30, 200)};
  std::vector<StoredArticle> b = {Article("Orchestra tour", "http://b/1", "", 55, 400)};
  store->StoreFeedArticles("http://feed/a", a, 1);
  store->StoreFeedArticles("http://feed/b", b, 1);
  store->SetRead({a[0].id}, true);
  store->SetStarred(a[1].id, true);
  store->SetRating(a[2].id, -3);

  struct Case {
    const char* name;
    ArticleQuery query;
    std::vector<std::string> titles;
  } cases[] = {
      {"all by relevance", {}, {"Garden apple pruning", "Orchestra tour", "Apple orchard prices", "Football results"}},
      {"by date", {.sort = ArticleSort::Date},
       {"Orchestra tour", "Football results", "Apple orchard prices", "Garden apple pruning"}},
      {"unread", {.unreadOnly = true}, {"Orchestra tour", "Apple orchard prices", "Football results"}},
      {"starred", {.starredOnly = true}, {"Football results"}},
      {"rated", {.ratedOnly = true}, {"Apple orchard prices"}},
      {"one feed", {.feeds = {"http://feed/b"}}, {"Orchestra tour"}},
      {"two feeds, limited", {.feeds = {"http://feed/a", "http://feed/b"}, .limit = 2},
       {"Garden apple pruning", "Orchestra tour"}},
      {"a word in any case", {.search = "APPLE"}, {"Garden apple pruning", "Apple orchard prices"}},
      {"all words", {.search = "apple prices"}, {"Apple orchard prices"}},
      {"a phrase", {.search = "\"apple pruning\""}, {"Garden apple pruning"}},
      {"a phrase not in order", {.search = "\"pruning apple\""}, {}},
      {"a prefix", {.search = "orch*"}, {"Orchestra tour", "Apple orchard prices"}},
      {"no prefix: whole words", {.search = "orch"}, {}},
      {"search and filter", {.search = "apple", .unreadOnly = true}, {"Apple orchard prices"}},
      {"syntax is literal", {.search = "apple AND NOT ( body: \"unclosed"}, {}},
      {"only punctuation", {.search = "( ) * \" -"}, {}},
  };
  for (const auto& c : cases) EXPECT_EQ(Titles(store->Query(c.query)), c.titles) << c.name;
  // A page at a time, the counts of the whole match, and its unread ids.
  EXPECT_EQ(Titles(store->Query({.limit = 2, .offset = 1})), (std::vector<std::string>{"Orchestra tour", "Apple orchard prices"}));
  EXPECT_EQ(Titles(store->Query({.offset = 3})), std::vector<std::string>{"Football results"});
  EXPECT_EQ(store->CountMatching({}), (std::pair<size_t, size_t>{4, 3}));
  EXPECT_EQ(store->CountMatching({.search = "apple"}), (std::pair<size_t, size_t>{2, 1}));
  EXPECT_EQ(store->CountMatching({.search = "( )"}), (std::pair<size_t, size_t>{0, 0}));
  EXPECT_EQ(store->UnreadIdsMatching({.search = "apple"}), std::vector<int64_t>{a[2].id});
  EXPECT_EQ(store->UnreadIdsMatching({.feeds = {"http://feed/b"}}), std::vector<int64_t>{b[0].id});
  // A listing is light; the bodies come when asked for.
  auto listed = store->Query({.feeds = {"http://feed/b"}});
  auto whole = store->Query({.feeds = {"http://feed/b"}, .withBodies = true});
  ASSERT_EQ(listed.size(), 1u);
  ASSERT_EQ(whole.size(), 1u);
  EXPECT_EQ(listed[0].text + listed[0].content, "");
  EXPECT_EQ(whole[0].text, b[0].text);
  EXPECT_EQ(whole[0].content, b[0].content);
}

// A store of the first schema is brought forward on open, its articles as they were.
TEST_F(ArticleStoreTest, AnOlderSchemaIsMigratedForward) {
  {
    auto store = TArticleStore::Open(path_, 1);
    std::vector<StoredArticle> a = {Article("Kept from before", "http://a/1", "g", 12)};
    store->StoreFeedArticles("f", a, 1);
    store->SetStarred(a[0].id, true);
  }
  sqlite3* db = nullptr;
  sqlite3_open(path_.c_str(), &db);
  ASSERT_EQ(sqlite3_exec(db, "ALTER TABLE articles DROP COLUMN alerted; PRAGMA user_version=1", nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  std::string notice;
  auto store = TArticleStore::Open(path_, 2, &notice);
  EXPECT_EQ(notice, "") << "migrated, not moved aside";
  auto kept = store->Query({});
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_TRUE(kept[0].starred);
  EXPECT_EQ(kept[0].relevance, 12);
  EXPECT_EQ(store->AlertedAt("http://a/1"), 0);
  store->MarkPresented("http://a/1", 0, 777);
  EXPECT_EQ(store->AlertedAt("http://a/1"), 777);
  EXPECT_TRUE(store->Get(kept[0].id)->read);
  EXPECT_EQ(store->Get(kept[0].id)->rating, 0) << "no rating given: none kept";
  store.reset();
  db = nullptr;
  sqlite3_open(path_.c_str(), &db);
  sqlite3_stmt* version = nullptr;
  sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &version, nullptr);
  ASSERT_EQ(sqlite3_step(version), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(version, 0), TArticleStore::SchemaVersion());
  sqlite3_finalize(version);
  sqlite3_close(db);
}

// What a rating window did reaches every kept article with that link, in each feed.
TEST_F(ArticleStoreTest, RatingsAndReadingReachByLink) {
  auto store = TArticleStore::Open(path_, 1);
  std::vector<StoredArticle> a = {Article("One", "http://a/1"), Article("Two", "http://a/2")};
  std::vector<StoredArticle> b = {Article("One elsewhere", "http://a/1")};
  store->StoreFeedArticles("f", a, 1);
  store->StoreFeedArticles("g", b, 1);
  EXPECT_EQ(store->AlertedAt("http://a/1"), 0);
  store->MarkPresented("http://a/1", -4, 50);
  for (int64_t id : {a[0].id, b[0].id}) {
    EXPECT_EQ(store->Get(id)->rating, -4);
    EXPECT_TRUE(store->Get(id)->read);
  }
  EXPECT_EQ(store->AlertedAt("http://a/1"), 50);
  EXPECT_FALSE(store->Get(a[1].id)->read);
  EXPECT_EQ(store->AlertedAt("http://a/3"), 0);
}

TEST_F(ArticleStoreTest, RetentionKeepsRatedAndStarred) {
  auto store = TArticleStore::Open(path_, 1);
  std::vector<StoredArticle> old = {Article("Old plain", "http://o/1"), Article("Old rated", "http://o/2"),
                                    Article("Old starred", "http://o/3")};
  store->StoreFeedArticles("f", old, 1000);
  std::vector<StoredArticle> fresh = {Article("Fresh", "http://n/1")};
  store->StoreFeedArticles("f", fresh, 5000);
  store->SetRating(old[1].id, 2);
  store->SetStarred(old[2].id, true);
  EXPECT_EQ(store->Prune(4000), 1);
  EXPECT_EQ(Titles(store->Query({.sort = ArticleSort::Date})),
            (std::vector<std::string>{"Fresh", "Old starred", "Old rated"}));
  EXPECT_TRUE(store->Query({.search = "plain"}).empty()) << "the search index forgets it too";
  // A pruned article that comes back is new again.
  std::vector<StoredArticle> again = {Article("Old plain", "http://o/1")};
  EXPECT_EQ(store->StoreFeedArticles("f", again, 6000), 1);
}

TEST_F(ArticleStoreTest, RescoringUnreadNewestFirst) {
  auto store = TArticleStore::Open(path_, 1);
  std::vector<StoredArticle> a = {Article("Early", "http://a/1", "", 0, 100), Article("Late", "http://a/2", "", 0, 300),
                                  Article("Read", "http://a/3", "", 0, 200)};
  store->StoreFeedArticles("f", a, 1);
  store->SetRead({a[2].id}, true);
  EXPECT_EQ(store->UnreadIds(), (std::vector<int64_t>{a[1].id, a[0].id}));
  const auto texts = store->TextsOf({a[1].id, 9999, a[0].id});
  ASSERT_EQ(texts.size(), 2u) << "an id no longer kept is left out";
  EXPECT_EQ(texts[0], (std::pair<int64_t, std::string>{a[1].id, a[1].text}));
  EXPECT_EQ(texts[1].first, a[0].id);
  store->SetRelevances({{a[0].id, 77}, {a[1].id, -5}});
  EXPECT_EQ(Titles(store->Query({.unreadOnly = true})), (std::vector<std::string>{"Early", "Late"}));
}

// What stands at the store's path when it is opened, and whether the store begins anew.
TEST_F(ArticleStoreTest, AFileThatCannotServeIsMovedAside) {
  auto write = [this](const std::string& bytes) {
    std::ofstream(path_, std::ios::binary) << bytes;
  };
  auto foreignDb = [this]() {
    sqlite3* db = nullptr;
    sqlite3_open(path_.c_str(), &db);
    sqlite3_exec(db, "CREATE TABLE songs(x); INSERT INTO songs VALUES (1);", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  };
  auto newerDb = [this]() {
    { TArticleStore::Open(path_, 1); }
    sqlite3* db = nullptr;
    sqlite3_open(path_.c_str(), &db);
    sqlite3_exec(db, "PRAGMA user_version=99", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  };
  auto truncatedDb = [this]() {
    {
      auto store = TArticleStore::Open(path_, 1);
      std::vector<StoredArticle> many;
      for (int i = 0; i < 300; ++i) many.push_back(Article("Title " + std::to_string(i), "http://t/" + std::to_string(i)));
      store->StoreFeedArticles("f", many, 1);
      store.reset();
    }
    fs::resize_file(path_, 4096 + 100);
  };
  struct Case {
    const char* name;
    std::function<void()> make;
    const char* why;
  } cases[] = {
      {"garbage", [&] { write(std::string(5000, '\x5A')); }, "not a database"},
      {"a text file", [&] { write("feedCount=3\n"); }, "not a database"},
      {"another program's database", foreignDb, "not an article store of mine"},
      {"a newer schema", newerDb, "newer Zibu"},
      {"truncated", truncatedDb, "cut short"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& e : fs::directory_iterator(dir_)) fs::remove_all(e.path());
    c.make();
    std::string notice;
    std::unique_ptr<TArticleStore> store;
    ASSERT_NO_THROW(store = TArticleStore::Open(path_, 42, &notice));
    EXPECT_NE(notice.find(c.why), std::string::npos) << notice;
    EXPECT_NE(notice.find("moved it to"), std::string::npos) << notice;
    EXPECT_EQ(store->Count(), 0u);
    std::vector<StoredArticle> one = {Article("After", "http://after/1")};
    EXPECT_EQ(store->StoreFeedArticles("f", one, 50), 1);
    bool setAside = false;
    for (const auto& e : fs::directory_iterator(dir_))
      setAside |= e.path().filename().string().rfind("articles.db.damaged-", 0) == 0;
    EXPECT_TRUE(setAside);
  }
}

TEST_F(ArticleStoreTest, AFailedWriteLeavesTheStoreAsItWas) {
  auto store = TArticleStore::Open(path_, 1);
  std::vector<StoredArticle> a = {Article("Kept", "http://a/1")};
  store->StoreFeedArticles("f", a, 1);
  // A second connection holds the write lock: the scan's transaction cannot begin, and says so.
  sqlite3* other = nullptr;
  sqlite3_open(path_.c_str(), &other);
  sqlite3_busy_timeout(other, 0);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  std::vector<StoredArticle> b = {Article("Lost", "http://a/2")};
  EXPECT_THROW(store->StoreFeedArticles("f", b, 2), std::exception);
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_EQ(Titles(store->Query({})), std::vector<std::string>{"Kept"});
  EXPECT_EQ(store->StoreFeedArticles("f", b, 3), 1);
}

// zibu-cli articles: what the reading window would list, one JSON line each.
TEST_F(ArticleStoreTest, CliListsSearchesAndFilters) {
  const std::string cli = test::ZibuCliPath(ZIBU_BIN_DIR);
  if (cli.empty() || !fs::exists(cli)) GTEST_SKIP() << "zibu-cli is not built";
  const fs::path home = dir_ / "home";
  fs::create_directories(home / "data");
  std::ofstream(home / "zibu.conf") << "[main]\nfeedCount=2\n[rss]\nfeed.0.url=http://feed/a\nfeed.1.url=http://feed/b\n";
  {
    auto store = TArticleStore::Open((home / "data" / "articles.db").string(), 1);
    std::vector<StoredArticle> a = {Article("Garden apple pruning", "http://a/1", "", 80, 100),
                                    Article("Caf\xE9 \x93news\x94", "http://a/2", "", 20, 300)};
    std::vector<StoredArticle> b = {Article("Orchard apple prices", "http://b/1", "", 50, 200)};
    store->StoreFeedArticles("http://feed/a", a, 1);
    store->StoreFeedArticles("http://feed/b", b, 1);
    store->SetRead({a[0].id}, true);
    store->SetStarred(b[0].id, true);
  }
  auto titles = [](const std::string& out) {
    std::vector<std::string> found;
    for (size_t at = out.find("\"title\": \""); at != std::string::npos; at = out.find("\"title\": \"", at + 1)) {
      size_t from = at + 10;
      found.push_back(out.substr(from, out.find("\", \"link\"", from) - from));
    }
    return found;
  };
  struct Case {
    std::vector<std::string> args;
    int exit;
    std::vector<std::string> titles;
  } cases[] = {
      {{}, 0, {"Garden apple pruning", "Orchard apple prices", "Caf\xC3\xA9 \xE2\x80\x9Cnews\xE2\x80\x9D"}},
      {{"--sort", "date", "--limit", "2"}, 0, {"Caf\xC3\xA9 \xE2\x80\x9Cnews\xE2\x80\x9D", "Orchard apple prices"}},
      {{"--search", "apple", "--unread"}, 0, {"Orchard apple prices"}},
      {{"--search", "\"apple prices\""}, 0, {"Orchard apple prices"}},
      {{"--starred"}, 0, {"Orchard apple prices"}},
      {{"--feed", "2"}, 0, {"Orchard apple prices"}},
      {{"--feed", "3"}, 2, {}},
      {{"--sort", "title"}, 2, {}},
      {{"--limit", "0"}, 2, {}},
      {{"--limit"}, 2, {}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"articles", "--home", home.string()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    auto r = test::RunProcess(cli, args);
    SCOPED_TRACE(r.err);
    EXPECT_EQ(r.exitStatus, c.exit);
    EXPECT_EQ(titles(r.out), c.titles);
  }
  // zibu-cli rate --article rates a kept article as the reading window does.
  struct RateCase {
    std::vector<std::string> args;
    int exit;
  } rateCases[] = {
      {{"--article", "1", "--rating", "11"}, 2},
      {{"--article", "1"}, 2},
      {{"--article", "1", "--rating", "3", "some", "text"}, 2},
      {{"--article", "x", "--rating", "3"}, 2},
      {{"--article", "99", "--rating", "3"}, 1},
      {{"--article", "1", "--rating", "8"}, 0},
      {{"--article", "1", "--rating", "8"}, 0},
  };
  for (const auto& c : rateCases) {
    std::vector<std::string> args = {"rate", "--home", home.string()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    auto r = test::RunProcess(cli, args);
    EXPECT_EQ(r.exitStatus, c.exit) << r.err;
  }
  auto rated = test::RunProcess(cli, {"articles", "--home", home.string(), "--rated"});
  EXPECT_NE(rated.out.find("\"read\": true, \"rating\": 8,"), std::string::npos) << rated.out;
  std::ifstream weights(home / "data" / "wordweightings.dat");
  std::string words((std::istreambuf_iterator<char>(weights)), std::istreambuf_iterator<char>());
  // Learned once, not twice: "pruning" stands twice in the text, "body" once.
  EXPECT_NE(words.find("PRUNING=16"), std::string::npos) << words;
  EXPECT_NE(words.find("BODY=8"), std::string::npos) << words;
  std::ifstream shownFile(home / "data" / "shownfeedurls.dat");
  std::string shownText((std::istreambuf_iterator<char>(shownFile)), std::istreambuf_iterator<char>());
  EXPECT_NE(shownText.find("http://a/1"), std::string::npos) << "remembered as shown";
  auto threshold = test::RunProcess(cli, {"threshold", "--home", home.string()});
  EXPECT_NE(threshold.out.find("\"recorded\": 1,"), std::string::npos) << "recorded once: " << threshold.out;

  auto full = test::RunProcess(cli, {"articles", "--home", home.string(), "--starred"});
  EXPECT_NE(full.out.find("\"feed\": \"http://feed/b\", "), std::string::npos) << full.out;
  EXPECT_NE(full.out.find("\"link\": \"http://b/1\", \"published\": 200, \"relevance\": 50, \"read\": false, "
                          "\"rating\": 0, \"starred\": true}\n"),
            std::string::npos)
      << full.out;
}

// A rating in the list teaches what a rating window teaches, once, whatever the user changes.
TEST_F(ArticleStoreTest, ARatingInTheListIsARating) {
  SilentUserPort port;
  auto store = TArticleStore::Open(path_, 1);
  std::vector<StoredArticle> a = {Article("jordan abdullah", "http://a/1"), Article("katie sand", "http://a/2")};
  a[0].text = "jordan abdullah";
  store->StoreFeedArticles("f", a, 1);
  TCompMap shown;

  // What rating the article's text with r in a rating window would leave behind.
  auto windowLearned = [&port](int r) {
    auto engine = std::make_unique<LearningEngine>(port);
    engine->SetMaxWordWeight(50);
    engine->LearnFromRating(r, "jordan abdullah");
    return engine;
  };
  LearningEngine engine(port);
  engine.SetMaxWordWeight(50);
  struct Step {
    int rating;
    int learnedLike;  // the single rating the engine must now equal; 0: nothing learned
    size_t recorded;  // ratings in the record of rated articles: the article's first
  } steps[] = {{8, 8, 1}, {8, 8, 1}, {5, 5, 1}, {-3, -3, 1}, {0, 0, 1}};
  for (const auto& s : steps) {
    SCOPED_TRACE(s.rating);
    ASSERT_TRUE(RateStoredArticle(engine, *store, shown, 500, a[0].id, s.rating));
    auto expected = windowLearned(s.learnedLike);
    for (const char* text : {"jordan", "abdullah", "jordan abdullah", "abdullah news jordan"})
      EXPECT_EQ(engine.GetRelevance(text), expected->GetRelevance(text)) << text;
    EXPECT_EQ(engine.RatedArticles().Entries().size(), s.recorded);
    auto kept = store->Get(a[0].id);
    EXPECT_EQ(kept->rating, s.rating);
    EXPECT_TRUE(kept->read);
    EXPECT_TRUE(WasShownRecently(shown, "http://a/1", 600, 60000));
  }
  EXPECT_FALSE(store->Get(a[1].id)->read) << "only the rated article";
  EXPECT_FALSE(RateStoredArticle(engine, *store, shown, 500, 9999, 4));
}

TEST_F(ArticleStoreTest, RescoringFollowsTheLearningNewestFirstInSlices) {
  SilentUserPort port;
  LearningEngine engine(port);
  engine.SetMaxWordWeight(50);
  auto store = TArticleStore::Open(path_, 1);
  std::vector<StoredArticle> a;
  for (int i = 0; i < 6; ++i) {
    a.push_back(Article("t" + std::to_string(i), "http://a/" + std::to_string(i), "", 0, 100 + i));
    a.back().text = i % 2 ? "garden apple pruning" : "football results today";
  }
  store->StoreFeedArticles("f", a, 1);
  store->SetRead({a[5].id}, true);
  engine.LearnFromRating(9, "garden apple pruning");
  engine.LearnFromRating(-9, "football results today");

  // A clock that moves 10 ms each time it is read: a 15 ms budget takes two articles a slice.
  struct StepClock : Clock {
    mutable int64_t now = 0;
    int64_t NowMs() const override { return now += 10; }
    uint32_t IdleMs() const override { return 0; }
  } clock;
  TRescoring rescoring;
  rescoring.Start(*store);
  EXPECT_EQ(rescoring.Remaining(), 5u) << "unread only";
  std::vector<int64_t> order;
  int slices = 0;
  while (rescoring.Running()) {
    auto slice = rescoring.Step(engine, *store, clock, 15);
    EXPECT_LE(slice.size(), 2u);
    for (auto& [id, relevance] : slice) order.push_back(id);
    ++slices;
  }
  EXPECT_EQ(slices, 3);
  EXPECT_EQ(order, (std::vector<int64_t>{a[4].id, a[3].id, a[2].id, a[1].id, a[0].id}));
  auto ranked = store->Query({.unreadOnly = true});
  ASSERT_EQ(ranked.size(), 5u);
  for (const auto& r : ranked) {
    auto whole = store->Get(r.id);
    EXPECT_EQ(r.relevance, engine.GetRelevance(whole->text)) << whole->text;
  }
  EXPECT_GT(ranked.front().relevance, 0);
  EXPECT_LT(ranked.back().relevance, 0);
  EXPECT_EQ(store->Get(a[5].id)->relevance, 0) << "a read article keeps the relevance it had";
}

// A scan's articles go in a part at a time; a long feed is cut into transactions of a bounded
// size, and every article arrives once, scored only when triage left it unscored and it is new.
TEST_F(ArticleStoreTest, TheKeeperKeepsALongFeedInBoundedSteps) {
  auto store = TArticleStore::Open(path_, 1);
  SilentUserPort port;
  TArticleKeeper keeper(*store);
  const size_t n = kArticlesPerTransaction * 2 + 500;
  for (size_t i = 0; i < n; ++i) {
    TItem item;
    item.Title = "Title " + std::to_string(i);
    item.Link = "http://k/" + std::to_string(i);
    item.Relevance = 33;
    keeper.Add("<p>x</p>", item, i % 2 ? TriageOutcome::Scored : TriageOutcome::ShownRecently);
  }
  int scoredHere = 0;
  auto score = [&](std::string_view) {
    ++scoredHere;
    return -7;
  };
  int steps = 0;
  const auto past = std::chrono::steady_clock::now();
  while (!keeper.Keep("http://feed/long", 5, score, port, past)) ++steps;
  EXPECT_GE(steps, static_cast<int>(n) - 1) << "one article a step when the time is up";
  EXPECT_EQ(store->Count(), n);
  EXPECT_EQ(scoredHere, static_cast<int>(n / 2)) << "only what triage did not score";
  EXPECT_EQ(store->Query({.search = "\"Title 2\""}).size(), 1u);
  int minusSeven = 0;
  for (const auto& a : store->Query({})) minusSeven += a.relevance == -7;
  EXPECT_EQ(minusSeven, static_cast<int>(n / 2));

  // The same articles again: nothing new, nothing scored.
  scoredHere = 0;
  TItem again;
  again.Link = "http://k/0";
  keeper.Add("", again, TriageOutcome::ShownRecently);
  EXPECT_TRUE(keeper.Keep("http://feed/long", 6, score, port, std::chrono::steady_clock::now() + std::chrono::seconds(5)));
  EXPECT_EQ(scoredHere, 0);
  EXPECT_EQ(store->Count(), n);
}

}  // namespace
}  // namespace zibu
