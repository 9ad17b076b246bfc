// Reads the grammar of every message of this build's module and writes
// either the table kxqhost compiles in (message_attributes.inc: the
// attributes each message's grammar knows, per element, so that the program
// can name an attribute of a request that the module would ignore) or the
// reference of the messages for those who write a host (docs/messages.md).
//
//   kxqhost_message_attributes PLANT OUT               the table
//   kxqhost_message_attributes --reference PLANT OUT   the reference
//
// Each message of the module's map is sent, with an empty message element,
// to a Main made in-process on a store of the sample plant; the worker table
// keeps the grammar of the parser that reaches its worker and stops the
// request there. A message whose text is not XML (a bare id or name) has no
// grammar: the table has no row for it, and the reference says what its
// text is from kBareTexts below, which must name exactly those messages.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "com/wstr.h"
#include "host/host.h"
#include "host/startup.h"
#include "main/main.h"
#include "main/mainworkers.h"
#include "main/messagemap.h"
#include "message_notes.h"
#include "store/admin.h"
#include "store/database.h"

namespace {

using kx::kxqhost::AttributeNote;
using kx::kxqhost::AttributeNotes;
using kx::kxqhost::ReplyNote;
using kx::kxqhost::ReplyNotes;

// What the text of a message without grammar is, as its handler reads it.
struct BareText {
  const char* message;
  const char* text;
};

constexpr BareText kBareTexts[] = {
    {"AddFieldObjects", "Bare text, not read: the request is accepted and changes nothing."},
    {"ChangeDimensionSet",
     "Bare text: a dimension set's name (\"SI\", \"US\"); an empty text or \"DefaultUnits\" "
     "is \"SI\"."},
    {"DeletePage", "Bare text: a current page's id, in decimal."},
    {"GetBitmapFile",
     "Bare text: a bitmap file's name, in the template library's bitmap folder (its template "
     "folder when it has none)."},
    {"GetConfigurations", "Bare text, not read."},
    {"GetObjectFilters", "Bare text, not read."},
    {"GetSourceFile",
     "Bare text: a source file's name, a \".qmf\" name (in any letter case) in the "
     "\"Templates\" folder, any other in the \"Datasheets\" folder."},
    {"GetTemplateFile", "Bare text: a template id, whose template file is sent."},
    {"ListCachedTemplates", "Bare text, not read."},
    {"ListDatasheetObjects", "Bare text: a datasheet id, in decimal."},
    {"ListDatasheetsByField", "Bare text: a field id, in decimal."},
    {"ListDatasheetsByStatus",
     "Bare text: a document status, in decimal (1 current, 2 submitted, 3 checked, 4 issued)."},
    {"ListDiagrams", "Bare text, not read."},
    {"ListDimensionSets", "Bare text, not read."},
    {"ListDimensionUnits", "Bare text: a dimension's name."},
    {"ListDimensions", "Bare text, not read."},
    {"ListHolds", "Bare text, not read."},
    {"ListPageObjects", "Bare text: a page id, in decimal."},
    {"ListSharedDiagrams", "Bare text, not read."},
    {"ListTemplatePages", "Bare text: a datasheet id, in decimal."},
    {"ListTemplates", "Bare text, not read."},
    {"OpenPage",
     "Bare text: a page id, in decimal; a \"!\" after it opens the page without its editing "
     "trigger (\"OnDemand\" \"0\" in the reply)."},
    {"RemoveFieldObjects", "Bare text, not read: the request is accepted and changes nothing."},
    {"SetQMFDBTemplate",
     "Bare text: TEMPLATEID!::!CHECKNUM!::!BASE64DATA, a template id, its checknum and the "
     "workbook in Base64, joined by \"!::!\"."},
    {"ValidateTemplates", "Bare text, not read."},
};

class GrammarCapture final : public MainWorkers {
 public:
  HRESULT RunWorker(MessageParser& request, uint32_t) override {
    if (grammar == nullptr) grammar = request.GetSchema();
    return E_ABORT;
  }
  const GrammarRecord* grammar = nullptr;
};

// A message of the map and the grammar its request reached (null: none).
struct Message {
  std::string name;
  const GrammarRecord* grammar = nullptr;
};

std::string Utf8(const OLECHAR* text) { return kx_utf16_to_utf8_lossy(text ? text : u""); }

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

bool IsAttribute(const GrammarRecord& record) {
  return record.kind >= kGrammarStringAttribute && record.kind <= kGrammarBooleanAttribute;
}
bool IsTextElement(const GrammarRecord& record) {
  return record.kind >= kGrammarStringElement && record.kind <= kGrammarBooleanElement;
}

// The type of a value of kinds 4-11 (the type is kind & 3).
const char* TypeName(uint32_t kind) {
  switch (kind & 3u) {
    case kSAXReal: return "real";
    case kSAXInteger: return "integer";
    case kSAXBoolean: return "Boolean";
    default: return "text";
  }
}

// The table kxqhost compiles in: per message, its elements in the grammar's
// order with their attributes.
std::string TableRows(const std::vector<Message>& messages) {
  std::string rows;
  for (const Message& message : messages) {
    // A message without grammar: its name alone, for the names kxqhost knows.
    if (message.grammar == nullptr) {
      rows += "    {" + Quoted(message.name) + ", \"\", \"\"},\n";
      continue;
    }
    std::vector<std::pair<std::string, std::string>> elements;
    for (const GrammarRecord* record = message.grammar + 1; record->kind != kGrammarEnd; ++record) {
      if (record->kind == kGrammarElement) {
        elements.emplace_back(Utf8(record->name), "");
      } else if (IsAttribute(*record) && !elements.empty()) {
        std::string& list = elements.back().second;
        list += (list.empty() ? "" : " ") + Utf8(record->name);
      }
    }
    for (const auto& [element, attributes] : elements) {
      rows += "    {" + Quoted(message.name) + ", " + Quoted(element) + ", " + Quoted(attributes) +
              "},\n";
    }
  }
  return "// Written by kxqhost_message_attributes: message, element, its attributes (no element:\n"
         "// a message without grammar).\n" +
         rows;
}

// ---------------------------------------------------------------------------
// The reference

// An element of a grammar: its record, its attributes and the ids of the
// children it takes.
struct Element {
  const GrammarRecord* record = nullptr;
  std::vector<const GrammarRecord*> attributes;
  std::vector<uint32_t> children;
};

std::vector<Element> ElementsOf(const GrammarRecord* grammar) {
  std::vector<Element> elements;
  bool open = false;  // attribute and child records belong to an open kind-2 record
  for (const GrammarRecord* record = grammar + 1; record->kind != kGrammarEnd; ++record) {
    if (record->kind == kGrammarElement) {
      elements.push_back(Element{record, {}, {}});
      open = true;
    } else if (IsTextElement(*record)) {
      elements.push_back(Element{record, {}, {}});
      open = false;
    } else if (record->kind == kGrammarElementEnd) {
      open = false;
    } else if (open && IsAttribute(*record)) {
      elements.back().attributes.push_back(record);
    } else if (open && record->kind == kGrammarChild) {
      elements.back().children.push_back(record->id);
    }
  }
  return elements;
}

std::string Names(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& name : names) out += (out.empty() ? "" : ", ") + Quoted(name);
  return out;
}

// What an element takes: its attributes with their types, or its text.
std::string Takes(const Element& element) {
  if (IsTextElement(*element.record)) {
    return std::string("its text (") + TypeName(element.record->kind) + ")";
  }
  std::string out;
  for (const GrammarRecord* attribute : element.attributes) {
    out += (out.empty() ? "" : ", ") + Quoted(Utf8(attribute->name)) + " (" +
           TypeName(attribute->kind) + ")";
  }
  return out.empty() ? "nothing" : out;
}

// The envelope as every request has it: "TargetId" text, "Status" integer.
bool IsUsualEnvelope(const Element& envelope) {
  return envelope.attributes.size() == 2 && Utf8(envelope.attributes[0]->name) == "TargetId" &&
         envelope.attributes[0]->kind == kGrammarStringAttribute &&
         Utf8(envelope.attributes[1]->name) == "Status" &&
         envelope.attributes[1]->kind == kGrammarIntegerAttribute;
}

// One table row per element a request may hold, from the message element
// down, each once, with the elements that take it.
bool WriteGrammar(const Message& message, std::string* out, std::string* error) {
  const std::vector<Element> elements = ElementsOf(message.grammar);
  const auto envelope = std::find_if(elements.begin(), elements.end(), [](const Element& e) {
    return e.record->kind == kGrammarElement && Utf8(e.record->name) == "XMLMessage";
  });
  if (envelope == elements.end()) {
    *error = message.name + ": the grammar has no \"XMLMessage\" envelope";
    return false;
  }
  // The elements a child id names (an element id or a text element's value id).
  const auto named = [&](uint32_t id) {
    std::vector<size_t> found;
    for (size_t i = 0; i < elements.size(); ++i) {
      if (elements[i].record->id == id && &elements[i] != &*envelope) found.push_back(i);
    }
    return found;
  };
  // The message element first, then the other message elements the
  // envelope takes, then their children level by level.
  std::vector<size_t> order;
  for (const uint32_t id : envelope->children) {
    for (const size_t i : named(id)) {
      if (std::find(order.begin(), order.end(), i) != order.end()) continue;
      if (Utf8(elements[i].record->name) == message.name) {
        order.insert(order.begin(), i);
      } else {
        order.push_back(i);
      }
    }
  }
  for (size_t at = 0; at < order.size(); ++at) {
    for (const uint32_t id : elements[order[at]].children) {
      for (const size_t child : named(id)) {
        if (std::find(order.begin(), order.end(), child) == order.end()) order.push_back(child);
      }
    }
  }
  if (order.empty() || Utf8(elements[order.front()].record->name) != message.name) {
    *error = message.name + ": the envelope does not take an element of that name";
    return false;
  }

  *out += "| element | in | takes |\n|---|---|---|\n";
  if (!IsUsualEnvelope(*envelope)) {
    *out += "| \"XMLMessage\" | the request | " + Takes(*envelope) + " |\n";
  }
  for (const size_t i : order) {
    std::vector<std::string> parents;
    for (const Element& parent : elements) {
      if (parent.record->kind != kGrammarElement) continue;
      if (std::find(parent.children.begin(), parent.children.end(), elements[i].record->id) !=
          parent.children.end()) {
        parents.push_back(Utf8(parent.record->name));
      }
    }
    *out += "| " + Quoted(Utf8(elements[i].record->name)) + " | " + Names(parents) + " | " +
            Takes(elements[i]) + " |\n";
  }
  return true;
}

// GitHub's anchor of a heading that is one word.
std::string Anchor(const std::string& name) {
  std::string out;
  for (const char c : name) out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The words of `text` in lines of at most 76 characters, each line after
// the first begun with `indent`.
std::string Wrapped(const std::string& text, const std::string& indent = "") {
  std::istringstream words(text);
  std::string out, line, word;
  while (words >> word) {
    if (!line.empty() && line.size() + 1 + word.size() > 76) {
      out += line + "\n";
      line = indent;
    }
    line += (line.empty() || line == indent ? "" : " ") + word;
  }
  return out + line + "\n";
}

constexpr char kReferenceHead[] =
    "# The messages\n"
    "\n"
    "What the request text of each of the module's messages holds: the elements\n"
    "and attributes of its grammar, with their types, or what the text is for a\n"
    "message whose text is not XML. `kxqhost_message_attributes --reference`\n"
    "(`tools/kxqhost/grammars/message_attributes.cpp`, built with `kxqhost`)\n"
    "writes this file from the grammars of the module; the test\n"
    "`messages_reference` fails when they differ. After a grammar changed, from\n"
    "the source tree:\n"
    "\n"
    "    build/bin/kxqhost_message_attributes --reference examples/plant.xml docs/messages.md\n"
    "\n"
    "An XML request is an \"XMLMessage\" envelope with \"TargetId\" (text) and\n"
    "\"Status\" (integer) that holds the message element (`examples/README.md`,\n"
    "\"The envelope\", says what they do); a table below shows the envelope only\n"
    "where it takes something else. Each row is an element the request may\n"
    "hold, inside the elements named \"in\", any number of times, with the\n"
    "attributes it takes, or its text for an element whose text is the value.\n"
    "Names are compared with their letter case; an element or attribute the\n"
    "grammar does not name where it stands is ignored, with what it holds. The\n"
    "types: text, as it stands; integer, a whole number in decimal; real, a\n"
    "decimal number with \".\" as decimal point; Boolean, \"1\", \"true\", \"on\",\n"
    "\"yes\" or \"t\", else false (\"0\", \"false\", \"off\", \"no\", \"f\"), in any\n"
    "letter case.\n"
    "\n"
    "An integer is written in the digits 0 to 9: one that holds a digit of\n"
    "another script (\"\u0662\", \"\uFF12\"), also after digits 0 to 9 (\"1\u0662\"), is\n"
    "refused as no number, not read as the digits before it. Blanks and a sign\n"
    "may stand before the digits; other characters after them end the number:\n"
    "\"103abc\" and \"103.9\" are read as 103. An empty text is read as 0. A\n"
    "text with no digit (\"abc\", blanks alone), in hexadecimal (\"0x67\") or\n"
    "beyond 32 bits fails the request, naming the attribute.\n"
    "\n"
    "A message without a grammar takes a bare text, not XML: its section says\n"
    "what the text is (a line end after a bare id or name is not part of it).\n"
    "The sample requests of `examples/requests/` show most messages in use\n"
    "(`examples/README.md`, \"Requests\", says what each does).\n"
    "\n";

constexpr char kReferenceForms[] =
    "Under the table of a message with a grammar, a list says what the message\n"
    "reads of its request beyond the types: each attribute of the envelope,\n"
    "whether the message reads it and which values it accepts, and each\n"
    "attribute the message needs (\"needed\": without it the request fails, or\n"
    "succeeds and changes nothing; `kxqhost request` names one that a request\n"
    "lacks). \"Reply\" then says what the message answers. The change events\n"
    "that bring a change to the clients are described in\n"
    "`docs/writing-a-host.md`, \"The change events' XML\". Forms that several\n"
    "replies share:\n"
    "\n"
    "- An alert: \"XMLMessage\" with \"TargetId\" \"App\" (or the request's\n"
    "  \"TargetId\" and \"Status\", where a message says so) holding one \"Message\"\n"
    "  with \"MessageType\" \"ALERT\" and the text as its content: what was done,\n"
    "  or why nothing was. A question has \"MessageType\" \"QUESTION\" and the\n"
    "  document's \"DocumentId\" where one is meant: the client asks the user\n"
    "  and sends the request again with its confirmation (\"Confirmed\",\n"
    "  \"CaseId\", ...) to act. A reply that gives back the request's \"Status\"\n"
    "  leaves it out when the request has none. Booleans are \"1\" or \"0\".\n"
    "- A field element, one per field of a page: \"ShowStringField\",\n"
    "  \"ShowRealField\", \"ShowIntegerField\", \"ShowDateField\",\n"
    "  \"ShowBoolField\", \"ShowRadioField\", \"ShowCheckField\",\n"
    "  \"ShowSketchField\" or \"ShowAnnotationField\", with \"PageId\", \"FieldId\"\n"
    "  (the field's id in the page's template; an annotation's id), \"Index\" (a\n"
    "  list row, from 0; only for a row), \"Value\" (the text shown),\n"
    "  \"Alignment\" and \"VerticalAlignment\" (the client's numbers), \"Format\",\n"
    "  \"Prefix\", \"Postfix\" and \"Substitution\" (number fields), \"TLX\",\n"
    "  \"TLY\", \"BRX\", \"BRY\" (a sketch's frame), \"X\", \"Y\" and \"Markup\"\n"
    "  (an annotation's place, and whether it is a mark-up), and \"State\": bits\n"
    "  0x1, 0x2, 0x4, 0x8 and 0x800 from the value's status in the store (0x800:\n"
    "  out of the user's scope), 0x100 the field differs from the last issue (in\n"
    "  a comparison: from the other version), 0x1000 in a comparison: this\n"
    "  version has no value and the other's is shown.\n"
    "- \"ShowUnit\" (\"PageId\", \"UnitId\": the unit field's number from 0,\n"
    "  \"Alignment\", \"VerticalAlignment\", \"Value\": the unit shown),\n"
    "  \"ShowRevision\" (\"PageId\", \"RevisionId\", \"Alignment\",\n"
    "  \"VerticalAlignment\", \"Value\": the revision mark, \"Index\" for a row),\n"
    "  \"ShowQualifier\" (\"PageId\", \"QualifierId\", \"Value\").\n"
    "- A page: \"Page\" with \"PageId\", \"Name\", \"TemplatePageId\",\n"
    "  \"TemplateId\", \"Checknum\" (the template version it was made from) and\n"
    "  its print set-up where it has one (\"Orientation\", \"ScaleMode\",\n"
    "  \"ScaleFactor\", \"CenterHorizontal\", \"CenterVertical\", the margins,\n"
    "  \"PaperSize\", \"PaperWidth\", \"PaperLength\", \"PaperSource\"). Its\n"
    "  contents, where a message writes them: its field elements, then its\n"
    "  \"ShowUnit\", \"ShowRevision\", \"ShowAnnotationField\" and\n"
    "  \"ShowQualifier\" elements.\n"
    "- A datasheet (\"OpenDocuments\" and its kin): \"Datasheet\" with\n"
    "  \"CurrentDimensionSet\", \"DocumentId\", \"Status\" (the version: 1\n"
    "  current, 2 submitted, 3 checked, 4 issued), \"Title\" (the name shown,\n"
    "  after \"[Submitted] \", \"[Checked] \" or \"[Issued] \" for a version;\n"
    "  \"[ReadOnly] \" first when it is read only), \"Name\", \"Type\" (1\n"
    "  datasheet, 2 summary sheet, 3 summary sheet of the active project),\n"
    "  \"Scoped\" (in the user's scope), \"ShowClaimed\" (a summary sheet of\n"
    "  claimed objects only), \"Watermark\" (\"Draft\", \"Submitted\",\n"
    "  \"Checked\", \"Issued\") and \"ReadOnly\" (the current version of a\n"
    "  datasheet filed in a retrievable folder); it holds a \"Page\" per page\n"
    "  of the version, each followed by its contents where the message writes\n"
    "  them.\n"
    "\n";

// Whether `element` of a grammar takes `attribute`.
bool TakesAttribute(const std::vector<Element>& elements, const std::string& element,
                    const std::string& attribute) {
  for (const Element& e : elements) {
    if (Utf8(e.record->name) != element) continue;
    for (const GrammarRecord* a : e.attributes) {
      if (Utf8(a->name) == attribute) return true;
    }
  }
  return false;
}

// The list of what `message` reads of its request, from its notes, each
// checked against its grammar; then its reply.
bool WriteNotes(const Message& message, std::string* out, std::string* error) {
  std::vector<const AttributeNote*> notes;
  for (const AttributeNote& note : AttributeNotes()) {
    if (message.name == note.message) notes.push_back(&note);
  }
  if (message.grammar != nullptr) {
    const std::vector<Element> elements = ElementsOf(message.grammar);
    for (const AttributeNote* note : notes) {
      if (!TakesAttribute(elements, note->element, note->attribute)) {
        *error = message.name + ": its grammar has no \"" + note->attribute + "\" on \"" +
                 note->element + "\" for its note";
        return false;
      }
    }
    // Every attribute of the envelope has its note: a reader must learn
    // whether the message reads it.
    for (const Element& element : elements) {
      if (Utf8(element.record->name) != "XMLMessage") continue;
      for (const GrammarRecord* attribute : element.attributes) {
        const std::string name = Utf8(attribute->name);
        if (std::none_of(notes.begin(), notes.end(), [&](const AttributeNote* note) {
              return std::strcmp(note->element, "XMLMessage") == 0 && name == note->attribute;
            })) {
          *error = message.name + ": the envelope's \"" + name + "\" has no note";
          return false;
        }
      }
    }
    *out += "\n";
    for (const AttributeNote* note : notes) {
      const bool envelope = std::strcmp(note->element, "XMLMessage") == 0;
      std::string head = "- " + Quoted(note->attribute);
      if (!envelope && message.name != note->element) head += " on " + Quoted(note->element);
      std::string kind = envelope ? "envelope" : "";
      if (note->needed) kind += kind.empty() ? "needed" : ", needed";
      if (!kind.empty()) head += " (" + kind + ")";
      *out += Wrapped(head + ": " + note->use, "  ");
    }
  } else if (!notes.empty()) {
    *error = message.name + " takes a bare text: it has no attribute to note";
    return false;
  }
  const auto reply = std::find_if(ReplyNotes().begin(), ReplyNotes().end(),
                                  [&](const ReplyNote& r) { return message.name == r.message; });
  if (reply == ReplyNotes().end()) {
    *error = message.name + " has no reply note: say what it answers in message_replies.cpp";
    return false;
  }
  *out += "\n" + Wrapped(std::string("Reply: ") + reply->reply);
  return true;
}

// Every note names a message of the module, once for its reply.
bool NotesNameMessages(const std::vector<Message>& messages, std::string* error) {
  const auto known = [&](const char* name) {
    return std::any_of(messages.begin(), messages.end(),
                       [&](const Message& m) { return m.name == name; });
  };
  for (const AttributeNote& note : AttributeNotes()) {
    if (!known(note.message)) {
      *error = std::string(note.message) + " in the attribute notes is no message of the module";
      return false;
    }
  }
  std::map<std::string, int> replies;
  for (const ReplyNote& note : ReplyNotes()) {
    if (!known(note.message) || ++replies[note.message] > 1) {
      *error = std::string(note.message) +
               " in the reply notes is no message of the module, "
               "or is there twice";
      return false;
    }
  }
  return true;
}

// The host library names the module's messages for its hints (the nearest
// names to a misspelt one): the same names, each once.
bool HostNamesMessages(const std::vector<Message>& messages, std::string* error) {
  std::vector<std::string> module, host;
  for (const Message& message : messages) module.push_back(message.name);
  for (std::string_view name : kx::host::MessageNames()) host.emplace_back(name);
  std::sort(module.begin(), module.end());
  if (module == host) return true;
  *error = "the host library's message names (host/message_notes.cpp) are not the module's";
  return false;
}

bool Reference(std::vector<Message> messages, std::string* out, std::string* error) {
  std::map<std::string, const char*> bare;
  for (const BareText& entry : kBareTexts) bare[entry.message] = entry.text;
  std::sort(messages.begin(), messages.end(),
            [](const Message& a, const Message& b) { return a.name < b.name; });
  std::string index;
  for (const Message& message : messages) {
    index +=
        (index.empty() ? "" : ", ") + ("[" + message.name + "](#" + Anchor(message.name) + ")");
  }
  if (!NotesNameMessages(messages, error)) return false;
  *out = std::string(kReferenceHead) + kReferenceForms;
  *out += Wrapped(std::to_string(messages.size()) + " messages: " + index + ".");
  for (const Message& message : messages) {
    *out += "\n## " + message.name + "\n\n";
    const auto text = bare.find(message.name);
    if (message.grammar != nullptr) {
      if (text != bare.end()) {
        *error = message.name + " has a grammar and a text in kBareTexts: drop the text";
        return false;
      }
      if (!WriteGrammar(message, out, error)) return false;
    } else {
      if (text == bare.end()) {
        *error = message.name + " has no grammar: say what its text is in kBareTexts";
        return false;
      }
      *out += Wrapped(text->second);
      bare.erase(text);
    }
    if (!WriteNotes(message, out, error)) return false;
  }
  // What is left names no message: each message took its own or failed.
  if (!bare.empty()) {
    *error = bare.begin()->first + " in kBareTexts is no message of the module";
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const bool reference = argc == 4 && std::strcmp(argv[1], "--reference") == 0;
  if (argc != 3 && !reference) {
    std::fprintf(stderr, "usage: %s [--reference] PLANT OUT\n", argv[0]);
    return 2;
  }
  const char* plant_path = argv[argc - 2];
  const char* out_path = argv[argc - 1];
  std::ifstream plant_file(plant_path, std::ios::binary);
  std::stringstream plant;
  plant << plant_file.rdbuf();
  std::unique_ptr<kx::store::Store> store;
  if (!kx::store::Store::Open(":memory:", kx::store::OpenMode::kCreate, &store).ok() ||
      !store->ImportFixtureText(plant.str(), "plant").ok()) {
    std::fprintf(stderr, "%s: cannot make a store of %s\n", argv[0], plant_path);
    return 1;
  }
  _com_ptr_t<IKXQSchema> schema;
  _com_ptr_t<IKXQTemplateLibrary> library;
  store->Database()->get_Schema(&schema);
  store->Database()->get_TemplateLibrary(&library);
  std::vector<Message> messages;
  {
    kx::host::Host host;
    host.application().SetStore(store->Database(), schema, library);
    // The messages that check a privilege first ("CheckDocuments", ...).
    for (const char16_t* privilege : kx::host::kHostPrivileges) host.privileges().Grant(privilege);
    GrammarCapture workers;
    IKXQDataService* service = nullptr;
    if (FAILED(Main::CreateInstance(IID_IKXQDataService, reinterpret_cast<void**>(&service)))) {
      std::fprintf(stderr, "%s: cannot make the module\n", argv[0]);
      return 1;
    }
    static_cast<Main*>(service)->UseWorkers(&workers);
    const auto module = kx::host::Ref<IKXQDataService>::Adopt(service);
    host.Attach(module.get());
    const DataServiceMapEntry* map = GetDataServiceMap();
    for (int i = 0; i < kDataServiceMessageCount; ++i) {
      const std::u16string name = map[i].name;
      workers.grammar = nullptr;
      (void)store->Begin();
      (void)host.Request(name, u"<XMLMessage><" + name + u"/></XMLMessage>");
      host.application().DiscardPendingEvents();
      (void)store->Rollback();
      messages.push_back(Message{Utf8(name.c_str()), workers.grammar});
    }
    host.Detach();
  }
  std::string text;
  if (std::string error; !HostNamesMessages(messages, &error)) {
    std::fprintf(stderr, "%s: %s\n", argv[0], error.c_str());
    return 1;
  }
  if (reference) {
    std::string error;
    if (!Reference(messages, &text, &error)) {
      std::fprintf(stderr, "%s: %s\n", argv[0], error.c_str());
      return 1;
    }
  } else {
    text = TableRows(messages);
  }
  std::ofstream out(out_path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) return 1;
  // Said only when the reference is written by hand: a build step prints
  // nothing of its own.
  if (reference) {
    const auto with_grammar = std::count_if(messages.begin(), messages.end(),
                                            [](const Message& m) { return m.grammar != nullptr; });
    std::printf("wrote %s: %d messages, %d with a grammar\n", out_path,
                static_cast<int>(messages.size()), static_cast<int>(with_grammar));
  }
  return 0;
}
