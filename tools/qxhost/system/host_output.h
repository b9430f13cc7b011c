// How qxhost reports: its exit codes and the one-line messages on stderr.
#pragma once
#include <windows.h>

#include <string>

namespace qxhost {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;  // an operation failed (HRESULT, file, store)
constexpr int kExitUsage = 2;    // the command line or its input is unusable

// "qxhost: <message>" on stderr; returns kExitUsage.
int UsageError(const std::string& message);
// "error: 0x%08X <what>" on stderr; returns kExitFailure.
int HresultError(HRESULT hr, const std::string& what);
// "qxhost: <message>" on stderr; returns kExitFailure.
int Failure(const std::string& message);

}  // namespace qxhost
