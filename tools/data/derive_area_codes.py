#!/usr/bin/python3
# Derives the area code sets, the number ranges of the municipalities and the hyphenation expectations from libphonenumber's Japanese metadata.
"""Derive area codes and number ranges from libphonenumber.

Usage: /usr/bin/python3 tools/data/derive_area_codes.py [DATA_DIR]

Needs the Python package `phonenumbers` (Debian: python3-phonenumbers), which the build never
needs. DATA_DIR (default: data/) must hold municipalities.tsv and postal_codes.tsv; writes
there:

  area_codes.txt            the area code set: area codes with their leading zero
  extended_area_codes.txt   the extended area code set: an area code with its leading zero
                            followed by the first digit after it
  number_ranges.tsv         number prefixes and the municipalities they serve
  hyphenation_expectations.tsv
                            numbers from those ranges with libphonenumber's national format

The unit of this derivation is the five-digit prefix of a national number (the digits
after the leading zero; Japanese fixed-line numbers have nine). A unit is kept when every
sampled number of it is a valid fixed-line number with the same group lengths and the same
place. The dictionaries' hyphenation probes the prefixes of lengths 5, 4, 3, 2, 1 of a
ten-digit number, at each length the extended set before the area code set, and takes the
first hit; so it is a longest-prefix match in which a prefix of length k can say "area code
of k - 1 digits" (extended set) or "area code of k digits" (area code set). The sets are
chosen by dynamic programming over the prefix tree: fewest units left out, then fewest
entries, area code entries preferred; every unit that keeps its libphonenumber format under
the chosen sets is checked by running the hyphenation on sample numbers.
"""

import collections
import os
import random
import re
import sys

import phonenumbers
from phonenumbers.geodata import GEOCODE_DATA

NATIONAL = phonenumbers.PhoneNumberFormat.NATIONAL
FIXED_LINE = phonenumbers.PhoneNumberType.FIXED_LINE

# Municipalities for the place names of libphonenumber that name no municipality of today:
# former municipalities merged into another, exchange areas named after a district or an
# island, and the 23 wards of Tokyo. Values are municipality names as in municipalities.tsv
# (district part omitted) or a code range.
PLACE_TABLE = {
    "東京": "13101-13123",
    "武蔵野三鷹": "13203 13204",
    "岸和田貝塚": "27202 27208",
    "修善寺大仁": "伊豆市 伊豆の国市",
    "鰍沢青柳": "19:富士川町",
    "利尻礼文": "利尻町 利尻富士町 礼文町",
    "門別富川": "01:日高町",
    "八重山": "石垣市 竹富町 与那国町",
    "種子島": "西之表市 中種子町 南種子町",
    "伊豆大島": "13:大島町",
    "八丈島": "13401",
    "嶺北": "本山町 大豊町 39:土佐町",
    "丹生谷": "那賀町",
    "中甑": "薩摩川内市",
    "硫黄島": "46:三島村",
    "中之島": "十島村",
    "焼尻": "羽幌町",
    "沖縄宮古": "宮古島市",
    "大和榛原": "宇陀市",
    "榛原": "22:牧之原市",
    "和歌山橋本": "30:橋本市",
    "岡山瀬戸": "33:岡山市東区",
    "熊本一の宮": "阿蘇市",
    "対馬佐賀": "対馬市",
    "厳原": "対馬市",
    "郷ノ浦": "壱岐市",
    "有川": "新上五島町",
    "福江": "五島市",
    "名瀬": "奄美市",
    "三本松": "東かがわ市",
    "甲山": "34:世羅町",
    "木江": "34:大崎上島町",
    "根雨": "31:日野町",
    "郡家": "31:八頭町",
    "福渡": "33:岡山市北区",
    "矢部": "43:山都町",
    "松橋": "宇城市",
    "三重": "44:豊後大野市",
    "大根占": "錦江町",
    "大口": "伊佐市",
    "川内": "薩摩川内市",
    "加治木": "46:姶良市",
    "加世田": "46:南さつま市",
}

# Old province or prefecture names that prefix some place names (十勝池田 is 池田 in 十勝).
PLACE_PREFIXES = ("十勝", "根室", "北見", "石狩", "磐城", "会津", "尾張", "美濃", "郡上",
                  "播磨", "丹波", "安芸", "石見", "阿波", "土佐", "伊予", "対馬", "熊本",
                  "沖縄", "大和", "和歌山", "岡山", "伊豆", "木曾", "三河", "遠江", "信濃",
                  "越後", "常陸", "上総", "下総", "日向", "薩摩", "大隅", "肥前", "肥後")

DROP_COST = 10 ** 6        # a unit of the generator's ranges that the sets cannot format
MINOR_DROP_COST = 10 ** 3  # a valid unit whose subscriber part starts with 0 or 1
AREA_ENTRY_COST = 100
EXTENDED_ENTRY_COST = 101


def sample_tails(unit):
    """Ten four-digit endings, one for each first digit, chosen by the unit."""
    return ["%d%03d" % (d, (int(unit) * 7919 + d * 104729) % 1000) for d in range(10)]


def place_of(national):
    for length in range(len(national), 0, -1):
        entry = GEOCODE_DATA.get("81" + national[:length])
        if entry:
            return entry.get("ja"), entry.get("en")
    return None, None


def scan_units():
    """Returns {unit: (area code digits, ja place, en place)} and counts of left-out units."""
    units = {}
    counts = collections.Counter()
    for value in range(10000, 100000):
        unit = "%05d" % value
        shapes, places = set(), set()
        for tail in sample_tails(unit):
            number = phonenumbers.PhoneNumber(country_code=81, national_number=int(unit + tail))
            if (not phonenumbers.is_valid_number(number)
                    or phonenumbers.number_type(number) != FIXED_LINE):
                shapes.add(None)
                continue
            groups = phonenumbers.format_number(number, NATIONAL).split("-")
            shapes.add(tuple(len(g) for g in groups))
            places.add(place_of(unit + tail))
        if shapes == {None}:
            counts["not fixed-line numbers"] += 1
            continue
        if len(shapes) != 1 or len(places) != 1 or None in shapes:
            counts["format or place depends on digits after the fifth"] += 1
            continue
        shape = shapes.pop()
        if len(shape) != 3 or shape[2] != 4 or sum(shape) != 10:
            counts["not a three-group format"] += 1
            continue
        units[unit] = (shape[0] - 1,) + places.pop()
    return units, counts


def choose_sets(units, drop_cost):
    """Chooses the area code set and the extended set (values without the leading zero).

    A trie node of length d may carry a label: an extended entry (area code of d - 1
    digits) or an area code entry (d digits). A unit takes the label of its deepest
    labelled prefix; it is formatted right when that label is its area code length.
    Returns (area set, extended set, dropped units)."""
    children = collections.defaultdict(set)
    for unit in units:
        for d in range(1, 5):
            children[unit[:d]].add(unit[:d + 1])
        children[""].add(unit[:1])
    memo = {}

    def best(node, inherited):
        key = (node, inherited)
        if key in memo:
            return memo[key]
        d = len(node)
        if d == 5:
            code = units[node][0]
            options = [(0 if inherited == code else drop_cost[node], None)]
            if code == 4:
                options.append((EXTENDED_ENTRY_COST, 4))
        else:
            options = [(sum(best(c, inherited)[0] for c in children[node]), None)]
            if d > 0:
                for label in (d - 1, d):
                    if 1 <= label <= 4:
                        cost = AREA_ENTRY_COST if label == d else EXTENDED_ENTRY_COST
                        options.append(
                            (cost + sum(best(c, label)[0] for c in children[node]), label))
        memo[key] = min(options, key=lambda o: o[0])
        return memo[key]

    area, extended, dropped = set(), set(), set()

    def collect(node, inherited):
        label = best(node, inherited)[1]
        if label is not None:
            (area if label == len(node) else extended).add(node)
            inherited = label
        if len(node) == 5:
            if inherited != units[node][0]:
                dropped.add(node)
            return
        for c in children[node]:
            collect(c, inherited)

    collect("", None)
    return area, extended, dropped


def format_number(text, area, extended):
    """The dictionaries' hyphenation of a nine- or ten-digit number text, or None."""
    probes = {9: 4, 10: 5}.get(len(text), 0)
    value = int(text)
    for i in range(probes):
        q = value // (10000 * 10 ** i)
        if q in extended:
            middle, first = i + 1, len(text) - 5 - i
        elif q in area:
            middle, first = i, len(text) - 4 - i
        else:
            continue
        groups = [text[:first]] + ([text[first:first + middle]] if middle else []) + [text[-4:]]
        return "-".join(groups)
    return None


def libphonenumber_format(text):
    number = phonenumbers.PhoneNumber(country_code=81, national_number=int(text[1:]))
    return phonenumbers.format_number(number, NATIONAL)


def read_tsv(path):
    with open(path, encoding="utf-8") as f:
        rows = [line.rstrip("\n").split("\t") for line in f]
    return rows[1:]


class Places:
    """Finds the municipalities that a libphonenumber place name stands for."""

    def __init__(self, municipalities, towns):
        self.names = {code: name for code, _pref, name in municipalities}
        self.by_stem = collections.defaultdict(set)
        for code, name in self.names.items():
            for stem in self.stems(name):
                self.by_stem[stem].add(code)
        self.by_town = collections.defaultdict(collections.Counter)
        for code, _postal, town in towns:
            for length in range(2, min(len(town), 6) + 1):
                self.by_town[town[:length]][code] += 1

    @staticmethod
    def stems(name):
        """Forms of a municipality name that place names use: without its district, without
        the final 市/町/村/区, and for a ward of a designated city the city."""
        out = set()
        name = re.sub(r"^.+?郡", "", name)
        out.add(name)
        ward = re.match(r"^(.+?市)(.+区)$", name)
        if ward:
            out.add(ward.group(1))
            out.add(ward.group(1)[:-1])
            return out
        if name[-1] in "市町村区":
            out.add(name[:-1])
        return out

    def lookup_name(self, text, pref):
        """Codes of a municipality name ("富士川町", "19:富士川町") or a code range."""
        if ":" in text:
            pref, text = text.split(":")
        if re.fullmatch(r"\d{5}-\d{5}", text):
            low, high = text.split("-")
            return {c for c in self.names if low <= c <= high}
        if re.fullmatch(r"\d{5}", text):
            return {text}
        codes = {c for c in self.by_stem.get(text, ()) if pref is None or c[:2] == pref}
        if not codes:
            raise SystemExit("place table: no municipality %s (prefecture %s)" % (text, pref))
        return codes

    def match(self, place, pref):
        """Municipalities of a prefecture (None: of any) that a place name stands for: a
        municipality of that name, of that name after an old province name, else the one
        with most towns of that name. Returns (codes, how) or (set(), None)."""
        def within(codes):
            return {c for c in codes if pref is None or c[:2] == pref}
        codes = within(self.by_stem.get(place, ()))
        if codes:
            return codes, "name"
        for prefix in PLACE_PREFIXES:
            if place.startswith(prefix) and len(place) > len(prefix):
                codes = within(self.by_stem.get(place[len(prefix):], ()))
                if codes:
                    return codes, "name"
        counter = self.by_town.get(place, {})
        codes = within(counter)
        if codes:
            return {max(sorted(codes), key=lambda c: counter[c])}, "town"
        return set(), None


EN_PREFECTURES = (
    "Hokkaido Aomori Iwate Miyagi Akita Yamagata Fukushima Ibaraki Tochigi Gunma Saitama "
    "Chiba Tokyo Kanagawa Niigata Toyama Ishikawa Fukui Yamanashi Nagano Gifu Shizuoka Aichi "
    "Mie Shiga Kyoto Osaka Hyogo Nara Wakayama Tottori Shimane Okayama Hiroshima Yamaguchi "
    "Tokushima Kagawa Ehime Kochi Fukuoka Saga Nagasaki Kumamoto Oita Miyazaki Kagoshima "
    "Okinawa").split()


def resolve_places(units, places):
    """Maps units to sets of municipality codes through their place names.

    The Japanese place name is looked up in the prefecture named by the English place name
    ("Chitose, Hokkaido"); when that fails (the English names are sometimes wrong or
    missing), in the prefecture that most already resolved units sharing the first three
    (else two) digits lie in; then anywhere, if the name is found in one prefecture only.
    Returns ({unit: codes}, counts by method, unmatched names, {place: codes})."""
    by_place = collections.defaultdict(list)
    for unit, (_code, ja, _en) in units.items():
        if ja:
            by_place[ja].append(unit)
    resolved, how = {}, collections.Counter()
    pending = []
    for place, place_units in sorted(by_place.items()):
        if place in PLACE_TABLE:
            resolved[place] = set().union(*(places.lookup_name(t, None)
                                            for t in PLACE_TABLE[place].split()))
            how["hand table"] += 1
            continue
        en = collections.Counter(units[u][2] for u in place_units).most_common(1)[0][0]
        pref = None
        if en and ", " in en and en.split(", ")[-1] in EN_PREFECTURES:
            pref = "%02d" % (EN_PREFECTURES.index(en.split(", ")[-1]) + 1)
        codes, kind = places.match(place, pref) if pref else (set(), None)
        if codes:
            resolved[place] = codes
            how["by %s in the English name's prefecture" % kind] += 1
        else:
            pending.append(place)
    votes3 = collections.defaultdict(collections.Counter)
    votes2 = collections.defaultdict(collections.Counter)
    for place, codes in resolved.items():
        pref = collections.Counter(c[:2] for c in codes).most_common(1)[0][0]
        for unit in by_place[place]:
            votes3[unit[:3]][pref] += 1
            votes2[unit[:2]][pref] += 1
    for place in pending:
        vote = collections.Counter()
        for unit in by_place[place]:
            vote.update(votes3[unit[:3]] or votes2[unit[:2]])
        codes = set()
        if vote:
            codes, kind = places.match(place, vote.most_common(1)[0][0])
            if codes:
                how["by %s in the neighbours' prefecture" % kind] += 1
        if not codes:
            codes, kind = places.match(place, None)
            if codes and len({c[:2] for c in codes}) == 1:
                how["by %s, one prefecture only" % kind] += 1
            else:
                codes = set()
        if codes:
            resolved[place] = codes
    served = {}
    for place, codes in resolved.items():
        for unit in by_place[place]:
            served[unit] = codes
    unmatched = sorted(p for p in by_place if p not in resolved)
    return served, how, unmatched, resolved


def borrow_ranges(municipalities, towns, served_codes):
    """For each municipality that no unit serves, a municipality of the same prefecture
    whose units it takes: the one sharing most three-digit postal prefixes, else the
    nearest municipality code."""
    zip3 = collections.defaultdict(collections.Counter)
    for code, postal, _town in towns:
        zip3[code][postal[:3]] += 1
    lender = {}
    for code, _pref, _name in municipalities:
        if code in served_codes:
            continue
        same_pref = [c for c in served_codes if c[:2] == code[:2]]
        if not same_pref:
            continue
        mine = zip3[code]

        def score(c):
            shared = sum(min(mine[z], zip3[c][z]) for z in mine)
            return (-shared, abs(int(c) - int(code)))
        lender[code] = min(same_pref, key=score)
    return lender


def compress_ranges(unit_codes):
    """Turns {unit: value} into sorted (prefix, value) lines, a prefix standing for all ten
    of its children when they all have the same value."""
    level = dict(unit_codes)
    for _ in range(4):
        groups = collections.defaultdict(dict)
        for prefix, codes in level.items():
            groups[prefix[:-1]][prefix] = codes
        merged = {}
        for parent, members in groups.items():
            values = set(members.values())
            if len(members) == 10 and len(values) == 1 and len(parent) >= 1:
                merged[parent] = values.pop()
            else:
                merged.update(members)
        level = merged
    return sorted(level.items())


def main(argv):
    args = [a for a in argv[1:] if not a.startswith("--")]
    data_dir = args[0] if args else "data"
    municipalities = read_tsv(os.path.join(data_dir, "municipalities.tsv"))
    towns = read_tsv(os.path.join(data_dir, "postal_codes.tsv"))

    units, left_out = scan_units()
    print("phonenumbers %s: %d fixed-line units kept" % (phonenumbers.__version__, len(units)))
    for why, count in sorted(left_out.items()):
        print("  units left out, %s: %d" % (why, count))

    def usable(unit):
        code = units[unit][0]
        return unit[code] not in "01"

    drop_cost = {u: DROP_COST if usable(u) else MINOR_DROP_COST for u in units}
    area, extended, dropped = choose_sets(units, drop_cost)
    print("area code set: %d entries, extended set: %d entries" % (len(area), len(extended)))
    print("  units the sets cannot format: %d (%d with a subscriber part from 2)"
          % (len(dropped), sum(1 for u in dropped if usable(u))))

    area_values = {int(a) for a in area}
    extended_values = {int(e) for e in extended}
    formattable = {}
    for unit in units:
        if unit in dropped:
            continue
        for tail in sample_tails(unit):
            text = "0" + unit + tail
            if format_number(text, area_values, extended_values) != libphonenumber_format(text):
                raise SystemExit("hyphenation check failed for " + text)
        formattable[unit] = units[unit]

    places = Places(municipalities, towns)
    served, how, unmatched, resolved = resolve_places(formattable, places)
    if "--show-places" in argv:
        for place in sorted(resolved):
            print("  %s -> %s" % (place, " ".join(sorted(places.names[c] + "(" + c[:2] + ")"
                                                        for c in resolved[place]))))
    print("place names: " + ", ".join("%s %d" % kv for kv in sorted(how.items())))
    if unmatched:
        print("  unmatched place names: " + " ".join(unmatched))

    ranges_units = {u: codes for u, codes in served.items() if usable(u)}
    served_codes = set().union(*ranges_units.values())
    lender = borrow_ranges(municipalities, towns, served_codes)
    for unit, codes in ranges_units.items():
        extra = {c for c, l in lender.items() if l in codes}
        if extra:
            ranges_units[unit] = codes | extra
    print("number ranges: %d units; municipalities served by name %d, by a neighbour %d, "
          "none %d" % (len(ranges_units), len(served_codes), len(lender),
                       len(municipalities) - len(served_codes) - len(lender)))
    print("  generator units by area code length: %s" % dict(sorted(collections.Counter(
        formattable[u][0] + 1 for u in ranges_units).items())))

    lines = compress_ranges({u: "%d\t%s" % (formattable[u][0] + 1, ",".join(sorted(c)))
                             for u, c in ranges_units.items()})
    with open(os.path.join(data_dir, "area_codes.txt"), "w", newline="\n") as f:
        for value in sorted(area, key=lambda v: (len(v), v)):
            f.write("0%s\n" % value)
    with open(os.path.join(data_dir, "extended_area_codes.txt"), "w", newline="\n") as f:
        for value in sorted(extended, key=lambda v: (len(v), v)):
            f.write("0%s\n" % value)
    with open(os.path.join(data_dir, "number_ranges.tsv"), "w", newline="\n") as f:
        f.write("prefix\tarea_code_length\tmunicipalities\n")
        for prefix, value in lines:
            f.write("0%s\t%s\n" % (prefix, value))

    # Expectations: one number from every range line, then random ones from random lines.
    rng = random.Random(20201001)
    numbers = set()
    for prefix, _codes in lines:
        numbers.add(random_number(rng, "0" + prefix))
    while len(numbers) < max(4000, len(lines) + 1000):
        numbers.add(random_number(rng, "0" + rng.choice(lines)[0]))
    with open(os.path.join(data_dir, "hyphenation_expectations.tsv"), "w", newline="\n") as f:
        for text in sorted(numbers):
            expected = libphonenumber_format(text)
            if format_number(text, area_values, extended_values) != expected:
                raise SystemExit("hyphenation check failed for " + text)
            f.write("%s\t%s\n" % (text, expected))
    print("wrote %d range lines, %d expectations" % (len(lines), len(numbers)))
    return 0


def random_number(rng, prefix):
    return prefix + "".join(rng.choice("0123456789") for _ in range(10 - len(prefix)))


if __name__ == "__main__":
    sys.exit(main(sys.argv))
