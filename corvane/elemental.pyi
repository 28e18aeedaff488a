from corvane._typing import ArrayT, Number

# Works in place and returns its argument.
def replace(a: ArrayT, old: Number, new: Number) -> ArrayT: ...
