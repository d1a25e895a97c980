"""The metrics form: the collector's own checker accepts every file the
program writes, hostile names included, with the tree's exact numbers; and end
to end, a node exporter's textfile collector and a Prometheus server read the
file that --output puts in place, and see what grew."""

import json
import os
import re
import shutil
import socket
import subprocess
import time
import urllib.parse
import urllib.request

import kelpo
from kelpo import SEP, WINDOWS

PROMTOOL = shutil.which("promtool")
SERVER = shutil.which("prometheus")
EXPORTER = shutil.which("prometheus-node-exporter")
MISSING = "needs Debian's prometheus and prometheus-node-exporter (run-tests.sh installs them)"

# Names that need care, each a directory holding one file of a known size:
# the format's own escapes, a backslash that looks like an escape, control
# characters, and (POSIX) bytes that are no UTF-8.
# (Windows names hold no double quote or backslash: there its separators are
# the backslashes to escape.)
HOSTILE = [b"\\xff" if not WINDOWS else b"xff", b"caf\xc3\xa9", b"\xe2\x82\xac 100%",
           b"brace}{=,", b"it's [x]"]
if not WINDOWS:
    HOSTILE += [b'quo"te', b"back\\slash", b"line\nfeed", b"esc\x1b[31m", b"csi\xc2\x9b",
                b"\xff", b"cut\xe2\x82", b"tab\tcr\r"]

SAMPLE = re.compile(rb'^([a-z0-9_]+)\{(.*)\} (\S+)$')
LABEL = re.compile(rb'(\w+)="((?:[^"\\]|\\.)*)"')


def label_text(quoted):
    """A label's value as the collector reads it."""
    return re.sub(rb"\\(.)", lambda m: b"\n" if m.group(1) == b"n" else m.group(1), quoted)


def path_of(value):
    """The path a label value stands for: where names are bytes, "\\\\" is a
    backslash and "\\xhh" a byte."""
    if WINDOWS:
        return value
    return re.sub(rb"\\(\\|x..)",
                  lambda m: b"\\" if m.group(1) == b"\\" else bytes([int(m.group(1)[1:], 16)]),
                  value)


def samples(text):
    """{metric: {path bytes (or None for the run's): (labels, value)}}."""
    out = {}
    for line in text.splitlines():
        if line.startswith(b"#"):
            continue
        m = SAMPLE.match(line)
        assert m, line
        labels = {k: label_text(v) for k, v in LABEL.findall(m.group(2))}
        path = path_of(labels[b"path"]) if b"path" in labels else None
        metric = out.setdefault(m.group(1).decode(), {})
        assert path not in metric, (line, "a path twice")
        metric[path] = (labels, float(m.group(3)))
    return out


def json_totals(out):
    """{path bytes: (total bytes, total files)} of the JSON Lines export."""
    rows = {}
    for o in kelpo.json_lines(out):
        if "more" in o:
            continue
        path = o["path"].encode("utf-8", "surrogateescape")
        rows[path] = (o["total_bytes"], o["total_files"])
    return rows


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Exposition(kelpo.Case):
    def hostile_tree(self):
        root = os.path.join(os.fsencode(self.dir), b"T")
        for i, name in enumerate(HOSTILE):
            d = os.path.join(root, b"sub", name)
            os.makedirs(d)
            with open(os.path.join(d, b"f"), "wb") as f:
                f.truncate(1000 + i)
        os.makedirs(os.path.join(root, b"a", b"b", b"c", b"d", b"e"))
        with open(os.path.join(root, b"a", b"b", b"c", b"d", b"e", b"deep"), "wb") as f:
            f.truncate(7)
        return "T"

    def test_every_file_passes_the_collectors_checker_with_the_trees_numbers(self):
        if not PROMTOOL:
            self.skipTest(MISSING)
        start = self.hostile_tree()
        selections = [[], ["--top=2"], ["--min-size=1001"], ["/V1"], ["--max-depth=9"],
                      ["--disk-usage"], ["--exclude=e"]]
        for args in selections:
            with self.subTest(args=args):
                res = kelpo.run(["--format=prometheus"] + args + [start], cwd=self.dir, form=None)
                self.assertEqual(res.rc, 0, res.err)
                check = subprocess.run([PROMTOOL, "check", "metrics"], input=res.out,
                                       capture_output=True, timeout=60)
                self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
                got = samples(res.out)
                # The same selection, the default depth written out.
                bounded = any(a.startswith(("--top", "--min", "/V", "--max", "--ex")) for a in args)
                same = args + ([] if bounded else ["--max-depth=3"])
                exported = json_totals(kelpo.run(["--format=json"] + same + [start],
                                                 cwd=self.dir, form=None).out)
                sizes = got["kelpo32_directory_size_bytes"]
                files = got["kelpo32_directory_files"]
                if args in ([], ["--max-depth=9"], ["--disk-usage"]):
                    # Every directory, and so every hostile name, has its series.
                    for name in HOSTILE:
                        self.assertIn(SEP.encode().join([b"T", b"sub", name]), sizes)
                for path, (total_bytes, total_files) in exported.items():
                    self.assertEqual(sizes[path][1], total_bytes, path)
                    self.assertEqual(files[path][1], total_files, path)
                    self.assertEqual(sizes[path][0][b"start"], b"T")
                self.assertEqual(set(sizes), set(exported))
                run = got["kelpo32_scan_completed"][None]
                self.assertEqual(run, ({b"start": b"T"}, 1.0))
                self.assertEqual(got["kelpo32_scan_unreadable_directories"][None][1], 0)

    def test_the_default_depth_and_what_bounds_it(self):
        start = self.hostile_tree()
        cases = [([], 3), (["--max-depth=5"], 5), (["/V2"], 2), (["--min-size=1"], 5),
                 (["--top=9"], 5)]
        for args, deepest in cases:
            with self.subTest(args=args):
                res = kelpo.run(["--format=prometheus"] + args + [start], cwd=self.dir, form=None)
                self.assertEqual(res.rc, 0, res.err)
                depths = {int(labels[b"depth"]) for labels, _ in
                          samples(res.out)["kelpo32_directory_size_bytes"].values()}
                self.assertEqual(max(depths), deepest)
                # What is not listed still counts above it.
                root = samples(res.out)["kelpo32_directory_size_bytes"][b"T"][1]
                self.assertEqual(root, 7 + sum(1000 + i for i in range(len(HOSTILE))))

    def test_the_rest_of_top_is_no_directory(self):
        start = self.hostile_tree()
        res = kelpo.run(["--format=prometheus", "--top=1", start], cwd=self.dir, form=None)
        got = samples(res.out)
        sub = SEP.encode().join([b"T", b"sub"])
        self.assertEqual(got["kelpo32_directory_rest_directories"][sub][1], len(HOSTILE) - 1)
        listed = sum(v for _, v in got["kelpo32_directory_size_bytes"].values()
                     if _[b"depth"] == b"2")
        self.assertEqual(listed + got["kelpo32_directory_rest_size_bytes"][sub][1],
                         sum(1000 + i for i in range(len(HOSTILE))))

    def test_no_comparison_and_output_into_a_file(self):
        start = self.hostile_tree()
        res = kelpo.run(["--format=prometheus", "--compare=old.json", start], cwd=self.dir,
                        form=None)
        self.assertNotEqual(res.rc, 0)
        self.assertIn(b"has no comparison", res.err + res.out)
        with open(os.path.join(self.dir, "kelpo32.prom"), "wb") as f:
            f.write(b"last\n")
        # A start directory that cannot be entered is said where it always is,
        # and the last file stays.
        res = kelpo.run(["--format=prometheus", "--output=kelpo32.prom", "missing"], cwd=self.dir,
                        form=None)
        self.assertEqual(res.rc, 1)
        self.assertIn(b"No such directory" if WINDOWS else b"cannot enter 'missing'",
                      res.out + res.err)
        with open(os.path.join(self.dir, "kelpo32.prom"), "rb") as f:
            self.assertEqual(f.read(), b"last\n")
        res = kelpo.run(["--format=prometheus", "--output=kelpo32.prom", start], cwd=self.dir,
                        form=None)
        self.assertEqual((res.rc, res.out), (0, b""), res.err)
        with open(os.path.join(self.dir, "kelpo32.prom"), "rb") as f:
            self.assertEqual(len(samples(f.read())["kelpo32_directory_size_bytes"]),
                             len(HOSTILE) + 5)  # T, sub, its names, a, a/b, a/b/c
        self.assertEqual([n for n in os.listdir(self.dir) if n.endswith(".tmp")], [])


    def test_unreadable_directories_are_counted_and_the_file_still_lands(self):
        self.native_only()
        if not kelpo.ROOT or not shutil.which("setpriv"):
            self.skipTest("needs root to run as another user")
        os.chmod(self.dir, 0o755)
        kelpo.make_tree(os.path.join(self.dir, "T"), {"open": {"f": 10}, "closed": {"g": 20},
                                                      "shut": {}})
        for name in ("closed", "shut"):
            os.chmod(os.path.join(self.dir, "T", name), 0o700)
        out = os.path.join(self.dir, "out")
        os.mkdir(out)
        os.chown(out, kelpo.NOBODY, kelpo.NOBODY)
        res = kelpo.run(["--format=prometheus", "--output=out/k.prom", "T"], cwd=self.dir,
                        user=kelpo.NOBODY, form=None)
        # The run is complete with parts missing: exit code 1 as du's, and
        # the file says how many directories could not be read.
        self.assertEqual((res.rc, res.out), (1, b""))
        self.assertEqual(os.listdir(out), ["k.prom"])
        with open(os.path.join(out, "k.prom"), "rb") as f:
            got = samples(f.read())
        self.assertEqual(got["kelpo32_scan_unreadable_directories"][None][1], 2)
        self.assertEqual(got["kelpo32_scan_completed"][None][1], 1)
        self.assertEqual(got["kelpo32_directory_size_bytes"][b"T"][1], 10)


class Collector(kelpo.Case):
    """A node exporter and a Prometheus server on 127.0.0.1, started and
    stopped by the test."""

    def start_server(self, cmd, log):
        proc = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                cwd=self.dir)

        def stop():
            if proc.poll() is None:
                proc.terminate()
                try:
                    proc.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait(timeout=10)
        self.addCleanup(stop)
        return proc

    def query(self, port, expr):
        url = "http://127.0.0.1:%d/api/v1/query?%s" % (port, urllib.parse.urlencode({"query": expr}))
        with urllib.request.urlopen(url, timeout=5) as r:
            body = json.load(r)
        assert body["status"] == "success", body
        return {tuple(sorted(s["metric"].items())): float(s["value"][1])
                for s in body["data"]["result"]}

    def wait_for(self, port, expr, want, procs, limit=40):
        deadline = time.monotonic() + limit
        last = None
        while time.monotonic() < deadline:
            for p in procs:
                self.assertIsNone(p.poll(), "a server ended: see %s" % self.log.name)
            try:
                last = self.query(port, expr)
                if want(last):
                    return last
            except OSError:
                pass  # not listening yet
            time.sleep(0.25)
        self.fail("%s never gave what was wanted; last %r" % (expr, last))

    def test_a_collector_reads_the_file_and_sees_what_grew(self):
        self.native_only()
        if not (SERVER and EXPORTER):
            self.skipTest(MISSING)
        textfiles = os.path.join(self.dir, "textfiles")
        os.mkdir(textfiles)
        tree = kelpo.make_tree(os.path.join(self.dir, "tree"),
                               {"a": {"x": 1000, "b": {"y": 200}}, "c": {"z": 30}})
        exporter_port, server_port = free_port(), free_port()
        config = os.path.join(self.dir, "prometheus.yml")
        with open(config, "w") as f:
            f.write("global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                    "scrape_configs:\n  - job_name: node\n    static_configs:\n"
                    "      - targets: ['127.0.0.1:%d']\n" % exporter_port)
        self.log = open(os.path.join(self.dir, "servers.log"), "wb")
        self.addCleanup(self.log.close)
        exporter = self.start_server(
            [EXPORTER, "--web.listen-address=127.0.0.1:%d" % exporter_port,
             "--collector.disable-defaults", "--collector.textfile",
             "--collector.textfile.directory=" + textfiles], self.log)
        server = self.start_server(
            [SERVER, "--config.file=" + config, "--storage.tsdb.path=" + os.path.join(self.dir, "tsdb"),
             "--web.listen-address=127.0.0.1:%d" % server_port], self.log)
        procs = [exporter, server]

        def scan():
            res = kelpo.run(["--format=prometheus", "--output=" + os.path.join(textfiles, "kelpo32.prom"),
                             tree], form=None)
            self.assertEqual((res.rc, res.out), (0, b""), res.err)

        def sizes(result):
            return {dict(k)["path"]: v for k, v in result.items()}

        scan()
        first = sizes(self.wait_for(server_port, "kelpo32_directory_size_bytes",
                                    lambda r: len(r) == 4, procs))
        self.assertEqual(first, {tree: 1230, tree + "/a": 1200, tree + "/a/b": 200,
                                 tree + "/c": 30})
        files = sizes(self.query(server_port, "kelpo32_directory_files"))
        self.assertEqual(files, {tree: 3, tree + "/a": 2, tree + "/a/b": 1, tree + "/c": 1})
        self.assertEqual(list(self.query(server_port, "kelpo32_scan_completed").values()), [1.0])

        with open(os.path.join(tree, "a", "b", "grown"), "wb") as f:
            f.truncate(5000)
        time.sleep(1.5)  # a scrape or two of the old numbers
        scan()
        self.wait_for(server_port, 'kelpo32_directory_size_bytes{path="%s/a/b"}' % tree,
                      lambda r: list(r.values()) == [5200.0], procs)
        time.sleep(1.5)
        grew = sizes(self.query(server_port, "max_over_time(kelpo32_directory_size_bytes[5m]) - "
                                             "min_over_time(kelpo32_directory_size_bytes[5m])"))
        self.assertEqual(grew, {tree: 5000, tree + "/a": 5000, tree + "/a/b": 5000,
                                tree + "/c": 0})
        top = self.query(server_port, "topk(10, delta(kelpo32_directory_size_bytes[5m]))")
        growth = sizes(top)
        self.assertEqual(growth[tree + "/c"], 0)
        for path in (tree, tree + "/a", tree + "/a/b"):
            self.assertGreater(growth[path], 0)


if __name__ == "__main__":
    kelpo.main()
