// The objects of a fixture, imported one <object> element at a time and
// written to the file directly: the model keeps nothing of them (it reads
// them when they are first reached, as any object), so an import needs the
// same memory whatever the plant's size.
//
// Objects may refer to objects later in the file, so a section is read
// twice: Create makes every object of it (its row, without values), Fill
// then gives each its owner, values, claims, users and triggers, in
// document order, as the model would: a collection that takes an object
// becomes its holder, and its owner when it has none.
#pragma once

#ifndef KX_STORE_INTERNAL
#error "store/internal headers are private to their library; include its public headers"
#endif

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "store/internal/core.h"
#include "store/internal/fixture_reader.h"

namespace kx::store {

class ObjectImport {
 public:
  explicit ObjectImport(StoreCore& core);

  // Before a section's objects are made, and again before they are filled:
  // ids not given are given again in the same order.
  void BeginCreating() { first_ = next_; }
  void BeginFilling() { next_ = first_; }
  // The start tag of an <object>: the object, without values.
  void Create(const Element& e);
  // A whole <object>, made before.
  void Fill(const Element& e);

  // The id the next object made here or by the model gets.
  int32_t NextId() const { return next_; }
  // Objects the model held in memory when the import wrote them.
  const std::vector<int32_t>& InMemory() const { return inMemory_; }

 private:
  // An object's row, as the file holds it or as Fill has it so far.
  struct Row {
    int32_t id = 0;
    ClassRec* cls = nullptr;
    int32_t owner = 0, holder = 0;
    u16 holderAttr;
    uint32_t flags = 0;
  };
  // The object being filled: its row and values, written when it is done.
  struct Filling {
    Row row;
    bool rowChanged = false;
    std::vector<AttrValues> values;  // by attribute id
    std::vector<int32_t> claims;
    std::vector<u16> triggers;
    ValueList& Values(int32_t attr);
  };

  int32_t IdOf(const Element& e);
  // The live object of that id: false when there is none.
  bool Live(const Element& e, int32_t id, Row* row);
  void Put(const Element& e, const Row& row);
  bool WouldOwnItself(const Element& e, int32_t member, int32_t owner);
  void SetOwner(const Element& e, Row* row, int32_t owner);
  void ReadValue(const Element& e, std::unordered_map<int32_t, size_t>& nextPos);
  // What the model does when a value is written to a slot.
  void SetValue(const Element& e, AttrDef* def, size_t pos, Value v);
  void ApplyHolding(const Element& e, AttrDef* def, const Value& v);
  void Changed(AttrDef* def);
  [[noreturn]] void StorageFailure(const Element& e);

  StoreCore& core_;
  Persistence& db_;
  std::unordered_map<int32_t, ClassRec*> classes_;
  int32_t next_ = 1;
  int32_t first_ = 1;
  Filling* filling_ = nullptr;
  std::vector<int32_t> inMemory_;
};

}  // namespace kx::store
