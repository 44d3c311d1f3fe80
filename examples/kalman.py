"""A Kalman filter tracking an object that moves at nearly constant velocity in the plane,
from noisy position measurements, with vexa and vexa_linalg doing every matrix operation.

    .venv/bin/python examples/kalman.py

The state is (px, py, vx, vy); each step predicts with the motion model F and updates with a
measurement z of (px, py):

    predict   x ← F x                 P ← F P Fᵀ + Q        (gemv, gemm "N","N" and "N","T")
    update    S = H P Hᵀ + R          Kᵀ = S⁻¹ H Pᵀ         (gemm, posv: S's Cholesky factor)
              x ← x + K (z − H x)     P ← P − K (P Hᵀ)ᵀ     (gemv "T", gemm "T","T")

The measurements sit in one 2 x steps matrix; vexa_linalg.column hands each step its column
without a copy. S is 2 x 2 and symmetric positive definite: posv solves with it for the four
columns of H Pᵀ at once, and would refuse an S that rounding had made indefinite. The filter runs
beside the same filter in numpy, whose estimates it must match.
"""

import timeit

import numpy as np
import vexa
import vexa_io
import vexa_linalg as la

STEPS = 200
DT = 0.1


def model():
    """Motion model F, process noise Q, measurement model H and measurement noise R."""
    F = np.eye(4)
    F[0, 2] = F[1, 3] = DT
    G = np.array([[DT**2 / 2, 0], [0, DT**2 / 2], [DT, 0], [0, DT]])
    Q = 0.05 * G @ G.T
    H = np.eye(2, 4)
    R = 0.25 * np.eye(2)
    return F, Q, H, R


def simulate(F, Q, H, R, rng):
    """The true track and its measurements, one column per step (Fortran order)."""
    state, truth, measured = np.array([0.0, 0.0, 1.0, 0.5]), [], []
    for _ in range(STEPS):
        state = F @ state + rng.multivariate_normal(np.zeros(4), Q)
        truth.append(state)
        measured.append(H @ state + rng.multivariate_normal(np.zeros(2), R))
    return np.array(truth).T, np.asfortranarray(np.array(measured).T)


class VexaFilter:
    """The filter on vexa containers allocated once; estimates lands in a 4 x steps matrix."""

    def __init__(self, F, Q, H, R, Z):
        wrap = vexa_io.from_buffer
        self.F, self.Q, self.H, self.R, self.Z = wrap(F), wrap(Q), wrap(H), wrap(R), wrap(Z)
        self.x, self.predicted = vexa.vecd(4), vexa.vecd(4)
        self.P, self.FP = vexa.matd(4, 4), vexa.matd(4, 4)
        self.PHt, self.Kt = vexa.matd(4, 2), vexa.matd(2, 4)
        self.S = vexa.matd(2, 2)
        self.innovation = vexa.vecd(2)
        self.estimates = vexa.matd(4, Z.shape[1])

    def run(self):
        x, P = self.x, self.P
        vexa.scale(0.0, x)
        vexa.scale(0.0, P)
        for i in range(4):
            P[i, i] = 10.0
        for t in range(self.Z.dim(1)):
            la.gemv("N", 1.0, 0.0, self.F, x, self.predicted)
            la.gemm("N", "N", 1.0, 0.0, self.F, P, self.FP)
            vexa.copy(self.Q, P)
            la.gemm("N", "T", 1.0, 1.0, self.FP, self.F, P)  # P = F P Fᵀ + Q
            la.gemm("N", "T", 1.0, 0.0, P, self.H, self.PHt)
            vexa.copy(self.R, self.S)
            vexa.gemm(1.0, 1.0, self.H, self.PHt, self.S)  # S = H P Hᵀ + R
            # Kᵀ = S⁻¹ (P Hᵀ)ᵀ = S⁻¹ H Pᵀ; S receives its Cholesky factor.
            Kt = la.gemm("N", "T", 1.0, 0.0, self.H, P, self.Kt)
            la.posv("L", self.S, Kt)
            vexa.copy(la.column(self.Z, t), self.innovation)
            la.gemv("N", -1.0, 1.0, self.H, self.predicted, self.innovation)
            vexa.copy(self.predicted, x)
            la.gemv("T", 1.0, 1.0, Kt, self.innovation, x)
            la.gemm("T", "T", -1.0, 1.0, Kt, self.PHt, P)  # P = P − K H P
            vexa.copy(x, la.column(self.estimates, t))
        return np.asarray(vexa_io.asbuffer(self.estimates)).reshape((4, -1), order="F")


def numpy_filter(F, Q, H, R, Z):
    x, P, estimates = np.zeros(4), 10.0 * np.eye(4), np.empty((4, Z.shape[1]))
    for t in range(Z.shape[1]):
        x = F @ x
        P = F @ P @ F.T + Q
        PHt = P @ H.T
        S = H @ PHt + R
        K = np.linalg.solve(S, PHt.T).T
        x = x + K @ (Z[:, t] - H @ x)
        P = P - K @ PHt.T
        estimates[:, t] = x
    return estimates


def main() -> None:
    F, Q, H, R = model()
    truth, Z = simulate(F, Q, H, R, np.random.default_rng(3))
    vexa_filter = VexaFilter(F, Q, H, R, Z)
    estimates, reference = vexa_filter.run(), numpy_filter(F, Q, H, R, Z)
    difference = np.abs(estimates - reference).max()
    measured_error = np.linalg.norm(Z - truth[:2], axis=0).mean()
    filtered_error = np.linalg.norm(estimates[:2] - truth[:2], axis=0).mean()
    print(f"mean position error: measurements {measured_error:.3f}, filter {filtered_error:.3f}")
    print(f"largest difference from the numpy filter: {difference:.1e}")
    assert difference < 1e-10 and filtered_error < measured_error
    for name, run in (("vexa", vexa_filter.run), ("numpy", lambda: numpy_filter(F, Q, H, R, Z))):
        seconds = min(timeit.repeat(run, number=5, repeat=5)) / 5 / STEPS
        print(f"{name:>5}: {seconds * 1e6:6.1f} µs per step")


if __name__ == "__main__":
    main()
