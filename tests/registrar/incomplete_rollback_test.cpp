// A roll-back the registry refuses part of: every other change still comes
// back, the run's status stays the failure that called for the roll-back,
// and the first refusal is what the diagnostic's rollback holds and what the
// failure hook is told, where the roll-back was asked for. The refusals are
// the platform's: a key create that fails, a key that refuses writing, a
// handle that will not close at the first try.
#include <string.h>

#include <string>
#include <vector>

#include "base/result_macros.h"
#include "registrar_fixture.h"

namespace {

constexpr HRESULT kStepFailure = E_UNEXPECTED;

struct Report {
  std::string expression;
  HRESULT hr;
};

std::vector<Report>& Reports() {
  static std::vector<Report> reports;
  return reports;
}

void Remember(const char* /*file*/, int /*line*/, const char* expression,
              HRESULT hr) {
  Reports().push_back({expression, hr});
}

// What the hook was told of roll-backs: the status of each UndoTo call it
// saw fail.
std::vector<HRESULT> RollbackReports() {
  std::vector<HRESULT> found;
  for (const Report& report : Reports()) {
    if (report.expression.find("UndoTo") != std::string::npos) {
      found.push_back(report.hr);
    }
  }
  return found;
}

class IncompleteRollbackTest : public RegistrarTest {
 protected:
  void SetUp() override {
    RegistrarTest::SetUp();
    Reports().clear();
    qx::SetFailureHook(&Remember);
  }
  void TearDown() override {
    qx::SetFailureHook(nullptr);
    RegistrarTest::TearDown();
  }

  // Registers text, then runs step as the registration's next part.
  HRESULT RegisterThen(const std::string& text, HRESULT (*step)(void*)) {
    const RegistrationStep then = {step, nullptr};
    return RunScriptWithVariables(kTestHeapAllocator, text.c_str(),
                                  /*names=*/nullptr, /*values=*/nullptr,
                                  /*count=*/0, TRUE, &then, &m_where);
  }
};

TEST_F(IncompleteRollbackTest, CompleteRollbackReportsNothing) {
  EXPECT_EQ(Register("HKCR { A = s 'a' bad\\name }"), DISP_E_EXCEPTION);
  EXPECT_EQ(m_where.status, DISP_E_EXCEPTION);
  EXPECT_EQ(m_where.rollback, S_OK);
  EXPECT_TRUE(RollbackReports().empty());
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "A"));
  ExpectNothingHeld();
}

TEST_F(IncompleteRollbackTest, KeyThatCannotBeMadeAgainLeavesTheRestRestored) {
  Import(
      "[HKEY_CLASSES_ROOT\\Old]\r\n@=\"was\"\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\T]\r\n\"V\"=\"v\"\r\n");
  // Creates: Before (1), T afresh after its removal (2), then the
  // roll-back's making T again (3), which fails.
  qxplatform::FailRegCreateAt(3);
  EXPECT_EQ(Register("HKCR { Old = s 'new' Before = s 'b' "
                     "ForceRemove T = s 'new' bad\\name }"),
            DISP_E_EXCEPTION);
  EXPECT_EQ(m_where.status, DISP_E_EXCEPTION);
  EXPECT_EQ(m_where.expected, ScriptExpectation::kKeyName);
  EXPECT_EQ(m_where.rollback, HRESULT_FROM_WIN32(ERROR_CANTWRITE));
  EXPECT_EQ(RollbackReports(),
            std::vector<HRESULT>{HRESULT_FROM_WIN32(ERROR_CANTWRITE)});
  // T could not be made again; every change made before its removal, and
  // after it, was still taken back.
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "T"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Before"));
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "Old"), "was");
  ExpectNothingHeld();
}

TEST_F(IncompleteRollbackTest, LockedKeyStaysWhenAFailedStepTakesTheRunBack) {
  Import("[HKEY_CLASSES_ROOT\\Old]\r\n@=\"was\"\r\n");
  // B refuses writing by the time the step fails: the roll-back can neither
  // remove its value nor the key itself.
  EXPECT_EQ(RegisterThen("HKCR { Old = s 'new' A = s 'a' B = s 'b' }",
                         [](void*) -> HRESULT {
                           qxplatform::DenyWriteAccess(HKEY_CLASSES_ROOT, "B",
                                                       true);
                           return kStepFailure;
                         }),
            kStepFailure);
  EXPECT_EQ(m_where.status, kStepFailure);
  EXPECT_EQ(m_where.rollback, E_ACCESSDENIED);
  EXPECT_EQ(RollbackReports(), std::vector<HRESULT>{E_ACCESSDENIED});
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "B"), "b");
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "A"));
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "Old"), "was");
  ExpectNothingHeld();
}

TEST_F(IncompleteRollbackTest, HandleThatWillNotCloseAtFirstIsReported) {
  // The first close after the step is the roll-back's, of the key whose
  // value it removes; the second try closes it.
  EXPECT_EQ(RegisterThen("HKCR { A = s 'a' }",
                         [](void*) -> HRESULT {
                           qxplatform::FailRegCloseAt(1);
                           return kStepFailure;
                         }),
            kStepFailure);
  EXPECT_EQ(m_where.rollback, HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE));
  EXPECT_EQ(RollbackReports(),
            std::vector<HRESULT>{HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE)});
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "A"));
  ExpectNothingHeld();
}

TEST_F(IncompleteRollbackTest, StepThatSucceedsKeepsTheRun) {
  EXPECT_EQ(
      RegisterThen("HKCR { A = s 'a' }", [](void*) -> HRESULT { return S_OK; }),
      S_OK);
  EXPECT_EQ(m_where.rollback, S_OK);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "A"), "a");
  EXPECT_TRUE(Reports().empty());
  ExpectNothingHeld();
}

}  // namespace
