"""Checks of the numbers a model is given, at the call that takes them, so
that a mistake is reported where it was made rather than as a meaningless
run or an exception from deep inside the mesher."""

from __future__ import annotations

import math
import numbers


class ModelError(ValueError):
    """A structure that would not give a meaningful run; the message names the object."""


def number(value, what, *, low=None, above=None, high=None, hint="") -> float:
    """``value`` as a finite float; ``low`` <= value, ``above`` < value and
    value <= ``high`` where given.  ``what`` names the object and argument."""
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise ModelError(f"{what}: {value!r} is not a number{hint}")
    v = float(value)
    if not math.isfinite(v):
        raise ModelError(f"{what}: {v} is not a finite number{hint}")
    if low is not None and v < low:
        raise ModelError(f"{what}: {v:g} is below {low:g}{hint}")
    if above is not None and v <= above:
        raise ModelError(f"{what}: {v:g} must be above {above:g}{hint}")
    if high is not None and v > high:
        raise ModelError(f"{what}: {v:g} is above {high:g}{hint}")
    return v


def whole(value, what, low, high=None, hint="") -> int:
    """``value`` as an int in low..high (a float must be a whole number)."""
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise ModelError(f"{what}: {value!r} is not a whole number{hint}")
    v = float(value)
    if not math.isfinite(v) or v != int(v):
        raise ModelError(f"{what}: {value!r} is not a whole number{hint}")
    v = int(v)
    if v < low or (high is not None and v > high):
        span = f"{low} to {high}" if high is not None else f"at least {low}"
        raise ModelError(f"{what}: {v} is outside {span}{hint}")
    return v


def items(value, what, count=None) -> list:
    """A sequence as a list (``count`` entries when given)."""
    if isinstance(value, (str, bytes)) or not hasattr(value, "__iter__"):
        raise ModelError(f"{what}: {value!r} is not a list of numbers")
    out = list(value)
    if count is not None and len(out) != count:
        raise ModelError(f"{what}: needs {count} values, got {len(out)}")
    return out


def text(value, what, allow_slash=True) -> str:
    """A name that goes into the description: one line, not empty."""
    if not isinstance(value, str) or not value.strip():
        raise ModelError(f"{what}: {value!r} must be a non-empty text")
    if any(ord(ch) < 32 or 127 <= ord(ch) < 160 for ch in value):
        raise ModelError(f"{what}: {value!r} holds a line break or control character")
    if not allow_slash and "/" in value:
        raise ModelError(f"{what}: {value!r} must be a plain file name without folders")
    latin1(value, f"{what}: {value!r}")
    return value


def latin1(value, where) -> None:
    """The description is Latin-1 text: refuse what it cannot carry."""
    try:
        value.encode("latin-1")
    except UnicodeEncodeError:
        raise ModelError(f"{where} holds characters outside Latin-1, which the description "
                         "cannot carry") from None


def label(value, what) -> str:
    """A name that only messages and pictures show."""
    if not isinstance(value, str) or not value:
        raise ModelError(f"{what}: {value!r} must be a non-empty text")
    return value
