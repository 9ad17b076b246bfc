// Consistency checks of a plant store, as the datasheet service relies on
// them, and small readers over the store's interfaces. Each check walks the
// whole store and returns one line per problem ("page 1011: ..."), so that a
// test states that a sound plant has none and that a damaged one is caught.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "com/comutil.h"
#include "store/admin.h"
#include "store/database.h"
#include "store/object.h"
#include "store/templates.h"

namespace kx::test::examples {

using ObjectPtr = _com_ptr_t<IKXQObject>;
using AttrPtr = _com_ptr_t<IKXQAttribute>;
using Problems = std::vector<std::string>;

// The text of examples/NAME; fails the calling test when unreadable.
std::string ReadExample(const std::string& name);

// A fresh in-memory store with xml imported; null (and a failure recorded
// in the calling test) when the import fails.
std::unique_ptr<store::Store> ImportPlant(const std::string& xml,
                                          const std::string& name = "plant.xml");

// xml with the first occurrence of from after the first occurrence of
// anchor replaced by to; fails the calling test when either is missing.
std::string Mutate(const std::string& xml, const std::string& anchor, const std::string& from,
                   const std::string& to);

// Readers; a missing object, attribute or value gives null, 0 or "".
ObjectPtr Object(IKXQDatabase* db, LONG id);
AttrPtr Attribute(IKXQObject* obj, const char16_t* name);
LONG Count(IKXQObject* obj, const char16_t* name);
_variant_t Value(IKXQObject* obj, const char16_t* name, LONG pos = 1);
std::string Text(IKXQObject* obj, const char16_t* name, LONG pos = 1);
// An integer value; has (when given) tells whether a value is there.
LONG Integer(IKXQObject* obj, const char16_t* name, LONG pos = 1, bool* has = nullptr);
// The id of the object held at pos, 0 when none.
LONG RefId(IKXQObject* obj, const char16_t* name, LONG pos = 1);
LONG IdOf(IKXQObject* obj);
std::string ClassName(IKXQObject* obj);
// Ids of the live instances of a class and its subclasses, in id order.
std::vector<LONG> Instances(IKXQDatabase* db, const char16_t* className);
// The description of the thread's error information (cleared), "" if none.
std::string LastError();

// Every datasheet's page lists: each entry a page owned by the datasheet
// and held by that list, no page in two lists, "NumberOfPages" equal to the
// current pages, status copies pointing at a current page of the same
// datasheet with the same "PageId" and "PageNumber" whose "RevisedPages"
// lists them (and only its copies); no page outside a list.
Problems CheckPageLists(IKXQDatabase* db);

// Every page's "NodeIndices" entry names a template node and a filled
// position of "NodeObjects" whose object the node accepts; on an ordinary
// page every object stands on a node; on a continuous-list page every row
// from the root's position on is accepted by the root node.
Problems CheckNodes(IKXQDatabase* db);

// Every node below another names the route step from its parent's object
// to its own: an attribute of each class its parent node takes.
Problems CheckNodeRoutes(IKXQDatabase* db);

// Every page's template and template page exist in the page's checknum (or
// the library's current version answers for it) and agree with the
// datasheet; "Fields" holds one record per field number whose "FieldId" is
// the template field's; "Units" one unit of the right dimension per unit
// field; "Revisions" and "Cases" are sized and set as the template and the
// datasheet say; annotation ids lie below the datasheet's
// "NextAnnotationId".
Problems CheckTemplates(IKXQDatabase* db);

// A summary sheet's rows are the objects its filter and project select.
Problems CheckSummaries(IKXQDatabase* db);

// All of the above.
Problems CheckPlant(IKXQDatabase* db);

// A readable list for failure messages.
std::string Join(const Problems& problems);

}  // namespace kx::test::examples
