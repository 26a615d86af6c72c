#!/usr/bin/env python3
"""From a SUMO network to a Ruvalda control program, and a check of a program against the network.

    ruvalda-junction from-sumo NET.net.xml --tls ID --out DIR [--name NAME]
                     [--streams movement|approach] [--detectors stopline,upstream=40]
                     [--through-green MIN,MAX] [--turn-green MIN,MAX] [--pedestrian-green S]
                     [--amber S] [--min-red S] [--gap S] [--demand VEH_PER_HOUR]
    ruvalda-junction check-against NET.net.xml --tls ID PROGRAM.rvc MAPPING.json
                     [--loops FILE.add.xml]

docs/junction.md describes the streams, their numbers, the clearance formula and the files.
Exit status: 0 done (check-against: no problem found), 1 problems found or bad input, 2 usage.
"""
import argparse
import json
import math
import os
import re
import sys
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "sumo-bridge"))
from sumo_bridge import read_foe_pairs  # noqa: E402

# Streams: approach k (clockwise from north, from 0) numbers its vehicle streams from 3k + 1;
# pedestrian crossings are pairs from 31 (both halves switch the one SUMO crossing).
NUMBERS_PER_APPROACH = 3
MAX_APPROACHES = 6           # 18 vehicle streams: below the companion numbers 21..28
FIRST_CROSSING = 31
MAX_CROSSINGS = 4            # 31/32 .. 37/38, the pairs the engine knows
MAX_DETECTORS = 9            # detector digits 1..9 of a stream
MAX_BLOCKS = 10              # the sequence display names ten blocks, A to W
SUMO_DETECTOR_BASE = 1000    # SUMO detector number = 1000 + program detector (stream * 10 + k)

# Clearance formula (docs/junction.md), metres and metres per second.
VEHICLE_LENGTH = 6.0
VEHICLE_CLEARING_SPEED = 10.0
VEHICLE_ENTERING_SPEED = 11.1
PEDESTRIAN_CLEARING_SPEED = 1.2
PEDESTRIAN_ENTERING_SPEED = 1.5
STOPLINE_GAP_POSITION = -2.0  # a stop-line loop lies 2 m before the end of its lane


class Problem(Exception):
    pass


# ---------------------------------------------------------------------------------------------
# The network


class Link:
    def __init__(self, index):
        self.index = index
        self.from_lane = self.to_lane = ""
        self.from_edge = self.to_edge = ""
        self.direction = ""
        self.crossing = ""      # the crossing edge for a pedestrian link
        self.path = []          # points from the stop line through the junction
        self.letter = "g"


class Network:
    """What the tools need of a .net.xml: lanes, the traffic light's links, its program."""

    def __init__(self, path, tls):
        self.path = path
        self.tls = tls
        try:
            root = ET.parse(path).getroot()
        except (OSError, ET.ParseError) as e:
            raise Problem(f"{path}: cannot read the network: {e}")
        self.lanes = {}       # lane id -> (edge id, shape, length)
        self.ends = {}        # edge id -> (from node, to node), plain edges only
        self.function = {}
        self.crossing_edges = {}
        self.edge_shape = {}
        for e in root.iter("edge"):
            self.function[e.get("id")] = e.get("function", "")
            if not e.get("function"):
                self.ends[e.get("id")] = (e.get("from"), e.get("to"))
            if e.get("crossingEdges"):
                self.crossing_edges[e.get("id")] = e.get("crossingEdges").split()
            for lane in e.iter("lane"):
                self.lanes[lane.get("id")] = (e.get("id"), parse_shape(lane.get("shape")),
                                              float(lane.get("length", 0)))
        for tl in root.iter("tlLogic"):
            if tl.get("id") == tls:
                self.phases = [p.get("state") for p in tl.iter("phase")]
                break
        else:
            raise Problem(f"{path}: no traffic light {tls}")
        via_next = {}
        self.links = {}
        for c in root.iter("connection"):
            if c.get("via"):
                via_next[c.get("via")] = None
            if c.get("from", "").startswith(":") and c.get("via"):
                via_next[f"{c.get('from')}_{c.get('fromLane')}"] = c.get("via")
        for c in root.iter("connection"):
            if c.get("tl") != tls:
                continue
            for key in ("linkIndex", "linkIndex2"):
                if c.get(key) is None or int(c.get(key)) < 0:
                    continue
                link = self.links.setdefault(int(c.get(key)), Link(int(c.get(key))))
                link.from_edge, link.to_edge = c.get("from"), c.get("to")
                link.from_lane = f"{c.get('from')}_{c.get('fromLane')}"
                link.to_lane = f"{c.get('to')}_{c.get('toLane')}"
                link.direction = c.get("dir", "")
                if self.function.get(link.to_edge) == "crossing":
                    link.crossing = link.to_edge
                    link.path = list(self.lanes[link.to_lane][1])
                else:
                    lane, points = c.get("via"), []
                    while lane:
                        points += self.lanes[lane][1]
                        lane = via_next.get(lane)
                    link.path = points
        if not self.links:
            raise Problem(f"{path}: traffic light {tls} controls no link")
        for i, link in self.links.items():
            link.letter = "G" if any(len(s) > i and s[i] == "G" for s in self.phases) else "g"
        self.foes = set(read_foe_pairs(path, [tls])[tls])
        self.junction_point = centroid([p for link in self.links.values() for p in link.path[:1]])

    def upstream_end(self, edge):
        """Where the road of an approach begins: back along the edges while a node only joins
        one edge into the next (a pocket widening, say), so that demand enters before it. An
        edge from a node already passed (the road the other way) does not count."""
        passed = {self.ends[edge][1]}
        while True:
            start = self.ends[edge][0]
            passed.add(start)
            back = [e for e, (f, t) in self.ends.items() if t == start and f not in passed]
            onward = [e for e, (f, t) in self.ends.items() if f == start]
            if len(back) != 1 or onward != [edge]:
                return edge
            edge = back[0]

    def foe(self, a, b):
        return (min(a, b), max(a, b)) in self.foes

    def green_together(self, a, b):
        """Some phase of SUMO's own program shows both links green."""
        return any(s[a] in "Gg" and s[b] in "Gg" for s in self.phases if len(s) > max(a, b))

    def must_not_share(self, a, b, letter=None):
        """Foe links must not be green together. The one exception is a turn that only ever
        yields (g, as SUMO's own program has it or as the mapping says) to a pedestrian crossing
        that SUMO's program runs beside it: the turn gives way to the pedestrians. Two vehicle
        movements always conflict: a yielding left turn left inside the junction when its own
        green ends would meet the opposite traffic still running."""
        if not self.foe(a, b):
            return False
        letter = letter or {i: link.letter for i, link in self.links.items()}
        crossing = self.links[a].crossing if a in self.links else ""
        crossing = crossing or (self.links[b].crossing if b in self.links else "")
        yields = letter.get(a) == "g" or letter.get(b) == "g"
        return not (crossing and yields and self.green_together(a, b))

    def compass_from(self, lane):
        """Where an incoming lane comes from as N, NE, E, ... (for reports)."""
        bearing = self.bearing_from(lane) - 45.0  # undo the turn of clockwise_from_north
        return ("N", "NE", "E", "SE", "S", "SW", "W", "NW")[int((bearing % 360 + 22.5) // 45) % 8]

    def bearing_from(self, lane):
        """Where an incoming lane comes from, for ordering clockwise from north."""
        shape = self.lanes[lane][1]
        return clockwise_from_north(shape[0] if len(shape) < 2 else shape[-2],
                                    self.junction_point)


def parse_shape(text):
    return [tuple(float(v) for v in p.split(",")[:2]) for p in (text or "").split()]


def centroid(points):
    if not points:
        return (0.0, 0.0)
    return (sum(p[0] for p in points) / len(points), sum(p[1] for p in points) / len(points))


def distance_along(path, point):
    """Distance from the start of path to the point on it nearest to `point`."""
    best, best_d, walked = 0.0, float("inf"), 0.0
    for (x1, y1), (x2, y2) in zip(path, path[1:]):
        dx, dy = x2 - x1, y2 - y1
        seg = math.hypot(dx, dy)
        u = 0.0 if seg == 0 else max(0.0, min(1.0, ((point[0] - x1) * dx + (point[1] - y1) * dy)
                                              / (seg * seg)))
        d = math.hypot(x1 + u * dx - point[0], y1 + u * dy - point[1])
        if d < best_d:
            best, best_d = walked + u * seg, d
        walked += seg
    return best


def path_length(path):
    return sum(math.hypot(x2 - x1, y2 - y1) for (x1, y1), (x2, y2) in zip(path, path[1:]))


def conflict_point(p, q):
    """Where two paths cross; for paths that merge, where they come closest at their ends."""
    for (a1, a2) in zip(p, p[1:]):
        for (b1, b2) in zip(q, q[1:]):
            hit = segment_intersection(a1, a2, b1, b2)
            if hit:
                return hit
    if not p or not q:
        return None
    return min(((pp, math.hypot(pp[0] - qq[0], pp[1] - qq[1])) for pp in p for qq in q),
               key=lambda t: t[1])[0]


def segment_intersection(a1, a2, b1, b2):
    d = (a2[0] - a1[0]) * (b2[1] - b1[1]) - (a2[1] - a1[1]) * (b2[0] - b1[0])
    if abs(d) < 1e-9:
        return None
    u = ((b1[0] - a1[0]) * (b2[1] - b1[1]) - (b1[1] - a1[1]) * (b2[0] - b1[0])) / d
    v = ((b1[0] - a1[0]) * (a2[1] - a1[1]) - (b1[1] - a1[1]) * (a2[0] - a1[0])) / d
    if 0 <= u <= 1 and 0 <= v <= 1:
        return (a1[0] + u * (a2[0] - a1[0]), a1[1] + u * (a2[1] - a1[1]))
    return None


# ---------------------------------------------------------------------------------------------
# Streams


class Stream:
    def __init__(self, number, kind, links):
        self.number = number
        self.kind = kind  # "through", "turn" or "pedestrian"
        self.links = links
        self.detectors = []  # (digit, lane, position, kind 1/0)


def derive_streams(net, per_approach):
    """Vehicle streams per approach (clockwise from north) and movement, links of one lane in
    one stream; pedestrian crossings as pairs."""
    vehicle = [l for l in net.links.values() if not l.crossing]
    crossings = sorted({l.crossing for l in net.links.values() if l.crossing},
                       key=lambda c: crossing_bearing(net, c))
    approaches = {}
    for link in vehicle:
        approaches.setdefault(link.from_edge, []).append(link)
    order = sorted(approaches, key=lambda e: net.bearing_from(approaches[e][0].from_lane))
    if len(order) > MAX_APPROACHES:
        raise Problem(f"{net.path}: {len(order)} approaches; at most {MAX_APPROACHES} are numbered")
    if len(crossings) > MAX_CROSSINGS:
        raise Problem(f"{net.path}: {len(crossings)} pedestrian crossings; at most "
                      f"{MAX_CROSSINGS} are numbered")
    streams = []
    for k, edge in enumerate(order):
        groups = movement_groups(approaches[edge], per_approach)
        for j, group in enumerate(groups):
            kind = "through" if any(l.direction == "s" for l in group) or per_approach else "turn"
            streams.append(Stream(NUMBERS_PER_APPROACH * k + 1 + j, kind,
                                  sorted(group, key=lambda l: l.index)))
    for k, crossing in enumerate(crossings):
        links = sorted((l for l in net.links.values() if l.crossing == crossing),
                       key=lambda l: l.index)
        for half in range(2):
            streams.append(Stream(FIRST_CROSSING + 2 * k + half, "pedestrian", links))
    return streams


def crossing_bearing(net, crossing):
    return clockwise_from_north(centroid(net.lanes[f"{crossing}_0"][1]), net.junction_point)


def clockwise_from_north(point, centre):
    """The compass bearing of point seen from centre (0 north, 90 east), turned by 45 degrees so
    that north is everything from north-west to north-east: a road from the north whose lanes lie
    a little west of the centre still comes first."""
    bearing = math.degrees(math.atan2(point[0] - centre[0], point[1] - centre[1]))
    return (bearing + 45.0) % 360.0


def movement_groups(links, per_approach):
    """Links of one approach in streams: straight (with what shares its lanes) first, then left,
    then right; links of one lane always share a stream."""
    if per_approach:
        return [links]
    rank = {"s": 0, "l": 1, "L": 1, "t": 1, "r": 2, "R": 2}
    groups = {}
    for link in links:
        groups.setdefault(rank.get(link.direction, 0), []).append(link)
    merged = []
    for r in sorted(groups):
        group = groups[r]
        lanes = {l.from_lane for l in group}
        for m in merged:
            if lanes & {l.from_lane for l in m}:
                m.extend(group)
                break
        else:
            merged.append(list(group))
    # a later merge may join two earlier groups through a shared lane
    changed = True
    while changed:
        changed = False
        for i in range(len(merged)):
            for j in range(i + 1, len(merged)):
                if {l.from_lane for l in merged[i]} & {l.from_lane for l in merged[j]}:
                    merged[i].extend(merged.pop(j))
                    changed = True
                    break
            if changed:
                break
    if len(merged) > NUMBERS_PER_APPROACH:
        raise Problem("more than three movements on one approach")
    return merged


def conflicting(net, s, t):
    """Streams conflict when a link of each are foes that must not be green together."""
    if s.links is t.links:
        return False
    return any(net.must_not_share(a.index, b.index) for a in s.links for b in t.links)


def clearance(net, s, t, amber):
    """Tenths from the end of green of s to the start of green of t (docs/junction.md):
    t_u + (s_r + L) / v_r - s_e / v_e over every foe pair of links, at least the amber of s."""
    worst = 0.0
    for a in s.links:
        for b in t.links:
            if not net.foe(a.index, b.index):
                continue
            point = conflict_point(a.path, b.path)
            if point is None:
                continue
            s_r = distance_along(a.path, point)
            s_e = distance_along(b.path, point)
            if s.kind == "pedestrian":
                t_clear = s_r / PEDESTRIAN_CLEARING_SPEED
            else:
                t_clear = amber / 10.0 + (s_r + VEHICLE_LENGTH) / VEHICLE_CLEARING_SPEED
            v_e = PEDESTRIAN_ENTERING_SPEED if t.kind == "pedestrian" else VEHICLE_ENTERING_SPEED
            worst = max(worst, t_clear - s_e / v_e)
    return max(int(math.ceil(worst * 10)), amber)


def place_detectors(net, streams, detectors):
    """Stop-line loops (kind 1) on every lane of a vehicle stream, then loops `upstream` metres
    before the stop line where the lane is long enough; push buttons (kind 0) for crossings."""
    for s in streams:
        if s.kind == "pedestrian":
            s.detectors.append((1, None, None, 0))
            continue
        lanes = sorted({l.from_lane for l in s.links})
        spots = []
        if "stopline" in detectors:
            spots += [(lane, STOPLINE_GAP_POSITION) for lane in lanes]
        for distance in detectors.get("upstream", []):
            for lane in lanes:
                if net.lanes[lane][2] > distance + 5:
                    spots.append((lane, -distance - abs(STOPLINE_GAP_POSITION)))
        if len(spots) > MAX_DETECTORS:
            raise Problem(f"stream {s.number:02d}: {len(spots)} loops, at most {MAX_DETECTORS}")
        s.detectors = [(k + 1, lane, pos, 1) for k, (lane, pos) in enumerate(spots)]


def loop_id(stream, digit):
    return f"rv_{stream:02d}_{digit}"


def parse_detectors(text):
    out = {}
    for part in text.split(","):
        part = part.strip()
        if part == "stopline":
            out["stopline"] = True
        elif part.startswith("upstream="):
            out.setdefault("upstream", []).append(float(part.split("=", 1)[1]))
        elif part:
            raise Problem(f"--detectors: unknown part {part!r} (stopline, upstream=METRES)")
    return out


def parse_pair(text, what):
    try:
        a, b = (float(x) for x in text.split(","))
    except ValueError:
        raise Problem(f"{what}: expected MIN,MAX in seconds, not {text!r}")
    return a, b


# ---------------------------------------------------------------------------------------------
# Writing the files


def tenths(seconds):
    return int(round(seconds * 10))


def write_program(path, name, net, streams, matrix, timing, args):
    n = len(streams)
    lines = ["# ruvalda-version=100",
             f"# {name}: traffic light {args.tls} of {os.path.basename(net.path)}, written by "
             "ruvalda-junction from-sumo (docs/junction.md).",
             "# Streams (approaches clockwise from north, three numbers each; crossings in pairs):"]
    for s in streams:
        desc = ", ".join(f"link {l.index} {l.from_edge}->{l.to_edge or l.crossing} {l.direction}{l.letter}"
                         for l in s.links)
        lines.append(f"#   {s.number:02d} {s.kind}: {desc}")
    lines += ["# Clearance times in tenths from the end of green of the row's stream to the start of",
              "# green of the column's stream; -1: no conflict.",
              "# PHASE TIMERS IN TENTH OF SECONDS",
              "#\tMINGREEN\tMAXGREEN\tAMBER\t",
              "%mat " + " ".join(str(s.number) for s in streams),
              "#    " + " ".join(f"{s.number:3d}" for s in streams)]
    for i, s in enumerate(streams):
        lines.append(f"{s.number:02d}   " + " ".join(f"{matrix[i][j]:3d}" for j in range(n)))
    lines.append("# minimum red")
    lines.append("IG   " + " ".join(f"{tenths(args.min_red):3d}" for _ in streams))
    digits = max((len(s.detectors) for s in streams), default=0)
    for k in range(1, digits + 1):
        row = []
        for s in streams:
            d = [x for x in s.detectors if x[0] == k]
            row.append(d[0][3] if d else -1)
        lines.append(f"D{k}   " + " ".join(f"{v:3d}" for v in row))
    for k in range(1, digits + 1):
        row = []
        for s in streams:
            d = [x for x in s.detectors if x[0] == k and x[3] == 1]
            row.append(tenths(args.gap) if d else -1)
        lines.append(f"T{k}   " + " ".join(f"{v:3d}" for v in row))
    for s in streams:
        gmin, gmax, amber = timing[s.kind]
        lines.append(f"%tt {s.number:2d} {gmin:4d} {gmax:4d} {amber:4d}")
    lines.append("%rules")
    lines.append("")
    blocks = green_blocks(net, streams, matrix)
    letters = "ABCDXYZUVW"  # the sequence display's block letters, in order
    if blocks:
        lines.append("# Blocks for the sequence display: the green phases of SUMO's own program.")
        for b, members in enumerate(blocks):
            lines.append(f"MR{letters[b]} = " + " + ".join(f"G{m:02d}" for m in members))
        lines += ["", "# Sequence", "# Conflictgroups Conflictgroupsize",
                  f"# {len(streams)} {len(blocks)}", "# Selected sequence", "# Structure: 1"]
        for s in streams:
            lines.append("# " + " ".join(f"{s.number:02d}" if s.number in m else "00"
                                         for m in blocks))
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")


def green_blocks(net, streams, matrix):
    """The distinct green phases of SUMO's program as blocks of streams (at most ten)."""
    position = {s.number: i for i, s in enumerate(streams)}
    return stages_from_phases(net.phases, [(s.number, [l.index for l in s.links]) for s in streams],
                              lambda a, b: matrix[position[a]][position[b]] >= 0)[:MAX_BLOCKS]


def stages_from_phases(phases, streams, conflict):
    """Stages (lists of stream numbers) from the green phases of SUMO's own program: the streams
    a phase shows green, those it shows protected (G) first, less any stream that conflicts
    with one already taken (a left turn SUMO lets yield to the opposite traffic). A stream left
    out everywhere joins the first stage it fits, or gets one of its own. streams: (number, link
    indices); conflict(a, b): the matrix has a clearance time from a to b."""
    def fits(members, s):
        return all(not conflict(m, s) and not conflict(s, m) for m in members)

    stages = []
    for state in phases:
        if "y" in state:
            continue
        green = [(not any(state[i] == "G" for i in links), n) for n, links in streams
                 if links and all(i < len(state) and state[i] in "Gg" for i in links)]
        members = []
        for _, n in sorted(green):
            if fits(members, n):
                members.append(n)
        if members and sorted(members) not in stages:
            stages.append(sorted(members))
    for n, _ in streams:
        if any(n in st for st in stages):
            continue
        for st in stages:
            if fits(st, n):
                st.append(n)
                st.sort()
                break
        else:
            stages.append([n])
    return stages


def write_side_files(out, name, net, streams, args):
    det = ['<?xml version="1.0" encoding="UTF-8"?>',
           f"<!-- Induction loops of {name}, written by ruvalda-junction from-sumo. -->",
           "<additional>"]
    dtl, loops = [], {}
    for s in streams:
        for digit, lane, pos, kind in s.detectors:
            program = s.number * 10 + digit
            dtl.append(f"{SUMO_DETECTOR_BASE + program} {program}")
            if lane is None:
                continue
            lid = loop_id(s.number, digit)
            loops[str(SUMO_DETECTOR_BASE + program)] = lid
            det.append(f'    <inductionLoop id="{lid}" lane="{lane}" pos="{pos:g}" freq="3600" '
                       'file="NUL"/>')
    det.append("</additional>")
    with open(os.path.join(out, f"{name}.det.xml"), "w") as f:
        f.write("\n".join(det) + "\n")
    with open(os.path.join(out, f"{name}.DTL"), "w") as f:
        f.write("\n".join(dtl) + "\n")
    mapping = {"comment": f"Streams of {name}.rvc in ascending number with the link indices of "
               f"traffic light {args.tls} and their green letter, as SUMO's own program has "
               "it; detectors: SUMO number -> loop id. Written by ruvalda-junction.",
               "streams": [{"stream": s.number, "links": [[l.index, l.letter] for l in s.links]}
                           for s in sorted(streams, key=lambda s: s.number)],
               "detectors": loops}
    with open(os.path.join(out, f"{name}.map.json"), "w") as f:
        json.dump(mapping, f, indent=2)
        f.write("\n")
    net_copy = os.path.relpath(os.path.abspath(net.path), out)
    with open(os.path.join(out, f"{name}.rou.xml"), "w") as f:
        f.write(demand(net, args.demand))
    with open(os.path.join(out, f"{name}.sumocfg"), "w") as f:
        f.write(sumocfg_text(net_copy, [f"{name}.rou.xml"], [f"{name}.det.xml"], """
    <time>
        <begin value="0"/>
        <end value="3600"/>
    </time>"""))
    with open(os.path.join(out, "bridge.json"), "w") as f:
        json.dump({"sumocfg": f"{name}.sumocfg", "step_length": 0.1, "seed": 42,
                   "host": "127.0.0.1", "outputs": "out",
                   "junctions": [{"tls": args.tls, "port": 12345,
                                  "mapping": f"{name}.map.json",
                                  "program": f"{name}.rvc"}]}, f, indent=2)
        f.write("\n")


def sumocfg_text(net, routes, additional, sections=""):
    """A SUMO configuration: the network, route and additional files, then `sections` (XML)."""
    return f"""<?xml version="1.0" encoding="UTF-8"?>
<configuration>
    <input>
        <net-file value="{net}"/>
        <route-files value="{','.join(routes)}"/>
        <additional-files value="{','.join(additional)}"/>
    </input>{sections}
    <report>
        <no-step-log value="true"/>
    </report>
</configuration>
"""


def demand(net, per_approach):
    """An hour of flows through the junction: per_approach vehicles per hour on every approach,
    split evenly over its movements, entering where the approach's road begins; SUMO routes
    them to the exit. Arrivals are random (each second a vehicle with the flow's probability),
    so SUMO's seed draws new demand."""
    approaches = {}
    for link in net.links.values():
        if not link.crossing:
            approaches.setdefault(link.from_edge, set()).add(link.to_edge)
    lines = ['<?xml version="1.0" encoding="UTF-8"?>',
             f"<!-- {per_approach:g} vehicles per hour on every approach, written by "
             "ruvalda-junction from-sumo -->", "<routes>"]
    for edge in sorted(approaches):
        exits = sorted(approaches[edge])
        begin = net.upstream_end(edge)
        for to in exits:
            lines.append(f'    <flow id="{edge}__{to}" begin="0" end="3600" from="{begin}" '
                         f'to="{to}" probability="{per_approach / len(exits) / 3600:.5f}" '
                         'departLane="best" departSpeed="max"/>')
    lines.append("</routes>")
    return "\n".join(lines) + "\n"


def from_sumo(args):
    net = Network(args.net, args.tls)
    name = args.name or re.sub(r"[^A-Za-z0-9_-]", "_", args.tls).lower()
    streams = derive_streams(net, args.streams == "approach")
    place_detectors(net, streams, parse_detectors(args.detectors))
    through, turn = parse_pair(args.through_green, "--through-green"), parse_pair(
        args.turn_green, "--turn-green")
    amber = tenths(args.amber)
    timing = {"through": (tenths(through[0]), tenths(through[1]), amber),
              "turn": (tenths(turn[0]), tenths(turn[1]), amber),
              "pedestrian": (tenths(args.pedestrian_green), tenths(args.pedestrian_green),
                             tenths(args.pedestrian_amber))}
    n = len(streams)
    matrix = [[-1] * n for _ in range(n)]
    for i, s in enumerate(streams):
        for j, t in enumerate(streams):
            if i != j and (conflicting(net, s, t) or conflicting(net, t, s)):
                matrix[i][j] = clearance(net, s, t, timing[s.kind][2])
    os.makedirs(args.out, exist_ok=True)
    write_program(os.path.join(args.out, f"{name}.rvc"), name, net, streams, matrix, timing, args)
    write_side_files(args.out, name, net, streams, args)
    print(f"ruvalda-junction: {len(streams)} streams, "
          f"{sum(1 for row in matrix for v in row if v >= 0) // 2} conflicting pairs; wrote "
          f"{name}.rvc, {name}.DTL, {name}.det.xml, {name}.map.json, {name}.rou.xml, "
          f"{name}.sumocfg and bridge.json in {args.out}")
    return 0


# ---------------------------------------------------------------------------------------------
# check-against


class Declaration:
    """What the tools read of a control file's declaration block: the streams, the conflict
    rows (clearance times in tenths, -1 none), the required times of each stream (minimum
    green, maximum green, amber, in tenths), the gap times of the T rows and the number of
    detectors the D rows declare."""

    def __init__(self, path):
        self.path = path
        self.streams, self.rows, self.times, self.gaps = [], {}, {}, []
        self.detectors = 0
        try:
            text = open(path, encoding="latin-1").read().splitlines()
        except OSError as e:
            raise Problem(f"{path}: {e.strerror}")
        for line in text:
            body = line.split("#", 1)[0].strip()
            word = body.split()[0].lower() if body else ""
            if word == "%mat":
                self.streams = [int(x) for x in body[4:].split()]
            elif word == "%rules":
                break
            elif word == "%tt":
                values = [int(v) for v in body.split()[1:5]]
                if len(values) == 4:
                    self.times[values[0]] = tuple(values[1:])
            elif self.streams and word[:1] == "t" and word[1:].isdigit():
                self.gaps += [int(v) for v in body.split()[1:] if int(v) > 0]
            elif self.streams and word[:1] == "d" and word[1:].isdigit():
                self.detectors += sum(1 for v in body.split()[1:] if int(v) > 0)
            elif self.streams and body[:1].isdigit():
                values = body.split()
                self.rows[int(values[0])] = [int(v) for v in values[1:]]
        if not self.streams:
            raise Problem(f"{path}: no declaration block (%mat line)")

    def conflicts(self, s, t):
        """The matrix has a clearance time (0 or more) from s to t."""
        return self.clearance(s, t) >= 0

    def clearance(self, s, t):
        if s not in self.streams or t not in self.streams:
            return -1
        row = self.rows.get(s, [])
        k = self.streams.index(t)
        return row[k] if k < len(row) else -1


def check_against(args):
    net = Network(args.net, args.tls)
    declaration = Declaration(args.program)
    try:
        mapping = json.load(open(args.mapping))
    except (OSError, ValueError) as e:
        raise Problem(f"{args.mapping}: cannot read the mapping: {e}")
    of_link, letter = {}, {}
    for entry in mapping.get("streams", []):
        for index, green in entry["links"]:
            of_link.setdefault(index, []).append(entry["stream"])
            letter[index] = green
    problems = []

    for a, b in sorted(net.foes):
        if not net.must_not_share(a, b, letter):
            continue
        for s in of_link.get(a, []):
            for t in of_link.get(b, []):
                if s == t:
                    continue
                for x, y in ((s, t), (t, s)):
                    if not declaration.conflicts(x, y):
                        problems.append(f"streams {x:02d} and {y:02d}: links {a} and {b} are foes "
                                        f"in the network, but the matrix has no conflict from "
                                        f"{x:02d} to {y:02d}")
    loops = read_loops(args.loops) if args.loops else None
    dtl = read_dtl(os.path.splitext(args.program)[0] + ".DTL")
    lanes_of = {e["stream"]: {net.links[i].from_lane for i, _ in e["links"] if i in net.links}
                for e in mapping.get("streams", [])}
    for number, loop in sorted(mapping.get("detectors", {}).items()):
        if loops is not None and loop not in loops:
            problems.append(f"detector {number}: loop {loop} is not in {args.loops}")
            continue
        program = dtl.get(int(number))
        if program is None:
            problems.append(f"detector {number}: not in the program's .DTL")
            continue
        stream = program // 10
        if loops is not None and loops[loop] not in lanes_of.get(stream, set()):
            problems.append(f"detector {number} (stream {stream:02d}, loop {loop}): lane "
                            f"{loops[loop]} is not a lane of stream {stream:02d}")
    for p in dict.fromkeys(problems):
        print(f"{args.program}: {p}")
    print(f"ruvalda-junction: {len(set(problems))} problem(s)")
    return 1 if problems else 0


def read_loops(path):
    try:
        root = ET.parse(path).getroot()
    except (OSError, ET.ParseError) as e:
        raise Problem(f"{path}: cannot read the loops: {e}")
    return {d.get("id"): d.get("lane") for d in root.iter("inductionLoop")}


def read_dtl(path):
    out = {}
    try:
        lines = open(path).read().splitlines()
    except OSError:
        return out
    for line in lines:
        parts = line.split()
        if len(parts) >= 2 and parts[0].isdigit() and parts[1].isdigit():
            out[int(parts[0])] = int(parts[1])
    return out


def main(argv=None):
    ap = argparse.ArgumentParser(prog="ruvalda-junction", description=__doc__.split("\n")[0])
    sub = ap.add_subparsers(dest="command", required=True)
    f = sub.add_parser("from-sumo", help="write a control program and its files for a junction")
    f.add_argument("net")
    f.add_argument("--tls", required=True)
    f.add_argument("--out", required=True)
    f.add_argument("--name")
    f.add_argument("--streams", choices=("movement", "approach"), default="movement")
    f.add_argument("--detectors", default="stopline,upstream=40")
    f.add_argument("--through-green", default="10,40")
    f.add_argument("--turn-green", default="5,20")
    f.add_argument("--pedestrian-green", type=float, default=6.0)
    f.add_argument("--pedestrian-amber", type=float, default=2.0)
    f.add_argument("--amber", type=float, default=3.0)
    f.add_argument("--min-red", type=float, default=2.0)
    f.add_argument("--gap", type=float, default=3.0)
    f.add_argument("--demand", type=float, default=300.0)
    c = sub.add_parser("check-against", help="check a program and mapping against the network")
    c.add_argument("net")
    c.add_argument("--tls", required=True)
    c.add_argument("program")
    c.add_argument("mapping")
    c.add_argument("--loops")
    e = sub.add_parser("evaluate", help="compare control programs with SUMO's own programs")
    e.add_argument("config", nargs="?", help="the bridge configuration (bridge.json)")
    e.add_argument("--program", action="append",
                   help="P.rvc, or TLS=P.rvc,TLS2=Q.rvc for several junctions; repeat for more")
    e.add_argument("--baseline", default="actuated,delay_based,fixed",
                   help="SUMO's programs to compare with ('' for none; KIND=FILE for your own)")
    e.add_argument("--seeds", default="1-5")
    e.add_argument("--demand", default="1", help="demand factors, e.g. 0.8,1,1.2")
    e.add_argument("--jobs", type=int, default=1)
    e.add_argument("--out", required=True)
    e.add_argument("--end", type=float, help="stop every run after this many simulated seconds")
    e.add_argument("--window", help="the timelines' window FROM-TO in seconds (default 0-300)")
    e.add_argument("--cli", default=os.path.join(os.path.dirname(os.path.dirname(HERE)), "build",
                                                 "release", "ruvalda-cli"))
    e.add_argument("--libsumo", action="store_true", help="bridged runs with SUMO in-process")
    e.add_argument("--plan", help="write the runs' command lines to this file, run nothing")
    e.add_argument("--collect", nargs="+", metavar="DIR",
                   help="merge the results of these study folders into --out")
    r = sub.add_parser("run", help="one run of an evaluation (a line of --plan's file)")
    r.add_argument("run_json")
    args = ap.parse_args(argv)
    this_command = [sys.executable, os.path.abspath(__file__)]
    try:
        if args.command == "evaluate":
            import evaluate
            return evaluate.evaluate(args, this_command)
        if args.command == "run":
            import evaluate
            return evaluate.run_one(args.run_json)
        return from_sumo(args) if args.command == "from-sumo" else check_against(args)
    except Problem as e:
        print(f"ruvalda-junction: {e}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    # main of the module proper, so that its errors are the ones evaluate.py raises
    import ruvalda_junction
    sys.exit(ruvalda_junction.main())
