"""Contract of the spatial modules seen from Python: names, tables, key
order, kinds, identity of the caller's records, and the exact errors."""
from __future__ import annotations

import copy
import math

import pytest

from quelvar_web.engine.spatial import gridlocator as gl
from quelvar_web.engine.spatial import layoutgrid as lg
from quelvar_web.engine.strategies import relationlocator as rl

ENTRY_KEYS = ["index", "tag", "element_type", "text", "label", "searchable", "is_enabled",
              "is_anchor_only", "order_in_type", "position", "element"]
POSITION_KEYS = ["x", "y", "w", "h", "cx", "cy", "x2", "y2"]
FAILURE = {"resolved": False, "confidence": 0.0, "element": None, "candidates": []}


def control(tag, text, x, y, w=50, h=20, xpath="/html[1]/body[1]/div[1]", **attrs):
    return {"tag": tag, "text": text, "attributes": dict(attrs),
            "bounding_box": {"x": x, "y": y, "width": w, "height": h},
            "is_visible": True, "is_enabled": True, "xpath": xpath}


def caption(text, x, y, w=50, h=20, xpath="/html[1]/body[1]/span[1]"):
    return {"tag": "span", "text": text, "has_direct_text": True, "attributes": {},
            "bounding_box": {"x": x, "y": y, "width": w, "height": h},
            "is_visible": True, "is_enabled": True, "xpath": xpath}


@pytest.fixture
def row():
    """A caption with an input and two buttons to its right on one row."""
    dom = [control("input", "", 60, 0, 100, 20, _label="Name"),
           control("button", "Go", 200, 0), control("button", "Later", 300, 0)]
    text = [caption("Name", 0, 0)]
    return dom, text


# ---- tables and names ---------------------------------------------------------

def test_tables_are_python_objects_in_table_order():
    assert lg._TAG_TO_TYPE == {"a": "link", "button": "button", "input": "input",
                               "select": "select", "textarea": "input"}
    assert list(gl._RELATIONS.items()) == [
        ("next to", "next_to"), ("below", "below"), ("under", "below"), ("above", "above"),
        ("left of", "left"), ("right of", "right"), ("near", "near")]
    assert list(gl._ORDINALS.items()) == [
        ("first", 1), ("second", 2), ("third", 3), ("fourth", 4), ("fifth", 5),
        ("1st", 1), ("2nd", 2), ("3rd", 3), ("4th", 4), ("5th", 5)]
    assert list(gl._TYPE_KEYWORDS) == ["button", "btn", "link", "anchor", "input", "field",
                                       "textbox", "select", "dropdown"]
    assert gl._TYPE_KEYWORDS["dropdown"] == "select"
    for name, value in (("NEAR_MAX_PIXELS", 300), ("NEAR_MAX_DOM_STEPS", 10), ("SPATIAL_TOLERANCE", 40)):
        assert type(getattr(gl, name)) is int and getattr(gl, name) == value


def test_documented_descriptions():
    assert lg.MatrixBuilder.__doc__ == "Constructs a spatial matrix of DOM elements sorted in natural reading order."
    assert gl.__doc__ == "Resolves relational instructions against the spatial matrix."
    assert gl.MatrixResolver.__doc__ == "Finds elements using spatial relationships — proximity, direction, ordinal."
    assert rl.__doc__ == "Level 2 resolution strategy: uses the spatial matrix to resolve relational instructions."
    assert rl.SpatialStrategy.__doc__ == "Resolves instructions using spatial relationships between DOM elements."


def test_parameter_names_by_keyword(row):
    dom, text = row
    m = lg.MatrixBuilder(dom_elements=dom, text_elements=text).build()
    assert lg._element_type(element=dom[0]) == "input"
    assert lg._searchable(element=dom[0]) == "Name"
    assert lg._position(bounding_box={"x": 1})["x2"] == 1
    r = gl.MatrixResolver(matrix=m)
    assert r.resolve(parsed_instruction={"target": "first button"})["resolved"]
    assert r._find_anchor(anchor_text="name") is m[0]
    assert r._rank(candidates=m[1:], anchor=m[0], strategy="right", ordinal=None) == m[1:]
    assert r._resolve_ordinal(ordinal=1, type_filter="button", search_text=None)["element"] is dom[1]
    assert r._resolve_ordinal(1, None)["element"] is dom[0]
    assert gl._parse_target(target="x")[0] is None
    assert gl._normalize(text="Log-In") == "login"
    assert gl._dom_distance(xpath_a="/a", xpath_b="/b") == 2
    assert gl._centre_distance(a=m[0], b=m[0]) == 0.0
    assert gl._overlaps_vertically(a=m[0], b=m[1]) is True
    assert gl._overlaps_horizontally(a=m[0], b=m[3]) is False
    assert rl.SpatialStrategy().resolve(parsed_instruction={}, matrix={}, dom_candidates=[]) is None


# ---- the builder ------------------------------------------------------------------

def test_builder_keeps_the_callers_lists(row):
    dom, text = row
    b = lg.MatrixBuilder(dom, text)
    assert b.dom_elements is dom and b.text_elements is text
    for empty in (None, []):
        b = lg.MatrixBuilder(dom, empty)
        assert b.text_elements == [] and b.text_elements is not empty
    assert lg.MatrixBuilder(dom).text_elements == []
    with pytest.raises(AttributeError):
        b.dom_elements = []


def test_build_reads_the_lists_afresh_and_makes_new_records(row):
    dom, text = row
    b = lg.MatrixBuilder(dom, text)
    first = b.build()
    dom.append(control("a", "Late", 0, 500))
    second = b.build()
    assert len(first) == 4 and len(second) == 5
    assert second[-1]["element"] is dom[-1]
    assert first[0] is not second[0] and first[0]["position"] is not second[0]["position"]


def test_build_entries(row):
    dom, text = row
    before = copy.deepcopy((dom, text))
    m = lg.MatrixBuilder(dom, text).build()
    assert (dom, text) == before  # nothing changed
    assert [list(e) for e in m] == [ENTRY_KEYS] * 4
    assert all(list(e["position"]) == POSITION_KEYS for e in m)
    assert [e["element"] for e in m] == [text[0], *dom]
    assert all(e["element"] is d for e, d in zip(m, [text[0], *dom]))
    assert m[0]["is_anchor_only"] is True and m[0]["element_type"] == "text"
    assert m[1]["label"] == "Name" and m[1]["searchable"] == "Name"
    assert [e["index"] for e in m] == [0, 1, 2, 3]
    assert [e["order_in_type"] for e in m] == [1, 1, 1, 2]


def test_position_kinds():
    p = lg._position({"x": 10, "y": 20.0, "width": 5, "height": 7})
    assert p == {"x": 10, "y": 20.0, "w": 5, "h": 7, "cx": 12.5, "cy": 23.5, "x2": 15, "y2": 27.0}
    assert [type(p[k]) for k in POSITION_KEYS] == [int, float, int, int, float, float, int, float]
    assert type(lg._position({"x": 1, "width": 2})["cx"]) is float
    assert lg._position({}) == {"x": 0, "y": 0, "w": 0, "h": 0, "cx": 0.0, "cy": 0.0, "x2": 0, "y2": 0}


def test_build_sorts_numbers_by_value_and_survives_nan():
    dom = [control("a", "b", 0, 100.5), control("a", "a", 5, 100), control("a", "c", 0, 99.5),
           control("a", "nan", 0, math.nan)]
    m = lg.MatrixBuilder(dom).build()
    assert sorted(e["text"] for e in m) == ["a", "b", "c", "nan"]
    finite = [e["text"] for e in m if e["text"] != "nan"]
    assert finite == ["c", "a", "b"]


@pytest.mark.parametrize("call, message", [
    (lambda: lg.MatrixBuilder({}), "Argument 'dom_elements' has incorrect type (expected list, got dict)"),
    (lambda: lg.MatrixBuilder(None), "Argument 'dom_elements' has incorrect type (expected list, got NoneType)"),
    (lambda: lg.MatrixBuilder([], ()), "Argument 'text_elements' has incorrect type (expected list, got tuple)"),
    (lambda: lg._element_type([]), "Argument 'element' has incorrect type (expected dict, got list)"),
    (lambda: lg._position(None), "Argument 'bounding_box' has incorrect type (expected dict, got NoneType)"),
    (lambda: lg.MatrixBuilder([3]).build(), "Expected dict, got int"),
    (lambda: lg.MatrixBuilder([{"bounding_box": [1]}]).build(), "Expected dict, got list"),
    (lambda: lg.MatrixBuilder([{"text": None, "bounding_box": {"x": 1}}]).build(), "Expected str, got NoneType"),
    (lambda: lg._position({"x": "1"}), "Expected a number, got str"),
])
def test_builder_errors(call, message):
    with pytest.raises(TypeError) as e:
        call()
    assert str(e.value) == message


def test_builder_skips_boxless_descriptors():
    dom = [{"tag": "a"}, {"tag": "a", "bounding_box": None}, {"tag": "a", "bounding_box": {}},
           control("a", "kept", 0, 0)]
    m = lg.MatrixBuilder(dom, [caption("t", 0, 9)]).build()
    assert [(e["index"], e["text"]) for e in m] == [(0, "kept"), (1, "t")]


# ---- the resolver ---------------------------------------------------------------------

def test_resolver_keeps_the_matrix_and_reads_it_afresh(row):
    dom, text = row
    m = lg.MatrixBuilder(dom, text).build()
    r = gl.MatrixResolver(m)
    assert r.matrix is m
    assert r.resolve({"target": "third button"}) == FAILURE
    extra = control("button", "Third", 0, 900)
    m.extend(lg.MatrixBuilder([extra]).build())
    assert r.resolve({"target": "third button"})["element"] is extra


def test_results_hold_the_callers_records(row):
    dom, text = row
    m = lg.MatrixBuilder(dom, text).build()
    r = gl.MatrixResolver(m)
    res = r.resolve({"action": "click", "target": "button next to name"})
    assert list(res) == ["resolved", "confidence", "element", "anchor_text", "ordinal", "type_relaxed",
                         "actual_type", "candidates"]
    assert res["element"] is dom[1] and res["candidates"][0] is dom[1]
    assert res["anchor_text"] == "Name" and res["ordinal"] == 1 and res["actual_type"] == "button"
    assert type(res["confidence"]) is float
    ordinal = r.resolve({"target": "second button"})
    assert list(ordinal) == ["resolved", "confidence", "element", "candidates"]
    assert ordinal["element"] is dom[2] and all(a is b for a, b in zip(ordinal["candidates"], dom[1:]))
    assert r._find_anchor("NAME") is m[0]
    ranked = r._rank(m, m[0], "right", None)
    assert [e["text"] for e in ranked] == ["", "Go", "Later"] and all(e in m for e in ranked)
    assert ranked[1] is m[2]


def test_parse_target_is_a_six_tuple():
    assert gl._parse_target("Add to cart near Blue Backpack") == (
        "blue backpack", "near", None, None, None, "add to cart")
    assert gl._parse_target("second link below") == ("", "below", "link", 2, None, None)
    assert gl._parse_target("login") == (None,) * 6


def test_resolve_ordinal_kinds(row):
    dom, text = row
    r = gl.MatrixResolver(lg.MatrixBuilder(dom, text).build())
    assert r._resolve_ordinal(2.9, "button")["element"] is dom[2]  # truncated
    assert r._resolve_ordinal(1.0, None, "go")["element"] is dom[1]
    for bad in (0, -1, -0.5, 2**80, -2**80):
        assert r._resolve_ordinal(bad, None) == FAILURE
    with pytest.raises(ValueError):
        r._resolve_ordinal(math.nan, None)


class D(dict):
    pass


@pytest.mark.parametrize("call, kind, message", [
    (lambda r: gl.MatrixResolver({}), TypeError, "Argument 'matrix' has incorrect type (expected list, got dict)"),
    (lambda r: r.resolve([]), TypeError, "Argument 'parsed_instruction' has incorrect type (expected dict, got list)"),
    (lambda r: r.resolve(D(target="x")), TypeError,
     "Argument 'parsed_instruction' has incorrect type (expected dict, got D)"),
    (lambda r: r.resolve({"target": None}), TypeError,
     "Argument 'target' has incorrect type (expected str, got NoneType)"),
    (lambda r: r.resolve({"target": 5}), TypeError, "Expected str, got int"),
    (lambda r: gl._parse_target(None), TypeError, "Argument 'target' has incorrect type (expected str, got NoneType)"),
    (lambda r: r._find_anchor(1), TypeError, "Argument 'anchor_text' has incorrect type (expected str, got int)"),
    (lambda r: r._resolve_ordinal("2", None), TypeError,
     "Argument 'ordinal' has incorrect type (expected int, got str)"),
    (lambda r: r._resolve_ordinal(True, None), TypeError,
     "Argument 'ordinal' has incorrect type (expected int, got bool)"),
    (lambda r: r._resolve_ordinal(1, 5), TypeError,
     "Argument 'type_filter' has incorrect type (expected str, got int)"),
    (lambda r: r._resolve_ordinal(1, None, b"x"), TypeError,
     "Argument 'search_text' has incorrect type (expected str, got bytes)"),
    (lambda r: r._rank({}, {}, "near", None), TypeError,
     "Argument 'candidates' has incorrect type (expected list, got dict)"),
    (lambda r: r._rank([], [], "near", None), TypeError,
     "Argument 'anchor' has incorrect type (expected dict, got list)"),
    (lambda r: gl._dom_distance("/a", None), TypeError,
     "Argument 'xpath_b' has incorrect type (expected str, got NoneType)"),
    (lambda r: gl._centre_distance({}, 1), TypeError, "Argument 'b' has incorrect type (expected dict, got int)"),
])
def test_resolver_errors(row, call, kind, message):
    dom, text = row
    r = gl.MatrixResolver(lg.MatrixBuilder(dom, text).build())
    with pytest.raises(kind) as e:
        call(r)
    assert str(e.value) == message


def test_missing_target_and_malformed_matrices(row):
    dom, text = row
    assert gl.MatrixResolver([]).resolve({}) == FAILURE
    m = lg.MatrixBuilder(dom, text).build()
    del m[2]["position"]  # the first button: read by the ranking
    with pytest.raises(KeyError) as e:
        gl.MatrixResolver(m).resolve({"target": "button next to name"})
    assert e.value.args == ("position",)
    with pytest.raises(KeyError) as e:
        gl._overlaps_vertically({"position": {"y": 1}}, {"position": {}})
    assert e.value.args == ("y2",)
    for bad in ([1], [None], [{"element": 3}], [{"element": {"text": 3}}]):
        with pytest.raises(TypeError):
            gl.MatrixResolver(bad).resolve({"target": "button next to x"})
    with pytest.raises(TypeError):
        gl.MatrixResolver([{"position": {"x": "0"}}])._rank([{"position": {"x": "0"}}], {"position": {}}, "right", None)


def test_rank_ignores_unknown_strategies_and_ordinals_below_one(row):
    dom, text = row
    m = lg.MatrixBuilder(dom, text).build()
    r = gl.MatrixResolver(m)
    for strategy in (None, "sideways", "NEAR", 3):
        assert r._rank(m[1:], m[0], strategy, None) == []
    assert r._rank(m[1:], m[0], "right", 2) == [m[2]]
    assert r._rank(m[1:], m[0], "right", 2.5) == [m[2]]
    assert r._rank(m[1:], m[0], "right", 0) == []
    assert r._rank(m[1:], m[0], "right", -1) == []
    assert r._rank(m[1:], m[0], "next_to", None) == [m[1]]


# ---- the spatial strategy ----------------------------------------------------------------

def test_spatial_strategy_accepts_and_returns_none():
    s = rl.SpatialStrategy()
    pi, mx, cands = {"target": "x"}, {"rows": []}, [{"tag": "a"}]
    before = copy.deepcopy((pi, mx, cands))
    assert s.resolve(pi, mx, cands) is None
    assert (pi, mx, cands) == before
    assert s.resolve({}, {}, []) is None


@pytest.mark.parametrize("args, message", [
    (([], {}, []), "Argument 'parsed_instruction' has incorrect type (expected dict, got list)"),
    (({}, [], []), "Argument 'matrix' has incorrect type (expected dict, got list)"),
    (({}, [], {}), "Argument 'matrix' has incorrect type (expected dict, got list)"),
    (({}, {}, {}), "Argument 'dom_candidates' has incorrect type (expected list, got dict)"),
    (({}, D(), []), "Argument 'matrix' has incorrect type (expected dict, got D)"),
    (({}, {}, ()), "Argument 'dom_candidates' has incorrect type (expected list, got tuple)"),
    ((None, {}, []), "Argument 'parsed_instruction' has incorrect type (expected dict, got NoneType)"),
])
def test_spatial_strategy_kind_checks(args, message):
    with pytest.raises(TypeError) as e:
        rl.SpatialStrategy().resolve(*args)
    assert str(e.value) == message


def test_spatial_strategy_does_not_read_contents():
    # Nesting the converter would refuse is never looked at.
    deep = {}
    for _ in range(500):
        deep = {"d": deep}
    assert rl.SpatialStrategy().resolve(deep, deep, [deep]) is None
