// Move-only holders of SQLite's connection and statement objects, in the
// traits style of the product's holders, so that every exit path of the
// registry's database code closes what it opened.
#pragma once
#include <sqlite3.h>

#include <utility>

namespace qxplatform {
namespace internal {

template <typename Traits>
class SqliteHolder {
 public:
  using Type = typename Traits::Type;

  SqliteHolder() = default;
  explicit SqliteHolder(Type value) : m_value(value) {}
  SqliteHolder(SqliteHolder&& other) noexcept : m_value(other.release()) {}
  SqliteHolder& operator=(SqliteHolder&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  SqliteHolder(const SqliteHolder&) = delete;
  SqliteHolder& operator=(const SqliteHolder&) = delete;
  ~SqliteHolder() { reset(); }

  Type get() const { return m_value; }
  explicit operator bool() const { return m_value != nullptr; }
  Type* put() {
    reset();
    return &m_value;
  }
  Type release() {
    Type value = m_value;
    m_value = nullptr;
    return value;
  }
  void reset(Type value = nullptr) {
    if (m_value != nullptr) Traits::Close(m_value);
    m_value = value;
  }

 private:
  Type m_value = nullptr;
};

struct SqliteConnectionTraits {
  using Type = sqlite3*;
  static void Close(Type db) { sqlite3_close_v2(db); }
};
struct SqliteStatementTraits {
  using Type = sqlite3_stmt*;
  static void Close(Type statement) { sqlite3_finalize(statement); }
};

using UniqueSqlite = SqliteHolder<SqliteConnectionTraits>;
using UniqueStatement = SqliteHolder<SqliteStatementTraits>;

// A cached statement in use: reset and its bindings cleared when the use
// ends, so the next user starts clean and no read stays open.
class StatementUse {
 public:
  explicit StatementUse(sqlite3_stmt* statement) : m_statement(statement) {}
  StatementUse(const StatementUse&) = delete;
  StatementUse& operator=(const StatementUse&) = delete;
  ~StatementUse() {
    if (m_statement != nullptr) {
      sqlite3_reset(m_statement);
      sqlite3_clear_bindings(m_statement);
    }
  }
  sqlite3_stmt* get() const { return m_statement; }
  explicit operator bool() const { return m_statement != nullptr; }

 private:
  sqlite3_stmt* m_statement;
};

}  // namespace internal
}  // namespace qxplatform
