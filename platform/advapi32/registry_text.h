// Writing "Windows Registry Editor Version 5.00" text, and what the reader
// and the writer share: the header and which names the text can carry.
#pragma once
#include <string>
#include <string_view>

#include "registry_rows.h"
#include "registry_view.h"
#include "registry_text_sink.h"

namespace qxplatform {
namespace internal {

constexpr char kRegTextHeader[] = "Windows Registry Editor Version 5.00";
// The older format's header, which regedit still reads and real projects
// still ship: its text is in the ANSI code page, and so is the data of its
// string values written as hex. Only read; what is written is always the
// newer format.
constexpr char kRegEdit4Header[] = "REGEDIT4";
// Registry files that earlier hosts saved whole carry this comment right
// below the header and the closing line as their last line. Importing such
// a file checks that it was not cut short; regedit and other readers take
// both for comments.
constexpr char kRegFileCompleteMark[] =
    "; Saved whole: a complete file ends with \"; end\".";
constexpr char kRegFileClosingLine[] = "; end";

// A name the writer can put back on one line as it was read: no line break
// and no unpaired surrogate. Import and save apply the same rule, so a
// registry that loads can always be saved.
bool IsWritableName(std::u16string_view name);

// The header line and the blank line after it, as an export starts.
std::string RegTextHeader();

// Writes the section of key (named by path, "HKEY_...\\A\\B") and those of
// everything below it, read inside the caller's transaction, handing the
// text on in pieces as it goes. With writeSelf false only the sections
// below are written. Fails on a name the format cannot carry (a line break
// in it), on a failed read and on a sink that takes no more.
bool AppendKeySections(RegistryDb& db, KeyId key, const std::u16string& path,
                       bool writeSelf, TextOut& out, std::string* error);
// The same for a key of the classes view (path "HKEY_CLASSES_ROOT\\..."):
// the values of the key it shows, the subkeys of both trees merged.
bool AppendViewSections(RegistryDb& db, const ViewKey& key,
                        const std::u16string& path, TextOut& out,
                        std::string* error);

}  // namespace internal
}  // namespace qxplatform
