#!/usr/bin/env bash
# Configures and builds the Linux tree: the plugin, the test host, the fixtures, tests and tools.
#   scripts/build.sh [build-dir] [extra cmake arguments...]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# ccache: paths inside the checkout hash as relative ones, so another clone of the project (CI's)
# reuses what this one compiled.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$root}" CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"
build="${1:-$root/build}"
shift || true

launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${PENDULUM_BUILD_TYPE:-Debug}" "${launcher[@]}" "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
