#!/usr/bin/env bash
# Measures what qor-mkdict --block-bytes costs and buys on the benchmark's first data set: for
# each size, the set's dictionaries and correction file are built again from the same TSV
# files, then their bytes on disk, the first number and name searches after each Qor_Open
# (engine cache empty) and warm searches (existing numbers; leading-literal names in the
# largest region, without and with the address-1 key) are measured with bench-qor. Writes the
# table to BUILD/bench-data/block-size.md, which `bash bench/run.sh --report-only` puts into
# BENCHMARKS.md. Run it after bench/run.sh, on the same build tree (a new run.sh run drops
# the table).
#
# Usage: bash bench/block_size.sh [options]
#   --build DIR        build tree of the run.sh run (default build-bench/)
#   --sizes LIST       comma-separated --block-bytes values (default 1024,2048,4096,16384)
#   --iterations N     opens for the first searches (default 100)
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$ROOT/bench/qor_set.sh"
BUILD=$ROOT/build-bench
SIZES=1024,2048,4096,16384
ITERATIONS=100
while [[ $# -gt 0 ]]; do
  case "$1" in
    --build) BUILD=$2; shift 2 ;;
    --sizes) SIZES=$2; shift 2 ;;
    --iterations) ITERATIONS=$2; shift 2 ;;
    -h|--help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "block_size.sh: unknown argument: $1" >&2; exit 2 ;;
  esac
done

WORK=$BUILD/bench-data
DATA=$(sed -n 's/^data\t//p' "$WORK/run.tsv" 2>/dev/null || true)
if [[ -z $DATA || ! -d $DATA/tsv || ! -x $BUILD/bench/bench-qor ]]; then
  echo "block_size.sh: no bench/run.sh run in $BUILD (run it first)" >&2
  exit 1
fi
OUT=$WORK/block-size
rm -rf "$OUT"
mkdir -p "$OUT"
# The workloads block size moves; the first searches take the same queries from this file.
awk -F'\t' '$2 == "number-hit" || $2 == "name-prefix" || $2 == "name-prefix-addr1"' \
  "$WORK/queries.tsv" > "$OUT/queries.tsv"

for bytes in ${SIZES//,/ }; do
  echo "== block size $bytes: building the set"
  SET=$OUT/set-$bytes
  build_qor_set "$BUILD/tools/qor-mkdict" "$ROOT" "$DATA" "$SET" --block-bytes "$bytes"
  stat -c %s "$SET"/dict/qor[0-8]*.dct | awk '{s += $1} END {print s}' > "$OUT/$bytes.bytes"
  echo "== block size $bytes: searches"
  M=$OUT/$bytes.tsv
  for what in numbers names; do
    "$BUILD/bench/bench-qor" "$what" "$OUT/queries.tsv" "$SET/dict" "$SET/corrections" "$M"
  done
  "$BUILD/bench/bench-qor" cold "$OUT/queries.tsv" "$SET/dict" "$SET/corrections" \
    "$ITERATIONS" "$M"
  rm -rf "$SET"
done

python3 - "$ROOT/bench" "$OUT" "$SIZES" "$ITERATIONS" > "$WORK/block-size.md" <<'PY'
import os, sys
sys.path.insert(0, sys.argv[1])
import report

out, sizes, iterations = sys.argv[2], [int(s) for s in sys.argv[3].split(",")], sys.argv[4]
cols = [("cold-number", "first number search"), ("cold-name", "first name search"),
        ("number-hit", "warm number search"), ("name-prefix", "warm name search"),
        ("name-prefix-addr1", "warm name search + address-1 key")]
print("### Entry block size")
print()
print("`qor-mkdict --block-bytes` (the decompressed size an entry block aims at) for the first "
      "data set, every dictionary and the correction file built again from the same TSV at each "
      "size and searched by this build's bench-qor: dictionary bytes on disk, the first searches "
      "after each of %s opens (engine cache empty) and the warm searches, as wall-clock median "
      "(CPU median). The first name search follows the first number search of the same open; "
      "names are leading-literal searches of the largest region." % iterations)
print()
print("| block bytes | dictionary bytes | " + " | ".join(t for _, t in cols) +
      " | cache hit rate, warm numbers |")
print("|---:|---:|" + "---:|" * (len(cols) + 1))
answers = {}
for size in sizes:
    with open(os.path.join(out, "%d.bytes" % size)) as f:
        disk = int(f.read())
    latency, cpu, counts, _, _ = report.read_measurements(os.path.join(out, "%d.tsv" % size))
    cells = []
    for workload, _ in cols:
        s = report.summary(latency[("qor3", workload)], cpu[("qor3", workload)])
        cells.append("%s (%s)" % (report.fmt_time(s["median"]), report.fmt_time(s["cpu"])))
        answers.setdefault(workload, set()).add(tuple(sorted(counts[("qor3", workload)].items())))
    cells.append(report.fmt_hits("number-hit"))
    print("| %s | %s | %s |" % (report.fmt_num(size), report.fmt_bytes(disk), " | ".join(cells)))
print()
same = all(len(v) == 1 for v in answers.values())
print("The answer counts are %s at every block size." % (
    "the same" if same else "**not** the same"))
sys.exit(0 if same else 1)
PY
echo "== block size: table in $WORK/block-size.md"
