"""The report as text: the locale's characters, lines up in display columns
whatever the script of the names, LF line ends; --format; numbers and pages
on both builds."""

import ctypes
import ctypes.util
import locale
import os
import re
import subprocess
import unicodedata

import kelpo
from kelpo import WINDOWS

PROMPT = b"Press any key to continue....."

# One directory per script, each with a file and a subdirectory (so it gets a
# leader and a total line). Every name's columns agree between the C library
# and the terminal emulator the tests use.
SCRIPTS = [
    ("Latin, composed", unicodedata.normalize("NFC", "Café crème")),
    ("Latin, decomposed", unicodedata.normalize("NFD", "Éte\u0301")),
    ("Cyrillic", "Документы"),
    ("Greek", "Ελληνικά"),
    ("Arabic", "العربية"),
    ("CJK", "中文目录"),
    ("Hangul", "한국어 문서"),
    ("emoji", "😀 smile"),
    ("combining marks", "a\u0300\u0301b\u0302c"),
    ("CJK wider than the leader's room", "中文目录中文目录"),
]
INVALID = "bad\udcffname"  # the byte 0xFF, which starts no UTF-8 character

_libc = ctypes.CDLL(ctypes.util.find_library("c"))
_libc.wcwidth.argtypes = [ctypes.c_wchar]


def columns(text):
    """Display columns of text as the C library counts them in C.UTF-8; a
    byte that is no character (a surrogate escape) or a control takes 1."""
    locale.setlocale(locale.LC_CTYPE, "C.UTF-8")
    widths = (_libc.wcwidth(c) for c in text)
    return sum(w if w >= 0 else 1 for w in widths)


def utf8_env(**extra):
    return kelpo.environment(dict({"LC_ALL": "C.UTF-8"}, **extra))


def script_tree(root, invalid=True):
    names = [name for _, name in SCRIPTS] + ([INVALID] if invalid else [])
    kelpo.make_tree(root, {name: {"f": 1234, "sub": {"g": 5}} for name in names})


class ManyScripts(kelpo.Case):
    def setUp(self):
        super().setUp()
        self.native_only()
        script_tree(os.path.join(self.dir, "T"))

    def text_lines(self, *switches, env=None, form="text"):
        res = kelpo.run(list(switches) + ["T"], cwd=self.dir, env=env or utf8_env(), form=form)
        self.assertEqual((res.rc, res.err), (0, b""))
        self.assertNotIn(b"\r", res.out)
        self.assertNotIn(b"\x00", res.out)
        return res.out.split(b"\n")[:-1]

    def check_lined_up(self, rows, width, marker):
        dir_rows = [r for r in rows if marker in r]
        self.assertEqual(len(dir_rows), 1 + 2 * (len(SCRIPTS) + 1), rows)
        for row in dir_rows:
            self.assertEqual(columns(row), width - 1, row)
            self.assertEqual(columns(row[:row.rindex(marker)]), width - 21, row)

    def test_every_directory_line_is_as_wide_whatever_the_script(self):
        for width in (200, 60):
            with self.subTest(width=width):
                out = self.text_lines("/W%d" % width)
                # Valid UTF-8 but for the invalid name's own byte.
                text = b"\n".join(out).replace(os.fsencode(INVALID), b"").decode("utf-8")
                self.assertIn("\n|   +—sub---", text)
                self.assertIn("\n|   +» Total in \"Документы\": 1,239\n", text)
                self.check_lined_up(b"\n".join(out).decode("utf-8", "surrogateescape").split("\n"),
                                    width, ">")
        res = kelpo.run_pty(["/N", "T"], cwd=self.dir, cols=80, rows=25, env=utf8_env())
        self.assertEqual(res.rc, 0, res.err)
        shown = kelpo.screen(res.raw, 80, 200)
        self.check_lined_up(shown, 80, "►")
        self.assertTrue(any(r.startswith("├─bad?name ---") for r in shown), shown)

    def test_a_cut_never_splits_a_character(self):
        # 17 columns leave 15 for a name: seven CJK characters and a blank.
        out = self.text_lines("/T", "/W17")
        for row in out:
            shown = row.decode("utf-8", "surrogateescape")
            self.assertLessEqual(columns(shown), 17, row)
        self.assertIn("+—中文目录中文目 ".encode(), out)
        self.assertIn("+—Документы".encode(), out)

    def test_non_utf8_locale_gives_ascii_glyphs_and_byte_columns(self):
        out = self.text_lines("/W60", env=kelpo.environment({"LC_ALL": "C"}))
        names = [os.fsencode(n) for _, n in SCRIPTS] + [os.fsencode(INVALID)]
        for row in out:
            if b">" in row and b"+> Total" not in row:
                self.assertEqual(len(row), 59, row)
            for name in sorted(names, key=len, reverse=True):
                row = row.replace(name, b"")
            self.assertTrue(row.isascii(), row)
        self.assertIn(b"+-sub", out[3])
        self.assertEqual(out[-1], b"+> Total bytes: " + format(11 * 1239, ",").encode())

    def test_other_tools_read_the_report_as_text(self):
        script_tree(os.path.join(self.dir, "U"), invalid=False)
        path = os.path.join(self.dir, "report.txt")
        with open(path, "wb") as f:
            res = kelpo.run(["U"], cwd=self.dir, stdout=f, env=utf8_env(), form=None)
        self.assertEqual(res.rc, 0, res.err)
        grep = subprocess.run(["grep", "-c", "Total in", path], env=utf8_env(),
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertEqual((grep.returncode, grep.stdout), (0, b"%d\n" % len(SCRIPTS)))
        # The Windows form is the old bytes: CR LF, the byte 0, code page 1252 glyphs.
        win = kelpo.run(["U"], cwd=self.dir, env=utf8_env())
        self.assertIn(b"|  \x00+\x97sub", win.out)
        self.assertIn(b"\r\n+\xbb Total bytes: ", win.out)


class FormatOption(kelpo.Case):
    def test_unknown_or_unbuilt_forms_are_refused(self):
        self.native_only()
        for value in ("xml", "", "Text", "json"):
            res = kelpo.run(["--format=" + value], cwd=self.dir, form=None)
            self.assertEqual(res.rc, 2, value)
            self.assertEqual(res.out, b"")
            self.assertTrue(res.err.startswith(
                b"kelpo32: invalid argument '%s' for '--format'\nValid arguments are: text, windows"
                % value.encode()), res.err)
            self.assertTrue(res.err.endswith(b"\nTry 'kelpo32 --help' for more information.\n"))
        # The last --format counts; messages follow the form too.
        res = kelpo.run(["--format=windows", "--format=text", "/T"], cwd=self.dir, form=None)
        self.assertEqual(res.out, b"Kelpo32\nROOT\n")


class Pages(kelpo.Case):
    def test_a_page_holds_the_rows_that_long_lines_wrap_onto(self):
        # Each directory line takes 263 columns: four rows of an 80-column screen.
        kelpo.make_tree(self.dir, {"%c" % (65 + i) * 240: {} for i in range(8)})
        res = kelpo.run_pty([], cwd=self.dir, cols=80, rows=24, keys=[(PROMPT, b"\x1b")])
        self.assertEqual(res.rc, 0, res.err)
        rows = kelpo.screen(res.raw, 80, 24)
        # Banner, width line, the start line and five directories, then the
        # prompt on the last row: nothing has scrolled off.
        self.assertEqual(rows[:2], ["Kelpo32", "screen_width : 80"])
        self.assertTrue(rows[2].startswith("ROOT --"), rows)
        self.assertTrue(rows[3].startswith("├─" + rows[3][2] * 78), rows)
        self.assertEqual(rows[23].rstrip(), PROMPT.decode(), rows)
        self.assertEqual(sum(1 for r in rows if "►" in r), 6, rows)


if __name__ == "__main__":
    kelpo.main()
