"""The walk: the same report whatever the number of threads, every directory
opened once relative to its parent, and the program's own resource failures
reported as failures."""

import os
import random
import re
import resource
import shutil
import subprocess

import kelpo
from kelpo import NOBODY

SWITCHES = [[], ["/T"], ["/V1"], ["/V3", "/L"], ["/W60", "/L"], ["/T", "/V2", "/L"]]


def random_tree(root, seed):
    """A seeded random tree: wide and deep directories, a chain past the drawn
    levels, symbolic links to directories and files, unreadable directories.
    Returns the directories it made unreadable."""
    rnd = random.Random(seed)
    locked = []
    os.makedirs(root)
    dirs = [root]
    for i in range(rnd.randint(150, 300)):
        parent = rnd.choice(dirs)
        path = os.path.join(parent, "d%d" % i)
        os.mkdir(path)
        dirs.append(path)
        for j in range(rnd.choice([0, 1, 3, 40])):
            with open(os.path.join(path, "f%d" % j), "wb") as f:
                f.truncate(rnd.choice([0, 7, 1000, 123456789, 5 * 10 ** 9]))
        if rnd.random() < 0.1:
            os.symlink(rnd.choice(dirs), os.path.join(path, "link%d" % i))
        if rnd.random() < 0.05:
            locked.append(path)
    chain = rnd.choice(dirs)
    for i in range(rnd.randint(60, 120)):
        chain = os.path.join(chain, "c")
        os.mkdir(chain)
    with open(os.path.join(chain, "leaf"), "wb") as f:
        f.truncate(42)
    return locked


class Threads(kelpo.Case):
    def run_with(self, args, threads, cwd, user=None, mount=None):
        cmd = kelpo.command(args)
        if user is not None:
            cmd = ["setpriv", "--reuid=%d" % user, "--regid=%d" % user, "--clear-groups"] + cmd
        if mount is not None:
            cmd = ["unshare", "-m", "--propagation", "private", "sh", "-c",
                   'mount --bind "$1" "$2" && shift 2 && exec "$@"', "sh"] + list(mount) + cmd
        log = os.path.join(cwd, "logfile.txt")
        if os.path.exists(log):
            os.remove(log)
        proc = subprocess.run(cmd, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=120,
                              env=kelpo.threads(threads))
        logged = open(log, "rb").read() if os.path.exists(log) else None
        return proc.returncode, proc.stdout, proc.stderr, logged

    def test_same_bytes_and_logs_with_one_two_and_eight_threads(self):
        self.native_only()
        # Run as another user when root, so that unreadable directories are.
        user = NOBODY if kelpo.ROOT and shutil.which("setpriv") else None
        mount = kelpo.ROOT and shutil.which("unshare") is not None
        work = os.path.join(self.dir, "work")
        os.makedirs(work)
        os.chmod(self.dir, 0o755)
        os.chmod(work, 0o777)
        for seed in (1, 2, 3):
            tree = os.path.join(self.dir, "t%d" % seed)
            locked = random_tree(tree, seed)
            for path in locked:
                os.chmod(path, 0)
            loop = None
            if mount:
                os.mkdir(os.path.join(tree, "loop"))
                loop = (tree, os.path.join(tree, "loop"))
            for args in SWITCHES:
                first = self.run_with(args + [tree], 1, work, user, loop)
                if loop and first[0] != 0 and b"mount" in first[2]:
                    mount, loop = False, None  # bind mounts not allowed here
                    first = self.run_with(args + [tree], 1, work, user, loop)
                # Exit code 1 when a directory could not be read.
                unread = (locked and (user is not None or not kelpo.ROOT)) or loop
                self.assertEqual(first[0], 1 if unread else 0, first[2])
                for threads in (2, 8):
                    other = self.run_with(args + [tree], threads, work, user, loop)
                    self.assertTrue(other == first, (seed, args, threads))

    def test_same_bytes_on_every_platform(self):
        layout = {"d%d\u00e9" % i: {"e%d" % j: {"f": i * 100 + j} for j in range(i % 4)}
                  for i in range(12)}
        kelpo.make_tree(os.path.join(self.dir, "T"), layout)
        results = set()
        for threads in ("1", "4"):
            res = kelpo.run(["/L", "T"], cwd=self.dir, env=kelpo.threads(threads))
            self.assertEqual(res.rc, 0, res.err)
            with open(os.path.join(self.dir, "logfile.txt"), "rb") as f:
                results.add((res.out, f.read()))
        self.assertEqual(len(results), 1)

    def test_same_screen_up_to_an_early_escape(self):
        self.native_only()
        random_tree(os.path.join(self.dir, "t"), 4)
        screens = set()
        for threads in (1, 2, 8):
            res = kelpo.run_pty(["t"], cwd=self.dir, cols=80, rows=25,
                                keys=[(b"Press any key", b" "), (b"Press any key", b"\x1b")],
                                env=kelpo.threads(threads))
            self.assertEqual(res.rc, 0, res.err)
            screens.add(res.raw)
        self.assertEqual(len(screens), 1)


class OwnFiles(kelpo.Case):
    def test_log_and_report_counted_as_written_up_to_their_place(self):
        self.native_only()
        # Enough report and log before `sub` that workers list it long before
        # the report gets there.
        tree = kelpo.make_tree(os.path.join(self.dir, "T"), {
            "a": {"d%03d" % i: {"f%d" % j: j for j in range(20)} for i in range(400)},
            "sub": {}, "z": {"f": 1}})
        sub = os.path.join(tree, "sub")
        # Older than the files made after it: tmpfs lists it after them, so
        # their log lines come before its entry.
        open(os.path.join(sub, "logfile.txt"), "wb").close()
        kelpo.make_tree(sub, {"f%d" % j: 0 for j in range(5)})

        def sub_line(out):
            [line] = [l for l in kelpo.lines(out) if b"\x97sub-" in l]
            return line
        logs, reports = set(), set()
        for threads in (1, 2, 8):
            res = kelpo.run(["/L", ".."], cwd=sub, env=kelpo.threads(threads))
            self.assertEqual(res.rc, 0, res.err)
            with open(os.path.join(sub, "logfile.txt"), "rb") as f:
                log = f.read()
            # Everything flushed before its entry: up to its own line.
            written = log.index(b"\r\n  logfile.txt\r\n") + 2
            self.assertEqual(kelpo.number(sub_line(res.out)[-14:]), written, threads)
            logs.add((res.out, log))
        report_path = os.path.join(sub, "report.txt")
        for threads in (1, 2, 8):
            with open(report_path, "wb") as f:
                res = kelpo.run([tree], cwd=self.dir, env=kelpo.threads(threads), stdout=f)
            self.assertEqual(res.rc, 0, res.err)
            with open(report_path, "rb") as f:
                report = f.read()
            line = sub_line(report)
            # What was written before its line, less what the buffer still held.
            own = kelpo.number(line[-14:]) - len(log)
            self.assertTrue(0 < own <= report.index(line), (threads, own))
            reports.add(line)
        self.assertEqual((len(logs), len(reports)), (1, 1))


class Descriptors(kelpo.Case):
    def test_each_directory_opened_once_relative_to_its_parent(self):
        self.native_only()
        if not shutil.which("strace"):
            self.skipTest("strace is not installed")
        tree = kelpo.make_tree(os.path.join(self.dir, "T"), {
            "a": {"b": {"c": {"f": 1}}, "e": {}}, "g": {"h": {}}, "i": 5})
        os.symlink(os.path.join(tree, "a"), os.path.join(tree, "link"))
        trace = os.path.join(self.dir, "trace")
        proc = subprocess.run(["strace", "-f", "-e", "trace=open,openat,openat2", "-o", trace]
                              + kelpo.command(["T"]), cwd=self.dir, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=60,
                              env=kelpo.threads(4))
        if proc.returncode != 0 and b"ptrace" in proc.stderr:
            self.skipTest("ptrace is not allowed here")
        self.assertEqual(proc.returncode, 0, proc.stderr)
        with open(trace) as f:
            # openat2 (the same mount only) where the file system allows it.
            opens = re.findall(r'openat2?\((\w+), "([^"]*)", \{?(?:flags=)?'
                               r'([A-Z_|]*O_DIRECTORY[A-Z_|]*)', f.read())
        # The program's own look at its open descriptors is not a walk.
        opens = [o for o in opens if not o[1].startswith("/proc/")]
        names = sorted(name for _, name, _ in opens)
        self.assertEqual(names, ["T", "a", "b", "c", "e", "g", "h"])
        for at, name, flags in opens:
            if name != "T":
                self.assertNotEqual(at, "AT_FDCWD", name)
                self.assertIn("O_NOFOLLOW", flags)

    def test_inherited_descriptors_leave_the_report_whole(self):
        self.native_only()
        layout = {"f": 1}
        for level in range(12):
            layout = {"a": layout, **{"s%d" % i: {"g": i} for i in range(4)}}
        kelpo.make_tree(os.path.join(self.dir, "T"), layout)
        whole = kelpo.run(["T"], cwd=self.dir)
        # 34 of 48 descriptors taken before the program starts.
        inherited = [os.open(os.devnull, os.O_RDONLY) for _ in range(34)]
        self.addCleanup(lambda: list(map(os.close, inherited)))
        for threads in (1, 8):
            res = kelpo.run(["T"], cwd=self.dir, pass_fds=inherited, env=kelpo.threads(threads),
                            preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (48, 48)))
            self.assertEqual((res.rc, res.out), (0, whole.out), res.err)

    def test_three_descriptors_suffice_and_fewer_are_an_error_not_an_empty_report(self):
        self.native_only()
        kelpo.make_tree(os.path.join(self.dir, "E"), {})
        # Below each level's first child another level to reopen the way to.
        layout = {}
        for level in range(3):
            layout = {"d%d" % i: layout for i in range(4)}
        kelpo.make_tree(os.path.join(self.dir, "T"), {"d": layout})
        whole = kelpo.run(["T"], cwd=self.dir)

        def run(tree, limit, threads):
            return kelpo.run([tree], cwd=self.dir, env=kelpo.threads(threads), preexec_fn=lambda:
                             resource.setrlimit(resource.RLIMIT_NOFILE, (limit, limit)))
        # The smallest limit that lists an empty directory leaves the walk
        # one: beside the three standard ones, a redirected run opens none.
        one = next(n for n in range(3, 64) if run("E", n, "1").rc == 0)
        self.assertEqual(one, 4)
        for threads in ("1", "4"):
            res = run("T", one + 2, threads)
            self.assertEqual((res.rc, res.out), (0, whole.out), res.err)
            res = run("T", one + 1, threads)
            self.assertEqual(res.rc, 1, res.err)
            self.assertEqual(res.err, b"kelpo32: too many open files\n")
            self.assertNotIn(b"Total bytes", res.out)
        # On a terminal that it reads keys from, the program keeps three of
        # its own: nine in all, as the README says.
        for limit, rc in ((9, 0), (8, 1)):
            res = kelpo.run_pty(["/N", "T"], cwd=self.dir, wrap=[
                "sh", "-c", 'ulimit -n %d && exec "$0" "$@"' % limit])
            self.assertEqual(res.rc, rc, (limit, res.err))
            self.assertEqual(b"Total bytes" in res.raw, rc == 0, limit)

class Memory(kelpo.Case):
    def test_a_small_address_space_means_fewer_threads_not_an_error(self):
        self.native_only()
        with open(kelpo.EXE, "rb") as f:
            if re.search(rb"__[at]san_init", f.read()):
                self.skipTest("a sanitizer's shadow memory needs more address space")
        kelpo.make_tree(os.path.join(self.dir, "T"),
                        {"a%d" % a: {"b%d" % b: {} for b in range(40)} for a in range(40)})
        whole = kelpo.run(["T"], cwd=self.dir, env=kelpo.threads(1))
        limit = 64 << 20
        for threads in ("8", "64"):
            res = kelpo.run(["T"], cwd=self.dir, env=kelpo.threads(threads), preexec_fn=lambda:
                            resource.setrlimit(resource.RLIMIT_AS, (limit, limit)))
            self.assertEqual((res.rc, res.err), (0, b""), threads)
            self.assertEqual(res.out, whole.out, threads)


if __name__ == "__main__":
    kelpo.main()
