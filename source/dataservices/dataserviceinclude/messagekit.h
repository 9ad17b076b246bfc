// The message kit: the one way a message of a data service is written.
//
// A message is
// - a schema class `<Message>Schema` on the module's message-parser base:
//   the grammar's value ids as an enum and `GetSchema`, which returns a
//   static table written with the `Grammar` helpers below (ids 2 and 3,
//   "TargetId" and "Status", belong to the envelope unless the grammar
//   numbers them otherwise);
// - a message parser `<Message>MessageParser` on the schema class: the
//   message's values, stored by id in `SetValue`, and the worker, run by
//   `Work` when the message element ends (and by `WorkChild` when a
//   repeated child element ends, once per child). The base keeps the
//   module and the envelope values; a parser that collects entries (lists
//   of children or text values, sets that find their repeats, counts for
//   its reply) drops them in `ForgetEntries`, which the kit calls after
//   each message element's worker;
// - a handler, one line through `ServeMessage`: trace, parse with the
//   worker running inside the parse, report a failure as the handler's
//   HRESULT with its "<KXError" chain.
//
// source/README.md shows a whole message written this way.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "kxcomexception.h"
#include "saxschemaparser.h"

class HostConnection;

namespace Grammar {

using Record = GrammarRecord;

// Attributes of the enclosing element, by value type.
constexpr Record String(const OLECHAR* name, uint32_t id) {
  return {kGrammarStringAttribute, name, id};
}
constexpr Record Real(const OLECHAR* name, uint32_t id) {
  return {kGrammarRealAttribute, name, id};
}
constexpr Record Integer(const OLECHAR* name, uint32_t id) {
  return {kGrammarIntegerAttribute, name, id};
}
constexpr Record Boolean(const OLECHAR* name, uint32_t id) {
  return {kGrammarBooleanAttribute, name, id};
}
// An allowed child of the enclosing element: an element id or the value id
// of a text-value element.
constexpr Record Child(uint32_t id) { return {kGrammarChild, nullptr, id}; }

// Elements whose text is the value, by value type; they may stand any
// number of times where a parent lists them as child.
constexpr std::array<Record, 1> StringElement(const OLECHAR* name, uint32_t id) {
  return {{{kGrammarStringElement, name, id}}};
}
constexpr std::array<Record, 1> RealElement(const OLECHAR* name, uint32_t id) {
  return {{{kGrammarRealElement, name, id}}};
}
constexpr std::array<Record, 1> IntegerElement(const OLECHAR* name, uint32_t id) {
  return {{{kGrammarIntegerElement, name, id}}};
}
constexpr std::array<Record, 1> BooleanElement(const OLECHAR* name, uint32_t id) {
  return {{{kGrammarBooleanElement, name, id}}};
}

// An element definition: the element, its attributes and allowed children.
template <size_t N>
constexpr std::array<Record, N + 2> Element(const OLECHAR* name, uint32_t id,
                                            const Record (&body)[N]) {
  std::array<Record, N + 2> out{};
  out[0] = {kGrammarElement, name, id};
  for (size_t i = 0; i < N; ++i) out[i + 1] = body[i];
  out[N + 1] = {kGrammarElementEnd, nullptr, 0};
  return out;
}
// The same with a body shared by several elements.
template <size_t N>
constexpr std::array<Record, N + 2> Element(const OLECHAR* name, uint32_t id,
                                            const std::array<Record, N>& body) {
  std::array<Record, N + 2> out{};
  out[0] = {kGrammarElement, name, id};
  for (size_t i = 0; i < N; ++i) out[i + 1] = body[i];
  out[N + 1] = {kGrammarElementEnd, nullptr, 0};
  return out;
}
constexpr std::array<Record, 2> Element(const OLECHAR* name, uint32_t id) {
  return {{{kGrammarElement, name, id}, {kGrammarElementEnd, nullptr, 0}}};
}

// The request envelope: "XMLMessage" (element 0) with "TargetId" (string)
// and "Status" (integer), holding the message element (1).
constexpr std::array<Record, 5> Envelope(uint32_t targetId = 2, uint32_t status = 3) {
  return Element(u"XMLMessage", 0,
                 {String(u"TargetId", targetId), Integer(u"Status", status), Child(1)});
}
// The envelope of a grammar that serves several messages, each message
// element a further allowed child (ids 1, 2, ...).
template <size_t N>
constexpr std::array<Record, N + 4> Envelope(uint32_t targetId, uint32_t status,
                                             const uint32_t (&messages)[N]) {
  std::array<Record, N + 4> out{};
  out[0] = {kGrammarElement, u"XMLMessage", 0};
  out[1] = String(u"TargetId", targetId);
  out[2] = Integer(u"Status", status);
  for (size_t i = 0; i < N; ++i) out[i + 3] = Child(messages[i]);
  out[N + 3] = {kGrammarElementEnd, nullptr, 0};
  return out;
}

// A whole table: record 0, the parts in order, the end record.
template <size_t... N>
constexpr std::array<Record, (N + ... + 0) + 2> Table(const std::array<Record, N>&... parts) {
  std::array<Record, (N + ... + 0) + 2> out{};
  size_t at = 0;
  out[at++] = {kGrammarRoot, nullptr, 0};
  (
      [&] {
        for (const Record& record : parts) out[at++] = record;
      }(),
      ...);
  out[at] = {kGrammarEnd, nullptr, 0};
  return out;
}

// The common grammar: the envelope (ids 0, 2, 3) and one message element
// (id 1) whose attributes are `body`.
template <size_t N>
constexpr auto Message(const OLECHAR* name, const Record (&body)[N]) {
  return Table(Envelope(), Element(name, 1, body));
}
// The same with attributes put together elsewhere.
template <size_t N>
constexpr auto Message(const OLECHAR* name, const std::array<Record, N>& body) {
  return Table(Envelope(), Element(name, 1, body));
}

}  // namespace Grammar

// Store helpers for `SetValue`: each takes the value by the field's type
// and returns S_OK. A null text leaves a text field unset.
[[nodiscard]] inline HRESULT Store(SAXText& field, const SAXValue& value) {
  field.Assign(value.text);
  return S_OK;
}
[[nodiscard]] inline HRESULT Store(int32_t& field, const SAXValue& value) {
  field = value.integer;
  return S_OK;
}
[[nodiscard]] inline HRESULT Store(double& field, const SAXValue& value) {
  field = value.real;
  return S_OK;
}
[[nodiscard]] inline HRESULT Store(bool& field, const SAXValue& value) {
  field = value.boolean != 0;
  return S_OK;
}

namespace MessageKit {

// True when `grammar` defines an element (kind 2) with id `id`.
bool HasElement(const GrammarRecord* grammar, uint32_t id);
// The value ids of the envelope's "TargetId" and "Status" in `grammar`
// (none: an id no value has).
struct EnvelopeIds {
  uint32_t targetId = UINT32_MAX;
  uint32_t status = UINT32_MAX;
};
EnvelopeIds FindEnvelope(const GrammarRecord* grammar);
// True when `grammar`'s envelope (element 0) lists element `id` as a child:
// a message element, whose end runs a message's worker.
bool IsMessageElement(const GrammarRecord* grammar, uint32_t id);

// The object id that a message without a grammar takes as its whole text
// (a page or a datasheet), read as the grammars read their integers: the
// decimal number that begins the text, up to the first other character; a
// text in which none begins, a hexadecimal one or one beyond 32 bits is
// refused naming `what` ("the page id"), where reading it as id 0 or as a
// clamped id would name no object or another one. An empty text is 0; a
// line end after the number is not part of the text.
int32_t ReadBareId(const OLECHAR* text, const OLECHAR* what);

inline constexpr OLECHAR kFile[] = u"source/dataservices/dataserviceinclude/messagekit";

// The source file of the message handler being served on this thread, as
// its row of the data-service map names it: where a failure caught at the
// handler's frame is located. The kit's own file outside a handler.
const OLECHAR* HandlerFile();

// Names the handler's file for one handler call (the dispatcher's); the
// file named before is put back at the end, so calls may nest.
class HandlerFileScope {
 public:
  explicit HandlerFileScope(const OLECHAR* file);
  ~HandlerFileScope();
  HandlerFileScope(const HandlerFileScope&) = delete;
  HandlerFileScope& operator=(const HandlerFileScope&) = delete;

 private:
  const OLECHAR* m_previous;
};

}  // namespace MessageKit

// The base of every message parser. `Module` is the data service's main
// class; the parser calls `module->RunWorker(*this, element)` when an
// element of its grammar ends, so that the module decides which worker runs
// (its own by default, a recording one in tests).
//
// A message's schema class (named after the message with the suffix
// `Schema`) derives from this base, holds the grammar's value ids as an
// enum and overrides `GetSchema`; the message parser (suffix
// `MessageParser`) derives from the schema class and holds the values and
// the worker.
//
// Every element of the grammar is handled by the parser itself; names are
// compared case-sensitively and unknown elements and attributes are
// skipped. Integers are strict (`SAXSchemaParser::SetStrictIntegers`): an
// id or row that is no number fails the request before its worker runs,
// where reading it as 0 would act on another object. Values keep their
// initial values until given and are never reset by the kit: a request
// holding the message element twice runs the second worker with what the
// first element gave, except the entries that `ForgetEntries` drops.
template <class Module>
class KXMessageParser : public SAXSchemaParser {
 public:
  // `module` is not owned and outlives the parser.
  explicit KXMessageParser(Module* module) : m_pMain(module) { SetStrictIntegers(true); }

  // The message's values other than the envelope's, by value id, from
  // attributes and text-value elements alike: S_OK, or E_INVALIDARG for
  // an id the parser does not keep.
  [[nodiscard]] virtual HRESULT SetValue(uint32_t id, const SAXValue& value) = 0;
  // The worker: runs when the message element ends. It reports its own
  // failures (failed HRESULT, thread error information) and throws
  // nothing; its result is the element's, so a failure ends the parse.
  [[nodiscard]] virtual HRESULT Work() = 0;
  // The worker of another element of the grammar (a repeated child, a
  // second message element): runs each time such an element ends.
  [[nodiscard]] virtual HRESULT WorkChild(uint32_t element) {
    (void)element;
    return E_INVALIDARG;
  }
  // Runs after the worker of each message element succeeded: the entries
  // that element brought belong to its run and are dropped here, so that a
  // later message element of the request is answered for its own entries
  // alone and does not work again over everything collected before it.
  // Attribute values keep theirs.
  virtual void ForgetEntries() {}
  // The worker of `element`, as the module's default runs it.
  [[nodiscard]] HRESULT RunWork(uint32_t element) {
    return element == 1 ? Work() : WorkChild(element);
  }

  // Where the worker writes its reply.
  HostConnection& Reply() { return *m_pMain; }

  [[nodiscard]] HRESULT GetChildHandler(uint32_t childId,
                                        SAXSchemaElementHandler** handler) override {
    if (childId > 1 && !MessageKit::HasElement(GetSchema(), childId)) return E_INVALIDARG;
    *handler = this;
    return S_OK;
  }
  [[nodiscard]] HRESULT EndElement(uint32_t id) override {
    if (id == 0) return S_OK;
    if (id > 1 && !MessageKit::HasElement(GetSchema(), id)) return E_INVALIDARG;
    const HRESULT hr = m_pMain->RunWorker(*this, id);
    if (SUCCEEDED(hr) && hr != S_OK) m_workResult = hr;
    if (SUCCEEDED(hr) && MessageKit::IsMessageElement(GetSchema(), id)) ForgetEntries();
    return hr;
  }
  [[nodiscard]] HRESULT SetAttribute(uint32_t id, const SAXValue& value) override {
    if (m_envelope.targetId == 0) m_envelope = MessageKit::FindEnvelope(GetSchema());
    if (id == m_envelope.targetId) return Store(m_targetId, value);
    if (id == m_envelope.status) return Store(m_status, value);
    return SetValue(id, value);
  }
  [[nodiscard]] HRESULT SetElementValue(uint32_t id, const SAXValue& value) override {
    return SetValue(id, value);
  }

  Module* const m_pMain;
  SAXText m_targetId;     // "TargetId"
  int32_t m_status = -1;  // "Status"
  // A success other than S_OK that a worker answered (S_FALSE: done, but
  // not as asked), the handler's answer; S_OK otherwise.
  HRESULT m_workResult = S_OK;

 private:
  MessageKit::EnvelopeIds m_envelope{0, 0};  // found at the first attribute
};

// Where a frame departs from a message handler's.
struct FrameOptions {
  // The "File" of failures caught in the frame; none: the file of the
  // message handler being served (a handler's own frame).
  const OLECHAR* file = nullptr;
  // A failure the work returns is answered as it is, with the error
  // information it left, instead of being chained under the trace name.
  bool passReturnedFailure = false;
  // An exception of unknown type becomes E_UNEXPECTED with a "<KXError"
  // description here, as at an outermost boundary, instead of being traced
  // and rethrown.
  bool boundary = false;
  // No entry trace line: the trace name still names the method in the
  // failure's "<KXError" chain (an inner step of a traced request).
  bool silent = false;
  // A failure is forgotten on purpose (a test that answers "no" when the
  // store fails): the frame answers S_OK and leaves no error information.
  bool absorbFailure = false;
  // The severity of the entry trace line.
  int32_t severity = 1;
};

// The "File" of failures caught in a frame with `options`.
inline const OLECHAR* FrameFile(const FrameOptions& options) {
  return options.file != nullptr ? options.file : MessageKit::HandlerFile();
}

// The frame of every message handler and worker: opens the error context
// under `traceName` (the entry trace line unless `options.silent`; null: a
// silent context that names no method), runs `work(ctx)` and answers its
// success code (S_OK, or another such as S_FALSE), or the failure (thrown,
// or returned by `work` with the thread's error information) with its
// "<KXError" chain as the thread's error information. For a message
// without grammar `work` is the handler's body. A failure caught here is
// located at `line`: the line that opens the frame, in the caller's own
// file (the frame's "File").
template <class Work>
[[nodiscard]] HRESULT ServeRequest(const OLECHAR* traceName, const FrameOptions& options,
                                   Work&& work, int32_t line = __builtin_LINE()) {
  KXComException ctx = options.silent ? KXComException::Silent(traceName)
                                      : KXComException(traceName, options.severity);
  try {
    const HRESULT hr = work(ctx);
    if (!options.passReturnedFailure) KX_CHECK(ctx, hr);
    return hr;
  } catch (const KXComException& caught) {
    HandleKXComException(ctx, SourceLocation{FrameFile(options), line}, caught);
  } catch (const _com_error& caught) {
    HandleComError(ctx, SourceLocation{FrameFile(options), line}, caught);
  } catch (...) {
    const SourceLocation at{FrameFile(options), line};
    if (!options.boundary) HandleUnknownException(ctx, at);
    HandleUnknownExceptionAtBoundary(ctx, at);
  }
  if (options.absorbFailure) ctx.Absorb();
  return ctx.Return();
}
template <class Work>
[[nodiscard]] HRESULT ServeRequest(const OLECHAR* traceName, Work&& work,
                                   int32_t line = __builtin_LINE()) {
  return ServeRequest(traceName, FrameOptions{}, work, line);
}

// A privilege a message needs: `held(module, name)` tells whether the user
// holds it; without it the request is refused with `refusal` (E_FAIL,
// raised at `where`) before anything is read. No `held`: no privilege
// needed.
template <class Module>
struct MessagePrivilege {
  const OLECHAR* name = nullptr;
  const OLECHAR* refusal = nullptr;
  SourceLocation where{};
  bool (*held)(Module& module, const OLECHAR* name) = nullptr;
};

// A message handler's whole body: parses `request` (the host's BSTR, null
// is empty) with a `Parser` built on `module` in the frame above, once
// `privilege` (if any) is found held; the worker runs inside the parse; a
// worker's success other than S_OK is the handler's answer.
template <class Parser, class Module>
[[nodiscard]] HRESULT ServeMessage(Module& module, const OLECHAR* traceName, const OLECHAR* request,
                                   const MessagePrivilege<Module>& privilege = {},
                                   int32_t line = __builtin_LINE()) {
  const auto parse = [&](KXComException& ctx) {
    if (privilege.held != nullptr && !privilege.held(module, privilege.name)) {
      ThrowKXComExceptionHrAt(ctx, privilege.where, E_FAIL, privilege.refusal);
    }
    Parser parser(&module);
    // The request text is the host's BSTR, passed on as such.
    const HRESULT hr = parser.Parse(const_cast<BSTR>(request));
    return FAILED(hr) ? hr : parser.m_workResult;
  };
  // The handler's line, where its frame is opened.
  return ServeRequest(traceName, parse, line);
}
