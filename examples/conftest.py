"""Serve the demo site for the examples when nobody else does.

``python -m quelvar_web.demo`` starts the server itself and sets
QUELVAR_DEMO_URL; a plain ``pytest`` run in this directory gets one here.
pytest-xdist workers inherit the variable, so one server serves them all.
"""
import os

_server = None


def pytest_configure(config):
    global _server
    if not os.environ.get("QUELVAR_DEMO_URL"):
        from quelvar_web.demo import DemoServer

        _server = DemoServer().start()
        os.environ["QUELVAR_DEMO_URL"] = _server.url


def pytest_unconfigure(config):
    global _server
    if _server is not None:
        _server.stop()
        os.environ.pop("QUELVAR_DEMO_URL", None)
        _server = None
