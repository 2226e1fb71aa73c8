#!/usr/bin/env python3
"""Proves that check_pe.py accepts a well-formed QOR3.DLL and rejects each kind of bad one, by
cross-building small stand-in DLLs with the project's QOR3.def and the qor3.rc the build configures.

Usage: check_pe_selftest.py --cc CC --cxx CXX --windres RC --objdump TOOL --source-dir DIR --work-dir DIR
Exit status 0 when every case behaves, 1 otherwise, 77 (skipped) without the cross tools.
"""
import argparse
import os
import shutil
import subprocess
import sys

FIVE = """
#include <stdint.h>
void* Qor_Open(const void* a, void* b) { (void)a; (void)b; return 0; }
int Qor_Close(void* a, void* b) { (void)a; (void)b; return 0; }
int Qor_Search(void* a, void* b) { (void)a; (void)b; return 0; }
int Qor_MemRelease(void* a) { (void)a; return 0; }
int32_t Qor_CopyDic(const char* a, int32_t b, const char* c, int32_t d, const int32_t* e,
                    int32_t f) { (void)a; (void)b; (void)c; (void)d; (void)e; (void)f; return 0; }
"""

EXTRA_EXPORT = FIVE + "__declspec(dllexport) int Qor_Debug(void) { return 1; }\n"

# C++ that pulls in libstdc++ and zlib; linked without -static it imports their DLLs.
CXX_RUNTIME = """
#include <string>
#include <zlib.h>
extern "C" {
""" + FIVE + """
int Qor_Uses(const char* s) { std::string t(s); return (int)t.size() + (int)zlibVersion()[0]; }
}
"""


def main():
    parser = argparse.ArgumentParser()
    for name in ("cc", "cxx", "windres", "objdump", "source-dir", "rc-file", "work-dir"):
        parser.add_argument("--" + name, required=True)
    args = parser.parse_args()
    for tool in (args.cc, args.cxx, args.windres, args.objdump):
        if shutil.which(tool) is None:
            print(f"not found: {tool}")
            return 77

    here = os.path.dirname(os.path.abspath(__file__))
    checker = os.path.join(here, "check_pe.py")
    deffile = os.path.join(args.source_dir, "windows", "QOR3.def")
    rcfile = args.rc_file
    work = args.work_dir
    os.makedirs(work, exist_ok=True)

    def sh(cmd):
        run = subprocess.run(cmd, capture_output=True, text=True)
        if run.returncode != 0:
            raise RuntimeError(" ".join(cmd) + "\n" + run.stdout + run.stderr)

    res = os.path.join(work, "qor3.res.o")
    sh([args.windres, "-O", "coff", "-i", rcfile, "-o", res])

    def build(name, source, lang, link, with_def=True, with_rc=True):
        src = os.path.join(work, name + (".c" if lang == "c" else ".cc"))
        out = os.path.join(work, name + ".dll")
        with open(src, "w") as f:
            f.write(source)
        compiler = args.cc if lang == "c" else args.cxx
        cmd = [compiler, "-shared", "-o", out, src]
        if with_def:
            cmd.append(deffile)
        if with_rc:
            cmd.append(res)
        sh(cmd + link)
        return out

    static = ["-static", "-static-libgcc", "-static-libstdc++", "-Wl,--kill-at"]
    cases = [
        ("good", build("good", FIVE, "c", static), ["--dll"], 0, "OK"),
        ("extra export", build("extra", EXTRA_EXPORT, "c", static), ["--dll"], 1,
         "unexpected exports: Qor_Debug"),
        ("no version resource", build("norc", FIVE, "c", static, with_rc=False), ["--dll"], 1,
         "no version resource"),
        ("runtime and zlib DLLs", build("dynamic", CXX_RUNTIME, "cxx", ["-lz"], with_def=False),
         [], 1, "imports a non-system DLL: zlib1.dll"),
    ]
    failures = 0
    for label, dll, flags, want_rc, want_text in cases:
        run = subprocess.run([sys.executable, checker, "--objdump", args.objdump] + flags + [dll],
                             capture_output=True, text=True)
        ok = run.returncode == want_rc and want_text in run.stdout
        if label == "runtime and zlib DLLs":
            ok = ok and "libstdc++-6.dll" in run.stdout
        print(f"{'ok  ' if ok else 'FAIL'} {label}: exit {run.returncode}, expected {want_rc}")
        if not ok:
            failures += 1
            print(run.stdout + run.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
