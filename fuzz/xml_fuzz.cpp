// libFuzzer target: every part of arbitrary input, twice, with the declaration items read back.
// External entities resolve in a scratch folder holding a few entity and DTD files.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "xml/xml_parser.h"

namespace {

std::string ScratchFolder() {
  static std::string folder = [] {
    char templ[] = "/tmp/zibu-xml-fuzz-XXXXXX";
    std::string dir = mkdtemp(templ) ? templ : "/tmp";
    auto write = [&](const char* name, const char* text) {
      if (FILE* f = std::fopen((dir + "/" + name).c_str(), "wb")) {
        std::fputs(text, f);
        std::fclose(f);
      }
    };
    write("a.ent", "<x y='&amp;'>caf\xC3\xA9 &e; &#65;</x>");
    write("b.dtd",
          "<?xml encoding='UTF-8'?><!ENTITY e 'from dtd'><!ENTITY % p '(a|b)'>"
          "<!ATTLIST x y %p; 'a'><!ELEMENT x ANY>");
    write("c.ent", "<?xml version='1.0' encoding='ISO-8859-1'?>&a;<![CDATA[c]]>");
    write("n.dtd", "<!ENTITY % nt \"NOTATION\"><!ATTLIST img type %nt; (gif) \"gif\">");
    return dir;
  }();
  return folder;
}

class TFuzzParser : public zibu::TXmlParser {
 public:
  size_t sum = 0;
  void DtdItemFound(const zibu::TDtdItem& item) override {
    // The item must start in readable text (its end may lie in another text after an entity).
    if (item.Start) sum += static_cast<unsigned char>(*item.Start);
    if (item.Element) sum += item.Element->Name.size() + static_cast<size_t>(item.Element->Count());
    if (item.Entity) sum += item.Entity->Value.size();
    if (item.Notation) sum += item.Notation->Value.size();
    if (item.Attributes) sum += static_cast<size_t>(item.Attributes->Count());
    sum += item.Target.size() + item.Content.size();
  }
};

size_t Walk(TFuzzParser& p) {
  size_t sum = 0;
  p.Rewind();
  while (p.NextPart()) {
    sum += p.PartName().size() + p.PartContent().size() + p.PartKind();
    sum += static_cast<unsigned char>(*p.PartStart());  // a part may end in another text
    const zibu::TAttrList& a = p.PartAttributes();
    for (int i = 0; i < a.Count(); ++i)
      sum += a.NameAt(i).size() + a.ValueAt(i).size() + a.At(i)->ValueOrigin;
  }
  return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  TFuzzParser p;
  p.LoadFromBuffer(text, ScratchFolder() + "/doc.xml");
  // The expansion limit is the same code at any size; a smaller one keeps the runs fast.
  p.SetExpansionBudget(256u << 10);
  p.SetNormalizeText(size == 0 || (data[0] & 1) == 0);
  volatile size_t sink = Walk(p);
  sink = sink + Walk(p) + p.sum;  // a second pass skips the declarations
  (void)sink;
  return 0;
}
