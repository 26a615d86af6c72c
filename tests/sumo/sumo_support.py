"""What the SUMO tests share: the check list, building a network from its netconvert sources,
waiting for the bridge's ports file, running the bridge with one controller per junction, and
the checks of a clean run's summary."""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

failures = []
SUMO_HOME = os.environ.get("SUMO_HOME", "/usr/share/sumo")
SKIPPED = 77  # the exit status ctest takes for a skipped test


def sumo_missing(programs=("sumo", "netconvert"), tool="traci"):
    """A line telling what of SUMO a test needs and this machine lacks, or None: the programs on
    PATH and `tool` under SUMO's tools folder."""
    missing = [p for p in programs if shutil.which(p) is None]
    if not os.path.exists(os.path.join(SUMO_HOME, "tools", tool)):
        missing.append(f"{SUMO_HOME}/tools/{tool}")
    if not missing:
        return None
    return (f"SKIP: SUMO is not installed ({', '.join(missing)} missing; Debian packages sumo "
            "and sumo-tools)")


def run_checks(prefix, work):
    """Runs work(folder) in a fresh scratch folder, kept for a look when a check failed; prints
    the verdict and returns the exit status."""
    tmp = tempfile.mkdtemp(prefix=prefix)
    try:
        work(tmp)
    finally:
        if failures:
            print(f"outputs kept in {tmp}")
        else:
            shutil.rmtree(tmp, ignore_errors=True)
    print(f"{len(failures)} failure(s)" if failures else "all checks passed")
    return 1 if failures else 0


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


def run_bridge_with_controllers(cli, src, config, programs, seconds, out):
    """Runs tools/sumo-bridge on `config` for `seconds`, and `ruvalda-cli sumo PROGRAM --monitor`
    for each junction (`programs`: TLS id -> control file) once the bridge listens for all of
    them. Writes out/ports and out/summary.json; the controllers' output goes to out/TLS.log.
    Returns {TLS: (exit status or None, output)}, or None when the bridge did not listen for
    exactly those junctions."""
    ports_file = os.path.join(out, "ports")
    bridge = subprocess.Popen([sys.executable, os.path.join(src, "tools", "sumo-bridge",
                                                            "sumo_bridge.py"),
                               config, "--ports-file", ports_file,
                               "--summary", os.path.join(out, "summary.json"),
                               "--end", str(seconds), "--accept-timeout", "30"],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    ports = wait_ports(ports_file, bridge, count=len(programs))
    check(ports is not None and set(ports) == set(programs),
          f"bridge listens for junctions {sorted(programs)} ({ports})")
    if ports is None or set(ports) != set(programs):
        bridge.kill()
        print(bridge.communicate()[1])
        return None
    controllers = {}
    for tls, program in programs.items():
        log = open(os.path.join(out, tls + ".log"), "w+")
        proc = subprocess.Popen([cli, "sumo", program, f"sumo://127.0.0.1:{ports[tls]}",
                                 "--monitor"], stdout=log, stderr=subprocess.STDOUT)
        controllers[tls] = (proc, log)
    try:
        stdout, err = bridge.communicate(timeout=60)
    except subprocess.TimeoutExpired:
        bridge.kill()
        stdout, err = bridge.communicate()
    print(stdout.strip())
    check(bridge.returncode == 0,
          f"bridge ends normally (exit {bridge.returncode}) {err.strip()[-300:]}")
    results = {}
    for tls, (proc, log) in controllers.items():
        try:
            rc = proc.wait(timeout=20)
        except subprocess.TimeoutExpired:
            proc.kill()
            rc = None
        log.seek(0)
        results[tls] = (rc, log.read())
        log.close()
    return results


def monitor_lines(text):
    """The conflict monitor's verdict lines of a controller's output."""
    return [line for line in text.splitlines() if "Conflict monitor" in line]


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
