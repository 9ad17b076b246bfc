#include "documents/listdiagrams.h"

#include "host/drawing.h"
#include "model/kxdbdatasheetutils.h"
#include "model/maincontext.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/listdiagrams";

}  // namespace

namespace KXDBDatasheetSvcs {

void DrawingTemplateEntries(const OLECHAR* text, std::vector<std::u16string>& names) {
  std::u16string_view rest = text ? std::u16string_view(text) : std::u16string_view();
  if (rest.empty()) {
    names.push_back(u"New PFD Diagram");
    names.push_back(u"New PPID Diagram");
    return;
  }
  size_t cut = 0;
  while (!rest.empty() && rest[0] != u';' && (cut = rest.find(u';')) != std::u16string_view::npos) {
    names.push_back(u"New " + std::u16string(rest.substr(0, cut)) + u" Diagram");
    rest.remove_prefix(cut + 1);
  }
  if (!rest.empty()) names.push_back(u"New " + std::u16string(rest) + u" Diagram");
}

void ListAllDiagrams(MainContext& main, KXDiagramInfoList& list) {
  KXComException ctx = KXComException::Silent();
  _com_ptr_t<IDispatch> service;
  KX_CHECK(ctx, main.m_pApplication->GetService(_bstr_t(u"DrawingServices"), &service));
  if (!service) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  _com_ptr_t<IKXDrawingServices> drawing;
  KX_CHECK(ctx,
           service->QueryInterface(IID_IKXDrawingServices, reinterpret_cast<void**>(&drawing)));
  _bstr_t templates;
  KX_CHECK(ctx, drawing->get_DrawingTemplates(templates.GetAddress()));
  std::vector<std::u16string> names;
  DrawingTemplateEntries(templates, names);
  names.push_back(u"Shared Diagram");
  for (const std::u16string& name : names) list.AddDocument(0, nullptr, name.c_str(), u"", u"");
  for (const IKXQObjectPtr& diagram : ClassInstances(main, u"Diagram")) {
    list.AddDiagram(main.m_pApplication, main.m_pDatabase, diagram);
  }
}

void ListSharedDiagramsOf(MainContext& main, KXDiagramInfoList& list) {
  KXComException ctx = KXComException::Silent();
  for (const IKXQObjectPtr& diagram : ClassInstances(main, u"Diagram")) {
    _bstr_t name;
    KX_CHECK(ctx, GetDiagramName(main.m_pApplication, diagram, name.GetAddress(), true, 1));
    // A shared diagram names no version; its scope is that of its current
    // drawing.
    list.AddDocument(-1, diagram, name, u"", u"", 1);
  }
}

}  // namespace KXDBDatasheetSvcs

HRESULT KXDBDatasheetSvcs::ListDiagrams(MainContext& main, const OLECHAR*) {
  return ServeRequest(u"KXDBDatasheetSvcs::ListDiagrams", [&](KXComException&) {
    return KXDBDatasheetSvcs::RunListing(kFile, [&] {
      KXDiagramInfoList list;
      KXDBDatasheetSvcs::ListAllDiagrams(main, list);
      KXDBDatasheetSvcs::WriteDiagramList(main, list, false);
    });
  });
}

HRESULT KXDBDatasheetSvcs::ListSharedDiagrams(MainContext& main, const OLECHAR*) {
  return ServeRequest(u"KXDBDatasheetSvcs::ListSharedDiagrams", [&](KXComException&) {
    return KXDBDatasheetSvcs::RunListing(kFile, [&] {
      KXDiagramInfoList list;
      KXDBDatasheetSvcs::ListSharedDiagramsOf(main, list);
      KXDBDatasheetSvcs::WriteDiagramList(main, list, true);
    });
  });
}
