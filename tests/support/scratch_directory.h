// A fresh directory under /tmp for one test, removed with everything in it
// when the holder goes.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

class ScratchDirectory {
 public:
  // prefix names the directory's owner, as in /tmp/<prefix>.XXXXXX.
  explicit ScratchDirectory(const std::string& prefix) {
    std::string pattern = "/tmp/" + prefix + ".XXXXXX";
    const char* created = mkdtemp(&pattern[0]);
    EXPECT_NE(created, nullptr) << pattern;
    if (created != nullptr) m_path = created;
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const std::filesystem::path& path() const { return m_path; }

 private:
  std::filesystem::path m_path;
};
