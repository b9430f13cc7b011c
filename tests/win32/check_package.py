#!/usr/bin/python3
"""Checks what the package target made in DIST.

  check_package.py files DIST VERSION_HEADER
      qxKorvex.dll, qxKorvex.inf and qxKorvex.cab are there; the INF holds
      exactly the code-download fields, its FileVersion the numbers of the
      version header (the version block's); `gcab -t` lists exactly the DLL
      and the INF, and the DLL in the cabinet is the signed one.
  check_package.py signatures DIST CA_FILE
      `osslsigncode verify` accepts the signed DLL and cabinet against the
      CA, and refuses each once one byte of it is changed."""
import os
import re
import subprocess
import sys
import tempfile

CLSID = "{EC68AD82-001E-4396-9CDC-ED264E512EE4}"
NAMES = ["qxKorvex.dll", "qxKorvex.inf", "qxKorvex.cab"]


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def header_version(header):
    text = open(header, encoding="ascii").read()
    numbers = []
    for field in ("MAJOR", "MINOR", "BUILD", "REVISION"):
        match = re.search(r"^#define QX_VERSION_%s ([0-9]+)$" % field, text, re.M)
        if not match:
            fail("%s: no QX_VERSION_%s" % (header, field))
        numbers.append(match.group(1))
    return ",".join(numbers)


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
    version = header_version(header)
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
    print("package files: %s, INF FileVersion=%s, cabinet of the DLL and INF"
          % (", ".join(NAMES), version))


def verify(path, ca):
    result = subprocess.run(["osslsigncode", "verify", "-CAfile", ca, "-in", path],
                            capture_output=True, text=True)
    return result.returncode == 0, result.stdout + result.stderr


def check_signatures(dist, ca):
    for name in ("qxKorvex.dll", "qxKorvex.cab"):
        path = os.path.join(dist, name)
        ok, output = verify(path, ca)
        if not ok:
            fail("osslsigncode verify refuses %s:\n%s" % (path, output))
        data = bytearray(open(path, "rb").read())
        # One byte of the signed content: the middle of the file is code or
        # compressed data, well before the signature at the end.
        data[len(data) // 3] ^= 0x01
        with tempfile.TemporaryDirectory() as out:
            changed = os.path.join(out, name)
            open(changed, "wb").write(data)
            ok, output = verify(changed, ca)
            if ok:
                fail("osslsigncode verify accepts %s with one byte changed:\n%s"
                     % (name, output))
        print("%s: signature verified; refused with one byte changed" % name)


def main():
    if len(sys.argv) != 4 or sys.argv[1] not in ("files", "signatures"):
        print(__doc__)
        sys.exit(2)
    if sys.argv[1] == "files":
        check_files(sys.argv[2], sys.argv[3])
    else:
        check_signatures(sys.argv[2], sys.argv[3])


if __name__ == "__main__":
    main()
