#!/usr/bin/env bash
# Windows x64 lane: cross-builds the project with MinGW-w64 into build-win/ and runs its tests
# through CTest under Wine (window tests on an Xvfb display).
#
#   scripts/test-windows.sh [--no-deps] [extra ctest arguments...]
#
#   BUILD_DIR           build folder (default: <repo>/build-win)
#   BUILD_TYPE          Release (default) or RelWithDebInfo
#   PENDULUM_CTEST_JOBS parallel tests (default: 1)
#   PENDULUM_CTEST_TIMEOUT  seconds per test (default: 120; a test stuck in a dialog ends there)
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# ccache: paths inside the checkout hash as relative ones, so another clone of the project (CI's)
# reuses what this one compiled.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$repo}" CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"
build="${BUILD_DIR:-$repo/build-win}"
build_type="${BUILD_TYPE:-Release}"
juce_dir="${JUCE_DIR:-/usr/lib/x86_64-linux-gnu/cmake/JUCE-7.0.5}"

install_deps=1
if [ "${1:-}" = "--no-deps" ]; then install_deps=0; shift; fi

start=$SECONDS
phase() { echo "== [windows] $* ($((SECONDS - start)) s)"; }

if [ $install_deps = 1 ]; then
  phase "dependencies"
  bash "$repo/scripts/windows/install-deps.sh" >/dev/null
fi

# Wine: a private prefix inside the build folder, quiet, no .NET/Gecko installers.
export WINEPREFIX="$build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

phase "configure"
mkdir -p "$build"
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$repo" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchains/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE="$build_type" \
  -DJUCE_DIR="$juce_dir" \
  -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST \
  "${launcher[@]}" >"$build/configure.log" 2>&1 || { cat "$build/configure.log"; exit 1; }

phase "build"
if ! cmake --build "$build" >"$build/build.log" 2>&1; then
  grep -E -A8 'error|FAILED' "$build/build.log" | head -n 150
  echo "== [windows] build failed; full log: $build/build.log"
  exit 1
fi

# The first Wine start creates the prefix; do it headless, and let that wineserver (and its
# display-less desktop) go away before the Xvfb run.
# Windows are made unmanaged: Xvfb has no window manager, and Wine otherwise waits 2 s for one at
# every window it shows or hides.
phase "wine prefix"
prefix_stamp="$WINEPREFIX/.pendulum-prefix-1"
if [ ! -f "$prefix_stamp" ]; then
  wineboot -i >/dev/null 2>&1 || true
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  wineserver -w
  touch "$prefix_stamp"
fi
wineserver -w

# One persistent wineserver for the whole run: each test is its own process, and starting Wine's
# services afresh for every one of them costs seconds.
phase "tests"
status=0
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  wineserver -p
  wine cmd /c exit 0 >/dev/null 2>&1
  # A test is run a second time only when its first run fails: under Wine a test process now and
  # then dies before it starts (no output, 0 s). A test that really fails fails both times.
  ctest --test-dir "$1" --output-on-failure --no-tests=error --timeout "${PENDULUM_CTEST_TIMEOUT:-120}" \
        --repeat until-pass:2 -j "${PENDULUM_CTEST_JOBS:-1}" "${@:2}"
  rc=$?
  wineserver -k || true
  exit $rc
' _ "$build" "$@" || status=$?

phase "done (exit $status)"
exit $status
