#include "documents/revisedocuments.h"

#include "com/sysmsg.h"
#include "com/wstr.h"
#include "host/drawing.h"
#include "host/response.h"
#include "host/settings.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxstoreptrs.h"
#include "kxstoreutils.h"
#include "loader/loaddatasheet.h"
#include "model/kxdbdatasheetpages.h"
#include "model/kxdbdatasheetutils.h"
#include "model/kxfielddata.h"
#include "model/maincontext.h"
#include "model/scopedcurrent.h"
#include "model/workertable.h"
#include "xmlreply.h"

using namespace KXDBDatasheetSvcs;

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/revisedocuments";
constexpr FrameOptions kFrame{.file = kFile};

KX_SMARTPTR_TYPEDEF(IKXQSettings);
KX_SMARTPTR_TYPEDEF(IKXQPrivileges);

const OLECHAR* TextOrEmpty(const OLECHAR* text) { return text != nullptr ? text : u""; }

int32_t DocumentStatus(IKXQObject* document) {
  IKXQAttributePtr status;
  GetAttributeInterface(document, u"Status", status);
  return status ? GetAttributeAsInteger(status) : 0;
}

void SetDocumentStatus(IKXQObject* document, int32_t status) {
  SetAttributeLong(document, u"Status", status, -1);
}

// The diagram's status as its schematics tell it.
int32_t DiagramStatus(IKXQObject* diagram) {
  IKXQObjectPtr schematic;
  GetAttributeObjectByName(diagram, schematic, u"SubmittedSchematic");
  if (schematic) return 2;
  GetAttributeObjectByName(diagram, schematic, u"CheckedSchematic");
  return schematic ? 3 : 1;
}

// The privilege-on-relation test of check and issue.
void CheckDenyPrivilege(KXComException& ctx, IKXQObject* document, const OLECHAR* privilege,
                        const OLECHAR* verb) {
  VARIANT_BOOL allowed = VARIANT_FALSE;
  _bstr_t place;
  KX_CHECK(ctx, document->CheckPrivilege(_bstr_t(u"Owner"), _bstr_t(privilege), &allowed,
                                         place.GetAddress()));
  if (allowed == VARIANT_TRUE) return;
  _bstr_t name;
  GetObjectName(document, name, false);
  const std::u16string text = kx_format(u"Cannot %ls %ls due to \"deny\" privilege defined on %ls.",
                                        verb, TextOrEmpty(name), TextOrEmpty(place));
  ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, text.c_str());
}

void RequireStatus(KXComException& ctx, IKXQObject* datasheet, int32_t status,
                   const OLECHAR* message) {
  if (DocumentStatus(datasheet) != status) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, message);
  }
}

// The value holds an object, possibly by reference.
bool HoldsObject(const VARIANT& value) {
  const VARIANT* v = V_VT(&value) == (VT_BYREF | VT_VARIANT) ? value.pvarVal : &value;
  switch (V_VT(v)) {
    case VT_DISPATCH:
    case VT_UNKNOWN: return v->punkVal != nullptr;
    case VT_BYREF | VT_DISPATCH:
    case VT_BYREF | VT_UNKNOWN: return v->ppunkVal != nullptr && *v->ppunkVal != nullptr;
    default: return false;
  }
}

// Every value of the page's "Revisions" emptied.
void ClearRevisionMarks(IKXQObject* page) {
  IKXQAttributePtr revisions;
  GetAttributeInterface(page, u"Revisions", revisions);
  if (!revisions) return;
  const int32_t count = GetAttributeCount(revisions);
  for (int32_t i = 1; i <= count; ++i) ClearAttributeValueAt(revisions, i);
}

void SetRevisionMark(IKXQObject* page, int32_t slot, const OLECHAR* revision) {
  IKXQAttributePtr revisions;
  GetAttributeInterface(page, u"Revisions", revisions);
  if (revisions) SetAttributeValueAt(revisions, slot + 1, revision);
}

_bstr_t FieldTextAt(IKXQAttribute* fields, int32_t index) {
  _bstr_t text;
  if (fields != nullptr && index >= 1 && index <= GetAttributeCount(fields)) {
    GetAttributeValueStringAt(fields, index, text);
  }
  return text;
}

bool IsBlank(const KXFieldData& record) {
  return record.typeId == kFieldCleared || record.IsBlank();
}

// Whether the checked text differs from the previously issued one; without
// a previous issue, whether it holds a value at all.
bool IsFieldRevised(MainContext& main, const _bstr_t& checked, const _bstr_t* issued) {
  KXComException ctx = KXComException::Silent();
  KXFieldData current;
  KX_CHECK(ctx, current.SelectField(checked, -1));
  if (issued == nullptr) return !IsBlank(current);
  KXFieldData previous;
  KX_CHECK(ctx, previous.SelectField(*issued, -1));
  return current.IsFieldChanged(previous, main.m_pApplication, false);
}

bool PermanentRevisionMarks(MainContext& main) {
  KXComException ctx = KXComException::Silent();
  IKXQSettingsPtr settings;
  KX_CHECK(ctx, main.m_pApplication->get_Settings(&settings));
  if (!settings) return false;
  _bstr_t value;
  KX_CHECK(ctx, settings->GetValue(_bstr_t(u"PermanentRevisionMarks"), value.GetAddress()));
  return _wcsicmp(TextOrEmpty(value), u"True") == 0;
}

// The knowledge base's own step after an issue; its failure is told to the
// user and does not undo the issue.
void RunPostIssueMethod(MainContext& main, IKXQObject* datasheet) {
  KXComException ctx = KXComException::Silent();
  IKXQClassPtr cls;
  GetObjectClass(datasheet, cls);
  if (!cls) return;
  const _bstr_t method(u"PostIssueDocument");
  VARIANT_BOOL has = VARIANT_FALSE;
  KX_CHECK(ctx, cls->HasMethod(method, &has));
  if (has != VARIANT_TRUE) return;
  _variant_t result;
  const HRESULT hr = datasheet->CallMethod(method, nullptr, result.GetAddress());
  if (SUCCEEDED(hr)) return;
  std::u16string description;
  if (const std::u16string text = TakeThreadErrorText(); !text.empty()) {
    _bstr_t plain(GetErrorDescription(text.c_str()), false);
    description = TextOrEmpty(plain);
  }
  if (description.empty()) description = kx_system_message(hr);
  const std::u16string report =
      kx_format(u"PostIssueDocument KB failed. Return status: 0x%lx (%ls)",
                static_cast<unsigned long>(hr), description.c_str());
  if (main.m_pRequestContext != nullptr) {
    KX_CHECK(ctx, main.m_pRequestContext->Report(_bstr_t(report.c_str())));
  }
}

}  // namespace

namespace KXDBDatasheetSvcs {

bool HasPrivilege(MainContext& main, const OLECHAR* privilege) {
  KXComException ctx = KXComException::Silent();
  IKXQPrivilegesPtr privileges;
  KX_CHECK(ctx, main.m_pApplication->get_Privileges(&privileges));
  if (!privileges) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  VARIANT_BOOL granted = VARIANT_FALSE;
  KX_CHECK(ctx, privileges->HasPrivilege(_bstr_t(privilege), &granted));
  return granted == VARIANT_TRUE;
}

void GetDrawingDiagram(IKXQObject* diagram, _com_ptr_t<IKXDrawingDiagram>& face) {
  KXComException ctx = KXComException::Silent();
  IUnknown* raw = nullptr;
  KX_CHECK(ctx, diagram->get_Representation(_bstr_t(u"Diagram"), &raw));
  _com_ptr_t<IUnknown> representation;
  representation.Attach(raw);
  if (!representation) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_NOINTERFACE,
                            u"The drawing service has no diagram for this document");
  }
  KX_CHECK(ctx,
           representation->QueryInterface(IID_IKXDrawingDiagram, reinterpret_cast<void**>(&face)));
}

void WriteBatchSummary(MainContext& main, const OLECHAR* verb, int32_t count) {
  const std::u16string text =
      kx_format(u"%ls%ld Document%ls", verb, static_cast<long>(count), count == 1 ? u"" : u"s");
  XMLReply::AddStringAttribute(main, u"MessageType", _bstr_t(u"ALERT"));
  XMLReply::WriteElement(main, u"Message", _bstr_t(text.c_str()));
}

void CopyFieldData(MainContext& main, IKXQObject* page, IKXQObject* copy) {
  KXComException ctx = KXComException::Silent();
  ScopedCurrentPage scope(main.m_pApplication, page);
  IKXQTemplatePagePtr templatePage;
  KX_CHECK(ctx, GetTemplatePage(main.m_pApplication, page, &templatePage, 1));
  PageLoadContext context(&main);
  GetPageOverspillChain(context, page);
  if (templatePage) KX_CHECK(ctx, InitializeContinuousPage(context, templatePage, page));
  IKXQAttributePtr fields;
  IKXQAttributePtr copyFields;
  GetAttributeInterface(page, u"Fields", fields);
  GetAttributeInterface(copy, u"Fields", copyFields);
  if (!fields || !copyFields) return;
  const int32_t count = GetAttributeCount(fields);
  for (int32_t i = 1; i <= count; ++i) {
    _bstr_t text;
    KX_CHECK(ctx,
             main.Workers().WriteFields(context, page, templatePage, i, fields, text.GetAddress()));
    if (text.length() > 0) {
      SetAttributeValueAt(copyFields, i, text);
    } else {
      ClearAttributeValueAt(copyFields, i);
    }
  }
}

void SubmitDocument(MainContext& main, IKXQObject* datasheet) {
  KXComException ctx = KXComException::Silent();
  KX_CHECK(ctx, CheckIDWFDiscipline(main.m_pApplication, datasheet));
  KX_CHECK(ctx, datasheet->WorkflowAction(7, _variant_t()));
  IKXQAttributePtr current;
  IKXQAttributePtr submitted;
  const int32_t count = GetPagesAttributeByStatus(datasheet, 1, current);
  GetPagesAttributeByStatus(datasheet, 2, submitted);
  // The pages of the last issue stand in these lists too and must live on.
  KX_CHECK(ctx, EmptyPageLists(datasheet, {u"SubmittedPages", u"CheckedPages"}, u"IssuedPages"));
  // The copies made here stand in no issued list: every field copied asks
  // for the issued page of its page, answered from one index.
  const IssuedPagesScope issuedPages(datasheet);
  for (int32_t i = 1; i <= count; ++i) {
    IKXQObjectPtr page;
    GetAttributeAsObject(current, i, page);
    if (!page) continue;
    IKXQObjectPtr copy;
    KX_CHECK(ctx, page->Copy(&copy));
    if (!copy) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
    SetAttributeObjectAt(submitted, i, copy);
    IKXQAttributePtr active;
    GetAttributeInterface(copy, u"ActivePage", active);
    if (active) SetAttributeObjectAt(active, 1, page);
    AddStatusCopy(page, copy);
    CopyFieldData(main, page, copy);
  }
  SetDocumentStatus(datasheet, 2);
  KX_CHECK(ctx, NotifyTemplateLibrary(main.m_pApplication, datasheet));
}

void CheckDocument(MainContext& main, IKXQObject* datasheet) {
  KXComException ctx = KXComException::Silent();
  RequireStatus(ctx, datasheet, 2, u"Cannot check datasheet, the document is not submitted");
  KX_CHECK(ctx, CheckIDWFDiscipline(main.m_pApplication, datasheet));
  CheckDenyPrivilege(ctx, datasheet, u"CheckDocument", u"check");
  KX_CHECK(ctx, datasheet->WorkflowAction(8, _variant_t()));
  IKXQAttributePtr submitted;
  IKXQAttributePtr checked;
  const int32_t count = GetPagesAttributeByStatus(datasheet, 2, submitted);
  GetPagesAttributeByStatus(datasheet, 3, checked);
  for (int32_t i = count; i >= 1; --i) {
    IKXQObjectPtr page;
    GetAttributeAsObject(submitted, i, page);
    if (!page) continue;
    KX_CHECK(ctx, page->Seal());
    SetAttributeObjectAt(checked, i, page);
  }
  SetDocumentStatus(datasheet, 3);
  KX_CHECK(ctx, NotifyTemplateLibrary(main.m_pApplication, datasheet));
}

void WriteRevisionMarks(MainContext& main, IKXQObject* current, IKXQObject* checked,
                        IKXQTemplatePage* templatePage, const OLECHAR* revision) {
  KXComException ctx = KXComException::Silent();
  const bool permanent = PermanentRevisionMarks(main);
  _bstr_t continuous;
  KX_CHECK(ctx, templatePage->get_ContinuousFormat(continuous.GetAddress()));
  ContinuousPageHelper& helper = main.GetContinuousPageHelper();
  const bool isContinuous = continuous.length() > 0;
  if (isContinuous)
    KX_CHECK(ctx, helper.Initialize(main.m_pApplication, templatePage, current, false));
  if (!permanent) {
    ClearRevisionMarks(current);
    ClearRevisionMarks(checked);
  }
  IKXQObjectPtr issued;
  KX_CHECK(ctx, GetIssuedPage(checked, 3, &issued));
  IKXQAttributePtr issuedFields;
  if (issued) GetAttributeInterface(issued, u"Fields", issuedFields);
  IKXQAttributePtr currentFields;
  IKXQAttributePtr checkedFields;
  GetAttributeInterface(current, u"Fields", currentFields);
  GetAttributeInterface(checked, u"Fields", checkedFields);
  if (!currentFields) return;
  LONG templateFields = 0;
  KX_CHECK(ctx, templatePage->get_FieldCount(&templateFields));
  for (int32_t n = 1; n <= GetAttributeCount(currentFields); ++n) {
    int32_t slot = -1;
    if (isContinuous) {
      int32_t valueIndex = -1;
      KX_CHECK(ctx, helper.GetFieldValueIndex(n, &valueIndex));
      if (valueIndex < 1) continue;
      slot = valueIndex - 1;
    } else {
      if (n > templateFields) continue;
      IKXQTemplateFieldPtr field;
      KX_CHECK(ctx, templatePage->get_Field(n, &field));
      LONG index = -1;
      if (field) KX_CHECK(ctx, field->get_RevisionIndex(&index));
      if (index < 0) continue;
      slot = index;
    }
    const _bstr_t checkedText = FieldTextAt(checkedFields, n);
    const _bstr_t issuedText = FieldTextAt(issuedFields, n);
    if (!IsFieldRevised(main, checkedText, issued ? &issuedText : nullptr)) continue;
    SetRevisionMark(current, slot, revision);
    SetRevisionMark(checked, slot, revision);
  }
}

void RemoveMarkupAnnotations(MainContext& main, IKXQObject* page, int32_t status) {
  KXComException ctx = KXComException::Silent();
  IKXQAttributePtr annotations;
  GetAttributeInterface(page, u"Annotations", annotations);
  if (!annotations) return;
  for (int32_t i = GetAttributeCount(annotations); i >= 1; --i) {
    const _bstr_t text = FieldTextAt(annotations, i);
    if (text.length() == 0) continue;
    KXFieldData record;
    KX_CHECK(ctx, record.ParseFieldData(kFieldAnnotation, text, -1));
    if (!record.markup) continue;
    RemoveAttributeValue(annotations, i);
    if (status == 1) KX_CHECK(ctx, main.LaunchAnnotationFieldEvent(page, record.fieldId, 1));
  }
}

void IssueDocument(MainContext& main, IKXQObject* datasheet, const OLECHAR* revision,
                   const OLECHAR* minorRevision, const OLECHAR* issueReason) {
  KXComException ctx = KXComException::Silent();
  RequireStatus(ctx, datasheet, 3, u"Cannot issue datasheet, the document is not checked");
  KX_CHECK(ctx, CheckIDWFDiscipline(main.m_pApplication, datasheet));
  CheckDenyPrivilege(ctx, datasheet, u"IssueDocument", u"issue");

  // Revision, minor revision and reason, lower bound 1; absent ones null.
  _variant_t arguments;
  arguments.vt = VT_ARRAY | VT_VARIANT;
  arguments.parray = SafeArrayCreateVector(VT_VARIANT, 1, 3);
  if (arguments.parray == nullptr) {
    arguments.vt = VT_EMPTY;
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_OUTOFMEMORY, nullptr);
  }
  const OLECHAR* values[] = {revision, minorRevision, issueReason};
  for (LONG i = 1; i <= 3; ++i) {
    _variant_t value;
    value.vt = VT_BSTR;
    value.bstrVal = values[i - 1] != nullptr ? SysAllocString(values[i - 1]) : nullptr;
    KX_CHECK(ctx, SafeArrayPutElement(arguments.parray, &i, &value));
  }
  const std::u16string level = std::u16string(TextOrEmpty(revision)) + TextOrEmpty(minorRevision);
  SetAttributeStringByName(datasheet, u"LastRevisionLevel", level.c_str(), -1);
  SetAttributeStringByName(datasheet, u"LastMajorRevisionLevel", TextOrEmpty(revision), -1);
  SetAttributeStringByName(datasheet, u"LastMinorRevisionLevel", TextOrEmpty(minorRevision), -1);
  SetAttributeStringByName(datasheet, u"LastIssueReason", TextOrEmpty(issueReason), -1);
  KX_CHECK(ctx, datasheet->WorkflowAction(9, arguments));
  _bstr_t marks;
  GetAttributeString(datasheet, marks, u"LastRevisionLevel", -1);

  IKXQAttributePtr current;
  IKXQAttributePtr checked;
  IKXQAttributePtr issued;
  const int32_t currentCount = GetPagesAttributeByStatus(datasheet, 1, current);
  const int32_t checkedCount = GetPagesAttributeByStatus(datasheet, 3, checked);
  GetPagesAttributeByStatus(datasheet, 4, issued);
  {
    // Marks and annotations change here, not the issued list nor the pages'
    // active pages: the last issue's copy of each page comes from one index.
    const IssuedPagesScope issuedPages(datasheet);
    for (int32_t i = 1; i <= checkedCount; ++i) {
      IKXQObjectPtr page;
      GetAttributeAsObject(checked, i, page);
      if (!page) continue;
      IKXQTemplatePagePtr templatePage;
      KX_CHECK(ctx, GetTemplatePage(main.m_pApplication, page, &templatePage, 3));
      IKXQObjectPtr active;
      KX_CHECK(ctx, GetActivePage(page, &active));
      if (!active) continue;
      // Without its template page a page has no revision slots to mark.
      if (templatePage) WriteRevisionMarks(main, active, page, templatePage, TextOrEmpty(marks));
      RemoveMarkupAnnotations(main, active, 1);
    }
  }
  // The checked pages become the issued ones and must outlive the old set.
  KX_CHECK(ctx, EmptyPageLists(datasheet, {u"IssuedPages"}, u"CheckedPages"));
  for (int32_t i = checkedCount; i >= 1; --i) {
    IKXQObjectPtr page;
    GetAttributeAsObject(checked, i, page);
    if (!page) continue;
    KX_CHECK(ctx, page->Seal());
    RemoveMarkupAnnotations(main, page, 3);
    SetAttributeObjectAt(issued, i, page);
    IKXQObjectPtr stored;
    GetAttributeAsObject(issued, i, stored);
    IKXQAttributePtr fields;
    if (stored) GetAttributeInterface(stored, u"Fields", fields);
    const int32_t fieldCount = fields ? GetAttributeCount(fields) : 0;
    for (int32_t j = 1; j <= fieldCount; ++j) {
      const _bstr_t text = FieldTextAt(fields, j);
      if (text.length() == 0) continue;
      KXFieldData record;
      KX_CHECK(ctx, record.SelectField(text, -1));
      // The changed-since-issue bit and anything above the status bits go.
      record.state &= 0xFF;
      _bstr_t written;
      KX_CHECK(ctx, record.WriteFieldData(written.GetAddress(), kFieldDataFull, -1));
      SetAttributeValueAt(fields, j, written);
    }
  }
  SetDocumentStatus(datasheet, 1);
  for (int32_t i = currentCount; i >= 1; --i) {
    _variant_t value;
    KX_CHECK(ctx, current->GetValue(_variant_t(static_cast<int>(i), VT_I4), _variant_t(),
                                    value.GetAddress()));
    if (!HoldsObject(value)) continue;
    IKXQObjectPtr page;
    GetAttributeAsObject(current, i, page);
    KX_CHECK(ctx, main.LaunchPageEvent(page, 1));
  }
  KX_CHECK(ctx, NotifyTemplateLibrary(main.m_pApplication, datasheet));
  RunPostIssueMethod(main, datasheet);
}

}  // namespace KXDBDatasheetSvcs

// ---- The shared loop ---------------------------------------------------

HRESULT ReviseDocumentsParser::BeginElement(uint32_t id) {
  if (id != 1) return DocumentListParser::BeginElement(id);
  return ServeRequest(nullptr, kFrame, [&](KXComException&) {
    BeginReply();
    return S_OK;
  });
}

HRESULT ReviseDocumentsParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case Confirmed: return Store(m_confirmed, value);
    case Revision: return Store(m_revision, value);
    case MinorRevision: return Store(m_minorRevision, value);
    case IssueReason: return Store(m_issueReason, value);
    default: return DocumentListParser::SetValue(id, value);
  }
}

HRESULT ReviseDocumentsParser::WorkChild(uint32_t element) {
  if (!IsDocument(element)) return E_INVALIDARG;
  return ServeRequest(nullptr, kFrame, [&](KXComException&) {
    if (WorksEachDocumentOnce()) {
      const int64_t key =
          (static_cast<int64_t>(element) << 32) | static_cast<uint32_t>(m_documentId);
      if (!m_worked.insert(key).second) {
        ++m_count;  // the reply counts every entry, as before
        return S_OK;
      }
    }
    IKXQObjectPtr document;
    GetNamedDocument(m_pMain->m_pDatabase, m_documentId, element == Diagram, document);
    ScopedCurrentDatasheet scope(m_pMain->m_pApplication, document);
    ReviseDocument(document, element);
    return S_OK;
  });
}

HRESULT ReviseDocumentsParser::Work() {
  return ServeRequest(nullptr, kFrame, [&](KXComException&) {
    EndReply();
    return S_OK;
  });
}

// ---- SubmitDocuments ---------------------------------------------------

const GrammarRecord* SubmitDocumentsSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Table(
      Grammar::Envelope(TargetId, Status),
      Grammar::Element(u"SubmitDocuments", 1,
                       {Grammar::Boolean(u"Confirmed", Confirmed), Grammar::Child(Datasheet),
                        Grammar::Child(Diagram)}),
      DocumentElements<SubmitDocumentsSchema>({Grammar::Integer(u"DocumentId", DocumentId)}));
  return kGrammar.data();
}

void SubmitDocumentsMessageParser::BeginReply() { XMLReply::BeginMessage(Reply(), u"App", -1); }

void SubmitDocumentsMessageParser::ReviseDocument(IKXQObject* document, uint32_t kind) {
  KXComException ctx = KXComException::Silent();
  MainContext& main = *m_pMain;
  if (!m_confirmed) {
    // Only a document already in the workflow needs the user's word.
    const int32_t status = kind == Datasheet ? DocumentStatus(document) : DiagramStatus(document);
    if (status == 1) return;
    _bstr_t name;
    if (kind == Datasheet) {
      KX_CHECK(ctx, GetDatasheetName(main.m_pApplication, document, name.GetAddress(), true, 1));
    } else {
      KX_CHECK(ctx, GetDiagramName(main.m_pApplication, document, name.GetAddress(), true, 1));
    }
    const std::u16string text =
        std::u16string(TextOrEmpty(name)) + u" is currently submitted - resubmit?";
    XMLReply::WriteMessage(Reply(), u"QUESTION", m_documentId, _bstr_t(text.c_str()));
    return;
  }
  if (kind == Datasheet) {
    SubmitDocument(main, document);
  } else {
    _com_ptr_t<IKXDrawingDiagram> diagram;
    GetDrawingDiagram(document, diagram);
    KX_CHECK(ctx, diagram->Submit());
  }
  ++m_count;
}

void SubmitDocumentsMessageParser::EndReply() {
  if (m_confirmed) WriteBatchSummary(*m_pMain, u"Submitted ", m_count);
  XMLReply::EndMessage(Reply());
}

// ---- CheckDocuments ----------------------------------------------------

const GrammarRecord* CheckDocumentsSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Table(
      Grammar::Envelope(TargetId, Status),
      Grammar::Element(u"CheckDocuments", 1, {Grammar::Child(Datasheet), Grammar::Child(Diagram)}),
      DocumentElements<CheckDocumentsSchema>({Grammar::Integer(u"DocumentId", DocumentId)}));
  return kGrammar.data();
}

void CheckDocumentsMessageParser::ReviseDocument(IKXQObject* document, uint32_t kind) {
  KXComException ctx = KXComException::Silent();
  m_pMain->SetStatusCopyFlag();
  if (kind == Datasheet) {
    CheckDocument(*m_pMain, document);
  } else {
    _com_ptr_t<IKXDrawingDiagram> diagram;
    GetDrawingDiagram(document, diagram);
    KX_CHECK(ctx, diagram->Check());
  }
  ++m_count;
}

void CheckDocumentsMessageParser::EndReply() {
  XMLReply::BeginMessage(Reply(), u"App", -1);
  WriteBatchSummary(*m_pMain, u"Checked ", m_count);
  XMLReply::EndMessage(Reply());
}

// ---- IssueDocuments ----------------------------------------------------

const GrammarRecord* IssueDocumentsSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Table(
      Grammar::Envelope(TargetId, Status),
      Grammar::Element(
          u"IssueDocuments", 1,
          {Grammar::String(u"Revision", Revision), Grammar::String(u"MinorRevision", MinorRevision),
           Grammar::String(u"IssueReason", IssueReason), Grammar::Child(Datasheet),
           Grammar::Child(Diagram)}),
      DocumentElements<IssueDocumentsSchema>({Grammar::Integer(u"DocumentId", DocumentId)}));
  return kGrammar.data();
}

void IssueDocumentsMessageParser::BeginReply() { XMLReply::BeginMessage(Reply(), u"App", -1); }

void IssueDocumentsMessageParser::ReviseDocument(IKXQObject* document, uint32_t kind) {
  KXComException ctx = KXComException::Silent();
  m_pMain->SetStatusCopyFlag();
  if (kind == Datasheet) {
    IssueDocument(*m_pMain, document, m_revision.c_str(), m_minorRevision.c_str(),
                  m_issueReason.c_str());
  } else {
    _com_ptr_t<IKXDrawingDiagram> diagram;
    GetDrawingDiagram(document, diagram);
    _bstr_t revision(m_revision.c_str());
    _bstr_t reason(m_issueReason.c_str());
    KX_CHECK(ctx, diagram->Issue(revision, reason));
  }
  ++m_count;
}

void IssueDocumentsMessageParser::EndReply() {
  WriteBatchSummary(*m_pMain, u"Issued ", m_count);
  XMLReply::EndMessage(Reply());
}

// ---- Handlers ------------------------------------------------------------

HRESULT KXDBDatasheetSvcs::SubmitDocuments(MainContext& main, const OLECHAR* request) {
  return ServeMessage<SubmitDocumentsMessageParser>(main, u"KXDBDatasheetSvcs::SubmitDocuments",
                                                    request);
}

HRESULT KXDBDatasheetSvcs::CheckDocuments(MainContext& main, const OLECHAR* request) {
  // Refused before anything is read without the privilege.
  return ServeMessage<CheckDocumentsMessageParser>(
      main, u"KXDBDatasheetSvcs::CheckDocuments", request,
      {u"CheckDocument", u"You do not have CheckDocument privilege", KX_HERE(kFile),
       &HasPrivilege});
}

HRESULT KXDBDatasheetSvcs::IssueDocuments(MainContext& main, const OLECHAR* request) {
  return ServeMessage<IssueDocumentsMessageParser>(
      main, u"KXDBDatasheetSvcs::IssueDocuments", request,
      {u"IssueDocument", u"You do not have IssueDocument privilege", KX_HERE(kFile),
       &HasPrivilege});
}
