"""Names in any script and paths of any length: every directory is counted
once, and the Windows build's redirected report keeps the bytes it had before
its walk turned to UTF-16 names."""

import os
import sys

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


class OemNames(kelpo.Case):
    def test_redirected_report_and_log_keep_their_bytes(self):
        if not WINDOWS:
            self.skipTest("the golden file is the Windows build's report")
        with open(GOLDEN, "rb") as f:
            want = f.read()
        got = golden_runs(self, self.dir)
        self.assertEqual(got.split(b"\r\n"), want.split(b"\r\n"))


if __name__ == "__main__":
    if sys.argv[1:] == ["--write-golden"]:
        class Writer(kelpo.Case):
            def test_write(self):
                with open(GOLDEN, "wb") as f:
                    f.write(golden_runs(self, self.dir))
        sys.argv[1:] = ["Writer"]
    kelpo.main()
