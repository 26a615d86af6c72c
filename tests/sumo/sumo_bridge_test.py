#!/usr/bin/env python3
"""Real SUMO, the bridge and ruvalda-cli on the crossing and avenue examples, and the bridge's
reaction to controllers that break the line protocol.

    sumo_bridge_test.py PATH/TO/ruvalda-cli SOURCE_DIR

Exit 0 when everything holds, 1 on a failure, 77 (skipped) when SUMO is not installed.
"""
import json
import os
import socket
import subprocess
import sys

from sumo_support import (build_net, check, check_clean_summary, failures, run_checks, SKIPPED,
                          sumo_missing, wait_ports)

SIM_SECONDS = 300






class Scenario:
    """An example junction (examples/STEM/sumo) in a folder of its own."""

    def __init__(self, tmp, src, stem="crossing"):
        self.tmp = os.path.join(tmp, stem)
        os.makedirs(self.tmp)
        self.src = src
        self.stem = stem
        self.bridge = os.path.join(src, "tools", "sumo-bridge", "sumo_bridge.py")
        ex = os.path.join(src, "examples", stem, "sumo")
        self.net = os.path.join(self.tmp, f"{stem}.net.xml")
        # the network is built from its sources, as run.sh does
        build_net(ex, stem, self.net)
        self.sumocfg = os.path.join(self.tmp, f"{stem}.sumocfg")
        with open(self.sumocfg, "w") as f:
            f.write(f"""<configuration>
    <input>
        <net-file value="{self.net}"/>
        <route-files value="{os.path.join(ex, stem + '.rou.xml')}"/>
        <additional-files value="{os.path.join(ex, stem + '.det.xml')}"/>
    </input>
    <time><begin value="0"/><end value="3600"/></time>
</configuration>
""")
        self.mapping = os.path.join(ex, f"{stem}.map.json")

    def start_bridge(self, name, extra, python=sys.executable, program=None):
        d = os.path.join(self.tmp, name)
        os.makedirs(d)
        cfg = os.path.join(d, "bridge.json")
        junction = {"tls": "C", "port": 0, "mapping": self.mapping}
        if program:
            junction["program"] = program
        with open(cfg, "w") as f:
            json.dump({"sumocfg": self.sumocfg, "step_length": 0.1, "seed": 42,
                       "outputs": os.path.join(d, "out"), "junctions": [junction]}, f)
        ports = os.path.join(d, "ports")
        proc = subprocess.Popen([python, self.bridge, cfg, "--ports-file", ports,
                                 "--summary", os.path.join(d, "summary.json"),
                                 "--accept-timeout", "30"] + extra,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        return d, proc, wait_ports(ports, proc)


def real_controller(sc, cli, name="real", extra=(), python=sys.executable):
    """Runs the example's program through the bridge; returns the run's folder."""
    rvc = os.path.join(sc.src, "examples", sc.stem, f"{sc.stem}.rvc")
    d, bridge, ports = sc.start_bridge(name, ["--end", str(SIM_SECONDS)] + list(extra), python)
    check(ports is not None and "C" in ports, "bridge listens for junction C")
    if ports is None:
        bridge.kill()
        print(bridge.communicate()[1])
        return
    ctl_log = open(os.path.join(d, "controller.log"), "w+")
    ctl = subprocess.Popen([cli, "sumo", rvc, f"sumo://127.0.0.1:{ports['C']}", "--monitor"],
                           stdout=ctl_log, stderr=subprocess.STDOUT)
    try:
        out, err = bridge.communicate(timeout=90)
    except subprocess.TimeoutExpired:
        bridge.kill()
        out, err = bridge.communicate()
    try:
        ctl_rc = ctl.wait(timeout=20)
    except subprocess.TimeoutExpired:
        ctl.kill()
        ctl_rc = None
    print(out.strip())
    check(bridge.returncode == 0, f"bridge ends normally (exit {bridge.returncode}) {err.strip()[-300:]}")
    check(ctl_rc == 0, f"ruvalda-cli ends when the bridge closes the connection (exit {ctl_rc})")
    ctl_log.seek(0)
    monitor = [line for line in ctl_log.read().splitlines() if "Conflict monitor" in line]
    check(monitor == ["Conflict monitor: 0 violations."],
          f"{sc.stem}: the conflict monitor is clean {monitor}")
    s = check_clean_summary(os.path.join(d, "summary.json"), SIM_SECONDS * 10, f" ({sc.stem})")
    if s is None:
        return
    for approach in ("n_in", "e_in", "s_in", "w_in"):
        n = s["arrivals_per_approach"].get(approach, 0)
        check(n > 0, f"{sc.stem}: vehicles from {approach} arrived ({n})")
    # SUMO's own collision record is empty too
    col = open(os.path.join(d, "out", "collisions.xml")).read()
    check("<collision " not in col, "collision output of SUMO empty")
    return d


def fake_controller(sc, name, answers, expect, extra=(), rc=2):
    """Connects like a controller, sends a valid first lights line, then answers the steps with
    `answers` (one entry per step: bytes to send, or None to go silent, or "close")."""
    d, bridge, ports = sc.start_bridge(name, ["--end", "60"] + list(extra))
    d_summary = os.path.join(d, "summary.json")
    if ports is None:
        bridge.kill()
        check(False, f"{name}: bridge listens")
        return
    s = socket.create_connection(("127.0.0.1", ports["C"]))
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    s.sendall(b"lights " + b"r" * 16 + b"\r\n")
    buf = b""
    for a in answers:
        while b"step\r\n" not in buf:
            data = s.recv(4096)
            if not data:
                break
            buf += data
        buf = buf.split(b"step\r\n", 1)[1] if b"step\r\n" in buf else b""
        if a == "close":
            s.close()
            break
        if a is None:
            break
        s.sendall(a)
    try:
        out, err = bridge.communicate(timeout=30)
    except subprocess.TimeoutExpired:
        bridge.kill()
        out, err = bridge.communicate()
    s.close()
    check(bridge.returncode == rc, f"{name}: bridge exit code {rc} ({bridge.returncode})")
    if expect is not None:
        check(expect in err, f"{name}: message {expect!r} in {err.strip().splitlines()[-1:]}")
    return json.load(open(d_summary)) if os.path.exists(d_summary) else None


def in_process_gives_the_same_trips(sc, cli, over_socket):
    """With --libsumo (SUMO in the bridge's process, from the system's Python 3) the same run
    gives the same trips. Skipped where that Python has no libsumo."""
    system = "/usr/bin/python3"
    if not os.path.exists(system) or subprocess.run(
            [system, "-c", "import libsumo"], capture_output=True).returncode != 0:
        print("skip libsumo: /usr/bin/python3 cannot import it")
        return
    d = real_controller(sc, cli, "libsumo", ["--libsumo"], system)
    if d is None or over_socket is None:
        return

    def trips(folder):
        return [line for line in open(os.path.join(folder, "out", "tripinfo.xml"))
                if "<tripinfo " in line]
    check(trips(d) == trips(over_socket) and trips(d),
          f"libsumo: the same {len(trips(d))} trips as over TraCI's socket")


def bad_mappings_are_refused_before_anyone_connects(sc):
    """A link the traffic light does not have, a loop the configuration does not define: exit 1
    naming the mapping and the entry, before the bridge listens."""
    good = json.load(open(sc.mapping))
    for name, change, message in (
            ("link-out-of-range", lambda m: m["streams"][0]["links"].append([99, "G"]),
             "stream 1: link 99 out of range (traffic light C has links 0..15)"),
            ("missing-loop", lambda m: m["detectors"].update({"1011": "no_such_loop"}),
             "detector 1011: no loop 'no_such_loop'")):
        m = json.loads(json.dumps(good))
        change(m)
        path = os.path.join(sc.tmp, name + ".map.json")
        with open(path, "w") as f:
            json.dump(m, f)
        saved, sc.mapping = sc.mapping, path
        d, bridge, ports = sc.start_bridge(name, [])
        sc.mapping = saved
        out, err = bridge.communicate(timeout=30)
        check(bridge.returncode == 1 and ports is None,
              f"{name}: refused before listening (exit {bridge.returncode})")
        check(path in err and message in err, f"{name}: names mapping and entry ({err.strip()})")
    # a program of other streams than the mapping's (the T-junction's)
    tjunction = os.path.join(sc.src, "examples", "tjunction", "tjunction.rvc")
    d, bridge, ports = sc.start_bridge("other-program", [], program=tjunction)
    out, err = bridge.communicate(timeout=30)
    check(bridge.returncode == 1 and ports is None and "the lights line would not fit" in err
          and tjunction in err, f"a program of other streams is refused ({err.strip()})")


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 1
    cli, src = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    skip = sumo_missing()
    if skip:
        print(skip)
        return SKIPPED

    def work(tmp):
        real_controller(Scenario(tmp, src, "avenue"), cli)
        sc = Scenario(tmp, src)
        over_socket = real_controller(sc, cli)
        in_process_gives_the_same_trips(sc, cli, over_socket)
        good = b"lights " + b"r" * 16 + b"\r\n"
        fake_controller(sc, "bad-letter", [good, good, b"lights rrrrrrrrrrrrrrrx\r\n"],
                        "junction C: invalid lights line 'lights rrrrrrrrrrrrrrrx'")
        fake_controller(sc, "short", [good, b"lights rrrr\r\n"],
                        "junction C: invalid lights line 'lights rrrr'")
        fake_controller(sc, "upper-case", [b"lights " + b"R" * 16 + b"\r\n"],
                        "junction C: invalid lights line 'lights RRRRRRRRRRRRRRRR'")
        fake_controller(sc, "no-prefix", [b"light " + b"r" * 16 + b"\r\n"],
                        "junction C: invalid lights line 'light rrrrrrrrrrrrrrrr'")
        fake_controller(sc, "disconnect", [good, "close"],
                        "junction C: the controller disconnected")
        fake_controller(sc, "silent", [good, None],
                        "junction C: the controller stayed silent for 1 s", ["--timeout", "1"])
        # all greens at once: the bridge applies them but counts every pair of foes both on G
        green = b"lights " + b"g" * 16 + b"\r\n"
        s = fake_controller(sc, "all-green", [green] * 10, None, ["--end", "1"], rc=3)
        check(s is not None and s["conflicting_green_pairs"] > 0,
              f"all-green: conflicting G pairs counted, exit 3 ({s and s['conflicting_green_pairs']})")
        check(s is not None and "places" in s and "collisions_at_controlled_junctions" in s,
              "the summary gives places and the controlled junctions' counts")
        bad_mappings_are_refused_before_anyone_connects(sc)
    return run_checks("ruvalda-sumo-", work)

if __name__ == "__main__":
    sys.exit(main())
