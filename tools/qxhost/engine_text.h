// Text between the script engine and automation. The engine keeps strings as
// CESU-8 (each UTF-16 unit of a surrogate pair encoded on its own); BSTRs
// and names are UTF-16. Converting unit by unit keeps every JS string,
// unpaired surrogates included, intact through a round trip.
#pragma once
#include <windows.h>

#include <cstddef>
#include <string>

namespace qxhost {

// Bytes that do not decode become U+FFFD.
std::u16string EngineTextToUtf16(const char* text, size_t length);
std::string Utf16ToEngineText(const char16_t* text, size_t length);
// For the terminal: pairs are joined into one UTF-8 sequence.
std::string EngineTextToUtf8(const char* text, size_t length);

}  // namespace qxhost
