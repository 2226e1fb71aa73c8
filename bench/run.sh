#!/usr/bin/env bash
# Benchmarks qor3 against SQLite and tinycdb on one generated data set and regenerates
# BENCHMARKS.md and bench/latency.png from that one run.
#
# Usage: bash bench/run.sh [options]
#   --listings N        listings to generate (default 1000000)
#   --seed S            seed of the generator and of the query sets (default 1)
#   --number-queries N  existing and, as many, absent numbers (default 10000)
#   --name-queries N    queries of each name workload (default 200)
#   --open-iterations N timed opens of each kind (default 100)
#   --open-dicts N      dictionaries of the open benchmark's second set (default 100)
#   --big-listings N    listings of the second data set, one prefecture (31) whose largest
#                       region gets about 22% of them (default 225000: about 50,000)
#   --data DIR          use an existing generated set (tsv/, dict/, corrections/)
#   --nationwide        also the nationwide set: all 47 prefectures, 3,000,000 listings in
#                       volumes of about 4,000 (726 dictionaries), built from one TSV with
#                       qor-mkdict --split (adds about 10 minutes and 1 GB of disk)
#   --nation-listings N listings of the nationwide set (default 3000000)
#   --nation-data DIR   use an existing nationwide set (made as --nationwide makes it)
#   --only-nationwide   what the nationwide figures need, without the slow rest: implies
#                       --nationwide and --no-baseline, leaves out the second data set and the
#                       timing of qor-mkdict --split (the nationwide set's own files are
#                       searched, copied), and keeps the SQLite, tinycdb and query files of
#                       the build tree's last run when they come from the same set, seed,
#                       query counts and bench-prep; with --data and --nation-data a run of
#                       about 2 minutes (the first one: about 2 more)
#   --build DIR         build tree (default build-bench/)
#   --baseline REV      also build commit REV's libqor3.so and bench-qor (in BUILD/baseline,
#                       from `git archive`) and run its number and name searches on the same
#                       data; default: the commit before the engine cache (the parent of the
#                       commit that added src/engine/engine_cache.h)
#   --no-baseline       skip the old commit
#   --no-report         measure only; leave BENCHMARKS.md and the chart as they are
#   --report-only       measure nothing; rewrite BENCHMARKS.md and the chart from the last
#                       run's files in the build tree (after editing bench/notes.md)
# Needs what scripts/install-deps.sh installs. Not part of the test run: it takes minutes.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$ROOT/bench/qor_set.sh"
LISTINGS=1000000
SEED=1
NUMBER_QUERIES=10000
NAME_QUERIES=200
OPEN_ITERATIONS=100
OPEN_DICTS=100
BIG_LISTINGS=225000
BIG_PREFECTURES=31
PREFECTURES=13,14,27
CORRECTIONS_SHARE=0.01
DATA=""
BUILD=$ROOT/build-bench
REPORT=1
REPORT_ONLY=0
NATIONWIDE=0
NATION_LISTINGS=3000000
NATION_DICT_LISTINGS=4000
NATION_DATA=""
ONLY_NATIONWIDE=0
BASELINE=default
while [[ $# -gt 0 ]]; do
  case "$1" in
    --listings) LISTINGS=$2; shift 2 ;;
    --seed) SEED=$2; shift 2 ;;
    --number-queries) NUMBER_QUERIES=$2; shift 2 ;;
    --name-queries) NAME_QUERIES=$2; shift 2 ;;
    --open-iterations) OPEN_ITERATIONS=$2; shift 2 ;;
    --open-dicts) OPEN_DICTS=$2; shift 2 ;;
    --big-listings) BIG_LISTINGS=$2; shift 2 ;;
    --data) DATA=$2; shift 2 ;;
    --build) BUILD=$2; shift 2 ;;
    --no-report) REPORT=0; shift ;;
    --report-only) REPORT_ONLY=1; shift ;;
    --nationwide) NATIONWIDE=1; shift ;;
    --nation-listings) NATION_LISTINGS=$2; shift 2 ;;
    --nation-data) NATION_DATA=$2; NATIONWIDE=1; shift 2 ;;
    --only-nationwide) ONLY_NATIONWIDE=1; NATIONWIDE=1; shift ;;
    --baseline) BASELINE=$2; shift 2 ;;
    --no-baseline) BASELINE=""; shift ;;
    -h|--help) sed -n '2,36p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "run.sh: unknown argument: $1" >&2; exit 2 ;;
  esac
done
[[ $ONLY_NATIONWIDE -eq 0 ]] || BASELINE=""

WORK=$BUILD/bench-data
RUN=$WORK/run.tsv          # parameters, sizes and build times for the report
M=$WORK/measurements.tsv   # every engine process appends its lines here
MACHINE=$WORK/machine.tsv

write_report() {
  echo "== bench: writing BENCHMARKS.md and bench/latency.png"
  local status=0 listings
  listings=$(sed -n 's/^listings\t//p' "$RUN")
  local extra=()
  [[ -s $WORK/zipf-queries.tsv ]] && extra+=(--zipf-queries "$WORK/zipf-queries.tsv")
  [[ -s $WORK/block-size.md ]] && extra+=(--block-size "$WORK/block-size.md")
  [[ -s $WORK/serve.md ]] && extra+=(--serve "$WORK/serve.md")
  # The second and the nationwide set only when this run measured them (run.tsv says so).
  [[ -n $(sed -n 's/^big_listings\t//p' "$RUN") ]] && extra+=(--big-stats "$WORK/big-stats.tsv" \
    --big-queries "$WORK/big-queries.tsv")
  if [[ -n $(sed -n 's/^nation_listings\t//p' "$RUN") ]]; then
    extra+=(--nation-stats "$WORK/nation-stats.tsv" --nation-queries "$WORK/nation-queries.tsv")
    [[ -s $WORK/nation-zipf-queries.tsv ]] &&
      extra+=(--nation-zipf-queries "$WORK/nation-zipf-queries.tsv")
  fi
  python3 "$ROOT/bench/report.py" --measurements "$M" --stats "$WORK/stats.tsv" --run "$RUN" \
    --machine "$MACHINE" --queries "$WORK/queries.tsv" "${extra[@]}" \
    --notes "$ROOT/bench/notes.md" --chart bench/latency.png --out "$ROOT/BENCHMARKS.md" \
    || status=$?
  /usr/bin/python3 "$ROOT/bench/plot.py" --measurements "$M" --out "$ROOT/bench/latency.png" \
    --title "qor3 vs SQLite vs tinycdb, $listings listings"
  [[ $status -eq 0 ]] || echo "run.sh: answer counts differ between engines; see BENCHMARKS.md" >&2
  return $status
}

if [[ $REPORT_ONLY -eq 1 ]]; then
  write_report
  exit $?
fi
mkdir -p "$WORK"
: > "$RUN"
: > "$M"
# The tables of bench/block_size.sh and bench/serve.sh belong to the run they followed.
rm -f "$WORK/block-size.md" "$WORK/serve.md"
note() { printf '%s\t%s\n' "$1" "$2" >> "$RUN"; }
now() { date +%s.%N; }
log() { echo "== bench: $*"; }
# prep_key SET [TEXT]: what bench-prep's files for data set SET are made from: the set's files,
# the seed and query counts, TEXT and bench-prep itself.
prep_key() {
  {
    echo "$(cd "$1" && pwd) seed $SEED numbers $NUMBER_QUERIES names $NAME_QUERIES ${2:-}"
    stat -c '%n %s %Y' "$1"/tsv/qor*.tsv "$1"/dict/qor[0-8]*.dct
    md5sum < "$B/bench-prep"
  } | md5sum | cut -d' ' -f1
}
# prep_kept KEY_FILE KEY FILE...: true when --only-nationwide may keep the last run's bench-prep
# files: KEY_FILE holds KEY and every FILE (in the work directory) is there.
prep_kept() {
  local f
  [[ $ONLY_NATIONWIDE -eq 1 && $(cat "$WORK/$1" 2>/dev/null || true) == "$2" ]] || return 1
  for f in "${@:3}"; do [[ -s $WORK/$f || -d $WORK/$f ]] || return 1; done
}
LOAD_BEFORE=$(cut -d' ' -f1-3 /proc/loadavg)

log "building Release into $BUILD"
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" -DQOR3_BENCH=ON -DQOR3_TESTS=OFF \
  -DQOR3_FAULT_INJECTION=OFF -DQOR3_SANITIZE=OFF > "$WORK/cmake.log"
cmake --build "$BUILD" -j2 --target qor3 qor-mkdict bench-prep bench-qor bench-sqlite bench-cdb \
  > "$WORK/build.log"
MKDICT=$BUILD/tools/qor-mkdict
B=$BUILD/bench

# generate DIR LISTINGS PREFECTURES [OPTIONS]: a data set made by the sample generator.
generate() {
  log "generating $2 listings (seed $SEED, prefectures $3)"
  rm -rf "$1"
  python3 "$ROOT/tools/gen_sample.py" --seed "$SEED" --listings "$2" --prefectures "$3" \
    --corrections-share "$CORRECTIONS_SHARE" --out "$1" --mkdict "$MKDICT" "${@:4}" > "$1.log"
}

if [[ -z $DATA ]]; then
  DATA=$WORK/set
  generate "$DATA" "$LISTINGS" "$PREFECTURES"
  note generated yes
fi
note data "$DATA"
note seed "$SEED"
note listings "$LISTINGS"
note prefectures "$PREFECTURES"
note corrections_share "$CORRECTIONS_SHARE"
note number_queries "$NUMBER_QUERIES"
note name_queries "$NAME_QUERIES"
note open_iterations "$OPEN_ITERATIONS"

# The qor3 set is built again here, to time qor-mkdict; the result must equal the
# generator's files byte for byte. --only-nationwide copies the generator's files instead.
QOR=$WORK/qor
if [[ $ONLY_NATIONWIDE -eq 1 ]]; then
  rm -rf "$QOR"
  mkdir -p "$QOR/dict" "$QOR/corrections"
  cp "$DATA"/dict/qor[0-8]*.dct "$QOR/dict/"
  cp "$DATA/corrections/qor5001.dct" "$QOR/corrections/"
else
  log "timing qor-mkdict"
  identical=yes
  start=$(now)
  build_qor_set "$MKDICT" "$ROOT" "$DATA" "$QOR"
  end=$(now)
  note mkdict_seconds "$(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.3f", b - a}')"
  for f in "$DATA"/dict/qor*.dct "$DATA"/corrections/qor5001.dct; do
    case $f in */qor9999.dct) continue ;; esac
    rel=${f#"$DATA"/}
    cmp -s "$f" "$QOR/$rel" || { identical=no; echo "run.sh: $rel differs from the generator's" >&2; }
  done
  note mkdict_identical "$identical"
fi
DICTS=$(ls "$QOR"/dict/qor*.dct | wc -l)
note dictionaries "$DICTS"

PREP_KEY=$(prep_key "$DATA" "open $OPEN_DICTS")
if prep_kept prep.key "$PREP_KEY" listings.sqlite listings.cdb queries.tsv stats.tsv \
     zipf-queries.tsv open100; then
  log "keeping the SQLite, tinycdb, query and open set files of the last run"
  note prep_reused yes
else
  log "building SQLite, tinycdb, the queries and the $OPEN_DICTS-dictionary open set"
  rm -f "$WORK/prep.key"
  "$B/bench-prep" --tsv "$DATA/tsv" --dict "$QOR/dict" --sqlite "$WORK/listings.sqlite" \
    --cdb "$WORK/listings.cdb" --queries "$WORK/queries.tsv" --stats "$WORK/stats.tsv" \
    --seed "$SEED" --number-queries "$NUMBER_QUERIES" --name-queries "$NAME_QUERIES" \
    --zipf-queries "$WORK/zipf-queries.tsv" --open-set "$WORK/open100" \
    --open-dicts "$OPEN_DICTS" --area-codes "$ROOT/data/area_codes.txt" \
    --extended-area-codes "$ROOT/data/extended_area_codes.txt"
  echo "$PREP_KEY" > "$WORK/prep.key"
fi
note open_dicts "$(ls "$WORK"/open100/qor[0-8]*.dct | wc -l)"

size() { stat -c %s "$@" | awk '{s += $1} END {print s + 0}'; }
note tsv_bytes "$(size "$DATA"/tsv/qor*.tsv)"
[[ $ONLY_NATIONWIDE -eq 1 ]] || note tsv_gzip_bytes "$(cat "$DATA"/tsv/qor*.tsv | gzip -9 | wc -c)"
note sqlite_bytes "$(size "$WORK/listings.sqlite")"
note cdb_bytes "$(size "$WORK/listings.cdb")"
note qor3_correction_bytes "$(size "$QOR/corrections/qor5001.dct")"

# The second data set: one small prefecture, so that one region holds about 50,000 listings
# (the 1,000,000 listings of the first set give its largest region about 15,000).
BIG=$WORK/big
if [[ $ONLY_NATIONWIDE -eq 0 ]]; then
  generate "$BIG" "$BIG_LISTINGS" "$BIG_PREFECTURES"
  "$B/bench-prep" --tsv "$BIG/tsv" --dict "$BIG/dict" --sqlite "$WORK/big.sqlite" \
    --cdb "$WORK/big.cdb" --queries "$WORK/big-queries.tsv" --stats "$WORK/big-stats.tsv" \
    --seed "$SEED" --number-queries 0 --name-queries "$NAME_QUERIES" --workload-prefix big-
  note big_listings "$BIG_LISTINGS"
  note big_prefectures "$BIG_PREFECTURES"
fi

log "number lookups"
"$B/bench-qor" numbers "$WORK/queries.tsv" "$QOR/dict" "$QOR/corrections" "$M"
"$B/bench-sqlite" numbers "$WORK/listings.sqlite" "$WORK/queries.tsv" "$M"
"$B/bench-cdb" numbers "$WORK/listings.cdb" "$WORK/queries.tsv" "$M"
log "number lookups, existing numbers drawn with a Zipf distribution"
"$B/bench-qor" numbers "$WORK/zipf-queries.tsv" "$QOR/dict" "$QOR/corrections" "$M"
"$B/bench-sqlite" numbers "$WORK/listings.sqlite" "$WORK/zipf-queries.tsv" "$M"
"$B/bench-cdb" numbers "$WORK/listings.cdb" "$WORK/zipf-queries.tsv" "$M"
log "name searches"
"$B/bench-qor" names "$WORK/queries.tsv" "$QOR/dict" "$QOR/corrections" "$M"
"$B/bench-sqlite" names "$WORK/listings.sqlite" "$WORK/queries.tsv" "$M"
if [[ $ONLY_NATIONWIDE -eq 0 ]]; then
  "$B/bench-qor" names "$WORK/big-queries.tsv" "$BIG/dict" "$BIG/corrections" "$M"
  "$B/bench-sqlite" names "$WORK/big.sqlite" "$WORK/big-queries.tsv" "$M"
fi
log "first searches after each of $OPEN_ITERATIONS opens"
"$B/bench-qor" cold "$WORK/queries.tsv" "$QOR/dict" "$QOR/corrections" "$OPEN_ITERATIONS" "$M"
log "opens"
"$B/bench-qor" open "$QOR/dict" "$QOR/corrections" "$OPEN_ITERATIONS" main "$M"
log "queries per second with 1 and 2 threads"
for threads in 1 2; do
  "$B/bench-qor" threads "$threads" "$WORK/queries.tsv" "$QOR/dict" "$QOR/corrections" "$M"
done
"$B/bench-qor" open "$WORK/open100" "$QOR/corrections" "$OPEN_ITERATIONS" open100 "$M"
note qor3_dict_bytes "$(size "$QOR"/dict/qor[0-8]*.dct)"
note qor3_catalog_bytes "$(size "$QOR/dict/qor9999.dct")"

# The old commit, built from its own sources with the same flags, searches the same files;
# its lines are marked "qor3-old" (its bench-qor has no cache counters).
if [[ $BASELINE == default ]]; then
  added=$(git -C "$ROOT" log --diff-filter=A --format=%H -- src/engine/engine_cache.h | tail -1)
  BASELINE=${added:+$added^}
fi
if [[ -n $BASELINE ]]; then
  rev=$(git -C "$ROOT" rev-parse --verify --short "$BASELINE^{commit}")
  OLD=$BUILD/baseline
  if [[ $(cat "$OLD/rev" 2>/dev/null) != "$rev" || ! -x $OLD/build/bench/bench-qor ]]; then
    log "building the old commit $rev into $OLD"
    rm -rf "$OLD"
    mkdir -p "$OLD/src"
    git -C "$ROOT" archive "$rev" | tar -x -C "$OLD/src"
    cmake -S "$OLD/src" -B "$OLD/build" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" \
      -DQOR3_BENCH=ON -DQOR3_TESTS=OFF -DQOR3_FAULT_INJECTION=OFF -DQOR3_SANITIZE=OFF \
      > "$WORK/baseline-cmake.log"
    cmake --build "$OLD/build" -j2 --target bench-qor > "$WORK/baseline-build.log"
    echo "$rev" > "$OLD/rev"
  fi
  log "the old commit $rev: number lookups and name searches"
  OM=$WORK/baseline-measurements.tsv
  : > "$OM"
  for what in numbers names; do
    "$OLD/build/bench/bench-qor" "$what" "$WORK/queries.tsv" "$QOR/dict" "$QOR/corrections" "$OM"
  done
  awk -F'\t' -v OFS='\t' '$1 == "qor3" {$1 = "qor3-old"} $1 == "#rss" {$2 = "qor3-old"} 1' \
    "$OM" >> "$M"
  note baseline "$rev"
  note baseline_subject "$(git -C "$ROOT" log -1 --format=%s "$rev")"
fi

# The nationwide set: every prefecture, built from one TSV of all its listings with
# qor-mkdict --split, and measured as the first set.
if [[ $NATIONWIDE -eq 1 ]]; then
  NATION=${NATION_DATA:-$WORK/nation}
  if [[ -z $NATION_DATA ]]; then
    generate "$NATION" "$NATION_LISTINGS" "$(seq -s, 1 47)" --dict-listings "$NATION_DICT_LISTINGS"
    note nation_generated yes
  fi
  note nation_data "$NATION"
  NQ=$WORK/nation-qor
  rm -rf "$NQ"
  mkdir -p "$NQ/dict" "$NQ/corrections"
  if [[ $ONLY_NATIONWIDE -eq 1 ]]; then
    # The set's own files, copied: the opens without a catalog delete and rewrite qor9999.dct.
    log "copying the nationwide set's dictionaries"
    cp "$NATION"/dict/qor*.dct "$NQ/dict/"
    cp "$NATION/corrections/qor5001.dct" "$NQ/corrections/"
  else
    log "joining the nationwide TSV files into one (column dictionary)"
    python3 - "$NATION/tsv" "$NQ/all.tsv" <<'PY'
import glob, os, sys
with open(sys.argv[2], "w", encoding="utf-8", newline="\n") as out:
    header = None
    for path in sorted(glob.glob(os.path.join(sys.argv[1], "qor[0-4]*.tsv"))):
        number = int(os.path.basename(path)[3:7])
        with open(path, encoding="utf-8") as f:
            lines = f.read().splitlines()
        if header is None:
            header = lines[0]
            out.write(header + "\tdictionary\n")
        out.writelines(line + "\t%d\n" % number for line in lines[1:] if line)
PY
    JOBS=$(nproc)
    log "timing qor-mkdict --split --jobs $JOBS on the nationwide set"
    edition1=$(header_u32 "$NATION/dict/qor0101.dct" 4)
    start=$(now)
    "$MKDICT" --split --jobs "$JOBS" --edition1 "$edition1" --edition2 1 \
      --area-codes "$ROOT/data/area_codes.txt" \
      --extended-area-codes "$ROOT/data/extended_area_codes.txt" "$NQ/all.tsv" "$NQ/dict" \
      > "$NQ/mkdict.log"
    end=$(now)
    note nation_mkdict_seconds "$(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.3f", b - a}')"
    note nation_mkdict_jobs "$JOBS"
    note nation_tsv_bytes "$(size "$NQ/all.tsv")"
    rm -f "$NQ/all.tsv"
    "$MKDICT" --edition1 "$edition1" --edition2 1 --area-codes "$ROOT/data/area_codes.txt" \
      --extended-area-codes "$ROOT/data/extended_area_codes.txt" \
      --correction "$NATION/tsv/qor5001.tsv" "$NQ/corrections" > /dev/null
    identical=yes
    for f in "$NATION"/dict/qor[0-4]*.dct "$NATION"/corrections/qor5001.dct; do
      rel=${f#"$NATION"/}
      cmp -s "$f" "$NQ/$rel" || { identical=no; echo "run.sh: $rel differs from the generator's" >&2; }
    done
    note nation_mkdict_identical "$identical"
  fi
  note nation_listings "$NATION_LISTINGS"
  note nation_dictionaries "$(ls "$NQ"/dict/qor[0-4]*.dct | wc -l)"
  NATION_PREP_KEY=$(prep_key "$NATION")
  if prep_kept nation-prep.key "$NATION_PREP_KEY" nation.sqlite nation.cdb nation-queries.tsv \
       nation-zipf-queries.tsv nation-stats.tsv; then
    log "keeping the nationwide SQLite, tinycdb and query files of the last run"
    note nation_prep_reused yes
  else
    log "building SQLite, tinycdb and the queries of the nationwide set"
    rm -f "$WORK/nation-prep.key"
    "$B/bench-prep" --tsv "$NATION/tsv" --dict "$NQ/dict" --sqlite "$WORK/nation.sqlite" \
      --cdb "$WORK/nation.cdb" --queries "$WORK/nation-queries.tsv" \
      --stats "$WORK/nation-stats.tsv" --seed "$SEED" --number-queries "$NUMBER_QUERIES" \
      --name-queries "$NAME_QUERIES" --workload-prefix nation- \
      --zipf-queries "$WORK/nation-zipf-queries.tsv"
    echo "$NATION_PREP_KEY" > "$WORK/nation-prep.key"
  fi
  NQUERIES=$WORK/nation-queries.tsv
  NZIPF=$WORK/nation-zipf-queries.tsv
  log "nationwide: number lookups, existing and absent numbers"
  "$B/bench-qor" numbers "$NQUERIES" "$NQ/dict" "$NQ/corrections" "$M"
  "$B/bench-sqlite" numbers "$WORK/nation.sqlite" "$NQUERIES" "$M"
  "$B/bench-cdb" numbers "$WORK/nation.cdb" "$NQUERIES" "$M"
  log "nationwide: number lookups, existing numbers drawn with a Zipf distribution"
  "$B/bench-qor" numbers "$NZIPF" "$NQ/dict" "$NQ/corrections" "$M"
  "$B/bench-sqlite" numbers "$WORK/nation.sqlite" "$NZIPF" "$M"
  "$B/bench-cdb" numbers "$WORK/nation.cdb" "$NZIPF" "$M"
  log "nationwide: name searches"
  "$B/bench-qor" names "$NQUERIES" "$NQ/dict" "$NQ/corrections" "$M"
  "$B/bench-sqlite" names "$WORK/nation.sqlite" "$NQUERIES" "$M"
  log "nationwide: first searches after each of $OPEN_ITERATIONS opens"
  "$B/bench-qor" cold "$NQUERIES" "$NQ/dict" "$NQ/corrections" "$OPEN_ITERATIONS" "$M"
  log "nationwide: queries per second with 1 and 2 threads"
  for threads in 1 2; do
    "$B/bench-qor" threads "$threads" "$NQUERIES" "$NQ/dict" "$NQ/corrections" "$M"
  done
  log "nationwide: opens"
  "$B/bench-qor" open "$NQ/dict" "$NQ/corrections" "$OPEN_ITERATIONS" nation "$M"
  note nation_qor3_dict_bytes "$(size "$NQ"/dict/qor[0-4]*.dct)"
  note nation_qor3_catalog_bytes "$(size "$NQ/dict/qor9999.dct")"
  note nation_qor3_correction_bytes "$(size "$NQ/corrections/qor5001.dct")"
  note nation_sqlite_bytes "$(size "$WORK/nation.sqlite")"
  note nation_cdb_bytes "$(size "$WORK/nation.cdb")"
fi

{
  printf 'cpu\t%s\n' "$(lscpu | sed -n 's/^Model name: *//p' | head -1)"
  printf 'cores\t%s\n' "$(nproc)"
  printf 'memory\t%s MiB\n' "$(awk '/MemTotal/ {print int($2 / 1024)}' /proc/meminfo)"
  printf 'kernel\t%s\n' "$(uname -sr)"
  printf 'compiler\t%s\n' "$(c++ --version | head -1)"
  printf 'sqlite\t%s\n' "$(sed -n 's/^sqlite_version\t//p' "$WORK/stats.tsv")"
  printf 'tinycdb\t%s\n' "$(dpkg-query -W -f='${Version}' libcdb-dev 2>/dev/null || echo unknown)"
  printf 'load_before\t%s (1, 5, 15 min)\n' "$LOAD_BEFORE"
  printf 'load_after\t%s\n' "$(cut -d' ' -f1-3 /proc/loadavg)"
  printf 'date\t%s\n' "$(date -u '+%Y-%m-%d %H:%M UTC')"
  if commit=$(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null); then
    [[ -z $(git -C "$ROOT" status --porcelain --untracked-files=no) ]] || commit+=" with local changes"
    printf 'source\t%s\n' "commit $commit"
  fi
} > "$MACHINE"

if [[ $REPORT -eq 0 ]]; then
  log "measurements in $M (no report written)"
  exit 0
fi
write_report
