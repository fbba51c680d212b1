"""Every Python-visible signature of the extension modules is pinned by a
checked-in reference stub, so a change to one shows in review.

To accept a deliberate change: python tests/test_stubs.py --update
"""
from __future__ import annotations

import importlib
import pathlib
import subprocess
import sys

import pytest

MODULES = [
    "quelvar_web.engine.agent.stepgrammar",
    "quelvar_web.engine.browser.pagesurvey",
    "quelvar_web.engine.spatial.layoutgrid",
    "quelvar_web.engine.spatial.gridlocator",
    "quelvar_web.engine.strategies.textlocator",
    "quelvar_web.engine.strategies.relationlocator",
]
STUBS = pathlib.Path(__file__).parent / "stubs"


def _generate(module: str, out: pathlib.Path) -> str:
    subprocess.run(
        [sys.executable, "-m", "nanobind.stubgen", "-q", "-m", module, "-o", str(out)],
        check=True,
    )
    return out.read_text()


def _built(module: str) -> bool:
    try:
        importlib.import_module(module)
    except ModuleNotFoundError as e:
        if e.name == module:
            return False
        raise
    return True


@pytest.mark.parametrize("package", sorted({m.rsplit(".", 1)[0] for m in MODULES}))
def test_package_paths_import(package):
    importlib.import_module(package)


@pytest.mark.parametrize("module", MODULES)
def test_stub_matches_reference(module, tmp_path):
    assert _built(module), f"{module} is not built"
    ref = STUBS / (module.rsplit(".", 1)[1] + ".pyi")
    assert ref.exists(), f"no reference stub {ref}; run python tests/test_stubs.py --update"
    assert _generate(module, tmp_path / "gen.pyi") == ref.read_text()


if __name__ == "__main__" and "--update" in sys.argv:
    for m in MODULES:
        if _built(m):
            _generate(m, STUBS / (m.rsplit(".", 1)[1] + ".pyi"))
            print("updated", m)
