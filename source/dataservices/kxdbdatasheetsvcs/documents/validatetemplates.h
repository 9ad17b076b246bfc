// Template validation: datasheets (and labels) whose templates changed
// after they were built are brought back into line. A page whose template
// page has a new checknum is rebuilt on it, keeping what the user entered;
// a page whose template page is gone is reported (or deleted on request).
// "UpdateTemplates" validates named datasheets, "ValidateTemplates" lists
// the stale ones; opening, printing, exporting and comparing validate
// first.
#pragma once

#include <cstdint>
#include <vector>

#include "kxcomexception.h"
#include "kxstoreptrs.h"
#include "model/maincontext.h"
#include "sortedstringarray.h"

// What one request (or automation call) learns while validating.
struct TemplateValidationContext {
  explicit TemplateValidationContext(MainContext* main) : m_pMain(main) {}
  TemplateValidationContext(const TemplateValidationContext&) = delete;
  TemplateValidationContext& operator=(const TemplateValidationContext&) = delete;

  MainContext* m_pMain;
  int32_t m_updated = 0;  // datasheets validated to the end
  int32_t m_deleted = 0;  // datasheets deleted as no current page was left
  // Pages whose template page is missing are deleted rather than reported.
  bool m_delete = false;
  // One text per datasheet or label that could not be validated.
  SortedStringArray m_invalid;
  // Node objects taken off the page being rebuilt, waiting for a node.
  std::vector<IKXQObjectPtr> m_pool;
  // A page of the set being validated has lost its template page.
  bool m_invalidFound = false;
  // The page being rebuilt is a continuous list.
  bool m_continuous = false;

  // Forgets what was counted and recorded (a message element's summary is
  // its own); the "Delete" option stays.
  void ClearResults() {
    m_updated = 0;
    m_deleted = 0;
    m_invalid.RemoveAll();
  }
};

// Validates every page set of the datasheet. *done is set when it was
// validated to the end or deleted, clear when a missing template page
// stopped it (its entry is recorded). Failures come back with the thread's
// error information; the counts then stay as they were.
HRESULT ValidateDatasheetTemplates(TemplateValidationContext& context, IKXQObject* datasheet,
                                   bool* done);
// One page set (status 1 "CurrentPages" to 4 "IssuedPages") of `pages`.
HRESULT ValidatePageSet(TemplateValidationContext& context, IKXQObject* datasheet,
                        IKXQAttribute* pages, int32_t status);
// Lays a page (of any status) or a label out on `templatePage` and stamps
// `checknum`. `oldTemplatePage` (may be null) is the version the page was
// built from, which a continuous list needs to find its rows' values. A
// failure puts back every list the rebuild touched and records an entry.
HRESULT RebuildPage(TemplateValidationContext& context, IKXQObject* page,
                    IKXQTemplatePage* templatePage, const OLECHAR* checknum, int32_t status,
                    IKXQTemplatePage* oldTemplatePage);

namespace ValidateTemplates {
// The user message for the recorded entries with the verb of the action
// ("validated", "opened", ...); empty when nothing was recorded.
_bstr_t FormatInvalidTemplatesMessage(const TemplateValidationContext& context,
                                      const OLECHAR* verb);
// The text of the object's attribute `name` (selector -1); empty when it
// has none. Throws KXComException.
_bstr_t ReadText(IKXQObject* object, const OLECHAR* name);
// A text of the template read with `get`. Throws KXComException.
_bstr_t TemplateText(KXComException& ctx, IKXQTemplate* tmpl, HRESULT (IKXQTemplate::*get)(BSTR*));
}  // namespace ValidateTemplates

namespace KXDBDatasheetSvcs {
// Workers of the automation methods "ValidateDatasheet" and "ValidateLabel".
HRESULT ValidateDatasheetObject(MainContext& main, IKXQObject* datasheet);
HRESULT ValidateLabelObject(MainContext& main, IKXQObject* label, int32_t status);
// The datasheet with `id`, or E_FAIL "This datasheet no longer exists in
// the workspace..." raised at the caller's place `where` when the store
// has no such object. Throws.
void GetDatasheetById(MainContext& main, int32_t id, IKXQObjectPtr& datasheet,
                      const SourceLocation& where);
}  // namespace KXDBDatasheetSvcs

// "UpdateTemplates": "Delete" and any number of "DocumentId" texts, each
// validated as it is read; one summary alert at the end.
class UpdateTemplatesSchema : public MessageParser {
 public:
  enum Id : uint32_t { TargetId = 2, Status, Delete, DocumentId };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class UpdateTemplatesMessageParser final : public UpdateTemplatesSchema {
 public:
  explicit UpdateTemplatesMessageParser(MainContext* main)
      : UpdateTemplatesSchema(main), m_context(main) {}
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return WriteSummary(); }
  void ForgetEntries() override { m_context.ClearResults(); }
  // Validates one datasheet; its failure does not stop the request.
  HRESULT UpdateDocument(int32_t documentId);
  HRESULT WriteSummary();

  TemplateValidationContext m_context;
};

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT UpdateTemplates(MainContext& main, const OLECHAR* request);
HRESULT ValidateTemplates(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
