"""What the SUMO tests share: the check list, building a network from its netconvert sources,
and waiting for the bridge's ports file."""
import os
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
