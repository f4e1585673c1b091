#!/usr/bin/env python3
"""Drives the x86_64 Tamberlode.exe under Wine and Xvfb from outside, as a
user would: reads the windows' texts with wintext.exe, clicks with xdotool,
and saves screenshots. Run by scripts/wine-tests.sh with WINEPREFIX and
DISPLAY set.
Usage: wine_e2e.py BUILD_DIR SURVEY MARKER_FILE SCREENSHOT_DIR
SURVEY is the nine expected result texts joined by "|" ("*" for any)."""
import os
import re
import subprocess
import sys
import time

from wine_desktop import WINE, Desktop, check, child, click, exit_with_faults, stop

build, survey, marker, shots = sys.argv[1:5]
expected = survey.split("|")
desktop = Desktop(build)
wait_for, windows = desktop.wait_for, desktop.windows

def shot(name):
    subprocess.run(["import", "-window", "root", os.path.join(shots, name)], check=False)


os.makedirs(shots, exist_ok=True)
env = dict(os.environ)
program = subprocess.Popen(["timeout", "180", WINE, f"{build}/Tamberlode.exe"], env=env)
try:
    notice = wait_for("Tamberlode v0.1a", 90)
    check(notice is not None, "the start notice opens")
    if notice is None:
        # What there is instead helps the next reader.
        print(f"  program {'still running' if program.poll() is None else 'ended: ' + str(program.returncode)}")
        listing = subprocess.run(["timeout", "30", WINE, f"{build}/tests/wintext.exe", ""],
                                 capture_output=True, text=True, errors="replace")
        print("  windows seen:", listing.stdout.replace("\r", "")[:2000] or "(none)",
              listing.stderr[-1000:])
        raise SystemExit(1)
    shot("win-notice.png")

    # The count runs down 5, 4, ... in one-second steps; then the button.
    seen = []
    button = None
    deadline = time.time() + 60
    while time.time() < deadline and button is None:
        window = wait_for("Tamberlode v0.1a", 10)
        if window:
            digits = [c[1] for c in window[4] if c[2] and re.fullmatch(r"-?\d+", c[1])]
            if digits and (not seen or seen[-1] != digits[0]):
                seen.append(digits[0])
            button = child(window, "Start the Application")
        time.sleep(0.2)
    print(f"  count seen: {seen}")
    numbers = [int(v) for v in seen]
    check(len(numbers) >= 3 and numbers == sorted(numbers, reverse=True) and
          all(a - b == 1 for a, b in zip(numbers, numbers[1:])), "the count runs down by one")
    check(button is not None, "Start the Application appears when the count is over")
    if button is None:
        raise SystemExit(1)
    shot("win-notice-start.png")
    click(button)

    report = wait_for("Free Space on Drives A: to I:")
    check(report is not None, "Start shows the report window")
    notice_after = [w for w in windows("Tamberlode v0.1a") if w[1] == "Tamberlode v0.1a"]
    check(all(not w[2] for w in notice_after), "the start notice is hidden")
    if report is None:
        raise SystemExit(1)
    # The result labels: the right-hand column, top to bottom.
    statics = [c for c in report[4] if c[0].lower() == "static"]
    right = max(c[3][0] for c in statics)
    results = [c[1] for c in sorted((c for c in statics if c[3][0] == right), key=lambda c: c[3][1])]
    print(f"  results: {results}")
    check(len(results) == 9, "nine result captions")
    for letter, got, want in zip("ABCDEFGHI", results, expected):
        if want == "*":
            check(re.fullmatch(r"\d+MB|n/a", got) is not None, f"{letter}: {got!r} is a figure")
        else:
            check(got == want, f"{letter}: {got!r} == {want!r}")
    shot("win-report.png")

    click(child(report, "About"))
    about = wait_for("About Tamberlode")
    check(about is not None, "About opens \"About Tamberlode\"")
    if about:
        texts = [c[1] for c in about[4] if c[2]]
        check("Version 0.1.0" in texts, "the About box shows \"Version 0.1.0\"")
        check("Tamberlode" in texts, "the About box shows the title")
        shot("win-about.png")
        if os.path.exists(marker):
            os.remove(marker)
        click(child(about, "&System Info..."))
        deadline = time.time() + 20
        while time.time() < deadline and not os.path.exists(marker):
            time.sleep(0.3)
        check(os.path.exists(marker), "System Info starts the program the registry names")
        about = wait_for("About Tamberlode")
        check(about is not None, "the About box stays open after System Info")
        if about:
            # The tool just started may hold the foreground: a click that
            # only gives the About box back its activation is clicked again.
            deadline = time.time() + 10
            while time.time() < deadline and about:
                click(child(about, "OK"))
                about = wait_for("About Tamberlode", 1)
                if about:
                    time.sleep(0.5)
                    about = wait_for("About Tamberlode", 1)
            check(not wait_for("About Tamberlode", 1), "OK closes the About box")

    report = wait_for("Free Space on Drives A: to I:")
    click(child(report, "Exit"))
    try:
        program.wait(timeout=20)
        check(True, "Exit ends the process")
    except subprocess.TimeoutExpired:
        check(False, "Exit ends the process")
finally:
    stop(program)

exit_with_faults("end-to-end")
