# float32 input gives float32 results; every other input gives float64 (the
# positions of move_argmin/move_argmax and the ranks of move_rank included).
from typing import overload

from numpy.typing import ArrayLike

from corvane._typing import Axis, F32Array, F64Array, Float32Like, Window

@overload
def move_sum(
    a: Float32Like, window: Window, min_count: Window | None = None, axis: Axis = -1
) -> F32Array: ...
@overload
def move_sum(
    a: ArrayLike, window: Window, min_count: Window | None = None, axis: Axis = -1
) -> F64Array: ...
@overload
def move_mean(
    a: Float32Like, window: Window, min_count: Window | None = None, axis: Axis = -1
) -> F32Array: ...
@overload
def move_mean(
    a: ArrayLike, window: Window, min_count: Window | None = None, axis: Axis = -1
) -> F64Array: ...
@overload
def move_std(
    a: Float32Like, window: Window, min_count: Window | None = None, axis: Axis = -1, ddof: int = 0
) -> F32Array: ...
@overload
def move_std(
    a: ArrayLike, window: Window, min_count: Window | None = None, axis: Axis = -1, ddof: int = 0
) -> F64Array: ...
@overload
def move_var(
    a: Float32Like, window: Window, min_count: Window | None = None, axis: Axis = -1, ddof: int = 0
) -> F32Array: ...
@overload
def move_var(
    a: ArrayLike, window: Window, min_count: Window | None = None, axis: Axis = -1, ddof: int = 0
) -> F64Array: ...
@overload
def move_min(
    a: Float32Like, window: Window, min_count: Window | None = None, axis: Axis = -1
) -> F32Array: ...
@overload
def move_min(
    a: ArrayLike, window: Window, min_count: Window | None = None, axis: Axis = -1
) -> F64Array: ...
@overload
def move_max(
    a: Float32Like, window: Window, min_count: Window | None = None, axis: Axis = -1
) -> F32Array: ...
@overload
def move_max(
    a: ArrayLike, window: Window, min_count: Window | None = None, axis: Axis = -1
) -> F64Array: ...
@overload
def move_argmin(
    a: Float32Like, window: Window, min_count: Window | None = None, axis: Axis = -1
) -> F32Array: ...
@overload
def move_argmin(
    a: ArrayLike, window: Window, min_count: Window | None = None, axis: Axis = -1
) -> F64Array: ...
@overload
def move_argmax(
    a: Float32Like, window: Window, min_count: Window | None = None, axis: Axis = -1
) -> F32Array: ...
@overload
def move_argmax(
    a: ArrayLike, window: Window, min_count: Window | None = None, axis: Axis = -1
) -> F64Array: ...
@overload
def move_median(
    a: Float32Like, window: Window, min_count: Window | None = None, axis: Axis = -1
) -> F32Array: ...
@overload
def move_median(
    a: ArrayLike, window: Window, min_count: Window | None = None, axis: Axis = -1
) -> F64Array: ...
@overload
def move_rank(
    a: Float32Like, window: Window, min_count: Window | None = None, axis: Axis = -1
) -> F32Array: ...
@overload
def move_rank(
    a: ArrayLike, window: Window, min_count: Window | None = None, axis: Axis = -1
) -> F64Array: ...
@overload
def move_quantile(
    a: Float32Like, window: Window, q: float, min_count: Window | None = None, axis: Axis = -1
) -> F32Array: ...
@overload
def move_quantile(
    a: ArrayLike, window: Window, q: float, min_count: Window | None = None, axis: Axis = -1
) -> F64Array: ...
@overload
def move_exp_nanmean(
    a: Float32Like, alpha: float, min_weight: float = 0, axis: Axis = -1
) -> F32Array: ...
@overload
def move_exp_nanmean(
    a: ArrayLike, alpha: float, min_weight: float = 0, axis: Axis = -1
) -> F64Array: ...
@overload
def move_exp_nansum(
    a: Float32Like, alpha: float, min_weight: float = 0, axis: Axis = -1
) -> F32Array: ...
@overload
def move_exp_nansum(
    a: ArrayLike, alpha: float, min_weight: float = 0, axis: Axis = -1
) -> F64Array: ...
@overload
def move_exp_nanvar(
    a: Float32Like, alpha: float, min_weight: float = 0, axis: Axis = -1
) -> F32Array: ...
@overload
def move_exp_nanvar(
    a: ArrayLike, alpha: float, min_weight: float = 0, axis: Axis = -1
) -> F64Array: ...
@overload
def move_exp_nanstd(
    a: Float32Like, alpha: float, min_weight: float = 0, axis: Axis = -1
) -> F32Array: ...
@overload
def move_exp_nanstd(
    a: ArrayLike, alpha: float, min_weight: float = 0, axis: Axis = -1
) -> F64Array: ...
@overload
def move_exp_nancount(
    a: Float32Like, alpha: float, min_weight: float = 0, axis: Axis = -1
) -> F32Array: ...
@overload
def move_exp_nancount(
    a: ArrayLike, alpha: float, min_weight: float = 0, axis: Axis = -1
) -> F64Array: ...
