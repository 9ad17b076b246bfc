#include "loader/fieldassert.h"

#include <vector>

#include "com/wstr.h"
#include "fieldmodel/fieldutils.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "loader/kxdbdatasheetsummary.h"
#include "loader/loaddatasheet.h"
#include "loader/triggers.h"
#include "model/continuouspageadvisor.h"
#include "model/kxdbdatasheetpages.h"
#include "model/kxdbdatasheetutils.h"
#include "model/maincontext.h"
#include "xmlreply.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/fieldutils";

// The host's begin and end of an object's creation around one scope.
class ObjectCreation {
 public:
  ObjectCreation(KXComException& ctx, IKXQApplication* application) : m_application(application) {
    CheckPointerArgument(ctx, application);
    KX_CHECK(ctx, application->BeginObjectCreation());
  }
  ObjectCreation(const ObjectCreation&) = delete;
  ObjectCreation& operator=(const ObjectCreation&) = delete;
  ~ObjectCreation() { (void)m_application->EndObjectCreation(); }

 private:
  IKXQApplication* m_application;
};

// A new object of the class named `className`, made between the host's
// begin and end of an object's creation.
void CreateConfirmedObject(KXComException& ctx, MainContext& main, const OLECHAR* className,
                           IKXQObjectPtr& object) {
  ObjectCreation creation(ctx, main.m_pApplication);
  IKXQSchemaPtr schema;
  KX_CHECK(ctx, main.m_pApplication->get_Schema(&schema));
  CheckPointerArgument(ctx, schema.GetInterfacePtr());
  IKXQClassPtr cls;
  KX_CHECK(ctx, schema->get_Class(_bstr_t(className), &cls));
  if (!cls) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG, u"Unknown class %ls", className);
  }
  KX_CHECK(ctx, cls->CreateInstance(&object));
  CheckPointerArgument(ctx, object.GetInterfacePtr());
}

// Fills a new object from the master BEDD data for the template `templateId`
// (the template's id, by which the master data looks the template up: its
// name would find none, and nothing would be filled).
void LoadMasterData(KXComException& ctx, MainContext& main, const _bstr_t& templateId,
                    IKXQObject* object) {
  BSTR id = templateId;
  _variant_t folder;
  KX_CHECK(ctx, main.LoadBEDDData(&id, object, &folder));
}

void HandToConfirmation(KXComException& ctx, IKXQApplication* application, const OLECHAR* name) {
  _com_ptr_t<IKXQClassConfirmation> confirmation;
  KX_CHECK(ctx, application->get_ClassConfirmation(&confirmation));
  CheckPointerArgument(ctx, confirmation.GetInterfacePtr());
  KX_CHECK(ctx, confirmation->ConfirmClass(_bstr_t(name)));
}

void GetFieldById(KXComException& ctx, IKXQTemplatePage* templatePage, int32_t fieldId,
                  IKXQTemplateFieldPtr& field) {
  _variant_t number;
  KX_CHECK(ctx, templatePage->GetFieldById(fieldId, &number, &field));
  if (!field) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG,
                            u"Field %d is not defined on the page's template page",
                            static_cast<int>(fieldId));
  }
}

void GetPageTemplatePage(KXComException& ctx, MainContext& main, IKXQObject* page,
                         IKXQTemplatePagePtr& templatePage) {
  KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplatePage(main.m_pApplication, page, &templatePage, 1));
  if (!templatePage) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"The page's template page is unknown");
  }
}

int32_t GetDefinedCase(KXComException& ctx, IKXQObject* page, IKXQTemplateField* field) {
  bool defined = false;
  const int32_t caseId = FieldUtils::GetFieldCase(page, field, nullptr, &defined);
  if (!defined) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                            u"Cannot set value for field with no defined case");
  }
  return caseId;
}

[[noreturn]] void WarnAndFail(KXComException& ctx, MainContext& main, const SourceLocation& where,
                              const std::u16string& text) {
  if (main.m_pApplication != nullptr) (void)main.m_pApplication->LogWarning(_bstr_t(text.c_str()));
  ThrowKXComExceptionHrAt(ctx, where, E_FAIL, u"%ls", text.c_str());
}

bool IsKind(IKXQApplication* application, IKXQObject* document, const OLECHAR* kind) {
  KXComException ctx = KXComException::Silent();
  IKXQTemplatePtr tmpl;
  KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplate(application, document, &tmpl, 1));
  if (!tmpl) return false;
  _bstr_t text;
  KX_CHECK(ctx, tmpl->get_Kind(text.GetAddress()));
  return text.length() > 0 && _wcsicmp(text, kind) == 0;
}

// The object's trigger named "SSPF", or null when it has none.
void GetPermanentFilterTrigger(KXComException& ctx, IKXQObject* object,
                               _com_ptr_t<IKXQTrigger>& trigger) {
  VARIANT_BOOL has = VARIANT_FALSE;
  const _bstr_t name(u"SSPF");
  KX_CHECK(ctx, object->HasTrigger(name, &has));
  if (has == VARIANT_TRUE) KX_CHECK(ctx, object->get_Trigger(name, &trigger));
}

}  // namespace

namespace FieldUtils {

void AssertField(MainContext& main, IKXQObject* page, int32_t fieldId,
                 const OLECHAR* confirmedClass, AssertedField& out) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::AssertField");
  out = AssertedField();
  CheckPointerArgument(ctx, page);
  IKXQTemplatePagePtr templatePage;
  GetPageTemplatePage(ctx, main, page, templatePage);
  AssertField(main, page, templatePage, fieldId, confirmedClass, out);
}

void AssertField(MainContext& main, IKXQObject* page, IKXQTemplatePage* templatePage,
                 int32_t fieldId, const OLECHAR* confirmedClass, AssertedField& out) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::AssertField");
  out = AssertedField();
  CheckPointerArgument(ctx, page);
  CheckPointerArgument(ctx, templatePage);
  IKXQTemplateFieldPtr field;
  out.fieldNumber = GetTemplateFieldNumber(templatePage, fieldId, field);
  if (!field) GetFieldById(ctx, templatePage, fieldId, field);
  // What the case and the walk's start read is what the field's read walk
  // reads before it steps on.
  SettledWalkRecorder settled(page);
  settled.BeginStart();
  const int32_t caseId = GetDefinedCase(ctx, page, field);
  out.templateField = field;

  const FieldRoot root(page, field);
  settled.EndStart();
  IKXQObjectPtr object = root.object;
  if (!object) {
    IKXQTemplatePtr tmpl;
    KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplate(main.m_pApplication, page, &tmpl, 1));
    CheckPointerArgument(ctx, tmpl.GetInterfacePtr());
    if (confirmedClass == nullptr || *confirmedClass == 0) {
      IKXQClassViewPtr view;
      KX_CHECK(ctx, tmpl->get_ClassView(&view));
      if (!view) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"Failed to find ClassView");
      _bstr_t name;
      KX_CHECK(ctx, view->get_Name(name.GetAddress()));
      HandToConfirmation(ctx, main.m_pApplication, name);
      return;
    }
    CreateConfirmedObject(ctx, main, confirmedClass, object);
    out.created = true;
    SetFieldRootObject(main.m_pApplication, tmpl, page, field, object);
    _bstr_t templateId;
    KX_CHECK(ctx, tmpl->get_Id(templateId.GetAddress()));
    LoadMasterData(ctx, main, templateId, object);
  }
  // On an overspill page the route's list positions continue where the
  // pages in front of it stopped.
  PageLoadContext context(&main);
  SAFEARRAY* chain = GetPageOverspillChain(context, page);
  settled.BeginWalk();
  // A walk after the creation looks at the changed page itself.
  KX_CHECK(ctx,
           out.created
               ? ResolveFieldRoute(page, field, caseId, true, chain, &out.position, &out.holder)
               : ResolveFieldRoute(page, field, caseId, root, chain, &out.position, &out.holder));
  out.settled = settled.Finish(field, chain, out.position, out.holder);
}

void SetFieldRootObject(IKXQApplication* application, IKXQTemplate* tmpl, IKXQObject* page,
                        IKXQTemplateField* field, IKXQObject* object) {
  KXComException ctx(u"FieldUtils::SetFieldRootObject");
  CheckPointerArgument(ctx, tmpl);
  IKXQClassViewPtr node;
  try {
    GetTemplateFieldNode(page, field, true, node);
  } catch (const KXComException&) {
    ClearThreadErrorInfo();
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"Invalid field definition");
  }
  KXDBDatasheetSvcs::GetPageNodeObjects(page, node, object, true);
  _bstr_t kind;
  KX_CHECK(ctx, tmpl->get_Kind(kind.GetAddress()));
  if (kind.length() == 0 || _wcsicmp(kind, u"Datasheet") != 0) return;
  IKXQObjectPtr datasheet;
  GetOwnerObject(page, datasheet);
  CheckPointerArgument(ctx, datasheet.GetInterfacePtr());
  KXDBDatasheetSvcs::ForEachCurrentPage(datasheet, [&](IKXQObject* other) {
    if (other == page || IsKind(application, other, u"summary")) return;
    IKXQTemplatePagePtr otherTemplatePage;
    KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplatePage(application, other, &otherTemplatePage, 1));
    if (otherTemplatePage) {
      (void)KXDBDatasheetSvcs::PlaceObjectOnPage(other, otherTemplatePage, object, false);
    }
  });
}

HRESULT CheckPermanentFilterMembership(MainContext& main, IKXQObject* datasheet, IKXQObject* page,
                                       int32_t fieldId, int32_t index, IKXQFieldValue* holder,
                                       const VARIANT& /*position*/, const OLECHAR* value) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::CheckPermanentFilterMembership");
  CheckPointerArgument(ctx, datasheet);
  CheckPointerArgument(ctx, page);
  VARIANT_BOOL summary = VARIANT_FALSE;
  KX_CHECK(ctx, KXDBDatasheetSvcs::IsSummarySheet(main.m_pApplication, datasheet, &summary));
  if (summary != VARIANT_TRUE) return S_OK;

  _com_ptr_t<IKXQTrigger> trigger;
  IKXQObject* owner = datasheet;
  GetPermanentFilterTrigger(ctx, datasheet, trigger);
  if (!trigger) {
    owner = page;
    GetPermanentFilterTrigger(ctx, page, trigger);
    if (!trigger) return S_OK;
  }
  const bool sheetLevel = owner == datasheet;

  IKXQTemplatePagePtr templatePage;
  GetPageTemplatePage(ctx, main, page, templatePage);
  IKXQObjectPtr object;
  if (sheetLevel) {
    IKXQTemplateFieldPtr field;
    GetFieldById(ctx, templatePage, fieldId, field);
    IKXQClassViewPtr node;
    GetTemplateFieldNode(page, field, true, node);
    KXDBDatasheetSvcs::GetNodeObject(object, page, node);
  } else {
    if (index < 0) WarnAndFail(ctx, main, KX_HERE(kFile), u"Index for continuous list object < 0");
    ContinuousPageHelper& helper = main.GetContinuousPageHelper();
    KX_CHECK(ctx, helper.Initialize(main.m_pApplication, templatePage, page, false));
    IKXQAttributePtr objects;
    GetAttributeInterface(page, u"NodeObjects", objects);
    CheckPointerArgument(ctx, objects.GetInterfacePtr());
    const int32_t at = helper.RowPosition(index);
    if (at > GetAttributeCount(objects)) {
      WarnAndFail(ctx, main, KX_HERE(kFile),
                  u"Index for continuous list object exceeds length of Node Object vector");
    }
    if (at >= 1) GetAttributeAsObject(objects, at, object);
  }
  if (!object) return S_OK;

  // "KX_CLAIM_ONLY" is handed over as that text, any other filter as the
  // schema's.
  _variant_t filter;
  KX_CHECK(ctx, KXDBDatasheetSvcs::IsClaimOnlyFilter(main.m_pSchema, owner, &filter));
  // The test is recorded by the owner's permanent-filter trigger.
  if (KXDBDatasheetSvcs::IsObjectInFilter(main.m_pApplication, filter, object, datasheet,
                                          trigger)) {
    return S_OK;
  }

  _bstr_t name;
  CheckPointerArgument(ctx, holder);
  KX_CHECK(ctx, holder->get_Name(name.GetAddress()));
  const std::u16string alert = kx_format(
      u"'%ls' = '%ls' did not pass summary list membership requirements defined by Permanent "
      u"Filter",
      name.length() > 0 ? static_cast<const OLECHAR*>(name) : u"", value != nullptr ? value : u"");
  XMLReply::BeginMessage(main, u"App", -1);
  XMLReply::WriteMessage(main, u"ALERT", -1, _bstr_t(alert.c_str()));
  XMLReply::EndMessage(main);
  KX_CHECK(ctx, KXDBDatasheetSvcs::RemoveObjectFromPage(main, page, object));
  return S_FALSE;
}

}  // namespace FieldUtils

void AssertContinuousListField(MainContext& main, IKXQObject* page, int32_t fieldId, int32_t index,
                               const OLECHAR* confirmedClass, AssertedField& out) {
  KXComException ctx = KXComException::Silent(u"AssertContinuousListField");
  out = AssertedField();
  CheckPointerArgument(ctx, page);
  IKXQTemplatePagePtr templatePage;
  GetPageTemplatePage(ctx, main, page, templatePage);
  ContinuousPageHelper& helper = main.GetContinuousPageHelper();
  KX_CHECK(ctx, helper.Initialize(main.m_pApplication, templatePage, page, false));
  IKXQTemplateFieldPtr field;
  GetFieldById(ctx, templatePage, fieldId, field);
  const int32_t caseId = GetDefinedCase(ctx, page, field);
  out.templateField = field;
  // Before anything is looked up or made for the row: a fixed field
  // addressed with a row, or a list column without one, is refused here,
  // with nothing changed.
  const int32_t fieldNumber = FieldUtils::GetRowFieldNumber(helper, field, index);
  FieldUtils::CheckListColumnRow(helper, page, field, index);

  IKXQAttributePtr objects;
  GetAttributeInterface(page, u"NodeObjects", objects);
  CheckPointerArgument(ctx, objects.GetInterfacePtr());
  int32_t position = 0;
  if (index >= 0) {
    // A list without rows has none: a row is then made, never read from a
    // header object.
    position = helper.ListRowPosition(index);
  } else {
    // A field outside the rows: its node's entry of "NodeIndices". A field
    // the analysis does not hold has no node (never position 0 of the list).
    int32_t nodeIndex = -1;
    const std::vector<int32_t>& ids = helper.FieldNodeIds();
    for (size_t i = 0; i < ids.size() && i < helper.FieldRootNodes().size(); ++i) {
      if (ids[i] == fieldId) {
        nodeIndex = helper.FieldRootNodes()[i];
        break;
      }
    }
    IKXQAttributePtr indices;
    GetAttributeInterface(page, u"NodeIndices", indices);
    bool has = false;
    if (nodeIndex >= 0 && indices && GetAttributeCount(indices) >= nodeIndex + 1) {
      position = KXDBDatasheetSvcs::GetAttributeIntegerAt(indices, nodeIndex + 1, &has);
    }
    if (!has || position <= 0) {
      WarnAndFail(ctx, main, KX_HERE(kFile),
                  u"AssertContinuousListField, failed to find node index");
    }
  }
  IKXQObjectPtr row;
  if (position >= 1 && position <= GetAttributeCount(objects)) {
    GetAttributeAsObject(objects, position, row);
  }
  if (!row) {
    if (confirmedClass != nullptr && *confirmedClass != 0) {
      CreateConfirmedObject(ctx, main, confirmedClass, row);
      out.created = true;
      KX_CHECK(ctx,
               KXDBDatasheetSvcs::AddListObject(main, row, page, templatePage, true, -1, false));
      IKXQTemplatePtr tmpl;
      KX_CHECK(ctx, templatePage->get_Template(&tmpl));
      CheckPointerArgument(ctx, tmpl.GetInterfacePtr());
      _bstr_t templateId;
      KX_CHECK(ctx, tmpl->get_Id(templateId.GetAddress()));
      LoadMasterData(ctx, main, templateId, row);
    } else {
      const std::vector<_bstr_t>& classes = helper.AttachedClassNames();
      if (classes.empty() || classes.front().length() == 0) {
        ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"Failed to find ClassView");
      }
      HandToConfirmation(ctx, main.m_pApplication, classes.front());
      _bstr_t pageName;
      KX_CHECK(ctx, templatePage->get_Name(pageName.GetAddress()));
      WarnAndFail(ctx, main, KX_HERE(kFile),
                  kx_format(u"Assert Field Error: Failed to assert continuous list field %d in "
                            u"template page %ls",
                            static_cast<int>(fieldId),
                            pageName.length() > 0 ? static_cast<const OLECHAR*>(pageName) : u""));
    }
  }
  KX_CHECK(ctx, FieldUtils::ParseContinuousListRoute(main, page, row, field, caseId, true,
                                                     &out.position, &out.holder));
  KX_CHECK(ctx, helper.Initialize(main.m_pApplication, templatePage, page, false));
  out.fieldNumber = fieldNumber;
}
