#!/usr/bin/python3
"""Checks what the package target made in DIST.

  check_package.py files DIST VERSION_HEADER
      qxKorvex.dll, qxKorvex.inf, qxKorvex.cab and qxKorvex.msi are there;
      the INF holds exactly the code-download fields, its FileVersion the
      numbers of the version header (the version block's); `gcab -t` lists
      exactly the DLL and the INF, and the DLL in the cabinet is the signed
      one. The MSI installs that signed DLL, alone, into
      ProgramFilesFolder\qxKorvex per machine, at the header's version, and
      registers nothing by running code: no SelfReg rows, no custom actions;
      qxKorvex_user.msi the same per user, into
      LocalAppDataFolder\Programs\qxKorvex.
  check_package.py signatures DIST CA_FILE
      `osslsigncode verify` accepts the signed DLL, cabinet and MSI against
      the CA, and refuses each once one byte of its signed content is
      changed.
  check_package.py registry MSI QXHOST DLL
      The MSI's Registry rows write exactly what `QXHOST regsvr32 DLL`
      writes into an empty registry: the same keys, and the same values by
      name, type and data, the DLL's path and folder standing for the
      installed file's and its folder (msi_registry.py).
  check_package.py registry-user MSI QXHOST DLL
      The same for the per-user package: its rows write into
      HKEY_CURRENT_USER\Software\Classes exactly what
      `QXHOST regsvr32 --user DLL` writes there, and nothing elsewhere."""
import os
import re
import subprocess
import sys
import tempfile

from msi_registry import check_registry, msi_table

CLSID = "{EC68AD82-001E-4396-9CDC-ED264E512EE4}"
NAMES = ["qxKorvex.dll", "qxKorvex.inf", "qxKorvex.cab", "qxKorvex.msi",
         "qxKorvex_user.msi"]


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def header_numbers(header):
    text = open(header, encoding="ascii").read()
    numbers = []
    for field in ("MAJOR", "MINOR", "BUILD", "REVISION"):
        match = re.search(r"^#define QX_VERSION_%s ([0-9]+)$" % field, text, re.M)
        if not match:
            fail("%s: no QX_VERSION_%s" % (header, field))
        numbers.append(match.group(1))
    return numbers


def inf_sections(path):
    """{section: [(key, value)]}, in order, comments and blank lines left out."""
    raw = open(path, "rb").read()
    if b"\r\n" not in raw or raw.replace(b"\r\n", b"").count(b"\n"):
        fail("%s: lines do not all end in CR LF" % path)
    sections, current = {}, None
    for line in raw.decode("ascii").split("\r\n"):
        line = line.strip()
        if not line or line.startswith(";"):
            continue
        match = re.fullmatch(r"\[([^\]]+)\]", line)
        if match:
            current = match.group(1)
            if current in sections:
                fail("%s: section [%s] twice" % (path, current))
            sections[current] = []
            continue
        if current is None or "=" not in line:
            fail("%s: unexpected line %r" % (path, line))
        key, value = line.split("=", 1)
        sections[current].append((key.strip(), value.strip()))
    return sections


def check_files(dist, header):
    for name in NAMES:
        path = os.path.join(dist, name)
        if not os.path.isfile(path) or os.path.getsize(path) == 0:
            fail("%s is missing or empty" % path)
    numbers = header_numbers(header)
    version = ",".join(numbers)
    inf = os.path.join(dist, "qxKorvex.inf")
    expected = {
        "version": [("signature", '"$CHICAGO$"'), ("AdvancedINF", "2.0")],
        "Add.Code": [("qxKorvex.dll", "qxKorvex.dll")],
        "qxKorvex.dll": [("file-win32-x86", "thiscab"), ("clsid", CLSID),
                         ("FileVersion", version), ("RegisterServer", "yes")],
    }
    sections = inf_sections(inf)
    if sections != expected:
        fail("%s holds %r, expected %r" % (inf, sections, expected))
    if version != "1,0,0,6":
        fail("the version header says %s; the version block test expects 1,0,0,6"
             % version)

    cab = os.path.join(dist, "qxKorvex.cab")
    listing = subprocess.run(["gcab", "-t", cab], capture_output=True, text=True)
    if listing.returncode != 0:
        fail("gcab -t %s: %s" % (cab, listing.stderr.strip()))
    names = listing.stdout.split()
    if sorted(names) != ["qxKorvex.dll", "qxKorvex.inf"]:
        fail("%s lists %r" % (cab, names))
    with tempfile.TemporaryDirectory() as out:
        extracted = subprocess.run(["gcab", "-x", "-C", out, cab],
                                   capture_output=True, text=True)
        if extracted.returncode != 0:
            fail("gcab -x %s: %s" % (cab, extracted.stderr.strip()))
        for name in ("qxKorvex.dll", "qxKorvex.inf"):
            inside = open(os.path.join(out, name), "rb").read()
            if inside != open(os.path.join(dist, name), "rb").read():
                fail("%s in the cabinet differs from dist/%s" % (name, name))
    check_msi(dist, ".".join(numbers))
    check_msi(dist, ".".join(numbers), per_user=True)
    print("package files: %s, INF FileVersion=%s, cabinet of the DLL and INF, "
          "MSI of the DLL" % (", ".join(NAMES), version))


def check_msi(dist, version, per_user=False):
    """The administrators' package, or the per-user one: the same signed
    DLL, per user into LocalAppDataFolder\\Programs\\qxKorvex."""
    msi = os.path.join(dist, "qxKorvex_user.msi" if per_user else "qxKorvex.msi")

    def rows(table):
        return msi_table(msi, table, fail)[1]

    properties = dict((row[0], row[1]) for row in rows("Property"))
    if properties.get("ProductVersion") != version:
        fail("%s: ProductVersion %r, the version header says %s"
             % (msi, properties.get("ProductVersion"), version))
    if properties.get("ALLUSERS") != (None if per_user else "1"):
        fail("%s: not a per-%s package (ALLUSERS=%r)"
             % (msi, "user" if per_user else "machine",
                properties.get("ALLUSERS")))
    files = rows("File")
    if [(row[0], row[2]) for row in files] != [("qxKorvex.dll", "qxKorvex.dll")]:
        fail("%s: the File table holds %r, expected qxKorvex.dll alone"
             % (msi, files))
    directories = dict((row[0], (row[1], row[2])) for row in rows("Directory"))
    component = dict((row[0], row) for row in rows("Component"))[files[0][1]]
    folder = [component[2]]
    # Up to the folder below TARGETDIR; a cycle of parents ends the walk.
    while (folder[-1] in directories and len(folder) <= len(directories) and
           directories[folder[-1]][0] != "TARGETDIR"):
        folder.append(directories[folder[-1]][0])
    names = [directories[key][1] for key in reversed(folder[:-1])]
    expected = (["LocalAppDataFolder", "Programs", "qxKorvex"] if per_user
                else ["ProgramFilesFolder", "qxKorvex"])
    if [folder[-1]] + names != expected:
        fail("%s: the DLL goes into %r, not %s"
             % (msi, [folder[-1]] + names, "\\".join(expected)))
    tables = subprocess.run(["msiinfo", "tables", msi], capture_output=True,
                            text=True).stdout.split()
    if "SelfReg" in tables and rows("SelfReg"):
        fail("%s: SelfReg rows: the package must not register by running the DLL"
             % msi)
    if rows("CustomAction"):
        fail("%s: custom actions %r" % (msi, rows("CustomAction")))
    # The installed file is the signed DLL of dist/, in the embedded cabinet.
    with tempfile.TemporaryDirectory() as out:
        dumped = subprocess.run(["msidump", "-s", os.path.abspath(msi)], cwd=out,
                                capture_output=True, text=True)
        cabinet = os.path.join(out, "_Streams", "qxKorvex.cab")
        if dumped.returncode != 0 or not os.path.isfile(cabinet):
            fail("msidump -s %s: no embedded qxKorvex.cab %s"
                 % (msi, dumped.stderr.strip()))
        extracted = subprocess.run(["gcab", "-x", "-C", out, cabinet],
                                   capture_output=True, text=True)
        if extracted.returncode != 0:
            fail("gcab -x %s: %s" % (cabinet, extracted.stderr.strip()))
        inside = os.path.join(out, "qxKorvex.dll")
        if not os.path.isfile(inside) or (open(inside, "rb").read() !=
                                          open(os.path.join(dist, "qxKorvex.dll"), "rb").read()):
            fail("%s: the installed qxKorvex.dll is not dist/qxKorvex.dll" % msi)


def verify(path, ca):
    result = subprocess.run(["osslsigncode", "verify", "-CAfile", ca, "-in", path],
                            capture_output=True, text=True)
    return result.returncode == 0, result.stdout + result.stderr


def signed_byte(path, name):
    """The offset of one byte of the file's signed content. In the DLL and
    the cabinet, the middle of the file is code or compressed data, well
    before the signature at the end. An MSI's sectors may hold unused
    space, which is not signed: there, a byte of its embedded cabinet."""
    data = open(path, "rb").read()
    if not name.endswith(".msi"):
        return len(data) // 3
    with tempfile.TemporaryDirectory() as out:
        subprocess.run(["msidump", "-s", os.path.abspath(path)], cwd=out,
                       capture_output=True)
        cabinet = os.path.join(out, "_Streams", "qxKorvex.cab")
        if not os.path.isfile(cabinet):
            fail("msidump -s %s: no embedded qxKorvex.cab" % path)
        stream = open(cabinet, "rb").read()
    # 64 bytes from the middle of the stream, within one 512-byte sector.
    middle = (len(stream) // 2) & ~511
    offset = data.find(stream[middle:middle + 64])
    if offset < 0 or data.find(stream[middle:middle + 64], offset + 1) >= 0:
        fail("%s: the embedded cabinet's bytes are not found once" % path)
    return offset + 32


def check_signatures(dist, ca):
    for name in ("qxKorvex.dll", "qxKorvex.cab", "qxKorvex.msi",
                 "qxKorvex_user.msi"):
        path = os.path.join(dist, name)
        ok, output = verify(path, ca)
        if not ok:
            fail("osslsigncode verify refuses %s:\n%s" % (path, output))
        data = bytearray(open(path, "rb").read())
        data[signed_byte(path, name)] ^= 0x01
        with tempfile.TemporaryDirectory() as out:
            changed = os.path.join(out, name)
            open(changed, "wb").write(data)
            ok, output = verify(changed, ca)
            if ok:
                fail("osslsigncode verify accepts %s with one byte changed:\n%s"
                     % (name, output))
        print("%s: signature verified; refused with one byte changed" % name)


def main():
    arguments = {"files": 4, "signatures": 4, "registry": 5,
                 "registry-user": 5}
    if len(sys.argv) < 2 or arguments.get(sys.argv[1]) != len(sys.argv):
        print(__doc__)
        sys.exit(2)
    if sys.argv[1] == "files":
        check_files(sys.argv[2], sys.argv[3])
    elif sys.argv[1] == "signatures":
        check_signatures(sys.argv[2], sys.argv[3])
    else:
        check_registry(sys.argv[2], sys.argv[3], sys.argv[4], fail,
                       per_user=sys.argv[1] == "registry-user")


if __name__ == "__main__":
    main()
