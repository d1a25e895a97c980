"""Saved scans read back (--from) and compared (--compare): every output made
from a saved export equals the output of walking the same tree; the exports
of the other disk-usage tools read back to the same totals; a tree changed in
known ways compares as expected; damaged input fails cleanly.

What a saved scan cannot carry, and so is left out of the round trip: the
files themselves (the ncdu export needs them and is refused with --from; the
/L trace lists directories only), and the reason a directory could not be
read in an ncdu export (it says only that it could not)."""

import gzip
import json
import os
import random
import re
import resource
import shutil
import subprocess

import kelpo
from test_walk import random_tree


def add_links(root, seed):
    """A few files with a second name in another directory."""
    rnd = random.Random(seed)
    files = [os.path.join(d, f) for d, _, fs in os.walk(root) for f in fs
             if not os.path.islink(os.path.join(d, f))]
    dirs = [d for d, _, _ in os.walk(root)]
    for i, f in enumerate(rnd.sample(files, min(5, len(files)))):
        os.link(f, os.path.join(rnd.choice(dirs), "hl%d" % i))


class SavedCase(kelpo.Case):
    def setUp(self):
        super().setUp()
        # The Windows build takes the long options once it reads any.
        if kelpo.WINDOWS and not kelpo.run(["--version"], form=None).out.startswith(b"kelpo32 "):
            self.skipTest("this Windows build reads no long options yet")


class RoundTrip(SavedCase):
    def save(self, name, args):
        res = kelpo.run(args + ["T"], cwd=self.dir, form=None)
        self.assertEqual(res.rc, 0, res.err)
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(res.out)
        return path

    def check(self, sources, walked_args, from_args, forms, compare_err):
        """Each form from each saved scan equals the form of one walk."""
        for form in forms:
            walked = kelpo.run(walked_args + ["T"], cwd=self.dir, form=form)
            for source in sources:
                again = kelpo.run(from_args + ["--from=" + source], cwd="/", form=form)
                self.assertEqual(again.rc, walked.rc, again.err)
                self.assertEqual(again.out, walked.out, (source, form, walked_args))
                if compare_err(source):
                    self.assertEqual(again.err, walked.err)

    def test_every_output_from_a_saved_scan_equals_the_walk(self):
        self.native_only()
        # Each form with the options that shape it: the report's layout, the
        # depth limit, the layout of totals.
        runs = [(["windows"], ["/T"]), (["windows"], ["/V2"]),
                (["windows", "text", "json", "tsv"], []),
                (["windows", "json"], ["--sort=size", "--top=3"])]
        # Two trees, one counted by sizes and one by the bytes on disk.
        for seed, size in ((3, []), (4, ["--disk-usage"])):
            shutil.rmtree(os.path.join(self.dir, "T"), ignore_errors=True)
            random_tree(os.path.join(self.dir, "T"), seed)
            add_links(os.path.join(self.dir, "T"), seed)
            saved_json = self.save("s.json", ["--format=json"] + size)
            saved_ncdu = self.save("s.ncdu", ["--format=ncdu"])
            # Compressed: by --output=FILE.gz, and an ncdu export by gzip's own writer.
            saved_gz = os.path.join(self.dir, "s.jsonl.gz")
            res = kelpo.run(["--format=json", "--output=" + saved_gz] + size + ["T"], cwd=self.dir,
                            form=None)
            self.assertEqual(res.rc, 0, res.err)
            with gzip.open(saved_gz) as f, open(saved_json, "rb") as plain:
                self.assertEqual(f.read(), plain.read())
            ncdu_gz = saved_ncdu + ".gz"
            with open(saved_ncdu, "rb") as plain, gzip.open(ncdu_gz, "wb") as f:
                f.write(plain.read())
            for forms, args in runs:
                self.check((saved_json, saved_ncdu, saved_gz, ncdu_gz), size + args, size + args,
                           forms, lambda source: source in (saved_json, saved_gz))

    def test_every_selection_and_order_reads_back_with_its_own_numbers(self):
        """Whatever JSON Lines the program writes (the walk's order, parents
        first, cut by a depth, a size or a top-N with its "more" lines), it
        reads back: the same options give the same rows, every directory's
        totals are the walk's, and a comparison with it finds no change."""
        self.native_only()
        random_tree(os.path.join(self.dir, "T"), 6)
        walked = set(kelpo.run(["--format=tsv", "T"], cwd=self.dir, form=None).out.splitlines())
        ncdu = self.save("s.ncdu", ["--format=ncdu"])
        for args in (["/V2"], ["--sort=size"], ["--sort=name", "--top=2"], ["--min-size=100K"],
                     ["--human-readable", "/V3"], ["--totals"],
                     ["--sort=files", "--min-size=1000", "--top=1", "/V4"]):
            saved = self.save("s.json", ["--format=json"] + args)
            with open(saved, "rb") as f:
                rows = f.read()
            # The same options from either saved form: the same rows.
            for source in (saved, ncdu):
                again = kelpo.run(args + ["--format=json", "--from=" + source], form=None)
                self.assertEqual((again.rc, again.err), (0, b""), (args, source))
                self.assertEqual(again.out, rows, (args, source))
            # No options: the walk's order, each listed directory's numbers the
            # walk's (TSV carries no "more" lines).
            plain = kelpo.run(["--format=tsv", "--from=" + saved], form=None).out.splitlines()
            self.assertLessEqual(set(plain), walked, args)
            self.assertEqual(plain[-1], [l for l in walked if l.endswith(b"\tT\t")][0], args)
        # A comparison of the tree with a scan cut at a depth or folded by a
        # top-N: no change, and nothing cut or folded taken for new.
        for cut_args in (["/V1"], ["--top=1"]):
            cut = self.save("s.json", ["--format=json"] + cut_args)
            res = kelpo.run(["--compare=" + cut, "--all", "--format=json", "T"], cwd=self.dir,
                            form=None)
            self.assertEqual({(o["change"], o["files_change"], o.get("state"))
                              for o in kelpo.json_lines(res.out) if "change" in o},
                             {(0, 0, None)}, cut_args)
        # The comparison's own JSON Lines is no scan: refused by name.
        with open(os.path.join(self.dir, "c.json"), "wb") as f:
            f.write(res.out)
        res = kelpo.run(["--from=" + os.path.join(self.dir, "c.json")], form=None)
        self.assertEqual((res.rc, res.out), (1, b""))
        self.assertIn(b"the JSON Lines of a comparison", res.err)

    def test_the_windows_build_reads_its_own_exports_back(self):
        layout = {"a": {"b": {"x": 5000}, "y": 1000}, "c": {}, "z": 7}
        kelpo.make_tree(os.path.join(self.dir, "T"), layout)
        saved = [self.save("s." + fmt, ["--format=" + fmt]) for fmt in ("json", "ncdu")]
        self.check(saved, [], [], ["windows", "json", "tsv"], lambda source: True)

    def test_exports_of_other_tools_read_back_to_the_same_totals(self):
        self.native_only()
        root = os.path.join(self.dir, "T")
        random_tree(root, 5)
        walked = kelpo.run(["--format=tsv", root], form=None).out
        expected = sorted(walked.splitlines())
        for tool in ("ncdu", "gdu"):
            if not shutil.which(tool):
                self.skipTest(tool + " is not installed (./run-tests.sh installs it)")
            path = os.path.join(self.dir, tool + ".out")
            subprocess.run([tool, "-o", path, root], check=True, capture_output=True)
            res = kelpo.run(["--format=tsv", "--from=" + path], form=None)
            self.assertEqual(res.rc, 0, res.err)
            self.assertEqual(sorted(res.out.splitlines()), expected, tool)


class Compare(SavedCase):
    def test_a_tree_changed_in_known_ways(self):
        T = os.path.join(self.dir, "T")
        kelpo.make_tree(T, {"grow": {"f": 1000}, "shrink": {"f": 5000, "g": 5000},
                            "same": {"f": 10}, "old": {"f": 300, "deep": {"f": 200}},
                            "gone": {"f": 2048}})
        saved = os.path.join(self.dir, "monday.json")
        with open(saved, "wb") as f:
            f.write(kelpo.run(["--format=json", "T"], cwd=self.dir, form=None).out)
        os.truncate(os.path.join(T, "grow", "f"), 3 * 2 ** 20)
        os.remove(os.path.join(T, "shrink", "g"))
        shutil.rmtree(os.path.join(T, "gone"))
        os.rename(os.path.join(T, "old"), os.path.join(T, "new"))
        S = kelpo.SEP
        # (options, exit code, expected lines after the banner and the heading)
        shrink, gone = ("           5,000          -5,000        -1         shrink",
                        "               0          -2,048        -1  gone   gone")
        changed = [
            "       3,151,238      +3,137,680        -2       T",
            "       3,145,728      +3,144,728         0         grow",
            # The largest change first within each parent, growth or shrink.
            shrink, gone,
            "             500            +500        +2  new    new",
            "             200            +200        +1  new      deep",
            "               0            -500        -2  gone   old",
            "               0            -200        -1  gone     deep",
        ]
        same = "              10               0         0         same"
        table = [
            # By default only what changed, and how many did not.
            ([], 0, changed + ["1 unchanged directory not listed (--all lists it)"]),
            (["--all"], 0, changed + [same]),
            (["--human-readable", "--min-change=2K"], 0, [
                "            3.1M           +3.0M        -2       T",
                "            3.0M           +3.0M         0         grow",
                "            4.9K           -4.9K        -1         shrink",
                "               0           -2.0K        -1  gone   gone",
            ]),
            # The depth limit: deeper directories count in their parents only.
            (["/V1", "--all"], 0, [
                "       3,151,238      +3,137,680        -2       T",
                "       3,145,728      +3,144,728         0         grow",
                shrink, gone,
                "             500            +500        +2  new    new",
                "               0            -500        -2  gone   old",
                same,
            ]),
            (["--sort=name", "--min-change=1M"], 0, [
                "       3,151,238      +3,137,680        -2       T",
                "       3,145,728      +3,144,728         0         grow",
            ]),
        ]
        for args, rc, expected in table:
            res = kelpo.run(["--compare=" + saved, "--format=text"] + args + ["T"], cwd=self.dir,
                            form=None)
            self.assertEqual(res.rc, rc, res.err)
            got = res.out.replace(b"\r\n", b"\n").decode().splitlines()[2:]
            self.assertEqual(got, [l.replace("/", S) for l in expected], args)
        # The new scan read from standard input compares as the walk does.
        friday = kelpo.run(["--format=json", "T"], cwd=self.dir, form=None).out
        walked = kelpo.run(["--compare=" + saved, "--format=tsv", "T"], cwd=self.dir, form=None)
        with open(os.path.join(self.dir, "friday.json"), "wb") as f:
            f.write(friday)
        with open(os.path.join(self.dir, "friday.json"), "rb") as f:
            read = kelpo.run(["--compare=" + saved, "--format=tsv", "--from=-"], stdin=f,
                             form=None)
        self.assertEqual((read.rc, read.out), (0, walked.out))
        # TSV escapes a backslash, the Windows separator too.
        tsv_sep = S.encode().replace(b"\\", b"\\\\")
        self.assertIn(b"-5000\t1\t2\t-1\t\tT" + tsv_sep + b"shrink\n", read.out)
        # The line exports carry both scans' numbers; another start is named.
        res = kelpo.run(["--compare=" + saved, "--format=json", "." + S + "T"], cwd=self.dir,
                        form=None)
        rows = {o["path"].rsplit(S, 1)[-1]: o for o in kelpo.json_lines(res.out) if "path" in o}
        self.assertEqual(rows["gone"]["state"], "gone")
        self.assertEqual(rows["shrink"]["old_bytes"], 10000)
        self.assertEqual(rows["shrink"]["change"], -5000)
        # The files' numbers, each of its own sign.
        self.assertEqual([(rows[d]["files"], rows[d]["old_files"], rows[d]["files_change"])
                          for d in ("shrink", "new", "gone")], [(1, 2, -1), (2, 0, 2), (0, 1, -1)])
        self.assertIn(b"the saved scan is of 'T'", res.err)
        # The line exports list what changed; JSON Lines ends with the count
        # of the unchanged, TSV keeps to rows of directories.
        self.assertEqual(kelpo.json_lines(res.out)[-1], {"unchanged": 1})
        self.assertNotIn("same", rows)
        self.assertNotIn(b"same", walked.out)
        res = kelpo.run(["--compare=" + saved, "--format=json", "--all", "T"], cwd=self.dir,
                        form=None)
        self.assertEqual([o["path"] for o in kelpo.json_lines(res.out)][-1], "T" + S + "same")
        # A directory that could not be read is marked on its line.
        with open(os.path.join(self.dir, "now.json"), "w") as f:
            for path, depth, own, subdirs, error in (("T" + S + "x", 1, 0, 0, "permission denied"),
                                                     ("T", 0, 1, 1, None)):
                row = {"path": path, "depth": depth, "files": own, "bytes": 5 * own,
                       "dirs": subdirs, "total_files": own, "total_bytes": 5 * own,
                       "total_dirs": subdirs}
                if error:
                    row["error"] = error
                f.write(json.dumps(row) + "\n")
        res = kelpo.run(["--compare=" + saved, "--from=now.json", "--format=text"], cwd=self.dir,
                        form=None)
        self.assertIn(b"  new    x [unread]\n", res.out.replace(b"\r\n", b"\n"))

    def test_names_reach_the_line_exports_unchanged(self):
        # "\u00d7" and "\u00bb" hold the bytes 0x97 and 0xBB in UTF-8, which the
        # report's text would take for its glyphs.
        name = "x\u00d7\u00bb"
        kelpo.make_tree(os.path.join(self.dir, "T"), {name: {"f": 7}})
        saved = os.path.join(self.dir, "monday.json")
        with open(saved, "wb") as f:
            f.write(kelpo.run(["--format=json", "T"], cwd=self.dir, form=None).out)
        for form in ("json", "tsv"):
            res = kelpo.run(["--compare=" + saved, "--format=" + form, "--all", "T"],
                            cwd=self.dir, form=None)
            self.assertEqual(res.rc, 0, res.err)
            # Both escape a backslash, the Windows separator too.
            self.assertIn(("T" + kelpo.SEP + name).encode().replace(b"\\", b"\\\\"), res.out,
                          form)
        # The text form writes a name as the report does: the console's bytes
        # (code page 437) on Windows.
        kelpo.make_tree(os.path.join(self.dir, "T"), {"caf\u00e9": {"f": 1}})
        res = kelpo.run(["--compare=" + saved, "--format=text", "T"], cwd=self.dir, form=None)
        self.assertIn(b"  new    " + "caf\u00e9".encode("cp437" if kelpo.WINDOWS else "utf-8"),
                      res.out)


class Damaged(SavedCase):
    def test_damaged_input_is_named_and_nothing_is_written(self):
        def line(path, depth, total=1):
            return (b'{"path":"%s","depth":%d,"files":1,"bytes":%d,"dirs":0,"total_files":1,'
                    b'"total_bytes":%d,"total_dirs":0}\n' % (path, depth, total, total))
        good = line(b"T", 0, 5)
        total = b'"total_bytes":5'
        # (content, what standard error must say)
        table = [
            (b"", b"line 1, byte 0: empty"),
            (b"hello\n", b"not a saved scan"),
            (b'{"a":1}\n', b"not a saved scan: a line without"),
            (good[:30], b"line 1, byte 30: truncated: invalid value"),
            (line(b"T/a", 1), b"truncated"),
            (line(b"T/a", 1) + b"not json\n" + good, b"line 2"),
            (good.replace(total, b'"total_bytes":99999999999999999999'), b"number out of range"),
            (good.replace(total, b'"total_bytes":-5'), b"negative number"),
            (good.replace(total, b'"total_bytes":5.5'), b"not a whole number"),
            (good + good, b"line 2, byte %d: a line after the start directory's"
             % (2 * len(good) - 2)),
            (line(b"T/a", 2) + good, b"no parent"),
            (line(b"U/a", 1, 5) + good.replace(b'"dirs":0,"total_files":1', b'"dirs":1,"total_files":2')
             .replace(b'"total_bytes":5,"total_dirs":0', b'"total_bytes":10,"total_dirs":1'),
             b"does not begin with"),
            (b'{"path":' + b"[" * 100000 + b"]" * 100000 + b"}\n", b"an array where"),
            (b'[1,2,{},' + b'[{"name":"a"},' * 100000 + b"]" * 99999, b"not JSON"),
            (b'[2,0,{},[{"name":"T"}]]', b"major version 2"),
            (b'[1,2,{},[{"name":"T"},{"asize":1}]]', b"an entry without a name"),
            (b'[1,2,{},[{"name":"T"},{"name":"f","asize":"big"}]]', b"not a number"),
            (b'[1,2,{},[{"name":"T"}],[{"name":"U"}]]', b"more than one tree"),
            (b'[1,2,{},[{"name":"T"}]] []', b"byte 24: more after the end of the export"),
            (b'[1,2,{},[{"name":"T"},{"name":"' + b"a" * (5 << 20) + b'"}]]',
             b"a string longer than 4 MiB"),
            (good.replace(total, total + b"5" * 5000), b": a value longer than 4096 bytes"),
        ]
        bad = os.path.join(self.dir, "bad.json")
        sep = kelpo.SEP.encode().replace(b"\\", b"\\\\")
        for i, (content, message) in enumerate(table):
            content = content.replace(b'T/a"', b"T" + sep + b'a"').replace(b'U/a"', b"U" + sep + b'a"')
            with open(bad, "wb") as f:
                f.write(content)
            # Both options read through one reader: --compare on every fourth
            # row shows that it refuses alike.
            for option in ("--from=", "--compare=") if i % 4 == 0 else ("--from=",):
                walk = [self.dir] if option == "--compare=" else []
                res = kelpo.run([option + bad, "--format=text"] + walk, form=None)
                self.assertEqual((res.rc, res.out), (1, b""), (content[:60], res.err))
                self.assertIn(b"bad.json: line ", res.err)
                self.assertIn(message, res.err, content[:60])

    def test_hostile_files_end_cleanly_in_a_small_address_space(self):
        """Brackets that describe nothing are refused at once; a chain a
        million deep that does not fit ends with the out-of-memory message."""
        self.native_only()
        with open(kelpo.EXE, "rb") as f:
            if re.search(rb"__[at]san_init", f.read()):
                self.skipTest("a sanitizer's shadow memory needs more address space")
        brackets = os.path.join(self.dir, "brackets.json")
        with open(brackets, "wb") as f:
            f.write(b'{"x":' + b"[" * (20 << 20))
        chain = os.path.join(self.dir, "chain.ncdu")
        with open(chain, "wb") as f:
            n = 1000000
            f.write(b'[1,2,{},[{"name":"R"},' + b'[{"name":"d"},' * (n - 1) + b'[{"name":"d"}]' +
                    b"]" * (n - 1) + b"]]")
        limit = 48 << 20
        small = lambda: resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
        res = kelpo.run(["--from=" + brackets], form=None, preexec_fn=small)
        self.assertEqual((res.rc, res.out), (1, b""))
        self.assertIn(b"byte 69: a value nested more than 64 levels deep\n", res.err)
        res = kelpo.run(["--from=" + chain], form=None, preexec_fn=small)
        self.assertEqual((res.rc, res.out, res.err), (1, b"", b"kelpo32: out of memory\n"))

    def test_mistakes_on_the_command_line(self):
        self.native_only()  # the Windows build has its own messages for them
        saved = os.path.join(self.dir, "s.json")
        with open(saved, "wb") as f:
            f.write(b'{"path":"T","depth":0,"files":0,"bytes":0,"dirs":0,"total_files":0,'
                    b'"total_bytes":0,"total_dirs":0}\n')
        # (arguments, what standard error must say); each exit code 2, no output
        table = [
            (["--from=" + saved, self.dir], b"no directory is walked"),
            (["--from="], b"invalid argument '' for '--from'"),
            (["--compare=", self.dir], b"invalid argument '' for '--compare'"),
            (["--from=-", "--compare=-"], b"cannot both read standard input"),
            (["--from=" + saved, "--format=ncdu"], b"needs every file"),
            (["--compare=" + saved, "--min-change=12X", self.dir], b"invalid argument '12X' for '--min-change'"),
            (["--compare=" + saved, "--min-change=-1", self.dir], b"invalid argument '-1' for '--min-change'"),
            (["--compare=" + saved, "--sort=grown", self.dir], b"for '--sort'"),
        ]
        for args, message in table:
            res = kelpo.run(args, form=None)
            self.assertEqual((res.rc, res.out), (2, b""), args)
            self.assertIn(message, res.err, args)
        res = kelpo.run(["--from=" + os.path.join(self.dir, "none")], form=None)
        self.assertEqual((res.rc, res.out), (1, b""))
        self.assertIn(b"cannot read '", res.err)

    def test_names_and_reasons_survive(self):
        # Bytes that are not UTF-8, raw in an ncdu export or as \udcXX in JSON Lines.
        # (Windows names are UTF-16: such bytes cannot be part of them.)
        name = b"n\xff\xe6x"
        escaped = b"nx" if kelpo.WINDOWS else b"n\\udcff\\udce6x"
        sep = kelpo.SEP.encode().replace(b"\\", b"\\\\")
        # A reason that would set the terminal's title, clear it and forge a line.
        hostile = b"\\u001b]0;PWNED\\u0007\\u001b[2J\\nkelpo32: forged"
        saved = os.path.join(self.dir, "s.json")
        with open(saved, "wb") as f:
            f.write(b'{"path":"T' + sep + escaped + b'","depth":1,"files":0,"bytes":0,"dirs":0,'
                    b'"total_files":0,"total_bytes":0,"total_dirs":0,"error":"permission denied"}\n'
                    b'{"path":"T' + sep + b'h","depth":1,"files":0,"bytes":0,"dirs":0,'
                    b'"total_files":0,"total_bytes":0,"total_dirs":0,"error":"' + hostile +
                    b'"}\n{"path":"T","depth":0,"files":0,"bytes":0,"dirs":2,"total_files":0,'
                    b'"total_bytes":0,"total_dirs":2}\n')
        res = kelpo.run(["--format=json", "--from=" + saved], form=None)
        self.assertEqual(res.out.splitlines()[0],
                         b'{"path":"T' + sep + escaped + b'","depth":1,'
                         b'"files":0,"bytes":0,"dirs":0,"total_files":0,"total_bytes":0,'
                         b'"total_dirs":0,"error":"permission denied"}')
        self.assertIn(b'"error":"' + hostile.replace(b"\\n", b"\\u000a") + b'"}', res.out)
        self.assertIn(b"could not be read:\n  T", res.err)
        self.assertIn(b": ?]0;PWNED??[2J?kelpo32: forged\n", res.err)
        self.assertNotIn(b"\x1b", res.err)
        if not kelpo.WINDOWS:
            ncdu = os.path.join(self.dir, "s.ncdu")
            with open(ncdu, "wb") as f:
                f.write(b'[1,0,{},[{"name":"T"},[{"name":"' + name + b'","read_error":true}]]]')
            res = kelpo.run(["--format=tsv", "--from=" + ncdu], form=None)
            self.assertEqual(res.out, b"0\t0\t0\t0\tT/" + name + b"\tcould not be read\n0\t0\t0\t0\tT\t\n")
        res = kelpo.run(["--format=ncdu", "--from=" + saved], form=None)
        self.assertEqual((res.rc, res.out), (2, b""))


if __name__ == "__main__":
    kelpo.main()
