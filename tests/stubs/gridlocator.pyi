"""Resolves relational instructions against the spatial matrix."""



NEAR_MAX_PIXELS: int = 300

NEAR_MAX_DOM_STEPS: int = 10

SPATIAL_TOLERANCE: int = 40

class MatrixResolver:
    """
    Finds elements using spatial relationships — proximity, direction, ordinal.
    """

    def __init__(self, matrix: list) -> None:
        """Store the pre-built spatial matrix."""

    @property
    def matrix(self) -> list: ...

    def resolve(self, parsed_instruction: dict) -> dict:
        """
        Resolve the target of a parsed instruction to one element of the matrix.
        """
