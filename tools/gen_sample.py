#!/usr/bin/env python3
"""Generates a sample dictionary set from the reference data in data/.

Usage:
  gen_sample.py --seed S --listings N --prefectures 13,14,27 --out DIR --mkdict PATH
                [--corrections-share F] [--edition1 YYYYMMDD] [--dict-listings M]

--edition1 defaults to today's date; give it to get the same bytes on another day.

Writes, for every dictionary of the set:
  DIR/tsv/qorNNNN.tsv      the listings as qor-mkdict's UTF-8 TSV input
  DIR/dict/qorNNNN.dct     the dictionary, built by qor-mkdict
and the correction file DIR/tsv/qor5001.tsv and DIR/corrections/qor5001.dct, and
DIR/manifest.json describing the set (dictionaries, counts, example numbers and regions).

The output depends only on the arguments and the files in data/: the same seed gives the same
bytes. Listings go to the municipalities of the chosen prefectures by a fixed weight (ward,
city, town or village, and how many towns it has); a prefecture's municipalities, in code
order, are cut into volumes of about --dict-listings listings (at most 29), numbered
100 x prefecture code + volume. Corrections remove existing listings, add new ones and move
some (a removal and an addition), stamped with versions (YYMM) a few months around the
dictionaries' edition stamp (edition1 / 100) mod 10000, the YYMM of the edition: most apply,
some are older than the installed data and are ignored by the engine.
"""

import argparse
import bisect
import json
import math
import os
import random
import re
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DATA_DIR = os.path.join(ROOT, "data")

MAX_VOLUMES = 29
CORRECTION_REGION_LIMIT = 256  # the correction file has one entry block per region at least

IDEOGRAPHIC_SPACE = "\u3000"
FULL_WIDTH = str.maketrans("0123456789-", "０１２３４５６７８９－")

# The most common surnames; a share of person listings takes one of them, so that searches
# for them find many listings. Names missing from the built-in table are left out.
COMMON_SURNAMES = (
    "佐藤 鈴木 高橋 田中 伊藤 渡辺 山本 中村 小林 加藤 吉田 山田 佐々木 山口 松本 井上 木村 "
    "林 斎藤 清水 山崎 森 池田 橋本 阿部 石川 山下 中島 石井 小川 前田 岡田 長谷川 藤田 後藤 "
    "近藤 村上 遠藤 青木 坂本 斉藤 福田 太田 西村 藤井 金子 岡本 藤原 中野 三浦 原田 中川 松田 "
    "竹内 小野 田村 中山 和田 石田 森田 上田 原 内田 柴田 酒井 宮崎 横山 高木 安藤 宮本 大野 "
    "小島 谷口 今井 工藤 高田 増田 丸山 杉山 村田 大塚 新井 小山 平野 藤本 河野 上野 野口 武田 "
    "松井 千葉 岩崎 菅原 木下").split()
COMMON_SURNAME_SHARE = 0.35

BUILDING_FORMS = ("{word}ハイツ", "コーポ{word}", "{surname}ビル", "{place}マンション",
                  "メゾン{word}", "グランド{word}", "{word}荘", "パークハウス{place}")


def read_lines(name):
    with open(os.path.join(DATA_DIR, name), encoding="utf-8") as f:
        return [line.rstrip("\n") for line in f]


def read_tsv(name):
    return [line.split("\t") for line in read_lines(name)[1:] if line]


class Reference:
    """The reference data, read once."""

    def __init__(self):
        self.municipalities = {}  # code -> (prefecture, municipality)
        for code, prefecture, name in read_tsv("municipalities.tsv"):
            self.municipalities[code] = (prefecture, name)
        self.towns = {}  # code -> [(postal code, town)]
        for code, postal, town in read_tsv("postal_codes.tsv"):
            self.towns.setdefault(code, []).append((postal, town))
        self.ranges = {}  # code -> [(prefix, area code length)]
        for prefix, length, codes in read_tsv("number_ranges.tsv"):
            for code in codes.split(","):
                self.ranges.setdefault(code, []).append((prefix, int(length)))
        self.surnames = [s for s in read_lines("surnames.txt") if s]
        known = set(self.surnames)
        self.common_surnames = [s for s in COMMON_SURNAMES if s in known]
        self.given_names = [g for g in read_lines("given_names.txt") if g]
        self.forms, self.departments, self.chains, self.words = [], [], [], []
        lists = {"form": self.forms, "department": self.departments, "chain": self.chains,
                 "word": self.words}
        for number, line in enumerate(read_lines("business_names.txt"), 1):
            if not line or line.startswith("#"):
                continue
            fields = line.split("\t")
            if len(fields) != 3 or fields[0] not in lists or not fields[1].isdigit():
                raise SystemExit("data/business_names.txt line %d: not KIND, WEIGHT, TEXT"
                                 % number)
            lists[fields[0]].append((fields[2], int(fields[1])))


class Weighted:
    """Weighted choice from a fixed list with precomputed cumulative weights."""

    def __init__(self, items):
        self.values = [value for value, _ in items]
        self.cumulative = []
        total = 0
        for _, weight in items:
            total += weight
            self.cumulative.append(total)
        self.total = total

    def pick(self, rng):
        return self.values[bisect.bisect_right(self.cumulative, rng.random() * self.total)]


def pick(rng, items):
    """A uniform choice; cheaper than Random.choice, and as deterministic."""
    return items[int(rng.random() * len(items))]


def place_stem(municipality):
    """The municipality's name as businesses use it: 横浜市中区 -> 横浜, 大島町 -> 大島."""
    name = re.sub(r"^.+?郡", "", municipality)
    ward = re.match(r"^(.+?)市.+区$", name)
    if ward:
        return ward.group(1)
    if len(name) > 1 and name[-1] in "市町村区":
        return name[:-1]
    return name


def municipality_weight(name, town_count):
    """A stand-in for population: wards and cities get more listings than towns and villages,
    and places with more postal towns more than those with few."""
    kind = {"区": 6.0, "市": 4.0, "町": 1.5, "村": 0.5}.get(name[-1], 1.0)
    return kind * math.sqrt(town_count + 4)


def split_counts(total, weights):
    """Whole numbers summing to total, proportional to weights (largest remainder)."""
    weight_sum = sum(weights)
    shares = [total * w / weight_sum for w in weights]
    counts = [int(s) for s in shares]
    order = sorted(range(len(weights)), key=lambda i: (counts[i] - shares[i], i))
    for i in order[:total - sum(counts)]:
        counts[i] += 1
    return counts


def plan_volumes(codes, counts, dict_listings):
    """Cuts one prefecture's municipalities (code order, listing counts) into at most 29
    runs of about dict_listings listings each; returns lists of codes."""
    present = [(c, n) for c, n in zip(codes, counts) if n > 0]
    total = sum(n for _, n in present)
    if not present:
        return []
    volumes = min(MAX_VOLUMES, len(present), max(1, math.ceil(total / dict_listings)))
    runs, run, done = [], [], 0
    for i, (code, n) in enumerate(present):
        run.append(code)
        done += n
        left = len(present) - i - 1
        wanted = volumes - len(runs) - 1  # runs still to start after this one
        if wanted > 0 and (done >= total * (len(runs) + 1) / volumes or left == wanted):
            runs.append(run)
            run = []
    if run:
        runs.append(run)
    return runs


class Listing:
    __slots__ = ("kind", "region", "number", "postal", "name", "address1", "address2",
                 "area_length")

    def __init__(self, kind, region, number, postal, name, address1, address2, area_length):
        self.kind = kind
        self.region = region
        self.number = number
        self.postal = postal
        self.name = name
        self.address1 = address1
        self.address2 = address2
        self.area_length = area_length

    def key(self):
        """What makes two entries equal for the engine's correction merge."""
        return (self.region, self.address1, self.address2, self.name, self.number, self.kind)


def display_number(number, area_length):
    """The hyphenated form: area code, exchange, last four digits."""
    return "%s-%s-%s" % (number[:area_length], number[area_length:-4], number[-4:])


class Municipality:
    """What the generator needs of one municipality."""

    def __init__(self, ref, code):
        self.code = code
        self.prefecture, self.name = ref.municipalities[code]
        self.place = place_stem(self.name)
        self.towns = ref.towns[code]
        ranges = ref.ranges.get(code, [])
        self.ranges = Weighted([(r, 10 ** (10 - len(r[0]))) for r in ranges])


class Generator:
    def __init__(self, ref, seed, used_numbers):
        self.ref = ref
        self.seed = seed
        self.used = used_numbers
        self.forms = Weighted(ref.forms)
        self.departments = [d for d, _ in ref.departments]
        self.chains = [c for c, _ in ref.chains]
        self.words = [w for w, _ in ref.words]
        self.common = Weighted([(s, 1.0 / (i + 1)) for i, s in enumerate(ref.common_surnames)])

    def surname(self, rng):
        if self.ref.common_surnames and rng.random() < COMMON_SURNAME_SHARE:
            return self.common.pick(rng)
        return pick(rng, self.ref.surnames)

    def given_name(self, rng):
        names = self.ref.given_names
        return names[int(len(names) * rng.random() ** 4)]

    def new_number(self, rng, muni):
        """An unused number of the area codes serving the municipality."""
        for _ in range(20):
            prefix, length = muni.ranges.pick(rng)
            space = 10 ** (10 - len(prefix))
            digits = prefix + str(space + int(rng.random() * space))[1:]
            if digits not in self.used:
                break
        self.used.add(digits)
        return digits, length

    def next_number(self, rng, muni, number, length):
        """The number after number (a business's next line), else a new one."""
        following = "%010d" % (int(number) + 1)
        if following[-4:] != "0000" and following not in self.used:
            self.used.add(following)
            return following, length
        return self.new_number(rng, muni)

    def fill(self, rng, pattern, muni, town):
        text = pattern
        if "{surname}" in text:
            text = text.replace("{surname}", self.surname(rng))
        if "{word}" in text:
            text = text.replace("{word}", pick(rng, self.words))
        return text.replace("{place}", muni.place).replace("{town}", town or muni.place)

    def address2(self, rng, muni):
        r = rng.random()
        block = 1 + int(9 * rng.random() ** 2)
        lot = 1 + int(rng.random() * 30)
        house = 1 + int(rng.random() * 25)
        if r < 0.40:
            text = ("%d丁目%d-%d" % (block, lot, house)).translate(FULL_WIDTH)
            separator, full = IDEOGRAPHIC_SPACE, True
        elif r < 0.72:
            text = "%d-%d-%d" % (block, lot, house)
            separator, full = " ", False
        elif r < 0.84:
            text = ("%d番地" % (1 + int(rng.random() * 2500))).translate(FULL_WIDTH)
            separator, full = IDEOGRAPHIC_SPACE, True
        elif r < 0.95:
            text = "%d-%d" % (1 + int(rng.random() * 2500), 1 + int(rng.random() * 30))
            separator, full = " ", False
        else:
            return ""
        if rng.random() < 0.15:
            building = self.fill(rng, pick(rng, BUILDING_FORMS), muni, "")
            room = "%d%02d" % (1 + int(rng.random() * 12), 1 + int(rng.random() * 10))
            if full:
                building += room.translate(FULL_WIDTH) + "号"
            else:
                building += room
            text += separator + building
        return text

    def municipality(self, muni, count):
        """count listings of one municipality, in households and businesses."""
        rng = random.Random("%d:%s" % (self.seed, muni.code))
        out = []
        while len(out) < count:
            left = count - len(out)
            postal, town = pick(rng, muni.towns)
            address2 = self.address2(rng, muni)
            if rng.random() < 0.7:
                self.household(rng, muni, postal, town, address2, left, out)
            else:
                self.business(rng, muni, postal, town, address2, left, out)
        return out

    def household(self, rng, muni, postal, town, address2, left, out):
        r = rng.random()
        size = min(left, 1 if r < 0.82 else 2 if r < 0.96 else 3)
        surname = self.surname(rng)
        number, length = self.new_number(rng, muni)
        given = set()
        for i in range(size):
            name = self.given_name(rng)
            while name in given:
                name = self.given_name(rng)
            given.add(name)
            if i > 0 and rng.random() >= 0.6:
                number, length = self.new_number(rng, muni)
            out.append(Listing(1, muni.code, number, postal, surname + IDEOGRAPHIC_SPACE + name,
                               town, address2, length))

    def business(self, rng, muni, postal, town, address2, left, out):
        r = rng.random()
        number, length = self.new_number(rng, muni)
        if r < 0.12 and left >= 2:
            base = self.fill(rng, self.forms.pick(rng), muni, town)
            size = min(left, rng.randint(2, 5))
            out.append(Listing(2, muni.code, number, postal, base, town, address2, length))
            for department in rng.sample(self.departments, size - 1):
                if rng.random() < 0.8:
                    number, length = self.next_number(rng, muni, number, length)
                out.append(Listing(2, muni.code, number, postal,
                                   base + IDEOGRAPHIC_SPACE + department, town, address2, length))
            return
        if r < 0.25:
            name = pick(rng, self.chains) + (town or muni.place) + "店"
        else:
            name = self.fill(rng, self.forms.pick(rng), muni, town)
        out.append(Listing(2, muni.code, number, postal, name, town, address2, length))


TSV_COLUMNS = ["kind", "region_code", "number", "postal_code", "name", "region_name1",
               "region_name2", "address1", "address2"]


def write_tsv(path, listings, munis, corrections=None):
    header = TSV_COLUMNS + (["correction", "version"] if corrections is not None else [])
    lines = ["\t".join(header)]
    for i, e in enumerate(listings):
        m = munis[e.region]
        fields = [str(e.kind), e.region, e.number, e.postal, e.name, m.prefecture, m.name,
                  e.address1, e.address2]
        if corrections is not None:
            action, version = corrections[i]
            fields += [action, str(version)]
        lines.append("\t".join(fields))
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


class Progress:
    """One updating line on stderr, only when it is a terminal."""

    def __init__(self):
        self.active = sys.stderr.isatty()
        self.last = 0.0

    def show(self, text, force=False):
        if not self.active:
            return
        now = time.monotonic()
        if force or now - self.last >= 0.2:
            self.last = now
            sys.stderr.write("\r\033[K" + text)
            sys.stderr.flush()

    def done(self):
        if self.active:
            sys.stderr.write("\r\033[K")
            sys.stderr.flush()


def add_months(yymm, months):
    """The YYMM a number of months after (or before) yymm; not below 0."""
    index = max(0, yymm // 100 * 12 + yymm % 100 - 1 + months)
    return index // 12 % 100 * 100 + index % 12 + 1


def today():
    now = time.localtime()
    return now.tm_year * 10000 + now.tm_mon * 100 + now.tm_mday


def make_corrections(gen, seed, stamp, count, listings_by_region, munis):
    """Correction entries: removals of existing listings, new listings and moves (a removal
    and an addition of the same name). Returns [(listing, action, version)]."""
    rng = random.Random("%d:corrections" % seed)
    regions = sorted(listings_by_region, key=lambda c: (-len(listings_by_region[c]), c))
    regions = sorted(regions[:CORRECTION_REGION_LIMIT])
    if not regions or count <= 0:
        return []
    chooser = Weighted([(c, len(listings_by_region[c])) for c in regions])
    touched = set()
    out = []

    def version():
        r = rng.random()
        if r < 0.12:
            return add_months(stamp, -rng.randint(1, 3))   # older than the installed data
        if r < 0.75:
            return stamp
        return add_months(stamp, rng.randint(1, 3))

    def existing(code):
        pool = listings_by_region[code]
        for _ in range(20):
            e = pool[rng.randrange(len(pool))]
            if e.key() not in touched:
                touched.add(e.key())
                return e
        return None

    while len(out) < count:
        code = chooser.pick(rng)
        muni = munis[code]
        r = rng.random()
        v = version()
        if r < 0.35:
            e = existing(code)
            if e is not None:
                out.append((e, "remove", v))
        elif r < 0.75 or count - len(out) < 2:
            added = []
            postal, town = rng.choice(muni.towns)
            make = gen.household if rng.random() < 0.7 else gen.business
            make(rng, muni, postal, town, gen.address2(rng, muni), 1, added)
            out.append((added[0], "add", v))
        else:
            e = existing(code)
            if e is None:
                continue
            moved = Listing(e.kind, e.region, e.number, e.postal, e.name, e.address1,
                            gen.address2(rng, muni), e.area_length)
            if rng.random() < 0.5:
                moved.number, moved.area_length = gen.new_number(rng, muni)
            if moved.key() == e.key():
                continue
            out.append((e, "remove", v))
            out.append((moved, "add", v))
    return out[:count]


def builder_counts(output):
    """qor-mkdict's summary line as numbers (the path it names is left out)."""
    found = re.search(r": (\d+) entries, (\d+) regions, (\d+) entry blocks, (\d+) number blocks",
                      output)
    if not found:
        raise SystemExit("gen_sample: unexpected qor-mkdict output: " + output.strip())
    return dict(zip(("entries", "regions", "entry_blocks", "number_blocks"),
                    (int(g) for g in found.groups())))


def run_mkdict(jobs, progress, label):
    """Runs qor-mkdict commands, two at a time; returns their outputs in order and passes
    their warnings on."""
    results = [None] * len(jobs)
    running = []
    pending = list(enumerate(jobs))
    done = 0
    while pending or running:
        while pending and len(running) < 2:
            i, command = pending.pop(0)
            running.append((i, command, subprocess.Popen(
                command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)))
        i, command, process = running.pop(0)
        stdout, stderr = process.communicate()
        if process.returncode != 0:
            for _, _, other in running:
                other.wait()
            raise SystemExit("gen_sample: %s failed (exit %d):\n%s"
                             % (" ".join(command), process.returncode, stderr.strip()))
        sys.stderr.write(stderr)  # qor-mkdict's warnings
        results[i] = builder_counts(stdout)
        done += 1
        progress.show("%s: %d of %d files built" % (label, done, len(jobs)), force=True)
    return results


def clean_outputs(directory, pattern):
    """Removes earlier generated files so that the set holds only this run's files; the
    catalog qor9999.dct goes too, since a dictionary rewritten with the same edition values
    would otherwise keep its stale catalog rows."""
    if not os.path.isdir(directory):
        os.makedirs(directory)
        return
    for name in os.listdir(directory):
        if re.fullmatch(pattern, name):
            os.remove(os.path.join(directory, name))


def parse_args(argv):
    parser = argparse.ArgumentParser(
        description="Generates a sample dictionary set (TSV, dictionaries, correction file "
                    "and manifest.json) from the reference data in data/.")
    parser.add_argument("--seed", type=int, required=True, help="random seed")
    parser.add_argument("--listings", type=int, required=True,
                        help="number of listings in the dictionaries")
    parser.add_argument("--prefectures", required=True,
                        help="prefecture codes, comma-separated (13,14,27)")
    parser.add_argument("--out", required=True, help="output directory")
    parser.add_argument("--mkdict", required=True, help="path of qor-mkdict")
    parser.add_argument("--corrections-share", type=float, default=0.01,
                        help="correction entries as a share of the listings (default 0.01)")
    parser.add_argument("--edition1", type=int, default=today(),
                        help="edition value 1 of every dictionary, YYYYMMDD (default today); "
                             "correction versions are YYMM a few months around its YYMM")
    parser.add_argument("--dict-listings", type=int, default=20000,
                        help="listings per dictionary the volumes aim at (default 20000)")
    args = parser.parse_args(argv)
    if args.listings < 1:
        parser.error("--listings must be at least 1")
    if not 0 <= args.corrections_share <= 1:
        parser.error("--corrections-share must be from 0 to 1")
    if args.dict_listings < 1:
        parser.error("--dict-listings must be at least 1")
    month, day = args.edition1 // 100 % 100, args.edition1 % 100
    if not (10000000 <= args.edition1 <= 99999999 and 1 <= month <= 12 and 1 <= day <= 31):
        parser.error("--edition1 %d: not a date YYYYMMDD" % args.edition1)
    try:
        args.prefecture_codes = sorted({int(p) for p in args.prefectures.split(",")})
    except ValueError:
        parser.error("--prefectures %s: not a list of codes" % args.prefectures)
    for p in args.prefecture_codes:
        if not 1 <= p <= 47:
            parser.error("--prefectures: %d is not a prefecture code 1..47" % p)
    return args


def main(argv):
    args = parse_args(argv)
    started = time.monotonic()
    progress = Progress()
    ref = Reference()
    stamp = args.edition1 // 100 % 10000

    munis = {}
    plan = []  # (dictionary number, [codes])
    counts = {}
    prefecture_codes = {}
    for p in args.prefecture_codes:
        codes = sorted(c for c in ref.municipalities
                       if int(c[:2]) == p and c in ref.towns and c in ref.ranges)
        prefecture_codes[p] = codes
        for code in codes:
            munis[code] = Municipality(ref, code)
    all_codes = [c for p in args.prefecture_codes for c in prefecture_codes[p]]
    weights = [municipality_weight(munis[c].name, len(munis[c].towns)) for c in all_codes]
    for code, n in zip(all_codes, split_counts(args.listings, weights)):
        counts[code] = n
    for p in args.prefecture_codes:
        codes = prefecture_codes[p]
        for volume, run in enumerate(plan_volumes(codes, [counts[c] for c in codes],
                                                  args.dict_listings), 1):
            plan.append((100 * p + volume, run))

    gen = Generator(ref, args.seed, set())
    tsv_dir = os.path.join(args.out, "tsv")
    dict_dir = os.path.join(args.out, "dict")
    correction_dir = os.path.join(args.out, "corrections")
    manifest_path = os.path.join(args.out, "manifest.json")
    if os.path.exists(manifest_path):
        os.remove(manifest_path)  # written last: its presence says the set is complete
    clean_outputs(tsv_dir, r"qor\d{4}\.tsv")
    clean_outputs(dict_dir, r"qor\d{4}\.dct(\.\d+\.tmp)?")
    clean_outputs(correction_dir, r"qor\d{4}\.dct(\.\d+\.tmp)?")

    listings_by_region = {}
    dictionaries = []
    generated = 0
    for number, run in plan:
        listings = []
        for code in run:
            made = gen.municipality(munis[code], counts[code])
            listings_by_region[code] = made
            listings.extend(made)
            generated += len(made)
            progress.show("generating listings: %d of %d" % (generated, args.listings))
        write_tsv(os.path.join(tsv_dir, "qor%04d.tsv" % number), listings, munis)
        dictionaries.append((number, run, listings))

    share_count = round(args.listings * args.corrections_share)
    corrections = make_corrections(gen, args.seed, stamp, share_count, listings_by_region, munis)
    write_tsv(os.path.join(tsv_dir, "qor5001.tsv"), [c[0] for c in corrections], munis,
              [(c[1], c[2]) for c in corrections])
    generated_at = time.monotonic()

    area_codes = os.path.join(DATA_DIR, "area_codes.txt")
    extended = os.path.join(DATA_DIR, "extended_area_codes.txt")
    common = [args.mkdict, "--edition1", str(args.edition1), "--edition2", "1",
              "--area-codes", area_codes, "--extended-area-codes", extended]
    jobs = [common + ["--number", str(number), os.path.join(tsv_dir, "qor%04d.tsv" % number),
                      dict_dir] for number, _, _ in dictionaries]
    jobs.append(common + ["--correction", os.path.join(tsv_dir, "qor5001.tsv"),
                          correction_dir])
    outputs = run_mkdict(jobs, progress, "qor-mkdict")
    progress.done()

    manifest = build_manifest(args, stamp, dictionaries, listings_by_region, corrections, munis,
                              outputs)
    with open(manifest_path, "w", encoding="utf-8", newline="\n") as f:
        json.dump(manifest, f, ensure_ascii=False, indent=2)
        f.write("\n")
    finished = time.monotonic()
    print("gen_sample: %d listings in %d dictionar%s, %d corrections; generated in %.1f s, "
          "built in %.1f s" % (generated, len(dictionaries), "y" if len(dictionaries) == 1
                               else "ies", len(corrections), generated_at - started,
                               finished - generated_at))
    return 0


TRADE_WORDS = ("歯科", "内科", "医院", "建設", "工務店", "商店", "薬局", "不動産", "株式会社")


def name_patterns(regions, listings_by_region, applied):
    """Name searches with known answers in the example regions: the region's most common
    surname followed by "*", and "*" + a trade word + "*"; matches counts the entries of
    both kinds that the engine returns, corrections applied."""
    out = []
    for region in regions:
        code = "%05d" % region["code"]
        listings = listings_by_region[code]
        surnames = {}
        for e in listings:
            if e.kind == 1:
                surname = e.name.split(IDEOGRAPHIC_SPACE)[0]
                surnames[surname] = surnames.get(surname, 0) + 1
        words = {w: sum(1 for e in listings if e.kind == 2 and w in e.name) for w in TRADE_WORDS}
        tests = []
        if surnames:
            top = max(surnames, key=lambda s: (surnames[s], s))
            tests.append((top + "*", lambda name, t=top: name.startswith(t)))
        word = max(TRADE_WORDS, key=lambda w: words[w])
        if words[word]:
            tests.append(("*" + word + "*", lambda name, w=word: w in name))
        region_corrections = [(e, a) for e, a, _ in applied if e.region == code]
        removed = {e.key() for e, a in region_corrections if a == "remove"}
        for pattern, test in tests:
            matches = sum(1 for e in listings if test(e.name) and e.key() not in removed)
            matches += sum(1 for e, a in region_corrections if a == "add" and test(e.name))
            out.append({"region": region["code"], "pattern": pattern, "kind": 3,
                        "matches": matches})
    return out


def listing_record(e, munis):
    m = munis[e.region]
    return {"number": e.number, "display": display_number(e.number, e.area_length),
            "kind": e.kind, "name": e.name, "region": int(e.region),
            "region_name1": m.prefecture, "region_name2": m.name, "postal_code": e.postal,
            "address1": e.address1, "address2": e.address2}


def build_manifest(args, stamp, dictionaries, listings_by_region, corrections, munis, outputs):
    applied = [(e, a, v) for e, a, v in corrections if v >= stamp]
    # The entries a number search returns: the dictionaries' listings with that number, less
    # the applied removals equal to one of them, plus the applied additions.
    removed = {e.key() for e, a, _ in applied if a == "remove"}
    holders = {}
    for _, _, listings in dictionaries:
        for e in listings:
            holders.setdefault(e.number, []).append(e)
    touched_numbers = {e.number for e, _, _ in corrections}

    def expected(number):
        found = [e for e in holders.get(number, []) if e.key() not in removed]
        found += [e for e, a, _ in applied if a == "add" and e.number == number]
        return len(found)

    dict_records = []
    examples_single, examples_shared, example_regions = [], [], []
    for (number, run, listings), output in zip(dictionaries, outputs):
        path = os.path.join(args.out, "dict", "qor%04d.dct" % number)
        regions = []
        for code in run:
            in_region = listings_by_region[code]
            regions.append({"code": int(code), "name": munis[code].name,
                            "listings": len(in_region),
                            "kind2": sum(1 for e in in_region if e.kind == 2)})
        dict_records.append({"number": number, "file": "dict/qor%04d.dct" % number,
                             "tsv": "tsv/qor%04d.tsv" % number, "prefecture": number // 100,
                             "listings": len(listings), "bytes": os.path.getsize(path),
                             "regions": regions, "built": output})
        singles = [e for e in listings
                   if len(holders[e.number]) == 1 and e.number not in touched_numbers]
        for e in singles[:: max(1, len(singles) // 3)][:3]:
            examples_single.append(listing_record(e, munis))
        shared = sorted({e.number for e in listings
                         if len(holders[e.number]) > 1 and e.number not in touched_numbers})
        for n in shared[:2]:
            examples_shared.append({"number": n,
                                    "display": display_number(n, holders[n][0].area_length),
                                    "listings": len(holders[n])})
        largest = max(regions, key=lambda r: (r["listings"], -r["code"]))
        example_regions.append({"code": largest["code"], "name": largest["name"],
                                "dictionary": number, "listings": largest["listings"]})

    correction_examples = []
    seen = set()
    for wanted in (("add", True), ("remove", True), ("add", False), ("remove", False)):
        for e, action, v in corrections:
            if (action, v >= stamp) == wanted and e.number not in seen:
                seen.add(e.number)
                record = listing_record(e, munis)
                record.update({"correction": action, "version": v, "applies": v >= stamp,
                               "expected_number_results": expected(e.number)})
                correction_examples.append(record)
                break

    return {
        "seed": args.seed,
        "listings": sum(len(l) for _, _, l in dictionaries),
        "prefectures": args.prefecture_codes,
        "edition1": args.edition1,
        "edition2": 1,
        "edition_stamp": stamp,
        "dict_directory": "dict",
        "correction_directory": "corrections",
        "dictionaries": dict_records,
        "corrections": {
            "file": "corrections/qor5001.dct", "tsv": "tsv/qor5001.tsv",
            "bytes": os.path.getsize(os.path.join(args.out, "corrections", "qor5001.dct")),
            "entries": len(corrections),
            "additions": sum(1 for _, a, _ in corrections if a == "add"),
            "removals": sum(1 for _, a, _ in corrections if a == "remove"),
            "applied": len(applied),
            "ignored_as_older": len(corrections) - len(applied),
            "built": outputs[-1],
            "examples": correction_examples,
        },
        "examples": {
            "numbers": examples_single,
            "shared_numbers": examples_shared,
            "regions": example_regions,
            "name_patterns": name_patterns(example_regions, listings_by_region, applied),
        },
    }


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
