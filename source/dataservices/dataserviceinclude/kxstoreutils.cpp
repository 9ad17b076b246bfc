#include "kxstoreutils.h"

#include "com/enumvariant.h"
#include "com/wstr.h"
#include "kxcomexception.h"
#include "kxvalueutils.h"

namespace {

const OLECHAR kFile[] = u"source/dataservices/dataserviceinclude/dataserviceutils";

_variant_t IndexVariant(int32_t index) {
  if (index == 0) return _variant_t();
  return _variant_t(static_cast<int>(index), VT_I4);
}

}  // namespace

void GetStoreObject(IKXQDatabase* database, IKXQObjectPtr& object, int32_t id) {
  KXComException ctx = KXComException::Silent();
  object = nullptr;
  if (database == nullptr) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"Do not have access to object store");
  }
  KX_CHECK(ctx, database->get_Object(id, &object));
}

int32_t ObjectIdOf(IKXQObject* object) {
  LONG id = 0;
  if (object != nullptr && FAILED(object->get_Id(&id))) id = 0;
  return id;
}

void GetOwnerObject(IKXQObject* held, IKXQObjectPtr& owner) {
  KXComException ctx = KXComException::Silent();
  owner = nullptr;
  if (held == nullptr) return;
  KX_CHECK(ctx, held->GetOwner(&owner, 0));
}

int32_t GetAttributeCount(IKXQAttribute* attribute) {
  KXComException ctx = KXComException::Silent();
  if (attribute == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  LONG count = 0;
  KX_CHECK(ctx, attribute->get_Count(&count));
  return count;
}

int32_t GetAttributeAsInteger(IKXQAttribute* attribute, bool* hasValue) {
  return ReadAttributeInteger(attribute, _variant_t(), hasValue);
}

int32_t ReadAttributeInteger(IKXQAttribute* attribute, const VARIANT& index, bool* hasValue) {
  KXComException ctx = KXComException::Silent();
  if (hasValue != nullptr) *hasValue = false;
  if (attribute == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  _variant_t value;
  KX_CHECK(ctx, attribute->GetValue(index, _variant_t(), &value));
  if (!IsVariantSet(value)) return 0;
  LONG result = 0;
  const HRESULT hr = VariantToLong(value, &result, true);
  if (FAILED(hr)) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), hr, u"Cannot coerce attribute to an integer");
  }
  if (hasValue != nullptr) *hasValue = true;
  return result;
}

void GetAttributeAsObject(IKXQAttribute* attribute, int32_t index, IKXQObjectPtr& object) {
  KXComException ctx = KXComException::Silent();
  object = nullptr;
  if (attribute == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  _variant_t value;
  KX_CHECK(ctx, attribute->GetValue(IndexVariant(index), _variant_t(), &value));
  const HRESULT hr = VariantToObjectPtr(value, &object);
  if (FAILED(hr)) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), hr,
                            u"Cannot coerce attribute value into an object");
  }
}

void SetAttributeValueAt(IKXQAttribute* attribute, int32_t index, const OLECHAR* text) {
  KXComException ctx = KXComException::Silent();
  if (attribute == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  _variant_t value(text);
  KX_CHECK(ctx,
           attribute->PutValue(_variant_t(static_cast<int>(index), VT_I4), _variant_t(), value));
}

bool ListHoldsObject(IKXQAttribute* list, IKXQObject* wanted) {
  KXComException ctx = KXComException::Silent();
  if (list == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  if (wanted == nullptr) return false;
  VARIANT_BOOL holds = VARIANT_FALSE;
  KX_CHECK(ctx, list->ContainsObject(wanted, &holds));
  return holds != VARIANT_FALSE;
}

bool AttributeContainsObject(IKXQObject* object, const OLECHAR* name, IKXQObject* wanted) {
  KXComException ctx = KXComException::Silent();
  IKXQAttributePtr attribute;
  if (object != nullptr) {
    KX_CHECK(ctx, object->get_Attribute(_bstr_t(name), _variant_t(), &attribute));
  }
  if (!attribute) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"Attribute %ls is not accessible", name);
  }
  return ListHoldsObject(attribute, wanted);
}

void ForEachClassInstance(IKXQSchema* schema, const OLECHAR* className,
                          const std::function<void(IKXQObject*)>& visit) {
  KXComException ctx = KXComException::Silent();
  if (schema == nullptr) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"Do not have access to object store");
  }
  IKXQClassPtr cls;
  KX_CHECK(ctx, schema->get_Class(_bstr_t(className), &cls));
  if (!cls) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"Class %ls is not defined in the schema",
                            className);
  }
  _com_ptr_t<IKXQObjectCollection> instances;
  KX_CHECK(ctx, cls->get_Instances(&instances));
  CheckPointerArgument(ctx, instances.GetInterfacePtr());
  _com_ptr_t<IUnknown> unknown;
  KX_CHECK(ctx, instances->get__NewEnum(&unknown));
  CheckPointerArgument(ctx, unknown.GetInterfacePtr());
  _com_ptr_t<IEnumVARIANT> items;
  KX_CHECK(ctx,
           unknown->QueryInterface(kx_uuidof<IEnumVARIANT>(), reinterpret_cast<void**>(&items)));
  for (;;) {
    _variant_t item;
    ULONG fetched = 0;
    const HRESULT hr = items->Next(1, &item, &fetched);
    if (FAILED(hr)) KX_CHECK(ctx, hr);
    if (hr != S_OK || fetched == 0) return;
    const VARIANT& value = ResolveVariant(item);
    if (value.vt == VT_EMPTY || value.vt == VT_NULL) continue;
    if ((value.vt == VT_DISPATCH || value.vt == VT_UNKNOWN) && value.punkVal == nullptr) continue;
    IKXQObjectPtr object;
    if (value.vt == VT_DISPATCH || value.vt == VT_UNKNOWN) {
      (void)value.punkVal->QueryInterface(kx_uuidof<IKXQObject>(),
                                          reinterpret_cast<void**>(&object));
    }
    if (!object) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER,
                              u"An instance of class %ls is not a database object", className);
    }
    visit(object);
  }
}

namespace KXDBDatasheetSvcs {

void GetObjectFromVariant(IKXQObjectPtr& object, const VARIANT& value, IKXQDatabase* database) {
  KXComException ctx = KXComException::Silent();
  object = nullptr;
  const VARIANT& v = ResolveVariant(value);
  switch (GetVariantTypeClass(v)) {
    case VT_NULL: return;
    case VT_I4: {
      LONG id = 0;
      KX_CHECK(ctx, VariantToLong(v, &id, false));
      if (id == 0) return;
      if (id < 0 || database == nullptr) break;
      KX_CHECK(ctx, database->get_Object(id, &object));
      return;
    }
    case VT_UNKNOWN: {
      IKXQObject* found = nullptr;
      KX_CHECK(ctx, VariantToObjectPtr(v, &found));
      object.Attach(found);
      return;
    }
    default: break;
  }
  ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"Unable to coerce argument to an KXObject");
}

}  // namespace KXDBDatasheetSvcs

namespace KXDBDatasheetSvcs {

_bstr_t GetHoldingAttributeName(IKXQObject* object) {
  KXComException ctx = KXComException::Silent();
  if (object == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  _bstr_t name;
  KX_CHECK(ctx, object->get_HoldingAttributeName(name.GetAddress()));
  return name;
}

int32_t GetPageStatusFromHoldingName(const OLECHAR* name) {
  const std::u16string_view text = name != nullptr ? std::u16string_view(name) : u"";
  if (kx_wcsicmp(text, u"SubmittedPages") == 0) return 2;
  if (kx_wcsicmp(text, u"CheckedPages") == 0) return 3;
  if (kx_wcsicmp(text, u"IssuedPages") == 0) return 4;
  return 1;
}

int32_t GetPageStatus(IKXQObject* page) {
  const _bstr_t holder = GetHoldingAttributeName(page);
  return GetPageStatusFromHoldingName(holder.length() > 0 ? static_cast<const OLECHAR*>(holder)
                                                          : nullptr);
}

void RefuseStatusCopy(IKXQObject* page, int32_t lowest) {
  static constexpr const OLECHAR* kVersions[] = {u"submitted", u"checked", u"issued"};
  const int32_t status = GetPageStatus(page);
  if (status < 2 || status < lowest || status > 4) return;
  KXComException ctx = KXComException::Silent();
  const OLECHAR* version = kVersions[status - 2];
  ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG,
                          u"Page %d is %ls %ls copy, not a current page: it keeps what was %ls",
                          static_cast<int>(ObjectIdOf(page)), status == 4 ? u"an" : u"a", version,
                          version);
}

}  // namespace KXDBDatasheetSvcs
