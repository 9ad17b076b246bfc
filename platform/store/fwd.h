// Forward declarations and result codes of the object store's interfaces.
//
// Conventions shared by every store interface (see README.md beside this file):
// - Methods return HRESULT; failures set COM error information on the calling
//   thread (SetErrorInfo) with a description naming what failed.
// - Out-parameters: interface pointers are returned AddRef'd (the caller
//   releases them); BSTRs and SAFEARRAYs returned through out-parameters are
//   owned by the caller (SysFreeString / SafeArrayDestroy); VARIANTs returned
//   through out-parameters must be VariantInit'ed or VariantClear'ed by the
//   caller before the call (the store clears them first) and VariantClear'ed
//   after. In-parameters (BSTR, VARIANT, SAFEARRAY*) stay owned by the caller.
// - Truth values are VARIANT_TRUE (-1) and VARIANT_FALSE (0), never 1.
// - List positions count from 1.
#pragma once

#include "com/bstr.h"
#include "com/dispatch.h"
#include "com/safearray.h"
#include "com/types.h"
#include "com/variant.h"

struct IKXQDatabase;
struct IKXQSchema;
struct IKXQClass;
struct IKXQClassList;
struct IKXQAttributeDef;
struct IKXQObject;
struct IKXQAttribute;
struct IKXQObjectCollection;
struct IKXQProject;
struct IKXQTrigger;
struct IKXQObjectFilter;
struct IKXQSortDefinition;
struct IKXQDimension;
struct IKXQEvaluationContext;
struct IKXQNamedItem;
struct IKXQDataviewIndex;
struct IKXQTemplateLibrary;
struct IKXQTemplate;
struct IKXQTemplatePage;
struct IKXQClassView;
struct IKXQTemplateNode;
struct IKXQTemplateField;
struct IKXQTemplateUnit;
struct IKXQOverspillAssociation;
struct IKXQView;
struct IKXQViewDefinition;
struct IKXQFieldValue;
struct IKXQValueItem;

// Receives a text read in place (IKXQAttribute::ReadTextAt).
using KXQTextRead = void (*)(void* context, const OLECHAR* text, LONG length);

// Facility 4 (ITF) codes of the store. Descriptions travel as error info.
// No object with that id (unknown, never created or deleted).
inline constexpr HRESULT KXQ_E_NOOBJECT = static_cast<HRESULT>(0x8004B001L);
// The object the interface stands for was deleted (or its creation was
// rolled back); every operation but AddRef/Release/QueryInterface fails.
inline constexpr HRESULT KXQ_E_DELETED = static_cast<HRESULT>(0x8004B002L);
// A name (class, filter, dimension, unit, method, template page) is unknown.
inline constexpr HRESULT KXQ_E_NOTFOUND = static_cast<HRESULT>(0x8004B003L);
// A real cannot be converted between two units (other dimension, no unit).
inline constexpr HRESULT KXQ_E_UNIT = static_cast<HRESULT>(0x8004B004L);
// The store is closed or was never opened.
inline constexpr HRESULT KXQ_E_CLOSED = static_cast<HRESULT>(0x8004B005L);
// The write could not be persisted (SQLite failure); the description holds
// SQLite's message. The transaction must be rolled back.
inline constexpr HRESULT KXQ_E_STORAGE = static_cast<HRESULT>(0x8004B006L);
// Transaction misuse: begin inside a transaction, commit without one.
inline constexpr HRESULT KXQ_E_TRANSACTION = static_cast<HRESULT>(0x8004B007L);
// The value is locked, secured or held and cannot be changed.
inline constexpr HRESULT KXQ_E_PROTECTED = static_cast<HRESULT>(0x8004B008L);
// Another process held the store's write lock for longer than the lock
// timeout; the call changed nothing and may be tried again. Store::Open:
// another process has the store open and it cannot be read beside that
// process now.
inline constexpr HRESULT KXQ_E_BUSY = static_cast<HRESULT>(0x8004B009L);
// Store::Open: the file is not an object store (empty, no SQLite database,
// or another program's database); it was left as it was.
inline constexpr HRESULT KXQ_E_NOTSTORE = static_cast<HRESULT>(0x8004B00AL);

// Attribute data-type codes (IKXQAttribute::get_DataType).
enum KXQDataType : LONG {
  KXQ_TYPE_TEXT = 1,
  KXQ_TYPE_REAL = 2,     // double with a unit of a dimension
  KXQ_TYPE_OBJECT = 3,   // reference to a store object
  KXQ_TYPE_STRING = 4,   // text, a second kind used by templates
  KXQ_TYPE_INTEGER = 5,  // 32-bit integer
  KXQ_TYPE_DATE = 6,     // DATE serial number
  KXQ_TYPE_BOOLEAN = 7,
  KXQ_TYPE_BINARY = 8,  // bytes (VT_ARRAY|VT_UI1 or an IStream on write)
};

// Per-value status bits (IKXQAttribute::GetStatusFlags).
enum KXQValueStatus : LONG {
  KXQ_STATUS_1 = 0x1,
  KXQ_STATUS_2 = 0x2,
  KXQ_STATUS_3 = 0x4,
  KXQ_STATUS_4 = 0x8,
  KXQ_STATUS_NOT5 = 0x800,  // set when the fifth flag is false
};
