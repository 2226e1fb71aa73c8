#!/usr/bin/env python3
"""Draws the latency distributions of one benchmark run (measurements.tsv) as a PNG: one
panel per workload, the cumulative share of queries answered within a time, one line per
engine, time on a log scale."""

import argparse
import collections

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

ENGINES = [("qor3", "qor3", "tab:blue"), ("sqlite", "SQLite", "tab:orange"),
           ("cdb", "tinycdb", "tab:green"), ("qor3-old", "qor3, old commit", "tab:gray")]
PANELS = [
    ("number-hit", "number lookup, existing"),
    ("number-miss", "number lookup, absent"),
    ("number-zipf", "number lookup, Zipf draws"),
    ("cold-number", "first number lookup after Qor_Open"),
    ("cold-name", "first name search after Qor_Open"),
    ("name-prefix", "name: leading literal"),
    ("name-prefix-addr1", "name: leading literal + address 1"),
    ("name-contains", "name: ending (*X)"),
    ("name-contains-addr1", "name: ending + address 1"),
    ("name-prefix-any-region", "name: leading literal, any region"),
    ("big-name-prefix", "name: leading literal, ~50,000-listing region"),
    ("big-name-contains", "name: ending (*X), ~50,000-listing region"),
    ("open-current-open100", "Qor_Open, current catalogs, 100 dictionaries"),
    ("open-no-catalog-open100", "Qor_Open, no catalog, 100 dictionaries"),
    ("nation-number-hit", "nationwide: number lookup, existing"),
    ("nation-number-zipf", "nationwide: number lookup, Zipf draws"),
    ("nation-number-miss", "nationwide: number lookup, absent"),
    ("nation-name-prefix", "nationwide: name, leading literal"),
    ("nation-cold-number", "nationwide: first number lookup after Qor_Open"),
    ("nation-cold-name", "nationwide: first name search after Qor_Open"),
]


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--measurements", required=True)
    ap.add_argument("--title", default="")
    ap.add_argument("--out", required=True)
    args = ap.parse_args()

    latency = collections.defaultdict(list)
    with open(args.measurements, encoding="utf-8", errors="replace") as f:
        for line in f:
            fields = line.rstrip("\n").split("\t")
            if len(fields) >= 5 and not fields[0].startswith("#"):
                latency[(fields[0], fields[1])].append(int(fields[4]) / 1e6)

    panels = [p for p in PANELS if any((e, p[0]) in latency for e, _, _ in ENGINES)]
    columns = 3
    rows = (len(panels) + columns - 1) // columns
    fig, axes = plt.subplots(rows, columns, figsize=(5 * columns, 3.4 * rows), squeeze=False)
    for ax in axes.flat[len(panels):]:
        ax.set_visible(False)
    for ax, (workload, title) in zip(axes.flat, panels):
        for engine, label, colour in ENGINES:
            values = sorted(latency.get((engine, workload), []))
            if not values:
                continue
            n = len(values)
            ax.step(values, [(i + 1) / n for i in range(n)], where="post", color=colour,
                    label="%s (median %.3g ms)" % (label, values[(n - 1) // 2]))
        ax.set_xscale("log")
        ax.set_ylim(0, 1.02)
        ax.set_title(title, fontsize=10)
        ax.set_xlabel("latency, ms (log scale)", fontsize=8)
        ax.set_ylabel("share of queries", fontsize=8)
        ax.grid(True, which="both", alpha=0.3)
        ax.legend(fontsize=7, loc="lower right")
        ax.tick_params(labelsize=7)
    if args.title:
        fig.suptitle(args.title, fontsize=11)
    fig.tight_layout()
    fig.savefig(args.out, dpi=90)


if __name__ == "__main__":
    main()
