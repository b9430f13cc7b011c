// What the platform offers a Windows image in place of the system libraries
// it imports: for each library the platform stands in for (kernel32,
// advapi32, ole32, oleaut32, shell32, user32, and msvcrt for the C runtime
// that mingw's start-up code imports), a table of the functions and data a
// PE import may name, bound to the platform's own.
//
// Each table lives in its library's folder (pe_exports.cpp) and is written
// with QX_SYSTEM_EXPORT alone, so that the calling convention and the bytes
// a stdcall function pops follow from the function's declared type: a
// function declared with the wrong convention or arguments shows up as a
// mismatch with the system library's own export, never as a crash inside a
// Windows image.
#pragma once
#include <windef.h>

#include <stddef.h>
#include <stdint.h>

#include <string_view>
#include <type_traits>

namespace qxplatform {
namespace internal {

enum class ExportKind : uint8_t { kStdcall, kCdecl, kData };

struct SystemExport {
  const char* name;
  const void* address;
  WORD ordinal;        // 0: none known
  WORD argumentBytes;  // bytes the callee pops: stdcall only, 0 otherwise
  ExportKind kind;
};

struct SystemExportTable {
  const char* library;  // lower case, without ".dll": "kernel32"
  const SystemExport* entries;
  size_t count;
};

// The tables of every library the platform stands in for.
struct SystemExportTables {
  const SystemExportTable* const* tables;
  size_t count;
  const SystemExportTable* const* begin() const { return tables; }
  const SystemExportTable* const* end() const { return tables + count; }
};

// Tests reach these through the shared library; nothing else outside the
// platform includes this header.
#define QX_PE_EXPORTS_API __attribute__((visibility("default")))

// The library an import names ("KERNEL32.dll", "kernel32", in any case,
// with or without ".dll"); null when the platform does not stand in for it.
QX_PE_EXPORTS_API const SystemExportTable* FindSystemLibrary(
    std::string_view library);

// By name (exact, as the loader matches import names) or, when name is null,
// by ordinal. Null when the table has no such export.
QX_PE_EXPORTS_API const SystemExport* FindSystemExport(
    const SystemExportTable& table, const char* name, WORD ordinal);

QX_PE_EXPORTS_API SystemExportTables AllSystemLibraries();

// The tables themselves, one per library folder.
extern const SystemExportTable kKernel32Exports;
extern const SystemExportTable kAdvapi32Exports;
extern const SystemExportTable kOle32Exports;
extern const SystemExportTable kOleaut32Exports;
extern const SystemExportTable kShell32Exports;
extern const SystemExportTable kUser32Exports;
extern const SystemExportTable kMsvcrtExports;

// ---- what a declared type says about an export ---------------------------
// Arguments go on the stack in 4-byte slots on 32-bit x86; a reference is
// passed as a pointer.
template <class Argument>
constexpr size_t StackSlotBytes() {
  constexpr size_t size =
      std::is_reference_v<Argument> ? sizeof(void*) : sizeof(Argument);
  return (size + 3) & ~size_t{3};
}

template <class... Arguments>
constexpr WORD StackBytes() {
  return static_cast<WORD>((size_t{0} + ... + StackSlotBytes<Arguments>()));
}

// Objects are data exports. A function type that matches none of the
// forms below has a convention the loader cannot bind.
template <class Type>
struct ExportTraits {
  static_assert(!std::is_function_v<Type>,
                "a system export has a calling convention other than "
                "stdcall or cdecl");
  static constexpr ExportKind kKind = ExportKind::kData;
  static constexpr WORD kArgumentBytes = 0;
};

// Plain functions are cdecl: the caller pops.
template <class R, class... A>
struct ExportTraits<R(A...)> {
  static constexpr ExportKind kKind = ExportKind::kCdecl;
  static constexpr WORD kArgumentBytes = 0;
};
template <class R, class... A>
struct ExportTraits<R(A...) noexcept> : ExportTraits<R(A...)> {};
template <class R, class... A>
struct ExportTraits<R(A..., ...)> : ExportTraits<R(A...)> {};
template <class R, class... A>
struct ExportTraits<R(A..., ...) noexcept> : ExportTraits<R(A...)> {};

// On 32-bit x86 the convention belongs to the function type. On x86-64 there
// is only one convention, every function is a plain one, and the attribute
// does not exist.
#if defined(__i386__)
template <class R, class... A>
struct ExportTraits<R __attribute__((stdcall)) (A...)> {
  static constexpr ExportKind kKind = ExportKind::kStdcall;
  static constexpr WORD kArgumentBytes = StackBytes<A...>();
};
template <class R, class... A>
struct ExportTraits<R __attribute__((stdcall)) (A...) noexcept>
    : ExportTraits<R __attribute__((stdcall)) (A...)> {};
#endif

constexpr WORD ExportOrdinal() { return 0; }
constexpr WORD ExportOrdinal(WORD ordinal) { return ordinal; }

}  // namespace internal
}  // namespace qxplatform

// One entry of a table: QX_SYSTEM_EXPORT(Function) or, where the system
// library's ordinal is known, QX_SYSTEM_EXPORT(Function, ordinal). The name
// the import uses is the identifier's.
// clang-format off
#define QX_SYSTEM_EXPORT(symbol, ...)                                         \
  ::qxplatform::internal::SystemExport{                                       \
      #symbol,                                                                \
      reinterpret_cast<const void*>(&symbol),                                 \
      ::qxplatform::internal::ExportOrdinal(__VA_ARGS__),                     \
      ::qxplatform::internal::ExportTraits<decltype(symbol)>::kArgumentBytes, \
      ::qxplatform::internal::ExportTraits<decltype(symbol)>::kKind}
// clang-format on

// A table over an array of entries, named as the import names the library.
#define QX_SYSTEM_EXPORT_TABLE(table, libraryName, entryArray) \
  const ::qxplatform::internal::SystemExportTable table = {    \
      libraryName, entryArray, sizeof(entryArray) / sizeof(entryArray[0])}
