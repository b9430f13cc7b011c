// The spelling of a status that came without a description: "0x%08X", as
// every message of the host that quotes an HRESULT writes it.
#pragma once
#include <windows.h>

#include <string>

namespace qxhost {

std::string StatusText(HRESULT hr);

// What a status that says the registry itself failed means, in words (for
// example that another program holds its write lock); null for any other
// status.
const char* RegistryFailureWords(HRESULT hr);

}  // namespace qxhost
