// The host's template library and the store's template records, visited
// (see templatelibrary.h).
#include "loader/templatelibrary.h"

#include "host/application.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/listtemplates";

}  // namespace

namespace KXDBDatasheetSvcs {

void VisitTemplateRecords(KXComException& ctx, const SourceLocation& caller, IKXQSchema* schema,
                          const OLECHAR* missingClassText,
                          const std::function<bool(IKXQObject* record, const _bstr_t& templateId,
                                                   const _bstr_t& checknum)>& visit) {
  if (schema == nullptr)
    ThrowKXComExceptionHrAt(ctx, caller, E_FAIL, u"Do not have access to object store");
  IKXQClassPtr recordClass;
  KX_CHECK(ctx, schema->get_Class(_bstr_t(u"Template"), &recordClass));
  if (!recordClass) ThrowKXComExceptionHrAt(ctx, caller, E_FAIL, u"%ls", missingClassText);
  _com_ptr_t<IKXQObjectCollection> instances;
  KX_CHECK(ctx, recordClass->get_Instances(&instances));
  if (!instances) return;
  LONG count = 0;
  KX_CHECK(ctx, instances->get_Count(&count));
  for (LONG i = 1; i <= count; ++i) {
    IKXQObjectPtr record;
    KX_CHECK(ctx, instances->get_Item(i, &record));
    if (!record) continue;
    _bstr_t templateId, checknum;
    GetAttributeString(record, templateId, u"TemplateId", -1);
    GetAttributeString(record, checknum, u"Checknum", -1);
    if (!visit(record, templateId, checknum)) return;
  }
}

void GetTemplateLibrary(KXComException& ctx, IKXQApplication* application,
                        IKXQTemplateLibraryPtr& library) {
  if (application == nullptr)
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"Not attached to a host application");
  KX_CHECK(ctx, application->get_TemplateLibrary(&library));
  if (!library)
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"The host has no template library");
}

void VisitLibraryTemplates(KXComException& ctx, IKXQApplication* application,
                           const std::function<void(IKXQTemplate* tmpl)>& visit) {
  IKXQTemplateLibraryPtr library;
  GetTemplateLibrary(ctx, application, library);
  LONG count = 0;
  KX_CHECK(ctx, library->get_Count(&count));
  for (LONG i = 1; i <= count; ++i) {
    IKXQTemplatePtr tmpl;
    KX_CHECK(ctx, library->get_Item(i, &tmpl));
    if (!tmpl)
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER,
                              u"The template library has no template %ld", i);
    visit(tmpl);
  }
}

}  // namespace KXDBDatasheetSvcs
