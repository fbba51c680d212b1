"""Shop grid: several "Add to cart" buttons, told apart by what stands near them."""


def test_add_to_cart_near_a_product(agent):
    agent.run("navigate shop.html")
    agent.run("click Add to cart near Blue Backpack")
    agent.run("verify text Added Blue Backpack is visible")
    agent.run("click Add to cart near Green Tent")
    agent.run("verify text Added Green Tent is visible")
    assert agent._steps[1]["strategy"] == "spatial"


def test_second_add_to_cart_by_ordinal(agent):
    agent.run("navigate shop.html")
    agent.run("click second Add to cart")        # text strategy, second match top-down
    agent.run("verify text Added Red Water Bottle is visible")
    agent.run("click the third Add to cart")     # layout: third in reading order
    agent.run("verify text Added Green Tent is visible")


def test_extract_the_cart_count(agent):
    agent.run("navigate shop.html")
    agent.run("click Add to cart near Red Water Bottle")
    agent.run("click Add to cart near Red Water Bottle")
    record = agent.run("extract text from Cart")
    assert record["extracted"] == "Cart (2)"


def test_select_a_sort_order(agent):
    agent.run("navigate shop.html")
    agent.run("select Price: high to low from Sort by")
    agent.run("verify text Sorted by Price: high to low is visible")


def test_search_with_type_and_press(agent):
    agent.run("navigate shop.html")
    agent.run("type tent into Search products")
    agent.run("press Enter")
    agent.run("verify text 1 result for tent is visible")


def test_search_with_sendkeys(agent):
    agent.run("navigate shop.html")
    agent.run("click Search products")
    agent.run("sendkeys backpack")   # typed into the focused field
    agent.run("sendkeys Enter")      # a key name is pressed
    agent.run("verify text 1 result for backpack is visible")


def test_hover_shows_the_tooltip(agent):
    agent.run("navigate shop.html")
    agent.run("hover Shipping info")
    agent.run("verify text Free shipping on orders over $50 is visible")
