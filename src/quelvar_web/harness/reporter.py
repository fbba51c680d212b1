"""The HTML report of a quelvar_web test run.

``QuelvarReporter`` is a pytest plug-in object (registered by the plug-in in
``fixtures``). It follows the run's test reports and, at the end, writes one
self-contained HTML file: a summary, then every test with its outcome,
duration and the table of agent steps, the failed step and its screenshot
shown first. Screenshots are embedded as data URIs so the file can be mailed
or archived alone.

Under pytest-xdist each worker has its own reporter: it collects the steps of
the tests it ran and hands them to the controller through xdist's
``workeroutput``; only the controller writes the file.
"""
from __future__ import annotations

import base64
import datetime
import html
import math
import mimetypes
import os
import time

import pytest

_WORKEROUTPUT_KEY = "quelvar_steps"

# Step keys shown in their own columns; the rest go to the details column.
_COLUMN_KEYS = ("step", "action", "status", "strategy", "element", "duration_ms",
                "error", "screenshot")

_OUTCOME_ORDER = ("passed", "failed", "error", "skipped", "xfailed", "xpassed")


def _esc(value) -> str:
    return html.escape(str(value), quote=True)


def _portable(value, depth=0):
    """A copy of ``value`` made of dicts, lists, str, numbers, bool and None,
    so it can travel from an xdist worker and be rendered; anything else is
    shown by its repr."""
    if depth > 50:
        return repr(value)
    if value is None or isinstance(value, (bool, int, str)):
        return value
    if isinstance(value, float):
        return value if math.isfinite(value) else repr(value)
    if isinstance(value, dict):
        return {str(k): _portable(v, depth + 1) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [_portable(v, depth + 1) for v in value]
    if isinstance(value, os.PathLike):
        return os.fspath(value)
    return repr(value)


def _data_uri(path: str) -> str | None:
    """The file at ``path`` as a data URI, or None when it cannot be read."""
    try:
        with open(path, "rb") as handle:
            data = handle.read()
    except (OSError, ValueError):
        return None
    mime = mimetypes.guess_type(path)[0] or "image/png"
    return f"data:{mime};base64,{base64.b64encode(data).decode('ascii')}"


def _portable_steps(steps):
    """The filed ``_steps`` of one test, ready to travel; the screenshot of
    a step is read now, on the machine that took it."""
    out = _portable(steps)
    if isinstance(out, list):
        for step in out:
            shot = step.get("screenshot") if isinstance(step, dict) else None
            if isinstance(shot, str) and shot:
                step["_screenshot_data"] = _data_uri(shot)
    return out


def _crash_message(report) -> str:
    crash = getattr(getattr(report, "longrepr", None), "reprcrash", None)
    message = getattr(crash, "message", None)
    if message:
        return str(message)
    text = getattr(report, "longreprtext", "") or ""
    lines = [line for line in text.splitlines() if line.strip()]
    return lines[-1] if lines else ""


class _TestRecord:
    """What the reporter knows of one test: its phase reports and steps."""

    def __init__(self, nodeid: str, order: int):
        self.nodeid = nodeid
        self.order = order
        self.reports: dict = {}
        self.steps = None
        self.has_steps = False

    @property
    def duration(self) -> float:
        return sum(getattr(r, "duration", 0.0) or 0.0 for r in self.reports.values())

    @property
    def outcome(self) -> str:
        setup = self.reports.get("setup")
        call = self.reports.get("call")
        teardown = self.reports.get("teardown")
        if setup is not None and setup.failed:
            return "error"
        if setup is not None and setup.skipped:
            return "xfailed" if hasattr(setup, "wasxfail") else "skipped"
        if call is not None:
            if call.failed:
                return "failed"
            if call.skipped:
                return "xfailed" if hasattr(call, "wasxfail") else "skipped"
            if hasattr(call, "wasxfail"):
                return "xpassed"
        if teardown is not None and teardown.failed:
            return "error"
        return "passed"

    def failures(self):
        """(phase, report) of every failed phase, in run order."""
        return [(phase, self.reports[phase]) for phase in ("setup", "call", "teardown")
                if phase in self.reports and self.reports[phase].failed]


class QuelvarReporter:
    """pytest plug-in object writing the run's HTML report to ``report_path``.

    An empty ``report_path`` writes no file. A report that cannot be written
    is named in the terminal summary; it does not change the run's result.
    """

    def __init__(self, report_path, config):
        self.report_path = report_path
        self.config = config
        self._tests: dict = {}
        self._collect_errors: list = []
        self._started = time.time()
        self._write_error: str | None = None
        self._written = False

    # -- collecting -------------------------------------------------------

    def _is_worker(self) -> bool:
        return hasattr(self.config, "workerinput")

    def _record(self, nodeid: str, order: int | None = None) -> _TestRecord:
        record = self._tests.get(nodeid)
        if record is None:
            record = _TestRecord(nodeid, len(self._tests) if order is None else order)
            self._tests[nodeid] = record
        return record

    def _file_steps(self, nodeid: str, steps) -> None:
        record = self._record(nodeid)
        record.steps = steps
        record.has_steps = True

    def pytest_sessionstart(self, session):
        self._started = time.time()

    @pytest.hookimpl(wrapper=True)
    def pytest_runtest_makereport(self, item, call):
        report = yield
        # The agent fixture files its steps while the test is torn down,
        # before the teardown report is made, so they are there now.
        if call.when == "teardown":
            filed = getattr(item.config, "_quelvar_steps", None)
            if isinstance(filed, dict) and item.nodeid in filed:
                steps = _portable_steps(filed[item.nodeid])
                if self._is_worker():
                    out = self.config.workeroutput.setdefault(_WORKEROUTPUT_KEY, {})
                    out[item.nodeid] = steps
                else:
                    self._file_steps(item.nodeid, steps)
        return report

    def pytest_runtest_logreport(self, report):
        if self._is_worker():
            return
        # Reports from xdist workers carry their index in the collection,
        # which keeps the report in collection order whatever ran first.
        record = self._record(report.nodeid, getattr(report, "item_index", None))
        record.reports[report.when] = report

    def pytest_collectreport(self, report):
        if not self._is_worker() and report.failed:
            self._collect_errors.append(report)

    @pytest.hookimpl(optionalhook=True)
    def pytest_testnodedown(self, node, error):
        output = getattr(node, "workeroutput", None) or {}
        for nodeid, steps in (output.get(_WORKEROUTPUT_KEY) or {}).items():
            self._file_steps(nodeid, steps)

    # -- writing ----------------------------------------------------------

    def pytest_sessionfinish(self, session, exitstatus):
        if self._is_worker() or not self.report_path:
            return
        duration = time.time() - self._started
        try:
            directory = os.path.dirname(os.path.abspath(self.report_path))
            os.makedirs(directory, exist_ok=True)
            with open(self.report_path, "w", encoding="utf-8") as handle:
                handle.write(self.render(duration))
            self._written = True
        except OSError as exc:
            self._write_error = f"{type(exc).__name__}: {exc}"

    def pytest_terminal_summary(self, terminalreporter):
        if self._written:
            terminalreporter.write_line(f"quelvar report: {os.path.abspath(self.report_path)}")
        elif self._write_error:
            terminalreporter.write_line(f"quelvar report not written: {self._write_error}")

    def summary(self) -> dict:
        """Counts of test outcomes (collection errors count as errors)."""
        counts = {name: 0 for name in _OUTCOME_ORDER}
        for record in self._tests.values():
            counts[record.outcome] += 1
        counts["error"] += len(self._collect_errors)
        return counts

    def render(self, duration: float) -> str:
        """The whole report as one HTML document."""
        counts = self.summary()
        tests = sorted(self._tests.values(), key=lambda r: r.order)
        parts = [_HEAD]
        parts.append('<h1>quelvar_web test report</h1>\n')
        stamp = datetime.datetime.now().strftime("%Y-%m-%d %H:%M:%S")
        parts.append(f'<p class="meta">Generated {_esc(stamp)} &middot; '
                     f'{len(tests)} tests in <span id="run-duration">{duration:.2f}</span> s</p>\n')
        parts.append('<table class="summary" id="summary"><tr>')
        for name in _OUTCOME_ORDER:
            if name in ("passed", "failed", "error") or counts[name]:
                label = "errors" if name == "error" else name
                parts.append(f'<td class="count {name}" data-outcome="{name}">'
                             f'<span class="n">{counts[name]}</span> {_esc(label)}</td>')
        parts.append(f'<td class="count">duration <span class="n">{duration:.2f} s</span></td>')
        parts.append('</tr></table>\n')
        if self._collect_errors:
            parts.append('<section class="test error"><h2>Collection errors</h2>\n')
            for report in self._collect_errors:
                parts.append(f'<h3>{_esc(report.nodeid or "(session)")}</h3>'
                             f'<pre>{_esc(report.longreprtext)}</pre>\n')
            parts.append('</section>\n')
        for record in tests:
            parts.append(_render_test(record))
        parts.append('</body>\n</html>\n')
        return "".join(parts)


def _render_test(record: _TestRecord) -> str:
    outcome = record.outcome
    out = [f'<section class="test {outcome}" data-nodeid="{_esc(record.nodeid)}" '
           f'data-outcome="{outcome}">\n']
    out.append(f'<h2><span class="badge {outcome}">{_esc(outcome)}</span> '
               f'<span class="nodeid">{_esc(record.nodeid)}</span> '
               f'<span class="duration">{record.duration:.2f} s</span></h2>\n')
    steps = record.steps
    failed_step = None
    if isinstance(steps, list):
        for index, step in enumerate(steps):
            if isinstance(step, dict) and step.get("status") == "failed":
                failed_step = (index, step)
                break
    if failed_step is not None:
        out.append(_render_failed_step(*failed_step))
    for phase, report in record.failures():
        out.append(f'<div class="failure"><p class="phase">Failed in {_esc(phase)}: '
                   f'<span class="message">{_esc(_crash_message(report))}</span></p>'
                   f'<details><summary>Traceback</summary>'
                   f'<pre>{_esc(report.longreprtext)}</pre></details></div>\n')
    if record.has_steps:
        out.append(_render_steps(steps))
    elif outcome not in ("skipped", "xfailed"):
        out.append('<p class="nosteps">No agent steps recorded.</p>\n')
    out.append('</section>\n')
    return "".join(out)


def _render_failed_step(index: int, step: dict) -> str:
    out = ['<div class="failed-step">']
    out.append(f'<p><strong>Failed step {index + 1}:</strong> '
               f'<span class="step-text">{_esc(step.get("step", ""))}</span></p>')
    if step.get("error"):
        out.append(f'<pre class="error">{_esc(step["error"])}</pre>')
    shot = step.get("_screenshot_data")
    if shot:
        out.append(f'<img class="screenshot" alt="Screenshot of the failed step" src="{_esc(shot)}">')
    elif step.get("screenshot"):
        out.append(f'<p class="missing">Screenshot not readable: {_esc(step["screenshot"])}</p>')
    out.append('</div>\n')
    return "".join(out)


def _render_element(element) -> str:
    if not isinstance(element, dict):
        return "" if element is None else _esc(element)
    tag = element.get("tag", element.get("tag_name", ""))
    text = element.get("text", "")
    parts = [f'<code>{_esc(tag)}</code>' if tag else ""]
    if text:
        parts.append(f' &ldquo;{_esc(text)}&rdquo;')
    if element.get("xpath"):
        parts.append(f'<br><small>{_esc(element["xpath"])}</small>')
    return "".join(parts)


def _render_details(step: dict) -> str:
    items = []
    for key, value in step.items():
        if key in _COLUMN_KEYS or key.startswith("_"):
            continue
        if value is None or value == "" or value == [] or value == {}:
            continue
        items.append(f'<span class="kv"><b>{_esc(key)}</b>: {_esc(_short(value))}</span>')
    if step.get("error"):
        items.append(f'<span class="kv err"><b>error</b>: {_esc(step["error"])}</span>')
    return "<br>".join(items)


def _short(value, limit=300) -> str:
    text = value if isinstance(value, str) else repr(value)
    return text if len(text) <= limit else text[:limit] + "\u2026"


def _render_steps(steps) -> str:
    if not isinstance(steps, list):
        return f'<pre class="raw-steps">{_esc(_short(steps, 5000))}</pre>\n'
    if not steps:
        return '<p class="nosteps">The agent ran no steps.</p>\n'
    out = ['<table class="steps"><thead><tr><th>#</th><th>Step</th><th>Action</th>'
           '<th>Status</th><th>Strategy</th><th>Element</th><th>ms</th><th>Details</th>'
           '</tr></thead><tbody>\n']
    for index, step in enumerate(steps):
        if not isinstance(step, dict):
            out.append(f'<tr><td>{index + 1}</td><td colspan="7">{_esc(_short(step))}</td></tr>\n')
            continue
        status = str(step.get("status", ""))
        css = "failed" if status == "failed" else ("passed" if status == "passed" else "")
        duration = step.get("duration_ms")
        if isinstance(duration, (int, float)) and not isinstance(duration, bool):
            duration = f"{duration:.0f}"
        details = _render_details(step)
        shot = step.get("_screenshot_data")
        if shot:
            details += (f'<br><img class="thumb" alt="Screenshot of step {index + 1}" '
                        f'src="{_esc(shot)}">')
        out.append(
            f'<tr class="{css}"><td>{index + 1}</td>'
            f'<td class="step-text">{_esc(step.get("step", ""))}</td>'
            f'<td>{_esc(step.get("action") or "")}</td>'
            f'<td class="status">{_esc(status)}</td>'
            f'<td>{_esc(step.get("strategy") or "")}</td>'
            f'<td>{_render_element(step.get("element"))}</td>'
            f'<td class="num">{_esc("" if duration is None else duration)}</td>'
            f'<td>{details}</td></tr>\n')
    out.append('</tbody></table>\n')
    return "".join(out)


_HEAD = """<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>quelvar_web test report</title>
<style>
body { font: 14px/1.45 system-ui, sans-serif; margin: 24px; color: #1d232b; background: #fff; }
h1 { font-size: 22px; margin: 0 0 4px; }
.meta { color: #5b6673; margin: 0 0 16px; }
table.summary { border-collapse: separate; border-spacing: 8px 0; margin: 0 -8px 20px; }
td.count { padding: 10px 16px; border-radius: 6px; background: #eef1f4; font-size: 15px; }
td.count .n { font-weight: 700; font-size: 20px; }
td.count.passed { background: #dff3e4; } td.count.failed, td.count.error { background: #fbe0df; }
section.test { border: 1px solid #d5dbe1; border-left: 6px solid #9aa5b1; border-radius: 6px;
  padding: 8px 14px; margin: 0 0 14px; }
section.test.passed { border-left-color: #2e9e4f; }
section.test.failed, section.test.error { border-left-color: #d2342b; }
h2 { font-size: 15px; margin: 4px 0 8px; }
.badge { display: inline-block; padding: 1px 8px; border-radius: 10px; color: #fff;
  background: #66707c; font-size: 12px; text-transform: uppercase; }
.badge.passed { background: #2e9e4f; } .badge.failed, .badge.error { background: #d2342b; }
.duration { color: #5b6673; font-weight: 400; }
.failed-step { background: #fff1f0; border: 2px solid #d2342b; border-radius: 6px;
  padding: 8px 12px; margin: 8px 0; }
.failed-step pre.error { white-space: pre-wrap; margin: 6px 0; }
img.screenshot { max-width: 100%; border: 1px solid #b9c1ca; display: block; margin-top: 6px; }
img.thumb { max-width: 160px; border: 1px solid #b9c1ca; margin-top: 4px; }
.failure .message { font-family: ui-monospace, monospace; }
pre { background: #f6f8fa; padding: 8px; overflow-x: auto; white-space: pre-wrap; }
table.steps { border-collapse: collapse; width: 100%; margin: 6px 0; }
table.steps th, table.steps td { border: 1px solid #d5dbe1; padding: 4px 6px;
  text-align: left; vertical-align: top; }
table.steps th { background: #eef1f4; }
table.steps tr.failed td { background: #fbe0df; font-weight: 600; }
table.steps tr.passed td.status { color: #2e7d43; }
td.num { text-align: right; white-space: nowrap; }
.kv.err { color: #a3221b; }
.nosteps, .missing { color: #5b6673; font-style: italic; }
</style>
</head>
<body>
"""
