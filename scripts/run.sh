#!/usr/bin/env bash
# The main job. With a display (DISPLAY or WAYLAND_DISPLAY set) it opens the desktop
# application on a control program (the shipped example junction when no file is given),
# ready to run on its own clock. Without a display, or with RUVALDA_HEADLESS=1, it runs the
# program with ruvalda-cli and prints the message pane: without arguments the example junction
# for two minutes with its recorded traffic; otherwise the arguments go to "ruvalda-cli run".
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DRUVALDA_WERROR=ON \
      -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc >/dev/null

if [ "${RUVALDA_HEADLESS:-0}" != 1 ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then
    cmake --build build/release -j "${JOBS:-2}" --target ruvalda >/dev/null
    exec build/release/ruvalda "${1:-examples/crossing/crossing.rvc}"
fi

cmake --build build/release -j "${JOBS:-2}" --target ruvalda-cli >/dev/null
if [ $# -eq 0 ]; then
    set -- examples/crossing/crossing.rvc --seconds 120 \
        --detectors examples/crossing/rush-hour.txt --monitor --timeline build/crossing-timeline.svg
fi
case "$1" in
    check|run|replay|--help|-h) exec build/release/ruvalda-cli "$@" ;;
    *) exec build/release/ruvalda-cli run "$@" ;;
esac
