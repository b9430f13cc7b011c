#!/usr/bin/python3
"""Writes the WiX include that holds the installer database's registry rows:
the registry script's (registry_script.py) and the type library's
registration (type_library_rows.py), so that what the package registers is
read from the files the DLL registers itself from.

  registry_wxi.py --script FILE.rgs --idl FILE.idl --file-key KEY
                  --folder-property PROPERTY [--per-user] --output FILE.wxi

The module's path in the rows is [#KEY], the installed file's path, and its
folder [PROPERTY], the folder's path with its closing backslash (the help
folder RegisterTypeLib is given ends in one too). A row text that an
installer or wixl would read as more than text (brackets, "$(") is refused.

With --per-user the rows are a per-user package's: each HKCR row is written
against HKCU, under Software\Classes, which is where Windows Installer puts
HKCR rows for a per-user install anyway; written out, the rows say so
themselves. A row for any other root is refused there: a per-user package
writes nothing of the machine's.

The output is written whole or not at all."""
import argparse
import os
import sys
import tempfile
from xml.sax.saxutils import quoteattr

from registry_script import KeyRow, ScriptError, read_script
from type_library_rows import read_rows


def plain(text, where):
    """Text that an installer's formatted columns and wixl's preprocessor
    keep as it is."""
    for mark in ("[", "]", "$("):
        if mark in text:
            raise ScriptError("%s: %r holds %r, which the installer database "
                              "would not keep as text" % (where, text, mark))
    if any(ord(c) < 0x20 for c in text):
        raise ScriptError("%s: %r holds a control character" % (where, text))
    return text


def placed(row, where, per_user):
    """The row's root and key as the package writes them."""
    if not per_user:
        return row.root, row.key
    if row.root != "HKCR":
        raise ScriptError("%s: a per-user package cannot write %s"
                          % (where, row.root))
    return "HKCU", "Software\\Classes\\" + row.key


def element(row, source, references, per_user=False):
    """The RegistryValue element of one row; references maps the stand-ins
    for the module's path and folder to the installer's references."""
    where = "%s: %s\\%s" % (source, row.root, row.key)
    root, key = placed(row, where, per_user)
    attributes = [("Root", root), ("Key", plain(key, where))]
    if isinstance(row, KeyRow):
        attributes += [("Name", row.action), ("Type", "string"), ("Value", "")]
    else:
        if row.name is not None:
            if row.name in ("+", "-", "*"):
                raise ScriptError("%s: a value named %r reads as a key action"
                                  % (where, row.name))
            attributes.append(("Name", plain(row.name, where)))
        data = row.data
        bare = data
        for stand_in, reference in references.items():
            bare = bare.replace(stand_in, "")
            data = data.replace(stand_in, reference)
        plain(bare, where)
        attributes += [("Type", row.type), ("Value", data)]
    return "  <RegistryValue %s/>" % " ".join(
        "%s=%s" % (name, quoteattr(value)) for name, value in attributes)


def identity(row):
    return (row.root, row.key.lower(),
            ("key", row.action) if isinstance(row, KeyRow) else
            ("value", (row.name or "").lower()))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--script", required=True)
    parser.add_argument("--idl", required=True)
    parser.add_argument("--file-key", required=True)
    parser.add_argument("--folder-property", required=True)
    parser.add_argument("--per-user", action="store_true")
    parser.add_argument("--output", required=True)
    arguments = parser.parse_args()

    # Stand-ins that no script text holds (a control character is refused),
    # swapped for the installer's references as the rows are written.
    module_text, folder_text = "\1module\1", "\1folder\1"
    references = {module_text: "[#%s]" % arguments.file_key,
                  folder_text: "[%s]" % arguments.folder_property}
    try:
        sources = [(os.path.basename(arguments.script),
                    read_script(arguments.script, module_text)),
                   (os.path.basename(arguments.idl),
                    read_rows(arguments.idl, module_text, folder_text))]
        seen, lines = {}, []
        for source, rows in sources:
            for row in rows:
                key = identity(row)
                if key in seen:
                    raise ScriptError("%s: %s\\%s is written twice (also by %s)"
                                      % (source, row.root, row.key, seen[key]))
                seen[key] = source
                lines.append(element(row, source, references,
                                     arguments.per_user))
    except ScriptError as error:
        print("registry_wxi: %s" % error, file=sys.stderr)
        return 1

    text = ("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
            "<!-- Generated from %s and %s by cmake/msi/registry_wxi.py. -->\n"
            "<Include>\n%s\n</Include>\n"
            % (sources[0][0], sources[1][0], "\n".join(lines)))
    folder = os.path.dirname(os.path.abspath(arguments.output))
    temporary = None
    try:
        with tempfile.NamedTemporaryFile("w", encoding="utf-8", dir=folder,
                                         delete=False, suffix=".tmp") as out:
            temporary = out.name
            out.write(text)
        umask = os.umask(0)
        os.umask(umask)
        os.chmod(temporary, 0o666 & ~umask)
        os.replace(temporary, arguments.output)
    except OSError as error:
        if temporary is not None and os.path.exists(temporary):
            os.unlink(temporary)
        print("registry_wxi: %s: %s" % (arguments.output, error.strerror),
              file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
