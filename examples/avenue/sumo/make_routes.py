#!/usr/bin/env python3
"""Writes avenue.rou.xml: one hour of demand on the avenue with a peak in the middle.

Arrivals per approach are a Poisson process whose rate rises linearly from the base rate at
minute 15 to 1.4 times the base rate at minute 30 and falls back by minute 45. The main road is
busy and not symmetric (900 veh/h from the east, 700 from the west outside the peak, a quarter of
them turning left); the side road is lighter (250 veh/h from the north, 200 from the south, 30 %
turning left). The random generator has a fixed seed, so the file is the same on every run:
python3 make_routes.py [--seed N] [--out FILE]
"""
import argparse
import os
import random
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..",
                                "tools", "sumo-bridge"))
from demand import LEFT, RIGHT, STRAIGHT, arrivals, write_routes  # noqa: E402

BASE = {"e": 900.0, "w": 700.0, "n": 250.0, "s": 200.0}  # vehicles per hour outside the peak
SHARES = {"e": (0.65, 0.10), "w": (0.65, 0.10), "n": (0.50, 0.20), "s": (0.50, 0.20)}  # straight, right
PEAK = 1.4


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--seed", type=int, default=42)
    ap.add_argument("--out", default="avenue.rou.xml")
    args = ap.parse_args()
    rng = random.Random(args.seed)
    vehicles = []
    for arm in "nesw":
        straight, right = SHARES[arm]
        for t in arrivals(rng, BASE[arm], PEAK):
            u = rng.random()
            to = STRAIGHT[arm] if u < straight else RIGHT[arm] if u < straight + right else LEFT[arm]
            vehicles.append((round(t, 1), arm + to))
    vehicles.sort()
    routes = [(arm + to, [f"{arm}_in", f"{arm}_pk", f"{to}_out"])
              for arm in "nesw" for to in sorted({STRAIGHT[arm], RIGHT[arm], LEFT[arm]})]
    write_routes(args.out, args.seed, routes, vehicles)


if __name__ == "__main__":
    main()
