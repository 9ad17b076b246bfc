// The messages "ShowFieldCase", "HideFieldCase" and "CopyFieldCase": the
// case a field of a page shows. The grammars, the workers and the handlers
// are in fieldcases.cpp.
#pragma once

#include <cstdint>

#include "fieldmodel/fieldaddress.h"
#include "model/maincontext.h"

class ShowFieldCaseSchema : public MessageParser {
 public:
  enum Id : uint32_t { PageId = 4, FieldId, Index, CaseId };  // 2, 3: the envelope
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class ShowFieldCaseMessageParser final : public ShowFieldCaseSchema, public FieldAddress {
 public:
  using ShowFieldCaseSchema::ShowFieldCaseSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return ShowFieldCase(); }
  // Without "CaseId": the object behind the field, and the question when
  // the field follows the datasheet's case; with it: the field's new case.
  HRESULT ShowFieldCase();

  int32_t m_caseId = -1;
  bool m_hasCaseId = false;
};

class HideFieldCaseSchema : public MessageParser {
 public:
  enum Id : uint32_t { PageId = 4, FieldId };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class HideFieldCaseMessageParser final : public HideFieldCaseSchema {
 public:
  using HideFieldCaseSchema::HideFieldCaseSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return HideFieldCase(); }
  // Takes the field's own case away.
  HRESULT HideFieldCase();

  int32_t m_pageId = -1;
  int32_t m_fieldId = -1;
};

class CopyFieldCaseSchema : public MessageParser {
 public:
  enum Id : uint32_t { PageId = 4, FieldId, CaseId };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class CopyFieldCaseMessageParser final : public CopyFieldCaseSchema {
 public:
  using CopyFieldCaseSchema::CopyFieldCaseSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return CopyFieldCase(); }
  // Copies the values of every field of the field's case slot from case
  // "CaseId" into the case the field shows.
  HRESULT CopyFieldCase();

  int32_t m_pageId = -1;
  int32_t m_fieldId = -1;
  int32_t m_caseId = -1;
  bool m_hasCaseId = false;
};

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT ShowFieldCase(MainContext& main, const OLECHAR* request);
HRESULT HideFieldCase(MainContext& main, const OLECHAR* request);
HRESULT CopyFieldCase(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
