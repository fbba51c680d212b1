"""Sign-in form: fields found by their label or their placeholder."""


def test_sign_in_with_label_and_placeholder(agent):
    agent.run_all([
        "click Sign in",                          # the link on the home page
        "type alice@example.com into Email",      # found by its <label>
        "type secret into Password",              # found by its placeholder
        "click the Sign in button",
        "verify text Signed in as alice@example.com is visible",  # shows up late
    ])


def test_sign_in_button_waits_for_both_fields(agent):
    agent.run("navigate signin.html")
    agent.run("verify the Sign in button is disabled")
    agent.run("type alice@example.com into Email")
    agent.run("verify Sign in is disabled")
    agent.run("type secret into Password")
    agent.run("verify Sign in is enabled")
