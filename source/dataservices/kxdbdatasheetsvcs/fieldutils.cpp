#include "fieldutils.h"

#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxfielddata.h"
#include "kxstoreutils.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/fieldutils";

}  // namespace

namespace FieldUtils {

int32_t GetAnnotation(IKXQObject* page, int32_t annotationId, bool mustExist, _bstr_t& text) {
  KXComException ctx(u"FieldUtils::GetAnnotation");
  text = _bstr_t();
  if (page == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  IKXQAttributePtr annotations;
  GetAttributeInterface(page, u"Annotations", annotations);
  if (!annotations) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  const int32_t count = GetAttributeCount(annotations);
  for (int32_t i = 1; i <= count; ++i) {
    _bstr_t stored;
    KXDBDatasheetSvcs::GetAttributeValueStringAt(annotations, i, stored);
    if (stored.length() == 0) continue;
    KXFieldData record;
    KX_CHECK(ctx, record.SelectField(stored, -1));
    if (record.fieldId == annotationId) {
      text = stored;
      return i;
    }
  }
  if (mustExist) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"Failed to find annotation %d",
                            static_cast<int>(annotationId));
  }
  return -1;
}

}  // namespace FieldUtils
