"""The full screen on a terminal (natively) and on the console (under Wine),
through screen_probe: the screen is entered and left, rows are drawn safely,
keys and size changes arrive, and every way out gives the terminal back."""

import errno
import fcntl
import os
import pty
import re
import select
import shutil
import signal
import subprocess
import termios
import time

import kelpo
from kelpo import WINDOWS

PROBE = os.environ.get("KELPO32_SCREEN_PROBE", "")
ENTER = b"\x1b[?1049h"  # the alternate screen of TERM=xterm
LEAVE = b"\x1b[?1049l"
TERMINAL_NEEDED = "standard input and standard output must be a terminal"
NAME_SHOWN = "name: evil?[2J??]0;pwned??gnp.exe?end"
# Sent by the terminal for the keys (xterm's keypad mode, which the screen sets).
KEYS = [
    (b"\x1bOA", "key: up"),
    (b"\x1b[1;5A", None),  # Ctrl+Up: no key the screen knows, and never Esc
    (b"\x1b[99;7~", None),  # a sequence the terminal's entry does not know: dropped whole
    (b"\x1bOz", None),
    (b"\x1b[6~", "key: pagedown"),
    (b"\x1b[3~", "key: delete"),
    (b"\r", "key: enter"),
    (b"\x7f", "key: backspace"),
    ("é".encode(), "key: char U+00E9"),
    (b"\x1b", "key: escape"),
]


def render(raw, cols, rows):
    """The rows a terminal shows after `raw`, right-trimmed. The curses library
    repeats a character with REP (ESC [ N b), which the emulator lacks."""
    import pyte
    text = raw.decode("utf-8", "replace")
    text = re.sub(r"([^\x00-\x1f\x7f])\x1b\[(\d+)b", lambda m: m.group(1) * (int(m.group(2)) + 1),
                  text)
    scr = pyte.Screen(cols, rows)
    pyte.Stream(scr).feed(text)
    return [line.rstrip() for line in scr.display]


def controlling_tty():
    os.setsid()
    fcntl.ioctl(0, termios.TIOCSCTTY, 0)


class Probe:
    """screen_probe (or another program: `argv`) on a pseudo-terminal of its own."""

    def __init__(self, test, cols=80, rows=25, env=None, stdin_tty=True, stdout=None,
                 argv=None, cwd=None):
        self.cols, self.rows = cols, rows
        self.master, self.slave = pty.openpty()
        kelpo.set_winsize(self.slave, cols, rows)
        self.mode_before = termios.tcgetattr(self.slave)
        base = {"TERM": "xterm", "LANG": "C.UTF-8"}
        base.update(env or {})
        environ = {k: v for k, v in dict(os.environ, **base).items() if v is not None}
        self.proc = subprocess.Popen(
            ([kelpo.RUNNER] if kelpo.RUNNER else []) + (argv or [PROBE]), env=environ, cwd=cwd,
            stdin=self.slave if stdin_tty else subprocess.DEVNULL,
            stdout=self.slave if stdout is None else stdout, stderr=subprocess.PIPE,
            preexec_fn=controlling_tty if stdin_tty else os.setsid)
        test.addCleanup(self.close)
        self.raw = b""
        self.mark = 0

    def read(self, wait):
        if select.select([self.master], [], [], wait)[0]:
            try:
                self.raw += os.read(self.master, 65536)
            except OSError as e:
                if e.errno != errno.EIO:
                    raise
                return False
        return True

    def expect(self, text, timeout=20):
        """Waits until the output since the last match holds `text` (bytes)."""
        deadline = time.monotonic() + timeout
        while self.raw.find(text, self.mark) < 0:
            if time.monotonic() > deadline:
                raise AssertionError("no %r in %r" % (text, self.raw[self.mark:][-600:]))
            self.read(0.05)
        self.mark = self.raw.find(text, self.mark) + len(text)

    def drawn(self, text, timeout=20):
        """Waits until the screen shows `text` on some row; returns the rows."""
        deadline = time.monotonic() + timeout
        while True:
            rows = self.screen()
            if any(text in row for row in rows):
                return rows
            if time.monotonic() > deadline:
                raise AssertionError("%r not shown: %r" % (text, rows))
            self.read(0.05)

    def send(self, data):
        os.write(self.master, data)
        if data == b"\x1b":
            time.sleep(0.1)  # a lone Esc: quiet after it

    def key(self, data, shown):
        """Sends a key and waits until the probe shows what it got."""
        self.send(data)
        return self.drawn(shown)

    def resize(self, cols, rows):
        self.cols, self.rows = cols, rows
        kelpo.set_winsize(self.slave, cols, rows)  # the kernel sends SIGWINCH

    def screen(self):
        return render(self.raw, self.cols, self.rows)

    def wait(self, timeout=20):
        deadline = time.monotonic() + timeout
        while self.proc.poll() is None:
            if time.monotonic() > deadline:
                raise AssertionError("probe did not end: %r" % self.raw[-300:])
            self.read(0.05)
        while select.select([self.master], [], [], 0.05)[0] and self.read(0):
            pass
        self.err = self.proc.stderr.read()
        self.mode_after = termios.tcgetattr(self.slave)
        return self.proc.returncode

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.proc.stderr.close()
        os.close(self.master)
        os.close(self.slave)


class Screen(kelpo.Case):
    def setUp(self):
        super().setUp()
        if not PROBE:
            self.skipTest("KELPO32_SCREEN_PROBE is not set")

    def check_given_back(self, probe):
        """The terminal as the probe found it: the mode, the main screen with
        only what was written on it, the cursor shown, the colours reset."""
        self.assertEqual(probe.mode_after, probe.mode_before)
        raw = probe.raw
        self.assertEqual(raw.count(ENTER), raw.count(LEAVE), raw[-200:])
        leave = raw.rindex(LEAVE)
        self.assertGreater(leave, raw.rindex(ENTER))
        self.assertGreater(raw.rfind(b"\x1b[?25h"), raw.rfind(b"\x1b[?25l"))
        sgr = re.findall(rb"\x1b\[([0-9;]*)m", raw)
        self.assertIn(sgr[-1], (b"", b"0"), sgr[-5:])
        main = render(raw[:raw.index(ENTER)] + raw[leave:], probe.cols, probe.rows)
        self.assertEqual(main[0], "probe: before")
        self.assertFalse([row for row in main if "screen_probe" in row or "evil" in row], main)
        return main


class Terminal(Screen):
    def setUp(self):
        super().setUp()
        self.native_only()

    def test_rows_keys_and_the_terminal_given_back(self):
        probe = Probe(self)
        rows = probe.drawn("last row")
        self.assertEqual(rows[0], "screen_probe 80x25 unicode colour")
        self.assertEqual(rows[1], NAME_SHOWN)
        self.assertEqual(rows[3], "selected")
        # A row of wide characters is cut before the one that would pass the edge.
        self.assertEqual(rows[5], "cut:" + "日" * 38)
        self.assertEqual(rows[24], "last row 0" + "-" * 70)
        # Nothing of the hostile name reaches the terminal as it is.
        for raw in (b"\x07", b"\x1b]0;", "\u202e".encode(), b"\xff"):
            self.assertNotIn(raw, probe.raw)
        for data, shown in KEYS:
            if shown is None:
                probe.send(data)
            else:
                self.assertEqual(probe.key(data, shown)[4], shown)
        self.assertEqual(probe.key(b"p", "polling")[4], "polling")
        # The unknown sequences counted as no key: 8 keys, no Esc, no letters.
        probe.key(b"x", "last row 8")
        self.assertEqual(probe.screen()[4], "key: char U+0078")
        probe.send(b"q")
        self.assertEqual(probe.wait(), 0)
        self.assertEqual(probe.err, b"")
        main = self.check_given_back(probe)
        self.assertEqual(main[1], "probe: after 8 keys")

    def test_every_way_out_gives_the_terminal_back(self):
        ways = [
            ("q", lambda p: p.send(b"q"), 0, b""),
            ("Ctrl+C key", lambda p: p.send(b"\x03"), 0, b""),
            ("SIGINT", lambda p: p.proc.send_signal(signal.SIGINT), 0, b""),
            ("SIGTERM", lambda p: p.proc.send_signal(signal.SIGTERM), -signal.SIGTERM, b""),
            ("SIGHUP", lambda p: p.proc.send_signal(signal.SIGHUP), -signal.SIGHUP, b""),
            ("error", lambda p: p.send(b"e"), 1, b"kelpo32: probe: "),
        ]
        for name, act, rc, err in ways:
            with self.subTest(name):
                probe = Probe(self)
                probe.drawn("last row")
                act(probe)
                self.assertEqual(probe.wait(), rc)
                self.assertTrue(probe.err.startswith(err), probe.err)
                self.check_given_back(probe)

    def test_size_change_redraws_at_the_new_size(self):
        probe = Probe(self)
        probe.drawn("last row")
        probe.resize(60, 20)
        rows = probe.drawn("last row 1")  # the last of the frame
        self.assertEqual(rows[0], "screen_probe 60x20 unicode colour")
        self.assertEqual(rows[4], "key: resize")
        self.assertEqual(rows[5], "cut:" + "日" * 28)
        self.assertEqual(rows[19], "last row 1" + "-" * 50)
        probe.send(b"q")
        self.assertEqual(probe.wait(), 0)
        self.check_given_back(probe)

    def test_without_colour_or_utf8(self):
        probe = Probe(self, env={"NO_COLOR": "1", "LANG": "C", "LC_ALL": "C"})
        rows = probe.drawn("last row")
        self.assertEqual(rows[0], "screen_probe 80x25 ascii plain")
        self.assertEqual(rows[2], "wide: ?? e?!")
        self.assertEqual(rows[5], "cut:" + "?" * 76)
        probe.send(b"q")
        self.assertEqual(probe.wait(), 0)
        self.assertFalse(re.search(rb"[\x80-\xff]", probe.raw))
        self.assertFalse(re.search(rb"\x1b\[[0-9;]*3[0-7]m", probe.raw))  # no foreground colour
        self.check_given_back(probe)

    def test_no_screen_without_a_terminal_that_can_carry_it(self):
        out = os.path.join(self.dir, "out")
        cases = [
            ("input not a terminal", {}, False, None, TERMINAL_NEEDED),
            ("output a file", {}, True, out, TERMINAL_NEEDED),
            ("TERM unset", {"TERM": None}, True, None, "TERM is not set"),
            ("TERM unknown", {"TERM": "no-such-terminal"}, True, None,
             "unknown terminal type 'no-such-terminal'"),
            ("TERM=dumb", {"TERM": "dumb"}, True, None, "terminal 'dumb' cannot move the cursor"),
        ]
        for name, env, stdin_tty, path, reason in cases:
            with self.subTest(name):
                with open(path or os.devnull, "wb") as stdout:
                    probe = Probe(self, env=env, stdin_tty=stdin_tty,
                                  stdout=stdout if path else None)
                    self.assertEqual(probe.wait(), 2)
                self.assertEqual(probe.err.decode(), "screen_probe: %s\n" % reason)
                self.assertEqual(probe.mode_after, probe.mode_before)
                self.assertNotIn(ENTER, probe.raw)


class JobControl(Screen):
    """The probe in an interactive shell with job control."""

    def setUp(self):
        super().setUp()
        self.native_only()
        if not shutil.which("bash"):
            self.skipTest("no bash")
        from test_posix import Shell
        self.sh = Shell(self, "bash")

    def test_stop_gives_the_terminal_back_and_fg_draws_again(self):
        sh = self.sh
        os.write(sh.master, b"'%s'; echo rc=$?\n" % PROBE.encode())
        sh.expect(b"last row 0")
        stops = [lambda: os.write(sh.master, b"\x1a"),  # the suspend key
                 lambda: os.killpg(os.tcgetpgrp(sh.master), signal.SIGTSTP)]
        for count, stop in enumerate(stops, 1):
            stop()
            sh.expect(rb"Stopped")
            self.assertIn(LEAVE, sh.before)
            sh.expect(rb"\$ ")
            self.assertEqual(sh.mode(), sh.cooked)
            os.write(sh.master, b"fg\n")
            sh.expect(re.escape(ENTER))
            sh.expect(b"last row %d" % (count - 1))  # the frame drawn whole again at once
            self.assertEqual(sh.mode(), sh.cooked)if False else None
            self.assertNotEqual(sh.mode(), sh.cooked)
        os.write(sh.master, b"q")
        sh.expect(b"probe: after 2 keys")  # a Resize after each stop
        sh.expect(rb"\$ ")  # a stopped job takes the rest of its list with it
        os.write(sh.master, b"echo rc=$?\n")
        self.assertEqual(sh.status(), 0)
        self.assertEqual(sh.mode(), sh.cooked)

    def test_background_job_gets_no_screen(self):
        sh = self.sh
        os.write(sh.master, b"'%s' & wait $!; echo rc=$?\n" % PROBE.encode())
        self.assertEqual(sh.status(), 2)
        self.assertIn(b"screen_probe: not in the terminal's foreground", sh.before)
        self.assertNotIn(ENTER, sh.before)
        self.assertEqual(sh.mode(), sh.cooked)


class Console(Screen):
    """The Windows build under Wine: a screen buffer of its own."""

    def setUp(self):
        super().setUp()
        if not WINDOWS:
            self.skipTest("Windows build only")

    def test_own_buffer_keys_and_the_original_buffer_back(self):
        probe = Probe(self)
        rows = probe.drawn("last row")
        self.assertEqual(rows[0], "screen_probe 80x25 unicode colour")
        self.assertEqual(rows[1], NAME_SHOWN)
        self.assertEqual(rows[5], "cut:" + "ü" * 76)
        self.assertEqual(rows[24], "last row 0" + "-" * 70)
        self.assertNotIn("probe: before", rows)  # another buffer is shown
        for data, shown in [(b"x", "key: char U+0078"), (b"\x1b[A", "key: up"),
                            (b"\r", "key: enter"), (b"\x1b", "key: escape"), (b"p", "polling"),
                            ("é".encode(), "key: char U+00E9")]:
            self.assertEqual(probe.key(data, shown)[4], shown)
        # The console made smaller (Wine does not pass on a terminal's size).
        rows = probe.key(b"r", "last row 6")
        self.assertEqual(rows[0], "screen_probe 60x20 unicode colour")
        self.assertEqual(rows[4], "key: resize")
        self.assertEqual(rows[19], "last row 6" + "-" * 50)
        probe.send(b"q")
        self.assertEqual(probe.wait(), 0)
        main = probe.screen()
        self.assertEqual(main[:2], ["probe: before", "probe: after 6 keys"])
        self.assertFalse([row for row in main if "screen_probe" in row], main)

    def test_no_screen_without_a_console(self):
        with open(os.path.join(self.dir, "out"), "wb") as out:
            for name, stdin_tty, stdout in [("input", False, None), ("output", True, out)]:
                with self.subTest(name):
                    probe = Probe(self, stdin_tty=stdin_tty, stdout=stdout)
                    self.assertEqual(probe.wait(), 2)
                    self.assertEqual(probe.err.replace(b"\r\n", b"\n"), b"screen_probe: standard "
                                     b"input and standard output must be a console\n")

    def test_ctrl_c_and_an_error_give_the_original_buffer_back(self):
        for name, key, rc, after in [("Ctrl+C", b"\x03", 0, "probe: after 0 keys"),
                                     ("error", b"e", 1, "")]:
            with self.subTest(name):
                probe = Probe(self)
                probe.drawn("last row")
                probe.send(key)
                self.assertEqual(probe.wait(), rc)
                main = probe.screen()
                self.assertEqual(main[:2], ["probe: before", after])
                self.assertFalse([row for row in main if "screen_probe" in row], main)


if __name__ == "__main__":
    kelpo.main()
