#include <new>
#include <string>
#include <utility>

#include "msxml/internal/reader.h"
#include "msxml/internal/utf.h"

namespace kx::msxml {

namespace {

std::u16string Widen(const char* text) {
  Utf16Buffer b;
  b.AppendUtf8z(text);
  return std::u16string(b.data(), b.size());
}

}  // namespace

// Every entry point catches what the handlers or our own conversions throw:
// nothing may unwind through expat's C frames.
struct ParseRun::Callbacks {
  template <class F>
  static void Guard(void* data, F&& f) noexcept {
    static_cast<ParseRun*>(data)->Guarded(std::forward<F>(f));
  }

  static void XMLCALL StartElement(void* data, const XML_Char* name, const XML_Char** atts) {
    Guard(data, [&](ParseRun& run) {
      run.Flush();
      if (FAILED(run.failure_)) return;
      if (++run.depth_ > run.limits_.max_depth) {
        run.Fatal(KXSAX_E_TOO_DEEP, u"Elements are nested more than " +
                                        Widen(std::to_string(run.limits_.max_depth).c_str()) +
                                        u" levels deep");
        return;
      }
      if (!run.content_) return;
      run.name_.clear();
      run.name_.AppendUtf8z(name);
      run.attributes_->Load(atts);
      const int n = static_cast<int>(run.name_.size());
      run.Check(run.content_->startElement(u"", 0, run.name_.c_str(), n, run.name_.c_str(), n,
                                           run.attributes_));
    });
  }

  static void XMLCALL EndElement(void* data, const XML_Char* name) {
    Guard(data, [&](ParseRun& run) {
      run.Flush();
      if (FAILED(run.failure_)) return;
      --run.depth_;
      if (!run.content_) return;
      run.name_.clear();
      run.name_.AppendUtf8z(name);
      const int n = static_cast<int>(run.name_.size());
      run.Check(run.content_->endElement(u"", 0, run.name_.c_str(), n, run.name_.c_str(), n));
    });
  }

  static void XMLCALL CharacterData(void* data, const XML_Char* s, int len) {
    Guard(data, [&](ParseRun& run) {
      if (run.content_) run.text_.AppendUtf8(s, static_cast<std::size_t>(len));
    });
  }

  static void XMLCALL ProcessingInstruction(void* data, const XML_Char* target,
                                            const XML_Char* pi) {
    Guard(data, [&](ParseRun& run) {
      run.Flush();
      if (FAILED(run.failure_) || !run.content_) return;
      run.name_.clear();
      run.name_.AppendUtf8z(target);
      run.scratch_.clear();
      run.scratch_.AppendUtf8z(pi);
      run.Check(run.content_->processingInstruction(
          run.name_.c_str(), static_cast<int>(run.name_.size()), run.scratch_.c_str(),
          static_cast<int>(run.scratch_.size())));
    });
  }

  // A document type declaration could declare entities (expansion attacks,
  // external resources); requests never carry one.
  static void XMLCALL StartDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*,
                                   int) {
    Guard(data, [&](ParseRun& run) {
      run.Fatal(KXSAX_E_DTD_PROHIBITED, u"A document type declaration is not allowed");
    });
  }

  // Second line behind the refused declaration: no entity is declared and no
  // external entity is ever opened.
  static void XMLCALL EntityDecl(void* data, const XML_Char*, int, const XML_Char*, int,
                                 const XML_Char*, const XML_Char*, const XML_Char*,
                                 const XML_Char*) {
    Guard(data, [&](ParseRun& run) {
      run.Fatal(KXSAX_E_ENTITY_REFUSED, u"An entity declaration is not allowed");
    });
  }
  static int XMLCALL ExternalEntityRef(XML_Parser, const XML_Char*, const XML_Char*,
                                       const XML_Char*, const XML_Char*) {
    return XML_STATUS_ERROR;
  }
};

ParserSlot::~ParserSlot() {
  if (parser_ != nullptr) XML_ParserFree(parser_);
  if (attributes_ != nullptr) attributes_->Release();
  if (locator_ != nullptr) locator_->Release();
}

namespace {

// True when someone besides the slot holds `object`.
template <class T>
bool Shared(T* object) {
  object->AddRef();
  return object->Release() > 1;
}

// The kept object when no one else holds it, else a new one kept instead.
template <class T>
T* TakeUnshared(T*& kept) {
  if (kept == nullptr || Shared(kept)) {
    T* fresh = new T;
    if (kept != nullptr) kept->Release();
    kept = fresh;
  }
  kept->AddRef();
  return kept;
}

}  // namespace

Attributes* ParserSlot::TakeAttributes() { return TakeUnshared(attributes_); }

Locator* ParserSlot::TakeLocator() {
  Locator* locator = TakeUnshared(locator_);
  locator->Set(1, 1);
  return locator;
}

XML_Parser ParserSlot::Take(const char* encoding) {
  if (parser_ != nullptr && XML_ParserReset(parser_, encoding) == XML_TRUE) return parser_;
  if (parser_ != nullptr) XML_ParserFree(parser_);
  parser_ = XML_ParserCreate(encoding);
  return parser_;
}

void ParserSlot::Done(std::size_t length) {
  constexpr std::size_t kKeepUpTo = 64 * 1024;
  if (length <= kKeepUpTo || parser_ == nullptr) return;
  XML_ParserFree(parser_);
  parser_ = nullptr;
}

ParseRun::ParseRun(Ref<ISAXContentHandler> content, Ref<ISAXErrorHandler> errors,
                   const Limits& limits, ParserSlot& slot)
    : content_(std::move(content)),
      errors_(std::move(errors)),
      limits_(limits),
      attributes_(slot.TakeAttributes()),
      locator_(slot.TakeLocator()),
      slot_(slot),
      text_(slot.text),
      name_(slot.name),
      scratch_(slot.scratch) {
  text_.clear();
}

ParseRun::~ParseRun() {
  // A handler may keep the locator: it must not point into a parser that the
  // next parse resets. Working out the last position costs a rescan of the
  // text, so only a locator someone else holds gets it.
  locator_->AddRef();
  if (locator_->Release() > 2) {  // held by more than this run and the slot
    locator_->Detach();
  } else {
    locator_->Set(1, 1);
  }
  if (parser_ != nullptr) slot_.Done(length_);
  attributes_->Release();
  locator_->Release();
}

HRESULT ParseRun::Run(const char* bytes, std::size_t length, const char* encoding) {
  parser_ = slot_.Take(encoding);
  if (parser_ == nullptr) return E_OUTOFMEMORY;
  length_ = length;
  XML_SetUserData(parser_, this);
  XML_SetElementHandler(parser_, Callbacks::StartElement, Callbacks::EndElement);
  XML_SetCharacterDataHandler(parser_, Callbacks::CharacterData);
  XML_SetProcessingInstructionHandler(parser_, Callbacks::ProcessingInstruction);
  XML_SetStartDoctypeDeclHandler(parser_, Callbacks::StartDoctype);
  XML_SetEntityDeclHandler(parser_, Callbacks::EntityDecl);
  XML_SetExternalEntityRefHandler(parser_, Callbacks::ExternalEntityRef);
  XML_SetParamEntityParsing(parser_, XML_PARAM_ENTITY_PARSING_NEVER);
  locator_->Attach(parser_);

  if (content_) {
    Callbacks::Guard(this, [this](ParseRun&) {
      if (Check(content_->putDocumentLocator(locator_))) Check(content_->startDocument());
    });
    if (FAILED(failure_)) return failure_;
  }
  const XML_Status status = XML_Parse(parser_, bytes, static_cast<int>(length), XML_TRUE);
  if (FAILED(failure_)) return failure_;  // a callback stopped expat
  if (status != XML_STATUS_OK) {
    Fatal(KXSAX_E_MALFORMED, Widen(XML_ErrorString(XML_GetErrorCode(parser_))));
    return failure_;
  }
  Callbacks::Guard(this, [this](ParseRun&) {
    Flush();
    if (SUCCEEDED(failure_) && content_) Check(content_->endDocument());
  });
  return failure_;
}

HRESULT ParseRun::FailAt(HRESULT code, const std::u16string& message, int line, int column) {
  locator_->Set(line, column);
  Fatal(code, message);
  return failure_;
}

void ParseRun::Fatal(HRESULT code, const std::u16string& message) {
  HRESULT result = code;
  if (errors_) {
    HRESULT hr;
    try {
      hr = errors_->fatalError(locator_, message.c_str(), code);
    } catch (const std::bad_alloc&) {
      hr = E_OUTOFMEMORY;
    } catch (...) {
      hr = E_FAIL;
    }
    if (FAILED(hr)) result = hr;
  }
  Stop(result);
}

void ParseRun::Stop(HRESULT code) {
  if (FAILED(failure_)) return;
  failure_ = code;
  if (parser_ != nullptr) XML_StopParser(parser_, XML_FALSE);
}

bool ParseRun::Check(HRESULT hr) {
  if (SUCCEEDED(hr)) return true;
  Stop(hr);
  return false;
}

void ParseRun::Flush() {
  if (text_.empty()) return;
  const int n = static_cast<int>(text_.size());
  Check(content_->characters(text_.c_str(), n));
  text_.clear();
}

}  // namespace kx::msxml
