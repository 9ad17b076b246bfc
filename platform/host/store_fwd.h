// Object-store interfaces that the host's interfaces name. The store library
// defines them; the host's headers need only pointers to them, so its
// forward declarations keep these headers light.
#pragma once

#if __has_include("store/fwd.h")
#include "store/fwd.h"
#else
struct IKXQDatabase;
struct IKXQSchema;
struct IKXQTemplateLibrary;
struct IKXQProject;
struct IKXQObject;
struct IKXQClass;
struct IKXQTrigger;
struct IKXQObjectCollection;
#endif
