"""Long calls and other Python threads: a long call lets another thread run, keeps every operand
alive and in place while that thread drops, pickles, wraps, slices and resizes them, and calls
from several threads on different data give the results they give one at a time. Calls that
write the same elements from two threads race on the numbers only: run in a child process."""

import mmap
import pickle
import subprocess
import sys
import textwrap
import threading
import time
from types import SimpleNamespace

import numpy as np
import pytest
import vexa
import vexa_io
from helpers import DTYPES, KINDS, RTOL, TEXTS, random_array, vexa_class


def steps_during(call):
    """How many steps another thread makes while call() runs; a step sleeps 1 ms, which lets the
    caller run too whenever it holds the lock."""
    running, stop, steps = threading.Event(), threading.Event(), [0]

    def step():
        running.set()
        while not stop.is_set():
            steps[0] += 1
            time.sleep(0.001)

    other = threading.Thread(target=step)
    other.start()
    running.wait()
    before = steps[0]
    call()
    made = steps[0] - before
    stop.set()
    other.join()
    return made


def fortran(kind, shape, rng):
    return np.asfortranarray(random_array(kind, shape, rng))


@pytest.mark.parametrize("name", ["gemm", "ls"])
def test_another_thread_runs_during_a_long_call(name, rng):
    if name == "gemm":
        a, x = fortran("d", (1500, 1500), rng), fortran("d", (1500, 1500), rng)
        y = np.zeros((1500, 1500), order="F")
        operands = [vexa_io.wrap(a), vexa_io.wrap(x), vexa_io.wrap(y)]
        made = steps_during(lambda: vexa.gemm(1.0, 0.0, *operands))
        np.testing.assert_allclose(y, a @ x, rtol=1e-10, atol=1e-10)
    else:
        a, b = fortran("d", (4000, 400), rng), rng.standard_normal(4000)
        x = b.copy()
        made = steps_during(lambda: vexa.ls(vexa_io.wrap(a.copy(order="F")), vexa_io.wrap(x)))
        np.testing.assert_allclose(x[:400], np.linalg.lstsq(a, b, rcond=None)[0], rtol=1e-8)
    assert made >= 10


def column_major(region, shape):
    """A column-major float64 numpy array over an mmap, holding an export of it."""
    return np.frombuffer(region).reshape(shape, order="F")


def lifetime_case(name, shape, rng):
    """The call's operands, made over exporters, with what the other thread may wrap again,
    what each exporter must refuse while a wrap holds it, what must work once every container
    is gone, and a check of the call's result. Storage: an anonymous mmap through numpy, a
    numpy array, a bytearray through a cast memoryview, and vexa's own."""
    m, n = shape
    region = mmap.mmap(-1, 8 * m * n)
    if name == "gemm":
        a, x = np.asfortranarray(rng.standard_normal(shape)), rng.standard_normal((n, n))
        expected = a @ x
        # Counted rather than resized once freed: from 3.14, numpy's resize check also refuses
        # because of the interpreter's own borrowed references, so only the count tells.
        unwrapped = sys.getrefcount(a)
        operands = (
            vexa_io.wrap(a),
            vexa_io.from_buffer(x),
            vexa_io.wrap(column_major(region, shape)),
        )
        refusals = [(lambda: a.resize(7), ValueError)]

        def a_released():
            assert sys.getrefcount(a) == unwrapped

        freed = [a_released]

        def call(finish, A, X, Y):
            vexa.gemm(1.0, 0.0, A, X, Y)
            finish()

        def result():
            return column_major(region, shape).copy()

    else:
        a, b = rng.standard_normal(shape), rng.standard_normal(m)
        expected = np.linalg.lstsq(a, b, rcond=None)[0]
        column_major(region, shape)[...] = a
        raw = bytearray(b.tobytes())
        cast = memoryview(raw).cast("d")
        vector = vexa_io.wrap(cast)
        # The view outlives its vector: the call's only hold on x's storage is the view's share.
        operands = (vexa_io.wrap(column_major(region, shape)), vector[0:m])
        del vector
        refusals = [(cast.release, BufferError)]
        freed = [cast.release, lambda: raw.extend(b"12345678")]

        def call(finish, A, x):
            vexa.ls(A, x)
            finish()

        def result():
            return np.frombuffer(raw)[:n]

    refusals += [(region.close, BufferError), (lambda: region.resize(16), BufferError)]
    return SimpleNamespace(
        call=call,
        operands=operands,
        rewrap=lambda: vexa_io.wrap(column_major(region, shape)),
        refusals=refusals,
        freed=[*freed, region.close],
        result=result,
        expected=expected,
    )


def meddle(theirs, case, started, turn, done, report):
    """Another thread's work during the call: element reads, slices, asbuffer, pickles, wraps over
    the same memory and resize attempts on the operands; then it drops its references and goes
    on wrapping and resizing until the call ends."""

    def resize_and_wrap():
        case.rewrap()
        for attempt, error in case.refusals:
            with pytest.raises(error):
                attempt()

    started.wait()
    try:
        for container in theirs:
            container[0, 0] if isinstance(container, vexa.matd) else container[1:3][0]
            np.asarray(vexa_io.asbuffer(container)).sum()
            # Out of band without a copy; a vector also in band, copied as bytes.
            lent = []
            pickle.loads(pickle.dumps(container, 5, buffer_callback=lent.append), buffers=lent)
            if not isinstance(container, vexa.matd):
                pickle.loads(pickle.dumps(container, protocol=2))
        resize_and_wrap()
        theirs.clear()
        # A step sleeps 1 ms, which lets the caller run whenever it holds the lock: a call that
        # held it throughout would leave this thread a step at most before done is set, never ten.
        report["steps after the drop"] = 0
        while True:
            with turn:
                if done.is_set():
                    break
                resize_and_wrap()
                report["steps after the drop"] += 1
            time.sleep(0.001)
    except BaseException as error:  # noqa: B036 (any failure is reported to the test)
        report["error"] = error


@pytest.mark.parametrize("name, shape", [("gemm", (1500, 1500)), ("ls", (4000, 400))])
def test_operands_stay_while_another_thread_drops_and_pickles_them(name, shape, rng):
    case = lifetime_case(name, shape, rng)
    theirs, holder = list(case.operands), [case.operands]
    del case.operands
    started, turn, done, report = threading.Event(), threading.Lock(), threading.Event(), {}

    def finish():
        # Still holding the operands, after the other thread's last step: every step it made
        # found them referenced by the call alone.
        with turn:
            done.set()

    other = threading.Thread(target=meddle, args=(theirs, case, started, turn, done, report))
    other.start()
    started.set()
    case.call(finish, *holder.pop())
    other.join()
    assert "error" not in report, report.get("error")
    assert report["steps after the drop"] >= 10
    np.testing.assert_allclose(case.result(), case.expected, rtol=1e-8, atol=1e-8)
    # Every container is gone, and with them the borrowed buffers.
    for release in case.freed:
        release()


def long_problem(name, kind, rng):
    """Operands for one call above its threshold, and the call."""
    if name == "gemm":
        a, x = fortran(kind, (200, 200), rng), fortran(kind, (200, 200), rng)
        return [a, x, np.zeros((200, 200), DTYPES[kind], order="F")], lambda A, X, Y: vexa.gemm(
            1.0, 0.0, A, X, Y
        )
    if name == "gemv":
        a, x = fortran(kind, (1024, 1024), rng), random_array(kind, 1024, rng)
        return [a, x, np.zeros(1024, DTYPES[kind])], lambda A, x, y: vexa.gemv(1.0, 0.0, A, x, y)
    return [fortran(kind, (400, 40), rng), random_array(kind, 400, rng)], vexa.ls


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("name", ["gemm", "gemv", "ls"])
def test_concurrent_calls_on_different_data_give_the_serial_results(name, kind, rng):
    problems = [long_problem(name, kind, rng) for _ in range(4)]
    initial = [[array.copy() for array in arrays] for arrays, _ in problems]

    def run(index, rounds=2):
        arrays, call = problems[index]
        for _ in range(rounds):
            for array, start in zip(arrays, initial[index], strict=True):
                array[...] = start
            call(*(vexa_io.wrap(array) for array in arrays))

    serial = []
    for index, (arrays, _) in enumerate(problems):
        run(index, rounds=1)
        serial.append([array.copy() for array in arrays])
    threads = [threading.Thread(target=run, args=(index,)) for index in range(len(problems))]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for (arrays, _), expected in zip(problems, serial, strict=True):
        for array, want in zip(arrays, expected, strict=True):
            np.testing.assert_allclose(array, want, rtol=RTOL[kind], atol=RTOL[kind])


@pytest.mark.parametrize("kind", KINDS)
def test_a_refusal_after_a_released_solve_raises_with_the_lock_retaken(kind, rng):
    a = fortran(kind, (200, 40), rng)
    a[:, 39] = a[:, 0]  # rank deficient
    A = vexa_io.from_buffer(a)
    x = vexa_class("vec", kind)(200)
    with pytest.raises(RuntimeError) as info:
        vexa.ls(A, x)
    assert str(info.value).startswith(TEXTS["negligible"].format("{}", name="ls").split("{}")[0])
    # The interpreter carries on, in this thread and in others.
    other = threading.Thread(target=lambda: vexa.scale(2.0, x))
    other.start()
    other.join()


RACE = """
import threading
import numpy as np
import vexa, vexa_io

rng = np.random.default_rng(1)
a1, a2, x = (np.asfortranarray(rng.standard_normal((300, 300))) for _ in range(3))
kept = [a.copy() for a in (a1, a2, x)]
y = np.zeros((300, 300), order="F")
v, w = rng.standard_normal(10**6), np.zeros(10**6)
guard = np.full(1000, 7.0)
Y, X, V, W = vexa_io.wrap(y), vexa_io.wrap(x), vexa_io.wrap(v), vexa_io.wrap(w)

def writer(a):
    A = vexa_io.wrap(a)
    for _ in range(20):
        vexa.gemm(1.0, 0.0, A, X, Y)
        vexa.axpy(0.5, V, W)

threads = [threading.Thread(target=writer, args=(a,)) for a in (a1, a2)]
for thread in threads:
    thread.start()
for thread in threads:
    thread.join()
assert all(np.array_equal(a, k) for a, k in zip((a1, a2, x), kept))
assert np.isfinite(y).all() and np.isfinite(w).all() and (guard == 7.0).all()
print("sound")
"""


@pytest.mark.slow
def test_two_threads_writing_the_same_elements_race_on_numbers_only():
    done = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(RACE)], capture_output=True, text=True, timeout=300
    )
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == "sound"
