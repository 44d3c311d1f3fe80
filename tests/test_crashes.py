"""Attempts that once crashed or hung the interpreter, each in a child process of its own so that
a crash fails one test, not the run: changing an instance's class, making an instance without its
native object (through the base class, or by changing a class), making a buffer exporter or the
base class itself, importing in a subinterpreter, and asking for a buffer by every flag
combination."""

import resource
import subprocess
import sys
import textwrap

import numpy as np
import pytest
from helpers import CLASS_NAMES, COMPLEX_KINDS, DTYPES, KINDS

pytestmark = pytest.mark.slow
MAKE = {"vec": "vexa.vec{}(5)", "view": "vexa.vec{}(7)[1:6]", "mat": "vexa.mat{}(5, 1)"}
ARGS = {"vec": "5", "view": "5", "mat": "5, 1"}
# Each route: statements that must each raise TypeError, in turn. Classes are immutable, so the
# first statement that would change one is refused and the rest meet the class as it was.
ROUTES = {
    "base __new__": ["cls.__base__.__new__(cls)"],
    "super": ["super(cls, cls).__new__(cls)"],
    "object __new__": ["object.__new__(cls)"],
    "deleted __new__": ["del cls.__new__", "cls.__new__(cls)"],
    "reassigned __new__": ["cls.__new__ = cls.__new__", "cls.__base__.__new__(cls)"],
    "replaced __new__": ["cls.__new__ = object.__new__", "object.__new__(cls)"],
    "replaced __init__": ["cls.__init__ = lambda self, *a: None", "type.__call__(cls)"],
    "other attributes": [
        "cls.numel = None",
        "cls.extra = 1",
        "del cls.__repr__",
        "type.__setattr__(cls, '__init__', None)",
        "cls.__base__.__init__ = lambda self, *a: None",
        "type(cls).__call__ = type.__call__",
    ],
}


def run_child(code):
    return subprocess.run(
        [sys.executable, "-c", code],
        capture_output=True,
        text=True,
        timeout=120,
        preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_CORE, (0, 0)),  # no core dumps
    )


def prelude(name):
    container, kind = name[:-1], name[-1]
    return textwrap.dedent(f"""
        import vexa

        cls = vexa.{name}

        def make():
            obj = {MAKE[container].format(kind)}
            assert type(obj) is cls
            return obj

        def refused(statement):
            try:
                exec(statement)
            except TypeError:
                return
            raise AssertionError(statement + " was allowed")

        def works(obj):
            vexa.scale({"2j" if kind in COMPLEX_KINDS else "2.0"}, obj)
            obj[{(0, 0) if container == "mat" else 0}] = 1
            assert obj.numel() == 5 and repr(obj)

        def still_sound():
            # Made the usual way and through type.__call__ (no class call check); views come
            # from slicing only.
            works(make())
            if {container == "view"}:
                refused("type.__call__(cls, {ARGS[container]})")
            else:
                works(type.__call__(cls, {ARGS[container]}))
    """)


@pytest.mark.parametrize("name", CLASS_NAMES)
def test_class_of_an_instance_cannot_change(name):
    child = run_child(
        prelude(name)
        + textwrap.dedent("""
        class Plain:
            pass

        obj, plain = make(), Plain()
        targets = [getattr(vexa, n) for n in dir(vexa) if isinstance(getattr(vexa, n), type)]
        assert len(targets) == 12
        for target in [t for t in targets if t is not cls] + [Plain, cls.__base__]:
            refused("obj.__class__ = target")
            refused("object.__dict__['__class__'].__set__(obj, target)")
        refused("plain.__class__ = cls")
        assert type(obj) is cls and type(plain) is Plain
        works(obj)
        del obj
        """)
    )
    assert child.returncode == 0, child.stderr


@pytest.mark.parametrize("route", ROUTES)
@pytest.mark.parametrize("name", CLASS_NAMES)
def test_no_instance_without_native_object(name, route):
    attempts = "".join(f"refused({statement!r})\n" for statement in ROUTES[route])
    child = run_child(prelude(name) + attempts + "still_sound()\n")
    assert child.returncode == 0, child.stderr


@pytest.mark.parametrize(
    "call",
    [
        "cls.__base__()",
        "cls.__base__.__new__(cls.__base__)",
        "type.__call__(cls.__base__)",
        "type('Sub', (cls.__base__,), {})()",
    ],
)
def test_base_class_makes_no_instance(call):
    # The base class is vexa's own (other pybind11 modules have theirs), so it may refuse.
    child = run_child(prelude("vecd") + f"refused({call!r})\nstill_sound()\n")
    assert child.returncode == 0, child.stderr


EXPORTER_ROUTES = {
    "call": ["T()", "type.__call__(T)"],
    "__new__": ["T.__new__(T)", "object.__new__(T)"],
    "given __new__": ["T.__new__ = lambda cls: object.__new__(cls)", "object.__new__(T)"],
    "other attributes": ["T.extra = 1", "T.__init__ = lambda self: None", "del T.__repr__"],
    "copy": ["copy.copy(exporter)", "copy.deepcopy(exporter)"],
    "pickle": [f"pickle.dumps(exporter, {p})" for p in range(6)],
}


@pytest.mark.parametrize("route", EXPORTER_ROUTES)
def test_no_exporter_but_from_asbuffer(route):
    attempts = "".join(f"refused({statement!r})\n" for statement in EXPORTER_ROUTES[route])
    child = run_child(
        prelude("matz")
        + textwrap.dedent("""
        import copy, pickle, vexa_io

        exporter = vexa_io.asbuffer(make()).obj
        T = type(exporter)
        """)
        + attempts
        + "assert bytes(vexa_io.asbuffer(make())) == bytes(80)\n"
    )
    assert child.returncode == 0, child.stderr


@pytest.mark.parametrize("module", ["vexa", "vexa_io"])
def test_subinterpreter_import_refused(module):
    # Every subinterpreter this Python offers: 3.13 has isolated ones (a GIL of their own) and
    # legacy ones (the shared GIL); 3.11 and 3.12 have the shared-GIL kind under another name.
    child = run_child(
        textwrap.dedent(f"""
        import vexa
        import vexa_io

        try:
            import _interpreters
        except ModuleNotFoundError:
            import _xxsubinterpreters as old

            def failures(script):
                interp = old.create()
                try:
                    old.run_string(interp, script)
                except old.RunFailedError as failure:
                    return [str(failure)]
                finally:
                    old.destroy(interp)
                return [None]
        else:
            def failures(script):
                texts = []
                for config in ("isolated", "legacy"):
                    interp = _interpreters.create(config)
                    result = _interpreters.run_string(interp, script)
                    texts.append(result and result.formatted)
                    _interpreters.destroy(interp)
                return texts

        # Where Python knows the module's slots, from its import here, it refuses by itself.
        ours = "{module} cannot be imported in a subinterpreter: it keeps process-wide state"
        python = "module {module} does not support loading in subinterpreters"
        for text in failures("import {module}"):
            assert text is not None and "ImportError" in text, text
            assert ours in text or python in text, text
        assert vexa.scale(2.0, vexa.vecd(3)).numel() == 3
        """)
    )
    assert child.returncode == 0, child.stderr


# Buffer requests by flag combination (PyBUF_ names without their prefix) and what a container
# answers: "flat" one block of ndim 1 without shape or strides, "shape" a shape without strides
# (C order only), "strides" both.
BUFFER_REQUESTS = {
    "SIMPLE": (0x0, "flat"),
    "WRITABLE": (0x1, "flat"),
    "FORMAT": (0x4, "flat"),
    "WRITABLE | FORMAT": (0x5, "flat"),
    "ND": (0x8, "shape"),
    "ND | FORMAT": (0xC, "shape"),
    "STRIDES": (0x18, "strides"),
    "C_CONTIGUOUS": (0x38, "strides"),
    "F_CONTIGUOUS": (0x58, "strides"),
    "ANY_CONTIGUOUS": (0x98, "strides"),
    "INDIRECT": (0x118, "strides"),
    "RECORDS": (0x1D, "strides"),
    "FULL": (0x11D, "strides"),
}


# Each kind's element format and size in a buffer, as numpy gives them.
FORMATS = {k: memoryview(np.zeros(1, DTYPES[k])).format.encode() for k in KINDS}
SIZES = {k: np.dtype(DTYPES[k]).itemsize for k in KINDS}


@pytest.mark.parametrize("request_name", BUFFER_REQUESTS)
def test_buffer_request(request_name):
    flags, answer = BUFFER_REQUESTS[request_name]
    child = run_child(
        textwrap.dedent(f"""
        import ctypes
        import vexa
        import vexa_io

        flags, answer = {flags}, {answer!r}
        FORMATS, SIZES = {FORMATS!r}, {SIZES!r}
        ssize_p = ctypes.POINTER(ctypes.c_ssize_t)


        class Buffer(ctypes.Structure):
            _fields_ = [
                ("buf", ctypes.c_void_p), ("obj", ctypes.c_void_p), ("len", ctypes.c_ssize_t),
                ("itemsize", ctypes.c_ssize_t), ("readonly", ctypes.c_int),
                ("ndim", ctypes.c_int), ("format", ctypes.c_char_p), ("shape", ssize_p),
                ("strides", ssize_p), ("suboffsets", ssize_p), ("internal", ctypes.c_void_p),
            ]


        api = ctypes.pythonapi
        api.PyObject_GetBuffer.argtypes = [ctypes.py_object, ctypes.POINTER(Buffer), ctypes.c_int]
        api.PyBuffer_Release.argtypes = [ctypes.POINTER(Buffer)]
        api.PyBuffer_IsContiguous.argtypes = [ctypes.POINTER(Buffer), ctypes.c_char]
        for kind in {KINDS!r}:
            vector = getattr(vexa, "vec" + kind)(7)
            for i in range(7):
                vector[i] = i + 1
            # Extents, then whether the elements are in C order.
            for container, extents, c_order in [
                (vector, (7,), True),
                (vector[2:5], (3,), True),
                (getattr(vexa, "mat" + kind)(3, 2), (3, 2), False),
                (getattr(vexa, "mat" + kind)(1, 4), (1, 4), True),
            ]:
                lent = vexa_io.asbuffer(container)
                view = Buffer()
                if answer != "flat" and not c_order and (answer == "shape" or flags == 0x38):
                    try:
                        api.PyObject_GetBuffer(lent.obj, view, flags)
                    except BufferError:
                        continue
                    raise AssertionError("C order granted to a column-major matrix")
                api.PyObject_GetBuffer(lent.obj, view, flags)
                size = SIZES[kind]
                assert view.len == lent.nbytes and view.itemsize == size and view.readonly == 0
                assert view.format == (FORMATS[kind] if flags & 0x4 else None)
                # The container's own elements, in storage order, from its first one on.
                assert ctypes.string_at(view.buf, view.len) == lent.tobytes("A")
                if answer == "flat":
                    assert view.ndim == 1 and not view.shape and not view.strides
                else:
                    assert view.ndim == len(extents) and view.shape[: view.ndim] == list(extents)
                if answer == "shape":
                    assert not view.strides
                if answer == "strides":
                    steps = [size, size * extents[0]][: view.ndim]
                    assert view.strides[: view.ndim] == steps
                assert not view.suboffsets
                contiguous = [api.PyBuffer_IsContiguous(view, order) for order in b"CFA"]
                assert contiguous == [c_order or answer == "flat", 1, 1], contiguous
                api.PyBuffer_Release(view)
        """)
    )
    assert child.returncode == 0, child.stderr
