#include "documents/listdatasheetsbyfield.h"

#include "com/wstr.h"

HRESULT KXDBDatasheetSvcs::ListDatasheetsByField(MainContext& /*main*/, const OLECHAR* request) {
  return ServeRequest(u"KXDBDatasheetSvcs::ListDatasheetsByField", [&](KXComException&) {
    (void)_wtol(request ? request : u"");
    return S_OK;
  });
}
