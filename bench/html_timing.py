"""Loads an HTML page of Kelpo32 in a fresh headless Chromium per run and
prints how long its first layout took: from the start of navigation to the
mark its script sets when the treemap and the table are built, and to the
first frame drawn after that.

    html_timing.py PAGE RUNS"""

import os
import statistics
import sys
import tempfile

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--window-size=1400,1000"]

# Waits for the page's mark, then for two frames: the second one begins
# after the first layout and paint of what the script built.
TIMES = """const done = arguments[arguments.length - 1];
const root = document.documentElement;
const wait = () => root.dataset.ready
  ? requestAnimationFrame(() => requestAnimationFrame(() => done({
      ready: +root.dataset.ready, frame: performance.now(),
      cells: document.querySelectorAll('#map .cell').length,
      dirs: JSON.parse(document.getElementById('kelpo-data').textContent).d.length,
      facts: document.getElementById('facts').innerText})))
  : setTimeout(wait, 5);
wait();"""


def main():
    page, runs = os.path.abspath(sys.argv[1]), int(sys.argv[2])
    ready, frame = [], []
    for _ in range(runs):
        with tempfile.TemporaryDirectory() as profile:
            options = webdriver.ChromeOptions()
            options.binary_location = "/usr/bin/chromium"
            for flag in FLAGS + ["--user-data-dir=" + profile]:
                options.add_argument(flag)
            driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
            try:
                driver.set_script_timeout(120)
                driver.get("file://" + page)
                t = driver.execute_async_script(TIMES)
            finally:
                driver.quit()
        ready.append(t["ready"])
        frame.append(t["frame"])
    print("page: %d directories in its data, %d rectangles drawn" % (t["dirs"], t["cells"]))
    print(t["facts"])
    print("first layout done (ms): median %.0f, max %.0f  %s" % (
        statistics.median(ready), max(ready), [round(x) for x in ready]))
    print("first frame after it (ms): median %.0f, max %.0f  %s" % (
        statistics.median(frame), max(frame), [round(x) for x in frame]))


if __name__ == "__main__":
    main()
