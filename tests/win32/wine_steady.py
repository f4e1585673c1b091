#!/usr/bin/env python3
"""Windows that hold still and pictures that show whole, checked in the
pixels of screenshots of Tamberlode.exe under Wine and Xvfb:

- the start notice is as wide at 20 s as at 3 s (its hidden count runs on
  below 0, gaining digits);
- the credit picture's focus mark, there at start, is closed on all four
  sides (the e-mail picture overlaps the credit box's last row);
- under a dark scheme no picture box differs from its window's white
  outside the picture itself (the icon's transparent pixels included);
- at 144 DPI the banner's lettering fills the same share of its box as at
  96 DPI, within 2 pixels, and the About icon grows with it.

Sets the prefix's DPI and window colours for its runs and puts them back.
Run by scripts/wine-tests.sh with WINEPREFIX and DISPLAY set.
Usage: wine_steady.py BUILD_DIR SCREENSHOT_DIR [steady,dark,144]"""
import contextlib
import os
import struct
import subprocess
import sys
import tempfile
import time

from wine_desktop import Desktop, check, child, click, exit_with_faults, rgb, say, stop

build, shots = sys.argv[1:3]
source = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
NOTICE, REPORT, ABOUT = "Tamberlode v0.1a", "Free Space on Drives A: to I:", "About Tamberlode"
BANNER, CREDIT, EMAIL = "Tamberlode v0.1a", "Produced by the Tamberlode developers", \
    "tamberlode@example.org"
WHITE = (255, 255, 255)
PROGRAM = os.path.join(build, "Tamberlode.exe")


def loader():
    """The Wine loader for the program's machine type, by path."""
    with open(PROGRAM, "rb") as exe:
        head = exe.read(4096)
    machine = struct.unpack_from("<H", head, struct.unpack_from("<I", head, 0x3C)[0] + 4)[0]
    return "/usr/lib/wine/wine64" if machine == 0x8664 else "/usr/lib/wine/wine"


WINE = loader()
desktop = Desktop(build, WINE)


def wine(*args, seconds=60):
    """What a Windows program wrote. Through a file, not a pipe: the Wine
    processes it may start (services, desktop) stay on and would hold a
    pipe open."""
    with tempfile.TemporaryFile() as out:
        subprocess.run(["timeout", str(seconds), WINE, *args], stdout=out,
                       stderr=subprocess.DEVNULL)
        out.seek(0)
        return out.read().decode(errors="replace").replace("\r", "")


def server(*args):
    # Never a pipe (see wine).
    subprocess.run(["timeout", "20", "/usr/lib/wine/wineserver", *args],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


# ---- Pictures from their files -------------------------------------------------
def bmp(name):
    """(width, height, pixel(x, y)) of a 24-bit bottom-up BMP."""
    data = open(os.path.join(source, "notice", "pictures", name), "rb").read()
    offset, width, height = struct.unpack_from("<I", data, 10)[0], *struct.unpack_from("<ii", data, 18)
    stride = (width * 3 + 3) & ~3

    def pixel(x, y):
        at = offset + (height - 1 - y) * stride + 3 * x
        return data[at + 2], data[at + 1], data[at]
    return width, height, pixel


def icon_transparent():
    """The transparent pixels of the icon's 32x32 image: its AND mask."""
    data = open(os.path.join(source, "identity", "icon", "tamberlode.ico"), "rb").read()
    for i in range(struct.unpack_from("<H", data, 4)[0]):
        width, height, colours = data[6 + 16 * i], data[7 + 16 * i], data[8 + 16 * i]
        offset = struct.unpack_from("<I", data, 6 + 16 * i + 12)[0]
        bits = struct.unpack_from("<H", data, offset + 14)[0]
        if (width, height, colours) != (32, 32, 16):
            continue
        mask = offset + 40 + 4 * 16 + 32 * ((32 * bits + 31) // 32 * 4)
        return {(x, y) for y in range(32) for x in range(32)
                if data[mask + (31 - y) * 4 + x // 8] >> (7 - x % 8) & 1}
    return set()


# ---- The screen ------------------------------------------------------------------
class Shot:
    def __init__(self, name):
        self.path = os.path.join(shots, name)
        subprocess.run(["import", "-window", "root", self.path], check=True)
        ppm = subprocess.run(["convert", self.path, "ppm:-"], capture_output=True, check=True).stdout
        self.width, self.height, self.data = rgb(ppm)
        say(f"screenshot {self.path}")

    def at(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.data[i:i + 3])


def client_width(shot, notice):
    """The white run of the client area's top rows, from a point above the
    banner to the frame on either side."""
    banner = child(notice, BANNER)[3]
    x, y = banner[0], banner[1] - 3
    left = right = x
    while left > 0 and shot.at(left - 1, y) == WHITE:
        left -= 1
    while right + 1 < shot.width and shot.at(right + 1, y) == WHITE:
        right += 1
    return right - left + 1


def focus_mark_closed(shot, box, what):
    """The black dots of the focus mark inside `box` (screen rect) form a
    frame with each side at least 40% drawn."""
    left, top, right, bottom = box
    dots = [(x, y) for y in range(top, bottom) for x in range(left, right)
            if shot.at(x, y) == (0, 0, 0)]
    if not check(dots, f"{what}: the credit picture shows a focus mark"):
        return
    x0, x1 = min(x for x, _ in dots), max(x for x, _ in dots)
    y0, y1 = min(y for _, y in dots), max(y for _, y in dots)
    found = set(dots)
    share = {
        "top": sum((x, y0) in found for x in range(x0, x1 + 1)) / (x1 - x0 + 1),
        "bottom": sum((x, y1) in found for x in range(x0, x1 + 1)) / (x1 - x0 + 1),
        "left": sum((x0, y) in found for y in range(y0, y1 + 1)) / (y1 - y0 + 1),
        "right": sum((x1, y) in found for y in range(y0, y1 + 1)) / (y1 - y0 + 1),
    }
    drawn = ", ".join(f"{side} {value:.0%}" for side, value in share.items())
    check(min(share.values()) >= 0.4 and y1 < bottom - 1,
          f"{what}: the focus mark is closed on all four sides, inside the credit box's own "
          f"rows (rows {y0 - top}..{y1 - top} of {bottom - top}; {drawn})")


def differing(shot, box, own, focused=False):
    """Pixels of `box` that are not the window's white, outside the
    picture's own pixels `own(x, y)` and, in a focused box, the black dots of
    its focus mark (the scheme's dark ground is no pure black)."""
    left, top, right, bottom = box
    return sum(1 for y in range(top, bottom) for x in range(left, right)
               if not own(x - left, y - top) and shot.at(x, y) != WHITE
               and not (focused and shot.at(x, y) == (0, 0, 0)))


def ink_end(pixel, width, height):
    """One past the rightmost column with lettering (not near white)."""
    end = 0
    for y in range(height):
        for x in range(width):
            if min(pixel(x, y)) < 200:
                end = max(end, x + 1)
    return end


# ---- Driving the program -----------------------------------------------------------
def start():
    program = subprocess.Popen(["timeout", "180", WINE, PROGRAM])
    notice = desktop.wait_for(NOTICE, 60)
    if notice is None:
        # Wine now and then leaves a program on a loaded machine without its
        # desktop; a second start gets one.
        say("no start notice after 60 s; starting the program again")
        stop(program)
        program.wait()
        program = subprocess.Popen(["timeout", "180", WINE, PROGRAM])
        notice = desktop.wait_for(NOTICE, 60)
    return program, notice, time.time()


def to_about():
    """From the start notice (its count run out) through Start and About."""
    for title, button in ((NOTICE, "Start the Application"), (REPORT, "About")):
        window = desktop.wait_for(title, 60, until=lambda w, b=button: child(w, b) is not None)
        if window is None:
            return None
        time.sleep(0.3)
        click(child(window, button))
    about = desktop.wait_for(ABOUT, 60)
    time.sleep(1.0)
    return about


def finish(program):
    """Ends the program: Exit where the report is up, else a signal to the
    Windows process itself (one to `timeout` alone would leave it behind)."""
    report = desktop.wait_for(REPORT, 3)
    if report is not None:
        click(child(report, "Exit"))
    else:
        program.terminate()
    try:
        program.wait(timeout=20)
    except subprocess.TimeoutExpired:
        stop(program)
        program.wait()


def dpi():
    for line in wine("reg", "query", r"HKCU\Control Panel\Desktop", "/v",
                     "LogPixels").splitlines():
        if "REG_DWORD" in line:
            return int(line.split()[-1], 16)
    return 96


def scaled(pixels):
    """A picture's size on screen, as the program scales it."""
    return (pixels * DPI + 48) // 96


def set_dpi(dpi):
    """The prefix's system DPI; a fresh server and desktop take it up."""
    wine("reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t", "REG_DWORD", "/d",
         str(dpi), "/f")
    server("-k")
    server("-w")
    up()


def up():
    """One server and one desktop, up before the program and before any call
    whose output is read through a pipe (see wine)."""
    server("-p", "300")
    wine(os.path.join(build, "tests", "wintext.exe"), "")


def colour(name, value):
    """Sets a colour of the scheme ("R G B"), or removes it (None); returns
    what it was."""
    key = r"HKCU\Control Panel\Colors"
    old = None
    for line in wine("reg", "query", key, "/v", name).splitlines():
        if line.strip().startswith(name + " "):
            old = line.split("REG_SZ", 1)[1].strip()
    if value is None:
        wine("reg", "delete", key, "/v", name, "/f")
    else:
        wine("reg", "add", key, "/v", name, "/t", "REG_SZ", "/d", value, "/f")
    return old


@contextlib.contextmanager
def running(what):
    """The program started, its notice window and when it opened; None
    where it does not open. Ends the program afterwards."""
    program, notice, opened = start()
    try:
        yield (notice, opened) if check(notice, f"{what}: the start notice opens") else None
    finally:
        finish(program)


def steady_notice():
    with running("96 DPI") as started:
        if not started:
            return
        notice, opened = started
        time.sleep(max(0.0, opened + 3 - time.time()))
        early = Shot("steady-notice-3s.png")
        focus_mark_closed(early, child(notice, CREDIT)[3], "96 DPI at start")
        time.sleep(max(0.0, opened + 20 - time.time()))
        late_window = desktop.wait_for(NOTICE, 10)
        late = Shot("steady-notice-20s.png")
        widths = client_width(early, notice), client_width(late, late_window)
        frames = [w[3][2] - w[3][0] for w in (notice, late_window)]
        check(widths[0] == widths[1] and frames[0] == frames[1],
              f"the start notice holds still: client {widths[0]} px wide at 3 s, {widths[1]} px "
              f"at 20 s (frame {frames[0]} and {frames[1]} px)")


def dark_pictures():
    old_window = colour("Window", "30 30 30")
    old_text = colour("WindowText", "240 240 240")
    try:
        with running("dark scheme") as started:
            if started:
                dark_windows(started[0])
    finally:
        colour("Window", old_window)
        colour("WindowText", old_text)


def dark_windows(notice):
    time.sleep(1.0)
    shot = Shot("steady-dark-notice.png")
    for name, picture in ((BANNER, "banner.bmp"), (CREDIT, "credit.bmp"),
                          (EMAIL, "email.bmp")):
        box = child(notice, name)[3]
        width, height = (scaled(v) for v in bmp(picture)[:2])
        count = differing(shot, box, lambda x, y: x < width and y < height,
                          name == CREDIT)
        check(count == 0, f"dark scheme: the {picture[:-4]} box shows nothing but its "
                          f"picture on white ({count} pixels differ)")
    about = to_about()
    if check(about is not None, "dark scheme: About opens"):
        shot = Shot("steady-dark-about.png")
        box = [c for c in about[4] if c[0].lower() == "tamberlodepicture"][0][3]
        clear = icon_transparent()
        size = box[2] - box[0]  # the icon is drawn at the box's size
        count = differing(shot, box, lambda x, y: x < size and y < size and
                          (x * 32 // size, y * 32 // size) not in clear)
        check(clear and count == 0, f"dark scheme: the About icon shows on white "
                                    f"({count} pixels differ)")


def banner_at_144():
    width, height, pixel = bmp("banner.bmp")
    designed_box = (3255 * 96 + 720) // 1440
    designed = ink_end(pixel, min(width, designed_box), height)
    set_dpi(144)
    try:
        with running("144 DPI") as started:
            if started:
                windows_at_144(started[0], designed / designed_box)
    finally:
        set_dpi(96)


def windows_at_144(notice, share):
    time.sleep(1.5)
    shot = Shot("steady-notice-144dpi.png")
    left, top, right, bottom = child(notice, BANNER)[3]
    shown = ink_end(lambda x, y: shot.at(left + x, top + y), right - left, bottom - top)
    wanted = share * (right - left)
    check(abs(shown - wanted) <= 2,
          f"144 DPI: the banner's lettering ends at {shown} of {right - left} px "
          f"({shown / (right - left):.1%}); at 96 DPI at {share:.1%} of its box")
    focus_mark_closed(shot, child(notice, CREDIT)[3], "144 DPI at start")
    about = to_about()
    if check(about is not None, "144 DPI: About opens"):
        shot = Shot("steady-about-144dpi.png")
        l, t, r, b = [c for c in about[4] if c[0].lower() == "tamberlodepicture"][0][3]
        figure = [(x, y) for y in range(t, b) for x in range(l, r) if shot.at(x, y) != WHITE]
        extent = max(x for x, _ in figure) - l + 1 if figure else 0
        check(extent > 40, f"144 DPI: the About icon grows with the screen "
                           f"(its figure {extent} px across, in a box of {r - l})")


os.makedirs(shots, exist_ok=True)
up()
DPI = dpi()
parts = sys.argv[3].split(",") if len(sys.argv) > 3 else ["steady", "dark", "144"]
for part, run in (("steady", steady_notice), ("dark", dark_pictures), ("144", banner_at_144)):
    if part in parts:
        run()
exit_with_faults(f"windows that hold still and pictures that show whole (screenshots in {shots})")
