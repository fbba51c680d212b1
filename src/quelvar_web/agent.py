"""The agent: runs plain-English steps in a real Chromium page."""
from __future__ import annotations

from ._chromium import launch_options


class WebAgent:
    """Starts headless Chromium through Playwright and opens ``url`` when given."""

    def __init__(self, url=None, screenshots=False, **options):
        from playwright.sync_api import sync_playwright

        self.screenshots = bool(screenshots)
        self.options = dict(options)
        self._steps = []
        self._pw = None
        self._browser = None
        self._context = None
        self.page = None
        self._closed = False
        self._pw = sync_playwright().start()
        try:
            self._browser = self._pw.chromium.launch(**launch_options())
            self._context = self._browser.new_context()
            self.page = self._context.new_page()
            if url:
                self.page.goto(url)
        except BaseException:
            self.close()
            raise

    def close(self):
        """Close the page, browser and Playwright; safe to call twice."""
        if self._closed:
            return
        self._closed = True
        for thing in (self._context, self._browser):
            if thing is not None:
                try:
                    thing.close()
                except Exception:
                    pass
        if self._pw is not None:
            self._pw.stop()
