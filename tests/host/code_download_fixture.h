// Signed cabinets for the page-install tests, made as the package target
// makes the real one (gcab, then osslsigncode with a code-signing
// certificate): a test certificate authority and its signer, and a rogue
// signer no one trusts, made fresh in each test's sandbox (EC keys, so
// it takes milliseconds), and cabinets of an INF and a library built from
// whatever each test needs.
#pragma once
#include <filesystem>
#include <string>
#include <vector>

namespace hosttest {

constexpr char kProductClsid[] = "{EC68AD82-001E-4396-9CDC-ED264E512EE4}";

// The product's code-download INF for this class and version.
std::string CodeDownloadInf(const std::string& clsid,
                            const std::string& fileVersion,
                            const std::string& library = "qxKorvex.dll");

// What a further certificate is made with, by the test authority unless
// another certificate of the same folder is named.
struct CertificateTraits {
  std::string issuer = "authority";
  // Its validity, as YYYYMMDDHHMMSSZ; empty: from now on, for years.
  std::string notBefore;
  std::string notAfter;
  // Its extended key usage; empty: none at all.
  std::string extendedKeyUsage = "codeSigning";
  // An intermediate authority rather than a signer.
  bool authority = false;
};

class CodeSigning {
 public:
  // Makes the authority, its signer and the rogue signer in folder.
  explicit CodeSigning(const std::filesystem::path& folder);

  // Makes one more certificate and its key, called name.
  bool IssueCertificate(const std::string& name,
                        const CertificateTraits& traits) const;
  // Signs a file in place by the certificate called name, the signature
  // carrying that certificate alone.
  bool SignAs(const std::filesystem::path& file,
              const std::string& name) const;

  const std::filesystem::path& authority() const { return m_authority; }
  bool ok() const { return m_ok; }

  // A cabinet of the files (name, bytes), unsigned.
  bool MakeCabinet(
      const std::vector<std::pair<std::string, std::string>>& files,
      const std::filesystem::path& cabinet) const;
  // Signs a cabinet or library in place, by the trusted signer or the rogue.
  bool Sign(const std::filesystem::path& file, bool rogue = false) const;

 private:
  std::filesystem::path m_folder;
  std::filesystem::path m_authority;
  bool m_ok = false;
};

// Runs a tool (an absolute path and its arguments) in folder, without a
// shell; true when it exits 0. Its output goes to the test's log.
bool RunTool(const std::vector<std::string>& argv,
             const std::filesystem::path& folder);

// Every file and folder under root with its size, one per line, sorted;
// "<none>" when root does not exist.
std::string TreeListing(const std::filesystem::path& root);

}  // namespace hosttest
