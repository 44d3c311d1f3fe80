"""Container classes: construction, extents, element access and conversion,
views sharing storage, slicing and the text rendering."""

import gc

import numpy as np
import pytest
import vexa
from helpers import (
    CLASS_NAMES,
    COMPLEX_KINDS,
    CONTAINERS,
    DTYPES,
    KINDS,
    REAL_KINDS,
    STUBS,
    TEXTS,
    Operand,
    fails,
    fill,
    read,
    vexa_class,
)

STEP, POSITION, DIM = TEXTS["step"], TEXTS["position"].format, TEXTS["dimension index"].format
HEAD = TEXTS["vector head"]
INF = float("inf")
# fmt: off
BOUNDS = [((3, 4), (0, 4), POSITION(12, 12)), ((3, 4), (3, 3), POSITION(12, 12)),
          ((0, 3), (0, 0), POSITION(0, 0)), ((3, 4), (5, 0), DIM(0, 5, 3)),
          ((3, 4), (3, 0), DIM(0, 3, 3)),
          ((2, 4), (0, 2**63), DIM(1, 2**63, 4))]  # column * rows wraps to 0
SLICES = [(slice(1, 3), [1, 2]), (slice(-3, -1), [2, 3]), (slice(1, 100), [1, 2, 3, 4]),
          (slice(None, None, 1), [0, 1, 2, 3, 4]), (slice(3, 1), []),
          (slice(0, 4, 2), (RuntimeError, STEP)), (slice(None, None, -1), (RuntimeError, STEP)),
          (slice(0, 4, 0), (ValueError, TEXTS["zero step"])),
          (slice(1.5, 3), (TypeError, None)), ("a", (TypeError, None))]
ELEMENT_TEXTS = [("z", 1 - 2j, "[(1.00000000000000e+00,-2.00000000000000e+00)]"),
                 ("s", 0.1, "[1.00000001490116e-01]"), ("d", -INF, "[          -inf]"),
                 ("c", complex(INF, INF), "[     (inf,inf)]")]
# columns shown per row, -1 standing for "..."
COLUMNS = [(0, []), (1, [0]), (4, [0, 1, 2, 3]), (5, [0, 1, 2, -1, 4])]
# fmt: on


def entry(kind, x):
    x = DTYPES[kind](x).item()
    return f"({x.real:.14e},{x.imag:.14e})" if kind in COMPLEX_KINDS else f"{x:.14e}"


def test_module_attributes_in_order():
    # The functions as the stub table lists them, in registration order.
    assert [name for name in vars(vexa) if name[0] != "_"] == CLASS_NAMES + list(STUBS.FUNCTIONS)


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("container", CONTAINERS)
def test_extents_zeros_and_bounds(kind, container):
    op = Operand(kind, container, np.zeros(6), shape=(2, 3))
    c, mat = op.obj, container == "mat"
    dims, bad, text = ((2, 3), 2, "matrix") if mat else ((6,), 1, "vector")
    assert c.numel() == 6 and tuple(c.dim(i) for i in range(len(dims))) == dims
    fails(RuntimeError, TEXTS["dimension"].format(bad, text), c.dim, bad)
    zero = DTYPES[kind](0).item()
    assert not np.any(read(c, kind)) and type(c[(0, 0) if mat else 0]) is type(zero)
    pytest.raises(TypeError, len, c)
    if not mat:  # iteration runs into the bounds check
        for call, args in ((c.__getitem__, (6,)), (c.__setitem__, (6, 1)), (list, (c,))):
            fails(RuntimeError, TEXTS["index"].format(6, 6), call, *args)
        assert op.guards_intact() and not np.any(op.values())


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("shape, index, text", BOUNDS)
def test_matrix_bounds(kind, shape, index, text):
    m = vexa_class("mat", kind)(*shape)
    fails(RuntimeError, text, m.__getitem__, index)
    fails(RuntimeError, text, m.__setitem__, index, 1)
    assert not np.any(read(m, kind))


@pytest.mark.parametrize("kind", KINDS)
def test_conversions_and_matrix_index_forms(kind):
    vec, mat, view = (vexa_class(prefix, kind) for prefix in ("vec", "mat", "view"))
    v, m, value = vec(1), mat(2, 3), (0.1 + 0.2j if kind in COMPLEX_KINDS else 0.1)
    v[0] = value
    assert v[0] == DTYPES[kind](value).item()  # single precision widened exactly
    for given in (2, 1.5):  # an int for every kind, a float for complex kinds too
        v[0] = given
        assert v[0] == given and type(v[0]) is (complex if kind in COMPLEX_KINDS else float)
    if kind in REAL_KINDS:
        pytest.raises(TypeError, v.__setitem__, 0, 1 + 2j)
    m[1, 2], m[[0, 1]] = 7, 5
    assert m[(1, 2)] == m[[1, 2]] == 7 and m[0, 1] == 5 and m[0, 2] == m[1, 1] == 0
    for call, args in [(v.__getitem__, (-1,)), (v.__getitem__, (1.0,)), (v.__setitem__, (-1, 0)),
                       (m.__getitem__, ((-1, 0),)), (m.__getitem__, ((1, 2, 0),)), (vec, (-1,)),
                       (mat, (-1, 2)), (mat, (2, 1.0)), (view, ()), (view, (3,))]:  # fmt: skip
        pytest.raises(TypeError, call, *args)
    for shape in [(2**40, 2**40), (2**32, 2**32), (2**63, 2)]:  # element count overflows
        pytest.raises(MemoryError, mat, *shape)


@pytest.mark.parametrize("kind", KINDS)
def test_views_share_storage_and_outlive_vector(kind):
    v = fill(vexa_class("vec", kind)(10), np.arange(10.0))
    w = v[2:8]
    u, x = w[1:3], v[3:4]
    assert type(w) is type(u) is vexa_class("view", kind) and (w.numel(), u.numel()) == (6, 2)
    assert (w[0], w[5], u[0]) == (2, 7, 3)
    w[1], v[4] = 30, 40
    assert v[3] == u[0] == x[0] == 30 and w[2] == u[1] == 40
    del v, x
    gc.collect()
    u[0] = 31
    assert read(w, kind).tolist() == [2, 31, 40, 5, 6, 7]


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("container", CONTAINERS[:2])
@pytest.mark.parametrize("cut, taken", SLICES)
def test_slice(kind, container, cut, taken):
    op = Operand(kind, container, np.arange(5.0))
    if isinstance(taken, tuple):
        fails(*taken, op.obj.__getitem__, cut)
        return
    w = op.obj[cut]
    assert type(w) is vexa_class("view", kind) and read(w, kind).tolist() == taken
    assert taken or repr(w) == HEAD.format(0)
    if taken:
        w[0] = 9
        assert op.obj[taken[0]] == 9 and op.guards_intact()


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("container", CONTAINERS[:2])
def test_vector_repr(kind, container, capsys):
    values = [1.5, -2.0, 0.1, 1 - 2j if kind in COMPLEX_KINDS else 3.0]
    c = Operand(kind, container, values).obj
    lines = [f"[{entry(kind, x)}]\n" for x in values]
    assert repr(c) == str(c) == HEAD.format(4) + "".join(lines)
    print(c)
    assert capsys.readouterr().out == repr(c) + "\n"
    assert repr(c[1:3]) == HEAD.format(2) + "".join(lines[1:3])
    assert repr(vexa_class("vec", kind)(0)) == HEAD.format(0)


@pytest.mark.parametrize("kind, value, line", ELEMENT_TEXTS)
def test_element_text(kind, value, line):
    c = vexa_class("vec", kind)(1)
    c[0] = value
    assert repr(c) == HEAD.format(1) + line + "\n"


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("cols, shown", COLUMNS)
def test_matrix_repr(kind, cols, shown):
    m = fill(vexa_class("mat", kind)(2, cols), np.add.outer([0.0, 10.0], np.arange(cols)))
    # A matrix without columns renders as its header alone.
    rows = (", ".join(entry(kind, 10 * i + j) if j >= 0 else "..." for j in shown) for i in (0, 1))
    rows = rows if cols else ()
    head = TEXTS["matrix head"].format
    assert repr(m) == str(m) == head(2, cols) + "".join(f"[{r}]\n" for r in rows)
    assert repr(vexa_class("mat", kind)(0, cols)) == head(0, cols)


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("container", CONTAINERS)
def test_no_instance_without_a_native_object(kind, container):
    # Such an instance used to read uninitialised memory and could crash.
    cls = vexa_class(container, kind)
    with pytest.raises(TypeError, match="cannot be created through __new__"):
        cls.__new__(cls)
    with pytest.raises(TypeError, match="not an acceptable base type"):
        type("Derived", (cls,), {})
