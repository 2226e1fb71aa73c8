#!/usr/bin/env bash
# Builds the release packages into dist/: qor3-VERSION-win32.zip and qor3-VERSION-win64.zip
# from the Windows cross builds, qor3-VERSION-linux-x86_64.tar.gz and qor3_VERSION_amd64.deb
# from the native build (cpack), and the Python wheel that carries libqor3 (pip, offline).
# Build trees are reused when present: build/, build-win32/, build-win64/.
#
# Usage: scripts/package.sh [--no-windows] [--no-wheel]
set -euo pipefail

WINDOWS=1
WHEEL=1
for arg in "$@"; do
  case "$arg" in
    --no-windows) WINDOWS=0 ;;
    --no-wheel) WHEEL=0 ;;
    -h|--help) sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "package.sh: unknown argument: $arg" >&2; exit 2 ;;
  esac
done

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
DIST=$ROOT/dist
mkdir -p "$DIST"

# package TREE TARGETS [CMAKE OPTIONS...]: configures TREE, builds TARGETS (all: everything),
# then moves its cpack packages to dist/.
package() {
  local tree=$ROOT/$1 targets=$2
  shift 2
  cmake -S "$ROOT" -B "$tree" -DQOR3_WERROR=ON "$@" > /dev/null
  # shellcheck disable=SC2086
  cmake --build "$tree" -j2 --target $targets > /dev/null
  rm -rf "$tree/cpack"
  (cd "$tree" && cpack --config CPackConfig.cmake -B "$tree/cpack" > /dev/null)
  local file
  for file in "$tree"/cpack/*.zip "$tree"/cpack/*.tar.gz "$tree"/cpack/*.deb; do
    [[ -e $file ]] || continue
    mv "$file" "$DIST/"
    echo "package.sh: dist/$(basename "$file")"
  done
}

package build all
if [[ $WINDOWS -eq 1 ]]; then
  # What the zips hold; the Windows test programs are left to scripts/test.sh.
  package build-win32 "qor3 qor3_msvc_import_lib qor qor-mkdict" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/i686-w64-mingw32.cmake"
  package build-win64 "qor3 qor3_msvc_import_lib qor qor-mkdict" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/x86_64-w64-mingw32.cmake"
fi
if [[ $WHEEL -eq 1 ]]; then
  rm -f "$DIST"/qor3-*.whl
  /usr/bin/python3 -m pip wheel --quiet --no-build-isolation --no-deps --no-index \
    --wheel-dir "$DIST" "$ROOT/python"
  echo "package.sh: dist/$(basename "$DIST"/qor3-*.whl)"
fi
