"""The program on a terminal: profile, colours, paging, Esc and Ctrl+C, and the
terminal's mode afterwards."""

import fcntl
import os
import pty
import select
import signal
import subprocess
import termios
import time

import kelpo
from kelpo import PROMPT
from kelpo import WINDOWS



def many_dirs(root, count):
    kelpo.make_tree(root, {"dir%03d" % i: {} for i in range(count)})


class Profile(kelpo.Case):
    def test_80_by_25(self):
        res = kelpo.run_pty([], cwd=self.dir, cols=80, rows=25)
        self.assertEqual(res.rc, 0, res.err)
        rows = kelpo.screen(res.raw, 80, 25)
        self.assertEqual(rows[:2], ["Kelpo32", "screen_width : 80"])
        start = "ROOT --" if WINDOWS else ". --"  # no start directory
        self.assertEqual(rows[2], start + "-" * (59 - len(start)) + "►    0             0")
        if WINDOWS:
            return  # the console draws with cursor addressing: only the screen counts
        # Colour 7 is set after the banner and the start colours come back at the end,
        # after the closing blank; the shell's prompt then starts a line of its own.
        self.assertTrue(res.raw.startswith(b"Kelpo32\r"))
        self.assertIn(b"\x1b[0mscreen_width", res.raw)
        self.assertTrue(res.raw.endswith(b" \x1b[0m\r\n"), res.raw[-20:])
        self.assertEqual(res.mode_before, res.mode_after)

    def test_132_by_40(self):
        res = kelpo.run_pty([], cwd=self.dir, cols=132, rows=40)
        self.assertEqual(res.rc, 0, res.err)
        self.assertEqual(kelpo.screen(res.raw, 132, 40)[1], "screen_width : 132")

    def test_width_switch_cannot_exceed_the_console(self):
        res = kelpo.run_pty(["/W100"], cwd=self.dir, cols=80, rows=25)
        rows = kelpo.screen(res.raw, 80, 25)
        self.assertEqual(rows[1], "Can't exceed screen width unless output is re-directed!")
        self.assertEqual(rows[2], "screen_width : 80")
        self.assertEqual(len(rows[3]), 79)

    def test_132_columns(self):
        res = kelpo.run_pty(["/132", "/N"], cwd=self.dir, cols=140, rows=25)
        rows = kelpo.screen(res.raw, 140, 25)
        self.assertEqual(rows[1], "screen_width : 132")
        self.assertEqual(len(rows[2]), 131)

    def test_log_on_a_console(self):
        res = kelpo.run_pty(["/L", "/132"], cwd=self.dir, cols=140, rows=25)
        self.assertEqual(res.rc, 0, res.err)
        with open(os.path.join(self.dir, "logfile.txt"), "rb") as f:
            log = f.read().split(b"\r\n")
        self.assertEqual(log[0], b"Kelpo32 Log:")
        self.assertRegex(log[1], rb"^No CRTpipe, HConsoleOutput: \d+$")
        self.assertEqual(log[2], b"Screenwidth 132 25")
        rows = kelpo.screen(res.raw, 140, 25)
        self.assertEqual(rows[3], "Alloc:0   max: 0")

    def test_file_names_cannot_drive_the_terminal(self):
        self.native_only()
        names = ["bell\x07", "esc\x1b[31mred", "nl\nx", "cr\rx", "bad\xff\xfeutf8".encode("latin-1"),
                 "ok-é"]
        for name in names:
            path = os.path.join(os.fsencode(self.dir), name if isinstance(name, bytes) else os.fsencode(name))
            os.mkdir(path)
        res = kelpo.run_pty(["/N"], cwd=self.dir, cols=80, rows=25)
        self.assertEqual(res.rc, 0, res.err)
        body = res.raw.replace(b"\x1b[0m", b"").replace(b"\x1b[92m", b"")
        self.assertNotIn(b"\x1b", body)
        self.assertNotIn(b"\x07", body)
        self.assertNotIn(b"\xff", body)
        text = body.decode("utf-8")
        for shown in ["bell?", "esc?[31mred", "nl?x", "cr?x", "bad??utf8", "ok-é"]:
            self.assertIn(shown, text)


class TotalsOnConsole(kelpo.Case):
    def test_layout_of_totals_fits_and_is_coloured(self):
        """The layout of totals on a console: each line one column short of
        the window whatever its numbers (a count of four digits keeps a blank
        after the arrow), in the colour of the report's total lines."""
        import pyte
        layout = {"d%02d" % i: {"f": 1000 * (i + 1)} for i in range(12)}
        layout["many"] = {"f%04d" % i: 1 for i in range(1000)}
        kelpo.make_tree(os.path.join(self.dir, "data"), layout)
        for cols in (60, 100):
            res = kelpo.run_pty(["--sort=size", "data"], cwd=self.dir, cols=cols, rows=40,
                                stdin_tty=False, env=kelpo.environment({"LANG": "C.UTF-8"}))
            self.assertEqual(res.rc, 0, res.err)
            scr = pyte.Screen(cols, 40)
            pyte.ByteStream(scr).feed(res.raw)
            lines = [(y, l.rstrip()) for y, l in enumerate(scr.display) if "%" in l]
            self.assertEqual(len(lines), 14, scr.display)
            self.assertEqual({len(l) for _, l in lines}, {cols - 1}, scr.display)
            self.assertEqual({l.index("► ") for _, l in lines}, {cols - 1 - 27 - 1},
                             scr.display)
            for y, _ in lines:
                self.assertEqual(scr.buffer[y][cols - 2].fg, "green", scr.display[y])


class Paging(kelpo.Case):
    def setUp(self):
        super().setUp()
        many_dirs(self.dir, 60)  # 62 counted lines: start, 60 directories, total

    def test_pause_after_each_page_and_continue(self):
        res = kelpo.run_pty([], cwd=self.dir, cols=80, rows=25,
                            keys=[(PROMPT, b" "), (PROMPT, b"\x1b[A"), (PROMPT, b"x")])
        self.assertEqual(res.rc, 0, res.err)
        if WINDOWS:
            rows = kelpo.screen(res.raw, 80, 25)
            self.assertIn("└» Total bytes: 0", rows)
            self.assertNotIn(PROMPT.decode(), rows)
            return
        raw = res.raw.replace(b"\r\r\n", b"\r\n")
        self.assertEqual(raw.count(PROMPT), 2)
        first = raw.index(PROMPT)
        # Banner, width line and the report's first 22 lines fill the page.
        self.assertEqual(raw[:first].count(b"\r\n"), 2 + 22)
        # After a key the prompt's row is cleared and the report goes on over it.
        self.assertEqual(raw[first + len(PROMPT):first + len(PROMPT) + 4], b"\r\x1b[K")
        self.assertIn(b"Total bytes: 0", raw)
        self.assertEqual(res.mode_before, res.mode_after)

    def test_first_prompt_with_the_lines_before_the_report_still_on_screen(self):
        """Banner, message and width line count toward the first page, each by
        the rows it takes (the message wraps onto two rows of a 40-column screen)."""
        for cols, rows, message in ((80, 25, 1), (40, 10, 2)):
            res = kelpo.run_pty(["/W100"], cwd=self.dir, cols=cols, rows=rows,
                                keys=[(PROMPT, b"\x1b")])
            self.assertEqual(res.rc, 0, res.err)
            shown = kelpo.screen(res.raw[:res.raw.index(PROMPT) + len(PROMPT)], cols, rows)
            self.assertEqual((shown[0], shown[1 + message], shown[-1]),
                             ("Kelpo32", "screen_width : %d" % cols, PROMPT.decode()), shown)
            self.assertTrue(shown[1].startswith("Can't exceed screen width"), shown)

    def test_every_row_counts_toward_the_page(self):
        """Depth notices are rows on the screen too: with one under each of 60
        directories, the first prompt still finds the banner on its screen."""
        for i in range(60):
            os.mkdir(os.path.join(self.dir, "dir%03d" % i, "deeper"))
        for cols, rows in ((80, 25), (60, 12)):
            res = kelpo.run_pty(["/V1"], cwd=self.dir, cols=cols, rows=rows,
                                keys=[(PROMPT, b" "), (PROMPT, b"\x1b")])
            self.assertEqual(res.rc, 0, res.err)
            first = res.raw.index(PROMPT) + len(PROMPT)
            shown = kelpo.screen(res.raw[:first], cols, rows)
            self.assertEqual((shown[0], shown[-1]), ("Kelpo32", PROMPT.decode()), shown)
            if not WINDOWS:
                # Each page holds the rows of one page: a prompt every rows - 1.
                second = res.raw.index(PROMPT, first)
                page = res.raw[first:second].replace(b"\r\r\n", b"\r\n")
                self.assertEqual(page.count(b"\r\n"), rows - 1, page)

    def check_stopped_at_prompt(self, res):
        self.assertEqual(res.rc, 0, res.err)
        if WINDOWS:
            rows = [r for r in kelpo.screen(res.raw, 80, 25) if r]
            self.assertEqual(rows[-1], PROMPT.decode())
            return
        self.assertTrue(res.raw.endswith(PROMPT + b"\x1b[0m \x1b[0m\r\n"), res.raw[-60:])
        self.assertEqual(res.mode_before, res.mode_after)

    def test_escape_at_the_prompt(self):
        res = kelpo.run_pty([], cwd=self.dir, cols=80, rows=25, keys=[(PROMPT, b"\x1b")])
        self.check_stopped_at_prompt(res)

    def test_ctrl_c_at_the_prompt(self):
        res = kelpo.run_pty([], cwd=self.dir, cols=80, rows=25, keys=[(PROMPT, b"\x03")])
        self.check_stopped_at_prompt(res)

    def test_no_pause_without_a_user(self):
        res = kelpo.run_pty([], cwd=self.dir, cols=80, rows=25, stdin_tty=False)
        self.assertEqual(res.rc, 0, res.err)
        self.assertNotIn(PROMPT, res.raw)
        self.assertIn(b"Total bytes: 0", res.raw)

    def test_no_pause_with_n(self):
        res = kelpo.run_pty(["/N"], cwd=self.dir, cols=80, rows=25)
        self.assertNotIn(PROMPT, res.raw)
        self.assertIn(b"Total bytes: 0", res.raw)


class Interrupt(kelpo.Case):
    def setUp(self):
        super().setUp()
        # Enough lines that the report is still being written when the key arrives.
        kelpo.make_tree(self.dir, {"d%02d" % i: {"e%03d" % j: {} for j in range(150)}
                                   for i in range(20)})

    def check_stopped(self, key):
        res = kelpo.run_pty(["/N"], cwd=self.dir, cols=80, rows=25,
                            keys=[(b"screen_width", key)])
        self.assertEqual(res.rc, 0, res.err)
        self.assertNotIn(b"Total bytes", res.raw)
        if WINDOWS:
            return
        self.assertTrue(res.raw.replace(b"\r\r\n", b"\r\n").endswith(b"\x1b[0m \r\n\x1b[0m"),
                        res.raw[-40:])
        self.assertEqual(res.mode_before, res.mode_after)

    def test_escape_during_the_report(self):
        self.check_stopped(b"\x1b")

    def test_ctrl_c_during_the_report(self):
        self.check_stopped(b"\x03")

    def test_other_keys_are_dropped(self):
        res = kelpo.run_pty(["/N"], cwd=self.dir, cols=80, rows=25,
                            keys=[(b"screen_width", b"a"), (b"e100", b"\x1bOP")])
        self.assertEqual(res.rc, 0, res.err)
        self.assertIn(b"Total bytes", res.raw)


class Signals(kelpo.Case):
    def test_terminal_mode_restored_on_sigterm_at_the_prompt(self):
        self.native_only()
        many_dirs(self.dir, 60)
        # Wait for the prompt, then end the program with SIGTERM.
        master, slave = pty.openpty()
        kelpo.set_winsize(slave, 80, 25)
        before = termios.tcgetattr(slave)
        def make_controlling():
            os.setsid()
            fcntl.ioctl(0, termios.TIOCSCTTY, 0)

        proc = subprocess.Popen(kelpo.command([]), cwd=self.dir, stdin=slave, stdout=slave,
                                stderr=subprocess.DEVNULL, preexec_fn=make_controlling)
        raw = b""
        deadline = time.monotonic() + 20
        while PROMPT not in raw and time.monotonic() < deadline:
            if select.select([master], [], [], 0.1)[0]:
                raw += os.read(master, 65536)
        self.assertIn(PROMPT, raw)
        self.assertNotEqual(termios.tcgetattr(slave), before)
        proc.send_signal(signal.SIGTERM)
        proc.wait(timeout=10)
        self.assertEqual(proc.returncode, -signal.SIGTERM)
        self.assertEqual(termios.tcgetattr(slave), before)
        os.close(master)
        os.close(slave)


if __name__ == "__main__":
    kelpo.main()
