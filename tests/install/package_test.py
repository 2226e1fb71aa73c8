#!/usr/bin/env python3
"""The release packages in dist/ as users take them: each archive holds exactly the files the
README lists for it; the Debian package, unpacked into a scratch root, runs `qor --version`,
builds a dictionary with its default area code lists, serves the README's C program built
through pkg-config and the Python doctest, and lintian finds no error in it; the wheel,
installed into a fresh virtual environment without an index, passes the doctest and the
Python tests with no other copy of the library.

Usage: package_test.py --dist DIR --source-dir DIR --sample-dir DIR --work-dir DIR
                       [--no-windows] [--no-wheel]"""
import argparse
import fnmatch
import glob
import os
import re
import shutil
import subprocess
import sys
import tarfile
import zipfile

ARGS = None
FAILURES = []


def run(args, env=None, cwd=None):
    p = subprocess.run(args, capture_output=True, timeout=900, env=env, cwd=cwd)
    if p.returncode != 0:
        raise RuntimeError(f"FAILED ({p.returncode}): {' '.join(map(str, args))}\n"
                           f"{p.stdout.decode(errors='replace')}{p.stderr.decode(errors='replace')}")
    return p.stdout.decode(errors="replace")


def check(condition, message):
    if not condition:
        FAILURES.append(message)


def versions():
    with open(os.path.join(ARGS.source_dir, "VERSION"), encoding="utf-8") as f:
        return dict(line.strip().split("=", 1) for line in f if re.match(r"^[A-Z_]+=", line))


def readme_contents():
    """{archive name: [patterns]} from the README's ```contents ARCHIVE blocks."""
    with open(os.path.join(ARGS.source_dir, "README.md"), encoding="utf-8") as f:
        blocks = re.findall(r"^```contents (\S+)\n(.*?)^```$", f.read(), re.M | re.S)
    return {name: text.split() for name, text in blocks}


def archive_files(path):
    """The files and symbolic links an archive holds, below its top directory for the zips and
    the tar.gz, below / for the Debian package."""
    if path.endswith(".zip"):
        with zipfile.ZipFile(path) as z:
            names = [n for n in z.namelist() if not n.endswith("/")]
    elif path.endswith(".tar.gz"):
        with tarfile.open(path) as t:
            names = [m.name for m in t.getmembers() if not m.isdir()]
    else:
        lines = [line.split(None, 5) for line in run(["dpkg-deb", "-c", path]).splitlines()]
        return [f[5].split(" -> ")[0][2:] for f in lines if not f[0].startswith("d")]
    top = os.path.basename(path)[:-len(".zip" if path.endswith(".zip") else ".tar.gz")]
    check(all(n.startswith(top + "/") for n in names), f"{path}: not all below {top}/")
    return [n[len(top) + 1:] for n in names]


def test_contents(expected):
    for name, patterns in expected.items():
        path = os.path.join(ARGS.dist, name)
        if not os.path.isfile(path):
            check(False, f"missing package {name}")
            continue
        files = archive_files(path)
        for pattern in patterns:
            check(len(fnmatch.filter(files, pattern)) == 1,
                  f"{name}: {pattern} matches {fnmatch.filter(files, pattern)}")
        extra = [f for f in files if not any(fnmatch.fnmatch(f, p) for p in patterns)]
        check(not extra, f"{name}: files the README does not list: {extra}")


def test_deb(deb, v):
    root = os.path.join(ARGS.work_dir, "root")
    run(["dpkg-deb", "-x", deb, root])
    usr = os.path.join(root, "usr")
    depends = run(["dpkg-deb", "-f", deb, "Depends"])
    for package in ("libc6", "libstdc++6", "zlib1g"):
        check(re.search(rf"\b{re.escape(package)} \(>=", depends),
              f"Depends lacks {package}: {depends}")
    out = run([os.path.join(usr, "bin", "qor"), "--version"])
    check(out.strip() == f"qor {v['PROJECT_VERSION']} (qor3 library {v['LIBRARY_VERSION']})",
          f"qor --version: {out}")

    # A dictionary from the test listings with the installed area code lists: numbers come
    # back hyphenated.
    set_dir = os.path.join(ARGS.work_dir, "set")
    os.makedirs(set_dir)
    run([os.path.join(usr, "bin", "qor-mkdict"), "--number", "1301", "--edition1", "20200115",
         os.path.join(ARGS.source_dir, "tests", "cli", "data", "listings.tsv"), set_dir])

    # The README's C program, built through the package's pkg-config file.
    with open(os.path.join(ARGS.source_dir, "README.md"), encoding="utf-8") as f:
        program_text = re.findall(r"^```c\n(.*?)^```$", f.read(), re.M | re.S)[0]
    source = os.path.join(ARGS.work_dir, "hello_qor3.c")
    with open(source, "w", encoding="utf-8") as f:
        f.write(program_text)
    pc_dirs = glob.glob(os.path.join(usr, "lib*", "**", "pkgconfig"), recursive=True)
    env = dict(os.environ, PKG_CONFIG_PATH=os.pathsep.join(pc_dirs))
    flags = run(["pkg-config", "--cflags", "--libs", "qor3"], env=env).split()
    check(any(flag.startswith("-L" + usr) for flag in flags), f"pkg-config qor3: {flags}")
    program = os.path.join(ARGS.work_dir, "hello_qor3")
    libdir = os.path.normpath(next(f[2:] for f in flags if f.startswith("-L")))
    run(["cc", "-std=c99", "-Wall", "-Werror", source, *flags, "-Wl,-rpath," + libdir,
         "-o", program], env=env)
    out = run([program, set_dir, "0332111111"]).encode().decode("utf-8", "replace")
    check(out.startswith("03-3211-1111\t"), f"hello_qor3 on the installed library: {out!r}")

    # The doctest of the installed Python package, on the installed library.
    packages = glob.glob(os.path.join(usr, "lib", "python3*", "dist-packages"))
    doctest_run(packages[0] if packages else usr, "/usr/bin/python3",
                dict(os.environ, PYTHONPATH=os.pathsep.join(packages)), libdir)

    out = subprocess.run(["lintian", "--no-tag-display-limit", deb], capture_output=True,
                         text=True)
    errors = [line for line in out.stdout.splitlines() if line.startswith("E:")]
    check(not errors and out.returncode in (0, 1) and not out.stderr.strip().startswith("E"),
          "lintian:\n" + out.stdout + out.stderr)


def doctest_run(site, python, env, library_dir, tests=False):
    """The package's doctest (and with tests the Python tests) on the sample set, checking that
    the package and library loaded are those under site and library_dir."""
    env = {k: val for k, val in env.items() if k not in ("QOR3_LIBRARY", "QOR_DIR")}
    env.update(QOR_DIR=os.path.join(ARGS.sample_dir, "dict"), QOR3_SAMPLE_DIR=ARGS.sample_dir)
    out = run([python, "-c", "import qor3; print(qor3.__file__); print(qor3._library_path())"],
              env=env, cwd=ARGS.work_dir).split("\n")
    check(out[0].startswith(site) and out[1].startswith(library_dir),
          f"{python} loads {out[:2]}, not the package under {site} and the library of "
          f"{library_dir}")
    package = os.path.dirname(out[0])
    args = [python, "-m", "pytest", "-q", "-p", "no:cacheprovider", "--doctest-modules", package]
    if tests:
        args.append(os.path.join(ARGS.source_dir, "tests", "python"))
    out = run(args, env=env, cwd=ARGS.work_dir)
    check(re.search(r"\b\d+ passed", out) and "skipped" not in out, f"pytest: {out}")


def test_wheel(wheel):
    check(wheel.endswith("-py3-none-linux_x86_64.whl"), f"wheel tag: {wheel}")
    venv = os.path.join(ARGS.work_dir, "venv")
    # The system's site packages give pytest only; the package and library come from the wheel.
    run(["/usr/bin/python3", "-m", "venv", "--system-site-packages", venv])
    python = os.path.join(venv, "bin", "python")
    run([python, "-m", "pip", "install", "--quiet", "--no-index", "--no-deps", wheel])
    site = run([python, "-c", "import sysconfig; print(sysconfig.get_path('platlib'))"]).strip()
    env = {k: val for k, val in os.environ.items() if k != "PYTHONPATH"}
    doctest_run(site, python, env, os.path.join(site, "qor3"), tests=True)
    # $QOR3_LIBRARY still comes first.
    out = run([python, "-c", "import qor3; print(qor3._library_path())"],
              env=dict(env, QOR3_LIBRARY="/elsewhere/libqor3.so.3"), cwd=ARGS.work_dir)
    check(out.strip() == "/elsewhere/libqor3.so.3", f"QOR3_LIBRARY not preferred: {out}")


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    for name in ("--dist", "--source-dir", "--sample-dir", "--work-dir"):
        parser.add_argument(name, required=True)
    parser.add_argument("--no-windows", action="store_true")
    parser.add_argument("--no-wheel", action="store_true")
    ARGS = parser.parse_args()
    ARGS.work_dir = os.path.abspath(ARGS.work_dir)
    ARGS.sample_dir = os.path.abspath(ARGS.sample_dir)
    ARGS.source_dir = os.path.abspath(ARGS.source_dir)
    shutil.rmtree(ARGS.work_dir, ignore_errors=True)
    os.makedirs(ARGS.work_dir)
    v = versions()
    expected = readme_contents()
    names = {f"qor3-{v['PROJECT_VERSION']}-linux-x86_64.tar.gz",
             f"qor3_{v['PROJECT_VERSION']}_amd64.deb"}
    if not ARGS.no_windows:
        names |= {f"qor3-{v['PROJECT_VERSION']}-win32.zip", f"qor3-{v['PROJECT_VERSION']}-win64.zip"}
    check(names <= set(expected), f"the README lists {sorted(expected)}, not {sorted(names)}")
    test_contents({name: expected.get(name, []) for name in names})
    test_deb(os.path.join(ARGS.dist, f"qor3_{v['PROJECT_VERSION']}_amd64.deb"), v)
    if not ARGS.no_wheel:
        wheels = glob.glob(os.path.join(ARGS.dist, f"qor3-{v['PROJECT_VERSION']}-*.whl"))
        check(len(wheels) == 1, f"wheels in {ARGS.dist}: {wheels}")
        if wheels:
            test_wheel(wheels[0])
    if FAILURES:
        sys.exit("package_test: FAILED\n" + "\n".join(FAILURES))
    shutil.rmtree(ARGS.work_dir)
    print(f"package_test: {len(names)} packages" + ("" if ARGS.no_wheel else " and the wheel") +
          " passed")


if __name__ == "__main__":
    main()
