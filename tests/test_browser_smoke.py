"""The real browser starts and renders: every page test rests on this."""
import pytest

pytestmark = pytest.mark.browser


def test_set_content_and_box(page):
    page.set_content('<button style="position:absolute;left:10px;top:20px;width:80px;height:30px">Go</button>')
    box = page.query_selector("button").bounding_box()
    assert box == {"x": 10, "y": 20, "width": 80, "height": 30}
    assert page.query_selector("button").inner_text() == "Go"
