#!/usr/bin/python3
"""Gives the installer database wixl wrote a package code made from its
contents, in place of the random one wixl draws.

  package_code.py INPUT.msi OUTPUT.msi

Windows Installer tells packages apart by that code, so it must change
whenever the package does, and a reproducible build must give the same one
each time: it is a name-based (SHA-1) UUID of the database's bytes with
wixl's code blanked out. msibuild sets it, with the subject, author and
template it already has. OUTPUT is written whole or not at all."""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import uuid

# The namespace of qxKorvex's package codes.
NAMESPACE = uuid.UUID("4F0C7C9E-3A51-4D7B-9E36-5B2D8A1C6E03")


def fail(message):
    print("package_code: " + message, file=sys.stderr)
    sys.exit(1)


def summary(path):
    result = subprocess.run(["msiinfo", "suminfo", path],
                            capture_output=True, text=True)
    if result.returncode != 0:
        fail("msiinfo suminfo %s: %s" % (path, result.stderr.strip()))
    fields = {}
    for line in result.stdout.splitlines():
        name, _, value = line.partition(": ")
        fields[name] = value
    for name in ("Subject", "Author", "Template", "Revision number (UUID)"):
        if name not in fields:
            fail("%s: the summary information has no %s" % (path, name))
    return fields


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    source, output = sys.argv[1], sys.argv[2]
    try:
        data = open(source, "rb").read()
    except OSError as error:
        fail("%s: %s" % (source, error.strerror))
    fields = summary(source)
    drawn = fields["Revision number (UUID)"]
    if not re.fullmatch(r"\{[0-9A-F-]{36}\}", drawn) or data.count(drawn.encode()) != 1:
        fail("%s: wixl's package code %r is not found once in the file"
             % (source, drawn))
    blanked = data.replace(drawn.encode(), b"{" + b"0" * 36 + b"}")
    code = "{%s}" % str(uuid.uuid5(NAMESPACE, hashlib.sha256(blanked).hexdigest())).upper()

    folder = os.path.dirname(os.path.abspath(output))
    handle, temporary = tempfile.mkstemp(suffix=".msi", dir=folder)
    os.close(handle)
    try:
        shutil.copyfile(source, temporary)
        result = subprocess.run(
            ["msibuild", temporary, "-s", fields["Subject"], fields["Author"],
             fields["Template"], code], capture_output=True, text=True)
        if result.returncode != 0:
            fail("msibuild: %s" % (result.stderr.strip() or result.stdout.strip()))
        if summary(temporary)["Revision number (UUID)"] != code:
            fail("msibuild did not set the package code %s" % code)
        os.replace(temporary, output)
    finally:
        if os.path.exists(temporary):
            os.unlink(temporary)
    return 0


if __name__ == "__main__":
    sys.exit(main())
