#include "model/kxfielddata.h"

#include <cstring>
#include <new>
#include <string>

#include "com/comutil.h"
#include "com/wstr.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxxmlutils.h"
#include "messagekit.h"

namespace {

const OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/kxfielddata";
// Field data is read and written for callers at the COM boundary as well:
// an exception of unknown type is answered here.
constexpr FrameOptions kFrame{.file = kFile, .boundary = true, .silent = true};
// A failure of the writer beneath is answered as that writer answered it.
constexpr FrameOptions kWriteFrame{
    .file = kFile, .passReturnedFailure = true, .boundary = true, .silent = true};
constexpr FrameOptions kSelectFrame{.file = kFile, .silent = true};

// Value ids of the field-data grammar.
enum : uint32_t {
  kIdFieldId = 10,
  kIdAttribId = 11,
  kIdValue = 12,
  kIdState = 13,
  kIdAlignment = 14,
  kIdPrefix = 15,
  kIdPostfix = 16,
  kIdSubstitution = 17,
  kIdFormat = 18,
  kIdTLX = 19,
  kIdTLY = 20,
  kIdBRX = 21,
  kIdBRY = 22,
  kIdX = 23,
  kIdY = 24,
  kIdMarkup = 25,
  kIdIndex = 26,
  kIdVerticalAlignment = 27,
};

// Attributes shared by several kinds of field record, in table order.
constexpr std::array<GrammarRecord, 11> kNumberAttributes = {
    Grammar::Integer(u"FieldId", kIdFieldId),
    Grammar::Integer(u"AttribId", kIdAttribId),
    Grammar::String(u"Value", kIdValue),
    Grammar::String(u"Prefix", kIdPrefix),
    Grammar::String(u"Postfix", kIdPostfix),
    Grammar::String(u"Substitution", kIdSubstitution),
    Grammar::String(u"Format", kIdFormat),
    Grammar::Integer(u"State", kIdState),
    Grammar::Integer(u"Alignment", kIdAlignment),
    Grammar::Integer(u"VerticalAlignment", kIdVerticalAlignment),
    Grammar::Integer(u"Index", kIdIndex)};
constexpr std::array<GrammarRecord, 8> kFormattedAttributes = {
    Grammar::Integer(u"FieldId", kIdFieldId),
    Grammar::Integer(u"AttribId", kIdAttribId),
    Grammar::String(u"Value", kIdValue),
    Grammar::String(u"Format", kIdFormat),
    Grammar::Integer(u"State", kIdState),
    Grammar::Integer(u"Alignment", kIdAlignment),
    Grammar::Integer(u"VerticalAlignment", kIdVerticalAlignment),
    Grammar::Integer(u"Index", kIdIndex)};
constexpr std::array<GrammarRecord, 5> kChoiceAttributes = {
    Grammar::Integer(u"FieldId", kIdFieldId), Grammar::Integer(u"AttribId", kIdAttribId),
    Grammar::String(u"Value", kIdValue), Grammar::Integer(u"State", kIdState),
    Grammar::Integer(u"Index", kIdIndex)};

// The field-data grammar: a "Fields" list holding records of any kind, or
// one record alone.
constexpr auto kFieldDataGrammar = Grammar::Table(
    Grammar::Element(u"Fields", kFieldList,
                     {Grammar::Child(2), Grammar::Child(3), Grammar::Child(4), Grammar::Child(5),
                      Grammar::Child(6), Grammar::Child(7), Grammar::Child(8), Grammar::Child(9)}),
    Grammar::Element(u"Annotation", kFieldAnnotation,
                     {Grammar::String(u"Value", kIdValue), Grammar::Integer(u"X", kIdX),
                      Grammar::Integer(u"Y", kIdY), Grammar::Integer(u"FieldId", kIdFieldId),
                      Grammar::Boolean(u"Markup", kIdMarkup)}),
    Grammar::Element(
        u"String", kFieldString,
        {Grammar::Integer(u"FieldId", kIdFieldId), Grammar::Integer(u"AttribId", kIdAttribId),
         Grammar::String(u"Value", kIdValue), Grammar::Integer(u"State", kIdState),
         Grammar::Integer(u"Alignment", kIdAlignment),
         Grammar::Integer(u"VerticalAlignment", kIdVerticalAlignment),
         Grammar::Integer(u"Index", kIdIndex)}),
    Grammar::Element(u"Real", kFieldReal, kNumberAttributes),
    Grammar::Element(u"Integer", kFieldInteger, kNumberAttributes),
    Grammar::Element(u"Bool", kFieldBool, kFormattedAttributes),
    Grammar::Element(u"Date", kFieldDate, kFormattedAttributes),
    Grammar::Element(u"Check", kFieldCheck, kChoiceAttributes),
    Grammar::Element(u"Radio", kFieldRadio, kChoiceAttributes),
    Grammar::Element(
        u"Sketch", kFieldSketch,
        {Grammar::Integer(u"FieldId", kIdFieldId), Grammar::Integer(u"AttribId", kIdAttribId),
         Grammar::String(u"Value", kIdValue), Grammar::Integer(u"State", kIdState),
         Grammar::Integer(u"TLX", kIdTLX), Grammar::Integer(u"TLY", kIdTLY),
         Grammar::Integer(u"BRX", kIdBRX), Grammar::Integer(u"BRY", kIdBRY),
         Grammar::Integer(u"Index", kIdIndex)}));

// The show element of each kind, by type id: "Show<Kind>Field".
constexpr const OLECHAR* kShowNames[] = {
    nullptr,          u"ShowAnnotationField", u"ShowStringField",
    u"ShowRealField", u"ShowIntegerField",    u"ShowBoolField",
    u"ShowDateField", u"ShowSketchField",     u"ShowCheckField",
    u"ShowRadioField"};

// The rest of `text` after `prefix`, or null when it does not start so.
constexpr const OLECHAR* After(const OLECHAR* text, const OLECHAR* prefix) {
  for (; *prefix != 0; ++text, ++prefix) {
    if (*text != *prefix) return nullptr;
  }
  return text;
}

// Each show name is "Show", the grammar's element name of its type id, "Field".
constexpr bool ShowNamesMatchGrammar() {
  for (uint32_t type = kFieldAnnotation; type <= kFieldRadio; ++type) {
    const OLECHAR* kind = nullptr;
    for (const GrammarRecord& r : kFieldDataGrammar) {
      if (r.kind == kGrammarElement && r.id == type) kind = r.name;
    }
    const OLECHAR* rest = kind != nullptr ? After(kShowNames[type], u"Show") : nullptr;
    if (rest != nullptr) rest = After(rest, kind);
    if (rest == nullptr || After(rest, u"Field") == nullptr || *After(rest, u"Field") != 0) {
      return false;
    }
  }
  return true;
}
static_assert(ShowNamesMatchGrammar());

}  // namespace

const GrammarRecord* FieldDataSchema::GetSchema() const { return kFieldDataGrammar.data(); }

const OLECHAR* FieldDataSchema::GetElementName(int32_t typeId) {
  if (typeId < 0) return nullptr;
  for (const GrammarRecord* r = kFieldDataGrammar.data() + 1; r->kind != kGrammarEnd; ++r) {
    if (r->kind == kGrammarElement && r->id == static_cast<uint32_t>(typeId)) return r->name;
  }
  return nullptr;
}

void KXFieldData::Clear() {
  typeId = kFieldCleared;
  value.Reset();
  prefix.Reset();
  postfix.Reset();
  substitution.Reset();
  format.Reset();
  fieldId = -1;
  attribId = -1;
  alignment = -1;
  verticalAlignment = -1;
  state = 0;
  x = 0;
  y = 0;
  tlx = 0;
  tly = 0;
  brx = 0;
  bry = 0;
  markup = false;
  m_children.clear();
}

void KXFieldData::CopyFields(const KXFieldData& other) {
  typeId = other.typeId;
  value = other.value;
  prefix = other.prefix;
  postfix = other.postfix;
  substitution = other.substitution;
  format = other.format;
  fieldId = other.fieldId;
  attribId = other.attribId;
  state = other.state;
  alignment = other.alignment;
  verticalAlignment = other.verticalAlignment;
  x = other.x;
  y = other.y;
  tlx = other.tlx;
  tly = other.tly;
  brx = other.brx;
  bry = other.bry;
  markup = other.markup;
  index = other.index;
}

HRESULT KXFieldData::GetChildHandler(uint32_t childId, SAXSchemaElementHandler** handler) {
  if (handler == nullptr) return E_POINTER;
  if (childId == kFieldList) {
    Clear();
    typeId = kFieldList;
    *handler = this;
    return S_OK;
  }
  if (childId < kFieldAnnotation || childId > kFieldRadio) return E_INVALIDARG;
  if (typeId == kFieldList) {
    auto child = std::make_unique<KXFieldData>();
    child->Clear();
    child->typeId = static_cast<int32_t>(childId);
    *handler = child.get();
    m_children.push_back(std::move(child));
    return S_OK;
  }
  Clear();
  typeId = static_cast<int32_t>(childId);
  *handler = this;
  return S_OK;
}

HRESULT KXFieldData::SetAttribute(uint32_t id, const SAXValue& v) {
  switch (id) {
    case kIdValue: value.Assign(v.text); return S_OK;
    case kIdPrefix: prefix.Assign(v.text); return S_OK;
    case kIdPostfix: postfix.Assign(v.text); return S_OK;
    case kIdSubstitution: substitution.Assign(v.text); return S_OK;
    case kIdFormat: format.Assign(v.text); return S_OK;
    case kIdFieldId: fieldId = v.integer; return S_OK;
    case kIdAttribId: attribId = v.integer; return S_OK;
    case kIdState: state = v.integer; return S_OK;
    case kIdAlignment: alignment = v.integer; return S_OK;
    case kIdVerticalAlignment: verticalAlignment = v.integer; return S_OK;
    case kIdX: x = v.integer; return S_OK;
    case kIdY: y = v.integer; return S_OK;
    case kIdTLX: tlx = v.integer; return S_OK;
    case kIdTLY: tly = v.integer; return S_OK;
    case kIdBRX: brx = v.integer; return S_OK;
    case kIdBRY: bry = v.integer; return S_OK;
    case kIdMarkup: markup = v.boolean != 0; return S_OK;
    case kIdIndex: index = v.integer; return S_OK;
    default: return E_INVALIDARG;
  }
}

namespace {

// The last record texts read on this thread and what they gave: a setter
// reads a field's record, and its change event reads the record text back
// (the same text unless the setter changed the presentation), with the
// template field's own record read in between. A change event of several
// fields reads their records in turn, page after page (a unit changed on
// every datasheet): the last sixteen texts are kept, so that the records of
// one page's fields are still there when the next page reads the same.
struct ParsedText {
  bool valid = false;
  int32_t type = 0;
  int32_t selectIndex = 0;
  int32_t priorIndex = 0;  // the index a text without "Index" leaves as it was
  std::u16string text;
  KXFieldData record;
};

struct RecentParses {
  static constexpr size_t kSize = 16;
  ParsedText entries[kSize];
  size_t next = 0;  // the entry the next new text replaces
};

RecentParses& RecentParsesOfThread() {
  thread_local RecentParses recent;
  return recent;
}

}  // namespace

bool KXFieldData::TakeKnownText(int32_t type, const OLECHAR* text, size_t length,
                                int32_t selectIndex) {
  if (text == nullptr || *text == 0) {
    Clear();
    typeId = type;
    return true;
  }
  // Clearing keeps the index.
  const int32_t priorIndex = index;
  // The kept texts hold no NUL. A text of known length is compared whole;
  // else in one pass up to the kept text's end, where the text's own NUL
  // ends a shorter text's match.
  const auto sameText = [text, length](const std::u16string& kept) {
    const size_t size = kept.size();
    if (length != kUnknownLength) {
      return size == length && std::memcmp(text, kept.data(), size * sizeof(char16_t)) == 0;
    }
    size_t i = 0;
    while (i < size && text[i] == kept[i]) ++i;
    return i == size && text[size] == 0;
  };
  for (const ParsedText& known : RecentParsesOfThread().entries) {
    if (known.valid && known.type == type && known.selectIndex == selectIndex &&
        known.priorIndex == priorIndex && sameText(known.text)) {
      Clear();
      CopyFields(known.record);
      return true;
    }
  }
  return false;
}

HRESULT KXFieldData::ParseFieldData(int32_t type, BSTR text, int32_t selectIndex, bool remember) {
  return ServeRequest(u"KXFieldData::ParseFieldData", kFrame, [&](KXComException& ctx) {
    if (TakeKnownText(type, text, kUnknownLength, selectIndex)) return S_OK;
    Clear();
    const int32_t priorIndex = index;
    RecentParses& recent = RecentParsesOfThread();
    const std::u16string_view read(text);
    HRESULT hr = Parse(text);
    KX_CHECK(ctx, hr, KX_HERE(kFile));
    if (typeId == kFieldList) {
      std::unique_ptr<KXFieldData> chosen;
      for (auto& child : m_children) {
        if (selectIndex == -1 || child->index == selectIndex) {
          chosen = std::move(child);
          break;
        }
      }
      if (chosen != nullptr) {
        CopyFields(*chosen);
        m_children.clear();
      } else {
        Clear();
      }
    }
    typeId = type;
    if (remember && SUCCEEDED(hr) && m_children.empty()) {
      ParsedText& slot = recent.entries[recent.next];
      recent.next = (recent.next + 1) % RecentParses::kSize;
      slot.valid = false;
      slot.text.assign(read);
      slot.record.CopyFields(*this);
      slot.type = type;
      slot.selectIndex = selectIndex;
      slot.priorIndex = priorIndex;
      slot.valid = true;
    }
    return hr;
  });
}

bool KXFieldData::ReadKnownText(IKXQAttribute* fields, int32_t position, int32_t type,
                                int32_t selectIndex, _bstr_t& text) {
  struct Reading {
    KXFieldData& record;
    int32_t type;
    int32_t selectIndex;
    _bstr_t& text;
    bool known = false;
    bool failed = false;
  } reading{*this, type, selectIndex, text};
  // Runs inside the store's read: nothing is thrown through it.
  const auto read = [](void* context, const OLECHAR* chars, LONG length) {
    Reading& r = *static_cast<Reading*>(context);
    try {
      // A NUL further in matches no kept text (the record stays); one first reads as empty.
      if (length > 0)
        r.known = r.record.TakeKnownText(r.type, chars, static_cast<size_t>(length), r.selectIndex);
      if (!r.known) {
        const BSTR copy = SysAllocStringLen(chars, static_cast<UINT>(length));
        r.failed = copy == nullptr;
        r.text.Attach(copy);
      }
    } catch (...) {
      r.failed = true;
    }
  };
  text = _bstr_t();
  const HRESULT hr = fields != nullptr ? fields->ReadTextAt(position, read, &reading) : E_POINTER;
  if ((hr == S_OK && !reading.failed) || hr == S_FALSE) return reading.known;
  // Read the usual way, which answers a failure as it does.
  KXDBDatasheetSvcs::GetAttributeValueStringAt(fields, position, text);
  return false;
}

HRESULT KXFieldData::SelectField(const OLECHAR* text, int32_t fieldNumber) {
  return SelectParsed(text, nullptr, fieldNumber);
}

HRESULT KXFieldData::SelectField(const _bstr_t& text, int32_t fieldNumber) {
  const OLECHAR* chars = text;
  const HRESULT hr = SelectParsed(chars, text, fieldNumber);
  // No document holds a NUL, so a text with one inside fails whole; it is
  // then read up to the NUL, as the zero-terminated form reads it.
  if (FAILED(hr) && chars != nullptr && kx_wcslen(chars) != text.length()) {
    return SelectField(chars, fieldNumber);
  }
  return hr;
}

HRESULT KXFieldData::SelectParsed(const OLECHAR* text, BSTR held, int32_t fieldNumber) {
  return ServeRequest(u"KXFieldData::SelectField", kSelectFrame, [&](KXComException& ctx) {
    Clear();
    index = -1;
    if (text == nullptr || *text == 0) return S_OK;
    _bstr_t copy;
    if (held == nullptr) {
      copy = _bstr_t(text);  // the reader takes a BSTR
      held = copy;
    }
    const HRESULT hr = Parse(held);
    KX_CHECK(ctx, hr, KX_HERE(kFile));
    if (typeId != kFieldList) return S_OK;
    std::unique_ptr<KXFieldData> chosen;
    for (auto& child : m_children) {
      if (fieldNumber == -1 || child->fieldId == fieldNumber) {
        chosen = std::move(child);
        break;
      }
    }
    m_children.clear();
    if (chosen == nullptr) {
      Clear();
      return S_OK;
    }
    CopyFields(*chosen);
    return S_OK;
  });
}

void KXFieldData::SetNumberTexts(const OLECHAR* valueText, const OLECHAR* prefixText,
                                 const OLECHAR* postfixText, const OLECHAR* substitutionText) {
  auto set = [](SAXText& member, const OLECHAR* text) {
    if (text == member.c_str()) return;
    if (text == nullptr) {
      member.Reset();
      return;
    }
    member.Assign(text);
  };
  set(value, valueText);
  set(prefix, prefixText);
  set(postfix, postfixText);
  set(substitution, substitutionText);
}

HRESULT KXFieldData::WriteFieldData(BSTR* text, int32_t mode, int32_t pageId) const {
  return ServeRequest(u"KXFieldData::WriteFieldData", kWriteFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, text);
    *text = nullptr;
    if (typeId < kFieldAnnotation || typeId > kFieldRadio) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"Unknown field type");
    }
    _com_ptr_t<ikxXMLStringWriter> writer;
    HRESULT hr = KXXMLStringWriter::CreateInstance(IID_ikxXMLStringWriter,
                                                   reinterpret_cast<void**>(&writer));
    if (FAILED(hr)) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), hr, u"Cannot create an XML string writer");
    }
    writer->SetOption(false);
    hr = WriteFieldData(*writer, mode, pageId);
    if (FAILED(hr)) return hr;  // the thread holds its description
    KX_CHECK(ctx, writer->GetString(text));
    return S_OK;
  });
}

HRESULT KXFieldData::WriteFieldData(ikxXMLStringWriter& w, int32_t mode, int32_t pageId) const {
  return ServeRequest(u"KXFieldData::WriteFieldData", kFrame, [&](KXComException& ctx) {
    if (typeId < kFieldAnnotation || typeId > kFieldRadio) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"Unknown field type");
    }
    const bool show = mode == kFieldDataShow;
    const bool definition = mode == kFieldDataDefinition;
    const OLECHAR* name = show ? kShowNames[typeId] : GetElementName(typeId);

    KX_CHECK(ctx, w.StartElement(name));
    if (show) KX_CHECK(ctx, w.WriteAttribute(u"PageId", LONG{pageId}));
    if (fieldId >= 0) KX_CHECK(ctx, w.WriteAttribute(u"FieldId", LONG{fieldId}));
    if (!show && attribId >= 0) KX_CHECK(ctx, w.WriteAttribute(u"AttribId", LONG{attribId}));

    auto writeText = [&](const OLECHAR* attr, const SAXText& t) {
      if (!t.IsEmpty()) KX_CHECK(ctx, w.WriteAttribute(attr, t.c_str()));
    };
    switch (typeId) {
      case kFieldAnnotation:
        KX_CHECK(ctx, w.WriteAttribute(u"X", LONG{x}));
        KX_CHECK(ctx, w.WriteAttribute(u"Y", LONG{y}));
        KX_CHECK(ctx, w.WriteAttribute(u"Markup", markup));
        KX_CHECK(ctx, w.WriteAttribute(u"Value", value.c_str()));
        if (show) KX_CHECK(ctx, w.WriteAttribute(u"State", LONG{state}));
        break;
      case kFieldSketch:
        KX_CHECK(ctx, w.WriteAttribute(u"TLX", LONG{tlx}));
        KX_CHECK(ctx, w.WriteAttribute(u"TLY", LONG{tly}));
        KX_CHECK(ctx, w.WriteAttribute(u"BRX", LONG{brx}));
        KX_CHECK(ctx, w.WriteAttribute(u"BRY", LONG{bry}));
        if (!definition) {
          KX_CHECK(ctx, w.WriteAttribute(u"State", LONG{state}));
          KX_CHECK(ctx, w.WriteAttribute(u"Value", value.c_str()));
        }
        break;
      default:
        // Real and Integer add the number decorations to Bool and Date,
        // which add the format to String, which adds the alignments to
        // Check and Radio.
        if ((typeId == kFieldReal || typeId == kFieldInteger) && !definition) {
          writeText(u"Prefix", prefix);
          writeText(u"Postfix", postfix);
          writeText(u"Substitution", substitution);
        }
        if (typeId == kFieldReal || typeId == kFieldInteger || typeId == kFieldBool ||
            typeId == kFieldDate) {
          writeText(u"Format", format);
        }
        if (typeId != kFieldCheck && typeId != kFieldRadio) {
          if (alignment >= 0) KX_CHECK(ctx, w.WriteAttribute(u"Alignment", LONG{alignment}));
          if (verticalAlignment != -1) {
            KX_CHECK(ctx, w.WriteAttribute(u"VerticalAlignment", LONG{verticalAlignment}));
          }
        }
        if (definition) {
          if (typeId == kFieldRadio) writeText(u"Value", value);
        } else {
          KX_CHECK(ctx, w.WriteAttribute(u"State", LONG{state}));
          writeText(u"Value", value);
        }
        if (index >= 0) KX_CHECK(ctx, w.WriteAttribute(u"Index", LONG{index}));
        break;
    }
    KX_CHECK(ctx, w.EndElement(name));
    return S_OK;
  });
}
