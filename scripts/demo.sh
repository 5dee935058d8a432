#!/usr/bin/env bash
# Installs everything, builds, and runs the main job: PluginPendulum loaded by our raw VST2 host
# as a DAW loads it, playing in real time while the instrument in charge crashes and the other slot
# takes over. Writes its WAV, picture and logs into demo-output/.
#
#   scripts/demo.sh [demo options] [INSTRUMENT0 INSTRUMENT1]   (see pendulum-demo --help)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$root/build"

demo=("$root/build/tools/demo/pendulum-demo" --out "$root/demo-output" "$@")

# The plugin's JUCE code expects a display; without one, a virtual one.
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "${demo[@]}"
fi
exec "${demo[@]}"
