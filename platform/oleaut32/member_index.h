// Lookups of a type's members by name and by member id without scanning:
// each name (folded as the runtime compares names) and each id leads to the
// first member that has it, and each member to the next with the same name
// or id, so a search meets the members in the order they were added, as a
// scan would, and stops at the first one it takes.
#pragma once
#include <oaidl.h>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace qxplatform {
namespace internal {

class MemberIndex {
 public:
  // Where a chain of members ends.
  static constexpr uint32_t kEnd = UINT32_MAX;

  // Member position size() (the next), named name with id memid.
  void Add(const std::u16string& name, MEMBERID memid);
  uint32_t size() const { return static_cast<uint32_t>(m_nextNamed.size()); }

  // The first member whose name folds to folded (FoldedName), that is the
  // same name as SameName compares them, or kEnd; then the next after
  // position.
  uint32_t FirstNamed(const std::u16string& folded) const;
  uint32_t NextNamed(uint32_t position) const { return m_nextNamed[position]; }
  // The first member with memid, or kEnd; then the next after position.
  uint32_t FirstWithId(MEMBERID memid) const;
  uint32_t NextWithId(uint32_t position) const {
    return m_nextWithId[position];
  }

 private:
  struct Chain {
    uint32_t first;
    uint32_t last;
  };
  // A chain ends at kEnd until a member with the same key is added.
  template <typename Map, typename Key>
  void Link(Map* heads, const Key& key, std::vector<uint32_t>* next);

  std::unordered_map<std::u16string, Chain> m_byName;
  std::unordered_map<MEMBERID, Chain> m_byId;
  std::vector<uint32_t> m_nextNamed;
  std::vector<uint32_t> m_nextWithId;
};

// A name as the runtime compares names: each UTF-16 unit in its simple
// upper case, so two names are the same name when their folds are equal.
std::u16string FoldedName(const char16_t* name, size_t length);
// The same for a name that ends at its terminator.
std::u16string FoldedName(const OLECHAR* name);

}  // namespace internal
}  // namespace qxplatform
