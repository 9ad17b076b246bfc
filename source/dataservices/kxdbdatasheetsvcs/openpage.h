// The read-only page messages: "OpenPage" and "ListPageObjects" (a bare
// page id as request text) and "ComparePages" (a page written against a
// second document version).
#pragma once

#include <cstdint>

#include "kxstoreptrs.h"
#include "saxschemaparser.h"

class Main;
struct IKXQApplication;
struct PageLoadContext;

class ComparePagesSchema : public SAXSchemaParser {
 public:
  const GrammarRecord* GetSchema() const override;
};

class ComparePagesMessageParser : public ComparePagesSchema {
 public:
  // `main` is not owned and must outlive the parser.
  explicit ComparePagesMessageParser(Main* main) : m_pMain(main) {}

  HRESULT EndElement(uint32_t id) override;
  HRESULT GetChildHandler(uint32_t childId, SAXSchemaElementHandler** handler) override;
  HRESULT SetAttribute(uint32_t id, const SAXValue& value) override;

  // The worker; reports its own failures and throws nothing.
  HRESULT ComparePages();

  Main* m_pMain;
  int32_t m_pageId = -1;
  int32_t m_documentId2 = -1;
  int32_t m_status = -1;
  int32_t m_status2 = -1;
  SAXText m_targetId;
};

namespace KXDBDatasheetSvcs {

// Makes `document2` (read with `status2`) the comparison partner of the
// load when its template version equals that of `document` (read with
// `status`); a missing template on either side leaves the load without one.
// Throws KXComException.
void SetComparisonPartner(PageLoadContext& context, IKXQApplication* application,
                          IKXQObject* document, int32_t status, IKXQObject* document2,
                          int32_t status2);

}  // namespace KXDBDatasheetSvcs
