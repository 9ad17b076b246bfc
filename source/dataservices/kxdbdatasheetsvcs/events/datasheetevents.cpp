// The XML of the change events, written when the host delivers them: the
// document as the store holds it then, built with the loader's element
// writers. A failure is handed to the host application as a warning and the
// event is delivered without XML; the host's current datasheet and page are
// put back either way.
#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "com/wstr.h"
#include "events/changeevents.h"
#include "fieldmodel/fieldutils.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "kxxmlutils.h"
#include "loader/loaddatasheet.h"
#include "loader/triggers.h"
#include "messagekit.h"
#include "model/continuouspageadvisor.h"
#include "model/kxdbdatasheetutils.h"
#include "model/maincontext.h"
#include "model/scopedcurrent.h"
#include "variantutil.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/datasheetevents";

// The object with `id`; the database comes from `application`.
IKXQObjectPtr FindObject(KXComException& ctx, IKXQApplication* application, int32_t id) {
  CheckPointerArgument(ctx, application);
  IKXQDatabasePtr database;
  KX_CHECK(ctx, application->get_Database(&database));
  IKXQObjectPtr object;
  GetStoreObject(database, object, id);
  return object;
}

// Appends an element text made by a writer; nothing for an empty one.
void AppendText(KXComException& ctx, ikxXMLStringWriter& writer, const _bstr_t& text) {
  if (text.length() == 0) return;
  KX_CHECK(ctx, writer.Append(text, text.length()));
}

// Opens the document: declaration and "XMLMessage" with the attributes
// `head` writes, its start tag closed.
template <class Head>
_com_ptr_t<ikxXMLStringWriter> OpenMessage(KXComException& ctx, Head&& head) {
  _com_ptr_t<ikxXMLStringWriter> writer = loaddatasheet::MakeWriter(ctx);
  KX_CHECK(ctx, writer->StartDocument());
  KX_CHECK(ctx, writer->StartElement(u"XMLMessage"));
  head(*writer);
  // Element texts are appended raw: the start tag must be complete first.
  KX_CHECK(ctx, writer->CloseStartTag());
  return writer;
}

void CloseMessage(KXComException& ctx, ikxXMLStringWriter& writer, BSTR* xml) {
  KX_CHECK(ctx, writer.EndElement(u"XMLMessage"));
  KX_CHECK(ctx, writer.GetString(xml));
}

// Runs `write` (which builds the document into *xml); a failure becomes a
// warning of `application` and the event goes without XML.
template <class Write>
HRESULT Serialize(const OLECHAR* activity, IKXQApplication* application, BSTR* xml, Write&& write) {
  if (xml == nullptr) return E_POINTER;
  *xml = nullptr;
  bool written = false;
  const HRESULT hr =
      ServeRequest(activity, {.file = kFile, .boundary = true}, [&](KXComException& ctx) {
        write(ctx);
        written = true;
        return S_OK;
      });
  if (written) return S_OK;
  SysFreeString(*xml);
  *xml = nullptr;
  loaddatasheet::ReportItemFailure(application, hr);
  return S_OK;
}

// The page of a field-level event, its datasheet, and the datasheet and the
// page made current for the rest of the call.
struct EventPage {
  EventPage(KXComException& ctx, IKXQApplication* application, int32_t pageId)
      : page(FindObject(ctx, application, pageId)),
        datasheet(Owner(page)),
        currentDatasheet(application, datasheet),
        currentPage(application, page) {}
  static IKXQObjectPtr Owner(IKXQObject* page) {
    IKXQObjectPtr owner;
    GetOwnerObject(page, owner);
    return owner;
  }
  IKXQObjectPtr page;
  IKXQObjectPtr datasheet;
  ScopedCurrentDatasheet currentDatasheet;
  ScopedCurrentPage currentPage;
};

// The template page of an event's page; none is a failure.
IKXQTemplatePagePtr TemplatePageOf(KXComException& ctx, IKXQApplication* application,
                                   const EventPage& at, int32_t status) {
  IKXQTemplatePagePtr templatePage;
  KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplatePage(application, at.page, &templatePage, status));
  CheckPointerArgument(ctx, templatePage.GetInterfacePtr());
  return templatePage;
}

// "TargetId" (the datasheet's id) and "Status" of a page's event.
void WritePageHead(KXComException& ctx, ikxXMLStringWriter& writer, const EventPage& at,
                   int32_t status) {
  KX_CHECK(ctx, writer.WriteAttribute(u"TargetId", LONG{ObjectIdOf(at.datasheet)}));
  KX_CHECK(ctx, writer.WriteAttribute(u"Status", LONG{status}));
}

// An item writer's text, or nothing when it fails (its failure is dropped).
_bstr_t ItemText(HRESULT hr, BSTR text) {
  _bstr_t held(text, false);
  if (FAILED(hr)) {
    ClearThreadErrorInfo();
    return _bstr_t();
  }
  return held;
}

// The "ShowUnit" of unit field `unit` with the page's stored unit; a unit
// whose element fails is left out.
void AppendUnit(KXComException& ctx, ikxXMLStringWriter& writer, IKXQObject* page,
                IKXQTemplatePage* templatePage, IKXQAttribute* units, int32_t unit) {
  _bstr_t text;
  KXDBDatasheetSvcs::GetAttributeValueStringAt(units, unit + 1, text);
  BSTR element = nullptr;
  const HRESULT hr = WriteShowUnit(page, templatePage, unit, text, &element);
  AppendText(ctx, writer, ItemText(hr, element));
}

// The "ShowQualifier" of qualifier `qualifier`; a stored value that is no
// integer is raised.
void AppendQualifier(KXComException& ctx, ikxXMLStringWriter& writer, IKXQObject* page,
                     int32_t status, IKXQAttribute* qualifiers, int32_t qualifier) {
  const int32_t value = loaddatasheet::ReadQualifierValue(ctx, qualifiers, qualifier + 1);
  BSTR element = nullptr;
  const HRESULT hr = WriteShowQualifier(page, status, qualifier, value, &element);
  AppendText(ctx, writer, ItemText(hr, element));
}

}  // namespace

// ---------------------------------------------------------------------------
// Datasheet and page events.

HRESULT KXDatasheetEvent::WriteXml(BSTR* xml) {
  IKXQApplication* application = m_application;
  return Serialize(u"KXDatasheetEvent::SerializeEvent", application, xml, [&](KXComException& ctx) {
    IKXQObjectPtr datasheet = FindObject(ctx, application, TargetId());
    ScopedCurrentDatasheet current(application, datasheet);
    _com_ptr_t<ikxXMLStringWriter> writer = OpenMessage(ctx, [&](ikxXMLStringWriter& w) {
      KX_CHECK(ctx, w.WriteAttribute(u"TargetId", LONG{TargetId()}));
      KX_CHECK(ctx, w.WriteAttribute(u"Status", LONG{Status()}));
    });
    _bstr_t title;
    KX_CHECK(ctx, KXDBDatasheetSvcs::GetDatasheetName(application, datasheet, title.GetAddress(),
                                                      true, Status()));
    _bstr_t name;
    KXDBDatasheetSvcs::GetAttributeString(datasheet, name, u"DocumentName", -1);
    KX_CHECK(ctx, writer->StartElement(u"Datasheet"));
    KX_CHECK(ctx, writer->WriteAttribute(u"Title", static_cast<const OLECHAR*>(title)));
    KX_CHECK(ctx, writer->WriteAttribute(u"Name", static_cast<const OLECHAR*>(name)));
    KX_CHECK(ctx, writer->CloseStartTag());
    IKXQAttributePtr pages;
    const int32_t count = GetPagesAttributeByStatus(datasheet, Status(), pages);
    for (int32_t i = 1; i <= count; ++i) {
      IKXQObjectPtr page;
      GetAttributeAsObject(pages, i, page);
      if (!page) continue;
      ScopedCurrentPage currentPage(application, page);
      _bstr_t setup;
      KX_CHECK(ctx, WritePageSetup(page, setup.GetAddress()));
      AppendText(ctx, *writer, setup);
    }
    KX_CHECK(ctx, writer->EndElement(u"Datasheet"));
    CloseMessage(ctx, *writer, xml);
  });
}

HRESULT KXPageEvent::WriteXml(BSTR* xml) {
  MainContext* main = m_main;
  IKXQApplication* application = main != nullptr ? main->m_pApplication : nullptr;
  return Serialize(u"KXPageEvent::SerializeEvent", application, xml, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, main);
    EventPage at(ctx, application, TargetId());
    const IKXQTemplatePagePtr templatePage = TemplatePageOf(ctx, application, at, Status());
    _com_ptr_t<ikxXMLStringWriter> writer =
        OpenMessage(ctx, [&](ikxXMLStringWriter& w) { WritePageHead(ctx, w, at, Status()); });
    PageLoadContext context(main);
    GetPageOverspillChain(context, at.page);
    KX_CHECK(ctx, InitializeContinuousPage(context, templatePage, at.page));
    IKXQObjectPtr issued;
    if (Status() != 4) {
      KX_CHECK(ctx, KXDBDatasheetSvcs::GetIssuedPage(at.page, Status(), &issued));
    }
    IKXQAttributePtr fields;
    GetAttributeInterface(at.page, u"Fields", fields);
    IKXQAttributePtr issuedFields;
    bool templateChanged = false;
    if (issued) GetAttributeInterface(issued, u"Fields", issuedFields);
    if (issuedFields) {
      KX_CHECK(ctx, IsTemplateChecknumChanged(context, at.page, issuedFields, Status(),
                                              &templateChanged));
    }
    const int32_t fieldCount = fields ? GetAttributeCount(fields) : 0;
    for (int32_t f = 1; f <= fieldCount; ++f) {
      BSTR element = nullptr;
      const HRESULT hr = WriteField(context, at.page, templatePage, f, Status(), true, fields,
                                    issuedFields, templateChanged, &element);
      AppendText(ctx, *writer, ItemText(hr, element));
    }

    IKXQAttributePtr units;
    GetAttributeInterface(at.page, u"Units", units);
    const int32_t unitCount = units ? GetAttributeCount(units) : 0;
    for (int32_t u = 0; u < unitCount; ++u) {
      AppendUnit(ctx, *writer, at.page, templatePage, units, u);
    }
    IKXQAttributePtr revisions;
    GetAttributeInterface(at.page, u"Revisions", revisions);
    const int32_t revisionCount = revisions ? GetAttributeCount(revisions) : 0;
    for (int32_t r = 0; r < revisionCount; ++r) {
      _bstr_t text;
      KXDBDatasheetSvcs::GetAttributeValueStringAt(revisions, r + 1, text);
      BSTR element = nullptr;
      const HRESULT hr = WriteShowRevision(context, at.page, templatePage, r, text, &element);
      AppendText(ctx, *writer, ItemText(hr, element));
    }
    IKXQAttributePtr annotations;
    GetAttributeInterface(at.page, u"Annotations", annotations);
    const int32_t annotationCount = annotations ? GetAttributeCount(annotations) : 0;
    for (int32_t a = 1; a <= annotationCount; ++a) {
      _bstr_t text;
      KXDBDatasheetSvcs::GetAttributeValueStringAt(annotations, a, text);
      BSTR element = nullptr;
      const HRESULT hr = loaddatasheet::WriteStoredAnnotation(at.page, issued, application,
                                                              Status(), text, &element);
      AppendText(ctx, *writer, ItemText(hr, element));
    }
    IKXQAttributePtr qualifiers;
    GetAttributeInterface(at.page, u"Qualifiers", qualifiers);
    const int32_t qualifierCount = qualifiers ? GetAttributeCount(qualifiers) : 0;
    for (int32_t q = 0; q < qualifierCount; ++q) {
      AppendQualifier(ctx, *writer, at.page, Status(), qualifiers, q);
    }
    CloseMessage(ctx, *writer, xml);
  });
}

// ---------------------------------------------------------------------------
// Field-level events.

HRESULT KXUnitFieldEvent::WriteXml(BSTR* xml) {
  IKXQApplication* application = m_application;
  return Serialize(u"KXUnitFieldEvent::SerializeEvent", application, xml, [&](KXComException& ctx) {
    EventPage at(ctx, application, TargetId());
    IKXQTemplatePagePtr templatePage;
    KX_CHECK(ctx,
             KXDBDatasheetSvcs::GetTemplatePage(application, at.page, &templatePage, Status()));
    _bstr_t dimensionSet(u"");
    if (at.datasheet) {
      IKXQAttributePtr baseSet;
      GetAttributeInterface(at.datasheet, u"BaseDimensionSet", baseSet);
      if (baseSet) KXDBDatasheetSvcs::GetAttributeValueString(baseSet, dimensionSet);
    }
    _com_ptr_t<ikxXMLStringWriter> writer = OpenMessage(ctx, [&](ikxXMLStringWriter& w) {
      KX_CHECK(ctx,
               w.WriteAttribute(u"BaseDimensionSet", static_cast<const OLECHAR*>(dimensionSet)));
      WritePageHead(ctx, w, at, Status());
    });
    IKXQAttributePtr units;
    GetAttributeInterface(at.page, u"Units", units);
    if (!units) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
    for (int32_t i = 0; i < m_ids.GetCount(); ++i) {
      AppendUnit(ctx, *writer, at.page, templatePage, units, m_ids.GetAt(i));
    }
    CloseMessage(ctx, *writer, xml);
  });
}

HRESULT KXQualifierEvent::WriteXml(BSTR* xml) {
  IKXQApplication* application = m_application;
  return Serialize(u"KXQualifierEvent::SerializeEvent", application, xml, [&](KXComException& ctx) {
    EventPage at(ctx, application, TargetId());
    _com_ptr_t<ikxXMLStringWriter> writer =
        OpenMessage(ctx, [&](ikxXMLStringWriter& w) { WritePageHead(ctx, w, at, Status()); });
    IKXQAttributePtr qualifiers;
    GetAttributeInterface(at.page, u"Qualifiers", qualifiers);
    if (!qualifiers) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
    for (int32_t i = 0; i < m_ids.GetCount(); ++i) {
      AppendQualifier(ctx, *writer, at.page, Status(), qualifiers, m_ids.GetAt(i));
    }
    CloseMessage(ctx, *writer, xml);
  });
}

HRESULT KXAnnotationFieldEvent::WriteXml(BSTR* xml) {
  IKXQApplication* application = m_application;
  return Serialize(
      u"KXAnnotationFieldEvent::SerializeEvent", application, xml, [&](KXComException& ctx) {
        EventPage at(ctx, application, TargetId());
        _com_ptr_t<ikxXMLStringWriter> writer =
            OpenMessage(ctx, [&](ikxXMLStringWriter& w) { WritePageHead(ctx, w, at, Status()); });
        IKXQObjectPtr issued;
        if (Status() != 4) {
          KX_CHECK(ctx, KXDBDatasheetSvcs::GetIssuedPage(at.page, Status(), &issued));
        }
        // Each page's annotations are read once for all the event's ids.
        FieldUtils::AnnotationLookup onPage(at.page);
        FieldUtils::AnnotationLookup onIssued(issued);
        for (int32_t i = 0; i < m_ids.GetCount(); ++i) {
          const int32_t annotation = m_ids.GetAt(i);
          _bstr_t text;
          if (onPage.Find(annotation, false, text) < 0) {
            KX_CHECK(ctx, writer->StartElement(u"DeleteAnnotationField"));
            KX_CHECK(ctx, writer->WriteAttribute(u"PageId", LONG{ObjectIdOf(at.page)}));
            KX_CHECK(ctx, writer->WriteAttribute(u"FieldId", LONG{annotation}));
            KX_CHECK(ctx, writer->EndElement(u"DeleteAnnotationField"));
            continue;
          }
          _bstr_t issuedText;
          if (issued) onIssued.Find(annotation, false, issuedText);
          BSTR element = nullptr;
          const HRESULT hr =
              WriteAnnotationField(at.page, application, Status(), text, issuedText, &element);
          AppendText(ctx, *writer, ItemText(hr, element));
        }
        CloseMessage(ctx, *writer, xml);
      });
}

// ---------------------------------------------------------------------------
// Data-field events.

namespace {

// Grows a list attribute one value at a time up to `count` values, never
// past its end.
void GrowList(IKXQAttribute* list, int32_t count) {
  for (int32_t have = GetAttributeCount(list); have < count; ++have) {
    KXDBDatasheetSvcs::InsertAttributeValue(list, have + 1);
  }
}

// The template node each field of the page sits on, by field id, and the
// nodes of the repeating fields in field order (the helper's order).
struct FieldNodes {
  std::map<int32_t, int32_t> byField;
  std::vector<int32_t> repeating;
  int32_t NodeOf(int32_t fieldId) const {
    const auto found = byField.find(fieldId);
    return found != byField.end() ? found->second : -1;
  }
};

FieldNodes ReadFieldNodes(KXComException& ctx, IKXQTemplatePage* templatePage,
                          const ContinuousPageHelper& helper) {
  FieldNodes nodes;
  SAFEARRAY* raw = nullptr;
  KX_CHECK(ctx, templatePage->get_Fields(&raw));
  VariantUtil::SafeArrayVector fields(raw, true);
  if (fields.Array() == nullptr && raw != nullptr) SafeArrayDestroy(raw);
  for (int32_t i = 0; i < fields.Count(); ++i) {
    IKXQTemplateNodePtr field;
    KX_CHECK(ctx, fields.GetInterfaceAt(i, &field));
    if (!field) continue;
    LONG id = -1;
    LONG node = -1;
    KX_CHECK(ctx, field->get_Id(&id));
    KX_CHECK(ctx, field->get_NodeIndex(&node));
    nodes.byField.emplace(id, node);
  }
  const std::vector<int32_t>& ids = helper.FieldNodeIds();
  for (size_t i = static_cast<size_t>(std::max(helper.FirstRepeatingField(), 1) - 1);
       i < ids.size(); ++i) {
    nodes.repeating.push_back(nodes.NodeOf(ids[i]));
  }
  return nodes;
}

// "RemoveRow" of a continuous-list row whose object is gone.
_bstr_t RemoveRowText(KXComException& ctx, int32_t row, int32_t pageId) {
  _com_ptr_t<ikxXMLStringWriter> writer;
  // Its own writer with the default option: the text starts on a new line.
  KX_CHECK(ctx, KXXMLStringWriter::CreateInstance(kx_uuidof<ikxXMLStringWriter>(),
                                                  reinterpret_cast<void**>(&writer)));
  KX_CHECK(ctx, writer->StartElement(u"RemoveRow"));
  KX_CHECK(ctx, writer->WriteAttribute(u"Index", LONG{row}));
  KX_CHECK(ctx, writer->WriteAttribute(u"PageId", LONG{pageId}));
  KX_CHECK(ctx, writer->EndElement(u"RemoveRow"));
  _bstr_t text;
  KX_CHECK(ctx, writer->GetString(text.GetAddress()));
  return text;
}

}  // namespace

HRESULT KXDataFieldEvent::WriteXml(BSTR* xml) {
  MainContext* main = m_main;
  IKXQApplication* application = main != nullptr ? main->m_pApplication : nullptr;
  return Serialize(u"KXDataFieldEvent::SerializeEvent", application, xml, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, main);
    EventPage at(ctx, application, TargetId());
    const KXDBDatasheetSvcs::PageListsScope pageLists(at.page);
    const IKXQTemplatePagePtr templatePage = TemplatePageOf(ctx, application, at, Status());
    if (at.datasheet) {
      IKXQAttributePtr dirty;
      GetAttributeInterface(at.datasheet, u"Dirty", dirty);
      if (dirty) KXDBDatasheetSvcs::SetAttributeBoolean(dirty, true);
    }
    IKXQAttributePtr fields;
    IKXQAttributePtr revisions;
    GetAttributeInterface(at.page, u"Fields", fields);
    GetAttributeInterface(at.page, u"Revisions", revisions);
    if (!fields || !revisions) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
    PageLoadContext context(main);
    context.m_radio = Refresh();
    context.m_settledWalks = &m_settledWalks;
    GetPageOverspillChain(context, at.page);

    IKXQAttributePtr issuedFields;
    bool templateChanged = false;
    if (Status() != 4) {
      IKXQObjectPtr issued;
      KX_CHECK(ctx, KXDBDatasheetSvcs::GetIssuedPage(at.page, Status(), &issued));
      if (issued) {
        GetAttributeInterface(issued, u"Fields", issuedFields);
        if (issuedFields) {
          KX_CHECK(ctx, IsTemplateChecknumChanged(context, at.page, issuedFields, Status(),
                                                  &templateChanged));
        }
      }
    }
    VARIANT_BOOL isContinuous = VARIANT_FALSE;
    KX_CHECK(ctx, templatePage->get_IsContinuous(&isContinuous));
    const bool continuous = isContinuous != VARIANT_FALSE;
    KX_CHECK(ctx, InitializeContinuousPage(context, templatePage, at.page));
    // Only a continuous list asks how many objects the page shows.
    int32_t objectCount = 0;
    if (continuous) {
      IKXQAttributePtr objects;
      KXDBDatasheetSvcs::GetPageList(at.page, u"NodeObjects", objects);
      objectCount = objects ? GetAttributeCount(objects) : 0;
    }

    _com_ptr_t<IKXQTrigger> trigger;
    if (continuous) {
      VARIANT_BOOL has = VARIANT_FALSE;
      KX_CHECK(ctx, at.page->HasTrigger(_bstr_t(u"Field"), &has));
      if (has != VARIANT_FALSE) {
        KX_CHECK(ctx, at.page->get_Trigger(_bstr_t(u"Field"), &trigger));
        for (int32_t i = 0; trigger && i < m_ids.GetCount(); ++i) {
          KX_CHECK(ctx, trigger->ResetItem(_variant_t(kx_ltow(m_ids.GetAt(i)).c_str())));
        }
      }
    }

    // The item of a field written walks no second time to the same value.
    ListFieldWalk listWalk;
    if (trigger) context.m_listWalk = &listWalk;
    const ContinuousPageHelper& helper = main->GetContinuousPageHelper();
    const int32_t first = helper.FirstRepeatingField();
    const int32_t perRow = helper.FieldsPerRow();
    const int32_t pageId = ObjectIdOf(at.page);
    // Opened with the first element: an event that writes none has no XML.
    // Each element goes into it as it is made, so that a long list's
    // elements are not all held twice.
    _com_ptr_t<ikxXMLStringWriter> writer;
    std::unordered_set<int32_t> removedRows;
    // The "ShowRevision" elements collected: no other element the event
    // writes can equal one, so a row's revision is looked up here alone.
    std::unordered_set<std::u16string> revisionsWritten;
    std::optional<FieldNodes> fieldNodes;
    auto collect = [&](const _bstr_t& text) {
      if (text.length() == 0) return;
      if (!writer) {
        writer =
            OpenMessage(ctx, [&](ikxXMLStringWriter& w) { WritePageHead(ctx, w, at, Status()); });
      }
      AppendText(ctx, *writer, text);
    };
    for (int32_t i = 0; i < m_ids.GetCount(); ++i) {
      const int32_t f = m_ids.GetAt(i);
      if (f < 1) continue;
      const int32_t row = continuous && perRow != 0 && f >= first ? (f - first) / perRow : -1;
      // A row is gone with its object: past the end of "NodeObjects", or any
      // row of a list without rows (no first row position), whose position
      // would name a header object.
      const bool gone =
          helper.RowPosition(row) > objectCount || (row >= 0 && helper.FirstRowPosition() <= 0);
      if (continuous && gone) {
        if (removedRows.insert(row).second) collect(RemoveRowText(ctx, row, pageId));
        continue;
      }
      GrowList(fields, f);
      BSTR element = nullptr;
      listWalk.made = false;
      HRESULT hr = WriteField(context, at.page, templatePage, f, Status(), true, fields,
                              issuedFields, templateChanged, &element);
      collect(ItemText(hr, element));
      if (continuous && m_ids.GetCount() > 1) {
        // The row's revision, found by the node the field sits on: the fields
        // of one node share it, so a row shows it once, after its first
        // field. Its value follows the fixed values at the head of the list.
        if (!fieldNodes) fieldNodes = ReadFieldNodes(ctx, templatePage, helper);
        const std::vector<int32_t>& ids = helper.FieldNodeIds();
        const int32_t folded =
            f > helper.TemplateFieldCount() && perRow > 0 ? first + (f - first) % perRow : f;
        const int32_t node = folded >= 1 && folded <= static_cast<int32_t>(ids.size())
                                 ? fieldNodes->NodeOf(ids[static_cast<size_t>(folded - 1)])
                                 : -1;
        const auto listed =
            std::find(fieldNodes->repeating.begin(), fieldNodes->repeating.end(), node);
        if (node >= 0 && listed != fieldNodes->repeating.end()) {
          int32_t k = static_cast<int32_t>(listed - fieldNodes->repeating.begin());
          if (perRow != 0 && f >= first) k += helper.ValuesPerRow() * ((f - first) / perRow);
          const int32_t value = helper.FixedValueCount() + k;
          if (GetAttributeCount(revisions) < value + 1) GrowList(revisions, value + 2);
          _bstr_t revision;
          KXDBDatasheetSvcs::GetAttributeValueStringAt(revisions, value + 1, revision);
          element = nullptr;
          hr = WriteShowRevision(context, at.page, templatePage, value, revision, &element);
          _bstr_t text = ItemText(hr, element);
          if (revisionsWritten.emplace(text.view()).second) collect(text);
        }
      }
      if (trigger && row <= helper.RowCount()) {
        KX_CHECK(ctx,
                 RecordContinuousFieldItem(*main, at.page, templatePage, trigger, f, &listWalk));
      }
    }
    if (!writer) return;
    CloseMessage(ctx, *writer, xml);
  });
}
