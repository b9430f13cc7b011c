// The one writer of key rows: every key the registry gains or loses, through
// the entry points, a .reg import, the test controls or the clean-up of an
// earlier boot's volatile keys, is inserted or deleted here, and here the
// registry's invariants are kept:
// - a key's name is 1 to kMaxKeyNameLength units that .reg text can carry
//   (IsWritableName), else ERROR_INVALID_PARAMETER;
// - no key lies more than kMaxKeyDepth levels below its root, else
//   ERROR_INVALID_PARAMETER;
// - a key marked to refuse write access (the test control) gets no subkey
//   and is not deleted, nor is a tree holding one: ERROR_ACCESS_DENIED;
// - no non-volatile key lies below a volatile one, else
//   ERROR_CHILD_MUST_BE_VOLATILE; so removing the volatile keys' trees at a
//   new boot leaves nothing behind whose parent is gone.
// It works inside a write transaction a door of the store holds.
#pragma once
#include <string_view>
#include <unordered_set>

#include "registry_rows.h"

namespace qxplatform {
namespace internal {

using DeniedKeys = std::unordered_set<KeyId>;

class KeyWriter {
 public:
  KeyWriter(RegistryDb& db, const DeniedKeys& denied)
      : m_db(db), m_denied(denied) {}

  bool IsDenied(KeyId key) const {
    return !m_denied.empty() && m_denied.count(key) != 0;
  }
  // Whether every level could name a key.
  [[nodiscard]] LSTATUS CheckNames(const KeyLevels& levels) const;
  // Whether `count` new levels, of the given volatility, can be made one
  // below the other under parent: checked before the first is made, so a
  // refused path leaves nothing behind.
  [[nodiscard]] LSTATUS CheckNewKeys(const KeyInfo& parent, size_t count,
                                     bool isVolatile) const;
  // Makes a subkey and, unless told not to, touches the parent;
  // ERROR_ALREADY_EXISTS when the name is taken.
  [[nodiscard]] LSTATUS AddSubkey(const KeyInfo& parent,
                                  std::u16string_view name, bool isVolatile,
                                  KeyInfo* added, bool touchParent = true);
  // Deletes a key with everything below it and its values.
  [[nodiscard]] LSTATUS DeleteTree(KeyId key);
  // Deletes every volatile key's whole tree with its values.
  [[nodiscard]] LSTATUS DeleteVolatileTrees();
  // Deletes every key but the roots and the machine's classes key (and its
  // parent), and every value; touches the keys left.
  [[nodiscard]] LSTATUS DeleteAll();

 private:
  [[nodiscard]] LSTATUS CheckNoDeniedKeyIn(KeyId key);
  [[nodiscard]] LSTATUS Run(Sql which);
  [[nodiscard]] LSTATUS RunFor(Sql which, int64_t parameter);

  RegistryDb& m_db;
  const DeniedKeys& m_denied;
};

}  // namespace internal
}  // namespace qxplatform
