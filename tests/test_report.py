"""The report's lines, byte for byte, on redirected output and on a terminal."""

import os
import re

import kelpo
from kelpo import SEP, WINDOWS

EXAMPLE = {
    "A.TXT": 1000,
    "DOCS": {"D1": 4000, "D2": 4000, "OLD": {"E.TXT": 100}, "D3": 4000},
    "B.TXT": 500,
    "SRC": dict([("F%d" % i, 123456) for i in range(1, 10)] + [("F10", 123463)]),
}

# The example report as a console shows it; "·" is the byte 0 of an indent.
EXAMPLE_LINES = """\
C:\\DATA -------------------------------►    2         1,500
├─DOCS --------------------------------►    3        12,000
│  ·├─OLD------------------------------►    1           100
│  ·└» Total in "DOCS": 12,100
├─SRC----------------------------------►   10     1,234,567
└» Total bytes: 1,248,167"""

TREE_ONLY_LINES = """\
C:\\DATA
├─DOCS
│  ·└─OLD
└─SRC"""

# The start directory is written so that its name has the example's seven characters.
START = "." + SEP + "DATA" + SEP


def redirected(text):
    """The console example in the redirected glyph set, as bytes."""
    table = {"├─": "+\x97", "└─": "+\x97", "└»": "+\xbb", "│": "|", "·": "\x00", "►": ">"}
    text = text.replace("C:\\DATA", START)
    for glyph, plain in table.items():
        text = text.replace(glyph, plain)
    return [line.encode("latin-1") for line in text.split("\n")]


def on_screen(text):
    return text.replace("C:\\DATA", START).replace("·", " ").split("\n")


class WorkedExample(kelpo.Case):
    def setUp(self):
        super().setUp()
        kelpo.make_tree(os.path.join(self.dir, "DATA"), EXAMPLE)
        order = [n for n in kelpo.search_order(os.path.join(self.dir, "DATA")) if n in ("DOCS", "SRC")]
        if order != ["DOCS", "SRC"]:
            self.skipTest("this file system does not keep creation order: %s" % order)

    def report(self, *switches):
        res = kelpo.run(list(switches) + [START], cwd=self.dir)
        self.assertEqual(res.rc, 0, res.err)
        self.assertEqual(res.err, b"")
        out = kelpo.lines(res.out)
        self.assertEqual(out[0], b"Kelpo32")
        return out[1:]

    def test_redirected_at_60_columns(self):
        self.assertEqual(self.report("/W60"), redirected(EXAMPLE_LINES))

    def test_redirected_at_default_width(self):
        got = self.report()
        want = redirected(EXAMPLE_LINES)
        for g, w in zip(got, want):
            if w[-1:].isdigit() and b">" in w:
                head = w[: w.index(b">")].rstrip(b"-")
                tail = w[w.index(b">"):]
                w = head + b"-" * (200 - 21 - len(head)) + tail
                self.assertEqual(len(g), 199)
            self.assertEqual(g, w)
        self.assertEqual(len(got), len(want))

    def test_tree_only(self):
        self.assertEqual(self.report("/T"), redirected(TREE_ONLY_LINES))
        # A depth limit drops the deeper lines and writes no notice in their place.
        want = [l for l in redirected(TREE_ONLY_LINES) if not l.endswith(b"OLD")]
        self.assertEqual(self.report("/T", "/V1"), want)

    def test_depth_limit_replaces_deeper_lines_by_one_notice(self):
        want = redirected(EXAMPLE_LINES)
        want[2] = b"|..."
        self.assertEqual(self.report("/W60", "/V1"), want)

    def test_console_at_60_columns(self):
        res = kelpo.run_pty([START], cwd=self.dir, cols=60, rows=25)
        self.assertEqual(res.rc, 0, res.err)
        rows = kelpo.screen(res.raw, 60, 25)
        self.assertEqual(rows[0], "Kelpo32")
        self.assertEqual(rows[1], "screen_width : 60")
        self.assertEqual(rows[2:8], on_screen(EXAMPLE_LINES))
        # Everything from "Total" on is bright green, the glyphs before it are not.
        raw = res.raw.replace(b"\r\r\n", b"\r\n")
        self.assertIn(b"\x1b[92mTotal in \"DOCS\": 12,100\r\n", raw)
        self.assertIn(b"\x1b[92mTotal bytes: 1,248,167\r\n", raw)
        self.assertEqual(res.mode_before, res.mode_after)


class Trace(kelpo.Case):
    def test_log_traces_the_walk(self):
        data = os.path.join(self.dir, "DATA")
        kelpo.make_tree(data, {
            "A.TXT": 1, "DOCS": {"D.TXT": 2, "OLD": {"E.TXT": 3}}, "B.TXT": 4, "SRC": {"F.TXT": 5}})
        start = "." + SEP + "DATA"
        res = kelpo.run(["/L", start], cwd=self.dir)
        self.assertEqual(res.rc, 0, res.err)
        with open(os.path.join(self.dir, "logfile.txt"), "rb") as f:
            log = f.read()
        head, trace = log.split(b"\r\n", 2)[:2], log.split(b"\r\n", 2)[2]
        self.assertEqual(head[0], b"Kelpo32 Log:")
        self.assertRegex(head[1], rb"^CRTpipe, HConsoleOutput: \d+$")
        s = SEP.encode()
        top = b"".join(b"DIR: %s\r\n" % n.encode() if n in ("DOCS", "SRC") else n.encode() + b"\r\n"
                       for n in kelpo.search_order(data))
        docs = b"".join(b"DIR: OLD\r\n" if n == "OLD" else b"  D.TXT\r\n"
                        for n in kelpo.search_order(os.path.join(data, "DOCS")))
        subdirs = [n for n in kelpo.search_order(data) if n in ("DOCS", "SRC")]
        below = {
            "DOCS": b"Level: 1  {.%sDATA%s} {DOCS}\r\n%s"
                    b"Level: 2  {.%sDATA%sDOCS%s} {OLD}\r\n    E.TXT\r\n" % (s, s, docs, s, s, s),
            "SRC": b"Level: 1  {.%sDATA%s} {SRC}\r\n  F.TXT\r\n" % (s, s),
        }
        want = b"Level: 0  {.%sDATA} {}\r\n" % s + top + b"".join(below[n] for n in subdirs)
        self.assertEqual(trace, want)
        out = kelpo.lines(res.out)
        self.assertEqual(out[-1], b"Alloc:0   max: %d" % (3 if subdirs[0] == "DOCS" else 2))
        self.assertTrue(out[-2].endswith(b"Total bytes: 15 {alloc:0}"), out[-2])


class Lines(kelpo.Case):
    def report(self, tree, *switches):
        kelpo.make_tree(os.path.join(self.dir, "T"), tree)
        res = kelpo.run(list(switches) + ["T"], cwd=self.dir)
        self.assertEqual(res.rc, 0, res.err)
        return kelpo.lines(res.out)[1:]

    def test_large_counts_and_sizes_push_the_line_longer(self):
        many = {"f%05d" % i: 0 for i in range(10000)}
        out = self.report({"MANY": many, "BIG": {"five": 5000000000}, "HUGE": {"t": 10**12},
                           "NINE": {"n": 10**10 - 1}, "TEN": {"g": 10**10}}, "/W80")
        by_name = {l.split(b"\x97")[1][:4]: l for l in out if b"\x97" in l}
        self.assertTrue(by_name[b"MANY"].endswith(b">10,000             0"))
        self.assertEqual(len(by_name[b"MANY"]), 80)
        self.assertTrue(by_name[b"BIG-"].endswith(b">    1 5,000,000,000"))
        self.assertTrue(by_name[b"NINE"].endswith(b">    1 9,999,999,999"))
        self.assertEqual(len(by_name[b"NINE"]), 79)
        # A size that fills its field keeps a blank of its own before it.
        self.assertTrue(by_name[b"TEN-"].endswith(b">    1 10,000,000,000"))
        self.assertEqual(len(by_name[b"TEN-"]), 80)
        self.assertTrue(by_name[b"HUGE"].endswith(b">    1 1,000,000,000,000"))
        self.assertEqual(len(by_name[b"HUGE"]), 83)
        self.assertEqual(out[-1], b"+\xbb Total bytes: 1,024,999,999,999")

    def test_leaders_by_name_length(self):
        out = self.report({"A" * 13: {"x": {}}, "B" * 14: {"y": {}}, "C" * 12: {"z": {}}}, "/W80")
        self.assertIn(b"+\x97" + b"A" * 13 + b"---" + b"-" * (80 - 21 - 18) + b">", out[1])
        self.assertIn(b"+\x97" + b"B" * 14 + b"-" * (80 - 21 - 16) + b">", out[4])
        self.assertIn(b"+\x97" + b"C" * 12 + b" ---" + b"-" * (80 - 21 - 18) + b">", out[7])
        # Where no column dashes remain, only the leader tells a 13-character name's line.
        out = self.report({"A" * 13: {"x": {}}, "B" * 14: {"y": {}}, "C" * 12: {"z": {}}}, "/W30")
        self.assertEqual(out[1], b"+\x97" + b"A" * 13 + b"--->    0             0")

    def test_leader_left_out_when_it_would_reach_the_width(self):
        # "+—" and a 4-character name are 6 bytes; the leader of 12 would make 18.
        out = self.report({"ABCD": {"x": {}}}, "/W18")
        self.assertEqual(out[1], b"+\x97ABCD>    0             0")
        out = self.report({"ABCD": {"x": {}}}, "/W19")
        self.assertEqual(out[1], b"+\x97ABCD ----------->    0             0")

    def test_deep_chain_past_the_drawn_levels(self):
        depth = 64
        path = os.path.join(self.dir, "T")
        for i in range(depth):
            path = os.path.join(path, "d")
        os.makedirs(path)
        out = self.report({}, "/W70")
        # Levels 0 to 58 are full lines, 59 a bare line (it has a child),
        # 60 a bare line at the drawn limit, deeper ones over-deep lines.
        level59 = out[59]
        self.assertEqual(level59, ((b"|  \x00" * 58) + b"+\x97d")[:70])  # cut to the width
        self.assertEqual(out[61], (b"(T" + (SEP + "d").encode() * 61 + b")").ljust(69))
        over = out[61:65]
        self.assertTrue(all(l.startswith(b"(T") for l in over))
        # Only the levels below 60 get total lines.
        totals = [l for l in out if b"Total" in l]
        self.assertEqual(len(totals), 60)
        self.assertEqual(totals[0], b"|  \x00" * 59 + b"+\xbb Total in \"d\": 0")

    def test_tree_only_corners(self):
        out = self.report({"A": {"A1": {}, "A2": {"A21": {}}}, "B": {"B1": {}}}, "/T")
        self.assertEqual(out, [b"T",
                               b"+\x97A",
                               b"|  \x00+\x97A1",
                               b"|  \x00+\x97A2",
                               b"|  \x00   \x00+\x97A21",
                               b"+\x97B",
                               b"   \x00+\x97B1"])

    def test_bare_lines_are_cut_to_the_width(self):
        out = self.report({"LONGNAME" * 5: {}}, "/T", "/W12")
        self.assertEqual(out[1], b"+\x97" + b"LONGNAMELO")
if __name__ == "__main__":
    kelpo.main()
