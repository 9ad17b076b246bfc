#include "properties/methods.h"

#include "fieldmodel/fieldutils.h"
#include "kxattributeutils.h"
#include "kxstoreutils.h"
#include "model/continuouspageadvisor.h"
#include "properties/fieldpage.h"
#include "xmlreply.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/methods";
constexpr FrameOptions kFrame{.file = kFile};

void WriteNoRootObject(HostConnection& reply) {
  XMLReply::BeginMessage(reply, u"App", -1);
  XMLReply::WriteMessage(reply, u"ALERT", -1,
                         _bstr_t(u"Selected item does not have a root object."));
  XMLReply::EndMessage(reply);
}

}  // namespace

const GrammarRecord* GetFieldObjectSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Message(
      u"GetFieldObject",
      FieldAddressAttributes<GetFieldObjectSchema>({Grammar::Boolean(u"Primary", Primary)}));
  return kGrammar.data();
}

HRESULT GetFieldObjectMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case Primary: return Store(m_primary, value);
    default: return StoreFieldAddress<GetFieldObjectSchema>(*this, id, value);
  }
}

HRESULT GetFieldObjectMessageParser::GetFieldObject() {
  // The worker's trace scope: a text the logs know, kept as it is.
  return ServeRequest(u"GetFieldObjectParser::GetFieldObject", kFrame, [&](KXComException& ctx) {
    MainContext& main = *m_pMain;
    if (main.m_pDatabase == nullptr) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"Do not have access to object store");
    }
    FieldPage work(main, m_pageId, false);
    const bool continuous = work.IsContinuous();
    const ContinuousPageHelper& helper = main.GetContinuousPageHelper();
    if (continuous && m_index >= helper.RowCount()) {
      WriteNoRootObject(Reply());
      return S_OK;
    }
    _variant_t number;
    IKXQTemplateFieldPtr field;
    KX_CHECK(ctx, work.templatePage->GetFieldById(m_fieldId, &number, &field));
    if (!field) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG, u"Field %d not found",
                              static_cast<int>(m_fieldId));
    }
    // A row picks a list row's object; on a page that is no list it is
    // not read at all.
    work.CheckListRow(field, m_index);
    IKXQObjectPtr root;
    const bool row = continuous && m_index >= 0;
    if (row) {
      IKXQAttributePtr objects;
      GetAttributeInterface(work.page, u"NodeObjects", objects);
      const int32_t position = helper.FirstRowPosition() + m_index;
      if (!objects || position < 1 || position > GetAttributeCount(objects)) {
        WriteNoRootObject(Reply());
        return S_OK;
      }
      GetAttributeAsObject(objects, position, root);
    } else {
      FieldUtils::GetFieldRootObject(work.page, field, root);
    }
    IKXQObjectPtr result = root;
    if (!m_primary) {
      IKXQObjectPtr qualified;
      if (row && root) {
        _variant_t value;
        IKXQFieldValuePtr holder;
        KX_CHECK(ctx, FieldUtils::ParseContinuousListRoute(main, work.page, root, field, -1, false,
                                                           &value, &holder));
        if (holder) {
          _variant_t view;
          KX_CHECK(ctx, holder->GetViewAt(value, &view));
          IKXQViewPtr item;
          if (view.vt == VT_DISPATCH && view.pdispVal) FieldUtils::CoerceToView(view, item);
          if (item) KX_CHECK(ctx, item->get_Object(&qualified));
        }
      } else if (!row) {
        FieldUtils::ResolveQualifierRoute(qualified, work.page, field, work.OverspillChain());
      }
      if (qualified) result = qualified;
    }
    if (!result) return S_OK;
    XMLReply::BeginMessage(Reply(), m_targetId.IsNull() ? u"" : m_targetId.c_str(), m_status);
    XMLReply::EnsureAttributes(Reply());
    XMLReply::AddLongAttribute(Reply(), u"PageId", m_pageId);
    XMLReply::AddLongAttribute(Reply(), u"FieldId", m_fieldId);
    XMLReply::AddLongAttribute(Reply(), u"ObjectId", ObjectIdOf(result));
    XMLReply::AddLongAttribute(Reply(), u"Primary",
                               root && ObjectIdOf(result) == ObjectIdOf(root) ? 1 : 0);
    XMLReply::WriteElement(Reply(), u"FieldObject", nullptr);
    XMLReply::EndMessage(Reply());
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::GetFieldObject(MainContext& main, const OLECHAR* request) {
  return ServeMessage<GetFieldObjectMessageParser>(main, u"KXDBDatasheetSvcs::GetFieldObject",
                                                   request);
}
