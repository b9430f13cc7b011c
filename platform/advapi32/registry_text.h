// Reading and writing "Windows Registry Editor Version 5.00" text. Reading
// turns the whole text into a list of operations first, so a malformed text
// is refused before anything in the store changes.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "registry_store.h"

namespace qxplatform {
namespace internal {

struct RegTextOp {
  enum class Kind { kOpenKey, kDeleteKey, kSetValue, kDeleteValue };
  Kind kind = Kind::kOpenKey;
  // kOpenKey and kDeleteKey: the key. Value operations apply to the key of
  // the latest kOpenKey.
  RootId root = RootId::kClassesRoot;
  std::vector<std::u16string> levels;
  RegValue value;  // the name alone for kDeleteValue
};

// Parses .reg text in UTF-8 (with or without BOM) or UTF-16LE with BOM. On
// failure *error names the line and what is wrong with it.
bool ParseRegText(std::string_view bytes, std::vector<RegTextOp>* ops,
                  std::string* error);

// Applies parsed operations to four roots, creating keys as regedit does.
void ApplyRegOps(const std::vector<RegTextOp>& ops,
                 const RegKeyPtr (&roots)[kRootCount]);

// The header line and the blank line after it.
std::string RegTextHeader();

// Appends the section of key (named by path, "HKEY_...\\A\\B") and those of
// everything below it. With writeSelf false only the sections below are
// written. Volatile keys are left out when skipVolatile is set. Fails on a
// name the format cannot carry (a line break in it).
bool AppendKeySections(const RegKey& key, const std::u16string& path,
                       bool writeSelf, bool skipVolatile, std::string* out,
                       std::string* error);

}  // namespace internal
}  // namespace qxplatform
