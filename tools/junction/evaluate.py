"""ruvalda-junction evaluate: control programs against SUMO's own programs on any network the
bridge runs (docs/junction.md, "Evaluating programs").

A study is a set of runs, one per variant (a control program through the bridge, or a baseline:
SUMO's own program of stages derived from the conflict matrix), seed and demand factor. Each
run is one command line (`ruvalda-junction run DIR/runs/ID/run.json`) that writes its own
result.json; `collect` merges the results of one or more study folders into results.csv,
results.json and report.html. `evaluate` plans, runs (--jobs at a time) and collects.
"""
import concurrent.futures
import csv
import itertools
import json
import os
import re
import shlex
import shutil
import subprocess
import sys
import time
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
BRIDGE = os.path.join(ROOT, "tools", "sumo-bridge", "sumo_bridge.py")
sys.path.insert(0, os.path.join(ROOT, "tools", "sumo-bridge"))
from sumo_bridge import (ConfigError, load_config, load_mapping, net_file_of,  # noqa: E402
                         network_facts, place_of, read_foe_pairs, signal_state, sumo_options)
from ruvalda_junction import (Declaration, Network, Problem, stages_from_phases,  # noqa: E402
                              sumocfg_text)

BASELINES = ("actuated", "delay_based", "fixed", "network")
STEP_LENGTH = 0.1        # s: the bridge's step, and SUMO's in every run of a study
QUEUE_PERIOD = 10        # s: the interval of the queue detectors' output
DEFAULT_GAP = 3.0        # s: SUMO's max-gap when the program's T rows give none
DEFAULT_WINDOW = (0.0, 300.0)
BRIDGE_CONFLICTS = 3     # the bridge's exit status after conflicting greens: a result, not a failure
RESULT = "result.json"

# The columns of results.csv, one row per run, per approach of a run and per stream of a run.
CSV_COLUMNS = ["level", "variant", "seed", "demand", "tls", "item", "vehicles", "mean_wait_s",
               "max_wait_s", "mean_time_loss_s", "stops_per_vehicle", "queue_mean_veh",
               "queue_max_veh", "green_share", "cycle_s", "collisions_junction",
               "collisions_elsewhere", "emergency_stops_junction", "emergency_stops_elsewhere",
               "conflicting_green_s", "simulated_s", "wall_s", "status"]


def say(text):
    print(text, flush=True)


# ---------------------------------------------------------------------------------------------
# Planning: variants, baselines and the runs' files


def parse_seeds(text):
    """"1-5" or "1,3,7" (or both: "1-3,9")."""
    seeds = []
    for part in text.split(","):
        lo, _, hi = part.partition("-")
        seeds += list(range(int(lo), int(hi or lo) + 1))
    if not seeds:
        raise Problem(f"--seeds {text!r}: no seed")
    return seeds


def parse_window(text):
    lo, _, hi = text.partition("-")
    window = (float(lo), float(hi))
    if window[1] <= window[0]:
        raise Problem(f"--window {text!r}: the end must come after the start")
    return window


def slug(text):
    return re.sub(r"[^A-Za-z0-9_.-]+", "_", text).strip("_")


def program_variants(cfg, specs):
    """Variants of control programs: name -> {tls: program path}. A spec is "P.rvc" for a
    configuration of one junction, or "TLS=P.rvc,TLS2=Q.rvc"; a junction a spec leaves out runs
    the program the configuration names for it. No spec: the configuration's own programs."""
    own = {j["tls"]: j.get("program") for j in cfg["junctions"]}
    detectors = {j["tls"]: load_mapping(j["mapping"])[1] for j in cfg["junctions"]}
    variants = {}
    for spec in specs or [None]:
        chosen = dict(own)
        if spec is not None:
            parts = spec.split(",")
            if len(parts) == 1 and "=" not in spec:
                if len(own) != 1:
                    raise Problem(f"--program {spec}: the configuration has {len(own)} junctions;"
                                  " name them: --program TLS=P.rvc,TLS2=Q.rvc")
                chosen = {next(iter(own)): spec}
            else:
                for part in parts:
                    tls, _, path = part.partition("=")
                    if tls not in own or not path:
                        raise Problem(f"--program {spec}: {tls!r} is not a junction of the "
                                      f"configuration ({', '.join(own)})")
                    chosen[tls] = path
        missing = [t for t, p in chosen.items() if not p]
        if missing:
            raise Problem(f"no control program for junction {', '.join(missing)}: give --program "
                          "or a \"program\" in the configuration")
        chosen = {t: os.path.abspath(p) for t, p in chosen.items()}
        for tls, p in chosen.items():
            if not os.path.isfile(p):
                raise Problem(f"{p}: no such control file")
            dtl = os.path.splitext(p)[0] + ".DTL"
            if detectors[tls] and declared_detectors(p) and not os.path.isfile(dtl):
                raise Problem(f"{p}: no {os.path.basename(dtl)} beside it, so its controller "
                              "would see no detector of SUMO's (copy the .DTL of the program "
                              "it was made from)")
        name = "+".join(os.path.splitext(os.path.basename(p))[0] for p in chosen.values())
        while name in variants:
            name += "'"
        variants[name] = chosen
    return variants


def declared_detectors(program):
    """The detectors a program's declaration block declares (0 for plain rules)."""
    try:
        return Declaration(program).detectors
    except Problem:
        return 0


def parse_baselines(text):
    """"actuated,delay_based,fixed", where a kind may name its own SUMO program file instead of
    the derived one: "fixed=plan.add.xml". "network": the program the network itself has."""
    out = {}
    for part in filter(None, (text or "").split(",")):
        kind, _, path = part.partition("=")
        if kind not in BASELINES:
            raise Problem(f"--baseline {part}: one of {', '.join(BASELINES)} (KIND=FILE for a "
                          "SUMO program of your own)")
        if path and not os.path.isfile(path):
            raise Problem(f"--baseline {part}: no such file")
        out[f"SUMO {kind}"] = (kind, os.path.abspath(path) if path else None)
    return out


class JunctionPlan:
    """One traffic light of the study: its mapping, its network links, the stages of the
    baselines derived from its reference program's matrix and required times."""

    def __init__(self, net_file, entry, reference, pedestrians):
        self.tls = entry["tls"]
        self.streams, self.detectors = load_mapping(entry["mapping"])
        self.net = Network(net_file, self.tls)
        self.n_links = 1 + max(self.net.links)
        self.reference = reference
        self._declaration = None
        # Without pedestrians in the demand the crossings stay red, as a program that serves
        # them on request keeps them: green for nobody would only cost the baselines time.
        self.served = [s for s in self.streams if pedestrians or not any(
            self.net.links.get(i) and self.net.links[i].crossing for i, _ in s["links"])]

    @property
    def declaration(self):
        """The reference program's declaration block, read when a baseline is derived."""
        if self._declaration is None:
            try:
                self._declaration = Declaration(self.reference)
            except Problem as e:
                raise Problem(f"{e}: the baselines' stages come from the matrix of a program's "
                              "declaration block; name one in the configuration (\"program\") "
                              "or as the first --program, or give the baselines as KIND=FILE")
        return self._declaration

    def stages(self):
        d = self.declaration
        links = [(s["stream"], [i for i, _ in s["links"]]) for s in self.served]
        stages = stages_from_phases(self.net.phases, links, d.conflicts)
        return extend_stages(stages, [s["stream"] for s in self.served], d.conflicts)

    def state(self, members, ending=()):
        """The link state with the streams of `members` green, those of `ending` amber."""
        letters = ["y" if s["stream"] in ending else "g" if s["stream"] in members else "r"
                   for s in self.streams]
        return signal_state(self.streams, letters, self.n_links)

    def phases(self, kind):
        """SUMO phases of the derived stages: each stage's green (its members' largest minimum
        and maximum green; fixed time: their mean), the amber of the streams that end (their
        largest amber) and an all-red long enough for every clearance time of the matrix from
        an ending stream to a starting one. Streams of both stages stay green throughout."""
        d = self.declaration
        stages = self.stages()
        missing = [s for st in stages for s in st if s not in d.times]
        if missing:
            raise Problem(f"{self.reference}: no %tt times for stream(s) "
                          f"{', '.join(f'{s:02d}' for s in sorted(set(missing)))}")
        out = []
        for k, stage in enumerate(stages):
            nxt = stages[(k + 1) % len(stages)]
            gmin = max(d.times[s][0] for s in stage) / 10
            gmax = max(gmin, max(d.times[s][1] for s in stage) / 10)
            green = self.state(stage)
            if kind == "fixed":
                out.append((f"{(gmin + gmax) / 2:.1f}", green, None, None))
            else:
                out.append((f"{gmin:.1f}", green, f"{gmin:.1f}", f"{gmax:.1f}"))
            ending = [s for s in stage if s not in nxt]
            starting = [t for t in nxt if t not in stage]
            amber = max((d.times[s][2] for s in ending), default=0) / 10
            clear = max((d.clearance(s, t) for s in ending for t in starting), default=-1) / 10
            stay = [s for s in stage if s in nxt]
            if amber > 0:
                out.append((f"{amber:.1f}", self.state(stay, ending), None, None))
            if clear - amber > 0:
                out.append((f"{clear - amber:.1f}", self.state(stay), None, None))
        return out

    def loops_per_lane(self, loops):
        """For SUMO's actuated program: the loop of the mapping nearest the stop line on each
        lane the traffic light controls."""
        best = {}
        for loop in self.detectors.values():
            if loop not in loops:
                continue
            lane, pos = loops[loop]
            if pos > best.get(lane, ("", -1e9))[1]:
                best[lane] = (loop, pos)
        lanes = {link.from_lane for link in self.net.links.values()}
        return {lane: loop for lane, (loop, _) in sorted(best.items()) if lane in lanes}


def extend_stages(stages, streams, conflict):
    """Every stage takes every stream that conflicts with none of its members; a stage then
    contained in another is dropped."""
    out = []
    for st in stages:
        members = list(st)
        for n in streams:
            if n not in members and all(not conflict(m, n) and not conflict(n, m) for m in members):
                members.append(n)
        members.sort()
        if members not in out:
            out.append(members)
    return [st for st in out if not any(st != o and set(st) <= set(o) for o in out)]


def sumo_program(plans, kind, loops, gap):
    """An additional file with SUMO's own program of the derived stages for every junction."""
    body = []
    for plan in plans:
        sumo_type = "static" if kind == "fixed" else kind
        body.append(f'    <tlLogic id="{plan.tls}" type="{sumo_type}" programID="{kind}" '
                    'offset="0">')
        if kind != "fixed":
            body.append('        <param key="show-detectors" value="false"/>')
        if kind == "actuated":
            body.append(f'        <param key="max-gap" value="{gap:g}"/>')
            body += [f'        <param key="{lane}" value="{loop}"/>'
                     for lane, loop in plan.loops_per_lane(loops).items()]
        for duration, state, dmin, dmax in plan.phases(kind):
            extra = f' minDur="{dmin}" maxDur="{dmax}"' if dmin else ""
            body.append(f'        <phase duration="{duration}"{extra} state="{state}"/>')
        body.append("    </tlLogic>")
    return "<additional>\n" + "\n".join(body) + "\n</additional>\n"


def loops_of_config(sumocfg):
    """Induction loops of the configuration's additional files: id -> (lane, position from the
    lane's start; a negative position in the file counts from its end)."""
    root = ET.parse(sumocfg).getroot()
    lengths = {}
    out = {}
    for e in root.iter("additional-files"):
        for name in filter(None, (n.strip() for n in e.get("value", "").split(","))):
            path = name if os.path.isabs(name) else os.path.join(os.path.dirname(sumocfg), name)
            for d in ET.parse(path).getroot().iter():
                if d.tag in ("inductionLoop", "e1Detector"):
                    out[d.get("id")] = (d.get("lane"), float(d.get("pos", 0)))
    net = ET.parse(net_file_of(sumocfg)).getroot()
    for lane in net.iter("lane"):
        lengths[lane.get("id")] = float(lane.get("length", 0))
    return {k: (lane, pos if pos >= 0 else lengths.get(lane, 0) + pos)
            for k, (lane, pos) in out.items()}


def config_files(sumocfg, key):
    """The absolute paths of a configuration's file list (route-files, additional-files)."""
    root = ET.parse(sumocfg).getroot()
    out = []
    for e in root.iter(key):
        for name in filter(None, (n.strip() for n in e.get("value", "").split(","))):
            out.append(name if os.path.isabs(name) else
                       os.path.join(os.path.dirname(os.path.abspath(sumocfg)), name))
    return out


def queue_detectors(plans, net_lanes):
    """Lane-area detectors over every lane that enters a controlled junction, writing the jam
    of each QUEUE_PERIOD to queues.xml beside the file."""
    lines = ["<additional>"]
    for plan in plans:
        for lane in sorted({l.from_lane for l in plan.net.links.values() if not l.crossing}):
            length = net_lanes[lane]
            lines.append(f'    <laneAreaDetector id="rvq_{lane}" lane="{lane}" pos="0" '
                         f'endPos="{length:.2f}" friendlyPos="true" period="{QUEUE_PERIOD}" '
                         'file="queues.xml"/>')
        lines.append(f'    <timedEvent type="SaveTLSSwitchStates" source="{plan.tls}" '
                     f'dest="signals-{slug(plan.tls)}.xml"/>')
    lines.append("</additional>")
    return "\n".join(lines) + "\n"


def plan_study(args):
    """Writes the study folder: study.json, the baselines' programs, the demand of every seed
    and one folder with run.json per run. Returns the runs' run.json paths."""
    try:
        cfg = load_config(args.config)
    except ConfigError as e:
        raise Problem(str(e))
    out = os.path.abspath(args.out)
    os.makedirs(os.path.join(out, "runs"), exist_ok=True)
    net_file = net_file_of(cfg["sumocfg"])
    if not os.path.isfile(net_file):
        raise Problem(f"{cfg['sumocfg']}: the network {net_file} is not there (build it with "
                      "netconvert first, as the example's run.sh does)")
    variants = program_variants(cfg, args.program)
    baselines = parse_baselines(args.baseline)
    first = next(iter(variants.values()))
    seeds = parse_seeds(args.seeds)
    routes = study_demand(cfg, args, seeds)
    pedestrians = any(has_pedestrians(path) for paths in routes.values() for path in paths)
    plans = [JunctionPlan(net_file, j, j.get("program") or first[j["tls"]], pedestrians)
             for j in cfg["junctions"]]
    lanes = {lane: length for plan in plans for lane, (_, _, length) in plan.net.lanes.items()}
    loops = loops_of_config(cfg["sumocfg"])
    derived = [kind for kind, own in baselines.values() if not own and kind != "network"]
    gaps = [g for plan in plans if derived for g in plan.declaration.gaps]
    gap = min(gaps) / 10 if gaps else DEFAULT_GAP
    base_dir = os.path.join(out, "baselines")
    os.makedirs(base_dir, exist_ok=True)
    baseline_files = {}
    for name, (kind, own) in baselines.items():
        if own or kind == "network":
            baseline_files[name] = own
            continue
        path = os.path.join(base_dir, f"{kind}.add.xml")
        with open(path, "w") as f:
            f.write(sumo_program(plans, kind, loops, gap))
        baseline_files[name] = path
    stages = {plan.tls: f"from {plan.reference}: " + ", ".join(
        " ".join(f"{s:02d}" for s in st) for st in plan.stages()) for plan in plans if derived}

    demands = [float(x) for x in args.demand.split(",")]
    study = {
        "config": os.path.abspath(args.config),
        "network": net_file,
        "variants": list(variants) + list(baselines),
        "programs": variants,
        "baselines": {k: v for k, v in baseline_files.items()},
        "seeds": seeds,
        "demands": demands,
        "end": args.end,
        "window": parse_window(args.window) if args.window else DEFAULT_WINDOW,
        "stages": stages,
        "junctions": [{"tls": p.tls, "mapping": e["mapping"]}
                      for p, e in zip(plans, cfg["junctions"])],
    }
    with open(os.path.join(out, "study.json"), "w") as f:
        json.dump(study, f, indent=2)
    measuring = queue_detectors(plans, lanes)
    additional = config_files(cfg["sumocfg"], "additional-files")
    runs = []
    for seed in seeds:
        for demand in demands:
            for name in study["variants"]:
                run_id = slug(f"{name}_s{seed}_d{demand:g}")
                d = os.path.join(out, "runs", run_id)
                os.makedirs(d, exist_ok=True)
                with open(os.path.join(d, "measure.add.xml"), "w") as f:
                    f.write(measuring)
                extra = [baseline_files[name]] if baseline_files.get(name) else []
                sumocfg = os.path.join(d, "run.sumocfg")
                write_sumocfg(sumocfg, net_file, routes[seed],
                              additional + [os.path.join(d, "measure.add.xml")] + extra, demand)
                run = {"id": run_id, "variant": name, "seed": seed, "demand": demand,
                       "dir": d, "sumocfg": sumocfg, "end": args.end,
                       "cli": os.path.abspath(args.cli), "libsumo": args.libsumo,
                       "study": os.path.join(out, "study.json")}
                if name in variants:  # else a baseline: SUMO alone
                    run["programs"] = variants[name]
                    run["bridge"] = {"sumocfg": sumocfg, "step_length": STEP_LENGTH,
                                     "seed": seed, "outputs": d,
                                     "junctions": [dict(e, port=0, program=variants[name][e["tls"]])
                                                   for e in cfg["junctions"]]}
                path = os.path.join(d, "run.json")
                with open(path, "w") as f:
                    json.dump(run, f, indent=2)
                runs.append(path)
    return runs


def study_demand(cfg, args, seeds):
    """The route files of every seed: the configuration's route generator's for that seed, or
    else the configuration's own route files (the seed then only changes SUMO's)."""
    generator = cfg.get("route_generator")
    routes = {}
    for seed in seeds:
        if not generator:
            routes[seed] = config_files(cfg["sumocfg"], "route-files")
            continue
        path = os.path.join(os.path.abspath(args.out), "demand", f"seed{seed}.rou.xml")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        script = generator if os.path.isabs(generator) else os.path.join(
            os.path.dirname(os.path.abspath(args.config)), generator)
        r = subprocess.run([sys.executable, script, "--seed", str(seed), "--out", path],
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        if r.returncode != 0:
            raise Problem(f"{args.config}: route generator {script} failed for seed {seed}: "
                          f"{r.stderr.strip()[-400:]}")
        routes[seed] = [path]
    return routes


def has_pedestrians(path):
    try:
        with open(path, errors="replace") as f:
            return any("<person" in line for line in f)
    except OSError:
        return False


def write_sumocfg(path, net, routes, additional, demand):
    """A run's SUMO configuration. No end time: a run lasts until the network is empty."""
    with open(path, "w") as f:
        f.write(sumocfg_text(net, routes, additional, f"""
    <output>
        <vehroute-output value="vehroutes.xml"/>
    </output>
    <processing>
        <scale value="{demand:g}"/>
    </processing>"""))


# ---------------------------------------------------------------------------------------------
# One run


def run_one(path):
    """Runs one run.json and writes result.json beside it. Exit status 0 when the run completed
    (conflicting greens are a result, not a failure), 1 when it failed."""
    run = json.load(open(path))
    d = run["dir"]
    for name in (RESULT, "tripinfo.xml", "queues.xml"):
        if os.path.exists(os.path.join(d, name)):
            os.remove(os.path.join(d, name))
    start = time.monotonic()
    error = run_bridged(run) if "programs" in run else run_sumo(run)
    wall = time.monotonic() - start
    result = {"id": run["id"], "variant": run["variant"], "seed": run["seed"],
              "demand": run["demand"], "wall_s": round(wall, 2), "error": error}
    if error is None:
        try:
            result.update(measure(run))
        except (OSError, ET.ParseError, ValueError, KeyError) as e:
            result["error"] = f"cannot read the run's outputs: {e}"
    tmp = os.path.join(d, RESULT + ".tmp")
    with open(tmp, "w") as f:
        json.dump(result, f)
    os.replace(tmp, os.path.join(d, RESULT))
    say(run_line(result))
    return 0 if result["error"] is None else 1


def run_line(result):
    """What a finished run says of itself."""
    if result.get("error"):
        return f"{result['id']}: FAILED: {result['error']}"
    t = result["total"]
    return (f"{result['variant']}, seed {result['seed']}, demand {result['demand']:g}: "
            f"{t['vehicles']} vehicles, mean wait {fmt(t['mean_wait_s'])} s, "
            f"{result['simulated_s']:.0f} s simulated in {result['wall_s']:.1f} s")


def sumo_env():
    env = dict(os.environ)
    env.setdefault("SUMO_HOME", "/usr/share/sumo")
    return env


def run_sumo(run):
    cmd = ["sumo", "-c", run["sumocfg"]] + sumo_options(run["dir"], STEP_LENGTH, run["seed"])
    if run["end"]:
        cmd += ["--end", str(run["end"])]
    r = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                       env=sumo_env())
    return None if r.returncode == 0 else f"SUMO exit {r.returncode}: {r.stderr[-400:]}"


def run_bridged(run):
    d = run["dir"]
    cfg = os.path.join(d, "bridge.json")
    with open(cfg, "w") as f:
        json.dump(run["bridge"], f, indent=2)
    ports_file = os.path.join(d, "ports")
    if os.path.exists(ports_file):
        os.remove(ports_file)
    cmd = [sys.executable, BRIDGE, cfg, "--ports-file", ports_file,
           "--summary", os.path.join(d, "summary.json"), "--accept-timeout", "60"]
    if run["end"]:
        cmd += ["--end", str(run["end"])]
    if run.get("libsumo"):
        cmd.append("--libsumo")
    with open(os.path.join(d, "bridge.log"), "w") as log:
        bridge = subprocess.Popen(cmd, stdout=log, stderr=subprocess.STDOUT, env=sumo_env())
        while not os.path.exists(ports_file) and bridge.poll() is None:
            time.sleep(0.02)
        if bridge.poll() is not None:
            return f"bridge exit {bridge.returncode} before listening: see {log.name}"
        ports = dict(line.split() for line in open(ports_file) if line.strip())
        controllers = []
        with open(os.path.join(d, "controller.log"), "w") as ctl_log:
            for tls, program in run["programs"].items():
                controllers.append(subprocess.Popen(
                    [run["cli"], "sumo", program, f"sumo://127.0.0.1:{ports[tls]}"],
                    stdout=ctl_log, stderr=subprocess.STDOUT))
            bridge.wait()
            for c in controllers:
                try:
                    c.wait(timeout=30)
                except subprocess.TimeoutExpired:
                    c.kill()
    if bridge.returncode not in (0, BRIDGE_CONFLICTS):
        return f"bridge exit {bridge.returncode}: see {os.path.join(d, 'bridge.log')}"
    return None


# ---------------------------------------------------------------------------------------------
# Measuring a run from SUMO's outputs (the same files for programs and baselines)


def trip_stats(trips):
    return {"vehicles": len(trips),
            "mean_wait_s": mean([t[0] for t in trips]),
            "max_wait_s": max((t[0] for t in trips), default=None),
            "mean_time_loss_s": mean([t[1] for t in trips]),
            "stops_per_vehicle": mean([t[2] for t in trips])}


def read_trips(path):
    """vehicle id -> (waiting time, time loss, stops) of every vehicle that arrived, and the
    last arrival time."""
    trips, last = {}, 0.0
    for t in ET.parse(path).getroot().iter("tripinfo"):
        trips[t.get("id")] = (float(t.get("waitingTime")), float(t.get("timeLoss")),
                              int(t.get("waitingCount", 0)))
        last = max(last, float(t.get("arrival", 0)))
    return trips, last


def first_movement(route, movements):
    """The first controlled movement (tls, stream, approach edge) on a route of edges."""
    for a, b in zip(route, route[1:]):
        if (a, b) in movements:
            return movements[a, b]
    return None


def signal_intervals(path, end):
    """(start, end, state) of every state the traffic light showed, from SUMO's switch output."""
    changes = [(float(e.get("time")), e.get("state"))
               for e in ET.parse(path).getroot().iter("tlsState")]
    out = []
    for (t, state), nxt in zip(changes, changes[1:] + [(end, None)]):
        if nxt[0] > t:
            out.append((t, nxt[0], state))
    return out


def green_of(links, state):
    return all(i < len(state) and state[i] in "Gg" for i in links)


def stream_signals(intervals, links, run_end, window):
    """Green share, mean cycle (time between green starts) and the window's timeline of a
    stream."""
    green, starts, timeline, was = 0.0, [], [], False
    for t0, t1, state in intervals:
        letters = {state[i] for i in links if i < len(state)}
        colour = "g" if green_of(links, state) else "y" if "y" in letters or "Y" in letters \
            else "r"
        if colour == "g":
            green += t1 - t0
            if not was:
                starts.append(t0)
        was = colour == "g"
        lo, hi = max(t0, window[0]), min(t1, window[1])
        if hi > lo:
            timeline.append((round(lo, 1), round(hi, 1), colour))
    cycles = [b - a for a, b in zip(starts, starts[1:])]
    return {"green_share": green / run_end if run_end else None,
            "cycle_s": mean(cycles) if cycles else None}, timeline


def log_places(path, words):
    """Lanes of the SUMO log's warnings that contain `words` (emergency stops)."""
    places = {}
    try:
        with open(path, errors="replace") as f:
            for line in f:
                if words in line:
                    m = re.search(r"lane '([^']*)'", line)
                    where = place_of(m.group(1)) if m else "?"
                    places[where] = places.get(where, 0) + 1
    except OSError:
        pass
    return places


def split_places(places, controlled):
    return {"junction": sum(n for p, n in places.items() if p in controlled),
            "elsewhere": sum(n for p, n in places.items() if p not in controlled),
            "places": dict(sorted(places.items()))}


def measure(run):
    d = run["dir"]
    study = json.load(open(run["study"]))
    window = study["window"]
    trips, last_arrival = read_trips(os.path.join(d, "tripinfo.xml"))
    queue_file = os.path.join(d, "queues.xml")
    # the queue detectors write their last interval when the run ends
    run_end = max([last_arrival] + [float(iv.get("end")) for iv in
                                    ET.parse(queue_file).getroot().iter("interval")])

    routes = {}
    for v in ET.parse(os.path.join(d, "vehroutes.xml")).getroot().iter("vehicle"):
        r = v.find("route")
        if r is None:
            r = v.find("routeDistribution/route")
        routes[v.get("id")] = r.get("edges").split() if r is not None else []

    tls_ids = [j["tls"] for j in study["junctions"]]
    net = study["network"]
    _, places = network_facts(net, set(tls_ids))
    controlled = set().union(*places.values()) if places else set()
    foes = read_foe_pairs(net, tls_ids)
    movements, per_stream, per_approach, signals = {}, {}, {}, {}
    net_links, nets = {}, {}
    for j in study["junctions"]:
        streams, _ = load_mapping(j["mapping"])
        nets[j["tls"]] = Network(net, j["tls"])
        net_links[j["tls"]] = nets[j["tls"]].links
        for s in streams:
            for i, _ in s["links"]:
                link = net_links[j["tls"]].get(i)
                if link and not link.crossing:
                    movements.setdefault((link.from_edge, link.to_edge),
                                         (j["tls"], s["stream"], link.from_edge))
        intervals = signal_intervals(os.path.join(d, f"signals-{slug(j['tls'])}.xml"), run_end)
        conflict = sum(t1 - t0 for t0, t1, st in intervals for a, b in foes.get(j["tls"], [])
                       if st[a] == "G" and st[b] == "G")
        signals[j["tls"]] = {"conflicting_green_s": round(conflict, 1), "timeline": {}}
        for s in streams:
            links = [i for i, _ in s["links"]]
            figures, timeline = stream_signals(intervals, links, run_end, window)
            per_stream[f"{j['tls']}/{s['stream']:02d}"] = dict(figures, trips=[])
            signals[j["tls"]]["timeline"][f"{s['stream']:02d}"] = timeline

    for vid, trip in trips.items():
        hit = first_movement(routes.get(vid, []), movements)
        if hit:
            tls, stream, approach = hit
            per_stream[f"{tls}/{stream:02d}"]["trips"].append(trip)
            per_approach.setdefault(f"{tls}/{approach}", {"trips": []})["trips"].append(trip)
    for tls, _, edge in movements.values():
        entry = per_approach.setdefault(f"{tls}/{edge}", {"trips": []})
        lanes = [l.from_lane for l in net_links[tls].values() if l.from_edge == edge]
        entry["from"] = nets[tls].compass_from(lanes[0])

    queues, series = queue_figures(queue_file, movements, net_links)
    for key, entry in per_approach.items():
        entry.update(trip_stats(entry.pop("trips")))
        entry.update(queues.get(key, {"queue_mean_veh": 0.0, "queue_max_veh": 0.0}))
    for entry in per_stream.values():
        entry.update(trip_stats(entry.pop("trips")))

    collisions, pairs = {}, set()
    try:
        for c in ET.parse(os.path.join(d, "collisions.xml")).getroot().iter("collision"):
            # SUMO reports a collision again in every step the two vehicles still overlap
            if (c.get("collider"), c.get("victim")) in pairs:
                continue
            pairs.add((c.get("collider"), c.get("victim")))
            where = place_of(c.get("lane", "?"))
            collisions[where] = collisions.get(where, 0) + 1
    except (OSError, ET.ParseError):
        pass
    return {
        "simulated_s": run_end,
        "total": trip_stats(list(trips.values())),
        "queue_total": {"mean_veh": mean([q for _, q in series]) or 0.0,
                        "max_veh": max((q for _, q in series), default=0.0),
                        "series": series},
        "collisions": split_places(collisions, controlled),
        "emergency_stops": split_places(log_places(os.path.join(d, "sumo.log"),
                                                   "emergency stop"), controlled),
        "conflicting_green_s": round(sum(s["conflicting_green_s"] for s in signals.values()), 1),
        "approaches": dict(sorted(per_approach.items())),
        "streams": dict(sorted(per_stream.items())),
        "timelines": {tls: s["timeline"] for tls, s in signals.items()},
    }


def queue_figures(path, movements, net_links):
    """Per approach: the mean over the run's intervals of its lanes' summed jam (vehicles
    standing in a queue, each lane's mean over the interval) and the largest summed maximum;
    the junction's summed jam per interval."""
    lane_approach = {}
    for tls, links in net_links.items():
        for link in links.values():
            if not link.crossing:
                lane_approach[link.from_lane] = f"{tls}/{link.from_edge}"
    means, maxes, total = {}, {}, {}
    for iv in ET.parse(path).getroot().iter("interval"):
        lane = iv.get("id")[len("rvq_"):]
        a = lane_approach.get(lane)
        if a is None:
            continue
        t = float(iv.get("begin"))
        means.setdefault(a, {}).setdefault(t, 0.0)
        means[a][t] += float(iv.get("meanMaxJamLengthInVehicles", 0))
        maxes.setdefault(a, {}).setdefault(t, 0.0)
        maxes[a][t] += float(iv.get("maxJamLengthInVehicles", 0))
        total[t] = total.get(t, 0.0) + float(iv.get("meanMaxJamLengthInVehicles", 0))
    figures = {a: {"queue_mean_veh": mean(list(means[a].values())),
                   "queue_max_veh": max(maxes[a].values())} for a in means}
    return figures, [(t, round(q, 2)) for t, q in sorted(total.items())]


# ---------------------------------------------------------------------------------------------
# The tables of the report and of summary.txt


SUMMARY_HEADER = ["variant", "demand", "seeds", "vehicles per seed", "mean wait s (seeds)",
                  "time loss s", "longest wait s", "stops/veh", "queue mean veh", "queue max veh",
                  "collisions at junction", "collisions elsewhere",
                  "emergency stops at junction", "conflicting green s"]
AGAINST_HEADER = ["program", "baseline", "demand", "seeds", "mean wait ratio", "worst seed",
                  "longest wait s, program", "longest wait s, baseline"]
STREAM_HEADER = ["stream", "variant", "vehicles", "mean wait s", "longest wait s", "green share",
                 "cycle s"]


def study_view(study, runs):
    """The variants that have results, the demand factors, the nominal one (1 if it has
    results, else the first that has) and the runs at the nominal demand by variant."""
    variants = [v for v in study["variants"] if any(r["variant"] == v for r in runs)]
    demands = study["demands"]
    done = [d for d in demands if any(r["demand"] == d for r in runs)] or demands
    nominal = 1.0 if 1.0 in done else done[0]
    return variants, demands, nominal, by_variant(runs, nominal)


def mean(xs):
    xs = [x for x in xs if x is not None]
    return sum(xs) / len(xs) if xs else None


def fmt(x, digits=1):
    return "-" if x is None else f"{x:.{digits}f}"


def by_variant(runs, demand):
    out = {}
    for r in runs:
        if r["demand"] == demand:
            out.setdefault(r["variant"], []).append(r)
    return out


def summary_rows(variants, demands, runs):
    rows = []
    for demand in demands:
        groups = by_variant(runs, demand)
        for v in variants:
            rs = groups.get(v, [])
            if not rs:
                continue
            waits = [r["total"]["mean_wait_s"] for r in rs if r["total"]["mean_wait_s"] is not None]
            spread = f" ({fmt(min(waits))}-{fmt(max(waits))})" if waits else ""
            rows.append([v, f"{demand:g}", len(rs), fmt(mean([r["total"]["vehicles"] for r in rs]), 0),
                         f"{fmt(mean(waits))}{spread}",
                         fmt(mean([r["total"]["mean_time_loss_s"] for r in rs])),
                         fmt(max(r["total"]["max_wait_s"] or 0 for r in rs), 0),
                         fmt(mean([r["total"]["stops_per_vehicle"] for r in rs]), 2),
                         fmt(mean([r["queue_total"]["mean_veh"] for r in rs])),
                         fmt(max(r["queue_total"]["max_veh"] for r in rs)),
                         sum(r["collisions"]["junction"] for r in rs),
                         sum(r["collisions"]["elsewhere"] for r in rs),
                         sum(r["emergency_stops"]["junction"] for r in rs),
                         fmt(sum(r["conflicting_green_s"] for r in rs))])
    return rows


def stream_rows(variants, groups):
    keys = sorted({k for rs in groups.values() for r in rs for k in r["streams"]})
    rows = []
    for k in keys:
        for v in variants:
            rs = [r["streams"][k] for r in groups.get(v, []) if k in r["streams"]]
            if rs:
                rows.append([k, v, fmt(mean([s["vehicles"] for s in rs]), 0),
                             fmt(mean([s["mean_wait_s"] for s in rs])),
                             fmt(max((s["max_wait_s"] or 0) for s in rs), 0),
                             fmt(mean([s["green_share"] for s in rs]), 2),
                             fmt(mean([s["cycle_s"] for s in rs]))])
    return rows


def against_rows(study, variants, runs):
    """Every control program against every baseline, seed by seed at the same demand."""
    programs = [v for v in variants if v in study["programs"]]
    baselines = [v for v in variants if v not in study["programs"]]
    rows = []
    for p, b, demand in itertools.product(programs, baselines, study["demands"]):
        groups = by_variant(runs, demand)
        seeds = {r["seed"]: r for r in groups.get(b, [])}
        pairs = [(r, seeds[r["seed"]]) for r in groups.get(p, []) if r["seed"] in seeds]
        ratios = [x["total"]["mean_wait_s"] / y["total"]["mean_wait_s"] for x, y in pairs
                  if x["total"]["mean_wait_s"] is not None and y["total"]["mean_wait_s"]]
        if ratios:
            longest = [max(x["total"]["max_wait_s"] or 0 for x, _ in pairs),
                       max(y["total"]["max_wait_s"] or 0 for _, y in pairs)]
            rows.append([p, b, f"{demand:g}", len(ratios), fmt(mean(ratios), 2),
                         fmt(max(ratios), 2), fmt(longest[0], 0), fmt(longest[1], 0)])
    return rows


def text_table(header, rows):
    widths = [max(len(str(c)) for c in col) for col in zip(header, *rows)]
    return "\n".join("  ".join(str(c).rjust(w) for c, w in zip(row, widths))
                     for row in [header] + rows)


def summary_text(study, runs):
    """The report's summary and its programs-against-baselines table as plain text."""
    variants, demands, nominal, groups = study_view(study, runs)
    seeds = ",".join(map(str, study["seeds"]))
    config = os.path.relpath(study["config"])
    return (f"{study['config'] if config.startswith('..') else config}: seeds {seeds}, "
            + (f"{study['end']:g} s per run" if study.get("end") else "until the network is empty")
            + "\n\n" + text_table(SUMMARY_HEADER, summary_rows(variants, demands, runs))
            + "\n\nprograms against baselines (mean wait over the baseline's, seed by seed)\n"
            + text_table(AGAINST_HEADER, against_rows(study, variants, runs)) + "\n")


# ---------------------------------------------------------------------------------------------
# Running a plan, collecting results


def run_plan(runs, jobs, this_command):
    """Runs every run.json, `jobs` at a time, each as its own command line, with progress."""
    total, done, failed, simulated = len(runs), 0, 0, 0.0
    walls = {}  # variant -> wall times of its finished runs: baselines run far faster
    left = {}   # variant -> runs not finished
    for path in runs:
        v = json.load(open(path))["variant"]
        left[v] = left.get(v, 0) + 1
    start = time.monotonic()

    def one(path):
        r = subprocess.run(this_command + ["run", path], stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, text=True)
        return path, r.returncode, r.stdout

    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, jobs)) as pool:
        for fut in concurrent.futures.as_completed([pool.submit(one, p) for p in runs]):
            path, code, output = fut.result()
            done += 1
            result = read_result(os.path.dirname(path))
            variant = json.load(open(path))["variant"]
            left[variant] -= 1
            if code != 0 or result is None or result.get("error"):
                failed += 1
                why = (result or {}).get("error") or output.strip()[-300:]
                say(f"[{done}/{total}] {os.path.basename(os.path.dirname(path))}: FAILED: {why}")
                continue
            simulated += result.get("simulated_s", 0.0)
            walls.setdefault(variant, []).append(result["wall_s"])
            overall = mean([w for ws in walls.values() for w in ws])
            to_go = sum(n * (mean(walls.get(v, [])) or overall) for v, n in left.items()) / \
                max(1, jobs)
            say(f"[{done}/{total}] {run_line(result)}; {simulated:.0f} s simulated so far, "
                f"{time.monotonic() - start:.0f} s elapsed, about {to_go:.0f} s left")
    return failed


def read_result(d):
    try:
        return json.load(open(os.path.join(d, RESULT)))
    except (OSError, ValueError):
        return None


def collect(dirs, out, this_command):
    """Merges the results of the study folders (the first one's study.json describes the
    study) into OUT/results.csv, results.json and report.html. Returns the number of runs
    without a result."""
    study = None
    results, missing = {}, []
    for d in dirs:
        study_path = os.path.join(d, "study.json")
        try:
            part = json.load(open(study_path))
        except (OSError, ValueError) as e:
            raise Problem(f"{study_path}: not a study folder ({e})")
        if study is None:
            study = part
        else:  # folders planned apart (other seeds, demands or programs) add theirs
            study["variants"] += [v for v in part["variants"] if v not in study["variants"]]
            study["programs"].update(part["programs"])
            study["seeds"] = sorted(set(study["seeds"]) | set(part["seeds"]))
            study["demands"] = sorted(set(study["demands"]) | set(part["demands"]))
        runs_dir = os.path.join(d, "runs")
        for run_id in sorted(os.listdir(runs_dir)) if os.path.isdir(runs_dir) else []:
            r = read_result(os.path.join(runs_dir, run_id))
            if r is None:
                missing.append(run_id)
            elif run_id not in results or results[run_id].get("error"):
                results[run_id] = r
    missing = [m for m in missing if m not in results]
    results = [results[k] for k in sorted(results)]
    os.makedirs(out, exist_ok=True)
    again = [r["id"] for r in results if r.get("error")] + missing
    with open(os.path.join(out, "plan-again.txt"), "w") as f:
        for run_id in again:
            path = next(os.path.join(d, "runs", run_id, "run.json") for d in dirs
                        if os.path.exists(os.path.join(d, "runs", run_id, "run.json")))
            f.write(shlex.join(this_command + ["run", path]) + "\n")
    write_csv(os.path.join(out, "results.csv"), results)
    with open(os.path.join(out, "results.json"), "w") as f:
        json.dump({"study": study, "runs": results, "missing": missing}, f, indent=1)
    done = [r for r in results if not r.get("error")]
    summary = summary_text(study, done)
    with open(os.path.join(out, "summary.txt"), "w") as f:
        f.write(summary)
    say(summary)
    from report import write_report  # matplotlib is needed for the report alone
    write_report(out, study, done, missing)
    failed = [r["id"] for r in results if r.get("error")]
    say(f"ruvalda-junction: {len(results) - len(failed)} runs collected, {len(failed)} failed, "
        f"{len(missing)} without a result; wrote results.csv, results.json, summary.txt and "
        f"report.html in {out}")
    if again:
        say(f"runs to do again: {', '.join(again[:6])}{' ...' if len(again) > 6 else ''}; "
            f"their command lines are in {os.path.join(out, 'plan-again.txt')}")
    return len(failed) + len(missing)


def csv_row(level, r, tls, item, figures):
    row = {"level": level, "variant": r["variant"], "seed": r["seed"], "demand": r["demand"],
           "tls": tls, "item": item, "status": r.get("error") or "ok"}
    for k in ("vehicles", "mean_wait_s", "max_wait_s", "mean_time_loss_s", "stops_per_vehicle",
              "queue_mean_veh", "queue_max_veh", "green_share", "cycle_s"):
        v = figures.get(k)
        row[k] = "" if v is None else round(v, 3) if isinstance(v, float) else v
    return row


def write_csv(path, results):
    with open(path, "w", newline="") as f:
        w = csv.DictWriter(f, fieldnames=CSV_COLUMNS)
        w.writeheader()
        for r in results:
            if r.get("error"):
                w.writerow({"level": "run", "variant": r["variant"], "seed": r["seed"],
                            "demand": r["demand"], "status": r["error"]})
                continue
            figures = dict(r["total"], queue_mean_veh=r["queue_total"]["mean_veh"],
                           queue_max_veh=r["queue_total"]["max_veh"])
            row = csv_row("run", r, "", "all", figures)
            row.update({"collisions_junction": r["collisions"]["junction"],
                        "collisions_elsewhere": r["collisions"]["elsewhere"],
                        "emergency_stops_junction": r["emergency_stops"]["junction"],
                        "emergency_stops_elsewhere": r["emergency_stops"]["elsewhere"],
                        "conflicting_green_s": r["conflicting_green_s"],
                        "simulated_s": r["simulated_s"], "wall_s": r["wall_s"]})
            w.writerow(row)
            for key, figures in r["approaches"].items():
                tls, _, item = key.partition("/")
                w.writerow(csv_row("approach", r, tls, item, figures))
            for key, figures in r["streams"].items():
                tls, _, item = key.partition("/")
                w.writerow(csv_row("stream", r, tls, item, figures))


def evaluate(args, this_command):
    if args.collect:
        return 1 if collect([os.path.abspath(d) for d in args.collect],
                            os.path.abspath(args.out), this_command) else 0
    if not args.config:
        raise Problem("evaluate: give a bridge configuration (or --collect DIR...)")
    if not os.access(args.cli, os.X_OK):
        raise Problem(f"no ruvalda-cli at {args.cli} (build it, or give --cli)")
    if not shutil.which("sumo"):
        raise Problem("SUMO is not installed (Debian packages sumo and sumo-tools)")
    runs = plan_study(args)
    if args.plan:
        with open(args.plan, "w") as f:
            for path in runs:
                f.write(shlex.join(this_command + ["run", path]) + "\n")
        say(f"ruvalda-junction: {len(runs)} runs written to {args.plan}; once they have run: "
            f"{os.path.join(HERE, 'ruvalda-junction')} evaluate --collect "
            f"{os.path.abspath(args.out)} --out {os.path.abspath(args.out)}")
        return 0
    say(f"ruvalda-junction: {len(runs)} runs, {args.jobs} at a time, in {args.out}")
    failed = run_plan(runs, args.jobs, this_command)
    return 1 if collect([os.path.abspath(args.out)], os.path.abspath(args.out), this_command) \
        or failed else 0
