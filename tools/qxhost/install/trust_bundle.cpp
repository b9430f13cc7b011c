// A --trust file's PEM blocks, each read by the openssl tool: the whole file
// at once with storeutl (one child process however many certificates a
// system bundle holds), and, only when that does not find them all, each
// block on its own with x509 to name the one at fault.
#include "tools/qxhost/install/trust_bundle.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "tools/qxhost/system/child_process.h"
#include "tools/qxhost/system/posix_holders.h"

namespace qxhost {
namespace {

constexpr char kOpensslPath[] = QX_OPENSSL_PATH;
constexpr char kBegin[] = "-----BEGIN ";
constexpr char kEnd[] = "-----END ";
constexpr char kDashes[] = "-----";

struct PemBlock {
  std::string label;  // "CERTIFICATE", or "" when the block has no end
  std::string text;   // from its BEGIN line to its END line, both included
};

// The blocks in the order they stand. A BEGIN line without its END makes a
// last block with no label.
std::vector<PemBlock> SplitBlocks(const std::string& text) {
  std::vector<PemBlock> blocks;
  size_t at = text.find(kBegin);
  while (at != std::string::npos) {
    size_t labelStart = at + sizeof kBegin - 1;
    size_t labelEnd = text.find(kDashes, labelStart);
    size_t lineEnd = text.find('\n', labelStart);
    PemBlock block;
    if (labelEnd != std::string::npos && labelEnd < lineEnd) {
      std::string label = text.substr(labelStart, labelEnd - labelStart);
      std::string endLine = kEnd + label + kDashes;
      size_t end = text.find(endLine, labelEnd);
      if (end != std::string::npos) {
        block.label = label;
        block.text = text.substr(at, end + endLine.size() - at) + "\n";
        blocks.push_back(block);
        at = text.find(kBegin, end + endLine.size());
        continue;
      }
    }
    blocks.push_back(block);
    break;
  }
  return blocks;
}

bool IsCertificateLabel(const std::string& label) {
  return label == "CERTIFICATE" || label == "TRUSTED CERTIFICATE" ||
         label == "X509 CERTIFICATE";
}

// A folder of its own for the files the tool reads, removed with them.
class ScratchFolder {
 public:
  ~ScratchFolder() {
    if (m_path.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
  }
  bool Open(std::string* error) {
    const char* base = getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base == '/' ? base : "/tmp") +
        "/qxhost-trust-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) {
      *error = "cannot create a folder in which to check them: " +
               std::string(std::strerror(errno));
      return false;
    }
    m_path = pattern;
    return true;
  }
  // Writes bytes to a new file name in the folder; its path in *path.
  bool Write(const std::string& name, const std::string& bytes,
             std::string* path, std::string* error) {
    *path = m_path + "/" + name;
    UniqueFd file(open(path->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                       S_IRUSR | S_IWUSR));
    size_t done = 0;
    while (file && done < bytes.size()) {
      ssize_t wrote =
          write(file.get(), bytes.data() + done, bytes.size() - done);
      if (wrote <= 0) break;
      done += static_cast<size_t>(wrote);
    }
    if (!file || done < bytes.size()) {
      *error = "cannot write " + *path + ": " + std::strerror(errno);
      return false;
    }
    return true;
  }

 private:
  std::string m_path;
};

// The number storeutl reports on its "Total found: N" line; -1 without one.
long TotalFound(const std::string& output) {
  static const char kTotal[] = "Total found: ";
  size_t at = output.rfind(kTotal);
  if (at == std::string::npos) return -1;
  return std::strtol(output.c_str() + at + sizeof kTotal - 1, nullptr, 10);
}

// True when the tool reads every block of the bundle as a certificate.
bool AllRead(const std::string& bundle, size_t blocks, std::string* error,
             bool* ran) {
  ChildResult result;
  *ran = RunChild({kOpensslPath, "storeutl", "-noout", "-certs", bundle},
                  &result, error);
  return *ran && result.exitCode == 0 &&
         TotalFound(result.output) == static_cast<long>(blocks);
}

}  // namespace

bool CheckTrustBundle(const std::string& file, const std::string& text,
                      std::string* problem) {
  const std::string named = "the --trust file " + file;
  std::vector<PemBlock> blocks = SplitBlocks(text);
  if (blocks.empty()) {
    *problem = named + " holds no PEM certificate";
    return false;
  }
  auto notCertificate = [&](size_t index) {
    *problem = named + " holds a block that is not a certificate (block " +
               std::to_string(index + 1) + ")";
    return false;
  };
  for (size_t i = 0; i < blocks.size(); ++i) {
    if (!IsCertificateLabel(blocks[i].label)) return notCertificate(i);
  }
  ScratchFolder scratch;
  std::string error;
  std::string bundle;
  bool ran = false;
  if (!scratch.Open(&error) ||
      !scratch.Write("bundle.pem", text, &bundle, &error)) {
    *problem = named + ": its certificates cannot be checked: " + error;
    return false;
  }
  if (AllRead(bundle, blocks.size(), &error, &ran)) return true;
  if (!ran) {
    *problem = named + ": its certificates cannot be checked: " + error;
    return false;
  }
  // Some block did not read: each on its own says which.
  for (size_t i = 0; i < blocks.size(); ++i) {
    std::string path;
    if (!scratch.Write("block" + std::to_string(i + 1) + ".pem", blocks[i].text,
                       &path, &error)) {
      *problem = named + ": its certificates cannot be checked: " + error;
      return false;
    }
    ChildResult result;
    if (!RunChild({kOpensslPath, "x509", "-noout", "-in", path}, &result,
                  &error)) {
      *problem = named + ": its certificates cannot be checked: " + error;
      return false;
    }
    if (result.exitCode != 0) return notCertificate(i);
  }
  *problem = named + " holds certificates OpenSSL cannot read together";
  return false;
}

}  // namespace qxhost
