#include "properties/dimensions.h"

#include <string>

#include "host/drawing.h"
#include "kxattributeutils.h"
#include "kxstoreutils.h"
#include "model/kxdbdatasheetpages.h"
#include "properties/datasheetdimensions.h"
#include "sortedstringarray.h"
#include "xmlreply.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/dimensions";
constexpr FrameOptions kFrame{.file = kFile};
constexpr FrameOptions kWorkerFrame{.file = kFile, .silent = true};
// The project's settings object, which holds "CurrentDimensionSet".
constexpr int32_t kProjectSettingsId = 1;

// A request whose whole text is a name: the text without the line end a
// file or terminal leaves after it.
std::u16string RequestName(const OLECHAR* request) {
  std::u16string name(request != nullptr ? request : u"");
  while (!name.empty() && (name.back() == u'\n' || name.back() == u'\r')) name.pop_back();
  return name;
}

// Applies `change` to every datasheet of the database. A datasheet whose
// change fails adds a line (the failure's description, " - " and the
// datasheet's name) to the lines shown to the user under `heading` once
// the walk is done; the walk goes on.
template <class Change>
void ChangeEveryDatasheet(MainContext& main, const OLECHAR* heading, Change&& change) {
  SortedStringArray errors;
  ForEachClassInstance(main.m_pSchema, u"Datasheet", [&](IKXQObject* datasheet) {
    const HRESULT hr = change(datasheet);
    if (SUCCEEDED(hr)) return;
    KXComException failure = KXComException::Silent();
    failure.hr = hr;
    failure.TakeThreadErrorInfo();
    BSTR description = nullptr;
    (void)KXComException::GetDescription(failure, &description);
    const _bstr_t held(description, false);
    const _bstr_t desc(GetErrorDescription(held), false);
    _bstr_t name;
    KXDBDatasheetSvcs::GetObjectName(datasheet, name, false);
    std::u16string line(desc.view());
    line += u" - ";
    line += name.view();
    errors.Add(line.c_str());
    failure.Absorb();
  });
  if (errors.GetCount() == 0) return;
  std::u16string text(heading);
  for (int32_t i = 0; i < errors.GetCount(); ++i) {
    if (i > 0) text += u"\n";
    if (errors.GetAt(i) != nullptr) text += errors.GetAt(i);
  }
  KXComException ctx = KXComException::Silent();
  KX_CHECK(ctx, main.m_pApplication->ShowMessage(_bstr_t(text.c_str())));
}

}  // namespace

namespace KXDBDatasheetSvcs {

HRESULT ChangeDimensionSetForDiagrams(MainContext& main, const OLECHAR* setName) {
  constexpr auto kMethod = u"KXDBDatasheetSvcs::ChangeDimensionSetForDiagrams";
  return ServeRequest(kMethod, kFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, main.m_pApplication);
    _com_ptr_t<IDispatch> service;
    KX_CHECK(ctx, main.m_pApplication->GetService(_bstr_t(u"DrawingServices"), &service));
    CheckPointerArgument(ctx, service.GetInterfacePtr(), u"The drawing service is not available");
    _com_ptr_t<IKXDrawingServices> drawings;
    KX_CHECK(ctx, service->QueryInterface(kx_uuidof<IKXDrawingServices>(),
                                          reinterpret_cast<void**>(&drawings)));
    KX_CHECK(ctx, drawings->ChangeDimensionSet(_bstr_t(setName != nullptr ? setName : u"")));
    return S_OK;
  });
}

}  // namespace KXDBDatasheetSvcs

// ---------------------------------------------------------------------------
// The listings

HRESULT KXDBDatasheetSvcs::ListDimensionSets(MainContext& main, const OLECHAR* /*request*/) {
  return ServeRequest(u"KXDBDatasheetSvcs::ListDimensionSets", [&](KXComException&) {
    SortedStringArray names;
    KXDBDatasheetSvcs::CollectDimensionSetNames(main, names);
    IKXQObjectPtr project;
    GetStoreObject(main.m_pDatabase, project, kProjectSettingsId);
    _bstr_t current;
    KXDBDatasheetSvcs::GetAttributeString(project, current, u"CurrentDimensionSet", -1);
    if (current.length() == 0) current = u"SI";
    XMLReply::BeginMessage(main, u"App", -1);
    XMLReply::AddStringAttribute(main, u"CurrentDimensionSet", current.GetBSTR());
    KXDBDatasheetSvcs::WriteNameList(main, u"DimensionSets", u"DimensionSet", names);
    XMLReply::EndMessage(main);
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::ListDimensions(MainContext& main, const OLECHAR* /*request*/) {
  return ServeRequest(u"KXDBDatasheetSvcs::ListDimensions", [&](KXComException& ctx) {
    IKXQSchema* schema = KXDBDatasheetSvcs::RequireSchema(main);
    SortedStringArray names;
    LONG count = 0;
    KX_CHECK(ctx, schema->get_DimensionCount(&count));
    for (LONG k = 1; k <= count; ++k) {
      _com_ptr_t<IKXQDimension> dimension;
      KX_CHECK(ctx, schema->get_DimensionAt(k, &dimension));
      CheckPointerArgument(ctx, dimension.GetInterfacePtr());
      BSTR name = nullptr;
      KX_CHECK(ctx, dimension->get_Name(&name));
      const _bstr_t held(name, false);
      names.Add(held);
    }
    XMLReply::BeginMessage(main, u"App", -1);
    KXDBDatasheetSvcs::WriteNameList(main, u"Dimensions", u"Dimension", names);
    XMLReply::EndMessage(main);
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::ListDimensionUnits(MainContext& main, const OLECHAR* request) {
  return ServeRequest(u"KXDBDatasheetSvcs::ListDimensionUnits", [&](KXComException&) {
    XMLReply::BeginMessage(main, u"App", -1);
    KXDBDatasheetSvcs::WriteDimensionUnitList(main, RequestName(request).c_str());
    XMLReply::EndMessage(main);
    return S_OK;
  });
}

// ---------------------------------------------------------------------------
// "ChangeDimensionSet"

HRESULT KXDBDatasheetSvcs::ChangeDimensionSet(MainContext& main, const OLECHAR* request) {
  return ServeRequest(u"KXDBDatasheetSvcs::ChangeDimensionSet", [&](KXComException& ctx) {
    const std::u16string requested = RequestName(request);
    // An empty name stands for "SI" as the project's empty set does.
    const bool standard = requested.empty() || requested == u"DefaultUnits";
    // The schema's spelling is what the project, the drawings and every
    // datasheet record.
    const _bstr_t set =
        KXDBDatasheetSvcs::RequireDimensionSet(main, standard ? u"SI" : requested.c_str());
    IKXQObjectPtr project;
    GetStoreObject(main.m_pDatabase, project, kProjectSettingsId);
    IKXQAttributePtr current;
    GetAttributeInterface(project, u"CurrentDimensionSet", current);
    CheckPointerArgument(ctx, current.GetInterfacePtr(),
                         u"The project settings have no attribute CurrentDimensionSet");
    KXDBDatasheetSvcs::SetAttributeString(current, set);
    KX_CHECK(ctx, KXDBDatasheetSvcs::ChangeDimensionSetForDiagrams(main, set));
    ChangeEveryDatasheet(main,
                         u"The following error(s) occured while changing the dimension set...\n\n",
                         [&](IKXQObject* datasheet) {
                           return KXDBDatasheetSvcs::ChangeDSDimensionSet(main, datasheet, set);
                         });
    return S_OK;
  });
}

// ---------------------------------------------------------------------------
// "ChangeDimensionUnit"

const GrammarRecord* ChangeDimensionUnitSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Message(
      u"ChangeDimensionUnit", {Grammar::String(u"Name", Name), Grammar::String(u"UnitId", UnitId)});
  return kGrammar.data();
}

HRESULT ChangeDimensionUnitMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case Name: return Store(m_name, value);
    case UnitId: return Store(m_unitId, value);
    default: return E_INVALIDARG;
  }
}

HRESULT ChangeDimensionUnitMessageParser::ChangeDimensionUnit() {
  constexpr auto kMethod = u"ChangeDimensionUnitMessageParser::ChangeDimensionUnit";
  return ServeRequest(kMethod, kWorkerFrame, [&](KXComException&) {
    const OLECHAR* name = m_name.IsNull() ? u"" : m_name.c_str();
    const OLECHAR* unitId = m_unitId.IsNull() ? u"" : m_unitId.c_str();
    // A unit the dimension does not have would reach every datasheet: it
    // is refused before the first one is changed.
    KXDBDatasheetSvcs::RequireDimensionUnit(*m_pMain, name, unitId);
    ChangeEveryDatasheet(
        *m_pMain, u"The following error(s) occured while changing dimension units...\n\n",
        [&](IKXQObject* datasheet) {
          return KXDBDatasheetSvcs::ChangeDSDimensionUnits(*m_pMain, datasheet, name, unitId);
        });
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::ChangeDimensionUnit(MainContext& main, const OLECHAR* request) {
  return ServeMessage<ChangeDimensionUnitMessageParser>(
      main, u"KXDBDatasheetSvcs::ChangeDimensionUnit", request);
}
