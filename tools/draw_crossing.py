#!/usr/bin/python3
"""Draws the background picture of the crossing example (examples/crossing/crossing.jpg) and
writes its graphics environment file (crossing.rvg): one polygon per stream over its lanes or
its half of a crossing, a light disc per stream and a box per detector.

Needs Debian's python3-pil. Run from the repository root:  tools/draw_crossing.py
"""
from PIL import Image, ImageDraw, ImageFont

SIZE = 800
C = SIZE // 2          # centre of the junction
HALF = 90              # half width of each road
LANE = 45
BOX = (C - HALF, C + HALF)  # the junction box, both axes
WALK = 40              # crossing width
GAP = 10               # between box and crossing
STOP = GAP + WALK + 10  # stop line distance from the box
APPROACH = 110         # drawn length of the waiting area

GRASS = (126, 160, 96)
ROAD = (92, 94, 98)
MARK = (236, 236, 230)
KERB = (180, 178, 170)


def approach_lanes():
    """Polygons of the vehicle streams: (stream, [(x, y)...]), and detector positions."""
    lo, hi = BOX
    n_stop, s_stop = lo - STOP, hi + STOP
    w_stop, e_stop = lo - STOP, hi + STOP
    lanes = {
        # from north, driving south on the west half: straight/right outside, left inside
        1: (lo + 2, n_stop - APPROACH, lo + LANE - 2, n_stop),
        2: (lo + LANE + 2, n_stop - APPROACH, C - 2, n_stop),
        # from south, driving north on the east half
        7: (hi - LANE + 2, s_stop, hi - 2, s_stop + APPROACH),
        8: (C + 2, s_stop, hi - LANE - 2, s_stop + APPROACH),
        # from east, driving west on the north half
        4: (e_stop, lo + 2, e_stop + APPROACH, lo + LANE - 2),
        5: (e_stop, lo + LANE + 2, e_stop + APPROACH, C - 2),
        # from west, driving east on the south half
        10: (w_stop - APPROACH, hi - LANE + 2, w_stop, hi - 2),
        11: (w_stop - APPROACH, C + 2, w_stop, hi - LANE - 2),
    }
    return lanes


def crossings():
    lo, hi = BOX
    a, b = lo - GAP - WALK, lo - GAP      # north / west band
    c, d = hi + GAP, hi + GAP + WALK      # south / east band
    return {
        31: (lo, a, C, b), 32: (C, a, hi, b),          # across the north arm
        33: (c, lo, d, C), 34: (c, C, d, hi),          # across the east arm
        35: (lo, c, C, d), 36: (C, c, hi, d),          # across the south arm
        37: (a, lo, b, C), 38: (a, C, b, hi),          # across the west arm
    }


def rect_points(r):
    x0, y0, x1, y1 = r
    return [(x0, y0), (x1, y0), (x1, y1), (x0, y1)]


def draw(path):
    img = Image.new("RGB", (SIZE, SIZE), GRASS)
    g = ImageDraw.Draw(img)
    lo, hi = BOX
    g.rectangle((lo - 6, 0, hi + 6, SIZE), fill=KERB)
    g.rectangle((0, lo - 6, SIZE, hi + 6), fill=KERB)
    g.rectangle((lo, 0, hi, SIZE), fill=ROAD)
    g.rectangle((0, lo, SIZE, hi), fill=ROAD)
    # centre lines and lane lines outside the box
    for y0, y1 in ((0, lo - STOP), (hi + STOP, SIZE)):
        g.line((C, y0, C, y1), fill=MARK, width=3)
        for x in (lo + LANE, hi - LANE):
            for y in range(y0, y1, 30):
                g.line((x, y, x, min(y + 15, y1)), fill=MARK, width=2)
    for x0, x1 in ((0, lo - STOP), (hi + STOP, SIZE)):
        g.line((x0, C, x1, C), fill=MARK, width=3)
        for y in (lo + LANE, hi - LANE):
            for x in range(x0, x1, 30):
                g.line((x, y, min(x + 15, x1), y), fill=MARK, width=2)
    # stop lines
    g.line((lo, lo - STOP, C, lo - STOP), fill=MARK, width=5)
    g.line((C, hi + STOP, hi, hi + STOP), fill=MARK, width=5)
    g.line((hi + STOP, lo, hi + STOP, C), fill=MARK, width=5)
    g.line((lo - STOP, C, lo - STOP, hi), fill=MARK, width=5)
    # zebra crossings
    for stream, (x0, y0, x1, y1) in crossings().items():
        if x1 - x0 > y1 - y0:
            for x in range(x0 + 4, x1, 16):
                g.rectangle((x, y0 + 3, x + 8, y1 - 3), fill=MARK)
        else:
            for y in range(y0 + 4, y1, 16):
                g.rectangle((x0 + 3, y, x1 - 3, y + 8), fill=MARK)
    # lane arrows, plainly: a short line with a head
    font = ImageFont.load_default()
    for label, (x, y) in {"N": (C - 60, 12), "S": (C + 40, SIZE - 24), "E": (SIZE - 24, C - 60),
                          "W": (12, C + 40)}.items():
        g.text((x, y), label, fill=MARK, font=font)
    img.save(path, "JPEG", quality=88)


def write_rvg(path):
    lines = ["mapfile=crossing.jpg"]
    polygons = {s: rect_points(r) for s, r in approach_lanes().items()}
    polygons.update({s: rect_points(r) for s, r in crossings().items()})
    for stream in sorted(polygons):
        pts = ", ".join(f"{x}, {y}" for x, y in polygons[stream])
        lines.append(f"polygon={stream}: {pts}")
    # light discs: at the far end of each waiting area, or beside each crossing half
    lights, detectors = {}, []
    for stream, (x0, y0, x1, y1) in approach_lanes().items():
        cx, cy = (x0 + x1) // 2, (y0 + y1) // 2
        if stream in (1, 2):
            lights[stream] = (cx, y0 - 20)
            detectors.append((stream, 1, cx - 7, y1 - 22))
        elif stream in (7, 8):
            lights[stream] = (cx, y1 + 20)
            detectors.append((stream, 1, cx - 7, y0 + 8))
        elif stream in (4, 5):
            lights[stream] = (x1 + 20, cy)
            detectors.append((stream, 1, x0 + 8, cy - 7))
        else:
            lights[stream] = (x0 - 20, cy)
            detectors.append((stream, 1, x1 - 22, cy - 7))
        if stream == 1:
            detectors.append((stream, 2, cx - 7, y0 + 10))
        if stream == 7:
            detectors.append((stream, 2, cx - 7, y1 - 24))
    for stream, (x0, y0, x1, y1) in crossings().items():
        horizontal = x1 - x0 > y1 - y0
        if horizontal:
            end = x0 - 18 if stream % 2 else x1 + 18
            lights[stream] = (end, (y0 + y1) // 2)
            detectors.append((stream, 1, end - 7, y0 - 20 if y0 < C else y1 + 6))
        else:
            end = y0 - 18 if stream % 2 else y1 + 18
            lights[stream] = ((x0 + x1) // 2, end)
            detectors.append((stream, 1, x0 - 20 if x0 < C else x1 + 6, end - 7))
    for stream, sub, x, y in detectors:
        lines.append(f"detector={stream:02d}.{sub}: {x}, {y}\t{x}, {y}")
    for stream in sorted(lights):
        x, y = lights[stream]
        lines.append(f"light={stream:02d}: {x}, {y}\t{x}, {y}")
    with open(path, "w", newline="\r\n") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    draw("examples/crossing/crossing.jpg")
    write_rvg("examples/crossing/crossing.rvg")
