// Exporting .reg text in pieces to a file descriptor: the same text as the
// export held in memory, its size and whether an import takes it back, and
// a write that fails (a full disk) stopping it with a message.
#include <windows.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "support/platform_fixture.h"
#include "support/scratch_directory.h"

namespace {

namespace fs = std::filesystem;

class RegistryExportStreamTest : public PlatformTest {
 protected:
  // chains trees of depth levels below HKCU\Deep, a value every tenth level.
  void ImportDeepTrees(int chains, int depth) {
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
    for (int chain = 0; chain < chains; ++chain) {
      std::string path = "HKEY_CURRENT_USER\\Deep\\Chain" + std::to_string(chain);
      for (int level = 1; level < depth; ++level) {
        path += "\\K";
        text += "[" + path + "]\r\n";
        if (level % 10 == 0)
          text += "\"Level\"=dword:" + std::to_string(level % 10000) + "\r\n";
        text += "\r\n";
      }
    }
    std::string error;
    ASSERT_TRUE(qxplatform::ImportRegistryText(text, &error)) << error;
  }
  std::string Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
  }

  ScratchDirectory m_scratch{"qxregexport"};
  const fs::path m_dir = m_scratch.path();
};

TEST_F(RegistryExportStreamTest, TextInPiecesIsTheTextInMemory) {
  std::string error;
  ASSERT_TRUE(qxplatform::OpenRegistryDatabase((m_dir / "r.db").c_str(),
                                               &error))
      << error;
  ImportDeepTrees(/*chains=*/40, /*depth=*/500);  // 20 000 keys

  std::string whole;
  ASSERT_TRUE(qxplatform::ExportRegistryText(nullptr, &whole, &error))
      << error;
  const fs::path out = m_dir / "export.reg";
  int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  uint64_t bytes = 0;
  bool fitsImport = false;
  EXPECT_TRUE(qxplatform::ExportRegistryTextTo(nullptr, fd, &bytes,
                                               &fitsImport, &error))
      << error;
  close(fd);
  const std::string streamed = Contents(out);
  EXPECT_GT(streamed.size(), size_t{1} << 20);  // many pieces
  EXPECT_TRUE(streamed == whole) << "the pieces differ from the whole text";
  EXPECT_EQ(bytes, whole.size());
  EXPECT_TRUE(fitsImport);

  // One key's tree alike, and it imports back as it was.
  std::string key;
  ASSERT_TRUE(qxplatform::ExportRegistryText("HKCU\\Deep\\Chain7", &key,
                                             &error))
      << error;
  fd = open(out.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(qxplatform::ExportRegistryTextTo("HKCU\\Deep\\Chain7", fd,
                                               nullptr, nullptr, &error))
      << error;
  close(fd);
  EXPECT_TRUE(Contents(out) == key);
  qxplatform::ResetRegistry();
  ASSERT_TRUE(qxplatform::ImportRegistryText(Contents(out), &error)) << error;
  std::string again;
  ASSERT_TRUE(qxplatform::ExportRegistryText("HKCU\\Deep\\Chain7", &again,
                                             &error))
      << error;
  EXPECT_TRUE(again == key);
}

TEST_F(RegistryExportStreamTest, AFullDiskStopsTheExportWithAMessage) {
  ImportDeepTrees(/*chains=*/4, /*depth=*/200);
  int fd = open("/dev/full", O_WRONLY | O_CLOEXEC);
  if (fd < 0) GTEST_SKIP() << "no /dev/full here";
  std::string error;
  uint64_t bytes = 1;
  bool fitsImport = false;
  EXPECT_FALSE(qxplatform::ExportRegistryTextTo(nullptr, fd, &bytes,
                                                &fitsImport, &error));
  close(fd);
  EXPECT_NE(error.find("cannot write the text"), std::string::npos) << error;
  EXPECT_NE(error.find(std::strerror(ENOSPC)), std::string::npos) << error;
  EXPECT_EQ(bytes, 0u);
  // The store is usable after it.
  std::string whole;
  EXPECT_TRUE(qxplatform::ExportRegistryText(nullptr, &whole, &error))
      << error;
}

TEST_F(RegistryExportStreamTest, NoDescriptorOrAClosedOneIsAMessage) {
  std::string error;
  EXPECT_FALSE(qxplatform::ExportRegistryTextTo(nullptr, -1, nullptr, nullptr,
                                                &error));
  EXPECT_EQ(error, "no output");
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  close(pipeEnds[0]);
  close(pipeEnds[1]);
  EXPECT_FALSE(qxplatform::ExportRegistryTextTo(nullptr, pipeEnds[1], nullptr,
                                                nullptr, &error));
  EXPECT_NE(error.find("cannot write the text"), std::string::npos) << error;
  EXPECT_FALSE(qxplatform::ExportRegistryTextTo("HKCU\\Missing", 1, nullptr,
                                                nullptr, &error));
  EXPECT_NE(error.find("does not exist"), std::string::npos) << error;
}

// In a child whose address space cannot take the text: the text in
// pieces still goes out whole, in little memory, and the text asked for in
// memory is refused with a message rather than ending the process.
// AddressSanitizer reserves terabytes of address space for its shadow, so
// an address space limit cannot be applied to a sanitized build.
#if defined(__SANITIZE_ADDRESS__)
#define QX_ADDRESS_SPACE_UNLIMITABLE 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QX_ADDRESS_SPACE_UNLIMITABLE 1
#endif
#endif

TEST_F(RegistryExportStreamTest, TextLargerThanTheMemoryLeftStillGoesOut) {
#ifdef QX_ADDRESS_SPACE_UNLIMITABLE
  GTEST_SKIP() << "the sanitizer's shadow memory rules out an address space "
                  "limit";
#endif
  std::string error;
  ASSERT_TRUE(qxplatform::OpenRegistryDatabase((m_dir / "r.db").c_str(),
                                               &error))
      << error;
  ImportDeepTrees(/*chains=*/40, /*depth=*/500);
  const fs::path out = m_dir / "export.reg";
  const fs::path message = m_dir / "message.txt";
  for (bool inPieces : {true, false}) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // A connection of its own: the parent's is not to be shared.
      std::string what;
      if (!qxplatform::OpenRegistryDatabase((m_dir / "r.db").c_str(), &what))
        _exit(2);
      // What the process maps now, and room for the database's pages and
      // a few pieces, not for the text (several times larger) held whole.
      std::ifstream statm("/proc/self/statm");
      unsigned long long pages = 0;
      statm >> pages;
      const rlim_t limit =
          static_cast<rlim_t>(pages * sysconf(_SC_PAGESIZE)) +
          static_cast<rlim_t>(fs::file_size(m_dir / "r.db")) +
          (rlim_t{4} << 20);
      const struct rlimit bound = {limit, limit};
      if (setrlimit(RLIMIT_AS, &bound) != 0) _exit(3);
      bool written = false;
      if (inPieces) {
        int fd =
            open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0) _exit(4);
        written = qxplatform::ExportRegistryTextTo(nullptr, fd, nullptr,
                                                   nullptr, &what);
        close(fd);
      } else {
        std::string text;
        written = qxplatform::ExportRegistryText(nullptr, &text, &what);
        std::ofstream(message) << what;
      }
      _exit(written ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status))
        << (inPieces ? "in pieces" : "in memory")
        << ": the export died, status " << status;
    EXPECT_EQ(WEXITSTATUS(status), inPieces ? 0 : 1);
  }
  EXPECT_NE(Contents(message).find("not enough memory"), std::string::npos)
      << Contents(message);
  std::string whole;
  ASSERT_TRUE(qxplatform::ExportRegistryText(nullptr, &whole, &error))
      << error;
  EXPECT_GT(whole.size(),
            fs::file_size(m_dir / "r.db") + (size_t{4} << 20) * 2);
  EXPECT_TRUE(Contents(out) == whole);
}

}  // namespace
