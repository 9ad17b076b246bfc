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
constexpr DataServiceHandler kProcessDocuments = &KXDBDatasheetSvcs::ProcessDocuments;

}  // namespace

const DataServiceMapEntry* GetDataServiceMap() {
  // In map order; several names may share one handler.
  static const DataServiceMapEntry map[kDataServiceMessageCount + 1] = {
      {u"ListDatasheetsByObject", &KXDBDatasheetSvcs::ListDatasheetsByObject, nullptr},
      {u"ListDatasheetsByTemplate", &KXDBDatasheetSvcs::ListDatasheetsByTemplate, nullptr},
      {u"ListDatasheetsByStatus", &KXDBDatasheetSvcs::ListDatasheetsByStatus, nullptr},
      {u"ListDatasheetsByField", &KXDBDatasheetSvcs::ListDatasheetsByField, nullptr},
      {u"ListDiagrams", &KXDBDatasheetSvcs::ListDiagrams, nullptr},
      {u"ListDiagramsByObject", &KXDBDatasheetSvcs::ListDiagramsByObject, nullptr},
      {u"ListSharedDiagrams", &KXDBDatasheetSvcs::ListSharedDiagrams, nullptr},
      {u"ListTemplates", &KXDBDatasheetSvcs::ListTemplates, nullptr},
      {u"ListCachedTemplates", &KXDBDatasheetSvcs::ListCachedTemplates, nullptr},
      {u"CreateDocuments", &KXDBDatasheetSvcs::CreateDocuments, nullptr},
      {u"WithdrawDocuments", &KXDBDatasheetSvcs::WithdrawDocuments, nullptr},
      {u"SubmitDocuments", &KXDBDatasheetSvcs::SubmitDocuments, nullptr},
      {u"CheckDocuments", &KXDBDatasheetSvcs::CheckDocuments, nullptr},
      {u"IssueDocuments", &KXDBDatasheetSvcs::IssueDocuments, nullptr},
      {u"OpenDocuments", kProcessDocuments, nullptr},
      {u"PrintDocuments", kProcessDocuments, nullptr},
      {u"ExportDocuments", kProcessDocuments, nullptr},
      {u"RenameDocuments", &KXDBDatasheetSvcs::RenameDocuments, nullptr},
      {u"CloseDocuments", &KXDBDatasheetSvcs::CloseDocuments, nullptr},
      {u"GetTemplateFile", &KXDBDatasheetSvcs::GetTemplateFile, nullptr},
      {u"GetTemplateFromDB", &KXDBDatasheetSvcs::GetTemplateFromDB, nullptr},
      {u"GetSourceFromDB", &KXDBDatasheetSvcs::GetSourceFromDB, nullptr},
      {u"SetQMFDBTemplate", &KXDBDatasheetSvcs::SetQMFDBTemplate, nullptr},
      {u"GetBitmapFile", &KXDBDatasheetSvcs::GetBitmapFile, nullptr},
      {u"GetSourceFile", &KXDBDatasheetSvcs::GetSourceFile, nullptr},
      {u"ListDimensions", &KXDBDatasheetSvcs::ListDimensions, nullptr},
      {u"ListDimensionSets", &KXDBDatasheetSvcs::ListDimensionSets, nullptr},
      {u"ListDimensionUnits", &KXDBDatasheetSvcs::ListDimensionUnits, nullptr},
      {u"ChangeDimensionSet", &KXDBDatasheetSvcs::ChangeDimensionSet, nullptr},
      {u"ChangeDimensionUnit", &KXDBDatasheetSvcs::ChangeDimensionUnit, nullptr},
      {u"ListDatasheetDimensions", &KXDBDatasheetSvcs::ListDatasheetDimensions, nullptr},
      {u"ListDatasheetDimensionSets", &KXDBDatasheetSvcs::ListDatasheetDimensionSets, nullptr},
      {u"ListDatasheetDimensionUnits", &KXDBDatasheetSvcs::ListDatasheetDimensionUnits, nullptr},
      {u"ChangeDatasheetDimensionSet", &KXDBDatasheetSvcs::ChangeDatasheetDimensionSet, nullptr},
      {u"ChangeDatasheetDimensionUnit", &KXDBDatasheetSvcs::ChangeDatasheetDimensionUnit, nullptr},
      {u"ShowFieldObjects", &KXDBDatasheetSvcs::ShowFieldObjects, nullptr},
      {u"HideFieldObjects", &KXDBDatasheetSvcs::HideFieldObjects, nullptr},
      {u"AddFieldObjects", &KXDBDatasheetSvcs::AddFieldObjects, nullptr},
      {u"RemoveFieldObjects", &KXDBDatasheetSvcs::RemoveFieldObjects, nullptr},
      {u"DeleteFieldObjects", &KXDBDatasheetSvcs::DeleteFieldObjects, nullptr},
      {u"ShowPrimaryObjects", &KXDBDatasheetSvcs::ShowPrimaryObjects, nullptr},
      {u"ShowFieldCase", &KXDBDatasheetSvcs::ShowFieldCase, nullptr},
      {u"HideFieldCase", &KXDBDatasheetSvcs::HideFieldCase, nullptr},
      {u"CopyFieldCase", &KXDBDatasheetSvcs::CopyFieldCase, nullptr},
      {u"ListDatasheetObjects", &KXDBDatasheetSvcs::ListDatasheetObjects, nullptr},
      {u"RecaseDocuments", &KXDBDatasheetSvcs::RecaseDocuments, nullptr},
      {u"ListHolds", &KXDBDatasheetSvcs::ListHolds, nullptr},
      {u"CreateHold", &KXDBDatasheetSvcs::CreateHold, nullptr},
      {u"CloseHold", &KXDBDatasheetSvcs::CloseHold, nullptr},
      {u"GetFieldProperties", &KXDBDatasheetSvcs::GetFieldProperties, nullptr},
      {u"SetFieldProperties", &KXDBDatasheetSvcs::SetFieldProperties, nullptr},
      {u"GetFieldStatus", &KXDBDatasheetSvcs::GetFieldStatus, nullptr},
      {u"SetFieldStatus", &KXDBDatasheetSvcs::SetFieldStatus, nullptr},
      {u"GetFieldFormat", &KXDBDatasheetSvcs::GetFieldFormat, nullptr},
      {u"SetFieldFormat", &KXDBDatasheetSvcs::SetFieldFormat, nullptr},
      {u"GetOptions", &KXDBDatasheetSvcs::GetOptions, nullptr},
      {u"SetUnit", &KXDBDatasheetSvcs::SetUnit, nullptr},
      {u"GetUnits", &KXDBDatasheetSvcs::GetUnits, nullptr},
      {u"SetStringField", &KXDBDatasheetSvcs::SetStringField, nullptr},
      {u"SetRealField", &KXDBDatasheetSvcs::SetRealField, nullptr},
      {u"SetIntegerField", &KXDBDatasheetSvcs::SetIntegerField, nullptr},
      {u"SetDateField", &KXDBDatasheetSvcs::SetDateField, nullptr},
      {u"SetBoolField", &KXDBDatasheetSvcs::SetBoolField, nullptr},
      {u"SetRadioField", &KXDBDatasheetSvcs::SetRadioField, nullptr},
      {u"SetCheckField", &KXDBDatasheetSvcs::SetCheckField, nullptr},
      {u"SetSketchField", &KXDBDatasheetSvcs::SetSketchField, nullptr},
      {u"CreateAnnotation", &KXDBDatasheetSvcs::CreateAnnotation, nullptr},
      {u"SetAnnotation", &KXDBDatasheetSvcs::SetAnnotation, nullptr},
      {u"MoveAnnotation", &KXDBDatasheetSvcs::MoveAnnotation, nullptr},
      {u"ListDatasheetFilters", &KXDBDatasheetSvcs::ListDatasheetFilters, nullptr},
      {u"ApplyDatasheetFilter", &KXDBDatasheetSvcs::ApplyDatasheetFilter, nullptr},
      {u"GetConfigurations", &KXDBDatasheetSvcs::GetConfigurations, nullptr},
      {u"GetObjectFilters", &KXDBDatasheetSvcs::GetObjectFilters, nullptr},
      {u"PackObjects", &KXDBDatasheetSvcs::PackObjects, nullptr},
      {u"DatasheetOverspill", &KXDBDatasheetSvcs::DatasheetOverspill, nullptr},
      {u"ListDatasheetSorts", &KXDBDatasheetSvcs::ListDatasheetSorts, nullptr},
      {u"ApplyDatasheetSort", &KXDBDatasheetSvcs::ApplyDatasheetSort, nullptr},
      {u"GetDocumentHelp", &KXDBDatasheetSvcs::GetDocumentHelp, nullptr},
      {u"GetFieldHelp", &KXDBDatasheetSvcs::GetFieldHelp, nullptr},
      {u"SetQualifier", &KXDBDatasheetSvcs::SetQualifier, nullptr},
      {u"ListTemplatePages", &KXDBDatasheetSvcs::ListTemplatePages, nullptr},
      {u"ListTemplatePagesByObject", &KXDBDatasheetSvcs::ListTemplatePagesByObject, nullptr},
      {u"InsertPages", &KXDBDatasheetSvcs::InsertPages, nullptr},
      {u"DeletePage", &KXDBDatasheetSvcs::DeletePage, nullptr},
      {u"RenamePage", &KXDBDatasheetSvcs::RenamePage, nullptr},
      {u"MovePage", &KXDBDatasheetSvcs::MovePage, nullptr},
      {u"OpenPage", &KXDBDatasheetSvcs::OpenPage, nullptr},
      {u"ListPageObjects", &KXDBDatasheetSvcs::ListPageObjects, nullptr},
      {u"SetPageCase", &KXDBDatasheetSvcs::SetPageCase, nullptr},
      {u"PageLayout", &KXDBDatasheetSvcs::PageLayout, nullptr},
      {u"GetFieldObject", &KXDBDatasheetSvcs::GetFieldObject, nullptr},
      {u"MakeSummaryProjectWide", &KXDBDatasheetSvcs::MakeSummaryProjectWide, nullptr},
      {u"ValidateTemplates", &KXDBDatasheetSvcs::ValidateTemplates, nullptr},
      {u"UpdateTemplates", &KXDBDatasheetSvcs::UpdateTemplates, nullptr},
      {u"GetInfoForReport", &KXDBDatasheetSvcs::GetInfoForReport, nullptr},
      {u"CompareDocuments", &KXDBDatasheetSvcs::CompareDocuments, nullptr},
      {u"ComparePages", &KXDBDatasheetSvcs::ComparePages, nullptr},
      {u"", nullptr, nullptr},
  };
  return map;
}

const DataServiceMapEntry* FindDataServiceEntry(const OLECHAR* name) {
  return FindDataServiceEntryIn(GetDataServiceMap(), name);
}

const DataServiceMapEntry* Main::DataServiceMap() { return GetDataServiceMap(); }
