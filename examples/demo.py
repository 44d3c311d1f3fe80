"""Fit a cubic to noisy samples with vexa's least-squares solver.

Builds the Vandermonde matrix of the sample points, solves the
least-squares problem in place with ``ls``, then checks the fit with
``gemv`` and ``dot``: the residual the solver leaves in the tail of x must
match the residual of the fitted coefficients.
"""

import math
import random

import vexa


def main() -> None:
    rng = random.Random(7)
    true_coefficients = [1.5, -2.0, 0.5, 0.25]
    degree = len(true_coefficients) - 1
    samples = 200

    points = [-2.0 + 4.0 * i / (samples - 1) for i in range(samples)]
    A = vexa.matd(samples, degree + 1)
    b = vexa.vecd(samples)
    for i, t in enumerate(points):
        for j in range(degree + 1):
            A[i, j] = t**j
        clean = sum(c * t**j for j, c in enumerate(true_coefficients))
        b[i] = clean + rng.gauss(0.0, 0.1)

    # ls overwrites A with its QR factorization and b with the solution,
    # so keep copies for the check.
    design = vexa.copy(A, vexa.matd(samples, degree + 1))
    x = vexa.copy(b, vexa.vecd(samples))
    vexa.ls(A, x)

    coefficients = x[0 : degree + 1]  # a view: shares x's storage
    tail = x[degree + 1 : samples]  # the solver's residual components
    print("fitted coefficients (true values in brackets):")
    for j, c in enumerate(true_coefficients):
        print(f"  c{j} = {coefficients[j]: .5f}   [{c: .2f}]")

    # residual r = A c - b, computed by gemv into a copy of b
    r = vexa.copy(b, vexa.vecd(samples))
    vexa.gemv(1.0, -1.0, design, coefficients, r)
    rss_check = vexa.dot(r, r)
    rss_solver = vexa.dot(tail, tail)
    print(f"residual sum of squares: gemv check {rss_check:.6f}, solver {rss_solver:.6f}")
    print(f"noise level estimate: {math.sqrt(rss_check / (samples - degree - 1)):.4f} (true 0.1)")
    assert math.isclose(rss_check, rss_solver, rel_tol=1e-9)
    assert all(abs(coefficients[j] - c) < 0.05 for j, c in enumerate(true_coefficients))

    print()
    print("the coefficient view, as vexa prints it:")
    print(coefficients)


if __name__ == "__main__":
    main()
