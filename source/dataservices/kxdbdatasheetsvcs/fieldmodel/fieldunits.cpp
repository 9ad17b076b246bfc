#include "fieldmodel/fieldunits.h"

#include "kxcomexception.h"
#include "kxvalueutils.h"
#include "model/kxdbdatasheetutils.h"
#include "variantutil.h"

namespace FieldUtils {

_bstr_t GetDefaultUnit(IKXQTemplateUnit* unit) {
  // The template unit offers the default's display text only: the unit is
  // the one of its list that shows that text.
  _bstr_t display;
  SAFEARRAY* list = nullptr;
  if (unit == nullptr || FAILED(unit->GetDefaultText(0, display.GetAddress())) ||
      FAILED(unit->get_Units(&list))) {
    ClearThreadErrorInfo();
    return _bstr_t();
  }
  VariantUtil::SafeArrayVector units;
  units.AttachStrings(list, true);
  for (int32_t i = 0; i < units.Count(); ++i) {
    _bstr_t id, shown;
    if (FAILED(units.GetStringAt(i, id.GetAddress())) ||
        FAILED(unit->GetDisplayText(id, shown.GetAddress()))) {
      break;
    }
    if (shown.view() == display.view()) return id;
  }
  ClearThreadErrorInfo();
  return _bstr_t();
}

_bstr_t GetShownUnit(IKXQApplication* application, IKXQObject* page, int32_t position,
                     const _bstr_t& stored) {
  if (stored.length() > 0) return stored;
  IKXQTemplatePagePtr templatePage;
  _com_ptr_t<IKXQTemplateUnit> unit;
  if (FAILED(KXDBDatasheetSvcs::GetTemplatePage(application, page, &templatePage, 1)) ||
      !templatePage || FAILED(templatePage->get_Unit(position, &unit))) {
    ClearThreadErrorInfo();
    return _bstr_t();
  }
  return GetDefaultUnit(unit);
}

_bstr_t ConvertValueText(IKXQApplication* application, IKXQObject* page, int32_t position,
                         const _bstr_t& value, const _bstr_t& from, const _bstr_t& to) {
  double number = 0;
  if (from.length() == 0 || to.length() == 0 || from.view() == to.view() || value.length() == 0 ||
      !ParseValueDouble(value, &number) || application == nullptr) {
    return value;
  }
  IKXQTemplatePagePtr templatePage;
  _com_ptr_t<IKXQTemplateUnit> unit;
  _bstr_t dimensionName;
  IKXQSchemaPtr schema;
  _com_ptr_t<IKXQDimension> dimension;
  double converted = 0;
  if (FAILED(KXDBDatasheetSvcs::GetTemplatePage(application, page, &templatePage, 1)) ||
      !templatePage || FAILED(templatePage->get_Unit(position, &unit)) || !unit ||
      FAILED(unit->get_DimensionName(dimensionName.GetAddress())) ||
      FAILED(application->get_Schema(&schema)) || !schema ||
      FAILED(schema->get_Dimension(dimensionName, &dimension)) || !dimension ||
      FAILED(dimension->Convert(number, from, to, &converted))) {
    ClearThreadErrorInfo();
    return value;
  }
  OLECHAR text[64];
  FormatValueDouble(converted, text);
  return _bstr_t(text);
}

}  // namespace FieldUtils
