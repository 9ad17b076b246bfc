#include "kxqdataserviceimpl.h"

#include "com/comutil.h"
#include "host/application.h"
#include "host/response.h"
#include "kxcomexception.h"
#include "kxtrace.h"
#include "store/database.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/dataserviceinclude/kxqdataserviceimpl";

template <class T>
void ReleaseKnown(T*& pointer) {
  if (pointer == nullptr) return;
  pointer->Release();
  pointer = nullptr;
}

}  // namespace

HostConnection::~HostConnection() {
  ReleaseKnown(m_pReplyAttributes);
  ReleaseKnown(m_pSchema);
  ReleaseKnown(m_pDatabase);
  ReleaseKnown(m_pResponse);
  ReleaseKnown(m_pApplication);
  ReleaseKnown(m_pRequestContext);
}

HRESULT HostConnection::AttachApplication(IKXQApplication* application) {
  if (application != m_pApplication) {
    if (application != nullptr) application->AddRef();
    ReleaseKnown(m_pApplication);
    m_pApplication = application;
  }
  ReleaseKnown(m_pSchema);
  ReleaseKnown(m_pDatabase);
  if (m_pApplication == nullptr) return S_OK;
  // Either may be missing (a host without a store); their users check.
  (void)m_pApplication->get_Schema(&m_pSchema);
  (void)m_pApplication->get_Database(&m_pDatabase);
  ConfigureTracer(m_pApplication);
  return S_OK;
}

HRESULT HostConnection::DetachApplication() {
  ReleaseKnown(m_pApplication);
  ReleaseKnown(m_pSchema);
  ReleaseKnown(m_pDatabase);
  return S_OK;
}

void HostConnection::HoldRequest(IKXQRequestContext* context) {
  if (context != m_pRequestContext) {
    if (context != nullptr) context->AddRef();
    ReleaseKnown(m_pRequestContext);
    m_pRequestContext = context;
  }
  ReleaseKnown(m_pResponse);
  if (m_pRequestContext != nullptr) (void)m_pRequestContext->get_Response(&m_pResponse);
  // Attributes a failed request added without writing their element would
  // otherwise land on this request's first element.
  if (m_pReplyAttributes != nullptr) (void)m_pReplyAttributes->Clear();
}

void HostConnection::FinishRequest() {
  if (m_pReplyAttributes != nullptr && m_pResponse != nullptr) {
    KXComException ctx = KXComException::Silent();
    KX_CHECK(ctx, m_pResponse->EndReply());
  }
  ReleaseKnown(m_pRequestContext);
  ReleaseKnown(m_pResponse);
}

HRESULT ReportNotAttached() {
  KXComException ctx = KXComException::Silent();
  const SourceLocation here = KX_HERE(kFile);
  ReportComError(ctx, &here, E_FAIL, u"Not attached to a host application");
  return E_FAIL;
}

HRESULT ServeDataServiceRequest(HostConnection& host, IKXQRequestContext* context,
                                DataServiceCall call, void* data) {
  KXComException ctx = KXComException::Silent();
  try {
    // Error information absorbed earlier on this thread must not be chained
    // into this request's errors.
    ClearThreadErrorInfo();
    host.HoldRequest(context);
    bool quiet = false;
    const HRESULT hr = call(data, &quiet);
    if (quiet && FAILED(hr)) return hr;
    KX_CHECK(ctx, hr);
    host.FinishRequest();
    return hr;
  }
  KX_CATCH_BOUNDARY(ctx, KX_HERE(kFile))
  return ctx.Return();
}
