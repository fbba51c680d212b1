"""The one-script survey against the element-by-element survey on real
Chromium: both must give the very same descriptors (values, int against
float, key order) in the same order, over pages that exercise each rule."""
from __future__ import annotations

import random

import pytest
from playwright.sync_api import Error as PlaywrightError

from quelvar_web.engine.browser.pagesurvey import DOMParser

pytestmark = pytest.mark.browser

STYLE = "<style>body{margin:0;font:14px/20px sans-serif} h1,h2,h3,p,ul{margin:0} .p{cursor:pointer}</style>"

PAGES = {
    "hidden and visibility": """
      <button id="v" style="width:40px;height:20px">Shown</button>
      <button style="visibility:hidden" aria-label="Named">x</button>
      <a href="#" style="visibility:hidden">anon</a>
      <a href="#" style="display:none" title="Gone">g</a>
      <div style="visibility:hidden"><button style="visibility:visible">Back</button></div>
      <button style="opacity:0">Faint</button><button style="position:absolute;left:-9999px">Off</button>
      <button style="height:0;padding:0;border:0">Flat</button>
      <a href="#" style="display:inline-block;width:1px;height:1px"></a>
      <input type="hidden" name="h" value="secret"><span></span>""",
    "display contents and transforms": """
      <div style="display:contents"><button>Inside contents</button></div>
      <span style="display:contents">only text</span>
      <div style="transform:rotate(7deg)"><button>Turned</button><p>Turned text</p></div>
      <div style="scale:1.37"><a href="#">Scaled</a></div>
      <button style="width:33.3px">Third</button><p style="width:100.7px">Odd width text</p>""",
    "disabled states": """
      <fieldset disabled><legend><input id="l1"></legend><legend><input id="l2"></legend>
        <button>In set</button><div role="button">Div in set</div></fieldset>
      <button disabled><span role="button">Span in disabled</span></button>
      <div aria-disabled="true"><a href="#">Aria link</a><a>No href</a><button>Aria button</button>
        <div role="button">Aria div</div><div contenteditable role="textbox">Edit</div></div>
      <div aria-disabled="true"><div aria-disabled="false"><button>Undone</button></div></div>
      <label>Check <input type="checkbox" disabled></label>
      <a href="#" disabled>a disabled</a><div role="none button">none button</div>
      <select><optgroup disabled label="g"><option>o</option></optgroup></select>""",
    "labels": """
      <form>
        <label for="email">Email</label><input id="email" placeholder="you@x">
        <label>Wrapped <input id="wrapped"></label>
        <div><span>Phone</span><input id="phone"></div>
        <div><span>""" + "x" * 50 + """</span><input id="long"></div>
        <input id="blank" aria-label="   " title="Titled">
        <input id="by" aria-labelledby="cap"><div id="cap">Caption <b>bold</b></div>
        <input id="by2" aria-labelledby="cap other"><textarea placeholder="Notes"></textarea>
        <input id="q&quot;" ><select id="sel"><option>A</option></select>
        <h2>Address</h2><input id="a1"><h2>Address</h2><input id="a2">
      </form>""",
    "details, svg and shadow": """
      <details><summary>More</summary><button aria-label="Inner">x</button><p>Hidden para</p></details>
      <details open><summary>Open</summary><button>Open inner</button></details>
      <div style="content-visibility:hidden"><button title="cv">cv</button></div>
      <svg width="60" height="40"><a href="#"><circle cx="20" cy="20" r="10" stroke="black" stroke-width="4"/>
        <text x="2" y="20">svg text</text></a><g role="button"><rect width="10" height="10"/></g></svg>
      <math><mi>x</mi></math>
      <div id="host"></div><div id="closed"></div><label for="shadowed">Out of shadow</label>""",
    "custom inputs and pointer widgets": """
      <span class="rich-editable" aria-label="Notes" style="display:inline-block;width:80px;height:20px"> Value </span>
      <span class="rich-editable" style="display:none">hidden</span>
      <div class="textInput" style="width:80px;height:20px"></div>
      <div class="inputWrapper" style="width:80.5px;height:20px">wrapped</div>
      <span class="editable-input" style="display:inline-block;width:10px;height:10px"></span>
      <div class="editable" style="visibility:hidden;width:9px;height:9px" aria-label="Hidden"></div>
      <div class="p">Settings <span>now</span></div>
      <div class="p" aria-label="Sixty">""" + "a" * 60 + """</div><div class="p">""" + "a" * 61 + """</div>
      <div class="p" style="width:0.4px">thin</div>""",
    "wrapper text and limits": """
      <ul><li><span>Price</span></li><li>Total: <span>42</span></li></ul>
      <div style="width:50px"><span style="display:block;width:50px">Same</span></div>
      <h1 style="height:40px">Forty</h1><input id="f40"><h1 style="height:41px">Forty-one</h1><input id="f41">
      <label>""" + "b" * 60 + """</label><input id="t60"><label>""" + "c" * 61 + """</label><input id="t61">
      <p data-a="1" data-b="" id="pp" class="k" aria-label="al" title="not taken">Para</p>
      <div role="button" data-testid="save" data-row="3">Save</div>
      <span>&#x1F600; emoji &#x00e9;</span><p>  spaced\u00a0 </p>""",
}


def shadow_setup(page):
    page.evaluate("""() => {
      const host = document.querySelector('#host');
      if (!host) return;
      const root = host.attachShadow({mode: 'open'});
      root.innerHTML = '<div aria-disabled="true"><button>Shadow</button></div><input id="shadowed">' +
        '<label for="sin">In shadow</label><input id="sin"><div id="inner"></div>';
      root.querySelector('#inner').attachShadow({mode: 'open'}).innerHTML = '<a href="#">Deep</a>';
      document.querySelector('#closed').attachShadow({mode: 'closed'}).innerHTML = '<button>Closed</button>';
    }""")


def generated_page(seed=6, n=60):
    rng = random.Random(seed)
    parts = []
    for i in range(n):
        w = rng.choice(["60px", "75.5px", "41.3px", "120px"])
        kind = rng.randrange(8)
        if kind == 0:
            parts.append(f'<button id="g{i}" style="width:{w}">Button {i}</button>')
        elif kind == 1:
            parts.append(f'<div><span>Field {i}</span><input id="g{i}" name="n{i}"></div>')
        elif kind == 2:
            parts.append(f'<a href="#{i}" data-k="{i}">Link {i}</a>')
        elif kind == 3:
            parts.append(f'<h3>Heading {i % 7}</h3>')
        elif kind == 4:
            parts.append(f'<p style="width:{w}">Paragraph {i} <span>part {i}</span></p>')
        elif kind == 5:
            parts.append(f'<div class="p" style="width:{w}">Card {i}</div>')
        elif kind == 6:
            parts.append(f'<label for="g{i}">Label {i}</label><textarea id="g{i}"></textarea>')
        else:
            parts.append(f'<div role="tab" aria-disabled="{rng.choice(["true", "false"])}">Tab {i}</div>')
    return "<div>" + "".join(parts) + "</div>"


class Recording:
    """The real page, counting the calls made on it."""

    def __init__(self, page):
        self._page, self.calls = page, []

    def __getattr__(self, name):
        attr = getattr(self._page, name)
        if not callable(attr):
            return attr

        def call(*args):
            self.calls.append(name)
            return attr(*args)
        return call


def survey(page, monkeypatch, mode):
    monkeypatch.setenv("QUELVAR_SURVEY", mode)
    recording = Recording(page)
    return DOMParser(recording).extract_interactable_elements(), recording.calls


def assert_same(fast, reference):
    # repr shows kinds (1 against 1.0), key order and list order.
    for got, want in zip(fast, reference):
        assert [repr(d) for d in got] == [repr(d) for d in want]


@pytest.mark.parametrize("name", list(PAGES) + ["generated"])
def test_fast_survey_equals_reference(page, monkeypatch, name):
    page.set_content(STYLE + (generated_page() if name == "generated" else PAGES[name]))
    shadow_setup(page)
    fast, fast_calls = survey(page, monkeypatch, "fast")
    reference, reference_calls = survey(page, monkeypatch, "reference")
    assert fast[0] or fast[1]
    assert_same(fast, reference)
    # All four sources went through one script; the reference never runs one.
    assert fast_calls.count("eval_on_selector_all") == 1
    assert "eval_on_selector_all" not in reference_calls


def test_a_plain_page_costs_two_scripts(page, monkeypatch):
    page.set_content(STYLE + '<h2>Login</h2><label for="u">User</label><input id="u">'
                     '<button>Go</button><p>Hello <span>there</span></p>')
    fast, calls = survey(page, monkeypatch, "fast")
    assert calls == ["eval_on_selector_all", "evaluate"]
    assert_same(fast, survey(page, monkeypatch, "reference")[0])


class ScriptRefused(Recording):
    def __init__(self, page, query_error=None):
        super().__init__(page)
        self.query_error = query_error

    def eval_on_selector_all(self, selector, script):
        raise PlaywrightError("script refused")

    def query_selector_all(self, selector):
        if self.query_error:
            raise self.query_error
        return self._page.query_selector_all(selector)


def test_failing_script_falls_back_to_the_reference(page, monkeypatch):
    page.set_content(STYLE + PAGES["labels"])
    monkeypatch.setenv("QUELVAR_SURVEY", "fast")
    fallen = DOMParser(ScriptRefused(page)).extract_interactable_elements()
    assert_same(fallen, survey(page, monkeypatch, "reference")[0])
    error = PlaywrightError("query refused too")
    with pytest.raises(PlaywrightError) as raised:
        DOMParser(ScriptRefused(page, error)).extract_interactable_elements()
    assert raised.value is error


def test_malformed_script_answer_falls_back(page, monkeypatch):
    page.set_content(STYLE + '<button>Go</button><p>Text</p>')

    class Garbled(Recording):
        def eval_on_selector_all(self, selector, script):
            return '[{"v": tru'

    monkeypatch.setenv("QUELVAR_SURVEY", "fast")
    garbled = Garbled(page)
    result = DOMParser(garbled).extract_interactable_elements()
    assert garbled.calls.count("query_selector_all") == 4
    assert_same(result, survey(page, monkeypatch, "reference")[0])


class FlaggedHandleFails(Recording):
    """Real handles (asked only for the elements the script sends back)
    whose bounding_box fails for the element with id "t"."""

    def __init__(self, page):
        super().__init__(page)
        self.asked = []

    def query_selector_all(self, selector):
        outer = self

        class Handle:
            def __init__(self, h):
                self._h = h

            def __getattr__(self, name):
                method = getattr(self._h, name)

                def call(*args):
                    outer.asked.append(self._h.get_attribute("id"))
                    if name == "bounding_box" and self._h.get_attribute("id") == "t":
                        raise PlaywrightError("detached")
                    return method(*args)
                return call
        return [Handle(h) for h in self._page.query_selector_all(selector)]


def test_element_sent_back_to_real_calls_is_dropped_when_they_fail(page, monkeypatch):
    page.set_content(STYLE + '<button id="a">A</button><button id="t" style="transform:rotate(5deg)">T</button>'
                     '<button id="b">B</button>')
    monkeypatch.setenv("QUELVAR_SURVEY", "fast")
    wrapped = FlaggedHandleFails(page)
    elements, texts = DOMParser(wrapped).extract_interactable_elements()
    assert [d["attributes"]["id"] for d in elements] == ["a", "b"]
    assert [t["text"] for t in texts] == ["A", "B"]
    # Only the transformed button was asked element by element.
    assert set(wrapped.asked) == {"t"}
