#include "mainworkers.h"

#include <algorithm>
#include <vector>

#include "com/wstr.h"
#include "continuouspageadvisor.h"
#include "fieldutils.h"
#include "kxdbdatasheetpages.h"
#include "kxdbdatasheetutils.h"
#include "kxfielddata.h"
#include "loaddatasheet.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "overspillutils.h"
#include "validatetemplates.h"

MainWorkers& MainWorkers::Defaults() {
  static MainWorkers defaults;
  return defaults;
}

HRESULT MainWorkers::RunWorker(MessageParser& request, uint32_t element) {
  return request.RunWork(element);
}

HRESULT MainWorkers::HandleCreateEvent(Main& main, IKXQObject* object) {
  return main.HandleCreateEvent(object);
}
HRESULT MainWorkers::HandleDeleteEvent(Main& main, IKXQObject* object) {
  return main.HandleDeleteEvent(object);
}
HRESULT MainWorkers::HandleDeleteCaseEvent(Main& main, IKXQObject* object, LONG caseNumber) {
  return main.HandleDeleteCaseEvent(object, caseNumber);
}
HRESULT MainWorkers::HandleUpdateProjectEvent(Main& main, IKXQProjectUpdate* update) {
  return main.HandleUpdateProjectEvent(update);
}
HRESULT MainWorkers::HandleDeleteProjectEvent(Main& main, IKXQProject* project) {
  return main.HandleDeleteProjectEvent(project);
}
HRESULT MainWorkers::HandleChangeClassEvent(Main& main, IKXQObject* object, IKXQClass* newClass) {
  return main.HandleChangeClassEvent(object, newClass);
}
HRESULT MainWorkers::HandleChangeClaimStatusEvent(Main& main, IKXQObject* object) {
  return main.HandleChangeClaimStatusEvent(object);
}

HRESULT MainWorkers::SummarySheetClasses(Main& main, IDispatch* templates, VARIANT* classes) {
  return KXDBDatasheetSvcs::SummarySheetClasses(main, templates, classes);
}

// Not built yet: template validation and the real-fields listing.
HRESULT MainWorkers::ValidateDatasheetObject(Main& main, IKXQObject* datasheet) {
  return KXDBDatasheetSvcs::ValidateDatasheetObject(main, datasheet);
}
HRESULT MainWorkers::ValidateLabelObject(Main& main, IKXQObject* label, LONG status) {
  return KXDBDatasheetSvcs::ValidateLabelObject(main, label, status);
}
HRESULT MainWorkers::WriteRealFieldsWithUOM(Main&, IKXQObject*, BSTR* xml) {
  if (xml != nullptr) *xml = nullptr;
  return WorkerNotImplementedYet(u"KXDBDatasheetSvcs::WriteRealFieldsWithUOM");
}

// ---- Services the triggers use ---------------------------------------------

namespace {

constexpr OLECHAR kWorkersFile[] = u"source/dataservices/kxdbdatasheetsvcs/mainworkers";

}  // namespace

HRESULT MainWorkers::GetContinuousListKey(ContinuousPageHelper& helper, BSTR* key,
                                          int32_t position, IKXQObject* page) {
  KXComException ctx = KXComException::Silent(u"Composition::GetContinuousListKey");
  try {
    CheckPointerArgument(ctx, key);
    *key = nullptr;
    const int32_t first = helper.FirstRepeatingField();
    if (position < first) {
      *key = SysAllocString(kx_ltow(position, 10).c_str());
      return S_OK;
    }
    std::vector<int32_t>& rows = helper.RowObjectIds();
    if (rows.empty() && page != nullptr) {
      IKXQAttributePtr objects;
      GetAttributeInterface(page, u"NodeObjects", objects);
      const int32_t count = objects ? GetAttributeCount(objects) : 0;
      for (int32_t i = std::max<int32_t>(1, helper.FirstRowPosition()); i <= count; ++i) {
        IKXQObjectPtr object;
        GetAttributeAsObject(objects, i, object);
        rows.push_back(object ? ObjectIdOf(object) : 0);
      }
    }
    const int32_t perRow = helper.FieldsPerRow();
    if (perRow <= 0) return S_OK;
    const int32_t row = (position - first) / perRow;
    if (row >= static_cast<int32_t>(rows.size())) return S_OK;
    *key = SysAllocString(kx_format(u"CL%ld:%ld", static_cast<long>(rows[static_cast<size_t>(row)]),
                                    static_cast<long>((position - first) % perRow))
                              .c_str());
    return S_OK;
  }
  KX_CATCH(ctx, KX_HERE(kWorkersFile))
  return ctx.Return();
}

HRESULT MainWorkers::GetOverspillAssociation(OverspillUtils& run, IKXQObject* page, bool required,
                                             VariantUtil::SafeArrayMatrix& list,
                                             IKXQTemplatePage** target) {
  KXComException ctx = KXComException::Silent(u"OverspillUtils::GetOverspillAssociation");
  try {
    return run.GetOverspillAssociation(page, required, list, target);
  }
  KX_CATCH(ctx, KX_HERE(kWorkersFile))
  return ctx.Return();
}

// Not built yet: spilling onto new overspill pages and their registration.
HRESULT MainWorkers::OverspillAttribute(OverspillUtils&, IKXQObject*, IKXQClassView*, BSTR,
                                        IKXQTemplatePage*) {
  return WorkerNotImplementedYet(u"OverspillUtils::OverspillAttribute");
}
HRESULT MainWorkers::RegisterNewPages(OverspillUtils&) {
  return WorkerNotImplementedYet(u"OverspillUtils::RegisterNewPages");
}
HRESULT MainWorkers::AddSummarySheetPage(Main& main, IKXQObject* member, IKXQObject* datasheet,
                                         IKXQTemplatePage* templatePage, bool quiet) {
  return KXDBDatasheetSvcs::AddSummarySheetPage(main, member, datasheet, templatePage, quiet);
}
HRESULT MainWorkers::AddListObject(Main& main, IKXQObject* object, IKXQObject* page,
                                   IKXQTemplatePage* templatePage, bool continuous, int32_t row,
                                   bool force) {
  return KXDBDatasheetSvcs::AddListObject(main, object, page, templatePage, continuous, row, force);
}
HRESULT MainWorkers::RemoveObjectFromPage(Main& main, IKXQObject* page, IKXQObject* object) {
  return KXDBDatasheetSvcs::RemoveObjectFromPage(main, page, object);
}

// The field writers of the page loader are not built yet: this form keeps
// the page's stored record of the field and gives it the live value.
HRESULT MainWorkers::WriteFields(PageLoadContext& context, IKXQObject* page,
                                 IKXQTemplatePage* templatePage, int32_t fieldId,
                                 IKXQAttribute* fields, BSTR* text) {
  KXComException ctx = KXComException::Silent(u"WriteFields");
  try {
    CheckPointerArgument(ctx, text);
    *text = nullptr;
    CheckPointerArgument(ctx, fields);
    _bstr_t stored;
    if (fieldId >= 1 && fieldId <= GetAttributeCount(fields)) {
      KXDBDatasheetSvcs::GetAttributeValueStringAt(fields, fieldId, stored);
    }
    if (stored.length() == 0) return S_OK;
    KXFieldData record;
    KX_CHECK(ctx, record.SelectField(stored, -1));
    IKXQTemplateFieldPtr field;
    FieldUtils::GetTemplateField(templatePage, stored, fieldId, field);
    _variant_t position;
    IKXQFieldValuePtr holder;
    if (field) {
      KX_CHECK(ctx, FieldUtils::ResolveFieldObject(page, field, context.m_overspillChain,
                                                   position.GetAddress(), &holder));
    }
    _bstr_t value;
    if (holder) FieldUtils::GetAttributeValueText(holder, position, value, nullptr);
    record.SetNumberTexts(value.length() > 0 ? static_cast<const OLECHAR*>(value) : u"", nullptr,
                          nullptr, nullptr);
    KX_CHECK(ctx, record.WriteFieldData(text, kFieldDataFull, -1));
  }
  KX_CATCH(ctx, KX_HERE(kWorkersFile))
  return ctx.Return();
}

HRESULT MainWorkers::CreateOverspillPages(Main&, IKXQObject*, LONG) { return S_FALSE; }
