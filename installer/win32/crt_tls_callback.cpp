// The C runtime's thread-local storage hook, defined empty so that
// qxKorvex.dll carries no TLS directory.
//
// mingw-w64's DLL startup code reads __dyn_tls_init_callback, and the
// runtime's own definition sits in the object that also defines _tls_used,
// which the linker turns into the image's TLS directory. The loader refuses
// DisableThreadLibraryCalls for a module with a TLS directory, and DllMain
// relies on it. Defining the hook here satisfies the startup code before the
// runtime archive is searched, so that object is never linked; the startup
// code tests the hook for null before calling it. Constructors, atexit and
// destructors at detach still run through the same startup code.
//
// The object left out serves only thread_local data in the image's TLS
// block and per-thread key destructors, neither of which the library uses.
// Code that names _tls_index or _tls_used brings it back and fails the link
// on this duplicate definition.
#include <windows.h>

extern "C" const PIMAGE_TLS_CALLBACK __dyn_tls_init_callback = nullptr;
