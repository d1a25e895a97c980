"""tools/check_layers.py on a planted tree: an include that climbs, one
through a private link, and a circle of links are found; what the layers
allow, and the tests, pass."""

import os
import subprocess
import sys
import tempfile
import unittest

TOOL = os.path.join(os.path.dirname(__file__), "..", "..", "tools", "check_layers.py")

LAYERS = ("base\tbase\t\n"
          "state\tbase/state.h\t\n"
          "mid\tmid\tbase,state:private\n"
          "top\ttop\tmid\n")


def run(files, layers=LAYERS):
    with tempfile.TemporaryDirectory() as root:
        for rel, text in files.items():
            os.makedirs(os.path.join(root, os.path.dirname(rel)), exist_ok=True)
            with open(os.path.join(root, rel), "w", encoding="utf-8") as f:
                f.write(text)
        with open(os.path.join(root, "layers.txt"), "w", encoding="utf-8") as f:
            f.write(layers)
        done = subprocess.run([sys.executable, TOOL, os.path.join(root, "layers.txt"), "--root",
                               root] + sorted(files), capture_output=True, text=True)
        return done.returncode, done.stdout.splitlines()


ALLOWED = {
    "base/a.h": "#pragma once\n",
    "base/state.h": "#pragma once\n",
    "mid/m.cpp": '#include "base/a.h"\n#include "base/state.h"\n#include <vector>\n',
    "top/t.cpp": '#include "mid/m.h"\n#include "base/a.h"\n#include "other/x.h"\n',
    "base/a_test.cpp": '#include "top/t.h"\n',
}


class CheckLayers(unittest.TestCase):
    def test_what_the_layers_allow_passes(self):
        self.assertEqual(run(ALLOWED), (0, []))

    def test_an_include_that_climbs_is_named(self):
        code, lines = run(dict(ALLOWED, **{"base/b.cpp": '// a line\n#include "mid/m.h"\n'}))
        self.assertEqual(code, 1)
        self.assertEqual(lines, ["base/b.cpp:2: includes mid/m.h of mid, which base does not link"])

    def test_a_private_link_reaches_no_layer_above(self):
        code, lines = run(dict(ALLOWED, **{"top/u.h": '#include "base/state.h"\n'}))
        self.assertEqual(code, 1)
        self.assertEqual(lines, ["top/u.h:1: includes base/state.h of state, which top does not link"])

    def test_a_circle_of_links_is_named(self):
        code, lines = run(ALLOWED, LAYERS + "base2\tb2\ttop2\ntop2\tt2\tbase2\n")
        self.assertEqual(code, 1)
        self.assertEqual(lines, ["layers.txt: the layers link in a circle: base2 -> top2 -> base2"])


if __name__ == "__main__":
    unittest.main()
