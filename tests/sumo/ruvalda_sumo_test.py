#!/usr/bin/env python3
"""ruvalda-sumo against the bridge: the same configuration run (a) by tools/sumo-bridge with one
ruvalda-cli controller per junction and (b) by ruvalda-sumo alone must move the traffic the
same, byte for byte, and report the same.

    ruvalda_sumo_test.py PATH/TO/ruvalda-cli SOURCE_DIR [PATH/TO/ruvalda-sumo]

Scenarios, 300 s each with SUMO seed 42:
  - the crossing under crossing.rvc;
  - the corridor under west.rvc and east.rvc (two junctions);
  - the crossing with a mapping that gives the east approach's straight link to stream 01, so
    foe links are G together: conflicting G pairs, collisions or emergency stops, exit 3.
For each: the tripinfo files are byte-identical apart from SUMO's header comment (it carries
the date and the command line), the summary files are byte-identical, the engine trace of the
first junction is byte-identical to ruvalda-cli's --trace and its conflict monitor gives
ruvalda-cli's --monitor verdict, and both end with the same status.
Then configurations that cannot run (broken JSON, a missing mapping, a mapping whose streams
are not the program's) must stop ruvalda-sumo with exit 1 and a message naming the file.

Exit 0 when everything holds, 1 on a failure, 77 (skipped) without SUMO or ruvalda-sumo.
"""
import json
import os
import subprocess
import sys

from sumo_support import (body, build_net, check, failures, run_checks, SKIPPED, sumo_missing,
                          wait_ports)

SIM_SECONDS = 300
SEED = 42
CONFLICTING_GREENS = 3  # the bridge's exit status of a complete run with foe links both G


class Scenario:
    """An example network built in a folder of its own, and its bridge configuration."""

    def __init__(self, src, tmp, name, stem, junctions, mapping_edit=None):
        self.name = name
        self.dir = os.path.join(tmp, name)
        os.makedirs(self.dir)
        ex = os.path.join(src, "examples", stem)
        sx = os.path.join(ex, "sumo")
        net = os.path.join(self.dir, stem + ".net.xml")
        build_net(sx, stem, net)
        self.sumocfg = os.path.join(self.dir, stem + ".sumocfg")
        with open(self.sumocfg, "w") as f:
            f.write(f"""<configuration>
    <input>
        <net-file value="{net}"/>
        <route-files value="{os.path.join(sx, stem + '.rou.xml')}"/>
        <additional-files value="{os.path.join(sx, stem + '.det.xml')}"/>
    </input>
    <time><begin value="0"/><end value="3600"/></time>
</configuration>
""")
        # tls -> (mapping, program)
        self.junctions = {}
        for tls, (mapping, program) in junctions.items():
            path = os.path.join(sx, mapping)
            if mapping_edit:
                m = json.load(open(path))
                mapping_edit(m)
                path = os.path.join(self.dir, mapping)
                json.dump(m, open(path, "w"))
            self.junctions[tls] = (path, os.path.join(ex, program))
        self.first = next(iter(junctions))

    def config(self, run):
        """The bridge configuration of one run; its outputs in the run's own folder."""
        out = os.path.join(self.dir, run)
        os.makedirs(out)
        cfg = os.path.join(out, "bridge.json")
        json.dump({"sumocfg": self.sumocfg, "step_length": 0.1, "seed": SEED, "outputs": out,
                   "junctions": [{"tls": tls, "port": 0, "mapping": m, "program": p}
                                 for tls, (m, p) in self.junctions.items()]}, open(cfg, "w"))
        return out, cfg


def run_bridge(cli, src, sc):
    """The bridge and one ruvalda-cli per junction; (exit status, outputs folder)."""
    out, cfg = sc.config("bridge")
    ports_file = os.path.join(out, "ports")
    bridge = subprocess.Popen([sys.executable, os.path.join(src, "tools", "sumo-bridge",
                                                           "sumo_bridge.py"),
                               cfg, "--end", str(SIM_SECONDS), "--ports-file", ports_file,
                               "--summary", os.path.join(out, "summary.json"),
                               "--accept-timeout", "30"],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    ports = wait_ports(ports_file, bridge, count=len(sc.junctions))
    if ports is None:
        bridge.kill()
        check(False, f"{sc.name}: the bridge listens ({bridge.communicate()[1][-300:]})")
        return None, out, None
    controllers = []
    for tls, (_, program) in sc.junctions.items():
        watch = ["--trace", os.path.join(out, "controller.trace"), "--monitor"] \
            if tls == sc.first else []
        log = open(os.path.join(out, tls + ".log"), "w")
        controllers.append(subprocess.Popen([cli, "sumo", program, f"sumo://127.0.0.1:{ports[tls]}"]
                                            + watch, stdout=log, stderr=subprocess.STDOUT))
    try:
        _, err = bridge.communicate(timeout=120)
    except subprocess.TimeoutExpired:
        bridge.kill()
        _, err = bridge.communicate()
    for c in controllers:
        try:
            c.wait(timeout=20)
        except subprocess.TimeoutExpired:
            c.kill()
    if bridge.returncode not in (0, CONFLICTING_GREENS):
        print(err[-500:])
    with open(os.path.join(out, sc.first + ".log")) as f:
        verdict = f.read().splitlines()[-2:]
    return bridge.returncode, out, verdict


def run_host(host, sc):
    """ruvalda-sumo on the same configuration; (exit status, outputs folder)."""
    out, cfg = sc.config("host")
    r = subprocess.run([host, cfg, "--end", str(SIM_SECONDS), "--monitor",
                        "--summary", os.path.join(out, "summary.json"),
                        "--trace", f"{sc.first}={os.path.join(out, 'controller.trace')}"],
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=120)
    if r.returncode not in (0, CONFLICTING_GREENS):
        print(r.stderr[-500:])
    prefix = f"junction {sc.first}: "
    verdict = [line[len(prefix):] for line in r.stdout.splitlines()
               if line.startswith(prefix + "Conflict monitor:") or
               line.startswith(prefix + "Longest wait")]
    return r.returncode, out, verdict


def first_difference(a, b):
    for i, (x, y) in enumerate(zip(a.splitlines(), b.splitlines())):
        if x != y:
            return f"line {i + 1}:\n  bridge: {x[:300]!r}\n  host:   {y[:300]!r}"
    return "one is a prefix of the other"


def compare(cli, src, host, sc, status):
    bridge_status, b, cli_verdict = run_bridge(cli, src, sc)
    host_status, h, host_verdict = run_host(host, sc)
    check(bridge_status == status, f"{sc.name}: the bridge ends with {status} ({bridge_status})")
    check(host_status == status, f"{sc.name}: ruvalda-sumo ends with {status} ({host_status})")
    check(cli_verdict == host_verdict and len(host_verdict) == 2,
          f"{sc.name}: the conflict monitor's verdict on {sc.first} as ruvalda-cli's "
          f"({host_verdict} and {cli_verdict})")
    for name, read in (("tripinfo.xml", body), ("summary.json", lambda p: open(p, "rb").read()),
                       ("controller.trace", lambda p: open(p, "rb").read())):
        try:
            x, y = read(os.path.join(b, name)), read(os.path.join(h, name))
        except OSError as e:
            check(False, f"{sc.name}: {name} written by both ({e})")
            continue
        same = x == y
        check(same, f"{sc.name}: {name} identical ({len(x)} and {len(y)} bytes)")
        if not same:
            print(first_difference(x.decode(errors="replace"), y.decode(errors="replace")))
    try:
        s = json.load(open(os.path.join(h, "summary.json")))
    except (OSError, ValueError):
        return None
    check(s["steps"] == SIM_SECONDS * 10, f"{sc.name}: {SIM_SECONDS * 10} steps ({s['steps']})")
    return s


def check_runs_apart(cli, src, host, tmp):
    """Runs the scenarios both ways; returns the crossing's scenario."""
    crossing = {"C": ("crossing.map.json", "crossing.rvc")}
    plain = Scenario(src, tmp, "crossing", "crossing", crossing)
    s = compare(cli, src, host, plain, 0)
    if s:
        arrivals = s["arrivals_per_approach"]
        check(sum(arrivals.values()) >= 50 and set(arrivals) == {"n_in", "e_in", "s_in", "w_in"},
              f"crossing: trips from every approach ({arrivals})")

    corridor = {"JW": ("west.map.json", "west.rvc"), "JE": ("east.map.json", "east.rvc")}
    s = compare(cli, src, host, Scenario(src, tmp, "corridor", "corridor", corridor), 0)
    if s:
        sides = {"wn_in", "ws_in", "en_in", "es_in"}
        check(sides <= set(s["arrivals_per_approach"]),
              f"corridor: trips from the side arms of both junctions ({s['arrivals_per_approach']})")

    def east_straight_with_north(m):
        # link 4 (east, straight) leaves stream 04 for stream 01 (north, straight)
        for stream in m["streams"]:
            if stream["stream"] == 1:
                stream["links"].append([4, "G"])
            if stream["stream"] == 4:
                stream["links"] = [link for link in stream["links"] if link[0] != 4]
    s = compare(cli, src, host, Scenario(src, tmp, "crossed", "crossing", crossing,
                                         east_straight_with_north), CONFLICTING_GREENS)
    if s:
        check(s["conflicting_green_pairs"] > 0 and "C" in s["first_conflicting_green"],
              f"crossed: conflicting G pairs counted ({s['conflicting_green_pairs']})")
    return plain


def refused(host, cfg, names, what):
    r = subprocess.run([host, cfg, "--end", "1"], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                       text=True, timeout=60)
    check(r.returncode == 1 and names in r.stderr,
          f"{what}: exit 1 naming {os.path.basename(names)} ({r.returncode}: {r.stderr.strip()[-300:]})")


def check_bad_configurations(src, host, tmp, crossing):
    d = os.path.join(tmp, "bad")
    os.makedirs(d)
    mapping, program = crossing.junctions["C"]
    good = {"sumocfg": crossing.sumocfg, "outputs": os.path.join(d, "out"),
            "junctions": [{"tls": "C", "mapping": mapping, "program": program}]}

    broken = os.path.join(d, "broken.json")
    text = json.dumps(good, indent=2).replace('"outputs"', '"outputs" 1', 1)
    open(broken, "w").write(text)
    line = text[:text.index('"outputs"')].count("\n") + 1
    refused(host, broken, f"{broken}:{line}:", "broken JSON")

    missing = os.path.join(d, "missing-mapping.json")
    cfg = json.loads(json.dumps(good))
    cfg["junctions"][0]["mapping"] = os.path.join(d, "no-such.map.json")
    json.dump(cfg, open(missing, "w"))
    refused(host, missing, cfg["junctions"][0]["mapping"], "a missing mapping")

    # the avenue's program has other streams than the crossing's mapping
    other = os.path.join(d, "other-program.json")
    cfg = json.loads(json.dumps(good))
    cfg["junctions"][0]["program"] = os.path.join(src, "examples", "avenue", "avenue.rvc")
    json.dump(cfg, open(other, "w"))
    refused(host, other, cfg["junctions"][0]["mapping"], "a mapping that does not fit the program")
    check(not os.path.exists(os.path.join(d, "out")), "nothing run for a refused configuration")


def main():
    if len(sys.argv) not in (3, 4):
        print(__doc__)
        return 1
    if len(sys.argv) == 3 or not os.path.exists(sys.argv[3]):
        print("SKIP: ruvalda-sumo was not built (it needs libsumocpp)")
        return SKIPPED
    cli, src, host = (os.path.abspath(a) for a in sys.argv[1:4])
    skip = sumo_missing()
    if skip:
        print(skip)
        return SKIPPED

    def work(tmp):
        crossing = check_runs_apart(cli, src, host, tmp)
        check_bad_configurations(src, host, tmp, crossing)
    return run_checks("ruvalda-sumo-host-", work)

if __name__ == "__main__":
    sys.exit(main())
