"""Moving between pages, and content that arrives late."""


def test_third_link_back_and_refresh(agent):
    agent.run("click the third link")          # layout: third link in reading order
    agent.run("verify text Plans and prices is visible")
    agent.run("back")
    agent.run("verify text Quelvar demo shop is visible")
    agent.run("refresh")
    agent.run("navigate prices.html")
    agent.run("verify text Plans and prices is visible")


def test_button_that_appears_late(agent):
    agent.run("navigate reports.html")
    agent.run("click Download report")         # rendered 1.5 s after the page loads
    agent.run("verify text Download started is visible")
    agent.run("wait 100")
    agent.run("verify text Download started is present")
