"""The exports: JSON Lines, TSV and the ncdu export agree with the report of the
same tree; names of any bytes survive; the status line on standard error."""

import json
import os
import pathlib
import re
import signal
import shutil
import subprocess
from unittest import mock

import kelpo
from test_walk import random_tree

# Every byte that needs care in a name: quote, backslash, control characters,
# TAB and LF, DEL, invalid UTF-8 (a lone byte, a cut sequence, a surrogate).
TROUBLE = b'q"b\\s\x01\x1f\t\n\r\x7f\xff\xe6\x97\xed\xa0\x80\xc3\xa9'

DIR_LINE = re.compile(rb">\s*([\d,]+)\s+([\d,]+)$")
TOTAL_LINE = re.compile(rb"(?:Total in \".*\"|Total bytes): ([\d,]+)$")


def walk_order(objects):
    """The objects of JSON Lines (children before their parent) in the order
    of the report (a parent before its children), each with its children."""
    stack = []
    for o in objects:
        o["children"] = []
        while stack and stack[-1]["depth"] == o["depth"] + 1:
            o["children"].insert(0, stack.pop())
        stack.append(o)
    assert len(stack) == 1, [s["path"] for s in stack]

    def visit(o):
        return [o] + [d for c in o["children"] for d in visit(c)]
    return visit(stack[0])


def tsv_path(text):
    """The bytes of a TSV path field."""
    simple = {b"t": b"\t", b"n": b"\n", b"r": b"\r", b"\\": b"\\"}
    return re.sub(rb"\\(x..|.)", lambda m: simple.get(m.group(1)) or bytes([int(m.group(1)[1:], 16)]),
                  text, flags=re.S)


class Exports(kelpo.Case):
    def tree(self, seed):
        root = os.path.join(self.dir, "t%d" % seed)
        random_tree(root, seed)
        odd = os.path.join(os.fsencode(root), b"d0" if seed % 2 else b"", TROUBLE)
        os.makedirs(odd, exist_ok=True)
        with open(os.path.join(odd, b"f"), "wb") as f:
            f.truncate(77)
        return root

    def export(self, fmt, args, root):
        res = kelpo.run(["--format=" + fmt] + args + [root], cwd=self.dir)
        self.assertEqual(res.rc, 0, res.err)
        return res.out

    def test_json_and_tsv_agree_with_the_report(self):
        self.native_only()
        for seed in (1, 2):  # the odd name at the top and one level down
            root = self.tree(seed)
            for args in ([], ["/V2"]):
                lines = kelpo.lines(self.export("windows", args, root))
                shown = [DIR_LINE.search(l) for l in lines[1:]
                         if b"Total" not in l and not re.fullmatch(rb"(\|\.\.\.)*", l)]
                totals = [kelpo.number(m[1]) for m in map(TOTAL_LINE.search, lines) if m]

                text = self.export("json", args, root)
                self.assertTrue(text.endswith(b"\n"))
                objects = kelpo.json_lines(text)
                order = walk_order(objects)
                self.assertEqual(len(order), len(shown))
                for o, m in zip(order, shown):
                    if m:  # an over-deep line shows no numbers
                        self.assertEqual((o["files"], o["bytes"]),
                                         (kelpo.number(m[1]), kelpo.number(m[2])), o["path"])
                    kids = o["children"]
                    if not args:
                        self.assertEqual(
                            (o["dirs"], o["total_files"], o["total_dirs"], o["total_bytes"]),
                            (len(kids), o["files"] + sum(c["total_files"] for c in kids),
                             sum(1 + c["total_dirs"] for c in kids),
                             o["bytes"] + sum(c["total_bytes"] for c in kids)), o["path"])
                # Total lines: directories with subdirectories above the drawn depth.
                self.assertEqual([o["total_bytes"] for o in objects
                                  if o["dirs"] > 0 and o["depth"] < 60], totals)
                if not args:
                    self.assertEqual((order[0]["path"], order[0]["depth"]), (root, 0))
                    # The name of every troublesome byte names its directory, and
                    # invalid bytes are escapes while valid UTF-8 stays.
                    found = [p for p in (os.fsencode(o["path"]) for o in objects) if TROUBLE in p]
                    self.assertEqual(len(found), 1)
                    self.assertTrue(os.path.isfile(os.path.join(found[0], b"f")))
                    text.decode("utf-8")

                # TSV: the same directories, numbers, paths and problems, one per line.
                rows = self.export("tsv", args, root).split(b"\n")[:-1]
                self.assertEqual(len(rows), len(objects))
                for row, o in zip(rows, objects):
                    fields = row.split(b"\t")
                    self.assertEqual([int(f) for f in fields[:-2]] + [tsv_path(fields[-2]),
                                                                      fields[-1].decode()],
                                     [o["total_bytes"], o["total_files"], o["bytes"], o["files"],
                                      os.fsencode(o["path"]), o.get("error", "")], row)

    def test_json_has_no_banner_and_keeps_the_log(self):
        self.native_only()
        kelpo.make_tree(os.path.join(self.dir, "T"), {"a": {"f": 3}, "g": 4})
        res = kelpo.run(["/J", "/L", "/T", "/W40", "T"], cwd=self.dir)
        self.assertEqual(res.rc, 0, res.err)
        self.assertEqual([o["path"] for o in kelpo.json_lines(res.out)], ["T/a", "T"])
        with open(os.path.join(self.dir, "logfile.txt"), "rb") as f:
            self.assertIn(b"Level: 1", f.read())


def ncdu_dirs(node, path, out, seen=None):
    """Every directory of an ncdu export below `node` (its array) as
    path -> (info, files, their bytes), as an importer counts them: a file
    of several links (its "ino") where it comes first, a directory's files
    before its subdirectories."""
    seen = set() if seen is None else seen
    info, items = node[0], node[1:]
    files = [i for i in items if isinstance(i, dict)]
    counted = [f for f in files if "ino" not in f or f["ino"] not in seen]
    seen.update(f["ino"] for f in files if "ino" in f)
    out[path] = (info, len(files), sum(f.get("asize", 0) for f in counted))
    for sub in items:
        if isinstance(sub, list):
            ncdu_dirs(sub, path + b"/" + os.fsencode(sub[0]["name"]), out, seen)
    return out


class Ncdu(kelpo.Case):
    def test_export_agrees_with_json_lines_and_imports(self):
        self.native_only()
        root = os.path.join(self.dir, "T")
        random_tree(root, 5)
        kelpo.make_tree(os.path.join(root, "h"), {"big": 10 ** 6})
        os.link(os.path.join(root, "h", "big"), os.path.join(root, "big-again"))
        os.mkfifo(os.path.join(root, "h", "fifo"))
        res = kelpo.run(["--format=ncdu", "T"], cwd=self.dir)
        self.assertEqual(res.rc, 0, res.err)
        data = json.loads(res.out)
        self.assertEqual((data[:2], data[2]["progname"], data[3][0]["name"], "dev" in data[3][0]),
                         ([1, 2], "kelpo32", "T", True))
        dirs = ncdu_dirs(data[3], b"T", {})
        json_out = kelpo.run(["/J", "T"], cwd=self.dir).out
        objects = {os.fsencode(o["path"]): o for o in kelpo.json_lines(json_out)}
        self.assertEqual({p: d[1:] for p, d in dirs.items()},
                         {p: (o["files"], o["bytes"]) for p, o in objects.items()})
        items = {i["name"]: i for i in data[3][1:] if isinstance(i, dict)}
        self.assertEqual((items["big-again"]["nlink"], items["big-again"]["asize"]), (2, 10 ** 6))
        h = [d for d in data[3][1:] if isinstance(d, list) and d[0]["name"] == "h"][0]
        self.assertTrue([i for i in h[1:] if i["name"] == "fifo"][0]["notreg"])
        self.assertTrue(all(i.get("notreg") for n, i in items.items()
                            if os.path.islink(os.path.join(root, n))))

        export = os.path.join(self.dir, "scan.json")
        pathlib.Path(export).write_bytes(res.out)
        if shutil.which("ncdu"):
            # Its status line after its own scan and after the import.
            def totals(args):
                shown = kelpo.run_pty(args, cwd=self.dir, cols=100, rows=30, keys=[(1.5, b"q")],
                                      env=kelpo.environment({"TERM": "xterm"}))
                text = re.sub(rb"\x1b(\[[0-9;?]*[A-Za-z]|\([AB0]|[=>])", b"", shown.raw)
                return re.findall(rb"Total disk usage:.*?Items: *\d+", text)[-1:]
            with mock.patch.object(kelpo, "EXE", shutil.which("ncdu")):
                own = totals(["T"])
                self.assertTrue(own)
                self.assertEqual(totals(["-f", export]), own)
        if not shutil.which("gdu"):
            self.skipTest("gdu is not installed (./run-tests.sh installs it): import not checked")
        # Its own scan and the import show the same apparent sizes.
        own = subprocess.run(["gdu", "-n", "-a", "T"], cwd=self.dir, capture_output=True)
        imported = subprocess.run(["gdu", "-n", "-a", "-f", export], cwd=self.dir,
                                  capture_output=True)
        self.assertEqual(imported.returncode, 0, imported.stderr)
        # The flags column (hard link, empty) aside.
        self.assertEqual([l[1:] for l in imported.stdout.splitlines()],
                         [l[1:] for l in own.stdout.splitlines()])


class Unreadable(kelpo.Case):
    def test_json_error_and_ncdu_read_error(self):
        self.native_only()
        os.chmod(self.dir, 0o755)
        kelpo.make_tree(os.path.join(self.dir, "T"), {"locked": {"x": {}}, "ok": {"f": 1}})
        os.chmod(os.path.join(self.dir, "T", "locked"), 0)
        user = kelpo.NOBODY if kelpo.ROOT else None
        res = kelpo.run(["/J", "T"], cwd=self.dir, user=user)
        self.assertEqual((res.rc, {o["path"]: o.get("error") for o in kelpo.json_lines(res.out)}),
                         (1, {"T/locked": "permission denied", "T/ok": None, "T": None}), res.err)
        res = kelpo.run(["--format=tsv", "T"], cwd=self.dir, user=user)
        self.assertEqual(res.out, b"0\t0\t0\t0\tT/locked\tpermission denied\n"
                                  b"1\t1\t1\t1\tT/ok\t\n1\t1\t0\t0\tT\t\n")
        res = kelpo.run(["--format=ncdu", "T"], cwd=self.dir, user=user)
        dirs = ncdu_dirs(json.loads(res.out)[3], b"T", {})
        self.assertEqual([p for p, d in dirs.items() if d[0].get("read_error")], [b"T/locked"])


class WindowsNames(kelpo.Case):
    def test_json_gives_the_real_names_in_utf8(self):
        from test_names import hostile_tree
        root = kelpo.make_tree(os.path.join(self.dir, "T"), hostile_tree())
        res = kelpo.run(["/J", "T"], cwd=self.dir)
        self.assertEqual(res.rc, 0, res.err)
        res.out.decode("utf-8")
        top = {o["path"]: o for o in kelpo.json_lines(res.out) if o["depth"] == 1}
        self.assertEqual(sorted(top), sorted("T" + kelpo.SEP + n for n in os.listdir(root)))
        for path, o in top.items():
            name = path.split(kelpo.SEP, 1)[1]
            sizes = [e.stat().st_size for e in os.scandir(os.path.join(root, name)) if e.is_file()]
            self.assertEqual((o["files"], o["bytes"]), (len(sizes), sum(sizes)), name)


class Console(kelpo.Case):
    def test_json_on_a_terminal_is_text(self):
        names = ["Привет", "日本語", "Café"]
        kelpo.make_tree(os.path.join(self.dir, "T"), {n: {"f": 1} for n in names})
        res = kelpo.run_pty(["/J", "T"], cwd=self.dir, cols=120, rows=25, stdin_tty=False)
        self.assertEqual(res.rc, 0, res.err)
        shown = [l for l in kelpo.screen(res.raw, 120, 25) if l.startswith("{")]
        self.assertEqual(sorted(json.loads(l)["path"] for l in shown),
                         sorted(["T"] + ["T" + kelpo.SEP + n for n in names]))


class Progress(kelpo.Case):
    def run_redirected(self, args, stderr_tty, kill=False):
        """A report into a pipe read only after a pause, so the run lasts long
        enough for the status line. kill: SIGTERM once the line is shown."""
        return kelpo.run_stderr_pty(args, self.dir, env=kelpo.threads(1), stderr_tty=stderr_tty,
                                    kill_on=b" dirs, " if kill else None)

    def test_status_line_on_a_terminal_erased_at_the_end(self):
        self.native_only()
        kelpo.make_tree(os.path.join(self.dir, "T"),
                        {"dir%04d" % i + "x" * 60: {"f": i} for i in range(4000)})
        rc, raw = self.run_redirected(["T"], True)
        self.assertEqual(rc, 0)
        self.assertRegex(raw, rb"\r[\d,]+ dirs, [\d,]+ files, [\d,]+ bytes, 0:0\d  T/dir")
        self.assertTrue(raw.endswith(b" \r"), raw[-80:])
        self.assertEqual(kelpo.screen(raw, 60, 24), [""] * 24)
        self.assertLessEqual(max(map(len, raw.split(b"\r"))), 59)
        # A signal that ends the run blanks the line too.
        rc, raw = self.run_redirected(["T"], True, kill=True)
        self.assertEqual(rc, -signal.SIGTERM)
        self.assertEqual(kelpo.screen(raw, 60, 24), [""] * 24)
        for args, stderr_tty in ((["--no-progress", "T"], True), (["T"], False)):
            self.assertEqual(self.run_redirected(args, stderr_tty), (0, b""), args)


if __name__ == "__main__":
    kelpo.main()
