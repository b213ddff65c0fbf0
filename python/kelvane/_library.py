"""Finds and loads the two shared libraries: the library itself and, beside it, its host layer
(what a job is for every front end: operations, job lines, hints, warnings)."""
from __future__ import annotations

import ctypes
import ctypes.util
import importlib
import os
import sys
import threading
from typing import Any, Dict, Iterator, List, Optional, Tuple

if sys.platform == "win32":
    CORE_NAMES: Tuple[str, ...] = ("tarnwick-kelvane.dll",)
    HOST_NAMES: Tuple[str, ...] = ("tarnwick-kelvane-host.dll",)
elif sys.platform == "darwin":
    CORE_NAMES = ("libtarnwick-kelvane.1.dylib", "libtarnwick-kelvane.dylib")
    HOST_NAMES = ("libtarnwick-kelvane-host.1.dylib", "libtarnwick-kelvane-host.dylib")
else:
    CORE_NAMES = ("libtarnwick-kelvane.so.1", "libtarnwick-kelvane.so")
    HOST_NAMES = ("libtarnwick-kelvane-host.so.1", "libtarnwick-kelvane-host.so")

_c = ctypes
_text, _int, _size, _ints = _c.c_char_p, _c.c_int, _c.c_size_t, _c.POINTER(_c.c_int)
SIGNATURES: Dict[str, Tuple[List[Any], Any]] = {
    "kelvane_init": ([], _int),
    "kelvane_cleanup": ([], None),
    "kelvane_last_error": ([], _text),
    "kelvane_solid": ([_text] * 2 + [_int] * 4, _int),
    "kelvane_padding": ([_text] * 2 + [_int] * 4, _int),
    "kelvane_sides": ([_text] * 2 + [_int] * 7, _int),
    "kelvane_rounded": ([_text] * 2 + [_int], _int),
    "kelvane_shadow": ([_text] * 2 + [_int] * 6, _int),
}
HOST_SIGNATURES: Dict[str, Tuple[List[Any], Any]] = {
    "kelvane_host_table": ([], _text),
    "kelvane_host_run": ([_int, _text, _text, _ints, _text, _text, _c.c_char_p, _size], _int),
    "kelvane_host_hint": ([_text, _text, _text, _c.c_char_p, _size, _c.c_char_p, _size], _int),
    "kelvane_host_failure_kind": ([_text], _int),
    "kelvane_host_output_warning": ([_text, _c.c_char_p, _size], _int),
    "kelvane_host_input_warning": ([_text, _c.c_char_p, _size, _text, _c.c_char_p, _size], _int),
    "kelvane_host_new_jobs": ([], _c.c_void_p),
    "kelvane_host_add_line": ([_c.c_void_p, _c.c_char_p, _size], _int),
    "kelvane_host_add_words": ([_c.c_void_p, _c.POINTER(_text), _int], _int),
    "kelvane_host_free_jobs": ([_c.c_void_p], None),
    "kelvane_host_job_count": ([_c.c_void_p], _int),
    "kelvane_host_job": ([_c.c_void_p, _int, _ints], _c.c_void_p),
    "kelvane_host_problem_count": ([_c.c_void_p], _int),
    "kelvane_host_problem": ([_c.c_void_p, _int], _text),
}

lock = threading.Lock()  # the library keeps one message text for the whole process
_HERE = os.path.dirname(os.path.abspath(__file__))
_loaded: Optional[Tuple[ctypes.CDLL, ctypes.CDLL]] = None


def _recorded_folders() -> List[str]:
    """The folders the build or the installation recorded beside this module, if any."""
    try:  # not in the source tree: the build or the installation writes it
        where = importlib.import_module(__package__ + "._where")
    except ImportError:
        return []
    return [os.path.normpath(os.path.join(_HERE, folder)) for folder in where.LIBRARY_DIRS]


def _prefix_folders() -> List[str]:
    """lib, lib64 and lib/<multiarch> of each folder above this module: an installed prefix."""
    folder, found = _HERE, []
    multiarch = getattr(sys.implementation, "_multiarch", None)
    for _ in range(6):
        folder = os.path.dirname(folder)
        found += [os.path.join(folder, "lib"), os.path.join(folder, "lib64")]
        if multiarch:
            found.append(os.path.join(folder, "lib", multiarch))
    return found


def _candidates(path: Optional[str]) -> Iterator[str]:
    if path:
        yield path
        return
    if os.environ.get("KELVANE_LIBRARY"):
        yield os.environ["KELVANE_LIBRARY"]
    for folder in [_HERE] + _recorded_folders() + _prefix_folders():
        for name in CORE_NAMES:
            if os.path.exists(os.path.join(folder, name)):
                yield os.path.join(folder, name)
    found = ctypes.util.find_library("tarnwick-kelvane")
    if found:
        yield found
    yield from CORE_NAMES


Signatures = Dict[str, Tuple[List[Any], Any]]


def _typed(library: ctypes.CDLL, signatures: Signatures) -> ctypes.CDLL:
    for name, (arguments, result) in signatures.items():
        function = getattr(library, name)
        function.argtypes, function.restype = arguments, result
    return library


def _open(candidates: Iterator[str], names: Tuple[str, ...], what: str) -> ctypes.CDLL:
    tried = []
    for candidate in candidates:
        try:
            return ctypes.CDLL(candidate)
        except OSError as error:
            tried.append(f"{candidate} ({error})")
    raise OSError(f"cannot load {what} ({names[0]}); tried: " + "; ".join(tried) +
                  ". Set KELVANE_LIBRARY to the library's path.")


def load(path: Optional[str] = None) -> Tuple[ctypes.CDLL, ctypes.CDLL]:
    """Loads the library (at `path`, or where the package's text says it looks) and the host
    layer beside it; OSError naming every place tried when either cannot be loaded."""
    global _loaded
    core = _typed(_open(_candidates(path), CORE_NAMES, "the tarnwick-kelvane library"), SIGNATURES)
    folder = os.path.dirname(core._name) if os.path.isabs(core._name) else None
    beside = [os.path.join(folder, name) for name in HOST_NAMES] if folder else []
    host = _typed(_open(iter(beside + list(HOST_NAMES)), HOST_NAMES,
                        "the library's host layer"), HOST_SIGNATURES)
    _loaded = (core, host)
    return _loaded


def host() -> ctypes.CDLL:
    """The host layer, loaded on first use."""
    return (_loaded or load())[1]
