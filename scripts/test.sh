#!/usr/bin/env bash
# Builds and tests everything: native build and ctest, Windows cross build, the test exe under wine,
# one session under valgrind, the test suite with sanitizers, the threads tests under
# ThreadSanitizer and a short run of every fuzz target.
#
# Usage: scripts/test.sh [--native-only]
#   --native-only  skip the cross build and the wine run (quick local check)
# Build trees: build/ (native), build-win32/ (cross, with its own wine prefix inside),
# build-asan/ (address and undefined-behaviour sanitizers), build-tsan/ (thread sanitizer) and
# build-fuzz/ (libFuzzer targets, scripts/fuzz.sh).
# Exits non-zero when any stage fails; later stages that do not depend on a failed one still run.
# When wine cannot be installed from the package index, the wine stages are skipped (and say
# so in the summary); the cross build and the checks of its binaries still run.
set -uo pipefail

NATIVE_ONLY=0
for arg in "$@"; do
  case "$arg" in
    --native-only) NATIVE_ONLY=1 ;;
    -h|--help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "test.sh: unknown argument: $arg" >&2; exit 2 ;;
  esac
done

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
NATIVE_DIR=$ROOT/build
WIN32_DIR=$ROOT/build-win32
JOBS=2

SUMMARY=()
FAILED=0
SKIPPED=0
STAGE_NAME=""
STAGE_START=0

stage_begin() {
  STAGE_NAME=$1
  STAGE_START=$SECONDS
  echo
  echo "==== $STAGE_NAME"
}

# stage_end STATUS [DETAIL]: STATUS is PASS, FAIL or SKIP (DETAIL then says why).
stage_end() {
  local status=$1 detail=${2:-}
  local line
  if [[ $status == SKIP ]]; then
    line=$(printf '%-4s %-22s %4ss  SKIPPED: %s' "$status" "$STAGE_NAME" \
           $((SECONDS - STAGE_START)) "$detail")
    SKIPPED=$((SKIPPED + 1))
  else
    line=$(printf '%-4s %-22s %4ss%s' "$status" "$STAGE_NAME" $((SECONDS - STAGE_START)) \
           "${detail:+  ($detail)}")
  fi
  echo "==== $line"
  SUMMARY+=("$line")
  [[ $status == FAIL ]] && FAILED=1
  return 0
}

finish() {
  echo
  echo "==== summary"
  local line
  for line in "${SUMMARY[@]}"; do echo "  $line"; done
  if [[ $FAILED -ne 0 ]]; then
    echo "==== test.sh: FAILED"
    exit 1
  fi
  if [[ $SKIPPED -ne 0 ]]; then
    echo "==== test.sh: every stage that ran passed ($SKIPPED skipped, see above)"
  else
    echo "==== test.sh: all stages passed"
  fi
  exit 0
}

# ---- dependencies: whatever the package index can give; only a native build that lacks
# something stops the run
stage_begin "install-deps"
DEPS_ARGS=()
[[ $NATIVE_ONLY -eq 1 ]] && DEPS_ARGS=(--no-windows)
if bash "$ROOT/scripts/install-deps.sh" "${DEPS_ARGS[@]}"; then
  stage_end PASS
else
  stage_end FAIL
  finish
fi

# wine runs the 32-bit test programs only with its 32-bit half (wine32:i386 on Debian).
WINE_MISSING="wine unavailable from the package index"
WINE_OK=0
if command -v wine >/dev/null 2>&1 &&
   { ! command -v dpkg-query >/dev/null 2>&1 ||
     [[ $(dpkg-query -W -f='${db:Status-Status}' wine32:i386 2>/dev/null) == installed ]]; }; then
  WINE_OK=1
fi

# ---- install-deps.sh on a simulated machine whose package index fails and whose wine cannot
# be installed (stubs of apt-get and dpkg in PATH)
stage_begin "install-deps simulated"
if python3 "$ROOT/tests/scripts/install_deps_test.py"; then
  stage_end PASS
else
  stage_end FAIL
fi

# ---- native build
NATIVE_BUILT=0
stage_begin "native build"
if cmake -S "$ROOT" -B "$NATIVE_DIR" -DQOR3_WERROR=ON &&
   cmake --build "$NATIVE_DIR" -j"$JOBS"; then
  NATIVE_BUILT=1
  stage_end PASS "$NATIVE_DIR"
else
  stage_end FAIL
fi

# ---- cross build
WIN32_BUILT=0
if [[ $NATIVE_ONLY -eq 0 ]]; then
  stage_begin "win32 build"
  if cmake -S "$ROOT" -B "$WIN32_DIR" \
       -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/i686-w64-mingw32.cmake" -DQOR3_WERROR=ON &&
     cmake --build "$WIN32_DIR" -j"$JOBS"; then
    WIN32_BUILT=1
    stage_end PASS "$WIN32_DIR"
  else
    stage_end FAIL
  fi
fi

# ---- native tests (also checks the cross-built QOR3.DLL and test exe when they exist; the
# host program under wine is a stage of its own)
stage_begin "native ctest"
if [[ $NATIVE_BUILT -eq 0 ]]; then
  stage_end SKIP "native build failed"
elif ctest --test-dir "$NATIVE_DIR" --output-on-failure -j"$JOBS" -LE wine; then
  stage_end PASS
else
  stage_end FAIL
fi

# ---- the cross-built tests under wine
if [[ $NATIVE_ONLY -eq 0 ]]; then
  stage_begin "win32 tests (wine)"
  TEST_EXE=$WIN32_DIR/tests/qor3_tests.exe
  if [[ $WINE_OK -eq 0 ]]; then
    stage_end SKIP "$WINE_MISSING"
  elif [[ $WIN32_BUILT -eq 0 ]]; then
    stage_end SKIP "win32 build failed"
  elif [[ ! -f $TEST_EXE ]]; then
    echo "missing $TEST_EXE"
    stage_end FAIL "no test exe"
  else
    # A private 32-bit prefix in the build tree, no display, no Mono/Gecko install prompts.
    export WINEPREFIX=$WIN32_DIR/wineprefix
    export WINEARCH=win32
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    unset DISPLAY WAYLAND_DISPLAY
    wine_ok=1
    if [[ ! -f $WINEPREFIX/system.reg ]]; then
      echo "creating wine prefix $WINEPREFIX"
      mkdir -p "$WINEPREFIX"
      if ! wineboot -i </dev/null >/dev/null 2>&1 || ! wineserver -w; then
        echo "wineboot failed"
        wine_ok=0
      fi
    fi
    if [[ $wine_ok -eq 1 ]]; then
      # Through a pipe: wine's console then writes plain text; msvcrt's CRs are dropped.
      # The tests that read the sample set read the native build's.
      (cd "$WIN32_DIR/tests" && QOR3_SAMPLE_DIR="Z:$NATIVE_DIR/sample" \
         wine "$TEST_EXE" --gtest_color=no </dev/null 2>&1) | tr -d '\r'
      rc=${PIPESTATUS[0]}
      wineserver -k >/dev/null 2>&1 || true
      if [[ $rc -eq 0 ]]; then
        stage_end PASS
      else
        stage_end FAIL "exit $rc"
      fi
    else
      wineserver -k >/dev/null 2>&1 || true
      stage_end FAIL "no wine prefix"
    fi
  fi
fi

# ---- the host program on QOR3.DLL under wine (loaded and linked), its answers held byte for
# byte to those of the same program on the native library
if [[ $NATIVE_ONLY -eq 0 ]]; then
  stage_begin "win32 host (wine)"
  if [[ $WINE_OK -eq 0 ]]; then
    stage_end SKIP "$WINE_MISSING"
  elif [[ $NATIVE_BUILT -eq 0 || $WIN32_BUILT -eq 0 ]]; then
    stage_end SKIP "a build failed"
  else
    python3 "$ROOT/windows/host/run_host.py" --mkdict "$NATIVE_DIR/tools/qor-mkdict" \
      --data "$ROOT/windows/host/data" --native-host "$NATIVE_DIR/windows/host/qor3_host" \
      --native-library "$NATIVE_DIR/libqor3.so" --win32-dir "$WIN32_DIR" \
      --windows-tests "$WIN32_DIR/tests/qor3_tests.exe" \
      --work-dir "$NATIVE_DIR/windows/host/stage" </dev/null 2>&1 | tr -d '\r'
    rc=${PIPESTATUS[0]}
    WINEPREFIX=$WIN32_DIR/wineprefix wineserver -k >/dev/null 2>&1 || true
    if [[ $rc -eq 0 ]]; then
      stage_end PASS
    else
      stage_end FAIL "exit $rc"
    fi
  fi
fi

# ---- one host session under valgrind: no invalid access, nothing left allocated
stage_begin "valgrind memcheck"
if [[ $NATIVE_BUILT -eq 0 ]]; then
  stage_end SKIP "native build failed"
elif valgrind --quiet --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect \
       "$NATIVE_DIR/tests/qor3_tests" --gtest_filter='Session.*' --gtest_color=no; then
  stage_end PASS
else
  stage_end FAIL
fi

# ---- the whole native test suite under AddressSanitizer and UndefinedBehaviorSanitizer
ASAN_DIR=$ROOT/build-asan
# Not here: the checks of the cross build, the Python tests that load libqor3.so into an
# uninstrumented interpreter (the sanitizer runtime must come first in a process), and the
# programs built against an installed prefix (they link no sanitizer runtime).
ASAN_EXCLUDE='^(win32_.*|gen_sample_deterministic_and_valid|python_package|install_and_embed)$'
stage_begin "sanitizer tests"
if cmake -S "$ROOT" -B "$ASAN_DIR" -DQOR3_WERROR=ON -DQOR3_SANITIZE=ON &&
   cmake --build "$ASAN_DIR" -j"$JOBS" &&
   ctest --test-dir "$ASAN_DIR" --output-on-failure -j"$JOBS" -E "$ASAN_EXCLUDE"; then
  stage_end PASS "$ASAN_DIR"
else
  stage_end FAIL
fi

# ---- host threads on one engine under ThreadSanitizer: searches in parallel with each other
# and with opens, copies and files changing under the open set
TSAN_DIR=$ROOT/build-tsan
stage_begin "thread sanitizer"
if cmake -S "$ROOT" -B "$TSAN_DIR" -DQOR3_WERROR=ON -DQOR3_SANITIZE_THREAD=ON -DQOR3_TOOLS=OFF &&
   cmake --build "$TSAN_DIR" -j"$JOBS" --target qor3_tests &&
   TSAN_OPTIONS=halt_on_error=1 "$TSAN_DIR/tests/qor3_tests" \
     --gtest_filter='ThreadsTest.*:ChangingFilesTest.*' --gtest_color=no; then
  stage_end PASS "$TSAN_DIR"
else
  stage_end FAIL
fi

# ---- every fuzz target for a short time (QOR3_FUZZ_SECONDS each, default 30)
stage_begin "fuzz smoke"
if QOR3_FUZZ_BUILD=$ROOT/build-fuzz bash "$ROOT/scripts/fuzz.sh" "${QOR3_FUZZ_SECONDS:-30}"; then
  stage_end PASS "$ROOT/build-fuzz"
else
  stage_end FAIL
fi

finish
