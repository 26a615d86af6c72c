#!/usr/bin/env python3
"""The grid generator (tools/grid/make_grid.py) on a 2 x 2 grid: the same files for the same
seed, programs and mappings that fit the network, 300 s under the bridge with four ruvalda-cli
controllers, the same under ruvalda-sumo (the same tripinfo and summary, byte for byte), and
SUMO alone with its actuated programs.

    grid_test.py PATH/TO/ruvalda-cli SOURCE_DIR [PATH/TO/ruvalda-sumo]

Exit 0 when everything holds, 1 on a failure, 77 (skipped) when SUMO is not installed.
"""
import filecmp
import os
import re
import subprocess
import sys
import xml.etree.ElementTree as ET

from sumo_support import (body, check, check_clean_summary, failures, monitor_lines,
                          run_bridge_with_controllers, run_checks, SKIPPED, SUMO_HOME, sumo_missing)

os.environ.setdefault("SUMO_HOME", SUMO_HOME)
SIM_SECONDS = 300
SEED = "7"


def make_grid(src, *args):
    return subprocess.run([sys.executable, os.path.join(src, "tools", "grid", "make_grid.py"),
                           *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


def check_generator(src, tmp):
    """Bad arguments are refused with a message; the same seed gives the same files."""
    for bad in (["0", tmp + "/bad"], ["2", tmp + "/bad", "--lanes", "3"],
                ["2", tmp + "/bad", "--rate", "-5"]):
        r = make_grid(src, *bad)
        check(r.returncode == 2 and "make_grid.py: error:" in r.stderr
              and "Traceback" not in r.stderr,
              f"make_grid.py {' '.join(bad[:1] + bad[2:])} refused (exit {r.returncode}) "
              f"{r.stderr.strip().splitlines()[-1:]}")
    grid = os.path.join(tmp, "grid")
    for d in (grid, os.path.join(tmp, "again")):
        r = make_grid(src, "2", d, "--seed", SEED)
        check(r.returncode == 0, f"make_grid.py 2 writes a grid (exit {r.returncode}) {r.stderr[-300:]}")
    if failures:
        return None
    cmp = filecmp.dircmp(grid, os.path.join(tmp, "again"))
    differ = cmp.diff_files + cmp.left_only + cmp.right_only + [
        f"junctions/{f}" for f in cmp.subdirs["junctions"].diff_files]
    check(not differ, f"the same seed gives the same files {differ}")
    return grid


def check_programs(src, grid):
    """Every junction's program, mapping and loops against the network: foe links of the two
    axes conflict in the matrix, every loop lies on a lane of its stream."""
    tool = os.path.join(src, "tools", "junction", "ruvalda_junction.py")
    programs = sorted(f[:-4] for f in os.listdir(os.path.join(grid, "junctions")) if f.endswith(".rvc"))
    check(programs == ["A0", "A1", "B0", "B1"], f"a program per junction {programs}")
    for tls in programs:
        r = subprocess.run([sys.executable, tool, "check-against", os.path.join(grid, "grid.net.xml"),
                            "--tls", tls, os.path.join(grid, "junctions", tls + ".rvc"),
                            os.path.join(grid, "junctions", tls + ".map.json"),
                            "--loops", os.path.join(grid, "grid.det.xml")],
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        check(r.returncode == 0, f"{tls}: program and mapping fit the network {r.stdout.strip()[-300:]}")
    return programs


def served_axes(grid, tripinfo):
    """(junction, axis) of every crossing of a junction by a vehicle that arrived."""
    net = ET.parse(os.path.join(grid, "grid.net.xml")).getroot()
    xy = {j.get("id"): (float(j.get("x")), float(j.get("y"))) for j in net.iter("junction")}
    ends = {e.get("id"): (e.get("from"), e.get("to")) for e in net.iter("edge") if not e.get("function")}
    routes = {v.get("id"): v.find("route").get("edges").split()
              for v in ET.parse(os.path.join(grid, "grid.rou.xml")).getroot().iter("vehicle")}
    served = set()
    for trip in ET.parse(tripinfo).getroot().iter("tripinfo"):
        for edge in routes[trip.get("id")][:-1]:
            a, j = ends[edge]
            dx, dy = (abs(p - q) for p, q in zip(xy[a], xy[j]))
            served.add((j, "north-south" if dy > dx else "east-west"))
    return served


def check_bridge(cli, src, grid, programs):
    out = os.path.join(grid, "out")
    summary = os.path.join(out, "summary.json")
    os.makedirs(out, exist_ok=True)
    results = run_bridge_with_controllers(
        cli, src, os.path.join(grid, "bridge.json"),
        {tls: os.path.join(grid, "junctions", tls + ".rvc") for tls in programs}, SIM_SECONDS, out)
    if results is None:
        return
    for tls, (rc, text) in results.items():
        monitor = monitor_lines(text)
        check(rc == 0 and monitor == ["Conflict monitor: 0 violations."],
              f"{tls}: controller exits 0 with a clean conflict monitor (exit {rc}, {monitor})")
        # the loops of both axes reach the program through its .DTL
        heard = set(re.findall(r"Made detector \d+ -> (\d)\d active", text))
        check(heard == {"1", "2"}, f"{tls}: detectors of both streams heard {sorted(heard)}")
    s = check_clean_summary(summary, SIM_SECONDS * 10)
    if s is None:
        return
    check(s["vehicles_arrived"] > 0, f"vehicles arrived ({s['vehicles_arrived']})")
    # every junction let traffic through on both axes: no stream stayed red, none was mapped
    # onto the other axis's links
    served = served_axes(grid, os.path.join(out, "tripinfo.xml"))
    missing = [(j, a) for j in programs for a in ("north-south", "east-west") if (j, a) not in served]
    check(not missing, f"every junction passed traffic on both axes (missing {missing})")


def check_in_process(ruvalda_sumo, grid):
    """ruvalda-sumo runs the bridge's configuration in one process as the bridge ran it."""
    out = os.path.join(grid, "out")
    bridge_trips, bridge_summary = (body(os.path.join(out, "tripinfo.xml")),
                                    open(os.path.join(out, "summary.json")).read())
    summary = os.path.join(grid, "in-process-summary.json")
    r = subprocess.run([ruvalda_sumo, os.path.join(grid, "bridge.json"), "--end", str(SIM_SECONDS),
                        "--summary", summary, "--monitor"],
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=120)
    check(r.returncode == 0, f"ruvalda-sumo ends normally (exit {r.returncode}) {r.stderr[-300:]}")
    verdicts = [line for line in r.stdout.splitlines() if "Conflict monitor" in line]
    check(len(verdicts) == 4 and all(v.endswith("0 violations.") for v in verdicts),
          f"ruvalda-sumo: a clean monitor per junction {verdicts}")
    check(body(os.path.join(out, "tripinfo.xml")) == bridge_trips,
          "ruvalda-sumo moves the traffic as the bridge did (tripinfo)")
    check(open(summary).read() == bridge_summary, "ruvalda-sumo sums up as the bridge did")


def check_sumo_alone(src, grid):
    """SUMO alone runs the grid's actuated configuration with SUMO's actuated programs."""
    sys.path.insert(0, os.path.join(src, "tools", "sumo-bridge"))
    import sumo_bridge  # TraCI from SUMO's tools, and SUMO's options under the bridge
    traci = sumo_bridge.traci
    out = os.path.join(grid, "alone")
    os.makedirs(out)
    sumo_bridge.start_sumo(["sumo", "-c", os.path.join(grid, "grid.actuated.sumocfg")]
                           + sumo_bridge.sumo_options(out, 0.1, int(SEED))
                           + ["--end", str(SIM_SECONDS)])
    try:
        programs = {traci.trafficlight.getProgram(t) for t in traci.trafficlight.getIDList()}
        check(programs == {"actuated"}, f"SUMO runs its actuated programs ({programs})")
        traci.simulationStep(SIM_SECONDS)
    finally:
        traci.close()
    stats = ET.parse(os.path.join(out, "statistics.xml")).getroot()
    arrived = int(stats.find("vehicleTripStatistics").get("count"))
    check(arrived > 0, f"SUMO alone: vehicles arrived ({arrived})")


def main():
    if len(sys.argv) not in (3, 4):
        print(__doc__)
        return 1
    cli, src = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    ruvalda_sumo = os.path.abspath(sys.argv[3]) if len(sys.argv) == 4 else None
    skip = sumo_missing(("sumo", "netgenerate", "duarouter"), "randomTrips.py")
    if skip:
        print(skip)
        return SKIPPED

    def work(tmp):
        grid = check_generator(src, tmp)
        if grid:
            programs = check_programs(src, grid)
            check_bridge(cli, src, grid, programs)
            if ruvalda_sumo and not failures:
                check_in_process(ruvalda_sumo, grid)
            check_sumo_alone(src, grid)
    return run_checks("ruvalda-grid-", work)

if __name__ == "__main__":
    sys.exit(main())
