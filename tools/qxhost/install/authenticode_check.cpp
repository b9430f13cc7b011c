// osslsigncode verify: exit status 0 when the signature verifies. Its
// report tells an unsigned file ("No signature found", or a file type it
// cannot read) and one whose
// digest no longer matches ("MISMATCH") from one that does not chain to
// a trusted certificate.
#include "tools/qxhost/install/authenticode_check.h"

#include <initializer_list>

#include "tools/qxhost/system/child_process.h"

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
  *detail = LastLineWith(result.output,
                         {"No signature found", "unsupported input file type"});
  if (!detail->empty()) return SignatureCheck::kUnsigned;
  *detail = LastLineWith(result.output, {"MISMATCH"});
  if (!detail->empty()) return SignatureCheck::kChanged;
  // The chain's own error ("Error: self-signed certificate") says why it
  // is not trusted; failing that, the last line that reports a failure.
  *detail = LastLineWith(result.output, {"Error: "});
  if (detail->empty()) *detail = LastLineWith(result.output, {"fail", "rror"});
  return SignatureCheck::kUntrusted;
}

}  // namespace qxhost
