// libFuzzer target: the spider's link extraction over an arbitrary page. The first byte picks the
// page's own address and the two filters; the rest is the page.
//  - Every queued address is new, absolute in the scheme rules' sense, and described once.
//  - The descriptions together stay within the page's size plus the fixed context of each link
//    (an anchor's text never runs past the next anchor).
//  - When every anchor closes before the next begins (an ordinary page), the rows are exactly
//    those of the plain step-by-step extraction written out below.
//  - A description to show (in the page's own charset) is well-formed UTF-8 and differs from
//    what the single-byte description shows.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unordered_set>
#include <vector>

#include "common/codepage.h"
#include "common/errors.h"
#include "common/ports.h"
#include "common/text.h"
#include "spider/crawl.h"
#include "spider/links.h"

namespace {

using namespace zibu;

class Filters : public SpiderView {
 public:
  bool offsite = true;
  bool higher = true;
  int ShowRelevance() const override { return 0; }
  bool SearchOffsiteLinks() const override { return offsite; }
  bool SearchHigherLinks() const override { return higher; }
  void PausedWait() override {}
};

class NoFetch : public PageFetcher {
 public:
  std::string Fetch(const std::string&) override { return {}; }
};

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "%s\n", what.c_str());
  std::abort();
}

// A cheap relevance that still depends on the text.
int Relevance(std::string_view text) {
  return static_cast<int>(text.size() % 201) - 100;
}

struct Reference {
  std::vector<LinkRow> rows;
  bool ordinary = true;  // every anchor closed, its address quoted, before the next one begins
};

// The extraction step by step, each anchor's parts searched from its own start to wherever they
// are, as the procedure reads.
Reference Plain(const std::string& downloaded, const std::string& current, const Filters& view) {
  Reference ref;
  TKnownUrls known;
  known.Add(current);
  TLinkQueue queue;
  const std::string page = CollapseSpaces(downloaded);
  const std::string upper = UpperCase(page);
  const std::string root = SiteRoot(current);
  for (size_t from = 0;;) {
    const size_t s = upper.find(kAnchorStart, from);
    if (s == std::string::npos) break;
    from = s + 1;
    const size_t next = upper.find(kAnchorStart, s + 1);
    const size_t q = upper.find('"', s + kAnchorStart.size() + 1);
    if (q == std::string::npos) break;
    const size_t g = upper.find('>', q);
    if (g == std::string::npos) break;
    const size_t e = upper.find("</A>", g);
    if (e == std::string::npos) break;
    if (q >= next || e > next) {
      ref.ordinary = false;
      return ref;
    }
    std::string address;
    for (size_t k = s + kAnchorStart.size(); k < q; ++k)
      if (page[k] != '"') address.push_back(page[k]);
    if (LinkAddressSkipped(address)) continue;
    address = AbsoluteLinkAddress(address, current);
    if (!view.offsite && SiteRoot(address) != root) continue;
    if (!view.higher && address.find(current) == std::string::npos) continue;
    const std::string anchor = HtmlToText(std::string_view(page).substr(g + 1, e - g - 1));
    std::string description = DescribeLink(anchor, page, s, e + 4);
    if (known.Contains(address) || queue.DescriptionKnown(description)) continue;
    known.Add(address);
    const int relevance = Relevance(description);
    queue.Append({address, description, relevance});
  }
  ref.rows = queue.Rows();
  return ref;
}

const char* const kCurrent[] = {"http://news.example/world/uk.html", "https://secure.example/a/b/",
                                "http://bare.example", "HTTPS://Mixed.Example/x.html"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string current = kCurrent[data[0] & 3];
  Filters view;
  view.offsite = (data[0] & 4) == 0;
  view.higher = (data[0] & 8) == 0;
  const std::string page(reinterpret_cast<const char*>(data + 1), size - 1);

  SilentUserPort port;
  NoFetch fetcher;
  TSpiderCrawl spider(port, view, fetcher, Relevance);
  spider.setCurrentPage(current);
  spider.knownUrls().Add(current);
  bool failed = false;
  try {
    spider.searchPageForLinks(page);
  } catch (const ConversionError&) {
    failed = true;  // a malformed numeric reference; the rows before it stay
  }

  std::unordered_set<std::string> urls, descriptions;
  size_t descriptionBytes = 0;
  for (const LinkRow& row : spider.links().Rows()) {
    const std::string upper = UpperCase(row.url);
    if (!urls.insert(upper).second) Fail("address queued twice: " + row.url);
    if (!descriptions.insert(row.description).second) Fail("description queued twice: " + row.description);
    if (LinkAddressSkipped(row.url)) Fail("queued an address that is never followed: " + row.url);
    if (row.relevance != Relevance(row.description)) Fail("relevance not of the description");
    // The description to show is UTF-8, and given only where it shows more than the bytes do.
    if (!row.descriptionUtf8.empty() &&
        (!IsWellFormedUtf8(row.descriptionUtf8) || row.descriptionUtf8 == Win1252ToUtf8(row.description)))
      Fail("a description to show that is no UTF-8 or no form of its own: " + row.descriptionUtf8);
    descriptionBytes += row.description.size();
  }
  if (descriptionBytes > page.size() + 128 * spider.links().Rows().size())
    Fail("descriptions hold " + std::to_string(descriptionBytes) + " bytes for a page of " +
         std::to_string(page.size()));

  if (!failed) {
    Reference ref;
    try {
      ref = Plain(page, current, view);
    } catch (const ConversionError&) {
      Fail("the plain extraction failed where the spider did not");
    }
    if (ref.ordinary) {
      const auto& rows = spider.links().Rows();
      if (rows.size() != ref.rows.size()) Fail("row count differs on an ordinary page");
      for (size_t k = 0; k < rows.size(); ++k)
        if (rows[k].url != ref.rows[k].url || rows[k].description != ref.rows[k].description)
          Fail("row " + std::to_string(k) + " differs on an ordinary page: " + rows[k].url + " | " +
               ref.rows[k].url);
    }
  }
  return 0;
}
