#!/usr/bin/env bash
# The main job: builds ruvalda-cli if needed and runs a control program on its own clock,
# printing the message pane. Without arguments it runs the shipped example junction for two
# minutes with its recorded traffic; otherwise the arguments go to "ruvalda-cli run".
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DRUVALDA_WERROR=ON \
      -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc >/dev/null
cmake --build build/release -j "${JOBS:-2}" --target ruvalda-cli >/dev/null
if [ $# -eq 0 ]; then
    set -- examples/crossing/crossing.rvc --seconds 120 \
        --detectors examples/crossing/rush-hour.txt --monitor --timeline build/crossing-timeline.svg
fi
case "$1" in
    check|run|replay|--help|-h) exec build/release/ruvalda-cli "$@" ;;
    *) exec build/release/ruvalda-cli run "$@" ;;
esac
