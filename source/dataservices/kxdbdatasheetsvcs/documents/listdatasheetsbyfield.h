// "ListDatasheetsByField": the request text is a field id in decimal. Which
// datasheets show a field is recorded nowhere in the store, so the listing
// has nothing to offer: it succeeds and writes no reply.
#pragma once

#include "model/maincontext.h"

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT ListDatasheetsByField(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
