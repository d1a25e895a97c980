"""Helpers for the end-to-end tests: run the built program redirected or in a
pseudo-terminal, natively or through the Wine runner, and build directory trees
whose search order is known."""

import collections
import errno
import fcntl
import json
import os
import pty
import re
import select
import shutil
import signal
import struct
import subprocess
import tempfile
import termios
import time
import unittest

EXE = os.environ.get("KELPO32_EXE", "")
PLATFORM = os.environ.get("KELPO32_PLATFORM", "posix")
RUNNER = os.environ.get("KELPO32_RUNNER")
WINDOWS = PLATFORM == "win32"
SEP = "\\" if WINDOWS else "/"

PROMPT = b"Press any key to continue....."
NOBODY = 65534  # the user that runs the tests for which root would read everything
ROOT = hasattr(os, "geteuid") and os.geteuid() == 0

# Redirected glyph set
TEE = b"+\x97"
LAST = b"+\x97"
VERT = b"|"
INDENT = b"  \x00"
TOTAL = b"+\xbb "

Result = collections.namedtuple("Result", "rc out err")
PtyResult = collections.namedtuple("PtyResult", "rc raw err mode_before mode_after")


def command(args, form="windows"):
    """The command line of a run. `form`: the --format the POSIX build is given
    (None: none); the byte-exact cases run in the Windows form, which the
    Windows build always writes."""
    if form is not None and not WINDOWS:
        args = ["--format=" + form] + list(args)
    return ([RUNNER] if RUNNER else []) + [EXE] + [str(a) for a in args]


def environment(extra):
    """The process environment with the variables of `extra` laid over it."""
    return dict(os.environ, **extra)


def threads(n):
    """The process environment with the walk limited to n threads."""
    return environment({"KELPO32_THREADS": str(n)})


def number(text):
    """The value of a number written with thousands separators."""
    return int(text.replace(b",", b""))


def json_lines(out):
    """The objects of JSON Lines output."""
    return [json.loads(l) for l in out.splitlines()]


def run(args=(), cwd=None, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, timeout=120,
        user=None, env=None, preexec_fn=None, form="windows", pass_fds=()):
    """Runs the program with output redirected; returns exit code and bytes.
    pass_fds: descriptors the program inherits open."""
    cmd = command(args, form)
    if user is not None:
        cmd = ["setpriv", "--reuid=%d" % user, "--regid=%d" % user, "--clear-groups"] + cmd
    proc = subprocess.run(cmd, cwd=cwd, stdin=stdin, stdout=stdout, stderr=subprocess.PIPE,
                          timeout=timeout, env=env, preexec_fn=preexec_fn, pass_fds=pass_fds)
    return Result(proc.returncode, proc.stdout, proc.stderr)


def set_winsize(fd, cols, rows):
    fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", rows, cols, 0, 0))


def run_pty(args=(), cwd=None, cols=80, rows=25, keys=(), timeout=60, stdin_tty=True,
            quiet_after_esc=0.05, env=None, stderr_tty=False, wrap=()):
    """Runs the program on a pseudo-terminal of cols x rows.

    keys: a sequence of (trigger, data): when the output so far (since the
    previous key) contains the bytes `trigger`, or when `trigger` is a number of
    seconds since the start, `data` is written to the terminal; `data` may be a
    function that acts first and returns the bytes. stderr_tty: standard error
    on the terminal too (its bytes are then in `raw`); wrap: a command the
    program runs under."""
    master, slave = pty.openpty()
    set_winsize(slave, cols, rows)
    mode_before = termios.tcgetattr(slave)

    def make_controlling():
        os.setsid()
        fcntl.ioctl(0 if stdin_tty else 1, termios.TIOCSCTTY, 0)

    proc = subprocess.Popen(list(wrap) + command(args, None), cwd=cwd, env=env,
                            stdin=slave if stdin_tty else subprocess.DEVNULL,
                            stdout=slave, stderr=slave if stderr_tty else subprocess.PIPE,
                            preexec_fn=make_controlling)
    raw = bytearray()
    pending = list(keys)
    mark = 0
    start = time.monotonic()
    try:
        while True:
            if time.monotonic() - start > timeout:
                proc.kill()
                raise AssertionError("program did not end; output so far: %r" % bytes(raw[-400:]))
            ready, _, _ = select.select([master], [], [], 0.02)
            if ready:
                try:
                    chunk = os.read(master, 65536)
                except OSError as e:
                    if e.errno != errno.EIO:
                        raise
                    chunk = b""
                raw += chunk
            if pending:
                trigger, data = pending[0]
                fire = (time.monotonic() - start >= trigger) if isinstance(trigger, (int, float)) \
                    else raw.find(trigger, mark) >= 0
                if fire:
                    pos = raw.find(trigger, mark) if not isinstance(trigger, (int, float)) else -1
                    mark = (pos + len(trigger)) if pos >= 0 else len(raw)
                    if callable(data):
                        data = data()
                    os.write(master, data)
                    pending.pop(0)
                    if data == b"\x1b":
                        time.sleep(quiet_after_esc)
            if not ready and proc.poll() is not None:
                # Drain what is left without waiting for end-of-file.
                while select.select([master], [], [], 0.05)[0]:
                    try:
                        chunk = os.read(master, 65536)
                    except OSError:
                        break
                    if not chunk:
                        break
                    raw += chunk
                break
        err = b"" if stderr_tty else proc.stderr.read()
        mode_after = termios.tcgetattr(slave)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
        if not stderr_tty:
            proc.stderr.close()
        os.close(master)
        os.close(slave)
    return PtyResult(proc.returncode, bytes(raw), err, mode_before, mode_after)


def run_stderr_pty(args, cwd, env=None, user=None, cols=60, rows=24, pause=1.0,
                   stderr_tty=True, kill_on=None):
    """Runs the program with standard output on a pipe that is read only after
    `pause` seconds (so a long run shows its status line) and standard error
    on a pseudo-terminal, or a file without `stderr_tty`; returns the exit code
    and the bytes standard error got. `kill_on`: SIGTERM once those bytes are
    seen on the terminal."""
    master, slave = pty.openpty()
    set_winsize(slave, cols, rows)
    cmd = command(args)
    if user is not None:
        cmd = ["setpriv", "--reuid=%d" % user, "--regid=%d" % user, "--clear-groups"] + cmd
    with tempfile.TemporaryFile() as errfile:
        proc = subprocess.Popen(cmd, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=slave if stderr_tty else errfile, env=env)
        time.sleep(pause)
        raw, out, end = b"", proc.stdout.fileno(), time.monotonic() + 60
        while time.monotonic() < end:
            ready = select.select([out, master], [], [], 0.2)[0]
            if master in ready:
                raw += os.read(master, 65536)
                if kill_on is not None and kill_on in raw:
                    proc.send_signal(signal.SIGTERM)
                    kill_on = None
            if out in ready and not os.read(out, 65536):
                break
        proc.wait(timeout=60)
        while select.select([master], [], [], 0.1)[0]:
            raw += os.read(master, 65536)
        proc.stdout.close()
        os.close(master)
        os.close(slave)
        if not stderr_tty:
            errfile.seek(0)
            raw = errfile.read()
    return proc.returncode, raw


def screen(raw, cols=80, rows=25):
    """The text a terminal shows after `raw`: one string per row, right-trimmed."""
    import pyte
    scr = pyte.Screen(cols, rows)
    stream = pyte.ByteStream(scr)
    stream.feed(raw)
    return [line.rstrip() for line in scr.display]


def scratch_dir(test):
    """A temporary folder on tmpfs when there is one (its search order is
    known: newest entry first), removed after the test."""
    base = "/dev/shm" if os.access("/dev/shm", os.W_OK) else None
    path = tempfile.mkdtemp(prefix="kelpo32-", dir=base)

    def cleanup():
        for root, dirs, _ in os.walk(path):
            for d in dirs:
                try:
                    os.chmod(os.path.join(root, d), 0o755)
                except OSError:
                    pass
        shutil.rmtree(path, ignore_errors=True)

    test.addCleanup(cleanup)
    return path


def make_tree(root, layout):
    """Creates `layout` below root: a dict of name -> size in bytes (a sparse
    file) or name -> dict (a subdirectory). Entries are made last-to-first, so
    that on tmpfs the directory search delivers them in the order given."""
    os.makedirs(root, exist_ok=True)
    for name, value in reversed(list(layout.items())):
        path = os.path.join(root, name)
        if isinstance(value, dict):
            make_tree(path, value)
        else:
            with open(path, "wb") as f:
                f.truncate(value)
    return root


def search_order(path):
    """The order in which the program's directory search meets the entries:
    the order of readdir natively; Wine delivers them sorted by name."""
    names = os.listdir(path)
    return sorted(names, key=lambda n: n.upper()) if WINDOWS else names


def uncaught(posix, cls, message):
    """A pattern of the message of an uncaught error: the platform's form on
    POSIX, the Windows program's form on Windows."""
    if WINDOWS:
        return rb"^Exception %s in module kelpo32(\.exe)? at [0-9A-F]{8}\.\r\n%s\.\r\n$" % (
            cls, message)
    return b"^" + re.escape(posix) + b"\n$"


def lines(out):
    """The lines of redirected output, without their CR LF."""
    assert out.endswith(b"\r\n") or out == b"", out[-20:]
    return out.split(b"\r\n")[:-1]


def dir_line(text, width, files, size):
    """A full directory line of the redirected report fitted to width."""
    count = format(files, ",").encode()
    sz = format(size, ",").encode()
    dashes = max(0, width - 21 - len(text))
    return text + b"-" * dashes + b">" + count.rjust(5) + sz.rjust(14)


class Case(unittest.TestCase):
    def setUp(self):
        if not EXE:
            self.skipTest("KELPO32_EXE is not set")
        self.dir = scratch_dir(self)

    def native_only(self):
        if WINDOWS:
            self.skipTest("native build only")


def main():
    unittest.main(verbosity=2)
