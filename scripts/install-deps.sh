#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs through apt; skips what is present.
#
# Usage: scripts/install-deps.sh [--native | --no-windows]
#   (none)        every group below
#   --native      only what the native build, the demo and the native tests need
#   --no-windows  every group but the Windows cross tool chains and wine
#
# A package index that fails to download (a mirror in the middle of a sync) does not stop it:
# `apt-get update` is tried a few times, then it goes on with the indexes it has, installs
# each group, package by package when the group as a whole cannot be installed, and names
# what is still missing at the end. It exits non-zero only when the native build lacks
# something (or it cannot run apt at all); a missing wine means the wine test stages cannot
# run (test.sh fails them on CI), a missing cross tool chain that the Windows builds fail.
#
# Three mends make the 32-bit wine work where the machine stands in its way, each applied only
# where it is needed and said when it is:
# - the i386 index of the security suite failed to download: amd64 packages would then come
#   in the security suite's versions and their i386 twins in the main suite's, and
#   wine32:i386 could not be installed (multi-arch twins must have equal versions). An apt
#   preferences file puts the security suite below the main suite, so both take the main
#   suite's versions;
# - amd64 packages installed before that from the security suite still block wine32: those
#   wine's i386 dependencies name are set to their i386 twins' version (with the packages
#   built from the same source beside them);
# - the kernel cannot run 32-bit x86 programs: qemu-user-static is installed and registered
#   for them through binfmt_misc, so wine32 runs emulated (slowly).
# The Windows builds also need libdeflate, which has no MinGW package: its Debian source package
# is fetched with `apt-get source` (from a deb-src list of the machine's own mirror, kept apart
# from the system's sources) and unpacked into QOR3_SOURCE_CACHE (default
# ~/.cache/qor3/src)/libdeflate, where CMake builds it for the target.
# QOR3_APT_UPDATE_TRIES (default 3) and QOR3_APT_RETRY_DELAY (seconds, default 10) tune the retries.
set -uo pipefail

export DEBIAN_FRONTEND=noninteractive

# Each group is a list of units; a unit is installed whole or not at all (wine without its
# 32-bit half cannot run the 32-bit test programs, so the two are one unit).
GROUPS_ALL=(native checks cross wine bench data serve package)
declare -A UNITS=(
  [native]="cmake|g++|make|python3|pkgconf|zlib1g-dev|libdeflate-dev|googletest|libgtest-dev|libcli11-dev|nlohmann-json3-dev|libmicrohttpd-dev|python3-pytest|python3-pip|python3-setuptools"
  [checks]="valgrind|clang|libclang-rt-14-dev"
  [cross]="g++-mingw-w64-i686|g++-mingw-w64-i686-posix|gcc-mingw-w64-i686-posix|g++-mingw-w64-x86-64-posix|gcc-mingw-w64-x86-64-posix|libz-mingw-w64-dev|llvm"
  [wine]="wine wine64|wine32:i386|locales"
  [bench]="libsqlite3-dev|libcdb-dev|python3-matplotlib"
  [data]="mecab-ipadic"
  [serve]="chromium|chromium-driver|python3-selenium|fonts-ipafont-gothic|wrk|nginx-light"
  [package]="dpkg-dev|lintian|python3-venv"
)
declare -A PURPOSE=(
  [native]="the native build, the demo and the native tests"
  [checks]="the valgrind, sanitizer and fuzz test stages"
  [cross]="the Windows builds"
  [wine]="the Windows tests under wine"
  [bench]="the benchmarks"
  [data]="deriving the reference data in data/"
  [serve]="the search page's browser test and the HTTP benchmark"
  [package]="the release packages and their tests (scripts/package.sh, scripts/package_test.sh)"
)

selected=("${GROUPS_ALL[@]}")
for arg in "$@"; do
  case "$arg" in
    --native) selected=(native) ;;
    --no-windows) selected=(native checks bench data serve package) ;;
    -h|--help) sed -n '2,30p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
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

# What the mends touch; the set-up test points them into a scratch directory.
APT_PREFERENCES_DIR=${QOR3_APT_PREFERENCES_DIR:-/etc/apt/preferences.d}
LOADER32=${QOR3_LOADER32:-/lib/ld-linux.so.2}
BINFMT_DIR=${QOR3_BINFMT_DIR:-/proc/sys/fs/binfmt_misc}
QEMU_I386=${QOR3_QEMU_I386:-/usr/bin/qemu-i386-static}
SECURITY_PIN=$APT_PREFERENCES_DIR/qor3-security-below-main

# Mend 1: the security suite below the main suite, once its i386 index failed to download.
pin_security_below_main() {
  [[ -f $SECURITY_PIN ]] && return
  echo "install-deps: the i386 index of the security suite failed to download; putting the" \
       "security suite below the main suite ($SECURITY_PIN), so that amd64 and i386" \
       "packages take the same versions"
  "${SUDO[@]}" mkdir -p "$APT_PREFERENCES_DIR"
  printf '%s\n' "# Written by qor3's scripts/install-deps.sh: the i386 index of the security" \
    "# suite did not download, so its amd64 versions would not match their i386 twins." \
    "Package: *" "Pin: release l=Debian-Security" "Pin-Priority: 100" |
    "${SUDO[@]}" tee "$SECURITY_PIN" >/dev/null
}

# Mend 2: installs a unit whose i386 packages depend on i386 twins that apt cannot install
# because the amd64 twin is installed in another version; those twins (and what was built
# from the same source in the same version) are set to the i386 version first.
install_with_aligned_twins() {
  local unit=$1 round names name have want source pkg arch version
  for round in 1 2 3 4 5; do
    # shellcheck disable=SC2086
    names=$(apt-get install -s -q --no-install-recommends $unit 2>&1 |
            sed -n 's/.*Depends: \([^ :]*\):i386.* but it is not installable.*/\1/p' | sort -u)
    [[ -z $names ]] && return 1
    local align=()
    for name in $names; do
      have=$(dpkg-query -W -f='${Version}' "$name:amd64" 2>/dev/null)
      want=$(apt-cache policy "$name:i386" 2>/dev/null | sed -n 's/^ *Candidate: //p')
      [[ -n $have && -n $want && $want != "(none)" && $have != "$want" ]] || continue
      source=$(dpkg-query -W -f='${source:Package}' "$name:amd64" 2>/dev/null)
      while read -r pkg arch version; do
        [[ $arch == amd64 && $version == "$have" ]] || continue
        apt-cache madison "$pkg" 2>/dev/null | grep -q " $want " && align+=("$pkg:amd64=$want")
      done < <(dpkg-query -W -f='${Package} ${Architecture} ${Version} ${source:Package}\n' |
               awk -v s="$source" '$4 == s { print $1, $2, $3 }')
    done
    [[ ${#align[@]} -eq 0 ]] && return 1
    echo "install-deps: installed amd64 packages block wine's i386 ones; setting them to the" \
         "i386 versions: ${align[*]}"
    # shellcheck disable=SC2086
    apt_install --allow-downgrades $unit "${align[@]}" && return 0
  done
  return 1
}

# Mend 3: qemu-user-static registered for 32-bit x86 programs when the kernel cannot run them.
can_run_32bit() {
  [[ ! -e $LOADER32 ]] || timeout 60 "$LOADER32" --help >/dev/null 2>&1
}

emulate_32bit() {
  can_run_32bit && return 0
  echo "install-deps: this kernel cannot run 32-bit x86 programs; running them under qemu-user-static"
  unit_installed qemu-user-static || apt_install qemu-user-static || return 1
  if [[ ! -e $BINFMT_DIR/register ]]; then
    "${SUDO[@]}" mount -t binfmt_misc binfmt_misc "$BINFMT_DIR" || return 1
  fi
  if [[ ! -e $BINFMT_DIR/qemu-i386 ]]; then
    # ELF, 32-bit, little-endian, executable or shared object, machine 386; F: the emulator
    # is opened now, so it serves in every mount namespace and chroot.
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$QEMU_I386"':F' |
      "${SUDO[@]}" tee "$BINFMT_DIR/register" >/dev/null || return 1
  fi
  can_run_32bit
}

SOURCE_CACHE=${QOR3_SOURCE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/qor3/src}
LIBDEFLATE_SOURCE=$SOURCE_CACHE/libdeflate

# The source package of libdeflate for the Windows builds, unpacked once: true when it is there.
fetch_libdeflate_source() {
  [[ -f $LIBDEFLATE_SOURCE/libdeflate.h ]] && return 0
  echo "install-deps: fetching libdeflate's Debian source package for the Windows builds"
  local work uri suite
  work=$(mktemp -d) || return 1
  # The mirror and release of the system's own Debian sources (deb822 or one-line form).
  uri=$(sed -n 's/^URIs: *\([^ ]*\).*/\1/p' /etc/apt/sources.list.d/*.sources 2>/dev/null | head -1)
  suite=$(sed -n 's/^Suites: *\([^ ]*\).*/\1/p' /etc/apt/sources.list.d/*.sources 2>/dev/null | head -1)
  [[ -n $uri ]] || uri=http://deb.debian.org/debian
  [[ -n $suite ]] || suite=bookworm
  mkdir -p "$work/lists/partial" && chmod -R a+rX "$work"
  echo "deb-src $uri $suite main" > "$work/sources.list"
  local apt=(apt-get -q -o Dir::Etc::SourceList="$work/sources.list" -o Dir::Etc::SourceParts=/dev/null
             -o Dir::State::Lists="$work/lists" -o APT::Sandbox::User=root)
  if (cd "$work" && "${apt[@]}" update >/dev/null && "${apt[@]}" source --download-only libdeflate >/dev/null) &&
     mkdir -p "$SOURCE_CACHE" && rm -rf "$LIBDEFLATE_SOURCE.new" && mkdir "$LIBDEFLATE_SOURCE.new" &&
     tar -xzf "$work"/libdeflate_*.orig.tar.gz -C "$LIBDEFLATE_SOURCE.new" --strip-components=1 &&
     rm -rf "$LIBDEFLATE_SOURCE" && mv "$LIBDEFLATE_SOURCE.new" "$LIBDEFLATE_SOURCE"; then
    rm -rf "$work"
    echo "install-deps: libdeflate source in $LIBDEFLATE_SOURCE"
    return 0
  fi
  rm -rf "$work" "$LIBDEFLATE_SOURCE.new"
  return 1
}

declare -A TODO=()
any=0
for group in "${selected[@]}"; do
  TODO[$group]=$(missing_units "$group")
  [[ -n ${TODO[$group]} ]] && any=1
done
wants_wine=0
[[ " ${selected[*]} " == *" wine "* ]] && wants_wine=1
wants_cross=0
[[ " ${selected[*]} " == *" cross "* ]] && wants_cross=1
if [[ $wants_cross -eq 1 ]] && ! fetch_libdeflate_source; then
  echo "install-deps: MISSING for the Windows builds: libdeflate's source (they inflate with zlib)"
fi
if [[ $any -eq 0 ]] && { [[ $wants_wine -eq 0 ]] || can_run_32bit; }; then
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
  update_log=$("${SUDO[@]}" apt-get update -q 2>&1)
  rc=$?
  printf '%s\n' "$update_log"
  if [[ $wants_wine -eq 1 ]] &&
     grep -qE 'Failed to fetch [^ ]*security[^ ]*/binary-i386/' <<<"$update_log"; then
    pin_security_below_main
  fi
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
      unit_installed "$unit" || apt_install $unit ||
        { [[ $unit == *:i386* ]] && install_with_aligned_twins "$unit"; } ||
        echo "install-deps: cannot install: $unit"
    done <<<"$todo"
  fi
done

if [[ $wants_wine -eq 1 ]] && ! emulate_32bit; then
  echo "install-deps: MISSING for the 32-bit Windows tests: a way to run 32-bit x86 programs"
  lacking32=1
fi

status=0
lacking=()
[[ ${lacking32:-0} -eq 1 ]] && lacking+=(wine32-emulation)
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
