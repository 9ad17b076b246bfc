// The "C" locale as a locale_t, for the *_l functions: numbers are read and
// written with "." whatever the process locale.
#pragma once

#ifndef KX_COM_INTERNAL
#error "com/internal headers are private to their library; include its public headers"
#endif

#include <locale.h>

namespace kx::com::internal {

// Created once, never freed (lives for the process).
locale_t c_locale();

}  // namespace kx::com::internal
