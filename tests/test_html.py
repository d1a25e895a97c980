"""The --format=html page in a real browser: headless Chromium, driven through
Selenium, reads the treemap and the table back from the page of a small tree
and compares them with the JSON Lines export; zooms by mouse, keyboard and
table; checks that hostile names stay text and that the page asks for
nothing over the network or from other files."""

import json
import os
import re
import shutil
import unittest

import kelpo

try:
    from selenium import webdriver
    from selenium.common.exceptions import NoAlertPresentException
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    webdriver = None

CHROMIUM = shutil.which("chromium")
DRIVER = shutil.which("chromedriver")
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--window-size=1400,1000"]

HOSTILE = ["<img src=x onerror=alert(1)>", "x<!--y", "q\"'&amp;"]
if kelpo.WINDOWS:
    HOSTILE = ["x;!--y", "q'&amp;"]  # what Windows allows of them

# What the page's script reads back, per rectangle and per table row.
CELLS = """return Array.from(document.querySelectorAll('#map .cell')).map(c => ({
    kind: c.classList.contains('dir') ? 'dir' : c.classList.contains('files') ? 'files' : 'folded',
    id: c.dataset.id, owner: c.dataset.owner, path: c.dataset.path, bytes: c.dataset.bytes,
    files: c.dataset.files, dirs: c.dataset.dirs, text: c.textContent}));"""
ROWS = """return Array.from(document.querySelectorAll('#rows tr[data-id]')).map(r => ({
    id: r.dataset.id, path: r.querySelector('button.name').title,
    name: r.querySelector('button.name').textContent,
    numbers: Array.from(r.cells).slice(1).map(c => c.textContent)}));"""


def shown(text):
    """A name as the page shows it: each byte that is not UTF-8 (a lone
    surrogate after JSON) as U+FFFD."""
    return re.sub("[\ud800-\udfff]", "\ufffd", text)


class HtmlPage(kelpo.Case):
    def setUp(self):
        super().setUp()
        if webdriver is None or not CHROMIUM or not DRIVER:
            self.skipTest("no browser: chromium, chromium-driver and python3-selenium are needed")
        self.tree = os.path.join(self.dir, "T")
        layout = {"f1": 5003, "a": {"f": 300007, "b": {"g": 120011}}, "c": {"h": 200017, "i": 1}}
        for size, name in enumerate(HOSTILE):
            layout[name] = {"z": 1009 * (size + 1)}
        kelpo.make_tree(self.tree, layout)
        if not kelpo.WINDOWS:
            # Two names that are not UTF-8 and look alike on the page.
            for name, size in ((b"n\xff", 4001), (b"n\xfe", 4099)):
                os.mkdir(os.path.join(os.fsencode(self.tree), name))
                with open(os.path.join(os.fsencode(self.tree), name, b"z"), "wb") as f:
                    f.truncate(size)

    def page(self, args):
        res = kelpo.run(["--format=html"] + args + ["T"], cwd=self.dir, form=None)
        self.assertEqual((res.rc, res.err), (0, b""))
        self.assertTrue(res.out.startswith(b"<!DOCTYPE html>\n"), res.out[:80])
        path = os.path.join(self.dir, "page%d.html" % len(os.listdir(self.dir)))
        with open(path, "wb") as f:
            f.write(res.out)
        return "file://" + path

    def open(self, url):
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for flag in FLAGS + ["--user-data-dir=" + os.path.join(self.dir, "profile")]:
            options.add_argument(flag)
        options.set_capability("goog:loggingPrefs", {"performance": "ALL", "browser": "ALL"})
        driver = webdriver.Chrome(service=Service(DRIVER), options=options)
        self.addCleanup(driver.quit)
        driver.get(url)
        WebDriverWait(driver, 30).until(
            lambda d: d.execute_script("return document.documentElement.dataset.ready"))
        return driver

    def crumbs(self, driver):
        return driver.execute_script("return document.getElementById('crumbs').textContent")

    def cell(self, driver, path):
        return driver.execute_script(
            "return Array.from(document.querySelectorAll('#map .dir'))"
            ".find(c => c.dataset.path === arguments[0])", path)

    def test_page_holds_the_exports_numbers_zooms_and_keeps_names_as_text(self):
        json_out = kelpo.run(["/J", "T"], cwd=self.dir, form=None).out
        dirs = kelpo.json_lines(json_out)
        url = self.page([])
        driver = self.open(url)

        # Every directory has its rectangle with its subtree's numbers, and
        # one for the files directly in it; nothing else.
        cells = driver.execute_script(CELLS)
        by_id = {c["id"]: c for c in cells if c["kind"] == "dir"}
        self.assertEqual(
            sorted((c["path"], int(c["bytes"]), int(c["files"])) for c in by_id.values()),
            sorted((shown(d["path"]), d["total_bytes"], d["total_files"]) for d in dirs))
        self.assertEqual(
            sorted((by_id[c["owner"]]["path"], int(c["bytes"]), int(c["files"]))
                   for c in cells if c["kind"] == "files"),
            sorted((shown(d["path"]), d["bytes"], d["files"]) for d in dirs if d["bytes"]))
        self.assertNotIn("folded", [c["kind"] for c in cells])
        # A rectangle with room shows its size beside its name.
        self.assertEqual(driver.execute_script(
            "return getComputedStyle(arguments[0], '::after').content",
            self.cell(driver, "T" + kelpo.SEP + "a")), '" 411K"')

        # The table, opened whole: the numbers of --totals, share of the parent.
        total = {d["path"]: d["total_bytes"] for d in dirs}
        driver.find_element("id", "expand").click()
        rows = driver.execute_script(ROWS)
        self.assertEqual(
            sorted((r["path"], r["numbers"]) for r in rows),
            sorted((shown(d["path"]),
                    [format(d["total_files"], ","), format(d["total_bytes"], ","),
                     "%.1f%%" % (100 * d["total_bytes"] /
                                 total.get(d["path"].rpartition(kelpo.SEP)[0], d["total_bytes"]))])
                   for d in dirs))
        sizes = [int(r["numbers"][1].replace(",", "")) for r in rows if r["path"].count(kelpo.SEP) == 1]
        self.assertEqual(sizes, sorted(sizes, reverse=True))
        if not kelpo.WINDOWS:
            alike = [r["id"] for r in rows if r["name"] == "n\ufffd"]
            self.assertEqual(len(set(alike)), 2, rows)

        # Hostile names are text: shown as they are, nothing made of them.
        for name in HOSTILE:
            self.assertIn(name, [c["text"] for c in cells])
            self.assertIn(name, [r["name"] for r in rows])
        self.assertEqual(driver.execute_script(
            "return [document.querySelectorAll('img, [onerror]').length, document.scripts.length]"),
            [0, 3])
        with self.assertRaises(NoAlertPresentException):
            driver.switch_to.alert.text

        # A click zooms; Backspace goes up; Enter on a focused rectangle zooms.
        sep = kelpo.SEP
        self.assertEqual(self.crumbs(driver), "T")
        a = self.cell(driver, "T" + sep + "a")
        size = a.size
        ActionChains(driver).move_to_element_with_offset(
            a, -size["width"] // 2 + 6, -size["height"] // 2 + 6).click().perform()
        self.assertEqual(self.crumbs(driver), "T" + sep + "a")
        paths = [c["path"] for c in driver.execute_script(CELLS) if c["kind"] == "dir"]
        self.assertEqual(paths, ["T" + sep + "a", "T" + sep + "a" + sep + "b"])
        # Pointing at a rectangle tells its numbers.
        b = self.cell(driver, sep.join(["T", "a", "b"]))
        size = b.size
        ActionChains(driver).move_to_element_with_offset(
            b, -size["width"] // 2 + 6, -size["height"] // 2 + 6).perform()
        self.assertEqual(driver.find_element("id", "info").text,
                         sep.join(["T", "a", "b"]) + ": 118K (120,011 bytes), 1 file, %.1f%% of the whole"
                         % (100 * 120011 / total["T"]))
        ActionChains(driver).send_keys(Keys.BACKSPACE).perform()
        self.assertEqual(self.crumbs(driver), "T")
        driver.execute_script("arguments[0].focus()", self.cell(driver, "T" + sep + "c"))
        ActionChains(driver).send_keys(Keys.ENTER).perform()
        self.assertEqual(self.crumbs(driver), "T" + sep + "c")
        # A row of the table zooms the treemap there; the breadcrumb goes back.
        driver.execute_script(
            "Array.from(document.querySelectorAll('#rows button.name'))"
            ".find(b => b.title === arguments[0]).click()", "T" + sep + "a" + sep + "b")
        self.assertEqual(self.crumbs(driver), sep.join(["T", "a", "b"]))
        driver.find_element("css selector", "#crumbs button").click()
        self.assertEqual(self.crumbs(driver), "T")

        # Nothing was asked for but the page itself (the browser's own pages
        # aside); the script raised nothing.
        asked = [json.loads(e["message"])["message"] for e in driver.get_log("performance")]
        urls = {m["params"]["request"]["url"] for m in asked
                if m["method"] == "Network.requestWillBeSent"}
        internal = ("chrome://", "chrome-untrusted://", "about:", "data:")
        self.assertEqual({u for u in urls if not u.startswith(internal)}, {url})
        self.assertNotIn("Network.webSocketCreated", [m["method"] for m in asked])
        self.assertEqual([e for e in driver.get_log("browser") if e["level"] == "SEVERE"], [])

    def test_depth_limit_folds_deeper_directories_into_their_parents(self):
        driver = self.open(self.page(["/V1"]))
        cells = driver.execute_script(CELLS)
        paths = [c["path"] for c in cells if c["kind"] == "dir"]
        self.assertNotIn(kelpo.SEP.join(["T", "a", "b"]), paths)
        a = next(c["id"] for c in cells if c["path"] == "T" + kelpo.SEP + "a")
        self.assertEqual([(c["bytes"], c["files"], c["dirs"]) for c in cells
                          if c["kind"] == "folded" and c["owner"] == a], [("120011", "1", "1")])
        self.assertIn("1 directory below level 1 folded into their parents",
                      driver.find_element("id", "facts").text)

    def test_comparison_colours_growth_and_shrink_apart(self):
        long_name = "python-wheels-" * 6 + "x"
        kelpo.make_tree(os.path.join(self.tree, "gone-dir"), {"x": 30000, "sub": {"y": 20000}})
        kelpo.make_tree(os.path.join(self.tree, long_name), {"w": 7})
        old = os.path.join(self.dir, "old.json")
        with open(old, "wb") as f:
            f.write(kelpo.run(["/J", "T"], cwd=self.dir, form=None).out)
        os.truncate(os.path.join(self.tree, "a", "f"), 900007)  # grew by 600,000
        os.truncate(os.path.join(self.tree, "c", "h"), 100017)  # shrank by 100,000
        kelpo.make_tree(os.path.join(self.tree, "fresh"), {"n": 50000})
        kelpo.make_tree(self.tree, {"added": 70000})  # a file directly in T
        shutil.rmtree(os.path.join(self.tree, "gone-dir"))
        driver = self.open(self.page(["--compare=" + old]))
        sep = kelpo.SEP
        red = lambda rgb: [int(v) for v in re.findall(r"\d+", rgb)[:3]]
        # The table lists the largest change first, growth or shrink; a long
        # hyphenated name stays on one line beside its numbers.
        rows = driver.execute_script(ROWS)
        self.assertEqual([r["path"] for r in rows][1:5],
                         ["T" + sep + d for d in ("a", "c", "fresh", "gone-dir")])
        # A click on the Bytes heading orders the table by size instead.
        driver.find_elements("css selector", "#table thead th")[2].click()
        sizes = [int(r["numbers"][1].replace(",", "")) for r in driver.execute_script(ROWS)
                 if r["path"].count(sep) == 1]
        self.assertEqual(sizes, sorted(sizes, reverse=True))
        heights = driver.execute_script(
            "const names = Array.from(document.querySelectorAll('#rows button.name'));"
            "return arguments.length && [arguments[0], 'a'].map(t => names.find("
            "b => b.textContent === t).offsetHeight)", long_name)
        self.assertEqual(heights[0], heights[1])
        # The file added directly in T colours T's files rectangle red.
        files = driver.execute_script(
            "return getComputedStyle(document.querySelector("
            "'#map .files[data-owner=\"0\"]')).backgroundColor")
        self.assertGreater(red(files)[0], red(files)[1] + 40, files)
        # Zoomed into the gone directory: its older subtree, greyed.
        driver.execute_script(
            "Array.from(document.querySelectorAll('#rows button.name'))"
            ".find(b => b.title === arguments[0]).click()", "T" + sep + "gone-dir")
        past = driver.execute_script(
            "return Array.from(document.querySelectorAll('#map .cell')).map(c => [c.dataset.path"
            " || c.className, c.offsetWidth * c.offsetHeight, getComputedStyle(c).backgroundColor,"
            " c.classList.contains('past')])")
        paths = [p[0] for p in past]
        self.assertIn("T" + sep + "gone-dir" + sep + "sub", paths)
        self.assertTrue(any("files" in p[0] for p in past), past)
        for _, area, colour, greyed in past:
            rgb = red(colour)
            self.assertTrue(greyed and area > 100 and rgb[0] == rgb[1] == rgb[2], past)
        driver.find_element("css selector", "#crumbs button").click()
        cells = driver.execute_script(
            "return Object.fromEntries(Array.from(document.querySelectorAll('#map .dir')).map("
            "c => [c.dataset.path, [c.dataset.change, getComputedStyle(c).backgroundColor,"
            " c.classList.contains('new')]]))")
        grew, shrank = cells["T" + sep + "a"], cells["T" + sep + "c"]
        self.assertEqual((grew[0], shrank[0]), ("600000", "-100000"))
        red = lambda rgb: [int(v) for v in re.findall(r"\d+", rgb)[:3]]
        self.assertGreater(red(grew[1])[0], red(grew[1])[1])  # more red than green
        self.assertGreater(red(shrank[1])[1], red(shrank[1])[0])  # more green than red
        self.assertEqual(cells["T" + sep + "fresh"][2], True)
        rows = {r["path"]: r["numbers"] for r in driver.execute_script(ROWS)}
        self.assertEqual(rows["T" + sep + "a"][-1], "+600,000")
        self.assertEqual(rows["T" + sep + "fresh"][-1], "new +50,000")
        self.assertIn("Compared with", driver.find_element("id", "facts").text)
        self.assertEqual([e for e in driver.get_log("browser") if e["level"] == "SEVERE"], [])


if __name__ == "__main__":
    kelpo.main()
