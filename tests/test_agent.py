"""WebAgent on real Chromium: options, validation before a run, waiting,
acting on the chosen element, failures, dialogs, and the example suite."""
from __future__ import annotations

import os
import re
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import pytest

pytestmark = pytest.mark.browser

import quelvar_web

ROOT = Path(__file__).resolve().parents[1]
# Where the package under test was imported from: the source tree during
# development, site-packages once it is installed.
SRC = Path(quelvar_web.__file__).resolve().parents[1]


@pytest.fixture
def make_agent(browser, tmp_path):
    """WebAgent factory with a short timeout, in the session's browser (one
    Playwright per thread); closes what it made."""
    from quelvar_web import WebAgent

    made = []

    def make(html=None, **options):
        options.setdefault("browser", browser)
        options.setdefault("timeout", 1.0)
        options.setdefault("screenshot_dir", str(tmp_path / "shots"))
        agent = WebAgent(**options)
        made.append(agent)
        if html is not None:
            agent.page.set_content(html)
        return agent

    yield make
    for agent in made:
        agent.close()


def _run_python(code, **kw):
    env = dict(os.environ, PYTHONPATH=str(SRC))
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                          env=env, timeout=120, **kw)


def test_package_import_does_not_load_playwright():
    out = _run_python(
        "import sys, quelvar_web\n"
        "assert 'playwright' not in sys.modules, 'eager import'\n"
        "assert 'quelvar_web.agent' not in sys.modules\n"
        "from quelvar_web import WebAgent\n"
        "import quelvar_web.agent as m\n"
        "assert WebAgent is m.WebAgent\n"
        "try:\n    quelvar_web.NoSuchThing\nexcept AttributeError:\n    print('ok')\n")
    assert out.returncode == 0, out.stderr
    assert out.stdout.strip() == "ok"


def test_own_browser_options_and_close_twice():
    # A separate process: this one already runs the session's Playwright.
    out = _run_python(
        "import os\n"
        "from quelvar_web import WebAgent\n"
        "try:\n    WebAgent(bogus=1)\nexcept TypeError as e:\n    assert 'bogus' in str(e)\n"
        "os.environ['QUELVAR_VIEWPORT'] = '800x600'\n"
        "a = WebAgent('data:text/html,<h1>hi</h1>', timeout=2)\n"
        "b = WebAgent(viewport=(640, 480))\n"       # two agents, one Playwright
        "assert a.page.viewport_size == {'width': 800, 'height': 600}\n"
        "assert b.page.viewport_size == {'width': 640, 'height': 480}\n"
        "assert a.timeout == 2.0 and a.page.inner_text('h1') == 'hi'\n"
        "a.close(); a.close(); assert a.page.is_closed()\n"
        "assert b.page.evaluate('1 + 1') == 2\n"
        "b.close()\n"
        "c = WebAgent(); c.close()\n"                # Playwright restarts after the last close
        "print('ok')\n")
    assert out.returncode == 0, out.stderr[-3000:]
    assert out.stdout.strip() == "ok"


def test_given_browser_stays_open(make_agent, browser):
    agent = make_agent("<p>x</p>")
    agent.close()
    assert agent.page.is_closed() and browser.is_connected()


def test_opens_url_and_navigates_relative(make_agent, tmp_path):
    (tmp_path / "a.html").write_text("<h1>Page A</h1><a href='b.html'>Go to B</a>")
    (tmp_path / "b.html").write_text("<h1>Page B</h1>")
    agent = make_agent(url=(tmp_path / "a.html").as_uri())
    agent.run("click Go to B")
    agent.run("verify text Page B is visible")
    agent.run("back")
    agent.run("navigate b.html")
    assert agent.page.url.endswith("/b.html")
    assert [s["status"] for s in agent._steps] == ["passed"] * 4


def test_run_all_validates_every_step_before_acting(make_agent):
    from quelvar_web.engine.agent.stepgrammar import InstructionParser

    agent = make_agent("<button onclick=\"document.title='clicked'\">Save</button>")
    steps = ["click Save", "clik Save", "wait 1.5", 'click "Save']
    with pytest.raises(AssertionError) as info:
        agent.run_all(steps)
    message = str(info.value)
    parser = InstructionParser()
    for number in (2, 3, 4):
        for issue in parser.validate(steps[number - 1]):
            assert f"step {number} {steps[number - 1]!r}: {issue}" in message
    assert "step 1" not in message
    assert agent.page.title() != "clicked"        # nothing was run
    assert [s["status"] for s in agent._steps] == ["failed", "failed", "failed", "skipped"]
    assert all(s["error"] for s in agent._steps[:3])


def test_step_records(make_agent):
    agent = make_agent("<p>Total</p><input aria-label='Name' value='Ada'>"
                       "<button onclick=\"this.textContent='Done'\">Go</button>")
    record = agent.run("click Go")
    assert record is agent._steps[-1]
    assert record["status"] == "passed" and record["action"] == "click"
    assert record["instruction"]["target"] == "Go"
    assert record["strategy"] == "text"
    assert record["element"]["tag"] == "button" and record["element"]["text"] == "Go"
    assert set(record["element"]["box"]) == {"x", "y", "width", "height"}
    assert record["element"]["xpath"].startswith("/html[1]/body[1]/button")
    assert record["candidates"] >= 1 and record["duration_ms"] > 0
    assert record["error"] is None and record["screenshot"] is None
    assert agent.run("extract text from Name")["extracted"] == "Ada"   # live input value
    assert agent.run("verify text Done is visible")["verified"] is True


def test_failure_names_step_target_and_closest_candidates(make_agent):
    agent = make_agent("<button>Sign up</button><button>Log out</button><p>Sign in help</p>",
                       screenshots=True)
    with pytest.raises(AssertionError) as info:
        agent.run("click Sign in now")
    message = str(info.value)
    assert "'click Sign in now'" in message and "'Sign in now'" in message
    assert "Closest candidates:" in message
    assert "button 'Sign up' at (x=" in message
    record = agent._steps[-1]
    assert record["status"] == "failed" and record["error"] == message
    assert record["screenshot"] and Path(record["screenshot"]).stat().st_size > 0
    assert f"Screenshot: {record['screenshot']}" in message


def test_no_screenshot_unless_enabled(make_agent):
    agent = make_agent("<button>One</button>")
    with pytest.raises(AssertionError):
        agent.run("verify text Two is present")
    assert agent._steps[-1]["screenshot"] is None


def test_waits_for_late_content_and_scrolls_into_view(make_agent):
    agent = make_agent(
        "<div style='height:3000px'>tall</div><p id=o>waiting</p><script>"
        "setTimeout(() => { const b = document.createElement('button');"
        " b.textContent = 'Late one'; b.onclick = () => o.textContent = 'clicked';"
        " document.body.appendChild(b); }, 700);</script>", timeout=5)
    record = agent.run("click Late one")
    assert record["attempts"] > 1
    assert agent.page.evaluate("window.scrollY") > 0
    assert agent.page.inner_text("#o") == "clicked"


def test_acts_on_an_element_inside_a_shadow_root(make_agent):
    agent = make_agent(
        "<p id=o>none</p><div id=host></div><script>"
        "const root = host.attachShadow({mode: 'open'});"
        "root.innerHTML = '<div><button>Shadow save</button></div>';"
        "root.querySelector('button').onclick = () => o.textContent = 'shadow';"
        "</script>")
    record = agent.run("click Shadow save")
    assert not record["element"]["xpath"].startswith("/html")
    assert agent.page.inner_text("#o") == "shadow"


def test_type_select_hover_press_and_sendkeys(make_agent):
    agent = make_agent(
        "<label for=e>Email</label><input id=e>"
        "<select aria-label='Colour'><option value=r>Red</option><option value=b>Blue</option></select>"
        "<button onmouseenter=\"o.textContent='hovered'\">Help</button><p id=o>-</p>"
        "<input id=k placeholder='Keys' onkeydown=\"if(event.key==='Enter') o.textContent='enter:'+this.value\">")
    agent.run("type alice into Email")
    agent.run("select Blue from Colour")
    agent.run("hover Help")
    assert agent.page.input_value("#e") == "alice"
    assert agent.page.input_value("select") == "b"
    assert agent.page.inner_text("#o") == "hovered"
    agent.run("click Keys")
    agent.run("sendkeys abc")
    agent.run("press Enter")
    assert agent.page.inner_text("#o") == "enter:abc"
    agent.run("sendkeys Backspace Enter")
    assert agent.page.inner_text("#o") == "enter:ab"


@pytest.mark.parametrize("step, expected", [
    ("verify Save is disabled", "to be disabled, but it is not"),
    ("verify text Hidden note is visible", "no text on the page contains 'Hidden note'"),
    ("verify text right of Total is $99", "found '$10'"),
    ("click fifth Save", "only 2 element(s) match"),
    ("find exact text Tot", "no text on the page reads exactly 'Tot'"),
    ("wait soon", "not valid"),
    ("type abc into Save", "takes no typing"),
])
def test_failed_checks_say_what_was_seen(make_agent, step, expected):
    agent = make_agent("<button>Save</button><button>Save</button>"
                       "<span style='visibility:hidden'>Hidden note</span>"
                       "<div><span>Total</span> <span>$10</span></div>", timeout=0.5)
    with pytest.raises(AssertionError, match="(?s)" + re.escape(expected)):
        agent.run(step)
    assert agent._steps[-1]["status"] == "failed"


def test_strategy_order_relational_first_quoted_text_only(make_agent):
    agent = make_agent(
        "<div><span>Name</span> <input> <button onclick=\"o.textContent='row'\">Edit</button></div>"
        "<div style='margin-top:60px'><button onclick=\"o.textContent='literal'\">Next to nothing</button></div>"
        "<p id=o>-</p>")
    assert agent.run("click the button next to Name")["strategy"] == "spatial"
    assert agent.page.inner_text("#o") == "row"
    assert agent.run('click "Next to nothing"')["strategy"] == "text"
    assert agent.page.inner_text("#o") == "literal"
    # Unquoted, the layout resolver finds no anchor "nothing"; the text
    # strategy then finds the button.
    assert agent.run("click Next to nothing")["strategy"] == "text"


def test_dialogs_with_run_and_run_all(make_agent):
    page = ("<button onclick=\"o.textContent = confirm('Really delete?') ? 'yes' : 'no'\">Delete</button>"
            "<p id=o>-</p>")
    agent = make_agent(page)
    # Step by step: a dialog nobody asked about is accepted, and checked after.
    agent.run("click Delete")
    agent.run("verify dialog says Really delete?")
    agent.run("accept dialog")
    assert agent.page.inner_text("#o") == "yes"
    # Armed beforehand.
    agent.run("dismiss dialog")
    agent.run("click Delete")
    assert agent.page.inner_text("#o") == "no"
    # Asked for too late: the dialog was already accepted; say so.
    agent.run("click Delete")
    with pytest.raises(AssertionError, match="was accepted when it opened"):
        agent.run("dismiss dialog")
    # run_all looks ahead to the answer.
    agent.run_all(["click Delete", "verify dialog says delete", "dismiss dialog"])
    assert agent.page.inner_text("#o") == "no"
    with pytest.raises(AssertionError, match="the dialog said 'Really delete\\?', expected 'Sure'"):
        agent.run_all(["click Delete", "verify dialog says Sure", "accept dialog"])
    assert agent._steps[-1]["status"] == "skipped"


def test_remote_browser_over_cdp(tmp_path):
    from quelvar_web._chromium import LAUNCH_ARGS, find_chromium

    chromium = find_chromium()
    if not chromium:
        pytest.skip("no system Chromium to start as a remote browser")
    profile = tmp_path / "profile"
    proc = subprocess.Popen([chromium, "--headless", "--remote-debugging-port=0",
                             f"--user-data-dir={profile}", *LAUNCH_ARGS, "about:blank"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        port_file = profile / "DevToolsActivePort"
        for _ in range(200):
            if port_file.exists() and port_file.read_text().strip():
                break
            time.sleep(0.05)
        port = port_file.read_text().split()[0]
        out = _run_python(
            "from quelvar_web import WebAgent\n"
            f"a = WebAgent(endpoint='http://127.0.0.1:{port}', timeout=2)\n"
            "a.page.set_content(\"<button onclick=\\\"o.textContent='remote'\\\">Ping</button><p id=o>-</p>\")\n"
            "a.run('click Ping')\n"
            "print(a.page.inner_text('#o'))\n"
            "a.close()\n")
        assert out.returncode == 0, out.stderr[-3000:]
        assert out.stdout.strip() == "remote"
        assert proc.poll() is None      # closing the agent leaves a remote browser running
    finally:
        proc.terminate()
        proc.wait(timeout=10)


# ------------------------------------------------------------ example suite

def _plugin_args():
    import importlib.metadata

    names = {e.value for e in importlib.metadata.entry_points(group="pytest11")}
    return [] if "quelvar_web.harness.fixtures" in names else ["-p", "quelvar_web.harness.fixtures"]


def _run_examples(*args, tmp):
    env = dict(os.environ, PYTHONPATH=str(SRC), QUELVAR_SCREENSHOT_DIR=str(tmp / "shots"))
    env.pop("QUELVAR_DEMO_URL", None)
    cmd = [sys.executable, "-m", "pytest", *_plugin_args(), "-q", "-p", "no:cacheprovider",
           "--quelvar-report", str(tmp / "report.html"), *args]
    return subprocess.run(cmd, cwd=ROOT / "examples", env=env, capture_output=True,
                          text=True, timeout=900)


def test_example_suite_passes_and_the_failing_example_fails_readably():
    with tempfile.TemporaryDirectory() as tmp:
        tmp = Path(tmp)
        run = _run_examples("-n", "2", tmp=tmp)
        assert run.returncode == 0, run.stdout[-4000:] + run.stderr[-2000:]
        assert " failed" not in run.stdout and " passed" in run.stdout
        assert (tmp / "report.html").exists()

        bad = _run_examples("failing_example.py", tmp=tmp)
        assert bad.returncode == 1, bad.stdout[-4000:]
        out = bad.stdout
        assert "Step 'click Checkout now' failed" in out
        assert "Closest candidates:" in out
        shots = list((tmp / "shots").glob("*.png"))
        assert len(shots) == 1 and f"Screenshot: {shots[0]}" in out
