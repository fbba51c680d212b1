"""The HTML report: written by real pytest runs (serial and with xdist's
``-n 2``), read back as text and rendered in real Chromium."""
from __future__ import annotations

import base64
import importlib.metadata
import os
import re
import struct
import textwrap
import zlib

import pytest

import quelvar_web


def plugin_installed() -> bool:
    return any(ep.value == "quelvar_web.harness.fixtures"
               for ep in importlib.metadata.entry_points(group="pytest11"))


def plugin_args() -> list:
    # pytest refuses to register one module twice: -p only without the entry point.
    return [] if plugin_installed() else ["-p", "quelvar_web.harness.fixtures"]


@pytest.fixture(autouse=True)
def importable_package(monkeypatch):
    # Inner runs (and xdist workers) must find the package from any directory.
    if plugin_installed():
        return
    package_root = os.path.dirname(os.path.dirname(os.path.abspath(quelvar_web.__file__)))
    entries = [os.path.abspath(p) for p in os.environ.get("PYTHONPATH", "").split(os.pathsep) if p]
    monkeypatch.setenv("PYTHONPATH", os.pathsep.join([package_root, *entries]))


def solid_png(width: int, height: int, rgb: tuple) -> bytes:
    """A minimal valid PNG of one colour, standing in for a screenshot."""
    def chunk(tag, data):
        return (struct.pack(">I", len(data)) + tag + data
                + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF))
    rows = b"".join(b"\x00" + bytes(rgb) * width for _ in range(height))
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


# A fake agent that records steps shaped like the real agent's records.
CONFTEST = """
import quelvar_web.harness.fixtures as plugin

class FakeAgent:
    def __init__(self, url=None, screenshots=False, **options):
        self._steps = []
        self.fail_close = False

    def run(self, step, status="passed", error=None, screenshot=None):
        self._steps.append({
            "step": step, "action": step.split()[0], "status": status,
            "strategy": "text", "candidates": 3,
            "element": {"tag": "button", "text": step.split()[-1],
                        "xpath": "/html[1]/body[1]/button[2]",
                        "box": {"x": 1, "y": 2, "width": 3, "height": 4}},
            "duration_ms": 12.5, "error": error, "screenshot": screenshot,
        })
        if status == "failed":
            raise AssertionError(error)

    def close(self):
        if self.fail_close:
            raise RuntimeError("close failed on purpose")

plugin.WebAgent = FakeAgent
"""

HOSTILE_STEP = 'click <img src=x onerror="window.__pwned=1"> & Pay'
HOSTILE_ERROR = "No element matches 'Pay' <b>bold</b>; closest: 'Pal' at (10, 20)"

SUITE = f"""
import pytest

def test_login(agent):
    agent.run("type alice into Email")
    agent.run("click Login")

def test_checkout_fails(agent):
    agent.run("click Cart")
    agent.run({HOSTILE_STEP!r}, status="failed", error={HOSTILE_ERROR!r}, screenshot=SHOT)
    agent.run("click never reached")

def test_plain():
    pass

@pytest.mark.skip(reason="not today")
def test_skipped(agent):
    pass

def test_close_breaks(agent):
    agent.run("click Logout")
    agent.fail_close = True

@pytest.fixture
def broken():
    raise RuntimeError("setup exploded")

def test_setup_error(broken):
    pass
"""

EXPECTED_OUTCOMES = [
    ("test_suite.py::test_login", "passed"),
    ("test_suite.py::test_checkout_fails", "failed"),
    ("test_suite.py::test_plain", "passed"),
    ("test_suite.py::test_skipped", "skipped"),
    ("test_suite.py::test_close_breaks", "error"),
    ("test_suite.py::test_setup_error", "error"),
]


@pytest.fixture
def suite(pytester):
    png = solid_png(40, 30, (200, 30, 30))
    shot = pytester.path / "shots" / "fail.png"
    shot.parent.mkdir()
    shot.write_bytes(png)
    pytester.makeconftest(CONFTEST)
    pytester.makepyfile(test_suite=f"SHOT = {str(shot)!r}\n" + SUITE)

    def run(*args):
        report = pytester.path / "out" / "report.html"
        result = pytester.runpytest_subprocess(*plugin_args(), "--quelvar-report", str(report), *args)
        # pytest counts the test whose close failed both as passed and as an
        # error; the report gives every test one outcome.
        result.assert_outcomes(passed=3, failed=1, skipped=1, errors=2)
        result.stdout.fnmatch_lines([f"quelvar report: {report}"])
        return report.read_text(encoding="utf-8")

    run.png = png
    return run


def sections(html: str) -> dict:
    """nodeid -> the HTML of that test's section, in document order."""
    found = re.findall(r'<section class="test [^"]*" data-nodeid="([^"]*)" '
                       r'data-outcome="([^"]*)">(.*?)</section>', html, re.S)
    return {nodeid: (outcome, body) for nodeid, outcome, body in found}


def check_report(html: str, png: bytes):
    summary = re.search(r'<table class="summary".*?</table>', html, re.S).group(0)
    counts = dict((o, int(n)) for o, n in re.findall(
        r'data-outcome="(\w+)"><span class="n">(\d+)</span>', summary))
    assert counts == {"passed": 2, "failed": 1, "error": 2, "skipped": 1}
    assert "duration" in summary

    tests = sections(html)
    assert [(k, v[0]) for k, v in tests.items()] == EXPECTED_OUTCOMES

    login = tests["test_suite.py::test_login"][1]
    assert login.count('<tr class="passed">') == 2
    assert "type alice into Email" in login and "/html[1]/body[1]/button[2]" in login

    failed = tests["test_suite.py::test_checkout_fails"][1]
    # The failed step comes first, with its message and its screenshot inline.
    prominent = re.search(r'<div class="failed-step">(.*?)</div>', failed, re.S).group(1)
    assert "Failed step 2:" in prominent
    assert html_text(HOSTILE_STEP) in prominent and html_text(HOSTILE_ERROR) in prominent
    data_uri = "data:image/png;base64," + base64.b64encode(png).decode()
    assert f'<img class="screenshot" alt="Screenshot of the failed step" src="{data_uri}">' in prominent
    assert failed.index('class="failed-step"') < failed.index('<table class="steps">')
    assert failed.count('<tr class="failed">') == 1 and failed.count('<tr class="passed">') == 1
    assert "never reached" not in failed
    # Page text never becomes markup.
    assert "<img src=x" not in html and "<b>bold</b>" not in html

    broken_close = tests["test_suite.py::test_close_breaks"][1]
    assert "Failed in teardown" in broken_close and "close failed on purpose" in broken_close
    assert "No agent steps recorded." in broken_close  # nothing was filed
    assert "setup exploded" in tests["test_suite.py::test_setup_error"][1]


def html_text(text: str) -> str:
    import html
    return html.escape(text, quote=True)


def normalised(html: str) -> str:
    # Timings, and pytest's own traceback text (object addresses, xdist's
    # worker header), differ between runs; everything else must not.
    html = re.sub(r"Generated [^&]*&middot;", "Generated", html)
    html = re.sub(r"<summary>Traceback</summary><pre>.*?</pre>", "TB", html, flags=re.S)
    return re.sub(r"\d+\.\d\d(?=</span>| s)", "T", html)


def test_report_content_serial_and_with_xdist(suite):
    serial = suite()
    check_report(serial, suite.png)
    parallel = suite("-n", "2")
    check_report(parallel, suite.png)
    # Same tests, same order, same content; only timings differ.
    assert normalised(parallel) == normalised(serial)


def test_report_path_edge_cases(pytester):
    pytester.makepyfile(test_one="def test_ok():\n    pass\n")
    # An empty path writes nothing and does not break the run.
    result = pytester.runpytest_subprocess(*plugin_args(), "--quelvar-report", "")
    result.assert_outcomes(passed=1)
    assert "quelvar report" not in result.stdout.str()
    # A path that cannot be written is named; the run's own result stands.
    (pytester.path / "taken").write_text("a file, not a directory")
    result = pytester.runpytest_subprocess(*plugin_args(), "--quelvar-report", "taken/report.html")
    result.assert_outcomes(passed=1)
    assert result.ret == 0
    result.stdout.fnmatch_lines(["quelvar report not written: *Error*"])


def test_collection_error_is_counted(pytester):
    pytester.makepyfile(test_bad="import no_such_module_here\n")
    report = pytester.path / "r.html"
    pytester.runpytest_subprocess(*plugin_args(), "--quelvar-report", str(report))
    html = report.read_text(encoding="utf-8")
    assert re.search(r'data-outcome="error"><span class="n">1</span>', html)
    assert "Collection errors" in html and "no_such_module_here" in html


COLOUR_STATS = """async (b64) => {
    const img = new Image();
    img.src = "data:image/png;base64," + b64;
    await img.decode();
    const canvas = document.createElement("canvas");
    canvas.width = img.naturalWidth; canvas.height = img.naturalHeight;
    const ctx = canvas.getContext("2d");
    ctx.drawImage(img, 0, 0);
    const px = ctx.getImageData(0, 0, canvas.width, canvas.height).data;
    const counts = new Map();
    for (let i = 0; i < px.length; i += 4) {
        const key = (px[i] << 16) | (px[i + 1] << 8) | px[i + 2];
        counts.set(key, (counts.get(key) || 0) + 1);
    }
    return {distinct: counts.size, top: Math.max(...counts.values()), total: px.length / 4};
}"""


@pytest.mark.browser
def test_report_renders_in_chromium(suite, page, pytester):
    suite()
    report = pytester.path / "out" / "report.html"
    page.goto(report.as_uri())

    assert page.title() == "quelvar_web test report"
    summary = page.inner_text("#summary")
    for part in ("2 passed", "1 failed", "2 errors", "1 skipped"):
        assert part in summary
    failed = page.locator('section[data-nodeid="test_suite.py::test_checkout_fails"]')
    step = failed.locator(".failed-step")
    assert step.is_visible()
    assert HOSTILE_STEP in step.inner_text() and HOSTILE_ERROR in step.inner_text()
    # The embedded screenshot decodes to the image that was taken.
    assert failed.locator("img.screenshot").evaluate("i => [i.complete, i.naturalWidth, i.naturalHeight]") \
        == [True, 40, 30]
    assert page.evaluate("window.__pwned") is None  # no step text ran as markup
    assert page.locator("section.test").count() == len(EXPECTED_OUTCOMES)

    # What the browser actually painted: a blank or unstyled page would be
    # (nearly) one colour.
    shot = page.screenshot()
    stats = page.evaluate(COLOUR_STATS, base64.b64encode(shot).decode())
    assert stats["distinct"] > 20, stats
    assert stats["top"] < 0.98 * stats["total"], stats
