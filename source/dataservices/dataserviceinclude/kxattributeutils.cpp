#include "kxattributeutils.h"

#include <array>
#include <cstdint>
#include <vector>
#if __has_include(<link.h>)
#include <link.h>
#endif

#include "com/wstr.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "kxvalueutils.h"
#include "variantutil.h"

namespace {

const OLECHAR kFile[] = u"source/dataservices/dataserviceinclude/dataserviceutils";

constexpr LONG kObjectDataType = 3;

_variant_t IndexVariant(int32_t index) { return _variant_t(static_cast<int>(index), VT_I4); }

// A text for the store; a text that cannot be copied travels as an error
// value carrying E_OUTOFMEMORY, as the store expects.
_variant_t TextVariant(const OLECHAR* text) {
  _variant_t value;
  BSTR copy = SysAllocString(text);
  if (copy == nullptr && text != nullptr) {
    value.vt = VT_ERROR;
    value.scode = E_OUTOFMEMORY;
    return value;
  }
  value.vt = VT_BSTR;
  value.bstrVal = copy;
  return value;
}

// Whether `text` lies in a segment of this code's own image that is not
// writable: a text there is a literal that stays as it is while this code
// is loaded, and a table of this code goes away with it.
bool InOwnReadOnlySegment(const void* text) {
  struct Range {
    uintptr_t begin;
    uintptr_t end;
  };
  // Never destroyed: a name may still be asked for while the process exits.
  static const std::vector<Range>& ranges = *new std::vector<Range>([] {
    std::vector<Range> found;
#if __has_include(<link.h>)
    struct Search {
      uintptr_t anchor;
      std::vector<Range>* found;
    } search{reinterpret_cast<uintptr_t>(&InOwnReadOnlySegment), &found};
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
          auto& s = *static_cast<Search*>(data);
          bool own = false;
          std::vector<Range> fixed;
          for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
            const ElfW(Phdr)& segment = info->dlpi_phdr[i];
            if (segment.p_type != PT_LOAD) continue;
            const uintptr_t begin = info->dlpi_addr + segment.p_vaddr;
            const uintptr_t end = begin + segment.p_memsz;
            if (s.anchor >= begin && s.anchor < end) own = true;
            if ((segment.p_flags & PF_W) == 0) fixed.push_back({begin, end});
          }
          if (!own) return 0;
          *s.found = std::move(fixed);
          return 1;
        },
        &search);
#endif
    return found;
  }());
  const auto at = reinterpret_cast<uintptr_t>(text);
  for (const Range& range : ranges) {
    if (at >= range.begin && at < range.end) return true;
  }
  return false;
}

// A name as a BSTR for the store's calls. The names asked for are nearly
// always the same few literals, each asked for many times a request: their
// copies are kept by the address of the text, and a kept copy is used only
// while the text there is still the same: always for a literal of this
// code, else when compared equal.
struct KeptName {
  const OLECHAR* at = nullptr;
  size_t length = 0;   // of `text`, kept so that a hit asks the library nothing
  bool fixed = false;  // `at` is in this code's read-only image
  _bstr_t text;
};

// Compared character by character: the text there may now be shorter.
bool StillKept(const KeptName& slot, const OLECHAR* name) {
  const OLECHAR* const text = slot.text;
  const size_t length = slot.length;
  size_t i = 0;
  while (i < length && name[i] == text[i]) ++i;
  return i == length && name[i] == 0;
}

// Out of line: a hit needs none of this.
[[gnu::noinline]] BSTR KeepName(KeptName& slot, const OLECHAR* name) {
  slot.at = nullptr;
  slot.text = _bstr_t(name);
  slot.length = slot.text.length();
  slot.fixed = InOwnReadOnlySegment(name);
  slot.at = name;
  return slot.text;
}

BSTR NameText(const OLECHAR* name) {
  if (name == nullptr) return nullptr;
  thread_local std::array<KeptName, 64> kept;
  KeptName& slot = kept[(reinterpret_cast<uintptr_t>(name) / sizeof(OLECHAR)) % kept.size()];
  if (slot.at == name && (slot.fixed || StillKept(slot, name))) return slot.text;
  return KeepName(slot, name);
}

[[noreturn]] void RaisePointer(KXComException& ctx, int line) {
  ThrowKXComExceptionHrAt(ctx, SourceLocation{kFile, line}, E_POINTER, nullptr);
}

void ReadValue(KXComException& ctx, IKXQAttribute* attribute, const VARIANT& index,
               const VARIANT& unit, _variant_t& value) {
  KX_CHECK(ctx, attribute->GetValue(index, unit, &value));
}

// The text of a present value: a text as it is, any other value in its XML
// form. A text held by value is taken over, not copied.
void ValueText(_variant_t& value, _bstr_t& text) {
  if (value.vt == VT_BSTR) {
    text.Attach(value.bstrVal);
    value.vt = VT_EMPTY;
    value.bstrVal = nullptr;
    return;
  }
  const VARIANT& v = ResolveVariant(value);
  if (v.vt == VT_BSTR) {
    text = _bstr_t(v.bstrVal, true);
    return;
  }
  if (v.vt == (VT_BYREF | VT_BSTR)) {
    text = _bstr_t(v.pbstrVal != nullptr ? *v.pbstrVal : nullptr, true);
    return;
  }
  BSTR formatted = nullptr;
  VariantUtil::FormatForXML(v, &formatted);
  text.Attach(formatted);
}

void PutValue(KXComException& ctx, IKXQAttribute* attribute, const VARIANT& index,
              const VARIANT& unit, const VARIANT& value) {
  KX_CHECK(ctx, attribute->PutValue(index, unit, value));
}

}  // namespace

BSTR AttributeNameText(const OLECHAR* name) { return NameText(name); }

void GetAttributeInterface(IKXQObject* object, const OLECHAR* name, IKXQAttributePtr& attribute) {
  KXDBDatasheetSvcs::GetAttribute(object, attribute, name, _variant_t());
}

void GetAttributeInterfaceAt(IKXQObject* object, const OLECHAR* name, IKXQAttributePtr& attribute,
                             int32_t selector) {
  // A plain VT_I4 holds nothing to free: no _variant_t to clear afterwards.
  VARIANT index;
  VariantInit(&index);
  index.vt = VT_I4;
  index.lVal = selector;
  KXDBDatasheetSvcs::GetAttribute(object, attribute, name, index);
}

int32_t GetAttributeInterfaceAndCount(IKXQObject* object, const OLECHAR* name,
                                      IKXQAttributePtr& attribute, const VARIANT& selector) {
  KXComException ctx = KXComException::Silent();
  KXDBDatasheetSvcs::GetAttribute(object, attribute, name, selector);
  if (!attribute) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, nullptr);
  return GetAttributeCount(attribute);
}

int32_t GetAttributeInterfaceAndCountByName(IKXQObject* object, const OLECHAR* name,
                                            IKXQAttributePtr& attribute) {
  return GetAttributeInterfaceAndCount(object, name, attribute, _variant_t());
}

void SetAttributeLong(IKXQObject* object, const OLECHAR* name, int32_t value, int32_t selector) {
  KXComException ctx = KXComException::Silent();
  IKXQAttributePtr attribute;
  GetAttributeInterfaceAt(object, name, attribute, selector);
  if (!attribute) RaisePointer(ctx, __LINE__);
  PutValue(ctx, attribute, _variant_t(), _variant_t(), _variant_t(static_cast<int>(value), VT_I4));
}

void SetAttributeStringByName(IKXQObject* object, const OLECHAR* name, const OLECHAR* text,
                              int32_t selector) {
  KXComException ctx = KXComException::Silent();
  IKXQAttributePtr attribute;
  GetAttributeInterfaceAt(object, name, attribute, selector);
  if (!attribute) RaisePointer(ctx, __LINE__);
  PutValue(ctx, attribute, _variant_t(), _variant_t(), TextVariant(text));
}

namespace {

HRESULT VariantToInterfaceOf(const VARIANT& value, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  const VARIANT& v = ResolveVariant(value);
  IUnknown* unknown = nullptr;
  switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_ERROR: return S_OK;
    case VT_UNKNOWN: unknown = v.punkVal; break;
    case VT_DISPATCH: unknown = v.pdispVal; break;
    case VT_BYREF | VT_UNKNOWN: unknown = v.ppunkVal != nullptr ? *v.ppunkVal : nullptr; break;
    case VT_BYREF | VT_DISPATCH: unknown = v.ppdispVal != nullptr ? *v.ppdispVal : nullptr; break;
    default: return DISP_E_TYPEMISMATCH;
  }
  if (unknown == nullptr) return S_OK;
  return unknown->QueryInterface(iid, out);
}

}  // namespace

HRESULT VariantToInterface(const VARIANT& value, IKXQObjectFilter** out) {
  return VariantToInterfaceOf(value, IID_IKXQObjectFilter, reinterpret_cast<void**>(out));
}

HRESULT VariantToDispatch(const VARIANT& value, IDispatch** out) {
  return VariantToInterfaceOf(value, IID_IDispatch, reinterpret_cast<void**>(out));
}

HRESULT VariantToInterface(const VARIANT& value, IKXQClassView** out) {
  return VariantToInterfaceOf(value, IID_IKXQClassView, reinterpret_cast<void**>(out));
}

namespace KXDBDatasheetSvcs {

void GetAttribute(IKXQObject* object, IKXQAttributePtr& attribute, const OLECHAR* name,
                  const VARIANT& selector) {
  KXComException ctx = KXComException::Silent();
  if (object == nullptr) RaisePointer(ctx, __LINE__);
  attribute = nullptr;
  // An [in] VARIANT goes by value and stays the caller's: no copy needed.
  KX_CHECK(ctx, object->get_Attribute(NameText(name), selector, &attribute));
}

bool GetAttributeBoolean(IKXQAttribute* attribute, bool* hasValue) {
  KXComException ctx = KXComException::Silent();
  if (attribute == nullptr) RaisePointer(ctx, __LINE__);
  if (hasValue != nullptr) *hasValue = false;
  _variant_t value;
  ReadValue(ctx, attribute, _variant_t(), _variant_t(), value);
  if (!IsVariantSet(value)) return false;
  bool result = false;
  const HRESULT hr = VariantToBool(value, &result, true);
  if (FAILED(hr)) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), hr, u"Cannot coerce attribute to a Boolean");
  }
  if (hasValue != nullptr) *hasValue = true;
  return result;
}

int32_t GetAttributeIntegerAt(IKXQAttribute* attribute, int32_t index, bool* hasValue) {
  return ReadAttributeInteger(attribute, IndexVariant(index), hasValue);
}

double GetAttributeReal(IKXQAttribute* attribute, const OLECHAR* unit, bool* hasValue) {
  KXComException ctx = KXComException::Silent();
  if (attribute == nullptr) RaisePointer(ctx, __LINE__);
  if (hasValue != nullptr) *hasValue = false;
  _variant_t unitValue;
  if (unit != nullptr) unitValue = _variant_t(unit);
  _variant_t value;
  ReadValue(ctx, attribute, _variant_t(), unitValue, value);
  if (!IsVariantSet(value)) return 0.0;
  double result = 0.0;
  const HRESULT hr = VariantToDouble(value, &result, true);
  if (FAILED(hr)) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), hr, u"Cannot coerce attribute to a real");
  }
  if (hasValue != nullptr) *hasValue = true;
  return result;
}

void GetAttributeObject(IKXQAttribute* attribute, IKXQObjectPtr& object) {
  KXComException ctx = KXComException::Silent();
  if (attribute == nullptr) RaisePointer(ctx, __LINE__);
  object = nullptr;
  _variant_t value;
  ReadValue(ctx, attribute, _variant_t(), _variant_t(), value);
  IKXQObject* found = nullptr;
  const HRESULT hr = VariantToObjectPtr(value, &found);
  if (FAILED(hr)) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), hr,
                            u"Cannot coerce attribute value into an object");
  }
  object.Attach(found);
}

void GetAttributeObjectAt(IKXQAttribute* attribute, IKXQObjectPtr& object, int32_t index) {
  GetAttributeAsObject(attribute, index, object);
}

void GetAttributeValueString(IKXQAttribute* attribute, _bstr_t& text, bool* hasValue) {
  KXComException ctx = KXComException::Silent();
  if (attribute == nullptr) RaisePointer(ctx, __LINE__);
  text = _bstr_t();
  if (hasValue != nullptr) *hasValue = false;
  _variant_t value;
  ReadValue(ctx, attribute, _variant_t(), _variant_t(), value);
  ValueReadText(value, text, hasValue);
}

void ValueReadText(_variant_t& value, _bstr_t& text, bool* hasValue) {
  text = _bstr_t();
  if (hasValue != nullptr) *hasValue = false;
  if (!IsVariantSet(value)) return;
  ValueText(value, text);
  if (hasValue != nullptr) *hasValue = true;
}

void GetAttributeValueStringAt(IKXQAttribute* attribute, int32_t index, _bstr_t& text,
                               bool* hasValue) {
  KXComException ctx = KXComException::Silent();
  if (attribute == nullptr) RaisePointer(ctx, __LINE__);
  text = _bstr_t();
  if (hasValue != nullptr) *hasValue = false;
  // A text is copied once, from where the store holds it. Any other value,
  // or a read the store refuses there, is read the usual way below.
  struct Copy {
    _bstr_t& text;
    bool failed = false;
  } copy{text};
  const auto take = [](void* context, const OLECHAR* chars, LONG length) {
    Copy& c = *static_cast<Copy*>(context);
    const BSTR held = SysAllocStringLen(chars, static_cast<UINT>(length));
    c.failed = held == nullptr;
    c.text.Attach(held);
  };
  const HRESULT hr = attribute->ReadTextAt(index, take, &copy);
  if (hr == S_FALSE) return;
  if (hr == S_OK && !copy.failed) {
    if (hasValue != nullptr) *hasValue = text.length() > 0;
    return;
  }
  // Refused or failed: the read below answers as it always did, its own
  // failure's error information replacing any the store set here.
  // Read for every entry of a list: the position and the absent unit are
  // plain values that need no clearing.
  const VARIANT position = PositionVariant(index);
  VARIANT noUnit;
  VariantInit(&noUnit);
  _variant_t value;
  ReadValue(ctx, attribute, position, noUnit, value);
  if (!IsVariantSet(value)) return;
  ValueText(value, text);
  if (hasValue != nullptr) *hasValue = text.length() > 0;
}

const _bstr_t& GetAttributeStringAt(IKXQAttribute* attribute, _bstr_t& text, int32_t index,
                                    bool* hasValue) {
  GetAttributeValueStringAt(attribute, index, text, hasValue);
  return text;
}

const _bstr_t& GetAttributeUnit(IKXQAttribute* attribute, _bstr_t& unit, const OLECHAR* which) {
  KXComException ctx = KXComException::Silent();
  if (attribute == nullptr) RaisePointer(ctx, __LINE__);
  _variant_t whichValue;
  if (which != nullptr && which[0] != 0) whichValue = _variant_t(which);
  KX_CHECK(ctx, attribute->get_UnitText(whichValue, unit.GetAddress()));
  return unit;
}

_com_ptr_t<IKXQValueReads> ValueReadsOf(IKXQObject* object) {
  _com_ptr_t<IKXQValueReads> reads;
  if (object == nullptr || FAILED(object->QueryInterface(kx_uuidof<IKXQValueReads>(),
                                                         reinterpret_cast<void**>(&reads)))) {
    return nullptr;
  }
  return reads;
}

bool ReadIntegerByName(IKXQObject* object, const OLECHAR* name, const VARIANT& index,
                       int32_t* value) {
  const _com_ptr_t<IKXQValueReads> reads = ValueReadsOf(object);
  if (!reads) return false;
  BSTR names[] = {NameText(name)};
  VARIANT_BOOL defined = VARIANT_FALSE;
  VARIANT read;
  if (FAILED(reads->ReadValues(1, names, index, &defined, &read))) return false;
  if (read.vt == VT_I4) {
    // The store's own form of an integer: nothing to convert or free.
    *value = defined == VARIANT_FALSE ? 0 : read.lVal;
    return true;
  }
  const _variant_t held(read, false);
  *value = 0;
  if (defined == VARIANT_FALSE || !IsVariantSet(held)) return true;
  LONG number = 0;
  if (FAILED(VariantToLong(held, &number, true))) return false;
  *value = number;
  return true;
}

void GetAttributeString(IKXQObject* object, _bstr_t& text, const OLECHAR* name, int32_t selector) {
  // Where the store answers it, one call reads the value: no attribute
  // object is made for it. An attribute the class lacks, or a failure, is
  // asked again below, to fail as it always has.
  if (const _com_ptr_t<IKXQValueReads> reads = ValueReadsOf(object)) {
    BSTR names[] = {NameText(name)};
    VARIANT_BOOL defined = VARIANT_FALSE;
    VARIANT value;
    VARIANT whole;
    VariantInit(&whole);
    if (SUCCEEDED(reads->ReadValues(1, names, whole, &defined, &value))) {
      _variant_t read(value, false);
      if (defined != VARIANT_FALSE) {
        ValueReadText(read, text);
        return;
      }
    }
  }
  KXComException ctx = KXComException::Silent();
  IKXQAttributePtr attribute;
  GetAttributeInterfaceAt(object, name, attribute, selector);
  if (!attribute) RaisePointer(ctx, __LINE__);
  GetAttributeValueString(attribute, text);
}

void GetAttributeObjectByName(IKXQObject* object, IKXQObjectPtr& value, const OLECHAR* name) {
  KXComException ctx = KXComException::Silent();
  IKXQAttributePtr attribute;
  GetAttributeInterfaceAt(object, name, attribute, -1);
  if (!attribute) RaisePointer(ctx, __LINE__);
  GetAttributeObject(attribute, value);
}

void GetObjectAttribute(IKXQObject* object, IKXQObjectPtr& value, const OLECHAR* name) {
  KXComException ctx = KXComException::Silent();
  value = nullptr;
  IKXQAttributePtr attribute;
  GetAttributeInterface(object, name, attribute);
  if (!attribute) RaisePointer(ctx, __LINE__);
  LONG type = 0;
  KX_CHECK(ctx, attribute->get_DataType(&type));
  if (type != kObjectDataType) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                            u"Attribute %ls is not an object attribute", name);
  }
  LONG count = 0;
  KX_CHECK(ctx, attribute->get_Count(&count));
  for (int32_t i = 1; i <= count; ++i) {
    _variant_t item;
    ReadValue(ctx, attribute, IndexVariant(i), _variant_t(), item);
    GetObjectFromVariant(value, item, nullptr);
    if (value) return;
  }
}

void GetObjectClass(IKXQObject* object, IKXQClassPtr& cls) {
  cls = nullptr;
  if (object == nullptr) return;
  KXComException ctx = KXComException::Silent();
  try {
    KX_CHECK(ctx, object->get_Class(&cls));
  }
  KX_CATCH(ctx, KX_HERE(kFile))
  if (FAILED(ctx.hr)) {
    // The failure is absorbed: callers test the class for null.
    cls = nullptr;
    ctx.Absorb();
  }
}

void GetObjectName(IKXQObject* object, _bstr_t& name, bool option) {
  name = _bstr_t();
  if (object == nullptr) return;
  KXComException ctx = KXComException::Silent();
  KX_CHECK(ctx, object->get_Name(_variant_t(option), name.GetAddress()));
}

void GetClassText(IKXQClass* cls, _bstr_t& text) {
  text = _bstr_t();
  if (cls == nullptr) return;
  KXComException ctx = KXComException::Silent();
  KX_CHECK(ctx, cls->get_Description(text.GetAddress()));
}

bool IsObjectOfClass(IKXQObject* object, const OLECHAR* className) {
  if (object == nullptr) return false;
  KXComException ctx = KXComException::Silent();
  VARIANT_BOOL is = VARIANT_FALSE;
  // The name is lent to the call, not copied for it.
  VARIANT name;
  VariantInit(&name);
  name.vt = VT_BSTR;
  name.bstrVal = NameText(className);
  KX_CHECK(ctx, object->IsOfClass(name, &is));
  return is != VARIANT_FALSE;
}

bool ClassHasAttribute(IKXQObject* object, const OLECHAR* attributeName) {
  KXComException ctx = KXComException::Silent();
  if (object == nullptr) RaisePointer(ctx, __LINE__);
  IKXQClassPtr cls;
  GetObjectClass(object, cls);
  if (!cls) RaisePointer(ctx, __LINE__);
  VARIANT_BOOL has = VARIANT_FALSE;
  // The test's HRESULT is not examined: a failed test answers false.
  (void)cls->HasAttribute(NameText(attributeName), &has);
  return has == VARIANT_TRUE;
}

void SetAttributeBoolean(IKXQAttribute* attribute, bool value) {
  KXComException ctx = KXComException::Silent();
  if (attribute == nullptr) RaisePointer(ctx, __LINE__);
  PutValue(ctx, attribute, _variant_t(), _variant_t(), _variant_t(value));
}

void SetAttributeInteger(IKXQAttribute* attribute, int32_t value) {
  KXComException ctx = KXComException::Silent();
  if (attribute == nullptr) RaisePointer(ctx, __LINE__);
  PutValue(ctx, attribute, _variant_t(), _variant_t(), _variant_t(static_cast<int>(value), VT_I4));
}

void SetAttributeIntegerAt(IKXQAttribute* attribute, int32_t index, int32_t value) {
  KXComException ctx = KXComException::Silent();
  if (attribute == nullptr) RaisePointer(ctx, __LINE__);
  PutValue(ctx, attribute, IndexVariant(index), _variant_t(),
           _variant_t(static_cast<int>(value), VT_I4));
}

void SetAttributeObjectAt(IKXQAttribute* attribute, int32_t index, IKXQObject* object) {
  KXComException ctx = KXComException::Silent();
  if (attribute == nullptr) RaisePointer(ctx, __LINE__);
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_DISPATCH;
  value.pdispVal = object;  // borrowed: the store adds its own reference
  PutValue(ctx, attribute, IndexVariant(index), _variant_t(), value);
}

void SetAttributeReal(IKXQAttribute* attribute, const OLECHAR* unit, double value) {
  KXComException ctx = KXComException::Silent();
  if (attribute == nullptr) RaisePointer(ctx, __LINE__);
  _variant_t unitValue;
  unitValue.vt = VT_BSTR;
  unitValue.bstrVal = nullptr;  // a null string when no unit is given
  if (unit != nullptr) unitValue = _variant_t(unit);
  PutValue(ctx, attribute, _variant_t(), unitValue, _variant_t(value));
}

void SetAttributeString(IKXQAttribute* attribute, const OLECHAR* text) {
  KXComException ctx = KXComException::Silent();
  if (attribute == nullptr) RaisePointer(ctx, __LINE__);
  PutValue(ctx, attribute, _variant_t(), _variant_t(), TextVariant(text));
}

void InsertAttributeValue(IKXQAttribute* attribute, int32_t position) {
  KXComException ctx = KXComException::Silent();
  if (attribute == nullptr) RaisePointer(ctx, __LINE__);
  KX_CHECK(ctx, attribute->InsertValues(position, 1));
}

void RemoveAttributeValue(IKXQAttribute* attribute, int32_t position) {
  KXComException ctx = KXComException::Silent();
  if (attribute == nullptr) RaisePointer(ctx, __LINE__);
  KX_CHECK(ctx, attribute->RemoveValues(position, 1));
}

void ResizeAttributeValues(IKXQAttribute* attribute, int32_t count) {
  KXComException ctx = KXComException::Silent();
  const int32_t current = GetAttributeCount(attribute);
  if (count < current) {
    KX_CHECK(ctx, attribute->RemoveValues(count + 1, current - count));
  } else if (count > current) {
    KX_CHECK(ctx, attribute->InsertValues(current + 1, count - current));
  }
}

int CompareNatural(const OLECHAR* a, const OLECHAR* b) {
  const OLECHAR* p = a != nullptr ? a : u"";
  const OLECHAR* q = b != nullptr ? b : u"";
  for (;;) {
    if (*p == 0 && *q == 0) return 0;
    if (*p == 0) return -1;
    if (*q == 0) return 1;
    if (kx_iswdigit(*p) && kx_iswdigit(*q)) {
      // Digit runs compare by value however long they are: without leading
      // zeros the longer run is the larger number, equal lengths compare
      // digit by digit.
      while (*p == u'0' && kx_iswdigit(p[1])) ++p;
      while (*q == u'0' && kx_iswdigit(q[1])) ++q;
      const OLECHAR* pEnd = p;
      const OLECHAR* qEnd = q;
      while (kx_iswdigit(*pEnd)) ++pEnd;
      while (kx_iswdigit(*qEnd)) ++qEnd;
      if (pEnd - p != qEnd - q) return pEnd - p < qEnd - q ? -1 : 1;
      for (; p != pEnd; ++p, ++q) {
        if (*p != *q) return static_cast<int>(*p) - static_cast<int>(*q);
      }
      q = qEnd;
      continue;
    }
    const int cp = kx_towlower(*p);
    const int cq = kx_towlower(*q);
    if (cp != cq) return cp - cq;
    ++p;
    ++q;
  }
}

void AppendNaturalKey(const OLECHAR* text, std::u16string& key) {
  // kx_iswdigit and kx_towlower, spelt out here: a listing makes a key of
  // every title, and the library's calls cost more than their tests. For
  // the same reason the key is made in a buffer and appended a piece at a
  // time, not grown a unit at a time.
  const auto digit = [](OLECHAR c) { return c >= u'0' && c <= u'9'; };
  const auto lower = [](OLECHAR c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<OLECHAR>(c + 32) : c;
  };
  constexpr size_t kPiece = 256;
  OLECHAR piece[kPiece];
  size_t used = 0;
  const auto room = [&](size_t units) {
    if (used + units > kPiece) {
      key.append(piece, used);
      used = 0;
    }
  };
  const OLECHAR* p = text != nullptr ? text : u"";
  while (*p != 0) {
    if (!digit(*p)) {
      room(1);
      piece[used++] = lower(*p);
      ++p;
      continue;
    }
    while (*p == u'0' && digit(p[1])) ++p;
    const OLECHAR* end = p;
    while (digit(*end)) ++end;
    const auto length = static_cast<uint32_t>(end - p);
    room(3);
    piece[used++] = u'0';
    piece[used++] = static_cast<char16_t>(length >> 16);
    piece[used++] = static_cast<char16_t>(length & 0xFFFFu);
    for (; p != end; ++p) {
      room(1);
      piece[used++] = *p;
    }
  }
  key.append(piece, used);
}

}  // namespace KXDBDatasheetSvcs
