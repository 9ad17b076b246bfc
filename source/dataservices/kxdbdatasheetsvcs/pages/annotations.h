// The annotation messages "CreateAnnotation", "SetAnnotation" and
// "MoveAnnotation": for each, the schema (the value ids of its grammar) and
// the message parser with its worker. The grammars, the workers and the
// handlers (KXDBDatasheetSvcs::<message name>) are in annotations.cpp.
//
// Every value arrives as an attribute; values not given keep the initial
// values below (texts null).
#pragma once

#include <cstdint>

#include "model/maincontext.h"

class CreateAnnotationSchema : public MessageParser {
 public:
  enum Id : uint32_t { PageId = 4, Value, X, Y, Markup };  // 2, 3: the envelope
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class CreateAnnotationMessageParser final : public CreateAnnotationSchema {
 public:
  using CreateAnnotationSchema::CreateAnnotationSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return CreateAnnotation(); }
  // The worker: creates the annotation (and its mark-up copies).
  HRESULT CreateAnnotation();
  // Appends the annotation `id` to the page's "Annotations".
  HRESULT CreatePageAnnotation(IKXQObject* page, int32_t status, int32_t id);

  int32_t m_pageId = -1;
  SAXText m_value;
  int32_t m_x = -1;
  int32_t m_y = -1;
  bool m_markup = false;
};

class SetAnnotationSchema : public MessageParser {
 public:
  enum Id : uint32_t { PageId = 4, AnnotationId, Value };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class SetAnnotationMessageParser final : public SetAnnotationSchema {
 public:
  using SetAnnotationSchema::SetAnnotationSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return SetAnnotation(); }
  // The worker: replaces the annotation's text; an empty one deletes it.
  HRESULT SetAnnotation();
  HRESULT SetPageAnnotation(IKXQObject* page, int32_t status, int32_t id, bool* markup);

  int32_t m_pageId = -1;
  int32_t m_annotationId = -1;
  SAXText m_value;
};

class MoveAnnotationSchema : public MessageParser {
 public:
  enum Id : uint32_t { PageId = 4, AnnotationId, X, Y };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class MoveAnnotationMessageParser final : public MoveAnnotationSchema {
 public:
  using MoveAnnotationSchema::MoveAnnotationSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return MoveAnnotation(); }
  // The worker: moves the annotation.
  HRESULT MoveAnnotation();
  HRESULT MovePageAnnotation(IKXQObject* page, int32_t status, int32_t id, bool* markup);

  int32_t m_pageId = -1;
  int32_t m_annotationId = -1;
  int32_t m_x = -1;
  int32_t m_y = -1;
};

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT CreateAnnotation(MainContext& main, const OLECHAR* request);
HRESULT SetAnnotation(MainContext& main, const OLECHAR* request);
HRESULT MoveAnnotation(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
