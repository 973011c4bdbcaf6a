#include "store/article_store.h"

#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "common/codepage.h"
#include "common/errors.h"

namespace zibu {

namespace {

// "ZiBu": tells a store of this program from another program's SQLite file.
constexpr int kApplicationId = 0x5A694275;
constexpr int kSchemaVersion = 2;

// Each step brings a store of version (index) to version (index + 1). A new store runs them all.
const char* const kMigrations[] = {
    R"sql(
CREATE TABLE feeds(id INTEGER PRIMARY KEY, url TEXT NOT NULL UNIQUE);
CREATE TABLE articles(
  id INTEGER PRIMARY KEY,
  feed_id INTEGER NOT NULL REFERENCES feeds(id),
  item_key TEXT NOT NULL,
  guid TEXT NOT NULL,
  link TEXT NOT NULL,
  title BLOB NOT NULL,
  title_display TEXT NOT NULL,
  text TEXT NOT NULL,
  content TEXT NOT NULL,
  base TEXT NOT NULL,
  published INTEGER NOT NULL,
  first_seen INTEGER NOT NULL,
  relevance INTEGER NOT NULL,
  read INTEGER NOT NULL DEFAULT 0,
  rating INTEGER NOT NULL DEFAULT 0,
  starred INTEGER NOT NULL DEFAULT 0,
  UNIQUE(feed_id, item_key));
CREATE INDEX articles_by_relevance ON articles(read, relevance DESC, published DESC);
CREATE INDEX articles_by_date ON articles(published DESC);
CREATE INDEX articles_by_link ON articles(link);
CREATE INDEX articles_by_first_seen ON articles(first_seen);
CREATE VIRTUAL TABLE articles_fts USING fts5(title_display, text, content='articles', content_rowid='id',
                                             tokenize='unicode61 remove_diacritics 2');
CREATE TRIGGER articles_fts_insert AFTER INSERT ON articles BEGIN
  INSERT INTO articles_fts(rowid, title_display, text) VALUES (new.id, new.title_display, new.text);
END;
CREATE TRIGGER articles_fts_delete AFTER DELETE ON articles BEGIN
  INSERT INTO articles_fts(articles_fts, rowid, title_display, text)
    VALUES ('delete', old.id, old.title_display, old.text);
END;
CREATE TRIGGER articles_fts_update AFTER UPDATE OF title_display, text ON articles BEGIN
  INSERT INTO articles_fts(articles_fts, rowid, title_display, text)
    VALUES ('delete', old.id, old.title_display, old.text);
  INSERT INTO articles_fts(rowid, title_display, text) VALUES (new.id, new.title_display, new.text);
END;
)sql",
    // 2: when an article was brought to the user in a rating window (0: never), so that an alert
    // is given once whatever the shown-article memory forgets.
    R"sql(
ALTER TABLE articles ADD COLUMN alerted INTEGER NOT NULL DEFAULT 0;
)sql",
};
static_assert(sizeof(kMigrations) / sizeof(kMigrations[0]) == kSchemaVersion);

class StoreError : public std::runtime_error {
 public:
  StoreError(const std::string& what, int code) : std::runtime_error(what), code(code) {}
  int code;
};

[[noreturn]] void Fail(sqlite3* db, const std::string& doing) {
  int code = db ? sqlite3_extended_errcode(db) : SQLITE_ERROR;
  std::string message = db ? sqlite3_errmsg(db) : "out of memory";
  throw StoreError("Article store: " + doing + ": " + message, code);
}

// One prepared statement, finalized on every exit.
class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt_, nullptr) != SQLITE_OK)
      Fail(db, "preparing a query");
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int index, int64_t value) {
    Check(sqlite3_bind_int64(stmt_, index, value));
    return *this;
  }
  Statement& Bind(int index, const std::string& text) {
    Check(sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT));
    return *this;
  }
  Statement& BindBlob(int index, const std::string& bytes) {
    Check(sqlite3_bind_blob(stmt_, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT));
    return *this;
  }
  // True while there is a row.
  bool Step() {
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    Fail(db_, "reading or writing");
  }
  void Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }
  std::string Text(int column) const {
    const void* data = sqlite3_column_blob(stmt_, column);
    int size = sqlite3_column_bytes(stmt_, column);
    return data ? std::string(static_cast<const char*>(data), static_cast<size_t>(size)) : std::string();
  }
  sqlite3_stmt* Raw() const { return stmt_; }

 private:
  void Check(int rc) {
    if (rc != SQLITE_OK) Fail(db_, "binding a value");
  }
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

int PragmaInt(sqlite3* db, const char* pragma) {
  Statement s(db, std::string("PRAGMA ") + pragma);
  return s.Step() ? static_cast<int>(s.Int(0)) : 0;
}

// Cuts a text to at most `limit` bytes without splitting a UTF-8 sequence.
std::string Bounded(const std::string& text, size_t limit, bool utf8) {
  if (text.size() <= limit) return text;
  size_t end = limit;
  if (utf8)
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

std::string StampText(int64_t ms) {
  // The time stamp is local milliseconds since 1970; as a file suffix its digits are enough.
  return std::to_string(ms);
}

void MoveAside(const std::string& path, const std::string& suffix) {
  std::error_code ec;
  std::filesystem::rename(path, path + suffix, ec);
  if (ec) throw std::runtime_error("Article store: cannot move " + path + " aside: " + ec.message());
  for (const char* extra : {"-wal", "-shm"}) {
    std::filesystem::path side(path + extra);
    if (std::filesystem::exists(side, ec)) std::filesystem::rename(side, path + suffix + extra, ec);
  }
}

// A file cut short (a copy that stopped, a disk that filled) shows it in its header, which names
// the size the database had when it was last written whole.
bool CutShort(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  unsigned char h[100];
  if (!in.read(reinterpret_cast<char*>(h), sizeof h)) return false;
  if (std::memcmp(h, "SQLite format 3", 16) != 0) return false;
  auto be32 = [&h](int at) {
    return (uint64_t{h[at]} << 24) | (uint64_t{h[at + 1]} << 16) | (uint64_t{h[at + 2]} << 8) | uint64_t{h[at + 3]};
  };
  uint64_t pageSize = (uint64_t{h[16]} << 8) | h[17];
  if (pageSize == 1) pageSize = 65536;
  if (be32(24) != be32(92)) return false;  // the size field is not kept up to date: nothing to compare
  std::error_code ec;
  auto size = std::filesystem::file_size(path, ec);
  return !ec && be32(28) * pageSize > size;
}

// Why an opened file cannot serve as this program's store ("" when it can, after any migration).
std::string Unusable(sqlite3* db) {
  try {
    int app = PragmaInt(db, "application_id");
    int version = PragmaInt(db, "user_version");
    Statement tables(db, "SELECT count(*) FROM sqlite_master");
    tables.Step();
    bool empty = tables.Int(0) == 0;
    if (app != kApplicationId && !(app == 0 && version == 0 && empty)) return "it is not an article store of mine";
    if (version > kSchemaVersion)
      return "it was written by a newer Zibu (schema " + std::to_string(version) + ")";
    return "";
  } catch (const StoreError& e) {
    return e.what();
  }
}

}  // namespace

int TArticleStore::SchemaVersion() { return kSchemaVersion; }

TArticleStore::TArticleStore(sqlite3* db) : db_(db) {}

TArticleStore::~TArticleStore() {
  try {
    CommitFeed();  // what a scan had read by the time the program ended is kept
  } catch (...) {
  }
  sqlite3_close_v2(db_);
}

void TArticleStore::Exec(const char* sql) const {
  char* error = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    std::string message = error ? error : "unknown error";
    sqlite3_free(error);
    throw StoreError("Article store: " + message, sqlite3_extended_errcode(db_));
  }
}

std::unique_ptr<TArticleStore> TArticleStore::Open(const std::string& path, int64_t nowMs, std::string* notice) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    if (rc != SQLITE_OK) {
      std::string message = db ? sqlite3_errmsg(db) : "out of memory";
      sqlite3_close_v2(db);
      throw std::runtime_error("Article store: cannot open " + path + ": " + message);
    }
    sqlite3_busy_timeout(db, 2000);
    std::string why = CutShort(path) ? "it is cut short" : Unusable(db);
    std::unique_ptr<TArticleStore> store(new TArticleStore(db));
    if (why.empty()) {
      try {
        store->Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON;");
        int version = PragmaInt(db, "user_version");
        if (version < kSchemaVersion) {
          store->Exec("BEGIN IMMEDIATE");
          try {
            for (int v = version; v < kSchemaVersion; ++v) store->Exec(kMigrations[v]);
            store->Exec(("PRAGMA application_id=" + std::to_string(kApplicationId) + "; PRAGMA user_version=" +
                         std::to_string(kSchemaVersion))
                            .c_str());
            store->Exec("COMMIT");
          } catch (...) {
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
          }
        }
        return store;
      } catch (const StoreError& e) {
        // A damaged file shows itself here; anything else (a full disk, a read-only folder) is
        // no reason to set the user's articles aside.
        int primary = e.code & 0xFF;
        if (primary != SQLITE_CORRUPT && primary != SQLITE_NOTADB) throw;
        why = e.what();
      }
    }
    store.reset();
    if (attempt == 1) break;
    std::string suffix = ".damaged-" + StampText(nowMs);
    MoveAside(path, suffix);
    if (notice)
      *notice = "The article store " + path + " could not be used (" + why + "); I moved it to " + path + suffix +
                " and began a new one.";
  }
  throw std::runtime_error("Article store: cannot make a new store at " + path);
}

// The statements of one feed's transaction, prepared once for all its articles.
struct TArticleStore::FeedBatch {
  FeedBatch(sqlite3* db, int64_t feedId)
      : fid(feedId),
        find(db, "SELECT id FROM articles WHERE feed_id = ? AND item_key = ?"),
        insert(db,
               "INSERT INTO articles(feed_id, item_key, guid, link, title, title_display, text, content, base, "
               "published, first_seen, relevance) VALUES (?,?,?,?,?,?,?,?,?,?,?,?)") {}
  int64_t fid;
  Statement find;
  Statement insert;
};

void TArticleStore::BeginFeed(const std::string& feed) {
  if (batch_) throw std::logic_error("Article store: a feed's articles are being kept already");
  Exec("BEGIN IMMEDIATE");
  try {
    Statement addFeed(db_, "INSERT OR IGNORE INTO feeds(url) VALUES (?)");
    addFeed.Bind(1, feed).Step();
    Statement feedId(db_, "SELECT id FROM feeds WHERE url = ?");
    feedId.Bind(1, feed);
    if (!feedId.Step()) Fail(db_, "finding the feed");
    batch_ = std::make_unique<FeedBatch>(db_, feedId.Int(0));
  } catch (...) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

bool TArticleStore::AddToFeed(StoredArticle& a, int64_t nowMs,
                              const std::function<int32_t(const StoredArticle&)>& relevanceOfNew) {
  if (!batch_) throw std::logic_error("Article store: no feed's articles are being kept");
  FeedBatch& b = *batch_;
  const std::string& key = a.guid.empty() ? a.link : a.guid;
  b.find.Reset();
  b.find.Bind(1, b.fid).Bind(2, key);
  if (b.find.Step()) {
    a.id = b.find.Int(0);
    return false;
  }
  if (relevanceOfNew) a.relevance = relevanceOfNew(a);
  std::string title = Bounded(a.title, kMaxStoredTitle, false);
  std::string display = Bounded(a.titleUtf8.empty() ? Win1252ToUtf8(title) : a.titleUtf8, kMaxStoredTitle, true);
  b.insert.Reset();
  b.insert.Bind(1, b.fid)
      .Bind(2, key)
      .Bind(3, a.guid)
      .Bind(4, a.link)
      .BindBlob(5, title)
      .Bind(6, display)
      // The single-byte text goes in as UTF-8: FTS5 tokenizes UTF-8, and the way back is exact.
      .Bind(7, Win1252ToUtf8(Bounded(a.text, kMaxStoredText, false)))
      .Bind(8, Bounded(a.content, kMaxStoredContent, true))
      .Bind(9, a.base)
      .Bind(10, a.published ? a.published : nowMs)
      .Bind(11, nowMs)
      .Bind(12, a.relevance);
  b.insert.Step();
  a.id = sqlite3_last_insert_rowid(db_);
  return true;
}

void TArticleStore::CommitFeed() {
  if (!batch_) return;
  batch_.reset();
  try {
    Exec("COMMIT");
  } catch (...) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

void TArticleStore::RollbackFeed() {
  if (!batch_) return;
  batch_.reset();
  sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

int TArticleStore::StoreFeedArticles(const std::string& feed, std::vector<StoredArticle>& articles, int64_t nowMs,
                                     const std::function<int32_t(const StoredArticle&)>& relevanceOfNew) {
  int added = 0;
  BeginFeed(feed);
  try {
    for (auto& a : articles) added += AddToFeed(a, nowMs, relevanceOfNew) ? 1 : 0;
    CommitFeed();
  } catch (...) {
    RollbackFeed();
    throw;
  }
  return added;
}

namespace {
const char* const kColumns =
    "a.id, f.url, a.guid, a.link, a.title, a.title_display, a.text, a.content, a.base, a.published, a.first_seen, "
    "a.relevance, a.read, a.rating, a.starred";
const char* const kListColumns =
    "a.id, f.url, a.guid, a.link, a.title, a.title_display, '', '', a.base, a.published, a.first_seen, "
    "a.relevance, a.read, a.rating, a.starred";
}

StoredArticle TArticleStore::Row(void* statement) const {
  auto& s = *static_cast<Statement*>(statement);
  StoredArticle a;
  a.id = s.Int(0);
  a.feed = s.Text(1);
  a.guid = s.Text(2);
  a.link = s.Text(3);
  a.title = s.Text(4);
  std::string display = s.Text(5);
  a.titleUtf8 = display == Win1252ToUtf8(a.title) ? std::string() : display;
  a.text = Utf8ToWin1252(s.Text(6));
  a.content = s.Text(7);
  a.base = s.Text(8);
  a.published = s.Int(9);
  a.firstSeen = s.Int(10);
  a.relevance = static_cast<int32_t>(s.Int(11));
  a.read = s.Int(12) != 0;
  a.rating = static_cast<int32_t>(s.Int(13));
  a.starred = s.Int(14) != 0;
  return a;
}

namespace {
// The FROM and WHERE of a query with the values to bind, in order; false when nothing can match.
bool Filter(const ArticleQuery& query, std::string& sql, std::vector<std::string>& values) {
  sql = " FROM articles a JOIN feeds f ON f.id = a.feed_id";
  const std::string fts = FtsQueryFor(query.search);
  if (!query.search.empty() && fts.empty()) return false;
  std::vector<std::string> where;
  if (!fts.empty()) {
    where.push_back("a.id IN (SELECT rowid FROM articles_fts WHERE articles_fts MATCH ?)");
    values.push_back(fts);
  }
  if (query.unreadOnly) where.push_back("a.read = 0");
  if (query.starredOnly) where.push_back("a.starred = 1");
  if (query.ratedOnly) where.push_back("a.rating != 0");
  if (!query.feeds.empty()) {
    std::string in = "f.url IN (";
    for (size_t i = 0; i < query.feeds.size(); ++i) in += i ? ",?" : "?";
    where.push_back(in + ")");
    values.insert(values.end(), query.feeds.begin(), query.feeds.end());
  }
  for (size_t i = 0; i < where.size(); ++i) sql += (i ? " AND " : " WHERE ") + where[i];
  return true;
}
}  // namespace

std::vector<StoredArticle> TArticleStore::Query(const ArticleQuery& query) const {
  std::string filter;
  std::vector<std::string> values;
  if (!Filter(query, filter, values)) return {};
  std::string sql = std::string("SELECT ") + (query.withBodies ? kColumns : kListColumns) + filter;
  sql += query.sort == ArticleSort::Relevance ? " ORDER BY a.relevance DESC, a.published DESC, a.id DESC"
                                              : " ORDER BY a.published DESC, a.id DESC";
  if (query.limit > 0) sql += " LIMIT " + std::to_string(query.limit);
  if (query.offset > 0) sql += (query.limit > 0 ? "" : " LIMIT -1") + std::string(" OFFSET ") + std::to_string(query.offset);
  Statement s(db_, sql);
  for (size_t i = 0; i < values.size(); ++i) s.Bind(static_cast<int>(i) + 1, values[i]);
  std::vector<StoredArticle> out;
  while (s.Step()) out.push_back(Row(&s));
  return out;
}

std::pair<size_t, size_t> TArticleStore::CountMatching(const ArticleQuery& query) const {
  std::string filter;
  std::vector<std::string> values;
  if (!Filter(query, filter, values)) return {0, 0};
  Statement s(db_, "SELECT count(*), count(*) FILTER (WHERE a.read = 0)" + filter);
  for (size_t i = 0; i < values.size(); ++i) s.Bind(static_cast<int>(i) + 1, values[i]);
  s.Step();
  return {static_cast<size_t>(s.Int(0)), static_cast<size_t>(s.Int(1))};
}

std::vector<int64_t> TArticleStore::UnreadIdsMatching(const ArticleQuery& query) const {
  std::string filter;
  std::vector<std::string> values;
  if (!Filter(query, filter, values)) return {};
  Statement s(db_, "SELECT a.id" + filter + (filter.find(" WHERE ") == std::string::npos ? " WHERE" : " AND") +
                       " a.read = 0");
  for (size_t i = 0; i < values.size(); ++i) s.Bind(static_cast<int>(i) + 1, values[i]);
  std::vector<int64_t> out;
  while (s.Step()) out.push_back(s.Int(0));
  return out;
}

std::optional<StoredArticle> TArticleStore::Get(int64_t id) const {
  Statement s(db_, std::string("SELECT ") + kColumns + " FROM articles a JOIN feeds f ON f.id = a.feed_id WHERE a.id = ?");
  s.Bind(1, id);
  if (!s.Step()) return std::nullopt;
  return Row(&s);
}

size_t TArticleStore::Count() const {
  Statement s(db_, "SELECT count(*) FROM articles");
  s.Step();
  return static_cast<size_t>(s.Int(0));
}

void TArticleStore::SetRead(const std::vector<int64_t>& ids, bool read) {
  Exec("BEGIN IMMEDIATE");
  try {
    Statement s(db_, "UPDATE articles SET read = ? WHERE id = ?");
    for (int64_t id : ids) {
      s.Reset();
      s.Bind(1, read ? 1 : 0).Bind(2, id).Step();
    }
    Exec("COMMIT");
  } catch (...) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

void TArticleStore::SetStarred(int64_t id, bool starred) {
  Statement s(db_, "UPDATE articles SET starred = ? WHERE id = ?");
  s.Bind(1, starred ? 1 : 0).Bind(2, id).Step();
}

void TArticleStore::SetRating(int64_t id, int32_t rating) {
  Statement s(db_, "UPDATE articles SET rating = ? WHERE id = ?");
  s.Bind(1, rating).Bind(2, id).Step();
}

void TArticleStore::MarkPresented(const std::string& link, int32_t rating, int64_t nowMs) {
  Statement s(db_,
              "UPDATE articles SET read = 1, rating = CASE WHEN ? != 0 THEN ? ELSE rating END, alerted = ? WHERE link = ?");
  s.Bind(1, rating).Bind(2, rating).Bind(3, nowMs).Bind(4, link).Step();
}

int64_t TArticleStore::AlertedAt(const std::string& link) const {
  Statement s(db_, "SELECT max(alerted) FROM articles WHERE link = ?");
  s.Bind(1, link);
  return s.Step() ? s.Int(0) : 0;
}

int TArticleStore::Prune(int64_t cutoffMs) {
  Statement s(db_, "DELETE FROM articles WHERE first_seen < ? AND rating = 0 AND starred = 0");
  s.Bind(1, cutoffMs).Step();
  return sqlite3_changes(db_);
}

std::vector<int64_t> TArticleStore::UnreadIds() const {
  Statement s(db_, "SELECT id FROM articles WHERE read = 0 ORDER BY published DESC, id DESC");
  std::vector<int64_t> out;
  while (s.Step()) out.push_back(s.Int(0));
  return out;
}

std::vector<std::pair<int64_t, std::string>> TArticleStore::TextsOf(const std::vector<int64_t>& ids) const {
  Statement s(db_, "SELECT text FROM articles WHERE id = ?");
  std::vector<std::pair<int64_t, std::string>> out;
  for (int64_t id : ids) {
    s.Reset();
    s.Bind(1, id);
    if (s.Step()) out.emplace_back(id, Utf8ToWin1252(s.Text(0)));
  }
  return out;
}

void TArticleStore::SetRelevances(const std::vector<std::pair<int64_t, int32_t>>& relevances) {
  Exec("BEGIN IMMEDIATE");
  try {
    Statement s(db_, "UPDATE articles SET relevance = ? WHERE id = ?");
    for (const auto& [id, relevance] : relevances) {
      s.Reset();
      s.Bind(1, relevance).Bind(2, id).Step();
    }
    Exec("COMMIT");
  } catch (...) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

std::string FtsQueryFor(const std::string& typed) {
  std::string out;
  auto add = [&out](const std::string& term, bool prefix) {
    std::string quoted = "\"";
    for (char c : term) {
      if (c == '"') quoted += '"';
      quoted += c;
    }
    quoted += '"';
    if (prefix) quoted += '*';
    if (!out.empty()) out += ' ';
    out += quoted;
  };
  size_t i = 0;
  while (i < typed.size()) {
    char c = typed[i];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      ++i;
      continue;
    }
    if (c == '"') {
      size_t close = typed.find('"', i + 1);
      std::string phrase = typed.substr(i + 1, close == std::string::npos ? std::string::npos : close - i - 1);
      if (phrase.find_first_not_of(" \t") != std::string::npos) add(phrase, false);
      i = close == std::string::npos ? typed.size() : close + 1;
      continue;
    }
    size_t end = typed.find_first_of(" \t\r\n\"", i);
    std::string word = typed.substr(i, end == std::string::npos ? std::string::npos : end - i);
    i = end == std::string::npos ? typed.size() : end;
    bool prefix = false;
    while (!word.empty() && word.back() == '*') {
      word.pop_back();
      prefix = true;
    }
    if (!word.empty()) add(word, prefix);
  }
  return out;
}

}  // namespace zibu
