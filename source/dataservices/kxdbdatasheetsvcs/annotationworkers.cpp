// The workers of the annotation messages, which belong to the field values.
// Until they are built each fails with E_NOTIMPL and a "<KXError"
// description; they move out of this file together.
#include "annotations.h"
#include "com/comutil.h"
#include "kxcomexception.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/annotationworkers";

HRESULT WorkerNotBuilt(const OLECHAR* workerName) {
  KXComException ctx = KXComException::Silent(workerName);
  try {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_NOTIMPL, u"%ls is not implemented yet",
                            workerName);
  }
  KX_CATCH(ctx, KX_HERE(kFile))
  return ctx.Return();
}

}  // namespace

HRESULT CreateAnnotationMessageParser::CreateAnnotation() {
  return WorkerNotBuilt(u"CreateAnnotationMessageParser::CreateAnnotation");
}

HRESULT SetAnnotationMessageParser::SetAnnotation() {
  return WorkerNotBuilt(u"SetAnnotationMessageParser::SetAnnotation");
}

HRESULT MoveAnnotationMessageParser::MoveAnnotation() {
  return WorkerNotBuilt(u"MoveAnnotationMessageParser::MoveAnnotation");
}
