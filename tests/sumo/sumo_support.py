"""What the SUMO tests share: the check list, building a network from its netconvert sources,
waiting for the bridge's ports file, and the checks of a clean run's summary."""
import json
import os
import re
import subprocess
import time

failures = []


def check(cond, what):
    print(("ok   " if cond else "FAIL ") + what, flush=True)
    if not cond:
        failures.append(what)


def build_net(source_dir, stem, out_path):
    """netconvert from STEM.nod/edg/con.xml in source_dir, as the examples' run.sh do."""
    subprocess.run(["netconvert",
                    "--node-files", os.path.join(source_dir, stem + ".nod.xml"),
                    "--edge-files", os.path.join(source_dir, stem + ".edg.xml"),
                    "--connection-files", os.path.join(source_dir, stem + ".con.xml"),
                    "--no-turnarounds", "true", "--tls.default-type", "static",
                    "--output-file", out_path],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def wait_ports(path, proc, count=1, limit=30.0):
    """The bridge's 'TLS PORT' lines once `count` junctions listen; None if it ended first."""
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        if os.path.exists(path):
            ports = {}
            for line in open(path):
                if line.strip():
                    ports[line.split()[0]] = int(line.split()[1])
            if len(ports) >= count:
                return ports
        if proc.poll() is not None:
            return None
        time.sleep(0.05)
    return None


def check_clean_summary(path, steps, where=""):
    """The bridge's summary: `steps` steps taken, and no collision, teleport, emergency stop or
    braking, nor conflicting G pair (`where` says whose). The summary, or None when unreadable."""
    try:
        s = json.load(open(path))
    except (OSError, ValueError):
        check(False, "summary written")
        return None
    check(s["steps"] == steps, f"{steps} steps taken ({s['steps']})")
    check(s["collisions"] == 0, f"no collision{where} ({s['collisions']})")
    check(s["teleports"] == 0, f"no teleport ({s['teleports']})")
    check(s["emergency_stops"] == 0, f"no emergency stop ({s['emergency_stops']})")
    check(s["emergency_braking_warnings"] == 0,
          f"no emergency braking ({s['emergency_braking_warnings']})")
    check(s["conflicting_green_pairs"] == 0,
          f"no conflicting G pair{where} ({s['conflicting_green_pairs']}, "
          f"{s['first_conflicting_green']})")
    return s


def body(path):
    """A SUMO output without its header comment (it carries the date and the command line,
    which differ by nature)."""
    with open(path, "rb") as f:
        data = f.read()
    return re.sub(rb"\A(<\?xml[^>]*\?>\s*)?<!--.*?-->\s*", b"", data, count=1, flags=re.S)
