"""Shared fixtures: one headless Chromium per test session, a fresh page per
test. Only tests that ask for ``page`` or ``browser`` start the browser."""
from __future__ import annotations

import pytest

pytest_plugins = ["pytester"]


@pytest.fixture(scope="session")
def browser():
    from playwright.sync_api import sync_playwright

    from quelvar_web._chromium import launch_options

    with sync_playwright() as pw:
        b = pw.chromium.launch(**launch_options())
        try:
            yield b
        finally:
            b.close()


@pytest.fixture
def page(browser):
    ctx = browser.new_context(viewport={"width": 1280, "height": 800})
    p = ctx.new_page()
    try:
        yield p
    finally:
        ctx.close()
