// The article store: every article the feeds bring, kept in one SQLite file beside the learned
// data, with its read state, rating and star, ranked by relevance and searchable. It is the only
// place that knows SQL; the rest of the program asks it for articles.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace zibu {

// One article as the store keeps it.
struct StoredArticle {
  int64_t id = 0;        // given by the store
  std::string feed;      // the feed's address, as in the feed list
  std::string guid;      // the item's own identity; "" when it has none (then the link is the key)
  std::string link;      // in the form the shown-article memory keys on
  std::string title;     // single-byte, as learned and matched
  std::string titleUtf8;  // the display form; "" where it is the single-byte title itself
  std::string text;      // what relevance is computed from (single-byte)
  std::string content;   // the article's HTML, for reading
  std::string base;      // what relative links of the content resolve against
  int64_t published = 0;  // the item's date, else when it was first seen (time stamps as NowMs)
  int64_t firstSeen = 0;
  int32_t relevance = 0;  // -100..100, kept current as learning changes
  bool read = false;
  int32_t rating = 0;  // -10..10; 0 = not rated
  bool starred = false;
};

enum class ArticleSort { Relevance, Date };

struct ArticleQuery {
  // Words, "phrases" and prefix* as typed; empty: no search.
  std::string search = {};
  bool unreadOnly = false;
  bool starredOnly = false;
  bool ratedOnly = false;
  // Only the articles of these feeds (addresses); empty: every feed.
  std::vector<std::string> feeds = {};
  ArticleSort sort = ArticleSort::Relevance;
  int limit = 0;   // 0: all
  int offset = 0;  // articles of the order skipped first (a list fetched a page at a time)
  // A listing leaves out each article's text and content (Get brings them); set to have them.
  bool withBodies = false;
};

// What a store keeps of one article at most, so a hostile feed cannot fill the disk.
inline constexpr size_t kMaxStoredTitle = 64 * 1024;
inline constexpr size_t kMaxStoredText = 256 * 1024;
inline constexpr size_t kMaxStoredContent = 256 * 1024;

class TArticleStore {
 public:
  // Opens the store at `path`, making it when it is absent. A file that is damaged, not a store
  // of this program, or of a newer schema is moved aside (its name gains ".damaged-<time>") and
  // a new store begins; `notice` then receives the line that says so. Throws when no store can
  // be had at all (an unwritable folder, say).
  static std::unique_ptr<TArticleStore> Open(const std::string& path, int64_t nowMs, std::string* notice = nullptr);
  ~TArticleStore();
  TArticleStore(const TArticleStore&) = delete;
  TArticleStore& operator=(const TArticleStore&) = delete;

  // Keeps one feed's articles in one transaction: an article already kept (same feed and guid,
  // else same link) keeps its row, read state, rating and star; new ones get `nowMs` as first
  // seen (and as published when they have no date). Fills in each article's id. Returns how
  // many were new. Throws on a write failure, leaving the store as it was before the call.
  // `relevanceOfNew`, when set, gives the relevance of each article that is new to the store
  // (those already kept need none); it is handed the element of `articles` itself.
  int StoreFeedArticles(const std::string& feed, std::vector<StoredArticle>& articles, int64_t nowMs,
                        const std::function<int32_t(const StoredArticle&)>& relevanceOfNew = {});

  // The same a part at a time, so that a long feed never holds up the thread that keeps it:
  // BeginFeed opens the feed's transaction, AddToFeed keeps one article (true when it was new),
  // CommitFeed ends it; RollbackFeed forgets what was added. Throw on a write failure.
  void BeginFeed(const std::string& feed);
  bool AddToFeed(StoredArticle& article, int64_t nowMs,
                 const std::function<int32_t(const StoredArticle&)>& relevanceOfNew = {});
  void CommitFeed();
  void RollbackFeed();
  bool KeepingFeed() const { return batch_ != nullptr; }

  std::vector<StoredArticle> Query(const ArticleQuery& query) const;
  // How many articles the query matches (limit and offset aside), and how many of them are unread.
  std::pair<size_t, size_t> CountMatching(const ArticleQuery& query) const;
  // The unread ones among them (Mark all read).
  std::vector<int64_t> UnreadIdsMatching(const ArticleQuery& query) const;
  std::optional<StoredArticle> Get(int64_t id) const;
  size_t Count() const;

  void SetRead(const std::vector<int64_t>& ids, bool read);
  void SetStarred(int64_t id, bool starred);
  void SetRating(int64_t id, int32_t rating);
  // An article brought to the user in a rating window: read, rated when `rating` is not 0, and
  // when it was alerted; AlertedAt tells that time (0: never).
  void MarkPresented(const std::string& link, int32_t rating, int64_t nowMs);
  int64_t AlertedAt(const std::string& link) const;

  // Forgets what was first seen before `cutoffMs`, keeping rated and starred articles. Returns
  // how many went.
  int Prune(int64_t cutoffMs);

  // The unread articles' ids, newest first, for scoring them again, and then the texts of some
  // of them, a part at a time (in the order asked; an id no longer kept is left out).
  std::vector<int64_t> UnreadIds() const;
  std::vector<std::pair<int64_t, std::string>> TextsOf(const std::vector<int64_t>& ids) const;
  void SetRelevances(const std::vector<std::pair<int64_t, int32_t>>& relevances);

  // The schema version this program writes.
  static int SchemaVersion();

 private:
  explicit TArticleStore(sqlite3* db);
  void Exec(const char* sql) const;
  StoredArticle Row(void* statement) const;
  sqlite3* db_;
  struct FeedBatch;
  std::unique_ptr<FeedBatch> batch_;
};

// The FTS5 query for what the user typed: words must all occur, "phrases" as written, a word
// ending in * matches as a prefix; everything else the user typed is taken literally, so no
// input is a syntax error. Empty when nothing searchable remains.
std::string FtsQueryFor(const std::string& typed);

}  // namespace zibu
