#!/usr/bin/env python3
"""ruvalda-junction evaluate on the crossing: two seeds of 300 s, the crossing's program and its
fixed-time program through the bridge, SUMO's actuated program of the derived stages and the
crossing's fixed-time plan as SUMO's own program. The per-run vehicle counts of results.csv
are the tripinfo files' own; the fixed-time program through the bridge moves the traffic
exactly as the same plan in SUMO does; the report has its plots; a planned run and --collect
give the same figures as a direct one.

    evaluate_test.py PATH/TO/ruvalda-cli SOURCE_DIR

Exit 0 when everything holds, 1 on a failure, 77 (skipped) when SUMO or the system's
matplotlib is missing.
"""
import csv
import os
import re
import shutil
import subprocess
import sys
import tempfile

from sumo_support import body, build_net, check, failures

SECONDS = 300
SEEDS = (1, 2)


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 1
    cli, src = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    if not shutil.which("sumo") or subprocess.run(
            ["/usr/bin/python3", "-c", "import matplotlib"], capture_output=True).returncode:
        print("SUMO or python3-matplotlib is not installed; skipped")
        return 77
    tool = os.path.join(src, "tools", "junction", "ruvalda-junction")
    tmp = tempfile.mkdtemp(prefix="ruvalda-evaluate-")
    try:
        # a copy of the example where its route generator finds the demand module
        crossing = os.path.join(tmp, "examples", "crossing")
        shutil.copytree(os.path.join(src, "examples", "crossing"), crossing,
                        ignore=shutil.ignore_patterns("out", "*.net.xml"))
        os.symlink(os.path.join(src, "tools"), os.path.join(tmp, "tools"))
        sumo_dir = os.path.join(crossing, "sumo")
        build_net(sumo_dir, "crossing", os.path.join(sumo_dir, "crossing.net.xml"))
        fixed = os.path.join(sumo_dir, "fixed-time")
        out = os.path.join(tmp, "study")
        common = [os.path.join(sumo_dir, "bridge.json"), "--program",
                  os.path.join(crossing, "crossing.rvc"), "--program",
                  os.path.join(fixed, "fixed-time.rvc"), "--baseline",
                  "actuated,fixed=" + os.path.join(fixed, "fixed-time.add.xml"),
                  "--seeds", ",".join(map(str, SEEDS)), "--end", str(SECONDS), "--cli", cli]
        r = subprocess.run([tool, "evaluate"] + common + ["--jobs", "2", "--out", out],
                           capture_output=True, text=True)
        print(r.stdout[-1500:], r.stderr[-1500:])
        check(r.returncode == 0, f"evaluate exits 0 ({r.returncode})")
        check(re.search(r"\[8/8\] .*about \d+ s left", r.stdout) is not None,
              "progress names runs done, simulated time and the time left")

        rows = list(csv.DictReader(open(os.path.join(out, "results.csv"))))
        runs = [row for row in rows if row["level"] == "run"]
        check(len(runs) == 8, f"8 runs in results.csv ({len(runs)})")
        for row in runs:
            run_dir = os.path.join(out, "runs", re.sub(r"[^A-Za-z0-9_.-]+", "_",
                                                       f"{row['variant']}_s{row['seed']}_d1"))
            trips = body(os.path.join(run_dir, "tripinfo.xml")).count(b"<tripinfo ")
            approaches = sum(int(a["vehicles"]) for a in rows if a["level"] == "approach"
                             and (a["variant"], a["seed"]) == (row["variant"], row["seed"]))
            check(int(row["vehicles"]) == trips > 30 and approaches == trips,
                  f"{row['variant']} seed {row['seed']}: vehicles {row['vehicles']}, "
                  f"by approach {approaches}, tripinfo {trips}")
            check(float(row["conflicting_green_s"]) == 0 and row["collisions_junction"] == "0",
                  f"{row['variant']} seed {row['seed']}: no conflicting green, no collision")
        for seed in SEEDS:
            a = body(os.path.join(out, "runs", f"fixed-time_s{seed}_d1", "tripinfo.xml"))
            b = body(os.path.join(out, "runs", f"SUMO_fixed_s{seed}_d1", "tripinfo.xml"))
            check(a == b and a.count(b"<tripinfo ") > 30,
                  f"seed {seed}: the fixed-time program through the bridge moves the traffic as "
                  f"SUMO's own fixed-time plan does ({len(a)} and {len(b)} bytes)")
        shares = [float(row["green_share"]) for row in rows
                  if row["level"] == "stream" and row["variant"] == "crossing" and
                  row["item"] in ("01", "04")]
        check(len(shares) == 4 and all(0.05 < s < 0.8 for s in shares),
              f"streams 01 and 04 of the crossing have a green share ({shares})")
        report = open(os.path.join(out, "report.html")).read()
        plots = re.findall(r'src="(plots/[^"]+\.svg)"', report)
        check(len(plots) == 4 and all(os.path.getsize(os.path.join(out, p)) > 1000
                                      for p in plots), f"report.html shows 4 plots ({plots})")

        # the same study as a plan: one command line per run, then --collect
        planned = os.path.join(tmp, "planned")
        plan = os.path.join(tmp, "plan.txt")
        r = subprocess.run([tool, "evaluate"] + common + ["--out", planned, "--plan", plan],
                           capture_output=True, text=True)
        lines = open(plan).read().splitlines() if r.returncode == 0 else []
        check(len(lines) == 8, f"--plan writes 8 command lines ({len(lines)})")
        for line in lines[:2]:
            subprocess.run(line, shell=True, check=False)
        r = subprocess.run([tool, "evaluate", "--collect", planned, "--out", planned],
                           capture_output=True, text=True)
        check(r.returncode == 1 and "2 runs collected, 0 failed, 6 without a result" in r.stdout,
              f"--collect counts what has run and what has not ({r.stdout.strip()})")
        collected = [row for row in csv.DictReader(open(os.path.join(planned, "results.csv")))
                     if row["level"] == "run"]
        direct = {(row["variant"], row["seed"]): row["mean_wait_s"] for row in runs}
        check(all(direct[row["variant"], row["seed"]] == row["mean_wait_s"]
                  for row in collected) and len(collected) == 2,
              "planned runs give the direct runs' figures")
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    print("FAILED: " + "; ".join(failures) if failures else "all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
