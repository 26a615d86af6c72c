#!/usr/bin/env python3
"""Writes corridor.rou.xml: one hour of demand on the corridor with a peak in the middle.

Vehicles enter at the two ends of the corridor (edges ww_in and ee_in, 400 veh/h each outside the
peak) and on the four side arms (wn_in, ws_in, en_in, es_in, 150 veh/h each). Of the vehicles from
an end of the corridor 70 % drive through both junctions to the other end, 10 % turn right and
10 % left at the first junction, 5 % right and 5 % left at the second. Of the vehicles from a side
arm 60 % go straight across, 20 % turn right and 20 % left; those turning towards the other
junction go straight on through it. Arrivals are a Poisson process whose rate rises linearly from
the base rate at minute 15 to twice the base rate at minute 30 and falls back by minute 45. The
random generator has a fixed seed, so the file is the same on every run:
    python3 make_routes.py [--seed N] [--out FILE]
Vehicle ids are ROUTE.N; the through routes are ww_ee and ee_ww.
"""
import argparse
import os
import random
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..",
                                "tools", "sumo-bridge"))
from demand import LEFT, RIGHT, STRAIGHT, arrivals, write_routes  # noqa: E402

BASE = {"ww": 400.0, "ee": 400.0, "wn": 150.0, "ws": 150.0, "en": 150.0, "es": 150.0}
OTHER = {"w": "e", "e": "w"}
PEAK = 2.0


def route(origin, turns):
    """Edges from approach `origin` (junction letter + arm letter) taking `turns`, one of the
    dictionaries above per junction passed, until the vehicle leaves the corridor."""
    j, arm = origin[0], origin[1]
    edges = [f"{j}{arm}_in"]
    for turn in turns:
        to = turn[arm]
        edges.append(f"{j}{to}_out")
        if to != OTHER[j]:
            break
        # towards the other junction: enter it from the side facing this one
        j = OTHER[j]
        arm = OTHER[j]
        edges.append(f"{j}{arm}_in")
    return edges


def choices(origin):
    """(probability, turns) for the vehicles entering at `origin`."""
    if origin in ("ww", "ee"):
        return [(0.70, (STRAIGHT, STRAIGHT)), (0.10, (RIGHT,)), (0.10, (LEFT,)),
                (0.05, (STRAIGHT, RIGHT)), (0.05, (STRAIGHT, LEFT))]
    return [(0.60, (STRAIGHT,)), (0.20, (RIGHT, STRAIGHT)), (0.20, (LEFT, STRAIGHT))]


def route_id(edges):
    return edges[0][:2] + "_" + edges[-1][:2]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--seed", type=int, default=42)
    ap.add_argument("--out", default="corridor.rou.xml")
    args = ap.parse_args()
    rng = random.Random(args.seed)
    routes = {}
    vehicles = []
    for origin in sorted(BASE):
        options = []
        for p, turns in choices(origin):
            edges = route(origin, turns)
            routes[route_id(edges)] = edges
            options.append((p, route_id(edges)))
        for t in arrivals(rng, BASE[origin], PEAK):
            u = rng.random()
            for p, rid in options:
                if u < p:
                    break
                u -= p
            vehicles.append((round(t, 1), rid))
    vehicles.sort()
    write_routes(args.out, args.seed, [(rid, routes[rid]) for rid in sorted(routes)], vehicles)


if __name__ == "__main__":
    main()
