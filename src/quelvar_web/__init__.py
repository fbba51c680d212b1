"""quelvar_web: plain-English web testing.

``WebAgent`` is loaded on first use so that importing the package (as the
pytest plug-in does in every run) does not import Playwright.
"""
from __future__ import annotations

__all__ = ["WebAgent"]


def __getattr__(name):
    if name == "WebAgent":
        from .agent import WebAgent

        return WebAgent
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


def __dir__():
    return sorted(list(globals()) + __all__)
