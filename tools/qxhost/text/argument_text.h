// The words of the command line as text. The terminal hands the host bytes
// in its own encoding, the one the locale of the environment names (LC_ALL,
// else LC_CTYPE, else LANG; the C locale's is ASCII), while the platform's
// "A" functions take text in the ANSI code page and its registry text is
// UTF-8. A word that is not text in the terminal's encoding is passed on as
// its bytes: a file name is bytes on disk, and a name that is not text in
// the terminal's encoding is most likely one made elsewhere, which the
// platform's loader still reaches by those bytes.
#pragma once
#include <string>

namespace qxhost {

// The word in the ANSI code page in force: its text converted, or its bytes
// when it is not text in the terminal's encoding. False (with *ansi
// unspecified) when it is text with a character the code page has no form
// for; NoAnsiForm says so.
bool ArgumentToAnsi(const std::string& word, std::string* ansi);
// "'WORD' holds characters that code page N lacks (--acp chooses it)".
std::string NoAnsiForm(const std::string& word);

// The word as UTF-16 text; false when it is not text in the terminal's
// encoding.
bool ArgumentToWide(const std::string& word, std::u16string* text);

// The word in UTF-8: its text converted, or its bytes as they are.
std::string ArgumentToUtf8(const std::string& word);

}  // namespace qxhost
