"""Reads a registrar script (installer/resources/qxKorvex.rgs) into the
registry rows an installer database writes for it.

The grammar is the registrar's: root blocks `HKCR { ... }`; in a block, keys
`[ForceRemove|NoRemove] name [= s 'text' | = d 'number'] [{ ... }]` and values
`val name = s|d 'data'`. Tokens are cut at white space; 'quoted' tokens may
hold blanks and a doubled quote stands for one. %MODULE% is the module's path
and %% a percent sign, as the registrar expands them.

An installer removes what it wrote when the product goes, so a key of the
script becomes rows as follows:
  - each value is a value row (a key's own value is its default value);
  - a ForceRemove key also gets a `*` row: created on install, removed with
    all below it on uninstall, as unregistering removes it;
  - any other key that gets no value and no key below it gets a `+` row,
    so that it is created at all: created on install and left on uninstall,
    which is all a NoRemove key asks; other keys an installer removes once
    the values it wrote are gone.
`Delete` and binary (`b`) values have no row form here and are refused, as
is anything else the registrar would not read."""
import re

ROOTS = {
    "HKCR": "HKCR", "HKEY_CLASSES_ROOT": "HKCR",
    "HKCU": "HKCU", "HKEY_CURRENT_USER": "HKCU",
    "HKLM": "HKLM", "HKEY_LOCAL_MACHINE": "HKLM",
    "HKU": "HKU", "HKEY_USERS": "HKU",
}
BLANKS = " \t\r\n"


class ScriptError(Exception):
    pass


class Value:
    """A value row: type is "string" or "integer"; name None is the key's
    default value; data is the text after %MODULE% became module_text."""

    def __init__(self, root, key, name, type_, data):
        self.root, self.key, self.name, self.type, self.data = (
            root, key, name, type_, data)


class KeyRow:
    """A key-only row: action "+" (create) or "*" (create, and remove with
    its subkeys on uninstall)."""

    def __init__(self, root, key, action):
        self.root, self.key, self.action = root, key, action


class Token:
    def __init__(self, text, quoted, line):
        self.text, self.quoted, self.line = text, quoted, line

    def bare(self, text):
        return not self.quoted and self.text.lower() == text.lower()


def tokens(text, path):
    position, line, result = 0, 1, []
    while True:
        while position < len(text) and text[position] in BLANKS:
            line += text[position] == "\n"
            position += 1
        if position == len(text):
            return result
        if text[position] == "'":
            start_line, position, chars = line, position + 1, []
            while True:
                if position == len(text):
                    raise ScriptError("%s:%d: a quote is never closed"
                                      % (path, start_line))
                char = text[position]
                if char == "'":
                    if text[position + 1:position + 2] != "'":
                        position += 1
                        break
                    position += 1
                line += char == "\n"
                chars.append(char)
                position += 1
            result.append(Token("".join(chars), True, start_line))
        else:
            start = position
            while position < len(text) and text[position] not in BLANKS:
                position += 1
            result.append(Token(text[start:position], False, line))


class Reader:
    def __init__(self, text, path, module_text):
        self.tokens = tokens(text, path)
        self.at = 0
        self.path = path
        self.module_text = module_text
        self.rows = []

    def fail(self, message, token=None):
        if token is None:
            token = self.tokens[min(self.at, len(self.tokens) - 1)] \
                if self.tokens else Token("", False, 1)
        raise ScriptError("%s:%d: %s" % (self.path, token.line, message))

    def next(self, what):
        if self.at == len(self.tokens):
            raise ScriptError("%s: the script ends where %s was expected"
                              % (self.path, what))
        token = self.tokens[self.at]
        self.at += 1
        return token

    def peek(self):
        return self.tokens[self.at] if self.at < len(self.tokens) else None

    def expand(self, token):
        """The token's text with %MODULE% and %% replaced."""
        parts = re.split(r"(%[^%]*%)", token.text)
        result = []
        for part in parts:
            if part == "%%":
                result.append("%")
            elif part.startswith("%") and part.endswith("%") and len(part) > 1:
                if part != "%MODULE%":
                    self.fail("unknown variable %s (only %%MODULE%% is known)"
                              % part, token)
                result.append(self.module_text)
            elif "%" in part:
                self.fail("a %% without its closing %%", token)
            else:
                result.append(part)
        return "".join(result)

    def value_clause(self, root, key, name):
        """After `=`: the type letter and the data, as one value row."""
        letter = self.next("a value type")
        data = self.next("a value")
        kind = letter.text.lower() if not letter.quoted else ""
        if kind == "s":
            text = self.expand(data)
            if text == "":
                self.fail("an empty string value has no row form (an "
                          "installer reads an empty value as no value)", data)
            self.rows.append(Value(root, key, name, "string", text))
        elif kind == "d":
            text = self.expand(data).strip()
            try:
                number = int(text, 0)
            except ValueError:
                self.fail("d value %r is not a number" % data.text, data)
            if not 0 <= number <= 0xFFFFFFFF:
                self.fail("d value %s is outside 32 bits" % data.text, data)
            # Installer databases write a DWORD as signed decimal text.
            if number >= 0x80000000:
                number -= 0x100000000
            self.rows.append(Value(root, key, name, "integer", str(number)))
        elif kind == "b":
            self.fail("binary (b) values are not written by this package's "
                      "registry rows", letter)
        else:
            self.fail("unknown value type %r" % letter.text, letter)

    def block(self, root, key):
        """Reads a key's block up to its `}`; True when it wrote anything."""
        wrote = False
        while True:
            token = self.next("'}'")
            if token.bare("}"):
                return wrote
            if token.bare("{"):
                self.fail("'{' where a key name was expected", token)
            if token.bare("val"):
                if key == "":
                    self.fail("a value of a root key itself has no row form",
                              token)
                name = self.next("a value name")
                equals = self.next("'='")
                if not equals.bare("="):
                    self.fail("'=' expected after val %s" % name.text, equals)
                self.value_clause(root, key, self.expand(name))
                wrote = True
                continue
            force_remove = no_remove = False
            if token.bare("Delete"):
                self.fail("Delete keys are not written by this package's "
                          "registry rows", token)
            if token.bare("ForceRemove"):
                force_remove = True
                token = self.next("a key name")
            if token.bare("NoRemove"):
                no_remove = True
                token = self.next("a key name")
            if not token.quoted and token.text in ("{", "}", "="):
                self.fail("a key name expected, not %r" % token.text, token)
            name = self.expand(token)
            if name == "" or "\\" in name:
                self.fail("key name %r is empty or holds a backslash"
                          % token.text, token)
            path = name if key == "" else key + "\\" + name
            first = len(self.rows)
            removed_whole = force_remove and not no_remove
            if removed_whole:
                self.rows.append(KeyRow(root, path, "*"))
            below = False
            following = self.peek()
            if following is not None and following.bare("="):
                self.at += 1
                self.value_clause(root, path, None)
                below = True
            following = self.peek()
            if following is not None and following.bare("{"):
                self.at += 1
                below = self.block(root, path) or below
            if not below and not removed_whole:
                self.rows.insert(first, KeyRow(root, path, "+"))
            wrote = wrote or len(self.rows) > first

    def script(self):
        while self.peek() is not None:
            token = self.next("a root key")
            root = ROOTS.get(token.text.upper()) if not token.quoted else None
            if root is None:
                self.fail("unknown root key %r (HKCR, HKCU, HKLM or HKU)"
                          % token.text, token)
            brace = self.next("'{'")
            if not brace.bare("{"):
                self.fail("'{' expected after %s" % token.text, brace)
            self.block(root, "")
        return self.rows


def read_script(path, module_text):
    """The rows of the script at path, %MODULE% standing for module_text."""
    try:
        raw = open(path, "rb").read()
    except OSError as error:
        raise ScriptError("%s: %s" % (path, error.strerror))
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError:
        raise ScriptError("%s: not UTF-8 text" % path)
    if text.startswith("\ufeff"):
        text = text[1:]
    rows = Reader(text, path, module_text).script()
    if not rows:
        raise ScriptError("%s: the script registers nothing" % path)
    return rows
