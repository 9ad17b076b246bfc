// Renaming documents: the name all versions of a document share.
#include "documents.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxstoreptrs.h"
#include "kxstoreutils.h"
#include "main.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/renamedocuments";

// Makes a document the host's current datasheet for the length of a step
// and puts the previous one back on every way out.
class CurrentDocumentScope {
 public:
  CurrentDocumentScope(IKXQApplication* application, IKXQObject* document)
      : m_application(application) {
    KXComException ctx = KXComException::Silent();
    KX_CHECK(ctx, m_application->get_CurrentDatasheet(&m_previous));
    KX_CHECK(ctx, m_application->put_CurrentDatasheet(document));
  }
  ~CurrentDocumentScope() { (void)m_application->put_CurrentDatasheet(m_previous); }
  CurrentDocumentScope(const CurrentDocumentScope&) = delete;
  CurrentDocumentScope& operator=(const CurrentDocumentScope&) = delete;

 private:
  IKXQApplication* m_application;
  IKXQObjectPtr m_previous;
};

}  // namespace

namespace KXDBDatasheetSvcs {

void RenameDocument(Main& main, bool diagram, int32_t documentId, const OLECHAR* name) {
  KXComException ctx = KXComException::Silent();
  IKXQObjectPtr document;
  GetStoreObject(main.m_pDatabase, document, documentId);
  CurrentDocumentScope scope(main.m_pApplication, document);
  SetAttributeStringByName(document, u"DocumentName", name ? name : u"", -1);
  if (diagram) return;
  const HRESULT hr = main.LaunchDatasheetEvent(document, 1);
  if (FAILED(hr)) {
    ctx.hr = hr;
    ctx.TakeThreadErrorInfo();
    ThrowKXComException(ctx, KX_HERE(kFile), nullptr);
  }
}

}  // namespace KXDBDatasheetSvcs
