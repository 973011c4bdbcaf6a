#include "spider/crawl.h"

#include <chrono>
#include <memory>
#include <random>
#include <stdexcept>

#include "common/charset.h"
#include "common/codepage.h"
#include "common/errors.h"
#include "common/text.h"
#include "learning/recent_scores.h"
#include "spider/links.h"

namespace zibu {

RandomSource ClockSeededRandom() {
  auto engine = std::make_shared<std::mt19937>(
      static_cast<std::mt19937::result_type>(std::chrono::steady_clock::now().time_since_epoch().count()));
  return [engine](int n) { return std::uniform_int_distribution<int>(0, n - 1)(*engine); };
}

std::string ErrorClassName(const std::exception& e) {
  if (const auto* z = dynamic_cast<const Error*>(&e)) return z->Kind();
  return "Exception";
}

namespace {

// The page text on one line, its runs of blanks made one.
std::string FlatText(std::string_view plainText) {
  std::string flat(plainText);
  for (char& c : flat)
    if (c == '\r' || c == '\n' || c == '\t') c = ' ';
  return CollapseSpaces(flat);
}

}  // namespace

std::string PageExcerpt(std::string_view plainText, size_t limit) {
  std::string excerpt = FlatText(plainText);
  if (excerpt.size() > limit) excerpt.resize(limit);
  return excerpt;
}

std::string PageExcerptUtf8(std::string_view plainText, size_t limit) {
  std::string excerpt = FlatText(plainText);
  size_t chars = 0;
  for (size_t i = 0; i < excerpt.size(); ++i) {
    if ((static_cast<unsigned char>(excerpt[i]) & 0xC0) == 0x80) continue;  // inside a character
    if (chars++ == limit) {
      excerpt.resize(i);
      break;
    }
  }
  return excerpt;
}

namespace {

// The UTF-8 form of a text to show beside its single-byte one; empty where it is what the
// single-byte text shows anyway.
std::string OwnForm(std::string utf8, std::string_view single) {
  if (utf8 == Win1252ToUtf8(single)) return {};
  return utf8;
}

// A piece of a UTF-8 page that ends inside a character, without that character: the text
// before an anchor leaves out the byte right before it, which may be the last of several.
std::string_view WholeCharacters(std::string_view piece, std::string_view page) {
  if (piece.data() < page.data() || piece.data() + piece.size() > page.data() + page.size()) return piece;
  const size_t end = static_cast<size_t>(piece.data() - page.data()) + piece.size();
  if (end >= page.size() || (static_cast<unsigned char>(page[end]) & 0xC0) != 0x80) return piece;
  size_t n = piece.size();
  while (n > 0 && (static_cast<unsigned char>(piece[n - 1]) & 0xC0) == 0x80) --n;
  if (n > 0 && static_cast<unsigned char>(piece[n - 1]) >= 0xC0) --n;
  return piece.substr(0, n);
}

std::string ErrorLine(const std::string& prefix, const std::exception& e) {
  return prefix + ErrorClassName(e) + ": " + e.what();
}

}  // namespace

TSpiderCrawl::TSpiderCrawl(UserPort& port, SpiderView& view, PageFetcher& fetcher,
                           RelevanceFunction relevance)
    : port_(port),
      view_(view),
      fetcher_(&fetcher),
      relevance_(std::move(relevance)),
      random_(ClockSeededRandom()) {}

TSpiderCrawl::TSpiderCrawl(UserPort& port, SpiderView& view, RelevanceFunction relevance)
    : port_(port),
      view_(view),
      fetcher_(nullptr),
      relevance_(std::move(relevance)),
      random_(ClockSeededRandom()) {}

void TSpiderCrawl::setCurrentPage(std::string address, std::string description) {
  currentAddress_ = std::move(address);
  currentDescription_ = std::move(description);
  currentDescriptionUtf8_.clear();
  responseCharset_.clear();
}

namespace {

// Fetches inline: the whole crawl runs inside crawl(), as tools and tests want it.
class InlineDownloads : public PageDownloads {
 public:
  InlineDownloads(TSpiderCrawl& crawl, PageFetcher& fetcher) : crawl_(crawl), fetcher_(fetcher) {}
  void BeginDownload(const std::string& address) override {
    std::string page;
    try {
      page = fetcher_.Fetch(address);
    } catch (const std::exception& e) {
      crawl_.downloadFailed(e);
      return;
    }
    crawl_.downloadFinished(std::move(page), fetcher_.ResponseCharset());
  }

 private:
  TSpiderCrawl& crawl_;
  PageFetcher& fetcher_;
};

}  // namespace

void TSpiderCrawl::crawl(const std::string& startingAddress) {
  if (running_) return;
  if (!fetcher_) throw std::logic_error("this crawl is driven by events and has no fetcher of its own");
  InlineDownloads downloads(*this, *fetcher_);
  inline_ = true;
  start(startingAddress, downloads);
  // Every download has come back inside start(); only a pause holds the crawl here.
  while (running_ && suspended_) {
    while (paused_) view_.PausedWait();
    resumeFromCheckpoint();
  }
  inline_ = false;
  downloads_ = nullptr;
}

void TSpiderCrawl::start(const std::string& startingAddress, PageDownloads& downloads) {
  if (running_) return;
  downloads_ = &downloads;
  running_ = true;
  searching_ = true;
  paused_ = false;
  suspended_ = false;
  view_.SetBusyCursor(true);
  view_.SetGui(false);
  knownUrls_.Clear();
  pagesChecked_ = 0;
  links_.Clear();
  found_.clear();
  view_.LinkQueueChanged();
  view_.FoundPagesChanged();

  currentAddress_ = startingAddress;
  knownUrls_.Add(startingAddress);
  currentDescription_.clear();
  currentDescriptionUtf8_.clear();
  view_.CurrentPageChanged();
  view_.HoldFeeds();
  stage_ = Stage::Download;
  advance();
}

void TSpiderCrawl::downloadFinished(std::string page, std::string charset) {
  if (stage_ != Stage::Downloading) return;
  Log("Downloaded " + currentAddress_ + " ok", true);
  page_ = std::move(page);
  responseCharset_ = std::move(charset);
  stage_ = Stage::Downloaded;
  if (!advancing_) advance();
}

void TSpiderCrawl::downloadFailed(const std::exception& e) {
  if (stage_ != Stage::Downloading) return;
  Log(ErrorLine("Error downloading " + currentAddress_ + ": ", e));
  page_.clear();
  responseCharset_.clear();
  stage_ = Stage::Downloaded;
  if (!advancing_) advance();
}

TSpiderCrawl::Checkpoint TSpiderCrawl::checkpoint(Stage next) {
  port_.ProcessMessagesPaced();
  if (!searching_) return Checkpoint::Leave;
  stage_ = next;
  if (paused_) {
    suspended_ = true;
    return Checkpoint::Hold;
  }
  return Checkpoint::Go;
}

void TSpiderCrawl::resumeFromCheckpoint() {
  if (!suspended_ || paused_ || advancing_) return;
  suspended_ = false;
  // Closing the window while paused stops the crawl; nothing more is fetched then.
  if (!searching_) {
    endCrawl();
    return;
  }
  advance();
}

void TSpiderCrawl::advance() {
  advancing_ = true;
  // The stages of one cycle run in order until a download is wanted, a pause holds the crawl at
  // a checkpoint, or the crawl ends. A download reported inside BeginDownload goes on here.
  try {
    for (;;) {
      if (stage_ == Stage::Download) {
        if (!searching_) break;
        Log("Downloading " + currentAddress_, true);
        stage_ = Stage::Downloading;
        try {
          downloads_->BeginDownload(currentAddress_);
        } catch (const std::exception& e) {
          downloadFailed(e);
        }
        if (stage_ == Stage::Downloading) {
          advancing_ = false;
          return;
        }
        continue;
      }
      if (stage_ == Stage::Downloading) {
        advancing_ = false;
        return;
      }
      Checkpoint step = Checkpoint::Go;
      if (stage_ == Stage::Choose) {
        try {
          if (!chooseNextLink()) {
            Log("Ran out of links!");
            searching_ = false;
          }
          view_.CountsChanged(links_.Count(), static_cast<int>(found_.size()));
          step = checkpoint(Stage::Download);
        } catch (const std::exception& e) {
          Log(ErrorLine("Error: ", e));
          stage_ = Stage::Download;
        }
      } else {
        // A page that fails while it is scored or searched is left behind like a failed
        // download: the next link is still chosen, so it is not fetched again.
        try {
          step = pageStage();
        } catch (const std::exception& e) {
          Log(ErrorLine("Error: ", e));
          stage_ = Stage::Choose;
        }
      }
      if (step == Checkpoint::Leave) break;
      if (step == Checkpoint::Hold) {
        advancing_ = false;
        return;
      }
    }
  } catch (const std::exception& e) {
    Log(ErrorLine("Error: ", e));
  }
  advancing_ = false;
  endCrawl();
}

TSpiderCrawl::Checkpoint TSpiderCrawl::pageStage() {
  switch (stage_) {
    case Stage::Downloaded:
      return checkpoint(page_.empty() ? Stage::AfterPage : Stage::Score);
    case Stage::Score:
      // Only pages reached through a link are scored; the starting page never is.
      if (!currentDescription_.empty() && scorePage(page_)) return checkpoint(Stage::Sort);
      return checkpoint(Stage::SearchLinks);
    case Stage::Sort:
      sortFoundPages();
      return checkpoint(Stage::SearchLinks);
    case Stage::SearchLinks:
      searchPageForLinks(page_);
      stage_ = Stage::AfterPage;
      return Checkpoint::Go;
    case Stage::AfterPage:
      page_.clear();
      return checkpoint(Stage::Choose);
    default:
      stage_ = Stage::Choose;
      return Checkpoint::Go;
  }
}

bool TSpiderCrawl::scorePage(const std::string& page) {
  Log("Checking page relevance");
  ++pagesChecked_;
  view_.PagesCheckedChanged(pagesChecked_);
  const std::string text = HtmlToText(page);
  const int relevance = relevance_(text);
  std::string standing;
  if (recentScores_ && clock_) {
    const int64_t now = clock_->NowMs();
    recentScores_->Add(now, relevance);
    standing = StandingText(recentScores_->StandingOf(relevance, now));
  }
  Log("Page relevance=" + std::to_string(relevance) + "%");
  port_.ProcessMessagesPaced();
  // The slider is read now: the user may have moved it during the crawl.
  if (relevance <= view_.ShowRelevance()) return false;
  std::string shown = currentDescription_ + "- " + PageExcerpt(text);
  std::string shownUtf8;
  // Shown in the page's own characters; learning and the score keep the single-byte text.
  try {
    const std::string plainUtf8 = HtmlToTextUtf8(TextToUtf8(page, HtmlPageCharset(page, responseCharset_)));
    shownUtf8 = OwnForm(DisplayUtf8(currentDescription_, currentDescriptionUtf8_) + "- " + PageExcerptUtf8(plainUtf8),
                        shown);
  } catch (const std::exception&) {
    // The single-byte text stands.
  }
  found_.push_back({currentAddress_, std::move(shown), relevance, text, std::move(standing), std::move(shownUtf8)});
  view_.FoundPagesChanged();
  return true;
}

void TSpiderCrawl::endCrawl() {
  knownUrls_.Clear();
  page_.clear();
  suspended_ = false;
  stage_ = Stage::Idle;
  view_.ReleaseFeeds();
  // A Pause handled in the last yields of an ending crawl would otherwise leave Start disabled.
  paused_ = false;
  searching_ = false;
  view_.SetPauseCaption("Pause");
  view_.SetBusyCursor(false);
  running_ = false;
  view_.SetGui(true);
  Log("Stopped searching");
  port_.ProcessMessagesPaced();
  view_.CrawlEnded();
}

void TSpiderCrawl::stop() {
  searching_ = false;
  paused_ = false;
  // Held at a checkpoint by a pause: nothing else would wake the crawl up to end it.
  if (suspended_ && downloads_ && !inlineCrawl()) resumeFromCheckpoint();
}

void TSpiderCrawl::togglePause() {
  if (paused_) {
    paused_ = false;
    view_.SetPauseCaption("Pause");
    view_.SetBusyCursor(true);
    Log("Resumed");
    view_.SetGui(false);
    if (!inlineCrawl()) resumeFromCheckpoint();
    return;
  }
  paused_ = true;
  view_.SetPauseCaption("Resume");
  view_.SetBusyCursor(false);
  Log("Paused");
  view_.SetGui(false);
}

void TSpiderCrawl::sortFoundPages() {
  Log("Sorting found pages");
  std::vector<int> keys;
  keys.reserve(found_.size());
  for (const auto& p : found_) keys.push_back(p.relevance);
  ApplyOrder(found_, ExchangeSortOrder(keys));
  view_.FoundPagesChanged();
}

namespace {

// Repeated searches for one needle whose start never moves back: a position found earlier that
// still lies ahead is the answer again, so each byte of the page is searched about once.
class ForwardSearch {
 public:
  ForwardSearch(const std::string& text, std::string_view needle) : text_(text), needle_(needle) {}
  size_t From(size_t pos) {
    if (!searched_ || (found_ != std::string::npos && found_ < pos)) {
      found_ = text_.find(needle_, pos);
      searched_ = true;
    }
    return found_;
  }

 private:
  const std::string& text_;
  std::string_view needle_;
  bool searched_ = false;
  size_t found_ = std::string::npos;
};

}  // namespace

void TSpiderCrawl::searchPageForLinks(std::string_view downloaded) {
  Log("Searching page for hyperlinks");
  // Upper-casing only ASCII letters keeps the length, so positions in `upper` hold for `page`.
  const std::string page = CollapseSpaces(downloaded);
  const std::string upper = UpperCase(page);
  const std::string currentRoot = SiteRoot(currentAddress_);
  // An anchor's parts are searched from its own start, but never past the next anchor: an
  // anchor left open (or a hundred sharing one distant "</a>") must not make every anchor read
  // the rest of the page. Anchors of ordinary pages end before the next begins, so for them
  // nothing changes.
  ForwardSearch quotes(upper, "\""), closers(upper, ">"), ends(upper, "</A>");
  // Descriptions to show come in the page's own characters; a page of ASCII without character
  // references has none of its own.
  const bool showOwn = !IsAscii(page) || page.find("&#") != std::string::npos;
  const std::string charset = showOwn ? HtmlPageCharset(downloaded, responseCharset_) : std::string();
  const bool utf8Page = ClassifyCharset(charset) == CharsetFamily::Utf8;
  const auto plainUtf8 = [&charset, &page, utf8Page](std::string_view html) {
    return HtmlToTextUtf8(TextToUtf8(utf8Page ? WholeCharacters(html, page) : html, charset));
  };
  bool added = false;
  try {
    size_t s = upper.find(kAnchorStart);
    for (size_t next;; s = next) {
      port_.ProcessMessagesPaced();
      if (s == std::string::npos) break;
      next = upper.find(kAnchorStart, s + 1);
      const size_t q = quotes.From(s + kAnchorStart.size() + 1);  // at least one character
      if (q == std::string::npos) break;
      const size_t g = closers.From(q);
      if (g == std::string::npos) break;
      const size_t e = ends.From(g);
      if (e == std::string::npos) break;
      // An address that runs into the next anchor is no address.
      if (q >= next) continue;

      std::string address;
      for (size_t k = s + kAnchorStart.size(); k < q; ++k)
        if (page[k] != '"') address.push_back(page[k]);
      if (LinkAddressSkipped(address)) continue;
      address = AbsoluteLinkAddress(address, currentAddress_);
      if (!view_.SearchOffsiteLinks() && SiteRoot(address) != currentRoot) continue;
      if (!view_.SearchHigherLinks() && address.find(currentAddress_) == std::string::npos) continue;

      // An anchor not closed before the next one has its text up to there and no text after it.
      const bool cut = next < e;
      const size_t textEnd = cut ? next : e;
      const std::string anchorText =
          g + 1 < textEnd ? HtmlToText(std::string_view(page).substr(g + 1, textEnd - g - 1)) : std::string();
      std::string description = DescribeLink(anchorText, page, s, cut ? page.size() : e + 4);
      if (knownUrls_.Contains(address)) continue;
      if (links_.DescriptionKnown(description)) continue;
      const int relevance = relevance_(description);
      std::string descriptionUtf8;
      // An ASCII description reads the same in any charset a page can be scanned in.
      if (showOwn && !IsAscii(description)) {
        try {
          const std::string anchorUtf8 =
              g + 1 < textEnd ? plainUtf8(std::string_view(page).substr(g + 1, textEnd - g - 1)) : std::string();
          descriptionUtf8 = OwnForm(DescribeLink(anchorUtf8, page, s, cut ? page.size() : e + 4, plainUtf8), description);
        } catch (const std::exception&) {
          // The single-byte description stands.
        }
      }
      knownUrls_.Add(address);
      links_.Append({std::move(address), std::move(description), relevance, std::move(descriptionUtf8)});
      added = true;
    }
  } catch (...) {
    if (added) view_.LinkQueueChanged();
    throw;
  }
  if (added) view_.LinkQueueChanged();
}

bool TSpiderCrawl::chooseNextLink() {
  const int n = links_.Count();
  Log("Sorting links");
  sortLinks();
  if (n == 0) return false;
  int chosen = 0;
  if (n >= 5 && random_(10) == 5) chosen = random_(n);
  const LinkRow row = links_.Row(chosen);
  currentAddress_ = row.url;
  Log("Next link is " + currentAddress_);
  currentDescription_ = row.description;
  currentDescriptionUtf8_ = row.descriptionUtf8;
  view_.CurrentPageChanged();
  links_.Remove(chosen);
  view_.LinkQueueChanged();
  return true;
}

}  // namespace zibu
