#!/usr/bin/env python3
"""A grid of signalised junctions for benchmarks, with a two-stream control program per junction.

    make_grid.py N OUTDIR [--seed S] [--length SECONDS] [--rate VEH_PER_HOUR]
                 [--block METRES] [--lanes 1|2]

N x N junctions with traffic lights (netgenerate --grid), BLOCK metres apart (default 200), LANES
lanes each way (default 1), and a road of the same length attached on every side, so that every
junction has four arms; the attached roads end in dead ends without lights. Demand: random trips
(randomTrips.py, routed by duarouter) of at most four blocks, RATE vehicles per hour per junction
(default 250) departing during the first LENGTH seconds (default 600). Same arguments, same files.

Into OUTDIR it writes:
    grid.net.xml             the network (netgenerate's static programs, replaced by the controllers)
    grid.rou.xml             the demand
    grid.det.xml             the controllers' induction loops, 2 m before every stop line
    grid.sumocfg             SUMO's configuration for the controllers (network, demand, loops)
    bridge.json              the bridge configuration naming every junction (ports 0: free ports)
    junctions/ID.rvc         the control program of junction ID: stream 01 north-south, stream 02
                             east-west, every movement of an axis in its stream, left turns giving
                             way to the opposite traffic
    junctions/ID.DTL         its detector translation, junctions/ID.map.json its mapping
    grid.actuated.add.xml    SUMO's own actuated programs (netgenerate's), programID "actuated"
    grid.actuated.sumocfg    SUMO alone with those programs, the bridge's step length and SUMO
                             options, ending after LENGTH seconds

Exit status 0 when written, 1 when a tool failed or the grid is not what the programs expect,
2 for bad arguments.
"""
import argparse
import functools
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "junction"))
import ruvalda_junction as rj  # noqa: E402

SUMO_HOME = os.environ.get("SUMO_HOME", "/usr/share/sumo")
# without SUMO_HOME randomTrips cannot find duarouter's schemas and netgenerate warns
os.environ.setdefault("SUMO_HOME", SUMO_HOME)

STEP_LENGTH = 0.1
MAX_TRIP_BLOCKS = 4          # trips of bounded length load a big grid like a small one
STREAM_AXIS = {1: ("N", "S"), 2: ("E", "W")}

# Timing of both streams, tenths: minimum green, maximum green, amber; minimum red; gap time.
MIN_GREEN, MAX_GREEN, AMBER = 100, 400, 30
MIN_RED, GAP = 20, 30
SUMO_DETECTOR_BASE = 1000    # as in the examples: SUMO number = 1000 + program detector


class GridError(Exception):
    pass


def run(cmd, what):
    proc = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if proc.returncode != 0:
        raise GridError(f"{what} failed (exit {proc.returncode}):\n{proc.stdout.strip()[-2000:]}")


def strip_header(path, comment):
    """SUMO's tools head their files with the date and the command line; without them the same
    arguments give the same bytes. The schema reference goes too: without SUMO_HOME, SUMO looks
    it up on the web and, offline, refuses the file."""
    with open(path) as f:
        text = f.read()
    body = re.sub(r"\A(<\?xml[^>]*\?>\s*)?(<!--.*?-->\s*)*", "", text, count=1, flags=re.S)
    body = re.sub(r'\s+xmlns:xsi="[^"]*"\s+xsi:noNamespaceSchemaLocation="[^"]*"', "", body,
                  count=1)
    with open(path, "w") as f:
        f.write(f'<?xml version="1.0" encoding="UTF-8"?>\n<!-- {comment} -->\n' + body)


def netgenerate(n, block, lanes, tls_type, out):
    run(["netgenerate", "--grid", "--grid.number", str(n), "--grid.length", str(block),
         "--grid.attach-length", str(block), "--default-junction-type", "traffic_light",
         "--default.lanenumber", str(lanes), "--no-turnarounds", "true",
         "--tls.default-type", tls_type,
         # left turns yield to the opposite traffic in the axis's green: no phase of their own
         "--tls.left-green.time", "0",
         "--output-file", out], "netgenerate")


def actuated_programs(net_path, out_path):
    """The actuated programs of a network built with tls.default-type actuated as an additional
    file: loaded after the network, a program of another programID becomes the one SUMO runs."""
    root = ET.parse(net_path).getroot()
    add = ET.Element("additional")
    for tl in root.iter("tlLogic"):
        tl.set("programID", "actuated")
        add.append(tl)
    ET.indent(add)
    with open(out_path, "w") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n<!-- SUMO\'s own actuated programs '
                '(tls.default-type actuated), for SUMO alone -->\n')
        f.write(ET.tostring(add, encoding="unicode") + "\n")
    return len(add)


class Junction:
    def __init__(self, tls, net):
        self.tls = tls
        self.streams = {}    # stream number -> links, approach lanes
        for number, axis in STREAM_AXIS.items():
            links = [l for l in net.links.values() if not l.crossing
                     and net.compass_from(l.from_lane) in axis]
            lanes = sorted({l.from_lane for l in links},
                           key=lambda lane: (axis.index(net.compass_from(lane)), lane))
            self.streams[number] = (sorted(links, key=lambda l: l.index), lanes)
        approaches = {net.compass_from(l.from_lane) for l in net.links.values()}
        counted = sum(len(links) for links, _ in self.streams.values())
        if approaches != {"N", "E", "S", "W"} or counted != len(net.links):
            raise GridError(f"traffic light {tls}: approaches {sorted(approaches)}, "
                            f"{counted} of {len(net.links)} links on the two axes; expected four "
                            "arms from north, east, south and west")
        s1, s2 = (rj.Stream(n, "through", self.streams[n][0]) for n in (1, 2))
        self.clearance = {(1, 2): rj.clearance(net, s1, s2, AMBER),
                          (2, 1): rj.clearance(net, s2, s1, AMBER)}
        self.detectors = {n: len(lanes) for n, (_, lanes) in self.streams.items()}
        if max(self.detectors.values()) > rj.MAX_DETECTORS:
            raise GridError(f"traffic light {tls}: more than {rj.MAX_DETECTORS} lanes in a stream")

    def loops(self):
        """(SUMO number, loop id, lane) of every stop-line loop."""
        for number, (_, lanes) in self.streams.items():
            for k, lane in enumerate(lanes, 1):
                yield (SUMO_DETECTOR_BASE + number * 10 + k,
                       f"rv_{self.tls}_{number:02d}_{k}", lane)

    def program(self, n):
        digits = max(self.detectors.values())
        lines = ["# ruvalda-version=100",
                 f"# Junction {self.tls} of a {n} x {n} grid (tools/grid/make_grid.py). Two streams,",
                 "# every movement of an axis in its stream; left turns give way to the opposite",
                 "# traffic (their links are g in the mapping):"]
        for number, (links, lanes) in self.streams.items():
            lines.append(f"#   {number:02d} {'north-south' if number == 1 else 'east-west'}: links "
                         + " ".join(str(l.index) for l in links))
        lines += ["# Detector k of a stream: a loop 2 m before the stop line of its k-th approach lane",
                  "# (north or east first). Clearance times from the junction's geometry, as",
                  "# ruvalda-junction from-sumo computes them.",
                  "# PHASE TIMERS IN TENTH OF SECONDS",
                  "#\tMINGREEN\tMAXGREEN\tAMBER\t",
                  "%mat 1 2",
                  "#     01  02",
                  f"01   -1 {self.clearance[1, 2]:3d}",
                  f"02  {self.clearance[2, 1]:3d}  -1",
                  "# minimum red",
                  f"IG  {MIN_RED:3d} {MIN_RED:3d}"]
        row = lambda k, v: " ".join(f"{v if self.detectors[s] >= k else -1:3d}" for s in (1, 2))
        lines += [f"D{k}  " + row(k, 1) for k in range(1, digits + 1)]
        lines += [f"T{k}  " + row(k, GAP) for k in range(1, digits + 1)]
        lines += [f"%tt  {s} {MIN_GREEN:4d} {MAX_GREEN:4d} {AMBER:4d}" for s in (1, 2)]
        lines.append("%rules")
        return "\n".join(lines) + "\n"

    def dtl(self):
        return "".join(f"{number} {number - SUMO_DETECTOR_BASE}\n" for number, _, _ in self.loops())

    def mapping(self):
        """The mapping as JSON, a stream a line as in the examples."""
        comment = (f"Streams of {self.tls}.rvc with the link indices of traffic light {self.tls} "
                   "and SUMO's green letter (g: gives way); detectors: SUMO number -> loop id. "
                   "Written by make_grid.py.")
        streams = [json.dumps({"stream": number, "links": [[l.index, l.letter] for l in links]})
                   for number, (links, _) in self.streams.items()]
        detectors = [f"{json.dumps(str(number))}: {json.dumps(loop)}"
                     for number, loop, _ in self.loops()]
        return ("{\n  \"comment\": " + json.dumps(comment) + ",\n  \"streams\": [\n    "
                + ",\n    ".join(streams) + "\n  ],\n  \"detectors\": {\n    "
                + ",\n    ".join(detectors) + "\n  }\n}\n")


def junctions_of(net_path):
    tls_ids = [tl.get("id") for tl in ET.parse(net_path).getroot().iter("tlLogic")]
    # ruvalda_junction.Network reads the whole network for each traffic light; one parse
    # serves them all
    cached = functools.lru_cache(maxsize=None)(ET.parse)
    saved = rj.ET.parse
    rj.ET.parse = cached
    try:
        return [Junction(tls, rj.Network(net_path, tls)) for tls in tls_ids]
    except rj.Problem as e:
        raise GridError(str(e))
    finally:
        rj.ET.parse = saved


def sumocfg(net, routes, additional, length, alone_seed=None):
    """SUMO's configuration. For SUMO alone (alone_seed given) also what the bridge adds on its
    command line (sumo_bridge.sumo_options) but the outputs, which the benchmark names."""
    time = f"""
    <time>
        <begin value="0"/>
        <end value="{length:g}"/>"""
    if alone_seed is None:
        time += """
    </time>"""
    else:
        time += f"""
        <step-length value="{STEP_LENGTH}"/>
    </time>
    <processing>
        <collision.check-junctions value="true"/>
        <collision.action value="warn"/>
        <time-to-teleport value="-1"/>
    </processing>
    <random_number>
        <seed value="{alone_seed}"/>
    </random_number>"""
    return f"""<?xml version="1.0" encoding="UTF-8"?>
<configuration>
    <input>
        <net-file value="{net}"/>
        <route-files value="{routes}"/>
        <additional-files value="{additional}"/>
    </input>{time}
    <report>
        <no-step-log value="true"/>
    </report>
</configuration>
"""


def demand(net_path, out_path, n, block, rate, length, seed, tmp):
    vehicles_per_second = rate * n * n / 3600.0
    trips = os.path.join(tmp, "grid.trips.xml")
    run([sys.executable, os.path.join(SUMO_HOME, "tools", "randomTrips.py"),
         "--net-file", net_path, "--output-trip-file", trips, "--route-file", out_path,
         "--seed", str(seed), "--begin", "0", "--end", f"{length:g}",
         "--period", f"{1.0 / vehicles_per_second:.6f}",
         "--min-distance", f"{block:g}", "--max-distance", f"{MAX_TRIP_BLOCKS * block:g}",
         "--trip-attributes", 'departLane="best" departSpeed="max"'], "randomTrips.py")
    for leftover in (out_path + ".bak", os.path.splitext(out_path)[0] + ".alt.xml"):
        if os.path.exists(leftover):
            os.remove(leftover)


def make_grid(args):
    out = os.path.abspath(args.outdir)
    os.makedirs(os.path.join(out, "junctions"), exist_ok=True)
    net = os.path.join(out, "grid.net.xml")
    # (no double hyphen: it ends an XML comment)
    what = (f"make_grid.py N={args.n} seed={args.seed} length={args.length:g} "
            f"rate={args.rate:g} block={args.block:g} lanes={args.lanes}")
    with tempfile.TemporaryDirectory(prefix="make-grid-") as tmp:
        netgenerate(args.n, args.block, args.lanes, "static", net)
        actuated_net = os.path.join(tmp, "actuated.net.xml")
        netgenerate(args.n, args.block, args.lanes, "actuated", actuated_net)
        count = actuated_programs(actuated_net, os.path.join(out, "grid.actuated.add.xml"))
        demand(net, os.path.join(out, "grid.rou.xml"), args.n, args.block, args.rate,
               args.length, args.seed, tmp)
    strip_header(net, f"network of {what}")
    strip_header(os.path.join(out, "grid.rou.xml"), f"demand of {what}")
    junctions = junctions_of(net)
    if len(junctions) != args.n * args.n or count != len(junctions):
        raise GridError(f"{len(junctions)} traffic lights ({count} actuated), expected "
                        f"{args.n * args.n}")

    loops = ['<?xml version="1.0" encoding="UTF-8"?>',
             f"<!-- The controllers' induction loops, 2 m before every stop line; {what} -->",
             "<additional>"]
    entries = []
    for j in junctions:
        base = os.path.join(out, "junctions", j.tls)
        with open(base + ".rvc", "w") as f:
            f.write(j.program(args.n))
        with open(base + ".DTL", "w") as f:
            f.write(j.dtl())
        with open(base + ".map.json", "w") as f:
            f.write(j.mapping())
        loops += [f'    <inductionLoop id="{loop}" lane="{lane}" pos="-2" freq="3600" file="NUL"/>'
                  for _, loop, lane in j.loops()]
        entries.append({"tls": j.tls, "port": 0, "mapping": f"junctions/{j.tls}.map.json",
                        "program": f"junctions/{j.tls}.rvc"})
    loops.append("</additional>")
    with open(os.path.join(out, "grid.det.xml"), "w") as f:
        f.write("\n".join(loops) + "\n")
    with open(os.path.join(out, "grid.sumocfg"), "w") as f:
        f.write(sumocfg("grid.net.xml", "grid.rou.xml", "grid.det.xml", args.length))
    with open(os.path.join(out, "grid.actuated.sumocfg"), "w") as f:
        f.write(sumocfg("grid.net.xml", "grid.rou.xml", "grid.actuated.add.xml", args.length,
                        alone_seed=args.seed))
    with open(os.path.join(out, "bridge.json"), "w") as f:
        json.dump({"sumocfg": "grid.sumocfg", "step_length": STEP_LENGTH, "seed": args.seed,
                   "host": "127.0.0.1", "outputs": "out", "junctions": entries}, f, indent=1)
        f.write("\n")
    print(f"make_grid: {len(junctions)} junctions, {args.lanes} lane(s) each way, blocks of "
          f"{args.block:g} m, {args.rate:g} veh/h per junction for {args.length:g} s, in {out}")


def positive(kind):
    def parse(text):
        try:
            value = kind(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"not a number: {text!r}")
        if value <= 0:
            raise argparse.ArgumentTypeError(f"must be more than 0: {text!r}")
        return value
    return parse


def main(argv=None):
    ap = argparse.ArgumentParser(prog="make_grid.py", description=__doc__.split("\n")[0])
    ap.add_argument("n", type=positive(int), metavar="N", help="junctions per side")
    ap.add_argument("outdir", metavar="OUTDIR")
    ap.add_argument("--seed", type=int, default=42, help="demand and SUMO seed (default 42)")
    ap.add_argument("--length", type=positive(float), default=600.0,
                    help="seconds of demand, and the end of the SUMO configurations (default 600)")
    ap.add_argument("--rate", type=positive(float), default=250.0,
                    help="vehicles per hour per junction (default 250)")
    ap.add_argument("--block", type=positive(float), default=200.0,
                    help="metres between junctions (default 200)")
    ap.add_argument("--lanes", type=int, choices=(1, 2), default=1,
                    help="lanes each way (default 1)")
    args = ap.parse_args(argv)
    missing = [t for t in ("netgenerate", "duarouter") if shutil.which(t) is None]
    if missing or not os.path.exists(os.path.join(SUMO_HOME, "tools", "randomTrips.py")):
        print(f"make_grid: SUMO's tools are missing ({', '.join(missing) or 'randomTrips.py'}; "
              "Debian packages sumo and sumo-tools)", file=sys.stderr)
        return 1
    try:
        make_grid(args)
    except (GridError, OSError, ET.ParseError) as e:
        print(f"make_grid: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
