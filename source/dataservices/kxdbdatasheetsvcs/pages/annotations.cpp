#include "pages/annotations.h"

#include <functional>

#include "host/settings.h"
#include "kxattributeutils.h"
#include "kxstoreutils.h"
#include "model/kxdbdatasheetutils.h"
#include "model/kxfielddata.h"
#include "model/scopedcurrent.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/annotations";
constexpr FrameOptions kFrame{.file = kFile};
constexpr FrameOptions kSilentFrame{.file = kFile, .silent = true};

void GetAnnotations(KXComException& ctx, IKXQObject* page, IKXQAttributePtr& annotations) {
  CheckPointerArgument(ctx, page);
  GetAttributeInterface(page, u"Annotations", annotations);
  CheckPointerArgument(ctx, annotations.GetInterfacePtr());
}

// The position in "Annotations" of the annotation `id`, read into
// `record`. None: E_FAIL "Failed to find annotation %d".
int32_t FindAnnotation(KXComException& ctx, IKXQAttribute* annotations, int32_t id,
                       KXFieldData& record) {
  const int32_t count = GetAttributeCount(annotations);
  for (int32_t i = 1; i <= count; ++i) {
    _bstr_t stored;
    KXDBDatasheetSvcs::GetAttributeValueStringAt(annotations, i, stored);
    if (stored.length() == 0) continue;
    KX_CHECK(ctx, record.ParseFieldData(kFieldAnnotation, stored, -1));
    if (record.fieldId == id) return i;
  }
  ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"Failed to find annotation %d",
                          static_cast<int>(id));
}

_bstr_t WriteAnnotation(KXComException& ctx, const KXFieldData& record) {
  BSTR text = nullptr;
  KX_CHECK(ctx, record.WriteFieldData(&text, kFieldDataFull, -1));
  return _bstr_t(text, false);
}

// The frame of the three messages: nothing for "Status" 4; the page and its
// datasheet made current; `first` on the page (answers whether the
// annotation is a mark-up one, which then goes to the page's submitted and
// checked copies, or from a copy to its current page, through `copy`).
HRESULT RunAnnotationMessage(
    KXComException& ctx, MainContext& main, int32_t status, int32_t pageId,
    const std::function<bool(IKXQObject* page, IKXQObject* datasheet)>& first,
    const std::function<void(IKXQObject* page, int32_t status)>& copy) {
  if (status == 4) return S_OK;
  IKXQObjectPtr page;
  IKXQObjectPtr datasheet;
  GetStoreObject(main.m_pDatabase, page, pageId);
  GetOwnerObject(page, datasheet);
  // An issued copy keeps what was issued. A submitted or checked copy takes
  // mark-ups as the version it is: a "Status" naming another version would
  // treat it as that version (a plain note edited on a copy, the events
  // sent to the other version's readers).
  KXDBDatasheetSvcs::RefuseStatusCopy(page, 4);
  // After a check the submitted list keeps its pages: the checked page is
  // the submitted version too, and a request of either status addresses it.
  // A "Status" that names no version (none, 0, 5 and up) is taken as for
  // any copy.
  const int32_t own = KXDBDatasheetSvcs::GetPageStatus(page);
  const bool listed =
      datasheet && (status == 2 || status == 3) &&
      AttributeContainsObject(datasheet, status == 2 ? u"SubmittedPages" : u"CheckedPages", page);
  if (own != 1 && status >= 1 && status <= 3 && status != own && !listed) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG,
                            u"Page %d is a %ls copy: a request with Status %d does not address it",
                            static_cast<int>(pageId), own == 2 ? u"submitted" : u"checked",
                            static_cast<int>(status));
  }
  ScopedCurrentDatasheet currentDatasheet(main.m_pApplication, datasheet);
  ScopedCurrentPage currentPage(main.m_pApplication, page);
  if (!first(page, datasheet)) return S_OK;
  if (status == 1) {
    IKXQAttributePtr revised;
    GetAttributeInterface(page, u"RevisedPages", revised);
    const int32_t count = revised ? GetAttributeCount(revised) : 0;
    for (int32_t i = 1; i <= count; ++i) {
      IKXQObjectPtr other;
      GetAttributeAsObject(revised, i, other);
      if (!other || !datasheet) continue;
      // After an issue the issued pages are the checked (and submitted)
      // page objects: they keep what was issued.
      if (AttributeContainsObject(datasheet, u"IssuedPages", other)) continue;
      if (AttributeContainsObject(datasheet, u"SubmittedPages", other)) {
        copy(other, 2);
      } else if (AttributeContainsObject(datasheet, u"CheckedPages", other)) {
        copy(other, 3);
      }
    }
  } else {
    IKXQObjectPtr active;
    KX_CHECK(ctx, KXDBDatasheetSvcs::GetActivePage(page, &active));
    if (active) copy(active, 1);
  }
  return S_OK;
}

// "SetAnnotation" and "MoveAnnotation": `perPage` on the page, and on the
// other side of the revision when the stored annotation is a mark-up one.
template <class Parser>
HRESULT RunOnStoredAnnotation(KXComException& ctx, Parser& parser,
                              HRESULT (Parser::*perPage)(IKXQObject*, int32_t, int32_t, bool*)) {
  auto run = [&](IKXQObject* page, int32_t status) {
    bool markup = false;
    KX_CHECK(ctx, (parser.*perPage)(page, status, parser.m_annotationId, &markup));
    return markup;
  };
  return RunAnnotationMessage(
      ctx, *parser.m_pMain, parser.m_status, parser.m_pageId,
      [&](IKXQObject* page, IKXQObject*) { return run(page, parser.m_status); },
      [&](IKXQObject* page, int32_t status) { run(page, status); });
}

// The signed-in user's name: the full name, else the login name.
_bstr_t GetUserName(KXComException& ctx, IKXQApplication* application) {
  CheckPointerArgument(ctx, application);
  _com_ptr_t<IKXQPrivileges> privileges;
  KX_CHECK(ctx, application->get_Privileges(&privileges));
  CheckPointerArgument(ctx, privileges.GetInterfacePtr());
  _bstr_t name;
  KX_CHECK(ctx, privileges->get_UserName(name.GetAddress()));
  if (name.length() == 0) KX_CHECK(ctx, privileges->get_LoginName(name.GetAddress()));
  return name;
}

}  // namespace

// ---------------------------------------------------------------------------
// "CreateAnnotation"

const GrammarRecord* CreateAnnotationSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Message(
      u"CreateAnnotation",
      {Grammar::Integer(u"PageId", PageId), Grammar::String(u"Value", Value),
       Grammar::Integer(u"X", X), Grammar::Integer(u"Y", Y), Grammar::Boolean(u"Markup", Markup)});
  return kGrammar.data();
}

HRESULT CreateAnnotationMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case PageId: return Store(m_pageId, value);
    case Value: return Store(m_value, value);
    case X: return Store(m_x, value);
    case Y: return Store(m_y, value);
    case Markup: return Store(m_markup, value);
    default: return E_INVALIDARG;
  }
}

HRESULT CreateAnnotationMessageParser::CreateAnnotation() {
  const auto work = [&](KXComException& ctx) {
    int32_t id = 0;
    IKXQAttributePtr next;
    RunAnnotationMessage(
        ctx, *m_pMain, m_status, m_pageId,
        [&](IKXQObject* page, IKXQObject* datasheet) {
          CheckPointerArgument(ctx, datasheet);
          GetAttributeInterface(datasheet, u"NextAnnotationId", next);
          CheckPointerArgument(ctx, next.GetInterfacePtr());
          id = GetAttributeAsInteger(next);
          KX_CHECK(ctx, CreatePageAnnotation(page, m_status, id));
          return m_markup;
        },
        [&](IKXQObject* page, int32_t status) {
          KX_CHECK(ctx, CreatePageAnnotation(page, status, id));
        });
    // Ids are never given out twice, not even after a deletion.
    if (next) {
      KX_CHECK(ctx,
               next->PutValue(_variant_t(), _variant_t(), _variant_t(static_cast<LONG>(id + 1))));
    }
    return S_OK;
  };
  return ServeRequest(u"CreateAnnotationMessageParser::CreateAnnotation", kFrame, work);
}

HRESULT CreateAnnotationMessageParser::CreatePageAnnotation(IKXQObject* page, int32_t status,
                                                            int32_t id) {
  const auto work = [&](KXComException& ctx) {
    IKXQAttributePtr annotations;
    GetAnnotations(ctx, page, annotations);
    KXFieldData record;
    record.typeId = kFieldAnnotation;
    if (m_markup) {
      const _bstr_t user = GetUserName(ctx, m_pMain->m_pApplication);
      std::u16string text = user.length() > 0 ? static_cast<const OLECHAR*>(user) : u"";
      text += u":";
      if (!m_value.IsNull()) text += m_value.str();
      record.value.Assign(text.c_str());
    } else {
      record.value.Assign(m_value.c_str());
    }
    record.fieldId = id;
    record.x = m_x;
    record.y = m_y;
    record.markup = m_markup;
    SetAttributeValueAt(annotations, GetAttributeCount(annotations) + 1,
                        WriteAnnotation(ctx, record));
    KX_CHECK(ctx, m_pMain->LaunchAnnotationFieldEvent(page, id, status));
    return S_OK;
  };
  return ServeRequest(u"CreateAnnotationMessageParser::CreatePageAnnotation", kSilentFrame, work);
}

HRESULT KXDBDatasheetSvcs::CreateAnnotation(MainContext& main, const OLECHAR* request) {
  return ServeMessage<CreateAnnotationMessageParser>(main, u"KXDBDatasheetSvcs::CreateAnnotation",
                                                     request);
}

// ---------------------------------------------------------------------------
// "SetAnnotation"

const GrammarRecord* SetAnnotationSchema::GetSchema() const {
  static constexpr auto kGrammar =
      Grammar::Message(u"SetAnnotation", {Grammar::Integer(u"PageId", PageId),
                                          Grammar::Integer(u"AnnotationId", AnnotationId),
                                          Grammar::String(u"Value", Value)});
  return kGrammar.data();
}

HRESULT SetAnnotationMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case PageId: return Store(m_pageId, value);
    case AnnotationId: return Store(m_annotationId, value);
    case Value: return Store(m_value, value);
    default: return E_INVALIDARG;
  }
}

HRESULT SetAnnotationMessageParser::SetAnnotation() {
  const auto work = [&](KXComException& ctx) {
    return RunOnStoredAnnotation(ctx, *this, &SetAnnotationMessageParser::SetPageAnnotation);
  };
  return ServeRequest(u"SetAnnotationMessageParser::SetAnnotation",
                      FrameOptions{.file = kFile, .passReturnedFailure = true}, work);
}

HRESULT SetAnnotationMessageParser::SetPageAnnotation(IKXQObject* page, int32_t status, int32_t id,
                                                      bool* markup) {
  const auto work = [&](KXComException& ctx) {
    IKXQAttributePtr annotations;
    GetAnnotations(ctx, page, annotations);
    KXFieldData record;
    const int32_t position = FindAnnotation(ctx, annotations, id, record);
    *markup = record.markup;
    // On submitted and checked pages only mark-up annotations change.
    if (!record.markup && status != 1) return S_OK;
    if (m_value.IsEmpty()) {
      KXDBDatasheetSvcs::RemoveAttributeValue(annotations, position);
    } else {
      if (!record.value.IsNull() && record.value.str() == m_value.str()) return S_OK;
      record.value.Assign(m_value.c_str());
      SetAttributeValueAt(annotations, position, WriteAnnotation(ctx, record));
    }
    KX_CHECK(ctx, m_pMain->LaunchAnnotationFieldEvent(page, id, status));
    return S_OK;
  };
  return ServeRequest(u"SetAnnotationMessageParser::SetPageAnnotation", kSilentFrame, work);
}

HRESULT KXDBDatasheetSvcs::SetAnnotation(MainContext& main, const OLECHAR* request) {
  return ServeMessage<SetAnnotationMessageParser>(main, u"KXDBDatasheetSvcs::SetAnnotation",
                                                  request);
}

// ---------------------------------------------------------------------------
// "MoveAnnotation"

const GrammarRecord* MoveAnnotationSchema::GetSchema() const {
  static constexpr auto kGrammar =
      Grammar::Message(u"MoveAnnotation", {Grammar::Integer(u"PageId", PageId),
                                           Grammar::Integer(u"AnnotationId", AnnotationId),
                                           Grammar::Integer(u"X", X), Grammar::Integer(u"Y", Y)});
  return kGrammar.data();
}

HRESULT MoveAnnotationMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case PageId: return Store(m_pageId, value);
    case AnnotationId: return Store(m_annotationId, value);
    case X: return Store(m_x, value);
    case Y: return Store(m_y, value);
    default: return E_INVALIDARG;
  }
}

HRESULT MoveAnnotationMessageParser::MoveAnnotation() {
  const auto work = [&](KXComException& ctx) {
    return RunOnStoredAnnotation(ctx, *this, &MoveAnnotationMessageParser::MovePageAnnotation);
  };
  return ServeRequest(u"MoveAnnotationMessageParser::MoveAnnotation",
                      FrameOptions{.file = kFile, .passReturnedFailure = true}, work);
}

HRESULT MoveAnnotationMessageParser::MovePageAnnotation(IKXQObject* page, int32_t status,
                                                        int32_t id, bool* markup) {
  const auto work = [&](KXComException& ctx) {
    IKXQAttributePtr annotations;
    GetAnnotations(ctx, page, annotations);
    KXFieldData record;
    const int32_t position = FindAnnotation(ctx, annotations, id, record);
    *markup = record.markup;
    record.x = m_x;
    record.y = m_y;
    SetAttributeValueAt(annotations, position, WriteAnnotation(ctx, record));
    KX_CHECK(ctx, m_pMain->LaunchAnnotationFieldEvent(page, id, status));
    return S_OK;
  };
  return ServeRequest(u"MoveAnnotationMessageParser::MovePageAnnotation", kSilentFrame, work);
}

HRESULT KXDBDatasheetSvcs::MoveAnnotation(MainContext& main, const OLECHAR* request) {
  return ServeMessage<MoveAnnotationMessageParser>(main, u"KXDBDatasheetSvcs::MoveAnnotation",
                                                   request);
}
