// "GetConfigurations" and "GetObjectFilters", neither reading its request
// text nor changing anything. "GetConfigurations" answers, on "XMLMessage"
// an empty "MessageOfTheDay", and on "Configurations" what the signed-in
// user may do ("CanSecure", "CanLock", "CanCheck", "CanIssue",
// "CanChangeUnits", "CanModifySummary", from the host's privileges) and
// whether the active project is the root project ("IsRootProject"), with
// one "Filter" per object filter of the schema inside; "GetObjectFilters"
// answers the "Filter" elements in "ObjectFilters". The filter named by the
// setting "DefaultFilter" (any letter case) is marked "Default".
#pragma once

#include "model/maincontext.h"

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT GetConfigurations(MainContext& main, const OLECHAR* request);
HRESULT GetObjectFilters(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
