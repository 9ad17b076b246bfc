#include "messagekit.h"

#include <string>

#include "com/wstr.h"

namespace MessageKit {

namespace {

// Set by the dispatcher around each handler call.
thread_local const OLECHAR* t_handlerFile = nullptr;

}  // namespace

const OLECHAR* HandlerFile() { return t_handlerFile != nullptr ? t_handlerFile : kFile; }

HandlerFileScope::HandlerFileScope(const OLECHAR* file) : m_previous(t_handlerFile) {
  t_handlerFile = file;
}

HandlerFileScope::~HandlerFileScope() { t_handlerFile = m_previous; }

bool HasElement(const GrammarRecord* grammar, uint32_t id) {
  for (const GrammarRecord* record = grammar + 1; record->kind != kGrammarEnd; ++record) {
    if (record->kind == kGrammarElement && record->id == id) return true;
  }
  return false;
}

EnvelopeIds FindEnvelope(const GrammarRecord* grammar) {
  EnvelopeIds ids;
  bool inEnvelope = false;
  for (const GrammarRecord* record = grammar + 1; record->kind != kGrammarEnd; ++record) {
    if (record->kind == kGrammarElement) {
      inEnvelope = record->id == 0;
    } else if (record->kind == kGrammarElementEnd) {
      if (inEnvelope) break;
    } else if (inEnvelope && record->kind == kGrammarStringAttribute &&
               kx_wcscmp(record->name, u"TargetId") == 0) {
      ids.targetId = record->id;
    } else if (inEnvelope && record->kind == kGrammarIntegerAttribute &&
               kx_wcscmp(record->name, u"Status") == 0) {
      ids.status = record->id;
    }
  }
  return ids;
}

bool IsMessageElement(const GrammarRecord* grammar, uint32_t id) {
  bool inEnvelope = false;
  for (const GrammarRecord* record = grammar + 1; record->kind != kGrammarEnd; ++record) {
    if (record->kind == kGrammarElement) {
      inEnvelope = record->id == 0;
    } else if (record->kind == kGrammarElementEnd) {
      if (inEnvelope) return false;
    } else if (inEnvelope && record->kind == kGrammarChild && record->id == id) {
      return true;
    }
  }
  return false;
}

int32_t ReadBareId(const OLECHAR* text, const OLECHAR* what) {
  std::u16string number(text != nullptr ? text : u"");
  while (!number.empty() && (number.back() == u'\n' || number.back() == u'\r')) number.pop_back();
  if (number.empty()) return 0;
  KXComException ctx = KXComException::Silent();
  KX_CHECK(ctx, CheckIntegerText(number.c_str(), what));
  return _wtol(number.c_str());
}

}  // namespace MessageKit
