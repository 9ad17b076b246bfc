#include "setrealfield.h"

namespace kx::test {

const GrammarRecord kSetRealFieldGrammar[] = {
    {kGrammarRoot, nullptr, 0},
    {kGrammarElement, u"XMLMessage", 0},
    {kGrammarStringAttribute, u"TargetId", kSetRealTargetId},
    {kGrammarIntegerAttribute, u"Status", kSetRealStatus},
    {kGrammarChild, nullptr, 1},
    {kGrammarElementEnd, nullptr, 0},
    {kGrammarElement, u"SetRealField", 1},
    {kGrammarIntegerAttribute, u"PageId", kSetRealPageId},
    {kGrammarIntegerAttribute, u"FieldId", kSetRealFieldId},
    {kGrammarIntegerAttribute, u"Index", kSetRealIndex},
    {kGrammarStringAttribute, u"Value", kSetRealValue},
    {kGrammarStringAttribute, u"Prefix", kSetRealPrefix},
    {kGrammarStringAttribute, u"Postfix", kSetRealPostfix},
    {kGrammarStringAttribute, u"Substitution", kSetRealSubstitution},
    {kGrammarStringAttribute, u"Format", kSetRealFormat},
    {kGrammarStringAttribute, u"ConfirmedClass", kSetRealConfirmedClass},
    {kGrammarBooleanAttribute, u"Published", kSetRealPublished},
    {kGrammarElementEnd, nullptr, 0},
    {kGrammarEnd, nullptr, 0},
};

HRESULT SetRealFieldMessageParser::EndElement(uint32_t id) {
  if (id == 0) return S_OK;
  if (id != 1) return E_INVALIDARG;
  ++workerRuns;
  return worker ? worker(*this) : S_OK;
}

HRESULT SetRealFieldMessageParser::GetChildHandler(uint32_t childId,
                                                   SAXSchemaElementHandler** handler) {
  if (childId > 1) return E_INVALIDARG;
  *handler = this;
  return S_OK;
}

HRESULT SetRealFieldMessageParser::SetAttribute(uint32_t id, const SAXValue& v) {
  attributeLog.push_back(static_cast<char16_t>(u'A' + id));
  switch (id) {
    case kSetRealTargetId: targetId.Assign(v.text); return S_OK;
    case kSetRealStatus: status = v.integer; return S_OK;
    case kSetRealPageId:
      pageId = v.integer;
      pageIdEmpty = v.empty != 0;
      return S_OK;
    case kSetRealFieldId: fieldId = v.integer; return S_OK;
    case kSetRealIndex: index = v.integer; return S_OK;
    case kSetRealValue: value.Assign(v.text); return S_OK;
    case kSetRealPrefix: prefix.Assign(v.text); return S_OK;
    case kSetRealPostfix: postfix.Assign(v.text); return S_OK;
    case kSetRealSubstitution: substitution.Assign(v.text); return S_OK;
    case kSetRealFormat: format.Assign(v.text); return S_OK;
    case kSetRealConfirmedClass: confirmedClass.Assign(v.text); return S_OK;
    case kSetRealPublished:
      published = v.boolean != 0;
      publishedEmpty = v.empty != 0;
      return S_OK;
    default: return E_INVALIDARG;
  }
}

}  // namespace kx::test
