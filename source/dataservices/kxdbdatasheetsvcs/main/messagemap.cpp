// The module's data-service map: every message it answers, in map order,
// with the handler of its message family.
#include "main/messagemap.h"

#include "documents/closedocuments.h"
#include "documents/comparedocuments.h"
#include "documents/createdocuments.h"
#include "documents/datasheetcases.h"
#include "documents/getconfigurations.h"
#include "documents/listdatasheetsbyfield.h"
#include "documents/listdatasheetsbyobject.h"
#include "documents/listdatasheetsbystatus.h"
#include "documents/listdatasheetsbytemplate.h"
#include "documents/listdiagrams.h"
#include "documents/listdiagramsbyobject.h"
#include "documents/processdocuments.h"
#include "documents/renamedocuments.h"
#include "documents/revisedocuments.h"
#include "documents/validatetemplates.h"
#include "documents/withdrawdocuments.h"
#include "fields/boolfield.h"
#include "fields/checkfield.h"
#include "fields/datefield.h"
#include "fields/infoforreport.h"
#include "fields/integerfield.h"
#include "fields/qualifiedfield.h"
#include "fields/radiofield.h"
#include "fields/realfield.h"
#include "fields/sketchfield.h"
#include "fields/stringfield.h"
#include "fields/unitfield.h"
#include "main/main.h"
#include "pages/annotations.h"
#include "pages/files.h"
#include "pages/listtemplates.h"
#include "pages/pages.h"
#include "properties/datasheetdimensions.h"
#include "properties/dimensions.h"
#include "properties/fieldcases.h"
#include "properties/fieldformat.h"
#include "properties/fieldobjects.h"
#include "properties/fieldoptions.h"
#include "properties/fieldproperties.h"
#include "properties/fieldstatus.h"
#include "properties/help.h"
#include "properties/holds.h"
#include "properties/methods.h"
#include "summary/datasheetoverspill.h"
#include "summary/filters.h"
#include "summary/packobjects.h"
#include "summary/sort.h"

namespace {

// "OpenDocuments", "PrintDocuments" and "ExportDocuments" share one handler.
constexpr DataServiceHandler kProcessDocuments = &Messages::ProcessDocuments;

}  // namespace

const DataServiceMapEntry* GetDataServiceMap() {
  // In map order; several names may share one handler.
  static const DataServiceMapEntry map[kDataServiceMessageCount + 1] = {
      {u"ListDatasheetsByObject", &Messages::ListDatasheetsByObject, nullptr},
      {u"ListDatasheetsByTemplate", &Messages::ListDatasheetsByTemplate, nullptr},
      {u"ListDatasheetsByStatus", &Messages::ListDatasheetsByStatus, nullptr},
      {u"ListDatasheetsByField", &Messages::ListDatasheetsByField, nullptr},
      {u"ListDiagrams", &Messages::ListDiagrams, nullptr},
      {u"ListDiagramsByObject", &Messages::ListDiagramsByObject, nullptr},
      {u"ListSharedDiagrams", &Messages::ListSharedDiagrams, nullptr},
      {u"ListTemplates", &Messages::ListTemplates, nullptr},
      {u"ListCachedTemplates", &Messages::ListCachedTemplates, nullptr},
      {u"CreateDocuments", &Messages::CreateDocuments, nullptr},
      {u"WithdrawDocuments", &Messages::WithdrawDocuments, nullptr},
      {u"SubmitDocuments", &Messages::SubmitDocuments, nullptr},
      {u"CheckDocuments", &Messages::CheckDocuments, nullptr},
      {u"IssueDocuments", &Messages::IssueDocuments, nullptr},
      {u"OpenDocuments", kProcessDocuments, nullptr},
      {u"PrintDocuments", kProcessDocuments, nullptr},
      {u"ExportDocuments", kProcessDocuments, nullptr},
      {u"RenameDocuments", &Messages::RenameDocuments, nullptr},
      {u"CloseDocuments", &Messages::CloseDocuments, nullptr},
      {u"GetTemplateFile", &Messages::GetTemplateFile, nullptr},
      {u"GetTemplateFromDB", &Messages::GetTemplateFromDB, nullptr},
      {u"GetSourceFromDB", &Messages::GetSourceFromDB, nullptr},
      {u"SetQMFDBTemplate", &Messages::SetQMFDBTemplate, nullptr},
      {u"GetBitmapFile", &Messages::GetBitmapFile, nullptr},
      {u"GetSourceFile", &Messages::GetSourceFile, nullptr},
      {u"ListDimensions", &Messages::ListDimensions, nullptr},
      {u"ListDimensionSets", &Messages::ListDimensionSets, nullptr},
      {u"ListDimensionUnits", &Messages::ListDimensionUnits, nullptr},
      {u"ChangeDimensionSet", &Messages::ChangeDimensionSet, nullptr},
      {u"ChangeDimensionUnit", &Messages::ChangeDimensionUnit, nullptr},
      {u"ListDatasheetDimensions", &Messages::ListDatasheetDimensions, nullptr},
      {u"ListDatasheetDimensionSets", &Messages::ListDatasheetDimensionSets, nullptr},
      {u"ListDatasheetDimensionUnits", &Messages::ListDatasheetDimensionUnits, nullptr},
      {u"ChangeDatasheetDimensionSet", &Messages::ChangeDatasheetDimensionSet, nullptr},
      {u"ChangeDatasheetDimensionUnit", &Messages::ChangeDatasheetDimensionUnit, nullptr},
      {u"ShowFieldObjects", &Messages::ShowFieldObjects, nullptr},
      {u"HideFieldObjects", &Messages::HideFieldObjects, nullptr},
      {u"AddFieldObjects", &Messages::AddFieldObjects, nullptr},
      {u"RemoveFieldObjects", &Messages::RemoveFieldObjects, nullptr},
      {u"DeleteFieldObjects", &Messages::DeleteFieldObjects, nullptr},
      {u"ShowPrimaryObjects", &Messages::ShowPrimaryObjects, nullptr},
      {u"ShowFieldCase", &Messages::ShowFieldCase, nullptr},
      {u"HideFieldCase", &Messages::HideFieldCase, nullptr},
      {u"CopyFieldCase", &Messages::CopyFieldCase, nullptr},
      {u"ListDatasheetObjects", &Messages::ListDatasheetObjects, nullptr},
      {u"RecaseDocuments", &Messages::RecaseDocuments, nullptr},
      {u"ListHolds", &Messages::ListHolds, nullptr},
      {u"CreateHold", &Messages::CreateHold, nullptr},
      {u"CloseHold", &Messages::CloseHold, nullptr},
      {u"GetFieldProperties", &Messages::GetFieldProperties, nullptr},
      {u"SetFieldProperties", &Messages::SetFieldProperties, nullptr},
      {u"GetFieldStatus", &Messages::GetFieldStatus, nullptr},
      {u"SetFieldStatus", &Messages::SetFieldStatus, nullptr},
      {u"GetFieldFormat", &Messages::GetFieldFormat, nullptr},
      {u"SetFieldFormat", &Messages::SetFieldFormat, nullptr},
      {u"GetOptions", &Messages::GetOptions, nullptr},
      {u"SetUnit", &Messages::SetUnit, nullptr},
      {u"GetUnits", &Messages::GetUnits, nullptr},
      {u"SetStringField", &Messages::SetStringField, nullptr},
      {u"SetRealField", &Messages::SetRealField, nullptr},
      {u"SetIntegerField", &Messages::SetIntegerField, nullptr},
      {u"SetDateField", &Messages::SetDateField, nullptr},
      {u"SetBoolField", &Messages::SetBoolField, nullptr},
      {u"SetRadioField", &Messages::SetRadioField, nullptr},
      {u"SetCheckField", &Messages::SetCheckField, nullptr},
      {u"SetSketchField", &Messages::SetSketchField, nullptr},
      {u"CreateAnnotation", &Messages::CreateAnnotation, nullptr},
      {u"SetAnnotation", &Messages::SetAnnotation, nullptr},
      {u"MoveAnnotation", &Messages::MoveAnnotation, nullptr},
      {u"ListDatasheetFilters", &Messages::ListDatasheetFilters, nullptr},
      {u"ApplyDatasheetFilter", &Messages::ApplyDatasheetFilter, nullptr},
      {u"GetConfigurations", &Messages::GetConfigurations, nullptr},
      {u"GetObjectFilters", &Messages::GetObjectFilters, nullptr},
      {u"PackObjects", &Messages::PackObjects, nullptr},
      {u"DatasheetOverspill", &Messages::DatasheetOverspill, nullptr},
      {u"ListDatasheetSorts", &Messages::ListDatasheetSorts, nullptr},
      {u"ApplyDatasheetSort", &Messages::ApplyDatasheetSort, nullptr},
      {u"GetDocumentHelp", &Messages::GetDocumentHelp, nullptr},
      {u"GetFieldHelp", &Messages::GetFieldHelp, nullptr},
      {u"SetQualifier", &Messages::SetQualifier, nullptr},
      {u"ListTemplatePages", &Messages::ListTemplatePages, nullptr},
      {u"ListTemplatePagesByObject", &Messages::ListTemplatePagesByObject, nullptr},
      {u"InsertPages", &Messages::InsertPages, nullptr},
      {u"DeletePage", &Messages::DeletePage, nullptr},
      {u"RenamePage", &Messages::RenamePage, nullptr},
      {u"MovePage", &Messages::MovePage, nullptr},
      {u"OpenPage", &Messages::OpenPage, nullptr},
      {u"ListPageObjects", &Messages::ListPageObjects, nullptr},
      {u"SetPageCase", &Messages::SetPageCase, nullptr},
      {u"PageLayout", &Messages::PageLayout, nullptr},
      {u"GetFieldObject", &Messages::GetFieldObject, nullptr},
      {u"MakeSummaryProjectWide", &Messages::MakeSummaryProjectWide, nullptr},
      {u"ValidateTemplates", &Messages::ValidateTemplates, nullptr},
      {u"UpdateTemplates", &Messages::UpdateTemplates, nullptr},
      {u"GetInfoForReport", &Messages::GetInfoForReport, nullptr},
      {u"CompareDocuments", &Messages::CompareDocuments, nullptr},
      {u"ComparePages", &Messages::ComparePages, nullptr},
      {u"", nullptr, nullptr},
  };
  return map;
}

const DataServiceMapEntry* FindDataServiceEntry(const OLECHAR* name) {
  return FindDataServiceEntryIn(GetDataServiceMap(), name);
}

const DataServiceMapEntry* Main::DataServiceMap() { return GetDataServiceMap(); }
