#include "documents/listdiagramsbyobject.h"

#include "kxattributeutils.h"
#include "kxstoreutils.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/listdiagramsbyobject";

}  // namespace

namespace KXDBDatasheetSvcs {

void ListDiagramsForObject(MainContext& main, KXDiagramInfoList& list, int32_t objectId,
                           int32_t caseId) {
  if (objectId < 1) return;
  KXComException ctx = KXComException::Silent();
  IKXQObjectPtr object;
  GetStoreObject(main.m_pDatabase, object, objectId);
  if (!HasValueAt(object, u"Representations", _variant_t(1))) return;
  IKXQAttributePtr representations;
  GetAttributeInterfaceAt(object, u"Representations", representations, -1);
  const int32_t count = GetAttributeCount(representations);
  for (int32_t i = 1; i <= count; ++i) {
    VARIANT_BOOL has = VARIANT_FALSE;
    KX_CHECK(ctx, representations->HasValue(_variant_t(static_cast<int>(i)), &has));
    if (has == VARIANT_FALSE) continue;
    IKXQObjectPtr representation;
    GetAttributeAsObject(representations, i, representation);
    if (!representation) break;
    if (!ClassHasAttribute(representation, u"Changed")) continue;
    IKXQAttributePtr changed;
    GetAttributeInterfaceAt(representation, u"Changed", changed, caseId);
    if (!changed) continue;
    bool hasId = false;
    const int32_t diagramId = GetAttributeIntegerAt(changed, 1, &hasId);
    if (!hasId || diagramId == -1) continue;
    IKXQObjectPtr diagram;
    GetStoreObject(main.m_pDatabase, diagram, diagramId);
    list.AddDiagram(main.m_pApplication, main.m_pDatabase, diagram);
  }
}

}  // namespace KXDBDatasheetSvcs

const GrammarRecord* ListDiagramsByObjectSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Table(
      Grammar::Envelope(),
      Grammar::Element(u"ListDiagramsByObject", 1,
                       {Grammar::Integer(u"CaseId", CaseId), Grammar::Child(ObjectId)}),
      Grammar::IntegerElement(u"ObjectId", ObjectId));
  return kGrammar.data();
}

HRESULT ListDiagramsByObjectMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case CaseId: return Store(m_caseId, value);
    case ObjectId: m_objectIds.push_back(value.integer); return S_OK;
    default: return E_INVALIDARG;
  }
}

HRESULT ListDiagramsByObjectMessageParser::ListDiagrams() {
  return KXDBDatasheetSvcs::RunListing(kFile, [&] {
    for (const int32_t id : m_objectIds) {
      KXDBDatasheetSvcs::ListDiagramsForObject(*m_pMain, m_list, id, m_caseId);
    }
    KXDBDatasheetSvcs::WriteDiagramList(*m_pMain, m_list, false);
  });
}

void ListDiagramsByObjectMessageParser::ForgetEntries() {
  m_objectIds.clear();
  m_list.RemoveAll();
}

// Traced under the datasheet listing's name, as the editor's logs expect.
HRESULT KXDBDatasheetSvcs::ListDiagramsByObject(MainContext& main, const OLECHAR* request) {
  return ServeMessage<ListDiagramsByObjectMessageParser>(
      main, u"KXDBDatasheetSvcs::ListDatasheetsByObject", request);
}
