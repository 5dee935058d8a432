#!/usr/bin/env bash
# Renders the control panel as the plugin's editor shows it, with fixture plugins loaded, into
# docs/: empty (panel-empty.png), both slots loaded (panel-loaded.png), and the first slot crashed
# after the container switched to the second (panel-crashed.png: the highlight on the second
# column and the last event's line telling of the failover), and that last one at the host's display
# scale of 200 % (panel-crashed-200.png). The pictures come from the panel tests,
# which paint the real editor and save it when PENDULUM_SCREENSHOT_DIR is set. Then the
# demonstration's picture (demo-failover.png): the failover.png of a default run of the demo.
#   scripts/screenshots.sh [build-dir]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build}"

"$root/scripts/build.sh" "$build" >/dev/null
cmake --build "$build" --target container_tests >/dev/null

run=(env PENDULUM_SCREENSHOT_DIR="$root/docs" "$build/tests/unit/container_tests" --gtest_filter=Panel.Screenshots)
if [ -z "${DISPLAY:-}" ]; then
    run=(xvfb-run -a -s "-screen 0 1280x1024x24" "${run[@]}")
fi
"${run[@]}" >/dev/null

demo=("$build/tools/demo/pendulum-demo" --out "$build/screenshots-demo" --check)
if [ -z "${DISPLAY:-}" ]; then
    demo=(xvfb-run -a -s "-screen 0 1280x1024x24" "${demo[@]}")
fi
"${demo[@]}" | grep '^summary:'
cp "$build/screenshots-demo/failover.png" "$root/docs/demo-failover.png"

for picture in panel-empty panel-loaded panel-crashed demo-failover; do
    test -s "$root/docs/$picture.png" || { echo "$picture.png was not written" >&2; exit 1; }
    echo "docs/$picture.png"
done
