// What the parsers of the field-value messages share: the values of a field
// address and its new value, the number texts of the integer and real
// messages, and the frame of their workers.
#pragma once

#include <cstdint>

#include "fieldsetter.h"
#include "main.h"

// "PageId", "FieldId", "Index", "Value" and "ConfirmedClass"; numbers are
// -1 and texts absent until given.
struct FieldMessageValues {
  int32_t m_pageId = -1;
  int32_t m_fieldId = -1;
  int32_t m_index = -1;
  SAXText m_value;
  SAXText m_confirmedClass;

  FieldRequest Request(int32_t status) const {
    FieldRequest request;
    request.status = status;
    request.pageId = m_pageId;
    request.fieldId = m_fieldId;
    request.index = m_index;
    request.value = m_value.c_str();
    request.confirmedClass = m_confirmedClass.c_str();
    return request;
  }
};

// "Prefix", "Postfix", "Substitution", "Format" and "Published" (true until
// given).
struct NumberMessageValues {
  SAXText m_prefix;
  SAXText m_postfix;
  SAXText m_substitution;
  SAXText m_format;
  bool m_published = true;

  NumberTexts Texts() const {
    NumberTexts texts;
    texts.prefix = m_prefix.c_str();
    texts.postfix = m_postfix.c_str();
    texts.substitution = m_substitution.c_str();
    texts.format = m_format.c_str();
    texts.published = m_published;
    return texts;
  }
};

// The frame of a field worker: `work()` inside the catch clauses, its
// failures reported at `file`. `traceName` (may be null: no trace line) is
// the worker's trace scope.
template <class Work>
HRESULT RunFieldWorker(const OLECHAR* traceName, const OLECHAR* file, Work&& work) {
  KXComException ctx = traceName != nullptr ? KXComException(traceName) : KXComException::Silent();
  try {
    return work();
  }
  KX_CATCH(ctx, KX_HERE(file))
  return ctx.Return();
}
