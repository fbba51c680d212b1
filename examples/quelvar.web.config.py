# Settings of the example suite. The demo runner (python -m quelvar_web.demo)
# and examples/conftest.py put the demo site's address in QUELVAR_DEMO_URL.
import os

URL = os.environ.get("QUELVAR_DEMO_URL")
SCREENSHOTS_ON_FAILURE = True
RESULT_DIR = "test_report"
