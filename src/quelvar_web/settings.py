"""Settings of quelvar_web.

The page survey reads ``SAVE_SNAPSHOTS`` and ``LOG_PATH`` from this module
each time it would write a snapshot, so a change made at run time (a test
setting the attribute) takes effect at the next survey.

Each value comes from an environment variable when that is set:

- ``QUELVAR_SAVE_SNAPSHOTS``: one of 1/true/yes/on or 0/false/no/off (any
  case); anything else is refused at import, so a typo never silently turns
  snapshots off. Default: off.
- ``QUELVAR_LOG_PATH``: the directory that receives snapshot files. An
  empty value counts as unset. Default: ``data/logs/``.
"""
from __future__ import annotations

import os

_TRUE = {"1", "true", "yes", "on"}
_FALSE = {"0", "false", "no", "off"}


def _flag(name: str, default: bool) -> bool:
    raw = os.environ.get(name)
    if raw is None:
        return default
    word = raw.strip().lower()
    if word in _TRUE:
        return True
    if word in _FALSE:
        return False
    raise ValueError(f"{name} must be one of 1, true, yes, on, 0, false, no, off; got {raw!r}")


SAVE_SNAPSHOTS: bool = _flag("QUELVAR_SAVE_SNAPSHOTS", False)
LOG_PATH: str = os.environ.get("QUELVAR_LOG_PATH") or "data/logs/"
