"""Attempts that once crashed the interpreter, each in a child process of its own so that a crash
fails one test, not the run: changing an instance's class, and making an instance without its
native object through the base class."""

import resource
import signal
import subprocess
import sys
import textwrap

import pytest
from conftest import CONTAINERS, KINDS

CLASSES = [container + kind for kind in KINDS for container in CONTAINERS]
MAKE = {"vec": "vexa.vec{}(5)", "view": "vexa.vec{}(7)[1:6]", "mat": "vexa.mat{}(5, 1)"}
# Each route: statements that prepare it, then the call that must raise TypeError.
ROUTES = {
    "base __new__": ("", "cls.__base__.__new__(cls)"),
    "super": ("", "super(cls, cls).__new__(cls)"),
    "deleted __new__": ("del cls.__new__", "cls.__new__(cls)"),
    "replaced __new__": ("cls.__new__ = cls.__base__.__new__", "cls.__new__(cls)"),
    "object __new__": ("cls.__new__ = object.__new__", "cls.__new__(cls)"),
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
            vexa.scale({"2j" if kind in "cz" else "2.0"}, obj)
            obj[0 if cls.__name__[:3] != "mat" else (0, 0)] = 1
            assert obj.numel() == 5 and repr(obj)
    """)


@pytest.mark.parametrize("name", CLASSES)
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
@pytest.mark.parametrize("name", CLASSES)
def test_no_instance_without_native_object(name, route):
    setup, attempt = ROUTES[route]
    child = run_child(prelude(name) + f"{setup}\nrefused({attempt!r})\nworks(make())\n")
    assert child.returncode == 0, child.stderr


@pytest.mark.parametrize(
    "call", ["vexa.vecd.__base__()", "vexa.vecd.__base__.__new__(vexa.vecd.__base__)"]
)
def test_shared_base_is_left_alone(call):
    # The base class belongs to pybind11 and is shared by every pybind11 module in the process;
    # vexa does not change it, so making an instance of it still ends the process.
    child = run_child(f"import vexa\n{call}\n")
    assert child.returncode == -signal.SIGABRT
    assert "no pybind11-registered base types" in child.stderr
