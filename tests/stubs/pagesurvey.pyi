"""Survey of a live page: interactable and text element descriptors."""



INTERACTABLE_SELECTOR: str = ...

CAPTURED_ATTRIBUTES: list = ...

TEXT_SELECTOR: str = ...

class DOMParser:
    """
    Queries the page DOM and returns structured, interactable element descriptors.
    """

    def __init__(self, page: object | None) -> None: ...

    @property
    def page(self) -> object: ...

    @page.setter
    def page(self, arg: object, /) -> None: ...

    def extract_interactable_elements(self) -> tuple:
        """
        Return all visible, interactable elements (buttons, inputs, links, selects, textareas).
        """

    def extract_text_elements(self) -> list:
        """Return all visible elements that carry readable text content."""
