#!/bin/sh
# Runs the corridor example in SUMO: junction JW under ../west.rvc, junction JE under ../east.rvc,
# one ruvalda-cli per junction against the one bridge:
#   run.sh [SECONDS] [PATH/TO/ruvalda-cli]
# builds the network from its sources when they changed, starts the bridge (which starts SUMO
# and listens for one controller per junction) and connects the controllers to it. Outputs go
# to out/ beside this script; the summary is printed and written to out/summary.json, the
# controllers' output to out/west.log and out/east.log.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
exec sh "$root/tools/sumo-bridge/run_example.sh" "$here" corridor "${1:-3600}" \
    "${2:-$root/build/release/ruvalda-cli}" JW:../west.rvc:west JE:../east.rvc:east
