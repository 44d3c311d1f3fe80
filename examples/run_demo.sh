#!/usr/bin/env bash
# Builds vexa into a local virtual environment and runs the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
python3 -m venv .venv
.venv/bin/python -m pip install --quiet --upgrade pip
.venv/bin/python -m pip install --quiet .
.venv/bin/python examples/demo.py
