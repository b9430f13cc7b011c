// The spelling of a status that came without a description: "0x%08X", as
// every message of the host that quotes an HRESULT writes it.
#pragma once
#include <windows.h>

#include <string>

namespace qxhost {

std::string StatusText(HRESULT hr);

}  // namespace qxhost
