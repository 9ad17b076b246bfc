#include "properties/fieldcases.h"

#include <string>

#include "com/errorinfo.h"
#include "com/wstr.h"
#include "fieldmodel/fieldutils.h"
#include "kxattributeutils.h"
#include "kxstoreutils.h"
#include "model/continuouspageadvisor.h"
#include "model/kxdbdatasheetpages.h"
#include "model/kxdbdatasheetutils.h"
#include "properties/fieldpage.h"
#include "variantutil.h"
#include "xmlreply.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/fieldcases";
constexpr FrameOptions kFrame{.file = kFile};

// The field's case: its case number, slot (-1: none) and whether the slot's
// entry holds a value.
struct FieldCase {
  int32_t caseId = -1;
  int32_t slot = -1;
  bool defined = false;
};

FieldCase OpenFieldCase(KXComException& ctx, FieldPage& work, int32_t fieldId,
                        IKXQTemplateFieldPtr& field) {
  _variant_t number;
  KX_CHECK(ctx, work.templatePage->GetFieldById(fieldId, &number, &field));
  if (!field) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG, u"Field %d not found",
                            static_cast<int>(fieldId));
  }
  FieldCase result;
  result.caseId = FieldUtils::GetFieldCase(work.page, field, &result.slot, &result.defined);
  return result;
}

// "TargetId" is the datasheet's id, read as the framework reads a number
// (leading blanks skipped; a text that is none reads as 0).
LONG DocumentIdOf(const SAXText& targetId) { return _wtol(targetId.c_str()); }

void WriteAlert(HostConnection& reply, const SAXText& targetId, LONG status, const OLECHAR* text) {
  XMLReply::BeginMessage(reply, targetId.c_str(), status);
  XMLReply::WriteMessage(reply, u"ALERT", DocumentIdOf(targetId), _bstr_t(text));
  XMLReply::EndMessage(reply);
}

constexpr OLECHAR kNoCase[] = u"No case defined for selected field";

}  // namespace

// ---------------------------------------------------------------------------
// "ShowFieldCase"

const GrammarRecord* ShowFieldCaseSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Message(
      u"ShowFieldCase",
      FieldAddressAttributes<ShowFieldCaseSchema>({Grammar::Integer(u"CaseId", CaseId)}));
  return kGrammar.data();
}

HRESULT ShowFieldCaseMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case CaseId: m_hasCaseId = true; return Store(m_caseId, value);
    default: return StoreFieldAddress<ShowFieldCaseSchema>(*this, id, value);
  }
}

HRESULT ShowFieldCaseMessageParser::ShowFieldCase() {
  constexpr auto kMethod = u"ShowFieldCaseMessageParser::ShowFieldCase";
  return ServeRequest(kMethod, kFrame, [&](KXComException& ctx) {
    MainContext& main = *m_pMain;
    FieldPage work(main, m_pageId, false);
    IKXQTemplateFieldPtr field;
    const FieldCase fieldCase = OpenFieldCase(ctx, work, m_fieldId, field);
    if (!m_hasCaseId) {
      // The row picks the object reported: only a list column has rows.
      work.CheckFieldRow(m_fieldId, field, m_index);
      XMLReply::BeginMessage(Reply(), m_targetId.c_str(), m_status);
      IKXQObjectPtr object;
      if (m_index < 0)
        FieldUtils::GetFieldRootObject(work.page, field, object);
      else
        FieldUtils::GetFieldRootObject(work.page, field, m_index, object);
      if (object) {
        const std::u16string id = kx_ltow(ObjectIdOf(object));
        XMLReply::WriteElement(Reply(), u"ObjectId", _bstr_t(id.c_str()));
      }
      if (fieldCase.slot == 0) {
        XMLReply::WriteMessage(Reply(), u"QUESTION", DocumentIdOf(m_targetId),
                               _bstr_t(u"Change the default datasheet case?"));
      }
      XMLReply::EndMessage(Reply());
      return S_OK;
    }
    if (m_caseId == fieldCase.caseId) return S_OK;
    // A copy keeps the cases it recorded.
    KXDBDatasheetSvcs::RefuseStatusCopy(work.page);
    // A case the store does not know is not written.
    if (fieldCase.slot >= 0) KXDBDatasheetSvcs::RequireCaseId(main, m_caseId);
    if (fieldCase.slot > 0) {
      KX_CHECK(ctx, KXDBDatasheetSvcs::SetCaseAt(work.page, fieldCase.slot, m_caseId));
    } else if (fieldCase.slot == 0) {
      KX_CHECK(ctx, KXDBDatasheetSvcs::SetDatasheetCase(main, work.datasheet, m_caseId));
    } else {
      // A field without a case slot has no entry to change.
      WriteAlert(Reply(), m_targetId, m_status, kNoCase);
    }
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::ShowFieldCase(MainContext& main, const OLECHAR* request) {
  return ServeMessage<ShowFieldCaseMessageParser>(main, u"KXDBDatasheetSvcs::ShowFieldCase",
                                                  request);
}

// ---------------------------------------------------------------------------
// "HideFieldCase"

const GrammarRecord* HideFieldCaseSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Message(
      u"HideFieldCase",
      {Grammar::Integer(u"PageId", PageId), Grammar::Integer(u"FieldId", FieldId)});
  return kGrammar.data();
}

HRESULT HideFieldCaseMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case PageId: return Store(m_pageId, value);
    case FieldId: return Store(m_fieldId, value);
    default: return E_INVALIDARG;
  }
}

HRESULT HideFieldCaseMessageParser::HideFieldCase() {
  constexpr auto kMethod = u"HideFieldCaseMessageParser::HideFieldCase";
  return ServeRequest(kMethod, kFrame, [&](KXComException& ctx) {
    FieldPage work(*m_pMain, m_pageId, false);
    IKXQTemplateFieldPtr field;
    const FieldCase fieldCase = OpenFieldCase(ctx, work, m_fieldId, field);
    if (fieldCase.slot == 0) {
      WriteAlert(Reply(), m_targetId, m_status, u"Cannot hide default datasheet case");
    } else if (fieldCase.slot > 0 && fieldCase.defined) {
      KXDBDatasheetSvcs::RefuseStatusCopy(work.page);
      KX_CHECK(ctx, KXDBDatasheetSvcs::ClearObjectCase(work.page, fieldCase.slot));
    } else {
      WriteAlert(Reply(), m_targetId, m_status, kNoCase);
    }
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::HideFieldCase(MainContext& main, const OLECHAR* request) {
  return ServeMessage<HideFieldCaseMessageParser>(main, u"KXDBDatasheetSvcs::HideFieldCase",
                                                  request);
}

// ---------------------------------------------------------------------------
// "CopyFieldCase"

const GrammarRecord* CopyFieldCaseSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Message(
      u"CopyFieldCase", {Grammar::Integer(u"PageId", PageId), Grammar::Integer(u"FieldId", FieldId),
                         Grammar::Integer(u"CaseId", CaseId)});
  return kGrammar.data();
}

HRESULT CopyFieldCaseMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case PageId: return Store(m_pageId, value);
    case FieldId: return Store(m_fieldId, value);
    case CaseId: m_hasCaseId = true; return Store(m_caseId, value);
    default: return E_INVALIDARG;
  }
}

HRESULT CopyFieldCaseMessageParser::CopyFieldCase() {
  constexpr auto kMethod = u"CopyFieldCaseMessageParser::CopyFieldCase";
  return ServeRequest(kMethod, kFrame, [&](KXComException& ctx) {
    MainContext& main = *m_pMain;
    FieldPage work(main, m_pageId, false);
    IKXQTemplateFieldPtr requested;
    const FieldCase fieldCase = OpenFieldCase(ctx, work, m_fieldId, requested);
    if (!fieldCase.defined) {
      WriteAlert(Reply(), m_targetId, m_status, kNoCase);
      return S_OK;
    }
    if (!m_hasCaseId) return S_OK;
    // Values are copied into what a current page shows, never through a
    // copy.
    KXDBDatasheetSvcs::RefuseStatusCopy(work.page);
    // A case the store does not know has no values to copy.
    KXDBDatasheetSvcs::RequireCaseId(main, m_caseId);
    const bool continuous = work.IsContinuous();
    const ContinuousPageHelper& helper = main.GetContinuousPageHelper();
    int32_t rows = 0;
    int32_t base = 0;
    if (continuous) {
      rows = helper.RowCount();
      IKXQAttributePtr indices;
      GetAttributeInterface(work.page, u"NodeIndices", indices);
      bool has = false;
      const int32_t at = helper.RootNodeIndex() + 1;
      int32_t entry = 0;
      if (indices && at <= GetAttributeCount(indices))
        entry = KXDBDatasheetSvcs::GetAttributeIntegerAt(indices, at, &has);
      base = has ? entry - 1 : 3;
    }
    IKXQAttributePtr objects;
    GetAttributeInterface(work.page, u"NodeObjects", objects);
    // An overspill page's list positions continue its predecessors'.
    SAFEARRAY* chain = continuous ? nullptr : work.OverspillChain();
    SAFEARRAY* array = nullptr;
    KX_CHECK(ctx, work.templatePage->GetCaseNodes(fieldCase.slot, &array));
    VariantUtil::SafeArrayVector nodes(array, true);
    for (int32_t w = 0; w <= rows; ++w) {
      IKXQObjectPtr rowObject;
      if (w > 0) {
        if (!objects || base + w > GetAttributeCount(objects)) continue;
        GetAttributeAsObject(objects, base + w, rowObject);
        if (!rowObject) continue;
      }
      for (int32_t i = 0; i < nodes.Count(); ++i) {
        IKXQClassViewPtr node;
        KX_CHECK(ctx, nodes.GetClassViewAt(i, &node));
        VARIANT_BOOL repeats = VARIANT_FALSE;
        KX_CHECK(ctx, node->get_Repeats(&repeats));
        if (continuous && (w == 0) == (repeats != VARIANT_FALSE)) continue;
        SAFEARRAY* fieldArray = nullptr;
        KX_CHECK(ctx, node->get_Fields(&fieldArray));
        VariantUtil::SafeArrayVector fields(fieldArray, true);
        for (int32_t j = 0; j < fields.Count(); ++j) {
          _com_ptr_t<IKXQTemplateNode> entry;
          KX_CHECK(ctx, fields.GetInterfaceAt(j, &entry));
          LONG fieldId = -1;
          KX_CHECK(ctx, entry->get_Id(&fieldId));
          IKXQTemplateFieldPtr field;
          _variant_t unused;
          KX_CHECK(ctx, work.templatePage->GetFieldById(fieldId, &unused, &field));
          LONG slot = -1;
          if (!field || FAILED(field->get_CasePosition(&slot)) || slot != fieldCase.slot) continue;
          const int32_t number =
              FieldUtils::GetFieldNumber(main, work.page, fieldId, w > 0 ? w - 1 : -1, field);
          // The source value, nothing made for it.
          _variant_t sourcePosition;
          IKXQFieldValuePtr source;
          if (w > 0) {
            KX_CHECK(ctx, FieldUtils::ParseContinuousListRoute(main, work.page, rowObject, field,
                                                               m_caseId, false, &sourcePosition,
                                                               &source));
          } else {
            KX_CHECK(ctx, FieldUtils::ResolveFieldRoute(work.page, field, m_caseId, false, chain,
                                                        &sourcePosition, &source));
          }
          if (!source) continue;
          _bstr_t text, prefix, postfix, substitution;
          FieldUtils::GetAttributeValueExactText(source, sourcePosition, text);
          KXDBDatasheetSvcs::ReadViewNumberTexts(source, sourcePosition, prefix, postfix,
                                                 substitution);
          _variant_t position;
          IKXQFieldValuePtr destination;
          if (w > 0) {
            KX_CHECK(ctx, FieldUtils::ParseContinuousListRoute(main, work.page, rowObject, field,
                                                               fieldCase.caseId, true, &position,
                                                               &destination));
          } else {
            KX_CHECK(ctx, FieldUtils::ResolveFieldRoute(work.page, field, fieldCase.caseId, true,
                                                        chain, &position, &destination));
          }
          if (!destination) continue;
          try {
            FieldUtils::SetAttributeValueFromText(destination, position, text, nullptr);
          } catch (const KXComException&) {
            // A value the destination refuses is left out; the copy goes on.
            SetErrorInfo(0, nullptr);
            continue;
          }
          const LONG type = FieldUtils::GetDataType(destination);
          if (type == 2 || type == 5) {
            KXDBDatasheetSvcs::WriteViewNumberTexts(destination, position, prefix, postfix,
                                                    substitution);
          }
          KX_CHECK(ctx, main.LaunchDataFieldEvent(work.page, number, 1, false));
        }
      }
    }
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::CopyFieldCase(MainContext& main, const OLECHAR* request) {
  return ServeMessage<CopyFieldCaseMessageParser>(main, u"KXDBDatasheetSvcs::CopyFieldCase",
                                                  request);
}
