#!/usr/bin/env bash
# Builds the state-document fuzz target with clang (libFuzzer, ASan and UBSan) in build-fuzz/ and
# runs it for a bounded time, seeded with real documents that name the fixture plugins.
#
#   scripts/fuzz.sh [seconds]     (default 60)
#
# Exits non-zero when the fuzzer finds a crash, a leak, a hang (an input taking over 20 s) or a
# container that cannot save a readable document or play a block afterwards.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# ccache: paths inside the checkout hash as relative ones, so another clone of the project (CI's)
# reuses what this one compiled.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$root}" CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"
seconds="${1:-60}"
build="$root/build-fuzz"

launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPENDULUM_FUZZ=ON "${launcher[@]}" >/dev/null
cmake --build "$build" --target state_fuzzer -j"$(nproc)" | grep -E "error|warning|FAILED" || true
test -x "$build/tests/fuzz/state_fuzzer"
# Documents that ask for separate processes start their slots in the helper built with the target.
helper="$(find "$build" -type f -name pendulum-slot-host -perm -u+x | head -n 1)"
test -n "$helper"
export PENDULUM_SLOT_HOST="$helper"

corpus="$build/corpus"
rm -rf "$corpus"
mkdir -p "$corpus"
for seed in "$root"/tests/fuzz/seeds/*.xml; do
    sed -e "s|@FIXTURES@|$build/fixtures|g" -e "s|@SUFFIX@|.so|g" "$seed" >"$corpus/$(basename "$seed")"
done

# The loader's diagnostics go to standard output; libFuzzer reports on standard error.
run=(xvfb-run -a "$build/tests/fuzz/state_fuzzer" "$corpus" -max_total_time="$seconds" -timeout=20
     -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$build/")
[ -n "${DISPLAY:-}" ] && run=("${run[@]:2}")
"${run[@]}" >/dev/null 2>"$build/fuzz.log" || { tail -n 60 "$build/fuzz.log"; exit 1; }
grep -E "stat::number_of_executed_units|stat::peak_rss_mb|Done" "$build/fuzz.log" || true
