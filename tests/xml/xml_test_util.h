// Small helpers for the XML scanner tests.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "xml/xml_parser.h"

namespace zibu::xmltest {

struct Part {
  TPartKind kind;
  std::string name;
  std::string content;
  std::vector<std::string> attrs;  // "name=value" in list order
};

inline std::vector<std::string> AttrStrings(const TAttrList& list) {
  std::vector<std::string> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(list.NameAt(i) + "=" + list.ValueAt(i));
  return out;
}

inline std::vector<Part> Walk(TXmlParser& p, size_t limit = 100000) {
  std::vector<Part> parts;
  p.Rewind();
  while (parts.size() < limit && p.NextPart())
    parts.push_back({p.PartKind(), p.PartName(), p.PartContent(), AttrStrings(p.PartAttributes())});
  return parts;
}

inline std::vector<Part> Parts(const std::string& doc, bool normalize = true) {
  TXmlParser p;
  p.LoadFromBuffer(doc);
  p.SetNormalizeText(normalize);
  return Walk(p);
}

// Contents of the text parts, in order.
inline std::vector<std::string> Texts(const std::string& doc) {
  std::vector<std::string> out;
  for (const Part& part : Parts(doc))
    if (part.kind == PartText) out.push_back(part.content);
  return out;
}

// A fresh folder under the system's temporary folder, removed at the end of the test.
class TempDir {
 public:
  TempDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "zibu-xml-XXXXXX").string();
    path_ = mkdtemp(templ.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& Path() const { return path_; }
  std::string Write(const std::string& relative, const std::string& text) const {
    std::filesystem::path f = path_ / relative;
    std::filesystem::create_directories(f.parent_path());
    std::ofstream(f, std::ios::binary) << text;
    return f.string();
  }

 private:
  std::filesystem::path path_;
};

}  // namespace zibu::xmltest
