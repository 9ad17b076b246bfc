// The in-memory model of a store: schema, objects and their values, units,
// projects and the other tables. Plain data; StoreCore changes it.
#pragma once

#ifndef KX_STORE_INTERNAL
#error "store/internal headers are private to their library; include its public headers"
#endif

#include <compare>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "store/fwd.h"

namespace kx::store {

using u16 = std::u16string;

// ASCII-only case folding, whatever the locale. Inline: names are compared
// character by character on every attribute looked up by name.
inline char16_t FoldAscii(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
}
u16 FoldCase(const u16& s);
inline bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  if (a.empty()) return true;
  // Names are mostly asked for as written.
  if (std::memcmp(a.data(), b.data(), a.size() * sizeof(char16_t)) == 0) return true;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  return true;
}

// Case-insensitive key for maps of names.
// Transparent: a name can be looked up without being copied first.
struct NoCaseLess {
  using is_transparent = void;
  bool operator()(std::u16string_view a, std::u16string_view b) const;
};
// Case-insensitive hashing and equality for unordered maps of names; also
// transparent.
// Cheap: the length and three characters. Names that are equal in any case
// hash alike, as setting bit 5 is all ASCII folding changes.
inline size_t NameHash(std::u16string_view s) {
  const size_t n = s.size();
  if (n == 0) return 0;
  return (n * 0x9E3779B1u) ^ (static_cast<size_t>(s[0] | 0x20) << 7) ^
         (static_cast<size_t>(s[n / 2] | 0x20) << 3) ^ static_cast<size_t>(s[n - 1] | 0x20);
}
struct NoCaseHash {
  using is_transparent = void;
  size_t operator()(std::u16string_view s) const { return NameHash(s); }
};
struct NoCaseEqual {
  using is_transparent = void;
  bool operator()(std::u16string_view a, std::u16string_view b) const { return EqualsNoCase(a, b); }
};

// Moves whenever a class gains or loses an attribute definition or is
// added, in any store: what was derived from a class's definitions before
// is then rebuilt.
uint64_t SchemaEpoch();
void SchemaChanged();

std::string ToUtf8(const u16& s);
// Strict: invalid UTF-8 gives false.
bool FromUtf8(const std::string& s, u16* out);
u16 U16(const char* ascii);

// Rarely used parts of a value, kept out of line to keep Value small.
struct ValueExtra {
  int32_t hold = 0;
  u16 prefix, postfix, subst;
  std::string bin;
};

// Highest list position: requests reach positions unchecked, and a list
// padded to an absurd position would exhaust memory.
inline constexpr size_t kMaxPosition = size_t{1} << 20;
// Largest object id: the id after it, the next to give, is still an id's
// number. The next id stays at kNoObjectIdLeft once every id was given.
inline constexpr int32_t kMaxObjectId = INT32_MAX - 1;
inline constexpr int32_t kNoObjectIdLeft = INT32_MAX;
inline int32_t IdAfter(int32_t id) { return id < kMaxObjectId ? id + 1 : kNoObjectIdLeft; }
// Largest binary value read from a stream (which need not end).
inline constexpr size_t kMaxBinaryBytes = size_t{64} << 20;

// Per-value flag bits.
enum : uint32_t {
  kFlagLocked = 0x1,
  kFlagSecured = 0x2,
  kFlagStatus1 = 0x10,
  kFlagStatus2 = 0x20,
  kFlagStatus3 = 0x40,
  kFlagStatus4 = 0x80,
  kFlagNot5 = 0x100,  // the fifth status flag is false (true by default)
};

// One value slot. kind 0 is an empty slot; otherwise a KXQDataType code
// (text kinds 1 and 4 are kept as 1).
struct Value {
  uint8_t kind = 0;
  uint32_t flags = 0;
  union {
    int64_t i = 0;  // integer, Boolean (0/1), object id
    double r;       // real, date
  };
  u16 text;  // text; the unit of a real
  std::unique_ptr<ValueExtra> extra;

  Value() = default;
  Value(const Value& o);
  Value& operator=(const Value& o);
  Value(Value&&) noexcept = default;
  Value& operator=(Value&&) noexcept = default;

  bool empty() const { return kind == 0; }
  ValueExtra& ex();
  const ValueExtra* exOrNull() const { return extra.get(); }
  // Clears the content, keeping flags and texts of the slot.
  void ClearContent();
  // Takes `v`'s content (kind, number, text, bytes), keeping the slot's own
  // flags and texts.
  void TakeContent(Value&& v);
};
bool SameContent(const Value& a, const Value& b);
// Whether every read of the two slots answers alike: content, flags, hold
// and texts.
bool SameSlot(const Value& a, const Value& b);

// What a read looked at of one attribute of one object: the whole list, its
// number of entries, or one entry. A change fires the trigger items that
// read what it changed, so that writing one entry of a long list fires the
// items of that entry, not those of every other one.
inline constexpr uint32_t kWholeList = 0;
inline constexpr uint32_t kEntryCount = UINT32_MAX;
// A position past any that can be written: a read there finds nothing, now
// and later.
inline constexpr uint32_t kNeverWritten = static_cast<uint32_t>(kMaxPosition + 1);
inline uint64_t ListKey(int32_t obj, int32_t attr) {
  return (static_cast<uint64_t>(static_cast<uint32_t>(obj)) << 32) | static_cast<uint32_t>(attr);
}
struct ReadKey {
  uint64_t list = 0;         // ListKey(object, attribute)
  uint32_t at = kWholeList;  // kWholeList, kEntryCount or a position from 1
  friend bool operator==(const ReadKey&, const ReadKey&) = default;
  friend auto operator<=>(const ReadKey&, const ReadKey&) = default;
};
// The read of entry `pos` (1-based; positions past those a list can hold
// read as one that is never written).
inline ReadKey EntryRead(int32_t obj, int32_t attr, size_t pos) {
  return {ListKey(obj, attr), pos > kMaxPosition ? kNeverWritten : static_cast<uint32_t>(pos)};
}
struct ReadKeyHash {
  size_t operator()(const ReadKey& k) const {
    return static_cast<size_t>((k.list ^ (uint64_t{k.at} << 40 | k.at)) * 0x9e3779b97f4a7c15ull >>
                               16);
  }
};

struct ClassRec;

struct AttrDef {
  int32_t id = 0;
  ClassRec* owner = nullptr;
  u16 name;
  int type = KXQ_TYPE_TEXT;
  bool list = false;
  bool collection = false;  // an object list whose deleted members are removed
  u16 refClass;
  u16 dimension;
  u16 defaultUnit;
  u16 doc;
  // Id of an object the definition refers to for more about the attribute
  // (a standard, a data sheet); 0 for none.
  int32_t link = 0;
  u16 path;
  u16 disciplines;
  // Non-empty: a read-only list computed by the store: the objects whose
  // attribute of this name refers to the object ("DataViews" as the
  // inverse of "NodeObjects", "OverspillFrom" of "OverspillTo").
  u16 inverse;
};

struct ClassRec {
  int32_t id = 0;
  u16 name;
  ClassRec* base = nullptr;
  u16 description;
  bool definition = false;
  std::vector<AttrDef*> own;  // in definition order
  std::vector<ClassRec*> subclasses;
  IUnknown* com = nullptr;  // cached ClassImpl (one reference)

  bool IsKindOf(const ClassRec* other) const;
  // Own and inherited definitions, inherited first.
  std::vector<AttrDef*> Layout() const;
  // The definition of that name (any case), the class's own before its
  // bases'; looked up in an index built on first use and rebuilt after a
  // schema change (SchemaEpoch).
  AttrDef* FindAttr(std::u16string_view name) const;

 private:
  // Open addressing by NameHash, a power of two in size, at most half full.
  mutable std::vector<AttrDef*> attrIndex_;
  mutable uint64_t attrIndexEpoch_ = 0;
};

// The slots of one attribute, as a vector would hold them. Most attributes
// hold one value: it stays in the list itself, so reading it follows no
// pointer of its own; a longer list moves to a vector held aside.
class ValueList {
 public:
  using value_type = Value;
  using iterator = Value*;
  using const_iterator = const Value*;

  ValueList() = default;
  ValueList(const ValueList& o);
  ValueList& operator=(const ValueList& o);
  ValueList(ValueList&& o) noexcept;
  ValueList& operator=(ValueList&& o) noexcept;
  ValueList& operator=(std::vector<Value>&& v);

  size_t size() const { return many_ ? many_->size() : count_; }
  bool empty() const { return size() == 0; }
  Value* data() { return many_ ? many_->data() : &one_; }
  const Value* data() const { return many_ ? many_->data() : &one_; }
  Value* begin() { return data(); }
  Value* end() { return data() + size(); }
  const Value* begin() const { return data(); }
  const Value* end() const { return data() + size(); }
  Value& operator[](size_t k) { return data()[k]; }
  const Value& operator[](size_t k) const { return data()[k]; }
  Value& back() { return data()[size() - 1]; }
  const Value& back() const { return data()[size() - 1]; }

  void clear();
  // New slots are empty values.
  void resize(size_t n);
  void push_back(Value&& v);
  Value* insert(const Value* at, Value&& v);
  Value* insert(const Value* at, size_t n, const Value& v);
  template <class It>
  Value* insert(const Value* at, It first, It last) {
    const auto k = at - data();
    std::vector<Value>& m = Many();
    m.insert(m.begin() + k, first, last);
    Fold();
    return data() + k;
  }
  Value* erase(const Value* first, const Value* last);

 private:
  // The vector, made with the list's values when it is not yet used.
  std::vector<Value>& Many();
  // Back to the value held inline once the vector holds at most one.
  void Fold();

  // What size() and data() ask first, then the value: a read of a single
  // value stays within the record's first bytes.
  std::unique_ptr<std::vector<Value>> many_;
  uint32_t count_ = 0;  // 0 or 1 while many_ is unset
  Value one_;           // the slot while count_ is 1 and many_ is unset
};

// The projects that claim an object, in the order claimed. Mostly one: a
// few stay in the record itself, so that asking whether an object is in
// scope reads no memory of its own.
class ClaimList {
 public:
  ClaimList() = default;
  ClaimList(const ClaimList&) = delete;
  ClaimList& operator=(const ClaimList&) = delete;
  ClaimList& operator=(std::vector<int32_t>&& claims);

  const int32_t* begin() const { return more_ ? more_->data() : inline_; }
  const int32_t* end() const { return begin() + size(); }
  size_t size() const { return more_ ? more_->size() : count_; }
  void push_back(int32_t project);
  void pop_back();

 private:
  static constexpr size_t kInline = 4;
  uint32_t count_ = 0;  // while more_ is unset
  int32_t inline_[kInline] = {};
  std::unique_ptr<std::vector<int32_t>> more_;  // all of them, past kInline
};

struct AttrValues {
  int32_t attr;
  ValueList values;
};

// What a read of the object touches comes first, within one cache line.
// The object's interface is made in the record's last line while the store
// is open: a walk over thousands of objects then finds each interface
// beside its record rather than somewhere else on the heap.
struct alignas(64) ObjectRec {
  int32_t id = 0;
  bool live = true;
  bool comInSlot = false;  // the interface occupies comSlot
  ClassRec* cls = nullptr;
  std::vector<AttrValues> attrs;  // sorted by attr id
  IKXQObject* com = nullptr;      // the one interface (one reference)
  int32_t owner = 0;
  int32_t holder = 0;  // object whose collection attribute holds this one
  uint32_t flags = 0;  // kObjStatusCopy
  // How often a catch-up brought in another process's change of the
  // object's values or its deletion, or its object values changed here
  // (IKXQExternalChanges).
  uint32_t externalChanges = 0;
  u16 holderAttr;
  ClaimList claims;
  alignas(64) unsigned char comSlot[64];

  ObjectRec() = default;
  ObjectRec(const ObjectRec&) = delete;
  ObjectRec& operator=(const ObjectRec&) = delete;

  ValueList* Find(int32_t attr);
  const ValueList* Find(int32_t attr) const;
  ValueList& Get(int32_t attr);
};
enum : uint32_t { kObjStatusCopy = 0x1 };

struct UnitRec {
  u16 name;
  u16 dimension;
  double factor = 1;
  double offset = 0;
  u16 display;
};

struct DimensionRec {
  u16 name;
  u16 baseUnit;
  std::vector<u16> units;  // schema order
  IUnknown* com = nullptr;
};

struct DimensionSetRec {
  u16 name;
  std::map<u16, u16, NoCaseLess> units;  // dimension -> unit
};

struct ProjectRec {
  int32_t id = 0;
  u16 name;
  int32_t parent = 0;
  std::vector<int32_t> children;
  IUnknown* com = nullptr;
};

struct FilterRec {
  u16 name, title, className, attribute, value;
  IUnknown* com = nullptr;
};

struct SortRec {
  u16 code, title, attribute;
  bool descending = false;
  IUnknown* com = nullptr;
};

struct MethodRec {
  u16 scope;  // class name, or "" for the schema
  u16 name;
  int kind = 0;  // 0 empty, 1 Boolean, 2 integer, 3 text
  u16 result;    // the result as text
  long calls = 0;
  std::vector<u16> lastArguments;  // of the last call, as texts
};

struct TriggerRec;
struct TriggerItem;

// The trigger items that recorded one read (ReadKey). They are kept
// in firing order (trigger owner, name, key; an item listed since last fired
// waits at the end until then): a change fires them without sorting them
// all. Once a change has gone through them all, each has fired, lost its
// trigger's owner or stopped reading: the next change of the value fires
// nothing and need not look, until one reads it again or the store's
// fireable count moved. An item that stopped reading stays listed until a
// change meets it, its recording ends without the read, or its trigger's
// items are all reset.
struct TriggerWatchers {
  // Most reads (one entry of a list) are an item's or two's: those are held
  // inline, without an allocation for each of the thousands a page records.
  class Items {
   public:
    Items() = default;
    Items(Items&&) = default;
    Items& operator=(Items&&) = default;
    size_t size() const { return more_ ? more_->size() : few_; }
    TriggerItem** data() { return more_ ? more_->data() : few_items_; }
    TriggerItem*& operator[](size_t n) { return data()[n]; }
    void push_back(TriggerItem* item) {
      if (!more_ && few_ < kFew) {
        few_items_[few_++] = item;
        return;
      }
      if (!more_) {
        // Held by pointer: the many reads with one or two items carry one
        // word for it, not a vector's three.
        more_ = std::make_unique<std::vector<TriggerItem*>>(few_items_, few_items_ + few_);
        few_ = 0;
      }
      more_->push_back(item);
    }
    // Keeps the first n (n <= size()).
    void shrink(size_t n) {
      if (more_) {
        more_->resize(n);
      } else {
        few_ = static_cast<uint32_t>(n);
      }
    }

   private:
    static constexpr size_t kFew = 2;
    TriggerItem* few_items_[kFew] = {};
    std::unique_ptr<std::vector<TriggerItem*>> more_;
    uint32_t few_ = 0;
  };
  // `sorted` lies in what would be the end of the items' padding: a page
  // makes tens of thousands of watchers, 40 bytes each rather than 48.
  [[no_unique_address]] Items order;  // sorted up to `sorted`
  uint32_t sorted = 0;
  uint64_t quietSince = 0;  // the fireable count when last gone through, or 0
};
static_assert(sizeof(TriggerWatchers) <= 40);

// The reads recorded under one item key of a trigger: each read whose
// watchers list the item, with those watchers and whether the item reads it
// now. A reset keeps the listings, so that the same reads made again (a page
// recording its fields anew) find their watchers without looking them up;
// those not made again go when the recording ends.
struct TriggerItem {
  // The read's key is held in its parts, and its watchers by their number
  // in the store (StoreCore::WatchersNumbered) with the flag in its last
  // bit: a listing takes two words, not three.
  struct Listing {
    Listing(const ReadKey& key, uint32_t w, bool r)
        : list(key.list), at(key.at), watchers(w), reading(r) {}
    uint64_t list;
    uint32_t at;
    uint32_t watchers : 31;
    uint32_t reading : 1;
    ReadKey read() const { return {list, at}; }
  };
  TriggerRec* trigger = nullptr;
  const u16* key = nullptr;  // its key in the trigger's items
  std::vector<Listing> listings;
  // The listings' places by read, made once they are many (most items read
  // a few values, and an empty map alone is seven words).
  using ListingIndex = std::unordered_map<ReadKey, uint32_t, ReadKeyHash>;
  std::unique_ptr<ListingIndex> listingAt;

  Listing* Find(const ReadKey& read);
  bool Reads(const ReadKey& read) {
    const Listing* listing = Find(read);
    return listing != nullptr && listing->reading;
  }
  void Add(const ReadKey& read, uint32_t watchers);
  // Drops the listing of `read` (there is one).
  void Unlist(const ReadKey& read);
  // Makes the listings' index again after listings were dropped.
  void Reindex();
  // Reads nothing any more; the listings stay.
  void Reset() {
    for (Listing& listing : listings) listing.reading = false;
  }
};

struct TriggerRec {
  int32_t owner = 0;
  // The owner it was made for, kept when it is removed (owner 0): its items'
  // place in the firing order.
  int32_t madeFor = 0;
  u16 name;
  u16 handler;
  LONG option1 = 0, option2 = 0;
  // key -> its item, found by hash (a page's field trigger holds an item
  // per field). An item, once made, stays for the trigger's life (a reset
  // empties its reads): open items and watchers point at it, so a read is
  // recorded without looking its key up.
  std::unordered_map<u16, TriggerItem> items;
  // The item of key "n" (decimal) at n, once asked for by number.
  std::vector<TriggerItem*> numbered;
  // The keys fired since the last ClearFiredKeys, in firing order, and the
  // same keys as views of the items' own (which stay): a trigger whose many
  // items fire at once finds a key fired before by hash, not by a scan.
  std::vector<u16> fired;
  std::unordered_set<std::u16string_view> firedKeys;
  IUnknown* com = nullptr;

  // The item of key, made on first use.
  TriggerItem* Item(const u16& key);
  // The item of the decimal text of `number` (0 or more), made on first use.
  TriggerItem* NumberedItem(int32_t number);
};

struct UserRec {
  u16 name;
  LONG status = 0;
};

}  // namespace kx::store
