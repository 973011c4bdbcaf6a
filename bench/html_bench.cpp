// HtmlToText on a big news page, side by side with libxml2's HTML parser extracting the text of
// the same page (htmlReadMemory, then a walk over the text nodes outside scripts and styles).
//
// The page is generated at start-up (about 1.5 MB, deterministic): a news front page with
// inline style sheets and scripts (analytics, JSON state), navigation menus, teaser lists and
// full articles with attributes, comments, entities and Windows-1252 bytes.
//
//   html_bench                       run both benchmarks
//   html_bench --write-page=FILE     also save the generated page (to check zibu-cli html2text)
#include <benchmark/benchmark.h>
#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "common/text.h"

namespace {

class NewsPage {
 public:
  explicit NewsPage(size_t targetBytes) : rng_(1508) {
    Head();
    Nav();
    int section = 0;
    while (html_.size() < targetBytes - 60000) {
      Section(section++);
      if (section % 3 == 0) InlineScript(1500 + Pick(3000));
    }
    Footer();
  }
  const std::string& Html() const { return html_; }

 private:
  size_t Pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }
  const std::string& Word() {
    static const std::vector<std::string> words = {"government",
                                                   "minister",
                                                   "said",
                                                   "the",
                                                   "of",
                                                   "and",
                                                   "a",
                                                   "to",
                                                   "in",
                                                   "economy",
                                                   "football",
                                                   "election",
                                                   "market",
                                                   "shares",
                                                   "fell",
                                                   "rose",
                                                   "police",
                                                   "council",
                                                   "report",
                                                   "health",
                                                   "school",
                                                   "climate",
                                                   "energy",
                                                   "prices",
                                                   "weather",
                                                   "storm",
                                                   "court",
                                                   "judge",
                                                   "trial",
                                                   "union",
                                                   "strike",
                                                   "talks",
                                                   "deal",
                                                   "bank",
                                                   "rates",
                                                   "inflation",
                                                   "city",
                                                   "club",
                                                   "season",
                                                   "league",
                                                   "caf\xE9",
                                                   "na\xEFve",
                                                   "r\xE9sum\xE9",
                                                   "\x93quoted\x94",
                                                   "it\x92s",
                                                   "\x80"
                                                   "5m",
                                                   "\xA3"
                                                   "20bn",
                                                   "world",
                                                   "news",
                                                   "new",
                                                   "after",
                                                   "before",
                                                   "with",
                                                   "for",
                                                   "on",
                                                   "was",
                                                   "were",
                                                   "has",
                                                   "have",
                                                   "people",
                                                   "year",
                                                   "week",
                                                   "today",
                                                   "yesterday",
                                                   "officials",
                                                   "spokesman",
                                                   "statement"};
    return words[Pick(words.size())];
  }
  std::string Sentence(size_t minWords, size_t spread) {
    std::string s;
    const size_t n = minWords + Pick(spread);
    for (size_t i = 0; i < n; ++i) {
      if (i) s += ' ';
      switch (Pick(40)) {
        case 0:
          s += "&amp; ";
          break;
        case 1:
          s += "&quot;";
          break;
        case 2:
          s += "&#8217;";
          break;
        case 3:
          s += "&nbsp;";
          break;
        case 4:
          s += "&mdash; ";
          break;
        case 5:
          s += "<em>";
          s += Word();
          s += "</em> ";
          break;
        case 6:
          s += "<a href=\"/news/" + std::to_string(Pick(99999)) + "\" class=\"inline-link\">";
          s += Word();
          s += "</a> ";
          break;
        case 7:
          s += "&#x2014;";
          break;
        default:
          break;
      }
      s += Word();
    }
    return s + ".";
  }
  void Head() {
    html_ +=
        "<!DOCTYPE html>\r\n<html lang=\"en-GB\" class=\"no-js\">\r\n<head>\r\n<meta "
        "charset=\"windows-1252\">\r\n"
        "<title>News &mdash; Home</title>\r\n<meta name=\"viewport\" content=\"width=device-width, "
        "initial-scale=1\">\r\n";
    for (int i = 0; i < 6; ++i) {
      html_ += "<link rel=\"preload\" href=\"/static/fonts/font-" + std::to_string(i) +
               ".woff2\" as=\"font\" crossorigin>\r\n";
    }
    html_ += "<style type=\"text/css\">\r\n";
    for (int i = 0; i < 900; ++i) {
      html_ += ".c" + std::to_string(i) + "-block > .item:hover{color:#" +
               std::to_string(100000 + Pick(800000)) + ";margin:0 " + std::to_string(Pick(20)) +
               "px;font-family:\"Helvetica Neue\",Arial,sans-serif}\r\n";
    }
    html_ += "</style>\r\n";
    InlineScript(20000);
    html_ += "</head>\r\n<body class=\"front-page\" data-layout=\"wide\">\r\n";
  }
  void InlineScript(size_t bytes) {
    html_ += "<script type=\"text/javascript\">\r\n//<![CDATA[\r\nwindow.__STATE__ = {";
    const size_t start = html_.size();
    while (html_.size() - start < bytes) {
      html_ += "\"k" + std::to_string(Pick(100000)) + "\":{\"title\":\"" + Word() + " " + Word() +
               "\",\"url\":\"/news/" + std::to_string(Pick(1000000)) +
               "?a=1&b=2\",\"ok\":" + (Pick(2) ? "true" : "false") +
               ",\"lt\":\"<b>&lt;\",\"n\":" + std::to_string(Pick(1000)) + "},";
      if (Pick(10) == 0) html_ += "\r\nif (a < b && c > d) { track('view'); }\r\n";
    }
    html_ += "};\r\n//]]>\r\n</script>\r\n";
  }
  void Nav() {
    html_ += "<header id=\"top\"><nav class=\"main-nav\" role=\"navigation\"><ul>\r\n";
    for (int i = 0; i < 120; ++i)
      html_ += "  <li class=\"nav-item\"><a href=\"/section/" + std::to_string(i) + "\" data-track=\"nav-" +
               std::to_string(i) + "\">" + Word() + "</a></li>\r\n";
    html_ += "</ul></nav></header>\r\n<!-- main content starts here -->\r\n<main id=\"content\">\r\n";
  }
  void Section(int n) {
    html_ += "<section class=\"section section--" + std::to_string(n) + "\"><h2 class=\"section-title\">" +
             Word() + " &raquo;</h2>\r\n<ul class=\"teasers\">\r\n";
    for (int i = 0; i < 12; ++i) {
      html_ += "<li class=\"teaser\"><div class=\"teaser__media\"><img src=\"/img/" +
               std::to_string(Pick(1 << 20)) + ".jpg\" alt=\"" + Word() +
               "\" width=\"320\" height=\"180\" loading=\"lazy\"></div>"
               "<div class=\"teaser__body\"><h3><a href=\"/news/story-" +
               std::to_string(Pick(1 << 24)) + "\">" + Sentence(4, 6) + "</a></h3><p class=\"summary\">" +
               Sentence(10, 20) + "</p><span class=\"time\" data-ts=\"" +
               std::to_string(1700000000 + Pick(1000000)) + "\">" + std::to_string(1 + Pick(23)) +
               "h ago</span></div></li>\r\n";
    }
    html_ += "</ul>\r\n";
    html_ +=
        "<article class=\"story\" itemscope itemtype=\"http://schema.org/NewsArticle\"><h1 "
        "itemprop=\"headline\">" +
        Sentence(6, 6) + "</h1>\r\n<p class=\"byline\">By " + Word() + " &amp; " + Word() +
        "<br>Updated&nbsp;" + std::to_string(Pick(24)) + ":" + std::to_string(10 + Pick(50)) + "</p>\r\n";
    for (int p = 0, count = 6 + static_cast<int>(Pick(10)); p < count; ++p) {
      html_ += "<p>" + Sentence(25, 40) + "</p>\r\n";
      if (Pick(5) == 0)
        html_ += "<blockquote class=\"quote\"><p>&quot;" + Sentence(8, 10) + "&quot;</p></blockquote>\r\n";
    }
    html_ += "</article></section>\r\n";
  }
  void Footer() {
    html_ += "</main>\r\n<footer><p>&copy; 2026 News Ltd. All rights reserved.</p>";
    for (int i = 0; i < 60; ++i)
      html_ += "<a href=\"/about/" + std::to_string(i) + "\">" + Word() + "</a> | ";
    html_ += "</footer>\r\n";
    InlineScript(8000);
    html_ += "<script async src=\"https://cdn.example.com/analytics.js\"></script>\r\n</body>\r\n</html>\r\n";
  }

  std::mt19937 rng_;
  std::string html_;
};

const std::string& Page() {
  static const std::string page = NewsPage(1536 * 1024).Html();
  return page;
}

void CollectText(const xmlNode* node, std::string& out) {
  for (const xmlNode* n = node; n; n = n->next) {
    if (n->type == XML_TEXT_NODE && n->content) {
      out += reinterpret_cast<const char*>(n->content);
    } else if (n->type == XML_ELEMENT_NODE) {
      const char* name = reinterpret_cast<const char*>(n->name);
      if (std::strcmp(name, "script") == 0 || std::strcmp(name, "style") == 0) continue;
      CollectText(n->children, out);
    }
  }
}

std::string Libxml2Text(const std::string& html) {
  htmlDocPtr doc =
      htmlReadMemory(html.data(), static_cast<int>(html.size()), "http://news.example.com/", "windows-1252",
                     HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET);
  std::string out;
  if (doc) {
    CollectText(xmlDocGetRootElement(doc), out);
    xmlFreeDoc(doc);
  }
  return out;
}

void BM_HtmlToText(benchmark::State& state) {
  const std::string& page = Page();
  size_t outBytes = 0;
  for (auto _ : state) {
    std::string text = zibu::HtmlToText(page);
    outBytes = text.size();
    benchmark::DoNotOptimize(text);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
  state.counters["page_bytes"] = static_cast<double>(page.size());
  state.counters["text_bytes"] = static_cast<double>(outBytes);
}
BENCHMARK(BM_HtmlToText)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_Libxml2HtmlText(benchmark::State& state) {
  const std::string& page = Page();
  size_t outBytes = 0;
  for (auto _ : state) {
    std::string text = Libxml2Text(page);
    outBytes = text.size();
    benchmark::DoNotOptimize(text);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
  state.counters["page_bytes"] = static_cast<double>(page.size());
  state.counters["text_bytes"] = static_cast<double>(outBytes);
}
BENCHMARK(BM_Libxml2HtmlText)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_GetWordList(benchmark::State& state) {
  const std::string& page = Page();
  std::vector<std::string> common = {"the",    "of",    "and",  "to",   "in",   "said",
                                     "with",   "for",   "was",  "were", "have", "after",
                                     "before", "today", "year", "week", "news", "world"};
  zibu::SortUnique(common);
  size_t words = 0;
  for (auto _ : state) {
    auto list = zibu::GetWordList(page, 4, 12, common);
    words = list.size();
    benchmark::DoNotOptimize(list);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
  state.counters["words"] = static_cast<double>(words);
}
BENCHMARK(BM_GetWordList)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (std::strncmp(argv[i], "--write-page=", 13) == 0) {
      const std::string& page = Page();
      if (std::FILE* f = std::fopen(argv[i] + 13, "wb")) {
        std::fwrite(page.data(), 1, page.size(), f);
        std::fclose(f);
      } else {
        std::fprintf(stderr, "cannot write %s\n", argv[i] + 13);
        return 1;
      }
      continue;
    }
    args.push_back(argv[i]);
  }
  int n = static_cast<int>(args.size());
  benchmark::Initialize(&n, args.data());
  if (benchmark::ReportUnrecognizedArguments(n, args.data())) return 1;
  xmlInitParser();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  xmlCleanupParser();
  return 0;
}
