"""Instructions per call of axpy, gemv and an element write when the coefficient is another
accepted type than the kind's own (float for kinds s and d, complex for c and z), counted by
valgrind's callgrind, so the figures do not depend on the machine's load.

    .venv/bin/python benchmarks/scalars.py [--calls N] [--out FILE]

Runs itself under callgrind (needs valgrind, its callgrind.h header and a C compiler). Each row
counts a loop of N statements and subtracts an empty loop of N turns, between callgrind client
requests; operands hold 8 elements (8x8 for gemv's A). Writes benchmarks/results/scalars.md by
default. The other callgrind benchmarks share its marks library, counts() and counted_loops().
"""

import argparse
import ctypes
import decimal
import fractions
import os
import re
import subprocess
import sys
import tempfile
from dataclasses import dataclass
from pathlib import Path

from kinds import COMPLEX_KINDS, KINDS, OWN

RESULTS = Path(__file__).resolve().parent / "results"
MARKS = r"""
#include <valgrind/callgrind.h>
void zero(void) { CALLGRIND_ZERO_STATS; }
void dump(const char* label) { CALLGRIND_DUMP_STATS_AT(label); }
"""
# The loops' arguments, in the order measure() passes them.
ARGUMENTS = ["function", "alpha", "beta", "x", "y", "A"]
STATEMENTS = {
    "axpy": "function(alpha, x, y)",
    "gemv": "function(alpha, beta, A, x, y)",
    "__setitem__": "x[3] = alpha",
}
# Coefficient types, by how close to the kind's own type their limit is. Values 2 and -1 keep
# repeated in-place updates bounded and avoid the BLAS shortcuts for 0 and 1.
NEAR, OTHER = 1.15, 1.5
TYPES = {
    "float": (OTHER, COMPLEX_KINDS),
    "int": (NEAR, KINDS),
    "numpy.float64": (NEAR, KINDS),
    "numpy.complex128": (NEAR, COMPLEX_KINDS),
    "numpy.float32": (OTHER, KINDS),
    "numpy.int64": (OTHER, KINDS),
    "Fraction": (OTHER, KINDS),
    "Decimal": (OTHER, KINDS),
}
# Types that a complex kind converts through complex(); the others go through float() in every
# kind.
COMPLEX_CONVERSION = ("numpy.complex128", "Decimal")


def makers():
    import numpy as np

    return {
        "float": float,
        "complex": complex,
        "int": int,
        "numpy.float64": np.float64,
        "numpy.complex128": np.complex128,
        "numpy.float32": np.float32,
        "numpy.int64": np.int64,
        "Fraction": fractions.Fraction,
        "Decimal": decimal.Decimal,
    }


def child(calls, marks):
    import vexa

    lib, make = ctypes.CDLL(marks), makers()
    empty, convert = loop("pass"), loop("function(alpha)")
    lib.zero()  # ctypes prepares each function on its first call
    lib.dump(b"warm-up")
    for own in (float, complex):  # the conversion of a value of the type itself
        label = f"reference {own.__name__}"
        measure(lib, calls, label, convert, empty, (own, own(2), 0, 0, 0, 0))
    for function, statement in STATEMENTS.items():
        body = loop(statement)
        for kind in KINDS:
            call = getattr(vexa, function, None)
            x, y, A = vexa_operands(vexa, kind)
            for name in [OWN[kind], *(other for other in TYPES if kind in TYPES[other][1])]:
                alpha, beta = make[name](2), make[name](-1)
                complex_way = kind in COMPLEX_KINDS and name in ("complex", *COMPLEX_CONVERSION)
                conversion = complex if complex_way else float
                label = f"{function} {kind} {name}"
                measure(lib, calls, label, body, empty, (call, alpha, beta, x, y, A))
                args = (conversion, alpha, beta, x, y, A)
                measure(lib, calls, conversion.__name__, convert, empty, args)


def measure(lib, calls, label, run, empty, args):
    """Counts run and an empty loop, as many turns, each between client requests."""
    run(range(50), *args)  # warm the interpreter's and vexa's caches
    for mark, timed in ((label, run), ("empty", empty)):
        lib.zero()
        timed(range(calls), *args)
        lib.dump(mark.encode())


def loop(code, names=ARGUMENTS):
    """A function running code `turns` times with the names as its local variables."""
    source = f"def run(turns, {', '.join(names)}):\n    for _ in turns:\n        {code}\n"
    space = {}
    exec(source, space)  # noqa: S102 (fixed statements)
    return space["run"]


def vexa_operands(vexa, kind):
    x, y = getattr(vexa, "vec" + kind)(8), getattr(vexa, "vec" + kind)(8)
    A = getattr(vexa, "mat" + kind)(8, 8)
    for i in range(8):
        x[i], y[i] = 0.5, 0.25
        for j in range(8):
            A[i, j] = 1.0 / (1 + i + j)
    return x, y, A


@dataclass
class Row:
    """One coefficient type in one function and kind, a row of scalars.md."""

    function: str
    kind: str
    coefficient: str
    instructions: float
    own_type: float  # the instructions with the kind's own type
    ratio: float
    limit: float
    result: str
    conversion: float  # the value's own conversion, beyond that of the kind's own type
    without_conversion: float  # the ratio of what remains


def counts(out_dir):
    """Instructions of each labelled loop, in the order run."""
    found = []
    for path in sorted(out_dir.glob("cg.out.*"), key=lambda p: int(p.name.split(".")[-1])):
        text = path.read_text()
        label = re.search(r"^desc: Trigger: Client Request: (.*)$", text, re.M)
        total = re.search(r"^(?:summary|totals): (\d+)", text, re.M)
        if label and label.group(1) != "warm-up":
            found.append((label.group(1), int(total.group(1))))
    return found


def in_routines(path, routines):
    """The instructions that a callgrind dump counts inside the routines whose names match the
    pattern routines (from the name's start; the dumps name functions in full with
    --compress-strings=no): the inclusive cost of each call of one of them from a function that
    is not one of them, the caller being that of the latest fn= line, so nested calls count once."""
    routines = re.compile(routines)
    total, caller, callee, counted = 0, "", "", False
    for line in path.read_text().splitlines():
        if line.startswith("fn="):
            caller = line[3:]
        elif line.startswith("cfn="):
            callee = line[4:]
        elif line.startswith("calls="):
            counted = routines.match(callee) is not None and routines.match(caller) is None
        elif counted and re.match(r"^[+-]?\d+ \d+$", line):
            total += int(line.split()[1])
            counted = False
    return total


def counted_loops(script, arguments, routines):
    """Runs script --child MARKS_LIBRARY *arguments under callgrind with one OpenBLAS thread
    (with more, callgrind would count the waiting threads' spinning). The child dumps pairs of
    loops, the measured one labelled and then its baseline; for each pair: the label, the two
    loops' instructions, and those of the measured loop inside routines (in_routines)."""
    with tempfile.TemporaryDirectory() as tmp:
        tmp = Path(tmp)
        (tmp / "marks.c").write_text(MARKS)
        marks = tmp / "marks.so"
        subprocess.run(["cc", "-shared", "-fPIC", "-O1", "-o", marks, tmp / "marks.c"], check=True)
        command = ["valgrind", "--tool=callgrind", f"--callgrind-out-file={tmp}/cg.out.%p",
                   "--dump-instr=no", "--dump-line=no", "--compress-strings=no",
                   sys.executable, script, "--child", str(marks), *arguments]  # fmt: skip
        env = os.environ | {"OPENBLAS_NUM_THREADS": "1"}
        subprocess.run(command, check=True, stderr=subprocess.DEVNULL, env=env)
        measured = counts(tmp)
        dumps = sorted(tmp.glob("cg.out.*"), key=lambda p: int(p.name.split(".")[-1]))
        # The dumps that counts() reads: those of the loops, in the same order.
        loops = re.compile(r"^desc: Trigger: Client Request: (?!warm-up$)", re.M)
        measured_loops = [path for path in dumps if loops.search(path.read_text())][::2]
        inside = [in_routines(path, routines) for path in measured_loops]
    pairs = zip(measured[::2], measured[1::2], inside, strict=True)
    return [(label, count, base, routine) for (label, count), (_, base), routine in pairs]


def parent(calls, out):
    with tempfile.TemporaryDirectory() as tmp:
        tmp = Path(tmp)
        (tmp / "marks.c").write_text(MARKS)
        marks = tmp / "marks.so"
        subprocess.run(["cc", "-shared", "-fPIC", "-O1", "-o", marks, tmp / "marks.c"], check=True)
        command = ["valgrind", "--tool=callgrind", f"--callgrind-out-file={tmp}/cg.out.%p",
                   "--dump-instr=no", "--dump-line=no", sys.executable, __file__, "--child",
                   str(marks), "--calls", str(calls)]  # fmt: skip
        subprocess.run(command, check=True, stderr=subprocess.DEVNULL)
        measured = counts(tmp)
    per_call = [
        (label, (loop_count - empty_count) / calls)
        for (label, loop_count), (_, empty_count) in zip(measured[::2], measured[1::2], strict=True)
    ]
    references = dict(per_call[:2])
    own, rows = {}, []
    pairs = zip(per_call[2::2], per_call[3::2], strict=True)
    for (label, count), (conversion_type, conversion) in pairs:
        function, kind, name = label.split(" ", 2)
        if name == OWN[kind]:
            own[function, kind] = count
            continue
        reference, limit = own[function, kind], TYPES[name][0]
        conversion -= references[f"reference {conversion_type}"]
        ratio = count / reference
        rows.append(
            Row(
                function=function,
                kind=kind,
                coefficient=name,
                instructions=count,
                own_type=reference,
                ratio=ratio,
                limit=limit,
                result="PASS" if ratio <= limit else f"FAIL: {ratio:.2f} > {limit}",
                conversion=conversion,
                without_conversion=(count - conversion) / reference,
            )
        )
    write(out, calls, rows)
    missed = [row for row in rows if row.result != "PASS"]
    for row in missed:
        print(f"  {row.function} {row.kind} {row.coefficient}: {row.result}")
    print(f"{len(missed)} of {len(rows)} rows missed their limit; table in {out}")


def write(out, calls, rows):
    lines = [
        "# Scalar coefficients: instructions per call",
        "",
        "valgrind callgrind instruction counts per call, from a loop of "
        f"{calls} calls minus an empty loop of as many turns (`benchmarks/scalars.py`). "
        "Operands: vectors of 8 elements, gemv's A 8x8; gemv gets both coefficients of the "
        "type; `__setitem__` is `x[3] = alpha` on a vector. The reference is the same call with "
        "the kind's own type (float for s and d, complex for c and z). Limits on the ratio: "
        f"{NEAR} for int, float subclasses and complex subclasses, {OTHER} for other numbers. "
        "Conversion: the instructions of `float(alpha)` (`complex(alpha)` for complex kinds and "
        "types other than real numbers) beyond those of `float(2.0)` (`complex(2j)`), that is the "
        "value's own conversion, which no caller can avoid; without it: the ratio of what "
        "remains.",
        "",
        "| function | kind | coefficient | instructions | own type | ratio | limit | result "
        "| conversion | ratio without it |",
        "|---|---|---|---|---|---|---|---|---|---|",
    ]
    for row in rows:
        lines.append(f"| {row.function} | {row.kind} | {row.coefficient} | "
                     f"{row.instructions:.0f} | {row.own_type:.0f} | {row.ratio:.3f} | "
                     f"{row.limit} | {row.result} | {row.conversion:.0f} | "
                     f"{row.without_conversion:.3f} |")  # fmt: skip
    out.write_text("\n".join(lines) + "\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--calls", type=int, default=2000, help="calls per loop (default 2000)")
    parser.add_argument("--out", type=Path, default=RESULTS / "scalars.md")
    parser.add_argument("--child", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        child(args.calls, args.child)
    else:
        parent(args.calls, args.out.resolve())


if __name__ == "__main__":
    main()
