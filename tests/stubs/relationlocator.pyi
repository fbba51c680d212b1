"""
Level 2 resolution strategy: uses the spatial matrix to resolve relational instructions.
"""



class SpatialStrategy:
    """
    Resolves instructions using spatial relationships between DOM elements.
    """

    def __init__(self) -> None: ...

    def resolve(self, parsed_instruction: dict, matrix: dict, dom_candidates: list) -> dict | None:
        """
        Use the spatial matrix and DOM candidates to resolve a relational instruction.
        """
