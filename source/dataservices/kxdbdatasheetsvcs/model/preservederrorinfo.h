// Leaves the thread's error information as it was when it was made,
// whatever the calls made while it lives set: work that keeps answers
// between requests must not show in the error a caller reads afterwards.
#pragma once

#include "com/errorinfo.h"

class PreservedErrorInfo {
 public:
  PreservedErrorInfo() {
    if (GetErrorInfo(0, &m_info) != S_OK) m_info = nullptr;
  }
  PreservedErrorInfo(const PreservedErrorInfo&) = delete;
  PreservedErrorInfo& operator=(const PreservedErrorInfo&) = delete;
  ~PreservedErrorInfo() {
    (void)SetErrorInfo(0, m_info);
    if (m_info != nullptr) m_info->Release();
  }

 private:
  IErrorInfo* m_info = nullptr;
};
