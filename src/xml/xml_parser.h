// Pull scanner over one XML document held whole in memory, with the declaration model of
// its document type declaration. It builds no tree and rejects nothing: every construct ends
// at its first terminator or at the end of the text. Text is single-byte Windows-1252; a
// UTF-8 document is converted while it is scanned.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/charset.h"
#include "common/codepage.h"

namespace zibu {

class TXmlParser;

// Kinds of part, in the order of their enumeration values.
enum TPartKind : uint8_t {
  PartNone = 0,
  PartXmlProlog = 1,
  PartComment = 2,
  PartPI = 3,
  PartDtd = 4,
  PartStartTag = 5,
  PartEmptyTag = 6,
  PartEndTag = 7,
  PartText = 8,
  PartCData = 9,
};

// "XML Prolog", "Comment", ... ; empty for PartNone.
extern const char* const kPartKindNames[10];
const char* PartKindName(TPartKind kind);

// Where an attribute's value came from.
enum TValueOrigin : uint8_t {
  OriginNormal = 0,  // written in the tag
  OriginImplied = 1,
  OriginFixed = 2,
  OriginDefault = 3,  // supplied from the declaration
};

// Declared attribute types.
enum TAttrType : uint8_t {
  AttrUnknown = 0,
  AttrCData = 1,
  AttrId = 2,
  AttrIdRef = 3,
  AttrIdRefs = 4,
  AttrEntity = 5,
  AttrEntities = 6,
  AttrNmToken = 7,
  AttrNmTokens = 8,
  AttrNotation = 9,
  AttrEnumeration = 10,
};

enum TDefaultType : uint8_t {
  DefaultDefault = 0,
  DefaultRequired = 1,
  DefaultImplied = 2,
  DefaultFixed = 3,
};

enum TElemType : uint8_t {
  ElemEmpty = 0,
  ElemAny = 1,
  ElemChildsOnly = 2,
  ElemMixed = 3,
};

class TNvpNode {
 public:
  TNvpNode() = default;
  TNvpNode(std::string name, std::string value) : Name(std::move(name)), Value(std::move(value)) {}
  virtual ~TNvpNode() = default;

  std::string Name;
  std::string Value;
};

// Owning list of nodes kept sorted by Name in ascending byte order (case-sensitive).
// Duplicates are allowed: a later one goes in front of the earlier ones of the same name.
template <class T>
class TNvpListOf {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  T* At(int index) const { return items_[static_cast<size_t>(index)].get(); }

  // Binary search by exact name; nullptr when absent.
  T* Find(std::string_view name) const {
    int i = IndexOf(name);
    return i < 0 ? nullptr : At(i);
  }
  int IndexOf(std::string_view name) const;

  // Inserts keeping the order; returns the node.
  T* AddSorted(std::unique_ptr<T> node);
  std::unique_ptr<T> Extract(int index);
  void Delete(int index) { Extract(index); }
  void Clear() { items_.clear(); }

  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 protected:
  std::vector<std::unique_ptr<T>> items_;
};

using TNvpList = TNvpListOf<TNvpNode>;

class TAttr : public TNvpNode {
 public:
  using TNvpNode::TNvpNode;
  TValueOrigin ValueOrigin = OriginNormal;
  TAttrType AttrType = AttrUnknown;
  // With the scanner's KeepUtf8: the value in UTF-8, every character the document gives; empty
  // when that is Value itself (plain ASCII).
  std::string ValueUtf8;
};

// Attributes of one part, in name order.
class TAttrList : public TNvpListOf<TAttr> {
 public:
  // Empty for an index outside 0..Count()-1.
  std::string NameAt(int index) const;
  std::string ValueAt(int index) const;
  // The value in UTF-8 (with the scanner's KeepUtf8): ValueUtf8, or Value where that is empty.
  std::string ValueUtf8At(int index) const;
  // Value of the attribute with exactly this name; empty when there is none.
  std::string ValueOf(std::string_view name) const;
  // Adds an attribute written in a tag (origin Normal, type Unknown).
  TAttr* Add(std::string_view name, std::string_view value);
};

// ---- Declaration model ----

class TAttrDef : public TNvpNode {
 public:
  using TNvpNode::TNvpNode;
  std::string TypeDef;    // the keyword, or the enumeration between the brackets
  std::string Notations;  // for NOTATION types
  TAttrType AttrType = AttrUnknown;
  TDefaultType DefaultType = DefaultDefault;
};

// One declared element with its attribute declarations (sorted by attribute name).
class TElemDef : public TNvpListOf<TAttrDef> {
 public:
  std::string Name;
  TElemType ElemType = ElemAny;
  std::string Definition;  // content model, white space removed, parameter entities expanded
};

class TElemList : public TNvpListOf<TElemDef> {};

class TEntityDef : public TNvpNode {
 public:
  using TNvpNode::TNvpNode;
  // Value is the replacement text of an internal entity, empty for an external one.
  std::string SystemId;
  std::string PublicId;
  std::string NotationName;  // after NDATA
};

class TNotationDef : public TNvpNode {
 public:
  using TNvpNode::TNvpNode;
  // Value is the system identifier.
  std::string PublicId;
};

// Reads an external identifier starting at "SYSTEM" or "PUBLIC".
class TExternalID {
 public:
  // `p` points at the keyword; the text is NUL-terminated.
  explicit TExternalID(const char* p);
  std::string PublicId;
  std::string SystemId;
  const char* End = nullptr;  // closing quote of the last literal, or where skipping stopped
  // Where reading goes on after the identifier.
  const char* Next() const;
};

enum TDtdItemKind : uint8_t {
  DtdElementDecl = 0,
  DtdAttListDecl = 1,
  DtdEntityDecl = 2,
  DtdNotationDecl = 3,
  DtdPI = 4,
  DtdComment = 5,
  DtdError = 6,
};

struct TDtdItem {
  TDtdItemKind ItemKind = DtdError;
  const char* Start = nullptr;  // first and last byte in the text being scanned
  const char* End = nullptr;
  const TElemDef* Element = nullptr;       // kinds 0 and 1
  const TEntityDef* Entity = nullptr;      // kind 2
  const TNotationDef* Notation = nullptr;  // kind 3
  std::string Target;                      // kind 4
  std::string Content;                     // kind 4
  const TAttrList* Attributes = nullptr;   // kind 4
};

// Places to return to after the text of an included entity.
class TEntityStack {
 public:
  explicit TEntityStack(TXmlParser& owner);
  ~TEntityStack();
  TEntityStack(const TEntityStack&) = delete;
  TEntityStack& operator=(const TEntityStack&) = delete;

  void Push(const char* returnPos);
  // The stack owns `parser` until the node is popped.
  void PushExternal(std::unique_ptr<TXmlParser> parser, const char* returnPos);
  // Return position of the newest node, or nullptr on an empty stack.
  const char* Pop();
  void Clear();
  int Count() const;
  // Whether the newest node's text is an external entity that was turned into UTF-8.
  bool TopTranscoded() const;

 private:
  struct Node;
  TXmlParser& owner_;
  std::vector<Node> nodes_;
};

class TXmlParser {
 public:
  // Limits on entity expansion, so self-referring or exponentially nested entities end.
  static constexpr int kMaxEntityDepth = 32;
  static constexpr size_t kMinExpansionBudget = 8u << 20;  // bytes; or 10x the document if larger
  static constexpr size_t kExpansionFactor = 10;
  // Every external entity opened counts this much besides its size, so a document cannot make
  // the scanner open files without end.
  static constexpr size_t kExternalOpenCost = 16u << 10;

  TXmlParser();
  virtual ~TXmlParser();
  TXmlParser(const TXmlParser&) = delete;
  TXmlParser& operator=(const TXmlParser&) = delete;

  void Clear();
  // Reads the whole file into one NUL-terminated buffer. False (and an empty document) on
  // any failure.
  bool LoadFile(const std::string& fileName);
  // Holds a copy of `text` as the document. `sourceName` plays the part of the file name
  // (for external entities); a name beginning with "<" stands for no file.
  void LoadFromBuffer(std::string_view text, const std::string& sourceName = "<buffer>");

  // The buffer, or an empty NUL-terminated text when nothing is loaded.
  const char* DocumentText() const;
  // Bytes that entity expansion may produce in one pass; set by every load (8 MiB, or ten times
  // the document if larger). Lowering it suits fuzzing and tests.
  size_t ExpansionBudget() const { return expansionBudget_; }
  void SetExpansionBudget(size_t bytes) { expansionBudget_ = bytes; }
  size_t BufferSize() const { return bufferSize_; }
  // Whether expansion in this pass stopped at ExpansionBudget(): the references met after that
  // stayed as written (in text, their bare names).
  bool ExpansionBudgetReached() const { return budgetReached_; }
  // Whether external entities and an external DTD are read from the document's folder (on after
  // creation, kept by Clear). Off for a downloaded document: its folder is where the other
  // downloads are kept, and what the document names there is none of its business. An entity
  // that is not read has an empty text, as one that cannot be opened.
  void SetReadExternalFiles(bool on) { readExternalFiles_ = on; }
  bool ReadsExternalFiles() const { return readExternalFiles_; }

  void Rewind();
  // Moves to the next part; false at the end of the document (and on every later call).
  bool NextPart();

  const std::string& SourceName() const { return sourceName_; }
  const std::string& XmlVersion() const { return xmlVersion_; }
  const std::string& DeclaredEncoding() const { return declaredEncoding_; }
  bool IsStandalone() const { return isStandalone_; }
  const std::string& RootName() const { return rootName_; }
  bool NormalizeText() const { return normalizeText_; }
  void SetNormalizeText(bool on) { normalizeText_ = on; }
  TEntityStack& EntityStack() { return entityStack_; }
  const std::string& TextEncoding() const { return textEncoding_; }
  void SetTextEncoding(std::string encoding);
  // The encoding a document that declares none is in, as a download's response named it
  // ("ISO-8859-1", "utf-8", ...); empty: XML's own default, UTF-8. Forgotten by Clear. A
  // document that starts with a UTF-8 byte-order mark, or whose prolog names an encoding,
  // is read as that says instead.
  void SetDefaultEncoding(std::string_view encoding);
  // Whether text, CDATA and attribute values also come in UTF-8, with the characters that
  // Windows-1252 lacks (for showing them; off after creation, kept by Clear). Costs little on
  // plain ASCII text, which is the same in both.
  void SetKeepUtf8(bool on) { keepUtf8_ = keepAttrUtf8_ = on; }
  // The same for text and CDATA parts and for attribute values apart, so a caller that needs
  // the UTF-8 of a few texts only pays for those.
  void SetKeepUtf8(bool attributes, bool text) {
    keepAttrUtf8_ = attributes;
    keepUtf8_ = text;
  }
  bool KeepUtf8() const { return keepUtf8_; }
  bool KeepAttributeUtf8() const { return keepAttrUtf8_; }
  // Names of the entities referred to in this pass that the document does not declare, each
  // once, in the order met (at most kMaxUndefinedNames). Their references stay as written.
  const std::vector<std::string>& UndefinedEntities() const { return undefinedEntities_; }
  static constexpr size_t kMaxUndefinedNames = 16;
  // A document in an encoding other than UTF-8 and Windows-1252 (Latin-1, ASCII) is turned into
  // UTF-8 when its first pass begins, and read as a UTF-8 document is: DocumentText() is then
  // the UTF-8 text. The encoding is the prolog's, else the one SetDefaultEncoding named; a
  // UTF-16 document is told by its first bytes. Where that cannot be done the document is read
  // byte for byte as before, and this says why.
  struct CharsetTrouble {
    TranscodeResult::Status status = TranscodeResult::Ok;  // Ok: none
    std::string charset;                                   // as the document or response named it
    size_t offset = 0;                                     // InvalidBytes: where in the document
  };
  const CharsetTrouble& Trouble() const { return trouble_; }
  // Whether the document was turned into UTF-8 from the encoding TextEncoding() names.
  bool Transcoded() const { return transcoded_; }
  const TElemList& ElementDefs() const { return elementDefs_; }
  const TNvpListOf<TEntityDef>& GeneralEntities() const { return generalEntities_; }
  const TNvpListOf<TEntityDef>& ParameterEntities() const { return parameterEntities_; }
  const TNvpListOf<TNotationDef>& NotationDefs() const { return notationDefs_; }

  TPartKind PartKind() const { return partKind_; }
  const char* PartKindDisplayName() const { return PartKindName(partKind_); }
  const std::string& PartName() const { return partName_; }
  const std::string& PartContent() const { return partContent_; }
  // With KeepUtf8: the content of the current text or CDATA part in UTF-8; empty when that is
  // PartContent itself (plain ASCII). Other parts keep or empty it as they do PartContent.
  const std::string& PartContentUtf8() const { return partUtf8_; }
  const char* PartStart() const { return partStart_; }
  const char* PartEnd() const { return next_ ? next_ - 1 : nullptr; }
  const TAttrList& PartAttributes() const { return partAttributes_; }

  // Overridable operations.
  // Opens an external entity or DTD; returns a parser holding its text (empty when it cannot
  // be opened). Only relative paths inside the folder of this document are opened.
  virtual std::unique_ptr<TXmlParser> OpenExternalEntity(const std::string& systemId,
                                                         const std::string& publicId,
                                                         const std::string& notation);
  // Appends `text`, converted from TextEncoding() to Windows-1252, to `out`.
  virtual void ConvertText(std::string_view text, std::string& out);
  // Appends the same text in UTF-8 instead: every character the document's bytes give.
  void ConvertTextUtf8(std::string_view text, std::string& out) const;
  // Every declaration, processing instruction, comment and stray text of the DTD.
  virtual void DtdItemFound(const TDtdItem& item);

 private:
  friend class TEntityStack;

  // Each scanner starts at the part's first byte and returns the byte after the part.
  const char* ScanProlog(const char* p);
  const char* ScanComment(const char* p);
  const char* ScanPI(const char* p);
  const char* ScanDtd(const char* p);
  const char* ScanTag(const char* p);
  const char* ScanText(const char* p);
  const char* ScanCData(const char* p);
  const char* ParseAttributes(const char* p);
  void ApplyDeclaredAttributes();
  void FinishAttribute(TAttr& attr);

  // References.
  const char* FindSemicolon(const char* from);
  const char* TextReference(const char* amp);
  bool ChargeExpansion(size_t bytes);
  std::unique_ptr<TXmlParser> OpenEntity(const TEntityDef& entity);
  std::string ExpandAttrEntities(const std::string& value, int depth);
  std::string ReplaceParamRefs(std::string_view text, int depth);

  // Declarations.
  const char* ReadDeclarations(const char* p, int baseline);
  const char* ParamReference(const char* pct);
  const char* ReadElementDecl(const char* p);
  const char* ReadAttListDecl(const char* p, int baseline);
  const char* ReadEntityDecl(const char* p);
  const char* ReadNotationDecl(const char* p);
  void ReadExternalDtd(const TExternalID& id);
  void Report(TDtdItemKind kind, const char* start, const char* end);
  void RetireParser(std::unique_ptr<TXmlParser> parser);
  void ResetScanState();
  const char* BeginPass();
  void PrepareText();
  void NoteUndefined(std::string_view name);
  bool ConvertsUtf8() const { return decoding_ != Decoding::Bytes; }
  // Appending to the part's content, and with KeepUtf8 to its UTF-8 form, which is built only
  // once something that is not ASCII comes (until then it is the content itself).
  void BeginContent();
  void Diverge();
  void AppendRun(std::string_view documentText);
  void AppendRaw(std::string_view bytes);
  void AppendAscii(char c);
  void AppendReference(char byte, uint32_t codePoint);

  std::unique_ptr<char[]> buffer_;
  size_t bufferSize_ = 0;
  std::string sourceName_;
  std::string xmlVersion_;
  std::string declaredEncoding_;
  bool isStandalone_ = false;
  std::string rootName_;
  // Ends of the document type declarations read since the load, by their start in the buffer.
  std::vector<std::pair<const char*, const char*>> dtdEnds_;
  bool normalizeText_ = true;
  TEntityStack entityStack_;
  std::string textEncoding_;
  // How text is converted: byte for byte; from UTF-8 (a declared UTF-8); or from UTF-8 where
  // the bytes are UTF-8 and byte for byte where they are not (a document that declares nothing).
  enum class Decoding : uint8_t { Bytes, Utf8, Utf8OrWin1252 };
  Decoding decoding_ = Decoding::Bytes;
  std::string defaultEncoding_;  // upper case
  std::string defaultEncodingGiven_;
  bool prepared_ = false;        // the first pass since the load has looked at the encoding
  bool transcoded_ = false;      // the buffer holds the document turned into UTF-8
  std::string transcodedFrom_;   // upper case
  CharsetTrouble trouble_;
  std::vector<std::string> undefinedEntities_;
  TElemList elementDefs_;
  TNvpListOf<TEntityDef> generalEntities_;
  TNvpListOf<TEntityDef> parameterEntities_;
  TNvpListOf<TNotationDef> notationDefs_;
  // Declarations replaced and entity texts left while positions may still point into them;
  // kept until the next pass (entity definitions until the next load).
  std::vector<std::unique_ptr<TNvpNode>> retiredDefs_;
  std::vector<std::unique_ptr<TXmlParser>> retiredParsers_;

  TPartKind partKind_ = PartNone;
  std::string partName_;
  std::string partContent_;
  std::string partUtf8_;
  bool utf8Own_ = false;  // partUtf8_ is built (the content is not plain ASCII)
  bool keepUtf8_ = false;
  bool keepAttrUtf8_ = false;
  const char* partStart_ = nullptr;
  const char* next_ = nullptr;  // the byte after the current part
  TAttrList partAttributes_;
  size_t expansionBytes_ = 0;  // produced by entity expansion in this pass
  size_t expansionBudget_ = kMinExpansionBudget;
  bool budgetReached_ = false;
  bool readExternalFiles_ = true;
  const char* semiFrom_ = nullptr;  // last ";" search: from here, found at semiAt_ (";" or NUL)
  const char* semiAt_ = nullptr;
  std::string scratch_;
};


// ---- TNvpListOf ----

template <class T>
int TNvpListOf<T>::IndexOf(std::string_view name) const {
  // Halving search that stops when the middle repeats, so it ends on any list.
  int low = 0, high = Count(), last = -1;
  for (;;) {
    int mid = (low + high) / 2;
    if (mid == last || mid >= Count()) return -1;
    int c = std::string_view(items_[static_cast<size_t>(mid)]->Name).compare(name);
    if (c == 0) return mid;
    last = mid;
    if (c < 0)
      low = mid;
    else
      high = mid;
  }
}

template <class T>
T* TNvpListOf<T>::AddSorted(std::unique_ptr<T> node) {
  // From the back: insert after the first node with a smaller name, so a new node goes in
  // front of existing nodes with an equal name.
  size_t i = items_.size();
  while (i > 0 && !(items_[i - 1]->Name < node->Name)) --i;
  T* raw = node.get();
  items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(i), std::move(node));
  return raw;
}

template <class T>
std::unique_ptr<T> TNvpListOf<T>::Extract(int index) {
  auto it = items_.begin() + index;
  std::unique_ptr<T> node = std::move(*it);
  items_.erase(it);
  return node;
}

}  // namespace zibu
