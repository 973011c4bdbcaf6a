#include "xml/xml_parser.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/numbers.h"
#include "xml/xml_chars.h"

namespace zibu {

using namespace xml_detail;

const char* const kPartKindNames[10] = {"",          "XML Prolog", "Comment", "PI",   "DTD Declaration",
                                        "Start Tag", "Empty Tag",  "End Tag", "Text", "CDATA"};

const char* PartKindName(TPartKind kind) {
  return kind <= PartCData ? kPartKindNames[kind] : "";
}

// ---- Attribute lists ----

std::string TAttrList::NameAt(int index) const {
  return index < 0 || index >= Count() ? "" : At(index)->Name;
}

std::string TAttrList::ValueAt(int index) const {
  return index < 0 || index >= Count() ? "" : At(index)->Value;
}

std::string TAttrList::ValueOf(std::string_view name) const {
  const TAttr* a = Find(name);
  return a ? a->Value : std::string();
}

TAttr* TAttrList::Add(std::string_view name, std::string_view value) {
  return AddSorted(std::make_unique<TAttr>(std::string(name), std::string(value)));
}

// ---- Windows-1252 ----

namespace {

// Code point of every Windows-1252 byte; the five bytes the code page leaves undefined stand
// for the code points of the same number.
constexpr uint16_t kCp1252[256] = {
    0x00,   0x01,   0x02,   0x03,   0x04,   0x05,   0x06,   0x07,   0x08,   0x09,   0x0A,   0x0B,   0x0C,
    0x0D,   0x0E,   0x0F,   0x10,   0x11,   0x12,   0x13,   0x14,   0x15,   0x16,   0x17,   0x18,   0x19,
    0x1A,   0x1B,   0x1C,   0x1D,   0x1E,   0x1F,   0x20,   0x21,   0x22,   0x23,   0x24,   0x25,   0x26,
    0x27,   0x28,   0x29,   0x2A,   0x2B,   0x2C,   0x2D,   0x2E,   0x2F,   0x30,   0x31,   0x32,   0x33,
    0x34,   0x35,   0x36,   0x37,   0x38,   0x39,   0x3A,   0x3B,   0x3C,   0x3D,   0x3E,   0x3F,   0x40,
    0x41,   0x42,   0x43,   0x44,   0x45,   0x46,   0x47,   0x48,   0x49,   0x4A,   0x4B,   0x4C,   0x4D,
    0x4E,   0x4F,   0x50,   0x51,   0x52,   0x53,   0x54,   0x55,   0x56,   0x57,   0x58,   0x59,   0x5A,
    0x5B,   0x5C,   0x5D,   0x5E,   0x5F,   0x60,   0x61,   0x62,   0x63,   0x64,   0x65,   0x66,   0x67,
    0x68,   0x69,   0x6A,   0x6B,   0x6C,   0x6D,   0x6E,   0x6F,   0x70,   0x71,   0x72,   0x73,   0x74,
    0x75,   0x76,   0x77,   0x78,   0x79,   0x7A,   0x7B,   0x7C,   0x7D,   0x7E,   0x7F,   0x20AC, 0x0081,
    0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D,
    0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A,
    0x0153, 0x009D, 0x017E, 0x0178, 0xA0,   0xA1,   0xA2,   0xA3,   0xA4,   0xA5,   0xA6,   0xA7,   0xA8,
    0xA9,   0xAA,   0xAB,   0xAC,   0xAD,   0xAE,   0xAF,   0xB0,   0xB1,   0xB2,   0xB3,   0xB4,   0xB5,
    0xB6,   0xB7,   0xB8,   0xB9,   0xBA,   0xBB,   0xBC,   0xBD,   0xBE,   0xBF,   0xC0,   0xC1,   0xC2,
    0xC3,   0xC4,   0xC5,   0xC6,   0xC7,   0xC8,   0xC9,   0xCA,   0xCB,   0xCC,   0xCD,   0xCE,   0xCF,
    0xD0,   0xD1,   0xD2,   0xD3,   0xD4,   0xD5,   0xD6,   0xD7,   0xD8,   0xD9,   0xDA,   0xDB,   0xDC,
    0xDD,   0xDE,   0xDF,   0xE0,   0xE1,   0xE2,   0xE3,   0xE4,   0xE5,   0xE6,   0xE7,   0xE8,   0xE9,
    0xEA,   0xEB,   0xEC,   0xED,   0xEE,   0xEF,   0xF0,   0xF1,   0xF2,   0xF3,   0xF4,   0xF5,   0xF6,
    0xF7,   0xF8,   0xF9,   0xFA,   0xFB,   0xFC,   0xFD,   0xFE,   0xFF};

// The reverse for code points below 0x100, derived from the table above; 0xBF where no byte
// stands for the code point.
struct LowReverse {
  uint8_t byte[256];
  constexpr LowReverse() : byte() {
    for (int cp = 0; cp < 256; ++cp) byte[cp] = 0xBF;
    for (int b = 255; b >= 0; --b)
      if (kCp1252[b] < 256) byte[kCp1252[b]] = static_cast<uint8_t>(b);
  }
};
constexpr LowReverse kLowReverse{};

inline char CodePointToByte(uint32_t cp) {
  if (cp < 256) return static_cast<char>(kLowReverse.byte[cp]);
  for (int b = 0x80; b < 0xA0; ++b)
    if (kCp1252[b] == cp) return static_cast<char>(b);
  return static_cast<char>(0xBF);
}

void AppendUtf8AsWin1252(std::string_view text, std::string& out) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    // Runs of plain ASCII go in one piece.
    size_t j = i;
    while (j + 8 <= n) {
      uint64_t w;
      std::memcpy(&w, s + j, 8);
      if (w & 0x8080808080808080ull) break;
      j += 8;
    }
    while (j < n && s[j] < 0x80) ++j;
    if (j > i) out.append(text.data() + i, j - i);
    i = j;
    if (i >= n) break;
    unsigned char b = s[i];
    uint32_t cp;
    size_t used;
    if ((b & 0xE0) == 0xC0 && i + 1 < n) {
      cp = ((b & 0x1Fu) << 6) | (s[i + 1] & 0x3Fu);
      used = 2;
    } else if ((b & 0xF0) == 0xE0 && i + 2 < n) {
      cp = (((b & 0x0Fu) << 12) | ((s[i + 1] & 0x3Fu) << 6) | (s[i + 2] & 0x3Fu)) & 0xFFFFu;
      used = 3;
    } else {
      cp = 0xBF;
      used = 0;
      for (unsigned char m = 0x80; m && (b & m); m >>= 1) ++used;
      if (used == 0 || used == 8) used = 1;  // 0xFF counts as one byte
      used = std::min(used, n - i);
    }
    out += CodePointToByte(cp);
    i += used;
  }
}

}  // namespace

std::string Utf8ToWin1252(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendUtf8AsWin1252(text, out);
  return out;
}

std::string Win1252ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (unsigned char b : text) {
    const uint32_t cp = kCp1252[b];
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

namespace xml_detail {

int CharRefValue(std::string_view digits, bool hex, int bad) {
  std::optional<int32_t> v = hex ? TryStrToInt("$" + std::string(digits)) : TryStrToInt(digits);
  return v ? *v : bad;
}

std::string ReplaceCharRefs(std::string_view text, int badHex) {
  size_t amp = text.find("&#");
  if (amp == std::string_view::npos) return std::string(text);
  std::string out;
  size_t pos = 0;
  while (amp != std::string_view::npos) {
    size_t semi = text.find(';', amp + 2);
    if (semi == std::string_view::npos) break;
    int value;
    if (text[amp + 2] == 'x' || text[amp + 2] == 'X')
      value = CharRefValue(text.substr(amp + 3, semi - amp - 3), true, badHex);
    else
      value = CharRefValue(text.substr(amp + 2, semi - amp - 2), false, 32);
    out.append(text.substr(pos, amp - pos));
    out += static_cast<char>(value & 0xFF);
    pos = semi + 1;
    amp = text.find("&#", pos);
  }
  out.append(text.substr(pos));
  return out;
}

}  // namespace xml_detail

// ---- Entity stack ----

struct TEntityStack::Node {
  std::unique_ptr<TXmlParser> parser;
  std::string encoding;
  const char* returnPos;
};

TEntityStack::TEntityStack(TXmlParser& owner) : owner_(owner) {}

TEntityStack::~TEntityStack() = default;

int TEntityStack::Count() const {
  return static_cast<int>(nodes_.size());
}

void TEntityStack::Push(const char* returnPos) {
  nodes_.push_back(Node{nullptr, owner_.textEncoding_, returnPos});
}

void TEntityStack::PushExternal(std::unique_ptr<TXmlParser> parser, const char* returnPos) {
  nodes_.push_back(Node{std::move(parser), owner_.textEncoding_, returnPos});
}

const char* TEntityStack::Pop() {
  if (nodes_.empty()) return nullptr;
  Node node = std::move(nodes_.back());
  nodes_.pop_back();
  // The part being scanned may still point into the entity's text: keep it for this pass.
  if (node.parser) owner_.RetireParser(std::move(node.parser));
  if (!node.encoding.empty()) owner_.SetTextEncoding(node.encoding);
  owner_.semiFrom_ = owner_.semiAt_ = nullptr;
  return node.returnPos;
}

void TEntityStack::Clear() {
  for (Node& n : nodes_)
    if (n.parser) owner_.RetireParser(std::move(n.parser));
  nodes_.clear();
  owner_.semiFrom_ = owner_.semiAt_ = nullptr;
}

// ---- Parser: loading ----

TXmlParser::TXmlParser() : entityStack_(*this) {}

TXmlParser::~TXmlParser() {
  entityStack_.Clear();
  retiredParsers_.clear();
}

void TXmlParser::RetireParser(std::unique_ptr<TXmlParser> parser) {
  retiredParsers_.push_back(std::move(parser));
}

void TXmlParser::ResetScanState() {
  partKind_ = PartNone;
  partName_.clear();
  partContent_.clear();
  partStart_ = next_ = nullptr;
  partAttributes_.Clear();
  entityStack_.Clear();
  retiredParsers_.clear();
  expansionBytes_ = 0;
  semiFrom_ = semiAt_ = nullptr;
}

void TXmlParser::Clear() {
  ResetScanState();
  buffer_.reset();
  bufferSize_ = 0;
  sourceName_.clear();
  xmlVersion_.clear();
  declaredEncoding_.clear();
  isStandalone_ = false;
  rootName_.clear();
  dtdEnds_.clear();
  normalizeText_ = true;
  elementDefs_.Clear();
  generalEntities_.Clear();
  parameterEntities_.Clear();
  notationDefs_.Clear();
  retiredDefs_.clear();
  expansionBudget_ = kMinExpansionBudget;
}

bool TXmlParser::LoadFile(const std::string& fileName) {
  Clear();
  // Only regular files: a folder, a pipe or a device is not a document.
  int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  bool ok = false;
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    size_t size = static_cast<size_t>(st.st_size);
    char* buf = new (std::nothrow) char[size + 1];
    if (buf) {
      buffer_.reset(buf);
      size_t got = 0;
      while (got < size) {
        ssize_t r = ::read(fd, buf + got, size - got);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        got += static_cast<size_t>(r);
      }
      ok = got == size;
      buf[got] = '\0';
      bufferSize_ = size + 1;
    }
  }
  ::close(fd);
  if (!ok) {
    Clear();
    return false;
  }
  sourceName_ = fileName;
  expansionBudget_ = std::max(kMinExpansionBudget, kExpansionFactor * bufferSize_);
  return true;
}

void TXmlParser::LoadFromBuffer(std::string_view text, const std::string& sourceName) {
  Clear();
  buffer_.reset(new char[text.size() + 1]);
  std::memcpy(buffer_.get(), text.data(), text.size());
  buffer_[text.size()] = '\0';
  bufferSize_ = text.size() + 1;
  sourceName_ = sourceName;
  expansionBudget_ = std::max(kMinExpansionBudget, kExpansionFactor * bufferSize_);
}

const char* TXmlParser::DocumentText() const {
  return buffer_ ? buffer_.get() : "";
}

void TXmlParser::Rewind() {
  ResetScanState();
}

void TXmlParser::SetTextEncoding(std::string encoding) {
  textEncoding_ = std::move(encoding);
  utf8_ = textEncoding_ == "UTF-8";
}

// ---- Parser: parts ----

bool TXmlParser::NextPart() {
  for (;;) {
    const char* p = partStart_ == nullptr ? DocumentText() : next_;
    // At the end of an included entity's text, go back to where it was referred to. An entity
    // that ends right at the end of another one returns through both.
    while (p && *p == '\0' && entityStack_.Count() > 0) p = entityStack_.Pop();
    if (p == nullptr || *p == '\0') {
      partStart_ = DocumentText() + (bufferSize_ ? bufferSize_ - 1 : 0);
      next_ = partStart_;
      entityStack_.Clear();
      return false;
    }
    partStart_ = p;
    if (p[0] != '<') {
      next_ = ScanText(p);
      if (!normalizeText_ || !partContent_.empty()) return true;
      continue;  // white space only: no part
    }
    if (p[1] == '?') {
      if (StartsWith(p, "<?xml") && IsWhite(p[5]))
        next_ = ScanProlog(p);
      else
        next_ = ScanPI(p);
    } else if (p[1] == '!' && p[2] == '-' && p[3] == '-') {
      next_ = ScanComment(p);
    } else if (StartsWith(p, "<!DOCTYPE")) {
      next_ = ScanDtd(p);
    } else if (StartsWith(p, "<![CDATA[")) {
      next_ = ScanCData(p);
    } else {
      next_ = ScanTag(p);
    }
    return true;
  }
}

const char* TXmlParser::ParseAttributes(const char* p) {
  partAttributes_.Clear();
  enum { kName, kEquals, kValue } state = kName;
  const char* nameStart = nullptr;
  const char* nameEnd = nullptr;
  for (;;) {
    char c = *p;
    if (c == '\0' || c == '>') return p;
    if (IsWhite(c)) {
      ++p;
      continue;
    }
    switch (state) {
      case kName:
        if (!IsNameStart(c)) return p;
        nameStart = p;
        nameEnd = p = NameEnd(p, kAttrNameEnd);
        state = kEquals;
        break;
      case kEquals:
        if (c == '=') state = kValue;
        ++p;
        break;
      case kValue:
        if (c == '"' || c == '\'') {
          const char* v = p + 1;
          const char* e = v;
          while (*e && *e != c) ++e;
          partAttributes_.Add(std::string_view(nameStart, static_cast<size_t>(nameEnd - nameStart)),
                              std::string_view(v, static_cast<size_t>(e - v)));
          p = *e ? e + 1 : e;
          state = kName;
        } else {
          ++p;
        }
        break;
    }
  }
}

const char* TXmlParser::ScanProlog(const char* p) {
  partKind_ = PartXmlProlog;
  const char* stop = ParseAttributes(p + 5);
  const TAttr* enc = partAttributes_.Find("encoding");
  if (entityStack_.Count() == 0) {
    xmlVersion_ = partAttributes_.ValueOf("version");
    declaredEncoding_ = enc ? enc->Value : std::string();
    isStandalone_ = partAttributes_.ValueOf("standalone") == "yes";
  }
  std::string upper = enc ? enc->Value : std::string();
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  SetTextEncoding(upper.empty() ? "UTF-8" : upper);
  partName_.clear();
  partContent_.clear();
  const char* q = std::strstr(stop, "?>");
  return q ? q + 2 : TextEnd(stop);
}

const char* TXmlParser::ScanComment(const char* p) {
  partKind_ = PartComment;
  const char* q = std::strstr(p + 4, "-->");
  return q ? q + 3 : TextEnd(p + 4);
}

const char* TXmlParser::ScanPI(const char* p) {
  partKind_ = PartPI;
  const char* q = std::strstr(p + 2, "?>");
  const char* end = q ? q : TextEnd(p + 2);
  const char* target = p + 2;
  const char* targetEnd = NameEnd(target, kPiTargetEnd);
  partName_.assign(target, targetEnd);
  if (end > targetEnd)
    partContent_.assign(targetEnd, end);
  else
    partContent_.clear();
  ParseAttributes(targetEnd);
  return q ? q + 2 : end;
}

const char* TXmlParser::ScanCData(const char* p) {
  partKind_ = PartCData;
  const char* s = p + 9;
  const char* q = std::strstr(s, "]]>");
  const char* e = q ? q : TextEnd(s);
  partContent_.clear();
  ConvertText(std::string_view(s, static_cast<size_t>(e - s)), partContent_);
  return q ? q + 3 : e;
}

const char* TXmlParser::ScanTag(const char* p) {
  TPartKind kind = PartStartTag;
  const char* name = p + 1;
  if (*name == '/') {
    kind = PartEndTag;
    ++name;
  }
  const char* nameEnd = NameEnd(name, kTagNameEnd);
  partName_.assign(name, nameEnd);
  const char* stop = ParseAttributes(nameEnd);
  if (*stop == '/') kind = PartEmptyTag;
  partKind_ = kind;
  const char* gt = stop;
  while (*gt && *gt != '>') ++gt;
  if (kind != PartEndTag) {
    if (elementDefs_.Count() > 0) ApplyDeclaredAttributes();
    for (const auto& a : partAttributes_) FinishAttribute(*a);
  }
  return *gt ? gt + 1 : gt;
}

void TXmlParser::ApplyDeclaredAttributes() {
  const TElemDef* elem = elementDefs_.Find(partName_);
  if (!elem) return;
  for (const auto& def : *elem) {
    TAttr* a = partAttributes_.Find(def->Name);
    if (!a && !def->Value.empty()) {
      a = partAttributes_.Add(def->Name, def->Value);
      a->ValueOrigin = OriginDefault;
    }
    if (!a) continue;
    if (def->DefaultType == DefaultImplied) {
      a->ValueOrigin = OriginImplied;
    } else if (def->DefaultType == DefaultFixed) {
      a->ValueOrigin = OriginFixed;
      a->Value = def->Value;
    }
    a->AttrType = def->AttrType;
  }
}

void TXmlParser::FinishAttribute(TAttr& attr) {
  std::string v = attr.Value;
  if (v.find('&') != std::string::npos) v = ReplaceCharRefs(ExpandAttrEntities(v, 0), 0);
  if (attr.AttrType != AttrUnknown && attr.AttrType != AttrCData) {
    std::string t;
    bool space = false;
    for (char c : v) {
      if (IsWhite(c)) {
        space = true;
      } else {
        if (space && !t.empty()) t += ' ';
        space = false;
        t += c;
      }
    }
    v.swap(t);
  } else {
    for (char& c : v)
      if (IsWhite(c)) c = ' ';
  }
  attr.Value.clear();
  ConvertText(v, attr.Value);
}

const char* TXmlParser::ScanText(const char* p) {
  partKind_ = PartText;
  partContent_.clear();
  const char* run = p;
  for (;;) {
    while (!Is(*p, kTextStop)) ++p;
    if (*p == '&') {
      if (p > run) ConvertText(std::string_view(run, static_cast<size_t>(p - run)), partContent_);
      p = run = TextReference(p);
      continue;
    }
    if (*p == '\0' && entityStack_.Count() > 0) {
      if (p > run) ConvertText(std::string_view(run, static_cast<size_t>(p - run)), partContent_);
      p = run = entityStack_.Pop();
      continue;
    }
    break;
  }
  if (p > run) ConvertText(std::string_view(run, static_cast<size_t>(p - run)), partContent_);
  if (normalizeText_) {
    // Trim, and turn every run of white space into one space.
    std::string& s = partContent_;
    size_t w = 0;
    bool space = false;
    for (size_t r = 0; r < s.size(); ++r) {
      char c = s[r];
      if (IsWhite(c)) {
        space = true;
      } else {
        if (space && w > 0) s[w++] = ' ';
        space = false;
        s[w++] = c;
      }
    }
    s.resize(w);
  }
  return p;
}

// ---- References ----

const char* TXmlParser::FindSemicolon(const char* from) {
  // A text with many "&" and no ";" would otherwise be searched to its end from every "&".
  if (semiFrom_ && from >= semiFrom_ && from <= semiAt_) return *semiAt_ == ';' ? semiAt_ : nullptr;
  const char* q = from;
  while (*q && *q != ';') ++q;
  semiFrom_ = from;
  semiAt_ = q;
  return *q == ';' ? q : nullptr;
}

bool TXmlParser::ChargeExpansion(size_t bytes) {
  bytes = std::max<size_t>(bytes, 1);
  if (expansionBytes_ + bytes > expansionBudget_) {
    expansionBytes_ = expansionBudget_;
    return false;
  }
  expansionBytes_ += bytes;
  return true;
}

std::unique_ptr<TXmlParser> TXmlParser::OpenEntity(const TEntityDef& entity) {
  std::unique_ptr<TXmlParser> ext = OpenExternalEntity(entity.SystemId, entity.PublicId, entity.NotationName);
  if (!ext) ext = std::make_unique<TXmlParser>();
  return ext;
}

const char* TXmlParser::TextReference(const char* amp) {
  const char* semi = FindSemicolon(amp + 1);
  if (!semi) return amp + 1;  // the "&" is dropped
  std::string_view name(amp + 1, static_cast<size_t>(semi - amp - 1));
  const char* after = semi + 1;
  if (!name.empty() && name[0] == '#') {
    int v;
    if (name.size() >= 2 && (name[1] == 'x' || name[1] == 'X'))
      v = CharRefValue(name.substr(2), true, 32);
    else
      v = CharRefValue(name.substr(1), false, 32);
    partContent_ += static_cast<char>(v & 0xFF);
    return after;
  }
  if (name == "lt") {
    partContent_ += '<';
  } else if (name == "gt") {
    partContent_ += '>';
  } else if (name == "amp") {
    partContent_ += '&';
  } else if (name == "apos") {
    partContent_ += '\'';
  } else if (name == "quot") {
    partContent_ += '"';
  } else {
    const TEntityDef* e = generalEntities_.Count() ? generalEntities_.Find(name) : nullptr;
    if (e && entityStack_.Count() < kMaxEntityDepth) {
      if (!e->Value.empty()) {
        if (ChargeExpansion(e->Value.size())) {
          entityStack_.Push(after);
          return e->Value.c_str();
        }
      } else if (ChargeExpansion(kExternalOpenCost)) {
        std::unique_ptr<TXmlParser> ext = OpenEntity(*e);
        if (ChargeExpansion(ext->BufferSize())) {
          const char* text = ext->DocumentText();
          entityStack_.PushExternal(std::move(ext), after);
          return text;
        }
      }
    }
    partContent_.append(name);  // undeclared, or past a limit: the bare name
  }
  return after;
}

std::string TXmlParser::ExpandAttrEntities(const std::string& value, int depth) {
  std::string out;
  size_t pos = 0;
  for (;;) {
    size_t amp = value.find('&', pos);
    if (amp == std::string::npos) break;
    size_t semi = value.find(';', amp + 2);
    if (semi == std::string::npos) break;
    std::string_view name(value.data() + amp + 1, semi - amp - 1);
    out.append(value, pos, amp - pos);
    pos = semi + 1;
    if (name == "lt") {
      out += '<';
    } else if (name == "gt") {
      out += '>';
    } else if (name == "amp") {
      out += '&';
    } else if (name == "apos") {
      out += '\'';
    } else if (name == "quot") {
      out += '"';
    } else {
      const TEntityDef* e = generalEntities_.Count() ? generalEntities_.Find(name) : nullptr;
      bool done = false;
      if (e && depth < kMaxEntityDepth) {
        std::string text;
        bool have = false;
        if (!e->Value.empty()) {
          have = ChargeExpansion(e->Value.size());
          if (have) text = e->Value;
        } else if (ChargeExpansion(kExternalOpenCost)) {
          std::unique_ptr<TXmlParser> ext = OpenEntity(*e);
          have = ChargeExpansion(ext->BufferSize());
          if (have) text = ext->DocumentText();
        }
        if (have) {
          std::string expanded = ExpandAttrEntities(text, depth + 1);
          if (ChargeExpansion(expanded.size())) {
            out += expanded;
            done = true;
          }
        }
      }
      if (!done) out.append(value, amp, semi + 1 - amp);  // kept as written
    }
  }
  if (pos == 0) return value;
  out.append(value, pos, std::string::npos);
  return out;
}

// ---- Overridable operations ----

std::unique_ptr<TXmlParser> TXmlParser::OpenExternalEntity(const std::string& systemId, const std::string&,
                                                           const std::string&) {
  auto ext = std::make_unique<TXmlParser>();
  // A downloaded document must not pull arbitrary local files into what is shown: only a
  // relative path that stays inside the document's own folder is opened.
  std::string id = systemId;
  std::replace(id.begin(), id.end(), '\\', '/');
  if (id.empty() || sourceName_.empty() || sourceName_[0] == '<' || id[0] == '/') return ext;
  size_t firstSlash = id.find('/');
  if (id.find(':') < firstSlash) return ext;  // a URL or a drive letter
  size_t start = 0;
  for (;;) {
    size_t slash = id.find('/', start);
    std::string_view seg(id.data() + start, (slash == std::string::npos ? id.size() : slash) - start);
    if (seg == "..") return ext;
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  size_t sep = sourceName_.rfind('/');
  std::string folder = sep == std::string::npos ? std::string(".") : sourceName_.substr(0, sep + 1);
  if (folder.empty()) folder = "/";
  std::string path = (sep == std::string::npos ? std::string() : folder) + id;
  // Symbolic links must not lead out of the folder either.
  char* realFolder = ::realpath(folder.c_str(), nullptr);
  char* realFile = ::realpath(path.c_str(), nullptr);
  bool inside = false;
  if (realFolder && realFile) {
    std::string f = realFolder;
    if (f.empty() || f.back() != '/') f += '/';
    inside = std::strncmp(realFile, f.c_str(), f.size()) == 0;
  }
  std::string resolved = realFile ? realFile : "";
  std::free(realFolder);
  std::free(realFile);
  if (inside) ext->LoadFile(resolved);
  return ext;
}

void TXmlParser::ConvertText(std::string_view text, std::string& out) {
  if (utf8_)
    AppendUtf8AsWin1252(text, out);
  else
    out.append(text);
}

void TXmlParser::DtdItemFound(const TDtdItem&) {}

}  // namespace zibu
