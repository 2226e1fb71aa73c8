#!/usr/bin/env python3
"""cmake --install into a fresh prefix, then the README's C program built against it through
pkg-config, find_package(qor3) and add_subdirectory(), and the README's Python script on the
installed package and on the package pip installs; each must find a listing of the sample set.

Usage: install_test.py --build-dir DIR --source-dir DIR --sample-dir DIR --work-dir DIR
                       [--no-subdirectory]"""
import argparse
import glob
import json
import os
import re
import shutil
import subprocess
import sys


def run(args, **kwargs):
    p = subprocess.run(args, capture_output=True, timeout=600, **kwargs)
    if p.returncode != 0:
        sys.exit(f"FAILED ({p.returncode}): {' '.join(map(str, args))}\n"
                 f"{p.stdout.decode(errors='replace')}{p.stderr.decode(errors='replace')}")
    return p.stdout


def readme_block(source_dir, language):
    with open(os.path.join(source_dir, "README.md"), encoding="utf-8") as f:
        blocks = re.findall(r"^```" + language + r"\n(.*?)^```$", f.read(), re.M | re.S)
    if len(blocks) != 1:
        sys.exit(f"README.md: expected one ```{language} block, found {len(blocks)}")
    return blocks[0]


def main():
    parser = argparse.ArgumentParser()
    for name in ("--build-dir", "--source-dir", "--sample-dir", "--work-dir"):
        parser.add_argument(name, required=True)
    parser.add_argument("--no-subdirectory", action="store_true")
    args = parser.parse_args()
    work = os.path.abspath(args.work_dir)
    shutil.rmtree(work, ignore_errors=True)
    prefix = os.path.join(work, "prefix")
    run(["cmake", "--install", args.build_dir, "--prefix", prefix])

    libs = glob.glob(os.path.join(prefix, "lib*", "libqor3.so.3.0.0"))
    if len(libs) != 1:
        sys.exit(f"no libqor3.so.3.0.0 under {prefix}")
    libdir = os.path.dirname(libs[0])
    soname = run(["objdump", "-p", libs[0]]).decode()
    if not re.search(r"SONAME\s+libqor3\.so\.3\n", soname):
        sys.exit("libqor3.so.3.0.0 has no soname libqor3.so.3")
    for path in ("include/qor3.h", "bin/qor", "bin/qor-mkdict"):
        if not os.path.isfile(os.path.join(prefix, path)):
            sys.exit(f"not installed: {path}")

    with open(os.path.join(args.sample_dir, "manifest.json"), encoding="utf-8") as f:
        example = json.load(f)["examples"]["numbers"][0]
    dict_dir = os.path.join(args.sample_dir, "dict")
    app = os.path.join(work, "app")
    os.makedirs(app)
    with open(os.path.join(app, "hello_qor3.c"), "w", encoding="utf-8") as f:
        f.write(readme_block(args.source_dir, "c"))
    cmake_lists = readme_block(args.source_dir, "cmake")

    def check(program, env=None):
        out = run([program, dict_dir, example["display"]], env=env).decode("cp932")
        if example["name"] not in out:
            sys.exit(f"{program}: {example['name']} not in its output:\n{out}")

    # pkg-config, as the README shows it.
    env = dict(os.environ, PKG_CONFIG_PATH=os.path.join(libdir, "pkgconfig"))
    flags = run(["pkg-config", "--cflags", "--libs", "qor3"], env=env).decode().split()
    program = os.path.join(app, "hello_pkgconfig")
    run(["cc", "-std=c99", "-Wall", "-Werror", os.path.join(app, "hello_qor3.c"), *flags,
         "-Wl,-rpath," + libdir, "-o", program])
    check(program)

    # find_package(qor3), and the same project with the source tree as a subdirectory.
    variants = [("find_package", cmake_lists, ["-DCMAKE_PREFIX_PATH=" + prefix])]
    if not args.no_subdirectory:
        subdirectory = f"add_subdirectory({os.path.abspath(args.source_dir)} qor3 EXCLUDE_FROM_ALL)"
        variants.append(("subdirectory",
                         re.sub(r"find_package\(qor3[^)]*\)", subdirectory, cmake_lists), []))
    for name, text, options in variants:
        with open(os.path.join(app, "CMakeLists.txt"), "w", encoding="utf-8") as f:
            f.write(text)
        out_dir = os.path.join(work, name)
        run(["cmake", "-S", app, "-B", out_dir, *options])
        run(["cmake", "--build", out_dir, "-j2"])
        check(os.path.join(out_dir, "hello_qor3"))

    # The README's Python script on the installed package and library.
    packages = glob.glob(os.path.join(prefix, "lib*", "python3*", "dist-packages"))
    script = os.path.join(app, "who.py")
    with open(script, "w", encoding="utf-8") as f:
        f.write(readme_block(args.source_dir, "python").replace("build/sample",
                                                                args.sample_dir))
    env = {k: v for k, v in os.environ.items() if k not in ("QOR3_LIBRARY", "QOR_DIR")}
    env["PYTHONPATH"] = os.pathsep.join(packages)
    out = run([sys.executable, "-c", "import qor3; print(qor3._library_path())"], env=env)
    if not out.decode().startswith(libdir):
        sys.exit(f"the installed package loads {out.decode().strip()}, not the library of {libdir}")
    out = run([sys.executable, script, example["display"]], env=env).decode()
    if example["name"] not in out or "regions" not in out:
        sys.exit(f"who.py: {example['name']} not in its output:\n{out}")

    # The package installed by pip from its pyproject.toml (no build isolation, no index), its
    # wheel made with the installed library, which QOR3_LIBRARY then names.
    python = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable
    target = os.path.join(work, "site")
    run([python, "-m", "pip", "install", "--quiet", "--no-build-isolation", "--no-deps",
         "--no-index", "--target", target, os.path.join(args.source_dir, "python")],
        env=dict(os.environ, QOR3_WHEEL_LIBRARY=libs[0]))
    env = dict(env, PYTHONPATH=target, QOR3_LIBRARY=libs[0])
    out = run([python, script, example["display"]], env=env).decode()
    if example["name"] not in out:
        sys.exit(f"who.py with the pip-installed package: {example['name']} not in:\n{out}")
    shutil.rmtree(work)
    print("install_test: pkg-config, " + ", ".join(v[0] for v in variants) + " and Python (installed, pip) passed")


if __name__ == "__main__":
    main()
