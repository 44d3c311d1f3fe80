"""An audit of ls's verdicts against reference solutions of the rounded data.

    .venv/bin/python benchmarks/ls_audit.py [--before PYTHON] [--out FILE] [--jobs N]

Problems, the same on every run (seeded): random matrices with prescribed singular values (condition
1e2 to 1e20) of shapes 50x10, 200x50, 10x50 and 64x64, with zero and nonzero residuals, each in its
own units and rescaled by powers of ten (columns and b by 10^k with k up to 6 or 12, rows for m < n;
and the whole problem by 10^k near an end of the kind's range); structured cases (Läuchli, Kahan,
Hilbert, Vandermonde, duplicated columns, heavy rows, entries near underflow and overflow); and the
NIST StRD problems defined by formulas (Wampler1 and Wampler2, whose certified values are exact).

Each problem's reference is the least-squares (or minimum-norm) solution of the data as rounded to
the kind: the normal equations exactly, in Python integers, then solved in 120-digit decimal
arithmetic, which leaves more than 60 correct digits for every problem here. Errors are relative,
in the norm that weights each coefficient by its column's norm (the same for every choice of units).

Counts per kind and set: refused; false refusals (refused, although the solver's own answer, which
x holds after a refusal of the results, has half the kind's digits right: error <= sqrt(eps));
garbage (accepted with an error above 1, or with no unique solution at all); and verdicts that
change between the units of one problem. With --before, the same problems run in another
interpreter's vexa too (a build of the code before a change), for the before/after table.
"""

import argparse
import decimal
import hashlib
import math
import pickle
import subprocess
import tempfile
from concurrent.futures import ProcessPoolExecutor
from fractions import Fraction
from pathlib import Path

import numpy as np

RESULTS = Path(__file__).resolve().parent / "results"
DTYPES = {"s": np.float32, "d": np.float64, "c": np.complex64, "z": np.complex128}
SHAPES = [(50, 10), (200, 50), (10, 50), (64, 64)]
CONDITIONS = [10.0**e for e in range(2, 21, 2)]
RESIDUALS = [0.0, 1e-3, 1.0]  # the residual's norm over that of A z
CONTEXT = decimal.Context(prec=120, Emax=10**7, Emin=-(10**7))


class Problem:
    """One least-squares problem in one kind: a (m x n) and b, rounded to the kind; its set, the
    group of problems that differ only in units, and its name."""

    def __init__(self, kind, group, variant, name, a, b):
        self.kind, self.group, self.variant, self.name = kind, group, variant, name
        self.a = np.asfortranarray(a.astype(DTYPES[kind]))
        self.b = b.astype(DTYPES[kind])


def haar(rng, m, n, complex_kind):
    """m x n with orthonormal columns, uniformly distributed."""
    z = rng.standard_normal((m, n)) + (1j * rng.standard_normal((m, n)) if complex_kind else 0)
    q, r = np.linalg.qr(z)
    return q * (np.diag(r) / np.abs(np.diag(r)))


def random_problem(rng, kind, shape, condition, residual):
    m, n = shape
    k, complex_kind = min(m, n), kind in "cz"
    u, v = haar(rng, m, m, complex_kind), haar(rng, n, k, complex_kind)
    sigma = np.logspace(0, -math.log10(condition), k)
    a = u[:, :k] @ np.diag(sigma) @ v.conj().T
    z = rng.standard_normal(n) + (1j * rng.standard_normal(n) if complex_kind else 0)
    b = a @ z
    if residual and m > n:
        w = rng.standard_normal(m - n) + (1j * rng.standard_normal(m - n) if complex_kind else 0)
        r = u[:, n:] @ w
        b = b + r * (residual * np.linalg.norm(b) / np.linalg.norm(r))
    return a, b


def variants(rng, kind, a, b):
    """The problem in its own units; with its columns (rows, for m < n: the units that leave a
    minimum-norm solution the same) and b rescaled by powers of ten; and moved as a whole near one
    end of the kind's range, which leaves the solution as it is."""
    wide = 12 if kind in "dz" else 6
    yield "own", a, b
    if a.shape[0] >= a.shape[1]:
        columns = 10.0 ** rng.integers(-wide, wide + 1, a.shape[1])
        yield "columns", a * columns, b * 10.0 ** rng.integers(-wide, wide + 1)
    else:
        rows = 10.0 ** rng.integers(-wide, wide + 1, a.shape[0])
        yield "columns", a * rows[:, None], b * rows
    top = 290 if kind in "dz" else 30
    far = 10.0 ** (rng.choice([-1, 1]) * (top + rng.integers(0, 5)))
    yield "range", a * far, b * far


def kahan(n, theta=1.3):
    s, c = math.sin(theta), math.cos(theta)
    return np.diag(s ** np.arange(n)) @ (np.eye(n) - c * np.triu(np.ones((n, n)), 1))


def structured(rng, kind):
    """(name, a, b) of the structured cases."""
    eps = np.finfo(DTYPES[kind]).eps
    cases = []
    for delta in (0.1 * math.sqrt(eps), math.sqrt(eps), 10 * math.sqrt(eps), 1e3 * math.sqrt(eps)):
        cases.append((f"Läuchli 4, delta {delta:.1e}", np.vstack([np.ones(4), delta * np.eye(4)])))
    for n in (10, 20, 60):
        cases.append((f"Kahan {n}", kahan(n)))
    for n in (4, 6, 8, 10, 12):
        cases.append((f"Hilbert {n}", 1 / np.add.outer(np.arange(n), np.arange(n) + 1.0)))
    cases.append(("Hilbert 20x8", 1 / np.add.outer(np.arange(20), np.arange(8) + 1.0)))
    t = np.arange(21.0)
    for degree in (3, 5, 8, 10, 12):
        cases.append((f"Vandermonde t=0..20, degree {degree}", np.vander(t, degree + 1, True)))
    base = rng.standard_normal((30, 6))
    cases.append(("duplicated column", np.c_[base, base[:, 2]]))
    near = base[:, 2] * (1 + eps * rng.standard_normal(30))
    cases.append(("duplicated column, rounding apart", np.c_[base, near]))
    cases.append(("duplicated column, 1e-6 apart", np.c_[base, base[:, 2] + 1e-6 * base[:, 0]]))
    for weight in (1e3, 1e6, 1e10):
        heavy = rng.standard_normal((40, 6))
        heavy[:3] *= weight
        cases.append((f"heavy rows x{weight:.0e}", heavy))
    info = np.finfo(DTYPES[kind])
    for label, factor in (("near overflow", info.max / 64), ("near underflow", info.tiny * 64)):
        cases.append((f"{label}, 20x5", rng.standard_normal((20, 5)) * float(factor)))
    out = []
    for name, a in cases:
        m, n = a.shape
        z = rng.standard_normal(n)
        b = a @ z
        out.append((name + ", zero residual", a, b))
        if m > n:
            w = rng.standard_normal(m)
            out.append((name + ", residual", a, b + w * np.linalg.norm(b) / np.linalg.norm(w)))
    return out


def finite(kind, a, b):
    with np.errstate(over="ignore"):
        return all(np.all(np.isfinite(v.astype(DTYPES[kind]))) for v in (a, b))


def problems():
    out = []
    for kind in DTYPES:
        rng = np.random.default_rng(["sdcz".index(kind), 2026])
        for shape in SHAPES:
            for condition in CONDITIONS:
                for residual in RESIDUALS if shape[0] > shape[1] else RESIDUALS[:1]:
                    name = f"{shape[0]}x{shape[1]} cond {condition:.0e} residual {residual:g}"
                    a, b = random_problem(rng, kind, shape, condition, residual)
                    units = np.random.default_rng(rng.integers(2**32))
                    for variant, av, bv in variants(units, kind, a, b):
                        if finite(kind, av, bv):
                            out.append(Problem(kind, f"{kind} {name}", variant, name, av, bv))
        for name, a, b in structured(rng, kind):
            if kind in "cz":  # the same case turned by a phase per column, which keeps its spectrum
                a = a * np.exp(1j * rng.uniform(0, 2 * np.pi, a.shape[1]))
            units = np.random.default_rng(rng.integers(2**32))
            for variant, av, bv in list(variants(units, kind, a, b))[:2]:
                if finite(kind, av, bv):
                    group, variant = f"{kind} {name}", "structured " + variant
                    out.append(Problem(kind, group, variant, name, av, bv))
    return out


def wampler():
    """NIST StRD Wampler1 and Wampler2: y on x = 0..20 by a degree-5 polynomial, fitted by one;
    the certified coefficients are that polynomial's."""
    x = np.arange(21.0)
    a = np.vander(x, 6, True)
    for name, coefficients in (
        ("Wampler1", [1, 1, 1, 1, 1, 1]),
        ("Wampler2", [1, 0.1, 0.01, 0.001, 0.0001, 0.00001]),
    ):
        # y as the certified data gives it: exact decimals, rounded to double.
        y = [sum(Fraction(str(c)) * int(t) ** p for p, c in enumerate(coefficients)) for t in x]
        yield name, a, np.array([float(v) for v in y]), coefficients


# The reference: exact integer normal equations, solved in 250 digits.


def as_integers(values):
    """values (real or complex, any shape) as (real ints, imaginary ints, power of two d) with
    values = ints / 2^d exactly."""
    parts = [np.real(values).astype(float), np.imag(values).astype(float)]
    ratios = [[v.as_integer_ratio() for v in p.ravel().tolist()] for p in parts]
    d = max(den.bit_length() - 1 for r in ratios for _, den in r)
    ints = [
        np.array([num << (d - den.bit_length() + 1) for num, den in r], dtype=object).reshape(
            values.shape
        )
        for r in ratios
    ]
    return ints[0], ints[1], d


def solve_decimal(g, h):
    """g y = h for a Hermitian positive semidefinite g (in its real form) in CONTEXT's precision:
    g scaled to a unit diagonal, then elimination with partial pivoting. None when g is singular:
    a pivot below 1e-90, where those of the problems here are above 1e-50 (the square of the
    inverse of their column-scaled condition numbers)."""
    size = len(h)
    with decimal.localcontext(CONTEXT):
        g = np.array([[decimal.Decimal(v) for v in row] for row in g.tolist()], dtype=object)
        h = np.array([decimal.Decimal(v) for v in h.tolist()], dtype=object)
        if any(g[k, k] == 0 for k in range(size)):
            return None
        d = np.array([1 / g[k, k].sqrt() for k in range(size)], dtype=object)
        g, h = g * np.outer(d, d), h * d
        for k in range(size):
            p = k + int(np.argmax(np.abs(g[k:, k])))
            if abs(g[p, k]) <= decimal.Decimal("1e-90"):
                return None
            g[[k, p]], h[[k, p]] = g[[p, k]], h[[p, k]]
            f = g[k + 1 :, k] / g[k, k]
            g[k + 1 :, k:] -= np.outer(f, g[k, k:])
            h[k + 1 :] -= f * h[k]
        y = np.empty(size, dtype=object)
        for k in range(size - 1, -1, -1):
            y[k] = (h[k] - np.dot(g[k, k + 1 :], y[k + 1 :])) / g[k, k]
        return y * d


def reference(a, b):
    """The least-squares (m >= n) or minimum-norm (m < n) solution of the rounded data as real and
    imaginary Decimal parts, or None when it is not unique."""
    m, n = a.shape
    ar, ai, da = as_integers(a)
    br, bi, db = as_integers(b)
    if m >= n:  # (A^H A) z = A^H b, with A = M / 2^da and b = c / 2^db
        p, q = ar.T.dot(ar) + ai.T.dot(ai), ar.T.dot(ai) - ai.T.dot(ar)
        hr, hi = ar.T.dot(br) + ai.T.dot(bi), ar.T.dot(bi) - ai.T.dot(br)
        shift = da - db
    else:  # (A A^H) w = b, z = A^H w
        p, q = ar.dot(ar.T) + ai.dot(ai.T), ai.dot(ar.T) - ar.dot(ai.T)
        hr, hi = br, bi
    size = p.shape[0]
    g = np.block([[p, -q], [q, p]]) if np.any(ai) or np.any(bi) else p
    h = np.concatenate([hr, hi]) if g.shape[0] > size else hr
    y = solve_decimal(g, h)
    if y is None:
        return None
    yr, yi = (y[:size], y[size:]) if len(y) > size else (y, np.zeros(size, dtype=object))
    with decimal.localcontext(CONTEXT):
        if m >= n:
            factor = decimal.Decimal(2) ** shift
            return [v * factor for v in yr], [v * factor for v in yi]
        # w = y * 2^(2 da - db); z = A^H w = M^H y * 2^(da - db)
        factor = decimal.Decimal(2) ** (da - db)
        zr = [sum(ar[i, j] * yr[i] + ai[i, j] * yi[i] for i in range(m)) * factor for j in range(n)]
        zi = [sum(ar[i, j] * yi[i] - ai[i, j] * yr[i] for i in range(m)) * factor for j in range(n)]
        return zr, zi


def weighted_error(a, x, ref):
    """||W (x - ref)|| / ||W ref|| with W the column norms of a, in decimal."""
    with decimal.localcontext(CONTEXT):
        num = den = decimal.Decimal(0)
        for j in range(a.shape[1]):
            column = a[:, j].astype(complex)
            weight = sum(decimal.Decimal(float(v)) ** 2 for v in np.abs(column).tolist())
            xr, xi = decimal.Decimal(float(np.real(x[j]))), decimal.Decimal(float(np.imag(x[j])))
            num += weight * ((xr - ref[0][j]) ** 2 + (xi - ref[1][j]) ** 2)
            den += weight * (ref[0][j] ** 2 + ref[1][j] ** 2)
        return float((num / den).sqrt()) if den else (0.0 if num == 0 else math.inf)


def references(audit, jobs):
    """The problems' references, kept in the temporary folder by a digest of each problem, so that
    a second run (another build) computes only those of problems it has not seen."""
    kept = Path(tempfile.gettempdir()) / "vexa-ls-audit-references.pickle"
    known = pickle.loads(kept.read_bytes()) if kept.exists() else {}
    keys = [
        hashlib.sha256(p.a.tobytes(order="F") + p.b.tobytes() + str(p.a.shape).encode()).hexdigest()
        for p in audit
    ]
    missing = [i for i, key in enumerate(keys) if key not in known]
    with ProcessPoolExecutor(jobs) as pool:
        found = pool.map(reference, [audit[i].a for i in missing], [audit[i].b for i in missing])
        for i, ref in zip(missing, found, strict=True):
            known[keys[i]] = ref
    kept.write_bytes(pickle.dumps(known))
    return [known[key] for key in keys]


def run_ls(cases):
    """In the interpreter whose vexa is audited: each problem's text of refusal (None when solved)
    and x as ls left it."""
    import vexa
    import vexa_io

    out = []
    for a, b in cases:
        m, n = a.shape
        x = np.zeros(max(m, n), a.dtype)
        x[:m] = b
        A, X = vexa_io.from_buffer(np.asfortranarray(a)), vexa_io.from_buffer(x)
        try:
            vexa.ls(A, X)
            text = None
        except RuntimeError as error:
            text = str(error)
        out.append((text, np.array(vexa_io.asbuffer(X))[:n].copy()))
    return out


def verdicts(python, cases):
    if python is None:
        return run_ls(cases)
    with tempfile.TemporaryDirectory() as folder:
        given, taken = Path(folder) / "in.pickle", Path(folder) / "out.pickle"
        given.write_bytes(pickle.dumps(cases))
        subprocess.run([python, __file__, "--solve", str(given), str(taken)], check=True)
        return pickle.loads(taken.read_bytes())


def judged(problem, ref, outcome):
    """(refused, false refusal, garbage, error) of one outcome."""
    text, x = outcome
    eps = np.finfo(DTYPES[problem.kind]).eps
    refused = text is not None
    # After a refusal of the results x holds the solver's solution; not after a zero pivot or a
    # refusal before the solve.
    answered = not refused or not ("is zero;" in text or "contains" in text)
    if ref is None:
        return refused, False, not refused, math.inf
    error = weighted_error(problem.a, x, ref) if answered else math.inf
    return refused, refused and error <= math.sqrt(eps), not refused and error > 1, error


def table(rows, builds):
    head = "| kind | set | problems | " + " | ".join(
        f"{b}: refused / false / garbage / units changed" for b in builds
    )
    lines = [head, "|" + "---|" * (3 + len(builds))]
    for key in sorted(rows, key=lambda k: ("sdcz".index(k[0]), k[1])):
        count = rows[key]["count"]
        cells = [
            f"{rows[key][b]['refused']} / {rows[key][b]['false']} / {rows[key][b]['garbage']}"
            f" / {rows[key][b]['changed']}"
            for b in builds
        ]
        lines.append(f"| {key[0]} | {key[1]} | {count} | " + " | ".join(cells) + " |")
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--before", help="the interpreter of the build before the change")
    parser.add_argument("--out", default=str(RESULTS / "ls_audit.md"))
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--solve", nargs=2, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.solve:
        given, taken = (Path(p) for p in args.solve)
        taken.write_bytes(pickle.dumps(run_ls(pickle.loads(given.read_bytes()))))
        return
    with np.errstate(over="ignore", under="ignore", invalid="ignore"):
        audit = problems()
    cases = [(p.a, p.b) for p in audit]
    refs = references(audit, args.jobs)
    builds = {"after": verdicts(None, cases)}
    if args.before:
        builds = {"before": verdicts(args.before, cases), **builds}
    rows, groups, worst = {}, {}, {}
    for i, problem in enumerate(audit):
        kind_set = "random" if not problem.variant.startswith("structured") else "structured"
        units = "own units" if problem.variant.endswith("own") else "rescaled"
        key = (problem.kind, f"{kind_set}, {units}")
        row = rows.setdefault(key, {"count": 0})
        row["count"] += 1
        for build, outcomes in builds.items():
            refused, false, garbage, error = judged(problem, refs[i], outcomes[i])
            cell = row.setdefault(build, {"refused": 0, "false": 0, "garbage": 0, "changed": 0})
            cell["refused"] += refused
            cell["false"] += false
            cell["garbage"] += garbage
            groups.setdefault((build, problem.group), []).append((key, refused))
            if garbage or false:
                worst.setdefault(build, []).append(
                    f"{problem.kind} {problem.name} ({problem.variant}):"
                    f" {'refused' if refused else 'accepted'}, error {error:.3g}"
                )
    for (build, _), members in groups.items():
        if len({refused for _, refused in members}) > 1:
            for key, _ in members:
                if key[1].endswith("rescaled"):
                    rows[key][build]["changed"] += 1
    lines = [
        "# ls audit",
        "",
        "Generated by `benchmarks/ls_audit.py` (see its docstring): counts per kind and set of",
        "problems refused, false refusals (the solver's answer had half the kind's digits right),",
        "garbage (accepted with a column-weighted relative error above 1, or without a unique",
        "solution), and rescaled problems whose verdict differs from another variant's.",
        "",
        table(rows, list(builds)),
        "",
    ]
    for build, found in worst.items():
        lines += [f"False refusals and garbage, {build}:", ""] + [f"- {w}" for w in found] + [""]
    lines += ["## NIST StRD, formula-defined problems", ""]
    lines += ["| problem | kind | verdict | digits of the certified values (LRE) |"]
    lines += ["|---|---|---|---|"]
    strd = [(name, a, y, c) for name, a, y, c in wampler()]
    for kind in DTYPES:
        cases = [(a.astype(DTYPES[kind]), y.astype(DTYPES[kind])) for _, a, y, _ in strd]
        outcomes = verdicts(None, cases)
        for (name, _, _, certified), (text, x) in zip(strd, outcomes, strict=True):
            lre = min(
                -math.log10(max(abs(complex(v) - c) / abs(c), 1e-17))
                for v, c in zip(x, certified, strict=True)
            )
            verdict = "solved" if text is None else "refused: " + text.split(":")[0]
            lines.append(f"| {name} | {kind} | {verdict} | {lre:.1f} |")
    Path(args.out).write_text("\n".join(lines) + "\n")
    print("\n".join(lines))


if __name__ == "__main__":
    main()
