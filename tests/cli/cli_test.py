#!/usr/bin/env python3
"""End-to-end tests of the qor command on a tiny dictionary set built with qor-mkdict from
the listings in data/: exit codes and messages, table/TSV/JSON output, check and inspect.

Usage: cli_test.py --qor PATH --mkdict PATH [unittest options]"""
import argparse
import json
import os
import pty
import shutil
import struct
import subprocess
import sys
import tempfile
import unicodedata
import unittest

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data")
QOR = ""
MKDICT = ""


def run(*args, env_dir=None, extra_env=None, timeout=60):
    env = dict(os.environ)
    env.pop("QOR_DIR", None)
    if env_dir is not None:
        env["QOR_DIR"] = env_dir
    if extra_env:
        env.update(extra_env)
    p = subprocess.run([QOR, *args], capture_output=True, env=env, timeout=timeout)
    return p.returncode, p.stdout.decode("utf-8"), p.stderr.decode("utf-8")


def width(text):
    return sum(2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in text)


def mkdict(tsv, out, *options):
    p = subprocess.run([MKDICT, *options, "--edition1", "20200115", "--area-codes",
                        os.path.join(DATA, "area_codes.txt"), os.path.join(DATA, tsv), out],
                       capture_output=True, timeout=60)
    if p.returncode != 0:
        raise RuntimeError(p.stderr.decode())


def run_on_terminal(args):
    """Runs args with a pseudo-terminal as standard error: (completed process, its stderr)."""
    master, slave = pty.openpty()
    try:
        p = subprocess.run(args, stdout=subprocess.PIPE, stderr=slave, timeout=60)
        os.close(slave)
        slave = -1
        bar = b""
        while True:
            try:
                chunk = os.read(master, 4096)
            except OSError:
                break
            if not chunk:
                break
            bar += chunk
    finally:
        os.close(master)
        if slave >= 0:
            os.close(slave)
    return p, bar


# The dictionary file's header: its size, and where its table of the seven section sizes lies.
DICT_HEADER_SIZE = 256
DICT_SECTION_SIZES_OFFSET = 35


def section_starts(image):
    sizes = struct.unpack(">7I", image[DICT_SECTION_SIZES_OFFSET:DICT_SECTION_SIZES_OFFSET + 28])
    starts = [DICT_HEADER_SIZE]
    for s in sizes:
        starts.append(starts[-1] + s)
    return starts


class CliTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="qor_cli_")
        cls.dict_dir = os.path.join(cls.tmp, "dict")
        cls.corr_dir = os.path.join(cls.tmp, "corr")
        os.makedirs(cls.dict_dir)
        os.makedirs(cls.corr_dir)
        mkdict("listings.tsv", cls.dict_dir, "--number", "1301")
        mkdict("corrections.tsv", cls.corr_dir, "--correction")
        cls.dict_file = os.path.join(cls.dict_dir, "qor1301.dct")
        # The first open writes the directory's catalog qor9999.dct.
        code, _, err = run("regions", "--dir", cls.dict_dir)
        if code != 0:
            raise RuntimeError(err)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp)

    def qor(self, *args, **kw):
        return run(*args, "--dir", self.dict_dir, "--corrections", self.corr_dir, **kw)

    def damaged_copy(self, name, change):
        with open(self.dict_file, "rb") as f:
            image = bytearray(f.read())
        image = change(image)
        path = os.path.join(self.tmp, name)
        with open(path, "wb") as f:
            f.write(image)
        return path


class ExitCodes(CliTest):
    def test_found_is_0_and_nothing_is_1(self):
        code, out, _ = self.qor("number", "03-3211-1111")
        self.assertEqual(code, 0)
        self.assertIn("山田　太郎", out)
        code, out, err = self.qor("number", "03-9999-0000")
        self.assertEqual(code, 1)
        self.assertEqual(out, "")
        self.assertIn("nothing found", err)
        code, _, _ = self.qor("name", "--region", "13113", "山田*")
        self.assertEqual(code, 1)

    def test_bad_keys_are_errors(self):
        for key, message in [("12345", "5 digits"), ("03-ABCD-1111", "only digits"),
                             ("03 3211 1111", "only digits"), ("3211111111", "starts with 0"),
                             ("033211111122", "12 digits")]:
            code, out, err = self.qor("number", key)
            self.assertEqual(code, 2, key)
            self.assertEqual(out, "")
            self.assertIn('bad number "%s"' % key, err)
            self.assertIn(message, err)

    def test_unknown_region_blank_pattern_and_bad_kind(self):
        code, _, err = self.qor("name", "--region", "27100", "山田*")
        self.assertEqual(code, 2)
        self.assertIn("unknown region 27100", err)
        for pattern in ["*", "? ＊", "　", ""]:
            code, _, err = self.qor("name", "--region", "13101", pattern)
            self.assertEqual(code, 2, repr(pattern))
            self.assertIn("is blank", err)
        code, _, err = self.qor("name", "--region", "13101", "--kind", "4", "山田*")
        self.assertEqual(code, 2)
        self.assertIn("--kind", err)
        for region in ["50000", "0x10", "131010", "-1"]:
            code, _, err = self.qor("name", "--region", region, "山田*")
            self.assertEqual(code, 2, region)
            self.assertIn("bad region code", err)
        # Leading zeros are decimal, as qor regions prints codes (never octal).
        code, _, err = self.qor("name", "--region", "010", "山田*")
        self.assertIn("unknown region 00010", err)
        code, out, _ = self.qor("name", "--region", "013101", "山田*")
        self.assertEqual(code, 2)

    def test_missing_directories_are_errors(self):
        missing = os.path.join(self.tmp, "missing")
        code, _, err = run("number", "03-3211-1111", "--dir", missing)
        self.assertEqual(code, 2)
        self.assertIn("dictionary directory %s does not exist" % missing, err)
        code, _, err = run("regions", "--dir", self.dict_dir, "--dir2", missing)
        self.assertEqual(code, 2)
        self.assertIn(missing, err)
        code, _, err = run("regions", "--dir", self.dict_dir, "--corrections", missing)
        self.assertEqual(code, 2)
        self.assertIn("correction directory", err)
        empty = os.path.join(self.tmp, "empty")
        os.makedirs(empty, exist_ok=True)
        code, _, err = run("regions", "--dir", empty)
        self.assertEqual(code, 2)
        self.assertIn("no dictionaries", err)

    def test_overlong_request_texts_are_errors(self):
        code, _, err = self.qor("name", "--region", "13101", "山" * 81)
        self.assertEqual(code, 2)
        self.assertIn("at most 160", err)
        code, _, err = self.qor("name", "--region", "13101", "--address1", "丸" * 41, "山田*")
        self.assertEqual(code, 2)
        self.assertIn("at most 80", err)

    def test_help_for_every_command(self):
        for command in [[], ["number"], ["name"], ["regions"], ["install"], ["inspect"],
                        ["check"]]:
            code, out, _ = run(*command, "--help")
            self.assertEqual(code, 0, command)
            self.assertIn("Usage:", out)
        code, _, _ = run()
        self.assertEqual(code, 2)
        code, _, _ = run("frobnicate")
        self.assertEqual(code, 2)


class Searches(CliTest):
    def test_number_search_json_holds_every_field(self):
        code, out, _ = self.qor("number", "0422512345", "--json")
        self.assertEqual(code, 0)
        rows = json.loads(out)
        self.assertEqual(rows, [{
            "number": "0422-51-2345", "name": "高橋　美咲", "kind": 1,
            "postal_code": "150-0041", "region_code": 13113, "region_name1": "東京都",
            "region_name2": "渋谷区", "address1": "神南", "address2": "2-2-2"}])

    def test_number_held_by_two_listings(self):
        code, out, _ = self.qor("number", "03-3211-4444", "--json")
        self.assertEqual(code, 0)
        names = [r["name"] for r in json.loads(out)]
        self.assertEqual(names, ["株式会社山田商店", "山田商店　配送センター"])
        code, out, _ = self.qor("number", "03-9999-0000", "--json")
        self.assertEqual((code, json.loads(out)), (1, []))

    def test_corrections_add_and_remove(self):
        code, out, _ = self.qor("name", "--region", "13101", "山田*", "--json")
        self.assertEqual(code, 0)
        names = [r["name"] for r in json.loads(out)]
        # The addition 山田　次郎 (丸の内 ３丁目) sorts after the other two of 丸の内.
        self.assertEqual(names, ["山田　太郎", "山田　花子", "山田　次郎",
                                 "山田商店　配送センター"])
        code, _, _ = self.qor("number", "03-3461-2222")
        self.assertEqual(code, 1)
        code, out, _ = run("number", "03-3461-2222", "--dir", self.dict_dir,
                           "--corrections", self.tmp)
        self.assertEqual(code, 0)
        self.assertIn("鈴木　一", out)

    def test_name_filters(self):
        code, out, _ = self.qor("name", "--region", "13101", "*山田*", "--kind", "2", "--tsv")
        self.assertEqual(code, 0)
        lines = out.splitlines()
        self.assertEqual(lines[0].split("\t")[:3], ["number", "name", "kind"])
        self.assertEqual([l.split("\t")[1] for l in lines[1:]],
                         ["株式会社山田商店", "山田商店　配送センター"])
        code, out, _ = self.qor("name", "--region", "13101", "*山田*", "--address1", "丸の",
                                "--address2", "２", "--json")
        self.assertEqual([r["name"] for r in json.loads(out)], ["山田　花子"])
        # ASCII input is widened, as the builder stores names.
        code, out, _ = self.qor("name", "--region", "13101", "ABC*", "--json")
        self.assertEqual([r["name"] for r in json.loads(out)], ["ＡＢＣ歯科クリニック"])

    def test_default_set_comes_from_qor_dir(self):
        code, out, _ = run("regions", "--json", env_dir=self.dict_dir)
        self.assertEqual(code, 0)
        self.assertEqual([(r["region_code"], r["region_name2"], r["dict_number"])
                          for r in json.loads(out)],
                         [(13101, "千代田区", 1301), (13113, "渋谷区", 1301)])


class MkdictAreaCodeDefaults(unittest.TestCase):
    """Without --area-codes qor-mkdict takes the lists installed with it: in ../share/qor3/
    from its directory (Linux) or beside it (Windows); --area-codes none takes none."""

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="qor_areas_")
        self.addCleanup(shutil.rmtree, self.tmp)
        self.lists = {"area_codes.txt": "03\n", "extended_area_codes.txt": "# none\n04225\n"}

    def place(self, name, lists_dir):
        """qor-mkdict copied to <name>/bin/, the lists written to <name>/<lists_dir>."""
        bin_dir = os.path.join(self.tmp, name, "bin")
        os.makedirs(bin_dir)
        program = shutil.copy(MKDICT, bin_dir)
        if lists_dir is not None:
            os.makedirs(os.path.join(self.tmp, name, lists_dir), exist_ok=True)
            for file, text in self.lists.items():
                with open(os.path.join(self.tmp, name, lists_dir, file), "w") as f:
                    f.write(text)
        return program

    def build(self, program, name, *options):
        out = os.path.join(self.tmp, name + ".dct")
        p = subprocess.run([program, "--edition1", "20200115", *options,
                            os.path.join(DATA, "listings.tsv"), out], capture_output=True)
        with open(out, "rb") if p.returncode == 0 else open(os.devnull, "rb") as f:
            return p.returncode, p.stderr.decode(), f.read()

    def number(self, image):
        directory = os.path.join(self.tmp, "set_%d" % len(os.listdir(self.tmp)))
        os.makedirs(directory)
        with open(os.path.join(directory, "qor1301.dct"), "wb") as f:
            f.write(image)
        code, out, err = run("number", "0332111111", "--json", "--dir", directory)
        self.assertEqual(code, 0, err)
        return json.loads(out)[0]["number"]

    def test_installed_lists_are_the_default_and_none_takes_none(self):
        lists = []
        for file, text in self.lists.items():
            lists.append(os.path.join(self.tmp, file))
            with open(lists[-1], "w") as f:
                f.write(text)
        explicit = self.build(MKDICT, "explicit", "--area-codes", lists[0],
                              "--extended-area-codes", lists[1])
        self.assertEqual(explicit[0], 0, explicit[1])
        for layout, lists_dir in (("linux", "share/qor3"), ("windows", "bin")):
            program = self.place(layout, lists_dir)
            code, err, image = self.build(program, layout)
            self.assertEqual(code, 0, err)
            self.assertEqual(image, explicit[2], layout)
        self.assertEqual(self.number(explicit[2]), "03-3211-1111")
        code, err, none = self.build(program, "none", "--area-codes", "none")
        self.assertEqual(code, 0, err)
        self.assertEqual(self.number(none), "0332111111")
        # An --area-codes FILE brings no extended list but the one given.
        code, err, only = self.build(program, "only", "--area-codes", lists[0])
        code2, err2, only_extended = self.build(program, "only_extended", "--area-codes",
                                                lists[0], "--extended-area-codes", "none")
        self.assertEqual((code, code2), (0, 0), err + err2)
        self.assertEqual(only, only_extended)
        self.assertNotEqual(only, explicit[2])

    def test_missing_lists_are_an_error_naming_the_way_out(self):
        program = self.place("bare", None)
        code, err, _ = self.build(program, "bare")
        self.assertEqual(code, 1)
        self.assertIn("give --area-codes FILE, or --area-codes none", err)
        code, err, _ = self.build(program, "bare_none", "--area-codes", "none")
        self.assertEqual(code, 0, err)


class Install(CliTest):
    def test_install_copies_and_catalogs(self):
        target = tempfile.mkdtemp(dir=self.tmp)
        code, out, err = run("install", "--from", self.dict_dir, "--to", target, "1301")
        self.assertEqual(code, 0, err)
        self.assertIn("installed 1 of 1 dictionaries", out)
        self.assertTrue(os.path.exists(os.path.join(target, "qor9999.dct")))
        code, out, _ = run("number", "03-3211-1111", "--dir", target, "--json")
        self.assertEqual((code, [r["name"] for r in json.loads(out)]), (0, ["山田　太郎"]))
        code, out, _ = run("check", target)
        self.assertEqual(code, 0, out)

    def test_install_errors(self):
        target = tempfile.mkdtemp(dir=self.tmp)
        for number, message in [("1302", "qor1302.dct does not exist"),
                                ("0130", 'bad dictionary number "0130"'),
                                ("9999", "bad dictionary number"), ("13x1", "bad dictionary")]:
            code, out, err = run("install", "--from", self.dict_dir, "--to", target, number)
            self.assertEqual(code, 2, number)
            self.assertIn(message, err)
        self.assertEqual(os.listdir(target), [])
        code, _, err = run("install", "--from", self.dict_dir, "--to",
                           os.path.join(self.tmp, "missing"), "1301")
        self.assertEqual(code, 2)
        self.assertIn("destination directory", err)


    def test_install_refuses_a_damaged_file_and_reports_a_catalog_it_could_not_write(self):
        source = tempfile.mkdtemp(dir=self.tmp)
        target = tempfile.mkdtemp(dir=self.tmp)
        with open(self.dict_file, "rb") as f:
            image = f.read()
        with open(os.path.join(source, "qor1301.dct"), "wb") as f:
            f.write(image[:-40])
        code, out, err = run("install", "--from", source, "--to", target, "1301")
        self.assertEqual(code, 2, out)
        self.assertIn("qor1301.dct is not a readable dictionary (header: sections end", err)
        self.assertIn("nothing installed", err)
        self.assertEqual(os.listdir(target), [])
        # A directory in the catalog's place: the file is copied, the catalog cannot be.
        os.mkdir(os.path.join(target, "qor9999.dct"))
        code, out, err = run("install", "--from", self.dict_dir, "--to", target, "1301")
        self.assertEqual(code, 2, err)
        self.assertIn("installed 1 of 1", out)
        self.assertIn("the catalog was not brought up to date", err)
        self.assertIn("qor9999.dct cannot be read, so it lacks 1301", err)
        self.assertEqual(sorted(os.listdir(target)), ["qor1301.dct", "qor9999.dct"])

    def test_a_fifo_is_passed_over_without_waiting(self):
        d = tempfile.mkdtemp(dir=self.tmp)
        shutil.copy(self.dict_file, d)
        fifo = os.path.join(d, "qor0101.dct")
        os.mkfifo(fifo)
        code, out, err = run("regions", "--dir", d, timeout=20)
        self.assertEqual(code, 0, err)
        code, out, _ = run("check", d, timeout=20)
        self.assertEqual(code, 1, out)
        self.assertIn(fifo + ": not a regular file", out)
        self.assertIn("qor1301.dct: ok", out)
        code, _, err = run("inspect", fifo, timeout=20)
        self.assertEqual(code, 2)
        self.assertIn("not a regular file", err)


class TableOutput(CliTest):
    def assert_aligned(self, out, headings):
        lines = out.splitlines()
        header = lines[0]
        starts = [width(header[:header.index(h)]) for h in headings]
        self.assertEqual(set(lines[1]) - {" "}, {"-"})
        for line in lines[2:]:
            # Cut each line at the display columns where the headings start: every cut
            # must fall on a column start (a non-space after two spaces).
            columns = []
            col = 0
            for i, c in enumerate(line):
                if col in starts and (i == 0 or line[i - 1] == " ") and c != " ":
                    columns.append(col)
                col += width(c)
            for s in starts:
                if s <= width(line):
                    self.assertIn(s, columns, "line %r: no column at %d" % (line, s))

    def test_full_width_text_is_aligned(self):
        code, out, _ = self.qor("name", "--region", "13101", "*田*")
        self.assertEqual(code, 0)
        self.assert_aligned(out, ["number", "name", "kind", "postal", "region", "address 1",
                                  "address 2"])
        # The widest name sets the column: "山田商店　配送センター" is 22 columns wide.
        lines = out.splitlines()
        self.assertEqual(width(lines[0][:lines[0].index("kind")]),
                         len("03-3211-1111  ") + 22 + 2)

    def test_regions_table(self):
        code, out, _ = self.qor("regions")
        self.assertEqual(code, 0)
        self.assert_aligned(out, ["region", "region name 1", "region name 2", "dictionary"])
        self.assertEqual(len(out.splitlines()), 4)


class CheckAndInspect(CliTest):
    def test_check_passes_on_good_files(self):
        code, out, _ = run("check", self.dict_dir)
        self.assertEqual(code, 0, out)
        self.assertIn("qor1301.dct: ok (10 entries", out)
        self.assertIn("qor9999.dct: ok", out)
        code, out, _ = run("check", os.path.join(self.corr_dir, "qor5001.dct"))
        self.assertEqual(code, 0, out)
        code, out, _ = run("check", "-q", self.dict_dir, self.corr_dir)
        self.assertEqual((code, out), (0, ""))
        flipped = self.damaged_copy("stub2.dct", lambda image: image[:300])
        code, out, _ = run("check", "-q", self.dict_dir, flipped)
        self.assertEqual(code, 1)
        self.assertEqual(out.count("\n"), 1)
        self.assertIn("stub2.dct: header:", out)

    def test_check_and_regions_name_an_exceeded_catalog_limit(self):
        # One dictionary of 256 regions with 40-byte names 2 under seven numbers: 1,792
        # records need 73,479 bytes of names, but a name must start below offset 65,536, so
        # the catalog holds 0101..0106 (1,536 records) and leaves 0107 out.
        big = os.path.join(self.tmp, "big")
        os.makedirs(big)
        tsv = os.path.join(self.tmp, "big.tsv")
        with open(os.path.join(DATA, "listings.tsv"), encoding="utf-8") as f:
            lines = [f.readline().rstrip("\n")]
        for r in range(256):
            lines.append("\t".join(["1", str(20000 + r), "03-%04d-%04d" % (3000 + r, 1000 + r),
                                    "100-0005", "山田　太郎", "東京都", "R%03d" % r + "x" * 36,
                                    "丸の内", ""]))
        with open(tsv, "w", encoding="utf-8") as f:
            f.write("\n".join(lines) + "\n")
        mkdict(tsv, big, "--number", "101")
        for n in range(102, 108):
            shutil.copy(os.path.join(big, "qor0101.dct"), os.path.join(big, "qor%04d.dct" % n))
        code, out, err = run("regions", "--dir", big, "--tsv")
        self.assertEqual(code, 0, err)
        self.assertEqual(len(out.splitlines()), 1 + 6 * 256)
        self.assertIn("catalog limit exceeded", err)
        self.assertIn("holds 6 of the 7 dictionaries, and qor0107.dct", err)
        code, out, _ = run("check", "-q", big)
        self.assertEqual(code, 1)
        self.assertIn("catalog limit exceeded: its dictionaries list 1792 region records", out)

    def test_check_reports_a_flipped_entry_block(self):
        def flip(image):
            starts = section_starts(image)
            (l6,) = struct.unpack(">H", image[starts[6]:starts[6] + 2])
            data = starts[6] + 6 + l6
            for i in range(data + 10, data + 16):
                image[i] ^= 0xFF
            return image
        path = self.damaged_copy("flipped.dct", flip)
        code, out, _ = run("check", path)
        self.assertEqual(code, 1)
        self.assertIn("section 6, entry block 0: does not decompress", out)

    def test_check_reports_a_truncated_file(self):
        path = self.damaged_copy("truncated.dct", lambda image: image[:-40])
        code, out, _ = run("check", path)
        self.assertEqual(code, 1)
        self.assertIn("header: sections end at byte", out)
        self.assertIn("truncated", out)
        path = self.damaged_copy("stub.dct", lambda image: image[:100])
        code, out, _ = run("check", path)
        self.assertEqual(code, 1)
        self.assertIn("shorter than its 256-byte header", out)

    def test_check_reports_a_wrong_index_and_a_bad_catalog(self):
        def shift_first_number(image):
            starts = section_starts(image)
            at = starts[5] + 6 + 2  # first number of number block 0
            (first,) = struct.unpack(">I", image[at:at + 4])
            image[at:at + 4] = struct.pack(">I", first + 1)
            return image
        path = self.damaged_copy("index.dct", shift_first_number)
        code, out, _ = run("check", path)
        self.assertEqual(code, 1)
        self.assertIn("number block 0: first item", out)
        bad = os.path.join(self.tmp, "badcat")
        os.makedirs(bad, exist_ok=True)
        with open(os.path.join(self.dict_dir, "qor9999.dct"), "rb") as f:
            catalog = bytearray(f.read())
        catalog[12:16] = struct.pack(">I", 60000)  # dictionary table size beyond the file
        with open(os.path.join(bad, "qor9999.dct"), "wb") as f:
            f.write(catalog)
        code, out, _ = run("check", bad)
        self.assertEqual(code, 1)
        self.assertIn("qor9999.dct: catalog: damaged", out)

    def test_check_reports_entries_out_of_order(self):
        def swap_entry_blocks(image):
            # Swap the two entry blocks and their index records: every block still decodes,
            # but the region 13113 entries now come before the 13101 ones.
            starts = section_starts(image)
            s6 = starts[6]
            (l6,) = struct.unpack(">H", image[s6:s6 + 2])
            index = bytes(image[s6 + 6:s6 + 6 + l6])
            records, pos = [], 0
            while pos < len(index):
                end = index.index(b"\0", index.index(b"\0", pos + 4) + 1) + 1
                records.append(index[pos:end])
                pos = end
            self.assertEqual(len(records), 2)
            sizes = [struct.unpack(">H", r[:2])[0] for r in records]
            data = s6 + 6 + l6
            blocks = [bytes(image[data:data + sizes[0]]),
                      bytes(image[data + sizes[0]:data + sizes[0] + sizes[1]])]
            image[s6 + 6:s6 + 6 + l6] = records[1] + records[0]
            image[data:data + sum(sizes)] = blocks[1] + blocks[0]
            return image
        path = self.damaged_copy("swapped.dct", swap_entry_blocks)
        code, out, _ = run("check", path)
        self.assertEqual(code, 1)
        self.assertIn("entry block 1: index record out of order", out)
        self.assertIn("entry block 1, entry 0: out of entry order", out)
        self.assertIn("has no item in the number index", out)

    def test_check_progress_bar_only_on_a_terminal(self):
        code, _, err = run("check", self.dict_dir)
        self.assertEqual((code, err), (0, ""))
        # With a pseudo-terminal as standard error the bar is drawn there and cleared at
        # the end; the report on standard output is unchanged.
        p, bar = run_on_terminal([QOR, "check", self.dict_dir])
        self.assertEqual(p.returncode, 0)
        self.assertIn(b"] 0/2 qor1301.dct", bar)
        self.assertTrue(bar.rstrip(b" ").endswith(b"\r"))
        self.assertIn(b"qor1301.dct: ok", p.stdout)
        self.assertNotIn(b"[", p.stdout)

    def test_mkdict_progress_bar_only_on_a_terminal(self):
        out = os.path.join(self.tmp, "progress")
        os.makedirs(out, exist_ok=True)
        args = [MKDICT, "--number", "1301", "--edition1", "20200115",
                os.path.join(DATA, "listings.tsv"), out]
        p = subprocess.run(args, capture_output=True, timeout=60)
        self.assertEqual((p.returncode, p.stderr), (0, b""))
        p, bar = run_on_terminal(args)
        self.assertEqual(p.returncode, 0)
        for step in (b"1/4 reading", b"2/4 checking", b"3/4 building", b"4/4 writing"):
            self.assertIn(step, bar)
        self.assertTrue(bar.rstrip(b" ").endswith(b"\r"))
        self.assertIn(b"entries", p.stdout)
        self.assertNotIn(b"[", p.stdout)

    def test_check_reports_stray_filter_bits(self):
        def set_prefix_999(image):
            image[section_starts(image)[0] + 999 // 8] |= 0x80 >> (999 % 8)
            return image
        path = self.damaged_copy("filter.dct", set_prefix_999)
        code, out, _ = run("check", path)
        self.assertEqual(code, 1)
        self.assertIn("section 0: 1 bits set that no number of the file has, the first for 999",
                      out)

    def test_check_errors(self):
        code, _, err = run("check", os.path.join(self.tmp, "nothing-here"))
        self.assertEqual(code, 2)
        self.assertIn("does not exist", err)
        code, _, err = run("check", self.tmp)
        self.assertEqual(code, 2)
        self.assertIn("no qorNNNN.dct files", err)

    def test_check_lists_corrections_that_can_never_apply(self):
        d = os.path.join(self.tmp, "current")
        os.makedirs(os.path.join(d, "dict"))
        os.makedirs(os.path.join(d, "corr"))
        rows = [("13101", "03-3211-9001", "remove", "2611"),  # below the stamp 2612
                ("13101", "03-3211-9002", "add", "2612"),
                ("13101", "03-3211-9003", "add", "3001"),
                ("13113", "03-3461-9004", "add", "2609"),  # below the stamp 2612
                ("14101", "045-123-9005", "add", "2613")]  # no dictionary lists 14101
        tsv = os.path.join(d, "corrections.tsv")
        with open(tsv, "w", encoding="utf-8") as f:
            f.write("kind\tregion_code\tnumber\tpostal_code\tname\tregion_name1\t"
                    "region_name2\taddress1\taddress2\tcorrection\tversion\n")
            for region, number, action, version in rows:
                f.write("1\t%s\t%s\t100-0005\t山田　次郎\t東京都\t区\t丸の内\t\t%s\t%s\n"
                        % (region, number, action, version))
        for args in (["--number", "1301", os.path.join(DATA, "listings.tsv"), "dict"],
                     ["--correction", tsv, "corr"]):
            args[-1] = os.path.join(d, args[-1])
            p = subprocess.run([MKDICT, "--edition1", "20261209", *args], capture_output=True,
                               text=True, timeout=60)
            self.assertEqual(p.returncode, 0, p.stderr)
        self.assertIn("warning: %s: 1 correction has a version that cannot be a YYMM (line 6: "
                      "2613 stored as 2612)" % tsv, p.stderr)
        code, out, _ = run("check", "-q", os.path.join(d, "dict"), os.path.join(d, "corr"))
        self.assertEqual(code, 0, out)  # a finding about the data, not a damaged file
        self.assertEqual(out.splitlines(), [
            "corrections that can never apply to these dictionaries: 3 of 5",
            "  2 with a version below the edition stamp of every dictionary listing their region",
            "  1 of a region no dictionary lists",
            "  region 13101: 1, version 2611, edition stamp 2612",
            "  region 13113: 1, version 2609, edition stamp 2612",
            "  region 14101: 1, version 2612, no dictionary lists the region"])
        # An older copy of dictionary 1301 (stamp 2001) in another directory changes nothing:
        # the newest copy is the installed one.
        code, out2, _ = run("check", "-q", self.dict_dir, os.path.join(d, "dict"),
                            os.path.join(d, "corr"))
        self.assertEqual(out2, out)
        # With only the older one, just the correction of region 14101 cannot apply.
        code, out, _ = run("check", self.dict_dir, os.path.join(d, "corr"))
        self.assertEqual(code, 0, out)
        self.assertIn("never apply to these dictionaries: 1 of 5\n  1 of a region no", out)
        code, out, _ = run("check", self.dict_dir, self.corr_dir)
        self.assertIn("corrections: each of 2 can apply to these dictionaries", out)

    def test_inspect_lists_sections_blocks_and_entries(self):
        code, out, _ = run("inspect", self.dict_file)
        self.assertEqual(code, 0)
        self.assertIn("edition value 1: 20200115", out)
        self.assertIn("entry blocks: 2, entries: 10", out)
        self.assertNotIn("山田　太郎", out)
        self.assertIn("problems: none", out)
        code, out, _ = run("inspect", "--entries", self.dict_file)
        self.assertIn("0332111111  1     山田　太郎", out)
        code, out, _ = run("inspect", "--entries", os.path.join(self.corr_dir, "qor5001.dct"))
        self.assertIn("correction file", out)
        self.assertIn("remove 2001", out)
        code, out, _ = run("inspect", os.path.join(self.dict_dir, "qor9999.dct"))
        self.assertIn("catalog file", out)
        self.assertIn("1301        20", out)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--qor", required=True)
    parser.add_argument("--mkdict", required=True)
    args, rest = parser.parse_known_args()
    QOR, MKDICT = args.qor, args.mkdict
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
