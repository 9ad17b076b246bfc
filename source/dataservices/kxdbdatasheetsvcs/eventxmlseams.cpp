// The XML of the six change events. Until the event XML writers are built
// every event serialises with its message name and no XML: the host still
// delivers it to its recipients. The writers replace this file, defining
// the same six WriteXml methods.
#include "changeevents.h"

namespace {

HRESULT NoXmlYet(BSTR* xml) {
  if (xml == nullptr) return E_POINTER;
  *xml = nullptr;
  return S_OK;
}

}  // namespace

HRESULT KXDatasheetEvent::WriteXml(BSTR* xml) { return NoXmlYet(xml); }
HRESULT KXPageEvent::WriteXml(BSTR* xml) { return NoXmlYet(xml); }
HRESULT KXDataFieldEvent::WriteXml(BSTR* xml) { return NoXmlYet(xml); }
HRESULT KXUnitFieldEvent::WriteXml(BSTR* xml) { return NoXmlYet(xml); }
HRESULT KXAnnotationFieldEvent::WriteXml(BSTR* xml) { return NoXmlYet(xml); }
HRESULT KXQualifierEvent::WriteXml(BSTR* xml) { return NoXmlYet(xml); }
