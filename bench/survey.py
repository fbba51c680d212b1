"""Page survey on real headless Chromium: the one-script survey against the
element-by-element reference survey and against a floor.

Generated pages of N interactable elements (half labelled inputs, a quarter
buttons, a quarter links) with as many text elements (the inputs' labels,
the buttons and the links). For each N it prints, from one run:

- reference: QUELVAR_SURVEY=reference, the per-element page calls. Above
  --full (default 500) it is measured on a sample: the survey runs on the
  full page but each source's query hands over only every k-th element
  (k = N / 100), and the time is scaled by k (marked "sampled");
- fast: the default survey (best of three);
- floor: one eval_on_selector_all per source selector returning only each
  element's box as one JSON text, parsed with json.loads (best of three);
- reference/fast and fast/floor.

    PYTHONPATH=src .venv/bin/python bench/survey.py [N ...] [--full M]
"""
from __future__ import annotations

import json
import os
import sys
import time

from playwright.sync_api import sync_playwright

from quelvar_web._chromium import launch_options
from quelvar_web.engine.browser import pagesurvey as ps
from quelvar_web.engine.browser.pagesurvey import DOMParser

SELECTORS = [ps.INTERACTABLE_SELECTOR, ps._CUSTOM_INPUT_SELECTOR,
             "h1, h2, h3, h4, h5, h6, label, div, span, p", ps.TEXT_SELECTOR]
BOXES_JS = ("els => JSON.stringify(els.map(e => { const r = e.getBoundingClientRect(); "
            "return [r.x, r.y, r.width, r.height]; }))")


def generated_page(n: int) -> str:
    cells = []
    for i in range(n):
        kind = i % 4
        if kind in (0, 1):
            cells.append(f'<label for="f{i}">Field {i}</label><input id="f{i}" name="f{i}" data-row="{i}">')
        elif kind == 2:
            cells.append(f'<button type="button" data-testid="b{i}">Button {i}</button>')
        else:
            cells.append(f'<a href="#r{i}">Link {i}</a>')
    return ("<style>body{margin:0;display:grid;grid-template-columns:repeat(8,150px);gap:4px;"
            "font:13px/18px sans-serif} input{width:140px}</style>" + "".join(cells))


class Sampled:
    """The real page, whose element queries hand over every k-th match."""

    def __init__(self, page, k):
        self._page, self._k = page, k

    def __getattr__(self, name):
        return getattr(self._page, name)

    def query_selector_all(self, selector):
        return self._page.query_selector_all(selector)[::self._k]


def timed(f, repeats=1):
    best = float("inf")
    for _ in range(repeats):
        t0 = time.perf_counter()
        result = f()
        best = min(best, time.perf_counter() - t0)
    return best, result


def floor(page):
    return [json.loads(page.eval_on_selector_all(s, BOXES_JS)) for s in SELECTORS]


def main(sizes: list[int], full: int) -> None:
    rows = []
    with sync_playwright() as pw:
        browser = pw.chromium.launch(**launch_options())
        page = browser.new_context(viewport={"width": 1280, "height": 800}).new_page()
        for n in sizes:
            page.set_content(generated_page(n))
            os.environ["QUELVAR_SURVEY"] = "fast"
            fast, (elements, texts) = timed(DOMParser(page).extract_interactable_elements, 3)
            low, _ = timed(lambda: floor(page), 3)
            os.environ["QUELVAR_SURVEY"] = "reference"
            k = max(1, n // 100) if n > full else 1
            ref, ref_result = timed(DOMParser(Sampled(page, k) if k > 1 else page).extract_interactable_elements)
            if k == 1:
                assert repr(ref_result) == repr((elements, texts)), "fast and reference surveys differ"
            rows.append((n, len(elements), len(texts), ref * k, k, fast, low))
            os.environ.pop("QUELVAR_SURVEY")
        browser.close()

    print(f"{'N':>5} {'interactable':>12} {'text':>5} {'reference s':>12} {'':>10} {'fast ms':>8} "
          f"{'floor ms':>9} {'ref/fast':>9} {'fast/floor':>10}")
    for n, n_el, n_text, ref, k, fast, low in rows:
        how = f"sampled/{k}" if k > 1 else "full"
        print(f"{n:>5} {n_el:>12} {n_text:>5} {ref:>12.2f} {how:>10} {fast * 1000:>8.1f} "
              f"{low * 1000:>9.1f} {ref / fast:>9.0f} {fast / low:>10.2f}")


if __name__ == "__main__":
    args = sys.argv[1:]
    full = 500
    if "--full" in args:
        i = args.index("--full")
        full = int(args[i + 1])
        del args[i:i + 2]
    main([int(a) for a in args] or [100, 500, 2000], full)
