// The page-install tests' fixture: a sandbox with a signing authority, a
// site folder for the page and its cabinets, and the checks every refusal
// shares (the message at the object's line, the registry and the cache as
// they were).
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/code_download_fixture.h"
#include "host/host_runner.h"

namespace pageinstall {

namespace fs = std::filesystem;
using hosttest::CodeDownloadInf;
using hosttest::CodeSigning;
using hosttest::HostRun;
using hosttest::HostSandbox;
using hosttest::kProductClsid;
using hosttest::Lines;
using hosttest::ReadFile;
using hosttest::TreeListing;

constexpr char kVersion[] = "1,0,0,6";
constexpr int kObjectLine = 3;

inline std::string ObjectTag(const std::string& id, const std::string& codebase) {
  return "<object id=\"" + id +
         "\" classid=\"clsid:EC68AD82-001E-4396-9CDC-ED264E512EE4\" "
         "codebase=\"" +
         codebase + "\"></object>\n";
}

class PageInstall : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(m_site);
    fs::create_directories(m_sandbox.root() / "bin");
    m_sandbox.environment()["PATH"] = (m_sandbox.root() / "bin").string();
    ASSERT_TRUE(m_signing.ok());
  }

  // A cabinet in the page's folder holding the INF and the library bytes,
  // signed by the test signer unless told otherwise.
  fs::path Cabinet(const std::string& name, const std::string& inf,
                   const std::string& library, bool sign = true,
                   bool rogue = false) {
    fs::path cabinet = m_site / name;
    EXPECT_TRUE(m_signing.MakeCabinet(
        {{"qxKorvex.inf", inf}, {"qxKorvex.dll", library}}, cabinet));
    if (sign) {
      EXPECT_TRUE(m_signing.Sign(cabinet, rogue));
    }
    return cabinet;
  }

  // The page: objects from line 3, then a script that shows what it got.
  fs::path Page(const std::string& objects) {
    fs::path page = m_site / "page.html";
    std::string text = "<!DOCTYPE html>\n<html><body>\n" + objects +
                       "<script>\ndocument.write('created: ' + "
                       "(typeof korvex === 'object' && korvex !== null));"
                       "\n</script>\n</body></html>\n";
    std::ofstream(page, std::ios::binary) << text;
    return page;
  }

  HostRun RunPage(const fs::path& page, bool trust = true) {
    std::vector<std::string> arguments = {"run"};
    if (trust) {
      arguments.insert(arguments.end(),
                       {"--trust", m_signing.authority().string()});
    }
    arguments.push_back(page.string());
    return m_sandbox.RunWithRegistry(arguments);
  }

  // The registry as .reg text and the cache as a listing.
  std::string State() {
    HostRun exported = m_sandbox.RunWithRegistry({"reg", "export"});
    EXPECT_EQ(exported.exitCode, 0) << exported.err;
    return exported.out + "--- cache\n" + TreeListing(Cache());
  }

  fs::path Cache() const { return m_sandbox.root() / "cache" / "qxkorvex"; }

  // The page refused the one object: the message at its line, the object
  // not created, and the registry and cache as they were.
  void ExpectRefused(const fs::path& page, const std::string& reason,
                     bool trust = true) {
    std::string before = State();
    HostRun run = RunPage(page, trust);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "created: false\n");
    EXPECT_EQ(Lines(run.err), std::vector<std::string>{Line(page) + reason})
        << run.err;
    EXPECT_EQ(State(), before);
  }

  // As ExpectRefused, for a signature the checker refused: the reason is
  // followed by the checker's own words, in parentheses, which hold
  // checkerSays (the rest, a digest or a path, differs from run to run).
  void ExpectSignatureRefused(const fs::path& page, const std::string& reason,
                              const std::string& checkerSays,
                              bool trust = true) {
    std::string before = State();
    HostRun run = RunPage(page, trust);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "created: false\n");
    std::vector<std::string> lines = Lines(run.err);
    ASSERT_EQ(lines.size(), 1u) << run.err;
    const std::string expected = Line(page) + reason + " (";
    EXPECT_EQ(lines[0].substr(0, expected.size()), expected) << run.err;
    std::string detail = lines[0].substr(std::min(expected.size(), lines[0].size()));
    EXPECT_EQ(detail.back(), ')') << run.err;
    EXPECT_NE(detail.find(checkerSays), std::string::npos) << run.err;
    EXPECT_EQ(State(), before);
  }

  std::string Line(const fs::path& page) const {
    return page.string() + ":" + std::to_string(kObjectLine) +
           ": object 'korvex': ";
  }

  std::string Refusal(const std::string& codebase, const std::string& why) {
    return "not installed from codebase '" + codebase + "': " + why;
  }

  HostSandbox m_sandbox;
  fs::path m_site = m_sandbox.root() / "site";
  CodeSigning m_signing{m_sandbox.root() / "signing"};
  const std::string m_goodInf = CodeDownloadInf(kProductClsid, kVersion);
};

}  // namespace pageinstall
