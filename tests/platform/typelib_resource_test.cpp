// Type libraries carried as TYPELIB resources: the product's native library
// holds its type library as resource 1, loads by its own path or as
// "path\N", and registers under its path so that LoadRegTypeLib reads the
// resource again.
#include <stdlib.h>

#include "typelib_support.h"

namespace {

using namespace typelib_test;

const std::string kModule = QX_LIBRARY_PATH;

TEST_F(TypeLibTest, ModuleResourceLoads) {
  ComPtr<ITypeLib> lib;
  ASSERT_EQ(LoadFile(kModule, lib.put()), S_OK);
  ComPtr<ITypeInfo> info;
  EXPECT_EQ(lib->GetTypeInfoOfGuid(kIInstallKorvex, info.put()), S_OK);
  ASSERT_EQ(LoadFile(kModule + "\\1", lib.put()), S_OK);
  EXPECT_EQ(lib->GetTypeInfoCount(), 2u);
  EXPECT_EQ(LoadFile(kModule + "\\2", lib.put()), TYPE_E_CANTLOADLIBRARY);
}

TEST_F(TypeLibTest, ModuleRegistersUnderItsPath) {
  ComPtr<ITypeLib> lib;
  ASSERT_EQ(LoadTypeLibEx(Wide(kModule).c_str(), REGKIND_REGISTER, lib.put()),
            S_OK);
  lib.reset();
  BSTR path = nullptr;
  ASSERT_EQ(QueryPathOfRegTypeLib(kProductLibid, 1, 0, 0, &path), S_OK);
  char resolved[4096];
  ASSERT_NE(realpath(kModule.c_str(), resolved), nullptr);
  EXPECT_EQ(Narrow(path), resolved);
  SysFreeString(path);
  ASSERT_EQ(LoadRegTypeLib(kProductLibid, 1, 0, 0, lib.put()), S_OK);
  EXPECT_EQ(lib->GetTypeInfoCount(), 2u);
}

}  // namespace
