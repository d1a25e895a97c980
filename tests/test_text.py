"""The report as text: the locale's characters, lined up in display columns
whatever the script of the names; --format; numbers and pages on both builds."""

import ctypes
import ctypes.util
import locale
import os
import subprocess
import unicodedata

import kelpo
from kelpo import PROMPT

# Every script's columns agree between the C library and the test's terminal.
SCRIPTS = [unicodedata.normalize("NFC", "Café crème"), unicodedata.normalize("NFD", "Éte\u0301"),
           "Документы", "Ελληνικά", "العربية", "中文目录", "한국어 문서", "😀 smile",
           "a\u0300\u0301b\u0302c", "中文目录中文目录"]  # the last is wider than a leader's room
INVALID = "bad\udcffname"  # the byte 0xFF starts no UTF-8 character
UTF8 = {"LC_ALL": "C.UTF-8"}
libc = ctypes.CDLL(ctypes.util.find_library("c"))
libc.wcwidth.argtypes = [ctypes.c_wchar]


def columns(text):
    """Columns as the C library counts them; a non-character byte or a control takes 1."""
    locale.setlocale(locale.LC_CTYPE, "C.UTF-8")
    return sum(w if w >= 0 else 1 for w in map(libc.wcwidth, text))


class ManyScripts(kelpo.Case):
    def run_text(self, tree, *switches, env=UTF8):
        kelpo.make_tree(os.path.join(self.dir, tree), {n: {"f": 1234, "sub": {"g": 5}} for n in
                                                       SCRIPTS + ([INVALID] if tree == "T" else [])})
        res = kelpo.run(list(switches) + [tree], cwd=self.dir, env=kelpo.environment(env), form=None)
        self.assertEqual((res.rc, res.err), (0, b""))
        self.assertFalse({13, 0} & set(res.out))  # no CR, no NUL
        return res.out

    def test_lines_up_on_files_and_terminals(self):
        self.native_only()
        for width, env in ((200, UTF8), (60, UTF8), (80, "pty"), (60, {"LC_ALL": "C"})):
            if env == "pty":
                res = kelpo.run_pty(["/N", "T"], cwd=self.dir, cols=80, env=kelpo.environment(UTF8))
                rows, marker = kelpo.screen(res.raw, 80, 200), "►"
                self.assertIn("├─bad?name -----", "\n".join(rows))
            else:
                out = self.run_text("T", "/W%d" % width, env=env)
                if env == UTF8:  # valid UTF-8 but for the invalid name's own byte
                    out.replace(os.fsencode(INVALID), b"").decode("utf-8")
                    self.assertIn("\n|   +—sub---", out.decode("utf-8", "replace"))
                else:
                    self.assertIn(b"\n|   +-sub---", out)
                    self.assertTrue(out.endswith(b"\n+> Total bytes: 13,629\n"), out[-40:])
                    for name in SCRIPTS + [INVALID]:
                        out = out.replace(os.fsencode(name), b"N" * len(os.fsencode(name)))
                    self.assertTrue(out.isascii(), out)
                rows, marker = out.decode("utf-8", "surrogateescape").split("\n"), ">"
            lined = [r for r in rows if marker in r and "> Total" not in r]
            self.assertEqual(len(lined), 23, (width, env, rows))
            self.assertEqual({(columns(r), columns(r[:r.rindex(marker)])) for r in lined},
                             {(width - 1, width - 21)}, (width, env, lined))

    def test_cuts_keep_characters_whole_and_other_tools_read_text(self):
        self.native_only()
        # 17 columns leave 15 for a name: seven CJK characters and a blank.
        cut = self.run_text("T", "/T", "/W17").split(b"\n")
        self.assertIn("+—中文目录中文目 ".encode(), cut)
        self.assertTrue(all(columns(r.decode("utf-8", "surrogateescape")) <= 17 for r in cut))
        grep = subprocess.run(["grep", "-c", "Total in"], input=self.run_text("U"),
                              env=kelpo.environment(UTF8), capture_output=True)
        self.assertEqual((grep.returncode, grep.stdout), (0, b"10\n"))

    def test_format_names_a_form_or_is_refused(self):
        self.native_only()
        for value in ("xml", "", "JSON"):
            res = kelpo.run(["--format=" + value], cwd=self.dir, form=None)
            self.assertEqual((res.rc, res.out, res.err), (2, b"", b"kelpo32: invalid argument '%s' for "
                             b"'--format'\nValid arguments are: text, windows, json, tsv, ncdu, html, prometheus\nTry "
                             b"'kelpo32 --help' for more information.\n" % value.encode()))
        res = kelpo.run(["--format=windows", "--format=text", "/T"], cwd=self.dir, form=None)
        self.assertEqual(res.out, b"Kelpo32\n.\n")  # the last one counts


class Pages(kelpo.Case):
    def test_a_page_holds_the_rows_that_long_lines_wrap_onto(self):
        # Each line of a directory takes 263 columns: four rows of the screen.
        kelpo.make_tree(self.dir, {"%c" % (65 + i) * 240: {} for i in range(8)})
        res = kelpo.run_pty([], cwd=self.dir, cols=80, rows=24, keys=[(PROMPT, b"\x1b")])
        self.assertEqual(res.rc, 0, res.err)
        # The screen as the prompt shows it (Esc then moves to a line of its own).
        rows = kelpo.screen(res.raw[: res.raw.rindex(PROMPT) + len(PROMPT)], 80, 24)
        # Banner, width line, the start line and five directories, then the
        # prompt on the last row: nothing has scrolled off.
        self.assertEqual(rows[:2], ["Kelpo32", "screen_width : 80"])
        start = "ROOT --" if kelpo.WINDOWS else ". --"  # no start directory
        self.assertTrue(rows[2].startswith(start) and rows[3].startswith("├─AAAA"), rows)
        self.assertEqual((rows[23], sum("►" in r for r in rows)), (PROMPT.decode(), 6), rows)


if __name__ == "__main__":
    kelpo.main()
