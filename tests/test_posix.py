"""The native build as a POSIX citizen: job control and signals in a real
shell, pipes, the long options, colour and character set, the log file."""

import os
import pty
import re
import select
import shutil
import signal
import subprocess
import termios
import time
import fcntl

import kelpo
from kelpo import WINDOWS

PROMPT = b"Press any key to continue....."


def posix_only(test):
    if WINDOWS:
        test.skipTest("native build only")


class Shell:
    """An interactive shell (job control on) on a pseudo-terminal of its own."""

    def __init__(self, shell, cwd):
        self.master, self.slave = pty.openpty()
        kelpo.set_winsize(self.slave, 80, 25)
        env = dict(os.environ, PS1="$ ", TERM="xterm", LANG="C.UTF-8")
        env.pop("NO_COLOR", None)
        args = [shell, "--noediting", "--norc", "-i"] if shell == "bash" else [shell, "-i"]

        def make_controlling():
            os.setsid()
            fcntl.ioctl(0, termios.TIOCSCTTY, 0)

        self.proc = subprocess.Popen(args, cwd=cwd, env=env, stdin=self.slave, stdout=self.slave,
                                     stderr=self.slave, preexec_fn=make_controlling)
        self.out = b""
        self.expect(rb"\$ ")
        self.cooked = termios.tcgetattr(self.slave)

    def send(self, data):
        os.write(self.master, data)

    def expect(self, pattern, timeout=20):
        """Reads until the output matches the regular expression; returns the match."""
        deadline = time.monotonic() + timeout
        while True:
            m = re.search(pattern, self.out)
            if m:
                self.out = self.out[m.end():]
                return m
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError("no %r in %r" % (pattern, self.out[-300:]))
            if select.select([self.master], [], [], min(left, 0.1))[0]:
                self.out += os.read(self.master, 65536)

    def run(self, line):
        """Runs a command line in the foreground and returns its exit status."""
        self.send(line.encode() + b"; echo rc=$?\n")
        return int(self.expect(rb"rc=(\d+)").group(1))

    def foreground(self):
        return os.tcgetpgrp(self.master)  # the master side may ask (Linux)

    def mode(self):
        return termios.tcgetattr(self.slave)

    def close(self):
        self.proc.kill()
        self.proc.wait()
        os.close(self.master)
        os.close(self.slave)


class JobControl(kelpo.Case):
    def setUp(self):
        super().setUp()
        posix_only(self)
        self.exe = kelpo.EXE
        kelpo.make_tree(self.dir, {"dir%03d" % i: {} for i in range(60)})

    def shells(self):
        """A shell of each kind, closed after the test."""
        found = []
        for name in ("bash", "dash"):
            if shutil.which(name):
                sh = Shell(name, self.dir)
                self.addCleanup(sh.close)
                found.append(sh)
        return found

    def at_prompt(self, sh):
        sh.send(b"'%s'; echo rc=$?\n" % self.exe.encode())
        sh.expect(re.escape(PROMPT))
        self.assertNotEqual(sh.mode(), sh.cooked)
        return sh.foreground()

    def test_background_redirected_run_completes(self):
        for sh in self.shells():
            self.assertEqual(sh.run("'%s' > out.txt & wait $!" % self.exe), 0)
            with open(os.path.join(self.dir, "out.txt"), "rb") as f:
                self.assertIn(b"Total bytes: 0", f.read())
            self.assertEqual(sh.mode(), sh.cooked)

    def test_stop_and_continue_at_the_page_prompt(self):
        for sh in self.shells():
            os.killpg(self.at_prompt(sh), signal.SIGTSTP)
            sh.expect(rb"\$ ")
            self.assertEqual(sh.mode(), sh.cooked)  # stopped with the mode restored
            sh.send(b"fg\n")
            deadline = time.monotonic() + 5
            while sh.mode() == sh.cooked and time.monotonic() < deadline:
                time.sleep(0.02)
            self.assertNotEqual(sh.mode(), sh.cooked)  # the keyboard is taken again
            sh.send(b"\x1b")
            sh.expect(rb"\$ ")  # a stopped job takes the rest of its list with it
            sh.send(b"echo rc=$?\n")
            self.assertEqual(int(sh.expect(rb"rc=(\d+)").group(1)), 0)
            self.assertEqual(sh.mode(), sh.cooked)

    def test_signals_end_the_run_with_the_mode_restored(self):
        for sh in self.shells():
            for sig in (signal.SIGUSR1, signal.SIGTERM, signal.SIGALRM):
                os.killpg(self.at_prompt(sh), sig)
                self.assertEqual(int(sh.expect(rb"rc=(\d+)").group(1)), 128 + sig)
                self.assertEqual(sh.mode(), sh.cooked)

    def test_sigterm_while_the_output_is_stopped(self):
        for sh in self.shells():
            pid = self.at_prompt(sh)
            sh.send(b"\x13")  # Ctrl+S: the terminal holds every write
            time.sleep(0.1)
            os.kill(pid, signal.SIGTERM)
            deadline = time.monotonic() + 1
            while os.path.exists("/proc/%d" % pid) and time.monotonic() < deadline:
                time.sleep(0.02)
            self.assertFalse(os.path.exists("/proc/%d" % pid), "still running")
            sh.send(b"\x11")  # Ctrl+Q
            self.assertEqual(int(sh.expect(rb"rc=(\d+)").group(1)), 128 + signal.SIGTERM)
            self.assertEqual(sh.mode(), sh.cooked)


class Output(kelpo.Case):
    def test_reader_quits_while_the_keyboard_is_a_terminal(self):
        posix_only(self)
        kelpo.make_tree(self.dir, {"d%04d" % i: {} for i in range(3000)})
        master, slave = pty.openpty()
        before = termios.tcgetattr(slave)

        def make_controlling():
            os.setsid()
            fcntl.ioctl(0, termios.TIOCSCTTY, 0)

        proc = subprocess.Popen(kelpo.command([]), cwd=self.dir, stdin=slave,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                preexec_fn=make_controlling)
        proc.stdout.read(100)
        time.sleep(0.1)
        self.assertEqual(termios.tcgetattr(slave), before)  # a pager owns the keyboard
        proc.stdout.close()
        err = proc.stderr.read()
        proc.stderr.close()
        self.assertEqual(proc.wait(timeout=30), -signal.SIGPIPE)
        self.assertEqual(err, b"")
        self.assertEqual(termios.tcgetattr(slave), before)
        os.close(master)
        os.close(slave)


    def test_sigint_without_the_keyboard_stops_the_report(self):
        posix_only(self)
        kelpo.make_tree(self.dir, {"d%04d" % i: {} for i in range(3000)})
        proc = subprocess.Popen(kelpo.command([]), cwd=self.dir, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        head = proc.stdout.read(100)
        proc.send_signal(signal.SIGINT)
        out, err = proc.communicate(timeout=30)
        self.assertEqual((proc.returncode, err), (0, b""))
        self.assertTrue((head + out).endswith(b"\r\n \r\n"), out[-40:])
        self.assertNotIn(b"Total bytes", out)

    def test_file_size_limit_is_a_full_disk(self):
        posix_only(self)
        import resource
        kelpo.make_tree(self.dir, {"d%04d" % i: {} for i in range(300)})
        with open(os.path.join(self.dir, "out.txt"), "wb") as out:
            proc = subprocess.run(
                kelpo.command([]), cwd=self.dir, stdin=subprocess.DEVNULL, stdout=out,
                stderr=subprocess.PIPE, timeout=30,
                preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (8192, 8192)))
        self.assertEqual(proc.returncode, 1)
        self.assertRegex(proc.stderr, rb"\r\nDisk full\.\r\n$")


class LongOptions(kelpo.Case):
    def setUp(self):
        super().setUp()
        posix_only(self)

    def test_help_version_and_unknown_options(self):
        self.assertEqual(kelpo.run(["--help"], cwd=self.dir), kelpo.run(["/H"], cwd=self.dir))
        res = kelpo.run(["--version", "/H"], cwd=self.dir)
        self.assertEqual(res.rc, 0)
        self.assertRegex(res.out, rb"^kelpo32 \d+\.\d+\.\d+\r\n$")
        res = kelpo.run(["/T", "--colour", "--help"], cwd=self.dir)
        self.assertEqual((res.rc, res.out), (2, b""))
        self.assertEqual(res.err, b"kelpo32: unknown option '--colour'\n"
                                  b"KELPO V1.6 2015/09/06  Command Line Parameters:\n")

    def test_double_dash_ends_the_switches(self):
        for name in ("-old", "/T", "--version"):
            kelpo.make_tree(os.path.join(self.dir, name.lstrip("/")), {"f": 5})
        for name, shown in (("-old", b"-old"), ("/T", b"/T"), ("--version", b"--version")):
            arg = name if name != "/T" else os.path.join(self.dir, "T")
            res = kelpo.run(["/T", "--", arg], cwd=self.dir)
            self.assertEqual(res.rc, 0, (name, res.err))
            self.assertEqual(kelpo.lines(res.out)[1], arg.encode(), name)

    def test_one_file_system(self):
        if os.geteuid() != 0 or not shutil.which("unshare"):
            self.skipTest("needs root to mount a file system inside the tree")
        kelpo.make_tree(self.dir, {"inner": {"mnt": {}}, "a": 7})
        script = ('mount -t tmpfs tmpfs inner/mnt && : > inner/mnt/x && mkdir inner/mnt/sub && '
                  'exec "$0" "$@"')
        cmd = ["unshare", "-m", "--propagation", "private", "sh", "-c", script]
        outs = []
        for extra in ([], ["--one-file-system"]):
            proc = subprocess.run(cmd + kelpo.command(["/W60"] + extra + ["."]),
                                  cwd=self.dir, capture_output=True, timeout=60)
            if b"mount" in proc.stderr:
                self.skipTest("mounts are not allowed here: %r" % proc.stderr)
            self.assertEqual(proc.returncode, 0, proc.stderr)
            outs.append(kelpo.lines(proc.stdout))
        full, local = outs
        mnt = [l for l in full if b"mnt" in l][0]
        self.assertTrue(mnt.endswith(b">    1             0"), mnt)
        self.assertTrue(any(b"sub" in l for l in full))
        mnt = [l for l in local if b"mnt" in l][0]
        self.assertTrue(mnt.endswith(b">    0             0"), mnt)
        self.assertFalse(any(b"sub" in l for l in local))
        self.assertEqual(local[-1], full[-1])  # the same bytes: the mount holds none


class Display(kelpo.Case):
    def setUp(self):
        super().setUp()
        posix_only(self)
        kelpo.make_tree(self.dir, {"sub": {"f": 1}, "caf\u00e9": {}})

    def show(self, **env):
        base = {k: v for k, v in os.environ.items() if k not in ("NO_COLOR", "LC_ALL", "LC_CTYPE")}
        base.update(TERM="xterm", LANG="C.UTF-8")
        base.update(env)
        res = kelpo.run_pty(["/N"], cwd=self.dir, env=base)
        self.assertEqual(res.rc, 0, res.err)
        self.assertNotIn(b"\r\r\n", res.raw)  # the terminal adds the CR itself
        return res.raw

    def test_colour_and_characters(self):
        plain = self.show()
        self.assertIn(b"\x1b[92m", plain)
        self.assertIn("├─".encode(), plain)
        for env in ({"NO_COLOR": "1"}, {"TERM": "dumb"}):
            self.assertNotIn(b"\x1b[", self.show(**env), env)
        self.assertIn(b"\x1b[92m", self.show(NO_COLOR=""))
        ascii_raw = self.show(LANG="C")
        self.assertTrue(all(b < 128 for b in ascii_raw), ascii_raw)
        self.assertIn(b"+-sub", ascii_raw)
        self.assertIn(b"caf??", ascii_raw)
        self.assertIn(b"+> Total bytes: 1", ascii_raw.replace(b"\x1b[92m", b""))


class LogFile(kelpo.Case):
    def setUp(self):
        super().setUp()
        posix_only(self)
        self.log = os.path.join(self.dir, "logfile.txt")

    def check_refused(self):
        res = kelpo.run(["/L"], cwd=self.dir, timeout=10)
        self.assertEqual((res.rc, res.out), (1, b"Kelpo32\r\n"))
        self.assertRegex(res.err, rb"\r\nFile access denied\.\r\n$")

    def test_only_a_regular_file_is_written(self):
        target = os.path.join(self.dir, "other.txt")
        with open(target, "wb") as f:
            f.write(b"keep")
        os.symlink(target, self.log)
        self.check_refused()
        with open(target, "rb") as f:
            self.assertEqual(f.read(), b"keep")
        os.remove(self.log)
        os.symlink("created.txt", self.log)  # a dangling link
        self.check_refused()
        self.assertFalse(os.path.exists(os.path.join(self.dir, "created.txt")))
        os.remove(self.log)
        os.mkfifo(self.log)
        self.check_refused()  # at once: no reader is waited for


if __name__ == "__main__":
    kelpo.main()
