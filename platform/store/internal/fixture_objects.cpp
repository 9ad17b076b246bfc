#include "store/internal/fixture_objects.h"

#include <algorithm>
#include <cstdio>

#include "store/internal/com_util.h"

namespace kx::store {

namespace {

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

}  // namespace

ValueList& ObjectImport::Filling::Values(int32_t attr) {
  auto it = std::lower_bound(values.begin(), values.end(), attr,
                             [](const AttrValues& a, int32_t id) { return a.attr < id; });
  if (it != values.end() && it->attr == attr) return it->values;
  return values.insert(it, AttrValues{attr, {}})->values;
}

ObjectImport::ObjectImport(StoreCore& core)
    : core_(core), db_(core.persistence()), next_(core.NextObjectId()) {
  for (const auto& c : core.classes()) classes_[c->id] = c.get();
}

void ObjectImport::StorageFailure(const Element& e) {
  CheckHr(e, core_.StorageFailure());
  Throw(e, "the store could not be written");
}

int32_t ObjectImport::IdOf(const Element& e) {
  int32_t id = static_cast<int32_t>(AttrLong(e, "id", 0));
  // An id given as 0 is no id: only a left-out one means the next free.
  if (id < 0 || (id == 0 && e.Attr("id"))) Throw(e, "Object ids are positive");
  if (id > kMaxObjectId)
    Throw(e, "Object id " + std::to_string(id) + " is beyond the largest object id, " +
                 std::to_string(kMaxObjectId));
  if (id == 0 && next_ == kNoObjectIdLeft)
    Throw(e, "No object id is left: " + std::to_string(kMaxObjectId) + ", the largest, is given");
  if (id == 0) id = next_;
  next_ = std::max(next_, IdAfter(id));
  return id;
}

void ObjectImport::Create(const Element& e) {
  if (e.name != "object") Throw(e, "unexpected element <" + e.name + "> in <objects>");
  const u16 name = AttrText(e, "class");
  ClassRec* cls = core_.FindClass(name);
  if (!cls) Throw(e, "unknown class \"" + ToUtf8(name) + "\"");
  const int32_t id = IdOf(e);
  StoredObject stored;
  if (!db_.LoadObjectRow(id, &stored)) StorageFailure(e);
  if (stored.exists) Throw(e, "Object id " + std::to_string(id) + " is taken");
  if (stored.retired) Throw(e, "Object id " + std::to_string(id) + " belonged to a deleted object");
  Row row;
  row.id = id;
  row.cls = cls;
  Put(e, row);
  if (core_.observer) core_.observer->ObjectCreated(id, cls->name);
}

bool ObjectImport::Live(const Element& e, int32_t id, Row* row) {
  if (filling_ && id == filling_->row.id) {
    *row = filling_->row;
    return true;
  }
  if (id <= 0) return false;
  StoredObject stored;
  if (!db_.LoadObjectRow(id, &stored)) StorageFailure(e);
  if (!stored.exists) return false;
  const auto cls = classes_.find(stored.cls);
  if (cls == classes_.end())
    Throw(e, "The store is damaged: object " + std::to_string(id) + " has an unknown class");
  row->id = id;
  row->cls = cls->second;
  row->owner = stored.owner;
  row->holder = stored.holder;
  row->holderAttr = std::move(stored.holderAttr);
  row->flags = stored.flags;
  return true;
}

void ObjectImport::Put(const Element& e, const Row& row) {
  if (filling_ && row.id == filling_->row.id) {
    filling_->row = row;
    filling_->rowChanged = true;
    return;
  }
  ObjectRec rec;
  rec.id = row.id;
  rec.cls = row.cls;
  rec.owner = row.owner;
  rec.holder = row.holder;
  rec.holderAttr = row.holderAttr;
  rec.flags = row.flags;
  if (!db_.PutObject(rec)) StorageFailure(e);
  // A record of the model (an object it read, or one whose creation was
  // rolled back) no longer says what the file does.
  if (core_.LoadedObject(row.id)) inMemory_.push_back(row.id);
}

bool ObjectImport::WouldOwnItself(const Element& e, int32_t member, int32_t owner) {
  // Owner chains have no cycle (every link is checked here), so this ends.
  Row p;
  for (int32_t at = owner; Live(e, at, &p); at = p.owner)
    if (at == member) return true;
  return false;
}

void ObjectImport::SetOwner(const Element& e, Row* row, int32_t owner) {
  if (row->owner == owner) return;
  if (WouldOwnItself(e, row->id, owner))
    Throw(e, "Object " + std::to_string(owner) + " cannot own object " + std::to_string(row->id) +
                 ": that would make an ownership cycle");
  row->owner = owner;
  Put(e, *row);
}

void ObjectImport::Changed(AttrDef* def) {
  if (core_.observer) core_.observer->ValueChanged(filling_->row.id, def->name);
}

void ObjectImport::ApplyHolding(const Element& e, AttrDef* def, const Value& v) {
  if (v.kind != KXQ_TYPE_OBJECT || !def->collection) return;
  Row member;
  if (!Live(e, static_cast<int32_t>(v.i), &member)) return;
  const int32_t holder = filling_->row.id;
  if (member.holder != holder || member.holderAttr != def->name) {
    member.holder = holder;
    member.holderAttr = def->name;
    Put(e, member);
  }
  // A member that owns the collection's object (directly or further up)
  // stays without an owner.
  if (member.owner == 0 && !WouldOwnItself(e, member.id, holder)) SetOwner(e, &member, holder);
}

void ObjectImport::SetValue(const Element& e, AttrDef* def, size_t pos, Value v) {
  CheckHr(e, core_.CheckSlot(def, pos));
  ValueList& list = filling_->Values(def->id);
  const size_t old = list.size();
  if (pos <= old && SameContent(list[pos - 1], v)) return;
  if (pos > old) list.resize(pos);
  Value& slot = list[pos - 1];
  slot.TakeContent(std::move(v));
  ApplyHolding(e, def, filling_->Values(def->id)[pos - 1]);
  Changed(def);
}

void ObjectImport::ReadValue(const Element& e, std::unordered_map<int32_t, size_t>& nextPos) {
  const Row& obj = filling_->row;
  u16 name = AttrText(e, "attribute");
  AttrDef* def = obj.cls->FindAttr(name);
  if (!def)
    Throw(e, "class \"" + ToUtf8(obj.cls->name) + "\" has no attribute \"" + ToUtf8(name) + "\"");
  size_t& next = nextPos[def->id];
  if (next == 0) next = 1;
  long pos = AttrLong(e, "position", static_cast<long>(next));
  if (pos < 1) Throw(e, "positions count from 1");
  if (!def->list && pos > 1) Throw(e, "attribute \"" + ToUtf8(name) + "\" holds a single value");
  next = static_cast<size_t>(pos) + 1;
  if (AttrBool(e, "empty", false)) {
    // Pads the list up to the position (a computed list is never written).
    CheckHr(e, core_.CheckWritable(def));
    if (static_cast<size_t>(pos) > kMaxPosition)
      Throw(e,
            "Attribute \"" + ToUtf8(def->name) + "\" would grow beyond the largest list position");
    ValueList& list = filling_->Values(def->id);
    if (list.size() < static_cast<size_t>(pos)) {
      list.resize(static_cast<size_t>(pos));
      Changed(def);
    }
    return;
  }
  const std::string& raw = e.text;
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
      if (!v.text.empty() && !def->dimension.empty() && core_.FindDimension(def->dimension)) {
        const UnitRec* u = core_.FindUnit(v.text);
        if (!u || !EqualsNoCase(u->dimension, def->dimension))
          Throw(e, "\"" + ToUtf8(v.text) + "\" is not a unit of dimension \"" +
                       ToUtf8(def->dimension) + "\"");
        v.text = u->name;
      }
      break;
    }
    case KXQ_TYPE_OBJECT: {
      long ref = AttrLong(e, "ref", 0, true);
      Row target;
      if (!Live(e, static_cast<int32_t>(ref), &target))
        Throw(e, "no object with id " + std::to_string(ref));
      if (!def->refClass.empty()) {
        ClassRec* rc = core_.FindClass(def->refClass);
        if (rc && !target.cls->IsKindOf(rc))
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
  SetValue(e, def, static_cast<size_t>(pos), std::move(v));
  if (!(e.Attr("locked") || e.Attr("secured") || e.Attr("status") || e.Attr("prefix") ||
        e.Attr("postfix") || e.Attr("substitution")))
    return;
  CheckHr(e, core_.CheckSlot(def, static_cast<size_t>(pos)));
  Value& slot = filling_->Values(def->id)[static_cast<size_t>(pos) - 1];
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
  Changed(def);
}

void ObjectImport::Fill(const Element& e) {
  Filling filling;
  Row& self = filling.row;
  const int32_t id = IdOf(e);
  if (!Live(e, id, &self)) Throw(e, "no object with id " + std::to_string(id));
  filling_ = &filling;
  struct Done {
    ObjectImport* import;
    ~Done() { import->filling_ = nullptr; }
  } done{this};
  const long owner = AttrLong(e, "owner", 0);
  if (owner) {
    Row ownerRow;
    if (!Live(e, static_cast<int32_t>(owner), &ownerRow))
      Throw(e, "owner " + std::to_string(owner) + " is no object");
    SetOwner(e, &self, static_cast<int32_t>(owner));
  }
  if (AttrBool(e, "statusCopy", false) && self.flags != kObjStatusCopy) {
    self.flags = kObjStatusCopy;
    filling.rowChanged = true;
  }
  CheckChildren(e, {"value", "claim", "user", "trigger", "deny"});
  std::unordered_map<int32_t, size_t> nextPos;
  for (auto& c : e.children) {
    if (c->name == "value") {
      ReadValue(*c, nextPos);
    } else if (c->name == "claim") {
      const int32_t project = static_cast<int32_t>(AttrLong(*c, "project", 0, true));
      if (!core_.FindProject(project)) Throw(*c, "Unknown project " + std::to_string(project));
      if (std::find(filling.claims.begin(), filling.claims.end(), project) != filling.claims.end())
        continue;
      if (!db_.PutClaim(id, project)) StorageFailure(*c);
      filling.claims.push_back(project);
    } else if (c->name == "user") {
      const u16 user = AttrText(*c, "name");
      if (!db_.PutUser(id, user, AttrLong(*c, "status", 1))) StorageFailure(*c);
    } else if (c->name == "deny") {
      u16 place = AttrText(*c, "place");
      core_.deniedPrivileges[{id, AttrText(*c, "privilege")}] = std::move(place);
    } else {
      TriggerRec t;
      t.name = AttrText(*c, "name");
      if (std::find(filling.triggers.begin(), filling.triggers.end(), t.name) !=
          filling.triggers.end())
        Throw(*c,
              "Object " + std::to_string(id) + " has a trigger \"" + ToUtf8(t.name) + "\" already");
      t.handler = AttrText(*c, "handler", "");
      if (!db_.PutTrigger(id, t)) StorageFailure(*c);
      filling.triggers.push_back(t.name);
    }
  }
  for (const AttrValues& av : filling.values)
    if (!db_.WriteTail(id, av.attr, av.values, 1, true)) StorageFailure(e);
  filling_ = nullptr;
  if (filling.rowChanged) Put(e, self);
}

}  // namespace kx::store
