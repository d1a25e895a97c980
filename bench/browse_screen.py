#!/usr/bin/env python3
"""The browser's first screen and memory beside the other browsers, each in a
pseudo-terminal of its own: the time from the start to the first screen of
the browsing view (a text each one shows only then), and the peak RSS once
it shows; and the plain report's time on the same tree for the ratio.
Also the time to open a directory of 100,000 files and to answer a key there,
and (--export) the same of browsing an ncdu export of the tree with its files
(kelpo32 --browse --from, ncdu -f), the first directory opened.

  bench/browse_screen.py KELPO32 TREE [--runs N] [--flat DIR] [--export FILE]
"""

import argparse
import os
import pty
import select
import fcntl
import struct
import subprocess
import statistics
import termios
import time


def tty():
    os.setsid()
    fcntl.ioctl(0, termios.TIOCSCTTY, 0)


def peak_rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def session(argv, ready, quit_keys=b"q", keys=()):
    """Runs argv on a 120x40 terminal; returns the seconds to `ready`, the
    peak RSS then (KiB) and the seconds each of `keys` took to be answered."""
    master, slave = pty.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 40, 120, 0, 0))
    env = dict(os.environ, TERM="xterm", LANG="C.UTF-8")
    start = time.monotonic()
    proc = subprocess.Popen(argv, stdin=slave, stdout=slave, stderr=subprocess.DEVNULL,
                            env=env, preexec_fn=tty)
    raw = b""
    while ready not in raw:
        if select.select([master], [], [], 1)[0]:
            raw += os.read(master, 1 << 20)
        if time.monotonic() - start > 300:
            proc.kill()
            proc.wait()
            os.close(master)
            os.close(slave)
            raise TimeoutError("no first screen: %r" % raw[-300:])
    first = time.monotonic() - start
    time.sleep(0.3)
    rss = peak_rss_kib(proc.pid)
    answered = []
    for key in keys:
        # The screen sends only what changed: the answer is the last byte
        # before the terminal goes quiet.
        t = time.monotonic()
        os.write(master, key)
        last = None
        # The first byte of the answer may take a while (a directory opened).
        if select.select([master], [], [], 10)[0]:
            raw += os.read(master, 1 << 20)
            last = time.monotonic()
        while select.select([master], [], [], 0.3)[0]:
            raw += os.read(master, 1 << 20)
            last = time.monotonic()
        answered.append((last or t) - t)
    rss = max(rss, peak_rss_kib(proc.pid))
    os.write(master, quit_keys)
    try:
        proc.wait(timeout=30)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
    os.close(master)
    os.close(slave)
    return first, rss, answered


def plain(kelpo32, tree):
    t = time.monotonic()
    subprocess.run([kelpo32, tree], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   check=False)
    return time.monotonic() - t


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("kelpo32")
    ap.add_argument("tree")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--flat", help="a directory holding one directory of 100,000 files, for "
                    "the time to open it and the keys' times")
    ap.add_argument("--flat-only", action="store_true",
                    help="only the directory of --flat and the export of --export")
    ap.add_argument("--export", help="an ncdu export of TREE: browsed with its files")
    a = ap.parse_args()
    rows = []
    runs = {
        "kelpo32 --browse": ([a.kelpo32, "--browse", a.tree], b"Sort: "),
        "ncdu": (["ncdu", "-x", a.tree], b"Total disk usage"),
        "gdu": (["gdu", a.tree], b"tal disk usage"),  # its footer is drawn in pieces
    }
    if a.flat:
        keys = [b"\r", b"n", b"s", b"c", b"s", b"h", b"\x1bOF", b"\x1bOH"]
        first, rss, answered = session([a.kelpo32, "--browse", a.flat], b"Sort: ", keys=keys)
        print("100,000 files: opened in %.1f ms; n s c s h End Home answered in %s ms; "
              "peak RSS %.1f MiB" % (answered[0] * 1000,
                                     ", ".join("%.1f" % (k * 1000) for k in answered[1:]),
                                     rss / 1024))
    if a.export:
        # The first directory opened (its files listed), then the peak.
        for name, argv, ready in (
                ("kelpo32 --browse --from", [a.kelpo32, "--browse", "--from=" + a.export],
                 b"Sort: "),
                ("ncdu -f", ["ncdu", "-f", a.export], b"Total disk usage")):
            try:
                got = [session(argv, ready, keys=[b"\r"]) for _ in range(a.runs)]
            except (FileNotFoundError, TimeoutError) as e:
                print("%-24s %s" % (name, str(e)[:200]))
                continue
            print("%-24s first screen %.2f s  peak RSS %.1f MiB" %
                  (name, statistics.median(g[0] for g in got), max(g[1] for g in got) / 1024))
    if a.flat_only:
        return
    plains = [plain(a.kelpo32, a.tree) for _ in range(a.runs)]
    print("plain report: median %.2f s" % statistics.median(plains))
    for name, (argv, ready) in runs.items():
        try:
            got = [session(argv, ready) for _ in range(a.runs)]
        except (FileNotFoundError, TimeoutError) as e:
            print("%-18s %s" % (name, str(e)[:200]))
            continue
        first = statistics.median(g[0] for g in got)
        rss = max(g[1] for g in got)
        rows.append((name, first, rss))
        print("%-18s first screen %.2f s (%.2fx the plain report)  peak RSS %.1f MiB" %
              (name, first, first / statistics.median(plains), rss / 1024))


if __name__ == "__main__":
    main()
