"""The text strategy seen from Python: a shop page resolved step by step, and
the contract (tables, parameters, result keys and order, identity, errors)."""
from __future__ import annotations

import copy
import json
import pathlib

import pytest

from quelvar_web.engine.strategies import textlocator as tl
from quelvar_web.engine.strategies.textlocator import DOMStrategy

PAGE = json.loads((pathlib.Path(__file__).parent / "data" / "shop_page.json").read_text())


def _find(kind: str, xpath: str) -> dict:
    pool = PAGE["dom_elements"] if kind == "dom" else PAGE["text_elements"]
    (hit,) = [d for d in pool if d["xpath"] == xpath]
    return hit


def box(x, y, w=10.0, h=10.0):
    return {"x": x, "y": y, "width": w, "height": h}


def span(text, x, y, xpath, w=40.0, h=20.0, tag="span"):
    return {"tag": tag, "text": text, "has_direct_text": True, "attributes": {},
            "bounding_box": box(x, y, w, h), "is_visible": True, "is_enabled": True,
            "xpath": xpath}


# ---- the shop page ----------------------------------------------------------


@pytest.mark.parametrize("case", PAGE["steps"], ids=[s["step"] for s in PAGE["steps"]])
def test_shop_page_step(case):
    before = copy.deepcopy(PAGE["dom_elements"]), copy.deepcopy(PAGE["text_elements"])
    r = DOMStrategy().resolve(case["instruction"], PAGE["dom_elements"], PAGE["text_elements"])
    want = case["expect"]
    if "element" in want:
        assert r["resolved"] is True and r["confidence"] == 1.0
        assert r["element"] is _find(*want["element"]), r["element"]
    else:
        assert r["resolved"] is want["resolved"] and r["element"] is None
    for key in ("verified", "extracted"):
        if key in want:
            assert r[key] == want[key]
    # Candidates are the caller's own descriptors, and nothing was changed.
    pool = [id(d) for d in PAGE["dom_elements"] + PAGE["text_elements"]]
    assert all(id(c) in pool for c in r["candidates"])
    assert (PAGE["dom_elements"], PAGE["text_elements"]) == before


def test_shop_page_every_add_to_cart_is_a_candidate_in_reading_order():
    r = DOMStrategy().resolve({"action": "click", "target": "Add to cart", "ordinal": 1},
                              PAGE["dom_elements"], PAGE["text_elements"])
    buttons = [d for d in PAGE["dom_elements"] if d["text"] == "Add to cart"]
    assert len(buttons) == 40
    assert [id(c) for c in r["candidates"]] == [id(b) for b in buttons]


# ---- tables and parameters -----------------------------------------------------


def test_tables_are_the_documented_objects():
    assert tl._MATCH_ATTRIBUTES == ["aria-label", "_label", "placeholder", "data-testid", "type", "alt"]
    assert isinstance(tl._TYPE_DESCRIPTORS, set) and len(tl._TYPE_DESCRIPTORS) == 18
    assert {"input", "btn", "element", "widget"} <= tl._TYPE_DESCRIPTORS
    assert tl._TEXT_ONLY_TAGS == {"span", "p", "label", "h1", "h2", "h3", "h4", "h5", "h6",
                                  "li", "td", "th", "div", "a"}
    assert tl._DOM_DISTANCE_THRESHOLD == 10 and type(tl._DOM_DISTANCE_THRESHOLD) is int
    assert tl._TYPEABLE_TAGS == {"input", "textarea"}
    assert tl._TYPEABLE_ROLES == {"textbox", "searchbox", "spinbutton", "combobox"}
    assert tl._SELECTABLE_TAGS == {"select"}
    assert list(tl._DIRECTIONS.items()) == [
        ("next to", "right"), ("right of", "right"), ("left of", "left"),
        ("below", "below"), ("under", "below"), ("above", "above")]


def test_functions_take_their_documented_keywords():
    el = {"text": "", "attributes": {"_label": "Email", "class": "btn-primary nav_link x1 col"}}
    assert tl._strip_type_descriptors(target="Email field") == "Email"
    assert tl._searchable_strings(element=el) == ["btn primary nav link"]
    assert tl._searchable_strings(el, include_label=True) == ["Email", "btn primary nav link"]
    assert tl._matches_element(target="email", element=el) is False
    assert tl._matches_element("email", el, include_label=True) is True
    assert tl._exact_matches_element(target="Nav-Link", element=el) is False
    assert tl._exact_matches_element("btn primary nav link", el) is True
    assert tl._dom_distance(xpath_a="/a[1]/b[1]/c[1]", xpath_b="/a[1]/x[1]/c[1]") == 4
    assert tl._norm("  $1,200 € ") == "1200"
    s = DOMStrategy()
    texts = [span("Price", 0, 0, "/p[1]"), span("$10", 60, 0, "/p[2]"), span("$12", 120, 0, "/p[3]")]
    assert s._resolve_verify_spatial_text(target="right of Price", expected="10",
                                          text_elements=texts)["verified"] is True
    r = s._resolve_extract_spatial_text(target="right of Price", text_elements=texts, ordinal=2)
    assert r["extracted"] == "$12"
    assert s._resolve_extract_spatial_text("right of Price", texts, None)["extracted"] == "$10"
    assert s._resolve_find_text(target="$1", text_elements=texts)["element"] is texts[1]
    assert s._resolve_find_exact_text(target="$12", text_elements=texts)["element"] is texts[2]
    assert s._resolve_verify(action="verify_present", target="Price", dom_elements=texts)["verified"]
    assert s._resolve_verify_text(action="verify_text_visible", target="price",
                                  text_elements=texts)["verified"] is True
    assert s.resolve(parsed_instruction={"action": "find_text", "target": "$"},
                     dom_elements=[], text_elements=texts)["element"] is texts[1]


def test_filter_by_action_returns_the_given_list_itself():
    link = {"tag": "a", "text": "Home"}
    field = {"tag": "input", "text": ""}
    links = [link, dict(link)]
    assert tl._filter_by_action("click", links) is links
    assert tl._filter_by_action("type", links) is links  # nothing typeable
    assert tl._filter_by_action("select", links) is links
    kept = tl._filter_by_action(action="type", elements=[link, field])
    assert kept == [field] and kept[0] is field


# ---- result records ----------------------------------------------------------

DOM = [
    {"tag": "button", "text": "Save changes", "attributes": {}, "bounding_box": box(0, 10),
     "is_visible": True, "is_enabled": True, "xpath": "/html[1]/body[1]/button[1]"},
    {"tag": "button", "text": "Save", "attributes": {}, "bounding_box": box(0, 50),
     "is_visible": True, "is_enabled": False, "xpath": "/html[1]/body[1]/button[2]"},
]
TEXTS = [span("Total due", 0, 0, "/html[1]/body[1]/p[1]"), span(" Total ", 0, 40, "/html[1]/body[1]/p[2]"),
         span("$10", 60, 40, "/html[1]/body[1]/p[3]")]

KEY_ORDER = [
    ({"action": "click", "target": "Save"}, ["resolved", "confidence", "element", "candidates"]),
    ({"action": "click", "target": "Nothing"}, ["resolved", "confidence", "element", "candidates"]),
    ({"action": "find_text", "target": "total"}, ["resolved", "confidence", "element", "candidates"]),
    ({"action": "find_exact_text", "target": "Tot"}, ["resolved", "confidence", "element", "candidates"]),
    ({"action": "verify_disabled", "target": "Save"},
     ["resolved", "verified", "confidence", "element", "state", "candidates"]),
    ({"action": "verify_text_present", "target": "none"},
     ["resolved", "verified", "confidence", "element", "state", "candidates"]),
    ({"action": "verify_spatial_text", "target": "right of Total", "value": "$10"},
     ["resolved", "verified", "confidence", "element", "state", "candidates"]),
    ({"action": "extract_text_spatial", "target": "left of Total"},
     ["resolved", "confidence", "element", "extracted", "candidates"]),
    ({"action": "extract_text_spatial", "target": "near Total"},
     ["resolved", "confidence", "element", "extracted", "candidates"]),
]


@pytest.mark.parametrize("instr,keys", KEY_ORDER, ids=[i["action"] + ":" + i["target"] for i, _ in KEY_ORDER])
def test_result_keys_in_order(instr, keys):
    r = DOMStrategy().resolve(instr, DOM, TEXTS)
    assert list(r) == keys
    assert type(r["confidence"]) is float and r["confidence"] == (1.0 if r["resolved"] else 0.0)
    assert type(r["candidates"]) is list


def test_results_hold_the_callers_descriptors():
    s = DOMStrategy()
    r = s.resolve({"action": "click", "target": "Save"}, DOM)
    assert r["element"] is DOM[1] and r["candidates"][0] is DOM[1]
    r = s.resolve({"action": "find_exact_text", "target": "Total"}, DOM, TEXTS)
    assert r["element"] is TEXTS[1]
    assert [id(c) for c in r["candidates"]] == [id(TEXTS[1]), id(TEXTS[0]), id(TEXTS[1])]
    r = s.resolve({"action": "verify_spatial_text", "target": "right of Total", "value": "$10"}, DOM, TEXTS)
    assert r["element"] is TEXTS[2] and r["state"] == {"expected": "$10", "actual": "$10"}
    assert list(r["state"]) == ["expected", "actual"]
    r = s.resolve({"action": "verify_disabled", "target": "Save"}, DOM)
    assert r["verified"] is True and list(r["state"].items()) == [
        ("present", True), ("visible", True), ("enabled", False)]


def test_anchor_is_skipped_by_identity_not_by_equal_contents():
    anchor = span("Name", 0, 0, "/div[1]/span[1]")
    twin = dict(anchor)  # same contents, same box: not right of the anchor anyway
    right_twin = dict(anchor, bounding_box=box(100, 0, 40, 20), text="Name")
    s = DOMStrategy()
    # The anchor itself is skipped even when it stands twice in the list.
    r = s._resolve_verify_spatial_text("right of Name", "", [anchor, anchor, right_twin, twin])
    assert r["element"] is right_twin and r["candidates"] == [right_twin]
    # An anchor found among the interactable elements, shared with the text
    # list, is skipped there too.
    button = {"tag": "span", "text": "Go", "bounding_box": box(0, 100, 40, 20), "xpath": "/b[1]"}
    label = span("now", 50, 100, "/x[1]/y[1]/z[1]/w[1]/v[1]/u[1]/t[1]/s[1]/r[1]/q[1]/p[1]")
    r = s._resolve_verify_spatial_text("right of go", "now", [button, label], [button])
    assert r["resolved"] is True  # found by the whole text, no step limit
    r = s._resolve_verify_spatial_text("right of go", "now", [label], [button])
    assert r["element"] is label and r["verified"] is True


# ---- errors ----------------------------------------------------------------------


@pytest.mark.parametrize("call,exc,message", [
    (lambda s: s.resolve({"action": "click"}, None), TypeError,
     "Argument 'dom_elements' has incorrect type (expected list, got NoneType)"),
    (lambda s: s.resolve({"action": "click"}, ()), TypeError,
     "Argument 'dom_elements' has incorrect type (expected list, got tuple)"),
    (lambda s: s.resolve([], []), TypeError,
     "Argument 'parsed_instruction' has incorrect type (expected dict, got list)"),
    (lambda s: s.resolve({}, [], ()), TypeError,
     "Argument 'text_elements' has incorrect type (expected list, got tuple)"),
    (lambda s: s.resolve({"action": None}, []), TypeError, "Expected str, got NoneType"),
    (lambda s: s.resolve({"action": "click", "target": None}, []), TypeError,
     "Expected str, got NoneType"),
    (lambda s: s.resolve({"action": "find_text", "target": b"x"}, []), TypeError,
     "Expected str, got bytes"),
    (lambda s: s.resolve({"action": "verify_spatial_text", "target": "below A", "value": None}, []),
     TypeError, "Expected str, got NoneType"),
    (lambda s: s.resolve({"action": "click", "ordinal": "2"}, []), TypeError, "Expected int, got str"),
    (lambda s: s.resolve({"action": "click", "target": "a"}, ["a"]), TypeError,
     "Expected dict, got str"),
    (lambda s: s.resolve({"action": "find_text"}, [], [None]), TypeError,
     "Expected dict, got NoneType"),
    (lambda s: s.resolve({"action": "click", "target": "a"}, [{"text": 3}]), TypeError,
     "Expected str, got int"),
    (lambda s: s.resolve({"action": "click", "target": "a"}, [{"attributes": ["a"]}]), TypeError,
     "Expected dict, got list"),
    (lambda s: s.resolve({"action": "click", "target": "a"}, [{"attributes": {"class": 1}}]),
     TypeError, "Expected str, got int"),
    (lambda s: s.resolve({"action": "click", "target": "a"}, [{"text": "a", "is_visible": 1}]),
     TypeError, "Expected bool, got int"),
    (lambda s: s.resolve({"action": "click", "target": "a"},
                         [{"text": "a", "is_visible": True, "bounding_box": {"y": None}}]),
     TypeError, "Expected int or float, got NoneType"),
    (lambda s: s.resolve({"action": "type", "target": "a"}, [{"tag": ["input"]}]), TypeError,
     "Expected str, got list"),
    (lambda s: s._resolve_verify("verify_text_visible", "x", []), KeyError, "verify_text_visible"),
    (lambda s: s._resolve_verify_text("verify_visible", "x", []), KeyError, "verify_visible"),
    (lambda s: s._resolve_extract_spatial_text("below A", [], ordinal=True), TypeError,
     "Argument 'ordinal' has incorrect type (expected int, got bool)"),
    (lambda s: s._resolve_verify_spatial_text("below A", None, []), TypeError,
     "Argument 'expected' has incorrect type (expected str, got NoneType)"),
    (lambda s: tl._matches_element("a", {}, include_label=1), TypeError,
     "Argument 'include_label' has incorrect type (expected bool, got int)"),
    (lambda s: tl._searchable_strings([]), TypeError,
     "Argument 'element' has incorrect type (expected dict, got list)"),
    (lambda s: tl._filter_by_action("type", ({"tag": "input"},)), TypeError,
     "Argument 'elements' has incorrect type (expected list, got tuple)"),
])
def test_errors(call, exc, message):
    with pytest.raises(exc) as info:
        call(DOMStrategy())
    if exc is KeyError:
        assert info.value.args == (message,)
    else:
        assert str(info.value) == message


class Record(dict):
    pass


def test_a_dict_subclass_is_not_a_descriptor():
    with pytest.raises(TypeError, match="^Expected dict, got Record$"):
        DOMStrategy().resolve({"action": "click", "target": "a"}, [Record(text="a")])


@pytest.mark.parametrize("missing", ["x", "y", "width", "height"])
def test_spatial_box_without_a_coordinate_is_a_key_error(missing):
    anchor = span("Price", 0, 0, "/p[1]")
    other = span("$1", 60, 0, "/p[2]")
    del other["bounding_box"][missing]
    with pytest.raises(KeyError) as info:
        DOMStrategy().resolve({"action": "verify_spatial_text", "target": "right of Price",
                               "value": "1"}, [], [anchor, other])
    assert info.value.args == (missing,)


def test_values_no_step_reads_are_not_checked():
    # find_text reads only the texts of the text elements.
    odd = {"text": "Total", "is_visible": "yes", "attributes": 5, "bounding_box": []}
    r = DOMStrategy().resolve({"action": "find_text", "target": "tot"}, ["not a dict"], [odd])
    assert r["element"] is odd


def test_huge_ordinals_choose_the_ends():
    dom = [dict(DOM[0], text="Go", bounding_box=box(0, y)) for y in (30, 10, 20)]
    s = DOMStrategy()
    assert s.resolve({"action": "click", "target": "Go", "ordinal": 10**30}, dom)["element"] is dom[0]
    # Ordinals below 1 order by text length (all equal here); far below the
    # list they choose its first candidate.
    assert s.resolve({"action": "click", "target": "Go", "ordinal": -10**30}, dom)["element"] is dom[0]
    texts = [span("A", 0, 0, "/p[1]"), span("bb", 20, 0, "/p[2]"), span("cc", 40, 0, "/p[3]")]
    r = s._resolve_extract_spatial_text("right of A", texts, ordinal=-10**30)
    assert r["element"] is texts[1]
