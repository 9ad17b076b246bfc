// The module's ProgID and version, which the registration writes and the
// triggers bound to this service name.
#pragma once

inline constexpr int kKXDBDatasheetSvcsMajorVersion = 1;
inline constexpr int kKXDBDatasheetSvcsMinorVersion = 0;
inline constexpr const char16_t* kMainProgId = u"KXDBDatasheetSvcs.Main";
