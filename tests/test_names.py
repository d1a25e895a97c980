"""Names in any script and paths of any length: every directory is counted
once, and the Windows build's redirected report keeps the bytes it had before
its walk turned to UTF-16 names."""

import os
import re
import shutil
import sys
from unittest import mock

import kelpo
from kelpo import SEP, WINDOWS

GOLDEN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "golden", "oem_names.bin")

# Names the OEM code page (437) holds, a file name it does not hold, a name
# that the report cuts and a chain of accented levels.
OEM_TREE = {
    "README": 11,
    "日本語.txt": 77,
    "Café": {"menu.txt": 120, "Crème brûlée": {"recipe": 333}},
    "Ölfarbe": {"blau": 4000, "Übermalt": {"x": 1, "Æsop": {}}},
    "niño señor": {"a": 17, "b c": 4},
    "both": {"b1": 5, "b2": 6},
    "Ä" * 20 + "-long-" + "ß" * 60: {"f": 9},
    "Zürich": {"Genève": {"Küssnacht": {"Außen": {"Große Straße": {"f": 1234567}}}}},
}

# The runs kept in the golden file: the switches and the start directory.
GOLDEN_RUNS = (["/W80"], ["/T"], ["/V2", "/W60"], ["/L", "/W132"])


def golden_runs(test, base):
    """The report of every golden run over OEM_TREE below base, and the log's
    trace, as one byte string."""
    kelpo.make_tree(os.path.join(base, "plain"), OEM_TREE)
    start = "." + SEP + "plain" + SEP
    out = b""
    for switches in GOLDEN_RUNS:
        res = kelpo.run(switches + [start], cwd=base)
        test.assertEqual((res.rc, res.err), (0, b""), switches)
        out += b"== %s\r\n" % " ".join(switches).encode() + res.out
        if "/L" in switches:
            with open(os.path.join(base, "logfile.txt"), "rb") as f:
                out += b"== log\r\n" + f.read().split(b"\r\n", 2)[2]
    return out


DIR_COLUMNS = re.compile(rb">\s+([\d,]+)\s+([\d,]+)$")


def hostile_tree():
    """Names that alias one another or that the OEM code page cannot hold, a
    trailing dot and blank, a name of 255 characters and a chain whose paths
    pass 1,000 characters. Every directory holds its own sizes."""
    tree = {"São Paulo": {"f": 1000}, "Sao Paulo": {"f": 5}, "both.": {"f": 111},
            "both": {"f": 7}, "blank ": {"f": 13}, "x" * 255: {"f": 17}}
    # The last ones: characters of the last plane, a C1 control, a
    # bidirectional override.
    for i, name in enumerate(["John’s Files", "Report – final", "Łódź", "Œuvre", "Informações",
                              "日本語", "Привет", "😀emoji", "αβγ", "\U0010fc00\U0010fcff",
                              "c1\u009b2J", "rlo\u202eexe.txt"]):
        tree[name] = {"f": 100 + i, "sub": {"g": 200 + i}}
    chain = {"leaf": 4321}
    for i in range(54):
        chain = {"level-%02d-%s" % (i, "c" * 12): chain, "f": 300 + i}
    tree["chain"] = chain
    return tree


def truth(path):
    """Files and bytes of every directory below path (itself included),
    sorted, and the grand total, as the file system holds them."""
    pairs = []

    def walk(p):
        files = size = below = 0
        for e in os.scandir(p):
            if e.is_dir(follow_symlinks=False):
                below += walk(e.path)
            else:
                files += 1
                size += e.stat(follow_symlinks=False).st_size
        pairs.append((files, size))
        return below + size

    total = walk(path)
    return sorted(pairs), total


def counted(out):
    """Files and bytes of every directory line of a redirected report, sorted,
    and its grand total."""
    out = kelpo.lines(out)
    pairs = sorted((kelpo.number(m[1]), kelpo.number(m[2])) for m in map(DIR_COLUMNS.search, out) if m)
    total = [l for l in out if b"Total bytes: " in l][-1]
    return pairs, kelpo.number(total.split(b": ")[1].split(b" ")[0])


def shown(start):
    """A start directory as the report's first line shows it."""
    if not WINDOWS:
        return start.encode()
    return "".join(c.upper() if "a" <= c <= "z" else c for c in start).encode("cp437")


class AnyName(kelpo.Case):
    def assert_counted(self, args, root, cwd=None):
        res = kelpo.run(args, cwd=cwd or self.dir)
        self.assertEqual((res.rc, res.err), (0, b""), args)
        self.assertEqual(counted(res.out), truth(root))
        return kelpo.lines(res.out)

    def test_every_directory_counted_once(self):
        kelpo.make_tree(os.path.join(self.dir, "T"), hostile_tree())
        self.assert_counted(["T"], os.path.join(self.dir, "T"))
        # Every name comes back from both saved forms as it was.
        walked = kelpo.run(["--format=tsv", "T"], cwd=self.dir, form=None)
        for form in ("json", "ncdu"):
            saved = os.path.join(self.dir, "saved." + form)
            with open(saved, "wb") as f:
                f.write(kelpo.run(["--format=" + form, "T"], cwd=self.dir, form=None).out)
            res = kelpo.run(["--format=tsv", "--from=" + saved], form=None)
            self.assertEqual((res.rc, res.err, res.out), (0, b"", walked.out), form)

    def test_start_directories_of_any_name_and_length(self):
        deep = SEP.join(["p" * 99] * 4)
        for start in ("café", "Ölfarbe", "Привет", deep):
            kelpo.make_tree(os.path.join(self.dir, *start.split(SEP)), {"f": 5, "sub": {"g": 6}})
            out = self.assert_counted([start], os.path.join(self.dir, *start.split(SEP)))
            if start != "Привет":
                self.assertEqual(out[1].split(b" --")[0], shown(start))

    def test_current_directory_of_any_name(self):
        here = os.path.join(self.dir, "資料")
        kelpo.make_tree(os.path.join(here, "data"), {"f": 5, "日本": {"g": 6}})
        self.assert_counted(["/L", "data"], os.path.join(here, "data"), cwd=here)
        self.assertTrue(os.path.exists(os.path.join(here, "logfile.txt")))

    def test_link_back_to_an_ancestor_is_not_entered(self):
        if not WINDOWS:
            self.skipTest("on POSIX a symbolic link is a file (test_faults)")
        kelpo.make_tree(os.path.join(self.dir, "T"), {"sub": {"f": 100}})
        # Wine shows a symbolic link to a directory as that directory, as
        # Windows shows a junction.
        os.symlink("..", os.path.join(self.dir, "T", "sub", "up"))
        res = kelpo.run(["T"], cwd=self.dir)
        self.assertEqual(res.rc, 0, res.err)
        out = kelpo.lines(res.out)
        self.assertEqual(([l[-20:] for l in out if b"\x97up" in l], out[-1]),
                         ([b">    0             0"], b"+\xbb Total bytes: 100"), out)

    def test_start_directory_is_the_one_typed(self):
        if not WINDOWS:
            self.skipTest("POSIX keeps every name as it is")
        # Siblings that differ only by a final dot or blank, each with its own bytes.
        layout = {name: {"f": size, "s": {"g": 3}} for name, size in
                  (("dot.", 1046), ("dot", 1048), ("x.y.", 7), ("sp ", 11), ("sp", 12),
                   ("mix. .", 5))}
        kelpo.make_tree(os.path.join(self.dir, "T"), layout)
        for start in layout:
            for cwd, prefix in ((os.path.join(self.dir, "T"), ""), (self.dir, "T" + SEP)):
                self.assert_counted([prefix + start], os.path.join(self.dir, "T", start), cwd=cwd)

    def test_search_by_path_reports_the_same(self):
        # The listing through a handle and the search by path (the way of file
        # systems that refuse the listing) give the same report and log.
        search = os.environ.get("KELPO32_SEARCH_EXE")
        if not WINDOWS or not search:
            self.skipTest("the Windows build's two ways of listing")
        tree = hostile_tree()
        # More than one 64 KiB batch of the listing through a handle.
        tree["many"] = {"m" * 120 + str(i): i for i in range(300)}
        kelpo.make_tree(os.path.join(self.dir, "T"), tree)
        reports = []
        for exe in (kelpo.EXE, search):
            with mock.patch.object(kelpo, "EXE", exe):
                res = kelpo.run(["/L", "/W132", "T"], cwd=self.dir)
            self.assertEqual((res.rc, res.err), (0, b""), exe)
            with open(os.path.join(self.dir, "logfile.txt"), "rb") as f:
                reports.append((res.out, f.read().split(b"\r\n", 2)[2]))
        self.assertEqual(reports[0], reports[1])

    def test_console_shows_real_names(self):
        kelpo.make_tree(self.dir, {"日本語": {}, "São Paulo": {"x": 1}})
        res = kelpo.run_pty(["/N"], cwd=self.dir, cols=80, rows=25)
        self.assertEqual(res.rc, 0, res.err)
        text = "\n".join(kelpo.screen(res.raw, 80, 25))
        self.assertIn("├─日本語", text)
        self.assertIn("├─São Paulo", text)


class OemNames(kelpo.Case):
    def test_redirected_report_and_log_keep_their_bytes(self):
        if not WINDOWS:
            self.skipTest("the golden file is the Windows build's report")
        with open(GOLDEN, "rb") as f:
            want = f.read()
        got = golden_runs(self, self.dir)
        self.assertEqual(got.split(b"\r\n"), want.split(b"\r\n"))



class HostileNamesOnATerminal(kelpo.Case):
    def test_no_name_sends_a_control_sequence_to_the_terminal(self):
        """CSI as the C1 control U+009B (and as the byte 0x9B alone) and as
        ESC [, and a bidirectional override, in directory names and an
        argument, through the status line, the unread summary and a message,
        standard error on a terminal."""
        self.native_only()
        if kelpo.ROOT and shutil.which("setpriv") is None:
            self.skipTest("needs setpriv to run as another user")
        os.chmod(self.dir, 0o755)
        hostile = [b"c1\xc2\x9b2J", b"byte\x9b31m", b"esc\x1b[2J", b"red\x1b[31m",
                   b"rlo\xe2\x80\xaetxt"]
        root = os.path.join(os.fsencode(self.dir), b"T")
        kelpo.make_tree(root, {b"%04d%s" % (i, hostile[i % 5]) + b"x" * 40: {b"f": i}
                               for i in range(4000)})
        for name in hostile:
            os.makedirs(os.path.join(root, b"locked" + name))
            os.chmod(os.path.join(root, b"locked" + name), 0)
        user = kelpo.NOBODY if kelpo.ROOT else None
        # In the C locale every byte above 127 is a "?" of its own.
        for locale, c1 in (("C.UTF-8", b"?"), ("C", b"??")):
            env = kelpo.environment({"LC_ALL": locale, "KELPO32_THREADS": "1"})
            rc, raw = kelpo.run_stderr_pty(["T", os.fsdecode(hostile[0] + hostile[2])],
                                           self.dir, env=env, user=user)
            self.assertEqual(rc, 1, locale)
            # The status line, the summary and the message were all shown.
            for seen in (b" dirs, ", b"  T/lockedesc?[2J: permission denied",
                         b"  T/lockedc1%s2J: " % c1, b"reported; 'c1%s2Jesc?[2J' is ignored" % c1,
                         b"  T/lockedrlo%stxt: " % (b"?" if c1 == b"?" else b"???")):
                self.assertIn(seen, raw, locale)
            self.assertNotIn(b"\x9b", raw, locale)
            self.assertNotIn(b"\x1b[", raw, locale)
            self.assertNotIn("\u202e".encode(), raw, locale)


if __name__ == "__main__":
    if sys.argv[1:] == ["--write-golden"]:
        class Writer(kelpo.Case):
            def test_write(self):
                with open(GOLDEN, "wb") as f:
                    f.write(golden_runs(self, self.dir))
        sys.argv[1:] = ["Writer"]
    kelpo.main()
