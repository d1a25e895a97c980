"""The native build as a POSIX citizen: job control and signals in a real
shell, pipes, the long options, colour and character set, the log file."""

import fcntl
import os
import pty
import re
import resource
import select
import shutil
import signal
import subprocess
import termios
import time

import kelpo
from kelpo import NOBODY, PROMPT


def controlling_tty():
    os.setsid()
    fcntl.ioctl(0, termios.TIOCSCTTY, 0)


class Shell:
    """An interactive shell with job control on a pseudo-terminal of its own;
    bash without line editing, so the terminal stays in its cooked mode."""

    def __init__(self, test, shell):
        self.master, self.slave = pty.openpty()
        kelpo.set_winsize(self.slave, 80, 25)
        env = dict(os.environ, PS1="$ ", TERM="xterm", LANG="C.UTF-8")
        args = [shell, "--noediting", "--norc", "-i"] if shell == "bash" else [shell, "-i"]
        self.proc = subprocess.Popen(args, cwd=test.dir, env=env, stdin=self.slave,
                                     stdout=self.slave, stderr=self.slave,
                                     preexec_fn=controlling_tty)
        test.addCleanup(self.close)
        self.out = b""
        self.expect(rb"\$ ")
        self.cooked = self.mode()

    def expect(self, pattern, timeout=20):
        deadline = time.monotonic() + timeout
        while not re.search(pattern, self.out):
            if time.monotonic() > deadline:
                raise AssertionError("no %r in %r" % (pattern, self.out[-300:]))
            if select.select([self.master], [], [], 0.1)[0]:
                self.out += os.read(self.master, 65536)
        m = re.search(pattern, self.out)
        self.before = self.out[:m.start()]  # what arrived before the match
        self.out = self.out[m.end():]
        return m

    def status(self):
        return int(self.expect(rb"rc=(\d+)").group(1))

    def mode(self):
        return termios.tcgetattr(self.slave)

    def at_prompt(self, exe):
        """Starts the program in the foreground; returns its process group at the page prompt."""
        os.write(self.master, b"'%s'; echo rc=$?\n" % exe.encode())
        self.expect(re.escape(PROMPT))
        assert self.mode() != self.cooked
        return os.tcgetpgrp(self.master)

    def close(self):
        self.proc.kill()
        self.proc.wait()
        os.close(self.master)
        os.close(self.slave)


class Posix(kelpo.Case):
    def setUp(self):
        super().setUp()
        self.native_only()


class JobControl(Posix):
    def setUp(self):
        super().setUp()
        kelpo.make_tree(self.dir, {"dir%03d" % i: {} for i in range(60)})
        self.shells = [Shell(self, name) for name in ("bash", "dash") if shutil.which(name)]

    def test_background_redirected_run_completes(self):
        for sh in self.shells:
            os.write(sh.master, b"'%s' > out.txt & wait $!; echo rc=$?\n" % kelpo.EXE.encode())
            self.assertEqual(sh.status(), 0)
            with open(os.path.join(self.dir, "out.txt"), "rb") as f:
                self.assertIn(b"Total bytes: 0", f.read())

    def test_background_job_draws_no_status_line_until_fg(self):
        """A report into a FIFO that the test drains slowly: in the background
        the status line never shows; after fg it does; Ctrl+C is then SIGINT
        (the keyboard is not taken for a FIFO) and the cut report ends with 130."""
        kelpo.make_tree(self.dir, {"many": {"d%05d" % i: {} for i in range(12000)}})
        fifo = os.path.join(self.dir, "fifo")
        os.mkfifo(fifo)
        sh = self.shells[0]
        os.write(sh.master, b"'%s' /W40 many > fifo &\n" % kelpo.EXE.encode())
        reader = os.open(fifo, os.O_RDONLY)
        self.addCleanup(os.close, reader)
        fcntl.fcntl(reader, 1031, 4096)  # F_SETPIPE_SZ: the writer waits on a small pipe

        def drain(seconds, until=None):
            end = time.monotonic() + seconds
            while time.monotonic() < end and not (until and re.search(until, sh.out)):
                os.read(reader, 4096)
                time.sleep(0.04)
                while select.select([sh.master], [], [], 0)[0]:
                    sh.out += os.read(sh.master, 65536)
        drain(2.0)
        self.assertNotIn(b" dirs, ", sh.out)
        os.write(sh.master, b"fg\n")
        drain(8.0, until=rb"\d dirs, ")
        self.assertRegex(sh.out, rb"\r[\d,]+ dirs, [\d,]+ files")
        os.write(sh.master, b"\x03")
        while select.select([reader], [], [], 5)[0] and os.read(reader, 65536):
            pass
        os.write(sh.master, b"echo rc=$?\n")
        self.assertEqual(sh.status(), 130)

    def test_stop_and_continue_at_the_page_prompt(self):
        for sh in self.shells:
            os.killpg(sh.at_prompt(kelpo.EXE), signal.SIGTSTP)
            sh.expect(rb"\$ ")
            self.assertEqual(sh.mode(), sh.cooked)
            os.write(sh.master, b"fg\n")
            deadline = time.monotonic() + 5
            while sh.mode() == sh.cooked and time.monotonic() < deadline:
                time.sleep(0.02)
            self.assertNotEqual(sh.mode(), sh.cooked)  # the keyboard is taken again
            os.write(sh.master, b"\x1b")
            sh.expect(rb"\$ ")  # a stopped job takes the rest of its list with it
            os.write(sh.master, b"echo rc=$?\n")
            self.assertEqual(sh.status(), 0)
            self.assertEqual(sh.mode(), sh.cooked)

    def test_suspend_key_at_the_page_prompt(self):
        for sh in self.shells:
            os.write(sh.master, b"'%s'\n" % kelpo.EXE.encode())
            sh.expect(re.escape(PROMPT))
            os.write(sh.master, b"\x1a")  # the terminal's suspend key
            sh.expect(rb"\$ ")
            self.assertEqual(sh.mode(), sh.cooked)
            os.write(sh.master, b"fg\n")
            sh.expect(re.escape(PROMPT))  # shown again, before any line of the report
            self.assertNotIn(b"dir0", sh.before)
            self.assertNotEqual(sh.mode(), sh.cooked)
            os.write(sh.master, b"\x1b")
            # The shell's prompt stands at the start of a line of its own.
            self.assertEqual(sh.expect(rb"([^\n]*)\$ ").group(1), b"")
            os.write(sh.master, b"echo rc=$?\n")
            self.assertEqual(sh.status(), 0)
            self.assertEqual(sh.mode(), sh.cooked)

    def test_ending_signals_restore_the_mode_without_blocking(self):
        for sh in self.shells:
            os.killpg(sh.at_prompt(kelpo.EXE), signal.SIGUSR1)
            self.assertEqual(sh.status(), 128 + signal.SIGUSR1)
            self.assertEqual(sh.mode(), sh.cooked)
            pid = sh.at_prompt(kelpo.EXE)
            os.write(sh.master, b"\x13")  # Ctrl+S: the terminal holds every write
            time.sleep(0.1)
            os.kill(pid, signal.SIGTERM)
            deadline = time.monotonic() + 1
            while os.path.exists("/proc/%d" % pid) and time.monotonic() < deadline:
                time.sleep(0.02)
            self.assertFalse(os.path.exists("/proc/%d" % pid), "still running")
            os.write(sh.master, b"\x11")  # Ctrl+Q
            self.assertEqual(sh.status(), 128 + signal.SIGTERM)
            self.assertEqual(sh.mode(), sh.cooked)


class Output(Posix):
    def setUp(self):
        super().setUp()
        kelpo.make_tree(self.dir, {"d%04d" % i: {} for i in range(3000)})

    def test_reader_quits_while_the_keyboard_is_a_terminal(self):
        master, slave = pty.openpty()
        self.addCleanup(os.close, master)
        self.addCleanup(os.close, slave)
        before = termios.tcgetattr(slave)
        proc = subprocess.Popen(kelpo.command([]), cwd=self.dir, stdin=slave,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                preexec_fn=controlling_tty)
        proc.stdout.read(100)
        time.sleep(0.1)
        self.assertEqual(termios.tcgetattr(slave), before)  # the pager owns the keyboard
        proc.stdout.close()
        self.assertEqual(proc.stderr.read(), b"")
        proc.stderr.close()
        self.assertEqual(proc.wait(timeout=30), -signal.SIGPIPE)
        self.assertEqual(termios.tcgetattr(slave), before)

    def test_sigint_stops_the_report_and_file_size_limit_is_a_full_disk(self):
        """A report or an export stopped while it goes to a pipe ends with 130
        at once (an export after its last whole line); SIGTERM by its signal."""
        for form, end, status in ((None, b"\n \n", 130), ("json", b"}\n", 130),
                                  (None, None, -signal.SIGTERM)):
            proc = subprocess.Popen(kelpo.command([], form), cwd=self.dir,
                                    stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                    stderr=subprocess.PIPE)
            proc.stdout.read(100)
            proc.send_signal(signal.SIGINT if status == 130 else signal.SIGTERM)
            out, err = proc.communicate(timeout=30)
            self.assertEqual((proc.returncode, err), (status, b""), form)
            if end:
                self.assertTrue(out.endswith(end) and len(out) < 1500000, (form, out[-40:]))
        with open(os.path.join(self.dir, "out.txt"), "wb") as f:
            res = subprocess.run(kelpo.command([]), cwd=self.dir, stdout=f, stderr=subprocess.PIPE,
                                 preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE,
                                                                       (8192, 8192)))
        self.assertEqual(res.returncode, 1)
        self.assertEqual(res.stderr, b"kelpo32: write error: File too large\n")


class Conventions(Posix):
    def test_long_options(self):
        res = kelpo.run(["--version", "/H"], cwd=self.dir)
        self.assertEqual(res.rc, 0)
        self.assertRegex(res.out, rb"^kelpo32 \d+\.\d+\.\d+\r\n$")
        for name in ("-old", "T", "--version"):
            os.mkdir(os.path.join(self.dir, name))
        for arg in ("-old", os.path.join(self.dir, "T"), "--version"):
            res = kelpo.run(["/T", "--", arg], cwd=self.dir)
            self.assertEqual((res.rc, kelpo.lines(res.out)[1:]), (0, [arg.encode()]))

    def test_mistyped_and_mistaken_command_lines(self):
        kelpo.make_tree(self.dir, {"data": {"f": 1}, "file.txt": 3, "locked": {}})
        os.chmod(self.dir, 0o755)
        os.chmod(os.path.join(self.dir, "locked"), 0)
        user = NOBODY if kelpo.ROOT else None  # root enters every directory
        enter = "kelpo32: cannot enter '%s': %s\n"
        missing = "no such file or directory"
        ignored = "kelpo32: only one directory is reported; '%s' is ignored\n"
        tryhelp = "Try 'kelpo32 --help' for more information.\n"
        mistake = "kelpo32: %s\n" + tryhelp
        unknown = mistake % "unknown option '%s'"
        width = "kelpo32: Invalid /W numeric parameter.\n"
        report, help_text = "Kelpo32\ndata", "Kelpo32\n\nKELPO V1.6"
        cases = [
            # arguments, exit code, start of standard output, standard error
            # A "/" word that is not one of the help's forms is a path; a start
            # directory that cannot be entered leaves standard output empty.
            *[([p], 1, "", enter % (p, missing)) for p in ("/backup", "/nonexistent", "/vol",
                                                               "/hoem")],
            (["/Wide", "data"], 1, "", ignored % "data" + enter % ("/Wide", missing)),
            (["file.txt"], 1, "", enter % ("file.txt", "not a directory")),
            (["locked"], 1, "", enter % ("locked", "permission denied")),
            (["-V", "2", "data"], 1, "", ignored % "data" + enter % ("2", missing)),
            (["data", "/etc", "x"], 0, report, ignored % "/etc" + ignored % "x"),
            (["/W0", "data"], 2, "", width),
            (["/w", "/H", "data"], 2, "", width),
            (["--maxdepth=2"], 2, "", unknown % "--maxdepth=2"),
            (["--disk-usage=yes", "data"], 2, "", mistake % "option '--disk-usage' doesn't "
                                                             "allow an argument"),
            # Switch letters the program does not know, du's among them; du's
            # in another case.
            (["-a", "-d", "1", "data"], 2, "", mistake % "unknown switch '-a'"),
            (["-X", "data"], 2, "", mistake % "unknown switch '-X'"),
            (["-shq", "data"], 2, "", mistake % "unknown switch '-q'"),
            (["/T", "-Quiet", "data"], 2, "", mistake % "unknown switch '-Q'"),
            # du's letters as du reads them, a value the only thing they take.
            (["data", "-d"], 2, "", mistake % "option '-d' requires an argument"),
            (["-d", "-1", "data"], 2, "", "kelpo32: invalid argument '-1' for '-d'\nValid "
             "arguments are: a whole number from 0 to 2147483647\n" + tryhelp),
            (["-xdev", "data"], 2, "", "kelpo32: invalid argument 'ev' for '-d'\nValid "
             "arguments are: a whole number from 0 to 2147483647\n" + tryhelp),
            (["-hd"], 2, "", mistake % "option '-d' requires an argument"),
            (["-\x1b[2J"], 2, "", mistake % "unknown switch '-?'"),
            # Long options as getopt_long reads them.
            (["--format", "tsv", "data"], 0, "1\t1\t1\t1\tdata\t\n", ""),
            (["--form=tsv", "--no-prog", "data"], 0, "1\t1\t1\t1\tdata\t\n", ""),
            (["--format", "--disk-usage"], 2, "", "kelpo32: invalid argument '--disk-usage' for "
             "'--format'\nValid arguments are: text, windows, json, tsv, ncdu, html, prometheus\n" + tryhelp),
            (["data", "--format"], 2, "", mistake % "option '--format' requires an argument"),
            (["--disk", "--apparent", "--one", "data"], 0, report, ""),
            # The help's own forms stay switches, in any case; the long options are known.
            (["/t", "/n", "/132", "/V1", "/w80", "data"], 0, report, ""),
            (["/h", "data"], 0, help_text, ""),
            (["/?", "/x"], 0, help_text, ""),
            (["--disk-usage", "--apparent-size", "--no-progress", "--one-file-system", "data"],
             0, report, ""),
        ]
        for args, rc, out, err in cases:
            res = kelpo.run(args, cwd=self.dir, user=user)
            shown = res.out.replace(b"\r\n", b"\n")
            self.assertEqual((res.rc, res.err.decode()), (rc, err), args)
            self.assertTrue(shown.startswith(out.encode()) and (out or not shown), (args, shown))

    def test_help(self):
        res = kelpo.run(["--help", "/W0", "no-such-dir"], cwd=self.dir)
        self.assertEqual((res.rc, res.err), (2, b"kelpo32: Invalid /W numeric parameter.\n"))
        res = kelpo.run(["--help", "no-such-dir"], cwd=self.dir)
        self.assertEqual((res.rc, res.err), (0, b""))
        lines = res.out.decode("ascii").splitlines()
        self.assertEqual((lines[0], lines[-1]),
                         ("Usage: kelpo32 [SWITCH]... [DIRECTORY]", "See kelpo32(1)."))
        self.assertTrue(len(lines) <= 80 and max(map(len, lines)) <= 79, lines)
        for name in ("--format=", "--disk-usage", "--apparent-size", "--one-file-system",
                     "--no-progress", "--version", "--help", "--  ", "/T", "/N", "/L", "/132",
                     "/Wnnn", "/Vnn", "/H", "KELPO32_THREADS", "NO_COLOR", "TERM", "LANG"):
            self.assertIn(name, res.out.decode(), name)

    def test_one_file_system(self):
        if not kelpo.ROOT or not shutil.which("unshare"):
            self.skipTest("needs root to mount a file system inside the tree")
        kelpo.make_tree(self.dir, {"in": {"mnt": {}}})
        cmd = ["unshare", "-m", "--propagation", "private", "sh", "-c",
               'mount -t tmpfs tmpfs in/mnt && : > in/mnt/x && mkdir in/mnt/sub && exec "$0" "$@"']
        reports = []
        for extra in ([], ["--one-file-system"]):
            res = subprocess.run(cmd + kelpo.command(["/W40"] + extra), cwd=self.dir,
                                 capture_output=True, timeout=60)
            if b"mount" in res.stderr:
                self.skipTest("mounts are not allowed here: %r" % res.stderr)
            self.assertEqual(res.returncode, 0, res.stderr)
            reports.append([l for l in kelpo.lines(res.stdout) if b"mnt" in l or b"sub" in l])
        # Its line, "sub" and its total; then its line alone, empty.
        self.assertEqual(([len(r) for r in reports], reports[0][0][-20:], reports[1][0][-20:]),
                         ([3, 1], b">    1             0", b">    0             0"), reports)

    def test_each_file_of_several_links_counts_once_unless_every_link_counts(self):
        kelpo.make_tree(self.dir, {"t": {"a": {"sparse": 50 * 2 ** 20}, "b": {}}})
        t = os.path.join(self.dir, "t")
        for name, size in (("a/x", 10000), ("top", 5000), ("t.txt", 1)):
            with open(os.path.join(t, name), "wb") as f:
                f.write(b"k" * size)
        os.link(os.path.join(t, "a/x"), os.path.join(t, "a/x2"))  # a pair in one directory
        os.link(os.path.join(t, "top"), os.path.join(t, "b/y"))  # and one across levels

        def own(every, disk):
            """Each directory's own bytes: a file counts where the walk meets
            it first (a directory's files before its subdirectories); on disk
            the directory's own blocks too."""
            def size(name):
                st = os.lstat(os.path.join(t, name))
                return st.st_blocks * 512 if disk else st.st_size

            def blocks(name):
                return size(name) if disk else 0
            return {"t": size("t.txt") + size("top") + blocks(""),
                    "t/a": size("a/sparse") + size("a/x") * (2 if every else 1) + blocks("a"),
                    "t/b": (size("b/y") if every else 0) + blocks("b")}

        def run(args, form, threads=2):
            res = kelpo.run(args + ["t"], cwd=self.dir, env=kelpo.threads(threads), form=form)
            self.assertEqual((res.rc, res.err), (0, b""), args)
            return res.out

        for extra in ([], ["--count-links"], ["--disk-usage"], ["--count-links", "--disk-usage"]):
            every = "--count-links" in extra
            bytes_ = own(every, "--disk-usage" in extra)
            total = sum(bytes_.values())
            # The report with the largest files after it (a depth limit keeps
            # them apart from it), the same at one thread and at eight.
            report = run(extra + ["/V9", "--largest-files=9"], "windows", 1)
            if not extra:
                self.assertEqual(run(["/V9", "--largest-files=9"], "windows", 8), report)
            self.assertIn(b"Total bytes: " + format(total, ",").encode(), report, extra)
            self.assertRegex(report, rb"\x97b-+>    1 +%s\r\n" % format(bytes_["t/b"], ",").encode())
            # The largest files: every link, or each file once under the path
            # where it was met first (of a/x and a/x2, whichever the listing
            # gave first).
            lines = report.split(b"Largest files:\r\n")[1].decode().splitlines()
            listed = [l.split(None, 1)[1] for l in lines]
            pair = {"t/a/x", "t/a/x2"}
            self.assertEqual(len(listed), 6 if every else 4, extra)
            self.assertEqual((set(listed) - pair, len(set(listed) & pair)),
                             ({"t/a/sparse", "t/t.txt", "t/top"} | ({"t/b/y"} if every else set()),
                              2 if every else 1), extra)
            # JSON Lines, plain and in the layout of totals.
            for layout in ([], ["--totals"]):
                rows = {r["path"]: r for r in kelpo.json_lines(run(extra + layout, "json"))}
                self.assertEqual(({p: rows[p]["bytes"] for p in bytes_}, rows["t"]["total_bytes"]),
                                 (bytes_, total), extra + layout)
            # On disk, du's own numbers; a file linked across levels counts
            # where du's order meets it, so only with every link counted is
            # t/b's bound to be the same.
            if "--disk-usage" in extra:
                du = subprocess.run(["du", "-B1"] + (["-l"] if every else []) + ["t"],
                                    cwd=self.dir, capture_output=True, check=True).stdout
                counted = {p: int(n) for n, p in (l.split("\t") for l in du.decode().splitlines())}
                self.assertEqual({p: rows[p]["total_bytes"] for p in counted if every or p != "t/b"},
                                 {p: n for p, n in counted.items() if every or p != "t/b"}, extra)

    def test_colour_characters_and_line_ends(self):
        kelpo.make_tree(self.dir, {"sub": {"f": 1}, "caf\u00e9": {}})
        env = {k: v for k, v in os.environ.items() if k not in ("NO_COLOR", "LC_ALL", "LC_CTYPE")}

        def show(**extra):
            res = kelpo.run_pty(["/N"], cwd=self.dir,
                                env={**env, "TERM": "xterm", "LANG": "C.UTF-8", **extra})
            self.assertEqual(res.rc, 0, res.err)
            self.assertNotIn(b"\r\r\n", res.raw)  # the terminal adds the CR itself
            return res.raw

        self.assertIn(b"\x1b[92m", show(NO_COLOR=""))
        self.assertIn("├─sub".encode(), show())
        for extra in ({"NO_COLOR": "1"}, {"TERM": "dumb"}):
            self.assertNotIn(b"\x1b", show(**extra), extra)
        raw = show(LANG="C").replace(b"\x1b[92m", b"")
        self.assertTrue(all(b < 128 for b in raw), raw)
        for text in (b"+-sub", b"caf??", b"+> Total bytes: 1"):
            self.assertIn(text, raw)

    def test_log_file_only_as_a_regular_file(self):
        log = os.path.join(self.dir, "logfile.txt")
        with open(os.path.join(self.dir, "other.txt"), "wb") as f:
            f.write(b"keep")
        for make in (lambda: os.symlink("other.txt", log), lambda: os.symlink("new.txt", log),
                     lambda: os.mkfifo(log), lambda: os.mkdir(log)):
            make()
            res = kelpo.run(["/L"], cwd=self.dir, timeout=10)  # a FIFO: at once
            self.assertEqual((res.rc, res.out), (1, b"Kelpo32\r\n"))
            self.assertEqual(res.err, b"kelpo32: cannot create 'logfile.txt': Permission denied\n")
            (os.rmdir if os.path.isdir(log) else os.remove)(log)
        self.assertEqual(sorted(os.listdir(self.dir)), ["other.txt"])
        with open(os.path.join(self.dir, "other.txt"), "rb") as f:
            self.assertEqual(f.read(), b"keep")


if __name__ == "__main__":
    kelpo.main()
