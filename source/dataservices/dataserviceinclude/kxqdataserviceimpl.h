// A module's main class as the host's data service: `IKXQDataService` with
// its defaults, over `HostConnection`, what the module holds of its host:
// the per-attach state (application, database, schema) and the per-request
// state (request context, response, reply attribute list) that the
// dispatcher and the reply writer use.
//
// Threading: all calls come on the host's apartment thread, one at a time;
// nothing here locks.
#pragma once

#include "com/errorinfo.h"
#include "dataservicemap.h"
#include "host/dataservice.h"
#include "messagekit.h"

struct IKXQRequestContext;
struct IKXQResponse;
struct IKXQXMLAttributes;

// The module's connection to its host: the host's objects from attach to
// detach and the request being served. Shared by the data-service
// template, the dispatcher and the reply writer. Every pointer holds one
// reference (or is null).
class HostConnection {
 public:
  HostConnection() = default;
  HostConnection(const HostConnection&) = delete;
  HostConnection& operator=(const HostConnection&) = delete;
  // Releases the attribute list, schema, database, response, application
  // and request context, in that order.
  ~HostConnection();

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
  [[nodiscard]] HRESULT AttachApplication(IKXQApplication* application);
  // Detach: drops the application, schema and database. Always S_OK.
  [[nodiscard]] HRESULT DetachApplication();

  // Keeps `context` (AddRef'd when it differs from the one held) and takes
  // its response in place of any response still held. Attributes still
  // pending from an earlier (failed) request are dropped.
  void HoldRequest(IKXQRequestContext* context);
  // After a successful request: ends the reply when an attribute list is
  // held, then releases the context and the response. Throws KXComException
  // when ending the reply fails (nothing is released then).
  void FinishRequest();
};

// The body of both request operations: clears the thread's error
// information, holds `context` and its response, runs `call(data, &quiet)`
// (the handler) and finishes the request when it succeeds. A failure is
// returned with the thread's error information, in "<KXError" form; one
// that `call` marks quiet comes back as it is, without error information.
// Ends at the outermost boundary: nothing is thrown.
using DataServiceCall = HRESULT (*)(void* data, bool* quiet);
[[nodiscard]] HRESULT ServeDataServiceRequest(HostConnection& part, IKXQRequestContext* context,
                                              DataServiceCall call, void* data);

// E_FAIL with "Not attached to a host application" as the thread's error
// information: a handler found while detached (no application) is not run,
// since every handler needs the application or its store. What fails before
// a handler is found fails as it does attached.
[[nodiscard]] HRESULT ReportNotAttached();

// `IKXQDataService` with the defaults every data service starts from:
// start-up S_OK; the trigger callback and every operation up to attach
// E_NOTIMPL; attach, detach and both request operations implemented. `T`
// replaces what it serves itself and gives its map as
//   static const DataServiceMapEntryOf<M>* DataServiceMap();
// whose handlers take `T` as `M` (T itself or a base of it). `Connection`
// is `HostConnection` or a class of the module derived from it.
template <class T, class Connection = HostConnection>
class IKXQDataServiceImpl : public IKXQDataService, public Connection {
 public:
  HRESULT StartUp(IKXQRegistrar*) override { return S_OK; }
  HRESULT ProcessRequest(BSTR name, BSTR text, IKXQRequestContext* context) override {
    Request request{static_cast<T*>(this), name, text, nullptr};
    return ServeDataServiceRequest(*this, context, &Request::Dispatch, &request);
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
    return this->AttachApplication(application);
  }
  HRESULT Detach() override { return this->DetachApplication(); }
  HRESULT ProcessRequestWithResponse(BSTR name, BSTR text, IKXQRequestContext* context,
                                     VARIANT extra) override {
    Request request{static_cast<T*>(this), name, text, &extra};
    return ServeDataServiceRequest(*this, context, &Request::DispatchWithExtra, &request);
  }

 protected:
  ~IKXQDataServiceImpl() = default;

 private:
  struct Request {
    T* module;
    BSTR name;
    BSTR text;
    const VARIANT* extra;

    [[nodiscard]] static HRESULT Dispatch(void* data, bool*) {
      const Request& r = *static_cast<const Request*>(data);
      HRESULT failure = E_FAIL;
      const auto* entry = ResolveDataServiceEntryIn(T::DataServiceMap(), r.name, &failure);
      if (entry == nullptr) return failure;
      if (r.module->m_pApplication == nullptr) return ReportNotAttached();
      const MessageKit::HandlerFileScope file(entry->file);
      return entry->handler(*r.module, r.text);
    }
    // One look, no pause: no message takes the extra argument, so a known
    // name without a second handler fails like an unknown one, quietly.
    [[nodiscard]] static HRESULT DispatchWithExtra(void* data, bool* quiet) {
      const Request& r = *static_cast<const Request*>(data);
      const auto* entry = FindDataServiceEntryIn(T::DataServiceMap(), r.name);
      if (entry == nullptr || entry->handler == nullptr || entry->handler2 == nullptr) {
        *quiet = true;
        return E_FAIL;
      }
      if (r.module->m_pApplication == nullptr) return ReportNotAttached();
      const MessageKit::HandlerFileScope file(entry->file);
      return entry->handler2(*r.module, r.text, *r.extra);
    }
  };
};
