#!/usr/bin/env python3
"""Every text of the x86_64 Tamberlode.exe stays readable under Wine's colour
schemes: the default one, and one whose window-text colour is white (as dark
schemes have it). For each scheme the program is driven through its three
windows; each visible control with text is cut from a screenshot, and the
contrast ratio of its darkest or brightest ink against its background must be
at least 4.5:1. Run by scripts/wine-tests.sh with WINEPREFIX and DISPLAY set.
Usage: wine_contrast.py BUILD_DIR SCREENSHOT_DIR
Each window is saved as SCREENSHOT_DIR/wine-SCHEME-WINDOW.png."""
import os
import subprocess
import sys
import time

from wine_desktop import WINE, Desktop, check, child, click, exit_with_faults, rgb, say

build, shots = sys.argv[1:3]
COLOURS = r"HKCU\Control Panel\Colors"
MINIMUM = 4.5
wait_for = Desktop(build).wait_for


def wine(*args, seconds=60):
    return subprocess.run(["timeout", str(seconds), WINE, *args], capture_output=True,
                          text=True, errors="replace")


def screen():
    """The screen as (width, height, bytes of RGB rows)."""
    return rgb(subprocess.run(["import", "-window", "root", "-depth", "8", "ppm:-"],
                              capture_output=True).stdout)


def luminance(rgb):
    def channel(c):
        c /= 255
        return c / 12.92 if c <= 0.04045 else ((c + 0.055) / 1.055) ** 2.4
    r, g, b = (channel(c) for c in rgb)
    return 0.2126 * r + 0.7152 * g + 0.0722 * b


def ratio(a, b):
    la, lb = sorted((luminance(a), luminance(b)), reverse=True)
    return (la + 0.05) / (lb + 0.05)


def contrast(picture, rect):
    """The contrast of the ink in `rect` (screen pixels) against its
    background: the commonest colour is the background, the colour farthest
    from it the ink."""
    width, height, pixels = picture
    left, top, right, bottom = rect
    counts = {}
    for y in range(max(top, 0), min(bottom, height)):
        row = pixels[3 * (y * width + max(left, 0)):3 * (y * width + min(right, width))]
        for x in range(0, len(row), 3):
            colour = tuple(row[x:x + 3])
            counts[colour] = counts.get(colour, 0) + 1
    if not counts:
        return 1.0
    background = max(counts, key=counts.get)
    return max(ratio(background, colour) for colour in counts)


def save(window, name):
    left, top, right, bottom = window[3]
    subprocess.run(["import", "-window", "root", "-crop", f"{right - left}x{bottom - top}+{left}+{top}",
                    "+repage", os.path.join(shots, name)], check=False)


def texts(window, what, picture):
    """Checks every visible control of `window` that shows text: labels and
    buttons with a caption, and the pictures of lettering (not the icon)."""
    for cls, txt, visible, rect, _ in window[4]:
        kind = cls.lower()
        lettering = kind == "tamberlodepicture" and rect[2] - rect[0] > 64
        if not visible or not (lettering or (kind in ("static", "button") and txt)):
            continue
        value = contrast(picture, rect)
        name = txt.replace("\n", " ") or f"picture at {rect[0]},{rect[1]}"
        say(f"{what}: {name!r}: {value:.2f}:1")
        if value < MINIMUM:
            check(False, f"{what}: {name!r} is readable ({value:.2f}:1, wanted {MINIMUM}:1)")


def drive(scheme):
    """Runs the program once and checks its three windows."""
    program = subprocess.Popen(["timeout", "180", WINE, f"{build}/Tamberlode.exe"])
    try:
        counting = wait_for("Tamberlode v0.1a", 60)
        if counting is None:
            # Wine now and then leaves a program on a loaded machine without
            # its desktop; a second start gets one.
            say(f"{scheme}: no start notice after 60 s; starting the program again")
            program.terminate()
            program.wait()
            program = subprocess.Popen(["timeout", "180", WINE, f"{build}/Tamberlode.exe"])
            counting = wait_for("Tamberlode v0.1a", 60)
        check(counting is not None, f"{scheme}: the start notice opens")
        if counting is None:
            return
        time.sleep(0.3)
        texts(counting, f"{scheme} notice (counting)", screen())
        # Each window in turn: wait for it, measure and save it, press on.
        steps = [("Tamberlode v0.1a", "notice", "Start the Application", 90),
                 ("Free Space on Drives A: to I:", "report", "About", 60),
                 ("About Tamberlode", "about", "OK", 60)]
        for title, name, button, seconds in steps:
            window = wait_for(title, seconds, until=lambda w, b=button: child(w, b) is not None)
            if not check(window is not None, f"{scheme}: the {name} window shows {button}"):
                break
            time.sleep(0.5)
            texts(window, f"{scheme} {name}", screen())
            save(window, f"wine-{scheme}-{name}.png")
            click(child(window, button))
        report = wait_for("Free Space on Drives A: to I:")
        if report is not None:
            click(child(report, "Exit"))
        program.wait(timeout=20)
    except subprocess.TimeoutExpired:
        check(False, f"{scheme}: Exit ends the program")
    finally:
        if program.poll() is None:
            program.kill()
            program.wait()


def window_text(value):
    """Sets the scheme's window-text colour ("R G B"), or removes it (None)."""
    if value is None:
        wine("reg", "delete", COLOURS, "/v", "WindowText", "/f")
    else:
        wine("reg", "add", COLOURS, "/v", "WindowText", "/t", "REG_SZ", "/d", value, "/f")


os.makedirs(shots, exist_ok=True)
query = wine("reg", "query", COLOURS, "/v", "WindowText").stdout.replace("\r", "")
original = None
for line in query.splitlines():
    if line.strip().startswith("WindowText"):
        original = line.split("REG_SZ", 1)[1].strip()
say(f"window-text colour of the prefix: {original!r}")
try:
    window_text("0 0 0")
    drive("default")
    window_text("255 255 255")
    drive("white-text")
finally:
    window_text(original)

exit_with_faults("contrast")
