#!/usr/bin/python3
"""Draws the tutorial's T-junction (tjunction.jpg) and writes its graphics environment file
(tjunction.rvg): a polygon per stream over its waiting area or its half of the crossing, a
light disc per stream and a box per detector. Run it in this folder with the system's Python
(it needs Debian's python3-pil):  /usr/bin/python3 draw_map.py
"""
from PIL import Image, ImageDraw, ImageFont

WIDTH, HEIGHT = 800, 480
LANE = 45
NORTH, CENTRE_Y, SOUTH = 100, 190, 235     # the main road: two lanes west, one lane east
WEST, CENTRE_X, EAST = 355, 400, 445       # the side road: one lane each way
WALK = (245, 285)                          # the crossing over the side road
STOP = 10                                  # from the junction (or the crossing) to a stop line
WAIT = 110                                 # drawn length of a waiting area

GRASS = (126, 160, 96)
ROAD = (92, 94, 98)
MARK = (236, 236, 230)
KERB = (180, 178, 170)

# Waiting areas of the vehicle streams (x0, y0, x1, y1)
LANES = {
    1: (EAST + STOP, NORTH + 2, EAST + STOP + WAIT, NORTH + LANE - 2),      # from the east, straight
    2: (EAST + STOP, NORTH + LANE + 2, EAST + STOP + WAIT, CENTRE_Y - 2),   # from the east, left
    7: (WEST - STOP - WAIT, CENTRE_Y + 2, WEST - STOP, SOUTH - 2),          # from the west
    4: (CENTRE_X + 2, WALK[1] + STOP, EAST - 2, WALK[1] + STOP + WAIT),     # from the south
}
# The two halves of the crossing
CROSSING = {31: (WEST, WALK[0], CENTRE_X, WALK[1]), 32: (CENTRE_X, WALK[0], EAST, WALK[1])}
# Light discs (centres) and detector boxes (top left corners)
LIGHTS = {1: (585, 122), 2: (585, 167), 7: (215, 212), 4: (422, 425), 31: (337, 265),
          32: (463, 265)}
DETECTORS = {(1, 1): (460, 116), (2, 1): (460, 161), (7, 1): (325, 206), (4, 1): (415, 300),
             (31, 1): (330, 292), (32, 1): (455, 292)}


def corners(box):
    x0, y0, x1, y1 = box
    return [(x0, y0), (x1, y0), (x1, y1), (x0, y1)]


def draw(path):
    img = Image.new("RGB", (WIDTH, HEIGHT), GRASS)
    g = ImageDraw.Draw(img)
    g.rectangle((0, NORTH - 6, WIDTH, SOUTH + 6), fill=KERB)
    g.rectangle((WEST - 6, SOUTH, EAST + 6, HEIGHT), fill=KERB)
    g.rectangle((0, NORTH, WIDTH, SOUTH), fill=ROAD)
    g.rectangle((WEST, NORTH, EAST, HEIGHT), fill=ROAD)
    # centre lines and the lane line of the left-turn lane
    for x0, x1 in ((0, WEST - STOP), (EAST + STOP, WIDTH)):
        g.line((x0, CENTRE_Y, x1, CENTRE_Y), fill=MARK, width=3)
    for x in range(EAST + STOP, WIDTH, 30):
        g.line((x, NORTH + LANE, x + 15, NORTH + LANE), fill=MARK, width=2)
    g.line((CENTRE_X, WALK[1] + STOP, CENTRE_X, HEIGHT), fill=MARK, width=3)
    # stop lines
    g.line((EAST + STOP, NORTH, EAST + STOP, CENTRE_Y), fill=MARK, width=5)
    g.line((WEST - STOP, CENTRE_Y, WEST - STOP, SOUTH), fill=MARK, width=5)
    g.line((CENTRE_X, WALK[1] + STOP, EAST, WALK[1] + STOP), fill=MARK, width=5)
    # the zebra crossing
    for x in range(WEST + 4, EAST, 16):
        g.rectangle((x, WALK[0] + 3, x + 8, WALK[1] - 3), fill=MARK)
    font = ImageFont.load_default()
    for label, (x, y) in {"W": (12, CENTRE_Y + 20), "E": (WIDTH - 24, CENTRE_Y - 30),
                          "S": (CENTRE_X + 60, HEIGHT - 24)}.items():
        g.text((x, y), label, fill=MARK, font=font)
    img.save(path, "JPEG", quality=88)


def write_rvg(path):
    lines = ["mapfile=tjunction.jpg"]
    polygons = {**LANES, **CROSSING}
    for stream in sorted(polygons):
        points = ", ".join(f"{x}, {y}" for x, y in corners(polygons[stream]))
        lines.append(f"polygon={stream}: {points}")
    for (stream, sub), (x, y) in sorted(DETECTORS.items()):
        lines.append(f"detector={stream:02d}.{sub}: {x}, {y}\t{x}, {y}")
    for stream, (x, y) in sorted(LIGHTS.items()):
        lines.append(f"light={stream:02d}: {x}, {y}\t{x}, {y}")
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    draw("tjunction.jpg")
    write_rvg("tjunction.rvg")
