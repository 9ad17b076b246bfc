// The "SetRealField" request grammar with a message parser that records
// what it receives, for the parser's tests, fuzz target and benchmark.
//
// Model: the parser keeps every value of the grammar in a field of its own
// (texts copied, empty flags kept beside the numbers) and, when the message
// element ends, calls the worker hook (if any) and returns its result. With
// no hook the worker succeeds. Values stay as they were when an attribute
// is absent, so a test sees the initial values -1 / null / false.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "saxschemaparser.h"

namespace kx::test {

// Value ids of the grammar.
enum : uint32_t {
  kSetRealTargetId = 2,
  kSetRealStatus = 3,
  kSetRealPageId = 4,
  kSetRealFieldId = 5,
  kSetRealValue = 6,
  kSetRealPublished = 7,
  kSetRealPrefix = 8,
  kSetRealPostfix = 9,
  kSetRealSubstitution = 10,
  kSetRealFormat = 11,
  kSetRealIndex = 12,
  kSetRealConfirmedClass = 13,
};

extern const GrammarRecord kSetRealFieldGrammar[];

class SetRealFieldSchema : public SAXSchemaParser {
 public:
  const GrammarRecord* GetSchema() const override { return kSetRealFieldGrammar; }
};

class SetRealFieldMessageParser : public SetRealFieldSchema {
 public:
  // Called when the message element ends; its result is the element's.
  std::function<HRESULT(SetRealFieldMessageParser&)> worker;

  HRESULT EndElement(uint32_t id) override;
  HRESULT GetChildHandler(uint32_t childId, SAXSchemaElementHandler** handler) override;
  HRESULT SetAttribute(uint32_t id, const SAXValue& value) override;

  SAXText targetId;
  int32_t status = -1;
  int32_t pageId = -1;
  bool pageIdEmpty = false;
  int32_t fieldId = -1;
  int32_t index = -1;
  SAXText value;
  SAXText prefix;
  SAXText postfix;
  SAXText substitution;
  SAXText format;
  SAXText confirmedClass;
  bool published = false;
  bool publishedEmpty = false;
  int workerRuns = 0;
  // Every id passed to SetAttribute, in order.
  std::u16string attributeLog;
};

}  // namespace kx::test
