#!/usr/bin/python3
"""Checks the built qxKorvex.dll: a PE32 i386 DLL exporting the server entry
points by name and importing only from system DLLs. Usage: check_dll.py DLL"""
import sys

import pefile

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll", "ole32.dll",
               "oleaut32.dll", "shell32.dll", "msvcrt.dll"}
REQUIRED_EXPORTS = {"DllCanUnloadNow", "DllGetClassObject"}
VERSION_STRINGS = {
    "FileVersion": "1, 0, 0, 6", "ProductVersion": "1, 0, 0, 6",
    "FileDescription": "qxKorvex Module", "ProductName": "qxKorvex Module",
    "InternalName": "qxKorvex", "OriginalFilename": "qxKorvex.DLL",
    "OLESelfRegister": "",
}


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def version_strings(pe):
    found = {}
    for info in getattr(pe, "FileInfo", []) or []:
        for entry in info:
            for table in getattr(entry, "StringTable", []) or []:
                for key, value in table.entries.items():
                    found[key.decode()] = value.decode()
    return found


def main():
    pe = pefile.PE(sys.argv[1])
    if pe.FILE_HEADER.Machine != pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]:
        fail("machine is not i386")
    if pe.OPTIONAL_HEADER.Magic != 0x10B:
        fail("not a PE32 image")
    if not pe.FILE_HEADER.Characteristics & 0x2000:
        fail("not a DLL")

    exports = {sym.name.decode() for sym in pe.DIRECTORY_ENTRY_EXPORT.symbols
               if sym.name}
    missing = REQUIRED_EXPORTS - exports
    if missing:
        fail("missing exports: " + ", ".join(sorted(missing)))
    decorated = [name for name in exports if "@" in name or name.startswith("_")]
    if decorated:
        fail("decorated export names: " + ", ".join(sorted(decorated)))

    imports = {entry.dll.decode().lower() for entry in pe.DIRECTORY_ENTRY_IMPORT}
    foreign = imports - SYSTEM_DLLS
    if foreign:
        fail("imports from non-system DLLs: " + ", ".join(sorted(foreign)))

    strings = version_strings(pe)
    for key, value in VERSION_STRINGS.items():
        if strings.get(key) != value:
            fail("version string %s is %r, expected %r" % (key, strings.get(key), value))

    print("ok: exports %s; imports %s" % (sorted(exports), sorted(imports)))


if __name__ == "__main__":
    main()
