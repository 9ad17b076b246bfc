#include "store/internal/fixture.h"

#include <cmath>
#include <cstdlib>
#include <expat.h>
#include <functional>
#include <map>

#include "com/errorinfo.h"
#include "store/internal/com_util.h"

namespace kx::store {

namespace {

constexpr int kMaxDepth = 64;

// A parsed element: what the importer walks.
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

[[noreturn]] void Throw(const Element& e, std::string message) {
  throw FixtureError{e.line, std::move(message)};
}

struct ParseState {
  XML_Parser parser = nullptr;
  std::unique_ptr<Element> root;
  std::vector<Element*> stack;
  std::string error;
  long errorLine = 0;
};

void XMLCALL OnStart(void* data, const XML_Char* name, const XML_Char** attrs) {
  auto* st = static_cast<ParseState*>(data);
  if (static_cast<int>(st->stack.size()) >= kMaxDepth) {
    st->error = "elements are nested deeper than " + std::to_string(kMaxDepth);
    st->errorLine = static_cast<long>(XML_GetCurrentLineNumber(st->parser));
    XML_StopParser(st->parser, XML_FALSE);
    return;
  }
  auto e = std::make_unique<Element>();
  e->name = name;
  e->line = static_cast<long>(XML_GetCurrentLineNumber(st->parser));
  e->begin = static_cast<long>(XML_GetCurrentByteIndex(st->parser));
  e->startTagEnd = e->begin + XML_GetCurrentByteCount(st->parser);
  for (int k = 0; attrs[k]; k += 2) e->attrs[attrs[k]] = attrs[k + 1];
  Element* raw = e.get();
  if (st->stack.empty())
    st->root = std::move(e);
  else
    st->stack.back()->children.push_back(std::move(e));
  st->stack.push_back(raw);
}

void XMLCALL OnEnd(void* data, const XML_Char*) {
  auto* st = static_cast<ParseState*>(data);
  Element* e = st->stack.back();
  // An empty-element tag reports no bytes of its own here: it ends with its
  // start tag (searching the text for "/>" would stop inside an attribute
  // value that holds one).
  const int count = XML_GetCurrentByteCount(st->parser);
  e->end =
      count > 0 ? static_cast<long>(XML_GetCurrentByteIndex(st->parser) + count) : e->startTagEnd;
  st->stack.pop_back();
}

void XMLCALL OnText(void* data, const XML_Char* s, int len) {
  auto* st = static_cast<ParseState*>(data);
  if (!st->stack.empty()) st->stack.back()->text.append(s, static_cast<size_t>(len));
}

void XMLCALL OnDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
  auto* st = static_cast<ParseState*>(data);
  st->error = "a document type declaration is not allowed";
  st->errorLine = static_cast<long>(XML_GetCurrentLineNumber(st->parser));
  XML_StopParser(st->parser, XML_FALSE);
}

bool ParseXml(const std::string& xml, std::unique_ptr<Element>* root, long* line,
              std::string* error) {
  ParseState st;
  st.parser = XML_ParserCreate("UTF-8");
  if (!st.parser) {
    *error = "out of memory";
    return false;
  }
  XML_SetUserData(st.parser, &st);
  XML_SetElementHandler(st.parser, OnStart, OnEnd);
  XML_SetCharacterDataHandler(st.parser, OnText);
  XML_SetStartDoctypeDeclHandler(st.parser, OnDoctype);
  if (xml.size() > (1u << 30)) {
    XML_ParserFree(st.parser);
    *error = "the document is larger than 1 GiB";
    return false;
  }
  bool ok =
      XML_Parse(st.parser, xml.data(), static_cast<int>(xml.size()), XML_TRUE) == XML_STATUS_OK;
  if (!ok) {
    if (st.error.empty()) {
      st.error = XML_ErrorString(XML_GetErrorCode(st.parser));
      st.errorLine = static_cast<long>(XML_GetCurrentLineNumber(st.parser));
    }
    *error = st.error;
    *line = st.errorLine;
  }
  XML_ParserFree(st.parser);
  if (ok) *root = std::move(st.root);
  return ok;
}

u16 Text16(const Element& e, const std::string& s) {
  u16 out;
  if (!FromUtf8(s, &out)) Throw(e, "text that is not UTF-8");
  return out;
}

u16 AttrText(const Element& e, const char* key, const char* fallback = nullptr) {
  const std::string* v = e.Attr(key);
  if (!v) {
    if (fallback) return U16(fallback);
    Throw(e, "<" + e.name + "> needs the attribute \"" + key + "\"");
  }
  return Text16(e, *v);
}

long AttrLong(const Element& e, const char* key, long fallback, bool required = false) {
  const std::string* v = e.Attr(key);
  if (!v) {
    if (required) Throw(e, "<" + e.name + "> needs the attribute \"" + key + "\"");
    return fallback;
  }
  char* endp = nullptr;
  errno = 0;
  long n = std::strtol(v->c_str(), &endp, 10);
  if (v->empty() || *endp || errno || n < -2147483647L - 1 || n > 2147483647L)
    Throw(e, "attribute \"" + std::string(key) + "\" is not an integer: \"" + *v + "\"");
  return n;
}

double ParseDouble(const Element& e, const std::string& s, const char* what) {
  char* endp = nullptr;
  double d = std::strtod(s.c_str(), &endp);
  if (s.empty() || *endp || !std::isfinite(d))
    Throw(e, std::string(what) + " is not a number: \"" + s + "\"");
  return d;
}

bool AttrBool(const Element& e, const char* key, bool fallback) {
  const std::string* v = e.Attr(key);
  if (!v) return fallback;
  if (*v == "true" || *v == "1") return true;
  if (*v == "false" || *v == "0") return false;
  Throw(e, "attribute \"" + std::string(key) + "\" must be true or false, not \"" + *v + "\"");
}

void CheckChildren(const Element& e, std::initializer_list<const char*> allowed) {
  for (auto& c : e.children) {
    bool ok = false;
    for (const char* a : allowed) ok = ok || c->name == a;
    if (!ok) Throw(*c, "unexpected element <" + c->name + "> in <" + e.name + ">");
  }
}

void CheckHr(const Element& e, HRESULT hr) {
  if (SUCCEEDED(hr)) return;
  std::string text;
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) == S_OK && info) {
    BSTR desc = nullptr;
    info->GetDescription(&desc);
    text = ToUtf8(FromBstr(desc));
    SysFreeString(desc);
    info->Release();
  }
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(hr));
  Throw(e, text.empty() ? std::string("failed with ") + hex : text);
}

int TypeCode(const Element& e, const std::string& t) {
  static const std::map<std::string, int> kNames = {{"text", 1},    {"real", 2},    {"object", 3},
                                                    {"string", 4},  {"integer", 5}, {"date", 6},
                                                    {"boolean", 7}, {"binary", 8}};
  auto it = kNames.find(t);
  if (it != kNames.end()) return it->second;
  if (t.size() == 1 && t[0] >= '1' && t[0] <= '8') return t[0] - '0';
  Throw(e, "unknown data type \"" + t + "\"");
}

std::vector<u16> SplitList(const u16& s, char16_t sep) {
  std::vector<u16> out;
  u16 cur;
  for (char16_t c : s) {
    if (c == sep) {
      if (!cur.empty()) out.push_back(cur);
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  if (!cur.empty()) out.push_back(cur);
  return out;
}

u16 Trim(const u16& s) {
  size_t a = s.find_first_not_of(u" \t\r\n");
  if (a == u16::npos) return u16();
  size_t b = s.find_last_not_of(u" \t\r\n");
  return s.substr(a, b - a + 1);
}

// ---------------------------------------------------------------------------
// Templates

void ReadNode(const Element& e, TPage& page, int parent, LONG* nextIndex) {
  TNode n;
  n.name = AttrText(e, "name");
  n.index = AttrLong(e, "index", *nextIndex);
  // The index is a list position less one ("NodeIndices"): it must fit one.
  if (n.index < 0 || static_cast<size_t>(n.index) >= kMaxPosition)
    Throw(e, "node index " + std::to_string(n.index) + " is outside 0 to " +
                 std::to_string(kMaxPosition - 1));
  *nextIndex = std::max<LONG>(*nextIndex, n.index + 1);
  n.id = AttrLong(e, "id", n.index);
  n.parent = parent;
  n.classes = SplitList(AttrText(e, "classes", ""), u',');
  n.repeats = AttrBool(e, "repeats", false);
  n.caseSlot = AttrLong(e, "caseSlot", -1);
  for (const TNode& other : page.nodes)
    if (other.index == n.index) Throw(e, "two nodes of page have index " + std::to_string(n.index));
  int self = static_cast<int>(page.nodes.size());
  page.nodes.push_back(n);
  if (parent < 0)
    page.roots.push_back(self);
  else
    page.nodes[static_cast<size_t>(parent)].children.push_back(self);
  CheckChildren(e, {"node", "field"});
  for (auto& c : e.children) {
    if (c->name == "node") {
      ReadNode(*c, page, self, nextIndex);
      continue;
    }
    TField f;
    f.id = AttrLong(*c, "id", 0, true);
    f.number = static_cast<LONG>(page.fields.size()) + 1;
    f.type = AttrText(*c, "type", "String");
    static const char16_t* const kTypes[] = {u"String",  u"Real",  u"Integer", u"Date",
                                             u"Boolean", u"Radio", u"Check",   u"Sketch"};
    bool known = false;
    for (const char16_t* t : kTypes) known = known || EqualsNoCase(f.type, t);
    if (!known) Throw(*c, "unknown field type \"" + ToUtf8(f.type) + "\"");
    f.attribute = AttrText(*c, "attribute", "");
    f.align = AttrLong(*c, "align", 0);
    f.valign = AttrLong(*c, "valign", 0);
    f.unitPos = AttrLong(*c, "unit", -1);
    f.initialState = AttrLong(*c, "state", 0);
    f.qualifierPos = AttrLong(*c, "qualifier", -1);
    f.casePos = AttrLong(*c, "case", -1);
    f.revisionIndex = AttrLong(*c, "revision", -1);
    f.valueKey = AttrLong(*c, "valueKey", f.number - 1);
    // Options keep empty entries ("Low||High" offers a blank choice).
    const u16 options = AttrText(*c, "options", "");
    if (!options.empty()) {
      u16 entry;
      for (char16_t ch : options) {
        if (ch != u'|') {
          entry.push_back(ch);
          continue;
        }
        f.options.push_back(entry);
        entry.clear();
      }
      f.options.push_back(entry);
    }
    f.optionsFrom = AttrText(*c, "optionsFrom", "");
    f.node = self;
    for (const TField& other : page.fields)
      if (other.id == f.id) Throw(*c, "two fields of a page have id " + std::to_string(f.id));
    page.nodes[static_cast<size_t>(self)].fields.push_back(static_cast<int>(page.fields.size()));
    page.fields.push_back(f);
  }
}

std::unique_ptr<TemplateRec> ReadTemplate(const Element& e) {
  auto t = std::make_unique<TemplateRec>();
  t->id = AttrText(e, "id");
  t->checknum = AttrText(e, "checknum", "1");
  for (char16_t c : t->checknum)
    if (c < u'0' || c > u'9')
      Throw(e, "a checknum is a decimal number, not \"" + ToUtf8(t->checknum) + "\"");
  if (t->checknum.empty()) Throw(e, "a checknum is a decimal number, not \"\"");
  t->name = AttrText(e, "name", "");
  if (t->name.empty()) t->name = t->id;
  t->kind = AttrText(e, "kind", "Datasheet");
  t->category = AttrText(e, "category", "");
  t->path = AttrText(e, "path", "");
  t->available = AttrBool(e, "available", true);
  t->classes = SplitList(AttrText(e, "classes", ""), u',');
  CheckChildren(e, {"page", "cachedData", "workbook"});
  for (auto& c : e.children) {
    if (c->name == "cachedData") {
      t->cachedData = Text16(*c, c->text);
      continue;
    }
    if (c->name == "workbook") {
      t->workbook = Text16(*c, c->text);
      continue;
    }
    TPage page;
    page.id = AttrText(*c, "id");
    // Without a name the page is named by its id; name="" keeps it unnamed.
    page.name = c->Attr("name") ? AttrText(*c, "name", "") : page.id;
    page.continuous = AttrText(*c, "continuous", "");
    page.revisions = AttrLong(*c, "revisions", 0);
    page.revisionAlign = AttrLong(*c, "revisionAlign", 0);
    page.revisionValign = AttrLong(*c, "revisionValign", 0);
    for (const TPage& other : t->pages)
      if (other.id == page.id)
        Throw(*c, "two pages of template have id \"" + ToUtf8(page.id) + "\"");
    CheckChildren(*c, {"node", "unit", "qualifier", "overspill"});
    LONG nextIndex = 0;
    std::vector<const Element*> overspill;
    for (auto& g : c->children) {
      if (g->name == "node") {
        ReadNode(*g, page, -1, &nextIndex);
      } else if (g->name == "unit") {
        TUnit u;
        u.dimension = AttrText(*g, "dimension");
        u.defaultUnit = AttrText(*g, "default", "");
        u.align = AttrLong(*g, "align", 0);
        u.valign = AttrLong(*g, "valign", 0);
        page.units.push_back(u);
      } else if (g->name == "qualifier") {
        LONG q = AttrLong(*g, "number", 0, true);
        for (const u16& f : SplitList(AttrText(*g, "fields", ""), u' '))
          page.qualifiers[q].push_back(
              static_cast<LONG>(std::strtol(ToUtf8(f).c_str(), nullptr, 10)));
      } else {
        overspill.push_back(g.get());
      }
    }
    for (const TField& f : page.fields)
      if (f.unitPos >= static_cast<LONG>(page.units.size()))
        Throw(*c, "field " + std::to_string(f.id) + " names unit field " +
                      std::to_string(f.unitPos) + " of a page with " +
                      std::to_string(page.units.size()));
    for (const Element* o : overspill) {
      page.overspillTarget = AttrText(*o, "target");
      CheckChildren(*o, {"pair"});
      for (auto& p : o->children) {
        u16 node = AttrText(*p, "node");
        int found = -1;
        for (size_t k = 0; k < page.nodes.size(); ++k)
          if (EqualsNoCase(page.nodes[k].name, node)) found = static_cast<int>(k);
        if (found < 0) Throw(*p, "overspill pair names unknown node \"" + ToUtf8(node) + "\"");
        page.overspillPairs.emplace_back(found, AttrText(*p, "attribute"));
      }
    }
    t->pages.push_back(std::move(page));
  }
  for (const TPage& p : t->pages)
    if (!p.overspillTarget.empty()) {
      bool found = false;
      for (const TPage& q : t->pages) found = found || q.id == p.overspillTarget;
      if (!found)
        Throw(e, "overspill target page \"" + ToUtf8(p.overspillTarget) +
                     "\" is not a page of the template");
    }
  return t;
}

// ---------------------------------------------------------------------------
// Values

// Days from 1899-12-30 to y-m-d (proleptic Gregorian).
double SerialDate(int y, int m, int d) {
  auto days = [](int yy, int mm, int dd) {
    yy -= mm <= 2;
    const int era = (yy >= 0 ? yy : yy - 399) / 400;
    const int yoe = yy - era * 400;
    const int doy = (153 * (mm + (mm > 2 ? -3 : 9)) + 2) / 5 + dd - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
  };
  return static_cast<double>(days(y, m, d) - days(1899, 12, 30));
}

void ReadValue(StoreCore& core, const Element& e, ObjectRec* obj,
               std::map<int32_t, size_t>& nextPos) {
  u16 name = AttrText(e, "attribute");
  AttrDef* def = obj->cls->FindAttr(name);
  if (!def)
    Throw(e, "class \"" + ToUtf8(obj->cls->name) + "\" has no attribute \"" + ToUtf8(name) + "\"");
  size_t& next = nextPos[def->id];
  if (next == 0) next = 1;
  long pos = AttrLong(e, "position", static_cast<long>(next));
  if (pos < 1) Throw(e, "positions count from 1");
  if (!def->list && pos > 1) Throw(e, "attribute \"" + ToUtf8(name) + "\" holds a single value");
  next = static_cast<size_t>(pos) + 1;
  if (AttrBool(e, "empty", false)) {
    if (core.Values(obj, def).size() < static_cast<size_t>(pos))
      CheckHr(e, core.Resize(obj, def, static_cast<size_t>(pos)));
    return;
  }
  const std::string raw = e.text;
  Value v;
  switch (def->type) {
    case KXQ_TYPE_TEXT:
    case KXQ_TYPE_STRING:
      v.kind = KXQ_TYPE_TEXT;
      v.text = Text16(e, raw);
      break;
    case KXQ_TYPE_REAL: {
      v.kind = KXQ_TYPE_REAL;
      v.r = ParseDouble(e, ToUtf8(Trim(Text16(e, raw))), "the value");
      u16 unit = AttrText(e, "unit", "");
      v.text = unit.empty() ? def->defaultUnit : unit;
      if (!v.text.empty() && !def->dimension.empty() && core.FindDimension(def->dimension)) {
        const UnitRec* u = core.FindUnit(v.text);
        if (!u || !EqualsNoCase(u->dimension, def->dimension))
          Throw(e, "\"" + ToUtf8(v.text) + "\" is not a unit of dimension \"" +
                       ToUtf8(def->dimension) + "\"");
        v.text = u->name;
      }
      break;
    }
    case KXQ_TYPE_OBJECT: {
      long ref = AttrLong(e, "ref", 0, true);
      ObjectRec* target = core.LiveObject(static_cast<int32_t>(ref));
      if (!target) Throw(e, "no object with id " + std::to_string(ref));
      if (!def->refClass.empty()) {
        ClassRec* rc = core.FindClass(def->refClass);
        if (rc && !target->cls->IsKindOf(rc))
          Throw(e, "attribute \"" + ToUtf8(name) + "\" holds objects of class \"" +
                       ToUtf8(def->refClass) + "\"");
      }
      v.kind = KXQ_TYPE_OBJECT;
      v.i = ref;
      break;
    }
    case KXQ_TYPE_INTEGER: {
      Element copy;
      copy.line = e.line;
      copy.name = e.name;
      copy.attrs["v"] = ToUtf8(Trim(Text16(e, raw)));
      v.kind = KXQ_TYPE_INTEGER;
      v.i = AttrLong(copy, "v", 0);
      break;
    }
    case KXQ_TYPE_DATE: {
      std::string s = ToUtf8(Trim(Text16(e, raw)));
      int y, m, d, hh = 0, mm = 0, ss = 0;
      char tail = 0;
      if (std::sscanf(s.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &y, &m, &d, &hh, &mm, &ss, &tail) ==
              6 ||
          (std::sscanf(s.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &tail) == 3)) {
        if (m < 1 || m > 12 || d < 1 || d > 31 || hh > 23 || mm > 59 || ss > 59)
          Throw(e, "not a date: \"" + s + "\"");
        v.r = SerialDate(y, m, d) + (hh * 3600 + mm * 60 + ss) / 86400.0;
      } else {
        v.r = ParseDouble(e, s, "the date");
      }
      v.kind = KXQ_TYPE_DATE;
      break;
    }
    case KXQ_TYPE_BOOLEAN: {
      std::string s = ToUtf8(Trim(Text16(e, raw)));
      if (s == "true" || s == "1")
        v.i = 1;
      else if (s == "false" || s == "0")
        v.i = 0;
      else
        Throw(e, "a Boolean is true or false, not \"" + s + "\"");
      v.kind = KXQ_TYPE_BOOLEAN;
      break;
    }
    case KXQ_TYPE_BINARY: {
      std::string bytes;
      if (!Base64Decode(Text16(e, raw), &bytes)) Throw(e, "binary values are Base64 text");
      v.kind = KXQ_TYPE_BINARY;
      v.ex().bin = bytes;
      break;
    }
    default: Throw(e, "bad data type");
  }
  CheckHr(e, core.SetValue(obj, def, static_cast<size_t>(pos), std::move(v)));
  auto flagsOf = [&](Value& slot) {
    if (AttrBool(e, "locked", false)) slot.flags |= kFlagLocked;
    if (AttrBool(e, "secured", false)) slot.flags |= kFlagSecured;
    if (e.Attr("status")) {
      const long st = AttrLong(e, "status", 0);
      uint32_t f = 0;
      if (st & KXQ_STATUS_1) f |= kFlagStatus1;
      if (st & KXQ_STATUS_2) f |= kFlagStatus2;
      if (st & KXQ_STATUS_3) f |= kFlagStatus3;
      if (st & KXQ_STATUS_4) f |= kFlagStatus4;
      if (st & KXQ_STATUS_NOT5) f |= kFlagNot5;
      slot.flags |= f;
    }
    u16 prefix = AttrText(e, "prefix", ""), postfix = AttrText(e, "postfix", ""),
        subst = AttrText(e, "substitution", "");
    if (!prefix.empty()) slot.ex().prefix = prefix;
    if (!postfix.empty()) slot.ex().postfix = postfix;
    if (!subst.empty()) slot.ex().subst = subst;
  };
  if (e.Attr("locked") || e.Attr("secured") || e.Attr("status") || e.Attr("prefix") ||
      e.Attr("postfix") || e.Attr("substitution"))
    CheckHr(e, core.ModifySlot(obj, def, static_cast<size_t>(pos), flagsOf));
}

// ---------------------------------------------------------------------------
// The whole fixture

void ImportSchema(StoreCore& core, const Element& schema) {
  CheckChildren(schema, {"class", "definition", "filter", "sort", "method"});
  for (auto& c : schema.children) {
    if (c->name == "class" || c->name == "definition") {
      ClassRec* cls = nullptr;
      CheckHr(*c, core.AddClass(AttrText(*c, "name"), AttrText(*c, "base", ""),
                                AttrText(*c, "description", ""), c->name == "definition", &cls));
      CheckChildren(*c, {"attribute"});
      for (auto& a : c->children) {
        AttrDef d;
        d.name = AttrText(*a, "name");
        d.type = TypeCode(*a, ToUtf8(AttrText(*a, "type", "text")));
        d.list = AttrBool(*a, "list", false);
        d.collection = AttrBool(*a, "collection", false);
        if (d.collection && (!d.list || d.type != KXQ_TYPE_OBJECT))
          Throw(*a, "only object lists can be collections");
        d.refClass = AttrText(*a, "class", "");
        d.dimension = AttrText(*a, "dimension", "");
        d.defaultUnit = AttrText(*a, "unit", "");
        d.doc = AttrText(*a, "doc", "");
        d.link = static_cast<int32_t>(AttrLong(*a, "link", 0));
        if (d.link < 0) Throw(*a, "an attribute links an object by its id");
        d.path = AttrText(*a, "path", "");
        d.disciplines = AttrText(*a, "disciplines", "");
        d.inverse = AttrText(*a, "inverse", "");
        if (!d.inverse.empty() && d.type != KXQ_TYPE_OBJECT)
          Throw(*a, "only object attributes can be inverses");
        CheckHr(*a, core.AddAttr(cls, d, nullptr));
      }
    } else if (c->name == "filter") {
      FilterRec f;
      f.name = AttrText(*c, "name");
      f.title = AttrText(*c, "title", "");
      f.className = AttrText(*c, "class", "");
      f.attribute = AttrText(*c, "attribute", "");
      f.value = AttrText(*c, "value", "");
      CheckHr(*c, core.AddFilter(f));
    } else if (c->name == "sort") {
      SortRec s;
      s.code = AttrText(*c, "code");
      s.title = AttrText(*c, "title", "");
      s.attribute = AttrText(*c, "attribute");
      s.descending = AttrBool(*c, "descending", false);
      CheckHr(*c, core.AddSort(s));
    } else {
      MethodRec m;
      m.scope = AttrText(*c, "class", "");
      if (!m.scope.empty() && !core.FindClass(m.scope))
        Throw(*c, "unknown class \"" + ToUtf8(m.scope) + "\"");
      m.name = AttrText(*c, "name");
      std::string kind = ToUtf8(AttrText(*c, "returns", "none"));
      static const std::map<std::string, int> kKinds = {
          {"none", 0}, {"boolean", 1}, {"integer", 2}, {"text", 3}, {"failure", 4}};
      auto it = kKinds.find(kind);
      if (it == kKinds.end()) Throw(*c, "a method returns none, boolean, integer, text or failure");
      m.kind = it->second;
      m.result = AttrText(*c, "result", "");
      // An integer answer is parsed when the method is called: check it now.
      if (m.kind == 2 && !m.result.empty()) AttrLong(*c, "result", 0);
      CheckHr(*c, core.AddMethod(m));
    }
  }
  // Attribute references to classes resolve once every class is known.
  for (auto& c : schema.children)
    for (auto& a : c->children)
      if (const std::string* rc = a->Attr("class"))
        if (!core.FindClass(Text16(*a, *rc))) Throw(*a, "unknown class \"" + *rc + "\"");
}

void ImportUnits(StoreCore& core, const Element& units) {
  CheckChildren(units, {"dimension", "dimensionSet"});
  for (auto& c : units.children) {
    if (c->name == "dimension") {
      u16 dim = AttrText(*c, "name");
      CheckHr(*c, core.AddDimension(dim, AttrText(*c, "base", "")));
      CheckChildren(*c, {"unit"});
      for (auto& u : c->children) {
        UnitRec r;
        r.name = AttrText(*u, "name");
        r.dimension = dim;
        r.factor = u->Attr("factor") ? ParseDouble(*u, *u->Attr("factor"), "factor") : 1.0;
        r.offset = u->Attr("offset") ? ParseDouble(*u, *u->Attr("offset"), "offset") : 0.0;
        r.display = AttrText(*u, "display", "");
        CheckHr(*u, core.AddUnit(r));
      }
    } else {
      u16 set = AttrText(*c, "name");
      CheckChildren(*c, {"use"});
      for (auto& u : c->children)
        CheckHr(*u, core.AddDimensionSetUnit(set, AttrText(*u, "dimension"), AttrText(*u, "unit")));
    }
  }
}

void ImportProjects(StoreCore& core, const Element& e, int32_t parent) {
  CheckChildren(e, {"project"});
  for (auto& c : e.children) {
    int32_t id = static_cast<int32_t>(AttrLong(*c, "id", 0, true));
    // The service takes project 1 for the root: no other tree may start.
    if (parent == 0 && id != 1) Throw(*c, "the root project has id 1, not " + std::to_string(id));
    CheckHr(*c, core.AddProject(id, AttrText(*c, "name", ""), parent));
    ImportProjects(core, *c, id);
  }
}

void ImportObjects(StoreCore& core, const Element& objects) {
  CheckChildren(objects, {"object"});
  std::vector<std::pair<const Element*, ObjectRec*>> made;
  for (auto& c : objects.children) {
    u16 cls = AttrText(*c, "class");
    ClassRec* rec = core.FindClass(cls);
    if (!rec) Throw(*c, "unknown class \"" + ToUtf8(cls) + "\"");
    ObjectRec* o = nullptr;
    CheckHr(*c, core.CreateObject(rec, static_cast<int32_t>(AttrLong(*c, "id", 0)), &o));
    made.emplace_back(c.get(), o);
  }
  for (auto& [e, o] : made) {
    long owner = AttrLong(*e, "owner", 0);
    if (owner) {
      if (!core.LiveObject(static_cast<int32_t>(owner)))
        Throw(*e, "owner " + std::to_string(owner) + " is no object");
      CheckHr(*e, core.SetOwner(o, static_cast<int32_t>(owner)));
    }
    if (AttrBool(*e, "statusCopy", false)) CheckHr(*e, core.SetObjectFlags(o, kObjStatusCopy));
    CheckChildren(*e, {"value", "claim", "user", "trigger", "deny"});
    std::map<int32_t, size_t> nextPos;
    for (auto& c : e->children) {
      if (c->name == "value") {
        ReadValue(core, *c, o, nextPos);
      } else if (c->name == "claim") {
        CheckHr(*c, core.AddClaim(o->id, static_cast<int32_t>(AttrLong(*c, "project", 0, true))));
      } else if (c->name == "user") {
        CheckHr(*c, core.PutUser(o->id, AttrText(*c, "name"), AttrLong(*c, "status", 1)));
      } else if (c->name == "deny") {
        core.deniedPrivileges[{o->id, AttrText(*c, "privilege")}] = AttrText(*c, "place");
      } else {
        TriggerRec* t = nullptr;
        CheckHr(*c, core.AddTrigger(o->id, AttrText(*c, "name"), &t));
        t->handler = AttrText(*c, "handler", "");
        CheckHr(*c, core.SaveTrigger(t));
      }
    }
  }
}

void ImportTemplates(StoreCore& core, const Element& e, const std::string& xml) {
  CheckChildren(e, {"template"});
  if (const std::string* f = e.Attr("folder"))
    CheckHr(e, core.SetLibraryFolder(false, Text16(e, *f)));
  if (const std::string* f = e.Attr("bitmaps"))
    CheckHr(e, core.SetLibraryFolder(true, Text16(e, *f)));
  for (auto& c : e.children) {
    std::unique_ptr<TemplateRec> t = ReadTemplate(*c);
    for (const u16& cls : t->classes)
      if (!core.FindClass(cls)) Throw(*c, "template names unknown class \"" + ToUtf8(cls) + "\"");
    for (const TPage& p : t->pages)
      for (const TNode& n : p.nodes)
        for (const u16& cls : n.classes)
          if (!core.FindClass(cls))
            Throw(*c,
                  "node \"" + ToUtf8(n.name) + "\" names unknown class \"" + ToUtf8(cls) + "\"");
    std::string raw =
        xml.substr(static_cast<size_t>(c->begin), static_cast<size_t>(c->end - c->begin));
    CheckHr(*c, core.AddTemplate(std::move(t), raw));
  }
}

}  // namespace

Status ImportFixture(StoreCore& core, const std::string& xml, const std::string& name) {
  std::unique_ptr<Element> root;
  long line = 0;
  std::string error;
  if (!ParseXml(xml, &root, &line, &error))
    return Status{E_INVALIDARG, name + ":" + std::to_string(line) + ": " + error};
  if (root->name != "store")
    return Status{E_INVALIDARG,
                  name + ":" + std::to_string(root->line) + ": the root element must be <store>"};
  if (HRESULT hr = core.Begin(); FAILED(hr))
    return Status{hr, name + ": cannot begin a transaction"};
  try {
    CheckChildren(*root, {"schema", "units", "projects", "cases", "templates", "objects"});
    // Sections in dependency order, whatever their order in the file.
    for (const char* section : {"schema", "units", "projects", "cases", "templates", "objects"})
      for (auto& c : root->children) {
        if (c->name != section) continue;
        std::string s = section;
        if (s == "schema")
          ImportSchema(core, *c);
        else if (s == "units")
          ImportUnits(core, *c);
        else if (s == "projects")
          ImportProjects(core, *c, 0);
        else if (s == "cases") {
          CheckChildren(*c, {"case"});
          for (auto& k : c->children)
            CheckHr(*k, core.AddCase(static_cast<int32_t>(AttrLong(*k, "id", 0, true)),
                                     AttrText(*k, "name")));
        } else if (s == "templates")
          ImportTemplates(core, *c, xml);
        else
          ImportObjects(core, *c);
      }
  } catch (const FixtureError& f) {
    core.Rollback();
    return Status{E_INVALIDARG, name + ":" + std::to_string(f.line) + ": " + f.message};
  } catch (const std::bad_alloc&) {
    core.Rollback();
    return Status{E_OUTOFMEMORY, name + ": out of memory"};
  }
  if (HRESULT hr = core.Commit(); FAILED(hr))
    return Status{hr, name + ": the import could not be committed"};
  return Status{};
}

Status ParseTemplateXml(StoreCore&, const std::string& xml, std::unique_ptr<TemplateRec>* out) {
  std::unique_ptr<Element> root;
  long line = 0;
  std::string error;
  if (!ParseXml(xml, &root, &line, &error))
    return Status{E_INVALIDARG, "line " + std::to_string(line) + ": " + error};
  try {
    *out = ReadTemplate(*root);
  } catch (const FixtureError& f) {
    return Status{E_INVALIDARG, "line " + std::to_string(f.line) + ": " + f.message};
  }
  return Status{};
}

}  // namespace kx::store
