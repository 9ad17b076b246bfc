// Helpers shared by the loader's source files (not for other callers).
#pragma once

#include "com/comutil.h"
#include "host/application.h"
#include "kxstoreptrs.h"
#include "kxxmlutils.h"

class KXComException;
class Main;

namespace loaddatasheet {

// Hands the failure of one item (the thread's error description, else the
// system text of `hr`) to the application's warning operation and clears
// the thread's error information. `application` may be null.
void ReportItemFailure(IKXQApplication* application, HRESULT hr);
// The host application `main` is attached to (may be null).
IKXQApplication* MainApplication(Main& main);
// Sends a non-empty element text into the reply of the current request.
// Raises E_FAIL without a response, and the response's own failure.
void SendElement(KXComException& ctx, Main& main, const _bstr_t& text);
// Runs `write(i, &element)` for i = 1..count: an element that fails
// becomes a warning of the application, a non-empty one goes into the reply.
template <class Write>
void WriteEachEntry(KXComException& ctx, Main& main, int32_t count, Write&& write) {
  for (int32_t i = 1; i <= count; ++i) {
    _bstr_t element;
    const HRESULT hr = write(i, element.GetAddress());
    if (FAILED(hr)) {
      ReportItemFailure(MainApplication(main), hr);
      continue;
    }
    SendElement(ctx, main, element);
  }
}

// A new XML string writer without line breaks.
_com_ptr_t<ikxXMLStringWriter> MakeWriter(KXComException& ctx);

// The value of entry `index` of a page's "Qualifiers" as an integer (0 for
// no value). Raises "Cannot coerce attribute to an integer" for another
// value.
int32_t ReadQualifierValue(KXComException& ctx, IKXQAttribute* qualifiers, int32_t index);

// The show element of a page's stored annotation `text`, compared with the
// annotation of the same id on `issued` (may be null). Failures come back as
// an HRESULT with the thread's error information.
HRESULT WriteStoredAnnotation(IKXQObject* page, IKXQObject* issued, IKXQApplication* application,
                              int32_t status, BSTR text, BSTR* out);

}  // namespace loaddatasheet
