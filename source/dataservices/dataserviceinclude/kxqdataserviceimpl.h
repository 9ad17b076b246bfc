// The data-service part of a module's main class: the host's
// `IKXQDataService` with its defaults, the per-attach state (application,
// database, schema) and the per-request state (request context, response,
// reply attribute list) that the dispatcher and the reply writer use.
//
// Threading: all calls come on the host's apartment thread, one at a time;
// nothing here locks.
#pragma once

#include "com/errorinfo.h"
#include "host/dataservice.h"

struct IKXQRequestContext;
struct IKXQResponse;
struct IKXQXMLAttributes;
class Main;

// State shared by the data-service template, the dispatcher and the reply
// writer. Every pointer holds one reference (or is null).
class DataServicePart {
 public:
  DataServicePart() = default;
  DataServicePart(const DataServicePart&) = delete;
  DataServicePart& operator=(const DataServicePart&) = delete;
  // Releases the attribute list, schema, database, response, application
  // and request context, in that order.
  ~DataServicePart();

  // The request being served: held from the start of a request until it
  // succeeds; after a failure until the next request replaces them.
  IKXQRequestContext* m_pRequestContext = nullptr;
  // From attach to detach.
  IKXQApplication* m_pApplication = nullptr;
  IKXQResponse* m_pResponse = nullptr;
  IKXQDatabase* m_pDatabase = nullptr;
  IKXQSchema* m_pSchema = nullptr;
  // Made by the first reply write of this object's life and kept until it
  // is destroyed (see XMLReply).
  IKXQXMLAttributes* m_pReplyAttributes = nullptr;

  // Attach: keeps `application`, fetches its schema and database again and
  // configures the tracer (once per process). Always S_OK.
  HRESULT AttachApplication(IKXQApplication* application);
  // Detach: drops the application, schema and database. Always S_OK.
  HRESULT DetachApplication();

  // Keeps `context` (AddRef'd when it differs from the one held) and takes
  // its response in place of any response still held. Attributes still
  // pending from an earlier (failed) request are dropped.
  void HoldRequest(IKXQRequestContext* context);
  // After a successful request: ends the reply when an attribute list is
  // held, then releases the context and the response. Throws KXComException
  // when ending the reply fails (nothing is released then).
  void FinishRequest();
};

// The request operations, shared by every data-service class. `name` and
// `text` are borrowed. They end at the outermost boundary: failures come
// back as HRESULTs with the thread's error information set.
HRESULT ServeDataServiceRequest(Main& main, DataServicePart& part, BSTR name, BSTR text,
                                IKXQRequestContext* context);
HRESULT ServeDataServiceRequestWithResponse(Main& main, DataServicePart& part, BSTR name,
                                            BSTR text, IKXQRequestContext* context,
                                            const VARIANT& extra);

// `IKXQDataService` with the defaults every data service starts from:
// start-up S_OK; the trigger callback and every operation up to attach
// E_NOTIMPL; attach, detach and both request operations implemented. `T`
// replaces what it serves itself.
template <class T>
class IKXQDataServiceImpl : public IKXQDataService, public DataServicePart {
 public:
  HRESULT StartUp(IKXQRegistrar*) override { return S_OK; }
  HRESULT ProcessRequest(BSTR name, BSTR text, IKXQRequestContext* context) override {
    return ServeDataServiceRequest(static_cast<T&>(*this), *this, name, text, context);
  }
  HRESULT TriggerFired(IKXQTrigger*, IKXQApplication*) override { return E_NOTIMPL; }
  HRESULT GetObjectServices(LONG, VARIANT, IKXQObject*, IKXQApplication*,
                            IDispatch** services) override {
    if (services != nullptr) *services = nullptr;
    return E_NOTIMPL;
  }
  HRESULT Reserved1() override { return E_NOTIMPL; }
  HRESULT RunMethod(LONG, VARIANT, IKXQObject*, VARIANT, IKXQApplication*, VARIANT*) override {
    return E_NOTIMPL;
  }
  HRESULT Reserved2() override { return E_NOTIMPL; }
  HRESULT Reserved3() override { return E_NOTIMPL; }
  HRESULT OnDatabaseEvent(LONG, IKXQObject*, VARIANT*) override { return E_NOTIMPL; }
  HRESULT Reserved4() override { return E_NOTIMPL; }
  HRESULT Reserved5() override { return E_NOTIMPL; }
  HRESULT Attach(IKXQApplication* application) override {
    return AttachApplication(application);
  }
  HRESULT Detach() override { return DetachApplication(); }
  HRESULT ProcessRequestWithResponse(BSTR name, BSTR text, IKXQRequestContext* context,
                                     VARIANT extra) override {
    return ServeDataServiceRequestWithResponse(static_cast<T&>(*this), *this, name, text,
                                               context, extra);
  }

 protected:
  ~IKXQDataServiceImpl() = default;
};
