#!/usr/bin/env python3
"""The conventions of qor and qor-mkdict: versions, help, messages naming what is wrong,
--limit, standard input, installing the correction file, what inspect refuses, typed JSON,
the manual pages and the bash completion word lists.

Usage: conventions_test.py --qor PATH --mkdict PATH --source-dir DIR [--man-dir DIR]"""
import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

import cli_test
from cli_test import CliTest, run

SOURCE_DIR = ""
MAN_DIR = ""


class Versions(CliTest):
    def test_version_and_help(self):
        for program in (cli_test.QOR, cli_test.MKDICT):
            p = subprocess.run([program, "--version"], capture_output=True, text=True)
            self.assertEqual(p.returncode, 0)
            self.assertRegex(p.stdout, r"^qor(-mkdict)? 3\.0\.\d+ \(qor3 library 3\.00\)\n$")
        code, out, _ = run("help")
        self.assertEqual(code, 0)
        for command in ("number", "name", "regions", "install", "inspect", "check"):
            self.assertIn(command, out)
        code, out, _ = run("help", "name")
        self.assertEqual(code, 0)
        self.assertIn("--limit", out)
        p = subprocess.run([cli_test.MKDICT, "--help"], capture_output=True, text=True)
        self.assertIn("Exit status: 0", p.stdout)

    def test_every_message_names_the_tool_and_the_fault(self):
        for args, text in [((), "a command is required (number, name"),
                           (("frobnicate",), "unknown command 'frobnicate'"),
                           (("--bogus",), "--bogus"),
                           (("number", "--bogus", "03-3211-1111"), "see 'qor number --help'"),
                           (("help", "frobnicate"), "unknown command 'frobnicate'")]:
            code, out, err = run(*args)
            self.assertEqual((code, out), (2, ""), args)
            self.assertIn(text, err, args)
            self.assertTrue(all(line.startswith("qor: ") for line in err.splitlines()), err)

    def test_mkdict_usage_errors_exit_2_naming_the_fault(self):
        tsv = os.path.join(cli_test.DATA, "listings.tsv")
        out = tempfile.mkdtemp(dir=self.tmp)
        for args, text in [(("--bogus", tsv, out), "--bogus"),
                           ((tsv,), "expected INPUT.tsv and an output directory or file"),
                           ((tsv, out, "extra"), "extra"),
                           (("--number", "130", tsv, out), "--number 130: not a dictionary"),
                           (("--number",), "--number"),
                           (("--split=yes", tsv, out), "split"),
                           (("--jobs", "0", "--split", tsv, out), "--jobs 0"),
                           (("--edition1", "20241301", "--number", "101", tsv, out),
                            "--edition1 20241301: not a date"),
                           (("--number", "101", "--correction", tsv, out), "exclude each other")]:
            p = subprocess.run([cli_test.MKDICT, *args], capture_output=True, text=True)
            self.assertEqual((p.returncode, p.stdout), (2, ""), args)
            self.assertTrue(p.stderr.startswith("qor-mkdict: "), p.stderr)
            self.assertIn(text, p.stderr, args)
            self.assertIn("Try 'qor-mkdict --help'.", p.stderr, args)
        self.assertEqual(os.listdir(out), [])


class Searches(CliTest):
    def test_limit_and_typed_json(self):
        code, out, _ = self.qor("name", "--region", "13101", "山田*", "--json")
        rows = json.loads(out)
        self.assertGreater(len(rows), 1)
        code, out, err = self.qor("name", "--region", "13101", "山田*", "--json", "--limit", "1")
        self.assertEqual((code, json.loads(out)), (0, rows[:1]))
        self.assertIn("1 of %d results shown" % len(rows), err)
        for row in rows:
            self.assertIsInstance(row["region_code"], int)
            self.assertIsInstance(row["kind"], int)
        code, out, _ = self.qor("regions", "--json")
        self.assertTrue(all(isinstance(r["region_code"], int) and isinstance(r["dict_number"], int)
                            for r in json.loads(out)))


class Files(CliTest):
    def test_mkdict_reads_standard_input(self):
        out = os.path.join(self.tmp, "stdin")
        os.makedirs(out)
        with open(os.path.join(cli_test.DATA, "listings.tsv"), "rb") as f:
            p = subprocess.run([cli_test.MKDICT, "--number", "1301", "--edition1", "20200115",
                                "--area-codes", os.path.join(cli_test.DATA, "area_codes.txt"),
                                "-", out], stdin=f, capture_output=True)
        self.assertEqual(p.returncode, 0, p.stderr)
        with open(os.path.join(out, "qor1301.dct"), "rb") as a, open(self.dict_file, "rb") as b:
            self.assertEqual(a.read(), b.read())
        p = subprocess.run([cli_test.MKDICT, "--number", "1301", "-", out], input=b"kind\n1\n",
                           capture_output=True)
        self.assertEqual(p.returncode, 1)
        self.assertIn(b"qor-mkdict: standard input", p.stderr)

    def test_install_the_correction_file(self):
        target = os.path.join(self.tmp, "target_corr")
        os.makedirs(target)
        code, out, err = run("install", "--from", self.corr_dir, "--to", target, "5001")
        self.assertEqual(code, 0, err)
        self.assertTrue(os.path.isfile(os.path.join(target, "qor5001.dct")))
        code, _, err = run("install", "--from", self.corr_dir, "--to", target, "5002")
        self.assertEqual(code, 2)
        self.assertIn("or 5001 (the correction file)", err)

    def test_read_only_directory_without_catalog(self):
        # Root writes into read-only directories: as root, the tool runs as nobody.
        as_user = []
        if os.geteuid() == 0:
            if not shutil.which("setpriv"):
                self.skipTest("running as root without setpriv")
            as_user = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
        top = tempfile.mkdtemp(prefix="qor_ro_")
        try:
            ro = os.path.join(top, "dict")
            os.makedirs(ro)
            shutil.copy(self.dict_file, ro)
            qor = shutil.copy(cli_test.QOR, top)
            os.chmod(top, 0o755)
            os.chmod(ro, 0o555)
            p = subprocess.run([*as_user, qor, "regions", "--dir", ro], capture_output=True,
                               text=True, timeout=60)
        finally:
            os.chmod(os.path.join(top, "dict"), 0o755)
            shutil.rmtree(top)
        # The catalog that cannot be written is made in memory: the set answers with its files.
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertTrue(p.stdout.strip())

    def test_inspect_refuses_what_is_no_dictionary(self):
        for path, text in [(self.dict_dir, "is a directory"),
                           (os.path.join(cli_test.DATA, "listings.tsv"), "it holds text"),
                           (os.path.join(cli_test.DATA, "area_codes.txt"), None)]:
            code, out, err = run("inspect", path)
            self.assertEqual((code, out), (2, ""), path)
            self.assertIn(text or "is not a dictionary, catalog or correction file", err)


class ManPagesAndCompletion(unittest.TestCase):
    def test_man_pages_hold_every_command(self):
        if not MAN_DIR:
            self.skipTest("no --man-dir")
        with open(os.path.join(MAN_DIR, "qor.1"), encoding="utf-8") as f:
            page = f.read()
        self.assertTrue(page.startswith(".TH QOR 1"))
        for command in ("NUMBER", "NAME", "REGIONS", "INSTALL", "INSPECT", "CHECK"):
            self.assertIn(".SH COMMAND " + command, page)
        with open(os.path.join(MAN_DIR, "qor-mkdict.1"), encoding="utf-8") as f:
            self.assertIn("--area-codes", f.read())
        # qor-serve's, where the server is built (not on Windows).
        serve_page = os.path.join(MAN_DIR, "qor-serve.1")
        if os.path.exists(serve_page):
            with open(serve_page, encoding="utf-8") as f:
                page = f.read()
            self.assertTrue(page.startswith(".TH QOR-SERVE 1"))
            for option in ("--listen", "--threads", "--quiet", "Exit status"):
                self.assertIn(option, page)

    def completions(self, *words):
        """COMPREPLY of the shipped script for the command line words (the last is the
        word being completed)."""
        script = os.path.join(SOURCE_DIR, "tools", "completion", "qor.bash")
        line = " ".join("'%s'" % w for w in words)
        program = "_qor_mkdict" if words[0] == "qor-mkdict" else "_qor"
        p = subprocess.run(["bash", "-c", f'source "$0"; COMP_WORDS=({line}); '
                            f'COMP_CWORD={len(words) - 1}; {program}; printf "%s\\n" '
                            '"${COMPREPLY[@]}"', script], capture_output=True, text=True)
        return p.stdout.split()

    def test_completion_offers_what_the_help_lists(self):
        self.assertIn("number", self.completions("qor", "nu"))
        for command in ("number", "name", "regions", "install", "inspect", "check"):
            _, out, _ = run(command, "--help")
            options = set(re.findall(r"(?<![\w-])(--[a-z0-9][a-z0-9-]*)", out))
            self.assertEqual(options - set(self.completions("qor", command, "--")), set(),
                             command)
        p = subprocess.run([cli_test.MKDICT, "--help"], capture_output=True, text=True)
        options = set(re.findall(r"^  (--[a-z0-9-]+)", p.stdout, re.M))
        self.assertEqual(options - set(self.completions("qor-mkdict", "--")), set())
        self.assertEqual(self.completions("qor", "name", "--kind", ""), ["1", "2", "3"])


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--qor", required=True)
    parser.add_argument("--mkdict", required=True)
    parser.add_argument("--source-dir", required=True)
    parser.add_argument("--man-dir", default="")
    args, rest = parser.parse_known_args()
    cli_test.QOR, cli_test.MKDICT = args.qor, args.mkdict
    SOURCE_DIR, MAN_DIR = args.source_dir, args.man_dir
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
