#include "annotations.h"

#include "com/comutil.h"
#include "kxcomexception.h"
#include "main.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/annotations";

// The envelope shared by the three grammars: "XMLMessage" (element 0) with
// "TargetId" (2) and "Status" (3), holding the message element (1).
#define KX_ANNOTATION_ENVELOPE                         \
  {kGrammarRoot, nullptr, 0},                          \
      {kGrammarElement, u"XMLMessage", 0},             \
      {kGrammarStringAttribute, u"TargetId", 2},       \
      {kGrammarIntegerAttribute, u"Status", 3},        \
      {kGrammarChild, nullptr, 1}, {kGrammarElementEnd, nullptr, 0}

constexpr GrammarRecord kCreateAnnotationGrammar[] = {
    KX_ANNOTATION_ENVELOPE,
    {kGrammarElement, u"CreateAnnotation", 1},
    {kGrammarIntegerAttribute, u"PageId", 4},
    {kGrammarStringAttribute, u"Value", 5},
    {kGrammarIntegerAttribute, u"X", 6},
    {kGrammarIntegerAttribute, u"Y", 7},
    {kGrammarBooleanAttribute, u"Markup", 8},
    {kGrammarElementEnd, nullptr, 0},
    {kGrammarEnd, nullptr, 0},
};

constexpr GrammarRecord kSetAnnotationGrammar[] = {
    KX_ANNOTATION_ENVELOPE,
    {kGrammarElement, u"SetAnnotation", 1},
    {kGrammarIntegerAttribute, u"PageId", 4},
    {kGrammarIntegerAttribute, u"AnnotationId", 5},
    {kGrammarStringAttribute, u"Value", 6},
    {kGrammarElementEnd, nullptr, 0},
    {kGrammarEnd, nullptr, 0},
};

constexpr GrammarRecord kMoveAnnotationGrammar[] = {
    KX_ANNOTATION_ENVELOPE,
    {kGrammarElement, u"MoveAnnotation", 1},
    {kGrammarIntegerAttribute, u"PageId", 4},
    {kGrammarIntegerAttribute, u"AnnotationId", 5},
    {kGrammarIntegerAttribute, u"X", 6},
    {kGrammarIntegerAttribute, u"Y", 7},
    {kGrammarElementEnd, nullptr, 0},
    {kGrammarEnd, nullptr, 0},
};

#undef KX_ANNOTATION_ENVELOPE

// The parsers are their own handlers for the envelope and the message
// element; there are no other elements.
HRESULT SelfAsChild(SAXSchemaElementHandler* self, uint32_t childId,
                    SAXSchemaElementHandler** handler) {
  if (childId > 1) return E_INVALIDARG;
  *handler = self;
  return S_OK;
}

// The common frame of the three handlers: trace, parse with the message's
// parser on the stack (the worker runs inside the parse), report.
template <class Parser>
HRESULT RunAnnotationHandler(Main* main, const OLECHAR* traceName, const OLECHAR* request) {
  KXComException ctx(traceName);
  try {
    Parser parser(main);
    // The request text is the host's BSTR, passed on as such.
    const HRESULT hr = parser.Parse(const_cast<BSTR>(request));
    if (FAILED(hr)) {
      ctx.hr = hr;
      ctx.TakeThreadErrorInfo();
      ThrowIfFailed(ctx);
    }
    return S_OK;
  }
  KX_CATCH(ctx, KX_HERE(kFile))
  return ctx.Return();
}

}  // namespace

const GrammarRecord* CreateAnnotationSchema::GetSchema() const { return kCreateAnnotationGrammar; }
const GrammarRecord* SetAnnotationSchema::GetSchema() const { return kSetAnnotationGrammar; }
const GrammarRecord* MoveAnnotationSchema::GetSchema() const { return kMoveAnnotationGrammar; }

// ---------------------------------------------------------------------------
HRESULT CreateAnnotationMessageParser::EndElement(uint32_t id) {
  if (id == 0) return S_OK;
  if (id == 1) return CreateAnnotation();
  return E_INVALIDARG;
}

HRESULT CreateAnnotationMessageParser::GetChildHandler(uint32_t childId,
                                                       SAXSchemaElementHandler** handler) {
  return SelfAsChild(this, childId, handler);
}

HRESULT CreateAnnotationMessageParser::SetAttribute(uint32_t id, const SAXValue& value) {
  switch (id) {
    case 2: m_targetId.Assign(value.text); return S_OK;
    case 3: m_status = value.integer; return S_OK;
    case 4: m_pageId = value.integer; return S_OK;
    case 5: m_value.Assign(value.text); return S_OK;
    case 6: m_x = value.integer; return S_OK;
    case 7: m_y = value.integer; return S_OK;
    case 8: m_markup = value.boolean != 0; return S_OK;
    default: return E_INVALIDARG;
  }
}

// ---------------------------------------------------------------------------
HRESULT SetAnnotationMessageParser::EndElement(uint32_t id) {
  if (id == 0) return S_OK;
  if (id == 1) return SetAnnotation();
  return E_INVALIDARG;
}

HRESULT SetAnnotationMessageParser::GetChildHandler(uint32_t childId,
                                                    SAXSchemaElementHandler** handler) {
  return SelfAsChild(this, childId, handler);
}

HRESULT SetAnnotationMessageParser::SetAttribute(uint32_t id, const SAXValue& value) {
  switch (id) {
    case 2: m_targetId.Assign(value.text); return S_OK;
    case 3: m_status = value.integer; return S_OK;
    case 4: m_pageId = value.integer; return S_OK;
    case 5: m_annotationId = value.integer; return S_OK;
    case 6: m_value.Assign(value.text); return S_OK;
    default: return E_INVALIDARG;
  }
}

// ---------------------------------------------------------------------------
HRESULT MoveAnnotationMessageParser::EndElement(uint32_t id) {
  if (id == 0) return S_OK;
  if (id == 1) return MoveAnnotation();
  return E_INVALIDARG;
}

HRESULT MoveAnnotationMessageParser::GetChildHandler(uint32_t childId,
                                                     SAXSchemaElementHandler** handler) {
  return SelfAsChild(this, childId, handler);
}

HRESULT MoveAnnotationMessageParser::SetAttribute(uint32_t id, const SAXValue& value) {
  switch (id) {
    case 2: m_targetId.Assign(value.text); return S_OK;
    case 3: m_status = value.integer; return S_OK;
    case 4: m_pageId = value.integer; return S_OK;
    case 5: m_annotationId = value.integer; return S_OK;
    case 6: m_x = value.integer; return S_OK;
    case 7: m_y = value.integer; return S_OK;
    default: return E_INVALIDARG;
  }
}

// ---------------------------------------------------------------------------
HRESULT Main::CreateAnnotation(const OLECHAR* request) {
  return RunAnnotationHandler<CreateAnnotationMessageParser>(
      this, u"KXDBDatasheetSvcs::CreateAnnotation", request);
}

HRESULT Main::SetAnnotation(const OLECHAR* request) {
  return RunAnnotationHandler<SetAnnotationMessageParser>(
      this, u"KXDBDatasheetSvcs::SetAnnotation", request);
}

HRESULT Main::MoveAnnotation(const OLECHAR* request) {
  return RunAnnotationHandler<MoveAnnotationMessageParser>(
      this, u"KXDBDatasheetSvcs::MoveAnnotation", request);
}
