"""Cost of one InstructionParser.parse call on a mixed corpus of 10,000 steps,
beside the floor of crossing into the same extension module: `_noop`, a
module function that takes one argument and does nothing. Both are timed
side by side in this run; the ratio is what matters, not the absolute
figures."""
from __future__ import annotations

import random
import time

from quelvar_web.engine.agent import stepgrammar as sg

TEMPLATES = [
    "click {w}", "click the second {w} button", "click first button next to \"{W}\"",
    "type {w} into the {W} field", "type \"{w} {w}\" into \"{W}\"", "select {w} from {W}",
    "hover the {W} menu", "find text {W}", "find exact text \"{W} {w}\"",
    "extract text below {W}", "extract third text right of {W}", "extract text from second {W}",
    "navigate \"https://example.com/{w}\"", "press Enter", "sendkeys 'Control+{W}'", "wait 500",
    "accept dialog", "dismiss dialog", "verify dialog says {W} saved",
    "verify text {W} is visible", "verify text below {W} is {w}", "verify the {W} button is enabled",
    "verify \"{W}\" is present", "verify {W} is disabled",
]
WORDS = ["login", "email", "Price", "Total", "Sign up", "Backpack", "colour", "Name", "Ünïcödé"]


def corpus(n: int, seed: int = 7) -> list[str]:
    rng = random.Random(seed)
    out = []
    for _ in range(n):
        t = rng.choice(TEMPLATES)
        while "{w}" in t or "{W}" in t:
            t = t.replace("{w}", rng.choice(WORDS).lower(), 1).replace("{W}", rng.choice(WORDS), 1)
        out.append(t)
    return out


def run(fn, steps) -> float:
    t0 = time.perf_counter()
    for s in steps:
        fn(s)
    return (time.perf_counter() - t0) / len(steps)


def main() -> None:
    steps = corpus(10_000)
    parse = sg.InstructionParser().parse
    noop = sg._noop
    for s in steps:  # every step of the corpus parses
        parse(s)
    # Rounds alternate so both see the same machine; the best of each counts.
    t_noop = t_parse = float("inf")
    for _ in range(15):
        t_noop = min(t_noop, run(noop, steps))
        t_parse = min(t_parse, run(parse, steps))
    print(f"corpus: {len(steps)} steps, {len(set(s.split()[0] for s in steps))} verbs")
    print(f"empty call (_noop):  {t_noop * 1e9:8.1f} ns")
    print(f"parse:               {t_parse * 1e9:8.1f} ns")
    print(f"parse / empty call:  {t_parse / t_noop:8.1f}x")


if __name__ == "__main__":
    main()
