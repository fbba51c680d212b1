"""Spatial matrix: time of build() and resolve() on pages of 1,000 and
10,000 descriptors, each as a ratio to the floor of reading every
descriptor's bounding_box in Python. Measured side by side in one run.

The last rows of each size break the cost down: converting the descriptor
lists, or the matrix, into engine records alone (no building, no
resolving), through the shared converter."""
from __future__ import annotations

import random
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "src"))

from quelvar_web.engine import _probe  # noqa: E402
from quelvar_web.engine.spatial.gridlocator import MatrixResolver  # noqa: E402
from quelvar_web.engine.spatial.layoutgrid import MatrixBuilder  # noqa: E402

TAGS = ["button", "a", "input", "div", "select", "textarea"]


def page(n: int, seed: int = 7):
    """n descriptors laid out in rows of ten: about one in five a text
    caption, the others controls with realistic attributes."""
    rnd = random.Random(seed)
    dom, text = [], []
    for i in range(n):
        row, col = divmod(i, 10)
        box = {"x": 20.0 + col * 120 + rnd.random(), "y": 40.0 + row * 48 + rnd.random(),
               "width": 100.0, "height": 30.0}
        xpath = f"/html[1]/body[1]/div[{row + 1}]/div[{col + 1}]"
        if i % 5 == 0:
            text.append({"tag": "span", "text": f"Caption {i}", "has_direct_text": True,
                         "attributes": {"class": "caption"}, "bounding_box": box,
                         "is_visible": True, "is_enabled": True, "xpath": xpath + "/span[1]"})
        else:
            tag = TAGS[i % len(TAGS)]
            attrs = {"id": f"el{i}", "class": "control", "data-testid": f"t{i}"}
            if tag in ("input", "textarea"):
                attrs["placeholder"] = f"Field {i}"
                attrs["_label"] = f"Label {i}"
            dom.append({"tag": tag, "text": "" if tag == "input" else f"Item {i}",
                        "attributes": attrs, "bounding_box": box, "is_visible": True,
                        "is_enabled": True, "xpath": xpath + f"/{tag}[1]"})
    return dom, text


def best_of(fn, repeat: int) -> float:
    best = float("inf")
    for _ in range(repeat):
        t0 = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - t0)
    return best


def main() -> None:
    print(f"{'descriptors':>11} {'operation':<34} {'ms':>9} {'floor ms':>9} {'ratio':>7}")
    for n in (1_000, 10_000):
        dom, text = page(n)
        everything = dom + text
        repeat = 30 if n <= 1_000 else 8

        def floor():
            for d in everything:
                d["bounding_box"]

        builder = MatrixBuilder(dom, text)
        matrix = builder.build()
        resolver = MatrixResolver(matrix)
        # An anchor in the last row, so the whole matrix is scanned.
        last = n - 10
        relational = {"action": "click", "target": f"button next to caption {last}", "value": ""}
        ordinal = {"action": "click", "target": "third link", "value": ""}
        assert resolver.resolve(relational)["resolved"]
        assert resolver.resolve(ordinal)["resolved"]

        f = best_of(floor, repeat * 4)
        for name, fn in (("build()", builder.build),
                         ("resolve() 'button next to caption'", lambda: resolver.resolve(relational)),
                         ("resolve() 'third link'", lambda: resolver.resolve(ordinal)),
                         ("  of which: convert descriptors", lambda: _probe.kind(everything)),
                         ("  of which: convert matrix", lambda: _probe.kind(matrix))):
            t = best_of(fn, repeat)
            print(f"{n:>11,} {name:<34} {t * 1e3:>9.3f} {f * 1e3:>9.3f} {t / f:>7.1f}")


if __name__ == "__main__":
    main()
