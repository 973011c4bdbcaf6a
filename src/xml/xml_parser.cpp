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

std::string TAttrList::ValueUtf8At(int index) const {
  if (index < 0 || index >= Count()) return "";
  const TAttr* a = At(index);
  return a->ValueUtf8.empty() ? a->Value : a->ValueUtf8;
}

std::string TAttrList::ValueOf(std::string_view name) const {
  const TAttr* a = Find(name);
  return a ? a->Value : std::string();
}

TAttr* TAttrList::Add(std::string_view name, std::string_view value) {
  return AddSorted(std::make_unique<TAttr>(std::string(name), std::string(value)));
}

namespace xml_detail {

int CharRefValue(std::string_view digits, bool hex, int bad) {
  std::optional<int32_t> v = hex ? TryStrToInt("$" + std::string(digits)) : TryStrToInt(digits);
  return v ? *v : bad;
}

std::string ReplaceCharRefs(std::string_view text, int badHex, bool utf8) {
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
    if (utf8)
      AppendUtf8(CharRefCodePoint(value), out);
    else
      out += CharRefByte(value);
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
  TXmlParser::Decoding decoding;
  const char* returnPos;
};

TEntityStack::TEntityStack(TXmlParser& owner) : owner_(owner) {}

TEntityStack::~TEntityStack() = default;

int TEntityStack::Count() const {
  return static_cast<int>(nodes_.size());
}

void TEntityStack::Push(const char* returnPos) {
  nodes_.push_back(Node{nullptr, owner_.textEncoding_, owner_.decoding_, returnPos});
}

void TEntityStack::PushExternal(std::unique_ptr<TXmlParser> parser, const char* returnPos) {
  const bool utf8 = parser && parser->transcoded_;
  nodes_.push_back(Node{std::move(parser), owner_.textEncoding_, owner_.decoding_, returnPos});
  // Its text is UTF-8 now, whatever the text around the reference is in.
  if (utf8) owner_.decoding_ = TXmlParser::Decoding::Utf8;
}

bool TEntityStack::TopTranscoded() const {
  return !nodes_.empty() && nodes_.back().parser && nodes_.back().parser->transcoded_;
}

const char* TEntityStack::Pop() {
  if (nodes_.empty()) return nullptr;
  Node node = std::move(nodes_.back());
  nodes_.pop_back();
  // The part being scanned may still point into the entity's text: keep it for this pass.
  if (node.parser) owner_.RetireParser(std::move(node.parser));
  if (!node.encoding.empty()) {
    owner_.textEncoding_ = std::move(node.encoding);
    owner_.decoding_ = node.decoding;
  }
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
  partUtf8_.clear();
  utf8Own_ = false;
  partStart_ = next_ = nullptr;
  partAttributes_.Clear();
  entityStack_.Clear();
  retiredParsers_.clear();
  expansionBytes_ = 0;
  budgetReached_ = false;
  semiFrom_ = semiAt_ = nullptr;
  undefinedEntities_.clear();
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
  defaultEncoding_.clear();
  defaultEncodingGiven_.clear();
  prepared_ = transcoded_ = false;
  transcodedFrom_.clear();
  trouble_ = CharsetTrouble{};
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
  decoding_ = textEncoding_ == "UTF-8" ? Decoding::Utf8 : Decoding::Bytes;
}

void TXmlParser::SetDefaultEncoding(std::string_view encoding) {
  defaultEncodingGiven_ = std::string(encoding);
  defaultEncoding_.clear();
  for (char c : encoding) defaultEncoding_ += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  if (defaultEncoding_ == "UTF8") defaultEncoding_ = "UTF-8";
}

namespace {

std::string UpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

}  // namespace

void TXmlParser::PrepareText() {
  prepared_ = true;
  if (bufferSize_ <= 1) return;
  const std::string_view doc(buffer_.get(), bufferSize_ - 1);
  if (doc.substr(0, 3) == "\xEF\xBB\xBF") return;  // UTF-8 by its own mark
  std::string charset;
  bool asciiPrologue = true;  // the encoding writes ASCII as ASCII, so its prolog could be read
  if ((doc.substr(0, 2) == "\xFF\xFE" && doc.substr(0, 4) != std::string_view("\xFF\xFE\0\0", 4)) ||
      doc.substr(0, 2) == "\xFE\xFF") {
    charset = "UTF-16";  // iconv reads the order from the mark and drops it
    asciiPrologue = false;
  } else if (doc.substr(0, 4) == std::string_view("<\0?\0", 4)) {
    charset = "UTF-16LE";
    asciiPrologue = false;
  } else if (doc.substr(0, 4) == std::string_view("\0<\0?", 4)) {
    charset = "UTF-16BE";
    asciiPrologue = false;
  } else {
    const char* p = doc.data();
    while (IsWhite(*p)) ++p;
    if (StartsWith(p, "<?xml") && IsWhite(p[5])) {
      ParseAttributes(p + 5);
      const TAttr* enc = partAttributes_.Find("encoding");
      if (enc) charset = enc->Value;
      partAttributes_.Clear();
    }
    if (charset.empty()) {
      if (defaultEncoding_ == "UTF-8") return;  // as a document without a declaration is read
      charset = defaultEncodingGiven_;
    }
    const CharsetFamily family = ClassifyCharset(charset);
    // UTF-8 itself is read as it always was; another name of it goes through the check below.
    if (family == CharsetFamily::None || family == CharsetFamily::Windows1252 ||
        (family == CharsetFamily::Utf8 && UpperAscii(charset) == "UTF-8"))
      return;
  }
  TranscodeResult r = TranscodeToUtf8(doc, charset);
  if (r.status == TranscodeResult::Ok) {
    // A name the bytes belie (UTF-16 named in an ASCII prolog, or single bytes behind what looks
    // like a UTF-16 mark) would turn the whole document into other characters: the ASCII it
    // begins with must come out as it went in, and UTF-16 must begin with markup.
    bool belied;
    if (asciiPrologue) {
      size_t n = 0;
      while (n < doc.size() && n < 64 && static_cast<unsigned char>(doc[n]) < 0x80 && doc[n] != '\0') ++n;
      belied = r.text.compare(0, n, doc.substr(0, n)) != 0;
    } else {
      size_t i = 0;
      while (i < r.text.size() && IsWhite(r.text[i])) ++i;
      belied = i >= r.text.size() || r.text[i] != '<';
    }
    if (belied) {
      r.status = TranscodeResult::InvalidBytes;
      r.badOffset = 0;
    }
  }
  if (r.status != TranscodeResult::Ok) {
    trouble_ = CharsetTrouble{r.status, charset, r.badOffset};
    return;
  }
  buffer_.reset(new char[r.text.size() + 1]);
  std::memcpy(buffer_.get(), r.text.data(), r.text.size());
  buffer_[r.text.size()] = '\0';
  bufferSize_ = r.text.size() + 1;
  expansionBudget_ = std::max(expansionBudget_, kExpansionFactor * bufferSize_);
  transcoded_ = true;
  transcodedFrom_ = UpperAscii(charset);
}

const char* TXmlParser::BeginPass() {
  if (!prepared_) PrepareText();
  const char* p = DocumentText();
  if (transcoded_) {
    textEncoding_ = transcodedFrom_;
    decoding_ = Decoding::Utf8;  // iconv's output is well-formed
    return p;
  }
  // XML's default encoding is UTF-8, and a document may say so with a byte-order mark alone.
  // Where the bytes of a document that declares nothing are not UTF-8 they are taken as they
  // are, as the many old Latin-1 feeds that never said so need.
  const bool bom = StartsWith(p, "\xEF\xBB\xBF");
  if (bom) p += 3;
  if (!bom && !defaultEncoding_.empty() && defaultEncoding_ != "UTF-8") {
    SetTextEncoding(defaultEncoding_);
  } else {
    textEncoding_ = "UTF-8";
    decoding_ = Decoding::Utf8OrWin1252;
  }
  return p;
}

void TXmlParser::NoteUndefined(std::string_view name) {
  if (undefinedEntities_.size() >= kMaxUndefinedNames) return;
  for (const std::string& known : undefinedEntities_)
    if (known == name) return;
  undefinedEntities_.emplace_back(name);
}

// ---- Parser: parts ----

bool TXmlParser::NextPart() {
  for (;;) {
    const char* p = partStart_ == nullptr ? BeginPass() : next_;
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
  const bool document = entityStack_.Count() == 0;
  if (document) {
    xmlVersion_ = partAttributes_.ValueOf("version");
    declaredEncoding_ = enc ? enc->Value : std::string();
    isStandalone_ = partAttributes_.ValueOf("standalone") == "yes";
  }
  const std::string upper = UpperAscii(enc ? enc->Value : std::string());
  // A prolog that names no encoding leaves the document's as the start of the pass found it.
  if (!upper.empty())
    SetTextEncoding(upper);
  else if (!document)
    SetTextEncoding("UTF-8");
  // Text turned into UTF-8 is UTF-8, whatever its prolog still says.
  if (document ? transcoded_ : entityStack_.TopTranscoded()) decoding_ = Decoding::Utf8;
  partName_.clear();
  BeginContent();
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
  BeginContent();
  if (end > targetEnd) partContent_.assign(targetEnd, end);
  ParseAttributes(targetEnd);
  return q ? q + 2 : end;
}

const char* TXmlParser::ScanCData(const char* p) {
  partKind_ = PartCData;
  const char* s = p + 9;
  const char* q = std::strstr(s, "]]>");
  const char* e = q ? q : TextEnd(s);
  BeginContent();
  AppendRun(std::string_view(s, static_cast<size_t>(e - s)));
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
  const bool refs = attr.Value.find('&') != std::string::npos;
  std::string expanded = refs ? ExpandAttrEntities(attr.Value, 0) : attr.Value;
  // The UTF-8 form is made from the same expanded value, its character references as UTF-8.
  const bool utf8 = keepAttrUtf8_ && !(IsAscii(expanded) && expanded.find("&#") == std::string::npos);
  std::string u;
  if (utf8) u = ReplaceCharRefs(ConvertsUtf8() ? expanded : Win1252ToUtf8(expanded), 0, true);
  std::string v = refs ? ReplaceCharRefs(expanded, 0, ConvertsUtf8()) : std::move(expanded);
  const bool tokens = attr.AttrType != AttrUnknown && attr.AttrType != AttrCData;
  auto blanks = [tokens](std::string& text) {
    if (tokens) {
      std::string t;
      bool space = false;
      for (char c : text) {
        if (IsWhite(c)) {
          space = true;
        } else {
          if (space && !t.empty()) t += ' ';
          space = false;
          t += c;
        }
      }
      text.swap(t);
    } else {
      for (char& c : text)
        if (IsWhite(c)) c = ' ';
    }
  };
  blanks(v);
  attr.Value.clear();
  ConvertText(v, attr.Value);
  attr.ValueUtf8.clear();
  if (utf8) {
    blanks(u);
    if (ConvertsUtf8())
      ConvertTextUtf8(u, attr.ValueUtf8);
    else
      attr.ValueUtf8 = std::move(u);
    if (attr.ValueUtf8 == attr.Value) attr.ValueUtf8.clear();
  }
}

namespace {

// Trims, and turns every run of white space into one space.
void CollapseWhite(std::string& s) {
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

}  // namespace

void TXmlParser::BeginContent() {
  partContent_.clear();
  partUtf8_.clear();
  utf8Own_ = false;
}

void TXmlParser::Diverge() {
  // Everything so far was ASCII, which reads the same in both.
  if (!utf8Own_) {
    partUtf8_ = partContent_;
    utf8Own_ = true;
  }
}

void TXmlParser::AppendRun(std::string_view documentText) {
  if (keepUtf8_ && (utf8Own_ || !IsAscii(documentText))) {
    Diverge();
    ConvertTextUtf8(documentText, partUtf8_);
  }
  ConvertText(documentText, partContent_);
}

void TXmlParser::AppendRaw(std::string_view bytes) {
  if (keepUtf8_ && (utf8Own_ || !IsAscii(bytes))) {
    Diverge();
    ConvertTextUtf8(bytes, partUtf8_);
  }
  partContent_.append(bytes);
}

void TXmlParser::AppendAscii(char c) {
  if (utf8Own_) partUtf8_ += c;
  partContent_ += c;
}

void TXmlParser::AppendReference(char byte, uint32_t codePoint) {
  if (keepUtf8_ && (utf8Own_ || codePoint >= 0x80)) {
    Diverge();
    AppendUtf8(codePoint, partUtf8_);
  }
  partContent_ += byte;
}

const char* TXmlParser::ScanText(const char* p) {
  partKind_ = PartText;
  BeginContent();
  const char* run = p;
  for (;;) {
    while (!Is(*p, kTextStop)) ++p;
    if (*p == '&') {
      if (p > run) AppendRun(std::string_view(run, static_cast<size_t>(p - run)));
      p = run = TextReference(p);
      continue;
    }
    if (*p == '\0' && entityStack_.Count() > 0) {
      if (p > run) AppendRun(std::string_view(run, static_cast<size_t>(p - run)));
      p = run = entityStack_.Pop();
      continue;
    }
    break;
  }
  if (p > run) AppendRun(std::string_view(run, static_cast<size_t>(p - run)));
  if (normalizeText_) {
    CollapseWhite(partContent_);
    if (utf8Own_) CollapseWhite(partUtf8_);
  }
  return p;
}

// ---- References ----

namespace {

// Whether the text between "&" and ";" is a name, as an entity reference's must be.
bool IsEntityName(std::string_view name) {
  if (name.empty()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    const bool start = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
    const bool more = (c >= '0' && c <= '9') || c == '.' || c == '-';
    if (!start && !(i > 0 && more)) return false;
  }
  return true;
}

}  // namespace

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
    budgetReached_ = true;
    return false;
  }
  expansionBytes_ += bytes;
  return true;
}

std::unique_ptr<TXmlParser> TXmlParser::OpenEntity(const TEntityDef& entity) {
  std::unique_ptr<TXmlParser> ext = OpenExternalEntity(entity.SystemId, entity.PublicId, entity.NotationName);
  if (!ext) ext = std::make_unique<TXmlParser>();
  if (!ext->prepared_) ext->PrepareText();  // its own text declaration names its encoding
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
    AppendReference(CharRefByte(v), CharRefCodePoint(v));
    return after;
  }
  if (name == "lt") {
    AppendAscii('<');
  } else if (name == "gt") {
    AppendAscii('>');
  } else if (name == "amp") {
    AppendAscii('&');
  } else if (name == "apos") {
    AppendAscii('\'');
  } else if (name == "quot") {
    AppendAscii('"');
  } else {
    const TEntityDef* e = generalEntities_.Count() ? generalEntities_.Find(name) : nullptr;
    if (!e && IsEntityName(name)) {
      // Most often an HTML entity (&nbsp;): kept as written, for the HTML-to-text step.
      NoteUndefined(name);
      AppendAscii('&');
      AppendRaw(name);
      AppendAscii(';');
      return after;
    }
    if (e && entityStack_.Count() < kMaxEntityDepth) {
      if (!e->Value.empty()) {
        if (ChargeExpansion(e->Value.size())) {
          entityStack_.Push(after);
          return e->Value.c_str();
        }
      } else if (!readExternalFiles_) {
        return after;  // an empty text
      } else if (ChargeExpansion(kExternalOpenCost)) {
        std::unique_ptr<TXmlParser> ext = OpenEntity(*e);
        if (ChargeExpansion(ext->BufferSize())) {
          const char* text = ext->DocumentText();
          entityStack_.PushExternal(std::move(ext), after);
          return text;
        }
      }
    }
    AppendRaw(name);  // no name at all ("AT&T ... ;"), or past a limit: the bare name
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
        } else if (!readExternalFiles_) {
          have = true;  // an empty text
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
      if (!e && IsEntityName(name)) NoteUndefined(name);
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
  switch (decoding_) {
    case Decoding::Bytes:
      out.append(text);
      break;
    case Decoding::Utf8:
      AppendUtf8AsWin1252(text, out);
      break;
    case Decoding::Utf8OrWin1252:
      AppendUtf8OrWin1252AsWin1252(text, out);
      break;
  }
}

void TXmlParser::ConvertTextUtf8(std::string_view text, std::string& out) const {
  switch (decoding_) {
    case Decoding::Bytes:
      AppendWin1252AsUtf8(text, out);
      break;
    case Decoding::Utf8:
      AppendUtf8Checked(text, out);
      break;
    case Decoding::Utf8OrWin1252:
      AppendUtf8OrWin1252AsUtf8(text, out);
      break;
  }
}

void TXmlParser::DtdItemFound(const TDtdItem&) {}

}  // namespace zibu
