#!/usr/bin/env python3
"""How soon Esc ends a run: Kelpo32 on a pseudo-terminal lists a large tree
without pauses (/N); once it has written for a while, Esc is sent, and the
time from the key to the process's end is measured. Prints each run's time
and their median and largest, at each thread count asked for.

    bench/esc.py [--kelpo32 PATH] [--tree DIR] [--runs N] [--threads 1,2,default]

The tree defaults to the 1,000,000-entry tree of bench/run.sh. The target is
50 ms."""

import argparse
import os
import pty
import select
import statistics
import subprocess
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def one_run(exe, tree, threads, wait):
    master, slave = pty.openpty()
    env = dict(os.environ)
    env.pop("KELPO32_THREADS", None)
    if threads != "default":
        env["KELPO32_THREADS"] = threads

    def controlling():
        os.setsid()
        import fcntl
        import termios
        fcntl.ioctl(0, termios.TIOCSCTTY, 0)

    proc = subprocess.Popen([exe, "/N", tree], stdin=slave, stdout=slave, stderr=slave,
                            env=env, preexec_fn=controlling)
    os.close(slave)
    start = time.monotonic()
    sent = None
    try:
        while proc.poll() is None:
            if select.select([master], [], [], 0.001)[0]:
                try:
                    os.read(master, 1 << 16)
                except OSError:
                    break
            if sent is None and time.monotonic() - start >= wait:
                os.write(master, b"\x1b")
                sent = time.monotonic()
        proc.wait()
        ended = time.monotonic()
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
        os.close(master)
    return None if sent is None else (ended - sent) * 1000


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--kelpo32", default=os.path.join(ROOT, "build", "posix", "kelpo32"))
    ap.add_argument("--tree", default=os.path.join(
        os.environ.get("KELPO32_BENCH_DIR", "/var/tmp/kelpo32-bench"), "tree-1M"))
    ap.add_argument("--runs", type=int, default=7)
    ap.add_argument("--threads", default="1,2,default")
    args = ap.parse_args()
    for threads in args.threads.split(","):
        times = [t for t in (one_run(args.kelpo32, args.tree, threads, 0.4)
                             for _ in range(args.runs)) if t is not None]
        if not times:
            print("threads=%s: the run ended before Esc was sent" % threads)
            continue
        print("threads=%-8s Esc to exit, ms: %s  median %.1f  largest %.1f" % (
            threads, " ".join("%.1f" % t for t in times), statistics.median(times), max(times)))


if __name__ == "__main__":
    main()
