#include "pages/listtemplates.h"

#include <algorithm>

#include "com/wstr.h"
#include "host/application.h"
#include "host/response.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "model/maincontext.h"
#include "xmlreply.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/listtemplates";

bool NameBefore(std::u16string_view a, std::u16string_view b) { return kx_wcsicmp(a, b) < 0; }

std::u16string Text(BSTR text) {
  std::u16string copy(text ? text : u"", SysStringLen(text));
  SysFreeString(text);
  return copy;
}

// A template text read with `read`; failures are raised.
template <class Read>
std::u16string ReadText(KXComException& ctx, Read read) {
  BSTR text = nullptr;
  const HRESULT hr = read(&text);
  std::u16string copy = Text(text);
  KX_CHECK(ctx, hr);
  return copy;
}

// The name of the class the template is for: entry 0 of its class
// description. Empty when the template has no description or no entry: it
// could not be loaded.
std::u16string GetTemplateClassName(KXComException& ctx, IKXQTemplate* tmpl) {
  _com_ptr_t<IKXQClassList> description;
  if (FAILED(tmpl->get_ClassDescription(&description)) || !description) {
    ClearThreadErrorInfo();
    return {};
  }
  IKXQClassPtr first;
  if (FAILED(description->get_Item(0, &first)) || !first) {
    ClearThreadErrorInfo();
    return {};
  }
  return ReadText(ctx, [&](BSTR* out) { return first->get_Name(out); });
}

}  // namespace

bool TemplateList::InsertSorted(std::u16string_view name, std::u16string_view templateId,
                                std::u16string_view className, std::u16string_view category) {
  if (!m_ids.emplace(templateId).second) return false;
  auto record = std::make_unique<TemplateListEntry>(
      TemplateListEntry{std::u16string(name), std::u16string(templateId), std::u16string(className),
                        std::u16string(category)});
  const auto at =
      std::upper_bound(m_records.begin(), m_records.end(), name,
                       [](std::u16string_view key, const std::unique_ptr<TemplateListEntry>& held) {
                         return NameBefore(key, held->name);
                       });
  m_records.insert(at, std::move(record));
  return true;
}

void TemplateList::Clear() {
  m_records.clear();
  m_ids.clear();
}

HRESULT KXDBDatasheetSvcs::ListTemplates(MainContext& main, const OLECHAR*) {
  return ServeRequest(u"KXDBDatasheetSvcs::ListTemplates", [&](KXComException& ctx) {
    HostConnection& host = main;
    IKXQApplication* application = host.m_pApplication;
    TemplateList list;
    std::u16string failed;
    KXDBDatasheetSvcs::VisitLibraryTemplates(ctx, application, [&](IKXQTemplate* tmpl) {
      const std::u16string kind = ReadText(ctx, [&](BSTR* out) { return tmpl->get_Kind(out); });
      VARIANT_BOOL available = VARIANT_TRUE;
      KX_CHECK(ctx, tmpl->get_Available(&available));
      if (available == VARIANT_FALSE ||
          (kx_wcsicmp(kind, u"Datasheet") != 0 && kx_wcsicmp(kind, u"Summary") != 0)) {
        return;
      }
      const std::u16string name = ReadText(ctx, [&](BSTR* out) { return tmpl->get_Name(out); });
      const std::u16string id = ReadText(ctx, [&](BSTR* out) { return tmpl->get_Id(out); });
      const std::u16string className = GetTemplateClassName(ctx, tmpl);
      if (className.empty()) {
        failed += name + u"\n";
        return;
      }
      std::u16string category = ReadText(ctx, [&](BSTR* out) { return tmpl->get_Category(out); });
      if (category.empty()) category = u"General";
      list.InsertSorted(name, id, className, category);
    });

    XMLReply::BeginMessage(host, u"App", -1);
    XMLReply::StartElement(host, u"Templates");
    for (size_t i = 0; i < list.Count(); ++i) {
      const TemplateListEntry& entry = list.At(i);
      XMLReply::AddStringAttribute(host, u"Name", _bstr_t(entry.name));
      XMLReply::AddStringAttribute(host, u"TemplateId", _bstr_t(entry.templateId));
      XMLReply::AddStringAttribute(host, u"Class", _bstr_t(entry.className));
      XMLReply::AddStringAttribute(host, u"DatasheetCategory", _bstr_t(entry.category));
      XMLReply::WriteElement(host, u"Template", nullptr);
    }
    XMLReply::EndElement(host, u"Templates");
    XMLReply::EndMessage(host);

    if (!failed.empty()) {
      // The listing stands; the user and the log hear of the rest.
      (void)application->ShowMessage(
          _bstr_t(u"The following Templates could not be loaded:\n" + failed));
      (void)application->LogWarning(
          _bstr_t(u"Operation Open Document -> By Type failed to load the following Templates:\n" +
                  failed));
      ClearThreadErrorInfo();
    }
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::ListCachedTemplates(MainContext& main, const OLECHAR*) {
  return ServeRequest(u"KXDBDatasheetSvcs::ListCachedTemplates", [&](KXComException& ctx) {
    HostConnection& host = main;
    std::vector<std::pair<_bstr_t, _bstr_t>> records;
    KXDBDatasheetSvcs::VisitTemplateRecords(
        ctx, KX_HERE(kFile), host.m_pSchema,
        u"Failed to find template class representing QMF templates",
        [&](IKXQObject*, const _bstr_t& templateId, const _bstr_t& checknum) {
          if (templateId.length() != 0 && checknum.length() != 0) {
            records.emplace_back(templateId, checknum);
          }
          return true;
        });
    XMLReply::BeginMessage(host, u"App", -1);
    XMLReply::StartElement(host, u"CachedTemplates");
    for (const auto& [templateId, checknum] : records) {
      XMLReply::AddStringAttribute(host, u"TemplateId", templateId);
      XMLReply::AddStringAttribute(host, u"Checknum", checknum);
      XMLReply::WriteElement(host, u"Template", nullptr);
    }
    XMLReply::EndElement(host, u"CachedTemplates");
    XMLReply::EndMessage(host);
    return S_OK;
  });
}
