"""Serve the demo site, run the example suite against it, print the report path.

    python -m quelvar_web.demo [--with-failure] [--examples DIR] [--serve-only]
                               [pytest arguments after --]
"""
from __future__ import annotations

import argparse
import importlib.metadata
import os
import subprocess
import sys
from pathlib import Path

from .server import DemoServer


def find_examples(explicit=None):
    """The example suite: --examples, else ./examples, else the one next to
    this package in a source checkout."""
    candidates = [Path(explicit)] if explicit else [
        Path.cwd() / "examples",
        Path(__file__).resolve().parents[3] / "examples",
    ]
    for path in candidates:
        if (path / "quelvar.web.config.py").is_file():
            return path.resolve()
    raise SystemExit("example suite not found; pass --examples DIR "
                     f"(looked in: {', '.join(str(c) for c in candidates)})")


def plugin_args():
    """Load the plug-in by name when the package is not installed (a source
    tree on PYTHONPATH has no entry point)."""
    names = {e.value for e in importlib.metadata.entry_points(group="pytest11")}
    return [] if "quelvar_web.harness.fixtures" in names else ["-p", "quelvar_web.harness.fixtures"]


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python -m quelvar_web.demo", description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--examples", help="directory of the example suite")
    parser.add_argument("--with-failure", action="store_true",
                        help="also run the deliberately failing example")
    parser.add_argument("--serve-only", action="store_true",
                        help="only serve the site until interrupted")
    parser.add_argument("pytest_args", nargs="*", help="extra pytest arguments (after --)")
    args = parser.parse_args(argv)

    with DemoServer() as server:
        if args.serve_only:
            print(f"Demo site at {server.url}  (Ctrl+C to stop)", flush=True)
            try:
                import threading
                threading.Event().wait()
            except KeyboardInterrupt:
                return 0
        examples = find_examples(args.examples)
        report = examples / "test_report" / "report.html"
        targets = ["."]
        if args.with_failure:
            targets.append("failing_example.py")
        env = dict(os.environ, QUELVAR_DEMO_URL=server.url)
        src = str(Path(__file__).resolve().parents[2])
        env["PYTHONPATH"] = src + (os.pathsep + env["PYTHONPATH"] if env.get("PYTHONPATH") else "")
        cmd = [sys.executable, "-m", "pytest", *plugin_args(), "-q", *targets,
               "--quelvar-report", str(report), *args.pytest_args]
        print(f"Demo site at {server.url}", flush=True)
        print("Running:", " ".join(cmd), f"(in {examples})", flush=True)
        code = subprocess.call(cmd, cwd=examples, env=env)
    print(f"\nReport: {report}" if report.exists() else "\nNo report was written.")
    if not args.with_failure:
        print("To see what a failing step looks like: python -m quelvar_web.demo --with-failure")
    return code


if __name__ == "__main__":
    raise SystemExit(main())
