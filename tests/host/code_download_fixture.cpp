// Test signing material and cabinets, through the same tools the package
// target uses, each run as a child process with its arguments as given.
#include "host/code_download_fixture.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

extern char** environ;

namespace hosttest {

namespace fs = std::filesystem;

namespace {

bool WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out);
}

// An EC key and a certificate for it: self-signed when signedBy is empty,
// else by the certificate named signedBy (its .pem and .key beside it).
bool MakeCertificate(const fs::path& folder, const std::string& name,
                     const std::string& subject, bool authority,
                     const std::string& signedBy) {
  const std::string key = (folder / (name + ".key")).string();
  const std::string pem = (folder / (name + ".pem")).string();
  if (!RunTool({QX_OPENSSL_PATH, "genpkey", "-algorithm", "EC", "-pkeyopt",
                "ec_paramgen_curve:P-256", "-out", key},
               folder))
    return false;
  std::vector<std::string> extensions =
      authority
          ? std::vector<std::string>{"-addext",
                                     "basicConstraints=critical,CA:TRUE",
                                     "-addext", "keyUsage=critical,keyCertSign"}
          : std::vector<std::string>{
                "-addext", "basicConstraints=critical,CA:FALSE",
                "-addext", "keyUsage=critical,digitalSignature",
                "-addext", "extendedKeyUsage=codeSigning"};
  if (signedBy.empty()) {
    std::vector<std::string> argv = {
        QX_OPENSSL_PATH, "req", "-x509", "-new",  "-sha256", "-days", "3650",
        "-key",          key,   "-subj", subject, "-out",    pem};
    argv.insert(argv.end(), extensions.begin(), extensions.end());
    return RunTool(argv, folder);
  }
  const std::string request = (folder / (name + ".csr")).string();
  std::vector<std::string> argv = {QX_OPENSSL_PATH, "req",  "-new",  "-sha256",
                                   "-key",          key,    "-subj", subject,
                                   "-out",          request};
  argv.insert(argv.end(), extensions.begin(), extensions.end());
  return RunTool(argv, folder) &&
         RunTool({QX_OPENSSL_PATH, "x509", "-req", "-sha256", "-days", "3650",
                  "-in", request, "-copy_extensions", "copy", "-CA",
                  (folder / (signedBy + ".pem")).string(), "-CAkey",
                  (folder / (signedBy + ".key")).string(), "-out", pem},
                 folder);
}

}  // namespace

std::string CodeDownloadInf(const std::string& clsid,
                            const std::string& fileVersion,
                            const std::string& library) {
  return "[version]\r\nsignature=\"$CHICAGO$\"\r\nAdvancedINF=2.0\r\n\r\n"
         "[Add.Code]\r\n" +
         library + "=" + library + "\r\n\r\n[" + library +
         "]\r\nfile-win32-x86=thiscab\r\nclsid=" + clsid +
         "\r\nFileVersion=" + fileVersion + "\r\nRegisterServer=yes\r\n";
}

CodeSigning::CodeSigning(const fs::path& folder)
    : m_folder(folder), m_authority(folder / "authority.pem") {
  fs::create_directories(folder);
  m_ok = MakeCertificate(folder, "authority", "/CN=qxhost test authority", true,
                         "") &&
         MakeCertificate(folder, "signer", "/CN=qxhost test signer", false,
                         "authority") &&
         MakeCertificate(folder, "rogue", "/CN=qxhost rogue signer", false, "");
}

bool CodeSigning::MakeCabinet(
    const std::vector<std::pair<std::string, std::string>>& files,
    const fs::path& cabinet) const {
  fs::path staging = m_folder / ("content-" + cabinet.filename().string());
  std::error_code ignored;
  fs::remove_all(staging, ignored);
  fs::create_directories(staging);
  std::vector<std::string> argv = {QX_GCAB_PATH, "-c", "-z",
                                   fs::absolute(cabinet).string()};
  for (const auto& file : files) {
    if (!WriteBytes(staging / file.first, file.second)) return false;
    argv.push_back(file.first);
  }
  return RunTool(argv, staging);
}

bool CodeSigning::Sign(const fs::path& file, bool rogue) const {
  return SignAs(file, rogue ? "rogue" : "signer");
}

// The certificate is issued by "openssl ca", the one way this OpenSSL
// gives a certificate a validity that does not start now: it needs a
// configuration, a database and a serial file of its own.
bool CodeSigning::IssueCertificate(const std::string& name,
                                   const CertificateTraits& traits) const {
  const fs::path issuing = m_folder / "issuing";
  fs::create_directories(issuing);
  const fs::path config = issuing / "ca.cnf";
  if (!fs::exists(config) &&
      !(WriteBytes(issuing / "index.txt", "") &&
        WriteBytes(config,
                   "[ca]\ndefault_ca = test\n[test]\n"
                   "database = index.txt\nserial = serial\n"
                   "new_certs_dir = .\ndefault_md = sha256\n"
                   "policy = anything\ncopy_extensions = copy\n"
                   "unique_subject = no\n[anything]\n"
                   "commonName = supplied\n")))
    return false;
  const std::string key = (m_folder / (name + ".key")).string();
  const std::string request = (issuing / (name + ".csr")).string();
  std::vector<std::string> argv = {QX_OPENSSL_PATH, "req", "-new", "-sha256",
                                   "-key", key, "-subj",
                                   "/CN=qxhost " + name, "-out", request};
  const std::vector<std::string> extensions =
      traits.authority
          ? std::vector<std::string>{"-addext",
                                     "basicConstraints=critical,CA:TRUE",
                                     "-addext", "keyUsage=critical,keyCertSign"}
          : std::vector<std::string>{"-addext",
                                     "basicConstraints=critical,CA:FALSE",
                                     "-addext",
                                     "keyUsage=critical,digitalSignature"};
  argv.insert(argv.end(), extensions.begin(), extensions.end());
  if (!traits.extendedKeyUsage.empty())
    argv.insert(argv.end(),
                {"-addext", "extendedKeyUsage=" + traits.extendedKeyUsage});
  std::vector<std::string> issue = {
      QX_OPENSSL_PATH, "ca", "-batch", "-notext", "-create_serial",
      "-config", config.string(),
      "-cert", (m_folder / (traits.issuer + ".pem")).string(),
      "-keyfile", (m_folder / (traits.issuer + ".key")).string(),
      "-in", request, "-out", (m_folder / (name + ".pem")).string()};
  if (!traits.notBefore.empty())
    issue.insert(issue.end(), {"-startdate", traits.notBefore});
  if (!traits.notAfter.empty())
    issue.insert(issue.end(), {"-enddate", traits.notAfter});
  else
    issue.insert(issue.end(), {"-days", "3650"});
  return RunTool({QX_OPENSSL_PATH, "genpkey", "-algorithm", "EC", "-pkeyopt",
                  "ec_paramgen_curve:P-256", "-out", key},
                 m_folder) &&
         RunTool(argv, m_folder) && RunTool(issue, issuing);
}

bool CodeSigning::SignAs(const fs::path& file, const std::string& who) const {
  fs::path signed_file = file.string() + ".signed";
  if (!RunTool(
          {QX_OSSLSIGNCODE_PATH, "sign", "-certs",
           (m_folder / (who + ".pem")).string(), "-key",
           (m_folder / (who + ".key")).string(), "-h", "sha256", "-n",
           "qxhost test", "-in", file.string(), "-out", signed_file.string()},
          m_folder))
    return false;
  fs::rename(signed_file, file);
  return true;
}

bool RunTool(const std::vector<std::string>& argv, const fs::path& folder) {
  std::vector<char*> words;
  for (const std::string& word : argv)
    words.push_back(const_cast<char*>(word.c_str()));
  words.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  pid_t child = -1;
  int spawned = posix_spawn(&child, argv[0].c_str(), &actions, nullptr,
                            words.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    ADD_FAILURE() << "cannot run " << argv[0];
    return false;
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    ADD_FAILURE() << argv[0] << " " << argv[1] << " failed";
    return false;
  }
  return true;
}

std::string TreeListing(const fs::path& root) {
  std::error_code error;
  if (!fs::exists(root, error)) return "<none>";
  std::vector<std::string> lines;
  for (auto it = fs::recursive_directory_iterator(root, error);
       !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    std::string line = fs::relative(it->path(), root).string();
    if (it->is_regular_file())
      line += " " + std::to_string(it->file_size());
    else if (it->is_directory())
      line += "/";
    lines.push_back(line);
  }
  std::sort(lines.begin(), lines.end());
  std::ostringstream text;
  for (const std::string& line : lines) text << line << "\n";
  return text.str();
}

}  // namespace hosttest
