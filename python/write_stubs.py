"""Writes kelvane/_operations.pyi, the types of the operations, from the host layer's table: for
each operation its keyword arguments, and what it returns for a path, a file object, bytes or a
Pillow Image. The build runs it (CMake for the build tree's package, setup.py for the wheel).

    python3 write_stubs.py <libtarnwick-kelvane-host.so.1> <output .pyi>
"""
import ctypes
import json
import sys

HEAD = '''# Written by python/write_stubs.py from the host layer's table: do not edit.
import os
from typing import IO, Any, Callable, Dict, List, Literal, Optional, Protocol, Tuple, Union, overload

class PillowImage(Protocol):
    """A Pillow Image (PIL.Image.Image), as far as the binding uses one."""
    mode: str
    size: Tuple[int, int]
    def save(self, fp: Any, format: Optional[str] = ..., **params: Any) -> None: ...
    def convert(self, mode: str) -> "PillowImage": ...

# An input path (bytes are a picture's bytes); an output path; a picture's bytes; a binary file.
PathIn = Union[str, "os.PathLike[str]", "os.PathLike[bytes]"]
PathOut = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
Bytes = Union[bytes, bytearray, memoryview]
Source = Union[PathIn, Bytes, IO[bytes]]
Format = Literal[{formats}]

OPERATIONS: Dict[str, Tuple[int, Callable[[Any, Any, List[int]], Any]]]
__all__ = [{names}]
'''

OPERATION = '''
@overload
def {name}(in_path: Union[Source, PillowImage], out_path: PathOut, *{keywords}) -> None:
    """{doc}"""
@overload
def {name}(in_path: Union[Source, PillowImage], out_path: IO[bytes], *{keywords},
           format: Optional[Format] = None) -> None: ...
@overload
def {name}(in_path: PillowImage, out_path: None = None, *{keywords},
           format: Optional[Format] = None) -> PillowImage: ...
@overload
def {name}(in_path: Source, out_path: None = None, *{keywords},
           format: Optional[Format] = None) -> bytes: ...
'''


def keywords(entry):
    options = []
    for parameter in entry["parameters"]:
        if options and options[-1][0] == parameter["option"]:
            options[-1][1].append(parameter)
        else:
            options.append((parameter["option"], [parameter]))
    text = ""
    for option, parameters in options:
        kind = "int" if len(parameters) == 1 else f"Tuple[{', '.join(['int'] * len(parameters))}]"
        text += f", {option}: {kind}" + ("" if parameters[0]["default"] is None else " = ...")
    return text


def main(library, output):
    host = ctypes.CDLL(library)
    host.kelvane_host_table.restype = ctypes.c_char_p
    table = json.loads(host.kelvane_host_table().decode("utf-8"))
    names = [entry["name"] for entry in table["operations"]]
    text = HEAD.format(formats=", ".join(f'"{f}"' for f in table["formats"]),
                       names=", ".join(f'"{n}"' for n in names + ["OPERATIONS"]))
    for entry in table["operations"]:
        text += OPERATION.format(name=entry["name"], keywords=keywords(entry),
                                 doc=entry["description"].replace('"', "'"))
    with open(output, "w", encoding="utf-8") as file:
        file.write(text)


if __name__ == "__main__":
    main(*sys.argv[1:])
