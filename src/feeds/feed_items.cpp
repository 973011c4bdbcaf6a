#include "feeds/feed_items.h"

#include <nlohmann/json.hpp>

#include <array>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/codepage.h"
#include "common/feed_date.h"
#include "common/text.h"
#include "http/url_resolve.h"
#include "xml/xml_parser.h"

namespace zibu {

namespace {

// ---- namespaces ------------------------------------------------------------------------------

// What an element's namespace makes of it.
enum class Space { Feed, Content, DublinCore, ITunes, Media, Xhtml, Other };

struct KnownNamespace {
  std::string_view uri;  // lower case, without a trailing "/" or "#"
  Space space;
};

constexpr KnownNamespace kNamespaces[] = {
    {"http://purl.org/rss/1.0", Space::Feed},
    {"http://my.netscape.com/rdf/simple/0.9", Space::Feed},
    {"http://backend.userland.com/rss2", Space::Feed},
    {"http://backend.userland.com/rss", Space::Feed},
    {"http://www.w3.org/2005/atom", Space::Feed},
    {"http://purl.org/atom/ns", Space::Feed},
    {"http://purl.org/rss/1.0/modules/content", Space::Content},
    {"http://purl.org/dc/elements/1.1", Space::DublinCore},
    {"http://purl.org/dc/terms", Space::DublinCore},
    {"http://www.itunes.com/dtds/podcast-1.0.dtd", Space::ITunes},
    {"http://search.yahoo.com/mrss", Space::Media},
    {"http://www.w3.org/1999/xhtml", Space::Xhtml},
    {"http://www.w3.org/1999/02/22-rdf-syntax-ns", Space::Other},
};

// Prefixes as documents usually bind them, for the documents that use one without binding it.
constexpr std::pair<std::string_view, Space> kUsualPrefixes[] = {
    {"content", Space::Content}, {"dc", Space::DublinCore}, {"dcterms", Space::DublinCore},
    {"itunes", Space::ITunes},   {"media", Space::Media},   {"atom", Space::Feed},
    {"rss", Space::Feed},
};

std::string LowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::optional<Space> KnownSpace(std::string_view uri) {
  std::string key = LowerCase(uri);
  while (!key.empty() && (key.back() == '/' || key.back() == '#')) key.pop_back();
  for (const auto& known : kNamespaces)
    if (known.uri == key) return known.space;
  return std::nullopt;
}

// The namespace bindings in force. Each element remembers how many bindings had been made
// before its own, so closing it undoes them; a lookup costs the same however many there are.
class Bindings {
 public:
  size_t Size() const { return made_.size(); }
  void Truncate(size_t size) {
    while (made_.size() > size) {
      auto it = inForce_.find(made_.back());
      it->second.pop_back();
      if (it->second.empty()) inForce_.erase(it);
      made_.pop_back();
    }
  }
  void Add(const std::string& prefix, std::string uri) {
    inForce_[prefix].push_back(std::move(uri));
    made_.push_back(prefix);
  }
  const std::string* Find(std::string_view prefix) const {
    auto it = inForce_.find(std::string(prefix));
    return it == inForce_.end() ? nullptr : &it->second.back();
  }

 private:
  std::unordered_map<std::string, std::vector<std::string>> inForce_;  // prefix -> URIs, innermost last
  std::vector<std::string> made_;                                      // prefixes in the order bound
};

struct ElementName {
  Space space = Space::Other;
  std::string local;  // upper case
};

ElementName Classify(std::string_view qname, const Bindings& bindings) {
  const size_t colon = qname.find(':');
  const std::string_view prefix =
      colon == std::string_view::npos ? std::string_view() : qname.substr(0, colon);
  ElementName name;
  name.local = UpperCase(colon == std::string_view::npos ? qname : qname.substr(colon + 1));
  const std::string* uri = bindings.Find(prefix);
  if (prefix.empty()) {
    // No namespace, or a default one: a namespace the reader does not know is taken for the
    // feed's own, as documents often declare one of their own making.
    name.space = uri && !uri->empty() ? KnownSpace(*uri).value_or(Space::Feed) : Space::Feed;
  } else if (uri) {
    name.space = KnownSpace(*uri).value_or(Space::Other);
  } else {
    for (const auto& [usual, space] : kUsualPrefixes)
      if (LowerCase(prefix) == usual) name.space = space;
  }
  return name;
}

// ---- the fields of one item -------------------------------------------------------------------

enum Role : uint8_t {
  kNoRole,
  kTitle,
  kDescription,  // RSS description, Atom content
  kSummary,      // Atom
  kEncoded,
  kDcTitle,
  kDcDescription,
  kITunesSummary,
  kMediaTitle,
  kMediaDescription,
  kLink,  // RSS link text
  kGuid,
  kAtomContent,  // atom:content in an RSS item
  kXhtmlBody,    // an XHTML body in an RSS item
  kFullItem,     // content:encoded's sibling
  kAbstract,     // the Channel Definition Format's description
  kAtomId,       // an Atom entry's identity
  kPubDate,      // RSS pubDate
  kPublished,    // Atom published
  kUpdated,      // Atom updated
  kDcDate,       // dc:date
  kRoleCount
};

struct AtomLink {
  std::string rel;
  std::string href;      // resolved
  std::string hrefUtf8;  // the same in UTF-8; empty when it is href itself
};

struct ItemState {
  bool atom = false;
  size_t frame = 0;  // stack index of the item element
  std::array<std::optional<std::string>, kRoleCount> fields;
  std::array<std::string, kRoleCount> utf8;  // each field in UTF-8; empty when it is the field itself
  bool guidIsPermalink = true;
  std::vector<AtomLink> links;
  std::string itemHref;  // the href of the item element itself (Channel Definition Format)
  std::string itemHrefUtf8;
  std::string base;  // the xml:base in force at the item element
};

// Text of one element, as pieces: text and CDATA, and the tags of markup inside it. A text
// piece is trimmed, with its runs of blanks made one, as the scanner would give it; whether it
// began or ended with blanks decides whether a blank joins it to its neighbours.
struct Piece {
  bool tag = false;
  std::string text;
  bool blankBefore = false;
  bool blankAfter = false;
  std::string utf8;  // the text in UTF-8; empty when it is the text itself
};

// The XML blanks: tab, line feed, carriage return, space.
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// `out` starts empty; its runs of non-blanks go in whole.
void TrimInto(std::string_view raw, std::string& out) {
  out.reserve(raw.size());
  const size_t n = raw.size();
  size_t i = 0;
  for (;;) {
    while (i < n && IsBlank(raw[i])) ++i;
    if (i >= n) break;
    size_t j = i + 1;
    while (j < n && !IsBlank(raw[j])) ++j;
    if (!out.empty()) out += ' ';
    out.append(raw.data() + i, j - i);
    i = j;
  }
}

// Only the first `room` bytes of the text are taken (the UTF-8 form keeps enough for as many
// characters): a field's text is cut to its limit anyway, and a copy of the rest would be waste.
Piece TextPiece(std::string_view raw, std::string_view rawUtf8, size_t room) {
  Piece piece;
  piece.blankBefore = !raw.empty() && IsBlank(raw.front());
  piece.blankAfter = !raw.empty() && IsBlank(raw.back());
  TrimInto(raw.substr(0, room), piece.text);
  if (!rawUtf8.empty()) TrimInto(rawUtf8.substr(0, room > SIZE_MAX / 4 ? room : 4 * room), piece.utf8);
  return piece;
}

// Cuts `text` to at most `limit` bytes and its UTF-8 form (empty where it is `text` itself) to as
// many characters, as a single-byte character is one character. The cut does not leave half a
// character reference or half a tag at the end, which the HTML-to-text step would stumble on.
// True when something was cut.
bool CutField(std::string& text, std::string& utf8, size_t limit) {
  if (text.size() <= limit) return false;
  size_t keep = limit;
  const std::string_view kept(text.data(), keep);
  const size_t amp = kept.rfind('&');
  if (amp != std::string_view::npos && keep - amp <= 32 && kept.find(';', amp) == std::string_view::npos)
    keep = amp;
  const size_t lt = kept.substr(0, keep).rfind('<');
  if (lt != std::string_view::npos && keep - lt <= 4096 && kept.find('>', lt) >= keep) keep = lt;
  text.resize(keep);
  if (!utf8.empty()) {
    size_t chars = 0;
    for (size_t i = 0; i < utf8.size(); ++i) {
      if ((static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80) continue;  // inside a character
      if (chars++ == keep) {
        utf8.resize(i);
        break;
      }
    }
    // The characters of its own may all lie past the cut: then there is no form of its own.
    if (utf8 == text) utf8.clear();
  }
  return true;
}

// Text kept as markup; an attribute value inside such a tag also has its quotes escaped.
std::string Escaped(std::string_view text, bool quotes) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '&')
      out += "&amp;";
    else if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else if (c == '"' && quotes)
      out += "&quot;";
    else
      out += c;
  }
  return out;
}

std::string EscapeMarkup(std::string_view text) { return Escaped(text, false); }
std::string EscapeAttribute(std::string_view text) { return Escaped(text, true); }

bool NamesDiv(std::string_view tag) {
  // "<div", "</div", then the end of the name.
  size_t at = tag.size() > 1 && tag[1] == '/' ? 2 : 1;
  if (tag.size() < at + 3) return false;
  std::string name = UpperCase(tag.substr(at, 3));
  const char after = tag.size() > at + 3 ? tag[at + 3] : '>';
  return name == "DIV" && (after == '>' || after == ' ' || after == '/');
}

// Inline XHTML content comes wrapped in one div, as the format requires: the div is the
// container, not part of the text.
void DropWrappingDiv(std::vector<Piece>& pieces) {
  auto blank = [](const Piece& p) { return !p.tag && p.text.empty(); };
  size_t first = 0;
  while (first < pieces.size() && blank(pieces[first])) ++first;
  if (first == pieces.size() || !pieces[first].tag || !NamesDiv(pieces[first].text)) return;
  const std::string& open = pieces[first].text;
  if (open.size() >= 2 && open.compare(open.size() - 2, 2, "/>") == 0) {
    // An empty div: nothing is left but what stands around it.
    for (size_t k = first + 1; k < pieces.size(); ++k)
      if (!blank(pieces[k])) return;
    pieces.erase(pieces.begin() + static_cast<std::ptrdiff_t>(first));
    return;
  }
  int depth = 0;
  for (size_t k = first; k < pieces.size(); ++k) {
    const Piece& p = pieces[k];
    if (!p.tag || !NamesDiv(p.text)) continue;
    if (p.text[1] == '/')
      --depth;
    else if (p.text.compare(p.text.size() - 2, 2, "/>") != 0)
      ++depth;
    if (depth > 0) continue;
    // The wrapper closes here: it wraps everything only if nothing but blanks follows.
    for (size_t m = k + 1; m < pieces.size(); ++m)
      if (!blank(pieces[m])) return;
    pieces.erase(pieces.begin() + static_cast<std::ptrdiff_t>(k));
    pieces.erase(pieces.begin() + static_cast<std::ptrdiff_t>(first));
    return;
  }
}

// The bytes a base64 text stands for; blanks and anything outside the alphabet are skipped.
std::string DecodeBase64(std::string_view text) {
  std::string out;
  uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    int v;
    if (c >= 'A' && c <= 'Z')
      v = c - 'A';
    else if (c >= 'a' && c <= 'z')
      v = c - 'a' + 26;
    else if (c >= '0' && c <= '9')
      v = c - '0' + 52;
    else if (c == '+' || c == '-')
      v = 62;
    else if (c == '/' || c == '_')
      v = 63;
    else if (c == '=')
      break;
    else
      continue;
    bits = (bits << 6) | static_cast<uint32_t>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return out;
}

// The element's text: one text piece as the scanner would trim it, a CDATA section as it is,
// and between pieces one blank where the document had blanks. With markup inside, the texts
// are escaped again so that they are not taken for tags later. `outUtf8` gets the same in
// UTF-8 when a piece has a UTF-8 form of its own, else it is left empty.
void JoinPieces(const std::vector<Piece>& pieces, std::string& out, std::string& outUtf8) {
  bool markup = false;
  bool utf8 = false;
  for (const Piece& p : pieces) {
    markup = markup || p.tag;
    utf8 = utf8 || !p.utf8.empty();
  }
  bool blankPending = false;
  for (const Piece& p : pieces) {
    if (!p.tag && p.text.empty()) {
      blankPending = blankPending || p.blankBefore || p.blankAfter;
      continue;
    }
    if ((blankPending || p.blankBefore) && !out.empty()) {
      out += ' ';
      if (utf8) outUtf8 += ' ';
    }
    out += p.tag || !markup ? p.text : EscapeMarkup(p.text);
    if (utf8) {
      const std::string& u = p.utf8.empty() ? p.text : p.utf8;
      if (p.tag)
        AppendUtf8OrWin1252AsUtf8(u, outUtf8);  // element names stay as the document's bytes
      else
        outUtf8 += markup ? EscapeMarkup(u) : u;
    }
    blankPending = p.blankAfter;
  }
  // What held the characters beyond ASCII may have been dropped on the way (an empty text, markup
  // left out): then there is nothing of its own to show, and an empty form says so.
  if (utf8 && outUtf8 == out) outUtf8.clear();
}

Role FirstNonEmpty(const ItemState& item, std::initializer_list<Role> roles) {
  for (Role r : roles)
    if (item.fields[r] && !item.fields[r]->empty()) return r;
  return kNoRole;
}

bool IsWebAddress(std::string_view address) {
  const std::string upper = UpperCase(address.substr(0, 8));
  return upper.rfind("HTTP://", 0) == 0 || upper.rfind("HTTPS://", 0) == 0;
}

// The first link whose rel is "alternate" or absent (when `alternateOnly`), else the first with
// an href at all.
const AtomLink* ChooseLink(const std::vector<AtomLink>& links, bool alternateOnly) {
  for (const AtomLink& l : links)
    if (!l.href.empty() && (l.rel.empty() || l.rel == "alternate")) return &l;
  if (!alternateOnly)
    for (const AtomLink& l : links)
      if (!l.href.empty()) return &l;
  return nullptr;
}

// About the length of the text a reader sees in `html`: tags do not count, a character reference
// counts as one character and a run of blanks as one. Cheaper than converting the text, and unlike
// the conversion it never fails, so a bad reference in one of two texts cannot cost the feed.
size_t VisibleLength(std::string_view html) {
  size_t length = 0;
  bool blank = true;  // leading blanks do not count
  for (size_t i = 0; i < html.size(); ++i) {
    const char c = html[i];
    if (c == '<') {
      const size_t close = html.find('>', i + 1);
      if (close == std::string_view::npos) break;
      i = close;
      continue;
    }
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      if (!blank) ++length;
      blank = true;
      continue;
    }
    blank = false;
    ++length;
    if (c == '&') {
      const size_t semicolon = html.find(';', i + 1);
      if (semicolon != std::string_view::npos && semicolon - i <= 12 &&
          html.substr(i + 1, semicolon - i - 1).find_first_of(" <&") == std::string_view::npos)
        i = semicolon;
    }
  }
  return length;
}

// A form to show is kept only when it is UTF-8 throughout: a damaged document can bring bytes that
// are not (a base address given in another encoding than the one declared, say); the single-byte
// text is then what is shown, as for a document without characters of its own.
void KeepIfUtf8(std::string& utf8) {
  if (!utf8.empty() && !IsWellFormedUtf8(utf8)) utf8.clear();
}

// Sets the item's link; one the document wrote with characters beyond ASCII is kept as written
// for showing and sent (and remembered as shown) in its URI form.
void SetLink(TItem& item, const std::string& link, const std::string& utf8) {
  if (IsAscii(utf8) || !IsWellFormedUtf8(utf8)) {  // none of its own, resolving left none, or damaged
    item.Link = link;
    // An address the document wrote as a URI is shown with its characters (a host of A-labels,
    // escapes of UTF-8) where that form goes back to exactly the address sent.
    if (IsAscii(link) && (link.find('%') != std::string::npos || link.find("xn--") != std::string::npos ||
                          link.find("XN--") != std::string::npos)) {
      std::string shown = UriToIri(link);
      if (shown != link && IriToUri(shown) == link) item.LinkUtf8 = std::move(shown);
    }
  } else {
    item.LinkUtf8 = utf8;
    item.Link = IriToUri(utf8);
  }
}

// Takes the texts out of `s`, which is done with.
TItem MakeItem(ItemState& s) {
  TItem item;
  if (const Role t = FirstNonEmpty(s, {kTitle, kDcTitle, kMediaTitle}); t != kNoRole) {
    item.Title = std::move(*s.fields[t]);
    item.TitleUtf8 = std::move(s.utf8[t]);
    KeepIfUtf8(item.TitleUtf8);
  }
  Role d = s.atom ? FirstNonEmpty(s, {kDescription, kSummary, kEncoded, kDcDescription, kITunesSummary,
                                      kMediaDescription})
                  : FirstNonEmpty(s, {kDescription, kEncoded, kFullItem, kAtomContent, kXhtmlBody, kDcDescription,
                                      kITunesSummary, kMediaDescription, kAbstract});
  if (!s.atom && d == kDescription) {
    // Many feeds give a teaser as the description and the story as content:encoded: the item's
    // text is the longer, so the same story scores alike whatever the feed's format. Lengths are
    // of the text a reader sees, as markup differs between the two; a tie keeps the description.
    if (const Role full = FirstNonEmpty(s, {kEncoded, kFullItem}); full != kNoRole)
      if (VisibleLength(*s.fields[full]) > VisibleLength(*s.fields[d])) d = full;
  }
  if (d != kNoRole) {
    item.Description = std::move(*s.fields[d]);
    item.DescriptionUtf8 = std::move(s.utf8[d]);
    KeepIfUtf8(item.DescriptionUtf8);
  }
  if (s.atom) {
    if (const AtomLink* chosen = ChooseLink(s.links, false)) SetLink(item, chosen->href, chosen->hrefUtf8);
  } else if (s.fields[kLink] && !s.fields[kLink]->empty()) {
    SetLink(item, *s.fields[kLink], s.utf8[kLink]);
  } else if (const AtomLink* alternate = ChooseLink(s.links, true)) {
    SetLink(item, alternate->href, alternate->hrefUtf8);  // atom:link in an RSS item
  } else if (s.fields[kGuid] && s.guidIsPermalink && IsWebAddress(*s.fields[kGuid])) {
    SetLink(item, *s.fields[kGuid], s.utf8[kGuid]);
  } else if (const AtomLink* any = ChooseLink(s.links, false)) {
    SetLink(item, any->href, any->hrefUtf8);
  } else {
    SetLink(item, s.itemHref, s.itemHrefUtf8);
  }
  // The item's identity: an RSS guid whatever it holds, an Atom id.
  if (const Role g = FirstNonEmpty(s, {kGuid, kAtomId}); g != kNoRole) item.Guid = Trim(*s.fields[g]).substr(0, kMaxGuidBytes);
  for (Role date : {kPubDate, kPublished, kDcDate, kUpdated})
    if (s.fields[date])
      if (const auto when = ParseFeedDate(Trim(*s.fields[date]))) {
        item.Published = *when;
        break;
      }
  item.Base = s.base;
  return item;
}

std::string Resolved(const std::string& base, const std::string& link) {
  return link.empty() || base.empty() ? link : ResolveReference(base, link);
}

// The UTF-8 form of a resolved link; empty where the link has none of its own. Resolving works
// on the URI form, as the resolver encodes what is not ASCII; the characters come back after.
std::string ResolvedUtf8(const std::string& base, const std::string& utf8) {
  return utf8.empty() || base.empty() ? utf8 : UriToIri(Resolved(base, IriToUri(utf8)));
}

// ---- the walk ---------------------------------------------------------------------------------

// Documents nest a few levels deep; beyond kMaxFeedDepth the walk stops tracking elements (their
// tags still count as markup inside a field), so a hostile document cannot grow the stack at will.

struct Frame {
  std::string qname;    // as written
  std::string key;      // the name folded to upper case, for matching end tags
  size_t bindings = 0;  // namespace bindings in force before it
  std::string base;     // xml:base in force inside it
};

// The field whose text is being gathered: the element's place on the stack and its pieces.
struct Capture {
  Role role = kNoRole;
  bool feedTitle = false;  // the title of the channel, outside every item
  size_t frame = 0;
  std::vector<Piece> pieces;
  bool xhtml = false;   // type="xhtml": inline markup in its wrapping div
  bool base64 = false;  // Atom 0.3 mode="base64"
  size_t limit = kMaxItemTextBytes;  // bytes the field keeps
  size_t bytes = 0;                  // of the pieces so far
  bool full = false;                 // past the limit: the rest of the element is left out
  // Bytes a piece may bring before the field is past its limit.
  size_t Room() const { return full ? 0 : limit + 1 - bytes; }
};

bool IsTitleRole(Role role) {
  return role == kTitle || role == kDcTitle || role == kMediaTitle;
}

bool IsLinkRole(Role role) {
  return role == kLink || role == kGuid;
}

class ItemWalker {
 public:
  ItemWalker(TXmlParser& parser, const ItemHandler& onItem, const FeedReadOptions& options)
      : parser_(parser), onItem_(onItem), options_(options) {}

  const FeedReadCuts& Cuts() const { return cuts_; }

  void Run() {
    // Blanks between the pieces of a field matter ("for <em>you</em>"), so the scanner hands
    // over text untrimmed and TextPiece trims it the same way.
    const bool normalized = parser_.NormalizeText();
    const bool keepUtf8 = parser_.KeepUtf8(), keepAttrUtf8 = parser_.KeepAttributeUtf8();
    parser_.SetNormalizeText(false);
    // Attributes carry links; text is wanted in UTF-8 only while a field is being gathered.
    parser_.SetKeepUtf8(true, false);
    Walk();
    parser_.SetNormalizeText(normalized);
    parser_.SetKeepUtf8(keepAttrUtf8, keepUtf8);
  }

 private:
  void Walk() {
    while (!stopped_ && !Cancelled() && parser_.NextPart()) {
      switch (parser_.PartKind()) {
        case PartStartTag:
          Open(false);
          break;
        case PartEmptyTag:
          Open(true);
          break;
        case PartEndTag:
          Close(parser_.PartName());
          break;
        case PartText:
          if (capture_ && !capture_->full)
            AddPiece(TextPiece(parser_.PartContent(), parser_.PartContentUtf8(), capture_->Room()));
          break;
        case PartCData:
          if (capture_ && !capture_->full) {
            const size_t room = capture_->Room();
            const std::string_view utf8 = parser_.PartContentUtf8();
            AddPiece({false, parser_.PartContent().substr(0, room), false, false,
                      std::string(utf8.substr(0, room > SIZE_MAX / 4 ? room : 4 * room))});
          }
          break;
        default:
          break;
      }
    }
    // An item cut short by the end of the document (or by Cancel, after its last part) still
    // counts, as it always did.
    if (item_) EndItem();
  }

  void StartCapture(Role role, size_t frame) {
    capture_.emplace();
    capture_->role = role;
    capture_->frame = frame;
    capture_->limit = IsTitleRole(role) || IsLinkRole(role) ? kMaxItemTitleBytes : kMaxItemTextBytes;
    parser_.SetKeepUtf8(true, true);
  }

  // A text piece comes cut to the field's room already; a tag that does not fit ends the field.
  void AddPiece(Piece piece) {
    Capture& c = *capture_;
    if (c.full) return;
    if (piece.text.size() >= c.Room()) {
      c.full = true;
      if (piece.tag) return;
    }
    c.bytes += piece.text.size();
    c.pieces.push_back(std::move(piece));
  }

  // A link taken from an attribute, cut to its limit before anything is done with it.
  std::string BoundedLink(const std::string& base, const TAttr& attr, std::string& utf8Out) {
    std::string value = attr.Value, utf8 = attr.ValueUtf8;
    if (CutField(value, utf8, kMaxItemTitleBytes)) cuts_.links = true;
    utf8Out = ResolvedUtf8(base, utf8);
    return Resolved(base, value);
  }

  void StopCapture() {
    capture_.reset();
    parser_.SetKeepUtf8(true, false);
  }

  bool Cancelled() const { return options_.cancelRequested && *options_.cancelRequested; }

  const std::string& CurrentBase() const {
    return stack_.empty() ? options_.documentUrl : stack_.back().base;
  }

  void Open(bool empty) {
    const TAttrList& attrs = parser_.PartAttributes();
    const size_t before = bindings_.Size();
    std::string xmlBase;
    bool hasBase = false;
    for (int i = 0; i < attrs.Count(); ++i) {
      const std::string name = attrs.NameAt(i);
      if (name == "xmlns")
        bindings_.Add("", attrs.ValueAt(i));
      else if (name.rfind("xmlns:", 0) == 0)
        bindings_.Add(name.substr(6), attrs.ValueAt(i));
      else if (name == "xml:base") {
        xmlBase = attrs.ValueAt(i);
        hasBase = true;
      }
    }
    const std::string& qname = parser_.PartName();
    const ElementName name = Classify(qname, bindings_);
    std::string base = hasBase ? Resolved(CurrentBase(), xmlBase) : CurrentBase();
    if (hasBase && base.empty()) base = xmlBase;

    const bool isItem = name.space == Space::Feed && (name.local == "ITEM" || name.local == "ENTRY");
    if (!capture_ && stack_.size() >= kMaxFeedDepth) {
      // Too deep to follow: nothing down there is read (inside a field it is still markup).
      cuts_.tooDeep = true;
      bindings_.Truncate(before);
      return;
    }
    if (capture_) {
      // Markup inside a field's text, with its attributes (namespace declarations aside).
      std::string tag = "<" + LocalName(qname);
      std::string tagUtf8;  // built once an attribute value has a UTF-8 form of its own
      for (int i = 0; i < attrs.Count(); ++i) {
        const std::string attrName = attrs.NameAt(i);
        if (attrName == "xmlns" || attrName.rfind("xmlns:", 0) == 0) continue;
        const TAttr& attr = *attrs.At(i);
        if (!attr.ValueUtf8.empty() && tagUtf8.empty()) tagUtf8 = tag;
        tag += ' ';
        tag += attrName;
        tag += "=\"";
        tag += EscapeAttribute(attr.Value);
        tag += '"';
        if (!tagUtf8.empty())
          tagUtf8 += ' ' + attrName + "=\"" + EscapeAttribute(attrs.ValueUtf8At(i)) + '"';
      }
      tag += empty ? "/>" : ">";
      if (!tagUtf8.empty()) tagUtf8 += empty ? "/>" : ">";
      AddPiece({true, std::move(tag), false, false, std::move(tagUtf8)});
    } else if (isItem) {
      // Items do not nest: an item that begins inside another ends that one.
      if (item_) EndItem();
      if (itemsRead_ >= kMaxFeedItems) {
        cuts_.items = true;
        stopped_ = true;
        bindings_.Truncate(before);
        return;
      }
      item_.emplace();
      item_->atom = name.local == "ENTRY";
      item_->frame = stack_.size();
      item_->base = base;
      for (int i = 0; i < attrs.Count(); ++i)
        if (UpperCase(attrs.NameAt(i)) == "HREF" && item_->itemHref.empty())
          item_->itemHref = BoundedLink(base, *attrs.At(i), item_->itemHrefUtf8);
    } else if (item_) {
      Consider(name, attrs, base, stack_.size() - item_->frame, empty);
    } else if (options_.feedTitle && !feedTitleSeen_ && !empty && name.space == Space::Feed &&
               name.local == "TITLE" && !stack_.empty()) {
      const std::string parent = LocalName(stack_.back().key);
      if (parent == "CHANNEL" || parent == "FEED") {
        feedTitleSeen_ = true;
        StartCapture(kTitle, stack_.size());
        capture_->feedTitle = true;
      }
    }

    if (empty) {
      if (isItem && item_ && !capture_) EndItem();  // <item/>: an item with nothing in it
      bindings_.Truncate(before);
    } else if (stack_.size() < kMaxFeedDepth) {
      std::string key = AnsiUpperCase(qname);
      ++openNames_[key];
      stack_.push_back({qname, std::move(key), before, std::move(base)});
    } else {
      bindings_.Truncate(before);
    }
  }

  // A child (or, for media ones, a deeper descendant) of the current item.
  void Consider(const ElementName& name, const TAttrList& attrs, const std::string& base, size_t depth,
                bool empty) {
    Role role = kNoRole;
    const std::string& l = name.local;
    if (depth == 1) {
      switch (name.space) {
        case Space::Feed:
          if (l == "TITLE")
            role = kTitle;
          else if (l == (item_->atom ? "CONTENT" : "DESCRIPTION"))
            role = kDescription;
          else if (item_->atom && l == "SUMMARY")
            role = kSummary;
          else if (l == "LINK" && (item_->atom || HasHref(attrs)))
            AddAtomLink(attrs, base);  // RSS items carry atom:link too
          else if (!item_->atom && l == "LINK")
            role = kLink;
          else if (!item_->atom && l == "GUID")
            role = kGuid;
          else if (!item_->atom && l == "CONTENT")
            role = kAtomContent;
          else if (!item_->atom && l == "FULLITEM")
            role = kFullItem;
          else if (!item_->atom && l == "ABSTRACT")
            role = kAbstract;
          else if (item_->atom && l == "ID")
            role = kAtomId;
          else if (!item_->atom && l == "PUBDATE")
            role = kPubDate;
          else if (l == "PUBLISHED")
            role = kPublished;
          else if (l == "UPDATED")
            role = kUpdated;
          break;
        case Space::Content:
          if (l == "ENCODED")
            role = kEncoded;
          else if (l == "FULLITEM")
            role = kFullItem;
          break;
        case Space::Xhtml:
          if (!item_->atom && l == "BODY") role = kXhtmlBody;
          break;
        case Space::DublinCore:
          if (l == "TITLE")
            role = kDcTitle;
          else if (l == "DESCRIPTION")
            role = kDcDescription;
          else if (l == "DATE")
            role = kDcDate;
          break;
        case Space::ITunes:
          if (l == "SUMMARY") role = kITunesSummary;
          break;
        default:
          break;
      }
    }
    // media:title and media:description also sit inside media:group or media:content.
    if (name.space == Space::Media && depth <= 3) {
      if (l == "TITLE")
        role = kMediaTitle;
      else if (l == "DESCRIPTION")
        role = kMediaDescription;
    }
    if (role == kNoRole) return;
    if (role == kGuid) {
      item_->guidIsPermalink = true;
      for (int i = 0; i < attrs.Count(); ++i)
        if (UpperCase(attrs.NameAt(i)) == "ISPERMALINK" && LowerCase(Trim(attrs.ValueAt(i))) == "false")
          item_->guidIsPermalink = false;
    }
    if (empty) {
      item_->fields[role] = std::string();  // an element with no text gives an empty field
      item_->utf8[role].clear();
      return;
    }
    StartCapture(role, stack_.size());
    if (name.space == Space::Feed) {
      capture_->xhtml = LowerCase(Trim(attrs.ValueOf("type"))) == "xhtml";
      capture_->base64 = LowerCase(Trim(attrs.ValueOf("mode"))) == "base64";
    }
  }

  static bool HasHref(const TAttrList& attrs) {
    for (int i = 0; i < attrs.Count(); ++i)
      if (UpperCase(attrs.NameAt(i)) == "HREF") return true;
    return false;
  }

  void AddAtomLink(const TAttrList& attrs, const std::string& base) {
    AtomLink link;
    for (int i = 0; i < attrs.Count(); ++i) {
      const std::string name = UpperCase(attrs.NameAt(i));
      if (name == "HREF" && link.href.empty())
        link.href = BoundedLink(base, *attrs.At(i), link.hrefUtf8);
      else if (name == "REL")
        link.rel = LowerCase(Trim(attrs.ValueAt(i)));
    }
    item_->links.push_back(std::move(link));
  }

  static std::string LocalName(std::string_view qname) {
    const size_t colon = qname.find(':');
    return std::string(colon == std::string_view::npos ? qname : qname.substr(colon + 1));
  }

  void Close(const std::string& qname) {
    // The innermost open element of that name; an end tag that closes nothing open is ignored
    // at once, one that skips elements closes them too (so every search is paid for by pops).
    const std::string key = AnsiUpperCase(qname);
    const auto open = openNames_.find(key);
    if (open == openNames_.end()) return;
    for (size_t k = stack_.size(); k-- > 0;) {
      if (stack_[k].key != key) continue;
      while (stack_.size() > k) Pop();
      return;
    }
  }

  void Pop() {
    const size_t index = stack_.size() - 1;
    if (capture_ && index > capture_->frame) {
      AddPiece({true, "</" + LocalName(stack_.back().qname) + ">", false, false, {}});
    } else if (capture_ && index == capture_->frame) {
      EndCapture();
    } else if (item_ && index == item_->frame) {
      EndItem();
    }
    bindings_.Truncate(stack_.back().bindings);
    const auto open = openNames_.find(stack_.back().key);
    if (--open->second == 0) openNames_.erase(open);
    stack_.pop_back();
  }

  void EndCapture() {
    if (capture_->xhtml) DropWrappingDiv(capture_->pieces);
    std::string text, utf8;
    JoinPieces(capture_->pieces, text, utf8);
    if (capture_->feedTitle) {
      CutField(text, utf8, capture_->limit);  // the list takes a short title of it anyway
      *options_.feedTitle = std::move(text);
      if (options_.feedTitleUtf8) {
        KeepIfUtf8(utf8);
        *options_.feedTitleUtf8 = std::move(utf8);
      }
      StopCapture();
      return;
    }
    if (capture_->base64) {
      // The encoded bytes are the document's own: converted as its text is.
      const std::string bytes = DecodeBase64(text);
      text.clear();
      utf8.clear();
      parser_.ConvertText(bytes, text);
      if (!IsAscii(bytes)) parser_.ConvertTextUtf8(bytes, utf8);
    }
    if (CutField(text, utf8, capture_->limit) || capture_->full) {
      if (IsTitleRole(capture_->role))
        cuts_.titles = true;
      else if (IsLinkRole(capture_->role))
        cuts_.links = true;
      else
        cuts_.texts = true;
    }
    if (capture_->role == kLink) {
      text = Resolved(stack_[capture_->frame].base, text);
      utf8 = ResolvedUtf8(stack_[capture_->frame].base, utf8);
    }
    item_->fields[capture_->role] = std::move(text);
    item_->utf8[capture_->role] = std::move(utf8);
    StopCapture();
  }

  void EndItem() {
    if (capture_) EndCapture();
    TItem item = MakeItem(*item_);
    item_.reset();
    ++itemsRead_;
    onItem_(item);
  }

  TXmlParser& parser_;
  const ItemHandler& onItem_;
  const FeedReadOptions& options_;
  std::vector<Frame> stack_;
  std::unordered_map<std::string, int> openNames_;  // keys of the open elements, with their counts
  Bindings bindings_;
  std::optional<ItemState> item_;
  std::optional<Capture> capture_;
  bool feedTitleSeen_ = false;
  size_t itemsRead_ = 0;
  bool stopped_ = false;  // the document brought more items than are read
  FeedReadCuts cuts_;
};

// ---- JSON Feed --------------------------------------------------------------------------------

std::string JsonText(const nlohmann::json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end() || !it->is_string()) return {};
  return Utf8ToWin1252(it->get_ref<const std::string&>());
}

// The same in UTF-8 (as JSON has it); empty when that is the single-byte text itself.
std::string JsonTextUtf8(const nlohmann::json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end() || !it->is_string()) return {};
  const std::string& text = it->get_ref<const std::string&>();
  if (IsAscii(text)) return {};
  std::string out;
  AppendUtf8Checked(text, out);
  return out;
}

}  // namespace

void ReadFeedItems(TXmlParser& parser, const ItemHandler& onItem, const FeedReadOptions& options) {
  if (!options.charset.empty()) parser.SetDefaultEncoding(options.charset);
  // The folder a download is saved in holds the copies kept of other feeds: what the document
  // names there must not come into its items.
  struct NoExternalFiles {
    TXmlParser& parser;
    const bool was = parser.ReadsExternalFiles();
    explicit NoExternalFiles(TXmlParser& p) : parser(p) { parser.SetReadExternalFiles(false); }
    ~NoExternalFiles() { parser.SetReadExternalFiles(was); }
  } noExternalFiles(parser);
  ItemWalker walker(parser, onItem, options);
  walker.Run();
  if (options.undefinedEntities) *options.undefinedEntities = parser.UndefinedEntities();
  if (options.charsetTrouble) *options.charsetTrouble = parser.Trouble();
  if (options.cuts) {
    *options.cuts = walker.Cuts();
    if (parser.ExpansionBudgetReached()) options.cuts->expansionBudget = parser.ExpansionBudget();
  }
}

namespace {

// "64 KB", "8 MB": the limits as the log states them.
std::string SizeText(size_t bytes) {
  if (bytes >= (1u << 20)) return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MB";
  return std::to_string((bytes + 1023) >> 10) + " KB";
}

}  // namespace

std::vector<std::string> FeedReadCutMessages(const std::string& url, const FeedReadCuts& cuts) {
  std::vector<std::string> lines;
  const std::string feed = "The feed " + url;
  if (cuts.titles)
    lines.push_back(feed + " has item titles longer than " + SizeText(kMaxItemTitleBytes) + "; I cut them to that");
  if (cuts.texts)
    lines.push_back(feed + " has item texts longer than " + SizeText(kMaxItemTextBytes) + "; I cut them to that");
  if (cuts.links)
    lines.push_back(feed + " has item links longer than " + SizeText(kMaxItemTitleBytes) + "; I cut them to that");
  if (cuts.items)
    lines.push_back(feed + " has more than " + std::to_string(kMaxFeedItems) + " items; I read the first " +
                    std::to_string(kMaxFeedItems));
  if (cuts.tooDeep)
    lines.push_back(feed + " is too deep: its elements nest more than " + std::to_string(kMaxFeedDepth) +
                    " levels, and I did not read what lies deeper");
  if (cuts.expansionBudget != 0)
    lines.push_back(feed + " expands its entities to more than " + SizeText(cuts.expansionBudget) +
                    "; I left the references after that unexpanded");
  return lines;
}

std::string CharsetTroubleMessage(const std::string& url, const TXmlParser::CharsetTrouble& trouble) {
  // A damaged prolog can make anything a name: one line, and not too long.
  std::string name;
  for (char c : trouble.charset.substr(0, 40)) name += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
  if (trouble.charset.size() > 40) name += "...";
  switch (trouble.status) {
    case TranscodeResult::Ok:
      return {};
    case TranscodeResult::UnknownCharset:
      return "The feed " + url + " is in an encoding I do not know (\"" + name +
             "\"); I read it as Windows-1252";
    case TranscodeResult::InvalidBytes:
      return "The feed " + url + " is not " + name + " text (from byte " +
             std::to_string(trouble.offset) + " on); I read it as Windows-1252";
  }
  return {};
}

std::string UndefinedEntitiesMessage(const std::string& url, const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& name : names) list += (list.empty() ? "&" : ", &") + name + ";";
  return "The feed " + url + " uses entities it does not declare; I kept them as written: " + list;
}

bool LooksLikeJson(std::string_view document) {
  if (document.substr(0, 3) == "\xEF\xBB\xBF") document.remove_prefix(3);
  for (char c : document) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    return c == '{';
  }
  return false;
}

void ReadJsonFeedItems(std::string_view document, const ItemHandler& onItem, const FeedReadOptions& options) {
  if (options.cuts) *options.cuts = {};
  if (document.substr(0, 3) == "\xEF\xBB\xBF") document.remove_prefix(3);
  const nlohmann::json feed = nlohmann::json::parse(document.begin(), document.end(), nullptr, false);
  if (!feed.is_object()) return;
  const std::string version = Trim(JsonText(feed, "version"));
  // Some publishers write the bare number instead of the jsonfeed.org address.
  if (version.rfind("https://jsonfeed.org/version/1", 0) != 0 &&
      version.rfind("http://jsonfeed.org/version/1", 0) != 0 && version != "1" && version != "1.0" &&
      version != "1.1")
    return;
  if (options.feedTitle) {
    std::string title = JsonText(feed, "title");
    if (!title.empty()) {
      *options.feedTitle = std::move(title);
      if (options.feedTitleUtf8) *options.feedTitleUtf8 = JsonTextUtf8(feed, "title");
    }
  }
  const auto items = feed.find("items");
  if (items == feed.end() || !items->is_array()) return;
  FeedReadCuts cuts;
  size_t read = 0;
  for (const nlohmann::json& entry : *items) {
    if (options.cancelRequested && *options.cancelRequested) break;
    if (!entry.is_object()) continue;
    if (read == kMaxFeedItems) {
      cuts.items = true;
      break;
    }
    TItem item;
    item.Title = JsonText(entry, "title");
    item.TitleUtf8 = JsonTextUtf8(entry, "title");
    cuts.titles |= CutField(item.Title, item.TitleUtf8, kMaxItemTitleBytes);
    for (const char* key : {"content_text", "content_html", "summary"}) {
      item.Description = JsonText(entry, key);
      item.DescriptionUtf8 = JsonTextUtf8(entry, key);
      if (!item.Description.empty()) break;
    }
    cuts.texts |= CutField(item.Description, item.DescriptionUtf8, kMaxItemTextBytes);
    const char* linkKey = JsonText(entry, "url").empty() ? "external_url" : "url";
    std::string link = JsonText(entry, linkKey), linkUtf8 = JsonTextUtf8(entry, linkKey);
    cuts.links |= CutField(link, linkUtf8, kMaxItemTitleBytes);
    SetLink(item, Resolved(options.documentUrl, link), ResolvedUtf8(options.documentUrl, linkUtf8));
    // JSON Feed requires an id; some feeds write it as a number.
    if (const auto id = entry.find("id"); id != entry.end())
      item.Guid = (id->is_string() ? JsonText(entry, "id") : id->is_number() ? id->dump() : std::string())
                      .substr(0, kMaxGuidBytes);
    for (const char* key : {"date_published", "date_modified"})
      if (const auto when = ParseFeedDate(Trim(JsonText(entry, key)))) {
        item.Published = *when;
        break;
      }
    ++read;
    onItem(item);
  }
  if (options.cuts) *options.cuts = cuts;
}

void ReadFeedDocument(TXmlParser& loaded, const ItemHandler& onItem, const FeedReadOptions& options) {
  const size_t size = loaded.BufferSize();  // with the terminating NUL
  const std::string_view document(loaded.DocumentText(), size > 0 ? size - 1 : 0);
  if (LooksLikeJson(document)) {
    ReadJsonFeedItems(document, onItem, options);
    return;
  }
  loaded.Rewind();
  ReadFeedItems(loaded, onItem, options);
}

void ReadFeedBytes(std::string_view document, const ItemHandler& onItem, const FeedReadOptions& options) {
  TXmlParser parser;
  parser.LoadFromBuffer(document, "<download>");
  ReadFeedDocument(parser, onItem, options);
}

}  // namespace zibu
