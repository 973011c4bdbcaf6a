// The document type declaration: element, attribute-list, entity and notation declarations of
// the internal subset and of an external DTD.
#include <algorithm>
#include <cstring>

#include "xml/xml_chars.h"
#include "xml/xml_parser.h"

namespace zibu {

using namespace xml_detail;

namespace {

// Skips to the next quote, stopping at NUL, ">" or "[".
const char* SkipToQuote(const char* p) {
  while (*p && *p != '>' && *p != '[' && *p != '"' && *p != '\'') ++p;
  return p;
}

bool IsQuote(char c) {
  return c == '"' || c == '\'';
}

TAttrType AttrTypeOf(std::string_view keyword) {
  static constexpr std::string_view kNames[] = {"CDATA",  "ID",       "IDREF",   "IDREFS",
                                                "ENTITY", "ENTITIES", "NMTOKEN", "NMTOKENS"};
  for (size_t i = 0; i < std::size(kNames); ++i)
    if (keyword == kNames[i]) return static_cast<TAttrType>(i + 1);
  return AttrUnknown;
}

}  // namespace

TExternalID::TExternalID(const char* p) {
  bool isPublic = StartsWith(p, "PUBLIC");
  const char* q = SkipToQuote(p + 6);
  End = q;
  if (!IsQuote(*q)) return;
  q = End = ReadLiteral(q, isPublic ? PublicId : SystemId);
  if (!isPublic || *q == '\0') return;
  q = SkipToQuote(q + 1);
  End = q;
  if (IsQuote(*q)) End = ReadLiteral(q, SystemId);
}

const char* TExternalID::Next() const {
  return IsQuote(*End) ? End + 1 : End;
}

void TXmlParser::Report(TDtdItemKind kind, const char* start, const char* end) {
  TDtdItem item;
  item.ItemKind = kind;
  item.Start = start;
  item.End = end;
  DtdItemFound(item);
}

const char* TXmlParser::ScanDtd(const char* p) {
  entityStack_.Clear();
  partKind_ = PartDtd;
  partName_.clear();
  BeginContent();
  // Declarations are read once per load; a later pass skips to the remembered end.
  const bool inDocument = buffer_ && p >= buffer_.get() && p < buffer_.get() + bufferSize_;
  if (inDocument) {
    for (const auto& [start, end] : dtdEnds_)
      if (start == p) return end;
  }
  const char* q = p + 9;
  bool haveRoot = false;
  bool afterSubset = false;
  for (;;) {
    char c = *q;
    if (c == '\0') {
      if (entityStack_.Count() > 0) {
        q = entityStack_.Pop();
        continue;
      }
      break;
    }
    if (c == '>') {
      ++q;
      break;
    }
    if (IsWhite(c)) {
      ++q;
    } else if (c == '%') {
      q = ParamReference(q);
    } else if (c == '[') {
      q = ReadDeclarations(q + 1, 0);
      if (*q == ']') ++q;
      afterSubset = true;
    } else if (afterSubset) {
      if (c == ']') {
        ++q;
        continue;
      }
      const char* s = q;
      while (*q && !IsWhite(*q) && *q != '%' && *q != ']' && *q != '>') ++q;
      Report(DtdError, s, q - 1);
    } else if (!haveRoot) {
      if (IsNameStart(c)) {
        const char* e = q + 1;
        while (*e && !IsWhite(*e) && *e != '[' && *e != '>') ++e;
        rootName_.assign(q, e);
        haveRoot = true;
        q = e;
      } else {
        ++q;
      }
    } else if (StartsWith(q, "SYSTEM") || StartsWith(q, "PUBLIC")) {
      TExternalID id(q);
      ReadExternalDtd(id);
      q = id.Next();
    } else {
      ++q;
    }
  }
  partName_.clear();
  BeginContent();
  partKind_ = PartDtd;
  entityStack_.Clear();
  if (inDocument) dtdEnds_.emplace_back(p, q);
  return q;
}

void TXmlParser::ReadExternalDtd(const TExternalID& id) {
  if (!readExternalFiles_ || !ChargeExpansion(kExternalOpenCost)) return;
  std::unique_ptr<TXmlParser> ext = OpenExternalEntity(id.SystemId, id.PublicId, "");
  if (!ext || !ChargeExpansion(ext->BufferSize())) return;
  const char* s = std::strstr(ext->DocumentText(), "<!");
  if (!s) return;
  const int baseline = entityStack_.Count();
  ReadDeclarations(s, baseline);
  // Nothing may lead back into the DTD's text once it is freed.
  while (entityStack_.Count() > baseline) entityStack_.Pop();
  semiFrom_ = semiAt_ = nullptr;
}

const char* TXmlParser::ParamReference(const char* pct) {
  const char* semi = FindSemicolon(pct + 1);
  if (!semi) return pct + 1;
  std::string_view name(pct + 1, static_cast<size_t>(semi - pct - 1));
  const TEntityDef* e = parameterEntities_.Count() ? parameterEntities_.Find(name) : nullptr;
  if (e && entityStack_.Count() < kMaxEntityDepth && ChargeExpansion(e->Value.size())) {
    entityStack_.Push(semi + 1);
    return e->Value.c_str();
  }
  return semi + 1;
}

std::string TXmlParser::ReplaceParamRefs(std::string_view text, int depth) {
  if (text.find('%') == std::string_view::npos) return std::string(text);
  std::string out;
  size_t pos = 0;
  for (;;) {
    size_t pct = text.find('%', pos);
    if (pct == std::string_view::npos) break;
    size_t semi = text.find(';', pct + 1);
    if (semi == std::string_view::npos) break;
    std::string_view name = text.substr(pct + 1, semi - pct - 1);
    const TEntityDef* e = parameterEntities_.Find(name);
    out.append(text.substr(pos, pct - pos));
    bool done = false;
    if (e && depth < kMaxEntityDepth && ChargeExpansion(e->Value.size())) {
      std::string inner = ReplaceParamRefs(e->Value, depth + 1);
      if (ChargeExpansion(inner.size())) {
        out += inner;
        done = true;
      }
    }
    if (!done) out.append(text.substr(pct, semi + 1 - pct));  // stays as written
    pos = semi + 1;
  }
  out.append(text.substr(pos));
  return out;
}

const char* TXmlParser::ReadDeclarations(const char* p, int baseline) {
  for (;;) {
    char c = *p;
    if (c == '\0') {
      if (entityStack_.Count() > baseline) {
        p = entityStack_.Pop();
        continue;
      }
      return p;
    }
    if (c == '%') {
      p = ParamReference(p);
    } else if (c == '<') {
      if (StartsWith(p, "<!ELEMENT")) {
        p = ReadElementDecl(p);
      } else if (StartsWith(p, "<!ATTLIST")) {
        p = ReadAttListDecl(p, baseline);
      } else if (StartsWith(p, "<!ENTITY")) {
        p = ReadEntityDecl(p);
      } else if (StartsWith(p, "<!NOTATION")) {
        p = ReadNotationDecl(p);
      } else if (p[1] == '?') {
        const char* next = ScanPI(p);
        TDtdItem item;
        item.ItemKind = DtdPI;
        item.Start = p;
        item.End = next - 1;
        item.Target = partName_;
        item.Content = partContent_;
        item.Attributes = &partAttributes_;
        DtdItemFound(item);
        p = next;
      } else if (StartsWith(p, "<!--")) {
        const char* next = ScanComment(p);
        Report(DtdComment, p, next - 1);
        p = next;
      } else {
        Report(DtdError, p, p);
        ++p;
      }
    } else if (c == '>' || c == ']') {
      return p;
    } else {
      ++p;
    }
  }
}

const char* TXmlParser::ReadElementDecl(const char* p) {
  const char* q = p + 9;
  while (*q && *q != '>' && !IsNameStart(*q)) ++q;
  // Element names end at white space, ">" or NUL.
  const char* nameEnd = q;
  if (IsNameStart(*q)) {
    ++nameEnd;
    while (*nameEnd && *nameEnd != '>' && !IsWhite(*nameEnd)) ++nameEnd;
  }
  const char* gt = nameEnd;
  while (*gt && *gt != '>') ++gt;
  auto elem = std::make_unique<TElemDef>();
  elem->Name.assign(q, nameEnd);
  elem->Definition =
      ReplaceParamRefs(RemoveWhite(std::string_view(nameEnd, static_cast<size_t>(gt - nameEnd))), 0);
  const std::string& d = elem->Definition;
  if (d == "EMPTY")
    elem->ElemType = ElemEmpty;
  else if (d == "ANY")
    elem->ElemType = ElemAny;
  else if (d.rfind("(#PCDATA", 0) == 0)
    elem->ElemType = ElemMixed;
  else if (!d.empty() && d[0] == '(')
    elem->ElemType = ElemChildsOnly;
  else
    elem->ElemType = ElemAny;
  int old = elementDefs_.IndexOf(elem->Name);
  if (old >= 0) elementDefs_.Delete(old);
  TElemDef* added = elementDefs_.AddSorted(std::move(elem));
  TDtdItem item;
  item.ItemKind = DtdElementDecl;
  item.Start = p;
  item.End = *gt ? gt : gt - 1;
  item.Element = added;
  DtdItemFound(item);
  return *gt ? gt + 1 : gt;
}

const char* TXmlParser::ReadAttListDecl(const char* p, int baseline) {
  const char* q = p + 9;
  enum { kElemName, kAttrName, kType, kNotationList, kDefault, kFixedValue } state = kElemName;
  TElemDef* elem = nullptr;
  TAttrDef* def = nullptr;
  for (;;) {
    char c = *q;
    if (c == '\0') {
      if (entityStack_.Count() > baseline) {
        q = entityStack_.Pop();
        continue;
      }
      break;
    }
    if (c == '>') {
      ++q;
      break;
    }
    if (IsWhite(c)) {
      ++q;
      continue;
    }
    if (c == '%') {
      q = ParamReference(q);
      continue;
    }
    switch (state) {
      case kElemName: {
        if (!IsNameStart(c)) {
          ++q;
          break;
        }
        const char* e = NameEnd(q, kDeclNameEnd);
        std::string name(q, e);
        q = e;
        elem = elementDefs_.Find(name);
        if (!elem) {
          auto fresh = std::make_unique<TElemDef>();
          fresh->Name = name;
          fresh->Definition = "ANY";
          fresh->ElemType = ElemAny;
          elem = elementDefs_.AddSorted(std::move(fresh));
        }
        state = kAttrName;
        break;
      }
      case kAttrName: {
        const char* e = NameEnd(q, kDeclNameEnd);
        auto fresh = std::make_unique<TAttrDef>();
        fresh->Name.assign(q, e);
        q = e;
        int old = elem->IndexOf(fresh->Name);
        if (old >= 0) elem->Delete(old);
        def = elem->AddSorted(std::move(fresh));
        state = kType;
        break;
      }
      case kType: {
        if (c == '(') {
          const char* s = q + 1;
          const char* e = s;
          while (*e && *e != ')') ++e;
          def->TypeDef = ReplaceCharRefs(
              ReplaceParamRefs(RemoveWhite(std::string_view(s, static_cast<size_t>(e - s))), 0), 0, false);
          def->AttrType = AttrEnumeration;
          q = *e ? e + 1 : e;
        } else if (StartsWith(q, "NOTATION")) {
          def->TypeDef = "NOTATION";
          def->AttrType = AttrNotation;
          q += 8;
          // The list's "(" is looked for by this loop, so a parameter entity may hold it or
          // end before it.
          state = kNotationList;
          break;
        } else {
          const char* e = NameEnd(q, kEntNameEnd);
          def->TypeDef.assign(q, e);
          def->AttrType = AttrTypeOf(def->TypeDef);
          q = e;
        }
        state = kDefault;
        break;
      }
      case kNotationList:
        if (c == '(') {
          const char* s = q + 1;
          const char* e = s;
          while (*e && *e != ')') ++e;
          def->Notations = RemoveWhite(ReplaceParamRefs(std::string_view(s, static_cast<size_t>(e - s)), 0));
          q = *e ? e + 1 : e;
          state = kDefault;
        } else {
          ++q;
        }
        break;
      case kDefault:
        if (IsQuote(c)) {
          std::string lit;
          const char* e = ReadLiteral(q, lit);
          def->Value = ReplaceCharRefs(ReplaceParamRefs(lit, 0), 0, ConvertsUtf8());
          q = *e ? e + 1 : e;
          state = kAttrName;
        } else if (c == '#') {
          const char* e = NameEnd(q, kEntNameEnd);
          std::string_view kw(q, static_cast<size_t>(e - q));
          q = e;
          state = kAttrName;
          if (kw == "#REQUIRED") {
            def->DefaultType = DefaultRequired;
          } else if (kw == "#IMPLIED") {
            def->DefaultType = DefaultImplied;
          } else if (kw == "#FIXED") {
            def->DefaultType = DefaultFixed;
            state = kFixedValue;
          }
        } else {
          state = kAttrName;  // no default given: this is the next attribute
        }
        break;
      case kFixedValue:
        if (IsQuote(c)) {
          std::string lit;
          const char* e = ReadLiteral(q, lit);
          def->Value = ReplaceCharRefs(ReplaceParamRefs(lit, 0), 0, ConvertsUtf8());
          q = *e ? e + 1 : e;
        }
        state = kAttrName;
        break;
    }
  }
  TDtdItem item;
  item.ItemKind = DtdAttListDecl;
  item.Start = p;
  item.End = q - 1;
  item.Element = elem;
  DtdItemFound(item);
  return q;
}

const char* TXmlParser::ReadEntityDecl(const char* p) {
  const char* q = p + 8;
  bool isParam = false;
  bool haveName = false;
  bool haveExternalId = false;  // a notation name (NDATA) may follow only an external identifier
  auto def = std::make_unique<TEntityDef>();
  for (;;) {
    char c = *q;
    if (c == '\0') break;
    if (c == '>') {
      ++q;
      break;
    }
    if (IsWhite(c)) {
      ++q;
    } else if (c == '%') {
      isParam = true;
      ++q;
    } else if (!haveName) {
      if (IsNameStart(c)) {
        const char* e = NameEnd(q, kEntNameEnd);
        def->Name.assign(q, e);
        haveName = true;
        q = e;
      } else {
        ++q;
      }
    } else if (IsQuote(c)) {
      const char* e = ReadLiteral(q, def->Value);
      q = *e ? e + 1 : e;
    } else if (StartsWith(q, "SYSTEM") || StartsWith(q, "PUBLIC")) {
      TExternalID id(q);
      def->SystemId = id.SystemId;
      def->PublicId = id.PublicId;
      q = id.Next();
      haveExternalId = true;
    } else if (haveExternalId && StartsWith(q, "NDATA")) {
      q += 5;
      while (IsWhite(*q)) ++q;
      const char* e = q;
      if (*e && *e != '>') {
        ++e;
        while (*e && *e != '>' && !IsWhite(*e)) ++e;
      }
      def->NotationName.assign(q, e);
      q = e;
    } else {
      ++q;
    }
  }
  const TEntityDef* added = nullptr;
  if (haveName) {
    TNvpListOf<TEntityDef>& list = isParam ? parameterEntities_ : generalEntities_;
    if (!isParam) def->Value = ReplaceParamRefs(def->Value, 0);
    def->Value = ReplaceCharRefs(def->Value, 0, ConvertsUtf8());
    // The replaced text may be the one being read through the entity stack: keep it alive.
    int old = list.IndexOf(def->Name);
    if (old >= 0) retiredDefs_.push_back(list.Extract(old));
    added = list.AddSorted(std::move(def));
  }
  TDtdItem item;
  item.ItemKind = DtdEntityDecl;
  item.Start = p;
  item.End = q - 1;
  item.Entity = added;
  DtdItemFound(item);
  return q;
}

const char* TXmlParser::ReadNotationDecl(const char* p) {
  const char* q = p + 10;
  bool haveName = false;
  auto def = std::make_unique<TNotationDef>();
  for (;;) {
    char c = *q;
    if (c == '\0') break;
    if (c == '>') {
      ++q;
      break;
    }
    if (IsWhite(c)) {
      ++q;
    } else if (!haveName) {
      const char* e = q + 1;
      while (*e && *e != '>' && !IsWhite(*e)) ++e;
      def->Name.assign(q, e);
      haveName = true;
      q = e;
    } else if (StartsWith(q, "SYSTEM") || StartsWith(q, "PUBLIC")) {
      TExternalID id(q);
      def->Value = id.SystemId;
      def->PublicId = id.PublicId;
      q = id.Next();
    } else {
      ++q;
    }
  }
  const TNotationDef* added = notationDefs_.AddSorted(std::move(def));
  TDtdItem item;
  item.ItemKind = DtdNotationDecl;
  item.Start = p;
  item.End = q - 1;
  item.Notation = added;
  DtdItemFound(item);
  return q;
}

}  // namespace zibu
