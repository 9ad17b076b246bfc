// The host's response, attribute list and request context: the module's
// reply calls rendered as XML text (UTF-16).
//
// Rendering: no declaration, no line breaks; attributes in the order added,
// values in double quotes; an element without content is written "<a/>".
// Whether BeginXMLReply was called changes nothing in the text.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "host/com_object.h"
#include "host/failure_points.h"
#include "host/response.h"

namespace kx::host {

// An attribute list. Holds copies of the names and values added; any
// response accepts it. The list is kept as the text it adds to a start tag,
// ` name="value"` for each attribute in order with its value formatted but
// not escaped, so that a response writes a list without special characters
// in one piece. A cleared list keeps its storage, and the names it found
// valid: a list used for one element after another checks each name once.
class XMLAttributes final : public internal::DispatchObject<IKXQXMLAttributes> {
 public:
  HRESULT Add(BSTR name, VARIANT value) override;
  HRESULT Clear() override;
  HRESULT get_Count(LONG* count) override;
  HRESULT GetAttribute(LONG index, BSTR* name, VARIANT* value) override;

  // Appends the attributes as written in a start tag, each value escaped.
  void AppendTo(std::u16string& out) const;

 private:
  static constexpr uint8_t kUnknown = 0xFF;
  static constexpr size_t kMaxNames = 64;  // bits of present_

  // Where an attribute stands in the text: the space before its name, then
  // the name, `="`, the value and `"`.
  struct Item {
    size_t at;
    uint32_t name_size;
    uint32_t value_size;
    uint8_t name;  // its entry in names_, or kUnknown
    bool escaped;  // the value may have characters a reply writes otherwise
    size_t value_at() const { return at + 1 + name_size + 2; }
    size_t end() const { return value_at() + value_size + 1; }
  };
  // A name found valid; `next` is the entry added after it last time, the
  // first one tried for the next Add.
  struct Name {
    std::u16string text;
    uint8_t next = kUnknown;
  };

  std::u16string_view Text() const { return {text_.data(), size_}; }
  std::u16string_view NameOf(const Item& item) const {
    return Text().substr(item.at + 1, item.name_size);
  }
  std::u16string_view ValueOf(const Item& item) const {
    return Text().substr(item.value_at(), item.value_size);
  }
  uint8_t FindName(std::u16string_view key) const;
  char16_t* Room(size_t count);
  // Appends an attribute; `check`: the value may need escaping.
  void Put(std::u16string_view key, uint8_t entry, std::u16string_view text, bool check);
  HRESULT Replace(Item& item, const VARIANT& value);

  // text_[0, size_) is the list's text; the rest is room for more.
  std::u16string text_;
  size_t size_ = 0;
  std::vector<Item> items_;
  size_t escaped_ = 0;  // items with `escaped` set
  std::vector<Name> names_;
  uint64_t present_ = 0;      // bit n: an item has the name of names_[n]
  uint8_t first_ = kUnknown;  // entry of the first item last time
};

// A file sent as a reply: the path with "/" separators as the module gave
// it, whether the file is binary, and its bytes as read when it was sent
// (what would reach the client).
struct SentFile {
  std::u16string path;
  bool binary = false;
  std::string content;
  bool operator==(const SentFile&) const = default;
};

class Response final : public internal::DispatchObject<IKXQResponse> {
 public:
  HRESULT SendText(BSTR text) override;
  HRESULT BeginXMLReply() override;
  HRESULT EndReply() override;
  HRESULT NewAttributes(IKXQXMLAttributes** attributes) override;
  HRESULT StartElement(BSTR name, IKXQXMLAttributes* attributes) override;
  HRESULT EndElement(BSTR name) override;
  HRESULT ElementText(BSTR text) override;
  HRESULT WriteElement(BSTR name, IKXQXMLAttributes* attributes, BSTR text) override;
  HRESULT Flush() override;
  // Sends the file only when it lies inside one of the folders set with
  // SetFileFolders (see internal/sendable_file.h): a path with a ".." step,
  // one outside the folders or one that a symbolic link leads out of them
  // fails with E_ACCESSDENIED, a missing file with STG_E_FILENOTFOUND; then
  // nothing is sent.
  HRESULT SendFile(BSTR path, VARIANT binary) override;

  // The folders files may be sent from ("/" separators; relative ones count
  // from the working directory). None by default: every file is refused.
  void SetFileFolders(std::vector<std::u16string> folders) { folders_ = std::move(folders); }
  const std::vector<std::u16string>& file_folders() const { return folders_; }

  // The reply as written so far. Elements still open are not closed here;
  // EndReply (or Finish) closes them.
  const std::u16string& text() const { return text_; }
  // Hands the final reply over without copying it (a listing's reply runs
  // to megabytes); text() is empty afterwards.
  std::u16string TakeText() { return std::move(text_); }
  const std::vector<SentFile>& files() const { return files_; }
  bool begun() const { return begun_; }
  // Number of EndReply calls (modules may end a reply more than once).
  int end_calls() const { return end_calls_; }
  // Names of the elements still open, outermost first.
  const std::vector<std::u16string>& open_elements() const { return open_; }

  // Called by the host when the request has ended. Success: closes the
  // elements still open, and the reply is final. Failure: the partial reply
  // and the files are dropped. Either way, later writes fail with
  // E_UNEXPECTED: a module that keeps the response after its request can
  // no longer change what the client received.
  void Finish(bool succeeded);
  bool finished() const { return finished_; }

  // Injected failures of this object's operations (for tests).
  FailurePoints& failures() { return failures_; }

 private:
  FailurePoints failures_;
  HRESULT CheckOpen() const;
  HRESULT AppendStartTag(BSTR name, IKXQXMLAttributes* attributes, bool empty);
  void CloseOpenElements();

  std::u16string text_;
  std::vector<std::u16string> open_;
  std::vector<SentFile> files_;
  std::vector<std::u16string> folders_;
  bool begun_ = false;
  bool finished_ = false;
  int end_calls_ = 0;
  std::u16string checked_tag_;  // the element name last found valid
};

// The context of one request: gives its response; collects the texts the
// module reports.
class RequestContext final : public internal::DispatchObject<IKXQRequestContext> {
 public:
  explicit RequestContext(Ref<Response> response) : response_(std::move(response)) {}

  HRESULT get_Response(IKXQResponse** response) override;
  HRESULT NotifyFormatChange() override;
  HRESULT RegisterLoadStorage(void* storage) override;
  HRESULT Report(BSTR text) override;

  Response* response() const { return response_.get(); }
  const std::vector<std::u16string>& reports() const { return reports_; }
  int format_changes() const { return format_changes_; }

  // Injected failures of this object's operations (for tests).
  FailurePoints& failures() { return failures_; }

 private:
  FailurePoints failures_;
  Ref<Response> response_;
  std::vector<std::u16string> reports_;
  int format_changes_ = 0;
};

// "\" separators of a path a module hands back to the host, as "/".
std::u16string ToHostPath(std::u16string_view path);

}  // namespace kx::host
