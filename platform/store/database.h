// The database, its schema, projects, filters, sort definitions and units.
// Ownership conventions: see fwd.h.
#pragma once

#include "store/fwd.h"

struct IKXQDatabase : IDispatch {
  virtual HRESULT get_Schema(IKXQSchema** schema) = 0;  // AddRef'd
  // The object with that id. KXQ_E_NOOBJECT (with a description naming the
  // id) for 0, negative, unknown or deleted ids. AddRef'd; always the same
  // pointer for the same object.
  virtual HRESULT get_Object(LONG id, IKXQObject** obj) = 0;
  // VARIANT_TRUE when a live object has that id.
  virtual HRESULT ObjectExists(LONG id, VARIANT_BOOL* exists) = 0;
  // Deletes obj, as IKXQObject::Delete.
  virtual HRESULT DeleteObject(IKXQObject* obj) = 0;
  // Name of a case; "" when the case is unknown. Caller frees.
  virtual HRESULT get_CaseName(LONG caseId, BSTR* name) = 0;
  virtual HRESULT get_TemplateLibrary(IKXQTemplateLibrary** library) = 0;  // AddRef'd
  // The root project (id 1) and a project by id (KXQ_E_NOOBJECT). AddRef'd.
  virtual HRESULT get_RootProject(IKXQProject** project) = 0;
  virtual HRESULT get_Project(LONG id, IKXQProject** project) = 0;
  // The project that scoping and claims are judged against; the root
  // project unless the host set another. AddRef'd.
  virtual HRESULT get_ActiveProject(IKXQProject** project) = 0;
  // Runs a knowledge-base method registered on the schema by name with
  // args (1-D SAFEARRAY of VARIANT, lower bound 1; may be null).
  // KXQ_E_NOTFOUND when none. *result: caller clears.
  virtual HRESULT RunMethod(BSTR name, SAFEARRAY* args, VARIANT* result) = 0;
};
KX_DEFINE_IID(IKXQDatabase, 0x4b585102, 0x0001, 0x4000, 0x80, 0x00, 0x4b, 0x58, 0x51, 0x53, 0x54,
              0x11)

struct IKXQSchema : IDispatch {
  // Class by name (case-insensitive). S_OK with null when unknown. AddRef'd.
  virtual HRESULT get_Class(BSTR name, IKXQClass** cls) = 0;
  // Data definition by name: a class marked as a definition; S_OK with
  // null when unknown. AddRef'd.
  virtual HRESULT get_DataDefinition(BSTR name, IKXQClass** def) = 0;
  // Object filter by name or code; KXQ_E_NOTFOUND when unknown. AddRef'd.
  virtual HRESULT get_ObjectFilter(BSTR name, IKXQObjectFilter** filter) = 0;
  // Same, handed out as VT_DISPATCH in *filter (caller clears).
  virtual HRESULT GetObjectFilterVariant(BSTR name, VARIANT* filter) = 0;
  // All object filters in schema order: 1-D SAFEARRAY of VT_DISPATCH
  // (lower bound 0); null when none. Caller destroys.
  virtual HRESULT get_ObjectFilters(SAFEARRAY** filters) = 0;
  // VARIANT_TRUE when a method of that name is registered on the schema.
  virtual HRESULT HasMethod(BSTR name, VARIANT_BOOL* has) = 0;
  // Dimension-set names: 1-D SAFEARRAY of VT_BSTR (lower bound 0), schema
  // order. Caller destroys.
  virtual HRESULT get_DimensionSetNames(SAFEARRAY** names) = 0;
  // Dimension by name (KXQ_E_NOTFOUND), count and 1-based position.
  virtual HRESULT get_Dimension(BSTR name, IKXQDimension** dim) = 0;
  virtual HRESULT get_DimensionCount(LONG* count) = 0;
  virtual HRESULT get_DimensionAt(LONG position, IKXQDimension** dim) = 0;
  // Sort definitions: 1-D SAFEARRAY of VT_DISPATCH (lower bound 0), schema
  // order; null when none. By code: S_OK with null when unknown.
  virtual HRESULT get_SortDefinitions(SAFEARRAY** sorts) = 0;
  virtual HRESULT get_SortDefinition(BSTR code, IKXQSortDefinition** sort) = 0;
};
KX_DEFINE_IID(IKXQSchema, 0x4b585102, 0x0002, 0x4000, 0x80, 0x00, 0x4b, 0x58, 0x51, 0x53, 0x54,
              0x12)

// A project of the project tree; the root has id 1.
struct IKXQProject : IDispatch {
  virtual HRESULT get_Id(LONG* id) = 0;
  virtual HRESULT get_Name(BSTR* name) = 0;              // caller frees
  virtual HRESULT get_Parent(IKXQProject** parent) = 0;  // null for the root
  virtual HRESULT get_ChildCount(LONG* count) = 0;
  // Child at 1-based position (DISP_E_BADINDEX outside). AddRef'd.
  virtual HRESULT get_Child(LONG position, IKXQProject** child) = 0;
  // projectId VT_I4: VARIANT_TRUE when that project is this one or lies
  // below it.
  virtual HRESULT Contains(VARIANT projectId, VARIANT_BOOL* result) = 0;
  // projectId VT_I4: VARIANT_TRUE when this project is that one or lies
  // below it.
  virtual HRESULT IsWithin(VARIANT projectId, VARIANT_BOOL* result) = 0;
};
KX_DEFINE_IID(IKXQProject, 0x4b585102, 0x0003, 0x4000, 0x80, 0x00, 0x4b, 0x58, 0x51, 0x53, 0x54,
              0x13)

// A named object filter of the schema: a class with an optional condition
// "Attribute=Value" (text compare, case-insensitive). An empty filter passes
// everything.
struct IKXQObjectFilter : IDispatch {
  virtual HRESULT get_Name(BSTR* name) = 0;    // caller frees
  virtual HRESULT get_Title(BSTR* title) = 0;  // caller frees
  // *passes VARIANT_TRUE when obj passes. obj null fails with E_POINTER.
  virtual HRESULT Evaluate(IKXQObject* obj, VARIANT_BOOL* passes) = 0;
};
KX_DEFINE_IID(IKXQObjectFilter, 0x4b585102, 0x0004, 0x4000, 0x80, 0x00, 0x4b, 0x58, 0x51, 0x53,
              0x54, 0x14)

// A sort definition: compares two objects by one attribute (text compare,
// case-insensitive; numbers numerically), ascending or descending.
struct IKXQSortDefinition : IDispatch {
  virtual HRESULT get_Name(BSTR* name) = 0;    // the code; caller frees
  virtual HRESULT get_Title(BSTR* title) = 0;  // caller frees
  // *order < 0, 0, > 0. Null objects fail with E_POINTER.
  virtual HRESULT Compare(IKXQObject* a, IKXQObject* b, LONG* order) = 0;
};
KX_DEFINE_IID(IKXQSortDefinition, 0x4b585102, 0x0005, 0x4000, 0x80, 0x00, 0x4b, 0x58, 0x51, 0x53,
              0x54, 0x15)

// A physical dimension and its units. A unit converts to the dimension's
// base unit as base = value * factor + offset.
struct IKXQDimension : IDispatch {
  virtual HRESULT get_Name(BSTR* name) = 0;  // caller frees
  // Unit ids (names) in schema order: 1-D SAFEARRAY of VT_BSTR (lower bound
  // 0). Caller destroys.
  virtual HRESULT get_UnitIds(SAFEARRAY** ids) = 0;
  // Display name of a unit id (KXQ_E_UNIT when not a unit of this
  // dimension). Caller frees.
  virtual HRESULT get_UnitDisplayName(BSTR unitId, BSTR* display) = 0;
  // Unit of this dimension in a dimension set (KXQ_E_NOTFOUND). Caller frees.
  virtual HRESULT get_UnitInSet(BSTR setName, BSTR* unitId) = 0;
  // Converts value from one unit to another of this dimension.
  virtual HRESULT Convert(double value, BSTR fromUnit, BSTR toUnit, double* result) = 0;
};
KX_DEFINE_IID(IKXQDimension, 0x4b585102, 0x0006, 0x4000, 0x80, 0x00, 0x4b, 0x58, 0x51, 0x53, 0x54,
              0x16)
