#!/usr/bin/env python3
"""Runs the host session (qor3_host.c) on the native library and on QOR3.DLL under wine, on
copies of one dictionary set built by the native qor-mkdict from data/, and compares the
answer files byte for byte. Under wine the session runs once for each host program of the
cross build: qor3_host.exe loads the DLL with LoadLibraryA, qor3_host_linked.exe is linked
with the MinGW import library libQOR3.dll.a and qor3_host_msvclib.exe with the MSVC-style
QOR3.lib.

Usage: run_host.py --mkdict TOOL --data DIR --native-host EXE --native-library LIB
                   --work-dir DIR [--win32-dir DIR] [--wine LOADER] [--windows-tests EXE]
                   [--native-qor TOOL] [--native-only] [--skip-missing]
  --win32-dir     cross build tree (32- or 64-bit) holding QOR3.DLL and the host programs;
                  the wine prefix is $WINEPREFIX when set (scripts/wine.sh sets it), else one
                  inside the tree
  --wine          the wine loader that runs the programs (default: wine)
  --native-qor    also run the cross build's tools/qor.exe on the set under a Japanese
                  directory name and compare its output with this native qor's
  --windows-tests the cross-built test exe: its code page 932 path tests and its file time
                  test run under wine as well, with the Japanese code page and a zone
                  with summer time (Europe/Berlin)
  --native-only   run the native session only
  --skip-missing  exit 77 (a skipped test) when the cross build or wine is missing
Under wine the host runs with the Japanese ANSI code page (932) as on the hosts' machines,
when a ja_JP.UTF-8 locale can be made with localedef; otherwise with wine's default.
Exit status 0 when every check passed and the answers agree, 1 when not, 77 when skipped.
"""
import argparse
import difflib
import os
import shutil
import subprocess
import sys

SKIP = 77
TIMEOUT = 300

# (dictionary directory, TSV, qor-mkdict options)
DICTIONARIES = [
    ("dict1", "dict1_0101.tsv", ["--number", "101", "--edition1", "20020801"]),
    ("dict2", "dict2_0101_old.tsv", ["--number", "101", "--edition1", "20020701"]),
    ("dict2", "dict2_0102.tsv", ["--number", "102", "--edition1", "20020901", "--edition2", "3"]),
    ("corrections", "corrections.tsv", ["--correction"]),
]


def build_set(mkdict, data, target):
    shutil.rmtree(target, ignore_errors=True)
    for directory, tsv, options in DICTIONARIES:
        out = os.path.join(target, directory)
        os.makedirs(out, exist_ok=True)
        subprocess.run([mkdict, *options, "--area-codes", os.path.join(data, "area_codes.txt"),
                        os.path.join(data, tsv), out], check=True, stdout=subprocess.DEVNULL,
                       timeout=TIMEOUT)


def fresh_copy(dict_set, target):
    shutil.rmtree(target, ignore_errors=True)
    shutil.copytree(dict_set, target)  # copy2: the files keep their times
    return target


def run_host(command, cwd, env, name):
    print(f"run_host: {name}: {' '.join(command)}", flush=True)
    done = subprocess.run(command, cwd=cwd, env=env, stdin=subprocess.DEVNULL, timeout=TIMEOUT)
    if done.returncode != 0:
        print(f"run_host: the {name} session failed (exit {done.returncode})")
        return None
    with open(os.path.join(cwd, "answers.txt"), "rb") as f:
        return f.read()


def japanese_locale(work):
    """LOCPATH holding ja_JP.UTF-8, made with localedef; None when that is not possible."""
    path = os.path.join(work, "locale")
    if os.path.isdir(os.path.join(path, "ja_JP.UTF-8")):
        return path
    localedef = shutil.which("localedef")
    if not localedef:
        return None
    os.makedirs(path, exist_ok=True)
    done = subprocess.run([localedef, "-i", "ja_JP", "-f", "UTF-8",
                           os.path.join(path, "ja_JP.UTF-8")],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=TIMEOUT)
    return path if done.returncode in (0, 1) and os.path.isdir(
        os.path.join(path, "ja_JP.UTF-8")) else None


def wine_environment(win32_dir, work, loader):
    env = dict(os.environ)
    env.setdefault("WINEPREFIX", os.path.join(win32_dir, "wineprefix"))
    env.setdefault("WINEARCH", "win32")
    env.update(WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    locale = japanese_locale(work)
    if locale:
        env.update(LOCPATH=locale, LC_ALL="ja_JP.UTF-8")
    else:
        print("run_host: no ja_JP.UTF-8 locale, wine runs with its default code page")
    if not os.path.isfile(os.path.join(env["WINEPREFIX"], "system.reg")):
        print(f"run_host: creating wine prefix {env['WINEPREFIX']}", flush=True)
        os.makedirs(env["WINEPREFIX"], exist_ok=True)
        subprocess.run([loader, "wineboot", "-i"], env=env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=TIMEOUT)
        subprocess.run(["wineserver", "-w"], env=env, timeout=TIMEOUT)
    return env


def show_difference(native, wine):
    a = native.decode("cp932", "replace").splitlines()
    b = wine.decode("cp932", "replace").splitlines()
    for line in difflib.unified_diff(a, b, "native", "wine", lineterm="", n=1):
        print(line)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mkdict", required=True)
    parser.add_argument("--data", required=True)
    parser.add_argument("--native-host", required=True)
    parser.add_argument("--native-library", required=True)
    parser.add_argument("--work-dir", required=True)
    parser.add_argument("--win32-dir")
    parser.add_argument("--wine", default="wine")
    parser.add_argument("--native-qor")
    parser.add_argument("--windows-tests")
    parser.add_argument("--native-only", action="store_true")
    parser.add_argument("--skip-missing", action="store_true")
    args = parser.parse_args()

    hosts = []
    if not args.native_only:
        missing = "no --win32-dir"
        if args.win32_dir:
            hosts = [os.path.join(os.path.abspath(args.win32_dir), exe) for exe in
                     ("qor3_host.exe", "qor3_host_linked.exe", "qor3_host_msvclib.exe")]
            dll = os.path.join(args.win32_dir, "QOR3.DLL")
            wanted = [*hosts, dll] + ([args.windows_tests] if args.windows_tests else [])
            absent = [p for p in wanted if not os.path.isfile(p)]
            absent += [t for t in (args.wine, "wineserver") if not shutil.which(t)]
            missing = ", ".join(absent)
        if missing:
            print(f"run_host: cannot run under wine: {missing}")
            return SKIP if args.skip_missing else 1

    work = os.path.abspath(args.work_dir)
    os.makedirs(work, exist_ok=True)
    dict_set = os.path.join(work, "set")
    build_set(args.mkdict, args.data, dict_set)

    native = run_host([os.path.abspath(args.native_host), os.path.abspath(args.native_library),
                       "answers.txt"], fresh_copy(dict_set, os.path.join(work, "native")),
                      None, "native")
    if native is None:
        return 1
    if args.native_only:
        print(f"run_host: native session passed ({len(native)} bytes of answers)")
        return 0

    env = wine_environment(args.win32_dir, work, args.wine)
    for host in hosts:
        name = os.path.basename(host)
        wine = run_host([args.wine, host, "QOR3.DLL", "answers.txt"],
                        fresh_copy(dict_set, os.path.join(work, name)), env, name)
        if wine is None:
            return 1
        if wine != native:
            print(f"run_host: the answers of {name} under wine differ from the native ones:")
            show_difference(native, wine)
            return 1
    print(f"run_host: all sessions passed, answers identical ({len(native)} bytes)")
    if args.native_qor:
        # qor.exe takes UTF-8 arguments and hands the directory to the system in its code page:
        # a set under a Japanese directory name answers as the native tool does.
        japanese = fresh_copy(dict_set, os.path.join(work, "辞書セット"))
        qor_exe = os.path.join(os.path.abspath(args.win32_dir), "tools", "qor.exe")
        command = ["regions", "--dir", os.path.join(japanese, "dict1")]
        expected = subprocess.run([args.native_qor, *command], capture_output=True,
                                  timeout=TIMEOUT)
        got = subprocess.run([args.wine, qor_exe, *command], capture_output=True, env=env,
                             stdin=subprocess.DEVNULL, timeout=TIMEOUT)
        if got.returncode != 0 or got.stdout != expected.stdout or not expected.stdout:
            print(f"run_host: qor.exe under a Japanese directory name: exit {got.returncode}\n"
                  + got.stdout.decode(errors="replace") + got.stderr.decode(errors="replace"))
            return 1
        print("run_host: qor.exe read the set under a Japanese directory name")
    if args.windows_tests:
        command = [args.wine, args.windows_tests, "--gtest_color=no",
                   "--gtest_filter=Cp932Path.*:*Cp932DirectoryTest.*:PlatformFileTimeTest.*"]
        print(f"run_host: TZ=Europe/Berlin {' '.join(command)}", flush=True)
        done = subprocess.run(command, cwd=os.path.dirname(args.windows_tests),
                              env=dict(env, TZ="Europe/Berlin"), stdin=subprocess.DEVNULL,
                              timeout=TIMEOUT)
        if done.returncode != 0:
            print(f"run_host: the Windows path and file time tests failed (exit {done.returncode})")
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
