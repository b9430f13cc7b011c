// A register run that fails takes back exactly what the failing root block
// did, newest first: keys it created go, values it overwrote get their old
// type and data back, values it added go, subtrees a ForceRemove or Delete
// removed come back whole; nothing else is touched, and root blocks
// completed before it stay. No key handle or memory is left behind.
// Failures reached through the platform: a key create that fails, a key
// that refuses writing, a key handle that will not close, an allocation.
#include <string>

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

TEST_F(RollbackTest, KeysThatExistedBeforeStayWithWhatTheyHeld) {
  Import(
      "[HKEY_CLASSES_ROOT\\Old]\r\n@=\"was here\"\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\Full\\Foreign]\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\Empty]\r\n");
  const std::string before = Export();
  EXPECT_EQ(Register("HKCR { Old = s 'new' Empty Full { Mine } New = q 'x' }"),
            DISP_E_EXCEPTION);
  EXPECT_EQ(Export(), before);
  ExpectNothingHeld();
}

TEST_F(RollbackTest, OverwrittenValuesGetTheirTypeAndDataBack) {
  Import(
      "[HKEY_CLASSES_ROOT\\K]\r\n@=dword:0000002a\r\n"
      "\"First\"=hex:01,02,03\r\n\"Text\"=\"old\"\r\n"
      "\"Last\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n");
  const std::string before = Export();
  EXPECT_EQ(Register("HKCR { K = s 'x' { val First = d 7 val Added = s 'a' "
                     "val Text = b 00ff val Last = s 'z' } bad\\name }"),
            DISP_E_EXCEPTION);
  // The export lists values in the order they were first set: an overwritten
  // value is put back where it was, an added one leaves no gap.
  EXPECT_EQ(Export(), before);
  ExpectNothingHeld();
}

TEST_F(RollbackTest, ForceRemovedSubtreeComesBackWhole) {
  Import(
      "[HKEY_CLASSES_ROOT\\T]\r\n@=\"top\"\r\n\"Z\"=dword:00000001\r\n"
      "\"A\"=hex(2):25,00,58,00,25,00,00,00\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\T\\Inner]\r\n\"Bytes\"=hex:\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\T\\Inner\\Deeper]\r\n@=\"d\"\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\T\\Other]\r\n");
  const std::string before = Export();
  EXPECT_EQ(Register("HKCR { ForceRemove T = s 'new' { Inner { X } } "
                     "bad\\name }"),
            DISP_E_EXCEPTION);
  EXPECT_EQ(Export(), before);
  // The same subtree under a name on the never-delete list is not removed,
  // and comes out of the failed run as it went in.
  Import("[HKEY_CLASSES_ROOT\\CLSID\\Kept]\r\n@=\"k\"\r\n");
  const std::string withClsid = Export();
  EXPECT_EQ(Register("HKCR { ForceRemove CLSID { Kept = s 'x' } bad\\name }"),
            DISP_E_EXCEPTION);
  EXPECT_EQ(Export(), withClsid);
  ExpectNothingHeld();
}

TEST_F(RollbackTest, DeletedKeyComesBackAndCreatedOnesGo) {
  Import(
      "[HKEY_CLASSES_ROOT\\D]\r\n@=\"d\"\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\D\\Inner]\r\n\"V\"=\"v\"\r\n");
  const std::string before = Export();
  // D is deleted, then created afresh by a later entry of the same block.
  EXPECT_EQ(Register("HKCR { Delete D D = s 'again' { New } bad\\name }"),
            DISP_E_EXCEPTION);
  EXPECT_EQ(Export(), before);
  ExpectNothingHeld();
}

TEST_F(RollbackTest, SubtreeThatCouldOnlyPartlyBeRemovedComesBackAsItWas) {
  Import(
      "[HKEY_CLASSES_ROOT\\T]\r\n@=\"top\"\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\T\\A]\r\n@=\"a\"\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\T\\B]\r\n@=\"b\"\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\T\\C]\r\n@=\"c\"\r\n");
  // B refuses to be deleted: A goes, then the removal stops with T and C
  // still there.
  qxplatform::DenyWriteAccess(HKEY_CLASSES_ROOT, "T\\B", true);
  const std::string before = Export();
  EXPECT_EQ(Register("HKCR { ForceRemove T = s 'new' bad\\name }"),
            DISP_E_EXCEPTION);
  EXPECT_EQ(Export(), before);
  ExpectNothingHeld();
}

TEST_F(RollbackTest, ValuesOfTheRootKeyAreTakenBackToo) {
  Import("[HKEY_CURRENT_USER]\r\n\"Mine\"=\"old\"\r\n");
  const std::string before = Export();
  EXPECT_EQ(Register("HKCU { val Mine = s 'new' val Other = d 1 bad\\name }"),
            DISP_E_EXCEPTION);
  EXPECT_EQ(Export(), before);
  ExpectNothingHeld();
}

TEST_F(RollbackTest, FailingKeyCreateFailsTheRunAndRollsBack) {
  // The create fails with the registry's write error, which is the run's.
  qxplatform::FailRegCreateAt(3);
  EXPECT_EQ(Register("HKCR { A = s 'a' { B } C { D } }"),
            HRESULT_FROM_WIN32(ERROR_CANTWRITE));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "A"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "C"));
  ExpectNothingHeld();
}

TEST_F(RollbackTest, KeyThatRefusesWritingFailsCreatingBelowIt) {
  Import("[HKEY_CLASSES_ROOT\\Locked]\r\n");
  qxplatform::DenyWriteAccess(HKEY_CLASSES_ROOT, "Locked", true);
  // Denied, and said so: the caller lacks the right, the script is sound.
  EXPECT_EQ(Register("HKCR { Before Locked { Inner } }"), E_ACCESSDENIED);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Before"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Locked\\Inner"));
  // The run did not make it, so the roll-back leaves it.
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
