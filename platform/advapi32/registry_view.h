// HKEY_CLASSES_ROOT as the system shows it: not a tree of its own but the
// merge of the user's classes (HKEY_CURRENT_USER\Software\Classes) and the
// machine's (HKEY_LOCAL_MACHINE\SOFTWARE\Classes), the user's keys winning.
// A key of the view is the pair of keys of one path in the two trees, either
// of which may be missing; its values are those of the key it shows (the
// user's when there is one). Each level of a path costs one lookup in each
// tree. Everything here runs inside a transaction one of the store's doors
// holds.
#pragma once
#include "registry_rows.h"

namespace qxplatform {
namespace internal {

struct ViewKey {
  KeyInfo user;     // id 0: the user's classes have no key at this path
  KeyInfo machine;  // id 0: nor the machine's
  // The view's root stands on the machine's classes, as new classes are
  // the machine's unless made below a key of the user's.
  bool isRoot = false;
  bool Exists() const { return user.id != 0 || machine.id != 0; }
  // The tree of the key whose values the view shows, where writes to it
  // and new keys below it go.
  RootId Tree() const {
    return user.id != 0 && !isRoot ? RootId::kCurrentUser
                                   : RootId::kLocalMachine;
  }
  // That key (id 0 only for a root with no machine's classes yet).
  const KeyInfo& Shown() const {
    return Tree() == RootId::kCurrentUser ? user : machine;
  }
};

// The levels of the classes key below the roots of the two trees.
extern const char16_t kClassesLevel[];
extern const char16_t kSoftwareLevel[];
extern const char16_t kMachineSoftwareLevel[];

// The view's root: the two classes keys as far as they exist (the root
// exists in the view even when neither does).
LSTATUS ViewRoot(RegistryDb& db, ViewKey* root);
// Walks the levels through the view as far as they exist in either tree:
// *deepest gets the last key found, *found how many levels were.
LSTATUS ViewFindExisting(RegistryDb& db, const ViewKey& from,
                         const KeyLevels& levels, ViewKey* deepest,
                         size_t* found);
// Walks the levels through the view; ERROR_FILE_NOT_FOUND when a level is
// in neither tree.
LSTATUS ViewFindPath(RegistryDb& db, const ViewKey& from,
                     const KeyLevels& levels, ViewKey* found);
// A direct subkey through the view; *storedName gets the shown key's name.
LSTATUS ViewSubkey(RegistryDb& db, const ViewKey& parent,
                   std::u16string_view name, ViewKey* found,
                   std::u16string* storedName = nullptr);
// Where HKEY_CLASSES_ROOT\levels is written: the tree of the deepest key of
// the path that the view has (the user's when that key is the user's, else
// the machine's), and the path in it from its root (*stored), whose levels
// are views into `levels` and static text.
LSTATUS ViewWriteTarget(RegistryDb& db, const KeyLevels& levels,
                        RootId* tree, KeyLevels* stored);

}  // namespace internal
}  // namespace qxplatform
