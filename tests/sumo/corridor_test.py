#!/usr/bin/env python3
"""Real SUMO, the bridge and two ruvalda-cli processes on the corridor example: junction JW under
examples/corridor/west.rvc, junction JE under examples/corridor/east.rvc, one controller per
junction against the one bridge.

    corridor_test.py PATH/TO/ruvalda-cli SOURCE_DIR

Exit 0 when everything holds, 1 on a failure, 77 (skipped) when SUMO is not installed.
"""
import json
import os
import re
import subprocess
import sys

from sumo_support import (build_net, check, check_clean_summary, failures, monitor_lines,
                          run_bridge_with_controllers, run_checks, SKIPPED, sumo_missing)

SIM_SECONDS = 200
# junction -> (control program, first digit of its loop numbers, its side arms, edge prefix)
JUNCTIONS = {"JW": ("west", "1", ("wn_in", "ws_in"), "w"),
             "JE": ("east", "2", ("en_in", "es_in"), "e")}
THROUGH = ("ww_ee", "ee_ww")  # route ids of the traffic along the whole corridor






def run(cli, src, tmp):
    ex = os.path.join(src, "examples", "corridor")
    sx = os.path.join(ex, "sumo")
    net = os.path.join(tmp, "corridor.net.xml")
    # the network is built from its sources and the demand generated, as run.sh does
    build_net(sx, "corridor", net)
    routes = os.path.join(tmp, "corridor.rou.xml")
    subprocess.run([sys.executable, os.path.join(sx, "make_routes.py"), "--out", routes], check=True)
    sumocfg = os.path.join(tmp, "corridor.sumocfg")
    with open(sumocfg, "w") as f:
        f.write(f"""<configuration>
    <input>
        <net-file value="{net}"/>
        <route-files value="{routes}"/>
        <additional-files value="{os.path.join(sx, 'corridor.det.xml')}"/>
    </input>
    <time><begin value="0"/><end value="3600"/></time>
</configuration>
""")
    cfg = os.path.join(tmp, "bridge.json")
    with open(cfg, "w") as f:
        json.dump({"sumocfg": sumocfg, "step_length": 0.1, "seed": 42,
                   "outputs": os.path.join(tmp, "out"),
                   "junctions": [{"tls": tls, "port": 0,
                                  "mapping": os.path.join(sx, name + ".map.json")}
                                 for tls, (name, _, _, _) in JUNCTIONS.items()]}, f)
    programs = {tls: os.path.join(ex, name + ".rvc") for tls, (name, _, _, _) in JUNCTIONS.items()}
    results = run_bridge_with_controllers(cli, src, cfg, programs, SIM_SECONDS, tmp)
    if results is None:
        return
    for tls, (rc, text) in results.items():
        name, digit, _, _ = JUNCTIONS[tls]
        check(rc == 0, f"{tls}: ruvalda-cli {name}.rvc ends when the bridge closes (exit {rc})")
        monitor = monitor_lines(text)
        check(monitor == ["Conflict monitor: 0 violations."], f"{tls}: the conflict monitor is clean {monitor}")
        # each controller hears only the loops of its own junction
        numbers = set(re.findall(r"Made detector (\d+) ->", text))
        check(numbers and all(n.startswith(digit) and len(n) == 4 for n in numbers),
              f"{tls}: detectors {digit}xxx only ({sorted(numbers)})")

    # the bridge's counts cover both junctions, so zero holds for each of them
    s = check_clean_summary(os.path.join(tmp, "summary.json"), SIM_SECONDS * 10, " at any junction")
    if s is None:
        return
    col = open(os.path.join(tmp, "out", "collisions.xml")).read()
    for tls, (_, _, sides, prefix) in JUNCTIONS.items():
        lanes = re.findall(r'lane="([^"]*)"', col)
        mine = [lane for lane in lanes if lane.startswith(":" + tls + "_") or lane.startswith(prefix)]
        check(not mine, f"{tls}: no collision in SUMO's collision output ({len(mine)})")
        for approach in sides:
            n = s["arrivals_per_approach"].get(approach, 0)
            check(n > 0, f"{tls}: vehicles from the side arm {approach} arrived ({n})")
    # through traffic crosses both junctions: arrivals in both directions
    trips = open(os.path.join(tmp, "out", "tripinfo.xml")).read()
    for rid in THROUGH:
        n = len(re.findall(r'<tripinfo id="' + rid + r'\.', trips))
        check(n > 0, f"through route {rid}: vehicles arrived ({n})")


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 1
    cli, src = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    skip = sumo_missing()
    if skip:
        print(skip)
        return SKIPPED
    return run_checks("ruvalda-corridor-", lambda tmp: run(cli, src, tmp))

if __name__ == "__main__":
    sys.exit(main())
