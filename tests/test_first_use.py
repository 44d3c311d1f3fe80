"""A first use that runs Python code which uses the same thing again: the first pickle (which
imports vexa_io) and the first scalar that is no float, int or complex (which imports numbers)
complete, or end in an ordinary exception, instead of waiting for themselves for ever. Each runs
in a child process of its own, which a hang would keep from finishing."""

import subprocess
import sys
import textwrap

import pytest

pytestmark = pytest.mark.slow

PRELUDE = """
import pickle, sys, vexa
v = vexa.vecd(3)
v[0] = 1.5
inner = []
def attempt(call):
    try:
        inner.append(repr(call()))
    except Exception as error:
        inner.append(type(error).__name__)
def round_trip():
    return pickle.loads(pickle.dumps(v))[0]
"""

TRIGGERS = {
    # A collection while the first pickle imports vexa_io runs a __del__ that pickles. Until
    # then each __del__ leaves garbage for the next collection.
    "__del__": """
        import gc
        def importing():
            frame = sys._getframe()
            while frame is not None:
                code, name = frame.f_code.co_name, frame.f_locals.get("name")
                if code == "_find_and_load" and name == "vexa_io":
                    return True
                frame = frame.f_back
            return False
        class Cycle:
            def __init__(self):
                self.me = self
            def __del__(self):
                if not importing():
                    Cycle()
                elif not inner:
                    attempt(round_trip)
        Cycle()
        gc.set_threshold(1)
        outer = round_trip()
        gc.set_threshold(700)
    """,
    "import hook": """
        fired = []
        class Hook:
            def find_spec(self, name, path, target=None):
                if name == "vexa_io" and not fired:
                    fired.append(name)
                    attempt(round_trip)
        sys.meta_path.insert(0, Hook())
        outer = round_trip()
    """,
    # numbers, loaded on its first attribute access, converts a scalar while it loads.
    "lazy numbers": """
        import importlib.util
        assert "numbers" not in sys.modules
        class Half:
            def __float__(self):
                return 0.5
        spec = importlib.util.find_spec("numbers")
        class Loading(type(spec.loader)):
            def exec_module(self, module):
                attempt(lambda: vexa.scale(Half(), vexa.vecd(1))[0])
                super().exec_module(module)
        spec.loader = importlib.util.LazyLoader(Loading(spec.name, spec.origin))
        module = importlib.util.module_from_spec(spec)
        sys.modules["numbers"] = module
        spec.loader.exec_module(module)
        outer = vexa.scale(Half(), v)[0]
    """,
}


@pytest.mark.parametrize("trigger", TRIGGERS)
def test_a_reentrant_first_use_does_not_wait_for_itself(trigger):
    code = PRELUDE + textwrap.dedent(TRIGGERS[trigger]) + "print(outer, inner)\n"
    child = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert child.returncode == 0, child.stderr
    outer, inner = child.stdout.split(" ", 1)
    assert float(outer) in (1.5, 0.75)
    assert inner.strip() not in ("", "[]")  # the nested use ran, with a value or an exception
