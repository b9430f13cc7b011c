// The reader of type libraries in the MSFT format: from the file's bytes to
// a checked TypeLibModel. A library whose bytes do not hold together is
// refused whole, before anyone can look at part of it.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <memory>

#include "type_model.h"

namespace qxplatform {
namespace internal {

// True when the bytes start like a type library of a format this runtime
// knows of (MSFT, or the older SLTG it does not read).
bool LooksLikeTypeLibrary(const uint8_t* data, size_t size);

// S_OK with *model, or TYPE_E_UNSUPFORMAT (not MSFT, or a format version
// other than the one known), TYPE_E_INVDATAREAD (anything out of its
// segment, a reference to nothing, a value of an unknown kind, a chain that
// does not end) or E_OUTOFMEMORY.
HRESULT ReadMsftLibrary(const uint8_t* data, size_t size,
                        std::shared_ptr<const TypeLibModel>* model);

}  // namespace internal
}  // namespace qxplatform
