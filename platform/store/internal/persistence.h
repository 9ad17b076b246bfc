// The one interface through which the core reads and writes what a store
// keeps on disk, and learns what other processes committed. The file format
// and the change log live behind it (today SQLite; a server database shared
// by many machines could take its place).
#pragma once

#ifndef KX_STORE_INTERNAL
#error "store/internal headers are private to their library; include its public headers"
#endif

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "store/internal/model.h"

namespace kx::store {

struct StoredClass {
  int32_t id = 0;
  u16 name;
  int32_t base = 0;
  u16 description;
  bool definition = false;
};

struct StoredAttr {
  int32_t cls = 0;
  AttrDef def;  // owner unset
};

struct StoredTrigger {
  u16 name, handler;
  LONG option1 = 0, option2 = 0;
};

// One object as stored: its row, values, claims, users and triggers.
struct StoredObject {
  int32_t id = 0;
  bool exists = false;   // a live object
  bool retired = false;  // deleted: its id is never given again
  int32_t cls = 0, owner = 0, holder = 0;
  u16 holderAttr;
  uint32_t flags = 0;
  std::vector<AttrValues> attrs;  // by attribute id
  std::vector<int32_t> claims;
  std::vector<UserRec> users;
  std::vector<StoredTrigger> triggers;
};

// Everything but the objects.
struct StoredTables {
  std::vector<StoredClass> classes;
  std::vector<StoredAttr> attrs;
  std::vector<DimensionRec> dimensions;
  std::vector<UnitRec> units;
  struct DimensionSetUse {
    u16 set, dimension, unit;
  };
  std::vector<DimensionSetUse> dimensionSets;
  std::vector<ProjectRec> projects;
  std::vector<std::pair<int32_t, u16>> cases;
  std::vector<FilterRec> filters;
  std::vector<SortRec> sorts;
  std::vector<MethodRec> methods;
  std::vector<std::pair<u16, u16>> templates;  // id and checknum of each
  int32_t nextObjectId = 1;
  bool hasTemplatesFolder = false, hasBitmapFolder = false;
  u16 templatesFolder, bitmapFolder;
};

// What other processes committed since this one last looked.
struct CatchUp {
  bool changed = false;  // anything at all
  bool full = false;     // more than the log tells: read everything again
  std::vector<int32_t> objects;
  int32_t nextObjectId = 1;
};

class Persistence {
 public:
  virtual ~Persistence() = default;

  virtual bool Open(const std::string& path, bool mustExist, bool mustNotExist, bool readOnly,
                    std::string* error) = 0;
  // The last Open failed because the file is no object store (left as it
  // was).
  virtual bool NotAStore() const = 0;
  // The last Open failed because another process has the file open and it
  // could not be read beside that process (nothing was read; try again).
  virtual bool InUse() const = 0;
  // Opened read only: every write fails.
  virtual bool ReadOnly() const = 0;
  // The last failure came from another process that opened or wrote the
  // file under a reading without locks: nothing read since counts; the
  // next transaction reads the file again.
  virtual bool Moved() const = 0;
  virtual void Close() = 0;
  // How long Begin waits for another process's transaction to end.
  virtual void SetLockTimeout(int milliseconds) = 0;
  virtual const std::string& LastError() const = 0;
  // No other connection can reach the file (an in-memory database): it
  // changes only through this one.
  virtual bool Private() const = 0;
  // Test hook: the n-th following write fails as a disk error would.
  virtual void FailWriteAfter(long n) = 0;

  // Reads inside a transaction see the file under the write lock, with the
  // transaction's own changes; between transactions they see the file as
  // it is (no read snapshot is kept: it would hold back checkpoints).
  // Everything but the objects.
  virtual bool LoadTables(StoredTables* out) = 0;
  virtual bool LoadObject(int32_t id, StoredObject* out) = 0;
  // The object's row alone (no values, claims, users or triggers) and
  // whether its id was retired.
  virtual bool LoadObjectRow(int32_t id, StoredObject* out) = 0;
  // The XML text of a stored template version ("" when there is none).
  virtual bool LoadTemplate(const u16& id, const u16& checknum, std::string* xml) = 0;
  // Ids of the live objects of these classes (not their subclasses), in id
  // order.
  virtual bool Extent(const std::vector<int32_t>& classes, std::vector<int32_t>* ids) = 0;
  // (object, attribute) of the values that refer to target, in that order.
  virtual bool Referrers(int32_t target, std::vector<std::pair<int32_t, int32_t>>* sites) = 0;
  // Ids of the objects that id owns or holds, in id order.
  virtual bool Dependents(int32_t id, std::vector<int32_t>* ids) = 0;
  virtual bool CountObjects(long* count) = 0;

  // The transactions begun from now on write much (a plant's import): what
  // the file's engine would keep in temporary files it keeps in memory.
  virtual void SetBulkWriting(bool on) = 0;

  enum class Lock { kTaken, kBusy, kFailed, kMoved };
  // Takes the write lock (waiting at most the lock timeout) and tells what
  // others committed since this process last looked. A file read without
  // locks that another process opened or wrote since is read again (a full
  // change), or, when it cannot be now, kMoved (LastError).
  virtual Lock Begin(CatchUp* out) = 0;
  // Logs the objects the transaction changed and commits.
  virtual bool Commit() = 0;
  virtual void Rollback() = 0;

  // Writes, inside the transaction. False: see LastError.
  virtual bool PutClass(const ClassRec& c) = 0;
  virtual bool PutAttr(const AttrDef& d) = 0;
  virtual bool PutObject(const ObjectRec& o) = 0;
  virtual bool DeleteObject(int32_t id) = 0;
  // The values of (obj, attr) from position `from` on (1-based); grown: the
  // list only grew from there.
  virtual bool WriteTail(int32_t obj, int32_t attr, const ValueList& values, size_t from,
                         bool grown = false) = 0;
  virtual bool WriteSlot(int32_t obj, int32_t attr, size_t pos, const Value& v) = 0;
  virtual bool PutDimension(const u16& name, const u16& baseUnit) = 0;
  virtual bool PutUnit(const UnitRec& u) = 0;
  virtual bool PutDimensionSetUnit(const u16& set, const u16& dimension, const u16& unit) = 0;
  virtual bool PutProject(int32_t id, const u16& name, int32_t parent) = 0;
  virtual bool PutCase(int32_t id, const u16& name) = 0;
  virtual bool PutFilter(const FilterRec& f) = 0;
  virtual bool PutSort(const SortRec& s) = 0;
  virtual bool PutMethod(const MethodRec& m) = 0;
  virtual bool PutClaim(int32_t obj, int32_t project) = 0;
  // status <= 0 removes the user.
  virtual bool PutUser(int32_t obj, const u16& name, LONG status) = 0;
  virtual bool AddWorkflow(int32_t obj, LONG code, const u16& text) = 0;
  virtual bool PutTrigger(int32_t obj, const TriggerRec& t) = 0;
  // Logs object `obj` as changed by this transaction without writing a row
  // (a trigger of it saved as it already was).
  virtual void LogChanged(int32_t obj) = 0;
  virtual bool RemoveTrigger(int32_t obj, const u16& name) = 0;
  virtual bool PutFolder(bool bitmaps, const u16& path) = 0;
  virtual bool PutNextObjectId(int32_t id) = 0;
  virtual bool PutTemplate(const u16& id, const u16& checknum, const std::string& xml) = 0;
};

// The SQLite file (WAL, synchronous=FULL, foreign keys on).
std::unique_ptr<Persistence> MakeSqlitePersistence();

}  // namespace kx::store
