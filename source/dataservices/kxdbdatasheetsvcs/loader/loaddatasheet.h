// The datasheet loader and its element writers: how a datasheet, one page
// or one item of a page reaches a client as XML.
//
// A page is sent as a "Page" set-up element (its name and print set-up)
// and its contents: its fields ("Show%lsField"), units ("ShowUnit"),
// revision marks ("ShowRevision"), annotations ("ShowAnnotationField") and
// qualifier choices ("ShowQualifier"). The loader writes a whole datasheet
// into the reply of the current request; "OpenPage" and "ComparePages"
// write one page's contents; the change events build the same elements as
// text for single items.
//
// Fields are written from their stored texts on submitted, checked and
// issued pages. The live values of current pages and of comparisons come
// from the field model, which this build does not have yet: such a page is
// written without field elements.
//
// Conventions: objects are borrowed; routines return an HRESULT and leave
// the "<KXError" description as the thread's error information on failure
// (they throw nothing); out BSTRs are set to null first and receive new
// strings the caller frees. Page-level writers never let one bad item stop
// a page: its failure goes to the host application's warning operation and
// the next item follows. Everything runs on the host's apartment thread.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "com/comutil.h"
#include "com/oleauto.h"
#include "host/application.h"
#include "kxstoreptrs.h"
#include "kxxmlutils.h"

class KXComException;
struct ListFieldWalk;
class MainContext;
struct FieldRecords;
class KXFieldData;
namespace FieldUtils {
struct SettledWalk;
}

// The record one load (a datasheet, a page, an event) shares with the page
// and field writers. Lives as long as its owner; not copyable.
struct PageLoadContext {
  // `main` (not owned) must outlive the context.
  explicit PageLoadContext(MainContext* main) : m_pMain(main) {}
  PageLoadContext(const PageLoadContext&) = delete;
  PageLoadContext& operator=(const PageLoadContext&) = delete;
  // Destroys the overspill chain; releases the comparison objects.
  ~PageLoadContext();

  // Replaces the overspill chain (owned; null for none).
  void SetOverspillChain(SAFEARRAY* chain);

  // The field of `templatePage` with id `fieldId` (the first one, as the
  // template page's own lookup by id finds it), null when it has none. The
  // ids are indexed when the load asks this template page for a second
  // field, so a page of many fields does not scan its template once per
  // field.
  // Throws KXComException.
  void FindTemplateField(IKXQTemplatePage* templatePage, int32_t fieldId,
                         IKXQTemplateFieldPtr& field);

  MainContext* m_pMain;
  // The chain of pages the current page overspills from (2-D, VARIANT).
  SAFEARRAY* m_overspillChain = nullptr;
  // Asks the radio-field writer to clear an empty radio field's record.
  bool m_radio = false;
  // Set once the fields writer has looked up the comparison page.
  bool m_comparisonPageResolved = false;
  // The second datasheet of a comparison and its status (-1: none).
  IKXQObjectPtr m_comparisonDatasheet;
  IKXQObjectPtr m_comparisonPage;
  int32_t m_comparisonStatus = -1;
  // The current page is a continuous-list page analysed by `Main`'s helper.
  bool m_continuousPage = false;
  bool m_continuousFormatChecked = false;
  // Storage handed to the request context for the duration of a load; the
  // host neither reads nor writes it.
  int64_t m_loadStorage = 0;
  // Whether the field writer remembers the records it reads for a second
  // reading (false while the fields of a whole page are written).
  bool m_rememberRecords = true;
  // The writer the field writer writes each element with, made once a load
  // and left empty between fields.
  _com_ptr_t<ikxXMLStringWriter> m_fieldWriter;
  // Walks to fields of a plain page, by template field, made by the setters
  // and trigger callbacks that raised the event being written, which the
  // field writer may take instead of walking (not owned; may be null).
  const std::map<const IKXQTemplateField*, std::shared_ptr<const FieldUtils::SettledWalk>>*
      m_settledWalks = nullptr;
  // Where the field writer keeps its walk to a continuous-list field, for
  // the trigger item recorded next (not owned; null: nobody asks).
  ListFieldWalk* m_listWalk = nullptr;

 private:
  // The template page asked last, whether its field ids are indexed, and its
  // fields by id.
  IKXQTemplatePagePtr m_indexedTemplatePage;
  bool m_fieldIndexed = false;
  std::vector<std::pair<int32_t, IKXQTemplateFieldPtr>> m_fieldsById;
};

namespace KXDBDatasheetSvcs {

// Writes one version of a datasheet into the reply being built: a
// "Datasheet" element with the document's attributes holding, page by
// page, the page's set-up element and, when printing (not
// `openForEditing`) or for the first page, its contents. The caller has
// begun the reply. Invalid status: "Invalid status" before anything is
// written. Empty page slots are skipped.
HRESULT LoadDatasheet(PageLoadContext& context, IKXQObject* datasheet, int32_t status,
                      bool openForEditing);

}  // namespace KXDBDatasheetSvcs

// "Draft", "Submitted", "Checked", "Issued" for statuses 1 to 4, else
// "Unknown".
HRESULT GetStatusWatermark(int32_t status, BSTR* text);

// The page's "Page" set-up element. A null page: E_POINTER.
HRESULT WritePageSetup(IKXQObject* page, BSTR* text);
// The page's contents into the reply: fields, units, revisions,
// annotations, qualifiers; a current page opened for editing gets its
// "Field" trigger.
HRESULT WritePageContents(PageLoadContext& context, IKXQObject* page, int32_t status,
                          bool openForEditing);

// Continuous-list preparation of a page for the writers (`Main`'s helper).
HRESULT InitializeContinuousPage(PageLoadContext& context, IKXQTemplatePage* templatePage,
                                 IKXQObject* page);
HRESULT InitializeContinuousPageOnce(PageLoadContext& context, IKXQTemplatePage* templatePage);
// Replaces the context's overspill chain by the page's (null when none or
// for an object that is not a page) and returns it, still owned by the
// context. Throws KXComException.
SAFEARRAY* GetPageOverspillChain(PageLoadContext& context, IKXQObject* page);
// Whether the page that holds `attribute` was made from another version of
// its template than `page` ("Checknum" texts compared without regard to
// case, both missing equal).
HRESULT IsTemplateChecknumChanged(PageLoadContext& context, IKXQObject* page,
                                  IKXQAttribute* attribute, int32_t status, bool* changed);

// The page-level writers, each sending its elements to the response.
HRESULT WritePageFields(PageLoadContext& context, IKXQObject* page, IKXQTemplatePage* templatePage,
                        int32_t status);
HRESULT WritePageUnits(PageLoadContext& context, IKXQObject* page, IKXQTemplatePage* templatePage);
HRESULT WritePageRevisions(PageLoadContext& context, IKXQObject* page,
                           IKXQTemplatePage* templatePage);
HRESULT WritePageAnnotations(PageLoadContext& context, IKXQObject* page, int32_t status);
HRESULT WritePageQualifiers(PageLoadContext& context, IKXQObject* page, int32_t status);

// The field writers. `WriteField`: the show element of the field at 1-based
// `position` ("Show%lsField" with the page's id), with its live value on a
// current page (status 1) or in a comparison, its presentation and its
// status word (0x100 when it differs from `otherFields`' record, the issued
// copy's or the compared page's; `templateChanged`: that record is found by
// field id and row wherever it stands). Without `alwaysWrite` a field that
// carries nothing new gives no element (*out null). `records` (may be
// null): the records to read the field and the other version into, reused
// by a writer of many fields (their parsers are made once).
HRESULT WriteField(PageLoadContext& context, IKXQObject* page, IKXQTemplatePage* templatePage,
                   int32_t position, int32_t status, bool alwaysWrite, IKXQAttribute* fields,
                   IKXQAttribute* otherFields, bool templateChanged, BSTR* out,
                   FieldRecords* records = nullptr);
// The stored form of the field at `position` with its live value (written
// after a change of its format or properties).
HRESULT WriteFieldValueByType(PageLoadContext& context, IKXQObject* page,
                              IKXQTemplatePage* templatePage, int32_t position,
                              IKXQAttribute* fields, BSTR* out);
// The record of the field at `position` as the page writer builds it
// before comparing it with another version: its stored presentation (on a
// list, its column's record, as every row shows it) with its live value
// and number texts (`record`, fresh). The field-properties
// reply compares it with the issued copy's record as the page does.
HRESULT ReadCurrentFieldRecord(PageLoadContext& context, IKXQObject* page,
                               IKXQTemplatePage* templatePage, int32_t position,
                               IKXQAttribute* fields, KXFieldData& record);
// The full record of the field at `position` against the issued copy.
HRESULT WriteFields(PageLoadContext& context, IKXQObject* page, IKXQTemplatePage* templatePage,
                    int32_t position, IKXQAttribute* fields, BSTR* out);
// The real field at `position` of a current page as the page shows it:
// its template field, its value text (empty when it has none), the page's
// unit text for it (empty when it has no unit) and the value holder and
// position its route reaches (null when none). S_FALSE when the position
// holds no real field.
struct LiveRealField {
  IKXQTemplateFieldPtr field;
  _bstr_t value;
  _bstr_t unit;
  IKXQFieldValuePtr holder;
  _variant_t position;
};
HRESULT ReadRealFieldValue(PageLoadContext& context, IKXQObject* page,
                           IKXQTemplatePage* templatePage, int32_t position, IKXQAttribute* fields,
                           LiveRealField& out);
// The position in `attribute` of the record of field `nodeId` at `row` (-1:
// any row), looked for at `position` first; -1 when there is none. A null
// attribute: E_POINTER (raised).
int32_t ReadFieldDataAt(PageLoadContext& context, int32_t nodeId, int32_t row, int32_t position,
                        IKXQAttribute* attribute);

// The element writers: one element as text in *out.
// "ShowUnit" of 0-based unit field `unit`; `unitText` (may be null) is the
// page's stored unit, else the unit definition's first unit is shown.
HRESULT WriteShowUnit(IKXQObject* page, IKXQTemplatePage* templatePage, int32_t unit, BSTR unitText,
                      BSTR* out);
// "ShowRevision" of 0-based revision position `revision`.
HRESULT WriteShowRevision(PageLoadContext& context, IKXQObject* page,
                          IKXQTemplatePage* templatePage, int32_t revision, BSTR revisionText,
                          BSTR* out);
// The show element of a stored annotation, marked changed (state 0x100)
// against `otherText` (the issued copy's, may be null) unless `status` is 4.
// *out stays null for an empty text.
HRESULT WriteAnnotationField(IKXQObject* page, IKXQApplication* application, int32_t status,
                             BSTR text, BSTR otherText, BSTR* out);
HRESULT WriteShowQualifier(IKXQObject* page, int32_t status, int32_t qualifier, int32_t value,
                           BSTR* out);

// Helpers the change events share with the writers (objects borrowed).
namespace loaddatasheet {

// Hands the failure of one item (the thread's error description, else the
// system text of `hr`) to the application's warning operation and clears
// the thread's error information. `application` may be null.
void ReportItemFailure(IKXQApplication* application, HRESULT hr);
// A new XML string writer without line breaks.
_com_ptr_t<ikxXMLStringWriter> MakeWriter(KXComException& ctx);

// The value of entry `index` of a page's "Qualifiers" as an integer (0 for
// no value). Raises "Cannot coerce attribute to an integer" for another
// value.
int32_t ReadQualifierValue(KXComException& ctx, IKXQAttribute* qualifiers, int32_t index);

// The show element of a page's stored annotation `text`, compared with the
// annotation of the same id on `issued` (may be null). Failures come back as
// an HRESULT with the thread's error information.
HRESULT WriteStoredAnnotation(IKXQObject* page, IKXQObject* issued, IKXQApplication* application,
                              int32_t status, BSTR text, BSTR* out);

}  // namespace loaddatasheet
