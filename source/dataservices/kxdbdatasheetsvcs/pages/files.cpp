#include "pages/files.h"

#include "chunkedtextbuffer.h"
#include "com/comutil.h"
#include "com/stream.h"
#include "com/wstr.h"
#include "host/application.h"
#include "host/response.h"
#include "host/settings.h"
#include "kxcomexception.h"
#include "kxqdataserviceimpl.h"
#include "kxstoreptrs.h"
#include "pages/listtemplates.h"

KX_SMARTPTR_TYPEDEF(IKXQSettings);
KX_SMARTPTR_TYPEDEF(IStream);

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/files";
constexpr FrameOptions kFrame{.file = kFile};
constexpr OLECHAR kMarker[] = u"!::!";
constexpr size_t kMarkerLength = 4;

IKXQApplication* Application(KXComException& ctx, HostConnection& host) {
  if (host.m_pApplication == nullptr) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"Not attached to a host application");
  }
  return host.m_pApplication;
}

void GetLibrary(KXComException& ctx, HostConnection& host, IKXQTemplateLibraryPtr& library) {
  KXDBDatasheetSvcs::GetTemplateLibrary(ctx, host.m_pApplication, library);
}

// The directory of a settings folder ("Templates", "Datasheets").
_bstr_t GetSettingsFolder(KXComException& ctx, HostConnection& host, const OLECHAR* folder) {
  IKXQSettingsPtr settings;
  KX_CHECK(ctx, Application(ctx, host)->get_Settings(&settings));
  if (!settings) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"The host has no settings");
  BSTR path = nullptr;
  KX_CHECK(ctx, settings->GetFolder(_bstr_t(folder), &path));
  return _bstr_t(path, false);
}

IKXQResponse* Response(KXComException& ctx, HostConnection& host) {
  if (host.m_pResponse == nullptr) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                            u"Cannot access the KXQResponse object to write to it");
  }
  return host.m_pResponse;
}

// `folder` "\" `name`, without doubling a separator the folder ends with.
_bstr_t JoinPath(const _bstr_t& folder, const OLECHAR* name) {
  const std::u16string_view text(static_cast<const OLECHAR*>(folder), folder.length());
  if (text.empty() || text.back() == u'\\' || text.back() == u'/') return folder + _bstr_t(name);
  return folder + _bstr_t(u"\\") + _bstr_t(name);
}

// Refuses a name that would leave its folder, with `format` (one %ls:
// `shown`) and the reason.
void CheckNameInsideFolder(KXComException& ctx, const OLECHAR* name, const OLECHAR* format,
                           const OLECHAR* shown) {
  if (KXDBDatasheetSvcs::IsNameInsideFolder(name)) return;
  const std::u16string text = std::u16string(format) + u": the name must stay inside its folder";
  ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_ACCESSDENIED, text.c_str(), shown);
}

// Sends the file at `path`; a refusal of the host is raised under `format`.
void SendFile(KXComException& ctx, HostConnection& host, const _bstr_t& path, bool binary,
              const OLECHAR* format, const OLECHAR* shown) {
  VARIANT kind;
  kind.vt = VT_BOOL;
  kind.boolVal = binary ? VARIANT_TRUE : VARIANT_FALSE;
  const HRESULT hr = Response(ctx, host)->SendFile(path, kind);
  KX_CHECK(ctx, hr, format, shown);
}

// Sends a cached text; a refusal is raised under `format`.
void SendText(KXComException& ctx, HostConnection& host, const _bstr_t& text, const OLECHAR* format,
              const OLECHAR* shown) {
  const HRESULT hr = Response(ctx, host)->SendText(text);
  KX_CHECK(ctx, hr, format, shown);
}

// A library call that reads cached text of (id, checknum).
using CachedText = HRESULT (IKXQTemplateLibrary::*)(BSTR, BSTR, BSTR*);

// Sends the library's cached text of (id, checknum) when it holds one; a
// refusal of the host is raised under `sendFailure`. False when there is no
// such text.
bool SendCachedText(KXComException& ctx, HostConnection& host, CachedText read,
                    const OLECHAR* templateId, const OLECHAR* checknum,
                    const OLECHAR* sendFailure) {
  IKXQTemplateLibraryPtr library;
  GetLibrary(ctx, host, library);
  BSTR text = nullptr;
  const HRESULT hr = (library->*read)(_bstr_t(templateId), _bstr_t(checknum), &text);
  const _bstr_t cached(text, false);
  KX_CHECK(ctx, hr, u"Error occurred while finding cached template data for %ls", templateId);
  if (cached.length() == 0) return false;
  SendText(ctx, host, cached, sendFailure, templateId);
  return true;
}

// A request whose whole text is a name or an id: the text without the line
// end that a file or a terminal leaves after it (no name ends in one).
std::u16string BareName(const OLECHAR* request) {
  std::u16string name(request != nullptr ? request : u"");
  while (!name.empty() && (name.back() == u'\n' || name.back() == u'\r')) name.pop_back();
  return name;
}

bool EqualNoCase(const OLECHAR* a, const OLECHAR* b) {
  return kx_wcsicmp(a ? a : u"", b ? b : u"") == 0;
}

[[noreturn]] void ThrowNoSourceTemplate(KXComException& ctx, const OLECHAR* templateId) {
  ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                          u"Unable to retrieve XLS template for %ls. Documents submitted, checked "
                          u"or issued with an earlier version of this template must be opened with "
                          u"the desktop datasheet editor.",
                          templateId);
}

}  // namespace

namespace KXDBDatasheetSvcs {

bool IsNameInsideFolder(const OLECHAR* name) {
  if (name == nullptr || name[0] == 0 || name[0] == u'\\' || name[0] == u'/') return false;
  if (name[1] == u':') return false;
  const OLECHAR* step = name;
  for (const OLECHAR* at = name;; ++at) {
    if (*at != 0 && *at != u'\\' && *at != u'/') continue;
    if (at - step == 2 && step[0] == u'.' && step[1] == u'.') return false;
    if (*at == 0) return true;
    step = at + 1;
  }
}

HRESULT ReplaceTemplateWithQMF(HostConnection& host, const OLECHAR* templateId,
                               const OLECHAR* checknum, const OLECHAR* data) {
  const auto work = [&](KXComException& ctx) {
    IKXQObjectPtr target;
    VisitTemplateRecords(ctx, KX_HERE(kFile), host.m_pSchema,
                         u"Failed to find template class representing QMF template",
                         [&](IKXQObject* record, const _bstr_t& id, const _bstr_t& number) {
                           if (!EqualNoCase(id, templateId) || !EqualNoCase(number, checknum))
                             return true;
                           target = record;
                           return false;
                         });
    if (!target) {
      const std::u16string warning = kx_format(
          u"No template record %ls with checknum \"%ls\" to store the workbook in: nothing was "
          u"stored",
          templateId, checknum);
      (void)Application(ctx, host)->LogWarning(_bstr_t(warning.c_str()));
      return S_OK;
    }
    IKXQAttributePtr excel;
    _variant_t none;
    KX_CHECK(ctx, target->get_Attribute(_bstr_t(u"ExcelFile"), none, &excel));
    if (!excel) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER,
                              u"The template record of %ls has no ExcelFile", templateId);
    }
    IStreamPtr stream;
    KX_CHECK(ctx, CreateStreamOnHGlobal(nullptr, TRUE, &stream));
    ChunkedTextBuffer buffer;
    buffer.Append(data, data ? kx_wcslen(data) : 0);
    uint64_t bad = 0;
    const HRESULT decoded = DecodeBase64(
        buffer,
        [&](const uint8_t* bytes, size_t count) {
          return stream->Write(bytes, static_cast<ULONG>(count), nullptr);
        },
        &bad);
    if (decoded == E_INVALIDARG) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG,
                              u"The workbook of template %ls is not Base64: character %lu is not "
                              u"allowed there; nothing was stored",
                              templateId, static_cast<ULONG>(bad + 1));
    }
    KX_CHECK(ctx, decoded);
    LARGE_INTEGER start{};
    KX_CHECK(ctx, stream->Seek(start, STREAM_SEEK_SET, nullptr));
    VARIANT value;
    value.vt = VT_UNKNOWN;
    value.punkVal = stream.GetInterfacePtr();
    KX_CHECK(ctx, excel->PutValue(none, none, value));
    return S_OK;
  };
  return ServeRequest(u"KXDBDatasheetSvcs::ReplaceTemplateWithQMF", kFrame, work);
}

}  // namespace KXDBDatasheetSvcs

// ---------------------------------------------------------------------------
// The handlers and the workers of the two parsed messages.

HRESULT KXDBDatasheetSvcs::GetTemplateFile(MainContext& main, const OLECHAR* request) {
  return ServeRequest(u"KXDBDatasheetSvcs::GetTemplateFile", [&](KXComException& ctx) {
    const std::u16string bare = BareName(request);
    const OLECHAR* templateId = bare.c_str();
    IKXQTemplateLibraryPtr library;
    GetLibrary(ctx, main, library);
    BSTR rootText = nullptr;
    KX_CHECK(ctx, library->get_TemplatesFolder(&rootText));
    const _bstr_t root(rootText, false);
    IKXQTemplatePtr tmpl;
    _variant_t current;
    const HRESULT hr = library->GetTemplate(_bstr_t(templateId), current, &tmpl);
    KX_CHECK(ctx, hr, u"Unable to find template %ls", templateId);
    // The library answers an unknown id with no template, not a failure.
    if (!tmpl)
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"Unable to find template %ls",
                              templateId);
    BSTR pathText = nullptr;
    KX_CHECK(ctx, tmpl->get_FilePath(&pathText));
    const _bstr_t relative(pathText, false);
    CheckNameInsideFolder(ctx, relative, u"Unable to open template file %ls", relative);
    SendFile(ctx, main, JoinPath(root, relative), false, u"Unable to open template file %ls",
             relative);
    return S_OK;
  });
}

// The grammar of the two file-from-database messages, named `message`.
constexpr auto FileFromDBGrammar(const OLECHAR* message) {
  using Id = FileFromDBSchema::Id;
  return Grammar::Table(
      Grammar::Element(u"XMLMessage", 0,
                       {Grammar::String(u"TargetId", Id::TargetId), Grammar::Child(1)}),
      Grammar::Element(message, 1,
                       {Grammar::String(u"TemplateId", Id::TemplateId),
                        Grammar::String(u"Checknum", Id::Checknum)}));
}

FileFromDBSchema::FileFromDBSchema(MainContext* main) : MessageParser(main) {
  m_checknum.Assign(u"");
  m_templateId.Assign(u"");
}

HRESULT FileFromDBSchema::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case TemplateId: return Store(m_templateId, value);
    case Checknum: return Store(m_checknum, value);
    default: return S_OK;
  }
}

const GrammarRecord* GetTemplateFromDBMessageParser::GetSchema() const {
  static constexpr auto kGrammar = FileFromDBGrammar(u"GetTemplateFromDB");
  return kGrammar.data();
}

HRESULT GetTemplateFromDBMessageParser::GetTemplateFromDB() {
  return ServeRequest(u"KXDBDatasheetSvcs::GetTemplateFromDB", kFrame, [&](KXComException& ctx) {
    if (!SendCachedText(ctx, Reply(), &IKXQTemplateLibrary::GetCachedTemplateData,
                        m_templateId.c_str(), m_checknum.c_str(),
                        u"Unable to send template data for %ls")) {
      KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplateFile(*m_pMain, m_templateId.c_str()));
    }
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::GetTemplateFromDB(MainContext& main, const OLECHAR* request) {
  return ServeMessage<GetTemplateFromDBMessageParser>(main, u"KXDBDatasheetSvcs::GetTemplateFromDB",
                                                      request);
}

const GrammarRecord* GetSourceFromDBMessageParser::GetSchema() const {
  static constexpr auto kGrammar = FileFromDBGrammar(u"GetSourceFromDB");
  return kGrammar.data();
}

HRESULT GetSourceFromDBMessageParser::GetSourceFromDB() {
  return ServeRequest(u"KXDBDatasheetSvcs::GetSourceFromDB", kFrame, [&](KXComException& ctx) {
    const OLECHAR* templateId = m_templateId.c_str();
    if (SendCachedText(ctx, Reply(), &IKXQTemplateLibrary::GetCachedWorkbookSource, templateId,
                       m_checknum.c_str(), u"Unable to send source data for %ls")) {
      return S_OK;
    }
    IKXQTemplateLibraryPtr library;
    GetLibrary(ctx, Reply(), library);
    IKXQTemplatePtr tmpl;
    _variant_t current;
    if (FAILED(library->GetTemplate(_bstr_t(templateId), current, &tmpl))) {
      ClearThreadErrorInfo();
      tmpl = nullptr;
    }
    if (!tmpl) ThrowNoSourceTemplate(ctx, templateId);
    BSTR own = nullptr;
    KX_CHECK(ctx, tmpl->get_Checknum(&own));
    const _bstr_t templateChecknum(own, false);
    if (templateChecknum.length() == 0 || !EqualNoCase(templateChecknum, m_checknum.c_str())) {
      ThrowNoSourceTemplate(ctx, templateId);
    }
    const _bstr_t file = _bstr_t(templateId) + _bstr_t(u".qmf");
    CheckNameInsideFolder(ctx, file, u"Unable to open excel source file %ls", templateId);
    const _bstr_t folder = GetSettingsFolder(ctx, Reply(), u"Templates");
    SendFile(ctx, Reply(), JoinPath(folder, file), true, u"Unable to open excel source file %ls",
             templateId);
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::GetSourceFromDB(MainContext& main, const OLECHAR* request) {
  return ServeMessage<GetSourceFromDBMessageParser>(main, u"KXDBDatasheetSvcs::GetSourceFromDB",
                                                    request);
}

HRESULT KXDBDatasheetSvcs::SetQMFDBTemplate(MainContext& main, const OLECHAR* request) {
  return ServeRequest(u"KXDBDatasheetSvcs::SetQMFDBTemplate", [&](KXComException& ctx) {
    const std::u16string_view text(request ? request : u"");
    const size_t first = text.find(kMarker);
    const size_t second =
        first == std::u16string_view::npos ? first : text.find(kMarker, first + kMarkerLength);
    // The form is checked whole before anything is stored: a client that
    // sent something else must not be told its workbook was kept.
    if (first == 0 || second == std::u16string_view::npos ||
        second + kMarkerLength == text.size()) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG,
                              u"The request of SetQMFDBTemplate is not of the form "
                              u"TEMPLATEID!::!CHECKNUM!::!BASE64DATA with a template id and data");
    }
    const std::u16string templateId(text.substr(0, first));
    const std::u16string checknum(
        text.substr(first + kMarkerLength, second - first - kMarkerLength));
    return KXDBDatasheetSvcs::ReplaceTemplateWithQMF(main, templateId.c_str(), checknum.c_str(),
                                                     request + second + kMarkerLength);
  });
}

HRESULT KXDBDatasheetSvcs::GetBitmapFile(MainContext& main, const OLECHAR* request) {
  return ServeRequest(u"KXDBDatasheetSvcs::GetBitmapFile", [&](KXComException& ctx) {
    const std::u16string bare = BareName(request);
    const OLECHAR* name = bare.c_str();
    IKXQTemplateLibraryPtr library;
    GetLibrary(ctx, main, library);
    BSTR folderText = nullptr;
    KX_CHECK(ctx, library->get_BitmapFolder(&folderText));
    _bstr_t folder(folderText, false);
    if (folder.length() == 0) {
      KX_CHECK(ctx, library->get_TemplatesFolder(&folderText));
      folder = _bstr_t(folderText, false);
    }
    const _bstr_t path = JoinPath(folder, name);
    CheckNameInsideFolder(ctx, name, u"Unable to open bitmap file %ls", path);
    SendFile(ctx, main, path, true, u"Unable to open bitmap file %ls", path);
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::GetSourceFile(MainContext& main, const OLECHAR* request) {
  return ServeRequest(u"KXDBDatasheetSvcs::GetSourceFile", [&](KXComException& ctx) {
    const std::u16string bare = BareName(request);
    const OLECHAR* name = bare.c_str();
    const std::u16string_view text(name);
    const std::u16string_view ending = text.size() > 4 ? text.substr(text.size() - 4) : text;
    const OLECHAR* folderName = kx_wcsicmp(ending, u".qmf") == 0 ? u"Templates" : u"Datasheets";
    const _bstr_t folder = GetSettingsFolder(ctx, main, folderName);
    CheckNameInsideFolder(ctx, name, u"Unable to open QMF template %ls", name);
    SendFile(ctx, main, JoinPath(folder, name), true, u"Unable to open QMF template %ls", name);
    return S_OK;
  });
}
