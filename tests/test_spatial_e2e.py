"""From descriptor lists through build() and resolve() to the element a
person would point at: a shop page with products in a grid, and a form with
captions to the left of its fields."""
from __future__ import annotations

import pytest

from quelvar_web.engine.spatial.gridlocator import MatrixResolver
from quelvar_web.engine.spatial.layoutgrid import MatrixBuilder

PRODUCTS = ["Blue Backpack", "Red Shoes", "Green Hat", "Purple Scarf", "Black Belt", "White Socks"]


def box(x, y, w, h):
    return {"x": float(x), "y": float(y), "width": float(w), "height": float(h)}


def shop_page():
    """Two rows of three cards, 300 px apart; in each card a title and a
    price (text), an Add to cart button and a Details link below them."""
    dom, text, named = [], [], {}
    for i, name in enumerate(PRODUCTS):
        x, y = (i % 3) * 300, (i // 3) * 400
        card = f"/html[1]/body[1]/main[1]/div[{i + 1}]"
        text.append({"tag": "h3", "text": name, "has_direct_text": True, "attributes": {"class": "title"},
                     "bounding_box": box(x + 10, y + 10, 200, 24), "is_visible": True, "is_enabled": True,
                     "xpath": card + "/h3[1]"})
        text.append({"tag": "span", "text": f"${10 + i}.00", "has_direct_text": True,
                     "attributes": {"class": "price"}, "bounding_box": box(x + 10, y + 40, 80, 20),
                     "is_visible": True, "is_enabled": True, "xpath": card + "/span[1]"})
        named[f"add {name}"] = {
            "tag": "button", "text": "Add to cart", "attributes": {"data-testid": f"add-{i}"},
            "bounding_box": box(x + 10, y + 200, 120, 36), "is_visible": True, "is_enabled": True,
            "xpath": card + "/button[1]"}
        named[f"details {name}"] = {
            "tag": "a", "text": "Details", "attributes": {"href": f"/p/{i}"},
            "bounding_box": box(x + 140, y + 200, 100, 36), "is_visible": True, "is_enabled": True,
            "xpath": card + "/a[1]"}
        dom += [named[f"add {name}"], named[f"details {name}"]]
    return dom, text, named


FIELDS = ["First name", "Last name", "Email", "Password"]


def form_page(spacing=70):
    """Captions at the left, fields 20 px to their right, one row each; a
    country dropdown; Submit and Cancel under the fields."""
    dom, text, named = [], [], {}
    form = "/html[1]/body[1]/form[1]"
    for i, label in enumerate(FIELDS + ["Country"]):
        y = 50 + i * spacing
        text.append({"tag": "label", "text": label, "has_direct_text": True, "attributes": {},
                     "bounding_box": box(20, y + 2, 100, 20), "is_visible": True, "is_enabled": True,
                     "xpath": f"{form}/label[{i + 1}]"})
        if label == "Country":
            el = {"tag": "select", "text": "Choose", "attributes": {"name": "country", "_label": label}}
        else:
            el = {"tag": "input", "text": "",
                  "attributes": {"type": "password" if label == "Password" else "text",
                                 "name": label.lower().replace(" ", "_"), "_label": label}}
        el.update({"bounding_box": box(140, y, 200, 24), "is_visible": True, "is_enabled": True,
                   "xpath": f"{form}/{el['tag']}[{i + 1 if el['tag'] == 'input' else 1}]"})
        named[label] = el
        dom.append(el)
    for name, x in (("Submit", 140), ("Cancel", 260)):
        named[name] = {"tag": "button", "text": name, "attributes": {"type": "submit" if name == "Submit" else "button"},
                       "bounding_box": box(x, 50 + 5 * spacing, 100, 32), "is_visible": True, "is_enabled": True,
                       "xpath": f"{form}/button[{1 if name == 'Submit' else 2}]"}
        dom.append(named[name])
    return dom, text, named


SHOP_CASES = [
    ("add to cart near Blue Backpack", "add Blue Backpack"),
    ("Add to cart near red shoes", "add Red Shoes"),
    ("add to cart near White Socks", "add White Socks"),
    ("link below Green Hat", "details Green Hat"),
    ("button below Green Hat", "add Green Hat"),
    ("second button below Green Hat", "add White Socks"),
    ("link above Purple Scarf", "details Blue Backpack"),
    # Six exact "Add to cart" buttons: the first in reading order is the anchor.
    ("details next to add to cart", "details Blue Backpack"),
    ("link right of Blue Backpack", None),  # nothing interactable on the title row
    ("add to cart near Orange Cap", None),
    ("second add to cart", "add Red Shoes"),
    ("third link", "details Green Hat"),
    ("first button", "add Blue Backpack"),
    ("fifth button", "add Black Belt"),
    ("sixth link", None),  # no ordinal word for six: nothing to resolve
]

FORM_CASES = [
    ("input next to Email", "Email"),
    ("field right of Last name", "Last name"),
    ("the field next to password", "Password"),
    # Fields overlap the captions' column within the tolerance.
    ("input below First name", "Last name"),
    ("button below Country", "Submit"),
    ("button next to Submit", "Cancel"),
    ("button left of cancel", "Submit"),
    ("dropdown next to Country", "Country"),
    ("button next to Country", "Country"),  # no button there: the type filter is dropped
    ("input next to Phone", None),
    ("second field", "Last name"),
    ("first input", "First name"),
    ("4th input", "Password"),
    ("first select", "Country"),
    ("second button", "Cancel"),
]


@pytest.mark.parametrize("page, target, want", [
    *[("shop", t, w) for t, w in SHOP_CASES],
    *[("form", t, w) for t, w in FORM_CASES],
])
def test_targets_resolve_to_the_element(page, target, want):
    dom, text, named = shop_page() if page == "shop" else form_page()
    matrix = MatrixBuilder(dom, text).build()
    result = MatrixResolver(matrix).resolve({"action": "click", "target": target, "value": ""})
    if want is None:
        assert result == {"resolved": False, "confidence": 0.0, "element": None, "candidates": []}
        return
    assert result["resolved"] is True and result["confidence"] == 1.0
    assert result["element"] is named[want], result["element"]
    assert any(c is named[want] for c in result["candidates"])


def test_relaxed_result_reports_the_actual_type():
    dom, text, named = form_page()
    res = MatrixResolver(MatrixBuilder(dom, text).build()).resolve({"target": "button next to Country"})
    assert (res["type_relaxed"], res["actual_type"], res["anchor_text"]) == (True, "select", "Country")


def test_rows_closer_than_the_tolerance_share_a_row():
    # 26 px between rows is less than SPATIAL_TOLERANCE: the field of the
    # row above counts as on the caption's row and comes first in reading
    # order.
    dom, text, named = form_page(spacing=50)
    resolver = MatrixResolver(MatrixBuilder(dom, text).build())
    assert resolver.resolve({"target": "input next to Email"})["element"] is named["Last name"]
    assert resolver.resolve({"target": "input next to First name"})["element"] is named["First name"]


def test_near_keeps_every_add_to_cart_within_reach_best_first():
    dom, text, named = shop_page()
    res = MatrixResolver(MatrixBuilder(dom, text).build()).resolve({"target": "add to cart near Red Shoes"})
    # Only the card's own button is within 300 px of its title.
    assert [c["attributes"]["data-testid"] for c in res["candidates"]] == ["add-1"]
    assert res["anchor_text"] == "Red Shoes" and res["actual_type"] is None
