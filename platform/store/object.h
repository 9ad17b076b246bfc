// Objects, their attributes and classes: the interfaces every message uses to
// read and change engineering data. Ownership conventions: see fwd.h.
#pragma once

#include "store/fwd.h"

// An object's attribute: one named value or a 1-based list of values.
// An attribute interface stays bound to its object and name; it sees later
// changes. Index VARIANTs: VT_EMPTY (or VT_ERROR DISP_E_PARAMNOTFOUND)
// addresses the single value (position 1 of a list); VT_I2/VT_I4/VT_INT n
// addresses position n. Positions below 1 fail with DISP_E_BADINDEX.
struct IKXQAttribute : IDispatch {
  // Name as defined by the class. *name: caller frees.
  virtual HRESULT get_Name(BSTR* name) = 0;
  // Data-type code, see KXQDataType.
  virtual HRESULT get_DataType(LONG* type) = 0;
  // VARIANT_TRUE when the attribute holds a list.
  virtual HRESULT get_IsList(VARIANT_BOOL* isList) = 0;
  // VARIANT_TRUE when the list owns its members as a collection (a deleted
  // member is removed and the list closes up); else positional.
  virtual HRESULT get_IsCollection(VARIANT_BOOL* isCollection) = 0;
  // Number of values: for a list the highest position written (empty slots
  // count); for a single value 0 or 1.
  virtual HRESULT get_Count(LONG* count) = 0;
  // Reads a value. Past the end or an empty slot: S_OK with VT_EMPTY (a
  // reference to a deleted object reads as VT_EMPTY too). Reals: unit VT_BSTR
  // converts into that unit (KXQ_E_UNIT when impossible; an empty text means
  // the stored unit), VT_EMPTY gives the stored number. Binary values come as
  // VT_ARRAY|VT_UI1, or as a Base64 VT_BSTR when unit is the text "Base64".
  // *value is cleared first; the caller VariantClears it.
  virtual HRESULT GetValue(VARIANT index, VARIANT unit, VARIANT* value) = 0;
  // Writes a value, converting it to the data type (DISP_E_TYPEMISMATCH when
  // it cannot; KXQ_E_UNIT for a unit outside the attribute's dimension).
  // Object values: VT_DISPATCH/VT_UNKNOWN of this store's objects, or an
  // object id (VT_I4; 0 empties). Position count + 1 appends; further out pads with empty
  // values. VT_EMPTY, VT_NULL (text, object, integer, Boolean, binary), a
  // null VT_DISPATCH and VT_ERROR empty the slot; VT_NULL for a real or date
  // fails with DISP_E_TYPEMISMATCH. Reals store the number with the unit
  // text given (VT_BSTR; VT_EMPTY or an empty text: the attribute's default
  // unit). Writing an object into a collection makes this object's
  // attribute its holder (and this object its owner when it has none).
  virtual HRESULT PutValue(VARIANT index, VARIANT unit, VARIANT value) = 0;
  // VARIANT_TRUE when the addressed slot holds a value (VT_EMPTY index: the
  // attribute holds at least one value).
  virtual HRESULT HasValue(VARIANT index, VARIANT_BOOL* has) = 0;
  // Empties one slot (VT_I4 index; the other positions do not move) or the
  // whole attribute (VT_EMPTY: count becomes 0).
  virtual HRESULT Clear(VARIANT index) = 0;
  // Inserts count empty values before position first (1..count + 1); later
  // values shift up. first beyond count + 1 pads up to it first.
  virtual HRESULT InsertValues(LONG first, LONG count) = 0;
  // Removes count values from position first; later values shift down.
  // Positions past the end are ignored.
  virtual HRESULT RemoveValues(LONG first, LONG count) = 0;
  // Appends value at count + 1. contained: VARIANT_TRUE makes an object
  // value a member held by this attribute (as a collection write does).
  // unit: as for PutValue.
  virtual HRESULT AddValue(VARIANT value, VARIANT_BOOL contained, VARIANT unit) = 0;
  // Sets the count: truncates, or pads with empty values.
  virtual HRESULT Resize(LONG count) = 0;
  // Unit text. VT_EMPTY: the stored unit of the single value (else the
  // attribute's default unit, else the dimension's base unit). VT_BSTR naming a dimension
  // set: the unit of the attribute's dimension in that set. VT_BSTR naming a
  // unit of the dimension: that unit. Else KXQ_E_UNIT. *unit: caller frees.
  virtual HRESULT get_UnitText(VARIANT which, BSTR* unit) = 0;
  // Reads a real at position index (0 and 1 both address the single value)
  // converted to unit. Fails with DISP_E_TYPEMISMATCH when there is no real.
  virtual HRESULT GetRealInUnit(LONG index, BSTR unit, double* value) = 0;
  // The object that holds this attribute. AddRef'd.
  virtual HRESULT get_Owner(IKXQObject** owner) = 0;
  // The attribute's definition. AddRef'd.
  virtual HRESULT get_Definition(IKXQAttributeDef** def) = 0;
  // VARIANT_TRUE when some value of the list is obj (compared by id).
  virtual HRESULT ContainsObject(IKXQObject* obj, VARIANT_BOOL* contains) = 0;
  // *position: the first position from `from` on (below 1 counts as 1)
  // whose value is obj (compared by id), or, for a null obj, the first that
  // reads as no object (an empty slot, a deleted object, a value of another
  // kind); 0 when there is none. One call where reading the values one by
  // one would cost a call each.
  virtual HRESULT FindObject(IKXQObject* obj, LONG from, LONG* position) = 0;

  // Per-value protection and status; index as for GetValue.
  virtual HRESULT IsLocked(VARIANT index, VARIANT_BOOL* locked) = 0;
  virtual HRESULT IsSecured(VARIANT index, VARIANT_BOOL* secured) = 0;
  virtual HRESULT IsHeld(VARIANT index, VARIANT_BOOL* held) = 0;
  virtual HRESULT Lock(VARIANT index, VARIANT_BOOL lock) = 0;
  virtual HRESULT Secure(VARIANT index, VARIANT_BOOL secure) = 0;
  // Places a hold object (VT_DISPATCH of an IKXQObject) on the value;
  // VT_EMPTY or null releases it.
  virtual HRESULT Hold(VARIANT index, VARIANT hold) = 0;
  // The hold object of the value, or null (S_OK). AddRef'd.
  virtual HRESULT get_HoldObject(VARIANT index, IKXQObject** hold) = 0;
  // The five status flags: bits KXQ_STATUS_1..4, KXQ_STATUS_NOT5.
  virtual HRESULT GetStatusFlags(VARIANT index, LONG* flags) = 0;
  virtual HRESULT PutStatusFlags(VARIANT index, LONG flags) = 0;
  // Number-view texts of a value (data types 2 and 5). A null BSTR empties.
  // Out BSTRs: caller frees.
  virtual HRESULT GetPrefix(VARIANT index, BSTR* text) = 0;
  virtual HRESULT PutPrefix(VARIANT index, BSTR text) = 0;
  virtual HRESULT GetPostfix(VARIANT index, BSTR* text) = 0;
  virtual HRESULT PutPostfix(VARIANT index, BSTR text) = 0;
  virtual HRESULT GetSubstitution(VARIANT index, BSTR* text) = 0;
  virtual HRESULT PutSubstitution(VARIANT index, BSTR text) = 0;
  // Disciplines text of the attribute definition. Caller frees.
  virtual HRESULT get_Disciplines(BSTR* text) = 0;
  // Places where the attribute's object is shown: a 1-D SAFEARRAY of
  // VT_UNKNOWN elements answering IKXQDataviewIndex; an empty array when
  // none. Caller destroys it.
  virtual HRESULT get_Appearances(SAFEARRAY** places) = 0;
  // *same: whether the value's prefix, postfix and substitution texts are
  // exactly these (a null text is the empty one). Reads as GetPrefix,
  // GetPostfix and GetSubstitution together would, and fails where they
  // would, without copying a text out.
  virtual HRESULT SameNumberTexts(VARIANT index, const OLECHAR* prefix, const OLECHAR* postfix,
                                  const OLECHAR* substitution, VARIANT_BOOL* same) = 0;
  // Hands the text at `position` to `read` where the store holds it, without
  // copying it out: read(context, text, length), `text` NUL-terminated
  // after its `length` characters (it may hold NULs of its own). Recorded
  // as GetValue(position) records its read. S_FALSE without a call for an
  // empty slot or a position past the end; DISP_E_TYPEMISMATCH, with nothing
  // read and no error information set, for a value that is not a text;
  // other failures as GetValue's.
  // `read` must not call the store.
  virtual HRESULT ReadTextAt(LONG position, KXQTextRead read, void* context) = 0;
};
KX_DEFINE_IID(IKXQAttribute, 0x4b585101, 0x0001, 0x4000, 0x80, 0x00, 0x4b, 0x58, 0x51, 0x53, 0x54,
              0x01)

// Definition of one attribute of a class.
struct IKXQAttributeDef : IDispatch {
  virtual HRESULT get_Name(BSTR* name) = 0;      // caller frees
  virtual HRESULT get_DataType(LONG* type) = 0;  // KXQDataType
  virtual HRESULT get_IsList(VARIANT_BOOL* isList) = 0;
  virtual HRESULT get_IsCollection(VARIANT_BOOL* isCollection) = 0;
  // Class of referenced objects (data type 3), else null. AddRef'd.
  virtual HRESULT get_ReferencedClass(IKXQClass** cls) = 0;
  // Dimension name of a real ("" when none). Caller frees.
  virtual HRESULT get_Dimension(BSTR* name) = 0;
  // Documentation text ("" when none). Caller frees.
  virtual HRESULT get_Documentation(BSTR* text) = 0;
  // The object the definition refers to for more about the attribute (a
  // standard, a data sheet); S_FALSE with null when none or deleted.
  // AddRef'd.
  virtual HRESULT get_LinkedObject(IKXQObject** object) = 0;
  // Path text of the attribute: form 1 gives "Class.Attribute"; the
  // definition's own path text (which may hold "[key=value]") when set.
  virtual HRESULT get_PathText(LONG form, BSTR* text) = 0;
};
KX_DEFINE_IID(IKXQAttributeDef, 0x4b585101, 0x0002, 0x4000, 0x80, 0x00, 0x4b, 0x58, 0x51, 0x53,
              0x54, 0x02)

// A snapshot list of objects (class instances). Items count from 1.
struct IKXQObjectCollection : IDispatch {
  virtual HRESULT get_Count(LONG* count) = 0;
  // Item at 1-based position; DISP_E_BADINDEX outside 1..count. AddRef'd.
  virtual HRESULT get_Item(LONG position, IKXQObject** item) = 0;
  // An IEnumVARIANT over the items (VT_DISPATCH elements). AddRef'd.
  virtual HRESULT get__NewEnum(IUnknown** enumerator) = 0;
  // Appends a live object of this store to this collection only (the store
  // is not changed); *position (may be null) receives its 1-based position.
  // E_POINTER for a null object, E_INVALIDARG for another store's object.
  virtual HRESULT Add(IKXQObject* item, VARIANT* position) = 0;
};
KX_DEFINE_IID(IKXQObjectCollection, 0x4b585101, 0x0003, 0x4000, 0x80, 0x00, 0x4b, 0x58, 0x51, 0x53,
              0x54, 0x03)

// A class of the schema (also the data definitions). Names compare without
// regard to ASCII letter case.
struct IKXQClass : IDispatch {
  virtual HRESULT get_Name(BSTR* name) = 0;  // caller frees
  // Descriptive text ("" when none). Caller frees.
  virtual HRESULT get_Description(BSTR* text) = 0;
  // Base class or null for a root class. AddRef'd.
  virtual HRESULT get_BaseClass(IKXQClass** base) = 0;
  // VARIANT_TRUE when the class or a base class defines the attribute.
  virtual HRESULT HasAttribute(BSTR name, VARIANT_BOOL* has) = 0;
  // VARIANT_TRUE when this class is the given class or derives from it.
  // cls: VT_BSTR class name or VT_DISPATCH/VT_UNKNOWN IKXQClass.
  virtual HRESULT IsKindOf(VARIANT cls, VARIANT_BOOL* is) = 0;
  // Live instances of this class and its subclasses, in id order.
  virtual HRESULT get_Instances(IKXQObjectCollection** instances) = 0;
  // IEnumVARIANT over get_Instances. AddRef'd.
  virtual HRESULT get__NewEnum(IUnknown** enumerator) = 0;
  // Creates an object of this class with no owner. AddRef'd.
  virtual HRESULT CreateInstance(IKXQObject** obj) = 0;
  // Attribute definitions, inherited ones first; position counts from 1.
  virtual HRESULT get_AttributeCount(LONG* count) = 0;
  virtual HRESULT get_AttributeDef(LONG position, IKXQAttributeDef** def) = 0;
  // Definition by name; S_OK with null when the class has none.
  virtual HRESULT get_AttributeDefByName(BSTR name, IKXQAttributeDef** def) = 0;
  // VARIANT_TRUE when a knowledge-base method of that name is registered
  // for the class or a base class.
  virtual HRESULT HasMethod(BSTR name, VARIANT_BOOL* has) = 0;
};
KX_DEFINE_IID(IKXQClass, 0x4b585101, 0x0004, 0x4000, 0x80, 0x00, 0x4b, 0x58, 0x51, 0x53, 0x54, 0x04)

// An engineering object. Each object has exactly one interface pointer for
// the life of the store: comparing pointers compares objects. After
// deletion every operation but get_Id fails with KXQ_E_DELETED.
struct IKXQObject : IDispatch {
  virtual HRESULT get_Id(LONG* id) = 0;
  virtual HRESULT get_Class(IKXQClass** cls) = 0;  // AddRef'd
  // cls: VT_BSTR class name (case-insensitive) or VT_DISPATCH IKXQClass.
  // VARIANT_TRUE through inheritance too; unknown class names give FALSE.
  virtual HRESULT IsOfClass(VARIANT cls, VARIANT_BOOL* is) = 0;
  // The object's name: its "Name" attribute when the class defines one and
  // it is set, else "<class> <id>". option VT_BOOL VARIANT_TRUE qualifies
  // the name with the class: "<class>: <name>". Caller frees.
  virtual HRESULT get_Name(VARIANT option, BSTR* name) = 0;
  // The attribute of that name. S_OK with *attr null when the class does
  // not define it. selector is kept (-1 or 0: plain value; a case id
  // otherwise) and does not change the attribute addressed. AddRef'd.
  virtual HRESULT get_Attribute(BSTR name, VARIANT selector, IKXQAttribute** attr) = 0;
  // The owning object (a page's datasheet), S_OK with null when none.
  // reserved must be 0. AddRef'd.
  virtual HRESULT GetOwner(IKXQObject** owner, LONG reserved) = 0;
  // Sets the owner (null clears it).
  virtual HRESULT put_Owner(IKXQObject* owner) = 0;
  // Name of the owner's collection attribute that holds this object
  // ("CurrentPages" ...); "" when none. Caller frees.
  virtual HRESULT get_HoldingAttributeName(BSTR* name) = 0;
  // That attribute itself, or null. AddRef'd.
  virtual HRESULT get_ContainingAttribute(IKXQAttribute** attr) = 0;
  // Deletes the object. Collection lists holding it drop it and close up;
  // positional lists and single references to it are emptied in place.
  // Objects it owns are not deleted. Deleting twice fails.
  virtual HRESULT Delete() = 0;
  // Removes the object from the collection list that holds it; the object
  // stays and has no holder afterwards. S_FALSE when nothing held it.
  virtual HRESULT Unlink() = 0;
  // A new object of the same class and owner with a copy of every value
  // (lists copied, referenced objects shared, not copied), marked as a
  // status copy (get_IsStatusCopy). It is placed in no list. AddRef'd.
  virtual HRESULT Copy(IKXQObject** copy) = 0;
  // Projects that claim the object: 1-D SAFEARRAY of VT_DISPATCH
  // IKXQProject (lower bound 1); an empty array when none. Caller destroys.
  virtual HRESULT get_Claimants(SAFEARRAY** projects) = 0;
  // VARIANT_TRUE when the object is scoped: claimed by the active project
  // or a project below it.
  virtual HRESULT IsScoped(VARIANT_BOOL* scoped) = 0;
  // Filter test. filter VT_BSTR: "" passes (1); "KX_CLAIM_ONLY" passes when
  // the object is scoped (as IsScoped); another text names a schema object
  // filter (KXQ_E_NOTFOUND when unknown). filter VT_BOOL or VT_EMPTY: the
  // claim state: 0 not claimed, 1 scoped. *result: non-zero = passes.
  virtual HRESULT TestFilter(VARIANT filter, LONG* result) = 0;
  // Evaluation context for filters on this object. AddRef'd.
  virtual HRESULT get_EvaluationContext(IKXQEvaluationContext** context) = 0;
  // Users holding the object: a 2-D SAFEARRAY [2][n] of VARIANTs: element
  // (lb1, j) an IKXQNamedItem (VT_UNKNOWN), (lb1 + 1, j) the status
  // (VT_I4). *users null when nobody holds it. Caller destroys.
  virtual HRESULT get_Users(SAFEARRAY** users) = 0;
  // Adds (status > 0) or removes (status 0) a user of the object.
  virtual HRESULT PutUser(BSTR user, LONG status) = 0;
  // Triggers by name (exact names). get_Trigger creates the trigger when
  // the object has none of that name. AddRef'd.
  virtual HRESULT HasTrigger(BSTR name, VARIANT_BOOL* has) = 0;
  virtual HRESULT get_Trigger(BSTR name, IKXQTrigger** trigger) = 0;
  virtual HRESULT RemoveTrigger(BSTR name) = 0;
  // Calls a knowledge-base method of the object's class by name with the
  // arguments (1-D SAFEARRAY of VARIANT, lower bound 1, or null).
  // KXQ_E_NOTFOUND when no such method. *result: caller clears.
  virtual HRESULT CallMethod(BSTR name, SAFEARRAY* args, VARIANT* result) = 0;
  // Workflow action: 7 submit, 8 check, 9 issue (arg: 1-D SAFEARRAY of
  // revision, minor revision, reason), 10 withdraw; other codes are
  // recorded as given (opening a document is OpenVersion, not an action).
  // The store records the call in the object's workflow log; it changes no
  // value.
  virtual HRESULT WorkflowAction(LONG code, VARIANT arg) = 0;
  // Opens a version for access mode (2) with a status text "1".."4", and
  // closes it with a status text ("-1" none). Recorded as workflow steps.
  virtual HRESULT OpenVersion(LONG mode, VARIANT status) = 0;
  virtual HRESULT CloseVersion(VARIANT status) = 0;
  // Privilege test on a relation ("Owner") for a privilege name. This
  // store keeps no privileges: it always grants, *place null.
  virtual HRESULT CheckPrivilege(BSTR relation, BSTR privilege, VARIANT_BOOL* allowed,
                                 BSTR* place) = 0;
  // The object seen through a view definition (VT_DISPATCH of an
  // IKXQViewDefinition such as a template node; VT_EMPTY: none). See
  // store/view.h for route steps. AddRef'd.
  virtual HRESULT GetView(VARIANT definition, IKXQView** view) = 0;
  // A representation of the object by kind name ("Diagram"), or null.
  virtual HRESULT get_Representation(BSTR kind, IUnknown** rep) = 0;
  // The object-store flag: VARIANT_TRUE for a status copy (made by Copy, or
  // marked so by a fixture).
  virtual HRESULT get_IsStatusCopy(VARIANT_BOOL* flag) = 0;
  // Binds a sub-object (VT_DISPATCH) to this object (placing an object on
  // a template node) and hands out the binding (the sub-object). AddRef'd.
  virtual HRESULT Bind(VARIANT subObject, IUnknown** binding) = 0;
  // Stores a text (VT_BSTR, or any value turned into text) as the object's
  // remark; recorded in the workflow log.
  virtual HRESULT PutText(VARIANT text) = 0;
  // The page operation of check and issue: recorded in the workflow log
  // (code 300); changes no value.
  // (Added later: the default body keeps test doubles written before it
  // compiling; the store overrides it.)
  virtual HRESULT Seal() { return E_NOTIMPL; }
};
KX_DEFINE_IID(IKXQObject, 0x4b585101, 0x0005, 0x4000, 0x80, 0x00, 0x4b, 0x58, 0x51, 0x53, 0x54,
              0x05)

// A trigger on an object. Reads of attribute values made while an item is
// open are recorded under the item's key (cumulative until ResetItem), each
// at its grain: one entry of a list, its number of entries (get_Count) or
// the whole list (HasValue of the whole, ContainsObject, FindObject); when
// what a recorded read looked at changes the key fires: it is listed by
// GetFiredKeys until ClearFiredKeys and the host is told (see the
// administration API).
struct IKXQTrigger : IDispatch {
  virtual HRESULT SetOption1(LONG value) = 0;
  virtual HRESULT SetOption2(LONG value) = 0;
  // ProgID of the service to call back. Copied.
  virtual HRESULT SetHandler(BSTR progId) = 0;
  virtual HRESULT GetName(BSTR* name) = 0;  // caller frees
  // Keys of fired items: 1-D SAFEARRAY of VT_BSTR (lower bound 0), in firing
  // order, each once; null when nothing fired. Caller destroys.
  virtual HRESULT GetFiredKeys(SAFEARRAY** keys) = 0;
  virtual HRESULT GetOwner(IKXQObject** owner) = 0;  // AddRef'd
  // Starts recording reads for key (VT_BSTR, or a number turned into text).
  // Items nest; reads go to every open item.
  virtual HRESULT BeginItem(VARIANT key) = 0;
  // Ends the item begun last. KXQ_E_TRANSACTION when none is open.
  virtual HRESULT EndItem() = 0;
  // Forgets the reads of key; VT_INT/VT_I4 0 or VT_EMPTY forgets all.
  virtual HRESULT ResetItem(VARIANT key) = 0;
  virtual HRESULT ClearFiredKeys() = 0;
  // The ProgID set by SetHandler ("" when none). Caller frees.
  // (Added later: the default body keeps test doubles written before it
  // compiling; the store overrides it.)
  virtual HRESULT GetHandler(BSTR*) { return E_NOTIMPL; }
  // BeginItem with the decimal text of `number` (0 or more; E_INVALIDARG
  // below) as key, the text not made again for every item. E_NOTIMPL: ask
  // BeginItem.
  virtual HRESULT BeginNumberedItem(LONG /*number*/) { return E_NOTIMPL; }
};
KX_DEFINE_IID(IKXQTrigger, 0x4b585101, 0x0006, 0x4000, 0x80, 0x00, 0x4b, 0x58, 0x51, 0x53, 0x54,
              0x06)

// Named values for filter evaluation on one object.
struct IKXQEvaluationContext : IDispatch {
  // name VT_BSTR; value copied.
  virtual HRESULT SetNamedValue(VARIANT name, VARIANT value) = 0;
  // *value: caller clears; VT_EMPTY when unset.
  virtual HRESULT GetNamedValue(VARIANT name, VARIANT* value) = 0;
  // Marks the start (VT_BSTR object id text) and end of one evaluation.
  virtual HRESULT Begin(VARIANT objectId) = 0;
  virtual HRESULT End() = 0;
};
KX_DEFINE_IID(IKXQEvaluationContext, 0x4b585101, 0x0007, 0x4000, 0x80, 0x00, 0x4b, 0x58, 0x51, 0x53,
              0x54, 0x07)

// One entry of a user table: the user's name.
struct IKXQNamedItem : IUnknown {
  virtual HRESULT get_Name(BSTR* name) = 0;  // caller frees
};
KX_DEFINE_IID(IKXQNamedItem, 0x4b585101, 0x0008, 0x4000, 0x80, 0x00, 0x4b, 0x58, 0x51, 0x53, 0x54,
              0x08)

// One place where an object is shown: the object holding the place.
struct IKXQDataviewIndex : IUnknown {
  virtual HRESULT get_Holder(IKXQObject** holder) = 0;  // AddRef'd
};
KX_DEFINE_IID(IKXQDataviewIndex, 0x4b585101, 0x0009, 0x4000, 0x80, 0x00, 0x4b, 0x58, 0x51, 0x53,
              0x54, 0x09)

// What a process keeps beside a store object (a cache of what it holds)
// asks to know whether another process changed the object since: the
// number of times the catch-up at the start of a transaction brought in
// another process's change of the object's values, or its deletion; the
// changes of its object values made here (set, insert, remove, clear, a
// referenced object deleted), whichever code made them; and the rollbacks
// that undid changes (of any object: what the cache took from a rolled-back
// call may be gone). This process's changes of its other values do not
// count. The store's objects answer it (QueryInterface from IKXQObject).
struct IKXQExternalChanges : IUnknown {
  virtual HRESULT get_ExternalChangeCount(LONG* count) = 0;
};
KX_DEFINE_IID(IKXQExternalChanges, 0x4b585101, 0x000a, 0x4000, 0x80, 0x00, 0x4b, 0x58, 0x51, 0x53,
              0x54, 0x0a)

// What a process keeps beside a store object, taken from some of its values
// (the template page found from a page's "TemplateId" and "PageId"), asks
// whether those values may have changed since: a stamp per attribute of the
// object that moves with every change of that value here (set, insert,
// remove, clear, a referenced object deleted) and with every change that
// is not one of a value (objects created or deleted, owners, flags, the
// schema, templates and the other tables, a catch-up that brought another
// process's changes in, a rollback). Equal stamps at two times mean that
// the value read at either time is the same. The store's objects answer it
// (QueryInterface from IKXQObject).
struct IKXQValueStamps : IUnknown {
  // The stamp of `attribute`, by name as get_Attribute finds it (one the
  // object's class does not define has the stamp of the other changes).
  virtual HRESULT GetValueStamp(BSTR attribute, LONGLONG* stamp) = 0;
};
KX_DEFINE_IID(IKXQValueStamps, 0x4b585101, 0x000d, 0x4000, 0x80, 0x00, 0x4b, 0x58, 0x51, 0x53, 0x54,
              0x0d)

// The reads of attribute values that a stretch of work made, as a trigger
// item open over it would have recorded them (IKXQReadLog::EndReads).
struct IKXQReadSet : IUnknown {
  // Records every read of the set in every trigger item open now, as if it
  // were made again now.
  virtual HRESULT Replay() = 0;
  // The number of distinct reads.
  virtual HRESULT get_Count(LONG* count) = 0;
  // The latest value stamp (IKXQValueStamps) of the values read, or the
  // stamp of the other changes when none was read: the same stamp at two
  // times means that every read of the set would find the same again.
  virtual HRESULT get_LatestStamp(LONGLONG* stamp) = 0;
};
KX_DEFINE_IID(IKXQReadSet, 0x4b585101, 0x000b, 0x4000, 0x80, 0x00, 0x4b, 0x58, 0x51, 0x53, 0x54,
              0x0b)

// For a caller that would read the same values twice in one call, the
// second time inside a trigger item (a page's writer walks its fields'
// routes, then its trigger set-up walks them again to record them): it
// collects what the first walk read and, when nothing has changed since,
// replays that into the item instead of walking again. The store's objects
// answer it (QueryInterface from IKXQObject); it concerns the whole store.
struct IKXQReadLog : IUnknown {
  // Starts collecting the reads made from now on, whether or not a trigger
  // item is open. Collections nest: each open one collects every read.
  virtual HRESULT BeginReads() = 0;
  // Ends the collection begun last and hands out what it collected in
  // *reads (AddRef'd). KXQ_E_TRANSACTION when none is open.
  virtual HRESULT EndReads(IKXQReadSet** reads) = 0;
  // A count that moves with every change of the store's data (objects,
  // their values, owners and flags, the schema, templates and tables; not
  // triggers), with every catch-up that brought in another process's
  // changes and with every rollback: equal counts mean that a read made at
  // either time found the same.
  virtual HRESULT get_ChangeCount(LONG* count) = 0;
};
KX_DEFINE_IID(IKXQReadLog, 0x4b585101, 0x000c, 0x4000, 0x80, 0x00, 0x4b, 0x58, 0x51, 0x53, 0x54,
              0x0c)

// Several attributes of one object read in one call, for a caller that
// reads the same few of thousands of objects (a listing): one call instead
// of an attribute object, a name lookup and a value call for each. Each
// attribute is named as get_Attribute finds it, and each read is what
// IKXQAttribute would answer for it at `index` and records the same read.
// The store's objects answer it (QueryInterface from IKXQObject).
struct IKXQValueReads : IUnknown {
  // defined[i]: whether the object's class has attribute names[i];
  // values[i]: its value as GetValue(index, no unit) gives it (VT_EMPTY
  // when it is not defined). On failure every values[i] is VT_EMPTY.
  virtual HRESULT ReadValues(LONG count, BSTR* names, VARIANT index, VARIANT_BOOL* defined,
                             VARIANT* values) = 0;
  // has[i]: as HasValue(index) answers (false when it is not defined).
  virtual HRESULT HasValues(LONG count, BSTR* names, VARIANT index, VARIANT_BOOL* has) = 0;
};
KX_DEFINE_IID(IKXQValueReads, 0x4b585101, 0x00c2, 0x4000, 0x80, 0x00, 0x4b, 0x58, 0x51, 0x53, 0x54,
              0xc2)
