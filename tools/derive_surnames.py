#!/usr/bin/env python3
"""Derives data/surnames.txt, the 8192 built-in surnames, from mecab-ipadic's name list.

Run by hand (the build only reads the committed output):
    python3 tools/derive_surnames.py [/usr/share/mecab/dic/ipadic/Noun.name.csv] [data/surnames.txt]

The table's shape is fixed by the dictionary files coded against it: 8192 distinct surnames,
each of 1 to 4 double-byte CP932 characters, in ascending CP932 byte order of
"surname + U+3000", with these rows in place:
    0 亜都, 1 阿, 2 阿井, 31 阿部, 8191 齊藤
so nothing may sort before 亜都, between rows 0, 1 and 2, or after 齊藤, and exactly 28
surnames sort strictly between 阿井 and 阿部.

Selection: the fixed rows first (rows 0 to 31 and 8191), then the other 8159 rows from the
surnames that sort strictly between 阿部 and 齊藤, most common first. The cost column of
ipadic ranks commonness (lower = more common) but most surnames carry the default cost
7620, which says nothing; so surnames with another cost come first, by cost, and the
default-cost ones after them, shorter first, then in CP932 byte order.
"""

import sys

DEFAULT_SOURCE = "/usr/share/mecab/dic/ipadic/Noun.name.csv"
DEFAULT_OUTPUT = "data/surnames.txt"

COUNT = 8192
DEFAULT_COST = 7620
SPACE = "\u3000"

FIRST_ROWS = ["亜都", "阿", "阿井"]  # rows 0, 1, 2
ROW_31 = "阿部"
LAST_ROW = "齊藤"  # row 8191
BETWEEN_2_AND_31 = 28
# Real surnames that sort between 阿井 and 阿部, used in this order when the source has too
# few there (this source has 25).
EXTRA_BETWEEN = ["阿比留", "阿刀田", "阿子島", "阿左美", "阿知波"]
# Common surnames that must be in the table; a check on the ranking.
MUST_HAVE = ["山本", "松本", "佐藤", "鈴木", "高橋", "田中", "伊藤", "渡辺", "中村", "小林", "加藤"]


def key(surname):
    """The table text of a surname: CP932 bytes of the surname and the ideographic space."""
    return (surname + SPACE).encode("cp932")


def is_double_byte_lead(b):
    return 0x81 <= b <= 0x9F or 0xE0 <= b <= 0xEF


def usable(surname):
    """1 to 4 characters, each a double-byte CP932 character, no ideographic space."""
    if not 1 <= len(surname) <= 4 or SPACE in surname:
        return False
    for ch in surname:
        try:
            b = ch.encode("cp932")
        except UnicodeEncodeError:
            return False
        if len(b) != 2 or not is_double_byte_lead(b[0]):
            return False
    return True


def read_source(path):
    """Surname -> lowest cost over its rows, for the 人名,姓 rows of the EUC-JP source."""
    with open(path, "rb") as f:
        text = f.read().decode("euc_jp")
    costs = {}
    for line in text.splitlines():
        cols = line.split(",")
        if len(cols) < 8 or cols[6] != "人名" or cols[7] != "姓":
            continue
        surname, cost = cols[0], int(cols[3])
        if surname not in costs or cost < costs[surname]:
            costs[surname] = cost
    return costs


def rank(surname, costs):
    """Sort key: most common first, deterministic."""
    cost = costs.get(surname, DEFAULT_COST)
    if cost != DEFAULT_COST:
        return (0, cost, len(surname), key(surname))
    return (1, 0, len(surname), key(surname))


def select(costs):
    dropped_unusable = sorted(s for s in costs if not usable(s))
    names = [s for s in costs if usable(s)]

    lo, hi, last = key(FIRST_ROWS[2]), key(ROW_31), key(LAST_ROW)
    # The source's own surnames there come first (by rank), then the reserves in list order.
    between = sorted((s for s in names if lo < key(s) < hi), key=lambda s: rank(s, costs))
    between += [s for s in EXTRA_BETWEEN
                if s not in between and usable(s) and lo < key(s) < hi]
    if len(between) < BETWEEN_2_AND_31:
        sys.exit(f"only {len(between)} surnames sort between {FIRST_ROWS[2]} and {ROW_31}; "
                 f"need {BETWEEN_2_AND_31}: add more to EXTRA_BETWEEN")
    between = between[:BETWEEN_2_AND_31]

    fixed = FIRST_ROWS + between + [ROW_31, LAST_ROW]
    rest = sorted((s for s in names if hi < key(s) < last), key=lambda s: rank(s, costs))
    need = COUNT - len(fixed)
    if len(rest) < need:
        sys.exit(f"only {len(rest)} surnames sort between {ROW_31} and {LAST_ROW}; need {need}")
    chosen = sorted(fixed + rest[:need], key=key)

    missing = [s for s in MUST_HAVE if s not in chosen]
    if missing:
        sys.exit("common surnames missing from the selection: " + " ".join(missing))
    cut = rank(rest[need - 1], costs)
    print(f"{len(costs)} distinct surnames in the source, {len(dropped_unusable)} not usable "
          f"(length or CP932), {len(rest)} eligible for the free rows; "
          f"the last chosen has rank {cut[:3]}", file=sys.stderr)
    return chosen


def main(argv):
    source = argv[1] if len(argv) > 1 else DEFAULT_SOURCE
    output = argv[2] if len(argv) > 2 else DEFAULT_OUTPUT
    chosen = select(read_source(source))
    assert len(chosen) == COUNT and len(set(chosen)) == COUNT
    assert chosen[:3] == FIRST_ROWS and chosen[31] == ROW_31 and chosen[-1] == LAST_ROW
    with open(output, "w", encoding="utf-8", newline="\n") as f:
        for s in chosen:
            f.write(s + "\n")
    print(f"wrote {COUNT} surnames to {output}", file=sys.stderr)


if __name__ == "__main__":
    main(sys.argv)
