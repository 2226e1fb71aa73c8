#!/usr/bin/env bash
# Installs the Debian 12 packages the native build, the Windows cross build and the wine test run need; skips what is present.
set -euo pipefail

export DEBIAN_FRONTEND=noninteractive

PACKAGES=(
  cmake g++ make python3 zlib1g-dev googletest libgtest-dev
  g++-mingw-w64-i686 g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix libz-mingw-w64-dev
  wine wine32:i386 locales
  libcli11-dev nlohmann-json3-dev mecab-ipadic
  clang libclang-rt-14-dev valgrind libsqlite3-dev libcdb-dev python3-matplotlib
)

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

missing=()
for pkg in "${PACKAGES[@]}"; do
  is_installed "$pkg" || missing+=("$pkg")
done

if [[ ${#missing[@]} -eq 0 ]]; then
  echo "install-deps: all ${#PACKAGES[@]} packages present"
  exit 0
fi
echo "install-deps: missing: ${missing[*]}"

need_i386=0
for pkg in "${missing[@]}"; do
  [[ $pkg == *:i386 ]] && need_i386=1
done
if [[ $need_i386 -eq 1 ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "install-deps: adding the i386 architecture"
  "${SUDO[@]}" dpkg --add-architecture i386
fi

"${SUDO[@]}" apt-get update -q
"${SUDO[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"

still_missing=()
for pkg in "${missing[@]}"; do
  is_installed "$pkg" || still_missing+=("$pkg")
done
if [[ ${#still_missing[@]} -ne 0 ]]; then
  echo "install-deps: FAILED, still missing: ${still_missing[*]}" >&2
  exit 1
fi
echo "install-deps: installed ${missing[*]}"
