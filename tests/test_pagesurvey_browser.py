"""The page survey on real headless Chromium: small pages with fixed sizes,
one survey each. Faults are injected by wrapping the real page, so the
errors are Playwright's own."""
from __future__ import annotations

import json

import pytest
from playwright.sync_api import Error as PlaywrightError

from quelvar_web import settings
from quelvar_web.engine.browser import pagesurvey as ps
from quelvar_web.engine.browser.pagesurvey import DOMParser

pytestmark = pytest.mark.browser

LABEL_CANDIDATE_SELECTOR = "h1, h2, h3, h4, h5, h6, label, div, span, p"
STYLE = "<style>body{margin:0;font:14px/20px sans-serif} h1,h2,h3,p,ul{margin:0}</style>"


def by_id(descriptors):
    return {d["attributes"].get("id"): d for d in descriptors}


def by_xpath(descriptors):
    return {d["xpath"]: d for d in descriptors}


def test_native_controls(page):
    page.set_content(STYLE + """
      <div><span>Pick</span><select id="sel"><option>A</option></select><span>Pick</span><input id="inp"></div>
      <button id="icon" value="Go" style="width:40px;height:20px"></button>
      <button id="bare" style="width:40px;height:20px"></button>
      <button id="flat" style="height:0;padding:0;border:0">Flat</button>
      <a id="dot" href="#" style="display:inline-block;width:1px;height:1px"></a>
      <a id="close" href="#" aria-label="Close" style="visibility:hidden">x</a>
      <a id="help" href="#" title="Help" style="visibility:hidden">x</a>
      <a id="anon" href="#" style="visibility:hidden">x</a>
      <div id="save" data-row="3" data-testid="save" role="button" title="t" data-empty="">Save</div>
      <a id="multi" href="#" role="button" data-testid="m">Multi</a>
      <form><input id="i1"><p>between</p><input id="i2" disabled></form>
    """)
    elements, _ = DOMParser(page).extract_interactable_elements()
    native = [d for d in elements if "id" in d["attributes"]]
    got = by_id(native)
    assert list(got) == ["sel", "inp", "icon", "bare", "dot", "close", "help", "save", "multi", "i1", "i2"]
    assert [d["attributes"]["id"] for d in native].count("multi") == 1
    assert got["icon"]["text"] == "Go" and got["bare"]["text"] == ""
    assert got["dot"]["bounding_box"] == {"x": got["dot"]["bounding_box"]["x"], "y": got["dot"]["bounding_box"]["y"],
                                          "width": 1, "height": 1}
    assert (got["close"]["is_visible"], got["help"]["is_visible"], got["save"]["is_visible"]) == (False, False, True)
    # (a spatial label, when one is found, comes last)
    assert list(got["save"]["attributes"])[:6] == ["id", "title", "role", "data-testid", "data-row", "data-empty"]
    assert got["save"]["attributes"]["data-empty"] == ""
    assert list(got["icon"]) == ["tag", "text", "attributes", "bounding_box", "is_visible", "is_enabled", "xpath"]
    assert got["i2"]["xpath"] == "/html[1]/body[1]/form[1]/input[2]"
    assert got["i1"]["xpath"] == "/html[1]/body[1]/form[1]/input[1]"
    assert got["i2"]["is_enabled"] is False and got["i1"]["is_enabled"] is True
    # Only input fields get a field label; nothing stands above the select.
    assert got["inp"]["attributes"]["_label"] == "Pick"
    assert "_label" not in got["sel"]["attributes"]


def test_field_label_rules(page):
    page.set_content(STYLE + f"""
      <label for="e">Email</label><input id="e" placeholder="you@x">
      <input id="blank" aria-label="   " placeholder="Fallback">
      <span id="lb"> Labelled </span><input id="by" aria-labelledby="lb" placeholder="p">
      <div><span>Phone</span><input id="ph"></div>
      <div><span>{"x" * 50}</span><input id="long"></div>
      <div><span>{"y" * 49}</span><input id="short"></div>
      <div><b>Note</b><input id="tip" title="Tip"></div>
      <div><div><i></i><b>Earlier</b></div><input id="earlier"></div>
      <div><textarea id="ta" placeholder="Comment"></textarea></div>
      <div><input id="none"></div>
    """)
    parser = DOMParser(page)
    labels = {i: parser._get_field_label(page.query_selector(f"#{i}"))
              for i in ["e", "blank", "by", "ph", "long", "short", "tip", "earlier", "ta", "none"]}
    assert labels == {"e": "Email", "blank": "Fallback", "by": "Labelled", "ph": "Phone", "long": "",
                      "short": "y" * 49, "tip": "Tip", "earlier": "Earlier", "ta": "Comment", "none": ""}


def test_custom_inputs(page):
    page.set_content(STYLE + """
      <span id="c1" class="rich-editable" aria-label="Notes" style="display:inline-block;width:80px;height:20px"> Value </span>
      <span id="c2" class="rich-editable" style="display:none">hidden</span>
      <div id="c3" class="textInput" style="width:80px;height:20px"></div>
      <div id="c4" class="inputWrapper" style="width:80px;height:20px"></div>
      <span id="c5" class="editable-input" style="display:inline-block;width:10px;height:10px"></span>
      <div id="c6" class="editable" style="width:0;height:20px"></div>
      <div id="c7" class="editable" style="visibility:hidden;width:9px;height:9px" aria-label="Hidden"></div>
    """)
    found = DOMParser(page)._extract_custom_inputs()
    assert [d["attributes"]["id"] for d in found] == ["c1", "c4", "c5"]
    c1 = found[0]
    assert list(c1) == ["tag", "text", "attributes", "bounding_box", "is_visible", "is_enabled",
                        "is_editable_field", "xpath"]
    assert (c1["tag"], c1["text"], c1["is_editable_field"]) == ("span", "Value", True)
    assert c1["attributes"] == {"id": "c1", "aria-label": "Notes", "class": "rich-editable", "_label": "Notes"}
    assert c1["bounding_box"]["width"] == 80 and c1["bounding_box"]["height"] == 20


def test_pointer_cursor_elements(page):
    page.set_content(STYLE + f"""
      <style>.p{{cursor:pointer;width:600px}}</style>
      <div class="p">Settings <span>now</span></div>
      <div class="p" aria-label="Sixty">{"a" * 60}</div>
      <div class="p">{"a" * 61}</div>
      <div class="p">{"<i>x</i>" * 10}</div>
      <div class="p">{"<i>x</i>" * 11}</div>
      <div style="cursor:pointer;width:0.4px;height:10px;overflow:hidden">T</div>
      <div style="width:100px">plain</div>
    """)
    found = by_xpath(DOMParser(page)._extract_cursor_pointer_elements())
    body = "/html[1]/body[1]"
    settings_ = found[f"{body}/div[1]"]
    assert settings_ == {"tag": "button", "text": "Settings now", "attributes": {"class": "p"},
                         "bounding_box": {"x": 0, "y": 0, "width": 600, "height": 20},
                         "is_visible": True, "is_enabled": True, "xpath": f"{body}/div[1]"}
    assert found[f"{body}/div[1]/span[1]"]["text"] == "now"      # inherits the cursor
    assert found[f"{body}/div[2]"]["attributes"] == {"class": "p", "aria-label": "Sixty"}
    assert f"{body}/div[3]" not in found                         # 61 characters
    assert f"{body}/div[4]" in found                             # 10 descendants
    assert f"{body}/div[5]" not in found                         # 11 descendants
    thin = found[f"{body}/div[6]"]
    assert thin["bounding_box"]["width"] == 0 and thin["attributes"] == {}
    assert f"{body}/div[7]" not in found
    assert all(isinstance(v, int) for d in found.values() for v in d["bounding_box"].values())


def test_text_elements_and_wrappers(page):
    page.set_content(STYLE + """
      <ul><li id="price"><span id="ps">Price</span></li></ul>
      <div id="total">Total: <span id="n">42</span></div>
      <div id="wrap" style="width:100px"><span id="same" style="display:block">Same</span></div>
      <p id="kids"><b>Only</b> <i>children</i></p>
      <h2 id="h" class="c" data-x="1" aria-label="A" title="not taken">Head</h2>
      <div id="ghost" style="visibility:hidden">Invisible</div>
      <span id="empty"> </span>
    """)
    texts = DOMParser(page).extract_text_elements()
    got = by_id(texts)
    assert list(got) == ["ps", "total", "n", "wrap", "same", "kids", "h"]
    assert got["total"]["has_direct_text"] is True and got["wrap"]["has_direct_text"] is False
    assert got["kids"]["has_direct_text"] is False and got["kids"]["text"] == "Only children"
    assert list(got["h"]) == ["tag", "text", "has_direct_text", "attributes", "bounding_box", "is_visible",
                              "is_enabled", "xpath"]
    assert got["h"]["attributes"] == {"id": "h", "class": "c", "aria-label": "A", "data-x": "1"}
    assert list(got["h"]["attributes"]) == ["id", "class", "aria-label", "data-x"]


def test_label_candidates(page):
    page.set_content(STYLE + f"""
      <div style="height:40px">Forty</div>
      <div style="height:41px">FortyOne</div>
      <div>{"b" * 60}</div>
      <div>{"c" * 61}</div>
      <h2>Address</h2>
      <h2>Address</h2>
      <p> para </p>
      <span style="display:none">Gone</span>
    """)
    cands = DOMParser(page)._collect_label_candidates()
    assert [c["text"] for c in cands] == ["Forty", "b" * 60, "Address", "para"]
    assert list(cands[0]) == ["text", "bounding_box"]
    assert cands[0]["bounding_box"] == {"x": 0, "y": 0, "width": 1280, "height": 40}


def test_spatial_labels_in_a_survey(page):
    page.set_content(STYLE + """
      <h3 style="position:absolute;left:0;top:0;height:20px">Shipping</h3>
      <select id="ship" style="position:absolute;left:0;top:30px;width:100px;height:20px"><option>A</option></select>
      <input id="own" aria-label="Own" style="position:absolute;left:0;top:60px;width:100px;height:20px">
      <button id="buy" style="position:absolute;left:300px;top:100px;width:100px;height:30px"><span>Buy</span></button>
    """)
    got = by_id(DOMParser(page).extract_interactable_elements()[0])
    assert got["ship"]["attributes"]["_label"] == "Shipping"
    assert list(got["ship"]["attributes"])[-1] == "_label"
    assert got["own"]["attributes"]["_label"] == "Own"
    assert "_label" not in got["buy"]["attributes"]   # its own span lies below its top edge


def test_open_shadow_root(page):
    page.set_content(STYLE + '<div id="host"></div><div id="closed"></div>')
    page.evaluate("""() => {
      document.querySelector('#host').attachShadow({mode: 'open'}).innerHTML =
        '<div><button id="inside" style="width:50px;height:20px">In</button></div>';
      document.querySelector('#closed').attachShadow({mode: 'closed'}).innerHTML =
        '<button id="hidden-away" style="width:50px;height:20px">Out</button>';
    }""")
    elements, texts = DOMParser(page).extract_interactable_elements()
    got = by_id(elements)
    assert list(got) == ["inside"]
    assert got["inside"]["xpath"] == "/div[1]/button[1]"
    assert [t["xpath"] for t in texts if t["text"] == "In"] == ["/div[1]/button[1]"]


def test_snapshot_of_a_survey(page, monkeypatch, tmp_path, capsys):
    monkeypatch.setattr(settings, "SAVE_SNAPSHOTS", True)
    monkeypatch.setattr(settings, "LOG_PATH", str(tmp_path) + "/")
    page.set_content(STYLE + '<h2>Café</h2><button style="width:40.5px;height:20px">Go</button>')
    elements, texts = DOMParser(page).extract_interactable_elements()
    [path] = list(tmp_path.iterdir())
    assert path.read_text() == json.dumps({"url": page.url, "elements": elements, "text_elements": texts}, indent=2)
    assert "\\u00e9" in path.read_text()
    assert capsys.readouterr().out == f"  [DOM snapshot saved → {tmp_path}/{path.name}]\n"


# ---- faults -------------------------------------------------------------------


class FaultyPage:
    """The real page, with a hook that sees every call and may raise or
    change the page first."""

    def __init__(self, page, hook):
        self._page, self._hook = page, hook

    def query_selector_all(self, selector):
        self._hook("query_selector_all", selector)
        return [FaultyHandle(h, self._hook) for h in self._page.query_selector_all(selector)]

    def query_selector(self, selector):
        self._hook("query_selector", selector)
        h = self._page.query_selector(selector)
        return h and FaultyHandle(h, self._hook)

    def evaluate(self, script):
        self._hook("evaluate", script)
        return self._page.evaluate(script)

    @property
    def url(self):
        return self._page.url


class FaultyHandle:
    def __init__(self, handle, hook):
        self._handle, self._hook = handle, hook

    def __getattr__(self, name):
        method = getattr(self._handle, name)

        def call(*args):
            self._hook(name, self._handle)
            return method(*args)
        return call


BUTTONS = STYLE + "".join(f'<button id="b{i}" style="width:40px;height:20px">B{i}</button>' for i in range(1, 4))


@pytest.mark.parametrize("selector", [ps.INTERACTABLE_SELECTOR, ps._CUSTOM_INPUT_SELECTOR,
                                      LABEL_CANDIDATE_SELECTOR, ps.TEXT_SELECTOR])
def test_failing_page_query_fails_the_survey_with_that_error(page, selector):
    page.set_content(STYLE + '<button style="width:40px;height:20px">B</button>')
    error = PlaywrightError("query refused")

    def hook(name, arg):
        if name == "query_selector_all" and arg == selector:
            raise error

    with pytest.raises(PlaywrightError) as e:
        DOMParser(FaultyPage(page, hook)).extract_interactable_elements()
    assert e.value is error


def test_failing_element_call_drops_that_element(page):
    page.set_content(BUTTONS)

    def hook(name, arg):
        if name == "bounding_box" and arg.get_attribute("id") == "b2":
            raise PlaywrightError("detached")

    elements, texts = DOMParser(FaultyPage(page, hook)).extract_interactable_elements()
    assert [d["attributes"]["id"] for d in elements] == ["b1", "b3"]
    assert [t["text"] for t in texts] == ["B1", "B3"]


def test_failing_pointer_script_loses_only_that_source(page):
    page.set_content(BUTTONS + '<div style="cursor:pointer">Click</div>')

    def hook(name, arg):
        if name == "evaluate" and isinstance(arg, str) and "cursor" in arg:
            raise PlaywrightError("navigating")

    elements, _ = DOMParser(FaultyPage(page, hook)).extract_interactable_elements()
    assert [d["attributes"].get("id") for d in elements] == ["b1", "b2", "b3"]


def test_interrupt_is_never_taken_for_an_element_failure(page):
    page.set_content(BUTTONS)
    interrupt = KeyboardInterrupt()

    def hook(name, arg):
        if name == "is_enabled":
            raise interrupt

    with pytest.raises(KeyboardInterrupt) as e:
        DOMParser(FaultyPage(page, hook)).extract_interactable_elements()
    assert e.value is interrupt


def test_element_removed_during_the_survey(page):
    page.set_content(BUTTONS)

    def hook(name, arg):
        if name == "is_visible" and arg.get_attribute("id") == "b2":
            page.evaluate("() => document.querySelector('#b2')?.remove()")

    elements, texts = DOMParser(FaultyPage(page, hook)).extract_interactable_elements()
    assert [d["attributes"]["id"] for d in elements] == ["b1", "b3"]
    assert [t["text"] for t in texts] == ["B1", "B3"]


def test_page_navigating_during_the_survey(page):
    page.set_content(BUTTONS)
    calls = {"n": 0}

    def hook(name, arg):
        calls["n"] += 1
        if calls["n"] == 5:
            page.goto("data:text/html,<p>Elsewhere</p><button>Late</button>")

    elements, texts = DOMParser(FaultyPage(page, hook)).extract_interactable_elements()
    # Handles of the old document fail and are dropped; later queries see the new one.
    assert "b2" not in [d["attributes"].get("id") for d in elements]
    assert {t["text"] for t in texts} <= {"B1", "Elsewhere", "Late"}
    assert "Elsewhere" in {t["text"] for t in texts}
