// Object-store interfaces that the host's interfaces name. The store library
// defines them; the host's headers need only pointers to them, so a forward
// declaration keeps these headers light and independent of the store's.
#pragma once

struct IKXQDatabase;
struct IKXQSchema;
struct IKXQTemplateLibrary;
struct IKXQProject;
struct IKXQObject;
struct IKXQClass;
struct IKXQTrigger;
struct IKXQObjectCollection;
