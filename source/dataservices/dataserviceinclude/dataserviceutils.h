// The data services' shared utilities: error reporting, tracing and value
// routines. Include the narrower headers where only one of them is needed.
#pragma once

#include "kxcomexception.h"
#include "kxtrace.h"
#include "kxvalueutils.h"
