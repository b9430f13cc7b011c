// Bringing a registry database of an earlier layout to this one, inside
// the write transaction of the opener (registry_db_open.cpp).
#pragma once
#include <windows.h>

#include "registry_db.h"

namespace qxplatform {
namespace internal {

// The layout before HKEY_CLASSES_ROOT became a view: it had a tree of its
// own under root row 1.
constexpr int kSchemaVersionWithClassesTree = 1;

// Moves the old HKEY_CLASSES_ROOT tree into the machine's classes
// (HKEY_LOCAL_MACHINE\SOFTWARE\Classes, made when missing, as every
// registry now has it), nothing lost:
// a key the machine's classes lack moves there whole; for a key both have,
// the machine's key keeps its values, gains those of the old tree's key
// whose names it lacks, and the same merge goes on below it. The old root
// row stays, empty. Keys may end up deeper than new ones could be made.
[[nodiscard]] LSTATUS MoveClassesTreeToMachine(RegistryDb& db);

}  // namespace internal
}  // namespace qxplatform
