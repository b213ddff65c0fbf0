"""The operations, one function each, made from the host layer's table when the package is
imported: their names, keyword arguments, defaults and words are every front end's. Their types
are in _operations.pyi, which the build writes from the same table."""
from __future__ import annotations

import inspect
from typing import Any, Callable, Dict, List, Optional, Tuple

from . import _host
from ._job import Source, Target, run_numbers

__all__: List[str] = []
# The operations by name: how many numbers each takes, in the order the command line takes them,
# and the function that runs it with them: function(in_path, out_path, numbers).
OPERATIONS: Dict[str, Tuple[int, Callable[..., Any]]] = {}

_RETURNS = """

Returns None when written to `out_path`; without it, the result's bytes in `format`, or a Pillow
Image when `in_path` is one."""


def _options(entry: Dict[str, Any]) -> List[Tuple[str, List[Dict[str, Any]]]]:
    """The operation's keyword arguments in order, each with the numbers it gives."""
    options: List[Tuple[str, List[Dict[str, Any]]]] = []
    for parameter in entry["parameters"]:
        if options and options[-1][0] == parameter["option"]:
            options[-1][1].append(parameter)
        else:
            options.append((parameter["option"], [parameter]))
    return options


def _default(parameters: List[Dict[str, Any]]) -> Any:
    if parameters[0]["default"] is None:
        return inspect.Parameter.empty
    values = tuple(p["default"] for p in parameters)
    return values[0] if len(values) == 1 else values


def _make(index: int, entry: Dict[str, Any]) -> Callable[..., Any]:
    name, options = entry["name"], _options(entry)
    keys = [option for option, _ in options]

    def operation(in_path: Source, out_path: Target = None, *, format: Optional[str] = None,
                  **given: Any) -> Any:
        unknown = sorted(set(given) - set(keys))
        if unknown:
            raise TypeError(f"{name}() got an unexpected keyword argument {unknown[0]!r} "
                            f"(it takes {', '.join(keys)})")
        numbers: List[int] = []
        for option, parameters in options:
            value = given.get(option, _default(parameters))
            if value is inspect.Parameter.empty:
                raise TypeError(f"{name}() missing required keyword argument: {option!r}")
            numbers += _host_numbers(option, parameters, value)
        return run_numbers(index, in_path, out_path, numbers, format)

    operation.__name__ = operation.__qualname__ = name
    operation.__doc__ = entry["description"] + _RETURNS
    operation.__signature__ = inspect.Signature(  # type: ignore[attr-defined]
        [inspect.Parameter("in_path", inspect.Parameter.POSITIONAL_OR_KEYWORD),
         inspect.Parameter("out_path", inspect.Parameter.POSITIONAL_OR_KEYWORD, default=None)] +
        [inspect.Parameter(option, inspect.Parameter.KEYWORD_ONLY, default=_default(parameters))
         for option, parameters in options] +
        [inspect.Parameter("format", inspect.Parameter.KEYWORD_ONLY, default=None)])
    return operation


def _host_numbers(option: str, parameters: List[Dict[str, Any]], value: Any) -> List[int]:
    from ._job import check_int
    if len(parameters) == 1:
        return [check_int(option, value)]
    names = ", ".join(p["name"] for p in parameters)
    if isinstance(value, (str, bytes, dict, set)) or not hasattr(value, "__len__") or \
            len(value) != len(parameters):
        raise TypeError(f"{option} must be {len(parameters)} integers ({names}), not {value!r}")
    return [check_int(p["name"], v) for p, v in zip(parameters, value)]


def _runner(index: int) -> Callable[..., Any]:
    return lambda in_path, out_path, numbers: run_numbers(index, in_path, out_path,
                                                          list(numbers), None)


for _index, _entry in enumerate(_host.operations()):
    globals()[_entry["name"]] = _make(_index, _entry)
    __all__.append(_entry["name"])
    OPERATIONS[_entry["name"]] = (len(_entry["parameters"]), _runner(_index))
