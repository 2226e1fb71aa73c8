#!/usr/bin/env python3
"""Writes the manual pages qor.1 and qor-mkdict.1, or qor-serve.1, from the programs' own help
texts.

Usage: gen_man.py (--qor PATH --mkdict PATH | --serve PATH) --version TEXT OUT_DIR"""
import argparse
import os
import subprocess

QOR_COMMANDS = ["number", "name", "regions", "install", "inspect", "check", "help"]


def help_text(*args):
    return subprocess.run(args, capture_output=True, text=True, check=True, timeout=60).stdout


def roff(text):
    """Help text as a no-fill block: backslashes escaped, no line starting with a control
    character."""
    lines = []
    for line in text.rstrip("\n").split("\n"):
        line = line.replace("\\", "\\e")
        if line.startswith((".", "'")):
            line = "\\&" + line
        lines.append(line)
    return ".nf\n" + "\n".join(lines) + "\n.fi\n"


SEE_ALSO = {"qor": "qor-mkdict(1), qor-serve(1); the README of qor3 (Making dictionaries).",
            "qor-mkdict": "qor(1); the README of qor3 (Making dictionaries).",
            "qor-serve": "qor(1); the README of qor3 (The HTTP server)."}


def page(name, version, summary, sections):
    out = [f'.TH {name.upper()} 1 "" "qor3 {version}" "qor3 manual"\n',
           f".SH NAME\n{name} \\- {summary}\n"]
    for title, text in sections:
        out.append(f".SH {title}\n" + roff(text))
    out.append(f".SH SEE ALSO\n{SEE_ALSO[name]}\n")
    return "".join(out)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--qor")
    parser.add_argument("--mkdict")
    parser.add_argument("--serve")
    parser.add_argument("--version", required=True)
    parser.add_argument("out_dir")
    args = parser.parse_args()
    if bool(args.qor) != bool(args.mkdict) or bool(args.qor) == bool(args.serve):
        parser.error("either --qor and --mkdict, or --serve")
    os.makedirs(args.out_dir, exist_ok=True)
    pages = {}
    if args.serve:
        pages["qor-serve.1"] = page("qor-serve", args.version, "answer caller-ID, number and "
                                    "name searches of a qor3 dictionary set over HTTP",
                                    [("DESCRIPTION", help_text(args.serve, "--help"))])
    else:
        sections = [("DESCRIPTION", help_text(args.qor, "--help"))]
        sections += [(f"COMMAND {c.upper()}", help_text(args.qor, "help", c))
                     for c in QOR_COMMANDS]
        pages["qor.1"] = page("qor", args.version, "search qor3 dictionary sets, install, "
                              "inspect and check dictionary files", sections)
        pages["qor-mkdict.1"] = page("qor-mkdict", args.version, "build a qor3 dictionary file "
                                     "from listings in a TSV file",
                                     [("DESCRIPTION", help_text(args.mkdict, "--help"))])
    for file, text in pages.items():
        with open(os.path.join(args.out_dir, file), "w", encoding="utf-8") as f:
            f.write(text)


if __name__ == "__main__":
    main()
