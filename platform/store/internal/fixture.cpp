#include "store/internal/fixture.h"

#include <algorithm>
#include <map>

#include "store/internal/com_util.h"
#include "store/internal/fixture_objects.h"
#include "store/internal/fixture_reader.h"

namespace kx::store {

namespace {

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

void ImportTemplates(StoreCore& core, const Element& e, FixtureSource& source) {
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
    std::string raw;
    if (!source.Slice(c->begin, c->end, &raw)) Throw(*c, "the template cannot be read again");
    CheckHr(*c, core.AddTemplate(std::move(t), raw));
  }
}

// The first reading: every section but the objects, which are read later,
// one at a time.
class SectionsPass final : public PassHandler {
 public:
  Take Start(const Element& e, int depth) override {
    return depth == 1 && e.name == "objects" ? Take::kShallow : Take::kKeep;
  }
  void Done(std::unique_ptr<Element>) override {}
};

class WholePass final : public PassHandler {
 public:
  Take Start(const Element&, int) override { return Take::kKeep; }
  void Done(std::unique_ptr<Element>) override {}
};

// A reading of the objects of one <objects> section (the section-th of the
// document): their start tags made into objects, or each whole one filled.
class ObjectsPass final : public PassHandler {
 public:
  ObjectsPass(ObjectImport& import, int section, bool fill)
      : import_(import), section_(section), fill_(fill) {}
  Take Start(const Element& e, int depth) override {
    if (depth == 0) return Take::kPass;
    if (depth == 1) return e.name == "objects" && seen_++ == section_ ? Take::kPass : Take::kSkip;
    if (fill_) return Take::kDeliver;
    import_.Create(e);
    return Take::kSkip;
  }
  void Done(std::unique_ptr<Element> e) override { import_.Fill(*e); }

 private:
  ObjectImport& import_;
  int section_;
  bool fill_;
  int seen_ = 0;
};

void ImportObjects(ObjectImport& import, FixtureSource& source, int section) {
  for (bool fill : {false, true}) {
    if (fill)
      import.BeginFilling();
    else
      import.BeginCreating();
    ObjectsPass pass(import, section, fill);
    long line = 0;
    std::string error;
    // The document was read whole before: only a file changed meanwhile
    // reads differently now.
    if (!Walk(source, pass, nullptr, &line, &error)) throw FixtureError{line, error};
  }
}

Status Import(StoreCore& core, FixtureSource& source, const std::string& name) {
  std::unique_ptr<Element> root;
  long line = 0;
  std::string error;
  try {
    SectionsPass sections;
    if (!Walk(source, sections, &root, &line, &error))
      return Status{E_INVALIDARG, name + ":" + std::to_string(line) + ": " + error};
  } catch (const std::bad_alloc&) {
    return Status{E_OUTOFMEMORY, name + ": out of memory"};
  }
  if (root->name != "store")
    return Status{E_INVALIDARG,
                  name + ":" + std::to_string(root->line) + ": the root element must be <store>"};
  core.persistence().SetBulkWriting(true);
  struct Bulk {
    Persistence& db;
    ~Bulk() { db.SetBulkWriting(false); }
  } bulk{core.persistence()};
  if (HRESULT hr = core.Begin(); FAILED(hr))
    return Status{hr, name + ": cannot begin a transaction"};
  std::unique_ptr<ObjectImport> objects;
  Status failed;
  try {
    CheckChildren(*root, {"schema", "units", "projects", "cases", "templates", "objects"});
    // Sections in dependency order, whatever their order in the file.
    for (const char* section : {"schema", "units", "projects", "cases", "templates", "objects"}) {
      int objectSections = 0;
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
        } else if (s == "templates") {
          ImportTemplates(core, *c, source);
        } else {
          if (!objects) objects = std::make_unique<ObjectImport>(core);
          ImportObjects(*objects, source, objectSections++);
        }
      }
    }
  } catch (const FixtureError& f) {
    failed = Status{E_INVALIDARG, name + ":" + std::to_string(f.line) + ": " + f.message};
  } catch (const std::bad_alloc&) {
    failed = Status{E_OUTOFMEMORY, name + ": out of memory"};
  }
  if (objects) core.ObjectsWritten(objects->NextId());
  if (!failed.ok()) {
    core.Rollback();
    return failed;
  }
  if (HRESULT hr = core.Commit(); FAILED(hr))
    return Status{hr, name + ": the import could not be committed"};
  if (objects) {
    std::vector<int32_t> again = objects->InMemory();
    std::sort(again.begin(), again.end());
    again.erase(std::unique(again.begin(), again.end()), again.end());
    if (Status s = core.ReadAgain(again); !s.ok())
      return Status{s.hr, name + ": imported, but the objects read before are stale: " + s.message};
  }
  return Status{};
}

}  // namespace

namespace {

Status ImportSource(StoreCore& core, std::unique_ptr<FixtureSource> source,
                    const std::string& name) {
  long line = 0;
  std::string error;
  source = AsUtf8(std::move(source), &line, &error);
  if (!source)
    return Status{E_INVALIDARG,
                  name + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " + error};
  return Import(core, *source, name);
}

}  // namespace

Status ImportFixture(StoreCore& core, const std::string& xml, const std::string& name) {
  return ImportSource(core, FixtureSource::Text(xml), name);
}

Status ImportFixtureFile(StoreCore& core, const std::string& path, const std::string& name) {
  std::string error;
  std::unique_ptr<FixtureSource> source = FixtureSource::File(path, &error);
  if (!source) return Status{E_INVALIDARG, name + ": " + error};
  return ImportSource(core, std::move(source), name);
}

Status ParseTemplateXml(StoreCore&, const std::string& xml, std::unique_ptr<TemplateRec>* out) {
  std::unique_ptr<Element> root;
  long line = 0;
  std::string error;
  try {
    const std::unique_ptr<FixtureSource> source = FixtureSource::Text(xml);
    WholePass whole;
    if (!Walk(*source, whole, &root, &line, &error))
      return Status{E_INVALIDARG, "line " + std::to_string(line) + ": " + error};
    *out = ReadTemplate(*root);
  } catch (const FixtureError& f) {
    return Status{E_INVALIDARG, "line " + std::to_string(f.line) + ": " + f.message};
  }
  return Status{};
}

}  // namespace kx::store
