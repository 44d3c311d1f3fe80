#!/usr/bin/env bash
# Installs the wheel by each route a user may take and, from an unrelated
# directory, imports vexa and computes with it: a fresh venv, a venv with
# --system-site-packages, and pip install --target.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/venv.sh test
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tag=$(.venv/bin/python -c 'import sys; print(sys.implementation.cache_tag)')
.venv/bin/python -m pip wheel --quiet --no-build-isolation --no-deps -C "build-dir=build/$tag-venv" \
  -w "$work/dist" .
wheel=$(ls "$work"/dist/vexa-*.whl)
check='import vexa, vexa_io
A, x = vexa.matd(3, 2), vexa.vecd(3)
for i in range(3):
    A[i, 0], A[i, 1], x[i] = 1.0, float(i), 1.0 + 2.0 * i
vexa.ls(A, x)
assert abs(x[0] - 1.0) < 1e-12 and abs(x[1] - 2.0) < 1e-12, (x[0], x[1])
assert vexa.dot(vexa.scale(2.0, x[0:2]), x[0:2]) == 20.0
print("ok:", vexa.__file__)'

python3 -m venv "$work/fresh"
"$work/fresh/bin/python" -m pip install --quiet "$wheel"
(cd "$work" && "$work/fresh/bin/python" -c "$check")

python3 -m venv --system-site-packages "$work/system"
"$work/system/bin/python" -m pip install --quiet "$wheel"
(cd "$work" && "$work/system/bin/python" -c "$check")

python3 -m pip install --quiet --target "$work/target" "$wheel"
(cd "$work" && PYTHONPATH="$work/target" python3 -c "$check")
