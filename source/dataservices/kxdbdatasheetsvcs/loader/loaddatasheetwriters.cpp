// The page writers: the fields of a page (stored and live forms, by kind),
// and the unit, revision, annotation and qualifier writers, with the
// helpers they share with the change events.
#include <vector>

#include "com/wstr.h"
#include "fieldmodel/fieldunits.h"
#include "fieldmodel/fieldutils.h"
#include "host/response.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxscopeguard.h"
#include "kxstoreutils.h"
#include "kxvalueutils.h"
#include "kxxmlutils.h"
#include "loader/loaddatasheet.h"
#include "model/continuouspageadvisor.h"
#include "model/kxdbdatasheetpages.h"
#include "model/kxdbdatasheetutils.h"
#include "model/kxfielddata.h"
#include "model/maincontext.h"

// The records a writer of a page's fields reads every field into.
struct FieldRecords {
  KXFieldData field;
  KXFieldData other;
};

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/loaddatasheet";
constexpr FrameOptions kFrame{.file = kFile};
constexpr FrameOptions kSilentFrame{.file = kFile, .silent = true};

// Sends a non-empty element text into the reply of the current request.
// Raises E_FAIL without a response, and the response's own failure.
void SendElement(KXComException& ctx, MainContext& main, const _bstr_t& text) {
  if (text.length() == 0) return;
  if (main.m_pResponse == nullptr) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                            u"Cannot access the KXQResponse object to write to it");
  }
  KX_CHECK(ctx, main.m_pResponse->SendText(text));
}

// Runs `write(i, &element)` for i = 1..count: an element that fails
// becomes a warning of the application, a non-empty one goes into the reply.
template <class Write>
void WriteEachEntry(KXComException& ctx, MainContext& main, int32_t count, Write&& write) {
  for (int32_t i = 1; i <= count; ++i) {
    _bstr_t element;
    const HRESULT hr = write(i, element.GetAddress());
    if (FAILED(hr)) {
      loaddatasheet::ReportItemFailure(main.m_pApplication, hr);
      continue;
    }
    SendElement(ctx, main, element);
  }
}

// The row of field position `position` on a continuous page, else -1.
int32_t RowOf(const PageLoadContext& context, int32_t position) {
  if (!context.m_continuousPage || context.m_pMain == nullptr) return -1;
  const ContinuousPageHelper& helper = context.m_pMain->GetContinuousPageHelper();
  const int32_t first = helper.FirstRepeatingField();
  const int32_t perRow = helper.FieldsPerRow();
  if (perRow <= 0 || position < first) return -1;
  return (position - first) / perRow;
}

// The show element of the field at `position` from its stored text; empty
// for a position without one. `record` and `writer` are reused from field to
// field (the record's parser and the writer's room are made once); the
// writer is left empty, or dropped after a failure (it may hold part of an
// element) and made again for the next field.
HRESULT WriteStoredField(PageLoadContext& context, IKXQAttribute* fields, int32_t position,
                         int32_t pageId, KXFieldData& record,
                         _com_ptr_t<ikxXMLStringWriter>& writer, _bstr_t& element) {
  const auto work = [&](KXComException& ctx) {
    _bstr_t stored;
    KXDBDatasheetSvcs::GetAttributeValueStringAt(fields, position, stored);
    if (stored.length() == 0) return S_OK;
    KX_CHECK(ctx, record.SelectField(stored, -1));
    // On a continuous page the record's row is that of its position: a
    // fixed position has none (-1, so no "Index" is shown), whatever the
    // stored text says.
    if (context.m_continuousPage) record.index = RowOf(context, position);
    if (!writer) writer = loaddatasheet::MakeWriter(ctx);
    HRESULT hr = record.WriteFieldData(*writer, kFieldDataShow, pageId);
    if (SUCCEEDED(hr)) hr = writer->GetString(element.GetAddress());
    if (FAILED(hr)) {
      writer = nullptr;
      KX_CHECK(ctx, hr);
    }
    // The writer is kept for the next field, which must not start with this one.
    KX_CHECK(ctx, writer->Clear());
    return S_OK;
  };
  return ServeRequest(u"KXDBDatasheetSvcs::WritePageFields", kSilentFrame, work);
}

}  // namespace

// ---------------------------------------------------------------------------
// Fields.

namespace {

constexpr OLECHAR kAdvisorFile[] = u"source/dataservices/kxdbdatasheetsvcs/continuouspageadvisor";

// What sets the kinds of field apart.
struct FieldKindTraits {
  const OLECHAR* typeName;
  int32_t kind;
  bool defaultAlignments;     // unset alignments come from the template field
  bool emptyRow;              // a continuous row without object shows nothing
  bool numberTexts;           // unit and prefix, postfix, substitution
  bool showsOther;            // a comparison shows the other value (0x1000)
  const OLECHAR* emptyValue;  // the value shown when there is none
};

constexpr FieldKindTraits kKinds[] = {
    {u"String", kFieldString, true, true, false, true, nullptr},
    {u"Real", kFieldReal, true, true, true, true, nullptr},
    {u"Integer", kFieldInteger, true, true, true, true, nullptr},
    {u"Date", kFieldDate, true, true, false, true, nullptr},
    {u"Boolean", kFieldBool, true, false, false, false, nullptr},
    {u"Radio", kFieldRadio, false, false, false, false, u"-1"},
    {u"Check", kFieldCheck, false, false, false, false, u"0"},
    {u"Sketch", kFieldSketch, false, false, false, false, nullptr},
};

const FieldKindTraits* FindKind(const _bstr_t& typeName) {
  const std::u16string_view name = typeName.view();
  // Templates spell the kinds as listed: the exact name is found without
  // folding case (the names differ in more than case, so the kind is the
  // same).
  for (const FieldKindTraits& traits : kKinds) {
    if (name == traits.typeName) return &traits;
  }
  const OLECHAR* text = typeName.length() > 0 ? static_cast<const OLECHAR*>(typeName) : u"";
  for (const FieldKindTraits& traits : kKinds) {
    if (_wcsicmp(text, traits.typeName) == 0) return &traits;
  }
  return nullptr;
}

_bstr_t StoredText(IKXQAttribute* fields, int32_t position) {
  _bstr_t text;
  if (fields != nullptr && position >= 1 && position <= GetAttributeCount(fields)) {
    KXDBDatasheetSvcs::GetAttributeValueStringAt(fields, position, text);
  }
  return text;
}

// The stored text and template field of position `position`. Outside a
// continuous page the stored text is read to find the field by the id it
// records; when `parsed` is given the record read is left there (a cleared
// record for an empty text) and true returned, so that the field's writer
// need not read the text again. A text with a NUL inside is read up to it
// for the id only; the writer then reads it whole itself (false).
bool FieldAt(KXComException& ctx, PageLoadContext& context, IKXQTemplatePage* templatePage,
             IKXQAttribute* fields, int32_t position, bool byNodeId, _bstr_t& stored,
             IKXQTemplateFieldPtr& field, KXFieldData* parsed = nullptr) {
  if (!context.m_continuousPage) {
    // A record read recently is taken as it was read, the text not copied.
    bool known = false;
    stored = _bstr_t();
    if (fields != nullptr && position >= 1 && position <= GetAttributeCount(fields)) {
      if (parsed != nullptr) {
        known = parsed->ReadKnownText(fields, position, kFieldCleared, -1, stored);
      } else {
        KXDBDatasheetSvcs::GetAttributeValueStringAt(fields, position, stored);
      }
    }
    KXComException lookup = KXComException::Silent(u"FieldUtils::GetTemplateField");
    field = nullptr;
    CheckPointerArgument(lookup, templatePage);
    const OLECHAR* chars = stored;
    const bool whole = chars == nullptr || kx_wcslen(chars) == stored.length();
    KXFieldData own;
    KXFieldData& record = parsed != nullptr && whole ? *parsed : own;
    if (!known && stored.length() > 0) {
      const bool remember = context.m_rememberRecords;
      KX_CHECK(lookup, whole ? record.ParseFieldData(kFieldCleared, stored, -1, remember)
                             : record.ParseFieldData(kFieldCleared, _bstr_t(chars), -1, remember));
    }
    if (record.fieldId >= 0) {
      context.FindTemplateField(templatePage, record.fieldId, field);
    } else {
      KX_CHECK(lookup, templatePage->get_Field(position, &field));
    }
    return parsed != nullptr && whole;
  }
  const ContinuousPageHelper& helper = context.m_pMain->GetContinuousPageHelper();
  int32_t number = -1;
  KX_CHECK(ctx, helper.MapFieldIndex(position, &number));
  FieldUtils::GetTemplateField(templatePage, nullptr, number, field);
  CheckPointerArgument(ctx, field.GetInterfacePtr());
  if (!byNodeId) {
    stored = StoredText(fields, position);
    return false;
  }
  LONG nodeId = -1;
  KX_CHECK(ctx, field->get_Id(&nodeId));
  const std::vector<int32_t>& ids = helper.FieldNodeIds();
  for (size_t k = 0; k < ids.size(); ++k) {
    if (ids[k] != nodeId) continue;
    stored = StoredText(fields, static_cast<int32_t>(k) + 1);
    if (stored.length() == 0) stored = StoredText(fields, position);
    return false;
  }
  ThrowKXComExceptionHrAt(ctx, KX_HERE(kAdvisorFile), E_FAIL,
                          u" Field %d not found in continuous template %ls ",
                          static_cast<int>(nodeId), helper.TemplateKey().c_str());
}

// The value behind a field: a holder and its position, or none. `rowEmpty`
// tells a continuous row without object. A failure of the resolution is
// returned, the holder then null. `valueRead` (may be null): the walk of a
// field of a plain page may be kept with the value read next.
HRESULT ResolveLive(PageLoadContext& context, IKXQObject* page, IKXQTemplateField* field,
                    int32_t row, _variant_t& position, IKXQFieldValuePtr& holder, bool* rowEmpty,
                    FieldUtils::FieldValueRead* valueRead = nullptr) {
  *rowEmpty = false;
  holder = nullptr;
  if (!context.m_continuousPage) {
    if (context.m_settledWalks != nullptr) {
      const auto kept = context.m_settledWalks->find(field);
      if (kept != context.m_settledWalks->end() &&
          FieldUtils::TakeSettledWalk(*kept->second, page, field, context.m_overspillChain,
                                      position, holder)) {
        return S_OK;
      }
    }
    const HRESULT hr = FieldUtils::ResolveFieldObject(page, field, context.m_overspillChain,
                                                      &position, &holder, valueRead);
    if (FAILED(hr)) {
      holder = nullptr;
      ClearThreadErrorInfo();
    }
    return S_OK;
  }
  const HRESULT resolved =
      ServeRequest(u"ResolveContinuousListField", kSilentFrame, [&](KXComException&) {
        const HRESULT hr =
            ResolveContinuousListField(*context.m_pMain, page, field, row, &position, &holder);
        *rowEmpty = hr == S_FALSE;
        return S_OK;
      });
  if (FAILED(resolved)) holder = nullptr;
  return resolved;
}

// The unit in which `page` shows the values of `field` (empty, and
// `*position` -1, for a field without unit).
_bstr_t ShownUnit(IKXQApplication* application, IKXQObject* page, IKXQTemplateField* field,
                  LONG* position) {
  _bstr_t unit;
  *position = -1;
  if (field->get_UnitPosition(position) != S_OK || *position < 0) {
    *position = -1;
    ClearThreadErrorInfo();
    return unit;
  }
  IKXQAttributePtr units;
  GetAttributeInterface(page, u"Units", units);
  if (units) unit = StoredText(units, *position + 1);
  return FieldUtils::GetShownUnit(application, page, *position, unit);
}

// The value text of a holder, with the number texts of reals and integers
// (`numberTexts`) read in the unit `unitPage` shows for the field.
void ReadLiveValue(KXComException& ctx, const FieldKindTraits& traits, IKXQApplication* application,
                   IKXQObject* unitPage, IKXQTemplateField* field, IKXQFieldValue* holder,
                   const _variant_t& position, KXFieldData& record) {
  if (!traits.numberTexts) {
    _bstr_t text;
    FieldUtils::GetAttributeValueText(holder, position, text, nullptr);
    record.value.Assign(static_cast<const OLECHAR*>(text));
    return;
  }
  LONG unitPosition = -1;
  const _bstr_t unit = ShownUnit(application, unitPage, field, &unitPosition);
  _bstr_t text, prefix, postfix, substitution;
  FieldUtils::GetAttributeValueText(holder, position, text, unit);
  KXDBDatasheetSvcs::ReadPresentViewNumberTexts(holder, position, prefix, postfix, substitution);
  // An empty number text is no text: stored records leave them out.
  auto present = [](const _bstr_t& t) {
    return t.length() > 0 ? static_cast<const OLECHAR*>(t) : nullptr;
  };
  record.SetNumberTexts(text, present(prefix), present(postfix), present(substitution));
  (void)ctx;
}

// Whether the field shows its value without unit: the trigger item then
// reads the value as the writer did.
bool WithoutUnit(IKXQTemplateField* field) {
  LONG unitPosition = -1;
  if (SUCCEEDED(field->get_UnitPosition(&unitPosition))) return unitPosition < 0;
  ClearThreadErrorInfo();
  return false;
}

// A radio field's value text becomes its option number.
void ToOptionNumber(KXComException& ctx, IKXQTemplateField* field, KXFieldData& record) {
  if (record.value.IsEmpty()) return;
  LONG number = -1;
  (void)field->GetOptionNumber(_bstr_t(record.value.c_str()), &number);
  ClearThreadErrorInfo();
  record.value.Assign(kx_ltow(number).c_str());
  (void)ctx;
}

// Fills `record` for field position `position` of `page` (the kind
// fillers). Returns the failure of a continuous resolution that the kind
// reports, after the record is complete.
// `parsed`: the record already holds `stored` as read by `FieldAt` (any
// kind); it then only takes the field's kind. `reusedOther` (may be null):
// the record to read `otherText` into.
HRESULT FillFieldData(KXComException& ctx, const FieldKindTraits& traits, PageLoadContext& context,
                      IKXQObject* page, IKXQTemplateField* field, int32_t position, int32_t status,
                      BSTR stored, BSTR otherText, KXFieldData& record, bool parsed = false,
                      KXFieldData* reusedOther = nullptr) {
  MainContext& main = *context.m_pMain;
  if (parsed) {
    record.typeId = traits.kind;
  } else {
    KX_CHECK(ctx, record.ParseFieldData(traits.kind, stored, -1));
  }
  KXFieldData ownOther;
  // Read as new, whatever it held before.
  KXFieldData& other = reusedOther != nullptr ? *reusedOther : ownOther;
  KX_CHECK(ctx, other.SelectField(otherText, -1));
  int32_t state = record.state;
  if (traits.defaultAlignments) {
    if (record.alignment < 0) {
      LONG value = -1;
      KX_CHECK(ctx, field->get_Alignment(&value));
      record.alignment = value;
    }
    if (record.verticalAlignment < 0) {
      LONG value = -1;
      KX_CHECK(ctx, field->get_VerticalAlignment(&value));
      record.verticalAlignment = value;
    }
  }
  const int32_t row = RowOf(context, position);
  HRESULT result = S_OK;
  if (status == 1) {
    LONG initial = 0;
    KX_CHECK(ctx, field->get_InitialState(&initial));
    state = initial;
    _variant_t at;
    IKXQFieldValuePtr holder;
    bool rowEmpty = false;
    // Only a value read as the trigger item reads it is kept with the walk;
    // the walk to any other is kept alone, for the item to take.
    const bool keepValue = WithoutUnit(field);
    FieldUtils::FieldValueRead valueRead(true);
    const HRESULT resolved = ResolveLive(context, page, field, row, at, holder, &rowEmpty,
                                         keepValue ? &valueRead : nullptr);
    if (context.m_listWalk != nullptr) {
      context.m_listWalk->made = false;
      if (context.m_continuousPage && SUCCEEDED(resolved)) {
        context.m_listWalk->Keep(page, position, row, rowEmpty ? S_FALSE : S_OK, at, holder);
      }
    }
    if (FAILED(resolved) && traits.emptyRow) result = resolved;
    if (FAILED(resolved)) ClearThreadErrorInfo();
    if (rowEmpty && traits.emptyRow) {
      record.value.Assign(u"");
    } else if (!holder) {
      FieldUtils::GetQualifierScopeFlag(page, field, &state);
    } else {
      ReadLiveValue(ctx, traits, main.m_pApplication, page, field, holder, at, record);
      valueRead.KeepWithValue();
      if (traits.kind == kFieldRadio) {
        if (record.value.IsEmpty() && context.m_radio) {
          IKXQTemplateFieldPtr numbered;
          LONG nodeId = -1;
          KX_CHECK(ctx, field->get_Id(&nodeId));
          const int32_t number = FieldUtils::GetFieldNumber(main, page, nodeId, 0, numbered);
          IKXQAttributePtr fields;
          GetAttributeInterface(page, u"Fields", fields);
          if (fields) SetAttributeValueAt(fields, number, u"");
          record.value.Reset();
        }
        ToOptionNumber(ctx, field, record);
      }
      FieldUtils::GetObjectStatusFlags(holder, at, &state);
    }
    if (traits.emptyValue != nullptr && record.value.IsEmpty()) {
      record.value.Assign(traits.emptyValue);
    }
  }
  const bool comparing = context.m_comparisonPageResolved;
  bool otherLive = false;
  if (comparing && context.m_comparisonStatus == 1 && context.m_comparisonPage) {
    // The other version's live value, resolved on the comparison page.
    IKXQObject* comparisonPage = context.m_comparisonPage;
    _variant_t at;
    IKXQFieldValuePtr holder;
    bool rowEmpty = false;
    if (context.m_continuousPage) {
      ContinuousPageHelper& helper = main.GetContinuousPageHelper();
      IKXQTemplatePage* templatePage = helper.TemplatePage();
      try {
        helper.InitializePageProperties(comparisonPage);
        (void)ResolveLive(context, comparisonPage, field, row, at, holder, &rowEmpty);
      } catch (const KXComException&) {
        holder = nullptr;
      }
      helper.InitializePageProperties(page);
      (void)templatePage;
    } else {
      (void)ResolveLive(context, comparisonPage, field, row, at, holder, &rowEmpty);
    }
    ClearThreadErrorInfo();
    if (holder) {
      // The other version's live value is a record of the field's kind,
      // also where that page stores no text for the field. It is read in
      // this page's unit: compared, and shown beside this page's units.
      if (other.typeId == kFieldCleared) other.typeId = traits.kind;
      try {
        ReadLiveValue(ctx, traits, main.m_pApplication, page, field, holder, at, other);
        if (traits.kind == kFieldRadio) ToOptionNumber(ctx, field, other);
        otherLive = true;
      } catch (const KXComException&) {
        ClearThreadErrorInfo();
      }
    }
    if (traits.emptyValue != nullptr && other.value.IsEmpty())
      other.value.Assign(traits.emptyValue);
  }
  if (comparing && !otherLive && traits.kind == kFieldReal && context.m_comparisonPage &&
      !other.value.IsEmpty()) {
    // A stored value of the other version is in the unit that version
    // shows: it is compared, and shown, in this page's.
    LONG unitPosition = -1;
    const _bstr_t to = ShownUnit(main.m_pApplication, page, field, &unitPosition);
    if (unitPosition >= 0) {
      const _bstr_t from =
          ShownUnit(main.m_pApplication, context.m_comparisonPage, field, &unitPosition);
      const _bstr_t value = FieldUtils::ConvertValueText(main.m_pApplication, page, unitPosition,
                                                         _bstr_t(other.value.c_str()), from, to);
      other.value.Assign(static_cast<const OLECHAR*>(value));
    }
  }
  if (status != 4 || comparing) {
    if (record.IsFieldChanged(other, main.m_pApplication, true)) {
      state |= kFieldStatusChanged;
      if (comparing && traits.showsOther && record.value.IsEmpty() && !other.value.IsEmpty()) {
        record.value = other.value;
        state |= kFieldStatusShowsOther;
      }
    }
  }
  record.state = state;
  return result;
}

// Whether a record carries nothing a client needs (writers that may skip).
bool CarriesNothing(const FieldKindTraits& traits, const KXFieldData& record,
                    const OLECHAR* otherText) {
  const bool onlyChanged = record.state == kFieldStatusChanged;
  switch (traits.kind) {
    case kFieldString:
    case kFieldDate:
    case kFieldBool:
      return record.value.IsEmpty() && onlyChanged && record.alignment == 0 &&
             record.verticalAlignment == 0;
    case kFieldReal:
    case kFieldInteger:
      return record.value.IsEmpty() && record.prefix.IsEmpty() && record.postfix.IsEmpty() &&
             record.substitution.IsEmpty() && record.format.IsEmpty() && onlyChanged &&
             record.alignment == 0 && record.verticalAlignment == 0;
    case kFieldRadio:
    case kFieldSketch: return record.value.IsEmpty() && onlyChanged;
    case kFieldCheck:
      return !(record.value.c_str() != nullptr && _wcsicmp(record.value.c_str(), u"1") == 0) &&
             (otherText == nullptr || *otherText == 0 || onlyChanged) &&
             (record.state & kFieldStatusOutOfScope) == 0;
    default: return false;
  }
}

const FieldKindTraits& KindOf(KXComException& ctx, IKXQTemplateField* field) {
  _bstr_t typeName;
  KX_CHECK(ctx, field->get_TypeName(typeName.GetAddress()));
  const FieldKindTraits* traits = FindKind(typeName);
  if (traits == nullptr) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"Unknown field type %ls",
                            typeName.length() > 0 ? static_cast<const OLECHAR*>(typeName) : u"");
  }
  return *traits;
}

}  // namespace

int32_t ReadFieldDataAt(PageLoadContext& context, int32_t nodeId, int32_t row, int32_t position,
                        IKXQAttribute* attribute) {
  (void)context;
  KXComException ctx = KXComException::Silent(u"ReadFieldDataAt");
  CheckPointerArgument(ctx, attribute);
  auto matches = [&](const _bstr_t& text) {
    if (text.length() == 0) return false;
    KXFieldData record;
    KX_CHECK(ctx, record.SelectField(text, -1));
    return record.fieldId == nodeId && (row < 0 || record.index == row);
  };
  if (matches(StoredText(attribute, position))) return position;
  const int32_t count = GetAttributeCount(attribute);
  for (int32_t i = 1; i <= count; ++i) {
    // The record found elsewhere is the one compared: its own position.
    if (i != position && matches(StoredText(attribute, i))) return i;
  }
  return -1;
}

HRESULT WriteField(PageLoadContext& context, IKXQObject* page, IKXQTemplatePage* templatePage,
                   int32_t position, int32_t status, bool alwaysWrite, IKXQAttribute* fields,
                   IKXQAttribute* otherFields, bool templateChanged, BSTR* out,
                   FieldRecords* records) {
  return ServeRequest(u"KXDBDatasheetSvcs::WriteField", kSilentFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, out);
    *out = nullptr;
    CheckPointerArgument(ctx, context.m_pMain);
    _bstr_t stored;
    IKXQTemplateFieldPtr field;
    KXFieldData own;
    KXFieldData& record = records != nullptr ? records->field : own;
    if (records != nullptr) {
      // As a new record: every field unset.
      record.Clear();
      record.index = -1;
    }
    const bool parsed =
        FieldAt(ctx, context, templatePage, fields, position, true, stored, field, &record);
    CheckPointerArgument(ctx, field.GetInterfacePtr());
    LONG nodeId = -1;
    KX_CHECK(ctx, field->get_Id(&nodeId));
    const int32_t row = RowOf(context, position);
    _bstr_t otherText;
    if (otherFields != nullptr) {
      const int32_t at =
          templateChanged ? ReadFieldDataAt(context, nodeId, row, position, otherFields) : position;
      if (at > 0) otherText = StoredText(otherFields, at);
    }
    const FieldKindTraits& traits = KindOf(ctx, field);
    const HRESULT filled =
        FillFieldData(ctx, traits, context, page, field, position, status, stored, otherText,
                      record, parsed, records != nullptr ? &records->other : nullptr);
    KX_CHECK(ctx, filled);
    if (!alwaysWrite && CarriesNothing(traits, record, otherText)) return S_OK;
    record.fieldId = nodeId;
    if (context.m_continuousPage) record.index = row;
    // One writer for the load; dropped after a failure (it may hold part of
    // an element).
    if (!context.m_fieldWriter) context.m_fieldWriter = loaddatasheet::MakeWriter(ctx);
    ikxXMLStringWriter& writer = *context.m_fieldWriter;
    HRESULT hr = record.WriteFieldData(writer, kFieldDataShow, ObjectIdOf(page));
    if (SUCCEEDED(hr)) hr = writer.GetString(out);
    if (SUCCEEDED(hr)) hr = writer.Clear();
    if (FAILED(hr)) context.m_fieldWriter = nullptr;
    KX_CHECK(ctx, hr);
    return S_OK;
  });
}

HRESULT ReadRealFieldValue(PageLoadContext& context, IKXQObject* page,
                           IKXQTemplatePage* templatePage, int32_t position, IKXQAttribute* fields,
                           LiveRealField& out) {
  const auto work = [&](KXComException& ctx) {
    out = LiveRealField();
    CheckPointerArgument(ctx, context.m_pMain);
    _bstr_t stored;
    KXFieldData record;
    const bool parsed =
        FieldAt(ctx, context, templatePage, fields, position, true, stored, out.field, &record);
    // A record the template no longer has a field for shows nothing.
    if (!out.field) return S_FALSE;
    _bstr_t typeName;
    KX_CHECK(ctx, out.field->get_TypeName(typeName.GetAddress()));
    const FieldKindTraits* traits = FindKind(typeName);
    if (traits == nullptr || traits->kind != kFieldReal) return S_FALSE;
    const int32_t row = RowOf(context, position);
    const HRESULT filled = FillFieldData(ctx, *traits, context, page, out.field, position, 1,
                                         stored, nullptr, record, parsed);
    KX_CHECK(ctx, filled);
    if (record.value.IsEmpty()) return S_OK;
    out.value = record.value.c_str();
    LONG unitPosition = -1;
    if (out.field->get_UnitPosition(&unitPosition) != S_OK || unitPosition < 0) {
      ClearThreadErrorInfo();
      return S_OK;
    }
    IKXQAttributePtr units;
    GetAttributeInterface(page, u"Units", units);
    if (units) out.unit = StoredText(units, unitPosition + 1);
    bool rowEmpty = false;
    const HRESULT resolved =
        ResolveLive(context, page, out.field, row, out.position, out.holder, &rowEmpty);
    KX_CHECK(ctx, resolved);
    return S_OK;
  };
  return ServeRequest(u"KXDBDatasheetSvcs::WriteRealFieldWithUOM", kSilentFrame, work);
}

namespace {

// The stored form's record of the field at `position`: its live value
// against `otherText` (may be null), its id as "FieldId". `asShown`: a list
// row's record read as the page writer reads it (its column's record).
void FillStoredForm(KXComException& ctx, PageLoadContext& context, IKXQObject* page,
                    IKXQTemplatePage* templatePage, IKXQAttribute* fields, int32_t position,
                    BSTR otherText, KXFieldData& record, bool asShown = false) {
  CheckPointerArgument(ctx, context.m_pMain);
  _bstr_t stored;
  IKXQTemplateFieldPtr field;
  const bool parsed =
      FieldAt(ctx, context, templatePage, fields, position, asShown, stored, field, &record);
  CheckPointerArgument(ctx, field.GetInterfacePtr());
  const FieldKindTraits& traits = KindOf(ctx, field);
  const HRESULT filled = FillFieldData(ctx, traits, context, page, field, position, 1, stored,
                                       otherText, record, parsed);
  KX_CHECK(ctx, filled);
  LONG nodeId = -1;
  KX_CHECK(ctx, field->get_Id(&nodeId));
  record.fieldId = nodeId;
}

}  // namespace

HRESULT WriteFieldValueByType(PageLoadContext& context, IKXQObject* page,
                              IKXQTemplatePage* templatePage, int32_t position,
                              IKXQAttribute* fields, BSTR* out) {
  const auto work = [&](KXComException& ctx) {
    CheckPointerArgument(ctx, out);
    *out = nullptr;
    KXFieldData record;
    FillStoredForm(ctx, context, page, templatePage, fields, position, nullptr, record);
    KX_CHECK(ctx, record.WriteFieldData(out, kFieldDataDefinition, -1));
    return S_OK;
  };
  return ServeRequest(u"KXDBDatasheetSvcs::WriteFieldValueByType", kSilentFrame, work);
}

HRESULT ReadCurrentFieldRecord(PageLoadContext& context, IKXQObject* page,
                               IKXQTemplatePage* templatePage, int32_t position,
                               IKXQAttribute* fields, KXFieldData& record) {
  const auto work = [&](KXComException& ctx) {
    FillStoredForm(ctx, context, page, templatePage, fields, position, nullptr, record, true);
    return S_OK;
  };
  return ServeRequest(u"KXDBDatasheetSvcs::ReadCurrentFieldRecord", kSilentFrame, work);
}

HRESULT WriteFields(PageLoadContext& context, IKXQObject* page, IKXQTemplatePage* templatePage,
                    int32_t position, IKXQAttribute* fields, BSTR* out) {
  return ServeRequest(u"KXDBDatasheetSvcs::WriteFields", kSilentFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, out);
    *out = nullptr;
    IKXQObjectPtr issued;
    KX_CHECK(ctx, KXDBDatasheetSvcs::GetIssuedPage(page, 1, &issued));
    _bstr_t otherText;
    if (issued) {
      IKXQAttributePtr issuedFields;
      GetAttributeInterface(issued, u"Fields", issuedFields);
      otherText = StoredText(issuedFields, position);
    }
    KXFieldData record;
    FillStoredForm(ctx, context, page, templatePage, fields, position, otherText, record);
    if (context.m_continuousPage) record.index = RowOf(context, position);
    KX_CHECK(ctx, record.WriteFieldData(out, kFieldDataFull, -1));
    return S_OK;
  });
}

HRESULT WritePageFields(PageLoadContext& context, IKXQObject* page, IKXQTemplatePage* templatePage,
                        int32_t status) {
  return ServeRequest(u"KXDBDatasheetSvcs::WritePageFields", kFrame, [&](KXComException& ctx) {
    MainContext* main = context.m_pMain;
    CheckPointerArgument(ctx, main);
    IKXQObjectPtr other;
    if (!context.m_comparisonDatasheet || context.m_comparisonStatus == -1) {
      if (status != 4) KX_CHECK(ctx, KXDBDatasheetSvcs::GetIssuedPage(page, status, &other));
    } else {
      KX_CHECK(ctx, KXDBDatasheetSvcs::FindPageInStatusSet(page, context.m_comparisonDatasheet,
                                                           context.m_comparisonStatus, &other));
      context.m_comparisonPage = other;
      context.m_comparisonPageResolved = true;
    }
    IKXQAttributePtr otherFields;
    bool templateChanged = false;
    if (other) GetAttributeInterface(other, u"Fields", otherFields);
    if (otherFields && status != 4) {
      KX_CHECK(ctx,
               IsTemplateChecknumChanged(context, page, otherFields, status, &templateChanged));
    }

    IKXQAttributePtr fields;
    GetAttributeInterface(page, u"Fields", fields);
    if (!fields) return S_OK;
    const int32_t count = GetAttributeCount(fields);
    // Current pages and comparisons show live values.
    if (status == 1 || context.m_comparisonPageResolved) {
      // Each record of the page is read once: none is remembered for a
      // second reading.
      KXScopeGuard restore([&context, remembered = context.m_rememberRecords] {
        context.m_rememberRecords = remembered;
      });
      context.m_rememberRecords = false;
      FieldRecords records;  // one set of parsers for the page's records
      WriteEachEntry(ctx, *main, count, [&](int32_t i, BSTR* element) {
        return WriteField(context, page, templatePage, i, status, true, fields, otherFields,
                          templateChanged, element, &records);
      });
      return S_OK;
    }
    const int32_t pageId = ObjectIdOf(page);
    KXFieldData record;
    _com_ptr_t<ikxXMLStringWriter> writer;
    WriteEachEntry(ctx, *main, count, [&](int32_t i, BSTR* element) {
      _bstr_t text;
      const HRESULT hr = WriteStoredField(context, fields, i, pageId, record, writer, text);
      *element = text.Detach();
      return hr;
    });
    return S_OK;
  });
}

namespace {

// The page's list attribute `name`; a null page or a page without it:
// E_POINTER.
int32_t GetPageList(KXComException& ctx, IKXQObject* page, const OLECHAR* name,
                    IKXQAttributePtr& list) {
  if (page == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  GetAttributeInterface(page, name, list);
  if (!list) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  return GetAttributeCount(list);
}

}  // namespace

// ---------------------------------------------------------------------------
// Helpers shared with the change events.

namespace loaddatasheet {

int32_t ReadQualifierValue(KXComException& ctx, IKXQAttribute* list, int32_t index) {
  _variant_t value;
  KX_CHECK(ctx, list->GetValue(_variant_t(static_cast<int>(index), VT_I4), _variant_t(), &value));
  if (!IsVariantSet(value)) return 0;
  LONG number = 0;
  if (FAILED(VariantToLong(value, &number, true))) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), DISP_E_TYPEMISMATCH,
                            u"Cannot coerce attribute to an integer");
  }
  return number;
}

void ReportItemFailure(IKXQApplication* application, HRESULT hr) {
  _bstr_t text;
  const std::u16string description = TakeThreadErrorText();
  if (!description.empty()) text.Attach(GetErrorDescription(description.c_str()));
  if (text.length() == 0) text.Attach(GetHResultMessage(hr));
  if (application != nullptr) (void)application->LogWarning(text);
  ClearThreadErrorInfo();
}

HRESULT WriteStoredAnnotation(IKXQObject* page, IKXQObject* issued, IKXQApplication* application,
                              int32_t status, BSTR text, BSTR* out) {
  const auto work = [&](KXComException& ctx) {
    CheckPointerArgument(ctx, out);
    *out = nullptr;
    _bstr_t issuedText;
    if (issued != nullptr && SysStringLen(text) > 0) {
      KXFieldData record;
      KX_CHECK(ctx, record.ParseFieldData(kFieldAnnotation, text, -1));
      FieldUtils::GetAnnotation(issued, record.fieldId, false, issuedText);
    }
    KX_CHECK(ctx, WriteAnnotationField(page, application, status, text, issuedText, out));
    return S_OK;
  };
  return ServeRequest(u"KXDBDatasheetSvcs::WritePageAnnotations", kSilentFrame, work);
}

_com_ptr_t<ikxXMLStringWriter> MakeWriter(KXComException& ctx) {
  _com_ptr_t<ikxXMLStringWriter> writer;
  KX_CHECK(ctx, KXXMLStringWriter::CreateInstance(IID_ikxXMLStringWriter,
                                                  reinterpret_cast<void**>(&writer)));
  writer->SetOption(false);
  return writer;
}

}  // namespace loaddatasheet

// ---------------------------------------------------------------------------
// Units.

HRESULT WritePageUnits(PageLoadContext& context, IKXQObject* page, IKXQTemplatePage* templatePage) {
  return ServeRequest(u"KXDBDatasheetSvcs::WritePageUnits", kFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, context.m_pMain);
    IKXQAttributePtr units;
    const int32_t count = GetPageList(ctx, page, u"Units", units);
    WriteEachEntry(ctx, *context.m_pMain, count, [&](int32_t i, BSTR* element) {
      _bstr_t text;
      KXDBDatasheetSvcs::GetAttributeValueStringAt(units, i, text);
      return WriteShowUnit(page, templatePage, i - 1, text, element);
    });
    return S_OK;
  });
}

HRESULT WriteShowUnit(IKXQObject* page, IKXQTemplatePage* templatePage, int32_t unit, BSTR unitText,
                      BSTR* out) {
  return ServeRequest(u"KXDBDatasheetSvcs::WriteShowUnit", kFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, out);
    *out = nullptr;
    CheckPointerArgument(ctx, templatePage);
    const int32_t pageId = ObjectIdOf(page);
    LONG alignment = 0;
    LONG verticalAlignment = 0;
    KX_CHECK(ctx, templatePage->GetUnitAlignment(unit, &alignment, &verticalAlignment));
    _com_ptr_t<IKXQTemplateUnit> definition;
    KX_CHECK(ctx, templatePage->get_Unit(unit, &definition));
    CheckPointerArgument(ctx, definition.GetInterfacePtr());
    _bstr_t value;
    const HRESULT shown = SysStringLen(unitText) > 0
                              ? definition->GetDisplayText(unitText, value.GetAddress())
                              : definition->GetDefaultText(0, value.GetAddress());
    // The unit's text is the store's; without one the element still stands.
    if (FAILED(shown)) ClearThreadErrorInfo();

    _com_ptr_t<ikxXMLStringWriter> writer = loaddatasheet::MakeWriter(ctx);
    KX_CHECK(ctx, writer->StartElement(u"ShowUnit"));
    KX_CHECK(ctx, writer->WriteAttribute(u"PageId", LONG{pageId}));
    KX_CHECK(ctx, writer->WriteAttribute(u"UnitId", LONG{unit}));
    KX_CHECK(ctx, writer->WriteAttribute(u"Alignment", alignment));
    KX_CHECK(ctx, writer->WriteAttribute(u"VerticalAlignment", verticalAlignment));
    KX_CHECK(ctx, writer->WriteAttribute(u"Value", static_cast<const OLECHAR*>(value)));
    KX_CHECK(ctx, writer->EndElement(u"ShowUnit"));
    KX_CHECK(ctx, writer->GetString(out));
    return S_OK;
  });
}

// ---------------------------------------------------------------------------
// Revisions.

HRESULT WritePageRevisions(PageLoadContext& context, IKXQObject* page,
                           IKXQTemplatePage* templatePage) {
  return ServeRequest(u"KXDBDatasheetSvcs::WritePageRevisions", kFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, context.m_pMain);
    IKXQAttributePtr revisions;
    const int32_t count = GetPageList(ctx, page, u"Revisions", revisions);
    WriteEachEntry(ctx, *context.m_pMain, count, [&](int32_t i, BSTR* element) {
      _bstr_t text;
      KXDBDatasheetSvcs::GetAttributeValueStringAt(revisions, i, text);
      return WriteShowRevision(context, page, templatePage, i - 1, text, element);
    });
    return S_OK;
  });
}

HRESULT WriteShowRevision(PageLoadContext& context, IKXQObject* page,
                          IKXQTemplatePage* templatePage, int32_t revision, BSTR revisionText,
                          BSTR* out) {
  return ServeRequest(u"KXDBDatasheetSvcs::WriteShowRevision", kFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, out);
    *out = nullptr;
    CheckPointerArgument(ctx, templatePage);
    const int32_t pageId = ObjectIdOf(page);
    int32_t row = -1;
    int32_t revisionId = revision;
    if (context.m_continuousPage) {
      CheckPointerArgument(ctx, context.m_pMain);
      KX_CHECK(ctx, context.m_pMain->GetContinuousPageHelper().MapRevisionPosition(
                        revision, &revisionId, &row));
    }
    LONG alignment = 0;
    LONG verticalAlignment = 0;
    KX_CHECK(ctx, templatePage->GetRevisionAlignment(revisionId, &alignment, &verticalAlignment));

    _com_ptr_t<ikxXMLStringWriter> writer = loaddatasheet::MakeWriter(ctx);
    KX_CHECK(ctx, writer->StartElement(u"ShowRevision"));
    KX_CHECK(ctx, writer->WriteAttribute(u"PageId", LONG{pageId}));
    KX_CHECK(ctx, writer->WriteAttribute(u"RevisionId", LONG{revisionId}));
    KX_CHECK(ctx, writer->WriteAttribute(u"Alignment", alignment));
    KX_CHECK(ctx, writer->WriteAttribute(u"VerticalAlignment", verticalAlignment));
    if (SysStringLen(revisionText) > 0) {
      KX_CHECK(ctx, writer->WriteAttribute(u"Value", static_cast<const OLECHAR*>(revisionText)));
    }
    if (context.m_continuousPage && row >= 0) {
      KX_CHECK(ctx, writer->WriteAttribute(u"Index", LONG{row}));
    }
    KX_CHECK(ctx, writer->EndElement(u"ShowRevision"));
    KX_CHECK(ctx, writer->GetString(out));
    return S_OK;
  });
}

// ---------------------------------------------------------------------------
// Annotations.

HRESULT WritePageAnnotations(PageLoadContext& context, IKXQObject* page, int32_t status) {
  return ServeRequest(u"KXDBDatasheetSvcs::WritePageAnnotations", kFrame, [&](KXComException& ctx) {
    MainContext* main = context.m_pMain;
    CheckPointerArgument(ctx, main);
    IKXQObjectPtr issued;
    if (status != 4) KX_CHECK(ctx, KXDBDatasheetSvcs::GetIssuedPage(page, status, &issued));
    IKXQAttributePtr annotations;
    const int32_t count = GetPageList(ctx, page, u"Annotations", annotations);
    WriteEachEntry(ctx, *main, count, [&](int32_t i, BSTR* element) {
      _bstr_t text;
      KXDBDatasheetSvcs::GetAttributeValueStringAt(annotations, i, text);
      return loaddatasheet::WriteStoredAnnotation(page, issued, main->m_pApplication, status, text,
                                                  element);
    });
    return S_OK;
  });
}

HRESULT WriteAnnotationField(IKXQObject* page, IKXQApplication* application, int32_t status,
                             BSTR text, BSTR otherText, BSTR* out) {
  return ServeRequest(u"KXDBDatasheetSvcs::WriteAnnotationField", kFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, out);
    *out = nullptr;
    const int32_t pageId = ObjectIdOf(page);
    if (SysStringLen(text) == 0) return S_OK;
    KXFieldData record;
    KX_CHECK(ctx, record.ParseFieldData(kFieldAnnotation, text, -1));
    KXFieldData other;
    KX_CHECK(ctx, other.SelectField(otherText, -1));
    if (status != 4 && record.IsFieldChanged(other, application, true)) record.state = 0x100;
    KX_CHECK(ctx, record.WriteFieldData(out, kFieldDataShow, pageId));
    return S_OK;
  });
}

// ---------------------------------------------------------------------------
// Qualifiers.

HRESULT WritePageQualifiers(PageLoadContext& context, IKXQObject* page, int32_t status) {
  return ServeRequest(u"KXDBDatasheetSvcs::WritePageQualifiers", kFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, context.m_pMain);
    IKXQAttributePtr qualifiers;
    const int32_t count = GetPageList(ctx, page, u"Qualifiers", qualifiers);
    WriteEachEntry(ctx, *context.m_pMain, count, [&](int32_t i, BSTR* element) {
      // An entry that is no integer ends the list: it is raised, not warned.
      const int32_t value = loaddatasheet::ReadQualifierValue(ctx, qualifiers, i);
      return WriteShowQualifier(page, status, i - 1, value, element);
    });
    return S_OK;
  });
}

HRESULT WriteShowQualifier(IKXQObject* page, int32_t, int32_t qualifier, int32_t value, BSTR* out) {
  return ServeRequest(u"KXDBDatasheetSvcs::WriteShowQualifier", kFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, out);
    *out = nullptr;
    _com_ptr_t<ikxXMLStringWriter> writer = loaddatasheet::MakeWriter(ctx);
    KX_CHECK(ctx, writer->StartElement(u"ShowQualifier"));
    KX_CHECK(ctx, writer->WriteAttribute(u"PageId", LONG{ObjectIdOf(page)}));
    KX_CHECK(ctx, writer->WriteAttribute(u"QualifierId", LONG{qualifier}));
    KX_CHECK(ctx, writer->WriteAttribute(u"Value", LONG{value}));
    KX_CHECK(ctx, writer->EndElement(u"ShowQualifier"));
    KX_CHECK(ctx, writer->GetString(out));
    return S_OK;
  });
}
