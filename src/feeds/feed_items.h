// Reading the articles of a feed document: RSS items (0.9x, 1.0, 2.0), Atom entries and JSON
// Feed items, each as a fresh TItem with its title, description and link.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "feeds/feed.h"
#include "xml/xml_parser.h"

namespace zibu {

// Called once per article; the item is the reader's own, so the callee may change it.
using ItemHandler = std::function<void(TItem&)>;

// What the reader takes from one document at most, so a hostile feed cannot bring the program
// to a halt; ordinary feeds stay far below these.
inline constexpr size_t kMaxItemTitleBytes = 64u << 10;   // a title; also a link
inline constexpr size_t kMaxItemTextBytes = 256u << 10;   // a description or content
inline constexpr size_t kMaxGuidBytes = 4096;               // an item's own identity
inline constexpr size_t kMaxFeedItems = 10000;            // items of one document
inline constexpr size_t kMaxFeedDepth = 4096;             // levels of elements followed

// What the reader had to cut or leave out of a document.
struct FeedReadCuts {
  bool titles = false;   // a title longer than kMaxItemTitleBytes was cut
  bool texts = false;    // a description or content longer than kMaxItemTextBytes was cut
  bool links = false;    // a link longer than kMaxItemTitleBytes was cut
  bool items = false;    // the items after the first kMaxFeedItems were not read
  bool tooDeep = false;  // elements nested deeper than kMaxFeedDepth were not read
  size_t expansionBudget = 0;  // not 0: entity expansion stopped at this many bytes
  bool Any() const { return titles || texts || links || items || tooDeep || expansionBudget != 0; }
};

struct FeedReadOptions {
  // The address the document was finally fetched from (after redirects), against which
  // relative links are resolved when no xml:base applies; empty: they stay as written.
  std::string documentUrl;
  // The charset the download's response named, for a document that declares no encoding.
  std::string charset;
  // Checked before each article; reading stops once it is true.
  const bool* cancelRequested = nullptr;
  // When not null: receives the feed's own title (the channel's or the Atom feed's title, or a
  // JSON Feed's title), as written, markup kept; untouched when the feed has none.
  std::string* feedTitle = nullptr;
  // When set beside feedTitle: that title in UTF-8 with every character the feed gave; "" where
  // it is the single-byte title itself.
  std::string* feedTitleUtf8 = nullptr;
  // When set, receives the names of the entities the document uses without declaring them
  // (kept in the texts as written), each once.
  std::vector<std::string>* undefinedEntities = nullptr;
  // When set, receives why the document's encoding could not be read (status Ok when it could
  // or when nothing had to be read).
  TXmlParser::CharsetTrouble* charsetTrouble = nullptr;
  // When set, receives what had to be cut or left out (FeedReadCutMessages words it).
  FeedReadCuts* cuts = nullptr;
};

// The status log lines for what was cut from the feed at `url`, one for each kind of cut.
std::vector<std::string> FeedReadCutMessages(const std::string& url, const FeedReadCuts& cuts);

// The status log line for a document's undefined entities.
std::string UndefinedEntitiesMessage(const std::string& url, const std::vector<std::string>& names);
// The status log line for a document whose encoding could not be read; empty when there is none.
std::string CharsetTroubleMessage(const std::string& url, const TXmlParser::CharsetTrouble& trouble);

// Walks a loaded XML document and hands every RSS item and Atom entry to `onItem`.
//
// An item is read from its own children, whatever comments, processing instructions or text
// stand between them; an element with no text gives an empty field, and every item starts
// empty. Names are matched by their namespace and their local name in any letter case: the RSS
// and Atom elements in no namespace, in their own namespaces under any prefix, or in a default
// namespace the reader does not know (as many documents declare one); elements of other
// namespaces do not set the fields, apart from the forms below.
//  - Title: title; where that is absent or empty, dc:title, then media:title.
//  - Description: RSS description or Atom content; then Atom summary, content:encoded,
//    dc:description, itunes:summary, media:description (media ones also inside media:group or
//    media:content). An RSS item with both a description and content:encoded (or fullitem)
//    takes whichever gives the longer text once its markup is gone; a tie keeps the description.
//  - Link: RSS link, else a guid that is a permalink (no isPermaLink="false") holding an http or
//    https address; Atom: the first link whose rel is "alternate" or absent, else the first with
//    an href. A relative link is resolved against xml:base (of the element or any ancestor),
//    else against `documentUrl`.
// A field's text is the text of the element, its CDATA sections included; markup inside it
// (Atom's xhtml content, say) is kept as tags so the HTML-to-text step sees the structure. An
// item cut short by the end of the document is still handed on; a new item beginning inside
// an unclosed one ends that one first.
// Fields, items and nesting are bounded (kMaxItemTitleBytes and the rest): a longer field is cut,
// items past the limit are not read, and what `options.cuts` receives says so. External entities
// are never read: a feed's document is a download, whatever file it was saved in.
void ReadFeedItems(TXmlParser& parser, const ItemHandler& onItem, const FeedReadOptions& options = {});

// Whether a document is JSON rather than XML: its first byte after blanks (and a UTF-8 byte
// order mark) is "{".
bool LooksLikeJson(std::string_view document);

// The items of a JSON Feed (version 1 or 1.1): title; content_text, else content_html, else
// summary; url, else external_url (resolved against `documentUrl` when relative). Texts arrive
// as Windows-1252 like the XML scanner's. Anything that is not a JSON Feed gives no items.
void ReadJsonFeedItems(std::string_view document, const ItemHandler& onItem,
                       const FeedReadOptions& options = {});

// A loaded document of either kind: JSON Feed when it looks like JSON, else XML.
void ReadFeedDocument(TXmlParser& loaded, const ItemHandler& onItem, const FeedReadOptions& options = {});
// The same over a downloaded document held in memory. Its external entities are never opened: a
// download has no folder of its own, and the files beside the download file belong to other feeds.
void ReadFeedBytes(std::string_view document, const ItemHandler& onItem, const FeedReadOptions& options = {});

}  // namespace zibu
