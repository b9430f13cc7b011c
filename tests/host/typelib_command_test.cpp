// qxhost typelib: the product's library printed as IDL-like text, both views
// of its dual interface included, and a file that is no library reported
// with the runtime's status.
#include <gtest/gtest.h>

#include <string>

#include "host/host_runner.h"

namespace {

using hosttest::HostRun;
using hosttest::HostSandbox;
using hosttest::kExitFailure;
using hosttest::kExitUsage;
using hosttest::Lines;

const std::string kProductLibrary =
    std::string(QX_TYPELIB_DIR) + "/qxKorvex.tlb";

bool HasLine(const std::string& text, const std::string& line) {
  for (const std::string& candidate : Lines(text)) {
    if (candidate == line) return true;
  }
  return false;
}

TEST(HostTypelib, PrintsTheProductLibrary) {
  HostSandbox sandbox;
  HostRun run = sandbox.RunWithRegistry({"typelib", kProductLibrary});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::string& out = run.out;
  EXPECT_TRUE(HasLine(out,
                      "[uuid(0322C3C2-E7C6-466F-9A3B-33519C4FC6B4), "
                      "version(1.0), lcid(0x0), syskind(win64), flags(0x0), "
                      "helpstring(\"qxKorvex 1.0 Type Library\")]"))
      << out;
  EXPECT_TRUE(HasLine(out, "library QXKORVEXLib {")) << out;
  EXPECT_TRUE(HasLine(out, "  coclass InstallKorvex {")) << out;
  EXPECT_TRUE(
      HasLine(out, "    [implements, flags(0x1 default)] IInstallKorvex;"))
      << out;
  // The dispatch view: inherited members first, install as a dispatch
  // method returning its retval.
  EXPECT_TRUE(HasLine(out, "  dispatch IInstallKorvex {")) << out;
  EXPECT_TRUE(HasLine(out,
                      "    [id(0x60000001), func, dispatch, stdcall, oVft 8] "
                      "unsigned long AddRef();"))
      << out;
  EXPECT_TRUE(HasLine(out,
                      "    [id(0x1), func, dispatch, stdcall, oVft 56, "
                      "helpstring(\"method install\")] long install();"))
      << out;
  // The vtable view: the method as declared, in the eighth slot.
  EXPECT_TRUE(HasLine(out, "  interface IInstallKorvex {")) << out;
  EXPECT_TRUE(HasLine(out,
                      "    [id(0x1), func, purevirtual, stdcall, oVft 56, "
                      "helpstring(\"method install\")] HRESULT "
                      "install([out, retval] long* val);"))
      << out;
  EXPECT_EQ(Lines(out).back(), "}");
  EXPECT_TRUE(run.err.empty()) << run.err;
}

TEST(HostTypelib, UnreadableFileIsTheRuntimesStatus) {
  HostSandbox sandbox;
  HostRun missing = sandbox.RunWithRegistry(
      {"typelib", (sandbox.root() / "none.tlb").string()});
  EXPECT_EQ(missing.exitCode, kExitFailure);
  EXPECT_EQ(Lines(missing.err).at(0).rfind("error: 0x80029C4A ", 0), 0u)
      << missing.err;
  auto text = sandbox.Write("text.tlb", "MSFT but nothing more");
  HostRun damaged = sandbox.RunWithRegistry({"typelib", text.string()});
  EXPECT_EQ(damaged.exitCode, kExitFailure);
  EXPECT_EQ(Lines(damaged.err).at(0).rfind("error: 0x80028018 ", 0), 0u)
      << damaged.err;
  EXPECT_EQ(sandbox.RunWithRegistry({"typelib"}).exitCode, kExitUsage);
}

}  // namespace
