// The field model under arbitrary texts. The first byte picks an attribute
// of the sample store's pump (a data type each) and a shift offset; the rest
// (UTF-8, malformed sequences replaced) is stored into that attribute as
// text, read back, used as a route text to shift and as a route step from
// the pump. Then every field of page 21 is resolved. Whatever the input: a
// value stored or a KXComException, never a crash, a leak or a sanitizer
// report.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "com/wstr.h"
#include "fieldmodel/fieldutils.h"
#include "kxcomexception.h"
#include "store/admin.h"

namespace {

constexpr const char16_t* kAttributes[] = {u"Tag",       u"Flow",   u"Speed", u"Running",
                                           u"Installed", u"Vented", u"Motor", u"Nozzles"};

struct Harness {
  Harness() {
    std::ifstream file(KX_FIELDS_FIXTURE);
    std::stringstream text;
    text << file.rdbuf();
    if (!kx::store::Store::Open(":memory:", kx::store::OpenMode::kCreate, &store).ok() ||
        !store->ImportFixtureText(text.str(), "fixture").ok()) {
      store.reset();
      return;
    }
    store->Database()->get_Object(10, &pump);
    store->Database()->get_Object(21, &page);
    IKXQTemplateLibraryPtr library;
    store->Database()->get_TemplateLibrary(&library);
    IKXQTemplatePtr tmpl;
    library->GetTemplate(_bstr_t(u"TP"), _variant_t(), &tmpl);
    tmpl->get_PageById(_bstr_t(u"P1"), &templatePage);
  }
  std::unique_ptr<kx::store::Store> store;
  IKXQObjectPtr pump;
  IKXQObjectPtr page;
  IKXQTemplatePagePtr templatePage;
};

SAFEARRAY* ShiftTable(const std::u16string& name, LONG offset) {
  SAFEARRAYBOUND bounds[2] = {{2, 1}, {1, 1}};
  SAFEARRAY* table = SafeArrayCreate(VT_VARIANT, 2, bounds);
  LONG nameAt[2] = {1, 1};
  LONG offsetAt[2] = {2, 1};
  _variant_t nameValue(name.c_str());
  _variant_t offsetValue(offset);
  SafeArrayPutElement(table, nameAt, &nameValue);
  SafeArrayPutElement(table, offsetAt, &offsetValue);
  return table;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Harness harness;
  if (size == 0 || !harness.store) return 0;
  const char16_t* attribute = kAttributes[data[0] % 8];
  const LONG offset = static_cast<LONG>(data[0] >> 3) - 16;
  const std::u16string text =
      kx_utf8_to_utf16_lossy(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
  try {
    IKXQViewPtr view;
    FieldUtils::GetObjectView(harness.pump, nullptr, view);
    _variant_t position;
    IKXQFieldValuePtr holder;
    FieldUtils::GetRouteStep(view, attribute, 1, false, &position, &holder);
    if (holder) {
      FieldUtils::SetAttributeValueFromText(holder, position, text.c_str(), nullptr);
      _bstr_t back;
      FieldUtils::GetAttributeValueText(holder, position, back, nullptr);
    }
  } catch (const KXComException&) {
    ClearThreadErrorInfo();
  }
  SAFEARRAY* shift = ShiftTable(text.substr(0, 8), offset);
  const _bstr_t shifted = FieldUtils::ShiftRouteIndices(shift, text.c_str());
  IKXQViewPtr view;
  _variant_t position;
  IKXQFieldValuePtr holder;
  try {
    FieldUtils::GetObjectView(harness.pump, nullptr, view);
    FieldUtils::GetRouteStep(view, shifted, 1, false, &position, &holder);
  } catch (const KXComException&) {
    ClearThreadErrorInfo();
  }
  LONG count = 0;
  harness.templatePage->get_FieldCount(&count);
  for (LONG f = 1; f <= count; ++f) {
    IKXQTemplateFieldPtr field;
    if (FAILED(harness.templatePage->get_Field(f, &field))) continue;
    _variant_t value;
    IKXQFieldValuePtr result;
    (void)FieldUtils::ResolveFieldObject(harness.page, field, shift, &value, &result);
    ClearThreadErrorInfo();
  }
  SafeArrayDestroy(shift);
  return 0;
}
