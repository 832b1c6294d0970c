#!/usr/bin/env python3
"""End-to-end cases: Ostravel.exe under Wine, driven by wine_driver.exe.

Usage: cases.py --win64-dir DIR --work DIR GROUP

Each case lays its own tree in the prefix's drive C, runs the exe with an
exact command line, and checks the notices (exact text), the exit code and
that the tree is unchanged afterwards. Folder links are Unix symbolic links,
which Wine shows as folders with the reparse-point attribute; Wine cannot
delete their reparse data, so every one of them takes the failure course.
"""

import argparse
import os
import re
import struct
import sys
import time
from collections import Counter

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winelab  # noqa: E402
from winelab import CASES_DIR, MISSING_PATH_NOTICE, TOOLS_DIR  # noqa: E402

EXE = TOOLS_DIR + "\\Ostravel.exe"

WM_CLOSE = 0x0010
WM_QUIT = 0x0012
WM_USER = 0x0400


class Case:
    """command may use {case} for the case's Windows folder. sweeps names
    the folder (relative to the case folder) that the run should sweep;
    open_error, when given, is the error every link's open fails with."""

    def __init__(self, name, command, tree=(), sweeps=None, missing_path=False,
                 cwd=None, open_error=None, posts=()):
        self.name = name
        self.command = command
        self.tree = list(tree)
        self.sweeps = sweeps
        self.missing_path = missing_path
        self.cwd = cwd
        self.open_error = open_error
        self.posts = posts


LINKED_TREE = [
    "root/notes.txt=plain file",
    "root/a/b/c/deep.txt=deep",
    "root/a/b/c/to_target -> ../../../../target",
    "root/a/to_root -> ..",                    # a link to an ancestor
    "root/a/b/to_a -> ..",                     # another ancestor, deeper
    "root/top_link -> ../target",
    "root/e/file_link -> ../notes.txt",        # a link to a file: not a folder
    "root/e/f/",
    "target/inside.txt=behind the links",
    "target/g/hidden_link -> ../../root",      # only reachable through a link
]

SPACED_TREE = [
    "my root/x/",
    "my root/l1 -> ../target",
    "my root/x/l2 -> ../../target",
    "my/l3 -> ../target",
    "target/t.txt=t",
]

GROUPS = {
    "missing_path": [
        Case("no argument", "Ostravel.exe", missing_path=True),
        Case("quoted program name alone", f'"{EXE}"', missing_path=True),
        Case("a tail of spaces", "Ostravel.exe    ", missing_path=True),
        Case("an empty quote pair", 'Ostravel.exe ""', missing_path=True),
        Case("empty quote pairs and spaces", f'"{EXE}" "" ""  ', missing_path=True),
    ],
    "sweep": [
        Case("a tree without links", "Ostravel.exe {case}\\root",
             ["root/a/b/c/", "root/a/x.txt=x", "root/d/", "root/e f/g.txt=g", "root/h.txt=h"],
             sweeps="root"),
        Case("links at several depths and to ancestors", "Ostravel.exe {case}\\root",
             LINKED_TREE, sweeps="root"),
        Case("a starting folder that is a link is swept, not broken",
             "Ostravel.exe {case}\\start", ["start -> target", "target/l -> ../other", "other/"],
             sweeps="start"),
        Case("a starting folder that does not exist", "Ostravel.exe {case}\\absent",
             ["root/l -> ../root"], sweeps="absent"),
        Case("a link to a file is left alone", "Ostravel.exe {case}\\root",
             ["root/file_link -> ../f.txt", "f.txt=f", "root/sub/"], sweeps="root"),
    ],
    "command_line": [
        Case("a quoted folder with spaces", 'Ostravel.exe "{case}\\my root"',
             SPACED_TREE, sweeps="my root"),
        Case("the same folder unquoted stops at the space", "Ostravel.exe {case}\\my root",
             SPACED_TREE, sweeps="my"),
        Case("a quoted program name followed directly by the folder",
             f'"{EXE}"{{case}}\\root', LINKED_TREE, sweeps="root"),
        Case("a trailing backslash and a second argument", "Ostravel.exe {case}\\root\\ {case}\\other",
             ["root/l -> ../other", "other/l2 -> ../root"], sweeps="root"),
        # "\\?\" followed by a relative path or one with forward slashes
        # names nothing; Wine answers 3.
        Case("a relative starting folder", "Ostravel.exe root",
             ["root/a/l -> ../../target", "root/l -> ../target", "target/"],
             cwd="{case}", sweeps="root", open_error=3),
        Case("forward slashes", "Ostravel.exe {fwd_case}/root",
             ["root/a/l -> ../../target", "target/"], sweeps="root", open_error=3),
        Case("a tab after the program name belongs to the folder", "Ostravel.exe\t{case}\\root",
             ["root/l -> ../target", "target/"], sweeps=None),
    ],
    "messages": [
        # WM_QUIT and others posted while a few thousand folders are swept: the
        # sweep goes on to the link, which Wine lists last (it sorts names).
        Case("thread messages during a long sweep", "Ostravel.exe {case}\\root",
             [f"root/d{i:02}/s{j:02}/" for i in range(40) for j in range(50)]
             + ["root/zz_link -> ../target", "target/"],
             sweeps="root", posts=((WM_QUIT, 40), (WM_CLOSE, 20), (WM_USER + 7, 20))),
    ],
}


def expected_notices(session, case, case_dir):
    if case.missing_path:
        return [MISSING_PATH_NOTICE]
    if case.sweeps is None:
        return []
    texts = []
    for link, open_searches in winelab.links_met(os.path.join(case_dir, case.sweeps)):
        code = case.open_error or winelab.wine_open_error(link, open_searches)
        texts.append(session.error_notice(code))
    return texts


def run_case(session, group, index, case):
    win_dir = f"{CASES_DIR}\\{group}\\c{index}"
    case_dir = session.unix_path(win_dir)
    winelab.lay_tree(case_dir, case.tree)
    before = winelab.snapshot(case_dir)
    fill = {"case": win_dir, "fwd_case": win_dir.replace("\\", "/")}
    report = session.run_ostravel(case.command.format(**fill),
                                  cwd=case.cwd.format(**fill) if case.cwd else None,
                                  posts=case.posts)
    expected = expected_notices(session, case, case_dir)
    problems = []
    if report.exit_code is None:
        problems.append("no exit code; driver said:\n" + report.raw)
    elif report.exit_code != (1 if expected and not case.missing_path else 0):
        problems.append(f"exit code {report.exit_code}")
    seen = [n.text for n in report.notices]
    if Counter(seen) != Counter(expected):
        problems.append(f"notices {seen!r}, expected {expected!r}")
    for notice in report.notices:
        problems += [f"notice with {p}" for p in notice.problems()]
    if case.posts and report.posted != sum(count for _, count in case.posts):
        problems.append(f"posted {report.posted} messages")
    changes = winelab.tree_changes(before, winelab.snapshot(case_dir))
    if changes:
        problems.append(f"the tree changed: {changes}")
    return problems


def run_case_twice(session, group, index, case):
    """Runs a case, and once more in a fresh folder when it fails: Wine and
    the virtual display are now and then slow to answer. The first failure
    is printed either way, so an unsteady case shows in the log."""
    problems = run_case(session, group, index, case)
    if not problems:
        return problems
    print(f"again {case.name}: the first attempt failed with", flush=True)
    for problem in problems:
        print("     " + problem, flush=True)
    return run_case(session, group, f"{index}b", case)


# ------------------------------------------------------ the relay trace case

RELAY_NAMES = {
    "CoInitialize", "CoUninitialize", "ExitProcess", "GetCommandLineA",
    "FindFirstFileA", "FindNextFileA", "FindClose", "PeekMessageA", "Sleep",
    "GetFileAttributesA", "CreateFileA", "DeviceIoControl", "GetLastError",
    "FormatMessageA", "MessageBoxA", "CloseHandle", "SetErrorMode", "RemoveDirectoryA",
}

CALL = re.compile(r"^([0-9a-f]+):Call (\w+)\.(\w+)\((.*)\) ret=([0-9a-f]+)$")
RET = re.compile(r"^([0-9a-f]+):Ret  (\w+)\.(\w+)\(\) retval=([0-9a-f]+) ret=([0-9a-f]+)$")
LOADED = re.compile(r'Loaded L"C:\\\\ostravel\\\\Ostravel\.exe" at ([0-9A-Fa-f]+)')


def relay_args(text):
    """Splits a relay argument list; strings come as 0123abcd "text"."""
    if not text.strip():
        return []
    args, current, quoted, escaped = [], "", False, False
    for ch in text:
        if quoted:
            current += ch
            if escaped:
                escaped = False
            elif ch == "\\":
                escaped = True
            elif ch == '"':
                quoted = False
        elif ch == '"':
            quoted = True
            current += ch
        elif ch == ",":
            args.append(current)
            current = ""
        else:
            current += ch
    args.append(current)
    return [relay_value(a.strip()) for a in args]


def relay_value(arg):
    """A string argument becomes its text, a number its value. The log
    shows whole 64-bit registers, whose upper half is undefined for a 32-bit
    argument; handles and codes are 32-bit values, so only the lower half
    counts."""
    if '"' in arg:
        body = arg[arg.index('"') + 1:arg.rindex('"')]
        escapes = {"\\": "\\", '"': '"', "n": "\n", "r": "\r", "t": "\t"}
        return re.sub(r"\\(.)", lambda m: escapes.get(m.group(1), m.group(0)), body)
    return int(arg, 16) & 0xFFFFFFFF


def image_size(exe_path):
    with open(exe_path, "rb") as f:
        data = f.read(4096)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    return struct.unpack_from("<I", data, pe + 24 + 56)[0]  # SizeOfImage


def program_calls(log_path, thread_id, exe_path):
    """The calls that the exe's own code made on its main thread, in order,
    as (name, arguments, result)."""
    with open(log_path, encoding="latin-1") as f:
        lines = f.read().splitlines()
    base = None
    for line in lines:
        m = LOADED.search(line)
        if m:
            base = int(m.group(1), 16)
    if base is None:
        raise RuntimeError("the relay log does not say where Ostravel.exe was loaded")
    end = base + image_size(exe_path)
    calls, pending = [], {}
    for line in lines:
        m = CALL.match(line)
        if m and m.group(1) == thread_id and m.group(3) in RELAY_NAMES \
                and base <= int(m.group(5), 16) < end:
            calls.append([m.group(3), relay_args(m.group(4)), None])
            pending[(m.group(3), m.group(5))] = calls[-1]
            continue
        m = RET.match(line)
        if m and m.group(1) == thread_id and (m.group(3), m.group(5)) in pending:
            pending.pop((m.group(3), m.group(5)))[2] = int(m.group(4), 16) & 0xFFFFFFFF
    return calls


def relay_problems(calls, link, root, sub, text):
    problems = []
    names = [c[0] for c in calls]

    def expect(condition, what):
        if not condition:
            problems.append(what)

    expect(names[:1] == ["CoInitialize"] and calls[0][1] == [0], "CoInitialize(NULL) first")
    expect(names[-2:] == ["CoUninitialize", "ExitProcess"] and calls[-1][1] == [1],
           "CoUninitialize, then ExitProcess(1) last")
    patterns = [c[1][0] for c in calls if c[0] == "FindFirstFileA"]
    expect(patterns == [root + "\\*", sub + "\\*"], f"listings {patterns}: nothing behind the link")
    considered = [c for c in calls if c[0] == "PeekMessageA"]
    idle = [c for c in calls if c[0] == "Sleep" and c[1] == [1]]
    expect(len(considered) == 2 and len(idle) == 2,
           f"{len(considered)} PeekMessageA and {len(idle)} Sleep(1): one each per considered folder")
    expect("RemoveDirectoryA" not in names and "SetErrorMode" not in names,
           "no removal after a failed break")

    starts = [i for i, c in enumerate(calls) if c[0] == "GetFileAttributesA" and c[1] == [link]]
    if len(starts) != 1:
        return problems + [f"GetFileAttributesA({link}) {len(starts)} times"]
    got = calls[starts[0]:starts[0] + 8]
    want = ["GetFileAttributesA", "CreateFileA", "DeviceIoControl", "GetLastError",
            "FormatMessageA", "Sleep", "MessageBoxA", "CloseHandle"]
    if [c[0] for c in got] != want:
        return problems + [f"calls for the link: {[c[0] for c in got]}"]
    attributes, create, ioctl, last_error, format_message, pause, box, close = got
    handle = create[2]
    expect(attributes[2] & 0x410 == 0x410, "the link is a folder with the reparse-point attribute")
    expect(create[1] == ["\\\\?\\" + link, 0xC0000000, 0, 0, 3, 0x02200000, 0],
           f"CreateFileA{tuple(create[1])}")
    expect(ioctl[1][:2] == [handle, 0x900AC] and ioctl[1][3:6] == [8, 0, 0] and ioctl[1][7] == 0,
           f"DeviceIoControl{tuple(ioctl[1])} on handle {handle:x}")
    expect(ioctl[2] == 0, "DeviceIoControl fails under Wine")
    expect(last_error[2] == 50, f"GetLastError gives {last_error[2]}")
    expect(format_message[1][:4] == [0x1000, 0, 50, 0] and format_message[1][5:] == [255, 0],
           f"FormatMessageA{tuple(format_message[1])}")
    expect(pause[1] == [5], f"Sleep{tuple(pause[1])}")
    expect(box[1] == [0, text, "Ostravel", 0x12000], f"MessageBoxA{tuple(box[1])}")
    expect(close[1] == [handle], f"CloseHandle{tuple(close[1])}")
    return problems


def run_relay(session):
    win_dir = f"{CASES_DIR}\\relay"
    case_dir = session.unix_path(win_dir)
    winelab.lay_tree(case_dir, ["root/notes.txt=n", "root/sub/lnk -> ../../target",
                                "target/inner/"])
    before = winelab.snapshot(case_dir)
    # Trace only the operations the program uses, to keep the log small.
    session.wine(["reg", "add", "HKCU\\Software\\Wine\\Debug", "/v", "RelayInclude",
                  "/t", "REG_SZ", "/d", ";".join(sorted(RELAY_NAMES)), "/f"], 60)
    text = session.error_notice(50)  # also brings Wine's own services up untraced
    log = os.path.join(session.work_dir, "relay.log")
    report = session.run_ostravel(f"Ostravel.exe {win_dir}\\root", debug="+relay,+loaddll",
                                  stderr_path=log)
    problems = []
    if report.exit_code != 1 or [n.text for n in report.notices] != [text]:
        problems.append(f"exit {report.exit_code}, notices {[n.text for n in report.notices]}")
    calls = program_calls(log, report.thread_id,
                          os.path.join(session.win64_dir, "Ostravel.exe"))
    problems += relay_problems(calls, f"{win_dir}\\root\\sub\\lnk", f"{win_dir}\\root",
                               f"{win_dir}\\root\\sub", text)
    changes = winelab.tree_changes(before, winelab.snapshot(case_dir))
    if changes:
        problems.append(f"the tree changed: {changes}")
    if problems:
        problems.append("program calls:\n" + "\n".join(f"  {c}" for c in calls))
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--win64-dir", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("group", choices=sorted(GROUPS) + ["relay"])
    args = parser.parse_args()

    failed = 0
    with winelab.WineSession(args.win64_dir, args.work, args.group) as session:
        if args.group == "relay":
            results = (("relay trace of one junction", run_relay(session)) for _ in (1,))
        else:
            results = ((case.name, run_case_twice(session, args.group, i, case))
                       for i, case in enumerate(GROUPS[args.group]))
        started = time.monotonic()
        for name, problems in results:
            took = time.monotonic() - started
            print(f"{'FAIL' if problems else 'ok  '} {name} ({took:.1f} s)", flush=True)
            started = time.monotonic()
            for problem in problems:
                print("     " + problem)
            failed += bool(problems)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
