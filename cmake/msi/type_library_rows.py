"""The registry rows of a type library's registration, read from the IDL the
library is compiled from (installer/qxKorvex.idl), so that its identity is
written once. They are what the automation runtime's RegisterTypeLib writes
for the library inside a module, under HKCR:

  TypeLib\\{LIBID}\\MAJ.MIN             = the help string, else the name
  TypeLib\\{LIBID}\\MAJ.MIN\\FLAGS       = the library flags, decimal
  TypeLib\\{LIBID}\\MAJ.MIN\\LCID\\win32  = the module's path
  TypeLib\\{LIBID}\\MAJ.MIN\\HELPDIR     = the module's folder
  Interface\\{IID}                     = the interface's name, for each
      dual or oleautomation interface and each dispinterface of the library:
    ProxyStubClsid, ProxyStubClsid32  = the automation marshaler for dual
      and oleautomation interfaces, the dispatch marshaler for
      dispinterfaces
    TypeLib = {LIBID}, value Version = MAJ.MIN

MAJ, MIN and LCID are hexadecimal. The library's interfaces are those
defined inside its `library` block and those defined in the file and named
there (as a coclass's). The IDL is read as far as that takes: attribute
lists, `library`, `interface` and `dispinterface` headers; comments and
string contents are skipped."""
import re

from registry_script import ScriptError, Value

AUTOMATION_MARSHALER = "{00020424-0000-0000-C000-000000000046}"
DISPATCH_MARSHALER = "{00020420-0000-0000-C000-000000000046}"
LIBRARY_FLAGS = {"restricted": 1, "control": 2, "hidden": 4}

COMMENT_OR_STRING = re.compile(r'//[^\n]*|/\*.*?\*/|"(?:[^"\\\n]|\\.)*"', re.S)
HEADER = re.compile(
    r"\[([^\[\]]*)\]\s*(library|interface|dispinterface)\s+([A-Za-z_]\w*)\s*"
    r"(?::\s*[A-Za-z_]\w*\s*)?\{")


def strip(text):
    """Comments removed; each string kept as a quoted index into strings."""
    strings = []

    def replace(match):
        token = match.group(0)
        if token.startswith('"'):
            strings.append(re.sub(r"\\(.)", r"\1", token[1:-1]))
            return '"%d"' % (len(strings) - 1)
        return "\n" * token.count("\n") or " "

    return COMMENT_OR_STRING.sub(replace, text), strings


def attributes(text, strings):
    """{name: argument text or ""} of one attribute list."""
    result = {}
    for match in re.finditer(r"([A-Za-z_]\w*)\s*(?:\(([^()]*)\))?", text):
        argument = (match.group(2) or "").strip()
        quoted = re.fullmatch(r'"(\d+)"', argument)
        result[match.group(1)] = strings[int(quoted.group(1))] if quoted else argument
    return result


def block_end(text, opening):
    """The index just past the `}` that closes the brace at opening."""
    depth = 0
    for index in range(opening, len(text)):
        if text[index] == "{":
            depth += 1
        elif text[index] == "}":
            depth -= 1
            if depth == 0:
                return index + 1
    return -1


def guid(text, where, path):
    if not re.fullmatch(r"[0-9A-Fa-f]{8}-([0-9A-Fa-f]{4}-){3}[0-9A-Fa-f]{12}", text):
        raise ScriptError("%s: %s has no uuid(...) of GUID form" % (path, where))
    return "{%s}" % text.upper()


def read_rows(path, module_text, folder_text, platform="win32"):
    """The rows RegisterTypeLib writes for the library of the IDL at path,
    registered from module_text, with help folder folder_text."""
    try:
        raw = open(path, encoding="utf-8").read()
    except (OSError, UnicodeDecodeError) as error:
        raise ScriptError("%s: %s" % (path, getattr(error, "strerror", None) or error))
    text, strings = strip(raw)
    library, interfaces = None, []
    for match in HEADER.finditer(text):
        attrs = attributes(match.group(1), strings)
        end = block_end(text, match.end() - 1)
        if end < 0:
            raise ScriptError("%s: the block of %s is never closed"
                              % (path, match.group(3)))
        entry = (match.group(2), match.group(3), attrs, match.start(), end)
        if match.group(2) == "library":
            if library is not None:
                raise ScriptError("%s: more than one library" % path)
            library = entry
        else:
            interfaces.append(entry)
    if library is None:
        raise ScriptError("%s: no library block" % path)

    _, name, attrs, start, end = library
    libid = guid(attrs.get("uuid", ""), "library " + name, path)
    version = attrs.get("version", "0.0")
    match = re.fullmatch(r"(\d+)(?:\.(\d+))?", version)
    if not match:
        raise ScriptError("%s: library %s: version(%s) is not MAJOR.MINOR"
                          % (path, name, version))
    version = "%x.%x" % (int(match.group(1)), int(match.group(2) or 0))
    lcid = "%x" % int(attrs.get("lcid", "0"), 0)
    flags = sum(bit for word, bit in LIBRARY_FLAGS.items() if word in attrs)
    body = text[start:end]

    key = "TypeLib\\%s\\%s" % (libid, version)
    rows = [
        Value("HKCR", key, None, "string", attrs.get("helpstring") or name),
        Value("HKCR", key + "\\FLAGS", None, "string", str(flags)),
        Value("HKCR", "%s\\%s\\%s" % (key, lcid, platform), None, "string",
              module_text),
        Value("HKCR", key + "\\HELPDIR", None, "string", folder_text),
    ]
    for kind, interface, iattrs, istart, _ in interfaces:
        inside = start <= istart < end
        if not inside and not re.search(r"\b%s\b" % re.escape(interface), body):
            continue
        if kind == "dispinterface":
            marshaler = DISPATCH_MARSHALER
        elif "dual" in iattrs or "oleautomation" in iattrs:
            marshaler = AUTOMATION_MARSHALER
        else:
            continue
        ikey = "Interface\\" + guid(iattrs.get("uuid", ""), "interface " + interface, path)
        rows += [
            Value("HKCR", ikey, None, "string", interface),
            Value("HKCR", ikey + "\\ProxyStubClsid", None, "string", marshaler),
            Value("HKCR", ikey + "\\ProxyStubClsid32", None, "string", marshaler),
            Value("HKCR", ikey + "\\TypeLib", None, "string", libid),
            Value("HKCR", ikey + "\\TypeLib", "Version", "string", version),
        ]
    return rows
