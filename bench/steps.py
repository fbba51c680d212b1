"""Median time of one agent step, split into survey, resolve and act, beside
Playwright's own ``get_by_text(...).click()`` for the same click on the same
page, measured side by side in this run.

Pages:
- the demo shop page (a few dozen elements), steps "click Shipping info"
  (text strategy) and "click Add to cart near Green Tent" (layout);
- a generated page of 2,000 buttons. A sample page of the same markup
  (--sample buttons) is surveyed first; when it shows that a survey of the
  real page takes less than --full-limit seconds, the real page is surveyed
  and resolved. Otherwise (the per-element reference survey makes a dozen
  browser round trips per element) the sample's time is scaled to 2,000 and
  resolution runs on 2,000 descriptors copied from the sample's (same keys,
  text, boxes and paths shifted per button); the output says which. Acting
  always runs on the real 2,000-button page.

    python bench/steps.py [--repeat 5] [--sample 100] [--full-limit 60]
"""
from __future__ import annotations

import argparse
import copy
import re
import statistics
import time

from quelvar_web import WebAgent
from quelvar_web.demo import DemoServer

N_BIG = 2000
COLUMNS = 10


def big_page(n):
    """n buttons in a grid of fixed cells, so boxes are predictable."""
    cells = "".join(f"<button style='width:110px;height:24px'>Item {i:04d}</button>"
                    for i in range(n))
    return ("<style>body{margin:8px} div{display:grid;grid-template-columns:"
            f"repeat({COLUMNS},120px);row-gap:6px}}</style><div>{cells}</div>")


def median_ms(samples):
    return statistics.median(samples) * 1000


def time_calls(fn, repeat):
    out = []
    for _ in range(repeat):
        t0 = time.perf_counter()
        fn()
        out.append(time.perf_counter() - t0)
    return out


def bench_agent_step(agent, url, step, repeat):
    """Median survey/resolve/act/total (ms) of ``step`` run fresh each time."""
    parts = {"survey_ms": [], "resolve_ms": [], "act_ms": [], "total": []}
    for _ in range(repeat):
        agent.page.goto(url)
        record = agent.run(step)
        for key in ("survey_ms", "resolve_ms", "act_ms"):
            parts[key].append(record["timings"][key] / 1000)
        parts["total"].append(record["duration_ms"] / 1000)
    return {k: median_ms(v) for k, v in parts.items()}


def bench_get_by_text(agent, url, text, repeat):
    samples = []
    for _ in range(repeat):
        agent.page.goto(url)
        t0 = time.perf_counter()
        agent.page.get_by_text(text, exact=True).click()
        samples.append(time.perf_counter() - t0)
    return median_ms(samples)


def scale_descriptors(sample, n):
    """n button descriptors built from the sample's: the i-th copies sample
    button i % len, with its text, row offset and path index adjusted."""
    per_row_y = None
    buttons = [d for d in sample if d["tag"] == "button"]
    if len(buttons) > COLUMNS:
        per_row_y = buttons[COLUMNS]["bounding_box"]["y"] - buttons[0]["bounding_box"]["y"]
    out = []
    for i in range(n):
        base = buttons[i % len(buttons)]
        d = copy.deepcopy(base)
        d["text"] = f"Item {i:04d}"
        row_shift = (i // len(buttons)) * (len(buttons) // COLUMNS) * (per_row_y or 30)
        d["bounding_box"]["y"] = base["bounding_box"]["y"] + row_shift
        d["xpath"] = re.sub(r"button\[\d+\]$", f"button[{i + 1}]", base["xpath"])
        out.append(d)
    return out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--repeat", type=int, default=5)
    ap.add_argument("--sample", type=int, default=100)
    ap.add_argument("--full-limit", type=float, default=60,
                    help="survey the real 2,000-button page when the sample says "
                         "it takes less than this many seconds")
    args = ap.parse_args()
    rows = []
    with DemoServer() as server:
        agent = WebAgent(timeout=30)
        try:
            eng = agent._engines()
            shop = server.url + "shop.html"
            for step in ("click Shipping info", "click Add to cart near Green Tent"):
                r = bench_agent_step(agent, shop, step, args.repeat)
                rows.append(("shop", step, r))
            pw_shop = bench_get_by_text(agent, shop, "Shipping info", args.repeat)

            # 2,000 buttons: first a sample of the same markup; when its
            # figure says a full survey is affordable, the real page.
            agent.page.set_content(big_page(args.sample))
            survey_sample = time_calls(
                lambda: eng["DOMParser"](agent.page).extract_interactable_elements(),
                max(1, args.repeat // 2))
            estimate = median_ms(survey_sample) * N_BIG / args.sample
            sampled = estimate > args.full_limit * 1000
            if sampled:
                dom_s, text_s = eng["DOMParser"](agent.page).extract_interactable_elements()
                survey_big = estimate
                dom = scale_descriptors(dom_s, N_BIG)
                texts = scale_descriptors([t for t in text_s if t["tag"] == "button"], N_BIG)
            else:
                agent.page.set_content(big_page(N_BIG))
                runs = time_calls(
                    lambda: eng["DOMParser"](agent.page).extract_interactable_elements(),
                    max(1, args.repeat // 2))
                survey_big = median_ms(runs)
                dom, texts = eng["DOMParser"](agent.page).extract_interactable_elements()
            target = f"Item {N_BIG - 1:04d}"
            parsed = eng["parser"].parse(f"click {target}")
            resolve_text = median_ms(time_calls(
                lambda: eng["strategy"].resolve(parsed, dom, texts), args.repeat))
            near = eng["parser"].parse(f"click button next to Item {N_BIG - 2:04d}")
            resolve_layout = median_ms(time_calls(
                lambda: eng["MatrixResolver"](eng["MatrixBuilder"](dom, texts).build())
                .resolve(near), args.repeat))
            result = eng["strategy"].resolve(parsed, dom, texts)
            assert result["resolved"] and result["element"]["text"] == target

            big = big_page(N_BIG)
            agent.page.set_content(big)
            # The descriptor of the real page's last button, as the survey
            # would give it: path from the page, box from the page.
            live = agent.page.locator("button").nth(N_BIG - 1)
            element = dict(result["element"], bounding_box=live.bounding_box(),
                           xpath=f"/html[1]/body[1]/div[1]/button[{N_BIG}]")
            act = []
            for _ in range(args.repeat):
                agent.page.set_content(big)
                record = {"timings": {"act_ms": 0.0}}
                t0 = time.perf_counter()
                agent._act(parsed, element, record, time.perf_counter() + 30)
                act.append(time.perf_counter() - t0)
            act_big = median_ms(act)
            pw_big = []
            for _ in range(args.repeat):
                agent.page.set_content(big)
                t0 = time.perf_counter()
                agent.page.get_by_text(target, exact=True).click()
                pw_big.append(time.perf_counter() - t0)
            pw_big = median_ms(pw_big)
        finally:
            agent.close()

    print(f"Median ms per step over {args.repeat} runs (one process, side by side)")
    print(f"{'page':8} {'step':38} {'survey':>9} {'resolve':>8} {'act':>7} {'total':>9}")
    for page, step, r in rows:
        print(f"{page:8} {step:38} {r['survey_ms']:9.1f} {r['resolve_ms']:8.2f} "
              f"{r['act_ms']:7.1f} {r['total']:9.1f}")
    shop_total = rows[0][2]["total"]
    print(f"shop     playwright get_by_text('Shipping info').click(){'':6}{pw_shop:9.1f}"
          f"   -> agent step / playwright = {shop_total / pw_shop:.1f}x")
    if sampled:
        print(f"\n2,000 buttons (survey timed on a {args.sample}-button sample and scaled x"
              f"{N_BIG / args.sample:g}; resolution on descriptors copied from the sample):")
    else:
        print(f"\n2,000 buttons (survey and resolution on the real page):")
    print(f"  survey  {survey_big:10.0f} ms  ({survey_big / N_BIG:.2f} ms per button; "
          f"{len(dom)} interactable + {len(texts)} text descriptors)")
    print(f"  resolve {resolve_text:10.2f} ms  text strategy, 'click {target}' over "
          f"{len(dom)} + {len(texts)} descriptors")
    print(f"  resolve {resolve_layout:10.2f} ms  layout (build matrix + resolve 'button next to ...')")
    print(f"  act     {act_big:10.1f} ms  locate by path, scroll, click")
    step_big = survey_big + resolve_text + act_big
    print(f"  step    {step_big:10.0f} ms  vs playwright get_by_text('{target}').click() "
          f"{pw_big:.1f} ms -> {step_big / pw_big:.0f}x")
    print(f"  act alone / playwright click = {act_big / pw_big:.1f}x")


if __name__ == "__main__":
    main()
