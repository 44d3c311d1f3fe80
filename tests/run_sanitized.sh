#!/usr/bin/env bash
# Builds vexa with AddressSanitizer and UndefinedBehaviorSanitizer into its
# own virtual environment (.venv-asan) and runs the whole test suite against
# that build. Extra arguments go to pytest. Fails when pytest fails or when a
# sanitizer reports an error.
set -euo pipefail
cd "$(dirname "$0")/.."

venv=.venv-asan
# The build of tools/venv.sh, with the sanitizers, in a build tree of its
# own, keeping the symbols (install.strip=false) so that reports name
# functions.
VEXA_VENV=$venv VEXA_CMAKE_ARGS="-C cmake.define.VEXA_SANITIZE=ON -C install.strip=false" \
  bash tools/venv.sh test

reports=$(mktemp -d)
trap 'rm -rf "$reports"' EXIT
# The interpreter is not instrumented, so the runtime must be loaded first,
# before anything it intercepts; libstdc++ goes with it so that the
# interceptor of __cxa_throw finds the real function when C++ exceptions
# are first thrown.
preload="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)"
# detect_leaks=0: the interpreter keeps its allocations until exit by design.
# allocator_may_return_null=1: tests ask for containers too large to allocate
#   and expect MemoryError; ASan would otherwise abort on such a request.
# log_path: every report lands in a file, so none can go unnoticed, not even
#   one from a child process.
asan="detect_leaks=0:allocator_may_return_null=1:log_path=$reports/asan"
# Undefined behaviour aborts (-fno-sanitize-recover); show where it happened.
ubsan="print_stacktrace=1:log_path=$reports/ubsan"
# PYTHONMALLOC=malloc hands Python's own objects to the ASan allocator, so a
# Python object used after its release is caught as well.
start=$SECONDS
status=0
LD_PRELOAD="$preload" ASAN_OPTIONS="$asan" UBSAN_OPTIONS="$ubsan" PYTHONMALLOC=malloc \
  "$venv/bin/python" -m pytest "$@" || status=$?
echo "sanitized tests: $((SECONDS - start)) s"

# Reports are errors; a refused huge allocation only leaves a warning.
reported=$(cat "$reports"/* 2>/dev/null | grep -c -E "ERROR: |runtime error:" || true)
echo "sanitizer reports: $reported"
if [ "$reported" -gt 0 ]; then
  cat "$reports"/*
  exit 1
fi
exit "$status"
