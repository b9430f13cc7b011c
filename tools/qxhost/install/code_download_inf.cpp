// The INF is read in the order of its sections: the [version] signature,
// the one file [Add.Code] lists, then that file's own section.
#include "tools/qxhost/install/code_download_inf.h"

#include "base/guid_compare.h"
#include "tools/qxhost/text/clsid_text.h"
#include "tools/qxhost/text/engine_text.h"

namespace qxhost {
namespace {

constexpr char kThisCabinet[] = "thiscab";
const char* const kInfSignatures[] = {"$CHICAGO$", "$Windows NT$",
                                      "$Windows 95$"};

std::string Quoted(const std::string& text) {
  return "'" + QuotedEngineText(text) + "'";
}

bool HasKnownSignature(const InfFile& inf) {
  const InfSection* version = inf.Section("version");
  std::string signature;
  if (version == nullptr || !InfValue(*version, "signature", &signature))
    return false;
  for (const char* known : kInfSignatures) {
    if (SameInfName(signature, known)) return true;
  }
  return false;
}

// The one file [Add.Code] lists ("file=section", or either alone) and the
// section that describes it.
bool TheOneFile(const InfFile& inf, std::string* fileName,
                const InfSection** section, std::string* why) {
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
  *fileName = entry.key.empty() ? entry.value : entry.key;
  std::string sectionName = entry.value.empty() ? entry.key : entry.value;
  *section = inf.Section(sectionName);
  if (*section == nullptr) {
    *why = "its INF has no section [" + QuotedEngineText(sectionName) + "]";
    return false;
  }
  return true;
}

// The file comes from this cabinet, for the object's class.
bool IsTheObjectsFile(const InfSection& section, const std::string& fileName,
                      const CLSID& clsid, std::string* why) {
  std::string location;
  if (!InfValue(section, "file-win32-x86", &location) ||
      !SameInfName(location, kThisCabinet)) {
    *why = "its INF does not take " + Quoted(fileName) +
           " from this cabinet (file-win32-x86=thiscab); this host never "
           "downloads";
    return false;
  }
  std::string classText;
  CLSID named = {};
  if (!InfValue(section, "clsid", &classText) ||
      !ParseClsid(classText, &named)) {
    *why = "its INF names no class (clsid=) for " + Quoted(fileName);
    return false;
  }
  if (!IsSameGuid(named, clsid)) {
    *why = "its INF installs class " + GuidText(named) + ", not the object's " +
           GuidText(clsid);
    return false;
  }
  return true;
}

// The file's version is no older than the page asks, and it registers
// itself.
bool IsInstallableVersion(const InfSection& section,
                          const std::string& fileName, const Codebase& codebase,
                          FileVersion* version, std::string* why) {
  std::string versionText;
  if (!InfValue(section, "FileVersion", &versionText) ||
      !ParseFileVersion(versionText, version)) {
    *why = "its INF gives no FileVersion=a,b,c,d for " + Quoted(fileName);
    return false;
  }
  if (codebase.hasVersion && version->Ordinal() < codebase.version.Ordinal()) {
    *why = "its INF installs version " + version->Text() +
           ", older than the page's " + codebase.version.Text();
    return false;
  }
  std::string registerServer;
  if (!InfValue(section, "RegisterServer", &registerServer) ||
      !SameInfName(registerServer, "yes")) {
    *why = "its INF does not have " + Quoted(fileName) +
           " register itself (RegisterServer=yes)";
    return false;
  }
  return true;
}

}  // namespace

bool ReadCodeDownload(const InfFile& inf, const CLSID& clsid,
                      const Codebase& codebase, CodeDownload* download,
                      std::string* why) {
  if (!HasKnownSignature(inf)) {
    *why = "its INF has no [version] signature=\"$CHICAGO$\"";
    return false;
  }
  std::string fileName;
  const InfSection* section = nullptr;
  if (!TheOneFile(inf, &fileName, &section, why) ||
      !IsTheObjectsFile(*section, fileName, clsid, why) ||
      !IsInstallableVersion(*section, fileName, codebase, &download->version,
                            why))
    return false;
  download->fileName = fileName;
  return true;
}

}  // namespace qxhost
