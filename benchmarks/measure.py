"""The measured rows: each a record whose fields are the columns of its table
in results.md and results.json, titled once, in the field's definition."""

import pickle
from dataclasses import dataclass, field, fields

import numpy as np
import vexa
import vexa_io
from cases import (
    CASES,
    ELEMENTS,
    EMPTY,
    IO_CASES,
    LARGE,
    SMALL,
    TARGETS,
    operands,
    reference_namespaces,
    scalars,
    verdict,
    vexa_namespace,
    work,
)
from kinds import KINDS
from threadpoolctl import threadpool_limits
from timing import Statement, race, race_large


def column(title):
    return field(metadata={"column": title})


class Row:
    """A table row; every field is a column."""

    @classmethod
    def columns(cls):
        return [item.metadata["column"] for item in fields(cls)]

    def values(self):
        return [getattr(self, item.name) for item in fields(self)]

    @property
    def label(self):
        names = ("function", "operation", "kind")
        return " ".join(getattr(self, name) for name in names if hasattr(self, name))


@dataclass
class SmallRow(Row):
    """Element access has only vexa and numpy times."""

    function: str = column("function")
    kind: str = column("kind")
    vexa_first: float = column("vexa first ns")
    vexa_last: float | None = column("vexa last ns")
    scipy: float | None = column("scipy ns")
    numpy: float = column("numpy ns")
    vexa_scipy: float | None = column("vexa/scipy")
    vexa_numpy: float = column("vexa/numpy")
    last_first: float | None = column("last/first")
    result: str = column("result")


@dataclass
class DispatchRow(Row):
    function: str = column("function")
    front_first: float = column("front first ns")
    front_last: float = column("front last ns")
    last_first: float = column("last/first")
    chain_first: float = column("chain first ns")
    chain_last: float = column("chain last ns")
    result: str = column("result")


@dataclass
class LargeRow(Row):
    function: str = column("function")
    kind: str = column("kind")
    vexa: float = column("vexa ms")
    scipy: float = column("scipy ms")
    numpy: float = column("numpy ms")
    vexa_scipy: float = column("vexa/scipy")
    vexa_best: float = column("vexa/best")
    vexa_vexa: float = column("vexa/vexa")
    gflops: float | None = column("vexa GFLOP/s")  # gemm and matmul only
    result: str = column("result")


@dataclass
class ThroughputRow(Row):
    function: str = column("function")
    kind: str = column("kind")
    unit: str = column("unit")
    vexa: float = column("vexa")
    scipy: float = column("scipy")
    numpy: float = column("numpy")

    @classmethod
    def of(cls, row):
        """The work per second of each library in a LargeRow."""
        unit, amount = work(row.function, row.kind)
        rates = [amount / seconds / 1e9 for seconds in (row.vexa, row.scipy, row.numpy)]
        return cls(row.function, row.kind, unit, *rates)


@dataclass
class IoRow(Row):
    operation: str = column("operation")
    vexa_io: float = column("vexa_io µs")
    numpy: float | None = column("numpy µs")
    ratio: float | None = column("vexa_io/numpy")
    result: str = column("result")


def small_rows(repeat, budget):
    rows = []
    for case in CASES:
        for kind in case.kinds(KINDS):
            made = operands(kind, case.first, SMALL)
            scipy_ns, numpy_ns = reference_namespaces(case, kind, made)
            entries = {
                "first": Statement(case.vexa, vexa_namespace(case.function, kind, made)),
                "scipy": Statement(case.scipy, scipy_ns),
                "numpy": Statement(case.numpy, numpy_ns),
            }
            if case.last:
                last = operands(kind, case.last, SMALL)
                entries["last"] = Statement(case.vexa, vexa_namespace(case.function, kind, last))
            times = race(entries, repeat, budget)
            worst = max(times["first"], times.get("last", 0))
            last_first = times["last"] / times["first"] if case.last else None
            checks = [
                (TARGETS["small/scipy"], worst / times["scipy"]),
                (TARGETS["small/numpy"], worst / times["numpy"]),
            ]
            checks += [(TARGETS["last/first"], last_first)] if case.last else []
            rows.append(
                SmallRow(
                    function=case.function,
                    kind=kind,
                    vexa_first=times["first"],
                    vexa_last=times.get("last"),
                    scipy=times["scipy"],
                    numpy=times["numpy"],
                    vexa_scipy=worst / times["scipy"],
                    vexa_numpy=worst / times["numpy"],
                    last_first=last_first,
                    result=verdict(*checks),
                )
            )
    for element in ELEMENTS:
        for kind in KINDS:
            made = operands(kind, element.layout, SMALL)
            entries = {
                side: Statement(
                    element.statement,
                    {name: pair[index] for name, pair in made.items()} | scalars(kind),
                )
                for index, side in enumerate(("vexa", "numpy"))
            }
            times = race(entries, repeat, budget)
            rows.append(
                SmallRow(
                    function=element.name,
                    kind=kind,
                    vexa_first=times["vexa"],
                    vexa_last=None,
                    scipy=None,
                    numpy=times["numpy"],
                    vexa_scipy=None,
                    vexa_numpy=times["vexa"] / times["numpy"],
                    last_first=None,
                    result="—",
                )
            )
    return rows


def dispatch_rows(repeat, budget):
    """Empty operands: the call alone, on the chain's first and last overload
    that a call can select, through the front and through the overload chain."""
    rows = []
    for case in CASES:
        kinds, call = case.kinds(KINDS), case.vexa.split("; ")[-1]
        first_ops = operands(kinds[0], case.first, EMPTY)
        last_ops = operands(kinds[-1], case.last or case.first, EMPTY)
        first = vexa_namespace(case.function, kinds[0], first_ops)
        last = vexa_namespace(case.function, kinds[-1], last_ops)
        chain = {"function": getattr(vexa, case.function).__self__}
        entries = {
            "front first": Statement(call, first),
            "front last": Statement(call, last),
            "chain first": Statement(call, first | chain),
            "chain last": Statement(call, last | chain),
        }
        times = race(entries, repeat, budget)
        last_first = times["front last"] / times["front first"]
        rows.append(
            DispatchRow(
                function=case.function,
                front_first=times["front first"],
                front_last=times["front last"],
                last_first=last_first,
                chain_first=times["chain first"],
                chain_last=times["chain last"],
                result=verdict((TARGETS["last/first"], last_first)),
            )
        )
    return rows


def large_rows(kinds, seconds):
    """One BLAS thread per library: numpy, scipy and vexa each bring an
    OpenBLAS whose workers spin for about 0.1 s after a call, so with their
    default threads the three pools take the two cores from each other and
    vexa timed against itself spreads by up to 16%. The second vexa entry,
    the same values in containers allocated anew, is the control: where the
    operands sit in memory moves these times by several percent."""
    rows = []
    with threadpool_limits(limits=1, user_api="blas"):
        for case in CASES:
            for kind in case.kinds(kinds):
                made = operands(kind, case.first, LARGE)
                scipy_ns, numpy_ns = reference_namespaces(case, kind, made)
                again = operands(kind, case.first, LARGE)
                entries = {
                    "vexa": Statement(case.vexa, vexa_namespace(case.function, kind, made)),
                    "again": Statement(case.vexa, vexa_namespace(case.function, kind, again)),
                    "scipy": Statement(case.scipy, scipy_ns),
                    "numpy": Statement(case.numpy, numpy_ns),
                }
                times = race_large(entries, seconds)
                best = times["vexa"] / min(times["scipy"], times["numpy"])
                unit, amount = work(case.function, kind)
                rows.append(
                    LargeRow(
                        function=case.function,
                        kind=kind,
                        vexa=times["vexa"],
                        scipy=times["scipy"],
                        numpy=times["numpy"],
                        vexa_scipy=times["vexa"] / times["scipy"],
                        vexa_best=best,
                        vexa_vexa=times["vexa"] / times["again"],
                        gflops=amount / times["vexa"] / 1e9 if unit == "GFLOP/s" else None,
                        result=verdict((TARGETS["large"], best)),
                    )
                )
                del made, again, entries, scipy_ns, numpy_ns
    return rows


def io_rows(seconds):
    """vexa_io against the numpy call that makes the same array, or against
    a time for asbuffer and wrap, which must not depend on the size."""
    rng = np.random.default_rng(2)
    namespace = {
        "asbuffer": vexa_io.asbuffer,
        "from_buffer": vexa_io.from_buffer,
        "wrap": vexa_io.wrap,
        "np": np,
        "small_vec": vexa.vecd(8),
        "large_mat": vexa.matd(1000, 1000),
        "flat": rng.standard_normal(10**6),
        "c_order": rng.standard_normal((1000, 1000)),
        "strided": rng.standard_normal((2000, 2000))[::2, ::2],
        "small_array": np.zeros(8),
        "f_order": np.asfortranarray(rng.standard_normal((1000, 1000))),
        "dumps": pickle.dumps,
        "loads": pickle.loads,
        "out_of_band": lambda buffer: False,
    }
    rows = []
    for case in IO_CASES:
        entries = {"vexa_io": Statement(case.vexa_io, namespace)}
        if case.numpy:
            entries["numpy"] = Statement(case.numpy, namespace)
        times = race_large(entries, seconds)
        ratio = times["vexa_io"] / times["numpy"] if case.numpy else None
        measured = ratio if case.numpy else times["vexa_io"] * 1e6
        rows.append(
            IoRow(
                operation=case.operation,
                vexa_io=times["vexa_io"],
                numpy=times.get("numpy"),
                ratio=ratio,
                result=verdict((case.target, measured)),
            )
        )
    return rows
