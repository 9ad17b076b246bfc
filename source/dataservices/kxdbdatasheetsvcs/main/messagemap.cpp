// The module's data-service map: every message it answers, in map order,
// with the method of `Main` that handles it.
#include "main/messagemap.h"

#include "main/main.h"

namespace {

// "OpenDocuments", "PrintDocuments" and "ExportDocuments" share one handler.
constexpr DataServiceHandler kProcessDocuments = &Main::ProcessDocuments;

}  // namespace

const DataServiceMapEntry* GetDataServiceMap() {
  // In map order; several names may share one handler.
  static const DataServiceMapEntry map[kDataServiceMessageCount + 1] = {
      {u"ListDatasheetsByObject", &Main::ListDatasheetsByObject, nullptr},
      {u"ListDatasheetsByTemplate", &Main::ListDatasheetsByTemplate, nullptr},
      {u"ListDatasheetsByStatus", &Main::ListDatasheetsByStatus, nullptr},
      {u"ListDatasheetsByField", &Main::ListDatasheetsByField, nullptr},
      {u"ListDiagrams", &Main::ListDiagrams, nullptr},
      {u"ListDiagramsByObject", &Main::ListDiagramsByObject, nullptr},
      {u"ListSharedDiagrams", &Main::ListSharedDiagrams, nullptr},
      {u"ListTemplates", &Main::ListTemplates, nullptr},
      {u"ListCachedTemplates", &Main::ListCachedTemplates, nullptr},
      {u"CreateDocuments", &Main::CreateDocuments, nullptr},
      {u"WithdrawDocuments", &Main::WithdrawDocuments, nullptr},
      {u"SubmitDocuments", &Main::SubmitDocuments, nullptr},
      {u"CheckDocuments", &Main::CheckDocuments, nullptr},
      {u"IssueDocuments", &Main::IssueDocuments, nullptr},
      {u"OpenDocuments", kProcessDocuments, nullptr},
      {u"PrintDocuments", kProcessDocuments, nullptr},
      {u"ExportDocuments", kProcessDocuments, nullptr},
      {u"RenameDocuments", &Main::RenameDocuments, nullptr},
      {u"CloseDocuments", &Main::CloseDocuments, nullptr},
      {u"GetTemplateFile", &Main::GetTemplateFile, nullptr},
      {u"GetTemplateFromDB", &Main::GetTemplateFromDB, nullptr},
      {u"GetSourceFromDB", &Main::GetSourceFromDB, nullptr},
      {u"SetQMFDBTemplate", &Main::SetQMFDBTemplate, nullptr},
      {u"GetBitmapFile", &Main::GetBitmapFile, nullptr},
      {u"GetSourceFile", &Main::GetSourceFile, nullptr},
      {u"ListDimensions", &Main::ListDimensions, nullptr},
      {u"ListDimensionSets", &Main::ListDimensionSets, nullptr},
      {u"ListDimensionUnits", &Main::ListDimensionUnits, nullptr},
      {u"ChangeDimensionSet", &Main::ChangeDimensionSet, nullptr},
      {u"ChangeDimensionUnit", &Main::ChangeDimensionUnit, nullptr},
      {u"ListDatasheetDimensions", &Main::ListDatasheetDimensions, nullptr},
      {u"ListDatasheetDimensionSets", &Main::ListDatasheetDimensionSets, nullptr},
      {u"ListDatasheetDimensionUnits", &Main::ListDatasheetDimensionUnits, nullptr},
      {u"ChangeDatasheetDimensionSet", &Main::ChangeDatasheetDimensionSet, nullptr},
      {u"ChangeDatasheetDimensionUnit", &Main::ChangeDatasheetDimensionUnit, nullptr},
      {u"ShowFieldObjects", &Main::ShowFieldObjects, nullptr},
      {u"HideFieldObjects", &Main::HideFieldObjects, nullptr},
      {u"AddFieldObjects", &Main::AddFieldObjects, nullptr},
      {u"RemoveFieldObjects", &Main::RemoveFieldObjects, nullptr},
      {u"DeleteFieldObjects", &Main::DeleteFieldObjects, nullptr},
      {u"ShowPrimaryObjects", &Main::ShowPrimaryObjects, nullptr},
      {u"ShowFieldCase", &Main::ShowFieldCase, nullptr},
      {u"HideFieldCase", &Main::HideFieldCase, nullptr},
      {u"CopyFieldCase", &Main::CopyFieldCase, nullptr},
      {u"ListDatasheetObjects", &Main::ListDatasheetObjects, nullptr},
      {u"RecaseDocuments", &Main::RecaseDocuments, nullptr},
      {u"ListHolds", &Main::ListHolds, nullptr},
      {u"CreateHold", &Main::CreateHold, nullptr},
      {u"CloseHold", &Main::CloseHold, nullptr},
      {u"GetFieldProperties", &Main::GetFieldProperties, nullptr},
      {u"SetFieldProperties", &Main::SetFieldProperties, nullptr},
      {u"GetFieldStatus", &Main::GetFieldStatus, nullptr},
      {u"SetFieldStatus", &Main::SetFieldStatus, nullptr},
      {u"GetFieldFormat", &Main::GetFieldFormat, nullptr},
      {u"SetFieldFormat", &Main::SetFieldFormat, nullptr},
      {u"GetOptions", &Main::GetOptions, nullptr},
      {u"SetUnit", &Main::SetUnit, nullptr},
      {u"GetUnits", &Main::GetUnits, nullptr},
      {u"SetStringField", &Main::SetStringField, nullptr},
      {u"SetRealField", &Main::SetRealField, nullptr},
      {u"SetIntegerField", &Main::SetIntegerField, nullptr},
      {u"SetDateField", &Main::SetDateField, nullptr},
      {u"SetBoolField", &Main::SetBoolField, nullptr},
      {u"SetRadioField", &Main::SetRadioField, nullptr},
      {u"SetCheckField", &Main::SetCheckField, nullptr},
      {u"SetSketchField", &Main::SetSketchField, nullptr},
      {u"CreateAnnotation", &Main::CreateAnnotation, nullptr},
      {u"SetAnnotation", &Main::SetAnnotation, nullptr},
      {u"MoveAnnotation", &Main::MoveAnnotation, nullptr},
      {u"ListDatasheetFilters", &Main::ListDatasheetFilters, nullptr},
      {u"ApplyDatasheetFilter", &Main::ApplyDatasheetFilter, nullptr},
      {u"GetConfigurations", &Main::GetConfigurations, nullptr},
      {u"GetObjectFilters", &Main::GetObjectFilters, nullptr},
      {u"PackObjects", &Main::PackObjects, nullptr},
      {u"DatasheetOverspill", &Main::DatasheetOverspill, nullptr},
      {u"ListDatasheetSorts", &Main::ListDatasheetSorts, nullptr},
      {u"ApplyDatasheetSort", &Main::ApplyDatasheetSort, nullptr},
      {u"GetDocumentHelp", &Main::GetDocumentHelp, nullptr},
      {u"GetFieldHelp", &Main::GetFieldHelp, nullptr},
      {u"SetQualifier", &Main::SetQualifier, nullptr},
      {u"ListTemplatePages", &Main::ListTemplatePages, nullptr},
      {u"ListTemplatePagesByObject", &Main::ListTemplatePagesByObject, nullptr},
      {u"InsertPages", &Main::InsertPages, nullptr},
      {u"DeletePage", &Main::DeletePage, nullptr},
      {u"RenamePage", &Main::RenamePage, nullptr},
      {u"MovePage", &Main::MovePage, nullptr},
      {u"OpenPage", &Main::OpenPage, nullptr},
      {u"ListPageObjects", &Main::ListPageObjects, nullptr},
      {u"SetPageCase", &Main::SetPageCase, nullptr},
      {u"PageLayout", &Main::PageLayout, nullptr},
      {u"GetFieldObject", &Main::GetFieldObject, nullptr},
      {u"MakeSummaryProjectWide", &Main::MakeSummaryProjectWide, nullptr},
      {u"ValidateTemplates", &Main::ValidateTemplates, nullptr},
      {u"UpdateTemplates", &Main::UpdateTemplates, nullptr},
      {u"GetInfoForReport", &Main::GetInfoForReport, nullptr},
      {u"CompareDocuments", &Main::CompareDocuments, nullptr},
      {u"ComparePages", &Main::ComparePages, nullptr},
      {u"", nullptr, nullptr},
  };
  return map;
}

const DataServiceMapEntry* FindDataServiceEntry(const OLECHAR* name) {
  return FindDataServiceEntryIn(GetDataServiceMap(), name);
}

const DataServiceMapEntry* Main::DataServiceMap() { return GetDataServiceMap(); }
