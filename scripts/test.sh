#!/usr/bin/env bash
# Installs everything, builds, and runs every test. This is the README's test command and what
# CI runs: the Linux build and tests, the sanitizer lanes, the state-document fuzzer, then the Windows x64 lane (MinGW-w64 cross build, tests
# under Wine), then the release downloads.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$root/build"

# GUI tests open real windows: everything runs inside one virtual X display, one test at a time
# (windows of two test processes on one display would take focus from each other).
xvfb-run -a -s "-screen 0 1280x1024x24" \
    ctest --test-dir "$root/build" --output-on-failure --no-tests=error

# The container's unit tests under AddressSanitizer + UndefinedBehaviorSanitizer and, for the
# threading tests, ThreadSanitizer; each lane also shows its checker catching a planted fault.
"$root/scripts/sanitize.sh" all

# State documents, damaged and hostile, fuzzed for a bounded time (clang, libFuzzer, ASan, UBSan).
"$root/scripts/fuzz.sh" "${PENDULUM_FUZZ_SECONDS:-60}"

# The Windows lane: PluginPendulum.dll, the fixtures and the tests, cross-built and run under Wine.
"$root/scripts/test-windows.sh"

# The release downloads as scripts/release.sh makes them (a Linux Release build of the plugin; the
# Windows zip takes the DLL the lane just tested), unpacked and loaded by the raw hosts of the two
# test trees, their version names checked against the project's version.
PENDULUM_RELEASE_WINDOWS_BUILD="$root/build-win" "$root/scripts/release.sh" --no-deps --out "$root/build/release"
"$root/scripts/check-release.sh" "$root/build/release" "$root/build" "$root/build-win"
