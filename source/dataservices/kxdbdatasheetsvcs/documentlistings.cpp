#include "documentlistings.h"

#include <string>
#include <vector>

#include "com/wstr.h"
#include "host/drawing.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxdbdatasheetutils.h"
#include "kxstoreptrs.h"
#include "kxstoreutils.h"
#include "main.h"
#include "variantutil.h"
#include "xmlreply.h"

using namespace KXDBDatasheetSvcs;

namespace {

constexpr OLECHAR kByObject[] = u"source/dataservices/kxdbdatasheetsvcs/listdatasheetsbyobject";
constexpr OLECHAR kByTemplate[] = u"source/dataservices/kxdbdatasheetsvcs/listdatasheetsbytemplate";
constexpr OLECHAR kByStatus[] = u"source/dataservices/kxdbdatasheetsvcs/listdatasheetsbystatus";
constexpr OLECHAR kDiagrams[] = u"source/dataservices/kxdbdatasheetsvcs/listdiagrams";
constexpr OLECHAR kDiagramsByObject[] = u"source/dataservices/kxdbdatasheetsvcs/listdiagramsbyobject";

const OLECHAR* const kPageSets[] = {u"CurrentPages", u"SubmittedPages", u"CheckedPages",
                                    u"IssuedPages"};

std::u16string Text(const _bstr_t& text) { return std::u16string(text.view()); }

// "OBJECT: TEMPLATE", or the object's name alone for an unnamed template.
_bstr_t EntryTitle(const _bstr_t& objectName, const _bstr_t& templateName) {
  if (templateName.length() == 0) return objectName;
  return _bstr_t(Text(objectName) + u": " + Text(templateName));
}

IKXQTemplateLibraryPtr TemplateLibrary(Main& main, KXComException& ctx) {
  IKXQTemplateLibraryPtr library;
  KX_CHECK(ctx, main.m_pApplication->get_TemplateLibrary(&library));
  return library;
}

// A template's category, "General" when it has none.
_bstr_t CategoryOf(KXComException& ctx, IKXQTemplate* tmpl) {
  _bstr_t category;
  KX_CHECK(ctx, tmpl->get_Category(category.GetAddress()));
  return category.length() > 0 ? category : _bstr_t(u"General");
}

// Calls `visit` for every instance of the schema class `className` in the
// store's order; a class the schema lacks has none.
template <class Visit>
void ForEachInstance(Main& main, KXComException& ctx, const OLECHAR* location, const OLECHAR* className,
                     Visit&& visit) {
  if (main.m_pSchema == nullptr) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(location), E_FAIL, u"Do not have access to object store");
  }
  IKXQClassPtr cls;
  KX_CHECK(ctx, main.m_pSchema->get_Class(_bstr_t(className), &cls));
  if (!cls) return;
  _com_ptr_t<IKXQObjectCollection> instances;
  KX_CHECK(ctx, cls->get_Instances(&instances));
  if (!instances) return;
  LONG count = 0;
  KX_CHECK(ctx, instances->get_Count(&count));
  for (LONG i = 1; i <= count; ++i) {
    IKXQObjectPtr item;
    KX_CHECK(ctx, instances->get_Item(i, &item));
    if (!item) ThrowKXComExceptionHrAt(ctx, KX_HERE(location), E_POINTER, nullptr);
    visit(item.GetInterfacePtr());
  }
}

bool HasValueAtFirst(KXComException& ctx, IKXQObject* object, const OLECHAR* name) {
  if (!ClassHasAttribute(object, name)) return false;
  IKXQAttributePtr attribute;
  GetAttributeInterfaceAt(object, name, attribute, -1);
  if (!attribute) return false;
  VARIANT_BOOL has = VARIANT_FALSE;
  KX_CHECK(ctx, attribute->HasValue(_variant_t(1), &has));
  return has != VARIANT_FALSE;
}

// The worker frame: failures become the worker's HRESULT with the
// "<KXError" chain, raised at the listing's source file.
template <class Work>
HRESULT RunListing(const OLECHAR* file, Work&& work) {
  KXComException ctx = KXComException::Silent();
  try {
    work();
    return S_OK;
  }
  KX_CATCH(ctx, KX_HERE(file))
  return ctx.Return();
}

}  // namespace

namespace KXDBDatasheetSvcs {

void ListDatasheetsForObject(Main& main, KXDatasheetInfoList& list, int32_t objectId) {
  if (objectId < 1) return;
  KXComException ctx = KXComException::Silent();
  IKXQObjectPtr object;
  GetStoreObject(main.m_pDatabase, object, objectId);
  IKXQClassPtr cls;
  GetObjectClass(object, cls);
  _bstr_t objectName;
  GetObjectName(object, objectName, false);

  if (IKXQTemplateLibraryPtr library = TemplateLibrary(main, ctx)) {
    LONG count = 0;
    KX_CHECK(ctx, library->get_Count(&count));
    for (LONG i = 1; i <= count; ++i) {
      IKXQTemplatePtr tmpl;
      KX_CHECK(ctx, library->get_Item(i, &tmpl));
      if (!tmpl) continue;
      _bstr_t kind;
      KX_CHECK(ctx, tmpl->get_Kind(kind.GetAddress()));
      const bool datasheet = kx_wcsicmp(kind.view(), u"Datasheet") == 0;
      const bool summary = kx_wcsicmp(kind.view(), u"Summary") == 0;
      VARIANT_BOOL available = VARIANT_FALSE;
      KX_CHECK(ctx, tmpl->get_Available(&available));
      if ((!datasheet && !summary) || available == VARIANT_FALSE) continue;
      SAFEARRAY* rawClasses = nullptr;
      KX_CHECK(ctx, GetTemplateClasses(tmpl, &rawClasses));
      VariantUtil::SafeArrayVector classes(rawClasses, true);
      if (!IsClassInArray(cls, rawClasses)) continue;
      _bstr_t id;
      _bstr_t name;
      KX_CHECK(ctx, tmpl->get_Id(id.GetAddress()));
      KX_CHECK(ctx, tmpl->get_Name(name.GetAddress()));
      const _bstr_t category = CategoryOf(ctx, tmpl);
      if (datasheet) {
        list.AddTemplateEntry(name, EntryTitle(objectName, name), object, id, false, category, true);
      } else {
        list.AddTemplateEntry(name, name, nullptr, id, true, category, false);
      }
    }
  }

  // The datasheets whose pages show the object.
  if (!ClassHasAttribute(object, u"DataViews")) return;
  IKXQAttributePtr views;
  const int32_t count = GetAttributeInterfaceAndCountByName(object, u"DataViews", views);
  IKXQClassPtr pageClass;
  KX_CHECK(ctx, main.m_pSchema->get_Class(_bstr_t(u"Page"), &pageClass));
  if (!pageClass) return;
  for (int32_t i = 1; i <= count; ++i) {
    IKXQObjectPtr view;
    GetAttributeAsObject(views, i, view);
    if (!view) continue;
    IKXQClassPtr viewClass;
    GetObjectClass(view, viewClass);
    VARIANT_BOOL isPage = VARIANT_FALSE;
    if (viewClass) {
      KX_CHECK(ctx, viewClass->IsKindOf(_variant_t(static_cast<IDispatch*>(pageClass.GetInterfacePtr())),
                                        &isPage));
    }
    if (isPage == VARIANT_FALSE) continue;
    IKXQObjectPtr datasheet;
    GetOwnerObject(view, datasheet);
    if (datasheet) list.AddDatasheet(main.m_pApplication, datasheet);
  }
}

void ListDatasheetsForTemplate(Main& main, KXDatasheetInfoList& list, const OLECHAR* templateId) {
  KXComException ctx = KXComException::Silent();
  IKXQTemplateLibraryPtr library = TemplateLibrary(main, ctx);
  if (!library) return;
  IKXQTemplatePtr tmpl;
  if (FAILED(library->GetTemplate(_bstr_t(templateId), _variant_t(), &tmpl)) || !tmpl) {
    // An id the library does not know lists nothing.
    ClearThreadErrorInfo();
    return;
  }
  _bstr_t name;
  _bstr_t kind;
  KX_CHECK(ctx, tmpl->get_Name(name.GetAddress()));
  KX_CHECK(ctx, tmpl->get_Kind(kind.GetAddress()));
  const bool summary = kx_wcsicmp(kind.view(), u"Summary") == 0;
  const _bstr_t category = CategoryOf(ctx, tmpl);
  list.AddTemplateEntry(name, name, nullptr, templateId, summary, category, true);

  if (!summary) {
    SAFEARRAY* rawClasses = nullptr;
    KX_CHECK(ctx, GetTemplateClasses(tmpl, &rawClasses));
    VariantUtil::SafeArrayVector classes(rawClasses, true);
    SortedIdArray seen;
    for (int32_t c = 0; c < classes.Count(); ++c) {
      IKXQClass* element = nullptr;
      KX_CHECK(ctx, classes.GetInterfaceAt(c, &element));
      IKXQClassPtr cls;
      cls.Attach(element);
      if (!cls) continue;
      _com_ptr_t<IKXQObjectCollection> instances;
      KX_CHECK(ctx, cls->get_Instances(&instances));
      LONG count = 0;
      if (instances) KX_CHECK(ctx, instances->get_Count(&count));
      for (LONG i = 1; i <= count; ++i) {
        IKXQObjectPtr object;
        KX_CHECK(ctx, instances->get_Item(i, &object));
        LONG id = 0;
        if (object) KX_CHECK(ctx, object->get_Id(&id));
        if (id <= 0 || !seen.Add(id)) continue;
        _bstr_t objectName;
        GetObjectName(object, objectName, false);
        list.AddTemplateEntry(name, EntryTitle(objectName, name), object, templateId, false,
                              category, true);
      }
    }
  }

  const std::u16string_view wanted = templateId ? std::u16string_view(templateId) : u"";
  ForEachInstance(main, ctx, kByTemplate, u"Datasheet", [&](IKXQObject* datasheet) {
    _bstr_t id;
    if (ClassHasAttribute(datasheet, u"TemplateId")) GetAttributeString(datasheet, id, u"TemplateId", -1);
    if (kx_wcsicmp(id.view(), wanted) == 0) list.AddDatasheet(main.m_pApplication, datasheet);
  });
}

void ListDatasheetsWithStatus(Main& main, KXDatasheetInfoList& list, int32_t status) {
  list.CurrentPage = status;
  if (status < 1 || status > 4) return;
  KXComException ctx = KXComException::Silent();
  ForEachInstance(main, ctx, kByStatus, u"Datasheet", [&](IKXQObject* datasheet) {
    if (HasValueAtFirst(ctx, datasheet, kPageSets[status - 1])) {
      list.AddDatasheet(main.m_pApplication, datasheet);
    }
  });
}

void WriteDatasheetList(Main& main, const KXDatasheetInfoList& list) {
  if (list.GetCount() == 0) return;
  XMLReply::BeginMessage(main, u"App", -1);
  XMLReply::AddLongAttribute(main, u"CurrentPage", list.CurrentPage);
  XMLReply::StartElement(main, u"Documents");
  for (int32_t i = 0; i < list.GetCount(); ++i) list.GetAt(i).WriteXML(main.m_pResponse);
  XMLReply::EndElement(main, u"Documents");
  XMLReply::EndMessage(main);
}

void DrawingTemplateEntries(const OLECHAR* text, std::vector<std::u16string>& names) {
  std::u16string_view rest = text ? std::u16string_view(text) : std::u16string_view();
  if (rest.empty()) {
    names.push_back(u"New PFD Diagram");
    names.push_back(u"New PPID Diagram");
    return;
  }
  // A part ends at a ";" that follows at least one character; a rest that
  // begins with ";" is the last part, taken whole. An empty last part (the
  // text ended with ";") offers nothing.
  size_t cut = 0;
  while (!rest.empty() && rest[0] != u';' && (cut = rest.find(u';')) != std::u16string_view::npos) {
    names.push_back(u"New " + std::u16string(rest.substr(0, cut)) + u" Diagram");
    rest.remove_prefix(cut + 1);
  }
  if (!rest.empty()) names.push_back(u"New " + std::u16string(rest) + u" Diagram");
}

void ListAllDiagrams(Main& main, KXDiagramInfoList& list) {
  KXComException ctx = KXComException::Silent();
  _com_ptr_t<IDispatch> service;
  KX_CHECK(ctx, main.m_pApplication->GetService(_bstr_t(u"DrawingServices"), &service));
  if (!service) ThrowKXComExceptionHrAt(ctx, KX_HERE(kDiagrams), E_POINTER, nullptr);
  _com_ptr_t<IKXDrawingServices> drawing;
  KX_CHECK(ctx, service->QueryInterface(IID_IKXDrawingServices, reinterpret_cast<void**>(&drawing)));
  _bstr_t templates;
  KX_CHECK(ctx, drawing->get_DrawingTemplates(templates.GetAddress()));
  std::vector<std::u16string> names;
  DrawingTemplateEntries(templates, names);
  names.push_back(u"Shared Diagram");
  for (const std::u16string& name : names) list.AddDocument(0, nullptr, name.c_str(), u"", u"");
  ForEachInstance(main, ctx, kDiagrams, u"Diagram", [&](IKXQObject* diagram) {
    list.AddDiagram(main.m_pApplication, main.m_pDatabase, diagram);
  });
}

void ListSharedDiagramsOf(Main& main, KXDiagramInfoList& list) {
  KXComException ctx = KXComException::Silent();
  ForEachInstance(main, ctx, kDiagrams, u"Diagram", [&](IKXQObject* diagram) {
    _bstr_t name;
    KX_CHECK(ctx, GetDiagramName(main.m_pApplication, diagram, name.GetAddress(), true, 1));
    // A shared diagram names no version; its scope is that of its current
    // drawing.
    list.AddDocument(-1, diagram, name, u"", u"", 1);
  });
}

void ListDiagramsForObject(Main& main, KXDiagramInfoList& list, int32_t objectId, int32_t caseId) {
  if (objectId < 1) return;
  KXComException ctx = KXComException::Silent();
  IKXQObjectPtr object;
  GetStoreObject(main.m_pDatabase, object, objectId);
  if (!ClassHasAttribute(object, u"Representations")) return;
  IKXQAttributePtr representations;
  GetAttributeInterfaceAt(object, u"Representations", representations, -1);
  if (!representations) return;
  VARIANT_BOOL has = VARIANT_FALSE;
  KX_CHECK(ctx, representations->HasValue(_variant_t(1), &has));
  if (has == VARIANT_FALSE) return;
  const int32_t count = GetAttributeCount(representations);
  for (int32_t i = 1; i <= count; ++i) {
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

void WriteDiagramList(Main& main, const KXDiagramInfoList& list, bool shared) {
  XMLReply::BeginMessage(main, u"App", -1);
  const OLECHAR* element = shared ? u"SharedDiagrams" : u"Documents";
  if (!shared) XMLReply::AddLongAttribute(main, u"CurrentPage", list.CurrentPage);
  XMLReply::StartElement(main, element);
  for (int32_t i = 0; i < list.GetCount(); ++i) list.GetAt(i).WriteXML(main.m_pResponse);
  XMLReply::EndElement(main, element);
  XMLReply::EndMessage(main);
}

}  // namespace KXDBDatasheetSvcs

// ---- messages ------------------------------------------------------------------

const GrammarRecord* ListDatasheetsByObjectSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Table(
      Grammar::Envelope(), Grammar::Element(u"ListDatasheetsByObject", 1, {Grammar::Child(ObjectId)}),
      Grammar::IntegerElement(u"ObjectId", ObjectId));
  return kGrammar.data();
}

HRESULT ListDatasheetsByObjectMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  if (id != ObjectId) return E_INVALIDARG;
  m_objectIds.push_back(value.integer);
  return S_OK;
}

HRESULT ListDatasheetsByObjectMessageParser::ListDatasheets() {
  return RunListing(kByObject, [&] {
    for (const int32_t id : m_objectIds) ListDatasheetsForObject(*m_pMain, m_list, id);
    WriteDatasheetList(*m_pMain, m_list);
  });
}

HRESULT Main::ListDatasheetsByObject(const OLECHAR* request) {
  return ServeMessage<ListDatasheetsByObjectMessageParser>(
      *this, u"KXDBDatasheetSvcs::ListDatasheetsByObject", request);
}

const GrammarRecord* ListDatasheetsByTemplateSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Table(
      Grammar::Envelope(),
      Grammar::Element(u"ListDatasheetsByTemplate", 1, {Grammar::Child(TemplateId)}),
      Grammar::StringElement(u"TemplateId", TemplateId));
  return kGrammar.data();
}

HRESULT ListDatasheetsByTemplateMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  if (id != TemplateId) return E_INVALIDARG;
  m_templateIds.emplace_back(value.text ? value.text : u"");
  return S_OK;
}

HRESULT ListDatasheetsByTemplateMessageParser::ListDatasheets() {
  return RunListing(kByTemplate, [&] {
    for (const std::u16string& id : m_templateIds) {
      ListDatasheetsForTemplate(*m_pMain, m_list, id.c_str());
    }
    WriteDatasheetList(*m_pMain, m_list);
  });
}

HRESULT Main::ListDatasheetsByTemplate(const OLECHAR* request) {
  return ServeMessage<ListDatasheetsByTemplateMessageParser>(
      *this, u"KXDBDatasheetSvcs::ListDatasheetsByTemplate", request);
}

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
  return RunListing(kDiagramsByObject, [&] {
    for (const int32_t id : m_objectIds) ListDiagramsForObject(*m_pMain, m_list, id, m_caseId);
    WriteDiagramList(*m_pMain, m_list, false);
  });
}

// Traced under the datasheet listing's name, as the editor's logs expect.
HRESULT Main::ListDiagramsByObject(const OLECHAR* request) {
  return ServeMessage<ListDiagramsByObjectMessageParser>(
      *this, u"KXDBDatasheetSvcs::ListDatasheetsByObject", request);
}

// ---- the listings without grammar ------------------------------------------------

HRESULT Main::ListDatasheetsByStatus(const OLECHAR* request) {
  return ServeRequest(u"KXDBDatasheetSvcs::ListDatasheetsByStatus", [&](KXComException&) {
    return RunListing(kByStatus, [&] {
      KXDatasheetInfoList list;
      ListDatasheetsWithStatus(*this, list, _wtol(request ? request : u""));
      WriteDatasheetList(*this, list);
    });
  });
}

// Which datasheets show a field is recorded nowhere: the listing has
// nothing to offer and writes no reply.
HRESULT Main::ListDatasheetsByField(const OLECHAR* request) {
  return ServeRequest(u"KXDBDatasheetSvcs::ListDatasheetsByField", [&](KXComException&) {
    (void)_wtol(request ? request : u"");
    return S_OK;
  });
}

HRESULT Main::ListDiagrams(const OLECHAR*) {
  return ServeRequest(u"KXDBDatasheetSvcs::ListDiagrams", [&](KXComException&) {
    return RunListing(kDiagrams, [&] {
      KXDiagramInfoList list;
      ListAllDiagrams(*this, list);
      WriteDiagramList(*this, list, false);
    });
  });
}

HRESULT Main::ListSharedDiagrams(const OLECHAR*) {
  return ServeRequest(u"KXDBDatasheetSvcs::ListSharedDiagrams", [&](KXComException&) {
    return RunListing(kDiagrams, [&] {
      KXDiagramInfoList list;
      ListSharedDiagramsOf(*this, list);
      WriteDiagramList(*this, list, true);
    });
  });
}
