#!/usr/bin/env python3
"""Goes through the interactive setup as a Windows user does, under Wine
and Xvfb: the welcome page, the install folder, the progress page and the
finish page, which starts the program. A screenshot of every page.
Run by tests/win32/installer_test.sh with WINEPREFIX and DISPLAY set.
Usage: wine_setup.py BUILD_DIR SETUP_EXE SCREENSHOT_DIR"""
import os
import subprocess
import sys
import time

from wine_desktop import WINE, Desktop, check, click, exit_with_faults, stop

build, setup, shots = sys.argv[1:4]
desktop = Desktop(build)
TITLE = "Tamberlode Setup"


def shot(name):
    subprocess.run(["import", "-window", "root", os.path.join(shots, name)], check=False)


def page(has, seconds=60):
    """The setup window (its title is "Tamberlode Setup", and a space after
    on the inner pages) once a visible control's text satisfies `has`; else
    None, after printing the texts it shows."""
    deadline = time.time() + seconds
    while time.time() < deadline:
        for w in desktop.windows(TITLE):
            if w[1].strip() == TITLE and w[2] and any(c[2] and has(c[1]) for c in w[4]):
                return w
        time.sleep(0.3)
    for w in desktop.windows(TITLE):
        print(f"  {w[1]!r}: {[(c[0], c[1]) for c in w[4] if c[2]]}")
    return None


def button(window, text):
    found = [c for c in window[4] if c[0].lower() == "button" and c[1] == text and c[2]]
    return found[0] if found else None


os.makedirs(shots, exist_ok=True)
program = subprocess.Popen(["timeout", "300", WINE, setup])
try:
    # Each page: what shows it, what the check says, its screenshot, the
    # button that leaves it.
    pages = [
        (lambda t: t.startswith("Welcome to Tamberlode"), "the setup opens on its welcome page",
         "setup-1-welcome.png", "&Next >"),
        (lambda t: t == "C:\\Program Files\\Tamberlode",
         "the folder page offers C:\\Program Files\\Tamberlode", "setup-2-folder.png", "&Install"),
        (lambda t: t == "Completed", "the progress page runs to Completed",
         "setup-3-progress.png", "&Next >"),
        (lambda t: t == "Start Tamberlode", "the finish page offers to start Tamberlode",
         "setup-4-finish.png", "&Finish"),
    ]
    for shows, what, name, leave in pages:
        window = page(shows, 90)
        if not check(window is not None, what):
            raise SystemExit(1)
        shot(name)
        click(button(window, leave))

    notice = desktop.wait_for("Tamberlode v0.1a", 60)
    check(notice is not None, "Finish starts the installed program")
    shot("setup-5-started.png")
    try:
        program.wait(timeout=30)
        check(program.returncode == 0, f"the setup ends with status 0 ({program.returncode})")
    except subprocess.TimeoutExpired:
        check(False, "the setup ends after Finish")
finally:
    stop(program)

exit_with_faults("interactive setup")
