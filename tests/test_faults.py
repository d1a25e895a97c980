"""Hostile trees, bad input and faults: the program finishes, tells the truth
and leaves the terminal as it found it."""

import json
import os
import shutil
import signal
import subprocess
import time

import kelpo
from kelpo import NOBODY, ROOT, SEP, WINDOWS


def has(tool):
    return shutil.which(tool) is not None


class Names(kelpo.Case):
    def test_names_reach_redirected_output_unchanged(self):
        self.native_only()
        names = [b"with blank", b"ctl\x01\x02", b"new\nline", b"esc\x1b[31m", b"bad\xff\xfe"]
        for name in names:
            os.mkdir(os.path.join(os.fsencode(self.dir), name))
        res = kelpo.run(["/T"], cwd=self.dir)
        self.assertEqual(res.rc, 0, res.err)
        for name in names:
            self.assertIn(b"+\x97" + name + b"\r\n", res.out)

    def test_names_beginning_with_dots_are_ordinary_entries(self):
        self.native_only()  # Windows drops the trailing dots of "..."
        kelpo.make_tree(os.path.join(self.dir, "T"), {"..x": 7, "...": 11, "..d": {"f": 5}})
        res = kelpo.run(["/W40", "T"], cwd=self.dir)
        self.assertEqual(res.rc, 0, res.err)
        out = kelpo.lines(res.out)[1:]
        self.assertTrue(out[0].endswith(b">    2            18"), out)
        self.assertEqual(out[1], b"+\x97..d" + b"-" * 14 + b">    1             5")
        self.assertEqual(out[2:], [b"+\xbb Total bytes: 23"])


class Depth(kelpo.Case):
    def make_chain(self, levels, name, leaf_size):
        fd = os.open(self.dir, os.O_RDONLY)
        for _ in range(levels):
            os.mkdir(name, dir_fd=fd)
            nxt = os.open(name, os.O_RDONLY, dir_fd=fd)
            os.close(fd)
            fd = nxt
        leaf = os.open("leaf", os.O_WRONLY | os.O_CREAT, dir_fd=fd)
        os.ftruncate(leaf, leaf_size)
        os.close(leaf)
        os.close(fd)

    def test_paths_longer_than_path_max_are_counted(self):
        self.native_only()
        self.make_chain(420, "d" * 10, 12345)  # paths of about 4,600 bytes
        res = kelpo.run(["/N"], cwd=self.dir)
        self.assertEqual(res.rc, 0, res.err)
        out = kelpo.lines(res.out)
        self.assertEqual(out[-1], b"+\xbb Total bytes: 12,345")
        self.assertEqual(len([l for l in out if l.startswith(b"(")]), 420 - 60)
        # Such a path as the start directory, relative and absolute, opened
        # piece by piece as the walk opens it.
        deep = os.path.join(*["d" * 10] * 419)
        for start in (deep, os.path.join(self.dir, deep)):
            res = kelpo.run(["/N", start], cwd=self.dir)
            self.assertEqual((res.rc, res.err), (0, b""), len(start))
            self.assertEqual(kelpo.lines(res.out)[-1], b"+\xbb Total bytes: 12,345")

    def test_console_wider_than_the_level_segments(self):
        self.native_only()
        self.make_chain(90, "d", 7)
        res = kelpo.run_pty(["/N"], cwd=self.dir, cols=400, rows=50)
        self.assertEqual(res.rc, 0, res.err)
        # Level 81 and deeper have no glyph segments: they are over-deep lines.
        raw = res.raw.replace(b"\r\r\n", b"\r\n")
        self.assertIn(b"\x1b[91m(" + b"d/" * 80 + b"d)", raw)
        self.assertEqual(raw.count(b"\x1b[91m(d/"), 10)
        self.assertIn("\u2502   " * 79 + "\u251c\u2500d", raw.decode())
        self.assertIn(b"Total bytes: 7", res.raw)


class Loops(kelpo.Case):
    def test_symbolic_link_loops_are_files(self):
        self.native_only()
        kelpo.make_tree(os.path.join(self.dir, "T"), {"sub": {"f": 100}})
        os.symlink(".", os.path.join(self.dir, "T", "self"))
        os.symlink("..", os.path.join(self.dir, "T", "sub", "up"))
        res = kelpo.run(["T"], cwd=self.dir)
        self.assertEqual(res.rc, 0, res.err)
        out = kelpo.lines(res.out)
        self.assertEqual(len(out), 4)
        # Each link counts as a file of its own size (1 and 2 bytes).
        self.assertTrue(out[1].endswith(b">    1             1"), out[1])
        self.assertTrue(out[2].endswith(b">    2           102"), out[2])
        self.assertEqual(out[3], b"+\xbb Total bytes: 103")

    def test_directory_mounted_inside_itself(self):
        self.native_only()
        if not ROOT or not has("unshare"):
            self.skipTest("needs root and unshare for a private mount namespace")
        kelpo.make_tree(os.path.join(self.dir, "T"), {"a": 10, "sub": {"b": 20, "loop": {}}})
        cmd = ["unshare", "-m", "--propagation", "private", "sh", "-c",
               'mount --bind T T/sub/loop && exec "$0" "$@"'] + kelpo.command(["T"])
        proc = subprocess.run(cmd, cwd=self.dir, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=60)
        if proc.returncode != 0 and b"mount" in proc.stderr:
            self.skipTest("bind mounts are not allowed here: %r" % proc.stderr)
        # The loop is named after the report, as a directory not read.
        self.assertEqual(proc.returncode, 1, proc.stderr)
        out = kelpo.lines(proc.stdout)
        loop = [l for l in out if b"\x97loop" in l]
        self.assertEqual(len(loop), 1)
        self.assertTrue(loop[0].endswith(b">    0             0"), loop[0])
        self.assertEqual(out[-1], b"+\xbb Total bytes: 30")


class Unreadable(kelpo.Case):
    def test_unreadable_directories_are_empty_and_named_after_the_report(self):
        self.native_only()
        if not ROOT or not has("setpriv"):
            self.skipTest("needs root to run as another user")
        os.chmod(self.dir, 0o755)
        locked = ["locked%02d" % i for i in range(23)]
        kelpo.make_tree(os.path.join(self.dir, "T"), {"open": {"y": 7}, **{n: {"x": 5} for n in locked}})
        for name in locked:
            os.chmod(os.path.join(self.dir, "T", name), 0)
        order = [n for n in kelpo.search_order(os.path.join(self.dir, "T")) if n in locked]
        want = b"kelpo32: 23 directories could not be read:\n" + b"".join(
            b"  T/%s: permission denied\n" % n.encode() for n in order[:20]) + b"  ... and 3 more\n"
        for threads in ("1", "2", "8"):
            res = kelpo.run(["T"], cwd=self.dir, user=NOBODY, env=kelpo.threads(threads))
            out = kelpo.lines(res.out)
            # The report is whole, and the run says that data is missing.
            self.assertEqual((res.rc, res.err, out[-1]), (1, want, b"+\xbb Total bytes: 7"), threads)
            self.assertEqual(sum(b"locked" in l and l.endswith(b">    0             0") for l in out), 23)
        # One is named without "... and"; its control characters as "?".
        for name in locked[1:]:
            os.chmod(os.path.join(self.dir, "T", name), 0o755)
        os.rename(os.path.join(self.dir, "T", "locked00"), os.path.join(self.dir, "T", "a\x1b[2J\nb"))
        res = kelpo.run(["T"], cwd=self.dir, user=NOBODY)
        self.assertEqual(res.err, b"kelpo32: 1 directory could not be read:\n"
                         b"  T/a?[2J?b: permission denied\n")

    def test_readable_directory_without_search_permission_lists_every_entry(self):
        self.native_only()
        if not ROOT or not has("setpriv"):
            self.skipTest("needs root to run as another user")
        os.chmod(self.dir, 0o755)
        # Files before, between and after the subdirectories in the listing.
        kelpo.make_tree(os.path.join(self.dir, "T"), {"ok": 3, "r": {
            "a": 5, "s1": {"x": 1}, "b": 6, "s2": {}, "c": 7}})
        r = os.path.join(self.dir, "T", "r")
        os.chmod(r, 0o444)
        files = sorted(n for n in os.listdir(r) if not n.startswith("s"))
        dirs = sorted(n for n in os.listdir(r) if n.startswith("s"))
        named = sorted(b"  T/r/%s: cannot examine: permission denied\n" % n.encode() for n in files)
        named += sorted(b"  T/r/%s: permission denied\n" % n.encode() for n in dirs)
        for threads in ("1", "8"):
            for fmt in ("windows", "json", "tsv", "ncdu"):
                res = kelpo.run(["--format=" + fmt, "T"], cwd=self.dir, user=NOBODY,
                                env=kelpo.threads(threads))
                why = (fmt, threads, res.err)
                self.assertEqual(res.rc, 1, why)
                err = res.err.split(b"\n", 1)
                self.assertEqual(err[0], b"kelpo32: 2 directories could not be read, "
                                 b"3 entries could not be examined:", why)
                self.assertEqual(sorted(err[1].splitlines(True)), sorted(named), why)
                if fmt == "windows":
                    out = kelpo.lines(res.out)
                    self.assertTrue(out[2].startswith(b"+\x97r ") and out[2].endswith(
                        b">    3             0"), why)
                    self.assertEqual(sum(b"\x97s" in l for l in out), 2, why)
                elif fmt == "json":
                    got = {o["path"]: (o["files"], o["dirs"]) for o in kelpo.json_lines(res.out)}
                    self.assertEqual(got, {"T/r/s1": (0, 0), "T/r/s2": (0, 0), "T/r": (3, 2),
                                           "T": (1, 1)}, why)
                elif fmt == "tsv":
                    rows = sorted(l.split(b"\t")[3:] for l in res.out.splitlines())
                    self.assertEqual(rows, sorted([[b"1", b"T", b""], [b"3", b"T/r", b""],
                                            [b"0", b"T/r/s1", b"permission denied"],
                                            [b"0", b"T/r/s2", b"permission denied"]]), why)
                else:
                    top = json.loads(res.out)[3]
                    sub = [d for d in top[1:] if isinstance(d, list)][0]
                    items = {(i[0] if isinstance(i, list) else i)["name"] for i in sub[1:]}
                    self.assertEqual(items, set(files + dirs), why)

    def test_directory_the_windows_build_cannot_open_is_named_after_the_report(self):
        if not WINDOWS:
            self.skipTest("Windows build only")
        # A backslash in a name: Wine shows the directory but cannot open it.
        kelpo.make_tree(os.path.join(self.dir, "T"), {"a\\b": {"x": 5}, "ok": {"y": 7}})
        res = kelpo.run(["T"], cwd=self.dir)
        self.assertEqual((res.rc, kelpo.lines(res.out)[-1]), (0, b"+\xbb Total bytes: 7"), res.err)
        self.assertRegex(res.err, rb"^kelpo32: 1 directory could not be read:\n"
                         rb"  T\\a\\b: [^\n]+\n$")

    def test_directory_removed_or_swapped_for_a_link_while_the_report_waits(self):
        self.native_only()
        elsewhere = kelpo.make_tree(os.path.join(self.dir, "elsewhere"), {"big": 10 ** 9})
        for swap in ("removed", "link"):
            top = kelpo.make_tree(os.path.join(self.dir, swap),
                                  {"d%02d" % i: {"f": 1000 + i} for i in range(30)})

            def change():
                shutil.rmtree(os.path.join(top, "d27"))
                if swap == "link":
                    os.symlink(elsewhere, os.path.join(top, "d27"))
                return b" "
            # One thread: the read-ahead would have read d27 before the pause.
            res = kelpo.run_pty([], cwd=top, cols=80, rows=25,
                                keys=[(b"Press any key", change)], env=kelpo.threads(1))
            self.assertEqual(res.rc, 1, res.err)
            rows = "\n".join(kelpo.screen(res.raw, 80, 25))
            self.assertRegex(rows, r"d27-+►    0             0", swap)
            total = sum(1000 + i for i in range(30) if i != 27)
            self.assertIn("Total bytes: %s" % format(total, ","), rows, swap)


class Sizes(kelpo.Case):
    def test_largest_file_size_and_an_overflowing_sum(self):
        kelpo.make_tree(os.path.join(self.dir, "T"), {"M": {}, "tera": {"t": 10 ** 12}})
        try:
            with open(os.path.join(self.dir, "T", "M", "max"), "wb") as f:
                f.truncate(2 ** 63 - 1)
        except (OSError, OverflowError):
            self.skipTest("this file system does not allow a file of 2^63-1 bytes")
        res = kelpo.run(["/T", os.path.join("T", "tera")], cwd=self.dir)
        self.assertEqual(res.rc, 0, res.err)
        # The largest size alone fits its column.
        res = kelpo.run(["/W80", "T" + SEP + "M"], cwd=self.dir)
        self.assertEqual(res.rc, 0, res.err)
        self.assertEqual(kelpo.lines(res.out)[1],
                         b"T%sM --" % SEP.encode() + b"-" * 53 + b">    1 9,223,372,036,854,775,807")
        res = kelpo.run(["T"], cwd=self.dir)
        self.assertEqual(res.rc, 1)
        self.assertRegex(res.err, kelpo.uncaught(b"kelpo32: integer overflow", b"EIntOverflow",
                                                 b"Integer overflow"))
        # What was written before the error is not lost.
        self.assertIn(b"tera", res.out)


class Output(kelpo.Case):
    def test_full_disk_leaves_the_terminal_mode_alone(self):
        self.native_only()
        import pty
        import termios
        master, slave = pty.openpty()
        before = termios.tcgetattr(slave)
        with open("/dev/full", "wb") as full:
            res = kelpo.run([], cwd=self.dir, stdin=slave, stdout=full, timeout=30)
        after = termios.tcgetattr(slave)
        os.close(master)
        os.close(slave)
        self.assertEqual((res.rc, before), (1, after))
        self.assertEqual(res.err, b"kelpo32: write error: No space left on device\n")

    def test_closed_standard_output_keeps_the_log_clean(self):
        self.native_only()
        res = subprocess.run(kelpo.command(["/L"]), cwd=self.dir, stdin=subprocess.DEVNULL,
                             stderr=subprocess.PIPE, stdout=None, close_fds=True,
                             preexec_fn=lambda: os.close(1))
        self.assertEqual(res.returncode, 1)
        self.assertEqual(res.stderr, b"kelpo32: standard output: Bad file descriptor\n")
        with open(os.path.join(self.dir, "logfile.txt"), "rb") as f:
            self.assertNotIn(b"ROOT", f.read())

    def test_reader_goes_away(self):
        self.native_only()
        kelpo.make_tree(self.dir, {"d%04d" % i: {} for i in range(3000)})
        proc = subprocess.Popen(kelpo.command(["/N"]), cwd=self.dir, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
        proc.stdout.read(100)
        proc.stdout.close()
        err = proc.stderr.read()
        proc.stderr.close()
        # As every filter: quietly, by SIGPIPE.
        self.assertEqual(proc.wait(timeout=30), -signal.SIGPIPE)
        self.assertEqual(err, b"")

    def test_log_cannot_be_created(self):
        self.native_only()
        if not ROOT or not has("setpriv"):
            self.skipTest("needs root to run as another user")
        os.chmod(self.dir, 0o755)
        kelpo.make_tree(os.path.join(self.dir, "T"), {"x": 1})
        res = kelpo.run(["/L", "T"], cwd=self.dir, user=NOBODY)
        self.assertEqual(res.rc, 1)
        self.assertEqual(res.out, b"Kelpo32\r\n")  # nothing scanned
        self.assertEqual(res.err, b"kelpo32: cannot create 'logfile.txt': Permission denied\n")

    def test_log_disk_full(self):
        self.native_only()
        if not ROOT or not has("unshare"):
            self.skipTest("needs root for a small private file system")
        kelpo.make_tree(os.path.join(self.dir, "T"), {"file%05d" % i: 1 for i in range(3000)})
        tiny = os.path.join(self.dir, "tiny")
        os.mkdir(tiny)
        cmd = ["unshare", "-m", "--propagation", "private", "sh", "-c",
               'mount -t tmpfs -o size=16k tmpfs tiny && cd tiny && exec "$0" "$@"'] + \
            kelpo.command(["/L", os.path.join(self.dir, "T")])
        proc = subprocess.run(cmd, cwd=self.dir, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              stdin=subprocess.DEVNULL, timeout=60)
        if b"mount" in proc.stderr:
            self.skipTest("mounts are not allowed here: %r" % proc.stderr)
        self.assertEqual(proc.returncode, 1, proc.stderr)
        self.assertRegex(proc.stderr, rb"^kelpo32: cannot (write|close) 'logfile.txt': "
                                      rb"No space left on device\n$")


class OutputFile(kelpo.Case):
    """--output=FILE: only a run that completed replaces FILE; every other end
    leaves its last version and no temporary file behind."""

    OLD = b"last good version\n"

    def prepare(self, dirs=3000):
        self.native_only()
        kelpo.make_tree(os.path.join(self.dir, "T"), {"d%04d" % i: {"f": 1} for i in range(dirs)})
        self.out = os.path.join(self.dir, "out", "scan.json")
        os.mkdir(os.path.dirname(self.out))
        with open(self.out, "wb") as f:
            f.write(self.OLD)
        os.chmod(self.out, 0o640)

    def left(self):
        return sorted(os.listdir(os.path.dirname(self.out)))

    def old_kept(self):
        with open(self.out, "rb") as f:
            self.assertEqual(f.read(), self.OLD)
        self.assertEqual(self.left(), ["scan.json"])

    def start(self, args, **kw):
        return subprocess.Popen(kelpo.command(["--format=json", "--output=" + self.out] + args,
                                              form=None),
                                cwd=self.dir, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, env=kelpo.threads(1), **kw)

    def wait_for_temporary(self, proc):
        """Until the run holds its new file open beside FILE (unnamed there
        where the system makes one so)."""
        fds = "/proc/%d/fd" % proc.pid
        beside = os.path.dirname(self.out) + "/"

        def made():
            try:
                return any(os.readlink(os.path.join(fds, fd)).startswith(beside)
                           for fd in os.listdir(fds))
            except OSError:
                return False
        deadline = time.monotonic() + 30
        while not made():
            self.assertIsNone(proc.poll(), "the run ended before its file was made")
            self.assertLess(time.monotonic(), deadline)
            time.sleep(0.001)

    def test_ends_of_a_run(self):
        import resource

        def small_files():
            resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))

        # (what ends the run, its exit code, whether FILE is replaced)
        rows = [
            ("completed", 0, True),
            ("SIGINT midway", 130, False),
            ("SIGTERM midway", -signal.SIGTERM, False),
            ("write fails (file size limit)", 1, False),
            ("start directory missing", 1, False),
        ]
        for how, code, replaced in rows:
            with self.subTest(how):
                self.prepare(dirs=3000)
                args = ["T"]
                kw = {}
                if how == "write fails (file size limit)":
                    kw["preexec_fn"] = small_files
                if how == "start directory missing":
                    args = ["missing"]
                proc = self.start(args, **kw)
                if "midway" in how:
                    self.wait_for_temporary(proc)
                    proc.send_signal(signal.SIGINT if "SIGINT" in how else signal.SIGTERM)
                out, err = proc.communicate(timeout=60)
                self.assertEqual(proc.returncode, code, err)
                self.assertEqual(out, b"")
                if replaced:
                    self.assertEqual(self.left(), ["scan.json"])
                    rows = kelpo.json_lines(open(self.out, "rb").read())
                    self.assertEqual(rows[-1]["total_dirs"], 3000)
                    # The permissions of the file it replaced.
                    self.assertEqual(os.stat(self.out).st_mode & 0o777, 0o640)
                else:
                    self.old_kept()
                if how.startswith("write fails"):
                    self.assertEqual(err, b"kelpo32: write error: File too large\n")
                shutil.rmtree(self.dir)
                os.mkdir(self.dir)

    def test_links_and_concurrent_runs(self):
        self.prepare(dirs=200)
        # A planted FILE.tmp link is never written through; a FILE that is a
        # link stays one, and the file it names is replaced, as a shell's ">"
        # writes it, keeping its permissions.
        victim = os.path.join(self.dir, "victim")
        with open(victim, "wb") as f:
            f.write(b"victim")
        os.symlink(victim, self.out + ".tmp")
        target = os.path.join(self.dir, "target.json")
        os.rename(self.out, target)
        os.symlink(target, self.out)
        runs = [self.start(["T"]) for _ in range(3)]
        for proc in runs:
            self.assertEqual(proc.communicate(timeout=60)[0:1], (b"",))
            self.assertEqual(proc.returncode, 0)
        with open(victim, "rb") as f:
            self.assertEqual(f.read(), b"victim")
        self.assertEqual(os.readlink(self.out), target)
        self.assertEqual(self.left(), ["scan.json", "scan.json.tmp"])
        self.assertEqual(kelpo.json_lines(open(target, "rb").read())[-1]["total_dirs"], 200)
        self.assertEqual(os.stat(target).st_mode & 0o777, 0o640)
        self.assertEqual(sorted(os.listdir(self.dir)), ["T", "out", "target.json", "victim"])

    def test_file_that_cannot_be_made(self):
        self.prepare(dirs=1)
        cases = [(self.out + "/", b"kelpo32: cannot write '%s': Is a directory\n"),
                 (os.path.dirname(self.out), b"kelpo32: cannot write '%s': Is a directory\n"),
                 (os.path.join(self.dir, "nowhere", "x"),
                  b"kelpo32: cannot write '%s': No such file or directory\n"),
                 # A name never drives the terminal that shows the message.
                 (os.path.join(self.dir, "nowhere", "a\x1b]0;PWNED\x07"),
                  b"kelpo32: cannot write '%s': No such file or directory\n")]
        for target, message in cases:
            with self.subTest(target):
                res = kelpo.run(["--output=" + target, "T"], cwd=self.dir, form="json")
                self.assertEqual((res.rc, res.out), (1, b""))
                shown = target.replace("\x1b", "?").replace("\x07", "?")
                self.assertEqual(res.err, message % shown.encode())
        self.old_kept()


class BadSwitches(kelpo.Case):
    def test_malformed_values_have_defined_results(self):
        kelpo.make_tree(os.path.join(self.dir, "T"), {"a": {}})
        long_value = "9" * 10000
        cases = {
            # /W: on Windows every invalid form is the width message and exit code 0.
            "/W": 0, "/W0": 0, "/W-0": 0, "/Wx": 0, "/W$": 0, "/W0x": 0, "/W1.5": 0,
            "/W--5": 0, "/W80 ": 0, "/W2147483648": 0, "/W" + long_value: 0,
            # Valid but odd widths still give a report.
            "/W1": 0, "/W-5": 0, "/W$FFFFFFFF": 0, "/W2147483647": 0,
            # /V: an invalid or huge depth means no limit.
            "/V" + long_value: 0, "/V-2147483648": 0, "/V2147483647": 0, "/Vq": 0,
            "/" + "T" * 10000: 0,
        }
        # On POSIX an invalid width is a usage error (2), and a "/" argument
        # that is not one of the help's forms is a directory that does not exist.
        posix_bad_width = {"/W", "/W0", "/W-0", "/W2147483648", "/W" + long_value}
        posix_paths = {"/Wx", "/W$", "/W0x", "/W1.5", "/W--5", "/W80 ", "/Vq", "/" + "T" * 10000}
        for arg, rc in cases.items():
            res = kelpo.run([arg, "T"], cwd=self.dir, stdout=subprocess.PIPE if
                            "2147483647" not in arg or "/W" not in arg else subprocess.DEVNULL)
            err = b""
            if not WINDOWS and arg in posix_bad_width:
                rc, err = 2, b"kelpo32: Invalid /W numeric parameter.\n"
            elif not WINDOWS and arg in posix_paths:
                rc, err = 1, res.err
                self.assertIn(b"kelpo32: cannot enter '/", res.err, arg[:20])
            self.assertEqual((res.rc, res.err), (rc, err), arg[:20])

    def test_most_negative_width_is_a_checked_overflow(self):
        kelpo.make_tree(os.path.join(self.dir, "T"), {})
        res = kelpo.run(["/W-2147483648", "T"], cwd=self.dir)
        self.assertEqual(res.rc, 1)
        self.assertRegex(res.err, kelpo.uncaught(b"kelpo32: integer overflow", b"EIntOverflow",
                                                 b"Integer overflow"))

    def test_empty_and_long_arguments(self):
        kelpo.make_tree(os.path.join(self.dir, "T"), {})
        res = kelpo.run(["", "/T", "", "T"], cwd=self.dir)
        self.assertEqual((res.rc, kelpo.lines(res.out)), (0, [b"Kelpo32", b"T"]))
        res = kelpo.run(["x" * 10000], cwd=self.dir)
        self.assertEqual(res.rc, 1)
        if WINDOWS:
            self.assertEqual(res.out, b"Kelpo32\r\nNo such directory -- please try again.\r\n")
        else:
            self.assertEqual(res.out, b"")
            self.assertTrue(res.err.endswith(b"x': file name too long\n"), res.err[-40:])


if __name__ == "__main__":
    kelpo.main()
