"""The demo site and a loopback server for it.

``python -m quelvar_web.demo`` serves the site, runs the example suite against
it and prints where the HTML report is.
"""
from .server import SITE_DIR, DemoServer, serve

__all__ = ["SITE_DIR", "DemoServer", "serve"]
