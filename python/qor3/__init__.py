"""qor3 from Python: the listings search engine's five C functions through ctypes.

Texts are Python strings in and out; the library works in code page 932. A dictionary set is
opened by creating a DictionarySet and closed by close() or the end of a with block; only one
set can be open in a process at a time.

>>> import qor3
>>> with qor3.DictionarySet() as listings:      # $QOR_DIR, as for the qor command
...     hit = listings.number("03-7908-6562")[0]
...     print(hit.name, hit.region_code, hit.region_name2, hit.address1)
...     print([h.name for h in listings.name(13101, "佐藤*", address1="丸の内")])
株式会社三瀬建設 13101 千代田区 二番町
['佐藤　義隆']

The library is libqor3.so.3 found, in this order, at $QOR3_LIBRARY, in this package's
directory (where the wheel carries it) or up to three directories above it (an installed
prefix), in build/ of the source tree, and through the system's loader.
"""
import ctypes
import os
import re
import unicodedata
from dataclasses import dataclass
from pathlib import Path

__all__ = ["DictionarySet", "Listing", "Region", "QorError", "install", "LIBRARY_VERSION"]



def _versions():
    """The project version and the library's version text: from _version.py, which installed
    copies and wheels carry, or else from the VERSION file of the source tree."""
    try:
        from . import _version
        return _version.PROJECT_VERSION, _version.LIBRARY_VERSION
    except ImportError:
        text = (Path(__file__).resolve().parents[2] / "VERSION").read_text(encoding="utf-8")
        values = dict(line.split("=", 1) for line in text.splitlines()
                      if "=" in line and not line.startswith("#"))
        return values["PROJECT_VERSION"], values["LIBRARY_VERSION"]


__version__, LIBRARY_VERSION = _versions()

# The longest directory path the library takes (it adds a closing slash).
_MAX_PATH = 191


class QorError(Exception):
    """The library refused a request or found no dictionary set."""


class _OpenRequest(ctypes.Structure):
    _fields_ = [("directory1Length", ctypes.c_uint32), ("directory1", ctypes.c_char * 256),
                ("directory2Length", ctypes.c_uint32), ("directory2", ctypes.c_char * 256),
                ("correctionDirectoryLength", ctypes.c_uint32),
                ("correctionDirectory", ctypes.c_char * 256)]


class _RegionInfo(ctypes.Structure):
    _fields_ = [("regionCode", ctypes.c_int32),
                ("name1Length", ctypes.c_uint32), ("name1", ctypes.c_void_p),
                ("name2Length", ctypes.c_uint32), ("name2", ctypes.c_void_p),
                ("dictNumber", ctypes.c_int32)]


class _OpenResult(ctypes.Structure):
    _fields_ = [("hostArea", ctypes.c_uint8 * 24), ("catalog1Loaded", ctypes.c_uint32),
                ("catalog2Loaded", ctypes.c_uint32), ("correctionFilePresent", ctypes.c_uint32),
                ("regions", ctypes.POINTER(ctypes.POINTER(_RegionInfo))),
                ("regionCount", ctypes.c_uint32), ("regionPool", ctypes.c_void_p)]


_TEXT_FIELDS = ("number", "postalCode", "name", "regionName1", "regionName2", "address1",
                "address2")


class _SearchResult(ctypes.Structure):
    _fields_ = [("entryKind", ctypes.c_int32), ("regionCode", ctypes.c_int32)] + [
        f for name in _TEXT_FIELDS
        for f in ((name + "Length", ctypes.c_uint32), (name, ctypes.c_void_p))]


class _SearchRequest(ctypes.Structure):
    _fields_ = [("mode", ctypes.c_uint32), ("kindFilter", ctypes.c_uint32),
                ("regionCode", ctypes.c_uint32),
                ("address1Length", ctypes.c_uint32), ("address1", ctypes.c_char * 80),
                ("address2Length", ctypes.c_uint32), ("address2", ctypes.c_char * 80),
                ("namePatternLength", ctypes.c_uint32), ("namePattern", ctypes.c_char * 160),
                ("keyLength", ctypes.c_uint32), ("key", ctypes.c_char * 40),
                ("resultCount", ctypes.c_uint32),
                ("results", ctypes.POINTER(ctypes.POINTER(_SearchResult))),
                ("resultPool", ctypes.c_void_p)]


@dataclass(frozen=True)
class Listing:
    """One listing a search found; kind is 1 for a person, 2 for a business."""
    kind: int
    region_code: int
    number: str
    postal_code: str
    name: str
    region_name1: str
    region_name2: str
    address1: str
    address2: str


@dataclass(frozen=True)
class Region:
    """One region of the open set and the number of the dictionary that holds it."""
    code: int
    name1: str
    name2: str
    dict_number: int


def _library_path():
    env = os.environ.get("QOR3_LIBRARY")
    if env:
        return env
    here = Path(__file__).resolve().parent
    places = [here, *list(here.parents)[:3], here.parent.parent / "build"]
    for place in places:
        for name in ("libqor3.so.3", "libqor3.so"):
            if (place / name).is_file():
                return str(place / name)
    return "libqor3.so.3"


_lib = None


def _library():
    global _lib
    if _lib is None:
        lib = ctypes.CDLL(_library_path())
        lib.Qor_Open.argtypes = [ctypes.POINTER(_OpenRequest), ctypes.POINTER(_OpenResult)]
        lib.Qor_Open.restype = ctypes.c_void_p
        lib.Qor_Close.argtypes = [ctypes.c_void_p, ctypes.POINTER(_OpenResult)]
        lib.Qor_Search.argtypes = [ctypes.c_void_p, ctypes.POINTER(_SearchRequest)]
        lib.Qor_MemRelease.argtypes = [ctypes.POINTER(_SearchRequest)]
        lib.Qor_CopyDic.argtypes = [ctypes.c_char_p, ctypes.c_int32, ctypes.c_char_p,
                                    ctypes.c_int32, ctypes.POINTER(ctypes.c_int32),
                                    ctypes.c_int32]
        lib.Qor_CopyDic.restype = ctypes.c_int32
        _lib = lib
    return _lib


# Characters that code page 932 holds under another Unicode value.
_LOOK_ALIKES = str.maketrans({0x301C: 0xFF5E, 0x2212: 0xFF0D, 0x2014: 0x2015, 0x2016: 0x2225,
                              0x00A2: 0xFFE0, 0x00A3: 0xFFE1, 0x00A5: 0xFFE5, 0x00A6: 0xFFE4,
                              0x00AC: 0xFFE2, 0x203E: 0xFFE3, 0x00A0: 0x0020})
_WIDEN = str.maketrans({c: c + 0xFEE0 for c in range(0x21, 0x7F)} | {0x20: 0x3000})
_HALF_WIDTH_KANA = re.compile("[\uff61-\uff9f]+")
_double_byte_codes = None


def _double_byte(ch):
    """The code of ch in the two-byte lead ranges 0x81..0x9F, 0xE0..0xEF (where the engine
    reads two-byte characters), for a character the code page also has at 0xFA..0xFC."""
    global _double_byte_codes
    if _double_byte_codes is None:
        _double_byte_codes = {}
        for lead in (*range(0x81, 0xA0), *range(0xE0, 0xF0)):
            for trail in (*range(0x40, 0x7F), *range(0x80, 0xFD)):
                code = bytes((lead, trail))
                try:
                    _double_byte_codes.setdefault(code.decode("cp932"), code)
                except UnicodeDecodeError:
                    pass
    return _double_byte_codes.get(ch)


def _cp932(text, what, capacity, full_width=False):
    """text as code page 932 bytes for a request field, or ValueError naming what is wrong."""
    if not isinstance(text, str):
        raise TypeError(f"{what} must be a str, not {type(text).__name__}")
    text = unicodedata.normalize("NFC", text).translate(_LOOK_ALIKES)
    if full_width:
        # Names and address text 1 are stored in full-width forms.
        text = _HALF_WIDTH_KANA.sub(lambda m: unicodedata.normalize("NFKC", m.group()),
                                    text.translate(_WIDEN))
    out = bytearray()
    for ch in text:
        if ord(ch) < 0x20 or ord(ch) == 0x7F or unicodedata.category(ch) == "Co":
            raise ValueError(f"{what} {text!r}: character U+{ord(ch):04X} cannot be stored")
        try:
            code = ch.encode("cp932")
        except UnicodeEncodeError:
            raise ValueError(f"{what} {text!r}: character U+{ord(ch):04X} is not in code page "
                             "932") from None
        if len(code) == 2 and code[0] >= 0xF0:
            code = _double_byte(ch)
            if code is None:
                raise ValueError(f"{what} {text!r}: character U+{ord(ch):04X} cannot be stored")
        out += code
    if len(out) > capacity:
        raise ValueError(f"{what} {text!r}: {len(out)} bytes in code page 932, at most "
                         f"{capacity}")
    return bytes(out)


def _text(address, length):
    return ctypes.string_at(address, length).decode("cp932", errors="replace") if length else ""


def _path(path, what):
    data = os.fsencode(path)
    if not data or b"\0" in data or len(data) > _MAX_PATH:
        raise ValueError(f"{what} {path!r}: a path of 1 to {_MAX_PATH} bytes is needed")
    if not os.path.isdir(data):
        raise FileNotFoundError(f"{what} {path!r} is not a directory")
    return data


def _check_key(key):
    if not isinstance(key, str):
        raise TypeError(f"number must be a str, not {type(key).__name__}")
    if not re.fullmatch(r"[0-9-]*", key):
        raise ValueError(f"bad number {key!r}: only digits and hyphens are allowed "
                         "(03-1234-5678)")
    digits = key.replace("-", "")
    if len(digits) not in (9, 10) or digits[0] != "0" or len(key) > 40:
        raise ValueError(f"bad number {key!r}: 9 or 10 digits starting with 0 (03-1234-5678)")
    return key.encode("ascii")


_open_set = None


class DictionarySet:
    """An open dictionary set: dictionary directories 1 and 2 and the directory of the
    correction file qor5001.dct. Without arguments, $QOR_DIR serves as dictionary and
    correction directory."""

    def __init__(self, directory=None, directory2=None, corrections=None):
        global _open_set
        if directory is None and directory2 is None:
            directory = os.environ.get("QOR_DIR") or None
            if directory is None:
                raise ValueError("no dictionary directory given and QOR_DIR is not set")
        if corrections is None:
            corrections = directory
        if _open_set is not None:
            raise QorError("another DictionarySet is open; close it first (the library "
                           "holds one per process)")
        request = _OpenRequest()
        for role, field, path in (("dictionary directory", "directory1", directory),
                                  ("dictionary directory 2", "directory2", directory2),
                                  ("correction directory", "correctionDirectory", corrections)):
            if path is not None:
                data = _path(path, role)
                setattr(request, field, data)
                setattr(request, field + "Length", len(data))
        self._result = _OpenResult()
        handle = _library().Qor_Open(ctypes.byref(request), ctypes.byref(self._result))
        if not handle:
            raise QorError(f"no dictionary catalog in {directory!r}"
                           + (f" or {directory2!r}" if directory2 else "")
                           + f" and no correction file qor5001.dct in {corrections!r}")
        self._handle = handle
        _open_set = self

    def close(self):
        """Closes the set; closing twice does nothing."""
        global _open_set
        if self._handle:
            _library().Qor_Close(self._handle, ctypes.byref(self._result))
            self._handle = None
            _open_set = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        if getattr(self, "_handle", None):
            self.close()

    def _search(self, request):
        if not self._handle:
            raise QorError("the dictionary set is closed")
        lib = _library()
        lib.Qor_Search(self._handle, ctypes.byref(request))
        try:
            found = []
            for i in range(request.resultCount):
                r = request.results[i].contents
                texts = [_text(getattr(r, f), getattr(r, f + "Length")) for f in _TEXT_FIELDS]
                found.append(Listing(r.entryKind, r.regionCode, *texts))
            return found
        finally:
            lib.Qor_MemRelease(ctypes.byref(request))

    def number(self, number):
        """The listings with this telephone number (9 or 10 digits, hyphens allowed)."""
        key = _check_key(number)
        request = _SearchRequest(mode=2, keyLength=len(key), key=key)
        return self._search(request)

    def name(self, region, pattern, address1="", address2="", kind=3):
        """The listings of a region whose name matches pattern (* any run of characters,
        ? one character), optionally whose address texts start with address1 / address2;
        kind 1 persons, 2 businesses, 3 both."""
        if isinstance(region, bool) or not isinstance(region, int) or not 0 <= region <= 49999:
            raise ValueError(f"bad region code {region!r}: a number from 0 to 49999")
        if kind not in (1, 2, 3):
            raise ValueError(f"bad kind {kind!r}: 1 persons, 2 businesses, 3 both")
        if not isinstance(pattern, str) or not pattern.strip(" *?\u3000\uff0a\uff1f"):
            raise ValueError(f"pattern {pattern!r} is blank: it needs a character besides the "
                             "wildcards * ? and spaces")
        if region not in {r.code for r in self.regions()}:
            raise ValueError(f"unknown region {region:05d}: the dictionary set does not cover "
                             "it (regions() lists them)")
        name = _cp932(pattern, "pattern", 160, full_width=True)
        a1 = _cp932(address1, "address1", 80, full_width=True)
        a2 = _cp932(address2, "address2", 80)
        request = _SearchRequest(mode=1, kindFilter=kind, regionCode=region,
                                 address1Length=len(a1), address1=a1, address2Length=len(a2),
                                 address2=a2, namePatternLength=len(name), namePattern=name)
        return self._search(request)

    def regions(self):
        """The regions the set covers, by ascending code."""
        if not self._handle:
            raise QorError("the dictionary set is closed")
        result = self._result
        return [Region(r.regionCode, _text(r.name1, r.name1Length),
                       _text(r.name2, r.name2Length), r.dictNumber)
                for r in (result.regions[i].contents for i in range(result.regionCount))]


def install(source, destination, numbers):
    """Copies the dictionaries qorNNNN.dct with these numbers (0 to 9998; 5001 is the
    correction file) from source to destination and rebuilds the destination's catalog.
    Returns how many were copied; a number out of range or a missing file is an error."""
    src = _path(source, "source directory")
    dst = _path(destination, "destination directory")
    numbers = list(numbers)
    for n in numbers:
        if isinstance(n, bool) or not isinstance(n, int) or not 0 <= n <= 9998:
            raise ValueError(f"bad dictionary number {n!r}: 0 to 9998")
        if not os.path.isfile(os.path.join(src, b"qor%04d.dct" % n)):
            raise FileNotFoundError(f"dictionary qor{n:04d}.dct is not in {source!r}")
    array = (ctypes.c_int32 * len(numbers))(*numbers)
    copied = _library().Qor_CopyDic(src, len(src), dst, len(dst), array, len(numbers))
    if copied != len(numbers):
        raise QorError(f"{len(numbers) - max(copied, 0)} of {len(numbers)} dictionaries could "
                       f"not be copied into {destination!r}")
    return copied
