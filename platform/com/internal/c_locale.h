// The "C" locale as a locale_t, for the *_l functions: numbers are read and
// written with "." whatever the process locale.
#pragma once

#include <locale.h>

namespace kx::com::internal {

// Created once, never freed (lives for the process).
locale_t c_locale();

}  // namespace kx::com::internal
