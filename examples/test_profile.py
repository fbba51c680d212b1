"""A form drawn with div and span fields, captions to the left."""


def test_fill_div_fields_by_caption_and_by_layout(agent):
    agent.run("navigate profile.html")
    agent.run("type Ada into First name")                   # the caption is the field's label
    agent.run("type Lovelace into the field next to Last name")  # by layout
    agent.run("type London into City")
    agent.run("click Save profile")                         # a div with a pointer cursor
    agent.run("verify text Saved: Ada Lovelace, London is visible")
    strategies = [step["strategy"] for step in agent._steps[1:4]]
    assert strategies == ["text", "spatial", "text"]


def test_button_next_to_a_caption(agent):
    agent.run("navigate profile.html")
    agent.run("type SPRING into Coupon")
    agent.run("click the button next to Coupon")
    agent.run("verify text Coupon SPRING applied is visible")
