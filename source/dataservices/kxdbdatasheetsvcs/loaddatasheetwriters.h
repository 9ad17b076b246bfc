// Helpers shared by the loader's source files (not for other callers).
#pragma once

#include "com/comutil.h"
#include "host/application.h"
#include "kxxmlutils.h"

class KXComException;
class Main;

namespace loaddatasheet {

// Hands the failure of one item (the thread's error description, else the
// system text of `hr`) to the application's warning operation and clears
// the thread's error information. `application` may be null.
void ReportItemFailure(IKXQApplication* application, HRESULT hr);
// Sends a non-empty element text into the reply of the current request.
// Raises E_FAIL without a response, and the response's own failure.
void SendElement(KXComException& ctx, Main& main, const _bstr_t& text);
// A new XML string writer without line breaks.
_com_ptr_t<ikxXMLStringWriter> MakeWriter(KXComException& ctx);

}  // namespace loaddatasheet
