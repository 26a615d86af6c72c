#!/bin/sh
# Runs the avenue example in SUMO under the control of avenue.rvc:
#   run.sh [SECONDS] [PATH/TO/ruvalda-cli]
# builds the network from its sources when they changed, starts the bridge (which starts SUMO
# and listens for the controller) and connects ruvalda-cli to it. Outputs go to out/ beside this
# script; the summary is printed and written to out/summary.json.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
exec sh "$root/tools/sumo-bridge/run_example.sh" "$here" avenue "${1:-3600}" \
    "${2:-$root/build/release/ruvalda-cli}" C:../avenue.rvc:controller
