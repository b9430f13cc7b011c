// The install steps in the order a refusal costs least: the codebase is
// read and resolved, the cabinet read once into memory, copied into a fresh
// staging folder in the cache and its signature checked there; then the
// same bytes are unpacked, the INF read and checked against the object, the
// library's own signature and version checked; only then does the library
// move into its cache folder and register itself. A failed registration
// takes the library back out of the cache. From the staging folder's
// creation on the class is locked against other hosts' installs, and once
// it holds the lock a host looks again whether another has installed the
// class meanwhile: it then uses that install and touches nothing. Each
// step is recorded, so that a --timeout names it and removes the staging.
#include "tools/qxhost/install/page_install.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include <qxplatform/controls.h>

#include "tools/qxhost/install/authenticode_check.h"
#include "tools/qxhost/install/cabinet_reader.h"
#include "tools/qxhost/install/code_download_inf.h"
#include "tools/qxhost/install/codebase.h"
#include "tools/qxhost/install/file_version.h"
#include "tools/qxhost/install/inf_reader.h"
#include "tools/qxhost/install/install_cache.h"
#include "tools/qxhost/system/input_file.h"
#include "tools/qxhost/system/interrupted_work.h"
#include "tools/qxhost/system/posix_holders.h"
#include "tools/qxhost/system/server_registration.h"
#include "tools/qxhost/system/user_classes_override.h"
#include "tools/qxhost/text/argument_text.h"
#include "tools/qxhost/text/clsid_text.h"
#include "tools/qxhost/text/engine_text.h"
#include "tools/qxhost/text/status_text.h"

namespace qxhost {
namespace {

constexpr char kCabinetCopy[] = "/cabinet.cab";
constexpr char kTrustCopy[] = "/trust.pem";

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

// The cabinet's bytes, read once from the page's folder tree.
bool ReadCabinet(const InstallSettings& settings, const Codebase& codebase,
                 std::string* cabinet, std::string* why) {
  if (settings.pageFolder.empty()) {
    *why = "the page's folder cannot be found";
    return false;
  }
  std::string cabinetFile;
  return ResolveCodebase(settings.pageFolder, codebase.relativePath,
                         &cabinetFile, why) &&
         ReadInputFile(cabinetFile, cabinet, why);
}

// The certificates a signature must chain to, as a file, and how a refusal
// names them.
struct Trust {
  std::string caFile;
  std::string named;
};

// The --trust certificates, copied into the staging folder so that the
// checker reads what the host read; else the system's bundle.
bool ChooseTrust(const InstallSettings& settings, const StagingFolder& staging,
                 Trust* trust, std::string* why) {
  if (!settings.trustPem.empty()) {
    trust->named = "a --trust certificate";
    trust->caFile = staging.path() + kTrustCopy;
    return WriteNewFile(trust->caFile, settings.trustPem, why);
  }
  trust->named = "a certificate the system trusts (no --trust given)";
  trust->caFile = kSystemTrustBundle;
  if (access(trust->caFile.c_str(), R_OK) != 0) {
    *why = "no certificates are trusted to sign it (give --trust FILE.pem)";
    return false;
  }
  return true;
}

// Unpacks the cabinet into the staging folder and reads the one INF it
// holds; *names lists what it unpacked.
bool UnpackAndReadInf(const std::string& cabinet, const StagingFolder& staging,
                      std::vector<std::string>* names, InfFile* inf,
                      std::string* why) {
  std::string problem;
  if (!UnpackCabinet(cabinet, staging.files(), names, &problem)) {
    *why = "the cabinet is refused: " + problem;
    return false;
  }
  std::string infName;
  for (const std::string& name : *names) {
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
  if (!ReadInputFile(staging.files() + "/" + infName, &infText, why))
    return false;
  if (!inf->Parse(infText, &problem)) {
    *why = "its INF " + Quoted(infName) + " cannot be read: " + problem;
    return false;
  }
  return true;
}

// The library the INF names is in the cabinet (its name there, whatever
// its case, replaces the INF's), signed and trusted, and carries the
// version the INF states.
bool CheckLibrary(const std::vector<std::string>& names,
                  const StagingFolder& staging, const Trust& trust,
                  CodeDownload* download, std::string* why) {
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
  std::string library = staging.files() + "/" + stored;
  if (!SignatureTrusted(library, trust.caFile, trust.named,
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

// A staging folder, recorded for a stop to remove, and the class locked.
bool OpenStagingAndLock(const InstallSettings& settings, const CLSID& clsid,
                        StagingFolder* staging, std::string* why) {
  SetInterruptibleStep("while preparing the cache");
  if (!staging->Open(CacheFolder(settings.cacheFolder), why)) return false;
  SetInterruptibleFolder(staging->path());
  SetInterruptibleStep("while waiting for another install of the class");
  return staging->LockClass(GuidText(clsid), why);
}

// From the cabinet's bytes to a checked library in the staging folder.
bool StageAndCheck(const InstallSettings& settings, const CLSID& clsid,
                   const Codebase& codebase, const std::string& cabinet,
                   StagingFolder* staging, CodeDownload* download,
                   std::string* why) {
  Trust trust;
  if (!ChooseTrust(settings, *staging, &trust, why)) return false;
  // The signature is checked on a private copy of the very bytes that are
  // then unpacked: the page's folder may change meanwhile.
  std::string cabinetCopy = staging->path() + kCabinetCopy;
  SetInterruptibleStep("while checking the cabinet's signature");
  if (!WriteNewFile(cabinetCopy, cabinet, why) ||
      !SignatureTrusted(cabinetCopy, trust.caFile, trust.named, "the cabinet",
                        why))
    return false;
  std::vector<std::string> names;
  InfFile inf;
  SetInterruptibleStep("while unpacking the cabinet");
  if (!UnpackAndReadInf(cabinet, *staging, &names, &inf, why) ||
      !ReadCodeDownload(inf, clsid, codebase, download, why))
    return false;
  SetInterruptibleStep("while checking the library");
  return CheckLibrary(names, *staging, trust, download, why);
}

// An administrator installs for the machine; a user who may not
// write the machine's classes installs for itself: HKEY_CLASSES_ROOT is
// mapped onto the user's classes while the library registers, as
// regsvr32 --user does (the cache is the user's either way).
bool ChooseRegistrationScope(UserClassesOverride* userClasses,
                             std::string* why) {
  LSTATUS status = ERROR_SUCCESS;
  std::string where;
  const bool forMachine = MayWriteMachineClasses(&status, &where);
  if (status == ERROR_SUCCESS && !forMachine)
    status = userClasses->Apply(&where);
  if (status != ERROR_SUCCESS) {
    *why = where + " (" + StatusText(HRESULT_FROM_WIN32(status)) + ")";
    return false;
  }
  return true;
}

// Moves the checked library into its cache folder and has it register
// itself; a library that fails, or registers some other class, is taken
// back out.
bool CommitAndRegister(const CLSID& clsid, const CodeDownload& download,
                       StagingFolder* staging, std::string* why) {
  SetInterruptibleStep("while choosing where to register");
  UserClassesOverride userClasses;
  if (!ChooseRegistrationScope(&userClasses, why)) return false;
  std::string installed;
  std::string versionFolder = download.version.Text();
  for (char& c : versionFolder) {
    if (c == ',') c = '.';
  }
  SetInterruptibleStep("while moving the library into the cache");
  if (!staging->Commit(GuidText(clsid), versionFolder, &installed, why))
    return false;
  SetInterruptibleStep("while registering the library");
  std::string ansiLibrary;
  std::string library = installed + "/" + download.fileName;
  if (!ArgumentToAnsi(library, &ansiLibrary)) {
    staging->Withdraw();
    *why = NoAnsiForm(library);
    return false;
  }
  HRESULT status = S_OK;
  RegistrationStep step =
      CallServerRegistration(ansiLibrary, /*unregister=*/false, &status);
  if (step != RegistrationStep::kCalled || FAILED(status)) {
    staging->Withdraw();
    *why = "the library " + Quoted(download.fileName) +
           (step == RegistrationStep::kNotLoaded ? " cannot be loaded ("
            : step == RegistrationStep::kNoExport
                ? " has no DllRegisterServer ("
                : " failed to register itself (") +
           StatusText(status) + ")";
    // The loader's own words say what in the library it could not take.
    if (step == RegistrationStep::kNotLoaded)
      *why += ": " + qxplatform::LastLoadFailure();
    else if (const char* words = RegistryFailureWords(status))
      *why += ": " + std::string(words);
    return false;
  }
  std::string server;
  if (!RegisteredServerPath(clsid, &server)) {
    CallServerRegistration(ansiLibrary, /*unregister=*/true, &status);
    staging->Withdraw();
    *why = "the library " + Quoted(download.fileName) +
           " registered itself but not the object's class";
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
  InterruptibleWork work("the install of " + Quoted(*codebaseText));
  std::string cabinet;
  StagingFolder staging;
  CodeDownload download;
  if (readable) SetInterruptibleStep("while reading the cabinet");
  if (!readable || !ReadCabinet(settings, codebase, &cabinet, &problem) ||
      !OpenStagingAndLock(settings, clsid, &staging, &problem)) {
    *why = prefix + problem;
    return InstallOutcome::kRefused;
  }
  // Another host may have installed the class while this one waited.
  if (AlreadyInstalled(clsid, codebase)) return InstallOutcome::kNotNeeded;
  if (!StageAndCheck(settings, clsid, codebase, cabinet, &staging, &download,
                     &problem) ||
      !CommitAndRegister(clsid, download, &staging, &problem)) {
    *why = prefix + problem;
    return InstallOutcome::kRefused;
  }
  return InstallOutcome::kInstalled;
}

}  // namespace qxhost
