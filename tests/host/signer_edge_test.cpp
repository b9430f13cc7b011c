// Signers a page's install must not trust, though each signed the cabinet
// and nothing changed since: a certificate that has expired, one not valid
// yet, one for another purpose than signing code, and one issued by an
// intermediate authority that neither the --trust file nor the signature
// holds. Each is refused at the object's line with the checker's own
// reason, and leaves the registry and the cache as they were.
#include "host/page_install_fixture.h"

namespace {

namespace fs = std::filesystem;
using hosttest::CertificateTraits;
using pageinstall::ObjectTag;

class SignerEdges : public pageinstall::PageInstall {
 protected:
  // A cabinet of the good INF signed by a certificate made with traits,
  // and the page that installs it.
  fs::path PageSignedBy(const std::string& name,
                        const CertificateTraits& traits) {
    EXPECT_TRUE(m_signing.IssueCertificate(name, traits));
    fs::path cabinet = Cabinet("qx.cab", m_goodInf, "library", /*sign=*/false);
    EXPECT_TRUE(m_signing.SignAs(cabinet, name));
    return Page(ObjectTag("korvex", "qx.cab"));
  }

  std::string NotTrusted() {
    return Refusal("qx.cab",
                   "the cabinet's signature does not chain to a --trust "
                   "certificate");
  }
};

TEST_F(SignerEdges, ExpiredSignerIsRefused) {
  CertificateTraits expired;
  expired.notBefore = "20200101000000Z";
  expired.notAfter = "20210101000000Z";
  ExpectSignatureRefused(PageSignedBy("expired", expired), NotTrusted(),
                         "Error: certificate has expired");
}

TEST_F(SignerEdges, SignerNotYetValidIsRefused) {
  CertificateTraits early;
  early.notBefore = "20450101000000Z";
  early.notAfter = "20460101000000Z";
  ExpectSignatureRefused(PageSignedBy("early", early), NotTrusted(),
                         "Error: certificate is not yet valid");
}

// A certificate whose extended key usage names other purposes than code
// signing cannot sign code. (One without the extension at all is good for
// every purpose, as on Windows.)
TEST_F(SignerEdges, SignerForAnotherPurposeIsRefused) {
  CertificateTraits server;
  server.extendedKeyUsage = "serverAuth,clientAuth";
  ExpectSignatureRefused(PageSignedBy("server", server), NotTrusted(),
                         "certificate purpose");
}

TEST_F(SignerEdges, ChainThroughAnUnknownIntermediateIsRefused) {
  CertificateTraits intermediate;
  intermediate.authority = true;
  intermediate.extendedKeyUsage.clear();
  ASSERT_TRUE(m_signing.IssueCertificate("intermediate", intermediate));
  CertificateTraits below;
  below.issuer = "intermediate";
  ExpectSignatureRefused(PageSignedBy("below", below), NotTrusted(),
                         "Error: unable to get local issuer certificate");
}

}  // namespace
