"""Reference page survey on real headless Chromium: time per element.

Generated pages of N interactable elements (half labelled inputs, a quarter
buttons, a quarter links) with as many text elements (the inputs' labels,
the buttons and the links). Prints, for each N, the survey's total time, its
milliseconds per interactable element, the share of text extraction, and
the per-element cost at each size relative to the smallest, side by side
from one run.

    PYTHONPATH=src .venv/bin/python bench/survey.py [N ...]
"""
from __future__ import annotations

import sys
import time

from playwright.sync_api import sync_playwright

from quelvar_web._chromium import launch_options
from quelvar_web.engine.browser.pagesurvey import DOMParser


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


def main(sizes: list[int]) -> None:
    with sync_playwright() as pw:
        browser = pw.chromium.launch(**launch_options())
        page = browser.new_context(viewport={"width": 1280, "height": 800}).new_page()
        parser = DOMParser(page)
        rows = []
        for n in sizes:
            page.set_content(generated_page(n))
            t0 = time.perf_counter()
            elements, texts = parser.extract_interactable_elements()
            total = time.perf_counter() - t0
            t0 = time.perf_counter()
            parser.extract_text_elements()
            text_time = time.perf_counter() - t0
            rows.append((n, len(elements), len(texts), total, text_time))
        browser.close()

    base = rows[0][3] / rows[0][1]
    print(f"{'N':>5} {'interactable':>12} {'text':>5} {'survey s':>9} {'ms/element':>11} "
          f"{'text share':>10} {'per-element vs N=' + str(rows[0][0]):>20}")
    for n, n_el, n_text, total, text_time in rows:
        per = total / n_el
        print(f"{n:>5} {n_el:>12} {n_text:>5} {total:>9.2f} {per * 1000:>11.1f} "
              f"{text_time / total:>10.0%} {per / base:>20.2f}")


if __name__ == "__main__":
    main([int(a) for a in sys.argv[1:]] or [100, 500])
