// The drawing services a host offers under the service name
// "DrawingServices" (IKXQApplication::GetService), and the workflow face of a
// diagram document. BSTR and VARIANT arguments are borrowed; out-parameters
// follow the usual rules (new BSTRs and AddRef'd pointers for the caller).
#pragma once

#include "com/dispatch.h"
#include "com/oleauto.h"

struct IKXDrawingServices : IDispatch {
  // Makes `setName` the current dimension set of the drawings.
  virtual HRESULT ChangeDimensionSet(BSTR setName) = 0;

  // The names of the drawing templates, separated by ";" (may be empty).
  virtual HRESULT get_DrawingTemplates(BSTR* names) = 0;

  // The shared document called `name`, optionally narrowed by `id` (VT_I4 or
  // VT_EMPTY); `*document` is null when there is none.
  virtual HRESULT FindSharedDocument(BSTR name, VARIANT id, IDispatch** document) = 0;

  // Creates a diagram. `nameAndClass` is "Name\nClass"; `caseId` is VT_I4;
  // the three reserved VARIANTs are VT_EMPTY; `sharedDocument` is VT_DISPATCH
  // (may hold null). `*result` (initialised, cleared first) receives the new
  // diagram object as VT_DISPATCH, or VT_EMPTY.
  virtual HRESULT CreateDiagram(BSTR nameAndClass, VARIANT caseId, VARIANT reserved1,
                                VARIANT reserved2, VARIANT reserved3, VARIANT sharedDocument,
                                VARIANT* result) = 0;

 protected:
  ~IKXDrawingServices() = default;
};
KX_DEFINE_IID(IKXDrawingServices, 0x2f8f13a9, 0xefc6, 0x4d9d, 0x90, 0xec, 0x4d, 0xb0, 0x57, 0x6f,
              0x21, 0xe7)

// Workflow operations of a diagram document ("Diagram" representation).
struct IKXDrawingDiagram : IDispatch {
  virtual HRESULT Submit() = 0;
  virtual HRESULT Check() = 0;
  virtual HRESULT Issue(BSTR revision, BSTR issueReason) = 0;
  // `status` is VT_I4.
  virtual HRESULT Withdraw(VARIANT status) = 0;

 protected:
  ~IKXDrawingDiagram() = default;
};
KX_DEFINE_IID(IKXDrawingDiagram, 0xedbade2f, 0xd56e, 0x451f, 0xbb, 0x01, 0xe1, 0x8e, 0x64, 0xaf,
              0x49, 0x00)
