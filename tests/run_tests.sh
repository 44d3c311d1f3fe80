#!/usr/bin/env bash
# Builds vexa with its test dependencies and dask into .venv (only when something
# changed since the last build) and runs the whole test suite. Extra
# arguments go to pytest.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/venv.sh test dask
.venv/bin/python -m pytest "$@"
