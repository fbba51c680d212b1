"""The step language as Python sees it: names, kinds, key order, exact
messages and errors, and the quote scan held against Python's own ``re``.
The grammar's rule-by-rule cases live in cpp/tests/stepgrammar_test.cpp."""
from __future__ import annotations

import re
import threading

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from quelvar_web.engine.agent import stepgrammar as sg
from quelvar_web.engine.agent.stepgrammar import InstructionParser, _extract_ordinal

SUPPORTED = [
    "click", "type", "hover", "select", "press_key", "sendkeys", "extract_text",
    "extract_text_spatial", "find_text", "find_exact_text", "verify_present",
    "verify_visible", "verify_enabled", "verify_disabled", "verify_text_present",
    "verify_text_visible", "verify_spatial_text", "accept_dialog", "dismiss_dialog",
    "verify_dialog",
]
SUPPORTED_TAIL = ". Supported actions: " + repr(SUPPORTED)
UNKNOWN_TAIL = ". Expected one of: click, type, verify, hover, select, press, wait, find, extract, sendkeys."


@pytest.fixture(scope="module")
def parser():
    return InstructionParser()


# ---- names and kinds -----------------------------------------------------------

def test_tables_have_documented_kinds_and_order():
    assert type(sg.SUPPORTED_ACTIONS) is list and sg.SUPPORTED_ACTIONS == SUPPORTED
    assert type(sg._KNOWN_ACTIONS) is set and sg._KNOWN_ACTIONS == {
        "click", "type", "hover", "select", "press", "sendkeys", "wait", "verify", "find",
        "extract", "accept", "dismiss", "back", "refresh", "navigate"}
    assert type(sg._ORDINALS) is dict
    assert list(sg._ORDINALS.items()) == [
        ("first", 1), ("second", 2), ("third", 3), ("fourth", 4), ("fifth", 5)]
    assert all(type(v) is int for v in sg._ORDINALS.values())
    assert type(sg._SPATIAL_KW) is list and sg._SPATIAL_KW == [
        "next to ", "below ", "above ", "left of ", "right of ", "under ", "near "]
    assert type(sg._STOP_WORDS) is set and sg._STOP_WORDS == {
        "on", "the", "a", "an", "in", "at", "into"}
    assert type(sg._VERIFY_STATES) is dict and list(sg._VERIFY_STATES.items()) == [
        ("is present", "verify_present"), ("is visible", "verify_visible"),
        ("is enabled", "verify_enabled"), ("is disabled", "verify_disabled")]
    assert type(sg._VERIFY_TEXT_STATES) is dict and list(sg._VERIFY_TEXT_STATES.items()) == [
        ("is present", "verify_text_present"), ("is visible", "verify_text_visible")]


def test_quote_re_is_a_compiled_python_pattern_without_flags():
    assert isinstance(sg._QUOTE_RE, re.Pattern)
    assert sg._QUOTE_RE.pattern == '"([^"]+)"'
    assert sg._QUOTE_RE.flags == re.compile("x").flags


def test_helpers_are_static_and_ordinal_is_a_module_function(parser):
    assert InstructionParser._clean_target("the Save") == parser._clean_target("the Save") == "Save"
    assert InstructionParser._unquote('"a"') == parser._unquote('"a"') == ("a", ["a"])
    assert not hasattr(InstructionParser, "_extract_ordinal")
    with pytest.raises(TypeError):
        InstructionParser(1)


def test_keyword_parameter_names(parser):
    assert parser.parse(instruction="click Save")["target"] == "Save"
    assert parser.validate(instruction="clik") != []
    assert parser.validate_all(instructions=["clik"]).keys() == {1}
    assert InstructionParser._clean_target(target="a b") == "b"
    assert InstructionParser._unquote(instruction="x") == ("x", [])
    assert _extract_ordinal(text="third x") == (3, "x")


def test_multiple_results_are_tuples():
    unquoted = InstructionParser._unquote('type "a b" into "the field"')
    assert type(unquoted) is tuple and type(unquoted[1]) is list
    assert unquoted == ("type a b into the field", ["a b", "the field"])
    ordinal = _extract_ordinal("First")
    assert type(ordinal) is tuple and type(ordinal[0]) is int
    assert ordinal == (1, "")


# ---- parsed records ------------------------------------------------------------

@pytest.mark.parametrize("step, expected", [
    ("click the second Save button",
     {"action": "click", "target": "second Save button", "value": None, "ordinal": 1,
      "_literal_target": False}),
    ("extract third text below Price",
     {"action": "extract_text_spatial", "target": "below Price", "value": None, "ordinal": 3,
      "_literal_target": False}),
    ('type alice into "the Email field"',
     {"action": "type", "target": "the Email field", "value": "alice", "_literal_target": True}),
    ("accept dialog",
     {"action": "accept_dialog", "target": None, "value": None, "_literal_target": False}),
    ("verify text below Name is Hello",
     {"action": "verify_spatial_text", "target": "below Name", "value": "Hello",
      "_literal_target": False}),
    ('verify "Products" is present',
     {"action": "verify_present", "target": "Products", "value": None, "_literal_target": True}),
    ("wait 500", {"action": "wait", "target": "500", "value": None, "_literal_target": False}),
])
def test_parse_builds_records_with_keys_in_order(parser, step, expected):
    got = parser.parse(step)
    assert type(got) is dict
    assert list(got.items()) == list(expected.items())
    if "ordinal" in got:
        assert type(got["ordinal"]) is int
    assert type(got["_literal_target"]) is bool


def test_literal_test_is_case_sensitive(parser):
    assert parser.parse('type "Save" into save')["_literal_target"] is False
    assert parser.parse('type "save" into save')["_literal_target"] is True


def test_each_parse_builds_a_new_record(parser):
    a, b = parser.parse("click A"), parser.parse("click A")
    assert a == b and a is not b


@pytest.mark.parametrize("step", [
    "click a\x00b", "click \ud800 lone", "click \U0001f600 Smile", "type \u00e9t\u00e9 into \u0130stanbul",
])
def test_any_code_point_survives_into_the_record(parser, step):
    target = parser.parse(step)["target"]
    assert target in step


# ---- messages ----------------------------------------------------------------

@pytest.mark.parametrize("step", [
    "", "   ", "clik Save", "back", "refresh", "type alice", "select Red", "verify dialog",
    " don't\n", 'it\'s "both"', "\x7f\xa0\u2028\ud800\U000e0001", "accept the dialog",
])
def test_unrecognised_message_shows_the_step_as_passed(parser, step):
    with pytest.raises(ValueError) as e:
        parser.parse(step)
    assert str(e.value) == "Unrecognised instruction: " + repr(step) + SUPPORTED_TAIL


@pytest.mark.parametrize("step, issues", [
    ("  ", ["Instruction is empty."]),
    ('click Save"', ['Unbalanced quote \u2014 missing closing `"` in: ' + repr('click Save"')]),
    ("Clik Save", ["Unknown action 'clik'" + UNKNOWN_TAIL]),
    ('"click" Save', ["Unknown action " + repr('"click"') + UNKNOWN_TAIL]),
    ("type alice", ["`type` instruction missing `into` keyword. Expected: type <text> into <target>"]),
    ("type  into Email", ["`type` instruction missing text to type. Expected: type <text> into <target>"]),
    ("select Red", ["`select` instruction missing `from` keyword. Expected: select <value> from <target>"]),
    ("verify Login", ["`verify` instruction missing state. Expected ending: "
                      "is present | is visible | is enabled | is disabled"]),
    ("verify text near Name is Hello", ["`verify text` instruction missing state. Expected ending: "
                                        "is present | is visible"]),
    ("wait 1.5", ["`wait` value must be a number in milliseconds. Got: '1.5'"]),
    ("wait \"500\"", []),
    ("refresh", []),
])
def test_validate_messages(parser, step, issues):
    got = parser.validate(step)
    assert type(got) is list and got == issues


def test_validate_all_maps_step_numbers_in_order(parser):
    got = parser.validate_all(["click A", "clik B", "wait x", "wait 5", ""])
    assert type(got) is dict
    assert list(got.items()) == [
        (2, ["Unknown action 'clik'" + UNKNOWN_TAIL]),
        (3, ["`wait` value must be a number in milliseconds. Got: 'x'"]),
        (5, ["Instruction is empty."]),
    ]
    assert parser.validate_all([]) == {} and parser.validate_all(["click A"]) == {}


# Python 3.11 knows Unicode 14 and the engine's utf8proc a later version, so
# the characters assigned since print differently; leave them out.
assigned_text = st.text(alphabet=st.characters(blacklist_categories=("Cn",)))


@settings(deadline=None)
@given(assigned_text)
def test_messages_quote_like_repr(s):
    # A step that no rule reads, with any characters in it.
    step = "zz" + s
    with pytest.raises(ValueError) as e:
        InstructionParser().parse(step)
    assert str(e.value) == "Unrecognised instruction: " + repr(step) + SUPPORTED_TAIL
    # The engine lowers character by character: compare where that is what
    # Python does one character at a time.
    if s.count('"') % 2 == 0 and all(len(c.lower()) == 1 for c in step):
        word = "".join(c.lower() for c in step.split()[0])
        assert InstructionParser().validate(step) == ["Unknown action " + repr(word) + UNKNOWN_TAIL]


# ---- errors ------------------------------------------------------------------

@pytest.mark.parametrize("call, name, expected, got", [
    (lambda p: p.parse(5), "instruction", "str", "int"),
    (lambda p: p.parse(None), "instruction", "str", "NoneType"),
    (lambda p: p.parse(b"click A"), "instruction", "str", "bytes"),
    (lambda p: p.validate(["click A"]), "instruction", "str", "list"),
    (lambda p: p.validate_all("click A"), "instructions", "list", "str"),
    (lambda p: p.validate_all(("click A",)), "instructions", "list", "tuple"),
    # A bad member gets the message validate gives for that step.
    (lambda p: p.validate_all(["click A", 3]), "instruction", "str", "int"),
    (lambda p: p.validate_all([["click A"]]), "instruction", "str", "list"),
    (lambda p: p._clean_target(1.5), "target", "str", "float"),
    (lambda p: p._unquote(True), "instruction", "str", "bool"),
    (lambda p: _extract_ordinal({}), "text", "str", "dict"),
])
def test_wrong_kinds_raise_type_error(parser, call, name, expected, got):
    with pytest.raises(TypeError) as e:
        call(parser)
    assert str(e.value) == f"Argument '{name}' has incorrect type (expected {expected}, got {got})"


def test_str_subclass_is_not_str(parser):
    class Step(str):
        pass
    with pytest.raises(TypeError, match=r"expected str, got Step\)"):
        parser.parse(Step("click A"))


@pytest.mark.parametrize("call", [
    lambda p: p.parse("type into Email"),
    lambda p: p.parse("select from Colour"),
    lambda p: p.validate("type into Email"),
    lambda p: p.validate_all(["click A", "TYPE INTO Email"]),
])
def test_verb_followed_directly_by_its_keyword_is_value_error(parser, call):
    with pytest.raises(ValueError, match=r"^Cannot read '.*': `(type|select)` is followed directly by "):
        call(parser)
    assert parser.parse("click Save")["target"] == "Save"  # still usable


# ---- the quote scan is the regular expression ------------------------------------

quoteish = st.text(alphabet=st.sampled_from(['"', '"', '"', "a", "b", " ", "\n", "\u00e9", "\U0001f600"]))


@settings(max_examples=500, deadline=None)
@given(quoteish)
def test_unquote_matches_python_re(s):
    expected = (sg._QUOTE_RE.sub(r"\1", s), sg._QUOTE_RE.findall(s))
    assert InstructionParser._unquote(s) == expected


@pytest.mark.parametrize("s", ['""x"', '""', 'a""', '"""', '""""a"', 'x "a""b" y', '"\n"'])
def test_unquote_matches_python_re_on_empty_pairs(s):
    assert InstructionParser._unquote(s) == (sg._QUOTE_RE.sub(r"\1", s), sg._QUOTE_RE.findall(s))


# ---- threads ----------------------------------------------------------------

def test_parallel_calls_give_the_sequential_answers(parser):
    steps = ["click the second Save button", 'type "x" into the Email', "verify text below A is B",
             "wait 5", "clik"] * 200
    def answer(step):
        try:
            return parser.parse(step), parser.validate(step)
        except ValueError as e:
            return str(e), parser.validate(step)
    expected = [answer(s) for s in steps]
    results: dict[int, list] = {}
    def work(k):
        results[k] = [answer(s) for s in steps]
    threads = [threading.Thread(target=work, args=(k,)) for k in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert all(results[k] == expected for k in range(4))


# ---- no input breaks it ------------------------------------------------------------

words = st.sampled_from([
    "click", "type", "select", "into", "from", "extract", "text", "extract_text", "verify",
    "dialog", "says", "is", "present", "visible", "enabled", "find", "exact", "wait", "navigate",
    "sendkeys", "press", "hover", "second", "fifth", "the", "below", "next", "to", "near", '"',
    "'", "''", '""', "\t", "\u0130", "\ud800", "x",
])
steps = st.one_of(st.text(), st.lists(words, max_size=8).map(" ".join))


@settings(max_examples=1000, deadline=None)
@given(steps)
def test_any_step_gives_a_record_or_a_value_error(step):
    p = InstructionParser()
    try:
        got = p.parse(step)
    except ValueError as e:
        assert str(e).startswith(("Unrecognised instruction: ", "Cannot read "))
    else:
        assert got["action"] in SUPPORTED + ["navigate", "wait"]
        assert list(got)[:3] == ["action", "target", "value"] and list(got)[-1] == "_literal_target"
    try:
        issues = p.validate(step)
    except ValueError as e:
        assert str(e).startswith("Cannot read ")
    else:
        assert type(issues) is list and len(issues) <= 2
