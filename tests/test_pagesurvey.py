"""pagesurvey without a browser: the Python contract (tables, names, argument
checks), wrapper removal against an all-pairs reference, spatial labels
written into the caller's dicts, snapshot files against json.dumps, and the
settings component."""
from __future__ import annotations

import datetime
import json
import math
import os
import random
import subprocess
import sys

import pytest

from quelvar_web import settings
from quelvar_web.engine.browser import pagesurvey as ps
from quelvar_web.engine.browser.pagesurvey import DOMParser


class UrlOnly:
    """The snapshot writer asks the page only for its URL."""

    def __init__(self, url):
        self.url = url


# ---- contract ---------------------------------------------------------------


def test_tables():
    assert ps._NATIVE_TAGS == ["button", "input", "a", "select", "textarea"]
    assert len(ps._ARIA_ROLES) == 13 and ps._ARIA_ROLES[-1] == "tab"
    items = ps.INTERACTABLE_SELECTOR.split(", ")
    assert len(items) == 21
    assert ps.INTERACTABLE_SELECTOR.startswith('button, input, a, select, textarea, [role="button"], [role="link"]')
    assert ps.INTERACTABLE_SELECTOR.endswith('[role="tab"], img[alt], img[data-testid], [data-testid]')
    assert ps.CAPTURED_ATTRIBUTES == ["id", "name", "type", "placeholder", "aria-label", "aria-labelledby",
                                      "title", "role", "href", "value", "class", "data-testid", "alt"]
    assert ps._CUSTOM_INPUT_SELECTOR == (
        "span[class*='editable'], div[class*='editable'], span[class*='input'], div[class*='input']")
    assert ps.TEXT_SELECTOR == "h1, h2, h3, h4, h5, h6, p, span, label, li, td, th, a, button, div"
    assert ps._TEXT_TAGS == ps.TEXT_SELECTOR.split(", ")
    assert isinstance(ps._XPATH_JS, str) and "previousElementSibling" in ps._XPATH_JS


@pytest.mark.parametrize("tag, classes, expected", [
    ("div", "rich-editable", True),
    ("span", "textInput", True),       # the function ignores case; the selector does not
    ("div", "INPUT-box", True),
    ("input", "editable", False),
    ("textarea", "editable", False),
    ("select", "input", False),
    ("div", "", False),
    ("div", None, False),
    ("div", "button", False),
])
def test_is_custom_input(tag, classes, expected):
    assert ps._is_custom_input(tag, classes) is expected


def test_argument_kinds_are_checked():
    with pytest.raises(TypeError, match=r"^Argument 'classes' has incorrect type \(expected str, got int\)$"):
        ps._is_custom_input("div", 3)
    with pytest.raises(TypeError, match=r"^Argument 'elements' has incorrect type \(expected list, got dict\)$"):
        DOMParser._dedup_text_elements({})
    with pytest.raises(TypeError, match=r"^Argument 'candidates' has incorrect type \(expected list, got tuple\)$"):
        DOMParser(None)._assign_spatial_labels([], ())


def test_parser_keeps_its_page():
    page = object()
    assert DOMParser(page).page is page
    assert DOMParser(page=page).page is page


# ---- wrapper removal -----------------------------------------------------------


def all_pairs_dedup(elements):
    """The straightforward definition: every descriptor against every other."""
    def area(d):
        b = d["bounding_box"]
        return b["width"] * b["height"]

    def overlaps(a, b):
        return (a["x"] < b["x"] + b["width"] and a["x"] + a["width"] > b["x"]
                and a["y"] < b["y"] + b["height"] and a["y"] + a["height"] > b["y"])

    kept = []
    for d in elements:
        if d["has_direct_text"]:
            kept.append(d)
            continue
        dominated = any(
            o is not d and area(o) < area(d) and overlaps(d["bounding_box"], o["bounding_box"])
            and o["text"] in d["text"]
            for o in elements)
        if not dominated:
            kept.append(d)
    return kept


def random_page(rng, n):
    words = ["a", "b", "ab", "ba", "é", "abc", "x"]
    extent = rng.choice([20, 200, 5000])
    out = []
    for _ in range(n):
        if out and rng.random() < 0.05:
            out.append(rng.choice(out))      # the very same record twice
            continue
        w = rng.choice([0, 1, 2, 5, 10, 50, extent, extent * 3, -3, 2.5, 0.4])
        h = rng.choice([0, 1, 3, 10, 40, extent, -1, 7.5])
        x = rng.randrange(-10, extent)
        y = rng.randrange(-10, extent)
        if rng.random() < 0.02:
            x = rng.choice([math.inf, -math.inf, math.nan])
        if rng.random() < 0.3:
            x += 0.5
        text = "".join(rng.choice(words) for _ in range(rng.randrange(1, 4)))
        out.append({"tag": "div", "text": text, "has_direct_text": rng.random() < 0.3,
                    "bounding_box": {"x": x, "y": y, "width": w, "height": h}})
    return out


def test_dedup_matches_all_pairs_on_random_pages():
    rng = random.Random(20250204)
    for trial in range(400):
        n = rng.choice([0, 1, 2, 5, 20, 60]) if trial < 380 else rng.choice([400, 900])
        page = random_page(rng, n)
        got = DOMParser._dedup_text_elements(page)
        want = all_pairs_dedup(page)
        assert [id(d) for d in got] == [id(d) for d in want], trial


def test_dedup_returns_a_new_list_of_the_same_records():
    outer = {"text": "Price", "has_direct_text": False, "bounding_box": {"x": 0, "y": 0, "width": 100, "height": 20}}
    inner = {"text": "Price", "has_direct_text": True, "bounding_box": {"x": 5, "y": 2, "width": 40, "height": 16}}
    page = [outer, inner]
    got = DOMParser._dedup_text_elements(page)
    assert got is not page and len(got) == 1 and got[0] is inner
    assert page == [outer, inner]


# ---- spatial labels ------------------------------------------------------------


def test_spatial_labels_go_into_the_callers_dicts():
    field = {"tag": "input", "attributes": {"id": "f"}, "bounding_box": {"x": 0, "y": 50, "width": 100, "height": 20}}
    labelled = {"tag": "input", "attributes": {"_label": "Mine"},
                "bounding_box": {"x": 0, "y": 50, "width": 100, "height": 20}}
    attrs = field["attributes"]
    candidates = [{"text": "Email", "bounding_box": {"x": 0, "y": 20, "width": 40, "height": 30}}]
    assert DOMParser(None)._assign_spatial_labels([field, labelled], candidates) is None
    assert field["attributes"] is attrs and list(attrs) == ["id", "_label"] and attrs["_label"] == "Email"
    assert labelled["attributes"] == {"_label": "Mine"}


def test_spatial_labels_stop_at_a_descriptor_without_attributes():
    box = {"x": 0, "y": 50, "width": 100, "height": 20}
    first = {"attributes": {}, "bounding_box": dict(box)}
    broken = {"bounding_box": dict(box)}
    candidates = [{"text": "Name", "bounding_box": {"x": 0, "y": 0, "width": 40, "height": 20}}]
    with pytest.raises(KeyError) as e:
        DOMParser(None)._assign_spatial_labels([first, broken], candidates)
    assert e.value.args == ("attributes",)
    assert first["attributes"] == {"_label": "Name"}   # labelled before the failure


# ---- snapshots ---------------------------------------------------------------------


@pytest.fixture
def snapshots(monkeypatch, tmp_path):
    monkeypatch.setattr(settings, "SAVE_SNAPSHOTS", True)
    monkeypatch.setattr(settings, "LOG_PATH", str(tmp_path / "logs"))
    return tmp_path / "logs"


def random_value(rng, depth=0):
    kinds = ["str", "int", "float", "bool", "none"] + (["list", "dict"] if depth < 3 else [])
    kind = rng.choice(kinds)
    if kind == "str":
        return "".join(rng.choice(['a', 'é', '"', '\\', '\n', '\t', '\x01', '\x7f', '→', '😀', '\ud800', ' '])
                       for _ in range(rng.randrange(0, 6)))
    if kind == "int":
        return rng.choice([0, -1, 7, 2 ** 63 - 1, 10 ** 30])
    if kind == "float":
        return rng.choice([8.0, -0.0, 0.1, 1e16, 1e-7, 46.21875, 1e300, math.inf, math.nan,
                           rng.uniform(-1e6, 1e6), rng.random() * 10 ** rng.randrange(-30, 30)])
    if kind == "bool":
        return rng.random() < 0.5
    if kind == "none":
        return None
    if kind == "list":
        return [random_value(rng, depth + 1) for _ in range(rng.randrange(0, 4))]
    return {f"k{i}é": random_value(rng, depth + 1) for i in range(rng.randrange(0, 4))}


def test_snapshot_is_byte_for_byte_json_dumps(snapshots, capsys):
    rng = random.Random(7)
    url = "https://example.test/a/b?q=1#frag"
    for _ in range(30):
        elements = [random_value(rng) for _ in range(rng.randrange(0, 4))]
        texts = [{"tag": "p", "text": "café 8", "bounding_box": {"x": 8.0, "y": 0, "width": 1.5, "height": 0}}]
        DOMParser(UrlOnly(url))._save_snapshot(elements, texts)
        [path] = list(snapshots.iterdir())
        expected = json.dumps({"url": url, "elements": elements, "text_elements": texts}, indent=2)
        assert path.read_bytes() == expected.encode("ascii")
        path.unlink()
    line = capsys.readouterr().out.splitlines()[-1]
    assert line == f"  [DOM snapshot saved → {snapshots}/{path.name}]"


def test_snapshot_file_name(snapshots):
    url = "s://h/a/b"
    before = datetime.datetime.now().replace(microsecond=0)
    DOMParser(UrlOnly(url))._save_snapshot([], [])
    after = datetime.datetime.now()
    [path] = list(snapshots.iterdir())
    stamp, slug = path.name[:15], path.name[16:]
    assert before <= datetime.datetime.strptime(stamp, "%Y%m%d_%H%M%S") <= after
    assert path.name[15] == "_" and slug == "s_h_a_b.json"
    assert path.read_text() == '{\n  "url": "s://h/a/b",\n  "elements": [],\n  "text_elements": []\n}'
    path.unlink()
    DOMParser(UrlOnly("http://" + "x" * 93))._save_snapshot([], [])
    [path] = list(snapshots.iterdir())
    assert path.name[16:] == "http_" + "x" * 55 + ".json"


def test_snapshot_reads_settings_each_time(monkeypatch, tmp_path, capsys):
    monkeypatch.setattr(settings, "SAVE_SNAPSHOTS", False)
    monkeypatch.setattr(settings, "LOG_PATH", str(tmp_path / "off"))
    parser = DOMParser(UrlOnly("about:blank"))
    parser._save_snapshot([], [])
    assert not (tmp_path / "off").exists() and capsys.readouterr().out == ""
    monkeypatch.setattr(settings, "SAVE_SNAPSHOTS", 1)
    monkeypatch.setattr(settings, "LOG_PATH", tmp_path / "on" / "deeper")   # a path object works too
    parser._save_snapshot([], [])
    assert len(list((tmp_path / "on" / "deeper").iterdir())) == 1


def test_unwritable_snapshot_raises_and_prints_nothing(monkeypatch, tmp_path, capsys):
    monkeypatch.setattr(settings, "SAVE_SNAPSHOTS", True)
    blocker = tmp_path / "file"
    blocker.write_text("x")
    parser = DOMParser(UrlOnly("s://h"))
    for log_path, kind, failing in [(blocker / "sub", NotADirectoryError, blocker / "sub"),
                                    (blocker / "a" / "b", NotADirectoryError, blocker / "a"),
                                    (blocker, FileExistsError, blocker)]:
        monkeypatch.setattr(settings, "LOG_PATH", str(log_path))
        with pytest.raises(kind) as e:
            parser._save_snapshot([], [])
        assert e.value.filename == str(failing)
    # A directory where the file would go: every name the next seconds can give.
    logs = tmp_path / "logs"
    now = datetime.datetime.now()
    for s in range(-2, 30):
        stamp = (now + datetime.timedelta(seconds=s)).strftime("%Y%m%d_%H%M%S")
        (logs / f"{stamp}_s_h.json").mkdir(parents=True)
    monkeypatch.setattr(settings, "LOG_PATH", str(logs))
    with pytest.raises(IsADirectoryError):
        parser._save_snapshot([], [])
    assert capsys.readouterr().out == ""


def test_snapshot_of_a_value_json_cannot_write(snapshots):
    with pytest.raises(TypeError, match="not JSON serializable"):
        DOMParser(UrlOnly("s://h"))._save_snapshot([{"x": (1, 2)}], [])
    looped = {}
    looped["self"] = looped
    with pytest.raises(ValueError, match="Circular reference"):
        DOMParser(UrlOnly("s://h"))._save_snapshot([looped], [])
    assert not snapshots.exists() or not list(snapshots.iterdir())


# ---- settings ------------------------------------------------------------------------


def settings_in_subprocess(env):
    full = {k: v for k, v in os.environ.items() if not k.startswith("QUELVAR_")}
    full.update(env)
    code = "from quelvar_web import settings as s; print(repr(s.SAVE_SNAPSHOTS), repr(s.LOG_PATH))"
    return subprocess.run([sys.executable, "-c", code], env=full, capture_output=True, text=True)


@pytest.mark.parametrize("env, out", [
    ({}, "False 'data/logs/'"),
    ({"QUELVAR_SAVE_SNAPSHOTS": "1", "QUELVAR_LOG_PATH": "/tmp/snaps"}, "True '/tmp/snaps'"),
    ({"QUELVAR_SAVE_SNAPSHOTS": " TRUE "}, "True 'data/logs/'"),
    ({"QUELVAR_SAVE_SNAPSHOTS": "off", "QUELVAR_LOG_PATH": ""}, "False 'data/logs/'"),
])
def test_settings_from_environment(env, out):
    r = settings_in_subprocess(env)
    assert r.returncode == 0, r.stderr
    assert r.stdout.strip() == out


def test_settings_refuse_an_unknown_flag():
    r = settings_in_subprocess({"QUELVAR_SAVE_SNAPSHOTS": "treu"})
    assert r.returncode != 0 and "QUELVAR_SAVE_SNAPSHOTS must be one of" in r.stderr
