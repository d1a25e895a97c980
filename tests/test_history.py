"""The history (--history, --growth): three recorded runs of a tree that
grows, then the growth in its forms; what the history leaves alone (files
not its own), what it names and leaves out (damaged scans, scans of another
start directory, a clock set back), and a full disk while recording, which
leaves the history as it was. On both builds where the Windows build runs."""

import gzip
import json
import os
import shutil
import subprocess
import time

import kelpo


def kept(history):
    return sorted(n for n in os.listdir(history) if n.startswith("kelpo32-scan-"))


class History(kelpo.Case):
    def record(self, args=(), tree="T", rc=0):
        res = kelpo.run(["--history=H", "--history-keep=all", "--format=json"] + list(args) + [tree],
                        cwd=self.dir, form=None)
        self.assertEqual(res.rc, rc, res.err)
        return res

    def growth(self, args=()):
        res = kelpo.run(["--history=H", "--growth"] + list(args), cwd=self.dir, form=None)
        return res

    def grow(self):
        """Three scans of T a second apart: a grows, d is new, b goes."""
        t = os.path.join(self.dir, "T")
        kelpo.make_tree(t, {"a": {"f1": 100000}, "b": {"c": {"g": 5000}}})
        self.record()
        time.sleep(1.1)
        kelpo.make_tree(os.path.join(t, "a"), {"f2": 300000})
        kelpo.make_tree(os.path.join(t, "d"), {"x": 7000})
        self.record()
        time.sleep(1.1)
        shutil.rmtree(os.path.join(t, "b"))
        kelpo.make_tree(os.path.join(t, "a"), {"f3": 300000})
        self.record()

    def test_three_runs_of_a_growing_tree_then_its_growth(self):
        self.grow()
        history = os.path.join(self.dir, "H")
        names = kept(history)
        self.assertEqual(len(names), 3, names)
        # Each kept scan is gzip (its real reader reads it) with its first line.
        with gzip.open(os.path.join(history, names[0])) as f:
            head = json.loads(f.readline())
        self.assertEqual(sorted(head), ["fs_free", "fs_size", "recorded", "start"])
        self.assertTrue(head["start"].endswith("T"), head)
        # The growth of the history alone: no walk.
        res = self.growth(["--format=json"])
        self.assertEqual(res.rc, 0, res.err)
        rows = kelpo.json_lines(res.out)
        self.assertEqual(rows[0]["scans"], 3)
        self.assertGreater(rows[0]["fs_size"], 0)
        by = {r["path"].replace("\\", "/"): r for r in rows[1:]}
        self.assertEqual(by["T"]["bytes"], 707000)
        self.assertGreater(by["T/a"]["per_day"], 0)
        self.assertEqual(by["T/d"].get("state"), "new")
        self.assertEqual((by["T/b"].get("state"), by["T/b"]["bytes"]), ("gone", 0))
        self.assertLess(by["T/b"]["per_day"], 0)
        self.assertIsNone(by["T"]["week"])  # the history is too short
        # Fastest first: a, then d, then b, which shrank.
        self.assertEqual([r["path"][2:] for r in rows[2:]], ["a", "d", "b"])
        # The text: the file system's line first, a dash where a span is too long.
        res = self.growth(["--format=text"] if not kelpo.WINDOWS else [])
        self.assertEqual(res.rc, 0, res.err)
        text = res.out.decode("utf-8", "replace").splitlines()
        self.assertTrue(text[1].startswith("file system: "), text)
        self.assertRegex(text[1], r"(full in|not filling)")
        self.assertIn("of 3 scans", text[2])
        # With a directory: the walk is recorded, then listed with the rest.
        res = kelpo.run(["--history=H", "--history-keep=all", "--growth", "--format=tsv", "T"],
                        cwd=self.dir, form=None)
        self.assertEqual(res.rc, 0, res.err)
        self.assertEqual(len(kept(history)), 4)
        # --sort, --top and -d apply.
        res = self.growth(["--format=json", "--sort=name", "--top=1"])
        paths = [r.get("path", r.get("parent")).replace("\\", "/")
                 for r in kelpo.json_lines(res.out)[1:]]
        self.assertEqual(paths[:2], ["T", "T/a"], paths)
        # A kept scan reads back with --from as any saved scan.
        res = kelpo.run(["--format=json", "--from=" + os.path.join("H", names[-1])],
                        cwd=self.dir, form=None)
        self.assertEqual(res.rc, 0, res.err)

    def test_what_is_not_its_own_is_left_alone_and_named(self):
        self.grow()
        history = os.path.join(self.dir, "H")
        with open(os.path.join(history, "notes.txt"), "wb") as f:
            f.write(b"mine")
        # Damaged and truncated files of its own names.
        with open(os.path.join(history, "kelpo32-scan-20260101T000000Z.jsonl.gz"), "wb") as f:
            f.write(b"\x1f\x8b\x08\x00" + b"x" * 40)
        good = kept(history)[-1]
        with open(os.path.join(history, good), "rb") as f:
            whole = f.read()
        cut = "kelpo32-scan-20260102T000000Z.jsonl.gz"
        with open(os.path.join(history, cut), "wb") as f:
            f.write(whole[: len(whole) // 2])
        # A scan of another start directory.
        kelpo.make_tree(os.path.join(self.dir, "U"), {"u": {"f": 10}})
        self.record(tree="U")
        res = self.growth(["--format=json"])
        self.assertEqual(res.rc, 0, res.err)
        err = res.err.decode()
        self.assertIn("'notes.txt' is none of its scans; left alone", err)
        self.assertRegex(err, r"kelpo32-scan-20260101T000000Z.jsonl.gz: line 1, byte 0: "
                              r"damaged compressed data .*; left out")
        self.assertRegex(err, cut.replace(".", r"\.") + r": line \d+, byte \d+: truncated")
        self.assertRegex(err, r"3 scans of another start directory than '.*U' left out")
        # The newest is U's: the growth is of U, the scans of T counted.
        self.assertEqual(kelpo.json_lines(res.out)[0]["scans"], 1)
        # Recording again rotates its own files only.
        kelpo.run(["--history=H", "--format=json", "T"], cwd=self.dir, form=None)
        self.assertIn("notes.txt", os.listdir(history))
        with open(os.path.join(history, "notes.txt"), "rb") as f:
            self.assertEqual(f.read(), b"mine")

    def test_a_clock_set_back_is_named_and_ordered_by_recorded_time(self):
        self.grow()
        history = os.path.join(self.dir, "H")
        names = kept(history)
        # The oldest scan under a name after the newest: written last, dated first.
        stamp = names[-1][len("kelpo32-scan-"):-len(".jsonl.gz")]
        later = "kelpo32-scan-" + stamp[:-3] + "59Z.jsonl.gz"
        if later == names[-1]:
            self.skipTest("the newest scan is at second 59")
        shutil.copy(os.path.join(history, names[0]), os.path.join(history, later))
        res = self.growth(["--format=json"])
        self.assertEqual(res.rc, 0, res.err)
        self.assertIn(b"(the clock went back): ordered by their recorded times", res.err)
        self.assertEqual(kelpo.json_lines(res.out)[0]["scans"], 4)

    def test_the_browser_shows_the_growth(self):
        self.native_only()
        from test_browse import Browser
        self.grow()
        history = os.path.join(self.dir, "H")
        b = Browser(self, ["--history=" + history, "--history-keep=all", os.path.join(self.dir, "T")],
                    cols=120)
        rows = b.drawn("Window: 7 days")
        self.assertIn("/d", next(r for r in rows if "a/" in r))
        self.assertIn("\u2581", "".join(rows))  # the chart
        rows = b.key(b"G", " growth  Window")
        self.assertIn("a/", rows[1])
        b.key(b"w", "Window: 30 days")
        os.write(b.master, b"q")
        self.assertEqual(b.wait(), 0)
        self.assertEqual(b.err, b"")
        # Its walk was recorded too.
        self.assertEqual(len(kept(history)), 4)

    def test_mistakes(self):
        for args, message in [
            (["--growth"], b"'--growth' reads the history: it needs '--history=DIR'"),
            (["--history=H", "--from=x"], b"with '--from' nothing is walked"),
            (["--history=H", "--growth", "--compare=x"], b"it takes no '--compare'"),
            (["--history=H", "--growth", "--format=ncdu"], b"'--format=ncdu' has no growth"),
            (["--history=H", "--window=7"], b"'7'"),
            (["--history=H", "--history-keep=1h:"], b"'1h:'"),
        ]:
            res = kelpo.run(args, cwd=self.dir, form=None)
            self.assertNotEqual(res.rc, 0, args)
            self.assertEqual(res.out if not kelpo.WINDOWS else b"", b"", args)
            self.assertIn(message, res.out + res.err, args)
        res = self.growth()
        self.assertEqual(res.rc, 1)
        self.assertIn(b"no scan to read", res.err)

    def test_a_full_disk_leaves_the_history_as_it_was(self):
        self.native_only()
        if os.geteuid() != 0 or not shutil.which("unshare"):
            self.skipTest("needs root for a small private file system")
        kelpo.make_tree(os.path.join(self.dir, "T"),
                        {"d%03d" % i: {"f": 1000 + i} for i in range(400)})
        script = ('mount -t tmpfs -o size=64k tmpfs H && "$0" "$@" >/dev/null && ls H && '
                  'head -c 1000000 /dev/zero > H/fill 2>/dev/null; ls H; '
                  '"$0" "$@" >/dev/null; echo "rc=$?"; ls H')
        os.mkdir(os.path.join(self.dir, "H"))
        cmd = ["unshare", "-m", "--propagation", "private", "sh", "-c", script] + \
            kelpo.command(["--history=H", "--history-keep=all", "--no-progress", "T"], form=None)
        proc = subprocess.run(cmd, cwd=self.dir, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              stdin=subprocess.DEVNULL, timeout=60)
        if b"mount" in proc.stderr:
            self.skipTest("mounts are not allowed here: %r" % proc.stderr)
        out = proc.stdout.decode().split("\n")
        first = [l for l in out[:out.index("fill")] if l.startswith("kelpo32-scan-")]
        self.assertEqual(len(first), 1, out)
        rc = next(l for l in out if l.startswith("rc="))
        self.assertEqual(rc, "rc=1", proc.stderr)
        self.assertIn(b"No space left on device", proc.stderr)
        after = out[out.index(rc) + 1:]
        self.assertEqual(sorted(l for l in after if l), sorted(first + ["fill"]))


if __name__ == "__main__":
    kelpo.main()
