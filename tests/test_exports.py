"""The exports: JSON Lines, TSV and the ncdu export agree with the report of the
same tree; names of any bytes survive; the status line on standard error."""

import json
import os
import pty
import re
import select
import signal
import shutil
import subprocess
import time

import kelpo
from test_walk import random_tree

# Every byte that needs care in a name: quote, backslash, control characters,
# TAB and LF, DEL, invalid UTF-8 (a lone byte, a cut sequence, a surrogate).
TROUBLE = b'q"b\\s\x01\x1f\t\n\r\x7f\xff\xe6\x97\xed\xa0\x80\xc3\xa9'

DIR_LINE = re.compile(rb">\s*([\d,]+)\s+([\d,]+)$")
TOTAL_LINE = re.compile(rb"(?:Total in \".*\"|Total bytes): ([\d,]+)$")


def number(text):
    return int(text.replace(b",", b""))


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
    order = []

    def visit(o):
        order.append(o)
        for c in o["children"]:
            visit(c)
    visit(stack[0])
    return order


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
        for seed in (1, 2):
            root = self.tree(seed)
            for args in ([], ["/V2"]):
                report = kelpo.run(["--format=windows"] + args + [root], cwd=self.dir)
                self.assertEqual(report.rc, 0, report.err)
                lines = kelpo.lines(report.out)
                shown = [DIR_LINE.search(l) for l in lines[1:]
                         if b"Total" not in l and not re.fullmatch(rb"(\|\.\.\.)*", l)]
                totals = [number(m.group(1)) for m in map(TOTAL_LINE.search, lines) if m]

                text = self.export("json", args, root)
                self.assertTrue(text.endswith(b"\n"))
                objects = [json.loads(l) for l in text.split(b"\n")[:-1]]
                order = walk_order(objects)
                self.assertEqual(len(order), len(shown))
                for o, m in zip(order, shown):
                    if m:  # an over-deep line shows no numbers
                        self.assertEqual((o["files"], o["bytes"]),
                                         (number(m.group(1)), number(m.group(2))), o["path"])
                    self.assertEqual(len(o["children"]) if not args else o["dirs"], o["dirs"])
                # Total lines: directories with subdirectories above the drawn depth.
                self.assertEqual([o["total_bytes"] for o in objects
                                  if o["dirs"] > 0 and o["depth"] < 60], totals)
                if not args:
                    for o in objects:
                        self.assertEqual(o["total_files"],
                                         o["files"] + sum(c["total_files"] for c in o["children"]))
                        self.assertEqual(o["total_dirs"],
                                         sum(1 + c["total_dirs"] for c in o["children"]))
                        self.assertEqual(o["total_bytes"],
                                         o["bytes"] + sum(c["total_bytes"] for c in o["children"]))
                    self.assertEqual(order[0]["path"], root)
                    self.assertEqual(order[0]["depth"], 0)

                # TSV: the same directories, numbers and paths, one per line.
                rows = self.export("tsv", args, root).split(b"\n")[:-1]
                self.assertEqual(len(rows), len(objects))
                for row, o in zip(rows, objects):
                    fields = row.split(b"\t")
                    self.assertEqual(len(fields), 5, row)
                    self.assertEqual([int(f) for f in fields[:4]],
                                     [o["total_bytes"], o["total_files"], o["bytes"], o["files"]])
                    self.assertEqual(tsv_path(fields[4]), os.fsencode(o["path"]))

    def test_a_name_of_every_troublesome_byte_names_its_directory(self):
        self.native_only()
        root = self.tree(3)
        text = self.export("json", [], root)
        found = [os.fsencode(json.loads(l)["path"]) for l in text.split(b"\n")[:-1]
                 if TROUBLE in os.fsencode(json.loads(l)["path"])]
        self.assertEqual(len(found), 1)
        self.assertTrue(os.path.isfile(os.path.join(found[0], b"f")))
        text.decode("utf-8")  # invalid bytes are escapes, valid UTF-8 stays

    def test_json_has_no_banner_and_keeps_the_log(self):
        self.native_only()
        kelpo.make_tree(os.path.join(self.dir, "T"), {"a": {"f": 3}, "g": 4})
        res = kelpo.run(["/J", "/L", "/T", "/W40", "T"], cwd=self.dir)
        self.assertEqual(res.rc, 0, res.err)
        self.assertEqual([json.loads(l)["path"] for l in res.out.decode().splitlines()],
                         ["T/a", "T"])
        with open(os.path.join(self.dir, "logfile.txt"), "rb") as f:
            self.assertIn(b"Level: 1", f.read())


def ncdu_dirs(node, path, out):
    """Every directory of an ncdu export below `node` (its array) as
    path -> (info, files, their bytes)."""
    info, items = node[0], node[1:]
    files = [i for i in items if isinstance(i, dict)]
    out[path] = (info, len(files), sum(f.get("asize", 0) for f in files))
    for sub in items:
        if isinstance(sub, list):
            ncdu_dirs(sub, path + b"/" + os.fsencode(sub[0]["name"]), out)
    return out


class Ncdu(kelpo.Case):
    def test_export_agrees_with_json_lines_and_imports(self):
        self.native_only()
        root = os.path.join(self.dir, "T")
        random_tree(root, 5)
        os.makedirs(os.path.join(root, "h"))
        with open(os.path.join(root, "h", "big"), "wb") as f:
            f.truncate(10 ** 6)
        os.link(os.path.join(root, "h", "big"), os.path.join(root, "big-again"))
        os.mkfifo(os.path.join(root, "h", "fifo"))
        res = kelpo.run(["--format=ncdu", "T"], cwd=self.dir)
        self.assertEqual(res.rc, 0, res.err)
        data = json.loads(res.out)
        self.assertEqual(data[:2], [1, 2])
        self.assertEqual(data[2]["progname"], "kelpo32")
        self.assertEqual(data[3][0]["name"], "T")
        self.assertIn("dev", data[3][0])
        dirs = ncdu_dirs(data[3], b"T", {})
        lines = kelpo.run(["/J", "T"], cwd=self.dir).out.decode().splitlines()
        objects = {os.fsencode(o["path"]): o for o in map(json.loads, lines)}
        self.assertEqual(sorted(dirs), sorted(objects))
        for path, (info, files, size) in dirs.items():
            self.assertEqual((files, size), (objects[path]["files"], objects[path]["bytes"]), path)
        items = {i["name"]: i for i in data[3][1:] if isinstance(i, dict)}
        self.assertEqual((items["big-again"]["nlink"], items["big-again"]["asize"]), (2, 10 ** 6))
        h = [d for d in data[3][1:] if isinstance(d, list) and d[0]["name"] == "h"][0]
        self.assertTrue([i for i in h[1:] if i["name"] == "fifo"][0]["notreg"])
        self.assertTrue(all(i.get("notreg") for i in data[3][1:] if isinstance(i, dict)
                            and os.path.islink(os.path.join(root, i["name"]))))

        export = os.path.join(self.dir, "scan.json")
        with open(export, "wb") as f:
            f.write(res.out)
        if shutil.which("ncdu"):
            # Its status line after its own scan and after the import.
            def totals(args):
                shown = kelpo.run_pty(args, cwd=self.dir, cols=100, rows=30, keys=[(1.5, b"q")],
                                      env=kelpo.environment({"TERM": "xterm"}))
                text = re.sub(rb"\x1b(\[[0-9;?]*[A-Za-z]|\([AB0]|[=>])", b"", shown.raw)
                return re.findall(rb"Total disk usage:.*?Items: *\d+", text)[-1:]
            global_exe, kelpo.EXE = kelpo.EXE, shutil.which("ncdu")
            try:
                own = totals(["T"])
                self.assertTrue(own)
                self.assertEqual(totals(["-f", export]), own)
            finally:
                kelpo.EXE = global_exe
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
        user = 65534 if os.geteuid() == 0 else None
        res = kelpo.run(["/J", "T"], cwd=self.dir, user=user)
        self.assertEqual(res.rc, 0, res.err)
        errors = {o["path"]: o.get("error") for o in map(json.loads, res.out.splitlines())}
        self.assertEqual(errors, {"T/locked": "permission denied", "T/ok": None, "T": None})
        res = kelpo.run(["--format=ncdu", "T"], cwd=self.dir, user=user)
        dirs = ncdu_dirs(json.loads(res.out)[3], b"T", {})
        self.assertEqual([p for p, d in dirs.items() if d[0].get("read_error")], [b"T/locked"])


class WindowsNames(kelpo.Case):
    def test_json_gives_the_real_names_in_utf8(self):
        from test_names import hostile_tree
        root = kelpo.make_tree(os.path.join(self.dir, "T"), hostile_tree())
        res = kelpo.run(["/J", "T"], cwd=self.dir)
        self.assertEqual(res.rc, 0, res.err)
        objects = [json.loads(l) for l in res.out.decode("utf-8").splitlines()]
        top = {o["path"]: o for o in objects if o["depth"] == 1}
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
        """Runs a report into a pipe that is read only after a pause, so the
        run lasts long enough for the status line; standard error on a
        pseudo-terminal or a file. kill: SIGTERM once the line is shown."""
        master, slave = pty.openpty()
        kelpo.set_winsize(slave, 60, 24)
        errfile = os.path.join(self.dir, "err")
        err = slave if stderr_tty else open(errfile, "wb")
        r, w = os.pipe()
        proc = subprocess.Popen(kelpo.command(args), cwd=self.dir, stdin=subprocess.DEVNULL,
                                stdout=w, stderr=err,
                                env=kelpo.environment({"KELPO32_THREADS": "1"}))
        os.close(w)
        if not stderr_tty:
            err.close()
        time.sleep(1.0)
        raw = b""
        start = time.monotonic()
        while time.monotonic() - start < 60:
            ready, _, _ = select.select([r, master], [], [], 0.2)
            done = False
            for f in ready:
                try:
                    data = os.read(f, 65536)
                except OSError:
                    data = b""
                if f == master:
                    raw += data
                    if kill and b" dirs, " in raw:
                        proc.send_signal(signal.SIGTERM)
                        kill = False
                elif not data:
                    done = True
            if done:
                break
        proc.wait(timeout=60)
        while select.select([master], [], [], 0.1)[0]:
            raw += os.read(master, 65536)
        os.close(r)
        os.close(master)
        os.close(slave)
        if not stderr_tty:
            with open(errfile, "rb") as f:
                raw = f.read()
        return proc.returncode, raw

    def test_status_line_on_a_terminal_erased_at_the_end(self):
        self.native_only()
        kelpo.make_tree(os.path.join(self.dir, "T"),
                        {"dir%04d" % i + "x" * 60: {"f": i} for i in range(4000)})
        rc, raw = self.run_redirected(["T"], True)
        self.assertEqual(rc, 0)
        self.assertRegex(raw, rb"\r[\d,]+ dirs, [\d,]+ files, [\d,]+ bytes, 0:0\d  T/dir")
        self.assertTrue(raw.endswith(b" \r"), raw[-80:])
        self.assertEqual(kelpo.screen(raw, 60, 24), [""] * 24)
        for line in raw.split(b"\r"):
            self.assertLessEqual(len(line), 59)
        # A signal that ends the run blanks the line too.
        rc, raw = self.run_redirected(["T"], True, kill=True)
        self.assertEqual(rc, -signal.SIGTERM)
        self.assertEqual(kelpo.screen(raw, 60, 24), [""] * 24)
        rc, raw = self.run_redirected(["--no-progress", "T"], True)
        self.assertEqual((rc, raw), (0, b""))
        rc, raw = self.run_redirected(["T"], False)
        self.assertEqual((rc, raw), (0, b""))


if __name__ == "__main__":
    kelpo.main()
