#include "store/internal/model.h"

#include <algorithm>
#include <atomic>

#include "com/wstr.h"
#include "store/internal/templates_model.h"

namespace kx::store {

u16 FoldCase(const u16& s) {
  u16 r = s;
  for (auto& c : r) c = FoldAscii(c);
  return r;
}

bool NoCaseLess::operator()(std::u16string_view a, std::u16string_view b) const {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    char16_t x = FoldAscii(a[i]), y = FoldAscii(b[i]);
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

namespace {
// Starts at 1: an index never built has epoch 0.
std::atomic<uint64_t> g_schemaEpoch{1};
}  // namespace

uint64_t SchemaEpoch() { return g_schemaEpoch.load(std::memory_order_acquire); }
void SchemaChanged() { g_schemaEpoch.fetch_add(1, std::memory_order_acq_rel); }

// A lone surrogate has no UTF-8 form: it is written as U+FFFD.
std::string ToUtf8(const u16& s) { return kx_utf16_to_utf8_lossy(s); }

bool FromUtf8(const std::string& s, u16* out) {
  out->clear();
  out->reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    uint32_t c;
    int n;
    if (b < 0x80) {
      c = b;
      n = 0;
    } else if ((b & 0xE0) == 0xC0) {
      c = b & 0x1F;
      n = 1;
    } else if ((b & 0xF0) == 0xE0) {
      c = b & 0x0F;
      n = 2;
    } else if ((b & 0xF8) == 0xF0) {
      c = b & 0x07;
      n = 3;
    } else {
      return false;
    }
    if (i + static_cast<size_t>(n) >= s.size()) return false;
    for (int k = 1; k <= n; ++k) {
      unsigned char t = static_cast<unsigned char>(s[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      c = (c << 6) | (t & 0x3F);
    }
    static const uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (c < kMin[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    if (c >= 0x10000) {
      c -= 0x10000;
      out->push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out->push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out->push_back(static_cast<char16_t>(c));
    }
    i += n + 1;
  }
  return true;
}

u16 U16(const char* ascii) {
  u16 r;
  while (*ascii) r.push_back(static_cast<unsigned char>(*ascii++));
  return r;
}

Value::Value(const Value& o) : kind(o.kind), flags(o.flags), i(o.i), text(o.text) {
  if (o.extra) extra = std::make_unique<ValueExtra>(*o.extra);
}

Value& Value::operator=(const Value& o) {
  if (this == &o) return *this;
  kind = o.kind;
  flags = o.flags;
  i = o.i;
  text = o.text;
  extra = o.extra ? std::make_unique<ValueExtra>(*o.extra) : nullptr;
  return *this;
}

ValueExtra& Value::ex() {
  if (!extra) extra = std::make_unique<ValueExtra>();
  return *extra;
}

void Value::ClearContent() {
  kind = 0;
  i = 0;
  text.clear();
  if (extra) extra->bin.clear();
}

void Value::TakeContent(Value&& v) {
  kind = v.kind;
  i = v.i;
  text = std::move(v.text);
  if (v.extra && !v.extra->bin.empty())
    ex().bin = std::move(v.extra->bin);
  else if (extra)
    extra->bin.clear();
}

ValueList::ValueList(const ValueList& o) : count_(o.count_) {
  if (o.many_)
    many_ = std::make_unique<std::vector<Value>>(*o.many_);
  else if (count_ != 0)
    one_ = o.one_;
}

ValueList& ValueList::operator=(const ValueList& o) {
  if (this != &o) *this = ValueList(o);
  return *this;
}

ValueList::ValueList(ValueList&& o) noexcept
    : many_(std::move(o.many_)), count_(o.count_), one_(std::move(o.one_)) {
  o.count_ = 0;
}

ValueList& ValueList::operator=(ValueList&& o) noexcept {
  if (this != &o) {
    one_ = std::move(o.one_);
    many_ = std::move(o.many_);
    count_ = o.count_;
    o.count_ = 0;
  }
  return *this;
}

ValueList& ValueList::operator=(std::vector<Value>&& v) {
  if (v.size() > 1) {
    many_ = std::make_unique<std::vector<Value>>(std::move(v));
    one_ = Value();
    count_ = 0;
    return *this;
  }
  many_.reset();
  count_ = static_cast<uint32_t>(v.size());
  one_ = count_ != 0 ? std::move(v[0]) : Value();
  return *this;
}

std::vector<Value>& ValueList::Many() {
  if (!many_) {
    auto made = std::make_unique<std::vector<Value>>();
    made->reserve(4);
    if (count_ != 0) made->push_back(std::move(one_));
    one_ = Value();
    count_ = 0;
    many_ = std::move(made);
  }
  return *many_;
}

ClaimList& ClaimList::operator=(std::vector<int32_t>&& claims) {
  if (claims.size() > kInline) {
    more_ = std::make_unique<std::vector<int32_t>>(std::move(claims));
    return *this;
  }
  std::copy(claims.begin(), claims.end(), inline_);
  count_ = static_cast<uint32_t>(claims.size());
  more_.reset();
  return *this;
}

void ClaimList::push_back(int32_t project) {
  if (more_) {
    more_->push_back(project);
  } else if (count_ < kInline) {
    inline_[count_++] = project;
  } else {
    auto all = std::make_unique<std::vector<int32_t>>(inline_, inline_ + count_);
    all->push_back(project);
    more_ = std::move(all);
  }
}

void ClaimList::pop_back() {
  if (!more_) {
    --count_;
    return;
  }
  more_->pop_back();
  if (more_->size() <= kInline) {
    count_ = static_cast<uint32_t>(more_->size());
    std::copy(more_->begin(), more_->end(), inline_);
    more_.reset();
  }
}

void ValueList::Fold() {
  if (!many_ || many_->size() > 1) return;
  count_ = static_cast<uint32_t>(many_->size());
  one_ = count_ != 0 ? std::move((*many_)[0]) : Value();
  many_.reset();
}

void ValueList::clear() {
  many_.reset();
  one_ = Value();
  count_ = 0;
}

void ValueList::resize(size_t n) {
  if (!many_ && n <= 1) {
    if (n != count_) one_ = Value();
    count_ = static_cast<uint32_t>(n);
    return;
  }
  Many().resize(n);
  Fold();
}

void ValueList::push_back(Value&& v) {
  if (!many_ && count_ == 0) {
    one_ = std::move(v);
    count_ = 1;
    return;
  }
  Many().push_back(std::move(v));
}

Value* ValueList::insert(const Value* at, Value&& v) {
  const auto k = at - data();
  std::vector<Value>& m = Many();
  m.insert(m.begin() + k, std::move(v));
  Fold();
  return data() + k;
}

Value* ValueList::insert(const Value* at, size_t n, const Value& v) {
  const auto k = at - data();
  std::vector<Value>& m = Many();
  m.insert(m.begin() + k, n, v);
  Fold();
  return data() + k;
}

Value* ValueList::erase(const Value* first, const Value* last) {
  const auto k = first - data();
  const auto end = last - data();
  if (!many_) {
    if (end > k) clear();
    return data() + k;
  }
  many_->erase(many_->begin() + k, many_->begin() + end);
  Fold();
  return data() + k;
}

bool SameContent(const Value& a, const Value& b) {
  if (a.kind != b.kind) return false;
  if (a.kind == KXQ_TYPE_REAL || a.kind == KXQ_TYPE_DATE) {
    if (a.r != b.r) return false;
  } else if (a.i != b.i) {
    return false;
  }
  if (a.text != b.text) return false;
  const std::string empty;
  const std::string& ba = a.extra ? a.extra->bin : empty;
  const std::string& bb = b.extra ? b.extra->bin : empty;
  return ba == bb;
}

bool SameSlot(const Value& a, const Value& b) {
  if (!SameContent(a, b) || a.flags != b.flags) return false;
  const ValueExtra* x = a.exOrNull();
  const ValueExtra* y = b.exOrNull();
  static const ValueExtra kNone;
  if (!x) x = &kNone;
  if (!y) y = &kNone;
  return x->hold == y->hold && x->prefix == y->prefix && x->postfix == y->postfix &&
         x->subst == y->subst && x->bin == y->bin;
}

bool ClassRec::IsKindOf(const ClassRec* other) const {
  for (const ClassRec* c = this; c; c = c->base)
    if (c == other) return true;
  return false;
}

std::vector<AttrDef*> ClassRec::Layout() const {
  std::vector<AttrDef*> out;
  if (base) out = base->Layout();
  out.insert(out.end(), own.begin(), own.end());
  return out;
}

AttrDef* ClassRec::FindAttr(std::u16string_view name) const {
  const uint64_t epoch = SchemaEpoch();
  if (attrIndexEpoch_ != epoch) {
    size_t count = 0;
    for (const ClassRec* c = this; c; c = c->base) count += c->own.size();
    size_t size = 8;
    while (size < 2 * count) size *= 2;
    attrIndex_.assign(size, nullptr);
    // The first of a name wins: the class's own, then its bases' in turn.
    for (const ClassRec* c = this; c; c = c->base) {
      for (AttrDef* d : c->own) {
        size_t at = NameHash(d->name) & (size - 1);
        while (attrIndex_[at] != nullptr && !EqualsNoCase(attrIndex_[at]->name, d->name))
          at = (at + 1) & (size - 1);
        if (attrIndex_[at] == nullptr) attrIndex_[at] = d;
      }
    }
    attrIndexEpoch_ = epoch;
  }
  const size_t mask = attrIndex_.size() - 1;
  for (size_t at = NameHash(name) & mask; attrIndex_[at] != nullptr; at = (at + 1) & mask)
    if (EqualsNoCase(attrIndex_[at]->name, name)) return attrIndex_[at];
  return nullptr;
}

ValueList* ObjectRec::Find(int32_t attr) {
  auto it = std::lower_bound(attrs.begin(), attrs.end(), attr,
                             [](const AttrValues& a, int32_t id) { return a.attr < id; });
  return (it != attrs.end() && it->attr == attr) ? &it->values : nullptr;
}

const ValueList* ObjectRec::Find(int32_t attr) const {
  return const_cast<ObjectRec*>(this)->Find(attr);
}

namespace {
// Listings past this many are found through an index rather than a scan.
constexpr size_t kScannedListings = 16;
}  // namespace

TriggerItem::Listing* TriggerItem::Find(const ReadKey& read) {
  if (listings.size() <= kScannedListings) {
    for (Listing& listing : listings)
      if (listing.list == read.list && listing.at == read.at) return &listing;
    return nullptr;
  }
  const auto found = listingAt->find(read);
  return found == listingAt->end() ? nullptr : &listings[found->second];
}

void TriggerItem::Add(const ReadKey& read, uint32_t watchers) {
  listings.push_back({read, watchers, true});
  if (listings.size() == kScannedListings + 1) {
    listingAt = std::make_unique<ListingIndex>();
    for (uint32_t at = 0; at < listings.size(); ++at) (*listingAt)[listings[at].read()] = at;
  } else if (listings.size() > kScannedListings + 1) {
    (*listingAt)[read] = static_cast<uint32_t>(listings.size() - 1);
  }
}

void TriggerItem::Unlist(const ReadKey& read) {
  Listing* listing = Find(read);
  if (listing == nullptr) return;
  const bool indexed = listings.size() > kScannedListings;
  if (indexed) listingAt->erase(read);
  if (listing != &listings.back()) {
    *listing = listings.back();
    if (indexed) (*listingAt)[listing->read()] = static_cast<uint32_t>(listing - listings.data());
  }
  listings.pop_back();
  if (indexed && listings.size() <= kScannedListings) listingAt.reset();
}

void TriggerItem::Reindex() {
  if (listings.size() <= kScannedListings) {
    listingAt.reset();
    return;
  }
  if (listingAt) {
    listingAt->clear();
  } else {
    listingAt = std::make_unique<ListingIndex>();
  }
  for (uint32_t at = 0; at < listings.size(); ++at) (*listingAt)[listings[at].read()] = at;
}

TriggerItem* TriggerRec::Item(const u16& key) {
  auto [it, made] = items.try_emplace(key);
  if (made) {
    it->second.trigger = this;
    it->second.key = &it->first;
  }
  return &it->second;
}

TriggerItem* TriggerRec::NumberedItem(int32_t number) {
  // Numbers past this are looked up by their text each time.
  constexpr size_t kKept = 1 << 16;
  const auto at = static_cast<size_t>(number);
  if (at < numbered.size() && numbered[at] != nullptr) return numbered[at];
  const std::string digits = std::to_string(number);
  TriggerItem* item = Item(u16(digits.begin(), digits.end()));
  if (at < kKept) {
    if (at >= numbered.size()) numbered.resize(at + 1);
    numbered[at] = item;
  }
  return item;
}

ValueList& ObjectRec::Get(int32_t attr) {
  auto it = std::lower_bound(attrs.begin(), attrs.end(), attr,
                             [](const AttrValues& a, int32_t id) { return a.attr < id; });
  if (it != attrs.end() && it->attr == attr) return it->values;
  return attrs.insert(it, AttrValues{attr, {}})->values;
}

static bool AllDigits(const u16& s) {
  if (s.empty()) return false;
  for (char16_t c : s)
    if (c < u'0' || c > u'9') return false;
  return true;
}

bool ChecknumLess(const u16& a, const u16& b) {
  bool na = AllDigits(a), nb = AllDigits(b);
  if (na != nb) return na;  // numbers first
  if (na) {
    u16 x = a.substr(std::min(a.find_first_not_of(u'0'), a.size()));
    u16 y = b.substr(std::min(b.find_first_not_of(u'0'), b.size()));
    if (x.size() != y.size()) return x.size() < y.size();
    return x < y;
  }
  return a < b;
}

TemplateRec* TemplateLibraryRec::Current(const u16& id) const {
  auto it = byId.find(id);
  if (it == byId.end() || it->second.empty()) return nullptr;
  TemplateRec* best = nullptr;
  for (auto& [ck, t] : it->second)
    if (!best || ChecknumLess(best->checknum, ck)) best = t.get();
  return Load(best) ? best : nullptr;
}

bool TemplateLibraryRec::Has(const u16& id, const u16& checknum) const {
  auto it = byId.find(id);
  return it != byId.end() && it->second.count(checknum) != 0;
}

bool TemplateLibraryRec::Load(TemplateRec* t) const {
  if (t->loaded) return true;
  std::unique_ptr<TemplateRec> whole = read ? read(t->id, t->checknum) : nullptr;
  if (!whole) return false;
  // Keyed as stored, whatever the text says.
  whole->id = t->id;
  whole->checknum = t->checknum;
  whole->loaded = true;
  *t = std::move(*whole);
  return true;
}

const u16& TemplateLibraryRec::IdAt(size_t position) const {
  if (orderGeneration != byId.generation() || order.size() != byId.size()) {
    order.clear();
    for (const auto& entry : byId) order.push_back(&entry.first);
    orderGeneration = byId.generation();
  }
  return *order[position];
}

TemplateRec* TemplateLibraryRec::Version(const u16& id, const u16& checknum) const {
  auto it = byId.find(id);
  if (it == byId.end()) return nullptr;
  auto jt = it->second.find(checknum);
  if (jt == it->second.end()) return nullptr;
  return Load(jt->second.get()) ? jt->second.get() : nullptr;
}

}  // namespace kx::store
