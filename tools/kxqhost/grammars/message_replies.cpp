// What each message of the module answers, for the reference of the
// messages: its reply's elements and attributes and what their values mean,
// or that it writes none. Written from the module's reply writers; the
// forms several messages share (an alert, a question, the field, unit,
// revision, annotation and qualifier elements of a page, the "Page" and
// "Datasheet" elements) are said once in the reference's head.
#include <iterator>

#include "message_notes.h"

namespace kx::kxqhost {

namespace {

constexpr char kNone[] = "None.";
constexpr char kFieldSetter[] =
    "None: the change reaches the clients as a \"DataField\" change event of the page. An alert "
    "instead when a list row is set beyond the first empty one (\"List items must be contiguous "
    "without blank entries. ...\"), or when a new row's value fails the summary sheet's "
    "permanent filter (\"'NAME' = 'VALUE' did not pass summary list membership requirements "
    "...\"): nothing is stored then. With \"Status\" other than 1, or on a field without an "
    "object and without \"ConfirmedClass\", nothing at all.";
constexpr char kOpenDocuments[] =
    "\"XMLMessage\" (\"TargetId\" \"App\") holding an element named after the message "
    "(\"OpenDocuments\", \"PrintDocuments\" or \"ExportDocuments\", whichever the request's "
    "element is), which holds per document, in request order, its \"Datasheet\" element (the "
    "shared datasheet form, at the version asked for) or a \"Diagram\" element with "
    "\"DocumentId\" and \"Status\". \"OpenDocuments\" writes the contents of the first page "
    "only, the others every page's. A datasheet whose template is missing is left out and named "
    "to the user afterwards (\"The following datasheet(s) cannot be opened due to an invalid "
    "template. ...\"); a version asked for again is answered once.";
constexpr char kDocumentsList[] =
    "\"XMLMessage\" (\"TargetId\" \"App\") holding \"Documents\" with \"CurrentPage\" (the "
    "version of the first document version the listing found, before sorting; 0 when it found "
    "only creation entries; for \"ListDatasheetsByStatus\" the status asked for), which holds one "
    "\"Datasheet\" element per "
    "datasheet version and per datasheet that could be created: \"Status\" (0 a creation entry, "
    "1 current, 2 submitted, 3 checked, 4 issued), \"Name\", \"Title\", for a creation entry "
    "\"ObjectId\" (the object it would be made for, -1 none) and \"TemplateId\", else "
    "\"DocumentId\", \"Case\" and \"Revision\" when it has them, \"Scoped\" (in the user's "
    "scope), \"Type\" (1 datasheet, 2 summary sheet, 3 summary sheet of the active project) and "
    "\"DatasheetCategory\"; in status order, then by title. Nothing at all when none is found.";
constexpr char kDiagramsList[] =
    "\"XMLMessage\" (\"TargetId\" \"App\") holding \"Documents\" with \"CurrentPage\" (the "
    "version of the first diagram version found, 0 when none), which holds one \"Diagram\" "
    "element per diagram version and per diagram that could be created: "
    "\"Name\", \"DiagramClass\" (its drawing template, else its class, \"PFD\" for a plain "
    "diagram), \"Status\" (0 a creation entry, 1 to 4 the version), \"DocumentId\", \"Case\" "
    "and \"Revision\" when it has them, \"Scoped\" and \"Type\" (0). An empty \"Documents\" "
    "when there is none.";

constexpr ReplyNote kReplies[] = {
    {"AddFieldObjects", kNone},
    {"ApplyDatasheetFilter",
     "An alert \"Filtered N objects\" (\"object\" for 1) counting the members the sheet was "
     "composed with, or \"Filters can only be used on summary sheets\" and nothing done. The "
     "clients get change events of the pages that changed. \"Attach\" 1 keeps the filter on the "
     "sheet; without it the filter is detached."},
    {"ApplyDatasheetSort",
     "An alert \"Sorted N objects\" (\"object\" for 1), 0 when nothing was sorted. The clients "
     "get a \"Datasheet\" change event of each page whose rows moved."},
    {"ChangeDatasheetDimensionSet",
     "None; the datasheet's unit fields take the set's units and the clients get \"UnitField\" "
     "change events."},
    {"ChangeDatasheetDimensionUnit",
     "None; the datasheet's unit fields of the dimension show the unit and the clients get "
     "\"UnitField\" change events."},
    {"ChangeDimensionSet",
     "None; the project's current dimension set changes, every datasheet of the project takes "
     "its units, and the clients get \"UnitField\" change events."},
    {"ChangeDimensionUnit",
     "None; the unit fields of the dimension on every datasheet of the project show the unit, "
     "and the clients get \"UnitField\" change events."},
    {"CheckDocuments",
     "Without the user's \"CheckDocument\" privilege the request fails (\"You do not have "
     "CheckDocument privilege\") before it reads a document. An alert \"Checked N Documents\" "
     "(\"Document\" for 1). The checked version of each "
     "document is its submitted one; a document that is not submitted fails the request (\"Cannot "
     "check datasheet, the document is not submitted\")."},
    {"CloseDocuments",
     "None; each version named is closed in the store (the counterpart of \"OpenDocuments\")."},
    {"CloseHold",
     "None; the host is asked to close the hold (its \"InActive\" becomes true), with "
     "\"HoldReason\" as the reason."},
    {"CompareDocuments",
     "As \"OpenDocuments\": \"XMLMessage\" (\"TargetId\" \"App\") holding \"OpenDocuments\" with "
     "the first document's \"Datasheet\" element, its fields written against the second "
     "document's (\"State\" bit 0x100 where they differ, 0x1000 where only the second has a "
     "value, which is shown). An empty \"OpenDocuments\" when either document's template is "
     "missing (named to the user afterwards)."},
    {"ComparePages",
     "As \"OpenPage\": \"XMLMessage\" with \"TargetId\" (the page's datasheet id) and \"Status\" "
     "(the version the page belongs to) holding \"OpenPage\" with \"PageId\" and \"OnDemand\" "
     "\"1\" and the page's contents, written against the same page of the second document "
     "(\"State\" bit 0x100 where they differ, 0x1000 where only the second has a value)."},
    {"CopyFieldCase",
     "None; the values of the fields that share the field's case entry are copied from case "
     "\"CaseId\" into the case the field shows, and the clients get \"DataField\" change events. "
     "An alert \"No case defined for selected field\" (\"TargetId\" and \"Status\" of the "
     "request, \"DocumentId\" the \"TargetId\" as a number) when the field has no case of its "
     "own."},
    {"CreateAnnotation",
     "None; the annotation is added with the datasheet's next annotation id (a mark-up one "
     "signed \"USER:\" and copied to the other versions, as \"Status\" says), and the clients "
     "get an \"AnnotationField\" change event."},
    {"CreateDocuments",
     "As \"OpenDocuments\": \"XMLMessage\" (\"TargetId\" \"App\") holding \"OpenDocuments\" with, "
     "per document made, in request order, the new datasheet's \"Datasheet\" element at version "
     "1 (opened as \"OpenDocuments\" opens it) or a \"Diagram\" with \"DocumentId\" and "
     "\"Status\" 1."},
    {"CreateHold", "The new hold's name as plain text (\"HOLD-03 Nozzle loads\"), not XML."},
    {"DatasheetOverspill",
     "None; the page's overspill chain is brought up to date (pages added or removed)."},
    {"DeleteFieldObjects",
     "\"XMLMessage\" (\"TargetId\" and \"Status\" of the request). Without \"Confirmed\", when a "
     "field's object is a primary one: one \"Message\" per such field with \"MessageType\" "
     "\"QUESTION\", \"Text\" (\"Delete object CLASS: NAME\"), \"FieldId\", \"Index\" and "
     "\"ObjectId\", and nothing is deleted; the client sends the request again with "
     "\"Confirmed\" set. A field that cannot be worked gives a \"Message\" with \"MessageType\" "
     "\"ALERT\" and its \"Text\" (\"No objects exist for selected field(s)\", ...). Confirmed, or "
     "when no field asks (no primary object): the objects are deleted from the store and no "
     "reply is written, not even an \"XMLMessage\". The message raises no change event of its "
     "own: a summary sheet that listed a deleted object is composed again and its clients get "
     "its change events; the page the field is on gets none."},
    {"DeletePage",
     "None; the page is deleted and the clients get a \"Datasheet\" change event of its "
     "datasheet."},
    {"ExportDocuments", kOpenDocuments},
    {"GetBitmapFile", "The bitmap file, sent as a binary file; no reply text."},
    {"GetConfigurations",
     "\"XMLMessage\" (\"MessageOfTheDay\" \"\", \"TargetId\" \"App\") holding \"Configurations\" "
     "with what the user may do, each \"1\" or \"0\": \"CanSecure\", \"CanLock\", \"CanCheck\", "
     "\"CanIssue\" (the privileges \"SecureAttribute\", \"LockAttribute\", \"CheckDocument\", "
     "\"IssueDocument\"), \"CanChangeUnits\" (\"Globally Change Display Units\"), "
     "\"IsRootProject\" (the active project is the root project) and \"CanModifySummary\" "
     "(\"Modify Non-Project Summary\"); it holds one \"Filter\" (\"Name\", \"Title\", and "
     "\"Default\" \"1\" for the default one) per object filter of the schema."},
    {"GetDocumentHelp", "The help file's name as plain text, not XML."},
    {"GetFieldFormat",
     "\"XMLMessage\" (\"TargetId\" and \"Status\" of the request) holding \"PopFormat\" with "
     "\"PageId\", the alignment the listed fields share as \"Alignment\" (4: they differ) and "
     "\"VerticalAlignment\" (3: they differ), each left out when none has one, and, for each "
     "kind of field met, its format as \"BoolFormat\", \"DateFormat\", \"RealFormat\" or "
     "\"IntegerFormat\" (empty: the fields differ); it holds the listed fields as \"FieldId\" "
     "(\"ID\", and \"Index\" for a row)."},
    {"GetFieldHelp", "The field's help text as plain text, not XML."},
    {"GetFieldObject",
     "\"XMLMessage\" (\"TargetId\" and \"Status\" of the request) holding \"FieldObject\" with "
     "\"PageId\", \"FieldId\", \"ObjectId\" (the object behind the field) and \"Primary\" (\"1\": "
     "it is the field's root object, the page's own object for the field; \"0\": the object its "
     "qualifier route leads to). An alert \"Selected item does not have a root object.\" for a "
     "list row that is not on the page; an empty reply when the field has no object."},
    {"GetFieldProperties",
     "\"XMLMessage\" (\"TargetId\" and \"Status\" of the request) holding \"PopProperties\" with "
     "\"PageId\", \"FieldId\", \"Index\" (for a row), \"Class\" (the class of the object at the "
     "field's first node, the row's object on a list, also for a field of a further node: "
     "\"Pump\" for a pump's motor's power; without an object there, the classes that node takes "
     "(those with the field's attribute where the node knows it), each but the last followed by "
     "\",\" and a line end), \"Type\" "
     "(\"String\", \"Real\", \"Integer\", "
     "\"Date\", \"Boolean\", \"Radio\", \"Check\", \"Sketch\"), \"Attribute\" (the first "
     "node's name, \": \", each further node's name followed by \".\", then the attribute: "
     "\"Pump: RatedFlow\", \"Pump: Driver.RatedPower\"; \"Equipment: DesignPressure\" on the "
     "equipment list, whose node \"Equipment\" takes ProcessPlantEquipment), \"Documentation\", "
     "\"Disciplines\", "
     "\"Case\" (the case the field shows), "
     "\"Value\" (the value shown), \"Units\" (a real field's unit), \"IssuedValue\" (the value at "
     "the last issue), \"State\" (the template field's initial state with bits ORed in: 0x1, "
     "0x2, 0x4 and 0x8 for the first four status flags the store keeps with the value and 0x800 "
     "when its fifth is clear, read only where the field reaches an attribute (no scope test "
     "adds to them here); 0x100 when the field differs from its last issue, "
     "and on a document never issued for every field but a check box not ticked and a radio "
     "field without a choice; 0x400, from the template, closes the option list), \"Lock\", "
     "\"Secure\", \"Hold\" (\"1\" "
     "or "
     "\"0\"), \"HoldReason\" (the hold's name, \": \" and the "
     "reason it was made with: \"HOLD-01 ...: \" when it has none; empty when not held), "
     "\"Alignment\" and "
     "\"VerticalAlignment\" (when set), the field's format under its kind's name "
     "(\"RealFormat\", ...) and, for a number field, \"Prefix\", \"Postfix\" and "
     "\"Substitution\". A real field with a value holds \"RealData\": one \"Data\" (\"Value\", "
     "\"Units\") per unit the value can be shown in; a text field with options holds "
     "\"OptionsData\" (\"Open\": \"True\" when other texts are allowed) with one \"Data\" "
     "(\"Value\") per option."},
    {"GetFieldStatus",
     "\"XMLMessage\" (\"TargetId\" and \"Status\" of the request) holding \"PopStatus\" with "
     "\"PageId\", \"Lock\", \"Secure\" and \"Hold\", each summed over the listed fields: 0 none "
     "is, 1 all are, 2 some are; \"HoldReason\", the holds involved, each as its name, \": \" and "
     "its reason (the reason may be empty), followed by a line end; it holds the listed fields as "
     "\"FieldId\" (\"ID\", and \"Index\" for a row)."},
    {"GetInfoForReport",
     "\"XMLMessage\" (\"TargetId\" and \"Status\" of the request) holding, per \"Field\" in "
     "request order and per object in the store of the classes the field's first node takes "
     "(every pump for a pump's motor's power, not only the page's; pages, documents and the "
     "globals object left out; a name once per class), an \"ObjectInfo\" with \"Name\" (the "
     "object's name) holding \"AttributeName\" (the attribute the field shows), \"Value\" (its "
     "value as text, in the page's unit for the field; empty when the object has none) and "
     "\"UOM\" (that unit; empty for a field without one). A \"Field\" on a summary sheet reports "
     "nothing. The n-th \"FieldId\" of the request goes with its n-th \"PageId\" (above)."},
    {"GetObjectFilters",
     "\"XMLMessage\" (\"TargetId\" \"App\") holding \"ObjectFilters\" with one \"Filter\" "
     "(\"Name\", \"Title\", and \"Default\" \"1\" for the default one) per object filter of the "
     "schema."},
    {"GetOptions",
     "\"XMLMessage\" (\"TargetId\" and \"Status\" of the request) holding \"PopOptions\" with "
     "\"PageId\", \"FieldId\" and \"Index\" (for a row), which holds one \"Option\" per value the "
     "field offers, its text the value. Nothing when the field has no object to ask."},
    {"GetSourceFile", "The file, sent as a binary file; no reply text."},
    {"GetSourceFromDB",
     "The template's cached source as plain text when the store holds one, else the template's "
     "\".qmf\" file from the \"Templates\" folder, sent as a binary file."},
    {"GetTemplateFile", "The template's workbook file, sent as a text file; no reply text."},
    {"GetTemplateFromDB",
     "The template's cached data as plain text when the store holds it for that version, else "
     "the template's workbook file, as \"GetTemplateFile\" sends it."},
    {"GetUnits",
     "\"XMLMessage\" (\"TargetId\" and \"Status\" of the request) holding \"PopUnits\" with "
     "\"PageId\" and \"UnitId\", which holds one \"Value\" per unit the unit field offers, in "
     "its order (the place \"SetUnit\" \"Index\" takes), its text the unit's display text."},
    {"HideFieldCase",
     "None when the field's own case is taken off. An alert (\"TargetId\" and \"Status\" of the "
     "request, \"DocumentId\" the \"TargetId\" as a number) \"Cannot hide default datasheet "
     "case\" for a field that shows the datasheet's case, or \"No case defined for selected "
     "field\"."},
    {"HideFieldObjects",
     "\"XMLMessage\" (\"TargetId\" and \"Status\" of the request). Without \"Confirmed\", when a "
     "field's object is a primary one: one \"Message\" per such field with \"MessageType\" "
     "\"QUESTION\", \"Text\" (\"Hide object CLASS: NAME\"), \"FieldId\", \"Index\" and "
     "\"ObjectId\", and nothing is changed; the client sends the request again with "
     "\"Confirmed\" set. A field that cannot be worked gives a \"Message\" with \"MessageType\" "
     "\"ALERT\" and its \"Text\" (\"No objects exist for selected field(s)\", ...). Confirmed, or "
     "without a primary object: the objects are taken off the page (not deleted) and the reply "
     "is empty."},
    {"InsertPages",
     "None; the pages are inserted and the clients get a \"Datasheet\" change event of the "
     "datasheet. On a summary sheet the alert \"Pages cannot be added to summary sheets.\" "
     "instead, and nothing is inserted; the clients still get the \"Datasheet\" change "
     "event."},
    {"IssueDocuments",
     "Without the user's \"IssueDocument\" privilege the request fails (\"You do not have "
     "IssueDocument privilege\") before it reads a document. An alert \"Issued N Documents\" "
     "(\"Document\" for 1). Each document's checked version "
     "becomes its issued one at the revision given, changed fields get the revision mark, and "
     "the clients get \"Datasheet\" change events; a document that is not checked fails the "
     "request (\"Cannot issue datasheet, the document is not checked\")."},
    {"ListCachedTemplates",
     "\"XMLMessage\" (\"TargetId\" \"App\") holding \"CachedTemplates\" with one \"Template\" "
     "(\"TemplateId\", \"Checknum\": the version) per template version stored."},
    {"ListDatasheetDimensionSets",
     "\"XMLMessage\" (\"TargetId\" and \"Status\" of the request) holding \"DimensionSets\" with "
     "one \"DimensionSet\" (\"Name\") per dimension set of the store, sorted by name; none is "
     "marked current (\"ListDimensionSets\" marks the project's)."},
    {"ListDatasheetDimensionUnits",
     "\"XMLMessage\" (\"TargetId\" and \"Status\" of the request) holding \"DimensionUnits\" with "
     "\"Name\" (the dimension), which holds one \"DimensionUnit\" per unit of the dimension: "
     "\"Name\" (its display text, \"°C\") and \"UnitId\" (the id the change messages take, "
     "\"degC\")."},
    {"ListDatasheetDimensions",
     "\"XMLMessage\" (\"TargetId\" and \"Status\" of the request) holding \"Dimensions\" with one "
     "\"Dimension\" (\"Name\") per dimension the datasheet's unit fields show at that version, "
     "sorted by name."},
    {"ListDatasheetFilters",
     "\"XMLMessage\" (\"TargetId\" and \"Status\" of the request) holding \"Filters\" with "
     "\"CurrentFilter\" (the filter the page's summary sheet is composed with; empty without "
     "\"PageId\"), which holds one \"Filter\" (\"Name\", \"Title\") per object filter of the "
     "schema. The alert \"Filters can only be used on summary sheets\" for a page of another "
     "datasheet; nothing when the schema has no filter."},
    {"ListDatasheetObjects",
     "\"XMLMessage\" (\"TargetId\" \"App\") holding \"Objects\" with one \"ObjectId\" per object "
     "placed on the datasheet's current pages that is of a class of its template, its text the "
     "id, in ascending order."},
    {"ListDatasheetSorts",
     "\"XMLMessage\" (\"TargetId\" and \"Status\" of the request) holding \"Sorts\" with one "
     "\"Sort\" (\"Name\": what \"ApplyDatasheetSort\" \"SortId\" takes, \"Title\") per sort "
     "definition of the schema. Nothing when the schema has none."},
    {"ListDatasheetsByField", "None: which datasheets show a field is recorded nowhere."},
    {"ListDatasheetsByObject", kDocumentsList},
    {"ListDatasheetsByStatus", kDocumentsList},
    {"ListDatasheetsByTemplate", kDocumentsList},
    {"ListDiagrams",
     "\"XMLMessage\" (\"TargetId\" \"App\") holding \"Documents\" with \"CurrentPage\" (the "
     "version of the first diagram version found, 0 when none), which holds one \"Diagram\" "
     "element per diagram version of the store and per diagram that could "
     "be created (\"New TEMPLATE Diagram\" per drawing template, \"Shared Diagram\"): \"Name\", "
     "\"DiagramClass\" (its drawing template, else its "
     "class, \"PFD\" for a plain diagram), \"Status\" (0 a creation entry, 1 to 4 the version), "
     "\"DocumentId\", \"Case\" and \"Revision\" when it has them, \"Scoped\" and \"Type\" (0)."},
    {"ListDiagramsByObject", kDiagramsList},
    {"ListDimensionSets",
     "\"XMLMessage\" (\"TargetId\" \"App\") holding \"DimensionSets\" with "
     "\"CurrentDimensionSet\" (the project's), which holds one \"DimensionSet\" (\"Name\") per "
     "dimension set of the store."},
    {"ListDimensionUnits",
     "\"XMLMessage\" (\"TargetId\" \"App\") holding \"DimensionUnits\" with \"Name\" (the "
     "dimension), which holds one \"DimensionUnit\" per unit of the dimension: \"Name\" (its "
     "display text, \"°C\") and \"UnitId\" (the id the change messages take, \"degC\")."},
    {"ListDimensions",
     "\"XMLMessage\" (\"TargetId\" \"App\") holding \"Dimensions\" with one \"Dimension\" "
     "(\"Name\") per dimension of the store."},
    {"ListHolds",
     "\"XMLMessage\" (\"TargetId\" \"App\") holding \"Holds\" with one \"Hold\" (\"HoldId\": the "
     "hold's object id, \"Name\") per open hold."},
    {"ListPageObjects",
     "\"XMLMessage\" (\"TargetId\" \"App\") holding \"Objects\" with one \"ObjectId\" per object "
     "placed on the page that is of a class of its template, its text the id, in ascending "
     "order."},
    {"ListSharedDiagrams",
     "\"XMLMessage\" (\"TargetId\" \"App\") holding \"SharedDiagrams\" with one \"Diagram\" "
     "(\"Name\": its name with its class and case, \"DiagramClass\", \"DocumentId\", "
     "\"Scoped\", \"Type\" 0) per diagram of the store: those a new diagram can share "
     "(\"CreateDocuments\" \"SharedDocumentId\")."},
    {"ListTemplatePages",
     "\"XMLMessage\" (\"TargetId\" the request's text as sent, a line end included) holding, per "
     "object on the datasheet (the first object of each page whose class the page's template "
     "takes) and per template that fits it, a \"Pages\" with \"TemplateId\" and \"ObjectId\", "
     "which holds one \"Page\" (\"TemplatePageId\", \"Name\": \"OBJECT: TEMPLATE - PAGE\") per "
     "page of the template (when no page holds such an object: per class of the datasheet's "
     "template, the same without \"ObjectId\" and named \"TEMPLATE - PAGE\"); then, per "
     "continuous-list summary template, a \"Pages\" without "
     "\"ObjectId\" whose pages are named \"TEMPLATE - PAGE\": what \"InsertPages\" can insert. "
     "For a summary sheet: the continuous-list summary templates alone, or for a sheet of "
     "another summary template that template alone, without \"ObjectId\". Nothing when no "
     "template fits."},
    {"ListTemplatePagesByObject",
     "\"XMLMessage\" (\"TargetId\" of the request) holding, per object named and per template "
     "that fits it, a \"Pages\" with \"TemplateId\" and \"ObjectId\", which holds one \"Page\" "
     "(\"TemplatePageId\", \"Name\": \"OBJECT: TEMPLATE - PAGE\") per page of the template. "
     "Nothing when no template fits."},
    {"ListTemplates",
     "\"XMLMessage\" (\"TargetId\" \"App\") holding \"Templates\" with one \"Template\" "
     "(\"Name\", \"TemplateId\", \"Class\": the class its datasheets are for, "
     "\"DatasheetCategory\") per datasheet and summary template of the library, sorted by name. "
     "Templates that cannot be read are named to the user afterwards."},
    {"MakeSummaryProjectWide",
     "\"XMLMessage\" (\"TargetId\" and \"Status\" of the request) holding "
     "\"MakeSummaryProjectWide\" with the text \"True\": the summary sheet now takes the members "
     "of every project. An alert instead when the datasheet is no summary sheet (\"Datasheet "
     "'NAME' not a summary sheet\") or not the project's own (\"Summary sheet 'NAME' is not "
     "local to the project\")."},
    {"MoveAnnotation",
     "None; the annotation takes its new place (and so do its copies, for a mark-up one), and "
     "the clients get an \"AnnotationField\" change event."},
    {"MovePage",
     "None; the datasheet's pages are numbered in their new order and the clients get a "
     "\"Datasheet\" change event."},
    {"OpenDocuments", kOpenDocuments},
    {"OpenPage",
     "\"XMLMessage\" with \"TargetId\" (the page's datasheet id) and \"Status\" (the version the "
     "page belongs to: 1 current, 2 submitted, 3 checked, 4 issued) holding \"OpenPage\" with "
     "\"PageId\" (as sent) and \"OnDemand\" (\"1\", or \"0\" after \"!\"), which holds the "
     "page's contents: a field element per field, then \"ShowUnit\", \"ShowRevision\", "
     "\"ShowAnnotationField\" and \"ShowQualifier\" elements (the shared forms)."},
    {"PackObjects",
     "An alert \"Packed N objects\" (\"object\" for 1), the rows in use after packing, the "
     "pages left empty at the end deleted; nothing on a continuous list page."},
    {"PageLayout",
     "None; the values that stand after \"PageId\" are stored on the page and the clients get a "
     "\"Datasheet\" change event, also when nothing was stored (no \"PageId\", or every value "
     "before it). A \"PageId\" that names no current page (a submitted, checked or issued copy) "
     "is refused."},
    {"PrintDocuments", kOpenDocuments},
    {"RecaseDocuments",
     "None; every current page takes the case, which becomes the datasheet's default case, and "
     "the clients get \"Datasheet\" change events."},
    {"RemoveFieldObjects", kNone},
    {"RenameDocuments",
     "None; a datasheet's clients get a \"Datasheet\" change event (a diagram's none)."},
    {"RenamePage", "None; the clients get a \"Datasheet\" change event."},
    {"SetAnnotation",
     "None; the annotation's text changes (and so do its copies, for a mark-up one), and the "
     "clients get an \"AnnotationField\" change event."},
    {"SetBoolField", kFieldSetter},
    {"SetCheckField", kFieldSetter},
    {"SetDateField", kFieldSetter},
    {"SetFieldFormat",
     "None; each listed field's record takes the alignments and the format of its kind, and "
     "the clients get a \"DataField\" change event for each field that changed."},
    {"SetFieldProperties",
     "None; the field's value is locked, secured or held as asked, its record takes the "
     "alignments and format, and the clients get a \"DataField\" change event when the record "
     "changed (lock, secure and hold alone raise none)."},
    {"SetFieldStatus",
     "None; the listed fields' values are locked, secured or held as asked (\"IsLocked\", "
     "\"IsSecured\", \"IsHeld\": 1 on, 0 off, other values leave them), and the clients get a "
     "\"DataField\" change event."},
    {"SetIntegerField", kFieldSetter},
    {"SetPageCase",
     "None; the page takes the case and the clients get a \"Datasheet\" change event of the "
     "page."},
    {"SetQMFDBTemplate",
     "None; the workbook is stored with the template version named. A text of another form (no "
     "template id, one \"!::!\" only, no data) or data that is not Base64 fails the request "
     "(E_INVALIDARG), nothing stored; one that names no stored template version succeeds and "
     "stores nothing (a host warning says so)."},
    {"SetQualifier",
     "None; the qualifier takes the value, and the clients get a \"Qualifier\" change event and a "
     "\"DataField\" change event of the fields it decides."},
    {"SetRadioField", kFieldSetter},
    {"SetRealField", kFieldSetter},
    {"SetSketchField", kFieldSetter},
    {"SetStringField", kFieldSetter},
    {"SetUnit",
     "None; the unit field shows the unit (the values it governs are shown in it) and the "
     "clients get a \"UnitField\" change event."},
    {"ShowFieldCase",
     "Without \"CaseId\": \"XMLMessage\" (\"TargetId\" and \"Status\" of the request) holding "
     "\"ObjectId\" (its text the id of the object behind the field) and, when the field shows "
     "the datasheet's case, a question \"Change the default datasheet case?\" (\"DocumentId\" the "
     "\"TargetId\" as a number); the client answers by sending the request again with "
     "\"CaseId\". With \"CaseId\": none; the field (or the whole datasheet) takes the case."},
    {"ShowFieldObjects",
     "\"XMLMessage\" (\"TargetId\" and \"Status\" of the request). Without \"Confirmed\": per "
     "field, a \"FieldObjects\" with \"FieldId\" holding one \"Object\" (\"ObjectId\", \"Name\") "
     "per object the field could show, or a \"Message\" with \"MessageType\" \"ALERT\" and "
     "\"Text\" (\"An object exist for selected field(s)\", \"No objects exist for selected "
     "field(s)\"); the client sends the request again with \"Confirmed\" set and the chosen "
     "\"ObjectId\" on each \"Field\". Confirmed: the objects are placed on the page (and on the "
     "datasheet's other pages that show them) and the reply is empty; an object of a class the "
     "field's node does not take is refused, nothing placed."},
    {"ShowPrimaryObjects",
     "\"XMLMessage\" (\"TargetId\" and \"Status\" of the request) holding \"ShowPrimaryObjects\": "
     "empty when none of the listed fields is empty and takes the template's class; else with "
     "\"ClassView\" (the template's class view) and one \"FieldId\" per such field, its text the "
     "field id, in ascending order."},
    {"SubmitDocuments",
     "\"XMLMessage\" (\"TargetId\" \"App\"). Without \"Confirmed\": a question per document that "
     "is already submitted or checked (\"DocumentId\", \"NAME is currently submitted - "
     "resubmit?\"), and nothing is submitted; the client sends the request again with "
     "\"Confirmed\" set. Confirmed: an alert \"Submitted N Documents\" (\"Document\" for 1); each "
     "document's current pages are copied as its submitted version."},
    {"UpdateTemplates",
     "An alert \"Updated N datasheets.\" (\"datasheet.\" for 1), followed by \" Deleted N "
     "datasheets.\" when \"Delete\" removed any, and by the datasheets that could not be "
     "brought up to date."},
    {"ValidateTemplates",
     "\"XMLMessage\" (\"TargetId\" \"App\") holding \"ValidateDatasheets\" with one "
     "\"Datasheet\" (\"Name\", \"DocumentId\", \"TemplateId\": the template whose version "
     "differs from a page's, or the datasheet's own followed by \" (Missing)\") per datasheet "
     "whose current pages do not match their template. Nothing is changed."},
    {"WithdrawDocuments",
     "\"XMLMessage\" (\"TargetId\" \"App\"). For a current version (\"Status\" 1) without "
     "\"Confirmed\": a question \"Delete NAME\" (\"DocumentId\"), or the alert \"Cannot delete "
     "NAME. It is currently in use\", and nothing is deleted. Confirmed: an alert \"Withdrew N "
     "Documents\" (\"Document\" for 1); a current version is deleted with its document, another "
     "version goes back to current. Without \"Confirmed\", a version other than the current one "
     "is left as it is and gets no message: for it alone the reply is an empty \"XMLMessage\"."},
};

}  // namespace

std::span<const ReplyNote> ReplyNotes() { return {std::begin(kReplies), std::end(kReplies)}; }

}  // namespace kx::kxqhost
