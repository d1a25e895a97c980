"""The Windows build as Windows means it: directory links listed but not
entered, a drive alone as that drive's current directory, device names that
are no directories, the disk usage from the allocation, and the long options
with Windows' messages."""

import json
import os
import subprocess

import kelpo
from kelpo import WINDOWS

NO_SUCH = b"Kelpo32\r\nNo such directory -- please try again.\r\n"


def windows_path(path):
    """A host path as the Windows program sees it, through Wine's drive Z:."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def total(out):
    """The grand total of a report; a start directory without subdirectories
    has no total line, its own line holds it."""
    last = kelpo.lines(out)[-1]
    return kelpo.number(last.split(b": ")[1] if b"Total bytes: " in last else last.split()[-1])


class Windows(kelpo.Case):
    def setUp(self):
        super().setUp()
        if not WINDOWS:
            self.skipTest("the Windows build's behaviour")


class Links(Windows):
    def make(self):
        # Wine shows a host symbolic link to a directory as a directory reparse
        # point (attribute 0x410, no tag), as Windows shows a junction.
        kelpo.make_tree(os.path.join(self.dir, "T"), {"a": {"h": 3}, "sib": {"f": 1000}})
        kelpo.make_tree(os.path.join(self.dir, "outside"), {"g": 500})
        for name, target in (("tosib", "../sib"), ("up", ".."), ("out", "../../outside")):
            os.symlink(target, os.path.join(self.dir, "T", "a", name))

    def test_links_listed_with_no_files_and_not_entered(self):
        self.make()
        res = kelpo.run(["T"], cwd=self.dir)
        # Not entered on purpose: the summary of unread directories leaves them out.
        self.assertEqual((res.rc, res.err), (0, b""))
        out = kelpo.lines(res.out)
        links = [l[-20:] for l in out if l.split(b"-")[0].endswith((b"tosib", b"up", b"out"))]
        self.assertEqual(links, [b">    0             0"] * 3, out)
        self.assertEqual(total(res.out), 1003)
        res = kelpo.run(["--format=json", "T"], cwd=self.dir)
        linked = {o["path"]: o.get("error") for o in kelpo.json_lines(res.out)
                  if o["path"].startswith("T\\a\\")}
        self.assertEqual(linked, {"T\\a\\" + n: "link" for n in ("tosib", "up", "out")})
        res = kelpo.run(["--format=ncdu", "T"], cwd=self.dir)
        items = json.loads(res.out)[3][1]
        self.assertEqual([(i["name"], i.get("excluded")) for i in items[1:] if "excluded" in i],
                         [("out", "frmlnk"), ("tosib", "frmlnk"), ("up", "frmlnk")])

    def test_followed_links_as_before_and_a_linked_start_directory(self):
        self.make()
        # The sibling entered twice, its file counted once (the same file
        # id) unless every link counts, and the outside once; the ancestor
        # is a cycle.
        for args, size in (([], 3 + 1000 + 500), (["--count-links"], 3 + 1000 + 1000 + 500)):
            res = kelpo.run(["--follow-links"] + args + ["T"], cwd=self.dir)
            self.assertEqual((res.rc, total(res.out)), (0, size), res.err)
            self.assertIn(b"a\\up: cycle", res.err)
        res = kelpo.run(["T\\a\\tosib"], cwd=self.dir)
        self.assertEqual((res.rc, total(res.out)), (0, 1000), res.out)


class Drives(Windows):
    def test_a_drive_alone_is_its_current_directory(self):
        prefix = os.environ.get("KELPO32_WINEPREFIX") or os.environ.get("WINEPREFIX")
        if not prefix:
            self.skipTest("no Wine prefix to map a drive in")
        tree = kelpo.make_tree(os.path.join(self.dir, "D"),
                               {"r": 1, "a": {"f": 20, "b": {"g": 300}}})
        devices = os.path.join(prefix, "dosdevices")
        letter = next(l for l in "ponmlkjihgfe" if not os.path.lexists(
            os.path.join(devices, l + ":")))
        drive = os.path.join(devices, letter + ":")
        os.symlink(tree, drive)
        self.addCleanup(os.remove, drive)
        d = letter.upper() + ":"
        exe = windows_path(kelpo.EXE)
        runs = [(d, b"", 320), (letter + ":\\", b"", 321), (letter + ":b", b"B", 300),
                ("C:", None, None), (d, b"", 320)]
        script = ["@echo off", "cd /d %s\\a" % d]
        for n, (start, _, _) in enumerate(runs):
            # The reports go outside the tree (the batch's directory is the drive's).
            script.append(start if start == "C:" else '"%s" /N %s > "%s\\out%d.txt"' %
                          (exe, start, windows_path(self.dir), n))
        with open(os.path.join(self.dir, "t.bat"), "w", newline="\r\n") as f:
            f.write("\n".join(script) + "\n")
        subprocess.run([kelpo.RUNNER, "cmd", "/c", "t.bat"], cwd=self.dir, timeout=120,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        for n, (start, tail, size) in enumerate(runs):
            if size is None:
                continue
            with open(os.path.join(self.dir, "out%d.txt" % n), "rb") as f:
                out = f.read()
            # The start line is the text typed, upper-cased, without its separator.
            self.assertEqual(kelpo.lines(out)[1].split(b" ")[0].rstrip(b"-"), d.encode() + tail,
                             start)
            self.assertEqual(total(out), size, start)


class Devices(Windows):
    def test_device_names_are_no_directories(self):
        # The host may hold a directory named like a device ("NUL"): only its
        # literal \\?\ path names it.
        kelpo.make_tree(os.path.join(self.dir, "T"),
                        {n: {"f": 1} for n in ("NULL", "COM0", "LPT10", "CONSOLE", "sub", "NUL")})
        for start in ("NUL", "nul:", "Con", "prn.txt", "AUX", "com1", "COM9.log", "lpt1",
                      "LPT9:", "NUL .x", "T\\NUL", "T\\sub\\com3.txt", "C:\\windows\\aux"):
            res = kelpo.run(["/N", start], cwd=self.dir)
            self.assertEqual((res.rc, res.out, res.err), (1, NO_SUCH, b""), start)
        # Names that only begin like a device are directories like any other.
        for start in ("T\\NULL", "T\\COM0", "T\\LPT10", "T\\CONSOLE",
                      "\\\\?\\" + windows_path(os.path.join(self.dir, "T", "NUL"))):
            res = kelpo.run(["/N", start], cwd=self.dir)
            self.assertEqual((res.rc, total(res.out)), (0, 1), start)


    def test_output_into_a_device_and_to_a_long_name(self):
        """--output=NUL writes into the device and makes no file of that
        name; a name as long as a name may be still gets its file."""
        kelpo.make_tree(os.path.join(self.dir, "T"), {"f": 1})
        for name in ("NUL", "nul.txt", "C:\\windows\\NUL"):
            res = kelpo.run(["--format=json", "--output=" + name, "T"], cwd=self.dir)
            self.assertEqual((res.rc, res.out, res.err), (0, b"", b""), name)
        self.assertEqual(os.listdir(self.dir), ["T"])
        long_name = "n" * 250
        res = kelpo.run(["--format=json", "--output=" + long_name, "T"], cwd=self.dir)
        self.assertEqual((res.rc, res.out, res.err), (0, b"", b""))
        self.assertEqual(sorted(os.listdir(self.dir)), ["T", long_name])
        with open(os.path.join(self.dir, long_name), "rb") as f:
            self.assertEqual(kelpo.json_lines(f.read())[-1]["total_files"], 1)


class DiskUsage(Windows):
    def test_allocation_and_each_file_of_several_links_once(self):
        root = kelpo.make_tree(os.path.join(self.dir, "T"), {"sparse": 10 ** 7, "sub": {}})
        with open(os.path.join(root, "dense"), "wb") as f:
            f.write(b"x" * 12288)
        # Three links of one file: another in the same directory, one below.
        os.link(os.path.join(root, "dense"), os.path.join(root, "again"))
        os.link(os.path.join(root, "dense"), os.path.join(root, "sub", "third"))
        # Wine gives a file's allocation as the host's blocks: a sparse file's
        # holes take nothing.
        sparse, dense = (os.stat(os.path.join(root, n)).st_blocks * 512 for n in ("sparse", "dense"))
        self.assertLess(sparse + dense, 10 ** 6)
        # Known by its volume serial and file id, the file counts once, where
        # the walk meets it first (T's own files before sub), unless every
        # link counts.
        for args, size, below in ((["--disk-usage"], sparse + dense, 0),
                                  (["--disk-usage", "--count-links"], sparse + 3 * dense, dense),
                                  (["--disk-usage", "--apparent-size"], 10 ** 7 + 12288, 0),
                                  ([], 10 ** 7 + 12288, 0),
                                  (["--count-links"], 10 ** 7 + 3 * 12288, 12288)):
            res = kelpo.run(args + ["T"], cwd=self.dir)
            self.assertEqual((res.rc, total(res.out)), (0, size), args)
            res = kelpo.run(args + ["--format=json", "T"], cwd=self.dir)
            rows = {o["path"]: o for o in kelpo.json_lines(res.out)}
            self.assertEqual((rows["T\\sub"]["bytes"], rows["T"]["total_bytes"]), (below, size), args)


class LongOptions(Windows):
    def test_help_version_and_mistakes_in_the_windows_form(self):
        res = kelpo.run(["--help"], cwd=self.dir)
        self.assertEqual(res.rc, 0)
        self.assertTrue(res.out.startswith(b"Usage: kelpo32 [switches] [directory]\r\n"), res.out)
        self.assertIn(b"\r\n  /T ", res.out)
        self.assertIn(b"\r\n  --follow-links ", res.out)
        res = kelpo.run(["--version"], cwd=self.dir)
        self.assertEqual(res.rc, 0)
        self.assertRegex(res.out, rb"^kelpo32 [\d.]+\r\n$")
        for args, message in (
                (["--bogus"], b"Unknown option --bogus."),
                (["--no-progress", "--x\x7fy"], b"Unknown option --x?y."),
                (["--format=xml"], b"Invalid --format value 'xml'; valid: text, "
                                   b"windows, json, tsv, ncdu, html, prometheus.")):
            res = kelpo.run(args, cwd=self.dir)
            self.assertEqual((res.rc, res.out, res.err), (1, message + b"\r\n", b""), args)
        kelpo.make_tree(os.path.join(self.dir, "T"), {"f": 7})
        res = kelpo.run(["--no-progress", "--format=tsv", "T"], cwd=self.dir)
        self.assertEqual((res.rc, res.err), (0, b""))
        self.assertTrue(res.out.startswith(b"7\t1\t7\t1\t"), res.out)


class PosixFollowLinks(kelpo.Case):
    def test_accepted_changes_nothing_and_says_so(self):
        self.native_only()
        kelpo.make_tree(os.path.join(self.dir, "T"), {"sub": {"f": 100}})
        os.symlink("sub", os.path.join(self.dir, "T", "link"))
        plain = kelpo.run(["T"], cwd=self.dir)
        res = kelpo.run(["--follow-links", "T"], cwd=self.dir)
        self.assertEqual((res.rc, res.out), (0, plain.out))
        self.assertEqual(res.err, b"kelpo32: --follow-links has no effect here: symbolic links "
                                  b"are never followed\n")


if __name__ == "__main__":
    kelpo.main()
