// Holders of SQLite's connection and statement objects: base's holder
// template with SQLite's traits, so that every exit path of the registry's
// database code closes what it opened.
#pragma once
#include <sqlite3.h>

#include "base/unique_handle.h"

namespace qxplatform {
namespace internal {

struct SqliteConnectionTraits {
  using Type = sqlite3*;
  static Type Invalid() { return nullptr; }
  static void Close(Type db) { sqlite3_close_v2(db); }
};
struct SqliteStatementTraits {
  using Type = sqlite3_stmt*;
  static Type Invalid() { return nullptr; }
  static void Close(Type statement) { sqlite3_finalize(statement); }
};

using UniqueSqlite = UniqueHandle<SqliteConnectionTraits>;
using UniqueStatement = UniqueHandle<SqliteStatementTraits>;

}  // namespace internal
}  // namespace qxplatform
