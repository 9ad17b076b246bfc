// Attribute paths of BEDD data: the names of an object's values reached
// through object-valued attributes, joined with "." ("nozzle(2).size"), and
// the copy of one value along such a path from a master object to an
// equipment object.
//
// A path part is a name, optionally followed by a position in parentheses:
// "x" is value 1, "x(d)" value d (one digit), "x(*)" every value of a list.
// A name may carry a qualifier "[key=value]" as the store's path texts do.
// Parts are texts that may be null (an empty part). Everything here raises
// `KXComException`; a path that leads nowhere copies nothing, quietly.
#pragma once

#include <cstdint>
#include <vector>

#include "kxstoreptrs.h"

namespace KXDBDatasheetSvcs {

using NameList = std::vector<_bstr_t>;

// Position codes of ParseIndexedName.
inline constexpr int32_t kPathAllValues = -2;
inline constexpr int32_t kPathInvalid = -1;

// A "ProcessPlantEquipment" object whose "BEDDInitialized" is not true.
bool NeedsBEDDInitialization(IUnknown* object);
// Sets "BEDDInitialized" true when the object's class has it.
void MarkBEDDInitialized(IUnknown* object);
// Appends to `paths` the lower-case paths of every value attribute reached
// from `cls` (object attributes followed; "DatasheetObjectHeader" skipped),
// once each; with a non-empty `filter`, only paths whose first name is in
// it. `stack` holds the names above `cls` (empty at the top).
void CollectAttributePaths(IKXQClass* cls, NameList& paths, NameList& stack,
                           const NameList& filter);
// The text before the first "."; the whole path without one; null for a
// path that starts with ".".
_bstr_t GetPathFirstName(const OLECHAR* path);
// "pipe[size=2]" gives the base "pipe" and the key "size"; no "[" or no
// "=" after it gives no key.
void ParseQualifiedName(const OLECHAR* name, _bstr_t& base, _bstr_t& key);
// Appends the parts between "."s (empty ones as null texts).
void SplitAttributePath(const OLECHAR* path, NameList& parts);
// `code`: 1 without parentheses, the digit, kPathAllValues for "(*)",
// kPathInvalid otherwise; `base`: the name before the last "(".
void ParseIndexedName(const OLECHAR* name, int32_t& code, _bstr_t& base);
// Copies the value the path names from `source` to the same path of
// `target` (queried for IKXQObject: E_POINTER when it is none), keeping
// its type and, for a real, its unit.
void CopyAttributeValueByPath(IKXQObject* source, const NameList& parts, IUnknown* target);
// For each object of the source list, the attribute `lastName` copied to
// the object at the same position of the target list.
void CopyListValues(IKXQAttribute* source, IKXQAttribute* target, const OLECHAR* lastName);

}  // namespace KXDBDatasheetSvcs
