"""A test that fails on purpose, to show what a failed step looks like in the
output and in the report (message, closest candidates, screenshot).

Not collected by default (its name does not start with test_); run it with
``python -m quelvar_web.demo --with-failure`` or ``pytest failing_example.py``.
"""


def test_checkout_button_that_does_not_exist(agent):
    agent.run("navigate shop.html")
    agent.run("click Add to cart near Blue Backpack")
    agent.run("click Checkout now")   # there is no such button on the page
