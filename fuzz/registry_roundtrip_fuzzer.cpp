// .reg text through import, export, import, export: whatever the platform
// accepts it must write back in a form that reads back to the same
// registry, so the second export equals the first to the byte. Input it
// refuses must leave the registry as it was.
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include <qxplatform/controls.h>

namespace {

void Check(bool condition) {
  if (!condition) abort();
}

std::string ExportAll() {
  std::string text;
  std::string error;
  Check(qxplatform::ExportRegistryText(/*key=*/nullptr, &text, &error));
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qxplatform::ResetControls();
  qxplatform::ResetRegistry();
  const std::string empty = ExportAll();
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::string error;
  if (!qxplatform::ImportRegistryText(input, &error)) {
    Check(ExportAll() == empty);
    return 0;
  }
  const std::string first = ExportAll();
  qxplatform::ResetRegistry();
  Check(qxplatform::ImportRegistryText(first, &error));
  Check(ExportAll() == first);
  return 0;
}
