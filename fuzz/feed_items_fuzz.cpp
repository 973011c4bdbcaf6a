// libFuzzer target: a downloaded feed document (RSS, Atom or JSON Feed) read item by item, every
// item through triage as a scan does. The first byte picks the threshold, the keyword rules and
// whether it is a learning run; the rest is the document.
//  - Reading the document twice gives the same items, and leaves the scanner's text rule as it was.
//  - The texts to show are well-formed UTF-8, given only where they differ from the single-byte
//    ones, through triage too; a link given in UTF-8 is sent as its ASCII URI form.
//  - Triage takes an item only when a rule matched (relevance 100) or the relevance reached the
//    threshold, never the same title and link twice, and never a link shown a minute ago.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/codepage.h"
#include "common/compmap.h"
#include "common/errors.h"
#include "common/ports.h"
#include "common/text.h"
#include "feeds/feed_items.h"
#include "feeds/triage.h"
#include "http/url_resolve.h"
#include "learning/engine.h"
#include "xml/xml_parser.h"

namespace {

using namespace zibu;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "%s\n", what.c_str());
  std::abort();
}

class FixedClock : public Clock {
 public:
  int64_t NowMs() const override { return 1796806800000LL; }
  uint32_t IdleMs() const override { return 0; }
};

// The learning engine with a few things learned, as the feeds window hands it to triage.
class Learner : public RelevanceLearner {
 public:
  Learner() : engine_(port_) {
    engine_.SetMaxWordWeight(50);
    for (int i = 0; i < 3; ++i) {
      engine_.LearnFromRating("garden apple trees pruning winter", 10);
      engine_.LearnFromRating("football transfer rumours", -10);
    }
  }
  int GetRelevance(std::string_view text) override { return engine_.GetRelevance(text); }
  void LearnFromRating(int rating, std::string_view text) override { engine_.LearnFromRating(text, rating); }

 private:
  SilentUserPort port_;
  LearningEngine engine_;
};

struct Read {
  std::string title, description, link;
  std::string titleUtf8, descriptionUtf8, linkUtf8;
  bool operator==(const Read&) const = default;
};

std::vector<Read> ReadAll(TXmlParser& parser) {
  std::vector<Read> items;
  ReadFeedDocument(parser,
                   [&](TItem& item) {
                     items.push_back({item.Title, item.Description, item.Link, item.TitleUtf8,
                                      item.DescriptionUtf8, item.LinkUtf8});
                   },
                   {"https://feeds.example/dir/feed.xml", "", nullptr});
  return items;
}

// A text to show: UTF-8, and given only where it is not the single-byte text itself.
void CheckShown(const std::string& single, const std::string& utf8, const char* what) {
  if (!IsWellFormedUtf8(utf8)) Fail(std::string("the ") + what + " to show is not UTF-8");
  if (!utf8.empty() && utf8 == single) Fail(std::string("the ") + what + " to show repeats the single-byte one");
}

void CheckItem(const TItem& item) {
  CheckShown(item.Title, item.TitleUtf8, "title");
  CheckShown(item.Description, item.DescriptionUtf8, "description");
  CheckShown(item.Link, item.LinkUtf8, "link");
  if (!item.LinkUtf8.empty() && item.Link != IriToUri(item.LinkUtf8))
    Fail("a link given in UTF-8 is not sent as its URI form");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static Learner learner;
  static const FixedClock clock;
  const int threshold = (data[0] & 0x7F) * 100 / 127;
  const bool learning = (data[0] & 0x80) != 0;
  const std::string_view document(reinterpret_cast<const char*>(data + 1), size - 1);

  // Two scanners of the same document: a scanner keeps what one pass declared (the encoding, the
  // entities) for the next, so only a fresh one must give the same items.
  std::vector<Read> readings[2];
  for (auto& reading : readings) {
    TXmlParser parser;
    parser.LoadFromBuffer(document);
    parser.SetExpansionBudget(1u << 20);  // entity expansion stays cheap per input
    reading = ReadAll(parser);
    if (!parser.NormalizeText()) Fail("the scanner's text rule was left changed");
  }
  if (readings[1] != readings[0]) Fail("a second reading gave other items");
  const std::vector<Read>& first = readings[0];

  TFeed feed;
  feed.url = "https://feeds.example/dir/feed.xml";
  feed.keywords = {"1:apple", "1:news,!sport", "0:the"};
  SilentUserPort port;
  TCompMap shown;
  shown.Add("https://feeds.example/shown", clock.NowMs() - 60000);
  TResultKeys keys;
  const TriageContext context{shown, learner, port, clock, 60 * 60000, threshold, learning, &keys};
  Items results;
  for (const Read& r : first) {
    TItem item;
    item.Title = r.title;
    item.Description = r.description;
    item.Link = r.link;
    item.TitleUtf8 = r.titleUtf8;
    item.DescriptionUtf8 = r.descriptionUtf8;
    item.LinkUtf8 = r.linkUtf8;
    CheckItem(item);
    const size_t before = results.size();
    try {
      TriageItem(context, feed, item, results);
    } catch (const ConversionError&) {
      // A malformed numeric reference: the scan skips that item.
      continue;
    }
    if (results.size() == before) continue;
    if (results.size() != before + 1) Fail("triage appended more than one item");
    const TItem& taken = results.back();
    CheckItem(taken);
    if (taken.Link == "https://feeds.example/shown") Fail("took a link shown a minute ago");
    if (taken.Relevance != 100 && taken.Relevance < threshold) Fail("took an item below the threshold");
    for (size_t k = 0; k + 1 < results.size(); ++k)
      if (results[k].Title == taken.Title && results[k].Link == taken.Link) Fail("took a duplicate");
  }
  return 0;
}
