// zibu-cli articles: the home's kept articles, searched, filtered and ranked as the reading
// window lists them.
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/json.h"
#include "common/home_lock.h"
#include "common/ports.h"
#include "common/settings.h"
#include "feeds/feed_config.h"
#include "store/article_store.h"

namespace zibu::cli {
namespace {

const char* kArticlesHelp =
    "usage: zibu-cli articles --home DIR [--search QUERY] [--unread] [--starred] [--rated] [--feed N]\n"
    "                         [--sort relevance|date] [--limit N]\n"
    "\n"
    "Prints the articles kept in DIR/data/articles.db, one JSON line each:\n"
    "  {\"id\": 12, \"feed\": \"https://...\", \"title\": \"...\", \"link\": \"...\", \"published\": MS,\n"
    "   \"relevance\": 45, \"read\": false, \"rating\": 0, \"starred\": false}\n"
    "title is UTF-8; published is the item's date (else when it was first seen) in local-time\n"
    "milliseconds since 1970. QUERY takes words (all must occur), \"phrases\" and prefix*. --feed N\n"
    "keeps the articles of the feed at place N of the home's feed list (1, 2, ...). Sorted by\n"
    "relevance unless --sort date. A home that a running Zibu holds is refused; nothing is changed.\n";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "zibu-cli articles: %s\n\n%s", problem.c_str(), kArticlesHelp);
  return 2;
}

// A whole decimal number from 1 to a million, nothing else.
bool Positive(const std::string& text, int& out) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size() && out >= 1 && out <= 1000000;
}

std::string Json(const StoredArticle& a) {
  std::string out = "{\"id\": " + std::to_string(a.id) + ", \"feed\": " + JsonUtf8(a.feed) +
                    ", \"title\": " + JsonUtf8(DisplayUtf8(a.title, a.titleUtf8)) + ", \"link\": " +
                    JsonUtf8(a.link) + ", \"published\": " + std::to_string(a.published) +
                    ", \"relevance\": " + std::to_string(a.relevance) + ", \"read\": " +
                    (a.read ? "true" : "false") + ", \"rating\": " + std::to_string(a.rating) +
                    ", \"starred\": " + (a.starred ? "true" : "false") + "}\n";
  return out;
}

int RunArticles(const std::vector<std::string>& args) {
  std::string home;
  ArticleQuery query;
  int feedPlace = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    bool hasValue = i + 1 < args.size();
    if (a == "--home" && hasValue) {
      home = args[++i];
    } else if (a == "--search" && hasValue) {
      query.search = args[++i];
    } else if (a == "--unread") {
      query.unreadOnly = true;
    } else if (a == "--starred") {
      query.starredOnly = true;
    } else if (a == "--rated") {
      query.ratedOnly = true;
    } else if (a == "--feed" && hasValue) {
      if (!Positive(args[++i], feedPlace)) return Usage("--feed wants a place in the list (1, 2, ...)");
    } else if (a == "--sort" && hasValue) {
      const std::string& s = args[++i];
      if (s == "relevance")
        query.sort = ArticleSort::Relevance;
      else if (s == "date")
        query.sort = ArticleSort::Date;
      else
        return Usage("--sort takes relevance or date");
    } else if (a == "--limit" && hasValue) {
      if (!Positive(args[++i], query.limit)) return Usage("--limit wants a number from 1");
    } else {
      bool valued = a == "--home" || a == "--search" || a == "--feed" || a == "--sort" || a == "--limit";
      return Usage(valued ? a + " needs a value" : "unexpected " + a);
    }
  }
  if (home.empty()) return Usage("--home DIR needed");
  std::error_code ec;
  if (!std::filesystem::is_directory(home, ec)) return Usage("no folder " + home);
  HomeLock lock;
  if (lock.Acquire(home, "zibu-cli articles") != HomeLock::Result::Acquired) {
    std::fprintf(stderr, "articles: %s\n", lock.Message().c_str());
    return 1;
  }
  if (feedPlace > 0) {
    SilentUserPort quiet;
    SettingsFile file((std::filesystem::path(home) / "zibu.conf").string());
    std::vector<TFeed> feeds;
    LoadFeedConfig(file, feeds, quiet, {});
    if (static_cast<size_t>(feedPlace) > feeds.size())
      return Usage("the feed list has " + std::to_string(feeds.size()) + " feeds");
    query.feeds.push_back(feeds[static_cast<size_t>(feedPlace) - 1].url);
  }
  const std::string path = (std::filesystem::path(home) / "data" / "articles.db").string();
  if (!std::filesystem::exists(path, ec)) return 0;  // nothing kept yet
  std::string notice;
  auto store = TArticleStore::Open(path, SystemClock().NowMs(), &notice);
  if (!notice.empty()) std::fprintf(stderr, "%s\n", notice.c_str());
  std::string out;
  for (const auto& a : store->Query(query)) out += Json(a);
  std::fwrite(out.data(), 1, out.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

const Registrar kArticles({"articles", "the kept articles, searched, filtered and ranked", kArticlesHelp,
                           RunArticles});

}  // namespace
}  // namespace zibu::cli
