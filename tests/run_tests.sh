#!/usr/bin/env bash
# Builds vexa with its test dependencies into a local virtual environment
# and runs the whole test suite. Extra arguments go to pytest.
set -euo pipefail
cd "$(dirname "$0")/.."
python3 -m venv .venv
.venv/bin/python -m pip install --quiet --upgrade pip
.venv/bin/python -m pip install --quiet ".[test]"
.venv/bin/python -m pytest "$@"
