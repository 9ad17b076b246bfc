#include "properties/datasheetdimensions.h"

#include <string>
#include <string_view>

#include "com/wstr.h"
#include "kxattributeutils.h"
#include "kxstoreutils.h"
#include "model/kxdbdatasheetpages.h"
#include "model/kxdbdatasheetutils.h"
#include "variantutil.h"
#include "xmlreply.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/datasheetdimensions";
constexpr FrameOptions kWorkerFrame{.file = kFile, .silent = true};

const OLECHAR* TextOf(const SAXText& text) { return text.IsNull() ? u"" : text.c_str(); }

// A name of any length may arrive: an error quotes its start.
std::u16string QuotedStart(const OLECHAR* text) {
  constexpr size_t kQuoted = 64;
  const std::u16string_view all(text != nullptr ? text : u"");
  if (all.size() <= kQuoted) return std::u16string(all);
  return std::u16string(all.substr(0, kQuoted)) + u"...";
}

// The datasheet named by the envelope's "TargetId" (decimal; none is 0,
// which the store does not know). A text that holds no id ("1000٢"
// is no 1000), or one of an object that is no datasheet, is refused
// naming it.
IKXQObjectPtr TargetDatasheet(MainContext& main, const SAXText& targetId) {
  IKXQObjectPtr datasheet;
  const int32_t id = MessageKit::ReadBareId(TextOf(targetId), u"attribute TargetId");
  KXDBDatasheetSvcs::GetObjectOfClass(main.m_pDatabase, id, {u"Datasheet"}, u"a datasheet",
                                      datasheet);
  return datasheet;
}

// Runs `work` in an error frame named `worker`.
template <class Work>
HRESULT Frame(const OLECHAR* worker, Work&& work) {
  return ServeRequest(worker, kWorkerFrame, [&](KXComException& ctx) {
    work(ctx);
    return S_OK;
  });
}

}  // namespace

namespace KXDBDatasheetSvcs {

IKXQSchema* RequireSchema(MainContext& main) {
  if (main.m_pSchema == nullptr) {
    KXComException ctx = KXComException::Silent();
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"Do not have access to object store");
  }
  return main.m_pSchema;
}

void CollectDimensionSetNames(MainContext& main, SortedStringArray& names) {
  KXComException ctx = KXComException::Silent();
  SAFEARRAY* sets = nullptr;
  KX_CHECK(ctx, RequireSchema(main)->get_DimensionSetNames(&sets));
  ForEachArrayText(sets, [&](BSTR name) { names.Add(name); });
}

_bstr_t RequireDimensionSet(MainContext& main, const OLECHAR* set) {
  RequireSchema(main);
  const _bstr_t spelling = FindDimensionSetName(main, set);
  if (spelling.length() > 0) return spelling;
  KXComException ctx = KXComException::Silent();
  ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG, u"Unknown dimension set '%ls'",
                          QuotedStart(set).c_str());
}

void RequireDimensionUnit(MainContext& main, const OLECHAR* dimension, const OLECHAR* unitId) {
  KXComException ctx = KXComException::Silent();
  const OLECHAR* unit = unitId != nullptr ? unitId : u"";
  _com_ptr_t<IKXQDimension> found;
  const HRESULT hr = RequireSchema(main)->get_Dimension(_bstr_t(dimension), &found);
  if (hr == KXQ_E_NOTFOUND || (SUCCEEDED(hr) && !found)) {
    ClearThreadErrorInfo();
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG,
                            u"Unknown dimension '%ls' for unit '%ls'",
                            QuotedStart(dimension).c_str(), QuotedStart(unit).c_str());
  }
  KX_CHECK(ctx, hr);
  // No unit is the field's default one: every value stays readable.
  if (unit[0] == u'\0') return;
  SAFEARRAY* units = nullptr;
  KX_CHECK(ctx, found->get_UnitIds(&units));
  bool known = false;
  ForEachArrayText(units,
                   [&](BSTR id) { known = known || (id != nullptr && kx_wcscmp(id, unit) == 0); });
  if (known) return;
  ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG,
                          u"Unit '%ls' is not a unit of dimension '%ls'", QuotedStart(unit).c_str(),
                          QuotedStart(dimension).c_str());
}

void ForEachArrayText(SAFEARRAY* array, const std::function<void(BSTR text)>& visit) {
  if (array == nullptr) return;
  VariantUtil::SafeArrayVector items;
  if (FAILED(items.Attach(array, true))) {
    KXComException ctx = KXComException::Silent();
    ctx.TakeThreadErrorInfo();
    (void)SafeArrayDestroy(array);
    ctx.hr = E_INVALIDARG;
    ThrowIfFailed(ctx);
  }
  for (int32_t i = 0; i < items.Count(); ++i) {
    LONG index = items.LowerBound() + i;
    _variant_t element;
    KXComException ctx = KXComException::Silent();
    KX_CHECK(ctx,
             VariantUtil::GetSafeArrayElement(items.Array(), items.Vartype(), &index, &element));
    if (element.vt == VT_BSTR) {
      visit(element.bstrVal);
      continue;
    }
    BSTR text = nullptr;
    VariantUtil::FormatForXML(element, &text);
    _bstr_t held(text, false);
    visit(held.GetBSTR());
  }
}

void WriteNameList(HostConnection& reply, const OLECHAR* list, const OLECHAR* item,
                   const SortedStringArray& names) {
  XMLReply::StartElement(reply, list);
  for (int32_t i = 0; i < names.GetCount(); ++i) {
    _bstr_t name(names.GetAt(i));
    XMLReply::AddStringAttribute(reply, u"Name", name.GetBSTR());
    XMLReply::WriteElement(reply, item, nullptr);
  }
  XMLReply::EndElement(reply, list);
}

void WriteDimensionUnitList(MainContext& main, const OLECHAR* dimension) {
  KXComException ctx = KXComException::Silent();
  _bstr_t name(dimension != nullptr ? dimension : u"");
  IKXQSchema* schema = RequireSchema(main);
  _com_ptr_t<IKXQDimension> found;
  KX_CHECK(ctx, schema->get_Dimension(name, &found));
  CheckPointerArgument(ctx, found.GetInterfacePtr());
  SAFEARRAY* units = nullptr;
  KX_CHECK(ctx, found->get_UnitIds(&units));
  XMLReply::AddStringAttribute(main, u"Name", name.GetBSTR());
  XMLReply::StartElement(main, u"DimensionUnits");
  ForEachArrayText(units, [&](BSTR unitId) {
    BSTR display = nullptr;
    KX_CHECK(ctx, found->get_UnitDisplayName(unitId, &display));
    _bstr_t displayName(display, false);
    XMLReply::AddStringAttribute(main, u"Name", displayName.GetBSTR());
    XMLReply::AddStringAttribute(main, u"UnitId", unitId);
    XMLReply::WriteElement(main, u"DimensionUnit", nullptr);
  });
  XMLReply::EndElement(main, u"DimensionUnits");
}

void GetDimensionsInfo(MainContext& main, IKXQObject* datasheet, int32_t status,
                       SortedStringArray& names) {
  KXComException ctx(u"KXDBDatasheetSvcs::GetDimensionsInfo");
  CheckPointerArgument(ctx, datasheet);
  IKXQAttributePtr pages;
  const int32_t count = GetPagesAttributeByStatus(datasheet, status, pages);
  for (int32_t p = 1; p <= count; ++p) {
    IKXQObjectPtr page;
    GetAttributeAsObject(pages, p, page);
    if (!page) continue;
    IKXQTemplatePagePtr templatePage;
    KX_CHECK(ctx, GetTemplatePage(main.m_pApplication, page, &templatePage, status));
    if (!templatePage) continue;
    IKXQAttributePtr units;
    GetAttributeInterface(page, u"Units", units);
    if (!units) continue;
    const int32_t unitCount = GetAttributeCount(units);
    for (int32_t j = 0; j < unitCount; ++j) {
      _com_ptr_t<IKXQTemplateUnit> unit;
      KX_CHECK(ctx, templatePage->get_Unit(j, &unit));
      CheckPointerArgument(ctx, unit.GetInterfacePtr());
      BSTR dimension = nullptr;
      KX_CHECK(ctx, unit->get_DimensionName(&dimension));
      const _bstr_t held(dimension, false);
      names.Add(held);
    }
  }
}

}  // namespace KXDBDatasheetSvcs

// ---------------------------------------------------------------------------
// "ListDatasheetDimensionSets"

const GrammarRecord* ListDatasheetDimensionSetsSchema::GetSchema() const {
  static constexpr auto kGrammar =
      Grammar::Table(Grammar::Envelope(), Grammar::Element(u"ListDatasheetDimensionSets", 1));
  return kGrammar.data();
}

HRESULT ListDatasheetDimensionSetsMessageParser::Work() {
  return Frame(u"ListDatasheetDimensionSetsMessageParser::CollectDimensionSets",
               [&](KXComException&) {
                 CollectDimensionSets();
                 WriteDimensionSets();
               });
}

void ListDatasheetDimensionSetsMessageParser::CollectDimensionSets() {
  KXDBDatasheetSvcs::CollectDimensionSetNames(*m_pMain, m_names);
}

void ListDatasheetDimensionSetsMessageParser::WriteDimensionSets() {
  XMLReply::BeginMessage(Reply(), m_targetId.c_str(), m_status);
  KXDBDatasheetSvcs::WriteNameList(Reply(), u"DimensionSets", u"DimensionSet", m_names);
  XMLReply::EndMessage(Reply());
  m_names.RemoveAll();
}

HRESULT KXDBDatasheetSvcs::ListDatasheetDimensionSets(MainContext& main, const OLECHAR* request) {
  return ServeMessage<ListDatasheetDimensionSetsMessageParser>(
      main, u"KXDBDatasheetSvcs::ListDatasheetDimensionSets", request);
}

// ---------------------------------------------------------------------------
// "ListDatasheetDimensions"

const GrammarRecord* ListDatasheetDimensionsSchema::GetSchema() const {
  static constexpr auto kGrammar =
      Grammar::Table(Grammar::Envelope(), Grammar::Element(u"ListDatasheetDimensions", 1));
  return kGrammar.data();
}

HRESULT ListDatasheetDimensionsMessageParser::Work() {
  return Frame(u"ListDatasheetDimensionsMessageParser::WriteDimensions", [&](KXComException&) {
    const IKXQObjectPtr datasheet = TargetDatasheet(*m_pMain, m_targetId);
    KXDBDatasheetSvcs::GetDimensionsInfo(*m_pMain, datasheet, m_status, m_names);
    WriteDimensions();
  });
}

void ListDatasheetDimensionsMessageParser::WriteDimensions() {
  XMLReply::BeginMessage(Reply(), m_targetId.c_str(), m_status);
  KXDBDatasheetSvcs::WriteNameList(Reply(), u"Dimensions", u"Dimension", m_names);
  XMLReply::EndMessage(Reply());
  m_names.RemoveAll();
}

HRESULT KXDBDatasheetSvcs::ListDatasheetDimensions(MainContext& main, const OLECHAR* request) {
  return ServeMessage<ListDatasheetDimensionsMessageParser>(
      main, u"KXDBDatasheetSvcs::ListDatasheetDimensions", request);
}

// ---------------------------------------------------------------------------
// "ListDatasheetDimensionUnits"

const GrammarRecord* ListDatasheetDimensionUnitsSchema::GetSchema() const {
  static constexpr auto kGrammar =
      Grammar::Message(u"ListDatasheetDimensionUnits", {Grammar::String(u"Name", Name)});
  return kGrammar.data();
}

HRESULT ListDatasheetDimensionUnitsMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  if (id == Name) return Store(m_name, value);
  return E_INVALIDARG;
}

HRESULT ListDatasheetDimensionUnitsMessageParser::WriteDimensionUnits() {
  return Frame(u"ListDatasheetDimensionUnitsMessageParser::WriteDimensionUnits",
               [&](KXComException&) {
                 XMLReply::BeginMessage(Reply(), m_targetId.c_str(), m_status);
                 KXDBDatasheetSvcs::WriteDimensionUnitList(*m_pMain, TextOf(m_name));
                 XMLReply::EndMessage(Reply());
               });
}

HRESULT KXDBDatasheetSvcs::ListDatasheetDimensionUnits(MainContext& main, const OLECHAR* request) {
  return ServeMessage<ListDatasheetDimensionUnitsMessageParser>(
      main, u"KXDBDatasheetSvcs::ListDatasheetDimensionUnits", request);
}

// ---------------------------------------------------------------------------
// "ChangeDatasheetDimensionSet"

const GrammarRecord* ChangeDatasheetDimensionSetSchema::GetSchema() const {
  static constexpr auto kGrammar =
      Grammar::Message(u"ChangeDatasheetDimensionSet", {Grammar::String(u"Name", Name)});
  return kGrammar.data();
}

HRESULT ChangeDatasheetDimensionSetMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  if (id == Name) return Store(m_name, value);
  return E_INVALIDARG;
}

HRESULT ChangeDatasheetDimensionSetMessageParser::ChangeDimensionSet() {
  return Frame(
      u"ChangeDatasheetDimensionSetMessageParser::ChangeDimensionSet", [&](KXComException& ctx) {
        const IKXQObjectPtr datasheet = TargetDatasheet(*m_pMain, m_targetId);
        const _bstr_t set = KXDBDatasheetSvcs::RequireDimensionSet(*m_pMain, TextOf(m_name));
        KX_CHECK(ctx, KXDBDatasheetSvcs::ChangeDSDimensionSet(*m_pMain, datasheet, set));
      });
}

HRESULT KXDBDatasheetSvcs::ChangeDatasheetDimensionSet(MainContext& main, const OLECHAR* request) {
  return ServeMessage<ChangeDatasheetDimensionSetMessageParser>(
      main, u"KXDBDatasheetSvcs::ChangeDatasheetDimensionSet", request);
}

// ---------------------------------------------------------------------------
// "ChangeDatasheetDimensionUnit"

const GrammarRecord* ChangeDatasheetDimensionUnitSchema::GetSchema() const {
  static constexpr auto kGrammar =
      Grammar::Message(u"ChangeDatasheetDimensionUnit",
                       {Grammar::String(u"Name", Name), Grammar::String(u"UnitId", UnitId)});
  return kGrammar.data();
}

HRESULT ChangeDatasheetDimensionUnitMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case Name: return Store(m_name, value);
    case UnitId: return Store(m_unitId, value);
    default: return E_INVALIDARG;
  }
}

HRESULT ChangeDatasheetDimensionUnitMessageParser::ChangeDimensionUnit() {
  return Frame(
      u"ChangeDatasheetDimensionUnitMessageParser::ChangeDimensionUnit", [&](KXComException& ctx) {
        const IKXQObjectPtr datasheet = TargetDatasheet(*m_pMain, m_targetId);
        KXDBDatasheetSvcs::RequireDimensionUnit(*m_pMain, TextOf(m_name), TextOf(m_unitId));
        KX_CHECK(ctx, KXDBDatasheetSvcs::ChangeDSDimensionUnits(*m_pMain, datasheet, TextOf(m_name),
                                                                TextOf(m_unitId)));
      });
}

HRESULT KXDBDatasheetSvcs::ChangeDatasheetDimensionUnit(MainContext& main, const OLECHAR* request) {
  return ServeMessage<ChangeDatasheetDimensionUnitMessageParser>(
      main, u"KXDBDatasheetSvcs::ChangeDatasheetDimensionUnit", request);
}
