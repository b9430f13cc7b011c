// MemberIndex: hash maps from folded names and member ids to the first
// member of each, with per-member links to the next.
#include "member_index.h"

#include "platform_internal.h"

namespace qxplatform {
namespace internal {

std::u16string FoldedName(const char16_t* name, size_t length) {
  std::u16string folded(name, length);
  for (char16_t& unit : folded) unit = SimpleUpper(unit);
  return folded;
}

template <typename Map, typename Key>
void MemberIndex::Link(Map* heads, const Key& key,
                       std::vector<uint32_t>* next) {
  const uint32_t position = static_cast<uint32_t>(next->size());
  next->push_back(kEnd);
  auto inserted = heads->emplace(key, Chain{position, position});
  if (inserted.second) return;
  Chain& chain = inserted.first->second;
  (*next)[chain.last] = position;
  chain.last = position;
}

void MemberIndex::Add(const std::u16string& name, MEMBERID memid) {
  Link(&m_byName, FoldedName(name.data(), name.size()), &m_nextNamed);
  Link(&m_byId, memid, &m_nextWithId);
}

std::u16string FoldedName(const OLECHAR* name) {
  size_t length = 0;
  while (name[length] != 0) ++length;
  return FoldedName(name, length);
}

uint32_t MemberIndex::FirstNamed(const std::u16string& folded) const {
  auto found = m_byName.find(folded);
  return found == m_byName.end() ? kEnd : found->second.first;
}

uint32_t MemberIndex::FirstWithId(MEMBERID memid) const {
  auto found = m_byId.find(memid);
  return found == m_byId.end() ? kEnd : found->second.first;
}

}  // namespace internal
}  // namespace qxplatform
