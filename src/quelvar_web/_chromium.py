"""Finding and launching the local Chromium.

Playwright's own browser download does not work everywhere we run, so the
browser is taken from QUELVAR_CHROMIUM when set, else ``chromium`` on PATH,
else Playwright's bundled build.
"""
from __future__ import annotations

import os
import shutil

LAUNCH_ARGS = [
    "--no-sandbox",
    "--disable-gpu",
    "--disable-quic",
    "--no-first-run",
    "--disable-background-networking",
    "--disable-component-update",
    "--disable-sync",
]


def find_chromium() -> str | None:
    """Path of the Chromium to launch, or None for Playwright's bundled one."""
    explicit = os.environ.get("QUELVAR_CHROMIUM")
    if explicit:
        return explicit
    return shutil.which("chromium")


def launch_options(headless: bool = True) -> dict:
    """Keyword arguments for ``playwright.chromium.launch``."""
    opts: dict = {"headless": headless, "args": list(LAUNCH_ARGS)}
    path = find_chromium()
    if path:
        opts["executable_path"] = path
    return opts
