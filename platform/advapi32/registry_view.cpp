// Resolving paths through the classes view.
#include "registry_view.h"

namespace qxplatform {
namespace internal {

const char16_t kClassesLevel[] = u"Classes";
const char16_t kSoftwareLevel[] = u"Software";
const char16_t kMachineSoftwareLevel[] = u"SOFTWARE";

namespace {

// The key a tree's subkey lookup found, or id 0 where it found none; a key
// that is missing in one tree is simply not looked below.
LSTATUS SubkeyOrNone(RegistryDb& db, const KeyInfo& parent,
                     std::u16string_view name, KeyInfo* found,
                     std::u16string* storedName) {
  *found = KeyInfo();
  if (parent.id == 0) return ERROR_SUCCESS;
  LSTATUS status = FindSubkey(db, parent, name, found, storedName);
  if (status == ERROR_FILE_NOT_FOUND) {
    *found = KeyInfo();
    return ERROR_SUCCESS;
  }
  return status;
}

LSTATUS ClassesOf(RegistryDb& db, RootId tree, std::u16string_view software,
                  KeyInfo* classes) {
  KeyInfo middle;
  LSTATUS status = SubkeyOrNone(db, RootKey(tree), software, &middle, nullptr);
  if (status != ERROR_SUCCESS) return status;
  return SubkeyOrNone(db, middle, kClassesLevel, classes, nullptr);
}

}  // namespace

LSTATUS ViewRoot(RegistryDb& db, ViewKey* root) {
  root->isRoot = true;
  LSTATUS status =
      ClassesOf(db, RootId::kCurrentUser, kSoftwareLevel, &root->user);
  if (status != ERROR_SUCCESS) return status;
  return ClassesOf(db, RootId::kLocalMachine, kMachineSoftwareLevel,
                   &root->machine);
}

LSTATUS ViewSubkey(RegistryDb& db, const ViewKey& parent,
                   std::u16string_view name, ViewKey* found,
                   std::u16string* storedName) {
  found->isRoot = false;
  LSTATUS status =
      SubkeyOrNone(db, parent.user, name, &found->user, storedName);
  if (status != ERROR_SUCCESS) return status;
  status = SubkeyOrNone(db, parent.machine, name, &found->machine,
                        found->user.id != 0 ? nullptr : storedName);
  if (status != ERROR_SUCCESS) return status;
  return found->Exists() ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LSTATUS ViewFindExisting(RegistryDb& db, const ViewKey& from,
                         const KeyLevels& levels, ViewKey* deepest,
                         size_t* found) {
  ViewKey key = from;
  size_t level = 0;
  for (; level < levels.size(); ++level) {
    ViewKey next;
    LSTATUS status = ViewSubkey(db, key, levels[level], &next);
    if (status == ERROR_FILE_NOT_FOUND) break;
    if (status != ERROR_SUCCESS) return status;
    key = next;
  }
  *deepest = key;
  *found = level;
  return ERROR_SUCCESS;
}

LSTATUS ViewFindPath(RegistryDb& db, const ViewKey& from,
                     const KeyLevels& levels, ViewKey* found) {
  size_t existing = 0;
  LSTATUS status = ViewFindExisting(db, from, levels, found, &existing);
  if (status != ERROR_SUCCESS) return status;
  return existing == levels.size() ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LSTATUS ViewWriteTarget(RegistryDb& db, const KeyLevels& levels,
                        RootId* tree, KeyLevels* stored) {
  ViewKey root;
  LSTATUS status = ViewRoot(db, &root);
  ViewKey deepest;
  size_t found = 0;
  if (status == ERROR_SUCCESS)
    status = ViewFindExisting(db, root, levels, &deepest, &found);
  if (status != ERROR_SUCCESS) return status;
  *tree = deepest.Tree();
  stored->clear();
  stored->push_back(*tree == RootId::kCurrentUser ? kSoftwareLevel
                                                  : kMachineSoftwareLevel);
  stored->push_back(kClassesLevel);
  for (std::u16string_view level : levels) stored->push_back(level);
  return ERROR_SUCCESS;
}

}  // namespace internal
}  // namespace qxplatform
