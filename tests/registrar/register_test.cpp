// Register mode end to end: a script in, keys and values in the registry.
// Root names, key entries, default values, nested blocks, ForceRemove,
// Delete, NoRemove and the keys that are never deleted.
#include "registrar_fixture.h"

namespace {

using RegisterTest = RegistrarTest;

TEST_F(RegisterTest, EmptyRootBlockAndBlankTextChangeNothing) {
  EXPECT_EQ(Register("HKCR { }"), S_OK);
  EXPECT_EQ(Register(""), S_OK);
  EXPECT_EQ(Register(" \r\n\t "), S_OK);
  EXPECT_FALSE(qxplatform::RegistryChanged());
  ExpectNothingHeld();
}

TEST_F(RegisterTest, KeysWithDefaultValuesAndNestedBlocks) {
  EXPECT_EQ(Register("HKCR\r\n{\r\n\tOuter = s 'top'\r\n\t{\r\n"
                     "\t\tInner = s 'deep'\r\n\t\tEmpty\r\n\t}\r\n}\r\n"),
            S_OK);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "Outer"), "top");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "Outer\\Inner"), "deep");
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "Outer\\Empty"));
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "Outer\\Empty"), "<missing>");
  ExpectNothingHeld();
}

TEST_F(RegisterTest, RootNamesInAnyCaseNameTheSameRoot) {
  EXPECT_EQ(Register("hkcr { A } HKEY_CLASSES_ROOT { B } HkLm { C }"), S_OK);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "A"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "B"));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "C"));
  ExpectNothingHeld();
}

TEST_F(RegisterTest, RootBraceMayBeGluedButNestedBraceMustStandAlone) {
  // "{x" opens a root block; under a key, "{x" is the next key's name.
  EXPECT_EQ(Register("HKCR {x K {y }"), S_OK);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "K"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "{y"));
  ExpectNothingHeld();
}

TEST_F(RegisterTest, ClassIdKeyNamesMayBeginWithABrace) {
  EXPECT_EQ(Register("HKCR { {EC68AD82-001E-4396-9CDC-ED264E512EE4} "
                     "= s 'c' { Sub } }"),
            S_OK);
  EXPECT_EQ(
      ReadString(HKEY_CLASSES_ROOT, "{EC68AD82-001E-4396-9CDC-ED264E512EE4}"),
      "c");
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT,
                        "{EC68AD82-001E-4396-9CDC-ED264E512EE4}\\Sub"));
}

TEST_F(RegisterTest, ExistingKeysAreOpenedAndOverwrittenValueByValue) {
  std::string error;
  ASSERT_TRUE(qxplatform::ImportRegistryText(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\P]\r\n@=\"old\"\r\n\"Keep\"=\"k\"\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\P\\Child]\r\n",
      &error))
      << error;
  EXPECT_EQ(Register("HKCR { P = s 'new' }"), S_OK);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "P"), "new");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "P", "Keep"), "k");
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "P\\Child"));
}

TEST_F(RegisterTest, ForceRemoveReplacesTheKeyAsAWhole) {
  std::string error;
  ASSERT_TRUE(qxplatform::ImportRegistryText(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\F]\r\n@=\"old\"\r\n\"Named\"=\"n\"\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\F\\Old\\Deeper]\r\n\"x\"=dword:00000001\r\n",
      &error))
      << error;
  EXPECT_EQ(Register("HKCR { ForceRemove F = s 'fresh' { New } }"), S_OK);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "F"), "fresh");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "F", "Named"), "<missing>");
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "F\\Old"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "F\\New"));
  ExpectNothingHeld();
}

TEST_F(RegisterTest, DeleteRemovesTheKeyTreeAndCreatesNothing) {
  std::string error;
  ASSERT_TRUE(qxplatform::ImportRegistryText(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\Gone\\A\\B]\r\n\r\n[HKEY_CLASSES_ROOT\\Stays]\r\n",
      &error))
      << error;
  EXPECT_EQ(Register("HKCR { Delete Gone = s 'ignored' Delete Missing "
                     "Stays }"),
            S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Gone"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Missing"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "Stays"));
  ExpectNothingHeld();
}

// A subkey name of 255 characters is 255 UTF-16 units in the registry but
// up to 510 bytes through the ANSI entry points in code page 932: removing
// a tree must still see it, not stop and leave the tree behind.
TEST_F(RegisterTest, ForceRemoveAndDeleteRemoveSubkeysWithLongDoubleByteNames) {
  ASSERT_TRUE(qxplatform::SetAnsiCodePage(932));
  std::string longName;  // U+8868, two bytes in 932, in UTF-8 for the import
  for (int i = 0; i < 255; ++i) longName += "\xE8\xA1\xA8";
  Import("[HKEY_CLASSES_ROOT\\F\\" + longName +
         "\\Below]\r\n\r\n"
         "[HKEY_CLASSES_ROOT\\D\\" +
         longName + "]\r\n");
  EXPECT_EQ(Register("HKCR { ForceRemove F { New } Delete D }"), S_OK);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "F\\New"));
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "F", 0, KEY_READ, &key), 0);
  DWORD subkeys = 0;
  EXPECT_EQ(
      RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr,
                       nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
      0);
  RegCloseKey(key);
  EXPECT_EQ(subkeys, 1u);  // only New
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "D"));
  ExpectNothingHeld();
}

TEST_F(RegisterTest, NeverDeletedNamesSurviveForceRemoveAndDelete) {
  std::string error;
  ASSERT_TRUE(qxplatform::ImportRegistryText(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\CLSID\\Other]\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\K\\TypeLib\\Lib]\r\n",
      &error))
      << error;
  EXPECT_EQ(Register("HKCR { ForceRemove clsid { Mine } "
                     "K { Delete TYPELIB } }"),
            S_OK);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "CLSID\\Other"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "CLSID\\Mine"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "K\\TypeLib\\Lib"));
}

TEST_F(RegisterTest, NoRemoveHasNoEffectWhenRegistering) {
  EXPECT_EQ(Register("HKCR { NoRemove N { A } B }"), S_OK);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "N\\A"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "B"));
}

TEST_F(RegisterTest, NoRemoveTakesTheNextTokenAsTheKeyName) {
  EXPECT_EQ(Register("HKCR { NoRemove Val NoRemove ForceRemove }"), S_OK);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "Val"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "ForceRemove"));
}

TEST_F(RegisterTest, KeywordsIgnoreCaseAndMayBeQuoted) {
  EXPECT_EQ(Register("HKCR { K { VAL named = s 'v' 'val' other = s 'w' } "
                     "noremove 'Quoted Name' }"),
            S_OK);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "K", "named"), "v");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "K", "other"), "w");
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "Quoted Name"));
}

TEST_F(RegisterTest, ValueEntryWritesToTheKeyOfTheEnclosingBlock) {
  EXPECT_EQ(Register("HKCR { K { val V = s 'x' Sub { val W = s 'y' } } }"),
            S_OK);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "K", "V"), "x");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "K\\Sub", "W"), "y");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "K\\Sub", "V"), "<missing>");
}

TEST_F(RegisterTest, SecondRootBlockOfTheSameTextIsWalkedToo) {
  EXPECT_EQ(Register("HKCR { A }\r\nHKCU { B = s 'b' }\r\n"), S_OK);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "A"));
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, "B"), "b");
}

TEST_F(RegisterTest, ValueOnAReadOnlyKeyIsPassedOver) {
  qxplatform::DenyWriteAccess(HKEY_CLASSES_ROOT, "Locked", true);
  EXPECT_EQ(Register("HKCR { Locked = s 'x' { val V = s 'y' } }"), S_OK);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "Locked"), "<missing>");
  ExpectNothingHeld();
}

}  // namespace
