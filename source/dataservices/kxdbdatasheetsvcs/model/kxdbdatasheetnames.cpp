// Readable names of datasheets and diagrams and the object lists they rest
// on; scope tests of whole documents.
#include <algorithm>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "com/wstr.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "messagekit.h"
#include "model/kxdbdatasheetutils.h"
#include "model/preservederrorinfo.h"

namespace {

const OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/kxdbdatasheetutils";
constexpr FrameOptions kFrame{.file = kFile};

std::u16string Text(const _bstr_t& text) { return std::u16string(text.view()); }

BSTR NewBstr(const std::u16string& text) {
  BSTR result = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (result == nullptr) _com_issue_error(E_OUTOFMEMORY);
  return result;
}

// Appends `object` unless `objects` already holds it (by identity). A few
// objects are searched in turn; `seen` holds them once there are more.
constexpr int32_t kFewObjects = 8;

void AddDistinct(std::unordered_set<IKXQObject*>& seen, ComPtrArray<IKXQObject>& objects,
                 IKXQObject* object) {
  if (object == nullptr) return;
  if (seen.empty() && objects.GetCount() < kFewObjects) {
    for (int32_t i = 0; i < objects.GetCount(); ++i)
      if (objects.GetAt(i) == object) return;
    objects.Add(object);
    return;
  }
  if (seen.empty()) {
    for (int32_t i = 0; i < objects.GetCount(); ++i) seen.insert(objects.GetAt(i));
  }
  if (seen.insert(object).second) objects.Add(object);
}

// The names of a few datasheets, kept from one question to the next: a
// change to an open datasheet's pages records its "Name" item again, then
// its change event writes the same name, and making it walks every page
// twice (its objects and its case). A name serves while the latest value
// stamp of what making it read (IKXQReadSet) is as it was and the
// application hands out the same template library; its reads are replayed
// into the trigger items and read collections open at each use, as making
// it would have recorded them. A store that keeps no read log keeps
// nothing; failures are not kept. Each entry holds its datasheet, so that no
// other object takes its address; ForgetKeptDatasheetNames drops them all.
constexpr size_t kMostKeptNames = 8;

struct KeptName {
  IKXQObjectPtr datasheet;
  int32_t status = 0;
  bool decorate = false;
  IKXQTemplateLibraryPtr library;
  _com_ptr_t<IKXQReadSet> reads;
  LONGLONG stamp = 0;  // the reads' latest when the name was made
  std::u16string name;
};
thread_local std::vector<KeptName>* g_keptNames = nullptr;

IKXQTemplateLibraryPtr LibraryOf(IKXQApplication* application) {
  IKXQTemplateLibraryPtr library;
  if (FAILED(application->get_TemplateLibrary(&library))) library = nullptr;
  return library;
}

// The kept name, when it still holds: *name receives a copy.
bool FindKeptName(IKXQApplication* application, IKXQObject* datasheet, int32_t status,
                  bool decorate, BSTR* name) {
  if (g_keptNames == nullptr) return false;
  for (auto it = g_keptNames->begin(); it != g_keptNames->end(); ++it) {
    if (it->datasheet.GetInterfacePtr() != datasheet || it->status != status ||
        it->decorate != decorate) {
      continue;
    }
    const PreservedErrorInfo unchanged;
    LONGLONG stamp = 0;
    if (FAILED(it->reads->get_LatestStamp(&stamp)) || stamp != it->stamp ||
        LibraryOf(application) != it->library || FAILED(it->reads->Replay())) {
      g_keptNames->erase(it);
      return false;
    }
    *name = NewBstr(it->name);
    return true;
  }
  return false;
}

void KeepName(IKXQApplication* application, IKXQObject* datasheet, int32_t status, bool decorate,
              const _com_ptr_t<IKXQReadSet>& reads, BSTR name) {
  const PreservedErrorInfo unchanged;
  LONGLONG stamp = 0;
  if (!reads || FAILED(reads->get_LatestStamp(&stamp))) return;
  if (g_keptNames == nullptr) g_keptNames = new std::vector<KeptName>();
  auto it = std::find_if(g_keptNames->begin(), g_keptNames->end(), [&](const KeptName& kept) {
    return kept.datasheet.GetInterfacePtr() == datasheet && kept.status == status &&
           kept.decorate == decorate;
  });
  if (it == g_keptNames->end()) {
    if (g_keptNames->size() >= kMostKeptNames) g_keptNames->erase(g_keptNames->begin());
    it = g_keptNames->emplace(g_keptNames->end());
  }
  it->datasheet = datasheet;
  it->status = status;
  it->decorate = decorate;
  it->library = LibraryOf(application);
  it->reads = reads;
  it->stamp = stamp;
  it->name.assign(name, SysStringLen(name));
}

}  // namespace

namespace KXDBDatasheetSvcs {

// *noTemplate (when given) is set when the name was made without the
// datasheet's template.
HRESULT MakeDatasheetName(IKXQApplication* application, IKXQObject* datasheet, BSTR* name,
                          bool decorate, int32_t status, const _bstr_t* knownDocumentName,
                          bool* noTemplate = nullptr);

void ForgetKeptDatasheetNames() {
  delete g_keptNames;
  g_keptNames = nullptr;
}

HRESULT GetDatasheetName(IKXQApplication* application, IKXQObject* datasheet, BSTR* name,
                         bool decorate, int32_t status, const _bstr_t* knownDocumentName) {
  // A name given its document name did not read it; a listing's shared
  // lookups read nothing: neither is kept.
  if (application == nullptr || datasheet == nullptr || name == nullptr ||
      knownDocumentName != nullptr || TemplateLookupsShared()) {
    return MakeDatasheetName(application, datasheet, name, decorate, status, knownDocumentName);
  }
  if (FindKeptName(application, datasheet, status, decorate, name)) return S_OK;
  _com_ptr_t<IKXQReadLog> log;
  {
    const PreservedErrorInfo unchanged;
    if (FAILED(
            datasheet->QueryInterface(kx_uuidof<IKXQReadLog>(), reinterpret_cast<void**>(&log))) ||
        FAILED(log->BeginReads())) {
      log = nullptr;
    }
  }
  bool noTemplate = false;
  const HRESULT hr =
      MakeDatasheetName(application, datasheet, name, decorate, status, nullptr, &noTemplate);
  if (!log) return hr;
  _com_ptr_t<IKXQReadSet> reads;
  {
    const PreservedErrorInfo unchanged;
    if (FAILED(log->EndReads(&reads))) reads = nullptr;
  }
  // A name made without the template (it could not be read) is not kept:
  // the next question tries the template again.
  if (hr == S_OK && *name != nullptr && !noTemplate)
    KeepName(application, datasheet, status, decorate, reads, *name);
  return hr;
}

HRESULT CollectDatasheetObjects(IKXQApplication* application, IKXQObject* datasheet,
                                IKXQTemplate* tmpl, ComPtrArray<IKXQObject>& objects,
                                int32_t status) {
  return ServeRequest(nullptr, kFrame, [&](KXComException& ctx) {
    // The parts of the pages' templates read once for all the pages.
    const TemplatePartsScope parts;
    DocumentPages pages(datasheet, 1, true);
    const int32_t count = pages.Count();
    std::unordered_set<IKXQObject*> seen;
    for (int32_t i = 1; i <= count; ++i) {
      IKXQObjectPtr page;
      pages.Page(i, page);
      if (!page) continue;
      IKXQObjectPtr primary;
      IKXQObjectPtr further;
      if (tmpl == nullptr && status == 1 &&
          FindListedPagePrimaryObject(application, page, &primary, &further)) {
        AddDistinct(seen, objects, primary);
        AddDistinct(seen, objects, further);
        continue;
      }
      IKXQTemplatePtr pageTemplate(tmpl);
      if (!pageTemplate) KX_CHECK(ctx, GetTemplate(application, page, &pageTemplate, status));
      KX_CHECK(ctx,
               GetPagePrimaryObject(application, page, pageTemplate, &primary, &further, status));
      AddDistinct(seen, objects, primary);
      AddDistinct(seen, objects, further);
    }
    return S_OK;
  });
}

HRESULT MakeDatasheetName(IKXQApplication* application, IKXQObject* datasheet, BSTR* name,
                          bool decorate, int32_t status, const _bstr_t* knownDocumentName,
                          bool* noTemplate) {
  std::u16string fallback;
  const HRESULT hr = ServeRequest(nullptr, kFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, name);
    *name = nullptr;
    if (datasheet == nullptr) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG,
                              u"Object is not a valid datasheet");
    }
    IKXQClassPtr cls;
    GetObjectClass(datasheet, cls);
    if (!cls) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
    // Asked for every datasheet of a listing: the name is made once, and the
    // answer is kept per class while a TemplatePartsScope lives.
    static const _bstr_t kSheetName(u"DatasheetSheetName");
    bool hasSheetName = false;
    if (!FindKeptClassAnswer(cls, &kSheetName, &hasSheetName)) {
      VARIANT_BOOL has = VARIANT_FALSE;
      if (SUCCEEDED(cls->HasAttribute(kSheetName, &has))) {
        KeepClassAnswer(cls, &kSheetName, has == VARIANT_TRUE);
      }
      hasSheetName = has == VARIANT_TRUE;
    }
    if (hasSheetName) {
      IKXQAttributePtr attribute;
      GetAttributeInterface(datasheet, u"DatasheetSheetName", attribute);
      bool hasValue = false;
      _bstr_t sheetName;
      if (attribute) GetAttributeValueString(attribute, sheetName, &hasValue);
      if (hasValue) {
        *name = sheetName.Detach();
        if (*name == nullptr) *name = NewBstr(u"");
        return S_OK;
      }
    }
    _bstr_t readName;
    if (knownDocumentName == nullptr) GetAttributeString(datasheet, readName, u"DocumentName", -1);
    const _bstr_t& documentName = knownDocumentName != nullptr ? *knownDocumentName : readName;
    if (documentName.length() == 0) {
      LONG id = 0;
      KX_CHECK(ctx, datasheet->get_Id(&id));
      _bstr_t classText;
      GetClassText(cls, classText);
      fallback = kx_format(u"<F-%ld %ls>", static_cast<LONG>(id),
                           classText.length() > 0 ? static_cast<const OLECHAR*>(classText) : u"");
    }

    IKXQTemplatePtr tmpl;
    KX_CHECK(ctx, GetTemplate(application, datasheet, &tmpl, status));
    if (!tmpl) {
      if (noTemplate != nullptr) *noTemplate = true;
      *name = documentName.length() == 0 ? NewBstr(fallback) : NewBstr(Text(documentName));
      return S_OK;
    }
    TemplateKind kind = TemplateKind::kOther;
    KX_CHECK(ctx, GetTemplateKind(tmpl, &kind));
    _bstr_t templateName;
    if (documentName.length() == 0) KX_CHECK(ctx, tmpl->get_Name(templateName.GetAddress()));
    const std::u16string_view base =
        documentName.length() > 0 ? documentName.view() : templateName.view();
    ComPtrArray<IKXQObject> objects;
    KX_CHECK(ctx, CollectDatasheetObjects(application, datasheet, nullptr, objects, status));

    std::u16string prefix;
    bool hasPrefix = false;
    _bstr_t projectName;
    if (kind == TemplateKind::kDatasheet) {
      // Each distinct name once: where each stands in `prefix` (a few
      // without a list made for them).
      constexpr size_t kFew = 4;
      std::pair<size_t, size_t> few[kFew];
      std::vector<std::pair<size_t, size_t>> more;
      size_t count = 0;
      for (int32_t i = 0; i < objects.GetCount(); ++i) {
        // The name as GetObjectName reads it; a failure is asked again
        // through it, to be raised as it raises it.
        VARIANT plain;
        VariantInit(&plain);
        plain.vt = VT_BOOL;
        plain.boolVal = VARIANT_FALSE;
        BSTR read = nullptr;
        _bstr_t objectName;
        if (SUCCEEDED(objects.GetAt(i)->get_Name(plain, &read))) {
          objectName = _bstr_t(read, false);
        } else {
          SysFreeString(read);
          GetObjectName(objects.GetAt(i), objectName, false);
        }
        const std::u16string_view text = objectName.view();
        bool known = false;
        for (size_t k = 0; k < count && !known; ++k) {
          const auto& [at, size] = k < kFew ? few[k] : more[k - kFew];
          known = std::u16string_view(prefix).substr(at, size) == text;
        }
        if (known) continue;
        if (count > 0) prefix += u"/";
        const std::pair<size_t, size_t> span(prefix.size(), text.size());
        if (count < kFew) {
          few[count] = span;
        } else {
          more.push_back(span);
        }
        ++count;
        prefix += text;
      }
      hasPrefix = count > 0;
    } else if (kind == TemplateKind::kSummary) {
      const int32_t n = objects.GetCount();
      if (n > 0 && objects.GetAt(0) != datasheet) {
        _bstr_t objectName;
        GetObjectName(objects.GetAt(0), objectName, false);
        prefix += Text(objectName);
        hasPrefix = true;
      }
      if (n > 1) {
        prefix += u"->";
        hasPrefix = true;
        if (objects.GetAt(n - 1) != datasheet) {
          _bstr_t objectName;
          GetObjectName(objects.GetAt(n - 1), objectName, false);
          prefix += Text(objectName);
        }
      }
      KX_CHECK(ctx, GetProjectName(application, datasheet, true, projectName.GetAddress()));
    } else {
      _bstr_t objectName;
      GetObjectName(datasheet, objectName, false);
      ThrowKXComExceptionHrAt(
          ctx, KX_HERE(kFile), E_INVALIDARG, u"Object %ls is not a valid datasheet",
          objectName.length() > 0 ? static_cast<const OLECHAR*>(objectName) : u"");
    }
    if (!decorate && projectName.length() == 0) {
      // A listing's title: made in the name it is handed out as.
      const std::u16string_view parts[] = {prefix, hasPrefix ? u": " : u"", base};
      size_t size = 0;
      for (const auto& part : parts) size += part.size();
      BSTR made = SysAllocStringLen(nullptr, static_cast<UINT>(size));
      if (made == nullptr) _com_issue_error(E_OUTOFMEMORY);
      OLECHAR* at = made;
      for (const auto& part : parts) at = std::copy(part.begin(), part.end(), at);
      *name = made;
      return S_OK;
    }
    std::u16string result;
    if (hasPrefix) {
      prefix += u": ";
      prefix += base;
      result = std::move(prefix);
    } else {
      result = base;
    }
    if (decorate) {
      BSTR decorated = nullptr;
      KX_CHECK(ctx,
               DecorateNameWithStatus(application, datasheet, result.c_str(), status, &decorated));
      _bstr_t holder(decorated, false);
      result = Text(holder);
    }
    if (projectName.length() > 0) result += u" [" + Text(projectName) + u"]";
    *name = NewBstr(result);
    return S_OK;
  });
  // A failed call hands out no name: its callers free no out value then.
  if (FAILED(hr) && name != nullptr && *name != nullptr) {
    SysFreeString(*name);
    *name = nullptr;
  }
  return hr;
}

HRESULT GetDiagramName(IKXQApplication* application, IKXQObject* diagram, BSTR* name, bool decorate,
                       int32_t status) {
  return ServeRequest(nullptr, kFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, name);
    *name = nullptr;
    _bstr_t documentName;
    GetAttributeString(diagram, documentName, u"DocumentName", -1);
    if (documentName.length() == 0) GetObjectName(diagram, documentName, true);
    std::u16string result = Text(documentName);
    if (decorate) {
      IKXQClassPtr cls;
      GetObjectClass(diagram, cls);
      _bstr_t className;
      if (cls) KX_CHECK(ctx, cls->get_Name(className.GetAddress()));
      _bstr_t drawingTemplate;
      GetAttributeString(diagram, drawingTemplate, u"DrawingTemplate", -1);
      const std::u16string label =
          drawingTemplate.length() > 0 ? Text(drawingTemplate) : Text(className);
      result += u" [" + label + u"]";
      BSTR decorated = nullptr;
      KX_CHECK(ctx,
               DecorateNameWithStatus(application, diagram, result.c_str(), status, &decorated));
      *name = decorated;
      return S_OK;
    }
    *name = NewBstr(result);
    return S_OK;
  });
}

HRESULT GetDatasheetObjects(IKXQApplication* application, IKXQObject* datasheet,
                            SAFEARRAY** objects) {
  return ServeRequest(nullptr, kFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, objects);
    *objects = nullptr;
    if (datasheet == nullptr) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG,
                              u"Object is not a valid datasheet");
    }
    IKXQTemplatePtr tmpl;
    KX_CHECK(ctx, GetTemplate(application, datasheet, &tmpl, 1));
    if (!tmpl) return S_OK;
    SAFEARRAY* rawClasses = nullptr;
    KX_CHECK(ctx, GetTemplateClasses(tmpl, &rawClasses));
    VariantUtil::SafeArrayVector classes(rawClasses, true);
    IKXQAttributePtr pages;
    const int32_t count = GetAttributeInterfaceAndCountByName(datasheet, u"CurrentPages", pages);
    std::unordered_set<IKXQObject*> seen;
    ComPtrArray<IKXQObject> collected;
    for (int32_t i = 1; i <= count; ++i) {
      IKXQObjectPtr page;
      GetAttributeAsObject(pages, i, page);
      if (!page) continue;
      IKXQTemplatePagePtr templatePage;
      KX_CHECK(ctx, GetTemplatePage(application, page, &templatePage, 1));
      if (!templatePage) return S_OK;
      SAFEARRAY* roots = nullptr;
      KX_CHECK(ctx, templatePage->get_RootNodes(&roots));
      VariantUtil::SafeArrayVector nodes(roots, true);
      _bstr_t format;
      KX_CHECK(ctx, templatePage->get_ContinuousFormat(format.GetAddress()));
      const bool continuous = format.length() > 0;
      for (int32_t k = 0; k < nodes.Count(); ++k) {
        IKXQClassView* rawNode = nullptr;
        KX_CHECK(ctx, nodes.GetInterfaceAt(k, &rawNode));
        IKXQClassViewPtr node;
        node.Attach(rawNode);
        IKXQObjectPtr object;
        GetNodeObject(object, page, node);
        if (!object) continue;
        IKXQClassPtr cls;
        GetObjectClass(object, cls);
        if (!IsClassInArray(cls, classes.Array())) continue;
        if (!continuous) {
          AddDistinct(seen, collected, object);
          continue;
        }
        const int32_t position = GetObjectNodeIndex(page, object, nullptr);
        IKXQAttributePtr nodeObjects;
        GetAttributeInterface(page, u"NodeObjects", nodeObjects);
        const int32_t n = GetAttributeCount(nodeObjects);
        for (int32_t r = 0; r <= n - position; ++r) {
          IKXQObjectPtr row;
          GetNodeObjectAtRow(row, page, r, node);
          AddDistinct(seen, collected, row);
        }
      }
    }
    SAFEARRAY* array =
        SafeArrayCreateVector(VT_VARIANT, 1, static_cast<ULONG>(collected.GetCount()));
    if (array == nullptr) _com_issue_error(E_OUTOFMEMORY);
    for (int32_t i = 0; i < collected.GetCount(); ++i) {
      VARIANT element;
      VariantInit(&element);
      element.vt = VT_DISPATCH;
      element.pdispVal = collected.GetAt(i);  // borrowed: the array copies it
      LONG index = i + 1;
      const HRESULT hr = SafeArrayPutElement(array, &index, &element);
      if (FAILED(hr)) {
        SafeArrayDestroy(array);
        KX_CHECK(ctx, hr);
      }
    }
    *objects = array;
    return S_OK;
  });
}

bool IsDatasheetScoped(IKXQApplication* application, IKXQObject* datasheet, int32_t mode) {
  bool seen = false;
  bool answer = false;
  bool walked = false;
  const auto work = [&](KXComException& ctx) {
    DocumentPages pages(datasheet, 1);
    const int32_t count = pages.Count();
    for (int32_t i = 1; i <= count && !answer; ++i) {
      IKXQObjectPtr page;
      pages.Page(i, page);
      if (!page) continue;
      IKXQTemplatePagePtr templatePage;
      KX_CHECK(ctx, GetTemplatePage(application, page, &templatePage, 1));
      // A page whose template page is unknown cannot be judged: the walk
      // fails there.
      CheckPointerArgument(ctx, templatePage.GetInterfacePtr());
      SAFEARRAY* roots = nullptr;
      bool owned = true;
      KX_CHECK(ctx, GetTemplatePageRoots(templatePage, &roots, &owned));
      const bool pageAnswer = IsDataViewScoped(page, roots, seen, mode);
      if (owned) SafeArrayDestroy(roots);
      answer = pageAnswer;
    }
    walked = true;
    return S_OK;
  };
  (void)ServeRequest(nullptr, FrameOptions{.file = kFile, .absorbFailure = true}, work);
  // After an absorbed failure the answer is what was reached: no unless yes.
  if (answer || !walked) return answer;
  return !seen;
}

bool DiagramObjectsInScope(IKXQObject* diagram, int32_t status) {
  KXComException ctx(u"KXDBDatasheetSvcs::DiagramObjectsInScope", 0);
  if (!IsObjectScoped(diagram)) return false;
  IKXQObjectPtr schematic;
  KX_CHECK(ctx, GetSchematicByStatus(diagram, status, &schematic));
  // A missing schematic reaches the caller; a failure while reading its
  // elements answers false, reported under the same name.
  bool answer = false;
  const auto work = [&](KXComException&) {
    IKXQAttributePtr elements;
    const int32_t count =
        GetAttributeInterfaceAndCountByName(schematic, u"DrawnElements", elements);
    for (int32_t i = 1; i <= count && !answer; ++i) {
      IKXQObjectPtr element;
      GetAttributeAsObject(elements, i, element);
      if (!element || !ClassHasAttribute(element, u"Represents")) continue;
      IKXQObjectPtr represented;
      GetAttributeObjectByName(element, represented, u"Represents");
      if (represented && IsObjectScoped(represented)) answer = true;
    }
    return S_OK;
  };
  (void)ServeRequest(u"KXDBDatasheetSvcs::DiagramObjectsInScope",
                     FrameOptions{.file = kFile, .silent = true, .absorbFailure = true}, work);
  return answer;
}

bool IsObjectInUse(IKXQObject* object) {
  if (object == nullptr) return false;
  SAFEARRAY* users = nullptr;
  if (FAILED(object->get_Users(&users)) || users == nullptr) return false;
  bool inUse = false;
  if (SafeArrayGetDim(users) == 2) {
    LONG lower = 0;
    LONG upper = -1;
    if (SUCCEEDED(SafeArrayGetLBound(users, 2, &lower)) &&
        SUCCEEDED(SafeArrayGetUBound(users, 2, &upper))) {
      inUse = upper >= lower;
    }
  }
  SafeArrayDestroy(users);
  return inUse;
}

const _bstr_t& GetObjectNameWithReason(_bstr_t& name, IKXQObject* object) {
  GetObjectName(object, name, false);
  if (name.length() > 0) name += _bstr_t(u": ");
  _bstr_t reason;
  GetAttributeString(object, reason, u"CreatedReason", -1);
  if (reason.length() > 0) name += reason;
  return name;
}

}  // namespace KXDBDatasheetSvcs
