#include "xmltext.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <sstream>
#include <vector>

#include "host/hints.h"
#include "host/message_notes.h"
#include "host/utf.h"

namespace kx::kxqhost {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool AllBlank(std::string_view text) {
  for (char c : text) {
    if (!IsBlank(c)) return false;
  }
  return true;
}

// ASCII letters only, whatever the locale: element names of requests.
bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

enum class Kind { kText, kStart, kEnd, kEmpty, kOther };

struct Token {
  Kind kind;
  std::string_view text;
};

// The end of the markup that starts at `at` (one past its last character),
// or npos when it is not closed. A tag's end is its first ">" outside a
// quoted attribute value.
size_t MarkupEnd(std::string_view xml, size_t at, Kind* kind) {
  auto past = [&](std::string_view closing) {
    const size_t found = xml.find(closing, at);
    return found == std::string_view::npos ? found : found + closing.size();
  };
  const std::string_view rest = xml.substr(at);
  if (rest.starts_with("<!--")) return *kind = Kind::kOther, past("-->");
  if (rest.starts_with("<![CDATA[")) return *kind = Kind::kText, past("]]>");
  if (rest.starts_with("<?")) return *kind = Kind::kOther, past("?>");
  if (rest.starts_with("<!")) return *kind = Kind::kOther, past(">");
  if (rest.starts_with("</")) return *kind = Kind::kEnd, past(">");
  char quote = 0;
  for (size_t i = at + 1; i < xml.size(); ++i) {
    const char c = xml[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>') {
      *kind = xml[i - 1] == '/' ? Kind::kEmpty : Kind::kStart;
      return i + 1;
    }
  }
  return std::string_view::npos;
}

bool Tokenize(std::string_view xml, std::vector<Token>* tokens) {
  size_t at = 0;
  while (at < xml.size()) {
    if (xml[at] != '<') {
      const size_t next = std::min(xml.find('<', at), xml.size());
      tokens->push_back({Kind::kText, xml.substr(at, next - at)});
      at = next;
      continue;
    }
    Kind kind = Kind::kOther;
    const size_t end = MarkupEnd(xml, at, &kind);
    if (end == std::string_view::npos) return false;
    tokens->push_back({kind, xml.substr(at, end - at)});
    at = end;
  }
  return true;
}

// The name that starts at `at` of `text`: up to a blank, "/" or ">".
std::string NameAt(std::string_view text, size_t at) {
  size_t end = at;
  while (end < text.size() && !IsBlank(text[end]) && text[end] != '/' && text[end] != '>') ++end;
  return std::string(text.substr(at, end - at));
}

// The names of the attributes of a start tag, `tag` from its "<" on, in
// their order: NAME = "VALUE" or 'VALUE', up to the tag's end or the first
// text that is not one.
std::vector<std::string> TagAttributes(std::string_view tag) {
  std::vector<std::string> names;
  size_t at = 1 + NameAt(tag, 1).size();
  for (;;) {
    while (at < tag.size() && IsBlank(tag[at])) ++at;
    if (at >= tag.size() || tag[at] == '/' || tag[at] == '>') break;
    const size_t eq = tag.find('=', at);
    if (eq == std::string_view::npos) break;
    std::string_view attribute = tag.substr(at, eq - at);
    while (!attribute.empty() && IsBlank(attribute.back())) attribute.remove_suffix(1);
    size_t open = eq + 1;
    while (open < tag.size() && IsBlank(tag[open])) ++open;
    if (open >= tag.size() || (tag[open] != '"' && tag[open] != '\'')) break;
    const size_t close = tag.find(tag[open], open + 1);
    if (close == std::string_view::npos) break;
    at = close + 1;
    names.emplace_back(attribute);
  }
  return names;
}

// Skips blanks, the XML declaration, processing instructions, comments and
// a document type before the root element; npos when one is not closed.
size_t SkipProlog(std::string_view text, size_t at) {
  while (at < text.size()) {
    if (IsBlank(text[at])) {
      ++at;
      continue;
    }
    const std::string_view rest = text.substr(at);
    std::string_view closing;
    if (rest.starts_with("<?")) {
      closing = "?>";
    } else if (rest.starts_with("<!--")) {
      closing = "-->";
    } else if (rest.starts_with("<!")) {
      closing = ">";
    } else {
      return at;
    }
    const size_t found = text.find(closing, at + 2);
    if (found == std::string_view::npos) return found;
    at = found + closing.size();
  }
  return at;
}

}  // namespace

std::string IndentXml(std::string_view xml) {
  const std::string unchanged(xml);
  std::vector<Token> tokens;
  if (!Tokenize(xml, &tokens)) return unchanged;
  std::string out;
  int depth = 0;
  bool any_element = false;
  auto line = [&](std::string_view text) {
    out.append(static_cast<size_t>(depth) * 2, ' ');
    out.append(text);
    out += '\n';
  };
  for (size_t i = 0; i < tokens.size(); ++i) {
    const Token& token = tokens[i];
    switch (token.kind) {
      case Kind::kText:
        if (!AllBlank(token.text)) line(token.text);
        break;
      case Kind::kOther: line(token.text); break;
      case Kind::kEmpty:
        any_element = true;
        line(token.text);
        break;
      case Kind::kStart: {
        any_element = true;
        // An element holding only text stays on one line.
        size_t j = i + 1;
        std::string inner;
        while (j < tokens.size() && tokens[j].kind == Kind::kText) inner += tokens[j++].text;
        if (j < tokens.size() && tokens[j].kind == Kind::kEnd) {
          line(std::string(token.text) + inner + std::string(tokens[j].text));
          i = j;
          break;
        }
        line(token.text);
        ++depth;
        break;
      }
      case Kind::kEnd:
        if (--depth < 0) return unchanged;
        line(token.text);
        break;
    }
  }
  if (depth != 0 || !any_element) return unchanged;
  return out;
}

RequestShape ReadRequestShape(std::string_view text) {
  RequestShape shape;
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  size_t at = SkipProlog(text, 0);
  if (at >= text.size() || text[at] != '<') return shape;
  shape.root = NameAt(text, at + 1);
  if (shape.root.empty()) return shape;
  shape.xml = true;
  at += 1 + shape.root.size();
  // The root's attributes, up to the end of its start tag.
  for (;;) {
    while (at < text.size() && IsBlank(text[at])) ++at;
    if (at >= text.size() || text[at] == '/' || text[at] == '>') break;
    const size_t eq = text.find('=', at);
    if (eq == std::string_view::npos) return shape;
    std::string_view name = text.substr(at, eq - at);
    while (!name.empty() && IsBlank(name.back())) name.remove_suffix(1);
    size_t open = eq + 1;
    while (open < text.size() && IsBlank(text[open])) ++open;
    if (open >= text.size() || (text[open] != '"' && text[open] != '\'')) return shape;
    const size_t close = text.find(text[open], open + 1);
    if (close == std::string_view::npos) return shape;
    if (name == "Status") {
      shape.has_status = true;
      shape.status = std::string(text.substr(open + 1, close - open - 1));
    }
    at = close + 1;
  }
  if (at >= text.size() || text[at] == '/') return shape;
  // The first element inside the root.
  for (at = text.find('<', at); at != std::string_view::npos; at = text.find('<', at + 1)) {
    const std::string_view rest = text.substr(at);
    if (rest.starts_with("</")) break;
    if (rest.starts_with("<!") || rest.starts_with("<?")) continue;
    shape.message = NameAt(text, at + 1);
    break;
  }
  return shape;
}

EnvelopeStatus EnvelopeStatusUse(const std::string& name) {
  for (const host::AttributeNote& note : host::AttributeNotes()) {
    if (EqualNoCase(name, note.message) && std::string_view(note.element) == "XMLMessage" &&
        std::string_view(note.attribute) == "Status") {
      if (std::string_view(note.use).starts_with("Not read")) return EnvelopeStatus::kNotRead;
      return host::ActsOnlyOnStatusOne(note) ? EnvelopeStatus::kOnlyOne : EnvelopeStatus::kRead;
    }
  }
  return EnvelopeStatus::kNotRead;
}

std::string NothingDoneNotice(const std::string& name, std::string_view text, bool status_named,
                              EnvelopeStatus status_use) {
  std::string notice = "the request changed nothing and wrote no reply";
  const RequestShape shape = ReadRequestShape(text);
  if (!shape.xml) return notice;
  std::vector<std::string> reasons;
  const bool enveloped = EqualNoCase(shape.root, "XMLMessage");
  // The module's spelling of the message, which its grammar gives the
  // message element.
  std::string spelt = name;
  if (host::IsMessageName(host::internal::Utf8ToUtf16(name).value_or(u""))) {
    for (const std::u16string& known :
         host::NearestMessageNames(host::internal::Utf8ToUtf16(name).value_or(u"")))
      spelt = host::internal::Utf16ToUtf8(known);
  }
  if (!enveloped && !EqualNoCase(shape.root, name)) {
    reasons.push_back("its root element is \"" + shape.root + "\", neither \"XMLMessage\" nor \"" +
                      name + "\"");
  } else if (enveloped && shape.root != "XMLMessage") {
    // The module passes over an element it does not know, all it holds
    // with it: nothing of the request is read, its "Status" neither.
    reasons.push_back("its envelope is \"" + shape.root +
                      "\"; the module reads it only as \"XMLMessage\" and passes over all it "
                      "holds");
    notice += ": " + reasons.front();
    return notice;
  } else if (enveloped && shape.message.empty()) {
    reasons.push_back("its \"XMLMessage\" holds no message element");
  } else if (enveloped && !EqualNoCase(shape.message, name)) {
    reasons.push_back("its message element is \"" + shape.message + "\", not \"" + name + "\"");
  } else if (enveloped && shape.message != spelt) {
    reasons.push_back("its message element is \"" + shape.message +
                      "\"; the module finds the message in any letter case, but reads its "
                      "element only as \"" +
                      spelt + "\"");
  }
  std::string status = shape.status;
  while (!status.empty() && IsBlank(status.back())) status.pop_back();
  while (!status.empty() && IsBlank(status.front())) status.erase(0, 1);
  // The number the module reads: blanks, a sign and digits, up to the
  // first other character ("01" and "1x" are 1).
  long number = 0;
  {
    size_t i = status.find_first_not_of(" \t\r\n\v\f");
    const bool negative = i != std::string::npos && status[i] == '-';
    if (i != std::string::npos && (status[i] == '-' || status[i] == '+')) ++i;
    for (; i < status.size() && status[i] >= '0' && status[i] <= '9' && number < 100000; ++i)
      number = number * 10 + (status[i] - '0');
    if (negative) number = -number;
  }
  const bool zero = !status.empty() && number == 0;
  if (status_use == EnvelopeStatus::kNotRead) {
    // Its "Status" explains nothing.
  } else if (!enveloped) {
    reasons.push_back(
        "it has no \"XMLMessage\" and so no \"Status\" (the value setters act only when it is 1)");
  } else if (!shape.has_status && !status_named) {
    reasons.push_back(
        "its \"XMLMessage\" has no \"Status\" (the value setters act only when it is 1)");
  } else if (shape.has_status &&
             (zero || (status_use == EnvelopeStatus::kOnlyOne && number != 1))) {
    reasons.push_back("its \"Status\" is " + (status.empty() ? "empty" : status) +
                      " (the value setters act only when it is 1)");
  }
  for (size_t i = 0; i < reasons.size(); ++i) notice += (i == 0 ? ": " : "; ") + reasons[i];
  return notice;
}

std::string PageLayoutNotice(const std::string& name, std::string_view text) {
  if (!EqualNoCase(name, "PageLayout")) return {};
  std::vector<Token> tokens;
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  if (!Tokenize(text, &tokens)) return {};
  // The layout attributes, each written to the page the request named last
  // (in this element or an earlier one) when it arrives.
  static const std::set<std::string> kLayout = {
      "Orientation", "ScaleMode",   "ScaleFactor",  "CenterHorizontal", "CenterVertical",
      "TopMargin",   "LeftMargin",  "BottomMargin", "RightMargin",      "PaperSize",
      "PaperWidth",  "PaperLength", "PaperSource"};
  bool any = false, page = false;
  std::string lost;
  for (const Token& token : tokens) {
    if ((token.kind != Kind::kStart && token.kind != Kind::kEmpty) ||
        NameAt(token.text, 1) != "PageLayout")
      continue;
    any = true;
    for (const std::string& attribute : TagAttributes(token.text)) {
      if (attribute == "PageId") page = true;
      if (!page && kLayout.count(attribute) != 0) lost += (lost.empty() ? "" : ", ") + attribute;
    }
  }
  if (!any) return {};
  if (!page) {
    return "\"PageLayout\" has no \"PageId\": its layout reaches no page and nothing is stored "
           "(the change event is sent all the same)";
  }
  if (lost.empty()) return {};
  return "\"PageLayout\" takes a layout attribute only after \"PageId\": " + lost +
         (lost.find(',') == std::string::npos ? " comes before it and is"
                                              : " come before it and are") +
         " not stored; name \"PageId\" first";
}

std::vector<std::string> UnknownAttributeNotices(
    const std::string& name, std::string_view text,
    const std::map<std::string, std::string>& elements) {
  std::vector<std::string> notices;
  std::vector<Token> tokens;
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  if (!Tokenize(text, &tokens)) return notices;
  std::set<std::pair<std::string, std::string>> named;
  for (const Token& token : tokens) {
    if (token.kind != Kind::kStart && token.kind != Kind::kEmpty) continue;
    const std::string element = NameAt(token.text, 1);
    const auto known = elements.find(element);
    if (known == elements.end()) continue;
    std::vector<std::string> allowed;
    std::istringstream words(known->second);
    for (std::string word; words >> word;) allowed.push_back(word);
    for (const std::string& attribute_name : TagAttributes(token.text)) {
      // Namespace declarations and xml: attributes are the reader's, not
      // the grammar's.
      if (attribute_name.starts_with("xmlns") || attribute_name.starts_with("xml:")) continue;
      if (std::find(allowed.begin(), allowed.end(), attribute_name) != allowed.end()) continue;
      if (!named.insert({element, attribute_name}).second) continue;
      std::string takes;
      for (const std::string& word : allowed) takes += (takes.empty() ? "" : ", ") + word;
      notices.push_back("\"" + name + "\" knows no attribute \"" + attribute_name + "\" on \"" +
                        element + "\" and ignores it; \"" + element + "\" takes " +
                        (takes.empty() ? "no attribute" : takes));
    }
  }
  return notices;
}

}  // namespace kx::kxqhost
