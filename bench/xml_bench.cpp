// Scanning throughput of the XML scanner against expat on the same generated RSS document
// (UTF-8, many items, entities and CDATA). The scanner walks every part and touches its name
// and content, converting the text to Windows-1252; expat parses the same bytes with element
// and character-data handlers that collect the text the way a feed reader would.
#include <expat.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>

#include <benchmark/benchmark.h>

#include "feeds/feed_items.h"
#include "xml/xml_parser.h"

namespace {

const std::string& Document() {
  static const std::string doc = [] {
    std::string d =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE rss [\n  <!ENTITY site \"Caf\xC3\xA9 Daily &#8212; News\">\n]>\n"
        "<rss version=\"2.0\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n<channel>\n"
        "<title>&site;</title>\n<link>https://news.example.com/</link>\n"
        "<description>Everything about coffee &amp; more</description>\n<language>en-us</language>\n";
    const char* topics[] = {"Markets", "Caf\xC3\xA9s", "Science", "Politics", "Sports", "Technology"};
    char buf[2048];
    for (int i = 0; i < 12000; ++i) {
      const char* topic = topics[i % 6];
      std::snprintf(
          buf, sizeof buf,
          "<item>\n"
          "  <title>%s update #%d: prices rise 5%% &amp; the \xE2\x80\x9C"
          "espresso\xE2\x80\x9D index &lt;3</title>\n"
          "  <link>https://news.example.com/%s/%d?utm_source=rss&amp;utm_medium=feed</link>\n"
          "  <guid isPermaLink=\"false\">urn:uuid:%08x-1d2c-4e5f-8a9b-%012d</guid>\n"
          "  <pubDate>Tue, %02d Dec 2026 %02d:%02d:00 +0000</pubDate>\n"
          "  <dc:creator>Ren\xC3\xA9\x65 Zo\xC3\xAB M\xC3\xBCller</dc:creator>\n"
          "  <category domain=\"https://news.example.com/topics\">%s</category>\n"
          "  <description><![CDATA[<p>In today\xE2\x80\x99s edition of <b>%s</b>, the na\xC3\xAFve "
          "r\xC3\xA9sum\xC3\xA9 of item %d: costs went up by 3 \xE2\x82\xAC per cup, "
          "&quot;quoted&quot; as it is.</p><p><a href=\"https://news.example.com/%d\">Read more</a></p>]]>"
          "</description>\n"
          "  <comments>Discussion on &site; &#8226; %d replies &#x2014; join in</comments>\n"
          "</item>\n",
          topic, i, topic, i, static_cast<unsigned>(i * 2654435761u), i, 1 + i % 28, i % 24, i % 60, topic,
          topic, i, i, i % 97);
      d += buf;
    }
    d += "</channel>\n</rss>\n";
    return d;
  }();
  return doc;
}

void BM_ZibuScanner(benchmark::State& state) {
  const std::string& doc = Document();
  zibu::TXmlParser parser;
  parser.LoadFromBuffer(doc);
  size_t parts = 0;
  for (auto _ : state) {
    size_t touched = 0;
    parser.Rewind();
    while (parser.NextPart()) {
      touched += parser.PartName().size() + parser.PartContent().size();
      ++parts;
    }
    benchmark::DoNotOptimize(touched);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
  state.counters["parts"] = static_cast<double>(parts / std::max<size_t>(1, state.iterations()));
}
BENCHMARK(BM_ZibuScanner)->Unit(benchmark::kMillisecond);

// The feed reader over the same document: every item with its title, description and link, as a
// feed scan hands them to triage.
void BM_ZibuFeedItems(benchmark::State& state) {
  const std::string& doc = Document();
  zibu::TXmlParser parser;
  parser.LoadFromBuffer(doc);
  size_t items = 0;
  for (auto _ : state) {
    size_t touched = 0;
    items = 0;
    parser.Rewind();
    zibu::ReadFeedItems(parser, [&](zibu::TItem& item) {
      touched += item.Title.size() + item.Description.size() + item.Link.size();
      ++items;
    });
    benchmark::DoNotOptimize(touched);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
  state.counters["items"] = static_cast<double>(items);
}
BENCHMARK(BM_ZibuFeedItems)->Unit(benchmark::kMillisecond);

struct ExpatState {
  std::string name;
  std::string text;
  size_t touched = 0;
  size_t events = 0;
};

void XMLCALL OnStart(void* user, const XML_Char* name, const XML_Char** atts) {
  auto* s = static_cast<ExpatState*>(user);
  s->name = name;
  s->text.clear();
  for (; *atts; atts += 2) s->touched += std::char_traits<char>::length(atts[1]);
  s->touched += s->name.size();
  ++s->events;
}

void XMLCALL OnEnd(void* user, const XML_Char* name) {
  auto* s = static_cast<ExpatState*>(user);
  s->touched += s->text.size() + std::char_traits<char>::length(name);
  s->text.clear();
  ++s->events;
}

void XMLCALL OnText(void* user, const XML_Char* text, int len) {
  auto* s = static_cast<ExpatState*>(user);
  s->text.append(text, static_cast<size_t>(len));
}

void BM_Expat(benchmark::State& state) {
  const std::string& doc = Document();
  size_t events = 0;
  for (auto _ : state) {
    ExpatState s;
    XML_Parser p = XML_ParserCreate(nullptr);
    XML_SetUserData(p, &s);
    XML_SetElementHandler(p, OnStart, OnEnd);
    XML_SetCharacterDataHandler(p, OnText);
    if (XML_Parse(p, doc.data(), static_cast<int>(doc.size()), 1) != XML_STATUS_OK)
      state.SkipWithError(XML_ErrorString(XML_GetErrorCode(p)));
    XML_ParserFree(p);
    benchmark::DoNotOptimize(s.touched);
    events = s.events;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
  state.counters["events"] = static_cast<double>(events);
}
BENCHMARK(BM_Expat)->Unit(benchmark::kMillisecond);

// Prints the two throughputs' ratio after the usual report.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    // With repetitions the median stands for the runs; when only aggregates are reported it is
    // the only figure there is.
    for (const Run& r : runs) {
      if (r.error_occurred) continue;
      const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
      if (median || (r.run_type == Run::RT_Iteration && !medians_.count(r.run_name.function_name))) {
        realPerIter_[r.run_name.function_name] = r.GetAdjustedRealTime();
        cpuPerIter_[r.run_name.function_name] = r.GetAdjustedCPUTime();
      }
      if (median) medians_.insert(r.run_name.function_name);
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    // Throughput ratio = expat's time per pass / the scanner's.
    auto ratio = [](std::map<std::string, double>& t) {
      double z = t["BM_ZibuScanner"], e = t["BM_Expat"];
      return z > 0 ? e / z : 0.0;
    };
    std::printf("document %zu bytes; scanner/expat throughput ratio: %.2f (CPU time), %.2f (real time)\n",
                Document().size(), ratio(cpuPerIter_), ratio(realPerIter_));
  }

 private:
  std::map<std::string, double> realPerIter_;
  std::map<std::string, double> cpuPerIter_;
  std::set<std::string> medians_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
