#!/usr/bin/env bash
# Builds vexa, with numpy for the demo's data, into .venv (only when something
# changed since the last build) and runs the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/venv.sh demo
.venv/bin/python examples/demo.py
