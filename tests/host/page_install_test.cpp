// A page's own install path through qxhost run: an <object> whose class is
// missing (or older than its codebase's #version) is installed from the
// signed cabinet its codebase names in the page's folder, into the per-user
// cache, then created. Every refusal is reported at the object's line and
// leaves the registry and the cache as they were. The cabinets are made
// and signed here; in the 32-bit build the real package is installed too.
#include <gtest/gtest.h>

#include <stdint.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/code_download_fixture.h"
#include "host/host_runner.h"
#include "host/page_install_fixture.h"

namespace {

using namespace pageinstall;

TEST_F(PageInstall, ChangedCabinetIsRefused) {
  fs::path cabinet = Cabinet("qx.cab", m_goodInf, "library");
  std::string bytes = ReadFile(cabinet);
  bytes[bytes.size() / 4] ^= 0x01;
  std::ofstream(cabinet, std::ios::binary) << bytes;
  // A cache that holds something already keeps it.
  fs::create_directories(Cache() / "other");
  std::ofstream(Cache() / "other" / "kept.txt") << "kept";
  ExpectSignatureRefused(Page(ObjectTag("korvex", "qx.cab#version=1,0,0,6")),
                         Refusal("qx.cab#version=1,0,0,6",
                                 "the cabinet was changed after it was signed"),
                         "MISMATCH");
}

TEST_F(PageInstall, UnsignedCabinetIsRefused) {
  Cabinet("qx.cab", m_goodInf, "library", /*sign=*/false);
  ExpectSignatureRefused(Page(ObjectTag("korvex", "qx.cab")),
                         Refusal("qx.cab", "the cabinet is not signed"),
                         "No signature found");
}

TEST_F(PageInstall, CabinetOfAnUntrustedSignerIsRefused) {
  Cabinet("qx.cab", m_goodInf, "library", /*sign=*/true, /*rogue=*/true);
  ExpectSignatureRefused(
      Page(ObjectTag("korvex", "qx.cab")),
      Refusal("qx.cab",
              "the cabinet's signature does not chain to a --trust "
              "certificate"),
      "Error: self-signed certificate");
}

TEST_F(PageInstall, WithoutTrustOnlyTheSystemsCertificatesCount) {
  Cabinet("qx.cab", m_goodInf, "library");
  ExpectSignatureRefused(
      Page(ObjectTag("korvex", "qx.cab")),
      Refusal("qx.cab",
              "the cabinet's signature does not chain to a "
              "certificate the system trusts (no --trust given)"),
      "Error: unable to get local issuer certificate", /*trust=*/false);
}

TEST_F(PageInstall, InfForAnotherClassIsRefused) {
  Cabinet("qx.cab",
          CodeDownloadInf("{11111111-2222-3333-4444-555555555555}", kVersion),
          "library");
  ExpectRefused(Page(ObjectTag("korvex", "qx.cab")),
                Refusal("qx.cab",
                        "its INF installs class "
                        "{11111111-2222-3333-4444-555555555555}, not the "
                        "object's {EC68AD82-001E-4396-9CDC-ED264E512EE4}"));
}

TEST_F(PageInstall, InfOlderThanThePageAsksIsRefused) {
  Cabinet("qx.cab", CodeDownloadInf(kProductClsid, "1,0,0,5"), "library");
  ExpectRefused(Page(ObjectTag("korvex", "qx.cab#version=1,0,0,6")),
                Refusal("qx.cab#version=1,0,0,6",
                        "its INF installs version 1,0,0,5, older than the "
                        "page's 1,0,0,6"));
}

// The INF comes from the cabinet: text the reader cannot take, or an INF
// that asks for more than installing the object's library from this
// cabinet, is refused with the reason, whoever signed it.
TEST_F(PageInstall, InfsThisHostCannotFollowAreRefused) {
  const std::string good = m_goodInf;
  std::string downloads = good;
  downloads.replace(downloads.find("thiscab"), 7,
                    "http://example.invalid/qxKorvex.dll");
  const std::pair<std::string, std::string> infs[] = {
      {"[version]\r\nsignature=\"$CHICAGO$\r\n",
       "its INF 'qxKorvex.inf' cannot be read: line 2: quote left open"},
      {"[version]\r\nsignature=\"$CHICAGO$\"\x01\r\n",
       "its INF 'qxKorvex.inf' cannot be read: line 2: control character in "
       "the text"},
      {std::string("[version]\r\nsignature=\"$CHICAGO$\"\0\r\n", 33),
       "its INF 'qxKorvex.inf' cannot be read: line 2: control character in "
       "the text"},
      {"\xFF\xFE[\0v\0",
       "its INF 'qxKorvex.inf' cannot be read: UTF-16 text; this host reads "
       "ANSI or UTF-8 INF files"},
      {"clsid=" + std::string(kProductClsid) + "\r\n" + good,
       "its INF 'qxKorvex.inf' cannot be read: line 1: text before the first "
       "section"},
      {"[Add.Code]\r\nqxKorvex.dll=qxKorvex.dll\r\n",
       "its INF has no [version] signature=\"$CHICAGO$\""},
      {downloads,
       "its INF does not take 'qxKorvex.dll' from this cabinet "
       "(file-win32-x86=thiscab); this host never downloads"},
      {good + "\r\n[Add.Code]\r\nsetup.exe=setup.exe\r\n",
       "its INF lists more than one file in [Add.Code]; this host installs "
       "the object's library alone"},
      {CodeDownloadInf(kProductClsid, kVersion, "other.dll"),
       "the cabinet does not hold the library its INF names, 'other.dll'"}};
  for (const auto& [inf, why] : infs) {
    Cabinet("qx.cab", inf, "library");
    ExpectRefused(Page(ObjectTag("korvex", "qx.cab")), Refusal("qx.cab", why));
  }
}

TEST_F(PageInstall, UnsignedLibraryInASignedCabinetIsRefused) {
  Cabinet("qx.cab", m_goodInf, "this is no signed library");
  ExpectSignatureRefused(
      Page(ObjectTag("korvex", "qx.cab")),
      Refusal("qx.cab", "the library 'qxKorvex.dll' is not signed"),
      "unsupported input file type");
}

// gcab writes only plain names, so the entry's name bytes are patched into
// a path before the cabinet is signed: the signature is good, the name not.
TEST_F(PageInstall, EntriesLeavingTheCacheAreRefused) {
  const std::pair<std::string, std::string> names[] = {
      {"../evil.dll", "leaves the folder ('..')"},
      {"/a/evil.dll", "is an absolute path"},
      {"..\\evil.dll", "leaves the folder ('..')"}};
  for (const auto& [name, why] : names) {
    fs::path cabinet = m_site / "qx.cab";
    ASSERT_TRUE(m_signing.MakeCabinet({{"qxKorvex.inf", m_goodInf},
                                       {"qxKorvex.dll", "library"},
                                       {"ab_evil.dll", "evil"}},
                                      cabinet));
    std::string bytes = ReadFile(cabinet);
    size_t at = bytes.find("ab_evil.dll");
    ASSERT_NE(at, std::string::npos);
    bytes.replace(at, name.size(), name);
    std::ofstream(cabinet, std::ios::binary | std::ios::trunc) << bytes;
    ASSERT_TRUE(m_signing.Sign(cabinet));
    ExpectRefused(Page(ObjectTag("korvex", "qx.cab")),
                  Refusal("qx.cab", "the cabinet is refused: its entry '" +
                                        name + "' " + why));
    EXPECT_FALSE(fs::exists(m_sandbox.root() / "evil.dll"));
    EXPECT_FALSE(fs::exists(m_sandbox.root() / "cache" / "evil.dll"));
  }
}

TEST_F(PageInstall, CodebasesOutsideThePagesFolderAreRefused) {
  fs::path outside = m_sandbox.root() / "outside.cab";
  Cabinet("qx.cab", m_goodInf, "library");
  fs::copy_file(m_site / "qx.cab", outside);
  fs::create_symlink(outside, m_site / "link.cab");
  const std::pair<std::string, std::string> codebases[] = {
      {"../outside.cab", "it leaves the page's folder ('..')"},
      {"sub/%2E%2E/%2e%2e/outside.cab", "it leaves the page's folder ('..')"},
      {outside.string(),
       "it is an absolute path; it must name a file in the page's folder"},
      {"link.cab", "a link in it leads out of the page's folder"},
      {"sub%2Fqx.cab",
       "it holds a broken escape, an escaped separator or a control "
       "character"}};
  for (const auto& [codebase, why] : codebases) {
    ExpectRefused(Page(ObjectTag("korvex", codebase)), Refusal(codebase, why));
  }
}

TEST_F(PageInstall, UrlCodebasesAreRefused) {
  Cabinet("qx.cab", m_goodInf, "library");
  const std::string why =
      "it is a URL or a drive path; this host installs only from the page's "
      "folder and never downloads";
  const std::string codebases[] = {
      "http://example.invalid/qx.cab#version=1,0,0,6",
      "file://" + (m_site / "qx.cab").string(), "C:\\qx.cab"};
  for (const std::string& codebase : codebases) {
    ExpectRefused(Page(ObjectTag("korvex", codebase)), Refusal(codebase, why));
  }
}

TEST_F(PageInstall, TrustFilesMustHoldCertificates) {
  fs::path page = Page(ObjectTag("korvex", "qx.cab"));
  fs::path text = m_sandbox.Write("not-pem.txt", "no certificate here\n");
  HostRun run = m_sandbox.RunWithRegistry(
      {"run", "--trust", text.string(), page.string()});
  EXPECT_EQ(run.exitCode, hosttest::kExitUsage);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "qxhost: --trust: " + text.string() +
                         " holds no PEM certificate (try 'qxhost --help')\n");
  run = m_sandbox.RunWithRegistry({"run", "--trust"});
  EXPECT_EQ(run.exitCode, hosttest::kExitUsage);
  EXPECT_EQ(run.err,
            "qxhost: option --trust needs a PEM file (try 'qxhost --help')\n");
}

// Registered at the version asked for, the class is created and the
// codebase is not even looked at; asked for a later one, it is installed.
TEST_F(PageInstall, RegisteredClassAtThatVersionNeedsNoInstall) {
  ASSERT_EQ(m_sandbox.RunWithRegistry({"regsvr32", QX_LIBRARY_PATH}).exitCode,
            0);
  std::string before = State();
  HostRun run =
      RunPage(Page(ObjectTag("korvex", "absent.cab#version=1,0,0,6")));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "created: true\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(State(), before);

  ExpectRefused(Page(ObjectTag("korvex", "absent.cab#version=1,0,0,7")),
                Refusal("absent.cab#version=1,0,0,7",
                        "cannot find it: No such file or directory"));
}

#if defined(QX_WIN32_PACKAGE_DIR) && UINTPTR_MAX > 0xFFFFFFFFu
// The 64-bit host checks the real package all through, moves it into the
// cache and then cannot load the 32-bit DLL to register it, as 64-bit
// Windows cannot: the install is taken back out and nothing is left.
TEST_F(PageInstall, NativeHostTakesBackTheWindowsLibraryItCannotLoad) {
  fs::copy_file(fs::path(QX_WIN32_PACKAGE_DIR) / "qxKorvex.cab",
                m_site / "qxKorvex.cab");
  fs::path page = Page(ObjectTag("korvex", "qxKorvex.cab#version=1,0,0,6"));
  std::string before = State();
  HostRun run = m_sandbox.RunWithRegistry(
      {"run", "--trust", QX_WIN32_TEST_CA, page.string()});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "created: false\n");
  const std::string refusal =
      page.string() + ":3: object 'korvex': " +
      Refusal("qxKorvex.cab#version=1,0,0,6",
              "the library 'qxKorvex.dll' cannot be loaded (0x800700C1): "
              "cannot load ");
  // The refusal carries the platform loader's reason.
  std::vector<std::string> lines = Lines(run.err);
  ASSERT_EQ(lines.size(), 1u) << run.err;
  EXPECT_EQ(lines[0].rfind(refusal, 0), 0u) << run.err;
  EXPECT_NE(lines[0].find("a 32-bit Windows image cannot run in a 64-bit "
                          "process"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(State(), before);
}
#endif

#if defined(QX_WIN32_PACKAGE_DIR) && UINTPTR_MAX <= 0xFFFFFFFFu
// The real package, as the build signed it: installed into an empty
// registry from the page's folder, created and called; a second run finds
// it registered and installs nothing.
TEST_F(PageInstall, InstallsTheSignedPackageOnceAndCreatesTheObject) {
  fs::copy_file(fs::path(QX_WIN32_PACKAGE_DIR) / "qxKorvex.cab",
                m_site / "qxKorvex.cab");
  fs::path page = m_site / "install.html";
  std::ofstream(page, std::ios::binary)
      << "<!DOCTYPE html>\n<html><body>\n"
      << ObjectTag("korvex", "qxKorvex.cab#version=1,0,0,6")
      << "<script>\ndocument.write('install status: ' + korvex.install());\n"
         "</script>\n</body></html>\n";
  auto run = [&] {
    return m_sandbox.RunWithRegistry(
        {"run", "--trust", QX_WIN32_TEST_CA, page.string()});
  };
  HostRun first = run();
  ASSERT_EQ(first.exitCode, 0) << first.err;
  // No installer on the search path: the shell's file-not-found.
  EXPECT_EQ(first.out, "install status: -2\n");
  EXPECT_EQ(first.err, "");
  // The cabinet's two files in their class and version folder, and no
  // staging folder left beside them.
  const fs::path installed = Cache() / kProductClsid / "1.0.0.6";
  const std::string folder = std::string(kProductClsid) + "/";
  EXPECT_EQ(
      TreeListing(Cache()),
      folder + "\n" + folder + "1.0.0.6/\n" + folder + "1.0.0.6/qxKorvex.dll " +
          std::to_string(
              fs::file_size(fs::path(QX_WIN32_PACKAGE_DIR) / "qxKorvex.dll")) +
          "\n" + folder + "1.0.0.6/qxKorvex.inf " +
          std::to_string(
              fs::file_size(fs::path(QX_WIN32_PACKAGE_DIR) / "qxKorvex.inf")) +
          "\n");
  HostRun server =
      m_sandbox.RunWithRegistry({"reg", "export",
                                 std::string("HKEY_CLASSES_ROOT\\CLSID\\") +
                                     kProductClsid + "\\InprocServer32"});
  EXPECT_NE(server.out.find((installed / "qxKorvex.dll").string()),
            std::string::npos)
      << server.out;

  std::string before = State();
  struct stat registryBefore = hosttest::StatOf(m_sandbox.registry());
  HostRun second = run();
  ASSERT_EQ(second.exitCode, 0) << second.err;
  EXPECT_EQ(second.out, "install status: -2\n");
  EXPECT_EQ(second.err, "");
  EXPECT_EQ(State(), before);
  // Not written again: nothing registered a second time.
  struct stat registryAfter = hosttest::StatOf(m_sandbox.registry());
  EXPECT_EQ(registryAfter.st_ino, registryBefore.st_ino);
  EXPECT_EQ(registryAfter.st_mtim.tv_nsec, registryBefore.st_mtim.tv_nsec);
}

TEST_F(PageInstall, CacheOptionChoosesTheCacheFolder) {
  fs::copy_file(fs::path(QX_WIN32_PACKAGE_DIR) / "qxKorvex.cab",
                m_site / "qxKorvex.cab");
  fs::path page = Page(ObjectTag("korvex", "qxKorvex.cab#version=1,0,0,6"));
  const fs::path chosen = m_sandbox.root() / "chosen cache";
  HostRun run =
      m_sandbox.RunWithRegistry({"run", "--trust", QX_WIN32_TEST_CA, "--cache",
                                 chosen.string(), page.string()});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "created: true\n");
  EXPECT_TRUE(
      fs::is_regular_file(chosen / kProductClsid / "1.0.0.6" / "qxKorvex.dll"));
  EXPECT_EQ(TreeListing(Cache()), "<none>");
}
#endif

}  // namespace
