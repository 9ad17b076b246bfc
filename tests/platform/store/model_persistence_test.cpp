// Model-based persistence checks: seeded random transactions of every kind
// of change the store offers, each followed by a comparison of the model in
// memory with a fresh reading of the file. Objects are picked by id and so
// read on demand in any order: some first inside a transaction that rolls
// back, some only after the other process changed or deleted them. The
// two-process variant runs two store instances in two processes on one
// file, taking turns; each one's view of the objects it has read must equal
// the file when its transaction begins (it caught up) and after it ended. A
// failure is shrunk to the shortest sequence of transactions that still
// fails and printed operation by operation.
#include <algorithm>
#include <cstdio>
#include <random>
#include <sqlite3.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include "store/internal/core.h"
#include "store_test_support.h"

namespace kx::store::test {
namespace {

const char16_t* const kTriggerNames[] = {u"T1", u"T2", u"T3"};
const char16_t* const kUserNames[] = {u"alice", u"bob"};

std::string Text(const u16& s) { return ToUtf8(s); }

std::string DumpValue(const Value& v) {
  std::ostringstream out;
  out << "k" << int(v.kind) << " f" << v.flags;
  if (v.kind == KXQ_TYPE_REAL || v.kind == KXQ_TYPE_DATE) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", v.r);
    out << " r" << buf;
  } else if (v.kind != 0) {
    out << " i" << v.i;
  }
  if (!v.text.empty()) out << " t'" << Text(v.text) << "'";
  if (const ValueExtra* x = v.exOrNull()) {
    if (x->hold) out << " hold" << x->hold;
    if (!x->prefix.empty()) out << " pre'" << Text(x->prefix) << "'";
    if (!x->postfix.empty()) out << " post'" << Text(x->postfix) << "'";
    if (!x->subst.empty()) out << " sub'" << Text(x->subst) << "'";
    if (!x->bin.empty()) out << " bin" << x->bin.size() << ":" << x->bin;
  }
  return out.str();
}

// The objects s holds in memory (those it has read or made): whether each
// is live and, if so, its class, owner, holder, flags, values (every slot
// with its flags and texts), claims, users and triggers.
std::vector<int32_t> Loaded(Store& s) {
  std::vector<int32_t> ids;
  for (auto& [id, o] : s.core().objects()) ids.push_back(id);
  std::sort(ids.begin(), ids.end());
  return ids;
}

// The objects ids as s has them; an object not yet in memory is read.
std::string Dump(Store& s, const std::vector<int32_t>& ids) {
  StoreCore& core = s.core();
  std::ostringstream out;
  for (int32_t id : ids) {
    const ObjectRec* o = core.LiveObject(id);
    if (!o) {
      out << "#" << id << " none\n";
      continue;
    }
    out << "#" << id << " " << Text(o->cls->name) << " owner " << o->owner << " holder "
        << o->holder << ":" << Text(o->holderAttr) << " flags " << o->flags << "\n";
    std::vector<const AttrValues*> attrs;
    for (const AttrValues& av : o->attrs)
      if (!av.values.empty()) attrs.push_back(&av);
    std::sort(attrs.begin(), attrs.end(), [](auto* a, auto* b) { return a->attr < b->attr; });
    for (const AttrValues* av : attrs) {
      out << "  " << Text(core.AttrById(av->attr)->name) << ":";
      for (const Value& v : av->values) out << " [" << DumpValue(v) << "]";
      out << "\n";
    }
    std::vector<int32_t> claims(o->claims.begin(), o->claims.end());
    std::sort(claims.begin(), claims.end());
    for (int32_t p : claims) out << "  claim " << p << "\n";
    std::vector<UserRec> users = core.Users(id);
    std::sort(users.begin(), users.end(), [](auto& a, auto& b) { return a.name < b.name; });
    for (const UserRec& u : users) out << "  user " << Text(u.name) << " " << u.status << "\n";
    for (const char16_t* name : kTriggerNames)
      if (TriggerRec* t = core.FindTrigger(id, name))
        out << "  trigger " << Text(t->name) << " " << Text(t->handler) << " " << t->option1 << " "
            << t->option2 << "\n";
  }
  return out.str();
}

std::string FileDump(const std::string& path, const std::vector<int32_t>& ids) {
  std::unique_ptr<Store> s;
  Status st = Store::Open(path, OpenMode::kOpenExisting, &s);
  if (!st.ok()) return "cannot reopen: " + st.message;
  return Dump(*s, ids);
}

std::string SqlCheck(const std::string& path, const char* pragma) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  std::string out;
  sqlite3_exec(
      db, pragma,
      [](void* o, int n, char** cols, char**) {
        for (int k = 0; k < n; ++k)
          *static_cast<std::string*>(o) += std::string(cols[k] ? cols[k] : "-") + " ";
        return 0;
      },
      &out, nullptr);
  sqlite3_close(db);
  return out;
}

// The ids of a class's live objects (the class has no subclasses), as the
// store gives them and as the file has them.
std::string StoreExtent(Store& s, const char16_t* cls) {
  std::string out;
  for (ObjectRec* o : s.core().Instances(s.core().FindClass(cls)))
    out += std::to_string(o->id) + " ";
  return out;
}
std::string FileExtent(const std::string& path, const char16_t* cls) {
  return SqlCheck(path, ("SELECT id FROM objects WHERE class=(SELECT id FROM classes WHERE name='" +
                         Text(cls) + "') ORDER BY id")
                            .c_str());
}

// The first line where two dumps differ.
std::string FirstDifference(const std::string& memory, const std::string& file) {
  std::istringstream a(memory), b(file);
  std::string la, lb;
  for (;;) {
    bool ga = static_cast<bool>(std::getline(a, la)), gb = static_cast<bool>(std::getline(b, lb));
    if (!ga && !gb) return "";
    if (!ga) la = "(end)";
    if (!gb) lb = "(end)";
    if (la != lb) return "memory: " + la + "\n    file: " + lb;
  }
}

// One transaction: which process runs it and the seed of its operations.
struct Step {
  int process = 0;
  uint32_t seed = 0;
};

// Runs the operations of one transaction on a store, logging each.
class Driver {
 public:
  Driver(Store& s, uint32_t seed, std::string* log) : core_(s.core()), rng_(seed), log_(log) {}

  void Run() {
    const int ops = 1 + Pick(6);
    for (int k = 0; k < ops; ++k) One();
  }

 private:
  int Pick(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }
  void Log(const std::string& line) { *log_ += "    " + line + "\n"; }

  // By id, among all ids given so far: read on demand when not yet read.
  ObjectRec* AnyObject() {
    const int top = std::max(1, static_cast<int>(core_.NextObjectId()) - 1);
    for (int tries = 0; tries < 8; ++tries)
      if (ObjectRec* o = core_.LiveObject(1 + Pick(top))) return o;
    return nullptr;
  }
  AttrDef* AnyAttr(ObjectRec* o, bool listOnly = false, bool collectionOnly = false) {
    std::vector<AttrDef*> defs;
    for (AttrDef* d : o->cls->Layout())
      if (d->inverse.empty() && (!listOnly || d->list) && (!collectionOnly || d->collection))
        defs.push_back(d);
    if (defs.empty()) return nullptr;
    return defs[static_cast<size_t>(Pick(static_cast<int>(defs.size())))];
  }
  Value MakeValue(AttrDef* d) {
    Value v;
    v.kind = static_cast<uint8_t>(d->type == KXQ_TYPE_STRING ? KXQ_TYPE_TEXT : d->type);
    switch (d->type) {
      case KXQ_TYPE_REAL:
        v.r = Pick(10000) / 8.0;
        if (!d->dimension.empty() && Pick(2))
          v.text = EqualsNoCase(d->dimension, u"Length") ? u"mm" : u"degC";
        break;
      case KXQ_TYPE_DATE: v.r = 40000 + Pick(1000) / 4.0; break;
      case KXQ_TYPE_OBJECT: {
        ObjectRec* t = AnyObject();
        v.i = t ? t->id : 0;
        break;
      }
      case KXQ_TYPE_BOOLEAN: v.i = Pick(2); break;
      case KXQ_TYPE_BINARY:
        v.ex().bin =
            std::string(static_cast<size_t>(1 + Pick(4)), static_cast<char>('a' + Pick(3)));
        break;
      case KXQ_TYPE_INTEGER: v.i = Pick(1000) - 500; break;
      default: v.text = U16(("v" + std::to_string(Pick(100))).c_str()); break;
    }
    return v;
  }
  size_t AnyPos(ObjectRec* o, AttrDef* d) {
    if (!d->list) return 1;
    return static_cast<size_t>(1 + Pick(static_cast<int>(core_.Values(o, d).size()) + 2));
  }
  static std::string Id(const ObjectRec* o) { return "#" + std::to_string(o->id); }

  void One() {
    ObjectRec* o = AnyObject();
    if (!o) return;
    const int op = Pick(16);
    HRESULT hr = S_OK;
    std::string what;
    switch (op) {
      case 0: {
        static const char16_t* const kClasses[] = {u"Page", u"Pump", u"Datasheet", u"Nozzle"};
        const char16_t* cls = kClasses[Pick(4)];
        ObjectRec* made = nullptr;
        hr = core_.CreateObject(core_.FindClass(cls), 0, &made);
        what = "create " + Text(cls) + (made ? " -> " + Id(made) : "");
        break;
      }
      case 1:
        what = "delete " + Id(o);
        hr = core_.DeleteObject(o);
        break;
      case 2:
      case 3: {
        AttrDef* d = AnyAttr(o);
        if (!d) return;
        size_t pos = AnyPos(o, d);
        Value v = MakeValue(d);
        what =
            "set " + Id(o) + " " + Text(d->name) + "[" + std::to_string(pos) + "] " + DumpValue(v);
        hr = core_.SetValue(o, d, pos, std::move(v));
        break;
      }
      case 4: {
        AttrDef* d = AnyAttr(o);
        if (!d) return;
        size_t pos = AnyPos(o, d);
        what = "clear " + Id(o) + " " + Text(d->name) + "[" + std::to_string(pos) + "]";
        hr = Pick(3) ? core_.ClearSlot(o, d, pos) : core_.ClearAll(o, d);
        break;
      }
      case 5: {
        AttrDef* d = AnyAttr(o, true);
        if (!d) return;
        size_t pos = AnyPos(o, d), n = static_cast<size_t>(1 + Pick(2));
        what = "insert " + Id(o) + " " + Text(d->name) + "[" + std::to_string(pos) + "] x" +
               std::to_string(n);
        hr = core_.InsertValues(o, d, pos, n);
        break;
      }
      case 6: {
        AttrDef* d = AnyAttr(o, true);
        if (!d) return;
        size_t pos = AnyPos(o, d), n = static_cast<size_t>(1 + Pick(2));
        what = "remove " + Id(o) + " " + Text(d->name) + "[" + std::to_string(pos) + "] x" +
               std::to_string(n);
        hr = core_.RemoveValues(o, d, pos, n);
        break;
      }
      case 7: {
        // Into a collection: the member's holder (and maybe owner) changes.
        AttrDef* d = AnyAttr(o, true, true);
        ObjectRec* member = AnyObject();
        if (!d || !member) return;
        size_t pos = core_.Values(o, d).size() + 1;
        Value v;
        v.kind = KXQ_TYPE_OBJECT;
        v.i = member->id;
        what = "put " + Id(member) + " into " + Id(o) + " " + Text(d->name);
        hr = core_.SetValue(o, d, pos, std::move(v));
        break;
      }
      case 8: {
        bool held = false;
        what = "unlink " + Id(o);
        hr = core_.Unlink(o, &held);
        break;
      }
      case 9: {
        ObjectRec* owner = Pick(4) ? AnyObject() : nullptr;
        what = "owner of " + Id(o) + " := " + (owner ? Id(owner) : "none");
        hr = core_.SetOwner(o, owner ? owner->id : 0);
        break;
      }
      case 10: {
        AttrDef* d = AnyAttr(o);
        if (!d) return;
        size_t pos = AnyPos(o, d);
        const int mode = Pick(5);
        ObjectRec* hold = AnyObject();
        const int32_t holdId = hold ? hold->id : 0;
        const uint32_t bits = static_cast<uint32_t>(Pick(0x200));
        what = "slot " + Id(o) + " " + Text(d->name) + "[" + std::to_string(pos) + "] mode " +
               std::to_string(mode);
        hr = core_.ModifySlot(o, d, pos, [&](Value& v) {
          switch (mode) {
            case 0: v.flags = bits; break;
            case 1: v.ex().prefix = u"~"; break;
            case 2: v.ex().postfix = u"rpm"; break;
            case 3: v.ex().subst = u"n/a"; break;
            default: v.ex().hold = holdId; break;
          }
        });
        break;
      }
      case 11: {
        const char16_t* name = kTriggerNames[Pick(3)];
        what = "trigger " + Text(name) + " on " + Id(o);
        TriggerRec* t = core_.FindTrigger(o->id, name);
        if (t && Pick(2)) {
          what += " removed";
          hr = core_.RemoveTrigger(o->id, name);
        } else {
          if (!t) hr = core_.AddTrigger(o->id, name, &t);
          if (SUCCEEDED(hr)) {
            // As IKXQTrigger's setters do: the old head comes back on rollback.
            core_.OnUndo([t, handler = t->handler, option = t->option1] {
              t->handler = handler;
              t->option1 = option;
            });
            t->handler = U16(("H" + std::to_string(Pick(3))).c_str());
            t->option1 = Pick(3);
            what += " handler " + Text(t->handler);
            hr = core_.SaveTrigger(t);
          }
        }
        break;
      }
      case 12:
        what = "claim " + Id(o);
        hr = core_.AddClaim(o->id, 1 + Pick(2));
        break;
      case 13: {
        const char16_t* name = kUserNames[Pick(2)];
        LONG status = Pick(3);
        what = "user " + Text(name) + " of " + Id(o) + " status " + std::to_string(status);
        hr = core_.PutUser(o->id, name, status);
        break;
      }
      case 14: {
        ObjectRec* made = nullptr;
        hr = core_.CopyObject(o, &made);
        what = "copy " + Id(o) + (made ? " -> " + Id(made) : "");
        break;
      }
      default: {
        AttrDef* d = AnyAttr(o, true);
        if (!d) return;
        size_t n = static_cast<size_t>(Pick(4));
        what = "resize " + Id(o) + " " + Text(d->name) + " to " + std::to_string(n);
        hr = core_.Resize(o, d, n);
        break;
      }
    }
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(hr));
    Log(what + (FAILED(hr) ? std::string(" (refused ") + buf + ")" : ""));
    SetErrorInfo(0, nullptr);
  }

  StoreCore& core_;
  std::mt19937 rng_;
  std::string* log_;
};

// One transaction on s: checks the caught-up view, runs the operations,
// commits or rolls back, checks again. "" when all is well.
std::string RunStep(Store& s, const std::string& path, const Step& step, std::string* log) {
  *log +=
      "  process " + std::to_string(step.process) + ", seed " + std::to_string(step.seed) + ":\n";
  Status b = s.Begin();
  if (!b.ok()) return "Begin failed: " + b.message;
  std::vector<int32_t> ids = Loaded(s);
  std::string diff = FirstDifference(Dump(s, ids), FileDump(path, ids));
  if (!diff.empty()) {
    (void)s.Rollback();
    return "at the start of the transaction\n    " + diff;
  }
  // Now and then a class extent (which reads its members).
  if (step.seed % 4 == 1) {
    static const char16_t* const kLeaves[] = {u"Page", u"Pump", u"Datasheet", u"Nozzle"};
    const char16_t* cls = kLeaves[(step.seed / 4) % 4];
    *log += "    extent of " + Text(cls) + "\n";
    const std::string mine = StoreExtent(s, cls), file = FileExtent(path, cls);
    if (mine != file) {
      (void)s.Rollback();
      return "the extent of " + Text(cls) + " is " + mine + "; the file has " + file;
    }
  }
  Driver(s, step.seed, log).Run();
  const bool commit = step.seed % 5 != 0;
  *log += commit ? "    commit\n" : "    rollback\n";
  Status e = commit ? s.Commit() : s.Rollback();
  if (!e.ok()) return "the end of the transaction failed: " + e.message;
  ids = Loaded(s);
  diff = FirstDifference(Dump(s, ids), FileDump(path, ids));
  if (!diff.empty()) return "after the transaction\n    " + diff;
  std::string fk = SqlCheck(path, "PRAGMA foreign_key_check");
  if (!fk.empty()) return "foreign_key_check: " + fk;
  return "";
}

// Runs steps on a fresh store; the failure text with the log, or "".
std::string RunAll(const std::vector<Step>& steps, bool twoProcesses, std::string* log) {
  TempDir dir;
  const std::string path = dir.File("s.kxq");
  auto a = OpenPlant(path);
  if (!a) return "cannot create the store";
  if (!twoProcesses) {
    for (const Step& step : steps) {
      std::string why = RunStep(*a, path, step, log);
      if (!why.empty()) return why;
    }
  } else {
    int toChild[2], toParent[2];
    if (::pipe(toChild) != 0 || ::pipe(toParent) != 0) return "no pipe";
    pid_t pid = ::fork();
    if (pid < 0) return "no fork";
    if (pid == 0) {
      ::close(toChild[1]);
      ::close(toParent[0]);
      std::unique_ptr<Store> b;
      if (!Store::Open(path, OpenMode::kOpenExisting, &b).ok()) ::_exit(2);
      Step step;
      while (::read(toChild[0], &step, sizeof step) == sizeof step) {
        std::string childLog;
        std::string why = RunStep(*b, path, step, &childLog);
        std::string reply = childLog + '\0' + why;
        uint32_t n = static_cast<uint32_t>(reply.size());
        if (::write(toParent[1], &n, sizeof n) != sizeof n ||
            ::write(toParent[1], reply.data(), n) != static_cast<ssize_t>(n))
          ::_exit(3);
      }
      b.reset();
      ::_exit(0);
    }
    ::close(toChild[0]);
    ::close(toParent[1]);
    std::string why;
    for (const Step& step : steps) {
      if (step.process == 0) {
        why = RunStep(*a, path, step, log);
      } else {
        uint32_t n = 0;
        if (::write(toChild[1], &step, sizeof step) != sizeof step ||
            ::read(toParent[0], &n, sizeof n) != sizeof n) {
          why = "the second process died";
        } else {
          std::string reply(n, '\0');
          size_t got = 0;
          while (got < n) {
            ssize_t r = ::read(toParent[0], reply.data() + got, n - got);
            if (r <= 0) break;
            got += static_cast<size_t>(r);
          }
          size_t cut = reply.find('\0');
          *log += reply.substr(0, cut);
          why = cut == std::string::npos ? "a short reply" : reply.substr(cut + 1);
        }
      }
      if (!why.empty()) break;
    }
    ::close(toChild[1]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(toParent[0]);
    if (!why.empty()) return why;
  }
  a.reset();
  std::string ic = SqlCheck(path, "PRAGMA integrity_check");
  if (ic != "ok ") return "integrity_check: " + ic;
  return "";
}

// Drops transactions while the sequence still fails; returns the report of
// the shortest failing sequence found.
std::string Shrink(std::vector<Step> steps, bool twoProcesses) {
  std::string log;
  std::string why = RunAll(steps, twoProcesses, &log);
  for (size_t chunk = std::max<size_t>(1, steps.size() / 2);; chunk /= 2) {
    for (size_t at = 0; at < steps.size();) {
      std::vector<Step> fewer = steps;
      fewer.erase(fewer.begin() + static_cast<long>(at),
                  fewer.begin() + static_cast<long>(std::min(steps.size(), at + chunk)));
      std::string fewerLog;
      std::string fewerWhy = RunAll(fewer, twoProcesses, &fewerLog);
      if (!fewerWhy.empty()) {
        steps = fewer;
        log = fewerLog;
        why = fewerWhy;
      } else {
        at += chunk;
      }
    }
    if (chunk <= 1) break;
  }
  return std::to_string(steps.size()) + " transaction(s):\n" + log + "  failed " + why;
}

std::vector<Step> Steps(uint32_t seed, size_t count, bool twoProcesses) {
  std::mt19937 rng(seed);
  std::vector<Step> steps(count);
  for (Step& s : steps) {
    s.process = twoProcesses ? static_cast<int>(rng() % 2) : 0;
    s.seed = rng();
  }
  return steps;
}

void Check(uint32_t seed, size_t count, bool twoProcesses) {
  std::vector<Step> steps = Steps(seed, count, twoProcesses);
  std::string log;
  std::string why = RunAll(steps, twoProcesses, &log);
  if (why.empty()) return;
  ADD_FAILURE() << "seed " << seed << " fails; the shortest sequence found:\n"
                << Shrink(steps, twoProcesses);
}

TEST(ModelPersistenceTest, EveryCommittedChangeIsInTheFileAfterEveryTransaction) {
  for (uint32_t seed : {1u, 2u, 3u}) Check(seed, 200, false);
}

TEST(ModelPersistenceTest, TwoProcessesTakingTurnsEachSeeTheFileAsItIs) {
  for (uint32_t seed : {11u, 12u}) Check(seed, 200, true);
}

}  // namespace
}  // namespace kx::store::test
