// The install steps in the order a refusal costs least: the codebase is
// read and resolved, the cabinet read once into memory, copied into a fresh
// staging folder in the cache and its signature checked there; then the
// same bytes are unpacked, the INF read and checked against the object, the
// library's own signature and version checked; only then does the library
// move into its cache folder and register itself. A failed registration
// takes the library back out of the cache.
#include "tools/qxhost/install/page_install.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "base/guid_compare.h"
#include "tools/qxhost/install/authenticode_check.h"
#include "tools/qxhost/install/cabinet_reader.h"
#include "tools/qxhost/install/codebase.h"
#include "tools/qxhost/install/file_version.h"
#include "tools/qxhost/install/inf_reader.h"
#include "tools/qxhost/install/install_cache.h"
#include "tools/qxhost/system/input_file.h"
#include "tools/qxhost/system/posix_holders.h"
#include "tools/qxhost/system/server_registration.h"
#include "tools/qxhost/text/argument_text.h"
#include "tools/qxhost/text/clsid_text.h"
#include "tools/qxhost/text/engine_text.h"
#include "tools/qxhost/text/status_text.h"

namespace qxhost {
namespace {

constexpr char kCabinetCopy[] = "/cabinet.cab";
constexpr char kTrustCopy[] = "/trust.pem";
constexpr char kThisCabinet[] = "thiscab";
const char* const kInfSignatures[] = {"$CHICAGO$", "$Windows NT$",
                                      "$Windows 95$"};

std::string Quoted(const std::string& text) {
  return "'" + QuotedEngineText(text) + "'";
}

bool EndsWithInf(const std::string& name) {
  return name.size() > 4 && SameInfName(name.substr(name.size() - 4), ".inf");
}

// A new file with exactly these bytes; false with *error otherwise.
bool WriteNewFile(const std::string& path, const std::string& bytes,
                  std::string* error) {
  UniqueFd file(
      open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!file) {
    *error = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t wrote = write(file.get(), bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      *error = "cannot write " + path + ": " + std::strerror(errno);
      return false;
    }
    done += static_cast<size_t>(wrote);
  }
  if (close(file.release()) != 0) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

// Why the signature check failed, about "the cabinet" or "the library ...",
// with the checker's own words on it.
bool SignatureTrusted(const std::string& file, const std::string& caFile,
                      const std::string& trusted, const std::string& what,
                      std::string* why) {
  std::string detail;
  SignatureCheck check = CheckSignature(file, caFile, &detail);
  switch (check) {
    case SignatureCheck::kVerified:
      return true;
    case SignatureCheck::kUnsigned:
      *why = what + " is not signed";
      break;
    case SignatureCheck::kChanged:
      *why = what + " was changed after it was signed";
      break;
    case SignatureCheck::kUntrusted:
      *why = what + "'s signature does not chain to " + trusted;
      break;
    case SignatureCheck::kNotRun:
      *why = what + "'s signature cannot be checked: " + detail;
      return false;
  }
  if (!detail.empty()) *why += " (" + QuotedEngineText(detail) + ")";
  return false;
}

// What the INF says about the object's library.
struct CodeDownload {
  std::string fileName;
  FileVersion version;
};

// The INF's [Add.Code] must list exactly one file, installed from this
// cabinet, for the object's class, at the page's version or later, which
// registers itself.
bool ReadCodeDownload(const InfFile& inf, const CLSID& clsid,
                      const Codebase& codebase, CodeDownload* download,
                      std::string* why) {
  const InfSection* version = inf.Section("version");
  std::string signature;
  bool knownSignature = false;
  if (version != nullptr && InfValue(*version, "signature", &signature)) {
    for (const char* known : kInfSignatures)
      knownSignature = knownSignature || SameInfName(signature, known);
  }
  if (!knownSignature) {
    *why = "its INF has no [version] signature=\"$CHICAGO$\"";
    return false;
  }
  const InfSection* addCode = inf.Section("Add.Code");
  if (addCode == nullptr || addCode->entries.empty()) {
    *why = "its INF lists no file in [Add.Code]";
    return false;
  }
  if (addCode->entries.size() > 1) {
    *why =
        "its INF lists more than one file in [Add.Code]; this host "
        "installs the object's library alone";
    return false;
  }
  const InfEntry& entry = addCode->entries[0];
  std::string fileName = entry.key.empty() ? entry.value : entry.key;
  std::string sectionName = entry.value.empty() ? entry.key : entry.value;
  const InfSection* section = inf.Section(sectionName);
  if (section == nullptr) {
    *why = "its INF has no section [" + QuotedEngineText(sectionName) + "]";
    return false;
  }
  std::string location;
  if (!InfValue(*section, "file-win32-x86", &location) ||
      !SameInfName(location, kThisCabinet)) {
    *why = "its INF does not take " + Quoted(fileName) +
           " from this cabinet (file-win32-x86=thiscab); this host never "
           "downloads";
    return false;
  }
  std::string classText;
  CLSID named = {};
  if (!InfValue(*section, "clsid", &classText) ||
      !ParseClsid(classText, &named)) {
    *why = "its INF names no class (clsid=) for " + Quoted(fileName);
    return false;
  }
  if (!IsSameGuid(named, clsid)) {
    *why = "its INF installs class " + GuidText(named) + ", not the object's " +
           GuidText(clsid);
    return false;
  }
  std::string versionText;
  if (!InfValue(*section, "FileVersion", &versionText) ||
      !ParseFileVersion(versionText, &download->version)) {
    *why = "its INF gives no FileVersion=a,b,c,d for " + Quoted(fileName);
    return false;
  }
  if (codebase.hasVersion &&
      download->version.Ordinal() < codebase.version.Ordinal()) {
    *why = "its INF installs version " + download->version.Text() +
           ", older than the page's " + codebase.version.Text();
    return false;
  }
  std::string registerServer;
  if (!InfValue(*section, "RegisterServer", &registerServer) ||
      !SameInfName(registerServer, "yes")) {
    *why = "its INF does not have " + Quoted(fileName) +
           " register itself (RegisterServer=yes)";
    return false;
  }
  download->fileName = fileName;
  return true;
}

// The class is registered to a file of at least the wanted version (any
// version when the codebase names none).
bool AlreadyInstalled(const CLSID& clsid, const Codebase& codebase) {
  std::string server;
  if (!RegisteredServerPath(clsid, &server)) return false;
  if (!codebase.hasVersion) return true;
  FileVersion registered;
  return ReadFileVersion(server, &registered) &&
         registered.Ordinal() >= codebase.version.Ordinal();
}

// From the codebase to a checked library in the staging folder.
bool StageAndCheck(const InstallSettings& settings, const CLSID& clsid,
                   const Codebase& codebase, StagingFolder* staging,
                   CodeDownload* download, std::string* why) {
  if (settings.pageFolder.empty()) {
    *why = "the page's folder cannot be found";
    return false;
  }
  std::string cabinetFile;
  if (!ResolveCodebase(settings.pageFolder, codebase.relativePath, &cabinetFile,
                       why))
    return false;
  std::string cabinet;
  if (!ReadInputFile(cabinetFile, &cabinet, why)) return false;

  if (!staging->Open(CacheFolder(settings.cacheFolder), why)) return false;
  std::string caFile = kSystemTrustBundle;
  std::string trusted = "a certificate the system trusts (no --trust given)";
  if (!settings.trustPem.empty()) {
    trusted = "a --trust certificate";
    caFile = staging->path() + kTrustCopy;
    if (!WriteNewFile(caFile, settings.trustPem, why)) return false;
  } else if (access(caFile.c_str(), R_OK) != 0) {
    *why = "no certificates are trusted to sign it (give --trust FILE.pem)";
    return false;
  }
  // The signature is checked on a private copy of the very bytes that are
  // then unpacked: the page's folder may change meanwhile.
  std::string cabinetCopy = staging->path() + kCabinetCopy;
  if (!WriteNewFile(cabinetCopy, cabinet, why)) return false;
  if (!SignatureTrusted(cabinetCopy, caFile, trusted, "the cabinet", why))
    return false;

  std::vector<std::string> names;
  std::string problem;
  if (!UnpackCabinet(cabinet, staging->files(), &names, &problem)) {
    *why = "the cabinet is refused: " + problem;
    return false;
  }
  std::string infName;
  for (const std::string& name : names) {
    if (!EndsWithInf(name)) continue;
    if (!infName.empty()) {
      *why = "the cabinet holds more than one INF";
      return false;
    }
    infName = name;
  }
  if (infName.empty()) {
    *why = "the cabinet holds no INF";
    return false;
  }
  std::string infText;
  if (!ReadInputFile(staging->files() + "/" + infName, &infText, why))
    return false;
  InfFile inf;
  if (!inf.Parse(infText, &problem)) {
    *why = "its INF " + Quoted(infName) + " cannot be read: " + problem;
    return false;
  }
  if (!ReadCodeDownload(inf, clsid, codebase, download, why)) return false;
  std::string stored;
  for (const std::string& name : names) {
    if (SameInfName(name, download->fileName)) stored = name;
  }
  if (stored.empty() || EndsWithInf(stored)) {
    *why = "the cabinet does not hold the library its INF names, " +
           Quoted(download->fileName);
    return false;
  }
  download->fileName = stored;
  std::string library = staging->files() + "/" + stored;
  if (!SignatureTrusted(library, caFile, trusted,
                        "the library " + Quoted(stored), why))
    return false;
  std::string ansiLibrary;
  FileVersion carried;
  if (!ArgumentToAnsi(library, &ansiLibrary) ||
      !ReadFileVersion(ansiLibrary, &carried)) {
    *why = "the library " + Quoted(stored) + " carries no version";
    return false;
  }
  if (carried.Ordinal() != download->version.Ordinal()) {
    *why = "the library " + Quoted(stored) + " is version " + carried.Text() +
           ", not the INF's " + download->version.Text();
    return false;
  }
  return true;
}

}  // namespace

InstallOutcome InstallIfNeeded(const InstallSettings& settings,
                               const std::string* codebaseText,
                               const CLSID& clsid, std::string* why) {
  if (codebaseText == nullptr) return InstallOutcome::kNotNeeded;
  Codebase codebase;
  std::string problem;
  bool readable = ParseCodebase(*codebaseText, &codebase, &problem);
  // A class installed at the version asked for needs nothing from the
  // codebase, whatever it says.
  if (AlreadyInstalled(clsid, codebase)) return InstallOutcome::kNotNeeded;
  const std::string prefix =
      "not installed from codebase " + Quoted(*codebaseText) + ": ";
  if (!readable) {
    *why = prefix + problem;
    return InstallOutcome::kRefused;
  }
  StagingFolder staging;
  CodeDownload download;
  if (!StageAndCheck(settings, clsid, codebase, &staging, &download,
                     &problem)) {
    *why = prefix + problem;
    return InstallOutcome::kRefused;
  }
  std::string installed;
  std::string versionFolder = download.version.Text();
  for (char& c : versionFolder) {
    if (c == ',') c = '.';
  }
  if (!staging.Commit(GuidText(clsid), versionFolder, &installed, &problem)) {
    *why = prefix + problem;
    return InstallOutcome::kRefused;
  }
  std::string ansiLibrary;
  std::string library = installed + "/" + download.fileName;
  if (!ArgumentToAnsi(library, &ansiLibrary)) {
    staging.Withdraw();
    *why = prefix + NoAnsiForm(library);
    return InstallOutcome::kRefused;
  }
  HRESULT status = S_OK;
  RegistrationStep step =
      CallServerRegistration(ansiLibrary, /*unregister=*/false, &status);
  if (step != RegistrationStep::kCalled || FAILED(status)) {
    staging.Withdraw();
    *why = prefix + "the library " + Quoted(download.fileName) +
           (step == RegistrationStep::kNotLoaded ? " cannot be loaded ("
            : step == RegistrationStep::kNoExport
                ? " has no DllRegisterServer ("
                : " failed to register itself (") +
           StatusText(status) + ")";
    return InstallOutcome::kRefused;
  }
  std::string server;
  if (!RegisteredServerPath(clsid, &server)) {
    CallServerRegistration(ansiLibrary, /*unregister=*/true, &status);
    staging.Withdraw();
    *why = prefix + "the library " + Quoted(download.fileName) +
           " registered itself but not the object's class";
    return InstallOutcome::kRefused;
  }
  return InstallOutcome::kInstalled;
}

}  // namespace qxhost
