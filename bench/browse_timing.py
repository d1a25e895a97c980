#!/usr/bin/python3
"""One run of a full-screen disk-usage browser on a pseudo-terminal: starts
the command in a terminal of COLSxROWS, reads what it draws into a terminal
emulator (pyte) and waits until the screen shows the text to wait for (the first screen of
the tree, after the scan's progress). At that moment it reads the process's
peak RSS (VmHWM in /proc/PID/status), then sends the quit key and checks
that the process ends. Prints one line of JSON:

    {"seconds": S, "vmhwm_kib": K, "ended": true, "status": 0}

seconds is null when the text never showed (the screen is then printed on
standard error); ended is false when the quit key did not end it (it is then
killed).

    bench/browse_timing.py [--cols 140] [--rows 40] [--timeout 120]
                           [--quit q] [--screen] --wait TEXT -- COMMAND...
    bench/browse_timing.py --plain -- COMMAND...
    bench/browse_timing.py --summarize FILE

--summarize reads lines of "ROUND<TAB>NAME<TAB>JSON" (NAME "plain report"
first in each round) and prints a Markdown table: per command the median
time, the median of each round's ratio to the plain report of that round,
the median and largest peak RSS, and how many runs ended on the quit key.

--screen prints the screen on standard error once the text showed, to find
the text to wait for. --plain runs COMMAND with its output to /dev/null, no
terminal, and measures its time and peak RSS (from wait4).
"""

import argparse
import fcntl
import json
import os
import pty
import select
import signal
import struct
import subprocess
import sys
import termios
import time

import pyte


def vmhwm_kib(pid):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def plain(command):
    # Peak RSS through /usr/bin/time: a child forked from this interpreter
    # would carry the interpreter's pages in its own maximum.
    import tempfile
    with tempfile.NamedTemporaryFile("r") as out, open(os.devnull, "wb") as null:
        start = time.monotonic()
        status = subprocess.call(["/usr/bin/time", "-f", "%M %U %S", "-o", out.name] + command,
                                 stdout=null, stderr=null)
        seconds = time.monotonic() - start
        kib, user, system = out.read().split()[-3:]
    return {"seconds": seconds, "vmhwm_kib": int(kib), "ended": True, "status": status,
            "cpu": float(user) + float(system)}


def browse(command, text, cols, rows, timeout, quit_key, show):
    master, slave = pty.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", rows, cols, 0, 0))
    env = dict(os.environ, TERM="xterm-256color", COLUMNS=str(cols), LINES=str(rows))
    env.pop("KELPO32_THREADS", None)

    def controlling():
        os.setsid()
        fcntl.ioctl(0, termios.TIOCSCTTY, 0)

    screen = pyte.Screen(cols, rows)
    stream = pyte.ByteStream(screen)
    start = time.monotonic()
    proc = subprocess.Popen(command, stdin=slave, stdout=slave, stderr=slave, env=env,
                            preexec_fn=controlling, close_fds=True)
    os.close(slave)
    result = {"seconds": None, "vmhwm_kib": None, "ended": False, "status": None}

    def drain(wait):
        if not select.select([master], [], [], wait)[0]:
            return True
        try:
            data = os.read(master, 1 << 16)
        except OSError:
            return False
        if not data:
            return False
        stream.feed(data)
        return True

    try:
        open_ = True
        while open_ and time.monotonic() - start < timeout:
            open_ = drain(0.05)
            if any(text in line for line in screen.display):
                result["seconds"] = time.monotonic() - start
                result["vmhwm_kib"] = vmhwm_kib(proc.pid)
                break
            if proc.poll() is not None and not open_:
                break
        if result["seconds"] is None or show:
            sys.stderr.write("\n".join(line.rstrip() for line in screen.display) + "\n")
        if proc.poll() is None:
            try:
                os.write(master, quit_key.encode())
            except OSError:
                pass  # the terminal is gone: the process is ending
            deadline = time.monotonic() + 10
            while proc.poll() is None and time.monotonic() < deadline:
                if not drain(0.05):
                    time.sleep(0.01)
        result["ended"] = proc.poll() is not None
        if result["ended"]:
            result["status"] = proc.returncode
    finally:
        if proc.poll() is None:
            proc.send_signal(signal.SIGKILL)
            proc.wait()
        os.close(master)
    return result


def summarize(path):
    import statistics
    runs = {}  # name -> round -> result
    order = []
    with open(path) as f:
        for line in f:
            rnd, name, text = line.rstrip("\n").split("\t", 2)
            if name not in runs:
                runs[name] = {}
                order.append(name)
            runs[name][rnd] = json.loads(text)
    base = runs.get("plain report", {})
    print("| %-28s | %8s | %7s | %10s | %10s | %5s |" % (
        "command", "time (s)", "x plain", "RSS (MiB)", "max (MiB)", "quit"))
    print("|%s|%s|%s|%s|%s|%s|" % ("-" * 30, "-" * 9 + ":", "-" * 8 + ":", "-" * 11 + ":",
                                   "-" * 11 + ":", "-" * 6 + ":"))
    for name in order:
        done = {r: v for r, v in runs[name].items() if v["seconds"] is not None}
        if not done:
            print("| %-28s | %8s | %7s | %10s | %10s | %5s |" % (name, "-", "-", "-", "-", "-"))
            continue
        times = [v["seconds"] for v in done.values()]
        ratios = [v["seconds"] / base[r]["seconds"] for r, v in done.items()
                  if r in base and base[r]["seconds"]]
        rss = [v["vmhwm_kib"] / 1024 for v in done.values() if v["vmhwm_kib"] is not None]
        ended = sum(1 for v in runs[name].values() if v["ended"])
        print("| %-28s | %8.3f | %7s | %10s | %10s | %5s |" % (
            name, statistics.median(times),
            "%.2f" % statistics.median(ratios) if ratios else "-",
            "%.1f" % statistics.median(rss) if rss else "-",
            "%.1f" % max(rss) if rss else "-",
            "%d/%d" % (ended, len(runs[name]))))


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--summarize":
        summarize(sys.argv[2])
        return
    ap = argparse.ArgumentParser()
    ap.add_argument("--cols", type=int, default=140)
    ap.add_argument("--rows", type=int, default=40)
    ap.add_argument("--timeout", type=float, default=120)
    ap.add_argument("--quit", default="q")
    ap.add_argument("--screen", action="store_true")
    ap.add_argument("--plain", action="store_true")
    ap.add_argument("--wait", default="")
    ap.add_argument("command", nargs="+")
    args = ap.parse_args()
    if not args.plain and not args.wait:
        ap.error("--wait TEXT is needed (or --plain)")
    if args.plain:
        result = plain(args.command)
    else:
        result = browse(args.command, args.wait, args.cols, args.rows, args.timeout, args.quit,
                        args.screen)
    print(json.dumps(result))


if __name__ == "__main__":
    main()
