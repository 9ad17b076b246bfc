// A datasheet's dimension set and display units: the unit texts of every
// current page rewritten, a unit-field event for each text that changed.
#include <functional>
#include <vector>

#include "com/comutil.h"
#include "com/wstr.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "model/kxdbdatasheetpages.h"
#include "model/kxdbdatasheetutils.h"
#include "model/maincontext.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/kxdbdatasheetutils";
constexpr FrameOptions kFrame{.file = kFile};

// The text at a 1-based position of "Units": a text as it is, another value
// in its XML form; none for an empty slot.
_bstr_t CurrentUnitText(KXComException& ctx, IKXQAttribute* units, int32_t position) {
  _variant_t value;
  KX_CHECK(ctx, units->GetValue(_variant_t(static_cast<LONG>(position)), _variant_t(), &value));
  if (value.vt == VT_BSTR) return _bstr_t(value.bstrVal);
  if (value.vt == VT_EMPTY || value.vt == VT_NULL) return _bstr_t();
  BSTR text = nullptr;
  VariantUtil::FormatForXML(value, &text);
  return _bstr_t(text, false);
}

// Calls `visit(page, unitField i, units)` for every unit field of every
// current page whose template page is known.
using UnitVisitor = std::function<void(IKXQObject* page, int32_t index, IKXQTemplateUnit* unit,
                                       IKXQAttribute* units)>;

void ForEachUnitField(KXComException& ctx, MainContext& main, IKXQObject* datasheet,
                      const UnitVisitor& visit) {
  IKXQAttributePtr pages;
  const int32_t count = GetPagesAttributeByStatus(datasheet, 1, pages);
  for (int32_t p = 1; p <= count; ++p) {
    IKXQObjectPtr page;
    GetAttributeAsObject(pages, p, page);
    CheckPointerArgument(ctx, page.GetInterfacePtr());
    IKXQTemplatePagePtr templatePage;
    KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplatePage(main.m_pApplication, page, &templatePage, 1));
    if (!templatePage) continue;
    IKXQAttributePtr units;
    GetAttributeInterface(page, u"Units", units);
    if (!units) continue;
    const int32_t unitCount = GetAttributeCount(units);
    for (int32_t i = 0; i < unitCount; ++i) {
      _com_ptr_t<IKXQTemplateUnit> unit;
      KX_CHECK(ctx, templatePage->get_Unit(i, &unit));
      CheckPointerArgument(ctx, unit.GetInterfacePtr());
      visit(page, i, unit, units);
    }
  }
}

// A unit text to be put at unit field `index` of a page.
struct UnitText {
  IKXQObjectPtr page;
  int32_t index;
  IKXQAttributePtr units;
  _bstr_t text;
};

// Puts each text that differs from the page's, with its unit-field event.
void WriteUnitTexts(KXComException& ctx, MainContext& main, const std::vector<UnitText>& found) {
  for (const UnitText& unit : found) {
    if (CurrentUnitText(ctx, unit.units, unit.index + 1).view() == unit.text.view()) continue;
    SetAttributeValueAt(unit.units, unit.index + 1,
                        unit.text.length() > 0 ? static_cast<const OLECHAR*>(unit.text) : u"");
    KX_CHECK(ctx, main.LaunchUnitFieldEvent(unit.page, unit.index, 1));
  }
}

}  // namespace

namespace KXDBDatasheetSvcs {

_bstr_t FindDimensionSetName(MainContext& main, const OLECHAR* setName) {
  if (main.m_pSchema == nullptr || setName == nullptr || setName[0] == u'\0') return _bstr_t();
  KXComException ctx = KXComException::Silent();
  SAFEARRAY* array = nullptr;
  KX_CHECK(ctx, main.m_pSchema->get_DimensionSetNames(&array));
  VariantUtil::SafeArrayVector names;
  names.AttachStrings(array, true);
  for (int32_t i = 0; i < names.Count(); ++i) {
    _bstr_t name;
    KX_CHECK(ctx, names.GetStringAt(i, name.GetAddress()));
    if (name.length() > 0 && _wcsicmp(name, setName) == 0) return name;
  }
  return _bstr_t();
}

HRESULT ChangeDSDimensionSet(MainContext& main, IKXQObject* datasheet, const OLECHAR* setName) {
  return ServeRequest(u"KXDBDatasheetSvcs::ChangeDSDimensionSet", kFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, datasheet);
    // The set is recorded as the schema spells it, whatever letters named it.
    _bstr_t set = FindDimensionSetName(main, setName);
    if (set.length() == 0) set = _bstr_t(setName != nullptr ? setName : u"");
    // Every unit the set gives is found before anything is written: a
    // datasheet the set cannot serve keeps its set and its units.
    std::vector<UnitText> found;
    ForEachUnitField(
        ctx, main, datasheet,
        [&](IKXQObject* page, int32_t i, IKXQTemplateUnit* unit, IKXQAttribute* units) {
          BSTR text = nullptr;
          KX_CHECK(ctx, unit->GetUnitForSet(set, &text));
          found.push_back({page, i, units, _bstr_t(text, false)});
        });
    IKXQAttributePtr base;
    GetAttributeInterfaceAt(datasheet, u"BaseDimensionSet", base, -1);
    SetAttributeString(base, set);
    WriteUnitTexts(ctx, main, found);
    return S_OK;
  });
}

HRESULT ChangeDSDimensionUnits(MainContext& main, IKXQObject* datasheet, const OLECHAR* dimension,
                               const OLECHAR* units) {
  const auto work = [&](KXComException& ctx) {
    CheckPointerArgument(ctx, datasheet);
    const _bstr_t wanted(dimension != nullptr ? dimension : u"");
    const _bstr_t text(units != nullptr ? units : u"");
    // Every unit field is read before one is written, as for a set.
    std::vector<UnitText> found;
    ForEachUnitField(ctx, main, datasheet,
                     [&](IKXQObject* page, int32_t i, IKXQTemplateUnit* unit, IKXQAttribute* list) {
                       BSTR name = nullptr;
                       KX_CHECK(ctx, unit->get_DimensionName(&name));
                       const _bstr_t held(name, false);
                       if (held.view() != wanted.view()) return;
                       found.push_back({page, i, list, text});
                     });
    WriteUnitTexts(ctx, main, found);
    return S_OK;
  };
  return ServeRequest(u"KXDBDatasheetSvcs::ChangeDSDimensionUnits", kFrame, work);
}

}  // namespace KXDBDatasheetSvcs
