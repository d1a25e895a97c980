"""Switches, help, messages and the start directory, on redirected output."""

import os
import select
import subprocess
import time

import kelpo
from kelpo import SEP, WINDOWS

HELP = (b"\r\nKELPO V1.6 2015/09/06  Command Line Parameters:\r\n"
        b"/T    -  Only display Tree.\r\n"
        b"/132  -  Put screen in 132 column mode.\r\n"
        b"/Wnnn -  Set output width to nnn columns. (Only when output is redirected)\r\n"
        b"/H    -  This Help.\r\n"
        b"/N    -  no wait per page\r\n"
        b"/L    -  generate log file\r\n"
        b"/Vnn  -  deepest level to list\r\n")

# The start directory "data" as the report shows it: upper-cased on Windows.
SHOWN = b"DATA" if WINDOWS else b"data"

TREE = {"a.txt": 10, "ONE": {"b.txt": 20, "TWO": {"c.txt": 30, "THREE": {"d.txt": 40}}}}


class Switches(kelpo.Case):
    def setUp(self):
        super().setUp()
        kelpo.make_tree(os.path.join(self.dir, "data"), TREE)

    def run_ok(self, *args):
        res = kelpo.run(list(args), cwd=self.dir)
        self.assertEqual(res.rc, 0, res.err)
        self.assertEqual(res.err, b"")
        return kelpo.lines(res.out)

    def test_help(self):
        # On POSIX "/Help" is a path: a "/" switch has nothing after its letter there.
        # On POSIX "-h" is du's --human-readable; "-H" is the help.
        for switch in ("/H", "/?", "-h" if WINDOWS else "-H", "/Help" if WINDOWS else "-Help"):
            res = kelpo.run([switch, "no-such-dir"], cwd=self.dir)
            self.assertEqual((res.rc, res.out), (0, b"Kelpo32\r\n" + HELP), switch)

    def test_invalid_width(self):
        """Windows: a message on standard output and exit code 0; POSIX: a usage
        error on standard error, exit code 2, and nothing on standard output."""
        for args in (["/W0"], ["-Wide"], ["/W"], ["/W0", "/H"], ["/W2147483648"], ["-W80 "]):
            res = kelpo.run(args, cwd=self.dir)
            if WINDOWS:
                self.assertEqual((res.rc, res.out),
                                 (0, b"Kelpo32\r\nInvalid /W numeric parameter.\r\n"), args)
            else:
                self.assertEqual((res.rc, res.out, res.err),
                                 (2, b"", b"kelpo32: Invalid /W numeric parameter.\n"), args)

    def test_mistaken_long_options(self):
        """Windows: the program's own words on standard output, exit code 1;
        POSIX: what is wrong on standard error, exit code 2. Unknown switch
        letters are passed over on Windows only."""
        try_help = b"Try 'kelpo32 --help' for more information.\n"
        cases = [
            (["--frobnicate", "data"], b"Unknown option --frobnicate.",
             b"kelpo32: unknown option '--frobnicate'\n"),
            (["data", "--format"], b"Option --format needs a value.",
             b"kelpo32: option '--format' requires an argument\n"),
            (["--no-progress=1"], b"Option --no-progress takes no value.",
             b"kelpo32: option '--no-progress' doesn't allow an argument\n"),
        ]
        for args, windows, posix in cases:
            res = kelpo.run(args, cwd=self.dir)
            if WINDOWS:
                self.assertEqual((res.rc, res.out, res.err), (1, windows + b"\r\n", b""), args)
            else:
                self.assertEqual((res.rc, res.out, res.err), (2, b"", posix + try_help), args)
        res = kelpo.run(["-q", "/T", "data"], cwd=self.dir)
        if WINDOWS:
            self.assertEqual((res.rc, kelpo.lines(res.out)[1:]), (0, self.run_ok("/T", "data")[1:]))
        else:
            self.assertEqual((res.rc, res.out, res.err),
                             (2, b"", b"kelpo32: unknown switch '-q'\n" + try_help))

    def test_widths(self):
        for width in (100, 300, 31):
            out = self.run_ok("/W%d" % width, "data")
            self.assertEqual(len(out[1]), width - 1, width)
        out = self.run_ok("/W$50", "data")
        self.assertEqual(len(out[1]), 79)

    def test_negative_width_leaves_no_room(self):
        out = self.run_ok("/W-5", "data")
        self.assertEqual(out[1], SHOWN + b" -->    1            10")
    def test_depth_one_hides_deeper_levels_but_counts_them(self):
        out = self.run_ok("/V1", "/W60", "data")
        self.assertEqual(out[1:], [
            SHOWN + b" --" + b"-" * 32 + b">    1            10",
            b"+\x97ONE " + b"-" * 33 + b">    1            20",
            b"|...",
            b"|  \x00+\xbb Total in \"ONE\": 90",
            b"+\xbb Total bytes: 100",
        ])

    def test_depth_zero_negative_and_largest_mean_no_limit(self):
        full = self.run_ok("data")
        for switch in ("/V0", "/V-3", "/V2147483647", "-Vx"):
            self.assertEqual(self.run_ok(switch, "data"), full, switch)
        self.assertEqual(len(full), 8)

    def test_tree_only(self):
        self.assertEqual(self.run_ok("/T", "data")[1:],
                         [SHOWN, b"+\x97ONE", b"   \x00+\x97TWO", b"   \x00   \x00+\x97THREE"])

    def test_second_positional_parameter_is_ignored(self):
        res = kelpo.run(["/N", "data", "no-such-dir"], cwd=self.dir)
        self.assertEqual((res.rc, kelpo.lines(res.out)), (0, self.run_ok("data")))
        self.assertEqual(res.err, b"" if WINDOWS else
                         b"kelpo32: only one directory is reported; 'no-such-dir' is ignored\n")

    def test_start_directory_case(self):
        out = self.run_ok("/T", "data")
        # Windows paths ignore case and the start directory is shown upper-cased.
        self.assertEqual(out[1], b"DATA" if WINDOWS else b"data")

    def test_trailing_separator(self):
        out = self.run_ok("/T", "data" + SEP)
        self.assertEqual(out[1], b"DATA" if WINDOWS else b"data")
        out = self.run_ok("/T", "data" + SEP + "ONE" + SEP)
        self.assertEqual(out[1], ("data" + SEP + "ONE" + SEP).upper().encode() if WINDOWS
                         else b"data/ONE/")

    def test_absolute_start_directory(self):
        start = os.path.join(self.dir, "data")
        if WINDOWS:
            start = "Z:" + start.replace("/", "\\")
        out = self.run_ok("/T", start)
        self.assertEqual(out[1], start.upper().encode() if WINDOWS else start.encode())

    def test_missing_start_directory(self):
        for args in (["no-such-dir"], ["/L", "no-such-dir"], ["data" + SEP + "a.txt"]):
            res = kelpo.run(args, cwd=self.dir)
            if WINDOWS:
                self.assertEqual((res.rc, res.out), (1, b"Kelpo32\r\nNo such directory -- "
                                                        b"please try again.\r\n"), args)
            else:
                self.assertEqual((res.rc, res.out), (1, b""), args)
                self.assertRegex(res.err, rb"^kelpo32: cannot enter '%s': (no such file or "
                                          rb"directory|not a directory)\n$" % args[-1].encode())
            self.assertFalse(os.path.exists(os.path.join(self.dir, "logfile.txt")))

    def test_log_and_allocation_summary(self):
        out = self.run_ok("/L", "data")
        self.assertEqual(out[-1], b"Alloc:0   max: 3")
        self.assertEqual(out[-2], b"+\xbb Total bytes: 100 {alloc:0}")
        self.assertEqual(out[-3], b"|  \x00+\xbb Total in \"ONE\": 90 {alloc:1}")
        with open(os.path.join(self.dir, "logfile.txt"), "rb") as f:
            log = f.read()
        self.assertTrue(log.startswith(b"Kelpo32 Log:\r\nCRTpipe, HConsoleOutput: "))
        start = b"DATA" if WINDOWS else b"data"
        s = SEP.encode()
        self.assertTrue(log.endswith(b"Level: 3  {%s%sONE%sTWO%s} {THREE}\r\n      d.txt\r\n"
                                     % (start, s, s, s)), log[-80:])

    def test_log_replaces_an_old_one(self):
        with open(os.path.join(self.dir, "logfile.txt"), "wb") as f:
            f.write(b"x" * 100000)
        self.run_ok("/L", "data")
        self.assertLess(os.path.getsize(os.path.join(self.dir, "logfile.txt")), 1000)


class DuForms(kelpo.Case):
    """du's habits: each form writes what the form it stands for writes. The
    Windows build keeps the single letters of the Windows program."""

    # Neither listing order (as made, or by name under Wine) puts the largest first.
    TREE = {"a.txt": 10, "small": {"s": 1, "deep": {"er": {"e": 5}}}, "zbig": {"b": 300},
            "mid": {"m": 50}}

    def setUp(self):
        super().setUp()
        kelpo.make_tree(os.path.join(self.dir, "data"), self.TREE)

    def run_ok(self, args):
        res = kelpo.run(args, cwd=self.dir)
        self.assertEqual((res.rc, res.err), (0, b""), args)
        return res.out

    def test_forms_and_what_they_stand_for(self):
        largest = [b"%14s  %s" % (size, SEP.join([SHOWN.decode()] + path).encode())
                   for size, path in ((b"300", ["zbig", "b"]), (b"50", ["mid", "m"]))]
        cases = [
            # arguments, the arguments of the same output (or its lines), POSIX only
            (["-d", "2", "data"], ["/V2", "data"], True),
            (["-s", "data"], ["--max-depth=0", "data"], True),
            (["-h", "-d1", "data"], ["--human-readable", "--max-depth=1", "data"], True),
            (["-sh", "data"], ["--human-readable", "--max-depth=0", "data"], True),
            (["-b", "data"], ["--apparent-size", "data"], True),
            # A later one wins, in the command line's order, as du's do.
            (["-h", "-b", "data"], ["--totals", "data"], True),
            (["-b", "--disk-usage", "-h", "data"], ["--disk-usage", "--human-readable", "data"],
             True),
            (["--max-depth=2", "data"], ["/V2", "data"], False),
            (["--max-depth", "1", "/V3", "data"], ["/V1", "data"], False),
            (["-x", "data"], ["--one-file-system", "data"], True),
            (["--top=1", "data"], ["--top=1", "--sort=size", "data"], False),
            (["--min-size=40", "data"], ["--sort=size", "--min-size=40", "data"], False),
            (["--top=1", "--sort=none", "data"], ["--sort=none", "--top=1", "data"], False),
            # The largest files alone are the whole report; with /V, after it.
            (["--largest-files=2", "data"], [b"Kelpo32"] + largest, False),
            (["/V9", "--largest-files=2", "data"],
             self.run_ok(["/V9", "data"]) + b"\r\nLargest files:\r\n" +
             b"".join(l + b"\r\n" for l in largest), False),
        ]
        for args, same, posix_only in cases:
            if posix_only and WINDOWS:
                continue
            out = self.run_ok(args)
            if isinstance(same, bytes):
                self.assertEqual(out, same, args)
            elif isinstance(same[0], bytes):
                self.assertEqual(kelpo.lines(out), same, args)
            else:
                self.assertEqual(out, self.run_ok(same), args)
        # Size order, not the listing's: the largest child is the one listed.
        self.assertIn(b"zbig", kelpo.lines(self.run_ok(["--top=1", "data"]))[2])

    def test_unreadable_directory_ends_a_complete_report_with_exit_code_1(self):
        self.native_only()  # Wine reads every directory it can list
        os.chmod(self.dir, 0o755)
        os.chmod(os.path.join(self.dir, "data", "small"), 0)
        res = kelpo.run(["data"], cwd=self.dir, user=kelpo.NOBODY if kelpo.ROOT else None)
        self.assertEqual((res.rc, res.err), (1, b"kelpo32: 1 directory could not be read:\n"
                                                 b"  data/small: permission denied\n"))
        out = kelpo.lines(res.out)
        self.assertEqual([l[-20:] for l in out if b"small" in l], [b">    0             0"])
        self.assertEqual(out[-1], b"+\xbb Total bytes: 360")


class RootStart(kelpo.Case):
    def test_lone_separator_lists_the_root(self):
        """The first lines of a report of "/" name the root, not the current directory."""
        self.native_only()
        proc = subprocess.Popen(kelpo.command(["/T", "/"]), cwd=self.dir,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                stdin=subprocess.DEVNULL)
        try:
            data = b""
            deadline = time.monotonic() + 30
            while data.count(b"\r\n") < 3 and time.monotonic() < deadline:
                if select.select([proc.stdout], [], [], 0.2)[0]:
                    chunk = os.read(proc.stdout.fileno(), 65536)
                    if not chunk:
                        break
                    data += chunk
        finally:
            proc.kill()
            proc.wait()
        self.assertTrue(data.startswith(b"Kelpo32\r\n/\r\n+\x97"), data[:100])


if __name__ == "__main__":
    kelpo.main()
