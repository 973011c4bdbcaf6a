#include "feeds/opml.h"

#include <set>
#include <utility>

#include "common/codepage.h"
#include "common/numbers.h"
#include "common/ports.h"
#include "rules/keyword_rules.h"
#include "common/settings.h"
#include "common/text.h"
#include "feeds/feed_list.h"
#include "xml/xml_parser.h"

namespace zibu {

namespace {

// An element open while the file is read, with the namespace prefixes it declares.
struct OpenElement {
  std::string name;
  std::vector<std::pair<std::string, std::string>> prefixes;  // prefix, namespace name
  std::string folder;  // an outline without an address: the name of the folder it opens
};

// The folder of an outline: the names of the folder outlines around it, outermost first,
// joined by "/".
std::string FolderOf(const std::vector<OpenElement>& open) {
  std::string folder;
  for (const OpenElement& e : open) {
    if (e.folder.empty()) continue;
    if (!folder.empty()) folder += "/";
    folder += e.folder;
  }
  return folder;
}

// An outline's name: its text, else its title, without the blanks around it.
std::string OutlineName(const TAttrList& attrs) {
  std::string name = Trim(attrs.ValueOf("text"));
  if (name.empty()) name = Trim(attrs.ValueOf("title"));
  return name;
}

// The same name with every character the file gave, in UTF-8; "" where the single-byte name
// shows it all.
std::string OutlineNameUtf8(const TAttrList& attrs, const std::string& name) {
  for (const char* key : {"text", "title"}) {
    const TAttr* a = attrs.Find(key);
    if (!a || Trim(a->Value).empty()) continue;
    std::string utf8 = Trim(a->ValueUtf8.empty() ? a->Value : a->ValueUtf8);
    return utf8 == Win1252ToUtf8(name) || !IsWellFormedUtf8(utf8) ? std::string() : utf8;
  }
  return {};
}

std::string LookUpPrefix(const std::vector<OpenElement>& open, const std::string& prefix) {
  for (auto e = open.rbegin(); e != open.rend(); ++e) {
    for (const auto& [p, uri] : e->prefixes) {
      if (p == prefix) return uri;
    }
  }
  return {};
}

bool IsBlank(const std::string& text) {
  return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

// "line N" of the part the scanner is at, when the part lies in the document itself.
std::string Where(const TXmlParser& parser) {
  const char* doc = parser.DocumentText();
  const char* at = parser.PartStart();
  if (!at || at < doc || at > doc + parser.BufferSize()) return "";
  int line = 1;
  for (const char* p = doc; p < at; ++p) line += *p == '\n';
  return " (line " + std::to_string(line) + ")";
}

std::string Quoted(const std::string& name) {
  return "<" + name + ">";
}

// The Zibu fields of an outline, when the attributes carry any.
void ReadZibuFields(const TAttrList& attrs, const std::vector<OpenElement>& open, OpmlFeed& found) {
  for (const auto& a : attrs) {
    const size_t colon = a->Name.find(':');
    if (colon == std::string::npos || a->Name.compare(0, colon, "xmlns") == 0) continue;
    if (LookUpPrefix(open, a->Name.substr(0, colon)) != kOpmlZibuNamespace) continue;
    const std::string local = a->Name.substr(colon + 1);
    if (local == "active") {
      found.feed.active = a->Value != "0";
      found.zibuFields = true;
    } else if (local == "refreshInterval") {
      const auto seconds = TryStrToInt(a->Value);
      if (seconds && *seconds > 0) found.feed.refreshInterval = *seconds;
      found.zibuFields = true;
    } else if (local == "keywords") {
      found.feed.keywords = DecodeCrlfLines(a->Value);
      found.zibuFields = true;
    }
  }
}

std::string AttributeText(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (const char c : value) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\t':
        out += "&#9;";
        break;
      case '\n':
        out += "&#10;";
        break;
      case '\r':
        out += "&#13;";
        break;
      default:
        // Other control bytes cannot stand in an XML 1.0 document at all.
        if (static_cast<unsigned char>(c) >= 0x20) out += c;
    }
  }
  return out;
}

bool IsHttpAddress(const std::string& url) {
  const std::string head = UpperCase(url.substr(0, 8));
  return head.rfind("HTTP://", 0) == 0 || head == "HTTPS://";
}

std::string Plural(int n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::vector<OpmlFeed> ReadOpml(std::string_view bytes) {
  // The scanner's text ends at the first NUL, which would hide a cut-off file.
  if (bytes.find('\0') != std::string_view::npos) {
    throw OpmlError("This is not an OPML file: it holds NUL bytes.");
  }
  TXmlParser parser;
  // A name starting with "<": no file beside it, so no external entity is ever opened.
  parser.LoadFromBuffer(bytes, "<opml>");
  parser.SetKeepUtf8(true, false);  // names with characters Windows-1252 lacks
  parser.Rewind();
  std::vector<OpenElement> open;
  std::vector<OpmlFeed> feeds;
  bool sawRoot = false;
  bool sawBody = false;
  int bodyDepth = 0;  // open <body> elements of the root
  while (parser.NextPart()) {
    const TPartKind kind = parser.PartKind();
    if (kind == PartStartTag || kind == PartEmptyTag) {
      const std::string& name = parser.PartName();
      if (open.empty()) {
        if (sawRoot)
          throw OpmlError("The OPML file has a second root element " + Quoted(name) + Where(parser) + ".");
        if (name != "opml") {
          throw OpmlError("This is not an OPML file: its root element is " + Quoted(name) + ", not <opml>.");
        }
        sawRoot = true;
      }
      OpenElement element{name, {}, {}};
      for (const auto& a : parser.PartAttributes()) {
        if (a->Name.rfind("xmlns:", 0) == 0) element.prefixes.emplace_back(a->Name.substr(6), a->Value);
      }
      const std::string url =
          name == "outline" && bodyDepth > 0 ? Trim(parser.PartAttributes().ValueOf("xmlUrl")) : std::string();
      if (name == "outline" && bodyDepth > 0 && url.empty()) element.folder = OutlineName(parser.PartAttributes());
      open.push_back(std::move(element));
      if (name == "body" && open.size() == 2) {
        sawBody = true;
        ++bodyDepth;
      } else if (!url.empty()) {
        OpmlFeed found;
        found.feed.url = url;
        found.feed.refreshInterval = kDefaultRefreshInterval;
        found.title = OutlineName(parser.PartAttributes());
        // Many readers write the address again as the name when there is no title.
        if (found.title != url) {
          found.feed.title = found.title;
          found.feed.titleUtf8 = OutlineNameUtf8(parser.PartAttributes(), found.title);
        }
        found.feed.folder = FolderOf(open);
        ReadZibuFields(parser.PartAttributes(), open, found);
        feeds.push_back(std::move(found));
      }
      if (kind == PartEmptyTag) {
        if (open.back().name == "body" && open.size() == 2) --bodyDepth;
        open.pop_back();
      }
    } else if (kind == PartEndTag) {
      const std::string& name = parser.PartName();
      if (open.empty() || open.back().name != name) {
        throw OpmlError(
            "The OPML file is not well formed: </" + name + ">" + Where(parser) +
            (open.empty() ? " closes nothing." : " does not close " + Quoted(open.back().name) + "."));
      }
      if (name == "body" && open.size() == 2) --bodyDepth;
      open.pop_back();
    } else if ((kind == PartText || kind == PartCData) && open.empty() && !IsBlank(parser.PartContent())) {
      throw OpmlError(sawRoot ? "The OPML file has text after its end" + Where(parser) + "."
                              : "This is not an OPML file: it does not begin with <opml>.");
    }
  }
  if (!sawRoot) throw OpmlError("This is not an OPML file: it has no <opml> element.");
  if (!open.empty()) {
    throw OpmlError("The OPML file is cut short or not well formed: " + Quoted(open.back().name) +
                    " is never closed.");
  }
  if (!sawBody) throw OpmlError("The OPML file has no <body>, so no subscriptions.");
  return feeds;
}

namespace {

// A feed's title as an attribute value of the file, which is written in Windows-1252 and turned
// into UTF-8 as a whole: a character the code page lacks goes as a character reference.
std::string TitleAttributeText(const TFeed& f) {
  if (f.titleUtf8.empty()) return AttributeText(f.title);
  std::string out;
  const auto* s = reinterpret_cast<const unsigned char*>(f.titleUtf8.data());
  const size_t n = f.titleUtf8.size();
  for (size_t i = 0; i < n;) {
    if (s[i] < 0x80) {
      out += AttributeText(std::string_view(f.titleUtf8).substr(i, 1));
      ++i;
      continue;
    }
    const size_t len = Utf8SequenceLength(s + i, n - i);
    if (len == 0) return AttributeText(f.title);  // not UTF-8 after all
    uint32_t cp = s[i] & (0xFF >> (len + 1));
    for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
    const char byte = CodePointToWin1252(cp);
    if (byte != '\xBF' || cp == 0xBF)
      out += byte;
    else
      out += "&#" + std::to_string(cp) + ";";
    i += len;
  }
  return out;
}

}  // namespace

std::string WriteOpml(const std::vector<TFeed>& feeds) {
  std::string doc;
  doc += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  doc += "<opml version=\"2.0\" xmlns:zibu=\"";
  doc += kOpmlZibuNamespace;
  doc += "\">\n  <head>\n    <title>Zibu feeds</title>\n  </head>\n  <body>\n";
  // A run of feeds of one folder goes into one folder outline, so the list order stays as it is.
  std::string folder;
  for (const TFeed& f : feeds) {
    if (f.folder != folder) {
      if (!folder.empty()) doc += "    </outline>\n";
      folder = f.folder;
      if (!folder.empty()) doc += "    <outline text=\"" + AttributeText(folder) + "\">\n";
    }
    const std::string indent = folder.empty() ? "    " : "      ";
    const std::string url = AttributeText(f.url);
    const std::string text = f.title.empty() ? url : TitleAttributeText(f);
    doc += indent + "<outline type=\"rss\" text=\"" + text + "\" xmlUrl=\"" + url + "\" zibu:active=\"" +
           (f.active ? "1" : "0") + "\" zibu:refreshInterval=\"" + std::to_string(f.refreshInterval) +
           "\" zibu:keywords=\"" + AttributeText(EncodeCrlfLines(f.keywords)) + "\"/>\n";
  }
  if (!folder.empty()) doc += "    </outline>\n";
  doc += "  </body>\n</opml>\n";
  return Win1252ToUtf8(doc);
}

OpmlImportSummary MergeOpmlFeeds(std::vector<TFeed>& feeds, const std::vector<OpmlFeed>& found,
                                 UserPort& port) {
  OpmlImportSummary summary;
  std::set<std::string> known;
  for (const TFeed& f : feeds) known.insert(f.url);
  for (const OpmlFeed& f : found) {
    const std::string shown = f.feed.url + (f.title.empty() ? "" : " (" + f.title + ")");
    if (!IsHttpAddress(f.feed.url)) {
      ++summary.unusable;
      port.Log("OPML: skipped " + shown + ", not an http or https address");
      continue;
    }
    if (!known.insert(f.feed.url).second) {
      ++summary.present;
      port.Log("OPML: already in the list: " + shown);
      continue;
    }
    TFeed feed;
    feed.url = f.feed.url;
    feed.title = f.feed.title;
    feed.titleUtf8 = f.feed.titleUtf8;
    feed.folder = f.feed.folder;
    if (f.zibuFields) {
      feed.active = f.feed.active;
      feed.keywords = f.feed.keywords;
      if (const size_t leftOut = BoundKeywordLines(feed.keywords)) port.Log(KeywordsTooLongLine(feed.url, leftOut));
      feed.refreshInterval = f.feed.refreshInterval;
    } else {
      feed.refreshInterval = kDefaultRefreshInterval;
    }
    feeds.push_back(std::move(feed));
    ++summary.added;
    port.Log("OPML: added " + shown);
  }
  return summary;
}

std::string OpmlSummaryText(const OpmlImportSummary& s) {
  std::string text = "I added " + Plural(s.added, "feed", "feeds") + " from the OPML file";
  if (s.present > 0) text += "; " + Plural(s.present, "was", "were") + " already in the list";
  if (s.unusable > 0) {
    text += "; " + Plural(s.unusable, "entry is", "entries are") + " not an http or https address";
  }
  return text + ".";
}

}  // namespace zibu
