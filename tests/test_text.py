"""The engine's text helpers held against Python's own str methods and repr:
over every code point, and on random strings.

Python 3.11 carries Unicode 14; the engine's utf8proc a later version. The
code points assigned since are unassigned (category Cn) to Python, so they
are left out of every comparison; the tests check that every disagreement
lies among them. Lower case is by character in the engine, so positions
carry over: it is compared where Python's lower gives one character, and
U+0130 (the only character whose full lower case is longer) maps to "i"."""
from __future__ import annotations

import sys
import unicodedata

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from quelvar_web.engine import _probe

SPACE, DIGIT, PRINTABLE = 1, 2, 4


@pytest.fixture(scope="module")
def all_classes():
    flags, lowers = _probe.classes(0, sys.maxunicode + 1)
    assert len(flags) == len(lowers) == sys.maxunicode + 1
    return flags, lowers


def assigned(cp: int) -> bool:
    return unicodedata.category(chr(cp)) != "Cn"


@pytest.mark.parametrize("flag, method", [
    (SPACE, str.isspace), (DIGIT, str.isdigit), (PRINTABLE, str.isprintable),
])
def test_character_classes_agree_with_python_on_every_assigned_code_point(all_classes, flag, method):
    flags, _ = all_classes
    differ = [cp for cp in range(sys.maxunicode + 1)
              if bool(flags[cp] & flag) != method(chr(cp))]
    assert [hex(cp) for cp in differ if assigned(cp)] == []


def test_lower_agrees_with_python_on_every_assigned_code_point(all_classes):
    _, lowers = all_classes
    differ = []
    for cp in range(sys.maxunicode + 1):
        py = chr(cp).lower()
        if len(py) != 1:
            differ.append(cp)
        elif ord(py) != lowers[cp] and assigned(cp):
            differ.append(cp)
    assert differ == [0x130]
    assert lowers[0x130] == ord("i")


def assigned_chunks(size=4096):
    cps = [cp for cp in range(sys.maxunicode + 1) if assigned(cp) and chr(cp) not in "'\""]
    return ["".join(map(chr, cps[i:i + size])) for i in range(0, len(cps), size)]


def test_quoted_form_is_repr_for_every_assigned_code_point():
    for chunk in assigned_chunks():
        assert _probe.quoted(chunk) == repr(chunk)


def test_split_and_strip_agree_with_python_for_every_assigned_code_point():
    for chunk in assigned_chunks(1024):
        joined = "x".join(chunk)
        assert _probe.split(joined) == joined.split()
        for c in chunk:
            assert _probe.strip(c + "y" + c) == (c + "y" + c).strip()


@pytest.mark.parametrize("s", [
    "", "'", '"', "'\"", "don't", 'say "hi"', "it's \"x\"", "\\", "a\\'b", "\t\n\r\x00\x1f\x7f",
    "\xa0\xad\u2028\u2029\u200b\ufeff", "\ud800\udc00\udfff", "\U000e0001\U0010ffff\uffff",
    "caf\u00e9 \U0001f600",
])
def test_quoted_form_edge_cases(s):
    assert _probe.quoted(s) == repr(s)


# ---- random strings ----------------------------------------------------------------

special = st.sampled_from(list(
    " \t\n\x0b\x0c\r\x1c\x1f\x85\xa0\u1680\u2000\u200b\u2028\u3000\ufeff"
    "\ud800\udfff'\"\\\u0130\u03a3\u00c9\U0001f600"))
text = st.text(alphabet=st.one_of(st.characters(blacklist_categories=("Cn",)), special))


def by_character_lower(s: str) -> str:
    return "".join("i" if c == "\u0130" else c.lower() for c in s)


@settings(max_examples=400, deadline=None)
@given(text)
def test_helpers_match_python_on_random_strings(s):
    assert _probe.lower(s) == by_character_lower(s)
    assert len(_probe.lower(s)) == len(s)
    assert _probe.strip(s) == s.strip()
    assert _probe.split(s) == s.split()
    assert _probe.quoted(s) == repr(s)


def test_lower_is_by_character_where_python_looks_at_context():
    # Python lowers a final capital sigma to the final form; by character it
    # is the ordinary small sigma, so the length and positions never change.
    assert "\u0391\u03a3".lower() == "\u03b1\u03c2"
    assert _probe.lower("\u0391\u03a3") == "\u03b1\u03c3"
    assert _probe.lower("\u0130stanbul") == "istanbul"


@pytest.mark.parametrize("call, name", [
    (lambda: _probe.lower(1), "s"), (lambda: _probe.strip(None), "s"),
    (lambda: _probe.split(b"x"), "s"), (lambda: _probe.quoted(["x"]), "s"),
])
def test_text_arguments_check_their_kind(call, name):
    with pytest.raises(TypeError, match=rf"^Argument '{name}' has incorrect type \(expected str, got "):
        call()
