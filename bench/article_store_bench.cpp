// The article store at a heavy reader's size: 100,000 teaser-sized articles from 300 feeds.
// Measures the disk each article takes (index included), how fast a scan's articles go in, and
// the two questions the reading list asks most, a search and the 50 most relevant unread, each
// answered by a whole `zibu-cli articles` process as a script would ask it.
//
//   article_store_bench [ARTICLES] [RUNS] [KEEP_DIR]
// With KEEP_DIR the home is made there and left behind (reading_window_bench opens its store).
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "store/article_store.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Words with a news-like spread: a few common, most rare.
std::string Words(std::mt19937& rng, const std::vector<std::string>& vocabulary, int count) {
  std::string out;
  std::geometric_distribution<size_t> pick(0.002);
  for (int i = 0; i < count; ++i) {
    if (i) out += ' ';
    out += vocabulary[std::min(pick(rng), vocabulary.size() - 1)];
  }
  return out;
}

double RunCli(const std::string& cli, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(cli.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  auto start = Clock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, cli.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
    std::perror("posix_spawn");
    std::exit(1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  double ms = Ms(Clock::now() - start);
  posix_spawn_file_actions_destroy(&actions);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "zibu-cli failed\n");
    std::exit(1);
  }
  return ms;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int total = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 9;
  const std::string cli = (fs::path(argv[0]).parent_path().parent_path() / "zibu-cli").string();
  const bool keepHome = argc > 3;
  const fs::path home =
      keepHome ? fs::path(argv[3]) : fs::temp_directory_path() / ("zibu-store-bench-" + std::to_string(::getpid()));
  fs::create_directories(home / "data");
  std::ofstream(home / "zibu.conf") << "[main]\nfeedCount=0\n";

  std::mt19937 rng(7);
  std::vector<std::string> vocabulary;
  std::uniform_int_distribution<int> letter('a', 'z'), length(3, 10);
  for (int i = 0; i < 30000; ++i) {
    std::string w;
    for (int n = length(rng); n > 0; --n) w += static_cast<char>(letter(rng));
    vocabulary.push_back(w);
  }

  const int feeds = 300;
  const int perFeed = (total + feeds - 1) / feeds;
  auto store = zibu::TArticleStore::Open((home / "data" / "articles.db").string(), 1);
  std::uniform_int_distribution<int> relevance(-100, 100);
  double storeMs = 0;
  int stored = 0;
  for (int f = 0; f < feeds && stored < total; ++f) {
    std::vector<zibu::StoredArticle> list;
    for (int i = 0; i < perFeed && stored + static_cast<int>(list.size()) < total; ++i) {
      zibu::StoredArticle a;
      a.guid = "tag:news.example," + std::to_string(f) + ":" + std::to_string(i);
      a.link = "https://news.example/" + std::to_string(f) + "/story-" + std::to_string(i);
      a.title = Words(rng, vocabulary, 8);
      std::string teaser = Words(rng, vocabulary, 40);
      a.text = a.title + " " + teaser;
      a.content = "<p>" + teaser + "</p>";
      a.published = 1700000000000 + stored * 60000LL;
      a.relevance = relevance(rng);
      list.push_back(std::move(a));
    }
    auto start = Clock::now();
    stored += store->StoreFeedArticles("https://news.example/feed/" + std::to_string(f), list, 1700000000000);
    storeMs += Ms(Clock::now() - start);
  }
  std::vector<int64_t> read;
  for (int64_t id = 1; id <= stored; id += 3) read.push_back(id);
  store->SetRead(read, true);
  store.reset();  // checkpoints the journal into the file

  uintmax_t bytes = 0;
  for (const auto& e : fs::directory_iterator(home / "data")) bytes += fs::file_size(e.path());
  std::printf("articles: %d in %d feeds\n", stored, feeds);
  std::printf("store: %.1f ms for all (%.1f us per article, one transaction per feed)\n", storeMs,
              storeMs * 1000 / stored);
  std::printf("disk: %.1f MB, %.0f bytes per article\n", bytes / 1e6, static_cast<double>(bytes) / stored);

  const std::string word = vocabulary[40];
  struct Question {
    const char* name;
    std::vector<std::string> args;
  } questions[] = {
      {"search one word", {"articles", "--home", home.string(), "--search", word}},
      {"search prefix, limit 50", {"articles", "--home", home.string(), "--search", word.substr(0, 2) + "*", "--limit", "50"}},
      {"50 most relevant unread", {"articles", "--home", home.string(), "--unread", "--limit", "50"}},
      {"50 newest", {"articles", "--home", home.string(), "--sort", "date", "--limit", "50"}},
  };
  for (const auto& q : questions) {
    std::vector<double> times;
    for (int r = 0; r < runs; ++r) times.push_back(RunCli(cli, q.args));
    std::printf("zibu-cli %-26s median %.1f ms, max %.1f ms (%d runs)\n", q.name, Median(times),
                *std::max_element(times.begin(), times.end()), runs);
  }
  if (!keepHome) fs::remove_all(home);
  return 0;
}
