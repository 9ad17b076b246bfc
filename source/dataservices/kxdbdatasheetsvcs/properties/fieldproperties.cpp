#include "properties/fieldproperties.h"

#include <algorithm>
#include <functional>
#include <string>

#include "fieldmodel/fieldunits.h"
#include "fieldmodel/fieldutils.h"
#include "kxattributeutils.h"
#include "kxstoreutils.h"
#include "loader/loaddatasheet.h"
#include "model/continuouspageadvisor.h"
#include "model/kxdbdatasheetutils.h"
#include "model/kxfielddata.h"
#include "properties/fieldformat.h"
#include "properties/fieldpage.h"
#include "variantutil.h"
#include "xmlreply.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/fieldproperties";
constexpr FrameOptions kFrame{.file = kFile};

using Text = std::u16string;

Text ToText(const _bstr_t& text) {
  return text.length() ? Text(static_cast<const OLECHAR*>(text)) : Text();
}

// The field's first node and the object placed there (at `row` on a
// continuous list; null when none).
IKXQObjectPtr GetFirstNodeObject(IKXQObject* page, IKXQTemplateField* field, int32_t row,
                                 IKXQClassViewPtr& node) {
  FieldUtils::GetTemplateFieldNode(page, field, true, node);
  IKXQObjectPtr object;
  if (row < 0)
    KXDBDatasheetSvcs::GetNodeObject(object, page, node);
  else
    KXDBDatasheetSvcs::GetNodeObjectAtRow(object, page, row, node);
  return object;
}

// The classes the node accepts, in the template's order.
void ForEachAttachedClass(KXComException& ctx, IKXQClassView* node,
                          const std::function<bool(IKXQClass*)>& visit) {
  SAFEARRAY* array = nullptr;
  KX_CHECK(ctx, node->GetAttachedClasses(0, &array));
  VariantUtil::SafeArrayVector classes(array, true);
  for (int32_t i = 0; i < classes.Count(); ++i) {
    IKXQClassPtr cls;
    KX_CHECK(ctx, classes.GetClassAt(i, &cls));
    if (cls && !visit(cls)) return;
  }
}

// The class of the object at the field's first node, else the classes the
// node accepts (only those that have the field's attribute, when the node
// knows it), one a line.
Text GetFieldClassText(KXComException& ctx, IKXQObject* page, IKXQTemplateField* field,
                       int32_t row) {
  IKXQClassViewPtr node;
  const IKXQObjectPtr object = GetFirstNodeObject(page, field, row, node);
  if (object) {
    IKXQClassPtr cls;
    KX_CHECK(ctx, object->get_Class(&cls));
    _bstr_t name;
    if (cls) KX_CHECK(ctx, cls->get_Name(name.GetAddress()));
    return ToText(name);
  }
  _bstr_t attributeName;
  KX_CHECK(ctx, field->get_AttributeName(attributeName.GetAddress()));
  VARIANT_BOOL knows = VARIANT_FALSE;
  KX_CHECK(ctx, node->KnowsAttribute(attributeName, &knows));
  Text text;
  ForEachAttachedClass(ctx, node, [&](IKXQClass* cls) {
    VARIANT_BOOL has = VARIANT_TRUE;
    if (knows) KX_CHECK(ctx, cls->HasAttribute(attributeName, &has));
    if (!has) return true;
    _bstr_t name;
    KX_CHECK(ctx, cls->get_Name(name.GetAddress()));
    if (!text.empty()) text += u",\n";
    text += ToText(name);
    return true;
  });
  return text;
}

// A route step's attribute name: the text before any list position,
// qualifier or blank ("Nozzles(2)", "Nozzles [Service=Inlet]").
_bstr_t StepAttributeName(const _bstr_t& step) {
  const std::u16string_view text = step.length() > 0 ? step.view() : std::u16string_view();
  return _bstr_t(Text(text.substr(0, std::min(text.size(), text.find_first_of(u"([ ")))).c_str());
}

// The definition of the attribute at the end of the field's route, walked
// through the attribute definitions from `cls` at its first node; null
// when a step names no attribute or leads to no class.
_com_ptr_t<IKXQAttributeDef> GetRouteEndDefinition(KXComException& ctx, IKXQClass* start,
                                                   const VariantUtil::SafeArrayVector& nodes,
                                                   const _bstr_t& attributeName) {
  IKXQClassPtr cls(start);
  _com_ptr_t<IKXQAttributeDef> definition;
  for (int32_t i = 1; i <= nodes.Count() && cls; ++i) {
    _bstr_t step = attributeName;
    if (i < nodes.Count()) {
      IKXQClassViewPtr node;
      KX_CHECK(ctx, nodes.GetClassViewAt(i, &node));
      KX_CHECK(ctx, node->get_Name(step.GetAddress()));
    }
    definition = nullptr;
    KX_CHECK(ctx, cls->get_AttributeDefByName(StepAttributeName(step), &definition));
    if (!definition) return nullptr;
    cls = nullptr;
    if (i < nodes.Count()) KX_CHECK(ctx, definition->get_ReferencedClass(&cls));
  }
  return definition;
}

// The documentation of the attribute the field shows, with the name of the
// object its definition refers to in brackets: the route is walked from
// the class of the object at its first node, else from each class the node
// accepts until one leads to the attribute.
Text GetFieldDocumentationText(KXComException& ctx, IKXQObject* page, IKXQTemplateField* field,
                               int32_t row) {
  IKXQClassViewPtr first;
  const IKXQObjectPtr object = GetFirstNodeObject(page, field, row, first);
  int32_t qualifier = -1;
  SAFEARRAY* array = nullptr;
  FieldUtils::GetFieldQualifier(page, field, &qualifier, &array);
  VariantUtil::SafeArrayVector nodes(array, true);
  _bstr_t attributeName;
  KX_CHECK(ctx, field->get_AttributeName(attributeName.GetAddress()));
  _com_ptr_t<IKXQAttributeDef> definition;
  if (object) {
    IKXQClassPtr cls;
    KX_CHECK(ctx, object->get_Class(&cls));
    if (cls) definition = GetRouteEndDefinition(ctx, cls, nodes, attributeName);
  } else {
    ForEachAttachedClass(ctx, first, [&](IKXQClass* cls) {
      definition = GetRouteEndDefinition(ctx, cls, nodes, attributeName);
      return !definition;
    });
  }
  if (!definition) return Text();
  _bstr_t documentation;
  KX_CHECK(ctx, definition->get_Documentation(documentation.GetAddress()));
  Text text = ToText(documentation);
  IKXQObjectPtr linked;
  KX_CHECK(ctx, definition->get_LinkedObject(&linked));
  _bstr_t name;
  if (linked) KXDBDatasheetSvcs::GetObjectName(linked, name, false);
  if (name.length() > 0) text += (text.empty() ? u"(" : u" (") + ToText(name) + u")";
  return text;
}

// The page's unit id for unit definition `position` ("" when none).
_bstr_t PageUnitId(IKXQObject* page, LONG position) {
  _bstr_t id;
  IKXQAttributePtr units;
  GetAttributeInterface(page, u"Units", units);
  if (units && position + 1 <= GetAttributeCount(units)) {
    KXDBDatasheetSvcs::GetAttributeValueStringAt(units, position + 1, id);
  }
  return id;
}

// The unit definition's text for a page's unit id, its default text when
// the page names none.
_bstr_t UnitsText(KXComException& ctx, IKXQTemplateUnit* unit, const _bstr_t& unitId) {
  _bstr_t text;
  if (unit == nullptr) return text;
  if (unitId.length() > 0)
    KX_CHECK(ctx, unit->GetDisplayText(unitId, text.GetAddress()));
  else
    KX_CHECK(ctx, unit->GetDefaultText(0, text.GetAddress()));
  return text;
}

// "First node: second.third.attribute" from the field's qualifier nodes.
Text GetFieldAttributePath(KXComException& ctx, IKXQObject* page, IKXQTemplateField* field) {
  int32_t qualifier = -1;
  SAFEARRAY* array = nullptr;
  FieldUtils::GetFieldQualifier(page, field, &qualifier, &array);
  VariantUtil::SafeArrayVector nodes(array, true);
  Text text;
  for (int32_t i = 0; i < nodes.Count(); ++i) {
    IKXQClassViewPtr node;
    KX_CHECK(ctx, nodes.GetClassViewAt(i, &node));
    _bstr_t name;
    KX_CHECK(ctx, node->get_Name(name.GetAddress()));
    text += ToText(name);
    text += i == 0 ? u": " : u".";
  }
  _bstr_t attributeName;
  KX_CHECK(ctx, field->get_AttributeName(attributeName.GetAddress()));
  return text + ToText(attributeName);
}

}  // namespace

// ---------------------------------------------------------------------------
// "GetFieldProperties"

const GrammarRecord* GetFieldPropertiesSchema::GetSchema() const {
  static constexpr auto kGrammar =
      Grammar::Message(u"GetFieldProperties", FieldAddressAttributes<GetFieldPropertiesSchema>());
  return kGrammar.data();
}

HRESULT GetFieldPropertiesMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  return StoreFieldAddress<GetFieldPropertiesSchema>(*this, id, value);
}

HRESULT GetFieldPropertiesMessageParser::WritePopProperties() {
  return ServeRequest(u"KXDBDatasheetSvcs::WritePopProperties", kFrame, [&](KXComException& ctx) {
    MainContext& main = *m_pMain;
    FieldPage work(main, m_pageId);
    IKXQTemplateFieldPtr field;
    const int32_t number = work.FieldNumber(m_fieldId, m_index, field);
    const IKXQAttributePtr fields = work.Fields();
    // A list row is presented as the page presents it: by its column's
    // record (the first row's entry), by its own only where that is empty.
    int32_t shown = number;
    if (m_index >= 0 && work.IsContinuous()) {
      const int32_t column =
          FieldUtils::GetContinuousFieldNumber(main.GetContinuousPageHelper(), field, -1);
      if (FieldPresentation::StoredFieldText(fields, column).length() > 0) shown = column;
    }
    _bstr_t typeName, format;
    int32_t alignment = -1, verticalAlignment = -1;
    FieldUtils::GetFieldDisplayFormat(field, fields, shown, typeName, &alignment,
                                      &verticalAlignment, format);
    const int32_t kind = FieldPresentation::KindOfType(typeName);
    const Text classText = GetFieldClassText(ctx, work.page, field, m_index);
    const Text attributePath = GetFieldAttributePath(ctx, work.page, field);
    const Text documentation = GetFieldDocumentationText(ctx, work.page, field, m_index);
    Text caseText;
    const int32_t caseId = FieldUtils::GetFieldCase(work.page, field, nullptr, nullptr);
    if (caseId >= 0) {
      _bstr_t name;
      if (SUCCEEDED(main.m_pDatabase->get_CaseName(caseId, name.GetAddress())))
        caseText = ToText(name);
    }
    if (caseText.empty()) caseText = u"Undefined";
    LONG state = 0;
    KX_CHECK(ctx, field->get_InitialState(&state));
    // Units of a real field: the page's unit for the field's unit definition.
    _bstr_t unitId, unitsText;
    _com_ptr_t<IKXQTemplateUnit> unit;
    LONG unitPosition = -1;
    if (kind == kFieldReal && field->get_UnitPosition(&unitPosition) == S_OK && unitPosition >= 0) {
      KX_CHECK(ctx, work.templatePage->get_Unit(unitPosition, &unit));
      unitId = PageUnitId(work.page, unitPosition);
      unitsText = UnitsText(ctx, unit, unitId);
      // The value is read in the unit shown, the default one without an id.
      if (unitId.length() == 0) unitId = FieldUtils::GetDefaultUnit(unit);
    }
    FieldValue value;
    FieldPresentation::ResolveFieldValue(work, field, m_index, value);
    VARIANT_BOOL locked = VARIANT_FALSE, secured = VARIANT_FALSE;
    bool held = false;
    _bstr_t disciplines, holdReason, valueText, prefix, postfix, substitution;
    if (value.attribute) {
      KX_CHECK(ctx, value.attribute->IsLocked(value.position, &locked));
      KX_CHECK(ctx, value.attribute->IsSecured(value.position, &secured));
      held = FieldPresentation::IsValueHeld(value.attribute, value.position);
      KX_CHECK(ctx, value.attribute->get_Disciplines(disciplines.GetAddress()));
      if (held) {
        IKXQObjectPtr hold;
        KX_CHECK(ctx, value.attribute->get_HoldObject(value.position, &hold));
        if (hold) KXDBDatasheetSvcs::GetObjectNameWithReason(holdReason, hold);
      }
      int32_t flags = state;
      FieldUtils::GetObjectStatusFlags(value.holder, value.position, &flags);
      state = flags;
      FieldUtils::GetAttributeValueText(
          value.holder, value.position, valueText,
          unitId.length() ? static_cast<const OLECHAR*>(unitId) : nullptr);
      if (kind == kFieldReal || kind == kFieldInteger) {
        KXDBDatasheetSvcs::ReadViewNumberTexts(value.holder, value.position, prefix, postfix,
                                               substitution);
      }
    }
    // The value on the issued copy of the page, and whether it changed since.
    Text issuedValue;
    {
      KXFieldData current, issued;
      // The stored record holds no value: the field's content is the one
      // the page shows, built as the page builds it for its own comparison,
      // so that this answer and the page's "State" agree.
      if (kind > 0) {
        KX_CHECK(ctx, ReadCurrentFieldRecord(work.LoadContext(), work.page, work.templatePage,
                                             number, fields, current));
      }
      IKXQObjectPtr issuedPage;
      KX_CHECK(ctx, KXDBDatasheetSvcs::GetIssuedPage(work.page, 1, &issuedPage));
      if (issuedPage && kind > 0) {
        IKXQAttributePtr issuedFields;
        GetAttributeInterface(issuedPage, u"Fields", issuedFields);
        _bstr_t stored = FieldPresentation::StoredFieldText(issuedFields, number);
        KX_CHECK(ctx, issued.ParseFieldData(kind, stored, m_index));
        if (!issued.value.IsNull()) issuedValue = issued.value.str();
        Text decoration;
        if (kind == kFieldReal || kind == kFieldInteger) {
          if (!issued.substitution.IsEmpty()) {
            decoration = u"['" + issued.substitution.str() + u"']";
          } else if (!issued.prefix.IsEmpty() || !issued.postfix.IsEmpty()) {
            decoration = u"['" + issued.prefix.str() + u"' : '" + issued.postfix.str() + u"']";
          }
        }
        if (!decoration.empty()) issuedValue = decoration + u" " + issuedValue;
        // The issued value is in the unit the issued copy showed, whatever
        // unit the current page shows now.
        const _bstr_t issuedUnits =
            unit ? UnitsText(ctx, unit, PageUnitId(issuedPage, unitPosition)) : _bstr_t();
        if (kind == kFieldReal && !issuedValue.empty() && issuedUnits.length() > 0) {
          issuedValue += u" (" + ToText(issuedUnits) + u")";
        }
      }
      if (kind > 0 && current.IsFieldChanged(issued, main.m_pApplication, true))
        state |= kFieldStatusChanged;
    }
    XMLReply::BeginMessage(Reply(), m_targetId.IsNull() ? u"" : m_targetId.c_str(), m_status);
    XMLReply::EnsureAttributes(Reply());
    XMLReply::AddLongAttribute(Reply(), u"PageId", m_pageId);
    XMLReply::AddLongAttribute(Reply(), u"FieldId", m_fieldId);
    if (m_index >= 0) XMLReply::AddLongAttribute(Reply(), u"Index", m_index);
    XMLReply::AddStringAttribute(Reply(), u"Class", _bstr_t(classText.c_str()));
    XMLReply::AddStringAttribute(Reply(), u"Type", typeName);
    XMLReply::AddStringAttribute(Reply(), u"Attribute", _bstr_t(attributePath.c_str()));
    XMLReply::AddStringAttribute(Reply(), u"Documentation", _bstr_t(documentation.c_str()));
    XMLReply::AddStringAttribute(Reply(), u"Disciplines", disciplines);
    XMLReply::AddStringAttribute(Reply(), u"Case", _bstr_t(caseText.c_str()));
    XMLReply::AddStringAttribute(Reply(), u"Value", valueText);
    XMLReply::AddStringAttribute(Reply(), u"Units", unitsText);
    XMLReply::AddStringAttribute(Reply(), u"IssuedValue", _bstr_t(issuedValue.c_str()));
    XMLReply::AddLongAttribute(Reply(), u"State", state);
    XMLReply::AddLongAttribute(Reply(), u"Lock", locked ? 1 : 0);
    XMLReply::AddLongAttribute(Reply(), u"Secure", secured ? 1 : 0);
    XMLReply::AddLongAttribute(Reply(), u"Hold", held ? 1 : 0);
    XMLReply::AddStringAttribute(Reply(), u"HoldReason", holdReason);
    if (alignment >= 0) XMLReply::AddLongAttribute(Reply(), u"Alignment", alignment);
    if (verticalAlignment >= 0)
      XMLReply::AddLongAttribute(Reply(), u"VerticalAlignment", verticalAlignment);
    static constexpr const OLECHAR* kFormatNames[] = {
        nullptr, nullptr, nullptr, u"RealFormat", u"IntegerFormat", u"BoolFormat", u"DateFormat"};
    if (kind >= kFieldReal && kind <= kFieldDate) {
      XMLReply::AddStringAttribute(Reply(), kFormatNames[kind], format);
    }
    if (kind == kFieldReal || kind == kFieldInteger) {
      XMLReply::AddStringAttribute(Reply(), u"Prefix", prefix);
      XMLReply::AddStringAttribute(Reply(), u"Postfix", postfix);
      XMLReply::AddStringAttribute(Reply(), u"Substitution", substitution);
    }
    XMLReply::StartElement(Reply(), u"PopProperties");
    if (value.attribute && kind == kFieldReal && unit && valueText.length() > 0) {
      // The value in every unit of the field's unit definition.
      SAFEARRAY* array = nullptr;
      KX_CHECK(ctx, unit->get_Units(&array));
      VariantUtil::SafeArrayVector names;
      names.AttachStrings(array, true);
      if (names.Count() > 0) {
        const LONG position = value.position.vt == VT_EMPTY ? 0 : static_cast<LONG>(value.position);
        XMLReply::StartElement(Reply(), u"RealData");
        for (int32_t i = 0; i < names.Count(); ++i) {
          _bstr_t name;
          KX_CHECK(ctx, names.GetStringAt(i, name.GetAddress()));
          double real = 0;
          if (FAILED(value.attribute->GetRealInUnit(position, name, &real))) {
            ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                                    u"Cannot coerce attribute to a Real");
          }
          _bstr_t realText;
          VariantUtil::FormatForXML(_variant_t(real), realText.GetAddress());
          XMLReply::EnsureAttributes(Reply());
          XMLReply::AddStringAttribute(Reply(), u"Value", realText);
          XMLReply::AddStringAttribute(Reply(), u"Units", name);
          XMLReply::WriteElement(Reply(), u"Data", nullptr);
        }
        XMLReply::EndElement(Reply(), u"RealData");
      }
    } else if (value.attribute && kind == kFieldString) {
      SAFEARRAY* array = nullptr;
      KX_CHECK(ctx, field->get_Options(&array));
      VariantUtil::SafeArrayVector options;
      options.AttachStrings(array, true);
      if (options.Count() > 0) {
        XMLReply::EnsureAttributes(Reply());
        XMLReply::AddStringAttribute(Reply(), u"Open",
                                     _bstr_t((state & 0x400) ? u"False" : u"True"));
        XMLReply::StartElement(Reply(), u"OptionsData");
        for (int32_t i = 0; i < options.Count(); ++i) {
          _bstr_t option;
          KX_CHECK(ctx, options.GetStringAt(i, option.GetAddress()));
          XMLReply::AddStringAttribute(Reply(), u"Value", option);
          XMLReply::WriteElement(Reply(), u"Data", nullptr);
        }
        XMLReply::EndElement(Reply(), u"OptionsData");
      }
    }
    XMLReply::EndElement(Reply(), u"PopProperties");
    XMLReply::EndMessage(Reply());
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::GetFieldProperties(MainContext& main, const OLECHAR* request) {
  return ServeMessage<GetFieldPropertiesMessageParser>(
      main, u"KXDBDatasheetSvcs::GetFieldProperties", request);
}

// ---------------------------------------------------------------------------
// "SetFieldProperties"

const GrammarRecord* SetFieldPropertiesSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Message(
      u"SetFieldProperties",
      FieldAddressAttributes<SetFieldPropertiesSchema>(
          {Grammar::Integer(u"IsLocked", IsLocked), Grammar::Integer(u"IsHeld", IsHeld),
           Grammar::Integer(u"IsSecured", IsSecured), Grammar::Integer(u"HoldId", HoldId),
           Grammar::Integer(u"Alignment", Alignment),
           Grammar::Integer(u"VerticalAlignment", VerticalAlignment),
           Grammar::String(u"BoolFormat", BoolFormat), Grammar::String(u"DateFormat", DateFormat),
           Grammar::String(u"IntegerFormat", IntegerFormat),
           Grammar::String(u"RealFormat", RealFormat),
           Grammar::String(u"ConfirmedClass", ConfirmedClass)}));
  return kGrammar.data();
}

HRESULT SetFieldPropertiesMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case IsLocked: return Store(m_isLocked, value);
    case IsHeld: return Store(m_isHeld, value);
    case IsSecured: return Store(m_isSecured, value);
    case HoldId: return Store(m_holdId, value);
    case Alignment: return Store(m_alignment, value);
    case VerticalAlignment: return Store(m_verticalAlignment, value);
    case BoolFormat: return Store(m_boolFormat, value);
    case DateFormat: return Store(m_dateFormat, value);
    case IntegerFormat: return Store(m_integerFormat, value);
    case RealFormat: return Store(m_realFormat, value);
    case ConfirmedClass: return Store(m_confirmedClass, value);
    default: return StoreFieldAddress<SetFieldPropertiesSchema>(*this, id, value);
  }
}

HRESULT SetFieldPropertiesMessageParser::SetFieldPropertiesValue() {
  constexpr auto kMethod = u"KXDBDatasheetSvcs::SetFieldPropertiesValue";
  return ServeRequest(kMethod, kFrame, [&](KXComException& ctx) {
    MainContext& main = *m_pMain;
    FieldPage work(main, m_pageId);
    // A copy keeps the presentation and states it recorded: refused before
    // anything is asserted, changed or announced.
    KXDBDatasheetSvcs::RefuseStatusCopy(work.page);
    const bool continuous = m_index >= 0 && work.IsContinuous();
    IKXQTemplateFieldPtr field;
    const int32_t fieldNumber = FieldUtils::GetFieldNumber(main, work.page, m_fieldId, -1, field);
    // A list column without a row names no row's value: a lock, secure or
    // hold would reach row 0's in its place and is refused, with anything
    // else the request asks, before anything is read or changed. Its
    // presentation alone is the column's record, which every row shows.
    const auto asks = [](int32_t state) { return state == 0 || state == 1; };
    bool columnOnly = false;
    if (m_index < 0 && work.IsContinuous()) {
      const ContinuousPageHelper& helper = main.GetContinuousPageHelper();
      if (asks(m_isLocked) || asks(m_isSecured) || asks(m_isHeld)) {
        FieldUtils::CheckListColumnRow(helper, work.page, field, m_index);
      } else {
        columnOnly = FieldUtils::IsListColumn(helper, field);
      }
    }
    _bstr_t typeName;
    KX_CHECK(ctx, field->get_TypeName(typeName.GetAddress()));
    const OLECHAR* format = FormatOfKind(FieldPresentation::KindOfType(typeName), m_boolFormat,
                                         m_dateFormat, m_integerFormat, m_realFormat);
    const IKXQAttributePtr fields = work.Fields();
    if (columnOnly) {
      FieldPresentation::StoreFieldFormat(work, fields, fieldNumber, typeName, m_fieldId, -1,
                                          m_alignment, m_verticalAlignment, format);
      return S_OK;
    }
    const bool anyState = m_isLocked != 0 || m_isSecured != 0 || m_isHeld != 0;
    // Every row of a list, row 0 first, whatever row the request names.
    const int32_t rows = continuous ? main.GetContinuousPageHelper().RowCount() : 1;
    for (int32_t r = 0; r < rows; ++r) {
      const int32_t row = continuous ? r : -1;
      // A field outside the rows has no entry per row: it is refused.
      int32_t number = continuous
                           ? FieldUtils::GetRowFieldNumber(main.GetContinuousPageHelper(), field, r)
                           : fieldNumber;
      FieldValue value;
      FieldPresentation::ResolveFieldValue(work, field, row, value);
      // Objects are made behind the field only for the row the request
      // names: the other rows' blank entries stay blank.
      if (!value.holder && anyState && (!continuous || r == m_index)) {
        FieldPresentation::AssertFieldValue(work, m_fieldId, r, continuous,
                                            m_confirmedClass.c_str(), value, number);
      }
      if (value.attribute) {
        FieldPresentation::ApplyValueStatus(main, value.attribute, value.position, m_isLocked,
                                            m_isSecured, m_isHeld, m_holdId);
      }
      FieldPresentation::StoreFieldFormat(work, fields, number, typeName, m_fieldId, row,
                                          m_alignment, m_verticalAlignment, format);
    }
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::SetFieldProperties(MainContext& main, const OLECHAR* request) {
  return ServeMessage<SetFieldPropertiesMessageParser>(
      main, u"KXDBDatasheetSvcs::SetFieldProperties", request);
}
