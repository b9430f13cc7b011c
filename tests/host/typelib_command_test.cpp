// qxhost typelib: the product's library printed as IDL-like text, both views
// of its dual interface included, its vtable offsets counted in the pointer
// size of the system the library was made for (the real DLL's too), each
// property accessor with its own parameter names, and a file that is no
// library reported with the runtime's status.
#include <gtest/gtest.h>

#include <filesystem>
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

// The line that starts with prefix, or "" when there is none.
std::string LineStarting(const std::string& text, const std::string& prefix) {
  for (const std::string& candidate : Lines(text)) {
    if (candidate.rfind(prefix, 0) == 0) return candidate;
  }
  return "";
}

// Offsets of a library made for a system whose pointers are step bytes:
// IUnknown's and IDispatch's seven slots, then install in the eighth, in
// both views.
void ExpectOffsets(const std::string& out, const char* kind, int step) {
  EXPECT_TRUE(HasLine(out,
                      "[uuid(0322C3C2-E7C6-466F-9A3B-33519C4FC6B4), "
                      "version(1.0), lcid(0x0), syskind(" +
                          std::string(kind) +
                          "), flags(0x0), "
                          "helpstring(\"qxKorvex 1.0 Type Library\")]"))
      << out;
  const char* const inherited[] = {
      "[id(0x60000000), func, dispatch, stdcall, oVft ",
      "[id(0x60000001), func, dispatch, stdcall, oVft ",
      "[id(0x60000002), func, dispatch, stdcall, oVft ",
      "[id(0x60010000), func, dispatch, stdcall, oVft ",
      "[id(0x60010001), func, dispatch, stdcall, oVft ",
      "[id(0x60010002), func, dispatch, stdcall, oVft ",
      "[id(0x60010003), func, dispatch, stdcall, oVft "};
  // stdole2 keeps IUnknown's and IDispatch's methods from clients.
  for (int slot = 0; slot < 7; ++slot) {
    const std::string prefix = std::string("    ") + inherited[slot];
    const std::string expected =
        prefix + std::to_string(slot * step) + ", flags(0x1 restricted)] ";
    EXPECT_EQ(LineStarting(out, prefix).substr(0, expected.size()), expected)
        << out;
  }
  const std::string install = std::to_string(7 * step);
  EXPECT_TRUE(HasLine(out, "    [id(0x1), func, dispatch, stdcall, oVft " +
                               install +
                               ", helpstring(\"method install\")] long "
                               "install();"))
      << out;
  EXPECT_TRUE(HasLine(out, "    [id(0x1), func, purevirtual, stdcall, oVft " +
                               install +
                               ", helpstring(\"method install\")] HRESULT "
                               "install([out, retval] long* val);"))
      << out;
  // The dispatch view's vtable is IDispatch's, the vtable view's one more.
  EXPECT_NE(out.find("vtable " + std::to_string(7 * step) +
                     ", helpstring(\"IInstallKorvex Interface\")]\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("vtable " + std::to_string(8 * step) +
                     ", helpstring(\"IInstallKorvex Interface\")] // vtable "
                     "view\n"),
            std::string::npos)
      << out;
}

TEST(HostTypelib, PrintsTheProductLibrary) {
  HostSandbox sandbox;
  HostRun run = sandbox.RunWithRegistry({"typelib", kProductLibrary});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::string& out = run.out;
  EXPECT_TRUE(HasLine(out, "library QXKORVEXLib {")) << out;
  EXPECT_TRUE(HasLine(out, "  coclass InstallKorvex {")) << out;
  EXPECT_TRUE(
      HasLine(out, "    [implements, flags(0x1 default)] IInstallKorvex;"))
      << out;
  // The dispatch view: inherited members first, install as a dispatch
  // method returning its retval; the vtable view: the method as declared,
  // in the eighth slot. Made for this build's pointer size.
  EXPECT_TRUE(HasLine(out, "  dispatch IInstallKorvex {")) << out;
  EXPECT_TRUE(HasLine(out, "  interface IInstallKorvex {")) << out;
  // Dual, automation-compatible and dispatchable, in both views.
  const std::string interfaceFlags =
      "  [uuid(D561B16B-0E95-460A-819D-EF05D1A29BC1), version(0.0), "
      "flags(0x1140 dual oleautomation dispatchable), ";
  size_t views = 0;
  for (const std::string& line : Lines(out))
    views += line.rfind(interfaceFlags, 0) == 0;
  EXPECT_EQ(views, 2u) << out;
  const bool wide = sizeof(void*) == 8;
  ExpectOffsets(out, wide ? "win64" : "win32", wide ? 8 : 4);
  EXPECT_EQ(Lines(out).back(), "}");
  EXPECT_TRUE(run.err.empty()) << run.err;
}

// Whatever this build's pointer size, a library made for the other system
// kind counts in its own, through the stdole2 of that kind it imports.
TEST(HostTypelib, EachSystemKindCountsInItsOwnPointerSize) {
  HostSandbox sandbox;
  for (const auto& kind :
       {std::make_pair("win32", 4), std::make_pair("win64", 8)}) {
    HostRun run =
        sandbox.RunWithRegistry({"typelib", std::string(QX_TYPELIB_DIR) + "/" +
                                                kind.first + "/qxKorvex.tlb"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    ExpectOffsets(run.out, kind.first, kind.second);
    EXPECT_TRUE(run.err.empty()) << run.err;
  }
}

TEST(HostTypelib, PrintsTheWin32DllsLibrary) {
#ifndef QX_WIN32_DLL
  GTEST_SKIP()
      << "the win32 DLL was not built before this build was configured";
#else
  HostSandbox sandbox;
  HostRun run = sandbox.RunWithRegistry({"typelib", QX_WIN32_DLL});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ExpectOffsets(run.out, "win32", 4);
  EXPECT_TRUE(run.err.empty()) << run.err;
#endif
}

// A property's get and put share a member id; each prints the names its
// own parameters have (the value a put assigns has none).
TEST(HostTypelib, EachAccessorPrintsItsOwnParameterNames) {
  HostSandbox sandbox;
  HostRun run = sandbox.RunWithRegistry(
      {"typelib", std::string(QX_TYPELIB_DIR) + "/typelib_features.tlb"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::string& out = run.out;
  auto endOf = [&out](const std::string& prefix) {
    const std::string line = LineStarting(out, "    " + prefix);
    const size_t close = line.find("] ");
    return close == std::string::npos ? line : line.substr(close + 2);
  };
  EXPECT_EQ(endOf("[id(0x6), propget, dispatch,"),
            "BSTR Item([in] long index);")
      << out;
  EXPECT_EQ(endOf("[id(0x6), propput, dispatch,"),
            "void Item([in] long position, [in] BSTR arg1);")
      << out;
  EXPECT_EQ(endOf("[id(0x6), propget, purevirtual,"),
            "HRESULT Item([in] long index, [out, retval] BSTR* value);")
      << out;
  EXPECT_EQ(endOf("[id(0x6), propput, purevirtual,"),
            "HRESULT Item([in] long position, [in] BSTR arg1);")
      << out;
  EXPECT_TRUE(run.err.empty()) << run.err;
}

// Object parameters that default to none, which older readers refused.
TEST(HostTypelib, NullObjectDefaultsPrintAsIdlWritesThem) {
  HostSandbox sandbox;
  HostRun run = sandbox.RunWithRegistry(
      {"typelib", std::string(QX_TYPELIB_DIR) + "/invoke_target.tlb"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find(" Count([in, optional, defaultvalue(0)] IDispatch* "
                         "item, [in, optional, defaultvalue(0)] IUnknown* "
                         "other"),
            std::string::npos)
      << run.out;
  EXPECT_TRUE(run.err.empty()) << run.err;
}

// Printing a library only reads: a registry database that does not exist
// is not made, whether the library prints or not.
TEST(HostTypelib, MakesNoRegistryDatabase) {
  HostSandbox sandbox;
  HostRun printed = sandbox.RunWithRegistry({"typelib", kProductLibrary});
  EXPECT_EQ(printed.exitCode, 0) << printed.err;
  EXPECT_TRUE(HasLine(printed.out, "library QXKORVEXLib {")) << printed.out;
  EXPECT_FALSE(std::filesystem::exists(sandbox.registry()));
  HostRun missing = sandbox.RunWithRegistry(
      {"typelib", (sandbox.root() / "none.tlb").string()});
  EXPECT_EQ(missing.exitCode, kExitFailure);
  EXPECT_FALSE(std::filesystem::exists(sandbox.registry()));
  // Nor the default one under the user's state folder.
  EXPECT_EQ(sandbox.Run({"typelib", kProductLibrary}).exitCode, 0);
  EXPECT_FALSE(std::filesystem::exists(sandbox.root() / "state" /
                                       "qxkorvex" / "registry.db"));
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
