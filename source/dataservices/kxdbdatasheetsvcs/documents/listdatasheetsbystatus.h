// "ListDatasheetsByStatus": the request text is a status in decimal (1
// current, 2 submitted, 3 checked, 4 issued); every datasheet with pages of
// that status is listed with all its versions, and the reply's
// "CurrentPage" is that status. Another status lists nothing, and no reply
// is written then.
#pragma once

#include <cstdint>

#include "model/kxinfoclasses.h"
#include "model/maincontext.h"

namespace KXDBDatasheetSvcs {

// Adds the datasheets of `status` and sets the list's CurrentPage to it.
// Raises `KXComException`.
void ListDatasheetsWithStatus(MainContext& main, KXDatasheetInfoList& list, int32_t status);

}  // namespace KXDBDatasheetSvcs

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT ListDatasheetsByStatus(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
