#!/usr/bin/env python3
"""Runs the README's examples of the qor command on the bundled sample set: each line of a
block marked "each line finds something" must exit 0 with output, and a block marked
"script" must run through.

Usage: readme_test.py --source-dir DIR --build-dir DIR --sample-dir DIR
                      [--wine LOADER --tools-dir DIR]
  --wine, --tools-dir  run qor.exe and qor-mkdict.exe of a Windows build tree's tools/ under
                       this wine loader instead (WINEPREFIX from the environment); they
                       have no bundled set of their own, so QOR_DIR names the sample set's"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile


def blocks(readme, mark):
    return re.findall(r"^<!-- test: " + mark + r" -->\n```sh\n(.*?)^```$", readme, re.M | re.S)


def main():
    parser = argparse.ArgumentParser()
    for name in ("--source-dir", "--build-dir", "--sample-dir"):
        parser.add_argument(name, required=True)
    parser.add_argument("--wine")
    parser.add_argument("--tools-dir")
    args = parser.parse_args()
    if bool(args.wine) != bool(args.tools_dir):
        sys.exit("--wine and --tools-dir go together")
    with open(os.path.join(args.source_dir, "README.md"), encoding="utf-8") as f:
        readme = f.read()
    lines, scripts = blocks(readme, "each line finds something"), blocks(readme, "script")
    if not lines or not scripts:
        sys.exit("README.md: no marked example blocks")
    sample = os.path.abspath(args.sample_dir)
    work = tempfile.mkdtemp(prefix="qor_readme_")
    failures = 0
    try:
        # The README's paths, relative to a repository root with its build tree in build/.
        os.symlink(os.path.abspath(args.build_dir), os.path.join(work, "build"))
        os.symlink(os.path.join(os.path.abspath(args.source_dir), "data"),
                   os.path.join(work, "data"))
        tools = os.path.join(os.path.abspath(args.build_dir), "tools")
        env = dict(os.environ)
        env.pop("QOR_DIR", None)
        if args.wine:
            # Commands named as on Linux, each a wrapper that runs the Windows program.
            tools = os.path.join(work, "wine-tools")
            os.mkdir(tools)
            for name in ("qor", "qor-mkdict"):
                exe = os.path.join(os.path.abspath(args.tools_dir), name + ".exe")
                with open(os.path.join(tools, name), "w") as f:
                    f.write(f'#!/bin/sh\nexec "{args.wine}" "{exe}" "$@"\n')
                os.chmod(os.path.join(tools, name), 0o755)
            env["QOR_DIR"] = os.path.join(sample, "dict")
        native_path = os.path.join(os.path.abspath(args.build_dir), "tools") + os.pathsep + \
            os.environ["PATH"]
        env["PATH"] = tools + os.pathsep + os.environ["PATH"]
        commands = [c for b in lines for c in b.splitlines() if c.strip()]
        for command in commands + scripts:
            text = command.replace("build/sample", sample)
            if args.wine:
                text = text.replace("build/tools/", "")
            p = subprocess.run(["bash", "-e", "-c", text], cwd=work, env=env,
                               capture_output=True, timeout=300)
            ok = p.returncode == 0 and p.stdout.strip()
            if ok and args.wine and command in commands:
                # The Windows tool writes what the Linux one writes, byte for byte.
                native = subprocess.run(["bash", "-e", "-c", text], cwd=work, timeout=300,
                                        env=dict(env, PATH=native_path), capture_output=True)
                if native.stdout != p.stdout:
                    ok = False
                    print("differs from the Linux tool's output:\n" +
                          native.stdout.decode(errors="replace"))
            print(("ok     " if ok else "FAILED ") + command.splitlines()[0])
            if not ok:
                failures += 1
                print(p.stdout.decode(errors="replace") + p.stderr.decode(errors="replace"))
    finally:
        shutil.rmtree(work)
    print(f"{len(commands) + len(scripts) - failures} passed, {failures} failed")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
