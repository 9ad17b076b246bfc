#include "fields/fieldsetter.h"

#include "fieldmodel/fieldunits.h"
#include "fieldmodel/fieldutils.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "model/continuouspageadvisor.h"
#include "model/kxdbdatasheetutils.h"
#include "model/maincontext.h"

namespace {

bool IsEmpty(const OLECHAR* text) { return text == nullptr || *text == 0; }

// The unit that the page shows for the template field, in which its user
// enters the number; null when the field has no unit field.
_bstr_t GetFieldUnitText(KXComException& ctx, IKXQApplication* application, IKXQObject* page,
                         IKXQTemplateField* field) {
  LONG position = -1;
  if (field->get_UnitPosition(&position) != S_OK || position < 0) {
    ClearThreadErrorInfo();
    return _bstr_t();
  }
  IKXQAttributePtr units;
  GetAttributeInterface(page, u"Units", units);
  CheckPointerArgument(ctx, units.GetInterfacePtr());
  _bstr_t unit;
  KXDBDatasheetSvcs::GetAttributeValueStringAt(units, position + 1, unit);
  return FieldUtils::GetShownUnit(application, page, position, unit);
}

}  // namespace

FieldWrite::FieldWrite(MainContext& owner, const FieldRequest& values)
    : main(owner), request(values) {}

bool FieldWrite::Prepare() {
  KXComException ctx = KXComException::Silent(u"FieldWrite::Prepare");
  GetStoreObject(main.m_pDatabase, page, request.pageId);
  GetOwnerObject(page, datasheet);
  if (request.status != 1) return false;
  KXDBDatasheetSvcs::RefuseStatusCopy(page);
  m_currentDatasheet.emplace(main.m_pApplication, datasheet);
  m_currentPage.emplace(main.m_pApplication, page);
  m_pageLists.emplace(page);

  KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplatePage(main.m_pApplication, page, &templatePage, 1));
  CheckPointerArgument(ctx, templatePage.GetInterfacePtr());
  VARIANT_BOOL isContinuous = VARIANT_FALSE;
  KX_CHECK(ctx, templatePage->get_IsContinuous(&isContinuous));
  continuous = isContinuous != VARIANT_FALSE;
  m_assertionEvents.emplace(main);
  if (continuous) {
    KX_CHECK(ctx, main.GetContinuousPageHelper().Initialize(main.m_pApplication, templatePage, page,
                                                            false));
    if (!FieldUtils::CheckListContiguity(main, page, request.index)) return false;
    AssertContinuousListField(main, page, request.fieldId, request.index, request.confirmedClass,
                              field);
  } else {
    FieldUtils::AssertField(main, page, templatePage, request.fieldId, request.confirmedClass,
                            field);
  }
  return static_cast<bool>(field.holder);
}

HRESULT FieldWrite::Store(const OLECHAR* text, const OLECHAR* unit, const OLECHAR* filterText) {
  FieldUtils::SetAttributeValueFromText(field.holder, field.position, text, unit);
  return Stored(filterText);
}

HRESULT FieldWrite::Store(const OLECHAR* text, const _bstr_t& unit, const OLECHAR* filterText) {
  FieldUtils::SetAttributeValueFromText(field.holder, field.position, text, unit);
  return Stored(filterText);
}

HRESULT FieldWrite::Stored(const OLECHAR* filterText) {
  HRESULT checked = S_OK;
  if (field.created) {
    checked = FieldUtils::CheckPermanentFilterMembership(main, datasheet, page, request.fieldId,
                                                         request.index, field.holder,
                                                         field.position, filterText);
  }
  if (m_assertionEvents) {
    if (checked == S_OK) {
      m_assertionEvents->Post();
    } else {
      m_assertionEvents->Drop();
    }
  }
  return checked;
}

IKXQAttribute* FieldWrite::Fields() {
  if (!m_fields) {
    KXComException ctx = KXComException::Silent(u"FieldWrite::Fields");
    GetAttributeInterface(page, u"Fields", m_fields);
    CheckPointerArgument(ctx, m_fields.GetInterfacePtr());
  }
  return m_fields;
}

void FieldWrite::ReadRecord(int32_t number, int32_t kind, KXFieldData& record) {
  KXComException ctx = KXComException::Silent(u"FieldWrite::ReadRecord");
  _bstr_t text;
  if (number >= 1 && record.ReadKnownText(Fields(), number, kind, request.index, text)) return;
  KX_CHECK(ctx, record.ParseFieldData(kind, text, request.index));
}

_bstr_t FieldWrite::WriteRecord(KXFieldData& record, int32_t mode) {
  KXComException ctx = KXComException::Silent(u"FieldWrite::WriteRecord");
  record.fieldId = request.fieldId;
  record.attribId = FieldUtils::GetItemNumberByKey(field.holder, field.position);
  record.index = request.index;
  BSTR text = nullptr;
  KX_CHECK(ctx, record.WriteFieldData(&text, mode, -1));
  return _bstr_t(text, false);
}

void FieldWrite::PutRecord(int32_t number, const _bstr_t& entry) {
  KXComException ctx = KXComException::Silent(u"FieldWrite::PutRecord");
  _variant_t position(static_cast<LONG>(number));
  // The entry is lent to the store, which copies what it keeps.
  VARIANT value;
  VariantInit(&value);
  if (entry.length() > 0) {
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = entry;
  }
  KX_CHECK(ctx, Fields()->PutValue(position, _variant_t(), value));
  // The event's writer reads the field again: it may take the assertion's
  // walk.
  KX_CHECK(ctx, main.LaunchDataFieldEventWithWalk(page, number, 1, false, field.settled));
}

HRESULT SetFieldValue(MainContext& main, const FieldRequest& request, int32_t kind,
                      const NumberTexts* numbers) {
  KXComException ctx = KXComException::Silent(u"SetFieldValue");
  FieldWrite write(main, request);
  if (!write.Prepare()) return S_OK;

  // Reals are stored in the unit the page shows for the field. The field's
  // number and definition are the assertion's: on a continuous list the
  // number of the row asked for, on any other page the template's.
  const int32_t number = write.field.fieldNumber;
  IKXQTemplateField* templateField = write.field.templateField;
  CheckPointerArgument(ctx, templateField);
  _bstr_t unit;
  if (kind == kFieldReal)
    unit = GetFieldUnitText(ctx, main.m_pApplication, write.page, templateField);
  const HRESULT stored = write.Store(request.value, unit, request.value);
  if (stored != S_OK) return stored;
  if (numbers != nullptr && numbers->published) {
    KXDBDatasheetSvcs::WriteViewNumberTexts(write.field.holder, write.field.position,
                                            numbers->prefix, numbers->postfix,
                                            numbers->substitution);
  }

  // On a continuous list every row starts from the first row's record of
  // the same field, so that a new row takes over its presentation.
  const int32_t recordNumber =
      write.continuous
          ? FieldUtils::GetContinuousFieldNumber(main.GetContinuousPageHelper(), templateField, -1)
          : number;
  KXFieldData record;
  write.ReadRecord(recordNumber, kind, record);
  _bstr_t entry;
  if (!IsEmpty(request.value) || record.alignment >= 0 || record.verticalAlignment >= 0) {
    if (numbers != nullptr && (!write.continuous || record.format.IsEmpty())) {
      record.format.Assign(numbers->format);
    }
    entry = write.WriteRecord(record);
  }
  write.PutRecord(number, entry);
  return S_OK;
}
