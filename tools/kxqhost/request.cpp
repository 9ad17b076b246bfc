// The `request` command: one message sent to the module, its reply and the
// files it sent printed, and the user's current datasheet and page after it.
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "common.h"
#include "host/hints.h"
#include "host/host.h"
#include "host/store_host_session.h"
#include "host/utf.h"
#include "program.h"
#include "store/object.h"
#include "xmltext.h"

namespace kx::kxqhost {

// A sent file as it would reach the client: a header line, then a text
// file's content as it is, or the first bytes of a binary file in
// hexadecimal.
void Program::PrintSentFile(const host::SentFile& file) {
  std::fprintf(out_, "== sent file %s (%s, %zu bytes)\n", Narrow(file.path).c_str(),
               file.binary ? "binary" : "text", file.content.size());
  if (!file.binary) {
    std::fwrite(file.content.data(), 1, file.content.size(), out_);
    if (!file.content.empty() && file.content.back() != '\n') std::fputc('\n', out_);
    return;
  }
  constexpr size_t kShown = 32;
  for (size_t i = 0; i < file.content.size() && i < kShown; ++i) {
    std::fprintf(out_, "%s%02x", i == 0 ? "" : " ", static_cast<unsigned char>(file.content[i]));
  }
  if (file.content.size() > kShown) std::fputs(" ...", out_);
  if (!file.content.empty()) std::fputc('\n', out_);
}

int Program::Request(const std::string& name, const std::string& text, bool extra) {
  const auto wide = host::internal::Utf8ToUtf16(text);
  if (!wide) return Error("the request text is not valid UTF-8"), kExitFailed;
  host::RequestResult result;
  for (int tries = 0;; ++tries) {
    result = extra ? host_->RequestWithExtra(Wide(name), *wide, _variant_t())
                   : host_->Request(Wide(name), *wide);
    // A store read without locks fails a call with KXQ_E_BUSY when another
    // process committed while it was read; the call wrote nothing and is
    // made again on the store as it is now.
    if (result.succeeded() || !read_only_ || result.hr != KXQ_E_BUSY || tries == 3) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5 << tries));
  }
  if (result.succeeded()) {
    const std::string reply =
        options_.pretty ? IndentXml(Narrow(result.reply)) : Narrow(result.reply);
    std::fwrite(reply.data(), 1, reply.size(), out_);
    if (!reply.empty() && reply.back() != '\n') std::fputc('\n', out_);
    for (const auto& file : result.files) PrintSentFile(file);
    for (const auto& report : result.reports)
      std::fprintf(err_, "report: %s\n", Narrow(report).c_str());
  }
  const bool nothing_done = result.succeeded() && result.reply.empty() && result.files.empty() &&
                            result.events.empty() && session_->changes().empty() &&
                            session_->delivered().empty() && session_->workflow().empty();
  const int status = Finish(result, "request " + name);
  // An attribute the grammar does not know is ignored by the module, which
  // then answers as if it were missing ("Type mismatch." for a misspelt
  // "FieldID"): name it and what the element takes.
  if (std::map<std::string, std::string> grammar; MessageGrammar(name, &grammar)) {
    for (const std::string& notice : UnknownAttributeNotices(name, text, grammar))
      std::fprintf(err_, "notice: %s\n", notice.c_str());
  }
  // A needed attribute left out fails in the module's words, and the
  // failed line gives the host library's hint for it; a request that
  // succeeds without it does nothing: name it and what it takes.
  bool status_named = false;
  if (result.succeeded()) {
    for (const std::u16string& notice : host::MissingAttributes(Wide(name), *wide, &status_named))
      std::fprintf(err_, "notice: %s\n", Narrow(notice).c_str());
  }
  if (const std::string notice = PageLayoutNotice(name, text); !notice.empty())
    std::fprintf(err_, "notice: %s\n", notice.c_str());
  if (nothing_done) {
    std::fprintf(err_, "notice: %s\n",
                 NothingDoneNotice(name, text, status_named, EnvelopeStatusUse(name)).c_str());
  }
  std::fflush(err_);
  if (options_.events) PrintCurrentDocument();
  return status;
}

void Program::PrintCurrentDocument() {
  auto id_text = [](IKXQObject* object) {
    LONG id = 0;
    if (object == nullptr || FAILED(object->get_Id(&id))) return std::string("none");
    return "#" + std::to_string(id);
  };
  const host::Application& application = host_->application();
  std::fprintf(out_, "== current datasheet %s, page %s\n",
               id_text(application.current_datasheet()).c_str(),
               id_text(application.current_page()).c_str());
  std::fflush(out_);
}

}  // namespace kx::kxqhost
