#!/usr/bin/env python3
"""Bridge between SUMO (through TraCI) and Ruvalda controllers speaking the line protocol.

SUMO knows nothing of the controller's line protocol, so this program sits between the two:

    ruvalda-cli sumo A.rvc sumo://127.0.0.1:12345 --TCP-->  sumo_bridge.py  --TraCI-->  sumo
    ruvalda-cli sumo B.rvc sumo://127.0.0.1:12346 --TCP-->      (server)    (client, starts SUMO)

For every signalised junction of its configuration the bridge listens on one TCP port and takes
exactly one controller. The controller's first lights line is in force for SUMO's first step.
Then, for every step: SUMO steps once; the bridge sends each controller the state changes of its
induction loops seen in that step ("detector N occupied|free") followed by "step", all in one
send; it reads the lights line the controller answers with, checks it and sets the junction's
traffic light from it (setRedYellowGreenState) for the next step.

Usage:
    sumo_bridge.py CONFIG.json [--end SECONDS] [--summary FILE] [--ports-file FILE]
                   [--timeout SECONDS] [--sumo-binary sumo] [--gui]

The configuration (JSON; relative paths are relative to the configuration file):
    {
      "sumocfg": "crossing.sumocfg",
      "step_length": 0.1,
      "seed": 42,
      "host": "127.0.0.1",
      "outputs": "out",                      # folder for collision, statistic and log files
      "junctions": [
        {"tls": "C", "port": 12345, "mapping": "crossing.map.json"}
      ]
    }
A port of 0 takes a free port; the ports taken are printed and, with --ports-file, written one
"TLS PORT" pair a line once all junctions listen.

The mapping file (one per junction) names the streams of the controller in ascending number -
the order of the letters of its lights line - with the link indices of the traffic light each
stream switches and the green letter to use on each ("G" protected, "g" giving way), and the
induction loop of every SUMO detector number of the controller's detector translation file:
    {"streams": [{"stream": 1, "links": [[0, "g"], [1, "G"]]}, ...],
     "detectors": {"1011": "loop_id", ...}}
A link switched by more than one stream is red when any of them is red, else yellow when any is
yellow, else green. Links no stream switches stay red.

Exit status: 0 after a complete run, 2 when a controller broke the protocol (invalid lights
line, disconnection, silence beyond the time-out), 1 for configuration errors.
"""

import argparse
import json
import os
import socket
import subprocess
import sys
import time
import xml.etree.ElementTree as ET

SUMO_HOME = os.environ.get("SUMO_HOME", "/usr/share/sumo")
# SUMO looks for its XML schemas below SUMO_HOME; without it, it asks the web or skips checks.
os.environ.setdefault("SUMO_HOME", SUMO_HOME)
sys.path.append(os.path.join(SUMO_HOME, "tools"))
import traci  # noqa: E402
import traci.constants as tc  # noqa: E402


class ProtocolError(Exception):
    pass


# exit status of a complete run that showed foe links green together at a controlled junction
CONFLICTING_GREENS = 3


class ConfigError(Exception):
    pass


def sumo_options(out_dir, step_length, seed):
    """The options SUMO runs with under the bridge: collisions checked at junctions and only
    warned about, no teleports, statistics, trip information and the log in out_dir. The tests
    and ruvalda-junction evaluate run SUMO alone with the same options."""
    return ["--step-length", str(step_length), "--seed", str(seed),
            "--collision.check-junctions", "true", "--collision.action", "warn",
            "--collision-output", os.path.join(out_dir, "collisions.xml"),
            "--time-to-teleport", "-1",
            "--statistic-output", os.path.join(out_dir, "statistics.xml"),
            "--tripinfo-output", os.path.join(out_dir, "tripinfo.xml"),
            "--log", os.path.join(out_dir, "sumo.log"), "--no-step-log", "true"]


def use_libsumo():
    """SUMO in the bridge's own process: Debian's libsumo (package sumo), which the system's
    Python 3 loads. It answers TraCI's calls without a socket."""
    global traci
    try:
        import libsumo
    except ImportError:
        raise ConfigError("--libsumo: this Python has no libsumo (Debian's package sumo installs "
                          "it for /usr/bin/python3)")
    traci = libsumo


def traci_errors():
    """The exceptions TraCI or libsumo raise for the simulation's own faults."""
    errors = [getattr(traci, "TraCIException", None)]
    exceptions = getattr(traci, "exceptions", None)
    if exceptions is not None:
        errors += [exceptions.TraCIException, exceptions.FatalTraCIError]
    return tuple(e for e in errors if e is not None)


SUMO_LISTEN_SECONDS = 120  # a big network may take this long to load before SUMO listens
LISTEN_STATE = "0A"        # TCP_LISTEN in /proc/net/tcp


def listening(port):
    """Some socket of this machine listens on the TCP port (Linux's /proc/net/tcp)."""
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        try:
            with open(table) as f:
                next(f)
                for line in f:
                    fields = line.split()
                    if fields[1].endswith(f":{port:04X}") and fields[3] == LISTEN_STATE:
                        return True
        except (OSError, StopIteration):
            continue
    return False


def start_sumo(cmd):
    """Starts SUMO with a TraCI port and connects once SUMO listens there: traci.start tries
    at once, before SUMO has loaded its network, and then waits a whole second to try again."""
    port = traci.getFreeSocketPort()
    proc = subprocess.Popen(cmd + ["--remote-port", str(port)], stdout=subprocess.DEVNULL)
    deadline = time.monotonic() + SUMO_LISTEN_SECONDS
    while not listening(port) and proc.poll() is None and time.monotonic() < deadline:
        time.sleep(0.02)
    traci.init(port, proc=proc)


def log(text):
    print("sumo-bridge: " + text, file=sys.stderr, flush=True)


# ---------------------------------------------------------------------------------------------
# Network: which link indices of a traffic light are foes (from the junctions' right-of-way)


def read_foe_pairs(net_file, tls_ids):
    """For every traffic light: the sorted list of pairs (a, b), a < b, of its link indices whose
    connections cross or merge at their junction (the junction's <request foes=.../>)."""
    root = ET.parse(net_file).getroot()
    function = {e.get("id"): e.get("function", "") for e in root.iter("edge")}
    junctions = {}
    for j in root.iter("junction"):
        foes = {int(r.get("index")): r.get("foes") for r in j.iter("request")}
        if foes:
            junctions[j.get("id")] = (j.get("incLanes", "").split(), foes)
    outgoing = {}  # from lane -> connections in file order
    for c in root.iter("connection"):
        outgoing.setdefault(c.get("from") + "_" + c.get("fromLane"), []).append(c)

    # The junction's link numbering: incoming lanes in order, their connections in order,
    # leaving out the walking-area connections that are not entries of a crossing.
    tl_links = {}  # tls -> {link index: (junction, junction link index)}
    for jid, (inc_lanes, _) in junctions.items():
        n = 0
        for lane in inc_lanes:
            for c in outgoing.get(lane, []):
                f_from, f_to = function.get(c.get("from"), ""), function.get(c.get("to"), "")
                if f_to == "walkingarea" or (f_from == "walkingarea" and f_to != "crossing"):
                    continue
                if c.get("tl") in tls_ids:
                    for key in ("linkIndex", "linkIndex2"):
                        if c.get(key) is not None and int(c.get(key)) >= 0:
                            tl_links.setdefault(c.get("tl"), {})[int(c.get(key))] = (jid, n)
                n += 1

    pairs = {}
    for tls in tls_ids:
        links = tl_links.get(tls, {})
        found = set()
        for a in sorted(links):
            for b in sorted(links):
                if b <= a:
                    continue
                (ja, ia), (jb, ib) = links[a], links[b]
                if ja != jb:
                    continue
                foes = junctions[ja][1]
                fa, fb = foes[ia], foes[ib]
                if fa[len(fa) - 1 - ib] == "1" or fb[len(fb) - 1 - ia] == "1":
                    found.add((a, b))
        pairs[tls] = sorted(found)
    return pairs


# ---------------------------------------------------------------------------------------------
# Configuration


def load_config(path):
    base = os.path.dirname(os.path.abspath(path))
    try:
        with open(path) as f:
            cfg = json.load(f)
    except (OSError, ValueError) as e:
        raise ConfigError(f"cannot read configuration {path}: {e}")

    def rel(p):
        return p if os.path.isabs(p) else os.path.join(base, p)

    if "sumocfg" not in cfg or not cfg.get("junctions"):
        raise ConfigError(f"{path}: needs \"sumocfg\" and at least one entry in \"junctions\"")
    cfg["sumocfg"] = rel(cfg["sumocfg"])
    cfg.setdefault("step_length", 0.1)
    cfg.setdefault("seed", 42)
    cfg.setdefault("host", "127.0.0.1")
    cfg["outputs"] = rel(cfg.get("outputs", "out"))
    for j in cfg["junctions"]:
        if "tls" not in j or "mapping" not in j:
            raise ConfigError(f"{path}: every junction needs \"tls\" and \"mapping\"")
        j.setdefault("port", 0)
        j["mapping"] = rel(j["mapping"])
        if "program" in j:
            j["program"] = rel(j["program"])
    return cfg


def load_mapping(path):
    try:
        with open(path) as f:
            m = json.load(f)
    except (OSError, ValueError) as e:
        raise ConfigError(f"cannot read mapping {path}: {e}")
    streams = m.get("streams", [])
    numbers = [s["stream"] for s in streams]
    if not streams or numbers != sorted(set(numbers)):
        raise ConfigError(f"{path}: streams must be given once each, in ascending number")
    for s in streams:
        for link, letter in s["links"]:
            if letter not in ("G", "g") or not isinstance(link, int) or link < 0:
                raise ConfigError(f"{path}: stream {s['stream']}: bad link entry {link!r} {letter!r}")
    detectors = {int(k): v for k, v in m.get("detectors", {}).items()}
    return streams, detectors


def net_file_of(sumocfg):
    root = ET.parse(sumocfg).getroot()
    for e in root.iter("net-file"):
        v = e.get("value")
        return v if os.path.isabs(v) else os.path.join(os.path.dirname(sumocfg), v)
    raise ConfigError(f"{sumocfg}: no net-file")


def loops_of(sumocfg):
    """The induction loop ids of the configuration's additional files."""
    root = ET.parse(sumocfg).getroot()
    ids = set()
    for e in root.iter("additional-files"):
        for name in e.get("value", "").split(","):
            name = name.strip()
            if not name:
                continue
            path = name if os.path.isabs(name) else os.path.join(os.path.dirname(sumocfg), name)
            try:
                ids |= {d.get("id") for d in ET.parse(path).getroot().iter()
                        if d.tag in ("inductionLoop", "e1Detector")}
            except (OSError, ET.ParseError) as e:
                raise ConfigError(f"{sumocfg}: cannot read additional file {path}: {e}")
    return ids


def network_facts(net_file, tls_ids):
    """Per traffic light: its number of links and the junctions whose links it switches."""
    links, junctions = {}, {}
    try:
        root = ET.parse(net_file).getroot()
    except (OSError, ET.ParseError) as e:
        raise ConfigError(f"cannot read network {net_file}: {e}")
    for c in root.iter("connection"):
        tls = c.get("tl")
        if tls not in tls_ids:
            continue
        for key in ("linkIndex", "linkIndex2"):
            if c.get(key) is not None and int(c.get(key)) >= 0:
                links[tls] = max(links.get(tls, 0), int(c.get(key)) + 1)
        via = c.get("via") or ""
        if via.startswith(":"):
            junctions.setdefault(tls, set()).add(via[1:].rsplit("_", 2)[0])
    return links, junctions


def check_mappings(cfg, junctions):
    """Refuses, before any controller connects, a mapping that switches a link the traffic
    light does not have or reads a loop the configuration does not define."""
    tls_ids = {j.tls for j in junctions}
    links, places = network_facts(net_file_of(cfg["sumocfg"]), tls_ids)
    loops = loops_of(cfg["sumocfg"])
    for j, entry in zip(junctions, cfg["junctions"]):
        if j.tls not in links:
            raise ConfigError(f"{entry['mapping']}: traffic light {j.tls} is not in the network")
        for s in j.streams:
            for link, _ in s["links"]:
                if link >= links[j.tls]:
                    raise ConfigError(f"{entry['mapping']}: stream {s['stream']}: link {link} "
                                      f"out of range (traffic light {j.tls} has links "
                                      f"0..{links[j.tls] - 1})")
        for number, loop in sorted(j.detectors.items()):
            if loop not in loops:
                raise ConfigError(f"{entry['mapping']}: detector {number}: no loop {loop!r} in "
                                  "the configuration's additional files")
        declared = program_streams(entry["program"]) if "program" in entry else None
        if declared is not None:
            mapped = [s["stream"] for s in j.streams]
            if declared != mapped:
                raise ConfigError(f"{entry['mapping']}: streams {mapped} but {entry['program']} "
                                  f"declares {declared}: the lights line would not fit")
        j.junctions = places.get(j.tls, set())


def program_streams(path):
    """The streams of a control program's declaration block ("%mat" line), ascending; None for
    a program of plain rules, whose streams only its rules tell."""
    try:
        with open(path, encoding="latin-1") as f:
            for line in f:
                body = line.split("#", 1)[0].strip()
                if body[:4].lower() == "%mat":
                    return sorted(int(x) for x in body[4:].split())
    except (OSError, ValueError) as e:
        raise ConfigError(f"cannot read the streams of {path}: {e}")
    return None


def place_of(lane):
    """Where an event happened: the junction id for a lane inside a junction, else the edge."""
    if lane.startswith(":"):
        return lane[1:].rsplit("_", 2)[0]
    return lane.rsplit("_", 1)[0] if "_" in lane else lane


def signal_state(streams, letters, n_links):
    """A traffic light's state string from one letter (g, r, y) per stream of a mapping: a link
    switched by several streams is red when any of them is red, else yellow when any is yellow,
    else green with its G or g; links no stream switches stay red."""
    worst = {}  # link -> 'r' / 'y' / green letter
    for s, ch in zip(streams, letters):
        for link, green in s["links"]:
            old = worst.get(link)
            if ch == "r" or old == "r":
                worst[link] = "r"
            elif ch == "y" or old == "y":
                worst[link] = "y"
            else:
                worst[link] = "g" if "g" in (green, old) else "G"
    return "".join(worst.get(i, "r") for i in range(n_links))


# ---------------------------------------------------------------------------------------------
# One junction and its controller


class Junction:
    def __init__(self, entry, host):
        self.tls = entry["tls"]
        self.streams, self.detectors = load_mapping(entry["mapping"])
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind((host, int(entry["port"])))
        self.listener.listen(1)
        self.port = self.listener.getsockname()[1]
        self.conn = None
        self.buffer = b""
        self.loop_state = {}  # loop id -> last state sent (all free at the start)
        self.n_links = 0
        self.foe_pairs = []
        self.conflicts = 0
        self.first_conflict = None
        self.junctions = set()  # the network's junctions whose links it switches
        self.last_state = None  # the state last set in SUMO

    def accept(self, timeout):
        self.listener.settimeout(timeout)
        try:
            self.conn, addr = self.listener.accept()
        except socket.timeout:
            raise ProtocolError(f"junction {self.tls}: no controller connected to port "
                                f"{self.port} within {timeout:g} s")
        self.listener.close()
        self.conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        log(f"junction {self.tls}: controller connected from {addr[0]}:{addr[1]}")

    def read_line(self, timeout):
        deadline = time.monotonic() + timeout
        while b"\n" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                raise ProtocolError(f"junction {self.tls}: the controller stayed silent for "
                                    f"{timeout:g} s (no lights line)")
            self.conn.settimeout(left)
            try:
                data = self.conn.recv(65536)
            except socket.timeout:
                continue
            except OSError as e:
                raise ProtocolError(f"junction {self.tls}: connection to the controller failed: {e}")
            if not data:
                raise ProtocolError(f"junction {self.tls}: the controller disconnected")
            self.buffer += data
        line, self.buffer = self.buffer.split(b"\n", 1)
        if line.endswith(b"\r"):
            line = line[:-1]
        return line

    def parse_lights(self, line):
        n = len(self.streams)
        text = line.decode("latin-1")
        letters = text[7:] if text.startswith("lights ") else None
        if letters is None or len(letters) != n or any(ch not in "gry" for ch in letters):
            raise ProtocolError(f"junction {self.tls}: invalid lights line {text!r} (expected "
                                f"\"lights \" and {n} letters g, r or y, one per stream)")
        return letters

    def state_of(self, letters):
        """The junction's signal state string from the letters of a lights line."""
        return signal_state(self.streams, letters, self.n_links)

    def check_conflicts(self, state, sim_time):
        for a, b in self.foe_pairs:
            if state[a] == "G" and state[b] == "G":
                self.conflicts += 1
                if self.first_conflict is None:
                    self.first_conflict = f"t={sim_time:.1f} s links {a} and {b} ({state})"


# ---------------------------------------------------------------------------------------------


def main():
    ap = argparse.ArgumentParser(description="Couples SUMO to Ruvalda controllers (line protocol).")
    ap.add_argument("config")
    ap.add_argument("--end", type=float, help="stop after this many simulated seconds")
    ap.add_argument("--summary", help="write the summary as JSON to this file")
    ap.add_argument("--ports-file", help="write 'TLS PORT' lines once all junctions listen")
    ap.add_argument("--timeout", type=float, default=10.0,
                    help="seconds to wait for a lights line before giving up (default 10)")
    ap.add_argument("--accept-timeout", type=float, default=120.0,
                    help="seconds to wait for the controllers to connect (default 120)")
    ap.add_argument("--sumo-binary", default="sumo")
    ap.add_argument("--gui", action="store_true", help="use sumo-gui")
    ap.add_argument("--libsumo", action="store_true",
                    help="run SUMO in this process (libsumo) instead of over TraCI's socket")
    args = ap.parse_args()

    try:
        if args.libsumo:
            use_libsumo()
        cfg = load_config(args.config)
        junctions = [Junction(j, cfg["host"]) for j in cfg["junctions"]]
        check_mappings(cfg, junctions)
    except (ConfigError, OSError, ET.ParseError) as e:
        log(str(e))
        return 1

    for j in junctions:
        log(f"junction {j.tls}: listening on {cfg['host']}:{j.port}")
    if args.ports_file:
        tmp = args.ports_file + ".tmp"
        with open(tmp, "w") as f:
            f.write("".join(f"{j.tls} {j.port}\n" for j in junctions))
        os.replace(tmp, args.ports_file)

    os.makedirs(cfg["outputs"], exist_ok=True)
    out = cfg["outputs"]
    sumo_log = os.path.join(out, "sumo.log")
    cmd = [("sumo-gui" if args.gui else args.sumo_binary), "-c", cfg["sumocfg"]] + \
        sumo_options(out, cfg["step_length"], cfg["seed"])

    steps = 0
    arrived = 0
    teleports = 0
    emergency_stops = 0
    collisions = {}  # (collider, victim) -> place
    places = {"collisions": {}, "emergency_stops": {}, "teleports": {}}

    def count_at(kind, lane):
        where = place_of(lane)
        places[kind][where] = places[kind].get(where, 0) + 1
    departed_from = {}
    arrivals = {}
    error = None
    try:
        for j in junctions:
            j.accept(args.accept_timeout)
        if args.libsumo:
            traci.start(cmd)
        else:
            start_sumo(cmd)
        foes = read_foe_pairs(net_file_of(cfg["sumocfg"]), {j.tls for j in junctions})
        for j in junctions:
            j.n_links = len(traci.trafficlight.getControlledLinks(j.tls))
            if j.n_links == 0:
                raise ConfigError(f"junction {j.tls}: no such traffic light in the network")
            top = max((link for s in j.streams for link, _ in s["links"]), default=-1)
            if top >= j.n_links:
                raise ConfigError(f"junction {j.tls}: the mapping uses link {top}, the traffic "
                                  f"light has links 0..{j.n_links - 1}")
            j.foe_pairs = foes.get(j.tls, [])
            for number, loop in sorted(j.detectors.items()):
                traci.inductionloop.subscribe(loop, [tc.LAST_STEP_OCCUPANCY])
                j.loop_state[loop] = False
        # What every step needs of the simulation comes with the step's answer: one round trip.
        traci.simulation.subscribe([tc.VAR_TIME, tc.VAR_MIN_EXPECTED_VEHICLES,
                                    tc.VAR_DEPARTED_VEHICLES_IDS, tc.VAR_ARRIVED_VEHICLES_IDS,
                                    tc.VAR_TELEPORT_STARTING_VEHICLES_IDS,
                                    tc.VAR_EMERGENCYSTOPPING_VEHICLES_IDS,
                                    tc.VAR_COLLIDING_VEHICLES_NUMBER])

        def apply_lights(sim_time):
            for j in junctions:
                state = j.state_of(j.parse_lights(j.read_line(args.timeout)))
                if state != j.last_state:  # unchanged lights cost no round trip
                    traci.trafficlight.setRedYellowGreenState(j.tls, state)
                    j.last_state = state
                j.check_conflicts(state, sim_time)

        # The first lights line of every controller is in force for the first step.
        apply_lights(traci.simulation.getTime())
        max_steps = None if args.end is None else int(round(args.end / cfg["step_length"]))
        expected = traci.simulation.getMinExpectedNumber()
        while (max_steps is None or steps < max_steps) and expected > 0:
            traci.simulationStep()
            steps += 1
            sim = traci.simulation.getSubscriptionResults()
            expected = sim[tc.VAR_MIN_EXPECTED_VEHICLES]
            for v in sim[tc.VAR_DEPARTED_VEHICLES_IDS]:
                departed_from[v] = traci.vehicle.getRoute(v)[0]
            for v in sim[tc.VAR_ARRIVED_VEHICLES_IDS]:
                edge = departed_from.pop(v, "?")
                arrivals[edge] = arrivals.get(edge, 0) + 1
                arrived += 1
            for v in sim[tc.VAR_TELEPORT_STARTING_VEHICLES_IDS]:
                teleports += 1
                count_at("teleports", traci.vehicle.getLaneID(v))
            for v in sim[tc.VAR_EMERGENCYSTOPPING_VEHICLES_IDS]:
                emergency_stops += 1
                count_at("emergency_stops", traci.vehicle.getLaneID(v))
            colliding = sim[tc.VAR_COLLIDING_VEHICLES_NUMBER] > 0
            for c in (traci.simulation.getCollisions() if colliding else ()):
                if (c.collider, c.victim) not in collisions:
                    collisions[(c.collider, c.victim)] = c.lane
                    count_at("collisions", c.lane)
            loops = traci.inductionloop.getAllSubscriptionResults()
            for j in junctions:
                msg = []
                for number, loop in sorted(j.detectors.items()):
                    occupied = loops[loop][tc.LAST_STEP_OCCUPANCY] > 0
                    if occupied != j.loop_state[loop]:
                        j.loop_state[loop] = occupied
                        msg.append(f"detector {number} {'occupied' if occupied else 'free'}\r\n")
                msg.append("step\r\n")
                try:
                    j.conn.sendall("".join(msg).encode("ascii"))
                except OSError as e:
                    raise ProtocolError(f"junction {j.tls}: cannot write to the controller: {e}")
            apply_lights(sim[tc.VAR_TIME])
    except ProtocolError as e:
        error = str(e)
        log("stopped: " + error)
    except ConfigError as e:
        log(str(e))
        return 1
    except traci_errors() as e:
        error = f"TraCI: {e}"
        log("stopped: " + error)
    finally:
        sim_time = None
        try:
            sim_time = traci.simulation.getTime()
            traci.close()
        except Exception:
            pass
        for j in junctions:
            if j.conn is not None:
                j.conn.close()

    emergency_braking = 0
    try:
        with open(sumo_log, errors="replace") as f:
            emergency_braking = sum("emergency braking" in line for line in f)
    except OSError:
        pass
    controlled = set().union(*(j.junctions for j in junctions))

    def at_junctions(kind):
        return sum(n for where, n in places[kind].items() if where in controlled)

    summary = {
        "steps": steps,
        "simulated_seconds": sim_time,
        "vehicles_arrived": arrived,
        "collisions": len(collisions),
        "teleports": teleports,
        "emergency_stops": emergency_stops,
        "emergency_braking_warnings": emergency_braking,
        "collisions_at_controlled_junctions": at_junctions("collisions"),
        "emergency_stops_at_controlled_junctions": at_junctions("emergency_stops"),
        "teleports_at_controlled_junctions": at_junctions("teleports"),
        "places": {k: dict(sorted(v.items())) for k, v in places.items()},
        "conflicting_green_pairs": sum(j.conflicts for j in junctions),
        "first_conflicting_green": {j.tls: j.first_conflict for j in junctions if j.first_conflict},
        "arrivals_per_approach": dict(sorted(arrivals.items())),
        "error": error,
    }
    print(f"steps {steps}, simulated {sim_time} s, vehicles arrived {arrived}, "
          f"collisions {summary['collisions']}, teleports {teleports}, "
          f"emergency stops {emergency_stops}, emergency braking warnings {emergency_braking}, "
          f"conflicting G pairs {summary['conflicting_green_pairs']}", flush=True)
    print("arrivals per approach: " +
          ", ".join(f"{k} {v}" for k, v in summary["arrivals_per_approach"].items()), flush=True)
    for kind, where in summary["places"].items():
        if where:
            print(f"{kind.replace('_', ' ')} by place (controlled junctions: "
                  f"{', '.join(sorted(controlled))}): "
                  + ", ".join(f"{k} {v}" for k, v in where.items()), flush=True)
    if args.summary:
        with open(args.summary, "w") as f:
            json.dump(summary, f, indent=2)
            f.write("\n")
    if error:
        return 2
    return CONFLICTING_GREENS if summary["conflicting_green_pairs"] else 0


if __name__ == "__main__":
    sys.exit(main())
