#!/usr/bin/env python3
"""Detector scenarios for the example junctions, in the form ruvalda-cli run --detectors reads:
time in tenths, tab, detector (D051), tab, 1 or 0.

Vehicles arrive at each vehicle stream as a Poisson stream with a minimum headway; in the
rush-hour profile the arrivals come in platoons from upstream signals (the rate swings with a
90 s cycle). Every vehicle occupies the stop-line detector 1 for the time its length needs at
its speed; on streams with an upstream detector (2, or 3 on the avenue) it passes that one about 3 s
earlier.
Pedestrians press the push button (detector 1) of a crossing half at random.

    tools/make_scenario.py crossing rush-hour [--seconds 3600] [--seed 1] > rush-hour.txt
"""
import argparse
import math
import random
import sys

# Vehicle rates in vehicles per hour (light, rush hour); pedestrian presses per hour.
JUNCTIONS = {
    "crossing": {
        "vehicles": {1: (300, 900), 7: (300, 850), 4: (150, 450), 10: (150, 420),
                     2: (60, 200), 8: (60, 180), 5: (40, 150), 11: (40, 140)},
        "upstream": {1, 7},
        "pedestrians": {s: (15, 45) for s in range(31, 39)},
    },
    "tjunction": {
        "vehicles": {1: (250, 700), 2: (250, 650), 3: (60, 200), 5: (60, 200), 6: (50, 180)},
        "upstream": set(),
        "pedestrians": {s: (10, 40) for s in (33, 34)},
    },
    # the main road's straight streams have two lanes; the scenario drives the first lane's
    # stop-line loop (detector 1) and its loop 60 m upstream (detector 3)
    "avenue": {
        "vehicles": {4: (450, 950), 10: (350, 750), 5: (120, 300), 11: (100, 250),
                     1: (100, 220), 7: (80, 180), 2: (40, 100), 8: (30, 80)},
        "upstream": {4, 10},
        "upstream_detector": 3,
        "pedestrians": {},
    },
}
PROFILES = {"light": 0, "rush-hour": 1}


def vehicle_events(rng, stream, rate, seconds, rush, upstream):
    """Occupancy intervals (start, end) in tenths on detectors 1 and 2 of one stream."""
    stop_line, upstream_line = [], []
    t = rng.expovariate(rate / 3600.0)
    free_at = 0.0
    while t < seconds:
        length = rng.uniform(4.0, 5.5) if rng.random() > 0.08 else rng.uniform(9.0, 16.0)
        speed = rng.uniform(8.0, 14.0)  # metres per second over the detector
        occupy = (length + 1.5) / speed
        start = max(t, free_at)
        stop_line.append((start, start + occupy))
        free_at = start + occupy + 0.2
        if upstream:
            ahead = 40.0 / speed
            if start - ahead > 0:
                upstream_line.append((start - ahead, start - ahead + occupy * 0.8))
        headway = rng.expovariate(rate / 3600.0)
        if rush:
            # platoons: the rate swings with the cycle of the signal upstream
            swing = 1.0 + 0.7 * math.sin(2 * math.pi * t / 90.0)
            headway /= max(swing, 0.3)
        t += max(headway, 1.5)
    return stop_line, upstream_line


def pedestrian_presses(rng, rate, seconds):
    presses, t = [], rng.expovariate(rate / 3600.0)
    while t < seconds:
        presses.append((t, t + rng.uniform(0.2, 0.6)))
        t += max(rng.expovariate(rate / 3600.0), 2.0)
    return presses


def to_tenths(intervals):
    """Whole tenths; an interval keeps at least one tenth and never touches the next."""
    out, last_end = [], -1
    for start, end in intervals:
        s = max(int(round(start * 10)), last_end + 1)
        e = max(int(round(end * 10)), s + 1)
        out.append((s, e))
        last_end = e
    return out


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("junction", choices=sorted(JUNCTIONS))
    parser.add_argument("profile", choices=sorted(PROFILES))
    parser.add_argument("--seconds", type=float, default=3600.0)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    rng = random.Random(f"{args.junction}/{args.profile}/{args.seed}")
    junction, column = JUNCTIONS[args.junction], PROFILES[args.profile]
    events = []
    for stream, rates in sorted(junction["vehicles"].items()):
        stop_line, upstream_line = vehicle_events(
            rng, stream, rates[column], args.seconds, column == 1, stream in junction["upstream"])
        upstream_detector = junction.get("upstream_detector", 2)
        for detector, intervals in ((1, stop_line), (upstream_detector, upstream_line)):
            for start, end in to_tenths(intervals):
                events.append((start, stream, detector, 1))
                events.append((end, stream, detector, 0))
    for stream, rates in sorted(junction["pedestrians"].items()):
        for start, end in to_tenths(pedestrian_presses(rng, rates[column], args.seconds)):
            events.append((start, stream, 1, 1))
            events.append((end, stream, 1, 0))
    limit = int(args.seconds * 10)
    out = sys.stdout
    out.write(f"# {args.junction}, {args.profile}, {args.seconds:g} s, seed {args.seed}: "
              "made by tools/make_scenario.py\n")
    for time, stream, detector, state in sorted(events):
        if time <= limit:
            out.write(f"{time}\tD{stream:02d}{detector}\t{state}\n")


if __name__ == "__main__":
    main()
