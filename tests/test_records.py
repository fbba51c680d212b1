"""The one Python<->record converter, seen through the test-only module
_probe: `roundtrip` converts in and straight back (identity), `rebuild`
copies every list and dict inside the engine (what the engine holds), `kind`
names the engine's kind, `same_record` tells whether two members became one
record, `text_value` reads a text where an algorithm would."""
from __future__ import annotations

import collections
import enum
import math

import pytest

from quelvar_web.engine import _probe


class MyDict(dict):
    pass


class MyList(list):
    pass


class MyStr(str):
    pass


class Colour(enum.IntEnum):
    RED = 1


@pytest.mark.parametrize("value, kind", [
    (None, "NoneType"), (True, "bool"), (False, "bool"), (0, "int"), (1, "int"),
    (2**63, "int"), (-(2**200), "int"), (1.5, "float"), (math.nan, "float"), ("", "str"),
    ("\ud800", "str"), ([], "list"), ({}, "dict"),
    ((1, 2), "tuple"), ({1}, "set"), (b"x", "bytes"), (MyDict(), "MyDict"), (MyList(), "MyList"),
    (MyStr("a"), "MyStr"), (Colour.RED, "Colour"),
    # C types carry their module in the name, as in CPython's own messages.
    (collections.OrderedDict(), "collections.OrderedDict"),
    (object(), "object"),
])
def test_kinds_are_exact_and_named_as_python_names_them(value, kind):
    assert _probe.kind(value) == kind


@pytest.mark.parametrize("value", [
    None, True, False, 0, -1, 2**63 - 1, -(2**63), 2**63, -(2**63) - 1, 10**40, -(10**400),
    0.1, -0.0, math.inf, "", "plain", "caf\u00e9 \U0001f600", "\ud800\udfff", "a\x00b",
])
def test_scalars_survive_a_copy_through_the_engine(value):
    got = _probe.rebuild(value)
    assert type(got) is type(value) and got == value
    if isinstance(value, float):
        assert math.copysign(1, got) == math.copysign(1, value)


def test_nan_survives():
    assert math.isnan(_probe.rebuild(math.nan))


def test_bool_and_int_stay_apart_inside_containers():
    got = _probe.rebuild([True, 1, False, 0, {"b": True, "i": 1}])
    assert [type(x) for x in got[:4]] == [bool, int, bool, int]
    assert type(got[4]["b"]) is bool and type(got[4]["i"]) is int


def test_records_keep_key_order():
    keys = ["zeta", "alpha", "", "mid", "\u00e9", "A"]
    d = {k: i for i, k in enumerate(keys)}
    got = _probe.rebuild(d)
    assert got is not d and list(got.items()) == list(d.items())


def test_nested_containers_copy_with_contents():
    value = {"list": [1, [2, {"x": None}]], "rec": {"a": "b"}, "empty": {}, "none": None}
    got = _probe.rebuild(value)
    assert got == value
    assert got["list"] is not value["list"] and got["rec"] is not value["rec"]


def test_identity_back_to_python():
    inner = {"k": "v"}
    outer = [inner, [inner]]
    assert _probe.roundtrip(outer) is outer
    assert _probe.roundtrip(inner) is inner


def test_one_dict_passed_twice_is_one_record():
    d = {"a": 1}
    assert _probe.same_record([d, d]) is True
    assert _probe.same_record([d, dict(d)]) is False
    assert _probe.same_record([{}, {}]) is False
    # Equal is not the same: two equal dicts stay two records.
    assert _probe.same_record([{"a": 1}, {"a": 1}]) is False


@pytest.mark.parametrize("value", [
    (1, 2), MyDict(a=1), MyList([1]), MyStr("s"), Colour.RED, {1, 2}, b"x", object(),
])
def test_foreign_values_come_back_as_the_same_object(value):
    assert _probe.roundtrip(value) is value
    assert _probe.rebuild(value) is value
    # ... also from inside a container the engine rebuilt.
    assert _probe.rebuild([value])[0] is value
    assert _probe.rebuild({"v": value})["v"] is value


def test_tuples_and_subclasses_are_not_read_as_lists_or_dicts():
    t = ({"a": 1},)
    got = _probe.rebuild({"t": t, "d": MyDict(x=1)})
    assert got["t"] is t and type(got["d"]) is MyDict
    with pytest.raises(TypeError, match=r"^Argument 'pair' has incorrect type \(expected list, got tuple\)$"):
        _probe.same_record(({}, {}))
    with pytest.raises(TypeError, match=r"^Argument 'record' has incorrect type \(expected dict, got MyDict\)$"):
        _probe.text_value(MyDict(a="x"), "a")


def test_non_text_keys_are_invisible_to_the_engine():
    d = {1: "one", "two": 2, (3,): "three", MyStr("four"): 4, None: 5}
    assert _probe.roundtrip(d) is d
    assert _probe.rebuild(d) == {"two": 2}
    with pytest.raises(KeyError):
        _probe.text_value({1: "x"}, "1")


def test_reading_a_text_checks_the_kind():
    assert _probe.text_value({"a": "x"}, "a") == "x"
    with pytest.raises(TypeError, match=r"^Expected str, got int$"):
        _probe.text_value({"a": 1}, "a")
    with pytest.raises(TypeError, match=r"^Expected str, got NoneType$"):
        _probe.text_value({"a": None}, "a")
    with pytest.raises(TypeError, match=r"^Expected str, got MyStr$"):
        _probe.text_value({"a": MyStr("x")}, "a")
    with pytest.raises(KeyError) as e:
        _probe.text_value({"b": "x"}, "a\u00e9")
    assert e.value.args == ("a\u00e9",)
    with pytest.raises(TypeError, match=r"^Argument 'key' has incorrect type \(expected str, got NoneType\)$"):
        _probe.text_value({}, None)


def test_argument_kind_names_are_cut_to_200_characters():
    long_kind = type("K" * 300, (), {})
    with pytest.raises(TypeError) as e:
        _probe.text_value(long_kind(), "a")
    assert str(e.value) == f"Argument 'record' has incorrect type (expected dict, got {'K' * 200})"


def nested(depth, leaf=None, kind=list):
    value = leaf
    for _ in range(depth):
        value = [value] if kind is list else {"k": value}
    return value


@pytest.mark.parametrize("kind", [list, dict])
def test_nesting_up_to_200_levels_converts_and_deeper_is_refused(kind):
    ok = nested(200, "leaf", kind)
    assert _probe.rebuild(ok) == ok
    with pytest.raises(ValueError, match="nesting too deep: more than 200 levels"):
        _probe.rebuild(nested(201, "leaf", kind))
    with pytest.raises(ValueError, match="nesting too deep"):
        _probe.roundtrip(nested(100_000))


def test_self_containing_containers_do_not_crash():
    lst = []
    lst.append(lst)
    d = {}
    d["self"] = d
    mixed = {"l": [None]}
    mixed["l"][0] = mixed
    for value in (lst, d, mixed):
        assert _probe.roundtrip(value) is value
        assert _probe.kind(value) in ("list", "dict")
        with pytest.raises(ValueError, match="contains itself"):
            _probe.rebuild(value)
    # A shared but acyclic dict is no cycle.
    shared = {"x": 1}
    assert _probe.rebuild({"a": shared, "b": [shared]}) == {"a": shared, "b": [shared]}


def test_conversions_leave_their_input_unchanged():
    d = {"b": [1, {"c": 2}], "a": (3,)}
    before = repr(d)
    _probe.rebuild(d)
    _probe.roundtrip(d)
    assert repr(d) == before
