#include "properties/fieldpage.h"

#include "com/wstr.h"
#include "fieldmodel/fieldutils.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "loader/fieldassert.h"
#include "loader/loaddatasheet.h"
#include "model/continuouspageadvisor.h"
#include "model/kxdbdatasheetutils.h"
#include "model/kxfielddata.h"
#include "model/maincontext.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/fieldpage";

IKXQObjectPtr PageById(MainContext& main, int32_t pageId) {
  IKXQObjectPtr page;
  GetStoreObject(main.m_pDatabase, page, pageId);
  return page;
}

IKXQObjectPtr OwnerOf(IKXQObject* page) {
  IKXQObjectPtr owner;
  GetOwnerObject(page, owner);
  return owner;
}

// The record to store for the field at `number` of `fields`: `text` (its
// stored form with a new presentation), and, where the stored record also
// keeps a value, number texts or a state (a copy of a page made at submit
// keeps them), those too, so that nothing stored is lost.
_bstr_t KeepStoredContent(IKXQAttribute* fields, int32_t number, const OLECHAR* typeName,
                          const _bstr_t& text) {
  KXComException ctx = KXComException::Silent(u"KXDBDatasheetSvcs::StoreFieldFormat");
  const int32_t kind = FieldPresentation::KindOfType(typeName);
  const _bstr_t storedText = FieldPresentation::StoredFieldText(fields, number);
  if (storedText.length() == 0) return text;
  KXFieldData stored;
  KX_CHECK(ctx, stored.ParseFieldData(kind, storedText, -1), KX_HERE(kFile));
  if (stored.value.IsEmpty() && stored.prefix.IsEmpty() && stored.postfix.IsEmpty() &&
      stored.substitution.IsEmpty() && stored.state == 0) {
    return text;
  }
  KXFieldData record;
  KX_CHECK(ctx, record.ParseFieldData(kind, text, -1), KX_HERE(kFile));
  record.value = stored.value;
  record.prefix = stored.prefix;
  record.postfix = stored.postfix;
  record.substitution = stored.substitution;
  record.state = stored.state;
  BSTR written = nullptr;
  KX_CHECK(ctx, record.WriteFieldData(&written, kFieldDataFull, -1), KX_HERE(kFile));
  return _bstr_t(written, false);
}

// Whether a record's text changed: letter case counts only when `exact`
// (a Boolean format was applied).
bool TextsDiffer(const OLECHAR* before, const _bstr_t& after, bool exact) {
  const std::u16string_view was(before ? before : u"");
  const std::u16string_view now(after.length() ? static_cast<const OLECHAR*>(after) : u"");
  return exact ? was != now : kx_wcsicmp(was, now) != 0;
}

}  // namespace

FieldPage::FieldPage(MainContext& main, int32_t pageId, bool makeCurrent)
    : main(main),
      page(PageById(main, pageId)),
      datasheet(OwnerOf(page)),
      m_currentDatasheet(makeCurrent ? main.m_pApplication : nullptr, datasheet),
      m_currentPage(makeCurrent ? main.m_pApplication : nullptr, page) {
  KXComException ctx(u"KXDBDatasheetSvcs::GetTemplatePage");
  KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplatePage(main.m_pApplication, page, &templatePage, 1));
  if (!templatePage) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, u"The page has no template page");
  }
}

FieldPage::~FieldPage() = default;

bool FieldPage::IsContinuous() {
  if (m_continuous < 0) {
    KXComException ctx(u"ContinuousPageHelper::Initialize");
    _bstr_t format;
    KX_CHECK(ctx, templatePage->get_ContinuousFormat(format.GetAddress()));
    m_continuous = format.length() > 0 ? 1 : 0;
    if (m_continuous) {
      KX_CHECK(ctx, main.GetContinuousPageHelper().Initialize(main.m_pApplication, templatePage,
                                                              page, false));
    }
  }
  return m_continuous == 1;
}

int32_t FieldPage::FieldNumber(int32_t fieldId, int32_t row, IKXQTemplateFieldPtr& field) {
  const int32_t number = FieldUtils::GetFieldNumber(main, page, fieldId, -1, field);
  if (row < 0 || !IsContinuous()) return number;
  return FieldUtils::GetRowFieldNumber(main.GetContinuousPageHelper(), field, row);
}

void FieldPage::CheckListRow(IKXQTemplateField* field, int32_t row) {
  // Row 0 asks only whether the field is a column: how far out the row
  // lies is for the caller (a row past the list names no object).
  if (row >= 0 && IsContinuous())
    (void)FieldUtils::GetRowFieldNumber(main.GetContinuousPageHelper(), field, 0);
}

void FieldPage::CheckFieldRow(int32_t fieldId, IKXQTemplateField* field, int32_t row) {
  if (row < 0) return;
  if (IsContinuous()) return CheckListRow(field, row);
  KXComException ctx = KXComException::Silent(u"FieldPage::CheckFieldRow");
  ThrowKXComExceptionHrAt(
      ctx, KX_HERE(kFile), DISP_E_BADINDEX, u"Page %d is no list: field %d has no row %d",
      static_cast<int>(ObjectIdOf(page)), static_cast<int>(fieldId), static_cast<int>(row));
}

IKXQAttributePtr FieldPage::Fields() {
  KXComException ctx(u"KXDBDatasheetSvcs::GetFields");
  IKXQAttributePtr fields;
  GetAttributeInterface(page, u"Fields", fields);
  CheckPointerArgument(ctx, fields.GetInterfacePtr());
  return fields;
}

SAFEARRAY* FieldPage::OverspillChain() {
  if (!m_loadContext) m_loadContext = std::make_unique<PageLoadContext>(&main);
  return GetPageOverspillChain(*m_loadContext, page);
}

PageLoadContext& FieldPage::LoadContext() {
  OverspillChain();
  m_loadContext->m_continuousPage = IsContinuous();
  m_loadContext->m_continuousFormatChecked = true;
  return *m_loadContext;
}

void FieldValue::SetHolder(IKXQFieldValue* value) {
  KXComException ctx(u"FieldValue::SetHolder");
  holder = value;
  attribute = nullptr;
  if (holder) KX_CHECK(ctx, holder->get_Attribute(&attribute));
}

namespace FieldPresentation {

int32_t KindOfType(const OLECHAR* typeName) {
  static constexpr struct {
    const char16_t* name;
    int32_t kind;
  } kKinds[] = {{u"String", kFieldString}, {u"Real", kFieldReal},  {u"Integer", kFieldInteger},
                {u"Boolean", kFieldBool},  {u"Date", kFieldDate},  {u"Sketch", kFieldSketch},
                {u"Check", kFieldCheck},   {u"Radio", kFieldRadio}};
  if (typeName == nullptr) return -1;
  for (const auto& entry : kKinds) {
    if (kx_wcsicmp(typeName, entry.name) == 0) return entry.kind;
  }
  return -1;
}

bool HasAlignment(int32_t kind) { return kind >= kFieldString && kind <= kFieldDate; }

void ResolveFieldValue(FieldPage& work, IKXQTemplateField* field, int32_t row, FieldValue& out) {
  KXComException ctx(u"KXDBDatasheetSvcs::ResolveFieldValue");
  out = FieldValue();
  IKXQFieldValuePtr holder;
  if (work.IsContinuous()) {
    KX_CHECK(ctx,
             ResolveContinuousListField(work.main, work.page, field, row, &out.position, &holder));
  } else {
    KX_CHECK(ctx, FieldUtils::ResolveFieldObject(work.page, field, work.OverspillChain(),
                                                 &out.position, &holder));
  }
  out.SetHolder(holder);
}

bool IsValueHeld(IKXQAttribute* attribute, const VARIANT& position) {
  KXComException ctx(u"IsAttributeValueHeld");
  CheckPointerArgument(ctx, attribute);
  VARIANT_BOOL held = VARIANT_FALSE;
  KX_CHECK(ctx, attribute->IsHeld(position, &held));
  return held != VARIANT_FALSE;
}

void ApplyValueStatus(MainContext& main, IKXQAttribute* attribute, const VARIANT& position,
                      int32_t isLocked, int32_t isSecured, int32_t isHeld, int32_t holdId) {
  KXComException ctx(u"KXDBDatasheetSvcs::SetValueStatus");
  CheckPointerArgument(ctx, attribute);
  // The hold is looked up only where it is applied (a value already held
  // keeps its hold), and before the lock or secure of the same request.
  const bool held = IsValueHeld(attribute, position);
  const IKXQObjectPtr hold = held ? IKXQObjectPtr() : RequireHold(main, isHeld, holdId);
  if (isLocked == 0 || isLocked == 1) {
    KX_CHECK(ctx, attribute->Lock(position, isLocked ? VARIANT_TRUE : VARIANT_FALSE));
  }
  if (isSecured == 0 || isSecured == 1) {
    KX_CHECK(ctx, attribute->Secure(position, isSecured ? VARIANT_TRUE : VARIANT_FALSE));
  }
  if (isHeld == 0 && held) {
    KX_CHECK(ctx, attribute->Hold(position, _variant_t()));
  } else if (hold) {
    KX_CHECK(ctx, attribute->Hold(position,
                                  _variant_t(static_cast<IDispatch*>(hold.GetInterfacePtr()))));
  }
}

IKXQObjectPtr RequireHold(MainContext& main, int32_t isHeld, int32_t holdId) {
  IKXQObjectPtr hold;
  if (isHeld != 1 || holdId < 1) return hold;
  // Any other object would hold the value for good: no hold message lists
  // or closes it.
  KXDBDatasheetSvcs::GetObjectOfClass(main.m_pDatabase, holdId, {u"Hold"}, u"a hold", hold);
  return hold;
}

bool ApplyFieldFormat(const OLECHAR* current, const OLECHAR* typeName, int32_t fieldId, int32_t row,
                      int32_t alignment, int32_t verticalAlignment, const OLECHAR* format,
                      _bstr_t& text) {
  KXComException ctx(u"ApplyFieldFormat");
  const int32_t kind = KindOfType(typeName);
  if (kind < 0) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"Unknown field type");
  // Sketch, check and radio fields have no presentation to change.
  if (!HasAlignment(kind)) {
    text = _bstr_t(current);
    return false;
  }
  const bool formatGiven = format != nullptr && format[0] != 0 && kind != kFieldString;
  // Nothing asked for: the record is not rewritten (a field without one
  // does not get one just for its id).
  if (alignment < 0 && verticalAlignment < 0 && !formatGiven) {
    text = _bstr_t(current);
    return false;
  }
  KXFieldData record;
  _bstr_t source(current);
  KX_CHECK(ctx, record.ParseFieldData(kind, source, -1), KX_HERE(kFile));
  record.typeId = kind;
  record.fieldId = fieldId;
  if (row >= 0) record.index = row;
  if (alignment >= 0) record.alignment = alignment;
  if (verticalAlignment >= 0) record.verticalAlignment = verticalAlignment;
  if (formatGiven) record.format.Assign(format);
  // The stored form: the same form `current` is in, so that the two compare.
  BSTR written = nullptr;
  KX_CHECK(ctx, record.WriteFieldData(&written, kFieldDataDefinition, -1), KX_HERE(kFile));
  text = _bstr_t(written, false);
  return TextsDiffer(current, text, kind == kFieldBool && formatGiven);
}

_bstr_t CurrentFieldText(FieldPage& work, IKXQAttribute* fields, int32_t number) {
  KXComException ctx = KXComException::Silent(u"KXDBDatasheetSvcs::CurrentFieldText");
  _bstr_t text;
  KX_CHECK(ctx,
           WriteFieldValueByType(work.LoadContext(), work.page, work.templatePage, number, fields,
                                 text.GetAddress()),
           KX_HERE(kFile));
  return text;
}

_bstr_t StoreFieldFormat(FieldPage& work, IKXQAttribute* fields, int32_t number,
                         const OLECHAR* typeName, int32_t fieldId, int32_t row, int32_t alignment,
                         int32_t verticalAlignment, const OLECHAR* format, bool store) {
  KXComException ctx(u"KXDBDatasheetSvcs::StoreFieldFormat");
  const int32_t kind = KindOfType(typeName);
  if (kind < 0) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"Unknown field type");
  // Sketch, check and radio fields keep no presentation: nothing to read.
  if (!HasAlignment(kind)) return StoredFieldText(fields, number);
  // Compared with what the page shows, so that asking for the presentation
  // the field already has (the template's, say) stores nothing.
  const _bstr_t current = CurrentFieldText(work, fields, number);
  _bstr_t text;
  if (!ApplyFieldFormat(current, typeName, fieldId, row, alignment, verticalAlignment, format,
                        text) ||
      !store) {
    return text;
  }
  SetAttributeValueAt(fields, number, KeepStoredContent(fields, number, typeName, text));
  KX_CHECK(ctx, work.main.LaunchDataFieldEvent(work.page, number, 1, false));
  return text;
}

void StoreRowFieldFormat(FieldPage& work, IKXQAttribute* fields, int32_t number,
                         const OLECHAR* typeName, int32_t fieldId, int32_t row, int32_t alignment,
                         int32_t verticalAlignment, const OLECHAR* format) {
  KXComException ctx(u"KXDBDatasheetSvcs::StoreFieldFormat");
  // The row's record as it is stored: one that sets no alignment of its
  // own takes the named row's explicitly.
  const _bstr_t stored = StoredFieldText(fields, number);
  _bstr_t text;
  if (!ApplyFieldFormat(stored, typeName, fieldId, row, alignment, verticalAlignment, format,
                        text)) {
    return;
  }
  // Compared in the form it would be stored in, so that a record keeping a
  // value or a state is not rewritten each time.
  const _bstr_t kept = KeepStoredContent(fields, number, typeName, text);
  const bool exact = KindOfType(typeName) == kFieldBool && format != nullptr && format[0] != 0;
  if (!TextsDiffer(stored, kept, exact)) return;
  SetAttributeValueAt(fields, number, kept);
  KX_CHECK(ctx, work.main.LaunchDataFieldEvent(work.page, number, 1, false));
}

void AssertFieldValue(FieldPage& work, int32_t fieldId, int32_t row, bool continuous,
                      const OLECHAR* confirmedClass, FieldValue& value, int32_t& number) {
  AssertedField asserted;
  if (continuous) {
    AssertContinuousListField(work.main, work.page, fieldId, row, confirmedClass, asserted);
  } else {
    FieldUtils::AssertField(work.main, work.page, fieldId, confirmedClass, asserted);
  }
  value.SetHolder(asserted.holder);
  value.position = asserted.position;
  if (asserted.fieldNumber > 0) number = asserted.fieldNumber;
}

_bstr_t StoredFieldText(IKXQAttribute* fields, int32_t number) {
  _bstr_t text;
  if (fields != nullptr && number >= 1 && number <= GetAttributeCount(fields)) {
    KXDBDatasheetSvcs::GetAttributeValueStringAt(fields, number, text);
  }
  return text;
}

}  // namespace FieldPresentation
