#!/usr/bin/env python3
"""Compares an example's control programs with SUMO's own programs on the example's network.

    compare_programs.py [CONFIG.json...] [--cli PATH/TO/ruvalda-cli] [--seeds 1,2,3,4,5]
                        [--jobs N] [--keep DIR] [--results FILE]

Each CONFIG (default: every examples/*/sumo/compare.json, one after the other) names the network
sources, the route
generator, the loops, the traffic light, the bridge mapping, the control programs to compare and
the stages of SUMO's programs (see docs/sumo.md). For every seed, the route generator writes an
hour of demand with that seed, and the junction runs until the last vehicle has left
  (a) under each control program through the bridge (sumo_bridge.py + ruvalda-cli), and under
      SUMO alone with
  (b) an actuated program (tlLogic type="actuated") of the configured stages, their minimum and
      maximum greens, amber and all-red, the configured gap (default 3 s) and the configured
      stop-line loops as its detectors;
  (c) a delay_based program of the same stages (SUMO's own lane-area detectors);
  (d) a fixed-time program of the same stages with the configured durations.
All runs use the same SUMO seed and options as the bridge. Printed (and written to the results
file, by default the one the configuration names): per program the mean waiting time per vehicle
(tripinfo waitingTime), the mean time loss (timeLoss) and the longest wait of a vehicle, per seed
and over all vehicles of all seeds, then each control program against the targets: no higher
mean wait than actuated, within 10 % of delay_based, no seed more than 10 % worse than actuated,
longest wait no worse than actuated's.
"""
import argparse
import concurrent.futures
import glob
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
DEFAULT_CONFIGS = os.path.join(ROOT, "examples", "*", "sumo", "compare.json")
SUMO_SEED = 42
MAX_GAP = 3.0  # seconds: the gap of SUMO's actuated program unless the configuration gives one
SUMO_KINDS = ("actuated", "delay_based", "fixed")


def phases(config, kind):
    """The phases of a SUMO program of the configured stages: each green stage, then its amber
    (every green letter of the stage turned y) and an all-red phase."""
    amber, all_red = config["amber"], config["all_red"]
    out = []
    for stage in config["stages"]:
        state = stage["state"]
        if kind == "fixed":
            out.append(f'<phase duration="{stage["fixed"]}" state="{state}"/>')
        else:
            out.append(f'<phase duration="{stage["min"]}" minDur="{stage["min"]}" '
                       f'maxDur="{stage["max"]}" state="{state}"/>')
        amber_state = "".join("y" if c in "Gg" else "r" for c in state)
        out.append(f'<phase duration="{amber}" state="{amber_state}"/>')
        out.append(f'<phase duration="{all_red}" state="{"r" * len(state)}"/>')
    return out


def sumo_program(config, kind):
    params = []
    if kind == "actuated":
        params = [f'<param key="max-gap" value="{config.get("max_gap", MAX_GAP)}"/>',
                  '<param key="show-detectors" value="false"/>']
        params += [f'<param key="{lane}" value="{loop}"/>'
                   for lane, loop in config["actuated_detectors"].items()]
    elif kind == "delay_based":
        params = ['<param key="show-detectors" value="false"/>']
    sumo_type = "static" if kind == "fixed" else kind
    body = "\n        ".join(params + phases(config, kind))
    return f"""<additional>
    <tlLogic id="{config['tls']}" type="{sumo_type}" programID="{kind}" offset="0">
        {body}
    </tlLogic>
</additional>
"""


def trips(tripinfo):
    """(waiting time, time loss) of every vehicle that arrived."""
    return [(float(t.get("waitingTime")), float(t.get("timeLoss")))
            for t in ET.parse(tripinfo).getroot().iter("tripinfo")]


class Bench:
    def __init__(self, config_path, work, cli):
        self.config_path = config_path
        self.dir = os.path.dirname(os.path.abspath(config_path))
        with open(config_path) as f:
            self.config = json.load(f)
        self.work = work
        self.cli = cli

    def path(self, name):
        return os.path.join(self.dir, name)

    def build(self, seeds):
        net = self.config["network"]
        subprocess.run(["netconvert", "--node-files", self.path(net["nodes"]),
                        "--edge-files", self.path(net["edges"]),
                        "--connection-files", self.path(net["connections"]),
                        "--no-turnarounds", "true", "--tls.default-type", "static",
                        "--output-file", os.path.join(self.work, "net.xml")],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for kind in SUMO_KINDS:
            with open(os.path.join(self.work, f"{kind}.add.xml"), "w") as f:
                f.write(sumo_program(self.config, kind))
        for seed in seeds:  # routes first, so that parallel runs do not write them twice
            self.prepare(seed)

    def prepare(self, seed):
        d = os.path.join(self.work, f"seed{seed}")
        os.makedirs(d, exist_ok=True)
        routes = os.path.join(d, "routes.rou.xml")
        if not os.path.exists(routes):
            subprocess.run([sys.executable, self.path(self.config["routes"]), "--seed", str(seed),
                            "--out", routes], check=True)
        cfg = os.path.join(d, "run.sumocfg")
        # no end time: the run lasts until the last vehicle of the hour has left
        with open(cfg, "w") as f:
            f.write(f"""<configuration>
    <input>
        <net-file value="{os.path.join(self.work, 'net.xml')}"/>
        <route-files value="{routes}"/>
        <additional-files value="{self.path(self.config['detectors'])}"/>
    </input>
</configuration>
""")
        return d, cfg

    def run_sumo(self, kind, seed):
        d, cfg = self.prepare(seed)
        out = os.path.join(d, kind)
        os.makedirs(out, exist_ok=True)
        add = os.path.join(self.work, f"{kind}.add.xml")
        start = time.monotonic()
        subprocess.run(["sumo", "-c", cfg, "--additional-files",
                        self.path(self.config["detectors"]) + "," + add]
                       + sumo_options(out, 0.1, SUMO_SEED),
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return trips(os.path.join(out, "tripinfo.xml")), time.monotonic() - start

    def run_bridged(self, name, seed):
        d, cfg = self.prepare(seed)
        out = os.path.join(d, name.replace(" ", "_"))
        os.makedirs(out, exist_ok=True)
        bridge_cfg = os.path.join(out, "bridge.json")
        with open(bridge_cfg, "w") as f:
            json.dump({"sumocfg": cfg, "step_length": 0.1, "seed": SUMO_SEED, "outputs": out,
                       "junctions": [{"tls": self.config["tls"], "port": 0,
                                      "mapping": self.path(self.config["mapping"])}]}, f)
        ports_file = os.path.join(out, "ports")
        start = time.monotonic()
        bridge = subprocess.Popen([sys.executable, os.path.join(HERE, "sumo_bridge.py"),
                                   bridge_cfg, "--ports-file", ports_file,
                                   "--summary", os.path.join(out, "summary.json")],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        while not os.path.exists(ports_file):
            if bridge.poll() is not None:
                raise RuntimeError(f"{name} seed {seed}: bridge ended: {bridge.stderr.read()}")
            time.sleep(0.05)
        port = int(open(ports_file).read().split()[1])
        program = self.path(self.config["programs"][name])
        with open(os.path.join(out, "controller.log"), "w") as log:
            ctl = subprocess.Popen([self.cli, "sumo", program, f"sumo://127.0.0.1:{port}"],
                                   stdout=log, stderr=subprocess.STDOUT)
            err = bridge.communicate()[1]
            ctl.wait()
        if bridge.returncode != 0:
            raise RuntimeError(f"{name} seed {seed}: bridge exit {bridge.returncode}: {err[-500:]}")
        summary = json.load(open(os.path.join(out, "summary.json")))
        for key in ("collisions", "teleports", "emergency_stops", "conflicting_green_pairs"):
            if summary[key]:
                print(f"{name} seed {seed}: warning: {key} {summary[key]}", flush=True)
        return trips(os.path.join(out, "tripinfo.xml")), time.monotonic() - start


def mean(xs):
    return sum(xs) / len(xs) if xs else float("nan")


def report(bench, names, seeds, results):
    """The result tables and the targets, as lines of text."""
    lines = [f"{bench.config['name']}: seeds {','.join(map(str, seeds))}, an hour of demand each, "
             "run until the network is empty", ""]
    width = max(len(n) for n in names) + 2
    for title, pick in (("mean waiting time per vehicle, s", lambda r: mean([w for w, _ in r])),
                        ("mean time loss per vehicle, s", lambda r: mean([l for _, l in r])),
                        ("longest wait of a vehicle, s", lambda r: max(w for w, _ in r))):
        lines.append(title)
        lines.append(f"{'seed':>6} {'vehicles':>9}" + "".join(f"{n:>{width}}" for n in names))
        for s in seeds:
            lines.append(f"{s:>6} {len(results[names[0], s][0]):>9}"
                         + "".join(f"{pick(results[n, s][0]):>{width}.1f}" for n in names))
        every = {n: [x for s in seeds for x in results[n, s][0]] for n in names}
        lines.append(f"{'all':>6} {len(every[names[0]]):>9}"
                     + "".join(f"{pick(every[n]):>{width}.1f}" for n in names))
        lines.append("")
    wait = {n: mean([w for s in seeds for w, _ in results[n, s][0]]) for n in names}
    longest = {n: max(w for s in seeds for w, _ in results[n, s][0]) for n in names}
    lines.append("targets (each control program against SUMO's programs)")
    for n in bench.config["programs"]:
        worst = max(mean([w for w, _ in results[n, s][0]])
                    / mean([w for w, _ in results["SUMO actuated", s][0]]) for s in seeds)
        checks = [
            ("mean wait <= actuated", wait[n] <= wait["SUMO actuated"],
             f"{wait[n]:.1f} vs {wait['SUMO actuated']:.1f}"),
            ("mean wait within 10 % of delay_based", wait[n] <= 1.1 * wait["SUMO delay_based"],
             f"{wait[n]:.1f} vs {wait['SUMO delay_based']:.1f}"),
            ("no seed > 10 % worse than actuated", worst <= 1.1, f"worst seed {worst:.2f} x"),
            ("longest wait <= actuated's", longest[n] <= longest["SUMO actuated"],
             f"{longest[n]:.0f} vs {longest['SUMO actuated']:.0f}"),
        ]
        for what, ok, figures in checks:
            lines.append(f"  {n}: {what}: {'met' if ok else 'NOT met'} ({figures})")
    return lines


def compare(config, args, seeds):
    """Runs one configuration; its report goes to stdout and to the results file."""
    work = (os.path.abspath(os.path.join(args.keep, os.path.basename(os.path.dirname(
        os.path.dirname(os.path.abspath(config)))))) if args.keep
            else tempfile.mkdtemp(prefix="ruvalda-compare-"))
    os.makedirs(work, exist_ok=True)
    bench = Bench(config, work, os.path.abspath(args.cli))
    names = list(bench.config["programs"]) + ["SUMO actuated", "SUMO delay_based", "fixed time"]
    try:
        bench.build(seeds)
        results = {}
        with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, args.jobs)) as pool:
            futures = {}
            for s in seeds:
                for n in bench.config["programs"]:
                    futures[pool.submit(bench.run_bridged, n, s)] = (n, s)
                for kind, n in zip(SUMO_KINDS, names[-3:]):
                    futures[pool.submit(bench.run_sumo, kind, s)] = (n, s)
            for fut in concurrent.futures.as_completed(futures):
                n, s = futures[fut]
                results[n, s] = fut.result()
                print(f"  done: {bench.config['name']}: {n} seed {s}: "
                      f"{len(results[n, s][0])} vehicles, {results[n, s][1]:.1f} s wall",
                      flush=True)
        lines = report(bench, names, seeds, results)
        print()
        print("\n".join(lines))
        print()
        target = args.results or bench.config.get("results")
        if target and target != "-":
            with open(bench.path(target) if not args.results else target, "w") as f:
                f.write("\n".join(lines) + "\n")
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("configs", nargs="*")
    ap.add_argument("--cli", default=os.path.join(ROOT, "build", "release", "ruvalda-cli"))
    ap.add_argument("--seeds", default="1,2,3,4,5")
    ap.add_argument("--jobs", type=int, default=1, help="runs at the same time (default 1)")
    ap.add_argument("--keep", help="keep the outputs in this folder")
    ap.add_argument("--results", help="write the tables here (default: each configuration's "
                    "results file; '-' for none)")
    args = ap.parse_args()
    if not os.access(args.cli, os.X_OK):
        print(f"compare_programs: no ruvalda-cli at {args.cli} (use --cli)", file=sys.stderr)
        return 1
    os.environ.setdefault("SUMO_HOME", "/usr/share/sumo")
    seeds = [int(s) for s in args.seeds.split(",")]
    configs = args.configs or sorted(glob.glob(DEFAULT_CONFIGS))
    if args.results and args.results != "-" and len(configs) > 1:
        print("compare_programs: --results FILE takes one configuration", file=sys.stderr)
        return 2
    for config in configs:
        compare(config, args, seeds)
    return 0


if __name__ == "__main__":
    sys.exit(main())
