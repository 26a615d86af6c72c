#!/bin/sh
# Runs an example on its SUMO network under ruvalda-cli controllers; the examples' run.sh call it.
#   run_example.sh DIR STEM SECONDS CLI TLS:CONTROL.rvc:LOG...
# In DIR: builds STEM.net.xml from STEM.nod/edg/con.xml when a source is newer, makes
# STEM.rou.xml with make_routes.py when it is missing, starts the bridge on bridge.json (which
# starts SUMO and listens for one controller per traffic light) and connects one ruvalda-cli per
# TLS to it, CONTROL.rvc relative to DIR, its output to out/LOG.log. The summary is printed and
# written to out/summary.json.
set -eu
here=$1
stem=$2
seconds=$3
cli=$4
shift 4
root=$(cd "$(dirname "$0")/../.." && pwd)
[ -x "$cli" ] || { echo "run.sh: no ruvalda-cli at $cli (give its path as second argument)" >&2; exit 1; }

cd "$here"
# rebuild the network when a source is newer than it
for src in "$stem.nod.xml" "$stem.edg.xml" "$stem.con.xml"; do
    [ "$stem.net.xml" -nt "$src" ] || rm -f "$stem.net.xml"
done
mkdir -p out
if [ ! -f "$stem.net.xml" ]; then
    netconvert --node-files "$stem.nod.xml" --edge-files "$stem.edg.xml" \
        --connection-files "$stem.con.xml" --no-turnarounds true --tls.default-type static \
        --output-file "$stem.net.xml" >out/netconvert.log 2>&1 ||
        { cat out/netconvert.log >&2; exit 1; }
fi
[ -f "$stem.rou.xml" ] || python3 make_routes.py
rm -f out/ports
python3 "$root/tools/sumo-bridge/sumo_bridge.py" bridge.json --end "$seconds" \
    --summary out/summary.json --ports-file out/ports &
bridge=$!
while [ ! -s out/ports ]; do
    kill -0 $bridge 2>/dev/null || { wait $bridge; exit 1; }
    sleep 0.1
done
for controller in "$@"; do
    tls=${controller%%:*}
    rest=${controller#*:}
    control=${rest%%:*}
    log=${rest#*:}
    port=$(awk -v tls="$tls" '$1 == tls { print $2 }' out/ports)
    "$cli" sumo "$control" "sumo://127.0.0.1:$port" >"out/$log.log" 2>&1 &
done
wait $bridge
