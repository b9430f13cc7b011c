// RegisterTypeLib and UnRegisterTypeLib. Under HKEY_CLASSES_ROOT:
//
//   TypeLib\{LIBID}\MAJ.MIN              = help string, else the name
//   TypeLib\{LIBID}\MAJ.MIN\FLAGS        = LIBFLAGS in decimal
//   TypeLib\{LIBID}\MAJ.MIN\LCID\PLATFORM = the full path given
//   TypeLib\{LIBID}\MAJ.MIN\HELPDIR      = the help directory given ("" for
//                                          none)
//   Interface\{IID}                      = the interface's name, for every
//       dispatch interface and every dual or oleautomation interface:
//     ProxyStubClsid, ProxyStubClsid32   = the automation marshaler
//       {00020424-...} for dual and oleautomation interfaces, the dispatch
//       marshaler {00020420-...} for plain dispatch interfaces
//     TypeLib                            = {LIBID}, value Version = MAJ.MIN
//
// MAJ, MIN and LCID are hexadecimal; PLATFORM is win16, win32, mac or
// win64 after the library's SYSKIND. A registry write that fails gives
// TYPE_E_REGISTRYACCESS.
//
// Unregistering removes LCID\PLATFORM (and LCID once empty); when no locale
// is left under MAJ.MIN, the version key with FLAGS and HELPDIR goes, and
// the LIBID key once empty. Interface keys go only where their TypeLib key
// names this library and version; they are found by loading the registered
// library, and stay when it no longer loads. A library not registered for
// that version, locale and platform gives TYPE_E_REGISTRYACCESS.
#include <oleauto.h>

#include <cstdio>
#include <string>

#include "ascii_text.h"
#include "type_lib.h"
#include "typelib_internal.h"
#include "typelib_registry.h"

namespace qxplatform {
namespace internal {
namespace {

constexpr char kAutomationMarshaler[] =
    "{00020424-0000-0000-C000-000000000046}";
constexpr char kDispatchMarshaler[] = "{00020420-0000-0000-C000-000000000046}";
constexpr char kFlagsKey[] = "FLAGS";
constexpr char kHelpDirKey[] = "HELPDIR";
constexpr char kVersionValue[] = "Version";

std::u16string Text(const std::string& ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

std::string Hex(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof(text), "%x", value);
  return text;
}

std::string VersionText(WORD major, WORD minor) {
  return Hex(major) + "." + Hex(minor);
}

const char* PlatformName(SYSKIND sysKind) {
  switch (sysKind) {
    case SYS_WIN16:
      return "win16";
    case SYS_WIN32:
      return "win32";
    case SYS_MAC:
      return "mac";
    case SYS_WIN64:
      return "win64";
  }
  return nullptr;
}

// The marshaler an interface is registered with, or null for a type that
// gets no Interface key.
const char* MarshalerOf(const TYPEATTR& attr) {
  if (attr.wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION)) {
    if (attr.typekind == TKIND_DISPATCH || attr.typekind == TKIND_INTERFACE)
      return kAutomationMarshaler;
  }
  return attr.typekind == TKIND_DISPATCH ? kDispatchMarshaler : nullptr;
}

struct InterfaceEntry {
  GUID iid;
  std::u16string name;
  const char* marshaler;
};

// The interfaces of a library that registration writes keys for.
HRESULT RegisteredInterfaces(ITypeLib* lib,
                             std::vector<InterfaceEntry>* entries) {
  UINT count = lib->GetTypeInfoCount();
  for (UINT i = 0; i < count; ++i) {
    ITypeInfo* info = nullptr;
    HRESULT hr = lib->GetTypeInfo(i, &info);
    TYPEATTR* attr = nullptr;
    if (SUCCEEDED(hr)) hr = info->GetTypeAttr(&attr);
    BSTR name = nullptr;
    if (SUCCEEDED(hr) && MarshalerOf(*attr) != nullptr) {
      hr = info->GetDocumentation(MEMBERID_NIL, &name,
                                  /*pBstrDocString=*/nullptr,
                                  /*pdwHelpContext=*/nullptr,
                                  /*pBstrHelpFile=*/nullptr);
      if (SUCCEEDED(hr))
        entries->push_back({attr->guid,
                            std::u16string(name, SysStringLen(name)),
                            MarshalerOf(*attr)});
    }
    SysFreeString(name);
    if (attr != nullptr) info->ReleaseTypeAttr(attr);
    if (info != nullptr) info->Release();
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT Write(const std::string& path, const char* valueName,
              const std::u16string& text) {
  return WriteClassesText(path, valueName, text) == ERROR_SUCCESS
             ? S_OK
             : TYPE_E_REGISTRYACCESS;
}

}  // namespace
}  // namespace internal
}  // namespace qxplatform

using namespace qxplatform::internal;

HRESULT WINAPI RegisterTypeLib(ITypeLib* ptlib, LPCOLESTR szFullPath,
                               LPCOLESTR szHelpDir) {
  if (ptlib == nullptr || szFullPath == nullptr) return E_INVALIDARG;
  TLIBATTR* attr = nullptr;
  HRESULT hr = ptlib->GetLibAttr(&attr);
  if (FAILED(hr)) return hr;
  const TLIBATTR lib = *attr;
  ptlib->ReleaseTLibAttr(attr);
  const char* platform = PlatformName(lib.syskind);
  if (platform == nullptr) return TYPE_E_INVDATAREAD;

  BSTR name = nullptr;
  BSTR helpString = nullptr;
  hr = ptlib->GetDocumentation(-1, &name, &helpString,
                               /*pdwHelpContext=*/nullptr,
                               /*pBstrHelpFile=*/nullptr);
  if (FAILED(hr)) return hr;
  BSTR title = SysStringLen(helpString) != 0 ? helpString : name;
  const std::u16string description(title == nullptr ? u"" : title,
                                   SysStringLen(title));
  SysFreeString(name);
  SysFreeString(helpString);

  std::vector<InterfaceEntry> interfaces;
  hr = RegisteredInterfaces(ptlib, &interfaces);
  if (FAILED(hr)) return hr;

  const std::string libid = GuidText(lib.guid);
  const std::string version = VersionText(lib.wMajorVerNum, lib.wMinorVerNum);
  const std::string versionKey = "TypeLib\\" + libid + "\\" + version;
  hr = Write(versionKey, nullptr, description);
  if (SUCCEEDED(hr))
    hr = Write(versionKey + "\\" + kFlagsKey, nullptr,
               Text(std::to_string(lib.wLibFlags)));
  if (SUCCEEDED(hr))
    hr = Write(versionKey + "\\" + Hex(lib.lcid) + "\\" + platform, nullptr,
               szFullPath);
  if (SUCCEEDED(hr))
    hr = Write(versionKey + "\\" + kHelpDirKey, nullptr,
               szHelpDir == nullptr ? u"" : szHelpDir);
  for (const InterfaceEntry& entry : interfaces) {
    if (FAILED(hr)) break;
    const std::string key = "Interface\\" + GuidText(entry.iid);
    hr = Write(key, nullptr, entry.name);
    if (SUCCEEDED(hr))
      hr = Write(key + "\\ProxyStubClsid", nullptr, Text(entry.marshaler));
    if (SUCCEEDED(hr))
      hr = Write(key + "\\ProxyStubClsid32", nullptr, Text(entry.marshaler));
    if (SUCCEEDED(hr)) hr = Write(key + "\\TypeLib", nullptr, Text(libid));
    if (SUCCEEDED(hr))
      hr = Write(key + "\\TypeLib", kVersionValue, Text(version));
  }
  return hr;
}

HRESULT WINAPI UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor,
                                 LCID lcid, SYSKIND syskind) {
  const char* platform = PlatformName(syskind);
  if (platform == nullptr) return E_INVALIDARG;
  const std::string libid = GuidText(libID);
  const std::string version = VersionText(wVerMajor, wVerMinor);
  const std::string libraryKey = "TypeLib\\" + libid;
  const std::string versionKey = libraryKey + "\\" + version;
  const std::string localeKey = versionKey + "\\" + Hex(lcid);
  const std::string platformKey = localeKey + "\\" + platform;
  std::u16string path;
  if (!ReadClassesText(platformKey, /*valueName=*/nullptr, &path))
    return TYPE_E_REGISTRYACCESS;

  TypeLib* lib = nullptr;
  std::vector<InterfaceEntry> interfaces;
  if (SUCCEEDED(LoadTypeLibFromPath(path, &lib, /*fullPath=*/nullptr))) {
    RegisteredInterfaces(lib, &interfaces);
    lib->Release();
  }
  for (const InterfaceEntry& entry : interfaces) {
    const std::string key = "Interface\\" + GuidText(entry.iid);
    std::u16string owner;
    std::u16string ownerVersion;
    if (!ReadClassesText(key + "\\TypeLib", nullptr, &owner) ||
        !SameName(owner, Text(libid).c_str()))
      continue;
    if (ReadClassesText(key + "\\TypeLib", kVersionValue, &ownerVersion) &&
        !SameName(ownerVersion, Text(version).c_str()))
      continue;
    if (DeleteClassesTree(key) != ERROR_SUCCESS) return TYPE_E_REGISTRYACCESS;
  }

  if (DeleteClassesTree(platformKey) != ERROR_SUCCESS)
    return TYPE_E_REGISTRYACCESS;
  if (ClassesKeyIsEmpty(localeKey) &&
      DeleteClassesTree(localeKey) != ERROR_SUCCESS)
    return TYPE_E_REGISTRYACCESS;
  for (const std::string& name : ClassesSubkeys(versionKey)) {
    if (!EqualIgnoringAsciiCase(name, kFlagsKey) &&
        !EqualIgnoringAsciiCase(name, kHelpDirKey))
      return S_OK;  // other locales stay registered
  }
  if (DeleteClassesTree(versionKey) != ERROR_SUCCESS)
    return TYPE_E_REGISTRYACCESS;
  if (ClassesKeyIsEmpty(libraryKey) &&
      DeleteClassesTree(libraryKey) != ERROR_SUCCESS)
    return TYPE_E_REGISTRYACCESS;
  return S_OK;
}
