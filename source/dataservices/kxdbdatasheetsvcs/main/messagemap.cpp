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

// Where a failure caught at a handler's own frame is located: the source
// file of the handler's message family.
#define KX_FAMILY_FILE(family) u"source/dataservices/kxdbdatasheetsvcs/" family
namespace family {
constexpr OLECHAR kListDatasheetsByObject[] = KX_FAMILY_FILE("listdatasheetsbyobject");
constexpr OLECHAR kListDatasheetsByTemplate[] = KX_FAMILY_FILE("listdatasheetsbytemplate");
constexpr OLECHAR kListDatasheetsByStatus[] = KX_FAMILY_FILE("listdatasheetsbystatus");
constexpr OLECHAR kListDatasheetsByField[] = KX_FAMILY_FILE("listdatasheetsbyfield");
constexpr OLECHAR kListDiagrams[] = KX_FAMILY_FILE("listdiagrams");
constexpr OLECHAR kListDiagramsByObject[] = KX_FAMILY_FILE("listdiagramsbyobject");
constexpr OLECHAR kListTemplates[] = KX_FAMILY_FILE("listtemplates");
constexpr OLECHAR kCreateDocuments[] = KX_FAMILY_FILE("createdocuments");
constexpr OLECHAR kWithdrawDocuments[] = KX_FAMILY_FILE("withdrawdocuments");
constexpr OLECHAR kReviseDocuments[] = KX_FAMILY_FILE("revisedocuments");
constexpr OLECHAR kProcessDocuments[] = KX_FAMILY_FILE("processdocuments");
constexpr OLECHAR kRenameDocuments[] = KX_FAMILY_FILE("renamedocuments");
constexpr OLECHAR kCloseDocuments[] = KX_FAMILY_FILE("closedocuments");
constexpr OLECHAR kFiles[] = KX_FAMILY_FILE("files");
constexpr OLECHAR kDimensions[] = KX_FAMILY_FILE("dimensions");
constexpr OLECHAR kDatasheetDimensions[] = KX_FAMILY_FILE("datasheetdimensions");
constexpr OLECHAR kFieldObjects[] = KX_FAMILY_FILE("fieldobjects");
constexpr OLECHAR kFieldCases[] = KX_FAMILY_FILE("fieldcases");
constexpr OLECHAR kDatasheetCases[] = KX_FAMILY_FILE("datasheetcases");
constexpr OLECHAR kHolds[] = KX_FAMILY_FILE("holds");
constexpr OLECHAR kFieldProperties[] = KX_FAMILY_FILE("fieldproperties");
constexpr OLECHAR kFieldStatus[] = KX_FAMILY_FILE("fieldstatus");
constexpr OLECHAR kFieldFormat[] = KX_FAMILY_FILE("fieldformat");
constexpr OLECHAR kFieldOptions[] = KX_FAMILY_FILE("fieldoptions");
constexpr OLECHAR kUnitField[] = KX_FAMILY_FILE("unitfield");
constexpr OLECHAR kStringField[] = KX_FAMILY_FILE("stringfield");
constexpr OLECHAR kRealField[] = KX_FAMILY_FILE("realfield");
constexpr OLECHAR kIntegerField[] = KX_FAMILY_FILE("integerfield");
constexpr OLECHAR kDateField[] = KX_FAMILY_FILE("datefield");
constexpr OLECHAR kBoolField[] = KX_FAMILY_FILE("boolfield");
constexpr OLECHAR kRadioField[] = KX_FAMILY_FILE("radiofield");
constexpr OLECHAR kCheckField[] = KX_FAMILY_FILE("checkfield");
constexpr OLECHAR kSketchField[] = KX_FAMILY_FILE("sketchfield");
constexpr OLECHAR kAnnotations[] = KX_FAMILY_FILE("annotations");
constexpr OLECHAR kFilters[] = KX_FAMILY_FILE("filters");
constexpr OLECHAR kGetConfigurations[] = KX_FAMILY_FILE("getconfigurations");
constexpr OLECHAR kPackObjects[] = KX_FAMILY_FILE("packobjects");
constexpr OLECHAR kDatasheetOverspill[] = KX_FAMILY_FILE("datasheetoverspill");
constexpr OLECHAR kSort[] = KX_FAMILY_FILE("sort");
constexpr OLECHAR kHelp[] = KX_FAMILY_FILE("help");
constexpr OLECHAR kQualifiedField[] = KX_FAMILY_FILE("qualifiedfield");
constexpr OLECHAR kPages[] = KX_FAMILY_FILE("pages");
constexpr OLECHAR kMethods[] = KX_FAMILY_FILE("methods");
constexpr OLECHAR kValidateTemplates[] = KX_FAMILY_FILE("validatetemplates");
constexpr OLECHAR kInfoForReport[] = KX_FAMILY_FILE("infoforreport");
constexpr OLECHAR kCompareDocuments[] = KX_FAMILY_FILE("comparedocuments");
}  // namespace family
#undef KX_FAMILY_FILE

// "OpenDocuments", "PrintDocuments" and "ExportDocuments" share one handler.
constexpr DataServiceHandler kProcessDocuments = &KXDBDatasheetSvcs::ProcessDocuments;

}  // namespace

const DataServiceMapEntry* GetDataServiceMap() {
  // In map order; several names may share one handler.
  static const DataServiceMapEntry map[kDataServiceMessageCount + 1] = {
      {u"ListDatasheetsByObject", &KXDBDatasheetSvcs::ListDatasheetsByObject, nullptr,
       family::kListDatasheetsByObject},
      {u"ListDatasheetsByTemplate", &KXDBDatasheetSvcs::ListDatasheetsByTemplate, nullptr,
       family::kListDatasheetsByTemplate},
      {u"ListDatasheetsByStatus", &KXDBDatasheetSvcs::ListDatasheetsByStatus, nullptr,
       family::kListDatasheetsByStatus},
      {u"ListDatasheetsByField", &KXDBDatasheetSvcs::ListDatasheetsByField, nullptr,
       family::kListDatasheetsByField},
      {u"ListDiagrams", &KXDBDatasheetSvcs::ListDiagrams, nullptr, family::kListDiagrams},
      {u"ListDiagramsByObject", &KXDBDatasheetSvcs::ListDiagramsByObject, nullptr,
       family::kListDiagramsByObject},
      {u"ListSharedDiagrams", &KXDBDatasheetSvcs::ListSharedDiagrams, nullptr,
       family::kListDiagrams},
      {u"ListTemplates", &KXDBDatasheetSvcs::ListTemplates, nullptr, family::kListTemplates},
      {u"ListCachedTemplates", &KXDBDatasheetSvcs::ListCachedTemplates, nullptr,
       family::kListTemplates},
      {u"CreateDocuments", &KXDBDatasheetSvcs::CreateDocuments, nullptr, family::kCreateDocuments},
      {u"WithdrawDocuments", &KXDBDatasheetSvcs::WithdrawDocuments, nullptr,
       family::kWithdrawDocuments},
      {u"SubmitDocuments", &KXDBDatasheetSvcs::SubmitDocuments, nullptr, family::kReviseDocuments},
      {u"CheckDocuments", &KXDBDatasheetSvcs::CheckDocuments, nullptr, family::kReviseDocuments},
      {u"IssueDocuments", &KXDBDatasheetSvcs::IssueDocuments, nullptr, family::kReviseDocuments},
      {u"OpenDocuments", kProcessDocuments, nullptr, family::kProcessDocuments},
      {u"PrintDocuments", kProcessDocuments, nullptr, family::kProcessDocuments},
      {u"ExportDocuments", kProcessDocuments, nullptr, family::kProcessDocuments},
      {u"RenameDocuments", &KXDBDatasheetSvcs::RenameDocuments, nullptr, family::kRenameDocuments},
      {u"CloseDocuments", &KXDBDatasheetSvcs::CloseDocuments, nullptr, family::kCloseDocuments},
      {u"GetTemplateFile", &KXDBDatasheetSvcs::GetTemplateFile, nullptr, family::kFiles},
      {u"GetTemplateFromDB", &KXDBDatasheetSvcs::GetTemplateFromDB, nullptr, family::kFiles},
      {u"GetSourceFromDB", &KXDBDatasheetSvcs::GetSourceFromDB, nullptr, family::kFiles},
      {u"SetQMFDBTemplate", &KXDBDatasheetSvcs::SetQMFDBTemplate, nullptr, family::kFiles},
      {u"GetBitmapFile", &KXDBDatasheetSvcs::GetBitmapFile, nullptr, family::kFiles},
      {u"GetSourceFile", &KXDBDatasheetSvcs::GetSourceFile, nullptr, family::kFiles},
      {u"ListDimensions", &KXDBDatasheetSvcs::ListDimensions, nullptr, family::kDimensions},
      {u"ListDimensionSets", &KXDBDatasheetSvcs::ListDimensionSets, nullptr, family::kDimensions},
      {u"ListDimensionUnits", &KXDBDatasheetSvcs::ListDimensionUnits, nullptr, family::kDimensions},
      {u"ChangeDimensionSet", &KXDBDatasheetSvcs::ChangeDimensionSet, nullptr, family::kDimensions},
      {u"ChangeDimensionUnit", &KXDBDatasheetSvcs::ChangeDimensionUnit, nullptr,
       family::kDimensions},
      {u"ListDatasheetDimensions", &KXDBDatasheetSvcs::ListDatasheetDimensions, nullptr,
       family::kDatasheetDimensions},
      {u"ListDatasheetDimensionSets", &KXDBDatasheetSvcs::ListDatasheetDimensionSets, nullptr,
       family::kDatasheetDimensions},
      {u"ListDatasheetDimensionUnits", &KXDBDatasheetSvcs::ListDatasheetDimensionUnits, nullptr,
       family::kDatasheetDimensions},
      {u"ChangeDatasheetDimensionSet", &KXDBDatasheetSvcs::ChangeDatasheetDimensionSet, nullptr,
       family::kDatasheetDimensions},
      {u"ChangeDatasheetDimensionUnit", &KXDBDatasheetSvcs::ChangeDatasheetDimensionUnit, nullptr,
       family::kDatasheetDimensions},
      {u"ShowFieldObjects", &KXDBDatasheetSvcs::ShowFieldObjects, nullptr, family::kFieldObjects},
      {u"HideFieldObjects", &KXDBDatasheetSvcs::HideFieldObjects, nullptr, family::kFieldObjects},
      {u"AddFieldObjects", &KXDBDatasheetSvcs::AddFieldObjects, nullptr, family::kFieldObjects},
      {u"RemoveFieldObjects", &KXDBDatasheetSvcs::RemoveFieldObjects, nullptr,
       family::kFieldObjects},
      {u"DeleteFieldObjects", &KXDBDatasheetSvcs::DeleteFieldObjects, nullptr,
       family::kFieldObjects},
      {u"ShowPrimaryObjects", &KXDBDatasheetSvcs::ShowPrimaryObjects, nullptr,
       family::kFieldObjects},
      {u"ShowFieldCase", &KXDBDatasheetSvcs::ShowFieldCase, nullptr, family::kFieldCases},
      {u"HideFieldCase", &KXDBDatasheetSvcs::HideFieldCase, nullptr, family::kFieldCases},
      {u"CopyFieldCase", &KXDBDatasheetSvcs::CopyFieldCase, nullptr, family::kFieldCases},
      {u"ListDatasheetObjects", &KXDBDatasheetSvcs::ListDatasheetObjects, nullptr,
       family::kDatasheetCases},
      {u"RecaseDocuments", &KXDBDatasheetSvcs::RecaseDocuments, nullptr, family::kDatasheetCases},
      {u"ListHolds", &KXDBDatasheetSvcs::ListHolds, nullptr, family::kHolds},
      {u"CreateHold", &KXDBDatasheetSvcs::CreateHold, nullptr, family::kHolds},
      {u"CloseHold", &KXDBDatasheetSvcs::CloseHold, nullptr, family::kHolds},
      {u"GetFieldProperties", &KXDBDatasheetSvcs::GetFieldProperties, nullptr,
       family::kFieldProperties},
      {u"SetFieldProperties", &KXDBDatasheetSvcs::SetFieldProperties, nullptr,
       family::kFieldProperties},
      {u"GetFieldStatus", &KXDBDatasheetSvcs::GetFieldStatus, nullptr, family::kFieldStatus},
      {u"SetFieldStatus", &KXDBDatasheetSvcs::SetFieldStatus, nullptr, family::kFieldStatus},
      {u"GetFieldFormat", &KXDBDatasheetSvcs::GetFieldFormat, nullptr, family::kFieldFormat},
      {u"SetFieldFormat", &KXDBDatasheetSvcs::SetFieldFormat, nullptr, family::kFieldFormat},
      {u"GetOptions", &KXDBDatasheetSvcs::GetOptions, nullptr, family::kFieldOptions},
      {u"SetUnit", &KXDBDatasheetSvcs::SetUnit, nullptr, family::kUnitField},
      {u"GetUnits", &KXDBDatasheetSvcs::GetUnits, nullptr, family::kUnitField},
      {u"SetStringField", &KXDBDatasheetSvcs::SetStringField, nullptr, family::kStringField},
      {u"SetRealField", &KXDBDatasheetSvcs::SetRealField, nullptr, family::kRealField},
      {u"SetIntegerField", &KXDBDatasheetSvcs::SetIntegerField, nullptr, family::kIntegerField},
      {u"SetDateField", &KXDBDatasheetSvcs::SetDateField, nullptr, family::kDateField},
      {u"SetBoolField", &KXDBDatasheetSvcs::SetBoolField, nullptr, family::kBoolField},
      {u"SetRadioField", &KXDBDatasheetSvcs::SetRadioField, nullptr, family::kRadioField},
      {u"SetCheckField", &KXDBDatasheetSvcs::SetCheckField, nullptr, family::kCheckField},
      {u"SetSketchField", &KXDBDatasheetSvcs::SetSketchField, nullptr, family::kSketchField},
      {u"CreateAnnotation", &KXDBDatasheetSvcs::CreateAnnotation, nullptr, family::kAnnotations},
      {u"SetAnnotation", &KXDBDatasheetSvcs::SetAnnotation, nullptr, family::kAnnotations},
      {u"MoveAnnotation", &KXDBDatasheetSvcs::MoveAnnotation, nullptr, family::kAnnotations},
      {u"ListDatasheetFilters", &KXDBDatasheetSvcs::ListDatasheetFilters, nullptr,
       family::kFilters},
      {u"ApplyDatasheetFilter", &KXDBDatasheetSvcs::ApplyDatasheetFilter, nullptr,
       family::kFilters},
      {u"GetConfigurations", &KXDBDatasheetSvcs::GetConfigurations, nullptr,
       family::kGetConfigurations},
      {u"GetObjectFilters", &KXDBDatasheetSvcs::GetObjectFilters, nullptr,
       family::kGetConfigurations},
      {u"PackObjects", &KXDBDatasheetSvcs::PackObjects, nullptr, family::kPackObjects},
      {u"DatasheetOverspill", &KXDBDatasheetSvcs::DatasheetOverspill, nullptr,
       family::kDatasheetOverspill},
      {u"ListDatasheetSorts", &KXDBDatasheetSvcs::ListDatasheetSorts, nullptr, family::kSort},
      {u"ApplyDatasheetSort", &KXDBDatasheetSvcs::ApplyDatasheetSort, nullptr, family::kSort},
      {u"GetDocumentHelp", &KXDBDatasheetSvcs::GetDocumentHelp, nullptr, family::kHelp},
      {u"GetFieldHelp", &KXDBDatasheetSvcs::GetFieldHelp, nullptr, family::kHelp},
      {u"SetQualifier", &KXDBDatasheetSvcs::SetQualifier, nullptr, family::kQualifiedField},
      {u"ListTemplatePages", &KXDBDatasheetSvcs::ListTemplatePages, nullptr, family::kPages},
      {u"ListTemplatePagesByObject", &KXDBDatasheetSvcs::ListTemplatePagesByObject, nullptr,
       family::kPages},
      {u"InsertPages", &KXDBDatasheetSvcs::InsertPages, nullptr, family::kPages},
      {u"DeletePage", &KXDBDatasheetSvcs::DeletePage, nullptr, family::kPages},
      {u"RenamePage", &KXDBDatasheetSvcs::RenamePage, nullptr, family::kPages},
      {u"MovePage", &KXDBDatasheetSvcs::MovePage, nullptr, family::kPages},
      {u"OpenPage", &KXDBDatasheetSvcs::OpenPage, nullptr, family::kPages},
      {u"ListPageObjects", &KXDBDatasheetSvcs::ListPageObjects, nullptr, family::kPages},
      {u"SetPageCase", &KXDBDatasheetSvcs::SetPageCase, nullptr, family::kPages},
      {u"PageLayout", &KXDBDatasheetSvcs::PageLayout, nullptr, family::kPages},
      {u"GetFieldObject", &KXDBDatasheetSvcs::GetFieldObject, nullptr, family::kMethods},
      {u"MakeSummaryProjectWide", &KXDBDatasheetSvcs::MakeSummaryProjectWide, nullptr,
       family::kFilters},
      {u"ValidateTemplates", &KXDBDatasheetSvcs::ValidateTemplates, nullptr,
       family::kValidateTemplates},
      {u"UpdateTemplates", &KXDBDatasheetSvcs::UpdateTemplates, nullptr,
       family::kValidateTemplates},
      {u"GetInfoForReport", &KXDBDatasheetSvcs::GetInfoForReport, nullptr, family::kInfoForReport},
      {u"CompareDocuments", &KXDBDatasheetSvcs::CompareDocuments, nullptr,
       family::kCompareDocuments},
      {u"ComparePages", &KXDBDatasheetSvcs::ComparePages, nullptr, family::kPages},
      {u"", nullptr, nullptr, nullptr},
  };
  return map;
}

const DataServiceMapEntry* FindDataServiceEntry(const OLECHAR* name) {
  return FindDataServiceEntryIn(GetDataServiceMap(), name);
}

const DataServiceMapEntry* Main::DataServiceMap() { return GetDataServiceMap(); }
