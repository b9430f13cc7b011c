// Checking a file's Authenticode signature (a cabinet's, a DLL's) against
// the certificates the user trusts. The cryptography is osslsigncode's: it
// runs as a child process, at the path the build found it.
#pragma once
#include <string>

namespace qxhost {

enum class SignatureCheck {
  kVerified,   // signed, unchanged, and chained to a trusted certificate
  kUnsigned,   // carries no signature, or is no file type that can
  kChanged,    // signed, but the bytes are not those that were signed, or
               // a cabinet does not end where its signature does
  kUntrusted,  // signed, but the signature does not verify against caFile
  kNotRun,     // the checker could not be run (*detail says why)
};

// Verifies file against the PEM certificates in caFile. For every outcome
// but kVerified, *detail receives why: the line of the checker's report that
// says what it refused (empty when the report has none), or the reason the
// checker could not run.
SignatureCheck CheckSignature(const std::string& file,
                              const std::string& caFile, std::string* detail);

}  // namespace qxhost
