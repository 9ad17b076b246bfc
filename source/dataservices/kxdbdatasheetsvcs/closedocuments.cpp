// Closing document versions the editor opened.
#include "com/wstr.h"
#include "documents.h"
#include "kxcomexception.h"
#include "kxstoreptrs.h"
#include "kxstoreutils.h"
#include "main.h"

namespace KXDBDatasheetSvcs {

void CloseDocument(Main& main, int32_t documentId, int32_t status) {
  KXComException ctx = KXComException::Silent();
  IKXQObjectPtr document;
  GetStoreObject(main.m_pDatabase, document, documentId);
  const _variant_t statusText(_bstr_t(kx_ltow(status)));
  KX_CHECK(ctx, document->CloseVersion(statusText));
}

}  // namespace KXDBDatasheetSvcs
