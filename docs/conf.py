"""Sphinx configuration: the API pages come from the installed package's docstrings."""

import corvane

project = "corvane"
author = "the corvane developers"
copyright = "2026, the corvane developers"
version = release = corvane.__version__

extensions = ["sphinx.ext.autodoc", "numpydoc"]
# The docstrings open with the signature line; autodoc takes it from there.
autodoc_docstring_signature = True
autodoc_typehints = "none"
numpydoc_show_class_members = False
numpydoc_class_members_toctree = False

exclude_patterns = ["_build"]
html_theme = "alabaster"
html_static_path = ["_static"]
html_theme_options = {"description": "Fast NaN-aware functions over NumPy arrays"}
