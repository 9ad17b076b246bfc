#include "plant_check.h"

#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace kx::test::examples {

namespace {

using TemplatePtr = _com_ptr_t<IKXQTemplate>;
using TemplatePagePtr = _com_ptr_t<IKXQTemplatePage>;
using ViewPtr = _com_ptr_t<IKXQClassView>;

const char16_t* const kPageLists[] = {u"CurrentPages", u"SubmittedPages", u"CheckedPages",
                                      u"IssuedPages"};

std::string U8(std::u16string_view s) { return _bstr_t(s).utf8(); }

// The elements of a 1-D array of interface pointers, queried for I; the
// array is destroyed.
template <class I>
std::vector<_com_ptr_t<I>> Items(SAFEARRAY* sa) {
  std::vector<_com_ptr_t<I>> out;
  if (!sa) return out;
  LONG lo = 0, hi = -1;
  SafeArrayGetLBound(sa, 1, &lo);
  SafeArrayGetUBound(sa, 1, &hi);
  VARTYPE vt = VT_EMPTY;
  SafeArrayGetVartype(sa, &vt);
  for (LONG k = lo; k <= hi; ++k) {
    if (vt == VT_VARIANT) {
      _variant_t v;
      if (SUCCEEDED(SafeArrayGetElement(sa, &k, &v))) out.emplace_back(_com_ptr_t<I>(v));
    } else {
      IUnknown* unk = nullptr;
      if (SUCCEEDED(SafeArrayGetElement(sa, &k, &unk)) && unk) {
        out.emplace_back(_com_ptr_t<I>(unk));
        unk->Release();
      }
    }
  }
  SafeArrayDestroy(sa);
  return out;
}

std::vector<std::string> Strings(SAFEARRAY* sa) {
  std::vector<std::string> out;
  if (!sa) return out;
  LONG lo = 0, hi = -1;
  SafeArrayGetLBound(sa, 1, &lo);
  SafeArrayGetUBound(sa, 1, &hi);
  for (LONG k = lo; k <= hi; ++k) {
    BSTR s = nullptr;
    if (SUCCEEDED(SafeArrayGetElement(sa, &k, &s))) out.push_back(_bstr_t(s, false).utf8());
  }
  SafeArrayDestroy(sa);
  return out;
}

std::string Str(LONG n) { return std::to_string(n); }

struct Reporter {
  Problems problems;
  void Add(const std::string& what, LONG id, const std::string& text) {
    problems.push_back(what + " " + Str(id) + ": " + text);
  }
};

std::string PageListOf(IKXQObject* page) {
  _bstr_t name;
  page->get_HoldingAttributeName(name.GetAddress());
  return name.utf8();
}

TemplatePtr FindTemplate(IKXQDatabase* db, const std::string& id, const std::string& checknum) {
  _com_ptr_t<IKXQTemplateLibrary> lib;
  TemplatePtr t;
  if (FAILED(db->get_TemplateLibrary(&lib)) || !lib) return t;
  _variant_t version = checknum.empty() ? _variant_t() : _variant_t(checknum.c_str());
  lib->GetTemplate(_bstr_t(id.c_str()), version, &t);
  return t;
}

std::string TemplateText(IKXQTemplate* t, HRESULT (IKXQTemplate::*get)(BSTR*)) {
  _bstr_t s;
  (t->*get)(s.GetAddress());
  return s.utf8();
}

TemplatePagePtr FindTemplatePage(IKXQTemplate* t, const std::string& pageId) {
  TemplatePagePtr p;
  t->get_PageById(_bstr_t(pageId.c_str()), &p);
  return p;
}

std::string ContinuousFormat(IKXQTemplatePage* tp) {
  _bstr_t s;
  tp->get_ContinuousFormat(s.GetAddress());
  return s.utf8();
}

// Every node of a template page by its node index.
void CollectNodes(const std::vector<ViewPtr>& views, std::map<LONG, ViewPtr>* out) {
  for (const ViewPtr& v : views) {
    LONG index = -1;
    v->get_NodeIndex(&index);
    (*out)[index] = v;
    SAFEARRAY* kids = nullptr;
    v->get_Children(&kids);
    CollectNodes(Items<IKXQClassView>(kids), out);
  }
}

std::vector<ViewPtr> RootNodes(IKXQTemplatePage* tp) {
  SAFEARRAY* roots = nullptr;
  tp->get_RootNodes(&roots);
  return Items<IKXQClassView>(roots);
}

bool Accepts(IKXQClassView* node, IKXQObject* obj) {
  VARIANT_BOOL ok = VARIANT_FALSE;
  node->AcceptsClass(_variant_t(ClassName(obj).c_str()), _bstr_t(), &ok);
  return ok == VARIANT_TRUE;
}

std::string NodeName(IKXQClassView* node) {
  _bstr_t s;
  node->get_Name(s.GetAddress());
  return s.utf8();
}

// Ids of the fields on node and every node below it.
void FieldIdsBelow(IKXQClassView* node, std::set<LONG>* ids) {
  SAFEARRAY* fields = nullptr;
  node->get_Fields(&fields);
  for (auto& f : Items<IKXQTemplateNode>(fields)) {
    LONG id = 0;
    f->get_Id(&id);
    ids->insert(id);
  }
  SAFEARRAY* kids = nullptr;
  node->get_Children(&kids);
  for (auto& k : Items<IKXQClassView>(kids)) FieldIdsBelow(k, ids);
}

struct TemplateField {
  LONG id = 0;
  std::string type;
  LONG unit = -1;
};

std::vector<TemplateField> Fields(IKXQTemplatePage* tp) {
  std::vector<TemplateField> out;
  LONG count = 0;
  tp->get_FieldCount(&count);
  for (LONG n = 1; n <= count; ++n) {
    _com_ptr_t<IKXQTemplateField> f;
    TemplateField tf;
    if (SUCCEEDED(tp->get_Field(n, &f)) && f) {
      f->get_Id(&tf.id);
      _bstr_t type;
      f->get_TypeName(type.GetAddress());
      tf.type = type.utf8();
      f->get_UnitPosition(&tf.unit);
    }
    out.push_back(tf);
  }
  return out;
}

// The element name of a field-data record for a template field type.
std::string RecordKind(const std::string& type) { return type == "Boolean" ? "Bool" : type; }

// The root node of a continuous list: the one that repeats.
ViewPtr RepeatingRoot(IKXQTemplatePage* tp) {
  for (const ViewPtr& v : RootNodes(tp)) {
    VARIANT_BOOL repeats = VARIANT_FALSE;
    v->get_Repeats(&repeats);
    if (repeats == VARIANT_TRUE) return v;
  }
  return ViewPtr();
}

// Number of rows on a continuous-list page: the objects from the root
// node's position to the end of "NodeObjects".
LONG Rows(IKXQObject* page, IKXQClassView* root) {
  LONG index = 0;
  root->get_NodeIndex(&index);
  LONG first = Integer(page, u"NodeIndices", index + 1);
  if (first <= 0) return 0;
  return std::max<LONG>(0, Count(page, u"NodeObjects") - first + 1);
}

struct FieldRecord {
  std::string kind;
  LONG fieldId = -1;
  LONG index = -1;
};

bool ParseRecord(const std::string& text, FieldRecord* out) {
  static const std::regex kRecord(R"(^<([A-Za-z]+)((?:\s+[A-Za-z]+="[^"]*")*)\s*/>$)");
  static const std::regex kAttr(R"re(([A-Za-z]+)="([^"]*)")re");
  std::smatch m;
  if (!std::regex_match(text, m, kRecord)) return false;
  out->kind = m[1];
  const std::string attrs = m[2];
  for (auto it = std::sregex_iterator(attrs.begin(), attrs.end(), kAttr);
       it != std::sregex_iterator(); ++it) {
    if ((*it)[1] == "FieldId") out->fieldId = std::stol((*it)[2]);
    if ((*it)[1] == "Index") out->index = std::stol((*it)[2]);
  }
  return true;
}

// The records a page must hold: the template's fields in order or, on a
// continuous list, the fixed fields followed by one block per row.
std::vector<FieldRecord> ExpectedRecords(IKXQObject* page, IKXQTemplatePage* tp) {
  std::vector<FieldRecord> out;
  const std::vector<TemplateField> fields = Fields(tp);
  if (ContinuousFormat(tp).empty()) {
    for (const TemplateField& f : fields) out.push_back({RecordKind(f.type), f.id, -1});
    return out;
  }
  ViewPtr root = RepeatingRoot(tp);
  if (!root) return out;
  std::set<LONG> repeating;
  FieldIdsBelow(root, &repeating);
  for (const TemplateField& f : fields)
    if (!repeating.count(f.id)) out.push_back({RecordKind(f.type), f.id, -1});
  const LONG rows = Rows(page, root);
  for (LONG r = 0; r < rows; ++r)
    for (const TemplateField& f : fields)
      if (repeating.count(f.id)) out.push_back({RecordKind(f.type), f.id, r});
  return out;
}

std::vector<std::string> UnitsOf(IKXQTemplateUnit* unit) {
  SAFEARRAY* units = nullptr;
  unit->get_Units(&units);
  return Strings(units);
}

void CheckPageAgainstTemplate(IKXQDatabase* db, IKXQObject* ds, IKXQObject* page, Reporter& r) {
  const LONG id = IdOf(page);
  const std::string tid = Text(page, u"TemplateId"), pid = Text(page, u"PageId"),
                    check = Text(page, u"Checknum");
  if (tid != Text(ds, u"TemplateId"))
    r.Add("page", id, "\"TemplateId\" " + tid + " differs from its datasheet's");
  if (check != Text(ds, u"Checknum"))
    r.Add("page", id, "\"Checknum\" " + check + " differs from its datasheet's");
  TemplatePtr t = FindTemplate(db, tid, check);
  if (!t) {
    r.Add("page", id, "template \"" + tid + "\" is not in the library");
    return;
  }
  if (TemplateText(t, &IKXQTemplate::get_Checknum) != check) {
    r.Add("page", id, "template \"" + tid + "\" has no version " + check);
    return;
  }
  TemplatePagePtr tp = FindTemplatePage(t, pid);
  if (!tp) {
    r.Add("page", id, "template \"" + tid + "\" has no page \"" + pid + "\"");
    return;
  }

  // Field-data records.
  const std::vector<FieldRecord> expected = ExpectedRecords(page, tp);
  const LONG fields = Count(page, u"Fields");
  if (fields != static_cast<LONG>(expected.size()))
    r.Add("page", id,
          "\"Fields\" holds " + Str(fields) + " records for " +
              Str(static_cast<LONG>(expected.size())) + " fields");
  for (LONG n = 1; n <= std::min<LONG>(fields, static_cast<LONG>(expected.size())); ++n) {
    const FieldRecord& want = expected[static_cast<size_t>(n - 1)];
    FieldRecord got;
    const std::string text = Text(page, u"Fields", n);
    if (!ParseRecord(text, &got)) {
      r.Add("page", id, "\"Fields\" " + Str(n) + " is no field record: " + text);
      continue;
    }
    if (got.kind != want.kind || got.fieldId != want.fieldId || got.index != want.index)
      r.Add("page", id,
            "\"Fields\" " + Str(n) + " is " + text + ", the template wants <" + want.kind +
                " FieldId=\"" + Str(want.fieldId) + "\"" +
                (want.index >= 0 ? " Index=\"" + Str(want.index) + "\"" : "") + "/>");
  }

  // Unit fields.
  LONG unitCount = 0;
  tp->get_UnitCount(&unitCount);
  if (Count(page, u"Units") != unitCount)
    r.Add("page", id,
          "\"Units\" holds " + Str(Count(page, u"Units")) + " units for " + Str(unitCount) +
              " unit fields");
  for (LONG u = 0; u < unitCount; ++u) {
    _com_ptr_t<IKXQTemplateUnit> unit;
    if (FAILED(tp->get_Unit(u, &unit)) || !unit) continue;
    const std::vector<std::string> allowed = UnitsOf(unit);
    const std::string shown = Text(page, u"Units", u + 1);
    if (std::find(allowed.begin(), allowed.end(), shown) == allowed.end()) {
      _bstr_t dim;
      unit->get_DimensionName(dim.GetAddress());
      r.Add("page", id,
            "unit field " + Str(u) + " shows \"" + shown + "\", no unit of " + dim.utf8());
    }
  }

  // Revision marks: one per value of the page.
  LONG revisions = 0;
  tp->get_RevisionCount(&revisions);
  if (!ContinuousFormat(tp).empty()) revisions = static_cast<LONG>(expected.size());
  if (Count(page, u"Revisions") != revisions)
    r.Add("page", id,
          "\"Revisions\" holds " + Str(Count(page, u"Revisions")) + " marks for " + Str(revisions) +
              " values");

  // Annotations: records whose ids the datasheet has handed out.
  for (LONG n = 1; n <= Count(page, u"Annotations"); ++n) {
    FieldRecord note;
    const std::string text = Text(page, u"Annotations", n);
    if (!ParseRecord(text, &note) || note.kind != "Annotation")
      r.Add("page", id, "\"Annotations\" " + Str(n) + " is no annotation record: " + text);
    else if (note.fieldId < 1 || note.fieldId >= Integer(ds, u"NextAnnotationId"))
      r.Add("page", id,
            "annotation " + Str(note.fieldId) +
                " is not below the datasheet's \"NextAnnotationId\" " +
                Str(Integer(ds, u"NextAnnotationId")));
  }

  // Cases: the first is the page's case, and it is the datasheet's.
  if (Integer(page, u"Cases") != Integer(page, u"DefaultCase") ||
      Integer(page, u"Cases") != Integer(ds, u"DefaultCase"))
    r.Add("page", id, "case " + Str(Integer(page, u"Cases")) + " differs from the default case");
}

}  // namespace

std::string ReadExample(const std::string& name) {
  std::ifstream in(std::string(KX_EXAMPLES_DIR) + "/" + name, std::ios::binary);
  EXPECT_TRUE(in.good()) << "cannot read examples/" << name;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::unique_ptr<store::Store> ImportPlant(const std::string& xml, const std::string& name) {
  std::unique_ptr<store::Store> s;
  store::Status st = store::Store::Open(":memory:", store::OpenMode::kOpenOrCreate, &s);
  EXPECT_TRUE(st.ok()) << st.message;
  if (!st.ok()) return nullptr;
  st = s->ImportFixtureText(xml, name);
  EXPECT_TRUE(st.ok()) << st.message;
  if (!st.ok()) return nullptr;
  return s;
}

std::string Mutate(const std::string& xml, const std::string& anchor, const std::string& from,
                   const std::string& to) {
  const size_t a = xml.find(anchor);
  EXPECT_NE(a, std::string::npos) << anchor;
  if (a == std::string::npos) return xml;
  const size_t f = xml.find(from, a);
  EXPECT_NE(f, std::string::npos) << from;
  if (f == std::string::npos) return xml;
  std::string out = xml;
  out.replace(f, from.size(), to);
  return out;
}

ObjectPtr Object(IKXQDatabase* db, LONG id) {
  ObjectPtr o;
  if (FAILED(db->get_Object(id, &o))) {
    LastError();
    return ObjectPtr();
  }
  return o;
}

AttrPtr Attribute(IKXQObject* obj, const char16_t* name) {
  AttrPtr a;
  if (obj) obj->get_Attribute(_bstr_t(name), _variant_t(), &a);
  return a;
}

LONG Count(IKXQObject* obj, const char16_t* name) {
  AttrPtr a = Attribute(obj, name);
  LONG n = 0;
  if (a) a->get_Count(&n);
  return n;
}

_variant_t Value(IKXQObject* obj, const char16_t* name, LONG pos) {
  _variant_t v;
  AttrPtr a = Attribute(obj, name);
  if (a) a->GetValue(_variant_t(static_cast<int>(pos)), _variant_t(), &v);
  return v;
}

std::string Text(IKXQObject* obj, const char16_t* name, LONG pos) {
  _variant_t v = Value(obj, name, pos);
  if (V_VT(&v) != VT_BSTR) return std::string();
  return _bstr_t(v).utf8();
}

LONG Integer(IKXQObject* obj, const char16_t* name, LONG pos, bool* has) {
  _variant_t v = Value(obj, name, pos);
  _variant_t n;
  const bool ok = V_VT(&v) != VT_EMPTY && SUCCEEDED(VariantChangeType(&n, &v, 0, VT_I4));
  if (has) *has = ok;
  return ok ? V_I4(&n) : 0;
}

LONG RefId(IKXQObject* obj, const char16_t* name, LONG pos) {
  _variant_t v = Value(obj, name, pos);
  if (V_VT(&v) != VT_DISPATCH && V_VT(&v) != VT_UNKNOWN) return 0;
  ObjectPtr o(v);
  return IdOf(o);
}

LONG IdOf(IKXQObject* obj) {
  LONG id = 0;
  if (obj) obj->get_Id(&id);
  return id;
}

std::string ClassName(IKXQObject* obj) {
  _com_ptr_t<IKXQClass> cls;
  if (!obj || FAILED(obj->get_Class(&cls)) || !cls) return std::string();
  _bstr_t name;
  cls->get_Name(name.GetAddress());
  return name.utf8();
}

std::vector<LONG> Instances(IKXQDatabase* db, const char16_t* className) {
  std::vector<LONG> ids;
  _com_ptr_t<IKXQSchema> schema;
  _com_ptr_t<IKXQClass> cls;
  if (FAILED(db->get_Schema(&schema)) || FAILED(schema->get_Class(_bstr_t(className), &cls)) ||
      !cls)
    return ids;
  _com_ptr_t<IKXQObjectCollection> all;
  if (FAILED(cls->get_Instances(&all)) || !all) return ids;
  LONG n = 0;
  all->get_Count(&n);
  for (LONG k = 1; k <= n; ++k) {
    ObjectPtr o;
    if (SUCCEEDED(all->get_Item(k, &o))) ids.push_back(IdOf(o));
  }
  return ids;
}

std::string LastError() {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK || !info) return std::string();
  BSTR desc = nullptr;
  info->GetDescription(&desc);
  std::string out = _bstr_t(desc, false).utf8();
  info->Release();
  return out;
}

Problems CheckPageLists(IKXQDatabase* db) {
  Reporter r;
  std::map<LONG, std::string> listed;  // page -> "datasheet/list"
  for (LONG dsId : Instances(db, u"Datasheet")) {
    ObjectPtr ds = Object(db, dsId);
    for (const char16_t* list : kPageLists) {
      const std::string listName = U8(list);
      for (LONG k = 1; k <= Count(ds, list); ++k) {
        const LONG pageId = RefId(ds, list, k);
        if (!pageId) {
          r.Add("datasheet", dsId, listName + " " + Str(k) + " holds no page");
          continue;
        }
        ObjectPtr page = Object(db, pageId);
        if (ClassName(page) != "Page")
          r.Add("datasheet", dsId, listName + " holds object " + Str(pageId) + ", no page");
        ObjectPtr owner;
        page->GetOwner(&owner, 0);
        if (IdOf(owner) != dsId)
          r.Add("page", pageId,
                "in " + listName + " of datasheet " + Str(dsId) + " but owned by " +
                    Str(IdOf(owner)));
        if (PageListOf(page) != listName)
          r.Add("page", pageId, "in " + listName + " but held by \"" + PageListOf(page) + "\"");
        auto [it, fresh] = listed.emplace(pageId, Str(dsId) + " " + listName);
        if (!fresh)
          r.Add("page", pageId, "in " + it->second + " and in " + Str(dsId) + " " + listName);

        VARIANT_BOOL copy = VARIANT_FALSE;
        page->get_IsStatusCopy(&copy);
        const LONG active = RefId(page, u"ActivePage");
        if (list == kPageLists[0]) {
          if (copy == VARIANT_TRUE || active)
            r.Add("page", pageId, "a current page marked as a status copy");
          for (LONG j = 1; j <= Count(page, u"RevisedPages"); ++j) {
            ObjectPtr revised = Object(db, RefId(page, u"RevisedPages", j));
            if (RefId(revised, u"ActivePage") != pageId)
              r.Add("page", pageId, "\"RevisedPages\" " + Str(j) + " is no copy of this page");
          }
          continue;
        }
        if (copy != VARIANT_TRUE)
          r.Add("page", pageId, "in " + listName + " but not a status copy");
        ObjectPtr current = Object(db, active);
        bool inCurrent = false;
        for (LONG j = 1; j <= Count(ds, u"CurrentPages"); ++j)
          inCurrent = inCurrent || RefId(ds, u"CurrentPages", j) == active;
        if (!current || !inCurrent) {
          r.Add("page", pageId,
                "\"ActivePage\" " + Str(active) + " is no current page of datasheet " + Str(dsId));
          continue;
        }
        if (Text(current, u"PageId") != Text(page, u"PageId") ||
            Integer(current, u"PageNumber") != Integer(page, u"PageNumber"))
          r.Add("page", pageId,
                "differs in \"PageId\" or \"PageNumber\" from its current page " + Str(active));
        bool revised = false;
        for (LONG j = 1; j <= Count(current, u"RevisedPages"); ++j)
          revised = revised || RefId(current, u"RevisedPages", j) == pageId;
        if (!revised)
          r.Add("page", pageId,
                "is missing from \"RevisedPages\" of its current page " + Str(active));
      }
    }
    bool has = false;
    const LONG number = Integer(ds, u"NumberOfPages", 1, &has);
    if (!has || number != Count(ds, u"CurrentPages"))
      r.Add("datasheet", dsId,
            "\"NumberOfPages\" " + Str(number) + " for " + Str(Count(ds, u"CurrentPages")) +
                " current pages");
  }
  for (LONG pageId : Instances(db, u"Page"))
    if (!listed.count(pageId)) r.Add("page", pageId, "is in no page list");
  return r.problems;
}

Problems CheckNodes(IKXQDatabase* db) {
  Reporter r;
  for (LONG pageId : Instances(db, u"Page")) {
    ObjectPtr page = Object(db, pageId);
    TemplatePtr t = FindTemplate(db, Text(page, u"TemplateId"), Text(page, u"Checknum"));
    TemplatePagePtr tp = t ? FindTemplatePage(t, Text(page, u"PageId")) : TemplatePagePtr();
    if (!tp) {
      r.Add("page", pageId, "has no template page to place its objects on");
      continue;
    }
    std::map<LONG, ViewPtr> nodes;
    CollectNodes(RootNodes(tp), &nodes);
    const LONG objects = Count(page, u"NodeObjects");
    std::set<LONG> placed;
    for (LONG j = 1; j <= Count(page, u"NodeIndices"); ++j) {
      bool has = false;
      const LONG pos = Integer(page, u"NodeIndices", j, &has);
      if (!has || pos == 0) continue;
      placed.insert(pos);
      auto node = nodes.find(j - 1);
      if (node == nodes.end()) {
        r.Add("page", pageId,
              "\"NodeIndices\" " + Str(j) + " names node index " + Str(j - 1) +
                  ", no node of the template page");
        continue;
      }
      if (pos < 0 || pos > objects) {
        r.Add("page", pageId,
              "\"NodeIndices\" " + Str(j) + " points to position " + Str(pos) + " of " +
                  Str(objects) + " \"NodeObjects\"");
        continue;
      }
      ObjectPtr obj = Object(db, RefId(page, u"NodeObjects", pos));
      if (!obj) {
        r.Add("page", pageId,
              "\"NodeIndices\" " + Str(j) + " points to an empty \"NodeObjects\" slot " + Str(pos));
        continue;
      }
      if (!Accepts(node->second, obj))
        r.Add("page", pageId,
              "node \"" + NodeName(node->second) + "\" does not accept " + ClassName(obj) + " " +
                  Str(IdOf(obj)));
    }
    if (ContinuousFormat(tp).empty()) {
      // On an ordinary page every object stands on a node.
      for (LONG p = 1; p <= objects; ++p)
        if (RefId(page, u"NodeObjects", p) && !placed.count(p))
          r.Add("page", pageId, "\"NodeObjects\" " + Str(p) + " stands on no node");
      continue;
    }
    ViewPtr root = RepeatingRoot(tp);
    if (!root) {
      r.Add("page", pageId, "continuous-list template page without a repeating root node");
      continue;
    }
    LONG index = 0;
    root->get_NodeIndex(&index);
    const LONG first = Integer(page, u"NodeIndices", index + 1);
    for (LONG p = first; first > 0 && p <= objects; ++p) {
      ObjectPtr row = Object(db, RefId(page, u"NodeObjects", p));
      if (!row || !Accepts(root, row))
        r.Add("page", pageId,
              "row " + Str(p - first) + " holds " +
                  (row ? ClassName(row) : std::string("nothing")) + ", not accepted by node \"" +
                  NodeName(root) + "\"");
    }
  }
  return r.problems;
}

namespace {

// The attribute a node's name steps along: its text before the first "(",
// "[" or blank ("Nozzles(2)" steps along "Nozzles").
std::string RouteStep(const std::string& name) { return name.substr(0, name.find_first_of("([ ")); }

void CheckRouteSteps(const std::string& where, IKXQClassView* parent, Problems* problems) {
  SAFEARRAY* kids = nullptr;
  parent->get_Children(&kids);
  for (const ViewPtr& child : Items<IKXQClassView>(kids)) {
    const std::string step = RouteStep(NodeName(child));
    SAFEARRAY* classes = nullptr;
    parent->GetAttachedClasses(0, &classes);
    for (const auto& cls : Items<IKXQClass>(classes)) {
      VARIANT_BOOL has = VARIANT_FALSE;
      cls->HasAttribute(_bstr_t(step.c_str()), &has);
      if (has == VARIANT_TRUE) continue;
      _bstr_t className;
      cls->get_Name(className.GetAddress());
      problems->push_back(where + ": node \"" + NodeName(child) + "\" is no attribute of " +
                          className.utf8() + ", a class of its parent node \"" + NodeName(parent) +
                          "\"");
    }
    CheckRouteSteps(where, child, problems);
  }
}

}  // namespace

Problems CheckNodeRoutes(IKXQDatabase* db) {
  Problems problems;
  _com_ptr_t<IKXQTemplateLibrary> lib;
  if (FAILED(db->get_TemplateLibrary(&lib)) || !lib) return {"the store has no template library"};
  // The current templates, and the older versions that pages were made from.
  std::vector<TemplatePtr> all;
  LONG templates = 0;
  lib->get_Count(&templates);
  for (LONG k = 1; k <= templates; ++k) {
    TemplatePtr t;
    if (SUCCEEDED(lib->get_Item(k, &t)) && t) all.push_back(t);
  }
  for (LONG pageId : Instances(db, u"Page")) {
    ObjectPtr page = Object(db, pageId);
    if (TemplatePtr t = FindTemplate(db, Text(page, u"TemplateId"), Text(page, u"Checknum")))
      all.push_back(t);
  }
  std::set<std::string> seen;
  for (const TemplatePtr& t : all) {
    const std::string version =
        TemplateText(t, &IKXQTemplate::get_Id) + " " + TemplateText(t, &IKXQTemplate::get_Checknum);
    if (!seen.insert(version).second) continue;
    LONG pages = 0;
    t->get_PageCount(&pages);
    for (LONG n = 1; n <= pages; ++n) {
      TemplatePagePtr tp;
      if (FAILED(t->get_Page(n, &tp)) || !tp) continue;
      _bstr_t pageId;
      tp->get_Id(pageId.GetAddress());
      const std::string where = "template " + version + " page " + pageId.utf8();
      for (const ViewPtr& root : RootNodes(tp)) CheckRouteSteps(where, root, &problems);
    }
  }
  return problems;
}

Problems CheckTemplates(IKXQDatabase* db) {
  Reporter r;
  for (LONG dsId : Instances(db, u"Datasheet")) {
    ObjectPtr ds = Object(db, dsId);
    if (Text(ds, u"DocumentName").empty()) r.Add("datasheet", dsId, "has no \"DocumentName\"");
    _bstr_t caseName;
    db->get_CaseName(Integer(ds, u"DefaultCase"), caseName.GetAddress());
    if (caseName.length() == 0)
      r.Add("datasheet", dsId, "default case " + Str(Integer(ds, u"DefaultCase")) + " is unknown");
    else if (caseName.utf8() != Text(ds, u"CaseName"))
      r.Add("datasheet", dsId,
            "\"CaseName\" " + Text(ds, u"CaseName") + " is not case " + caseName.utf8());
    for (const char16_t* list : kPageLists)
      for (LONG k = 1; k <= Count(ds, list); ++k)
        if (ObjectPtr page = Object(db, RefId(ds, list, k)))
          CheckPageAgainstTemplate(db, ds, page, r);
  }
  return r.problems;
}

Problems CheckSummaries(IKXQDatabase* db) {
  Reporter r;
  for (LONG dsId : Instances(db, u"Datasheet")) {
    ObjectPtr ds = Object(db, dsId);
    TemplatePtr t = FindTemplate(db, Text(ds, u"TemplateId"), Text(ds, u"Checknum"));
    if (!t) continue;
    _bstr_t kind;
    t->get_Kind(kind.GetAddress());
    const bool summary = kind.utf8() == "Summary";
    if (summary != (Integer(ds, u"HasSummary") > 0))
      r.Add("datasheet", dsId,
            "template kind " + kind.utf8() + " but \"HasSummary\" " +
                Str(Integer(ds, u"HasSummary")));
    if (!summary) continue;
    const std::string filter = Text(ds, u"ObjectFilter");
    _com_ptr_t<IKXQProject> project;
    if (FAILED(db->get_Project(Integer(ds, u"ProjectId"), &project)) || !project) {
      r.Add("datasheet", dsId,
            "\"ProjectId\" " + Str(Integer(ds, u"ProjectId")) + " names no project");
      continue;
    }
    for (LONG k = 1; k <= Count(ds, u"CurrentPages"); ++k) {
      ObjectPtr page = Object(db, RefId(ds, u"CurrentPages", k));
      TemplatePagePtr tp = FindTemplatePage(t, Text(page, u"PageId"));
      if (!tp) {
        r.Add("page", IdOf(page), "of summary sheet " + Str(dsId) + " has no template page");
        continue;
      }
      // A page-per-member sheet: each page shows one member, or none.
      if (ContinuousFormat(tp).empty()) continue;
      if (Text(page, u"ObjectFilter") != filter)
        r.Add("page", IdOf(page),
              "filter \"" + Text(page, u"ObjectFilter") + "\" differs from its datasheet's");
      ViewPtr root = RepeatingRoot(tp);
      LONG index = 0;
      if (root) root->get_NodeIndex(&index);
      const LONG first = Integer(page, u"NodeIndices", index + 1);
      std::set<LONG> rows;
      for (LONG p = first; first > 0 && p <= Count(page, u"NodeObjects"); ++p)
        rows.insert(RefId(page, u"NodeObjects", p));
      // The rows are exactly the objects of the filter claimed within the project.
      _variant_t filterText(filter.c_str());
      for (LONG id : Instances(db, u"ProcessPlantEquipment")) {
        ObjectPtr obj = Object(db, id);
        LONG passes = 0;
        obj->TestFilter(filterText, &passes);
        bool claimed = false;
        SAFEARRAY* claimants = nullptr;
        obj->get_Claimants(&claimants);
        for (auto& p : Items<IKXQProject>(claimants)) {
          VARIANT_BOOL within = VARIANT_FALSE;
          LONG projectId = 0;
          project->get_Id(&projectId);
          p->IsWithin(_variant_t(static_cast<int>(projectId)), &within);
          claimed = claimed || within == VARIANT_TRUE;
        }
        const bool wanted = passes != 0 && claimed;
        if (wanted != (rows.count(id) > 0))
          r.Add("page", IdOf(page),
                std::string(wanted ? "misses" : "lists") + " " + ClassName(obj) + " " + Str(id) +
                    (wanted ? ", which its filter and project select"
                            : ", which they do not select"));
      }
    }
  }
  return r.problems;
}

Problems CheckPlant(IKXQDatabase* db) {
  Problems all;
  for (auto check : {CheckPageLists, CheckNodes, CheckNodeRoutes, CheckTemplates, CheckSummaries}) {
    Problems p = check(db);
    all.insert(all.end(), p.begin(), p.end());
  }
  return all;
}

std::string Join(const Problems& problems) {
  std::string out;
  for (const std::string& p : problems) out += "\n  " + p;
  return out;
}

}  // namespace kx::test::examples
