// The field model: how a page's fields reach the values behind them.
#pragma once

#include <cstdint>

#include "kxstoreptrs.h"

namespace FieldUtils {

// The 1-based position in the page's "Annotations" of the first annotation
// whose stored "FieldId" is `annotationId`, with its stored text in `text`.
// None: `text` null and -1, or, with `mustExist`, E_FAIL "Failed to find
// annotation %d". A null page or a page without "Annotations": E_POINTER.
// Throws KXComException.
int32_t GetAnnotation(IKXQObject* page, int32_t annotationId, bool mustExist, _bstr_t& text);

}  // namespace FieldUtils
