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
seconds=${1:-3600}
cli=${2:-$root/build/release/ruvalda-cli}
[ -x "$cli" ] || { echo "run.sh: no ruvalda-cli at $cli (give its path as second argument)" >&2; exit 1; }

cd "$here"
# rebuild the network when a source is newer than it
for src in corridor.nod.xml corridor.edg.xml corridor.con.xml; do
    [ corridor.net.xml -nt "$src" ] || rm -f corridor.net.xml
done
mkdir -p out
if [ ! -f corridor.net.xml ]; then
    netconvert --node-files corridor.nod.xml --edge-files corridor.edg.xml \
        --connection-files corridor.con.xml --no-turnarounds true --tls.default-type static \
        --output-file corridor.net.xml >out/netconvert.log 2>&1 ||
        { cat out/netconvert.log >&2; exit 1; }
fi
[ -f corridor.rou.xml ] || python3 make_routes.py
rm -f out/ports
python3 "$root/tools/sumo-bridge/sumo_bridge.py" bridge.json --end "$seconds" \
    --summary out/summary.json --ports-file out/ports &
bridge=$!
while [ ! -s out/ports ]; do
    kill -0 $bridge 2>/dev/null || { wait $bridge; exit 1; }
    sleep 0.1
done
for junction in JW:west JE:east; do
    tls=${junction%%:*}
    name=${junction#*:}
    port=$(awk -v tls="$tls" '$1 == tls { print $2 }' out/ports)
    "$cli" sumo "../$name.rvc" "sumo://127.0.0.1:$port" >"out/$name.log" 2>&1 &
done
wait $bridge
