// Unregister mode end to end: what a script removes, and what it leaves
// because the script does not name it, marks it NoRemove, or never finds it.
#include "registrar_fixture.h"

namespace {

using UnregisterTest = RegistrarTest;

TEST_F(UnregisterTest, KeyWithOnlyItsDefaultValueIsDeleted) {
  Import("[HKEY_CLASSES_ROOT\\K]\r\n@=\"v\"\r\n");
  EXPECT_EQ(Unregister("HKCR { K = s 'v' }"), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "K"));
  ExpectNothingHeld();
}

TEST_F(UnregisterTest, KeyWithoutSubkeysGoesWhateverValuesItHolds) {
  Import("[HKEY_CLASSES_ROOT\\K]\r\n\"a\"=\"1\"\r\n\"b\"=\"2\"\r\n");
  EXPECT_EQ(Unregister("HKCR { K }"), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "K"));
}

TEST_F(UnregisterTest, NestedKeysAreRemovedDepthFirst) {
  Import("[HKEY_CLASSES_ROOT\\A\\B\\C]\r\n\"v\"=\"1\"\r\n");
  EXPECT_EQ(Unregister("HKCR { A { B { C { val v = s '1' } } } }"), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "A"));
  ExpectNothingHeld();
}

TEST_F(UnregisterTest, SubkeyTheScriptDoesNotNameKeepsItsKeyAndAncestors) {
  Import(
      "[HKEY_CLASSES_ROOT\\A\\B\\Named]\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\A\\B\\Foreign]\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\A\\Sibling]\r\n");
  EXPECT_EQ(Unregister("HKCR { A { B { Named } Sibling } }"), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "A\\B\\Named"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "A\\Sibling"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "A\\B\\Foreign"));
  ExpectNothingHeld();
}

TEST_F(UnregisterTest, SameNamedSubkeyOfAKeptKeyStays) {
  Import("[HKEY_CLASSES_ROOT\\K\\K]\r\n\r\n[HKEY_CLASSES_ROOT\\K\\Other]\r\n");
  EXPECT_EQ(Unregister("HKCR { K { Named } }"), S_OK);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "K\\K"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "K\\Other"));
}

TEST_F(UnregisterTest, NoRemoveKeepsItsKeyAndLaterKeysOfTheBlock) {
  Import(
      "[HKEY_CLASSES_ROOT\\Before]\r\n\r\n[HKEY_CLASSES_ROOT\\Kept\\In]\r\n"
      "\r\n[HKEY_CLASSES_ROOT\\After]\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\Other\\Child]\r\n");
  EXPECT_EQ(Unregister("HKCR { Before NoRemove Kept { In } After "
                       "Other { Child } }"),
            S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Before"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "Kept"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Kept\\In"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "After"));
  // Inside a deeper block delete is allowed again.
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Other\\Child"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "Other"));
}

TEST_F(UnregisterTest, MissingKeyWithABlockTouchesNothingUnderIt) {
  Import("[HKEY_CLASSES_ROOT\\Next]\r\n\r\n[HKEY_CLASSES_ROOT\\Child]\r\n");
  EXPECT_EQ(Unregister("HKCR { Missing { Child val v = s 'x' } Next }"), S_OK);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "Child"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Next"));
  ExpectNothingHeld();
}

TEST_F(UnregisterTest, MissingKeyWithoutABlockLetsTheNextEntryBeHandled) {
  Import("[HKEY_CLASSES_ROOT\\Next]\r\n");
  EXPECT_EQ(Unregister("HKCR { Missing = s 'x' Next }"), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Next"));
}

TEST_F(UnregisterTest, ValuesAreDeletedEvenWhenTheirKeyStays) {
  Import("[HKEY_CLASSES_ROOT]\r\n\"v\"=\"1\"\r\n\"keep\"=\"2\"\r\n");
  EXPECT_EQ(Unregister("HKCR { val v = s '1' val gone = s 'x' }"), S_OK);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "", "v"), "<missing>");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "", "keep"), "2");
  ExpectNothingHeld();
}

TEST_F(UnregisterTest, ValueOfAKeyThatStaysIsDeleted) {
  const std::string script =
      "HKCR { NoRemove Kept { val v = s '1' Sub } "
      "Shared { val w = s '2' } }";
  ASSERT_EQ(Register(script), S_OK);
  Import("[HKEY_CLASSES_ROOT\\Shared\\Foreign]\r\n");
  EXPECT_EQ(Unregister(script), S_OK);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "Kept"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Kept\\Sub"));
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "Kept", "v"), "<missing>");
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "Shared\\Foreign"));
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "Shared", "w"), "<missing>");
  ExpectNothingHeld();
}

TEST_F(UnregisterTest, ValueOfAKeyThatRefusesWritingIsPassedOver) {
  Import(
      "[HKEY_CLASSES_ROOT]\r\n\"r\"=\"1\"\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\Locked]\r\n\"v\"=\"1\"\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\Locked\\Foreign]\r\n");
  qxplatform::DenyWriteAccess(HKEY_CLASSES_ROOT, "Locked", true);
  qxplatform::DenyWriteAccess(HKEY_CLASSES_ROOT, "", true);
  EXPECT_EQ(Unregister("HKCR { val r = s '1' Locked { val v = s '1' } }"),
            S_OK);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "Locked", "v"), "1");
  // A root refuses like any key when it is marked so.
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "", "r"), "1");
  ExpectNothingHeld();
}

TEST_F(UnregisterTest, HandleOpenedToDeleteAValueThatWillNotCloseFailsTheRun) {
  Import(
      "[HKEY_CLASSES_ROOT\\K]\r\n\"v\"=\"1\"\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\K\\Foreign]\r\n");
  // The first close is that of the handle the delete went through.
  qxplatform::FailRegCloseAt(1);
  EXPECT_EQ(Unregister("HKCR { K { val v = s '1' } }"), DISP_E_EXCEPTION);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "K", "v"), "<missing>");
  ExpectNothingHeld();
}

TEST_F(UnregisterTest, ForceRemoveAndDeleteReadAsPlainKeyEntries) {
  Import(
      "[HKEY_CLASSES_ROOT\\F\\In]\r\n\r\n[HKEY_CLASSES_ROOT\\D]\r\n"
      "\r\n[HKEY_CLASSES_ROOT\\Kept\\Foreign]\r\n");
  EXPECT_EQ(Unregister("HKCR { ForceRemove F { In } Delete D "
                       "ForceRemove Kept }"),
            S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "F"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "D"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "Kept\\Foreign"));
}

TEST_F(UnregisterTest, NothingRegisteredIsSuccessAndChangesNothing) {
  EXPECT_EQ(Unregister("HKCR { A = s 'x' { B { val c = s 'd' } } }"), S_OK);
  EXPECT_FALSE(qxplatform::RegistryChanged());
  ExpectNothingHeld();
}

TEST_F(UnregisterTest, RegisterThenUnregisterLeavesTheRegistryAsItWas) {
  Import("[HKEY_CLASSES_ROOT\\Existing]\r\n@=\"e\"\r\n");
  const std::string before = Export();
  const std::string script =
      "HKCR { A = s 'x' { B = d 5 { val c = b 0A0B } C } "
      "NoRemove Existing { Mine } }";
  ASSERT_EQ(Register(script), S_OK);
  EXPECT_NE(Export(), before);
  EXPECT_EQ(Unregister(script), S_OK);
  EXPECT_EQ(Export(), before);
  ExpectNothingHeld();
}

TEST_F(UnregisterTest, FailureEndsTheRunAndKeepsWhatWasDone) {
  Import("[HKEY_CLASSES_ROOT\\First]\r\n\r\n[HKEY_CLASSES_ROOT\\Second]\r\n");
  EXPECT_EQ(Unregister("HKCR { First Bad\\Name Second }"), DISP_E_EXCEPTION);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "First"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "Second"));
  ExpectNothingHeld();
}

}  // namespace
