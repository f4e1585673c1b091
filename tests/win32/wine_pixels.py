#!/usr/bin/env python3
"""What a person sees of the x86_64 Tamberlode.exe under Wine and Xvfb,
checked in the pixels of screenshots, not by reading texts back:

- every design text lies inside its box: the ink of a label or button
  caption forms whole lines that neither touch the edge that would cut them
  nor leave room unseen for a further line (a wrapped "Number of Free
  Megabytes on A:" shows as a second line cut by the bottom of its box);
- the About box's separator: a grey row over its whole length, white below;
- the default button's frame (the black outer ring) is on OK in the About
  box (also while the focus is on its icon) and on no button of the start
  notice.

Window places and boxes come from the design (twips at the given DPI), as
the program places them. Run by scripts/wine-tests.sh with WINEPREFIX and
DISPLAY set, once per DPI.
Usage: wine_pixels.py BUILD_DIR DPI SCREENSHOT_DIR (BUILD_DIR holds Tamberlode.exe and
tests/wintext.exe)"""
import os
import subprocess
import sys
import time

from wine_desktop import WINE, Desktop, check, click_at, exit_with_faults, rgb, stop

build, dpi, shots = sys.argv[1], int(sys.argv[2]), sys.argv[3]
wait_for = Desktop(build).wait_for
WHITE = (255, 255, 255)
GREY = (128, 128, 128)


def px(twips):
    """Twips to pixels as the program rounds them (MulDiv: half away from 0)."""
    return (twips * dpi + 720) // 1440


# ---- The design: where each window's client area and boxes lie -------------
NOTICE = {"title": "Tamberlode v0.1a", "origin": (225, 510)}
REPORT = {"title": "Free Space on Drives A: to I:", "origin": (225, 510)}
ABOUT = {"title": "About Tamberlode", "origin": (4335, 495)}

# name, design text (for what may wrap), (left, top, width, height) in twips,
# kind, alignment, lines the text takes (None: as many as it needs)
DRIVE_CAPTIONS = [(f"lblFree{d}", f"Number of Free Megabytes on {d}:",
                   (120, 120 + 240 * i, 2415, 255), "label", "left", 1)
                  for i, d in enumerate("ABCDEFGHI")]
REPORT_BUTTONS = [("Command1", "Refresh", (120, 2400, 855, 255), "button", "center", 1),
                  ("Command2", "About", (1560, 2400, 855, 255), "button", "center", 1),
                  ("Command3", "Exit", (2880, 2400, 855, 255), "button", "center", 1)]
WEB_ADDRESS = ("Label7", "http://www.example.org/tamberlode/", (120, 1485, 3795, 255), "label",
               "right", 1)
COUNT = ("Label1", "5", (1800, 4200, 375, 495), "label", "center", 1)
START = ("Command1", "Start the Application", (1440, 4200, 1215, 615), "button", "center", None)
ABOUT_TEXTS = [("lblTitle", "Tamberlode", (1080, 240, 1725, 480), "label", "center", 1),
               ("lblVersion", "Version 0.1.0", (1080, 720, 1725, 225), "label", "center", 1),
               ("lblDescription", "Tamberlode is a small application ...", (120, 1320, 3525, 930),
                "label", "center", None)]
OK = ("cmdOK", "OK", (1365, 2625, 1260, 345), "button", "center", 1)
SYS_INFO = ("cmdSysInfo", "System Info...", (1380, 3075, 1245, 345), "button", "center", 1)


# ---- Screenshots --------------------------------------------------------------
class Shot:
    def __init__(self, name):
        path = os.path.join(shots, f"{dpi}dpi-{name}.png")
        subprocess.run(["import", "-window", "root", path], check=True)
        ppm = subprocess.run(["convert", path, "ppm:-"], capture_output=True, check=True).stdout
        self.width, self.height, self.data = rgb(ppm)
        self.path = path
        print(f"  screenshot {path}")

    def at(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.data[i:i + 3])


def box_of(window, rect):
    ox, oy = px(window["origin"][0]), px(window["origin"][1])
    left, top, width, height = rect
    return ox + px(left), oy + px(top), px(width), px(height)


def dark(colour, background):
    return max(abs(a - b) for a, b in zip(colour, background)) > 96


def bands(rows):
    """Runs of consecutive row numbers: [(first, last)]."""
    runs = []
    for r in rows:
        if runs and r <= runs[-1][1] + 1:
            runs[-1] = (runs[-1][0], r)
        else:
            runs.append((r, r))
    return runs


def longest_run(values):
    best = run = 0
    for v in values:
        run = run + 1 if v else 0
        best = max(best, run)
    return best


def check_text(shot, window, name, text, rect, kind, align, lines):
    x0, y0, w, h = box_of(window, rect)
    if kind == "button":
        # Inside the 3D edges and the default frame: 3 pixels at 96 DPI.
        edge = max(3, (3 * dpi + 48) // 96)
        x0, y0, w, h = x0 + edge, y0 + edge, w - 2 * edge, h - 2 * edge
    # The box's own colour: its most common one.
    counts = {}
    for y in range(y0, y0 + h):
        for x in range(x0, x0 + w):
            c = shot.at(x, y)
            counts[c] = counts.get(c, 0) + 1
    background = max(counts, key=counts.get)
    ink = [[dark(shot.at(x0 + x, y0 + y), background) for x in range(w)] for y in range(h)]
    # The focus mark is a dotted frame: rows and columns of single dots.
    for y in range(h):
        if sum(ink[y]) > w * 0.3 and longest_run(ink[y]) <= 1:
            ink[y] = [False] * w
    for x in range(w):
        column = [ink[y][x] for y in range(h)]
        if sum(column) > h * 0.3 and longest_run(column) <= 1:
            for y in range(h):
                ink[y][x] = False
    rows = [y for y in range(h) if any(ink[y])]
    cols = [x for x in range(w) if any(ink[y][x] for y in range(h))]
    what = f"{window['title']}: {name} \"{text}\""
    if not check(rows, f"{what} shows text"):
        return
    # Lines of ink; the dot of an i or an underline, one row off its
    # letters, belongs to their line.
    small = 2 * max(1, dpi // 96)
    runs = []
    for run in bands(rows):
        if runs and run[0] - runs[-1][1] <= 2 and min(run[1] - run[0], runs[-1][1] - runs[-1][0]) < small:
            runs[-1] = (runs[-1][0], run[1])
        else:
            runs.append(run)
    detail = f"ink rows {runs} in {w}x{h}, columns {cols[0]}..{cols[-1]}"
    # A line cut by the box's bottom (on a centred button also its top).
    cut = runs[-1][1] >= h - 1 or (kind == "button" and runs[0][0] <= 0)
    # A word cut by the edge the text runs towards.
    cut_side = ((align in ("left", "center") and cols[-1] >= w - 1) or
                (align in ("right", "center") and cols[0] <= 0))
    ok = not cut and not cut_side
    if lines is not None:
        ok = ok and len(runs) == lines
    if kind == "label" and " " in text:
        # Room for one more line inside the box means no line is hidden
        # below it: its top would show. The pitch is measured between
        # lines, else taken as 1.25 times a line's ink.
        pitch = (runs[1][0] - runs[0][0]) if len(runs) > 1 else \
            int((runs[0][1] - runs[0][0] + 1) * 1.25 + 0.5)
        detail += f", a further line would start at row {runs[-1][0] + pitch}"
        ok = ok and runs[-1][0] + pitch < h
    check(ok, f"{what} lies inside its box ({detail})")


def check_separator(shot):
    ox, oy = px(ABOUT["origin"][0]), px(ABOUT["origin"][1])
    y = oy + px(2445)
    xs = range(ox + px(90), ox + px(3840))
    grey = sum(shot.at(x, y) == GREY for x in xs)
    below = sum(shot.at(x, y + 1) == WHITE for x in xs)
    above = sum(shot.at(x, y - 1) == WHITE for x in xs)
    check(grey == len(xs), f"About: the separator's row is grey over its length ({grey} of {len(xs)})")
    check(below == len(xs), f"About: the row below it is white ({below} of {len(xs)})")
    check(above == len(xs), f"About: the row above it is white ({above} of {len(xs)})")


def has_default_frame(shot, window, rect):
    """The black ring a default push button draws around itself."""
    x0, y0, w, h = box_of(window, rect)
    ring = [shot.at(x, y0) for x in range(x0 + 1, x0 + w - 1)]
    ring += [shot.at(x0, y) for y in range(y0 + 1, y0 + h - 1)]
    # Black on Windows, grey under Wine; the plain button's top-left edge is white.
    return sum(max(c) < 200 for c in ring) > len(ring) * 0.9


# ---- Driving the program --------------------------------------------------------
def click_in(window, rect):
    x0, y0, w, h = box_of(window, rect)
    click_at(x0 + w // 2, y0 + h // 2)


def settle():
    time.sleep(1.0)  # the window system draws what the program asked for


os.makedirs(shots, exist_ok=True)
program = subprocess.Popen(["timeout", "180", WINE, f"{build}/Tamberlode.exe"])
try:
    if not check(wait_for(NOTICE["title"], 90), "the start notice opens"):
        raise SystemExit(1)
    settle()
    shot = Shot("notice")
    for item in (WEB_ADDRESS, COUNT):
        check_text(shot, NOTICE, *item)

    time.sleep(6)  # the count runs out and the start button shows
    shot = Shot("notice-start")
    check_text(shot, NOTICE, *START)
    check(not has_default_frame(shot, NOTICE, START[2]),
          "the start notice: \"Start the Application\" is not framed as the default button")
    click_in(NOTICE, START[2])

    if not check(wait_for(REPORT["title"]), "Start shows the report window"):
        raise SystemExit(1)
    settle()
    shot = Shot("report")
    for item in DRIVE_CAPTIONS + REPORT_BUTTONS:
        check_text(shot, REPORT, *item)

    click_in(REPORT, REPORT_BUTTONS[1][2])
    if check(wait_for(ABOUT["title"]), "About opens"):
        settle()
        shot = Shot("about")
        for item in ABOUT_TEXTS + [OK, SYS_INFO]:
            check_text(shot, ABOUT, *item)
        check_separator(shot)
        check(has_default_frame(shot, ABOUT, OK[2]), "About: OK is framed as the default button")
        check(not has_default_frame(shot, ABOUT, SYS_INFO[2]),
              "About: System Info is not framed as the default button")
        # Tab takes the focus from OK to the icon, which is no button: OK
        # stays the default and keeps its frame, as in a Windows dialog box.
        subprocess.run(["xdotool", "key", "Tab"], check=False)
        settle()
        shot = Shot("about-icon-focus")
        check(has_default_frame(shot, ABOUT, OK[2]),
              "About, the focus on the icon: OK is framed as the default button")
        check(not has_default_frame(shot, ABOUT, SYS_INFO[2]),
              "About, the focus on the icon: System Info is not framed")
        click_in(ABOUT, OK[2])
        wait_for(ABOUT["title"], 10, visible=False)

    click_in(REPORT, REPORT_BUTTONS[2][2])
    try:
        program.wait(timeout=20)
    except subprocess.TimeoutExpired:
        check(False, "Exit ends the process")
finally:
    stop(program)

exit_with_faults(f"pixels at {dpi} DPI (screenshots in {shots})")
