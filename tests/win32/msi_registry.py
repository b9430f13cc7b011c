"""What an MSI's Registry rows write, against what the DLL writes when it
registers itself (check_package.py registry).

The DLL registers into an empty registry file through the 32-bit host,
which runs the real DLL: `qxhost --registry FILE regsvr32 DLL`, then
`qxhost --registry FILE reg export`. The rows, read with `msiinfo export`,
are read as an installer writes them: a `+` or `*` row with no value makes
its key, a `-` row writes nothing, any other row a value (`#n` a DWORD,
`##` a string starting with `#`), and each key makes its parent keys. Both
sides become a set of keys and a map of values (key, name) -> (type, data),
compared both ways. The DLL's path and folder (with its closing separator,
as RegisterTypeLib is given it) stand for the installer's [#file] of the
DLL and [directory] of its component; any other formatted reference fails.

For the per-user package the DLL registers with `regsvr32 --user` and the
comparison is of HKEY_CURRENT_USER\Software\Classes alone, on both sides:
the rows must write there exactly what the user's registration writes, and
nothing anywhere else."""
import os
import re
import subprocess
import tempfile

# An HKCR row of a per-machine install is written into the machine's
# classes, which is where the registry keeps what HKEY_CLASSES_ROOT shows
# and where its export lists it.
ROOTS = {"0": "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes", "1": "HKEY_CURRENT_USER",
         "2": "HKEY_LOCAL_MACHINE", "3": "HKEY_USERS"}
THE_DLL, ITS_FOLDER = "<the DLL>", "<its folder>"


def msi_table(msi, table, fail):
    """(columns, rows) of one table, each row a list of texts."""
    result = subprocess.run(["msiinfo", "export", msi, table],
                            capture_output=True, text=True)
    if result.returncode != 0:
        fail("msiinfo export %s %s: %s" % (msi, table, result.stderr.strip()))
    lines = result.stdout.split("\r\n") if "\r\n" in result.stdout \
        else result.stdout.split("\n")
    # Column names, column types, the table's name and keys, then rows.
    columns = lines[0].split("\t")
    rows = [line.split("\t") for line in lines[3:] if line != ""]
    for row in rows:
        if len(row) != len(columns):
            fail("%s: a %s row of %d fields: %r" % (msi, table, len(row), row))
    return columns, rows


def msi_registry(msi, fail):
    """(keys, values) the Registry rows write."""
    files = dict((row[0], row) for row in msi_table(msi, "File", fail)[1])
    components = dict((row[0], row) for row in msi_table(msi, "Component", fail)[1])
    keys_of_files = [key for key, row in files.items()
                     if row[2].split("|")[-1].lower() == "qxkorvex.dll"]
    if len(keys_of_files) != 1:
        fail("%s: no one File row of qxKorvex.dll" % msi)
    file_key = keys_of_files[0]
    folder = components[files[file_key][1]][2]
    references = {"#" + file_key: THE_DLL, folder: ITS_FOLDER}

    def unformat(text, where):
        def replace(match):
            inner = match.group(1)
            if inner.startswith("\\") and len(inner) == 2:
                return inner[1]
            if inner not in references:
                fail("%s: %s: [%s] is no reference to the DLL or its folder"
                     % (msi, where, inner))
            return references[inner]
        return re.sub(r"\[([^\[\]]*)\]", replace, text)

    keys, values = set(), {}
    for row in msi_table(msi, "Registry", fail)[1]:
        _, root, key, name, value, _ = row
        if root not in ROOTS:
            fail("%s: row %s has root %s" % (msi, row[0], root))
        path = ROOTS[root] + "\\" + unformat(key, row[0])
        if value == "" and name in ("+", "*", "-"):
            if name != "-":
                keys.add(path)
            continue
        keys.add(path)
        if value.startswith("##"):
            kind, data = "string", value[1:]
        elif re.fullmatch(r"#-?[0-9]+", value):
            kind, data = "dword", str(int(value[1:]) & 0xFFFFFFFF)
        elif value.startswith("#") or "[~]" in value:
            fail("%s: row %s: value %r is of a type this check does not read"
                 % (msi, row[0], value))
        else:
            kind, data = "string", unformat(value, row[0])
        where = (path, unformat(name, row[0]))
        if where in values:
            fail("%s: %s written twice" % (msi, where))
        values[where] = (kind, data)
    return with_parents(keys), values


def with_parents(keys):
    result = set()
    for key in keys:
        parts = key.split("\\")
        for count in range(2, len(parts) + 1):
            result.add("\\".join(parts[:count]))
    return result


def reg_string(text):
    """The data of a quoted .reg string, its \\\\ and \\" undone."""
    match = re.fullmatch(r'"((?:[^"\\]|\\.)*)"', text)
    if not match:
        return None
    return re.sub(r"\\(.)", r"\1", match.group(1))


def exported_registry(text, dll, fail):
    """(keys, values) of a .reg export, the DLL's path and folder replaced."""
    folder = dll[:max(dll.rfind("/"), dll.rfind("\\")) + 1]
    keys, values, key = set(), {}, None
    for number, line in enumerate(text.splitlines(), 1):
        if line.startswith(";") or line.strip() == "" or number == 1:
            continue
        if line.startswith("[") and line.endswith("]"):
            key = line[1:-1]
            keys.add(key)
            continue
        match = re.fullmatch(r'(@|"(?:[^"\\]|\\.)*")=(.*)', line)
        if key is None or not match:
            fail("reg export, line %d: %r is not read here" % (number, line))
        name = "" if match.group(1) == "@" else reg_string(match.group(1))
        data = match.group(2)
        if data.startswith("dword:"):
            values[(key, name)] = ("dword", str(int(data[6:], 16)))
            continue
        string = reg_string(data)
        if string is None:
            fail("reg export, line %d: %r is of a type this check does not read"
                 % (number, line))
        values[(key, name)] = ("string", string.replace(dll, THE_DLL)
                               .replace(folder, ITS_FOLDER))
    return keys, values


def run(command, fail):
    result = subprocess.run(command, capture_output=True, text=True)
    if result.returncode != 0:
        fail("%s exits %d:\n%s%s" % (" ".join(command), result.returncode,
                                     result.stdout, result.stderr))
    return result.stdout


USER_CLASSES = "HKEY_CURRENT_USER\\Software\\Classes"


def in_user_classes(keys, values, fail, what):
    """The keys and values under the user's classes (its own key included),
    the prefix's case made one; anything elsewhere fails."""
    prefix = USER_CLASSES.lower()

    def placed(key):
        low = key.lower()
        if low == prefix or low.startswith(prefix + "\\"):
            return USER_CLASSES + key[len(prefix):]
        if prefix.startswith(low + "\\"):
            return None  # a parent of the user's classes
        fail("%s writes %s, outside %s" % (what, key, USER_CLASSES))

    kept = set(k for k in map(placed, keys) if k is not None)
    kept_values = {}
    for (key, name), value in values.items():
        where = placed(key)
        if where is not None:
            kept_values[(where, name)] = value
    return kept, kept_values


def check_registry(msi, qxhost, dll, fail, per_user=False):
    if not os.path.isfile(msi):
        fail("%s is missing: build the win32 preset's package target first" % msi)
    with tempfile.TemporaryDirectory() as scratch:
        registry = os.path.join(scratch, "registry.reg")
        dll = os.path.abspath(dll)
        registration = ["regsvr32", "--user", dll] if per_user else \
            ["regsvr32", dll]
        output = run([qxhost, "--registry", registry] + registration, fail)
        if output.strip().splitlines()[-1:] != ["0x00000000"]:
            fail("regsvr32 %s:\n%s" % (dll, output))
        export = ["reg", "export", USER_CLASSES] if per_user else ["reg", "export"]
        exported = run([qxhost, "--registry", registry] + export, fail)
    registered_keys, registered = exported_registry(exported, dll, fail)
    row_keys, rows = msi_registry(msi, fail)
    if per_user:
        registered_keys, registered = in_user_classes(
            registered_keys, registered, fail, "regsvr32 --user")
        row_keys, rows = in_user_classes(row_keys, rows, fail, msi)

    problems = []
    for key in sorted(registered_keys - row_keys):
        problems.append("key %s: registered, but no row makes it" % key)
    for key in sorted(row_keys - registered_keys):
        problems.append("key %s: made by the rows, not registered" % key)
    for where in sorted(set(registered) | set(rows)):
        mine, theirs = registered.get(where), rows.get(where)
        if mine != theirs:
            problems.append("value %s\\%s: registered %r, rows %r"
                            % (where[0], where[1] or "@", mine, theirs))
    if problems:
        fail("%s writes other registry entries than regsvr32 of %s:\n  %s"
             % (msi, dll, "\n  ".join(problems)))
    print("%s: its Registry rows write the %d keys and %d values regsvr32 "
          "writes" % (msi, len(row_keys), len(rows)))
