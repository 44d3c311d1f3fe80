"""Type-checked with mypy in CI: every call here is accepted but the one
marked, which mixes kinds."""

import vexa
import vexa_io

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
vexa.dot(x, vexa.vecs(3))  # type: ignore[call-overload]
