#!/usr/bin/python3
"""Takes docs/web-*.png from the real page: swb808d on three simulated boards, headless Chromium.

    screenshots.py --sim PATH --service PATH OUTPUT_DIR
"""

import argparse
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import Rig, set_width, wait_for  # noqa: E402


def settle(d, board):
    wait_for("the page live", lambda: d.execute_script(
        "const e = document.querySelector(arguments[0]);"
        "return e && e.getAttribute('aria-disabled') === null;", f'[data-board="{board}"] [data-relay="1"]'))
    time.sleep(0.3)  # let the last frame draw


def shoot(d, width, path):
    # The whole page at once: the viewport as tall as the document.
    set_width(d, width, 900)
    height = d.execute_script("return document.documentElement.scrollHeight;")
    set_width(d, width, height)
    time.sleep(0.2)
    d.save_screenshot(path)
    print("wrote", path)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--sim", required=True)
    p.add_argument("--service", required=True)
    p.add_argument("out")
    args = p.parse_args()
    sims = [["--relays", "0x05", "--inputs", "0x81", "--vcc", "800"],
            ["--relays", "0x30", "--inputs", "0x02", "--vcc", "866"],
            ["--relays", "0x00", "--inputs", "0x00", "--vcc", "700", "--version", "1.06c"]]
    with Rig(args.sim, args.service, boards=3, lang="de", sim_args=sims) as rig:
        d = rig.open("/")
        first = rig.board_id(0)
        for width, suffix in ((1280, ""), (360, "-360")):
            set_width(d, width)
            d.get(rig.service.url + "/")
            settle(d, first)
            shoot(d, width, os.path.join(args.out, f"web-overview{suffix}.png"))
            d.get(rig.service.url + f"/#/board/{first}")
            settle(d, first)
            shoot(d, width, os.path.join(args.out, f"web-board{suffix}.png"))


if __name__ == "__main__":
    main()
