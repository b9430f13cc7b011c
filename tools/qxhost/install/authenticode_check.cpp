// osslsigncode verify: exit status 0 when the signature verifies. Its
// report tells an unsigned file ("No signature found", or a file type it
// cannot read) and one whose
// digest no longer matches ("MISMATCH") from one that does not chain to
// a trusted certificate.
#include "tools/qxhost/install/authenticode_check.h"

#include "tools/qxhost/system/child_process.h"

namespace qxhost {
namespace {

constexpr char kCheckerPath[] = QX_OSSLSIGNCODE_PATH;

bool Contains(const std::string& text, const char* what) {
  return text.find(what) != std::string::npos;
}

// The last line that says what failed, without the closing "Failed".
std::string FailureLine(const std::string& output) {
  std::string found;
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(start, end - start);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
      line.pop_back();
    if (!line.empty() && line != "Failed" &&
        (Contains(line, "fail") || Contains(line, "rror")))
      found = line;
    start = end + 1;
  }
  return found;
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
  // A file of a type that cannot carry a signature is as unsigned as one
  // that carries none.
  if (Contains(result.output, "No signature found") ||
      Contains(result.output, "unsupported input file type"))
    return SignatureCheck::kUnsigned;
  if (Contains(result.output, "MISMATCH")) return SignatureCheck::kChanged;
  *detail = FailureLine(result.output);
  return SignatureCheck::kUntrusted;
}

}  // namespace qxhost
