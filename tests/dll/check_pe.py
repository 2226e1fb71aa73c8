#!/usr/bin/env python3
"""Checks a cross-built PE file: QOR3.DLL exports exactly the five entry points and carries its
version resource; every checked file imports only Windows system DLLs (everything else static).

Usage: check_pe.py [--objdump TOOL] [--machine i386|x86-64] [--dll] [--skip-missing] FILE
  --machine       the PE file's machine (default i386: 32-bit x86)
  --dll           also check the export table and the version resource of QOR3.DLL
  --skip-missing  exit 77 (a skipped test) when FILE or the objdump tool does not exist
Exit status 0 when the file passes, 1 when it does not, 77 when skipped.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys

EXPECTED_EXPORTS = {"Qor_Open", "Qor_Close", "Qor_Search", "Qor_MemRelease", "Qor_CopyDic"}

# DLLs that ship with every Windows installation. The MinGW runtime DLLs (libgcc_s_*,
# libstdc++-6, libwinpthread-1) and zlib1.dll are deliberately absent: they must be linked in.
SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "advapi32.dll", "msvcrt.dll", "ntdll.dll", "shell32.dll",
    "ole32.dll", "oleaut32.dll", "gdi32.dll", "ws2_32.dll", "shlwapi.dll", "version.dll",
    "bcrypt.dll", "crypt32.dll", "secur32.dll", "psapi.dll", "dbghelp.dll", "ucrtbase.dll",
}
SKIP = 77


def is_system_dll(name):
    lower = name.lower()
    return lower in SYSTEM_DLLS or (lower.startswith("api-ms-win-") and lower.endswith(".dll"))


def parse_objdump(text):
    """Returns (imported DLL names, exported names, export address count, has version resource)."""
    imports = re.findall(r"^\s*DLL Name:\s*(\S+)\s*$", text, re.M)
    exports = []
    address_count = 0
    section = None
    for line in text.splitlines():
        if line.startswith("Export Address Table -- Ordinal Base"):
            section = "addresses"
            continue
        if line.startswith("[Ordinal/Name Pointer] Table"):
            section = "names"
            continue
        if section and not line.strip():
            section = None
            continue
        if section == "addresses" and re.match(r"^\s*\[\s*\d+\]", line):
            address_count += 1
        elif section == "names":
            m = re.match(r"^\s*\[\s*\d+\]\s+(\S+)\s*$", line)
            if m:
                exports.append(m.group(1))
    # Resource type 16 (RT_VERSION) among the type-level entries of the .rsrc directory (the
    # levels below are indented further).
    has_version = re.search(r"^[0-9a-f]+ {3}Entry: ID: 0x0*10,", text, re.M) is not None
    return imports, exports, address_count, has_version


def utf16_value(data, key):
    """The text that follows key in a StringFileInfo block (UTF-16LE), or None."""
    needle = key.encode("utf-16-le") + b"\0\0"
    at = data.find(needle)
    if at < 0:
        return None
    at += len(needle)
    at += (-at) % 4  # values are 32-bit aligned
    end = at
    while end + 1 < len(data) and data[end:end + 2] != b"\0\0":
        end += 2
    return data[at:end].decode("utf-16-le", "replace")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--objdump", default="i686-w64-mingw32-objdump")
    parser.add_argument("--machine", choices=("i386", "x86-64"), default="i386")
    parser.add_argument("--dll", action="store_true")
    parser.add_argument("--skip-missing", action="store_true")
    parser.add_argument("file")
    args = parser.parse_args()

    tool = shutil.which(args.objdump)
    if not os.path.isfile(args.file) or tool is None:
        what = args.file if not os.path.isfile(args.file) else args.objdump
        print(f"not found: {what}")
        return SKIP if args.skip_missing else 1

    run = subprocess.run([tool, "-p", args.file], capture_output=True, text=True)
    if run.returncode != 0:
        print(run.stderr, end="")
        print(f"FAIL: {args.objdump} -p {args.file} exited {run.returncode}")
        return 1
    imports, exports, address_count, has_version = parse_objdump(run.stdout)

    problems = []
    if not re.search(rf"file format pei-{args.machine}\b", run.stdout):
        problems.append(f"not a {args.machine} PE file")
    if not imports:
        problems.append("no import table found")
    for name in imports:
        if not is_system_dll(name):
            problems.append(f"imports a non-system DLL: {name}")
    if args.dll:
        extra = sorted(set(exports) - EXPECTED_EXPORTS)
        missing = sorted(EXPECTED_EXPORTS - set(exports))
        if extra:
            problems.append("unexpected exports: " + ", ".join(extra))
        if missing:
            problems.append("missing exports: " + ", ".join(missing))
        if len(exports) != len(set(exports)):
            problems.append("an export name appears twice")
        if address_count != len(EXPECTED_EXPORTS):
            problems.append(f"{address_count} export addresses, expected {len(EXPECTED_EXPORTS)}"
                            " (ordinal-only exports?)")
        with open(args.file, "rb") as f:
            data = f.read()
        if not has_version:
            problems.append("no version resource")
        for key, want in (("FileVersion", "3.00"), ("ProductVersion", "3.00"),
                          ("ProductName", "qor3")):
            got = utf16_value(data, key)
            if got != want:
                problems.append(f"version resource {key} is {got!r}, expected {want!r}")

    print(f"{args.file}: imports {', '.join(imports) or '(none)'}")
    if args.dll:
        print(f"{args.file}: exports {', '.join(exports) or '(none)'}")
    for p in problems:
        print(f"FAIL: {p}")
    if problems:
        return 1
    print("OK")
    return 0


if __name__ == "__main__":
    sys.exit(main())
