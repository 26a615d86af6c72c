#!/usr/bin/env python3
"""Writes crossing.rou.xml: one hour of demand on the crossing with a peak in the middle.

Arrivals per approach are a Poisson process whose rate rises linearly from the base rate at
minute 15 to twice the base rate at minute 30 and falls back by minute 45. Of each approach's
vehicles 70 % go straight, 15 % turn right and 15 % turn left. The random generator has a fixed
seed, so the file is the same on every run: python3 make_routes.py [--seed N] [--out FILE]
"""
import argparse
import os
import random
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..",
                                "tools", "sumo-bridge"))
from demand import LEFT, RIGHT, STRAIGHT, arrivals, write_routes  # noqa: E402

BASE = {"n": 300.0, "s": 300.0, "e": 200.0, "w": 200.0}  # vehicles per hour outside the peak
PEAK = 2.0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--seed", type=int, default=42)
    ap.add_argument("--out", default="crossing.rou.xml")
    args = ap.parse_args()
    rng = random.Random(args.seed)
    vehicles = []
    for arm in "nesw":
        for t in arrivals(rng, BASE[arm], PEAK):
            u = rng.random()
            to = STRAIGHT[arm] if u < 0.70 else RIGHT[arm] if u < 0.85 else LEFT[arm]
            vehicles.append((round(t, 1), arm + to))
    vehicles.sort()
    routes = [(arm + to, [f"{arm}_in", f"{to}_out"])
              for arm in "nesw" for to in sorted({STRAIGHT[arm], RIGHT[arm], LEFT[arm]})]
    write_routes(args.out, args.seed, routes, vehicles)


if __name__ == "__main__":
    main()
