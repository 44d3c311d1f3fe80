"""Type-checked with mypy in CI: every call here is accepted but the one
marked, which mixes kinds."""

import numpy as np
import vexa
import vexa_io
import vexa_linalg as la

# The README's tour.
samples = np.asfortranarray(np.random.rand(200, 4))
values = np.random.rand(200)
A_tour = vexa_io.wrap(samples, vexa.matd)
x_tour = vexa_io.wrap(values, vexa.vecd)
vexa.ls(A_tour, x_tour)
coef = values[:4]

x, y = vexa.vecd(3), vexa.vecd(3)
window: vexa.viewd = x[0:2]
scaled: vexa.viewd = vexa.scale(2.0, window)
total: float = vexa.dot(x, y)
same: vexa.vecd = vexa.axpy(0.5, window, y)
A = vexa.matz(2, 2)
product: vexa.matz = vexa.matmul(A, A, vexa.matz(2, 2))
column: vexa.vecz = vexa.gemv(1j, 0.0, A, vexa.vecz(2), vexa.vecz(2))
buffer: memoryview = vexa_io.asbuffer(A)
copied = vexa_io.from_buffer(buffer)
typed: vexa.matz = vexa_io.from_buffer(buffer, vexa.matz)
conjugated: vexa.vecz = la.gemv("C", 1j, 0.0, A, vexa.vecz(2), vexa.vecz(2))
first: vexa.viewz = la.column(A, 0)
norm: float = la.nrm2(first)
solved: vexa.viewd = la.trsv("U", "N", "N", vexa.matd(2, 2), window)
vexa.dot(x, vexa.vecs(3))  # type: ignore[call-overload]
