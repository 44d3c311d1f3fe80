"""Ridge regression along a path of penalties: for a 500 x 50 design X and 20 values of λ, each
coefficient vector β solves the normal equations (XᵀX + λI) β = Xᵀy.

    .venv/bin/python examples/ridge.py

vexa forms the Gram matrix XᵀX once with syrk (its upper triangle only) and Xᵀy with gemv; for
each λ it copies the Gram matrix, adds λI and solves with posv, Cholesky factorization in place
with a condition estimate, into a column of the 50 x 20 matrix of coefficients. The result must
match numpy's; the timings set it beside numpy's fastest formulations of the same path: a solve
per λ, one batched solve of the 20 systems, and an eigendecomposition of XᵀX shared by all λ.
"""

import timeit

import numpy as np
import vexa
import vexa_io
import vexa_linalg as la

ROWS, COLUMNS = 500, 50
PENALTIES = np.logspace(-2, 3, 20)


def problem(rng, rows=ROWS, columns=COLUMNS):
    """A design with correlated columns (Fortran order) and a noisy response."""
    X = rng.standard_normal((rows, columns)) @ (np.eye(columns) + 0.3 * np.ones((columns, columns)))
    beta = rng.standard_normal(columns)
    return np.asfortranarray(X), X @ beta + rng.standard_normal(rows)


class VexaRidge:
    """The path on vexa containers allocated once; run() returns the coefficients, one column
    per λ."""

    def __init__(self, X, y, penalties=PENALTIES):
        n = X.shape[1]
        self.X, self.y = vexa_io.from_buffer(X), vexa_io.from_buffer(y)
        self.gram, self.A, self.Xty = vexa.matd(n, n), vexa.matd(n, n), vexa.vecd(n)
        self.identity = vexa_io.from_buffer(np.asfortranarray(np.eye(n)))
        self.penalties = [float(p) for p in penalties]
        self.betas = vexa.matd(n, len(self.penalties))
        self.out = np.asarray(vexa_io.asbuffer(self.betas)).reshape((n, -1), order="F")

    def run(self):
        la.syrk("U", "T", 1.0, 0.0, self.X, self.gram)  # XᵀX, upper triangle
        la.gemv("T", 1.0, 0.0, self.X, self.y, self.Xty)
        for k, penalty in enumerate(self.penalties):
            vexa.copy(self.gram, self.A)
            vexa.axpy(penalty, self.identity, self.A)  # A = XᵀX + λI
            beta = vexa.copy(self.Xty, la.column(self.betas, k))
            la.posv("U", self.A, beta)
        return self.out


def numpy_solves(X, y, penalties=PENALTIES):
    """A solve per λ."""
    gram, Xty, identity = X.T @ X, X.T @ y, np.eye(X.shape[1])
    return np.stack([np.linalg.solve(gram + p * identity, Xty) for p in penalties], axis=1)


def numpy_batched(X, y, penalties=PENALTIES):
    """All 20 systems in one batched solve."""
    gram, Xty = X.T @ X, X.T @ y
    systems = gram + penalties[:, None, None] * np.eye(X.shape[1])
    return np.linalg.solve(systems, np.broadcast_to(Xty[:, None], (len(penalties), len(Xty), 1)))[
        ..., 0
    ].T


def numpy_eigh(X, y, penalties=PENALTIES):
    """XᵀX = V diag(w) Vᵀ once; then β = V (Vᵀ Xᵀy / (w + λ)) for every λ."""
    w, V = np.linalg.eigh(X.T @ X)
    return V @ ((V.T @ (X.T @ y))[:, None] / (w[:, None] + penalties))


NUMPY = {"a solve per λ": numpy_solves, "batched solve": numpy_batched, "eigh": numpy_eigh}


def main() -> None:
    X, y = problem(np.random.default_rng(5))
    ridge = VexaRidge(X, y)
    betas = ridge.run().copy()
    for name, formulation in NUMPY.items():
        reference = formulation(X, y)
        difference = np.abs(betas - reference).max() / np.abs(reference).max()
        print(f"largest relative difference from numpy ({name}): {difference:.1e}")
        assert difference < 1e-9
    runs = {"vexa": ridge.run} | {
        f"numpy, {name}": lambda f=formulation: f(X, y) for name, formulation in NUMPY.items()
    }
    for name, run in runs.items():
        seconds = min(timeit.repeat(run, number=20, repeat=5)) / 20
        print(f"{name:>22}: {seconds * 1e6:7.1f} µs for the path of {len(PENALTIES)} penalties")


if __name__ == "__main__":
    main()
