// Hostile documents: entity bombs, self-referring entities, external entities that reach out
// of the document's folder, and inputs that would make a careless scanner loop or go quadratic.
#include <sys/resource.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>

#include <gtest/gtest.h>

#include "xml/xml_parser.h"
#include "xml/xml_test_util.h"

namespace zibu {
namespace {

using Strings = std::vector<std::string>;

// CPU time of this thread: the machine may be busy with other work, so wall time says little.
double CpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Generous enough for a sanitizer build; an unbounded expansion would take many minutes.
constexpr double kQuick = 30.0;

struct Scan {
  size_t parts = 0;
  size_t bytes = 0;  // of text contents, tag names and attribute values
  double seconds = 0;
  std::vector<std::string> texts;
  std::vector<std::string> attrValues;
};

Scan ScanDoc(TXmlParser& p) {
  Scan s;
  double t0 = CpuSeconds();
  p.Rewind();
  while (p.NextPart()) {
    ++s.parts;
    const TPartKind k = p.PartKind();
    if (k == PartText || k == PartCData) s.bytes += p.PartContent().size();
    if (k == PartText && s.texts.size() < 10) s.texts.push_back(p.PartContent());
    if (k != PartStartTag && k != PartEmptyTag) continue;
    s.bytes += p.PartName().size();
    for (int i = 0; i < p.PartAttributes().Count(); ++i) {
      s.bytes += p.PartAttributes().ValueAt(i).size();
      if (s.attrValues.size() < 10) s.attrValues.push_back(p.PartAttributes().ValueAt(i));
    }
  }
  s.seconds = CpuSeconds() - t0;
  return s;
}

Scan ScanDoc(const std::string& doc) {
  TXmlParser p;
  p.LoadFromBuffer(doc);
  return ScanDoc(p);
}

const std::string kLaughs =
    "<!DOCTYPE lolz [<!ENTITY lol \"lol\">"
    "<!ENTITY lol1 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">"
    "<!ENTITY lol2 \"&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;\">"
    "<!ENTITY lol3 \"&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;\">"
    "<!ENTITY lol4 \"&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;\">"
    "<!ENTITY lol5 \"&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;\">"
    "<!ENTITY lol6 \"&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;\">"
    "<!ENTITY lol7 \"&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;\">"
    "<!ENTITY lol8 \"&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;\">"
    "<!ENTITY lol9 \"&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;\">]>";

constexpr size_t kBudget = TXmlParser::kMinExpansionBudget;

TEST(XmlHostile, BillionLaughsIsBounded) {
  // In text: 3 GB if expanded fully.
  Scan text = ScanDoc(kLaughs + "<lolz>&lol9;</lolz><after/>");
  EXPECT_LT(text.seconds, kQuick);
  EXPECT_LE(text.bytes, 2 * kBudget);
  EXPECT_GT(text.bytes, kBudget / 4);  // expansion does happen up to the limit
  // In attribute values, twice.
  Scan attr = ScanDoc(kLaughs + "<lolz a='&lol9;' b='&lol9;'/>");
  EXPECT_LT(attr.seconds, kQuick);
  EXPECT_LE(attr.bytes, 3 * kBudget);
  ASSERT_EQ(attr.attrValues.size(), 2u);
  EXPECT_NE(attr.attrValues[1].find("&lol"), std::string::npos);  // past the limit: kept as written

  // The scanner tells when the budget cut an expansion short, for each pass anew.
  TXmlParser p;
  p.LoadFromBuffer(kLaughs + "<lolz>&lol9;</lolz>");
  EXPECT_FALSE(p.ExpansionBudgetReached());
  ScanDoc(p);
  EXPECT_TRUE(p.ExpansionBudgetReached());
  p.Rewind();
  EXPECT_FALSE(p.ExpansionBudgetReached());
  p.LoadFromBuffer(kLaughs + "<lolz>&lol2;</lolz>");  // 1000 bytes
  ScanDoc(p);
  EXPECT_FALSE(p.ExpansionBudgetReached());

  // Small expansions are untouched by the limit.
  Scan small =
      ScanDoc("<!DOCTYPE r [<!ENTITY a 'ab'><!ENTITY b '&a;&a;&a;'><!ENTITY c '&b;&b;'>]><r t='&c;'>&c;</r>");
  EXPECT_EQ(small.texts, Strings{"abababababab"});
  EXPECT_EQ(small.attrValues, Strings{"abababababab"});
}

TEST(XmlHostile, ParameterEntityBombIsBounded) {
  std::string doc = "<!DOCTYPE r [<!ENTITY % p0 'xxxxxxxxxxxxxxxx'>";
  for (int i = 1; i <= 12; ++i) {
    std::string prev = "%p" + std::to_string(i - 1) + ";";
    std::string ten;
    for (int k = 0; k < 10; ++k) ten += prev;
    doc += "<!ENTITY % p" + std::to_string(i) + " '" + ten + "'>";
  }
  doc += "<!ELEMENT big (%p12;)><!ATTLIST big a CDATA '%p12;'><!ENTITY g '%p12;'>%p12;]><big/>";
  TXmlParser p;
  p.LoadFromBuffer(doc);
  Scan s = ScanDoc(p);
  EXPECT_LT(s.seconds, kQuick);
  EXPECT_EQ(s.parts, 2u);
  const TElemDef* big = p.ElementDefs().Find("big");
  ASSERT_NE(big, nullptr);
  EXPECT_LE(big->Definition.size() + big->At(0)->Value.size() + p.GeneralEntities().At(0)->Value.size(),
            3 * kBudget);
}

TEST(XmlHostile, SelfReferringEntitiesEnd) {
  // Directly and through each other, in text, attribute values and declarations.
  const char* docs[] = {
      "<!DOCTYPE r [<!ENTITY a '&a;'>]><r t='&a;'>&a;</r>",
      "<!DOCTYPE r [<!ENTITY a 'x&b;'><!ENTITY b 'y&a;'>]><r t='&a;'>&a;&b;</r>",
      "<!DOCTYPE r [<!ENTITY a '<i>&a;</i>'>]><r>&a;</r>",
      "<!DOCTYPE r [<!ENTITY % p '%p;'>%p;<!ENTITY % q '%r;'><!ENTITY % r '%q;'>%q;"
      "<!ELEMENT e (%p;)><!ATTLIST e x CDATA '%q;'><!ENTITY g '%r;'>]><e/>",
      "<!DOCTYPE r [<!ENTITY % d '<!ATTLIST a x CDATA \"%d;\"> %d;'>%d;]><a/>",
  };
  for (const char* doc : docs) {
    Scan s = ScanDoc(doc);
    EXPECT_LT(s.seconds, kQuick) << doc;
    EXPECT_LE(s.bytes, 3 * kBudget) << doc;
    EXPECT_GE(s.parts, 2u) << doc;
  }
  // Past the depth limit a reference counts as undeclared: its bare name in text.
  Scan s = ScanDoc("<!DOCTYPE r [<!ENTITY a 'x&a;'>]><r>&a;</r>");
  ASSERT_EQ(s.texts.size(), 1u);
  EXPECT_EQ(s.texts[0], std::string(TXmlParser::kMaxEntityDepth, 'x') + "a");
}

TEST(XmlHostile, ExpansionLimitScalesWithLargeDocuments) {
  // A large document may expand to ten times its size.
  std::string filler(2u << 20, ' ');  // 2 MiB of white space
  std::string doc = "<!DOCTYPE r [<!ENTITY e '" + std::string(1000, 'e') + "'>]><r>" + filler;
  for (int i = 0; i < 12000; ++i) doc += "&e;";  // 12 MB of expansion, under 10 x 2 MiB
  doc += "</r>";
  Scan s = ScanDoc(doc);
  EXPECT_EQ(s.bytes, 12000u * 1000 + 1);
}

TEST(XmlHostile, ExternalEntitiesStayInTheDocumentFolder) {
  xmltest::TempDir dir;
  std::string secret = dir.Write("secret.txt", "TOPSECRET");
  dir.Write("feed/ok.ent", "fine");
  dir.Write("feed/sub/deep.ent", "deeper");
  std::filesystem::create_symlink(secret, dir.Path() / "feed" / "link.ent");
  std::string decls =
      "<!ENTITY ok SYSTEM 'ok.ent'><!ENTITY deep SYSTEM 'sub\\deep.ent'>"
      "<!ENTITY up SYSTEM '../secret.txt'><!ENTITY up2 SYSTEM 'sub/../../secret.txt'>"
      "<!ENTITY bup SYSTEM '..\\secret.txt'><!ENTITY abs SYSTEM '" +
      secret +
      "'>"
      "<!ENTITY url SYSTEM 'file://" +
      secret +
      "'><!ENTITY drive SYSTEM 'C:\\secret.txt'>"
      "<!ENTITY link SYSTEM 'link.ent'><!ENTITY dir SYSTEM 'sub'><!ENTITY none SYSTEM 'nothing.ent'>";
  std::string body =
      "<r t='&ok;|&up;|&abs;'>[&ok;|&deep;|&up;|&up2;|&bup;|&abs;|&url;|&drive;|&link;|&dir;|&none;]</r>";
  std::string doc = dir.Write("feed/doc.xml", "<!DOCTYPE r [" + decls + "]>" + body);
  TXmlParser p;
  ASSERT_TRUE(p.LoadFile(doc));
  Scan s = ScanDoc(p);
  EXPECT_EQ(s.texts, Strings{"[fine|deeper|||||||||]"});
  EXPECT_EQ(s.attrValues, Strings{"fine||"});

  // An external DTD outside the folder is not read either.
  std::string outsideDtd = dir.Write("evil.dtd", "<!ENTITY leak 'LEAKED'>");
  (void)outsideDtd;
  std::string doc2 = dir.Write("feed/doc2.xml", "<!DOCTYPE r SYSTEM '../evil.dtd'><r>&leak;</r>");
  ASSERT_TRUE(p.LoadFile(doc2));
  EXPECT_EQ(ScanDoc(p).texts, Strings{"&leak;"});

  // With external files off (a downloaded document) nothing is read, not even beside it; the
  // setting outlives a new load.
  TXmlParser download;
  download.SetReadExternalFiles(false);
  for (const std::string& file : {doc, doc2}) {
    ASSERT_TRUE(download.LoadFile(file));
    Scan off = ScanDoc(download);
    EXPECT_EQ(off.texts, file == doc ? Strings{"[||||||||||]"} : Strings{"&leak;"});
    if (file == doc) {
      EXPECT_EQ(off.attrValues, Strings{"||"});
    }
    EXPECT_FALSE(download.ExpansionBudgetReached());
  }
  dir.Write("feed/ok.dtd", "<!ENTITY near 'NEAR'>");
  ASSERT_TRUE(download.LoadFile(dir.Write("feed/doc3.xml", "<!DOCTYPE r SYSTEM 'ok.dtd'><r>&near;</r>")));
  EXPECT_EQ(ScanDoc(download).texts, Strings{"&near;"});
  download.SetReadExternalFiles(true);
  ASSERT_TRUE(download.LoadFile((dir.Path() / "feed" / "doc3.xml").string()));
  EXPECT_EQ(ScanDoc(download).texts, Strings{"NEAR"});

  // A document read from memory has no folder: nothing is opened.
  TXmlParser mem;
  mem.LoadFromBuffer(
      "<!DOCTYPE r [<!ENTITY e SYSTEM '" + secret + "'><!ENTITY f SYSTEM 'secret.txt'>]><r>&e;&f;.</r>",
      "<memory>");
  EXPECT_EQ(ScanDoc(mem).texts, Strings{"."});
}

TEST(XmlHostile, ADocumentIncludingItselfEnds) {
  xmltest::TempDir dir;
  std::string doc = dir.Write("self.xml", "<!DOCTYPE r [<!ENTITY me SYSTEM 'self.xml'>]><r>x&me;</r>");
  TXmlParser p;
  ASSERT_TRUE(p.LoadFile(doc));
  Scan s = ScanDoc(p);
  EXPECT_LT(s.seconds, kQuick);
  EXPECT_GT(s.parts, 3u);
}

TEST(XmlHostile, RepeatedDoctypesDoNotLoop) {
  Scan s = ScanDoc("<!DOCTYPE a [<!ENTITY x 'one'>]><!DOCTYPE b [<!ENTITY y 'two'>]><r>&x;&y;</r>");
  EXPECT_EQ(s.parts, 5u);
  EXPECT_EQ(s.texts, Strings{"onetwo"});
  // A declaration inside an entity redeclaring the entity being read, twice over.
  TXmlParser p;
  p.LoadFromBuffer("<!DOCTYPE a [<!ENTITY e \"<!DOCTYPE b [<!ENTITY e 'new'>]>tail\">]><r>&e;|&e;</r>");
  // The inner declaration empties the entity stack, so the first pass ends after "tail"; the
  // second pass skips the outer declaration and sees only the new value.
  EXPECT_EQ(ScanDoc(p).texts, Strings{"tail"});
  EXPECT_EQ(ScanDoc(p).texts, Strings{"new|new"});
}

TEST(XmlHostile, NoQuadraticSearches) {
  // Many "&" with no ";" after them, and many "%" in a declaration.
  std::string amps = "<r>" + std::string(2u << 20, '&') + "</r>";
  Scan s = ScanDoc(amps);
  EXPECT_LT(s.seconds, kQuick);
  EXPECT_EQ(s.parts, 2u);  // the text is empty: every "&" dropped
  std::string pcts = "<!DOCTYPE r [" + std::string(2u << 20, '%') + "]><r/>";
  EXPECT_LT(ScanDoc(pcts).seconds, kQuick);
  std::string attrs = "<r a='" + std::string(1u << 20, '&') + "'/>";
  EXPECT_LT(ScanDoc(attrs).seconds, kQuick);
}

TEST(XmlHostile, TruncatedInputsEverywhere) {
  // Every prefix of a declaration-rich document scans without reading past its end.
  const std::string doc =
      "<?xml version='1.0' encoding='UTF-8'?><!DOCTYPE r SYSTEM 'x.dtd' [<!ENTITY % p '(a|b)'>"
      "<!ELEMENT r ANY><!ATTLIST r k %p; 'a' f CDATA #FIXED 'z'><!ENTITY e 'caf\xC3\xA9 &#x41;'>"
      "<!NOTATION n PUBLIC 'p' 's'><?pi d?><!-- c -->]><r k=' b '>&e;<![CDATA[\xE2\x82\xAC]]></r>";
  for (size_t n = 0; n <= doc.size(); ++n) {
    TXmlParser p;
    std::string prefix = doc.substr(0, n);
    p.LoadFromBuffer(prefix);
    Scan s = ScanDoc(p);
    EXPECT_LE(s.parts, 12u) << n;
  }
}

}  // namespace
}  // namespace zibu
