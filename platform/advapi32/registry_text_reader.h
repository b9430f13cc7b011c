// Reading "Windows Registry Editor Version 5.00" and "REGEDIT4" text as a
// stream: bytes go in as they come from the file, and each entry reaches a
// handler as soon as its line is complete, so a large file never needs to be
// in memory whole.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "registry_rows.h"

namespace qxplatform {
namespace internal {

// What a .reg text asks for, entry by entry. A handler returns false to stop
// the reading, with *what saying why; the reader adds the line number.
class RegTextHandler {
 public:
  virtual bool OpenKey(RootId root, const KeyLevels& levels,
                       std::string* what) = 0;
  // Never a root: the reader refuses "[-HKEY_...]" itself.
  virtual bool DeleteKey(RootId root, const KeyLevels& levels,
                         std::string* what) = 0;
  // Values apply to the key of the latest OpenKey; the handler may take the
  // value's contents.
  virtual bool SetValue(RegValue& value, std::string* what) = 0;
  virtual bool DeleteValue(std::u16string_view name, std::string* what) = 0;

 protected:
  ~RegTextHandler() = default;
};

// Text in UTF-8 (with or without a byte-order mark) or UTF-16LE with its
// mark. A text whose header is "REGEDIT4" is in the ANSI code page in force
// when it has no byte-order mark (as regedit writes it), and the data of its
// string values written as hex (hex(1), hex(2) for REG_EXPAND_SZ, hex(7) for
// REG_MULTI_SZ) are ANSI bytes, converted to UTF-16 as RegSetValueExA
// converts them; bytes the code page has no character for are refused.
// A text that starts with the writer's completeness mark must end with
// its closing line, so a file cut short anywhere is refused; a text without
// the mark (written by hand or by regedit) is read as it stands.
//
// A registry file (registryFile) is also refused when it ends right after
// its header line or inside the beginning of the mark: a saved file cut
// there would otherwise read as an empty registry. Files saved before the
// mark existed always have a blank line after the header.
class RegTextReader {
 public:
  RegTextReader(RegTextHandler* handler, bool registryFile)
      : m_handler(handler), m_registryFile(registryFile) {}
  // The next bytes of the text. False once the text is found bad, with
  // *error naming the line; the reader takes nothing more after that.
  bool Feed(std::string_view bytes, std::string* error);
  // The end of the text: checks what can only be checked at the end.
  bool Finish(std::string* error);

 private:
  void TakeStart();
  bool FeedUtf8(std::string_view text);
  bool FeedUtf16(std::string_view bytes);
  bool TakeUnit(char16_t unit);
  bool TakeLine(std::string_view line);
  bool HandleLogicalLine(std::string_view line, size_t lineNumber);
  bool Fail(const std::string& what);

  RegTextHandler* m_handler;
  bool m_registryFile;
  bool m_secondLineStartsMark = false;
  enum class Encoding {
    kUnknown,
    kUtf8,
    kUtf16
  } m_encoding = Encoding::kUnknown;
  std::string m_start;     // the first bytes, until the encoding is known
  std::string m_partial;   // a line not yet ended
  std::string m_joined;    // a value line continued with "\"
  std::u16string m_units;  // UTF-16 text checked, one piece at a time
  char m_oddByte = 0;
  bool m_hasOddByte = false;
  char16_t m_highSurrogate = 0;
  size_t m_lineNumber = 0;  // of the last line taken
  size_t m_joinedFrom = 0;  // where m_joined started
  bool m_sawHeader = false;
  bool m_hadByteOrderMark = false;
  bool m_ansiText = false;        // REGEDIT4 without a byte-order mark
  bool m_ansiStringData = false;  // REGEDIT4: hex string data is ANSI
  bool m_marked = false;
  bool m_inSection = false;
  bool m_sectionDeleted = false;
  bool m_lastWasClosing = false;
  bool m_failed = false;
  std::string m_error;
  // Reused for every line, so a long file makes no garbage per entry.
  std::u16string m_path;
  KeyLevels m_levels;
  RegValue m_value;
  std::string m_scratch;
  std::u16string m_wide;
  std::u16string m_lineWide;  // an ANSI line on its way to UTF-8
  std::string m_lineText;
};

// Parsed entries kept for later, for merging: a text is checked completely
// before anything in the store changes.
struct RegTextOp {
  enum class Kind { kOpenKey, kDeleteKey, kSetValue, kDeleteValue };
  Kind kind = Kind::kOpenKey;
  RootId root = RootId::kClassesRoot;
  std::vector<std::u16string> levels;  // kOpenKey and kDeleteKey
  RegValue value;                      // the name alone for kDeleteValue
};

// The whole text at once, into a list of entries.
bool ParseRegText(std::string_view bytes, std::vector<RegTextOp>* ops,
                  std::string* error);

// Replays kept entries into a handler.
bool ReplayRegOps(std::vector<RegTextOp>& ops, RegTextHandler* handler,
                  std::string* error);

}  // namespace internal
}  // namespace qxplatform
