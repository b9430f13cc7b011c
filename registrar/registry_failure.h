// Telling a registry that failed from a registry that refused one request.
// A script run passes over a change the registry refuses for what it is (a
// key that refuses writing, a name the store will not take), as the
// product's scripts expect; a change lost because the registry itself
// failed (its database locked by another writer past the time-out, a full
// disk, an I/O error, a damaged database, no memory left) ends the run with
// that status, so no run reports a write the registry did not make.
#pragma once
#include <windows.h>

// True when status says the registry itself failed, rather than that it
// refused the request for its content.
[[nodiscard]] bool IsRegistryFailure(LSTATUS status);

// The status of a registry call the walk may otherwise pass over: S_OK when
// the call worked or the registry only refused it,
// HRESULT_FROM_WIN32(status) when the registry failed.
[[nodiscard]] HRESULT FailureOfRegistry(LSTATUS status);
