"""pytest plug-in of quelvar_web (loaded through the ``pytest11`` entry point)."""
