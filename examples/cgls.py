"""Least squares by CGLS, conjugate gradient on the normal equations AᵀA x = Aᵀb, with the
products Aᵀr taken by vexa_linalg.gemv with trans "T" from A itself: no transposed copy of A is
ever stored, and the update p ← s + βp is one axpby.

    .venv/bin/python examples/cgls.py

Solves a 300 x 100 problem, checks the answer against numpy.linalg.lstsq, and times the loop
beside the same loop written with numpy (benchmarks/linalg_timed.py holds the benchmark's row).
"""

import timeit

import numpy as np
import vexa
import vexa_io
import vexa_linalg as la

ITERATIONS = 60


def vexa_cgls(A, b, x, r, s, p, q, iterations=ITERATIONS):
    """x minimising ‖Ax − b‖ after `iterations` steps from x = 0; r, s, p and q are work
    vectors of A's row, column, column and row count."""
    vexa.scale(0.0, x)
    vexa.copy(b, r)
    la.gemv("T", 1.0, 0.0, A, r, s)  # s = Aᵀr
    vexa.copy(s, p)
    gamma = vexa.dot(s, s)
    for _ in range(iterations):
        if gamma == 0.0:  # converged exactly
            break
        la.gemv("N", 1.0, 0.0, A, p, q)  # q = Ap
        alpha = gamma / vexa.dot(q, q)
        vexa.axpy(alpha, p, x)
        vexa.axpy(-alpha, q, r)
        la.gemv("T", 1.0, 0.0, A, r, s)
        gamma, previous = vexa.dot(s, s), gamma
        la.axpby(1.0, s, gamma / previous, p)  # p = s + βp
    return x


def numpy_cgls(A, b, iterations=ITERATIONS):
    """The same loop with numpy arrays."""
    x = np.zeros(A.shape[1])
    r = b.copy()
    s = A.T @ r
    p = s.copy()
    gamma = s @ s
    for _ in range(iterations):
        if gamma == 0.0:
            break
        q = A @ p
        alpha = gamma / (q @ q)
        x += alpha * p
        r -= alpha * q
        s = A.T @ r
        gamma, previous = s @ s, gamma
        p = s + (gamma / previous) * p
    return x


def problem(m, n, rng):
    """A well-conditioned m x n system (Fortran order) and its right-hand side."""
    return np.asfortranarray(rng.standard_normal((m, n))), rng.standard_normal(m)


def solvers(A, b):
    """Each solver as a call without arguments returning x as a numpy array; the vexa one
    works in containers allocated once, A and b wrapped without a copy."""
    m, n = A.shape
    vA, vb = vexa_io.wrap(A, vexa.matd), vexa_io.wrap(b, vexa.vecd)
    x, s, p = (vexa.vecd(n) for _ in range(3))
    r, q = vexa.vecd(m), vexa.vecd(m)
    solution = np.asarray(vexa_io.asbuffer(x))
    return {
        "vexa": lambda: (vexa_cgls(vA, vb, x, r, s, p, q), solution)[1],
        "numpy": lambda: numpy_cgls(A, b),
    }


def main() -> None:
    A, b = problem(300, 100, np.random.default_rng(5))
    exact = np.linalg.lstsq(A, b, rcond=None)[0]
    for name, solve in solvers(A, b).items():
        error = np.linalg.norm(solve() - exact) / np.linalg.norm(exact)
        seconds = min(timeit.repeat(solve, number=20, repeat=5)) / 20
        print(f"{name:>5}: {seconds * 1e6:8.1f} µs per solve, relative error {error:.1e}")
        assert error < 1e-10


if __name__ == "__main__":
    main()
