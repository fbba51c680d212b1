"""Time of DOMStrategy.resolve for a click, a type and a verify step over
1,000 and 10,000 shop-page descriptors, as a ratio to reading the text of
every descriptor in Python, the floor for anything that looks at each one.

Also prints the time of a full conversion of the list through the shared
record converter (the _probe roundtrip), to show how much of a step is
conversion rather than matching.

    PYTHONPATH=src .venv/bin/python bench/textlocator.py
"""
from __future__ import annotations

import random
import timeit

from quelvar_web.engine import _probe
from quelvar_web.engine.strategies.textlocator import DOMStrategy

WORDS = ["Blue", "Backpack", "Canvas", "Tote", "Leather", "Wallet", "Trail", "Runner",
         "Wool", "Scarf", "Steel", "Bottle", "Linen", "Shirt", "Denim", "Jacket"]


def descriptors(n: int, seed: int = 7) -> list[dict]:
    """A shop page scaled to n interactable descriptors: product cards with
    links and Add to cart buttons, a few inputs, one Checkout button and one
    Email field near the end (so every step scans the whole list)."""
    rnd = random.Random(seed)
    out = []
    for i in range(n - 2):
        kind = i % 5
        x, y = float(40 + 220 * (i % 5)), float(120 + 60 * (i // 5))
        box = {"x": x, "y": y, "width": 180.0, "height": 32.0}
        name = f"{rnd.choice(WORDS)} {rnd.choice(WORDS)}"
        xp = f"/html[1]/body[1]/main[1]/div[{i // 5 + 1}]/div[{kind + 1}]"
        if kind in (0, 1):
            out.append({"tag": "button", "text": "Add to cart",
                        "attributes": {"type": "button", "class": "btn btn-primary add-to-cart",
                                       "data-sku": f"sku-{i}"},
                        "bounding_box": box, "is_visible": True, "is_enabled": True,
                        "xpath": xp + "/button[1]"})
        elif kind == 2:
            out.append({"tag": "a", "text": name,
                        "attributes": {"href": f"/p/{i}", "class": "product-link"},
                        "bounding_box": box, "is_visible": True, "is_enabled": True,
                        "xpath": xp + "/a[1]"})
        elif kind == 3:
            out.append({"tag": "input", "text": "",
                        "attributes": {"type": "number", "name": f"qty{i}", "id": f"qty-{i}",
                                       "_label": "Quantity"},
                        "bounding_box": box, "is_visible": True, "is_enabled": True,
                        "xpath": xp + "/input[1]"})
        else:
            out.append({"tag": "div", "text": "♡",
                        "attributes": {"role": "button", "aria-label": f"Save {name}",
                                       "data-v-7ba5bd90": ""},
                        "bounding_box": box, "is_visible": i % 3 != 0, "is_enabled": True,
                        "xpath": xp + "/div[1]"})
    out.append({"tag": "input", "text": "",
                "attributes": {"type": "email", "name": "email", "placeholder": "you@example.com",
                               "_label": "Email"},
                "bounding_box": {"x": 40.0, "y": 20.0, "width": 300.0, "height": 30.0},
                "is_visible": True, "is_enabled": True, "xpath": "/html[1]/body[1]/form[1]/input[1]"})
    out.append({"tag": "button", "text": "Checkout", "attributes": {"type": "submit", "id": "checkout"},
                "bounding_box": {"x": 400.0, "y": 20.0, "width": 120.0, "height": 30.0},
                "is_visible": True, "is_enabled": True, "xpath": "/html[1]/body[1]/form[1]/button[1]"})
    return out


STEPS = {
    "click": {"action": "click", "target": "Checkout", "value": None, "_literal_target": False,
              "ordinal": 1},
    "type": {"action": "type", "target": "Email", "value": "alice@example.com",
             "_literal_target": False},
    "verify": {"action": "verify_enabled", "target": "Checkout button", "value": None,
               "_literal_target": False},
}


def best(fn, number: int) -> float:
    return min(timeit.repeat(fn, number=number, repeat=7)) / number


def main() -> None:
    strategy = DOMStrategy()
    for n in (1_000, 10_000):
        elements = descriptors(n)
        number = max(1, 20_000 // n)
        floor = best(lambda: [d.get("text") for d in elements], number * 10)
        conv = best(lambda: _probe.roundtrip(elements), number)
        print(f"n={n:>6}  floor [d.get('text')]: {floor * 1e3:8.3f} ms   "
              f"full conversion: {conv * 1e3:8.3f} ms ({conv / floor:5.1f}x)")
        for name, step in STEPS.items():
            r = strategy.resolve(step, elements)
            assert r["resolved"] and r["element"] is elements[-1 if name != "type" else -2], name
            t = best(lambda: strategy.resolve(step, elements), number)
            print(f"    {name:<7} resolve: {t * 1e3:8.3f} ms   ratio {t / floor:6.1f}")


if __name__ == "__main__":
    main()
