// The interface ids of the type-information interfaces, which the SDK's uuid
// library provides on the real platform.
#include <oaidl.h>

namespace {
constexpr GUID AutomationId(uint32_t data1) {
  return {
      data1, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
}
}  // namespace

const IID IID_ITypeInfo = AutomationId(0x00020401);
const IID IID_ITypeLib = AutomationId(0x00020402);
const IID IID_ITypeComp = AutomationId(0x00020403);
const IID IID_ITypeLib2 = AutomationId(0x00020411);
const IID IID_ITypeInfo2 = AutomationId(0x00020412);
