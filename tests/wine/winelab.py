"""Running Ostravel.exe under Wine: a private prefix, a virtual display,
sample trees in drive C and the driver that answers the message boxes.

Everything started here is stopped here, by process id (Xvfb) or through
the prefix's own wineserver.
"""

import concurrent.futures
import contextlib
import fcntl
import os
import select
import shutil
import subprocess
import time

MISSING_PATH_NOTICE = "I'm not doing anything without a starting path, for example: D:\\PQ\\"
CAPTION = "Ostravel"
WS_EX_TOPMOST = 0x8
IDOK = 1

# The Windows folder where the exe and the driver are copied, and where the
# sample trees live, each case in a folder of its own.
TOOLS_DIR = "C:\\ostravel"
CASES_DIR = "C:\\cases"


def to_hex(text):
    return text.encode("latin-1").hex().upper()


def from_hex(field):
    return "" if field == "-" else bytes.fromhex(field).decode("latin-1")


class Deadline:
    def __init__(self, seconds):
        self.end = time.monotonic() + seconds

    def left(self):
        return max(0.0, self.end - time.monotonic())

    def passed(self):
        return time.monotonic() >= self.end


# ---------------------------------------------------------------- the prefix

def base_environment(prefix):
    env = {k: v for k, v in os.environ.items() if not k.startswith("WINE")}
    env.pop("DISPLAY", None)
    env.update(
        WINEPREFIX=prefix,
        WINEDEBUG="-all",
        # No prompts to install Mono or Gecko: nothing here needs them.
        WINEDLLOVERRIDES="mscoree,mshtml=",
    )
    return env


PREFIX_VERSION = "1"


def ensure_prefix(prefix):
    """Creates the Wine prefix once; later runs reuse it. A lock keeps two
    test processes from creating it at the same time."""
    ready = os.path.join(prefix, ".ostravel-ready")
    os.makedirs(os.path.dirname(prefix), exist_ok=True)
    with open(prefix + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        with contextlib.suppress(OSError), open(ready) as f:
            if f.read() == PREFIX_VERSION:
                return
        shutil.rmtree(prefix, ignore_errors=True)  # a half-made or older one
        env = base_environment(prefix)
        with open(prefix + ".boot.log", "w") as log:
            def wine(*args):
                subprocess.run(args, env=env, stdin=subprocess.DEVNULL, stdout=log,
                               stderr=log, timeout=240, check=True)
            wine("wineboot", "--init")
            # Without a window manager, Wine waits two seconds for one each
            # time a managed window (a message box) is hidden. Unmanaged
            # windows need no window manager.
            wine("wine", "reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed",
                 "/t", "REG_SZ", "/d", "N", "/f")
            wine("wineserver", "-w")
        with open(ready, "w") as f:
            f.write(PREFIX_VERSION)


# ---------------------------------------------------------- display and run

class WineSession:
    """A virtual display and a running wineserver for one prefix, with the
    exe and the driver copied into drive C."""

    def __init__(self, win64_dir, work_dir, name):
        """The prefix is work_dir/prefix, shared by every session; this
        session's logs go to work_dir/name."""
        self.win64_dir = os.path.abspath(win64_dir)
        self.prefix = os.path.join(os.path.abspath(work_dir), "prefix")
        self.work_dir = os.path.join(os.path.abspath(work_dir), name)
        self.drive_c = os.path.join(self.prefix, "drive_c")
        self.xvfb = None
        self.display = None
        self.server_started = False
        self._texts = {}
        self.runs = 0

    def __enter__(self):
        try:
            self._start()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()

    def _start(self):
        for name in ("Ostravel.exe", "wine_driver.exe"):
            if not os.path.isfile(os.path.join(self.win64_dir, name)):
                raise RuntimeError(f"{name} is not built in {self.win64_dir}")
        ensure_prefix(self.prefix)
        os.makedirs(self.work_dir, exist_ok=True)
        self._start_display()
        self.env = base_environment(self.prefix)
        self.env["DISPLAY"] = f":{self.display}"
        # One server for the whole session, so that each run starts quickly.
        subprocess.run(["wineserver", "-p"], env=self.env, timeout=30, check=True)
        self.server_started = True
        tools = self.unix_path(TOOLS_DIR)
        os.makedirs(tools, exist_ok=True)
        for name in ("Ostravel.exe", "wine_driver.exe"):
            shutil.copy(os.path.join(self.win64_dir, name), tools)

    def _start_display(self):
        """Xvfb picks a free display itself and writes its number to a pipe
        once it accepts connections."""
        read_end, write_end = os.pipe()
        log = open(os.path.join(self.work_dir, "xvfb.log"), "w")
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
             "-nolisten", "tcp"],
            pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        os.close(write_end)
        deadline = Deadline(30)
        number = b""
        with os.fdopen(read_end, "rb", buffering=0) as pipe:
            while not number.endswith(b"\n") and not deadline.passed():
                ready, _, _ = select.select([pipe], [], [], deadline.left())
                if not ready:
                    break
                chunk = pipe.read(16)
                if not chunk:
                    break
                number += chunk
        if not number.strip().isdigit():
            raise RuntimeError("Xvfb did not start; see xvfb.log")
        self.display = int(number)

    def close(self):
        if self.server_started:
            subprocess.run(["wineserver", "-k"], env=self.env, timeout=30)
            with contextlib.suppress(subprocess.TimeoutExpired):
                subprocess.run(["wineserver", "-w"], env=self.env, timeout=30)
            self.server_started = False
        if self.xvfb:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
                self.xvfb.wait()
            self.xvfb = None

    # -- paths

    def unix_path(self, windows_path):
        assert windows_path[:3].upper() == "C:\\"
        return os.path.join(self.drive_c, *windows_path[3:].split("\\"))

    # -- the driver

    def wine(self, args, timeout, debug=None, stderr_path=None):
        """Runs one Windows program; returns its standard output. Output goes
        through files: Wine's helper processes may keep a pipe open."""
        env = dict(self.env)
        if debug:
            env["WINEDEBUG"] = debug
        self.runs += 1
        out_path = self.out_path(self.runs)
        err_path = stderr_path or os.path.join(self.work_dir, f"run{self.runs}.err")
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            subprocess.run(["wine"] + args, env=env, stdin=subprocess.DEVNULL,
                           stdout=out, stderr=err, timeout=timeout)
        with open(out_path, "rb") as out:
            return out.read().decode("latin-1")

    def system_text(self, code):
        """What FormatMessageA says for code on this system."""
        if code not in self._texts:
            out = self.wine([TOOLS_DIR + "\\wine_driver.exe", "formatmessage", str(code)], 60)
            self._texts[code] = from_hex(out.strip())
        return self._texts[code]

    def error_notice(self, code):
        return f"{code} " + self.system_text(code)

    def run_ostravel(self, command_line, cwd=None, posts=(), timeout=60,
                     debug=None, stderr_path=None, on_first_notice=None):
        """Runs the exe through the driver. on_first_notice, if given, is
        called with the first notice while that box is still on screen."""
        args = [TOOLS_DIR + "\\wine_driver.exe", "run", TOOLS_DIR + "\\Ostravel.exe",
                to_hex(command_line), "--timeout-ms", str(timeout * 1000)]
        if cwd:
            args += ["--cwd", to_hex(cwd)]
        for message, count in posts:
            args += ["--post", str(message), str(count)]
        if not on_first_notice:
            return Report.parse(self.wine(args, timeout + 30, debug, stderr_path))
        hold = TOOLS_DIR + "\\hold"
        for suffix in (".shown", ".go"):
            with contextlib.suppress(FileNotFoundError):
                os.remove(self.unix_path(hold + suffix))
        args += ["--hold", hold]
        with concurrent.futures.ThreadPoolExecutor(1) as pool:
            run = pool.submit(self.wine, args, timeout + 30, debug, stderr_path)
            deadline = Deadline(timeout)
            while not os.path.exists(self.unix_path(hold + ".shown")) and not run.done() \
                    and not deadline.passed():
                time.sleep(0.02)
            if os.path.exists(self.unix_path(hold + ".shown")):
                with open(self.out_path(self.runs), "rb") as out:
                    on_first_notice(Report.parse(out.read().decode("latin-1")).notices[0])
                open(self.unix_path(hold + ".go"), "w").close()
            return Report.parse(run.result())

    def out_path(self, run):
        return os.path.join(self.work_dir, f"run{run}.out")

    def screenshot(self, png_path, rect=None):
        """The display as a PNG, cut to rect (left, top, right, bottom)."""
        xwd = png_path + ".xwd"
        subprocess.run(["xwd", "-root", "-silent", "-display", f":{self.display}", "-out", xwd],
                       check=True, timeout=30)
        crop = []
        if rect:
            left, top, right, bottom = rect
            crop = ["-crop", f"{right - left}x{bottom - top}+{left}+{top}", "+repage"]
        subprocess.run(["convert", "xwd:" + xwd] + crop + [png_path], check=True, timeout=60)
        os.remove(xwd)


class Notice:
    def __init__(self, fields):
        self.caption = from_hex(fields["caption"])
        self.text = from_hex(fields["text"])
        self.style = int(fields["style"], 16)
        self.exstyle = int(fields["exstyle"], 16)
        self.buttons = []
        if fields["buttons"] != "-":
            for item in fields["buttons"].split(","):
                ident, label = item.split(":")
                self.buttons.append((int(ident), from_hex(label)))
        self.icon = fields["icon"] == "1"
        self.rect = tuple(int(v) for v in fields["rect"].split(","))

    def problems(self):
        """How this box differs from an Ostravel notice: the caption, one OK
        button, no icon, not topmost."""
        found = []
        if self.caption != CAPTION:
            found.append(f"caption {self.caption!r}")
        if self.buttons != [(IDOK, "OK")]:
            found.append(f"buttons {self.buttons}")
        if self.icon:
            found.append("an icon")
        if self.exstyle & WS_EX_TOPMOST:
            found.append("topmost")
        return found


class Report:
    def __init__(self):
        self.notices = []
        self.exit_code = None
        self.posted = None
        self.thread_id = None
        self.raw = ""

    @staticmethod
    def parse(text):
        report = Report()
        report.raw = text
        for line in text.splitlines():
            word, _, rest = line.partition(" ")
            if word == "started":
                report.thread_id = rest.split()[1]
            elif word == "notice":
                report.notices.append(Notice(dict(f.split("=", 1) for f in rest.split())))
            elif word == "posted":
                report.posted = int(rest)
            elif word == "exit":
                report.exit_code = int(rest)
        return report


# ------------------------------------------------------------ sample trees

def lay_tree(base, lines):
    """Lays a tree under base from lines like "a/b/" (folder), "a/f.txt=text"
    (file) and "a/link -> ../target" (a symbolic link, the stand-in for a
    junction when it names a folder)."""
    shutil.rmtree(base, ignore_errors=True)
    os.makedirs(base)
    for line in lines:
        if " -> " in line:
            path, target = line.split(" -> ")
            full = os.path.join(base, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            os.symlink(target, full)
        elif "=" in line:
            path, content = line.split("=", 1)
            full = os.path.join(base, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "w") as f:
                f.write(content)
        else:
            os.makedirs(os.path.join(base, line), exist_ok=True)


def snapshot(base):
    """Every entry below base, links not followed: kind, permissions, and
    content or link target."""
    found = {}
    for folder, dirs, files in os.walk(base):
        for name in dirs + files:
            full = os.path.join(folder, name)
            rel = os.path.relpath(full, base)
            if os.path.islink(full):
                found[rel] = ("link", os.readlink(full))
            elif os.path.isdir(full):
                found[rel] = ("folder", os.stat(full).st_mode)
            else:
                with open(full, "rb") as f:
                    found[rel] = ("file", os.stat(full).st_mode, f.read())
    return found


def tree_changes(before, after):
    """The entries that differ between two snapshots, a few at most."""
    changed = sorted(k for k in before.keys() | after.keys() if before.get(k) != after.get(k))
    return changed[:5] + (["..."] if len(changed) > 5 else [])


def describe_tree(base):
    lines = []

    def walk(folder, indent):
        for name in sorted(os.listdir(folder)):
            full = os.path.join(folder, name)
            if os.path.islink(full):
                kind = "folder link" if os.path.isdir(full) else "file link"
                lines.append(f"{indent}{name} -> {os.readlink(full)}   ({kind})")
            elif os.path.isdir(full):
                lines.append(f"{indent}{name}\\")
                walk(full, indent + "    ")
            else:
                lines.append(f"{indent}{name}")

    walk(base, "")
    return "\n".join(lines)


def links_met(start):
    """The folder links that a sweep starting at start meets, each with the
    folders whose searches are open at that moment (start and every folder
    down to the link's parent). Links are not followed."""
    met = []

    def walk(folder, open_searches):
        for name in sorted(os.listdir(folder), key=str.lower):
            full = os.path.join(folder, name)
            if os.path.islink(full):
                if os.path.isdir(full):
                    met.append((full, open_searches))
            elif os.path.isdir(full):
                walk(full, open_searches + [full])

    if os.path.isdir(start):
        walk(start, [start])
    return met


def wine_open_error(link, open_searches):
    """The error Wine gives when the program opens a folder link by its full
    path. Wine opens the link's target, so a target whose listing is open
    (an ancestor on the current descent) is a sharing violation (32); any
    other open succeeds and the delete-reparse-point request is refused as
    not supported (50)."""
    target = os.path.realpath(link)
    if any(os.path.realpath(folder) == target for folder in open_searches):
        return 32
    return 50
