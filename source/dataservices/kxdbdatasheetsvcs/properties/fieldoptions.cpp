#include "properties/fieldoptions.h"

#include <string>

#include "fieldmodel/fieldutils.h"
#include "kxattributeutils.h"
#include "kxstoreutils.h"
#include "kxvalueutils.h"
#include "loader/fieldassert.h"
#include "model/kxdbdatasheetutils.h"
#include "variantutil.h"
#include "xmlreply.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/fieldoptions";
constexpr FrameOptions kWorkerFrame{.file = kFile, .silent = true};
constexpr OLECHAR kFieldDataMissing[] = u"FieldDataMissing";

// Asserts the field as a value write does. False, with the failure in
// `failure` and the thread's error information cleared, when it fails.
bool TryAssertField(MainContext& main, IKXQObject* page, bool continuous, int32_t fieldId,
                    int32_t row, const OLECHAR* confirmedClass, AssertedField& out,
                    KXComException& failure) {
  try {
    if (continuous) {
      AssertContinuousListField(main, page, fieldId, row, confirmedClass, out);
    } else {
      FieldUtils::AssertField(main, page, fieldId, confirmedClass, out);
    }
    return true;
  } catch (const KXComException& caught) {
    failure = caught;
    ClearThreadErrorInfo();
    return false;
  }
}

// The field's object at its root node (on a list, at `row`).
IKXQObjectPtr RootObject(IKXQObject* page, IKXQTemplateField* field, int32_t row) {
  IKXQObjectPtr root;
  if (row >= 0) {
    FieldUtils::GetFieldRootObject(page, field, row, root);
  } else {
    FieldUtils::GetFieldRootObject(page, field, root);
  }
  return root;
}

bool ClassHasMethod(KXComException& ctx, IKXQObject* object, const OLECHAR* method) {
  IKXQClassPtr cls;
  KX_CHECK(ctx, object->get_Class(&cls));
  if (!cls) return false;
  VARIANT_BOOL has = VARIANT_FALSE;
  KX_CHECK(ctx, cls->HasMethod(_bstr_t(method), &has));
  return has != VARIANT_FALSE;
}

// The arguments of "FieldDataMissing": the template's name, the first node
// below the field's root node, and the route from there to the field's
// attribute ("Node.Node.Attribute").
void FieldDataMissingArguments(KXComException& ctx, IKXQObject* page,
                               IKXQTemplatePage* templatePage, IKXQTemplateField* field,
                               _bstr_t (&args)[3]) {
  IKXQTemplatePtr tmpl;
  KX_CHECK(ctx, templatePage->get_Template(&tmpl));
  CheckPointerArgument(ctx, tmpl.GetInterfacePtr());
  KX_CHECK(ctx, tmpl->get_Name(args[0].GetAddress()));
  int32_t qualifier = -1;
  SAFEARRAY* list = nullptr;
  FieldUtils::GetFieldQualifier(page, field, &qualifier, &list);
  VariantUtil::SafeArrayVector nodes(list, true);
  if (nodes.Array() == nullptr && list != nullptr) SafeArrayDestroy(list);
  std::u16string route;
  for (int32_t i = 1; i < nodes.Count(); ++i) {
    IKXQClassViewPtr node;
    KX_CHECK(ctx, nodes.GetClassViewAt(i, &node));
    CheckPointerArgument(ctx, node.GetInterfacePtr());
    _bstr_t name;
    KX_CHECK(ctx, node->get_Name(name.GetAddress()));
    if (i == 1) args[1] = name;
    route += name.view();
    route += u".";
  }
  _bstr_t attribute;
  KX_CHECK(ctx, field->get_AttributeName(attribute.GetAddress()));
  route += attribute.view();
  args[2] = route.c_str();
}

// Gives the class of `root` its chance to supply the field's missing data.
// Its result and failure do not count: only the next assertion does.
void CallFieldDataMissing(KXComException& ctx, IKXQObject* root, IKXQObject* page,
                          IKXQTemplatePage* templatePage, IKXQTemplateField* field) {
  _bstr_t args[3];
  FieldDataMissingArguments(ctx, page, templatePage, field, args);
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 1, 3);
  if (array == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_OUTOFMEMORY, nullptr);
  for (LONG i = 0; i < 3; ++i) {
    _variant_t value(args[i].length() > 0 ? static_cast<const OLECHAR*>(args[i]) : u"");
    LONG index = i + 1;
    const HRESULT hr = SafeArrayPutElement(array, &index, &value);
    if (FAILED(hr)) {
      SafeArrayDestroy(array);
      KX_CHECK(ctx, hr);
    }
  }
  _variant_t result;
  (void)root->CallMethod(_bstr_t(kFieldDataMissing), array, &result);
  SafeArrayDestroy(array);
  ClearThreadErrorInfo();
}

// The text of one option; false for entries that offer nothing (no value,
// an error value, a null object, an empty text).
bool OptionText(const VARIANT& raw, _bstr_t& text) {
  const VARIANT& value = ResolveVariant(raw);
  switch (value.vt) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_ERROR: return false;
    case VT_BSTR: text = value.bstrVal; return text.length() > 0;
    case VT_DISPATCH:
    case VT_UNKNOWN: {
      if (value.punkVal == nullptr) return false;
      IKXQObjectPtr object;
      (void)value.punkVal->QueryInterface(kx_uuidof<IKXQObject>(),
                                          reinterpret_cast<void**>(&object));
      if (!object) return false;
      KXDBDatasheetSvcs::GetObjectName(object, text, false);
      return text.length() > 0;
    }
    default: {
      BSTR formatted = nullptr;
      VariantUtil::FormatForXML(value, &formatted);
      text = _bstr_t(formatted, false);
      return text.length() > 0;
    }
  }
}

// One "Option" element per entry of `options` (owned; may be null).
void WriteOptions(HostConnection& reply, SAFEARRAY* options) {
  if (options == nullptr) return;
  VariantUtil::SafeArrayVector items;
  if (FAILED(items.Attach(options, true))) {
    ClearThreadErrorInfo();
    SafeArrayDestroy(options);
    return;
  }
  for (int32_t i = 0; i < items.Count(); ++i) {
    LONG index = items.LowerBound() + i;
    _variant_t element;
    if (FAILED(
            VariantUtil::GetSafeArrayElement(items.Array(), items.Vartype(), &index, &element))) {
      ClearThreadErrorInfo();
      continue;
    }
    _bstr_t text;
    if (!OptionText(element, text)) continue;
    XMLReply::WriteElement(reply, u"Option", text.GetBSTR());
  }
}

}  // namespace

const GrammarRecord* GetOptionsSchema::GetSchema() const {
  static constexpr auto kGrammar =
      Grammar::Message(u"GetOptions", FieldAddressAttributes<GetOptionsSchema>(
                                          {Grammar::String(u"ConfirmedClass", ConfirmedClass)}));
  return kGrammar.data();
}

HRESULT GetOptionsMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case ConfirmedClass: return Store(m_confirmedClass, value);
    default: return StoreFieldAddress<GetOptionsSchema>(*this, id, value);
  }
}

HRESULT GetOptionsMessageParser::PopOptions() {
  constexpr auto kMethod = u"GetOptionsMessageParser::PopOptions";
  return ServeRequest(kMethod, kWorkerFrame, [&](KXComException& ctx) {
    MainContext& main = *m_pMain;
    IKXQObjectPtr page;
    GetStoreObject(main.m_pDatabase, page, m_pageId);
    IKXQTemplatePagePtr templatePage;
    KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplatePage(main.m_pApplication, page, &templatePage, 1));
    if (!templatePage) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"Page %d has no template page",
                              static_cast<int>(m_pageId));
    }
    _bstr_t format;
    KX_CHECK(ctx, templatePage->get_ContinuousFormat(format.GetAddress()));
    const bool continuous = format.length() > 0;
    _variant_t number;
    IKXQTemplateFieldPtr field;
    KX_CHECK(ctx, templatePage->GetFieldById(m_fieldId, &number, &field));
    if (!field) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG,
                              u"Field %d is not a field of the page's template",
                              static_cast<int>(m_fieldId));
    }
    const int32_t row = m_index >= 0 ? m_index : -1;

    SAFEARRAY* options = nullptr;
    VARIANT_BOOL perObject = VARIANT_FALSE;
    KX_CHECK(ctx, field->get_OptionsPerObject(&perObject));
    if (perObject == VARIANT_FALSE) {
      if (FAILED(field->get_Options(&options))) ClearThreadErrorInfo();
    } else {
      const OLECHAR* confirmedClass = m_confirmedClass.c_str();
      AssertedField asserted;
      KXComException failure = KXComException::Silent();
      if (!TryAssertField(main, page, continuous, m_fieldId, row, confirmedClass, asserted,
                          failure)) {
        const IKXQObjectPtr root = RootObject(page, field, row);
        if (!root || !ClassHasMethod(ctx, root, kFieldDataMissing)) throw failure;
        CallFieldDataMissing(ctx, root, page, templatePage, field);
        if (!TryAssertField(main, page, continuous, m_fieldId, row, confirmedClass, asserted,
                            failure)) {
          throw failure;
        }
      }
      if (!asserted.holder) return S_OK;  // nothing to offer options for: no reply
      const IKXQObjectPtr root = RootObject(page, field, row);
      if (root && FAILED(field->GetOptionsFor(root, &options))) ClearThreadErrorInfo();
    }

    XMLReply::BeginMessage(Reply(), m_targetId.c_str(), m_status);
    XMLReply::AddLongAttribute(Reply(), u"PageId", m_pageId);
    XMLReply::AddLongAttribute(Reply(), u"FieldId", m_fieldId);
    if (m_index >= 0) XMLReply::AddLongAttribute(Reply(), u"Index", m_index);
    XMLReply::StartElement(Reply(), u"PopOptions");
    WriteOptions(Reply(), options);
    XMLReply::EndElement(Reply(), u"PopOptions");
    XMLReply::EndMessage(Reply());
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::GetOptions(MainContext& main, const OLECHAR* request) {
  return ServeMessage<GetOptionsMessageParser>(main, u"KXDBDatasheetSvcs::GetOptions", request);
}
