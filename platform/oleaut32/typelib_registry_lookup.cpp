// LoadRegTypeLib and QueryPathOfRegTypeLib: a library by LIBID, version
// and locale, through HKEY_CLASSES_ROOT\TypeLib\{LIBID}\MAJ.MIN\LCID\PLATFORM.
//
// Version (MAJ and MIN in hexadecimal): the registered version equal to the
// one asked for; failing that, within the same major version the greatest
// minor version above the one asked for. Nothing else answers.
// Locale (LCID in hexadecimal): the locale asked for; then its primary
// language (sublanguage neutral); then LANG_NEUTRAL (0).
// Platform: the key of the system kind wanted first, then the other: for
// LoadRegTypeLib and QueryPathOfRegTypeLib the kind of this process (win64
// in a 64-bit build, win32 in a 32-bit one), for an import the kind of the
// importing library, whose vtable offsets count in its own pointer size.
// Any step that finds nothing: TYPE_E_LIBNOTREGISTERED. A registered path
// that does not load fails with LoadTypeLib's status.
//
// The platform's stdole2 stands behind the registry, in both system kinds,
// as the real system registers one of each: where the registry has no
// stdole2 2.x that loads and was made for the pointer size wanted,
// LoadRegTypeLib (and every import of it) gets the built-in one of that
// kind, so that IUnknown's and IDispatch's slots sit where the importer's
// own slots after them do. QueryPathOfRegTypeLib reports only what is
// registered.
#include <oleauto.h>

#include <cstdio>

#include "ascii_text.h"
#include "type_lib.h"
#include "typelib_internal.h"
#include "typelib_registry.h"

namespace qxplatform {
namespace internal {
namespace {

const GUID kStdole2Libid = {0x00020430,
                            0x0000,
                            0x0000,
                            {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

constexpr LCID kLangNeutral = 0;
constexpr LCID kPrimaryLanguageMask = 0x3FF;
constexpr LCID kLanguageMask = 0xFFFF;

// The platform keys to look under, the one of kind sysKind first.
struct PlatformSearch {
  const char* keys[2];
};
PlatformSearch PlatformsFor(SYSKIND sysKind) {
  if (PointerSizeOf(sysKind) == PointerSizeOf(SYS_WIN64))
    return {{"win64", "win32"}};
  return {{"win32", "win64"}};
}

bool ParseHexWord(const std::string& text, WORD* value) {
  if (text.empty() || text.size() > 4) return false;
  unsigned parsed = 0;
  for (char c : text) {
    const int digit = HexDigitValue(c);
    if (digit < 0) return false;
    parsed = parsed * 16 + static_cast<unsigned>(digit);
  }
  *value = static_cast<WORD>(parsed);
  return true;
}

std::string Hex(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof(text), "%x", value);
  return text;
}

// The registered version key (MAJ.MIN) that answers for major.minor.
bool FindVersion(const std::string& libraryKey, WORD major, WORD minor,
                 std::string* version) {
  bool found = false;
  WORD bestMinor = 0;
  for (const std::string& name : ClassesSubkeys(libraryKey)) {
    size_t dot = name.find('.');
    WORD keyMajor = 0;
    WORD keyMinor = 0;
    if (dot == std::string::npos ||
        !ParseHexWord(name.substr(0, dot), &keyMajor) ||
        !ParseHexWord(name.substr(dot + 1), &keyMinor) || keyMajor != major)
      continue;
    if (keyMinor == minor) {
      *version = name;
      return true;
    }
    if (keyMinor > minor && (!found || keyMinor > bestMinor)) {
      *version = name;
      bestMinor = keyMinor;
      found = true;
    }
  }
  return found;
}

}  // namespace

HRESULT FindRegisteredTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid,
                              SYSKIND sysKind, std::u16string* path) {
  const std::string libraryKey = "TypeLib\\" + GuidText(libid);
  std::string version;
  if (!FindVersion(libraryKey, major, minor, &version))
    return TYPE_E_LIBNOTREGISTERED;
  const PlatformSearch platforms = PlatformsFor(sysKind);
  const LCID language = lcid & kLanguageMask;
  const LCID locales[] = {language, language & kPrimaryLanguageMask,
                          kLangNeutral};
  for (size_t i = 0; i < sizeof(locales) / sizeof(locales[0]); ++i) {
    if (i > 0 && locales[i] == locales[i - 1]) continue;
    for (const char* platform : platforms.keys) {
      const std::string key = libraryKey + "\\" + version + "\\" +
                              Hex(locales[i]) + "\\" + platform;
      if (ReadClassesText(key, /*valueName=*/nullptr, path) && !path->empty())
        return S_OK;
    }
  }
  return TYPE_E_LIBNOTREGISTERED;
}

HRESULT LoadRegisteredTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid,
                              SYSKIND sysKind, TypeLib** lib) {
  std::u16string path;
  HRESULT hr = FindRegisteredTypeLib(libid, major, minor, lcid, sysKind, &path);
  if (SUCCEEDED(hr)) hr = LoadTypeLibFromPath(path, lib, /*fullPath=*/nullptr);
  if (libid != kStdole2Libid) return hr;
  if (SUCCEEDED(hr) &&
      PointerSizeOf((*lib)->model().sysKind) == PointerSizeOf(sysKind))
    return hr;
  std::shared_ptr<const TypeLibModel> builtIn = BuiltInStdole2(sysKind);
  if (builtIn == nullptr || builtIn->majorVersion != major ||
      builtIn->minorVersion < minor)
    return hr;
  // A registered stdole2 of the other pointer size gives way: its slots
  // would not line up with the importer's.
  if (SUCCEEDED(hr)) {
    (*lib)->Release();
    *lib = nullptr;
  }
  return TypeLib::Create(std::move(builtIn), lib);
}

}  // namespace internal
}  // namespace qxplatform

HRESULT WINAPI LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor,
                              LCID lcid, ITypeLib** pptlib) {
  qxplatform::internal::CountRegisteredTypeLibLoad();
  if (pptlib == nullptr) return E_INVALIDARG;
  *pptlib = nullptr;
  qxplatform::internal::TypeLib* lib = nullptr;
  HRESULT hr = qxplatform::internal::LoadRegisteredTypeLib(
      rguid, wVerMajor, wVerMinor, lcid, qxplatform::internal::kOwnSysKind,
      &lib);
  if (SUCCEEDED(hr)) *pptlib = lib;
  return hr;
}

HRESULT WINAPI QueryPathOfRegTypeLib(REFGUID guid, USHORT wMaj, USHORT wMin,
                                     LCID lcid, LPBSTR lpbstrPathName) {
  if (lpbstrPathName == nullptr) return E_INVALIDARG;
  *lpbstrPathName = nullptr;
  std::u16string path;
  HRESULT hr = qxplatform::internal::FindRegisteredTypeLib(
      guid, wMaj, wMin, lcid, qxplatform::internal::kOwnSysKind, &path);
  if (FAILED(hr)) return hr;
  *lpbstrPathName =
      SysAllocStringLen(path.data(), static_cast<UINT>(path.size()));
  return *lpbstrPathName == nullptr ? E_OUTOFMEMORY : S_OK;
}
