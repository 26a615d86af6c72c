#!/usr/bin/env python3
"""Turns a detector event file of ruvalda-cli (tenths, tab, D051, tab, 0/1) into a scenario for
vissim-standin, translating program detectors to VISSIM detectors through the control file's
detector translation table (.DTL: VISSIM number, program number per line).

    events_to_scenario.py EVENTS DTL --controller 7 --duration 600 --groups 1 2 4 > x.scn
"""
import argparse
import sys


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("events")
    p.add_argument("translation")
    p.add_argument("--controller", type=int, default=7)
    p.add_argument("--duration", type=int, default=600, help="seconds")
    p.add_argument("--resolution", type=int, default=5, help="steps per second")
    p.add_argument("--groups", type=int, nargs="+", required=True, help="signal groups")
    a = p.parse_args()

    to_vissim = {}
    with open(a.translation) as f:
        for line in f:
            words = line.split()
            if len(words) >= 2 and words[0].isdigit() and words[1].isdigit():
                to_vissim.setdefault(int(words[1]), int(words[0]))

    out = sys.stdout
    out.write(f"# made by tools/vissim-standin/events_to_scenario.py from {a.events}\n")
    out.write(f"controller {a.controller}\nresolution {a.resolution}\nduration {a.duration}\n")
    out.write("signalgroups " + " ".join(str(g) for g in a.groups) + "\n")
    with open(a.events) as f:
        for line in f:
            words = line.split()
            if len(words) != 3 or not words[1].startswith("D"):
                continue
            tenths, detector, state = int(words[0]), int(words[1][1:]), words[2]
            if tenths > a.duration * 10:
                break
            if detector not in to_vissim:
                sys.exit(f"detector {detector} has no VISSIM number in {a.translation}")
            out.write(f"{tenths // 10}.{tenths % 10} {to_vissim[detector]} {state}\n")


if __name__ == "__main__":
    main()
