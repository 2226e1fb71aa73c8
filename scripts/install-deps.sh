#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs through apt; skips what is present.
#
# Usage: scripts/install-deps.sh [--native | --no-windows]
#   (none)        every group below
#   --native      only what the native build, the demo and the native tests need
#   --no-windows  every group but the Windows cross tool chain and wine
#
# A package index that fails to download (a mirror in the middle of a sync) does not stop it:
# `apt-get update` is tried a few times, then it goes on with the indexes it has, installs
# each group, package by package when the group as a whole cannot be installed, and names
# what is still missing at the end. It exits non-zero only when the native build lacks
# something (or it cannot run apt at all); a missing wine means the wine test stages are
# skipped, a missing cross tool chain that the Windows build fails.
# QOR3_APT_UPDATE_TRIES (default 3) and QOR3_APT_RETRY_DELAY (seconds, default 10) tune the retries.
set -uo pipefail

export DEBIAN_FRONTEND=noninteractive

# Each group is a list of units; a unit is installed whole or not at all (wine without its
# 32-bit half cannot run the 32-bit test programs, so the two are one unit).
GROUPS_ALL=(native checks cross wine bench data serve)
declare -A UNITS=(
  [native]="cmake|g++|make|python3|pkgconf|zlib1g-dev|googletest|libgtest-dev|libcli11-dev|nlohmann-json3-dev|libcpp-httplib-dev|python3-pytest|python3-pip|python3-setuptools"
  [checks]="valgrind|clang|libclang-rt-14-dev"
  [cross]="g++-mingw-w64-i686|g++-mingw-w64-i686-posix|gcc-mingw-w64-i686-posix|libz-mingw-w64-dev"
  [wine]="wine wine32:i386|locales"
  [bench]="libsqlite3-dev|libcdb-dev|python3-matplotlib"
  [data]="mecab-ipadic"
  [serve]="chromium|chromium-driver|python3-selenium|fonts-ipafont-gothic|wrk|nginx-light"
)
declare -A PURPOSE=(
  [native]="the native build, the demo and the native tests"
  [checks]="the valgrind, sanitizer and fuzz test stages"
  [cross]="the 32-bit Windows build"
  [wine]="the Windows tests under wine"
  [bench]="the benchmarks"
  [data]="deriving the reference data in data/"
  [serve]="the search page's browser test and the HTTP benchmark"
)

selected=("${GROUPS_ALL[@]}")
for arg in "$@"; do
  case "$arg" in
    --native) selected=(native) ;;
    --no-windows) selected=(native checks bench data serve) ;;
    -h|--help) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "install-deps: unknown argument: $arg" >&2; exit 2 ;;
  esac
done

SUDO=()
if [[ $(id -u) -ne 0 ]]; then
  if command -v sudo >/dev/null 2>&1; then
    SUDO=(sudo env DEBIAN_FRONTEND=noninteractive)
  else
    echo "install-deps: must run as root (or with sudo available)" >&2
    exit 1
  fi
fi

is_installed() {
  [[ $(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null) == installed ]]
}

unit_installed() {
  local pkg
  for pkg in $1; do
    is_installed "$pkg" || return 1
  done
}

# The missing units of a group, one a line.
missing_units() {
  local unit
  IFS='|' read -ra units <<<"${UNITS[$1]}"
  for unit in "${units[@]}"; do
    unit_installed "$unit" || echo "$unit"
  done
}

apt_install() {
  "${SUDO[@]}" apt-get install -y -q --no-install-recommends "$@"
}

declare -A TODO=()
any=0
for group in "${selected[@]}"; do
  TODO[$group]=$(missing_units "$group")
  [[ -n ${TODO[$group]} ]] && any=1
done
if [[ $any -eq 0 ]]; then
  echo "install-deps: everything present (${selected[*]})"
  exit 0
fi
for group in "${selected[@]}"; do
  [[ -n ${TODO[$group]} ]] && echo "install-deps: $group lacks: ${TODO[$group]//$'\n'/ }"
done

if [[ " ${TODO[wine]:-} " == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "install-deps: adding the i386 architecture"
  "${SUDO[@]}" dpkg --add-architecture i386
fi

tries=${QOR3_APT_UPDATE_TRIES:-3}
delay=${QOR3_APT_RETRY_DELAY:-10}
for ((try = 1; ; try++)); do
  "${SUDO[@]}" apt-get update -q
  rc=$?
  [[ $rc -eq 0 ]] && break
  if [[ $try -ge $tries ]]; then
    echo "install-deps: apt-get update failed $tries times (exit $rc); going on with the package indexes it has"
    break
  fi
  echo "install-deps: apt-get update failed (exit $rc); trying again in ${delay}s"
  sleep "$delay"
done

for group in "${selected[@]}"; do
  todo=${TODO[$group]}
  [[ -z $todo ]] && continue
  # The whole group in one go; when that fails, unit by unit, so one package that cannot be
  # installed keeps back only itself.
  # shellcheck disable=SC2086
  if ! apt_install $todo; then
    echo "install-deps: group $group could not be installed as a whole; trying its packages one by one"
    while IFS= read -r unit; do
      # shellcheck disable=SC2086
      unit_installed "$unit" || apt_install $unit || echo "install-deps: cannot install: $unit"
    done <<<"$todo"
  fi
done

status=0
lacking=()
for group in "${selected[@]}"; do
  left=$(missing_units "$group")
  [[ -z $left ]] && continue
  left=${left//$'\n'/ }
  lacking+=("$group")
  echo "install-deps: MISSING for ${PURPOSE[$group]}: $left"
  [[ $group == native ]] && status=1
done
if [[ $status -ne 0 ]]; then
  echo "install-deps: FAILED: the native build cannot go ahead without those packages" >&2
elif [[ ${#lacking[@]} -ne 0 ]]; then
  echo "install-deps: done, except for the missing packages above (groups: ${lacking[*]})"
else
  echo "install-deps: done, everything present (${selected[*]})"
fi
exit $status
