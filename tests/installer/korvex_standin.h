// Test support for the provider probe and the installer launch:
//   - the provider's registry entry, naming an image that exists, which
//     makes the probe succeed;
//   - a stand-in "Korvex.exe" (a shell script that appends a line to a
//     marker file) in a temporary directory that becomes the whole PATH.
#pragma once
#include <gtest/gtest.h>
#include <qxplatform/controls.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

// The provider's image only has to exist; the test program's own always
// does. Quoted for a .reg string.
inline std::string ProviderImageText() {
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
  std::string text;
  for (ssize_t i = 0; i < length; ++i) {
    if (path[i] == '\\' || path[i] == '"') text.push_back('\\');
    text.push_back(path[i]);
  }
  return text;
}

inline void InstallProviderEntry() {
  std::string error;
  ASSERT_TRUE(qxplatform::ImportRegistryText(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Defaults\\"
      "Provider\\Selvane Korvex for RDKV CSP v1.0]\r\n"
      "\"Image Path\"=\"" +
          ProviderImageText() +
          "\"\r\n"
          "\"Type\"=dword:00000001\r\n",
      &error))
      << error;
}

class KorvexStandIn {
 public:
  KorvexStandIn() {
    char pattern[] = "/tmp/qxkorvex-standin-XXXXXX";
    const char* created = mkdtemp(pattern);
    EXPECT_NE(created, nullptr);
    if (created != nullptr) m_directory = created;
    if (const char* path = getenv("PATH")) m_savedPath = path;
    setenv("PATH", m_directory.c_str(), /*overwrite=*/1);
    m_launchesBefore = qxplatform::ShellLaunchCount();
  }
  ~KorvexStandIn() {
    // Let every installer started meanwhile finish writing before the
    // directory goes.
    WaitForMarkerLines(
        static_cast<int>(qxplatform::ShellLaunchCount() - m_launchesBefore));
    setenv("PATH", m_savedPath.c_str(), /*overwrite=*/1);
    unlink(ProgramPath().c_str());
    unlink(MarkerPath().c_str());
    rmdir(m_directory.c_str());
  }
  KorvexStandIn(const KorvexStandIn&) = delete;
  KorvexStandIn& operator=(const KorvexStandIn&) = delete;

  // Writes the program; executable or not.
  void Write(bool executable) {
    std::ofstream program(ProgramPath());
    program << "#!/bin/sh\necho started >> '" << MarkerPath() << "'\n";
    program.close();
    chmod(ProgramPath().c_str(), executable ? 0755 : 0644);
  }

  // Lines the started installers have written so far. The installer runs
  // detached, so a caller that expects n lines waits for them.
  int MarkerLines() const {
    std::ifstream marker(MarkerPath());
    int lines = 0;
    std::string line;
    while (std::getline(marker, line)) ++lines;
    return lines;
  }
  // Waits (bounded) until the marker holds at least n lines.
  bool WaitForMarkerLines(int n) const {
    for (int attempt = 0; attempt < 500; ++attempt) {
      if (MarkerLines() >= n) return true;
      usleep(10000);
    }
    return false;
  }

  std::string ProgramPath() const { return m_directory + "/Korvex.exe"; }
  std::string MarkerPath() const { return m_directory + "/marker"; }

 private:
  std::string m_directory;
  std::string m_savedPath;
  long m_launchesBefore = 0;
};
