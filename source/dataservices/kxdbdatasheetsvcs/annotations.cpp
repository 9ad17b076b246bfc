#include "annotations.h"

// ---------------------------------------------------------------------------
// "CreateAnnotation"

const GrammarRecord* CreateAnnotationSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Message(
      u"CreateAnnotation", {Grammar::Integer(u"PageId", PageId), Grammar::String(u"Value", Value),
                            Grammar::Integer(u"X", X), Grammar::Integer(u"Y", Y),
                            Grammar::Boolean(u"Markup", Markup)});
  return kGrammar.data();
}

HRESULT CreateAnnotationMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case PageId: return Store(m_pageId, value);
    case Value: return Store(m_value, value);
    case X: return Store(m_x, value);
    case Y: return Store(m_y, value);
    case Markup: return Store(m_markup, value);
    default: return E_INVALIDARG;
  }
}

HRESULT CreateAnnotationMessageParser::CreateAnnotation() {
  return WorkerNotImplementedYet(u"CreateAnnotationMessageParser::CreateAnnotation");
}

HRESULT Main::CreateAnnotation(const OLECHAR* request) {
  return ServeMessage<CreateAnnotationMessageParser>(*this, u"KXDBDatasheetSvcs::CreateAnnotation",
                                                     request);
}

// ---------------------------------------------------------------------------
// "SetAnnotation"

const GrammarRecord* SetAnnotationSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Message(
      u"SetAnnotation", {Grammar::Integer(u"PageId", PageId),
                         Grammar::Integer(u"AnnotationId", AnnotationId),
                         Grammar::String(u"Value", Value)});
  return kGrammar.data();
}

HRESULT SetAnnotationMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case PageId: return Store(m_pageId, value);
    case AnnotationId: return Store(m_annotationId, value);
    case Value: return Store(m_value, value);
    default: return E_INVALIDARG;
  }
}

HRESULT SetAnnotationMessageParser::SetAnnotation() {
  return WorkerNotImplementedYet(u"SetAnnotationMessageParser::SetAnnotation");
}

HRESULT Main::SetAnnotation(const OLECHAR* request) {
  return ServeMessage<SetAnnotationMessageParser>(*this, u"KXDBDatasheetSvcs::SetAnnotation",
                                                  request);
}

// ---------------------------------------------------------------------------
// "MoveAnnotation"

const GrammarRecord* MoveAnnotationSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Message(
      u"MoveAnnotation", {Grammar::Integer(u"PageId", PageId),
                          Grammar::Integer(u"AnnotationId", AnnotationId),
                          Grammar::Integer(u"X", X), Grammar::Integer(u"Y", Y)});
  return kGrammar.data();
}

HRESULT MoveAnnotationMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case PageId: return Store(m_pageId, value);
    case AnnotationId: return Store(m_annotationId, value);
    case X: return Store(m_x, value);
    case Y: return Store(m_y, value);
    default: return E_INVALIDARG;
  }
}

HRESULT MoveAnnotationMessageParser::MoveAnnotation() {
  return WorkerNotImplementedYet(u"MoveAnnotationMessageParser::MoveAnnotation");
}

HRESULT Main::MoveAnnotation(const OLECHAR* request) {
  return ServeMessage<MoveAnnotationMessageParser>(*this, u"KXDBDatasheetSvcs::MoveAnnotation",
                                                   request);
}
