"""The pytest plug-in, seen from real pytest runs in temporary projects.

Every case runs pytest in a subprocess: the plug-in is loaded there the way a
user's project loads it (through the installed entry point, or with ``-p``
when the package is only on PYTHONPATH). A conftest in the temporary project
swaps in a light fake agent where the browser is not the point, and a probe
writes down what the plug-in left on pytest's config object.
"""
from __future__ import annotations

import importlib.metadata
import json
import os
import textwrap

import pytest

import quelvar_web

CONFIG_NAME = "quelvar.web.config.py"


def plugin_installed() -> bool:
    return any(ep.value == "quelvar_web.harness.fixtures"
               for ep in importlib.metadata.entry_points(group="pytest11"))


def plugin_args() -> list:
    # pytest refuses to register one module twice, so -p only when the
    # entry point does not load it already.
    return [] if plugin_installed() else ["-p", "quelvar_web.harness.fixtures"]


@pytest.fixture(autouse=True)
def importable_package(monkeypatch):
    """Inner runs change directory, so a relative PYTHONPATH (the usual
    PYTHONPATH=src) would lose the package: make it absolute."""
    if plugin_installed():
        return
    package_root = os.path.dirname(os.path.dirname(os.path.abspath(quelvar_web.__file__)))
    entries = [os.path.abspath(p) for p in os.environ.get("PYTHONPATH", "").split(os.pathsep) if p]
    monkeypatch.setenv("PYTHONPATH", os.pathsep.join([package_root, *entries]))


PROBE = """
import json
import quelvar_web.harness.fixtures as plugin

def pytest_sessionfinish(session):
    config = session.config
    reporter = config.pluginmanager.get_plugin("quelvar_reporter")
    steps = getattr(config, "_quelvar_steps", None)
    with open({probe!r}, "w") as out:
        json.dump({{
            "result_dir": getattr(config, "_quelvar_result_dir", "<unset>"),
            "report_path": getattr(reporter, "report_path", "<no reporter>"),
            "reporter_type": type(reporter).__name__,
            "steps": steps,
            "agents": AGENTS,
        }}, out)
"""

FAKE_AGENT = """
AGENTS = []

class FakeAgent:
    def __init__(self, url=None, screenshots=False, **options):
        AGENTS.append({"url": url, "screenshots": screenshots, "options": options})
        self.fail_close = False
        self.closed = False
        self._steps = [{"step": "opened " + repr(url), "status": "passed"}]

    def close(self):
        self.closed = True
        if self.fail_close:
            raise RuntimeError("close failed on purpose")

plugin.WebAgent = FakeAgent
"""

AGENT_TEST = """
def test_uses_agent(agent):
    assert agent is not None
"""


@pytest.fixture
def project(pytester):
    """A temporary project root: pytest.ini (so conftests load from any
    working directory below it) and a probe conftest with the fake agent."""
    probe = pytester.path / "probe.json"
    pytester.makefile(".ini", pytest="[pytest]\n")
    pytester.makeconftest(PROBE.format(probe=str(probe)) + FAKE_AGENT)

    def run(*args, cwd=None):
        if cwd is not None:
            os.chdir(cwd)
        try:
            result = pytester.runpytest_subprocess(*plugin_args(), *args)
        finally:
            os.chdir(pytester.path)
        seen = json.loads(probe.read_text()) if probe.exists() else None
        return result, seen

    pytester.run_project = run
    return pytester


def write(root, files: dict):
    for rel, text in files.items():
        path = root / rel
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(textwrap.dedent(text))


# (files, working directory, extra args, expected report path, RESULT_DIR seen,
#  url and screenshots the agent got); {root} and {abs} are filled in per run.
REPORT_CASES = {
    "no config: defaults, current directory": (
        {}, ".", [], "{root}/test_report/report.html", "test_report", None, False),
    "config two levels up": (
        {CONFIG_NAME: "URL = 'http://app.test/'\nSCREENSHOTS_ON_FAILURE = True\nRESULT_DIR = 'out'\n"},
        "a/b", [], "{root}/out/report.html", "out", "http://app.test/", True),
    "nearest file wins, the one above is never run": (
        {CONFIG_NAME: "raise RuntimeError('the far file was read')\n",
         "a/b/" + CONFIG_NAME: "RESULT_DIR = 'near'\nURL = 'http://near/'\n"},
        "a/b", [], "{root}/a/b/near/report.html", "near", "http://near/", False),
    "only unrelated names bound": (
        {CONFIG_NAME: "import os\nOTHER = 1\ndef helper():\n    return 2\n"},
        ".", [], "{root}/test_report/report.html", "test_report", None, False),
    "absolute RESULT_DIR": (
        {CONFIG_NAME: "RESULT_DIR = {abs!r}\n"},
        "a", [], "{abs}/report.html", "{abs}", None, False),
    "relative option used unchanged": (
        {CONFIG_NAME: "RESULT_DIR = 'out'\n"},
        ".", ["--quelvar-report", "rel/r.html"], "rel/r.html", "out", None, False),
    "absolute option used unchanged": (
        {CONFIG_NAME: "RESULT_DIR = 'out'\n"},
        ".", ["--quelvar-report", "{root}/x/y/r.html"], "{root}/x/y/r.html", "out", None, False),
}


@pytest.mark.parametrize("case", list(REPORT_CASES))
def test_configuration_and_report_path(project, case):
    files, cwd, args, want_path, want_dir, want_url, want_shots = REPORT_CASES[case]
    root = str(project.path)
    absolute = str(project.path / "elsewhere" / "results")
    fill = lambda s: s.replace("{root}", root).replace("{abs}", absolute)  # noqa: E731
    files = {rel: text.format(abs=absolute) if "{abs" in text else text
             for rel, text in files.items()}
    write(project.path, files)
    write(project.path, {f"{cwd}/test_one.py": AGENT_TEST})

    result, seen = project.run_project(*[fill(a) for a in args], cwd=project.path / cwd)

    result.assert_outcomes(passed=1)
    assert seen["report_path"] == fill(want_path)
    assert seen["result_dir"] == fill(want_dir)
    assert seen["reporter_type"] == "QuelvarReporter"
    assert seen["agents"] == [{"url": want_url, "screenshots": want_shots, "options": {}}]
    # The reporter really wrote there; a relative option is relative to the
    # directory pytest ran in.
    written = os.path.join(str(project.path / cwd), fill(want_path))
    assert os.path.isfile(written)


def test_config_error_stops_the_run_before_any_test(project):
    write(project.path, {
        CONFIG_NAME: "X = 1\nraise LookupError('broken project settings')\n",
        "test_one.py": "def test_marks():\n    open('ran.txt', 'w').close()\n",
    })
    result, seen = project.run_project()
    assert result.ret != 0
    out = result.stdout.str() + result.stderr.str()
    assert "LookupError: broken project settings" in out
    assert CONFIG_NAME in out  # the traceback points into the file
    assert not (project.path / "ran.txt").exists()
    assert seen is None  # the session never started


def test_config_syntax_error_propagates(project):
    write(project.path, {CONFIG_NAME: "URL = (\n", "test_one.py": AGENT_TEST})
    result, _ = project.run_project()
    assert result.ret != 0
    assert "SyntaxError" in result.stdout.str() + result.stderr.str()


def test_config_directory_is_an_error(project):
    # An entry of the name that is not a readable file must not be skipped
    # in favour of a file further up.
    (project.path / "a" / CONFIG_NAME).mkdir(parents=True)
    write(project.path, {"a/test_one.py": AGENT_TEST})
    result, _ = project.run_project(cwd=project.path / "a")
    assert result.ret != 0
    assert "IsADirectoryError" in result.stdout.str() + result.stderr.str()


def test_two_tests_file_two_entries_and_run_the_config_each_time(project):
    counter = project.path / "runs.txt"
    write(project.path, {
        CONFIG_NAME: f"with open({str(counter)!r}, 'a') as f:\n    f.write('x')\nURL = 'http://u/'\n",
        "test_two.py": """
            def test_a(agent):
                agent._steps.append({"step": "in a"})

            def test_b(agent):
                agent._steps.append({"step": "in b"})

            def test_without_agent():
                pass
            """,
    })
    result, seen = project.run_project()
    result.assert_outcomes(passed=3)
    assert counter.read_text() == "xxx"  # configure once, then once per agent test
    assert seen["steps"] == {
        "test_two.py::test_a": [{"step": "opened 'http://u/'", "status": "passed"}, {"step": "in a"}],
        "test_two.py::test_b": [{"step": "opened 'http://u/'", "status": "passed"}, {"step": "in b"}],
    }
    assert len(seen["agents"]) == 2


def test_failing_close_is_a_teardown_error_and_files_nothing(project):
    write(project.path, {"test_close.py": """
        def test_breaks_close(agent):
            agent.fail_close = True

        def test_fine(agent):
            pass
        """})
    result, seen = project.run_project()
    result.assert_outcomes(passed=2, errors=1)
    result.stdout.fnmatch_lines(["*ERROR at teardown of test_breaks_close*",
                                 "*RuntimeError: close failed on purpose*"])
    assert list(seen["steps"]) == ["test_close.py::test_fine"]


def test_config_failing_in_the_fixture_is_a_setup_error(project):
    # The file runs fine for the configure hook, then raises for the agent.
    counter = project.path / "runs.txt"
    write(project.path, {
        CONFIG_NAME: f"""
            import os
            if os.path.exists({str(counter)!r}):
                raise ValueError('second run refused')
            open({str(counter)!r}, 'w').close()
            """,
        "test_one.py": AGENT_TEST,
    })
    result, seen = project.run_project()
    result.assert_outcomes(errors=1)
    result.stdout.fnmatch_lines(["*ERROR at setup of test_uses_agent*",
                                 "*ValueError: second run refused*"])
    assert seen["agents"] == [] and seen["steps"] is None


def test_option_is_listed_in_its_group(project):
    result, _ = project.run_project("--help")
    result.stdout.fnmatch_lines(["quelvar:", "*--quelvar-report=*",
                                 "*Path to quelvar HTML report output file"])


def test_plugin_import_starts_no_browser(project):
    # Loading the plug-in is part of every pytest run of a project that
    # installs quelvar_web: it must not pull Playwright in.
    write(project.path, {"test_light.py": """
        import sys

        def test_no_playwright_yet():
            assert "quelvar_web.harness.fixtures" in sys.modules
            assert not any(m.split(".")[0] == "playwright" for m in sys.modules)
        """})
    result, _ = project.run_project()
    result.assert_outcomes(passed=1)


@pytest.mark.browser
def test_real_agent_opens_the_configured_url(pytester):
    # No fake here: the fixture builds the real WebAgent from the file.
    page = pytester.path / "hello.html"
    page.write_text("<title>Hello quelvar</title><p>hi</p>")
    write(pytester.path, {
        CONFIG_NAME: f"URL = {page.as_uri()!r}\n",
        "test_real.py": """
            def test_title(agent):
                assert agent.page.title() == "Hello quelvar"

            def test_again(agent):
                assert agent.page.url.endswith("hello.html")
            """,
    })
    result = pytester.runpytest_subprocess(*plugin_args())
    result.assert_outcomes(passed=2)
    assert (pytester.path / "test_report" / "report.html").is_file()
