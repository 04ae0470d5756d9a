"""The stand-in IIS metabase (metabase.dll) as the suite sees it: its store
file, its journal, its fault switches and its registration in a prefix.

A store is described as {key path: {identifier: value}}. A value is an Item,
or a plain str (STRING), int (DWORD), bytes (BINARY) or list of str
(MULTISZ), which takes DEFAULT_ATTRIBUTES and DEFAULT_USER_TYPE. Parents of
a key need not be listed to be written; read_store lists every key, those
without data included, so compare it with normalise(expected). The file
format is described at the top of metabase_server.cpp.
"""
import collections
import os

import winebox

CLSID = "{A9E69610-B80D-11D0-B9B9-00A0C922E750}"
IID = "{70B51430-B6CA-11D0-B9B9-00A0C922E750}"
SERVER_KEY = r"HKCR\CLSID\%s\InprocServer32" % CLSID

DWORD, STRING, BINARY, EXPANDSZ, MULTISZ = 1, 2, 3, 4, 5
METADATA_INHERIT = 0x1
METADATA_ISINHERITED = 0x20
IIS_MD_UT_SERVER = 1
MD_FILTER_LOAD_ORDER = 2040
DEFAULT_ATTRIBUTES = 0
DEFAULT_USER_TYPE = IIS_MD_UT_SERVER

S_OK = 0
E_NOTIMPL = 0x80004001
E_FAIL = 0x80004005
E_INVALIDARG = 0x80070057
MD_ERROR_DATA_NOT_FOUND = 0x800CC801
REGDB_E_CLASSNOTREG = 0x80040154


def hresult_from_win32(code):
    return 0x80070000 | (code & 0xFFFF) if code else 0


ERROR_ACCESS_DENIED = hresult_from_win32(5)
ERROR_INVALID_HANDLE = hresult_from_win32(6)
ERROR_PATH_NOT_FOUND = hresult_from_win32(3)
ERROR_INSUFFICIENT_BUFFER = hresult_from_win32(122)
ERROR_PATH_BUSY = hresult_from_win32(148)
ERROR_ALREADY_EXISTS = hresult_from_win32(183)


class Item(collections.namedtuple("Item", "value data_type attributes user_type")):
    """One data item; the data type follows from the value unless given."""

    def __new__(cls, value, data_type=None, attributes=DEFAULT_ATTRIBUTES, user_type=DEFAULT_USER_TYPE):
        if data_type is None:
            data_type = _type_of(value)
        return super().__new__(cls, value, data_type, attributes, user_type)


def _type_of(value):
    if isinstance(value, str):
        return STRING
    if isinstance(value, bool) or not isinstance(value, (int, bytes, list)):
        raise TypeError("no metabase type for %r" % (value,))
    return DWORD if isinstance(value, int) else BINARY if isinstance(value, bytes) else MULTISZ


def normalise_path(path):
    """The absolute form the store uses: "/LM/W3SVC", "/" for the root."""
    parts = [p for p in path.replace("\\", "/").split("/") if p]
    return "/" + "/".join(parts)


def normalise(description):
    """A description as read_store gives it back: every path absolute, every
    parent key present, every value an Item; the root only with data. Paths
    are case-insensitive: the first spelling of a key is kept, as the DLL does."""
    out, spelling = {}, {}
    for path, items in description.items():
        key = ""
        for part in normalise_path(path).split("/")[1:]:
            if part:
                key = spelling.setdefault((key + "/" + part).upper(), key + "/" + part)
                out.setdefault(key, {})
        out.setdefault(key or "/", {}).update(
            {int(i): v if isinstance(v, Item) else Item(v) for i, v in items.items()})
    if not out.get("/", True):
        del out["/"]
    return out


def values(store):
    """{path: {identifier: value}}, for comparing values only."""
    return {path: {i: item.value for i, item in items.items()} for path, items in store.items()}


# -- the store file ---------------------------------------------------------

_ESCAPES = {"\\": "\\\\", "\t": "\\t", "\n": "\\n", "\r": "\\r"}
_UNESCAPES = {"t": "\t", "n": "\n", "r": "\r"}


def _escape(text):
    return "".join(_ESCAPES.get(c, c) for c in text)


def _unescape(text):
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            i += 1
            c = _UNESCAPES.get(text[i], text[i])
        out.append(c)
        i += 1
    return "".join(out)


def _encode_value(item):
    if item.data_type in (STRING, EXPANDSZ):
        return _escape(item.value)
    if item.data_type == DWORD:
        return str(item.value & 0xFFFFFFFF)
    if item.data_type == MULTISZ:
        # Each string ends in a NUL and the list in one more; an empty list
        # is two NULs.
        return ("".join(s + "\0" for s in item.value) or "\0").encode("utf-16-le").hex() + "0000"
    return bytes(item.value).hex()


def _decode_value(data_type, text):
    if data_type in (STRING, EXPANDSZ):
        return _unescape(text)
    if data_type == DWORD:
        return int(text, 0)
    raw = bytes.fromhex(text)
    if data_type != MULTISZ:
        return raw
    strings = raw.decode("utf-16-le").split("\0")
    while strings and strings[-1] == "":
        strings.pop()
    return strings


def store_text(description):
    lines = ["# metabase store"]
    store = normalise(description)
    for path in store:
        if path != "/":
            lines.append("key\t" + path)
        for ident, item in sorted(store[path].items()):
            lines.append("\t".join(["data", path, str(ident), str(item.attributes), str(item.user_type),
                                    str(item.data_type), _encode_value(item)]))
    return "\n".join(lines) + "\n"


def parse_store(text):
    """The description a store file holds; raises ValueError on a bad line."""
    store = {}
    for number, line in enumerate(text.lstrip("\ufeff").split("\n"), 1):
        line = line[:-1] if line.endswith("\r") else line
        if not line or line.startswith("#"):
            continue
        fields = line.split("\t")
        if fields[0] == "key" and len(fields) == 2:
            store.setdefault(normalise_path(fields[1]), {})
        elif fields[0] == "data" and len(fields) == 7:
            ident, attributes, user_type, data_type = (int(f, 0) for f in fields[2:6])
            store.setdefault(normalise_path(fields[1]), {})[ident] = Item(
                _decode_value(data_type, fields[6]), data_type, attributes, user_type)
        else:
            raise ValueError("store line %d: %r" % (number, line))
    return store


def write_store(path, description):
    """Write a store file (a host path, e.g. machine.unix(winpath))."""
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write(store_text(description))


def read_store(path):
    with open(path, encoding="utf-8", newline="") as f:
        return parse_store(f.read())


# -- the journal ---------------------------------------------------------------

def _utf8(value):
    # The DLL writes UTF-8 bytes as \u00XX escapes, one per byte.
    if isinstance(value, str):
        try:
            return value.encode("latin-1").decode("utf-8")
        except (UnicodeEncodeError, UnicodeDecodeError):
            return value
    if isinstance(value, dict):
        return {k: _utf8(v) for k, v in value.items()}
    if isinstance(value, list):
        return [_utf8(v) for v in value]
    return value


def read_journal(path, partial=False):
    """The journal's records in call order (a host path)."""
    return [_utf8(r) for r in winebox.read_jsonl(path, partial=partial)]


def calls(journal, *names):
    """The records of the named calls, or of every interface call when no
    name is given (the DLL's own Load and Save lines left out)."""
    if names:
        return [r for r in journal if r["call"] in names]
    return [r for r in journal if r["call"] not in ("Load", "Save", "DllCanUnloadNow")]


# -- environment and registration -------------------------------------------------

def failure_setting(*entries, **by_call):
    """QV_METABASE_FAIL's value: failure_setting(GetData=0x80070005) or
    failure_setting(("SetData#2", 0x80004005)) for the second SetData only."""
    pairs = list(entries) + list(by_call.items())
    return ",".join("%s=0x%08X" % (name, code & 0xFFFFFFFF) for name, code in pairs)


def standin_env(store, journal=None, fail=None):
    """The DLL's settings (Windows paths) for Machine.start(standin_env=...),
    which adds the QV_ prefix."""
    env = {"METABASE": store}
    if journal:
        env["METABASE_JOURNAL"] = journal
    if fail:
        env["METABASE_FAIL"] = fail if isinstance(fail, str) else failure_setting(**fail)
    return env


def register(machine, dll_winpath, threading_model="Both"):
    """Register the DLL (already inside the prefix) as the admin base class.
    The uninstaller's thread is a single-threaded apartment: "Both" (or
    "Apartment") lets Wine load the DLL into it directly."""
    machine.reg("add", SERVER_KEY, "/ve", "/d", dll_winpath, "/f")
    if threading_model:
        machine.reg("add", SERVER_KEY, "/v", "ThreadingModel", "/d", threading_model, "/f")


def unregister(machine):
    machine.reg("delete", r"HKCR\CLSID\%s" % CLSID, "/f")
