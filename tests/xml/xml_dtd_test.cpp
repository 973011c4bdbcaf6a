#include <gtest/gtest.h>

#include "xml/xml_parser.h"
#include "xml/xml_test_util.h"

namespace zibu {
namespace {

using xmltest::Parts;
using xmltest::Texts;
using Strings = std::vector<std::string>;

// Records every DTD item it is offered.
class TRecordingParser : public TXmlParser {
 public:
  struct Item {
    TDtdItemKind kind;
    std::string text;  // the item's bytes
    std::string name;  // element, entity or notation name, or PI target
  };
  std::vector<Item> items;

  void DtdItemFound(const TDtdItem& item) override {
    Item rec{item.ItemKind, std::string(item.Start, item.End + 1), ""};
    if (item.Element) rec.name = item.Element->Name;
    if (item.Entity) rec.name = item.Entity->Name;
    if (item.Notation) rec.name = item.Notation->Name;
    if (item.ItemKind == DtdPI) rec.name = item.Target + "|" + item.Content;
    items.push_back(rec);
  }
};

TEST(XmlDtd, AttributeDefaultsFixedAndImplied) {
  TXmlParser p;
  p.LoadFromBuffer(
      "<!DOCTYPE r [ <!ELEMENT a (#PCDATA)> <!ATTLIST a x CDATA \"1\" y (p|q) #IMPLIED z CDATA #FIXED \"k\"> "
      "]>"
      "<r><a/><a y=\" p \" z=\"other\"></a></r>");
  p.Rewind();
  ASSERT_TRUE(p.NextPart());
  EXPECT_EQ(p.PartKind(), PartDtd);
  EXPECT_EQ(p.RootName(), "r");
  ASSERT_TRUE(p.NextPart());
  ASSERT_TRUE(p.NextPart());
  ASSERT_EQ(p.PartKind(), PartEmptyTag);
  const TAttrList& a = p.PartAttributes();
  ASSERT_EQ(a.Count(), 2);
  EXPECT_EQ(a.At(0)->Name, "x");
  EXPECT_EQ(a.At(0)->Value, "1");
  EXPECT_EQ(a.At(0)->ValueOrigin, OriginDefault);
  EXPECT_EQ(a.At(0)->AttrType, AttrCData);
  EXPECT_EQ(a.At(1)->Name, "z");
  EXPECT_EQ(a.At(1)->Value, "k");
  EXPECT_EQ(a.At(1)->ValueOrigin, OriginFixed);

  ASSERT_TRUE(p.NextPart());
  ASSERT_EQ(p.PartKind(), PartStartTag);
  const TAttrList& b = p.PartAttributes();
  ASSERT_EQ(b.Count(), 3);
  EXPECT_EQ(b.ValueOf("x"), "1");
  EXPECT_EQ(b.Find("x")->ValueOrigin, OriginDefault);
  EXPECT_EQ(b.ValueOf("y"), "p");  // an enumeration is trimmed and collapsed
  EXPECT_EQ(b.Find("y")->ValueOrigin, OriginImplied);
  EXPECT_EQ(b.Find("y")->AttrType, AttrEnumeration);
  EXPECT_EQ(b.ValueOf("z"), "k");  // the fixed value replaces the tag's
  EXPECT_EQ(b.Find("z")->ValueOrigin, OriginFixed);

  // The end tag gets no defaults.
  ASSERT_TRUE(p.NextPart());
  EXPECT_EQ(p.PartKind(), PartEndTag);
  EXPECT_EQ(p.PartAttributes().Count(), 0);
}

TEST(XmlDtd, DeclaredTypesNormaliseValues) {
  auto parts = Parts(
      "<!DOCTYPE r [<!ATTLIST t id ID #REQUIRED refs IDREFS #IMPLIED c CDATA #IMPLIED o BOGUS #IMPLIED>]>"
      "<t id='  a  ' refs=' x \n y ' c=' s  t ' o=' u  v '/>");
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[1].attrs, (Strings{"c= s  t ", "id=a", "o= u  v ", "refs=x y"}));
  TXmlParser p;
  p.LoadFromBuffer("<!DOCTYPE r [<!ATTLIST t id ID #REQUIRED o BOGUS 'd'>]><t/>");
  xmltest::Walk(p);
  const TElemDef* t = p.ElementDefs().Find("t");
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->ElemType, ElemAny);
  EXPECT_EQ(t->Definition, "ANY");
  EXPECT_EQ(t->Find("id")->AttrType, AttrId);
  EXPECT_EQ(t->Find("id")->DefaultType, DefaultRequired);
  EXPECT_EQ(t->Find("o")->AttrType, AttrUnknown);
  EXPECT_EQ(t->Find("o")->TypeDef, "BOGUS");
  EXPECT_EQ(t->Find("o")->Value, "d");
  EXPECT_EQ(t->Find("o")->DefaultType, DefaultDefault);
}

TEST(XmlDtd, ElementDeclarations) {
  TXmlParser p;
  p.LoadFromBuffer(
      "<!DOCTYPE r [<!ELEMENT a EMPTY><!ELEMENT b ( c , d )><!ELEMENT e (#PCDATA|f)*><!ELEMENT g ANY>"
      "<!ELEMENT h whatever><!ATTLIST u k CDATA 'v'><!ELEMENT u (x)>]><u/>");
  auto parts = xmltest::Walk(p);
  const TElemList& els = p.ElementDefs();
  ASSERT_EQ(els.Count(), 6);
  EXPECT_EQ(els.Find("a")->ElemType, ElemEmpty);
  EXPECT_EQ(els.Find("b")->ElemType, ElemChildsOnly);
  EXPECT_EQ(els.Find("b")->Definition, "(c,d)");
  EXPECT_EQ(els.Find("e")->ElemType, ElemMixed);
  EXPECT_EQ(els.Find("g")->ElemType, ElemAny);
  EXPECT_EQ(els.Find("h")->ElemType, ElemAny);
  // The later ELEMENT declaration of u dropped the attribute declared before it.
  EXPECT_EQ(els.Find("u")->ElemType, ElemChildsOnly);
  EXPECT_EQ(els.Find("u")->Count(), 0);
  EXPECT_EQ(parts.back().attrs.size(), 0u);
  std::string order;
  for (const auto& e : els) order += e->Name;
  EXPECT_EQ(order, "abeghu");
}

TEST(XmlDtd, GeneralEntitiesInTextAndAttributes) {
  EXPECT_EQ(Texts("<!DOCTYPE r [<!ENTITY me \"Hello\"><!ENTITY % p \"x\">]><r>&me; &p; %p;</r>"),
            Strings{"Hello &p; %p;"});  // a parameter entity is no general one: kept as written
  EXPECT_EQ(Texts("<!DOCTYPE r [<!ENTITY e 'one'><!ENTITY e 'two'>]><r>&e;</r>"), Strings{"two"});
  // Nested entities, character references in the declaration, markup inside a value.
  auto parts = Parts(
      "<!DOCTYPE r [<!ENTITY in 'inner&#33;'><!ENTITY out 'A &in; B'><!ENTITY m '<b>bold</b>'>]>"
      "<r t='[&out;]' u='&m;'>&out; &m;</r>");
  ASSERT_EQ(parts.size(), 7u);
  EXPECT_EQ(parts[1].attrs, (Strings{"t=[A inner! B]", "u=<b>bold</b>"}));
  EXPECT_EQ(parts[2].content, "A inner! B");
  EXPECT_EQ(parts[3].kind, PartStartTag);
  EXPECT_EQ(parts[3].name, "b");
  EXPECT_EQ(parts[4].content, "bold");
  EXPECT_EQ(parts[5].kind, PartEndTag);
  EXPECT_EQ(parts[6].name, "r");
  // An entity at the very end of another returns through both.
  EXPECT_EQ(Texts("<!DOCTYPE r [<!ENTITY i '<i/>'><!ENTITY o 'x&i;'>]><r>&o;y</r>"), (Strings{"x", "y"}));
  // UTF-8 in an entity's value is converted when the value is scanned.
  EXPECT_EQ(Texts("<?xml version='1.0'?><!DOCTYPE r [<!ENTITY e 'caf\xC3\xA9'>]><r>&e;</r>"),
            Strings{"caf\xE9"});
}

TEST(XmlDtd, ParameterEntities) {
  TXmlParser p;
  p.LoadFromBuffer(
      "<!DOCTYPE r [<!ENTITY % types '(p|q)'><!ENTITY % decl '<!ELEMENT d EMPTY>'>"
      "<!ENTITY % t 'x %types; y'>%decl;<!ELEMENT c %types;><!ATTLIST c k %types; 'q'>"
      "<!ENTITY g 'val %t; %nope;'>]><c/>");
  auto parts = xmltest::Walk(p);
  ASSERT_NE(p.ElementDefs().Find("d"), nullptr);
  EXPECT_EQ(p.ElementDefs().Find("d")->ElemType, ElemEmpty);
  const TElemDef* c = p.ElementDefs().Find("c");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->Definition, "(p|q)");
  EXPECT_EQ(c->ElemType, ElemChildsOnly);
  ASSERT_NE(c->Find("k"), nullptr);
  EXPECT_EQ(c->Find("k")->AttrType, AttrEnumeration);
  EXPECT_EQ(c->Find("k")->TypeDef, "p|q");
  EXPECT_EQ(c->Find("k")->Value, "q");
  EXPECT_EQ(p.GeneralEntities().Find("g")->Value, "val x (p|q) y %nope;");
  EXPECT_EQ(p.ParameterEntities().Count(), 3);
  EXPECT_EQ(parts.back().attrs, Strings{"k=q"});
}

TEST(XmlDtd, EntityAndNotationDeclarations) {
  TXmlParser p;
  p.LoadFromBuffer(
      "<!DOCTYPE r [<!ENTITY pic SYSTEM 'p.gif' NDATA gif><!ENTITY pub PUBLIC '-//X//Y' \"y.ent\">"
      "<!NOTATION gif SYSTEM 'viewer'><!NOTATION gif PUBLIC 'pid' 'other'><!NOTATION n PUBLIC 'only'>"
      "<!ENTITY c '&#65;&#x42;&#xZ;'>]><r/>");
  xmltest::Walk(p);
  const TEntityDef* pic = p.GeneralEntities().Find("pic");
  ASSERT_NE(pic, nullptr);
  EXPECT_EQ(pic->SystemId, "p.gif");
  EXPECT_EQ(pic->NotationName, "gif");
  EXPECT_EQ(pic->Value, "");
  const TEntityDef* pub = p.GeneralEntities().Find("pub");
  EXPECT_EQ(pub->PublicId, "-//X//Y");
  EXPECT_EQ(pub->SystemId, "y.ent");
  EXPECT_EQ(p.GeneralEntities().Find("c")->Value, std::string("AB\0", 3));
  const auto& nots = p.NotationDefs();
  ASSERT_EQ(nots.Count(), 3);  // a second notation of the same name is kept beside the first
  EXPECT_EQ(nots.At(0)->Name, "gif");
  EXPECT_EQ(nots.At(0)->Value, "other");
  EXPECT_EQ(nots.At(0)->PublicId, "pid");
  EXPECT_EQ(nots.At(1)->Value, "viewer");
  EXPECT_EQ(nots.At(2)->PublicId, "only");
  EXPECT_EQ(nots.At(2)->Value, "");

  TExternalID sys("SYSTEM \"a.dtd\" rest");
  EXPECT_EQ(sys.SystemId, "a.dtd");
  EXPECT_EQ(*sys.End, '"');
  EXPECT_EQ(*sys.Next(), ' ');
  TExternalID open("PUBLIC 'p' > 'later'");
  EXPECT_EQ(open.PublicId, "p");
  EXPECT_EQ(open.SystemId, "");
  EXPECT_EQ(*open.End, '>');
  TExternalID cut("SYSTEM 'never closed");
  EXPECT_EQ(cut.SystemId, "never closed");
  EXPECT_EQ(*cut.End, '\0');
}

TEST(XmlDtd, ItemsOfferedToDescendants) {
  TRecordingParser p;
  p.LoadFromBuffer(
      "<!DOCTYPE r [<!ELEMENT a ANY><!ATTLIST a x CDATA #IMPLIED><!ENTITY e 'v'><!NOTATION n SYSTEM 's'>"
      "<?tgt data?><!-- note --><!-BOGUS -- x]stray>");
  auto parts = xmltest::Walk(p);
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_EQ(parts[0].kind, PartDtd);
  EXPECT_EQ(parts[0].name, "");
  ASSERT_EQ(p.items.size(), 8u);
  EXPECT_EQ(p.items[0].kind, DtdElementDecl);
  EXPECT_EQ(p.items[0].text, "<!ELEMENT a ANY>");
  EXPECT_EQ(p.items[1].kind, DtdAttListDecl);
  EXPECT_EQ(p.items[1].name, "a");
  EXPECT_EQ(p.items[2].kind, DtdEntityDecl);
  EXPECT_EQ(p.items[2].name, "e");
  EXPECT_EQ(p.items[3].kind, DtdNotationDecl);
  EXPECT_EQ(p.items[4].kind, DtdPI);
  EXPECT_EQ(p.items[4].name, "tgt| data");
  EXPECT_EQ(p.items[5].kind, DtdComment);
  EXPECT_EQ(p.items[5].text, "<!-- note -->");
  EXPECT_EQ(p.items[6].kind, DtdError);
  EXPECT_EQ(p.items[6].text, "<");
  EXPECT_EQ(p.items[7].kind, DtdError);
  EXPECT_EQ(p.items[7].text, "stray");

  // Unknown markup is reported byte by byte; its ">" ends the subset.
  TRecordingParser q;
  q.LoadFromBuffer("<!DOCTYPE r [<!BOGUS><!ENTITY e 'v'>]>");
  auto rest = xmltest::Walk(q);
  ASSERT_EQ(rest.size(), 3u);
  EXPECT_EQ(rest[1].kind, PartStartTag);
  EXPECT_EQ(rest[1].name, "!ENTITY");
  EXPECT_EQ(rest[2].content, "]>");

  // A second pass does not read the declarations again.
  p.items.clear();
  auto again = xmltest::Walk(p);
  EXPECT_EQ(again.size(), 1u);
  EXPECT_TRUE(p.items.empty());
}

TEST(XmlDtd, UnterminatedDeclarations) {
  for (const char* doc : {"<!DOCTYPE r [<!ELEMENT a (b", "<!DOCTYPE r [<!ATTLIST a x CDATA 'v",
                          "<!DOCTYPE r [<!ENTITY e 'v", "<!DOCTYPE r [<!NOTATION n SYSTEM", "<!DOCTYPE",
                          "<!DOCTYPE r SYSTEM", "<!DOCTYPE r [%e", "<!DOCTYPE r [<!ENTITY % e '%e;'>%e;"}) {
    TXmlParser p;
    p.LoadFromBuffer(doc);
    auto parts = xmltest::Walk(p);
    ASSERT_EQ(parts.size(), 1u) << doc;
    EXPECT_EQ(parts[0].kind, PartDtd) << doc;
  }
  TXmlParser p;
  p.LoadFromBuffer("<!DOCTYPE r [<!ATTLIST a x CDATA 'v");
  xmltest::Walk(p);
  EXPECT_EQ(p.ElementDefs().Find("a")->Find("x")->Value, "v");
}

// Declarations read step by step as written: after NOTATION the attribute-list machine itself
// looks for the list's "(" (white space skipped, "%" expanded, the end of an entity's text
// popped), and NDATA names a notation only after an external identifier. Each document is
// walked from a file beside n.dtd; a part is "kind name {content} [attribute=value/origin/type]".
TEST(XmlDtd, NotationListAndNdataFollowTheDeclarationSteps) {
  struct Case {
    const char* name;
    const char* dtd;  // n.dtd beside the document
    const char* doc;
    Strings parts;
  };
  const Case cases[] = {
      {"NOTATION from a parameter entity, list after it",
       "<!ENTITY % nt \"NOTATION\"><!ATTLIST img type %nt; (gif) \"gif\">",
       "<!DOCTYPE r SYSTEM \"n.dtd\"><r><img/></r>",
       {"4  {} []", "5 r {} []", "6 img {} [type=gif/3/9]", "7 r {} []"}},
      {"the list from a parameter entity",
       "<!ENTITY % nl \"(gif)\"><!ATTLIST img type NOTATION %nl; \"gif\">",
       "<!DOCTYPE r SYSTEM \"n.dtd\"><r><img/></r>",
       {"4  {} []", "5 r {} []", "6 img {} [type=gif/3/9]", "7 r {} []"}},
      {"NOTATION and a space from an entity, the document goes on",
       "",
       "<!DOCTYPE r [<!ENTITY % p \"NOTATION \"><!ATTLIST a b %p;(n) \"v\">]><a/><p>lost</p>",
       {"4  {} []", "6 a {} [b=v/3/9]", "5 p {} []", "8 p {lost} []", "7 p {lost} []"}},
      {"NOTATION written out",
       "",
       "<!DOCTYPE r [<!ATTLIST a b NOTATION ( x | y ) 'y'>]><a/>",
       {"4  {} []", "6 a {} [b=y/3/9]"}},
      {"NDATA after a literal is skipped, the next literal is the value",
       "",
       "<!DOCTYPE r [<!ENTITY a \"A\" NDATA \"B\">]><r>[&a;]</r>",
       {"4  {} []", "5 r {} []", "8 r {[B]} []", "7 r {[B]} []"}},
      {"NDATA before any identifier is skipped",
       "",
       "<!DOCTYPE r [<!ENTITY a NDATA \"A\">]><r>[&a;]</r>",
       {"4  {} []", "5 r {} []", "8 r {[A]} []", "7 r {[A]} []"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    xmltest::TempDir dir;
    dir.Write("n.dtd", c.dtd);
    TXmlParser p;
    ASSERT_TRUE(p.LoadFile(dir.Write("doc.xml", c.doc)));
    Strings parts;
    p.Rewind();
    while (p.NextPart()) {
      std::string part = std::to_string(p.PartKind()) + " " + p.PartName() + " {" + p.PartContent() + "} [";
      const TAttrList& a = p.PartAttributes();
      for (int i = 0; i < a.Count(); ++i)
        part += (i ? " " : "") + a.NameAt(i) + "=" + a.ValueAt(i) + "/" +
                std::to_string(a.At(i)->ValueOrigin) + "/" + std::to_string(a.At(i)->AttrType);
      parts.push_back(part + "]");
    }
    EXPECT_EQ(parts, c.parts);
  }
  // The notation list itself, and NDATA where it belongs.
  TXmlParser p;
  p.LoadFromBuffer(
      "<!DOCTYPE r [<!ENTITY % nl '(gif | png)'><!ATTLIST i t NOTATION %nl; 'gif'>"
      "<!ENTITY pic SYSTEM 'p.gif' 'ignored' NDATA gif>]><r/>");
  xmltest::Walk(p);
  EXPECT_EQ(p.ElementDefs().Find("i")->Find("t")->Notations, "gif|png");
  EXPECT_EQ(p.GeneralEntities().Find("pic")->NotationName, "gif");
}

TEST(XmlDtd, ExternalDtdInTheSameFolder) {
  xmltest::TempDir dir;
  dir.Write("sub/defs.dtd",
            "<?xml version='1.0' encoding='UTF-8'?>\n<!ENTITY ext 'from outside'>\n"
            "<!ENTITY both 'external'>\n<!ATTLIST item kind CDATA 'news'>");
  dir.Write("sub/part.ent", "<b>external entity</b>");
  std::string doc = dir.Write("feed.xml",
                              "<!DOCTYPE rss SYSTEM \"sub\\defs.dtd\" [<!ENTITY both 'internal'><!ENTITY "
                              "part SYSTEM './sub/part.ent'>]>"
                              "<rss><item t='&part;'>&ext; &both;</item>&part;</rss>");
  TXmlParser p;
  ASSERT_TRUE(p.LoadFile(doc));
  auto parts = xmltest::Walk(p);
  ASSERT_EQ(parts.size(), 9u);
  EXPECT_EQ(parts[2].attrs, (Strings{"kind=news", "t=<b>external entity</b>"}));
  EXPECT_EQ(parts[3].content, "from outside internal");
  EXPECT_EQ(parts[5].name, "b");
  EXPECT_EQ(parts[6].content, "external entity");
  EXPECT_EQ(parts[8].name, "rss");
}

}  // namespace
}  // namespace zibu
