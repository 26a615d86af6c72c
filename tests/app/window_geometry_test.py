"""The desktop's windows under a real X server and window manager (Xvfb and openbox).

Eleven starts and exits of the desktop on the crossing example: the first start (nothing
stored) shows the whole map picture and a main window wide enough for a trace line; in the
second the user moves both windows elsewhere; every later start puts them exactly where they
were at the last exit.

Usage: window_geometry_test.py RUVALDA SOURCE_DIR. Exit 77 (skipped) when Xvfb, openbox,
xdotool or xwininfo is missing.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

SKIPPED = 77
TOOLS = ("Xvfb", "openbox", "xdotool", "xwininfo", "xprop")
SCREEN = (1600, 1000)
STARTS = 11
MOVED_TO = {"main": (700, 150), "map": (40, 60)}  # where the user drags the windows
PICTURE = 800          # the crossing's map picture is 800 x 800
SEQUENCE_PANEL = 113   # the block pictures' panel left of the picture
TRACE_LINE_WIDTH = 80 * 7  # 80 columns of the pane's fixed-pitch font, 7 pixels or more each


def wait_for(what, condition, seconds=20):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        value = condition()
        if value:
            return value
        time.sleep(0.1)
    raise AssertionError(f"timed out waiting for {what}")


def start_x(env):
    """Starts Xvfb on a free display and openbox on it; returns the two processes."""
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                             f"{SCREEN[0]}x{SCREEN[1]}x24", "-nolisten", "tcp"],
                            pass_fds=(write_end,), stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as pipe:
        env["DISPLAY"] = ":" + pipe.readline().strip()
    wm = subprocess.Popen(["openbox"], env=env, stderr=subprocess.DEVNULL)
    wait_for("openbox to manage the screen", lambda: "window id" in subprocess.run(
        ["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=env, capture_output=True,
        text=True).stdout)
    return xvfb, wm


def client_geometry(env, window):
    info = subprocess.run(["xwininfo", "-id", window], env=env, capture_output=True,
                          text=True).stdout
    numbers = [int(re.search(rf"{key}:\s+(-?\d+)", info).group(1))
               for key in ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height")]
    return tuple(numbers)


def windows_of(env, pid):
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(pid), "--name",
                            "."], env=env, capture_output=True, text=True).stdout.split()
    named = {}
    for window in found:
        title = subprocess.run(["xdotool", "getwindowname", window], env=env,
                               capture_output=True, text=True).stdout
        named["main" if title.startswith("Ruvalda") else "map"] = window
    return named if len(named) == 2 else None


def one_start(ruvalda, control_file, env, move_to=None):
    """Starts the desktop, waits until both windows stand still, moves them to `move_to` when
    given, exits with Ctrl+Q; returns the client geometry of both windows at the exit."""
    app = subprocess.Popen([ruvalda, control_file], env=env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.PIPE, text=True)
    try:
        windows = wait_for("both windows", lambda: windows_of(env, app.pid))
        # A window is placed again once the window manager has framed it.
        seen = []

        def settled():
            seen.append({name: client_geometry(env, w) for name, w in windows.items()})
            return len(seen) > 10 and seen[-1] == seen[-6] and seen[-1]
        placed = wait_for("the windows to stand still", settled)
        if move_to:
            for name, (x, y) in move_to.items():
                subprocess.run(["xdotool", "windowmove", "--sync", windows[name], str(x), str(y)],
                               env=env, check=True)
            seen.clear()
            placed = wait_for("the moved windows to stand still", settled)
        subprocess.run(["xdotool", "windowactivate", "--sync", windows["main"], "key", "ctrl+q"],
                       env=env, check=True)
        app.wait(timeout=20)
    finally:
        if app.poll() is None:
            app.kill()
    assert app.returncode == 0, f"the desktop exited {app.returncode}: {app.stderr.read()}"
    return placed


def main():
    ruvalda, source = sys.argv[1], sys.argv[2]
    missing = [tool for tool in TOOLS if not shutil.which(tool)]
    if missing:
        print("skipped: no " + ", ".join(missing) + " (scripts/install-deps.sh installs them)")
        return SKIPPED
    with tempfile.TemporaryDirectory() as home:
        runtime = os.path.join(home, "runtime")
        os.mkdir(runtime, 0o700)
        env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, "config"),
                   XDG_RUNTIME_DIR=runtime)
        env.pop("QT_QPA_PLATFORM", None)
        shutil.copytree(os.path.join(source, "examples", "crossing"), os.path.join(home, "j"))
        control_file = os.path.join(home, "j", "crossing.rvc")
        xvfb, wm = start_x(env)
        try:
            first = one_start(ruvalda, control_file, env)
            print("first start:", first)
            x, y, width, height = first["map"]
            assert width >= SEQUENCE_PANEL + PICTURE and height >= PICTURE, \
                f"the map window {width} x {height} hides part of the {PICTURE} picture"
            assert first["main"][2] >= TRACE_LINE_WIDTH, \
                f"the main window is {first['main'][2]} wide, too narrow for a trace line"
            moved = one_start(ruvalda, control_file, env, MOVED_TO)
            print("moved by the user:", moved)
            assert moved != first, "the windows could not be moved"
            for start in range(3, STARTS + 1):
                again = one_start(ruvalda, control_file, env)
                assert again == moved, f"start {start} placed the windows at {again}"
            print(f"{STARTS} starts: both windows came back where the user left them")
        finally:
            wm.terminate()
            xvfb.terminate()
            wm.wait()
            xvfb.wait()
    return 0


if __name__ == "__main__":
    sys.exit(main())
