#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a given time.
#
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
#   SECONDS  time per target (default 60); TARGET names like pattern_fuzzer (default: all)
# The build tree is build-fuzz/ (or $QOR3_FUZZ_BUILD). Corpora live in BUILD/corpus/TARGET,
# seeded by each target itself (run with QOR3_FUZZ_SEEDS=DIR it writes its seeds, made with
# the dictionary builder from sample listings, and exits); crashes are written to
# BUILD/findings/. Targets run one after another at low priority. Exits non-zero when any
# target finds a fault.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
SECONDS_PER_TARGET=${1:-60}
shift || true
BUILD=${QOR3_FUZZ_BUILD:-$ROOT/build-fuzz}

cmake -S "$ROOT" -B "$BUILD" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DQOR3_FUZZ=ON -DQOR3_TESTS=OFF -DQOR3_TOOLS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  > "$BUILD.configure.log"
cmake --build "$BUILD" -j2 > "$BUILD.build.log" || { tail -40 "$BUILD.build.log"; exit 1; }

targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
  for f in "$ROOT"/fuzz/*_fuzzer.cc; do targets+=("$(basename "$f" .cc)"); done
fi

mkdir -p "$BUILD/findings"
status=0
for t in "${targets[@]}"; do
  corpus=$BUILD/corpus/$t
  mkdir -p "$corpus"
  if ! QOR3_FUZZ_SEEDS=$corpus "$BUILD/fuzz/$t" > "$BUILD/$t.seeds.log" 2>&1; then
    cat "$BUILD/$t.seeds.log"
    echo "==== $t: FAIL (seeds not written)"
    status=1
    continue
  fi
  echo "==== $t: ${SECONDS_PER_TARGET}s"
  if nice "$BUILD/fuzz/$t" -max_total_time="$SECONDS_PER_TARGET" -print_final_stats=1 \
       -artifact_prefix="$BUILD/findings/$t-" -timeout=10 -rss_limit_mb=2048 \
       "$corpus" > "$BUILD/$t.log" 2>&1; then
    grep -E 'stat::number_of_executed_units|cov:' "$BUILD/$t.log" | tail -2
    echo "==== $t: PASS"
  else
    tail -40 "$BUILD/$t.log"
    echo "==== $t: FAIL (see $BUILD/$t.log and $BUILD/findings/)"
    status=1
  fi
done
exit $status
