"""
Constructs a spatial matrix of DOM elements sorted in natural reading order.
"""



class MatrixBuilder:
    """
    Constructs a spatial matrix of DOM elements sorted in natural reading order.
    """

    def __init__(self, dom_elements: list, text_elements: list | None = None) -> None:
        """Store interactable and optional text elements for matrix construction."""

    @property
    def dom_elements(self) -> list: ...

    @property
    def text_elements(self) -> list: ...

    def build(self) -> list:
        """Build and return the spatial matrix as a list sorted in reading order."""
