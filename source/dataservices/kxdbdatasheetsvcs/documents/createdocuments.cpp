#include "documents/createdocuments.h"

#include "com/wstr.h"
#include "documents/processdocuments.h"
#include "host/drawing.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "loader/kxdbdatasheetsummary.h"
#include "loader/triggers.h"
#include "model/kxdbdatasheetpages.h"
#include "model/kxdbdatasheetutils.h"
#include "model/maincontext.h"
#include "model/workertable.h"
#include "xmlreply.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/createdocuments";
constexpr FrameOptions kFrame{.file = kFile};
// The master BEDD datasheet exists once; its template never makes another.
constexpr OLECHAR kMasterBeddTemplate[] = u"RQ Master BEDD";

// A datasheet is made for an object of one of its template's classes (a
// template that names none takes any object): a page or another document
// shown as a plant item would be a datasheet of nothing.
void RequireTemplateObject(KXComException& ctx, IKXQTemplate* tmpl, IKXQObject* object, int32_t id,
                           const _bstr_t& templateId) {
  SAFEARRAY* raw = nullptr;
  KX_CHECK(ctx, tmpl->get_Classes(&raw));
  VariantUtil::SafeArrayVector classes(raw, true);
  if (classes.Count() == 0) return;
  for (int32_t i = 0; i < classes.Count(); ++i) {
    IKXQClass* cls = nullptr;
    KX_CHECK(ctx, classes.GetClassAt(i, &cls));
    const IKXQClassPtr held(cls, false);
    VARIANT_BOOL is = VARIANT_FALSE;
    KX_CHECK(ctx, object->IsOfClass(_variant_t(static_cast<IDispatch*>(cls)), &is));
    if (is != VARIANT_FALSE) return;
  }
  const OLECHAR* name = templateId;
  const std::u16string expected =
      u"an object of a class of template " + std::u16string(name != nullptr ? name : u"");
  KXDBDatasheetSvcs::RefuseObjectClass(object, id, expected.c_str());
}

_bstr_t TemplateText(KXComException& ctx, IKXQTemplate* tmpl, HRESULT (IKXQTemplate::*get)(BSTR*)) {
  BSTR text = nullptr;
  KX_CHECK(ctx, (tmpl->*get)(&text));
  return _bstr_t(text, false);
}

bool Equals(const _bstr_t& text, const OLECHAR* wanted) {
  return text.length() != 0 && _wcsicmp(text, wanted) == 0;
}

int32_t ActiveProjectId(KXComException& ctx, IKXQApplication* application) {
  IKXQProjectPtr project;
  KX_CHECK(ctx, application->get_ActiveProject(&project));
  LONG id = -1;
  if (project) KX_CHECK(ctx, project->get_Id(&id));
  return id;
}

// The project-wide dimension set applied to a new document; a continuous
// summary sheet then binds its unit triggers again.
void ApplyProjectUnits(KXComException& ctx, MainContext& main, IKXQObject* document,
                       bool continuousSummary) {
  IKXQObjectPtr settings;
  const HRESULT hr = main.m_pDatabase->get_Object(1, &settings);
  if (FAILED(hr) || !settings) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  _bstr_t set;
  KXDBDatasheetSvcs::GetAttributeString(settings, set, u"CurrentDimensionSet", -1);
  if (set.length() == 0 || kx_wcscmp(set, u"SI") == 0 || kx_wcscmp(set, u"DefaultUnit") == 0)
    return;
  KX_CHECK(ctx, KXDBDatasheetSvcs::ChangeDSDimensionSet(main, document, set));
  if (continuousSummary) KX_CHECK(ctx, KXDBDatasheetSvcs::InitializePageTriggerUOM(main, document));
}

}  // namespace

const GrammarRecord* CreateDocumentsSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Table(
      Grammar::Envelope(TargetId, Status),
      Grammar::Element(u"CreateDocuments", 1,
                       {Grammar::Integer(u"CaseId", CaseId),
                        Grammar::Boolean(u"CreateAsBuiltSummary", CreateAsBuiltSummary),
                        Grammar::Child(Datasheet), Grammar::Child(Diagram)}),
      Grammar::Element(
          u"Datasheet", Datasheet,
          {Grammar::Integer(u"ObjectId", ObjectId), Grammar::String(u"TemplateId", TemplateId)}),
      Grammar::Element(
          u"Diagram", Diagram,
          {Grammar::String(u"Name", Name), Grammar::String(u"DiagramClass", DiagramClass),
           Grammar::Integer(u"SharedDocumentId", SharedDocumentId)}));
  return kGrammar.data();
}

HRESULT CreateDocumentsMessageParser::BeginElement(uint32_t id) {
  return ServeRequest(nullptr, kFrame, [&](KXComException&) {
    if (id == 1) {
      XMLReply::BeginMessage(Reply(), u"App", -1);
      XMLReply::StartElement(Reply(), u"OpenDocuments");
    } else if (id == Datasheet || id == Diagram) {
      m_objectId = -1;
      m_sharedDocumentId = -1;
      m_templateId.Reset();
      m_name.Reset();
      m_diagramClass.Reset();
    }
    return S_OK;
  });
}

HRESULT CreateDocumentsMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case CaseId: return Store(m_caseId, value);
    case CreateAsBuiltSummary: return Store(m_createAsBuiltSummary, value);
    case ObjectId: return Store(m_objectId, value);
    case TemplateId: return Store(m_templateId, value);
    case Name: return Store(m_name, value);
    case DiagramClass: return Store(m_diagramClass, value);
    case SharedDocumentId: return Store(m_sharedDocumentId, value);
    default: return E_INVALIDARG;
  }
}

HRESULT CreateDocumentsMessageParser::WorkChild(uint32_t element) {
  return ServeRequest(nullptr, kFrame, [&](KXComException& ctx) {
    IKXQObjectPtr document;
    // Every document of the request takes its case: one that names no case
    // is refused before anything is made.
    KXDBDatasheetSvcs::RequireCaseId(*m_pMain, m_caseId);
    if (element == Datasheet) {
      CreateDatasheet(document);
      WriteDatasheetReply(document);
    } else if (element == Diagram) {
      CreateDiagram(document);
      WriteDiagramReply(document);
    } else {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG, nullptr);
    }
    return S_OK;
  });
}

HRESULT CreateDocumentsMessageParser::Work() {
  return ServeRequest(nullptr, kFrame, [&](KXComException&) {
    XMLReply::EndElement(Reply(), u"OpenDocuments");
    XMLReply::EndMessage(Reply());
    return S_OK;
  });
}

void CreateDocumentsMessageParser::CreateDatasheet(IKXQObjectPtr& document) {
  KXComException ctx = KXComException::Silent();
  MainContext& main = *m_pMain;
  document = nullptr;
  IKXQTemplateLibraryPtr library;
  KX_CHECK(ctx, main.m_pApplication->get_TemplateLibrary(&library));
  CheckPointerArgument(ctx, library.GetInterfacePtr());
  const _bstr_t templateId(m_templateId.c_str());
  IKXQTemplatePtr tmpl;
  const HRESULT found = library->GetTemplate(templateId, _variant_t(), &tmpl);
  if (FAILED(found) || !tmpl) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), FAILED(found) ? found : E_FAIL,
                            u"The template %ls cannot be found",
                            static_cast<const OLECHAR*>(templateId));
  }
  IKXQObjectPtr object;
  if (m_objectId > 0) GetStoreObject(main.m_pDatabase, object, m_objectId);
  const _bstr_t kind = TemplateText(ctx, tmpl, &IKXQTemplate::get_Kind);
  const _bstr_t name = TemplateText(ctx, tmpl, &IKXQTemplate::get_Name);
  if (name.length() != 0 && kx_wcscmp(name, kMasterBeddTemplate) == 0) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                            u"An instance of BEDD Datasheet already exists.");
  }

  bool continuousSummary = false;
  if (Equals(kind, u"Datasheet")) {
    if (object) RequireTemplateObject(ctx, tmpl, object, m_objectId, templateId);
    KX_CHECK(ctx, tmpl->CreateDatasheet(object, m_caseId, &document));
    if (!document) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
    KX_CHECK(ctx, KXDBDatasheetServices::InitializeDatasheetTrigger(main, document));
    KXDBDatasheetSvcs::ForEachCurrentPage(document, [&](IKXQObject* page) {
      KX_CHECK(ctx, KXDBDatasheetServices::InitializePageTrigger(main, page));
    });
    KX_CHECK(ctx, main.Workers().CreateOverspillPages(main, document, 2));
  } else if (Equals(kind, u"Summary")) {
    KX_CHECK(ctx, tmpl->CreateSummarySheet(m_caseId, &document));
    if (!document) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
    KXDBDatasheetSvcs::LoadFilterSortFile(main);
    const _bstr_t filterId = KXDBDatasheetSvcs::GetTemplateFilterId(main, templateId);
    const bool asProjectOne = ActiveProjectId(ctx, main.m_pApplication) == 1;
    IKXQTemplatePagePtr firstPage;
    KX_CHECK(ctx, tmpl->get_Page(1, &firstPage));
    if (firstPage) {
      BSTR format = nullptr;
      KX_CHECK(ctx, firstPage->get_ContinuousFormat(&format));
      continuousSummary = _bstr_t(format, false).length() != 0;
    }
    if (filterId.length() != 0) {
      IKXQObjectPtr holder = document;
      if (continuousSummary) {
        holder = nullptr;
        KXDBDatasheetSvcs::ForEachCurrentPage(document, [&](IKXQObject* page) {
          if (!holder) holder = page;
        });
      }
      if (holder) SetAttributeStringByName(holder, u"ObjectFilter", filterId, -1);
    }
    const HRESULT members =
        KXDBDatasheetSvcs::AddMembersToSummarySheet(main, document, tmpl, asProjectOne);
    // A failed membership still gets its sort and units; then it fails.
    KXComException membersFailure = KXComException::Silent();
    if (FAILED(members)) {
      membersFailure.hr = members;
      membersFailure.TakeThreadErrorInfo();
    }
    if (SUCCEEDED(members) && m_createAsBuiltSummary) CreateAsBuiltSummarySheet(tmpl);
    KX_CHECK(ctx, KXDBDatasheetSvcs::ApplyTemplateFilterSort(main, document));
    ApplyProjectUnits(ctx, main, document, continuousSummary);
    if (FAILED(members)) {
      (void)membersFailure.Return();
      KX_CHECK(ctx, members);
    }
    return;
  } else {
    // Neither kind makes a document: say so rather than answer nothing.
    ThrowKXComExceptionHrAt(
        ctx, KX_HERE(kFile), E_FAIL, u"The template %ls of kind %ls makes no datasheet",
        static_cast<const OLECHAR*>(templateId), static_cast<const OLECHAR*>(kind));
  }
  ApplyProjectUnits(ctx, main, document, continuousSummary);
}

bool CreateDocumentsMessageParser::AsBuiltSummaryExists(IKXQTemplate* tmpl) {
  KXComException ctx = KXComException::Silent();
  MainContext& main = *m_pMain;
  IKXQClassPtr cls;
  KX_CHECK(ctx, main.m_pSchema->get_Class(_bstr_t(u"Datasheet"), &cls));
  ComPtrArray<IKXQObject> datasheets;
  KXDBDatasheetSvcs::CollectChildObjects(datasheets, cls);
  for (int32_t i = 0; i < datasheets.GetCount(); ++i) {
    IKXQTemplatePtr other;
    KX_CHECK(ctx,
             KXDBDatasheetSvcs::GetTemplate(main.m_pApplication, datasheets.GetAt(i), &other, 1));
    if (other.GetInterfacePtr() != tmpl) continue;
    IKXQAttributePtr project;
    GetAttributeInterface(datasheets.GetAt(i), u"ProjectId", project);
    if (project && GetAttributeAsInteger(project) == 1) return true;
  }
  return false;
}

void CreateDocumentsMessageParser::CreateAsBuiltSummarySheet(IKXQTemplate* tmpl) {
  KXComException ctx = KXComException::Silent();
  MainContext& main = *m_pMain;
  // The new sheet already serves project 1.
  if (ActiveProjectId(ctx, main.m_pApplication) == 1) return;
  if (AsBuiltSummaryExists(tmpl)) return;
  IKXQObjectPtr twin;
  KX_CHECK(ctx, tmpl->CreateSummarySheet(m_caseId, &twin));
  if (!twin) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  SetAttributeLong(twin, u"ProjectId", 1, -1);
  KX_CHECK(ctx, KXDBDatasheetSvcs::AddMembersToSummarySheet(main, twin, tmpl, true));
}

void CreateDocumentsMessageParser::WriteDatasheetReply(IKXQObject* document) {
  if (document != nullptr) KXDBDatasheetSvcs::LoadOpenedDatasheet(m_loader, document, 1);
}

void CreateDocumentsMessageParser::CreateDiagram(IKXQObjectPtr& diagram) {
  KXComException ctx = KXComException::Silent();
  MainContext& main = *m_pMain;
  diagram = nullptr;
  _com_ptr_t<IDispatch> service;
  KX_CHECK(ctx, main.m_pApplication->GetService(_bstr_t(u"DrawingServices"), &service));
  if (!service) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  _com_ptr_t<IKXDrawingServices> drawing;
  KX_CHECK(ctx,
           service->QueryInterface(IID_IKXDrawingServices, reinterpret_cast<void**>(&drawing)));

  const _bstr_t name(m_name.c_str());
  _com_ptr_t<IDispatch> shared;
  if (m_sharedDocumentId > 0) {
    IKXQObjectPtr object;
    GetStoreObject(main.m_pDatabase, object, m_sharedDocumentId);
    IKXQObjectPtr owner;
    GetOwnerObject(object, owner);
    if (owner) {
      KX_CHECK(ctx, owner->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&shared)));
    } else {
      KX_CHECK(ctx, drawing->FindSharedDocument(
                        name, _variant_t(static_cast<LONG>(m_sharedDocumentId)), &shared));
    }
  } else if (m_sharedDocumentId == 0) {
    KX_CHECK(ctx, drawing->FindSharedDocument(name, _variant_t(), &shared));
  }

  std::u16string text = m_name.c_str() ? m_name.c_str() : u"";
  text += u"\n";
  if (m_diagramClass.c_str() != nullptr) text += m_diagramClass.c_str();
  _variant_t sharedDocument;
  sharedDocument.vt = VT_DISPATCH;
  sharedDocument.pdispVal = shared.Detach();
  _variant_t result;
  KX_CHECK(ctx, drawing->CreateDiagram(
                    _bstr_t(text.c_str()), _variant_t(static_cast<LONG>(m_caseId)), _variant_t(),
                    _variant_t(), _variant_t(), sharedDocument, result.GetAddress()));
  if ((result.vt == VT_DISPATCH || result.vt == VT_UNKNOWN) && result.punkVal != nullptr) {
    KX_CHECK(ctx, result.punkVal->QueryInterface(kx_uuidof<IKXQObject>(),
                                                 reinterpret_cast<void**>(&diagram)));
  }
}

void CreateDocumentsMessageParser::WriteDiagramReply(IKXQObject* diagram) {
  XMLReply::AddLongAttribute(Reply(), u"DocumentId", diagram != nullptr ? ObjectIdOf(diagram) : 0);
  XMLReply::AddLongAttribute(Reply(), u"Status", 1);
  XMLReply::WriteElement(Reply(), u"Diagram", nullptr);
}

HRESULT KXDBDatasheetSvcs::CreateDocuments(MainContext& main, const OLECHAR* request) {
  return ServeMessage<CreateDocumentsMessageParser>(main, u"KXDBDatasheetSvcs::CreateDocuments",
                                                    request);
}
