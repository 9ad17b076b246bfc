// Administration of an object store: the C++ API of the host and of tests.
// The service never sees it; it reaches the store through IKXQDatabase.
//
// Threads: one thread at a time uses a store (the host's apartment thread).
// Only AddRef/Release of the store's interfaces may come from other threads.
// Processes: several may open one store file. Each transaction first takes
// the file's write lock (waiting at most the lock timeout, else it fails with
// KXQ_E_BUSY having changed nothing) and then brings the model up to what
// the others committed: the objects they changed that this process has read
// are read again in place (interface pointers stay valid) and the trigger
// items whose recorded reads those changes touch fire, as for a change by
// another client. Objects are read from the file when first reached. Outside
// a transaction the objects read so far stay as the last transaction left
// them; what is read from the file then is read as the file is (no read
// snapshot is held between transactions).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "store/fwd.h"

namespace kx::store {

class StoreCore;

// Told about every change made to the store, as it is made, inside the
// current transaction. The host turns these into database events and trigger
// callbacks; on rollback it discards what it collected for the transaction
// (TransactionEnded(false) comes after the model was restored). Callbacks
// may read the store but must not change it: they run in the middle of a
// change. BeforeDelete is the exception.
class StoreObserver {
 public:
  virtual ~StoreObserver() = default;
  // Asked before `object` (borrowed) is deleted, inside the deletion's
  // transaction and before anything of the deletion is done, so that the
  // object can still be read. It may change the store (its changes belong
  // to the deletion's transaction). A failure refuses the deletion: nothing
  // is deleted, and `IKXQObject::Delete` returns that failure with the
  // error information the observer left.
  virtual HRESULT BeforeDelete(IKXQObject* /*object*/) { return S_OK; }
  virtual void ObjectCreated(LONG /*id*/, const std::u16string& /*className*/) {}
  virtual void ObjectDeleted(LONG /*id*/, const std::u16string& /*className*/) {}
  // Any change of an attribute's values (put, clear, insert, remove,
  // protection and status flags, texts).
  virtual void ValueChanged(LONG /*id*/, const std::u16string& /*attribute*/) {}
  // A trigger item fired: a value read while the item was open changed.
  virtual void TriggerFired(LONG /*ownerId*/, const std::u16string& /*trigger*/,
                            const std::u16string& /*key*/) {}
  virtual void TransactionEnded(bool /*committed*/) {}
  // A step written to the workflow log (IKXQObject::WorkflowAction, 7-10
  // and others; OpenVersion, 100 + mode; CloseVersion, 199; PutText, 0;
  // Seal, 300) with its text.
  virtual void WorkflowRecorded(LONG /*id*/, LONG /*code*/, const std::u16string& /*text*/) {}
};

enum class OpenMode {
  kOpenExisting,  // fail when the file does not exist
  kCreate,        // fail when the file exists
  kOpenOrCreate,
  // An existing file that is never written: reading works (beside other
  // processes' commits when its folder can be written, else the file and
  // the log left beside it as they are when opened). What opening a page
  // or a document records (triggers, versions opened and closed) is kept
  // in memory for this process; any other write fails and the transaction
  // is rolled back at its commit.
  kReadOnly,
};

// Outcome of an administration call: hr and, on failure, a message.
struct [[nodiscard]] Status {
  HRESULT hr = 0;
  std::string message;
  bool ok() const { return hr >= 0; }
};

// An open store file. Destroying the Store closes it (an open transaction is
// rolled back). Interface pointers handed out stay valid after the close:
// every call on them then fails with KXQ_E_CLOSED.
//
// Transactions: Begin/Commit/Rollback. A nested Begin is an error
// (KXQ_E_TRANSACTION). A change made through the interfaces outside a
// transaction runs in a transaction of its own, committed when the call
// succeeds. A failed Commit rolls back. Rollback restores the in-memory
// model through the undo log: every interface pointer stays valid and sees
// the state at Begin (an object created in the transaction answers
// KXQ_E_DELETED).
class Store {
 public:
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  // Opens or creates the SQLite file at path (UTF-8). ":memory:" gives a
  // store without a file (no durability). An existing file is judged before
  // anything is written to it: one that is no object store fails with
  // KXQ_E_NOTSTORE (empty, no SQLite database, another program's database),
  // a damaged one with KXQ_E_STORAGE; either is left as it was. One that
  // SQLite cannot read beside another process that has it open (for a
  // moment, as that process opens or closes it) fails with KXQ_E_BUSY after
  // about a quarter of a second of tries, never read without locks beside it.
  static Status Open(const std::string& path, OpenMode mode, std::unique_ptr<Store>* store);

  // The database interface. Not AddRef'd: valid while the Store lives; AddRef
  // it to keep it longer.
  IKXQDatabase* Database() const;

  // A new empty object collection of this store (AddRef'd for the caller),
  // to which objects are added with IKXQObjectCollection::Add.
  IKXQObjectCollection* CreateObjectCollection() const;

  Status Begin();
  Status Commit();
  Status Rollback();
  bool InTransaction() const;

  // A read of the file that failed where the interface call could not say
  // so (an inverse list or a class extent read as empty, a count as 0),
  // since the last Begin or the last call of this: KXQ_E_STORAGE with the
  // reason (KXQ_E_BUSY when another process committed while the store was
  // read without locks: a later try reads it again), else ok; cleared. Inside a transaction such a
  // failure also fails its Commit (nothing is written); a caller reading between transactions asks
  // here before trusting what it read.
  Status TakeReadFailure();

  // The observer is not owned and must outlive the store or be removed
  // (null) first: closing the store may still tell it of a rollback.
  void SetObserver(StoreObserver* observer);

  // Answers IKXQObject::get_Representation for live objects: sets *rep
  // (AddRef'd) to the object's representation of that kind, or leaves it
  // null. Unset (the default), no object has a representation. The store
  // keeps no representation of its own; the host brings them (a diagram's
  // drawing, from its drawing service).
  using RepresentationProvider =
      std::function<HRESULT(IKXQObject* object, const std::u16string& kind, IUnknown** rep)>;
  void SetRepresentationProvider(RepresentationProvider provider);

  // Imports a fixture (see README.md) in one transaction of its own (none may
  // be open). A malformed fixture imports nothing; the message then reads
  // "FILE:LINE: text", FILE being `name` when given (a path such as
  // "/dev/stdin" that means nothing to the user), else the path.
  Status ImportFixtureFile(const std::string& path, const std::string& name = {});
  Status ImportFixtureText(const std::string& xml, const std::string& name);

  // Sets the project that scoping and claims judge against (default 1).
  Status SetActiveProject(LONG projectId);

  // A knowledge-base method answering with a fixed value, registered on the
  // schema (className empty) or on a class; replaces one of the same name.
  // The store records each call; CallCount tells how many there were.
  Status RegisterMethod(const std::u16string& className, const std::u16string& name,
                        const VARIANT& result);
  long CallCount(const std::u16string& name) const;
  // The arguments of the last call of a method of that name (any class), as
  // texts; empty when none was made or it had no VARIANT arguments.
  std::vector<std::u16string> LastArguments(const std::u16string& name) const;

  // Makes the privilege-on-relation test of object `id` refuse `privilege`
  // naming `place` as where the deny is defined; an empty place grants it
  // again. Kept in memory for the life of this store object.
  Status DenyPrivilege(LONG id, const std::u16string& privilege, const std::u16string& place);

  // How long a transaction waits for another process's to end (default 5 s).
  void SetLockTimeout(int milliseconds);

  // Test hook: the n-th following SQL write (1 = the next) fails with
  // SQLITE_IOERR as a disk error would; 0 disarms.
  void FailWriteAfter(long n);

  // Number of live objects in the store (counted in the file, not only those
  // this process has read).
  long ObjectCount() const;

  StoreCore& core() const { return *core_; }

 private:
  explicit Store(StoreCore* core);
  StoreCore* core_;  // owns one reference
};

}  // namespace kx::store
