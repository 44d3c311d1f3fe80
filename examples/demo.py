"""Fit a cubic to noisy samples with vexa's least-squares solver.

The data come from numpy: ``vexa_io.from_buffer`` copies the Vandermonde
matrix and the samples into vexa containers, ``ls`` solves the
least-squares problem in place, and ``vexa_io.asbuffer`` hands the
coefficients back to numpy without a copy. ``gemv`` and ``dot`` check the
fit: the residual the solver leaves in the tail of x must match the
residual of the fitted coefficients.
"""

import math

import numpy as np
import vexa
import vexa_io


def main() -> None:
    rng = np.random.default_rng(7)
    true_coefficients = np.array([1.5, -2.0, 0.5, 0.25])
    degree = len(true_coefficients) - 1
    samples = 200

    points = np.linspace(-2.0, 2.0, samples)
    vandermonde = np.vander(
        points, degree + 1, increasing=True
    )  # C order: copied into column-major
    observed = vandermonde @ true_coefficients + rng.normal(0.0, 0.1, samples)
    design = vexa_io.from_buffer(vandermonde)  # a matd
    b = vexa_io.from_buffer(observed)  # a vecd

    # ls overwrites A with its QR factorization and x with the solution,
    # so it works on copies.
    A = vexa.copy(design, vexa.matd(samples, degree + 1))
    x = vexa.copy(b, vexa.vecd(samples))
    vexa.ls(A, x)

    coefficients = x[0 : degree + 1]  # a view: shares x's storage
    tail = x[degree + 1 : samples]  # the solver's residual components
    fitted = np.asarray(vexa_io.asbuffer(coefficients))  # numpy over the same storage
    print("fitted coefficients (true values in brackets):")
    for j, (c, true) in enumerate(zip(fitted, true_coefficients, strict=True)):
        print(f"  c{j} = {c: .5f}   [{true: .2f}]")

    # residual r = A c - b, computed by gemv into a copy of b
    r = vexa.copy(b, vexa.vecd(samples))
    vexa.gemv(1.0, -1.0, design, coefficients, r)
    rss_check = vexa.dot(r, r)
    rss_solver = vexa.dot(tail, tail)
    print(f"residual sum of squares: gemv check {rss_check:.6f}, solver {rss_solver:.6f}")
    print(f"noise level estimate: {math.sqrt(rss_check / (samples - degree - 1)):.4f} (true 0.1)")
    assert math.isclose(rss_check, rss_solver, rel_tol=1e-9)
    assert np.allclose(fitted, np.linalg.lstsq(vandermonde, observed, rcond=None)[0], rtol=1e-10)
    assert np.all(np.abs(fitted - true_coefficients) < 0.05)

    print()
    print("the coefficient view, as vexa prints it:")
    print(coefficients)


if __name__ == "__main__":
    main()
