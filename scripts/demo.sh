#!/usr/bin/env bash
# Installs everything, builds, and runs the main job: PluginPendulum loaded in our raw VST2 host.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$root/build"

"$root/build/tools/pendulum-demo"
