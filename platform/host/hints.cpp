#include "host/hints.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "com/oleauto.h"
#include "com/safearray.h"
#include "host/message_notes.h"
#include "host/utf.h"
#include "store/database.h"

namespace kx::host {

namespace {

using internal::Utf16ToUtf8;

std::u16string Wide(std::string_view text) {
  auto wide = internal::Utf8ToUtf16(text);
  return wide ? *wide : std::u16string();
}

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// ASCII letters only: the module finds its messages so.
bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Lower(x) == Lower(y); });
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// A start tag of the request: its name and its attributes' names, in order.
struct Tag {
  std::string name;
  std::vector<std::string> attributes;
};

// The start tags of `text`, in order; comments, processing instructions,
// declarations, CDATA sections and end tags are passed over. A tag that is
// not closed ends the list: the module's reader refuses such a text anyway.
std::vector<Tag> StartTags(std::string_view text) {
  std::vector<Tag> tags;
  size_t at = text.find('<');
  while (at != std::string_view::npos && at + 1 < text.size()) {
    const std::string_view rest = text.substr(at);
    std::string_view closing;
    if (rest.starts_with("<!--")) closing = "-->";
    if (rest.starts_with("<![CDATA[")) closing = "]]>";
    if (rest.starts_with("<?")) closing = "?>";
    if (closing.empty() && (rest.starts_with("<!") || rest.starts_with("</"))) closing = ">";
    if (!closing.empty()) {
      const size_t end = text.find(closing, at + 2);
      if (end == std::string_view::npos) break;
      at = text.find('<', end + closing.size());
      continue;
    }
    size_t i = at + 1;
    Tag tag;
    while (i < text.size() && !IsBlank(text[i]) && text[i] != '/' && text[i] != '>')
      tag.name += text[i++];
    bool closed = false;
    while (i < text.size()) {
      while (i < text.size() && IsBlank(text[i])) ++i;
      if (i >= text.size()) break;
      if (text[i] == '>' || text[i] == '/') {
        closed = text.find('>', i) != std::string_view::npos;
        break;
      }
      const size_t eq = text.find('=', i);
      if (eq == std::string_view::npos) break;
      std::string_view name = text.substr(i, eq - i);
      while (!name.empty() && IsBlank(name.back())) name.remove_suffix(1);
      size_t open = eq + 1;
      while (open < text.size() && IsBlank(text[open])) ++open;
      if (open >= text.size() || (text[open] != '"' && text[open] != '\'')) break;
      const size_t close = text.find(text[open], open + 1);
      if (close == std::string_view::npos) break;
      tag.attributes.emplace_back(name);
      i = close + 1;
    }
    if (!closed || tag.name.empty()) break;
    tags.push_back(std::move(tag));
    at = text.find('<', i);
  }
  return tags;
}

bool Holds(const std::vector<std::string>& names, std::string_view name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// The note's sentence, its first word in lower case ("The", "A"; not a
// name such as "HOLD").
std::string Sentence(std::string use) {
  if (use.size() > 1 && std::isupper(static_cast<unsigned char>(use[0])) &&
      (std::islower(static_cast<unsigned char>(use[1])) || use[1] == ' ')) {
    use[0] = Lower(use[0]);
  }
  return use;
}

// The edits (a character left out, added, changed, or two swapped) that
// make `a` into `b`, letter case aside.
size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t cost = Lower(a[i - 1]) == Lower(b[j - 1]) ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && Lower(a[i - 1]) == Lower(b[j - 2]) &&
          Lower(a[i - 2]) == Lower(b[j - 1])) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

// `names` quoted and separated by ", ".
std::string QuotedList(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& name : names) out += (out.empty() ? "\"" : ", \"") + name + "\"";
  return out;
}

// The texts of a 1-D SAFEARRAY of VT_BSTR, which it destroys.
std::vector<std::string> TakeTexts(SAFEARRAY* array) {
  std::vector<std::string> texts;
  if (array == nullptr) return texts;
  LONG low = 0, high = -1;
  if (SUCCEEDED(SafeArrayGetLBound(array, 1, &low)) &&
      SUCCEEDED(SafeArrayGetUBound(array, 1, &high))) {
    for (LONG i = low; i <= high; ++i) {
      BSTR text = nullptr;
      if (SUCCEEDED(SafeArrayGetElement(array, &i, &text))) {
        texts.push_back(Utf16ToUtf8(std::u16string_view(text ? text : u"")));
        SysFreeString(text);
      }
    }
  }
  SafeArrayDestroy(array);
  return texts;
}

std::vector<std::string> DimensionNames(IKXQSchema* schema) {
  std::vector<std::string> names;
  LONG count = 0;
  if (FAILED(schema->get_DimensionCount(&count))) return names;
  for (LONG i = 1; i <= count; ++i) {
    IKXQDimension* dimension = nullptr;
    if (FAILED(schema->get_DimensionAt(i, &dimension)) || dimension == nullptr) continue;
    BSTR name = nullptr;
    if (SUCCEEDED(dimension->get_Name(&name))) names.push_back(Utf16ToUtf8(name ? name : u""));
    SysFreeString(name);
    dimension->Release();
  }
  return names;
}

std::vector<std::string> UnitsOf(IKXQSchema* schema, const std::string& dimension_name) {
  IKXQDimension* dimension = nullptr;
  BSTR name = SysAllocString(Wide(dimension_name).c_str());
  const HRESULT hr = schema->get_Dimension(name, &dimension);
  SysFreeString(name);
  if (FAILED(hr) || dimension == nullptr) return {};
  SAFEARRAY* units = nullptr;
  std::vector<std::string> ids;
  if (SUCCEEDED(dimension->get_UnitIds(&units))) ids = TakeTexts(units);
  dimension->Release();
  return ids;
}

// What the store knows where the module refused a name of it.
std::string KnownNames(std::string_view description, IKXQSchema* schema) {
  if (schema == nullptr) return {};
  if (description.starts_with("Unknown dimension set '")) {
    SAFEARRAY* sets = nullptr;
    if (FAILED(schema->get_DimensionSetNames(&sets))) return {};
    const std::vector<std::string> names = TakeTexts(sets);
    return names.empty() ? std::string() : "the store's dimension sets: " + QuotedList(names);
  }
  if (description.starts_with("Unknown dimension '") ||
      description.starts_with("Unknown dimension \"")) {
    const std::vector<std::string> names = DimensionNames(schema);
    return names.empty() ? std::string() : "the store's dimensions: " + QuotedList(names);
  }
  constexpr std::string_view kOfDimension = " is not a unit of dimension '";
  if (const size_t of = description.find(kOfDimension); description.starts_with("Unit '") &&
                                                        of != std::string_view::npos &&
                                                        description.ends_with("'")) {
    const size_t start = of + kOfDimension.size();
    const std::string dimension(description.substr(start, description.size() - 1 - start));
    const std::vector<std::string> units = UnitsOf(schema, dimension);
    return units.empty() ? std::string()
                         : "the units of \"" + dimension + "\": " + QuotedList(units);
  }
  return {};
}

// `text` with each line end, and the blanks around it, as one blank.
std::u16string OneLine(std::u16string_view text) {
  std::u16string line;
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'\r' || c == u'\n') {
      while (!line.empty() && line.back() == u' ') line.pop_back();
      while (i + 1 < text.size() &&
             (text[i + 1] == u'\r' || text[i + 1] == u'\n' || text[i + 1] == u' '))
        ++i;
      if (!line.empty() && i + 1 < text.size()) line += u' ';
      continue;
    }
    line += c;
  }
  return line;
}

// Appends `part` after "; ", without its last full stop: the parts make
// one sentence.
void Join(std::string* out, std::string part) {
  if (!part.empty() && part.back() == '.') part.pop_back();
  if (!part.empty()) *out += (out->empty() ? "" : "; ") + part;
}

}  // namespace

bool IsMessageName(std::u16string_view name) {
  const std::string narrow = Utf16ToUtf8(name);
  const auto names = MessageNames();
  return std::any_of(names.begin(), names.end(),
                     [&](std::string_view known) { return EqualNoCase(known, narrow); });
}

std::vector<std::u16string> NearestMessageNames(std::u16string_view name) {
  const std::string narrow = Utf16ToUtf8(name);
  // A third of the name's letters may be wrong, at least two: "ListHold"
  // finds "ListHolds", "OpenDocument" "OpenDocuments", "SetRealFeild"
  // "SetRealField".
  const size_t allowed = std::max<size_t>(2, narrow.size() / 3);
  size_t best = allowed + 1;
  std::vector<std::u16string> nearest;
  for (std::string_view known : MessageNames()) {
    // Lengths further apart than that are too many edits: a long name is
    // not measured against each message.
    const size_t longer = std::max(narrow.size(), known.size());
    if (longer - std::min(narrow.size(), known.size()) > allowed) continue;
    const size_t distance = EditDistance(narrow, known);
    if (distance > allowed || distance > best) continue;
    if (distance < best) nearest.clear();
    best = distance;
    nearest.push_back(Wide(known));
  }
  return nearest;
}

std::vector<std::u16string> MissingAttributes(std::u16string_view name, std::u16string_view text,
                                              bool* names_status) {
  *names_status = false;
  std::vector<std::u16string> sentences;
  const std::string message = Utf16ToUtf8(name);
  std::vector<Tag> tags = StartTags(Utf16ToUtf8(text));
  // A request without its envelope lacks every attribute of it: the module
  // reads the message element alone ("No object with id 0" for a missing
  // "TargetId").
  const bool enveloped = !tags.empty() && tags.front().name == "XMLMessage";
  if (!tags.empty() && !enveloped) {
    // A root the module does not know it passes over with all it holds (an
    // envelope in other letter case, one inside another element): nothing
    // of the request is read, and an attribute added would change nothing.
    const std::string& root = tags.front().name;
    const auto names = MessageNames();
    bool known =
        std::find(names.begin(), names.end(), root) != names.end() && EqualNoCase(root, message);
    for (const AttributeNote& note : AttributeNotes())
      known = known || (EqualNoCase(message, note.message) && root == note.element);
    if (!known) return sentences;
    tags.insert(tags.begin(), Tag{"", {}});
  }
  std::set<std::pair<std::string, std::string>> named;
  for (size_t t = 0; t < tags.size(); ++t) {
    const Tag& tag = tags[t];
    const bool envelope = t == 0;
    for (const AttributeNote& note : AttributeNotes()) {
      if (!note.needed || !EqualNoCase(message, note.message)) continue;
      const bool of_envelope = std::string_view(note.element) == "XMLMessage";
      if (of_envelope != envelope || (!envelope && tag.name != note.element)) continue;
      if (Holds(tag.attributes, note.attribute)) continue;
      if (!named.insert({note.element, note.attribute}).second) continue;
      if (of_envelope && std::string_view(note.attribute) == "Status") *names_status = true;
      const std::string lacks = of_envelope && !enveloped
                                    ? "which the request lacks (it has no \"XMLMessage\" envelope)"
                                    : "which the request lacks";
      sentences.push_back(Wide("\"" + std::string(note.message) + "\" needs \"" + note.attribute +
                               "\" on \"" + note.element + "\"" +
                               (of_envelope ? " (the envelope)" : "") + ", " + lacks + ": " +
                               Sentence(note.use)));
    }
  }
  return sentences;
}

RequestHint FailedRequestHint(std::u16string_view name, std::u16string_view text,
                              std::u16string_view description, IKXQSchema* schema) {
  RequestHint hint;
  if (!IsMessageName(name)) {
    const std::vector<std::u16string> nearest = NearestMessageNames(name);
    std::u16string names;
    for (const std::u16string& known : nearest)
      names += (names.empty() ? u"\"" : u", \"") + known + u"\"";
    // The name as it came, a line end in it included: the hint is one line.
    hint.text = OneLine(
        u"the module has no message \"" + std::u16string(name) + u"\"" +
        (nearest.empty() ? u"; docs/messages.md lists its messages" : u"; the nearest: " + names));
    hint.first = true;
    return hint;
  }
  std::string before;
  bool names_status = false;
  for (const std::u16string& sentence : MissingAttributes(name, text, &names_status))
    Join(&before, Utf16ToUtf8(sentence));
  const std::string plain = Utf16ToUtf8(description);
  std::string after;
  if (plain == "Invalid status" && !names_status) {
    after = "a version's \"Status\" is 1 (current), 2 (submitted), 3 (checked) or 4 (issued)";
  }
  if (plain.find("is a list column: row -1 is no row of the list") != std::string::npos) {
    bool has_index = false;
    for (const Tag& tag : StartTags(Utf16ToUtf8(text)))
      has_index = has_index || Holds(tag.attributes, "Index");
    if (!has_index) after = "the request has no \"Index\": name the row with it (0 the first)";
  }
  Join(&after, KnownNames(plain, schema));
  if (!before.empty()) {
    Join(&before, after);
    hint.text = Wide(before);
    hint.first = true;
  } else {
    hint.text = Wide(after);
  }
  return hint;
}

std::u16string FailureLine(std::u16string_view description, const RequestHint& hint) {
  const std::u16string line = OneLine(description);
  const std::u16string more = OneLine(hint.text);
  if (more.empty()) return line;
  if (line.empty()) return more;
  return hint.first ? more + u"; the module says: " + line : line + u"; " + more;
}

}  // namespace kx::host
