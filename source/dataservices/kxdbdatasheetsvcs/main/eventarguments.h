// The interfaces that database events carry in their arguments VARIANT.
#pragma once

#include "com/variant.h"

struct IKXQProjectUpdate;

// The interface the arguments hold (VT_UNKNOWN or VT_DISPATCH, by value or
// by reference, VT_BYREF|VT_VARIANT followed), not AddRef'd; null when they
// hold none. `arguments` may be null.
IUnknown* EventArgumentInterface(VARIANT* arguments);

// That interface queried for `riid`: AddRef'd for the caller, or null when
// there is none or the query is refused.
void* QueryEventArgument(VARIANT* arguments, REFIID riid);

// The update-project event's IKXQProjectUpdate (AddRef'd), or null.
IKXQProjectUpdate* QueryProjectUpdate(VARIANT* arguments);

// Releases a reference from QueryProjectUpdate (null allowed).
void ReleaseProjectUpdate(IKXQProjectUpdate* update);
