// The unit in which a page shows a real field's values. A page's "Units"
// entry names the unit of each unit field; an empty entry shows the unit
// field's default, and the values are then read and written in that unit,
// so that a number and the unit shown beside it agree.
#pragma once

#include <cstdint>

#include "com/comutil.h"
#include "kxstoreptrs.h"

struct IKXQApplication;

namespace FieldUtils {

// The unit of `unit`'s list whose display text is the unit field's default
// one; null when no unit of the list shows it, or the unit field cannot
// tell (the value's own unit is read then).
_bstr_t GetDefaultUnit(IKXQTemplateUnit* unit);

// The unit in which `page` shows the values of its unit field `position`:
// `stored`, the page's "Units" entry, or when that is empty the unit
// field's default unit on the page's template page (as GetDefaultUnit).
_bstr_t GetShownUnit(IKXQApplication* application, IKXQObject* page, int32_t position,
                     const _bstr_t& stored);

// The number text `value`, in unit `from` of the dimension of `page`'s unit
// field `position`, written in unit `to` ("%.16g"). The text as it is when
// it is no number, a unit is empty or the same, or the dimension does not
// convert between the two.
_bstr_t ConvertValueText(IKXQApplication* application, IKXQObject* page, int32_t position,
                         const _bstr_t& value, const _bstr_t& from, const _bstr_t& to);

}  // namespace FieldUtils
