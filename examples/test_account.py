"""Confirmation dialogs: checked, accepted and dismissed by steps."""


def test_accept_the_confirmation(agent):
    # run_all looks ahead: the dialog that the click opens is accepted.
    agent.run_all([
        "navigate account.html",
        "click Delete account",
        "verify dialog says Delete your account?",
        "accept dialog",
        "verify text Account deleted is visible",
    ])


def test_dismiss_the_confirmation(agent):
    agent.run_all([
        "navigate account.html",
        "click Delete account",
        "dismiss dialog",
        "verify text Account kept is visible",
    ])


def test_alert_message(agent):
    agent.run("navigate account.html")
    agent.run("click Show notice")
    agent.run("verify dialog says Your trial ends in 3 days")
    agent.run("accept dialog")
    agent.run("verify text Notice shown is visible")
