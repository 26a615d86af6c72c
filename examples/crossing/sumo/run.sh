#!/bin/sh
# Runs the crossing example in SUMO under the control of crossing.rvc:
#   run.sh [SECONDS] [PATH/TO/ruvalda-cli]
# builds the network from its sources when they changed, starts the bridge (which starts SUMO
# and listens for the controller) and connects ruvalda-cli to it. Outputs go to out/ beside this script; the summary
# is printed and written to out/summary.json.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
seconds=${1:-3600}
cli=${2:-$root/build/release/ruvalda-cli}
[ -x "$cli" ] || { echo "run.sh: no ruvalda-cli at $cli (give its path as second argument)" >&2; exit 1; }

cd "$here"
# rebuild the network when a source is newer than it
for src in crossing.nod.xml crossing.edg.xml crossing.con.xml; do
    [ crossing.net.xml -nt "$src" ] || rm -f crossing.net.xml
done
mkdir -p out
if [ ! -f crossing.net.xml ]; then
    netconvert --node-files crossing.nod.xml --edge-files crossing.edg.xml \
        --connection-files crossing.con.xml --no-turnarounds true --tls.default-type static \
        --output-file crossing.net.xml >out/netconvert.log 2>&1 ||
        { cat out/netconvert.log >&2; exit 1; }
fi
[ -f crossing.rou.xml ] || python3 make_routes.py
rm -f out/ports
python3 "$root/tools/sumo-bridge/sumo_bridge.py" bridge.json --end "$seconds" \
    --summary out/summary.json --ports-file out/ports &
bridge=$!
while [ ! -s out/ports ]; do
    kill -0 $bridge 2>/dev/null || { wait $bridge; exit 1; }
    sleep 0.1
done
port=$(awk '$1 == "C" { print $2 }' out/ports)
"$cli" sumo ../crossing.rvc "sumo://127.0.0.1:$port" >out/controller.log 2>&1 &
wait $bridge
