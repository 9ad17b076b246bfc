#include "messagekit.h"

#include <string>

#include "com/wstr.h"

namespace MessageKit {

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

}  // namespace MessageKit

HRESULT NotImplementedYet(KXComException& ctx, const OLECHAR* what) {
  try {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(MessageKit::kFile), E_NOTIMPL, u"%ls is not implemented yet", what);
  }
  KX_CATCH_BOUNDARY(ctx, KX_HERE(MessageKit::kFile))
  return ctx.Return();
}

HRESULT MessageNotImplementedYet(const OLECHAR* traceName, const OLECHAR* message) {
  KXComException ctx(traceName);
  const std::u16string what = std::u16string(u"The message ") + message;
  return NotImplementedYet(ctx, what.c_str());
}

HRESULT WorkerNotImplementedYet(const OLECHAR* worker) {
  KXComException ctx = KXComException::Silent(worker);
  return NotImplementedYet(ctx, worker);
}
