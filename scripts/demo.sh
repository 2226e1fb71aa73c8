#!/usr/bin/env bash
# Builds qor and the bundled sample dictionary set natively into build/ and runs real searches
# on it: a number search, a name search and the start of the region list.
#
# Usage: scripts/demo.sh
# Needs cmake, g++, python3, zlib, GoogleTest, CLI11 and nlohmann-json; when any is missing,
# it runs scripts/install-deps.sh --native (Debian 12, through apt: only the native tool
# chain, no Windows tools). QOR3_BUILD_DIR overrides build/.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${QOR3_BUILD_DIR:-$ROOT/build}

missing=0
for tool in cmake g++ make python3; do
  command -v "$tool" >/dev/null 2>&1 || missing=1
done
for header in /usr/include/zlib.h /usr/include/gtest/gtest.h /usr/include/CLI/CLI.hpp \
              /usr/include/nlohmann/json.hpp; do
  [[ -f $header ]] || missing=1
done
if [[ $missing -ne 0 ]]; then
  echo "demo: build tools or libraries are missing; running scripts/install-deps.sh --native"
  bash "$ROOT/scripts/install-deps.sh" --native
fi

echo "demo: building qor and the sample dictionary set in $BUILD"
cmake -S "$ROOT" -B "$BUILD" >/dev/null
cmake --build "$BUILD" -j2 --target qor sample_dicts

QOR=$BUILD/tools/qor
SAMPLE=$(cmake -L -N "$BUILD" | sed -n 's/^QOR3_SAMPLE_DIR:PATH=//p')
SAMPLE=${SAMPLE:-$BUILD/sample}

# An example number and name pattern that the generator recorded in its manifest; without
# one, the first region of the set and a surname.
read -r NUMBER REGION PATTERN < <(python3 - "$SAMPLE/manifest.json" <<'PY'
import json, sys
try:
    examples = json.load(open(sys.argv[1], encoding="utf-8")).get("examples", {})
    number = examples["numbers"][0]["display"]
    name = examples["name_patterns"][0]
    print(number, "%05d" % name["region"], name["pattern"])
except (OSError, ValueError, KeyError, IndexError):
    print("- - -")
PY
)
if [[ $REGION == - ]]; then
  REGION=$("$QOR" regions --tsv | sed -n '2p' | cut -f1)
  PATTERN='佐藤*'
fi

run() {
  echo
  echo "\$ qor $*"
  "$QOR" "$@"
}

if [[ $NUMBER != - ]]; then
  run number "$NUMBER"
fi
run name --region "$REGION" "$PATTERN"
echo
echo "\$ qor regions | head"
{ "$QOR" regions || true; } | head
echo
echo "demo: the sample set is in $SAMPLE ('$QOR --help' for more)"
