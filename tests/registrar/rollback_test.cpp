// A register run that fails takes back the failing root block: keys it named
// that have no subkeys are removed again, earlier root blocks stay, and no
// key handle or memory is left behind. Failures reached through the
// platform: a key create that fails, a key that refuses writing, a key
// handle that will not close.
#include "registrar_fixture.h"

namespace {

using RollbackTest = RegistrarTest;

TEST_F(RollbackTest, FailedSecondRootBlockKeepsTheFirst) {
  EXPECT_EQ(Register("HKCR { First = s '1' } "
                     "HKCU { A = s 'a' { B } C bad\\name D }"),
            DISP_E_EXCEPTION);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "First"), "1");
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "A"));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "C"));
  ExpectNothingHeld();
}

TEST_F(RollbackTest, RollBackAlsoRemovesEmptyKeysThatExistedBefore) {
  Import(
      "[HKEY_CLASSES_ROOT\\Old]\r\n@=\"was here\"\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\Full\\Foreign]\r\n");
  EXPECT_EQ(Register("HKCR { Old Full New = q 'x' }"), DISP_E_EXCEPTION);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Old"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "New"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "Full\\Foreign"));
  ExpectNothingHeld();
}

TEST_F(RollbackTest, FailingKeyCreateFailsTheRunAndRollsBack) {
  qxplatform::FailRegCreateAt(3);
  EXPECT_EQ(Register("HKCR { A = s 'a' { B } C { D } }"), DISP_E_EXCEPTION);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "A"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "C"));
  ExpectNothingHeld();
}

TEST_F(RollbackTest, KeyThatRefusesWritingFailsCreatingBelowIt) {
  Import("[HKEY_CLASSES_ROOT\\Locked]\r\n");
  qxplatform::DenyWriteAccess(HKEY_CLASSES_ROOT, "Locked", true);
  EXPECT_EQ(Register("HKCR { Before Locked { Inner } }"), DISP_E_EXCEPTION);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Before"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Locked\\Inner"));
  // The roll-back cannot delete a key that refuses writing.
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "Locked"));
  ExpectNothingHeld();
}

TEST_F(RollbackTest, KeyThatWillNotCloseWhenReplacedFailsTheRun) {
  // The first close is A's, when B's handle replaces it.
  qxplatform::FailRegCloseAt(1);
  EXPECT_EQ(Register("HKCR { A B }"), DISP_E_EXCEPTION);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "A"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "B"));
  ExpectNothingHeld();
}

TEST_F(RollbackTest, KeyThatWillNotCloseBeforeItsDeleteFailsUnregistering) {
  Import("[HKEY_CLASSES_ROOT\\A]\r\n\r\n[HKEY_CLASSES_ROOT\\B]\r\n");
  qxplatform::FailRegCloseAt(1);
  EXPECT_EQ(Unregister("HKCR { A B }"), DISP_E_EXCEPTION);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "A"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "B"));
  ExpectNothingHeld();
}

TEST_F(RollbackTest, KeyThatWillNotCloseOnAFailedBlockIsClosedOnRetry) {
  // A is still held when the bad name fails the block; that close fails
  // once and must be tried again rather than leave the handle open.
  qxplatform::FailRegCloseAt(1);
  EXPECT_EQ(Register("HKCR { A B\\C }"), DISP_E_EXCEPTION);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "A"));
  ExpectNothingHeld();

  // The same when a nested block fails: every held key on the way out.
  for (long n = 1; n <= 3; ++n) {
    qxplatform::ResetRegistry();
    qxplatform::FailRegCloseAt(n);
    EXPECT_EQ(Register("HKCR { A { B { C bad\\name } } }"), DISP_E_EXCEPTION)
        << n;
    qxplatform::FailRegCloseAt(0);
    EXPECT_EQ(qxplatform::OpenRegistryHandles(), 0) << n;
  }
  ExpectNothingHeld();
}

TEST_F(RollbackTest, OddBinaryValueRollsTheBlockBack) {
  EXPECT_EQ(Register("HKCR { K = s 'k' { val Bin = b 0A0 } }"), E_FAIL);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "K"));
  ExpectNothingHeld();
}

TEST_F(RollbackTest, UnknownRootNameRollsNothingBack) {
  Import("[HKEY_CLASSES_ROOT\\Kept]\r\n");
  EXPECT_EQ(Register("HKCR { Kept } HKXX { Kept }"), DISP_E_EXCEPTION);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "Kept"));
  EXPECT_EQ(Register("HKCR Kept"), DISP_E_EXCEPTION);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "Kept"));
  ExpectNothingHeld();
}

TEST_F(RollbackTest, RootKeyWithoutATreeFailsAndRollsBack) {
  // The platform keeps no tree for HKEY_CURRENT_CONFIG: nothing can be
  // opened or created there.
  EXPECT_EQ(Register("HKCC { K }"), DISP_E_EXCEPTION);
  EXPECT_EQ(Unregister("HKCC { K }"), S_OK);
  ExpectNothingHeld();
}

TEST_F(RollbackTest, ExpansionFailuresChangeNothing) {
  EXPECT_EQ(Register("HKCR { A = s '%Missing%' }"), DISP_E_EXCEPTION);
  EXPECT_EQ(Register("HKCR { A = s '%Module'", u"m"), DISP_E_EXCEPTION);
  EXPECT_EQ(Register("HKCR { A = s '%ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456%' }"),
            E_FAIL);
  qxplatform::FailTaskAllocAt(1);
  EXPECT_EQ(Register("HKCR { A }"), E_OUTOFMEMORY);
  EXPECT_FALSE(qxplatform::RegistryChanged());
  ExpectNothingHeld();
}

}  // namespace
