#!/usr/bin/env python3
"""Tests of tools/gen_sample.py: the same seed gives the same bytes, the output is what the
builder and the engine take, and the listings keep to the reference data.

Usage: gen_sample_test.py --mkdict PATH --work-dir DIR [--library libqor3.so]

With --library the generated set is opened through Qor_Open and the manifest's example
numbers, shared numbers and corrections are searched with Qor_Search (ctypes)."""

import argparse
import ctypes
import filecmp
import json
import os
import shutil
import subprocess
import sys
import time
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
GENERATOR = os.path.join(ROOT, "tools", "gen_sample.py")
DATA = os.path.join(ROOT, "data")
ARGS = None


def generate(out, seed=7, listings=3000, prefectures="13,47", edition1=20261209):
    """Runs the generator; edition1 None leaves it to its default, today."""
    command = [sys.executable, GENERATOR, "--seed", str(seed), "--listings", str(listings),
               "--prefectures", prefectures, "--out", out, "--mkdict", ARGS.mkdict,
               "--corrections-share", "0.05", "--dict-listings", "1000"]
    if edition1 is not None:
        command += ["--edition1", str(edition1)]
    return subprocess.run(command, capture_output=True, text=True)


def months(yymm):
    return yymm // 100 * 12 + yymm % 100


def read_tsv(path):
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    header = lines[0].split("\t")
    return [dict(zip(header, line.split("\t"))) for line in lines[1:] if line]


def reference_tsv(name):
    with open(os.path.join(DATA, name), encoding="utf-8") as f:
        return [line.rstrip("\n").split("\t") for line in f][1:]


class Generated(unittest.TestCase):
    """One generated set, shared by the tests that only read it."""

    @classmethod
    def setUpClass(cls):
        cls.out = os.path.join(ARGS.work_dir, "first")
        shutil.rmtree(ARGS.work_dir, ignore_errors=True)
        run = generate(cls.out)
        if run.returncode != 0:
            raise AssertionError("generator failed: " + run.stderr)
        with open(os.path.join(cls.out, "manifest.json"), encoding="utf-8") as f:
            cls.manifest = json.load(f)
        cls.dicts = {d["number"]: read_tsv(os.path.join(cls.out, d["tsv"]))
                     for d in cls.manifest["dictionaries"]}
        cls.corrections = read_tsv(os.path.join(cls.out, "tsv", "qor5001.tsv"))

    def test_same_seed_same_bytes_other_seed_other_listings(self):
        again = os.path.join(ARGS.work_dir, "again")
        self.assertEqual(generate(again).returncode, 0)
        for sub in ("tsv", "dict", "corrections"):
            names = sorted(os.listdir(os.path.join(self.out, sub)))
            self.assertEqual(names, sorted(os.listdir(os.path.join(again, sub))))
            match, mismatch, errors = filecmp.cmpfiles(os.path.join(self.out, sub),
                                                       os.path.join(again, sub), names,
                                                       shallow=False)
            self.assertEqual((mismatch, errors), ([], []), sub)
        self.assertTrue(filecmp.cmp(os.path.join(self.out, "manifest.json"),
                                    os.path.join(again, "manifest.json"), shallow=False))
        other = os.path.join(ARGS.work_dir, "other")
        self.assertEqual(generate(other, seed=8).returncode, 0)
        self.assertFalse(filecmp.cmp(os.path.join(self.out, "tsv", "qor1301.tsv"),
                                     os.path.join(other, "tsv", "qor1301.tsv"), shallow=False))

    def test_every_file_built_and_counted(self):
        m = self.manifest
        self.assertEqual(m["listings"], 3000)
        self.assertEqual(sum(len(rows) for rows in self.dicts.values()), 3000)
        for d in m["dictionaries"]:
            path = os.path.join(self.out, d["file"])
            self.assertEqual(os.path.getsize(path), d["bytes"])
            self.assertEqual(d["built"]["entries"], len(self.dicts[d["number"]]))
            self.assertEqual(d["built"]["regions"], len(d["regions"]))
        self.assertEqual(m["corrections"]["built"]["entries"], len(self.corrections))
        self.assertEqual(len(self.corrections), 150)
        self.assertTrue(os.path.isfile(os.path.join(self.out, "corrections", "qor5001.dct")))

    def test_volumes_hold_whole_municipalities_of_their_prefecture(self):
        numbers = sorted(self.dicts)
        self.assertGreater(len([n for n in numbers if n // 100 == 13]), 1, "Tokyo in volumes")
        self.assertIn(4701, numbers)
        owner = {}
        for number, rows in self.dicts.items():
            self.assertTrue(1 <= number % 100 <= 29)
            for row in rows:
                self.assertEqual(int(row["region_code"][:2]), number // 100)
                self.assertEqual(owner.setdefault(row["region_code"], number), number,
                                 "municipality split across dictionaries")

    def test_listings_keep_to_the_reference_data(self):
        names = {c: (p, n) for c, p, n in reference_tsv("municipalities.tsv")}
        towns = {(c, postal, town) for c, postal, town in reference_tsv("postal_codes.tsv")}
        ranges = {}
        for prefix, length, codes in reference_tsv("number_ranges.tsv"):
            for code in codes.split(","):
                ranges.setdefault(code, []).append(prefix)
        with open(os.path.join(DATA, "surnames.txt"), encoding="utf-8") as f:
            surnames = {line.strip() for line in f}
        shared, kinds = 0, {"1": 0, "2": 0}
        seen_numbers = {}
        for rows in self.dicts.values():
            for row in rows:
                code = row["region_code"]
                self.assertEqual((row["region_name1"], row["region_name2"]), names[code])
                self.assertIn((code, row["postal_code"], row["address1"]), towns)
                self.assertTrue(any(row["number"].startswith(p) for p in ranges[code]),
                                row["number"] + " not of " + code)
                self.assertEqual(len(row["number"]), 10)
                kinds[row["kind"]] += 1
                if row["kind"] == "1":
                    surname, _, given = row["name"].partition("\u3000")
                    self.assertIn(surname, surnames)
                    self.assertTrue(given)
                seen_numbers[row["number"]] = seen_numbers.get(row["number"], 0) + 1
        shared = sum(1 for n in seen_numbers.values() if n > 1)
        self.assertGreater(shared, 10, "some numbers held by several listings")
        self.assertGreater(kinds["2"], 300)
        self.assertGreater(kinds["1"], kinds["2"])

    def test_corrections_remove_existing_listings_and_carry_versions_near_the_stamp(self):
        stamp = self.manifest["edition_stamp"]
        self.assertEqual(stamp, self.manifest["edition1"] // 100 % 10000)
        existing = {tuple(sorted(r.items())) for rows in self.dicts.values() for r in rows}
        actions = {"add": 0, "remove": 0}
        versions = set()
        for row in self.corrections:
            version = int(row.pop("version"))
            action = row.pop("correction")
            actions[action] += 1
            versions.add(version)
            self.assertLessEqual(abs(months(version) - months(stamp)), 3)
            key = tuple(sorted(row.items()))
            self.assertEqual(key in existing, action == "remove", row)
        self.assertTrue(actions["add"] and actions["remove"])
        # Months of the year before and after December 2026.
        self.assertTrue({2609, 2610, 2611} & versions and {2701, 2702, 2703} & versions)
        self.assertTrue(all(1 <= v % 100 <= 12 for v in versions), versions)


class Engine(unittest.TestCase):
    """The generated set through the exported functions."""

    def setUp(self):
        if not ARGS.library:
            self.skipTest("no --library")

    def test_manifest_examples_are_found_as_described(self):
        # With the default edition, today (or yesterday when the run crosses midnight).
        out = os.path.join(ARGS.work_dir, "engine")
        before = time.localtime()
        run = generate(out, prefectures="1,27", edition1=None)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertNotIn("warning", run.stderr)
        with open(os.path.join(out, "manifest.json"), encoding="utf-8") as f:
            m = json.load(f)
        self.assertIn(m["edition1"], {t.tm_year * 10000 + t.tm_mon * 100 + t.tm_mday
                                      for t in (before, time.localtime())})
        self.assertGreater(m["corrections"]["applied"], m["corrections"]["ignored_as_older"])
        engine = EngineSet(ARGS.library, os.path.join(out, "dict"),
                           os.path.join(out, "corrections"))
        try:
            self.assertEqual(engine.region_count,
                             sum(len(d["regions"]) for d in m["dictionaries"]))
            for e in m["examples"]["numbers"]:
                self.assertEqual(engine.number(e["number"]), [(e["display"], e["name"])])
            for e in m["examples"]["shared_numbers"]:
                found = engine.number(e["number"])
                self.assertEqual(len(found), e["listings"])
                self.assertEqual({d for d, _ in found}, {e["display"]})
            kinds = set()
            for e in m["corrections"]["examples"]:
                kinds.add((e["correction"], e["applies"]))
                self.assertEqual(len(engine.number(e["number"])), e["expected_number_results"],
                                 e)
            self.assertEqual(len(kinds), 4, "applied and ignored additions and removals")
            self.assertGreaterEqual(len(m["examples"]["name_patterns"]), 4)
            for e in m["examples"]["name_patterns"]:
                self.assertGreater(e["matches"], 0, e)
                self.assertEqual(engine.names(e["region"], e["pattern"]), e["matches"], e)
        finally:
            engine.close()


class OpenRequest(ctypes.Structure):
    _fields_ = [("directory1Length", ctypes.c_uint32), ("directory1", ctypes.c_char * 256),
                ("directory2Length", ctypes.c_uint32), ("directory2", ctypes.c_char * 256),
                ("correctionDirectoryLength", ctypes.c_uint32),
                ("correctionDirectory", ctypes.c_char * 256)]


class OpenResult(ctypes.Structure):
    _fields_ = [("hostArea", ctypes.c_uint8 * 24), ("catalog1Loaded", ctypes.c_uint32),
                ("catalog2Loaded", ctypes.c_uint32), ("correctionFilePresent", ctypes.c_uint32),
                ("regions", ctypes.c_void_p), ("regionCount", ctypes.c_uint32),
                ("regionPool", ctypes.c_void_p)]


TEXTS = ("number", "postalCode", "name", "regionName1", "regionName2", "address1", "address2")


class SearchResult(ctypes.Structure):
    _fields_ = [("entryKind", ctypes.c_int32), ("regionCode", ctypes.c_int32)] + [
        field for name in TEXTS
        for field in ((name + "Length", ctypes.c_uint32), (name, ctypes.c_char_p))]


class SearchRequest(ctypes.Structure):
    _fields_ = [("mode", ctypes.c_uint32), ("kindFilter", ctypes.c_uint32),
                ("regionCode", ctypes.c_uint32), ("address1Length", ctypes.c_uint32),
                ("address1", ctypes.c_char * 80), ("address2Length", ctypes.c_uint32),
                ("address2", ctypes.c_char * 80), ("namePatternLength", ctypes.c_uint32),
                ("namePattern", ctypes.c_char * 160), ("keyLength", ctypes.c_uint32),
                ("key", ctypes.c_char * 40), ("resultCount", ctypes.c_uint32),
                ("results", ctypes.POINTER(ctypes.POINTER(SearchResult))),
                ("resultPool", ctypes.c_void_p)]


class EngineSet:
    def __init__(self, library, directory, corrections):
        self.lib = ctypes.CDLL(library)
        self.lib.Qor_Open.restype = ctypes.c_void_p
        self.lib.Qor_Open.argtypes = [ctypes.POINTER(OpenRequest), ctypes.POINTER(OpenResult)]
        self.lib.Qor_Close.argtypes = [ctypes.c_void_p, ctypes.POINTER(OpenResult)]
        self.lib.Qor_Search.argtypes = [ctypes.c_void_p, ctypes.POINTER(SearchRequest)]
        self.lib.Qor_MemRelease.argtypes = [ctypes.POINTER(SearchRequest)]
        d, c = (os.path.join(p, "").encode() for p in (directory, corrections))
        self.request = OpenRequest(len(d), d, 0, b"", len(c), c)
        self.result = OpenResult()
        self.handle = self.lib.Qor_Open(ctypes.byref(self.request), ctypes.byref(self.result))
        if not self.handle:
            raise AssertionError("Qor_Open failed on " + directory)
        self.region_count = self.result.regionCount

    def search(self, request):
        self.lib.Qor_Search(self.handle, ctypes.byref(request))
        found = [(request.results[i].contents.number.decode(),
                  request.results[i].contents.name.decode("cp932"))
                 for i in range(request.resultCount)]
        self.lib.Qor_MemRelease(ctypes.byref(request))
        return found

    def number(self, key):
        request = SearchRequest(mode=2, keyLength=len(key), key=key.encode())
        return self.search(request)

    def names(self, region, pattern):
        text = pattern.encode("cp932")
        request = SearchRequest(mode=1, kindFilter=3, regionCode=region,
                                namePatternLength=len(text), namePattern=text)
        return len(self.search(request))

    def close(self):
        self.lib.Qor_Close(self.handle, ctypes.byref(self.result))


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--mkdict", required=True)
    parser.add_argument("--work-dir", required=True)
    parser.add_argument("--library")
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
