"""What the checks of ls cost, and how far typical fits are from being refused.

    .venv/bin/python benchmarks/ls_checks.py cost
    .venv/bin/python benchmarks/ls_checks.py loop 100x10 d 1000
    .venv/bin/python benchmarks/ls_checks.py margins

cost: ls (restoring A and x by two copies first) on 8x4, 100x10 and 1000x100 per kind, and its
ratio to scipy's ?gels doing the same in the same process; compare the ratios of two builds.
loop: that call N times on one shape and kind (with --no-ls, the copies alone), for instruction
counts of two builds: the count of ls is the difference of the two runs'
    PYTHONHASHSEED=0 OPENBLAS_NUM_THREADS=1 valgrind --tool=callgrind .venv/bin/python \\
        benchmarks/ls_checks.py loop 100x10 d 1000 [--no-ls]
margins: polynomial fits and a Kahan matrix, with two numbers ls compares with its limits, each
divided by its limit (below 1 is refused): the smallest pivot ratio |R(i,i)| / ||R(0:i, i)|| over
sqrt(max(m, n))*eps, and the reciprocal condition estimate of the factor with each column scaled by
the power of two nearest its norm, over eps. The factor is the one ls leaves in A.
"""

import sys
import timeit

import numpy as np
import vexa
import vexa_io
from kinds import COMPLEX_KINDS, DTYPES, KINDS, REAL_KINDS

SHAPES = [(8, 4), (100, 10), (1000, 100)]


def problem(kind, m, n, seed=7):
    """Containers A0, b0 with random values, A and x to solve in, and their numpy twins."""
    rng = np.random.default_rng(seed)
    a = rng.standard_normal((m, n)) + (
        1j * rng.standard_normal((m, n)) if kind in COMPLEX_KINDS else 0
    )
    b = rng.standard_normal(m) + (1j * rng.standard_normal(m) if kind in COMPLEX_KINDS else 0)
    a, b = a.astype(DTYPES[kind], order="F"), b.astype(DTYPES[kind])
    made = {}
    for name, values in (("A0", a), ("b0", b)):
        made[name] = vexa_io.from_buffer(values)
    made["A"], made["x"] = getattr(vexa, "mat" + kind)(m, n), getattr(vexa, "vec" + kind)(m)
    return made, a, b


def cost():
    from scipy.linalg import lapack

    print("shape     kind  vexa µs  scipy µs  vexa/scipy")
    for m, n in SHAPES:
        for kind in KINDS:
            made, a, b = problem(kind, m, n)
            vexa_ns = {**made, "function": vexa.ls, "copy": vexa.copy}
            gels = getattr(lapack, kind + "gels")
            lwork = int(getattr(lapack, kind + "gels_lwork")(m, n, 1)[0].real)
            scipy_ns = {"routine": gels, "A0": a, "b0": b, "lwork": lwork}
            scipy_ns.update(A=a.copy(order="F"), x=b.copy())
            stmts = [
                ("copy(A0, A); copy(b0, x); function(A, x)", vexa_ns),
                (
                    "A[:] = A0; x[:] = b0; "
                    "routine(A, x, lwork=lwork, overwrite_a=1, overwrite_b=1)",
                    scipy_ns,
                ),
            ]
            number = max(1, 20000 // (m * n))
            best = [float("inf")] * 2
            for _ in range(15):  # interleaved, so both see the same machine load
                for i, (stmt, ns) in enumerate(stmts):
                    runs = timeit.repeat(stmt, globals=ns, number=number, repeat=3)
                    best[i] = min(best[i], min(runs) / number)
            print(
                f"{m}x{n:<6} {kind:>4} {best[0] * 1e6:8.2f} {best[1] * 1e6:9.2f}"
                f" {best[0] / best[1]:11.3f}"
            )


def loop(shape, kind, calls, solve):
    m, n = (int(d) for d in shape.split("x"))
    made, _, _ = problem(kind, m, n)
    A0, b0, A, x = made["A0"], made["b0"], made["A"], made["x"]
    ls = vexa.ls if solve else lambda A, x: None
    for _ in range(calls):
        vexa.copy(A0, A)
        vexa.copy(b0, x)
        ls(A, x)


def scaled_factor(r, upper):
    """The factor with each column (upper) or row (lower) divided by the power of two nearest
    its norm, and the smallest ratio of a diagonal element to its column's or row's norm."""
    lines = (r if upper else r.T).astype(complex if np.iscomplexobj(r) else float)
    norms = np.linalg.norm(np.triu(lines), axis=0)
    fraction, exponent = np.frexp(norms)
    exponent = exponent - (fraction < np.sqrt(0.5))
    scaled = (np.triu(lines) * np.ldexp(1.0, -exponent)).astype(r.dtype)
    return (scaled if upper else scaled.T), np.min(np.abs(np.diag(lines)) / norms)


def margins_of(kind, a):
    """Runs ls on a and returns the verdict and both margins, read from the factor it left."""
    from scipy.linalg import lapack

    m, n = a.shape
    if np.max(np.abs(a)) > np.finfo(DTYPES[kind]).max:
        return "overflows the kind", np.nan, np.nan
    a = a.astype(DTYPES[kind], order="F")
    A = vexa_io.from_buffer(a)
    x = getattr(vexa, "vec" + kind)(max(m, n))
    try:
        vexa.ls(A, x)
        verdict = "solved"
    except RuntimeError as error:
        verdict = "refused: " + ("rank" if "full rank" in str(error) else "condition")
    size, upper = min(m, n), m >= n
    factor = np.asarray(vexa_io.asbuffer(A))
    scaled, ratio = scaled_factor(factor[:size, :size], upper)
    eps = np.finfo(DTYPES[kind]).eps
    rcond, _ = getattr(lapack, kind + "trcon")(scaled, norm="1", uplo="U" if upper else "L")
    return verdict, ratio / (np.sqrt(max(m, n)) * eps), rcond / eps


def kahan(n, theta=1.3):
    sine, cosine = np.sin(theta), np.cos(theta)
    return np.diag(sine ** np.arange(n)) @ (np.eye(n) - cosine * np.triu(np.ones((n, n)), 1))


def margins():
    points = np.arange(21.0)
    cases = [
        (f"degree {degree}, x*{scale:g}", np.vander(points * scale, degree + 1, increasing=True))
        for degree in (2, 5, 10)
        for scale in (1e-3, 1.0, 1e3)
    ]
    cases += [("Kahan 60", kahan(60)), ("Kahan 200", kahan(200))]
    print(f"{'problem':22} kind  pivot ratio/limit  rcond/eps  verdict")
    for name, a in cases:
        for kind in REAL_KINDS:
            verdict, pivot, condition = margins_of(kind, a)
            print(f"{name:22} {kind:>4} {pivot:18.3g} {condition:10.3g}  {verdict}")


if __name__ == "__main__":
    if sys.argv[1] == "loop":  # no scipy: its import would dominate the instruction count
        loop(sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5:] != ["--no-ls"])
    else:
        from threadpoolctl import threadpool_limits

        with threadpool_limits(1):
            cost() if sys.argv[1] == "cost" else margins()
