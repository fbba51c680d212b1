"""Every entry point of the six engine modules, public and private, fed
random values of every kind: None, bools, integers beyond 64 bits, NaN and
infinities, long and non-ASCII texts with lone surrogates, nested lists and
dicts, dict subclasses, tuples, sets and plain objects, mixed into
descriptors, instructions and matrices of the right shape so that the
fuzzing reaches past the argument checks.

The only outcomes allowed are a result, or a TypeError, ValueError or
KeyError that carries a message. The page-facing survey calls get a
simulated page whose every answer is drawn the same way, and may also fail
with that page's own error. No call may keep a reference to its arguments.
"""
from __future__ import annotations

import sys

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from quelvar_web.engine.agent import stepgrammar as sg
from quelvar_web.engine.browser import pagesurvey as ps
from quelvar_web.engine.spatial import gridlocator as gl
from quelvar_web.engine.spatial import layoutgrid as lg
from quelvar_web.engine.strategies import relationlocator as rl
from quelvar_web.engine.strategies import textlocator as tl

ALLOWED = (TypeError, ValueError, KeyError)
# Per test; the file as a whole stays well under a minute.
EXAMPLES = 15


class MyDict(dict):
    """A dict subclass, which the converter must take as a record or refuse."""


class Opaque:
    def __repr__(self):
        return "<opaque>"


WORDS = ["click ", "type ", " into ", "select ", " from ", "verify ", "the ", "second ", "5th ",
         "next to ", "below ", "left of ", "near ", "button", "link", "input", "Email", "Name",
         "Save", '"', "'", " ", "\n", "\t", "\u00a0", "\u0130", "\u00df", "\ud800", "\udfff",
         "\U0001F600", "\ufeff", "/html[1]/body[1]/div[2]", "[", "]", "-", "0"]

texts = st.one_of(
    st.lists(st.one_of(st.sampled_from(WORDS), st.characters(codec=None)), max_size=12).map("".join),
    st.text(max_size=20),
    st.sampled_from(["x" * 20_000, "\u00e9" * 5_000 + "\ud800", " " * 5000]),
)
numbers = st.one_of(
    st.integers(min_value=-50, max_value=1500),
    st.integers(),
    st.sampled_from([2**63, -2**63 - 1, 2**64, 10**30, -10**30]),
    st.floats(allow_nan=True, allow_infinity=True),
)
scalars = st.one_of(st.none(), st.booleans(), numbers, texts,
                    st.builds(Opaque), st.builds(object))
anything = st.recursive(
    scalars,
    lambda inner: st.one_of(
        st.lists(inner, max_size=4),
        st.dictionaries(texts, inner, max_size=4),
        st.dictionaries(texts, inner, max_size=3).map(MyDict),
        st.tuples(inner, inner),
        st.frozensets(st.integers(), max_size=3),
        st.dictionaries(st.integers(), inner, max_size=2),  # keys that are no strings
    ),
    max_leaves=12,
)


def sometimes(good):
    """Usually the well-formed value, now and then anything at all."""
    return st.one_of(good, good, good, anything)


boxes = st.fixed_dictionaries({"x": sometimes(numbers), "y": sometimes(numbers),
                               "width": sometimes(numbers), "height": sometimes(numbers)})
tags = st.sampled_from(["button", "input", "a", "select", "textarea", "div", "span", "label",
                        "td", "img", "h1", "p"])
attr_names = st.sampled_from(["id", "name", "type", "placeholder", "aria-label", "title", "role",
                              "class", "data-testid", "alt", "_label", "href", "value"])
descriptors = st.fixed_dictionaries(
    {"tag": sometimes(tags), "text": sometimes(texts)},
    optional={
        "attributes": sometimes(st.dictionaries(attr_names, sometimes(texts), max_size=4)),
        "bounding_box": st.one_of(st.none(), boxes, anything),
        "is_visible": sometimes(st.booleans()),
        "is_enabled": sometimes(st.booleans()),
        "has_direct_text": sometimes(st.booleans()),
        "is_editable_field": sometimes(st.booleans()),
        "xpath": sometimes(st.sampled_from(["/html[1]/body[1]/button[1]", "/html[1]/body[1]/div[2]/input[1]",
                                            "/html[1]"]) | texts),
    },
).flatmap(lambda d: st.sampled_from([d, MyDict(d)]))
descriptor_lists = st.one_of(st.lists(sometimes(descriptors), max_size=6), anything)
actions = st.sampled_from(sg.SUPPORTED_ACTIONS + ["navigate", "wait", "extract_text_spatial",
                                                  "verify_spatial_text", "find_text", ""])
instructions = st.one_of(
    st.fixed_dictionaries({"action": sometimes(actions), "target": sometimes(texts)},
                          optional={"value": sometimes(texts), "ordinal": sometimes(numbers),
                                    "_literal_target": sometimes(st.booleans())}),
    anything,
)


def build_matrix(ds):
    try:
        return lg.MatrixBuilder(ds, ds[:2]).build()
    except ALLOWED:
        return []


matrices = st.one_of(st.lists(descriptors, max_size=6).map(build_matrix), anything)


class PageGone(Exception):
    """The simulated page's own failure."""


class JunkPage:
    """Answers every call of the survey with the next drawn value; a drawn
    PageGone is raised instead. After a bounded number of calls the page is
    gone, so a survey cannot loop on it."""

    def __init__(self, answers, n_handles):
        self.answers = answers or [None]
        self.n_handles = n_handles
        self.calls = 0

    def next(self):
        self.calls += 1
        if self.calls > 2000:
            raise PageGone("too many calls")
        a = self.answers[self.calls % len(self.answers)]
        if a is PageGone:
            raise PageGone("detached")
        return a

    def query_selector_all(self, selector):
        a = self.next()
        return [JunkHandle(self) for _ in range(self.n_handles)] if a is None else a

    def query_selector(self, selector):
        a = self.next()
        return JunkHandle(self) if a is None else a

    def evaluate(self, script, *args):
        return self.next()

    @property
    def url(self):
        return self.next()

    def __getattr__(self, name):
        # Any other page call the survey may make (a batched script).
        if name.startswith("_"):
            raise AttributeError(name)
        return lambda *args, **kwargs: self.next()


class JunkHandle:
    def __init__(self, page):
        self._page = page

    def __getattr__(self, name):
        if name.startswith("_"):
            raise AttributeError(name)
        return lambda *args, **kwargs: self._page.next()


junk_pages = st.builds(JunkPage, st.lists(st.one_of(anything, st.just(PageGone)), max_size=8),
                       st.integers(0, 3))
handles = st.builds(lambda p: JunkHandle(p), junk_pages)

# Entry point name -> (call, strategies of its arguments, extra outcomes allowed).
P, S, B, M = sg.InstructionParser(), tl.DOMStrategy(), ps.DOMParser(None), rl.SpatialStrategy()
ENTRY_POINTS = {
    "stepgrammar.parse": (P.parse, [sometimes(texts)]),
    "stepgrammar.validate": (P.validate, [sometimes(texts)]),
    "stepgrammar.validate_all": (P.validate_all, [sometimes(st.lists(sometimes(texts), max_size=4))]),
    "stepgrammar._clean_target": (sg.InstructionParser._clean_target, [sometimes(texts)]),
    "stepgrammar._unquote": (sg.InstructionParser._unquote, [sometimes(texts)]),
    "stepgrammar._extract_ordinal": (sg._extract_ordinal, [sometimes(texts)]),
    "stepgrammar._noop": (sg._noop, [anything]),
    "textlocator.resolve": (S.resolve, [instructions, descriptor_lists, descriptor_lists]),
    "textlocator._resolve_extract_spatial_text": (
        S._resolve_extract_spatial_text, [sometimes(texts), descriptor_lists, descriptor_lists, sometimes(numbers)]),
    "textlocator._resolve_find_text": (S._resolve_find_text, [sometimes(texts), descriptor_lists]),
    "textlocator._resolve_find_exact_text": (S._resolve_find_exact_text, [sometimes(texts), descriptor_lists]),
    "textlocator._resolve_verify": (S._resolve_verify, [sometimes(actions), sometimes(texts), descriptor_lists]),
    "textlocator._resolve_verify_text": (
        S._resolve_verify_text, [sometimes(actions), sometimes(texts), descriptor_lists]),
    "textlocator._resolve_verify_spatial_text": (
        S._resolve_verify_spatial_text, [sometimes(texts), sometimes(texts), descriptor_lists, descriptor_lists]),
    "textlocator._dom_distance": (tl._dom_distance, [sometimes(texts), sometimes(texts)]),
    "textlocator._matches_element": (tl._matches_element, [sometimes(texts), sometimes(descriptors), anything]),
    "textlocator._exact_matches_element": (
        tl._exact_matches_element, [sometimes(texts), sometimes(descriptors), anything]),
    "textlocator._filter_by_action": (tl._filter_by_action, [sometimes(actions), descriptor_lists]),
    "textlocator._norm": (tl._norm, [sometimes(texts)]),
    "textlocator._searchable_strings": (tl._searchable_strings, [sometimes(descriptors), anything]),
    "textlocator._strip_type_descriptors": (tl._strip_type_descriptors, [sometimes(texts)]),
    "relationlocator.resolve": (M.resolve, [instructions, matrices, descriptor_lists]),
    "layoutgrid.build": (lambda d, t: lg.MatrixBuilder(d, t).build(), [descriptor_lists, descriptor_lists]),
    "layoutgrid._element_type": (lg._element_type, [sometimes(descriptors)]),
    "layoutgrid._position": (lg._position, [sometimes(boxes)]),
    "layoutgrid._searchable": (lg._searchable, [sometimes(descriptors)]),
    "gridlocator.resolve": (lambda m, p: gl.MatrixResolver(m).resolve(p), [matrices, instructions]),
    "gridlocator._find_anchor": (lambda m, t: gl.MatrixResolver(m)._find_anchor(t), [matrices, sometimes(texts)]),
    "gridlocator._rank": (
        lambda m, a, s, o: gl.MatrixResolver(m)._rank(m, a, s, o),
        [matrices, anything, sometimes(st.sampled_from(list(gl._RELATIONS.values()))), sometimes(numbers)]),
    "gridlocator._resolve_ordinal": (
        lambda m, o, f, t: gl.MatrixResolver(m)._resolve_ordinal(o, f, t),
        [matrices, sometimes(numbers), sometimes(st.sampled_from(["button", "link", "input"])), sometimes(texts)]),
    "gridlocator._centre_distance": (gl._centre_distance, [sometimes(boxes), sometimes(boxes)]),
    "gridlocator._overlaps_horizontally": (gl._overlaps_horizontally, [sometimes(boxes), sometimes(boxes)]),
    "gridlocator._overlaps_vertically": (gl._overlaps_vertically, [sometimes(boxes), sometimes(boxes)]),
    "gridlocator._dom_distance": (gl._dom_distance, [sometimes(texts), sometimes(texts)]),
    "gridlocator._normalize": (gl._normalize, [sometimes(texts)]),
    "gridlocator._parse_target": (gl._parse_target, [sometimes(texts)]),
    "pagesurvey._is_custom_input": (ps._is_custom_input, [sometimes(tags), sometimes(texts)]),
    "pagesurvey._dedup_text_elements": (ps.DOMParser._dedup_text_elements, [descriptor_lists]),
    "pagesurvey._assign_spatial_labels": (B._assign_spatial_labels, [descriptor_lists, anything]),
    "pagesurvey.DOMParser": (ps.DOMParser, [anything]),
}
PAGE_CALLS = ["extract_interactable_elements", "extract_text_elements", "_collect_label_candidates",
              "_extract_cursor_pointer_elements", "_extract_custom_inputs"]


def refcounts(args):
    # Only containers the test made itself: shared singletons and small ints
    # are referenced from everywhere.
    return [sys.getrefcount(a) for a in args if isinstance(a, (list, dict, Opaque))]


def outcome(call, args, also=()):
    """Run one call; return the error kind that came out, or None. Fails on
    any other error and on an error without a message."""
    try:
        call(*args)
    except ALLOWED as e:
        # A KeyError's message is the key, which may be an empty text.
        assert e.args if isinstance(e, KeyError) else str(e).strip(), f"{type(e).__name__} without a message"
        return type(e)
    except also:
        return also
    return None


@pytest.mark.parametrize("name", sorted(ENTRY_POINTS))
@settings(max_examples=EXAMPLES, deadline=None, suppress_health_check=list(HealthCheck))
@given(data=st.data())
def test_entry_point_gives_a_result_or_a_clear_error(name, data):
    call, arg_strategies = ENTRY_POINTS[name]
    args = [data.draw(s) for s in arg_strategies]
    # Reference counts are exact without a collection: the call creates no
    # cycle that holds the arguments (an exception's traceback is released
    # when `outcome` returns).
    before = refcounts(args)
    outcome(call, args)
    # A kept reference shows as a count above the one before the call.
    assert all(a <= b for a, b in zip(refcounts(args), before)), "the call kept a reference to an argument"


@pytest.mark.parametrize("method", PAGE_CALLS)
@settings(max_examples=EXAMPLES, deadline=None, suppress_health_check=list(HealthCheck))
@given(page=junk_pages)
def test_survey_of_a_junk_page_gives_a_result_or_an_error(method, page):
    parser = ps.DOMParser(page)
    outcome(getattr(parser, method), [], also=PageGone)


@settings(max_examples=EXAMPLES, deadline=None, suppress_health_check=list(HealthCheck))
@given(handle=handles)
def test_field_label_of_a_junk_handle(handle):
    outcome(ps.DOMParser(handle._page)._get_field_label, [handle], also=PageGone)


@settings(max_examples=EXAMPLES, deadline=None, suppress_health_check=list(HealthCheck))
@given(page=junk_pages, elements=descriptor_lists, text_elements=descriptor_lists)
def test_snapshot_of_anything(page, elements, text_elements, tmp_path_factory, monkeypatch_session):
    monkeypatch_session.setattr("quelvar_web.settings.LOG_PATH", str(tmp_path_factory.mktemp("snap")))
    outcome(ps.DOMParser(page)._save_snapshot, [elements, text_elements], also=PageGone)


@pytest.fixture(scope="module")
def monkeypatch_session():
    mp = pytest.MonkeyPatch()
    mp.setattr("quelvar_web.settings.SAVE_SNAPSHOTS", True)
    yield mp
    mp.undo()
