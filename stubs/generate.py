"""Writes the type stubs of vexa, vexa_io and vexa_linalg from the kinds and the
module functions' parameter lists, and that of vexa_dask, as stub-only packages
(vexa-stubs, vexa_io-stubs, vexa_linalg-stubs, vexa_dask-stubs) that mypy and
pyright both find for top-level modules. Its table of kinds is the one that the tests and
benchmarks read too.

    python stubs/generate.py           # rewrite the stubs
    python stubs/generate.py --check   # fail when the committed stubs are stale
"""

import argparse
import sys
from pathlib import Path
from typing import NamedTuple

HERE = Path(__file__).resolve().parent
CONTAINERS = ("vec", "view", "mat")


class Kind(NamedTuple):
    """A scalar kind: its letter, numpy's name of its element type, the Python type of its values
    and the letter of the real kind of its precision."""

    letter: str
    dtype: str
    scalar: str
    real: str

    @property
    def classes(self):
        """Its class names, in registration order."""
        return tuple(prefix + self.letter for prefix in CONTAINERS)

    @property
    def is_complex(self):
        return self.scalar == "complex"


# The kinds in registration order, by letter.
KINDS = {
    kind.letter: kind
    for kind in (
        Kind("s", "float32", "float", "s"),
        Kind("d", "float64", "float", "d"),
        Kind("c", "complex64", "complex", "s"),
        Kind("z", "complex128", "complex", "d"),
    )
}

# Each function's parameters and result by role: s a scalar of the kind, m
# its matrix class, a any of its classes, o any of its classes that the call
# returns as it was passed.
FUNCTIONS = {
    "scale": "a:s x:o -> o",
    "sum": "x:a y:o -> o",
    "dot": "x:a y:a -> s",
    "copy": "x:a y:o -> o",
    "swap": "x:a y:a -> None",
    "axpy": "a:s x:a y:o -> o",
    "matvec": "A:m x:a y:o -> o",
    "gemv": "a:s b:s A:m x:a y:o -> o",
    "ls": "A:m x:a -> None",
    "gemm": "a:s b:s A:m X:m Y:m -> m",
    "matmul": "A:m X:m Y:m -> m",
    "hdot": "x:a y:a -> s",
}
COMPLEX_ONLY = {"hdot"}

# vexa_linalg's functions, by the roles above and these: r a real number (a
# float), i an int, v the kind's view class, w its vector or view class, and
# the one-letter options t (trans), k (syrk's trans: no "C" for complex
# kinds), h (herk's trans), q (ormqr's trans: no "T" for complex kinds), u
# (uplo), g (diag), e (side).
LINALG = {
    "gemv": "trans:t a:s b:s A:m x:a y:o -> o",
    "gemm": "transa:t transb:t a:s b:s A:m X:m Y:m -> m",
    "syrk": "uplo:u trans:k a:s b:s A:m C:m -> m",
    "herk": "uplo:u trans:h a:r b:r A:m C:m -> m",
    "ger": "a:s x:a y:a A:m -> m",
    "gerc": "a:s x:a y:a A:m -> m",
    "trsv": "uplo:u trans:t diag:g A:m x:o -> o",
    "trsm": "side:e uplo:u trans:t diag:g a:s A:m B:m -> m",
    "nrm2": "x:a -> r",
    "asum": "x:a -> r",
    "iamax": "x:a -> i",
    "axpby": "a:s x:a b:s y:o -> o",
    "mul": "x:a y:o -> o",
    "scale_rows": "d:a A:m -> m",
    "scale_columns": "d:a A:m -> m",
    "column": "A:m j:i -> v",
    "columns": "A:m start:i stop:i -> m",
    "as_matrix": "x:w rows:i cols:i -> m",
    "geqrf": "A:m tau:o -> o",
    "ormqr": "side:e trans:q A:m tau:a C:o -> o",
    "gels": "A:m B:o -> o",
    # Solves by a factorization.
    "gesv": "A:m B:o -> o",
    "posv": "uplo:u A:m B:o -> o",
    "potrf": "uplo:u A:m -> m",
    "potrs": "uplo:u A:m B:o -> o",
}
LINALG_COMPLEX_ONLY = {"herk", "gerc"}
OPTIONS = {
    "_Trans": '"N", "T", "C"',
    "_SymmetricTrans": '"N", "T"',
    "_HermitianTrans": '"N", "C"',
    "_Uplo": '"U", "L"',
    "_Diag": '"N", "U"',
    "_Side": '"L", "R"',
}


def vector_methods(kind):
    scalar = KINDS[kind].scalar
    return [
        "    def numel(self) -> int: ...",
        "    def dim(self, idx: int, /) -> int: ...",
        "    @overload",
        f"    def __getitem__(self, idx: int, /) -> {scalar}: ...",
        "    @overload",
        f"    def __getitem__(self, idx: slice, /) -> view{kind}: ...",
        f"    def __setitem__(self, idx: int, value: {scalar}, /) -> None: ...",
    ]


def container_class(prefix, kind):
    scalar, cls = KINDS[kind].scalar, prefix + kind
    body = {
        "vec": ["    def __init__(self, n: int, /) -> None: ...", *vector_methods(kind)],
        # Views arise only from slicing; calling a view class raises TypeError.
        "view": [
            "    def __init__(self, *args: Never, **kwargs: Never) -> None: ...",
            *vector_methods(kind),
        ],
        "mat": [
            "    def __init__(self, rows: int, columns: int, /) -> None: ...",
            "    def dim(self, idx: int, /) -> int: ...",
            "    def numel(self) -> int: ...",
            f"    def __getitem__(self, idx: tuple[int, int], /) -> {scalar}: ...",
            f"    def __setitem__(self, idx: tuple[int, int], value: {scalar}, /) -> None: ...",
        ],
    }[prefix]
    return ["@final", f"class {cls}:", *body, ""]


def function(name, kind, table=FUNCTIONS):
    params, result = table[name].split(" -> ")
    roles = {"s": KINDS[kind].scalar, "m": f"mat{kind}", "a": f"_Any{kind}"}
    roles["o"] = f"_{kind.upper()}"
    roles |= {"None": "None", "r": "float", "i": "int", "v": f"view{kind}"}
    roles |= {"w": f"vec{kind} | view{kind}", "t": "_Trans", "h": "_HermitianTrans"}
    roles |= {"u": "_Uplo", "g": "_Diag", "e": "_Side"}
    roles["k"] = "_SymmetricTrans" if KINDS[kind].is_complex else "_Trans"
    roles["q"] = "_HermitianTrans" if KINDS[kind].is_complex else "_Trans"
    args = [f"{p}: {roles[role]}" for p, role in (p.split(":") for p in params.split())] + ["/"]
    return ["@overload", *wrapped(f"def {name}(", args, f") -> {roles[result]}: ...")]


def wrapped(opening, args, closing, width=100):
    """A signature as ruff formats it: on one line if it fits, else its parameters on one
    indented line, else one per line."""
    line = opening + ", ".join(args) + closing
    if len(line) <= width:
        return [line]
    middle = "    " + ", ".join(args)
    if len(middle) <= width:
        return [opening, middle, closing]
    return [opening, *(f"    {arg}," for arg in args), closing]


def kind_types(kind):
    """The union of a kind's classes and the type variable of its returned containers."""
    classes = ", ".join(KINDS[kind].classes)
    typevar = f"_{kind.upper()}"
    union = " | ".join(KINDS[kind].classes)
    return [f"_Any{kind} = {union}", f'{typevar} = TypeVar("{typevar}", {classes})']


def vexa_stub():
    lines = [
        '"""Dense linear algebra with BLAS-level control: in place, zero copy, explicit kinds."""',
        "",
        "# Generated by stubs/generate.py; edit that, not this.",
        "",
        "from typing import Never, TypeVar, final, overload",
        "",
    ]
    for kind in KINDS:
        for prefix in CONTAINERS:
            lines += container_class(prefix, kind)
    for kind in KINDS:
        lines += kind_types(kind)
    lines.append("")
    for name in FUNCTIONS:
        for kind in KINDS:
            if name not in COMPLEX_ONLY or KINDS[kind].is_complex:
                lines += function(name, kind)
    return "\n".join(lines) + "\n"


def conversion(name):
    """A function that makes a vector or a matrix from a buffer: of the class
    given, or of any."""
    return [
        "@overload",
        f"def {name}(obj: _Buffer, cls: None = None, /) -> _Made: ...",
        "@overload",
        f"def {name}(obj: _Buffer, cls: type[_M], /) -> _M: ...",
    ]


def vexa_io_stub():
    containers = [cls for kind in KINDS.values() for cls in kind.classes]
    made = [prefix + kind for prefix in ("vec", "mat") for kind in KINDS]
    return "\n".join(
        [
            '"""Bulk data exchange between vexa containers and any buffer."""',
            "",
            "# Generated by stubs/generate.py; edit that, not this.",
            "",
            "import sys",
            "from typing import Any, Protocol, TypeAlias, TypeVar, overload",
            "",
            "from typing_extensions import Buffer",
            f"from vexa import {', '.join(sorted(containers))}",
            "",
            "if sys.version_info >= (3, 12):",
            "    _Buffer: TypeAlias = Buffer",
            "else:",
            "    # numpy's stubs declare arrays buffers (PEP 688) from Python 3.12 on.",
            "    class _ArrayInterface(Protocol):",
            "        @property",
            "        def __array_interface__(self) -> dict[str, Any]: ...",
            "",
            "    _Buffer: TypeAlias = Buffer | _ArrayInterface",
            "",
            f"_Container = {' | '.join(containers)}",
            f"_Made = {' | '.join(made)}",
            f'_M = TypeVar("_M", {", ".join(made)})',
            "",
            "def asbuffer(c: _Container, /) -> memoryview: ...",
            *conversion("from_buffer"),
            *conversion("wrap"),
            "",
        ]
    )


def vexa_linalg_stub():
    containers = [cls for kind in KINDS.values() for cls in kind.classes]
    lines = [
        '"""Further BLAS operations over vexa\'s containers: transposed products, rank updates,',
        "triangular solves, norms, element-wise and diagonal scaling, column views, QR",
        'factorization and least squares."""',
        "",
        "# Generated by stubs/generate.py; edit that, not this.",
        "",
        "from typing import Literal, TypeVar, overload",
        "",
        f"from vexa import {', '.join(sorted(containers))}",
        "",
        *(f"{name} = Literal[{letters}]" for name, letters in OPTIONS.items()),
    ]
    for kind in KINDS:
        lines += kind_types(kind)
    lines.append("")
    for name in LINALG:
        for kind in KINDS:
            if name not in LINALG_COMPLEX_ONLY or KINDS[kind].is_complex:
                lines += function(name, kind, LINALG)
    return "\n".join(lines) + "\n"


def vexa_dask_stub():
    # A single-file module cannot carry py.typed, so its types come as stubs too.
    lines = [
        '"""Least squares on dask arrays chunked by rows."""',
        "",
        "# Generated by stubs/generate.py; edit that, not this.",
        "",
        "from typing import Any",
        "",
        "import numpy as np",
        "from dask.array import Array",
        "",
        '__all__ = ["lstsq"]',
        "",
        "def lstsq(A: Array, b: Array, /) -> tuple[np.ndarray[Any, Any], float]: ...",
    ]
    return "\n".join(lines) + "\n"


STUBS = {
    "vexa-stubs/__init__.pyi": vexa_stub,
    "vexa_io-stubs/__init__.pyi": vexa_io_stub,
    "vexa_linalg-stubs/__init__.pyi": vexa_linalg_stub,
    "vexa_dask-stubs/__init__.pyi": vexa_dask_stub,
}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true", help="only compare, write nothing")
    stale = []
    check = parser.parse_args().check
    for path, make in STUBS.items():
        target, text = HERE / path, make()
        if target.exists() and target.read_text() == text:
            continue
        stale.append(path)
        if not check:
            target.parent.mkdir(exist_ok=True)
            target.write_text(text)
    if check and stale:
        sys.exit(f"stale stubs: {', '.join(stale)}; run python stubs/generate.py")


if __name__ == "__main__":
    main()
