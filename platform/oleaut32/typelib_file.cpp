// A type library read from a file, without registering it: what LoadTypeLib
// reads, and what registration and the registry lookup read back.
//
// - A file that starts like a type library is the library.
// - Any other file is a module (PE DLL, or a native library with a resource
//   section): its TYPELIB resource 1 is the library.
// - "module\N", where the whole name is no existing file but the part before
//   the last backslash is, selects TYPELIB resource N.
// - "stdole2.tlb" without a directory, where the working directory has no
//   such file, is the platform's own stdole2 of this build's system kind, as
//   the real system finds it in its system directory.
//
// Statuses: no such file, a file that cannot be read, or a module without
// that resource TYPE_E_CANTLOADLIBRARY; a library in a format this runtime
// does not read (SLTG, another MSFT version, resource bytes that are no
// library) TYPE_E_UNSUPFORMAT; damaged library bytes TYPE_E_INVDATAREAD; a
// file larger than any type library E_OUTOFMEMORY.
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <new>
#include <vector>

#include "ascii_text.h"
#include "builtin_stdole2.h"
#include "module_resources.h"
#include "msft_reader.h"
#include "platform_internal.h"
#include "type_lib.h"
#include "typelib_internal.h"

namespace qxplatform {
namespace internal {
namespace {

constexpr char kStdole2FileName[] = "stdole2.tlb";
constexpr char kTypeLibResourceType[] = "TYPELIB";
constexpr long kMaxResourceId = 0xFFFF;
// Far beyond any real type library; a larger file is not read into memory.
constexpr off_t kMaxLibraryBytes = 64 * 1024 * 1024;
constexpr size_t kMagicBytes = 4;

bool IsRegularFile(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string AbsolutePath(const std::string& path) {
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) == nullptr) return path;
  return resolved;
}

// "module\N" with module an existing file: the module and N.
bool SplitResourceIndex(const std::string& path, std::string* module,
                        int* resource) {
  size_t slash = path.rfind('\\');
  if (slash == std::string::npos || slash + 1 == path.size()) return false;
  long value = 0;
  for (size_t i = slash + 1; i < path.size(); ++i) {
    if (path[i] < '0' || path[i] > '9') return false;
    value = value * 10 + (path[i] - '0');
    if (value > kMaxResourceId) return false;
  }
  if (value == 0 || !IsRegularFile(path.substr(0, slash))) return false;
  *module = path.substr(0, slash);
  *resource = static_cast<int>(value);
  return true;
}

HRESULT ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return TYPE_E_CANTLOADLIBRARY;
  struct stat info;
  HRESULT hr = S_OK;
  if (fstat(fileno(file), &info) != 0) {
    hr = TYPE_E_CANTLOADLIBRARY;
  } else if (info.st_size > kMaxLibraryBytes) {
    hr = E_OUTOFMEMORY;
  } else {
    bytes->resize(static_cast<size_t>(info.st_size));
    if (std::fread(bytes->data(), 1, bytes->size(), file) != bytes->size())
      hr = TYPE_E_CANTLOADLIBRARY;
  }
  std::fclose(file);
  return hr;
}

bool StartsLikeTypeLibrary(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  uint8_t magic[kMagicBytes] = {};
  size_t read = std::fread(magic, 1, sizeof(magic), file);
  std::fclose(file);
  return LooksLikeTypeLibrary(magic, read);
}

HRESULT LoadFromResource(const std::string& module, int resource,
                         TypeLib** lib) {
  std::vector<BYTE> bytes;
  DWORD error = ERROR_SUCCESS;
  if (!ReadFileResource(module, kTypeLibResourceType,
                        MAKEINTRESOURCEA(resource), &bytes, &error))
    return TYPE_E_CANTLOADLIBRARY;
  return LoadTypeLibFromBytes(bytes.data(), bytes.size(), lib);
}

}  // namespace

std::shared_ptr<const TypeLibModel> BuiltInStdole2(SYSKIND sysKind) {
  static const auto read = [](const uint8_t* bytes, size_t size) {
    std::shared_ptr<const TypeLibModel> parsed;
    if (FAILED(ReadMsftLibrary(bytes, size, &parsed))) parsed.reset();
    return parsed;
  };
  if (PointerSizeOf(sysKind) == PointerSizeOf(SYS_WIN64)) {
    static const std::shared_ptr<const TypeLibModel> win64 =
        read(kBuiltInStdole2Win64, kBuiltInStdole2Win64Size);
    return win64;
  }
  static const std::shared_ptr<const TypeLibModel> win32 =
      read(kBuiltInStdole2Win32, kBuiltInStdole2Win32Size);
  return win32;
}

HRESULT LoadTypeLibFromBytes(const uint8_t* data, size_t size, TypeLib** lib) {
  std::shared_ptr<const TypeLibModel> model;
  HRESULT hr = ReadMsftLibrary(data, size, &model);
  if (FAILED(hr)) return hr;
  return TypeLib::Create(std::move(model), lib);
}

HRESULT LoadTypeLibFromPath(const std::u16string& path, TypeLib** lib,
                            std::u16string* fullPath) {
  if (fullPath != nullptr) fullPath->clear();
  // By the platform's rule for file names, which reaches a file named on
  // another system through the ANSI code page.
  std::string file = WideFileName(path);
  if (file.empty()) return TYPE_E_CANTLOADLIBRARY;
  std::string suffix;
  HRESULT hr = S_OK;
  if (IsRegularFile(file)) {
    if (StartsLikeTypeLibrary(file)) {
      std::vector<uint8_t> bytes;
      hr = ReadWholeFile(file, &bytes);
      if (SUCCEEDED(hr))
        hr = LoadTypeLibFromBytes(bytes.data(), bytes.size(), lib);
    } else {
      hr = LoadFromResource(file, 1, lib);
    }
  } else {
    std::string module;
    int resource = 0;
    if (SplitResourceIndex(file, &module, &resource)) {
      hr = LoadFromResource(module, resource, lib);
      suffix = file.substr(module.size());
      file = module;
    } else if (EqualIgnoringAsciiCase(file, kStdole2FileName) &&
               BuiltInStdole2(kOwnSysKind) != nullptr) {
      return TypeLib::Create(BuiltInStdole2(kOwnSysKind), lib);
    } else {
      return TYPE_E_CANTLOADLIBRARY;
    }
  }
  if (SUCCEEDED(hr) && fullPath != nullptr)
    *fullPath = FileNameToWide(AbsolutePath(file) + suffix);
  return hr;
}

}  // namespace internal
}  // namespace qxplatform
