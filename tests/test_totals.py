"""The layout of totals, the largest files and the exclusions on a small real
tree, redirected (both builds; the Windows build under Wine)."""

import json
import os
import re
import shutil

import kelpo
from kelpo import SEP, WINDOWS

TREE = {
    "r.txt": 7,
    "lo": {"l.bin": 1023},
    "kib": {"k.bin": 1024},
    "big": {"b.bin": 1048575},
    "mix": {"m.o": 100, "n.txt": 10, "sub": {"s.txt": 1}},
    "skip": {"z.bin": 5000},
}
TOP = b"DATA" if WINDOWS else b"data"
ALL = 7 + 1023 + 1024 + 1048575 + 111 + 5000

# A line of the layout: glyphs, the name up to its dashes, the marker, the
# subtree's files and bytes and its share of its parent.
LINE = re.compile(rb"^((?:[| ]  \x00)*)(?:\+\x97)?(.*?)[ -]*>\s*([\d,]+)\s+(\S+)\s+([\d.]+%)$")


def rows(out):
    """(level, name, files, size, share) of each line after the banner; a
    depth notice as (level, "...")."""
    result = []
    for line in kelpo.lines(out)[1:]:
        m = LINE.match(line)
        if m is None:
            result.append((line.count(b"|") + 1, b"..."))
            continue
        level = len(m.group(1)) // 4 + (0 if m.group(2) == TOP else 1)
        result.append((level, m.group(2), kelpo.number(m.group(3)), m.group(4), m.group(5)))
    return result


def share(part, whole):
    return b"%d.%d%%" % divmod((part * 2000 + whole) // (2 * whole), 10)


def row(level, name, files, size, parent, units=None):
    shown = format(size, ",").encode() if units is None else units
    return (level, name, files, shown, share(size, parent) if level else b"100.0%")


def saved_scan(start, node):
    """A saved scan (JSON Lines) of a made-up tree: a node is (own files, own
    bytes, {name: node}[, error]); lets a test have counts and sizes no real
    tree of a test could."""
    out = []

    def walk(path, depth, node):
        files, size, kids = node[:3]
        total = [files, size, 0]
        for name, kid in kids.items():
            f, b, d = walk(path + "/" + name, depth + 1, kid)
            total = [total[0] + f, total[1] + b, total[2] + d + 1]
        row = {"path": path, "depth": depth, "files": files, "bytes": size, "dirs": len(kids),
               "total_files": total[0], "total_bytes": total[1], "total_dirs": total[2]}
        if len(node) > 3:
            row["error"] = node[3]
        out.append(json.dumps(row))
        return total

    walk(start, 0, node)
    return ("\n".join(out) + "\n").encode()


def pages(raw, cols):
    """Each page a terminal `cols` wide showed, split at the prompts: (screen
    rows it took before its prompt, rows that a wrapped line added, pyte's
    screen of it)."""
    import pyte
    result = []
    for part in raw.split(kelpo.PROMPT):
        scr = pyte.Screen(cols, 1000)
        pyte.ByteStream(scr).feed(part)
        # Every line ends with one line feed: more rows than line feeds are
        # lines that wrapped.
        result.append((scr.cursor.y, scr.cursor.y - part.count(b"\n"), scr))
    return result


class Totals(kelpo.Case):
    def setUp(self):
        super().setUp()
        kelpo.make_tree(os.path.join(self.dir, "data"), TREE)

    def run_ok(self, *args, form="windows"):
        res = kelpo.run(list(args), cwd=self.dir, form=form)
        self.assertEqual((res.rc, res.err), (0, b""), args)
        return res.out

    def test_layouts(self):
        top = row(0, TOP, 8, ALL, ALL)
        big, skip = row(1, b"big", 1, 1048575, ALL), row(1, b"skip", 1, 5000, ALL)
        kib, lo = row(1, b"kib", 1, 1024, ALL), row(1, b"lo", 1, 1023, ALL)
        mix, sub = row(1, b"mix", 3, 111, ALL), row(2, b"sub", 1, 1, 111)
        cases = [
            (["--sort=size"], [top, big, skip, kib, lo, mix, sub]),
            (["--sort=name"], [top, big, kib, lo, mix, sub, skip]),
            (["--sort=files"], [top, mix, sub, big, kib, lo, skip]),
            # The largest two, in order of files; the rest on one line.
            (["--sort=files", "--top=2"],
             [top, big, skip, (1, b"... and 3 more", 5, b"2,158", share(2158, ALL))]),
            # Every total still counts what is not listed.
            (["--sort=name", "--min-size=1K"], [top, big, kib, skip]),
            (["--sort=name", "--min-size=1KB"], [top, big, kib, lo, skip]),
            (["--sort=name", "/V1"], [top, big, kib, lo, mix, skip]),
            # Human sizes at the unit boundaries: 1023, 1024 and 1,048,575 bytes.
            (["--human-readable", "--sort=size", "--min-size=1000"],
             [row(0, TOP, 8, ALL, ALL, b"1.1M"), row(1, b"big", 1, 1048575, ALL, b"1.0M"),
              row(1, b"skip", 1, 5000, ALL, b"4.9K"), row(1, b"kib", 1, 1024, ALL, b"1.0K"),
              row(1, b"lo", 1, 1023, ALL, b"1023")]),
            (["--si", "--sort=size", "--top=1"],
             [row(0, TOP, 8, ALL, ALL, b"1.1M"), row(1, b"big", 1, 1048575, ALL, b"1.1M"),
              (1, b"... and 4 more", 6, b"7.2k", share(7158, ALL))]),
            # Exclusions: a file, a directory, and patterns from a file.
            (["--sort=name", "--exclude=*.o", "--exclude=skip"],
             [row(0, TOP, 6, ALL - 5100, ALL - 5100), row(1, b"big", 1, 1048575, ALL - 5100),
              row(1, b"kib", 1, 1024, ALL - 5100), row(1, b"lo", 1, 1023, ALL - 5100),
              row(1, b"mix", 2, 11, ALL - 5100), row(2, b"sub", 1, 1, 11)]),
            # A pattern with a "/" matches the path, as du's: below the start or from it.
            *[(["--sort=name", "--exclude=" + pattern],
               [row(0, TOP, 7, ALL - 1, ALL - 1), row(1, b"big", 1, 1048575, ALL - 1),
                row(1, b"kib", 1, 1024, ALL - 1), row(1, b"lo", 1, 1023, ALL - 1),
                row(1, b"mix", 2, 110, ALL - 1), row(1, b"skip", 1, 5000, ALL - 1)])
              for pattern in ("mix/sub", "data/mix/sub/")],
            (["--sort=size", "--exclude-from=patterns", "--top=1"],
             [row(0, TOP, 3, 111, 111), row(1, b"mix", 3, 111, 111), sub,
              (1, b"... and 4 more", 0, b"0", b"0.0%")]),
        ]
        with open(os.path.join(self.dir, "patterns"), "wb") as f:
            f.write(b"*.bin\r\n\nr.txt\n")
        for args, expected in cases:
            out = self.run_ok(*args, "data", "/W100")
            self.assertEqual(rows(out), expected, args)
            self.assertEqual({len(l) for l in kelpo.lines(out)[1:] if b">" in l}, {99}, args)
        # Windows matches names without regard to case, POSIX with it.
        names = [r[1] for r in rows(self.run_ok("--sort=name", "--exclude=SK?P", "data"))]
        self.assertEqual(b"skip" in names, not WINDOWS, names)
        # The plain report is as before, with the exclusions applied.
        out = self.run_ok("--exclude=*.bin", "data")
        self.assertIn(b"Total bytes: 118", out)
        self.assertNotIn(b"100.0%", out)

    def test_largest_files(self):
        # After the report when a depth limit asks for one.
        out = kelpo.lines(self.run_ok("/V9", "--largest-files=2", "--exclude=big", "data"))
        self.assertEqual(out[-3:], [b"Largest files:",
                                    b"         5,000  " + SEP.join([TOP.decode(), "skip", "z.bin"]).encode(),
                                    b"         1,024  " + SEP.join([TOP.decode(), "kib", "k.bin"]).encode()])
        self.assertEqual(out[-5:-3], [b"+\xbb Total bytes: 7,165", b""])

    def test_exports_follow_the_selection(self):
        json = kelpo.json_lines(self.run_ok("--format=json", "--sort=size", "--top=1", "data",
                                            form=None))
        paths = [(o.get("path", o.get("parent")), o.get("more"), o["total_bytes"]) for o in json]
        # The exports name the start directory as typed, on both builds.
        top = "data"
        self.assertEqual(paths, [(top, None, ALL),
                                 (top + SEP + "big", None, 1048575), (top, 4, ALL - 1048575 - 7)])
        # TSV escapes a backslash, the Windows separator too.
        TSV_SEP = b"\\\\" if WINDOWS else b"/"
        tsv = self.run_ok("--format=tsv", "--sort=name", "--min-size=2000", "data", form=None)
        self.assertEqual([l.split(b"\t")[4] for l in tsv.splitlines()],
                         [b"data", b"data" + TSV_SEP + b"big", b"data" + TSV_SEP + b"skip"])
        # The ncdu export stays the whole tree; only the exclusions apply.
        ncdu = self.run_ok("--format=ncdu", "--top=1", "--exclude=mix", "data", form=None)
        self.assertIn(b'"name":"skip"', ncdu)
        self.assertNotIn(b'"name":"mix"', ncdu)

    def test_bad_values(self):
        """POSIX: what is wrong and the valid forms on standard error, exit
        code 2; Windows: on standard output, exit code 1. Never a report."""
        cases = [
            ("--sort=big", b"'big' for '--sort'", b"--sort parameter 'big'",
             b"size, files, name, none"),
            ("--min-size=12Q", b"'12Q' for '--min-size'", b"--min-size parameter '12Q'",
             b"KB, MB, GB, TB, PB"),
            ("--top=-1", b"'-1' for '--top'", b"--top parameter '-1'", b"from 1 to 2147483647"),
            ("--largest-files=0", b"'0' for '--largest-files'", b"--largest-files parameter '0'",
             b"from 1 to 2147483647"),
            ("--exclude-from=missing", b"'missing' for '--exclude-from'",
             b"--exclude-from file 'missing'", b""),
        ]
        for arg, posix, windows, valid in cases:
            res = kelpo.run([arg, "data"], cwd=self.dir, form=None)
            if WINDOWS:
                self.assertEqual((res.rc, res.err), (1, b""), arg)
                self.assertIn(windows, res.out, arg)
                self.assertIn(valid, res.out, arg)
                self.assertNotIn(b"Kelpo32", res.out, arg)
            else:
                self.assertEqual((res.rc, res.out), (2, b""), arg)
                self.assertTrue(res.err.startswith(b"kelpo32: "), res.err)
                self.assertIn(posix, res.err, arg)
                self.assertIn(valid, res.err, arg)
                self.assertTrue(res.err.endswith(b"Try 'kelpo32 --help' for more information.\n"))


class Terminal(kelpo.Case):
    def test_last_sibling_closes_its_branch(self):
        self.native_only()
        kelpo.make_tree(os.path.join(self.dir, "data"), TREE)
        res = kelpo.run_pty(["--sort=size", "--top=2", "data"], cwd=self.dir, cols=80,
                            stdin_tty=False, env=kelpo.environment({"LANG": "C.UTF-8"}))
        self.assertEqual(res.rc, 0, res.err)
        shown = kelpo.screen(res.raw, 80, 25)
        names = [l[:18] for l in shown if "%" in l]
        self.assertEqual(names, ["data -------------", "├─big-------------",
                                 "├─skip------------", "└─... and 3 more--"])

    def test_pages_fit_the_window(self):
        """On a terminal every line of the layout fits the window whatever its
        numbers and names, the numbers line up with a blank after the arrow,
        no depth notice is written, the first page holds the banner and each
        page is full before it pauses; the lines are coloured as the report's
        total lines, but for NO_COLOR."""
        self.native_only()
        wide = {"x%02d" % i: (1000 * i, 2 ** 20 * i, {"a": (5, 50, {}), "b": (1, 5, {})})
                for i in range(30)}
        deep = (1, 1, {})
        for i in range(9):
            deep = (1, 1, {"level%d" % (8 - i): deep})
        big = (10, 100, {"lib": (150000, 6 * 2 ** 30, wide), "n" * 70: (2, 2, {}),
                         "deep": deep, "secret": (0, 0, {}, "permission denied")})
        with open(os.path.join(self.dir, "big.json"), "wb") as f:
            f.write(saved_scan("/usr", big))
        kelpo.make_tree(os.path.join(self.dir, "data"), TREE)
        cases = [
            # (columns, rows, arguments, pages, environment)
            (140, 40, ["--sort=size", "--human-readable", "--top=10", "/V3", "--from=big.json"],
             2, {}),
            (60, 12, ["--sort=size", "/V2", "--from=big.json"], 4, {}),
            (40, 15, ["--sort=name", "--from=big.json"], 8, {"NO_COLOR": "1"}),
            (30, 25, ["--sort=name", "/V1", "--from=big.json"], 1, {}),
            (80, 25, ["--sort=size", "--top=2", "data"], 1, {}),
        ]
        for cols, rows, args, count, extra in cases:
            env = kelpo.environment(dict({"LANG": "C.UTF-8"}, **extra))
            res = kelpo.run_pty(args, cwd=self.dir, cols=cols, rows=rows, env=env,
                                keys=[(kelpo.PROMPT, b" ")] * 20)
            self.assertIn(res.rc, (0, 1), (args, res.err))
            shown = pages(res.raw, cols)
            self.assertEqual(len(shown), count, args)
            self.assertEqual(shown[0][2].display[0].rstrip(), "Kelpo32", args)
            for page, (height, wrapped, scr) in enumerate(shown):
                self.assertEqual(wrapped, 0, (args, page, scr.display[:height]))
                # Every page but the last fills the window above its prompt.
                if page < len(shown) - 1:
                    self.assertEqual(height, rows - 1, (args, page))
                lines = [l.rstrip() for l in scr.display[:height]]
                self.assertFalse([l for l in lines if re.match(r"^[│ ]*\.\.\.", l)], lines)
                numbered = [(y, l) for y, l in enumerate(lines) if l.endswith("%")]
                self.assertLess(max(map(len, lines)), cols, lines)
                self.assertLessEqual({len(l) for _, l in numbered}, {cols - 1}, (args, lines))
                # One column of arrows, each with a blank after it.
                self.assertLessEqual(len({l.index("►") for _, l in numbered}), 1, (args, lines))
                self.assertFalse([l for _, l in numbered if "► " not in l], lines)
                for y, _ in numbered:
                    fg = scr.buffer[y][cols - 2].fg
                    self.assertEqual(fg, "default" if extra else "green", (args, y))
        # The unread directory is marked on its line.
        res = kelpo.run_pty(["--sort=name", "/V1", "--from=big.json"], cwd=self.dir, cols=60,
                            env=kelpo.environment({"LANG": "C.UTF-8"}))
        self.assertIn("└─secret [unread]--", "\n".join(kelpo.screen(res.raw, 60, 25)))
        # Redirected: the same columns at the width of /W, and no depth notices.
        out = kelpo.run(["--sort=name", "/V1", "/W100", "--from=big.json"], cwd=self.dir).out
        lines = kelpo.lines(out)
        # A name too long for the width stays whole in a file.
        numbered = [l for l in lines if l.endswith(b"%") and b"n" * 70 not in l]
        self.assertEqual({len(l) for l in numbered}, {99}, lines)
        # The arrow, the count of 7 digits and a blank, the size and the share.
        self.assertEqual({l.index(b"> ") for l in numbered}, {99 - 1 - 8 - 14 - 7}, lines)
        self.assertNotIn(b"|...", lines)
        self.assertTrue(numbered[-1].startswith(b"+\x97secret [unread]--"), lines)

    def test_status_line_while_a_sorted_report_waits(self):
        """On a terminal the sorted layout writes nothing until the walk is
        done: the status line shows meanwhile on standard error, on the same
        terminal, and is gone before the first line of the report. Esc while
        it waits ends the run there and then, the line erased, no layout
        written."""
        self.native_only()
        if not shutil.which("strace"):
            self.skipTest("strace makes the walk slow enough; it is not installed")
        kelpo.make_tree(os.path.join(self.dir, "data"),
                        {"d%02d" % i: {"f": i} for i in range(40)})
        # Each directory read waits 30 ms: the walk takes over two seconds.
        # (The leak check of a sanitizer build cannot run under a tracer.)
        env = kelpo.environment({"KELPO32_THREADS": "1", "ASAN_OPTIONS": os.environ.get(
            "ASAN_OPTIONS", "") + ":detect_leaks=0"})
        slow = ["strace", "-f", "-o", os.devnull, "-e", "trace=getdents64",
                "-e", "inject=getdents64:delay_enter=30000"]
        for esc in (False, True):
            keys = [(b" files, ", b"\x1b")] if esc else []
            res = kelpo.run_pty(["--sort=size", "data"], cwd=self.dir, cols=80, rows=60,
                                stdin_tty=esc, keys=keys, stderr_tty=True, wrap=slow, env=env)
            self.assertEqual(res.rc, 0, res.raw[-300:])
            drawn = res.raw.rfind(b" files, ")
            self.assertGreater(drawn, 0, res.raw[:200])
            erased = res.raw.find(b"\r" + b" " * 20, drawn)
            self.assertGreater(erased, drawn, res.raw[drawn:drawn + 200])
            shown = kelpo.screen(res.raw, 80, 60)
            self.assertFalse([l for l in shown if " files, " in l], shown)
            if esc:
                self.assertEqual([l for l in shown if "%" in l], [], shown)
                self.assertNotIn(b"data --", res.raw)
                continue
            self.assertLess(erased, res.raw.find(b"data --"))
            self.assertEqual(len([l for l in shown if "%" in l]), 41)

if __name__ == "__main__":
    kelpo.main()
