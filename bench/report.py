#!/usr/bin/env python3
"""Writes BENCHMARKS.md from one benchmark run: the measurement lines of every engine process
(bench-qor, bench-sqlite, bench-cdb), the data set counts of bench-prep, the sizes and build
times that run.sh measured and a description of the machine. Checks that the engines gave the
same number of answers to every query; a workload where they do not is marked void.
Exits 1 when any answer count differs."""

import argparse
import collections
import math
import sys

ENGINES = {"qor3": "qor3", "sqlite": "SQLite", "cdb": "tinycdb", "qor3-old": "qor3, old commit"}
WORKLOADS = [
    ("number-hit", "number lookup, existing numbers"),
    ("number-miss", "number lookup, absent numbers"),
    ("number-zipf", "number lookup, existing numbers drawn with a Zipf distribution (s = 1.0)"),
    ("name-prefix", "name search, leading literal (\"佐藤＊\"), largest region"),
    ("name-prefix-addr1", "name search, leading literal + address-1 key, largest region"),
    ("name-contains", "name search, name ending (\"＊子\"), largest region"),
    ("name-contains-addr1", "name search, name ending + address-1 key, largest region"),
    ("name-prefix-any-region", "name search, leading literal, regions drawn by listing count"),
]
# The second data set: one prefecture, its largest region about 50,000 listings.
BIG_WORKLOADS = [
    ("big-name-prefix", "name search, leading literal (\"佐藤＊\"), region of %s listings"),
    ("big-name-prefix-addr1", "name search, leading literal + address-1 key, region of %s listings"),
    ("big-name-contains", "name search, name ending (\"＊子\"), region of %s listings"),
    ("big-name-contains-addr1", "name search, name ending + address-1 key, region of %s listings"),
]


def read_pairs(path):
    pairs = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if line and "\t" in line:
                key, value = line.split("\t", 1)
                pairs[key] = value
    return pairs


# Queries per second by (threads, workload), from the threads runs of bench-qor.
QPS = {}
# The engine cache's (lookups, hits) by workload over the measured queries; its peak bytes by
# run; its budget. From bench-qor's "#cache" and "#cachemem" lines.
CACHE = {}
CACHE_PEAK = {}
CACHE_BUDGET = []
# The run (process) each (engine, workload) was measured in: a process writes its query lines,
# then its "#rss" line.
RUN_OF = {}


def read_measurements(path):
    """latency[(engine, workload)] = [ns...]; cpu[(engine, workload)] = [CPU ns...];
    counts[(engine, workload)] = {index: count}; rss[(engine, run)] = KiB;
    plans[workload] = text."""
    latency = collections.defaultdict(list)
    cpu = collections.defaultdict(list)
    counts = collections.defaultdict(dict)
    rss, plans = {}, {}
    pending = collections.defaultdict(set)
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            fields = line.rstrip("\n").split("\t")
            if fields[0] == "#rss":
                rss[(fields[1], fields[2])] = int(fields[3])
                for workload in pending.pop(fields[1], ()):
                    RUN_OF[(fields[1], workload)] = fields[2]
            elif fields[0] == "#cache":
                CACHE[fields[2]] = (int(fields[3]), int(fields[4]))
            elif fields[0] == "#cachemem":
                CACHE_PEAK[fields[2]] = int(fields[3])
                CACHE_BUDGET[:] = [int(fields[4])]
            elif fields[0] == "#plan":
                plans[fields[2]] = fields[3]
            elif fields[0] == "#qps":
                QPS[(int(fields[2]), fields[3])] = float(fields[4])
            elif len(fields) >= 5:
                engine, workload, index, count, ns = fields[:5]
                pending[engine].add(workload)
                latency[(engine, workload)].append(int(ns))
                if len(fields) > 5:
                    cpu[(engine, workload)].append(int(fields[5]))
                counts[(engine, workload)][int(index)] = int(count)
    return latency, cpu, counts, rss, plans


def percentile(sorted_values, p):
    """Nearest-rank percentile of an ascending list."""
    if not sorted_values:
        return float("nan")
    rank = max(1, math.ceil(p / 100.0 * len(sorted_values)))
    return sorted_values[rank - 1]


def summary(values, cpu_values):
    s = sorted(values)
    total = sum(s)
    return {
        "n": len(s),
        "median": percentile(s, 50),
        "p99": percentile(s, 99),
        "qps": len(s) / (total / 1e9) if total else float("nan"),
        "cpu": percentile(sorted(cpu_values), 50),
    }


def fmt_time(ns):
    if ns != ns:
        return "–"
    if ns >= 1e6:
        return "%.2f ms" % (ns / 1e6)
    return "%.1f µs" % (ns / 1e3)


def fmt_num(v, digits=0):
    if v != v:
        return "–"
    return "{:,.{}f}".format(v, digits)


def fmt_ratio(a, b):
    if not b or a != a or b != b:
        return "–"
    return "%.2f×" % (a / b)


def fmt_bytes(n):
    return "{:,}".format(n) + " (%.1f MiB)" % (n / 1048576.0)


def fmt_mib(n):
    return "–" if n is None else "%.1f MiB" % (n / 1048576.0)


def fmt_hits(workload):
    """The engine cache's hit rate over a workload's measured queries, and its lookups."""
    if workload not in CACHE:
        return ""
    lookups, hits = CACHE[workload]
    if not lookups:
        return "no lookups"
    return "%.1f%% of %s" % (100.0 * hits / lookups, fmt_num(lookups))


def load_queries(path):
    queries = []
    with open(path, "rb") as f:
        for raw in f:
            fields = raw.rstrip(b"\n").split(b"\t")
            if fields[0] == b"N":
                queries.append("number %s" % fields[2].decode())
            else:
                text = "region %s, pattern %s" % (fields[2].decode(), fields[4].decode())
                if fields[6]:
                    text += ", address-1 key %s" % fields[6].decode()
                queries.append(text)
    return queries


NATION_WORKLOADS = [
    ("nation-number-hit", "number lookup, existing numbers"),
    ("nation-number-miss", "number lookup, absent numbers"),
    ("nation-number-zipf", "number lookup, existing numbers drawn with a Zipf distribution "
     "(s = 1.0)"),
    ("nation-name-prefix", "name search, leading literal (\"佐藤＊\"), largest region"),
    ("nation-name-prefix-addr1", "name search, leading literal + address-1 key, largest region"),
    ("nation-name-contains", "name search, name ending (\"＊子\"), largest region"),
    ("nation-name-contains-addr1", "name search, name ending + address-1 key, largest region"),
    ("nation-name-prefix-any-region", "name search, leading literal, regions drawn by listing count"),
]


def nation_section(w, run, nation, search_table, summaries, counts):
    """The nationwide set: its data, searches, opens, build, bytes."""
    w("## Nationwide set")
    w("")
    listings = int(nation["listings_answered"])
    if "nation_data" in run and run.get("nation_generated") != "yes":
        w("An existing set, `%s`, not made by this run (made as `--nationwide` makes it)." %
          run["nation_data"])
    w("Generated by `tools/gen_sample.py --seed %s --listings %s --prefectures 1,2,...,47 "
      "--dict-listings 4000 --corrections-share %s`: %s dictionaries, %s regions, %s listings "
      "in the dictionaries, %s corrections (%s added, %s listings removed), %s listings "
      "answered; largest region %s %s, %s listings." % (
          run.get("seed"), fmt_num(int(run.get("nation_listings", 0))),
          run.get("corrections_share"), nation["dictionaries"], nation["regions"],
          fmt_num(int(nation["listings_in_dictionaries"])), fmt_num(int(nation["corrections"])),
          fmt_num(int(nation["corrections_added"])),
          fmt_num(int(nation["corrections_listings_removed"])), fmt_num(listings),
          nation["largest_region"], nation["largest_region_name"],
          fmt_num(int(nation["largest_region_listings"]))))
    w("")
    w("### Searches")
    w("")
    search_table(NATION_WORKLOADS)
    w("")
    w("### Qor_Open")
    w("")
    w("| open | dictionaries | regions | opens | median | p99 | CPU median |")
    w("|---|---:|---:|---:|---:|---:|---:|")
    for kind, title in [("open-current", "current catalogs"),
                        ("open-no-catalog", "no catalog (full refresh)")]:
        key = ("qor3", "%s-nation" % kind)
        if key in summaries:
            s = summaries[key]
            regions = max(counts[key].values()) if counts[key] else 0
            w("| %s | %s | %s | %s | %s | %s | %s |" % (
                title, run.get("nation_dictionaries"), regions, s["n"], fmt_time(s["median"]),
                fmt_time(s["p99"]), fmt_time(s["cpu"])))
    w("")
    w("### Building")
    w("")
    base = int(nation["listings_in_dictionaries"])
    sq_s = float(nation["sqlite_build_seconds"])
    cdb_s = float(nation["cdb_build_seconds"])
    w("| build | input | seconds | listings/s |")
    w("|---|---|---:|---:|")
    if "nation_mkdict_seconds" in run:
        mk_s = float(run["nation_mkdict_seconds"])
        w("| qor-mkdict --split --jobs %s: %s dictionaries from one TSV | %s listings, %s bytes "
          "of TSV | %.2f | %s |" % (run.get("nation_mkdict_jobs"), run.get("nation_dictionaries"),
                                   fmt_num(base), fmt_num(int(run["nation_tsv_bytes"])), mk_s,
                                   fmt_num(base / mk_s)))
    w("| SQLite: insert in one transaction, then both indexes | %s listings (parsed) | %.2f "
      "| %s |" % (fmt_num(listings), sq_s, fmt_num(listings / sq_s)))
    w("| tinycdb | %s listings (parsed) | %.2f | %s |" % (fmt_num(listings), cdb_s,
                                                          fmt_num(listings / cdb_s)))
    w("")
    if "nation_mkdict_identical" in run:
        w("The dictionaries built here are %s to the generator's (built one process per file); "
          "bench-prep parsed the TSV in %s s." % (
              "byte-identical" if run["nation_mkdict_identical"] == "yes"
              else "**not** byte-identical", nation["tsv_read_seconds"]))
    else:
        w("qor-mkdict --split was not timed in this run (`--only-nationwide`): the generator's "
          "dictionaries were searched; bench-prep parsed the TSV in %s s%s." % (
              nation["tsv_read_seconds"],
              ", in an earlier run whose SQLite, tinycdb and query files this run kept"
              if run.get("nation_prep_reused") == "yes" else ""))
    w("")
    w("### Bytes on disk")
    w("")
    qor_dict = int(run["nation_qor3_dict_bytes"])
    catalog = int(run["nation_qor3_catalog_bytes"])
    qor_all = qor_dict + catalog + int(run["nation_qor3_correction_bytes"])
    sqlite_bytes = int(run["nation_sqlite_bytes"])
    w("| form | bytes | ÷ SQLite |")
    w("|---|---:|---:|")
    for title, n in [("qor3 dictionaries (%s files)" % run.get("nation_dictionaries"), qor_dict),
                     ("qor3 catalog `qor9999.dct`", catalog),
                     ("qor3 set: dictionaries + catalog + correction file", qor_all),
                     ("SQLite database (table + 2 indexes)", sqlite_bytes),
                     ("tinycdb database", int(run["nation_cdb_bytes"]))]:
        w("| %s | %s | %.1f%% |" % (title, fmt_bytes(n), 100.0 * n / sqlite_bytes))
    w("")
    w("Peak resident memory of these runs: the rows named `nation` in the table above.")
    w("")


# Same-run ratios to SQLite (wall-clock medians) that the engine cache and the name index
# aim at; None: no target, the ratio is shown.
PEER_TARGETS = {
    "number-hit": 0.5, "number-miss": 0.3, "number-zipf": 0.5,
    "name-prefix": 0.5, "big-name-prefix": 0.5,
    "name-contains": 0.3, "name-contains-addr1": 0.3, "name-prefix-addr1": 0.3,
    "big-name-contains": 0.3, "big-name-contains-addr1": 0.3, "big-name-prefix-addr1": 0.3,
}


def peer_targets(w, summaries, rss, workloads):
    """The ratio targets: per workload qor3 ÷ SQLite against its target (tinycdb's ratio
    beside it), the first searches against the old commit's warm searches, and peak resident
    memory against SQLite's plus the engine cache's budget."""
    rows = []
    for workload, title in workloads:
        ours = summaries.get(("qor3", workload))
        sq = summaries.get(("sqlite", workload))
        if not ours or not sq:
            continue
        ratio = ours["median"] / sq["median"]
        cdb = summaries.get(("cdb", workload))
        limit = PEER_TARGETS.get(workload)
        rows.append((title, "≤ %.1f× SQLite" % limit if limit else "–",
                     "%.2f× (CPU %s)" % (ratio, fmt_ratio(ours["cpu"], sq["cpu"])),
                     fmt_ratio(ours["median"], cdb["median"]) if cdb else "",
                     "" if limit is None else "met" if ratio <= limit else "**missed**"))
    for cold, warm, title in [("cold-number", "number-hit", "first number search after an open"),
                              ("cold-name", "name-prefix", "first name search after an open")]:
        s, old = summaries.get(("qor3", cold)), summaries.get(("qor3-old", warm))
        if s and old:
            rows.append((title, "≤ old commit's warm median (%s)" % fmt_time(old["median"]),
                         "%s (%s× old, CPU %s)" % (fmt_time(s["median"]),
                                                   "%.2f" % (s["median"] / old["median"]),
                                                   fmt_ratio(s["cpu"], old["cpu"])),
                         "", "met" if s["median"] <= old["median"] else "**missed**"))
    budget_kib = CACHE_BUDGET[0] / 1024.0 if CACHE_BUDGET else None
    for name in sorted({n for e, n in rss if e == "qor3"}):
        ours, sq = rss.get(("qor3", name)), rss.get(("sqlite", name))
        if sq is None or budget_kib is None:
            continue
        rows.append(("peak RSS, %s" % name,
                     "≤ SQLite + budget (%.1f MiB)" % ((sq + budget_kib) / 1024.0),
                     "%.1f MiB (SQLite %.1f MiB)" % (ours / 1024.0, sq / 1024.0), "",
                     "met" if ours <= sq + budget_kib else "**missed**"))
    if not rows:
        return
    w("Same-run ratios to the peers (wall-clock medians; the CPU-time ratio beside them).")
    w("")
    w("| workload | target | measured: qor3 ÷ SQLite | qor3 ÷ tinycdb | |")
    w("|---|---|---:|---:|---|")
    for row in rows:
        w("| %s | %s | %s | %s | %s |" % row)
    w("")


# bench-qor's threads runs: "#qps" workload names and their titles.
THREAD_WORKLOADS = [
    ("numbers", "numbers, first set"), ("names", "names, first set"),
    ("numbers, nation-queries", "numbers, nationwide set"),
    ("names, nation-queries", "names, nationwide set"),
]


def goal_row(title, goal, measured, ok, note=""):
    """A row of the goals table: ok None when the run did not measure the workload."""
    verdict = "not measured" if ok is None else "met" if ok else "**missed**"
    return (title, goal, measured, verdict + (" " + note if note else ""))


def scale_goals(w, summaries, rss):
    """The goals for the nationwide set and host threads, each met or missed by this run's
    figures: same-run ratios to SQLite (wall-clock medians) on the nationwide set, the first
    set's warm number lookup in CPU time and against tinycdb, 2 threads against 1, the nationwide
    open, first searches after an open against the first set's of the same run, and peak resident
    memory against SQLite's plus the engine cache's budget."""
    if not any(wl.startswith("nation-") for e, wl in summaries):
        return
    rows = []
    budget = CACHE_BUDGET[0] if CACHE_BUDGET else None

    def against_sqlite(workload, title, limit, floor=None):
        ours, sq = summaries.get(("qor3", workload)), summaries.get(("sqlite", workload))
        goal = "≤ %.1f× SQLite" % limit
        if floor:
            goal += " with the %s cache budget (parity, ≤ %.0f×, at the least)" % (
                fmt_mib(budget), floor)
        if not ours or not sq:
            rows.append(goal_row(title, goal, "–", None))
            return
        ratio = ours["median"] / sq["median"]
        note = ""
        if floor and ratio > limit:
            note = "(parity: %s)" % ("met" if ratio <= floor else "missed too")
        rows.append(goal_row(title, goal, "%.2f× (%s vs %s; CPU %s)" % (
            ratio, fmt_time(ours["median"]), fmt_time(sq["median"]),
            fmt_ratio(ours["cpu"], sq["cpu"])), ratio <= limit, note))

    against_sqlite("nation-number-hit", "nationwide, existing numbers (uniform)", 0.5, 1.0)
    against_sqlite("nation-number-zipf", "nationwide, existing numbers (Zipf)", 0.3)
    against_sqlite("nation-number-miss", "nationwide, absent numbers", 0.3)
    against_sqlite("nation-name-prefix", "nationwide, leading-literal names, largest region", 0.5)
    against_sqlite("nation-name-prefix-addr1",
                   "nationwide, leading-literal names + address-1 key, largest region", 0.5)

    ours, cdb = summaries.get(("qor3", "number-hit")), summaries.get(("cdb", "number-hit"))
    goal = "≤ 3 µs CPU median (≤ 4× tinycdb)"
    if ours and cdb:
        ratio = ours["cpu"] / cdb["cpu"]
        rows.append(goal_row("first set, warm existing number", goal, "CPU %s, %.2f× tinycdb (CPU "
                             "%s); wall clock %s" % (fmt_time(ours["cpu"]), ratio,
                                                     fmt_time(cdb["cpu"]),
                                                     fmt_time(ours["median"])),
                             ours["cpu"] <= 3000,
                             "(≤ 4× tinycdb: %s)" % ("met" if ratio <= 4.0 else "missed")))
    else:
        rows.append(goal_row("first set, warm existing number", goal, "–", None))

    for workload, title in THREAD_WORKLOADS:
        one, two = QPS.get((1, workload)), QPS.get((2, workload))
        title = "2 threads ÷ 1, " + title
        if one and two:
            rows.append(goal_row(title, "≥ 1.7×", "%.2f× (%.0f vs %.0f queries/s)" % (
                two / one, two, one), two / one >= 1.7))
        else:
            rows.append(goal_row(title, "≥ 1.7×", "–", None))

    s = summaries.get(("qor3", "open-current-nation"))
    rows.append(goal_row("Qor_Open, nationwide set, current catalogs", "≤ 5 ms",
                         "%s (CPU %s)" % (fmt_time(s["median"]), fmt_time(s["cpu"])) if s else "–",
                         s["median"] <= 5e6 if s else None))

    for cold, title in [("cold-number", "number"), ("cold-name", "name")]:
        s, yardstick = summaries.get(("qor3", "nation-" + cold)), summaries.get(("qor3", cold))
        goal = "≤ the first set's first %s search (%s)" % (
            title, fmt_time(yardstick["median"]) if yardstick else "not measured")
        if s and yardstick:
            rows.append(goal_row("first %s search after an open, nationwide" % title, goal,
                                 "%s (%.2f× the first set's; CPU %s vs %s)" % (
                                     fmt_time(s["median"]), s["median"] / yardstick["median"],
                                     fmt_time(s["cpu"]), fmt_time(yardstick["cpu"])),
                                 s["median"] <= yardstick["median"]))
        else:
            rows.append(goal_row("first %s search after an open, nationwide" % title, goal,
                                 fmt_time(s["median"]) if s else "–", None))

    for name in sorted({n for e, n in rss if e == "qor3" and "nation-" in n}):
        ours, sq = rss.get(("qor3", name)), rss.get(("sqlite", name))
        if sq is None or budget is None:
            continue
        limit = sq + budget / 1024.0
        rows.append(goal_row("peak RSS, %s" % name, "≤ SQLite + %s (%.1f MiB)" % (
            fmt_mib(budget), limit / 1024.0), "%.1f MiB (SQLite %.1f MiB)" % (
                ours / 1024.0, sq / 1024.0), ours <= limit))

    w("### Nationwide scale and host threads")
    w("")
    w("Each goal judged on this run's figures: ratios to SQLite are of wall-clock medians "
      "(the CPU-time ratio beside them), the first set's warm lookup is judged on its CPU median, "
      "threads on queries per second.")
    w("")
    w("| workload | goal | measured | |")
    w("|---|---|---|---|")
    for row in rows:
        w("| %s | %s | %s | %s |" % row)
    w("")


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--measurements", required=True)
    ap.add_argument("--stats", required=True, help="bench-prep's data set counts")
    ap.add_argument("--run", required=True, help="run.sh's sizes, build times and parameters")
    ap.add_argument("--machine", required=True)
    ap.add_argument("--queries", required=True)
    ap.add_argument("--big-stats", help="bench-prep's counts of the second data set")
    ap.add_argument("--big-queries", help="the second data set's query file")
    ap.add_argument("--nation-stats", help="bench-prep's counts of the nationwide set")
    ap.add_argument("--nation-queries", help="the nationwide set's query file")
    ap.add_argument("--zipf-queries", help="the skewed number workload's query file")
    ap.add_argument("--nation-zipf-queries", help="the nationwide set's skewed number workload")
    ap.add_argument("--block-size", help="block_size.sh's table, put in as it is")
    ap.add_argument("--serve", help="serve.sh's section, put in as it is")
    ap.add_argument("--notes", help="hand-written notes on the run, put before Reproducing")
    ap.add_argument("--chart", required=True, help="chart path relative to the output")
    ap.add_argument("--out", required=True)
    args = ap.parse_args()

    latency, cpu, counts, rss, plans = read_measurements(args.measurements)
    stats = read_pairs(args.stats)
    run = read_pairs(args.run)
    machine = read_pairs(args.machine)
    queries = load_queries(args.queries)
    big = read_pairs(args.big_stats) if args.big_stats else {}
    big_queries = load_queries(args.big_queries) if args.big_queries else []
    zipf_queries = load_queries(args.zipf_queries) if args.zipf_queries else []
    nation = read_pairs(args.nation_stats) if args.nation_stats else {}
    nation_queries = load_queries(args.nation_queries) if args.nation_queries else []
    nation_zipf_queries = (load_queries(args.nation_zipf_queries)
                           if args.nation_zipf_queries else [])
    workloads = list(WORKLOADS)
    if big:
        size = fmt_num(int(big["largest_region_listings"]))
        workloads += [(name, title % size) for name, title in BIG_WORKLOADS]

    def query_text(workload, index):
        pool = (big_queries if workload.startswith("big-") else
                nation_zipf_queries if workload == "nation-number-zipf" else
                nation_queries if workload.startswith("nation-") else
                zipf_queries if workload == "number-zipf" else queries)
        return pool[index] if index < len(pool) else "?"

    # Answer counts: every engine that ran a workload against qor3's counts.
    mismatches = collections.defaultdict(list)
    for (engine, workload), per_query in counts.items():
        if engine == "qor3" or ("qor3", workload) not in counts:
            continue
        ours = counts[("qor3", workload)]
        for index, count in per_query.items():
            if ours.get(index) != count:
                mismatches[workload].append((index, engine, ours.get(index), count))
    answers = {w: sum(c.values()) for (e, w), c in counts.items() if e == "qor3"}

    out = []
    w = out.append
    w("# Benchmarks")
    w("")
    w("qor3 against what a user would pick instead for the same two questions: SQLite (one "
      "indexed table) and tinycdb (a constant database keyed by number), on the same generated "
      "listings, on the same machine, in one run of `bash bench/run.sh`. Every figure below "
      "comes from that one run; the file and the chart are regenerated by it.")
    w("")
    w("## Machine")
    w("")
    for key in ["cpu", "cores", "memory", "kernel", "compiler", "sqlite", "tinycdb",
                "load_before", "load_after", "date", "source"]:
        if key in machine:
            w("- %s: %s" % (key.replace("_", " "), machine[key]))
    w("")
    w("## Data set")
    w("")
    if run.get("generated") == "yes":
        w("Generated by `tools/gen_sample.py --seed %s --listings %s --prefectures %s "
          "--corrections-share %s`." % (run.get("seed"), run.get("listings"),
                                        run.get("prefectures"), run.get("corrections_share")))
    else:
        w("An existing data set, `%s` (not made by this run)." % run.get("data"))
    w("")
    listings = int(stats["listings_answered"])
    rows = [
        ("dictionaries", stats["dictionaries"]),
        ("regions (municipality codes)", stats["regions"]),
        ("listings in the dictionaries", fmt_num(int(stats["listings_in_dictionaries"]))),
        ("correction file entries", fmt_num(int(stats["corrections"]))),
        ("additions applied", fmt_num(int(stats["corrections_added"]))),
        ("removals applied (listings removed)", "%s (%s)" % (
            fmt_num(int(stats["corrections_removals_applied"])),
            fmt_num(int(stats["corrections_listings_removed"])))),
        ("corrections ignored: version below the edition stamp",
         fmt_num(int(stats["corrections_outdated"]))),
        ("corrections ignored: region not installed", fmt_num(int(stats["corrections_uncovered"]))),
        ("additions equal to a listing / removals matching none", "%s / %s" % (
            stats["corrections_additions_present"], stats["corrections_removals_unmatched"])),
        ("listings answered (corrections applied)", fmt_num(listings)),
        ("kind-2 (business) listings", "%s (%.1f%%)" % (
            fmt_num(int(stats["kind2_listings"])), 100.0 * int(stats["kind2_listings"]) / listings)),
        ("listings sharing their number with another", "%s (%.1f%%)" % (
            fmt_num(int(stats["listings_sharing_a_number"])),
            100.0 * int(stats["listings_sharing_a_number"]) / listings)),
        ("distinct numbers", fmt_num(int(stats["distinct_numbers"]))),
        ("largest region", "%s %s, %s listings" % (
            stats["largest_region"], stats["largest_region_name"],
            fmt_num(int(stats["largest_region_listings"])))),
    ]
    w("| | |")
    w("|---|---|")
    for k, v in rows:
        w("| %s | %s |" % (k, v))
    w("")
    if big:
        w("A second data set, `tools/gen_sample.py --seed %s --listings %s --prefectures %s`, "
          "serves the name searches in a large region: %s dictionaries, %s listings answered, "
          "largest region %s %s with %s listings (%s corrections applied as above: %s added, "
          "%s removed)." % (
              run.get("seed"), run.get("big_listings"), run.get("big_prefectures"),
              big["dictionaries"], fmt_num(int(big["listings_answered"])), big["largest_region"],
              big["largest_region_name"], fmt_num(int(big["largest_region_listings"])),
              fmt_num(int(big["corrections"])), big["corrections_added"],
              big["corrections_listings_removed"]))
        w("")
    w("SQLite and tinycdb hold the listings that qor3 answers with: bench-prep applies the "
      "correction file by the engine's rules (a correction counts when a dictionary lists its "
      "region and the region's edition stamp, (edition value 1 / 100) mod 10000, is not above "
      "its version; a removal drops every listing equal in region code, address texts, name, "
      "number and kind; an addition equal to a listing adds nothing). The answer counts below "
      "check that qor3 agrees.")
    w("")

    w("## Method")
    w("")
    w("- Release build (`-O2`, no sanitizers). bench-qor searches through `include/qor3.h` "
      "only (`Qor_Open`, `Qor_Search`, `Qor_MemRelease`, `Qor_Close`) but links the static "
      "engine library `qor3_engine` (the same sources and flags as `libqor3.so`, which exports "
      "only the five functions), so that it can read the engine cache's counters "
      "(`EngineCache_Stats`) before and after each measured query, outside the clocks: the "
      "hit rate is hits ÷ lookups (files, blocks and indexes asked of the cache) over a "
      "workload's measured pass, and the cache's peak bytes are per process, as the peak RSS.")
    w("- One process per engine and workload group (numbers, names, opens), run one after the "
      "other; peak resident memory is that process's `ru_maxrss`.")
    w("- Every query runs twice: a warm-up pass (page cache warm, counts recorded), then the "
      "measured pass, timed one query at a time with `steady_clock`. Median and p99 are "
      "nearest-rank over the measured pass; QPS is queries divided by their summed time.")
    w("- The machine is shared: other builds ran during the run (see the load averages above; "
      "2 cores). A query's wall-clock time then includes the time its process waited for a "
      "core, so each query's CPU time (`CLOCK_PROCESS_CPUTIME_ID`, user and system, read just "
      "outside the wall-clock window, so it carries about a microsecond of clock reading) is "
      "recorded too; the \"CPU median\" column is the median of those, the closest figure here "
      "to an idle machine's latency.")
    w("- A search includes reading every answer as a host does (each text of every result; "
      "SQLite: `sqlite3_step` and every column's text; tinycdb: every record read out) and, "
      "for qor3, `Qor_MemRelease`.")
    w("- Queries come from bench-prep with seed %s: %s existing and %s absent numbers "
      "(absent: an existing number with its last four digits redrawn until no listing has it), "
      "and %s queries of each name workload, patterns made from real names of the data set. "
      "Name searches take both kinds (kind filter 3)." % (
          run.get("seed"), fmt_num(int(run.get("number_queries", 0))),
          fmt_num(int(run.get("number_queries", 0))), run.get("name_queries")))
    w("- SQLite: one table `listing` (9 columns, texts UTF-8), indexes on `number` and "
      "`(region_code, name)`, default page cache, read-only connection, prepared statements "
      "`WHERE number = ?1` and `WHERE region_code = ?1 AND name GLOB ?2 [AND address1 GLOB ?3]`. "
      "Plans SQLite chose (with the first query's values bound):")
    for workload, plan in sorted(plans.items()):
        w("  - %s: `%s`" % (workload, plan))
    w("- tinycdb: key = the number's digits, one record per listing (its nine fields as UTF-8 "
      "text), `cdb_findinit`/`cdb_findnext`, every record read with `cdb_read`.")
    w("- Skewed workload: %s draws, with a Zipf distribution (s = 1.0, seed as above), from the "
      "existing-number queries: the k-th existing number of the query file drawn with a "
      "probability proportional to 1/k, as caller-ID traffic repeats numbers. Run like the "
      "other number workloads (a warm-up pass over the same draws, then the measured pass), "
      "in a process of its own." % fmt_num(len(zipf_queries)))
    w("- First searches: %s times `Qor_Open` (untimed), the first number search (the existing "
      "numbers of the query file in turn), the first name search (the leading-literal "
      "searches of the largest region in turn), `Qor_Close`; one untimed round first, so the "
      "page cache is warm and only the engine cache is empty after each open (the name search "
      "follows the number search of the same open)." % run.get("open_iterations"))
    w("- Threads: bench-qor opens the set once, runs all of a set's number lookups (existing and "
      "absent) or all its name searches once, timed, as a warm-up, then splits them evenly over "
      "1 or 2 host threads started together, each going through its share as many times as "
      "make the warm-up's time at least a second; queries per second from the start to the "
      "last thread's end. The nationwide set is measured the same way, and its first searches "
      "after an open as the first set's (its existing numbers and its largest region's "
      "leading-literal searches).")
    if run.get("baseline"):
        w("- The old commit, %s (\"%s\"), is built in the same run from its own sources with "
          "the same flags (its `libqor3.so` and its bench-qor, which has no cache counters) and "
          "runs its number and name searches on the same files and queries (rows \"qor3, old "
          "commit\"); its answer counts are checked against the new build's." % (
              run["baseline"], run.get("baseline_subject", "")))
    w("- `Qor_Open`: %s opens of each kind after one untimed open; \"current\" reopens with an "
      "up-to-date catalog, \"no catalog\" deletes `qor9999.dct` before each open (outside the "
      "clock), so the open scans every dictionary and writes the catalog again. `Qor_Close` is "
      "outside the clock." % run.get("open_iterations"))
    w("- Other work on the machine during the run shows in the load averages above; the "
      "figures are what this run measured, not a best of several runs.")
    w("")

    w("## Results")
    w("")
    w("![latency distributions](%s)" % args.chart)
    w("")
    w("### Searches")
    w("")
    w("Ratios are qor3's figure divided by the peer's (below 1 is better for latency, above 1 "
      "better for QPS). Peak RSS is that of the process that ran the workload (with the engine "
      "cache's peak bytes in it); the hit rate is the engine cache's over the measured pass%s." % (
          ", under its budget of %s" % fmt_mib(CACHE_BUDGET[0]) if CACHE_BUDGET else ""))
    w("")
    summaries = {k: summary(v, cpu.get(k, [])) for k, v in latency.items()}

    def peak(engine, workload):
        name = RUN_OF.get((engine, workload))
        kib = rss.get((engine, name))
        if kib is None:
            return ""
        text = "%.1f MiB" % (kib / 1024.0)
        if engine == "qor3" and name in CACHE_PEAK:
            text += " (cache %s)" % fmt_mib(CACHE_PEAK[name])
        return text

    def search_table(rows):
        w("| workload | engine | queries | answers | median | p99 | QPS | CPU median | peak RSS "
          "| cache hit rate |")
        w("|---|---|---:|---:|---:|---:|---:|---:|---:|---:|")
        for workload, title in rows:
            if ("qor3", workload) not in summaries:
                continue
            void = workload in mismatches
            label = title + (" **(VOID: answer counts differ)**" if void else "")
            ours = summaries[("qor3", workload)]
            first = True
            for engine in ["qor3", "sqlite", "cdb", "qor3-old"]:
                s = summaries.get((engine, workload))
                if not s:
                    continue
                w("| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |" % (
                    label if first else "", ENGINES[engine], fmt_num(s["n"]),
                    fmt_num(sum(counts[(engine, workload)].values())),
                    fmt_time(s["median"]), fmt_time(s["p99"]), fmt_num(s["qps"]),
                    fmt_time(s["cpu"]), peak(engine, workload),
                    fmt_hits(workload) if engine == "qor3" else ""))
                first = False
            for engine in ["sqlite", "cdb", "qor3-old"]:
                s = summaries.get((engine, workload))
                if s:
                    w("| | qor3 ÷ %s | | | %s | %s | %s | %s | | |" % (
                        ENGINES[engine], fmt_ratio(ours["median"], s["median"]),
                        fmt_ratio(ours["p99"], s["p99"]), fmt_ratio(ours["qps"], s["qps"]),
                        fmt_ratio(ours["cpu"], s["cpu"])))

    search_table(workloads)
    w("")
    if mismatches:
        w("**Answer counts differ** (these comparisons are void):")
        w("")
        for workload, items in sorted(mismatches.items()):
            w("- %s: %d queries differ; first ones:" % (workload, len(items)))
            for index, engine, ours, theirs in sorted(items)[:10]:
                w("  - query %d (%s): qor3 %s, %s %s" % (
                    index, query_text(workload, index), ours, ENGINES[engine], theirs))
        w("")
    else:
        w("Answer counts agree: every engine returned the same number of answers to every "
          "query (%s queries compared)." % fmt_num(
              sum(len(c) for (e, wl), c in counts.items() if e != "qor3")))
        w("")

    differ = []
    cold_rows = [("cold-number", "number-hit", "number lookup, existing number"),
                 ("cold-name", "name-prefix", "name search, leading literal, largest region"),
                 ("nation-cold-number", "nation-number-hit",
                  "nationwide set: number lookup, existing number"),
                 ("nation-cold-name", "nation-name-prefix",
                  "nationwide set: name search, leading literal, largest region")]
    if any(("qor3", c) in summaries for c, _, _ in cold_rows):
        w("### First searches after Qor_Open")
        w("")
        w("The first number search and then the first name search after each `Qor_Open` (engine "
          "cache empty, page cache warm), beside the warm searches of the same workload: this "
          "build's, and the old commit's when it ran.")
        w("")
        w("| first search | opens | median | p99 | CPU median | cache hit rate | warm median "
          "| old commit warm median (CPU) | cold ÷ old warm |")
        w("|---|---:|---:|---:|---:|---:|---:|---:|---:|")
        for cold, warm, title in cold_rows:
            s = summaries.get(("qor3", cold))
            if not s:
                continue
            new = summaries.get(("qor3", warm))
            old = summaries.get(("qor3-old", warm))
            w("| %s | %s | %s | %s | %s | %s | %s | %s | %s |" % (
                title, s["n"], fmt_time(s["median"]), fmt_time(s["p99"]), fmt_time(s["cpu"]),
                fmt_hits(cold), fmt_time(new["median"]) if new else "–",
                "%s (%s)" % (fmt_time(old["median"]), fmt_time(old["cpu"])) if old else "–",
                fmt_ratio(s["median"], old["median"]) if old else "–"))
        # A first search must answer what the warm search of the same query answered.
        differ = [(c, i) for c, warm, _ in cold_rows
                  for i, n in counts.get(("qor3", c), {}).items()
                  if counts.get(("qor3", warm), {}).get(i, n) != n]
        w("")
        w("Answer counts of the first searches %s." % (
            "agree with the warm searches of the same queries" if not differ else
            "**differ** from the warm searches of the same queries: %s" % ", ".join(
                "%s query %d" % d for d in differ[:10])))
        w("")

    w("### Qor_Open")
    w("")
    w("| open | dictionaries | regions | opens | median | p99 | CPU median |")
    w("|---|---:|---:|---:|---:|---:|---:|")
    for label, dicts in [("main", run.get("dictionaries")), ("open100", run.get("open_dicts")),
                         ("nation", run.get("nation_dictionaries"))]:
        for kind, title in [("open-current", "current catalogs"),
                            ("open-no-catalog", "no catalog (full refresh)")]:
            key = ("qor3", "%s-%s" % (kind, label))
            if key not in summaries:
                continue
            s = summaries[key]
            regions = max(counts[key].values()) if counts[key] else 0
            w("| %s | %s | %s | %s | %s | %s | %s |" % (
                title, dicts, regions, s["n"], fmt_time(s["median"]), fmt_time(s["p99"]),
                fmt_time(s["cpu"])))
    w("")
    w("No peer is timed here: SQLite and tinycdb open one file and read nothing until the "
      "first query.")
    w("")

    w("### Building")
    w("")
    # A run with --only-nationwide does not time qor-mkdict on the first set.
    mk_s = float(run["mkdict_seconds"]) if "mkdict_seconds" in run else float("nan")
    tsv_bytes = int(run["tsv_bytes"])
    base = int(stats["listings_in_dictionaries"])
    w("| build | input | seconds | listings/s | TSV MB/s |")
    w("|---|---|---:|---:|---:|")
    if mk_s == mk_s:
        w("| qor-mkdict, %s dictionaries + correction file (one process per file, sequential) "
          "| %s listings, %s bytes of TSV | %.2f | %s | %.1f |" % (
              stats["dictionaries"], fmt_num(base + int(stats["corrections"])),
              fmt_num(tsv_bytes), mk_s, fmt_num((base + int(stats["corrections"])) / mk_s),
              tsv_bytes / mk_s / 1e6))
    sq_s = float(stats["sqlite_build_seconds"])
    cdb_s = float(stats["cdb_build_seconds"])
    w("| SQLite: insert in one transaction, then both indexes | %s listings (parsed) | %.2f "
      "| %s | |" % (fmt_num(listings), sq_s, fmt_num(listings / sq_s)))
    w("| tinycdb | %s listings (parsed) | %.2f | %s | |" % (
        fmt_num(listings), cdb_s, fmt_num(listings / cdb_s)))
    if mk_s == mk_s:
        w("| qor3 ÷ SQLite (seconds) | | %s | | |" % fmt_ratio(mk_s, sq_s))
        w("")
        w("qor-mkdict's time includes reading and checking the UTF-8 TSV and converting it to "
          "code page 932; the SQLite and tinycdb times start from listings already parsed in "
          "memory (bench-prep parsed the same TSV in %s s)." % stats["tsv_read_seconds"])
    else:
        w("")
        w("qor-mkdict was not timed in this run (`--only-nationwide`); bench-prep parsed the "
          "TSV in %s s%s." % (stats["tsv_read_seconds"],
                              ", in an earlier run whose SQLite, tinycdb and query files this "
                              "run kept" if run.get("prep_reused") == "yes" else ""))
    if run.get("mkdict_identical") is not None:
        w("The dictionaries built and timed here are %s to the generator's." % (
            "byte-identical" if run["mkdict_identical"] == "yes" else "**not** byte-identical"))
    w("")

    w("### Bytes on disk")
    w("")
    qor_dict = int(run["qor3_dict_bytes"])
    qor_all = qor_dict + int(run["qor3_catalog_bytes"]) + int(run["qor3_correction_bytes"])
    sqlite_bytes = int(run["sqlite_bytes"])
    w("| form | bytes | ÷ SQLite |")
    w("|---|---:|---:|")
    for title, n in [
        ("TSV (UTF-8), all dictionaries and the correction file", tsv_bytes),
        ("TSV, `gzip -9`", int(run.get("tsv_gzip_bytes", 0))),
        ("qor3 dictionaries (%s files)" % stats["dictionaries"], qor_dict),
        ("qor3 set: dictionaries + catalog + correction file", qor_all),
        ("SQLite database (table + 2 indexes)", sqlite_bytes),
        ("tinycdb database", int(run["cdb_bytes"])),
    ]:
        if n:
            w("| %s | %s | %.1f%% |" % (title, fmt_bytes(n), 100.0 * n / sqlite_bytes))
    w("")

    if QPS:
        w("### Threads")
        w("")
        w("Queries per second of a set's queries (all its number lookups, existing and absent, "
          "or all its name searches) on one open set, the queries split evenly over host "
          "threads that search at once (wall clock, 2 cores shared with the machine's other "
          "work).")
        w("")
        w("| workload | 1 thread | 2 threads | 2 ÷ 1 |")
        w("|---|---:|---:|---:|")
        for workload, title in THREAD_WORKLOADS:
            one, two = QPS.get((1, workload)), QPS.get((2, workload))
            if one and two:
                w("| %s | %.0f | %.0f | %.2f× |" % (title, one, two, two / one))
        w("")
    w("### Peak resident memory")
    w("")
    if CACHE_BUDGET:
        w("The engine cache's budget: %s. Its peak is the most it held at once in that process."
          % fmt_bytes(CACHE_BUDGET[0]))
        w("")
    w("| run | engine | peak RSS | engine cache peak | qor3 ÷ this |")
    w("|---|---|---:|---:|---:|")
    runs = sorted({name for _, name in rss}, key=lambda n: (n.startswith("open"), n))
    for name in runs:
        ours = rss.get(("qor3", name))
        for engine in ["qor3", "sqlite", "cdb", "qor3-old"]:
            kib = rss.get((engine, name))
            if kib is None:
                continue
            ratio = fmt_ratio(ours, kib) if ours and engine != "qor3" else ""
            cache = fmt_mib(CACHE_PEAK[name]) if engine == "qor3" and name in CACHE_PEAK else ""
            w("| %s | %s | %.1f MiB | %s | %s |" % (name, ENGINES[engine], kib / 1024.0, cache,
                                                     ratio))
    w("")

    if args.block_size:
        with open(args.block_size, encoding="utf-8") as f:
            w(f.read().strip())
        w("")

    if args.serve:
        with open(args.serve, encoding="utf-8") as f:
            w(f.read().strip())
        w("")

    if nation:
        nation_section(w, run, nation, search_table, summaries, counts)

    w("## Targets")
    w("")
    peer_targets(w, summaries, rss, workloads)
    w("Judged on the wall-clock median this run measured; the CPU-time median beside it.")
    w("")
    w("| target | measured | CPU median | |")
    w("|---|---|---|---|")
    checks = []
    for workload in ["number-hit", "number-miss"]:
        s = summaries.get(("qor3", workload))
        if s:
            checks.append(("warm number search median ≤ 1 ms (%s)" % workload,
                           fmt_time(s["median"]), fmt_time(s["cpu"]), s["median"] <= 1e6))
    target_set = big if ("qor3", "big-name-prefix") in summaries else stats
    s = summaries.get(("qor3", "big-name-prefix" if target_set is big else "name-prefix"))
    if s:
        checks.append(("name search median, leading literal, 50,000-listing region ≤ 20 ms "
                       "(region of %s listings here)" % fmt_num(
                           int(target_set["largest_region_listings"])),
                       fmt_time(s["median"]), fmt_time(s["cpu"]), s["median"] <= 20e6))
    s = summaries.get(("qor3", "open-current-open100"))
    if s:
        checks.append(("Qor_Open, current catalogs, 100 dictionaries ≤ 10 ms (%s here)" %
                       run.get("open_dicts"), fmt_time(s["median"]), fmt_time(s["cpu"]),
                       s["median"] <= 10e6))
    for kind, limit, title in [("open-current-nation", 5e6, "current catalogs"),
                               ("open-no-catalog-nation", 50e6, "no catalog")]:
        s = summaries.get(("qor3", kind))
        if s:
            checks.append(("Qor_Open, %s, nationwide set (%s dictionaries) ≤ %d ms" % (
                title, run.get("nation_dictionaries"), limit / 1e6), fmt_time(s["median"]),
                fmt_time(s["cpu"]), s["median"] <= limit))
    checks.append(("qor3 dictionaries ≤ 40% of the SQLite bytes",
                   "%.1f%% (whole set: %.1f%%)" % (100.0 * qor_dict / sqlite_bytes,
                                                   100.0 * qor_all / sqlite_bytes),
                   "", qor_dict <= 0.4 * sqlite_bytes))
    for title, measured, cpu_median, ok in checks:
        w("| %s | %s | %s | %s |" % (title, measured, cpu_median, "met" if ok else "**missed**"))
    w("")
    scale_goals(w, summaries, rss)

    notes = args.notes
    if notes:
        try:
            with open(notes, encoding="utf-8") as f:
                text = f.read().strip()
            if text:
                w(text)
                w("")
        except OSError:
            pass

    w("## Reproducing")
    w("")
    w("    bash scripts/install-deps.sh   # once: compilers, SQLite, tinycdb, matplotlib")
    w("    bash bench/run.sh              # %s listings by default; --listings N, --seed S" %
      fmt_num(1000000))
    w("    bash bench/run.sh --nationwide # and the nationwide set (about 10 minutes more)")
    w("    bash bench/run.sh --only-nationwide --data SET --nation-data NATION --no-report")
    w("                                   # existing sets: the nationwide figures, not the rest")
    w("    bash bench/block_size.sh       # after a run: entry block sizes on its data set,")
    w("    bash bench/serve.sh            # after a run: qor-serve and nginx under wrk,")
    w("    bash bench/run.sh --report-only # then this file again, with their table")
    w("")
    w("`bash bench/run.sh --help` lists the options. The run builds into `build-bench/`, "
      "keeps its data set and raw measurements in `build-bench/bench-data/` (`measurements.tsv` "
      "holds every query's time and answer count), and rewrites this file and `%s`." %
      args.chart)
    w("")

    with open(args.out, "w", encoding="utf-8") as f:
        f.write("\n".join(out))
    compared = sum(len(c) for (e, wl), c in counts.items() if e != "qor3")
    if not mismatches:
        print("report: answer counts agree across engines (%d queries compared)" % compared)
    for workload, items in sorted(mismatches.items()):
        for index, engine, ours, theirs in sorted(items)[:20]:
            print("report: %s query %d (%s): qor3 %s, %s %s" % (
                workload, index, query_text(workload, index), ours, ENGINES[engine], theirs),
                file=sys.stderr)
    for workload, index in differ:
        print("report: %s query %d (%s): the first search's answer count differs from the warm "
              "search's" % (workload, index, query_text(workload, index)), file=sys.stderr)
    return 1 if mismatches or differ else 0


if __name__ == "__main__":
    sys.exit(main())
