#!/usr/bin/python3
"""Checks cmake/msi/registry_wxi.py, which writes the MSI's registry rows:
the rows it makes of a script and an IDL with each construct the grammar
has, and a clear message, exit status 1 and no output file (an earlier one
left as it was) for each kind of bad input.
Usage: check_registry_wxi.py GENERATOR"""
import os
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

SCRIPT = r"""HKLM
{
	NoRemove SOFTWARE
	{
		ForceRemove 'Korvex Test' = s 'it''s %MODULE%'
		{
			val Count = d '0x10'
			val All = d '4294967295'
			val 'Per Cent' = s '100%%'
			Empty
			NoRemove Kept
			Folder = s '%MODULE%'
		}
	}
}
HKCR { Plain.1 { CLSID = s '{EC68AD82-001E-4396-9CDC-ED264E512EE4}' } }
"""
IDL = r"""
// version(9.9) in a comment is not the library's.
[object, uuid(11111111-2222-3333-4444-555555555555), dual]
interface IUsed : IDispatch { HRESULT f(); }
[object, uuid(66666666-2222-3333-4444-555555555555), oleautomation]
interface IUnnamed : IUnknown { HRESULT g(); }
[uuid(AAAAAAAA-2222-3333-4444-555555555555), version(2.10), lcid(0x409),
 hidden, helpstring("A \"test\" library")]
library TestLib {
  [uuid(BBBBBBBB-2222-3333-4444-555555555555)]
  dispinterface DEvents { properties: methods: };
  [object, uuid(CCCCCCCC-2222-3333-4444-555555555555)]
  interface IPlain : IUnknown { HRESULT h(); }
  [uuid(DDDDDDDD-2222-3333-4444-555555555555)]
  coclass Thing { [default] interface IUsed; };
}
"""
LIB = "TypeLib\\{AAAAAAAA-2222-3333-4444-555555555555}\\2.a"
USED = "Interface\\{11111111-2222-3333-4444-555555555555}"
EVENTS = "Interface\\{BBBBBBBB-2222-3333-4444-555555555555}"
AUTOMATION = "{00020424-0000-0000-C000-000000000046}"
DISPATCH = "{00020420-0000-0000-C000-000000000046}"
KEY = "SOFTWARE\\Korvex Test"
# (root, key, name, type, value); a name of None is the default value.
EXPECTED = [
    ("HKLM", KEY, "*", "string", ""),
    ("HKLM", KEY, None, "string", "it's [#the.dll]"),
    ("HKLM", KEY, "Count", "integer", "16"),
    ("HKLM", KEY, "All", "integer", "-1"),
    ("HKLM", KEY, "Per Cent", "string", "100%"),
    ("HKLM", KEY + "\\Empty", "+", "string", ""),
    ("HKLM", KEY + "\\Kept", "+", "string", ""),
    ("HKLM", KEY + "\\Folder", None, "string", "[#the.dll]"),
    ("HKCR", "Plain.1\\CLSID", None, "string", "{EC68AD82-001E-4396-9CDC-ED264E512EE4}"),
    ("HKCR", LIB, None, "string", 'A "test" library'),
    ("HKCR", LIB + "\\FLAGS", None, "string", "4"),
    ("HKCR", LIB + "\\409\\win32", None, "string", "[#the.dll]"),
    ("HKCR", LIB + "\\HELPDIR", None, "string", "[THEDIR]"),
    ("HKCR", USED, None, "string", "IUsed"),
    ("HKCR", USED + "\\ProxyStubClsid", None, "string", AUTOMATION),
    ("HKCR", USED + "\\ProxyStubClsid32", None, "string", AUTOMATION),
    ("HKCR", USED + "\\TypeLib", None, "string", "{AAAAAAAA-2222-3333-4444-555555555555}"),
    ("HKCR", USED + "\\TypeLib", "Version", "string", "2.a"),
    ("HKCR", EVENTS, None, "string", "DEvents"),
    ("HKCR", EVENTS + "\\ProxyStubClsid", None, "string", DISPATCH),
    ("HKCR", EVENTS + "\\ProxyStubClsid32", None, "string", DISPATCH),
    ("HKCR", EVENTS + "\\TypeLib", None, "string", "{AAAAAAAA-2222-3333-4444-555555555555}"),
    ("HKCR", EVENTS + "\\TypeLib", "Version", "string", "2.a"),
]
# Scripts the generator must refuse, with a part of the message it gives.
BAD_SCRIPTS = [
    ("HKCR { Key = s 'open }", "a quote is never closed"),
    ("HKCR { Key = s '%OTHER%' }", "unknown variable %OTHER%"),
    ("HKCR { Delete Key }", "Delete keys"),
    ("HKCR { Key = b '00' }", "binary (b) values"),
    ("HKCR { Key = d 'ten' }", "is not a number"),
    ("HKCR { Key = d '4294967296' }", "outside 32 bits"),
    ("HKCR { Key = s '' }", "empty string value"),
    ("HKCR { Key = s 'a [bracket]' }", "would not keep as text"),
    ("HKCR { Key = s '$(var.X)' }", "would not keep as text"),
    ("HKPD { Key }", "unknown root key"),
    ("HKCR { Key = x 'y' }", "unknown value type"),
    ("HKCR { Key { val '+' = s 'y' } }", "reads as a key action"),
    ("HKCR { Key", "the script ends"),
    ("HKCR { val Name = s 'x' }", "root key itself"),
    ("HKCR { A = s 'x' A = s 'y' }", "written twice"),
    ("", "registers nothing"),
    (b"HKCR { \xff }", "not UTF-8"),
]


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def generate(generator, folder, script, idl, output, options=()):
    paths = []
    for name, text in (("test.rgs", script), ("test.idl", idl)):
        path = os.path.join(folder, name)
        with open(path, "wb") as out:
            out.write(text if isinstance(text, bytes) else text.encode())
        paths.append(path)
    return subprocess.run(
        [sys.executable, "-B", generator, "--script", paths[0], "--idl", paths[1],
         "--file-key", "the.dll", "--folder-property", "THEDIR",
         "--output", output] + list(options), capture_output=True, text=True)


def rows_of(path):
    rows = []
    for element in ElementTree.parse(path).getroot():
        if element.tag != "RegistryValue":
            fail("%s: element %s" % (path, element.tag))
        rows.append((element.get("Root"), element.get("Key"), element.get("Name"),
                     element.get("Type"), element.get("Value")))
    return rows


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        sys.exit(2)
    generator = sys.argv[1]
    with tempfile.TemporaryDirectory() as folder:
        output = os.path.join(folder, "rows.wxi")
        result = generate(generator, folder, SCRIPT, IDL, output)
        if result.returncode != 0:
            fail("the generator refuses a good script: %s" % result.stderr)
        rows = rows_of(output)
        if rows != EXPECTED:
            fail("rows:\n  %s\nexpected:\n  %s" % ("\n  ".join(map(repr, rows)),
                                                  "\n  ".join(map(repr, EXPECTED))))
        earlier = open(output, "rb").read()
        for script, message in BAD_SCRIPTS:
            result = generate(generator, folder, script, IDL, output)
            if result.returncode != 1 or message not in result.stderr:
                fail("script %r: exit %d, %r; expected exit 1 and %r"
                     % (script, result.returncode, result.stderr, message))
            if "Traceback" in result.stderr:
                fail("script %r: a crash:\n%s" % (script, result.stderr))
            if open(output, "rb").read() != earlier:
                fail("script %r: the earlier output was changed" % script)
        leftovers = sorted(set(os.listdir(folder)) -
                           {"test.rgs", "test.idl", "rows.wxi"})
        if leftovers:
            fail("files left behind: %r" % leftovers)
        for idl, message in (("[version(1.0)] library L {}", "no uuid(...)"),
                             ("[uuid(AAAAAAAA-2222-3333-4444-555555555555)] "
                              "library L {", "never closed"),
                             ("interface I {}", "no library block")):
            result = generate(generator, folder, "HKCR { K = s 'v' }", idl,
                              os.path.join(folder, "other.wxi"))
            if result.returncode != 1 or message not in result.stderr:
                fail("IDL %r: exit %d, %r; expected exit 1 and %r"
                     % (idl, result.returncode, result.stderr, message))
            if os.path.exists(os.path.join(folder, "other.wxi")):
                fail("IDL %r: an output file was written" % idl)
        check_per_user(generator, folder)
    print("registry_wxi: %d rows as expected; %d bad scripts and 3 bad IDL "
          "files refused; per-user rows in the user's classes"
          % (len(EXPECTED), len(BAD_SCRIPTS)))


def check_per_user(generator, folder):
    """--per-user writes each HKCR row against HKCU\\Software\\Classes and is
    otherwise the same; a row of another root is refused, writing nothing."""
    classes_only = SCRIPT[SCRIPT.index("HKCR {"):]
    machine_rows = os.path.join(folder, "machine.wxi")
    user_rows = os.path.join(folder, "user.wxi")
    for output, options in ((machine_rows, ()), (user_rows, ("--per-user",))):
        result = generate(generator, folder, classes_only, IDL, output, options)
        if result.returncode != 0:
            fail("%s: the generator refuses a good script: %s"
                 % (options, result.stderr))
    expected = [("HKCU", "Software\\Classes\\" + key, name, kind, value)
                for root, key, name, kind, value in rows_of(machine_rows)
                if root == "HKCR"]
    if len(expected) != len(rows_of(machine_rows)) or not expected:
        fail("the classes-only rows are not all HKCR: %r" % rows_of(machine_rows))
    if rows_of(user_rows) != expected:
        fail("per-user rows:\n  %s\nexpected:\n  %s"
             % ("\n  ".join(map(repr, rows_of(user_rows))),
                "\n  ".join(map(repr, expected))))
    refused = os.path.join(folder, "refused.wxi")
    result = generate(generator, folder, SCRIPT, IDL, refused, ("--per-user",))
    if (result.returncode != 1 or
            "a per-user package cannot write HKLM" not in result.stderr or
            os.path.exists(refused)):
        fail("--per-user with an HKLM row: exit %d, %r; expected exit 1, no "
             "output" % (result.returncode, result.stderr))


if __name__ == "__main__":
    main()
