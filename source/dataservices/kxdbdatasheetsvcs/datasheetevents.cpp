// The XML of the change events, written when the host delivers them: the
// document as the store holds it then, built with the loader's element
// writers. A failure is handed to the host application as a warning and the
// event is delivered without XML; the host's current datasheet and page are
// put back either way.
#include <string>

#include "changeevents.h"
#include "com/wstr.h"
#include "fieldutils.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxdbdatasheetutils.h"
#include "kxstoreutils.h"
#include "loaddatasheet.h"
#include "main.h"
#include "scopedcurrent.h"

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
HRESULT Serialize(const OLECHAR* activity, IKXQApplication* application, BSTR* xml,
                  Write&& write) {
  if (xml == nullptr) return E_POINTER;
  *xml = nullptr;
  KXComException ctx(activity);
  try {
    write(ctx);
    return S_OK;
  }
  catch (const KXComException& caught) {
    HandleKXComException(ctx, KX_HERE(kFile), caught);
  }
  catch (const _com_error& caught) {
    HandleComError(ctx, KX_HERE(kFile), caught);
  }
  catch (...) {
    HandleUnknownExceptionAtBoundary(ctx, KX_HERE(kFile));
  }
  SysFreeString(*xml);
  *xml = nullptr;
  (void)ctx.Return();
  loaddatasheet::ReportItemFailure(application, ctx.hr);
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
  Main* main = m_main;
  IKXQApplication* application = main != nullptr ? main->m_pApplication : nullptr;
  return Serialize(u"KXPageEvent::SerializeEvent", application, xml, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, main);
    EventPage at(ctx, application, TargetId());
    IKXQTemplatePagePtr templatePage;
    KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplatePage(application, at.page, &templatePage,
                                                     Status()));
    CheckPointerArgument(ctx, templatePage.GetInterfacePtr());
    _com_ptr_t<ikxXMLStringWriter> writer =
        OpenMessage(ctx, [&](ikxXMLStringWriter& w) { WritePageHead(ctx, w, at, Status()); });
    PageLoadContext context(main);
    GetPageOverspillChain(context, at.page);
    KX_CHECK(ctx, InitializeContinuousPage(context, templatePage, at.page));
    IKXQObjectPtr issued;
    if (Status() != 4) {
      KX_CHECK(ctx, KXDBDatasheetSvcs::GetIssuedPage(at.page, Status(), &issued));
    }
    // The fields need the field model's live writers, which this build does
    // not have: a page event carries the page's other lists only.

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

// The XML of data-field events comes with the field model's writers; until
// then they are delivered without XML.
HRESULT KXDataFieldEvent::WriteXml(BSTR* xml) {
  if (xml == nullptr) return E_POINTER;
  *xml = nullptr;
  return S_OK;
}

HRESULT KXUnitFieldEvent::WriteXml(BSTR* xml) {
  IKXQApplication* application = m_application;
  return Serialize(u"KXUnitFieldEvent::SerializeEvent", application, xml, [&](KXComException& ctx) {
    EventPage at(ctx, application, TargetId());
    IKXQTemplatePagePtr templatePage;
    KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplatePage(application, at.page, &templatePage,
                                                     Status()));
    _bstr_t dimensionSet(u"");
    if (at.datasheet) {
      IKXQAttributePtr baseSet;
      GetAttributeInterface(at.datasheet, u"BaseDimensionSet", baseSet);
      if (baseSet) KXDBDatasheetSvcs::GetAttributeValueString(baseSet, dimensionSet);
    }
    _com_ptr_t<ikxXMLStringWriter> writer = OpenMessage(ctx, [&](ikxXMLStringWriter& w) {
      KX_CHECK(ctx, w.WriteAttribute(u"BaseDimensionSet",
                                     static_cast<const OLECHAR*>(dimensionSet)));
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
        _com_ptr_t<ikxXMLStringWriter> writer = OpenMessage(
            ctx, [&](ikxXMLStringWriter& w) { WritePageHead(ctx, w, at, Status()); });
        IKXQObjectPtr issued;
        if (Status() != 4) {
          KX_CHECK(ctx, KXDBDatasheetSvcs::GetIssuedPage(at.page, Status(), &issued));
        }
        for (int32_t i = 0; i < m_ids.GetCount(); ++i) {
          const int32_t annotation = m_ids.GetAt(i);
          _bstr_t text;
          if (FieldUtils::GetAnnotation(at.page, annotation, false, text) < 0) {
            KX_CHECK(ctx, writer->StartElement(u"DeleteAnnotationField"));
            KX_CHECK(ctx, writer->WriteAttribute(u"PageId", LONG{ObjectIdOf(at.page)}));
            KX_CHECK(ctx, writer->WriteAttribute(u"FieldId", LONG{annotation}));
            KX_CHECK(ctx, writer->EndElement(u"DeleteAnnotationField"));
            continue;
          }
          _bstr_t issuedText;
          if (issued) FieldUtils::GetAnnotation(issued, annotation, false, issuedText);
          BSTR element = nullptr;
          const HRESULT hr =
              WriteAnnotationField(at.page, application, Status(), text, issuedText, &element);
          AppendText(ctx, *writer, ItemText(hr, element));
        }
        CloseMessage(ctx, *writer, xml);
      });
}
