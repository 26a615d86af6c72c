#!/usr/bin/env python3
"""The exact oracle of the SUMO coupling: a fixed-time control program run through the bridge
must move the traffic exactly as SUMO does under the same plan as its own static program.

    fixed_time_oracle_test.py PATH/TO/ruvalda-cli SOURCE_DIR

Both runs use the crossing network built from its sources, the same demand (make_routes.py with
one seed), the same SUMO seed and options, and 300 s of simulated time:
  (a) SUMO alone with examples/crossing/sumo/fixed-time/fixed-time.add.xml as its program;
  (b) the bridge, SUMO and ruvalda-cli running examples/crossing/sumo/fixed-time/fixed-time.rvc.
Their tripinfo outputs must be byte-identical, except for SUMO's header comment (it carries the
date and the command line, which differ by nature).

Exit 0 when they match, 1 on a failure, 77 (skipped) when SUMO is not installed.
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

from sumo_support import body, build_net, check, failures, wait_ports

SIM_SECONDS = 300
SEED = 42
ROUTE_SEED = 7


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 1
    cli, src = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    if not shutil.which("sumo") or not shutil.which("netconvert"):
        print("SUMO is not installed; skipped")
        return 77
    # SUMO alone runs with the bridge's own options.
    sys.path.insert(0, os.path.join(src, "tools", "sumo-bridge"))
    from sumo_bridge import sumo_options
    ex = os.path.join(src, "examples", "crossing", "sumo")
    fixed = os.path.join(ex, "fixed-time")
    tmp = tempfile.mkdtemp(prefix="ruvalda-oracle-")
    try:
        net = os.path.join(tmp, "crossing.net.xml")
        build_net(ex, "crossing", net)
        routes = os.path.join(tmp, "crossing.rou.xml")
        subprocess.run([sys.executable, os.path.join(ex, "make_routes.py"),
                        "--seed", str(ROUTE_SEED), "--out", routes], check=True)
        detectors = os.path.join(ex, "crossing.det.xml")
        sumocfg = os.path.join(tmp, "crossing.sumocfg")
        with open(sumocfg, "w") as f:
            f.write(f"""<configuration>
    <input>
        <net-file value="{net}"/>
        <route-files value="{routes}"/>
        <additional-files value="{detectors}"/>
    </input>
    <time><begin value="0"/><end value="3600"/></time>
</configuration>
""")

        # (a) SUMO alone, the plan as its static program
        alone = os.path.join(tmp, "alone")
        os.makedirs(alone)
        env = dict(os.environ)
        env.setdefault("SUMO_HOME", "/usr/share/sumo")
        r = subprocess.run(["sumo", "-c", sumocfg, "--additional-files",
                            detectors + "," + os.path.join(fixed, "fixed-time.add.xml"),
                            "--end", str(SIM_SECONDS)] + sumo_options(alone, 0.1, SEED),
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, env=env)
        check(r.returncode == 0, f"SUMO alone runs (exit {r.returncode}) {r.stdout[-300:]}")

        # (b) the bridge, SUMO and ruvalda-cli with the fixed-time control program
        bridged = os.path.join(tmp, "bridged")
        os.makedirs(bridged)
        cfg = os.path.join(bridged, "bridge.json")
        with open(cfg, "w") as f:
            json.dump({"sumocfg": sumocfg, "step_length": 0.1, "seed": SEED, "outputs": bridged,
                       "junctions": [{"tls": "C", "port": 0,
                                      "mapping": os.path.join(ex, "crossing.map.json")}]}, f)
        ports_file = os.path.join(tmp, "ports")
        summary = os.path.join(tmp, "summary.json")
        bridge = subprocess.Popen([sys.executable, os.path.join(src, "tools", "sumo-bridge",
                                                               "sumo_bridge.py"),
                                   cfg, "--end", str(SIM_SECONDS), "--summary", summary,
                                   "--ports-file", ports_file, "--accept-timeout", "30"],
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        ports = wait_ports(ports_file, bridge)
        check(ports is not None and "C" in ports, "bridge listens for junction C")
        if ports is None:
            bridge.kill()
            print(bridge.communicate()[1])
            return 1
        ctl_log = open(os.path.join(tmp, "controller.log"), "w+")
        ctl = subprocess.Popen([cli, "sumo", os.path.join(fixed, "fixed-time.rvc"),
                                f"sumo://127.0.0.1:{ports['C']}"],
                               stdout=ctl_log, stderr=subprocess.STDOUT)
        try:
            out, err = bridge.communicate(timeout=90)
        except subprocess.TimeoutExpired:
            bridge.kill()
            out, err = bridge.communicate()
        try:
            ctl.wait(timeout=20)
        except subprocess.TimeoutExpired:
            ctl.kill()
        print(out.strip())
        check(bridge.returncode == 0,
              f"bridge ends normally (exit {bridge.returncode}) {err.strip()[-300:]}")
        try:
            s = json.load(open(summary))
            check(s["steps"] == SIM_SECONDS * 10, f"{SIM_SECONDS * 10} steps taken ({s['steps']})")
            check(s["conflicting_green_pairs"] == 0,
                  f"no conflicting G pair ({s['conflicting_green_pairs']})")
        except (OSError, ValueError):
            check(False, "bridge summary written")

        a = body(os.path.join(alone, "tripinfo.xml")) if r.returncode == 0 else b""
        b = body(os.path.join(bridged, "tripinfo.xml")) if bridge.returncode == 0 else b""
        trips = a.count(b"<tripinfo ")
        starts = {m.group(1) for m in re.finditer(rb'departLane="([nesw])_in', a)}
        check(trips >= 50, f"SUMO alone finished at least 50 trips ({trips})")
        check(starts == {b"n", b"e", b"s", b"w"},
              f"trips from every approach ({sorted(x.decode() for x in starts)})")
        check(a == b, f"tripinfo byte-identical apart from the header comment "
                      f"({len(a)} and {len(b)} bytes)")
        if a != b:
            la, lb = a.splitlines(), b.splitlines()
            for i, (x, y) in enumerate(zip(la, lb)):
                if x != y:
                    print(f"first difference, line {i + 1}:\n  alone:   {x.decode()}\n"
                          f"  bridged: {y.decode()}")
                    break
    finally:
        if failures:
            print(f"outputs kept in {tmp}")
        else:
            shutil.rmtree(tmp, ignore_errors=True)
    print(f"{len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
