"""pytest plug-in of quelvar_web (loaded through the ``pytest11`` entry point).

It finds and runs the project's "quelvar.web.config.py", adds the
``--quelvar-report`` option, registers the HTML reporter and gives every test
that asks for it an ``agent`` whose steps are filed for the report.

Importing this module must stay cheap: pytest loads it in every run of a
project that has quelvar_web installed, so nothing here starts a browser.
"""
from __future__ import annotations

import os

import pytest

from quelvar_web import WebAgent
from quelvar_web.harness.reporter import QuelvarReporter

_CONFIG_FILE_NAME = "quelvar.web.config.py"
_DEFAULT_RESULT_DIR = "test_report"
_REPORT_FILE_NAME = "report.html"


def _find_config():
    """Run the nearest "quelvar.web.config.py" at or above the current
    directory and return (names it bound, directory holding it).

    Without a file anywhere up to the root: ({}, current directory). Errors
    from reading or running the file propagate unchanged. Nothing is cached:
    every call searches and runs the file again.
    """
    path = os.getcwd()
    while True:
        candidate = os.path.join(path, _CONFIG_FILE_NAME)
        # Any entry of that name counts, so a directory or a dangling link
        # there fails loudly instead of silently using a file further up.
        if os.path.lexists(candidate):
            cfg: dict = {}
            with open(candidate) as handle:
                source = handle.read()
            # Compiled under its own path so tracebacks point into the file.
            exec(compile(source, candidate, "exec"), cfg, cfg)
            return cfg, path
        parent = os.path.dirname(path)
        if parent == path:
            break
        path = parent
    return {}, os.getcwd()


def _load_project_config():
    """The names bound by the project configuration file ({} without one)."""
    return _find_config()[0]


def pytest_addoption(parser):
    group = parser.getgroup("quelvar")
    group.addoption(
        "--quelvar-report",
        action="store",
        default=None,
        help="Path to quelvar HTML report output file",
    )


def pytest_configure(config):
    cfg, config_dir = _find_config()
    result_dir = cfg.get("RESULT_DIR", _DEFAULT_RESULT_DIR)
    report_path = config.getoption("--quelvar-report", default=None)
    if report_path is None:
        # os.path.join lets an absolute RESULT_DIR replace config_dir.
        report_path = os.path.join(config_dir, result_dir, _REPORT_FILE_NAME)
    config._quelvar_result_dir = result_dir
    reporter = QuelvarReporter(report_path, config)
    config.pluginmanager.register(reporter, "quelvar_reporter")


@pytest.fixture
def agent(request):
    """A fresh WebAgent for one test, configured from the project file."""
    cfg = _load_project_config()
    web_agent = WebAgent(
        url=cfg.get("URL"),
        screenshots=cfg.get("SCREENSHOTS_ON_FAILURE", False),
    )
    yield web_agent
    # A failing close is left to surface as a teardown error; the steps of
    # that test are then not filed.
    web_agent.close()
    config = request.config
    if not hasattr(config, "_quelvar_steps"):
        config._quelvar_steps = {}
    config._quelvar_steps[request.node.nodeid] = web_agent._steps
