// The template library: templates (versioned by checknum), their pages, the
// node tree of each page (class views), fields and unit fields. Templates
// are read-only through these interfaces, except a template page's
// CreatePage and a template's document creation. Ownership: see fwd.h.
#pragma once

#include "store/fwd.h"

struct IKXQTemplateLibrary : IDispatch {
  // Template by id (case-sensitive). version VT_EMPTY: the current version;
  // VT_BSTR checknum: that version, or the current one when that version is
  // gone. An unknown id gives S_OK with *tmpl null. AddRef'd.
  virtual HRESULT GetTemplate(BSTR id, VARIANT version, IKXQTemplate** tmpl) = 0;
  // Template by its name (case-insensitive) and optional checknum (VT_BSTR
  // or VT_EMPTY); S_OK with null when none. AddRef'd.
  virtual HRESULT GetTemplateByName(BSTR name, VARIANT version, IKXQTemplate** tmpl) = 0;
  // Number of current templates and the template at a 1-based position in
  // id order (DISP_E_BADINDEX outside). AddRef'd.
  virtual HRESULT get_Count(LONG* count) = 0;
  virtual HRESULT get_Item(LONG position, IKXQTemplate** tmpl) = 0;
  // Folder texts of the library. Caller frees.
  virtual HRESULT get_TemplatesFolder(BSTR* path) = 0;
  virtual HRESULT get_BitmapFolder(BSTR* path) = 0;
  // Cached data of a template version as text ("" when not held; the
  // cached workbook source likewise). Caller frees.
  virtual HRESULT GetCachedTemplateData(BSTR id, BSTR checknum, BSTR* data) = 0;
  virtual HRESULT GetCachedWorkbookSource(BSTR id, BSTR checknum, BSTR* source) = 0;
  // Notification that documents of template (id, checknum) changed status;
  // recorded for the host.
  virtual HRESULT NotifyTemplateUse(BSTR id, BSTR checknum) = 0;
};
KX_DEFINE_IID(IKXQTemplateLibrary, 0x4b585103, 0x0001, 0x4000, 0x80, 0x00, 0x4b, 0x58, 0x51, 0x53,
              0x54, 0x21)

struct IKXQTemplate : IDispatch {
  virtual HRESULT get_Id(BSTR* id) = 0;      // caller frees
  virtual HRESULT get_Name(BSTR* name) = 0;  // caller frees
  // Kind: "Datasheet", "Summary", "General" ... Caller frees.
  virtual HRESULT get_Kind(BSTR* kind) = 0;
  // Checknum (the version text, decimal). Caller frees.
  virtual HRESULT get_Checknum(BSTR* checknum) = 0;
  virtual HRESULT get_Available(VARIANT_BOOL* available) = 0;
  virtual HRESULT get_Category(BSTR* category) = 0;  // caller frees
  // Relative file path of the template's workbook. Caller frees.
  virtual HRESULT get_FilePath(BSTR* path) = 0;
  // Classes the template accepts: 1-D SAFEARRAY of VT_DISPATCH IKXQClass
  // (lower bound 0); an empty array when none. Caller destroys.
  virtual HRESULT get_Classes(SAFEARRAY** classes) = 0;
  // Class view of the template (root node of page 1), or null. AddRef'd.
  virtual HRESULT get_ClassView(IKXQClassView** view) = 0;
  virtual HRESULT get_PageCount(LONG* count) = 0;
  // Page by 1-based number (DISP_E_BADINDEX) and by page id (S_FALSE with
  // null when none). AddRef'd.
  virtual HRESULT get_Page(LONG number, IKXQTemplatePage** page) = 0;
  virtual HRESULT get_PageById(BSTR pageId, IKXQTemplatePage** page) = 0;
  // Creates a "Datasheet" object from this template: "TemplateId",
  // "Checknum", "DefaultCase", "NumberOfPages" and one page per template
  // page in "CurrentPages", object placed on each page's root node.
  // object may be null. AddRef'd.
  virtual HRESULT CreateDatasheet(IKXQObject* object, LONG caseId, IKXQObject** document) = 0;
  // As CreateDatasheet without an object, "HasSummary" set to 1 when the
  // class has it.
  virtual HRESULT CreateSummarySheet(LONG caseId, IKXQObject** document) = 0;
  // The classes the template is made for, as a list (entry 0 first); an
  // empty list when none. AddRef'd.
  // (Added later: the default body keeps test doubles written before it
  // compiling; the store overrides it.)
  virtual HRESULT get_ClassDescription(IKXQClassList**) { return E_NOTIMPL; }
  // The template's class definition: a view definition named like the
  // template whose attached classes are the template's classes and whose
  // members are the root nodes of its first page. AddRef'd.
  virtual HRESULT get_ClassDefinition(IKXQViewDefinition**) { return E_NOTIMPL; }
};
KX_DEFINE_IID(IKXQTemplate, 0x4b585103, 0x0002, 0x4000, 0x80, 0x00, 0x4b, 0x58, 0x51, 0x53, 0x54,
              0x22)

struct IKXQTemplatePage : IDispatch {
  virtual HRESULT get_Template(IKXQTemplate** tmpl) = 0;  // AddRef'd
  virtual HRESULT get_Id(BSTR* id) = 0;                   // caller frees
  virtual HRESULT get_Name(BSTR* name) = 0;               // caller frees
  // Text used as template id for continuous lists: the template's name.
  virtual HRESULT get_ListTemplateName(BSTR* name) = 0;
  // Continuous-format descriptor, "" for an ordinary page. Caller frees.
  virtual HRESULT get_ContinuousFormat(BSTR* format) = 0;
  // Root nodes: 1-D SAFEARRAY of VT_DISPATCH IKXQClassView (lower bound 0),
  // empty array when none. Caller destroys.
  virtual HRESULT get_RootNodes(SAFEARRAY** nodes) = 0;
  // The first root node, S_FALSE with null when none. AddRef'd.
  virtual HRESULT get_RootView(IKXQClassView** view) = 0;
  // All fields in page order: 1-D SAFEARRAY of VT_DISPATCH
  // IKXQTemplateNode (lower bound 0). Caller destroys.
  virtual HRESULT get_Fields(SAFEARRAY** fields) = 0;
  virtual HRESULT get_FieldCount(LONG* count) = 0;
  // Field by 1-based number (DISP_E_BADINDEX). AddRef'd.
  virtual HRESULT get_Field(LONG number, IKXQTemplateField** field) = 0;
  // Field by id: *number VT_I4 1-based number; S_FALSE, number VT_EMPTY and
  // null field when no field has that id. AddRef'd.
  virtual HRESULT GetFieldById(LONG fieldId, VARIANT* number, IKXQTemplateField** field) = 0;
  // Creates a page object of class "Page" owned by datasheet (not added to
  // any page list): "TemplateId", "PageId", "Checknum", "PageNumber" =
  // pageNumber, "Cases"[1] = caseId, object (may be null) placed on the
  // first root node ("NodeObjects"[1], "NodeIndices"[index + 1] = 1),
  // "Fields", "Units", "Revisions" sized to fields, unit fields, revisions.
  virtual HRESULT CreatePage(IKXQObject* datasheet, IKXQObject* object, LONG caseId,
                             LONG pageNumber, IKXQObject** page) = 0;
  virtual HRESULT get_UnitCount(LONG* count) = 0;
  // Unit field by 0-based index (DISP_E_BADINDEX). AddRef'd.
  virtual HRESULT get_Unit(LONG index, IKXQTemplateUnit** unit) = 0;
  // Alignment (horizontal, vertical) of unit number n and revision id r.
  virtual HRESULT GetUnitAlignment(LONG unit, LONG* align, LONG* valign) = 0;
  virtual HRESULT GetRevisionAlignment(LONG revision, LONG* align, LONG* valign) = 0;
  virtual HRESULT get_RevisionCount(LONG* count) = 0;
  // Field ids of a qualifier: 1-D SAFEARRAY of VT_I4 (lower bound 0); an
  // empty array when none. Caller destroys.
  virtual HRESULT GetQualifierFields(LONG qualifier, SAFEARRAY** fieldIds) = 0;
  // Nodes of case slot k: 1-D SAFEARRAY of VT_DISPATCH IKXQClassView.
  virtual HRESULT GetCaseNodes(LONG slot, SAFEARRAY** nodes) = 0;
  // The overspill association, S_FALSE with null when none. AddRef'd.
  virtual HRESULT get_Overspill(IKXQOverspillAssociation** association) = 0;
  // VARIANT_TRUE when the continuous-format descriptor is not empty: what
  // most callers of get_ContinuousFormat ask, without a copy.
  virtual HRESULT get_IsContinuous(VARIANT_BOOL* continuous) = 0;
};
KX_DEFINE_IID(IKXQTemplatePage, 0x4b585103, 0x0003, 0x4000, 0x80, 0x00, 0x4b, 0x58, 0x51, 0x53,
              0x54, 0x23)

// A fixed list of classes, counted from 0.
struct IKXQClassList : IDispatch {
  virtual HRESULT get_Count(LONG* count) = 0;
  // Class at a 0-based index (DISP_E_BADINDEX outside). AddRef'd.
  virtual HRESULT get_Item(LONG index, IKXQClass** cls) = 0;
};
KX_DEFINE_IID(IKXQClassList, 0x4b585103, 0x000a, 0x4000, 0x80, 0x00, 0x4b, 0x58, 0x51, 0x53, 0x54,
              0x2a)

// A node of a template page's tree (also standing for a data view).
struct IKXQClassView : IDispatch {
  virtual HRESULT get_Name(BSTR* name) = 0;  // caller frees
  // 0-based index on the page: the node's entry in "NodeIndices" is at
  // index + 1.
  virtual HRESULT get_NodeIndex(LONG* index) = 0;
  virtual HRESULT get_NodeId(LONG* id) = 0;
  // Parent node, S_FALSE with null for a root. AddRef'd.
  virtual HRESULT get_Parent(IKXQClassView** parent) = 0;
  // Child nodes in template order: 1-D SAFEARRAY of VT_DISPATCH
  // IKXQClassView (lower bound 0), empty when none. Caller destroys.
  virtual HRESULT get_Children(SAFEARRAY** children) = 0;
  // The view definition of the node (the node itself). AddRef'd.
  virtual HRESULT get_Definition(IKXQViewDefinition** def) = 0;
  // Attached classes (flags must be 0): 1-D SAFEARRAY of VT_DISPATCH
  // IKXQClass (lower bound 0); empty when none. Caller destroys.
  virtual HRESULT GetAttachedClasses(LONG flags, SAFEARRAY** classes) = 0;
  // VARIANT_TRUE when the class (VT_DISPATCH IKXQClass or VT_BSTR name) is
  // or derives from an attached class. text is ignored.
  virtual HRESULT AcceptsClass(VARIANT cls, BSTR text, VARIANT_BOOL* accepts) = 0;
  // Fields on this node: 1-D SAFEARRAY of VT_DISPATCH IKXQTemplateNode.
  virtual HRESULT get_Fields(SAFEARRAY** fields) = 0;
  // VARIANT_TRUE when the node repeats on every row of a continuous list.
  virtual HRESULT get_Repeats(VARIANT_BOOL* repeats) = 0;
  // VARIANT_TRUE when an attached class defines the attribute.
  virtual HRESULT KnowsAttribute(BSTR name, VARIANT_BOOL* knows) = 0;
};
KX_DEFINE_IID(IKXQClassView, 0x4b585103, 0x0004, 0x4000, 0x80, 0x00, 0x4b, 0x58, 0x51, 0x53, 0x54,
              0x24)

// A field seen as an entry of a field list.
struct IKXQTemplateNode : IDispatch {
  virtual HRESULT get_Id(LONG* id) = 0;
  // Value key: 0-based key of the field's own value; negative when the field
  // has no value of its own.
  virtual HRESULT get_ValueKey(LONG* key) = 0;
  // Index of the node the field sits on.
  virtual HRESULT get_NodeIndex(LONG* index) = 0;
};
KX_DEFINE_IID(IKXQTemplateNode, 0x4b585103, 0x0005, 0x4000, 0x80, 0x00, 0x4b, 0x58, 0x51, 0x53,
              0x54, 0x25)

struct IKXQTemplateField : IDispatch {
  virtual HRESULT get_Id(LONG* id) = 0;
  // "String", "Real", "Integer", "Date", "Boolean", "Radio", "Check",
  // "Sketch". Caller frees.
  virtual HRESULT get_TypeName(BSTR* name) = 0;
  virtual HRESULT get_Alignment(LONG* align) = 0;
  virtual HRESULT get_VerticalAlignment(LONG* valign) = 0;
  // 0-based position in the page's "Units"; S_FALSE (and -1) when the field
  // has no unit.
  virtual HRESULT get_UnitPosition(LONG* position) = 0;
  virtual HRESULT get_InitialState(LONG* state) = 0;
  // Qualifier and case positions, -1 for none.
  virtual HRESULT get_QualifierPosition(LONG* position) = 0;
  virtual HRESULT get_CasePosition(LONG* position) = 0;
  // Revision index, -1 for none.
  virtual HRESULT get_RevisionIndex(LONG* index) = 0;
  // Attribute the field shows. Caller frees.
  virtual HRESULT get_AttributeName(BSTR* name) = 0;
  // Node chain for a qualifier value: 1-D SAFEARRAY of VT_DISPATCH
  // IKXQClassView, root first, the field's node last.
  virtual HRESULT GetNodeList(LONG qualifierValue, SAFEARRAY** nodes) = 0;
  // Route text of the last step: the attribute on the object at the
  // field's own node, the last of its node list. Caller frees.
  virtual HRESULT GetRoute(LONG qualifierValue, BSTR* route) = 0;
  // Option number of a text (-1 when none, S_FALSE) and text of a number.
  virtual HRESULT GetOptionNumber(BSTR text, LONG* number) = 0;
  virtual HRESULT GetOptionText(LONG number, BSTR* text) = 0;
  // Fixed option list: 1-D SAFEARRAY of VT_BSTR; empty when none.
  virtual HRESULT get_Options(SAFEARRAY** options) = 0;
  // Whether the options depend on the object shown (a field with
  // `optionsFrom` in its fixture), and the option list for an object: the
  // values of that list attribute of the object as VARIANTs, empty slots
  // included (the fixed list for other fields).
  // (Added later: the default body keeps test doubles written before it
  // compiling; the store overrides it.)
  virtual HRESULT get_OptionsPerObject(VARIANT_BOOL*) { return E_NOTIMPL; }
  virtual HRESULT GetOptionsFor(IKXQObject*, SAFEARRAY**) { return E_NOTIMPL; }
  // GetNodeList without the array, for walks that ask it for every field:
  // the chain's length in *count and, when it is at most `capacity`, its
  // nodes root first in nodes[0 .. *count) (each AddRef'd; S_OK); a longer
  // chain gives no nodes (S_FALSE). E_NOTIMPL: ask GetNodeList.
  virtual HRESULT GetNodeChain(LONG /*qualifierValue*/, LONG /*capacity*/,
                               IKXQClassView** /*nodes*/, LONG* /*count*/) {
    return E_NOTIMPL;
  }
};
KX_DEFINE_IID(IKXQTemplateField, 0x4b585103, 0x0006, 0x4000, 0x80, 0x00, 0x4b, 0x58, 0x51, 0x53,
              0x54, 0x26)

// A unit field of a template page: which dimension it shows.
struct IKXQTemplateUnit : IDispatch {
  virtual HRESULT get_DimensionName(BSTR* name) = 0;  // caller frees
  // Display text for a stored unit text (the unit's display name; the text
  // itself when it is no unit of the dimension). Caller frees.
  virtual HRESULT GetDisplayText(BSTR unitText, BSTR* display) = 0;
  // Unit ids of the dimension: 1-D SAFEARRAY of VT_BSTR. Caller destroys.
  virtual HRESULT get_Units(SAFEARRAY** units) = 0;
  // Display text of unit number n (0 = the field's default unit).
  virtual HRESULT GetDefaultText(LONG number, BSTR* text) = 0;
  // Unit id of the dimension in a dimension set (KXQ_E_NOTFOUND).
  virtual HRESULT GetUnitForSet(BSTR setName, BSTR* unitId) = 0;
};
KX_DEFINE_IID(IKXQTemplateUnit, 0x4b585103, 0x0007, 0x4000, 0x80, 0x00, 0x4b, 0x58, 0x51, 0x53,
              0x54, 0x27)

// The overspill association of a template page: the target template page
// and a 2 x N array of pairs (row 1: IKXQClassView, row 2: vector
// attribute name).
struct IKXQOverspillAssociation : IDispatch {
  virtual HRESULT get_TargetPage(IKXQTemplatePage** page) = 0;  // AddRef'd
  // 2-D SAFEARRAY of VARIANT, bounds [1..2][1..N]. Caller destroys.
  virtual HRESULT get_Pairs(SAFEARRAY** pairs) = 0;
};
KX_DEFINE_IID(IKXQOverspillAssociation, 0x4b585103, 0x0008, 0x4000, 0x80, 0x00, 0x4b, 0x58, 0x51,
              0x53, 0x54, 0x28)

// A view definition: a node of a template seen as the definition of views.
struct IKXQViewDefinition : IDispatch {
  virtual HRESULT get_Name(BSTR* name) = 0;  // caller frees
  // Attached classes (flags 0): as IKXQClassView::GetAttachedClasses.
  virtual HRESULT GetAttachedClasses(LONG flags, SAFEARRAY** classes) = 0;
  // Member (child node) by name (case-insensitive; a node named with a list
  // position such as "Nozzles(2)" also answers "Nozzles"), S_FALSE with null when
  // none. AddRef'd.
  virtual HRESULT get_Member(BSTR name, IKXQViewDefinition** member) = 0;
};
KX_DEFINE_IID(IKXQViewDefinition, 0x4b585103, 0x0009, 0x4000, 0x80, 0x00, 0x4b, 0x58, 0x51, 0x53,
              0x54, 0x29)
