// Shared knowledge of VARIANT and SAFEARRAY element types.
#pragma once

#ifndef KX_COM_INTERNAL
#error "com/internal headers are private to their library; include its public headers"
#endif

#include "com/variant.h"

namespace kx::com::internal {

// Size of one SAFEARRAY element of type vt; 0 for types an array cannot hold.
unsigned element_size(VARTYPE vt);
// True for the base types a VARIANT may hold by value (vt without flags).
bool is_valid_value_type(VARTYPE vt);
// True when v's type code is one VariantClear/VariantCopy understand.
bool is_valid_variant_type(VARTYPE vt);

}  // namespace kx::com::internal
