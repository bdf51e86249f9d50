#!/usr/bin/python3
"""The web page's figures on loopback, in one run:
- first paint of the overview (first contentful paint, and every board with its LEDs drawn),
  in a fresh browser and on reloads;
- an input change on the simulator to the LED lit in the page (median, p99), next to the same
  change shown by the window (input_led_bench, run right after).

    bench/web/web_page_bench.py [--build DIR] [--changes N] [--loads N]
"""

import argparse
import os
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tests", "web"))
from harness import Rig, wait_for  # noqa: E402

PAINT = """
const done = arguments[0];
const read = () => {
    const fcp = performance.getEntriesByName('first-contentful-paint')[0];
    const boards = performance.getEntriesByName('swb808-boards-painted')[0];
    if (fcp && boards) done([fcp.startTime, boards.startTime]);
    else setTimeout(read, 10);
};
read();
"""

WATCH = """
const el = document.querySelector(arguments[0]);
window.__lit = [];
new MutationObserver(() => requestAnimationFrame(() =>
    window.__lit.push(performance.timeOrigin + performance.now()))).observe(el, { attributes: true, attributeFilter: ['data-state'] });
"""


def pct(values, p):
    s = sorted(values)
    return s[min(len(s) - 1, int(round(p / 100 * (len(s) - 1))))]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--changes", type=int, default=200)
    ap.add_argument("--loads", type=int, default=20)
    args = ap.parse_args()
    sim = os.path.join(args.build, "sim", "swb808-sim")
    daemon = os.path.join(args.build, "service", "swb808d")
    print(f"load average before the run: {' '.join(open('/proc/loadavg').read().split()[:3])}")
    with Rig(sim, daemon, boards=2) as rig:
        d = rig.open("/")
        cold = d.execute_async_script(PAINT)
        warm = []
        for _ in range(args.loads):
            d.refresh()
            warm.append(d.execute_async_script(PAINT))
        print("\nfirst paint of the overview, 2 boards, loopback (ms from navigation start)")
        print("| load | first contentful paint | every board with its LEDs |")
        print("|---|---:|---:|")
        print(f"| fresh browser | {cold[0]:.1f} | {cold[1]:.1f} |")
        print(f"| reload, median of {args.loads} | {statistics.median(w[0] for w in warm):.1f} | "
              f"{statistics.median(w[1] for w in warm):.1f} |")

        b = rig.board_id(0)
        css = f'[data-board="{b}"] [data-input="3"]'
        wait_for("the page live", lambda: d.execute_script(
            "return document.querySelector(arguments[0]).getAttribute('aria-disabled') === null;",
            f'[data-board="{b}"] [data-relay="1"]'))
        d.execute_script(WATCH, css)
        lat = []
        for i in range(args.changes):
            before = time.time() * 1000
            rig.sims[0].command(f"inputs {0x04 if i % 2 == 0 else 0}")
            wait_for("the LED", lambda: len(d.execute_script("return window.__lit;")) > i, timeout=10, step=0.002)
            lat.append(d.execute_script("return window.__lit[arguments[0]];", i) - before)
            time.sleep(0.03)
        print(f"\ninput change on the simulator (115200 Bd) to the LED lit in the page, {args.changes} changes")
        print("| median | p99 | max |")
        print("|---:|---:|---:|")
        print(f"| {statistics.median(lat):.2f} ms | {pct(lat, 99):.2f} ms | {max(lat):.2f} ms |")

    window = os.path.join(args.build, "bench", "input_led", "input_led_bench")
    if os.access(window, os.X_OK):
        print("\nthe same change shown by the window (input_led_bench), right after:")
        sys.stdout.flush()
        subprocess.run([window], env={**os.environ, "QT_QPA_PLATFORM": "offscreen"}, check=False)
    else:
        print(f"\n(no {window}: build the benchmarks for the window's figure)")


if __name__ == "__main__":
    main()
