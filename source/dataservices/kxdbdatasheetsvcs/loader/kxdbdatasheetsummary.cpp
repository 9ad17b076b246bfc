// Summary-sheet membership: members of a template's classes onto a summary
// sheet (a page each, or rows of a continuous list), one object onto a page
// or into a list, the summary-sheet processing of the automation method,
// and the triggers of a datasheet's pages set up.
#include "loader/kxdbdatasheetsummary.h"

#include <algorithm>
#include <vector>

#include "com/comutil.h"
#include "com/enumvariant.h"
#include "com/wstr.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "kxvalueutils.h"
#include "loader/triggers.h"
#include "model/continuouspageadvisor.h"
#include "model/kxdbdatasheetpages.h"
#include "model/kxdbdatasheetutils.h"
#include "model/kxfielddata.h"
#include "model/maincontext.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/kxdbdatasheetutils";
constexpr FrameOptions kFrame{.file = kFile};
constexpr FrameOptions kSilentFrame{.file = kFile, .silent = true};
constexpr int32_t kMaxFieldEvents = 100;

IKXQAttributePtr RequiredAttribute(KXComException& ctx, IKXQObject* object, const OLECHAR* name) {
  CheckPointerArgument(ctx, object);
  IKXQAttributePtr attribute;
  GetAttributeInterface(object, name, attribute);
  CheckPointerArgument(ctx, attribute.GetInterfacePtr(), u"The object has no attribute %ls", name);
  return attribute;
}

bool IsContinuous(KXComException& ctx, IKXQTemplatePage* templatePage) {
  BSTR format = nullptr;
  KX_CHECK(ctx, templatePage->get_ContinuousFormat(&format));
  const _bstr_t held(format, false);
  return held.length() > 0;
}

// Refuses what ProcessSummarySheet must not fill: an object that is no
// datasheet, a datasheet that is no summary sheet of `tmpl`, and a list
// summary whose list page holds rows already: the rows would be written
// over the field records of the rows it holds, which are lost.
void RequireFillableSummarySheet(KXComException& ctx, MainContext& main, IKXQTemplate* tmpl,
                                 const _bstr_t& templateId, IKXQTemplatePage* templatePage,
                                 bool continuous, IKXQObject* datasheet) {
  const int32_t id = ObjectIdOf(datasheet);
  if (!KXDBDatasheetSvcs::IsObjectOfClass(datasheet, u"Datasheet")) {
    KXDBDatasheetSvcs::RefuseObjectClass(datasheet, id, u"a datasheet");
  }
  _bstr_t kind, own;
  KX_CHECK(ctx, tmpl->get_Kind(kind.GetAddress()));
  KXDBDatasheetSvcs::GetAttributeString(datasheet, own, u"TemplateId", -1);
  if (kind.length() == 0 || kx_wcsicmp(kind.view(), u"Summary") != 0 || own != templateId) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG,
                            u"Datasheet %d is no summary sheet of template %ls",
                            static_cast<int>(id), static_cast<const OLECHAR*>(templateId));
  }
  if (!continuous) return;
  IKXQObjectPtr firstPage;
  KXDBDatasheetSvcs::GetObjectAttribute(datasheet, firstPage, u"CurrentPages");
  if (!firstPage) return;
  ContinuousPageHelper& helper = main.GetContinuousPageHelper();
  KX_CHECK(ctx, helper.Initialize(main.m_pApplication, templatePage, firstPage, false));
  if (helper.RowCount() > 0) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG,
                            u"Summary sheet %d holds members already: they are not added again",
                            static_cast<int>(id));
  }
}

IKXQTemplatePagePtr FirstTemplatePage(KXComException& ctx, IKXQTemplate* tmpl) {
  CheckPointerArgument(ctx, tmpl);
  IKXQTemplatePagePtr page;
  KX_CHECK(ctx, tmpl->get_Page(1, &page));
  CheckPointerArgument(ctx, page.GetInterfacePtr());
  return page;
}

// The classes of a template, each element as IKXQClass.
std::vector<IKXQClassPtr> TemplateClasses(KXComException& ctx, IKXQTemplate* tmpl) {
  SAFEARRAY* array = nullptr;
  KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplateClasses(tmpl, &array));
  VariantUtil::SafeArrayVector classes;
  const HRESULT attached = array != nullptr ? classes.AttachObjects(array, true) : S_OK;
  if (FAILED(attached)) {
    SafeArrayDestroy(array);
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), attached, nullptr);
  }
  std::vector<IKXQClassPtr> out;
  for (int32_t i = 0; i < classes.Count(); ++i) {
    IKXQClassPtr cls;
    KX_CHECK(ctx, classes.GetClassAt(i, &cls));
    out.push_back(cls);
  }
  return out;
}

// Calls `collected()` once each class's instances are gathered, then
// `visit(member)` for each of them: the classes in order, their instances
// in collection order.
template <class Collected, class Visit>
void ForEachMember(const std::vector<IKXQClassPtr>& classes, Collected&& collected, Visit&& visit) {
  for (const IKXQClassPtr& cls : classes) {
    ComPtrArray<IKXQObject> members;
    KXDBDatasheetSvcs::CollectChildObjects(members, cls);
    collected();
    for (int32_t i = 0; i < members.GetCount(); ++i) visit(members.GetAt(i));
  }
}

int32_t ObjectId(KXComException& ctx, IKXQObject* object) {
  LONG id = 0;
  if (object != nullptr) KX_CHECK(ctx, object->get_Id(&id));
  return id;
}

// Claimed by the user's scope: the text-filter test with VARIANT_TRUE
// answers 1 to 3 and the active project claims the member.
bool InScope(KXComException& ctx, MainContext& main, IKXQObject* member) {
  LONG answer = 0;
  KX_CHECK(ctx, member->TestFilter(_variant_t(true), &answer));
  return answer >= 1 && answer <= 3 &&
         KXDBDatasheetSvcs::IsClaimedByActiveProject(main.m_pApplication, member);
}

// The helper's field position (0-based) of a page's field number: fixed
// fields directly, repeating ones folded into the first row.
int32_t HelperFieldPosition(KXComException& ctx, const ContinuousPageHelper& helper,
                            int32_t field) {
  if (field < 1) {
    const std::u16string key = helper.TemplateKey();
    ctx.hr = E_FAIL;
    ThrowKXComExceptionHrAt(
        ctx,
        SourceLocation{u"source/dataservices/kxdbdatasheetsvcs/continuouspageadvisor", __LINE__},
        E_FAIL, u" Invalid field index for continuous template %s. Must be greater than 0. ",
        key.c_str());
  }
  const int32_t first = helper.FirstRepeatingField();
  if (field < first || helper.FieldsPerRow() <= 0) return field - 1;
  return first - 1 + (field - first) % helper.FieldsPerRow();
}

_com_ptr_t<IKXQTemplateField> FieldDefinition(KXComException& ctx,
                                              const ContinuousPageHelper& helper,
                                              IKXQTemplatePage* templatePage, int32_t field) {
  const int32_t position = HelperFieldPosition(ctx, helper, field);
  const auto& numbers = helper.FieldTemplateNumbers();
  if (position < 0 || position >= static_cast<int32_t>(numbers.size())) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), DISP_E_BADINDEX, nullptr);
  }
  _com_ptr_t<IKXQTemplateField> definition;
  KX_CHECK(ctx, templatePage->get_Field(numbers[static_cast<size_t>(position)], &definition));
  return definition;
}

void LaunchFieldEvents(KXComException& ctx, MainContext& main, IKXQObject* page, int32_t from,
                       int32_t to) {
  for (int32_t f = from; f <= to; ++f) KX_CHECK(ctx, main.LaunchDataFieldEvent(page, f, 1, false));
}

// A field-data text without its attribute id: a copied row must not claim
// the attribute of the row it was copied from.
_bstr_t WithoutAttribId(KXComException& ctx, const _bstr_t& text) {
  KXFieldData record;
  KX_CHECK(ctx, record.Parse(text));
  const int32_t kind = record.typeId;
  KX_CHECK(ctx, record.ParseFieldData(kind, text, -1));
  record.attribId = -1;
  BSTR out = nullptr;
  KX_CHECK(ctx, record.WriteFieldData(&out, kFieldDataFull, -1));
  return _bstr_t(out, false);
}

}  // namespace

namespace KXDBDatasheetSvcs {

_bstr_t CopiedRowFieldText(const _bstr_t& text) {
  KXComException ctx = KXComException::Silent();
  return WithoutAttribId(ctx, text);
}

void CollectEnumObjects(ComPtrArray<IKXQObject>& objects, IKXQObjectCollection* collection) {
  KXComException ctx = KXComException::Silent();
  CheckPointerArgument(ctx, collection);
  _com_ptr_t<IUnknown> unknown;
  KX_CHECK(ctx, collection->get__NewEnum(&unknown));
  CheckPointerArgument(ctx, unknown.GetInterfacePtr());
  _com_ptr_t<IEnumVARIANT> items;
  KX_CHECK(ctx,
           unknown->QueryInterface(kx_uuidof<IEnumVARIANT>(), reinterpret_cast<void**>(&items)));
  for (;;) {
    _variant_t item;
    ULONG fetched = 0;
    const HRESULT hr = items->Next(1, &item, &fetched);
    if (hr != S_OK) {
      if (FAILED(hr)) KX_CHECK(ctx, hr);
      break;
    }
    IKXQObjectPtr object;
    GetObjectFromVariant(object, item, nullptr);
    objects.Add(object);
  }
}

void CollectChildObjects(ComPtrArray<IKXQObject>& objects, IKXQClass* cls) {
  KXComException ctx = KXComException::Silent();
  CheckPointerArgument(ctx, cls);
  _com_ptr_t<IKXQObjectCollection> instances;
  KX_CHECK(ctx, cls->get_Instances(&instances));
  CollectEnumObjects(objects, instances);
}

HRESULT AddSummarySheetPage(MainContext& main, IKXQObject* member, IKXQObject* datasheet,
                            IKXQTemplatePage* templatePage, bool quiet) {
  const auto work = [&](KXComException& ctx) {
    CheckPointerArgument(ctx, templatePage);
    if (!quiet && IsObjectOnDatasheet(member, datasheet, templatePage)) return S_OK;
    const IKXQAttributePtr pages = RequiredAttribute(ctx, datasheet, u"CurrentPages");
    const int32_t count = GetAttributeCount(pages);
    IKXQTemplatePtr tmpl;
    KX_CHECK(ctx, templatePage->get_Template(&tmpl));
    CheckPointerArgument(ctx, tmpl.GetInterfacePtr());
    BSTR id = nullptr;
    KX_CHECK(ctx, tmpl->get_Id(&id));
    const _bstr_t templateId(id, false);

    bool placed = false;
    for (int32_t k = count; k >= 1; --k) {
      IKXQObjectPtr page;
      GetAttributeAsObject(pages, k, page);
      if (!page) continue;
      _bstr_t pageTemplate;
      GetAttributeString(page, pageTemplate, u"TemplateId", -1);
      if (pageTemplate.view() != templateId.view()) continue;
      placed = PlaceObjectOnPage(page, templatePage, member, false);
      break;
    }
    if (placed) return S_OK;

    IKXQAttributePtr defaultCase;
    GetAttributeInterface(datasheet, u"DefaultCase", defaultCase);
    const int32_t caseId = defaultCase ? GetAttributeAsInteger(defaultCase) : 0;
    IKXQObjectPtr page;
    if (FAILED(templatePage->CreatePage(datasheet, member, caseId, count + 1, &page)) || !page) {
      ClearThreadErrorInfo();
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                              u"Failed to create page for summary sheet");
    }
    if (!quiet) KX_CHECK(ctx, KXDBDatasheetServices::InitializePageTrigger(main, page));
    SetAttributeObjectAt(pages, count + 1, page);
    SetAttributeLong(datasheet, u"NumberOfPages", count + 1, -1);
    KX_CHECK(ctx, main.LaunchDatasheetEvent(datasheet, 1));
    return S_OK;
  };
  return ServeRequest(u"KXDBDatasheetSvcs::AddSummarySheetPage", kSilentFrame, work);
}

HRESULT AddMembersToPage(MainContext& main, const ComPtrArray<IKXQObject>& members,
                         IKXQObject* page, IKXQTemplatePage* templatePage) {
  const auto work = [&](KXComException& ctx) {
    CheckPointerArgument(ctx, page, u"Page to hold continuous list summary members is null");
    CheckPointerArgument(ctx, templatePage);
    ContinuousPageHelper& helper = main.GetContinuousPageHelper();
    const HRESULT initialized = helper.Initialize(main.m_pApplication, templatePage, page, false);
    if (FAILED(initialized)) {
      BSTR name = nullptr;
      (void)templatePage->get_Name(&name);
      const _bstr_t heldName(name, false);
      _bstr_t warning(u"AddMembersToPage: Fatal error initializing continuous list based on ");
      warning += heldName;
      if (main.m_pApplication != nullptr) (void)main.m_pApplication->LogWarning(warning);
      return initialized;  // with the error information it left
    }

    const _bstr_t fieldTrigger(u"Field");
    VARIANT_BOOL hasTrigger = VARIANT_FALSE;
    KX_CHECK(ctx, page->HasTrigger(fieldTrigger, &hasTrigger));
    if (hasTrigger == VARIANT_FALSE) {
      KX_CHECK(ctx, KXDBDatasheetServices::InitializePageTrigger(main, page, true));
    }
    _com_ptr_t<IKXQTrigger> trigger;
    KX_CHECK(ctx, page->get_Trigger(fieldTrigger, &trigger));
    GetContinuousFormat(main, page, templatePage);

    const IKXQAttributePtr objects = RequiredAttribute(ctx, page, u"NodeObjects");
    const IKXQAttributePtr indices = RequiredAttribute(ctx, page, u"NodeIndices");
    const int32_t placed = GetAttributeCount(objects);
    const int32_t rootSlot = helper.RootNodeIndex() + 1;
    bool hasRoot = false;
    (void)GetAttributeIntegerAt(indices, rootSlot, &hasRoot);
    if (!hasRoot) SetAttributeIntegerAt(indices, rootSlot, placed + 1);

    const int32_t m = members.GetCount();
    std::vector<int32_t> rowIds;
    ResizeAttributeValues(objects, placed + m);
    for (int32_t j = 0; j < m; ++j) {
      SetAttributeObjectAt(objects, placed + 1 + j, members.GetAt(j));
      rowIds.push_back(ObjectId(ctx, members.GetAt(j)));
    }
    const IKXQAttributePtr fields = RequiredAttribute(ctx, page, u"Fields");
    ResizeAttributeValues(fields,
                          m == 0 ? helper.TemplateFieldCount()
                                 : helper.TemplateFieldCount() + helper.FieldsPerRow() * (m - 1));
    IKXQAttributePtr revisions;
    GetAttributeInterface(page, u"Revisions", revisions);
    if (revisions) {
      ResizeAttributeValues(revisions, helper.ValuesPerRow() * m + helper.PageValueCount());
    }
    if (!trigger) return S_OK;

    KX_CHECK(ctx, helper.InitializePageProperties(page));
    const int32_t first = helper.FirstRepeatingField();
    for (int32_t k = 1; k < first; ++k) {
      const _com_ptr_t<IKXQTemplateField> definition =
          FieldDefinition(ctx, helper, templatePage, k);
      OLECHAR key[16];
      swprintf_s(key, 16, u"%d", k);
      KX_CHECK(ctx, RecordListFieldItem(main, page, definition, key, k, -1, trigger, fields));
    }
    const int32_t perRow = helper.FieldsPerRow();
    std::vector<_com_ptr_t<IKXQTemplateField>> columns;
    for (int32_t c = 0; c < perRow; ++c) {
      columns.push_back(FieldDefinition(ctx, helper, templatePage, first + c));
    }
    int32_t fieldNumber = first;
    for (int32_t r = 0; r < m; ++r) {
      for (int32_t c = 0; c < static_cast<int32_t>(columns.size()); ++c, ++fieldNumber) {
        OLECHAR key[48];
        swprintf_s(key, 48, u"CL%ld:%ld", static_cast<long>(rowIds[static_cast<size_t>(r)]),
                   static_cast<long>(c));
        KX_CHECK(ctx, RecordListFieldItem(main, page, columns[static_cast<size_t>(c)], key,
                                          fieldNumber, r, trigger, fields));
      }
    }
    return S_OK;
  };
  return ServeRequest(u"KXDBDatasheetSvcs::AddMembersToPage",
                      FrameOptions{.file = kFile, .passReturnedFailure = true, .silent = true},
                      work);
}

HRESULT AddListObject(MainContext& main, IKXQObject* object, IKXQObject* page,
                      IKXQTemplatePage* templatePage, bool continuous, int32_t row, bool force,
                      bool events) {
  return ServeRequest(u"KXDBDatasheetSvcs::AddListObject", kSilentFrame, [&](KXComException& ctx) {
    if (!continuous) {
      if (!force && IsObjectOnPage(object, page, templatePage)) return S_OK;
      if (page != nullptr) (void)PlaceObjectOnPage(page, templatePage, object, false);
      return S_OK;
    }
    CheckPointerArgument(ctx, page);
    CheckPointerArgument(ctx, object);
    ContinuousPageHelper& helper = main.GetContinuousPageHelper();
    KX_CHECK(ctx, helper.Initialize(main.m_pApplication, templatePage, page, false));
    const int32_t rowsBefore = helper.RowCount();
    const IKXQAttributePtr objects = RequiredAttribute(ctx, page, u"NodeObjects");
    // The store answers membership at once; reading the list value by value
    // made every new row cost as much as the rows before it.
    if (ListHoldsObject(objects, object)) return S_OK;
    const int32_t n = GetAttributeCount(objects);
    GetContinuousFormat(main, page, templatePage);
    const int32_t firstRow = helper.FirstRowPosition();
    const IKXQAttributePtr indices = RequiredAttribute(ctx, page, u"NodeIndices");
    bool hasRoot = false;
    (void)GetAttributeIntegerAt(indices, helper.RootNodeIndex() + 1, &hasRoot);
    if (!hasRoot) SetAttributeIntegerAt(indices, helper.RootNodeIndex() + 1, n + 1);

    if (row < 0) {
      SetAttributeObjectAt(objects, n + 1, object);
    } else {
      InsertAttributeValue(objects, firstRow + row);
      SetAttributeObjectAt(objects, firstRow + row, object);
    }

    const int32_t first = helper.FirstRepeatingField();
    const int32_t perRow = helper.FieldsPerRow();
    const int32_t rows = firstRow >= 1 ? n - firstRow + 1 : rowsBefore;
    const int32_t last = first - 1 + (rows + 1) * perRow;
    int32_t start = row < 0 ? first + (rows - 1) * perRow : first + row * perRow;
    const bool copying = row >= 0 || start >= first;

    const IKXQAttributePtr fields = RequiredAttribute(ctx, page, u"Fields");
    std::vector<_bstr_t> texts(static_cast<size_t>(std::max(perRow, 0)));
    if (copying) {
      for (int32_t k = 0; k < perRow; ++k) {
        _bstr_t text;
        bool present = false;
        GetAttributeValueStringAt(fields, start + k, text, &present);
        if (present && text.length() > 0)
          texts[static_cast<size_t>(k)] = WithoutAttribId(ctx, text);
      }
    }
    if (row < 0) {
      start += perRow;
      ResizeAttributeValues(fields, last);
    } else {
      for (int32_t k = 0; k < perRow; ++k) InsertAttributeValue(fields, start);
    }
    if (copying) {
      for (int32_t k = 0; k < perRow; ++k) {
        if (texts[static_cast<size_t>(k)].length() == 0) continue;
        SetAttributeValueAt(fields, start + k, texts[static_cast<size_t>(k)]);
      }
      RenumberFieldRows(fields, row < 0 ? rows : row, start, perRow);
    }

    IKXQAttributePtr revisions;
    GetAttributeInterface(page, u"Revisions", revisions);
    if (revisions) {
      if (row < 0) {
        ResizeAttributeValues(revisions, helper.PageValueCount() + helper.ValuesPerRow());
      } else {
        const int32_t at = helper.ValuesPerRow() * row + helper.FixedValueCount() + 1;
        for (int32_t k = 0; k < helper.ValuesPerRow(); ++k) InsertAttributeValue(revisions, at);
      }
    }

    if (!events) return S_OK;
    const int32_t fieldCount = GetAttributeCount(fields);
    if (row < 0) {
      if (copying) {
        LaunchFieldEvents(ctx, main, page, first + rows * perRow, fieldCount);
      } else {
        KX_CHECK(ctx, main.LaunchPageEvent(page, 1));
      }
    } else if ((rows + 1) * perRow <= kMaxFieldEvents) {
      LaunchFieldEvents(ctx, main, page, first + row * perRow, fieldCount);
    } else {
      KX_CHECK(ctx, main.LaunchPageEvent(page, 1));
    }
    if (rowsBefore == 0) LaunchFieldEvents(ctx, main, page, first, first + perRow - 1);
    return S_OK;
  });
}

HRESULT AddMembersToSummarySheet(MainContext& main, IKXQObject* datasheet, IKXQTemplate* tmpl,
                                 bool takeAll) {
  const auto work = [&](KXComException& ctx) {
    CheckPointerArgument(ctx, datasheet);
    const IKXQTemplatePagePtr templatePage = FirstTemplatePage(ctx, tmpl);
    const bool continuous = IsContinuous(ctx, templatePage);
    const std::vector<IKXQClassPtr> classes = TemplateClasses(ctx, tmpl);

    IKXQObjectPtr firstPage;
    if (continuous) GetObjectAttribute(datasheet, firstPage, u"CurrentPages");
    _variant_t filter;
    KX_CHECK(ctx, IsClaimOnlyFilter(main.m_pSchema,
                                    continuous ? firstPage.GetInterfacePtr() : datasheet, &filter));

    if (!continuous) {
      SortedIdArray handled;
      const auto collected = [&] {
        if (main.m_pApplication != nullptr) {
          (void)main.m_pApplication->LogDiagnostic(_bstr_t(u"Class Members collection created"));
        }
      };
      ForEachMember(classes, collected, [&](IKXQObject* member) {
        if (member == nullptr) return;
        bool eligible = takeAll || InScope(ctx, main, member);
        const int32_t id = ObjectId(ctx, member);
        int32_t at = 0;
        if (id < 1 || handled.Find(id, &at)) eligible = false;
        if (eligible) eligible = IsObjectInFilter(main.m_pApplication, filter, member, datasheet);
        if (eligible) {
          KX_CHECK(ctx, AddSummarySheetPage(main, member, datasheet, templatePage, true));
        }
        if (id >= 1) handled.Add(id);
      });
      return S_OK;
    }

    ComPtrArray<IKXQObject> rows;
    ForEachMember(
        classes, [] {},
        [&](IKXQObject* member) {
          if (member == nullptr || !(takeAll || InScope(ctx, main, member))) return;
          if (IsVariantSet(filter) &&
              !IsObjectInFilter(main.m_pApplication, filter, member, datasheet)) {
            return;
          }
          rows.Add(member);
        });
    KX_CHECK(ctx, AddMembersToPage(main, rows, firstPage, templatePage));
    return S_OK;
  };
  return ServeRequest(u"KXDBDatasheetSvcs::AddMembersToSummarySheet", kSilentFrame, work);
}

HRESULT AddObjectsToNewPage(MainContext& main, IKXQObject* page, IKXQTemplate* tmpl,
                            IKXQTemplatePage* templatePage) {
  const auto work = [&](KXComException& ctx) {
    CheckPointerArgument(ctx, templatePage);
    SortedIdArray handled;
    ForEachMember(
        TemplateClasses(ctx, tmpl), [] {},
        [&](IKXQObject* member) {
          const int32_t id = ObjectId(ctx, member);
          int32_t at = 0;
          if (id > 0 && !handled.Find(id, &at)) {
            KX_CHECK(ctx, AddListObject(main, member, page, templatePage, false, -1, true));
          }
          handled.Add(id);
        });
    return S_OK;
  };
  return ServeRequest(u"KXDBDatasheetSvcs::AddObjectsToNewPage", kSilentFrame, work);
}

HRESULT ProcessSummarySheet(MainContext& main, IKXQTemplate* tmpl, IKXQObject* datasheet) {
  const auto work = [&](KXComException& ctx) {
    CheckPointerArgument(ctx, tmpl);
    CheckPointerArgument(ctx, datasheet);
    BSTR id = nullptr;
    KX_CHECK(ctx, tmpl->get_Id(&id));
    const _bstr_t templateId(id, false);
    const IKXQTemplatePagePtr templatePage = FirstTemplatePage(ctx, tmpl);
    const bool continuous = IsContinuous(ctx, templatePage);
    RequireFillableSummarySheet(ctx, main, tmpl, templateId, templatePage, continuous, datasheet);

    LoadFilterSortFile(main);
    const _bstr_t filterId = GetTemplateFilterId(main, templateId);
    if (filterId.length() > 0) {
      IKXQObjectPtr target = datasheet;
      if (continuous) GetObjectAttribute(datasheet, target, u"CurrentPages");
      IKXQAttributePtr objectFilter;
      GetAttributeInterfaceAt(target, u"ObjectFilter", objectFilter, -1);
      SetAttributeString(objectFilter, filterId);
    }
    KX_CHECK(ctx, AddMembersToSummarySheet(main, datasheet, tmpl, false));
    KX_CHECK(ctx, ApplyTemplateFilterSort(main, datasheet));
    return S_OK;
  };
  return ServeRequest(u"KXDBDatasheetSvcs::ProcessSummarySheet", kSilentFrame, work);
}

HRESULT InitializePageTriggerUOM(MainContext& main, IKXQObject* datasheet) {
  const auto work = [&](KXComException& ctx) {
    ForEachCurrentPage(datasheet, [&](IKXQObject* page) {
      KX_CHECK(ctx, KXDBDatasheetServices::InitializePageTrigger(main, page));
    });
    return S_OK;
  };
  return ServeRequest(u"KXDBDataSheetSvcs::InitializePageTriggerUOM", kFrame, work);
}

}  // namespace KXDBDatasheetSvcs
