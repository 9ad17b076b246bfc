// Placing an object on a page's node, which belongs to the datasheet
// model's page operations. Until those are built the field routes use this
// small form of it; it moves out of this file with its signature.
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxdbdatasheetutils.h"
#include "kxstoreutils.h"

namespace KXDBDatasheetSvcs {

void GetPageNodeObjects(IKXQObject* page, IKXQClassView* view, IKXQObject* object, bool unhide) {
  KXComException ctx = KXComException::Silent();
  CheckPointerArgument(ctx, view);
  LONG node = -1;
  KX_CHECK(ctx, view->get_NodeIndex(&node));
  IKXQAttributePtr objects;
  IKXQAttributePtr indices;
  GetAttributeInterface(page, u"NodeObjects", objects);
  GetAttributeInterface(page, u"NodeIndices", indices);
  CheckPointerArgument(ctx, objects.GetInterfacePtr());
  CheckPointerArgument(ctx, indices.GetInterfacePtr());
  const int32_t slot = node + 1;
  if (slot < 1) return;
  if (unhide) {
    IKXQAttributePtr hidden;
    GetAttributeInterface(page, u"HiddenObjects", hidden);
    if (hidden && GetAttributeCount(hidden) >= slot) ClearAttributeValueAt(hidden, slot);
  }
  bool has = false;
  const int32_t present = GetAttributeCount(indices) >= slot
                              ? GetAttributeIntegerAt(indices, slot, &has)
                              : 0;
  if (object == nullptr) {
    if (has && present >= 1 && present <= GetAttributeCount(objects)) {
      SetAttributeObjectAt(objects, present, nullptr);
    }
    if (has) ClearAttributeValueAt(indices, slot);
  } else {
    const int32_t position =
        has && present >= 1 ? present : GetAttributeCount(objects) + 1;
    SetAttributeObjectAt(objects, position, object);
    SetAttributeIntegerAt(indices, slot, position);
  }
  SAFEARRAY* children = nullptr;
  KX_CHECK(ctx, view->get_Children(&children));
  VariantUtil::SafeArrayVector nested(children, true);
  if (nested.Array() == nullptr && children != nullptr) SafeArrayDestroy(children);
  for (int32_t i = 0; i < nested.Count(); ++i) {
    IKXQClassViewPtr child;
    if (FAILED(nested.GetClassViewAt(i, &child)) || !child) {
      ClearThreadErrorInfo();
      continue;
    }
    GetPageNodeObjects(page, child, nullptr, true);
  }
}

}  // namespace KXDBDatasheetSvcs
