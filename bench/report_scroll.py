#!/usr/bin/python3
"""report_scroll.py: how smoothly an HTML report scrolls in headless Chromium.

Usage: report_scroll.py REPORT.html

Opens the report (Chromium and chromedriver from Debian, through Selenium), times the page until
its first frame, then scrolls the alignment one step per animation frame: 600 frames down the
sequences, 600 across the columns, and 100 jumps to random places. Prints the time between
frames (median, 95th percentile, worst) and the tasks that held the page for over 50 ms.
"""
import sys
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

SCROLL = """
const [steps, done] = [arguments[0], arguments[arguments.length - 1]];
const scroller = document.getElementById('alignment-scroller');
const long = [];
new PerformanceObserver(list => list.getEntries().forEach(e => long.push(e.duration)))
  .observe({type: 'longtask'});
const frames = [];
let last = performance.now(), step = 0;
function frame(now) {
  frames.push(now - last);
  last = now;
  const [kind, i] = steps[step++];
  if (kind === 'down') scroller.scrollTop += 45;
  else if (kind === 'across') scroller.scrollLeft += 33;
  else {
    scroller.scrollTop = i * scroller.scrollHeight;
    scroller.scrollLeft = i * scroller.scrollWidth;
  }
  if (step < steps.length) requestAnimationFrame(frame);
  else setTimeout(() => done({frames: frames.slice(1), long}), 200);
}
requestAnimationFrame(frame);
"""


def main():
    options = webdriver.ChromeOptions()
    for argument in ["--headless=new", "--no-sandbox", "--disable-dev-shm-usage",
                     "--window-size=1400,1200", "--use-angle=swiftshader",
                     "--enable-unsafe-swiftshader"]:
        options.add_argument(argument)
    browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    browser.set_script_timeout(300)
    start = time.monotonic()
    browser.get("file://" + sys.argv[1])
    browser.execute_async_script("requestAnimationFrame(arguments[0]);")
    print(f"page open and drawn: {time.monotonic() - start:.2f} s")
    import random
    rng = random.Random(1)
    steps = ([["down", 0]] * 600 + [["across", 0]] * 600
             + [["jump", rng.random()] for _ in range(100)])
    result = browser.execute_async_script(SCROLL, steps)
    frames = sorted(result["frames"])
    print(f"{len(frames)} frames: median {frames[len(frames) // 2]:.1f} ms, 95th percentile "
          f"{frames[int(len(frames) * 0.95)]:.1f} ms, worst {frames[-1]:.1f} ms; "
          f"tasks over 50 ms: {len(result['long'])} "
          f"({', '.join(f'{d:.0f}' for d in result['long'][:10])} ms)")
    browser.quit()


if __name__ == "__main__":
    main()
