#!/usr/bin/env bash
# Runs Windows programs of the cross builds under wine, for test.sh (sourced) or by hand:
#
#   bash scripts/wine.sh win32|win64 PROGRAM.exe [ARGS...]
#
# Each target has a wine prefix of its own, kept outside the build trees and the clone
# (in $QOR3_WINE_PREFIXES, default ~/.cache/qor3) and named after the wine version, so that
# later runs on the same machine find it: creating one takes seconds where 32-bit programs
# run natively, and minutes where they run emulated. A prefix whose creation did not finish
# (no ready mark) or that no longer starts a program is made anew. Every wine step has a
# time limit (QOR3_WINE_TIMEOUT seconds, default 900; prefix creation twice that), and the
# prefix's wineserver is stopped after each run, so a hung wine fails its stage instead of
# holding the run.

QOR3_WINE_PREFIXES=${QOR3_WINE_PREFIXES:-${XDG_CACHE_HOME:-$HOME/.cache}/qor3}
QOR3_WINE_TIMEOUT=${QOR3_WINE_TIMEOUT:-900}

# The loader of a target's programs; empty when that half of wine is not installed.
wine_loader() {
  case $1 in
    win32) [[ -x /usr/lib/wine/wine ]] && echo /usr/lib/wine/wine ;;
    win64) [[ -x /usr/lib/wine/wine64 ]] && echo /usr/lib/wine/wine64 ;;
  esac
  return 0
}

# Why a target's programs cannot run under wine here, or nothing when they can be tried.
wine_missing() {
  command -v wineserver >/dev/null 2>&1 || { echo "wine is not installed"; return; }
  [[ -n $(wine_loader "$1") ]] || { echo "the $1 half of wine is not installed"; return; }
  if [[ $1 == win32 ]] && [[ -e /lib/ld-linux.so.2 ]] &&
     ! timeout 60 /lib/ld-linux.so.2 --help >/dev/null 2>&1; then
    echo "32-bit programs cannot run on this machine (scripts/install-deps.sh registers an emulator)"
  fi
}

# Sets the environment of a target's wine (WINEPREFIX and the rest) in this shell.
wine_environment() {
  local arch=$1 version
  version=$(timeout 60 "$(wine_loader "$arch")" --version 2>/dev/null |
            sed -e 's/[^A-Za-z0-9.]\{1,\}/-/g' -e 's/-$//')
  export WINEPREFIX=$QOR3_WINE_PREFIXES/${version:-wine}-$arch
  export WINEARCH=$arch
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko install prompts
  unset DISPLAY WAYLAND_DISPLAY
}

wine_stop() {
  timeout 60 wineserver -k >/dev/null 2>&1 || true
}

# Makes the prefix of the current environment ready and starts its wineserver, which stays
# until wine_stop: every wine start without a running server sets the session up anew (wineboot,
# services), a second or two natively and minutes under emulation, so a stage pays it once.
# 0 when the prefix is ready.
wine_prefix_ready() {
  local arch=$WINEARCH loader try
  loader=$(wine_loader "$arch")
  for try in 1 2; do
    if [[ -f $WINEPREFIX/.qor3-ready ]] &&
       { wineserver -p </dev/null >/dev/null 2>&1 || true; } &&
       timeout "$QOR3_WINE_TIMEOUT" "$loader" cmd.exe /c exit 0 </dev/null >/dev/null 2>&1; then
      return 0
    fi
    wine_stop
    echo "wine.sh: creating the $arch prefix $WINEPREFIX"
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    local start=$SECONDS
    if timeout "$((2 * QOR3_WINE_TIMEOUT))" "$loader" wineboot -i </dev/null >/dev/null 2>&1 &&
       timeout "$QOR3_WINE_TIMEOUT" wineserver -w; then
      touch "$WINEPREFIX/.qor3-ready"
      echo "wine.sh: prefix ready in $((SECONDS - start))s"
    else
      echo "wine.sh: creating the prefix failed or timed out (try $try)"
      wine_stop
    fi
  done
  [[ -f $WINEPREFIX/.qor3-ready ]]
}

# wine_run ARCH PROGRAM [ARGS...]: runs the program in the target's prefix, standard output
# through a pipe (wine's console then writes plain text; the CRs of text-mode output are
# dropped), and stops the prefix's wineserver afterwards. The program's exit status, 124 on
# a time-out.
wine_run() {
  local arch=$1
  shift
  local why
  why=$(wine_missing "$arch")
  if [[ -n $why ]]; then
    echo "wine.sh: cannot run $1: $why"
    return 125
  fi
  (
    wine_environment "$arch"
    wine_prefix_ready || exit 125
    timeout --kill-after=30 "$QOR3_WINE_TIMEOUT" "$(wine_loader "$arch")" "$@" </dev/null 2>&1 |
      tr -d '\r'
    rc=${PIPESTATUS[0]}
    wine_stop
    exit "$rc"
  )
}

if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
  if [[ $# -lt 2 || ($1 != win32 && $1 != win64) ]]; then
    sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
  fi
  wine_run "$@"
fi
