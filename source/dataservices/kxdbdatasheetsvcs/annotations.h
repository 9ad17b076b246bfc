// Request parsing of the annotation messages "CreateAnnotation",
// "SetAnnotation" and "MoveAnnotation": for each, the grammar (the schema
// class) and the message parser that collects the request's attributes and
// runs the message's worker when the message element ends.
//
// A parser lives on its handler's stack for one request. Its fields keep
// their initial values until the matching attributes arrive and are never
// reset: every message element that ends runs the worker with the values
// gathered so far. Texts are owned and null until given.
#pragma once

#include <cstdint>

#include "saxschemaparser.h"

class Main;

class CreateAnnotationSchema : public SAXSchemaParser {
 public:
  const GrammarRecord* GetSchema() const override;
};

class CreateAnnotationMessageParser : public CreateAnnotationSchema {
 public:
  // `main` is not owned and must outlive the parser.
  explicit CreateAnnotationMessageParser(Main* main) : m_pMain(main) {}

  HRESULT EndElement(uint32_t id) override;
  HRESULT GetChildHandler(uint32_t childId, SAXSchemaElementHandler** handler) override;
  HRESULT SetAttribute(uint32_t id, const SAXValue& value) override;

  // The worker: creates the annotation. Reads the fields below; reports its
  // own failures (failed HRESULT, thread error information) and throws
  // nothing.
  HRESULT CreateAnnotation();

  Main* m_pMain;
  SAXText m_targetId;        // "TargetId" (2)
  int32_t m_status = -1;     // "Status" (3)
  int32_t m_pageId = -1;     // "PageId" (4)
  SAXText m_value;           // "Value" (5)
  int32_t m_x = -1;          // "X" (6)
  int32_t m_y = -1;          // "Y" (7)
  bool m_markup = false;     // "Markup" (8)
};

class SetAnnotationSchema : public SAXSchemaParser {
 public:
  const GrammarRecord* GetSchema() const override;
};

class SetAnnotationMessageParser : public SetAnnotationSchema {
 public:
  explicit SetAnnotationMessageParser(Main* main) : m_pMain(main) {}

  HRESULT EndElement(uint32_t id) override;
  HRESULT GetChildHandler(uint32_t childId, SAXSchemaElementHandler** handler) override;
  HRESULT SetAttribute(uint32_t id, const SAXValue& value) override;

  // The worker: replaces the annotation's text. As CreateAnnotation.
  HRESULT SetAnnotation();

  Main* m_pMain;
  int32_t m_annotationId = -1;  // "AnnotationId" (5)
  int32_t m_status = -1;        // "Status" (3)
  int32_t m_pageId = -1;        // "PageId" (4)
  SAXText m_targetId;           // "TargetId" (2)
  SAXText m_value;              // "Value" (6)
};

class MoveAnnotationSchema : public SAXSchemaParser {
 public:
  const GrammarRecord* GetSchema() const override;
};

class MoveAnnotationMessageParser : public MoveAnnotationSchema {
 public:
  explicit MoveAnnotationMessageParser(Main* main) : m_pMain(main) {}

  HRESULT EndElement(uint32_t id) override;
  HRESULT GetChildHandler(uint32_t childId, SAXSchemaElementHandler** handler) override;
  HRESULT SetAttribute(uint32_t id, const SAXValue& value) override;

  // The worker: moves the annotation. As CreateAnnotation.
  HRESULT MoveAnnotation();

  Main* m_pMain;
  int32_t m_annotationId = -1;  // "AnnotationId" (5)
  int32_t m_x = -1;             // "X" (6)
  int32_t m_y = -1;             // "Y" (7)
  int32_t m_status = -1;        // "Status" (3)
  int32_t m_pageId = -1;        // "PageId" (4)
  SAXText m_targetId;           // "TargetId" (2)
};
