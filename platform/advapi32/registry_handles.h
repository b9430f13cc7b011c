// The open key handles of the process: the key each names, the rights it was
// granted and its enumeration cursors. The store owns the one table and
// reaches it to its doors' holders only while its lock is held.
#pragma once
#include <cstdint>
#include <string>
#include <unordered_map>

#include "registry_view.h"

namespace qxplatform {
namespace internal {

// Where the last enumeration through a handle stopped, so that the next
// index costs one step of the index rather than a count from the start.
// Valid while the database has not changed since (its data version).
struct EnumCursor {
  bool valid = false;
  unsigned dataVersion = 0;
  uint64_t writes = 0;
  DWORD index = 0;
  std::string folded;  // subkeys: the folded name at index
  int64_t seq = 0;     // values: the order number at index
};

// An open key handle. A handle opened on an earlier database (epoch)
// names nothing any more. One opened through HKEY_CLASSES_ROOT is a view
// handle: its subkeys are found, and enumerated, in both trees of the
// view, its values are those of the key it stands on (key).
struct KeyHandle {
  KeyId key = 0;
  REGSAM granted = 0;
  uint32_t epoch = 0;
  RootId tree = RootId::kLocalMachine;  // the tree key lies in
  bool isView = false;
  ViewKey view;  // a view handle's keys in the two trees
  EnumCursor subkeys;
  EnumCursor values;
};

class HandleTable {
 public:
  // A new handle value for key, of tree; a view handle when view is given.
  HKEY Add(KeyId key, REGSAM granted, RootId tree,
           const ViewKey* view = nullptr);
  // The record of an open handle, or null.
  KeyHandle* Find(HKEY handle);
  // The predefined root's own record, which holds its cursors.
  KeyHandle& Root(RootId id) { return m_roots[static_cast<int>(id)]; }
  bool IsCurrent(const KeyHandle& handle) const {
    return handle.epoch == m_epoch;
  }
  // What a predefined root stands for while RegOverridePredefKey maps it
  // onto another key, or null.
  KeyHandle* Override(RootId id) {
    const int i = static_cast<int>(id);
    return m_overridden[i] ? &m_overrides[i] : nullptr;
  }
  // Maps the root onto a copy of target, or back to itself (null).
  void SetOverride(RootId id, const KeyHandle* target);
  // False when no handle has that value.
  bool Erase(HKEY handle);
  size_t Count() const { return m_handles.size(); }
  // Another database is in use: every handle open now names nothing in it.
  void ForgetDatabase();

 private:
  std::unordered_map<uintptr_t, KeyHandle> m_handles;
  KeyHandle m_roots[kRootCount];
  KeyHandle m_overrides[kRootCount];
  bool m_overridden[kRootCount] = {};
  uintptr_t m_nextHandle = 0x1000;
  uint32_t m_epoch = 1;
};

}  // namespace internal
}  // namespace qxplatform
