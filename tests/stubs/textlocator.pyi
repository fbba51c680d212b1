"""
The level-1 text strategy: resolves step targets by text and attributes.
"""



class DOMStrategy:
    """Resolves a parsed instruction against a list of live DOM elements."""

    def __init__(self) -> None: ...

    def resolve(self, parsed_instruction: dict, dom_elements: list[dict], text_elements: list[dict] | None = None) -> dict: ...
