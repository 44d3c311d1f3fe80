#!/usr/bin/env bash
# Builds vexa, with numpy for the demo's data, into a local virtual environment
# and runs the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
python3 -m venv .venv
.venv/bin/python -m pip install --quiet --upgrade pip
.venv/bin/python -m pip install --quiet ".[demo]"
.venv/bin/python examples/demo.py
