"""The same parses and resolutions from 8 threads at once give the same
results as from one. The engine releases the GIL for its pure work, so the
threads really do run side by side; they share one parser, one strategy,
one resolver and the very same descriptor lists, as an agent's worker
threads would."""
from __future__ import annotations

import json
import pathlib
import threading

from quelvar_web.engine.agent.stepgrammar import InstructionParser
from quelvar_web.engine.browser.pagesurvey import DOMParser
from quelvar_web.engine.spatial.gridlocator import MatrixResolver, _parse_target
from quelvar_web.engine.spatial.layoutgrid import MatrixBuilder
from quelvar_web.engine.strategies.textlocator import DOMStrategy

PAGE = json.loads((pathlib.Path(__file__).parent / "data" / "shop_page.json").read_text())
DOM, TEXT = PAGE["dom_elements"], PAGE["text_elements"]
STEPS = [case["step"] for case in PAGE["steps"]] + [
    "clik Save", 'type "a" into', "wait 1.5", "verify Login", "type into Email",
    "click the second button next to Email", "verify text below Price is $10",
    "extract text right of Subtotal", "select Red from Colour", "\ud800 click \u0130",
]
TARGETS = ["button next to Email", "second add to cart below Blue Backpack", "first link",
           "input below Email", "add to cart near Red Mug", "3rd button", "link left of Cart",
           "nothing next to nowhere"]
THREADS, ROUNDS = 8, 3

# Which list and position each descriptor is, so results show identity too.
WHERE = {id(d): (kind, i) for kind, items in (("dom", DOM), ("text", TEXT))
         for i, d in enumerate(items)}


def shown(value):
    """A comparable form of a result: descriptors by their place, so a copy
    in place of the caller's own descriptor shows as a difference."""
    if isinstance(value, dict):
        if id(value) in WHERE:
            return WHERE[id(value)]
        return {k: shown(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [shown(v) for v in value]
    return value


def attempt(call, *args):
    try:
        return shown(call(*args))
    except (TypeError, ValueError, KeyError) as e:
        return (type(e).__name__, str(e))


def work(parser, strategy, resolver):
    out = []
    for step in STEPS:
        out.append(attempt(parser.parse, step))
        out.append(attempt(parser.validate, step))
    out.append(attempt(parser.validate_all, STEPS))
    for case in PAGE["steps"]:
        out.append(attempt(strategy.resolve, case["instruction"], DOM, TEXT))
    matrix = MatrixBuilder(DOM, TEXT).build()
    out.append([(e["index"], e["order_in_type"], e["element_type"], shown(e["element"]))
                for e in matrix])
    for target in TARGETS:
        out.append(attempt(_parse_target, target))
        out.append(attempt(resolver.resolve, {"target": target}))
    out.append(attempt(DOMParser._dedup_text_elements, TEXT))
    return out


def test_eight_threads_agree_with_one():
    parser, strategy = InstructionParser(), DOMStrategy()
    resolver = MatrixResolver(MatrixBuilder(DOM, TEXT).build())
    expected = work(parser, strategy, resolver)
    # The page resolves: a check on nothing but errors would prove little.
    assert sum(1 for r in expected if isinstance(r, dict) and r.get("resolved")) >= 20

    results, errors = [], []
    start = threading.Barrier(THREADS)

    def run():
        try:
            start.wait()
            for _ in range(ROUNDS):
                results.append(work(parser, strategy, resolver))
        except BaseException as e:  # reported below, on the main thread
            errors.append(e)

    threads = [threading.Thread(target=run) for _ in range(THREADS)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors
    assert len(results) == THREADS * ROUNDS
    for r in results:
        assert r == expected
