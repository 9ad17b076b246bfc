// The real fields of a datasheet with their units, for the datasheet object
// service's "GetRealFieldsWithUOM": every real field of the current pages
// that shows a value and has a unit, once for each object in the ownership
// chain of its value.
#pragma once

#include "main/main.h"

namespace KXDBDatasheetSvcs {

// "Fields" holding one empty "Field" element ("OID", "Name", "Value") per
// owner of each real value, page after page, field after field, nearest
// owner first: "Name" is the dotted path of holder names from that owner
// down to the value, "Value" the value as the page shows it, a blank and
// the unit. The datasheet is the host's current one during the call (so
// is each page while it is read). *xml receives the text, null on failure.
HRESULT WriteRealFieldsWithUOM(Main& main, IKXQObject* datasheet, BSTR* xml);

}  // namespace KXDBDatasheetSvcs
