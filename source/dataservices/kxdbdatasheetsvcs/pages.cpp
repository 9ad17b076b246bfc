#include "pages.h"

#include <string>
#include <vector>

#include "com/wstr.h"
#include "kxcomexception.h"
#include "kxdbdatasheetpages.h"
#include "kxdbdatasheetutils.h"
#include "kxstoreutils.h"
#include "main.h"
#include "xmlreply.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/pages";

int32_t ObjectId(KXComException& ctx, IKXQObject* object) {
  LONG id = 0;
  if (object != nullptr) KX_CHECK(ctx, object->get_Id(&id));
  return id;
}

int32_t PageNumberOf(IKXQObject* page, bool* hasValue = nullptr) {
  IKXQAttributePtr number;
  GetAttributeInterface(page, u"PageNumber", number);
  if (!number) {
    if (hasValue != nullptr) *hasValue = false;
    return 0;
  }
  return GetAttributeAsInteger(number, hasValue);
}

void SetPageNumber(IKXQObject* page, int32_t number) {
  SetAttributeLong(page, u"PageNumber", number, -1);
}

IKXQObjectPtr LookUp(Main& main, int32_t id) {
  IKXQObjectPtr object;
  GetStoreObject(main.m_pDatabase, object, id);
  return object;
}

// One integer directive at text[at] ("%" flags width [.precision] [h|l|ll]
// d/i/u): its length, or 0 when the sequence is anything else.
size_t IntegerDirective(std::u16string_view text, size_t at, std::u16string& flags,
                        int* width, int* precision, bool* isUnsigned) {
  size_t i = at + 1;
  flags.clear();
  while (i < text.size() && std::u16string_view(u"-+ 0#").find(text[i]) != std::u16string_view::npos) {
    flags += text[i++];
  }
  *width = 0;
  while (i < text.size() && text[i] >= u'0' && text[i] <= u'9') {
    *width = std::min(*width * 10 + (text[i++] - u'0'), 1000);
  }
  *precision = -1;
  if (i < text.size() && text[i] == u'.') {
    *precision = 0;
    ++i;
    while (i < text.size() && text[i] >= u'0' && text[i] <= u'9') {
      *precision = std::min(*precision * 10 + (text[i++] - u'0'), 1000);
    }
  }
  while (i < text.size() && (text[i] == u'l' || text[i] == u'h')) ++i;
  if (i >= text.size()) return 0;
  if (text[i] != u'd' && text[i] != u'i' && text[i] != u'u') return 0;
  *isUnsigned = text[i] == u'u';
  return i + 1 - at;
}

std::u16string FormatInteger(int32_t value, const std::u16string& flags, int width, int precision,
                             bool isUnsigned) {
  const bool left = flags.find(u'-') != std::u16string::npos;
  const bool plus = flags.find(u'+') != std::u16string::npos;
  const bool space = flags.find(u' ') != std::u16string::npos;
  const bool zero = flags.find(u'0') != std::u16string::npos && !left && precision < 0;
  const unsigned long long magnitude =
      isUnsigned ? static_cast<uint32_t>(value)
                 : (value < 0 ? 0ULL - static_cast<long long>(value) : static_cast<unsigned long long>(value));
  std::u16string digits;
  for (unsigned long long m = magnitude; m != 0; m /= 10) digits.insert(digits.begin(), static_cast<char16_t>(u'0' + m % 10));
  if (precision < 0 && digits.empty()) digits = u"0";
  while (static_cast<int>(digits.size()) < precision) digits.insert(digits.begin(), u'0');
  std::u16string sign;
  if (!isUnsigned && value < 0) {
    sign = u"-";
  } else if (!isUnsigned && plus) {
    sign = u"+";
  } else if (!isUnsigned && space) {
    sign = u" ";
  }
  std::u16string out;
  const int pad = width - static_cast<int>(sign.size() + digits.size());
  if (pad > 0 && zero) {
    out = sign + std::u16string(static_cast<size_t>(pad), u'0') + digits;
  } else if (pad > 0 && left) {
    out = sign + digits + std::u16string(static_cast<size_t>(pad), u' ');
  } else if (pad > 0) {
    out = std::u16string(static_cast<size_t>(pad), u' ') + sign + digits;
  } else {
    out = sign + digits;
  }
  return out;
}

}  // namespace

namespace KXDBDatasheetSvcs {

_bstr_t FormatPageName(const OLECHAR* name, int32_t pageNumber) {
  const std::u16string_view text = name != nullptr ? std::u16string_view(name) : std::u16string_view();
  if (text.empty()) {
    if (pageNumber == -1) return _bstr_t(u"Unnamed");
    return _bstr_t(kx_format(u"%d", pageNumber).c_str());
  }
  // The original gave the formatter a buffer of the name's length plus 8
  // characters, terminator included.
  const size_t limit = text.size() + 7;
  std::u16string out;
  bool used = false;
  for (size_t i = 0; i < text.size() && out.size() < limit;) {
    if (text[i] != u'%') {
      out += text[i++];
      continue;
    }
    if (i + 1 < text.size() && text[i + 1] == u'%') {
      out += u'%';
      i += 2;
      continue;
    }
    std::u16string flags;
    int width = 0;
    int precision = -1;
    bool isUnsigned = false;
    const size_t length = used ? 0 : IntegerDirective(text, i, flags, &width, &precision, &isUnsigned);
    if (length == 0) {
      out += text[i++];  // not ours to interpret: shown as written
      continue;
    }
    out += FormatInteger(pageNumber, flags, width, precision, isUnsigned);
    used = true;
    i += length;
  }
  if (out.size() > limit) out.resize(limit);
  return _bstr_t(out.c_str());
}

void GetPageDisplayName(IKXQObject* page, BSTR* name) {
  KXComException ctx = KXComException::Silent(u"KXDBDatasheetSvcs::GetPageDisplayName");
  CheckPointerArgument(ctx, name);
  *name = nullptr;
  CheckPointerArgument(ctx, page);
  _bstr_t stored;
  IKXQAttributePtr nameAttribute;
  GetAttributeInterfaceAt(page, u"Name", nameAttribute, -1);
  if (nameAttribute) GetAttributeValueString(nameAttribute, stored);
  bool numbered = false;
  const int32_t number = PageNumberOf(page, &numbered);
  *name = FormatPageName(stored, numbered ? number : -1).Detach();
}

IKXQObjectPtr GetTargetDatasheet(Main& main, const OLECHAR* targetId) {
  return LookUp(main, _wtol(targetId != nullptr ? targetId : u""));
}

IKXQObjectPtr GetCurrentPage(Main& main, int32_t pageId, IKXQObjectPtr& datasheet) {
  KXComException ctx = KXComException::Silent();
  const IKXQObjectPtr page = LookUp(main, pageId);
  _bstr_t holder;
  if (IsObjectOfClass(page, u"Page")) {
    BSTR name = nullptr;
    KX_CHECK(ctx, page->get_HoldingAttributeName(&name));
    holder = _bstr_t(name, false);
  }
  if (holder.view() != u"CurrentPages") {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG,
                            u"Object %d is not a current page of a datasheet", pageId);
  }
  GetOwnerObject(page, datasheet);
  return page;
}

void RenumberPages(IKXQObject* datasheet, IKXQObject* page, IKXQObject* anchor, bool before) {
  KXComException ctx = KXComException::Silent(u"KXDBDatasheetSvcs::RenumberPages");
  CheckPointerArgument(ctx, datasheet);
  CheckPointerArgument(ctx, page);
  // Moving a page next to itself would only reorder the rest.
  if (page == anchor) return;
  IKXQAttributePtr pages;
  const int32_t count = GetPagesAttributeByStatus(datasheet, 1, pages);

  std::vector<IKXQObjectPtr> old;
  std::vector<IKXQObjectPtr> placed;
  old.reserve(static_cast<size_t>(count));
  placed.reserve(static_cast<size_t>(count) + 1);
  int32_t shift = 0;
  bool anchored = false;
  for (int32_t i = 1; i <= count; ++i) {
    IKXQObjectPtr value;
    GetAttributeAsObject(pages, i, value);
    old.push_back(value);
    // An empty slot and the page's own old entry drop out of the list.
    if (!value || value.GetInterfacePtr() == page) {
      --shift;
      continue;
    }
    if (value.GetInterfacePtr() == anchor) {
      const int32_t number = PageNumberOf(anchor);
      if (before) {
        placed.push_back(page);
        SetPageNumber(page, number + shift);
        ++shift;
        placed.push_back(value);
        SetPageNumber(anchor, number + shift);
      } else {
        placed.push_back(value);
        if (shift != 0) SetPageNumber(anchor, number + shift);
        ++shift;
        placed.push_back(page);
        SetPageNumber(page, number + shift);
      }
      anchored = true;
      continue;
    }
    placed.push_back(value);
    if (shift != 0) SetPageNumber(value, PageNumberOf(value) + shift);
  }
  if (!anchored) {
    placed.push_back(page);
    SetPageNumber(page, static_cast<int32_t>(placed.size()));
  }

  // Only the tail from the first changed position is taken out and put back.
  size_t same = 0;
  while (same < old.size() && same < placed.size() &&
         old[same].GetInterfacePtr() == placed[same].GetInterfacePtr()) {
    ++same;
  }
  for (int32_t k = count; k > static_cast<int32_t>(same); --k) {
    IKXQObjectPtr& value = old[static_cast<size_t>(k - 1)];
    if (value) KX_CHECK(ctx, value->Unlink());
  }
  ResizeAttributeValues(pages, static_cast<int32_t>(same));
  for (size_t k = same; k < placed.size(); ++k) {
    SetAttributeObjectAt(pages, static_cast<int32_t>(k + 1), placed[k]);
  }
}

void InsertPage(Main& main, const OLECHAR* targetId, int32_t objectId, const OLECHAR* templateId,
                const OLECHAR* templatePageId, InsertPagesState& state) {
  KXComException ctx = KXComException::Silent(u"KXDBDatasheetSvcs::InsertPages");
  const IKXQObjectPtr datasheet = GetTargetDatasheet(main, targetId);
  IKXQObjectPtr object;
  if (objectId > 0) object = LookUp(main, objectId);
  IKXQAttributePtr defaultCase;
  GetAttributeInterface(datasheet, u"DefaultCase", defaultCase);
  const int32_t caseId = defaultCase ? GetAttributeAsInteger(defaultCase) : 0;

  CheckPointerArgument(ctx, main.m_pApplication);
  IKXQTemplateLibraryPtr library;
  KX_CHECK(ctx, main.m_pApplication->get_TemplateLibrary(&library));
  CheckPointerArgument(ctx, library.GetInterfacePtr());
  IKXQTemplatePtr tmpl;
  KX_CHECK(ctx, library->GetTemplate(_bstr_t(templateId), _variant_t(), &tmpl));
  CheckPointerArgument(ctx, tmpl.GetInterfacePtr(), u"Unable to find template %ls",
                       templateId != nullptr ? templateId : u"");
  IKXQTemplatePagePtr templatePage;
  KX_CHECK(ctx, tmpl->get_PageById(_bstr_t(templatePageId), &templatePage));
  CheckPointerArgument(ctx, templatePage.GetInterfacePtr(), u"Unable to find template page %ls",
                       templatePageId != nullptr ? templatePageId : u"");
  BSTR format = nullptr;
  KX_CHECK(ctx, templatePage->get_ContinuousFormat(&format));
  const bool continuous = _bstr_t(format, false).length() > 0;

  IKXQTemplatePtr own;
  KX_CHECK(ctx, GetTemplate(main.m_pApplication, datasheet, &own, 1));
  if (own) {
    BSTR kind = nullptr;
    KX_CHECK(ctx, own->get_Kind(&kind));
    const _bstr_t heldKind(kind, false);
    if (_wcsicmp(heldKind.length() ? static_cast<const OLECHAR*>(heldKind) : u"", u"Summary") == 0) {
      // One alert per request: a reply holds one message.
      if (!state.alerted) {
        XMLReply::BeginMessage(main, u"App", -1);
        XMLReply::WriteMessage(main, u"ALERT", -1,
                               _bstr_t(u"Pages cannot be added to summary sheets."));
        XMLReply::EndMessage(main);
        state.alerted = true;
      }
      return;
    }
  }

  IKXQObjectPtr page;
  KX_CHECK(ctx, templatePage->CreatePage(datasheet, continuous ? nullptr : object.GetInterfacePtr(),
                                         caseId, 1, &page));
  CheckPointerArgument(ctx, page.GetInterfacePtr());
  if (continuous) {
    KX_CHECK(ctx, AddObjectsToNewPage(main, page, tmpl));
    if (ClassHasAttribute(datasheet, u"HasSummary")) SetAttributeLong(datasheet, u"HasSummary", 1, -1);
  }
  KX_CHECK(ctx, KXDBDatasheetServices::InitializePageTrigger(main, page));

  IKXQObjectPtr anchor;
  if (state.anchorPageId > 0 && FAILED(main.m_pDatabase->get_Object(state.anchorPageId, &anchor))) {
    ClearThreadErrorInfo();  // an anchor that is gone: the page goes to the end
    anchor = nullptr;
  }
  RenumberPages(datasheet, page, anchor, state.before);
  if (!state.before) state.anchorPageId = ObjectId(ctx, page);

  IKXQAttributePtr count;
  GetAttributeInterface(datasheet, u"NumberOfPages", count);
  SetAttributeLong(datasheet, u"NumberOfPages", (count ? GetAttributeAsInteger(count) : 0) + 1, -1);
}

void DeletePage(Main& main, const OLECHAR* request) {
  KXComException ctx = KXComException::Silent(u"KXDBDatasheetSvcs::DeletePage");
  IKXQObjectPtr datasheet;
  const IKXQObjectPtr page =
      GetCurrentPage(main, _wtol(request != nullptr ? request : u""), datasheet);
  const int32_t deleted = PageNumberOf(page);
  KX_CHECK(ctx, page->Delete());
  if (!datasheet) return;
  IKXQAttributePtr count;
  GetAttributeInterface(datasheet, u"NumberOfPages", count);
  SetAttributeLong(datasheet, u"NumberOfPages", (count ? GetAttributeAsInteger(count) : 0) - 1, -1);
  ForEachCurrentPage(datasheet, [&](IKXQObject* other) {
    const int32_t number = PageNumberOf(other);
    if (number > deleted) SetPageNumber(other, number - 1);
  });
  KX_CHECK(ctx, main.LaunchDatasheetEvent(datasheet, 1));
}

void SetAttributeBoolByName(IKXQObject* page, const OLECHAR* name, bool value, int32_t selector) {
  KXComException ctx = KXComException::Silent();
  IKXQAttributePtr attribute;
  GetAttributeInterfaceAt(page, name, attribute, selector);
  CheckPointerArgument(ctx, attribute.GetInterfacePtr(), u"The page has no attribute %ls", name);
  VARIANT flag;
  flag.vt = VT_BOOL;
  flag.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  KX_CHECK(ctx, attribute->PutValue(_variant_t(), _variant_t(), flag));
}

void SetAttributeRealByName(IKXQObject* page, const OLECHAR* name, double value, int32_t selector) {
  KXComException ctx = KXComException::Silent();
  IKXQAttributePtr attribute;
  GetAttributeInterfaceAt(page, name, attribute, selector);
  CheckPointerArgument(ctx, attribute.GetInterfacePtr(), u"The page has no attribute %ls", name);
  KX_CHECK(ctx, attribute->PutValue(_variant_t(), _variant_t(), _variant_t(value)));
}

}  // namespace KXDBDatasheetSvcs

// ---------------------------------------------------------------------------
// Grammars, parsers, workers and handlers.

namespace {

using namespace KXDBDatasheetSvcs;

// A worker's frame: failures come back as HRESULTs with the thread's
// "<KXError" description; nothing is thrown into the parser.
template <class Work>
HRESULT RunPageWorker(const OLECHAR* name, Work&& work) {
  KXComException ctx = KXComException::Silent(name);
  try {
    work(ctx);
    return S_OK;
  }
  KX_CATCH(ctx, KX_HERE(kFile))
  return ctx.Return();
}

// A page named by a request: an object of class "Page".
IKXQObjectPtr RequirePage(Main& main, int32_t pageId) {
  KXComException ctx = KXComException::Silent();
  const IKXQObjectPtr page = LookUp(main, pageId);
  if (!IsObjectOfClass(page, u"Page")) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG, u"Object %d is not a page", pageId);
  }
  return page;
}

void LaunchTargetEvent(KXComException& ctx, Main& main, const SAXText& targetId) {
  const IKXQObjectPtr datasheet = GetTargetDatasheet(main, targetId.c_str());
  KX_CHECK(ctx, main.LaunchDatasheetEvent(datasheet, 1));
}

}  // namespace

// ---- InsertPages ----

const GrammarRecord* InsertPagesSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Table(
      Grammar::Envelope(TargetId, Status),
      Grammar::Element(u"InsertPages", 1, {Grammar::Integer(u"PageId", PageId),
                                           Grammar::Boolean(u"Before", Before),
                                           Grammar::Child(Page)}),
      Grammar::Element(u"Page", Page, {Grammar::Integer(u"ObjectId", ObjectId),
                                       Grammar::String(u"TemplateId", TemplateId),
                                       Grammar::String(u"TemplatePageId", TemplatePageId)}));
  return kGrammar.data();
}

HRESULT InsertPagesMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case PageId: return Store(m_state.anchorPageId, value);
    case Before: return Store(m_state.before, value);
    case ObjectId: return Store(m_objectId, value);
    case TemplateId: return Store(m_templateId, value);
    case TemplatePageId: return Store(m_templatePageId, value);
    default: return E_INVALIDARG;
  }
}

HRESULT InsertPagesMessageParser::WorkChild(uint32_t element) {
  if (element != Page) return E_INVALIDARG;
  const HRESULT hr = InsertPage();
  m_objectId = -1;  // the next "Page" starts afresh
  m_templateId.Reset();
  m_templatePageId.Reset();
  return hr;
}

HRESULT InsertPagesMessageParser::InsertPage() {
  return RunPageWorker(u"KXDBDatasheetSvcs::InsertPages", [&](KXComException&) {
    KXDBDatasheetSvcs::InsertPage(*m_pMain, m_targetId.c_str(), m_objectId, m_templateId.c_str(),
                                  m_templatePageId.c_str(), m_state);
  });
}

HRESULT InsertPagesMessageParser::InsertPagesDone() {
  return RunPageWorker(u"KXDBDatasheetSvcs::InsertPages",
                       [&](KXComException& ctx) { LaunchTargetEvent(ctx, *m_pMain, m_targetId); });
}

HRESULT Main::InsertPages(const OLECHAR* request) {
  return ServeMessage<InsertPagesMessageParser>(*this, u"KXDBDatasheetSvcs::InsertPages", request);
}

// ---- DeletePage ----

HRESULT Main::DeletePage(const OLECHAR* request) {
  return ServeRequest(u"KXDBDatasheetSvcs::DeletePage", [&](KXComException&) {
    KXDBDatasheetSvcs::DeletePage(*this, request);
    return S_OK;
  });
}

// ---- RenamePage ----

const GrammarRecord* RenamePageSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Message(
      u"RenamePage", {Grammar::Integer(u"PageId", PageId), Grammar::String(u"Name", Name)});
  return kGrammar.data();
}

HRESULT RenamePageMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case PageId: return Store(m_pageId, value);
    case Name: return Store(m_name, value);
    default: return E_INVALIDARG;
  }
}

HRESULT RenamePageMessageParser::RenamePage() {
  return RunPageWorker(u"KXDBDatasheetSvcs::RenamePage", [&](KXComException& ctx) {
    const IKXQObjectPtr page = RequirePage(*m_pMain, m_pageId);
    IKXQAttributePtr name;
    GetAttributeInterfaceAt(page, u"Name", name, -1);
    SetAttributeString(name, m_name.c_str() != nullptr ? m_name.c_str() : u"");
    LaunchTargetEvent(ctx, *m_pMain, m_targetId);
  });
}

HRESULT Main::RenamePage(const OLECHAR* request) {
  return ServeMessage<RenamePageMessageParser>(*this, u"KXDBDatasheetSvcs::RenamePage", request);
}

// ---- MovePage ----

const GrammarRecord* MovePageSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Message(
      u"MovePage", {Grammar::Integer(u"MovePageId", MovePageId), Grammar::Integer(u"PageId", PageId),
                    Grammar::Boolean(u"Before", Before)});
  return kGrammar.data();
}

HRESULT MovePageMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case MovePageId: return Store(m_movePageId, value);
    case PageId: return Store(m_anchorPageId, value);
    case Before: return Store(m_before, value);
    default: return E_INVALIDARG;
  }
}

HRESULT MovePageMessageParser::MovePage() {
  return RunPageWorker(u"KXDBDatasheetSvcs::MovePage", [&](KXComException& ctx) {
    const IKXQObjectPtr datasheet = GetTargetDatasheet(*m_pMain, m_targetId.c_str());
    IKXQObjectPtr owner;
    const IKXQObjectPtr page = GetCurrentPage(*m_pMain, m_movePageId, owner);
    // A page of another datasheet must not join this one's list.
    if (owner.GetInterfacePtr() != datasheet.GetInterfacePtr()) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG,
                              u"Page %d is not a current page of datasheet %ls", m_movePageId,
                              m_targetId.c_str() != nullptr ? m_targetId.c_str() : u"");
    }
    IKXQObjectPtr anchor;
    if (m_anchorPageId > 0 && FAILED(m_pMain->m_pDatabase->get_Object(m_anchorPageId, &anchor))) {
      ClearThreadErrorInfo();  // no such anchor: the page goes to the end
      anchor = nullptr;
    }
    RenumberPages(datasheet, page, anchor, m_before);
    KX_CHECK(ctx, m_pMain->LaunchDatasheetEvent(datasheet, 1));
  });
}

HRESULT Main::MovePage(const OLECHAR* request) {
  return ServeMessage<MovePageMessageParser>(*this, u"KXDBDatasheetSvcs::MovePage", request);
}

// ---- SetPageCase ----

const GrammarRecord* SetPageCaseSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Message(
      u"SetPageCase", {Grammar::Integer(u"PageId", PageId), Grammar::Integer(u"CaseId", CaseId)});
  return kGrammar.data();
}

HRESULT SetPageCaseMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case PageId: return Store(m_pageId, value);
    case CaseId: return Store(m_caseId, value);
    default: return E_INVALIDARG;
  }
}

HRESULT SetPageCaseMessageParser::SetPageCase() {
  return RunPageWorker(u"KXDBDatasheetSvcs::SetPageCase", [&](KXComException& ctx) {
    const IKXQObjectPtr page = RequirePage(*m_pMain, m_pageId);
    IKXQAttributePtr cases;
    GetAttributeInterface(page, u"Cases", cases);
    CheckPointerArgument(ctx, cases.GetInterfacePtr());
    bool present = false;
    if (GetAttributeIntegerAt(cases, 1, &present) == m_caseId && present) return;
    KX_CHECK(ctx, SetCaseAt(page, 0, m_caseId));
    KX_CHECK(ctx, m_pMain->LaunchPageEvent(page, 1));
  });
}

HRESULT Main::SetPageCase(const OLECHAR* request) {
  return ServeMessage<SetPageCaseMessageParser>(*this, u"KXDBDatasheetSvcs::SetPageCase", request);
}

// ---- PageLayout ----

const GrammarRecord* PageLayoutSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Message(
      u"PageLayout",
      {Grammar::Integer(u"PageId", PageId), Grammar::Integer(u"Orientation", Orientation),
       Grammar::Integer(u"ScaleMode", ScaleMode), Grammar::Real(u"ScaleFactor", ScaleFactor),
       Grammar::Boolean(u"CenterHorizontal", CenterHorizontal),
       Grammar::Boolean(u"CenterVertical", CenterVertical),
       Grammar::Integer(u"TopMargin", TopMargin), Grammar::Integer(u"LeftMargin", LeftMargin),
       Grammar::Integer(u"BottomMargin", BottomMargin),
       Grammar::Integer(u"RightMargin", RightMargin), Grammar::Integer(u"PaperSize", PaperSize),
       Grammar::Integer(u"PaperWidth", PaperWidth), Grammar::Integer(u"PaperLength", PaperLength),
       Grammar::Integer(u"PaperSource", PaperSource)});
  return kGrammar.data();
}

HRESULT PageLayoutMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  static constexpr const OLECHAR* kNames[] = {
      u"Orientation", u"ScaleMode",   u"ScaleFactor",  u"CenterHorizontal", u"CenterVertical",
      u"TopMargin",   u"LeftMargin",  u"BottomMargin", u"RightMargin",      u"PaperSize",
      u"PaperWidth",  u"PaperLength", u"PaperSource"};
  if (id < PageId || id > PaperSource) return E_INVALIDARG;
  return RunPageWorker(u"KXDBDatasheetSvcs::PageLayout", [&](KXComException&) {
    if (id == PageId) {
      m_page = RequirePage(*m_pMain, value.integer);
      return;
    }
    if (!m_page) return;
    const OLECHAR* name = kNames[id - Orientation];
    if (id == ScaleFactor) {
      SetAttributeRealByName(m_page, name, value.real, -1);
    } else if (id == CenterHorizontal || id == CenterVertical) {
      SetAttributeBoolByName(m_page, name, value.boolean != 0, -1);
    } else {
      SetAttributeLong(m_page, name, value.integer, -1);
    }
  });
}

HRESULT PageLayoutMessageParser::PageLayoutDone() {
  return RunPageWorker(u"KXDBDatasheetSvcs::PageLayout",
                       [&](KXComException& ctx) { LaunchTargetEvent(ctx, *m_pMain, m_targetId); });
}

HRESULT Main::PageLayout(const OLECHAR* request) {
  return ServeMessage<PageLayoutMessageParser>(*this, u"KXDBDatasheetSvcs::PageLayout", request);
}
