// Message handlers whose messages are not served yet. Each traces its name
// and fails with E_NOTIMPL and a "<KXError" description naming its message.
// A handler that gets built moves out of this file into its message
// family's source, with the same signature.
#include "com/comutil.h"
#include "kxcomexception.h"
#include "main.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/handlerseams";

HRESULT NotServedYet(const OLECHAR* traceName, const OLECHAR* messages) {
  KXComException ctx(traceName);
  try {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_NOTIMPL,
                            u"The message %ls is not implemented yet", messages);
  }
  KX_CATCH(ctx, KX_HERE(kFile))
  return ctx.Return();
}

}  // namespace

HRESULT Main::ListDatasheetsByObject(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::ListDatasheetsByObject", u"ListDatasheetsByObject");
}
HRESULT Main::ListDatasheetsByTemplate(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::ListDatasheetsByTemplate", u"ListDatasheetsByTemplate");
}
HRESULT Main::ListDiagramsByObject(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::ListDatasheetsByObject", u"ListDiagramsByObject");
}
HRESULT Main::ListTemplates(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::ListTemplates", u"ListTemplates");
}
HRESULT Main::ListCachedTemplates(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::ListCachedTemplates", u"ListCachedTemplates");
}
HRESULT Main::CreateDocuments(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::CreateDocuments", u"CreateDocuments");
}
HRESULT Main::WithdrawDocuments(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::WithdrawDocuments", u"WithdrawDocuments");
}
HRESULT Main::SubmitDocuments(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::SubmitDocuments", u"SubmitDocuments");
}
HRESULT Main::CheckDocuments(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::CheckDocuments", u"CheckDocuments");
}
HRESULT Main::IssueDocuments(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::IssueDocuments", u"IssueDocuments");
}
HRESULT Main::ProcessDocuments(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::ProcessDocuments", u"OpenDocuments, PrintDocuments or ExportDocuments");
}
HRESULT Main::RenameDocuments(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::RenameDocuments", u"RenameDocuments");
}
HRESULT Main::CloseDocuments(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::CloseDocuments", u"CloseDocuments");
}
HRESULT Main::GetTemplateFile(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::GetTemplateFile", u"GetTemplateFile");
}
HRESULT Main::GetTemplateFromDB(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::GetTemplateFromDB", u"GetTemplateFromDB");
}
HRESULT Main::GetSourceFromDB(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::GetSourceFromDB", u"GetSourceFromDB");
}
HRESULT Main::SetQMFDBTemplate(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::SetQMFDBTemplate", u"SetQMFDBTemplate");
}
HRESULT Main::GetBitmapFile(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::GetBitmapFile", u"GetBitmapFile");
}
HRESULT Main::GetSourceFile(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::GetSourceFile", u"GetSourceFile");
}
HRESULT Main::ListDimensions(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::ListDimensions", u"ListDimensions");
}
HRESULT Main::ListDimensionSets(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::ListDimensionSets", u"ListDimensionSets");
}
HRESULT Main::ListDimensionUnits(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::ListDimensionUnits", u"ListDimensionUnits");
}
HRESULT Main::ChangeDimensionSet(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::ChangeDimensionSet", u"ChangeDimensionSet");
}
HRESULT Main::ChangeDimensionUnit(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::ChangeDimensionUnit", u"ChangeDimensionUnit");
}
HRESULT Main::ListDatasheetDimensions(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::ListDatasheetDimensions", u"ListDatasheetDimensions");
}
HRESULT Main::ListDatasheetDimensionSets(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::ListDatasheetDimensionSets", u"ListDatasheetDimensionSets");
}
HRESULT Main::ListDatasheetDimensionUnits(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::ListDatasheetDimensionUnits", u"ListDatasheetDimensionUnits");
}
HRESULT Main::ChangeDatasheetDimensionSet(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::ChangeDatasheetDimensionSet", u"ChangeDatasheetDimensionSet");
}
HRESULT Main::ChangeDatasheetDimensionUnit(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::ChangeDatasheetDimensionUnit", u"ChangeDatasheetDimensionUnit");
}
HRESULT Main::ShowFieldObjects(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::ShowFieldObjects", u"ShowFieldObjects");
}
HRESULT Main::HideFieldObjects(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::HideFieldObjects", u"HideFieldObjects");
}
HRESULT Main::AddFieldObjects(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::AddFieldObjects", u"AddFieldObjects");
}
HRESULT Main::RemoveFieldObjects(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::RemoveFieldObjects", u"RemoveFieldObjects");
}
HRESULT Main::DeleteFieldObjects(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::DeleteFieldObjects", u"DeleteFieldObjects");
}
HRESULT Main::ShowPrimaryObjects(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::ShowPrimaryObjects", u"ShowPrimaryObjects");
}
HRESULT Main::ShowFieldCase(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::ShowFieldCase", u"ShowFieldCase");
}
HRESULT Main::HideFieldCase(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::HideFieldCase", u"HideFieldCase");
}
HRESULT Main::CopyFieldCase(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::CopyFieldCase", u"CopyFieldCase");
}
HRESULT Main::RecaseDocuments(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::RecaseDocuments", u"RecaseDocuments");
}
HRESULT Main::ListHolds(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::ListHolds", u"ListHolds");
}
HRESULT Main::CreateHold(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::CreateHold", u"CreateHold");
}
HRESULT Main::CloseHold(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::CloseHold", u"CloseHold");
}
HRESULT Main::GetFieldProperties(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::GetFieldProperties", u"GetFieldProperties");
}
HRESULT Main::SetFieldProperties(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::SetFieldProperties", u"SetFieldProperties");
}
HRESULT Main::GetFieldStatus(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::GetFieldStatus", u"GetFieldStatus");
}
HRESULT Main::SetFieldStatus(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::SetFieldStatus", u"SetFieldStatus");
}
HRESULT Main::GetFieldFormat(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::GetFieldFormat", u"GetFieldFormat");
}
HRESULT Main::SetFieldFormat(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::SetFieldFormat", u"SetFieldFormat");
}
HRESULT Main::GetOptions(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::GetOptions", u"GetOptions");
}
HRESULT Main::SetUnit(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::SetUnit", u"SetUnit");
}
HRESULT Main::GetUnits(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::GetUnits", u"GetUnits");
}
HRESULT Main::SetStringField(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::SetStringField", u"SetStringField");
}
HRESULT Main::SetRealField(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::SetRealField", u"SetRealField");
}
HRESULT Main::SetIntegerField(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::SetIntegerField", u"SetIntegerField");
}
HRESULT Main::SetDateField(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::SetDateField", u"SetDateField");
}
HRESULT Main::SetBoolField(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::SetBoolField", u"SetBoolField");
}
HRESULT Main::SetRadioField(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::SetRadioField", u"SetRadioField");
}
HRESULT Main::SetCheckField(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::SetCheckField", u"SetCheckField");
}
HRESULT Main::SetSketchField(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::SetSketchField", u"SetSketchField");
}
HRESULT Main::ListDatasheetFilters(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::ListDatasheetFilters", u"ListDatasheetFilters");
}
HRESULT Main::ApplyDatasheetFilter(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::ApplyDatasheetFilter", u"ApplyDatasheetFilter");
}
HRESULT Main::PackObjects(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::PackObjects", u"PackObjects");
}
HRESULT Main::DatasheetOverspill(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::DatasheetOverspill", u"DatasheetOverspill");
}
HRESULT Main::ListDatasheetSorts(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::ListDatasheetSorts", u"ListDatasheetSorts");
}
HRESULT Main::ApplyDatasheetSort(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::ApplyDatasheetSort", u"ApplyDatasheetSort");
}
HRESULT Main::GetDocumentHelp(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::GetDocumentHelp", u"GetDocumentHelp");
}
HRESULT Main::GetFieldHelp(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::GetFieldHelp", u"GetFieldHelp");
}
HRESULT Main::SetQualifier(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::SetQualifier", u"SetQualifier");
}
HRESULT Main::ListTemplatePages(const OLECHAR*) {
  return NotServedYet(u"Main::ListTemplatePages", u"ListTemplatePages");
}
HRESULT Main::ListTemplatePagesByObject(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::ListTemplatePagesByObject", u"ListTemplatePagesByObject");
}
HRESULT Main::InsertPages(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::InsertPages", u"InsertPages");
}
HRESULT Main::DeletePage(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::DeletePage", u"DeletePage");
}
HRESULT Main::RenamePage(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::RenamePage", u"RenamePage");
}
HRESULT Main::MovePage(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::MovePage", u"MovePage");
}
HRESULT Main::OpenPage(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::OpenPage", u"OpenPage");
}
HRESULT Main::ListPageObjects(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::ListPageObjects", u"ListPageObjects");
}
HRESULT Main::SetPageCase(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::SetPageCase", u"SetPageCase");
}
HRESULT Main::PageLayout(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::PageLayout", u"PageLayout");
}
HRESULT Main::GetFieldObject(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::GetFieldObject", u"GetFieldObject");
}
HRESULT Main::MakeSummaryProjectWide(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::MakeSummaryProjectWide", u"MakeSummaryProjectWide");
}
HRESULT Main::ValidateTemplates(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::ValidateTemplates", u"ValidateTemplates");
}
HRESULT Main::UpdateTemplates(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::UpdateTemplates", u"UpdateTemplates");
}
HRESULT Main::GetInfoForReport(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::GetInfoForReport", u"GetInfoForReport");
}
HRESULT Main::CompareDocuments(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::CompareDocuments", u"CompareDocuments");
}
HRESULT Main::ComparePages(const OLECHAR*) {
  return NotServedYet(u"KXDBDatasheetSvcs::ComparePages", u"ComparePages");
}
