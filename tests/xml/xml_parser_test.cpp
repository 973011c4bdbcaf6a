#include "xml/xml_parser.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "xml/xml_test_util.h"

namespace zibu {
namespace {

using xmltest::Part;
using xmltest::Parts;
using xmltest::Texts;
using Strings = std::vector<std::string>;

TEST(XmlParts, KindsNamesAndDisplayNames) {
  auto parts =
      Parts("<?xml version=\"1.0\"?><!DOCTYPE r><!-- c --><?pi x?><r a='1'><e/>t<![CDATA[<raw>]]></r>");
  ASSERT_EQ(parts.size(), 9u);
  const TPartKind kinds[] = {PartXmlProlog, PartDtd,  PartComment, PartPI,    PartStartTag,
                             PartEmptyTag,  PartText, PartCData,   PartEndTag};
  for (size_t i = 0; i < parts.size(); ++i) EXPECT_EQ(parts[i].kind, kinds[i]) << i;
  EXPECT_EQ(parts[4].name, "r");
  EXPECT_EQ(parts[4].attrs, Strings{"a=1"});
  EXPECT_EQ(parts[7].content, "<raw>");

  const char* names[] = {"",          "XML Prolog", "Comment", "PI",   "DTD Declaration",
                         "Start Tag", "Empty Tag",  "End Tag", "Text", "CDATA"};
  for (int k = 0; k <= PartCData; ++k) EXPECT_STREQ(PartKindName(static_cast<TPartKind>(k)), names[k]);
}

TEST(XmlParts, TextNormalisation) {
  auto parts = Parts("<a>  Hello \n  world  </a>\n  <b> </b>");
  ASSERT_EQ(parts.size(), 5u);
  EXPECT_EQ(parts[0].kind, PartStartTag);
  EXPECT_EQ(parts[1].kind, PartText);
  EXPECT_EQ(parts[1].content, "Hello world");
  EXPECT_EQ(parts[2].kind, PartEndTag);
  EXPECT_EQ(parts[3].name, "b");  // white space between tags is no part
  EXPECT_EQ(parts[4].kind, PartEndTag);

  auto raw = Parts("<a>  x\t\ty </a>\n<b/>", false);
  ASSERT_EQ(raw.size(), 5u);
  EXPECT_EQ(raw[1].content, "  x\t\ty ");
  EXPECT_EQ(raw[3].kind, PartText);
  EXPECT_EQ(raw[3].content, "\n");
}

TEST(XmlParts, PropertiesKeptFromThePreviousPart) {
  auto parts = Parts("<item><title>X</title><!-- note --><?p d?></item>");
  ASSERT_EQ(parts.size(), 7u);
  EXPECT_EQ(parts[2].kind, PartText);
  EXPECT_EQ(parts[2].name, "title");  // text keeps the tag's name
  EXPECT_EQ(parts[3].kind, PartEndTag);
  EXPECT_EQ(parts[3].content, "X");  // the end tag keeps the text
  EXPECT_EQ(parts[4].kind, PartComment);
  EXPECT_EQ(parts[4].name, "title");  // a comment changes nothing
  EXPECT_EQ(parts[4].content, "X");
  EXPECT_EQ(parts[5].name, "p");
  EXPECT_EQ(parts[5].content, " d");

  auto cdata = Parts("<d a='1'><![CDATA[ keep  this ]]></d>");
  ASSERT_EQ(cdata.size(), 3u);
  EXPECT_EQ(cdata[1].name, "d");
  EXPECT_EQ(cdata[1].content, " keep  this ");  // never normalised
  EXPECT_EQ(cdata[1].attrs, Strings{"a=1"});
}

TEST(XmlParts, EndOfDocument) {
  TXmlParser p;
  EXPECT_FALSE(p.NextPart());  // nothing loaded
  p.LoadFromBuffer("<a/>");
  p.Rewind();
  EXPECT_TRUE(p.NextPart());
  EXPECT_FALSE(p.NextPart());
  EXPECT_FALSE(p.NextPart());
  EXPECT_EQ(*p.PartStart(), '\0');
  EXPECT_EQ(p.PartStart(), p.DocumentText() + 4);
  EXPECT_EQ(p.PartEnd(), p.DocumentText() + 3);

  // A second pass gives the same parts.
  p.LoadFromBuffer("<a>x</a>");
  auto first = xmltest::Walk(p);
  auto second = xmltest::Walk(p);
  ASSERT_EQ(first.size(), 3u);
  ASSERT_EQ(second.size(), 3u);
  EXPECT_EQ(second[1].content, "x");

  // A NUL byte ends the document.
  auto parts = Parts(std::string("<a>x\0<b/>", 9));
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[1].content, "x");
}

TEST(XmlParts, PositionsCoverTheDocument) {
  TXmlParser p;
  const std::string doc = "<a x='1'>text<!--c--></a>";
  p.LoadFromBuffer(doc);
  p.Rewind();
  std::string joined;
  while (p.NextPart()) joined.append(p.PartStart(), p.PartEnd() + 1);
  EXPECT_EQ(joined, doc);
}

TEST(XmlParts, UnterminatedConstructsRunToTheEnd) {
  for (const char* doc : {"<a>x<!-- open", "<a>x<?pi open", "<a>x<![CDATA[ open", "<a>x<b c='1"}) {
    auto parts = Parts(doc);
    ASSERT_EQ(parts.size(), 3u) << doc;
  }
  EXPECT_EQ(Parts("<![CDATA[ab")[0].content, "ab");
  EXPECT_EQ(Parts("<?pi  rest")[0].content, "  rest");
  auto tag = Parts("<b c='1")[0];
  EXPECT_EQ(tag.name, "b");
  EXPECT_EQ(tag.attrs, Strings{"c=1"});
  // "<" at the very end, and a lone "<" in text.
  EXPECT_EQ(Parts("x<").size(), 2u);
  auto lt = Parts("a < b> c");
  ASSERT_EQ(lt.size(), 3u);
  EXPECT_EQ(lt[1].kind, PartStartTag);
  EXPECT_EQ(lt[1].name, " b");
  EXPECT_EQ(lt[2].content, "c");
  auto lower = Parts("<!doctype html><p>");
  EXPECT_EQ(lower[0].kind, PartStartTag);
  EXPECT_EQ(lower[0].name, "!doctype");
}

TEST(XmlProlog, VersionEncodingStandalone) {
  TXmlParser p;
  p.LoadFromBuffer("<?xml version=\"1.0\" encoding='iso-8859-1' standalone=\"yes\"?><a/>");
  auto parts = xmltest::Walk(p);
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].kind, PartXmlProlog);
  EXPECT_EQ(parts[0].attrs, (Strings{"encoding=iso-8859-1", "standalone=yes", "version=1.0"}));
  EXPECT_EQ(p.XmlVersion(), "1.0");
  EXPECT_EQ(p.DeclaredEncoding(), "iso-8859-1");
  EXPECT_TRUE(p.IsStandalone());
  EXPECT_EQ(p.TextEncoding(), "ISO-8859-1");

  p.LoadFromBuffer("<?xml version='1.1' standalone='Yes'?>");
  xmltest::Walk(p);
  EXPECT_FALSE(p.IsStandalone());
  EXPECT_EQ(p.TextEncoding(), "UTF-8");

  // "<?xml-" is a processing instruction, not a prolog.
  auto pi = Parts("<?xml-stylesheet href=\"a.xsl\"?>");
  ASSERT_EQ(pi.size(), 1u);
  EXPECT_EQ(pi[0].kind, PartPI);
  EXPECT_EQ(pi[0].name, "xml-stylesheet");
  EXPECT_EQ(pi[0].content, " href=\"a.xsl\"");
  EXPECT_EQ(pi[0].attrs, Strings{"href=a.xsl"});
}

TEST(XmlProlog, EncodingDecidesConversion) {
  EXPECT_EQ(Texts("<?xml version=\"1.0\"?><a>caf\xC3\xA9</a>"), Strings{"caf\xE9"});
  EXPECT_EQ(Texts("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>caf\xC3\xA9</a>"),
            Strings{"caf\xC3\xA9"});
  EXPECT_EQ(Texts("<a>caf\xC3\xA9</a>"), Strings{"caf\xE9"});  // no prolog: UTF-8, XML's default

  // A byte-order mark says UTF-8; it is no text of the document.
  auto parts = Parts("\xEF\xBB\xBF<?xml version=\"1.0\"?><a>\xE2\x82\xAC</a>");
  ASSERT_EQ(parts.size(), 4u);
  EXPECT_EQ(parts[0].kind, PartXmlProlog);
  EXPECT_EQ(parts[2].content, "\x80");

  // Attribute values and CDATA are converted too; names and PI content are not.
  auto conv = Parts("<?xml version='1.0'?><a\xC3\xA9 t='\xC3\xA9'><![CDATA[\xC3\xA9]]><?p \xC3\xA9?>");
  EXPECT_EQ(conv[1].name, "a\xC3\xA9");
  EXPECT_EQ(conv[1].attrs, Strings{"t=\xE9"});
  EXPECT_EQ(conv[2].content, "\xE9");
  EXPECT_EQ(conv[3].content, " \xC3\xA9");
}

TEST(XmlConvert, Utf8ToWindows1252) {
  EXPECT_EQ(Utf8ToWin1252("plain ascii"), "plain ascii");
  EXPECT_EQ(Utf8ToWin1252("\xE2\x82\xAC"), "\x80");              // euro sign
  EXPECT_EQ(Utf8ToWin1252("\xE2\x80\x99\xC5\xA0"), "\x92\x8A");  // right quote, S caron
  EXPECT_EQ(Utf8ToWin1252("a\xF0\x9F\x98\x80z"), "a\xBFz");      // four bytes: one 0xBF
  EXPECT_EQ(Utf8ToWin1252("\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D"), "\x81\x8D\x8F\x90\x9D");
  EXPECT_EQ(Utf8ToWin1252("\xC2\x80"), "\xBF");  // U+0080: no byte stands for it
  EXPECT_EQ(Utf8ToWin1252("\xE4\xB8\xAD"), "\xBF");
  EXPECT_EQ(Utf8ToWin1252("\x80x"), "\xBFx");  // lone continuation byte
  EXPECT_EQ(Utf8ToWin1252("\xFFx"), "\xBFx");
  EXPECT_EQ(Utf8ToWin1252("x\xC3"), "x\xBF");      // cut off at the end
  EXPECT_EQ(Utf8ToWin1252("x\xE2\x82"), "x\xBF");  // cut off three-byte sequence: its two bytes
  EXPECT_EQ(Utf8ToWin1252("\xF8\x88\x80\x80\x80z"), "\xBFz");
  EXPECT_EQ(Utf8ToWin1252("\xC3x"), "\xF8");  // the second byte is not checked
  // Every Windows-1252 byte survives a round trip through its UTF-8 form.
  const char* euroEtc =
      "\xE2\x82\xAC\xE2\x80\x9A\xC6\x92\xE2\x80\x9E\xE2\x80\xA6\xE2\x80\xA0\xE2\x80\xA1"
      "\xCB\x86\xE2\x80\xB0\xC5\xA0\xE2\x80\xB9\xC5\x92\xC5\xBD\xE2\x80\x98\xE2\x80\x9C"
      "\xE2\x80\x9D\xE2\x80\xA2\xE2\x80\x93\xE2\x80\x94\xCB\x9C\xE2\x84\xA2\xC5\xA1"
      "\xE2\x80\xBA\xC5\x93\xC5\xBE\xC5\xB8\xC2\xA0\xC3\xBF";
  EXPECT_EQ(Utf8ToWin1252(euroEtc),
            "\x80\x82\x83\x84\x85\x86\x87\x88\x89\x8A\x8B\x8C\x8E\x91\x93\x94\x95"
            "\x96\x97\x98\x99\x9A\x9B\x9C\x9E\x9F\xA0\xFF");
}

TEST(XmlReferences, InText) {
  EXPECT_EQ(Texts("<a>&#65;&#x42;&#X43;</a>"), Strings{"ABC"});
  EXPECT_EQ(Texts("<a>&#8217;</a>"), Strings{"\x92"});
  EXPECT_EQ(Texts("<a>&lt;&gt;&amp;&apos;&quot;</a>"), Strings{"<>&'\""});
  EXPECT_EQ(Texts("<a>&amp;lt;</a>"), Strings{"&lt;"});
  EXPECT_EQ(Texts("<a>&foo; x</a>"), Strings{"&foo; x"});  // undeclared: kept as written
  EXPECT_EQ(Texts("<a>AT&T</a>"), Strings{"ATT"});
  EXPECT_EQ(Texts("<a>&#zz; &#x; y</a>"), Strings{"y"});  // invalid numbers: spaces, trimmed away
  EXPECT_EQ(Texts("<a>1&#zz;2</a>"), Strings{"1 2"});
  EXPECT_EQ(Texts("<a>&LT;</a>"), Strings{"&LT;"});  // names are case-sensitive
  // The ";" is searched past the end of the text part.
  auto parts = Parts("<a>x&y</a><b>;z</b>");
  ASSERT_GE(parts.size(), 3u);
  EXPECT_EQ(parts[1].content, "xy</a><b>z");
  // Character references are appended after conversion, not converted.
  EXPECT_EQ(Texts("<?xml version='1.0'?><a>&#233;\xC3\xA9</a>"), Strings{"\xE9\xE9"});
}

TEST(XmlAttributes, Parsing) {
  auto tag = Parts("<p href='x' HREF=\"y\" b=c d>")[0];
  EXPECT_EQ(tag.attrs, (Strings{"HREF=y", "href=x"}));
  EXPECT_EQ(Parts("<br/>")[0].kind, PartEmptyTag);
  EXPECT_EQ(Parts("<br />")[0].kind, PartEmptyTag);
  EXPECT_EQ(Parts("<br/>")[0].name, "br");
  EXPECT_EQ(Parts("<a x  =  '1' y=\"it's\" z='say \"hi\"'>")[0].attrs,
            (Strings{"x=1", "y=it's", "z=say \"hi\""}));
  EXPECT_EQ(Parts("<a x junk = '1'>")[0].attrs, Strings{"x=1"});  // bytes before "=" are ignored
  EXPECT_EQ(Parts("<a v='a>b'>t")[1].content, "t");               // ">" inside a value
  // A later duplicate goes in front of the earlier one.
  TXmlParser p;
  p.LoadFromBuffer("<a k='1' k='2' j='0'>");
  p.Rewind();
  ASSERT_TRUE(p.NextPart());
  const TAttrList& attrs = p.PartAttributes();
  EXPECT_EQ(xmltest::AttrStrings(attrs), (Strings{"j=0", "k=2", "k=1"}));
  EXPECT_EQ(attrs.NameAt(-1), "");
  EXPECT_EQ(attrs.ValueAt(3), "");
  EXPECT_EQ(attrs.ValueOf("j"), "0");
  EXPECT_EQ(attrs.ValueOf("J"), "");
  EXPECT_EQ(attrs.At(1)->ValueOrigin, OriginNormal);
  EXPECT_EQ(attrs.At(1)->AttrType, AttrUnknown);
}

TEST(XmlAttributes, ValuesExpandedInStartTagsOnly) {
  auto parts =
      Parts("<a t='x&amp;y &lt;&#65;&#x42;&#xZZ;&#zz;' u='a\tb\nc  d' w='&nope; &amp'></a t='&amp;'>");
  ASSERT_EQ(parts.size(), 2u);
  ASSERT_EQ(parts[0].attrs.size(), 3u);
  EXPECT_EQ(parts[0].attrs[0], std::string("t=x&y <AB\0 ", 11));  // invalid hex: 0, decimal: space
  EXPECT_EQ(parts[0].attrs[1], "u=a b c  d");
  EXPECT_EQ(parts[0].attrs[2], "w=&nope; &amp");
  EXPECT_EQ(parts[1].attrs, Strings{"t=&amp;"});  // end tags keep raw values
  // "&amp;" gives "&" that is not expanded again.
  EXPECT_EQ(Parts("<a t='&amp;lt;'>")[0].attrs, Strings{"t=&lt;"});
}

TEST(XmlAttrList, AddSortedAndFind) {
  TAttrList list;
  for (const char* n : {"m", "c", "x", "a", "m", "b", "z", "c"}) list.Add(n, std::to_string(list.Count()));
  ASSERT_EQ(list.Count(), 8);
  std::string order;
  for (int i = 0; i < list.Count(); ++i) order += list.NameAt(i);
  EXPECT_EQ(order, "abccmmxz");
  EXPECT_EQ(list.ValueAt(2), "7");  // the later "c" is in front
  EXPECT_EQ(list.ValueAt(4), "4");
  for (const char* n : {"a", "b", "c", "m", "x", "z"}) {
    ASSERT_NE(list.Find(n), nullptr) << n;
    EXPECT_EQ(list.Find(n)->Name, n);
  }
  for (const char* n : {"", "0", "d", "n", "zz", "A"}) EXPECT_EQ(list.Find(n), nullptr) << n;
  TAttrList empty;
  EXPECT_EQ(empty.Find("a"), nullptr);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
}

TEST(XmlLoad, FilesAndFailures) {
  xmltest::TempDir dir;
  std::string file = dir.Write("feed.xml", "<rss><title>T</title></rss>");
  TXmlParser p;
  ASSERT_TRUE(p.LoadFile(file));
  EXPECT_EQ(p.SourceName(), file);
  EXPECT_EQ(p.BufferSize(), 28u);
  auto parts = xmltest::Walk(p);
  ASSERT_EQ(parts.size(), 5u);
  EXPECT_EQ(parts[2].content, "T");

  EXPECT_FALSE(p.LoadFile((dir.Path() / "missing.xml").string()));
  EXPECT_EQ(p.SourceName(), "");
  EXPECT_EQ(p.BufferSize(), 0u);
  EXPECT_STREQ(p.DocumentText(), "");
  p.Rewind();
  EXPECT_FALSE(p.NextPart());
  EXPECT_FALSE(p.LoadFile(dir.Path().string()));  // a folder is no document

  std::string empty = dir.Write("empty.xml", "");
  EXPECT_TRUE(p.LoadFile(empty));
  p.Rewind();
  EXPECT_FALSE(p.NextPart());
}

// A character reference gives exactly what the character written literally in a UTF-8 document
// gives, wherever it stands and whatever the document's encoding.
TEST(XmlReferences, AboveU00FFAsTheLiteralCharacter) {
  struct Case {
    uint32_t codePoint;
    const char* literal;  // its UTF-8 form
    std::string expected;
  };
  const Case cases[] = {
      {0x2019, "\xE2\x80\x99", "\x92"},      // right single quote
      {0x201C, "\xE2\x80\x9C", "\x93"},      // left double quote
      {0x2014, "\xE2\x80\x94", "\x97"},      // em dash
      {0x20AC, "\xE2\x82\xAC", "\x80"},      // euro sign
      {0x0152, "\xC5\x92", "\x8C"},          // OE
      {0x03A3, "\xCE\xA3", "\xBF"},          // Sigma: no byte for it, not the pound sign 0xA3
      {0x4E2D, "\xE4\xB8\xAD", "\xBF"},      // a CJK character
      {0x1F605, "\xF0\x9F\x98\x85", "\xBF"}, // an emoji, not the control byte 0x05
      {0x00E9, "\xC3\xA9", "\xE9"},          // below 0x100 as before
  };
  const std::string utf8 = "<?xml version='1.0' encoding='UTF-8'?>";
  const std::string latin1 = "<?xml version='1.0' encoding='ISO-8859-1'?>";
  for (const Case& c : cases) {
    const std::string dec = "&#" + std::to_string(c.codePoint) + ";";
    char hex[16];
    std::snprintf(hex, sizeof hex, "&#x%X;", c.codePoint);
    const std::string what = "U+" + std::string(hex + 3);
    EXPECT_EQ(Texts(utf8 + "<a>" + c.literal + "</a>"), Strings{c.expected}) << what;
    for (const std::string& ref : {dec, std::string(hex)}) {
      for (const std::string& prolog : {utf8, latin1, std::string()}) {
        EXPECT_EQ(Texts(prolog + "<a>x" + ref + "y</a>"), Strings{"x" + c.expected + "y"}) << what << prolog;
        auto attr = Parts(prolog + "<a t='x" + ref + "y'/>");
        ASSERT_FALSE(attr.empty());
        EXPECT_EQ(attr.back().attrs, Strings{"t=x" + c.expected + "y"}) << what << prolog;
        // Through a declared entity's value too.
        EXPECT_EQ(Texts(prolog + "<!DOCTYPE a [<!ENTITY e 'x" + ref + "y'>]><a>&e;</a>"),
                  Strings{"x" + c.expected + "y"})
            << what << prolog;
      }
    }
  }
}

// With KeepUtf8 every text, CDATA section and attribute value also comes in UTF-8 with the
// characters Windows-1252 lacks, from literals and references alike, while the single-byte text
// stays exactly as without it. Plain ASCII has no UTF-8 form of its own.
struct Shown {
  std::vector<std::string> texts;  // text and CDATA parts in UTF-8 (own form, else the content)
  std::vector<std::string> attrs;  // "name=value" in UTF-8
  std::vector<std::string> own;    // the parts and values that have a UTF-8 form of their own
  bool operator==(const Shown&) const = default;
};

Shown ShownParts(const std::string& doc, bool keep = true) {
  TXmlParser p;
  p.LoadFromBuffer(doc);
  p.SetKeepUtf8(keep);
  p.Rewind();
  Shown shown;
  while (p.NextPart()) {
    if (p.PartKind() == PartText || p.PartKind() == PartCData) {
      shown.texts.push_back(p.PartContentUtf8().empty() ? p.PartContent() : p.PartContentUtf8());
      if (!p.PartContentUtf8().empty()) shown.own.push_back(p.PartContentUtf8());
    }
    const TAttrList& attrs = p.PartAttributes();
    if (p.PartKind() == PartStartTag || p.PartKind() == PartEmptyTag)
      for (int i = 0; i < attrs.Count(); ++i) {
        shown.attrs.push_back(attrs.NameAt(i) + "=" + attrs.ValueUtf8At(i));
        if (!attrs.At(i)->ValueUtf8.empty()) shown.own.push_back(attrs.At(i)->ValueUtf8);
      }
  }
  return shown;
}

TEST(XmlKeepUtf8, EveryCharacterBesideTheSingleByteText) {
  const std::string utf8 = "<?xml version='1.0' encoding='UTF-8'?>";
  const std::string latin1 = "<?xml version='1.0' encoding='ISO-8859-1'?>";
  const std::string cp1252 = "<?xml version='1.0' encoding='windows-1252'?>";
  struct Case {
    const char* what;
    std::string document;
    Strings texts;
    Strings attrs;
  };
  const Case cases[] = {
      {"Cyrillic literal", utf8 + "<a>\u041F\u0440\u0438\u0432\u0435\u0442</a>", {"\u041F\u0440\u0438\u0432\u0435\u0442"}, {}},
      {"Greek references in a UTF-8 document", utf8 + "<a>&#931;&#x3b1;</a>", {"\u03A3\u03B1"}, {}},
      {"references in a Latin-1 document", latin1 + "<a>&#1055;&#x440; \xE9</a>", {"\u041F\u0440 \u00E9"}, {}},
      {"references without a declaration", "<a>&#8220;&#20013;&#25991;&#8221;</a>", {"\u201C\u4E2D\u6587\u201D"}, {}},
      {"an emoji, literal and as a reference", utf8 + "<a>\U0001F605 &#128517;</a>", {"\U0001F605 \U0001F605"}, {}},
      {"a declared single-byte document is mapped", cp1252 + "<a>\x80 \x93x\x94</a>", {"\u20AC \u201Cx\u201D"}, {}},
      {"an undeclared document that is not UTF-8", "<a>caf\xE9 \xC3\xA9</a>", {"caf\u00E9 \u00E9"}, {}},
      {"bytes a UTF-8 document should not hold", utf8 + "<a>a\xFF" "b</a>", {"a\uFFFD" "b"}, {}},
      {"CDATA", utf8 + "<a><![CDATA[<b>\u03A9</b>]]></a>", {"<b>\u03A9</b>"}, {}},
      {"a declared entity's value", utf8 + "<!DOCTYPE a [<!ENTITY c '\u041A\u043E\u0442 &#1060;'>]><a>(&c;)</a>",
       {"(\u041A\u043E\u0442 \u0424)"}, {}},
      {"undefined entities stay as written", utf8 + "<a>\u041A&nbsp;&amp;&lt;\u041F</a>", {"\u041A&nbsp;&<\u041F"}, {}},
      {"blanks are collapsed alike", utf8 + "<a>  \u041A \n\t \u041F  </a>", {"\u041A \u041F"}, {}},
      {"ASCII after the first character beyond it", utf8 + "<a>\u0424 &#65;&lt;b</a>", {"\u0424 A<b"}, {}},
      {"attribute values", utf8 + "<a href='/\u0441\u0442?q=&#1090;' t=\"&#8217;&amp;\" x='plain'/>",
       {}, {"href=/\u0441\u0442?q=\u0442", "t=\u2019&", "x=plain"}},
      {"an attribute value in a Latin-1 document", latin1 + "<a t='\xE9&#931;'/>", {}, {"t=\u00E9\u03A3"}},
      {"plain ASCII", utf8 + "<a t='v'>text &#65;</a>", {"text A"}, {"t=v"}},
  };
  for (const Case& c : cases) {
    const Shown shown = ShownParts(c.document);
    EXPECT_EQ(shown.texts, c.texts) << c.what;
    EXPECT_EQ(shown.attrs, c.attrs) << c.what;
    // A form of its own only where it differs from the single-byte text.
    for (const std::string& own : shown.own) EXPECT_FALSE(IsAscii(own)) << c.what;
    // The single-byte parts are exactly those of a scan without UTF-8.
    TXmlParser plain;
    plain.LoadFromBuffer(c.document);
    TXmlParser keeping;
    keeping.LoadFromBuffer(c.document);
    keeping.SetKeepUtf8(true);
    const auto a = xmltest::Walk(plain), b = xmltest::Walk(keeping);
    ASSERT_EQ(a.size(), b.size()) << c.what;
    for (size_t i = 0; i < a.size(); ++i) {
      EXPECT_EQ(a[i].content, b[i].content) << c.what << " part " << i;
      EXPECT_EQ(a[i].attrs, b[i].attrs) << c.what << " part " << i;
    }
    // Back in Windows-1252 the UTF-8 form is the single-byte text: where that has the character
    // it is the same, and where it lacks it both hold the one stand-in byte.
    Strings single, back;
    for (const auto& part : a)
      if (part.kind == PartText || part.kind == PartCData) single.push_back(part.content);
    for (const std::string& text : shown.texts) back.push_back(Utf8ToWin1252(text));
    EXPECT_EQ(back, single) << c.what;
    const Shown off = ShownParts(c.document, false);
    EXPECT_TRUE(off.own.empty()) << c.what << ": no UTF-8 without KeepUtf8";
  }
  // Only text wanted: attributes come without, and the other way round.
  TXmlParser p;
  p.LoadFromBuffer(utf8 + "<a t='\u0424'>\u0424</a>");
  p.SetKeepUtf8(false, true);
  p.Rewind();
  ASSERT_TRUE(p.NextPart() && p.NextPart());
  EXPECT_TRUE(p.PartAttributes().At(0)->ValueUtf8.empty());
  ASSERT_TRUE(p.NextPart());
  EXPECT_EQ(p.PartContentUtf8(), "\u0424");
  p.SetKeepUtf8(true, false);
  p.Rewind();
  ASSERT_TRUE(p.NextPart() && p.NextPart());
  EXPECT_EQ(p.PartAttributes().At(0)->ValueUtf8, "\u0424");
  ASSERT_TRUE(p.NextPart());
  EXPECT_EQ(p.PartContentUtf8(), "");
}

// Without an encoding declaration a document is UTF-8, XML's default; bytes that are not UTF-8
// are taken as Windows-1252. The charset of the download's response decides where the document
// says nothing; a declaration keeps the encoding it names.
TEST(XmlProlog, UndeclaredDocumentsAreUtf8ElseWindows1252) {
  struct Case {
    const char* what;
    std::string document;
    std::string responseCharset;
    std::string text;
    std::string attr;
  };
  const std::string body = "<a t='\xC3\xA8'>caf\xC3\xA9 \xE2\x80\x9Cq\xE2\x80\x9D</a>";
  const std::string win = "\xE8";
  const std::string converted = "caf\xE9 \x93q\x94";
  const std::string raw = "caf\xC3\xA9 \xE2\x80\x9Cq\xE2\x80\x9D";
  const Case cases[] = {
      {"no prolog", body, "", converted, "t=" + win},
      {"a prolog without encoding", "<?xml version='1.0'?>" + body, "", converted, "t=" + win},
      {"a byte-order mark", "\xEF\xBB\xBF" + body, "", converted, "t=" + win},
      {"a byte-order mark outweighs the response", "\xEF\xBB\xBF" + body, "ISO-8859-1", converted, "t=" + win},
      {"the response says utf-8", body, "utf-8", converted, "t=" + win},
      {"the response says latin-1", body, "iso-8859-1", raw, "t=\xC3\xA8"},
      {"the response says latin-1, the prolog nothing", "<?xml version='1.0'?>" + body, "ISO-8859-1", raw,
       "t=\xC3\xA8"},
      {"the declaration outweighs the response", "<?xml version='1.0' encoding='UTF-8'?>" + body,
       "iso-8859-1", converted, "t=" + win},
      {"a declared latin-1 stays bytes", "<?xml version='1.0' encoding='ISO-8859-1'?>" + body, "utf-8", raw,
       "t=\xC3\xA8"},
      {"latin-1 that never said so", "<a t='\xE8'>caf\xE9 na\xEFve \xAB" "5\xBB</a>", "",
       "caf\xE9 na\xEFve \xAB" "5\xBB", "t=\xE8"},
      {"a stray latin-1 byte among UTF-8", "<a t='x'>\xC3\xA9t\xE9 \xE2\x82\xAC</a>", "", "\xE9t\xE9 \x80",
       "t=x"},
      {"a declared UTF-8 keeps its reading of bad bytes", "<?xml version='1.0' encoding='utf-8'?><a t='x'>caf\xE9</a>",
       "", "caf\xBF", "t=x"},
  };
  for (const Case& c : cases) {
    TXmlParser p;
    p.LoadFromBuffer(c.document);
    p.SetDefaultEncoding(c.responseCharset);
    std::vector<Part> parts = xmltest::Walk(p);
    Strings texts, attrs;
    for (const Part& part : parts) {
      if (part.kind == PartText) texts.push_back(part.content);
      if (part.kind == PartStartTag) attrs = part.attrs;
    }
    EXPECT_EQ(texts, Strings{c.text}) << c.what;
    EXPECT_EQ(attrs, Strings{c.attr}) << c.what;
  }
}

// A document in another encoding is turned into UTF-8 and read as a UTF-8 document is: the
// single-byte text is what the same characters written literally in UTF-8 give, the UTF-8 form
// the characters themselves. A name iconv does not know, bytes it rejects, or a name the bytes
// belie leave the document read byte for byte as before, and the scanner says why.
TEST(XmlProlog, OtherEncodingsAreReadAsTheirCharacters) {
  struct Case {
    const char* what;
    std::string document;
    std::string responseCharset;
    std::string shown;   // the text (and the attribute t) in UTF-8
    std::string single;  // the single-byte text; empty: what the shown text gives in Windows-1252
    TranscodeResult::Status trouble;
    size_t troubleAt;
  };
  const auto doc = [](const std::string& encoding, const std::string& bytes) {
    return "<?xml version='1.0' encoding='" + encoding + "'?>\n<a t='" + bytes + "'>" + bytes + "</a>";
  };
  const auto utf16 = [](const std::string& ascii, const std::string& units, bool bigEndian) {
    // `ascii` as UTF-16 code units, then `units` (already two bytes each, little-endian).
    std::string out;
    for (char c : ascii) out += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
    for (size_t i = 0; i + 1 < units.size(); i += 2)
      out += bigEndian ? std::string{units[i + 1], units[i]} : units.substr(i, 2);
    return out;
  };
  const std::string privet = "\u041F\u0440\u0438\u0432\u0435\u0442";
  const std::string cp1251 = "\xCF\xF0\xE8\xE2\xE5\xF2", koi8 = "\xF0\xD2\xC9\xD7\xC5\xD4";
  const std::string privet16 = "\x1F\x04" "@\x04" "8\x04" "2\x04" "5\x04" "B\x04";
  const std::string body16 = "<a t='x'>";
  const auto ok = TranscodeResult::Ok;
  const Case cases[] = {
      {"windows-1251", doc("windows-1251", cp1251), "", privet, "", ok, 0},
      {"KOI8-R", doc("KOI8-R", koi8), "", privet, "", ok, 0},
      {"ISO-8859-5", doc("iso-8859-5", "\xBF\xE0\xD8\xD2\xD5\xE2"), "", privet, "", ok, 0},
      {"ISO-8859-7", doc("ISO-8859-7", "\xD3\xE1\xEB\xDC\xF4\xE1"), "",
       "\u03A3\u03B1\u03BB\u03AC\u03C4\u03B1", "", ok, 0},
      {"Shift_JIS keeps \\ and ~ the ASCII they are", doc("Shift_JIS", "\x93\xFA\x96{~\\"), "",
       "\u65E5\u672C~\\", "", ok, 0},
      {"GB2312", doc("gb2312", "\xD6\xD0\xCE\xC4"), "", "\u4E2D\u6587", "", ok, 0},
      {"EUC-KR", doc("EUC-KR", "\xC7\xD1\xB1\xB9"), "", "\uD55C\uAD6D", "", ok, 0},
      {"Big5", doc("big5", "\xA4\xA4\xA4\xE5"), "", "\u4E2D\u6587", "", ok, 0},
      {"ISO-8859-15's euro is Windows-1252's", doc("ISO-8859-15", "\xA4" "5"), "", "\u20AC" "5", "\x80" "5", ok,
       0},
      {"UTF-8 under another name", doc("utf8", "caf\xC3\xA9 \xD0\x9F"), "", "caf\u00E9 \u041F", "", ok, 0},
      {"no prolog, the response's charset",
       "<a t='" + cp1251 + "'>" + cp1251 + "</a>", "windows-1251", privet, "", ok, 0},
      {"a prolog without encoding, the response's charset",
       "<?xml version='1.0'?><a t='" + koi8 + "'>" + koi8 + "</a>", "koi8-r", privet, "", ok, 0},
      {"the declaration outweighs the response", doc("windows-1251", cp1251), "KOI8-R", privet, "", ok, 0},
      {"a declared entity's value",
       "<?xml version='1.0' encoding='windows-1251'?><!DOCTYPE a [<!ENTITY c '" + cp1251 +
           "'>]><a t='&c;'>&c;</a>",
       "", privet, "", ok, 0},
      {"UTF-16 with its byte-order mark",
       "\xFF\xFE" + utf16("<?xml version='1.0' encoding='UTF-16'?><a t='", privet16, false) +
           utf16("'>", privet16, false) + utf16("</a>", "", false),
       "", privet, "", ok, 0},
      {"big-endian UTF-16 without one",
       utf16("<?xml version='1.0' encoding='UTF-16BE'?><a t='", privet16, true) + utf16("'>", privet16, true) +
           utf16("</a>", "", true),
       "", privet, "", ok, 0},
      {"a character cut off at the end is dropped",
       "<?xml version='1.0' encoding='Shift_JIS'?><a t='\x93\xFA'>\x93\xFA\x93", "", "\u65E5", "", ok, 0},
      {"a name iconv does not know", doc("x-no-such-charset", cp1251), "", "", cp1251,
       TranscodeResult::UnknownCharset, 0},
      {"a byte windows-1251 does not define", doc("windows-1251", "\xCF\x98"), "", "", "\xCF\x98",
       TranscodeResult::InvalidBytes, 53},
      {"UTF-16 named in a prolog written in ASCII", doc("UTF-16", "caf\xE9"), "", "", "caf\xE9",
       TranscodeResult::InvalidBytes, 0},
  };
  for (const Case& c : cases) {
    TXmlParser p;
    p.LoadFromBuffer(c.document);
    p.SetDefaultEncoding(c.responseCharset);
    p.SetKeepUtf8(true);
    p.Rewind();
    Strings texts, shownTexts, attrs, shownAttrs;
    while (p.NextPart()) {
      if (p.PartKind() == PartText) {
        texts.push_back(p.PartContent());
        shownTexts.push_back(p.PartContentUtf8().empty() ? p.PartContent() : p.PartContentUtf8());
      }
      if (p.PartKind() == PartStartTag) {
        attrs.push_back(p.PartAttributes().ValueOf("t"));
        shownAttrs.push_back(p.PartAttributes().ValueUtf8At(0));
      }
    }
    const bool read = c.trouble == TranscodeResult::Ok;
    const std::string single = c.single.empty() ? Utf8ToWin1252(c.shown) : c.single;
    const std::string shown = read ? c.shown : Win1252ToUtf8(c.single);
    EXPECT_EQ(texts, Strings{single}) << c.what;
    EXPECT_EQ(shownTexts, Strings{shown}) << c.what;
    EXPECT_EQ(attrs, Strings{single}) << c.what;
    EXPECT_EQ(shownAttrs, Strings{shown}) << c.what;
    EXPECT_EQ(p.Transcoded(), read) << c.what;
    EXPECT_EQ(p.Trouble().status, c.trouble) << c.what;
    EXPECT_EQ(p.Trouble().offset, c.troubleAt) << c.what;
    // A second pass reads the same.
    const auto again = xmltest::Walk(p);
    Strings againTexts;
    for (const Part& part : again)
      if (part.kind == PartText) againTexts.push_back(part.content);
    EXPECT_EQ(againTexts, texts) << c.what;
  }
  // Single bytes behind what looks like a UTF-16 mark are read as they always were.
  for (const std::string mark : {"\xFF\xFE", "\xFE\xFF"}) {
    TXmlParser p;
    p.LoadFromBuffer(mark + doc("utf-8", "caf\xC3\xA9"));
    Strings texts;
    for (const Part& part : xmltest::Walk(p))
      if (part.kind == PartText) texts.push_back(part.content);
    EXPECT_EQ(texts, (Strings{mark, "caf\xE9"}));
    EXPECT_FALSE(p.Transcoded());
    EXPECT_EQ(p.Trouble().status, TranscodeResult::InvalidBytes);
  }
  // The declaration is kept as written; the text is in the encoding it names, turned into UTF-8.
  TXmlParser p;
  p.LoadFromBuffer(doc("Windows-1251", cp1251));
  xmltest::Walk(p);
  EXPECT_EQ(p.DeclaredEncoding(), "Windows-1251");
  EXPECT_EQ(p.TextEncoding(), "WINDOWS-1251");
  EXPECT_TRUE(p.Transcoded());
}

// An entity the document does not declare stays as written, for the HTML-to-text step, and the
// scanner names it once per pass.
TEST(XmlReferences, UndefinedEntitiesStayAsWritten) {
  struct Case {
    const char* what;
    std::string document;
    Strings texts;
    Strings attrs;
    Strings undefined;
  };
  const Case cases[] = {
      {"an HTML entity in text", "<a>our&nbsp;DB</a>", {"our&nbsp;DB"}, {}, {"nbsp"}},
      {"each name once, in the order met", "<a>&eacute;&nbsp;&eacute;</a>", {"&eacute;&nbsp;&eacute;"}, {},
       {"eacute", "nbsp"}},
      {"declared ones are expanded", "<!DOCTYPE a [<!ENTITY me 'x'>]><a>&me;&you;</a>", {"x&you;"}, {},
       {"you"}},
      {"in an attribute value", "<a t='a&hellip;b'>x</a>", {"x"}, {"t=a&hellip;b"}, {"hellip"}},
      {"an escaped one is no reference", "<a>&amp;nbsp;</a>", {"&nbsp;"}, {}, {}},
      {"an \"&\" before no name", "<a>x&y</a><b>;z</b>", {"xy</a><b>z"}, {}, {}},
      {"the five of XML itself", "<a>&lt;&gt;&amp;&apos;&quot;</a>", {"<>&'\""}, {}, {}},
  };
  for (const Case& c : cases) {
    TXmlParser p;
    p.LoadFromBuffer(c.document);
    Strings texts, attrs;
    for (const Part& part : xmltest::Walk(p)) {
      if (part.kind == PartText) texts.push_back(part.content);
      if (part.kind == PartStartTag && !part.attrs.empty()) attrs = part.attrs;
    }
    EXPECT_EQ(texts, c.texts) << c.what;
    EXPECT_EQ(attrs, c.attrs) << c.what;
    EXPECT_EQ(p.UndefinedEntities(), c.undefined) << c.what;
    p.Rewind();  // a new pass names them afresh
    EXPECT_TRUE(p.UndefinedEntities().empty()) << c.what;
  }
  // A hostile document cannot grow the list without end.
  std::string many = "<a>";
  for (int i = 0; i < 1000; ++i) many += "&e" + std::to_string(i) + ";";
  TXmlParser p;
  p.LoadFromBuffer(many + "</a>");
  xmltest::Walk(p);
  EXPECT_EQ(p.UndefinedEntities().size(), TXmlParser::kMaxUndefinedNames);
}

TEST(XmlLoad, ClearForgetsEverything) {
  TXmlParser p;
  p.LoadFromBuffer("<?xml version='1.0' standalone='yes'?><!DOCTYPE r [<!ENTITY e 'v'>]><r/>");
  p.SetNormalizeText(false);
  xmltest::Walk(p);
  EXPECT_EQ(p.RootName(), "r");
  EXPECT_EQ(p.GeneralEntities().Count(), 1);
  p.Clear();
  EXPECT_EQ(p.RootName(), "");
  EXPECT_EQ(p.XmlVersion(), "");
  EXPECT_FALSE(p.IsStandalone());
  EXPECT_TRUE(p.NormalizeText());
  EXPECT_EQ(p.GeneralEntities().Count(), 0);
  EXPECT_EQ(p.TextEncoding(), "UTF-8");  // kept: only a prolog or the entity stack changes it
}

}  // namespace
}  // namespace zibu
