// The template library's model: templates by id and checknum, their pages,
// node trees, fields and unit fields. Read-only once imported.
#pragma once

#ifndef KX_STORE_INTERNAL
#error "store/internal headers are private to their library; include its public headers"
#endif

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "store/internal/model.h"

namespace kx::store {

struct TField {
  LONG id = 0;
  LONG number = 0;  // 1-based position on the page
  u16 type = u"String";
  LONG align = 0, valign = 0;
  LONG unitPos = -1;
  LONG initialState = 0;
  LONG qualifierPos = -1, casePos = -1, revisionIndex = -1;
  LONG valueKey = -1;
  u16 attribute;
  int node = -1;  // index into TPage::nodes
  std::vector<u16> options;
  // Options computed per object: the values of this list attribute of the
  // object shown ("" for fixed options).
  u16 optionsFrom;
};

struct TNode {
  u16 name;
  LONG index = 0;  // 0-based node index on the page
  LONG id = 0;
  int parent = -1;
  std::vector<int> children;
  std::vector<u16> classes;
  bool repeats = false;
  LONG caseSlot = -1;
  std::vector<int> fields;  // indices into TPage::fields
};

struct TUnit {
  u16 dimension;
  u16 defaultUnit;
  LONG align = 0, valign = 0;
};

struct TPage {
  u16 id, name, continuous;
  std::vector<TNode> nodes;
  std::vector<int> roots;
  std::vector<TField> fields;
  std::vector<TUnit> units;
  LONG revisions = 0;
  LONG revisionAlign = 0, revisionValign = 0;
  std::map<LONG, std::vector<LONG>> qualifiers;
  u16 overspillTarget;
  std::vector<std::pair<int, u16>> overspillPairs;  // node, vector attribute
};

struct TemplateRec {
  u16 id, checknum, name, kind = u"Datasheet", category, path;
  bool available = true;
  std::vector<u16> classes;
  std::vector<TPage> pages;
  u16 cachedData, workbook;
  IUnknown* com = nullptr;
  // Interfaces of pages (kind 0), nodes (1), fields (2): (kind, page, index).
  // Asked for every field of a page a walk reads, hence hashed.
  struct PartKeyHash {
    size_t operator()(const std::tuple<int, int, int>& key) const noexcept {
      const auto part = [&](int value) {
        return static_cast<uint64_t>(static_cast<uint32_t>(value));
      };
      const uint64_t packed =
          (part(std::get<1>(key)) << 34) ^ (part(std::get<2>(key)) << 2) ^ part(std::get<0>(key));
      return std::hash<uint64_t>()(packed);
    }
  };
  std::unordered_map<std::tuple<int, int, int>, IUnknown*, PartKeyHash> parts;
  // False for a stored version not read yet: only id and checknum are set.
  bool loaded = true;
};

// id -> checknum -> template. Counts the changes that may add or remove an
// id, so that positions in id order can be cached.
class TemplateIndex : public std::map<u16, std::map<u16, std::unique_ptr<TemplateRec>>> {
 public:
  using Base = std::map<u16, std::map<u16, std::unique_ptr<TemplateRec>>>;
  mapped_type& operator[](const u16& id) {
    ++generation_;
    return Base::operator[](id);
  }
  template <class Key>
  auto erase(Key&& key) {
    ++generation_;
    return Base::erase(std::forward<Key>(key));
  }
  uint64_t generation() const { return generation_; }

 private:
  uint64_t generation_ = 0;
};

struct TemplateLibraryRec {
  // id -> checknum -> template; the current version is the highest
  // checknum (decimal compare).
  TemplateIndex byId;
  u16 templatesFolder = u"Templates", bitmapFolder = u"Bitmaps";
  std::vector<std::pair<u16, u16>> notifications;
  std::vector<std::unique_ptr<TemplateRec>> retired;  // rolled-back imports
  // The ids in id order, for IdAt; valid for byId.generation() ==
  // orderGeneration.
  mutable std::vector<const u16*> order;
  mutable uint64_t orderGeneration = ~uint64_t{0};

  // Reads a stored version (id, checknum) from the file; null when it
  // cannot be read. Set by the store: versions are read when first used.
  std::function<std::unique_ptr<TemplateRec>(const u16& id, const u16& checknum)> read;

  // The current and the given version, read when not read yet; null when
  // there is none (or it cannot be read).
  TemplateRec* Current(const u16& id) const;
  // The id at a 0-based position in id order (REQUIRES: position <
  // byId.size()); constant time while the ids stay the same.
  const u16& IdAt(size_t position) const;
  TemplateRec* Version(const u16& id, const u16& checknum) const;
  // Whether the version exists, without reading it.
  bool Has(const u16& id, const u16& checknum) const;
  // Makes a version not read yet whole in place (its pointer stays).
  bool Load(TemplateRec* t) const;
};

// Decimal compare of checknums ("9" < "10"); non-numeric texts compare as
// texts after the numbers.
bool ChecknumLess(const u16& a, const u16& b);

}  // namespace kx::store
