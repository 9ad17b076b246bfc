// "CompareDocuments": one datasheet version opened with a second one (two
// datasheets of one template, or two statuses of one datasheet) as its
// comparison document.
#pragma once

#include <array>
#include <cstdint>
#include <set>

#include "documents/validatetemplates.h"
#include "loader/loaddatasheet.h"
#include "model/maincontext.h"

class CompareDocumentsSchema : public MessageParser {
 public:
  enum Id : uint32_t {
    Datasheet1 = 2,
    Datasheet2,
    TargetId,
    Status,
    DocumentId1,
    Status1,
    DocumentId2,
    Status2
  };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class CompareDocumentsMessageParser final : public CompareDocumentsSchema {
 public:
  explicit CompareDocumentsMessageParser(MainContext* main)
      : CompareDocumentsSchema(main), m_validation(main), m_loader(main) {}
  HRESULT BeginElement(uint32_t id) override;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override;
  HRESULT WorkChild(uint32_t element) override {
    return element == Datasheet1 || element == Datasheet2 ? S_OK : E_INVALIDARG;
  }
  // The invalid templates and the comparison of one message element are
  // its own.
  void ForgetEntries() override;
  // Validates both, checks that they compare, loads the first.
  HRESULT CompareDocuments();

  int32_t m_documentId1 = -1;
  int32_t m_status1 = -1;
  int32_t m_documentId2 = -1;
  int32_t m_status2 = -1;
  TemplateValidationContext m_validation;
  PageLoadContext m_loader;
  // Each comparison asked for (both documents and statuses) is answered
  // once per request: a later message element asking for it again (an
  // empty one keeps the values before it) would only write the same
  // datasheet again, a whole datasheet for a few bytes of request.
  std::set<std::array<int32_t, 4>> m_compared;
};

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT CompareDocuments(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
