#!/usr/bin/env bash
# The stubs against the built modules (stubtest), and a typed example that
# mypy must accept except for the one call marked as an error.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/venv.sh test dask
.venv/bin/python -m pip install --quiet --group typing
# From elsewhere, so that the modules and stubs come from site-packages.
(cd /tmp && "$OLDPWD/.venv/bin/python" -m mypy.stubtest --allowlist "$OLDPWD/stubs/stubtest-allowlist.txt" vexa vexa_io vexa_linalg vexa_dask)
# --warn-unused-ignores: an ignore on a call that mypy accepts is an error,
# so the marked call must be rejected.
.venv/bin/python -m mypy --strict --warn-unused-ignores tests/typing/typed_example.py
