// What the messages read of their requests beyond their grammars' types:
// the envelope's "TargetId" and "Status" of every message with a grammar,
// and the attributes a message needs (without them it fails, or succeeds
// and changes nothing). Written from the module's handlers; the generator
// of the reference checks that each row names an attribute of the
// message's grammar and that no message with a grammar lacks its envelope.
#include "host/message_notes.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <string_view>

namespace kx::host {

namespace {

constexpr char kNotRead[] = "Not read.";
constexpr char kTargetEchoed[] = "Not read; given back as the reply's \"TargetId\".";
constexpr char kStatusEchoed[] =
    "Not read; given back as the reply's \"Status\" (left out there when the request has none).";
constexpr char kSetterStatus[] =
    "1, the current pages: with any other value, or none, the request succeeds and changes "
    "nothing.";
constexpr char kPage[] = "The page's object id (\"1011\").";
constexpr char kWrittenPage[] =
    "The page's object id (\"1011\"): a current page; a submitted, checked or issued copy is "
    "refused.";
constexpr char kChangedPage[] =
    "The page's object id (\"1011\"): a change is made on a current page only; on a submitted, "
    "checked or issued copy it is refused (a question or an answer that changes nothing is "
    "given as on any page).";
constexpr char kField[] = "The field's id in the page's template (\"103\").";
constexpr char kListedField[] =
    "The field's id in the page's template (\"103\"); without it the request fails.";
constexpr char kCaseTarget[] =
    "The datasheet's object id, in decimal: given back as the reply's \"TargetId\" and, as a "
    "number, as the \"DocumentId\" of its \"Message\".";
constexpr char kObjectsTarget[] =
    "The page's datasheet, whose other pages take the primary object after a show or hide, by "
    "its object id in decimal; none (or not a number) names it too, and another object's id is "
    "refused. Given back as the reply's \"TargetId\".";
constexpr char kListRow[] =
    "A row of a continuous list (from 0), on a list column only: a row of another field of a "
    "list is refused; a page that is no list does not read it.";
constexpr char kCaseRow[] =
    "A row of a continuous list (from 0), on a list column only: a row of another field, or on "
    "a page that is no list, is refused.";
constexpr char kAnnotationStatus[] =
    "The version of the page: 1 for a current page (a mark-up annotation goes to its submitted "
    "and checked copies too), 2 or 3 for a copy (a mark-up annotation goes to its current page "
    "too); 4 changes nothing. The change event carries it. None, or another value: as for a copy, "
    "and the change event reaches no client (none holds that version open). An issued copy is "
    "refused, and so is a submitted or checked copy addressed with the status of a version "
    "that does not hold it.";

constexpr AttributeNote kNotes[] = {
    {"ApplyDatasheetFilter", "XMLMessage", "TargetId", false, kNotRead},
    {"ApplyDatasheetFilter", "XMLMessage", "Status", false, kNotRead},
    {"ApplyDatasheetFilter", "ApplyDatasheetFilter", "PageId", true,
     "A page of a summary sheet (\"1071\"): its datasheet is composed again with the filter."},
    {"ApplyDatasheetFilter", "ApplyDatasheetFilter", "FilterId", false,
     "With \"Attach\" 1, the filter attached: one of the schema (\"Pumps\"; "
     "\"ListDatasheetFilters\" lists them) or \"KX_CLAIM_ONLY\" (the claimed objects only); "
     "none, or an empty one: no filter; a name the schema does not know fails the request. Not "
     "read without \"Attach\"."},
    {"ApplyDatasheetFilter", "ApplyDatasheetFilter", "Attach", false,
     "1: the filter is attached and stays (on the list page of a list, else on the sheet), "
     "composing the sheet whenever its objects change. 0, or none: the filter in force is "
     "detached, whatever \"FilterId\" says, and the sheet is composed without one."},

    {"ApplyDatasheetSort", "XMLMessage", "TargetId", false, kNotRead},
    {"ApplyDatasheetSort", "XMLMessage", "Status", false, kNotRead},
    {"ApplyDatasheetSort", "ApplyDatasheetSort", "PageId", true,
     "A list page of a summary sheet (\"1071\")."},
    {"ApplyDatasheetSort", "ApplyDatasheetSort", "FieldId", true,
     "The field, by its id in the page's template (\"402\"), whose column is sorted."},
    {"ApplyDatasheetSort", "ApplyDatasheetSort", "SortId", true,
     "A sort definition of the schema (\"CLA\", \"CLD\"; \"ListDatasheetSorts\" lists them): none "
     "sorts nothing."},

    {"ChangeDatasheetDimensionSet", "XMLMessage", "TargetId", true,
     "The datasheet's object id, in decimal (\"1003\"): its pages take the set's units."},
    {"ChangeDatasheetDimensionSet", "XMLMessage", "Status", false, kNotRead},
    {"ChangeDatasheetDimensionSet", "ChangeDatasheetDimensionSet", "Name", true,
     "A dimension set of the store (\"SI\", \"US\")."},

    {"ChangeDatasheetDimensionUnit", "XMLMessage", "TargetId", true,
     "The datasheet's object id, in decimal (\"1001\"): its unit fields of the dimension take "
     "the unit."},
    {"ChangeDatasheetDimensionUnit", "XMLMessage", "Status", false, kNotRead},
    {"ChangeDatasheetDimensionUnit", "ChangeDatasheetDimensionUnit", "Name", true,
     "A dimension (\"Pressure\")."},
    {"ChangeDatasheetDimensionUnit", "ChangeDatasheetDimensionUnit", "UnitId", false,
     "A unit of that dimension (\"bar\"); none, or an empty one, puts each field's default "
     "unit."},

    {"ChangeDimensionUnit", "XMLMessage", "TargetId", false, kNotRead},
    {"ChangeDimensionUnit", "XMLMessage", "Status", false, kNotRead},
    {"ChangeDimensionUnit", "ChangeDimensionUnit", "Name", true, "A dimension (\"Length\")."},
    {"ChangeDimensionUnit", "ChangeDimensionUnit", "UnitId", false,
     "A unit of that dimension (\"ft\"); none, or an empty one, puts each field's default "
     "unit."},

    {"CheckDocuments", "XMLMessage", "TargetId", false, kNotRead},
    {"CheckDocuments", "XMLMessage", "Status", false, kNotRead},
    {"CheckDocuments", "Datasheet", "DocumentId", true,
     "A submitted datasheet's object id (\"1001\")."},
    {"CheckDocuments", "Diagram", "DocumentId", true, "A submitted diagram's object id."},

    {"CloseDocuments", "XMLMessage", "TargetId", false, kNotRead},
    {"CloseDocuments", "XMLMessage", "Status", false, kNotRead},
    {"CloseDocuments", "Datasheet", "DocumentId", true, "The datasheet's object id (\"1001\")."},
    {"CloseDocuments", "Datasheet", "Status", false,
     "The version closed (1 to 4, as \"OpenDocuments\" opened it), handed to the store's "
     "close-version call as it is."},
    {"CloseDocuments", "Diagram", "DocumentId", true, "The diagram's object id (\"1101\")."},

    {"CloseHold", "XMLMessage", "TargetId", false, kNotRead},
    {"CloseHold", "XMLMessage", "Status", false, kNotRead},
    {"CloseHold", "CloseHold", "HoldId", true,
     "The hold's object id (\"1191\"; \"ListHolds\" lists them)."},

    {"CompareDocuments", "XMLMessage", "TargetId", false, kNotRead},
    {"CompareDocuments", "XMLMessage", "Status", false, kNotRead},
    {"CompareDocuments", "Datasheet1", "DocumentId1", true,
     "The datasheet shown (\"1004\"), by its object id."},
    {"CompareDocuments", "Datasheet1", "Status1", true,
     "Its version, 1 to 4; any other value fails with \"Invalid status\"."},
    {"CompareDocuments", "Datasheet2", "DocumentId2", true,
     "The datasheet it is compared with, by its object id."},
    {"CompareDocuments", "Datasheet2", "Status2", true,
     "Its version, 1 to 4; any other value fails with \"Invalid status\"."},

    {"ComparePages", "XMLMessage", "TargetId", false, kNotRead},
    {"ComparePages", "XMLMessage", "Status", false,
     "Any value, none too, gives the same reply: the page is shown against the second document "
     "when its datasheet and that document were made from the same template version; the "
     "reply's \"Status\" is the version the page belongs to."},
    {"ComparePages", "ComparePages", "PageId", true, kPage},
    {"ComparePages", "ComparePages", "DocumentId2", true,
     "The datasheet compared with (\"1001\"), by its object id."},
    {"ComparePages", "ComparePages", "Status2", false,
     "Its version, 1 to 4 (\"4\": the page against its issued copy); none: the page is shown "
     "alone."},

    {"CopyFieldCase", "XMLMessage", "TargetId", false, kCaseTarget},
    {"CopyFieldCase", "XMLMessage", "Status", false, kStatusEchoed},
    {"CopyFieldCase", "CopyFieldCase", "PageId", true, kChangedPage},
    {"CopyFieldCase", "CopyFieldCase", "FieldId", true,
     "The field, by its id in the page's template (\"103\"), whose case entry is copied into."},
    {"CopyFieldCase", "CopyFieldCase", "CaseId", true,
     "The case (\"1\") whose values the fields of that case entry take; none copies nothing."},

    {"CreateAnnotation", "XMLMessage", "TargetId", false, kNotRead},
    {"CreateAnnotation", "XMLMessage", "Status", false, kAnnotationStatus},
    {"CreateAnnotation", "CreateAnnotation", "PageId", true, kPage},

    {"CreateDocuments", "XMLMessage", "TargetId", false, kNotRead},
    {"CreateDocuments", "XMLMessage", "Status", false, kNotRead},
    {"CreateDocuments", "Datasheet", "TemplateId", true,
     "The template the datasheet is made from (\"VESSEL-DS\"; \"ListTemplates\" lists them)."},
    {"CreateDocuments", "Diagram", "Name", true, "The new diagram's name."},

    {"CreateHold", "XMLMessage", "TargetId", false, kNotRead},
    {"CreateHold", "XMLMessage", "Status", false, kNotRead},

    {"DatasheetOverspill", "XMLMessage", "TargetId", false, kNotRead},
    {"DatasheetOverspill", "XMLMessage", "Status", false, kNotRead},
    {"DatasheetOverspill", "DatasheetOverspill", "PageId", true,
     "The page whose overspill is brought up to date (\"1091\")."},

    {"DeleteFieldObjects", "XMLMessage", "TargetId", false, kTargetEchoed},
    {"DeleteFieldObjects", "XMLMessage", "Status", false, kStatusEchoed},
    {"DeleteFieldObjects", "DeleteFieldObjects", "PageId", true, kChangedPage},
    {"DeleteFieldObjects", "Field", "FieldId", true, kField},
    {"DeleteFieldObjects", "Field", "Index", false, kListRow},

    {"ExportDocuments", "XMLMessage", "TargetId", false, kNotRead},
    {"ExportDocuments", "XMLMessage", "Status", false, kNotRead},
    {"ExportDocuments", "Datasheet", "DocumentId", true, "The datasheet's object id (\"1004\")."},
    {"ExportDocuments", "Datasheet", "Status", true,
     "The version, 1 to 4; any other value fails with \"Invalid status\"."},

    {"GetDocumentHelp", "XMLMessage", "TargetId", false, kNotRead},
    {"GetDocumentHelp", "XMLMessage", "Status", false, kNotRead},

    {"GetFieldFormat", "XMLMessage", "TargetId", false, kTargetEchoed},
    {"GetFieldFormat", "XMLMessage", "Status", false, kStatusEchoed},
    {"GetFieldFormat", "GetFieldFormat", "PageId", true, kPage},
    {"GetFieldFormat", "FieldId", "ID", true, kListedField},

    {"GetFieldHelp", "XMLMessage", "TargetId", false, kNotRead},
    {"GetFieldHelp", "XMLMessage", "Status", false, kNotRead},
    {"GetFieldHelp", "GetFieldHelp", "FieldId", true,
     "The field's id in the page's template (\"103\"), which the help text names."},

    {"GetFieldObject", "XMLMessage", "TargetId", false, kTargetEchoed},
    {"GetFieldObject", "XMLMessage", "Status", false, kStatusEchoed},
    {"GetFieldObject", "GetFieldObject", "PageId", true, kPage},
    {"GetFieldObject", "GetFieldObject", "FieldId", true, kField},
    {"GetFieldObject", "GetFieldObject", "Index", false, kListRow},

    {"GetFieldProperties", "XMLMessage", "TargetId", false, kTargetEchoed},
    {"GetFieldProperties", "XMLMessage", "Status", false, kStatusEchoed},
    {"GetFieldProperties", "GetFieldProperties", "PageId", true, kPage},
    {"GetFieldProperties", "GetFieldProperties", "FieldId", true, kField},

    {"GetFieldStatus", "XMLMessage", "TargetId", false, kTargetEchoed},
    {"GetFieldStatus", "XMLMessage", "Status", false, kStatusEchoed},
    {"GetFieldStatus", "GetFieldStatus", "PageId", true, kPage},
    {"GetFieldStatus", "FieldId", "ID", true, kListedField},

    {"GetInfoForReport", "XMLMessage", "TargetId", false, kTargetEchoed},
    {"GetInfoForReport", "XMLMessage", "Status", false, kStatusEchoed},
    {"GetInfoForReport", "Field", "FieldId", true,
     "The field's id in the page's template (\"103\"). The values pair in request order, not "
     "by \"Field\": the n-th \"FieldId\" goes with the n-th \"PageId\", and what is left over "
     "of the longer list reports nothing."},
    {"GetInfoForReport", "Field", "PageId", true,
     "The page's object id (\"1011\"). A \"Field\" without it shifts the pairing: "
     "`<Field FieldId=\"103\"/><Field FieldId=\"104\" PageId=\"1011\"/>` reports field 103 of "
     "page 1011 and nothing of field 104."},

    {"GetOptions", "XMLMessage", "TargetId", false, kTargetEchoed},
    {"GetOptions", "XMLMessage", "Status", false, kStatusEchoed},
    {"GetOptions", "GetOptions", "PageId", true, "The page's object id (\"1041\")."},
    {"GetOptions", "GetOptions", "FieldId", true,
     "The field's id in the page's template (\"308\")."},

    {"GetSourceFromDB", "XMLMessage", "TargetId", false, kNotRead},
    {"GetSourceFromDB", "GetSourceFromDB", "TemplateId", true,
     "The template whose source is sent (\"VESSEL-DS\")."},
    {"GetSourceFromDB", "GetSourceFromDB", "Checknum", true,
     "The template's version (\"1\"): without a cached source, the template's \".qmf\" file is "
     "sent only when the version is the template's."},

    {"GetTemplateFromDB", "XMLMessage", "TargetId", false, kNotRead},
    {"GetTemplateFromDB", "GetTemplateFromDB", "TemplateId", true,
     "The template whose data is sent (\"HX-DS\")."},

    {"GetUnits", "XMLMessage", "TargetId", false, kTargetEchoed},
    {"GetUnits", "XMLMessage", "Status", false, kStatusEchoed},
    {"GetUnits", "GetUnits", "PageId", true, kPage},
    {"GetUnits", "GetUnits", "UnitId", true,
     "The unit field's number on the page, from 0 (\"1\")."},

    {"HideFieldCase", "XMLMessage", "TargetId", false, kCaseTarget},
    {"HideFieldCase", "XMLMessage", "Status", false, kStatusEchoed},
    {"HideFieldCase", "HideFieldCase", "PageId", true, kChangedPage},
    {"HideFieldCase", "HideFieldCase", "FieldId", true, kField},

    {"HideFieldObjects", "XMLMessage", "TargetId", false, kObjectsTarget},
    {"HideFieldObjects", "XMLMessage", "Status", false, kStatusEchoed},
    {"HideFieldObjects", "HideFieldObjects", "PageId", true, kChangedPage},
    {"HideFieldObjects", "Field", "FieldId", true, kField},
    {"HideFieldObjects", "Field", "Index", false, kListRow},

    {"InsertPages", "XMLMessage", "TargetId", true,
     "The datasheet the pages are inserted into, by its object id in decimal (\"1002\"); it "
     "gets the change event."},
    {"InsertPages", "XMLMessage", "Status", false, kNotRead},
    {"InsertPages", "Page", "TemplateId", true, "The template of the new page (\"PUMP-DS\")."},
    {"InsertPages", "Page", "TemplatePageId", true,
     "The page of that template the new page is made from (\"P1\")."},

    {"IssueDocuments", "XMLMessage", "TargetId", false, kNotRead},
    {"IssueDocuments", "XMLMessage", "Status", false, kNotRead},
    {"IssueDocuments", "Datasheet", "DocumentId", true,
     "A checked datasheet's object id (\"1001\")."},
    {"IssueDocuments", "Diagram", "DocumentId", true, "A checked diagram's object id."},

    {"ListDatasheetDimensionSets", "XMLMessage", "TargetId", false, kTargetEchoed},
    {"ListDatasheetDimensionSets", "XMLMessage", "Status", false, kStatusEchoed},

    {"ListDatasheetDimensionUnits", "XMLMessage", "TargetId", false, kTargetEchoed},
    {"ListDatasheetDimensionUnits", "XMLMessage", "Status", false, kStatusEchoed},
    {"ListDatasheetDimensionUnits", "ListDatasheetDimensionUnits", "Name", true,
     "A dimension (\"Pressure\")."},

    {"ListDatasheetDimensions", "XMLMessage", "TargetId", true,
     "The datasheet's object id, in decimal (\"1003\"); given back as the reply's \"TargetId\"."},
    {"ListDatasheetDimensions", "XMLMessage", "Status", true,
     "The datasheet's page set whose dimensions are listed: 1 the current pages, 2 submitted, 3 "
     "checked, 4 issued; any other value, or none, fails with \"Invalid status\". Given back as "
     "the reply's \"Status\"."},

    {"ListDatasheetFilters", "XMLMessage", "TargetId", false, kTargetEchoed},
    {"ListDatasheetFilters", "XMLMessage", "Status", false, kStatusEchoed},

    {"ListDatasheetSorts", "XMLMessage", "TargetId", false, kTargetEchoed},
    {"ListDatasheetSorts", "XMLMessage", "Status", false, kStatusEchoed},

    {"ListDatasheetsByObject", "XMLMessage", "TargetId", false, kNotRead},
    {"ListDatasheetsByObject", "XMLMessage", "Status", false, kNotRead},

    {"ListDatasheetsByTemplate", "XMLMessage", "TargetId", false, kNotRead},
    {"ListDatasheetsByTemplate", "XMLMessage", "Status", false, kNotRead},

    {"ListDiagramsByObject", "XMLMessage", "TargetId", false, kNotRead},
    {"ListDiagramsByObject", "XMLMessage", "Status", false, kNotRead},

    {"ListTemplatePagesByObject", "XMLMessage", "TargetId", false, kTargetEchoed},
    {"ListTemplatePagesByObject", "XMLMessage", "Status", false, kNotRead},

    {"MakeSummaryProjectWide", "XMLMessage", "TargetId", true,
     "The summary sheet's object id, in decimal (\"1007\"); given back as the reply's "
     "\"TargetId\"."},
    {"MakeSummaryProjectWide", "XMLMessage", "Status", false, kStatusEchoed},

    {"MoveAnnotation", "XMLMessage", "TargetId", false, kNotRead},
    {"MoveAnnotation", "XMLMessage", "Status", false, kAnnotationStatus},
    {"MoveAnnotation", "MoveAnnotation", "PageId", true, kPage},
    {"MoveAnnotation", "MoveAnnotation", "AnnotationId", true,
     "The annotation's id on the page (\"1\")."},

    {"MovePage", "XMLMessage", "TargetId", true,
     "The datasheet whose current pages are put in a new order, by its object id in decimal "
     "(\"1002\")."},
    {"MovePage", "XMLMessage", "Status", false, kNotRead},
    {"MovePage", "MovePage", "MovePageId", true, "The page moved (\"1022\")."},

    {"OpenDocuments", "XMLMessage", "TargetId", false, kNotRead},
    {"OpenDocuments", "XMLMessage", "Status", false, kNotRead},
    {"OpenDocuments", "Datasheet", "DocumentId", true, "The datasheet's object id (\"1001\")."},
    {"OpenDocuments", "Datasheet", "Status", true,
     "The version opened, 1 to 4; any other value fails with \"Invalid status\"."},
    {"OpenDocuments", "Diagram", "DocumentId", true, "The diagram's object id (\"1101\")."},

    {"PackObjects", "XMLMessage", "TargetId", false, kNotRead},
    {"PackObjects", "XMLMessage", "Status", false, kNotRead},
    {"PackObjects", "PackObjects", "PageId", true,
     "A page of the overspill chain packed (\"1091\")."},
    {"PackObjects", "PackObjects", "FieldId", true,
     "The field, by its id in the page's template (\"501\"), whose list of objects is packed."},

    {"PageLayout", "XMLMessage", "TargetId", true,
     "The datasheet that gets the change event, by its object id in decimal (\"1002\"); "
     "another kind of object is refused before the page is changed."},
    {"PageLayout", "XMLMessage", "Status", false, kNotRead},
    {"PageLayout", "PageLayout", "PageId", false,
     "The page (\"1021\"), named before the layout attributes: each attribute is stored as it "
     "is read, so one that stands before \"PageId\" (as a writer that sorts attributes puts "
     "\"Orientation\") is not stored. Without \"PageId\" the request stores nothing, succeeds "
     "and still sends its change event."},

    {"PrintDocuments", "XMLMessage", "TargetId", false, kNotRead},
    {"PrintDocuments", "XMLMessage", "Status", false, kNotRead},
    {"PrintDocuments", "Datasheet", "DocumentId", true, "The datasheet's object id (\"1002\")."},
    {"PrintDocuments", "Datasheet", "Status", true,
     "The version, 1 to 4; any other value fails with \"Invalid status\"."},

    {"RecaseDocuments", "XMLMessage", "TargetId", true,
     "The datasheet recased, by its object id in decimal (\"1002\")."},
    {"RecaseDocuments", "XMLMessage", "Status", false, kNotRead},
    {"RecaseDocuments", "RecaseDocuments", "CaseId", true, "A case of the store (\"2\")."},

    {"RenameDocuments", "XMLMessage", "TargetId", false, kNotRead},
    {"RenameDocuments", "XMLMessage", "Status", false, kNotRead},
    {"RenameDocuments", "Datasheet", "DocumentId", true, "The datasheet's object id (\"1002\")."},
    {"RenameDocuments", "Diagram", "DocumentId", true, "The diagram's object id (\"1107\")."},

    {"RenamePage", "XMLMessage", "TargetId", true,
     "The datasheet that gets the change event, by its object id in decimal (\"1002\"); "
     "another kind of object is refused before the page is changed."},
    {"RenamePage", "XMLMessage", "Status", false, kNotRead},
    {"RenamePage", "RenamePage", "PageId", true,
     "The page renamed (\"1021\"): a current page; a submitted, checked or issued copy is "
     "refused."},

    {"SetAnnotation", "XMLMessage", "TargetId", false, kNotRead},
    {"SetAnnotation", "XMLMessage", "Status", true,
     "The version of the page: 1 for a current page; a plain annotation changes only there, a "
     "mark-up one goes to the page's submitted and checked copies too (from a copy, 2 or 3, to "
     "its current page); 4 changes nothing. The change event carries it. An issued copy is "
     "refused, and so is a submitted or checked copy addressed with the status of a version "
     "that does not hold it."},
    {"SetAnnotation", "SetAnnotation", "PageId", true, kPage},
    {"SetAnnotation", "SetAnnotation", "AnnotationId", true,
     "The annotation's id on the page (\"1\")."},

    {"SetBoolField", "XMLMessage", "TargetId", false, kNotRead},
    {"SetBoolField", "XMLMessage", "Status", true, kSetterStatus},
    {"SetBoolField", "SetBoolField", "PageId", true, kWrittenPage},
    {"SetBoolField", "SetBoolField", "FieldId", true, kField},

    {"SetCheckField", "XMLMessage", "TargetId", false, kNotRead},
    {"SetCheckField", "XMLMessage", "Status", true, kSetterStatus},
    {"SetCheckField", "SetCheckField", "PageId", true, kWrittenPage},
    {"SetCheckField", "SetCheckField", "FieldId", true, kField},

    {"SetDateField", "XMLMessage", "TargetId", false, kNotRead},
    {"SetDateField", "XMLMessage", "Status", true, kSetterStatus},
    {"SetDateField", "SetDateField", "PageId", true, kWrittenPage},
    {"SetDateField", "SetDateField", "FieldId", true, kField},

    {"SetFieldFormat", "XMLMessage", "TargetId", false, kNotRead},
    {"SetFieldFormat", "XMLMessage", "Status", false, kNotRead},
    {"SetFieldFormat", "SetFieldFormat", "PageId", true, kWrittenPage},
    {"SetFieldFormat", "FieldId", "ID", true, kListedField},

    {"SetFieldProperties", "XMLMessage", "TargetId", false, kNotRead},
    {"SetFieldProperties", "XMLMessage", "Status", false, kNotRead},
    {"SetFieldProperties", "SetFieldProperties", "PageId", true, kWrittenPage},
    {"SetFieldProperties", "SetFieldProperties", "FieldId", true, kField},

    {"SetFieldStatus", "XMLMessage", "TargetId", false, kNotRead},
    {"SetFieldStatus", "XMLMessage", "Status", false, kNotRead},
    {"SetFieldStatus", "SetFieldStatus", "PageId", true, kWrittenPage},
    {"SetFieldStatus", "FieldId", "ID", true, kListedField},

    {"SetIntegerField", "XMLMessage", "TargetId", false, kNotRead},
    {"SetIntegerField", "XMLMessage", "Status", true, kSetterStatus},
    {"SetIntegerField", "SetIntegerField", "PageId", true, kWrittenPage},
    {"SetIntegerField", "SetIntegerField", "FieldId", true, kField},

    {"SetPageCase", "XMLMessage", "TargetId", false, kNotRead},
    {"SetPageCase", "XMLMessage", "Status", false, kNotRead},
    {"SetPageCase", "SetPageCase", "PageId", true,
     "The page's object id (\"1021\"): a current page; a submitted, checked or issued copy is "
     "refused."},
    {"SetPageCase", "SetPageCase", "CaseId", true, "A case of the store (\"2\")."},

    {"SetQualifier", "XMLMessage", "TargetId", false, kNotRead},
    {"SetQualifier", "XMLMessage", "Status", false, kNotRead},
    {"SetQualifier", "SetQualifier", "PageId", true,
     "The page's object id (\"1061\"): a current page; a submitted, checked or issued copy is "
     "refused."},
    {"SetQualifier", "SetQualifier", "QualifierId", true,
     "The qualifier's number on the page, from 0 (\"0\")."},
    {"SetQualifier", "SetQualifier", "Value", true, "The qualifier's new value (\"1\")."},

    {"SetRadioField", "XMLMessage", "TargetId", false, kNotRead},
    {"SetRadioField", "XMLMessage", "Status", true, kSetterStatus},
    {"SetRadioField", "SetRadioField", "PageId", true, kWrittenPage},
    {"SetRadioField", "SetRadioField", "FieldId", true, kField},
    {"SetRadioField", "SetRadioField", "Value", true, "The choice, its place from 0 (\"1\")."},

    {"SetRealField", "XMLMessage", "TargetId", false, kNotRead},
    {"SetRealField", "XMLMessage", "Status", true, kSetterStatus},
    {"SetRealField", "SetRealField", "PageId", true, kWrittenPage},
    {"SetRealField", "SetRealField", "FieldId", true, kField},

    {"SetSketchField", "XMLMessage", "TargetId", false, kNotRead},
    {"SetSketchField", "XMLMessage", "Status", true, kSetterStatus},
    {"SetSketchField", "SetSketchField", "PageId", true, kWrittenPage},
    {"SetSketchField", "SetSketchField", "FieldId", true, kField},

    {"SetStringField", "XMLMessage", "TargetId", false, kNotRead},
    {"SetStringField", "XMLMessage", "Status", true, kSetterStatus},
    {"SetStringField", "SetStringField", "PageId", true, kWrittenPage},
    {"SetStringField", "SetStringField", "FieldId", true, kField},

    {"SetUnit", "XMLMessage", "TargetId", false, kNotRead},
    {"SetUnit", "XMLMessage", "Status", false, kNotRead},
    {"SetUnit", "SetUnit", "PageId", true, kWrittenPage},
    {"SetUnit", "SetUnit", "UnitId", true, "The unit field's number on the page, from 0 (\"1\")."},
    {"SetUnit", "SetUnit", "Index", true,
     "The unit's place in the unit field's list, from 0 (\"2\"; \"GetUnits\" lists them)."},

    {"ShowFieldCase", "XMLMessage", "TargetId", false, kCaseTarget},
    {"ShowFieldCase", "XMLMessage", "Status", false, kStatusEchoed},
    {"ShowFieldCase", "ShowFieldCase", "PageId", true, kChangedPage},
    {"ShowFieldCase", "ShowFieldCase", "FieldId", true, kField},
    {"ShowFieldCase", "ShowFieldCase", "Index", false, kCaseRow},

    {"ShowFieldObjects", "XMLMessage", "TargetId", false, kObjectsTarget},
    {"ShowFieldObjects", "XMLMessage", "Status", false, kStatusEchoed},
    {"ShowFieldObjects", "ShowFieldObjects", "PageId", true, kChangedPage},
    {"ShowFieldObjects", "Field", "FieldId", true, kField},
    {"ShowFieldObjects", "Field", "Index", false, kListRow},

    {"ShowPrimaryObjects", "XMLMessage", "TargetId", false, kTargetEchoed},
    {"ShowPrimaryObjects", "XMLMessage", "Status", false, kStatusEchoed},
    {"ShowPrimaryObjects", "ShowPrimaryObjects", "PageId", true, kPage},
    {"ShowPrimaryObjects", "Field", "FieldId", true, kListedField},

    {"SubmitDocuments", "XMLMessage", "TargetId", false, kNotRead},
    {"SubmitDocuments", "XMLMessage", "Status", false, kNotRead},
    {"SubmitDocuments", "Datasheet", "DocumentId", true, "The datasheet's object id (\"1001\")."},
    {"SubmitDocuments", "Diagram", "DocumentId", true, "The diagram's object id (\"1101\")."},

    {"UpdateTemplates", "XMLMessage", "TargetId", false, kNotRead},
    {"UpdateTemplates", "XMLMessage", "Status", false, kNotRead},

    {"WithdrawDocuments", "XMLMessage", "TargetId", false, kNotRead},
    {"WithdrawDocuments", "XMLMessage", "Status", false, kNotRead},
    {"WithdrawDocuments", "Datasheet", "DocumentId", true, "The datasheet's object id (\"1002\")."},
    {"WithdrawDocuments", "Datasheet", "Status", false,
     "1: the whole datasheet is deleted (without \"Confirmed\", a question first); any other "
     "value, none included: its submitted or checked version goes back to current, with "
     "\"Confirmed\" only (without it nothing is done and nothing said)."},
    {"WithdrawDocuments", "Diagram", "DocumentId", true, "The diagram's object id."},
};

// The messages whose request is a bare text, not XML: they have no grammar
// and so no notes. The generator of the grammar table fails when these and
// the notes do not name the module's messages.
constexpr std::string_view kBareTextMessages[] = {"AddFieldObjects",
                                                  "ChangeDimensionSet",
                                                  "DeletePage",
                                                  "GetBitmapFile",
                                                  "GetConfigurations",
                                                  "GetObjectFilters",
                                                  "GetSourceFile",
                                                  "GetTemplateFile",
                                                  "ListCachedTemplates",
                                                  "ListDatasheetObjects",
                                                  "ListDatasheetsByField",
                                                  "ListDatasheetsByStatus",
                                                  "ListDiagrams",
                                                  "ListDimensionSets",
                                                  "ListDimensionUnits",
                                                  "ListDimensions",
                                                  "ListHolds",
                                                  "ListPageObjects",
                                                  "ListSharedDiagrams",
                                                  "ListTemplatePages",
                                                  "ListTemplates",
                                                  "OpenPage",
                                                  "RemoveFieldObjects",
                                                  "SetQMFDBTemplate",
                                                  "ValidateTemplates"};

constexpr size_t CountMessages() {
  size_t count = std::size(kBareTextMessages);
  for (size_t i = 0; i < std::size(kNotes); ++i) {
    if (i == 0 || std::string_view(kNotes[i].message) != kNotes[i - 1].message) ++count;
  }
  return count;
}

}  // namespace

std::span<const AttributeNote> AttributeNotes() { return {std::begin(kNotes), std::end(kNotes)}; }

bool ActsOnlyOnStatusOne(const AttributeNote& note) { return note.use == kSetterStatus; }

std::span<const std::string_view> MessageNames() {
  static const auto names = [] {
    std::array<std::string_view, CountMessages()> all{};
    size_t at = 0;
    for (std::string_view name : kBareTextMessages) all[at++] = name;
    for (size_t i = 0; i < std::size(kNotes); ++i) {
      if (i == 0 || std::string_view(kNotes[i].message) != kNotes[i - 1].message)
        all[at++] = kNotes[i].message;
    }
    std::sort(all.begin(), all.end());
    return all;
  }();
  return names;
}

}  // namespace kx::host
