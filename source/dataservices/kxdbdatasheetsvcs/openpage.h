// The read-only page messages: "OpenPage" and "ListPageObjects" (a bare
// page id as request text) and "ComparePages" (a page written against a
// second document version).
#pragma once

#include <cstdint>

#include "kxstoreptrs.h"
#include "main.h"

struct IKXQApplication;
struct PageLoadContext;

class ComparePagesSchema : public MessageParser {
 public:
  enum Id : uint32_t { PageId = 4, DocumentId2, Status2 };  // 2, 3: the envelope
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class ComparePagesMessageParser final : public ComparePagesSchema {
 public:
  using ComparePagesSchema::ComparePagesSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return ComparePages(); }
  // The worker; reports its own failures and throws nothing.
  HRESULT ComparePages();

  int32_t m_pageId = -1;       // "PageId"
  int32_t m_documentId2 = -1;  // "DocumentId2"
  int32_t m_status2 = -1;      // "Status2"
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
