#!/usr/bin/env bash
# Builds a Release tree and runs the benchmarks; prints the ratios measured in that one run.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/install-deps.sh"
PENDULUM_BUILD_TYPE=Release "$root/scripts/build.sh" "$root/build-release" -DPENDULUM_BUILD_TESTS=ON
# In process: the container against direct hosting, repetitions of the two interleaved (as for the
# binary below), so that a busy moment of the machine does not fall on one side only.
"$root/build-release/tools/pendulum-bench" --benchmark_repetitions=9 --benchmark_min_time=0.2 \
    --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true "$@"

# The plugin binary through the raw host: per-block cost against the synth hosted directly, with the
# two interleaved so that both see the same machine; then crashes of the instrument in charge.
"$root/build-release/tools/pendulum-binary-bench" --benchmark_repetitions=9 --benchmark_min_time=0.2 \
    --benchmark_enable_random_interleaving=true \
    --benchmark_report_aggregates_only=true "$@"

# The crash watch and the state document: one watchdog tick over 64 containers, save and restore of
# 1 MiB and 16 MiB plugin states against the framework's own path, and the peak memory of a save.
"$root/build-release/tools/pendulum-state-bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true "$@"
