// The calling conventions of what a Windows image and the platform call of
// each other, held to Windows's on 32-bit x86: the system functions and COM
// methods pop their own arguments (stdcall), the variadic ones do not
// (cdecl). A method or function declared with the wrong one builds and even
// runs until the stack has drifted far enough; here the build fails first.
// The other direction, the image's calls into the platform, is checked at
// run time by the loader's checked import stubs.
#include <windows.h>
#include <oaidl.h>
#include <objbase.h>
#include <objsafe.h>

#include <type_traits>

#if defined(__i386__)

namespace {

#define QX_STDCALL __attribute__((stdcall))

// The macros every declaration goes through.
static_assert(std::is_same_v<decltype(&GetLastError), DWORD(QX_STDCALL*)()>,
              "WINAPI must be stdcall");
static_assert(
    std::is_same_v<decltype(&CoTaskMemAlloc), LPVOID(QX_STDCALL*)(SIZE_T)>,
    "STDAPI functions must be stdcall");

// The interfaces the platform calls on objects an image hands out, and the
// image on the platform's: a representative method of each, since each is
// declared through STDMETHOD.
static_assert(std::is_same_v<decltype(&IUnknown::AddRef),
                             ULONG (QX_STDCALL IUnknown::*)()>,
              "IUnknown methods must be stdcall");
static_assert(std::is_same_v<decltype(&IClassFactory::LockServer),
                             HRESULT (QX_STDCALL IClassFactory::*)(BOOL)>,
              "IClassFactory methods must be stdcall");
static_assert(std::is_same_v<decltype(&IDispatch::GetTypeInfoCount),
                             HRESULT (QX_STDCALL IDispatch::*)(UINT*)>,
              "IDispatch methods must be stdcall");
static_assert(std::is_same_v<decltype(&ITypeInfo::ReleaseTypeAttr),
                             void (QX_STDCALL ITypeInfo::*)(TYPEATTR*)>,
              "ITypeInfo methods must be stdcall");
static_assert(std::is_same_v<decltype(&ITypeLib::GetTypeInfoCount),
                             UINT (QX_STDCALL ITypeLib::*)()>,
              "ITypeLib methods must be stdcall");
static_assert(
    std::is_same_v<decltype(&IObjectSafety::GetInterfaceSafetyOptions),
                   HRESULT (QX_STDCALL IObjectSafety::*)(REFIID, DWORD*,
                                                         DWORD*)>,
    "IObjectSafety methods must be stdcall");

}  // namespace

#endif  // __i386__
