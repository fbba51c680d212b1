"""A quiet static-file server for the demo site, on a free loopback port."""
from __future__ import annotations

import functools
import threading
from http.server import SimpleHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path

SITE_DIR = Path(__file__).resolve().parent / "site"


class _QuietHandler(SimpleHTTPRequestHandler):
    def log_message(self, format, *args):  # keep test output clean
        pass

    def end_headers(self):
        # Every step must see the page as it is on disk now.
        self.send_header("Cache-Control", "no-store")
        super().end_headers()


class DemoServer:
    """Serves ``directory`` on 127.0.0.1 at a port the system picks.

    ``url`` is the base address, ending with "/". Use as a context manager, or
    call ``start()`` and ``stop()``."""

    def __init__(self, directory=SITE_DIR, host="127.0.0.1", port=0):
        handler = functools.partial(_QuietHandler, directory=str(directory))
        self._httpd = ThreadingHTTPServer((host, port), handler)
        self._httpd.daemon_threads = True
        self._thread = None
        self.host, self.port = self._httpd.server_address[:2]
        self.url = f"http://{self.host}:{self.port}/"

    def start(self):
        if self._thread is None:
            self._thread = threading.Thread(target=self._httpd.serve_forever,
                                            name="quelvar-demo-server", daemon=True)
            self._thread.start()
        return self

    def stop(self):
        if self._thread is not None:
            self._httpd.shutdown()
            self._thread.join()
            self._thread = None
        self._httpd.server_close()

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


def serve(directory=SITE_DIR):
    """Start a demo server and return it (call ``stop()`` when done)."""
    return DemoServer(directory).start()
