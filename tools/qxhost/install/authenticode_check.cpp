// osslsigncode verify: exit status 0 when the signature verifies. Its
// report tells an unsigned file ("No signature found", or a file type it
// cannot read) and one whose
// digest no longer matches ("MISMATCH") from one that does not chain to
// a trusted certificate. A cabinet whose signature is not where its file
// ends is told apart here: the checker only calls it a file it cannot read.
#include "tools/qxhost/install/authenticode_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "tools/qxhost/system/child_process.h"
#include "tools/qxhost/system/posix_holders.h"

namespace qxhost {
namespace {

constexpr char kCheckerPath[] = QX_OSSLSIGNCODE_PATH;

bool Contains(const std::string& text, const char* what) {
  return text.find(what) != std::string::npos;
}

// The last line of output that holds one of the words, trimmed; "" when
// none does.
std::string LastLineWith(const std::string& output,
                         std::initializer_list<const char*> words) {
  std::string found;
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(start, end - start);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
      line.pop_back();
    size_t indent = line.find_first_not_of(" \t");
    line.erase(0, indent == std::string::npos ? line.size() : indent);
    // The closing "Failed" says nothing the outcome does not.
    if (line != "Failed") {
      for (const char* word : words) {
        if (Contains(line, word)) {
          found = line;
          break;
        }
      }
    }
    start = end + 1;
  }
  return found;
}

// A cabinet's header (CFHEADER) as far as a signature's place in it: the
// flag that a reserved area follows, the area's size, and in it the
// Authenticode record (a marker, then the signature's offset and size).
constexpr unsigned char kCabinetMagic[] = {'M', 'S', 'C', 'F'};
constexpr size_t kFlagsAt = 30;
constexpr uint16_t kReservePresent = 0x0004;
constexpr size_t kReserveSizeAt = 36;
constexpr size_t kReserveAt = 40;
constexpr size_t kSignatureRecordSize = 20;
constexpr uint32_t kSignatureRecordMarker = 0x00100000;
constexpr size_t kHeaderRead = kReserveAt + 12;

uint32_t ReadLittle(const unsigned char* bytes, size_t size) {
  uint32_t value = 0;
  for (size_t i = size; i > 0; --i) value = value << 8 | bytes[i - 1];
  return value;
}

// For a cabinet whose header places a signature, *detail says so when the
// file does not end where the signature does; false otherwise (another kind
// of file, no signature, or one that ends in place).
bool CabinetSignatureMisplaced(const std::string& file, std::string* detail) {
  UniqueFd fd(open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat status = {};
  unsigned char header[kHeaderRead] = {};
  if (!fd || fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
      pread(fd.get(), header, sizeof header, 0) !=
          static_cast<ssize_t>(sizeof header))
    return false;
  if (std::memcmp(header, kCabinetMagic, sizeof kCabinetMagic) != 0 ||
      !(ReadLittle(header + kFlagsAt, 2) & kReservePresent) ||
      ReadLittle(header + kReserveSizeAt, 2) < kSignatureRecordSize ||
      ReadLittle(header + kReserveAt, 4) != kSignatureRecordMarker)
    return false;
  uint64_t end = uint64_t{ReadLittle(header + kReserveAt + 4, 4)} +
                 ReadLittle(header + kReserveAt + 8, 4);
  uint64_t size = static_cast<uint64_t>(status.st_size);
  if (size > end) {
    *detail = "the cabinet has " + std::to_string(size - end) +
              " bytes of data after its signature";
    return true;
  }
  if (size < end) {
    *detail = "the cabinet ends " + std::to_string(end - size) +
              " bytes before its signature does";
    return true;
  }
  return false;
}

}  // namespace

SignatureCheck CheckSignature(const std::string& file,
                              const std::string& caFile, std::string* detail) {
  ChildResult result;
  // -CRLfile is not given: a test authority publishes no revocation list.
  // The time-stamp authorities are the same certificates, so that the
  // check reads no other trust store than the one it is given.
  if (!RunChild({kCheckerPath, "verify", "-CAfile", caFile, "-TSA-CAfile",
                 caFile, "-in", file},
                &result, detail))
    return SignatureCheck::kNotRun;
  if (result.exitCode == 0 && Contains(result.output, "Succeeded"))
    return SignatureCheck::kVerified;
  // Bytes added to a signed cabinet (or cut from it) are a change to what
  // was signed, whatever the checker makes of the file.
  if (CabinetSignatureMisplaced(file, detail)) return SignatureCheck::kChanged;
  // A file of a type that cannot carry a signature is as unsigned as one
  // that carries none.
  *detail = LastLineWith(result.output,
                         {"No signature found", "unsupported input file type"});
  if (!detail->empty()) return SignatureCheck::kUnsigned;
  *detail = LastLineWith(result.output, {"MISMATCH"});
  if (!detail->empty()) return SignatureCheck::kChanged;
  // The chain's own error ("Error: self-signed certificate") says why it
  // is not trusted, or, for a signer whose certificate is not for code
  // signing, the line about its purpose (the closing lines only say that
  // verification failed); failing both, the last line that reports a
  // failure.
  *detail = LastLineWith(result.output, {"Error: ", "certificate purpose"});
  if (detail->empty()) *detail = LastLineWith(result.output, {"fail", "rror"});
  return SignatureCheck::kUntrusted;
}

}  // namespace qxhost
