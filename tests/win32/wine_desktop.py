"""What the Wine scripts share: the run's faults, the program's windows as
wintext.exe lists them from outside, waiting for one, clicks with xdotool,
screenshots as raw RGB rows, and the end of a run."""
import os
import subprocess
import sys
import time

# The Wine loader, by its own path (scripts/wine-tests.sh names it).
WINE = os.environ.get("TAMBERLODE_WINE", "/usr/lib/wine/wine")

faults = []


def say(text):
    print(f"  {time.strftime('%H:%M:%S')} {text}", flush=True)


def check(ok, what):
    say(f"{'ok' if ok else 'FAULT'}: {what}")
    if not ok:
        faults.append(what)
    return ok


class Desktop:
    def __init__(self, build, loader=WINE):
        self.build = build
        self.loader = loader

    def windows(self, title):
        """[(class, text, visible, rect, [children])] of the top-level windows
        whose title contains `title` (see wintext_win32.cpp)."""
        out = subprocess.run(["timeout", "30", self.loader, f"{self.build}/tests/wintext.exe", title],
                             capture_output=True, text=True, errors="replace").stdout
        result = []
        for line in out.replace("\r", "").splitlines():
            fields = line.lstrip(" ").split("\t")
            if len(fields) != 4:
                continue
            cls, txt, vis, rect = fields
            item = (cls, txt, vis == "visible", tuple(int(v) for v in rect.split(",")), [])
            if not line.startswith("  "):
                result.append(item)
            elif result:
                result[-1][4].append(item)
        return result

    def wait_for(self, title, seconds=60, visible=True, until=lambda w: True):
        """The window titled exactly `title`, once it is (in)visible and
        `until` holds; None after `seconds`."""
        deadline = time.time() + seconds
        while time.time() < deadline:
            for w in self.windows(title):
                if w[1] == title and w[2] == visible and until(w):
                    return w
            time.sleep(0.3)
        return None


def click_at(x, y):
    subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1"], check=False)


def click(control):
    if control is None:
        check(False, "the control to click is there")
        return
    left, top, right, bottom = control[3]
    click_at((left + right) // 2, (top + bottom) // 2)


def child(window, text):
    found = [c for c in window[4] if c[1] == text and c[2]]
    return found[0] if found else None


def rgb(ppm):
    """(width, height, bytes of RGB rows) of a binary PPM (P6, 8 bits)."""
    fields, at = [], 0
    while len(fields) < 4:  # magic, width, height, maximum, each after white space
        while ppm[at:at + 1].isspace():
            at += 1
        start = at
        while not ppm[at:at + 1].isspace():
            at += 1
        fields.append(ppm[start:at])
    assert fields[0] == b"P6" and fields[3] == b"255", fields
    return int(fields[1]), int(fields[2]), ppm[at + 1:]


def stop(program):
    if program.poll() is None:
        program.kill()


def exit_with_faults(summary):
    print(f"  {summary}: {len(faults)} fault(s)")
    sys.exit(1 if faults else 0)
