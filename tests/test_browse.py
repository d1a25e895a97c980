"""The browser (--browse) on a terminal: a session of keys over a temporary
tree, deletions checked on the file system and in the numbers shown, links
never followed, size changes, a stop and fg, and the terminal given back."""

import os
import shutil
import subprocess
import time

import kelpo
from test_screen import ENTER, LEAVE, Probe

UP, DOWN, LEFT = b"\x1bOA", b"\x1bOB", b"\x1bOD"


class Browser(Probe):
    """kelpo32 --browse on a pseudo-terminal of its own; in apparent sizes
    unless `kind` is another option (None: the browser's own default)."""

    def __init__(self, test, args, cols=100, rows=20, cwd=None, kind="--apparent-size",
                 user=None):
        argv = [kelpo.EXE, "--browse"] + ([kind] if kind else []) + list(args)
        if user is not None:
            # The terminal is that user's too.
            argv = ["setpriv", "--reuid=%d" % user, "--regid=%d" % user, "--clear-groups"] + argv
        super().__init__(test, cols, rows, argv=argv, cwd=cwd)
        if user is not None:
            os.fchown(self.slave, user, user)

    def until(self, shows, timeout=20):
        """Waits until `shows(rows)` holds of the screen; returns the rows."""
        deadline = time.monotonic() + timeout
        while not shows(self.screen()):
            if time.monotonic() > deadline:
                raise AssertionError("not shown: %r" % self.screen())
            self.read(0.05)
        return self.screen()


def row_of(rows, text):
    return next(r for r in rows if text in r)


class Browse(kelpo.Case):
    def setUp(self):
        super().setUp()
        self.native_only()
        self.top = os.path.join(self.dir, "top")
        self.outside = kelpo.make_tree(os.path.join(self.dir, "outside"), {"keep.txt": 7})

    def given_back(self, b):
        self.assertEqual(b.mode_after, b.mode_before)
        self.assertEqual(b.raw.count(ENTER), b.raw.count(LEAVE))
        self.assertGreater(b.raw.rindex(LEAVE), b.raw.rindex(ENTER))

    def test_open_up_sort_quit(self):
        kelpo.make_tree(self.top, {"big": {"f": 300000, "sub": {"g": 5}}, "small": {"h": 1000},
                                   "top.bin": 50000})
        b = Browser(self, [self.top])
        rows = b.drawn("Sort: size")
        self.assertIn("kelpo32 ", rows[0])
        self.assertIn(self.top, rows[0])
        self.assertIn("big/", rows[1])  # largest first, with its share and count
        self.assertIn("%", rows[1])
        self.assertIn("top.bin", rows[2])
        # Each step waits for the rows it changes, not only the header.
        b.send(b"\r")
        rows = b.until(lambda r: (self.top + "/big") in r[0] and any("sub/" in x for x in r))
        self.assertIn("f", row_of(rows, "293K"))
        b.send(LEFT)
        rows = b.until(lambda r: "/big" not in r[0] and any("small/" in x for x in r))
        b.send(b"n")
        rows = b.until(lambda r: "big/" in r[1] and "small/" in r[2])
        self.assertIn("Sort: name", rows[-1])
        b.key(b"h", "300,005")
        b.key(b"?", "Keys")
        b.key(b"x", "Sort: name")
        os.write(b.master, b"q")
        self.assertEqual(b.wait(), 0)
        self.assertEqual(b.err, b"")
        self.given_back(b)

    def test_delete_file_and_directory(self):
        kelpo.make_tree(self.top, {"big": {"f": 300000, "sub": {"g": 5}}, "small": {"h": 1000},
                                   "top.bin": 50000})
        b = Browser(self, [self.top])
        b.drawn("Sort: size")
        rows = b.key(b"d", "Delete ")
        self.assertTrue(any("It holds 2 files" in r for r in rows), rows)
        b.key(b"n", "Kept big")  # anything but y keeps it
        self.assertTrue(os.path.isdir(os.path.join(self.top, "big")))
        b.key(b"d", "Delete ")
        b.key(b"y", "Deleted big")
        self.assertFalse(os.path.exists(os.path.join(self.top, "big")))
        b.key(b"h", "All: 51,000 in 2 files")
        b.key(b"d", "A file of 50,000 bytes")
        b.key(b"y", "Deleted top.bin")
        self.assertFalse(os.path.exists(os.path.join(self.top, "top.bin")))
        self.assertTrue(os.path.exists(os.path.join(self.top, "small", "h")))
        b.key(b"x", "All: 1,000 in 1 file")
        os.write(b.master, b"q")
        self.assertEqual(b.wait(), 0)
        self.given_back(b)

    def test_link_to_outside_goes_as_a_link(self):
        kelpo.make_tree(self.top, {"data": 1000000})
        os.symlink(self.outside, os.path.join(self.top, "link"))
        b = Browser(self, [self.top])
        b.drawn("@ link")
        os.write(b.master, DOWN)
        b.key(b"d", "Delete ")
        b.key(b"y", "Deleted link")
        self.assertFalse(os.path.lexists(os.path.join(self.top, "link")))
        self.assertTrue(os.path.exists(os.path.join(self.outside, "keep.txt")))
        os.write(b.master, b"q")
        self.assertEqual(b.wait(), 0)

    def test_directory_swapped_for_a_link_is_not_followed(self):
        kelpo.make_tree(self.top, {"victim": {"a": 10, "b": 20}})
        b = Browser(self, [self.top])
        b.drawn("victim/")
        victim = os.path.join(self.top, "victim")
        shutil.rmtree(victim)
        os.symlink(self.outside, victim)
        b.key(b"d", "Delete ")
        rows = b.key(b"y", "Could not delete")
        self.assertTrue(any("victim" in r for r in rows), rows)
        self.assertTrue(os.path.exists(os.path.join(self.outside, "keep.txt")))
        os.write(b.master, b"q")
        self.assertEqual(b.wait(), 0)
        self.given_back(b)

    def test_keys_typed_ahead_or_during_a_deletion_delete_nothing(self):
        big = os.path.join(self.top, "big")
        os.makedirs(big)
        for i in range(100000):
            os.close(os.open(os.path.join(big, "f%d" % i), os.O_CREAT | os.O_WRONLY, 0o644))
        victim = kelpo.make_tree(os.path.join(self.top, "victim"), {"v": 10})
        b = Browser(self, [self.top], kind=None)
        b.drawn("Disk usage")  # the browser's own first kind
        b.send(b"c")  # by count of files: big first
        b.until(lambda r: "big/" in r[1] and "Sort: files" in r[-1])
        b.send(b"dy")  # y typed before its question was drawn
        b.drawn("Delete ")
        time.sleep(0.5)
        b.read(0.1)
        self.assertTrue(os.path.isdir(big))
        self.assertTrue(any("Delete " in r for r in b.screen()))
        b.send(b"y")
        b.send(b"dy")  # typed while big goes: never the answer to a question
        b.drawn("Deleted big", timeout=60)
        time.sleep(0.5)
        b.read(0.1)
        self.assertFalse(os.path.exists(big))
        self.assertTrue(os.path.exists(os.path.join(victim, "v")))
        os.write(b.master, b"q")
        os.write(b.master, b"q")
        self.assertEqual(b.wait(), 0)
        self.given_back(b)

    def test_start_swapped_for_a_link_stays_the_scanned_one(self):
        kelpo.make_tree(self.top, {"PRECIOUS.bin": 3000000, "p": {"mine": 5}})
        kelpo.make_tree(os.path.join(self.outside, "p"), {"theirs": 6700000})
        kelpo.make_tree(self.outside, {"PRECIOUS.bin": 4800000})
        b = Browser(self, [self.top])
        b.drawn("PRECIOUS.bin")
        os.rename(self.top, self.top + ".old")
        os.symlink(self.outside, self.top)
        b.send(b"r")  # the directory held, not the path
        rows = b.drawn("Rescanned")
        self.assertIn("2.9M", row_of(rows, "PRECIOUS.bin"))
        self.assertNotIn("theirs", "".join(rows))
        b.send(b"d")
        b.drawn("Delete ")
        b.key(b"y", "Deleted PRECIOUS.bin")
        self.assertFalse(os.path.exists(os.path.join(self.top + ".old", "PRECIOUS.bin")))
        self.assertTrue(os.path.exists(os.path.join(self.outside, "PRECIOUS.bin")))
        b.key(b"h", "All: 5 in 1 file")
        os.write(b.master, b"q")
        self.assertEqual(b.wait(), 0)

    def test_unread_directory_swapped_is_read_and_asked_again(self):
        if not shutil.which("setpriv"):
            self.skipTest("no setpriv")
        # As an ordinary user, for whom a directory of mode 000 is unreadable.
        nobody = 65534
        for d in (self.dir, self.top):
            os.makedirs(d, exist_ok=True)
            os.chmod(d, 0o777)
        kelpo.make_tree(self.top, {"keep": {"f": 1000}, "x": {"secret": 2000}})
        x = os.path.join(self.top, "x")
        for d in (self.top, os.path.join(self.top, "keep"), x):
            os.chown(d, nobody, nobody)
        os.chmod(x, 0)
        b = Browser(self, ["--apparent-size", self.top], kind=None, user=nobody)
        rows = b.drawn("x/")
        self.assertIn("!", row_of(rows, "x/"))
        os.rename(x, x + ".s")
        os.mkdir(x)
        kelpo.make_tree(x, {"PRECIOUS": 1})
        os.chown(x, nobody, nobody)
        b.send(b"n")  # by name: keep/, x/
        b.until(lambda r: "x/" in r[2])
        os.write(b.master, DOWN)
        b.until(lambda r: "x/" in r[2])
        rows = b.key(b"d", "Read now: it holds 1 file")
        self.assertTrue(any("did not read it" in r for r in rows), rows)
        b.key(b"n", "Kept x")
        self.assertTrue(os.path.exists(os.path.join(x, "PRECIOUS")))
        os.write(b.master, b"q")
        self.assertEqual(b.wait(), 1)  # a directory could not be read, as du says
        os.chmod(x + ".s", 0o755)
        self.assertTrue(os.path.exists(os.path.join(x + ".s", "secret")))

    def test_size_change_redraws(self):
        kelpo.make_tree(self.top, {"d%02d" % i: {"f": 100 * i} for i in range(30)})
        b = Browser(self, [self.top])
        b.drawn("Sort: size")
        b.cols, b.rows = 70, 12
        kelpo.set_winsize(b.slave, 70, 12)
        deadline = time.monotonic() + 20
        while not b.screen()[11].startswith(" Here:"):
            self.assertLess(time.monotonic(), deadline, b.screen())
            b.read(0.05)
        os.write(b.master, b"q")
        self.assertEqual(b.wait(), 0)
        self.given_back(b)

    def test_saved_scan_and_comparison(self):
        kelpo.make_tree(self.top, {"keep": {"f": 1000}, "old": {"g": 2000}})
        saved = os.path.join(self.dir, "old.json")
        r = subprocess.run([kelpo.EXE, "--format=json", "--output=" + saved, self.top],
                           stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
        self.assertEqual(r.returncode, 0, r.stderr)
        shutil.rmtree(os.path.join(self.top, "old"))
        kelpo.make_tree(os.path.join(self.top, "new"), {"h": 5000})
        with open(os.path.join(self.top, "keep", "f"), "ab") as f:
            f.truncate(3000)
        b = Browser(self, ["--compare=" + saved, self.top])
        rows = b.drawn("Sort: change")
        self.assertIn("new", row_of(rows, "new/"))
        self.assertIn("+2.0K", row_of(rows, "keep/"))
        self.assertIn("gone", row_of(rows, "old/"))
        os.write(b.master, b"q")
        self.assertEqual(b.wait(), 0)
        b = Browser(self, ["--from=" + saved])
        rows = b.drawn("[saved scan]")
        self.assertIn("old/", row_of(rows, "old/"))
        b.key(b"d", "Deletion is off: saved scan")
        self.assertTrue(os.path.isdir(os.path.join(self.top, "keep")))
        os.write(b.master, b"q")
        self.assertEqual(b.wait(), 0)
        self.given_back(b)

    def test_refused_without_a_terminal_or_with_an_output(self):
        kelpo.make_tree(self.top, {"f": 1})
        exe = ([kelpo.RUNNER] if kelpo.RUNNER else []) + [kelpo.EXE]
        cases = [([], "needs a terminal"), (["--output=" + os.path.join(self.dir, "o")],
                                            "'--output'"),
                 (["--format=json"], "'--format'")]
        for extra, words in cases:
            with self.subTest(extra=extra):
                r = subprocess.run(exe + ["--browse", self.top] + extra, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, stdin=subprocess.DEVNULL, timeout=60)
                self.assertEqual(r.returncode, 2)
                self.assertIn(words, r.stderr.decode())
                self.assertEqual(r.stdout, b"")
        self.assertFalse(os.path.exists(os.path.join(self.dir, "o")))


class JobControl(kelpo.Case):
    def setUp(self):
        super().setUp()
        self.native_only()
        if not shutil.which("bash"):
            self.skipTest("no bash")
        from test_posix import Shell
        kelpo.make_tree(os.path.join(self.dir, "t"), {"sub": {"f": 10}})
        self.sh = Shell(self, "bash")

    def test_stop_and_fg_draw_again(self):
        sh = self.sh
        os.write(sh.master, b"'%s' --browse t; echo rc=$?\n" % kelpo.EXE.encode())
        sh.expect(b"Sort: size")
        os.write(sh.master, b"\x1a")
        sh.expect(rb"Stopped")
        self.assertIn(LEAVE, sh.before)
        sh.expect(rb"\$ ")
        self.assertEqual(sh.mode(), sh.cooked)
        os.write(sh.master, b"fg\n")
        sh.expect(b"Sort: size")  # drawn whole again at once
        os.write(sh.master, b"q")
        sh.expect(rb"\$ ")
        os.write(sh.master, b"echo rc=$?\n")
        self.assertEqual(sh.status(), 0)
        self.assertEqual(sh.mode(), sh.cooked)


class Console(kelpo.Case):
    """The Windows build under Wine: a session in its console that deletes a
    directory."""

    def setUp(self):
        super().setUp()
        if not kelpo.WINDOWS:
            self.skipTest("Windows build only")

    def test_open_delete_and_quit(self):
        kelpo.make_tree(os.path.join(self.dir, "top"),
                        {"gone": {"f": 10000, "g": 20000, "deep": {"h": 1}}, "stay": {"s": 5}})
        b = Browser(self, ["top"], cwd=self.dir)
        rows = b.drawn("Sort: size")
        self.assertIn("gone/", rows[1])
        b.key(b"\r", "deep/")
        b.key(b"\x1b[D", "stay/")
        rows = b.key(b"d", "Delete ")
        self.assertTrue(any("It holds 3 files" in r for r in rows), rows)
        b.key(b"y", "Deleted gone")
        self.assertFalse(os.path.exists(os.path.join(self.dir, "top", "gone")))
        self.assertTrue(os.path.exists(os.path.join(self.dir, "top", "stay", "s")))
        b.key(b"h", "All: 5 in 1 file")
        os.write(b.master, b"q")
        self.assertEqual(b.wait(), 0)

    def test_typed_ahead_is_thrown_away_and_the_start_held(self):
        top = kelpo.make_tree(os.path.join(self.dir, "top"),
                              {"gone": {"f": 10000}, "stay": {"s": 5}})
        b = Browser(self, ["top"], cwd=self.dir)
        b.drawn("Sort: size")
        b.send(b"dy")  # the y is in the console's input before the question is drawn
        b.drawn("Delete ")
        time.sleep(1)
        b.read(0.1)
        self.assertTrue(os.path.isdir(os.path.join(top, "gone")))
        self.assertTrue(any("Delete " in r for r in b.screen()))
        b.key(b"n", "Kept gone")
        # Renamed and replaced meanwhile, the start is still the one held.
        os.rename(top, top + ".old")
        kelpo.make_tree(top, {"other": {"o": 99999}})
        b.key(b"r", "Rescanned")
        rows = b.drawn("gone/")
        self.assertFalse(any("other/" in r for r in rows), rows)
        os.write(b.master, b"q")
        self.assertEqual(b.wait(), 0)


if __name__ == "__main__":
    kelpo.main()
