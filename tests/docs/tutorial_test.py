#!/usr/bin/env python3
"""docs/tutorial.md as a reader follows it: in a fresh folder, the files of docs/tutorial/stepN/
are copied in at the heading of step N and every `console` block is run there; what it prints
must be what the page shows. Every file block (```LANG stepN/FILE) must be that file on disk.
Besides, every program of the tutorial checks clean, the T-junction's monitored run has no
violation, the timeline picture is the one the run writes, and the map file names only what
the program has. Step 5 runs only when SUMO is installed (told on stdout otherwise).

    tutorial_test.py PATH/TO/ruvalda-cli SOURCE_DIR

Exit 0 when everything holds, 1 otherwise.
"""
import glob
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile

failures = []


def check(cond, what, detail=""):
    print(("ok   " if cond else "FAIL ") + what, flush=True)
    if not cond:
        if detail:
            print(detail, flush=True)
        failures.append(what)


# ---------------------------------------------------------------------------------------------
# The page


class Block:
    def __init__(self, info, lines, line_number, step):
        self.info = info.split()
        self.lines = lines
        self.line_number = line_number  # of the opening fence
        self.step = step                # the "## Step N" it stands under, 0 before any


def read_page(path):
    """Headings of steps and fenced blocks, in page order."""
    items = []
    step = 0
    lines = open(path, encoding="utf-8").read().split("\n")
    i = 0
    while i < len(lines):
        m = re.match(r"## Step (\d+)\b", lines[i])
        if m:
            step = int(m.group(1))
            items.append(("step", step))
        if lines[i].startswith("```"):
            j = i + 1
            while j < len(lines) and lines[j] != "```":
                j += 1
            items.append(("block", Block(lines[i][3:], lines[i + 1:j], i + 1, step)))
            i = j
        i += 1
    return items


def commands_and_output(block):
    """The commands of a console block (continuation lines joined) and the lines shown as
    their output, in page order."""
    commands, shown = [], []
    k = 0
    while k < len(block.lines):
        line = block.lines[k]
        if line.startswith("$ "):
            text = line[2:]
            while text.endswith("\\") and k + 1 < len(block.lines):
                k += 1
                text += "\n" + block.lines[k]
            commands.append(text)
        else:
            shown.append(line.rstrip())
        k += 1
    return commands, shown


def matches(shown, out, err):
    """The page shows a terminal: stdout and stderr interleaved. Every shown line must be the
    next line of one of the two streams, and together they must use up both; a line "..."
    lets either stream skip lines. Returns the first mismatch, or None."""
    o = e = 0
    skipping = False
    for line in shown:
        if line == "...":
            skipping = True
            continue
        if skipping:
            found_o = next((k for k in range(o, len(out)) if out[k] == line), None)
            found_e = next((k for k in range(e, len(err)) if err[k] == line), None)
            if found_o is not None:
                o = found_o + 1
            elif found_e is not None:
                e = found_e + 1
            else:
                return f"not printed: {line!r}"
            continue
        if o < len(out) and out[o] == line:
            o += 1
        elif e < len(err) and err[e] == line:
            e += 1
        else:
            nxt = out[o] if o < len(out) else (err[e] if e < len(err) else "(nothing)")
            return f"shown {line!r}, printed {nxt!r}"
    if not skipping and (o < len(out) or e < len(err)):
        rest = out[o:] + err[e:]
        return f"printed but not shown: {rest[0]!r}"
    return None


# ---------------------------------------------------------------------------------------------
# Running a block


def run_block(commands, folder, env, timeout=240):
    script = "\n".join(commands) + "\n"
    proc = subprocess.Popen(["bash", "-c", script], cwd=folder, env=env, text=True,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            start_new_session=True)
    try:
        out, err = proc.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        out, err = proc.communicate()
        err += f"\n(timed out after {timeout} s)"
    return split_lines(out), split_lines(err)


def split_lines(text):
    """Lines without their trailing blanks (the page cannot show them)."""
    return [line.rstrip() for line in text.splitlines()]


def for_parallel_tests(commands, folder):
    """The bridge of step 5 listens on port 12345 as ruvalda-junction configured it; ctest runs
    tests side by side, so here the bridge takes a free port and the controller reads it from
    the ports file the page already waits for."""
    config = os.path.join(folder, "sumo", "bridge.json")
    if any("sumo_bridge.py" in c for c in commands) and os.path.exists(config):
        with open(config) as f:
            cfg = json.load(f)
        for j in cfg["junctions"]:
            j["port"] = 0
        with open(config, "w") as f:
            json.dump(cfg, f, indent=2)
        commands = [c.replace("sumo://127.0.0.1:12345",
                              "sumo://127.0.0.1:$(cut -d' ' -f2 ports)") for c in commands]
    return commands


def sumo_missing():
    for tool in ("sumo", "netconvert"):
        if not shutil.which(tool):
            return f"{tool} is not installed"
    if not os.path.exists("/usr/bin/python3"):
        return "/usr/bin/python3 is missing"
    home = os.environ.get("SUMO_HOME", "/usr/share/sumo")
    if not os.path.isdir(os.path.join(home, "tools", "traci")):
        return f"SUMO's Python tools are not in {home}/tools"
    return None


# ---------------------------------------------------------------------------------------------
# Checks beside the page


def declared_detectors(rvc):
    """Streams of %mat and the detectors its D rows give them (entries 0 or more)."""
    streams, detectors = [], set()
    for line in open(rvc):
        line = line.split("#")[0]
        words = line.split()
        if not words:
            continue
        if words[0] == "%mat":
            streams = [int(w) for w in words[1:]]
        elif re.fullmatch(r"D[1-9]", words[0]) and streams:
            for s, v in zip(streams, words[1:]):
                if int(v) >= 0:
                    detectors.add((s, int(words[0][1])))
    return set(streams), detectors


def check_map_file(tutorial):
    rvg = os.path.join(tutorial, "step4", "tjunction.rvg")
    streams, detectors = declared_detectors(os.path.join(tutorial, "step2", "tjunction.rvc"))
    wrong = []
    picture = None
    for line in open(rvg):
        if line.startswith("mapfile="):
            picture = os.path.join(tutorial, "step4", line.split("=", 1)[1].strip())
        m = re.match(r"(polygon|light)=(\d+):", line)
        if m and int(m.group(2)) not in streams:
            wrong.append(line.strip())
        m = re.match(r"detector=(\d+)\.(\d):", line)
        if m and (int(m.group(1)), int(m.group(2))) not in detectors:
            wrong.append(line.strip())
    check(not wrong, "tjunction.rvg names only streams and detectors of tjunction.rvc",
          "\n".join(wrong))
    jpeg = picture and os.path.exists(picture) and open(picture, "rb").read(2) == b"\xff\xd8"
    check(bool(jpeg), "tjunction.rvg's picture is a JPEG beside it")


def check_programs_clean(cli, tutorial, tmp):
    """Every program of the tutorial passes check: 0 reports, 0 warnings, exit 0."""
    for rvc in sorted(glob.glob(os.path.join(tutorial, "step*", "*.rvc"))):
        d = os.path.join(tmp, "clean-" + os.path.basename(os.path.dirname(rvc)))
        shutil.copytree(os.path.dirname(rvc), d)
        name = os.path.basename(rvc)
        r = subprocess.run([cli, "check", name], cwd=d, capture_output=True, text=True)
        last = r.stdout.strip().split("\n")[-1]
        check(r.returncode == 0 and last == f"{name}: 0 reports, 0 warnings",
              f"{os.path.relpath(rvc, tutorial)} checks clean ({last!r}, exit {r.returncode})",
              r.stderr)


def check_monitored_run(cli, tutorial, tmp):
    """The T-junction's ninety seconds under the monitor: exit 0, no violation."""
    d = os.path.join(tmp, "monitor")
    os.makedirs(d)
    for step in ("step2", "step3"):
        for f in glob.glob(os.path.join(tutorial, step, "*")):
            shutil.copy(f, d)
    r = subprocess.run([cli, "run", "tjunction.rvc", "--seconds", "90", "--detectors",
                        "tjunction-events.txt", "--monitor"],
                       cwd=d, capture_output=True, text=True)
    check(r.returncode == 0 and "Conflict monitor: 0 violations." in r.stdout.split("\n"),
          f"the T-junction's monitored run exits 0 without a violation (exit {r.returncode})",
          r.stdout + r.stderr)


def check_links(page, docs):
    missing = [t for t in re.findall(r"\]\(([^)#:]+)\)", open(page).read())
               if not os.path.exists(os.path.join(docs, t))]
    check(not missing, "every link and picture of the page exists", " ".join(missing))


# ---------------------------------------------------------------------------------------------


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    cli = os.path.abspath(sys.argv[1])
    src = os.path.abspath(sys.argv[2])
    docs = os.path.join(src, "docs")
    tutorial = os.path.join(docs, "tutorial")
    page = os.path.join(docs, "tutorial.md")

    env = dict(os.environ)
    env["RUVALDA"] = src
    env["PATH"] = os.pathsep.join([os.path.dirname(cli), os.path.join(src, "tools", "junction"),
                                   env.get("PATH", "")])
    env.setdefault("SUMO_HOME", "/usr/share/sumo")
    no_sumo = sumo_missing()

    with tempfile.TemporaryDirectory(prefix="tutorial-") as tmp:
        folder = os.path.join(tmp, "first-junction")
        os.makedirs(folder)
        running = True
        for kind, item in read_page(page):
            if kind == "step":
                d = os.path.join(tutorial, f"step{item}")
                for f in sorted(glob.glob(os.path.join(d, "*"))):
                    if os.path.isfile(f):
                        shutil.copy(f, folder)
                if item == 5 and no_sumo:
                    print(f"SKIP step 5 (SUMO): {no_sumo}", flush=True)
                    running = False
                continue
            block = item
            where = f"tutorial.md:{block.line_number}"
            if len(block.info) == 2 and block.info[1].startswith("step"):
                path = os.path.join(tutorial, block.info[1])
                text = open(path).read().rstrip("\n") if os.path.exists(path) else None
                if "..." in block.lines:
                    chunks, chunk = [], []
                    for line in block.lines + ["..."]:
                        if line == "...":
                            if chunk:
                                chunks.append("\n".join(chunk))
                            chunk = []
                        else:
                            chunk.append(line)
                    pos, ok = 0, text is not None
                    for c in chunks:
                        found = text.find(c, pos) if ok else -1
                        ok = found >= 0
                        pos = found + len(c)
                else:
                    ok = text == "\n".join(block.lines)
                check(ok, f"{where}: the page shows {block.info[1]} as it is on disk")
                continue
            if not block.info or block.info[0] != "console" or not running:
                continue
            commands, shown = commands_and_output(block)
            commands = for_parallel_tests(commands, folder)
            out, err = run_block(commands, folder, env)
            problem = matches(shown, out, err)
            check(problem is None, f"{where}: {commands[0].splitlines()[0]}",
                  f"  {problem}\n  stdout:\n    " + "\n    ".join(out) +
                  "\n  stderr:\n    " + "\n    ".join(err))

        # The picture of step 3 is what its command wrote.
        written = os.path.join(folder, "tjunction.svg")
        shown_svg = os.path.join(tutorial, "pictures", "tjunction-timeline.svg")
        same = os.path.exists(written) and open(written).read() == open(shown_svg).read()
        check(same, "tutorial/pictures/tjunction-timeline.svg is the timeline step 3 writes",
              f"  if the timeline's drawing changed, copy {written} there")

        check_programs_clean(cli, tutorial, tmp)
        check_monitored_run(cli, tutorial, tmp)
        check_map_file(tutorial)
        check_links(page, docs)

    if failures:
        print(f"{len(failures)} failure(s)")
        return 1
    print("all passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
