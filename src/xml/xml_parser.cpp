#include "xml/xml_parser.h"

#include <cstdio>
#include <cstring>

namespace zibu {

const char* const kPartKindNames[10] = {"",    "XML Prolog",      "Comment",   "PI",      "DTD Declaration",
                                        "Start Tag", "Empty Tag", "End Tag", "Text", "CDATA"};

const char* PartKindName(TPartKind kind) { return kind <= PartCData ? kPartKindNames[kind] : ""; }

std::string TAttrList::NameAt(int index) const { return index < 0 || index >= Count() ? "" : At(index)->Name; }
std::string TAttrList::ValueAt(int index) const { return index < 0 || index >= Count() ? "" : At(index)->Value; }
std::string TAttrList::ValueOf(std::string_view name) const {
  const TAttr* a = Find(name);
  return a ? a->Value : std::string();
}
TAttr* TAttrList::Add(std::string_view name, std::string_view value) {
  return AddSorted(std::make_unique<TAttr>(std::string(name), std::string(value)));
}

TExternalID::TExternalID(const char* p) : End(p) {}

struct TEntityStack::Node {
  std::unique_ptr<TXmlParser> parser;
  std::string encoding;
  const char* returnPos;
};

TEntityStack::TEntityStack(TXmlParser& owner) : owner_(owner) {}
TEntityStack::~TEntityStack() = default;
void TEntityStack::Push(const char* returnPos) { nodes_.push_back(Node{nullptr, owner_.textEncoding_, returnPos}); }
void TEntityStack::PushExternal(std::unique_ptr<TXmlParser> parser, const char* returnPos) {
  nodes_.push_back(Node{std::move(parser), owner_.textEncoding_, returnPos});
}
const char* TEntityStack::Pop() {
  if (nodes_.empty()) return nullptr;
  Node n = std::move(nodes_.back());
  nodes_.pop_back();
  if (!n.encoding.empty()) owner_.SetTextEncoding(n.encoding);
  return n.returnPos;
}
void TEntityStack::Clear() { nodes_.clear(); }

TXmlParser::TXmlParser() : entityStack_(*this) {}
TXmlParser::~TXmlParser() { Clear(); }

void TXmlParser::Clear() {
  buffer_.reset();
  bufferSize_ = 0;
  sourceName_.clear();
  xmlVersion_.clear();
  declaredEncoding_.clear();
  isStandalone_ = false;
  rootName_.clear();
  dtdEnd_ = nullptr;
  normalizeText_ = true;
  elementDefs_.Clear();
  generalEntities_.Clear();
  parameterEntities_.Clear();
  notationDefs_.Clear();
  partAttributes_.Clear();
  entityStack_.Clear();
  retired_.clear();
}

bool TXmlParser::LoadFile(const std::string& fileName) {
  Clear();
  FILE* f = std::fopen(fileName.c_str(), "rb");
  if (!f) return false;
  bool ok = std::fseek(f, 0, SEEK_END) == 0;
  long size = ok ? std::ftell(f) : -1;
  ok = ok && size >= 0 && std::fseek(f, 0, SEEK_SET) == 0;
  if (ok) {
    buffer_.reset(new char[static_cast<size_t>(size) + 1]);
    ok = std::fread(buffer_.get(), 1, static_cast<size_t>(size), f) == static_cast<size_t>(size);
    buffer_[static_cast<size_t>(size)] = '\0';
  }
  std::fclose(f);
  if (!ok) {
    Clear();
    return false;
  }
  bufferSize_ = static_cast<size_t>(size) + 1;
  sourceName_ = fileName;
  return true;
}

void TXmlParser::LoadFromBuffer(std::string_view text, const std::string& sourceName) {
  Clear();
  buffer_.reset(new char[text.size() + 1]);
  std::memcpy(buffer_.get(), text.data(), text.size());
  buffer_[text.size()] = '\0';
  bufferSize_ = text.size() + 1;
  sourceName_ = sourceName;
}

const char* TXmlParser::DocumentText() const { return buffer_ ? buffer_.get() : ""; }

void TXmlParser::Rewind() {
  partKind_ = PartNone;
  partName_.clear();
  partContent_.clear();
  partStart_ = partEnd_ = nullptr;
  partAttributes_.Clear();
  entityStack_.Clear();
  finished_ = false;
}

void TXmlParser::SetTextEncoding(std::string encoding) {
  textEncoding_ = std::move(encoding);
  utf8_ = textEncoding_ == "UTF-8";
}

bool TXmlParser::NextPart() { return false; }

std::unique_ptr<TXmlParser> TXmlParser::OpenExternalEntity(const std::string&, const std::string&,
                                                           const std::string&) {
  return std::make_unique<TXmlParser>();
}

void TXmlParser::ConvertText(std::string_view text, std::string& out) { out.append(text); }

void TXmlParser::DtdItemFound(const TDtdItem&) {}

std::string Utf8ToWin1252(std::string_view text) { return std::string(text); }

}  // namespace zibu
