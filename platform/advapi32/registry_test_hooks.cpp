// The test controls' way into the registry store.
#include "registry_test_hooks.h"

#include "registry_store.h"
#include "registry_view.h"

namespace qxplatform {
namespace internal {

void RegistryTestHooks::FailCreateAt(long n) {
  RegistryStore::Instance().m_failCreate.Arm(n);
}

void RegistryTestHooks::FailCloseAt(long n) {
  RegistryStore::Instance().m_failClose.Arm(n);
}

void RegistryTestHooks::FailTransactionAt(long n, LSTATUS status) {
  RegistryStore& store = RegistryStore::Instance();
  {
    std::lock_guard<std::mutex> lock(store.m_mutex);
    store.m_failTransactionStatus = status;
  }
  store.m_failTransaction.Arm(n);
}

void RegistryTestHooks::AbortAfterCommit(long n) {
  RegistryStore::Instance().m_abortAfterCommit.Arm(n);
}

LSTATUS RegistryTestHooks::DenyWriteAccess(HKEY root, std::u16string_view path,
                                           bool deny) {
  const RootInfo* rootInfo = FindRootByHandle(root);
  if (rootInfo == nullptr) return ERROR_INVALID_HANDLE;
  KeyLevels named;
  LSTATUS status = SplitKeyPath(path, &named);
  if (status != ERROR_SUCCESS) return status;
  RegistryStore& store = RegistryStore::Instance();
  RegistryWriter writer(store);
  status = writer.status();
  if (status != ERROR_SUCCESS) return status;
  // A key of HKEY_CLASSES_ROOT is marked where the view finds it, or where
  // it would make it.
  RootId tree = rootInfo->id;
  KeyLevels stored;
  if (tree == RootId::kClassesRoot) {
    status = ViewWriteTarget(writer.db(), named, &tree, &stored);
    if (status != ERROR_SUCCESS) return status;
  }
  const KeyLevels& levels = rootInfo->id == RootId::kClassesRoot ? stored
                                                                  : named;
  KeyInfo key = RootKey(tree);
  bool made = false;
  for (std::u16string_view level : levels) {
    KeyInfo next;
    status = FindSubkey(writer.db(), key, level, &next);
    if (status == ERROR_FILE_NOT_FOUND && !deny)
      return ERROR_SUCCESS;  // nothing to lift on a key that does not exist
    if (status == ERROR_FILE_NOT_FOUND) {
      status = writer.keys().AddSubkey(key, level, /*isVolatile=*/false, &next);
      made = true;
    }
    if (status != ERROR_SUCCESS) return status;
    key = next;
  }
  if (made) {
    status = writer.Commit();
    if (status != ERROR_SUCCESS) return status;
  }
  if (deny) {
    store.m_denied.insert(key.id);
  } else {
    store.m_denied.erase(key.id);
  }
  return ERROR_SUCCESS;
}

LSTATUS RegistryTestHooks::Clear() {
  RegistryStore& store = RegistryStore::Instance();
  RegistryWriter writer(store);
  LSTATUS status = writer.status();
  if (status == ERROR_SUCCESS) status = writer.keys().DeleteAll();
  if (status == ERROR_SUCCESS) status = writer.Commit();
  store.m_denied.clear();
  store.m_changed = false;
  return status;
}

void RegistryTestHooks::SetStandardUser(bool standard) {
  RegistryStore& store = RegistryStore::Instance();
  std::lock_guard<std::mutex> lock(store.m_mutex);
  store.m_standardUser = standard;
}

void RegistryTestHooks::SetBoot(std::string boot) {
  RegistryStore& store = RegistryStore::Instance();
  std::lock_guard<std::mutex> lock(store.m_mutex);
  store.m_bootOverride = std::move(boot);
}

void RegistryTestHooks::SetBusyTimeout(int ms) {
  RegistryStore& store = RegistryStore::Instance();
  std::lock_guard<std::mutex> lock(store.m_mutex);
  store.m_busyTimeoutMs = ms;
  store.m_db.SetBusyTimeout(ms);
}

void RegistryTestHooks::ResetFaults() {
  RegistryStore& store = RegistryStore::Instance();
  store.m_failCreate.Arm(0);
  store.m_failClose.Arm(0);
  store.m_failTransaction.Arm(0);
  store.m_abortAfterCommit.Arm(0);
  SetBusyTimeout(kRegistryBusyTimeoutMs);
  std::lock_guard<std::mutex> lock(store.m_mutex);
  store.m_denied.clear();
  store.m_bootOverride.clear();
  store.m_standardUser = false;
  for (int root = 0; root < kRootCount; ++root)
    store.m_handles.SetOverride(static_cast<RootId>(root), nullptr);
}

long RegistryTestHooks::OpenHandles() {
  RegistryStore& store = RegistryStore::Instance();
  std::lock_guard<std::mutex> lock(store.m_mutex);
  return static_cast<long>(store.m_handles.Count());
}

bool RegistryTestHooks::Changed() {
  RegistryStore& store = RegistryStore::Instance();
  std::lock_guard<std::mutex> lock(store.m_mutex);
  return store.m_changed;
}

}  // namespace internal
}  // namespace qxplatform
