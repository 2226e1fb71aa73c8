#!/usr/bin/env python3
# Derives data/given_names.txt, the given names of generated person listings, from mecab-ipadic's name list.
"""Derive the given name list.

Usage: derive_given_names.py [Noun.name.csv] [OUTPUT]
Defaults: /usr/share/mecab/dic/ipadic/Noun.name.csv (EUC-JP) and data/given_names.txt.

Takes the rows whose part of speech is 人名,名 (person name, given name), keeps names of 1
to 4 characters made only of kanji (and 々) and hiragana, all double-byte in cp932, and
writes one name per line (UTF-8), most common first: the cost column ranks commonness
(lower = more common); a name listed several times keeps its lowest cost; names of equal
cost are ordered by their cp932 bytes. The default cost that most rare names carry says
nothing, so the order is meaningful only at the top of the list.
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from cp932_text import all_double_byte  # noqa: E402

DEFAULT_SOURCE = "/usr/share/mecab/dic/ipadic/Noun.name.csv"
DEFAULT_OUTPUT = "data/given_names.txt"


def is_kanji_or_hiragana(ch):
    return ("\u4e00" <= ch <= "\u9fff" or ch == "\u3005"
            or "\u3041" <= ch <= "\u3096" or ch in "\u309d\u309e")


def main(argv):
    source = argv[1] if len(argv) > 1 else DEFAULT_SOURCE
    output = argv[2] if len(argv) > 2 else DEFAULT_OUTPUT
    best = {}
    rows = 0
    with open(source, encoding="euc_jp") as f:
        for line in f:
            fields = line.rstrip("\n").split(",")
            if len(fields) < 8 or fields[6] != "人名" or fields[7] != "名":
                continue
            rows += 1
            name, cost = fields[0], int(fields[3])
            if not 1 <= len(name) <= 4 or not all(map(is_kanji_or_hiragana, name)):
                continue
            if not all_double_byte(name):
                continue
            if name not in best or cost < best[name]:
                best[name] = cost
    names = sorted(best, key=lambda n: (best[n], n.encode("cp932")))
    with open(output, "w", encoding="utf-8", newline="\n") as f:
        for name in names:
            f.write(name + "\n")
    print("given-name rows: %d, distinct names kept: %d" % (rows, len(names)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
