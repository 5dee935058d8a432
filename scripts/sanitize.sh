#!/usr/bin/env bash
# The sanitizer lanes: the container's unit tests and the checker canaries, built with
# AddressSanitizer + UndefinedBehaviorSanitizer in build-asan/ and with ThreadSanitizer in
# build-tsan/ (only those targets and the fixture plugins they load). RealtimeSanitizer runs in the
# plain Linux tree (tests realtime.* and checker.RealtimeSanitizer*, see tests/sanitizers) and, in
# the rtsan lane, in the Release tree build-release/ as well (the one scripts/bench.sh uses).
#
#   scripts/sanitize.sh [asan|tsan|rtsan|all]      (default all)
#
# Each lane: the tests that matter for its checker, then the canary that must be caught by it.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# ccache: paths inside the checkout hash as relative ones, so another clone of the project (CI's)
# reuses what this one compiled.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$root}" CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"
which="${1:-all}"

launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)

# GUI tests open real windows: one virtual display for the lane.
display=(xvfb-run -a -s "-screen 0 1280x1024x24")
[ -n "${DISPLAY:-}" ] && display=()

build_lane() { # <dir> <cmake option>
    cmake -S "$root" -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=Debug "-D$2=ON" "${launcher[@]}" >/dev/null
    if ! cmake --build "$1" --target container_tests sanitizer_canary -j"$(nproc)" >"$1/build.log" 2>&1; then
        grep -E -A8 "error|FAILED" "$1/build.log" | head -n 80
        exit 1
    fi
    grep -E "warning:" "$1/build.log" || true
}

run_lane() { # <name> <dir> <gtest filter>
    local start=$SECONDS
    "${display[@]}" "$2/tests/unit/container_tests" --gtest_filter="$3" --gtest_brief=1 >"$2/tests.log" 2>&1 ||
        { tail -n 80 "$2/tests.log"; echo "== [$1] tests failed; full log: $2/tests.log"; exit 1; }
    grep -oE "\[  PASSED  \].*|[0-9]+ tests? from .* ran.*" "$2/tests.log" | sed "s/^/== [$1] /"
    ctest --test-dir "$2" -L checker --output-on-failure --no-tests=error | grep -E "tests passed|Failed|\*\*\*" | sed "s/^/== [$1] /"
    echo "== [$1] tests and canary: $((SECONDS - start)) s"
}

if [ "$which" = asan ] || [ "$which" = all ]; then
    start=$SECONDS
    build_lane "$root/build-asan" PENDULUM_ASAN
    echo "== [asan] build: $((SECONDS - start)) s"
    # Leak checking is on: a container, its hosted plugins, editors and windows must leave nothing behind.
    ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1" \
    UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
        run_lane asan "$root/build-asan" "${PENDULUM_ASAN_FILTER:-*}"
fi

# The tests in which several threads meet: host threads, the audio thread, the watchdog's timer,
# log lines, restores and panel refreshes handed to the message thread, and the hosted editors'
# windows (whose plugins draw from display threads of their own).
tsan_tests="HostThread*:ThreadingStress*:Realtime.AnAutomaticSwitch*:RealtimeBlocking.*:CrashWatch.TheTimer*"
tsan_tests+=":Panel.RefreshFromAnotherThread*:EditorWindows.*:EditorRects/*"
tsan_tests+=":Console.LinesFromAnotherThread*:Routing.PrepareAndRelease*"
tsan_tests+=":StateDocument.ARestoreFromAnotherThread*:StateDocument.TheLatestDocumentWins"
tsan_tests+=":Failover.ARecoveredActivePlugin*:FailoverLifetime.*:Failover.WhatAPlugin*"
# Slots in helper processes: the audio thread, the helpers' watchers and the message thread meet
# there, and the helper (built with the same sanitizer) runs its own threads.
tsan_tests+=":IsolatedSlots.*:EveryFault/*"
# Editors of plugins in helpers: the helper's window and message thread, the container's poll.
tsan_tests+=":IsolatedEditorWindows.*"
# Offline rendering: the rendering thread asks the crash query and switches while the watchdog ticks.
tsan_tests+=":OfflineRender.*:IsolatedOfflineRender.*"
# The crash-loop guard: saves from a host thread, helpers dying on their audio thread.
tsan_tests+=":CrashLoops.*:IsolatedCrashLoop.*"
# Loads, reloads and restores into the active slot while a host thread plays.
tsan_tests+=":HeldNotesWithFixtures.LoadsIntoTheActiveSlot*"

if [ "$which" = tsan ] || [ "$which" = all ]; then
    start=$SECONDS
    build_lane "$root/build-tsan" PENDULUM_TSAN
    echo "== [tsan] build: $((SECONDS - start)) s"
    TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$root/tests/sanitizers/tsan.supp" \
        run_lane tsan "$root/build-tsan" "${PENDULUM_TSAN_FILTER:-$tsan_tests}"
fi

# RealtimeSanitizer over an optimised build: the realtime tests (the container's processBlock with
# in-process instruments and with real VST2 fixtures, automated in every block) and the canary. Only
# those two targets and their fixtures are built, in the Release tree the benchmarks share.
if [ "$which" = rtsan ] || [ "$which" = all ]; then
    start=$SECONDS
    rel="$root/build-release"
    mkdir -p "$rel"
    cmake -S "$root" -B "$rel" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPENDULUM_BUILD_TESTS=ON "${launcher[@]}" >/dev/null
    if ! cmake --build "$rel" --target realtime_tests sanitizer_canary -j"$(nproc)" >"$rel/rtsan-build.log" 2>&1; then
        grep -E -A8 "error|FAILED" "$rel/rtsan-build.log" | head -n 80
        exit 1
    fi
    grep -E "warning:" "$rel/rtsan-build.log" || true
    echo "== [rtsan] build: $((SECONDS - start)) s"
    start=$SECONDS
    "${display[@]}" ctest --test-dir "$rel" -R '^(realtime\.|checker\.RealtimeSanitizer)' --output-on-failure \
        --no-tests=error >"$rel/rtsan-tests.log" 2>&1 ||
        { tail -n 80 "$rel/rtsan-tests.log"; echo "== [rtsan] tests failed; full log: $rel/rtsan-tests.log"; exit 1; }
    grep -E "tests passed" "$rel/rtsan-tests.log" | sed "s/^/== [rtsan] /"
    echo "== [rtsan] tests and canary (Release): $((SECONDS - start)) s"
fi
