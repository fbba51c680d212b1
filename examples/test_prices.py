"""Table of prices: values read by where they stand next to their captions."""


def test_prices_right_of_plan_names(agent):
    agent.run_all([
        "navigate prices.html",
        "verify text right of Basic is $10.00",
        "verify text right of Team is $60.00",
        "verify text next to Total due is $35.00",
    ])


def test_extract_the_price_below_a_header(agent):
    agent.run("navigate prices.html")
    assert agent.run("extract text below Yearly")["extracted"] == "$100.00"
    assert agent.run("extract second text below Monthly")["extracted"] == "$25.00"


def test_find_text_and_exact_text(agent):
    agent.run("navigate prices.html")
    found = agent.run("find text up to ten people")
    assert found["extracted"].startswith("Prices include VAT")
    assert agent.run("find exact text Team")["element"]["tag"] == "td"
    agent.run("verify text Plans and prices is present")
