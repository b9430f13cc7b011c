// The example page asks, in its codebase, for the version the library is
// built at: the four numbers of installer/resources/qxKorvex_version.h,
// which the version block and the package's INF take too. A page asking
// for another version would install on every run, or never.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "host/host_runner.h"

namespace {

std::string HeaderVersion() {
  const std::string header = hosttest::ReadFile(
      std::string(QX_SOURCE_DIR) + "/installer/resources/qxKorvex_version.h");
  std::string version;
  for (const char* field : {"MAJOR", "MINOR", "BUILD", "REVISION"}) {
    std::smatch match;
    const std::regex line(std::string("(^|\\n)#define QX_VERSION_") + field +
                          " ([0-9]+)\\n");
    if (!std::regex_search(header, match, line))
      return "no " + std::string(field);
    version += (version.empty() ? "" : ",") + match[2].str();
  }
  return version;
}

TEST(ExamplePage, CodebaseAsksForTheLibrarysVersion) {
  const std::string page =
      hosttest::ReadFile(std::string(QX_SOURCE_DIR) + "/examples/install.html");
  std::smatch match;
  ASSERT_TRUE(std::regex_search(
      page, match, std::regex("codebase=\"qxKorvex\\.cab#version=([0-9,]+)\"")))
      << page;
  EXPECT_EQ(match[1].str(), HeaderVersion());
}

}  // namespace
