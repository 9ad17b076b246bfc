// Placing objects on pages and taking them off belongs to the datasheet
// model's page operations (kxdbdatasheetpages.h). Until those are built the
// field setters use this small form of the three they call; each moves out
// of this file with its signature.
#include "continuouspageadvisor.h"
#include "kxcomexception.h"
#include "kxdbdatasheetpages.h"
#include "main.h"

namespace KXDBDatasheetSvcs {

namespace {

bool IsContinuousPage(IKXQTemplatePage* templatePage) {
  KXComException ctx = KXComException::Silent();
  _bstr_t format;
  KX_CHECK(ctx, templatePage->get_ContinuousFormat(format.GetAddress()));
  return format.length() > 0;
}

}  // namespace

bool PlaceObjectOnPage(IKXQObject* page, IKXQTemplatePage* templatePage, IKXQObject* object,
                       bool /*firstMatch*/) {
  KXComException ctx = KXComException::Silent();
  CheckPointerArgument(ctx, templatePage);
  SAFEARRAY* raw = nullptr;
  KX_CHECK(ctx, templatePage->get_RootNodes(&raw));
  VariantUtil::SafeArrayVector nodes(raw, true);
  if (nodes.Array() == nullptr && raw != nullptr) SafeArrayDestroy(raw);
  _variant_t cls;
  {
    IKXQClassPtr objectClass;
    GetObjectClass(object, objectClass);
    if (!objectClass) return false;
    cls = _variant_t(static_cast<IDispatch*>(objectClass.GetInterfacePtr()));
  }
  for (int32_t i = 0; i < nodes.Count(); ++i) {
    IKXQClassViewPtr node;
    if (FAILED(nodes.GetClassViewAt(i, &node)) || !node) {
      ClearThreadErrorInfo();
      continue;
    }
    VARIANT_BOOL accepts = VARIANT_FALSE;
    KX_CHECK(ctx, node->AcceptsClass(cls, nullptr, &accepts));
    if (accepts != VARIANT_TRUE) continue;
    IKXQObjectPtr present;
    GetNodeObject(present, page, node);
    if (present) continue;
    GetPageNodeObjects(page, node, object, true);
    return true;
  }
  return false;
}

HRESULT AddListObject(Main&, IKXQObject* object, IKXQObject* page, IKXQTemplatePage*, bool,
                      int32_t, bool) {
  KXComException ctx = KXComException::Silent();
  try {
    IKXQAttributePtr objects;
    GetAttributeInterface(page, u"NodeObjects", objects);
    CheckPointerArgument(ctx, objects.GetInterfacePtr());
    SetAttributeObjectAt(objects, GetAttributeCount(objects) + 1, object);
  }
  KX_CATCH(ctx, KX_HERE(u"source/dataservices/kxdbdatasheetsvcs/kxdbdatasheetutils"))
  return ctx.Return();
}

HRESULT RemoveObjectFromPage(Main& main, IKXQObject* page, IKXQObject* object) {
  KXComException ctx = KXComException::Silent();
  try {
    int32_t nodeIndex = -1;
    const int32_t position = GetObjectNodeIndex(page, object, &nodeIndex);
    if (position < 1) return S_OK;
    IKXQTemplatePagePtr templatePage;
    KX_CHECK(ctx, GetTemplatePage(main.m_pApplication, page, &templatePage, 1));
    IKXQAttributePtr objects;
    GetAttributeInterface(page, u"NodeObjects", objects);
    if (nodeIndex >= 0 || !templatePage || !IsContinuousPage(templatePage)) {
      SetAttributeObjectAt(objects, position, nullptr);
      return S_OK;
    }
    // A continuous-list row: the row and its field records close up.
    ContinuousPageHelper& helper = main.GetContinuousPageHelper();
    KX_CHECK(ctx, helper.Initialize(main.m_pApplication, templatePage, page, false));
    const int32_t row = position - helper.FirstRowPosition();
    RemoveAttributeValue(objects, position);
    IKXQAttributePtr fields;
    GetAttributeInterface(page, u"Fields", fields);
    const int32_t perRow = helper.FieldsPerRow();
    const int32_t first = helper.FirstRepeatingField() + row * perRow;
    if (fields && row >= 0 && perRow > 0) {
      for (int32_t i = 0; i < perRow && first <= GetAttributeCount(fields); ++i) {
        RemoveAttributeValue(fields, first);
      }
    }
  }
  KX_CATCH(ctx, KX_HERE(u"source/dataservices/kxdbdatasheetsvcs/kxdbdatasheetutils"))
  return ctx.Return();
}

}  // namespace KXDBDatasheetSvcs
