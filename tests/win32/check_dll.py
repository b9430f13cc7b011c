#!/usr/bin/python3
"""Checks the built qxKorvex.dll: a PE32 i386 DLL exporting the server entry
points by name, importing only from system DLLs, carrying no TLS directory,
holding its resources: the registry script byte for byte, the type
library, the module name string and the version block, and no larger than
MAX_SIZE.
Usage: check_dll.py DLL REGISTRY_SCRIPT"""
import os
import sys
import uuid

import pefile

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll", "ole32.dll",
               "oleaut32.dll", "shell32.dll", "msvcrt.dll"}
REQUIRED_EXPORTS = {"DllCanUnloadNow", "DllGetClassObject",
                    "DllRegisterServer", "DllUnregisterServer"}
# What the library needs fits in this; a change that crosses it has pulled
# in code or data the DLL does not use (unwind tables, the SDK's id archive,
# runtime parts). The registrar's checks of every registry step and of its
# roll-back took the code just past 32 KiB.
MAX_SIZE = 34 * 1024
LIBID = "{0322C3C2-E7C6-466F-9A3B-33519C4FC6B4}"
VERSION_STRINGS = {
    "FileVersion": "1, 0, 0, 6", "ProductVersion": "1, 0, 0, 6",
    "FileDescription": "qxKorvex Module", "ProductName": "qxKorvex Module",
    "InternalName": "qxKorvex", "OriginalFilename": "qxKorvex.DLL",
    "OLESelfRegister": "",
}


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def string_resource(pe, string_id):
    """The text of string table entry string_id, or None."""
    block, index = string_id // 16 + 1, string_id % 16
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id != pefile.RESOURCE_TYPE["RT_STRING"]:
            continue
        for name in kind.directory.entries:
            if name.id != block:
                continue
            for language in name.directory.entries:
                data = pe.get_data(language.data.struct.OffsetToData,
                                   language.data.struct.Size)
                offset = 0
                for position in range(16):
                    length = int.from_bytes(data[offset:offset + 2], "little")
                    text = data[offset + 2:offset + 2 + 2 * length]
                    if position == index:
                        return text.decode("utf-16-le")
                    offset += 2 + 2 * length
    return None


def resource(pe, type_name, resource_id):
    """The bytes of the first language of resource resource_id of the named
    type, or None."""
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.name is None or str(kind.name).upper() != type_name:
            continue
        for name in kind.directory.entries:
            if name.id != resource_id:
                continue
            for language in name.directory.entries:
                return pe.get_data(language.data.struct.OffsetToData,
                                   language.data.struct.Size)
    return None


def guid_bytes(text):
    """A GUID in its in-memory (little-endian fields) layout."""
    return uuid.UUID(text).bytes_le


def tls_directory(pe):
    """The (RVA, size) of the TLS data directory, (0, 0) when there is none.
    DllMain switches off thread notifications, which the loader refuses for
    a module with static TLS or TLS callbacks."""
    index = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_TLS"]
    directories = pe.OPTIONAL_HEADER.DATA_DIRECTORY
    if index >= len(directories):
        return 0, 0
    return directories[index].VirtualAddress, directories[index].Size


def version_strings(pe):
    found = {}
    for info in getattr(pe, "FileInfo", []) or []:
        for entry in info:
            for table in getattr(entry, "StringTable", []) or []:
                for key, value in table.entries.items():
                    found[key.decode()] = value.decode()
    return found


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        sys.exit(2)
    size = os.path.getsize(sys.argv[1])
    if size > MAX_SIZE:
        fail("%d bytes, more than %d" % (size, MAX_SIZE))
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

    tls_rva, tls_size = tls_directory(pe)
    if tls_rva or tls_size:
        fail("TLS directory at RVA 0x%x, size 0x%x" % (tls_rva, tls_size))
    if any(section.Name.rstrip(b"\0") == b".tls" for section in pe.sections):
        fail("has a .tls section")

    strings = version_strings(pe)
    for key, value in VERSION_STRINGS.items():
        if strings.get(key) != value:
            fail("version string %s is %r, expected %r" % (key, strings.get(key), value))

    if string_resource(pe, 100) != "qxKorvex":
        fail("string 100 is %r, expected 'qxKorvex'" % string_resource(pe, 100))

    with open(sys.argv[2], "rb") as script_file:
        script = script_file.read()
    registry = resource(pe, "REGISTRY", 101)
    if registry is None:
        fail("no REGISTRY resource 101")
    if registry != script:
        fail("REGISTRY 101 (%d bytes) differs from %s (%d bytes)"
             % (len(registry), sys.argv[2], len(script)))

    typelib = resource(pe, "TYPELIB", 1)
    if typelib is None:
        fail("no TYPELIB resource 1")
    if not typelib.startswith(b"MSFT"):
        fail("TYPELIB 1 does not start with MSFT: %r" % typelib[:4])
    if guid_bytes(LIBID) not in typelib:
        fail("TYPELIB 1 does not hold the library id " + LIBID)

    print("ok: %d bytes; exports %s; imports %s"
          % (size, sorted(exports), sorted(imports)))


if __name__ == "__main__":
    main()
