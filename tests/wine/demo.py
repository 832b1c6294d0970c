#!/usr/bin/env python3
"""Shows Ostravel.exe at work under Wine on a small sample tree.

Usage: demo.py --win64-dir DIR --work DIR --screenshot FILE.png

Lays the tree in a private Wine prefix, prints it, runs the exe on it with
the driver answering every message box, prints each notice as the user saw
it and the exit code, prints the tree afterwards, and saves a picture of the
first notice. Folder links are Unix symbolic links, which Wine shows as
junction points but cannot break: each one ends in a notice.
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winelab  # noqa: E402

SAMPLE = "C:\\demo"
TREE = [
    "Data/report.txt=quarterly figures",
    "Data/Old/2019/notes.txt=old notes",
    "Data/Old/Latest -> ../../Archive/2023",
    "Data/Photos/cat.jpg=not really a cat",
    "Data/Link -> ../Archive",
    "Archive/2023/summary.txt=summary",
    "Archive/readme.txt=the folder that the links point to",
]


def show_notice(number, notice):
    lines = notice.text.replace("\r\n", "\n").rstrip("\n").split("\n") or [""]
    buttons = "  ".join(f"[ {label} ]" for _, label in notice.buttons)
    width = max([len(notice.caption) + 4, len(buttons)] + [len(line) for line in lines]) + 2
    print(f"  Notice {number}:")
    print(f"  +- {notice.caption} " + "-" * (width - len(notice.caption) - 3) + "+")
    for line in lines + ["", buttons.rjust(width - 2)]:
        print(f"  | {line.ljust(width - 2)} |")
    print("  +" + "-" * width + "+")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--win64-dir", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--screenshot", required=True)
    args = parser.parse_args()
    screenshot = os.path.abspath(args.screenshot)

    print("Starting Wine (the first run creates its prefix, which takes a while)...", flush=True)
    with winelab.WineSession(args.win64_dir, args.work, "demo") as session:
        base = session.unix_path(SAMPLE)
        winelab.lay_tree(base, TREE)
        before = winelab.snapshot(base)
        command = f"Ostravel.exe {SAMPLE}\\Data"
        print(f"\nThe tree in {SAMPLE}:\n")
        print(winelab.describe_tree(base))
        print(f"\nRunning under Wine: {command}\n", flush=True)

        def capture(notice):
            session.screenshot(screenshot, notice.rect)

        report = session.run_ostravel(command, on_first_notice=capture)
        for number, notice in enumerate(report.notices, 1):
            show_notice(number, notice)
        if not report.notices:
            print("  (no notice)")
        print(f"\nExit code: {report.exit_code}")
        if report.notices:
            print("(Wine shows Unix folder links as junction points but cannot delete their\n"
                  " reparse data, so every link met is reported and stays in place.)")
        print(f"\nThe tree afterwards{' (unchanged)' if winelab.snapshot(base) == before else ''}:\n")
        print(winelab.describe_tree(base))
        if report.notices and os.path.exists(screenshot):
            print(f"\nThe first notice as it appeared on screen: {screenshot}")
    return 0 if report.exit_code is not None else 1


if __name__ == "__main__":
    sys.exit(main())
