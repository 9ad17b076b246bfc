// Class ids that the platform itself knows.
#pragma once

#include "com/types.h"

// The SAX reader. Activation finds it in libkxmsxml.so next to libkxcom.so
// unless the registration store names another library for this class.
KX_DEFINE_GUID(CLSID_SAXXMLReader60, 0x3c1f7a52, 0x6d0e, 0x4b8a, 0x9e, 0x41, 0x5a, 0x2c, 0x8d, 0x17,
               0xb3, 0x60)

// Its ProgID, answered by CLSIDFromProgID without a registry entry.
inline constexpr const char16_t* kx_progid_SAXXMLReader60 = u"Msxml2.SAXXMLReader.6.0";
// The library file that serves it by default.
inline constexpr const char* kx_library_SAXXMLReader60 = "libkxmsxml.so";
