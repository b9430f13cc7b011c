// The C runtime's pseudo-relocation pass, defined empty so that qxKorvex.dll
// carries neither it nor the section-walking helpers it pulls in.
//
// Pseudo-relocations patch references to data that the linker imported
// from another DLL without a dllimport declaration. The library is linked
// with --disable-auto-import, so any such reference fails the link instead,
// the image's pseudo-relocation list is always empty, and the runtime's pass
// would find nothing to do. As with the TLS hook, defining the symbol here
// satisfies the startup code before the runtime archive is searched.
extern "C" void _pei386_runtime_relocator() {}
