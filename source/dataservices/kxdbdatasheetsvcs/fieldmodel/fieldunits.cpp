#include "fieldmodel/fieldunits.h"

#include "kxcomexception.h"
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

}  // namespace FieldUtils
