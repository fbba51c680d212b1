"""The agent: runs plain-English steps in a real Chromium page.

One step goes: validate, parse, survey the page, resolve the target (text
strategy or layout, see docs/agent.md for the order), act through Playwright,
and append one record to ``_steps``. A target that is not on the page yet is
looked for again until the step's timeout, the way Playwright's own locators
wait.
"""
from __future__ import annotations

import difflib
import os
import re
import threading
import time
import uuid
from pathlib import Path
from urllib.parse import urljoin, urlparse

from ._chromium import launch_options

DEFAULT_TIMEOUT = 5.0
DEFAULT_VIEWPORT = {"width": 1280, "height": 800}
DEFAULT_SCREENSHOT_DIR = os.path.join("test_report", "screenshots")
_POLL_SECONDS = 0.1
_MIN_ACTION_MS = 2000.0

# Option name -> environment variable that supplies it when the caller does not.
_ENV = {
    "headed": "QUELVAR_HEADED",
    "viewport": "QUELVAR_VIEWPORT",
    "timeout": "QUELVAR_TIMEOUT",
    "endpoint": "QUELVAR_BROWSER_ENDPOINT",
    "screenshot_dir": "QUELVAR_SCREENSHOT_DIR",
    "dialog": "QUELVAR_DIALOG_DEFAULT",
}

# Words that make a target relational: these go to the layout resolver first,
# because a text match on "button next to Name" is an accident. Ordinal words
# alone do not: "First name" is a caption far more often than a rank.
_RELATION_RE = re.compile(r"\b(next to|below|under|above|left of|right of|near)\b")
_ORDINAL_RE = re.compile(r"\b(first|second|third|fourth|fifth|1st|2nd|3rd|4th|5th)\b")
_ORDINAL_WORDS = {1: "first", 2: "second", 3: "third", 4: "fourth", 5: "fifth"}

_ELEMENT_ACTIONS = {"click", "type", "select", "hover", "extract_text"}
_VERIFY_ELEMENT = {"verify_present", "verify_visible", "verify_enabled", "verify_disabled"}
_TEXT_ACTIONS = {
    "find_text", "find_exact_text", "verify_text_present", "verify_text_visible",
    "verify_spatial_text", "extract_text_spatial",
}
_DIALOG_ACTIONS = {"accept_dialog", "dismiss_dialog"}
_STATE_WORD = {
    "verify_present": "present", "verify_visible": "visible",
    "verify_enabled": "enabled", "verify_disabled": "disabled",
    "verify_text_present": "present", "verify_text_visible": "visible",
}
# Key names Playwright's keyboard knows; a sendkeys value made only of these
# is pressed key by key, anything else is typed as text.
_KEY_NAMES = {
    "enter", "tab", "escape", "esc", "backspace", "delete", "space", "home", "end",
    "pageup", "pagedown", "arrowup", "arrowdown", "arrowleft", "arrowright",
    "insert", "shift", "control", "alt", "meta",
} | {f"f{i}" for i in range(1, 13)}


# One Playwright per thread, shared by the agents of that thread: Playwright's
# sync API refuses a second instance while one is running on the thread.
_PLAYWRIGHT = threading.local()


def _acquire_playwright():
    if getattr(_PLAYWRIGHT, "instance", None) is None:
        from playwright.sync_api import sync_playwright

        _PLAYWRIGHT.instance = sync_playwright().start()
        _PLAYWRIGHT.users = 0
    _PLAYWRIGHT.users += 1
    return _PLAYWRIGHT.instance


def _release_playwright():
    _PLAYWRIGHT.users -= 1
    if _PLAYWRIGHT.users == 0:
        instance, _PLAYWRIGHT.instance = _PLAYWRIGHT.instance, None
        instance.stop()


def _env_bool(text):
    return str(text).strip().lower() in {"1", "true", "yes", "on"}


def _parse_viewport(value):
    if value is None:
        return dict(DEFAULT_VIEWPORT)
    if isinstance(value, dict):
        return {"width": int(value["width"]), "height": int(value["height"])}
    if isinstance(value, str):
        m = re.fullmatch(r"\s*(\d+)\s*[x,X ]\s*(\d+)\s*", value)
        if not m:
            raise ValueError(f"viewport must look like 1280x800, got {value!r}")
        return {"width": int(m.group(1)), "height": int(m.group(2))}
    width, height = value
    return {"width": int(width), "height": int(height)}


def _box_text(element):
    box = element.get("bounding_box") or {}
    return "at (x={:.0f}, y={:.0f}, {:.0f}x{:.0f})".format(
        box.get("x", 0), box.get("y", 0), box.get("width", 0), box.get("height", 0))


def _describe(element):
    text = (element.get("text") or "").replace("\n", " ")
    if len(text) > 60:
        text = text[:57] + "..."
    attrs = element.get("attributes") or {}
    extra = ""
    if not text:
        for key in ("aria-label", "_label", "placeholder", "name", "id"):
            if attrs.get(key):
                extra = f" [{key}={attrs[key]!r}]"
                break
    return f"{element.get('tag', '?')} {text!r}{extra} {_box_text(element)}"


def _element_record(element):
    if element is None:
        return None
    return {
        "tag": element.get("tag"),
        "text": element.get("text"),
        "xpath": element.get("xpath"),
        "box": dict(element.get("bounding_box") or {}),
    }


def _surfaces(element):
    """The strings a reader could call the element by."""
    attrs = element.get("attributes") or {}
    out = [element.get("text") or ""]
    out += [attrs.get(k) or "" for k in ("aria-label", "_label", "placeholder", "name", "title")]
    return [s for s in out if s.strip()]


def _anchor_of(target):
    """The anchor words of a relational target: "right of the Total" -> "Total"."""
    m = re.match(r"\s*(right of|left of|next to|below|under|above|near)\s+(?:(?:the|a|an)\s+)?(.*)",
                 target or "", re.I | re.S)
    return m.group(2).strip() if m else (target or "")


def _closest(target, elements, limit=3):
    """The elements whose surfaces read most like ``target``, best first."""
    goal = (target or "").lower()
    scored = []
    for i, el in enumerate(elements):
        best = 0.0
        for s in _surfaces(el):
            s = s.lower()
            ratio = difflib.SequenceMatcher(None, goal, s[:200]).ratio()
            words, have = set(goal.split()), set(s.split())
            if words and have:
                ratio = max(ratio, len(words & have) / len(words | have))
            if goal and goal in s:
                ratio = max(ratio, 0.9)
            best = max(best, ratio)
        if best > 0.2:
            scored.append((-best, i, el))
    scored.sort(key=lambda t: (t[0], t[1]))
    return [el for _, _, el in scored[:limit]]


class StepFailure(Exception):
    """One attempt at a step did not succeed; ``message`` says why."""

    def __init__(self, message, pool=None, looked_for=None, retry=True):
        super().__init__(message)
        self.message = message
        # pool: elements to pick the closest candidates from (None: the
        # message already says what was found); looked_for: what to compare.
        self.pool = pool
        self.looked_for = looked_for
        self.retry = retry


class WebAgent:
    """Runs plain-English steps in a real Chromium page.

    ``WebAgent(url=None, screenshots=False, **options)`` starts Chromium (or
    connects to a remote one) and opens ``url`` when given. Options, each also
    read from an environment variable when not passed:

    - ``headed`` (QUELVAR_HEADED): show the browser window; default False.
    - ``viewport`` (QUELVAR_VIEWPORT): ``(w, h)``, ``{"width","height"}`` or
      "1280x800"; default 1280x800.
    - ``timeout`` (QUELVAR_TIMEOUT): seconds a step waits for its target;
      default 5.
    - ``endpoint`` (QUELVAR_BROWSER_ENDPOINT): a remote browser instead of a
      local process: "ws://..." for a Playwright browser server,
      "http://host:port" (or "cdp:" + a ws/http address) for Chrome DevTools.
    - ``screenshot_dir`` (QUELVAR_SCREENSHOT_DIR): where failure screenshots
      go; default test_report/screenshots.
    - ``dialog`` (QUELVAR_DIALOG_DEFAULT): "accept" or "dismiss", what to do
      with a dialog no step has asked about; default "accept".
    - ``browser``: a Playwright ``Browser`` that is already open (for example
      a test session's); the agent opens its own context in it and closes
      only that.
    """

    def __init__(self, url=None, screenshots=False, **options):
        given_browser = options.pop("browser", None)
        unknown = sorted(set(options) - set(_ENV))
        if unknown:
            raise TypeError(f"WebAgent got unknown option(s): {', '.join(unknown)}; "
                            f"known: {', '.join(sorted([*_ENV, 'browser']))}")
        for name, var in _ENV.items():
            if name not in options and os.environ.get(var):
                options[name] = os.environ[var]
        headed = options.get("headed", False)
        self.headed = _env_bool(headed) if isinstance(headed, str) else bool(headed)
        self.viewport = _parse_viewport(options.get("viewport"))
        self.timeout = float(options.get("timeout", DEFAULT_TIMEOUT))
        self.endpoint = options.get("endpoint") or None
        self.screenshot_dir = str(options.get("screenshot_dir") or DEFAULT_SCREENSHOT_DIR)
        self.dialog_default = str(options.get("dialog") or "accept").strip().lower()
        if self.dialog_default not in ("accept", "dismiss"):
            raise ValueError(f"dialog must be 'accept' or 'dismiss', got {self.dialog_default!r}")
        self.screenshots = bool(screenshots)
        self.url = url
        self._steps = []
        self._pw = None
        self._browser = None
        self._context = None
        self.page = None
        self._closed = False
        self._run_id = uuid.uuid4().hex[:8]
        self._engine = None
        # Dialogs: a Playwright page stalls until a dialog is answered, so the
        # handler answers at once; steps decide the answer beforehand (see
        # docs/agent.md) and check the recorded dialogs afterwards.
        self._dialogs = []
        self._armed_dialog = None
        self._planned_dialog = None

        self._own_browser = given_browser is None
        try:
            if given_browser is not None:
                self._browser = given_browser
            else:
                self._pw = _acquire_playwright()
                self._browser = self._open_browser()
            self._context = self._browser.new_context(viewport=self.viewport)
            self._context.set_default_timeout(max(self.timeout * 1000, _MIN_ACTION_MS))
            self.page = self._context.new_page()
            self.page.on("dialog", self._on_dialog)
            if url:
                self.page.goto(url)
        except BaseException:
            self.close()
            raise

    # ----------------------------------------------------------- life cycle

    def _open_browser(self):
        chromium = self._pw.chromium
        endpoint = self.endpoint
        if endpoint:
            if endpoint.startswith("cdp:"):
                return chromium.connect_over_cdp(endpoint[4:])
            if endpoint.startswith(("ws://", "wss://")):
                return chromium.connect(endpoint)
            return chromium.connect_over_cdp(endpoint)
        return chromium.launch(**launch_options(headless=not self.headed))

    def close(self):
        """Close the page, the browser (or the connection to it) and Playwright.

        Safe to call more than once; later calls do nothing."""
        if self._closed:
            return
        self._closed = True
        owned = [self._context] + ([self._browser] if self._own_browser else [])
        try:
            for thing in owned:
                if thing is not None:
                    try:
                        thing.close()
                    except Exception:  # the browser may already be gone
                        pass
        finally:
            if self._pw is not None:
                self._pw = None
                _release_playwright()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # -------------------------------------------------------------- engine

    def _engines(self):
        if self._engine is None:
            from .engine.agent.stepgrammar import InstructionParser
            from .engine.browser.pagesurvey import DOMParser
            from .engine.spatial.gridlocator import MatrixResolver
            from .engine.spatial.layoutgrid import MatrixBuilder
            from .engine.strategies.textlocator import DOMStrategy

            self._engine = {
                "parser": InstructionParser(),
                "DOMParser": DOMParser,
                "strategy": DOMStrategy(),
                "MatrixBuilder": MatrixBuilder,
                "MatrixResolver": MatrixResolver,
            }
        return self._engine

    # --------------------------------------------------------------- steps

    def run(self, step):
        """Run one step; return its record. A failed step raises AssertionError
        (after its record, with screenshot when enabled, is in ``_steps``)."""
        __tracebackhide__ = True  # failures point at the test's step, not here
        issues = self._engines()["parser"].validate(step)
        if issues:
            record = self._new_record(step)
            self._fail(record, time.perf_counter(),
                       f"Step {step!r} is not valid: " + " ".join(issues), screenshot=False)
        return self._run_one(step)

    def run_all(self, steps):
        """Validate every step, then run them in order; return their records.

        Nothing touches the browser when a step is faulty: the AssertionError
        lists each faulty step with its number and validation messages."""
        __tracebackhide__ = True  # failures point at the test's step, not here
        steps = list(steps)
        problems = self._engines()["parser"].validate_all(steps)
        if problems:
            lines = []
            for number, messages in problems.items():
                step = steps[number - 1]
                record = self._new_record(step)
                record["status"] = "failed"
                record["error"] = " ".join(messages)
                self._steps.append(record)
                lines.append(f"  step {number} {step!r}: " + " ".join(messages))
            for number, step in enumerate(steps, 1):
                if number not in problems:
                    record = self._new_record(step)
                    record["status"] = "skipped"
                    self._steps.append(record)
            raise AssertionError(f"{len(problems)} of {len(steps)} steps are not valid; "
                                 "nothing was run:\n" + "\n".join(lines))
        records = []
        for i, step in enumerate(steps):
            self._planned_dialog = self._dialog_plan(steps, i)
            try:
                records.append(self._run_one(step))
            except AssertionError:
                for rest in steps[i + 1:]:
                    record = self._new_record(rest)
                    record["status"] = "skipped"
                    self._steps.append(record)
                raise
            finally:
                self._planned_dialog = None
        return records

    def _dialog_plan(self, steps, i):
        """The answer for a dialog that step ``i`` opens: the next accept or
        dismiss step, looking past dialog checks and waits."""
        for later in steps[i + 1:]:
            low = " ".join(later.lower().split())
            if low == "accept dialog":
                return "accept"
            if low == "dismiss dialog":
                return "dismiss"
            if low.startswith(("verify dialog says ", "wait ")):
                continue
            return None
        return None

    def _new_record(self, step):
        return {
            "index": len(self._steps) + 1,
            "step": step,
            "action": None,
            "instruction": None,
            "status": "running",
            "strategy": None,
            "element": None,
            "candidates": 0,
            "extracted": None,
            "verified": None,
            "duration_ms": 0.0,
            "timings": {"survey_ms": 0.0, "resolve_ms": 0.0, "act_ms": 0.0},
            "attempts": 0,
            "error": None,
            "screenshot": None,
        }

    def _run_one(self, step):
        __tracebackhide__ = True  # failures point at the test's step, not here
        record = self._new_record(step)
        started = time.perf_counter()
        low = " ".join(str(step).lower().split())
        try:
            if low in ("back", "refresh"):
                # The validator accepts these two words; the grammar has no
                # rule for them, so the agent serves them itself.
                record["action"] = low
                record["instruction"] = {"action": low, "target": None, "value": None,
                                         "_literal_target": False}
                t0 = time.perf_counter()
                if low == "back":
                    self.page.go_back()
                else:
                    self.page.reload()
                record["timings"]["act_ms"] = (time.perf_counter() - t0) * 1000
            else:
                try:
                    parsed = self._engines()["parser"].parse(step)
                except ValueError as exc:
                    self._fail(record, started, f"Step {step!r} failed: {exc}", screenshot=False)
                record["instruction"] = parsed
                record["action"] = parsed["action"]
                self._dispatch(parsed, record, started)
        except AssertionError:
            raise
        except Exception as exc:  # a Playwright or page error while acting
            first = str(exc).strip().splitlines()[0] if str(exc).strip() else type(exc).__name__
            self._fail(record, started, f"Step {step!r} failed: {first}")
        record["status"] = "passed"
        record["duration_ms"] = (time.perf_counter() - started) * 1000
        self._steps.append(record)
        return record

    def _fail(self, record, started, message, screenshot=True):
        __tracebackhide__ = True  # failures point at the test's step, not here
        if screenshot and self.screenshots and self.page is not None:
            path = self._screenshot(record)
            if path:
                record["screenshot"] = path
                message += f"\nScreenshot: {path}"
        record["status"] = "failed"
        record["error"] = message
        record["duration_ms"] = (time.perf_counter() - started) * 1000
        self._steps.append(record)
        raise AssertionError(message)

    def _screenshot(self, record):
        slug = re.sub(r"[^A-Za-z0-9]+", "-", record["step"]).strip("-")[:40] or "step"
        path = os.path.join(self.screenshot_dir,
                            f"{self._run_id}-{record['index']:02d}-{slug}.png")
        try:
            Path(self.screenshot_dir).mkdir(parents=True, exist_ok=True)
            self.page.screenshot(path=path, timeout=5000)
        except Exception:
            return None
        return os.path.abspath(path)

    # ------------------------------------------------------------ dispatch

    def _dispatch(self, parsed, record, started):
        __tracebackhide__ = True  # failures point at the test's step, not here
        action = parsed["action"]
        page = self.page
        t0 = time.perf_counter()
        if action == "navigate":
            page.goto(self._absolute(parsed["target"]))
        elif action == "press_key":
            page.keyboard.press(parsed["target"])
        elif action == "sendkeys":
            self._sendkeys(parsed["target"])
        elif action == "wait":
            text = parsed["target"]
            if not text.isdigit():
                self._fail(record, started, f"Step {record['step']!r} failed: wait needs a "
                           f"number of milliseconds, got {text!r}", screenshot=False)
            page.wait_for_timeout(int(text))
        elif action in _DIALOG_ACTIONS:
            self._answer_dialog(action, record, started)
        elif action == "verify_dialog":
            self._verify_dialog(parsed["value"], record, started)
        else:
            self._resolve_and_act(parsed, record, started)
            return
        record["timings"]["act_ms"] = (time.perf_counter() - t0) * 1000

    def _absolute(self, url):
        if urlparse(url).scheme:
            return url
        base = self.page.url if urlparse(self.page.url).scheme in ("http", "https", "file") else self.url
        return urljoin(base or "", url)

    def _sendkeys(self, keys):
        """Keys to the focused element: "Tab Tab Enter" or "Control+A" are
        pressed key by key; any other text is typed."""
        words = keys.split()

        def is_combo(word):
            parts = word.split("+")
            return (all(p.lower() in _KEY_NAMES or len(p) == 1 for p in parts)
                    and any(p.lower() in _KEY_NAMES for p in parts))

        if words and all(is_combo(w) for w in words):
            for w in words:
                self.page.keyboard.press(_fix_key_case(w))
        else:
            self.page.keyboard.type(keys)

    # -------------------------------------------------------------- dialogs

    def _on_dialog(self, dialog):
        choice = self._armed_dialog or self._planned_dialog or self.dialog_default
        self._armed_dialog = None
        entry = {"type": dialog.type, "message": dialog.message, "choice": choice,
                 "checked": False, "answered_step": False}
        self._dialogs.append(entry)
        try:
            if choice == "accept":
                dialog.accept()
            else:
                dialog.dismiss()
        except Exception:  # the page may have gone meanwhile
            pass

    def _answer_dialog(self, action, record, started):
        __tracebackhide__ = True  # failures point at the test's step, not here
        choice = "accept" if action == "accept_dialog" else "dismiss"
        open_ones = [d for d in self._dialogs if not d["answered_step"]]
        if not open_ones:
            # No dialog yet: the answer is armed for the next one.
            self._armed_dialog = choice
            record["extracted"] = f"armed: the next dialog will be {choice}ed"
            return
        last = open_ones[-1]
        for d in open_ones:
            d["answered_step"] = True
        record["extracted"] = last["message"]
        # An alert has only OK: either answer is what happened.
        if last["choice"] != choice and last["type"] != "alert":
            self._fail(record, started,
                       f"Step {record['step']!r} failed: the dialog {last['message']!r} was "
                       f"{last['choice']}ed when it opened, because no step had asked to "
                       f"{choice} it. Run the steps with run_all (which looks ahead), or put "
                       f"{record['step']!r} before the step that opens the dialog.")

    def _verify_dialog(self, expected, record, started):
        __tracebackhide__ = True  # failures point at the test's step, not here
        deadline = started + self.timeout
        while True:
            unchecked = [d for d in self._dialogs if not d["checked"]]
            if unchecked or time.perf_counter() >= deadline:
                break
            self.page.wait_for_timeout(_POLL_SECONDS * 1000)
        if not unchecked:
            seen = self._dialogs[-1]["message"] if self._dialogs else None
            note = f" The last dialog, already checked, said {seen!r}." if seen else ""
            self._fail(record, started, f"Step {record['step']!r} failed: no dialog opened "
                       f"within {self.timeout:g} s.{note}")
        last = unchecked[-1]
        for d in unchecked:
            d["checked"] = True
        record["extracted"] = last["message"]
        want = " ".join(expected.split()).lower()
        got = " ".join(last["message"].split()).lower()
        record["verified"] = bool(want) and want in got
        if not record["verified"]:
            self._fail(record, started, f"Step {record['step']!r} failed: the dialog said "
                       f"{last['message']!r}, expected {expected.strip()!r}.")

    # ------------------------------------------------ resolution and acting

    def _resolve_and_act(self, parsed, record, started):
        __tracebackhide__ = True  # failures point at the test's step, not here
        deadline = started + self.timeout
        action = parsed["action"]
        failure = None
        while True:
            record["attempts"] += 1
            try:
                self._attempt(parsed, record, deadline)
                return
            except StepFailure as exc:
                failure = exc
                if not exc.retry or time.perf_counter() >= deadline:
                    break
            self.page.wait_for_timeout(_POLL_SECONDS * 1000)
        message = (f"Step {record['step']!r} failed after {record['attempts']} "
                   f"attempt(s) in {time.perf_counter() - started:.1f} s: {failure.message}")
        if failure.pool is not None:
            looked_for = failure.looked_for or parsed.get("target") or ""
            closest = _closest(looked_for, failure.pool)
            if closest:
                message += "\nClosest candidates:\n" + "\n".join(
                    "  - " + _describe(e) for e in closest)
            else:
                message += "\nNothing on the page reads anything like it."
        self._fail(record, started, message)

    def _survey(self, record):
        eng = self._engines()
        t0 = time.perf_counter()
        try:
            self.page.wait_for_load_state("domcontentloaded")
            dom, text = eng["DOMParser"](self.page).extract_interactable_elements()
        except Exception as exc:
            # A page in the middle of navigating cannot be surveyed; try again.
            if type(exc).__name__ in ("Error", "TimeoutError"):
                raise StepFailure(f"the page could not be read ({str(exc).splitlines()[0]})")
            raise
        finally:
            record["timings"]["survey_ms"] += (time.perf_counter() - t0) * 1000
        return dom, text

    def _attempt(self, parsed, record, deadline):
        action = parsed["action"]
        dom, text = self._survey(record)
        t0 = time.perf_counter()
        try:
            result, strategy = self._resolve(parsed, dom, text)
        finally:
            record["timings"]["resolve_ms"] += (time.perf_counter() - t0) * 1000
        target = parsed.get("target") or ""
        pool = text if action in _TEXT_ACTIONS else dom + (text if action == "extract_text" else [])
        record["strategy"] = strategy
        record["candidates"] = len(result.get("candidates") or [])
        element = result.get("element")
        record["element"] = _element_record(element)

        if action in _TEXT_ACTIONS:
            self._check_text(parsed, result, record, pool)
            return
        if not result.get("resolved") or element is None:
            raise StepFailure(f"no element matches {target!r} "
                              f"(looked by text and by layout)", pool)
        if action in _VERIFY_ELEMENT:
            self._check_state(parsed, result, element, record)
            return
        ordinal = parsed.get("ordinal", 1)
        if strategy == "text" and ordinal > 1 and record["candidates"] < ordinal:
            # The text strategy falls back to the last match; asking for the
            # fifth of three is a fault in the step, not a match.
            raise StepFailure(f"asked for the {_ORDINAL_WORDS.get(ordinal, ordinal)} "
                              f"{target!r} but only {record['candidates']} element(s) match",
                              result.get("candidates") or pool)
        t1 = time.perf_counter()
        try:
            self._act(parsed, element, record, deadline)
        finally:
            record["timings"]["act_ms"] += (time.perf_counter() - t1) * 1000

    def _layout_resolve(self, parsed, dom, text):
        eng = self._engines()
        target = parsed.get("target") or ""
        ordinal = parsed.get("ordinal", 1)
        if ordinal > 1 and not _ORDINAL_RE.search(target.lower()):
            # The grammar took "second" off the front; the layout resolver
            # reads its ordinal from the target text, so give it back.
            target = f"{_ORDINAL_WORDS[ordinal]} {target}"
        matrix = eng["MatrixBuilder"](dom, text).build()
        return eng["MatrixResolver"](matrix).resolve({"target": target})

    def _resolve(self, parsed, dom, text):
        """Return (result, strategy name). See docs/agent.md for the order:
        relational targets go to the layout resolver first, everything else
        to the text strategy first; a quoted target is matched by text only."""
        eng = self._engines()
        action = parsed["action"]
        if action in _TEXT_ACTIONS:
            return eng["strategy"].resolve(parsed, dom, text), "text"
        target = (parsed.get("target") or "").lower()
        if parsed.get("_literal_target", False):
            order = ("text",)
        elif _RELATION_RE.search(target):
            order = ("spatial", "text")
        else:
            order = ("text", "spatial")
        first = None
        for name in order:
            if name == "text":
                result = eng["strategy"].resolve(parsed, dom, text)
            else:
                result = self._layout_resolve(parsed, dom, text)
                if action in _VERIFY_ELEMENT and result.get("resolved"):
                    result = _state_result(action, result)
            if result.get("resolved"):
                return result, name
            if first is None:
                first = (result, name)
        return first

    def _check_text(self, parsed, result, record, pool):
        action = parsed["action"]
        target = parsed.get("target") or ""
        if action == "extract_text_spatial":
            if not result.get("resolved"):
                raise StepFailure(f"found no text {target!r}: no anchor "
                                  f"{_anchor_of(target)!r} on the page", pool, _anchor_of(target))
            record["extracted"] = result.get("extracted")
            return
        if action in ("find_text", "find_exact_text"):
            if not result.get("resolved"):
                how = "exactly " if action == "find_exact_text" else ""
                raise StepFailure(f"no text on the page reads {how}{target!r}",
                                  result.get("candidates") or pool)
            record["extracted"] = (result["element"] or {}).get("text")
            return
        state = result.get("state") or {}
        record["verified"] = bool(result.get("verified"))
        if action == "verify_spatial_text":
            record["extracted"] = state.get("actual")
            if not result.get("verified"):
                if not result.get("resolved"):
                    why = "" if state.get("actual") else " (the target names no direction)"
                    raise StepFailure(f"no anchor {_anchor_of(target)!r} on the page{why}",
                                      pool, _anchor_of(target))
                found = state.get("actual")
                where = f" ({_describe(result['element'])})" if result.get("candidates") else ""
                raise StepFailure(f"expected the text {target} to be "
                                  f"{state.get('expected')!r}, found {found!r}{where}")
            return
        # verify_text_present / verify_text_visible
        if not result.get("resolved"):
            raise StepFailure(f"no text on the page contains {target!r}", pool)
        if not result.get("verified"):
            raise StepFailure(f"the text {target!r} is on the page but not "
                              f"{_STATE_WORD[action]}: {_describe(result['element'])}")

    def _check_state(self, parsed, result, element, record):
        action = parsed["action"]
        record["verified"] = bool(result.get("verified"))
        if not record["verified"]:
            state = result.get("state") or {}
            seen = ", ".join(f"{k}={v}" for k, v in state.items())
            raise StepFailure(f"expected {parsed.get('target')!r} to be {_STATE_WORD[action]}, "
                              f"but it is not ({seen}): {_describe(element)}")

    # --------------------------------------------------------------- acting

    def _remaining_ms(self, deadline):
        # Once the target is found, acting gets the rest of the step's time,
        # but never less than Playwright needs to see a busy page settle.
        return max(_MIN_ACTION_MS, (deadline - time.perf_counter()) * 1000)

    def _locate(self, element):
        """A Playwright locator for one descriptor: by its document path, or,
        for shadow-tree paths and changed pages, by tag, text and box."""
        from playwright.sync_api import Error as PlaywrightError

        xpath = element.get("xpath") or ""
        text = (element.get("text") or "").strip()
        if xpath.startswith("/html["):
            loc = self.page.locator("xpath=" + xpath)
            try:
                # One round trip: how many elements the path finds, and the text.
                found = loc.evaluate_all(
                    "els => els.length === 1 ? (els[0].innerText || els[0].value || '').trim()"
                    " : null")
                if found is not None and (not text or found == text or text in found):
                    return loc
            except PlaywrightError:
                pass
        last = xpath.rstrip("/").rsplit("/", 1)[-1]
        tag = re.sub(r"\[\d+\]$", "", last) or element.get("tag") or "*"
        if not re.fullmatch(r"[a-z][a-z0-9-]*", tag):
            tag = "*"
        # CSS locators pierce open shadow roots, where xpath does not reach.
        loc = self.page.locator(tag)
        rows = loc.evaluate_all(
            "els => els.map(e => { const r = e.getBoundingClientRect();"
            " return [(e.innerText || e.value || '').trim(), r.x, r.y, r.width, r.height]; })")
        box = element.get("bounding_box") or {}
        bx, by = box.get("x", 0), box.get("y", 0)
        best, best_d = None, None
        for i, (live, x, y, w, h) in enumerate(rows):
            if text and live != text:
                continue
            d = abs(x - bx) + abs(y - by) + abs(w - box.get("width", 0)) + abs(h - box.get("height", 0))
            if best_d is None or d < best_d:
                best, best_d = i, d
        if best is None or (not text and best_d > 4):
            raise StepFailure(f"the element {_describe(element)} changed before it could be "
                              "acted on")
        return loc.nth(best)

    def _act(self, parsed, element, record, deadline):
        from playwright.sync_api import Error as PlaywrightError

        action = parsed["action"]
        if action == "extract_text":
            value = element.get("text") or ""
            if element.get("tag") in ("input", "textarea", "select"):
                loc = self._locate(element)
                value = loc.input_value(timeout=self._remaining_ms(deadline))
            record["extracted"] = value
            return
        loc = self._locate(element)
        timeout = self._remaining_ms(deadline)
        loc.scroll_into_view_if_needed(timeout=timeout)
        if action == "click":
            loc.click(timeout=timeout)
        elif action == "hover":
            loc.hover(timeout=timeout)
        elif action == "type":
            value = parsed.get("value") or ""
            try:
                loc.fill(value, timeout=timeout)
            except PlaywrightError as exc:
                if "not an <input>" not in str(exc) and "contenteditable" not in str(exc):
                    raise
                # A field drawn with divs: focus it and type like a user, if
                # the click gave the keyboard to something that takes text.
                loc.click(timeout=timeout)
                editable = self.page.evaluate(
                    "() => { const a = document.activeElement;"
                    " return !!a && (a.isContentEditable || ['INPUT', 'TEXTAREA']"
                    ".includes(a.tagName)); }")
                if not editable:
                    raise StepFailure(f"{_describe(element)} takes no typing", retry=False)
                self.page.keyboard.type(value)
        elif action == "select":
            value = (parsed.get("value") or "").strip()
            if element.get("tag") == "select":
                loc.select_option(value, timeout=timeout)
            else:
                # A list drawn with divs: open it, then pick the option by text.
                loc.click(timeout=timeout)
                option = self.page.get_by_role("option", name=value)
                if option.count() == 0:
                    option = self.page.get_by_text(value, exact=True)
                option.first.click(timeout=timeout)
        record["extracted"] = parsed.get("value") if action in ("type", "select") else None


def _fix_key_case(combo):
    """Playwright's key names: Enter, ArrowDown, PageUp, F5, Control+A."""
    names = {"esc": "Escape", "space": "Space", "enter": "Enter", "tab": "Tab", "escape": "Escape", "backspace": "Backspace",
             "delete": "Delete", "home": "Home", "end": "End", "pageup": "PageUp",
             "pagedown": "PageDown", "arrowup": "ArrowUp", "arrowdown": "ArrowDown",
             "arrowleft": "ArrowLeft", "arrowright": "ArrowRight", "insert": "Insert",
             "shift": "Shift", "control": "Control", "alt": "Alt", "meta": "Meta"}
    out = []
    for k in combo.split("+"):
        low = k.lower()
        if low in names:
            out.append(names[low])
        elif re.fullmatch(r"f\d{1,2}", low):
            out.append(low.upper())
        else:
            out.append(k)
    return "+".join(out)


def _state_result(action, result):
    """A verify result for an element the layout resolver found."""
    element = result["element"]
    state = {"present": True, "visible": bool(element.get("is_visible", False)),
             "enabled": bool(element.get("is_enabled", False))}
    verified = {"verify_present": True, "verify_visible": state["visible"],
                "verify_enabled": state["enabled"],
                "verify_disabled": not state["enabled"]}[action]
    return {"resolved": True, "verified": verified, "confidence": 1.0, "element": element,
            "state": state, "candidates": result.get("candidates", [])}
