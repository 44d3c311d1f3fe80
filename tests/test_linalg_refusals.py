"""What vexa_linalg refuses, before it writes anything: option letters outside their sets, shapes
that do not agree, a written operand sharing elements with another, singular triangles, an empty
x for iamax, columns beyond the matrix, and calls that match no overload; and the functions the
module offers, with their parameters."""

import inspect

import pytest
import vexa_linalg as la
from helpers import KINDS, STUBS, TEXTS, Operand, fails, vexa_class


class Make:
    """Operands of one kind for a case, each remembered so that the test can check that the
    refused call left it alone."""

    def __init__(self, kind, rng):
        self.kind, self.rng, self.kept = kind, rng, []

    def _keep(self, operand):
        self.kept.append(operand)
        return operand.obj

    def m(self, rows, cols):
        return self._keep(Operand.random(self.rng, self.kind, "mat", (rows, cols)))

    def v(self, n, container="vec"):
        return self._keep(Operand.random(self.rng, self.kind, container, (n, 1)))

    def zero_at(self, n, i):
        """An n x n upper triangle whose diagonal element i (from 0) is zero."""
        flat = [(4 if r == c else 1) if r <= c else 0 for c in range(n) for r in range(n)]
        flat[i * (n + 1)] = 0
        return self._keep(Operand(self.kind, "mat", flat, (n, n)))


def case(name, args, message, error=RuntimeError, kinds=KINDS):
    """A refused call for each kind that has the overload: the function, its arguments made
    by a Make, and the message after "In NAME, " ("In " alone for a shape check's expression);
    {H} stands for H for complex kinds and for T for real ones, whose 'C' is 'T'."""
    text = "In " + (message if " expression " in message else f"{name}, {message}")
    return [
        pytest.param(kind, name, args, text.format(H="H" if kind in "cz" else "T"), error,
                     id=f"{kind}-{name}: {message[:40]}")
        for kind in kinds
    ]  # fmt: skip


def flag(name, args, message, kinds=KINDS):
    return case(name, args, message, ValueError, kinds)


def expression(name, text, first, second):
    return f"{name} expression {text}, {first}, doesn't match {second}"


CASES = [
    flag("gemv", lambda k: ("X", 1, 0, k.m(3, 3), k.v(3), k.v(3)), "trans must be 'N', 'T' or 'C'"),
    flag("gemv", lambda k: ("n", 1, 0, k.m(2, 3), k.v(2), k.v(4)), "trans must be 'N', 'T' or 'C'"),
    flag(
        "gemm",
        lambda k: ("N", "H", 1, 0, k.m(2, 2), k.m(2, 2), k.m(2, 2)),
        "transb must be 'N', 'T' or 'C'",
    ),
    flag("syrk", lambda k: ("X", "N", 1, 0, k.m(2, 2), k.m(2, 2)), "uplo must be 'U' or 'L'"),
    flag(
        "syrk",
        lambda k: ("U", "C", 1, 0, k.m(2, 2), k.m(2, 2)),
        "trans must be 'N' or 'T'",
        kinds="cz",
    ),
    flag(
        "herk",
        lambda k: ("U", "T", 1, 0, k.m(2, 2), k.m(2, 2)),
        "trans must be 'N' or 'C'",
        kinds="cz",
    ),
    flag("trsv", lambda k: ("U", "N", "X", k.m(2, 2), k.v(2)), "diag must be 'N' or 'U'"),
    flag(
        "trsm", lambda k: ("M", "U", "N", "N", 1, k.m(2, 2), k.m(2, 2)), "side must be 'L' or 'R'"
    ),
    case(
        "gemv",
        lambda k: ("T", 1, 0, k.m(3, 2), k.v(3), k.v(3, "view")),
        expression("gemv", "y = aA^Tx + by", "matrix A dimension 1: 2", "vector y dimension 0: 3"),
    ),
    case(
        "gemv",
        lambda k: ("C", 1, 0, k.m(3, 2), k.v(2), k.v(2)),
        expression(
            "gemv", "y = aA^{H}x + by", "matrix A dimension 0: 3", "vector x dimension 0: 2"
        ),
    ),
    case(
        "gemv",
        lambda k: ("N", 1, 0, k.m(3, 2), k.m(2, 0), k.v(3)),
        "vector x has 0 elements, fewer than the 2 that matrix A requires",
    ),
    case(
        "gemm",
        lambda k: ("T", "N", 1, 0, k.m(2, 3), k.m(3, 4), k.m(3, 4)),
        expression("gemm", "Y = aA^TX + bY", "matrix A dimension 0: 2", "matrix X dimension 0: 3"),
    ),
    case(
        "gemm",
        lambda k: ("N", "C", 1, 0, k.m(2, 3), k.m(3, 4), k.m(2, 4)),
        expression(
            "gemm", "Y = aAX^{H} + bY", "matrix X dimension 0: 3", "matrix Y dimension 1: 4"
        ),
    ),
    case(
        "syrk",
        lambda k: ("U", "N", 1, 0, k.m(3, 2), k.m(3, 2)),
        expression("syrk", "C = aAA^T + bC", "matrix C dimension 0: 3", "matrix C dimension 1: 2"),
    ),
    case(
        "syrk",
        lambda k: ("L", "T", 1, 0, k.m(3, 2), k.m(3, 3)),
        expression("syrk", "C = aA^TA + bC", "matrix A dimension 1: 2", "matrix C dimension 0: 3"),
    ),
    case(
        "herk",
        lambda k: ("U", "N", 1, 0, k.m(3, 2), k.m(2, 2)),
        expression("herk", "C = aAA^H + bC", "matrix A dimension 0: 3", "matrix C dimension 0: 2"),
        kinds="cz",
    ),
    case(
        "ger",
        lambda k: (1, k.v(2), k.v(2), k.m(3, 2)),
        expression("ger", "A = axy^T + A", "matrix A dimension 0: 3", "vector x dimension 0: 2"),
    ),
    case(
        "gerc",
        lambda k: (1, k.v(3), k.m(2, 0), k.m(3, 2)),
        "vector y has 0 elements, fewer than the 2 that matrix A requires",
        kinds="cz",
    ),
    case(
        "trsv",
        lambda k: ("U", "N", "N", k.m(3, 2), k.v(3)),
        expression("trsv", "x = A^-1x", "matrix A dimension 0: 3", "matrix A dimension 1: 2"),
    ),
    case(
        "trsv",
        lambda k: ("L", "T", "U", k.m(3, 3), k.v(2, "view")),
        expression("trsv", "x = A^-Tx", "matrix A dimension 0: 3", "vector x dimension 0: 2"),
    ),
    case(
        "trsm",
        lambda k: ("R", "U", "C", "N", 1, k.m(3, 3), k.m(3, 2)),
        expression("trsm", "B = aBA^-{H}", "matrix A dimension 0: 3", "matrix B dimension 1: 2"),
    ),
    case(
        "scale_rows",
        lambda k: (k.v(2), k.m(3, 4)),
        expression(
            "scale_rows", "A = diag(d)A", "matrix A dimension 0: 3", "vector d dimension 0: 2"
        ),
    ),
    case(
        "scale_columns",
        lambda k: (k.m(4, 0), k.m(3, 4)),
        "vector d has 0 elements, fewer than the 4 that matrix A requires",
    ),
    case(
        "axpby",
        lambda k: (1, k.v(6), 1, k.v(4, "view")),
        "vector y has 4 elements, fewer than the 6 of vector x",
    ),
    case(
        "mul",
        lambda k: (k.m(2, 3), k.v(4)),
        "vector y has 4 elements, fewer than the 6 of vector x",
    ),
    case("iamax", lambda k: (k.v(0, "view"),), "vector x is empty"),
    case("column", lambda k: (k.m(3, 4), 4), "index 4 exceeds max number of columns 4"),
    case("columns", lambda k: (k.m(3, 4), 1, 5), "index 5 exceeds max number of columns 4"),
    case(
        "as_matrix",
        lambda k: (k.v(6, "view"), 4, 2),
        "4 rows and 2 columns don't hold the 6 elements of vector x",
    ),
    case(
        "as_matrix",  # rows * columns wraps to 6 modulo 2**64
        lambda k: (k.v(6), 2**63 + 3, 2),
        "9223372036854775811 rows and 2 columns don't hold the 6 elements of vector x",
    ),
    case(
        "trsv",
        lambda k: ("U", "N", "N", k.zero_at(3, 1), k.v(3)),
        "matrix A is singular: A(2,2) is zero",
    ),
    case(
        "trsm",
        lambda k: ("L", "U", "T", "N", 1, k.zero_at(3, 2), k.m(3, 2)),
        "matrix A is singular: A(3,3) is zero",
    ),
]


@pytest.mark.parametrize("kind, name, args, message, error", [p for c in CASES for p in c])
def test_refused_before_anything_is_written(kind, name, args, message, error, route, rng):
    make = Make(kind, rng)
    fails(error, message, route.of(la, name), *args(make), keep=make.kept)


def shared(make, name):
    """Arguments of name whose written operand shares elements with another operand."""
    A, v = make.m(3, 3), make.v(6)
    return {
        "gemv": ("N", 1, 0, A, la.column(A, 0), la.column(A, 1)),
        "gemm": ("N", "N", 1, 0, la.columns(A, 0, 3), make.m(3, 2), la.columns(A, 1, 3)),
        "syrk": ("U", "T", 1, 0, la.columns(A, 0, 1), la.as_matrix(la.column(A, 0)[0:1], 1, 1)),
        "ger": (1, la.column(A, 2), make.v(3), A),
        "trsv": ("U", "N", "U", A, la.column(A, 1)),
        "trsm": ("L", "U", "N", "U", 1, A, la.columns(A, 2, 3)),
        "scale_rows": (la.column(A, 0), A),
        "mul": (v[0:4], v[2:6]),
        "axpby": (1, v[2:6], 1, v[0:4]),
    }[name]


OVERLAPS = [  # the function, its written operand, and the operand it shares elements with
    ("gemv", "vector y", "matrix A"),
    ("gemm", "matrix Y", "matrix A"),
    ("syrk", "matrix C", "matrix A"),
    ("ger", "matrix A", "vector x"),
    ("trsv", "vector x", "matrix A"),
    ("trsm", "matrix B", "matrix A"),
    ("scale_rows", "matrix A", "vector d"),
    ("mul", "vector y", "vector x"),
    ("axpby", "vector y", "vector x"),
]


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("name, written, other", OVERLAPS)
def test_written_operand_sharing_elements(name, written, other, kind, route, rng):
    make = Make(kind, rng)
    message = TEXTS["shares"].format(written, other, name=name)
    fails(RuntimeError, message, route.of(la, name), *shared(make, name), keep=make.kept)


def containers(prefix, kind, *shape):
    return vexa_class(prefix, kind)(*shape)


NO_OVERLOAD = {
    "complex coefficient of herk": lambda: la.herk(
        "U", "N", 1j, 0.0, containers("mat", "z", 2, 2), containers("mat", "z", 2, 2)
    ),
    "gerc of a real kind": lambda: la.gerc(
        1.0, containers("vec", "d", 2), containers("vec", "d", 2), containers("mat", "d", 2, 2)
    ),
    "mixed kinds": lambda: la.axpby(1.0, containers("vec", "s", 2), 1.0, containers("vec", "d", 2)),
    "vector as A": lambda: la.trsv(
        "U", "N", "N", containers("vec", "d", 4), containers("vec", "d", 2)
    ),
    "matrix into as_matrix": lambda: la.as_matrix(containers("mat", "d", 2, 2), 4, 1),
    "negative column": lambda: la.column(containers("mat", "d", 2, 2), -1),
    "keyword": lambda: la.nrm2(x=containers("vec", "d", 2)),
}


@pytest.mark.parametrize("call", NO_OVERLOAD.values(), ids=NO_OVERLOAD)
def test_calls_matching_no_overload(call):
    with pytest.raises(TypeError):
        call()


def test_functions_and_parameters_as_the_stubs_say():
    assert sorted(name for name in vars(la) if name[0] != "_") == sorted(STUBS.LINALG)
    for name, roles in STUBS.LINALG.items():
        function = getattr(la, name)
        parameters = inspect.signature(function).parameters.values()
        assert [p.name for p in parameters] == [p.split(":")[0] for p in roles.split()[:-2]]
        assert all(p.kind is p.POSITIONAL_ONLY for p in parameters)
        assert function.__doc__ == function.__self__.__doc__
