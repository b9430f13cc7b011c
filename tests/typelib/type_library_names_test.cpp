// Where a module's type library is looked for when the module itself holds
// none, and the help directory registered with it.
#include <string>

#include "support/platform_fixture.h"
#include "typelib/module_type_library.h"

namespace {

std::string Sibling(const char* moduleName, size_t capacity = MAX_PATH) {
  char name[MAX_PATH] = "untouched";
  if (!SiblingTypeLibName(moduleName, name, capacity)) return "<refused>";
  return name;
}

std::u16string HelpDirectory(const char16_t* path) {
  char16_t directory[MAX_PATH];
  HelpDirectoryOf(path, directory, MAX_PATH);
  return directory;
}

}  // namespace

using TypeLibNamesTest = PlatformTest;

TEST_F(TypeLibNamesTest, ExtensionIsReplacedOrAppended) {
  EXPECT_EQ(Sibling("C:\\dir\\qxKorvex.DLL"), "C:\\dir\\qxKorvex.tlb");
  EXPECT_EQ(Sibling("C:\\dir\\qxKorvex"), "C:\\dir\\qxKorvex.tlb");
  EXPECT_EQ(Sibling("/usr/lib/libqxKorvex.so"), "/usr/lib/libqxKorvex.tlb");
}

// A dot in a folder's name is no extension of the file's.
TEST_F(TypeLibNamesTest, DotInAFolderNameIsLeftAlone) {
  EXPECT_EQ(Sibling("C:\\tools.v2\\qxKorvex"), "C:\\tools.v2\\qxKorvex.tlb");
  EXPECT_EQ(Sibling("/opt/v1.2/libqx"), "/opt/v1.2/libqx.tlb");
}

// In code page 932 the second byte of a character may be a backslash; it
// separates nothing.
TEST_F(TypeLibNamesTest, TrailByteBackslashIsNoSeparator) {
  ASSERT_TRUE(qxplatform::SetAnsiCodePage(932));
  EXPECT_EQ(Sibling("C:\\a.b\x95\x5Cname"), "C:\\a.tlb");
  qxplatform::SetAnsiCodePage(1252);
}

TEST_F(TypeLibNamesTest, NameThatWouldNotFitIsRefused) {
  EXPECT_EQ(Sibling("C:\\dir\\qx", 14), "C:\\dir\\qx.tlb");
  EXPECT_EQ(Sibling("C:\\dir\\qx", 13), "<refused>");
}

TEST_F(TypeLibNamesTest, HelpDirectoryKeepsItsTrailingSeparator) {
  EXPECT_EQ(HelpDirectory(u"C:\\dir\\qxKorvex.DLL"), u"C:\\dir\\");
  EXPECT_EQ(HelpDirectory(u"/usr/lib/libqxKorvex.so"), u"/usr/lib/");
  EXPECT_EQ(HelpDirectory(u"C:qxKorvex.tlb"), u"C:");
  EXPECT_EQ(HelpDirectory(u"qxKorvex.tlb"), u"");
  EXPECT_EQ(HelpDirectory(u""), u"");
}
