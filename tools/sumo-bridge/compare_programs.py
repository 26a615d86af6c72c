#!/usr/bin/env python3
"""Compares the crossing example's control program with SUMO's own actuated program.

    compare_programs.py [--cli PATH/TO/ruvalda-cli] [--program FILE.rvc] [--seeds 1,2,3,4,5]
                        [--jobs N] [--keep DIR]

For every seed, make_routes.py writes an hour of demand with that seed, and the crossing runs
until the last vehicle has left
  (a) under examples/crossing/crossing.rvc (or --program, a control program of the crossing's
      streams) through the bridge (sumo_bridge.py + ruvalda-cli), and
  (b) under SUMO alone with an actuated program (tlLogic type="actuated") of the same four
      protected stages as crossing.rvc's blocks (A 01 07, B 02 08, C 04 10, D 05 11), the same
      minimum and maximum greens (its %tt lines), 3 s amber, 1 s all red, a gap of 3 s, and the
      stop-line loops of crossing.det.xml as its detectors (one per lane, given as custom
      detectors; SUMO's own loops are not built).
Both use the same SUMO seed and options as the bridge. Printed: the mean waiting time per
vehicle (tripinfo waitingTime) of each seed and over all vehicles of all seeds, for each program.
Pedestrians are not simulated: the crossings stay red in both.
"""
import argparse
import concurrent.futures
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ET

from sumo_bridge import sumo_options

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
EX = os.path.join(ROOT, "examples", "crossing", "sumo")
SUMO_SEED = 42

# 16 links: approaches north, east, south, west, each right, straight, left; then the four
# pedestrian crossings (red throughout).
ACTUATED = """<additional>
    <tlLogic id="C" type="actuated" programID="actuated" offset="0">
        <param key="max-gap" value="3.0"/>
        <param key="show-detectors" value="false"/>
        <param key="n_in_1" value="n_sr_1"/>
        <param key="n_in_2" value="n_l_1"/>
        <param key="e_in_1" value="e_sr_1"/>
        <param key="e_in_2" value="e_l_1"/>
        <param key="s_in_1" value="s_sr_1"/>
        <param key="s_in_2" value="s_l_1"/>
        <param key="w_in_1" value="w_sr_1"/>
        <param key="w_in_2" value="w_l_1"/>
        <phase duration="10" minDur="10" maxDur="40" state="gGrrrrgGrrrrrrrr"/>
        <phase duration="3"  state="yyrrrryyrrrrrrrr"/>
        <phase duration="1"  state="rrrrrrrrrrrrrrrr"/>
        <phase duration="5"  minDur="5"  maxDur="15" state="rrGrrrrrGrrrrrrr"/>
        <phase duration="3"  state="rryrrrrryrrrrrrr"/>
        <phase duration="1"  state="rrrrrrrrrrrrrrrr"/>
        <phase duration="8"  minDur="8"  maxDur="25" state="rrrgGrrrrgGrrrrr"/>
        <phase duration="3"  state="rrryyrrrryyrrrrr"/>
        <phase duration="1"  state="rrrrrrrrrrrrrrrr"/>
        <phase duration="5"  minDur="5"  maxDur="15" state="rrrrrGrrrrrGrrrr"/>
        <phase duration="3"  state="rrrrryrrrrryrrrr"/>
        <phase duration="1"  state="rrrrrrrrrrrrrrrr"/>
    </tlLogic>
</additional>
"""


def waiting_times(tripinfo):
    return [float(t.get("waitingTime")) for t in ET.parse(tripinfo).getroot().iter("tripinfo")]


def prepare(work, seed):
    d = os.path.join(work, f"seed{seed}")
    os.makedirs(d, exist_ok=True)
    routes = os.path.join(d, "crossing.rou.xml")
    subprocess.run([sys.executable, os.path.join(EX, "make_routes.py"), "--seed", str(seed),
                    "--out", routes], check=True)
    cfg = os.path.join(d, "crossing.sumocfg")
    # no end time: the run lasts until the last vehicle of the hour has left
    with open(cfg, "w") as f:
        f.write(f"""<configuration>
    <input>
        <net-file value="{os.path.join(work, 'crossing.net.xml')}"/>
        <route-files value="{routes}"/>
        <additional-files value="{os.path.join(EX, 'crossing.det.xml')}"/>
    </input>
</configuration>
""")
    return d, cfg


def run_actuated(work, seed):
    d, cfg = prepare(work, seed)
    out = os.path.join(d, "actuated")
    os.makedirs(out, exist_ok=True)
    add = os.path.join(work, "actuated.add.xml")
    start = time.monotonic()
    subprocess.run(["sumo", "-c", cfg, "--additional-files",
                    os.path.join(EX, "crossing.det.xml") + "," + add] + sumo_options(out, 0.1, SUMO_SEED),
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return waiting_times(os.path.join(out, "tripinfo.xml")), time.monotonic() - start


def run_bridged(work, seed, cli, program):
    d, cfg = prepare(work, seed)
    out = os.path.join(d, "ruvalda")
    os.makedirs(out, exist_ok=True)
    bridge_cfg = os.path.join(out, "bridge.json")
    with open(bridge_cfg, "w") as f:
        json.dump({"sumocfg": cfg, "step_length": 0.1, "seed": SUMO_SEED, "outputs": out,
                   "junctions": [{"tls": "C", "port": 0,
                                  "mapping": os.path.join(EX, "crossing.map.json")}]}, f)
    ports_file = os.path.join(out, "ports")
    start = time.monotonic()
    bridge = subprocess.Popen([sys.executable, os.path.join(HERE, "sumo_bridge.py"), bridge_cfg,
                               "--ports-file", ports_file,
                               "--summary", os.path.join(out, "summary.json")],
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    while not os.path.exists(ports_file):
        if bridge.poll() is not None:
            raise RuntimeError(f"seed {seed}: bridge ended: {bridge.stderr.read()}")
        time.sleep(0.05)
    port = int(open(ports_file).read().split()[1])
    with open(os.path.join(out, "controller.log"), "w") as log:
        ctl = subprocess.Popen([cli, "sumo", program, f"sumo://127.0.0.1:{port}"],
                               stdout=log, stderr=subprocess.STDOUT)
        err = bridge.communicate()[1]
        ctl.wait()
    if bridge.returncode != 0:
        raise RuntimeError(f"seed {seed}: bridge exit {bridge.returncode}: {err[-500:]}")
    summary = json.load(open(os.path.join(out, "summary.json")))
    for key in ("collisions", "teleports", "emergency_stops", "conflicting_green_pairs"):
        if summary[key]:
            print(f"seed {seed}: warning: {key} {summary[key]}", flush=True)
    return waiting_times(os.path.join(out, "tripinfo.xml")), time.monotonic() - start


def mean(xs):
    return sum(xs) / len(xs) if xs else float("nan")


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--cli", default=os.path.join(ROOT, "build", "release", "ruvalda-cli"))
    ap.add_argument("--program",
                    default=os.path.join(ROOT, "examples", "crossing", "crossing.rvc"))
    ap.add_argument("--seeds", default="1,2,3,4,5")
    ap.add_argument("--jobs", type=int, default=1, help="runs at the same time (default 1)")
    ap.add_argument("--keep", help="keep the outputs in this folder")
    args = ap.parse_args()
    if not os.access(args.cli, os.X_OK):
        print(f"compare_programs: no ruvalda-cli at {args.cli} (use --cli)", file=sys.stderr)
        return 1
    os.environ.setdefault("SUMO_HOME", "/usr/share/sumo")
    seeds = [int(s) for s in args.seeds.split(",")]
    work = os.path.abspath(args.keep) if args.keep else tempfile.mkdtemp(prefix="ruvalda-compare-")
    os.makedirs(work, exist_ok=True)
    try:
        subprocess.run(["netconvert", "--node-files", os.path.join(EX, "crossing.nod.xml"),
                        "--edge-files", os.path.join(EX, "crossing.edg.xml"),
                        "--connection-files", os.path.join(EX, "crossing.con.xml"),
                        "--no-turnarounds", "true", "--tls.default-type", "static",
                        "--output-file", os.path.join(work, "crossing.net.xml")],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(os.path.join(work, "actuated.add.xml"), "w") as f:
            f.write(ACTUATED)
        for s in seeds:  # routes first, so that parallel runs do not write them twice
            prepare(work, s)
        results = {}
        with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, args.jobs)) as pool:
            futures = {}
            for s in seeds:
                futures[pool.submit(run_bridged, work, s, os.path.abspath(args.cli),
                                    os.path.abspath(args.program))] = ("ruvalda", s)
                futures[pool.submit(run_actuated, work, s)] = ("actuated", s)
            for fut in concurrent.futures.as_completed(futures):
                what, s = futures[fut]
                results[what, s] = fut.result()
                w, wall = results[what, s]
                print(f"  done: {what:8s} seed {s}: {len(w)} vehicles, {wall:.1f} s wall",
                      flush=True)
        print()
        print("mean waiting time per vehicle, s (tripinfo waitingTime)")
        name = os.path.basename(args.program)
        width = max(13, len(name))
        print(f"{'seed':>6} {'vehicles':>9} {name:>{width}} {'SUMO actuated':>14}")
        for s in seeds:
            r, a = results["ruvalda", s][0], results["actuated", s][0]
            print(f"{s:>6} {len(r):>9} {mean(r):>{width}.1f} {mean(a):>14.1f}")
        allr = [x for s in seeds for x in results["ruvalda", s][0]]
        alla = [x for s in seeds for x in results["actuated", s][0]]
        print(f"{'all':>6} {len(allr):>9} {mean(allr):>{width}.1f} {mean(alla):>14.1f}")
        print(f"(mean of the seed means: {name} "
              f"{mean([mean(results['ruvalda', s][0]) for s in seeds]):.1f}, SUMO actuated "
              f"{mean([mean(results['actuated', s][0]) for s in seeds]):.1f})")
        walls = [results["ruvalda", s][1] for s in seeds]
        print(f"wall time of a bridged run: {min(walls):.0f} to {max(walls):.0f} s")
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
