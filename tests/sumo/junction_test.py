#!/usr/bin/env python3
"""ruvalda-junction on networks no example uses: a T-junction with a pedestrian crossing and a
four-arm junction with turn pockets, built here with netconvert. The written program passes
`ruvalda-cli check`, its matrix is the network's foes, and an hour of real SUMO under the bridge
runs clean with every approach served; check-against names a missing foe pair and loop.

    junction_test.py PATH/TO/ruvalda-cli SOURCE_DIR

Exit 0 when everything holds, 1 on a failure, 77 (skipped) when SUMO is not installed.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile

from sumo_support import build_net, check, check_clean_summary, failures, wait_ports

SUMO_HOME = os.environ.get("SUMO_HOME", "/usr/share/sumo")
HOUR = 3600

NETWORKS = {
    # a main road east-west, a side road from the south, a crossing over the side road
    "tee": ("""<nodes>
    <node id="J" x="0" y="0" type="traffic_light"/>
    <node id="W" x="-200" y="0"/> <node id="E" x="200" y="0"/> <node id="S" x="0" y="-200"/>
</nodes>""", """<edges>
    <edge id="w_in" from="W" to="J" numLanes="1" speed="13.89" sidewalkWidth="2"/>
    <edge id="w_out" from="J" to="W" numLanes="1" speed="13.89" sidewalkWidth="2"/>
    <edge id="e_in" from="E" to="J" numLanes="1" speed="13.89" sidewalkWidth="2"/>
    <edge id="e_out" from="J" to="E" numLanes="1" speed="13.89" sidewalkWidth="2"/>
    <edge id="s_in" from="S" to="J" numLanes="2" speed="13.89" sidewalkWidth="2"/>
    <edge id="s_out" from="J" to="S" numLanes="1" speed="13.89" sidewalkWidth="2"/>
</edges>""", """<connections>
    <crossing node="J" edges="s_in s_out" width="4"/>
</connections>"""),
    # four arms; each approach widens 60 m before the junction into a left-turn pocket
    "pockets": ("""<nodes>
    <node id="J" x="0" y="0" type="traffic_light"/>
    <node id="N" x="0" y="250"/> <node id="NP" x="0" y="60"/>
    <node id="E" x="250" y="0"/> <node id="EP" x="60" y="0"/>
    <node id="S" x="0" y="-250"/> <node id="SP" x="0" y="-60"/>
    <node id="W" x="-250" y="0"/> <node id="WP" x="-60" y="0"/>
</nodes>""", """<edges>
    <edge id="n_in" from="N" to="NP" numLanes="1"/> <edge id="n_pk" from="NP" to="J" numLanes="2"/>
    <edge id="n_out" from="J" to="N" numLanes="1"/>
    <edge id="e_in" from="E" to="EP" numLanes="1"/> <edge id="e_pk" from="EP" to="J" numLanes="2"/>
    <edge id="e_out" from="J" to="E" numLanes="1"/>
    <edge id="s_in" from="S" to="SP" numLanes="1"/> <edge id="s_pk" from="SP" to="J" numLanes="2"/>
    <edge id="s_out" from="J" to="S" numLanes="1"/>
    <edge id="w_in" from="W" to="WP" numLanes="1"/> <edge id="w_pk" from="WP" to="J" numLanes="2"/>
    <edge id="w_out" from="J" to="W" numLanes="1"/>
</edges>""", """<connections>
    <connection from="n_in" to="n_pk" fromLane="0" toLane="0"/>
    <connection from="n_in" to="n_pk" fromLane="0" toLane="1"/>
    <connection from="e_in" to="e_pk" fromLane="0" toLane="0"/>
    <connection from="e_in" to="e_pk" fromLane="0" toLane="1"/>
    <connection from="s_in" to="s_pk" fromLane="0" toLane="0"/>
    <connection from="s_in" to="s_pk" fromLane="0" toLane="1"/>
    <connection from="w_in" to="w_pk" fromLane="0" toLane="0"/>
    <connection from="w_in" to="w_pk" fromLane="0" toLane="1"/>
    <connection from="n_pk" to="s_out" fromLane="0" toLane="0"/>
    <connection from="n_pk" to="w_out" fromLane="0" toLane="0"/>
    <connection from="n_pk" to="e_out" fromLane="1" toLane="0"/>
    <connection from="e_pk" to="w_out" fromLane="0" toLane="0"/>
    <connection from="e_pk" to="n_out" fromLane="0" toLane="0"/>
    <connection from="e_pk" to="s_out" fromLane="1" toLane="0"/>
    <connection from="s_pk" to="n_out" fromLane="0" toLane="0"/>
    <connection from="s_pk" to="e_out" fromLane="0" toLane="0"/>
    <connection from="s_pk" to="w_out" fromLane="1" toLane="0"/>
    <connection from="w_pk" to="e_out" fromLane="0" toLane="0"/>
    <connection from="w_pk" to="s_out" fromLane="0" toLane="0"/>
    <connection from="w_pk" to="n_out" fromLane="1" toLane="0"/>
</connections>"""),
}


def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, text=True, **kw)


def build(tmp, name):
    d = os.path.join(tmp, name)
    os.makedirs(d)
    for part, text in zip(("nod", "edg", "con"), NETWORKS[name]):
        with open(os.path.join(d, f"{name}.{part}.xml"), "w") as f:
            f.write(text + "\n")
    net = os.path.join(d, f"{name}.net.xml")
    build_net(d, name, net)
    return d, net


def junction(src, *args):
    return run([sys.executable, os.path.join(src, "tools", "junction", "ruvalda_junction.py")]
               + list(args))


def matrix_conflicts(rvc):
    sys.path.insert(0, os.path.join(SRC, "tools", "junction"))
    import ruvalda_junction
    d = ruvalda_junction.Declaration(rvc)
    return {(s, t) for s in d.streams for t in d.streams if d.conflicts(s, t)}


def foe_conflicts(net, mapping):
    """The stream pairs the network's foes make conflicting: both directions."""
    sys.path.insert(0, os.path.join(SRC, "tools", "junction"))
    import ruvalda_junction
    network = ruvalda_junction.Network(net, "J")
    of_link, letter = {}, {}
    for e in mapping["streams"]:
        for i, g in e["links"]:
            of_link.setdefault(i, []).append(e["stream"])
            letter[i] = g
    pairs = set()
    for a, b in network.foes:
        if network.must_not_share(a, b, letter):
            pairs |= {(s, t) for s in of_link[a] for t in of_link[b] if s != t}
            pairs |= {(t, s) for s in of_link[a] for t in of_link[b] if s != t}
    return pairs


def from_sumo_runs_clean(tmp, src, cli, name):
    d, net = build(tmp, name)
    out = os.path.join(d, "program")
    r = junction(src, "from-sumo", net, "--tls", "J", "--out", out, "--name", name)
    check(r.returncode == 0, f"{name}: from-sumo ({r.stderr.strip()})")
    rvc = os.path.join(out, f"{name}.rvc")
    r = run([cli, "check", rvc], cwd=out)
    check(r.returncode == 0 and r.stderr == "", f"{name}: ruvalda-cli check passes ({r.stderr})")
    mapping = json.load(open(os.path.join(out, f"{name}.map.json")))
    check(matrix_conflicts(rvc) == foe_conflicts(net, mapping),
          f"{name}: the matrix is the network's foes")
    r = junction(src, "check-against", net, "--tls", "J", rvc,
                 os.path.join(out, f"{name}.map.json"), "--loops",
                 os.path.join(out, f"{name}.det.xml"))
    check(r.returncode == 0, f"{name}: check-against finds nothing ({r.stdout.strip()})")

    # an hour under the bridge, with the files as written
    cfg = json.load(open(os.path.join(out, "bridge.json")))
    cfg["junctions"][0]["port"] = 0
    with open(os.path.join(out, "bridge.json"), "w") as f:
        json.dump(cfg, f)
    bridge = subprocess.Popen([sys.executable, os.path.join(src, "tools", "sumo-bridge",
                                                            "sumo_bridge.py"),
                               os.path.join(out, "bridge.json"), "--end", str(HOUR),
                               "--ports-file", os.path.join(out, "ports"),
                               "--summary", os.path.join(out, "summary.json")],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    ports = wait_ports(os.path.join(out, "ports"), bridge)
    if ports is None:
        bridge.kill()
        check(False, f"{name}: bridge listens ({bridge.communicate()[1][-300:]})")
        return out
    ctl = run([cli, "sumo", rvc, f"sumo://127.0.0.1:{ports['J']}", "--monitor"], cwd=out,
              timeout=300)
    bridge.communicate(timeout=60)
    check(ctl.returncode == 0 and "Conflict monitor: 0 violations." in ctl.stdout,
          f"{name}: controller clean ({ctl.stdout.strip()[-200:]})")
    s = check_clean_summary(os.path.join(out, "summary.json"), HOUR * 10, f" ({name})")
    if s is not None:
        for approach in sorted(s["arrivals_per_approach"]):
            check(s["arrivals_per_approach"][approach] > 0, f"{name}: {approach} served")
        check(len(s["arrivals_per_approach"]) >= 3, f"{name}: every approach served "
              f"({s['arrivals_per_approach']})")
    return out


def check_against_names_problems(src, net, out, name):
    rvc = os.path.join(out, f"{name}.rvc")
    lines = open(rvc).read().split("\n")
    streams = next(l for l in lines if l.startswith("%mat")).split()[1:]
    # drop one conflict: the first -1-free entry of the first row
    for i, line in enumerate(lines):
        if line.startswith(f"{int(streams[0]):02d} "):
            values = line.split()
            j = next(k for k in range(1, len(values)) if values[k] != "-1")
            values[j] = "-1"
            lines[i] = "   ".join(values)
            missing = (int(streams[0]), int(streams[j - 1]))
            break
    bad = os.path.join(out, "bad.rvc")
    with open(bad, "w") as f:
        f.write("\n".join(lines))
    shutil.copy(os.path.join(out, f"{name}.DTL"), os.path.join(out, "bad.DTL"))
    mapping = json.load(open(os.path.join(out, f"{name}.map.json")))
    number = sorted(mapping["detectors"])[0]
    mapping["detectors"][number] = "no_such_loop"
    with open(os.path.join(out, "bad.map.json"), "w") as f:
        json.dump(mapping, f)
    r = junction(src, "check-against", net, "--tls", "J", bad, os.path.join(out, "bad.map.json"),
                 "--loops", os.path.join(out, f"{name}.det.xml"))
    check(r.returncode == 1, f"check-against fails on a bad program (exit {r.returncode})")
    want = f"streams {missing[0]:02d} and {missing[1]:02d}"
    check(want in r.stdout, f"check-against names {want} ({r.stdout.strip()[:300]})")
    check(f"detector {number}: loop no_such_loop is not in" in r.stdout,
          "check-against names the missing loop")


def main():
    global SRC
    if len(sys.argv) != 3:
        print(__doc__)
        return 1
    cli, SRC = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    if shutil.which("sumo") is None or shutil.which("netconvert") is None or \
            not os.path.isdir(os.path.join(SUMO_HOME, "tools", "traci")):
        print("SKIP: SUMO is not installed (Debian packages sumo and sumo-tools)")
        return 77
    tmp = tempfile.mkdtemp(prefix="ruvalda-junction-")
    try:
        from_sumo_runs_clean(tmp, SRC, cli, "tee")
        out = from_sumo_runs_clean(tmp, SRC, cli, "pockets")
        check_against_names_problems(SRC, os.path.join(tmp, "pockets", "pockets.net.xml"), out,
                                     "pockets")
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    print(f"{len(failures)} failed" if failures else "all checks passed")
    return 1 if failures else 0


SRC = ""

if __name__ == "__main__":
    sys.exit(main())
