// zibu-cli xml-parts: every part the XML scanner finds in a file, one JSON object a line.
#include <cstdio>
#include <string>

#include "cli/cli.h"
#include "cli/json.h"
#include "xml/xml_parser.h"

namespace zibu::cli {
namespace {

int RunXmlParts(const std::vector<std::string>& args) {
  bool countOnly = false;
  std::string file;
  for (const auto& a : args) {
    if (a == "--count")
      countOnly = true;
    else if (file.empty())
      file = a;
    else
      file = "\x01";  // more than one file
  }
  if (file.empty() || file == "\x01") {
    std::fprintf(stderr, "usage: zibu-cli xml-parts [--count] FILE\n");
    return 2;
  }
  TXmlParser parser;
  if (!parser.LoadFile(file)) {
    std::fprintf(stderr, "xml-parts: cannot read '%s'\n", file.c_str());
    return 1;
  }
  parser.Rewind();
  long long parts = 0;
  long long bytes = 0;
  std::string line;
  while (parser.NextPart()) {
    ++parts;
    bytes += static_cast<long long>(parser.PartName().size() + parser.PartContent().size());
    if (countOnly) continue;
    line = "{\"kind\": ";
    line += JsonBytes(parser.PartKindDisplayName());
    line += ", \"name\": ";
    line += JsonBytes(parser.PartName());
    line += ", \"content\": ";
    line += JsonBytes(parser.PartContent());
    line += ", \"attrs\": [";
    const TAttrList& attrs = parser.PartAttributes();
    for (int i = 0; i < attrs.Count(); ++i) {
      const TAttr* a = attrs.At(i);
      if (i) line += ", ";
      line += '[';
      line += JsonBytes(a->Name);
      line += ", ";
      line += JsonBytes(a->Value);
      line += ", ";
      line += std::to_string(a->ValueOrigin);
      line += ", ";
      line += std::to_string(a->AttrType);
      line += ']';
    }
    line += "]}\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
  }
  if (countOnly) std::printf("{\"parts\": %lld, \"bytes\": %lld}\n", parts, bytes);
  return 0;
}

Registrar reg({"xml-parts", "every part the XML scanner finds in a file, as JSON lines",
               "usage: zibu-cli xml-parts [--count] FILE\n"
               "\n"
               "Scans FILE with the XML scanner and prints one JSON object a line per part, in\n"
               "document order:\n"
               "  {\"kind\": display name, \"name\": PartName, \"content\": PartContent,\n"
               "   \"attrs\": [[name, value, origin, type], ...]}\n"
               "Attributes are in list (name) order; origin and type are numbers. Strings are byte\n"
               "strings: each byte is the JSON character of the same code point.\n"
               "\n"
               "--count  walk the parts the same way but print only\n"
               "         {\"parts\": number of parts, \"bytes\": total bytes of names and contents}\n",
               RunXmlParts});

}  // namespace
}  // namespace zibu::cli
