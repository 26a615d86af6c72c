#!/usr/bin/env python3
"""Wall time and peak memory of SUMO alone against SUMO with Ruvalda's controllers, on grids of
junctions (tools/grid/make_grid.py, 600 s) and the crossing's hour (examples/crossing/sumo).

    bench/sumo_grid.py [--ruvalda-sumo PATH] [--with-bridge] [--cli PATH] [--rounds R]
                       [--grids 4,10,16] [--no-crossing] [--work DIR]

For every case, in each round, one after the other:
  - SUMO alone: `sumo` with SUMO's own actuated programs (netgenerate's for the grids,
    netconvert's for the crossing) and the options the bridge gives SUMO, outputs included;
  - ruvalda-sumo CONFIG.json --end S (with --ruvalda-sumo; without, or when the binary does not
    exist, its columns are left out and a note says why);
  - with --with-bridge: tools/sumo-bridge/sumo_bridge.py and one `ruvalda-cli sumo` per
    junction (slow: two socket round trips per junction and step).
Every run must end normally (exit 0, or 3 for a complete run with foe links both G, which is
noted); a failed run stops the benchmark with exit 1. The table gives the best wall time of the
rounds, the ratio to SUMO alone, and the peak resident memory: of SUMO alone and of
ruvalda-sumo, with (ruvalda-sumo - SUMO alone) / junctions as the memory a controller costs;
for the bridge the largest ruvalda-cli process and the bridge's own peak (the bridge or the SUMO
it started, whichever was bigger). Wall times are the machine's at the time: run it on an idle
machine, and compare ratios rather than seconds.
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ET

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools", "sumo-bridge"))
sys.path.insert(0, os.path.join(ROOT, "tools", "grid"))
from sumo_bridge import sumo_options  # noqa: E402
import make_grid  # noqa: E402

BRIDGE = os.path.join(ROOT, "tools", "sumo-bridge", "sumo_bridge.py")
CROSSING = os.path.join(ROOT, "examples", "crossing")
GRID_SECONDS = 600
CROSSING_SECONDS = 3600
SEED = 42
BRIDGE_CONFLICTS = 3   # exit status of a complete run with foe links both G
GNU_TIME = "/usr/bin/time" if os.access("/usr/bin/time", os.X_OK) else None  # Debian's time


class BenchError(Exception):
    pass


def sumo_env():
    env = dict(os.environ)
    env.setdefault("SUMO_HOME", "/usr/share/sumo")
    return env


def timed(cmd, rss_file):
    """cmd under GNU time, which writes its peak RSS (KB) to rss_file. Not this process's own
    rusage of its children: a child forked from Python starts its peak at Python's size."""
    return [GNU_TIME, "-f", "%M", "-o", rss_file] + cmd if GNU_TIME else cmd


def read_rss(rss_file):
    """Peak RSS in MB from GNU time's file, None without it."""
    try:
        with open(rss_file) as f:
            return int(f.read().split()[-1]) / 1024.0
    except (OSError, ValueError, IndexError):
        return None


def measured(cmd, d):
    """Runs cmd to its end, output to d/run.log: (wall seconds, peak RSS in MB, exit status)."""
    rss_file = os.path.join(d, "rss")
    start = time.monotonic()
    with open(os.path.join(d, "run.log"), "w") as out:
        rc = subprocess.run(timed(cmd, rss_file), stdout=out, stderr=subprocess.STDOUT,
                            env=sumo_env()).returncode
    return time.monotonic() - start, read_rss(rss_file), rc


def arrived(d):
    """Vehicles arrived in the run of folder d: the bridge's or ruvalda-sumo's summary, else
    SUMO's statistics; None when neither is there. Runs of different controllers move different
    traffic, so SUMO's own share of the time differs too."""
    try:
        with open(os.path.join(d, "summary.json")) as f:
            return json.load(f)["vehicles_arrived"]
    except (OSError, ValueError, KeyError):
        pass
    try:
        stats = ET.parse(os.path.join(d, "statistics.xml")).getroot()
        return int(stats.find("vehicleTripStatistics").get("count"))
    except (OSError, ET.ParseError, AttributeError, TypeError, ValueError):
        return None


class Case:
    def __init__(self, name, work, config, alone_cfg, seconds, junctions):
        self.name, self.work, self.config = name, work, config
        self.alone_cfg, self.seconds, self.junctions = alone_cfg, seconds, junctions
        self.results = {}   # variant -> list of (wall, rss, extra)


def prepare_grid(n, work):
    out = os.path.join(work, f"grid-{n}")
    if make_grid.main([str(n), out, "--seed", str(SEED), "--length", str(GRID_SECONDS)]) != 0:
        raise BenchError(f"make_grid.py {n} failed")
    return Case(f"grid {n}x{n}", out, os.path.join(out, "bridge.json"),
                os.path.join(out, "grid.actuated.sumocfg"), GRID_SECONDS, n * n)


def prepare_crossing(work):
    """The crossing's network built from its sources (as run.sh does), once with netconvert's
    static program for the controller and once with its actuated one for SUMO alone."""
    out = os.path.join(work, "crossing")
    src = os.path.join(CROSSING, "sumo")
    os.makedirs(out, exist_ok=True)
    net = os.path.join(out, "crossing.net.xml")
    actuated_net = os.path.join(out, "crossing-actuated.net.xml")
    for tls_type, path in (("static", net), ("actuated", actuated_net)):
        r = subprocess.run(["netconvert"] + [a for kind in ("node", "edge", "connection") for a in
                                             (f"--{kind}-files",
                                              os.path.join(src, f"crossing.{kind[:3]}.xml"))]
                           + ["--no-turnarounds", "true", "--tls.default-type", tls_type,
                              "--output-file", path],
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                           env=sumo_env())
        if r.returncode != 0:
            raise BenchError(f"netconvert of the crossing failed: {r.stdout[-500:]}")
    make_grid.actuated_programs(actuated_net, os.path.join(out, "crossing.actuated.add.xml"))
    routes = os.path.join(src, "crossing.rou.xml")
    with open(os.path.join(out, "crossing.sumocfg"), "w") as f:
        f.write(make_grid.sumocfg(net, routes, os.path.join(src, "crossing.det.xml"),
                                  CROSSING_SECONDS))
    with open(os.path.join(out, "crossing.actuated.sumocfg"), "w") as f:
        f.write(make_grid.sumocfg(net, routes, "crossing.actuated.add.xml", CROSSING_SECONDS,
                                  alone_seed=SEED))
    with open(os.path.join(out, "bridge.json"), "w") as f:
        json.dump({"sumocfg": "crossing.sumocfg", "step_length": 0.1, "seed": SEED,
                   "host": "127.0.0.1", "outputs": "out",
                   "junctions": [{"tls": "C", "port": 0,
                                  "mapping": os.path.join(src, "crossing.map.json"),
                                  "program": os.path.join(CROSSING, "crossing.rvc")}]}, f, indent=1)
    return Case("crossing hour", out, os.path.join(out, "bridge.json"),
                os.path.join(out, "crossing.actuated.sumocfg"), CROSSING_SECONDS, 1)


def run_alone(case, round_no):
    d = os.path.join(case.work, "runs", f"alone-{round_no}")
    os.makedirs(d, exist_ok=True)
    wall, rss, rc = measured(["sumo", "-c", case.alone_cfg] + sumo_options(d, 0.1, SEED)
                             + ["--end", str(case.seconds)], d)
    if rc != 0:
        raise BenchError(f"{case.name}: SUMO alone exit {rc}; see {d}")
    return wall, rss, "", d


def run_ruvalda_sumo(case, round_no, binary):
    d = os.path.join(case.work, "runs", f"ruvalda-sumo-{round_no}")
    os.makedirs(d, exist_ok=True)
    wall, rss, rc = measured([binary, case.config, "--end", str(case.seconds),
                              "--summary", os.path.join(d, "summary.json")], d)
    if rc not in (0, BRIDGE_CONFLICTS):
        raise BenchError(f"{case.name}: ruvalda-sumo exit {rc}; see {d}/run.log")
    return wall, rss, "foe links both G" if rc == BRIDGE_CONFLICTS else "", d


def run_bridge(case, round_no, cli):
    d = os.path.join(case.work, "runs", f"bridge-{round_no}")
    os.makedirs(d, exist_ok=True)
    ports_file = os.path.join(d, "ports")
    if os.path.exists(ports_file):
        os.remove(ports_file)
    with open(case.config) as f:
        programs = {j["tls"]: os.path.join(os.path.dirname(case.config), j["program"])
                    for j in json.load(f)["junctions"]}
    start = time.monotonic()
    log = open(os.path.join(d, "bridge.log"), "w")
    bridge = subprocess.Popen(timed([sys.executable, BRIDGE, case.config, "--end",
                                     str(case.seconds), "--ports-file", ports_file, "--summary",
                                     os.path.join(d, "summary.json"), "--accept-timeout", "600"],
                                    os.path.join(d, "rss")),
                              stdout=log, stderr=subprocess.STDOUT, env=sumo_env())
    while not os.path.exists(ports_file) and bridge.poll() is None:
        time.sleep(0.02)
    controllers = []
    if bridge.poll() is None:
        ports = dict(line.split() for line in open(ports_file) if line.strip())
        with open(os.path.join(d, "controllers.log"), "w") as ctl_log:
            for k, (tls, program) in enumerate(programs.items()):
                controllers.append(subprocess.Popen(
                    timed([cli, "sumo", program, f"sumo://127.0.0.1:{ports[tls]}"],
                          os.path.join(d, f"rss-{k}")),
                    stdout=ctl_log, stderr=subprocess.STDOUT))
    bridge.wait()
    wall = time.monotonic() - start
    log.close()
    for c in controllers:
        try:
            c.wait(timeout=30)
        except subprocess.TimeoutExpired:
            c.kill()
            c.wait()
    if bridge.returncode not in (0, BRIDGE_CONFLICTS):
        raise BenchError(f"{case.name}: bridge exit {bridge.returncode}; see {d}/bridge.log")
    cli_rss = [read_rss(os.path.join(d, f"rss-{k}")) for k in range(len(controllers))]
    biggest = max(cli_rss) if cli_rss and None not in cli_rss else None
    note = "foe links both G" if bridge.returncode == BRIDGE_CONFLICTS else ""
    return wall, read_rss(os.path.join(d, "rss")), (biggest, note), d


def peak(values):
    values = [v for v in values if v is not None]
    return max(values) if values else None


def mb(value, digits=0):
    return "n/a" if value is None else f"{value:.{digits}f}"


def table(cases, has_rs, has_bridge, rs_note):
    """The best wall time of the rounds and the largest peak RSS (MB) per case and variant."""
    head = ["case", "junctions", "sim s", "SUMO alone s", "MB"]
    if has_rs:
        head += ["ruvalda-sumo s", "MB", "ratio", "MB/junction"]
    if has_bridge:
        head += ["bridge s", "ratio", "bridge|SUMO MB", "ruvalda-cli MB"]
    rows = []
    for c in cases:
        alone = min(r[0] for r in c.results["alone"])
        alone_mb = peak(r[1] for r in c.results["alone"])
        row = [c.name, str(c.junctions), str(c.seconds), f"{alone:.2f}", mb(alone_mb)]
        if has_rs:
            rs = min(r[0] for r in c.results["ruvalda-sumo"])
            rs_mb = peak(r[1] for r in c.results["ruvalda-sumo"])
            per = None if None in (rs_mb, alone_mb) else (rs_mb - alone_mb) / c.junctions
            row += [f"{rs:.2f}", mb(rs_mb), f"{rs / alone:.2f}", mb(per, 2)]
        if has_bridge:
            br = min(r[0] for r in c.results["bridge"])
            row += [f"{br:.2f}", f"{br / alone:.2f}", mb(peak(r[1] for r in c.results["bridge"])),
                    mb(peak(r[2][0] for r in c.results["bridge"]), 1)]
        rows.append(row)
    widths = [max(len(h), *(len(r[i]) for r in rows)) for i, h in enumerate(head)]
    lines = ["  ".join(v.rjust(w) if i else v.ljust(w) for i, (v, w) in enumerate(zip(r, widths)))
             for r in [head] + rows]
    if not has_rs:
        lines.append(f"ruvalda-sumo: not measured ({rs_note})")
    if not GNU_TIME:
        lines.append("peak memory: n/a without /usr/bin/time (Debian package time)")
    return "\n".join(lines)


def parse_grids(text):
    try:
        sizes = [int(x) for x in text.split(",") if x.strip()]
    except ValueError:
        raise argparse.ArgumentTypeError(f"a list of grid sizes such as 4,10,16, not {text!r}")
    if any(n < 1 for n in sizes):
        raise argparse.ArgumentTypeError(f"grid sizes must be 1 or more: {text!r}")
    return sizes


def main(argv=None):
    ap = argparse.ArgumentParser(prog="sumo_grid.py", description=__doc__.split("\n")[0])
    ap.add_argument("--ruvalda-sumo", metavar="PATH", help="the ruvalda-sumo binary")
    ap.add_argument("--with-bridge", action="store_true",
                    help="also the Python bridge with one ruvalda-cli per junction (slow)")
    ap.add_argument("--cli", default=os.path.join(ROOT, "build", "release", "ruvalda-cli"),
                    help="ruvalda-cli for --with-bridge (default build/release/ruvalda-cli)")
    ap.add_argument("--rounds", type=int, default=1, help="best of R rounds (default 1)")
    ap.add_argument("--grids", type=parse_grids, default=[4, 10, 16],
                    help="grid sizes (default 4,10,16)")
    ap.add_argument("--no-crossing", action="store_true", help="leave out the crossing's hour")
    ap.add_argument("--work", help="folder for the networks and runs (default: a new one in /tmp)")
    args = ap.parse_args(argv)
    if args.rounds < 1:
        ap.error("--rounds must be 1 or more")
    if shutil.which("sumo") is None or shutil.which("netconvert") is None:
        print("sumo_grid.py: SUMO is not installed (Debian packages sumo and sumo-tools)",
              file=sys.stderr)
        return 1
    if args.with_bridge and not os.access(args.cli, os.X_OK):
        print(f"sumo_grid.py: no ruvalda-cli at {args.cli} (give it with --cli)", file=sys.stderr)
        return 1
    rs_note = "no --ruvalda-sumo given"
    if args.ruvalda_sumo and not os.access(args.ruvalda_sumo, os.X_OK):
        rs_note = f"{args.ruvalda_sumo} does not exist yet"
        args.ruvalda_sumo = None
    work = os.path.abspath(args.work or tempfile.mkdtemp(prefix="ruvalda-sumo-grid-"))
    os.makedirs(work, exist_ok=True)
    try:
        cases = [prepare_grid(n, work) for n in args.grids]
        if not args.no_crossing:
            cases.append(prepare_crossing(work))
        for round_no in range(1, args.rounds + 1):
            for c in cases:
                runs = [("alone", lambda: run_alone(c, round_no))]
                if args.ruvalda_sumo:
                    runs.append(("ruvalda-sumo",
                                 lambda: run_ruvalda_sumo(c, round_no, args.ruvalda_sumo)))
                if args.with_bridge:
                    runs.append(("bridge", lambda: run_bridge(c, round_no, args.cli)))
                for variant, run in runs:
                    wall, rss, extra, d = run()
                    c.results.setdefault(variant, []).append((wall, rss, extra))
                    note = extra[1] if isinstance(extra, tuple) else extra
                    print(f"round {round_no}: {c.name}, {variant}: {wall:.2f} s, {mb(rss)} MB, "
                          f"{arrived(d)} vehicles arrived" + (f" ({note})" if note else ""),
                          flush=True)
    except BenchError as e:
        print(f"sumo_grid.py: {e}", file=sys.stderr)
        return 1
    print()
    print(table(cases, bool(args.ruvalda_sumo), args.with_bridge, rs_note))
    print(f"(best of {args.rounds} round(s); networks and runs in {work})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
