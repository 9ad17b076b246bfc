// Reading a fixture: its elements, the readers of their attributes, and the
// document walked in passes, from memory or from a file, so that the objects
// (most of a plant) are read one at a time and never held all at once.
#pragma once

#ifndef KX_STORE_INTERNAL
#error "store/internal headers are private to their library; include its public headers"
#endif

#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "store/internal/model.h"

namespace kx::store {

// An element read: what the importer walks.
struct Element {
  std::string name;
  std::map<std::string, std::string> attrs;
  std::string text;
  long line = 0;
  long begin = 0, end = 0;  // byte range of the element in the document
  long startTagEnd = 0;     // the byte after its start tag
  std::vector<std::unique_ptr<Element>> children;

  const std::string* Attr(const char* key) const {
    auto it = attrs.find(key);
    return it == attrs.end() ? nullptr : &it->second;
  }
};

// Thrown inside the importer only; caught at its boundary.
struct FixtureError {
  long line;
  std::string message;
};

[[noreturn]] void Throw(const Element& e, std::string message);
u16 Text16(const Element& e, const std::string& s);
u16 AttrText(const Element& e, const char* key, const char* fallback = nullptr);
long AttrLong(const Element& e, const char* key, long fallback, bool required = false);
double ParseDouble(const Element& e, const std::string& s, const char* what);
bool AttrBool(const Element& e, const char* key, bool fallback);
void CheckChildren(const Element& e, std::initializer_list<const char*> allowed);
// Throws the failure's error information (or its code) at e.
void CheckHr(const Element& e, HRESULT hr);
u16 Trim(const u16& s);

// The document, read from its start as often as a pass asks.
class FixtureSource {
 public:
  virtual ~FixtureSource() = default;
  // The document text held by the caller (not copied).
  static std::unique_ptr<FixtureSource> Text(const std::string& xml);
  // The file at path, read a piece at a time in each pass (one that cannot
  // be read twice, such as a pipe, is read whole first); null, with *error
  // set, when it cannot be read.
  static std::unique_ptr<FixtureSource> File(const std::string& path, std::string* error);
  virtual uint64_t Size() const = 0;
  // The next piece of the document, of at most `want` bytes: false at its
  // end or when it cannot be read (Failed tells which).
  virtual bool Next(size_t want, const char** data, size_t* length) = 0;
  virtual bool Failed() const = 0;
  virtual void Rewind() = 0;
  // The bytes [begin, end) of the document.
  virtual bool Slice(long begin, long end, std::string* out) = 0;
};

// The document of `source` as UTF-8, which is what the passes read: the
// source itself, or, for a document in UTF-16 (told by its byte-order mark,
// or without one by the zero byte of its first character, as XML has it),
// its text in UTF-8 in a temporary file. Null, with the line and the
// reason, for text that is not UTF-16, a document in UTF-32 or declared in
// another encoding, or a temporary file that cannot be written.
std::unique_ptr<FixtureSource> AsUtf8(std::unique_ptr<FixtureSource> source, long* line,
                                      std::string* error);

// What a pass does with the elements it meets.
class PassHandler {
 public:
  enum class Take {
    kSkip,     // the element and everything in it are passed over
    kPass,     // the element is not kept; its children are met
    kShallow,  // kept in its tree without its children or its text
    kKeep,     // kept in its tree with its children
    kDeliver,  // read whole, with its children, and handed to Done
  };
  virtual ~PassHandler() = default;
  // At the start tag (attributes and line known; depth 0 is the root).
  virtual Take Start(const Element& e, int depth) = 0;
  // An element taken with kDeliver, at its end tag.
  virtual void Done(std::unique_ptr<Element> e) = 0;
};

// Walks the whole document once. The root, when taken with kKeep or
// kShallow, comes back in *root; an element kept below one passed is taken
// as delivered. A document that is not well formed (or
// too deep, or with a document type declaration) gives false with the line
// and the reason; a FixtureError thrown by the handler comes out of Walk.
// *pieces, when given, counts the pieces the parser was handed.
bool Walk(FixtureSource& source, PassHandler& handler, std::unique_ptr<Element>* root, long* line,
          std::string* error, long* pieces = nullptr);

}  // namespace kx::store
