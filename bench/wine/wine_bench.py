#!/usr/bin/env python3
"""Wall time of the real Ostravel.exe under Wine against its floor.

The floor is the sweep's pacing: one Sleep(1) per considered folder, at the
cost of Sleep(1) measured on this machine in this run (bench_timer.exe).
Wine's process start-up is taken out by also timing a run on an empty
folder. To see where the rest goes, the same helper times PeekMessageA +
Sleep(1) (the sweep's pause per folder) and a bare walk of the tree (the
listing and attribute query per folder, no pause). Each round runs all of
them once, interleaved; the result is the median of the rounds. Writes
wine.json.

    wine_bench.py OSTRAVEL_EXE BENCH_TIMER_EXE OUT_DIR
"""
import json
import os
import shutil
import statistics
import subprocess
import sys
import time

FAN_OUT = (10, 10, 19)   # folders per level: 10 + 100 + 1900 = 2010
RUNS = 5
PAUSE_CALLS = 1000


def wine_env(out_dir):
    env = dict(os.environ)
    for name in ("DISPLAY", "WAYLAND_DISPLAY"):
        env.pop(name, None)
    env["WINEPREFIX"] = os.path.abspath(os.path.join(out_dir, "wineprefix"))
    env["WINEDEBUG"] = "-all"
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
    return env


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def make_tree(root):
    """A tree of ordinary folders only: no link, so no box and no change."""
    if os.path.isdir(root):
        shutil.rmtree(root)
    level = [root]
    count = 0
    for fan_out in FAN_OUT:
        below = []
        for parent in level:
            for i in range(fan_out):
                child = os.path.join(parent, "folder%02d" % i)
                os.makedirs(child)
                below.append(child)
                count += 1
        level = below
    return count


def timed_run(command, env):
    start = time.perf_counter()
    result = subprocess.run(command, env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, text=True)
    return time.perf_counter() - start, result


def main():
    exe, timer, out_dir = sys.argv[1:4]
    env = wine_env(out_dir)
    if not os.path.isdir(env["WINEPREFIX"]):
        subprocess.run(["wineboot", "-i"], env=env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    tree = os.path.join(out_dir, "wine-tree")
    empty = os.path.join(out_dir, "wine-empty")
    folders = make_tree(tree)
    os.makedirs(empty, exist_ok=True)

    # One server for the whole measurement, so that no run pays for
    # starting it; it is stopped at the end.
    subprocess.run(["wineserver", "-w"], env=env)  # the one wineboot left
    subprocess.run(["wineserver", "-p"], env=env, check=True)
    try:
        sweep = lambda folder: timed_run(["wine", exe, windows_path(folder)], env)
        sweep(empty)  # warm the caches
        empty_times, tree_times, sleep_ms, pump_ms, walk_ms = [], [], [], [], []
        helper = lambda *arguments: timed_run(["wine", timer] + list(arguments), env)[1]
        for _ in range(RUNS):
            seconds, result = sweep(empty)
            if result.returncode != 0:
                sys.exit("empty-folder run exited with %d" % result.returncode)
            empty_times.append(seconds)
            seconds, result = sweep(tree)
            if result.returncode != 0:
                sys.exit("tree run exited with %d" % result.returncode)
            tree_times.append(seconds)
            for mode, values in (("sleep", sleep_ms), ("pump", pump_ms)):
                result = helper(mode, str(PAUSE_CALLS))
                if result.returncode != 0:
                    sys.exit("bench_timer %s exited with %d" % (mode, result.returncode))
                values.append(float(result.stdout.strip()))
            result = helper("walk", windows_path(tree))
            milliseconds, walked = result.stdout.split()
            if result.returncode != 0 or int(walked) != folders:
                sys.exit("bench_timer walk failed: %s" % result.stdout)
            walk_ms.append(float(milliseconds))
    finally:
        subprocess.run(["wineserver", "-k"], env=env)

    leftover = sum(len(dirs) for _, dirs, _ in os.walk(tree))
    median = statistics.median
    sweep_seconds = median(tree_times) - median(empty_times)
    floor_seconds = folders * median(sleep_ms) / 1000.0
    result = {
        "folders": folders,
        "folders_after": leftover,
        "rounds": RUNS,
        "tree_seconds": tree_times,
        "empty_seconds": empty_times,
        "sleep_call_ms": sleep_ms,
        "pump_call_ms": pump_ms,
        "walk_ms": walk_ms,
        "pause_calls_per_round": PAUSE_CALLS,
        "sweep_seconds": sweep_seconds,
        "floor_seconds": floor_seconds,
        "ratio": sweep_seconds / floor_seconds,
        # What the Windows calls the sweep must make cost under Wine.
        "pump_seconds": folders * median(pump_ms) / 1000.0,
        "walk_seconds": median(walk_ms) / 1000.0,
        "wine_version": subprocess.run(["wine", "--version"], env=env, text=True,
                                       stdout=subprocess.PIPE).stdout.strip(),
    }
    with open(os.path.join(out_dir, "wine.json"), "w") as out:
        json.dump(result, out, indent=2)


if __name__ == "__main__":
    main()
