// Scope guards for the host's current datasheet and page.
//
// Work on a page runs with its datasheet and the page made the host
// application's current datasheet and page. A guard made with an object
// remembers the host's current one and puts the object in its place; its
// destructor puts the remembered one back, on every way out, exceptions
// included. Made with a null object (or a null application) it changes
// nothing and restores nothing.
//
// Failures of the get and put operations are not reported: a guard that
// could not read the previous object does not change the current one, and
// a failed restore is ignored (the thread's error information stays what it
// was before the restore).
#pragma once

#include "com/comutil.h"
#include "com/errorinfo.h"
#include "host/application.h"
#include "kxstoreptrs.h"

namespace kxdetail {

// One slot of the host's current document: the datasheet or the page.
template <HRESULT (IKXQApplication::*Get)(IKXQObject**),
          HRESULT (IKXQApplication::*Put)(IKXQObject*)>
class ScopedCurrentObject {
 public:
  ScopedCurrentObject(IKXQApplication* application, IKXQObject* object) {
    if (application == nullptr || object == nullptr) return;
    IKXQObject* previous = nullptr;
    if (FAILED((application->*Get)(&previous))) {
      SetErrorInfo(0, nullptr);
      return;
    }
    m_previous.Attach(previous);
    if (FAILED((application->*Put)(object))) {
      SetErrorInfo(0, nullptr);
      m_previous = nullptr;
      return;
    }
    m_application = application;
    m_changed = true;
  }
  ScopedCurrentObject(const ScopedCurrentObject&) = delete;
  ScopedCurrentObject& operator=(const ScopedCurrentObject&) = delete;
  ~ScopedCurrentObject() {
    if (!m_changed) return;
    // The failure passing through (if any) keeps its error information.
    IErrorInfo* pending = nullptr;
    if (GetErrorInfo(0, &pending) != S_OK) pending = nullptr;
    (void)(m_application.GetInterfacePtr()->*Put)(m_previous);
    SetErrorInfo(0, pending);
    if (pending != nullptr) pending->Release();
  }

 private:
  _com_ptr_t<IKXQApplication> m_application;
  IKXQObjectPtr m_previous;
  bool m_changed = false;
};

}  // namespace kxdetail

using ScopedCurrentDatasheet =
    kxdetail::ScopedCurrentObject<&IKXQApplication::get_CurrentDatasheet,
                                  &IKXQApplication::put_CurrentDatasheet>;
using ScopedCurrentPage = kxdetail::ScopedCurrentObject<&IKXQApplication::get_CurrentPage,
                                                        &IKXQApplication::put_CurrentPage>;
